// The layer engine: layer records and their payloads, the layer list of a
// BGPic, the constructor every creator goes through, dirty rectangles and
// the redraw that composes a rectangle from the BGPic and its layers.
#pragma once
#include <cstdint>
#include <vector>

#include "display/qx_bgpic.h"
#include "display/qx_bitmap.h"
#include "objects/qx_displayopts.h"
#include "platform/qx_objectref.h"

struct qxClipRegion;

typedef struct lua_State lua_State;
struct qxDisplay;
struct qxObjectDataItem;

// Layer types beyond the image object codes of qx_bgpic.h.
enum : uint32_t {
    QX_LAYER_TEXTOUT = 9, QX_LAYER_PRINT = 11, QX_LAYER_BOX = 14, QX_LAYER_CIRCLE = 15, QX_LAYER_ELLIPSE = 16,
    QX_LAYER_LINE = 17, QX_LAYER_POLYGON = 27, QX_LAYER_ARC = 31, QX_LAYER_VECTORPATH = 49, QX_LAYER_VIDEO = 50,
};

// qxAddLayer flags.
enum : uint32_t {
    QX_AL_HIDDEN = 1, QX_AL_SCALED = 2, QX_AL_INTERNAL = 4, QX_AL_REPLACE = 8, QX_AL_KEEPPOS = 256,
    QX_AL_KEEPFILTERS = 512,
};

// Redraw flags.
enum : uint32_t {
    QX_RD_NOSPRITES = 1, QX_RD_SPRITESONLY = 2, QX_RD_BACKBUFFER = 4, QX_RD_BGPICBITMAP = 8, QX_RD_SCRIPTSIZE = 16,
    QX_RD_ACTIVESPRITES = 32, QX_RD_BACKGROUNDONLY = 64,
};

// One rendition of a layer's payload. The image planes are the creator's
// (null: the layer draws its source object); the others are caches.
struct qxLayerData {
    qxBitMap *bitmap, *mask, *alpha;
    qxBitMap *xformbitmap, *xformmask, *xformalpha;
    qxBitMap *filtbitmap, *filtmask, *filtalpha;
    qxBitMap *borderbitmap, *bordermask, *borderalpha;
    qxBitMap *shadowalpha;
    void *clip;
    int32_t x, y;          // where the anchor lies
    int32_t width, height; // untransformed size
    int32_t left, top;     // drawn rectangle
    int32_t ox, oy;        // untransformed rectangle
    int32_t dwidth, dheight;
    int32_t borderdx, borderdy, borderwidth, borderheight;
    // Image types: the shown part of the source; anims: the frame (0-based)
    // and the anim library's two values.
    int32_t partx, party;
    int32_t frame, extra1, extra2;
    void *typedata; // text and shape payloads, owned through the type table
};

struct qxLayer {
    qxLayer *next, *previous;
    uint32_t type;
    qxObjectRef layerid, sourceid;
    uint32_t hidden, queued, transparency;
    char *name;
    char group[256];
    uint32_t hold, nocliptransform;
    qxTransformOptions transform;
    double anchorx, anchory;
    uint32_t shadow, shadowcolor, shadowsize, shadowdir;
    double shadowradius, shadowsigma;
    uint32_t shadowfade;
    uint32_t border, bordercolor, bordersize, borderfade;
    qxFilterBlock filters;
    uint32_t geometric;
    void *references;
    qxLayerData *base, *intermediate, *onscreen;
    // 0, or 1 + a fade level (0 .. 255) that scales the picture's opacity;
    // set by transition effects while they fade the layer.
    uint32_t imagefade;
    qxObjectDataItem *data; // SetObjectData's items; they stay with a replacing layer
};

