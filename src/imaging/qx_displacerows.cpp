// Swirl and ripple rows: plain loops for the base build and AVX2 ones,
// both with the same double operations in the same order as the per-pixel
// rules, so every build gives the same positions and pixels.
#include "imaging/qx_displacerows.h"

#include <immintrin.h>

#include "imaging/qx_blit.h"

#define QX_ROWS_ALWAYS_INLINE __attribute__((always_inline)) inline

namespace {

// A position clamped into 0 .. lim; negative and NaN give 0.
QX_ROWS_ALWAYS_INLINE int32_t clampIndex(double v, double lim)
{
    v = v >= 0 ? v : 0.0;
    v = v < lim ? v : lim;
    return int32_t(v);
}

QX_ROWS_ALWAYS_INLINE bool rippleBody(const qxRippleRow *r, int32_t x0, int32_t n, int32_t *__restrict ox,
                                      int32_t *__restrict oy)
{
    const int32_t *__restrict dist = r->dist + x0;
    const double *__restrict factor = r->factor;
    const uint32_t known = r->known;
    const double cx = r->cx, y = r->y, dy = r->dy, limX = r->limX, limY = r->limY;
    uint32_t bad = 0;
    for (int32_t i = 0; i < n; ++i) {
        const uint32_t d = uint32_t(dist[i]);
        bad |= uint32_t(d >= known);
        const double v = factor[d < known ? d : 0];
        const double x = double(x0 + i);
        ox[i] = clampIndex(x + (x - cx) * v, limX);
        oy[i] = clampIndex(y + dy * v, limY);
    }
    return !bad;
}

template <bool scaleX>
QX_ROWS_ALWAYS_INLINE bool swirlBody(const qxSwirlRow *r, int32_t x0, int32_t n, int32_t *__restrict ox,
                                     int32_t *__restrict oy)
{
    const uint16_t *__restrict dist = r->dist + x0;
    const double *__restrict turns = r->turns;
    const uint32_t known = r->known;
    const double cx = r->cx, cy = r->cy, sx = r->sx, sy = r->sy, dy = r->dy, limX = r->limX, limY = r->limY;
    const int32_t y = r->y;
    uint32_t bad = 0;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t d = dist[i] == kSwirlOutside ? -1 : dist[i];
        const uint32_t k = d < 0 ? 0u : uint32_t(d);
        bad |= uint32_t(k >= known);
        const uint32_t j = k < known ? k : 0;
        const double s = turns[2 * j], c = turns[2 * j + 1];
        const double dx = scaleX ? (double(x0 + i) - cx) * sx : double(x0 + i) - cx;
        const double rx = c * dx - s * dy, ry = s * dx + c * dy;
        const int32_t tx = clampIndex((scaleX ? rx / sx : rx) + cx, limX);
        const int32_t ty = clampIndex((scaleX ? ry : ry / sy) + cy, limY);
        ox[i] = d < 0 ? x0 + i : tx;
        oy[i] = d < 0 ? y : ty;
    }
    return !bad;
}

QX_ROWS_ALWAYS_INLINE void prefetchRun(const uint32_t *src, const uint32_t *blend, const int32_t *so,
                                        const int32_t *bo, int32_t n, int32_t stride)
{
    if (stride > 0)
        for (int32_t i = 0; i < n; i += stride) {
            __builtin_prefetch(src + so[i]);
            __builtin_prefetch(blend + bo[i]);
        }
}

QX_ROWS_ALWAYS_INLINE void offsetsBody(const int32_t *__restrict ox, const int32_t *__restrict oy, int32_t n,
                                       int32_t sp, int32_t bp, int32_t *__restrict so, int32_t *__restrict bo)
{
    for (int32_t i = 0; i < n; ++i) so[i] = oy[i] * sp + ox[i], bo[i] = oy[i] * bp + ox[i];
}

// b * (256 - f) + c * f stays below 65536 per channel: two channels of a
// word in one 32-bit product.
QX_ROWS_ALWAYS_INLINE void mixBody(const uint32_t *__restrict src, const uint32_t *__restrict blend,
                                   const int32_t *__restrict so, const int32_t *__restrict bo,
                                   uint32_t *__restrict out, int32_t n, uint32_t f, uint32_t keep)
{
    const uint32_t g = 256 - f;
    for (int32_t i = 0; i < n; ++i) {
        const uint32_t c = src[so[i]], b = blend[bo[i]];
        const uint32_t rb = ((b & 0x00FF00FFu) * g + (c & 0x00FF00FFu) * f) >> 8;
        const uint32_t ag = ((b >> 8) & 0x00FF00FFu) * g + ((c >> 8) & 0x00FF00FFu) * f;
        out[i] = ((rb & 0x00FF00FFu) | (ag & 0xFF00FF00u)) & keep;
    }
}

