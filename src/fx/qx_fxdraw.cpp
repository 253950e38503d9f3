// The renderer contract's building blocks (piece blit, frame start and end)
// and the drawing routines shared by all effects.
#include <algorithm>
#include <cstring>

#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapplanes.h"
#include "display/qx_display.h"
#include "fx/qx_fxhooks.h"
#include "fx/qx_fxpaint.h"
#include "imaging/qx_transitionkernels.h"
#include "layers/qx_layer.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

qxFXHooks qxFXHook;

namespace {

constexpr uint32_t DR_PLANECOPY = 1, DR_THROUGH = 2, DR_PLANESONLY = 4, DR_NOSHOW = 8, DR_NOWORK = 16, DR_SET = 64;

void *clipRegionOfDisplay()
{
    return qxCurrentDisplay ? qxCurrentDisplay->clipRegion : nullptr;
}

// The display's work bitmap and record, or none.
qxBitMap *workBitMap(void **display)
{
    qxSafeBltView v{};
    if (!qxBitMapDisplay.currentView || !qxBitMapDisplay.currentView(nullptr, nullptr, &v)) return nullptr;
    if (display) *display = v.display;
    return v.work1;
}

// A blit into a private bitmap: clipped to both sizes, through the mask or
// the alpha plane when given.
void blitInto(qxBitMap *src, int32_t sx, int32_t sy, qxBitMap *dst, int32_t dx, int32_t dy, int32_t w, int32_t h,
              int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH, qxBitMap *mask, qxBitMap *alpha)
{
    if (!src || !dst || sx < 0 || sy < 0) return;
    if (!qxClipBltRect(nullptr, &sx, &sy, &dx, &dy, &w, &h, srcW, srcH, dstW, dstH, 0)) return;
    if (mask) qxBltBitMapMasked(src, sx, sy, dst, dx, dy, w, h, mask);
    else if (alpha) qxBltBitMapThroughAlpha(src, sx, sy, dst, dx, dy, w, h, alpha);
    else qxBltBitMapDirect(src, sx, sy, dst, dx, dy, w, h);
}

void showWholeLayer(qxTransitionFX *fx)
{
    qxBitMap *img = nullptr, *m = nullptr, *a = nullptr;
    int32_t w = 0, h = 0;
    if (!fx->layer || !qxFXHook.layerImages || qxFXHook.layerImages(fx->layer, &img, &m, &a, &w, &h)) return;
    qxFXShowRect(fx, img, 0, 0, fx->x, fx->y, w, h, w, h, m, a, 32);
}

} // namespace

int qxFXAllocData(qxTransitionFX *fx, size_t bytes)
{
    fx->data = qxAlloc(bytes ? bytes : 1, 1);
    return fx->data ? 0 : ERR_MEM;
}

void qxFXFrameStart(qxTransitionFX *fx)
{
    if (fx->layer && qxFXHook.layerVisible) qxFXHook.layerVisible(fx->layer);
}

void qxFXBlitPiece(qxTransitionFX *fx, int32_t sx, int32_t sy, int32_t w, int32_t h)
{
    // Pieces are cut to the area first: a piece reaching left of or above
    // it keeps its part inside rather than being dropped whole.
    if (!qxClipToSize(&sx, &sy, &w, &h, fx->width, fx->height)) return;
    if (fx->realtime) {
        qxBitMap *img = nullptr, *m = nullptr, *a = nullptr;
        int32_t lw = 0, lh = 0;
        if (!fx->layer || !qxFXHook.layerImages || qxFXHook.layerImages(fx->layer, &img, &m, &a, &lw, &lh)) return;
        uint32_t flags = (fx->reverse ? DR_PLANESONLY : 0) |
                         (fx->drawing || fx->layerTransformed || fx->viaBackBuffer ? DR_NOSHOW : 0);
        qxFXDrawRect(fx->newImage, sx, sy, img, m, a, sx, sy, w, h, fx->width, fx->height, fx->width, fx->height,
                     fx->newMask, fx->newAlpha, fx, flags);
        return;
    }
    if (fx->target) {
        blitInto(fx->newImage, sx, sy, fx->target, fx->x + sx, fx->y + sy, w, h, fx->width, fx->height, fx->bgWidth,
                 fx->bgHeight, fx->newMask, fx->newAlpha);
        return;
    }
    SafeBlt(fx->L, fx->newImage, sx, sy, nullptr, fx->x + sx, fx->y + sy, w, h, fx->width, fx->height, fx->bgWidth,
            fx->bgHeight, fx->blitFlags, fx->newMask, fx->newAlpha, clipRegionOfDisplay());
}

