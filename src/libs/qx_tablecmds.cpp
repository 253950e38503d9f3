// System-library commands on tables: lists counted from index 0,
// iteration with callbacks, raw access, metatables and copies.
#include "libs/qx_tablecmds.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "core/commands/qx_args.h"
#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "platform/qx_memory.h"
#include "platform/qx_text.h"

namespace {

// Deepest nesting CopyTable follows before it gives up.
constexpr int MAX_COPY_DEPTH = 200;

int pushInt(lua_State *L, double v) {
    lua_pushnumber(L, v);
    return 1;
}

// A callback in protected mode with the inside-a-callback attribute set;
// 0 or the callback's error code. The attribute counts: setting it to 1
// enters one callback level and setting it to 0 leaves one.
int protectedCallback(lua_State *L, int nargs, int nresults) {
    qxSetTag(QX_TAG_CALLBACKNEST, 1);
    int status = lua_pcall(L, nargs, nresults, 0);
    qxSetTag(QX_TAG_CALLBACKNEST, 0);
    return status;
}

// Copies the table at src; map (a table at index map) remembers copies
// already made, so shared and cyclic tables copy once.
int copyTable(lua_State *L, int src, int map, bool shallow, int depth) {
    if (depth > MAX_COPY_DEPTH || !lua_checkstack(L, 6)) return ERR_STACK;
    lua_newtable(L);
    int dst = lua_gettop(L);
    lua_pushvalue(L, src);
    lua_pushvalue(L, dst);
    lua_rawset(L, map);
    lua_pushnil(L);
    while (lua_next(L, src)) {
        int value = lua_gettop(L);
        if (!shallow && lua_istable(L, value)) {
            lua_pushvalue(L, value);
            lua_rawget(L, map);
            if (lua_isnil(L, -1)) {
                lua_pop(L, 1);
                if (int r = copyTable(L, value, map, shallow, depth + 1)) return r;
            }
            lua_replace(L, value);
        }
        lua_pushvalue(L, value - 1);
        lua_pushvalue(L, value);
        lua_rawset(L, dst);
        lua_settop(L, value - 1);
    }
    return 0;
}

} // namespace

int qxListLength(lua_State *L, int t, bool stopAtEmpty)
{
    int n = 0;
    for (;; n++) {
        lua_rawgeti(L, t, n);
        int type = lua_type(L, -1);
        bool end = type == LUA_TNIL || (stopAtEmpty && type == LUA_TSTRING && lua_strlen(L, -1) == 0);
        lua_pop(L, 1);
        if (end || n == INT32_MAX) break;
    }
    return n;
}

int qxCmdPack(lua_State *L)
{
    int n = lua_gettop(L);
    lua_newtable(L);
    for (int i = 1; i <= n; i++) {
        lua_pushvalue(L, i);
        lua_rawseti(L, -2, i - 1);
    }
    return 1;
}

int qxCmdUnpack(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    luaL_checktable(L, 1);
    int n = qxListLength(L, 1);
    if (n > 999 || !lua_checkstack(L, n)) return ERR_STACK;
    for (int i = 0; i < n; i++) lua_rawgeti(L, 1, i);
    return n;
}

int qxCmdListItems(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    luaL_checktable(L, 1);
    return pushInt(L, qxListLength(L, 1));
}

int qxCmdInsertItem(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    luaL_checktable(L, 1);
    int n = qxListLength(L, 1);
    int pos = luaL_optint(L, 3, -1);
    if (pos < 0 || pos > n) pos = n;
    for (int i = n; i > pos; i--) {
        lua_rawgeti(L, 1, i - 1);
        lua_rawseti(L, 1, i);
    }
    lua_pushvalue(L, 2);
    lua_rawseti(L, 1, pos);
    return 0;
}

int qxCmdRemoveItem(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    luaL_checktable(L, 1);
    int n = qxListLength(L, 1);
    if (n == 0) return 0;
    int pos = luaL_optint(L, 2, -1);
    if (pos < 0 || pos >= n) pos = n - 1;
    lua_rawgeti(L, 1, pos);
    for (int i = pos; i < n - 1; i++) {
        lua_rawgeti(L, 1, i + 1);
        lua_rawseti(L, 1, i);
    }
    lua_pushnil(L);
    lua_rawseti(L, 1, n - 1);
    return 1;
}

