// Drawing into a layer (SelectLayer): the layer gets pixels of its own that
// the select core can draw into, and shows them again when drawing ends.
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "display/qx_asyncdraw.h"
#include "display/qx_bitmaptransform.h"
#include "display/qx_display.h"
#include "layers/qx_layer.h"
#include "layers/qx_layerfilters.h"
#include "objects/qx_anim.h"
#include "objects/qx_bgpicobj.h"
#include "objects/qx_brush.h"
#include "objects/qx_objectuse.h"
#include "objects/qx_output.h"
#include "objects/qx_selection.h"
#include "platform/qx_errcodes.h"

namespace {

void freeRenditions(lua_State *L, qxLayer *l)
{
    qxLayerData *seen[3] = {};
    int n = 0;
    for (qxLayerData *d : {l->onscreen, l->intermediate, l->base}) {
        if (d == seen[0] || d == seen[1] || d == seen[2]) continue;
        seen[n++] = d;
        qxFreeLayerData(L, l->type, d);
        std::free(d);
    }
}

// A text or shape layer becomes a brush layer showing a brush of its own
// made from its untransformed picture. On failure the layer stays as it was.
int toBrushLayer(lua_State *L, qxLayer *l)
{
    qxLayerData *base = l->base;
    qxBitMap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    int32_t sx = 0, sy = 0;
    if (qxLayerSourcePlanes(L, l, base, &bitmap, &mask, &alpha, &sx, &sy) || !bitmap) return ERR_WRONGUSAGE;
    if (base->width < 1 || base->height < 1) return ERR_WRONGUSAGE;
    qxBitMap *bm = nullptr, *m = nullptr, *a = nullptr;
    if (int r = qxCopyImageRect(bitmap, mask, alpha, sx, sy, base->width, base->height, 0, 0, 0, 0, &bm,
                                mask ? &m : nullptr, alpha ? &a : nullptr))
        return r;
    auto *data = static_cast<qxLayerData *>(std::calloc(1, sizeof(qxLayerData)));
    qxObjectRef ref{0, QX_NEW_AUTOMATIC};
    qxBrush *brush = nullptr;
    if (!data || qxAddBrush(&ref, QX_BRUSH_PIXELS, uint32_t(base->width), uint32_t(base->height),
                            uint32_t(base->width), 0, nullptr, bm, 0xFFFFFFFFu, m, a, nullptr, &brush)) {
        std::free(data);
        qxFreeImagePlanes(bm, m, a);
        return ERR_MEM;
    }
    brush->pendingDeletion = 1; // goes with the layer
    data->x = base->x, data->y = base->y, data->width = base->width, data->height = base->height;
    data->ox = base->ox, data->oy = base->oy, data->left = base->ox, data->top = base->oy;
    data->dwidth = base->width, data->dheight = base->height;
    data->clip = base->clip;
    base->clip = nullptr; // the new record keeps the clip region
    freeRenditions(L, l);
    l->type = QX_TYPE_BRUSH;
    l->layerid = l->sourceid = ref;
    l->base = l->intermediate = l->onscreen = data;
    if (qxMatrixIsIdentity(&l->transform) && !qxLayerScaling(qxCurrentDisplay)) return 0;
    return qxRebuildLayerTransform(L, l);
}

// The layer draws into the object it shows only when that is an internal
// copy no other layer shows: a copy-on-write duplicate or a freed object
// may still be shown by several layers.
bool needsOwnCopy(const qxLayer *l, uint32_t type, uint32_t pendingDeletion)
{
    return !pendingDeletion || qxFindLayerUsing(type, l->layerid, l, nullptr, nullptr);
}

// The layer's object made its own (unless it already is).
int ownBrush(lua_State *L, qxLayer *l, qxBrush **out)
{
    qxBrush *b = nullptr;
    if (int r = qxFindBrush(L, l->layerid, &b, QX_FIND_PENDING | QX_FIND_NOCOPY)) return r;
    if (needsOwnCopy(l, QX_TYPE_BRUSH, b->pendingDeletion)) {
        qxObjectRef ref{0, QX_NEW_AUTOMATIC};
        if (int r = qxCopyBrush(L, b, &ref, 0, b->smooth, nullptr)) return r;
        if (int r = qxFindBrush(L, ref, &b, QX_FIND_PENDING | QX_FIND_NOCOPY)) return r;
        b->pendingDeletion = 1;
        l->layerid = ref; // sourceid stays: Undo still finds the layer by what made it
    }
    *out = b;
    return 0;
}

} // namespace

