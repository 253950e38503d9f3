// Async draws let go of a layer while its records change.
#include "display/qx_asyncdraw.h"
#include "layers/qx_layer.h"
#include "platform/qx_errcodes.h"

qxLayerAsyncHold::qxLayerAsyncHold(qxLayer *l)
    : layer(l), held(l && !l->hold && qxIsObjectInAsyncDraw(l))
{
    if (!held) return;
    l->hold = 1;
    qxAsyncDrawBroadcast(1, l);
}

int qxLayerAsyncHold::release()
{
    if (!held) return 0;
    held = false;
    // Cleared first: the draws redraw the layer as they take it up again.
    layer->hold = 0;
    return qxAsyncDrawBroadcast(1, layer);
}

int qxRefuseHeldLayers(const qxLayer *first)
{
    for (const qxLayer *l = first; l; l = l->next)
        if (qxIsObjectInAsyncDraw(l)) return ERR_REMADLAYER;
    return 0;
}

int qxLayerOverlapsVisible(const qxLayer *list, const qxLayer *layer)
{
    if (!layer || !layer->onscreen) return 0;
    const qxLayerData *d = layer->onscreen;
    for (const qxLayer *l = list; l && l != layer; l = l->next) {
        if (l->hidden || l->type == QX_TYPE_NOOBJECT || !l->onscreen || !qxIsObjectInAsyncDraw(l)) continue;
        int32_t x, y, w, h;
        qxLayerScreenRect(l, l->onscreen, &x, &y, &w, &h);
        if (qxRectsOverlapWH(d->left, d->top, d->dwidth, d->dheight, x, y, w, h)) return 1;
    }
    return 0;
}
