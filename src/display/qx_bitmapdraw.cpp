// Fills, pixels, lines, tiles, gradients and colour through coverage on
// bitmap handles. Every rectangle is cut to the planes it touches.
#include "display/qx_bitmapdraw.h"

#include <algorithm>
#include <cstdio>

#include "core/plugins/qx_pluginapi.h"
#include "core/plugins/qx_plugins.h"
#include "display/qx_bitmapplanes.h"
#include "imaging/qx_coloreffects.h"
#include "imaging/qx_blit.h"
#include "imaging/qx_lines.h"

namespace {

// The adapter road of a pixel operation: 0 none, else the flags to pass.
uint32_t adapterRoad(qxBitMap *bm, uint32_t drawFlag)
{
    if (bm->video && qxGetBitMapAttr(bm, 22) == 0) {
        uint32_t f = 2;
        if (qxBitMapDisplay.selectTargetFlags && (qxBitMapDisplay.selectTargetFlags(bm, 1) & 4)) f |= 4;
        return f;
    }
    if (qxDisplayAdapter && (qxAdapterInfo.drawFlags & drawFlag)) return 1;
    return 0;
}

uint32_t adapterColour(uint32_t colour, uint32_t flags) { return flags & 4 ? colour : qxAdapterColor(colour, 0); }

} // namespace

extern "C" {

uint32_t qxAdapterColor(uint32_t colour, int force)
{
    if (!force && (!qxDisplayAdapter || !(qxAdapterFlags() & QX_ADAPTER_INVERTALPHA))) return colour;
    uint32_t a = colour >> 24;
    return (a ? 255 - a : 255) << 24 | (colour & 0xFFFFFF);
}

void qxSoftRectFill(void *pixels, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour, uint32_t opacity,
                    int32_t pitch, uint32_t format)
{
    uint32_t bpp = qxBytesPerPixel(format);
    if (!pixels || w < 1 || h < 1 || (bpp != 2 && bpp != 4)) return;
    if (opacity >= 255) {
        qxBlitRecord r{nullptr, pixels, 0, 0, x, y, w, h, 0, pitch, nullptr, 0, qxColorToPixel(colour, format, 0)};
        if (bpp == 4) qxFillRect32(&r);
        else qxFillRect16(&r);
        return;
    }
    qxTintRecord r{pixels, x, y, w, h, bpp == 4 ? colour & 0xFFFFFF : qxColorToPixel(colour, 4, 0), int32_t(opacity),
                   pitch, format};
    if (bpp == 4) qxTintRect32(&r);
    else qxTintRect16(&r);
}

void qxRectFill(qxBitMap *bm, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour)
{
    if (!bm || w < 1 || h < 1) return;
    if (uint32_t f = adapterRoad(bm, QX_DRAW_RECTFILL)) {
        auto fn = reinterpret_cast<qxAdapterRectFillFn>(qxAdapterEntry(QX_EP_RectFill));
        if (fn) fn(bm->data, x, y, w, h, adapterColour(colour, f), f, nullptr);
        return;
    }
    qxBitMapLock l;
    if (!qxLockBitMap(bm, 0, &l)) return;
    if (qxClipToSize(&x, &y, &w, &h, int32_t(l.width), int32_t(l.height)))
        qxSoftRectFill(l.pixels, x, y, w, h, colour, 255, int32_t(l.pixelsPerRow), l.pixelFormat);
    qxUnLockBitMap(&l);
}

void qxWritePixel(qxBitMap *bm, int32_t x, int32_t y, uint32_t colour, int isMask)
{
    if (!bm) return;
    if (isMask) {
        qxMaskRowOp(bm, x, y, 1, 1, int32_t(colour));
        return;
    }
    if (uint32_t f = adapterRoad(bm, QX_DRAW_PIXEL)) {
        auto fn = reinterpret_cast<qxAdapterWritePixelFn>(qxAdapterEntry(QX_EP_WritePixel));
        if (fn) fn(bm->data, x, y, adapterColour(colour, f), f, nullptr);
        return;
    }
    qxBitMapLock l;
    if (!qxLockBitMap(bm, 0, &l)) return;
    if (x >= 0 && y >= 0 && uint32_t(x) < l.width && uint32_t(y) < l.height) {
        uint32_t v = qxColorToPixel(colour, l.pixelFormat, 0);
        uint8_t *p = static_cast<uint8_t *>(l.pixels) + (int64_t(y) * l.pixelsPerRow + x) * l.bytesPerPixel;
        switch (l.bytesPerPixel) {
        case 4: *reinterpret_cast<uint32_t *>(p) = v; break;
        case 2: *reinterpret_cast<uint16_t *>(p) = uint16_t(v); break;
        case 3: p[0] = uint8_t(v >> 16), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v); break;
        default: break;
        }
    }
    qxUnLockBitMap(&l);
}

