// The fade family on the display: FADE and BLEND through the tint,
// CROSSFADE through the mix, WATER and STRUDEL through the ripple and
// swirl kernels.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapeffects.h"
#include "display/qx_bitmapplanes.h"
#include "display/qx_clipregion.h"
#include "display/qx_display.h"
#include "fx/qx_fxmix.h"
#include "fx/qx_fxpaint.h"
#include "fx/qx_fxrenderers.h"
#include "imaging/qx_displace.h"
#include "layers/qx_layer.h"
#include "objects/qx_bgpicdisplay.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_hooks.h"
#include "platform/qx_memory.h"

namespace {

enum : int32_t { FADE = 116, BLEND = 117, WATER1 = 134, WATER2, WATER3, WATER4 };

struct FadeData {
    qxBitMap *composed, *tinted, *alpha;
    qxBitMap *source;
    int32_t level;
};

struct CrossfadeData {
    int32_t level;
    uint32_t fast;
    int32_t x0, y0;
    qxBitMap *mix, *oldCopy, *final;
    qxBitMap *alpha;
    int32_t overlaps;
    void *list1, *list2;
};

// The adapter is handed the layer's picture as it stands: nothing may style
// it, and no visible layer above may cover it.
bool plainUncovered(const qxLayer *layer)
{
    if (layer->transparency || layer->border || layer->onscreen->xformbitmap || !qxMatrixIsIdentity(&layer->transform))
        return false;
    for (const qxFilterEntry &f : layer->filters.filter)
        if (f.enabled) return false;
    const qxLayerData *d = layer->onscreen;
    for (const qxLayer *l = layer->next; l; l = l->next) {
        if (l->hidden || l->type == QX_TYPE_NOOBJECT) continue;
        int32_t x, y, w, h;
        qxLayerScreenRect(l, l->onscreen, &x, &y, &w, &h);
        if (qxRectsOverlapWH(d->left, d->top, d->dwidth, d->dheight, x, y, w, h)) return false;
    }
    return true;
}

qxLayer *bottomOf(qxLayer *layer)
{
    while (layer->previous) layer = layer->previous;
    return layer;
}

// Plain, uncovered, and with no async-drawn layer below showing through.
bool layerStandsAlone(qxLayer *layer)
{
    return layer && layer->onscreen && plainUncovered(layer) && !qxLayerOverlapsVisible(bottomOf(layer), layer);
}

// Without real-time work the display must take the picture unclipped by a
// shape and with nothing pending to be redrawn under it.
bool displayAreaClean(const qxTransitionFX *fx)
{
    const qxDisplay *disp = qxCurrentDisplay;
    if (!disp) return true;
    const auto *clip = static_cast<const qxClipRegion *>(disp->clipRegion);
    return !(clip && clip->mask) && !qxIsAreaDirty(disp->bgpic, fx->x, fx->y, fx->width, fx->height);
}

// Phase 0's choice for a layer, remembering what it saw.
int chooseLayerFastPath(qxTransitionFX *fx, CrossfadeData *d)
{
    qxLayer *layer = fx->layer;
    if (!layerStandsAlone(layer)) return 0;
    d->overlaps = qxFXCountOverlaps(bottomOf(layer), layer, nullptr);
    if (d->overlaps) {
        const size_t bytes = size_t(d->overlaps) * sizeof(qxFXOverlap);
        if (!(d->list1 = qxAlloc(bytes, 1)) || !(d->list2 = qxAlloc(bytes, 1))) return ERR_MEM;
        qxFXCountOverlaps(bottomOf(layer), layer, d->list1);
    }
    d->x0 = layer->onscreen->left, d->y0 = layer->onscreen->top;
    d->fast = 1;
    return 0;
}

// Every frame: the layers around must stand as they did when the fast
// path was chosen, or the adapter would show a stale picture.
bool layerFastPathHolds(qxTransitionFX *fx, CrossfadeData *d)
{
    qxLayer *layer = fx->layer;
    if (!layerStandsAlone(layer)) return false;
    if (layer->onscreen->left != d->x0 || layer->onscreen->top != d->y0) return false;
    if (qxFXCountOverlaps(bottomOf(layer), layer, nullptr) != d->overlaps) return false;
    if (!d->overlaps) return true;
    std::memset(d->list2, 0, size_t(d->overlaps) * sizeof(qxFXOverlap));
    qxFXCountOverlaps(bottomOf(layer), layer, d->list2);
    return !std::memcmp(d->list1, d->list2, size_t(d->overlaps) * sizeof(qxFXOverlap));
}

// Shared by water and strudel.
struct DisplaceData {
    qxBitMap *work, *alpha;
    int32_t position;
    qxDisplaceRecord record;
    int32_t *distance;
    double *table1, *table2;
    int32_t end, step;
};

} // namespace