void qxFXFrameEnd(qxTransitionFX *fx)
{
    if (fx->drawing || fx->target) {
    } else if (fx->layerTransformed) {
        showWholeLayer(fx);
    } else if (fx->viaBackBuffer) {
        if (fx->realtime) showWholeLayer(fx);
        else if (fx->toBackBuffer) qxFXShowWorkWhole(fx);
        else {
            void *d = nullptr;
            workBitMap(&d);
            if (d) qxBltToScreen(fx->L, nullptr, fx->x, fx->y, d, fx->x, fx->y, fx->width, fx->height);
        }
    } else if (fx->toBackBuffer) {
        qxFXShowWorkWhole(fx);
    }
    fx->frame++;
}

uint32_t qxFXRefreshSources(qxTransitionFX *fx, uint32_t which)
{
    return qxFXHook.refreshSources ? qxFXHook.refreshSources(fx, which) : 0;
}

void qxFXShowRect(qxTransitionFX *fx, qxBitMap *bitmap, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                  int32_t h, int32_t bitmapWidth, int32_t bitmapHeight, qxBitMap *mask, qxBitMap *alpha,
                  uint32_t flags)
{
    if (qxFXHook.showRect)
        qxFXHook.showRect(fx, bitmap, sx, sy, dx, dy, w, h, bitmapWidth, bitmapHeight, mask, alpha, flags);
}

void qxFXDrawRect(qxBitMap *source, int32_t sx, int32_t sy, qxBitMap *destImage, qxBitMap *destMask,
                  qxBitMap *destAlpha, int32_t dx, int32_t dy, int32_t w, int32_t h, int32_t sourceWidth,
                  int32_t sourceHeight, int32_t destWidth, int32_t destHeight, qxBitMap *sourceMask,
                  qxBitMap *sourceAlpha, qxTransitionFX *fx, uint32_t flags)
{
    if (sx < 0 || sy < 0) return;
    if (!qxClipBltRect(nullptr, &sx, &sy, &dx, &dy, &w, &h, sourceWidth, sourceHeight, destWidth, destHeight, 0))
        return;
    if (flags & DR_PLANESONLY) {
        const bool set = flags & DR_SET;
        auto planes = [&](qxBitMap *m, qxBitMap *a) {
            if (a) qxFillBitMapRect(a, dx, dy, w, h, set ? 255 : 0);
            else if (m) qxMaskRowOp(m, dx, dy, w, h, set ? 0 : 1);
        };
        planes(destMask, destAlpha);
        if (fx && !(flags & DR_NOWORK)) planes(fx->workMask, fx->workAlpha);
    } else {
        if (sourceMask) qxMaskCopyOp(sourceMask, sx, sy, destMask, dx, dy, w, h, (flags & DR_PLANECOPY) ? 0 : 2,
                                     nullptr, 0);
        else if (sourceAlpha) qxBltAlpha(sourceAlpha, sx, sy, destAlpha, dx, dy, w, h, 0, 0);
        else if (destMask) qxMaskRowOp(destMask, dx, dy, w, h, 0);
        if (flags & DR_THROUGH) {
            if (sourceMask) qxBltBitMapMasked(source, sx, sy, destImage, dx, dy, w, h, sourceMask);
            else if (sourceAlpha) qxBltBitMapThroughAlpha(source, sx, sy, destImage, dx, dy, w, h, sourceAlpha);
            else qxBltBitMapDirect(source, sx, sy, destImage, dx, dy, w, h);
        } else {
            qxBltBitMapDirect(source, sx, sy, destImage, dx, dy, w, h);
        }
        // The work planes remember what is revealed.
        if (fx && !(flags & DR_NOWORK)) {
            if (fx->workAlpha) qxFillBitMapRect(fx->workAlpha, dx, dy, w, h, 255);
            else if (fx->workMask) qxMaskRowOp(fx->workMask, dx, dy, w, h, 0);
        }
    }
    if (fx && !(flags & DR_NOSHOW))
        qxFXShowRect(fx, destImage, dx, dy, dx + fx->x, dy + fx->y, w, h, destWidth, destHeight, destMask, destAlpha,
                     flags);
}

