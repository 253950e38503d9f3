// Display adapter dispatch: every window operation of the display library
// goes to the installed display adapter plug-in, or to the X11 back-end
// when there is none. Also the window blit, the adapter's main loop and
// event calls, and the video frames queued onto displays.
#pragma once
#include <cstdint>

#include "core/plugins/qx_pluginapi.h"
#include "display/qx_bitmap.h"
#include "display/qx_display.h"

// Adapter flags beyond the bitmap layer's.
enum : uint32_t {
    QX_ADAPTER_EXCLUSIVE = 0x1,
    QX_ADAPTER_SCALES = 0x8,
    QX_ADAPTER_DOUBLEBUFFER = 0x40,
    QX_ADAPTER_SLEEP = 0x100,
    QX_ADAPTER_VWAIT = 0x200,
    QX_ADAPTER_MONITORS = 0x400,
    QX_ADAPTER_GRAB = 0x800,
    QX_ADAPTER_CLOSEDDRAW = 0x1000,
};

// A display's double-buffer state: the adapter double-buffers it.
enum : uint32_t { QX_DBSTATE_ADAPTER = 2 };

// Window blit flags.
enum : uint32_t {
    QX_WBLT_X11 = 0x10,        // straight to the X11 back-end
    QX_WBLT_NOVIDEOMASK = 0x20, // satellites are not given the video areas
    QX_WBLT_NOSATELLITES = 0x40,
    QX_WBLT_SCALED = 0x100,    // the source was scaled in software
    QX_WBLT_VIDEOFRAME = 0x1000, // a video draws its own area: not clipped around videos
    // scaledW x scaledH is the size of the whole source scaled, and (dx, dy)
    // is in source pixels: only the part the rectangle reaches is scaled.
    QX_WBLT_WHOLESCALE = 0x2000,
    // The source is a piece of the display's picture in display pixels (a
    // video frame): its (sx, sy) lies at display pixel (dx, dy), and it lands
    // where that rectangle of the whole picture lands in the window.
    QX_WBLT_PIECE = 0x4000,
};

// A frame a video thread queues onto a display.
struct qxPendingUpdate {
    qxPendingUpdate *next;
    void *target; // the video picture whose frame is replaced
    qxBitMap *bitmap;
    int32_t x, y, width, height;
    uint32_t *layerTransform; // non-zero first word: rebuild the layer
};

// What the flush needs of the video and layer code, filled by the top;
// NULL entries mean "not in this build".
struct qxDisplayVideoHooks {
    int (*videoOutputActive)(void);
    // Puts the bitmap into the target's record; 1 when it took it, 2 when
    // it also showed it.
    int (*replaceFrame)(void *target, qxBitMap *bitmap, int32_t x, int32_t y, int32_t w, int32_t h);
    int (*rebuildLayer)(qxDisplay *display, void *target, uint32_t *transform);
    // Redraws a rectangle of the display made current, the target busy.
    void (*refreshRect)(qxDisplay *display, void *target, int32_t x, int32_t y, int32_t w, int32_t h);
    // A mask plane of the areas videos drawn straight into the display
    // cover, or NULL when there are none; freed with qxFreeMaskBitMap.
    qxBitMap *(*videoAreaMask)(qxBitMap *displayBitMap, qxDisplay *display);
    // After a rescale: the videos drawn straight into the display take their
    // place and size at its new scale; the number re-placed.
    int (*replaceVideos)(qxDisplay *display);
    // While the display is busy (a transition draws into it, its window is
    // made anew), the videos drawn straight into it deliver nothing.
    void (*suspendVideos)(qxDisplay *display);
    void (*resumeVideos)(qxDisplay *display);
    // 1 while a video plays on the display (layer videos too unless skipped).
    int (*videoOnDisplay)(qxDisplay *display, int skipLayers);
    // 1 when a video drawn straight into the display plays over the point.
    int (*videoAtPoint)(qxDisplay *display, int32_t x, int32_t y);
    // 1 while a video drawn straight into the display plays (one suspended
    // while playing included); a paused one does not.
    int (*videoPlays)(qxDisplay *display);
};

// What a video bitmap is made from: raw ARGB pixels, or a bitmap (held by
// the adapter, or copied to ARGB with its mask or alpha channel); for the
// window of a display or not; with a plain scaling request (scale 1: a, b,
// c) or one with a transform (scale 2: a, b, c and four values).
struct qxVideoBitMapSource {
    const uint32_t *argb;
    qxBitMap *bitmap, *mask, *alpha;
    void *window;
    uint32_t scale;
    uint64_t a, b, c;
    const double *transform;
};

// The hardware brushes of a display, kept in the adapter's video memory:
// backed up to pixels before its window closes, rebuilt when it reopens,
// freed with the display. Filled by the brush library; NULL: none.
struct qxHardwareBitMapHooks {
    int (*backup)(qxDisplay *display);
    int (*rebuild)(qxDisplay *display);
    void (*freeDeleted)(lua_State *L, qxDisplay *display);
};

