// Image copies, quarter and half turns and general transforms.
#include "display/qx_bitmaptransform.h"

#include <algorithm>
#include <cstring>

#include "core/errors/qx_errors.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapeffects.h"
#include "display/qx_bitmapplanes.h"
#include "display/qx_gfxgeom.h"
#include "imaging/qx_transform.h"

namespace {

// The seven reference matrices: scale 1 turned by 90, 180, 270, 360, -90,
// -180 and -270 degrees. A matrix is classified by its bytes.
struct References {
    double m[7][4];
    References()
    {
        const double angles[7] = {90, 180, 270, 360, -90, -180, -270};
        for (int i = 0; i < 7; ++i) qxSetupTransform(m[i], 0, 0, 0, 0, 1, 1, angles[i]);
    }
};

enum Road { COPY, HALF, QUARTER1, QUARTER2, GENERAL };

Road classify(const double matrix[4])
{
    static const References refs;
    auto is = [&](int i) { return std::memcmp(matrix, refs.m[i], sizeof refs.m[i]) == 0; };
    if (is(3)) return COPY;
    if (is(1) || is(5)) return HALF;
    if (is(0) || is(6)) return QUARTER1;
    if (is(2) || is(4)) return QUARTER2;
    return GENERAL;
}

void freeAll(qxBitMap *b, qxBitMap *m, qxBitMap *a) { qxFreeBitMap(b), qxFreeMaskBitMap(m), qxFreeAlphaBitMap(a); }

} // namespace

