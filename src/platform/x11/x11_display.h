// The X11 back-end of the display library: one connection record per X
// server, one X11 record per display, and the window, event, frame-output,
// screen and pointer operations on them.
#pragma once
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/xf86vmode.h>
#include <pthread.h>

#include <cstddef>
#include <cstdint>

#include "platform/qx_displayrecord.h"

typedef struct lua_State lua_State;

struct x11Connection {
    x11Connection *next;
    char name[256];
    Display *display;
    uint32_t screen;
    uint32_t fd;
    Window root;
    Visual *argbVisual;
    XVisualInfo *visualList;
    Colormap argbColormap;
    XIM im;
    uint32_t depth;
    int32_t pixelFormat;
    uint32_t frameLeft, frameTop, frameWidth, frameHeight;
    int32_t xfixesEventBase, xfixesMajor, xfixesMinor;
    uint32_t cursorOverridden;
    // The font cursors are made on first use (x11FontCursor): a themed one
    // is read from disk, ten of them cost a fifth of start-up. So is the
    // blank one (x11BlankCursor): its bitmap wakes Xcursor, which asks the
    // server for RENDER's formats.
    Cursor busyCursor, moveCursor, blankCursor;
    Cursor resizeCursors[8];
    pthread_t watchThread;
    uint32_t watchRunning;
    uint32_t watchStop; // atomic access
    int32_t watchX, watchY;
    // Cached extension answers: 0 not asked, 1 usable, 2 not usable.
    uint32_t randr13, vidMode;
    uint32_t refused; // its pixel format cannot be served
    // The input method is opened at the first event poll, not on the way
    // to the first frame (reading the locale's compose table is slow).
    uint32_t imPending;
    Atom wmLocaleName; // interned with a window's atoms, for its titles
    // While held (x11HoldMonitors), the monitor list read first is handed
    // out again: placing a window and opening it read it once.
    uint32_t monitorsHeld;
    struct x11Monitor *heldMonitors;
    // The screen saver of this server: 1 while it runs; the open displays
    // that asked for it to be suspended; the settings saved for the core
    // road (the display that saved them may be gone when the last closes);
    // whether the extension suspended it.
    uint32_t saverEnabled;
    uint32_t saverSuspenders;
    int savedSaver[4];
    uint32_t saverSuspendedByExtension;
};

// Atoms of a display's window, in a fixed order.
enum x11Atom {
    X11_WM_DELETE_WINDOW,
    X11_XdndEnter,
    X11_XdndLeave,
    X11_XdndPosition,
    X11_XdndStatus,
    X11_XdndDrop,
    X11_XdndSelection,
    X11_XdndFinished,
    X11_XdndActionCopy,
    X11_XdndTypeList,
    X11_PRIMARY,
    X11_CLIPBOARD,
    X11_TARGETS,
    X11_XCLIP_OUT,
    X11_TEXT_PLAIN,
    X11_UTF8_STRING,
    X11_IMAGE_PNG,
    X11_INCR,
    X11_TEXT_URI_LIST,
    X11_ATOM_COUNT
};

struct x11DisplayData {
    x11Connection *conn;
    Display *display;
    Visual *visual;
    uint32_t screen;
    Window window;
    Window root;
    GC gc;
    XIC ic;
    unsigned long shape; // XserverRegion
    uint32_t depth;
    // Shaped windows with an alpha channel: the shaping alpha plane (one
    // byte per pixel of the display) and the premultiplied frame buffer.
    uint8_t *alphaCopy;
    uint32_t alphaWidth, alphaHeight;
    uint32_t *scratch;
    uint32_t refreshNeeded;
    Atom atoms[X11_ATOM_COUNT];
    Atom dropType;
    Window dropSource;
    uint32_t closeRequest, iconifyRequest, restoreRequest;
    int32_t lastKey;
    int32_t modeSwitchRequest;
    // Per X keycode, the raw and vanilla codes its press gave, plus 2 (0:
    // no press seen): the release names what the press named, whatever
    // modifiers changed in between.
    int16_t pressCodes[256][2];
    uint32_t leftControl, rightControl, leftAlt, rightAlt, leftShift, rightShift, leftSuper,
        rightSuper;
    uint32_t resizePending, newWidth, newHeight;
    // The window's size as the server last reported it, followed by the
    // sizes the program asked of it since (x11MoveSizeWindow), newest last:
    // a window manager answers them late, and the answer to an older one
    // must not take back a newer.
    uint32_t askedCount;
    uint32_t askedWidth[8], askedHeight[8];
    uint32_t dragging, resizing;
    int32_t dragRootX, dragRootY, dragWindowX, dragWindowY;
    uint32_t resizeEdge;
    int32_t resizeLeft, resizeTop, resizeRight, resizeBottom;
    int32_t grabOffsetX, grabOffsetY;
    Cursor pointer;
    uint32_t ownedType;
    void *ownedData;
    uint32_t ownedLength;
    void *incrBuffer;
    uint32_t incrLength;
    uint32_t readPending;
    Atom readTarget;
    void *readDest;
    uint32_t readError;
    uint32_t incrActive;
    uint32_t grabbed;
    XF86VidModeModeInfo savedVidMode;
    uint32_t savedVidModeValid;
    unsigned long savedRandrMode; // RRMode
    uint32_t saverTimeout, saverInterval, saverPreferBlanking, saverAllowExposures;
    uint32_t saverSuspended; // this display counts among the suspenders
};