void qxFXFillRect(qxTransitionFX *fx, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour, uint32_t flags)
{
    if (fx->realtime) {
        qxBitMap *img = nullptr, *m = nullptr, *a = nullptr;
        int32_t lw = 0, lh = 0;
        if (!fx->layer || !qxFXHook.layerImages || qxFXHook.layerImages(fx->layer, &img, &m, &a, &lw, &lh)) return;
        if (!qxClipToSize(&x, &y, &w, &h, lw, lh)) return;
        qxRectFill(img, x, y, w, h, colour);
        if (!(flags & DR_NOSHOW)) qxFXShowRect(fx, img, x, y, x + fx->x, y + fx->y, w, h, lw, lh, m, a, flags);
        return;
    }
    if (fx->target) {
        if (qxClipToSize(&x, &y, &w, &h, fx->bgWidth, fx->bgHeight)) qxRectFill(fx->target, x, y, w, h, colour);
        return;
    }
    // On the display a fill goes where the frame's pictures go: cut by the
    // clip region and under the sprites.
    if (!qxClipToSize(&x, &y, &w, &h, fx->bgWidth, fx->bgHeight)) return;
    qxBitMap *fill = qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr);
    if (!fill) return;
    qxRectFill(fill, 0, 0, w, h, colour);
    qxFXPaint(fx, fill, 0, 0, w, h, x, y, nullptr, nullptr, false);
    qxFreeBitMap(fill);
}

void qxFXBlitRegion(qxBitMap *source, int32_t sx, int32_t sy, qxBitMap *dest, int32_t dx, int32_t dy, int32_t w,
                    int32_t h, int32_t sourceWidth, int32_t sourceHeight, int32_t destWidth, int32_t destHeight,
                    uint32_t blitFlags, uint32_t flags, qxBitMap *oldPicture, qxBitMap *sourceMask,
                    qxBitMap *composing, qxBitMap *sourceAlpha, qxTransitionFX *fx)
{
    if (fx && fx->realtime) {
        qxBitMap *img = nullptr, *m = nullptr, *a = nullptr;
        int32_t lw = 0, lh = 0;
        if (!fx->layer || !qxFXHook.layerImages || qxFXHook.layerImages(fx->layer, &img, &m, &a, &lw, &lh)) return;
        qxFXDrawRect(source, sx, sy, img, m, a, dx - fx->x, dy - fx->y, w, h, sourceWidth, sourceHeight, lw, lh,
                     sourceMask, sourceAlpha, fx, flags | (fx->drawing || fx->viaBackBuffer ? DR_NOSHOW : 0));
        return;
    }
    if (!composing || w < 1 || h < 1) return;
    const int32_t cw = int32_t(composing->width), ch = int32_t(composing->height);
    blitInto(oldPicture, sx, sy, composing, 0, 0, w, h, sourceWidth, sourceHeight, cw, ch, nullptr, nullptr);
    blitInto(source, sx, sy, composing, 0, 0, w, h, sourceWidth, sourceHeight, cw, ch, sourceMask, sourceAlpha);
    if (dest || (fx && fx->target)) {
        blitInto(composing, 0, 0, dest ? dest : fx->target, dx, dy, w, h, cw, ch, destWidth, destHeight, nullptr,
                 nullptr);
    } else {
        SafeBlt(fx ? fx->L : nullptr, composing, 0, 0, nullptr, dx, dy, w, h, cw, ch, destWidth, destHeight, blitFlags,
                nullptr, nullptr, clipRegionOfDisplay());
    }
}

