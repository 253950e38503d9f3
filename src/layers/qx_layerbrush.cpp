// Layers and sprite frames as sources of ConvertToBrush and GetBrushLink.
#include <cstdint>

#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "display/qx_bitmaptransform.h"
#include "display/qx_display.h"
#include "layers/qx_layer.h"
#include "layers/qx_sprite.h"
#include "objects/qx_anim.h"
#include "objects/qx_brushimage.h"
#include "core/commands/qx_args.h"
#include "platform/qx_errcodes.h"

namespace {

int copyPlanes(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t x, int32_t y, int32_t w, int32_t h,
               qxBitMap **bm, qxBitMap **m, qxBitMap **a)
{
    if (!bitmap || w < 1 || h < 1)
        return ERR_WRONGUSAGE;
    return qxCopyImageRect(bitmap, mask, alpha, x, y, w, h, 0, 0, 0, 0, bm, mask ? m : nullptr,
                           alpha ? a : nullptr);
}

// An anim layer gives the frame asked for; every other layer the picture
// it shows now, transformed and filtered as on screen. The layer is only
// read: converting must not turn a text layer into a brush layer.
int layerSource(lua_State *L, int sourceArg, uint32_t frame, int, qxBitMap **bm, qxBitMap **m, qxBitMap **a,
                uint32_t *w, uint32_t *h, uint32_t *transparent)
{
    const qxDisplay *d = qxCurrentDisplay;
    if (!d || !d->layersEnabled)
        return ERR_NOLAYERS;
    qxBGPic *b = qxLayerBGPic();
    int32_t n = 0;
    if (int r = qxGetLayerArg(L, sourceArg, b, &n))
        return r;
    const qxLayer *l = qxGetLayerByIndex(b, n);
    if (!l)
        return ERR_LAYERRANGE;
    if (l->type == QX_LAYER_VIDEO)
        return ERR_VIDEOLAYER;
    *transparent = 0xFFFFFFFFu;
    if (l->type == QX_TYPE_ANIM) {
        qxAnim *anim = nullptr;
        if (int r = qxFindAnim(L, l->layerid, &anim, 0))
            return r;
        if (frame < 1 || frame > anim->frameCount)
            return ERR_ANIMFRAME;
        *w = anim->width, *h = anim->height, *transparent = anim->transparentColour;
        return qxGetAnimFrameBitmap(anim, frame - 1, 1, 0, bm, m, a);
    }
    qxBitMap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    int32_t sx = 0, sy = 0;
    if (int r = qxGetLayerImage(L, l, &bitmap, &mask, &alpha, &sx, &sy))
        return r;
    const int32_t dw = l->onscreen->dwidth, dh = l->onscreen->dheight;
    *w = uint32_t(dw > 0 ? dw : 0), *h = uint32_t(dh > 0 ? dh : 0);
    return copyPlanes(bitmap, mask, alpha, sx, sy, dw, dh, bm, m, a);
}

int spriteSource(lua_State *L, int sourceArg, uint32_t frame, int, qxBitMap **bm, qxBitMap **m, qxBitMap **a,
                 uint32_t *w, uint32_t *h, uint32_t *transparent)
{
    qxSprite *s = nullptr;
    if (int r = qxFindSprite(qxGetObjectIDArg(L, sourceArg), &s, 0))
        return r;
    if (frame < 1 || int64_t(frame) > s->frameCount)
        return ERR_ANIMFRAME;
    qxBitMap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    if (int r = qxGetSpriteFrame(s, int32_t(frame) - 1, &bitmap, &mask, &alpha))
        return r;
    *w = uint32_t(s->width), *h = uint32_t(s->height), *transparent = s->transparentColour;
    return copyPlanes(bitmap, mask, alpha, 0, 0, s->width, s->height, bm, m, a);
}

} // namespace

extern "C" void qxLinkLayerBrushSources(void)
{
    qxRegisterBrushSource(QX_TYPE_LAYER, layerSource);
    qxRegisterBrushSource(QX_TYPE_SPRITE, spriteSource);
}
