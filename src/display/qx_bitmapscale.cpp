// Scaling of bitmap handles with their masks and alpha channels.
#include "display/qx_bitmapscale.h"
#include "display/qx_bitmaptransform.h"

#include <algorithm>
#include <vector>

#include "core/errors/qx_errors.h"
#include "core/plugins/qx_plugins.h"
#include "display/qx_bitmapplanes.h"
#include "imaging/qx_scale.h"

namespace {
// The program's scale tables: grown on demand, never shrunk.
int32_t xCapacity, yCapacity;
int32_t *xTable, *yTable;

// The destination span [first, end) of one axis whose pixels read a source
// position in [a, b), by the kernel's own mapping: the truncated 16.16 step
// across, the single-precision row sum down, the table of the smooth
// scaler (which reads position and position + 1). Each mapping rises with
// the destination index, so the span's ends are found by bisection.
struct Span {
    int32_t first, end;
};

template <typename F> int32_t firstReaching(int32_t n, int64_t v, F pos)
{
    int32_t lo = 0, hi = n;
    while (lo < hi) {
        const int32_t mid = lo + (hi - lo) / 2;
        if (pos(mid) >= v) hi = mid;
        else lo = mid + 1;
    }
    return lo;
}

template <typename F> Span spanOf(int32_t dst, int64_t a, int64_t b, F pos)
{
    return {firstReaching(dst, a, pos), firstReaching(dst, b, pos)};
}

Span nearestColumns(int32_t src, int32_t dst, int32_t a, int32_t b)
{
    const uint64_t step = uint32_t(float(src) / float(dst) * 65536.0f);
    return spanOf(dst, a, b, [&](int32_t i) { return std::min<int64_t>(int64_t((uint64_t(i) * step) >> 16), src - 1); });
}

// The source row of each destination row for the last height pair: the
// running sum is sequential, so it is walked once per pair of heights.
const std::vector<int32_t> &nearestRowTable(int32_t src, int32_t dst)
{
    thread_local std::vector<int32_t> rows;
    thread_local int32_t rowsSrc = 0, rowsDst = 0;
    if (rowsSrc != src || rowsDst != dst || rows.size() != size_t(dst)) {
        rows.resize(size_t(dst));
        const float step = float(src) / float(dst);
        float acc = 0;
        for (int32_t j = 0; j < dst; ++j, acc += step) rows[size_t(j)] = std::min(int32_t(acc), src - 1);
        rowsSrc = src, rowsDst = dst;
    }
    return rows;
}

Span nearestRows(int32_t src, int32_t dst, int32_t a, int32_t b)
{
    const std::vector<int32_t> &rows = nearestRowTable(src, dst);
    return spanOf(dst, a, b, [&](int32_t j) { return int64_t(rows[size_t(j)]); });
}

template <typename P>
void gatherRows(const qxBitMapLock &s, const qxBitMapLock &d, const std::vector<int32_t> &cols,
                const std::vector<int32_t> &rows, int32_t height)
{
    for (int32_t j = 0; j < height; ++j) {
        P *out = static_cast<P *>(d.pixels) + int64_t(j) * d.pixelsPerRow;
        if (j > 0 && rows[size_t(j)] == rows[size_t(j - 1)]) {
            std::copy_n(out - d.pixelsPerRow, cols.size(), out);
            continue;
        }
        const P *in = static_cast<const P *>(s.pixels) + int64_t(rows[size_t(j)]) * s.pixelsPerRow;
        for (size_t i = 0; i < cols.size(); ++i) out[i] = in[cols[i]];
    }
}

Span smoothSpan(int32_t src, int32_t dst, int32_t a, int32_t b)
{
    const int64_t step = dst > 1 ? int64_t((src - 1) * 65536.0 / (dst - 1)) : 0;
    const int64_t cap = int64_t(src) * 65536 - 1;
    // Position p also reads p + 1: a change at a reaches back to a - 1.
    return spanOf(dst, int64_t(a) - 1, b, [&](int32_t i) { return std::min(int64_t(i) * step, cap) >> 16; });
}
} // namespace

