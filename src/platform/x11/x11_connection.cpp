// Platform start and exit of the X11 layer, the X error handlers, and the
// connection records (one per X server) with their frame probe, cursors,
// input method and pointer-watch thread.
#include <X11/Xatom.h>
#include <X11/Xproto.h>
#include <X11/Xresource.h>
#include <X11/cursorfont.h>
#include <X11/extensions/Xfixes.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/qx_errcodes.h"
#include "platform/qx_hooks.h"
#include "platform/qx_joystick.h"
#include "platform/qx_libimports.h"
#include "platform/qx_sync.h"
#include "platform/qx_upcalls.h"
#include "platform/qx_wakepipe.h"
#include "platform/requesters/qx_gtk.h"
#include "platform/x11/x11_display.h"

extern "C" {
x11Connection *x11Connections;
double x11ScaleFactor = 1.0;
char x11DefaultServer[256];
uint32_t x11NoMouseHook;
}

namespace {

std::atomic<int> lastXError{0};

int recordXError(Display *, XErrorEvent *event)
{
    // A vanished window or a refused request must not end the player:
    // the caller that needs to know checks x11CheckErrors. A refused focus
    // is never a failure, so focusing need not wait to drop its error.
    if (event->request_code != X_SetInputFocus)
        lastXError.store(event->error_code ? event->error_code : 1);
    return 0;
}

int lostConnection(Display *)
{
    // Every connection breaks at once (the requester thread has its own):
    // one caller cleans up and ends the process, a second waits for that.
    static std::atomic<int> ending{0};
    if (ending.exchange(1))
        for (;;)
            pause();
    std::fputs("Zephyrane: lost the connection to the X server.\n", stderr);
    if (qxUpcalls.deleteTempFiles)
        qxUpcalls.deleteTempFiles();
    std::_Exit(1);
}

// The window an EWMH manager names on the root, or 0.
Window supportingWindow(Display *d, Window w, Atom check)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    Window found = 0;
    if (XGetWindowProperty(d, w, check, 0, 1, False, XA_WINDOW, &type, &format, &count, &after,
                           &data) == Success &&
        type == XA_WINDOW && format == 32 && count == 1 && data)
        found = (Window) reinterpret_cast<unsigned long *>(data)[0];
    if (data)
        XFree(data);
    return found;
}

// Only a running EWMH manager answers _NET_REQUEST_FRAME_EXTENTS; without
// one the probe would wait its whole time for nothing. The probe's atoms
// are asked for with the check, in one round trip.
bool frameManagerRunning(Display *d, Window root)
{
    char *names[] = {const_cast<char *>("_NET_SUPPORTING_WM_CHECK"),
                     const_cast<char *>("_NET_REQUEST_FRAME_EXTENTS"),
                     const_cast<char *>("_NET_FRAME_EXTENTS")};
    Atom atoms[3];
    XInternAtoms(d, names, 3, True, atoms);
    const Atom check = atoms[0];
    if (check == None)
        return false;
    Window w = supportingWindow(d, root, check);
    if (!w)
        return false;
    // A stale property names a window that is gone (the error is dropped)
    // or one that names another. The reply has come: nothing to sync.
    const bool alive = supportingWindow(d, w, check) == w;
    x11CheckErrorsUpTo(d, NextRequest(d) - 1);
    return alive;
}

void probeFrame(x11Connection *c)
{
    Display *d = c->display;
    if (!frameManagerRunning(d, c->root))
        return;
    XSetWindowAttributes attrs{};
    attrs.event_mask = PropertyChangeMask | StructureNotifyMask;
    Window probe = XCreateWindow(d, c->root, 0, 0, 640, 480, 0, CopyFromParent, InputOutput,
                                 CopyFromParent, CWEventMask, &attrs);
    Atom request = XInternAtom(d, "_NET_REQUEST_FRAME_EXTENTS", False);
    Atom extents = XInternAtom(d, "_NET_FRAME_EXTENTS", False);
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = probe;
    ev.xclient.message_type = request;
    ev.xclient.format = 32;
    XSendEvent(d, c->root, False, SubstructureNotifyMask | SubstructureRedirectMask, &ev);
    XFlush(d);
    double end = qxGetSeconds() + 0.1;
    for (;;) {
        while (XCheckTypedWindowEvent(d, probe, PropertyNotify, &ev)) {
            if (ev.xproperty.atom == extents) {
                x11GetFrameExtents(d, probe, &c->frameLeft, &c->frameTop, &c->frameWidth,
                                   &c->frameHeight);
                XDestroyWindow(d, probe);
                return;
            }
        }
        double left = end - qxGetSeconds();
        if (left <= 0)
            break;
        pollfd p{(int)c->fd, POLLIN, 0};
        poll(&p, 1, (int)(left * 1000) + 1);
    }
    XDestroyWindow(d, probe);
}

} // namespace

