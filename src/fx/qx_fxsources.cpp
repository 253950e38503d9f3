// What a running transition reads again while it runs: the picture under
// its layer (old image) and the emulated BGPic of bgpicemu (new image),
// composed anew once a drawing or a layer change marked them; and the work
// planes in which an async real-time transition keeps what it revealed, so
// that the current frame can be rebuilt over a new picture.
#include <algorithm>

#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapplanes.h"
#include "display/qx_display.h"
#include "fx/qx_fxhooks.h"
#include "layers/qx_layer.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"

namespace {

bool bgpicAlive(const qxBGPic *b)
{
    for (const qxBGPic *o = qxBGPics; o; o = o->next)
        if (o == b) return true;
    return false;
}

// Rectangle (x, y, w, h) of a BGPic with its visible layers into `into` at
// 0, 0; what lies outside the BGPic stays. 0 or 1522.
int composeInto(qxTransitionFX *fx, qxBGPic *b, qxBitMap *into, int32_t x, int32_t y, int32_t w, int32_t h,
                uint32_t flags)
{
    int32_t cx = x, cy = y, cw = w, ch = h, bw = 0, bh = 0;
    qxFXComposeSize(b, flags, &bw, &bh);
    if (!qxIntersectRect(&cx, &cy, &cw, &ch, 0, 0, bw, bh)) return 0;
    qxBitMap *whole = qxAllocBitMap(uint32_t(bw), uint32_t(bh), 0, nullptr);
    if (!whole) return ERR_BITMAP;
    Redraw(fx->L, qxCurrentDisplay, b, whole, cx, cy, cw, ch, flags);
    qxFXBlitClipped(whole, cx, cy, into, cx - x, cy - y, cw, ch, bw, bh, int32_t(into->width),
                    int32_t(into->height));
    qxFreeBitMap(whole);
    return 0;
}

uint32_t refreshSources(qxTransitionFX *fx, uint32_t which)
{
    qxDisplay *d = qxCurrentDisplay;
    qxBGPic *shown = d ? d->bgpic : nullptr;
    // A freed emulated BGPic is not read again: its last picture stays.
    if (fx->emuBGPic && !bgpicAlive(fx->emuBGPic)) fx->emuBGPic = nullptr;
    qxBGPic *emu = fx->bgpicEmu ? fx->emuBGPic : nullptr;
    // Both marks are read first: the two may be the same BGPic.
    const bool shownChanged = shown && shown->changed, emuChanged = emu && emu->changed;
    uint32_t done = 0;
    // Only a layer has a picture under it; mode 1 keeps the old screen.
    if ((which & 1) && shownChanged && fx->layer && fx->oldImage && qxLayerOwner(fx->layer) == shown) {
        const uint32_t hidden = fx->layer->hidden;
        fx->layer->hidden = 1;
        const int e = composeInto(fx, shown, fx->oldImage, fx->x, fx->y, fx->width, fx->height, 0);
        fx->layer->hidden = hidden;
        if (!e) shown->changed = 0, done |= 1;
    }
    if ((which & 2) && emuChanged && fx->newImage && fx->ownsNewImage && !qxFXEmuAtDisplaySize(fx) &&
        !composeInto(fx, emu, fx->newImage, 0, 0, fx->width, fx->height, QX_RD_BGPICBITMAP))
        emu->changed = 0, done |= 2;
    return done;
}

} // namespace

void qxFXComposeSize(const qxBGPic *b, uint32_t flags, int32_t *w, int32_t *h)
{
    const bool current = (flags & QX_RD_BGPICBITMAP) && b->curBitmap;
    *w = current ? b->curWidth : b->width;
    *h = current ? b->curHeight : b->height;
}

int qxFXAllocWorkPlanes(qxTransitionFX *fx)
{
    qxBitMap *img = nullptr, *m = nullptr, *a = nullptr;
    int32_t w = 0, h = 0;
    if (!fx->async || !fx->realtime || !fx->layer || !qxFXHook.layerImages ||
        qxFXHook.layerImages(fx->layer, &img, &m, &a, &w, &h))
        return 0;
    // A hide starts from everything shown, a show from nothing.
    if (a && fx->newAlpha && !fx->workAlpha) {
        fx->workAlpha = qxAllocAlphaBitMap(uint32_t(w), uint32_t(h), 1, nullptr, 0);
        if (!fx->workAlpha) return ERR_ALLOCALPHA;
        if (fx->reverse) qxFillBitMapRect(fx->workAlpha, 0, 0, w, h, 255);
    } else if (m && fx->newMask && !fx->workMask) {
        fx->workMask = qxAllocMaskBitMap(nullptr, uint32_t(w), uint32_t(h), 1, nullptr, 0);
        if (!fx->workMask) return ERR_ALLOCMASK;
        if (fx->reverse) qxMaskRowOp(fx->workMask, 0, 0, w, h, 0);
    }
    return 0;
}

void qxFXRebuildFrame(qxTransitionFX *fx)
{
    qxBitMap *img = nullptr, *m = nullptr, *a = nullptr;
    int32_t w = 0, h = 0;
    if (!fx->realtime || !fx->layer || !fx->newImage || !qxFXHook.layerImages ||
        qxFXHook.layerImages(fx->layer, &img, &m, &a, &w, &h))
        return;
    if (fx->newMask && fx->workMask && m) {
        qxMaskCopyOp(fx->workMask, 0, 0, m, 0, 0, w, h, 2, nullptr, 0);
        qxMaskCopyOp(fx->newMask, 0, 0, m, 0, 0, w, h, 4, nullptr, 0);
    } else if (fx->newAlpha && fx->workAlpha && a) {
        const qxPlane work = qxPlaneOf(fx->workAlpha), src = qxPlaneOf(fx->newAlpha), dst = qxPlaneOf(a);
        const int32_t cw = std::min({w, work.width, src.width, dst.width});
        const int32_t ch = std::min({h, work.height, src.height, dst.height});
        for (int32_t y = 0; work.bytes && src.bytes && dst.bytes && y < ch; y++) {
            const uint8_t *wr = work.bytes + size_t(y) * size_t(work.bytesPerRow);
            const uint8_t *sr = src.bytes + size_t(y) * size_t(src.bytesPerRow);
            uint8_t *dr = dst.bytes + size_t(y) * size_t(dst.bytesPerRow);
            for (int32_t x = 0; x < cw; x++) dr[x] = uint8_t((wr[x] * sr[x] + 127) / 255);
        }
    }
    qxFXBlitClipped(fx->newImage, 0, 0, img, 0, 0, w, h, fx->width, fx->height, w, h);
}

void qxLinkFXSources(void)
{
    qxFXHook.refreshSources = refreshSources;
}
