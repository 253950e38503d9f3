// Front-ends of the image effects on bitmap handles.
#include "display/qx_bitmapeffects.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

#include "core/errors/qx_errors.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapplanes.h"
#include "imaging/qx_areaeffects.h"
#include "imaging/qx_coloreffects.h"
#include "imaging/qx_colorkeys.h"
#include "imaging/qx_convolve.h"
#include "imaging/qx_displace.h"
#include "imaging/qx_transform.h"

namespace {

// The part of width x height that lies inside the lock.
struct Area {
    int32_t w, h;
};
Area areaOf(const qxBitMapLock *l, int32_t width, int32_t height)
{
    return {std::min<int64_t>(width, l->width) < 0 ? 0 : int32_t(std::min<int64_t>(width, l->width)),
            std::min<int64_t>(height, l->height) < 0 ? 0 : int32_t(std::min<int64_t>(height, l->height))};
}

template <class T> T *pixelsOf(const qxBitMapLock *l) { return static_cast<T *>(l->pixels); }

struct Sizes {
    int32_t width, height;
};

struct Gray : Sizes {
    int mono;
};
void gray32(const qxBitMapLock *l, void *a)
{
    auto *g = static_cast<Gray *>(a);
    Area r = areaOf(l, g->width, g->height);
    qxGrayPixels32(pixelsOf<uint32_t>(l), r.w, r.h, int32_t(l->pixelsPerRow), l->pixelFormat, g->mono);
}
void gray16(const qxBitMapLock *l, void *a)
{
    auto *g = static_cast<Gray *>(a);
    Area r = areaOf(l, g->width, g->height);
    qxGrayPixels16(pixelsOf<uint16_t>(l), r.w, r.h, int32_t(l->pixelsPerRow), l->pixelFormat, g->mono);
}

void invert32(const qxBitMapLock *l, void *a)
{
    Area r = areaOf(l, static_cast<Sizes *>(a)->width, static_cast<Sizes *>(a)->height);
    qxInvertPixels32(pixelsOf<uint32_t>(l), r.w, r.h, int32_t(l->pixelsPerRow));
}
void invert16(const qxBitMapLock *l, void *a)
{
    Area r = areaOf(l, static_cast<Sizes *>(a)->width, static_cast<Sizes *>(a)->height);
    qxInvertPixels16(pixelsOf<uint16_t>(l), r.w, r.h, int32_t(l->pixelsPerRow));
}

struct Threshold : Sizes {
    int32_t t;
};
void solarize32(const qxBitMapLock *l, void *a)
{
    auto *s = static_cast<Threshold *>(a);
    Area r = areaOf(l, s->width, s->height);
    qxSolarize32(pixelsOf<uint32_t>(l), r.w, r.h, int32_t(l->pixelsPerRow), l->pixelFormat, s->t);
}
void solarize16(const qxBitMapLock *l, void *a)
{
    auto *s = static_cast<Threshold *>(a);
    Area r = areaOf(l, s->width, s->height);
    qxSolarize16(pixelsOf<uint16_t>(l), r.w, r.h, int32_t(l->pixelsPerRow), l->pixelFormat, s->t);
}
void sepia32(const qxBitMapLock *l, void *a)
{
    auto *s = static_cast<Threshold *>(a);
    Area r = areaOf(l, s->width, s->height);
    qxSepia32(pixelsOf<uint32_t>(l), r.w, r.h, int32_t(l->pixelsPerRow), l->pixelFormat, s->t);
}
void sepia16(const qxBitMapLock *l, void *a)
{
    auto *s = static_cast<Threshold *>(a);
    Area r = areaOf(l, s->width, s->height);
    qxSepia16(pixelsOf<uint16_t>(l), r.w, r.h, int32_t(l->pixelsPerRow), l->pixelFormat, s->t);
}

struct Gamma : Sizes {
    const uint8_t *r, *g, *b;
    uint32_t flags;
};
void gamma32(const qxBitMapLock *l, void *a)
{
    auto *g = static_cast<Gamma *>(a);
    Area r = areaOf(l, g->width, g->height);
    qxGamma32(pixelsOf<uint32_t>(l), r.w, r.h, int32_t(l->pixelsPerRow), l->pixelFormat, g->r, g->g, g->b, g->flags);
}
void gamma16(const qxBitMapLock *l, void *a)
{
    auto *g = static_cast<Gamma *>(a);
    Area r = areaOf(l, g->width, g->height);
    qxGamma16(pixelsOf<uint16_t>(l), r.w, r.h, int32_t(l->pixelsPerRow), l->pixelFormat, g->r, g->g, g->b, g->flags);
}

struct Contrast : Sizes {
    int sharpen;
    int32_t count;
};
// A pass that changes nothing is a fixed point: the passes left would
// change nothing either, so a huge count ends early with the same result.
template <class T, void (*K)(T *, int32_t, int32_t, int32_t, uint32_t, int)>
void contrastPasses(const qxBitMapLock *l, void *a)
{
    auto *c = static_cast<Contrast *>(a);
    Area r = areaOf(l, c->width, c->height);
    if (r.w < 1 || r.h < 1) return;
    auto *px = pixelsOf<T>(l);
    int32_t pitch = int32_t(l->pixelsPerRow);
    std::unique_ptr<T[]> before(new (std::nothrow) T[size_t(r.w) * size_t(r.h)]);
    for (int32_t n = 0; n < c->count; ++n) {
        if (before)
            for (int32_t y = 0; y < r.h; ++y) std::copy_n(px + int64_t(y) * pitch, r.w, before.get() + int64_t(y) * r.w);
        K(px, r.w, r.h, pitch, l->pixelFormat, c->sharpen);
        if (!before) continue;
        bool same = true;
        for (int32_t y = 0; y < r.h && same; ++y)
            same = std::equal(px + int64_t(y) * pitch, px + int64_t(y) * pitch + r.w, before.get() + int64_t(y) * r.w);
        if (same) break;
    }
}

struct Modulate : Sizes {
    int32_t b, s, h;
};
void modulate32(const qxBitMapLock *l, void *a)
{
    auto *m = static_cast<Modulate *>(a);
    Area r = areaOf(l, m->width, m->height);
    qxModulate32(pixelsOf<uint32_t>(l), r.w, r.h, int32_t(l->pixelsPerRow), l->pixelFormat, m->b, m->s, m->h);
}
void modulate16(const qxBitMapLock *l, void *a)
{
    auto *m = static_cast<Modulate *>(a);
    Area r = areaOf(l, m->width, m->height);
    qxModulate16(pixelsOf<uint16_t>(l), r.w, r.h, int32_t(l->pixelsPerRow), l->pixelFormat, m->b, m->s, m->h);
}

struct Normalize : Sizes {
    int32_t black, white;
};
void normalize(const qxBitMapLock *l, void *a)
{
    auto *n = static_cast<Normalize *>(a);
    Area r = areaOf(l, n->width, n->height);
    qxNormalizeRecord rec{l->pixels, r.w, r.h, int32_t(l->pixelsPerRow), n->black, n->white, l->pixelFormat,
                          l->bytesPerPixel};
    qxNormalizePixels(&rec);
}

int32_t saturate(double v) { return v >= double(INT32_MAX) ? INT32_MAX : v <= double(INT32_MIN) ? INT32_MIN : int32_t(v); }

struct OilPaint : Sizes {
    double radius;
};
void oilPaint32(const qxBitMapLock *l, void *a)
{
    auto *o = static_cast<OilPaint *>(a);
    Area r = areaOf(l, o->width, o->height);
    qxOilPaint32(pixelsOf<uint32_t>(l), r.w, r.h, int32_t(l->pixelsPerRow), l->pixelFormat, o->radius);
}
void oilPaint16(const qxBitMapLock *l, void *a)
{
    auto *o = static_cast<OilPaint *>(a);
    Area r = areaOf(l, o->width, o->height);
    qxOilPaint16(pixelsOf<uint16_t>(l), r.w, r.h, int32_t(l->pixelsPerRow), l->pixelFormat, o->radius);
}

} // namespace

