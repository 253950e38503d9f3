// Row functions of the convolution engine, one per SIMD level, chosen at
// run time. Each output pixel sums its taps in kernel order without fused
// multiply-adds, so every level gives the same bytes.
#pragma once
#include <cstdint>

struct qxConvolveRows {
    // out[x] = clamp(sum_j k[j] * row[x + j]) & keep, x < w.
    void (*taps)(const double *row, const double *k, int32_t kw, uint8_t *out, int32_t w, uint8_t keep);
    // out[x] = clamp(sum_j k[j] * rows[j][x]) & keep.
    void (*column)(const double *const *rows, const double *k, int32_t kw, uint8_t *out, int32_t w, uint8_t keep);
    // out[x] = clamp(sum_v sum_u k[v * kw + u] * rows[v][x + u]).
    void (*square)(const double *const *rows, const double *k, int32_t kw, uint8_t *out, int32_t w);
};

const qxConvolveRows &qxConvolveRowFunctions();