bool rippleBase(const qxRippleRow *r, int32_t x0, int32_t n, int32_t *ox, int32_t *oy)
{
    return rippleBody(r, x0, n, ox, oy);
}
bool swirlBaseY(const qxSwirlRow *r, int32_t x0, int32_t n, int32_t *ox, int32_t *oy)
{
    return swirlBody<false>(r, x0, n, ox, oy);
}
bool swirlBaseX(const qxSwirlRow *r, int32_t x0, int32_t n, int32_t *ox, int32_t *oy)
{
    return swirlBody<true>(r, x0, n, ox, oy);
}
void offsetsBase(const int32_t *ox, const int32_t *oy, int32_t n, int32_t sp, int32_t bp, const uint32_t *src,
                 const uint32_t *blend, int32_t stride, int32_t *so, int32_t *bo)
{
    offsetsBody(ox, oy, n, sp, bp, so, bo);
    prefetchRun(src, blend, so, bo, n, stride);
}
void mixBase(const uint32_t *src, const uint32_t *blend, const int32_t *so, const int32_t *bo, uint32_t *out,
             int32_t n, uint32_t f, uint32_t keep)
{
    mixBody(src, blend, so, bo, out, n, f, keep);
}

// AVX2 without FMA: the same operations in the same order as the bodies
// above, four pixels at a time; max and min with 0 and the limit clamp as
// the bodies do (NaN gives 0), and truncation converts. Table entries and
// pixels are fetched with scalar loads from index arrays made first: the
// gather instructions are microcoded and slower on several processors, and
// extracting lanes costs more than storing them.

// Runs are cut into chunks whose indices fit on the stack.
constexpr int32_t kChunk = 64;

QX_AVX2 inline __m128i clamp4(__m256d v, __m256d lim)
{
    return _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(v, _mm256_setzero_pd()), lim));
}

QX_AVX2 inline __m256d fetch4(const double *t, const int32_t *i)
{
    return _mm256_setr_pd(t[i[0]], t[i[1]], t[i[2]], t[i[3]]);
}

// Table indices of m distances: each distance, or 0 where it lies beyond
// the table (returned as set lanes).
QX_AVX2 inline __m256i indices(const int32_t *dist, int32_t m, uint32_t known, int32_t *idx)
{
    const __m256i last = _mm256_set1_epi32(int32_t(known - 1)), zero = _mm256_setzero_si256();
    __m256i bad = zero;
    int32_t i = 0;
    for (; i + 8 <= m; i += 8) {
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(dist + i));
        const __m256i out = _mm256_or_si256(_mm256_cmpgt_epi32(d, last), _mm256_cmpgt_epi32(zero, d));
        bad = _mm256_or_si256(bad, out);
        _mm256_store_si256(reinterpret_cast<__m256i *>(idx + i), _mm256_andnot_si256(out, d));
    }
    for (; i < m; ++i) {
        const bool out = dist[i] < 0 || uint32_t(dist[i]) >= known;
        bad = _mm256_or_si256(bad, _mm256_set1_epi32(-int32_t(out)));
        idx[i] = out ? 0 : dist[i];
    }
    return bad;
}

// The same for the swirl's distances: those outside the circle are 0
// without counting.
QX_AVX2 inline __m256i indices(const uint16_t *dist, int32_t m, uint32_t known, int32_t *idx)
{
    const __m256i last = _mm256_set1_epi32(int32_t(known - 1)), outside = _mm256_set1_epi32(kSwirlOutside);
    __m256i bad = _mm256_setzero_si256();
    int32_t i = 0;
    for (; i + 8 <= m; i += 8) {
        __m256i d = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(dist + i)));
        d = _mm256_andnot_si256(_mm256_cmpeq_epi32(d, outside), d);
        const __m256i out = _mm256_cmpgt_epi32(d, last);
        bad = _mm256_or_si256(bad, out);
        _mm256_store_si256(reinterpret_cast<__m256i *>(idx + i), _mm256_andnot_si256(out, d));
    }
    for (; i < m; ++i) {
        const uint32_t d = dist[i] == kSwirlOutside ? 0 : dist[i];
        bad = _mm256_or_si256(bad, _mm256_set1_epi32(-int32_t(d >= known)));
        idx[i] = d >= known ? 0 : int32_t(d);
    }
    return bad;
}