int qxCmdConcat(lua_State *L)
{
    qxCheckArgCount(L, 1, 4, 0, 0);
    luaL_checktable(L, 1);
    size_t seplen = 0;
    const char *sep = luaL_optlstring(L, 2, "", &seplen);
    int start = luaL_optint(L, 3, 0), last = luaL_optint(L, 4, 0);
    if (last == 0) last = qxListLength(L, 1) - 1;
    std::string out;
    for (long i = start; i <= last; i++) {
        lua_rawgeti(L, 1, static_cast<int>(i));
        int t = lua_type(L, -1);
        if (t != LUA_TSTRING && t != LUA_TNUMBER) return ERR_STRINGEXPECTED;
        const char *s = lua_tostring(L, -1);
        out.append(s, lua_strlen(L, -1));
        lua_pop(L, 1);
        if (i < last) out.append(sep, seplen);
        if (out.size() > 0x7FFFFFFF) return ERR_MEM;
    }
    lua_pushlstring(L, out.data(), out.size());
    return 1;
}

int qxCmdForEach(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    luaL_checktable(L, 1);
    luaL_checkfunction(L, 2);
    bool user = lua_gettop(L) >= 3;
    lua_settop(L, user ? 3 : 2);
    lua_pushnil(L);
    while (lua_next(L, 1)) {
        int top = lua_gettop(L); // key at top - 1, value at top
        lua_pushvalue(L, 2);
        lua_pushvalue(L, top - 1);
        lua_pushvalue(L, top);
        if (user) lua_pushvalue(L, 3);
        if (int status = protectedCallback(L, user ? 3 : 2, 1)) return status;
        if (!lua_isnil(L, -1)) return 1;
        lua_settop(L, top - 1);
    }
    return 0;
}

int qxCmdForEachI(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    luaL_checktable(L, 1);
    luaL_checkfunction(L, 2);
    bool user = lua_gettop(L) >= 3;
    lua_settop(L, user ? 3 : 2);
    for (int i = 0; i < INT32_MAX; i++) {
        lua_rawgeti(L, 1, i);
        if (lua_isnil(L, -1)) break;
        int value = lua_gettop(L);
        lua_pushvalue(L, 2);
        lua_pushnumber(L, i);
        lua_pushvalue(L, value);
        if (user) lua_pushvalue(L, 3);
        if (int status = protectedCallback(L, user ? 3 : 2, 1)) return status;
        if (!lua_isnil(L, -1)) return 1;
        lua_settop(L, value - 1);
    }
    return 0;
}

int qxCmdNextItem(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    luaL_checktable(L, 1);
    lua_settop(L, 2);
    if (lua_next(L, 1)) return 2;
    lua_pushnil(L);
    return 1;
}

int qxCmdPairs(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    luaL_checktable(L, 1);
    lua_pushliteral(L, "nextitem");
    lua_gettable(L, LUA_GLOBALSINDEX);
    lua_pushvalue(L, 1);
    lua_pushnil(L);
    return 3;
}

int qxCmdIPairs(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    luaL_checktable(L, 1);
    if (lua_gettop(L) == 1) {
        lua_pushliteral(L, "ipairs");
        lua_gettable(L, LUA_GLOBALSINDEX);
        lua_pushvalue(L, 1);
        lua_pushnumber(L, -1);
        return 3;
    }
    int i = luaL_checkint(L, 2);
    if (i == INT32_MAX) return 0;
    lua_rawgeti(L, 1, i + 1);
    if (lua_isnil(L, -1)) return 0;
    lua_pushnumber(L, i + 1);
    lua_insert(L, -2);
    return 2;
}

int qxCmdIsTableEmpty(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    luaL_checktable(L, 1);
    lua_pushnil(L);
    int empty = lua_next(L, 1) ? 0 : 1;
    lua_settop(L, 1);
    return pushInt(L, empty);
}

