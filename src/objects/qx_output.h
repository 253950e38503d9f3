// The current output of a display: the display itself, or a brush, mask,
// alpha channel, anim frame or BGPic that a Select command chose, or the
// back buffer while double buffering; and the blit that puts an object onto
// whichever it is.
#pragma once
#include <cstdint>

#include "display/qx_adapter.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmap.h"
#include "platform/qx_objectref.h"

typedef struct lua_State lua_State;
struct qxDisplay;

// Output-target types.
enum : uint32_t {
    QX_OUT_BGPIC = 1, QX_OUT_BRUSH = 3, QX_OUT_ANIM = 4, QX_OUT_DISPLAY = 21, QX_OUT_LAYER = 22, QX_OUT_MASK = 28,
    QX_OUT_ALPHA = 30,
};
enum : uint32_t { QX_SELMODE_NORMAL = 0, QX_SELMODE_COMBO = 1, QX_SELMODE_LAYERS = 2 };

struct qxRectI {
    int32_t left, top, right, bottom; // inclusive corners
};

// Per display, made at its first selection or double buffer.
struct qxOutputState {
    qxBitMap *bitmap, *mask, *alpha; // target handles
    uint32_t hardware;
    // The display's output record (BGPic layout): what is selected.
    qxBGPic record;
    uint32_t prepared;
    // Double buffer: drawing goes to the back buffer, Flip shows the
    // window buffer.
    qxBitMap *backBuffer, *windowBuffer;
    qxRectI *dirty;
    uint32_t dirtyCount, dirtyCapacity;
    // A selection made while double buffering: what EndSelect restores.
    uint32_t nested;
    qxBGPic savedRecord;
    qxBitMap *savedBitmap;
    // With layers off drawing goes into a copy of the shown BGPic, so that
    // the BGPic itself stays as it was (DisplayBGPicPart restores from it).
    qxBitMap *work;
    const qxBGPic *workFor;
    const qxBitMap *workFrom;
};

enum : uint32_t { QX_DIRTY_CAPACITY = 1024 };

extern "C" {
// SELMODE of the last selection and its third argument.
extern uint32_t qxSelectMode, qxSelectCombo;

// The display's output state, made when create is set (NULL out of memory
// or without create).
qxOutputState *qxOutputOf(qxDisplay *display, int create);
void qxFreeOutputState(qxDisplay *display);
// Makes the display's rectangle list when it has none and empties it; 0 or
// 1000.
int qxResetDirtyList(qxOutputState *state);
// The display's drawn-on copy of its BGPic, made (create) from the BGPic's
// picture; dropped when the BGPic or its picture changed.
qxBitMap *qxDisplayWorkBitmap(qxDisplay *display, int create);
// Drops the drawn-on copy: the display shows its BGPic as it is again.
void qxForgetDisplayWork(qxDisplay *display);
// What the display's refresh shows: the last flipped frame while double
// buffering (unscaled), else the drawn-on copy; NULL: the BGPic itself.
qxBitMap *qxShownBitmap(qxDisplay *display);
// The bitmap drawing goes to on the current display and its size: the
// shown picture, the back buffer or the selected object (none for a mask
// or alpha target).
qxBitMap *qxOutputBitmap(qxDisplay *display, int32_t *width, int32_t *height);
// Whether drawing on the current display becomes layers: layers are on and
// the output is the display or a BGPic selected for them.
int qxOutputTakesLayers(void);
// Fills the blit view of the current display (the bitmap layer's hook).
int qxOutputView(qxBitMap *target, void *clipRegion, qxSafeBltView *view);
// What an adapter drawing onto dest is told of the current Select target
// (the bitmap layer's hook): a blit 16 into a mask or alpha target, 8 into
// a brush target selected with its mask and alpha channel; a rectangle
// fill 4 into a mask or alpha target. Never in hardware double buffering.
uint32_t qxSelectTargetFlags(const qxBitMap *dest, int rectFill);
// Puts a rectangle of a bitmap into the display's window at the same place:
// the one road of a display's picture to its window. An autoscaled display
// gets that rectangle of its display-size picture scaled to its place in
// the window; a layer-scaling one's picture is at window size already.
// Nothing reaches the window in refresh mode.
void qxPutToWindow(qxDisplay *display, qxBitMap *bitmap, int32_t x, int32_t y, int32_t width, int32_t height);
enum : uint32_t { QX_SHOW_FORCE = 0x80000000u }; // shown in refresh mode too
// The same road with a destination of its own (display coordinates), the
// window blit's flags and a mask for the satellites and adapters.
void qxShowOnWindow(qxBitMap *bitmap, int32_t sx, int32_t sy, qxDisplay *display, int32_t dx, int32_t dy,
                    int32_t width, int32_t height, uint32_t flags, qxBitMap *mask);
// The bitmap layer's display blit (qxBltBitMapToDisplay) on that road.
void qxShowBlitOnDisplay(qxBitMap *bitmap, int32_t sx, int32_t sy, void *display, int32_t dx, int32_t dy,
                         int32_t width, int32_t height, uint32_t flags, qxBitMap *mask);
// Adds a rectangle to the double buffer's dirty list (full: dropped).
void qxAddDirtyRect(qxDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height);
// The bitmap plain drawing may paint into directly: the display's shown
// picture or a selected brush, with no clip region, double buffer, layers
// or mask and alpha plane to keep alike; NULL otherwise.
qxBitMap *qxDirectOutputBitmap(int32_t *width, int32_t *height);
// After painting into that bitmap: the brush counts as changed, a display
// shows the rectangle.
void qxDirectOutputDrawn(qxBitMap *bitmap, int32_t x, int32_t y, int32_t width, int32_t height);
// Puts an object with its mask or alpha onto the current output and shows
// what changed on screen; 0, or 1056 for a BGPic target (which takes
// layers instead) and 1055 for an output without a picture.
int qxBlitToOutput(lua_State *L, qxBitMap *bitmap, int32_t sx, int32_t sy, int32_t x, int32_t y, int32_t width,
                   int32_t height, int32_t objectWidth, int32_t objectHeight, qxBitMap *mask, qxBitMap *alpha);

// Double buffer.
int qxCmdBeginDoubleBuffer(lua_State *L);
int qxCmdFlip(lua_State *L);
int qxCmdEndDoubleBuffer(lua_State *L);
int qxEndDoubleBufferCore(lua_State *L, qxDisplay *display);
int qxAllocDoubleBufferBitmap(qxDisplay *display, int32_t width, int32_t height);
// Gives the back buffer (and the output record drawing is clipped to) the
// BGPic's new size after a size change, keeping what was drawn; 0 or 1522.
int qxResizeBackBuffer(qxDisplay *display);
void qxPresentDoubleBuffer(qxDisplay *display, int whole, uint32_t flags);
// Merges overlapping and touching rectangles of the list in place.
uint32_t qxMergeRects(qxRectI *rects, uint32_t count);
}
