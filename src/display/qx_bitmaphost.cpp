// The bitmap services of the plug-ins' graphics host table: locks of raw
// records, blits, fills, pixels and lines in raw buffers, ARGB copies,
// colour conversion and buffer scaling.
#include "display/qx_bitmaphost.h"

#include <algorithm>
#include <climits>

#include "core/commands/qx_commands.h"
#include "display/qx_bitmapdraw.h"
#include "imaging/qx_lines.h"
#include "imaging/qx_scale.h"
#include "platform/qx_memory.h"

namespace {

const qxTagItem *findTag(const qxTagItem *tags, uint32_t tag)
{
    for (; tags && tags->tag; ++tags)
        if (tags->tag == tag) return tags;
    return nullptr;
}

uintptr_t tagValue(const qxTagItem *tags, uint32_t tag, uintptr_t fallback)
{
    const qxTagItem *t = findTag(tags, tag);
    return t ? t->data : fallback;
}

uint64_t hostLock(void *record, void *, qxHostBitMapLock *out, const qxTagItem *tags)
{
    qxBitMapLock l;
    uint64_t h = qxLockBitMap(record, 2 | (tagValue(tags, 1, 0) ? 1u : 0u), &l);
    if (h && out) *out = {l.pixels, l.pixelsPerRow, l.pixelFormat, l.bytesPerPixel, l.width, l.height};
    return h;
}

void hostUnlock(uint64_t handle)
{
    qxBitMapLock l{};
    l.handle = handle;
    qxUnLockBitMap(&l);
}

void hostBlit(const void *src, void *dst, const qxHostBlitRecord *r, void *, const qxTagItem *tags)
{
    if (!src || !dst || !r) return;
    int32_t sx = int32_t(r->sx), sy = int32_t(r->sy), dx = int32_t(r->dx), dy = int32_t(r->dy);
    int32_t w = int32_t(r->width), h = int32_t(r->height);
    if (const qxTagItem *t = findTag(tags, 1); t && t->data) {
        int32_t mx, my;
        qxClipRectToBounds(reinterpret_cast<const qxClipRect *>(t->data), &dx, &dy, &w, &h, &mx, &my);
        // The source moves with the trimmed destination, as every clipped
        // copy here does; else the copy lands shifted against its place.
        const int64_t nx = int64_t(sx) + mx, ny = int64_t(sy) + my;
        if (nx > INT32_MAX || ny > INT32_MAX) return;
        sx = int32_t(nx), sy = int32_t(ny);
    }
    if (w < 1 || h < 1) return;
    uint32_t bpp = qxBytesPerPixel(r->pixelFormat);
    if (r->alpha)
        qxBltPixelsByMode(src, sx, sy, int32_t(r->sourcePixelsPerRow), dst, dx, dy, int32_t(r->destPixelsPerRow), w,
                          h, r->alpha, int32_t(r->alphaBytesPerRow), nullptr, 0, bpp, r->pixelFormat, 0);
    else if (r->mask)
        qxBltMaskedPixels(src, sx, sy, int32_t(r->sourcePixelsPerRow), dst, dx, dy, int32_t(r->destPixelsPerRow), w,
                          h, r->mask, int32_t(r->maskBytesPerRow), bpp);
    else
        qxBltSimplePixels(src, sx, sy, int32_t(r->sourcePixelsPerRow), dst, dx, dy, int32_t(r->destPixelsPerRow), w,
                          h, bpp);
}

uint32_t opacityOf(uint32_t colour, uint32_t flags) { return flags & 1 ? colour >> 24 : 255; }

void hostFill(void *pixels, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour, uint32_t flags,
              const qxTagItem *tags)
{
    const qxTagItem *pitch = findTag(tags, 2);
    if (!pixels || !pitch) return;
    if (const qxTagItem *t = findTag(tags, 3); t && t->data)
        qxClipRectToBounds(reinterpret_cast<const qxClipRect *>(t->data), &x, &y, &w, &h, nullptr, nullptr);
    if (w < 1 || h < 1) return;
    qxSoftRectFill(pixels, x, y, w, h, colour & 0xFFFFFF, opacityOf(colour, flags), int32_t(pitch->data),
                   uint32_t(tagValue(tags, 1, 10)));
}

void hostPixel(void *pixels, int32_t x, int32_t y, uint32_t colour, uint32_t flags, const qxTagItem *tags)
{
    hostFill(pixels, x, y, 1, 1, colour, flags, tags);
}

void hostLine(void *pixels, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour, uint32_t flags,
              const qxTagItem *tags)
{
    const qxTagItem *pitch = findTag(tags, 2);
    if (!pixels || !pitch) return;
    int32_t width = INT32_MAX, height = INT32_MAX;
    if (const qxTagItem *t = findTag(tags, 3); t && t->data) {
        auto *c = reinterpret_cast<const int32_t *>(t->data); // left, top, right, bottom
        if (!qxClipLineSpan(&x1, &y1, &x2, &y2, c[0], c[2] - 1, 0) ||
            !qxClipLineSpan(&x1, &y1, &x2, &y2, c[1], c[3] - 1, 1))
            return;
        width = std::max(c[2], 0), height = std::max(c[3], 0);
    }
    qxSoftDrawLine(pixels, x1, y1, x2, y2, colour & 0xFFFFFF, opacityOf(colour, flags), uint32_t(tagValue(tags, 1, 10)),
                   int32_t(pitch->data), width, height);
}

// A record made by us starts with its kind, width and height.
qxBitMap wrap(void *record)
{
    qxBitMap h{};
    if (record) {
        auto *p = static_cast<const uint32_t *>(record);
        h.kind = p[0], h.data = record, h.width = p[1], h.height = p[2];
    }
    return h;
}

uint32_t *hostArgb(void *bitmap, void *mask, void *alpha, const qxTagItem *tags)
{
    if (!bitmap) return nullptr;
    qxBitMap b = wrap(bitmap), m = wrap(mask), a = wrap(alpha);
    int32_t x = int32_t(tagValue(tags, 1, 0)), y = int32_t(tagValue(tags, 2, 0));
    int32_t w = int32_t(tagValue(tags, 3, uintptr_t(qxAdapterGetBitMapAttr(bitmap, 0))));
    int32_t h = int32_t(tagValue(tags, 4, uintptr_t(qxAdapterGetBitMapAttr(bitmap, 1))));
    return qxBitMapToARGBMasked(&b, x, y, w, h, mask ? &m : nullptr, alpha ? &a : nullptr, 0xFFFFFFFFu, 1, 2);
}

uint32_t hostColorToPixel(uint32_t colour, uint32_t format) { return qxColorToPixel(colour, format, 1); }
uint32_t hostPixelToColor(uint32_t pixel, uint32_t format) { return qxPixelToColor(pixel, format, 1); }

int hostConvert(const void *src, void *dst, const qxHostConvertRecord *r, uint32_t flags)
{
    if (!src || !r) return 0;
    void *out = qxConvertPixelBuffer(src, int32_t(r->sx), int32_t(r->sy), int32_t(r->sourceWidth),
                                     int32_t(r->sourceHeight), dst, int32_t(r->dx), int32_t(r->dy),
                                     int32_t(r->destWidth), int32_t(r->destHeight), int32_t(r->sourceRowLength),
                                     int32_t(r->destRowLength), r->pixelFormat, flags & 1);
    if (!out) return 0;
    // Without a destination the plug-in has no way to reach the new buffer.
    if (!dst) qxFree(out);
    return 1;
}

} // namespace

