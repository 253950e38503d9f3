// The blend table, copies, masked copies and fills of colour planes.
#include "imaging/qx_blit.h"

#include <algorithm>
#include <cstring>
#include <immintrin.h>

#include "imaging/qx_blendrows.h"
#include "imaging/qx_pixelformat.h"

namespace {

template <typename P> P *at(void *base, int32_t x, int32_t y, int32_t pitch)
{
    return static_cast<P *>(base) + int64_t(y) * pitch + x;
}
template <typename P> const P *at(const void *base, int32_t x, int32_t y, int32_t pitch)
{
    return static_cast<const P *>(base) + int64_t(y) * pitch + x;
}
inline const uint8_t *planeAt(const uint8_t *p, int32_t x, int32_t y, int32_t row)
{
    return p + int64_t(y) * row + x;
}

bool empty(int32_t w, int32_t h) { return w < 1 || h < 1; }

// Mode 2 on one 8-bit channel.
inline uint32_t overAlpha(uint32_t s, uint32_t d, uint32_t a, uint32_t w, uint32_t out)
{
    return std::min<uint32_t>((s * a + d * w + 127) / out, 255);
}

} // namespace

extern "C" {

void qxBlendAlpha32(const qxBlendRecord *r)
{
    if (!r || empty(r->width, r->height) || !r->alpha) return;
    const uint32_t *s = at<uint32_t>(r->source, r->sx, r->sy, r->sourcePitch);
    uint32_t *d = at<uint32_t>(r->destination, r->dx, r->dy, r->destPitch);
    const uint8_t *a = planeAt(r->alpha, r->ax, r->ay, r->alphaBytesPerRow);
    for (int32_t y = 0; y < r->height; ++y, s += r->sourcePitch, d += r->destPitch, a += r->alphaBytesPerRow) {
        if (r->layout < 11 || r->layout > 13) {
            qxBlendRow32(d, s, a, r->width);
            continue;
        }
        for (int32_t x = 0; x < r->width; ++x) {
            if (!a[x]) continue;
            if (a[x] == 255) {
                d[x] = s[x];
                continue;
            }
            uint32_t sv = qxFromLayout32(r->layout, s[x]), dv = qxFromLayout32(r->layout, d[x]);
            d[x] = qxToLayout32(r->layout, qxBlend32(sv, dv, a[x]));
        }
    }
}

void qxBlendAlpha16(const qxBlendRecord *r)
{
    if (!r || empty(r->width, r->height) || !r->alpha) return;
    const uint16_t *s = at<uint16_t>(r->source, r->sx, r->sy, r->sourcePitch);
    uint16_t *d = at<uint16_t>(r->destination, r->dx, r->dy, r->destPitch);
    const uint8_t *a = planeAt(r->alpha, r->ax, r->ay, r->alphaBytesPerRow);
    const bool native = r->layout == 4;
    for (int32_t y = 0; y < r->height; ++y, s += r->sourcePitch, d += r->destPitch, a += r->alphaBytesPerRow) {
        if (native) {
            for (int32_t x = 0; x < r->width; ++x) {
                int32_t al = a[x];
                uint16_t v = uint16_t(qxBlend16(s[x], d[x], al));
                d[x] = al == 255 ? s[x] : al ? v : d[x];
            }
            continue;
        }
        for (int32_t x = 0; x < r->width; ++x) {
            if (!a[x]) continue;
            if (a[x] == 255) {
                d[x] = s[x];
                continue;
            }
            uint32_t sv = qxFromLayout16(r->layout, s[x]), dv = qxFromLayout16(r->layout, d[x]);
            d[x] = uint16_t(qxToLayout16(r->layout, qxBlend16(sv, dv, a[x])));
        }
    }
}

void qxCopyMasked32(const qxBlendRecord *r)
{
    if (!r || empty(r->width, r->height) || !r->alpha) return;
    const uint32_t *s = at<uint32_t>(r->source, r->sx, r->sy, r->sourcePitch);
    uint32_t *d = at<uint32_t>(r->destination, r->dx, r->dy, r->destPitch);
    const uint8_t *a = planeAt(r->alpha, r->ax, r->ay, r->alphaBytesPerRow);
    for (int32_t y = 0; y < r->height; ++y, s += r->sourcePitch, d += r->destPitch, a += r->alphaBytesPerRow)
        for (int32_t x = 0; x < r->width; ++x) d[x] = a[x] ? s[x] : d[x];
}

void qxCopyMasked16(const qxBlendRecord *r)
{
    if (!r || empty(r->width, r->height) || !r->alpha) return;
    const uint16_t *s = at<uint16_t>(r->source, r->sx, r->sy, r->sourcePitch);
    uint16_t *d = at<uint16_t>(r->destination, r->dx, r->dy, r->destPitch);
    const uint8_t *a = planeAt(r->alpha, r->ax, r->ay, r->alphaBytesPerRow);
    for (int32_t y = 0; y < r->height; ++y, s += r->sourcePitch, d += r->destPitch, a += r->alphaBytesPerRow)
        for (int32_t x = 0; x < r->width; ++x) d[x] = a[x] ? s[x] : d[x];
}

void qxBlendOverAlpha32(const qxBlendRecord *r)
{
    if (!r || empty(r->width, r->height) || !r->alpha || !r->destAlpha) return;
    const uint32_t *s = at<uint32_t>(r->source, r->sx, r->sy, r->sourcePitch);
    uint32_t *d = at<uint32_t>(r->destination, r->dx, r->dy, r->destPitch);
    const uint8_t *a = planeAt(r->alpha, r->ax, r->ay, r->alphaBytesPerRow);
    const uint8_t *da = planeAt(r->destAlpha, r->dx, r->dy, r->destAlphaBytesPerRow);
    const bool native = r->layout < 11 || r->layout > 13;
    for (int32_t y = 0; y < r->height; ++y) {
        for (int32_t x = 0; x < r->width; ++x) {
            uint32_t al = a[x];
            if (al == 255) {
                d[x] = s[x];
                continue;
            }
            if (!al) continue;
            uint32_t t = (255 - al) * da[x], out = std::min<uint32_t>((t + 255 * al + 127) / 255, 255);
            uint32_t w = (t + 127) / 255;
            uint32_t sv = native ? s[x] : qxFromLayout32(r->layout, s[x]);
            uint32_t dv = native ? d[x] : qxFromLayout32(r->layout, d[x]);
            uint32_t res = 0;
            for (int sh = 0; sh < 32; sh += 8)
                res |= overAlpha((sv >> sh) & 0xFF, (dv >> sh) & 0xFF, al, w, out) << sh;
            d[x] = native ? res : qxToLayout32(r->layout, res);
        }
        s += r->sourcePitch, d += r->destPitch, a += r->alphaBytesPerRow, da += r->destAlphaBytesPerRow;
    }
}

void qxBlendOverAlpha16(const qxBlendRecord *r)
{
    if (!r || empty(r->width, r->height) || !r->alpha || !r->destAlpha) return;
    const uint16_t *s = at<uint16_t>(r->source, r->sx, r->sy, r->sourcePitch);
    uint16_t *d = at<uint16_t>(r->destination, r->dx, r->dy, r->destPitch);
    const uint8_t *a = planeAt(r->alpha, r->ax, r->ay, r->alphaBytesPerRow);
    const uint8_t *da = planeAt(r->destAlpha, r->dx, r->dy, r->destAlphaBytesPerRow);
    for (int32_t y = 0; y < r->height; ++y) {
        for (int32_t x = 0; x < r->width; ++x) {
            uint32_t al = a[x];
            if (al == 255) {
                d[x] = s[x];
                continue;
            }
            if (!al) continue;
            uint32_t t = (255 - al) * da[x], out = std::min<uint32_t>((t + 255 * al + 127) / 255, 255);
            uint32_t w = (t + 127) / 255;
            uint32_t sv = qxFromLayout16(r->layout, s[x]), dv = qxFromLayout16(r->layout, d[x]);
            uint32_t res = qxPack16(overAlpha(qxRed16(sv), qxRed16(dv), al, w, out),
                                    overAlpha(qxGreen16(sv), qxGreen16(dv), al, w, out),
                                    overAlpha(qxBlue16(sv), qxBlue16(dv), al, w, out));
            d[x] = uint16_t(qxToLayout16(r->layout, res));
        }
        s += r->sourcePitch, d += r->destPitch, a += r->alphaBytesPerRow, da += r->destAlphaBytesPerRow;
    }
}

const qxBlendKernel qxBlendKernels[2][4] = {
    {qxBlendAlpha16, qxCopyMasked16, qxBlendOverAlpha16, nullptr},
    {qxBlendAlpha32, qxCopyMasked32, qxBlendOverAlpha32, nullptr},
};

} // extern "C"

