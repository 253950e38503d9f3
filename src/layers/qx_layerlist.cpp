// Layer records: the per-type table, the layer list of a BGPic, the
// constructor, names, lookups, stacking order and freeing.
#include "core/commands/qx_objreg.h"
#include "display/qx_events.h"
#include "layers/qx_layer.h"
#include "layers/qx_layerfilters.h"
#include "layers/qx_videolayercmds.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/vm/lua.h"
#include "display/qx_asyncdraw.h"
#include "display/qx_bitmaptransform.h"
#include "display/qx_clipregion.h"
#include "display/qx_display.h"
#include "objects/qx_anim.h"
#include "objects/qx_bgpicobj.h"
#include "objects/qx_brush.h"
#include "objects/qx_output.h"
#include "platform/qx_errcodes.h"

namespace {

constexpr uint32_t kTypeSlots = 64;
const qxLayerTypeOps *gTypes[kTypeSlots];
qxLayerRedrawFunc gRedraws[kTypeSlots];

void initDefaults(qxLayer *l)
{
    l->shadowcolor = 0x80000000u;
    l->shadowsize = 4;
    l->shadowdir = 3;
    l->shadowradius = 5.0;
    l->shadowsigma = 5.0 / 3;
    l->bordersize = 2;
}

bool sameRef(qxObjectRef a, qxObjectRef b) { return a.number == b.number && a.automatic == b.automatic; }

// A brush part shows its brush; a BGPic is asked for by its part type, the
// only kind of layer that shows one.
bool shows(const qxLayer *l, uint32_t type, qxObjectRef ref)
{
    const uint32_t shown = l->type == QX_TYPE_BRUSHPART ? QX_TYPE_BRUSH : l->type;
    if (shown == type && sameRef(l->layerid, ref)) return true;
    // A shape filled with a brush keeps that brush in use too.
    const qxLayerTypeOps *ops = type == QX_TYPE_BRUSH ? qxLayerType(l->type) : nullptr;
    const qxObjectRef *texture = ops && ops->usedBrush ? ops->usedBrush(l->base) : nullptr;
    return texture && sameRef(*texture, ref);
}

void freeCaches(qxLayerData *d)
{
    qxFreeImagePlanes(d->xformbitmap, d->xformmask, d->xformalpha);
    qxFreeImagePlanes(d->filtbitmap, d->filtmask, d->filtalpha);
    qxFreeImagePlanes(d->borderbitmap, d->bordermask, d->borderalpha);
    qxFreeAlphaBitMap(d->shadowalpha);
    d->xformbitmap = d->xformmask = d->xformalpha = nullptr;
    d->filtbitmap = d->filtmask = d->filtalpha = nullptr;
    d->borderbitmap = d->bordermask = d->borderalpha = d->shadowalpha = nullptr;
}

// The planes a failing constructor was handed.
void dropHandedOver(lua_State *L, uint32_t type, qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha,
                    qxLayerData *data)
{
    if (data) {
        qxFreeLayerData(L, type, data);
        std::free(data);
    }
    qxFreeImagePlanes(bitmap, mask, alpha);
}

} // namespace

extern "C" int qxLayerSourcePlanes(lua_State *L, const qxLayer *l, const qxLayerData *d, qxBitMap **bitmap,
                                   qxBitMap **mask, qxBitMap **alpha, int32_t *sx, int32_t *sy)
{
    *bitmap = d->bitmap, *mask = d->mask, *alpha = d->alpha;
    *sx = *sy = 0;
    if (*bitmap) return 0;
    const qxLayerTypeOps *ops = qxLayerType(l->type);
    if (!ops || !ops->sourceImage) return ERR_WRONGUSAGE;
    return ops->sourceImage(L, l, d, bitmap, mask, alpha, sx, sy);
}

