// Effects that scale whole pictures every frame: stretch and zoom,
// turn-down, strange push, zoom in and out, flip coin and crush.
#include <algorithm>
#include <climits>
#include <cstdlib>

#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapscale.h"
#include "fx/qx_fxpaint.h"
#include "fx/qx_fxrenderers.h"
#include "platform/qx_errcodes.h"

namespace {

enum : int32_t {
    STRETCHLEFT = 55, STRETCHRIGHT, STRETCHTOP, STRETCHBOTTOM, HSTRETCHCENTER, VSTRETCHCENTER, ZOOMCENTER, ZOOMNORTH,
    ZOOMNORTHEAST, ZOOMEAST, ZOOMSOUTHEAST, ZOOMSOUTH, ZOOMSOUTHWEST, ZOOMWEST, ZOOMNORTHWEST,
    HSTRANGEPUSH = 99, VSTRANGEPUSH = 100, ZOOMIN = 118, ZOOMOUT, CRUSHLEFT, CRUSHRIGHT, CRUSHTOP, CRUSHBOTTOM,
    VFLIPCOIN, VLOWFLIPCOIN, HFLIPCOIN, HLOWFLIPCOIN, TURNDOWNTOP, TURNDOWNBOTTOM, TURNDOWNLEFT, TURNDOWNRIGHT,
};

int32_t clampI32(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

struct Rect {
    int32_t x, y, w, h;
};

// Scales rectangle src of a picture (with its planes) to dst's size and
// draws it at dst (target coordinates, or area coordinates when atArea).
// Over the old picture when the scaled picture has planes and `over` is
// given (area coordinates of the old picture are dst less the corner).
int scaleAndPaint(qxTransitionFX *fx, qxBitMap *picture, qxBitMap *mask, qxBitMap *alpha, Rect src, Rect dst,
                  bool atArea, qxBitMap *over = nullptr)
{
    if (dst.w < 1 || dst.h < 1 || src.w < 1 || src.h < 1) return 0;
    qxBitMap *b = nullptr, *m = nullptr, *a = nullptr;
    if (int e = qxScalePixels(picture, mask, alpha, src.x, src.y, nullptr, src.w, src.h, dst.w, dst.h, 0, 0, &b,
                              mask ? &m : nullptr, alpha ? &a : nullptr))
        return e;
    if (!b) return 0; // nothing below size 1
    qxBitMap *image = b, *tmp = nullptr;
    if (over && (m || a)) {
        // The old picture under the rectangle shows through the planes.
        tmp = qxAllocBitMap(uint32_t(dst.w), uint32_t(dst.h), 0, nullptr);
        if (!tmp) {
            qxFXDrop(b), qxFXDropMask(m), qxFXDropAlpha(a);
            return ERR_BITMAP;
        }
        int32_t ox = atArea ? dst.x : dst.x - fx->x, oy = atArea ? dst.y : dst.y - fx->y;
        qxFXBlitClipped(over, ox, oy, tmp, 0, 0, dst.w, dst.h, int32_t(over->width), int32_t(over->height), dst.w,
                        dst.h);
        qxFXCompose(b, 0, 0, tmp, 0, 0, dst.w, dst.h, m, a);
        image = tmp;
    }
    qxFXPaint(fx, image, 0, 0, dst.w, dst.h, dst.x, dst.y, nullptr, nullptr, atArea);
    qxFXDrop(tmp), qxFXDrop(b), qxFXDropMask(m), qxFXDropAlpha(a);
    return 0;
}

// ---- stretch and zoom ----

struct StretchData {
    int32_t e;
    Rect previous;
    qxBitMap *work;
};

bool isZoom(int32_t id) { return id >= ZOOMCENTER && id <= ZOOMNORTHWEST; }

int64_t stretchExtent(const qxTransitionFX *fx, int64_t n)
{
    const int64_t s = n * fx->speed, W = fx->width, H = fx->height, M = std::max(W, H);
    const bool rev = fx->reverse;
    switch (fx->effect) {
    case STRETCHLEFT:
    case VSTRETCHCENTER: return rev ? W - s : s;
    case STRETCHRIGHT: return rev ? s : W - s;
    case STRETCHTOP:
    case HSTRETCHCENTER: return rev ? H - s : s;
    case STRETCHBOTTOM: return rev ? s : H - s;
    default: return rev ? M - s : s;
    }
}

// Real-time stretch and zoom: the scaled picture with its planes goes into
// the layer at r; a seek first clears the layer, a shrinking run clears
// the bands between the previous rectangle and r.
int stretchIntoLayer(qxTransitionFX *fx, const Rect &q, const Rect &r)
{
    qxFXPlanes p;
    if (!qxFXLayerPlanes(fx, &p)) return ERR_NOLAYERS;
    const uint32_t quiet = fx->phase == 2 || fx->drawing || fx->layerTransformed || fx->viaBackBuffer ? 8 : 0;
    auto clear = [&](int32_t x, int32_t y, int32_t w, int32_t h, uint32_t flags) {
        x -= fx->x, y -= fx->y;
        if (w > 0 && h > 0 && x >= 0 && y >= 0)
            qxFXDrawRect(nullptr, x, y, p.image, p.mask, p.alpha, x, y, w, h, p.width, p.height, p.width, p.height,
                         nullptr, nullptr, fx, flags);
    };
    if (fx->phase == 2) {
        clear(fx->x, fx->y, p.width, p.height, 12);
    } else if (fx->reverse) {
        clear(q.x, q.y, q.w, r.y - q.y, 4 | quiet);
        clear(q.x, q.y, r.x - q.x, q.h, 4 | quiet);
        clear(r.x + r.w, q.y, q.x + q.w - (r.x + r.w), q.h, 4 | quiet);
        clear(q.x, r.y + r.h, q.w, q.y + q.h - (r.y + r.h), 4 | quiet);
    }
    if (r.w < 1 || r.h < 1) return 0;
    qxBitMap *b = nullptr, *m = nullptr, *a = nullptr;
    if (int e = qxScalePixels(fx->newImage, fx->newMask, fx->newAlpha, 0, 0, nullptr, fx->width, fx->height, r.w, r.h,
                              0, 0, &b, fx->newMask ? &m : nullptr, fx->newAlpha ? &a : nullptr))
        return e;
    if (b)
        qxFXDrawRect(b, 0, 0, p.image, p.mask, p.alpha, r.x - fx->x, r.y - fx->y, r.w, r.h, r.w, r.h, p.width, p.height,
                     m, a, fx, quiet);
    qxFXDrop(b), qxFXDropMask(m), qxFXDropAlpha(a);
    return 0;
}

} // namespace

extern "C" {

int qxFXStretchStep(qxTransitionFX *fx, int *done)
{
    const int32_t W = fx->width, H = fx->height, id = fx->effect;
    if (fx->phase == 0) {
        qxFXResetDisplayReverse(fx);
        auto *d = qxFXNewData<StretchData>(fx);
        if (!d) return ERR_MEM;
        if (fx->reverse && !(d->work = qxFXNewWork(fx))) return ERR_BITMAP;
        int32_t dist = id == STRETCHLEFT || id == STRETCHRIGHT || id == VSTRETCHCENTER ? W
                       : id == STRETCHTOP || id == STRETCHBOTTOM || id == HSTRETCHCENTER ? H
                                                                                          : std::max(W, H);
        fx->speed = qxFXStepSize(fx->speed, dist, 30, 10, 80);
        d->e = clampI32(stretchExtent(fx, 1));
        d->previous = {fx->x, fx->y, W, H};
        fx->frames = qxFXFrameCount(dist - fx->speed, fx->speed, 0);
        return 0;
    }
    auto *d = static_cast<StretchData *>(fx->data);
    if (fx->phase == 2) d->e = clampI32(stretchExtent(fx, fx->frame));
    else qxFXFrameStart(fx);
    bool last = false;
    Rect r{fx->x, fx->y, W, H};
    const int64_t e = d->e;
    if (isZoom(id)) {
        const int64_t mx = std::max(W, H), mn = std::min(W, H);
        int32_t w, h;
        if (!fx->reverse && e >= mx) {
            last = true, w = W, h = H;
        } else if (fx->reverse && e < 1) {
            last = true, w = h = 0;
        } else {
            int32_t longer = int32_t(e), shorter = std::max(1, int32_t(double(e) * double(mn) / double(mx)));
            w = W >= H ? longer : shorter, h = W >= H ? shorter : longer;
        }
        int32_t cx = fx->x + (W - w) / 2, cy = fx->y + (H - h) / 2, rx = fx->x + W - w, by = fx->y + H - h;
        switch (id) {
        case ZOOMCENTER: r = {cx, cy, w, h}; break;
        case ZOOMNORTH: r = {cx, fx->y, w, h}; break;
        case ZOOMNORTHEAST: r = {rx, fx->y, w, h}; break;
        case ZOOMEAST: r = {rx, cy, w, h}; break;
        case ZOOMSOUTHEAST: r = {rx, by, w, h}; break;
        case ZOOMSOUTH: r = {cx, by, w, h}; break;
        case ZOOMSOUTHWEST: r = {fx->x, by, w, h}; break;
        case ZOOMWEST: r = {fx->x, cy, w, h}; break;
        default: r = {fx->x, fx->y, w, h}; break;
        }
    } else {
        const bool horizontal = id == STRETCHLEFT || id == STRETCHRIGHT || id == VSTRETCHCENTER;
        const int64_t full = horizontal ? W : H;
        int64_t side = id == STRETCHRIGHT ? W - e : id == STRETCHBOTTOM ? H - e : e;
        if (!fx->reverse && side >= full) last = true, side = full;
        else if (fx->reverse && side <= 0) last = true, side = 0;
        side = std::clamp<int64_t>(side, 0, full);
        const int32_t n = int32_t(side);
        switch (id) {
        case STRETCHLEFT: r = {fx->x, fx->y, n, H}; break;
        case STRETCHRIGHT: r = {fx->x + W - n, fx->y, n, H}; break;
        case STRETCHTOP: r = {fx->x, fx->y, W, n}; break;
        case STRETCHBOTTOM: r = {fx->x, fx->y + H - n, W, n}; break;
        case HSTRETCHCENTER: r = {fx->x, fx->y + (H - n) / 2, W, n}; break;
        default: r = {fx->x + (W - n) / 2, fx->y, n, H}; break;
        }
    }
    if (last && done) *done = 1;
    if (int e2 = fx->realtime ? stretchIntoLayer(fx, d->previous, r)
                              : scaleAndPaint(fx, fx->newImage, fx->newMask, fx->newAlpha, {0, 0, W, H}, r, false,
                                              fx->oldImage))
        return e2;
    const bool grows = id != STRETCHRIGHT && id != STRETCHBOTTOM;
    d->e = clampI32(grows != bool(fx->reverse) ? e + fx->speed : e - fx->speed);
    d->previous = r;
    if (fx->phase == 1) {
        if (r.w > 0 && r.h > 0) {
            qxFXFrameEnd(fx);
        } else {
            // A styled layer shrunk to nothing still shows its last state.
            if (fx->realtime && fx->reverse && fx->layerTransformed) qxFXShowBackBuffer(fx);
            fx->frame++;
        }
    }
    return 0;
}

void qxFXStretchCleanup(qxTransitionFX *fx) { qxFXDrop(static_cast<StretchData *>(fx->data)->work); }

// ---- turn-down ----

int qxFXTurnDownStep(qxTransitionFX *fx, int *done)
{
    const int32_t W = fx->width, H = fx->height, id = fx->effect;
    const bool columns = id == TURNDOWNLEFT || id == TURNDOWNRIGHT;
    const int32_t d = columns ? W : H, h = d / 2, o = d & 1, h2 = h + o;
    auto *p = static_cast<int32_t *>(fx->data);
    if (fx->phase == 0) {
        qxFXResetDisplayReverse(fx);
        if (!(p = qxFXNewData<int32_t>(fx))) return ERR_MEM;
        fx->speed = qxFXStepSize(fx->speed, d, 60, 30, 120);
        *p = fx->speed;
        fx->frames = qxFXFrameCount(d - fx->speed, fx->speed, 0);
        // The sheet folds over the old picture, which the layer must show
        // from the first frame.
        qxFXOldIntoLayer(fx);
        return 0;
    }
    const int32_t step = fx->speed;
    const bool seek = fx->phase == 2;
    if (seek) *p = clampI32(int64_t(fx->frame) * step);
    else qxFXFrameStart(fx);
    qxFXQuietPieces quiet(fx, seek); // a seek shows the layer whole afterwards
    const uint32_t read = fx->bgpicEmu ? qxFXRefreshSources(fx, 3) : 0;
    if (*p >= d) {
        *p = d;
        if (done) *done = 1;
        qxFXPaint(fx, fx->newImage, 0, 0, W, H, 0, 0, nullptr, nullptr, true);
        *p = clampI32(int64_t(*p) + step);
        if (!seek) qxFXFrameEnd(fx);
        return 0;
    }
    // Near half of the new picture squeezed to n, old near half after it.
    auto firstHalf = [&](int32_t n, bool withOld) -> int {
        Rect nsrc, ndst, osrc, odst;
        switch (id) {
        case TURNDOWNTOP: nsrc = {0, 0, W, h}, ndst = {0, 0, W, n}, osrc = nsrc, odst = {0, n, W, h - n}; break;
        case TURNDOWNBOTTOM:
            nsrc = {0, h, W, h}, ndst = {0, H - n, W, n}, osrc = nsrc, odst = {0, h, W, h - n + o};
            break;
        case TURNDOWNLEFT: nsrc = {0, 0, h, H}, ndst = {0, 0, n, H}, osrc = nsrc, odst = {n, 0, h - n, H}; break;
        default: nsrc = {h, 0, h, H}, ndst = {W - n, 0, n, H}, osrc = nsrc, odst = {h, 0, h - n + o, H}; break;
        }
        // On an odd side the far edge's half has one line more: the old part
        // reaches the new one so no line keeps an earlier frame.
        if (!withOld) odst = {0, 0, 0, 0};
        if (int e = scaleAndPaint(fx, fx->newImage, nullptr, nullptr, nsrc, ndst, true)) return e;
        return scaleAndPaint(fx, fx->oldImage, nullptr, nullptr, osrc, odst, true);
    };
    const int32_t q = *p;
    // Pictures read again: the old far half (beyond the unfolding strip)
    // and the completed near half of the new picture are drawn anew.
    if ((read & 1) && !seek) {
        const int32_t from = q <= h ? h : q, back = q <= h ? h + o : H - q + o;
        switch (id) {
        case TURNDOWNTOP: qxFXPaint(fx, fx->oldImage, 0, from, W, H - from, 0, from, nullptr, nullptr, true); break;
        case TURNDOWNBOTTOM: qxFXPaint(fx, fx->oldImage, 0, 0, W, back, 0, 0, nullptr, nullptr, true); break;
        case TURNDOWNLEFT: qxFXPaint(fx, fx->oldImage, from, 0, W - from, H, from, 0, nullptr, nullptr, true); break;
        default: {
            const int32_t backW = q <= h ? h + o : W - q + o;
            qxFXPaint(fx, fx->oldImage, 0, 0, backW, H, 0, 0, nullptr, nullptr, true);
            break;
        }
        }
    }
    if ((read & 2) && !seek && q > h)
        if (int e = firstHalf(h, false)) return e;
    if (seek) {
        // Seeking draws what playing shows: the old picture, and in the
        // second half the completed near half of the new one.
        qxFXPaint(fx, fx->oldImage, 0, 0, W, H, 0, 0, nullptr, nullptr, true);
        if (q > h)
            if (int e = firstHalf(h, false)) return e;
    }
    if (q <= h) {
        const bool lastOfHalf = int64_t(q) + step > h;
        if (int e = firstHalf(lastOfHalf ? h : q, !lastOfHalf)) return e;
    } else {
        Rect src, dst;
        const int32_t n = q - h;
        switch (id) {
        case TURNDOWNTOP: src = {0, h, W, h2}, dst = {0, h, W, std::min(n, H - h)}; break;
        case TURNDOWNBOTTOM: src = {0, 0, W, h2}, dst = {0, H - q + o, W, n}; break;
        case TURNDOWNLEFT: src = {h, 0, h2, H}, dst = {h, 0, std::min(n, W - h), H}; break;
        default: src = {0, 0, h2, H}, dst = {W - q + o, 0, n, H}; break;
        }
        if (int e = scaleAndPaint(fx, fx->newImage, nullptr, nullptr, src, dst, true)) return e;
    }
    *p = clampI32(int64_t(q) + step);
    if (!seek) qxFXFrameEnd(fx);
    return 0;
}

} // extern "C"

namespace {

// ---- strange push ----

struct StrangeData {
    int32_t p;
    qxBitMap *work;
    qxBitMap *maskA, *maskB;
    qxBitMap *alphaA, *alphaB;
};

void dropRowPlanes(StrangeData *d)
{
    qxFXDropMask(d->maskA), qxFXDropMask(d->maskB), qxFXDropAlpha(d->alphaA), qxFXDropAlpha(d->alphaB);
}

// Plane A keeps the odd rows of the new picture's planes, B the even rows.
int makeRowPlanes(qxTransitionFX *fx, StrangeData *d)
{
    const int32_t W = fx->width, H = fx->height;
    for (int k = 0; k < 2; ++k) {
        if (fx->newAlpha) {
            qxBitMap *a = qxAllocAlphaBitMap(uint32_t(W), uint32_t(H), 1, nullptr, 0);
            if (!a) return ERR_ALLOCALPHA;
            (k ? d->alphaB : d->alphaA) = a;
            qxBltAlpha(fx->newAlpha, 0, 0, a, 0, 0, W, H, 0, 0);
            for (int32_t y = k; y < H; y += 2) qxFillBitMapRect(a, 0, y, W, 1, 0);
        } else {
            qxBitMap *m = qxAllocMaskBitMap(fx->newImage, uint32_t(W), uint32_t(H), 1, nullptr, 0);
            if (!m) return ERR_ALLOCMASK;
            (k ? d->maskB : d->maskA) = m;
            if (fx->newMask) qxMaskCopyOp(fx->newMask, 0, 0, m, 0, 0, W, H, 2, nullptr, 0);
            else qxMaskRowOp(m, 0, 0, W, H, 0);
            for (int32_t y = k; y < H; y += 2) qxMaskRowOp(m, 0, y, W, 1, 1);
        }
    }
    return 0;
}

// Real-time frame at p: the layer's planes cleared, then each destination
// row takes its one source row with the new planes. The halves meet on
// rows of the same parity only (in the vertical push the two source rows
// of a destination row differ by an even count), so rows are drawn once
// and the halves never overwrite each other's alpha.
void strangeIntoLayer(qxTransitionFX *fx, int32_t p)
{
    qxFXPlanes l;
    if (!qxFXLayerPlanes(fx, &l)) return;
    const int32_t W = fx->width, H = fx->height;
    auto row = [&](int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w, uint32_t flags) {
        qxFXDrawRect(fx->newImage, sx, sy, l.image, l.mask, l.alpha, dx, dy, w, 1, W, H, l.width, l.height,
                     fx->newMask, fx->newAlpha, fx, flags);
    };
    qxFXDrawRect(nullptr, 0, 0, l.image, l.mask, l.alpha, 0, 0, l.width, l.height, l.width, l.height, l.width,
                 l.height, nullptr, nullptr, fx, 12);
    if (p < 1) return;
    for (int32_t y = 0; y < H; ++y) {
        if (fx->effect == HSTRANGEPUSH) {
            if (y & 1) row(W - p, y, 0, y, p, 8);
            else row(0, y, W - p, y, p, 8);
        } else if (y < p && ((y + H - p) & 1)) {
            row(0, y + H - p, 0, y, W, 8);
        } else if (y >= H - p && !((y - (H - p)) & 1)) {
            row(0, y - (H - p), 0, y, W, 8);
        }
    }
}

} // namespace

extern "C" {

int qxFXStrangePushStep(qxTransitionFX *fx, int *done)
{
    const int32_t W = fx->width, H = fx->height;
    const bool horizontal = fx->effect == HSTRANGEPUSH;
    const int32_t dist = horizontal ? W : H;
    auto *d = static_cast<StrangeData *>(fx->data);
    if (fx->phase == 0) {
        qxFXResetDisplayReverse(fx);
        if (!(d = qxFXNewData<StrangeData>(fx))) return ERR_MEM;
        int32_t step = qxFXStepSize(fx->speed, dist, 60, 30, 120);
        if (step < 1) step = 2;
        if (step & 1) step = step == INT32_MAX ? INT32_MAX - 1 : step + 1;
        if (step < 2) step = 2;
        fx->speed = step;
        d->p = fx->reverse ? dist - step : step;
        fx->frames = qxFXFrameCount(dist - step, step, 0);
        if (fx->realtime) return 0; // rows go straight into the layer
        if (!(d->work = qxFXNewWork(fx))) return ERR_BITMAP;
        qxFXCompose(fx->oldImage, 0, 0, d->work, 0, 0, W, H, nullptr, nullptr);
        if (int e = makeRowPlanes(fx, d)) return e;
        d->p = fx->reverse ? dist - step : step;
        fx->frames = qxFXFrameCount(dist - step, step, 0);
        return 0;
    }
    const int32_t step = fx->speed;
    if (fx->phase == 2) {
        dropRowPlanes(d);
        if (int e = fx->realtime ? 0 : makeRowPlanes(fx, d)) return e;
        int64_t s = int64_t(fx->frame) * step;
        d->p = clampI32(fx->reverse ? dist - s : s);
    } else {
        qxFXFrameStart(fx);
    }
    if (!fx->reverse && d->p >= dist) {
        d->p = dist;
        if (done) *done = 1;
    } else if (fx->reverse && d->p < 1) {
        d->p = 0;
        if (done) *done = 1;
    }
    const int32_t p = std::clamp(d->p, 0, dist);
    if (fx->realtime) {
        strangeIntoLayer(fx, p);
        if (fx->phase == 1 && !fx->layerTransformed && !fx->viaBackBuffer) qxFXShowBackBuffer(fx);
    } else {
        // A seek starts again from the old picture, as do frames whose new
        // picture lets it show through.
        if (fx->phase == 2 || fx->newMask || fx->newAlpha)
            qxFXCompose(fx->oldImage, 0, 0, d->work, 0, 0, W, H, nullptr, nullptr);
        qxBitMap *pa = d->alphaA ? nullptr : d->maskA, *pb = d->alphaB ? nullptr : d->maskB;
        if (horizontal) {
            qxFXCompose(fx->newImage, W - p, 0, d->work, 0, 0, p, H, pa, d->alphaA);
            qxFXCompose(fx->newImage, 0, 0, d->work, W - p, 0, p, H, pb, d->alphaB);
        } else {
            qxFXCompose(fx->newImage, 0, H - p, d->work, 0, 0, W, p, pa, d->alphaA);
            qxFXCompose(fx->newImage, 0, 0, d->work, 0, H - p, W, p, pb, d->alphaB);
        }
        qxFXPaintWhole(fx, d->work);
    }
    d->p = clampI32(fx->reverse ? int64_t(d->p) - step : int64_t(d->p) + step);
    if (fx->phase == 1) qxFXFrameEnd(fx);
    return 0;
}

void qxFXStrangePushCleanup(qxTransitionFX *fx)
{
    auto *d = static_cast<StrangeData *>(fx->data);
    dropRowPlanes(d);
    qxFXDrop(d->work);
}

} // extern "C"

namespace {

struct ZoomData {
    Rect previous;
    int32_t p;
};

// The centred rectangle of size k along the longer side; the shorter
// side follows the area's proportions, plus one.
Rect centred(int32_t W, int32_t H, int64_t k)
{
    const int64_t longer = std::max(W, H), shorter = std::min(W, H);
    int32_t a = int32_t(std::max<int64_t>(1, k));
    int32_t b = std::max(1, int32_t(double(a) * double(shorter) / double(longer) + 1.0));
    int32_t w = W >= H ? a : b, h = W >= H ? b : a;
    return {(W - w) / 2, (H - h) / 2, w, h};
}

// The bands a shrinking rectangle leaves inside the previous one, filled
// with the colour.
void fillBands(qxTransitionFX *fx, Rect o, Rect n, uint32_t colour)
{
    qxFXAreaFill(fx, o.x, o.y, n.x - o.x + 1, o.h, colour, 0);
    qxFXAreaFill(fx, o.x, o.y, o.w, n.y - o.y + 1, colour, 0);
    qxFXAreaFill(fx, n.w + n.x - 1, o.y, o.x + o.w - (n.w + n.x) + 1, o.h, colour, 0);
    qxFXAreaFill(fx, o.x, n.h + n.y - 1, o.w, o.y + o.h - (n.h + n.y) + 1, colour, 0);
}

} // namespace

extern "C" {

int qxFXZoomInOutStep(qxTransitionFX *fx, int *done)
{
    const int32_t W = fx->width, H = fx->height, D = std::max(W, H);
    auto *d = static_cast<ZoomData *>(fx->data);
    if (fx->phase == 0) {
        qxFXResetDisplayReverse(fx);
        if (!(d = qxFXNewData<ZoomData>(fx))) return ERR_MEM;
        fx->speed = qxFXStepSize(fx->speed, D, 60, 30, 120);
        d->p = fx->speed, d->previous = {0, 0, W, H};
        fx->frames = qxFXFrameCount(clampI32(2 * int64_t(D) - fx->speed), fx->speed, 0);
        if (fx->effect == ZOOMIN && fx->parameter == -1) fx->parameter = 0;
        return 0;
    }
    const uint32_t colour = uint32_t(fx->parameter) & 0xFFFFFF;
    if (fx->phase == 2) {
        d->p = clampI32(int64_t(fx->frame) * fx->speed);
        if (fx->effect == ZOOMIN) qxFXAreaFill(fx, 0, 0, W, H, colour, 8);
    } else {
        qxFXFrameStart(fx);
    }
    Rect r{0, 0, W, H};
    if (d->p >= 2 * int64_t(D)) {
        d->p = 2 * D;
        if (done) *done = 1;
    } else {
        r = centred(W, H, std::abs(int64_t(D) - d->p));
    }
    const bool oldShown = d->p <= D;
    if (fx->bgpicEmu) qxFXRefreshSources(fx, oldShown ? 3 : 2);
    qxBitMap *picture = oldShown ? fx->oldImage : fx->newImage;
    if (fx->effect == ZOOMIN) {
        // The bands reach one pixel into the new rectangle: they go first so
        // the picture keeps its edge.
        if (oldShown && fx->phase == 1) fillBands(fx, d->previous, r, colour);
        // When the step does not divide the side the old picture never
        // shrank to a point: the first frame of the new one clears it.
        if (!oldShown && fx->phase == 1 && d->p - fx->speed <= D) {
            const Rect o = d->previous;
            qxFXAreaFill(fx, o.x, o.y, o.w, o.h, colour, 0);
        }
        if (int e = scaleAndPaint(fx, picture, nullptr, nullptr, {0, 0, W, H}, r, true)) return e;
        d->previous = r;
    } else {
        // The source rectangle stays inside the picture.
        Rect s{std::max(r.x, 0), std::max(r.y, 0), std::min(r.w, W), std::min(r.h, H)};
        if (int e = scaleAndPaint(fx, picture, nullptr, nullptr, s, {0, 0, W, H}, true)) return e;
    }
    d->p = clampI32(int64_t(d->p) + fx->speed);
    if (fx->phase == 1) qxFXFrameEnd(fx);
    return 0;
}

// ---- flip coin and crush ----

int qxFXFlipCoinStep(qxTransitionFX *fx, int *done)
{
    struct Data {
        int32_t p;
        Rect previous;
    };
    const int32_t W = fx->width, H = fx->height, id = fx->effect;
    const bool vertical = id == VFLIPCOIN || id == VLOWFLIPCOIN;
    const int32_t dist = vertical ? H : W;
    auto *d = static_cast<Data *>(fx->data);
    if (fx->phase == 0) {
        qxFXResetDisplayReverse(fx);
        if (!(d = qxFXNewData<Data>(fx))) return ERR_MEM;
        fx->speed = qxFXStepSize(fx->speed, dist, 60, 30, 120);
        d->p = fx->speed, d->previous = {0, 0, W, H};
        if (fx->parameter == -1) fx->parameter = 0;
        fx->frames = qxFXFrameCount(clampI32(2 * int64_t(dist) - fx->speed), fx->speed, 0);
        return 0;
    }
    const uint32_t colour = uint32_t(fx->parameter) & 0xFFFFFF;
    if (fx->phase == 2) {
        d->p = clampI32(int64_t(fx->frame) * fx->speed);
        qxFXAreaFill(fx, 0, 0, W, H, colour, 8);
    } else {
        qxFXFrameStart(fx);
    }
    // The position stops at twice the side, so the last frame is the new
    // picture at its own size whatever the step.
    if (d->p >= 2 * int64_t(dist)) {
        d->p = 2 * dist;
        if (done) *done = 1;
    }
    const int32_t p = d->p;
    const int32_t s = std::max(1, std::abs(p - dist));
    Rect r;
    switch (id) {
    case VFLIPCOIN: r = {0, (H - s) / 2, W, s}; break;
    case VLOWFLIPCOIN: r = {0, H - s, W, s}; break;
    case HFLIPCOIN: r = {(W - s) / 2, 0, s, H}; break;
    default: r = {W - s, 0, s, H}; break;
    }
    const bool oldShown = p <= dist;
    if (fx->bgpicEmu) qxFXRefreshSources(fx, oldShown ? 3 : 2);
    if (oldShown && fx->phase == 1) {
        const Rect o = d->previous;
        switch (id) {
        case VLOWFLIPCOIN: qxFXAreaFill(fx, 0, o.y, o.w, o.h - s, colour, 0); break;
        case VFLIPCOIN:
            qxFXAreaFill(fx, o.x, o.y, o.w, r.y - o.y + 1, colour, 0);
            qxFXAreaFill(fx, o.x, s + r.y - 1, o.w, o.y + o.h - (s + r.y) + 1, colour, 0);
            break;
        case HFLIPCOIN:
            qxFXAreaFill(fx, o.x, o.y, r.x - o.x + 1, o.h, colour, 0);
            qxFXAreaFill(fx, r.x + s - 1, o.y, o.x + o.w - (r.x + s) + 1, o.h, colour, 0);
            break;
        default: qxFXAreaFill(fx, o.x, 0, o.w - s, o.h, colour, 0); break;
        }
        d->previous = r;
    } else if (fx->phase == 1 && p - fx->speed <= dist) {
        // The old picture never became a line when the step does not
        // divide the side: the first frame of the new one clears it.
        const Rect o = d->previous;
        qxFXAreaFill(fx, o.x, o.y, o.w, o.h, colour, 0);
    }
    if (int e = scaleAndPaint(fx, oldShown ? fx->oldImage : fx->newImage, nullptr, nullptr, {0, 0, W, H}, r, true))
        return e;
    d->p = clampI32(int64_t(p) + fx->speed);
    if (fx->phase == 1) qxFXFrameEnd(fx);
    return 0;
}

int qxFXCrushStep(qxTransitionFX *fx, int *done)
{
    const int32_t W = fx->width, H = fx->height, id = fx->effect;
    const bool horizontal = id == CRUSHLEFT || id == CRUSHRIGHT;
    const int32_t dist = horizontal ? W : H;
    auto *p = static_cast<int32_t *>(fx->data);
    if (fx->phase == 0) {
        qxFXResetDisplayReverse(fx);
        if (!(p = qxFXNewData<int32_t>(fx))) return ERR_MEM;
        fx->speed = qxFXStepSize(fx->speed, dist, 60, 30, 120);
        *p = fx->speed;
        fx->frames = qxFXFrameCount(dist - fx->speed, fx->speed, 0);
        return 0;
    }
    if (fx->phase == 2) *p = clampI32(int64_t(fx->frame) * fx->speed);
    else qxFXFrameStart(fx);
    if (*p >= dist) {
        *p = dist;
        if (done) *done = 1;
    }
    const int32_t q = *p, rest = dist - q;
    if (fx->bgpicEmu) qxFXRefreshSources(fx, 3);
    Rect n, o;
    switch (id) {
    case CRUSHLEFT: n = {0, 0, q, H}, o = {q, 0, rest, H}; break;
    case CRUSHRIGHT: n = {W - q, 0, q, H}, o = {0, 0, rest, H}; break;
    case CRUSHTOP: n = {0, 0, W, q}, o = {0, q, W, rest}; break;
    default: n = {0, H - q, W, q}, o = {0, 0, W, rest}; break;
    }
    if (int e = scaleAndPaint(fx, fx->newImage, nullptr, nullptr, {0, 0, W, H}, n, true)) return e;
    if (rest > 0)
        if (int e = scaleAndPaint(fx, fx->oldImage, nullptr, nullptr, {0, 0, W, H}, o, true)) return e;
    *p = clampI32(int64_t(q) + fx->speed);
    if (fx->phase == 1) qxFXFrameEnd(fx);
    return 0;
}

} // extern "C"
