// Buttons bound to layers: the event code finds their layer, its place
// and name, and whether the pointer is on it through these.
#include "display/qx_events.h"
#include "layers/qx_layer.h"
#include "platform/qx_errcodes.h"

namespace {

qxLayer *listed(const qxBGPic *b, const void *layer)
{
    for (qxLayer *l = b ? b->layers.first : nullptr; l; l = l->next)
        if (l == layer) return l;
    return nullptr;
}

int layerArg(lua_State *L, int arg, qxBGPic *b, void **layer)
{
    int32_t n = 0;
    if (int r = qxGetLayerArg(L, arg, b, &n)) return r;
    qxLayer *l = qxGetLayerByIndex(b, n);
    if (!l) return ERR_LAYERRANGE;
    if (l->type == QX_TYPE_NOOBJECT) return ERR_WRONGUSAGE;
    *layer = l;
    return 0;
}

int view(const qxBGPic *b, const void *layer, qxLayerButtonView *out)
{
    const qxLayer *l = listed(b, layer);
    if (!l || l->type == QX_TYPE_NOOBJECT) return 0;
    // The script's rectangle, as GetAttribute gives it: on a display that
    // scales its layers the shown one is in window pixels.
    const qxLayerData *d = l->intermediate ? l->intermediate : l->base;
    *out = {d->left, d->top, d->dwidth, d->dheight, qxLayerPosition(b, l), l->hidden, l->name ? l->name : ""};
    return 1;
}

int hit(lua_State *L, const void *layer, int32_t x, int32_t y, int exact)
{
    return qxLayerHitAt(L, static_cast<const qxLayer *>(layer), x, y, exact);
}

} // namespace

extern "C" void qxLinkLayerButtons(void)
{
    qxLayerButtonHook = {layerArg, view, hit};
}
