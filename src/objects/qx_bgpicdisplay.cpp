// BGPic composites, draw targets and the saved render target.
#include "objects/qx_bgpicdisplay.h"

#include "display/qx_bitmapscale.h"
#include "display/qx_display.h"
#include "objects/qx_output.h"
#include "objects/qx_selection.h"
#include "platform/qx_errcodes.h"

namespace {

bool plain(const qxBGPic *b) { return !b->layers.count && !b->sprites; }

bool scalesItsBGPic(const qxDisplay *d) { return d->layerScale && d->scaledWidth && d->scaledHeight; }

} // namespace

extern "C" {

qxBitMap *qxGetBGPicComposite(lua_State *L, qxDisplay *d, qxBGPic *b)
{
    if (!b) return nullptr;
    if (!d || plain(b) || !qxBitMapDisplay.redraw) return b->bitmap;
    qxBitMap *&buf = d->cacheBitMap2;
    if (!buf || buf->width != uint32_t(b->width) || buf->height != uint32_t(b->height)) {
        qxFreeBitMap(buf);
        buf = qxAllocBitMap(uint32_t(b->width), uint32_t(b->height), 0, nullptr);
        if (!buf) return b->bitmap;
    }
    qxBitMapDisplay.redraw(L, buf, 0, 0, b->width, b->height, 1);
    return buf;
}

int qxGetBGPicDrawTarget(lua_State *L, qxBGPic *b, int32_t x, int32_t y, int32_t w, int32_t h, qxBitMap **out,
                         uint32_t *owned)
{
    *out = nullptr;
    *owned = 0;
    qxDisplay *d = qxCurrentDisplay;
    const bool current = d && d->bgpic == b;
    if (current && !scalesItsBGPic(d)) {
        *out = qxGetBGPicComposite(L, d, b);
        return *out ? 0 : ERR_BITMAP;
    }
    qxBitMap *bm = qxAllocBitMap(uint32_t(b->width), uint32_t(b->height), 0, nullptr);
    if (!bm) return ERR_BITMAP;
    if (current && qxBitMapDisplay.redraw && !plain(b))
        qxBitMapDisplay.redraw(L, bm, x, y, w, h, 1);
    else
        qxBltBitMapDirect(b->bitmap, x, y, bm, x, y, w, h);
    *out = bm;
    *owned = 1;
    return 0;
}

int qxScaleBGPicToDisplay(lua_State *, qxDisplay *d, qxBGPic *b, int)
{
    if (!d || !b || !d->scaledWidth || !d->scaledHeight || !b->baseBitmap) return 0;
    const int32_t sw = int32_t(d->scaledWidth), sh = int32_t(d->scaledHeight);
    qxBitMap *nb = nullptr, *nm = nullptr, *na = nullptr;
    if (int r = qxScalePixels(b->baseBitmap, b->baseMask, b->baseAlpha, 0, 0, nullptr, b->baseWidth, b->baseHeight,
                              sw, sh, (d->flags & QX_DISP_SMOOTHSCALE) ? 1 : 0, 0, &nb, b->baseMask ? &nm : nullptr,
                              b->baseAlpha ? &na : nullptr))
        return r;
    qxUseWorkingPlanes(b);
    b->curBitmap = nb, b->curMask = nm, b->curAlpha = na;
    b->curWidth = sw, b->curHeight = sh;
    d->scaleX = double(sw) / b->width;
    d->scaleY = double(sh) / b->height;
    return 0;
}

int qxComputeDisplayScale(lua_State *L, qxDisplay *d, qxBGPic *b, qxBitMap **mask, qxBitMap **alpha)
{
    if (mask) *mask = nullptr;
    if (alpha) *alpha = nullptr;
    if (!d || !b) return 0;
    const int32_t sw = int32_t(d->scaledWidth), sh = int32_t(d->scaledHeight);
    if (d->layerScale && sw && sh) {
        if (b->curWidth == sw && b->curHeight == sh) {
            d->scaleX = double(sw) / b->width;
            d->scaleY = double(sh) / b->height;
            return 0;
        }
        return qxScaleBGPicToDisplay(L, d, b, 0);
    }
    // Planes scaled for a display that scaled the BGPic before are stale
    // here: this display shows the working planes.
    qxUseWorkingPlanes(b);
    if (d->autoScale && sw && sh) {
        d->scaleX = double(sw) / b->width;
        d->scaleY = double(sh) / b->height;
        if (!b->baseMask && !b->baseAlpha) return 0;
        // Only the shape is wanted: the scaled picture goes at once.
        qxBitMap *picture = nullptr;
        int r = qxScalePixels(b->baseBitmap, b->baseMask, b->baseAlpha, 0, 0, nullptr, b->baseWidth, b->baseHeight,
                              sw, sh, (d->flags & QX_DISP_SMOOTHSCALE) ? 1 : 0, 0, &picture,
                              b->baseMask ? mask : nullptr, b->baseAlpha ? alpha : nullptr);
        qxFreeBitMap(picture);
        return r;
    }
    d->scaleX = d->scaleY = 1.0;
    return 0;
}

int qxIsAreaDirty(qxBGPic *b, int32_t x, int32_t y, int32_t w, int32_t h)
{
    qxDisplay *d = qxCurrentDisplay;
    if (!b || !b->sprites || !d || d->bgpic != b || !qxBitMapDisplay.spriteOverlap) return 0;
    return qxBitMapDisplay.spriteOverlap(x, y, w, h) ? 1 : 0;
}
}