extern "C" {

int qxFXFadeStep(qxTransitionFX *fx, int *done)
{
    if (fx->phase == 0) {
        qxFXResetDisplayReverse(fx);
        auto *d = qxFXNewData<FadeData>(fx);
        if (!d) return ERR_MEM;
        int32_t step = fx->speed < 1 ? 10 : std::min(fx->speed, 255);
        fx->speed = step;
        if (fx->parameter == -1) fx->parameter = int32_t(rand() % 16777216);
        d->level = step;
        fx->frames = qxFXFrameCount(511 - step, step, 0);
        if (fx->realtime) return qxFXInitFill(fx, fx->effect == FADE && !fx->reverse, &d->alpha);
        if (!(d->composed = qxFXNewWork(fx)) || !(d->tinted = qxFXNewWork(fx))) return ERR_BITMAP;
        d->source = fx->effect == FADE ? fx->oldImage : fx->newImage;
        return 0;
    }
    auto *d = static_cast<FadeData *>(fx->data);
    const int32_t step = fx->speed;
    int32_t v;
    if (fx->phase == 2) v = d->level = step * fx->frame;
    else {
        qxFXFrameStart(fx);
        v = d->level;
    }
    int32_t shade;
    if (v < 511) shade = v <= 255 ? v : 511 - v;
    else {
        if (done) *done = 1;
        v = 511, shade = 0;
    }
    const uint32_t colour = uint32_t(fx->parameter) & 0xFFFFFF;
    const int32_t w = fx->width, h = fx->height;
    if (fx->realtime) {
        qxFXPlanes p;
        if (!qxFXLayerPlanes(fx, &p)) return ERR_NOLAYERS;
        const bool alphaPath = fx->effect == FADE ? (v <= 255 && !fx->reverse) || (v > 256 && fx->reverse)
                                                  : v > 256 && fx->reverse;
        // Each path sets both the picture and its plane, so that a frame
        // drawn out of order looks as it does when played.
        if (alphaPath) {
            qxRectFill(p.image, 0, 0, w, h, colour);
            // A styled layer fades through its opacity (the driver's show).
            qxScaleAlpha(d->alpha, p.alpha, h, fx->layerTransformed ? 255 : uint32_t(shade));
            fx->level = shade;
        } else {
            qxFXCompose(fx->newImage, 0, 0, p.image, 0, 0, w, h, nullptr, nullptr);
            if (shade > 0)
                if (int e = qxTintBitmap(p.image, 0, 0, w, h, colour, uint32_t(shade))) return e;
            qxScaleAlpha(d->alpha, p.alpha, h, 255);
            fx->level = 255;
        }
    } else {
        qxBitMap *source = fx->effect == FADE && v <= 255 ? fx->oldImage : fx->newImage;
        qxFXCompose(source, 0, 0, d->tinted, 0, 0, w, h, nullptr, nullptr);
        if (shade > 0)
            if (int e = qxTintBitmap(d->tinted, 0, 0, w, h, colour, uint32_t(shade))) return e;
        if (fx->newMask || fx->newAlpha) {
            qxFXCompose(fx->oldImage, 0, 0, d->composed, 0, 0, w, h, nullptr, nullptr);
            qxFXCompose(d->tinted, 0, 0, d->composed, 0, 0, w, h, fx->newMask, fx->newAlpha);
            qxFXPaintWhole(fx, d->composed);
        } else {
            qxFXPaintWhole(fx, d->tinted); // opaque: nothing of the old picture shows
        }
    }
    // After a seek the next frame follows the one drawn.
    d->level += step;
    d->source = d->level > 255 ? fx->newImage : d->source;
    if (fx->phase == 1) {
        qxFXShowBackBuffer(fx);
        fx->frame++;
    }
    return 0;
}

void qxFXFadeCleanup(qxTransitionFX *fx)
{
    auto *d = static_cast<FadeData *>(fx->data);
    qxFXDrop(d->composed), qxFXDrop(d->tinted), qxFXDropAlpha(d->alpha);
}

int qxFXCrossfadeStep(qxTransitionFX *fx, int *done)
{
    if (fx->phase == 0) {
        qxFXResetDisplayReverse(fx);
        auto *d = qxFXNewData<CrossfadeData>(fx);
        if (!d) return ERR_MEM;
        int32_t step = fx->speed < 1 ? 10 : std::min(fx->speed, 120);
        fx->speed = step;
        fx->frames = qxFXFrameCount(255, step, 1);
        // The adapter mixes on its own when it can; we then hand it the
        // final picture every frame.
        if (qxPlatformHasCap(2) && !fx->toBackBuffer) {
            if (!fx->realtime) d->fast = displayAreaClean(fx);
            else if (int e = chooseLayerFastPath(fx, d)) return e;
        }
        if (d->fast) {
            if (!(d->mix = qxFXNewWork(fx)) || !(d->oldCopy = qxFXNewWork(fx)) || !(d->final = qxFXNewWork(fx)))
                return ERR_MEM;
            qxFXCompose(fx->oldImage, 0, 0, d->oldCopy, 0, 0, fx->width, fx->height, nullptr, nullptr);
            qxFXCompose(fx->oldImage, 0, 0, d->final, 0, 0, fx->width, fx->height, nullptr, nullptr);
            qxBitMap *onto = fx->reverse && fx->realtime ? d->oldCopy : d->final;
            qxFXCompose(fx->newImage, 0, 0, onto, 0, 0, fx->width, fx->height, fx->newMask, fx->newAlpha);
            fx->blitFlags = 3;
        } else if (!fx->realtime && !(d->mix = qxFXNewWork(fx))) {
            return ERR_BITMAP;
        }
        // A layer fades through its alpha plane over what lies below.
        return fx->realtime ? qxFXInitComposite(fx, &d->alpha) : 0;
    }
    auto *d = static_cast<CrossfadeData *>(fx->data);
    int32_t v;
    if (fx->phase == 2) {
        d->fast = 0;
        if (int e = qxFXInitComposite(fx, &d->alpha)) return e;
        v = d->level = fx->frame * fx->speed;
    } else {
        qxFXFrameStart(fx);
        v = d->level += fx->speed;
    }
    bool last = v >= 255;
    if (last) {
        if (done) *done = 1;
        v = 255;
    }
    fx->level = fx->reverse ? 255 - v : v;
    qxBitMap *M = nullptr;
    if (fx->realtime) {
        qxFXPlanes p;
        if (!qxFXLayerPlanes(fx, &p)) return ERR_NOLAYERS;
        qxScaleAlpha(d->alpha, p.alpha, fx->height, fx->layerTransformed ? 255 : uint32_t(fx->level));
        if (d->fast && !layerFastPathHolds(fx, d)) d->fast = 0;
    }
    if (d->fast) {
        M = d->final;
        if (last) fx->blitFlags = 4;
    } else if (fx->realtime) {
        M = nullptr;
    } else if (last) {
        M = fx->newImage;
    } else {
        if (int e = qxFXMixInto(d->mix, fx->oldImage, fx->newImage, fx->width, fx->height, v)) return e;
        M = d->mix;
    }
    if (M && fx->realtime) {
        // Past the layer, straight to the adapter (or the off-screen target).
        if (fx->target)
            qxFXBlitClipped(M, 0, 0, fx->target, fx->x, fx->y, fx->width, fx->height, fx->width, fx->height,
                            fx->bgWidth, fx->bgHeight);
        else SafeBlt(fx->L, M, 0, 0, nullptr, fx->x, fx->y, fx->width, fx->height, fx->width, fx->height, fx->bgWidth,
                fx->bgHeight, fx->blitFlags, nullptr, nullptr, qxCurrentDisplay ? qxCurrentDisplay->clipRegion : nullptr);
        M = nullptr;
    }
    if (M) qxFXPaintWhole(fx, M);
    if (fx->phase == 1) {
        if (!d->fast) qxFXShowBackBuffer(fx);
        fx->frame++;
    }
    return 0;
}

void qxFXCrossfadeCleanup(qxTransitionFX *fx)
{
    auto *d = static_cast<CrossfadeData *>(fx->data);
    qxFXDrop(d->mix), qxFXDrop(d->oldCopy), qxFXDrop(d->final), qxFXDropAlpha(d->alpha);
    qxFree(d->list1), qxFree(d->list2);
    d->list1 = d->list2 = nullptr;
}

} // extern "C"

