#include "objects/qx_objectuse.h"

#include "display/qx_display.h"
#include "platform/qx_displayrecord.h"

extern "C" {

int qxFindLayerUsing(uint32_t type, qxObjectRef ref, const void *skipLayer, qxBGPic **bgpicOut, void **layerOut)
{
    if (!qxLayerQueries.findLayerUsing)
        return 0;
    return qxLayerQueries.findLayerUsing(type, ref, skipLayer, bgpicOut, layerOut) ? 1 : 0;
}

int qxRepointLayers(uint32_t type, qxObjectRef ref, void *newAutomatic)
{
    if (!qxLayerQueries.repointLayers)
        return 0;
    return qxLayerQueries.repointLayers(type, ref, newAutomatic) ? 1 : 0;
}

int qxCopyOnWrite(lua_State *L, uint32_t type, qxObjectRef ref, qxCopyObjectFn copy, void *record,
                  void **duplicate)
{
    if (!qxFindLayerUsing(type, ref, nullptr, nullptr, nullptr))
        return 0;
    qxObjectRef fresh{0, QX_NEW_AUTOMATIC};
    if (int r = copy(L, record, &fresh))
        return r;
    qxRepointLayers(type, ref, fresh.automatic);
    if (duplicate)
        *duplicate = fresh.automatic;
    return 0;
}

int qxIsCurrentOutputObject(uint32_t type, qxObjectRef ref)
{
    const qxBGPic *out = qxCurrentOutput;
    const qxDisplay *d = qxCurrentDisplay;
    if (!out || !d)
        return 0;
    if (type == QX_TYPE_BGPIC && d->targetType == QX_TYPE_BGPIC)
        return out->id == ref.number && out->automatic == ref.automatic;
    if (d->targetType != QX_TYPE_BRUSH && d->targetType != QX_TYPE_MASK && d->targetType != QX_TYPE_ALPHACHANNEL)
        return 0;
    return out->selectedType == type && out->selectedRef.number == ref.number &&
           out->selectedRef.automatic == ref.automatic;
}
}
