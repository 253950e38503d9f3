// Image copies, quarter and half turns and general transforms.
#include "display/qx_bitmaptransform.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "core/errors/qx_errors.h"
#include "core/plugins/qx_pluginapi.h"
#include "core/plugins/qx_plugins.h"
#include "display/qx_adapter.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapeffects.h"
#include "display/qx_bitmapplanes.h"
#include "display/qx_gfxgeom.h"
#include "imaging/qx_distort.h"
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

// New handles go to the out pointers given; the others are freed.
void handOver(qxBitMap *b, qxBitMap *m, qxBitMap *a, qxBitMap **ob, qxBitMap **om, qxBitMap **oa)
{
    if (ob) *ob = b;
    else qxFreeBitMap(b);
    if (om) *om = m;
    else qxFreeMaskBitMap(m);
    if (oa) *oa = a;
    else qxFreeAlphaBitMap(a);
}

} // namespace

extern "C" {

int qxCopyImageRect(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t x, int32_t y, int32_t width,
                    int32_t height, uint32_t hardware, uint32_t videoFlag, uint64_t sourceTag, uint64_t targetTag,
                    qxBitMap **outBitmap, qxBitMap **outMask, qxBitMap **outAlpha)
{
    if (width < 1 || height < 1) return ERR_BITMAP;
    if (hardware && bitmap) {
        // A video bitmap of the adapter: copied there from the bitmap, or
        // from its pixels read back when it goes to another window.
        std::unique_ptr<uint32_t[]> pixels;
        uint32_t synced = 0;
        qxVideoBitMapSource src{};
        src.window = reinterpret_cast<void *>(uintptr_t(targetTag));
        if (bitmap->video && targetTag && targetTag != sourceTag) {
            uint32_t *read = nullptr;
            if (int e = qxReadBitmapPixels(bitmap, x, y, width, height, &synced, &read)) return e;
            pixels.reset(read);
            src.argb = read;
        } else {
            src.bitmap = bitmap, src.mask = mask, src.alpha = alpha;
        }
        const uint32_t flags = (videoFlag ? 16u : 0u) | (synced ? 1u : 0u);
        if (qxBitMap *v = qxAdapterAllocVideoBitMap(uint32_t(width), uint32_t(height), flags, nullptr, &src)) {
            handOver(v, nullptr, nullptr, outBitmap, outMask, outAlpha);
            return 0;
        }
        if (qxDisplayAdapter && !(qxAdapterFlags() & 4)) return ERR_BITMAP;
    }
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
    // An adapter's video bitmap is read through the adapter first, with the
    // alpha channel its pixels carry when the copy has none of its own.
    qxBitMap *temp = nullptr, *tempAlpha = nullptr;
    const bool wantAlpha = outAlpha && !mask && !alpha;
    if (int e = qxPluginImageHook(bitmap, &temp, wantAlpha ? &tempAlpha : nullptr)) {
        freeAll(b, m, a);
        return e;
    }
    if (tempAlpha) {
        if (!(a = qxAllocAlphaBitMap(uint32_t(width), uint32_t(height), 1, nullptr, 0))) {
            freeAll(temp, nullptr, tempAlpha);
            freeAll(b, m, a);
            return ERR_ALLOCALPHA;
        }
        qxBltAlpha(tempAlpha, x, y, a, 0, 0, width, height, 0, 0);
        qxFreeAlphaBitMap(tempAlpha);
    }
    if (bitmap) qxBltBitMapDirect(temp ? temp : bitmap, x, y, b, 0, 0, width, height);
    qxFreeBitMap(temp);
    handOver(b, m, a, outBitmap, outMask, outAlpha);
    return 0;
}

int qxTransformPixels(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t x, int32_t y, int32_t width,
                      int32_t height, const double matrix[4], uint32_t smooth, uint32_t, qxBitMap **outBitmap,
                      qxBitMap **outMask, qxBitMap **outAlpha, int32_t *outWidth, int32_t *outHeight)
{
    if (!bitmap || !matrix) return ERR_LOCKBMAP;
    const double m6[6] = {matrix[0], matrix[1], matrix[2], matrix[3], 0, 0};
    if (!qxAffineUsable(m6)) return ERR_WRONGUSAGE;
    // An adapter that transforms video bitmaps itself does so.
    if (qxGetBitMapAttr(bitmap, 18) && qxPlatformHasCap(16)) {
        int32_t tw = 0, th = 0;
        double tx = 0, ty = 0;
        qxTransformBox(matrix, width, height, &tw, &th, &tx, &ty);
        tw = std::max(tw, 1), th = std::max(th, 1);
        // The adapter's transform layout: the matrix under tag 5 (tag 6 names a window).
        const qxBitMapTag tags[] = {{1, uint64_t(uintptr_t(bitmap->data))}, {2, uint64_t(uint32_t(width))},
                                    {3, uint64_t(uint32_t(height))},        {5, uint64_t(uintptr_t(matrix))},
                                    {4, smooth},                            {0, 0}};
        qxBitMap *v = qxAllocBitMap(uint32_t(tw), uint32_t(th), QX_BITMAP_VIDEO, tags);
        if (v && v->video) {
            handOver(v, nullptr, nullptr, outBitmap, outMask, outAlpha);
            if (outWidth) *outWidth = tw;
            if (outHeight) *outHeight = th;
            return 0;
        }
        qxFreeBitMap(v);
        if (qxDisplayAdapter && !(qxAdapterFlags() & 4)) return ERR_BITMAP;
    }
    // Otherwise an adapter's video bitmap is read into a temporary first.
    qxVideoReadBack readBack;
    if (int e = qxReadBackVideo(&bitmap, &readBack, outAlpha ? &alpha : nullptr, mask)) return e;
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
        if (road == GENERAL && r.result) {
            // The kernel writes only the covered span of each row: the rest stays clear.
            for (int32_t row = 0; row < rh; row++)
                std::memset(static_cast<uint8_t *>(d.pixels) + int64_t(row) * d.pixelsPerRow * bpp, 0,
                            size_t(rw) * bpp);
        }
        if (road == GENERAL) qxAffinePixels(&r);
        else {
            r.quarterKind = road == QUARTER1 ? 1 : 2;
            qxQuarterTurnPixels(&r);
        }
        qxUnLockBitMap(&d);
        qxUnLockBitMap(&s);
    }
    handOver(rb, rm, ra, outBitmap, outMask, outAlpha);
    if (outWidth) *outWidth = rw;
    if (outHeight) *outHeight = rh;
    return 0;
}

