// The layer engine's answers to the lower layers (display core, object-use
// rules, display options) and the table entries of the image layer types.
#include <algorithm>
#include <cstdlib>

#include "core/commands/qx_args.h"
#include "display/qx_bgpic.h"
#include "layers/qx_layer.h"
#include "layers/qx_sprite.h"
#include "layers/qx_layerfilters.h"
#include "objects/qx_anim.h"
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

// Anims show the payload's frame. A disk anim reads its frames on demand:
// the frame read becomes the rendition's own planes until the frame changes.
int animImage(lua_State *L, const qxLayer *l, const qxLayerData *d, qxBitMap **bitmap, qxBitMap **mask,
              qxBitMap **alpha, int32_t *sx, int32_t *sy)
{
    qxAnim *a = nullptr;
    if (qxFindAnim(L, l->layerid, &a, QX_FIND_PENDING | QX_FIND_NOCOPY) || !a) return ERR_WRONGUSAGE;
    if (d->frame < 0 || uint32_t(d->frame) >= a->frameCount) return ERR_ANIMFRAME;
    *sx = *sy = 0;
    if (!a->disk) return qxGetAnimFrameBitmap(a, uint32_t(d->frame), 0, 0, bitmap, mask, alpha);
    if (int r = qxGetAnimFrameBitmap(a, uint32_t(d->frame), 1, 0, bitmap, mask, alpha)) return r;
    auto *own = const_cast<qxLayerData *>(d);
    own->bitmap = *bitmap, own->mask = *mask, own->alpha = *alpha;
    return 0;
}

void freeImageSource(lua_State *, qxLayerData *d)
{
    std::free(d->typedata);
    d->typedata = nullptr;
}

// "id" and the part keys of brush and BGPic-part layers: a new source or
// part is a fresh rendition showing that rectangle of the source.
int imageStyleKeys(lua_State *L, const qxLayer *l, int table, qxObjectStyle *, qxLayerData **fresh)
{
    qxObjectRef id = l->layerid;
    const bool idGiven = qxGetFieldID(L, table, "id", &id, nullptr);
    int32_t part[4] = {l->base->partx, l->base->party, l->base->width, l->base->height};
    bool partGiven = false;
    const char *keys[4] = {"partx", "party", "partwidth", "partheight"};
    for (int i = 0; i < 4; i++) {
        int v = 0;
        if (qxGetFieldInt(L, table, keys[i], &v, nullptr)) part[i] = v, partGiven = true;
    }
    const int32_t current[4] = {l->base->partx, l->base->party, l->base->width, l->base->height};
    const bool sameSource = id.number == l->layerid.number && id.automatic == l->layerid.automatic;
    // The part the layer already shows (as GetLayerStyle hands it back) changes nothing.
    if (partGiven && sameSource && std::equal(part, part + 4, current)) return 0;
    if (!idGiven && !partGiven) return 0;
    int32_t w = 0, h = 0;
    if (l->type == QX_TYPE_BGPICPART) {
        const qxBGPic *b = qxFindBGPicRecord(id);
        if (!b) return ERR_WRONGUSAGE;
        w = b->width, h = b->height;
    } else {
        qxBrush *b = nullptr;
        if (int r = qxFindBrush(L, id, &b, QX_FIND_PENDING | QX_FIND_NOCOPY)) return r;
        if (!b) return ERR_WRONGUSAGE;
        w = int32_t(b->width), h = int32_t(b->height);
    }
    // A whole brush shows all of its new source.
    if (l->type == QX_TYPE_BRUSH && !partGiven) part[0] = part[1] = 0, part[2] = w, part[3] = h;
    // The part must start inside the source and is cut to it: drawing
    // outside it reads foreign memory.
    if (part[0] < 0 || part[1] < 0 || part[0] >= w || part[1] >= h || part[2] < 1 || part[3] < 1)
        return ERR_WRONGUSAGE;
    part[2] = int32_t(std::min<int64_t>(part[2], int64_t(w) - part[0]));
    part[3] = int32_t(std::min<int64_t>(part[3], int64_t(h) - part[1]));
    auto *src = static_cast<qxImageSource *>(std::calloc(1, sizeof(qxImageSource)));
    auto *data = static_cast<qxLayerData *>(std::calloc(1, sizeof(qxLayerData)));
    if (!src || !data) {
        std::free(src), std::free(data);
        return ERR_MEM;
    }
    src->type = l->type == QX_TYPE_BRUSH && partGiven ? QX_TYPE_BRUSHPART : l->type;
    src->id = id;
    data->x = l->base->x, data->y = l->base->y;
    data->partx = part[0], data->party = part[1], data->width = part[2], data->height = part[3];
    data->typedata = src;
    *fresh = data;
    return 0;
}

