// The scaling kernel: 16.16 nearest sampling and bilinear smoothing with
// x and y tables.
#include "imaging/qx_scale.h"

#include <algorithm>
#include <cstring>
#include <emmintrin.h>

#include "core/errors/qx_errors.h"
#include "imaging/qx_blit.h"
#include "imaging/qx_pixelformat.h"
#include "platform/qx_memory.h"

namespace {

// The part of the destination that is made.
struct Window {
    int32_t x, y, width, height;
};

Window windowOf(const qxScaleRecord *r)
{
    if (r->windowWidth <= 0 || r->windowHeight <= 0) return {0, 0, r->destWidth, r->destHeight};
    const int32_t x = std::clamp(r->windowX, 0, r->destWidth), y = std::clamp(r->windowY, 0, r->destHeight);
    return {x, y, std::min(r->windowWidth, r->destWidth - x), std::min(r->windowHeight, r->destHeight - y)};
}

// n columns of a row, the first at source position start (16.16).
template <typename P> void nearestRow(P *d, const P *s, int32_t n, uint32_t step, int32_t last, uint64_t start)
{
    uint64_t acc = start;
    int32_t i = 0;
    if (step == 0x8000 && start == 0) {
        // Exact doubling: every source pixel twice.
        int32_t pairs = std::min<int64_t>(n / 2, int64_t(last) + 1);
        for (int32_t k = 0; k < pairs; ++k) d[2 * k] = d[2 * k + 1] = s[k];
        i = pairs * 2;
        acc = uint64_t(i) * step;
    }
    // Columns that cannot reach past the source run unchecked.
    const int64_t room = (int64_t(last) << 16) - int64_t(start);
    int64_t safe = !step ? n : room < 0 ? 0 : std::min<int64_t>(n, room / step + 1);
    for (; i < safe; ++i, acc += step) d[i] = s[acc >> 16];
    for (; i < n; ++i, acc += step) d[i] = s[std::min<uint64_t>(acc >> 16, uint64_t(last))];
}

void nearest(const qxScaleRecord *r)
{
    const float xstep = float(r->sourceWidth) / float(r->destWidth);
    const float ystep = float(r->sourceHeight) / float(r->destHeight);
    const uint32_t step = uint32_t(xstep * 65536.0f);
    const int32_t lastCol = r->sourceWidth - 1;
    const bool pixels = r->sourcePixels && r->destPixels && (r->bytesPerPixel == 2 || r->bytesPerPixel == 4);
    const Window w = windowOf(r);
    const uint64_t start = uint64_t(w.x) * step;
    // Rows follow the whole picture's running sum, drift included.
    float acc = 0;
    for (int32_t j = 0; j < w.y; ++j) acc += ystep;
    int32_t prevRow = -1;
    for (int32_t j = 0; j < w.height; ++j, acc += ystep) {
        // A single-precision sum drifts on big upscales: stay in the source.
        int32_t row = std::min(int32_t(acc), r->sourceHeight - 1);
        if (j > 0 && row == prevRow) {
            // The same source row again: repeat the row just written.
            auto repeat = [&](void *base, int32_t pitchBytes, size_t bytes) {
                auto *b = static_cast<uint8_t *>(base);
                std::memcpy(b + int64_t(j) * pitchBytes, b + int64_t(j - 1) * pitchBytes, bytes);
            };
            if (pixels)
                repeat(r->destPixels, r->destPitch * int32_t(r->bytesPerPixel), size_t(w.width) * r->bytesPerPixel);
            if (r->sourceMask && r->destMask) repeat(r->destMask, r->destMaskBytesPerRow, (size_t(w.width) + 7) / 8);
            if (r->sourceAlpha && r->destAlpha) repeat(r->destAlpha, r->destAlphaBytesPerRow, size_t(w.width));
            continue;
        }
        prevRow = row;
        if (pixels) {
            if (r->bytesPerPixel == 4)
                nearestRow(static_cast<uint32_t *>(r->destPixels) + int64_t(j) * r->destPitch,
                           static_cast<const uint32_t *>(r->sourcePixels) + int64_t(row) * r->sourcePitch, w.width,
                           step, lastCol, start);
            else
                nearestRow(static_cast<uint16_t *>(r->destPixels) + int64_t(j) * r->destPitch,
                           static_cast<const uint16_t *>(r->sourcePixels) + int64_t(row) * r->sourcePitch, w.width,
                           step, lastCol, start);
        }
        if (r->sourceMask && r->destMask) {
            const uint8_t *s = r->sourceMask + int64_t(row) * r->sourceMaskBytesPerRow;
            uint8_t *d = r->destMask + int64_t(j) * r->destMaskBytesPerRow;
            uint64_t a = start;
            for (int32_t i = 0; i < w.width; ++i, a += step)
                qxSetMaskBit(d, i, qxMaskBit(s, std::min<int64_t>(int64_t(a >> 16), lastCol) + r->sx));
        }
        if (r->sourceAlpha && r->destAlpha)
            nearestRow(r->destAlpha + int64_t(j) * r->destAlphaBytesPerRow,
                       r->sourceAlpha + int64_t(row) * r->sourceAlphaBytesPerRow, w.width, step, lastCol, start);
    }
}

void fillTable(int32_t *t, int32_t src, int32_t dst)
{
    // A destination of one sample takes column (row) 0.
    int64_t step = dst > 1 ? int64_t((src - 1) * 65536.0 / (dst - 1)) : 0;
    int64_t cap = int64_t(src) * 65536 - 1, v = 0;
    for (int32_t k = 0; k <= dst; ++k) {
        t[k] = int32_t(v);
        v = std::min(v + step, cap);
    }
}

inline int32_t lerp(int32_t a, int32_t b, int32_t f) { return a + (((b - a) * f) >> 16); }

// Four bytes of two words interpolated per 16-bit lane: mulhi gives the
// signed floor for fractions below 0x8000, the rest adds the difference back.
inline __m128i lerp16(__m128i a, __m128i b, __m128i f, __m128i fHigh)
{
    __m128i diff = _mm_sub_epi16(b, a);
    return _mm_add_epi16(a, _mm_add_epi16(_mm_mulhi_epi16(diff, f), _mm_and_si128(diff, fHigh)));
}

// Column data of a chunk, the same for every row: the source column pair
// of each destination column and the x fractions of column pairs.
struct Columns {
    int32_t sx[2048];
    bool edge[2048]; // the column's right neighbour is itself
    __m128i f[1024], fHigh[1024];
};

// One source row interpolated along x for the chunk's columns: four 16-bit
// channels per column.
void horizontal32(const qxScaleRecord *r, int32_t sy, int32_t n, const Columns &c, __m128i *out)
{
    const __m128i z = _mm_setzero_si128();
    const uint32_t *row = static_cast<const uint32_t *>(r->sourcePixels) + int64_t(sy) * r->sourcePitch;
    auto pair = [&](int32_t i) {
        if (!c.edge[i]) return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(row + c.sx[i]));
        __m128i one = _mm_cvtsi32_si128(int(row[c.sx[i]]));
        return _mm_unpacklo_epi32(one, one);
    };
    for (int32_t i = 0; i < n; i += 2) {
        int32_t k = i + 1 < n ? i + 1 : i;
        __m128i a = _mm_unpacklo_epi8(pair(i), z), b = _mm_unpacklo_epi8(pair(k), z);
        out[i / 2] = lerp16(_mm_unpacklo_epi64(a, b), _mm_unpackhi_epi64(a, b), c.f[i / 2], c.fHigh[i / 2]);
    }
}

