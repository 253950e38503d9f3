// A display's X window: creation with its hints, states, icon, shape and
// GC; mapping; closing; moving, sizing, titling and iconifying.
#include <X11/Xatom.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "platform/qx_errcodes.h"
#include "platform/qx_libimports.h"
#include "platform/qx_sync.h"
#include "platform/qx_text.h"
#include "platform/qx_upcalls.h"
#include "platform/qx_wakepipe.h"
#include "platform/x11/x11_display.h"

namespace {

const char *const atomNames[X11_ATOM_COUNT] = {
    "WM_DELETE_WINDOW", "XdndEnter",     "XdndLeave",   "XdndPosition", "XdndStatus",
    "XdndDrop",         "XdndSelection", "XdndFinished", "XdndActionCopy", "XdndTypeList",
    "PRIMARY",          "CLIPBOARD",     "TARGETS",     "XCLIP_OUT",    "text/plain",
    "UTF8_STRING",      "image/png",     "INCR",        "text/uri-list",
};

template <typename F> F imported(qxImportFunc f) { return reinterpret_cast<F>(f); }

bool xfixes2(const x11Connection *c)
{
    return qxLibImports.complete[QX_LIB_XFIXES] && c->xfixesMajor >= 2;
}

void setAtomProperty(Display *d, Window w, const char *name, const Atom *atoms, int count)
{
    XChangeProperty(d, w, XInternAtom(d, name, False), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(atoms), count);
}

// The window's own atoms and those that opening it names, asked for in one
// round trip rather than one each: Xlib keeps the answers, so the property
// calls that follow (and its own title and protocol calls) find them there.
// WM_DELETE_WINDOW is made even before any manager has made it: a manager
// started later would otherwise kill the player on close.
void internWindowAtoms(Display *d, x11DisplayData *x)
{
    static const char *const opening[] = {"XdndAware",       "_NET_WM_ICON",
                                          "_NET_WM_STATE",   "_NET_WM_STATE_ABOVE",
                                          "_NET_WM_STATE_FULLSCREEN", "_MOTIF_WM_HINTS",
                                          "WM_PROTOCOLS",    "_NET_FRAME_EXTENTS"};
    static const char *const utf8Title[] = {"_NET_WM_NAME", "_NET_WM_ICON_NAME", "WM_LOCALE_NAME"};
    constexpr int most = X11_ATOM_COUNT + std::size(opening) + std::size(utf8Title);
    char *names[most];
    Atom atoms[most];
    int n = 0;
    for (const char *name : atomNames) names[n++] = const_cast<char *>(name);
    for (const char *name : opening) names[n++] = const_cast<char *>(name);
    if (qxTextModeUtf8)
        for (const char *name : utf8Title) names[n++] = const_cast<char *>(name);
    XInternAtoms(d, names, n, False, atoms); // a name that fails is None, as one by one
    std::memcpy(x->atoms, atoms, sizeof x->atoms);
    if (qxTextModeUtf8)
        x->conn->wmLocaleName = atoms[n - 1];
}

// Xlib writes a title whose characters are all in Latin-1 as STRING, with
// the machine and the locale's name beside it; done here for such titles,
// as converting through Xlib loads the locale's tables (a fifth of the
// instructions of a short applet). Other titles go through Xlib. Returns
// false when the title must take that road.
bool setLatin1Title(x11DisplayData *x, const char *title)
{
    static char host[256];
    static int hostKnown; // 1 plain ASCII, 2 unusable
    if (!hostKnown) {
        hostKnown = gethostname(host, sizeof host - 1) ? 2 : 1;
        for (const char *p = host; hostKnown == 1 && *p; p++)
            if ((unsigned char)*p >= 0x80)
                hostKnown = 2;
    }
    const char *locale = std::setlocale(LC_CTYPE, nullptr);
    if (hostKnown != 1 || !locale)
        return false;
    char latin1[sizeof(qxDisplay::title)];
    size_t n = 0;
    for (const char *p = title, *end = title + std::strlen(title); p < end;) {
        uint32_t c;
        int len = qxUtf8DecodeN(p, end, &c);
        if (c > 0xFF || (len == 1 && c >= 0x80)) // beyond Latin-1, or malformed
            return false;
        latin1[n++] = (char)c;
        p += len;
    }
    Display *d = x->display;
    auto put = [&](Atom property, const char *text, size_t length) {
        XChangeProperty(d, x->window, property, XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(text), (int)length);
    };
    put(XA_WM_NAME, latin1, n);
    put(XA_WM_ICON_NAME, latin1, n);
    put(XA_WM_CLIENT_MACHINE, host, std::strlen(host));
    Atom &localeName = x->conn->wmLocaleName;
    if (!localeName)
        localeName = XInternAtom(d, "WM_LOCALE_NAME", False);
    put(localeName, locale, std::strlen(locale));
    return true;
}

void setTitle(qxDisplay *display, x11DisplayData *x)
{
    char title[sizeof display->title];
    std::memcpy(title, display->title, sizeof title);
    title[sizeof title - 1] = 0;
    if (!qxTextModeUtf8)
        XStoreName(x->display, x->window, title);
    else if (!setLatin1Title(x, title))
        Xutf8SetWMProperties(x->display, x->window, title, title, nullptr, 0, nullptr, nullptr,
                             nullptr);
}

void setInputHint(x11DisplayData *x, Bool input)
{
    XWMHints hints{};
    hints.flags = InputHint;
    hints.input = input;
    XSetWMHints(x->display, x->window, &hints);
}

void freeShapeState(x11DisplayData *x)
{
    if (x->shape && qxLibImports.complete[QX_LIB_XFIXES])
        imported<void (*)(Display *, unsigned long)>(qxLibImports.XFixesDestroyRegion)(x->display,
                                                                                      x->shape);
    x->shape = 0;
    std::free(x->alphaCopy);
    std::free(x->scratch);
    x->alphaCopy = nullptr;
    x->scratch = nullptr;
}

bool isGrabbingFullScreen(const qxDisplay *d)
{
    return d->fullScreen && !d->backfill && !d->resourceMonitor;
}

void handGrabs(qxDisplay *display, x11DisplayData *x)
{
    x->grabbed = 0;
    if (!isGrabbingFullScreen(display))
        return;
    bool other = false;
    for (qxDisplay *d = qxUpcalls.displayList ? qxUpcalls.displayList() : nullptr; d;
         d = static_cast<qxDisplay *>(d->header.next)) {
        x11DisplayData *o = x11Data(d);
        if (d == display || !o || !o->window || !isGrabbingFullScreen(d))
            continue;
        other = true;
        if (o->grabbed) {
            XUngrabPointer(o->display, CurrentTime);
            XUngrabKeyboard(o->display, CurrentTime);
            o->grabbed = 0;
        }
    }
    if (!other) {
        x11GrabInput(x->conn, x->window);
        x->grabbed = 1;
    }
}

} // namespace

