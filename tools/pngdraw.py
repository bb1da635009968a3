"""What the picture scripts in tools/ share: a PNG writer (plain Python,
zlib) and 4x4 supersampling of a shape given as a colour per point."""
import struct
import zlib


def write_png(path, width, height, pixel):
    """Writes an 8-bit RGBA PNG; pixel(x, y) gives the (r, g, b, a) bytes."""
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            rows.extend(pixel(x, y))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(rows), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def supersample(shade, x, y, n=4):
    """The pixel (x, y): shade(px, py) -> (r, g, b, a) in 0..1, averaged over
    n x n points inside it (colours weighted by their cover)."""
    acc = [0.0, 0.0, 0.0, 0.0]
    for i in range(n):
        for j in range(n):
            r, g, b, a = shade(x + (i + 0.5) / n, y + (j + 0.5) / n)
            acc[0] += r * a
            acc[1] += g * a
            acc[2] += b * a
            acc[3] += a
    a = acc[3] / (n * n)
    if a == 0:
        return (0, 0, 0, 0)
    return tuple(int(round(c / acc[3] * 255)) for c in acc[:3]) + (int(round(a * 255)),)