void smoothNative32(const qxScaleRecord *r)
{
    // Interpolated source rows are kept while consecutive destination rows
    // use them again.
    constexpr int32_t kChunk = 2048;
    alignas(16) __m128i bufA[kChunk / 2], bufB[kChunk / 2];
    Columns cols; // on the stack: thread_local data is zeroed for every thread
    const Window w = windowOf(r);
    for (int32_t i0 = w.x; i0 < w.x + w.width; i0 += kChunk) {
        const int32_t i1 = std::min(w.x + w.width, i0 + kChunk), cn = i1 - i0;
        for (int32_t i = 0; i < cn; ++i) {
            cols.sx[i] = r->xTable[i0 + i] >> 16;
            cols.edge[i] = cols.sx[i] >= r->sourceWidth - 1;
        }
        for (int32_t i = 0; i < cn; i += 2) {
            int32_t k = i + 1 < cn ? i + 1 : i;
            cols.f[i / 2] = _mm_unpacklo_epi64(_mm_set1_epi16(int16_t(r->xTable[i0 + i] & 0xFFFF)),
                                               _mm_set1_epi16(int16_t(r->xTable[i0 + k] & 0xFFFF)));
            cols.fHigh[i / 2] = _mm_srai_epi16(cols.f[i / 2], 15);
        }
        __m128i *rowA = bufA, *rowB = bufB;
        int32_t haveA = -1, haveB = -1;
        for (int32_t j = w.y; j < w.y + w.height; ++j) {
            int32_t sy = r->yTable[j] >> 16, fy = r->yTable[j] & 0xFFFF;
            int32_t sy1 = sy < r->sourceHeight - 1 ? sy + 1 : sy;
            if (haveA != sy) {
                if (haveB == sy) std::swap(rowA, rowB), std::swap(haveA, haveB);
                else horizontal32(r, sy, cn, cols, rowA), haveA = sy;
            }
            if (haveB != sy1) horizontal32(r, sy1, cn, cols, rowB), haveB = sy1;
            const __m128i fv = _mm_set1_epi16(int16_t(fy)), fh = _mm_srai_epi16(fv, 15);
            uint32_t *d = static_cast<uint32_t *>(r->destPixels) + int64_t(j - w.y) * r->destPitch + (i0 - w.x);
            const int32_t n = i1 - i0;
            int32_t k = 0;
            for (; k + 4 <= n; k += 4) {
                __m128i v0 = lerp16(rowA[k / 2], rowB[k / 2], fv, fh);
                __m128i v1 = lerp16(rowA[k / 2 + 1], rowB[k / 2 + 1], fv, fh);
                _mm_storeu_si128(reinterpret_cast<__m128i *>(d + k), _mm_packus_epi16(v0, v1));
            }
            for (; k < n; k += 2) {
                __m128i v = _mm_packus_epi16(lerp16(rowA[k / 2], rowB[k / 2], fv, fh), _mm_setzero_si128());
                d[k] = uint32_t(_mm_cvtsi128_si32(v));
                if (k + 1 < n) d[k + 1] = uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(v, 4)));
            }
        }
    }
}

