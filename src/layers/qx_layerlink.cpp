// The layer engine's answers to the lower layers (display core, object-use
// rules, display options) and the table entries of the image layer types.
#include <cstdlib>

#include "display/qx_bgpic.h"
#include "layers/qx_layer.h"
#include "objects/qx_brush.h"
#include "objects/qx_displaycore.h"
#include "platform/qx_errcodes.h"

namespace {

// Brushes and brush parts show the brush's planes from the part offset.
int brushImage(lua_State *L, const qxLayer *l, const qxLayerData *d, qxBitMap **bitmap, qxBitMap **mask,
               qxBitMap **alpha, int32_t *sx, int32_t *sy)
{
    qxBrush *b = nullptr;
    if (qxFindBrush(L, l->layerid, &b, QX_FIND_PENDING | QX_FIND_NOCOPY) || !b) return ERR_WRONGUSAGE;
    *bitmap = b->bitmap, *mask = b->mask, *alpha = b->alpha;
    *sx = d->partx, *sy = d->party;
    return 0;
}

int bgpicImage(lua_State *, const qxLayer *l, const qxLayerData *d, qxBitMap **bitmap, qxBitMap **mask,
               qxBitMap **alpha, int32_t *sx, int32_t *sy)
{
    qxBGPic *b = qxFindBGPicRecord(l->layerid);
    if (!b) return ERR_WRONGUSAGE;
    *bitmap = b->bitmap, *mask = b->mask, *alpha = b->alpha;
    *sx = d->partx, *sy = d->party;
    return 0;
}

const qxLayerTypeOps kBrushOps = {brushImage, nullptr, nullptr, nullptr, nullptr};
const qxLayerTypeOps kBGPicPartOps = {bgpicImage, nullptr, nullptr, nullptr, nullptr};
// Anim frames and videos hand their planes to the layer.
const qxLayerTypeOps kOwnPlanesOps = {nullptr, nullptr, nullptr, nullptr, nullptr};

// The display core's flags are its own; of the layer flags it asks only
// for the display-scaled rendition.
int addLayerNode(lua_State *L, uint32_t type, qxObjectRef ref, int32_t a, int32_t b, int32_t x, int32_t y,
                 int32_t width, int32_t height, const qxTransformOptions *options, const qxObjectStyle *style,
                 qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t position, uint32_t flags, void *)
{
    return qxAddImageLayer(L, type, ref, a, b, x, y, width, height, options, style, bitmap, mask, alpha, position,
                           flags & QX_AL_SCALED);
}

void freeLayersOf(lua_State *L, qxBGPic *b, int) { qxFreeBGPicLayers(L, b, 0, 1); }

uint32_t currentLayerCount(void) { return uint32_t(qxCountLayers(qxLayerBGPic())); }

} // namespace

extern "C" int qxAddImageLayer(lua_State *L, uint32_t type, qxObjectRef ref, int32_t a, int32_t b, int32_t x,
                               int32_t y, int32_t width, int32_t height, const qxTransformOptions *options,
                               const qxObjectStyle *style, qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha,
                               int32_t position, uint32_t flags)
{
    auto *data = static_cast<qxLayerData *>(std::calloc(1, sizeof(qxLayerData)));
    if (data) {
        data->x = x, data->y = y, data->width = width, data->height = height;
        if (type == QX_TYPE_ANIM) data->frame = a;
        else data->partx = a, data->party = b;
    }
    qxObjectStyle copy;
    if (style) copy = *style;
    // The anchor moves the drawn rectangle when the layer is made.
    return qxAddLayer(L, type, &ref, x, y, width, height, options,
                      style ? &copy : nullptr, bitmap, mask, alpha, data, position, flags, nullptr);
}

extern "C" void qxLinkLayerEngine(void)
{
    qxRegisterLayerType(QX_TYPE_BRUSH, &kBrushOps);
    qxRegisterLayerType(QX_TYPE_BRUSHPART, &kBrushOps);
    qxRegisterLayerType(QX_TYPE_BGPICPART, &kBGPicPartOps);
    qxRegisterLayerType(QX_TYPE_ANIM, &kOwnPlanesOps);
    qxRegisterLayerType(QX_LAYER_VIDEO, &kOwnPlanesOps);
    qxLayerQueries.findLayerUsing = qxFindLayerShowing;
    qxLayerQueries.repointLayers = qxRepointObjectLayers;
    qxLayerQueries.bgpicOfLayer = qxLayerOwner;
    qxLayerQueries.freeBGPicLayers = freeLayersOf;
    qxDisplayCoreHook.addLayer = addLayerNode;
    qxDisplayOptsHook.currentLayerCount = currentLayerCount;
}