extern "C" {

void x11GetFrameExtents(Display *d, Window w, uint32_t *left, uint32_t *top, uint32_t *width,
                        uint32_t *height)
{
    *left = *top = *width = *height = 0;
    // The property's reply comes after every earlier request: no sync.
    Atom prop = XInternAtom(d, "_NET_FRAME_EXTENTS", False);
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(d, w, prop, 0, 4, False, XA_CARDINAL, &type, &format, &items, &after,
                           &data) != Success)
        return;
    if (type == XA_CARDINAL && format == 32 && items == 4 && data) {
        // Format-32 items arrive as longs; a hostile value is clamped.
        const long *v = reinterpret_cast<const long *>(data);
        auto clamp = [](long n) { return (uint32_t)(n < 0 ? 0 : n > 10000 ? 10000 : n); };
        *left = clamp(v[0]);
        *top = clamp(v[2]);
        *width = clamp(v[0]) + clamp(v[1]);
        *height = clamp(v[2]) + clamp(v[3]);
    }
    if (data)
        XFree(data);
}

int x11GetBorderSizes(qxDisplay *display)
{
    if (display->flags & QX_DISP_BORDERLESS) {
        display->borderLeft = display->borderTop = display->borderWidth = display->borderHeight = 0;
        return 0;
    }
    x11Connection *c = nullptr;
    if (int r = x11OpenConnection(display->xServer, &c))
        return r;
    display->borderLeft = (int32_t)c->frameLeft;
    display->borderTop = (int32_t)c->frameTop;
    display->borderWidth = (int32_t)c->frameWidth;
    display->borderHeight = (int32_t)c->frameHeight;
    return 0;
}

