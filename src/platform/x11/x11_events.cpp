// The X11 event pump: drains the wake-up pipe, reads the X events of every
// connection within a time budget, turns them into runtime events, moves
// and sizes borderless windows itself, and acts per display on what the
// events asked for.
#include <X11/Xatom.h>
#include <X11/keysym.h>
#include <sys/select.h>

#include <time.h>

#include <cstdlib>
#include <cstring>

#include "platform/qx_errcodes.h"
#include "platform/qx_joystick.h"
#include "platform/qx_libimports.h"
#include "platform/qx_sync.h"
#include "platform/qx_systimers.h"
#include "platform/qx_upcalls.h"
#include "platform/qx_wakepipe.h"
#include "platform/x11/x11_display.h"
#include "platform/x11/x11_clipboard.h"

extern "C" {
uint32_t x11QuitCtrlC = 1, x11QuitLeftMouse, x11QuitEscape;
uint32_t x11MoreEventsPending;
volatile uint32_t qxQuitRequested;
}

namespace {

// Longest time the line hook lets the X sockets go unread: what a key press
// may wait while a script computes.
constexpr int64_t kPumpIntervalNs = 500000;
int64_t lastPumpNs;

int64_t monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts); // vDSO: no system call
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

enum : uint32_t {
    EV_LEFT = 1, EV_RIGHT = 2, EV_KEY = 3, EV_MOVED = 4, EV_SIZED = 5, EV_INACTIVE = 6,
    EV_CLOSE = 7, EV_ACTIVE = 8, EV_HIDDEN = 9, EV_SHOWN = 10, EV_WHEELUP = 11,
    EV_WHEELDOWN = 12, EV_MODESWITCH = 13, EV_CLIPBOARD = 15, EV_MIDDLE = 16, EV_CHAR = 28,
    EV_RAWKEY = 29,
};

qxDisplay *firstDisplay() { return qxUpcalls.displayList ? qxUpcalls.displayList() : nullptr; }
qxDisplay *nextDisplay(qxDisplay *d) { return static_cast<qxDisplay *>(d->header.next); }

void post(qxDisplay *d, uint32_t type, uint32_t p1 = 0, uint32_t p2 = 0, uint32_t p3 = 0)
{
    if (qxUpcalls.postEvent)
        qxUpcalls.postEvent(d, type, p1, p2, p3, nullptr);
}

bool hasHandler(const qxDisplay *d, uint32_t slot)
{
    return d->handlers[slot].function != QX_NO_REF;
}

bool inRegions(const qxRegion *regions, uint32_t count, int x, int y, const qxRegion **hit)
{
    for (uint32_t i = 0; i < count && i < QX_MAX_REGIONS; i++) {
        const qxRegion &r = regions[i];
        if (x >= r.x && y >= r.y && x < r.x + r.width && y < r.y + r.height) {
            if (hit)
                *hit = &r;
            return true;
        }
    }
    return false;
}

void setShape(x11DisplayData *x, unsigned long region)
{
    auto setShapeRegion = reinterpret_cast<void (*)(Display *, Window, int, int, int, unsigned long)>(
        qxLibImports.XFixesSetWindowShapeRegion);
    setShapeRegion(x->display, x->window, 0 /* ShapeBounding */, 0, 0, region);
    setShapeRegion(x->display, x->window, 2 /* ShapeInput */, 0, 0, region);
}

struct PollState {
    bool quit = false;
};

