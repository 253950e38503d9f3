// Geometry shared by layers, transitions, drawing and clip regions: the
// 2x2 scale-and-rotation matrix, transformed bounds, polygon clipping,
// elliptic arcs and polygon fills into masks.
#pragma once
#include <cstdint>

#include "display/qx_bitmap.h"

struct qxPoint {
    int32_t x, y;
};

extern "C" {
// 1024 x sin and cos of whole degrees, truncated towards zero; made at the
// first call, not at every start.
const int32_t *qxSin1024(void);
const int32_t *qxCos1024(void);

void qxInitScale(double matrix[4]);
void qxSetupTransform(double matrix[4], int32_t targetWidth, int32_t targetHeight, int32_t sourceWidth,
                      int32_t sourceHeight, double scaleX, double scaleY, double angle);
void qxComputeTransformBounds(int32_t x, int32_t y, int32_t width, int32_t height, const double matrix[4],
                              int32_t *outX, int32_t *outY, int32_t *outW, int32_t *outH, double anchorX,
                              double anchorY);
// points has room for count + 1 entries, out for 2 x count.
int32_t qxClipPolygonEdge(int32_t count, qxPoint *points, qxPoint *out, int32_t value, int32_t side);
// out has room for (endAngle - startAngle) + 3 points.
int32_t qxArcPoints(qxPoint *out, int32_t rx, int32_t ry, int32_t startAngle, int32_t endAngle);
// scratch has room for count entries.
void qxFillMaskPolygon(qxBitMap *mask, const qxPoint *points, int32_t count, int32_t *scratch);
}