void x11SetSizeHints(qxDisplay *display, long flags)
{
    x11DisplayData *x = x11Data(display);
    if (!x || !x->window)
        return;
    XSizeHints hints{};
    hints.flags = flags;
    hints.x = display->x;
    hints.y = display->y;
    hints.min_width = hints.max_width = display->width;
    hints.min_height = hints.max_height = display->height;
    XSetWMNormalHints(x->display, x->window, &hints);
}

void x11GrabInput(x11Connection *conn, Window window)
{
    XGrabPointer(conn->display, window, True,
                 ButtonPressMask | ButtonReleaseMask | PointerMotionMask, GrabModeAsync,
                 GrabModeAsync, None, None, CurrentTime);
    XGrabKeyboard(conn->display, window, True, GrabModeAsync, GrabModeAsync, CurrentTime);
}

namespace {
// Waits until the window is viewable or not, at most the given time; true
// when it came to that. A window manager acts on its own time: between the
// checks the wait ends as soon as the server sends anything (a manager's
// reparenting and mapping come as events), not after a fixed pause.
bool waitViewable(x11Connection *conn, Window window, bool viewable, double seconds)
{
    double end = qxGetSeconds() + seconds;
    for (;;) {
        XWindowAttributes attrs;
        if (!XGetWindowAttributes(conn->display, window, &attrs))
            return false;
        if ((attrs.map_state == IsViewable) == viewable)
            return true;
        if (qxGetSeconds() >= end)
            return false;
        pollfd p{(int)conn->fd, POLLIN, 0};
        poll(&p, 1, 1);
    }
}

// A manager that has taken the window on has set its WM_STATE.
bool managed(Display *d, Window w)
{
    const Atom state = XInternAtom(d, "WM_STATE", True);
    if (state == None)
        return false;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    const bool found = XGetWindowProperty(d, w, state, 0, 1, False, AnyPropertyType, &type, &format,
                                          &count, &after, &data) == Success &&
                       type != None;
    if (data)
        XFree(data);
    return found;
}

// The window's last map as the queue tells it: `mapped` once a MapNotify
// came after the last UnmapNotify, and the area exposed since.
struct MapWatch {
    Window window;
    bool mapped;
    Region exposed;
    int exposes;
};

Bool watchMap(Display *, XEvent *ev, XPointer arg)
{
    auto *w = reinterpret_cast<MapWatch *>(arg);
    const bool unmap = ev->type == UnmapNotify && ev->xunmap.window == w->window;
    if (unmap || (ev->type == MapNotify && ev->xmap.window == w->window)) {
        w->mapped = !unmap;
        w->exposes = 0;
        XSubtractRegion(w->exposed, w->exposed, w->exposed);
    } else if (ev->type == Expose && ev->xexpose.window == w->window && w->mapped) {
        XRectangle r{(short)ev->xexpose.x, (short)ev->xexpose.y,
                     (unsigned short)ev->xexpose.width, (unsigned short)ev->xexpose.height};
        XUnionRectWithRegion(&r, w->exposed, w->exposed);
        w->exposes++;
    }
    return False; // only looked at: the pump takes every event in its turn
}

bool reparented(x11Connection *conn, Window window)
{
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(conn->display, window, &root, &parent, &children, &count))
        return false;
    if (children)
        XFree(children);
    return parent && parent != root;
}

