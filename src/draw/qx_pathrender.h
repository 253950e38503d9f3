// Vector paths on the current output: coverage from the vector engine,
// colours, border and shadow from the draw state, a layer of type 49 when
// layers are on.
#pragma once
#include <cstdint>

#include "draw/qx_shapelayer.h"

struct lua_State;
struct qxTransformOptions;
struct qxObjectStyle;

extern "C" {
// Extents of the path's filled shape (fill 1) or of its outline of the
// given width, moved by (dx, dy) and mapped by the matrix (none: identity).
void qxEngineGetPathExtents(const qxVectorEngine *engine, const uint8_t *items, const qxVectorState *vector,
                            uint32_t fill, uint32_t lineWidth, double dx, double dy, const double *matrix,
                            double *x1, double *y1, double *x2, double *y2);

// Draws the path of data (items, vector settings, draw state, colour) with
// its origin at (x, y) on the current output or as a layer. 0 or an error.
int qxRenderPath(lua_State *L, int32_t x, int32_t y, const qxShapeLayerData *data, const qxTransformOptions *transform,
                 const qxObjectStyle *style);
}

struct qxShapeImage;
// The path's picture (straight ARGB and alpha) at the matrix (null: upright)
// about its origin, or about centre (x, y) when given; (left, top) is where
// the picture starts relative to the origin. 0, 1394, 1470 or 1522.
int qxRenderPathImage(lua_State *L, const qxShapeLayerData *data, const double *matrix, qxShapeImage *image,
                      int32_t *width, int32_t *height, double *left, double *top, const double *centre = nullptr);
// A path layer's upright picture drawn again from its payload, and where
// it starts relative to the path's origin.
int qxRenderPathLayerImage(lua_State *L, const qxShapeLayerData *data, qxShapeImage *image, int32_t *offX,
                           int32_t *offY);

struct qxLayer;
struct qxLayerData;
struct qxBitMap;
// A path layer drawn again from its path under t (the layer's transform,
// at the display's scale for an on-screen picture), turned about the
// layer's anchor point: the picture and where it starts relative to that
// point.
int qxPathTransform(lua_State *L, const qxLayer *layer, const qxLayerData *base, const qxTransformOptions *t,
                    qxBitMap **bitmap, qxBitMap **alpha, int32_t *dx, int32_t *dy, int32_t *width, int32_t *height);
