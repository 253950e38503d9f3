// Text as layers: text objects shown by a layer (type 8) and TextOut and
// Print blocks that a layer owns (types 9 and 11), with their entries in
// the layer engine's table.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/vm/lua.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmap.h"
#include "display/qx_bitmapdraw.h"
#include "draw/fonts/qx_font.h"
#include "draw/text/qx_text.h"
#include "layers/qx_layer.h"
#include "objects/qx_displayopts.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

namespace {

// Type 8 shows the object's own planes, released copies included.
int objectImage(lua_State *L, const qxLayer *l, const qxLayerData *, qxBitMap **bitmap, qxBitMap **mask,
                qxBitMap **alpha, int32_t *sx, int32_t *sy)
{
    qxTextObject *o = nullptr;
    if (qxFindTextObject(L, l->layerid.number, l->layerid.automatic, 2 | 4, &o) || !o) return ERR_WRONGUSAGE;
    *bitmap = o->image, *mask = o->mask, *alpha = o->alpha;
    *sx = *sy = 0;
    return 0;
}

void pushObjectKeys(lua_State *L, const qxLayer *l) { qxSetFieldID(L, "id", l->layerid); }


// A payload owning its text; the break table is not kept (the image is).
qxTextLayerData *makePayload(const qxTextRequest *rq, int32_t x, int32_t y)
{
    auto *p = static_cast<qxTextLayerData *>(qxAlloc(sizeof(qxTextLayerData), 1));
    char *text = p ? qxCopyTextBytes(rq->text, rq->length) : nullptr;
    if (!text) {
        qxFree(p);
        return nullptr;
    }
    p->x = x, p->y = y;
    p->request = *rq;
    p->request.text = text;
    p->request.breaks = nullptr, p->request.breakCount = 0;
    p->request.tabCount = std::clamp(rq->tabCount, 0, 32);
    if (p->request.tabCount) std::memcpy(p->tabs, rq->tabs, sizeof(int32_t) * size_t(p->request.tabCount));
    p->request.tabs = p->tabs;
    p->rightMargin = rq->print ? rq->leftMargin + rq->wrap - 1 : rq->wrap;
    return p;
}

void freePayload(lua_State *, qxLayerData *d)
{
    if (auto *p = static_cast<qxTextLayerData *>(d->typedata)) {
        qxFree(const_cast<char *>(p->request.text));
        qxFree(p);
    }
    d->typedata = nullptr;
}

int clonePayload(const qxLayerData *from, qxLayerData *to)
{
    const auto *p = static_cast<const qxTextLayerData *>(from->typedata);
    to->typedata = nullptr;
    if (!p) return 0;
    qxTextLayerData *c = makePayload(&p->request, p->x, p->y);
    if (!c) return ERR_MEM;
    c->rightMargin = p->rightMargin;
    to->typedata = c;
    return 0;
}

void pushPayloadKeys(lua_State *L, const qxLayer *l)
{
    const auto *p = static_cast<const qxTextLayerData *>(l->base->typedata);
    if (!p) return;
    const qxTextRequest &rq = p->request;
    qxSetFieldUInt(L, "color", rq.block.colour);
    qxSetFieldUInt(L, "fontstyle", rq.block.style);
    qxSetFieldInt(L, "align", rq.align);
    qxSetFieldInt(L, "leftmargin", rq.print ? rq.leftMargin : 0);
    qxSetFieldInt(L, "rightmargin", p->rightMargin);
    qxSetFieldInt(L, "fontsize", rq.block.font ? rq.block.font->size : 8);
    qxSetFieldUInt(L, "encoding", rq.encoding);
    lua_pushstring(L, "text");
    lua_pushlstring(L, rq.text, rq.length);
    lua_settable(L, -3);
    qxSetFieldStr(L, "font", rq.block.font ? rq.block.font->name : "");
}

// The border of a text layer follows the glyphs: their square dilation.
int objectBorder(lua_State *L, const qxLayer *l, const qxLayerData *, int32_t size, qxBitMap **alpha, int32_t *dx,
                 int32_t *dy)
{
    qxTextObject *o = nullptr;
    if (qxFindTextObject(L, l->layerid.number, l->layerid.automatic, 2 | 4, &o) || !o) return ERR_WRONGUSAGE;
    // A scaled or rotated object no longer matches its request.
    if (o->width != o->baseWidth || o->height != o->baseHeight || o->angle != 0.0) return ERR_WRONGUSAGE;
    int32_t w, h;
    if (int r = qxBuildTextEffectMask(L, &o->request, size, alpha, &w, &h)) return r;
    *dx = *dy = 2 * size + 1;
    return 0;
}

int payloadBorder(lua_State *L, const qxLayer *, const qxLayerData *d, int32_t size, qxBitMap **alpha, int32_t *dx,
                  int32_t *dy)
{
    const auto *p = static_cast<const qxTextLayerData *>(d->typedata);
    if (!p) return ERR_WRONGUSAGE;
    int32_t w, h;
    if (int r = qxBuildTextEffectMask(L, &p->request, size, alpha, &w, &h)) return r;
    *dx = *dy = 2 * size + 1;
    return 0;
}

const qxLayerTypeOps kObjectOps = {objectImage, nullptr, nullptr, pushObjectKeys, objectBorder};
const qxLayerTypeOps kPayloadOps = {nullptr, freePayload, clonePayload, pushPayloadKeys, payloadBorder};

} // namespace

