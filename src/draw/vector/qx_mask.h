// 8-bit coverage masks: the draw library rasterises its shapes into one
// through OpenCV's drawing functions (loaded at the first shape that needs
// them), then composes fill, border and shadow colours through it.
#pragma once
#include <cstdint>

extern "C" {

// A point in whole pixels of the mask; the point (x, y) is the centre of pixel (x, y).
struct QxMaskPoint {
    int32_t x, y;
};

// One channel, 8 bits, origin top-left, rows aligned to 4 bytes.
struct QxMaskImage {
    int32_t width, height, stride;
    uint8_t *data;
};

// Status of the last mask call: 0, or a negative code (below); nobody is required to read it.
extern int qxMaskStatus;
enum {
    QX_MASK_OK = 0,
    QX_MASK_NOT_LOADED = -2, // the OpenCV module could not be loaded
    QX_MASK_NO_MEMORY = -4,
    QX_MASK_BAD_ARGUMENT = -5,
    QX_MASK_BAD_SIZE = -25,
    QX_MASK_NULL_POINTER = -27,
    QX_MASK_OUT_OF_RANGE = -211,
};

void qxMaskCreate(int32_t width, int32_t height, QxMaskImage **image, uint8_t **data, int32_t *stride);
void qxMaskFree(QxMaskImage *image);
// Thickness 0 fills the polygon, anything else (1..255) draws its closed outline.
void qxMaskFillPolygon(QxMaskImage *image, const QxMaskPoint *points, int32_t count, int antialias, int32_t thickness);
// One segment with both end caps, thickness 1..255.
void qxMaskDraw(QxMaskImage *image, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int antialias, int32_t thickness);
}
