#!/usr/bin/env python3
"""Other screens: fieldmon under Qt's vnc and linuxfb platform plugins (a
remote screen, a technician's panel PC), each with an automation screenshot
set beside what the screen itself shows.

usage: bench/app/screens.py [--out DIR]

vnc: the app serves its screen on port 5907 of the private network; a small
RFB client here reads the framebuffer. linuxfb: the app draws into a
framebuffer device; where the machine has none (a build machine, CI) it gets
tools/fakefb, a file that stands in for /dev/fb0. Pictures go to DIR
(default screens-out/): <platform>-automation.png and <platform>-screen.png.
Exit status 0 when both platforms showed the device list and the two
pictures of each agree; 77 without a private network (user namespaces
forbidden and not root).
"""

import argparse
import os
import socket
import struct
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import devices  # noqa: E402
import harness  # noqa: E402
import pngfile  # noqa: E402

WIDTH, HEIGHT = 320, 480
VNC_PORT = 5907
FAKEFB = os.path.join(harness.BUILD, "tools", "fakefb", "libfakefb.so")


def recv_exactly(sock, n):
    data = b""
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            raise ConnectionError("the VNC server closed the connection")
        data += chunk
    return data


def vnc_frame(port):
    """The whole framebuffer of an RFB server without a password, as rows of
    (r, g, b)."""
    sock = socket.create_connection(("127.0.0.1", port), timeout=10)
    try:
        version = recv_exactly(sock, 12)
        minor = int(version[8:11])
        sock.sendall(b"RFB 003.008\n" if minor >= 8 else version)
        if minor >= 7:
            kinds = recv_exactly(sock, recv_exactly(sock, 1)[0])
            if 1 not in kinds:
                raise ConnectionError(f"the server wants authentication ({list(kinds)})")
            sock.sendall(b"\x01")
            if minor >= 8 and struct.unpack(">I", recv_exactly(sock, 4))[0] != 0:
                raise ConnectionError("the server refused the connection")
        elif struct.unpack(">I", recv_exactly(sock, 4))[0] != 1:
            raise ConnectionError("the server wants authentication")
        sock.sendall(b"\x01")  # shared
        width, height = struct.unpack(">HH", recv_exactly(sock, 4))
        recv_exactly(sock, 16)
        recv_exactly(sock, struct.unpack(">I", recv_exactly(sock, 4))[0])
        # 32 bits a pixel, little-endian, red in bits 16-23: bytes B, G, R, x.
        sock.sendall(struct.pack(">B3xBBBBHHHBBB3x", 0, 32, 24, 0, 1, 255, 255, 255, 16, 8, 0))
        sock.sendall(struct.pack(">BxHi", 2, 1, 0))  # raw encoding only
        sock.sendall(struct.pack(">BBHHHH", 3, 0, 0, 0, width, height))
        pixels = bytearray(width * height * 4)
        while True:
            kind = recv_exactly(sock, 1)[0]
            if kind != 0:
                raise ConnectionError(f"unexpected server message {kind}")
            _, count = struct.unpack(">BH", recv_exactly(sock, 3))
            for _ in range(count):
                x, y, w, h, encoding = struct.unpack(">HHHHi", recv_exactly(sock, 12))
                if encoding != 0:
                    raise ConnectionError(f"unexpected encoding {encoding}")
                data = recv_exactly(sock, w * h * 4)
                for row in range(h):
                    start = ((y + row) * width + x) * 4
                    pixels[start:start + w * 4] = data[row * w * 4:(row + 1) * w * 4]
            return width, height, bgrx_rows(pixels, width, height)
    finally:
        sock.close()


def bgrx_rows(pixels, width, height):
    return [[(pixels[i + 2], pixels[i + 1], pixels[i]) for i in range(y * width * 4, (y + 1) * width * 4, 4)]
            for y in range(height)]


def show_list(app, count):
    app.client.wait_until(lambda _: app.row_count() >= count, timeout=30, what="the device list")
    app.ok("wait", ms=800)


def check(name, out, automation_png, screen):
    width, height, rows = screen
    screen_png = os.path.join(out, f"{name}-screen.png")
    pngfile.write(screen_png, width, height, rows)
    share = pngfile.same_share(pngfile.read(automation_png), screen)
    colours = len({px for row in rows for px in row[::4]})
    ok = share >= 0.99 and colours > 4
    print(f"  {name}: {width} x {height}, {colours} colours on the screen, {100 * share:.1f} % of pixels as in the "
          f"automation screenshot  [{os.path.basename(screen_png)}]  {'ok' if ok else 'MISMATCH'}", flush=True)
    return ok


def run_vnc(out, count):
    app = harness.App(extra_env={"QT_QPA_PLATFORM": f"vnc:size={WIDTH}x{HEIGHT}:port={VNC_PORT}"})
    try:
        show_list(app, count)
        shot = os.path.join(out, "vnc-automation.png")
        app.ok("screenshot", path=shot)
        return check("vnc", out, shot, vnc_frame(VNC_PORT))
    finally:
        app.quit()


def run_linuxfb(out, count):
    raw = os.path.join(out, "linuxfb.raw")
    env = {"QT_QPA_PLATFORM": "linuxfb:fb=/dev/fb0:nographicsmodeswitch", "QT_QPA_FB_HIDECURSOR": "1",
           "QT_QPA_FB_DISABLE_INPUT": "1", "QT_QPA_EVDEV_DISABLE": "1",
           "FAKEFB_FILE": raw, "FAKEFB_SIZE": f"{WIDTH}x{HEIGHT}", "LD_PRELOAD": FAKEFB}
    app = harness.App(extra_env=env)
    try:
        show_list(app, count)
        shot = os.path.join(out, "linuxfb-automation.png")
        app.ok("screenshot", path=shot)
        with open(raw, "rb") as f:
            pixels = f.read()
        return check("linuxfb", out, shot, (WIDTH, HEIGHT, bgrx_rows(pixels, WIDTH, HEIGHT)))
    finally:
        app.quit()
        if os.path.exists(raw):
            os.unlink(raw)


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--out", default=os.path.join(harness.SOURCE, "screens-out"))
    p.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    args = p.parse_args()
    count = 3
    if not args.inside:
        os.makedirs(args.out, exist_ok=True)
        folder = tempfile.mkdtemp(prefix="fieldmon-screens-")
        paths = devices.write(folder, count)
        status = harness.run_in_netns(paths, "/dev/null", [sys.executable, os.path.abspath(__file__),
                                                           "--out", os.path.abspath(args.out), "--inside"])
        import shutil
        shutil.rmtree(folder, ignore_errors=True)
        return status
    print("fieldmon on other screens:", flush=True)
    ok = True
    for name, run in (("vnc", run_vnc), ("linuxfb", run_linuxfb)):
        try:
            ok = run(args.out, count) and ok
        except Exception as e:  # a plugin that is missing or fails to start
            print(f"  {name}: {type(e).__name__}: {e}", flush=True)
            ok = False
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