#define F(x) reinterpret_cast<qxHostFunc>(x)

extern "C" {

int qxClipLineSpan(int32_t *x1, int32_t *y1, int32_t *x2, int32_t *y2, int32_t lo, int32_t hi, int axis)
{
    int32_t *a1 = axis ? y1 : x1, *b1 = axis ? x1 : y1, *a2 = axis ? y2 : x2, *b2 = axis ? x2 : y2;
    if (hi < lo || (*a1 < lo && *a2 < lo) || (*a1 > hi && *a2 > hi)) return 0;
    auto cut = [&](int32_t *a, int32_t *b, int32_t bound) {
        // The other end stays where it is; this one slides along the line.
        int32_t *oa = a == a1 ? a2 : a1, *ob = b == b1 ? b2 : b1;
        int64_t da = int64_t(*oa) - *a, db = int64_t(*ob) - *b;
        *b = int32_t(*b + (int64_t(bound) - *a) * db / da);
        *a = bound;
    };
    if (*a1 < lo) cut(a1, b1, lo);
    else if (*a1 > hi) cut(a1, b1, hi);
    if (*a2 < lo) cut(a2, b2, lo);
    else if (*a2 > hi) cut(a2, b2, hi);
    return 1;
}

void qxInstallBitMapHostSlots(qxHostFunc *g)
{
    g[16] = F(hostLock);
    g[17] = F(hostUnlock);
    g[21] = F(hostBlit);
    g[22] = F(hostFill);
    g[23] = F(hostPixel);
    g[24] = F(hostLine);
    g[25] = F(hostArgb);
    g[26] = F(qxAdapterGetBitMapAttr);
    g[27] = F(hostColorToPixel);
    g[28] = F(hostPixelToColor);
    g[35] = F(hostConvert);
}
}
