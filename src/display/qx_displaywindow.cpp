// The display's window: realising and placing it, the whole-display
// refresh, rescaling to a new window size, full screen and closing.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <cstring>
#include <string>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/commands/qx_commands.h"
#include "core/runtime/qx_startup.h"
#include "display/qx_snapshot.h"
#include "display/qx_startdisplay.h"
#include "display/qx_asyncdraw.h"
#include "display/qx_menu.h"
#include "core/errors/qx_errors.h"
#include "core/runtime/qx_lists.h"
#include "core/vm/lauxlib.h"
#include "display/qx_adapter.h"
#include "display/qx_backfill.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapscale.h"
#include "display/qx_display.h"
#include "display/qx_displaycmds.h"
#include "display/qx_eventqueue.h"
#include "display/qx_framepacing.h"
#include "display/qx_reqdispatch.h"
#include "display/qx_satellite.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_upcalls.h"
#include "platform/x11/x11_display.h"

namespace {

constexpr int32_t kCenter = -100000, kKeep = 100000;

int resolveAxis(int32_t v, int size, int screen)
{
    if (v >= kCenter - 10000 && v < kCenter + 10000)
        return (screen - size) / 2 + (v - kCenter);
    if (v >= -95000 && v < -85000) // #LEFT, #TOP
        return v + 90000;
    if (v >= -85000 && v < -75000) // #RIGHT
        return screen - size + (v + 80000);
    if (v >= -75000 && v < -65000)
        return v + 70000;
    if (v >= -65000 && v < -55000) // #BOTTOM
        return screen - size + (v + 60000);
    return v;
}

} // namespace