int qxDistortBitmap(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t width, int32_t height, uint32_t method,
                    uint32_t argumentCount, const double *arguments, uint32_t smooth, qxBitMap **outBitmap,
                    qxBitMap **outMask, qxBitMap **outAlpha, int32_t *outWidth, int32_t *outHeight)
{
    if (!bitmap) return ERR_LOCKBMAP;
    qxBitMapLock s;
    if (!qxLockBitMap(bitmap, 1, &s)) return ERR_LOCKBMAP;
    int32_t x = 0, y = 0;
    if (!qxClipToSize(&x, &y, &width, &height, int32_t(s.width), int32_t(s.height))) {
        qxUnLockBitMap(&s);
        return ERR_WRONGUSAGE;
    }
    qxDistortRequest req{};
    req.method = method, req.argumentCount = argumentCount, req.arguments = arguments;
    req.sourceWidth = width, req.sourceHeight = height, req.smooth = smooth;
    qxDistortFit(&req);
    if (req.error) {
        qxUnLockBitMap(&s);
        return int(req.error == 1055 ? ERR_WRONGUSAGE : ERR_MEM);
    }
    if (req.outputWidth < 1 || req.outputHeight < 1) {
        qxUnLockBitMap(&s);
        return ERR_BITMAP;
    }
    // The source as R, G, B, A with its mask or alpha folded in.
    std::unique_ptr<uint8_t[]> rgba(new (std::nothrow) uint8_t[size_t(width) * size_t(height) * 4]);
    if (!rgba) {
        qxUnLockBitMap(&s);
        return ERR_MEM;
    }
    qxPlane sm = qxPlaneOf(mask), sa = qxPlaneOf(alpha);
    bool hasMask = sm.bytes && sm.width >= width && sm.height >= height;
    bool hasAlpha = !hasMask && sa.bytes && sa.width >= width && sa.height >= height;
    uint32_t bpp = s.bytesPerPixel, f = s.pixelFormat;
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) {
            const uint8_t *p = static_cast<const uint8_t *>(s.pixels) + (int64_t(j) * s.pixelsPerRow + i) * bpp;
            uint8_t *o = rgba.get() + (int64_t(j) * width + i) * 4;
            int32_t c[4] = {0, 0, 0, 255};
            if (f == 8 || f == 9) c[f == 8 ? 0 : 2] = p[0], c[1] = p[1], c[f == 8 ? 2 : 0] = p[2];
            else qxUnpackPixel(p, f, c);
            o[0] = uint8_t(c[0]), o[1] = uint8_t(c[1]), o[2] = uint8_t(c[2]), o[3] = 255;
            if (hasMask) o[3] = (sm.bytes[int64_t(j) * sm.bytesPerRow + (i >> 3)] & (0x80 >> (i & 7))) ? 255 : 0;
            else if (hasAlpha) o[3] = sa.bytes[int64_t(j) * sa.bytesPerRow + i];
        }
    qxUnLockBitMap(&s);
    int32_t ow = req.outputWidth, oh = req.outputHeight;
    qxBitMap *rb = qxAllocBitMap(uint32_t(ow), uint32_t(oh), 0, nullptr), *rm = nullptr, *ra = nullptr;
    if (!rb) return ERR_BITMAP;
    bool maskOut = hasMask || (!hasAlpha && !smooth);
    if (maskOut && !(rm = qxAllocMaskBitMap(rb, uint32_t(ow), uint32_t(oh), 1, nullptr, 0))) {
        freeAll(rb, rm, ra);
        return ERR_ALLOCMASK;
    }
    if (!maskOut && !(ra = qxAllocAlphaBitMap(uint32_t(ow), uint32_t(oh), 1, nullptr, 0))) {
        freeAll(rb, rm, ra);
        return ERR_ALLOCALPHA;
    }
    qxBitMapLock d;
    if (!qxLockBitMap(rb, 0, &d)) {
        freeAll(rb, rm, ra);
        return ERR_LOCKBMAP;
    }
    qxPlane dm = qxPlaneOf(rm), da = qxPlaneOf(ra);
    qxDistortSource src{rgba.get(), width, height};
    uint32_t dbpp = d.bytesPerPixel, df = d.pixelFormat;
    for (int32_t j = 0; j < oh && uint32_t(j) < d.height; ++j)
        for (int32_t i = 0; i < ow && uint32_t(i) < d.width; ++i) {
            uint8_t px[4];
            qxDistortSample(&req, &src, i, j, px);
            uint8_t *p = static_cast<uint8_t *>(d.pixels) + (int64_t(j) * d.pixelsPerRow + i) * dbpp;
            int32_t c[4] = {px[0], px[1], px[2], 0};
            if (df == 8 || df == 9) p[0] = px[df == 8 ? 0 : 2], p[1] = px[1], p[2] = px[df == 8 ? 2 : 0];
            else qxPackPixel(p, df, c);
            if (dm.bytes && px[3]) dm.bytes[int64_t(j) * dm.bytesPerRow + (i >> 3)] |= uint8_t(0x80 >> (i & 7));
            if (da.bytes) da.bytes[int64_t(j) * da.bytesPerRow + i] = px[3];
        }
    qxUnLockBitMap(&d);
    handOver(rb, rm, ra, outBitmap, outMask, outAlpha);
    if (outWidth) *outWidth = ow;
    if (outHeight) *outHeight = oh;
    return 0;
}