// Waits, at most the given time, until the window's map has been followed
// by the exposure of all of it that lies on the screen. A manager may keep
// the viewable window hidden a while behind its frame (openbox unfolds it
// from its icon) or under other windows (it raises it a moment later):
// what is drawn before is cleared. Only a window in a manager's frame
// waits: without a manager a viewable window keeps what is drawn, and a
// map seen through before (no MapNotify since the last unmap) has nothing
// to wait for. A part another window keeps covered is never exposed: the
// wait also ends once exposures have stopped coming for a quarter second.
void waitExposed(x11Connection *conn, Window window, double seconds)
{
    if (!reparented(conn, window))
        return;
    Display *d = conn->display;
    MapWatch watch{window, false, XCreateRegion(), 0};
    if (!watch.exposed)
        return;
    const double start = qxGetSeconds(), end = start + seconds;
    double lastExpose = start;
    int seen = 0;
    for (;;) {
        watch.mapped = false;
        watch.exposes = 0;
        XSubtractRegion(watch.exposed, watch.exposed, watch.exposed);
        XEvent ev;
        XCheckIfEvent(d, &ev, watchMap, reinterpret_cast<XPointer>(&watch));
        const double now = qxGetSeconds();
        if (watch.exposes != seen)
            seen = watch.exposes, lastExpose = now;
        if (!watch.mapped || now >= end || (seen && now - lastExpose >= 0.25))
            break;
        // The part on the screen: the frame may move while it unfolds.
        XWindowAttributes attrs;
        int x = 0, y = 0;
        Window child;
        if (!XGetWindowAttributes(d, window, &attrs) ||
            !XTranslateCoordinates(d, window, conn->root, 0, 0, &x, &y, &child))
            break;
        const int left = std::max(0, -x), top = std::max(0, -y);
        const int right = std::min(attrs.width, DisplayWidth(d, (int)conn->screen) - x);
        const int bottom = std::min(attrs.height, DisplayHeight(d, (int)conn->screen) - y);
        if (!XEmptyRegion(watch.exposed) &&
            (right <= left || bottom <= top ||
             XRectInRegion(watch.exposed, left, top, (unsigned)(right - left),
                           (unsigned)(bottom - top)) == RectangleIn))
            break;
        pollfd p{(int)conn->fd, POLLIN, 0};
        poll(&p, 1, 5);
    }
    XDestroyRegion(watch.exposed);
}
} // namespace

void x11WaitMapped(x11Connection *conn, Window window)
{
    // A window manager may never map the window, nor show it: wait a
    // bounded time for each.
    if (waitViewable(conn, window, true, 2.0))
        waitExposed(conn, window, 1.5);
}

void x11MotifHints(uint32_t flags, long hints[5])
{
    hints[0] = (flags & QX_DISP_BORDERLESS) ? 3 : 1;
    long functions = (flags & QX_DISP_NOHIDE) ? 9 : 1;
    if (flags & QX_DISP_NOCLOSE)
        functions += 32;
    if (flags & QX_DISP_FIXED)
        functions += 4;
    if (!(flags & QX_DISP_SIZEABLE))
        functions += 18;
    hints[1] = functions;
    hints[2] = 0;
    hints[3] = 0;
    hints[4] = 0;
}

XRectangle *x11ShapeRects(const uint8_t *mask, uint32_t maskBytesPerRow, const uint8_t *alpha,
                          uint32_t alphaBytesPerRow, uint32_t width, uint32_t height,
                          uint32_t *count, int *failed)
{
    *count = 0;
    *failed = 0;
    struct Run {
        int x1, x2, y1, y2;
    };
    std::vector<Run> runs;
    try {
        for (uint32_t y = 0; y < height; y++) {
            auto set = [&](uint32_t x) {
                if (mask)
                    return (mask[(size_t)y * maskBytesPerRow + x / 8] & (0x80 >> (x & 7))) != 0;
                return alpha[(size_t)y * alphaBytesPerRow + x] != 0;
            };
            for (uint32_t x = 0; x < width;) {
                if (!set(x)) {
                    x++;
                    continue;
                }
                uint32_t start = x;
                while (x < width && set(x))
                    x++;
                runs.push_back({(int)start, (int)x - 1, (int)y, (int)y});
            }
        }
    } catch (...) {
        *failed = 1;
        return nullptr;
    }
    std::sort(runs.begin(), runs.end(), [](const Run &a, const Run &b) {
        return a.x1 != b.x1 ? a.x1 < b.x1 : a.x2 != b.x2 ? a.x2 < b.x2 : a.y1 < b.y1;
    });
    size_t kept = 0;
    for (size_t i = 0; i < runs.size(); i++) {
        if (kept && runs[kept - 1].x1 == runs[i].x1 && runs[kept - 1].x2 == runs[i].x2 &&
            runs[kept - 1].y2 + 1 == runs[i].y1)
            runs[kept - 1].y2 = runs[i].y2;
        else
            runs[kept++] = runs[i];
    }
    if (!kept)
        return nullptr;
    auto *rects = static_cast<XRectangle *>(std::malloc(kept * sizeof(XRectangle)));
    if (!rects) {
        *failed = 1;
        return nullptr;
    }
    for (size_t i = 0; i < kept; i++) {
        rects[i].x = (short)runs[i].x1;
        rects[i].y = (short)runs[i].y1;
        rects[i].width = (unsigned short)(runs[i].x2 - runs[i].x1 + 1);
        rects[i].height = (unsigned short)(runs[i].y2 - runs[i].y1 + 1);
    }
    *count = (uint32_t)kept;
    return rects;
}