QX_AVX2 bool rippleAvx2(const qxRippleRow *r, int32_t x0, int32_t n, int32_t *ox, int32_t *oy)
{
    const uint32_t known = r->known;
    if (!known) return false;
    const __m256d cx = _mm256_set1_pd(r->cx), y = _mm256_set1_pd(r->y), dy = _mm256_set1_pd(r->dy),
                  limX = _mm256_set1_pd(r->limX), limY = _mm256_set1_pd(r->limY), four = _mm256_set1_pd(4);
    __m256i bad = _mm256_setzero_si256();
    for (int32_t c0 = 0; c0 < n; c0 += kChunk) {
        const int32_t m = n - c0 < kChunk ? n - c0 : kChunk;
        const int32_t xs = x0 + c0;
        alignas(32) int32_t idx[kChunk];
        // The distances are read in row order: ask for them 2 KB ahead,
        // further than the processor's own prefetch reaches in time.
        for (int32_t k = 0; k < m; k += 16) __builtin_prefetch(r->dist + xs + k + 512);
        bad = _mm256_or_si256(bad, indices(r->dist + xs, m, known, idx));
        __m256d x = _mm256_setr_pd(xs, xs + 1, xs + 2, xs + 3);
        int32_t i = 0;
        for (; i + 4 <= m; i += 4, x = _mm256_add_pd(x, four)) {
            const __m256d v = fetch4(r->factor, idx + i);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(ox + c0 + i),
                             clamp4(_mm256_add_pd(x, _mm256_mul_pd(_mm256_sub_pd(x, cx), v)), limX));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(oy + c0 + i),
                             clamp4(_mm256_add_pd(y, _mm256_mul_pd(dy, v)), limY));
        }
        if (i < m) rippleBody(r, xs + i, m - i, ox + c0 + i, oy + c0 + i);
    }
    return _mm256_testz_si256(bad, bad);
}

template <bool scaleX> QX_AVX2 bool swirlAvx2(const qxSwirlRow *r, int32_t x0, int32_t n, int32_t *ox, int32_t *oy)
{
    const uint32_t known = r->known;
    if (!known) return false;
    const __m256d cx = _mm256_set1_pd(r->cx), cy = _mm256_set1_pd(r->cy), sx = _mm256_set1_pd(r->sx),
                  sy = _mm256_set1_pd(r->sy), dy = _mm256_set1_pd(r->dy), limX = _mm256_set1_pd(r->limX),
                  limY = _mm256_set1_pd(r->limY), four = _mm256_set1_pd(4);
    const __m128i y = _mm_set1_epi32(r->y), fourI = _mm_set1_epi32(4), none = _mm_set1_epi32(kSwirlOutside);
    __m256i bad = _mm256_setzero_si256();
    for (int32_t c0 = 0; c0 < n; c0 += kChunk) {
        const int32_t m = n - c0 < kChunk ? n - c0 : kChunk;
        const int32_t xs = x0 + c0;
        alignas(32) int32_t idx[kChunk];
        bad = _mm256_or_si256(bad, indices(r->dist + xs, m, known, idx));
        __m256d x = _mm256_setr_pd(xs, xs + 1, xs + 2, xs + 3);
        __m128i xi = _mm_setr_epi32(xs, xs + 1, xs + 2, xs + 3);
        int32_t i = 0;
        for (; i + 4 <= m; i += 4, x = _mm256_add_pd(x, four), xi = _mm_add_epi32(xi, fourI)) {
            const __m128i d = _mm_cvtepu16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(r->dist + xs + i)));
            const __m128i outside = _mm_cmpeq_epi32(d, none);
            // Corners outside the circle stay where they are.
            if (_mm_movemask_ps(_mm_castsi128_ps(outside)) == 15) {
                _mm_storeu_si128(reinterpret_cast<__m128i *>(ox + c0 + i), xi);
                _mm_storeu_si128(reinterpret_cast<__m128i *>(oy + c0 + i), y);
                continue;
            }
            // Pairs of pixels 0, 2 and 1, 3 unpack into four sines and cosines.
            const double *t = r->turns;
            const __m256d a = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(t + 2 * idx[i])),
                                                   _mm_loadu_pd(t + 2 * idx[i + 2]), 1);
            const __m256d b = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(t + 2 * idx[i + 1])),
                                                   _mm_loadu_pd(t + 2 * idx[i + 3]), 1);
            const __m256d s = _mm256_unpacklo_pd(a, b), c = _mm256_unpackhi_pd(a, b);
            const __m256d dx = scaleX ? _mm256_mul_pd(_mm256_sub_pd(x, cx), sx) : _mm256_sub_pd(x, cx);
            const __m256d rx = _mm256_sub_pd(_mm256_mul_pd(c, dx), _mm256_mul_pd(s, dy));
            const __m256d ry = _mm256_add_pd(_mm256_mul_pd(s, dx), _mm256_mul_pd(c, dy));
            const __m128i tx = clamp4(_mm256_add_pd(scaleX ? _mm256_div_pd(rx, sx) : rx, cx), limX);
            const __m128i ty = clamp4(_mm256_add_pd(scaleX ? ry : _mm256_div_pd(ry, sy), cy), limY);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(ox + c0 + i), _mm_blendv_epi8(tx, xi, outside));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(oy + c0 + i), _mm_blendv_epi8(ty, y, outside));
        }
        if (i < m) swirlBody<scaleX>(r, xs + i, m - i, ox + c0 + i, oy + c0 + i);
    }
    return _mm256_testz_si256(bad, bad);
}
QX_AVX2 bool swirlAvx2Y(const qxSwirlRow *r, int32_t x0, int32_t n, int32_t *ox, int32_t *oy)
{
    return swirlAvx2<false>(r, x0, n, ox, oy);
}
QX_AVX2 bool swirlAvx2X(const qxSwirlRow *r, int32_t x0, int32_t n, int32_t *ox, int32_t *oy)
{
    return swirlAvx2<true>(r, x0, n, ox, oy);
}