namespace {

// Runs the kernel for position p from newImage into dest (the work bitmap
// over oldImage, or a real-time layer's picture fading through its alpha
// plane); false when the depths do not suit it.
bool runKernel(qxTransitionFX *fx, DisplaceData *d, qxBitMap *dest, qxBitMap *layerAlpha, int32_t p, bool water)
{
    const bool realtime = layerAlpha != nullptr;
    bool ran = false;
    qxBitMapLock ln, lo, lw;
    if (!qxLockBitMap(fx->newImage, 1, &ln)) return false;
    if (realtime || qxLockBitMap(fx->oldImage, 1, &lo)) {
        if (qxLockBitMap(dest, 0, &lw)) {
            qxDisplaceRecord &r = d->record;
            bool fits = ln.bytesPerPixel == lw.bytesPerPixel && ln.width >= uint32_t(fx->width) &&
                        ln.height >= uint32_t(fx->height);
            if (realtime) {
                const qxPlane from = qxPlaneOf(d->alpha), to = qxPlaneOf(layerAlpha);
                fits = fits && from.bytes && to.bytes && from.width >= fx->width && to.width >= fx->width &&
                       from.height >= fx->height && to.height >= fx->height;
                r.blend = nullptr, r.blendPitch = 0;
                r.sourceAlpha = from.bytes, r.sourceAlphaBytesPerRow = from.bytesPerRow;
                r.destAlpha = to.bytes, r.destAlphaBytesPerRow = to.bytesPerRow;
                r.reverse = fx->reverse;
            } else {
                fits = fits && lo.bytesPerPixel == lw.bytesPerPixel && lo.width >= uint32_t(fx->width) &&
                       lo.height >= uint32_t(fx->height);
                r.blend = lo.pixels, r.blendPitch = int32_t(lo.pixelsPerRow);
            }
            r.source = ln.pixels, r.destination = lw.pixels;
            r.sourcePitch = int32_t(ln.pixelsPerRow), r.destPitch = int32_t(lw.pixelsPerRow), r.layout = lw.pixelFormat;
            // Other depths keep the picture until the last frame.
            if (fits && lw.bytesPerPixel == 4) {
                if (water) qxWaterRipple32(&r, p);
                else qxSwirl32(&r, p);
                ran = true;
            } else if (fits && lw.bytesPerPixel == 2) {
                if (water) qxWaterRipple16(&r, p);
                else qxSwirl16(&r, p);
                ran = true;
            }
            qxUnLockBitMap(&lw);
        }
        if (!realtime) qxUnLockBitMap(&lo);
    }
    qxUnLockBitMap(&ln);
    return ran;
}

// One frame of water or strudel at position p of end.
int displaceFrame(qxTransitionFX *fx, DisplaceData *d, int *done, bool water)
{
    int32_t p = std::min(d->position, d->end);
    int32_t lv = int32_t(int64_t(p) * 255 / d->end);
    fx->level = fx->reverse ? 255 - lv : lv;
    if (fx->realtime) {
        qxFXPlanes l;
        if (!qxFXLayerPlanes(fx, &l) || !l.alpha) return ERR_NOLAYERS;
        if (p == d->end) {
            if (done) *done = 1;
            if (fx->reverse) {
                qxFillBitMapRect(l.alpha, 0, 0, fx->width, fx->height, 0);
            } else {
                qxFXCompose(fx->newImage, 0, 0, l.image, 0, 0, fx->width, fx->height, nullptr, nullptr);
                qxScaleAlpha(d->alpha, l.alpha, fx->height, 255);
            }
        } else {
            runKernel(fx, d, l.image, l.alpha, p, water);
        }
    } else {
        qxBitMap *picture = nullptr;
        if (p == d->end) {
            if (done) *done = 1;
            picture = fx->newImage;
        } else if (runKernel(fx, d, d->work, nullptr, p, water)) {
            picture = d->work;
        }
        if (picture) qxFXPaintWhole(fx, picture);
    }
    if (fx->phase == 1) {
        qxFXShowBackBuffer(fx);
        fx->frame++;
    }
    return 0;
}

// The kernel's destination: the work bitmap, or in real-time work the
// layer's picture with the private alpha plane.
int displaceTarget(qxTransitionFX *fx, DisplaceData *d)
{
    if (fx->realtime) return qxFXInitAlphaPair(fx, &d->alpha);
    d->work = qxFXNewWork(fx);
    return d->work ? 0 : ERR_BITMAP;
}

void dropDisplace(DisplaceData *d)
{
    qxFree(d->distance), qxFree(d->table1), qxFree(d->table2);
    d->distance = nullptr, d->table1 = d->table2 = nullptr;
    qxFXDrop(d->work), qxFXDropAlpha(d->alpha);
}

} // namespace