extern "C" {

int qxScalePixels(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t x, int32_t y, qxBitMap *destination,
                  int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height, uint32_t smooth,
                  uint32_t extra, qxBitMap **outBitmap, qxBitMap **outMask, qxBitMap **outAlpha)
{
    if (bitmap && qxGetBitMapAttr(bitmap, 18) && qxPlatformHasCap(4)) {
        // A plain scaling request names the source size and the smooth flag;
        // tag 5 is an adapter's transform (a pointer to four values), so it
        // is sent only when a caller gives one.
        qxBitMapTag tags[6] = {{1, uint64_t(uintptr_t(bitmap->data))},
                               {2, uint64_t(uint32_t(sourceWidth))},
                               {3, uint64_t(uint32_t(sourceHeight))}};
        size_t n = 3;
        if (extra) tags[n++] = {5, extra};
        tags[n++] = {4, smooth};
        tags[n] = {0, 0};
        qxBitMap *v = width > 0 && height > 0 ? qxAllocBitMap(uint32_t(width), uint32_t(height), 8, tags) : nullptr;
        if (v && v->video) {
            if (outBitmap) *outBitmap = v;
            if (outMask) *outMask = nullptr;
            if (outAlpha) *outAlpha = nullptr;
            return 0;
        }
        qxFreeBitMap(v);
        if (qxDisplayAdapter && !(qxAdapterFlags() & 4)) return ERR_BITMAP;
    }
    if (width < 1 || height < 1) return 0;
    if (!bitmap || sourceWidth < 1 || sourceHeight < 1) return 0;
    // An adapter's video bitmap is read into a temporary first.
    qxVideoReadBack readBack;
    if (int e = qxReadBackVideo(&bitmap, &readBack, !destination && outAlpha ? &alpha : nullptr, mask)) return e;
    if (int e = qxEnsureScaleTables(width, height, &xCapacity, &yCapacity, &xTable, &yTable)) return e;
    qxBitMap *rb = destination, *rm = nullptr, *ra = nullptr;
    auto fail = [&](int e) {
        if (!destination) qxFreeBitMap(rb), qxFreeMaskBitMap(rm), qxFreeAlphaBitMap(ra);
        return e;
    };
    if (!destination) {
        if (!(rb = qxAllocBitMap(uint32_t(width), uint32_t(height), 0, nullptr))) return ERR_BITMAP;
        if (mask && !(rm = qxAllocMaskBitMap(rb, uint32_t(width), uint32_t(height), 1, nullptr, 0)))
            return fail(ERR_ALLOCMASK);
        if (alpha && !(ra = qxAllocAlphaBitMap(uint32_t(width), uint32_t(height), 1, nullptr, 0)))
            return fail(ERR_ALLOCALPHA);
    }
    qxBitMapLock s, d;
    if (!qxLockBitMap(bitmap, 1, &s)) return fail(ERR_LOCKBMAP);
    if (!qxLockBitMap(rb, 0, &d)) {
        qxUnLockBitMap(&s);
        return fail(ERR_LOCKBMAP);
    }
    // A rectangle reaching beyond either bitmap is refused: the result would
    // hold pixels nobody wrote.
    bool inside = x >= 0 && y >= 0 && int64_t(x) + sourceWidth <= s.width && int64_t(y) + sourceHeight <= s.height &&
                  uint32_t(width) <= d.width && uint32_t(height) <= d.height && s.bytesPerPixel == d.bytesPerPixel;
    if (!inside) {
        qxUnLockBitMap(&d);
        qxUnLockBitMap(&s);
        return fail(s.bytesPerPixel == d.bytesPerPixel ? ERR_COORDSRANGE : ERR_WRONGUSAGE);
    }
    {
        qxScaleRecord r{};
        r.sourcePixels = static_cast<const uint8_t *>(s.pixels) + (int64_t(y) * s.pixelsPerRow + x) * s.bytesPerPixel;
        r.destPixels = d.pixels;
        qxPlane sm = qxPlaneOf(mask), dm = qxPlaneOf(rm), sa = qxPlaneOf(alpha), da = qxPlaneOf(ra);
        if (sm.bytes && dm.bytes && int64_t(x) + sourceWidth <= sm.width && int64_t(y) + sourceHeight <= sm.height &&
            width <= dm.width && height <= dm.height) {
            r.sourceMask = sm.bytes + int64_t(y) * sm.bytesPerRow, r.destMask = dm.bytes;
            r.sourceMaskBytesPerRow = sm.bytesPerRow, r.destMaskBytesPerRow = dm.bytesPerRow;
        }
        if (sa.bytes && da.bytes && int64_t(x) + sourceWidth <= sa.width && int64_t(y) + sourceHeight <= sa.height &&
            width <= da.width && height <= da.height) {
            r.sourceAlpha = sa.bytes + int64_t(y) * sa.bytesPerRow + x, r.destAlpha = da.bytes;
            r.sourceAlphaBytesPerRow = sa.bytesPerRow, r.destAlphaBytesPerRow = da.bytesPerRow;
        }
        r.sx = x, r.sy = y;
        r.sourceWidth = sourceWidth, r.sourceHeight = sourceHeight, r.destWidth = width, r.destHeight = height;
        r.sourcePitch = int32_t(s.pixelsPerRow), r.destPitch = int32_t(d.pixelsPerRow);
        r.smooth = smooth, r.layout = d.pixelFormat, r.bytesPerPixel = d.bytesPerPixel;
        r.xTable = xTable, r.yTable = yTable;
        qxScaleBitmap(&r);
    }
    qxUnLockBitMap(&d);
    qxUnLockBitMap(&s);
    if (!destination) {
        if (outBitmap) *outBitmap = rb;
        else qxFreeBitMap(rb);
        if (outMask) *outMask = rm;
        else qxFreeMaskBitMap(rm);
        if (outAlpha) *outAlpha = ra;
        else qxFreeAlphaBitMap(ra);
    }
    return 0;
}

int qxScaledRectOf(int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height, uint32_t smooth,
                   int32_t x, int32_t y, int32_t w, int32_t h, qxClipRect *out)
{
    *out = {};
    if (sourceWidth < 1 || sourceHeight < 1 || width < 1 || height < 1 || w < 1 || h < 1) return 0;
    const int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
    const int64_t x1 = std::min<int64_t>(int64_t(x) + w, sourceWidth), y1 = std::min<int64_t>(int64_t(y) + h, sourceHeight);
    if (x0 >= x1 || y0 >= y1) return 0;
    const Span c = smooth ? smoothSpan(sourceWidth, width, int32_t(x0), int32_t(x1))
                          : nearestColumns(sourceWidth, width, int32_t(x0), int32_t(x1));
    const Span r = smooth ? smoothSpan(sourceHeight, height, int32_t(y0), int32_t(y1))
                          : nearestRows(sourceHeight, height, int32_t(y0), int32_t(y1));
    if (c.first >= c.end || r.first >= r.end) return 0;
    *out = {c.first, r.first, c.end - c.first, r.end - r.first};
    return 1;
}

// A part of a width x height scaled picture that lies wholly inside it.
static bool partInside(const qxClipRect *part, int32_t width, int32_t height)
{
    return part->x >= 0 && part->y >= 0 && part->width >= 1 && part->height >= 1 &&
           int64_t(part->x) + part->width <= width && int64_t(part->y) + part->height <= height;
}

int qxScalePixelsPart(qxBitMap *bitmap, qxBitMap *destination, int32_t width, int32_t height, uint32_t smooth,
                      const qxClipRect *part)
{
    if (!bitmap || !destination || !part || width < 1 || height < 1) return ERR_WRONGUSAGE;
    if (!partInside(part, width, height)) return ERR_COORDSRANGE;
    if (int e = qxEnsureScaleTables(width, height, &xCapacity, &yCapacity, &xTable, &yTable)) return e;
    qxBitMapLock s, d;
    if (!qxLockBitMap(bitmap, 1, &s)) return ERR_LOCKBMAP;
    if (!qxLockBitMap(destination, 0, &d)) {
        qxUnLockBitMap(&s);
        return ERR_LOCKBMAP;
    }
    int r = 0;
    if (s.bytesPerPixel != d.bytesPerPixel) r = ERR_WRONGUSAGE;
    else if (uint32_t(part->width) > d.width || uint32_t(part->height) > d.height) r = ERR_COORDSRANGE;
    else {
        qxScaleRecord q{};
        q.sourcePixels = s.pixels, q.destPixels = d.pixels;
        q.sourceWidth = int32_t(s.width), q.sourceHeight = int32_t(s.height);
        q.destWidth = width, q.destHeight = height;
        q.sourcePitch = int32_t(s.pixelsPerRow), q.destPitch = int32_t(d.pixelsPerRow);
        q.smooth = smooth, q.layout = d.pixelFormat, q.bytesPerPixel = d.bytesPerPixel;
        q.xTable = xTable, q.yTable = yTable;
        q.windowX = part->x, q.windowY = part->y, q.windowWidth = part->width, q.windowHeight = part->height;
        qxScaleBitmap(&q);
    }
    qxUnLockBitMap(&d);
    qxUnLockBitMap(&s);
    return r;
}

int qxScalePixelsPiece(qxBitMap *piece, int32_t x, int32_t y, int32_t sourceWidth, int32_t sourceHeight,
                       qxBitMap *destination, int32_t width, int32_t height, const qxClipRect *part)
{
    if (!piece || !destination || !part || sourceWidth < 1 || sourceHeight < 1 || width < 1 || height < 1)
        return ERR_WRONGUSAGE;
    if (!partInside(part, width, height)) return ERR_COORDSRANGE;
    qxBitMapLock s, d;
    if (!qxLockBitMap(piece, 1, &s)) return ERR_LOCKBMAP;
    if (!qxLockBitMap(destination, 0, &d)) {
        qxUnLockBitMap(&s);
        return ERR_LOCKBMAP;
    }
    // The whole picture's columns and rows, cut to the piece's own: a part
    // reaching past the piece repeats its edge.
    const uint64_t step = uint32_t(float(sourceWidth) / float(width) * 65536.0f);
    std::vector<int32_t> cols(size_t(part->width)), rows(size_t(part->height));
    const std::vector<int32_t> &all = nearestRowTable(sourceHeight, height);
    const int32_t lastX = int32_t(s.width) - 1, lastY = int32_t(s.height) - 1;
    for (int32_t i = 0; i < part->width; ++i) {
        const int64_t c = std::min<int64_t>(int64_t((uint64_t(part->x + i) * step) >> 16), sourceWidth - 1) - x;
        cols[size_t(i)] = int32_t(std::clamp<int64_t>(c, 0, lastX));
    }
    for (int32_t j = 0; j < part->height; ++j)
        rows[size_t(j)] = std::clamp(all[size_t(part->y + j)] - y, 0, lastY);
    int r = 0;
    if (s.bytesPerPixel != d.bytesPerPixel || (s.bytesPerPixel != 2 && s.bytesPerPixel != 4)) r = ERR_WRONGUSAGE;
    else if (uint32_t(part->width) > d.width || uint32_t(part->height) > d.height) r = ERR_COORDSRANGE;
    else if (s.bytesPerPixel == 4) gatherRows<uint32_t>(s, d, cols, rows, part->height);
    else gatherRows<uint16_t>(s, d, cols, rows, part->height);
    qxUnLockBitMap(&d);
    qxUnLockBitMap(&s);
    return r;
}
}
