// Oil paint, padded copies and the integer square root.
#include "imaging/qx_areaeffects.h"

#include <cmath>
#include <memory>
#include <new>

#include "imaging/qx_channels.h"
#include "imaging/qx_coloreffects.h"
#include "imaging/qx_convolve.h"

namespace {

constexpr int64_t kMaxPadded = int64_t(1) << 28; // pixels

int32_t clampIndex(int64_t i, int32_t n) { return i < 0 ? 0 : i >= n ? n - 1 : int32_t(i); }

template <class T>
T *padPlane(const T *plane, int32_t w, int32_t h, int32_t pitch, int32_t kw, T *buffer, int32_t *stride, bool bytes)
{
    if (!plane || w < 1 || h < 1 || kw < 0) return nullptr;
    int64_t n = int64_t(w) + kw, rows = int64_t(h) + kw;
    int64_t s = bytes ? (n + 3) & ~int64_t(3) : n + 4 - (n % 4);
    if (s > kMaxPadded || rows > kMaxPadded || s * rows > kMaxPadded) return nullptr;
    T *d = buffer ? buffer : new (std::nothrow) T[size_t(s * rows)];
    if (!d) return nullptr;
    int32_t half = kw / 2;
    for (int64_t r = 0; r < rows; ++r) {
        const T *src = plane + int64_t(clampIndex(r - half, h)) * pitch;
        T *row = d + r * s;
        for (int64_t c = 0; c < n; ++c) row[c] = src[clampIndex(c - half, w)];
    }
    if (stride) *stride = int32_t(s);
    return d;
}

template <class P, class T = typename P::T>
void oilPaint(T *pixels, int32_t w, int32_t h, int32_t pitch, uint32_t layout, double radius)
{
    if (!pixels || w < 1 || h < 1 || !std::isfinite(radius)) return;
    int32_t big = w > h ? w : h;
    int32_t kw = qxKernelWidth2D(radius, 0.5, 2 * big + 1);
    // Windows wider than twice the image hold nothing but replicated
    // edges; they are refused so a huge radius cannot run for hours.
    if (kw < 1 || kw > 2 * int64_t(big) + 1) return;
    int32_t stride = 0;
    std::unique_ptr<T[]> pad(padPlane<T>(pixels, w, h, pitch, kw, nullptr, &stride, false));
    if (!pad) return;
    int64_t rows = int64_t(h) + kw;
    std::unique_ptr<uint8_t[]> lum(new (std::nothrow) uint8_t[size_t(stride * rows)]);
    if (!lum) return;
    for (int64_t i = 0; i < stride * rows; ++i) {
        int32_t r, g, b;
        P::get(layout, pad[size_t(i)], r, g, b);
        lum[size_t(i)] = uint8_t(qxIntensity(r, g, b));
    }
    uint32_t hist[256] = {};
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            int64_t best = int64_t(y) * stride + x;
            uint32_t most = 0;
            for (int32_t v = 0; v < kw; ++v) {
                int64_t o = int64_t(y + v) * stride + x;
                for (int32_t u = 0; u < kw; ++u)
                    if (++hist[lum[size_t(o + u)]] > most) most = hist[lum[size_t(o + u)]], best = o + u;
            }
            for (int32_t v = 0; v < kw; ++v) {
                int64_t o = int64_t(y + v) * stride + x;
                for (int32_t u = 0; u < kw; ++u) hist[lum[size_t(o + u)]] = 0;
            }
            pixels[int64_t(y) * pitch + x] = pad[size_t(best)];
        }
}

// Each block's corner is read before the block is written and belongs to
// no other block, so the planes are worked in place.
template <class T>
void pixelate(T *px, int32_t pitch, uint8_t *mask, int32_t mbpr, uint8_t *alpha, int32_t abpr, int32_t w, int32_t h,
              int32_t size)
{
    if (!px || w < 1 || h < 1 || size < 2) return;
    int32_t b = size < h ? size : h;
    b = b < w ? b : w;
    for (int32_t by = 0; by < h; by += b)
        for (int32_t bx = 0; bx < w; bx += b) {
            T p = px[int64_t(by) * pitch + bx];
            bool drawn = true;
            uint8_t a = 0;
            if (mask) drawn = mask[int64_t(by) * mbpr + (bx >> 3)] & (0x80 >> (bx & 7));
            else if (alpha) drawn = (a = alpha[int64_t(by) * abpr + bx]) != 0;
            int32_t ex = bx + b < w ? bx + b : w, ey = by + b < h ? by + b : h;
            for (int32_t y = by; y < ey; ++y)
                for (int32_t x = bx; x < ex; ++x) {
                    if (drawn) px[int64_t(y) * pitch + x] = p;
                    if (mask) {
                        uint8_t &m = mask[int64_t(y) * mbpr + (x >> 3)];
                        m = drawn ? uint8_t(m | (0x80 >> (x & 7))) : uint8_t(m & ~(0x80 >> (x & 7)));
                    } else if (alpha) alpha[int64_t(y) * abpr + x] = drawn ? a : 0;
                }
        }
}

} // namespace

extern "C" {

int32_t qxIntSqrt(int64_t n)
{
    if (n < 0) return -1;
    // sqrt of an integer below 2^53 is correctly rounded; the two steps
    // settle the case where it rounds up onto the next integer.
    int64_t r = int64_t(std::sqrt(double(n)));
    while (r * r > n) --r;
    while ((r + 1) * (r + 1) <= n) ++r;
    return int32_t(r);
}

uint32_t *qxPadPlane32(const uint32_t *plane, int32_t width, int32_t height, int32_t pitch, int32_t kw,
                       uint32_t *buffer, int32_t *stride)
{
    return padPlane(plane, width, height, pitch, kw, buffer, stride, false);
}
uint16_t *qxPadPlane16(const uint16_t *plane, int32_t width, int32_t height, int32_t pitch, int32_t kw,
                       uint16_t *buffer, int32_t *stride)
{
    return padPlane(plane, width, height, pitch, kw, buffer, stride, false);
}
uint8_t *qxPadBytePlane(const uint8_t *plane, int32_t width, int32_t height, int32_t pitch, int32_t kw,
                        uint8_t *buffer, int32_t *stride)
{
    return padPlane(plane, width, height, pitch, kw, buffer, stride, true);
}

void qxOilPaint32(uint32_t *p, int32_t w, int32_t h, int32_t pitch, uint32_t layout, double radius)
{
    oilPaint<qxPx32>(p, w, h, pitch, layout, radius);
}
void qxOilPaint16(uint16_t *p, int32_t w, int32_t h, int32_t pitch, uint32_t layout, double radius)
{
    oilPaint<qxPx16>(p, w, h, pitch, layout, radius);
}

void qxPixelate32(uint32_t *p, int32_t pitch, uint8_t *m, int32_t mbpr, uint8_t *a, int32_t abpr, int32_t w, int32_t h,
                  int32_t size)
{
    pixelate(p, pitch, m, mbpr, a, abpr, w, h, size);
}
void qxPixelate16(uint16_t *p, int32_t pitch, uint8_t *m, int32_t mbpr, uint8_t *a, int32_t abpr, int32_t w, int32_t h,
                  int32_t size)
{
    pixelate(p, pitch, m, mbpr, a, abpr, w, h, size);
}
}
