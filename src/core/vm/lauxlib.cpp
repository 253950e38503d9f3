// Auxiliary library: argument checks, metatables, registry values, references.
#include "core/vm/lauxlib.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/errors/qx_errors.h"
#include "core/vm/ldo.h"

namespace {

[[noreturn]] void argError(lua_State *L, int narg, int code) {
    qxSetErrorNumber(narg);
    luaG_raisecode(L, code);
}

[[noreturn]] void fieldError(lua_State *L, const char *field, int code) {
    qxSetErrorString(field);
    luaG_raisecode(L, code);
}

// A number, nil (0) or a numeric string; false for anything else.
bool toNumberArg(lua_State *L, int idx, lua_Number *out) {
    switch (lua_type(L, idx)) {
    case LUA_TNUMBER:
        *out = lua_tonumber(L, idx);
        return true;
    case LUA_TNIL:
        *out = 0;
        return true;
    case LUA_TSTRING:
        if (!lua_isnumber(L, idx)) return false;
        *out = lua_tonumber(L, idx);
        return true;
    default:
        return false;
    }
}

// A string, or a number or nil converted in place; null for anything else.
const char *toStringArg(lua_State *L, int idx, size_t *len) {
    int t = lua_type(L, idx);
    if (t != LUA_TSTRING && t != LUA_TNUMBER && t != LUA_TNIL) return nullptr;
    const char *s = lua_tostring(L, idx);
    if (!s) return nullptr;
    if (len) *len = lua_strlen(L, idx);
    return s;
}

int absIndex(lua_State *L, int idx) {
    return (idx < 0 && idx > LUA_REGISTRYINDEX) ? lua_gettop(L) + idx + 1 : idx;
}

void pushRegistryField(lua_State *L, const char *name) {
    lua_pushstring(L, name);
    lua_rawget(L, LUA_REGISTRYINDEX);
}

// Key 1 of a reference table heads its free list; registry key 2 holds the
// weak-keyed table of sizes that tables without an "n" field get.
constexpr int kFreeListKey = 1;
constexpr int kSizesKey = 2;
constexpr int kFirstRef = 3;

void pushSizesTable(lua_State *L) {
    lua_rawgeti(L, LUA_REGISTRYINDEX, kSizesKey);
    if (lua_istable(L, -1)) return;
    lua_pop(L, 1);
    lua_newtable(L);
    lua_newtable(L);
    lua_pushliteral(L, "__mode");
    lua_pushliteral(L, "k");
    lua_rawset(L, -3);
    lua_setmetatable(L, -2);
    lua_pushvalue(L, -1);
    lua_rawseti(L, LUA_REGISTRYINDEX, kSizesKey);
}

} // namespace

extern "C" {

int luaL_numbertoint(lua_Number d) {
    // Negative values convert directly; others go through 64 bits and keep
    // the low 32 bits, so 0xFFFFFFFF colours read as -1.
    if (std::isnan(d)) return 0;
    if (d < 0) return d > static_cast<lua_Number>(INT32_MIN) ? static_cast<int32_t>(d) : INT32_MIN;
    if (d >= 9223372036854775808.0) return 0;
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(d))));
}

lua_Number luaL_checknumber(lua_State *L, int narg) {
    lua_Number n;
    if (!toNumberArg(L, narg, &n)) argError(L, narg, ERR_NUMEXPECTED);
    return n;
}

lua_Number luaL_optnumber(lua_State *L, int narg, lua_Number def) {
    return lua_type(L, narg) == LUA_TNONE ? def : luaL_checknumber(L, narg);
}

int luaL_checkint(lua_State *L, int narg) { return luaL_numbertoint(luaL_checknumber(L, narg)); }

int luaL_optint(lua_State *L, int narg, int def) {
    return lua_type(L, narg) == LUA_TNONE ? def : luaL_checkint(L, narg);
}

const char *luaL_checklstring(lua_State *L, int narg, size_t *len) {
    const char *s = toStringArg(L, narg, len);
    if (!s) argError(L, narg, ERR_STREXPECTED);
    return s;
}