extern "C" int qxLayerOwnAnim(lua_State *L, qxLayer *l, qxAnim **out)
{
    qxAnim *a = nullptr;
    if (int r = qxFindAnim(L, l->layerid, &a, QX_FIND_PENDING | QX_FIND_NOCOPY)) return r;
    if (a->disk) return ERR_WRONGUSAGE;
    if (needsOwnCopy(l, QX_TYPE_ANIM, a->pendingDeletion)) {
        qxObjectRef ref{0, QX_NEW_AUTOMATIC};
        if (int r = qxCopyAnimData(L, a, &ref)) return r;
        if (int r = qxFindAnim(L, ref, &a, QX_FIND_PENDING | QX_FIND_NOCOPY)) return r;
        a->pendingDeletion = 1;
        l->layerid = ref;
    }
    *out = a;
    return 0;
}

namespace {

// As with anims: the BGPic made the layer's own. A freed BGPic a display
// still shows is shared with that display.
int ownBGPic(lua_State *L, qxLayer *l, qxBGPic **out)
{
    qxBGPic *b = nullptr;
    if (int r = qxFindBGPic(L, l->layerid, &b, 2)) return r;
    if (needsOwnCopy(l, QX_TYPE_BGPICPART, b->pendingDeletion) || qxFindDisplayForBGPic(b)) {
        qxObjectRef ref{0, QX_NEW_AUTOMATIC};
        if (int r = qxCopyBGPicData(L, b, &ref)) return r;
        if (int r = qxFindBGPic(L, ref, &b, 2)) return r;
        b->pendingDeletion = 1;
        l->layerid = ref;
    }
    *out = b;
    return 0;
}

qxLayer *selectedLayer(qxObjectRef ref)
{
    return qxGetLayerByIndex(qxLayerBGPic(), int32_t(ref.number));
}

int findLayer(lua_State *L, qxObjectRef ref, uint32_t frame, int prepare, qxBitMap **bitmap, qxBitMap **mask,
              qxBitMap **alpha, int32_t *width, int32_t *height)
{
    qxLayer *l = selectedLayer(ref);
    if (!l) return ERR_LAYERRANGE;
    // A frame picks a frame of an anim layer, and an anim layer needs one.
    if (frame && l->type != QX_TYPE_ANIM) return ERR_NOANMLAYER;
    if (!frame && l->type == QX_TYPE_ANIM) return ERR_MISSINGPARAMTR;
    return qxLayerBuildImage(L, l, int32_t(frame), uint32_t(prepare), bitmap, mask, alpha, width, height);
}

// Drawing ended: the layer shows its changed pixels.
void layerDrawn(lua_State *L, qxObjectRef ref)
{
    qxLayer *l = selectedLayer(ref);
    if (!l || l->type == QX_TYPE_NOOBJECT) return;
    int32_t x, y, w, h;
    qxLayerScreenRect(l, l->onscreen, &x, &y, &w, &h);
    qxLayerFreeImageCache(l);
    if (l->onscreen != l->base) qxRebuildLayerTransform(L, l);
    int32_t x2, y2, w2, h2;
    qxLayerScreenRect(l, l->onscreen, &x2, &y2, &w2, &h2);
    qxUnionRect(&x, &y, &w, &h, x2, y2, w2, h2);
    if (!l->hidden) qxInvalidateRect(L, x, y, w, h);
}

// Drawing into the shown BGPic made a new top layer: its area is collected
// with the other changes until EndSelect shows them.
void markTopLayerDirty(lua_State *L, qxBGPic *b)
{
    const qxLayer *l = b ? b->layers.last : nullptr;
    if (!l || l->hidden || l->type == QX_TYPE_NOOBJECT) return;
    qxMarkLayerDirty(L, l, nullptr);
}

// EndSelect of the BGPic: the layers lose their selection marks and the
// collected rectangles are shown.
void refreshCollected(lua_State *L, qxDisplay *d)
{
    if (!d->bgpic) return;
    for (qxLayer *l = d->bgpic->layers.first; l; l = l->next) l->queued = 0;
    qxDisplay *const current = qxCurrentDisplay;
    qxCurrentDisplay = d;
    qxRefreshDirtyRects(L);
    qxCurrentDisplay = current;
}

} // namespace