void qxFXBlitClipped(qxBitMap *source, int32_t sx, int32_t sy, qxBitMap *dest, int32_t dx, int32_t dy, int32_t w,
                     int32_t h, int32_t sourceWidth, int32_t sourceHeight, int32_t destWidth, int32_t destHeight)
{
    // A negative source corner moves the destination by the same amount.
    if (!source || !dest) return;
    if (!qxClipBltRect(nullptr, &sx, &sy, &dx, &dy, &w, &h, sourceWidth, sourceHeight, destWidth, destHeight, 0))
        return;
    qxBltBitMapDirect(source, sx, sy, dest, dx, dy, w, h);
}

void qxFXMaskAlpha(qxBitMap *mask, qxBitMap *destAlpha, qxBitMap *sourceAlpha, int32_t w, int32_t h, int invert)
{
    qxPlane m = qxPlaneOf(mask), d = qxPlaneOf(destAlpha), s = qxPlaneOf(sourceAlpha);
    if (!m.bytes || !d.bytes || !s.bytes) return;
    w = std::min({w, m.width, d.width, s.width});
    h = std::min({h, m.height, d.height, s.height});
    for (int32_t y = 0; y < h; y++) {
        const uint8_t *mr = m.bytes + size_t(y) * m.bytesPerRow, *sr = s.bytes + size_t(y) * s.bytesPerRow;
        uint8_t *dr = d.bytes + size_t(y) * d.bytesPerRow;
        for (int32_t x = 0; x < w; x++) {
            const bool set = ((mr[x >> 3] >> (7 - (x & 7))) & 1) != invert;
            dr[x] = set ? sr[x] : 0;
        }
    }
}

int qxFXRollKernel(qxBitMap *source, qxBitMap *dest, void *parameters)
{
    auto *r = static_cast<qxCopyRecord *>(parameters);
    if (!r || r->width < 1 || r->height < 1) return ERR_WRONGUSAGE;
    qxBitMapLock ls, ld;
    if (!qxLockBitMap(source, 1, &ls)) return ERR_LOCKBMAP;
    if (!qxLockBitMap(dest, 0, &ld)) {
        qxUnLockBitMap(&ls);
        return ERR_LOCKBMAP;
    }
    // The kernel walks whole rows of both pictures at the record's size.
    const bool fits = ls.bytesPerPixel == ld.bytesPerPixel && ls.width >= uint32_t(r->width) &&
                      ls.height >= uint32_t(r->height) && ld.width >= uint32_t(r->width) &&
                      ld.height >= uint32_t(r->height);
    if (fits) {
        r->source = ls.pixels, r->destination = ld.pixels;
        r->sourcePitch = int32_t(ls.pixelsPerRow), r->destPitch = int32_t(ld.pixelsPerRow);
        r->bytesPerPixel = ld.bytesPerPixel;
        qxRollKernel(r);
    }
    qxUnLockBitMap(&ld), qxUnLockBitMap(&ls);
    return fits ? 0 : ERR_WRONGUSAGE;
}