void handleKey(qxDisplay *d, x11DisplayData *x, XKeyEvent *ev, PollState &poll)
{
    uint32_t pressed = ev->type == KeyPress;
    char buffer[10];
    KeySym keysym = 0;
    XLookupString(ev, buffer, sizeof buffer, &keysym, nullptr);
    if (uint32_t code = x11ModifierCode(keysym)) {
        uint32_t *state = nullptr;
        switch (keysym) {
        case XK_ISO_Level3_Shift:
        case XK_Alt_R: state = &x->rightAlt; break;
        case XK_Shift_L: state = &x->leftShift; break;
        case XK_Shift_R: state = &x->rightShift; break;
        case XK_Control_L: state = &x->leftControl; break;
        case XK_Control_R: state = &x->rightControl; break;
        case XK_Alt_L: state = &x->leftAlt; break;
        case XK_Super_L: state = &x->leftSuper; break;
        default: state = &x->rightSuper; break;
        }
        *state = pressed;
        d->input.keys[QX_RAWKEY_BASE + code] = (uint8_t)pressed;
        post(d, EV_RAWKEY, pressed, 0, code);
        return;
    }
    KeySym firstColumn = XLookupKeysym(ev, 0);
    uint32_t special = 0;
    int16_t *recorded = ev->keycode < 256 ? x->pressCodes[ev->keycode] : nullptr;
    for (int pass = 0; pass < 2; pass++) {
        x11KeyResult key = x11MapKey(keysym, firstColumn, pass);
        special = key.special;
        // Shift released before the key: the keysym is now another one.
        if (recorded && pressed)
            recorded[pass] = (int16_t)(key.code + 2);
        else if (recorded && recorded[pass]) {
            key.code = recorded[pass] - 2;
            recorded[pass] = 0;
        }
        if (pass == 1) {
            bool alt = x->leftAlt || x->rightAlt;
            if (key.code == (int32_t)QX_KEY_RETURN && !pressed && alt &&
                (!qxUpcalls.displayIsVisible || qxUpcalls.displayIsVisible(d)) &&
                !(d->flags & QX_DISP_NOMODESWITCH) &&
                !(qxUpcalls.requesterOpenOn && qxUpcalls.requesterOpenOn(d)))
                x->modeSwitchRequest = d->fullScreen ? 0 : 1;
            if ((x->leftControl || x->rightControl) && keysym == XK_c && x11QuitCtrlC == 1)
                poll.quit = true;
        }
        if (key.code < 0 || key.code >= (int32_t)QX_RAWKEY_BASE)
            continue;
        if (pass == 1) {
            x->lastKey = key.code;
            d->input.keys[key.code] = (uint8_t)pressed;
            post(d, EV_KEY, pressed, 0, (uint32_t)key.code);
        } else {
            d->input.keys[QX_RAWKEY_BASE + key.code] = (uint8_t)pressed;
            post(d, EV_RAWKEY, pressed, 0, (uint32_t)key.code);
        }
    }
    if (!pressed || special || !x->ic)
        return;
    if (keysym == XK_space) {
        post(d, EV_CHAR, 0, 0, 32);
        return;
    }
    if (XFilterEvent(reinterpret_cast<XEvent *>(ev), None))
        return;
    wchar_t chars[16];
    KeySym ignored;
    Status status;
    int n = XwcLookupString(x->ic, ev, chars, 16, &ignored, &status);
    if (status != XLookupChars && status != XLookupBoth)
        return; // nothing, or more than the buffer holds: nothing was stored
    for (int i = 0; i < n && i < 16; i++)
        if ((uint32_t)chars[i] > 31)
            post(d, EV_CHAR, 0, 0, (uint32_t)chars[i]);
}

void beginDragOrResize(qxDisplay *d, x11DisplayData *x, XButtonEvent *ev)
{
    x->dragRootX = ev->x_root;
    x->dragRootY = ev->y_root;
    const qxRegion *hit = nullptr;
    if ((d->flags & QX_DISP_SIZEABLE) &&
        inRegions(d->sizeRegions, d->sizeRegionCount, ev->x, ev->y, &hit)) {
        int32_t offset[2];
        x->resizeEdge = x11ClassifySizeRegion(d->width, d->height, ev->x, ev->y, hit->x, hit->y,
                                              hit->width, hit->height, offset);
        x->grabOffsetX = offset[0];
        x->grabOffsetY = offset[1];
        x->resizing = 1;
        x->resizePending = 1;
        x->newWidth = (uint32_t)d->width;
        x->newHeight = (uint32_t)d->height;
        x->resizeLeft = d->x + d->borderLeft;
        x->resizeTop = d->y + d->borderTop;
        x->resizeRight = x->resizeLeft + d->width - 1;
        x->resizeBottom = x->resizeTop + d->height - 1;
        if (x->shape && qxLibImports.complete[QX_LIB_XFIXES]) {
            // The shape would clip the growing window: lift it while sizing.
            XRectangle all{0, 0, 16000, 16000};
            auto create = reinterpret_cast<unsigned long (*)(Display *, XRectangle *, int)>(
                qxLibImports.XFixesCreateRegion);
            auto destroy = reinterpret_cast<void (*)(Display *, unsigned long)>(
                qxLibImports.XFixesDestroyRegion);
            unsigned long region = create(x->display, &all, 1);
            setShape(x, region);
            destroy(x->display, region);
        }
    } else if (!(d->flags & QX_DISP_FIXED) &&
               inRegions(d->dragRegions, d->dragRegionCount, ev->x, ev->y, nullptr)) {
        Window child;
        int wx = 0, wy = 0;
        XTranslateCoordinates(x->display, x->window, x->root, 0, 0, &wx, &wy, &child);
        x->dragging = 1;
        x->dragWindowX = wx;
        x->dragWindowY = wy;
    }
}

