// System-library commands that attach named script values to objects and
// ask which objects exist.
#include "libs/qx_tablecmds.h"

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/commands/qx_objreg.h"
#include "core/vm/lauxlib.h"
#include "display/qx_bgpic.h"

namespace {

// The data list of the object named by the type and identifier arguments
// at idx and idx + 1.
int findDataList(lua_State *L, int idx, qxObjectDataItem ***list) {
    int type = luaL_checkint(L, idx);
    // Layers keep their data in the layer record, named by position or name.
    if (type == QX_TYPE_LAYER) {
        if (!qxLayerQueries.layerDataList) return ERR_NOLAYERS;
        return qxLayerQueries.layerDataList(L, idx + 1, list);
    }
    qxObjectRef ref = qxGetObjectIDArg(L, idx + 1);
    qxObjectHeader *h = type >= 0 ? qxFindObjectData(static_cast<uint32_t>(type), ref) : nullptr;
    if (!h) return ERR_FINDARRAY;
    *list = &h->data;
    return 0;
}

// A non-empty key argument, else null (the caller reports 1055).
const char *keyArg(lua_State *L, int idx) {
    size_t len;
    const char *key = luaL_checklstring(L, idx, &len);
    return len ? key : nullptr;
}

} // namespace

int qxCmdSetObjectData(lua_State *L)
{
    qxCheckArgCount(L, 4, 4, 0, 0);
    qxObjectDataItem **list;
    if (int r = findDataList(L, 1, &list)) return r;
    const char *key = keyArg(L, 3);
    if (!key) return ERR_WRONGUSAGE;
    return qxSetObjectDataItem(L, key, 4, list);
}

int qxCmdGetObjectData(lua_State *L)
{
    qxCheckArgCount(L, 3, 3, 0, 0);
    qxObjectDataItem **list;
    if (int r = findDataList(L, 1, &list)) return r;
    const char *key = keyArg(L, 3);
    if (!key) return ERR_WRONGUSAGE;
    qxObjectDataItem *item = qxFindObjectDataItem(*list, key);
    if (!item) {
        qxSetErrorString(key);
        return ERR_FINDOBJECTDATA;
    }
    lua_rawgeti(L, LUA_REGISTRYINDEX, static_cast<int>(item->ref));
    return 1;
}

int qxCmdHaveObjectData(lua_State *L)
{
    qxCheckArgCount(L, 3, 3, 0, 0);
    qxObjectDataItem **list;
    if (int r = findDataList(L, 1, &list)) return r;
    const char *key = keyArg(L, 3);
    if (!key) return ERR_WRONGUSAGE;
    lua_pushnumber(L, qxFindObjectDataItem(*list, key) ? 1 : 0);
    return 1;
}

int qxCmdClearObjectData(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    qxObjectDataItem **list;
    if (int r = findDataList(L, 1, &list)) return r;
    if (lua_gettop(L) < 3) {
        qxFreeRefList(L, list);
        return 0;
    }
    const char *key = keyArg(L, 3);
    if (!key) return ERR_WRONGUSAGE;
    if (!qxRemoveObjectDataItem(L, list, key)) {
        qxSetErrorString(key);
        return ERR_FINDOBJECTDATA;
    }
    return 0;
}

int qxCmdCopyObjectData(lua_State *L)
{
    qxCheckArgCount(L, 4, 5, 0, 0);
    qxObjectDataItem **src, **dst;
    if (int r = findDataList(L, 1, &src)) return r;
    if (int r = findDataList(L, 3, &dst)) return r;
    bool overwrite = luaL_optnumber(L, 5, 1) != 0;
    for (qxObjectDataItem *item = *src; item; item = item->next) {
        if (!overwrite && qxFindObjectDataItem(*dst, item->key)) continue;
        lua_rawgeti(L, LUA_REGISTRYINDEX, static_cast<int>(item->ref));
        int r = qxSetObjectDataItem(L, item->key, lua_gettop(L), dst);
        lua_pop(L, 1);
        if (r) return r;
    }
    return 0;
}

int qxCmdHaveObject(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxObjectDataItem **list;
    int r = findDataList(L, 1, &list);
    lua_pushnumber(L, r == 0 ? 1 : 0);
    return 1;
}

int qxCmdGetObjects(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    int type = luaL_checkint(L, 1);
    lua_newtable(L);
    int n = 0;
    // Layers are named by their positions on the current layer BGPic.
    if (type == QX_TYPE_LAYER) n = qxLayerQueries.pushLayerIDs ? qxLayerQueries.pushLayerIDs(L) : 0;
    else if (type >= 0) n = qxPushObjectIDsOfType(L, static_cast<uint32_t>(type));
    lua_pushnumber(L, n);
    return 2;
}

int qxCmdGetObjectType(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    void *p = lua_islightuserdata(L, 1) ? lua_touserdata(L, 1) : nullptr;
    lua_pushnumber(L, qxGetObjectTypeOf(p));
    return 1;
}