namespace {

template <typename P> void copyRect(const qxBlitRecord *r)
{
    if (!r || empty(r->width, r->height)) return;
    const P *s = at<P>(r->source, r->sx, r->sy, r->sourcePitch);
    P *d = at<P>(r->destination, r->dx, r->dy, r->destPitch);
    for (int32_t y = 0; y < r->height; ++y, s += r->sourcePitch, d += r->destPitch)
        std::memmove(d, s, size_t(r->width) * sizeof(P));
}

// Calls one(x) for every set bit of a mask row from bit `start`, n bits;
// whole bytes of 0x00 and 0xFF go in one step, and other bytes through
// mixed(x, byte) without branches (a scattered mask such as a dissolve's
// would mispredict every other bit).
template <typename Run, typename One, typename Mixed>
inline void forMaskRow(const uint8_t *row, int64_t start, int32_t n, Run run, One one, Mixed mixed)
{
    int32_t x = 0;
    while (x < n && ((start + x) & 7)) {
        if (qxMaskBit(row, start + x)) one(x);
        ++x;
    }
    const uint8_t *b = row + ((start + x) >> 3);
    for (; x + 8 <= n; x += 8, ++b) {
        uint8_t m = *b;
        if (!m) continue;
        if (m == 0xFF) {
            // A run of full bytes in one step.
            int32_t k = 8;
            while (x + k + 8 <= n && b[k >> 3] == 0xFF) k += 8;
            run(x, k);
            x += k - 8, b += (k >> 3) - 1;
            continue;
        }
        mixed(x, m);
    }
    for (; x < n; ++x)
        if (qxMaskBit(row, start + x)) one(x);
}

// The eight pixels of a mixed mask byte, one pick(x, bit) each.
template <typename Pick> auto bitByBit(Pick pick)
{
    return [pick](int32_t x, uint8_t m) {
        for (int k = 0; k < 8; ++k) pick(x + k, (m >> (7 - k)) & 1);
    };
}

template <typename P> void maskedCopy(const qxBlitRecord *r)
{
    if (!r || empty(r->width, r->height) || !r->mask) return;
    const P *s = at<P>(r->source, r->sx, r->sy, r->sourcePitch);
    P *d = at<P>(r->destination, r->dx, r->dy, r->destPitch);
    const uint8_t *m = r->mask + int64_t(r->sy) * r->maskBytesPerRow;
    const auto pick = [&](int32_t x, int bit) {
        const P keep = P(bit - 1); // all ones where the bit is clear
        d[x] = P((s[x] & ~keep) | (d[x] & keep));
    };
    // 32-bit pixels: the byte's bits spread to two lane masks that select
    // source or destination, four pixels per step.
    const __m128i first = _mm_set_epi32(0x10, 0x20, 0x40, 0x80), second = _mm_set_epi32(1, 2, 4, 8);
    const auto select8 = [&](int32_t x, uint8_t bits) {
        const __m128i b = _mm_set1_epi32(bits);
        const __m128i lo = _mm_cmpeq_epi32(_mm_and_si128(b, first), first);
        const __m128i hi = _mm_cmpeq_epi32(_mm_and_si128(b, second), second);
        const auto *sv = reinterpret_cast<const __m128i *>(s + x);
        auto *dv = reinterpret_cast<__m128i *>(d + x);
        const __m128i s0 = _mm_loadu_si128(sv), s1 = _mm_loadu_si128(sv + 1);
        const __m128i d0 = _mm_loadu_si128(dv), d1 = _mm_loadu_si128(dv + 1);
        _mm_storeu_si128(dv, _mm_or_si128(_mm_and_si128(lo, s0), _mm_andnot_si128(lo, d0)));
        _mm_storeu_si128(dv + 1, _mm_or_si128(_mm_and_si128(hi, s1), _mm_andnot_si128(hi, d1)));
    };
    for (int32_t y = 0; y < r->height; ++y, s += r->sourcePitch, d += r->destPitch, m += r->maskBytesPerRow) {
        const auto run = [&](int32_t x, int n) { std::memcpy(d + x, s + x, sizeof(P) * size_t(n)); };
        const auto one = [&](int32_t x) { d[x] = s[x]; };
        if constexpr (sizeof(P) == 4) forMaskRow(m, r->sx, r->width, run, one, select8);
        else forMaskRow(m, r->sx, r->width, run, one, bitByBit(pick));
    }
}

template <typename P> void fillMasked(const qxBlitRecord *r)
{
    if (!r || empty(r->width, r->height) || !r->mask) return;
    P *d = at<P>(r->destination, r->dx, r->dy, r->destPitch);
    const uint8_t *m = r->mask + int64_t(r->sy) * r->maskBytesPerRow;
    const P v = P(r->value);
    for (int32_t y = 0; y < r->height; ++y, d += r->destPitch, m += r->maskBytesPerRow)
        forMaskRow(
            m, r->sx, r->width, [&](int32_t x, int n) { std::fill(d + x, d + x + n, v); },
            [&](int32_t x) { d[x] = v; }, bitByBit([&](int32_t x, int bit) {
                const P keep = P(bit - 1);
                d[x] = P((v & ~keep) | (d[x] & keep));
            }));
}

// The processor's string store is the fastest fill of long rows here; its
// start-up costs more than a vector loop takes for rows below 512 pixels.
inline void fillRow(uint32_t *d, size_t n, uint32_t v)
{
#if defined(__x86_64__)
    if (n >= 512) {
        asm volatile("rep stosl" : "+D"(d), "+c"(n) : "a"(v) : "memory");
        return;
    }
#endif
    std::fill(d, d + n, v);
}

inline void fillRow(uint16_t *d, size_t n, uint16_t v)
{
    // Align to a word pair, then store pairs.
    if (n && (reinterpret_cast<uintptr_t>(d) & 2)) *d++ = v, --n;
    fillRow(reinterpret_cast<uint32_t *>(d), n / 2, uint32_t(v) * 0x10001u);
    if (n & 1) d[n - 1] = v;
}

// Short rows store best with the widest vectors the processor has.
__attribute__((always_inline)) inline void fillRowsBody(uint32_t *d, int32_t w, int32_t h, int32_t pitch,
                                                        uint32_t v)
{
    for (int32_t y = 0; y < h; ++y, d += pitch) {
        if (w >= 512) {
            fillRow(d, size_t(w), v);
            continue;
        }
        qxFillPixels32(d, size_t(w), v);
    }
}
void fillRowsPlain(uint32_t *d, int32_t w, int32_t h, int32_t pitch, uint32_t v) { fillRowsBody(d, w, h, pitch, v); }
QX_AVX2 void fillRowsAvx2(uint32_t *d, int32_t w, int32_t h, int32_t pitch, uint32_t v)
{
    fillRowsBody(d, w, h, pitch, v);
}
__attribute__((always_inline)) inline void vectorRowsBody(uint32_t *d, size_t w, size_t h, size_t pitch, uint32_t v)
{
    for (size_t y = 0; y < h; y++) qxFillPixels32(d + y * pitch, w, v);
}
void vectorRowsPlain(uint32_t *d, size_t w, size_t h, size_t pitch, uint32_t v) { vectorRowsBody(d, w, h, pitch, v); }
QX_AVX2 void vectorRowsAvx2(uint32_t *d, size_t w, size_t h, size_t pitch, uint32_t v)
{
    vectorRowsBody(d, w, h, pitch, v);
}

template <typename P> void fillRect(const qxBlitRecord *r)
{
    if (!r || empty(r->width, r->height)) return;
    P *d = at<P>(r->destination, r->dx, r->dy, r->destPitch);
    const P v = P(r->value);
    if constexpr (sizeof(P) == 4) {
        qxPickKernel(fillRowsPlain, fillRowsAvx2)(d, r->width, r->height, r->destPitch, v);
        return;
    }
    for (int32_t y = 0; y < r->height; ++y, d += r->destPitch) fillRow(d, size_t(r->width), v);
}

} // namespace

extern "C" {

void qxBlitConvert16(const qxBlitRecord *r) { copyRect<uint16_t>(r); }
void qxBlitConvert32(const qxBlitRecord *r) { copyRect<uint32_t>(r); }
void qxBlitMasked16(const qxBlitRecord *r) { maskedCopy<uint16_t>(r); }
void qxBlitMasked32(const qxBlitRecord *r) { maskedCopy<uint32_t>(r); }
void qxFillThroughMask16(const qxBlitRecord *r) { fillMasked<uint16_t>(r); }
void qxFillThroughMask32(const qxBlitRecord *r) { fillMasked<uint32_t>(r); }
void qxFillRect16(const qxBlitRecord *r) { fillRect<uint16_t>(r); }
void qxFillRect32(const qxBlitRecord *r) { fillRect<uint32_t>(r); }

void qxFillPixelRows32(uint32_t *d, size_t w, size_t h, size_t pitch, uint32_t v)
{
    qxPickKernel(vectorRowsPlain, vectorRowsAvx2)(d, w, h, pitch, v);
}

} // extern "C"
