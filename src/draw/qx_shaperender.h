// Shapes of the draw library turned into pixels on the current output:
// outline, border and shadow coverage, composed in colour and blitted.
#pragma once
#include <cstdint>
#include <vector>

#include "draw/qx_drawstate.h"
#include "draw/vector/qx_mask.h"

struct lua_State;
struct qxBitMap;
struct qxTransformOptions;
struct qxObjectStyle;
struct qxDisplay;

enum : uint32_t { QX_SHAPE_BOX = 14, QX_SHAPE_CIRCLE = 15, QX_SHAPE_ELLIPSE = 16, QX_SHAPE_LINE = 17,
                  QX_SHAPE_PLOT = 18, QX_SHAPE_POLYGON = 27, QX_SHAPE_ARC = 31 };

struct qxShapeRecord {
    uint32_t type;
    int32_t x, y;
    int32_t width, height;
    int32_t rx, ry;
    int32_t start, end;
    int32_t corners[4]; // percent: top-left, bottom-left, bottom-right, top-right
    const double *points; // polygon: pairs, closed, starting at 0,0
    int32_t pointCount;
    uint32_t colour; // 0xTTRRGGBB
    uint32_t clockwise;
    const qxTransformOptions *transform;
    const qxObjectStyle *style;
};

// A rendered shape: ARGB colours and their alpha plane, w x h, to be put at
// (x, y) relative to the shape's top-left corner.
struct qxShapeImage {
    int32_t x = 0, y = 0, w = 0, h = 0;
    int32_t turnedW = 0, turnedH = 0; // a turned shape's box, 0 when upright
    std::vector<uint32_t> pixels;
    std::vector<uint8_t> alpha;
};

// Renders the shape with the draw state (already copied and adjusted by the
// caller) into image; L is needed only for a texture brush. An empty image
// (w = 0) means nothing to draw.
int qxRenderShapeImage(lua_State *L, const qxShapeRecord *shape, const qxDrawState *state, qxShapeImage *image);
// The same, but a shape of one colour without border and shadow comes back
// as its coverage alone (the alpha plane, no pixels), to be painted straight
// into the target.
int qxRenderShapeCoverage(lua_State *L, const qxShapeRecord *shape, const qxDrawState *state, qxShapeImage *image);
// Paints the colour through such a coverage into the bitmap, the image's
// top-left corner at (x, y). False when the bitmap's pixels are not ARGB.
bool qxPaintShapeCoverage(qxBitMap *bitmap, const qxShapeImage *image, int64_t x, int64_t y, uint32_t colour);

// Paints shadow, border and fill through 8-bit coverage planes of the
// whole w x h image: the fill coverage, the outer (border) coverage or none,
// the shadow through the outer or fill coverage moved by (sdx, sdy); a
// gradient or texture fill lies in the box (fx, fy, fw, fh).
int qxComposeCoverage(lua_State *L, const qxDrawState *state, uint32_t colour, const uint8_t *fillCov,
                      const uint8_t *outerCov, bool shadow, int32_t w, int32_t h, int32_t sdx, int32_t sdy,
                      int32_t fx, int32_t fy, int32_t fw, int32_t fh, qxShapeImage *out);

// A line's picture (thickness 1..64), placed at (x, y) relative to the
// corner of the end points' box; the matrix turns it about its anchor.
int qxRenderLineImage(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour, int32_t thickness,
                      int antialias, const qxTransformOptions *transform, qxShapeImage *image);

// Whether an opaque pixel or thin line on the current display goes straight
// into its window (and its drawing bitmap) rather than the general way: the
// display itself is the output, or the display adapter double-buffers it;
// layers off, no clip mask, no sprites, no playing video, unscaled, not in refresh
// mode.
bool qxDrawsIntoWindow(const qxDisplay *display);
// The same, whatever videos the display shows.
bool qxWindowTakesDrawing(const qxDisplay *display);

// A draw state drawn under a transform: its shadow size and line width
// grow with the transform's x scale (the length of its first row), rounded.
void qxScaleDrawStyle(qxDrawState *state, const qxTransformOptions *transform);

// Puts a rendered image onto the current output at (x, y) with the object style.
int qxBlitShapeImage(lua_State *L, qxShapeImage *image, int32_t x, int32_t y, const qxObjectStyle *style);

extern "C" {
int qxRenderShape(lua_State *L, const qxShapeRecord *shape, const qxDrawState *state);
int qxRenderLine(lua_State *L, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour, int32_t thickness,
                 int antialias, const qxTransformOptions *transform, const qxObjectStyle *style);
void qxClampCorners(int32_t corners[4]);
// With layers on, the effects the layer engine draws move from a copy of
// the draw state (and the colour's transparency) into the object style:
// #EDGE, #SHADOW, and a #FILLNONE line wider than 1 as a border.
void qxDrawStyleToObjectStyle(qxDrawState *state, uint32_t *colour, qxObjectStyle *style);
}
