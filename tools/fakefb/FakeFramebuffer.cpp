// A framebuffer device for machines that have none, so that the app can run
// under Qt's linuxfb platform plugin on a build machine or in CI (a panel
// PC has a real /dev/fb0). Preloaded into the app:
//
//   FAKEFB_FILE=/tmp/fb.raw FAKEFB_SIZE=320x480 LD_PRELOAD=build/tools/fakefb/libfakefb.so
//   QT_QPA_PLATFORM=linuxfb:fb=/dev/fb0 build/app/fieldmon      (one command line)
//
// Opening /dev/fb0 (or asking whether one may) opens FAKEFB_FILE instead
// (made and sized here), and the framebuffer ioctls on it describe a 32-bit
// true-colour screen of FAKEFB_SIZE. Qt maps the file and draws into it, so the file always holds
// what the screen shows (rows of 0xAARRGGBB pixels, little-endian).
// Everything else passes through to the C library.
//
// Thread rule: any thread; the one descriptor is an atomic.

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<int> fbFd{-1};

bool isFramebuffer(const char* path)
{
    return path && std::strncmp(path, "/dev/fb", 7) == 0 && std::getenv("FAKEFB_FILE");
}

void screenSize(unsigned& width, unsigned& height)
{
    width = 320;
    height = 480;
    if (const char* size = std::getenv("FAKEFB_SIZE"))
        std::sscanf(size, "%ux%u", &width, &height);
}

template <class Fn>
Fn next(const char* name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

int openFramebuffer()
{
    unsigned width, height;
    screenSize(width, height);
    using OpenFn = int (*)(const char*, int, ...);
    int fd = next<OpenFn>("open")(std::getenv("FAKEFB_FILE"), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return fd;
    if (ftruncate(fd, static_cast<off_t>(width) * height * 4) != 0) {
        close(fd);
        return -1;
    }
    fbFd = fd;
    return fd;
}

int describe(unsigned long request, void* arg)
{
    unsigned width, height;
    screenSize(width, height);
    switch (request) {
    case FBIOGET_FSCREENINFO: {
        auto* fix = static_cast<fb_fix_screeninfo*>(arg);
        std::memset(fix, 0, sizeof *fix);
        std::strncpy(fix->id, "fakefb", sizeof fix->id - 1);
        fix->smem_len = width * height * 4;
        fix->type = FB_TYPE_PACKED_PIXELS;
        fix->visual = FB_VISUAL_TRUECOLOR;
        fix->line_length = width * 4;
        return 0;
    }
    case FBIOGET_VSCREENINFO: {
        auto* var = static_cast<fb_var_screeninfo*>(arg);
        std::memset(var, 0, sizeof *var);
        var->xres = var->xres_virtual = width;
        var->yres = var->yres_virtual = height;
        var->bits_per_pixel = 32;
        var->red = {16, 8, 0};
        var->green = {8, 8, 0};
        var->blue = {0, 8, 0};
        var->width = width * 254 / 1630; // about 163 dots per inch, a phone's
        var->height = height * 254 / 1630;
        return 0;
    }
    case FBIOPUT_VSCREENINFO:
    case FBIOPAN_DISPLAY:
    case FBIOBLANK:
        return 0;
    default:
        errno = EINVAL;
        return -1;
    }
}

} // namespace

extern "C" {

int open(const char* path, int flags, ...)
{
    if (isFramebuffer(path))
        return openFramebuffer();
    va_list args;
    va_start(args, flags);
    mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
    va_end(args);
    using OpenFn = int (*)(const char*, int, ...);
    static OpenFn real = next<OpenFn>("open");
    return real(path, flags, mode);
}

int open64(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
    va_end(args);
    return open(path, flags, mode);
}

int __open_2(const char* path, int flags)
{
    return open(path, flags);
}

int __open64_2(const char* path, int flags)
{
    return open(path, flags);
}

// Qt asks whether it may read and write the device before it opens it.
int access(const char* path, int mode)
{
    if (isFramebuffer(path))
        return 0;
    using AccessFn = int (*)(const char*, int);
    static AccessFn real = next<AccessFn>("access");
    return real(path, mode);
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (fd >= 0 && fd == fbFd.load())
        return describe(request, arg);
    using IoctlFn = int (*)(int, unsigned long, ...);
    static IoctlFn real = next<IoctlFn>("ioctl");
    return real(fd, request, arg);
}

int close(int fd)
{
    int expected = fd;
    fbFd.compare_exchange_strong(expected, -1);
    using CloseFn = int (*)(int);
    static CloseFn real = next<CloseFn>("close");
    return real(fd);
}

} // extern "C"
