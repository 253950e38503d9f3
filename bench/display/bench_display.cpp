// Whole-display refresh of an autoscaled 640x480 display into a 1280x960
// window on a private Xvfb, nearest and smooth, against pixman scaling the
// same picture plus XPutImage + XSync (target: at most 1.1 times).
#include <X11/Xlib.h>
#include <pixman.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "display/qx_bgpic.h"
#include "display/qx_displaycmds.h"
#include "platform/qx_hooks.h"
#include "platform/qx_libimports.h"
#include "platform/x11/x11_display.h"
#include "xserver.h"

namespace {

constexpr int kW = 640, kH = 480, kSW = 1280, kSH = 960;

double refreshProgram(qxDisplay *d, int frames)
{
    Display *dpy = x11Data(d)->display;
    double start = qxGetSeconds();
    for (int i = 0; i < frames; i++) {
        qxRefreshWholeDisplay(d, 0);
        XSync(dpy, False);
    }
    return (qxGetSeconds() - start) * 1000 / frames;
}

double refreshPeer(Display *dpy, Window win, const std::vector<uint32_t> &src, bool smooth,
                   int frames)
{
    std::vector<uint32_t> dst((size_t)kSW * kSH);
    pixman_image_t *s = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH,
                                                 const_cast<uint32_t *>(src.data()), kW * 4);
    pixman_image_t *t = pixman_image_create_bits(PIXMAN_a8r8g8b8, kSW, kSH, dst.data(), kSW * 4);
    pixman_transform_t tr;
    pixman_transform_init_scale(&tr, pixman_double_to_fixed((double)kW / kSW),
                                pixman_double_to_fixed((double)kH / kSH));
    pixman_image_set_transform(s, &tr);
    pixman_image_set_filter(s, smooth ? PIXMAN_FILTER_BILINEAR : PIXMAN_FILTER_NEAREST, nullptr, 0);
    GC gc = XCreateGC(dpy, win, 0, nullptr);
    XImage *image = XCreateImage(dpy, DefaultVisual(dpy, DefaultScreen(dpy)),
                                 (unsigned)DefaultDepth(dpy, DefaultScreen(dpy)), ZPixmap, 0,
                                 reinterpret_cast<char *>(dst.data()), kSW, kSH, 32, kSW * 4);
    double start = qxGetSeconds();
    for (int i = 0; i < frames; i++) {
        pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, t, 0, 0, 0, 0, 0, 0, kSW, kSH);
        XPutImage(dpy, win, gc, image, 0, 0, 0, 0, kSW, kSH);
        XSync(dpy, False);
    }
    double ms = (qxGetSeconds() - start) * 1000 / frames;
    image->data = nullptr;
    XDestroyImage(image);
    XFreeGC(dpy, gc);
    pixman_image_unref(s);
    pixman_image_unref(t);
    return ms;
}

} // namespace

int main()
{
    XServer server;
    x11NoMouseHook = 1;
    qxImportLibraries();
    if (!server.startXvfb(24, false, "1920x1080")) {
        std::puts("bench_display: Xvfb did not start");
        return 1;
    }
    std::snprintf(x11DefaultServer, sizeof x11DefaultServer, "%s", server.name().c_str());
    qxInitDisplays();
    qxDisplay *d = nullptr;
    if (qxCreateDisplayRecord(nullptr, 1, 0, 0, &d)) {
        std::puts("bench_display: no display");
        return 1;
    }
    // A picture with detail, so that smooth scaling has work to do.
    std::vector<uint32_t> picture((size_t)kW * kH);
    for (int y = 0; y < kH; y++)
        for (int x = 0; x < kW; x++)
            picture[(size_t)y * kW + x] = 0xFF000000u | (uint32_t)((x * 7) & 255) << 16 |
                                          (uint32_t)((y * 5) & 255) << 8 | (uint32_t)((x ^ y) & 255);
    qxBitMapLock lock;
    qxLockBitMap(d->bgpic->bitmap, 0, &lock);
    for (int y = 0; y < kH; y++)
        std::copy_n(&picture[(size_t)y * kW], kW,
                    static_cast<uint32_t *>(lock.pixels) + (size_t)y * lock.pixelsPerRow);
    qxUnLockBitMap(&lock);
    d->autoScale = 1;
    d->flags |= QX_DISP_AUTOSCALE;
    qxLetterbox(d, kSW, kSH, kW, kH);
    d->width = kSW;
    d->height = kSH;
    if (qxRealiseDisplay(d, 0)) {
        std::puts("bench_display: the window did not open");
        return 1;
    }
    Display *bare = XOpenDisplay(server.name().c_str());
    Window win = XCreateSimpleWindow(bare, DefaultRootWindow(bare), 0, 0, kSW, kSH, 0, 0, 0);
    XMapWindow(bare, win);
    XSync(bare, False);
    const int frames = 60;
    for (bool smooth : {false, true}) {
        d->flags = smooth ? d->flags | QX_DISP_SMOOTHSCALE : d->flags & ~QX_DISP_SMOOTHSCALE;
        double ours = 1e9, peer = 1e9;
        for (int round = 0; round < 3; round++) {
            peer = std::min(peer, refreshPeer(bare, win, picture, smooth, frames));
            ours = std::min(ours, refreshProgram(d, frames));
        }
        std::printf("autoscaled refresh %dx%d -> %dx%d %s: %.3f ms, pixman + XPutImage %.3f ms "
                    "(ratio %.2f, target <= 1.10)\n",
                    kW, kH, kSW, kSH, smooth ? "smooth" : "nearest", ours, peer, ours / peer);
    }
    XDestroyWindow(bare, win);
    XCloseDisplay(bare);
    return 0;
}
