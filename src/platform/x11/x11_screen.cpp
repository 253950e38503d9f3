// The screen behind the windows: monitors and modes through Xrandr 1.3 or
// XF86VidMode, switching into a mode and back, the screen saver, and
// grabbing screen pixels.
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/scrnsaver.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/qx_errcodes.h"
#include "platform/qx_libimports.h"
#include "platform/qx_upcalls.h"
#include "platform/x11/x11_display.h"

namespace {

template <typename F> F imported(qxImportFunc f) { return reinterpret_cast<F>(f); }

#define RR(name) imported<decltype(&::name)>(qxLibImports.name)

x11Connection *connectionOf(qxDisplay *display)
{
    if (x11DisplayData *x = x11Data(display); x && x->conn)
        return x->conn;
    x11Connection *c = nullptr;
    if (x11OpenConnection(display ? display->xServer : nullptr, &c))
        return nullptr;
    return c;
}

uint32_t rateOf(const XRRModeInfo &m)
{
    if (!m.hTotal || !m.vTotal)
        return 0;
    return (uint32_t)std::lround((double)m.dotClock / ((double)m.hTotal * m.vTotal));
}

// Visits the modes of the output of the CRTC at the monitor index.
template <typename F> int forEachRandrMode(x11Connection *c, uint32_t monitor, F f)
{
    XRRScreenResources *res = RR(XRRGetScreenResources)(c->display, c->root);
    if (!res)
        return 0;
    int count = 0;
    if (monitor < (uint32_t)res->ncrtc) {
        XRRCrtcInfo *crtc = RR(XRRGetCrtcInfo)(c->display, res, res->crtcs[monitor]);
        if (crtc && crtc->noutput > 0) {
            XRROutputInfo *out = RR(XRRGetOutputInfo)(c->display, res, crtc->outputs[0]);
            if (out) {
                count = out->nmode;
                for (int i = 0; i < out->nmode; i++)
                    for (int k = 0; k < res->nmode; k++)
                        if (res->modes[k].id == out->modes[i])
                            f(res->modes[k], res->modes[k].id == crtc->mode);
                RR(XRRFreeOutputInfo)(out);
            }
        }
        if (crtc)
            RR(XRRFreeCrtcInfo)(crtc);
    }
    RR(XRRFreeScreenResources)(res);
    return count;
}

int vidModeLines(x11Connection *c, XF86VidModeModeInfo ***lines)
{
    int n = 0;
    *lines = nullptr;
    auto get = imported<Bool (*)(Display *, int, int *, XF86VidModeModeInfo ***)>(
        qxLibImports.XF86VidModeGetAllModeLines);
    if (!get(c->display, (int)c->screen, &n, lines) || !*lines)
        return 0;
    return n;
}

// A mode switch changes the monitors: a list held for an operation is
// read again.
void forgetHeldMonitors(x11Connection *c)
{
    x11FreeMonitors(c->heldMonitors);
    c->heldMonitors = nullptr;
}

void switchVidMode(x11Connection *c, XF86VidModeModeInfo *mode)
{
    forgetHeldMonitors(c);
    imported<Bool (*)(Display *, int, XF86VidModeModeInfo *)>(qxLibImports.XF86VidModeSwitchToMode)(
        c->display, (int)c->screen, mode);
    imported<Bool (*)(Display *, int, int, int)>(qxLibImports.XF86VidModeSetViewPort)(
        c->display, (int)c->screen, 0, 0);
    XFlush(c->display);
}

} // namespace