extern "C" {

void qxRegisterLayerType(uint32_t type, const qxLayerTypeOps *ops)
{
    if (type < kTypeSlots) gTypes[type] = ops;
}

const qxLayerTypeOps *qxLayerType(uint32_t type) { return type < kTypeSlots ? gTypes[type] : nullptr; }

void qxRegisterLayerRedraw(uint32_t type, qxLayerRedrawFunc redraw)
{
    if (type < kTypeSlots) gRedraws[type] = redraw;
}

qxLayerRedrawFunc qxLayerRedraw(uint32_t type)
{
    return type < kTypeSlots ? gRedraws[type] : nullptr;
}

qxBGPic *qxLayerBGPic(void)
{
    qxDisplay *d = qxCurrentDisplay;
    if (d && d->targetType == QX_OUT_BGPIC && qxCurrentOutput) return qxCurrentOutput;
    return d ? d->bgpic : qxCurrentOutput;
}

void qxUnlinkLayer(qxBGPic *b, qxLayer *l)
{
    qxLayerListHead &h = b->layers;
    (l->previous ? l->previous->next : h.first) = l->next;
    (l->next ? l->next->previous : h.last) = l->previous;
    l->next = l->previous = nullptr;
    --h.count;
    b->changed = 1;
}

void qxInsertLayerAfter(qxBGPic *b, qxLayer *after, qxLayer *l)
{
    qxLayerListHead &h = b->layers;
    l->previous = after;
    l->next = after ? after->next : h.first;
    (l->next ? l->next->previous : h.last) = l;
    (after ? after->next : h.first) = l;
    ++h.count;
    b->changed = 1;
}

int32_t qxCountLayers(const qxBGPic *b) { return b ? int32_t(b->layers.count) : 0; }

qxLayer *qxGetLayerByIndex(const qxBGPic *b, int32_t n)
{
    if (!b || n < 1 || n > int32_t(b->layers.count)) return nullptr;
    qxLayer *l = b->layers.first;
    while (--n > 0 && l) l = l->next;
    return l;
}

int32_t qxLayerPosition(const qxBGPic *b, const qxLayer *layer)
{
    int32_t n = 1;
    for (qxLayer *l = b ? b->layers.first : nullptr; l; l = l->next, ++n)
        if (l == layer) return n;
    return -1;
}

int32_t qxFindLayerByName(const qxBGPic *b, const char *name)
{
    int32_t n = 1;
    for (qxLayer *l = b ? b->layers.first : nullptr; l; l = l->next, ++n)
        if (l->name && strcasecmp(l->name, name) == 0) return n;
    return 0;
}

int qxAssignLayerName(qxBGPic *b, char **out, const char *text)
{
    const size_t n = std::strlen(text);
    if (n > 255) return ERR_NAMETOOLONG;
    for (qxLayer *l = b ? b->layers.first : nullptr; l; l = l->next)
        if ((l->name && strcasecmp(l->name, text) == 0) || strcasecmp(l->group, text) == 0) return ERR_NAMEUSED;
    char *copy = static_cast<char *>(std::malloc(n + 1));
    if (!copy) return ERR_MEM;
    std::memcpy(copy, text, n + 1);
    *out = copy;
    return 0;
}

int qxGetLayerArg(lua_State *L, int arg, const qxBGPic *b, int32_t *position)
{
    if (lua_type(L, arg) == LUA_TNUMBER) {
        const double v = lua_tonumber(L, arg);
        *position = v >= 2147483647.0 ? INT32_MAX : v <= -2147483648.0 ? INT32_MIN : int32_t(v);
        return 0;
    }
    if (lua_type(L, arg) != LUA_TSTRING) {
        qxSetErrorNumber(arg);
        return ERR_STRORNUM;
    }
    const char *name = lua_tostring(L, arg);
    *position = qxFindLayerByName(b, name);
    if (!*position) {
        qxSetErrorString(name);
        return ERR_FINDLAYER;
    }
    return 0;
}

int qxGetLayerArgMulti(lua_State *L, int arg, const qxBGPic *b, qxLayer **out, int32_t *index, int *group)
{
    *group = 0;
    if (lua_type(L, arg) == LUA_TSTRING && !qxFindLayerByName(b, lua_tostring(L, arg))) {
        const char *name = lua_tostring(L, arg);
        int32_t match = 0;
        qxLayer *found = nullptr;
        for (qxLayer *l = b ? b->layers.first : nullptr; l; l = l->next) {
            if (!l->group[0] || strcasecmp(l->group, name) != 0) continue;
            if (found) {
                *index = match;
                return 0;
            }
            if (match++ == *index) found = *out = l, *group = 1;
        }
        if (!found) {
            qxSetErrorString(name);
            return ERR_FINDLAYER;
        }
        *index = -1;
        return 0;
    }
    int32_t n = 0;
    if (int r = qxGetLayerArg(L, arg, b, &n)) return r;
    *out = qxGetLayerByIndex(b, n);
    *index = -1;
    return *out ? 0 : ERR_LAYERRANGE;
}

int qxSetLayerZ(qxBGPic *b, qxLayer *l, int32_t position)
{
    const int32_t count = int32_t(b->layers.count), current = qxLayerPosition(b, l);
    if (position < 0 || position > count) position = 0;
    if (position == 0) position = count;
    if (position == current) return 0;
    qxLayer *target = qxGetLayerByIndex(b, position);
    qxUnlinkLayer(b, l);
    // Standing below the target, the layer goes after it; above, before it.
    qxInsertLayerAfter(b, current < position ? target : target->previous, l);
    return 1;
}

void qxFreeLayerData(lua_State *L, uint32_t type, qxLayerData *d)
{
    if (!d) return;
    qxFreeImagePlanes(d->bitmap, d->mask, d->alpha);
    d->bitmap = d->mask = d->alpha = nullptr;
    freeCaches(d);
    void *clip = d->clip;
    d->clip = nullptr;
    qxFreeClipRegionRef(clip);
    if (const qxLayerTypeOps *ops = qxLayerType(type); ops && ops->freeTypeData) ops->freeTypeData(L, d);
    d->typedata = nullptr;
}

void qxFreeLayerContents(lua_State *L, qxLayer *l)
{
    qxLayerData *renditions[3] = {l->onscreen, l->intermediate, l->base};
    for (int i = 0; i < 3; ++i) {
        qxLayerData *d = renditions[i];
        if (!d || (i < 2 && (d == renditions[i + 1] || d == l->base))) continue;
        qxFreeLayerData(L, l->type, d);
        std::free(d);
        // No freed rendition stays in reach: a clip region's last user is
        // looked for among the layers.
        if (l->onscreen == d) l->onscreen = l->intermediate == d ? l->base : l->intermediate;
        if (l->intermediate == d) l->intermediate = l->base;
        if (l->base == d) l->base = l->intermediate = l->onscreen = nullptr;
    }
    l->base = l->intermediate = l->onscreen = nullptr;
    std::free(l->name);
    l->name = nullptr;
    qxFreeRefList(L, &l->data);
}

void qxFlushDeletedObjects(lua_State *L, uint32_t kinds)
{
    if (kinds & 1) qxFlushDeletedBrushes(L);
    if (kinds & 2) qxFlushDeletedAnims(L);
    if (kinds & 8) qxFlushDeletedBGPics(L);
    if ((kinds & 16) && qxVideoLayerCalls.freeDeleted) qxVideoLayerCalls.freeDeleted(L);
}

void qxFreeBGPicLayers(lua_State *L, qxBGPic *b, int flush, int dropButtons)
{
    while (qxLayer *l = b->layers.first) {
        if (dropButtons) qxDropLayerButton(L, b, l);
        qxUnlinkLayer(b, l);
        if (l->type != QX_TYPE_NOOBJECT) qxFreeLayerContents(L, l);
        else qxFreeRefList(L, &l->data);
        std::free(l);
    }
    if (flush) qxFlushDeletedObjects(L, 31);
}

int qxFindLayerShowing(uint32_t type, qxObjectRef ref, const void *skip, qxBGPic **bgpicOut, void **layerOut)
{
    for (qxBGPic *b = qxBGPics; b; b = b->next)
        for (qxLayer *l = b->layers.first; l; l = l->next) {
            if (l == skip || !shows(l, type, ref)) continue;
            if (bgpicOut) *bgpicOut = b;
            if (layerOut) *layerOut = l;
            return 1;
        }
    return 0;
}

int qxRepointObjectLayers(uint32_t type, qxObjectRef ref, void *newAutomatic)
{
    int changed = 0;
    for (qxBGPic *b = qxBGPics; b; b = b->next)
        for (qxLayer *l = b->layers.first; l; l = l->next)
            if (shows(l, type, ref)) {
                const qxLayerTypeOps *ops = type == QX_TYPE_BRUSH ? qxLayerType(l->type) : nullptr;
                if (ops && ops->usedBrush) {
                    // Every rendition names the brush it fills with.
                    for (qxLayerData *d : {l->base, l->intermediate, l->onscreen})
                        if (qxObjectRef *texture = ops->usedBrush(d); texture && sameRef(*texture, ref))
                            *texture = {0, newAutomatic};
                } else {
                    l->layerid = {0, newAutomatic};
                }
                changed = 1;
            }
    return changed;
}

qxBGPic *qxLayerOwner(const void *layer)
{
    for (qxBGPic *b = qxBGPics; b; b = b->next)
        for (qxLayer *l = b->layers.first; l; l = l->next)
            if (l == layer) return b;
    return nullptr;
}

int qxAddLayer(lua_State *L, uint32_t type, const qxObjectRef *id, int32_t x, int32_t y, int32_t width,
               int32_t height, const qxTransformOptions *transform, qxObjectStyle *style, qxBitMap *bitmap,
               qxBitMap *mask, qxBitMap *alpha, qxLayerData *data, int32_t position, uint32_t flags,
               qxLayer **out)
{
    qxBGPic *b = qxLayerBGPic();
    auto *l = static_cast<qxLayer *>(std::calloc(1, sizeof(qxLayer)));
    if (!b || !l || !data) {
        std::free(l);
        dropHandedOver(L, type, bitmap, mask, alpha, data);
        return b ? ERR_MEM : ERR_NOLAYERS;
    }
    // 2.
    data->left = x, data->top = y, data->dwidth = width, data->dheight = height;
    data->ox = data->x, data->oy = data->y;
    data->bitmap = bitmap, data->mask = mask, data->alpha = alpha;
    // 3.
    initDefaults(l);
    const int32_t count = int32_t(b->layers.count);
    if (style) {
        l->transparency = style->transparency;
        l->shadow = style->shadow.shadow, l->shadowcolor = style->shadow.shadowcolor;
        l->shadowsize = style->shadow.shadowsize, l->shadowdir = style->shadow.shadowdir;
        l->shadowradius = style->shadow.shadowradius, l->shadowsigma = style->shadow.shadowsigma;
        l->border = style->border.border, l->bordercolor = style->border.bordercolor;
        l->bordersize = style->border.bordersize;
        l->filters = style->filters;
        l->geometric = uint32_t(qxFiltersGeometric(&l->filters));
        if (style->hidden) flags |= QX_AL_HIDDEN;
        if (style->name[0]) {
            if (int r = qxAssignLayerName(b, &l->name, style->name)) {
                std::free(l);
                dropHandedOver(L, type, nullptr, nullptr, nullptr, data);
                return r;
            }
        }
        if (style->insertpos > 0) {
            if (style->insertpos > count + 1) style->insertpos = count + 1;
            position = style->insertpos;
        }
    }
    // 4.
    l->type = type;
    l->hidden = flags & QX_AL_HIDDEN ? 1 : 0;
    qxDisplay *d = qxCurrentDisplay;
    l->queued = !l->hidden && d && d->targetType == QX_OUT_BGPIC && b == d->bgpic;
    l->base = l->intermediate = l->onscreen = data;
    // 5.
    if (!(flags & QX_AL_REPLACE) && d) data->clip = d->clipRegion;
    // 6.
    if (transform) {
        l->transform = *transform;
        l->anchorx = transform->anchorx, l->anchory = transform->anchory;
        if (type != QX_LAYER_LINE) {
            const int32_t ox = int32_t(int64_t(data->x) - int64_t(std::trunc(data->width * l->anchorx)));
            const int32_t oy = int32_t(int64_t(data->y) - int64_t(std::trunc(data->height * l->anchory)));
            data->left = int32_t(int64_t(ox) - (int64_t(data->ox) - data->left));
            data->top = int32_t(int64_t(oy) - (int64_t(data->oy) - data->top));
            data->ox = ox, data->oy = oy;
        }
    } else {
        l->transform = qxTransformTemplate;
    }
    // 7.
    if (id) l->layerid = l->sourceid = *id;
    // 8. Position 1 .. count inserts below the layer standing there.
    const bool tail = count == 0 ? position != 1 : (position <= 0 || position > count + 1);
    qxLayer *replaced = nullptr;
    if (position >= 1 && position <= count) {
        qxLayer *at = qxGetLayerByIndex(b, position);
        qxInsertLayerAfter(b, at->previous, l);
        if ((flags & QX_AL_REPLACE) && position != -1) {
            replaced = at;
            data->clip = replaced->base->clip;
            l->nocliptransform = replaced->nocliptransform;
            l->references = replaced->references, replaced->references = nullptr;
            qxRebindLayerButton(b, replaced, l);
        }
    } else {
        qxInsertLayerAfter(b, b->layers.last, l);
    }
    // 9. A transformed layer keeps its transformed picture apart; on a
    // scaled display every layer has its own on-screen picture.
    int built = 0;
    if (!qxMatrixIsIdentity(&l->transform)) {
        built = qxCloneLayerData(L, l, 2);
    } else if (qxLayerScaledFor(d, b)) {
        // Whatever the creator asked for: a layer shown unscaled there would be wrong.
        built = qxCloneLayerData(L, l, replaced ? 7 : 5);
    }
    if (built) {
        qxUnlinkLayer(b, l);
        qxFreeLayerContents(L, l);
        std::free(l);
        return built;
    }
    // 10.
    if (replaced) {
        if (flags & QX_AL_KEEPPOS) {
            qxLayerData *from = replaced->base;
            data->x = from->x, data->y = from->y, data->left = from->left, data->top = from->top;
            data->ox = from->ox, data->oy = from->oy;
            // The copies follow the base to its new place.
            if (l->onscreen != data) qxRebuildLayerTransform(L, l);
        }
        if (flags & QX_AL_KEEPFILTERS) l->filters = replaced->filters, l->geometric = replaced->geometric;
        // Async draws move onto the new record before the old one goes.
        if (int r = qxAsyncDrawBroadcast(0, replaced)) {
            qxUnlinkLayer(b, l);
            qxFreeLayerContents(L, l);
            std::free(l);
            return r;
        }
        l->data = replaced->data;
        replaced->data = nullptr;
        qxRemoveLayerRecord(L, b, replaced, 1, nullptr);
    }
    // 11. Internal layers are drawn by their caller. A plain new top layer is
    // put on screen by a creator that says it draws it (flag 2): drawing it
    // here as well would blend a soft edge twice.
    const bool plain = tail && qxMatrixIsIdentity(&l->transform) && !qxFiltersActive(&l->filters) &&
                       !l->transparency && !l->shadow && !l->border && !qxLayerScaledFor(d, b);
    const bool creatorDraws = (flags & QX_AL_SCALED) && plain;
    if (!l->hidden && !replaced && !(flags & QX_AL_INTERNAL) && !creatorDraws) qxDrawLayer(L, l, 0);
    if (out) *out = l;
    return 0;
}

} // extern "C"
