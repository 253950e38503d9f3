// GetAttribute of text objects (8) and font objects (43): sizes, the six
// font attributes of the font they name, and a text object's text.
#include "core/vm/lua.h"
#include "display/qx_bgpic.h"
#include "display/qx_displaylibs.h"
#include "draw/text/qx_text.h"
#include "layers/qx_layer.h"
#include "platform/qx_errcodes.h"

namespace {

constexpr int kTypeFont = 43, kAttrText = 36;

bool fontAttribute(int attribute) { return attribute >= 30 && attribute <= 35; }

int pushFontAttribute(lua_State *L, int attribute, const qxFontHandle *font)
{
    const int r = qxFontAttribute(L, attribute, font);
    return r == 1 ? 1 : -r;
}

int textObjectAttribute(lua_State *L, qxObjectRef ref, int attribute)
{
    qxTextObject *t = nullptr;
    if (int r = qxFindTextObject(L, ref.number, ref.automatic, 0, &t))
        return -r;
    switch (attribute) {
    case 0: lua_pushnumber(L, t->width); return 1;
    case 1: lua_pushnumber(L, t->height); return 1;
    case kAttrText: lua_pushstring(L, t->request.text ? t->request.text : ""); return 1;
    default:
        if (fontAttribute(attribute))
            return pushFontAttribute(L, attribute, t->request.block.font);
        return -ERR_UNKNOWNATTR;
    }
}

int fontObjectAttribute(lua_State *L, qxObjectRef ref, int attribute)
{
    qxFontHandle *font = nullptr;
    if (int r = qxFindFont(L, ref.number, ref.automatic, &font))
        return -r;
    if (!fontAttribute(attribute))
        return -ERR_UNKNOWNATTR;
    return pushFontAttribute(L, attribute, font);
}

// The request a text layer was rendered from: its text object's, or the
// TEXTOUT or PRINT payload's own.
int layerRequest(lua_State *L, const qxLayer *l, const qxTextRequest **out)
{
    if (l->type == QX_TYPE_TEXTOBJECT) {
        qxTextObject *t = nullptr;
        if (int r = qxFindTextObject(L, l->layerid.number, l->layerid.automatic, 2, &t)) return r;
        *out = &t->request;
        return 0;
    }
    const auto *data = l->base ? static_cast<const qxTextLayerData *>(l->base->typedata) : nullptr;
    if (!data) return ERR_NOTXTLAYER;
    *out = &data->request;
    return 0;
}

int textLayerAttribute(lua_State *L, const qxLayer *l, int attribute)
{
    const qxTextRequest *rq = nullptr;
    if (int r = layerRequest(L, l, &rq)) return -r;
    if (attribute == kAttrText) {
        lua_pushlstring(L, rq->text ? rq->text : "", rq->text ? rq->length : 0);
        return 1;
    }
    if (!fontAttribute(attribute)) return -ERR_UNKNOWNATTR;
    return pushFontAttribute(L, attribute, rq->block.font);
}

} // namespace

extern "C" void qxLinkTextAttributes(void)
{
    qxRegisterLayerAttribute(QX_TYPE_TEXTOBJECT, textLayerAttribute);
    qxRegisterLayerAttribute(QX_LAYER_TEXTOUT, textLayerAttribute);
    qxRegisterLayerAttribute(QX_LAYER_PRINT, textLayerAttribute);
    qxObjectRefAttributes[QX_TYPE_TEXTOBJECT] = textObjectAttribute;
    qxObjectRefAttributes[kTypeFont] = fontObjectAttribute;
}
