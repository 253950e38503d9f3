// Operations on alpha channels and masks, and conversions between bitmaps
// and 32-bit ARGB arrays.
#include "display/qx_bitmapplanes.h"

#include <algorithm>
#include <cstring>

#include "core/errors/qx_errors.h"
#include "display/qx_bitmapdraw.h"
#include "imaging/qx_blit.h"
#include "platform/qx_memory.h"

namespace {

// Cuts the two rectangles of a plane-to-plane operation.
bool clipPair(const qxPlane &s, int32_t &sx, int32_t &sy, const qxPlane &d, int32_t &dx, int32_t &dy, int32_t &w,
              int32_t &h)
{
    if (!s.bytes || !d.bytes) return false;
    return qxClipBltRect(nullptr, &sx, &sy, &dx, &dy, &w, &h, s.width, s.height, d.width, d.height, 0);
}

void maskOp(uint8_t *row, int64_t x, int32_t mode, bool src)
{
    switch (mode) {
    case 0: case 5: if (src) qxSetMaskBit(row, x, true); break;
    case 1: if (src) qxSetMaskBit(row, x, false); break;
    case 2: qxSetMaskBit(row, x, src); break;
    case 3: if (src) qxSetMaskBit(row, x, !qxMaskBit(row, x)); break;
    case 4: if (!src) qxSetMaskBit(row, x, false); break;
    default: break;
    }
}

uint32_t *allocArgb(int32_t w, int32_t h)
{
    size_t n;
    if (w < 1 || h < 1 || !qxMulSize(size_t(w) * size_t(h), 4, &n)) return nullptr;
    return static_cast<uint32_t *>(qxAlloc(n, 0));
}

// A hardware brush selected as mask or alpha target stands in the plane's
// place with its video bitmap: the adapter fills that plane (RectFill is
// told so and takes the plane value unconverted).
bool fillHardwarePlane(qxBitMap *plane, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t value)
{
    if (!plane || plane->kind != QX_BITMAP_PIXELS || !plane->video) return false;
    qxRectFill(plane, x, y, w, h, value);
    return true;
}

} // namespace

