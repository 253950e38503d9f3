// Convolution row functions: blocks of eight pixels whose sums stay in
// registers while the taps run, in kernel order.
#include "imaging/qx_convolverows.h"

#include <cstring>

#include "imaging/qx_blit.h"
#include "imaging/qx_channels.h"

namespace {

// Eight independent sums of four hide the adder's latency.
constexpr int32_t B = 32, N = B / 4;
// Four doubles; on the base level the compiler splits it into two halves.
typedef double V4 __attribute__((vector_size(32)));

#define QX_ROWS_ALWAYS_INLINE __attribute__((always_inline)) inline

// Inlined everywhere, so no vector crosses a call.
QX_ROWS_ALWAYS_INLINE void addProduct(V4 &a, const V4 &k, const double *p)
{
    V4 v;
    std::memcpy(&v, p, sizeof v);
    a += k * v;
}

QX_ROWS_ALWAYS_INLINE void storeBlock(const V4 *a, uint8_t *out, uint8_t keep)
{
    for (int32_t n = 0; n < N; ++n)
        for (int32_t i = 0; i < 4; ++i) out[4 * n + i] = uint8_t(qxClampTrunc(a[n][i]) & keep);
}

QX_ROWS_ALWAYS_INLINE void tapsBody(const double *row, const double *k, int32_t kw, uint8_t *out, int32_t w,
                                     uint8_t keep)
{
    int32_t x = 0;
    for (; x + B <= w; x += B) {
        V4 a[N] = {};
        for (int32_t j = 0; j < kw; ++j) {
            const double *s = row + x + j;
            V4 kj = {k[j], k[j], k[j], k[j]};
            for (int32_t n = 0; n < N; ++n) addProduct(a[n], kj, s + 4 * n);
        }
        storeBlock(a, out + x, keep);
    }
    for (; x < w; ++x) {
        double a = 0;
        for (int32_t j = 0; j < kw; ++j) a += k[j] * row[x + j];
        out[x] = uint8_t(qxClampTrunc(a) & keep);
    }
}

QX_ROWS_ALWAYS_INLINE void columnBody(const double *const *rows, const double *k, int32_t kw, uint8_t *out,
                                       int32_t w, uint8_t keep)
{
    int32_t x = 0;
    for (; x + B <= w; x += B) {
        V4 a[N] = {};
        for (int32_t j = 0; j < kw; ++j) {
            const double *s = rows[j] + x;
            V4 kj = {k[j], k[j], k[j], k[j]};
            for (int32_t n = 0; n < N; ++n) addProduct(a[n], kj, s + 4 * n);
        }
        storeBlock(a, out + x, keep);
    }
    for (; x < w; ++x) {
        double a = 0;
        for (int32_t j = 0; j < kw; ++j) a += k[j] * rows[j][x];
        out[x] = uint8_t(qxClampTrunc(a) & keep);
    }
}

QX_ROWS_ALWAYS_INLINE void squareBody(const double *const *rows, const double *k, int32_t kw, uint8_t *out, int32_t w)
{
    int32_t x = 0;
    for (; x + B <= w; x += B) {
        V4 a[N] = {};
        for (int32_t v = 0; v < kw; ++v)
            for (int32_t u = 0; u < kw; ++u) {
                const double kk = k[v * kw + u], *s = rows[v] + x + u;
                V4 k4 = {kk, kk, kk, kk};
                for (int32_t n = 0; n < N; ++n) addProduct(a[n], k4, s + 4 * n);
            }
        storeBlock(a, out + x, 0xFF);
    }
    for (; x < w; ++x) {
        double a = 0;
        for (int32_t v = 0; v < kw; ++v)
            for (int32_t u = 0; u < kw; ++u) a += k[v * kw + u] * rows[v][x + u];
        out[x] = uint8_t(qxClampTrunc(a));
    }
}

void tapsBase(const double *r, const double *k, int32_t kw, uint8_t *o, int32_t w, uint8_t keep)
{
    tapsBody(r, k, kw, o, w, keep);
}
void columnBase(const double *const *r, const double *k, int32_t kw, uint8_t *o, int32_t w, uint8_t keep)
{
    columnBody(r, k, kw, o, w, keep);
}
void squareBase(const double *const *r, const double *k, int32_t kw, uint8_t *o, int32_t w)
{
    squareBody(r, k, kw, o, w);
}
// AVX2 without FMA: the same roundings as the base level.
QX_AVX2 void tapsAvx2(const double *r, const double *k, int32_t kw, uint8_t *o, int32_t w,
                                              uint8_t keep)
{
    tapsBody(r, k, kw, o, w, keep);
}
QX_AVX2 void columnAvx2(const double *const *r, const double *k, int32_t kw, uint8_t *o,
                                                int32_t w, uint8_t keep)
{
    columnBody(r, k, kw, o, w, keep);
}
QX_AVX2 void squareAvx2(const double *const *r, const double *k, int32_t kw, uint8_t *o,
                                                int32_t w)
{
    squareBody(r, k, kw, o, w);
}

} // namespace

const qxConvolveRows &qxConvolveRowFunctions()
{
    static const qxConvolveRows base{tapsBase, columnBase, squareBase}, avx2{tapsAvx2, columnAvx2, squareAvx2};
    return qxKernelLevel() >= 2 ? avx2 : base;
}
