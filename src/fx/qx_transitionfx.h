// The transition request, the renderer contract and the effect table that
// every transition effect plugs into, with the shared drawing routines.
#pragma once
#include <cstddef>
#include <cstdint>

#include "display/qx_bitmap.h"
#include "platform/qx_objectref.h"

struct lua_State;
struct qxLayer;
struct qxBGPic;
struct qxTransitionFX;

extern "C" {

// A renderer's step: phase 0 sets up (done is none), phase 1 draws the next
// frame and sets *done with the last one, phase 2 draws `frame` directly.
typedef int (*qxFXStepFn)(qxTransitionFX *fx, int *done);
typedef void (*qxFXCleanupFn)(qxTransitionFX *fx);

// Request modes (object types).
enum : uint32_t {
    QX_FXMODE_BGPIC = 1, QX_FXMODE_BRUSH = 3, QX_FXMODE_TEXTOBJECT = 8, QX_FXMODE_BGPICPART = 13,
    QX_FXMODE_SHOWLAYER = 22, QX_FXMODE_HIDELAYER = 25, QX_FXMODE_REMOVELAYER = 26,
};

enum : int32_t {
    QX_FX_NORMALSPEED = -1, QX_FX_FASTSPEED = -2, QX_FX_SLOWSPEED = -3,
    QX_FX_RANDOMEFFECT = 140, QX_FX_RANDOMPARAMETER = -1, QX_FX_NOEFFECT = 113, QX_FX_COUNT = 140,
};

struct qxTransitionFX {
    lua_State *L;
    qxLayer *layer;
    qxBitMap *target;
    qxFXStepFn step;
    qxFXCleanupFn cleanup;
    uint32_t mode;
    int32_t effect;
    qxObjectRef object;
    int32_t x, y;
    int32_t speed;
    int32_t requestedSpeed;
    int32_t parameter;
    int32_t width, height;
    int32_t bgWidth, bgHeight;
    int32_t objectType;
    int32_t undoLevel;
    qxBitMap *newImage;
    qxBitMap *oldImage;
    qxBitMap *bgpicImage;
    qxBitMap *newMask;
    qxBitMap *newAlpha;
    uint32_t layerPrepared;
    int32_t savedOffsetX, savedOffsetY;
    int32_t savedX, savedY;
    qxBGPic *bgpic;
    uint32_t ownsNewImage, ownsNewMask, ownsNewAlpha;
    int32_t srcX, srcY;
    uint32_t layers;
    uint32_t reverse;
    uint32_t blitFlags;
    uint32_t toBackBuffer;
    uint32_t async;
    uint32_t again;
    uint32_t stopped;
    uint32_t realtime;
    uint32_t forceRealtime;
    uint32_t reshowLayer;
    uint32_t removeLayer;
    uint32_t *inUse;
    int32_t posX, posY;
    uint32_t bgpicEmu;
    qxBGPic *emuBGPic;
    void *data;
    qxBitMap *workMask;
    qxBitMap *workAlpha;
    int32_t phase;
    int32_t frame;
    int32_t frames;
    uint32_t drawing;
    uint32_t redrawn;
    uint32_t finished;
    uint32_t layerTransformed;
    int32_t level;
    uint32_t noBorderFade;
    uint32_t viaBackBuffer;
    uint32_t selfDriven;
    uint32_t isScroll;
    uint32_t recording;
    int32_t tempW, tempH;
};

// One renderer in the effect table.
struct qxFXEffect {
    int32_t id;
    qxFXStepFn step;
    qxFXCleanupFn cleanup; // none when the renderer keeps nothing outside `data`
};

struct qxFXEffectList {
    const qxFXEffect *entries;
    size_t count;
};

// The renderers are gathered in two lists, each defined in its own file:
// the wipes in qx_fxwipes.cpp, everything else in qx_fxeffects2.cpp.
extern const qxFXEffectList qxFXEffectsI;
extern const qxFXEffectList qxFXEffectsII;

// The entry of an effect id, or none (113, negatives, above 139, or an
// effect not built).
const qxFXEffect *qxFXFindEffect(int32_t id);

// Speed codes and distances into step sizes and frame counts.
int32_t qxFXStepSize(int32_t speed, int32_t total, int32_t normalDivisor, int32_t fastDivisor,
                     int32_t slowDivisor);
int32_t qxFXFrameCount(int32_t total, int32_t step, int exact);
// drand48-based choice of 0-139 without 113; restricted skips the effects
// that need the picture under a layer.
int32_t qxFXRandomEffect(int restricted);
int qxFXIsLayerOnly(int32_t id);
// Effect families that decide how the driver prepares the images.
int qxFXKeepsPlanes(int32_t id);
int qxFXNeedsOldImage(int32_t id, int realtime);
int qxFXIsFadeFamily(int32_t id);
int qxFXReverseNeedsRealtime(int32_t id);
int qxFXSeeksDirectly(int32_t id);
// The partner of an effect when it runs backwards.
int32_t qxFXReverseEffect(int32_t id);
// Fills the request from an options table at index t.
void qxFXReadOptions(lua_State *L, int t, qxTransitionFX *fx);

// Renderer helpers. Zero-filled private data of `bytes`; 1000 when it
// cannot be allocated.
int qxFXAllocData(qxTransitionFX *fx, size_t bytes);
// Frame start: the layer (if any) becomes visible while it changes.
void qxFXFrameStart(qxTransitionFX *fx);
// The piece blit: rectangle (sx, sy, w, h) of the new picture to its place.
void qxFXBlitPiece(qxTransitionFX *fx, int32_t sx, int32_t sy, int32_t w, int32_t h);
// The standard frame end; advances `frame`.
void qxFXFrameEnd(qxTransitionFX *fx);

// Shared drawing routines.
uint32_t qxFXRefreshSources(qxTransitionFX *fx, uint32_t which);
void qxFXShowRect(qxTransitionFX *fx, qxBitMap *bitmap, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                  int32_t h, int32_t bitmapWidth, int32_t bitmapHeight, qxBitMap *mask, qxBitMap *alpha,
                  uint32_t flags);
void qxFXDrawRect(qxBitMap *source, int32_t sx, int32_t sy, qxBitMap *destImage, qxBitMap *destMask,
                  qxBitMap *destAlpha, int32_t dx, int32_t dy, int32_t w, int32_t h, int32_t sourceWidth,
                  int32_t sourceHeight, int32_t destWidth, int32_t destHeight, qxBitMap *sourceMask,
                  qxBitMap *sourceAlpha, qxTransitionFX *fx, uint32_t flags);
void qxFXFillRect(qxTransitionFX *fx, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour, uint32_t flags);
void qxFXBlitRegion(qxBitMap *source, int32_t sx, int32_t sy, qxBitMap *dest, int32_t dx, int32_t dy, int32_t w,
                    int32_t h, int32_t sourceWidth, int32_t sourceHeight, int32_t destWidth, int32_t destHeight,
                    uint32_t blitFlags, uint32_t flags, qxBitMap *oldPicture, qxBitMap *sourceMask,
                    qxBitMap *composing, qxBitMap *sourceAlpha, qxTransitionFX *fx);
void qxFXBlitClipped(qxBitMap *source, int32_t sx, int32_t sy, qxBitMap *dest, int32_t dx, int32_t dy, int32_t w,
                     int32_t h, int32_t sourceWidth, int32_t sourceHeight, int32_t destWidth, int32_t destHeight);
void qxFXMaskAlpha(qxBitMap *mask, qxBitMap *destAlpha, qxBitMap *sourceAlpha, int32_t w, int32_t h, int invert);
// parameters: a qxCopyRecord (planes filled by the caller); 1152 when a
// bitmap cannot be locked, 1055 when the pictures do not fit the record.
int qxFXRollKernel(qxBitMap *source, qxBitMap *dest, void *parameters);
void qxFXFillAlpha(qxBitMap *alpha, qxBitMap *mask, qxBitMap *sourceAlpha, int32_t w, int32_t h);
qxBitMap *qxFXMakeAlpha(qxBitMap *mask, qxBitMap *alpha, int32_t w, int32_t h);
// Real-time set-ups of the fade family; each makes the renderer's private
// alpha plane (from the new picture's planes) into *alpha, freeing the one
// there; 1000 when it cannot be made. Without real-time work they do nothing.
int qxFXInitComposite(qxTransitionFX *fx, qxBitMap **alpha);
int qxFXInitAlphaPair(qxTransitionFX *fx, qxBitMap **alpha);
int qxFXInitFill(qxTransitionFX *fx, int fill, qxBitMap **alpha);
// A layer that overlaps a transition's layer, as it stood: compared byte
// for byte with a later snapshot to see whether the layers around moved.
struct qxFXOverlap {
    int32_t x, y, width, height;
    qxLayer *layer;
    void *data[3]; // the first three words of its on-screen data record
};
// Counts the visible layers from first up to (not including) layer whose
// on-screen rectangle overlaps layer's; out, when given, takes one
// qxFXOverlap per counted layer.
int qxFXCountOverlaps(qxLayer *first, qxLayer *layer, void *out);

// The driver.
int qxFXRun(qxTransitionFX *request);
void qxFXFinish(qxTransitionFX *fx, int shown);
void qxFXFree(qxTransitionFX *fx, int completed);
int qxFXSeek(qxTransitionFX *fx, int32_t frame, int force);
// Set while a mode-1 transition runs synchronously.
extern uint32_t qxFXBGPicTransition;
}
