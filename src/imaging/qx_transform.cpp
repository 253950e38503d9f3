// Flips and quarter turns.
#include "imaging/qx_transform.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace {

inline bool getBit(const uint8_t *row, int32_t x) { return row[x >> 3] & (0x80 >> (x & 7)); }
inline void putBit(uint8_t *row, int32_t x, bool on)
{
    if (on) row[x >> 3] |= uint8_t(0x80 >> (x & 7));
    else row[x >> 3] &= uint8_t(~(0x80 >> (x & 7)));
}

template <class T> void reverseRow(T *row, int32_t w) { std::reverse(row, row + w); }

void reverse3(uint8_t *row, int32_t w)
{
    for (int32_t i = 0, j = w - 1; i < j; ++i, --j)
        for (int k = 0; k < 3; ++k) std::swap(row[3 * i + k], row[3 * j + k]);
}

// Square tiles keep both the rows read and the rows written in the cache.
template <size_t N> void turn(const qxResampleRecord *r)
{
    using Px = std::conditional_t<N == 4, uint32_t, std::conditional_t<N == 2, uint16_t, void>>;
    auto *s = static_cast<const uint8_t *>(r->source);
    auto *d = static_cast<uint8_t *>(r->result);
    const int32_t W = r->width, H = r->height, T = 64;
    for (int32_t ty = 0; ty < W; ty += T)
        for (int32_t tx = 0; tx < H; tx += T) {
            int32_t ey = ty + T < W ? ty + T : W, ex = tx + T < H ? tx + T : H;
            for (int32_t y = ty; y < ey; ++y) {
                uint8_t *drow = d + int64_t(y) * r->resultPitch * N;
                if (r->quarterKind == 1) {
                    // result(x, y) = source(W - 1 - y, x): down a source column.
                    const uint8_t *col = s + int64_t(W - 1 - y) * N;
                    for (int32_t x = tx; x < ex; ++x) {
                        if constexpr (!std::is_void_v<Px>)
                            reinterpret_cast<Px *>(drow)[x] = *reinterpret_cast<const Px *>(col + int64_t(x) * r->sourcePitch * N);
                        else std::memcpy(drow + int64_t(x) * N, col + int64_t(x) * r->sourcePitch * N, N);
                    }
                } else {
                    // result(x, y) = source(y, H - 1 - x): up a source column.
                    const uint8_t *col = s + int64_t(y) * N;
                    for (int32_t x = tx; x < ex; ++x) {
                        int64_t o = int64_t(H - 1 - x) * r->sourcePitch * N;
                        if constexpr (!std::is_void_v<Px>)
                            reinterpret_cast<Px *>(drow)[x] = *reinterpret_cast<const Px *>(col + o);
                        else std::memcpy(drow + int64_t(x) * N, col + o, N);
                    }
                }
            }
        }
}

} // namespace

extern "C" {

void qxFlipPixels(const qxFlipRecord *r)
{
    if (!r || r->width < 1 || r->height < 1) return;
    int32_t w = r->width, h = r->height;
    uint32_t bpp = r->bytesPerPixel;
    auto *px = static_cast<uint8_t *>(r->pixels);
    if (!r->horizontal) {
        for (int32_t i = 0; i < h / 2; ++i) {
            int32_t j = h - 1 - i;
            if (px && bpp >= 1 && bpp <= 4)
                std::swap_ranges(px + int64_t(i) * r->pitch * bpp, px + (int64_t(i) * r->pitch + w) * bpp,
                                 px + int64_t(j) * r->pitch * bpp);
            if (r->mask)
                std::swap_ranges(r->mask + int64_t(i) * r->maskBytesPerRow,
                                 r->mask + int64_t(i + 1) * r->maskBytesPerRow, r->mask + int64_t(j) * r->maskBytesPerRow);
            if (r->alpha)
                std::swap_ranges(r->alpha + int64_t(i) * r->alphaBytesPerRow,
                                 r->alpha + int64_t(i) * r->alphaBytesPerRow + w, r->alpha + int64_t(j) * r->alphaBytesPerRow);
        }
        return;
    }
    for (int32_t y = 0; y < h; ++y) {
        if (px) {
            uint8_t *row = px + int64_t(y) * r->pitch * bpp;
            if (bpp == 4) reverseRow(reinterpret_cast<uint32_t *>(row), w);
            else if (bpp == 2) reverseRow(reinterpret_cast<uint16_t *>(row), w);
            else if (bpp == 3) reverse3(row, w);
            else if (bpp == 1) reverseRow(row, w);
        }
        if (r->alpha) reverseRow(r->alpha + int64_t(y) * r->alphaBytesPerRow, w);
        if (r->mask && r->scratch) {
            // Only the width's bits are rewritten; the pad bits stay.
            uint8_t *row = r->mask + int64_t(y) * r->maskBytesPerRow;
            std::memcpy(r->scratch, row, size_t(r->maskBytesPerRow));
            for (int32_t x = 0; x < w; ++x) putBit(row, x, getBit(r->scratch, w - 1 - x));
        }
    }
}

void qxQuarterTurnPixels(const qxResampleRecord *r)
{
    if (!r || r->width < 1 || r->height < 1 || (r->quarterKind != 1 && r->quarterKind != 2)) return;
    int32_t W = r->width, H = r->height;
    if (r->source && r->result) {
        if (r->bytesPerPixel == 4) turn<4>(r);
        else if (r->bytesPerPixel == 3) turn<3>(r);
        else if (r->bytesPerPixel == 2) turn<2>(r);
    }
    for (int32_t y = 0; y < W; ++y)
        for (int32_t x = 0; x < H; ++x) {
            int32_t sx = r->quarterKind == 1 ? W - 1 - y : y, sy = r->quarterKind == 1 ? x : H - 1 - x;
            if (r->sourceMask && r->resultMask)
                putBit(r->resultMask + int64_t(y) * r->resultMaskBytesPerRow, x,
                       getBit(r->sourceMask + int64_t(sy) * r->sourceMaskBytesPerRow, sx));
            if (r->sourceAlpha && r->resultAlpha)
                r->resultAlpha[int64_t(y) * r->resultAlphaBytesPerRow + x] =
                    r->sourceAlpha[int64_t(sy) * r->sourceAlphaBytesPerRow + sx];
        }
}
}
