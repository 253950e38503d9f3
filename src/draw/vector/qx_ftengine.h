// Vector engines: the inbuilt one on FreeType's outline, stroker and
// rasteriser functions, and the record a plug-in engine fills. Everything
// here is seen by plug-ins, so layouts and slot order are fixed.
#pragma once
#include <cstddef>
#include <cstdint>

extern "C" {

struct qxEngineState {
    uint32_t lineJoin;  // 0 miter, 1 round, 2 bevel
    uint32_t lineCap;   // 0 butt, 1 round, 2 square
    uint32_t fillRule;  // 0 winding, 1 even-odd
    uint32_t antialias; // 1 for anti-aliased drawing; 0 in extents requests
    double dashOffset;
    const double *dashArray;
    uint32_t dashCount;
    uint32_t reserved;
    double miterLimit;
};

struct qxPathExtentsRequest {
    const uint8_t *items;
    const qxEngineState *state;
    uint32_t fill;      // 1 the filled shape, 0 the stroked outline
    uint32_t lineWidth; // pixels, half on each side
    double dx, dy;      // added to absolute items
    double x1, y1, x2, y2;
    const double *matrix; // {m0, m1, m2, m3}: (x, y) -> (m0 x + m2 y, m1 x + m3 y)
};

struct qxPathDrawRequest {
    const uint8_t *items;
    const qxEngineState *state;
    uint32_t fill;
    uint32_t lineWidth;
    uint32_t zero;
    uint32_t reserved;
    uint8_t *target; // 8-bit coverage plane
    uint32_t stride, width;
    uint32_t height;
    uint32_t reserved2;
    double ax, ay; // origin pair A
    double bx, by; // origin pair B
    const double *matrix;
};

struct qxPathTranslateRequest {
    uint8_t *items;
    uint64_t unused;
    double dx, dy;
};

// The eight entry points in slot order.
struct qxVectorEngine {
    uint32_t abiKind;
    uint32_t flags; // bit 0: pair A is (0, 0) and pair B the draw offset
    void (*GetPathExtents)(qxPathExtentsRequest *request);
    int32_t (*DrawPath)(qxPathDrawRequest *request);
    void (*TranslatePath)(qxPathTranslateRequest *request);
    void (*GetCurrentPoint)(const uint8_t *items, const qxEngineState *state, double *x, double *y);
    void *(*CreateVectorFont)(void *face);
    void (*FreeVectorFont)(void *font);
    void *(*OpenFont)(const void *data, size_t size);
    void (*CloseFont)(void *face);
};

extern qxVectorEngine qxInbuiltVectorEngine;
int qxIsInbuiltVectorEngine(const qxVectorEngine *engine);

void qxFtGetPathExtents(qxPathExtentsRequest *request);
int32_t qxFtDrawPath(qxPathDrawRequest *request);
void qxFtTranslatePath(qxPathTranslateRequest *request);
void qxFtGetCurrentPoint(const uint8_t *items, const qxEngineState *state, double *x, double *y);
void *qxFtCreateVectorFont(void *face);
void qxFtFreeVectorFont(void *font);
void *qxFtOpenVectorFont(const void *data, size_t size);
void qxFtCloseVectorFont(void *face);
}

static_assert(offsetof(qxEngineState, dashOffset) == 16 && offsetof(qxEngineState, dashCount) == 32 &&
              offsetof(qxEngineState, miterLimit) == 40);
static_assert(offsetof(qxPathExtentsRequest, dx) == 24 && offsetof(qxPathExtentsRequest, x1) == 40 &&
              offsetof(qxPathExtentsRequest, matrix) == 72);
static_assert(offsetof(qxPathDrawRequest, target) == 32 && offsetof(qxPathDrawRequest, width) == 44 &&
              offsetof(qxPathDrawRequest, height) == 48 && offsetof(qxPathDrawRequest, ax) == 56 &&
              offsetof(qxPathDrawRequest, bx) == 72 && offsetof(qxPathDrawRequest, matrix) == 88);
static_assert(offsetof(qxPathTranslateRequest, dx) == 16);

extern "C" {
// A draw-library shape for the inbuilt engine: anti-aliased boxes, ellipses, arcs and pies.
struct qxFtShape {
    uint8_t *target; // 8-bit plane, or none to measure only
    uint32_t stride;
    uint32_t type; // 14 box, 31 arc or pie, else an ellipse
    int32_t rx, ry;
    int32_t start, end; // degrees
    int32_t width, height;
    uint32_t clockwise;
    uint32_t planeWidth, planeHeight; // given for drawing, returned by measuring
    uint32_t grow;                    // pixels added around the shape
    const double *matrix;
    const int32_t *corners; // four levels: top-left, bottom-left, bottom-right, top-right
    uint32_t filled;
    uint32_t lineWidth;
};

// Renders (or measures) the shape: 1, or 0 when it could not be outlined.
int32_t qxFtRenderShape(qxFtShape *shape);
}
