// Integer geometry of the draw library's shapes: ellipse and arc
// tessellation on the draw library's trigonometric tables, rotation about an
// anchor, bounding boxes, mitred border polygons and shadow boxes. No pixel
// is touched here.
#pragma once
#include <cstdint>

#include "display/qx_gfxgeom.h"

extern "C" {
// Entry a (0..360) holds cos a and -sin a: positive angles run counter-clockwise on screen.
extern double qxCosTable[361];
extern double qxSinTable[361];

// Fills the two tables on the first call; any later call, from any thread,
// returns at once.
void qxInitRotationPresets(void);
void qxFreeDrawBuffers(void);

// Rotates (x, y) with the 2x2 matrix about (trunc(width * ax), trunc(height * ay)), truncating.
void qxRotatePointAbout(int32_t x, int32_t y, int32_t width, int32_t height, const double matrix[4], int32_t *outX,
                        int32_t *outY, double anchorX, double anchorY);
// Rotates the points in place about the anchor of a width x height box and
// measures them; with moveTo00 they are moved to start at 0,0.
void qxShapeBounds(const double matrix[4], int32_t width, int32_t height, qxPoint *points, int32_t count,
                   int moveTo00, int32_t *outX, int32_t *outY, int32_t *outW, int32_t *outH, double anchorX,
                   double anchorY);
// Measures the points and moves them to start at 0,0.
void qxNormalizePoints(qxPoint *points, int32_t count, int32_t *outX, int32_t *outY, int32_t *outW, int32_t *outH);
void qxShadowOffsets(int32_t size, int32_t direction, int32_t *left, int32_t *top, int32_t *right, int32_t *bottom);
void qxGrowByShadow(int32_t direction, int32_t size, int32_t *width, int32_t *height);
}

struct QxPointD {
    double x, y;
};

// Room every caller of qxShapeArcPoints gives: the box, 360/5 + 2 angles, the centre and a pad.
constexpr int32_t kQxArcPointsMax = 80;

// Ellipse or arc about (cx, cy) in 16.16 fixed point on the tables, angles in
// degrees; see the step and angle rules in the implementation.
int32_t qxShapeArcPoints(QxPointD *out, double cx, double cy, double rx, double ry, int32_t start, int32_t end,
                         const double matrix[4], bool addCentre, bool boxFirst, double anchorX, double anchorY);

// The outline offset outwards by border (mitred), closed and moved to start
// at 0,0 (outX, outY: where that corner lay before); a straight or reversed
// corner gives the enclosing rectangle grown by the border instead. out needs
// room for count + 1 points (at least 5). Returns the point count, 0 for
// fewer than 2 points.
int32_t qxBorderPolygon(const qxPoint *in, int32_t count, int32_t border, qxPoint *out, int32_t *outX,
                        int32_t *outY);