Cursor x11BlankCursor(x11Connection *c)
{
    if (!c || !c->display)
        return None;
    if (!c->blankCursor) {
        Display *d = c->display;
        Pixmap pm = XCreatePixmap(d, c->root, 1, 1, 1);
        GC gc = XCreateGC(d, pm, 0, nullptr);
        XSetForeground(d, gc, 0);
        XFillRectangle(d, pm, gc, 0, 0, 1, 1);
        XColor black{};
        c->blankCursor = XCreatePixmapCursor(d, pm, pm, &black, &black, 0, 0);
        XFreeGC(d, gc);
        XFreePixmap(d, pm);
    }
    return c->blankCursor;
}

Cursor x11FontCursor(x11Connection *c, int which)
{
    if (!c || !c->display || which < X11_CURSOR_BUSY || which > 7)
        return None;
    static const unsigned resizeShapes[8] = {XC_top_left_corner, XC_bottom_left_corner,
                                             XC_top_right_corner, XC_bottom_right_corner,
                                             XC_left_side, XC_right_side, XC_top_side,
                                             XC_bottom_side};
    Cursor &cursor = which == X11_CURSOR_BUSY   ? c->busyCursor
                     : which == X11_CURSOR_MOVE ? c->moveCursor
                                                : c->resizeCursors[which];
    if (!cursor)
        cursor = XCreateFontCursor(c->display, which == X11_CURSOR_BUSY   ? XC_watch
                                               : which == X11_CURSOR_MOVE ? XC_fleur
                                                                          : resizeShapes[which]);
    return cursor;
}

void x11OpenInputMethod(x11Connection *c)
{
    if (!XSupportsLocale())
        return;
    XSetLocaleModifiers("@im=none");
    c->im = XOpenIM(c->display, nullptr, nullptr, nullptr);
    if (!c->im)
        return;
    XIMStyles *styles = nullptr;
    bool keep = false;
    if (!XGetIMValues(c->im, XNQueryInputStyle, &styles, nullptr) && styles) {
        for (unsigned i = 0; i < styles->count_styles; i++)
            if (styles->supported_styles[i] == (XIMPreeditNothing | XIMStatusNothing))
                keep = true;
        XFree(styles);
    }
    if (!keep) {
        XCloseIM(c->im);
        c->im = nullptr;
    }
}

namespace {

// Visuals are read from the screen's own depth list: XGetVisualInfo maps
// every match back to its Visual by a linear search, quadratic on servers
// that offer a few hundred visuals.
Visual *firstVisual(Display *d, int screen, int depth, bool (*accept)(const Visual *))
{
    Screen *s = ScreenOfDisplay(d, screen);
    for (int i = 0; s && i < s->ndepths; i++) {
        const Depth &dp = s->depths[i];
        if (dp.depth != depth)
            continue;
        for (int j = 0; j < dp.nvisuals; j++)
            if (accept(&dp.visuals[j]))
                return &dp.visuals[j];
    }
    return nullptr;
}

void findArgbVisual(x11Connection *c)
{
    Visual *v = firstVisual(c->display, (int)c->screen, 32, [](const Visual *v) {
        return v->c_class == TrueColor && v->red_mask == 0xFF0000 && v->green_mask == 0xFF00 &&
               v->blue_mask == 0xFF && v->bits_per_rgb == 8;
    });
    if (!v)
        return;
    XVisualInfo tmpl{};
    tmpl.screen = (int)c->screen;
    tmpl.visualid = XVisualIDFromVisual(v);
    int n = 0;
    c->visualList = XGetVisualInfo(c->display, VisualScreenMask | VisualIDMask, &tmpl, &n);
    c->argbVisual = v;
    c->argbColormap = XCreateColormap(c->display, c->root, v, AllocNone);
    XInstallColormap(c->display, c->argbColormap);
}

int defaultPixelFormat(Display *d, int screen, uint32_t depth)
{
    Visual *v = firstVisual(d, screen, (int)depth, [](const Visual *v) { return v->c_class == TrueColor; });
    if (!v)
        return -1;
    XVisualInfo info{};
    info.red_mask = v->red_mask;
    info.green_mask = v->green_mask;
    info.blue_mask = v->blue_mask;
    return x11PixelFormatOf(&info);
}

// The connection start-up opened to read the resources, until a display
// of the same server takes it over.
Display *spareDisplay;
char spareName[256];

// The pointer-watch threads pause on this, so that a stop ends the pause.
pthread_mutex_t watchPauseMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t watchPauseCond = PTHREAD_COND_INITIALIZER;

void closeConnection(x11Connection *c)
{
    if (c->im)
        XCloseIM(c->im);
    if (c->watchRunning) {
        // The thread's pause ends at once: waiting out its 20 ms made every
        // exit that much slower.
        pthread_mutex_lock(&watchPauseMutex);
        __atomic_store_n(&c->watchStop, 1u, __ATOMIC_RELEASE);
        pthread_cond_broadcast(&watchPauseCond);
        pthread_mutex_unlock(&watchPauseMutex);
        pthread_join(c->watchThread, nullptr);
    }
    Display *d = c->display;
    if (c->busyCursor)
        XFreeCursor(d, c->busyCursor);
    if (c->moveCursor)
        XFreeCursor(d, c->moveCursor);
    if (c->blankCursor)
        XFreeCursor(d, c->blankCursor);
    for (Cursor cur : c->resizeCursors)
        if (cur)
            XFreeCursor(d, cur);
    if (c->visualList)
        XFree(c->visualList);
    if (c->argbColormap)
        XFreeColormap(d, c->argbColormap);
    XCloseDisplay(d);
    std::free(c);
}

} // namespace