int x11OpenDisplay(qxDisplay *display, int show, const uint8_t *mask, uint32_t maskBytesPerRow,
                   const uint8_t *alpha, uint32_t alphaBytesPerRow)
{
    x11DisplayData *x = x11Data(display);
    if (!x)
        return ERR_MEM;
    // Window coordinates are 16-bit signed: a larger window is refused, not
    // made at a size nothing can draw into.
    if (display->width > 32767 || display->height > 32767)
        return ERR_DISPLAYSIZE;
    if (x->window)
        x11CloseDisplay(display); // reopened (a mode switch): never two windows
    x11Connection *c = nullptr;
    if (int r = x11OpenConnection(display->xServer, &c))
        return r;
    x->conn = c;
    x->display = c->display;
    x->screen = c->screen;
    x->root = c->root;
    Display *d = c->display;
    const uint32_t w = display->width > 0 ? (uint32_t)display->width : 1;
    const uint32_t h = display->height > 0 ? (uint32_t)display->height : 1;

    XSetWindowAttributes attrs{};
    unsigned long valueMask = CWEventMask;
    if (alpha) {
        if (!c->argbVisual || !c->argbColormap)
            return ERR_NOARGBVISUAL;
        if (c->depth < 24)
            return ERR_NEEDCOMPOSITE;
        x->visual = c->argbVisual;
        x->depth = 32;
        attrs.colormap = c->argbColormap;
        valueMask = CWBackPixel | CWBorderPixel | CWEventMask | CWColormap;
    } else {
        x->visual = DefaultVisual(d, (int)c->screen);
        x->depth = c->depth;
    }
    if (alpha || mask) {
        if (!xfixes2(c))
            return ERR_XFIXES;
        uint32_t count = 0;
        int failed = 0;
        XRectangle *rects = x11ShapeRects(mask, maskBytesPerRow, mask ? nullptr : alpha,
                                          alphaBytesPerRow, w, h, &count, &failed);
        if (failed)
            return ERR_MEM;
        x->shape = imported<unsigned long (*)(Display *, XRectangle *, int)>(
            qxLibImports.XFixesCreateRegion)(d, rects, (int)count);
        std::free(rects);
        if (alpha) {
            size_t pixels = (size_t)w * h;
            x->alphaCopy = static_cast<uint8_t *>(std::malloc(pixels));
            if (!x->alphaCopy) {
                freeShapeState(x);
                return ERR_ALLOCALPHA;
            }
            for (uint32_t y = 0; y < h; y++)
                std::memcpy(x->alphaCopy + (size_t)y * w, alpha + (size_t)y * alphaBytesPerRow, w);
            x->alphaWidth = w;
            x->alphaHeight = h;
            x->scratch = static_cast<uint32_t *>(std::malloc(pixels * 4));
            if (!x->scratch) {
                freeShapeState(x);
                return ERR_BITMAP;
            }
        }
    }
    // Exposure too: mapping waits until the window is exposed (x11WaitMapped).
    attrs.event_mask = StructureNotifyMask | ExposureMask;
    // A backfill display's parent is the display it serves.
    const qxDisplay *parent = display->backfill ? display->backfillDisplay : nullptr;
    if (display->backfill || display->fullScreen || parent) {
        attrs.override_redirect = True;
        valueMask |= CWOverrideRedirect;
    }
    x->window = XCreateWindow(d, c->root, display->x, display->y, w, h, 0, (int)x->depth,
                              InputOutput, x->visual, valueMask, &attrs);
    // The atoms' answer follows any error of the creation: one wait for both.
    const unsigned long created = NextRequest(d) - 1;
    internWindowAtoms(d, x);
    if (!x->window || x11CheckErrorsUpTo(d, created)) {
        x->window = 0;
        freeShapeState(x);
        return ERR_WINDOW;
    }
    x->askedWidth[0] = w;
    x->askedHeight[0] = h;
    x->askedCount = 1;
    Window win = x->window;
    long version = 5;
    XChangeProperty(d, win, XInternAtom(d, "XdndAware", False), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char *>(&version), 1);
    uint32_t iconItems = 0;
    if (const uint32_t *icons = x11IconItems(&iconItems))
        x11SetIconProperty(d, win, XInternAtom(d, "_NET_WM_ICON", False), icons, iconItems);

    x11Monitor *monitors = x11GetMonitors(display);
    if (!monitors) {
        x11CloseDisplay(display);
        return ERR_GETMONITORINFO;
    }
    const x11Monitor *mon = monitors;
    for (uint32_t i = 0; i < display->monitor && mon->next; i++)
        mon = mon->next;
    Atom above = XInternAtom(d, "_NET_WM_STATE_ABOVE", False);
    if ((display->flags & QX_DISP_BORDERLESS) && w == mon->width && h == mon->height) {
        Atom states[2] = {XInternAtom(d, "_NET_WM_STATE_FULLSCREEN", False), above};
        setAtomProperty(d, win, "_NET_WM_STATE", states,
                        (display->flags & QX_DISP_ALWAYSONTOP) ? 2 : 1);
    } else if (display->flags & QX_DISP_ALWAYSONTOP) {
        setAtomProperty(d, win, "_NET_WM_STATE", &above, 1);
    }
    x11FreeMonitors(monitors);

    setTitle(display, x);
    if (const x11DisplayData *p = parent ? x11Data(parent) : nullptr; p && p->window)
        XSetTransientForHint(d, x->window, p->window);
    x11SetSizeHints(display, (display->flags & QX_DISP_SIZEABLE) ? PPosition
                                                                  : PPosition | PMinSize | PMaxSize);
    long motif[5];
    x11MotifHints(display->flags, motif);
    Atom motifAtom = XInternAtom(d, "_MOTIF_WM_HINTS", False);
    XChangeProperty(d, win, motifAtom, motifAtom, 32, PropModeReplace,
                    reinterpret_cast<unsigned char *>(motif), 5);
    if (x->shape) {
        auto setShape = imported<void (*)(Display *, Window, int, int, int, unsigned long)>(
            qxLibImports.XFixesSetWindowShapeRegion);
        setShape(d, win, 0 /* ShapeBounding */, 0, 0, x->shape);
        setShape(d, win, 2 /* ShapeInput */, 0, 0, x->shape);
    }
    XSetWMProtocols(d, win, &x->atoms[X11_WM_DELETE_WINDOW], 1);

    XGCValues gcv{};
    gcv.function = GXcopy;
    gcv.fill_style = FillSolid;
    gcv.graphics_exposures = False;
    if (alpha) {
        gcv.plane_mask = AllPlanes;
        gcv.clip_mask = None;
        x->gc = XCreateGC(d, win,
                          GCFunction | GCPlaneMask | GCForeground | GCBackground | GCFillStyle |
                              GCGraphicsExposures | GCClipMask,
                          &gcv);
    } else {
        x->gc = XCreateGC(d, win, GCFunction | GCFillStyle | GCGraphicsExposures, &gcv);
        XCopyGC(d, DefaultGC(d, (int)c->screen), GCForeground | GCBackground, x->gc);
    }

    XMoveWindow(d, win, display->x, display->y);
    if (show) {
        XMapRaised(d, win);
        x11WaitMapped(c, win);
        XSetInputFocus(d, win, RevertToNone, CurrentTime);
    } else {
        setInputHint(x, False);
        XMapWindow(d, win);
        x11WaitMapped(c, win);
        setInputHint(x, True);
    }
    const unsigned long mapped = NextRequest(d) - 1;
    uint32_t left, top, bw, bh;
    x11GetFrameExtents(d, win, &left, &top, &bw, &bh);
    x11CheckErrorsUpTo(d, mapped); // what mapping and focusing refused is not a failure
    display->borderLeft = (int32_t)left;
    display->borderTop = (int32_t)top;
    display->borderWidth = (int32_t)bw;
    display->borderHeight = (int32_t)bh;
    display->bordersKnown = 1;

    XSelectInput(d, win,
                 KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                     EnterWindowMask | LeaveWindowMask | PointerMotionMask | ButtonMotionMask |
                     ExposureMask | VisibilityChangeMask | StructureNotifyMask | FocusChangeMask |
                     PropertyChangeMask | OwnerGrabButtonMask);
    if (qxLibImports.complete[QX_LIB_XFIXES] && c->xfixesEventBase > 0)
        imported<void (*)(Display *, Window, Atom, unsigned long)>(
            qxLibImports.XFixesSelectSelectionInput)(d, win, x->atoms[X11_CLIPBOARD], 7);
    if (c->im)
        x->ic = XCreateIC(c->im, XNInputStyle, XIMPreeditNothing | XIMStatusNothing,
                          XNClientWindow, win, XNFocusWindow, win, nullptr);
    handGrabs(display, x);
    x->ownedType = 0;
    if (display->flags & QX_DISP_DISABLEBLANKER)
        x11SuspendBlanker(x, 0);
    std::memset(&display->input, 0, sizeof display->input);
    x->dragging = x->resizing = 0;
    x->lastKey = -1;
    x->modeSwitchRequest = -1;
    display->state = QX_DISPSTATE_OPEN;
    return 0;
}

