// The plot function, anti-aliased and thick lines, and coverage masks.
#include "imaging/qx_lines.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "imaging/qx_blit.h"
#include "imaging/qx_pixelformat.h"

namespace {

inline uint32_t readPixel(const void *base, int32_t pitch, uint32_t bpp, int32_t x, int32_t y)
{
    int64_t i = int64_t(y) * pitch + x;
    return bpp == 4 ? static_cast<const uint32_t *>(base)[i] : static_cast<const uint16_t *>(base)[i];
}

inline void writePixel(void *base, int32_t pitch, uint32_t bpp, int32_t x, int32_t y, uint32_t v)
{
    int64_t i = int64_t(y) * pitch + x;
    if (bpp == 4) static_cast<uint32_t *>(base)[i] = v;
    else static_cast<uint16_t *>(base)[i] = uint16_t(v);
}

// Native 8-bit channels of a pixel in a layout.
inline void channels(uint32_t p, uint32_t bpp, uint32_t layout, int32_t &r, int32_t &g, int32_t &b)
{
    if (bpp == 4) {
        uint32_t n = qxFromLayout32(layout, p);
        r = int32_t((n >> 16) & 0xFF), g = int32_t((n >> 8) & 0xFF), b = int32_t(n & 0xFF);
    } else {
        uint32_t n = qxFromLayout16(layout, p);
        r = int32_t(qxRed16(n)), g = int32_t(qxGreen16(n)), b = int32_t(qxBlue16(n));
    }
}

} // namespace

