// 8-bit coverage masks: the draw library rasterises its shapes into one,
// then composes fill, border and shadow colours through it.
#pragma once
#include <cstdint>
#include <vector>

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
    QX_MASK_NO_MEMORY = -4,
    QX_MASK_BAD_ARGUMENT = -5,
    QX_MASK_BAD_SIZE = -25,
    QX_MASK_NULL_POINTER = -27,
    QX_MASK_OUT_OF_RANGE = -211,
};

void qxMaskCreate(int32_t width, int32_t height, QxMaskImage **image, uint8_t **data, int32_t *stride);
void qxMaskFree(QxMaskImage *image);
void qxMaskFillPolygon(QxMaskImage *image, const QxMaskPoint *points, int32_t count, int antialias, int32_t thickness);
void qxMaskDraw(QxMaskImage *image, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int antialias, int32_t thickness);
}

// The scanline rasteriser under the mask calls, in continuous coordinates
// (pixel (i, j) covers [i, i+1) x [j, j+1)).
struct QxRasterPoint {
    double x, y;
};
enum QxFillRule { QX_FILL_NONZERO = 0, QX_FILL_EVENODD = 1 };

// Fills the contours (counts[k] points each, implicitly closed) into the
// w x h 8-bit buffer, keeping the larger of old and new value per pixel.
// Anti-aliased: exact horizontal coverage on 16 sub-scanlines per row;
// else a pixel is set when its centre is inside. Returns 0 or a status code.
int qxRasterFill(uint8_t *data, int32_t stride, int32_t w, int32_t h, const QxRasterPoint *points,
                 const int32_t *counts, int32_t contours, QxFillRule rule, bool antialias);
// The anti-aliased coverage as exact pixel areas from FreeType's span
// rasteriser, many times faster. Where edges cross inside a pixel it sums
// their signed areas, so callers pass only contours that cross neither
// themselves nor each other.
int qxRasterFillSimple(uint8_t *data, int32_t stride, int32_t w, int32_t h, const QxRasterPoint *points,
                       const int32_t *counts, int32_t contours, QxFillRule rule);

// A run of whole pixels [x0, x1) of row y.
struct QxSpan {
    int32_t y, x0, x1;
};
// The pixels qxRasterFill sets without anti-aliasing, as spans appended row
// by row, left to right, none overlapping: no plane to clear or scan.
int qxRasterSpans(int32_t w, int32_t h, const QxRasterPoint *points, const int32_t *counts, int32_t contours,
                  QxFillRule rule, std::vector<QxSpan> &spans);
