// Auxiliary library: string buffers, command and constant registration,
// the platform constants and the label tables of Gosub targets.
#include <cstring>
#include <initializer_list>

#include "core/vm/lauxlib.h"
#include "core/vm/lfunc.h"
#include "core/vm/lgc.h"
#include "core/vm/lstring.h"
#include "core/vm/ltable.h"

namespace {

// Names of commands, constants and labels are kept in lower case, at most
// 127 characters.
constexpr size_t kNameMax = QX_NAME_MAX;

void lowerName(const char *name, char out[kNameMax + 1]) {
    size_t i = 0;
    for (; name[i] && i < kNameMax; i++) {
        char c = name[i];
        out[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    out[i] = '\0';
}

// Pushes registry[name], creating an empty table there when it is missing.
void pushRegistryTable(lua_State *L, const char *name) {
    lua_pushstring(L, name);
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (lua_istable(L, -1)) return;
    lua_pop(L, 1);
    lua_newtable(L);
    lua_pushstring(L, name);
    lua_pushvalue(L, -2);
    lua_rawset(L, LUA_REGISTRYINDEX);
}

// The table on top, when it is one and the rows' names are prepared: the
// rows then go straight into it, each value and key made and set without a
// stack slot (neither making nor setting collects).
Table *directTarget(lua_State *L, const qxNames *names) {
    if (!names || L->top <= L->base || !ttistable(L->top - 1)) return nullptr;
    luaC_checkGC(L);
    return hvalue(L->top - 1);
}

void setPrepared(lua_State *L, Table *t, const qxNames *names, size_t row, const TValue *value) {
    const qxNameKey &key = names->keys[row];
    TString *name = luaS_newlstrhash(L, names->text + key.offset, key.length, key.hash);
    setobj(luaH_setstr(L, t, name), value);
}

// Pushes registry[name] when it is a table; false (nothing pushed) otherwise.
bool pushExistingTable(lua_State *L, const char *name) {
    lua_pushstring(L, name);
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (lua_istable(L, -1)) return true;
    lua_pop(L, 1);
    return false;
}

const char *const kPlatformNames[] = {
    "QX_AMIGA", "QX_MACOS", "QX_LINUX", "QX_WINDOWS", "QX_ANDROID", "QX_IOS",
    "QX_LITTLE_ENDIAN", "QX_64BIT", nullptr,
};

// Buffers: pieces on the stack are merged so that fewer than this many remain.
constexpr int kMaxPieces = 10;

size_t bufferLength(luaL_Buffer *B) { return static_cast<size_t>(B->p - B->buffer); }

bool flushBuffer(luaL_Buffer *B) {
    size_t l = bufferLength(B);
    if (l == 0) return false;
    lua_checkstack(B->L, 1);
    lua_pushlstring(B->L, B->buffer, l);
    B->p = B->buffer;
    B->lvl++;
    return true;
}

// Merges the top pieces while too many remain or a lower piece is not
// longer than everything merged above it.
void mergePieces(luaL_Buffer *B) {
    if (B->lvl < 2) return;
    lua_State *L = B->L;
    int n = 1;
    size_t merged = lua_strlen(L, -1);
    while (n < B->lvl) {
        size_t below = lua_strlen(L, -(n + 1));
        if (B->lvl - n < kMaxPieces && below > merged) break;
        merged += below;
        n++;
    }
    if (n > 1) {
        lua_concat(L, n);
        B->lvl -= n - 1;
    }
}

} // namespace

extern "C" {

// Buffers

void luaL_buffinit(lua_State *L, luaL_Buffer *B) {
    B->L = L;
    B->p = B->buffer;
    B->lvl = 0;
}

char *luaL_prepbuffer(luaL_Buffer *B) {
    if (flushBuffer(B)) mergePieces(B);
    return B->buffer;
}

void luaL_addlstring(luaL_Buffer *B, const char *s, size_t l) {
    while (l > 0) {
        size_t room = LUAL_BUFFERSIZE - bufferLength(B);
        if (room == 0) {
            luaL_prepbuffer(B);
            room = LUAL_BUFFERSIZE;
        }
        size_t n = l < room ? l : room;
        std::memcpy(B->p, s, n);
        B->p += n;
        s += n;
        l -= n;
    }
}

void luaL_addstring(luaL_Buffer *B, const char *s) { luaL_addlstring(B, s, std::strlen(s)); }

void luaL_addvalue(luaL_Buffer *B) {
    lua_State *L = B->L;
    size_t l = 0;
    const char *s = lua_tostring(L, -1);
    if (s) l = lua_strlen(L, -1);
    if (l <= LUAL_BUFFERSIZE - bufferLength(B)) {
        if (l) std::memcpy(B->p, s, l);
        B->p += l;
        lua_pop(L, 1);
        return;
    }
    // Too long for the free space: the value becomes a piece of its own,
    // after whatever the buffer holds.
    if (flushBuffer(B)) lua_insert(L, -2);
    B->lvl++;
    mergePieces(B);
}

void luaL_pushresult(luaL_Buffer *B) {
    flushBuffer(B);
    lua_concat(B->L, B->lvl);
    B->lvl = 1;
}

// Commands and constants

int luaL_openlib(lua_State *L, const char *libname, const luaL_reg *l, int nup, const qxNames *names) {
    if (libname) {
        // The library table goes below the upvalues.
        lua_pushstring(L, libname);
        lua_gettable(L, LUA_GLOBALSINDEX);
        if (!lua_istable(L, -1)) {
            lua_pop(L, 1);
            lua_newtable(L);
            lua_pushstring(L, libname);
            lua_pushvalue(L, -2);
            lua_settable(L, LUA_GLOBALSINDEX);
        }
        lua_insert(L, -(nup + 1));
    }
    int registered = 0;
    if (Table *t = nup == 0 ? directTarget(L, names) : nullptr) {
        for (size_t row = 0; l && l->name; l++, row++) {
            if (!l->func) continue;
            auto *cl = static_cast<CClosure *>(luaF_newCclosure(L, 0));
            cl->f = l->func;
            TValue v;
            setclvalue(&v, cl);
            setPrepared(L, t, names, row, &v);
            registered = 1;
        }
        return registered;
    }
    for (; l && l->name; l++) {
        if (!l->func) continue;
        for (int i = 0; i < nup; i++) lua_pushvalue(L, -nup);
        lua_pushcclosure(L, l->func, nup);
        lua_rawsetlower(L, -(nup + 2), l->name, kNameMax);
        registered = 1;
    }
    lua_pop(L, nup);
    return registered;
}

void luaL_registerconstants(lua_State *L, const qxConstantDef *rows, int user, const qxNames *names) {
    if (!rows || !rows->name) return;
    pushRegistryTable(L, user ? "userconstants" : "constants");
    if (Table *t = directTarget(L, names)) {
        for (size_t row = 0; rows->name; rows++, row++) {
            TValue v;
            if (rows->str) setsvalue(&v, luaS_new(L, rows->str));
            else setnvalue(&v, rows->num);
            setPrepared(L, t, names, row, &v);
        }
        lua_pop(L, 1);
        return;
    }
    for (; rows->name; rows++) {
        if (rows->str) lua_pushstring(L, rows->str);
        else lua_pushnumber(L, rows->num);
        lua_rawsetlower(L, -2, rows->name, kNameMax);
    }
    lua_pop(L, 1);
}

int luaL_findstring(const char *name, const char *const list[]) {
    if (!name || !list) return -1;
    for (int i = 0; list[i]; i++)
        if (std::strcmp(list[i], name) == 0) return i;
    return -1;
}

int luaL_getconstant(lua_State *L, const char *name, const char **str, lua_Number *num) {
    char key[kNameMax + 1];
    lowerName(name, key);
    for (const char *table : {"constants", "userconstants"}) {
        if (!pushExistingTable(L, table)) continue;
        lua_pushstring(L, key);
        lua_rawget(L, -2);
        int t = lua_type(L, -1);
        if (t == LUA_TSTRING || t == LUA_TNUMBER) {
            // The table keeps the string alive after the pops.
            if (t == LUA_TSTRING) {
                if (str) *str = lua_tostring(L, -1);
                if (num) *num = 0;
            } else {
                if (str) *str = nullptr;
                if (num) *num = lua_tonumber(L, -1);
            }
            lua_pop(L, 2);
            return 1;
        }
        lua_pop(L, 2);
    }
    return 0;
}

// Labels

int luaL_findlabel(lua_State *L, const char *name) {
    if (!pushExistingTable(L, "labels")) return -1;
    char key[kNameMax + 1];
    lowerName(name, key);
    lua_pushstring(L, key);
    lua_rawget(L, -2);
    int pc = lua_type(L, -1) == LUA_TNUMBER ? static_cast<int>(lua_tonumber(L, -1)) : -1;
    lua_pop(L, 2);
    return pc;
}

void luaL_setlabel(lua_State *L, const char *name, int pc) {
    pushRegistryTable(L, "labels");
    char key[kNameMax + 1];
    lowerName(name, key);
    lua_pushstring(L, key);
    lua_pushnumber(L, pc);
    lua_rawset(L, -3);
    lua_pop(L, 1);
}

} // extern "C"