// The typedata of a fresh image rendition made by the style keys: the
// source and type the layer shows from then on; the engine takes it over.
struct qxImageSource {
    uint32_t type;
    qxObjectRef id;
};
// What the library owning a layer type provides. A type without an entry
// cannot be drawn or restyled (1055).
struct qxLayerTypeOps {
    // The planes the layer shows and where its picture starts in them.
    int (*sourceImage)(lua_State *L, const qxLayer *layer, const qxLayerData *data, qxBitMap **bitmap,
                       qxBitMap **mask, qxBitMap **alpha, int32_t *sx, int32_t *sy);
    // Frees what typedata holds (the image planes are freed by the engine).
    void (*freeTypeData)(lua_State *L, qxLayerData *data);
    // Copies typedata into a fresh rendition; 0 or 1000.
    int (*cloneTypeData)(const qxLayerData *from, qxLayerData *to);
    // Adds the type's keys to the style table on the stack top.
    void (*pushStyleKeys)(lua_State *L, const qxLayer *layer);
    // The coverage of an untransformed layer's border when the type shapes
    // it itself (text: the glyphs square-dilated by size), and where the
    // picture starts in it; 0 or an error code (the engine's own then).
    int (*borderMask)(lua_State *L, const qxLayer *layer, const qxLayerData *data, int32_t size, qxBitMap **alpha,
                      int32_t *dx, int32_t *dy);
    // Reads the type's own keys from the style table at `table` and, when
    // they change what the layer shows, renders a fresh base rendition
    // (planes, typedata, anchor point, size) into *fresh without touching
    // the layer; *fresh stays null when the content is unchanged. Effects
    // the keys switch (shadow, border, transparency) go into style.
    int (*applyStyleKeys)(lua_State *L, const qxLayer *layer, int table, qxObjectStyle *style, qxLayerData **fresh);
    // Draws the base payload again under the transform t (a copy, never the
    // layer's own) and hands out the new planes, their size and how far
    // they lie from where the anchor places a picture of that size (0, 0
    // unless set); types without it have their picture transformed instead.
    int (*renderSource)(lua_State *L, const qxLayer *layer, const qxTransformOptions *t, qxBitMap **bitmap,
                        qxBitMap **mask, qxBitMap **alpha, int32_t *width, int32_t *height, int32_t *dx,
                        int32_t *dy);
    // The fresh record a layer of type `from` starts from when the style
    // table turns it into this type (layer: the working copy, already of
    // the new type, its base still holding the old payload; the hook sets
    // its layerid when the type shows an object): the owner's current
    // settings, 1014 when the table lacks a key the type needs.
    // applyStyleKeys then renders it with the keys.
    int (*freshTypeData)(lua_State *L, qxLayer *layer, uint32_t from, int table, void **typedata);
    // 1 when the layer's picture is its border alone (an unfilled outline in
    // the border's colour): Redraw then draws only the border.
    int (*borderOnly)(const qxLayer *layer);
    // The brush a rendition's payload fills with (a texture), or null: the
    // layer keeps that brush in use like the objects layers show.
    qxObjectRef *(*usedBrush)(qxLayerData *data);
};

// A list of inclusive rectangles; x1 == 100000 marks an entry merged away
// and a list whose count equals its capacity means "refresh everything".
struct qxLayerRect {
    int32_t x1, y1, x2, y2;
};
struct qxRectList {
    qxLayerRect *entries;
    int32_t count, capacity;
};

enum : int32_t { QX_RECT_MERGED = 100000, QX_LAYER_CMD_RECTS = 1024 };