extern "C" {

void x11InstallErrorHandlers(void)
{
    XSetErrorHandler(recordXError);
    XSetIOErrorHandler(lostConnection);
}

int x11CheckErrors(Display *display)
{
    if (display)
        XSync(display, False);
    return lastXError.exchange(0);
}

int x11CheckErrorsUpTo(Display *display, unsigned long request)
{
    if (LastKnownRequestProcessed(display) < request)
        XSync(display, False);
    return lastXError.exchange(0);
}

int x11PixelFormatOf(const XVisualInfo *v)
{
    struct Row {
        unsigned long r, g, b;
        int format;
    };
    static const Row rows[] = {{0x00FF0000, 0x0000FF00, 0x000000FF, 10},
                               {0x0000FF00, 0x00FF0000, 0xFF000000, 11},
                               {0xFF000000, 0x00FF0000, 0x0000FF00, 12},
                               {0xF800, 0x07E0, 0x001F, 4}};
    for (const Row &row : rows)
        if (v->red_mask == row.r && v->green_mask == row.g && v->blue_mask == row.b)
            return row.format;
    return -1;
}

double x11ScaleFromResources(const char *resources)
{
    double dpi = 96.0;
    if (!resources)
        return 1.0;
    XrmInitialize();
    XrmDatabase db = XrmGetStringDatabase(resources);
    if (!db)
        return 1.0;
    char *type = nullptr;
    XrmValue value{};
    if (XrmGetResource(db, "Xft.dpi", "String", &type, &value) && value.addr && value.size) {
        char text[64];
        size_t n = value.size < sizeof text ? value.size : sizeof text - 1;
        std::memcpy(text, value.addr, n);
        text[n] = 0;
        double v = std::strtod(text, nullptr);
        if (v > 0 && v < 10000)
            dpi = v;
    }
    XrmDestroyDatabase(db);
    return dpi / 96.0;
}

int x11InitPlatform(void)
{
    // The platform's own start-up (locale, imports, timers) runs first in
    // qxInitPlatform; here only what the X layer adds.
    x11InstallErrorHandlers();
    x11ScaleFactor = 1.0;
    if (Display *d = XOpenDisplay(x11DefaultServer[0] ? x11DefaultServer : nullptr)) {
        x11ScaleFactor = x11ScaleFromResources(XResourceManagerString(d));
        // Kept for the first connection to the same server: a second
        // connection set-up costs as much as the rest of the window's.
        spareDisplay = d;
        std::snprintf(spareName, sizeof spareName, "%s", x11DefaultServer);
    }
    return 0;
}

void x11ExitPlatform(void)
{
    x11StopInputWatch(); // it watches the sockets closed below
    if (spareDisplay)
        XCloseDisplay(spareDisplay);
    spareDisplay = nullptr;
    // The error report may have used the requester thread: it ends first.
    qxGtkStopThread();
    qxEndNotifications();
    joyCloseAll();
    while (x11Connections) {
        x11Connection *c = x11Connections;
        x11Connections = c->next;
        closeConnection(c);
    }
}

void qxGetScaleFactor(double *factor) { *factor = x11ScaleFactor; }

void x11GetDPI(int *x, int *y)
{
    *x = 72;
    *y = 72;
}

int x11OpenConnection(const char *name, x11Connection **out)
{
    const char *wanted = name && name[0] ? name : x11DefaultServer;
    x11Connection **tail = &x11Connections;
    for (x11Connection *c = x11Connections; c; c = c->next) {
        if (!std::strcmp(c->name, wanted)) {
            *out = c;
            // A server refused once stays refused.
            return c->refused ? ERR_PIXELFORMAT : 0;
        }
        tail = &c->next;
    }
    auto *c = static_cast<x11Connection *>(std::calloc(1, sizeof(x11Connection)));
    if (!c)
        return ERR_MEM;
    c->saverEnabled = 1;
    x11InstallErrorHandlers();
    if (spareDisplay && !std::strcmp(spareName, wanted)) {
        c->display = spareDisplay;
        spareDisplay = nullptr;
    } else {
        c->display = XOpenDisplay(wanted[0] ? wanted : nullptr);
    }
    if (!c->display) {
        std::free(c);
        return ERR_XDISPLAY;
    }
    *tail = c;
    std::snprintf(c->name, sizeof c->name, "%s", wanted);
    Display *d = c->display;
    c->screen = (uint32_t)DefaultScreen(d);
    c->root = RootWindow(d, (int)c->screen);
    c->depth = (uint32_t)DefaultDepth(d, (int)c->screen);
    c->pixelFormat = defaultPixelFormat(d, (int)c->screen, c->depth);
    c->fd = (uint32_t)ConnectionNumber(d);
    *out = c;
    if (qxDisplayAdapterActive())
        return 0;
    if (c->pixelFormat < 0 || (qxScreenPixelFormat != -1 && qxScreenPixelFormat != c->pixelFormat)) {
        c->refused = 1;
        return ERR_PIXELFORMAT;
    }
    if (qxLibImports.complete[QX_LIB_XFIXES]) {
        int errorBase = 0;
        auto query = reinterpret_cast<Bool (*)(Display *, int *, int *)>(
            qxLibImports.XFixesQueryExtension);
        auto version = reinterpret_cast<Status (*)(Display *, int *, int *)>(
            qxLibImports.XFixesQueryVersion);
        if (query(d, &c->xfixesEventBase, &errorBase))
            version(d, &c->xfixesMajor, &c->xfixesMinor);
        else
            c->xfixesEventBase = -1;
    }
    probeFrame(c);
    if (!x11NoMouseHook) {
        c->watchX = c->watchY = -1;
        c->watchThread = qxCreateThread(x11PointerWatchThread, c, 0);
        if (!c->watchThread)
            return ERR_THREAD;
        c->watchRunning = 1;
    }
    findArgbVisual(c);
    c->imPending = 1;
    return 0;
}

int x11InitPixelFormat(qxDisplay *display)
{
    x11Connection *c = nullptr;
    if (x11OpenConnection(display ? display->xServer : nullptr, &c) || !c)
        qxScreenPixelFormat = 10;
    else
        qxScreenPixelFormat = c->pixelFormat < 0 ? 10 : c->pixelFormat;
    return 0;
}

int x11AllocDisplayData(qxDisplay *display)
{
    auto *data = static_cast<x11DisplayData *>(std::calloc(1, sizeof(x11DisplayData)));
    if (!data)
        return ERR_MEM;
    data->lastKey = -1;
    data->modeSwitchRequest = -1;
    display->window = data;
    return 0;
}

void x11FreeDisplayData(qxDisplay *display)
{
    std::free(display->window);
    display->window = nullptr;
}

x11DisplayData *x11Data(const qxDisplay *display)
{
    return display && !qxDisplayAdapterActive() ? static_cast<x11DisplayData *>(display->window)
                                                : nullptr;
}

namespace {

// One period of the watch, ended early by the stop; false once stopped.
bool watchPause(x11Connection *c)
{
    timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_nsec += 20000000;
    if (until.tv_nsec >= 1000000000) {
        until.tv_sec++;
        until.tv_nsec -= 1000000000;
    }
    pthread_mutex_lock(&watchPauseMutex);
    while (!__atomic_load_n(&c->watchStop, __ATOMIC_ACQUIRE) &&
           pthread_cond_timedwait(&watchPauseCond, &watchPauseMutex, &until) == 0) {
    }
    pthread_mutex_unlock(&watchPauseMutex);
    return !__atomic_load_n(&c->watchStop, __ATOMIC_ACQUIRE);
}

} // namespace

void *x11PointerWatchThread(void *arg)
{
    auto *c = static_cast<x11Connection *>(arg);
    // The connection is opened after the first period: it would compete with
    // start-up for the server, and an applet that ends at once never needs it.
    if (!watchPause(c))
        return nullptr;
    Display *d = XOpenDisplay(c->name[0] ? c->name : nullptr);
    if (!d)
        return nullptr;
    Window root = DefaultRootWindow(d);
    do {
        Window r, child;
        int rx, ry, wx, wy;
        unsigned mask;
        if (XQueryPointer(d, root, &r, &child, &rx, &ry, &wx, &wy, &mask) &&
            (rx != c->watchX || ry != c->watchY)) {
            c->watchX = rx;
            c->watchY = ry;
            qxSendWakeMessage(QX_WAKE_POINTER, (uint64_t)(uintptr_t)c);
        }
    } while (watchPause(c));
    XCloseDisplay(d);
    return nullptr;
}
}
