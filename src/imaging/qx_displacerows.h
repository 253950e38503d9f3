// Row kernels of the swirl and the ripple: the source positions of a run of
// pixels, and the gather-and-mix of the transitions' blend output. Each has
// a base and an AVX2 build (no fused multiply-adds) giving the same bytes.
#pragma once
#include <cstdint>

// The ripple over one row: pixel x moves by factor[dist[x]].
struct qxRippleRow {
    const int32_t *dist; // the row's distances from the centre
    const double *factor; // by whole distance
    uint32_t known; // entries of factor
    double cx; // centre column
    double y, dy; // the row, and the row minus the centre row
    double limX, limY; // width - 1, height - 1
};

// The swirl over one row: pixel x turns by the angle of its distance.
constexpr uint16_t kSwirlOutside = 0xFFFF;
struct qxSwirlRow {
    const uint16_t *dist; // kSwirlOutside outside the circle
    const double *turns; // sine and cosine of each whole distance, interleaved
    uint32_t known;
    double cx, cy, sx, sy;
    double dy; // (y - cy) * sy
    int32_t y;
    double limX, limY;
};

struct qxDisplaceRows {
    // ox, oy of pixels x0 .. x0 + n - 1. False when a distance lies beyond
    // the table: the caller then places that run pixel by pixel.
    bool (*ripple)(const qxRippleRow *row, int32_t x0, int32_t n, int32_t *ox, int32_t *oy);
    // [0] for sx = 1 (dy carries sy), [1] for sy = 1.
    bool (*swirl[2])(const qxSwirlRow *row, int32_t x0, int32_t n, int32_t *ox, int32_t *oy);
    // so[i] = oy[i] * srcPitch + ox[i], bo[i] likewise with blendPitch;
    // and a prefetch of both pixels at every stride-th position (0: none),
    // whose mix comes a run later.
    void (*offsets)(const int32_t *ox, const int32_t *oy, int32_t n, int32_t srcPitch, int32_t blendPitch,
                    const uint32_t *src, const uint32_t *blend, int32_t stride, int32_t *so, int32_t *bo);
    // out[i] = blend + (((src - blend) * level) >> 8) per byte at those
    // offsets, then masked with keep.
    void (*mix32)(const uint32_t *src, const uint32_t *blend, const int32_t *so, const int32_t *bo, uint32_t *out,
                  int32_t n, uint32_t level, uint32_t keep);
};

// The build of the current kernel level (qxSetKernelLevel).
const qxDisplaceRows &qxDisplaceRowFunctions();