extern "C" {

int x11HasRandr13(x11Connection *c)
{
    if (!c->randr13) {
        int ev = 0, err = 0, major = 0, minor = 0;
        bool ok = qxLibImports.xrandrAvailable && RR(XRRQueryExtension)(c->display, &ev, &err) &&
                  RR(XRRQueryVersion)(c->display, &major, &minor) &&
                  (major > 1 || (major == 1 && minor >= 3));
        c->randr13 = ok ? 1 : 2;
    }
    return c->randr13 == 1;
}

int x11HasVidModeExt(x11Connection *c)
{
    if (!c->vidMode) {
        int ev = 0, err = 0;
        bool ok = qxLibraryComplete(QX_LIB_XVIDMODE) &&
                  imported<Bool (*)(Display *, int *, int *)>(
                      qxLibImports.XF86VidModeQueryExtension)(c->display, &ev, &err);
        c->vidMode = ok ? 1 : 2;
    }
    return c->vidMode == 1;
}

void x11FreeMonitors(x11Monitor *list)
{
    while (list) {
        x11Monitor *next = list->next;
        std::free(list);
        list = next;
    }
}

namespace {

x11Monitor *copyMonitors(const x11Monitor *list)
{
    x11Monitor *head = nullptr, **tail = &head;
    for (; list; list = list->next) {
        auto *node = static_cast<x11Monitor *>(std::malloc(sizeof(x11Monitor)));
        if (!node) {
            x11FreeMonitors(head);
            return nullptr;
        }
        *node = *list;
        node->next = nullptr;
        *tail = node;
        tail = &node->next;
    }
    return head;
}

x11Monitor *readMonitors(x11Connection *c);

} // namespace

void x11HoldMonitors(x11Connection *c, int hold)
{
    if (!c)
        return;
    c->monitorsHeld = hold ? 1 : 0;
    if (!hold)
        forgetHeldMonitors(c);
}

x11Monitor *x11GetMonitors(qxDisplay *display)
{
    x11Connection *c = connectionOf(display);
    if (!c)
        return nullptr;
    if (!c->monitorsHeld)
        return readMonitors(c);
    if (!c->heldMonitors)
        c->heldMonitors = readMonitors(c);
    return copyMonitors(c->heldMonitors);
}

} // extern "C"

namespace {

x11Monitor *readMonitors(x11Connection *c)
{
    x11Monitor *head = nullptr, **tail = &head;
    if (x11HasRandr13(c)) {
        XRRScreenResources *res = RR(XRRGetScreenResourcesCurrent)(c->display, c->root);
        bool failed = false;
        for (int i = 0; res && i < res->noutput && !failed; i++) {
            XRROutputInfo *out = RR(XRRGetOutputInfo)(c->display, res, res->outputs[i]);
            if (!out)
                continue;
            if (out->connection != RR_Disconnected && out->crtc) {
                if (XRRCrtcInfo *crtc = RR(XRRGetCrtcInfo)(c->display, res, out->crtc)) {
                    auto *node = static_cast<x11Monitor *>(std::calloc(1, sizeof(x11Monitor)));
                    if (node) {
                        *node = {nullptr, (uint32_t)crtc->x, (uint32_t)crtc->y, crtc->width,
                                 crtc->height};
                        *tail = node;
                        tail = &node->next;
                    } else {
                        failed = true;
                    }
                    RR(XRRFreeCrtcInfo)(crtc);
                }
            }
            RR(XRRFreeOutputInfo)(out);
        }
        if (res)
            RR(XRRFreeScreenResources)(res);
        if (failed) {
            x11FreeMonitors(head);
            return nullptr;
        }
        if (head)
            return head;
    }
    auto *node = static_cast<x11Monitor *>(std::calloc(1, sizeof(x11Monitor)));
    if (node) {
        node->width = (uint32_t)DisplayWidth(c->display, (int)c->screen);
        node->height = (uint32_t)DisplayHeight(c->display, (int)c->screen);
    }
    return node;
}

} // namespace