void handleButton(qxDisplay *d, x11DisplayData *x, XButtonEvent *ev)
{
    uint32_t pressed = ev->type == ButtonPress;
    if (!x->grabbed) {
        // Keep reporting while the pointer is dragged outside the window.
        if (pressed)
            XGrabPointer(x->display, x->window, False,
                         ButtonPressMask | ButtonReleaseMask | PointerMotionMask | ButtonMotionMask,
                         GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
        else
            XUngrabPointer(x->display, CurrentTime);
    }
    if (ev->button == Button1 && pressed && (d->flags & QX_DISP_BORDERLESS))
        beginDragOrResize(d, x, ev);
    if (!pressed && (x->dragging || x->resizing)) {
        if (x->dragging) {
            x->dragging = 0;
            x->refreshNeeded = 1;
        } else {
            x->resizing = 0;
        }
        return;
    }
    if (x->dragging || x->resizing)
        return;
    uint32_t px = (uint32_t)ev->x, py = (uint32_t)ev->y;
    switch (ev->button) {
    case Button1:
        d->input.leftButton = pressed;
        post(d, EV_LEFT, px, py, pressed);
        break;
    case Button2:
        d->input.middleButton = pressed;
        post(d, EV_MIDDLE, px, py, pressed);
        break;
    case Button3:
        d->input.rightButton = pressed;
        post(d, EV_RIGHT, px, py, pressed);
        break;
    case Button4:
    case Button5:
        if (pressed)
            post(d, ev->button == Button4 ? EV_WHEELUP : EV_WHEELDOWN, px, py, 0);
        break;
    default: break;
    }
}

void handleMotion(qxDisplay *d, x11DisplayData *x, XMotionEvent *ev)
{
    if (x->dragging || x->resizing) {
        XEvent skipped;
        while (XCheckTypedWindowEvent(x->display, x->window, MotionNotify, &skipped)) {
        }
        Window r, child;
        int rx, ry, wx, wy;
        unsigned mask;
        if (!XQueryPointer(x->display, x->root, &r, &child, &rx, &ry, &wx, &wy, &mask))
            return;
        if (x->dragging) {
            XMoveWindow(x->display, x->window, x->dragWindowX + rx - x->dragRootX,
                        x->dragWindowY + ry - x->dragRootY);
            return;
        }
        uint32_t c = x->resizeEdge;
        if (c == 2 || c == 3 || c == 5)
            x->resizeRight = rx + x->grabOffsetX;
        if (c == 0 || c == 1 || c == 4)
            x->resizeLeft = rx - x->grabOffsetX;
        if (c == 1 || c == 3 || c == 7)
            x->resizeBottom = ry + x->grabOffsetY;
        if (c == 0 || c == 2 || c == 6)
            x->resizeTop = ry - x->grabOffsetY;
        int left = x->resizeLeft < x->resizeRight ? x->resizeLeft : x->resizeRight;
        int top = x->resizeTop < x->resizeBottom ? x->resizeTop : x->resizeBottom;
        unsigned w = (unsigned)std::abs(x->resizeRight - x->resizeLeft) + 1;
        unsigned h = (unsigned)std::abs(x->resizeBottom - x->resizeTop) + 1;
        XMoveResizeWindow(x->display, x->window, left, top, w, h);
        return;
    }
    // Moves over a window without the focus reach the script too.
    d->input.pointerMoved = 1;
    d->input.pointerMovedAt = qxGetSeconds();
    if (!(d->flags & QX_DISP_BORDERLESS))
        return;
    x11Connection *c = x->conn;
    uint32_t was = c->cursorOverridden;
    c->cursorOverridden = 0;
    const qxRegion *hit = nullptr;
    if ((d->flags & QX_DISP_SIZEABLE) &&
        inRegions(d->sizeRegions, d->sizeRegionCount, ev->x, ev->y, &hit)) {
        int32_t offset[2];
        uint32_t edge = x11ClassifySizeRegion(d->width, d->height, ev->x, ev->y, hit->x, hit->y,
                                              hit->width, hit->height, offset);
        XDefineCursor(x->display, x->window, x11FontCursor(c, (int)(edge & 7)));
        c->cursorOverridden = 1;
    } else if (!(d->flags & QX_DISP_FIXED) &&
               inRegions(d->dragRegions, d->dragRegionCount, ev->x, ev->y, nullptr)) {
        XDefineCursor(x->display, x->window, x11FontCursor(c, X11_CURSOR_MOVE));
        c->cursorOverridden = 1;
    } else if (was) {
        XDefineCursor(x->display, x->window, x->pointer);
    }
}

bool leftButtonHeld(x11DisplayData *x) { return x11IsLeftButtonDown(x->display, x->window); }

void handleEvent(qxDisplay *d, x11DisplayData *x, XEvent *ev, PollState &poll)
{
    switch (ev->type) {
    case KeyPress:
    case KeyRelease: handleKey(d, x, &ev->xkey, poll); break;
    case ButtonPress:
    case ButtonRelease: handleButton(d, x, &ev->xbutton); break;
    case MotionNotify: handleMotion(d, x, &ev->xmotion); break;
    case FocusIn:
        if (x->ic)
            XSetICFocus(x->ic);
        if (ev->xfocus.mode == NotifyNormal) {
            d->input.active = 1;
            post(d, EV_ACTIVE);
        }
        break;
    case FocusOut:
        if (x->ic)
            XUnsetICFocus(x->ic);
        if (ev->xfocus.mode == NotifyNormal) {
            d->input.active = 0;
            std::memset(d->input.keys, 0, sizeof d->input.keys);
            post(d, EV_INACTIVE);
        }
        break;
    case Expose:
        if (ev->xexpose.count != 0)
            break;
        if (x->resizePending && leftButtonHeld(x))
            x11FillRect(d, ev->xexpose.x, ev->xexpose.y, ev->xexpose.width, ev->xexpose.height, 0);
        else
            x->refreshNeeded = 1;
        break;
    case UnmapNotify:
        d->state = QX_DISPSTATE_MINIMIZED;
        post(d, EV_HIDDEN);
        break;
    case MapNotify:
        d->state = QX_DISPSTATE_OPEN;
        post(d, EV_SHOWN);
        break;
    case ConfigureNotify: {
        const XConfigureEvent &c = ev->xconfigure;
        const uint32_t width = (uint32_t)(c.width > 0 ? c.width : 1);
        const uint32_t height = (uint32_t)(c.height > 0 ? c.height : 1);
        // The answer to an older size the program asked: place and size
        // are the newer ask's until its own answer comes.
        if (x11StaleConfigure(x, width, height))
            break;
        d->x = c.x - d->borderLeft;
        d->y = c.y - d->borderTop;
        x->newWidth = width;
        x->newHeight = height;
        if (!x->resizePending) {
            if ((int)x->newWidth != d->width || (int)x->newHeight != d->height)
                x->resizePending = 1;
            else
                post(d, EV_MOVED);
        }
        break;
    }
    case SelectionRequest:
    case SelectionClear:
    case PropertyNotify:
        x11HandleSelectionEvent(d, x, ev);
        break;
    case SelectionNotify:
        if (!x11HandleSelectionEvent(d, x, ev))
            x11HandleDropData(d, x, &ev->xselection);
        break;
    case ClientMessage:
        if (x11HandleDndMessage(d, x, &ev->xclient))
            break;
        if (ev->xclient.format == 32 && x->atoms[X11_WM_DELETE_WINDOW] &&
            (Atom)ev->xclient.data.l[0] == x->atoms[X11_WM_DELETE_WINDOW]) {
            x->closeRequest = 1;
            post(d, EV_CLOSE);
        }
        break;
    default:
        if (qxLibImports.complete[QX_LIB_XFIXES] && x->conn->xfixesEventBase > 0 &&
            ev->type == x->conn->xfixesEventBase && hasHandler(d, QX_SLOT_CLIPBOARDCHANGE))
            post(d, EV_CLIPBOARD);
        break;
    }
}

Window eventWindow(const XEvent *ev)
{
    // Every event structure begins {type, serial, send_event, display, window}.
    return ev->xany.window;
}

// Step 7 for one display; returns 1 with *error on a failed switch or rescale.
int finishDisplay(qxDisplay *d, x11DisplayData *x, PollState &poll, int *error)
{
    if (x->refreshNeeded) {
        if (qxUpcalls.refreshWholeDisplay)
            qxUpcalls.refreshWholeDisplay(d, 2);
        x->refreshNeeded = 0;
    }
    if (x->iconifyRequest) {
        x11ShowWindow(d, 1);
        d->state = QX_DISPSTATE_MINIMIZED;
        if (x->restoreRequest) {
            x11ShowWindow(d, 0);
            d->state = QX_DISPSTATE_OPEN;
        }
    } else if (x->restoreRequest) {
        x11ShowWindow(d, 0);
        d->state = QX_DISPSTATE_OPEN;
    }
    if (d->input.leftButton && x11QuitLeftMouse)
        poll.quit = true;
    if (x->lastKey == (int32_t)QX_KEY_ESC && x11QuitEscape)
        poll.quit = true;
    if (x->modeSwitchRequest != -1) {
        d->mode = x->modeSwitchRequest == 1 ? QX_WINMODE_FULLSCREEN : QX_WINMODE_WINDOWED;
        d->screenWidth = (uint32_t)d->width;
        d->screenHeight = (uint32_t)d->height;
        x->modeSwitchRequest = -1;
        int r = qxUpcalls.openDisplayWindow ? qxUpcalls.openDisplayWindow(d, 5) : 0;
        if (r) {
            *error = r;
            return 1;
        }
        post(d, EV_MODESWITCH);
    }
    if (x->resizePending && x->window && !leftButtonHeld(x)) {
        post(d, EV_SIZED);
        x->resizePending = 0;
        int r = 0;
        if (qxUpcalls.displayRescale)
            r = qxUpcalls.displayRescale(d, (int)x->newWidth, (int)x->newHeight, 100000, 100000);
        else {
            d->width = (int32_t)x->newWidth;
            d->height = (int32_t)x->newHeight;
        }
        if (r) {
            *error = r;
            return 1;
        }
    }
    if (x->closeRequest && !hasHandler(d, QX_SLOT_CLOSEWINDOW) && !d->closeHandler)
        poll.quit = true;
    return 0;
}

} // namespace