void x11CloseDisplay(qxDisplay *display)
{
    x11DisplayData *x = x11Data(display);
    if (!x || !x->window)
        return;
    Display *d = x->display;
    if (display->flags & QX_DISP_DISABLEBLANKER)
        x11SuspendBlanker(x, 1);
    if (x->grabbed) {
        XUngrabPointer(d, CurrentTime);
        XUngrabKeyboard(d, CurrentTime);
        x->grabbed = 0;
    }
    if (x->ic)
        XDestroyIC(x->ic);
    x->ic = nullptr;
    XUnmapWindow(d, x->window);
    if (x->gc)
        XFreeGC(d, x->gc);
    x->gc = nullptr;
    XDestroyWindow(d, x->window);
    x->window = 0;
    freeShapeState(x);
    std::free(x->ownedData);
    x->ownedData = nullptr;
    x->ownedType = 0;
    std::free(x->incrBuffer);
    x->incrBuffer = nullptr;
    x->incrLength = x->incrActive = x->readPending = 0;
    XFlush(d);
    x->display = nullptr;
}

void x11MoveSizeWindow(qxDisplay *display)
{
    x11DisplayData *x = x11Data(display);
    if (!x || !x->window)
        return;
    if (!(display->flags & QX_DISP_SIZEABLE))
        x11SetSizeHints(display, PMinSize | PMaxSize);
    const uint32_t w = (uint32_t)std::max(display->width, 1);
    const uint32_t h = (uint32_t)std::max(display->height, 1);
    uint32_t &n = x->askedCount;
    if (n == 0 || x->askedWidth[n - 1] != w || x->askedHeight[n - 1] != h) {
        if (n == std::size(x->askedWidth)) { // the oldest asks are long answered or refused
            std::memmove(x->askedWidth, x->askedWidth + 1, (n - 1) * sizeof *x->askedWidth);
            std::memmove(x->askedHeight, x->askedHeight + 1, (n - 1) * sizeof *x->askedHeight);
            n--;
        }
        x->askedWidth[n] = w;
        x->askedHeight[n] = h;
        n++;
    }
    XMoveResizeWindow(x->display, x->window, display->x, display->y, w, h);
}