QX_AVX2 inline __m256i fetch8(const uint32_t *p, const int32_t *i)
{
    return _mm256_setr_epi32(int32_t(p[i[0]]), int32_t(p[i[1]]), int32_t(p[i[2]]), int32_t(p[i[3]]),
                             int32_t(p[i[4]]), int32_t(p[i[5]]), int32_t(p[i[6]]), int32_t(p[i[7]]));
}

QX_AVX2 void offsetsAvx2(const int32_t *ox, const int32_t *oy, int32_t n, int32_t sp, int32_t bp,
                         const uint32_t *src, const uint32_t *blend, int32_t stride, int32_t *so, int32_t *bo)
{
    const __m256i spv = _mm256_set1_epi32(sp), bpv = _mm256_set1_epi32(bp);
    const int32_t whole = n & ~7;
    for (int32_t i = 0; i < whole; i += 8) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(ox + i));
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(oy + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(so + i), _mm256_add_epi32(_mm256_mullo_epi32(y, spv), x));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(bo + i), _mm256_add_epi32(_mm256_mullo_epi32(y, bpv), x));
    }
    offsetsBody(ox + whole, oy + whole, n - whole, sp, bp, so + whole, bo + whole);
    prefetchRun(src, blend, so, bo, n, stride);
}

// Eight pixels at a time: the mix in 16-bit lanes, b * (256 - f) + c * f,
// exact below 65536.
QX_AVX2 void mixAvx2(const uint32_t *src, const uint32_t *blend, const int32_t *so, const int32_t *bo, uint32_t *out,
                     int32_t n, uint32_t f, uint32_t keep)
{
    const __m256i z = _mm256_setzero_si256();
    const __m256i fv = _mm256_set1_epi16(int16_t(f)), gv = _mm256_set1_epi16(int16_t(256 - f)),
                  keepv = _mm256_set1_epi32(int32_t(keep));
    const int32_t whole = n & ~7;
    for (int32_t i = 0; i < whole; i += 8) {
        const __m256i c = fetch8(src, so + i), b = fetch8(blend, bo + i);
        const __m256i lo = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(b, z), gv),
                                            _mm256_mullo_epi16(_mm256_unpacklo_epi8(c, z), fv));
        const __m256i hi = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(b, z), gv),
                                            _mm256_mullo_epi16(_mm256_unpackhi_epi8(c, z), fv));
        const __m256i mixed = _mm256_packus_epi16(_mm256_srli_epi16(lo, 8), _mm256_srli_epi16(hi, 8));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), _mm256_and_si256(mixed, keepv));
    }
    mixBody(src, blend, so + whole, bo + whole, out + whole, n - whole, f, keep);
}

} // namespace

const qxDisplaceRows &qxDisplaceRowFunctions()
{
    static const qxDisplaceRows base{rippleBase, {swirlBaseY, swirlBaseX}, offsetsBase, mixBase},
        avx2{rippleAvx2, {swirlAvx2Y, swirlAvx2X}, offsetsAvx2, mixAvx2};
    // The kernel level never exceeds what the processor runs.
    return qxKernelLevel() >= 2 ? avx2 : base;
}