extern "C" {

int qxCopyImageRect(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t x, int32_t y, int32_t width,
                    int32_t height, uint32_t, uint32_t, uint32_t, uint32_t, qxBitMap **outBitmap, qxBitMap **outMask,
                    qxBitMap **outAlpha)
{
    if (width < 1 || height < 1) return ERR_BITMAP;
    qxBitMap *b = qxAllocBitMap(uint32_t(width), uint32_t(height), 0, nullptr), *m = nullptr, *a = nullptr;
    if (!b) return ERR_BITMAP;
    if (mask) {
        if (!(m = qxAllocMaskBitMap(b, uint32_t(width), uint32_t(height), 1, nullptr, 0))) {
            freeAll(b, m, a);
            return ERR_ALLOCMASK;
        }
        qxMaskCopyOp(mask, x, y, m, 0, 0, width, height, 2, nullptr, 0);
    }
    if (alpha) {
        if (!(a = qxAllocAlphaBitMap(uint32_t(width), uint32_t(height), 1, nullptr, 0))) {
            freeAll(b, m, a);
            return ERR_ALLOCALPHA;
        }
        qxBltAlpha(alpha, x, y, a, 0, 0, width, height, 0, 0);
    }
    if (bitmap) qxBltBitMapDirect(bitmap, x, y, b, 0, 0, width, height);
    if (outBitmap) *outBitmap = b;
    else qxFreeBitMap(b);
    if (outMask) *outMask = m;
    else qxFreeMaskBitMap(m);
    if (outAlpha) *outAlpha = a;
    else qxFreeAlphaBitMap(a);
    return 0;
}

int qxTransformPixels(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t x, int32_t y, int32_t width,
                      int32_t height, const double matrix[4], uint32_t smooth, uint32_t, qxBitMap **outBitmap,
                      qxBitMap **outMask, qxBitMap **outAlpha, int32_t *outWidth, int32_t *outHeight)
{
    if (!bitmap || !matrix) return ERR_LOCKBMAP;
    const double m6[6] = {matrix[0], matrix[1], matrix[2], matrix[3], 0, 0};
    if (!qxAffineUsable(m6)) return ERR_WRONGUSAGE;
    // Only the part of the rectangle inside the bitmap is transformed.
    if (!qxClipToSize(&x, &y, &width, &height, int32_t(std::min<uint32_t>(bitmap->width, INT32_MAX)),
                      int32_t(std::min<uint32_t>(bitmap->height, INT32_MAX))))
        return ERR_BITMAP;
    qxPlane sm = qxPlaneOf(mask), sa = qxPlaneOf(alpha);
    bool maskFits = sm.bytes && int64_t(x) + width <= sm.width && int64_t(y) + height <= sm.height;
    bool alphaFits = sa.bytes && int64_t(x) + width <= sa.width && int64_t(y) + height <= sa.height;
    int32_t bw = 0, bh = 0;
    double minX = 0, minY = 0;
    qxTransformBox(matrix, width, height, &bw, &bh, &minX, &minY);
    bw = std::max(bw, 1), bh = std::max(bh, 1);
    Road road = classify(matrix);
    qxBitMap *rb = nullptr, *rm = nullptr, *ra = nullptr;
    int32_t rw = width, rh = height;
    if (road == COPY || road == HALF) {
        if (int e = qxCopyImageRect(bitmap, maskFits ? mask : nullptr, alphaFits ? alpha : nullptr, x, y, width, height,
                                    0, 0, 0, 0, &rb, &rm, &ra))
            return e;
        if (road == HALF) {
            qxFlipBitmap(rb, rm, ra, width, height, 0);
            qxFlipBitmap(rb, rm, ra, width, height, 1);
        }
    } else {
        if (road == GENERAL) rw = bw, rh = bh;
        else rw = height, rh = width;
        if (!(rb = qxAllocBitMap(uint32_t(rw), uint32_t(rh), 0, nullptr))) return ERR_BITMAP;
        if (alpha) {
            if (!(ra = qxAllocAlphaBitMap(uint32_t(rw), uint32_t(rh), 1, nullptr, 0))) {
                freeAll(rb, rm, ra);
                return ERR_ALLOCALPHA;
            }
        } else if (road == GENERAL || mask) {
            if (!(rm = qxAllocMaskBitMap(rb, uint32_t(rw), uint32_t(rh), 1, nullptr, 0))) {
                freeAll(rb, rm, ra);
                return ERR_ALLOCMASK;
            }
        }
        qxBitMapLock s, d;
        if (!qxLockBitMap(bitmap, 1, &s)) {
            freeAll(rb, rm, ra);
            return ERR_LOCKBMAP;
        }
        if (!qxLockBitMap(rb, 0, &d)) {
            qxUnLockBitMap(&s);
            freeAll(rb, rm, ra);
            return ERR_LOCKBMAP;
        }
        qxResampleRecord r{};
        uint32_t bpp = s.bytesPerPixel;
        if (bpp == d.bytesPerPixel && (bpp == 2 || bpp == 3 || bpp == 4) && uint32_t(rw) <= d.width &&
            uint32_t(rh) <= d.height) {
            r.source = static_cast<const uint8_t *>(s.pixels) + (int64_t(y) * s.pixelsPerRow + x) * bpp;
            r.result = d.pixels;
        }
        r.sourcePitch = int32_t(s.pixelsPerRow), r.resultPitch = int32_t(d.pixelsPerRow);
        qxPlane dm = qxPlaneOf(rm), da = qxPlaneOf(ra);
        if (maskFits && dm.bytes) {
            r.sourceMask = sm.bytes + int64_t(y) * sm.bytesPerRow, r.sourceMaskBytesPerRow = sm.bytesPerRow;
            r.sourceMaskX = x;
        }
        if (alphaFits && da.bytes)
            r.sourceAlpha = sa.bytes + int64_t(y) * sa.bytesPerRow + x, r.sourceAlphaBytesPerRow = sa.bytesPerRow;
        r.resultMask = dm.bytes, r.resultMaskBytesPerRow = dm.bytesPerRow;
        r.resultAlpha = da.bytes, r.resultAlphaBytesPerRow = da.bytesPerRow;
        r.width = width, r.height = height, r.resultWidth = rw, r.resultHeight = rh;
        r.bytesPerPixel = bpp, r.layout = s.pixelFormat, r.smooth = smooth;
        r.matrix[0] = matrix[0], r.matrix[1] = matrix[1], r.matrix[2] = matrix[2], r.matrix[3] = matrix[3];
        r.matrix[4] = -minX, r.matrix[5] = -minY;
        if (road == GENERAL) qxAffinePixels(&r);
        else {
            r.quarterKind = road == QUARTER1 ? 1 : 2;
            qxQuarterTurnPixels(&r);
        }
        qxUnLockBitMap(&d);
        qxUnLockBitMap(&s);
    }
    if (outBitmap) *outBitmap = rb;
    else qxFreeBitMap(rb);
    if (outMask) *outMask = rm;
    else qxFreeMaskBitMap(rm);
    if (outAlpha) *outAlpha = ra;
    else qxFreeAlphaBitMap(ra);
    if (outWidth) *outWidth = rw;
    if (outHeight) *outHeight = rh;
    return 0;
}
}
