// System library: GetClipboard, SetClipboard, PeekClipboard and
// ClearClipboard; texts are strings, pictures are brushes.
#include "libs/qx_sysclipboard.h"

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "display/qx_bitmap.h"
#include "libs/qx_systemlib.h"
#include "objects/qx_brush.h"
#include "objects/qx_objargs.h"
#include "platform/qx_memory.h"

qxClipboardDispatch qxClipboard = {};

namespace {
enum { CLIPBOARD_EMPTY = 0, CLIPBOARD_TEXT = 1, CLIPBOARD_IMAGE = 2 };

void freeImage(const qxClipboardImage &image)
{
    qxFreeAlphaBitMap(image.alpha);
    qxFreeMaskBitMap(image.mask);
    qxFreeBitMap(image.bitmap);
}
} // namespace

int qxCmdGetClipboard(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    if (!qxClipboard.get)
        return ERR_UNSUPPORTEDFEAT;
    char *text = nullptr;
    qxClipboardImage image{};
    int type = CLIPBOARD_EMPTY;
    if (int r = qxClipboard.get(L, &text, &image, &type)) {
        qxFree(text);
        freeImage(image);
        return r;
    }
    if (type == CLIPBOARD_TEXT) {
        lua_pushnumber(L, CLIPBOARD_TEXT);
        lua_pushstring(L, text ? text : "");
        qxFree(text);
        return 2;
    }
    qxFree(text);
    if (type == CLIPBOARD_IMAGE && image.bitmap) {
        qxObjectRef ref{0, QX_NEW_AUTOMATIC};
        if (int r = qxBrushFromBitmap(&ref, image.bitmap, image.mask, image.alpha, image.width, image.height,
                                      0xFFFFFFFFu)) {
            freeImage(image);
            return r;
        }
        lua_pushnumber(L, CLIPBOARD_IMAGE);
        return 1 + qxPushNewID(L, ref);
    }
    lua_pushnumber(L, type == CLIPBOARD_IMAGE ? CLIPBOARD_EMPTY : type);
    return 1;
}

int qxCmdSetClipboard(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    int type = luaL_checkint(L, 1);
    if (type != CLIPBOARD_TEXT && type != CLIPBOARD_IMAGE)
        return ERR_WRONGUSAGE;
    if (type == CLIPBOARD_TEXT)
        return qxClipboard.setText ? qxClipboard.setText(luaL_checkstring(L, 2)) : ERR_UNSUPPORTEDFEAT;
    qxBrush *b = nullptr;
    if (int r = qxFindBrush(L, qxGetObjectIDArg(L, 2), &b, QX_FIND_HARDWARE))
        return r;
    if (b->kind == QX_BRUSH_VECTOR)
        return ERR_VECTORBRUSH;
    if (!b->bitmap)
        return ERR_BITMAP;
    if (!qxClipboard.setImage)
        return ERR_UNSUPPORTEDFEAT;
    const qxClipboardImage image{b->width, b->height, b->bitmap, b->mask, b->alpha};
    return qxClipboard.setImage(&image);
}

int qxCmdPeekClipboard(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    if (!qxClipboard.peek)
        return ERR_UNSUPPORTEDFEAT;
    int type = CLIPBOARD_EMPTY;
    if (int r = qxClipboard.peek(L, &type))
        return r;
    lua_pushnumber(L, type);
    return 1;
}

int qxCmdClearClipboard(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    return qxClipboard.clear ? qxClipboard.clear() : ERR_UNSUPPORTEDFEAT;
}