extern "C" {
extern qxRectList qxLayerCmdRects;

void qxRegisterLayerType(uint32_t type, const qxLayerTypeOps *ops);
const qxLayerTypeOps *qxLayerType(uint32_t type);
// A type that draws itself again under the layer's transform rather than
// having its upright picture turned (vector paths stay crisp): the picture
// (bitmap and alpha, width x height) and where it starts relative to the
// layer's anchor point, under t (the layer's transform, at the display's
// scale for an on-screen rendition). 0 or an error code.
typedef int (*qxLayerRedrawFunc)(lua_State *L, const qxLayer *layer, const qxLayerData *data,
                                 const qxTransformOptions *t, qxBitMap **bitmap, qxBitMap **alpha, int32_t *dx,
                                 int32_t *dy, int32_t *width, int32_t *height);
void qxRegisterLayerRedraw(uint32_t type, qxLayerRedrawFunc redraw);
qxLayerRedrawFunc qxLayerRedraw(uint32_t type);
// The untransformed planes of a rendition: its own, else those its type's
// library hands out (1055 for a type without them); (sx, sy) is where the
// picture starts. The bitmap may still be null after 0.
int qxLayerSourcePlanes(lua_State *L, const qxLayer *layer, const qxLayerData *data, qxBitMap **bitmap,
                        qxBitMap **mask, qxBitMap **alpha, int32_t *sx, int32_t *sy);

// The BGPic whose layers commands work on (the selected BGPic, else the
// current display's).
qxBGPic *qxLayerBGPic(void);

int qxAddLayer(lua_State *L, uint32_t type, const qxObjectRef *id, int32_t x, int32_t y, int32_t width,
               int32_t height, const qxTransformOptions *transform, qxObjectStyle *style, qxBitMap *bitmap,
               qxBitMap *mask, qxBitMap *alpha, qxLayerData *data, int32_t position, uint32_t flags,
               qxLayer **out);
// An image layer (brush, part, anim frame, video) at anchor point (x, y)
// showing the part (a, b) of its source, or the frame a of an anim.
int qxAddImageLayer(lua_State *L, uint32_t type, qxObjectRef ref, int32_t a, int32_t b, int32_t x, int32_t y,
                    int32_t width, int32_t height, const qxTransformOptions *options, const qxObjectStyle *style,
                    qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t position, uint32_t flags);
// Builds the transformed rendition again after the layer's transform or
// anchor changed (or drops it for the identity); on failure the old stays.
int qxRebuildLayerTransform(lua_State *L, qxLayer *layer);
int qxAssignLayerName(qxBGPic *bgpic, char **nameOut, const char *text);
qxLayer *qxGetLayerByIndex(const qxBGPic *bgpic, int32_t n);
int32_t qxCountLayers(const qxBGPic *bgpic);
int32_t qxLayerPosition(const qxBGPic *bgpic, const qxLayer *layer);
int32_t qxFindLayerByName(const qxBGPic *bgpic, const char *name);
// The layer of the current layer BGPic that argument arg names by position
// or name: 0, 1078 with layers off, else 1081.
int qxFindLayerArg(lua_State *L, int arg, qxLayer **out);
// GetAttribute of layers and their object data for the system library.
void qxLinkLayerAttributes(void);
// GetAttribute's answers that only a layer type's library knows (font and
// text of text layers, the video of a video layer): pushes and returns the
// value count, or returns -code (-1080 for one it does not know).
typedef int (*qxLayerAttributeFunc)(lua_State *L, const qxLayer *layer, int attribute);
void qxRegisterLayerAttribute(uint32_t type, qxLayerAttributeFunc attribute);
// The position a number or a layer name names; 0, 1183 or 1369.
int qxGetLayerArg(lua_State *L, int arg, const qxBGPic *bgpic, int32_t *position);
int qxGetLayerArgMulti(lua_State *L, int arg, const qxBGPic *bgpic, qxLayer **out, int32_t *index, int *group);
int qxSetLayerZ(qxBGPic *bgpic, qxLayer *layer, int32_t position);
void qxUnlinkLayer(qxBGPic *bgpic, qxLayer *layer);
void qxInsertLayerAfter(qxBGPic *bgpic, qxLayer *after, qxLayer *layer); // after null: at the bottom
void qxFreeLayerData(lua_State *L, uint32_t type, qxLayerData *data);
void qxFreeLayerContents(lua_State *L, qxLayer *layer);
// Frees what the script freed while layers showed it: bits 1 brushes,
// 2 anims, 8 BGPics (text objects and videos come with their libraries).
void qxFlushDeletedObjects(lua_State *L, uint32_t kinds);
void qxFreeBGPicLayers(lua_State *L, qxBGPic *bgpic, int flush, int dropButtons);
int qxFindLayerShowing(uint32_t type, qxObjectRef ref, const void *skip, qxBGPic **bgpicOut, void **layerOut);
int qxRepointObjectLayers(uint32_t type, qxObjectRef ref, void *newAutomatic);
qxBGPic *qxLayerOwner(const void *layer);
int qxRemoveLayerRecord(lua_State *L, qxBGPic *bgpic, qxLayer *layer, int noRedraw, qxRectList *list);

// Rectangles.
int qxRectsOverlapWH(int32_t x, int32_t y, int32_t w, int32_t h, int32_t x2, int32_t y2, int32_t w2, int32_t h2);
void qxUnionRect(int32_t *x, int32_t *y, int32_t *w, int32_t *h, int32_t x2, int32_t y2, int32_t w2, int32_t h2);
void qxRectListAdd(qxRectList *list, int32_t x, int32_t y, int32_t width, int32_t height, int grow);
void qxMergeRectList(qxRectList *list);
void qxRefreshRectList(lua_State *L, qxRectList *list);

// The picture a layer shows now (transformed when it is) and where it
// starts in the planes; 0, or 1055 for a layer being removed or without a
// source.
int qxGetLayerImage(lua_State *L, const qxLayer *layer, qxBitMap **bitmap, qxBitMap **mask, qxBitMap **alpha,
                    int32_t *sx, int32_t *sy);
int qxHasActiveFilters(const qxFilterBlock *filters);
// Adds a layer's screen rectangle (of the given rendition, else the
// on-screen one) to the display's dirty rectangles.
void qxMarkLayerDirty(lua_State *L, const qxLayer *layer, const qxLayerData *data);
// Cuts (x, y, w, h) to the second rectangle; 0 when nothing is left.
int qxIntersectRect(int32_t *x, int32_t *y, int32_t *w, int32_t *h, int32_t x2, int32_t y2, int32_t w2, int32_t h2);
// The border of a width x height box turned by t, drawn by the shape
// renderer (filled, anti-aliased, with an edge of size), and where the
// turned picture of that box starts in it; set by the draw library.
typedef int (*qxBoxBorderFunc)(lua_State *L, const qxTransformOptions *t, int32_t width, int32_t height,
                               int32_t size, qxBitMap **alpha, int32_t *dx, int32_t *dy);
extern qxBoxBorderFunc qxLayerBoxBorder;
// The transform a rendition is drawn under: the layer's own, with the
// display's layer-scale factors for a separate on-screen rendition.
void qxRenditionTransform(const qxLayer *layer, const qxLayerData *data, qxTransformOptions *out);
// How far the origin of a width x height box moves when it is grown by size
// on each side and transformed by matrix: size for the identity.
int32_t qxXformBorderInset(const double matrix[4], int32_t width, int32_t height, int32_t size);
// How far a rendition's border reaches around its picture.
int32_t qxLayerBorderInset(const qxLayer *layer, const qxLayerData *data);
// Where a layer's shadow lies: its drawn rectangle grown by the blur
// radius and moved by the shadow's size in its direction.
void qxLayerShadowRect(const qxLayer *layer, const qxLayerData *data, int32_t *x, int32_t *y, int32_t *w,
                       int32_t *h);
// The screen rectangle of a layer: drawn rectangle with its effects.
void qxLayerScreenRect(const qxLayer *layer, const qxLayerData *data, int32_t *x, int32_t *y, int32_t *w,
                       int32_t *h);
int qxLayerIsUncovered(const qxLayer *layer);
void qxInvalidateRect(lua_State *L, int32_t x, int32_t y, int32_t w, int32_t h);
void qxRefreshDisplay(lua_State *L, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t flags);
void qxRefreshDirtyRects(lua_State *L);
// The layer commands' checks: a current display drawing to itself with
// layers on; 0 or the code.
int qxLayerModeGuard(qxDisplay **out);
// Switches the display to layer mode (EnableLayers): 0 or 1329, 1229, 1163, 1224.
int qxEnableLayersOnDisplay(qxDisplay *display);
void Redraw(lua_State *L, qxDisplay *display, qxBGPic *bgpic, qxBitMap *destination, int32_t x, int32_t y,
            int32_t width, int32_t height, uint32_t flags);
void qxDrawLayer(lua_State *L, qxLayer *layer, int fast);
// flags 1 and 2: x and y relative; accumulator (x, y, w, h) or list collect the dirty area.
void qxMoveLayer(lua_State *L, qxLayer *layer, int32_t *accumulator, int32_t x, int32_t y, int noInvalidate,
                 uint32_t flags, qxRectList *list);

// The display's background: what lies below the layers (a copy of what it
// showed when layers went on, or the BGPic).
qxBitMap *qxLayerBackground(qxDisplay *display, qxBGPic *bgpic);
void qxSetLayerBackground(qxDisplay *display, qxBGPic *bgpic, qxBitMap *bitmap);
// The same with the picture a layer-scaling display composed at its scaled
// size (taken over; freed when it does not fit that size).
void qxSetLayerBackgroundComposed(qxDisplay *display, qxBGPic *bgpic, qxBitMap *bitmap, qxBitMap *composed);
void qxFreeLayerBackgrounds(void);

// 1 when two rectangles touch where both images are solid (every plane an
// image has is set) and both clip regions' masks let them through; images
// without planes are solid everywhere. offx, offy: where each rectangle
// starts in its image.
// 1 when (x, y) on screen lies on the layer's rectangle within its clip
// region and, with exact, on a pixel its mask or alpha leaves visible.
int qxLayerHitAt(lua_State *L, const qxLayer *layer, int32_t x, int32_t y, int exact);
void qxLinkLayerButtons(void);
int qxCollidePixels(int32_t x1, int32_t y1, int32_t w1, int32_t h1, qxBitMap *mask1, qxBitMap *alpha1, int32_t offx1,
                    int32_t offy1, int32_t x2, int32_t y2, int32_t w2, int32_t h2, qxBitMap *mask2, qxBitMap *alpha2,
                    int32_t offx2, int32_t offy2, void *clip1, void *clip2);
int qxCmdCollision(lua_State *L);

// Moves an anim layer and shows another frame of it through the style
// engine (x, y 100000: unchanged; frame 1-based, 0 the next, -1 the last).
int qxLayerSetPosFrame(lua_State *L, qxLayer *layer, int32_t x, int32_t y, int32_t frame, int noRefresh);

// The planes SelectLayer draws into: a text or shape layer first becomes a
// brush layer of its own, a brush or anim is made the layer's own copy.
// frame: 1-based, anim layers only. target: the output-target type the
// planes are made ready for (a missing mask or alpha channel made), 0 for
// none. 0, 1055, 1094, 1338, 1513, 1564, 1565 or the lookup's error.
int qxLayerBuildImage(lua_State *L, qxLayer *layer, int32_t frame, uint32_t target, qxBitMap **bitmap,
                      qxBitMap **mask, qxBitMap **alpha, int32_t *width, int32_t *height);
// Drops the pictures made from the layer's image (filtered, shadow, border).
void qxLayerFreeImageCache(qxLayer *layer);
// The anim an anim layer shows, made the layer's own copy unless only this
// layer shows it.
int qxLayerOwnAnim(lua_State *L, qxLayer *layer, struct qxAnim **out);
void qxLinkLayerSelection(void);

// Renditions. The trig tables are the draw state's whole-degree tables,
// handed down at start-up with the function that fills them on first use.
extern const double *qxLayerCosTable, *qxLayerSinTable;
extern void (*qxLayerFillTrigTables)(void);
// 1 when the display composes its layers at its own, scaled size.
int qxLayerScaling(const qxDisplay *display);
// The size at which the display composes b and places its layers' screen
// rectangles: the window's when it scales its layers, else b's own.
void qxComposedSize(const qxDisplay *display, const qxBGPic *b, int32_t *width, int32_t *height);
// Layers of b need their own on-screen pictures: the display scales them.
bool qxLayerScaledFor(const qxDisplay *d, const qxBGPic *b);
// general = 1 unless the matrix is a rotation with uniform scale (then
// scale1 and scale2 hold the scale); an axis-aligned matrix is left alone.
void qxAnalyzeXform(qxTransformOptions *t);
// Mode 1: the on-screen rendition (else the intermediate one); 2 handed on;
// 4: the old on-screen rectangle is not refreshed.
int qxCloneLayerData(lua_State *L, qxLayer *layer, uint32_t mode);
void qxPlaceLayerData(qxLayer *layer, qxLayerData *data, int32_t x, int32_t y);
// Stores a re-rendered picture into the on-screen rendition; acc (x, y, w,
// h; w -1: take the new one) is refreshed with the new rectangle unless
// null. flags 64: a line keeps its corner.
void qxSetLayerPosition(lua_State *L, qxLayer *layer, int32_t *acc, int32_t x, int32_t y, int32_t width,
                        int32_t height, qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, uint32_t flags);
void qxFreeEffectImage(qxLayerData *data);
int qxResetBGPicRenditions(lua_State *L, qxDisplay *display, qxBGPic *bgpic, int reallocate);
int qxCopyLayerData(lua_State *L, qxDisplay *display, qxBGPic *bgpic);
// Brings a layer-scaling display's BGPic and layers to its current scale.
int qxSyncLayerScale(lua_State *L, qxDisplay *display);
// The same, then the display's work bitmap is composed again whole.
int qxRescaleDisplayLayers(lua_State *L, qxDisplay *display);
// The display at its current scale, its work bitmap composed again whole
// from its BGPic, layers and sprites when it shows any of them.
int qxComposeDisplay(lua_State *L, qxDisplay *display);
// Hands the display code the rescale and the queued layer rebuild.
void qxLinkLayerRenditions(void);
// Makes a layer again through its creator at the display's scale, keeping
// its style, name and place; *layer becomes the new record.
int qxRebuildLayerOnDisplay(lua_State *L, qxDisplay *display, qxLayer **layer, qxBitMap *bitmap);

// Fills the up-call tables of the lower layers with the layer engine.
void qxLinkLayerEngine(void);
// Registers layers (22) and sprites (32) as sources of ConvertToBrush.
void qxLinkLayerBrushSources(void);
}

