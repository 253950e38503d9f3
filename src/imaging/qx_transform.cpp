// Flips and quarter turns.
#include "imaging/qx_transform.h"

#include "imaging/qx_pixelformat.h"

#include <algorithm>
#include <cmath>
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

// Columns X = i + 0.5 where 0 <= a X + b < limit narrow [lo, hi]; false
// when none is left.
bool narrow(double a, double b, double limit, double &lo, double &hi)
{
    if (std::fabs(a) < 1e-10) return b >= 0 && b < limit;
    double p = -b / a, q = (limit - b) / a;
    if (p > q) std::swap(p, q);
    lo = std::max(lo, p + 1e-10), hi = std::min(hi, q - 1e-10);
    return lo <= hi;
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
                       getBit(r->sourceMask + int64_t(sy) * r->sourceMaskBytesPerRow, r->sourceMaskX + sx));
            if (r->sourceAlpha && r->resultAlpha)
                r->resultAlpha[int64_t(y) * r->resultAlphaBytesPerRow + x] =
                    r->sourceAlpha[int64_t(sy) * r->sourceAlphaBytesPerRow + sx];
        }
}
}

extern "C" {

void qxTransformBox(const double m[4], int32_t width, int32_t height, int32_t *outWidth, int32_t *outHeight,
                    double *minX, double *minY)
{
    const double cx[4] = {0, double(width), double(width), 0}, cy[4] = {0, 0, double(height), double(height)};
    double x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    for (int k = 0; k < 4; ++k) {
        double X = std::trunc(cx[k] + 0.5), Y = std::trunc(cy[k] + 0.5);
        double px = m[0] * X + m[2] * Y, py = m[1] * X + m[3] * Y;
        if (k == 0 || px < x0) x0 = px;
        if (k == 0 || px > x1) x1 = px;
        if (k == 0 || py < y0) y0 = py;
        if (k == 0 || py > y1) y1 = py;
    }
    auto size = [](double v) {
        double c = std::ceil(v - 0.5);
        return !(c > -1e9) ? int32_t(-1000000000) : c > 1e9 ? int32_t(1000000000) : int32_t(c);
    };
    if (outWidth) *outWidth = size(x1 - x0);
    if (outHeight) *outHeight = size(y1 - y0);
    if (minX) *minX = x0;
    if (minY) *minY = y0;
}

int qxAffineUsable(const double m[6])
{
    for (int i = 0; i < 6; ++i)
        if (!std::isfinite(m[i])) return 0;
    double det = m[0] * m[3] - m[2] * m[1];
    return det != 0 && std::isfinite(det) && std::isfinite(1 / det);
}

void qxAffinePixels(const qxResampleRecord *r)
{
    if (!r || r->width < 1 || r->height < 1 || r->resultWidth < 1 || r->resultHeight < 1 || !qxAffineUsable(r->matrix))
        return;
    const double *m = r->matrix;
    const int32_t W = r->width, H = r->height, bpp = int32_t(r->bytesPerPixel);
    double bx0 = 0, bx1 = 0, by0 = 0, by1 = 0;
    const double cx[4] = {0, double(W), 0, double(W)}, cy[4] = {0, 0, double(H), double(H)};
    for (int k = 0; k < 4; ++k) {
        double px = m[0] * cx[k] + m[2] * cy[k] + m[4], py = m[1] * cx[k] + m[3] * cy[k] + m[5];
        if (k == 0 || px < bx0) bx0 = px;
        if (k == 0 || px > bx1) bx1 = px;
        if (k == 0 || py < by0) by0 = py;
        if (k == 0 || py > by1) by1 = py;
    }
    double det = m[0] * m[3] - m[2] * m[1];
    double i0 = m[3] / det, i2 = -m[2] / det, i1 = -m[1] / det, i3 = m[0] / det;
    double i4 = -(i0 * m[4] + i2 * m[5]), i5 = -(i1 * m[4] + i3 * m[5]);
    double rowFirst = std::max(0.0, std::ceil(by0 - 0.5)), rowLast = std::min(double(r->resultHeight - 1), std::floor(by1 + 0.5));
    auto *src = static_cast<const uint8_t *>(r->source);
    auto *dst = static_cast<uint8_t *>(r->result);
    bool colour = src && dst && (bpp == 2 || bpp == 3 || bpp == 4);
    for (double jy = rowFirst; jy <= rowLast; ++jy) {
        int32_t j = int32_t(jy);
        double Y = j + 0.5, lo = std::max(bx0, 0.0), hi = std::min(bx1, double(r->resultWidth));
        if (!narrow(i0, i2 * Y + i4, W, lo, hi) || !narrow(i1, i3 * Y + i5, H, lo, hi)) continue;
        double first = std::max(0.0, std::ceil(lo - 0.5)), last = std::min(double(r->resultWidth - 1), std::floor(hi - 0.5));
        for (double ix = first; ix <= last; ++ix) {
            int32_t i = int32_t(ix);
            double X = i + 0.5, sx = i0 * X + i2 * Y + i4, sy = i1 * X + i3 * Y + i5;
            int32_t x0 = std::clamp(int32_t(std::clamp(sx, 0.0, double(W - 1))), 0, W - 1);
            int32_t y0 = std::clamp(int32_t(std::clamp(sy, 0.0, double(H - 1))), 0, H - 1);
            uint8_t *dp = dst ? dst + (int64_t(j) * r->resultPitch + i) * bpp : nullptr;
            uint8_t *dm = r->resultMask ? r->resultMask + int64_t(j) * r->resultMaskBytesPerRow + (i >> 3) : nullptr;
            uint8_t *da = r->resultAlpha ? r->resultAlpha + int64_t(j) * r->resultAlphaBytesPerRow + i : nullptr;
            const uint8_t bit = uint8_t(0x80 >> (i & 7));
            auto maskAt = [&](int32_t x, int32_t y) {
                return getBit(r->sourceMask + int64_t(y) * r->sourceMaskBytesPerRow, r->sourceMaskX + x);
            };
            auto alphaAt = [&](int32_t x, int32_t y) { return r->sourceAlpha[int64_t(y) * r->sourceAlphaBytesPerRow + x]; };
            if (!r->smooth) {
                if (colour) std::memcpy(dp, src + (int64_t(y0) * r->sourcePitch + x0) * bpp, size_t(bpp));
                if (da) *da = r->sourceAlpha ? alphaAt(x0, y0) : 255;
                if (dm) {
                    bool on = r->sourceMask ? maskAt(x0, y0) : true;
                    *dm = on ? uint8_t(*dm | bit) : uint8_t(*dm & ~bit);
                }
                continue;
            }
            double fx = std::clamp(sx, 0.0, double(W)) - x0, fy = std::clamp(sy, 0.0, double(H)) - y0;
            int32_t x1 = std::min(x0 + 1, W - 1), y1 = std::min(y0 + 1, H - 1);
            int32_t nx[4] = {x0, x1, x0, x1}, ny[4] = {y0, y0, y1, y1};
            bool visible = true;
            if (r->sourceMask) {
                int first = -1;
                for (int k = 0; k < 4 && first < 0; ++k)
                    if (maskAt(nx[k], ny[k])) first = k;
                visible = first >= 0;
                for (int k = 0; k < 4 && visible; ++k)
                    if (!maskAt(nx[k], ny[k])) nx[k] = nx[first], ny[k] = ny[first];
            }
            if (dm) *dm = visible ? uint8_t(*dm | bit) : uint8_t(*dm & ~bit);
            if (colour) {
                int32_t c[4][4] = {};
                for (int k = 0; k < 4; ++k) qxUnpackPixel(src + (int64_t(ny[k]) * r->sourcePitch + nx[k]) * bpp, r->layout, c[k]);
                int32_t out[4];
                for (int ch = 0; ch < 4; ++ch) {
                    double top = c[0][ch] + (c[1][ch] - c[0][ch]) * fx, bottom = c[2][ch] + (c[3][ch] - c[2][ch]) * fx;
                    out[ch] = int32_t(top + (bottom - top) * fy);
                }
                qxPackPixel(dp, r->layout, out);
            }
            if (da) {
                if (r->sourceAlpha) {
                    double a[4];
                    for (int k = 0; k < 4; ++k) a[k] = alphaAt(nx[k], ny[k]);
                    double top = a[0] + (a[1] - a[0]) * fx, bottom = a[2] + (a[3] - a[2]) * fx;
                    *da = uint8_t(int32_t(top + (bottom - top) * fy));
                } else *da = 255;
            }
        }
    }
}
}