extern "C" {

int qxFXWaterStep(qxTransitionFX *fx, int *done)
{
    if (fx->phase == 0) {
        qxFXResetDisplayReverse(fx);
        auto *d = qxFXNewData<DisplaceData>(fx);
        if (!d) return ERR_MEM;
        int32_t n = fx->speed == -2 ? 10 : fx->speed == -1 ? 25 : fx->speed == -3 ? 50 : std::clamp(fx->speed, 5, 100);
        fx->speed = n;
        static const double amplitude[4] = {32.0, 64.0, 16.0, 8.0};
        qxDisplaceRecord &r = d->record;
        r.wavelength = amplitude[std::clamp(fx->effect - WATER1, 0, 3)];
        r.amplitudeStep = 0.05;
        r.frames = n, r.width = fx->width, r.height = fx->height;
        r.cx = fx->width / 2, r.cy = fx->height / 2, r.radius = std::max(r.cx, r.cy);
        if (int e = displaceTarget(fx, d)) return e;
        size_t cells;
        if (!qxMulSize(size_t(fx->width), size_t(fx->height), &cells) || !qxMulSize(cells, 4, &cells)) return ERR_MEM;
        d->distance = static_cast<int32_t *>(qxAlloc(cells, 0));
        d->table2 = static_cast<double *>(qxAlloc(sizeof(double) * QX_TRIG_ENTRIES, 0));
        if (!d->distance || !d->table2) return ERR_MEM;
        qxWaterRippleSetup(d->distance, d->table2, fx->width, fx->height, r.cx, r.cy);
        r.distance = d->distance, r.table2 = d->table2;
        d->end = 2 * n;
        fx->frames = qxFXFrameCount(2 * n, 1, 1);
        return 0;
    }
    auto *d = static_cast<DisplaceData *>(fx->data);
    if (fx->phase == 2) d->position = fx->frame;
    else {
        qxFXFrameStart(fx);
        d->position++;
    }
    return displaceFrame(fx, d, done, true);
}

void qxFXWaterCleanup(qxTransitionFX *fx) { dropDisplace(static_cast<DisplaceData *>(fx->data)); }

int qxFXStrudelStep(qxTransitionFX *fx, int *done)
{
    if (fx->phase == 0) {
        qxFXResetDisplayReverse(fx);
        auto *d = qxFXNewData<DisplaceData>(fx);
        if (!d) return ERR_MEM;
        d->record.width = fx->width, d->record.height = fx->height;
        int32_t step = fx->speed == -2 ? 16 : fx->speed == -1 ? 8 : fx->speed == -3 ? 4 : std::clamp(fx->speed, 2, 16);
        fx->speed = d->step = step;
        if (int e = displaceTarget(fx, d)) return e;
        d->table1 = static_cast<double *>(qxAlloc(sizeof(double) * QX_TRIG_ENTRIES, 0));
        d->table2 = static_cast<double *>(qxAlloc(sizeof(double) * QX_TRIG_ENTRIES, 0));
        if (!d->table1 || !d->table2) return ERR_MEM;
        qxSwirlSetup(d->table1, d->table2);
        d->record.table1 = d->table1, d->record.table2 = d->table2;
        d->end = 720;
        fx->frames = qxFXFrameCount(720, step, 1);
        return 0;
    }
    auto *d = static_cast<DisplaceData *>(fx->data);
    if (fx->phase == 2) d->position = d->step * fx->frame;
    else {
        qxFXFrameStart(fx);
        d->position += d->step;
    }
    return displaceFrame(fx, d, done, false);
}

void qxFXStrudelCleanup(qxTransitionFX *fx) { dropDisplace(static_cast<DisplaceData *>(fx->data)); }

} // extern "C"