int x11StaleConfigure(x11DisplayData *x, uint32_t width, uint32_t height)
{
    uint32_t &n = x->askedCount;
    // Oldest first: the manager answers in order, and a size asked twice
    // (there and back) is answered first for the earlier ask.
    for (uint32_t k = 0; k < n; k++) {
        if (x->askedWidth[k] != width || x->askedHeight[k] != height)
            continue;
        if (k == n - 1) {
            // The newest ask answered: the window has the size last set.
            x->askedWidth[0] = width;
            x->askedHeight[0] = height;
            n = 1;
            return 0;
        }
        // An older one: later asks are still on their way. It stays the
        // first, as the size the window has now.
        std::memmove(x->askedWidth, x->askedWidth + k, (n - k) * sizeof *x->askedWidth);
        std::memmove(x->askedHeight, x->askedHeight + k, (n - k) * sizeof *x->askedHeight);
        n -= k;
        return 1;
    }
    // A size nobody here asked for (the user or the manager chose it).
    x->askedWidth[0] = width;
    x->askedHeight[0] = height;
    n = 1;
    return 0;
}

void x11MoveWindow(qxDisplay *display)
{
    if (x11DisplayData *x = x11Data(display); x && x->window)
        XMoveWindow(x->display, x->window, display->x, display->y);
}