int qxReadBitmapPixels(qxBitMap *bitmap, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t *outSynced,
                       uint32_t **outBuffer)
{
    if (!bitmap || width < 1 || height < 1 || int64_t(width) * height > (int64_t(1) << 28)) return ERR_MEM;
    std::unique_ptr<uint32_t[]> buf(new (std::nothrow) uint32_t[size_t(width) * size_t(height)]());
    if (!buf) return ERR_MEM;
    // Only pixels inside the bitmap are read; the rest stay 0.
    auto copy = [&](const void *pixels, uint32_t format, int64_t pixelsPerRow, int64_t bw, int64_t bh) {
        for (int32_t j = 0; j < height; ++j) {
            int64_t sy = int64_t(y) + j;
            if (sy < 0 || sy >= bh) continue;
            const uint32_t *row = static_cast<const uint32_t *>(pixels) + sy * pixelsPerRow;
            for (int32_t i = 0; i < width; ++i) {
                int64_t sx = int64_t(x) + i;
                if (sx < 0 || sx >= bw) continue;
                uint32_t p = row[sx], &o = buf[size_t(j) * size_t(width) + size_t(i)];
                switch (format) {
                case 10: o = p; break;
                case 11: o = __builtin_bswap32(p); break;
                case 12: o = p >> 8 | p << 24; break;
                case 13: { uint32_t b = __builtin_bswap32(p); o = b >> 8 | b << 24; break; }
                default: break;
                }
            }
        }
    };
    uint32_t synced = 0;
    if (bitmap->video && !qxGetBitMapAttr(bitmap, 22)) {
        // Held by the adapter: it hands the pixels out for reading.
        auto read = reinterpret_cast<qxReadVideoPixelsFunc>(qxAdapterEntry(QX_EP_ReadVideoPixels));
        auto release = reinterpret_cast<qxFreeVideoPixelsFunc>(qxAdapterEntry(QX_EP_FreeVideoPixels));
        void *native = reinterpret_cast<void *>(uintptr_t(qxGetBitMapAttr(bitmap, 20)));
        qxVideoPixelsRecord rec{2, nullptr, 0, 0, 0};
        if (!read || !read(native, &rec) || !rec.pixels) return ERR_READVIDEOPIXELS;
        // Only the 32-bit layouts convert: any other would read back as
        // nothing but zeros.
        if (rec.pixelFormat < 10 || rec.pixelFormat > 13) {
            if (release) release(native, &rec);
            return ERR_WRONGUSAGE;
        }
        if (rec.pixelsPerRow >= bitmap->width)
            copy(rec.pixels, rec.pixelFormat, rec.pixelsPerRow, bitmap->width, bitmap->height);
        synced = rec.synced;
        if (release) release(native, &rec);
    } else {
        qxBitMapLock l;
        if (!qxLockBitMap(bitmap, 1, &l)) return ERR_LOCKBMAP;
        synced = uint32_t(qxGetBitMapAttr(bitmap, 19));
        if (l.bytesPerPixel == 4) copy(l.pixels, l.pixelFormat, l.pixelsPerRow, l.width, l.height);
        qxUnLockBitMap(&l);
    }
    if (outSynced) *outSynced = synced;
    if (outBuffer) *outBuffer = buf.release();
    return 0;
}

int qxPluginImageHook(qxBitMap *video, qxBitMap **copy, qxBitMap **alphaOut)
{
    *copy = nullptr;
    if (alphaOut) *alphaOut = nullptr;
    if (!video || !video->video || qxGetBitMapAttr(video, 22)) return 0;
    const int32_t w = int32_t(video->width), h = int32_t(video->height);
    uint32_t *pixels = nullptr, synced = 0;
    if (int r = qxReadBitmapPixels(video, 0, 0, w, h, &synced, &pixels)) return r;
    std::unique_ptr<uint32_t[]> owned(pixels);
    qxBitMap *b = qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr);
    if (!b) return ERR_BITMAP;
    qxARGBToBitMap(pixels, 0, 0, w * 4, b, 0, 0, w, h);
    if (alphaOut && !(*alphaOut = qxAlphaFromBuffer(pixels, uint32_t(w), uint32_t(h), uint32_t(w)))) {
        qxFreeBitMap(b);
        return ERR_ALLOCALPHA;
    }
    *copy = b;
    return 0;
}
}