extern "C" {

int qxLayerBuildImage(lua_State *L, qxLayer *l, int32_t frame, uint32_t target, qxBitMap **bitmap,
                      qxBitMap **mask, qxBitMap **alpha, int32_t *width, int32_t *height)
{
    if (qxIsObjectInAsyncDraw(l)) return ERR_RENDERADLAYER;
    switch (l->type) {
    case QX_LAYER_VIDEO: return ERR_VIDEOLAYER;
    case QX_TYPE_NOOBJECT: return ERR_WRONGUSAGE;
    case QX_TYPE_BRUSH:
    case QX_TYPE_BRUSHPART:
    case QX_TYPE_ANIM:
    case QX_TYPE_BGPICPART: break;
    default:
        if (int r = toBrushLayer(L, l)) return r;
        break;
    }
    switch (l->type) {
    case QX_TYPE_BRUSH:
    case QX_TYPE_BRUSHPART: {
        qxBrush *b = nullptr;
        if (int r = ownBrush(L, l, &b)) return r;
        if (int r = qxPrepareTargetPlane(target, b->bitmap, int32_t(b->width), int32_t(b->height), &b->mask,
                                         &b->alpha))
            return r;
        *bitmap = b->bitmap, *mask = b->mask, *alpha = b->alpha;
        *width = int32_t(b->width), *height = int32_t(b->height);
        return 0;
    }
    case QX_TYPE_ANIM: {
        // Checked before the layer takes a copy of the anim to draw into.
        qxAnim *a = nullptr;
        if (int r = qxFindAnim(L, l->layerid, &a, QX_FIND_PENDING | QX_FIND_NOCOPY)) return r;
        if (a->disk) return ERR_ANIMDISK;
        if (frame < 1 || uint32_t(frame) > a->frameCount) return ERR_ANIMFRAME;
        if (int r = qxLayerOwnAnim(L, l, &a)) return r;
        if (int r = qxPrepareAnimFrameTarget(a, uint32_t(frame - 1), target)) return r;
        if (int r = qxGetAnimFrameBitmap(a, uint32_t(frame - 1), 0, 0, bitmap, mask, alpha)) return r;
        *width = int32_t(a->width), *height = int32_t(a->height);
        return 0;
    }
    case QX_TYPE_BGPICPART: {
        // A part of a BGPic draws into the picture the layer keeps itself,
        // else into a copy of the BGPic that only this layer shows.
        qxBitMap **maskp = &l->base->mask, **alphap = &l->base->alpha;
        qxBitMap *bm = l->base->bitmap;
        int32_t w = l->base->width, h = l->base->height;
        if (!bm) {
            qxBGPic *b = nullptr;
            if (int r = ownBGPic(L, l, &b)) return r;
            bm = b->bitmap, maskp = &b->mask, alphap = &b->alpha;
            w = b->width, h = b->height;
        }
        if (int r = qxPrepareTargetPlane(target, bm, w, h, maskp, alphap)) return r;
        *bitmap = bm, *mask = *maskp, *alpha = *alphap;
        *width = w, *height = h;
        return 0;
    }
    default: return ERR_WRONGUSAGE;
    }
}

void qxLayerFreeImageCache(qxLayer *l)
{
    qxFreeLayerXformImages(l);
    for (qxLayerData *d : {l->base, l->intermediate, l->onscreen}) {
        qxFreeAlphaBitMap(d->shadowalpha);
        qxFreeAlphaBitMap(d->borderalpha);
        d->shadowalpha = d->borderalpha = nullptr;
    }
}

void qxLinkLayerSelection(void)
{
    qxSelectionHook.findLayer = findLayer;
    qxSelectionHook.layerDrawn = layerDrawn;
    qxSelectionHook.markTopLayerDirty = markTopLayerDirty;
    qxSelectionHook.refreshCollected = refreshCollected;
}

} // extern "C"