void qxDrawLine(qxBitMap *bm, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour)
{
    if (!bm) return;
    if (uint32_t f = adapterRoad(bm, QX_DRAW_LINE)) {
        auto fn = reinterpret_cast<qxAdapterLineFn>(qxAdapterEntry(QX_EP_Line));
        if (fn) fn(bm->data, x1, y1, x2, y2, adapterColour(colour, f), f, nullptr);
        return;
    }
    qxBitMapLock l;
    if (!qxLockBitMap(bm, 0, &l)) return;
    qxSoftDrawLine(l.pixels, x1, y1, x2, y2, colour, 255, l.pixelFormat, int32_t(l.pixelsPerRow), int32_t(l.width),
                   int32_t(l.height));
    qxUnLockBitMap(&l);
}

uint32_t qxReadPixelRGB(const qxBitMapLock *l, int32_t x, int32_t y)
{
    if (!l || !l->pixels || x < 0 || y < 0 || (l->width && (uint32_t(x) >= l->width || uint32_t(y) >= l->height)))
        return 0;
    const uint8_t *p = static_cast<const uint8_t *>(l->pixels) + (int64_t(y) * l->pixelsPerRow + x) * l->bytesPerPixel;
    uint32_t v;
    switch (l->bytesPerPixel) {
    case 4: v = *reinterpret_cast<const uint32_t *>(p); break;
    case 2: v = *reinterpret_cast<const uint16_t *>(p); break;
    case 3: v = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; break;
    default: return 0;
    }
    return qxPixelToColor(v, l->pixelFormat, 0);
}

uint32_t qxReadMaskPixel(qxBitMap *bm, int32_t x, int32_t y, int isMask)
{
    if (!bm) return 0;
    // An alpha plane is read as its byte, not locked as a colour bitmap.
    if (isMask || bm->kind == QX_BITMAP_ALPHA) {
        qxPlane m = qxPlaneOf(bm);
        if (!m.bytes || x < 0 || y < 0 || x >= m.width || y >= m.height) return 0;
        if (bm->kind == QX_BITMAP_ALPHA) return m.bytes[int64_t(y) * m.bytesPerRow + x];
        return qxMaskBit(m.bytes + int64_t(y) * m.bytesPerRow, x);
    }
    qxBitMapLock l;
    if (!qxLockBitMap(bm, 1, &l)) return 0;
    uint32_t c = qxReadPixelRGB(&l, x, y);
    qxUnLockBitMap(&l);
    return c;
}

void qxTileFill(void *target, int32_t x, int32_t y, int32_t w, int32_t h, void *tile, int32_t ox, int32_t oy,
                int32_t tw, int32_t th, int raw, int32_t rawPitch)
{
    if (!target || !tile || w < 1 || h < 1 || tw < 1 || th < 1) return;
    ox %= tw, oy %= th;
    if (ox < 0) ox += tw;
    if (oy < 0) oy += th;
    for (int64_t py = 0, ty = oy; py < h; py += th - ty, ty = 0) {
        int32_t ph = int32_t(std::min<int64_t>(th - ty, h - py));
        for (int64_t px = 0, tx = ox; px < w; px += tw - tx, tx = 0) {
            int32_t pw = int32_t(std::min<int64_t>(tw - tx, w - px));
            if (raw)
                qxBltSimplePixels(tile, int32_t(tx), int32_t(ty), tw, target, int32_t(x + px), int32_t(y + py),
                                  rawPitch, pw, ph, 4);
            else
                qxBltBitMapDirect(static_cast<qxBitMap *>(tile), int32_t(tx), int32_t(ty),
                                  static_cast<qxBitMap *>(target), int32_t(x + px), int32_t(y + py), pw, ph);
        }
    }
}

void DrawGradient(qxBitMap *bm, int32_t x, int32_t y, int32_t w, int32_t h, const qxGradient *gradient)
{
    if (!bm) {
        std::fputs("ERROR! DRAWGRADIENT() CALLED WITH DST=NULL!\n", stdout);
        std::fflush(stdout);
        return;
    }
    qxBitMapLock l;
    if (!gradient || !qxLockBitMap(bm, 0, &l)) return;
    if (qxClipToSize(&x, &y, &w, &h, int32_t(l.width), int32_t(l.height))) {
        qxGradientRender r{l.pixels, l.bytesPerPixel, l.pixelFormat, x, y, w, h, int32_t(l.pixelsPerRow), gradient};
        qxDrawGradient(&r);
    }
    qxUnLockBitMap(&l);
}