// 1372 when an async draw (a transition, a move) holds a layer of the list
// from first on: such layers cannot go.
int qxRefuseHeldLayers(const qxLayer *first);
// 1 when a visible layer that an async draw is drawing lies below layer
// (from the bottom of list up) and overlaps it.
int qxLayerOverlapsVisible(const qxLayer *list, const qxLayer *layer);

// While a layer's records change, an async draw that draws the layer gives
// it up (its planes leave the records) and takes it up again afterwards
// (event 1 before and after). hold is set meanwhile, so nested changes of
// the same layer tell the draws once and refreshes wait for the holder.
struct qxLayerAsyncHold {
    qxLayer *layer;
    bool held;
    explicit qxLayerAsyncHold(qxLayer *l);
    // 0, or the error the draws gave taking the layer up again.
    int release();
    ~qxLayerAsyncHold() { release(); }
    qxLayerAsyncHold(const qxLayerAsyncHold &) = delete;
    qxLayerAsyncHold &operator=(const qxLayerAsyncHold &) = delete;
};

// A clip region with a mask keeps drawing off the pixels where its mask is
// clear: the rectangle is saved before drawing (restore false) and those
// pixels are put back afterwards (restore true).
void qxClipMaskPass(qxBitMap *dest, const qxClipRegion *clip, int32_t x, int32_t y, int32_t w, int32_t h,
                    std::vector<uint8_t> &saved, bool restore);