// "id" of anim layers: another anim is a fresh rendition of its size (the
// engine reads "frame").
int animStyleKeys(lua_State *L, const qxLayer *l, int table, qxObjectStyle *, qxLayerData **fresh)
{
    qxObjectRef id = l->layerid;
    if (!qxGetFieldID(L, table, "id", &id, nullptr)) return 0;
    qxAnim *a = nullptr;
    if (int r = qxFindAnim(L, id, &a, QX_FIND_PENDING | QX_FIND_NOCOPY)) return r;
    if (!a || a->frameCount < 1) return ERR_WRONGUSAGE;
    auto *src = static_cast<qxImageSource *>(std::calloc(1, sizeof(qxImageSource)));
    auto *data = static_cast<qxLayerData *>(std::calloc(1, sizeof(qxLayerData)));
    if (!src || !data) {
        std::free(src), std::free(data);
        return ERR_MEM;
    }
    src->type = QX_TYPE_ANIM, src->id = id;
    data->x = l->base->x, data->y = l->base->y;
    data->width = int32_t(a->width), data->height = int32_t(a->height);
    data->typedata = src;
    *fresh = data;
    return 0;
}

// A layer turned into a brush or BGPic-part layer needs its source.
int freshImageSource(lua_State *L, qxLayer *layer, uint32_t, int table, void **typedata)
{
    *typedata = nullptr;
    if (!qxGetFieldID(L, table, "id", &layer->layerid, nullptr)) return ERR_MISSINGPARAMTR;
    return 0;
}

const qxLayerTypeOps kBrushOps = {brushImage, freeImageSource, nullptr, nullptr,
                                  nullptr, imageStyleKeys, nullptr, freshImageSource, nullptr, nullptr};
const qxLayerTypeOps kBGPicPartOps = {bgpicImage, freeImageSource, nullptr, nullptr,
                                      nullptr, imageStyleKeys, nullptr, freshImageSource, nullptr, nullptr};
const qxLayerTypeOps kAnimOps = {animImage, freeImageSource, nullptr, nullptr,
                                 nullptr, animStyleKeys, nullptr, freshImageSource, nullptr, nullptr};
// Videos hand their planes to the layer.
const qxLayerTypeOps kOwnPlanesOps = {nullptr, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr, nullptr, nullptr, nullptr};

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

int readFilters(lua_State *L, int table, qxFilterBlock *filters)
{
    int error = 0;
    qxSetLayerFilters(L, table, filters, nullptr, &error);
    return error;
}

// Objects drawn without a layer get their filters at once (no mask: the
// display core hands over bitmap and alpha).
int filterObject(lua_State *, const qxFilterBlock *filters, qxBitMap **bitmap, qxBitMap **alpha, int32_t w, int32_t h)
{
    return qxApplyFilters(filters, *bitmap, nullptr, *alpha, w, h, 0);
}

// PlayAnim's frame steps on the anim layer its first frame made.
int setAnimLayerFrame(lua_State *L, int32_t position, qxObjectRef ref, uint32_t frame)
{
    qxLayer *l = qxGetLayerByIndex(qxLayerBGPic(), position);
    if (!l || l->type != QX_TYPE_ANIM || l->layerid.number != ref.number || l->layerid.automatic != ref.automatic)
        return -1;
    return qxLayerSetPosFrame(L, l, 100000, 100000, int32_t(frame) + 1, 0);
}

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

// An async draw drew a frame into a layer of the selected BGPic.
static void markLayerDirty(lua_State *L, const void *layer)
{
    const auto *l = static_cast<const qxLayer *>(layer);
    if (qxLayerOwner(l)) qxMarkLayerDirty(L, l, nullptr);
}

extern "C" void qxLinkLayerEngine(void)
{
    qxRegisterLayerType(QX_TYPE_BRUSH, &kBrushOps);
    qxRegisterLayerType(QX_TYPE_BRUSHPART, &kBrushOps);
    qxRegisterLayerType(QX_TYPE_BGPICPART, &kBGPicPartOps);
    qxRegisterLayerType(QX_TYPE_ANIM, &kAnimOps);
    qxRegisterLayerType(QX_LAYER_VIDEO, &kOwnPlanesOps);
    qxLayerQueries.findLayerUsing = qxFindLayerShowing;
    qxLayerQueries.repointLayers = qxRepointObjectLayers;
    qxLayerQueries.freeBGPicLayers = freeLayersOf;
    qxLayerQueries.flushDeletedObjects = qxFlushDeletedObjects;
    qxLayerQueries.markLayerDirty = markLayerDirty;
    qxLayerQueries.enableLayers = qxEnableLayersOnDisplay;
    qxDisplayCoreHook.addLayer = addLayerNode;
    qxDisplayCoreHook.setAnimLayerFrame = setAnimLayerFrame;
    qxDisplayOptsHook.currentLayerCount = currentLayerCount;
    qxLinkSprites();
    qxLinkLayerBrushSources();
    qxDisplayOptsHook.setLayerFilters = readFilters;
    qxLinkLayerSelection();
    qxDisplayOptsHook.applyFilters = filterObject;
    qxLinkLayerRenditions();
    qxLinkLayerButtons();
    qxLinkLayerAttributes();
}
