// Async draws let go of a layer while its records change.
#include "display/qx_asyncdraw.h"
#include "layers/qx_layer.h"

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