const char *luaL_optlstring(lua_State *L, int narg, const char *def, size_t *len) {
    if (lua_type(L, narg) == LUA_TNONE) {
        if (len) *len = def ? std::strlen(def) : 0;
        return def;
    }
    return luaL_checklstring(L, narg, len);
}

void luaL_checktable(lua_State *L, int narg) {
    if (lua_type(L, narg) != LUA_TTABLE) argError(L, narg, ERR_TABEXPECTED);
}

void luaL_checkfunction(lua_State *L, int narg) {
    if (lua_type(L, narg) != LUA_TFUNCTION) argError(L, narg, ERR_FUNCEXPECTED);
}

void *luaL_checkuserdata(lua_State *L, int narg) {
    if (!lua_isuserdata(L, narg)) argError(L, narg, ERR_UDEXPECTED);
    return lua_touserdata(L, narg);
}

void luaL_checktype(lua_State *L, int narg, int t) {
    if (lua_type(L, narg) == t) return;
    switch (t) {
    case LUA_TNUMBER: argError(L, narg, ERR_NUMEXPECTED);
    case LUA_TSTRING: argError(L, narg, ERR_STREXPECTED);
    case LUA_TTABLE: argError(L, narg, ERR_TABEXPECTED);
    case LUA_TFUNCTION: argError(L, narg, ERR_FUNCEXPECTED);
    default: argError(L, narg, ERR_UDEXPECTED);
    }
}

lua_Number luaL_checkfieldnumber(lua_State *L, int idx, const char *field) {
    lua_Number n;
    if (!toNumberArg(L, idx, &n)) fieldError(L, field, ERR_NUMTABLEARG);
    return n;
}

const char *luaL_checkfieldlstring(lua_State *L, int idx, const char *field, size_t *len) {
    const char *s = toStringArg(L, idx, len);
    if (!s) fieldError(L, field, ERR_STRTABLEARG);
    return s;
}

// Metatables

int luaL_getmetafield(lua_State *L, int obj, const char *event) {
    if (!lua_getmetatable(L, obj)) return 0;
    lua_pushstring(L, event);
    lua_rawget(L, -2);
    if (lua_isnil(L, -1)) {
        lua_pop(L, 2);
        return 0;
    }
    lua_remove(L, -2);
    return 1;
}

int luaL_callmeta(lua_State *L, int obj, const char *event) {
    obj = absIndex(L, obj);
    if (!luaL_getmetafield(L, obj, event)) return 0;
    lua_pushvalue(L, obj);
    lua_call(L, 1, 1);
    return 1;
}

int luaL_newmetatable(lua_State *L, const char *tname) {
    pushRegistryField(L, tname);
    if (!lua_isnil(L, -1)) return 0; // the existing table stays on top
    lua_pop(L, 1);
    lua_newtable(L);
    lua_pushstring(L, tname);
    lua_pushvalue(L, -2);
    lua_rawset(L, LUA_REGISTRYINDEX);
    return 1;
}

void luaL_getmetatable(lua_State *L, const char *tname) { pushRegistryField(L, tname); }

void *luaL_checkudata(lua_State *L, int ud, const char *tname) {
    ud = absIndex(L, ud);
    if (lua_type(L, ud) != LUA_TUSERDATA || !lua_getmetatable(L, ud)) return nullptr;
    pushRegistryField(L, tname);
    bool same = lua_rawequal(L, -1, -2);
    lua_pop(L, 2);
    return same ? lua_touserdata(L, ud) : nullptr;
}

// Registry values

void *luaL_getregptr(lua_State *L, const char *name) {
    pushRegistryField(L, name);
    void *p = lua_touserdata(L, -1);
    lua_pop(L, 1);
    return p;
}

const char *luaL_getregstr(lua_State *L, const char *name) {
    // The string stays alive in the registry after the pop.
    pushRegistryField(L, name);
    const char *s = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : nullptr;
    lua_pop(L, 1);
    return s;
}