extern "C" {

int x11AddScreenMode(x11ScreenMode *modes, int count, const x11ScreenMode &mode)
{
    for (int i = 0; i < count; i++) {
        if (modes[i].width == mode.width && modes[i].height == mode.height) {
            if (std::abs(60 - (int)mode.refresh) < std::abs(60 - (int)modes[i].refresh))
                modes[i] = mode;
            return count;
        }
    }
    modes[count] = mode;
    return count + 1;
}

int x11ChooseMode(const x11ScreenMode *modes, int count, uint32_t width, uint32_t height)
{
    uint32_t bestW = 100000, bestH = 100000;
    int best = -1;
    for (int i = 0; i < count; i++) {
        const x11ScreenMode &m = modes[i];
        if (m.width < width || m.height < height)
            continue;
        if (m.width < bestW || (m.width == bestW && m.height < bestH)) {
            bestW = m.width;
            bestH = m.height;
            best = i;
        }
    }
    return best;
}

int x11GetScreenModes(qxDisplay *display, x11ScreenMode *modes)
{
    x11Connection *c = connectionOf(display);
    if (!c)
        return 0;
    uint32_t monitor = display ? display->monitor : 0;
    if (x11HasRandr13(c)) {
        int filled = 0;
        int n = forEachRandrMode(c, monitor, [&](const XRRModeInfo &m, bool current) {
            if (modes)
                filled = x11AddScreenMode(modes, filled,
                                          {m.width, m.height, rateOf(m), current ? 1u : 0u, m.id});
        });
        if (n)
            return modes ? filled : n;
    }
    if (x11HasVidModeExt(c)) {
        XF86VidModeModeInfo **lines;
        int n = vidModeLines(c, &lines);
        int filled = 0;
        for (int i = 0; modes && i < n; i++) {
            x11ScreenMode m{lines[i]->hdisplay, lines[i]->vdisplay, 0, i == 0 ? 1u : 0u, 0};
            int k = 0;
            while (k < filled && (modes[k].width != m.width || modes[k].height != m.height))
                k++;
            if (k == filled)
                modes[filled++] = m;
        }
        if (lines)
            XFree(lines);
        return modes ? filled : n;
    }
    return 0;
}

int x11SetCrtcMode(uint32_t monitor, x11DisplayData *x, unsigned long mode, int save)
{
    x11Connection *c = x->conn;
    if (!c || !x11HasRandr13(c))
        return 0;
    forgetHeldMonitors(c);
    XRRScreenResources *res = RR(XRRGetScreenResources)(c->display, c->root);
    if (!res)
        return 0;
    int result = 0;
    if (monitor < (uint32_t)res->ncrtc) {
        RRCrtc id = res->crtcs[monitor];
        XRRCrtcInfo *crtc = RR(XRRGetCrtcInfo)(c->display, res, id);
        if (crtc && crtc->noutput > 0) {
            if (save)
                x->savedRandrMode = crtc->mode;
            Status s = RR(XRRSetCrtcConfig)(c->display, res, id, CurrentTime, crtc->x, crtc->y,
                                            mode, crtc->rotation, crtc->outputs, crtc->noutput);
            result = s == Success && !x11CheckErrors(c->display);
        }
        if (crtc)
            RR(XRRFreeCrtcInfo)(crtc);
    }
    RR(XRRFreeScreenResources)(res);
    return result;
}

int x11SetScreenMode(qxDisplay *display, int width, int height, int)
{
    x11Connection *c = nullptr;
    if (int r = x11OpenConnection(display->xServer, &c))
        return r;
    x11DisplayData *x = x11Data(display);
    if (x11HasRandr13(c) && x) {
        int n = x11GetScreenModes(display, nullptr);
        if (!n)
            return ERR_NODISPMODES;
        std::vector<x11ScreenMode> modes;
        try {
            modes.resize((size_t)n);
        } catch (...) {
            return ERR_MEM;
        }
        n = x11GetScreenModes(display, modes.data());
        int pick = x11ChooseMode(modes.data(), n, (uint32_t)width, (uint32_t)height);
        if (pick < 0)
            return ERR_SCREEN;
        if (!x->conn)
            x->conn = c;
        if (x11SetCrtcMode(display->monitor, x, modes[pick].mode, !display->fullScreen))
            return 0;
    }
    if (!x11HasVidModeExt(c))
        return ERR_XF86VIDMODEEXT;
    XF86VidModeModeInfo **lines;
    int n = vidModeLines(c, &lines);
    if (!n) {
        if (lines)
            XFree(lines);
        return ERR_SCREEN;
    }
    std::vector<x11ScreenMode> modes((size_t)n);
    for (int i = 0; i < n; i++)
        modes[i] = {lines[i]->hdisplay, lines[i]->vdisplay, 0, 0, 0};
    int pick = x11ChooseMode(modes.data(), n, (uint32_t)width, (uint32_t)height);
    if (pick < 0) {
        XFree(lines);
        return ERR_SCREEN;
    }
    if (x && !display->fullScreen) {
        x->savedVidMode = *lines[0];
        x->savedVidModeValid = 1;
    }
    switchVidMode(c, lines[pick]);
    XFree(lines);
    return 0;
}

int x11RestoreDesktopMode(qxDisplay *display)
{
    x11DisplayData *x = x11Data(display);
    if (!x || !x->conn)
        return 0;
    if (x->savedRandrMode && x11SetCrtcMode(display->monitor, x, x->savedRandrMode, 0))
        return 0;
    if (x->savedVidModeValid && qxLibraryComplete(QX_LIB_XVIDMODE))
        switchVidMode(x->conn, &x->savedVidMode);
    return 0;
}

void x11SuspendBlanker(x11DisplayData *x, int enable)
{
    if (!x || !x->conn)
        return;
    // Each server has its own saver. It comes back when the last display
    // of that server that suspended it closes, by the same road that
    // suspended it; a display counts once, however often it asks.
    if (!enable == !!x->saverSuspended)
        return;
    x->saverSuspended = !enable;
    x11Connection *c = x->conn;
    if (!enable && c->saverSuspenders++)
        return;
    if (enable && (!c->saverSuspenders || --c->saverSuspenders))
        return;
    Display *d = c->display;
    if (enable && c->saverSuspendedByExtension) {
        imported<void (*)(Display *, Bool)>(qxLibImports.XScreenSaverSuspend)(d, False);
        XResetScreenSaver(d);
        XFlush(d);
        c->saverSuspendedByExtension = 0;
        return;
    }
    // saverEnabled is 0 only while the core road has the saver off.
    if (!c->saverEnabled == !enable)
        return;
    int ev = 0, err = 0, major = 0, minor = 0;
    if (!enable && qxLibraryComplete(QX_LIB_XSCRNSAVER) &&
        imported<Bool (*)(Display *, int *, int *)>(qxLibImports.XScreenSaverQueryExtension)(
            d, &ev, &err) &&
        imported<Status (*)(Display *, int *, int *)>(qxLibImports.XScreenSaverQueryVersion)(
            d, &major, &minor) &&
        (major > 1 || (major == 1 && minor >= 1))) {
        imported<void (*)(Display *, Bool)>(qxLibImports.XScreenSaverSuspend)(d, True);
        XResetScreenSaver(d);
        XFlush(d);
        c->saverSuspendedByExtension = 1;
        return;
    }
    int *saved = c->savedSaver;
    if (!enable) {
        XGetScreenSaver(d, &saved[0], &saved[1], &saved[2], &saved[3]);
        x->saverTimeout = (uint32_t)saved[0];
        x->saverInterval = (uint32_t)saved[1];
        x->saverPreferBlanking = (uint32_t)saved[2];
        x->saverAllowExposures = (uint32_t)saved[3];
        XSetScreenSaver(d, 0, 0, 0, DefaultExposures);
    } else {
        XSetScreenSaver(d, saved[0], saved[1], saved[2], saved[3]);
    }
    XFlush(d);
    c->saverEnabled = enable != 0;
}

void *x11GrabScreen(qxDisplay *display, int gx, int gy, int width, int height,
                    uint32_t *bytesPerPixel)
{
    if (width <= 0 || height <= 0 || width > 32767 || height > 32767)
        return nullptr;
    Display *d = nullptr;
    bool own = qxDisplayAdapterActive();
    int screen = 0;
    if (own) {
        d = XOpenDisplay(nullptr);
        if (!d)
            return nullptr;
        screen = DefaultScreen(d);
    } else {
        x11Connection *c = connectionOf(display);
        if (!c)
            return nullptr;
        d = c->display;
        screen = (int)c->screen;
    }
    uint32_t bpp = DefaultDepth(d, screen) == 16 ? 2 : 4;
    void *buffer = std::calloc((size_t)width * height, bpp);
    // Only the part on the root can be read; the rest stays 0.
    int rw = DisplayWidth(d, screen), rh = DisplayHeight(d, screen);
    int x0 = std::max(gx, 0), y0 = std::max(gy, 0);
    int x1 = std::min(gx + width, rw), y1 = std::min(gy + height, rh);
    if (buffer && x1 > x0 && y1 > y0) {
        XImage *image = XGetImage(d, RootWindow(d, screen), x0, y0, (unsigned)(x1 - x0),
                                  (unsigned)(y1 - y0), AllPlanes, ZPixmap);
        x11CheckErrors(d);
        if (image) {
            for (int y = y0; y < y1; y++) {
                uint8_t *row = static_cast<uint8_t *>(buffer) +
                               ((size_t)(y - gy) * width + (size_t)(x0 - gx)) * bpp;
                if ((uint32_t)image->bits_per_pixel == bpp * 8) {
                    std::memcpy(row, image->data + (size_t)(y - y0) * image->bytes_per_line,
                                (size_t)(x1 - x0) * bpp);
                    continue;
                }
                for (int x = x0; x < x1; x++) {
                    unsigned long p = XGetPixel(image, x - x0, y - y0);
                    if (bpp == 2) {
                        uint16_t v = (uint16_t)p;
                        std::memcpy(row + (size_t)(x - x0) * 2, &v, 2);
                    } else {
                        uint32_t v = (uint32_t)p;
                        std::memcpy(row + (size_t)(x - x0) * 4, &v, 4);
                    }
                }
            }
            XDestroyImage(image);
        } else {
            std::free(buffer);
            buffer = nullptr;
        }
    }
    if (own)
        XCloseDisplay(d);
    if (buffer && bytesPerPixel)
        *bytesPerPixel = bpp;
    return buffer;
}
}