extern "C" {
extern qxDisplayVideoHooks qxDisplayVideo;
extern qxHardwareBitMapHooks qxHardwareBitMaps;
// The display a hardware bitmap is made for: the one named, or the current
// display; 1526 while it has no window.
int qxGetHardwareBitMapDisplay(const qxObjectRef *id, qxDisplay **display);

// Graphics host slot 13.
int qxInstallDisplayAdapter(qxPluginInfo *info, uint32_t flags, const qxHostTag *tags);
// Forgets the adapter at shutdown.
void qxRemoveDisplayAdapter(void);
// Whether the adapter draws into the display: open, or under flag 0x1000
// any display with a handle.
int qxAdapterDrawable(const qxDisplay *display);
// The display's flags as adapters see them.
uint32_t qxAdapterDisplayFlags(const qxDisplay *display);

// Runs the main chunk through run(arg): inside the adapter's main loop
// when it has one, else directly; the result of either.
int qxRunMainLoop(lua_State *L, void (*run)(void *), void *arg, int (*direct)(lua_State *));
// 1 when the adapter was asked to iterate.
int qxForceEventLoopIteration(void);
// The adapter's HandleEvents; -1 without an adapter.
int qxAdapterHandleEvents(lua_State *L, int flags);
// The adapter's WaitEvents; -1 without an adapter.
int qxAdapterWaitEvents(lua_State *L, int mode);
// 1 when the adapter serves the wait (flag 0x100) and waited.
int qxAdapterSleep(lua_State *L, uint32_t ms);
// 1 when the adapter serves the vertical wait of the display.
int qxAdapterVWait(qxDisplay *display, uint32_t argument);

// Window operations.
int qxDispBorderSizes(qxDisplay *display);
int qxDispOpenWindow(qxDisplay *display);
int qxDispCloseWindow(qxDisplay *display);
// Double buffering done by the adapter (flag QX_ADAPTER_DOUBLEBUFFER): the
// hook starts it for the display (0, and QX_DBSTATE_ADAPTER set) or refuses
// (the player then keeps its own buffers); drawing goes straight to the
// window, Flip shows it, the clean-up ends it. Without an adapter the
// platform's hooks.
int qxAdapterDoubleBufferHook(qxDisplay *display);
int qxAdapterFlip(qxDisplay *display, int sync);
int qxEndDoubleBufferCleanup(qxDisplay *display);
void qxDispShowPointer(qxDisplay *display, int show);
// Pointer images: the adapter's own or X11 cursors, behind one handle.
// 1321 when the image cannot be made.
int qxDispCreatePointer(const uint32_t *argb, int hotX, int hotY, int width, int height, void **out);
void qxDispFreePointer(void *pointer);
void qxDispSetPointer(qxDisplay *display, void *pointer, int kind);
void qxDispMovePointer(qxDisplay *display, int x, int y);
void qxDispSetTitle(qxDisplay *display);
void qxDispShowHide(qxDisplay *display, int hide);
void qxDispMove(qxDisplay *display);
void qxDispMoveSize(qxDisplay *display);
void qxDispActivate(qxDisplay *display, int flag);
// Tells the adapter whether the display has a close handler (tag 1).
void qxDispCloseHandlerChanged(qxDisplay *display);
void qxDispMousePos(qxDisplay *display, int *x, int *y);
uint32_t qxDispQualifiers(qxDisplay *display);
void qxDispRectFill(qxDisplay *display, int x, int y, int w, int h, uint32_t colour);
void qxDispWritePixel(qxDisplay *display, int x, int y, uint32_t colour);
void qxDispLine(qxDisplay *display, int x1, int y1, int x2, int y2, uint32_t colour);
void qxDispCls(qxDisplay *display, uint32_t colour);
// Monitors (freed with x11FreeMonitors) and the modes of the display's
// monitor (the count when modes is NULL), from the adapter under its
// flag 0x400, else from the X11 back-end.
// The adapter's screen pixels (flag 0x800) as a malloc'd ARGB copy: 0,
// 1561 when it has none, -1 when the X11 back-end must grab.
int qxAdapterGrabPixels(qxDisplay *display, int x, int y, int w, int h, uint32_t **out);
struct x11Monitor *qxDispGetMonitors(qxDisplay *display);
int qxDispGetScreenModes(qxDisplay *display, struct x11ScreenMode *modes);

// How the display's own pixels map into its window's picture: the whole
// picture's size and its size in the window (margins aside), under
// autoscale or layer scaling. 0 when they show one to one.
int qxDisplayPictureScale(const qxDisplay *display, int32_t *wholeW, int32_t *wholeH, int32_t *scaledW,
                          int32_t *scaledH);
// The window rectangle (margins aside) that a display rectangle covers in
// the scaled picture; 0 when it covers nothing.
int qxDisplayRectInWindow(const qxDisplay *display, int32_t x, int32_t y, int32_t w, int32_t h, qxClipRect *out);

// Puts a rectangle of a bitmap into the display's window (scaled to
// scaledW x scaledH when both are set; see QX_WBLT_WHOLESCALE) and tells
// the satellites.
int qxBltToWindow(qxBitMap *source, int32_t sx, int32_t sy, qxDisplay *display, int32_t dx, int32_t dy,
                  int32_t w, int32_t h, int32_t scaledW, int32_t scaledH, uint32_t flags, qxBitMap *mask,
                  qxBitMap *alpha, const qxClipRect *clip);

// A video bitmap of the adapter for a source (flags beyond video as
// qxAllocBitMap's); NULL when the adapter gives none. *hasMask is set when
// the source's mask or alpha went with it.
qxBitMap *qxAdapterAllocVideoBitMap(uint32_t width, uint32_t height, uint32_t flags, uint32_t *hasMask,
                                    const qxVideoBitMapSource *source);

// Video threads queue frames; the script thread applies them.
void qxQueueDisplayUpdate(qxDisplay *display, qxPendingUpdate *node);
int qxFlushPendingDisplayUpdates(void);
// Frees a queue (nodes and their bitmaps).
void qxFreePendingUpdates(qxPendingUpdate *list);
}