// Program key codes the pump produces beside character codes.
enum : uint32_t {
    QX_KEY_UP = 256,
    QX_KEY_RETURN = 274,
    QX_KEY_ESC = 275,
    QX_KEY_SPACE = 276,
    QX_KEY_HOME = 281,
    // The modifiers, LSHIFT to RCONTROL: shift, alt, command, control.
    QX_KEY_LSHIFT = 306,
    QX_KEY_RCONTROL = 313,
};

// One key looked up for a pass of the pump: code -1 for none.
struct x11KeyResult {
    int32_t code;
    uint32_t special;
};

// Monitor node, allocated by x11GetMonitors and freed by the caller with
// x11FreeMonitors.
struct x11Monitor {
    x11Monitor *next;
    uint32_t x, y, width, height;
};

struct x11ScreenMode {
    uint32_t width, height, refresh, current;
    uint64_t mode;
};

// An ARGB pointer made from an image, one node per X connection.
struct x11PointerImage {
    x11PointerImage *next;
    x11Connection *conn;
    void *image; // XcursorImage, first node only
    Cursor cursor;
};

// Icon node of the plug-in interface.
struct qxIconNode {
    qxIconNode *next;
    uint32_t *pixels;
    uint32_t width, height, flags;
};
static_assert(offsetof(qxIconNode, width) == 16 && sizeof(qxIconNode) == 32);

