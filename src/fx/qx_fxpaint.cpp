// Drawing helpers of the moving, scaling, blending and mask renderers.
#include "fx/qx_fxpaint.h"

#include "display/qx_adapter.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapplanes.h"
#include "display/qx_display.h"
#include "fx/qx_fxhooks.h"
#include "objects/qx_output.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"

qxBitMap *qxFXNewWork(const qxTransitionFX *fx)
{
    if (fx->width < 1 || fx->height < 1) return nullptr;
    return qxAllocBitMap(uint32_t(fx->width), uint32_t(fx->height), 0, nullptr);
}

void qxFXDrop(qxBitMap *&b)
{
    if (b) qxFreeBitMap(b);
    b = nullptr;
}
void qxFXDropMask(qxBitMap *&b)
{
    if (b) qxFreeMaskBitMap(b);
    b = nullptr;
}
void qxFXDropAlpha(qxBitMap *&b)
{
    if (b) qxFreeAlphaBitMap(b);
    b = nullptr;
}

void qxFXCompose(qxBitMap *source, int32_t sx, int32_t sy, qxBitMap *dest, int32_t dx, int32_t dy, int32_t w,
                 int32_t h, qxBitMap *mask, qxBitMap *alpha)
{
    if (!source || !dest || sx < 0 || sy < 0) return;
    if (!qxClipBltRect(nullptr, &sx, &sy, &dx, &dy, &w, &h, int32_t(source->width), int32_t(source->height),
                       int32_t(dest->width), int32_t(dest->height), 0))
        return;
    if (mask) qxBltBitMapMasked(source, sx, sy, dest, dx, dy, w, h, mask);
    else if (alpha) qxBltBitMapThroughAlpha(source, sx, sy, dest, dx, dy, w, h, alpha);
    else qxBltBitMapDirect(source, sx, sy, dest, dx, dy, w, h);
}

void qxFXPaint(qxTransitionFX *fx, qxBitMap *source, int32_t sx, int32_t sy, int32_t w, int32_t h, int32_t dx,
               int32_t dy, qxBitMap *mask, qxBitMap *alpha, bool atArea)
{
    if (!source || w < 1 || h < 1 || sx < 0 || sy < 0) return;
    const int32_t sw = int32_t(source->width), sh = int32_t(source->height);
    if (atArea) {
        // Pieces that move stay inside the area.
        qxClipRect area{0, 0, fx->width, fx->height};
        if (!qxClipBltRect(&area, &sx, &sy, &dx, &dy, &w, &h, sw, sh, fx->width, fx->height, 1)) return;
        dx += fx->x, dy += fx->y;
    }
    if (fx->realtime) {
        // The layer's own picture is the area: the pieces go into it.
        qxFXPlanes p;
        if (!qxFXLayerPlanes(fx, &p)) return;
        dx -= fx->x, dy -= fx->y;
        if (!qxClipBltRect(nullptr, &sx, &sy, &dx, &dy, &w, &h, sw, sh, p.width, p.height, 0)) return;
        qxFXCompose(source, sx, sy, p.image, dx, dy, w, h, mask, alpha);
        if (!fx->drawing && !fx->layerTransformed && !fx->viaBackBuffer)
            qxFXShowRect(fx, p.image, dx, dy, dx + fx->x, dy + fx->y, w, h, p.width, p.height, p.mask, p.alpha, 0);
        return;
    }
    if (fx->target) {
        if (!qxClipBltRect(nullptr, &sx, &sy, &dx, &dy, &w, &h, sw, sh, fx->bgWidth, fx->bgHeight, 0)) return;
        qxFXCompose(source, sx, sy, fx->target, dx, dy, w, h, mask, alpha);
        return;
    }
    SafeBlt(fx->L, source, sx, sy, nullptr, dx, dy, w, h, sw, sh, fx->bgWidth, fx->bgHeight, fx->blitFlags, mask,
            alpha, qxCurrentDisplay ? qxCurrentDisplay->clipRegion : nullptr);
}

bool qxFXLayerPlanes(qxTransitionFX *fx, qxFXPlanes *p)
{
    *p = {};
    return fx->realtime && fx->layer && qxFXHook.layerImages &&
           !qxFXHook.layerImages(fx->layer, &p->image, &p->mask, &p->alpha, &p->width, &p->height);
}

void qxFXShowWhole(qxDisplay *d, qxBitMap *picture, int32_t w, int32_t h)
{
    // Forced: a transition's whole picture reaches the window in refresh
    // mode too.
    if (!d || !picture) return;
    qxShowOnWindow(picture, 0, 0, d, 0, 0, w, h, QX_SHOW_FORCE, nullptr);
}

void qxFXShowWorkWhole(qxTransitionFX *fx)
{
    qxSafeBltView v{};
    if (!qxBitMapDisplay.currentView || !qxBitMapDisplay.currentView(nullptr, nullptr, &v) || !v.work1) return;
    // With sprites shown the frames go into their background (work1) and
    // the picture with the sprites on top is work2: that is what is shown.
    qxFXShowWhole(static_cast<qxDisplay *>(v.display), v.work2 ? v.work2 : v.work1, fx->bgWidth, fx->bgHeight);
}

void qxFXShowBackBuffer(qxTransitionFX *fx)
{
    if (fx->drawing || fx->target) return;
    if (fx->realtime) {
        // Frames built in the work bitmap are shown from there, whole.
        const bool whole = fx->toBackBuffer && !fx->layerTransformed && !fx->viaBackBuffer;
        qxFXPlanes p;
        if (qxFXLayerPlanes(fx, &p))
            qxFXShowRect(fx, p.image, 0, 0, fx->x, fx->y, p.width, p.height, p.width, p.height, p.mask, p.alpha,
                         whole ? 0 : 32);
        if (whole) qxFXShowWorkWhole(fx);
        return;
    }
    if (fx->toBackBuffer) {
        qxFXShowWorkWhole(fx);
    } else if (fx->viaBackBuffer) {
        qxSafeBltView v{};
        if (qxBitMapDisplay.currentView && qxBitMapDisplay.currentView(nullptr, nullptr, &v))
            qxBltToScreen(fx->L, nullptr, fx->x, fx->y, v.display, fx->x, fx->y, fx->width, fx->height);
    }
}

void qxFXResetDisplayReverse(qxTransitionFX *fx)
{
    // These effects run backwards only on a real-time layer (the driver
    // sees to it); on the display they bring the new picture in.
    if (!fx->realtime && qxFXReverseNeedsRealtime(fx->effect)) fx->reverse = 0;
}

void qxFXAreaFill(qxTransitionFX *fx, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour, uint32_t flags)
{
    if (!qxClipToSize(&x, &y, &w, &h, fx->width, fx->height)) return;
    // A real-time layer's own picture is the area; the display is not.
    if (fx->realtime) qxFXFillRect(fx, x, y, w, h, colour, flags);
    else qxFXFillRect(fx, fx->x + x, fx->y + y, w, h, colour, flags);
}

void qxFXOldIntoLayer(qxTransitionFX *fx)
{
    qxFXPlanes l;
    if (!fx->oldImage || !qxFXLayerPlanes(fx, &l)) return;
    qxFXDrawRect(fx->oldImage, 0, 0, l.image, l.mask, l.alpha, 0, 0, fx->width, fx->height, fx->width, fx->height,
                 l.width, l.height, nullptr, nullptr, fx, 8);
}