extern "C" {

int x11IsLeftButtonDown(Display *display, Window window)
{
    Window r, child;
    int rx, ry, wx, wy;
    unsigned mask = 0;
    if (!display || !window || !XQueryPointer(display, window, &r, &child, &rx, &ry, &wx, &wy, &mask))
        return 0;
    return (mask & Button1Mask) ? 1 : 0;
}

uint32_t x11ClassifySizeRegion(int W, int H, int px, int py, int x, int y, int width, int height,
                               int32_t offset[2])
{
    int right = x + width - 1, bottom = y + height - 1;
    bool top = y <= 9 && bottom >= 0;
    bool bot = bottom >= H - 10 && y < H;
    bool left = x <= 9 && right >= 0;
    bool rgt = right >= W - 10 && x < W;
    uint32_t code;
    if (top && left)
        code = 0;
    else if (bot && left && x <= 10)
        code = 1;
    else if (top && rgt)
        code = 2;
    else if (bot && rgt)
        code = 3;
    else if (left)
        code = 4;
    else if (rgt)
        code = 5;
    else if (top && right >= 0 && x < W)
        code = 6;
    else if (bot && right >= 0 && x < W)
        code = 7;
    else
        code = 3;
    bool dragsLeft = code == 0 || code == 1 || code == 4;
    bool dragsTop = code == 0 || code == 2 || code == 6;
    offset[0] = dragsLeft ? px : right - px;
    offset[1] = dragsTop ? py : bottom - py;
    return code;
}

// The input methods that start-up left for later, with the input contexts
// of the windows that opened meanwhile.
static void openPendingInputMethods()
{
    for (x11Connection *c = x11Connections; c; c = c->next) {
        if (!c->imPending)
            continue;
        // Without a window of the connection there is no input to read.
        bool windows = false;
        for (qxDisplay *d = firstDisplay(); d && !windows; d = nextDisplay(d)) {
            const x11DisplayData *x = x11Data(d);
            windows = x && x->conn == c && x->window;
        }
        if (!windows)
            continue;
        c->imPending = 0;
        x11OpenInputMethod(c);
        if (!c->im)
            continue;
        for (qxDisplay *d = firstDisplay(); d; d = nextDisplay(d)) {
            x11DisplayData *x = x11Data(d);
            if (!x || x->conn != c || !x->window || x->ic)
                continue;
            x->ic = XCreateIC(c->im, XNInputStyle, XIMPreeditNothing | XIMStatusNothing,
                              XNClientWindow, x->window, XNFocusWindow, x->window, nullptr);
            if (x->ic && d->input.active)
                XSetICFocus(x->ic);
        }
    }
}

int x11EventsMayBePending(void)
{
    if (qxWakeMessageSent() || x11MoreEventsPending || x11InputWatchFired())
        return 1;
    for (x11Connection *c = x11Connections; c; c = c->next)
        if (XQLength(c->display) > 0)
            return 1;
    // The clock is read on every 16th call only: the hook runs every few
    // microseconds in a busy script.
    static unsigned calls;
    if (++calls % 16)
        return 0;
    return monotonicNs() - lastPumpNs >= kPumpIntervalNs;
}

namespace {

int pumpEvents(int *error)
{
    lastPumpNs = monotonicNs();
    qxClearWakeMessageSent();
    qxWakeMessage msg;
    while (qxReadWakeMessage(&msg)) {
        if (msg.type == QX_WAKE_TIMER) {
            qxHandleTimerMessage(msg.type, msg.data);
        } else if (msg.type == QX_WAKE_POINTER) {
            for (qxDisplay *d = firstDisplay(); d; d = nextDisplay(d)) {
                x11DisplayData *x = x11Data(d);
                if (d->input.active && x && (uint64_t)(uintptr_t)x->conn == msg.data) {
                    d->input.pointerMoved = 1;
                    d->input.pointerMovedAt = qxGetSeconds();
                    break;
                }
            }
        }
    }
    x11PollNoWindow();
    for (qxDisplay *d = firstDisplay(); d; d = nextDisplay(d)) {
        if (x11DisplayData *x = x11Data(d)) {
            x->closeRequest = x->iconifyRequest = x->restoreRequest = 0;
            x->lastKey = -1;
            x->modeSwitchRequest = -1;
            x->refreshNeeded = 0;
        }
    }
    if (qxUpcalls.flushPendingDisplayUpdates)
        qxUpcalls.flushPendingDisplayUpdates();
    double start = qxGetSeconds();
    PollState poll;
    for (x11Connection *c = x11Connections; c; c = c->next) {
        while (XPending(c->display) > 0) {
            if (qxGetSeconds() - start > 0.05) {
                x11MoreEventsPending = 1;
                break;
            }
            XEvent ev;
            XNextEvent(c->display, &ev);
            if (ev.type == KeyPress && c->imPending)
                openPendingInputMethods();
            Window w = eventWindow(&ev);
            for (qxDisplay *d = firstDisplay(); d; d = nextDisplay(d)) {
                x11DisplayData *x = x11Data(d);
                if (x && x->display == c->display && x->window && x->window == w)
                    handleEvent(d, x, &ev, poll);
            }
        }
    }
    for (qxDisplay *d = firstDisplay(); d; d = nextDisplay(d)) {
        x11DisplayData *x = x11Data(d);
        if (!x || !x->window || d->state == QX_DISPSTATE_CLOSED)
            continue;
        if (finishDisplay(d, x, poll, error))
            return 1;
    }
    if (poll.quit) {
        qxQuitRequested = 1;
        return 1;
    }
    return qxQuitRequested ? 1 : 0;
}

} // namespace

int x11WatchActive;

int x11HandleEvents(lua_State *, int *error)
{
    int r = pumpEvents(error);
    // The sockets are read: watched again, so that the script's next poll
    // waits for the watch, unless events were left for it.
    x11WatchActive = x11ArmInputWatch();
    if (x11MoreEventsPending && qxUpcalls.requestPoll)
        qxUpcalls.requestPoll();
    return r;
}

int x11WaitEvents(void)
{
    // Opening an input method reads the locale's compose tables, which
    // costs an applet that never waits more than all the rest of its run:
    // it is done when the script first waits, or at the first key press.
    openPendingInputMethods();
    if (x11MoreEventsPending) {
        x11MoreEventsPending = 0;
        return 0;
    }
    fd_set set;
    FD_ZERO(&set);
    int top = -1;
    for (x11Connection *c = x11Connections; c; c = c->next) {
        // A round trip may have queued events without leaving data on the
        // socket; select would then sleep on input already here.
        XFlush(c->display);
        if (XEventsQueued(c->display, QueuedAlready) > 0)
            return 0;
        if ((int)c->fd < FD_SETSIZE) {
            FD_SET((int)c->fd, &set);
            top = (int)c->fd > top ? (int)c->fd : top;
        }
    }
    if (qxWakePipeRead >= 0 && qxWakePipeRead < FD_SETSIZE) {
        FD_SET(qxWakePipeRead, &set);
        top = qxWakePipeRead > top ? qxWakePipeRead : top;
    }
    if (top < 0)
        return 0;
    x11InputWatchScriptWaits(1);
    select(top + 1, &set, nullptr, nullptr, nullptr);
    x11InputWatchScriptWaits(0);
    return 0;
}

void x11WakeEventLoop(void)
{
    if (qxDisplayAdapterActive()) {
        if (qxUpcalls.adapterForceEventLoop)
            qxUpcalls.adapterForceEventLoop();
        return;
    }
    qxSendWakeMessage(QX_WAKE_ONLY, 0);
}

void x11SetQuitKey(qxDisplay *, int kind, int value)
{
    if (kind == 8)
        x11QuitCtrlC = (uint32_t)value;
    else if (kind == 9)
        x11QuitLeftMouse = (uint32_t)value;
    else if (kind == 10)
        x11QuitEscape = (uint32_t)value;
}

int64_t x11GetAttribute(qxDisplay *display, int attribute)
{
    switch (attribute) {
    case 5: return 32;
    case 6:
    case 7: {
        x11DisplayData *x = x11Data(display);
        if (!x || !x->window)
            return 0;
        Window r, child;
        int rx, ry, wx = 0, wy = 0;
        unsigned mask;
        XQueryPointer(x->display, x->window, &r, &child, &rx, &ry, &wx, &wy, &mask);
        return attribute == 6 ? wx : wy;
    }
    case 8: return x11QuitCtrlC;
    case 9: return x11QuitLeftMouse;
    case 10: return x11QuitEscape;
    case 11:
    case 12: return 16;
    case 16: return 1;
    case 17: return 0;
    default: {
        const qxPlatformBitMap *work =
            display && qxUpcalls.workBuffer ? qxUpcalls.workBuffer(display) : nullptr;
        return int64_t(x11BitMapBufferAttr(work, attribute));
    }
    }
}

int x11PollNoWindow(void)
{
    if (qxUpcalls.reapChannels)
        qxUpcalls.reapChannels();
    joyPoll();
    return 0;
}

int x11CreateMessagePort(const char *) { return ERR_CREATEPORT; }

int x11SendPortMessage(const char *port)
{
    qxSetErrorString(port ? port : "");
    return ERR_FINDPORT;
}

int x11CheckPortMessages(void) { return 0; }
}
