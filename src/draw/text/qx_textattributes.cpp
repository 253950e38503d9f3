// GetAttribute of text objects (8) and font objects (43): sizes, the six
// font attributes of the font they name, and a text object's text.
#include "core/vm/lua.h"
#include "display/qx_bgpic.h"
#include "display/qx_displaylibs.h"
#include "draw/text/qx_text.h"
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

} // namespace

extern "C" void qxLinkTextAttributes(void)
{
    qxObjectRefAttributes[QX_TYPE_TEXTOBJECT] = textObjectAttribute;
    qxObjectRefAttributes[kTypeFont] = fontObjectAttribute;
}