extern "C" {

qxPlane qxPlaneOf(qxBitMap *h)
{
    qxPlane p{};
    if (!h || h->kind == QX_BITMAP_PIXELS) return p;
    const bool alpha = h->kind == QX_BITMAP_ALPHA;
    p.bytes = reinterpret_cast<uint8_t *>(uintptr_t(qxGetBitMapAttr(h, alpha ? 3 : 4)));
    p.bytesPerRow = int32_t(std::min<uint64_t>(qxGetBitMapAttr(h, alpha ? 1 : 2), INT32_MAX));
    int64_t rowPixels = int64_t(p.bytesPerRow) * (alpha ? 1 : 8);
    p.width = int32_t(std::min<int64_t>(h->width, rowPixels));
    p.height = int32_t(std::min<uint64_t>(h->height, INT32_MAX));
    return p;
}

int qxClipToSize(int32_t *x, int32_t *y, int32_t *w, int32_t *h, int32_t width, int32_t height)
{
    qxClipRect c{0, 0, width, height};
    return qxClipRectToBounds(&c, x, y, w, h, nullptr, nullptr);
}

void qxBltAlpha(qxBitMap *source, int32_t sx, int32_t sy, qxBitMap *dest, int32_t dx, int32_t dy, int32_t w,
                int32_t h, int32_t mode, uint32_t value)
{
    qxPlane s = qxPlaneOf(source), d = qxPlaneOf(dest);
    if (!clipPair(s, sx, sy, d, dx, dy, w, h)) return;
    qxAlphaBlitRecord r{s.bytes, sx, sy, d.bytes, dx, dy, w, h, s.bytesPerRow, d.bytesPerRow, mode, value};
    qxBlitPixels(&r);
}

void qxBltClipped(qxBitMap *source, int32_t sx, int32_t sy, qxBitMap *dest, int32_t dx, int32_t dy, int32_t w,
                  int32_t h, int32_t mode, uint32_t value)
{
    qxBltAlpha(source, sx, sy, dest, dx, dy, w, h, mode, value);
}

void qxFillBitMapRect(qxBitMap *alpha, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t value)
{
    if (fillHardwarePlane(alpha, x, y, w, h, value)) return;
    qxPlane p = qxPlaneOf(alpha);
    if (!p.bytes || !qxClipToSize(&x, &y, &w, &h, p.width, p.height)) return;
    qxPlaneRef ref{p.bytes, x, y, p.bytesPerRow};
    qxFillBytePlane(&ref, w, h, value);
}

void qxScaleAlpha(qxBitMap *source, qxBitMap *dest, int32_t height, uint32_t factor)
{
    qxPlane s = qxPlaneOf(source), d = qxPlaneOf(dest);
    if (!s.bytes || !d.bytes) return;
    int32_t rows = std::min({height, s.height, d.height});
    int32_t bytes = std::min(s.bytesPerRow, d.bytesPerRow);
    for (int32_t y = 0; y < rows; ++y) {
        const uint8_t *a = s.bytes + int64_t(y) * s.bytesPerRow;
        uint8_t *b = d.bytes + int64_t(y) * d.bytesPerRow;
        for (int32_t x = 0; x < bytes; ++x) b[x] = uint8_t(a[x] * (factor & 0xFF) / 255);
    }
}

void qxMaskToAlpha(qxBitMap *mask, int32_t mx, int32_t my, qxBitMap *alpha, int32_t ax, int32_t ay, int32_t w,
                   int32_t h, uint32_t value)
{
    qxPlane m = qxPlaneOf(mask), a = qxPlaneOf(alpha);
    if (!clipPair(m, mx, my, a, ax, ay, w, h)) return;
    qxPlaneRef ar{a.bytes, ax, ay, a.bytesPerRow}, mr{m.bytes, mx, my, m.bytesPerRow};
    qxFillBytePlane(&ar, w, h, 0);
    qxExpandMaskBits(&mr, &ar, w, h, value);
}

void qxBltMask(qxBitMap *mask, int32_t mx, int32_t my, qxBitMap *alpha, int32_t ax, int32_t ay, int32_t w, int32_t h,
               uint32_t value)
{
    qxPlane m = qxPlaneOf(mask), a = qxPlaneOf(alpha);
    if (!clipPair(m, mx, my, a, ax, ay, w, h)) return;
    qxPlaneRef ar{a.bytes, ax, ay, a.bytesPerRow}, mr{m.bytes, mx, my, m.bytesPerRow};
    qxExpandMaskBits(&mr, &ar, w, h, value);
}

void qxAlphaToMask(qxBitMap *alpha, int32_t ax, int32_t ay, qxBitMap *mask, int32_t mx, int32_t my, int32_t w,
                   int32_t h, int32_t mode)
{
    qxPlane a = qxPlaneOf(alpha), m = qxPlaneOf(mask);
    if (!clipPair(a, ax, ay, m, mx, my, w, h)) return;
    qxPlaneRef ar{a.bytes, ax, ay, a.bytesPerRow}, mr{m.bytes, mx, my, m.bytesPerRow};
    qxAlphaToMaskBits(&ar, &mr, w, h, mode);
}

void qxMaskCopyOp(qxBitMap *source, int32_t sx, int32_t sy, qxBitMap *dest, int32_t dx, int32_t dy, int32_t w,
                  int32_t h, int32_t mode, const uint8_t *plane, int32_t planeRowSize)
{
    if (mode < 0 || mode > 5) return;
    qxPlane s = qxPlaneOf(source), d = qxPlaneOf(dest);
    if (plane) {
        s.bytes = const_cast<uint8_t *>(plane), s.bytesPerRow = planeRowSize;
        if (!source) s.width = int32_t(std::min<int64_t>(int64_t(planeRowSize) * 8, INT32_MAX)), s.height = INT32_MAX;
    }
    if (!clipPair(s, sx, sy, d, dx, dy, w, h)) return;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t *a = s.bytes + int64_t(sy + y) * s.bytesPerRow;
        uint8_t *b = d.bytes + int64_t(dy + y) * d.bytesPerRow;
        for (int32_t x = 0; x < w; ++x) maskOp(b, int64_t(dx) + x, mode, qxMaskBit(a, int64_t(sx) + x));
    }
}