void smooth(const qxScaleRecord *r)
{
    if (!r->xTable || !r->yTable) return;
    fillTable(r->xTable, r->sourceWidth, r->destWidth);
    fillTable(r->yTable, r->sourceHeight, r->destHeight);
    const uint32_t bpp = qxBytesPerPixel(r->layout);
    const bool pixels = r->sourcePixels && r->destPixels && (bpp == 2 || bpp == 4) && bpp == r->bytesPerPixel;
    if (pixels && r->layout == QX_PIXFMT_ARGB32 && !r->destAlpha) {
        smoothNative32(r);
        if (!r->destMask) return;
    }
    const Window w = windowOf(r);
    for (int32_t j = 0; j < w.height; ++j) {
        int32_t sy = r->yTable[w.y + j] >> 16, fy = r->yTable[w.y + j] & 0xFFFF;
        int32_t sy1 = sy < r->sourceHeight - 1 ? sy + 1 : sy;
        for (int32_t i = 0; i < w.width; ++i) {
            int32_t sx = r->xTable[w.x + i] >> 16, fx = r->xTable[w.x + i] & 0xFFFF;
            int32_t sx1 = sx < r->sourceWidth - 1 ? sx + 1 : sx;
            int32_t c[4][4] = {};
            const int32_t xs[4] = {sx, sx1, sx, sx1}, ys[4] = {sy, sy, sy1, sy1};
            for (int k = 0; k < 4; ++k) {
                if (pixels)
                    qxUnpackPixel(static_cast<const uint8_t *>(r->sourcePixels) +
                                      (int64_t(ys[k]) * r->sourcePitch + xs[k]) * bpp,
                                  r->layout, c[k]);
                if (r->destAlpha && r->sourceAlpha)
                    c[k][3] = r->sourceAlpha[int64_t(ys[k]) * r->sourceAlphaBytesPerRow + xs[k]];
            }
            int32_t out[4];
            for (int ch = 0; ch < 4; ++ch) {
                int32_t top = lerp(c[0][ch], c[1][ch], fx), bottom = lerp(c[2][ch], c[3][ch], fx);
                out[ch] = lerp(top, bottom, fy) & 0xFF;
            }
            if (pixels && !(r->layout == QX_PIXFMT_ARGB32 && !r->destAlpha))
                qxPackPixel(static_cast<uint8_t *>(r->destPixels) + (int64_t(j) * r->destPitch + i) * bpp, r->layout,
                            out);
            if (r->destAlpha) {
                r->destAlpha[int64_t(j) * r->destAlphaBytesPerRow + i] = uint8_t(out[3]);
            } else if (r->destMask && r->sourceMask) {
                bool on = qxMaskBit(r->sourceMask + int64_t(sy) * r->sourceMaskBytesPerRow, int64_t(sx) + r->sx);
                qxSetMaskBit(r->destMask + int64_t(j) * r->destMaskBytesPerRow, i, on);
            }
        }
    }
}

} // namespace