extern "C" {
extern x11Connection *x11Connections;
extern double x11ScaleFactor;
// Quit keys: Ctrl-C (1 at start), left mouse, Escape.
extern uint32_t x11QuitCtrlC, x11QuitLeftMouse, x11QuitEscape;
extern uint32_t x11MoreEventsPending;
// The program's quit-request flag, set when the pump or the host path ends
// the script.
extern volatile uint32_t qxQuitRequested;
// Set by start-up from the XSERVER and NOMOUSEHOOK options.
extern char x11DefaultServer[256];
extern uint32_t x11NoMouseHook;

// Platform start and exit.
int x11InitPlatform(void);
void x11ExitPlatform(void);
void qxGetScaleFactor(double *factor);
void x11GetDPI(int *x, int *y);
// Parses an "Xft.dpi" resource string into the scale factor (dpi / 96).
double x11ScaleFromResources(const char *resources);

// X errors: our handlers record instead of exiting. x11CheckErrors syncs
// the connection and returns the last error code since the previous call
// (0 none).
void x11InstallErrorHandlers(void);
int x11CheckErrors(Display *display);
// The same for errors up to the given request: syncs only when the server
// has not answered anything sent after it yet.
int x11CheckErrorsUpTo(Display *display, unsigned long request);
// Opens the input method of a connection (kept only when it offers the
// PreeditNothing | StatusNothing style).
void x11OpenInputMethod(x11Connection *connection);

// Connections and display records.
// The connection's busy (X11_CURSOR_BUSY), move (X11_CURSOR_MOVE) or
// resize pointer (the edge code 0-7), made when first asked for.
enum { X11_CURSOR_BUSY = -2, X11_CURSOR_MOVE = -1 };
Cursor x11FontCursor(x11Connection *connection, int which);
// The connection's blank pointer (a hidden pointer), made when first asked for.
Cursor x11BlankCursor(x11Connection *connection);
int x11OpenConnection(const char *name, x11Connection **out);
int x11InitPixelFormat(qxDisplay *display);
int x11InitWindowing(const qxIconNode *replacements);
int x11AllocDisplayData(qxDisplay *display);
void x11FreeDisplayData(qxDisplay *display);
x11DisplayData *x11Data(const qxDisplay *display);
int x11PixelFormatOf(const XVisualInfo *info);

// Windows.
int x11OpenDisplay(qxDisplay *display, int show, const uint8_t *mask, uint32_t maskBytesPerRow,
                   const uint8_t *alpha, uint32_t alphaBytesPerRow);
void x11CloseDisplay(qxDisplay *display);
void x11MoveSizeWindow(qxDisplay *display);
// Whether a ConfigureNotify of this size answers a size the program asked
// before its newest one (or reports the size from before it): the newest
// is still to come, so the event says nothing about the display.
int x11StaleConfigure(x11DisplayData *x, uint32_t width, uint32_t height);
void x11MoveWindow(qxDisplay *display);
// Where the client area is on the root now (the record may not have seen
// the manager's placement yet); 0 without a window.
int x11WindowOrigin(qxDisplay *display, int *x, int *y);
void x11SetTitle(qxDisplay *display);
void x11ShowWindow(qxDisplay *display, int iconify);
void x11ActivateWindow(qxDisplay *display);
int x11GetBorderSizes(qxDisplay *display);
void x11GetFrameExtents(Display *display, Window window, uint32_t *left, uint32_t *top,
                        uint32_t *width, uint32_t *height);
void x11SetSizeHints(qxDisplay *display, long flags);
void x11GrabInput(x11Connection *conn, Window window);
// Around a requester: grab 0 releases the grabs of the first active
// display, 1 takes them again (qxUpcalls.setInputGrabs).
void x11RequesterGrabs(int grab);
// Reads and drops the pending events of every connection (a requester
// waiting without a VM state; qxUpcalls.drainDisplayEvents).
void x11DropPendingEvents(void);
void x11WaitMapped(x11Connection *conn, Window window);
// Shape rectangles {x1, y, x2, y2} of the set runs of a mask (bits, MSB
// first) or an alpha plane (non-zero bytes), merged vertically; count
// through out, NULL with count 0 when empty or out of memory (*failed 1).
XRectangle *x11ShapeRects(const uint8_t *mask, uint32_t maskBytesPerRow, const uint8_t *alpha,
                          uint32_t alphaBytesPerRow, uint32_t width, uint32_t height,
                          uint32_t *count, int *failed);
// The motif hints {flags, functions, decorations, input, status}.
void x11MotifHints(uint32_t displayFlags, long hints[5]);
// Icons of the reserved area, after the replacements; NULL when none.
qxIconNode *x11ApplyIcons(const qxIconNode *replacements);
// The records of an icon area (marker included) as a list; a replacement of
// the same size is also written over the record's pixels. NULL when none.
qxIconNode *x11ReadIcons(uint8_t *area, uint32_t size, const qxIconNode *replacements);
void qxFreeIconList(qxIconNode *list);
// The widened icon area as _NET_WM_ICON wants it, and its item count.
const uint32_t *x11IconItems(uint32_t *count);
// Sets a CARDINAL property of 32-bit items without widening them to longs.
void x11SetIconProperty(Display *display, Window window, Atom property, const uint32_t *items, uint32_t count);
// Graphics slots 14 and 15 of the plug-in host table.
qxIconNode *qxHostGetIcons(void);
void qxHostFreeIcons(qxIconNode *list);

// Event pump.
int x11HandleEvents(lua_State *L, int *error);
// 1 when x11HandleEvents may find work: a wake-up message was written,
// Xlib holds read events, the last pump ran out of time, or the pump has
// not run for a while (the X sockets are only looked at by the pump). The
// line hook asks first, so that a busy script makes no system calls.
int x11EventsMayBePending(void);
// The input watch (x11_inputwatch.cpp). Arming, after the script thread
// has read the sockets, starts the watch when needed; 1 while it runs.
int x11ArmInputWatch(void);
// 1 when a socket became readable since the watch was last armed.
int x11InputWatchFired(void);
// A fast tick for pollers that expect to run all the time.
void x11SetInputWatchFastTick(int on);
// Around the script thread's own wait for events: no tick meanwhile.
void x11InputWatchScriptWaits(int waits);
void x11StopInputWatch(void);
// 1 while the input watch runs (set at every drain of the sockets).
extern int x11WatchActive;
int x11WaitEvents(void);
void x11WakeEventLoop(void);
void x11SetQuitKey(qxDisplay *display, int kind, int value);
int64_t x11GetAttribute(qxDisplay *display, int attribute);
int x11IsLeftButtonDown(Display *display, Window window);
int x11PollNoWindow(void);
void *x11PointerWatchThread(void *connection);
uint32_t x11ClassifySizeRegion(int width, int height, int px, int py, int rx, int ry, int rw,
                               int rh, int32_t offset[2]);
// Key mapping: pass 0 raw, pass 1 vanilla; firstColumn is the keysym of
// the key's first column. Modifier keysyms give -1 from x11MapKey; use
// x11ModifierCode (code or 0).
x11KeyResult x11MapKey(unsigned long keysym, unsigned long firstColumn, int pass);
uint32_t x11ModifierCode(unsigned long keysym);
int x11CreateMessagePort(const char *name);
int x11SendPortMessage(const char *port);
int x11CheckPortMessages(void);

// Frame output. Pixels are rows of a 16- or 32-bit pixel format code.
int x11BltBitMap(const void *pixels, uint32_t bytesPerRow, uint32_t bitmapWidth,
                 uint32_t bitmapHeight, int pixelFormat, int srcX, int srcY, qxDisplay *display,
                 int dstX, int dstY, int width, int height, uint32_t flags);
// x11BltBitMap for a bitmap whose every pixel is 0xRRGGBB: a fill on the
// server. -1 when the window needs the pixels themselves.
int x11BltPlain(uint32_t colour, uint32_t bitmapWidth, uint32_t bitmapHeight, int pixelFormat, int srcX,
                int srcY, qxDisplay *display, int dstX, int dstY, int width, int height, uint32_t flags);
void x11FillRect(qxDisplay *display, int x, int y, int width, int height, uint32_t colour);
void x11WritePixel(qxDisplay *display, int x, int y, uint32_t colour);
// Rectangles x, y, width, height in one colour and one request (the runs
// of a line rasterised by the caller).
void x11FillRects(qxDisplay *display, const int32_t (*rects)[4], int count, uint32_t colour);
void x11MakeClipRegion(qxDisplay *display, Region *out, uint32_t flags);
void x11FreeClipRegion(x11DisplayData *data, Region region);
void x11SetForeground(x11DisplayData *data, uint32_t colour);
// 0xRRGGBB (alpha in the top byte kept where the format has one) to a
// pixel of the format code.
uint32_t x11ColorToPixel(uint32_t colour, int format);

// Screens.
x11Monitor *x11GetMonitors(qxDisplay *display);
void x11FreeMonitors(x11Monitor *list);
// hold 1: later reads of the connection's monitor list give the first one
// read until the hold ends (hold 0), for one operation that asks several
// times.
void x11HoldMonitors(x11Connection *connection, int hold);
int x11GetScreenModes(qxDisplay *display, x11ScreenMode *modes);
// Index of the smallest mode holding width x height, -1 when none.
int x11ChooseMode(const x11ScreenMode *modes, int count, uint32_t width, uint32_t height);
// Adds one mode to a list, keeping one entry per size (the one nearest
// 60 Hz); returns the new count.
int x11AddScreenMode(x11ScreenMode *modes, int count, const x11ScreenMode &mode);
int x11SetScreenMode(qxDisplay *display, int width, int height, int depth);
int x11RestoreDesktopMode(qxDisplay *display);
int x11SetCrtcMode(uint32_t monitor, x11DisplayData *data, unsigned long mode, int save);
int x11HasVidModeExt(x11Connection *conn);
int x11HasRandr13(x11Connection *conn);
void x11SuspendBlanker(x11DisplayData *data, int enable);
// Grabs the rectangle into a new buffer of width x height pixels (2 bytes
// at depth 16, else 4 in native ARGB); parts off the root are 0. Freed
// with free(). NULL on failure.
void *x11GrabScreen(qxDisplay *display, int x, int y, int width, int height,
                    uint32_t *bytesPerPixel);

// The attribute query on a display's work buffer: 21 width, 23 the pixel
// pointer, 13 the row length in pixels; 0 otherwise.
uintptr_t x11BitMapBufferAttr(const struct qxPlatformBitMap *buffer, int attribute);

// Pointers and desktop services.
int x11CreatePointer(const uint32_t *argb, int hotX, int hotY, x11PointerImage **out, int width,
                     int height);
void x11FreePointer(x11PointerImage *pointer);
void x11SetPointer(qxDisplay *display, x11PointerImage *pointer, int kind);
void x11ShowPointer(qxDisplay *display);
void x11HidePointer(qxDisplay *display);
void x11MovePointer(qxDisplay *display, int x, int y);
void x11Beep(qxDisplay *display);
int x11OpenURL(const char *text);
uint32_t x11GetFreeMemory(void);
uint32_t x11ParseFreeMemory(const char *text, size_t length);
int x11GetSystemDir(int kind, char *buffer, size_t size);
// The program's directory; ISO-8859-1 unless raw or in UTF-8 text mode.
void qxMakeSystemPath(char *buffer, size_t size, int raw);
}