void qxMaskRowOp(qxBitMap *mask, int32_t x, int32_t y, int32_t w, int32_t h, int32_t mode)
{
    // Set and clear reach a hardware mask target as an opaque or clear fill.
    if ((mode == 0 || mode == 1 || mode == 2 || mode == 5) && fillHardwarePlane(mask, x, y, w, h, mode == 1 ? 0 : 255))
        return;
    qxPlane m = qxPlaneOf(mask);
    if (!m.bytes || mode == 4 || mode < 0 || mode > 5 || !qxClipToSize(&x, &y, &w, &h, m.width, m.height)) return;
    for (int32_t j = 0; j < h; ++j) {
        uint8_t *row = m.bytes + int64_t(y + j) * m.bytesPerRow;
        int32_t i = 0;
        for (; i < w && ((x + i) & 7); ++i) maskOp(row, int64_t(x) + i, mode, true);
        // Whole bytes at once.
        uint8_t *b = row + ((int64_t(x) + i) >> 3);
        const size_t bytes = size_t(w - i) >> 3;
        if (mode == 3) std::transform(b, b + bytes, b, [](uint8_t v) { return uint8_t(~v); });
        else std::memset(b, mode == 1 ? 0 : 0xFF, bytes);
        for (i += int32_t(bytes * 8); i < w; ++i) maskOp(row, int64_t(x) + i, mode, true);
    }
}

int qxNormaliseClipMask(int32_t *x, int32_t *y, int32_t *w, int32_t *h, qxBitMap **mask, int copyAlways, int freeOld)
{
    if (!x || !y || !w || !h || !mask || !*mask) return 0;
    int32_t cutX = *x < 0 ? -*x : 0, cutY = *y < 0 ? -*y : 0;
    if (!cutX && !cutY && !copyAlways) return 0;
    int32_t nw = std::max(*w - cutX, 0), nh = std::max(*h - cutY, 0);
    qxBitMap *old = *mask;
    qxBitMap *fresh = qxAllocMaskBitMap(nullptr, uint32_t(std::max(nw, 1)), uint32_t(std::max(nh, 1)), 1, nullptr, 0);
    if (!fresh) return ERR_ALLOCMASK;
    qxMaskCopyOp(old, cutX, cutY, fresh, 0, 0, nw, nh, 2, nullptr, 0);
    if (freeOld) qxFreeMaskBitMap(old);
    *mask = fresh;
    *x += cutX, *y += cutY, *w = nw, *h = nh;
    return 0;
}

void qxARGBToBitMap(const uint32_t *pixels, int32_t x, int32_t y, int32_t bytesPerRow, qxBitMap *bm, int32_t dx,
                    int32_t dy, int32_t w, int32_t h)
{
    if (!pixels || !bm || w < 1 || h < 1) return;
    qxBitMapLock l;
    if (!qxLockBitMap(bm, 0, &l)) return;
    int32_t sx = x, sy = y;
    if (qxClipBltRect(nullptr, &sx, &sy, &dx, &dy, &w, &h, INT32_MAX, INT32_MAX, int32_t(l.width), int32_t(l.height),
                      0)) {
        qxConvertRecord r{pixels, l.pixels, sx, sy, dx, dy, w, h, bytesPerRow / 4, int32_t(l.pixelsPerRow),
                          l.pixelFormat};
        if (l.bytesPerPixel == 4) qxConvertPixels32(&r);
        else if (l.bytesPerPixel == 2) qxConvertPixels16(&r);
    }
    qxUnLockBitMap(&l);
}

int qxBitMapFromARGB(const uint32_t *pixels, uint32_t transparent, int32_t width, int32_t height,
                     int32_t pixelsPerRow, int, uint32_t flags, void *, qxBitMap **bitmap, qxBitMap **mask,
                     qxBitMap **alpha)
{
    if (!pixels || !bitmap || width < 1 || height < 1) return ERR_BITMAP;
    // Image plug-ins that make bitmaps themselves come with the picture layer.
    qxBitMap *bm = qxAllocBitMap(uint32_t(width), uint32_t(height), 0, nullptr);
    if (!bm) return ERR_BITMAP;
    qxARGBToBitMap(pixels, 0, 0, pixelsPerRow * 4, bm, 0, 0, width, height);
    qxBitMap *m = nullptr, *a = nullptr;
    if (transparent != 0xFFFFFFFFu && mask) {
        if (!(m = qxAllocMaskBitMap(bm, uint32_t(width), uint32_t(height), 1, nullptr, 0))) {
            qxFreeBitMap(bm);
            return ERR_ALLOCMASK;
        }
        qxPlane p = qxPlaneOf(m);
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                qxSetMaskBit(p.bytes + int64_t(y) * p.bytesPerRow, x,
                             ((pixels[int64_t(y) * pixelsPerRow + x] ^ transparent) & 0xFFFFFF) != 0);
    }
    if ((flags & 8) && alpha) {
        if (!(a = qxAlphaFromBuffer(pixels, uint32_t(width), uint32_t(height), uint32_t(pixelsPerRow)))) {
            qxFreeMaskBitMap(m);
            qxFreeBitMap(bm);
            return ERR_ALLOCALPHA;
        }
    }
    *bitmap = bm;
    if (mask) *mask = m;
    if (alpha) *alpha = a;
    return 0;
}