void BltAlphaChannel(qxBitMap *coverage, int32_t sx, int32_t sy, qxBitMap *dest, int32_t dx, int32_t dy, int32_t w,
                     int32_t h, uint32_t colour, int32_t mode, qxBitMap *destAlpha, uint32_t factor,
                     const uint16_t *coverage16, int32_t coverage16Pitch, qxBitMap *texture, const uint8_t *plane,
                     int32_t planeRowSize)
{
    if (!dest) {
        std::fputs("ERROR! BLTALPHACHANNEL() CALLED WITH DST=NULL!\n", stdout);
        std::fflush(stdout);
        return;
    }
    if (w < 1 || h < 1) return;
    if (mode == 1 && !destAlpha && !coverage16 && !texture && (qxAdapterFlags() & QX_ADAPTER_VIDEOBITMAPS) &&
        qxPlatformHasCap(1))
        return;
    qxPlane cov = qxPlaneOf(coverage);
    if (plane) cov.bytes = const_cast<uint8_t *>(plane), cov.bytesPerRow = planeRowSize;
    if (mode != 3 && !cov.bytes) return;
    qxPlane da = qxPlaneOf(destAlpha);
    qxBitMapLock d, t{};
    if (!qxLockBitMap(dest, 0, &d)) return;
    if (texture && !qxLockBitMap(texture, 1, &t)) {
        qxUnLockBitMap(&d);
        return;
    }
    // Cut to the destination (and its alpha plane and texture).
    int32_t dw = int32_t(d.width), dh = int32_t(d.height);
    if (da.bytes) dw = std::min(dw, da.width), dh = std::min(dh, da.height);
    if (texture) dw = std::min<int32_t>(dw, int32_t(t.width)), dh = std::min<int32_t>(dh, int32_t(t.height));
    int32_t cw = mode == 3 ? INT32_MAX : cov.width, ch = mode == 3 ? INT32_MAX : cov.height;
    if (plane && coverage == nullptr) cw = ch = INT32_MAX;
    if (qxClipBltRect(nullptr, &sx, &sy, &dx, &dy, &w, &h, cw, ch, dw, dh, 0) &&
        (!texture || t.bytesPerPixel == d.bytesPerPixel)) {
        qxAlphaChannelRecord r{cov.bytes, sx, sy, cov.bytesPerRow, coverage16, coverage16Pitch, d.pixels, dx, dy,
                               int32_t(d.pixelsPerRow), da.bytes, da.bytesPerRow, w, h,
                               qxColorToPixel(colour, d.pixelFormat, 0), factor & 0xFF,
                               texture ? t.pixels : nullptr, int32_t(t.pixelsPerRow), mode, d.pixelFormat};
        if (d.bytesPerPixel == 4) qxBltAlphaChannel32(&r);
        else if (d.bytesPerPixel == 2) qxBltAlphaChannel16(&r);
    }
    if (texture) qxUnLockBitMap(&t);
    qxUnLockBitMap(&d);
}

void qxBltAlphaChannelClipped(qxBitMap *coverage, int32_t sx, int32_t sy, qxBitMap *dest, int32_t dx, int32_t dy,
                              int32_t w, int32_t h, uint32_t colour, int32_t mode, qxBitMap *destAlpha,
                              uint32_t factor)
{
    if (!coverage || !dest) return;
    if (!qxClipBltRect(nullptr, &sx, &sy, &dx, &dy, &w, &h, int32_t(coverage->width), int32_t(coverage->height),
                       int32_t(dest->width), int32_t(dest->height), 0))
        return;
    BltAlphaChannel(coverage, sx, sy, dest, dx, dy, w, h, colour, mode, destAlpha, factor, nullptr, 0, nullptr,
                    nullptr, 0);
}

void qxBltTemplate(qxBitMap *templ, int32_t tx, int32_t ty, qxBitMap *dest, int32_t dx, int32_t dy, int32_t w,
                   int32_t h, uint32_t colour, const uint8_t *plane, int32_t planeRowSize)
{
    if (!dest || w < 1 || h < 1) return;
    qxPlane m = qxPlaneOf(templ);
    if (plane) m.bytes = const_cast<uint8_t *>(plane), m.bytesPerRow = planeRowSize;
    if (!m.bytes) return;
    if (plane && !templ) m.width = planeRowSize * 8, m.height = INT32_MAX;
    qxBitMapLock d;
    if (!qxLockBitMap(dest, 0, &d)) return;
    if (qxClipBltRect(nullptr, &tx, &ty, &dx, &dy, &w, &h, m.width, m.height, int32_t(d.width), int32_t(d.height),
                      0)) {
        qxBlitRecord r{nullptr, d.pixels, tx, ty, dx, dy, w, h, 0, int32_t(d.pixelsPerRow), m.bytes, m.bytesPerRow,
                       qxColorToPixel(colour, d.pixelFormat, 0)};
        if (d.bytesPerPixel == 4) qxFillThroughMask32(&r);
        else if (d.bytesPerPixel == 2) qxFillThroughMask16(&r);
    }
    qxUnLockBitMap(&d);
}
}