void qxFXFillAlpha(qxBitMap *alpha, qxBitMap *mask, qxBitMap *sourceAlpha, int32_t w, int32_t h)
{
    if (!alpha) return;
    if (mask) qxMaskToAlpha(mask, 0, 0, alpha, 0, 0, w, h, 255);
    else if (sourceAlpha) qxBltAlpha(sourceAlpha, 0, 0, alpha, 0, 0, w, h, 0, 0);
    else qxFillBitMapRect(alpha, 0, 0, w, h, 255);
}

qxBitMap *qxFXMakeAlpha(qxBitMap *mask, qxBitMap *alpha, int32_t w, int32_t h)
{
    if (w < 1 || h < 1) return nullptr;
    qxBitMap *a = qxAllocAlphaBitMap(uint32_t(w), uint32_t(h), 1, nullptr, 0);
    if (a) qxFXFillAlpha(a, mask, alpha, w, h);
    return a;
}

namespace {

// The private alpha plane of a real-time fade; false without real-time
// work or a layer to draw into (*error says which).
bool freshAlpha(qxTransitionFX *fx, qxBitMap **alpha, qxBitMap **image, qxBitMap **layerAlpha, int *error)
{
    *error = 0;
    if (!fx->realtime) return false;
    qxBitMap *m = nullptr;
    int32_t w = 0, h = 0;
    if (!fx->layer || !qxFXHook.layerImages || qxFXHook.layerImages(fx->layer, image, &m, layerAlpha, &w, &h)) {
        *error = ERR_NOLAYERS;
        return false;
    }
    if (*alpha) qxFreeAlphaBitMap(*alpha);
    *alpha = qxFXMakeAlpha(fx->newMask, fx->newAlpha, fx->width, fx->height);
    if (!*alpha) *error = ERR_MEM;
    return *alpha != nullptr;
}

} // namespace

int qxFXInitComposite(qxTransitionFX *fx, qxBitMap **alpha)
{
    qxBitMap *image = nullptr, *layerAlpha = nullptr;
    int e = 0;
    if (freshAlpha(fx, alpha, &image, &layerAlpha, &e))
        qxBltBitMapDirect(fx->newImage, 0, 0, image, 0, 0, fx->width, fx->height);
    return e;
}

int qxFXInitAlphaPair(qxTransitionFX *fx, qxBitMap **alpha)
{
    qxBitMap *image = nullptr, *layerAlpha = nullptr;
    int e = 0;
    freshAlpha(fx, alpha, &image, &layerAlpha, &e);
    return e;
}

int qxFXInitFill(qxTransitionFX *fx, int fill, qxBitMap **alpha)
{
    qxBitMap *image = nullptr, *layerAlpha = nullptr;
    int e = 0;
    if (!freshAlpha(fx, alpha, &image, &layerAlpha, &e)) return e;
    if (fill) qxRectFill(image, 0, 0, fx->width, fx->height, uint32_t(fx->parameter) & 0xFFFFFF);
    else qxBltAlpha(*alpha, 0, 0, layerAlpha, 0, 0, fx->width, fx->height, 0, 0);
    return 0;
}

int qxFXCountOverlaps(qxLayer *first, qxLayer *layer, void *out)
{
    if (!layer) return 0;
    int32_t x, y, w, h;
    qxLayerScreenRect(layer, layer->onscreen, &x, &y, &w, &h);
    auto *records = static_cast<qxFXOverlap *>(out);
    int n = 0;
    for (qxLayer *l = first; l && l != layer; l = l->next) {
        if (l->hidden || l->type == QX_TYPE_NOOBJECT) continue;
        qxFXOverlap o{};
        qxLayerScreenRect(l, l->onscreen, &o.x, &o.y, &o.width, &o.height);
        if (!qxRectsOverlapWH(x, y, w, h, o.x, o.y, o.width, o.height)) continue;
        if (records) {
            o.layer = l;
            const qxLayerData *d = l->onscreen;
            o.data[0] = d->bitmap, o.data[1] = d->mask, o.data[2] = d->alpha;
            records[n] = o;
        }
        n++;
    }
    return n;
}