uint32_t *qxBitMapToARGB(qxBitMap *bm, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t lockFlags)
{
    if (!bm) return nullptr;
    uint32_t *out = allocArgb(w, h);
    if (!out) return nullptr;
    qxBitMapLock l;
    if (!qxLockBitMap(bm, (lockFlags & ~2u) | 1, &l)) {
        qxFree(out);
        return nullptr;
    }
    // Pixels outside the bitmap read as 0.
    std::memset(out, 0, size_t(w) * size_t(h) * 4);
    int32_t cx = x, cy = y, cw = w, ch = h;
    if (qxClipToSize(&cx, &cy, &cw, &ch, int32_t(l.width), int32_t(l.height))) {
        uint32_t *dst = out + int64_t(cy - y) * w + (cx - x);
        uint32_t f = l.pixelFormat;
        if ((f == 4 && l.bytesPerPixel == 2) || (f >= 10 && f <= 13 && l.bytesPerPixel == 4)) {
            for (int32_t j = 0; j < ch; ++j) {
                int32_t rect[4] = {cx, cy + j, cw, 1};
                qxExpandToArgb(l.pixels, dst + int64_t(j) * w, rect, int32_t(l.pixelsPerRow), l.bytesPerPixel, f);
            }
        } else {
            for (int32_t j = 0; j < ch; ++j)
                for (int32_t i = 0; i < cw; ++i) dst[int64_t(j) * w + i] = qxReadPixelRGB(&l, cx + i, cy + j);
        }
    }
    qxUnLockBitMap(&l);
    return out;
}

uint32_t *qxBitMapToARGBMasked(qxBitMap *bm, int32_t x, int32_t y, int32_t w, int32_t h, qxBitMap *mask,
                               qxBitMap *alpha, uint32_t transparent, int maskToAlpha, uint32_t lockFlags)
{
    uint32_t *out = qxBitMapToARGB(bm, x, y, w, h, lockFlags);
    if (!out) return nullptr;
    qxPlane m = qxPlaneOf(mask), a = qxPlaneOf(alpha);
    const bool haveT = transparent != 0xFFFFFFFFu;
    for (int32_t j = 0; j < h; ++j)
        for (int32_t i = 0; i < w; ++i) {
            uint32_t &p = out[int64_t(j) * w + i];
            int64_t px = int64_t(x) + i, py = int64_t(y) + j;
            if (m.bytes && (maskToAlpha || haveT)) {
                bool on = px >= 0 && py >= 0 && px < m.width && py < m.height &&
                          qxMaskBit(m.bytes + py * m.bytesPerRow, px);
                if (maskToAlpha) p = (p & 0xFFFFFF) | (on ? 0xFF000000u : 0);
                else if (!on) p = transparent;
            }
            if (a.bytes) {
                uint32_t v = px >= 0 && py >= 0 && px < a.width && py < a.height ? a.bytes[py * a.bytesPerRow + px] : 0;
                p = (p & 0xFFFFFF) | v << 24;
                if (!v && haveT) p |= transparent & 0xFFFFFF;
            } else if (!m.bytes) {
                p |= 0xFF000000u;
            }
        }
    return out;
}

uint32_t *qxBitMapToARGBWithPlanes(qxBitMap *bm, qxBitMap *mask, qxBitMap *alpha, int32_t w, int32_t h)
{
    if (alpha) return qxBitMapToARGBMasked(bm, 0, 0, w, h, nullptr, alpha, 0xFFFFFFFFu, 0, 0);
    if (mask) return qxBitMapToARGBMasked(bm, 0, 0, w, h, mask, nullptr, 0xFFFFFFFFu, 1, 0);
    return qxBitMapToARGBMasked(bm, 0, 0, w, h, nullptr, nullptr, 0xFFFFFFFFu, 0, 0);
}
}
