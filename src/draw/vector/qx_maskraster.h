// The drawing calls of the mask rasteriser that go through OpenCV. They live
// in a module of their own, loaded at the first shape that needs them, so
// that a player which draws no shapes never maps OpenCV and its libraries.
#pragma once
#include <cstdint>

#include "draw/vector/qx_mask.h"

extern "C" {

// Each call returns 0 or a negative mask status. The points are count
// whole-pixel pairs (x, y), contiguous, as QxMaskPoint lays them out.
struct QxMaskRaster {
    int (*fillPolygon)(QxMaskImage *image, const void *points, int32_t count, int antialias, int32_t thickness);
    int (*draw)(QxMaskImage *image, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int antialias, int32_t thickness);
};

// The one name the module exports.
typedef const QxMaskRaster *(*QxMaskRasterEntry)(void);
#define QX_MASK_RASTER_ENTRY "qxMaskRasterTable"
}