extern "C" {

qxBitMap *(*qxDisplayShownBitmap)(qxDisplay *display);
qxBitMap *(*qxDisplayWorkPicture)(qxDisplay *display);

int qxRefreshWholeDisplay(qxDisplay *d, int flags)
{
    if (!d || !d->bgpic)
        return 0;
    const bool tell = d->satellites && !(flags & 64);
    if (d->state == QX_DISPSTATE_CLOSED && !tell && !(qxDisplayAdapterActive() && d->window))
        return 0;
    // The BGPic with its layers and sprites composed again, at the window's
    // size when the display scales its layers. What the window system or a
    // satellite asks to see again (2) is what the work bitmap holds: a
    // transition keeps its frame there.
    if (!(flags & 2) && !d->doubleBuffer && qxBitMapDisplay.composeDisplay)
        qxBitMapDisplay.composeDisplay(qxMainState, d);
    // BeginRefresh holds the window back until EndRefresh, which clears the
    // mode before it calls this.
    if (d->refreshMode)
        return 0;
    qxBGPic *b = d->bgpic;
    qxBitMap *shown = qxDisplayShownBitmap ? qxDisplayShownBitmap(d) : nullptr;
    qxBitMap *const picture = shown ? shown : b->bitmap;
    int32_t sw = 0, sh = 0;
    if (d->autoScale && d->scaledWidth && d->scaledHeight) {
        // Margins are filled with 0 (black); coordinates count from the
        // picture's origin, the odd pixel goes right or down.
        const int mL = d->marginLeft, mT = d->marginTop;
        sw = (int32_t)d->scaledWidth;
        sh = (int32_t)d->scaledHeight;
        if (mL)
            qxDispRectFill(d, -mL, -mT, mL, d->height, 0);
        if (d->marginRight)
            qxDispRectFill(d, sw, -mT, d->marginRight, d->height, 0);
        if (mT)
            qxDispRectFill(d, -mL, -mT, d->width, mT, 0);
        if (d->marginBottom)
            qxDispRectFill(d, -mL, sh, d->width, d->marginBottom, 0);
    }
    // A display that scales its layers shows a picture composed at its size.
    const bool composed = d->layerScale && shown && b->curBitmap != b->bitmap;
    return qxBltToWindow(picture, 0, 0, d, 0, 0, composed ? int32_t(shown->width) : b->width,
                         composed ? int32_t(shown->height) : b->height, sw, sh, flags & 64, nullptr, nullptr, nullptr);
}

// Puts the display in window coordinates: position constants resolved
// against the monitor, the monitor's origin added.
int qxPlaceDisplay(qxDisplay *d)
{
    int mx, my, mw, mh;
    if (int r = qxGetDisplayGeometry(d, &mx, &my, &mw, &mh))
        return r;
    if (int r = qxDispBorderSizes(d))
        return r;
    int fw = d->width + d->borderWidth, fh = d->height + d->borderHeight;
    if (d->monitorRelativeX || d->x < -1000)
        d->x = resolveAxis(d->x, fw, mw) + mx;
    if (d->monitorRelativeY || d->y < -1000)
        d->y = resolveAxis(d->y, fh, mh) + my;
    d->monitorRelativeX = d->monitorRelativeY = 0;
    return 0;
}

const qxIconNode *(*qxWindowIconSet)(void);

int qxEnsureWindowing(void)
{
    static bool ready;
    if (ready || qxDisplayAdapterActive())
        return 0;
    if (int r = x11InitWindowing(qxWindowIconSet ? qxWindowIconSet() : nullptr))
        return r;
    ready = true;
    return 0;
}

// 1085 with the size that the window could not take.
int qxDisplaySizeRefused(int width, int height)
{
    char size[32];
    std::snprintf(size, sizeof size, "%dx%d", width, height);
    qxSetErrorString(size);
    return ERR_DISPLAYSIZE;
}

int (*qxComputeDisplayScaleHook)(lua_State *L, qxDisplay *display, qxBGPic *bgpic, qxBitMap **mask,
                                  qxBitMap **alpha);

static void freeShapePlanes(qxDisplay *d)
{
    if (d->maskPlane)
        qxFreeMaskBitMap(d->maskPlane);
    if (d->alphaPlane)
        qxFreeAlphaBitMap(d->alphaPlane);
    d->maskPlane = d->alphaPlane = nullptr;
}

// The display's scale factors for its BGPic and, autoscaling a shaped one,
// the window's shape: the BGPic's mask and alpha at the scaled size.
int qxDisplayScaleAndShape(lua_State *L, qxDisplay *d)
{
    freeShapePlanes(d);
    if (!d->bgpic || !qxComputeDisplayScaleHook)
        return 0;
    return qxComputeDisplayScaleHook(L, d, d->bgpic, &d->maskPlane, &d->alphaPlane);
}

// An autoscaled display with a shaped BGPic: the window is shaped by the
// mask and alpha channel scaled to its picture's size.
static int scaleShapePlanes(qxDisplay *d)
{
    qxBGPic *b = d->bgpic;
    if (!b || !d->autoScale || d->layerScale || !(b->curMask || b->curAlpha) || !d->scaledWidth ||
        !d->scaledHeight || (d->scaleX == 1.0 && d->scaleY == 1.0)) {
        freeShapePlanes(d);
        return 0;
    }
    return qxDisplayScaleAndShape(qxMainState, d);
}

int qxRealiseDisplay(qxDisplay *d, int activate)
{
    if (int r = qxEnsureWindowing())
        return r;
    // A server that cannot be reached is named as such, not as missing
    // monitor information.
    x11Connection *c = nullptr;
    if (!qxDisplayAdapterActive())
        if (int r = x11OpenConnection(d->xServer, &c))
            return r;
    // Placing and opening the window read the monitors once between them.
    struct Hold {
        x11Connection *c;
        ~Hold() { x11HoldMonitors(c, 0); }
    } hold{c};
    x11HoldMonitors(c, 1);
    // A shaped picture has no window frame.
    if (d->bgpic && (d->bgpic->curMask || d->bgpic->curAlpha))
        d->flags |= QX_DISP_BORDERLESS;
    if (int r = qxPlaceDisplay(d))
        return r;
    qxResetRegions(d);
    if (int r = scaleShapePlanes(d))
        return r;
    // The window back-end raises and focuses only a window to be activated.
    d->activation = (uint32_t)activate;
    int r = qxDispOpenWindow(d);
    if (!qxDisplayAdapterActive() && (r == ERR_WINDOW || r == ERR_DISPLAYSIZE))
        return qxDisplaySizeRefused(d->width, d->height);
    if (r)
        return r;
    if (qxDisplayAdapterActive() && qxHardwareBitMaps.rebuild)
        if ((r = qxHardwareBitMaps.rebuild(d)))
            return r;
    d->state = QX_DISPSTATE_OPEN;
    d->activation = (uint32_t)activate;
    if (!(d->flags & QX_DISP_HIDEPOINTER))
        qxDispShowPointer(d, 1);
    qxRefreshWholeDisplay(d, 0);
    return 0;
}

qxDisplayPrefsHooks qxDisplayPrefs;

// "rememberposition": the placement of a numbered display goes into the
// preferences table "__placement" under its number. A file that cannot be
// written leaves the close alone.
static void rememberPlacement(lua_State *L, qxDisplay *d)
{
    if (!L || !(d->flags & QX_DISP_REMEMBERPOSITION) || d->header.automatic || !qxDisplayPrefs.load ||
        !qxDisplayPrefs.save)
        return;
    const int top = lua_gettop(L);
    if (qxDisplayPrefs.load(L, 0)) {
        lua_settop(L, top);
        lua_newtable(L);
    }
    const int t = lua_gettop(L);
    lua_pushstring(L, "__placement");
    lua_gettable(L, t);
    if (!lua_istable(L, -1)) {
        lua_pop(L, 1);
        lua_newtable(L);
        lua_pushstring(L, "__placement");
        lua_pushvalue(L, -2);
        lua_settable(L, t);
    }
    const int p = lua_gettop(L);
    lua_newtable(L);
    const bool windowed = !d->fullScreen;
    qxSetFieldInt(L, "active", windowed ? 1 : 0);
    if (windowed) {
        qxSetFieldInt(L, "x", d->x);
        qxSetFieldInt(L, "y", d->y);
        qxSetFieldInt(L, "width", d->width);
        qxSetFieldInt(L, "height", d->height);
        qxSetFieldNum(L, "scalefactor", d->scriptScaleFactor);
        qxSetFieldInt(L, "scalewidth",
                      d->scaledWidth ? (int)d->scaledWidth + d->marginLeft + d->marginRight : 0);
        qxSetFieldInt(L, "scaleheight",
                      d->scaledHeight ? (int)d->scaledHeight + d->marginTop + d->marginBottom : 0);
        qxSetFieldInt(L, "autoscale", d->autoScale ? 1 : 0);
        qxSetFieldInt(L, "layerscale", d->layerScale ? 1 : 0);
        qxSetFieldInt(L, "sizeable", (d->flags & QX_DISP_SIZEABLE) ? 1 : 0);
        lua_pushstring(L, "osdata");
        lua_pushlstring(L, d->placement ? d->placement : "", d->placement ? d->placementLength : 0);
        lua_settable(L, -3);
    }
    lua_rawseti(L, p, (int)d->header.id);
    qxDisplayPrefs.save(L, t);
    lua_settop(L, top);
    d->restoreWidth = (uint32_t)d->width;
    d->restoreHeight = (uint32_t)d->height;
}

int qxCloseDisplayWindow(lua_State *L, qxDisplay *d)
{
    if (d->state == QX_DISPSTATE_CLOSED)
        return 0;
    if (int r = qxDispCloseWindow(d))
        return r;
    rememberPlacement(L, d);
    qxFreeBackfill(L, d);
    if (d->fullScreen && !d->backfill && !qxDisplayAdapterActive())
        x11RestoreDesktopMode(d);
    std::memset(&d->input, 0, sizeof d->input);
    d->state = QX_DISPSTATE_CLOSED;
    d->activation = 0;
    d->fullScreen = 0;
    return 0;
}

int qxReopenDisplayWindow(qxDisplay *d)
{
    const uint32_t activation = d->activation;
    if (qxDisplayVideo.suspendVideos)
        qxDisplayVideo.suspendVideos(d);
    qxCloseDisplayWindow(qxMainState, d);
    const int r = qxRealiseDisplay(d, (int)activation);
    if (qxDisplayVideo.resumeVideos)
        qxDisplayVideo.resumeVideos(d);
    return r;
}

// Resizes the display to a window of width x height: the BGPic follows an
// unscaled display (refilled), an autoscaled one keeps its picture.
int qxDisplayRescale(qxDisplay *d, int width, int height, int x, int y)
{
    if (width < 1 || height < 1)
        return ERR_WRONGUSAGE;
    // X11 coordinates are 16-bit: a larger window is refused, not wrapped.
    if (!qxDisplayAdapterActive() && (width > 32767 || height > 32767))
        return qxDisplaySizeRefused(width, height);
    if (d->autoScale || d->layerScale) {
        qxLetterbox(d, width, height, d->bgpic ? d->bgpic->width : width,
                    d->bgpic ? d->bgpic->height : height);
    } else if (d->bgpic && (d->bgpic->width != width || d->bgpic->height != height)) {
        // The display's own BGPic is filled again at the new size; a
        // script's is scaled to it.
        if (d->bgpicOwned && d->bgpic->fill.style < QX_FILL_GRADIENT) {
            if (int r = qxRefillBGPic(d->bgpic, width, height, d->bgpic->fill.colour))
                return r;
        } else if (qxScaleDisplayBGPic) {
            if (int r = qxScaleDisplayBGPic(qxMainState, d->bgpic, width, height,
                                            (d->flags & QX_DISP_SMOOTHSCALE) ? 1 : 0))
                return r;
        }
        d->cursorX = d->cursorY = d->cursorLeftMargin = 0;
        d->cursorRightMargin = width - 1;
        // Drawing while double buffering reaches the new area too.
        if (qxResizeDisplayBackBuffer)
            if (int r = qxResizeDisplayBackBuffer(d))
                return r;
    }
    bool changed = d->width != width || d->height != height;
    d->width = width;
    d->height = height;
    if (x != kKeep)
        d->x = x;
    if (y != kKeep)
        d->y = y;
    qxResetRegions(d);
    // Layers scaled with the display are composed again at the new size.
    if (changed && d->layerScale && qxBitMapDisplay.rescaleLayers)
        qxBitMapDisplay.rescaleLayers(qxMainState, d);
    // Videos drawn into the window follow the new scale before the picture
    // is put around them.
    if (changed && qxDisplayVideo.replaceVideos)
        qxDisplayVideo.replaceVideos(d);
    // A shaped window takes its new shape with a new window; the videos
    // drawn into it wait until it is there.
    if (changed && d->state != QX_DISPSTATE_CLOSED && d->bgpic && (d->bgpic->curMask || d->bgpic->curAlpha) &&
        !qxDisplayAdapterActive()) {
        if (int r = qxReopenDisplayWindow(d))
            return r;
    } else if (changed && d->state != QX_DISPSTATE_CLOSED) {
        qxRefreshWholeDisplay(d, 0);
    }
    if (changed && d->satellites) {
        int32_t size[2] = {width, height};
        qxNotifySatellites(d, QX_SATOP_SIZE, size);
    }
    return 0;
}

int qxApplyFitScale(qxDisplay *d)
{
    if (!(d->flags & QX_DISP_FITSCALE) || !(d->autoScale || d->layerScale))
        return 0;
    int mx, my, mw, mh;
    if (int r = qxGetDisplayGeometry(d, &mx, &my, &mw, &mh))
        return r;
    if (!d->bordersKnown)
        if (int r = qxDispBorderSizes(d))
            return r;
    d->x = mx;
    d->y = my;
    d->monitorRelativeX = d->monitorRelativeY = 0;
    return qxDisplayRescale(d, mw - d->borderWidth, mh - d->borderHeight, kKeep, kKeep);
}

// The pump's up-call: the window already has the new size.
static int rescaleFromWindow(qxDisplay *d, int width, int height, int x, int y)
{
    return qxDisplayRescale(d, width, height, x, y);
}

// Full screen: borderless and fixed, centred on its monitor, with the
// smallest screen mode that holds the window.
static int monitorTaken(const qxDisplay *d)
{
    if (qxDisplayAdapterActive())
        return 0; // the adapter's own business
    for (qxDisplay *o = qxDisplays; o; o = static_cast<qxDisplay *>(o->header.next))
        if (o != d && o->fullScreen && !o->backfill && o->state != QX_DISPSTATE_CLOSED &&
            o->monitor == d->monitor) {
            qxSetErrorNumber((int)d->monitor + 1);
            return ERR_MONITORFULLSCREEN;
        }
    return 0;
}

static int enterFullScreen(qxDisplay *d)
{
    if (int r = monitorTaken(d))
        return r;
    // A screen mode that cannot be had leaves the display as it was.
    const int w = d->screenWidth ? (int)d->screenWidth : d->width;
    const int h = d->screenHeight ? (int)d->screenHeight : d->height;
    if (!qxDisplayAdapterActive())
        if (int r = x11SetScreenMode(d, w, h, (int)d->screenDepth))
            return r;
    if (!d->fullScreen) {
        d->savedX = d->x;
        d->savedY = d->y;
        d->savedFlags = d->flags;
        d->restorePosition = QX_RESTORE_PLACE | QX_RESTORE_FLAGS;
    } else if (!(d->restorePosition & QX_RESTORE_PLACE)) {
        // Moved while full screen: that place is the one to go back to.
        d->savedX = d->x;
        d->savedY = d->y;
        d->restorePosition |= QX_RESTORE_PLACE;
    }
    d->flags |= QX_DISP_BORDERLESS | QX_DISP_FIXED;
    d->fullScreen = 1;
    d->x = d->y = kCenter;
    d->monitorRelativeX = d->monitorRelativeY = 1;
    return 0;
}

static void leaveFullScreen(qxDisplay *d)
{
    if (!qxDisplayAdapterActive())
        x11RestoreDesktopMode(d);
    d->fullScreen = 0;
    if (d->restorePosition & QX_RESTORE_PLACE) {
        d->x = d->savedX;
        d->y = d->savedY;
    }
    if (d->restorePosition & QX_RESTORE_FLAGS)
        d->flags = d->savedFlags;
    d->restorePosition = 0;
}

// A desktop display: borderless, fixed, on top, showing a grab of its
// monitor taken before its own window exists.
static int prepareDesktop(qxDisplay *d)
{
    if (qxDisplayAdapterActive())
        return ERR_DISPLAYADAPTERSUPPORT;
    if (d->autoScale || d->layerScale)
        return ERR_DDAUTOSCALE;
    d->mode = 1;
    d->flags = 0x40042D | (d->flags & (QX_DISP_DISABLEBLANKER | QX_DISP_USEQUARTZ));
    int mx, my, mw, mh;
    if (int r = qxGetDisplayGeometry(d, &mx, &my, &mw, &mh))
        return r;
    if (!d->bgpic || !d->bgpic->bitmap)
        return 0;
    const int w = std::min(mw, d->bgpic->width), h = std::min(mh, d->bgpic->height);
    uint32_t *pixels = nullptr;
    if (int r = qxGrabScreenARGB(d, mx, my, w, h, &pixels))
        return r;
    qxARGBToBitMap(pixels, 0, 0, w * 4, d->bgpic->bitmap, 0, 0, w, h);
    std::free(pixels);
    d->x = mx;
    d->y = my;
    d->monitorRelativeX = d->monitorRelativeY = 0;
    return 0;
}

int qxOpenDisplayWindow(lua_State *L, qxDisplay *d, int options)
{
    // X11 sizes are 16-bit: a larger window is refused before anything changes.
    if (!qxDisplayAdapterActive() && (d->width > 32767 || d->height > 32767))
        return qxDisplaySizeRefused(d->width, d->height);
    if (d->desktop)
        if (int r = prepareDesktop(d))
            return r;
    if (d->mode == 3) {
        int choice = 0;
        if (int r = qxSystemRequest(L, d->title, "Please select desired display mode!",
                                    "Full screen (best fit)|Windowed|Full screen (manual "
                                    "select)|Cancel",
                                    4, 0, &choice))
            return r;
        if (choice == 0)
            return ERR_USERABORT;
        d->mode = choice == 1 ? 2 : choice == 2 ? 1 : 4;
    }
    if (d->mode == 4) {
        // The count first: the list is written without a bound.
        int n = std::max(qxDispGetScreenModes(d, nullptr), 0);
        std::vector<x11ScreenMode> modes((size_t)n);
        if (n)
            n = std::clamp(qxDispGetScreenModes(d, modes.data()), 0, n);
        modes.resize((size_t)n);
        std::sort(modes.begin(), modes.end(), [](const x11ScreenMode &a, const x11ScreenMode &b) {
            return a.width != b.width ? a.width < b.width : a.height < b.height;
        });
        std::string entries;
        int pre = -1;
        for (int i = 0; i < n; i++) {
            char text[32];
            std::snprintf(text, sizeof text, "%ux%u", modes[i].width, modes[i].height);
            entries.append(text).push_back('\0');
            if (pre < 0 && (int)modes[i].width >= d->width && (int)modes[i].height >= d->height)
                pre = i;
        }
        entries.push_back('\0');
        int index = -1;
        if (int r = qxListRequest(L, d->title, "Please select desired display mode!",
                                  entries.c_str(), pre < 0 ? 0 : pre, 0, &index))
            return r;
        if (index < 0 || index >= n)
            return ERR_USERABORT;
        d->screenWidth = modes[(size_t)index].width;
        d->screenHeight = modes[(size_t)index].height;
        d->mode = 2;
    }
    if (d->mode == 6) {
        d->flags |= QX_DISP_BORDERLESS | QX_DISP_FIXED;
        d->fakeFullScreen = 1;
    }
    if (d->mode == 2)
        if (int r = enterFullScreen(d))
            return r;
    // A "fullscreenscale" display is full screen in mode 1: it takes its
    // restore size too.
    if (d->mode != 2 && !d->autoScale && !d->layerScale && d->restoreWidth && d->restoreHeight &&
        ((int)d->restoreWidth != d->width || (int)d->restoreHeight != d->height)) {
        if (int r = qxDisplayRescale(d, (int)d->restoreWidth, (int)d->restoreHeight, kKeep, kKeep))
            return r;
        qxPostEvent(d, 5, 0, 0, 0, nullptr);
    }
    int r = 0;
    if (d->fullScreen && !d->backfill)
        r = qxMakeBackfill(L ? L : qxMainState, d);
    // A mode switch activates the window; an open takes "active".
    if (!r)
        r = qxRealiseDisplay(d, (options & 4) || (d->flags & QX_DISP_ACTIVE) ? 1 : 0);
    if (r) {
        qxFreeBackfill(L ? L : qxMainState, d);
        if (d->fullScreen)
            leaveFullScreen(d);
    }
    return r;
}

// A switch to full screen that failed leaves the display windowed, with
// its windowed place and flags, and opens its window again.
static int fallBackToWindow(qxDisplay *d, int error)
{
    if (d->fullScreen)
        leaveFullScreen(d);
    d->mode = 1;
    if (d->state == QX_DISPSTATE_CLOSED)
        qxRealiseDisplay(d, 1);
    return error;
}

int qxChangeDisplayMode(lua_State *L, qxDisplay *d, int mode, int width, int height, int monitor,
                        void *backfill)
{
    std::unique_ptr<void, decltype(&std::free)> newBackfill(backfill, &std::free);
    if (d->state == QX_DISPSTATE_CLOSED)
        return ERR_CLOSEDDISPLAY;
    if (mode != 1 && mode != 2)
        return ERR_WRONGUSAGE;
    if (mode == 1 && !d->fullScreen)
        return 0;
    // What a failed switch gives back.
    const uint32_t oldMonitor = d->monitor, oldScreenWidth = d->screenWidth,
                   oldScreenHeight = d->screenHeight;
    const int32_t oldX = d->x, oldY = d->y;
    const uint32_t oldRelativeX = d->monitorRelativeX, oldRelativeY = d->monitorRelativeY;
    if (mode == 2) {
        if (width < 1 || height < 1 || width < d->width || height < d->height)
            return ERR_WRONGUSAGE;
        // Checked before the window closes, on the monitor it goes to.
        const uint32_t from = d->monitor;
        if (monitor >= 0)
            d->monitor = (uint32_t)monitor;
        const int taken = monitorTaken(d);
        d->monitor = from;
        if (taken)
            return taken;
        d->screenWidth = (uint32_t)width;
        d->screenHeight = (uint32_t)height;
    }
    if (newBackfill) {
        std::free(d->backfillDescription);
        d->backfillDescription = newBackfill.release();
    }
    // The close clears the full-screen flag; a display full screen already
    // keeps the place and flags it saved on entering, to restore on leaving.
    const uint32_t wasFullScreen = d->fullScreen;
    if (!L)
        L = qxMainState;
    // The close restores the screen mode of the monitor the display leaves.
    if (int r = qxCloseDisplayWindow(L, d))
        return r;
    if (mode == 1)
        leaveFullScreen(d);
    if (monitor >= 0 && (uint32_t)monitor != d->monitor) {
        d->monitor = (uint32_t)monitor;
        d->x = d->y = kCenter;
        d->monitorRelativeX = d->monitorRelativeY = 1;
    }
    d->mode = (uint32_t)mode;
    if (mode == 1)
        return qxRealiseDisplay(d, 1);
    d->fullScreen = wasFullScreen;
    const int r = qxOpenDisplayWindow(L, d, 4);
    if (!r)
        return 0;
    d->monitor = oldMonitor;
    d->screenWidth = oldScreenWidth;
    d->screenHeight = oldScreenHeight;
    if (!wasFullScreen) {
        d->x = oldX;
        d->y = oldY;
        d->monitorRelativeX = oldRelativeX;
        d->monitorRelativeY = oldRelativeY;
    }
    return fallBackToWindow(d, r);
}

// The pump's mode switch (a key of the window): it has set the mode.
static int switchFromPump(qxDisplay *d, int option)
{
    if (d->mode == 2)
        if (int r = monitorTaken(d))
            return fallBackToWindow(d, r);
    const uint32_t wasFullScreen = d->fullScreen;
    qxCloseDisplayWindow(qxMainState, d);
    if (d->mode != 2) {
        if (wasFullScreen)
            leaveFullScreen(d);
        return qxRealiseDisplay(d, 1);
    }
    if (int r = qxOpenDisplayWindow(nullptr, d, option))
        return fallBackToWindow(d, r);
    return 0;
}

int qxInitDisplays(void)
{
    if (int r = qxInitDisplayList())
        return r;
    qxUpcalls.refreshWholeDisplay = qxRefreshWholeDisplay;
    qxUpcalls.displayRescale = rescaleFromWindow;
    qxUpcalls.openDisplayWindow = switchFromPump;
    qxUpcalls.flushPendingDisplayUpdates = qxFlushPendingDisplayUpdates;
    qxUpcalls.frameRate = qxGetFrameLimit;
    qxUpcalls.adapterForceEventLoop = [] { qxForceEventLoopIteration(); };
    qxUpcalls.adapterSleep = qxAdapterSleep;
    return 0;
}

} // extern "C"