lua_Number luaL_getregnum(lua_State *L, const char *name) {
    pushRegistryField(L, name);
    lua_Number n = lua_tonumber(L, -1);
    lua_pop(L, 1);
    return n;
}

void luaL_setregptr(lua_State *L, const char *name, void *p) {
    lua_pushstring(L, name);
    lua_pushlightuserdata(L, p);
    lua_rawset(L, LUA_REGISTRYINDEX);
}

void luaL_setregstr(lua_State *L, const char *name, const char *s) {
    lua_pushstring(L, name);
    lua_pushstring(L, s);
    lua_rawset(L, LUA_REGISTRYINDEX);
}

void luaL_setregnum(lua_State *L, const char *name, lua_Number n) {
    lua_pushstring(L, name);
    lua_pushnumber(L, n);
    lua_rawset(L, LUA_REGISTRYINDEX);
}

// Sizes and references

int luaL_getn(lua_State *L, int t) {
    t = absIndex(L, t);
    lua_pushliteral(L, "n");
    lua_rawget(L, t);
    if (lua_type(L, -1) == LUA_TNUMBER) {
        int n = luaL_numbertoint(lua_tonumber(L, -1));
        lua_pop(L, 1);
        return n;
    }
    lua_pop(L, 1);
    pushSizesTable(L);
    lua_pushvalue(L, t);
    lua_rawget(L, -2);
    if (lua_type(L, -1) == LUA_TNUMBER) {
        int n = luaL_numbertoint(lua_tonumber(L, -1));
        lua_pop(L, 2);
        return n;
    }
    lua_pop(L, 2);
    int n = 0;
    for (;;) {
        lua_rawgeti(L, t, n + 1);
        bool more = !lua_isnil(L, -1);
        lua_pop(L, 1);
        if (!more) break;
        n++;
    }
    return n;
}

void luaL_setn(lua_State *L, int t, int n) {
    t = absIndex(L, t);
    lua_pushliteral(L, "n");
    lua_rawget(L, t);
    bool hasField = lua_type(L, -1) == LUA_TNUMBER;
    lua_pop(L, 1);
    if (hasField) {
        lua_pushliteral(L, "n");
        lua_pushnumber(L, n);
        lua_rawset(L, t);
        return;
    }
    pushSizesTable(L);
    lua_pushvalue(L, t);
    lua_pushnumber(L, n);
    lua_rawset(L, -3);
    lua_pop(L, 1);
}

int luaL_ref(lua_State *L, int t) {
    t = absIndex(L, t);
    if (lua_isnil(L, -1)) {
        lua_pop(L, 1);
        return LUA_REFNIL;
    }
    lua_rawgeti(L, t, kFreeListKey);
    int ref = luaL_numbertoint(lua_tonumber(L, -1));
    lua_pop(L, 1);
    if (ref >= kFirstRef) {
        lua_rawgeti(L, t, ref); // the next free reference becomes the head
        lua_rawseti(L, t, kFreeListKey);
    } else {
        ref = luaL_getn(L, t) + 1;
        if (ref < kFirstRef) ref = kFirstRef;
        luaL_setn(L, t, ref);
    }
    lua_rawseti(L, t, ref);
    return ref;
}

void luaL_unref(lua_State *L, int t, int ref) {
    // References below the first one are the machinery's own keys.
    if (ref < kFirstRef) return;
    t = absIndex(L, t);
    lua_rawgeti(L, t, kFreeListKey);
    lua_rawseti(L, t, ref);
    lua_pushnumber(L, ref);
    lua_rawseti(L, t, kFreeListKey);
}

} // extern "C"

namespace {
struct WholeChunk {
    const char *data;
    size_t size;
};

const char *readWholeChunk(lua_State *, void *data, size_t *size)
{
    auto *c = static_cast<WholeChunk *>(data);
    *size = c->size;
    c->size = 0;
    return *size ? c->data : nullptr;
}
} // namespace

extern "C" int luaL_loadbuffer(lua_State *L, const char *data, size_t size, const char *chunkname)
{
    WholeChunk chunk{data, size};
    return lua_load(L, readWholeChunk, &chunk, chunkname);
}
