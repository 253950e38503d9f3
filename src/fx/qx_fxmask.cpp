// Effects that reveal the new picture through a mask or show it in
// blocks: dissolve, pixel zoom, clock wipe, sun and star.
#include <algorithm>
#include <climits>
#include <cstdlib>

#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapplanes.h"
#include "display/qx_gfxgeom.h"
#include "fx/qx_fxpaint.h"
#include "fx/qx_fxrand.h"
#include "fx/qx_fxrenderers.h"
#include "imaging/qx_areaeffects.h"
#include "imaging/qx_transitionkernels.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

namespace {

enum : int32_t { STAR = 98, PIXELZOOM1 = 132, PIXELZOOM2 = 133 };
constexpr uint32_t REGION_COMPOSE = 0x10, REGION_NOSHOW = 8;

int32_t clampI32(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// The reveal planes shared by the mask effects.
struct Reveal {
    qxBitMap *work, *mask, *alpha;
};

int allocReveal(qxTransitionFX *fx, Reveal &r)
{
    if (!(r.work = qxFXNewWork(fx))) return ERR_BITMAP;
    if (!(r.mask = qxAllocMaskBitMap(fx->newImage, uint32_t(fx->width), uint32_t(fx->height), 1, nullptr, 0)))
        return ERR_ALLOCMASK;
    if (fx->newAlpha && !fx->reverse &&
        !(r.alpha = qxAllocAlphaBitMap(uint32_t(fx->width), uint32_t(fx->height), 1, nullptr, 0)))
        return ERR_ALLOCALPHA;
    return 0;
}

void dropReveal(Reveal &r) { qxFXDrop(r.work), qxFXDropMask(r.mask), qxFXDropAlpha(r.alpha); }

// The new picture's own planes cut what the reveal mask lets through.
void combinePlanes(qxTransitionFX *fx, Reveal &r)
{
    if (fx->newMask) qxMaskCopyOp(fx->newMask, 0, 0, r.mask, 0, 0, fx->width, fx->height, 4, nullptr, 0);
    if (fx->newAlpha && r.alpha) qxFXMaskAlpha(r.mask, r.alpha, fx->newAlpha, fx->width, fx->height, 0);
}

// A real-time hide: the layer keeps its picture where the reveal mask is
// clear and turns transparent where it is set.
void hideRevealed(qxTransitionFX *fx, Reveal &r, uint32_t flags)
{
    qxFXPlanes p;
    if (!qxFXLayerPlanes(fx, &p)) return;
    const int32_t W = fx->width, H = fx->height;
    if (p.alpha) {
        qxBitMap *full = fx->newAlpha ? nullptr : qxFXMakeAlpha(fx->newMask, nullptr, W, H);
        qxFXMaskAlpha(r.mask, p.alpha, fx->newAlpha ? fx->newAlpha : full, W, H, 1);
        qxFXDropAlpha(full);
    } else if (p.mask) {
        if (fx->newMask) qxMaskCopyOp(fx->newMask, 0, 0, p.mask, 0, 0, W, H, 2, nullptr, 0);
        else qxMaskRowOp(p.mask, 0, 0, W, H, 0);
        qxMaskCopyOp(r.mask, 0, 0, p.mask, 0, 0, W, H, 1, nullptr, 0);
    }
    if (!(flags & REGION_NOSHOW) && !fx->layerTransformed && !fx->viaBackBuffer) qxFXShowBackBuffer(fx);
}

// The new picture through the reveal planes over the old one, from area
// position (x0, y0) to the area's bottom-right corner.
void drawRevealed(qxTransitionFX *fx, Reveal &r, int32_t x0, int32_t y0, int32_t w, int32_t h, uint32_t flags)
{
    if (fx->realtime && fx->reverse) return hideRevealed(fx, r, flags);
    x0 = std::clamp(x0, 0, fx->width), y0 = std::clamp(y0, 0, fx->height);
    w = std::min(w, fx->width - x0), h = std::min(h, fx->height - y0);
    if (w < 1 || h < 1) return;
    qxFXBlitRegion(fx->newImage, x0, y0, nullptr, fx->x + x0, fx->y + y0, w, h, fx->width, fx->height, fx->bgWidth,
                   fx->bgHeight, fx->blitFlags, flags, fx->oldImage, r.alpha ? nullptr : r.mask, r.work, r.alpha, fx);
}

// The area before the transition, and an empty reveal mask (seeks).
void resetReveal(qxTransitionFX *fx, Reveal &r)
{
    if (!fx->redrawn) qxFXPaint(fx, fx->oldImage, 0, 0, fx->width, fx->height, 0, 0, nullptr, nullptr, true);
    qxMaskRowOp(r.mask, 0, 0, fx->width, fx->height, 1);
    if (r.alpha) qxFillBitMapRect(r.alpha, 0, 0, fx->width, fx->height, 0);
}

// Polygon buffers: a polygon of up to n points and its clipped forms.
struct Polygon {
    qxPoint *a, *b;
    int32_t *scratch;
    int32_t capacity;
};

int allocPolygon(Polygon &p, int32_t points)
{
    // Each of the four clips at most doubles the count.
    p.capacity = 16 * (points + 1) + 16;
    p.a = static_cast<qxPoint *>(qxAlloc(sizeof(qxPoint) * size_t(p.capacity), 0));
    p.b = static_cast<qxPoint *>(qxAlloc(sizeof(qxPoint) * size_t(p.capacity), 0));
    p.scratch = static_cast<int32_t *>(qxAlloc(sizeof(int32_t) * size_t(p.capacity), 0));
    return p.a && p.b && p.scratch ? 0 : ERR_MEM;
}

void dropPolygon(Polygon &p)
{
    qxFree(p.a), qxFree(p.b), qxFree(p.scratch);
    p.a = p.b = nullptr, p.scratch = nullptr;
}

// Clips the n points in p.a to the area; the result is in p.a.
int32_t clipToArea(Polygon &p, int32_t n, int32_t W, int32_t H)
{
    const int32_t value[4] = {0, 0, W - 1, H - 1};
    for (int side = 0; side < 4 && n > 0; ++side) {
        if (2 * n + 1 > p.capacity) return 0;
        n = qxClipPolygonEdge(n, p.a, p.b, value[side], side);
        std::swap(p.a, p.b);
    }
    return n;
}

void fillClipped(qxTransitionFX *fx, Polygon &p, int32_t n, qxBitMap *mask)
{
    n = clipToArea(p, n, fx->width, fx->height);
    if (n >= 2) qxFillMaskPolygon(mask, p.a, n, p.scratch);
}

} // namespace

// ---- dissolve ----

namespace {
struct DissolveData {
    qxBitMap *work, *mask;
    int32_t level;
    qxDissolveRecord record;
    uint8_t *map;
};
// Real-time dissolve: the layer shows the new picture, and the kernel
// writes its plane (alpha from the new alpha, else mask bits from the new
// mask) afresh each frame; a hide hides the pixels in the same order.
int dissolveLayer(qxTransitionFX *fx, DissolveData *d, int *done)
{
    const int32_t W = fx->width, H = fx->height;
    qxFXPlanes p;
    if (!qxFXLayerPlanes(fx, &p)) return ERR_NOLAYERS;
    const uint32_t quiet = fx->drawing || fx->layerTransformed || fx->viaBackBuffer ? 8 : 0;
    if (fx->phase == 2) qxFXCompose(fx->newImage, 0, 0, p.image, 0, 0, W, H, nullptr, nullptr);
    const bool alpha = fx->newAlpha && p.alpha;
    const qxPlane from = qxPlaneOf(alpha ? fx->newAlpha : fx->newMask), to = qxPlaneOf(alpha ? p.alpha : p.mask);
    if (!to.bytes) return ERR_NOLAYERS;
    if (d->level < 256) {
        qxDissolveRecord r = {from.bytes, to.bytes, W, H, from.bytesPerRow, to.bytesPerRow, d->map, alpha,
                              fx->reverse};
        qxDissolveKernel(&r, d->level);
    } else {
        if (done) *done = 1;
        if (fx->reverse) {
            qxFXDrawRect(nullptr, 0, 0, p.image, p.mask, p.alpha, 0, 0, W, H, W, H, W, H, nullptr, nullptr, fx, 12);
        } else if (alpha) {
            qxBltAlpha(fx->newAlpha, 0, 0, p.alpha, 0, 0, W, H, 0, 0);
        } else if (fx->newMask) {
            qxMaskCopyOp(fx->newMask, 0, 0, p.mask, 0, 0, W, H, 2, nullptr, 0);
        } else {
            qxMaskRowOp(p.mask, 0, 0, W, H, 0);
        }
    }
    if (fx->phase == 1) {
        if (!quiet) qxFXShowBackBuffer(fx);
        qxFXFrameEnd(fx);
    }
    return 0;
}

} // namespace

extern "C" {

int qxFXDissolveStep(qxTransitionFX *fx, int *done)
{
    const int32_t W = fx->width, H = fx->height;
    auto *d = static_cast<DissolveData *>(fx->data);
    if (fx->phase == 0) {
        qxFXResetDisplayReverse(fx);
        if (!(d = qxFXNewData<DissolveData>(fx))) return ERR_MEM;
        int32_t s = fx->speed == -2 ? 8 : fx->speed == -1 ? 4 : fx->speed == -3 ? 2 : std::clamp(fx->speed, 1, 8);
        fx->speed = s;
        qxFXPlanes p;
        if (fx->realtime) {
            if (!qxFXLayerPlanes(fx, &p)) return ERR_NOLAYERS;
            qxFXCompose(fx->newImage, 0, 0, p.image, 0, 0, W, H, nullptr, nullptr);
        } else {
            if (!(d->work = qxFXNewWork(fx))) return ERR_BITMAP;
            if (!(d->mask = qxAllocMaskBitMap(fx->newImage, uint32_t(W), uint32_t(H), 1, nullptr, 0)))
                return ERR_ALLOCMASK;
        }
        size_t cells;
        if (!qxMulSize(size_t(W), size_t(H), &cells) || !(d->map = static_cast<uint8_t *>(qxAlloc(cells, 0))))
            return ERR_MEM;
        qxFXRandMod255(d->map, cells);
        qxPlane m = qxPlaneOf(d->mask);
        d->record = {nullptr, m.bytes, W, H, 0, m.bytesPerRow, d->map, 0, 0};
        fx->frames = qxFXFrameCount(256, s, 1);
        return 0;
    }
    if (fx->phase == 2) d->level = clampI32(int64_t(fx->speed) * fx->frame);
    else {
        qxFXFrameStart(fx);
        d->level = clampI32(int64_t(d->level) + fx->speed);
    }
    if (fx->realtime) return dissolveLayer(fx, d, done);
    if (d->level < 256) {
        qxDissolveKernel(&d->record, d->level);
    } else {
        if (done) *done = 1;
        // The kernel's thresholds reach 254, its last level may not: the
        // last frame reveals every pixel.
        qxMaskRowOp(d->mask, 0, 0, W, H, 0);
    }
    Reveal r{d->work, d->mask, nullptr};
    if (fx->newMask) qxMaskCopyOp(fx->newMask, 0, 0, r.mask, 0, 0, W, H, 4, nullptr, 0);
    drawRevealed(fx, r, 0, 0, W, H, REGION_COMPOSE);
    if (fx->phase == 1) qxFXFrameEnd(fx);
    return 0;
}

void qxFXDissolveCleanup(qxTransitionFX *fx)
{
    auto *d = static_cast<DissolveData *>(fx->data);
    qxFree(d->map);
    d->map = nullptr;
    qxFXDropMask(d->mask), qxFXDrop(d->work);
}

} // extern "C"

// ---- pixel zoom ----

namespace {
struct PixelZoomData {
    qxBitMap *work, *mask, *alpha, *compose;
    int32_t i;
};

// Copies the picture (with the new picture's planes) into the work planes
// and runs the block kernel on them at block size b.
void pixelate(qxTransitionFX *fx, PixelZoomData *d, qxBitMap *picture, bool isNew, int32_t b)
{
    const int32_t W = fx->width, H = fx->height;
    qxFXCompose(picture, 0, 0, d->work, 0, 0, W, H, nullptr, nullptr);
    if (isNew && d->mask && fx->newMask) qxMaskCopyOp(fx->newMask, 0, 0, d->mask, 0, 0, W, H, 2, nullptr, 0);
    if (isNew && d->alpha && fx->newAlpha) qxBltAlpha(fx->newAlpha, 0, 0, d->alpha, 0, 0, W, H, 0, 0);
    qxBitMapLock l;
    if (!qxLockBitMap(d->work, 0, &l)) return;
    qxPlane m = isNew ? qxPlaneOf(d->mask) : qxPlane{}, a = isNew ? qxPlaneOf(d->alpha) : qxPlane{};
    const int32_t w = std::min<int64_t>(W, l.width), h = std::min<int64_t>(H, l.height);
    if (l.bytesPerPixel == 4)
        qxPixelate32(static_cast<uint32_t *>(l.pixels), int32_t(l.pixelsPerRow), m.bytes, m.bytesPerRow, a.bytes,
                     a.bytesPerRow, w, h, b);
    else if (l.bytesPerPixel == 2)
        qxPixelate16(static_cast<uint16_t *>(l.pixels), int32_t(l.pixelsPerRow), m.bytes, m.bytesPerRow, a.bytes,
                     a.bytesPerRow, w, h, b);
    qxUnLockBitMap(&l);
}
// Real-time: the frame's picture (blocks from the work planes, or the new
// picture itself at block size 1) replaces the layer's image and planes.
void pixelZoomIntoLayer(qxTransitionFX *fx, PixelZoomData *d, bool isNew, int32_t b)
{
    qxFXPlanes l;
    if (!qxFXLayerPlanes(fx, &l)) return;
    const bool quiet = fx->phase == 2 || fx->drawing || fx->layerTransformed || fx->viaBackBuffer;
    qxBitMap *src = b > 1 ? d->work : isNew ? fx->newImage : fx->oldImage;
    qxBitMap *m = !isNew ? nullptr : b > 1 ? d->mask : fx->newMask;
    qxBitMap *a = !isNew ? nullptr : b > 1 ? d->alpha : fx->newAlpha;
    qxFXDrawRect(b < 1 ? nullptr : src, 0, 0, l.image, l.mask, l.alpha, 0, 0, fx->width, fx->height, fx->width,
                 fx->height, l.width, l.height, m, a, fx, (b < 1 ? 4 : 0) | (quiet ? 8 : 0));
}

} // namespace

extern "C" {

int qxFXPixelZoomStep(qxTransitionFX *fx, int *done)
{
    const int32_t W = fx->width, H = fx->height;
    auto *d = static_cast<PixelZoomData *>(fx->data);
    if (fx->phase == 0) {
        qxFXResetDisplayReverse(fx);
        if (!(d = qxFXNewData<PixelZoomData>(fx))) return ERR_MEM;
        if (!(d->work = qxFXNewWork(fx))) return ERR_BITMAP;
        if (fx->newMask || fx->newAlpha) {
            if (!fx->realtime && !(d->compose = qxFXNewWork(fx))) return ERR_BITMAP;
            if (fx->newMask &&
                !(d->mask = qxAllocMaskBitMap(fx->newImage, uint32_t(W), uint32_t(H), 1, nullptr, 0)))
                return ERR_ALLOCMASK;
            if (fx->newAlpha && !(d->alpha = qxAllocAlphaBitMap(uint32_t(W), uint32_t(H), 1, nullptr, 0)))
                return ERR_ALLOCALPHA;
        }
        fx->frames = fx->effect == PIXELZOOM2 ? 49 : 25;
        return 0;
    }
    if (fx->phase == 2) d->i = fx->frame;
    else {
        qxFXFrameStart(fx);
        d->i++;
    }
    const int32_t i = d->i;
    // On a layer without an emulated BGPic there is no old picture to grow.
    const bool two = fx->effect == PIXELZOOM2 && (!fx->realtime || fx->bgpicEmu);
    qxBitMap *picture = fx->newImage;
    int32_t b = 0;
    if (fx->reverse) {
        if (i >= 25) {
            if (done) *done = 1;
            if (fx->realtime) pixelZoomIntoLayer(fx, d, true, 0);
            else qxFXPaint(fx, fx->oldImage, 0, 0, W, H, 0, 0, nullptr, nullptr, true);
        } else {
            b = i + 1;
        }
    } else if (two && i <= 23) {
        picture = fx->oldImage, b = i + 1;
    } else if (i < (two ? 49 : 25)) {
        b = (two ? 49 : 25) - i;
    } else {
        if (done) *done = 1;
        // Played, this frame draws nothing and shows the whole new picture
        // the frame before it left; a seek starts from any frame's picture,
        // so it draws that one.
        if (fx->phase == 2) b = 1;
    }
    if (b >= 1) {
        const bool isNew = picture == fx->newImage, planes = fx->newMask || fx->newAlpha;
        if (fx->bgpicEmu && two) qxFXRefreshSources(fx, isNew ? 2 : 3);
        if (b > 1) pixelate(fx, d, picture, isNew, b);
        if (fx->realtime) {
            pixelZoomIntoLayer(fx, d, isNew, b);
        } else if (!planes || !isNew) {
            // The old picture is shown whole; its blocks have no planes.
            qxFXPaint(fx, b > 1 ? d->work : picture, 0, 0, W, H, 0, 0, nullptr, nullptr, true);
        } else {
            qxFXCompose(fx->oldImage, 0, 0, d->compose, 0, 0, W, H, nullptr, nullptr);
            if (b == 1) qxFXCompose(fx->newImage, 0, 0, d->compose, 0, 0, W, H, fx->newMask, fx->newAlpha);
            else qxFXCompose(d->work, 0, 0, d->compose, 0, 0, W, H, d->mask, d->alpha);
            qxFXPaint(fx, d->compose, 0, 0, W, H, 0, 0, nullptr, nullptr, true);
        }
    }
    if (fx->phase == 1) qxFXFrameEnd(fx);
    return 0;
}

void qxFXPixelZoomCleanup(qxTransitionFX *fx)
{
    auto *d = static_cast<PixelZoomData *>(fx->data);
    qxFXDrop(d->compose), qxFXDropMask(d->mask), qxFXDropAlpha(d->alpha), qxFXDrop(d->work);
}

} // extern "C"

// ---- clock wipe ----

namespace {
struct ClockData {
    Reveal reveal;
    Polygon polygon;
    int32_t cx, cy, px, py, side;
    uint32_t corner, counting, complete;
};

void clockStart(qxTransitionFX *fx, ClockData *d)
{
    d->px = fx->width / 2, d->py = 0, d->cx = clampI32(int64_t(fx->width / 2) + fx->speed), d->cy = 0;
    d->side = 0, d->corner = 0;
}

// The wedge swept since the previous frame.
int32_t clockWedge(qxTransitionFX *fx, ClockData *d)
{
    const int32_t W = fx->width, H = fx->height;
    qxPoint *p = d->polygon.a;
    int32_t n = 0;
    p[n++] = {W / 2, H / 2};
    p[n++] = {d->px, d->py};
    if (d->corner) {
        switch (d->side) {
        case 1: p[n++] = {W - 1, d->py}; break;
        case 2: p[n++] = {W - 1, H - 1}; break;
        case 3: p[n++] = {0, H - 1}; break;
        case 4: p[n++] = {0, 0}; break;
        default: break;
        }
    }
    switch (d->side) {
    case 2: p[n++] = {d->cx, H - 1}; break;
    case 3: p[n++] = {0, d->cy}; break;
    case 4: p[n++] = {d->cx, 0}; break;
    default: p[n++] = {d->cx, d->cy}; break;
    }
    p[n++] = {W / 2, H / 2};
    d->corner = 0;
    return n;
}

// Moves the hand; the distance that passes a corner goes on along the next
// side. 1 when the hand had come round.
bool clockMove(qxTransitionFX *fx, ClockData *d)
{
    const int32_t W = fx->width, H = fx->height, v = fx->speed;
    d->px = d->cx, d->py = d->cy;
    switch (d->side) {
    case 0:
        d->cx += v;
        if (d->cx >= W) d->corner = 1, d->side = 1, d->cy = d->cx - W + 1, d->cx = W - 1;
        break;
    case 1:
        d->cy += v;
        if (d->cy >= H) d->corner = 1, d->side = 2, d->cx = W - 1 + (H - 1 - d->cy), d->cy = H - 1;
        break;
    case 2:
        d->cx -= v;
        if (d->cx < 0) d->corner = 1, d->side = 3, d->cy = H - 1 + d->cx, d->cx = 0;
        break;
    case 3:
        d->cy -= v;
        if (d->cy < 0) d->corner = 1, d->side = 4, d->cx = -d->cy, d->cy = 0;
        break;
    case 4:
        d->cx += v;
        if (d->cx > W / 2 + 1) d->cx = W / 2 + 1, d->side = 5;
        break;
    default: return true;
    }
    return false;
}
} // namespace

extern "C" {

int qxFXClockWipeStep(qxTransitionFX *fx, int *done)
{
    const int32_t W = fx->width, H = fx->height;
    auto *d = static_cast<ClockData *>(fx->data);
    if (fx->phase == 0) {
        qxFXResetDisplayReverse(fx);
        if (!(d = qxFXNewData<ClockData>(fx))) return ERR_MEM;
        fx->speed = fx->speed == -2 ? 15 : fx->speed == -1 ? 10 : fx->speed == -3 ? 5 : std::clamp(fx->speed, 1, 30);
        if (int e = allocReveal(fx, d->reveal)) return e;
        if (int e = allocPolygon(d->polygon, 17)) return e;
        // The hand goes round once without drawing to count the frames.
        clockStart(fx, d);
        int32_t n = 0;
        for (;;) {
            clockWedge(fx, d);
            ++n;
            if (clockMove(fx, d)) break;
        }
        fx->frames = n;
        clockStart(fx, d);
        return 0;
    }
    Reveal &r = d->reveal;
    if (fx->phase == 2) {
        // Seeking replays the wedges into the reveal mask, so the picture
        // is the one playing shows.
        const int32_t target = fx->frame;
        resetReveal(fx, r);
        clockStart(fx, d);
        bool finished = false;
        for (int32_t k = 1; k <= target && !finished; ++k) {
            const bool last = d->side == 5;
            fillClipped(fx, d->polygon, clockWedge(fx, d), r.mask);
            if (last) qxMaskRowOp(r.mask, 0, 0, W, H, 0);
            finished = clockMove(fx, d);
        }
        combinePlanes(fx, r);
        drawRevealed(fx, r, 0, 0, W, H, REGION_COMPOSE | REGION_NOSHOW);
        return 0;
    }
    qxFXFrameStart(fx);
    const bool last = d->side == 5;
    int32_t x0 = std::min({d->px, d->cx, W / 2}), y0 = std::min({d->py, d->cy, H / 2});
    fillClipped(fx, d->polygon, clockWedge(fx, d), r.mask);
    if (last) {
        // The hand has come round: whatever the rounding left goes too.
        qxMaskRowOp(r.mask, 0, 0, W, H, 0);
        x0 = y0 = 0;
    }
    combinePlanes(fx, r);
    drawRevealed(fx, r, x0, y0, W, H, REGION_COMPOSE);
    if (clockMove(fx, d) && done) *done = 1;
    qxFXFrameEnd(fx);
    return 0;
}

void qxFXClockWipeCleanup(qxTransitionFX *fx)
{
    auto *d = static_cast<ClockData *>(fx->data);
    dropPolygon(d->polygon);
    dropReveal(d->reveal);
}

} // extern "C"

// ---- sun and star ----

namespace {
struct ShapeData {
    Reveal reveal;
    Polygon polygon;
    int32_t size;
};

// The shape's width and height at size k: the longer side of the area
// gets k, the shorter side follows the area's proportions, plus one.
void shapeSize(const qxTransitionFX *fx, int32_t k, int32_t &w, int32_t &h)
{
    const int32_t W = fx->width, H = fx->height, mn = std::min(W, H), mx = std::max(W, H);
    int32_t shorter = clampI32(int64_t(double(k) * mn / mx + 1.0));
    w = W >= H ? k : shorter, h = W >= H ? shorter : k;
}

// Fills the ellipse of diameter k, clipped; 1 when it covers the area.
bool sunShape(qxTransitionFX *fx, ShapeData *d, int32_t k, bool fill)
{
    const int32_t W = fx->width, H = fx->height;
    int32_t b, a;
    shapeSize(fx, k, b, a);
    if (W >= H) a = std::max(a, 3);
    else b = std::max(b, 3);
    if (!(b & 1) && b < INT32_MAX) b++;
    if (!(a & 1) && a < INT32_MAX) a++;
    int32_t n = qxArcPoints(d->polygon.a, b / 2, a / 2, 0, 360);
    const int32_t ox = (W - b) / 2, oy = (H - a) / 2;
    for (int32_t i = 0; i < n; ++i) d->polygon.a[i].x += ox, d->polygon.a[i].y += oy;
    n = clipToArea(d->polygon, n, W, H);
    bool covers = n > 0;
    for (int32_t i = 0; i < n && covers; ++i) {
        const qxPoint p = d->polygon.a[i];
        covers = (p.x == 0 || p.x == W - 1) && (p.y == 0 || p.y == H - 1);
    }
    if (fill && n >= 2) qxFillMaskPolygon(d->reveal.mask, d->polygon.a, n, d->polygon.scratch);
    return covers;
}

// Fills the star of size k, clipped; its bounding box into box.
void starShape(qxTransitionFX *fx, ShapeData *d, int32_t k, int32_t box[4])
{
    int32_t sw, sh;
    shapeSize(fx, k, sw, sh);
    sw = std::max(sw, 1), sh = std::max(sh, 1);
    const int32_t ox = (fx->width - sw) / 2, oy = (fx->height - sh) / 2;
    auto t = [](double v) { return clampI32(int64_t(v)); };
    const int32_t top = oy + t(0.375 * sh);
    const qxPoint pts[11] = {
        {ox, top},
        {ox + t(0.4 * sw), top},
        {ox + sw / 2, oy},
        {ox + sw - t(0.4 * sw), top},
        {ox + sw - 1, top},
        {ox + sw - t(0.3 * sw), oy + t(0.6 * sh)},
        {ox + sw - sw / 5, oy + sh - 1},
        {ox + sw / 2, oy + sh - sh / 4},
        {ox + sw / 5, oy + sh - 1},
        {ox + t(0.3 * sw), oy + t(0.6 * sh)},
        {ox, top},
    };
    std::copy(pts, pts + 11, d->polygon.a);
    fillClipped(fx, d->polygon, 11, d->reveal.mask);
    box[0] = std::max(ox, 0), box[1] = std::max(oy, 0);
    box[2] = std::min(sw, fx->width), box[3] = std::min(sh, fx->height);
}

int shapeSetUp(qxTransitionFX *fx, ShapeData *&d, int32_t points)
{
    qxFXResetDisplayReverse(fx);
    if (!(d = qxFXNewData<ShapeData>(fx))) return ERR_MEM;
    fx->speed = std::clamp(qxFXStepSize(fx->speed, std::max(fx->width, fx->height), 12, 6, 24), 1, 100);
    d->size = fx->speed + 10;
    if (int e = allocReveal(fx, d->reveal)) return e;
    return allocPolygon(d->polygon, points);
}

int32_t shapeSizeOf(const qxTransitionFX *fx, int64_t frame) { return clampI32(frame * fx->speed + 10); }

} // namespace

extern "C" {

int qxFXSunStep(qxTransitionFX *fx, int *done)
{
    const int32_t W = fx->width, H = fx->height;
    auto *d = static_cast<ShapeData *>(fx->data);
    if (fx->phase == 0) {
        if (int e = shapeSetUp(fx, d, 363)) return e;
        int32_t n = 1;
        for (int32_t k = d->size; !sunShape(fx, d, k, false); k = clampI32(int64_t(k) + fx->speed)) ++n;
        fx->frames = n;
        return 0;
    }
    Reveal &r = d->reveal;
    bool covers;
    if (fx->phase == 2) {
        // The shapes only grow, yet their outlines are rounded: replaying
        // them makes the seek equal to playing.
        resetReveal(fx, r);
        covers = false;
        for (int32_t k = 1; k <= fx->frame && !covers; ++k) covers = sunShape(fx, d, shapeSizeOf(fx, k), true);
        d->size = shapeSizeOf(fx, fx->frame);
    } else {
        qxFXFrameStart(fx);
        covers = sunShape(fx, d, d->size, true);
    }
    if (covers) {
        if (done) *done = 1;
        // A covering ellipse is the whole area, also where the clipped
        // outline is too thin to fill (one-line areas).
        qxMaskRowOp(r.mask, 0, 0, W, H, 0);
    }
    combinePlanes(fx, r);
    drawRevealed(fx, r, 0, 0, W, H, REGION_COMPOSE | (fx->phase == 2 ? REGION_NOSHOW : 0));
    d->size = clampI32(int64_t(d->size) + fx->speed);
    if (fx->phase == 1) qxFXFrameEnd(fx);
    return 0;
}

void qxFXSunCleanup(qxTransitionFX *fx)
{
    auto *d = static_cast<ShapeData *>(fx->data);
    dropPolygon(d->polygon);
    dropReveal(d->reveal);
}

int qxFXStarStep(qxTransitionFX *fx, int *done)
{
    const int32_t W = fx->width, H = fx->height;
    auto *d = static_cast<ShapeData *>(fx->data);
    if (fx->phase == 0) {
        if (int e = shapeSetUp(fx, d, 11)) return e;
        if (H <= W) {
            fx->frames = qxFXFrameCount(clampI32(4 * int64_t(W) - 10 - fx->speed), fx->speed, 0);
        } else {
            int32_t n = 1;
            for (int64_t s = d->size; int64_t(double(s) * W / H + 1.0) < 4 * int64_t(W); s += fx->speed) ++n;
            fx->frames = n;
        }
        return 0;
    }
    Reveal &r = d->reveal;
    const bool seek = fx->phase == 2;
    if (seek) {
        resetReveal(fx, r);
        d->size = shapeSizeOf(fx, fx->frame);
    } else {
        qxFXFrameStart(fx);
    }
    int32_t sw, sh;
    shapeSize(fx, d->size, sw, sh);
    if (int64_t(sw) >= 4 * int64_t(W)) {
        if (done) *done = 1;
        if (fx->realtime) {
            // A layer takes the whole reveal as its planes.
            qxMaskRowOp(r.mask, 0, 0, W, H, 0);
            combinePlanes(fx, r);
            drawRevealed(fx, r, 0, 0, W, H, REGION_COMPOSE | (seek ? REGION_NOSHOW : 0));
        } else {
            qxFXPaint(fx, fx->newImage, 0, 0, W, H, 0, 0, fx->newMask, fx->newAlpha, true);
        }
    } else {
        int32_t box[4];
        if (seek)
            for (int32_t k = 1; k < fx->frame; ++k) starShape(fx, d, shapeSizeOf(fx, k), box);
        starShape(fx, d, d->size, box);
        combinePlanes(fx, r);
        if (seek) drawRevealed(fx, r, 0, 0, W, H, REGION_COMPOSE | REGION_NOSHOW);
        else drawRevealed(fx, r, box[0], box[1], box[2], box[3], REGION_COMPOSE);
    }
    d->size = clampI32(int64_t(d->size) + fx->speed);
    if (!seek) qxFXFrameEnd(fx);
    return 0;
}

void qxFXStarCleanup(qxTransitionFX *fx)
{
    auto *d = static_cast<ShapeData *>(fx->data);
    dropPolygon(d->polygon);
    dropReveal(d->reveal);
}

} // extern "C"
