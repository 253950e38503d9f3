// Calls from the transition engine into object and layer code that lives
// beside it (brushes, BGPics, text objects, layers). Each entry is filled
// by the owner's opener; an empty entry answers that the object or the
// service is not available.
#pragma once
#include <cstdint>

#include "fx/qx_transitionfx.h"

extern "C" {
struct qxFXHooks {
    // Modes 3, 8 and 13: find the object, raise its in-use counter into
    // fx->inUse and put its picture into the new-image fields with width and
    // height, position constants resolved; with layers on add it as the top
    // layer and turn the request into mode 22 on that layer's index.
    int (*objectSource)(qxTransitionFX *fx);
    // Mode 1. op 0: switch the display to BGPic fx->object without showing
    // it (fx->newImage owned, fx->bgpicImage, fx->bgpic, width, height);
    // op 1: the transition ended, the display takes the new BGPic for good;
    // op 2: the run failed, the display goes back to fx->bgpic as before.
    int (*bgpicSwitch)(qxTransitionFX *fx, int op);
    // Layer modes: find the layer fx->object, decide real-time mode and read
    // the layer's picture (everything of the layer set-up); 0 or an error.
    int (*layerSetup)(qxTransitionFX *fx);
    // The 1-based layer index of argument narg (raises the layer errors).
    int (*layerArg)(lua_State *L, int narg, int32_t *index);
    // UndoFX: the layer number of the level-th topmost layer of an object.
    int (*undoLookup)(lua_State *L, int32_t type, qxObjectRef id, int32_t level, int32_t *index);
    // The on-screen image record of a layer.
    int (*layerImages)(qxLayer *layer, qxBitMap **image, qxBitMap **mask, qxBitMap **alpha, int32_t *width,
                       int32_t *height);
    // Clears the hidden flags of a layer for the frame start.
    void (*layerVisible)(qxLayer *layer);
    // The layer path of qxFXShowRect.
    void (*showRect)(qxTransitionFX *fx, qxBitMap *bitmap, int32_t sx, int32_t sy, int32_t dx, int32_t dy,
                     int32_t w, int32_t h, int32_t bitmapWidth, int32_t bitmapHeight, qxBitMap *mask,
                     qxBitMap *alpha, uint32_t flags);
    // End of a layer transition: op 0 finish (shown in `shown`), op 1 free
    // (completed in `shown`), op 2 restore the prepared layer.
    void (*layerEnd)(qxTransitionFX *fx, int op, int shown);
    // qxFXRefreshSources of the layer code.
    uint32_t (*refreshSources)(qxTransitionFX *fx, uint32_t which);
    // 1 when a display whose output is a Select target may run this request
    // (it targets the very object that is selected).
    int (*selectedTarget)(qxTransitionFX *fx);
    // Ends double buffering of the current display; 0 or an error.
    int (*endDoubleBuffer)(lua_State *L);
    // The async-draw method ops 0, 1 and 5 (layer replaced, picture
    // changed, redraw) for a layer transition.
    intptr_t (*layerMethod)(qxTransitionFX *fx, int op, void *argument);
};
extern qxFXHooks qxFXHook;
// Resolves the position constants in *x, *y for an object of w x h on
// the current display: on its clip region when it has one, else on its BGPic.
void qxFXPlaceObject(int32_t w, int32_t h, int32_t *x, int32_t *y);
// Fills the entries served by brushes, BGPics and the display core.
void qxLinkFXObjects(void);
// Fills the layer entries (called by qxLinkFXObjects).
void qxLinkFXLayers(void);
// Fills refreshSources (called by qxLinkFXObjects).
void qxLinkFXSources(void);
// Async real-time transitions with a masked or translucent picture: the
// work planes that remember what the frames revealed; 0, 1564 or 1565.
int qxFXAllocWorkPlanes(qxTransitionFX *fx);
// The current frame of a real-time transition again from its new picture
// and the work planes (after the picture changed).
void qxFXRebuildFrame(qxTransitionFX *fx);
// The size a BGPic is composed at by Redraw with these flags: its current
// size when the composition starts from its current bitmap.
void qxFXComposeSize(const qxBGPic *b, uint32_t flags, int32_t *w, int32_t *h);
// bgpicemu on a display that scales its layers: the emulated BGPic and its
// layers at the display's size (the layer shows it at that size); 0 or an
// error of the scaling.
int qxFXEmuAtDisplaySize(qxTransitionFX *fx);
// The renderer set up again for a new size, the frame reached mapped onto
// the new count and redrawn; 0 or the renderer's error.
int qxFXRestart(qxTransitionFX *fx);
}