extern "C" {

void qxScaleBitmap(qxScaleRecord *r)
{
    if (!r || r->sourceWidth < 1 || r->sourceHeight < 1 || r->destWidth < 1 || r->destHeight < 1) return;
    if (r->smooth) smooth(r);
    else nearest(r);
}

int qxEnsureScaleTables(int32_t width, int32_t height, int32_t *xCap, int32_t *yCap, int32_t **xTable,
                        int32_t **yTable)
{
    auto grow = [](int32_t n, int32_t *cap, int32_t **table) {
        if (n <= *cap && *table) return true;
        auto *t = static_cast<int32_t *>(qxAlloc((size_t(n) + 1) * 4, 1));
        if (!t) return false;
        qxFree(*table);
        *table = t, *cap = n;
        return true;
    };
    if (width < 0 || height < 0) return 0;
    return grow(width, xCap, xTable) && grow(height, yCap, yTable) ? 0 : ERR_MEM;
}

void *qxConvertPixelBuffer(const void *source, int32_t sourceX, int32_t sourceY, int32_t sourceWidth,
                           int32_t sourceHeight, void *destination, int32_t dx, int32_t dy, int32_t width,
                           int32_t height, int32_t sourcePitch, int32_t destPitch, uint32_t layout, uint32_t smoothFlag)
{
    const uint32_t bpp = qxBytesPerPixel(layout);
    if (!source || width < 1 || height < 1 || sourceWidth < 1 || sourceHeight < 1 || !bpp) return nullptr;
    void *owned = nullptr;
    if (!destination) {
        size_t total;
        if (!qxMulSize(size_t(width) * size_t(height), 4, &total) || !(owned = qxAlloc(total, 1))) return nullptr;
        destination = owned;
        destPitch = width;
    }
    int32_t xCap = 0, yCap = 0, *xt = nullptr, *yt = nullptr;
    if (qxEnsureScaleTables(width, height, &xCap, &yCap, &xt, &yt)) {
        qxFree(xt), qxFree(yt), qxFree(owned);
        return nullptr;
    }
    qxScaleRecord r{};
    r.sourcePixels = static_cast<const uint8_t *>(source) + (int64_t(sourceY) * sourcePitch + sourceX) * bpp;
    r.destPixels = static_cast<uint8_t *>(destination) + (int64_t(dy) * destPitch + dx) * bpp;
    r.sourceWidth = sourceWidth, r.sourceHeight = sourceHeight, r.destWidth = width, r.destHeight = height;
    r.sourcePitch = sourcePitch, r.destPitch = destPitch;
    r.smooth = smoothFlag, r.layout = layout, r.bytesPerPixel = bpp;
    r.xTable = xt, r.yTable = yt;
    qxScaleBitmap(&r);
    qxFree(xt), qxFree(yt);
    return destination;
}
}
