// Shape and path layers: the payload a shape or path layer keeps, the
// constructor the renderers hand their image to, and the layer engine's
// table entries for the shape types and vector paths.
#pragma once
#include <cstdint>

#include "draw/qx_drawstate.h"
#include "draw/vector/qx_ftengine.h"
#include "draw/vector/qx_path.h"
#include "platform/qx_objectref.h"

struct lua_State;
struct qxBitMap;
struct qxTransformOptions;
struct qxObjectStyle;

extern "C" {

// What a shape (14, 15, 16, 17, 27, 31) or path (49) layer was drawn from.
struct qxShapeLayerData {
    uint32_t type;
    int32_t x, y, width, height;
    qxDrawState state;
    uint32_t colour;
    int32_t corners[4];
    int32_t rx, ry, start, end;
    uint32_t clockwise;
    double *points; // polygons: a heap copy of pointCount pairs
    int32_t pointCount;
    int32_t x1, y1, x2, y2, thickness; // lines
    // Paths: the path drawn, its items (a heap copy), the vector settings
    // (the dash array a copy of its own) and the engine (none: inbuilt).
    qxObjectRef path;
    uint8_t *items;
    int32_t capacity;
    qxVectorState vector;
    const qxVectorEngine *engine;
    int32_t imageX, imageY; // shapes: where the picture starts relative to the shape's corner
};

// 1 when drawing now makes layers: layers are on and the output is the
// display or a BGPic.
int qxShapeGoesToLayer(void);

// Makes a layer of payload->type from the composed image (ARGB pixels and
// their alpha, w x h) whose top-left lies at (left, top) untransformed; the
// layer carries the transform and the object style. The payload is copied
// (points, items and dashes too). 0 or an error code.
int qxAddShapeLayer(lua_State *L, const qxShapeLayerData *payload, const uint32_t *pixels, const uint8_t *alpha,
                    int32_t w, int32_t h, int32_t left, int32_t top, const qxTransformOptions *transform,
                    const qxObjectStyle *style);

// Duplicates or frees what a payload owns (points, items, dash array).
int qxCloneShapeLayerData(const qxShapeLayerData *from, qxShapeLayerData **to);
void qxFreeShapeLayerData(qxShapeLayerData *data);

// Registers the shape and path types with the layer engine.
void qxLinkShapeLayers(void);
}

// ARGB pixels and an alpha plane as the bitmap planes of a w x h image:
// 0, 1522 or 1564 (nothing allocated then).
int qxShapePlanes(const uint32_t *pixels, const uint8_t *alpha, int32_t w, int32_t h, qxBitMap **bitmap,
                  qxBitMap **alphaPlane);
