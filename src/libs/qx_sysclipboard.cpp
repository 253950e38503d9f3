// System library: GetClipboard, SetClipboard, PeekClipboard and
// ClearClipboard on the text road. Images wait for brushes and PNG.
#include "libs/qx_sysclipboard.h"

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "libs/qx_systemlib.h"
#include "platform/qx_memory.h"

qxClipboardDispatch qxClipboard = {};

namespace {
enum { CLIPBOARD_EMPTY = 0, CLIPBOARD_TEXT = 1, CLIPBOARD_IMAGE = 2 };
}

int qxCmdGetClipboard(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    if (!qxClipboard.get)
        return ERR_UNSUPPORTEDFEAT;
    char *text = nullptr;
    int type = CLIPBOARD_EMPTY;
    if (int r = qxClipboard.get(L, &text, &type)) {
        qxFree(text);
        return r;
    }
    if (type == CLIPBOARD_TEXT) {
        lua_pushnumber(L, CLIPBOARD_TEXT);
        lua_pushstring(L, text ? text : "");
        qxFree(text);
        return 2;
    }
    qxFree(text);
    // An image needs a brush to land in; until then it counts as nothing.
    lua_pushnumber(L, type == CLIPBOARD_IMAGE ? CLIPBOARD_EMPTY : type);
    return 1;
}

int qxCmdSetClipboard(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    int type = luaL_checkint(L, 1);
    if (type != CLIPBOARD_TEXT && type != CLIPBOARD_IMAGE)
        return ERR_WRONGUSAGE;
    if (type == CLIPBOARD_IMAGE || !qxClipboard.setText)
        return ERR_UNSUPPORTEDFEAT;
    return qxClipboard.setText(luaL_checkstring(L, 2));
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
