// What the draw library asks of the vector paths: the ForcePathUse switch
// and the drawing of an item buffer or of a shape built as a path.
#pragma once
#include <cstdint>

#include "draw/vector/qx_path.h"
#include "platform/qx_objectref.h"

struct lua_State;
struct qxTransformOptions;
struct qxObjectStyle;

// Non-zero: Box, Circle, Ellipse, Arc and Polygon draw through paths.
extern int qxForcePathUse;

// Draws the items with the current vector settings, draw state and engine
// at (x, y) in colour; id names the path a layer then shows.
int qxDrawPathBuffer(lua_State *L, const qxPathBuffer *buffer, qxObjectRef id, int32_t x, int32_t y, uint32_t colour,
                     const qxTransformOptions *transform, const qxObjectStyle *style);

// A draw-library shape (14 box, 15 circle, 16 ellipse, 27 polygon, 31 arc)
// drawn as a closed temporary path at (x, y).
int qxDrawShapeAsPath(lua_State *L, uint32_t type, int32_t x, int32_t y, uint32_t colour, int32_t width,
                      int32_t height, const int32_t corners[4], int32_t rx, int32_t ry, int32_t start, int32_t end,
                      uint32_t clockwise, const double *points, int32_t count, const qxTransformOptions *transform,
                      const qxObjectStyle *style);

struct qxShapeLayerData;
// A path as a path brush entry draws it: its items (not copied), its style
// snapshot and the engine now current. 0, 1041, 1393 or 1394 (no items).
int qxPathSnapshot(qxObjectRef ref, qxShapeLayerData *out);
// Registers paths (type 49) as a vector source of ConvertToBrush.
void qxLinkPathBrushSource(void);