extern "C" {

int qxGrayBitmap(qxBitMap *bitmap, int32_t width, int32_t height, int mono, const qxBitMapLock *lock)
{
    Gray g{{width, height}, mono};
    return qxRunKernel(bitmap, 0, lock, gray32, gray16, &g);
}

int qxInvertBitmap(qxBitMap *bitmap, int32_t width, int32_t height, const qxBitMapLock *lock)
{
    Sizes s{width, height};
    return qxRunKernel(bitmap, 0, lock, invert32, invert16, &s);
}

int qxSolarizeBitmap(qxBitMap *bitmap, int32_t width, int32_t height, int32_t threshold)
{
    Threshold t{{width, height}, std::clamp(threshold, 0, 255)};
    return qxRunKernel(bitmap, 0, nullptr, solarize32, solarize16, &t);
}

int qxGammaBitmap(qxBitMap *bitmap, int32_t width, int32_t height, double red, double green, double blue)
{
    if (!std::isfinite(red) || !std::isfinite(green) || !std::isfinite(blue)) return 0;
    red = std::max(red, 0.0), green = std::max(green, 0.0), blue = std::max(blue, 0.0);
    uint8_t tables[3][256];
    Gamma g{{width, height}, tables[0], tables[1], tables[2], 0};
    if (red != 1) g.flags |= 1, qxGammaTable(tables[0], red);
    if (green != 1) {
        g.flags |= 2;
        if (green == red) g.g = tables[0];
        else qxGammaTable(tables[1], green);
    }
    if (blue != 1) {
        g.flags |= 4;
        if (blue == red) g.b = tables[0];
        else if (blue == green) g.b = g.g;
        else qxGammaTable(tables[2], blue);
    }
    if (!g.flags) return 0;
    return qxRunKernel(bitmap, 0, nullptr, gamma32, gamma16, &g);
}

int qxContrastBitmap(qxBitMap *bitmap, int32_t width, int32_t height, int sharpen, int32_t count,
                     const qxBitMapLock *lock)
{
    if (count < 1) return 0;
    Contrast c{{width, height}, sharpen, count};
    return qxRunKernel(bitmap, 0, lock, contrastPasses<uint32_t, qxContrast32>, contrastPasses<uint16_t, qxContrast16>,
                       &c);
}

int qxModulateBitmap(qxBitMap *bitmap, int32_t width, int32_t height, double brightness, double saturation,
                     double hue)
{
    if (brightness == 1.0 && saturation == 1.0 && hue == 1.0) return 0;
    Modulate m{{width, height}, 0, 0, 0};
    if (!qxModulatePercent(brightness, &m.b) || !qxModulatePercent(saturation, &m.s) || !qxModulatePercent(hue, &m.h))
        return 0;
    return qxRunKernel(bitmap, 0, nullptr, modulate32, modulate16, &m);
}

int qxNormalizeBitmap(qxBitMap *bitmap, int32_t width, int32_t height, int32_t blackCount, int32_t whiteCount,
                      const qxBitMapLock *lock)
{
    Normalize n{{width, height}, blackCount, whiteCount};
    return qxRunKernel(bitmap, 0, lock, normalize, normalize, &n);
}

int qxNormalizeDefault(qxBitMap *bitmap, int32_t width, int32_t height, const qxBitMapLock *lock)
{
    double area = double(width) * double(height);
    return qxNormalizeBitmap(bitmap, width, height, saturate(area * 0.02), saturate(0.99 * area), lock);
}

int qxSepiaBitmap(qxBitMap *bitmap, int32_t width, int32_t height, int32_t threshold)
{
    qxBitMapLock l;
    if (!qxLockBitMap(bitmap, 0, &l)) return ERR_LOCKBMAP;
    Threshold t{{width, height}, std::clamp(threshold, 0, 255)};
    qxRunKernel(bitmap, 0, &l, sepia32, sepia16, &t);
    qxNormalizeDefault(bitmap, width, height, &l);
    qxContrastBitmap(bitmap, width, height, 1, 1, &l);
    qxUnLockBitMap(&l);
    return 0;
}

int qxTintBitmap(qxBitMap *bitmap, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour,
                 uint32_t level)
{
    qxBitMapLock l;
    if (!qxLockBitMap(bitmap, 0, &l)) return ERR_LOCKBMAP;
    if (qxClipToSize(&x, &y, &width, &height, int32_t(l.width), int32_t(l.height)))
        qxSoftRectFill(l.pixels, x, y, width, height, colour, level, int32_t(l.pixelsPerRow), l.pixelFormat);
    qxUnLockBitMap(&l);
    return 0;
}

int qxMixBitmaps(qxBitMap *destination, qxBitMap *source, qxBitMap *mask, int32_t dx, int32_t dy, int32_t sx,
                 int32_t sy, int32_t width, int32_t height, int32_t level, qxBitMap *alpha, int32_t alphaWidth,
                 int32_t alphaHeight)
{
    if (alpha) {
        if (alphaWidth < 1 || alphaHeight < 1) return 0;
        qxBitMap *t = qxAllocAlphaBitMap(uint32_t(alphaWidth), uint32_t(alphaHeight), 1, nullptr, 0);
        if (!t) return ERR_ALLOCALPHA;
        qxScaleAlpha(alpha, t, std::min<int32_t>(alphaHeight, int32_t(std::min<uint32_t>(alpha->height, INT32_MAX))),
                     uint32_t(std::clamp(level, 0, 255)));
        qxBltBitMapThroughAlpha(source, sx, sy, destination, dx, dy, width, height, t);
        qxFreeAlphaBitMap(t);
        return 0;
    }
    qxBitMapLock d, s;
    if (!qxLockBitMap(destination, 0, &d)) return ERR_LOCKBMAP;
    if (!qxLockBitMap(source, 1, &s)) {
        qxUnLockBitMap(&d);
        return ERR_LOCKBMAP;
    }
    qxPlane m = qxPlaneOf(mask);
    // Only what lies inside both bitmaps (and the mask) is touched.
    bool ok = d.bytesPerPixel == s.bytesPerPixel && d.pixelFormat == s.pixelFormat && sx >= 0 && sy >= 0 &&
              dx >= 0 && dy >= 0;
    if (ok) {
        int64_t w = std::min<int64_t>({width, int64_t(d.width) - dx, int64_t(s.width) - sx});
        int64_t h = std::min<int64_t>({height, int64_t(d.height) - dy, int64_t(s.height) - sy});
        if (m.bytes) w = std::min<int64_t>(w, int64_t(m.width) - sx), h = std::min<int64_t>(h, int64_t(m.height) - sy);
        if (w > 0 && h > 0) {
            uint32_t bpp = d.bytesPerPixel;
            qxMixRecord r{static_cast<const uint8_t *>(s.pixels) + (int64_t(sy) * s.pixelsPerRow + sx) * bpp,
                          static_cast<uint8_t *>(d.pixels) + (int64_t(dy) * d.pixelsPerRow + dx) * bpp,
                          m.bytes ? m.bytes + int64_t(sy) * m.bytesPerRow : nullptr, sx};
            int32_t lv = std::clamp(level, 0, 255);
            if (bpp == 4)
                qxMixPixels32(&r, int32_t(w), int32_t(h), lv, d.pixelFormat, int32_t(s.pixelsPerRow),
                              int32_t(d.pixelsPerRow), m.bytesPerRow);
            else if (bpp == 2)
                qxMixPixels16(&r, int32_t(w), int32_t(h), lv, d.pixelFormat, int32_t(s.pixelsPerRow),
                              int32_t(d.pixelsPerRow), m.bytesPerRow);
        }
    }
    qxUnLockBitMap(&s);
    qxUnLockBitMap(&d);
    return 0;
}

int qxConvolve(uint32_t mode, qxBitMap *bitmap, qxBitMap *alpha, int32_t width, int32_t height,
               const qxBitMapLock *lock, double radius, double sigma)
{
    if (!std::isfinite(radius) || !std::isfinite(sigma)) return 0;
    radius = std::max(radius, 0.0);
    if (radius == 0) sigma = 1.0;
    qxConvolveRecord r{};
    r.width = width, r.height = height, r.radius = radius, r.sigma = sigma, r.mode = mode;
    qxPlane a = qxPlaneOf(alpha);
    if (a.bytes) {
        r.alpha = a.bytes, r.alphaBytesPerRow = a.bytesPerRow;
        r.width = std::min(r.width, a.width), r.height = std::min(r.height, a.height);
    }
    qxBitMapLock own;
    const qxBitMapLock *l = lock;
    if (bitmap && !l) {
        if (!qxLockBitMap(bitmap, 0, &own)) return ERR_LOCKBMAP;
        l = &own;
    }
    if (l) {
        Area ar = areaOf(l, r.width, r.height);
        r.width = ar.w, r.height = ar.h;
        r.pixels = l->pixels, r.pitch = int32_t(l->pixelsPerRow), r.layout = l->pixelFormat;
        r.bytesPerPixel = l->bytesPerPixel;
    }
    qxConvolvePlanes(&r);
    if (bitmap && !lock) qxUnLockBitMap(&own);
    return 0;
}

int qxCharcoalBitmap(qxBitMap *bitmap, qxBitMap *alpha, int32_t width, int32_t height, double radius, double sigma)
{
    if (!(radius > 0)) radius = 0;
    qxBitMapLock l;
    if (!qxLockBitMap(bitmap, 0, &l)) return ERR_LOCKBMAP;
    qxGrayBitmap(bitmap, width, height, 0, &l);
    qxConvolve('g', bitmap, alpha, width, height, &l, radius, 0);
    qxConvolve('b', bitmap, alpha, width, height, &l, radius, sigma);
    qxNormalizeDefault(bitmap, width, height, &l);
    qxInvertBitmap(bitmap, width, height, &l);
    qxGrayBitmap(bitmap, width, height, 0, &l);
    qxUnLockBitMap(&l);
    return 0;
}

qxBitMap *qxMakeShadowBitmap(qxBitMap *alphaSource, qxBitMap *maskSource, int32_t x, int32_t y, int32_t width,
                             int32_t height, uint32_t level, int hard, int soft, double radius, double sigma)
{
    if (width < 1 || height < 1) return nullptr;
    double rr = std::isfinite(radius) ? std::trunc(radius) : 0;
    int64_t w = int64_t(width) + 2 * int64_t(std::clamp(rr, -1e9, 1e9)),
            h = int64_t(height) + 2 * int64_t(std::clamp(rr, -1e9, 1e9));
    if (w < 1 || h < 1 || w > INT32_MAX || h > INT32_MAX || w * h > (int64_t(1) << 31)) return nullptr;
    int32_t r = int32_t(rr);
    qxBitMap *plane = qxAllocAlphaBitMap(uint32_t(w), uint32_t(h), 1, nullptr, 0);
    if (!plane) return nullptr;
    if (alphaSource) qxBltAlpha(alphaSource, x, y, plane, r, r, width, height, 6, level);
    else if (maskSource) qxMaskToAlpha(maskSource, x, y, plane, r, r, width, height, level);
    else qxFillBitMapRect(plane, r, r, width, height, level);
    qxConvolve('b', nullptr, plane, int32_t(w), int32_t(h), nullptr, radius, sigma);
    if (hard) {
        qxPlane p = qxPlaneOf(plane);
        for (int32_t j = 0; p.bytes && j < p.height; ++j)
            for (int32_t i = 0; i < p.width; ++i)
                if (uint8_t &b = p.bytes[int64_t(j) * p.bytesPerRow + i]) b = 255;
    }
    if (soft && alphaSource)
        qxConvolve('b', nullptr, plane, int32_t(w), int32_t(h), nullptr, radius * 0.5, radius * 0.5 / 3);
    return plane;
}

int qxFlipBitmap(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t width, int32_t height, int horizontal)
{
    qxPlane m = qxPlaneOf(mask), a = qxPlaneOf(alpha);
    int32_t w = width, h = height;
    if (m.bytes) w = std::min(w, m.width), h = std::min(h, m.height);
    if (a.bytes) w = std::min(w, a.width), h = std::min(h, a.height);
    std::unique_ptr<uint8_t[]> scratch;
    if (horizontal && m.bytes) {
        scratch.reset(new (std::nothrow) uint8_t[size_t(m.bytesPerRow) + 1]);
        if (!scratch) return ERR_MEM;
    }
    qxBitMapLock l{};
    if (bitmap) {
        if (!qxLockBitMap(bitmap, 0, &l)) return ERR_LOCKBMAP;
        Area ar = areaOf(&l, w, h);
        w = ar.w, h = ar.h;
    }
    qxFlipRecord r{bitmap ? l.pixels : nullptr, w, h, int32_t(l.pixelsPerRow), m.bytes, m.bytesPerRow, a.bytes,
                   a.bytesPerRow, uint32_t(horizontal != 0), l.bytesPerPixel, scratch.get()};
    if (!bitmap || l.bytesPerPixel == 2 || l.bytesPerPixel == 4 || l.bytesPerPixel == 3) qxFlipPixels(&r);
    if (bitmap) qxUnLockBitMap(&l);
    return 0;
}

qxBitMap *qxSetBitmapTransparency(qxBitMap *bitmap, int32_t width, int32_t height, uint32_t colour)
{
    qxBitMapLock l;
    if (width < 1 || height < 1 || !qxLockBitMap(bitmap, 1, &l)) return nullptr;
    uint32_t key = qxColorToPixel(colour, l.pixelFormat, 0);
    qxBitMap *mask = qxAllocMaskBitMap(bitmap, uint32_t(width), uint32_t(height), 1, nullptr, 0);
    qxPlane m = qxPlaneOf(mask);
    if (m.bytes) {
        Area ar = areaOf(&l, std::min(width, m.width), std::min(height, m.height));
        uint32_t f = l.pixelFormat;
        if (l.bytesPerPixel == 4)
            qxMaskFromColor32(pixelsOf<uint32_t>(&l), m.bytes, ar.w, ar.h, m.bytesPerRow, key,
                              int32_t(l.pixelsPerRow), f == 11 || f == 12 ? 0xFFFFFF00u : 0x00FFFFFFu);
        else if (l.bytesPerPixel == 2)
            qxMaskFromColor16(pixelsOf<uint16_t>(&l), m.bytes, ar.w, ar.h, m.bytesPerRow, key,
                              int32_t(l.pixelsPerRow));
    }
    qxUnLockBitMap(&l);
    return mask;
}

int qxOilPaintBitmap(qxBitMap *bitmap, int32_t width, int32_t height, double radius)
{
    if (!std::isfinite(radius)) return 0;
    OilPaint o{{width, height}, std::max(radius, 0.0)};
    return qxRunKernel(bitmap, 0, nullptr, oilPaint32, oilPaint16, &o);
}

int qxPixelateBitmap(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t width, int32_t height, int32_t size)
{
    if (size < 2) return 0;
    qxBitMapLock l;
    if (!qxLockBitMap(bitmap, 0, &l)) return ERR_LOCKBMAP;
    qxPlane m = qxPlaneOf(mask), a = qxPlaneOf(alpha);
    Area ar = areaOf(&l, width, height);
    if (m.bytes) ar.w = std::min(ar.w, m.width), ar.h = std::min(ar.h, m.height);
    if (a.bytes) ar.w = std::min(ar.w, a.width), ar.h = std::min(ar.h, a.height);
    if (l.bytesPerPixel == 4)
        qxPixelate32(pixelsOf<uint32_t>(&l), int32_t(l.pixelsPerRow), m.bytes, m.bytesPerRow, a.bytes, a.bytesPerRow,
                     ar.w, ar.h, size);
    else if (l.bytesPerPixel == 2)
        qxPixelate16(pixelsOf<uint16_t>(&l), int32_t(l.pixelsPerRow), m.bytes, m.bytesPerRow, a.bytes, a.bytesPerRow,
                     ar.w, ar.h, size);
    qxUnLockBitMap(&l);
    return 0;
}

namespace {
// Locks the bitmap and fills the destination side of a displacement record
// with it and its own planes; the area is cut to what all of them hold.
bool displaceTarget(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t width, int32_t height,
                    qxBitMapLock *l, qxDisplaceRecord *r)
{
    if (!qxLockBitMap(bitmap, 0, l)) return false;
    qxPlane m = qxPlaneOf(mask), a = qxPlaneOf(alpha);
    Area ar = areaOf(l, width, height);
    if (m.bytes) ar.w = std::min(ar.w, m.width), ar.h = std::min(ar.h, m.height);
    if (a.bytes) ar.w = std::min(ar.w, a.width), ar.h = std::min(ar.h, a.height);
    r->destination = l->pixels, r->destPitch = int32_t(l->pixelsPerRow);
    r->width = ar.w, r->height = ar.h, r->layout = l->pixelFormat;
    r->destMask = m.bytes, r->destMaskBytesPerRow = m.bytesPerRow;
    r->destAlpha = a.bytes, r->destAlphaBytesPerRow = a.bytesPerRow;
    return true;
}
} // namespace

int qxSwirlBitmap(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t width, int32_t height, double degrees)
{
    if (!std::isfinite(degrees)) return 0;
    degrees = std::clamp(degrees, -359.0, 359.0);
    std::unique_ptr<double[]> sine(new (std::nothrow) double[QX_TRIG_ENTRIES]),
        cosine(new (std::nothrow) double[QX_TRIG_ENTRIES]);
    if (!sine || !cosine) return ERR_MEM;
    qxSwirlSetup(sine.get(), cosine.get());
    qxDisplaceRecord r{};
    r.table1 = sine.get(), r.table2 = cosine.get();
    qxBitMapLock l;
    if (!displaceTarget(bitmap, mask, alpha, width, height, &l, &r)) return ERR_LOCKBMAP;
    if (l.bytesPerPixel == 4) qxSwirl32(&r, degrees);
    else if (l.bytesPerPixel == 2) qxSwirl16(&r, degrees);
    qxUnLockBitMap(&l);
    return 0;
}

int qxWaterRippleBitmap(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t width, int32_t height,
                        double wavelength, double amplitude, double phase, double centreX, double centreY)
{
    if (!std::isfinite(wavelength) || !std::isfinite(amplitude) || !std::isfinite(phase) || !std::isfinite(centreX) ||
        !std::isfinite(centreY) || width < 1 || height < 1)
        return 0;
    qxDisplaceRecord r{};
    qxBitMapLock l;
    if (!displaceTarget(bitmap, mask, alpha, width, height, &l, &r)) return ERR_LOCKBMAP;
    int32_t w = r.width, h = r.height;
    r.cx = int32_t(w * std::clamp(centreX, 0.0, 1.0)), r.cy = int32_t(h * std::clamp(centreY, 0.0, 1.0));
    r.radius = std::max(r.cx, r.cy);
    r.wavelength = std::max(1.0, wavelength), r.amplitude = amplitude, r.frames = 1, r.phase = phase;
    std::unique_ptr<int32_t[]> dist(w > 0 && h > 0 ? new (std::nothrow) int32_t[size_t(w) * size_t(h)] : nullptr);
    std::unique_ptr<double[]> sine(new (std::nothrow) double[QX_TRIG_ENTRIES]);
    if ((w > 0 && h > 0 && !dist) || !sine) {
        qxUnLockBitMap(&l);
        return ERR_MEM;
    }
    if (w > 0 && h > 0) {
        qxWaterRippleSetup(dist.get(), sine.get(), w, h, r.cx, r.cy);
        r.distance = dist.get(), r.table2 = sine.get();
        if (l.bytesPerPixel == 4) qxWaterRipple32(&r, -1);
        else if (l.bytesPerPixel == 2) qxWaterRipple16(&r, -1);
    }
    qxUnLockBitMap(&l);
    return 0;
}
}