extern "C" {

void qxRegisterTextLayerTypes(void)
{
    qxRegisterLayerType(QX_TYPE_TEXTOBJECT, &kObjectOps);
    qxRegisterLayerType(QX_LAYER_TEXTOUT, &kPayloadOps);
    qxRegisterLayerType(QX_LAYER_PRINT, &kPayloadOps);
}

int qxAddTextLayer(lua_State *L, qxTextObject *o, int32_t x, int32_t y, const qxTransformOptions *options,
                   qxObjectStyle *style, qxLayer **out)
{
    auto *data = static_cast<qxLayerData *>(std::calloc(1, sizeof(qxLayerData)));
    if (!data) return ERR_MEM;
    data->x = x, data->y = y, data->width = o->width, data->height = o->height;
    const qxObjectRef ref = o->automatic ? qxObjectRef{0, o} : qxObjectRef{o->number, nullptr};
    return qxAddLayer(L, QX_TYPE_TEXTOBJECT, &ref, x, y, o->width, o->height, options, style, nullptr, nullptr,
                      nullptr, data, style ? style->insertpos : 0, 0, out);
}

void qxStripLayerEffects(qxTextRequest *rq)
{
    rq->block.style &= ~(QX_TS_SHADOW | QX_TS_EDGE);
    if (!rq->block.style) rq->block.style = QX_TS_NORMAL;
    rq->block.colour &= 0xFFFFFF;
}

int qxAddTextImageLayer(lua_State *L, uint32_t type, const qxTextRequest *rq, qxTextImage *im, int32_t x, int32_t y,
                        const qxTransformOptions *options, qxObjectStyle *style, qxLayer **out)
{
    qxObjectStyle local;
    if (!style) {
        qxInitObjectStyle(&local);
        style = &local;
    }
    const qxTextStyle &b = rq->block;
    if (b.style & QX_TS_SHADOW) {
        style->shadow.shadow = 1;
        style->shadow.shadowcolor = b.shadowColour;
        style->shadow.shadowsize = uint32_t(b.shadowSize);
        style->shadow.shadowdir = uint32_t(b.shadowDir >= 0 && b.shadowDir <= 7 ? b.shadowDir : 3);
    }
    if (b.style & QX_TS_EDGE) {
        style->border.border = 1;
        style->border.bordercolor = b.edgeColour;
        style->border.bordersize = uint32_t(b.edgeSize);
    }
    if (b.colour >> 24) style->transparency = b.colour >> 24;
    qxBitMap *bm = nullptr, *alpha = nullptr;
    if (int r = qxBitMapFromARGB(im->pixels, 0xFFFFFFFFu, im->width, im->height, im->width, 0, 8, nullptr, &bm,
                                 nullptr, &alpha))
        return r;
    qxTextRequest drawn = *rq;
    qxStripLayerEffects(&drawn);
    qxTextLayerData *p = makePayload(&drawn, x, y);
    auto *data = p ? static_cast<qxLayerData *>(std::calloc(1, sizeof(qxLayerData))) : nullptr;
    if (!data) {
        if (p) qxFree(const_cast<char *>(p->request.text)), qxFree(p);
        qxFreeImagePlanes(bm, nullptr, alpha);
        return ERR_MEM;
    }
    const int32_t left = x + im->originX, top = y + im->originY;
    data->x = left, data->y = top, data->width = im->width, data->height = im->height;
    data->typedata = p;
    return qxAddLayer(L, type, nullptr, left, top, im->width, im->height, options, style, bm, nullptr, alpha, data,
                      style->insertpos, 0, out);
}

int qxBuildTextEffectMask(lua_State *L, const qxTextRequest *rq, int32_t size, qxBitMap **alpha, int32_t *width,
                          int32_t *height)
{
    *alpha = nullptr;
    size = std::clamp(size, 0, 64);
    qxTextRequest plain = *rq;
    plain.block.style &= ~(QX_TS_SHADOW | QX_TS_EDGE);
    if (!plain.block.style) plain.block.style = QX_TS_NORMAL;
    qxTextImage im;
    if (int r = qxLayoutTextL(L, &plain, &im)) return r;
    const int32_t grow = 2 * size + 1;
    const int64_t w = int64_t(im.width) + 2 * grow, h = int64_t(im.height) + 2 * grow;
    if (w * h > (int64_t(1) << 28)) {
        qxFreeTextImage(&im);
        return ERR_BITMAP;
    }
    qxBitMap *a = qxAllocAlphaBitMap(uint32_t(w), uint32_t(h), 1, nullptr, 0);
    if (!a) {
        qxFreeTextImage(&im);
        return ERR_ALLOCALPHA;
    }
    auto *plane = static_cast<qxBitMapPlane *>(a->data);
    // Separable square dilation: rows, then columns.
    std::vector<uint8_t> rows(size_t(w * h), 0);
    for (int32_t y = 0; y < im.height; ++y)
        for (int32_t x = 0; x < im.width; ++x) {
            const uint8_t v = uint8_t(im.pixels[size_t(y) * size_t(im.width) + size_t(x)] >> 24);
            if (!v) continue;
            uint8_t *row = &rows[size_t(y + grow) * size_t(w)];
            for (int32_t dx = -size; dx <= size; ++dx) {
                uint8_t &c = row[x + grow + dx];
                c = std::max(c, v);
            }
        }
    qxFreeTextImage(&im);
    for (int64_t y = 0; y < h; ++y) {
        uint8_t *dst = plane->pixels + size_t(y) * plane->bytesPerRow;
        for (int64_t dy = -size; dy <= size; ++dy) {
            const int64_t sy = y + dy;
            if (sy < 0 || sy >= h) continue;
            const uint8_t *src = &rows[size_t(sy * w)];
            for (int64_t x = 0; x < w; ++x) dst[x] = std::max(dst[x], src[x]);
        }
    }
    *alpha = a;
    *width = int32_t(w), *height = int32_t(h);
    return 0;
}
}