int x11WindowOrigin(qxDisplay *display, int *x, int *y)
{
    x11DisplayData *d = x11Data(display);
    if (!d || !d->window)
        return 0;
    Window child;
    return XTranslateCoordinates(d->display, d->window, d->root, 0, 0, x, y, &child) ? 1 : 0;
}

void x11SetTitle(qxDisplay *display)
{
    if (x11DisplayData *x = x11Data(display); x && x->window)
        setTitle(display, x);
}

void x11ActivateWindow(qxDisplay *display)
{
    if (x11DisplayData *x = x11Data(display); x && x->window) {
        XSetInputFocus(x->display, x->window, RevertToNone, CurrentTime);
        XFlush(x->display);
    }
}

void x11ShowWindow(qxDisplay *display, int iconify)
{
    x11DisplayData *x = x11Data(display);
    if (!x || !x->window || display->fullScreen)
        return;
    if (iconify) {
        // The manager iconifies on its own time: until it has, a show that
        // follows would be undone by it. Without a manager, or with one that
        // leaves the request alone, nothing would hide the window: it is
        // unmapped here, and the next show maps it again.
        if (managed(x->display, x->window)) {
            XIconifyWindow(x->display, x->window, (int)x->screen);
            XFlush(x->display);
            if (waitViewable(x->conn, x->window, false, 1.0))
                return;
        }
        XUnmapWindow(x->display, x->window);
        waitViewable(x->conn, x->window, false, 1.0);
        return;
    }
    XMapRaised(x->display, x->window);
    x11WaitMapped(x->conn, x->window);
    XSetInputFocus(x->display, x->window, RevertToNone, CurrentTime);
    XFlush(x->display);
}
}

extern "C" {

void x11RequesterGrabs(int grab)
{
    // The full-screen display holding the grabs (the current one or one
    // behind it) gives them up while a requester is open; its focus comes
    // with its grab, so it is never the active one. Being unmanaged, it would
    // also cover every dialog a window manager stacks: it steps back until
    // the answer. Script callbacks may close it meanwhile, so it is looked
    // up again.
    static qxDisplay *released = nullptr;
    qxDisplay *list = qxUpcalls.displayList ? qxUpcalls.displayList() : nullptr;
    if (!grab) {
        released = nullptr;
        for (qxDisplay *d = list; d; d = static_cast<qxDisplay *>(d->header.next)) {
            x11DisplayData *x = x11Data(d);
            if (!x || !x->window || !x->grabbed)
                continue;
            XUngrabPointer(x->display, CurrentTime);
            XUngrabKeyboard(x->display, CurrentTime);
            XLowerWindow(x->display, x->window);
            XFlush(x->display);
            x->grabbed = 0;
            released = d;
            return;
        }
        return;
    }
    for (qxDisplay *d = list; released && d; d = static_cast<qxDisplay *>(d->header.next)) {
        x11DisplayData *x = x11Data(d);
        if (d == released && x && x->window) {
            XRaiseWindow(x->display, x->window);
            x11GrabInput(x->conn, x->window);
            x->grabbed = 1;
        }
    }
    released = nullptr;
}

void x11DropPendingEvents(void)
{
    for (x11Connection *c = x11Connections; c; c = c->next)
        while (c->display && XPending(c->display) > 0) {
            XEvent ev;
            XNextEvent(c->display, &ev);
        }
}
}