extern "C" {

void qxPlotPixel(qxPlotRecord *r, int32_t x, int32_t y)
{
    if (!r || !r->pixels || (r->bytesPerPixel != 2 && r->bytesPerPixel != 4)) return;
    if (x < 0 || y < 0 || x >= r->width || y >= r->height) return;
    if (r->clip) {
        if (x < r->clipX || y < r->clipY || int64_t(x) >= int64_t(r->clipX) + r->clipWidth ||
            int64_t(y) >= int64_t(r->clipY) + r->clipHeight)
            return;
        if (r->clipMask &&
            !qxMaskBit(r->clipMask + int64_t(y - r->clipY) * r->clipMaskBytesPerRow, x - r->clipX))
            return;
    }
    const uint32_t bpp = r->bytesPerPixel;
    uint32_t colour = r->texture ? readPixel(r->texture, r->texturePitch, bpp, x, y) : r->penColour;
    int32_t pr = r->penRed, pg = r->penGreen, pb = r->penBlue;
    if (r->texture && r->currentAlpha != 255 && !r->alpha) channels(colour, bpp, r->layout, pr, pg, pb);
    if (r->currentAlpha == 255 || r->alpha) {
        writePixel(r->pixels, r->pitch, bpp, x, y, colour);
    } else {
        int32_t dr, dg, db, a = int32_t(r->currentAlpha);
        channels(readPixel(r->pixels, r->pitch, bpp, x, y), bpp, r->layout, dr, dg, db);
        uint32_t R = uint32_t(qxBlendChannel(pr, dr, a)) & 0xFF, G = uint32_t(qxBlendChannel(pg, dg, a)) & 0xFF,
                 B = uint32_t(qxBlendChannel(pb, db, a)) & 0xFF;
        uint32_t out = bpp == 4 ? qxToLayout32(r->layout, R << 16 | G << 8 | B)
                                : qxToLayout16(r->layout, qxPack16(R, G, B));
        writePixel(r->pixels, r->pitch, bpp, x, y, out);
    }
    if (r->mask && r->maskMode < 6) {
        uint8_t *row = r->mask + int64_t(y) * r->maskBytesPerRow;
        switch (r->maskMode) {
        case 1: qxSetMaskBit(row, x, false); break;
        case 3: qxSetMaskBit(row, x, !qxMaskBit(row, x)); break;
        case 4: break;
        default: qxSetMaskBit(row, x, true); break;
        }
    }
    if (r->alpha) r->alpha[int64_t(y) * r->alphaBytesPerRow + x] = uint8_t(r->currentAlpha);
}

void qxLinePoints(int32_t x0, int32_t y0, int32_t x1, int32_t y1, void (*point)(void *user, int64_t x, int64_t y),
                  void *user)
{
    const int64_t dx = std::llabs(int64_t(x1) - x0), dy = std::llabs(int64_t(y1) - y0);
    const bool steep = dx < dy;
    if (steep ? y1 < y0 : x1 < x0) std::swap(x0, x1), std::swap(y0, y1);
    int64_t x = x0, y = y0;
    point(user, x, y);
    if (steep) {
        int64_t sx = x1 > x0 ? 1 : -1, d = 2 * dx - dy;
        while (y < y1) {
            ++y;
            if (d >= 0) x += sx, d += 2 * (dx - dy);
            else d += 2 * dx;
            point(user, x, y);
        }
    } else {
        int64_t sy = y1 > y0 ? 1 : -1, d = 2 * dy - dx;
        while (x < x1) {
            ++x;
            if (d >= 0) y += sy, d += 2 * (dy - dx);
            else d += 2 * dy;
            point(user, x, y);
        }
    }
}

void qxThickLinePixels(qxPlotRecord *r, int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    if (!r) return;
    int64_t dx = std::llabs(int64_t(x1) - x0), dy = std::llabs(int64_t(y1) - y0);
    // A line whose box, widened by the pen, misses the plane plots nothing.
    int64_t pad = int64_t(std::abs(r->lineWidth)) * 2 + 2;
    if (std::max(x0, x1) + pad < 0 || std::min(x0, x1) - pad >= r->width || std::max(y0, y1) + pad < 0 ||
        std::min(y0, y1) - pad >= r->height)
        return;
    struct Pen {
        qxPlotRecord *r;
        bool steep;
        int64_t L, off;
    } pen{r, dx < dy, 1, 0};
    double ang = std::atan2(double(dy), double(dx));
    double div = pen.steep ? std::sin(ang) : std::cos(ang);
    pen.L = div != 0.0 ? int64_t(r->lineWidth / div) : 0;
    if (div == 0.0 || pen.L == 0) pen.L = 1;
    else pen.off = -(pen.L / 2);
    // Each centre pixel is widened across the line's minor axis.
    qxLinePoints(x0, y0, x1, y1, [](void *user, int64_t x, int64_t y) {
        const Pen &p = *static_cast<const Pen *>(user);
        for (int64_t k = 0; k < p.L; ++k) {
            int64_t px = p.steep ? x + p.off + k : x, py = p.steep ? y : y + p.off + k;
            if (px >= INT32_MIN && px <= INT32_MAX && py >= INT32_MIN && py <= INT32_MAX)
                qxPlotPixel(p.r, int32_t(px), int32_t(py));
        }
    }, &pen);
}

void qxPlotCoverageMask(const uint8_t *cov, int32_t x, int32_t y, qxPlotRecord *r, int32_t width, int32_t height,
                        int32_t row, int32_t mode)
{
    if (!cov || !r || width < 1 || height < 1) return;
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) {
            uint32_t c = cov[int64_t(j) * row + i];
            if (!c) continue;
            if (!mode) r->currentAlpha = r->penAlpha != 255 ? c * r->penAlpha / 255 : c;
            qxPlotPixel(r, x + i, y + j);
        }
}

void qxSoftDrawLine(void *pixels, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour, uint32_t opacity,
                    uint32_t format, int32_t pitch, int32_t width, int32_t height)
{
    uint32_t bpp = qxBytesPerPixel(format);
    if (!pixels || (bpp != 2 && bpp != 4)) return;
    qxPlotRecord r{};
    r.pixels = pixels, r.pitch = pitch, r.bytesPerPixel = bpp, r.lineWidth = 1, r.layout = format;
    r.penColour = qxColorToPixel(colour & 0xFFFFFF, format, 0);
    r.currentAlpha = r.penAlpha = opacity & 0xFF;
    r.penRed = int32_t((colour >> 16) & 0xFF), r.penGreen = int32_t((colour >> 8) & 0xFF),
    r.penBlue = int32_t(colour & 0xFF);
    r.maskMode = 6;
    r.width = width, r.height = height;
    qxThickLinePixels(&r, x1, y1, x2, y2);
}
}