int qxCmdTableItems(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    luaL_checktable(L, 1);
    double n = 0;
    lua_pushnil(L);
    while (lua_next(L, 1)) {
        n++;
        lua_pop(L, 1);
    }
    return pushInt(L, n);
}

int qxCmdHaveItem(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    luaL_checktable(L, 1);
    if (lua_type(L, 2) == LUA_TSTRING) {
        std::string key(lua_tostring(L, 2), lua_strlen(L, 2));
        qxStrLower(key.data());
        lua_pushlstring(L, key.c_str(), std::strlen(key.c_str()));
    } else {
        lua_pushvalue(L, 2);
    }
    lua_rawget(L, 1);
    return pushInt(L, lua_isnil(L, -1) ? 0 : 1);
}

int qxCmdRawGet(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    luaL_checktable(L, 1);
    lua_pushvalue(L, 2);
    lua_rawget(L, 1);
    return 1;
}

int qxCmdRawSet(lua_State *L)
{
    qxCheckArgCount(L, 3, 3, 0, 0);
    luaL_checktable(L, 1);
    lua_pushvalue(L, 2);
    lua_pushvalue(L, 3);
    lua_rawset(L, 1);
    lua_settop(L, 1);
    return 1;
}

int qxCmdRawEqual(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    return pushInt(L, lua_rawequal(L, 1, 2) ? 1 : 0);
}

int qxCmdGetMetaTable(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    if (!lua_getmetatable(L, 1)) {
        lua_pushnil(L);
        return 1;
    }
    // A protected metatable shows its "__metatable" field instead.
    luaL_getmetafield(L, 1, "__metatable");
    return 1;
}

int qxCmdSetMetaTable(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    luaL_checktable(L, 1);
    int t = lua_type(L, 2);
    if (t != LUA_TTABLE && t != LUA_TNIL) return ERR_TABLEORNIL;
    if (luaL_getmetafield(L, 1, "__metatable")) return ERR_PROTMETATABLE;
    lua_settop(L, 2);
    lua_setmetatable(L, 1);
    return 1;
}

int qxCmdCopyTable(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    luaL_checktable(L, 1);
    bool shallow = luaL_optnumber(L, 2, 0) != 0;
    lua_settop(L, 1);
    lua_newtable(L); // originals -> copies
    if (int r = copyTable(L, 1, 2, shallow, 0)) return r;
    return 1;
}

int qxCmdIsNil(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    return pushInt(L, lua_isnil(L, 1) ? 1 : 0);
}

int qxCmdIIf(lua_State *L)
{
    qxCheckArgCount(L, 3, 3, 0, 0);
    bool cond;
    switch (lua_type(L, 1)) {
    case LUA_TNUMBER: cond = lua_tonumber(L, 1) != 0; break;
    case LUA_TSTRING: cond = lua_strlen(L, 1) != 0; break;
    case LUA_TNIL: cond = false; break;
    default: return ERR_WRONGDTYPE;
    }
    lua_pushvalue(L, cond ? 2 : 3);
    return 1;
}

int qxCmdGetType(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    int code;
    switch (lua_type(L, 1)) {
    case LUA_TNIL: code = 0; break;
    case LUA_TNUMBER: code = 2; break;
    case LUA_TSTRING: code = 3; break;
    case LUA_TTABLE: code = 4; break;
    case LUA_TFUNCTION: code = 5; break;
    case LUA_TUSERDATA: code = 8; break;
    case LUA_TLIGHTUSERDATA: code = 9; break;
    case LUA_TTHREAD: code = 10; break;
    default: code = -1; break;
    }
    return pushInt(L, code);
}

namespace {
int movePointer(lua_State *L, bool up) {
    qxCheckArgCount(L, 2, 2, 0, 0);
    auto p = reinterpret_cast<uintptr_t>(luaL_checkuserdata(L, 1));
    auto n = static_cast<uint32_t>(luaL_checkint(L, 2));
    lua_pushlightuserdata(L, reinterpret_cast<void *>(up ? p + n : p - n));
    return 1;
}
} // namespace

int qxCmdIncreasePointer(lua_State *L) { return movePointer(L, true); }
int qxCmdDecreasePointer(lua_State *L) { return movePointer(L, false); }
