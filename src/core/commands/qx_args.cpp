// Argument and option-table readers of the commands.
#include "core/commands/qx_args.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "core/files/qx_chunkname.h"
#include "core/errors/qx_errors.h"
#include "core/runtime/qx_startup.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"
#include "platform/qx_memory.h"
#include "platform/qx_text.h"

namespace {

[[noreturn]] void argError(lua_State *L, int narg, int code) {
    qxSetErrorNumber(narg);
    luaG_raisecode(L, code);
}

[[noreturn]] void fieldError(lua_State *L, const char *key, int code) {
    qxSetErrorString(key);
    luaG_raisecode(L, code);
}

int absIndex(lua_State *L, int idx) {
    return (idx < 0 && idx > LUA_REGISTRYINDEX) ? lua_gettop(L) + idx + 1 : idx;
}

// Pushes t[key]; false (and nothing left pushed) when it is nil.
bool pushField(lua_State *L, int t, const char *key) {
    lua_pushstring(L, key);
    lua_gettable(L, t);
    if (!lua_isnil(L, -1)) return true;
    lua_pop(L, 1);
    return false;
}

int present(int *found) {
    if (found) *found = 1;
    return 1;
}

enum class Percent { Number, Percentage, Malformed };

// A decimal number, optionally followed by "%", and nothing else.
Percent parsePercent(const char *s, size_t len, double *value) {
    const char *end = s + len;
    if (s == end || !(*s == '-' || *s == '.' || (*s >= '0' && *s <= '9'))) return Percent::Malformed;
    auto [p, ec] = std::from_chars(s, end, *value, std::chars_format::fixed);
    if (ec != std::errc()) return Percent::Malformed;
    if (p == end) return Percent::Number;
    if (*p == '%' && p + 1 == end) return Percent::Percentage;
    return Percent::Malformed;
}

// A number or percentage text at idx; failures name argument position pos.
double numberOrPercent(lua_State *L, int idx, int pos, double base, int allowAbove100,
                       int *isPercent) {
    if (isPercent) *isPercent = 0;
    switch (lua_type(L, idx)) {
    case LUA_TNUMBER: return lua_tonumber(L, idx);
    case LUA_TNIL: return 0;
    case LUA_TSTRING: break;
    default: argError(L, pos, ERR_STRORNUM);
    }
    double v = 0;
    switch (parsePercent(lua_tostring(L, idx), lua_strlen(L, idx), &v)) {
    case Percent::Number: return v;
    case Percent::Malformed: argError(L, pos, ERR_PERCENTFORMAT);
    case Percent::Percentage: break;
    }
    if (v < 0 || (v > 100 && !allowAbove100)) argError(L, pos, ERR_PERCENTFORMAT);
    if (base == 0) {
        if (isPercent) *isPercent = 1;
        return v / 100;
    }
    return base * v / 100;
}

lua_Number tableNumber(lua_State *L, const char *key) {
    return luaL_checkfieldnumber(L, -1, key);
}

qxObjectRef refAt(lua_State *L, int idx) {
    qxObjectRef ref{0, nullptr};
    if (lua_type(L, idx) == LUA_TLIGHTUSERDATA) ref.automatic = lua_touserdata(L, idx);
    else ref.number = static_cast<uint32_t>(luaL_numbertoint(lua_tonumber(L, idx)));
    return ref;
}

} // namespace

extern "C" {

int qxRequireVersion(uint32_t major, uint32_t minor) {
    const qxAppletInfo *a = qxApplet;
    // Every loaded applet is versioned (0.0 included); without applet info
    // nothing is refused.
    if (!a) return 1;
    if (a->versionMajor > major || (a->versionMajor == major && a->versionMinor >= minor)) return 1;
    // The version the refusal (1566) names.
    char version[32];
    std::snprintf(version, sizeof version, "%u.%u", major, minor);
    qxSetErrorString(version);
    return 0;
}

lua_State *qxCheckArgCount(lua_State *L, int min, int max, uint32_t major, uint32_t minor) {
    int n = lua_gettop(L);
    if (min == 0 && max == 0 && n > 0) luaG_raisecode(L, ERR_TOOMANYARGS);
    if (n < min) luaG_raisecode(L, ERR_MISSINGPARAMTR);
    if (max > 0 && n > max) luaG_raisecode(L, ERR_TOOMANYARGS);
    if (major > 0 && !qxRequireVersion(major, minor)) luaG_raisecode(L, ERR_OLDAPPLET);
    return L;
}

const char *qxCheckUTF8String(lua_State *L, int narg, size_t *length, int encoding,
                              size_t *byteLength) {
    size_t bytes = 0;
    const char *s = luaL_checklstring(L, narg, &bytes);
    size_t count = bytes;
    if (encoding == 1 && !qxUtf8Scan(s, bytes, &count)) argError(L, narg, ERR_INVALIDUTF8ARG);
    if (length) *length = count;
    if (byteLength) *byteLength = bytes;
    return s;
}

double qxGetNumberOrPercentArg(lua_State *L, int narg, double base, int allowAbove100,
                               int *isPercent) {
    return numberOrPercent(L, narg, narg, base, allowAbove100, isPercent);
}

int qxParseConstantName(lua_State *L, const char *text, int *consumed, const char **str,
                        double *num) {
    if (!text || text[0] != '#') return ERR_WRONGUSAGE;
    const char *p = text + 1;
    auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!letter(*p) && *p != '_') return ERR_SYNTAXERROR;
    char name[65];
    size_t n = 0;
    while (n < 64 && (letter(p[n]) || (p[n] >= '0' && p[n] <= '9') || p[n] == '_' || p[n] == '$' ||
                      p[n] == '!')) {
        name[n] = p[n];
        n++;
    }
    name[n] = '\0';
    const char *s = nullptr;
    lua_Number v = 0;
    if (!luaL_getconstant(L, name, &s, &v)) return ERR_FINDCST;
    if (str) *str = s;
    if (num) *num = v;
    if (consumed) *consumed = static_cast<int>(n) + 2;
    return 0;
}

qxObjectRef qxGetObjectIDArg(lua_State *L, int narg) {
    qxObjectRef ref{0, nullptr};
    if (lua_type(L, narg) == LUA_TLIGHTUSERDATA) ref.automatic = lua_touserdata(L, narg);
    else ref.number = static_cast<uint32_t>(luaL_checkint(L, narg));
    return ref;
}

uint32_t qxGetNewIDArg(lua_State *L, int narg, int *automatic) {
    if (lua_type(L, narg) == LUA_TNIL) {
        *automatic = 1;
        return 0;
    }
    *automatic = 0;
    return static_cast<uint32_t>(luaL_checkint(L, narg));
}

int qxPushObjectID(lua_State *L, qxObjectRef ref) {
    if (ref.automatic) lua_pushlightuserdata(L, ref.automatic);
    else lua_pushnumber(L, ref.number);
    return 1;
}

// Option-table fields

int qxFieldPresent(lua_State *L, int t, const char *key) {
    if (!pushField(L, absIndex(L, t), key)) return 0;
    lua_pop(L, 1);
    return 1;
}

int qxGetFieldInt(lua_State *L, int t, const char *key, int *out, int *found) {
    t = absIndex(L, t);
    if (!pushField(L, t, key)) return 0;
    *out = luaL_numbertoint(tableNumber(L, key));
    lua_pop(L, 1);
    return present(found);
}

int qxGetFieldNum(lua_State *L, int t, const char *key, double *out, int *found) {
    t = absIndex(L, t);
    if (!pushField(L, t, key)) return 0;
    *out = tableNumber(L, key);
    lua_pop(L, 1);
    return present(found);
}

int qxGetFieldColor(lua_State *L, int t, const char *key, int *out, int *found) {
    t = absIndex(L, t);
    if (!pushField(L, t, key)) return 0;
    *out = luaL_numbertoint(tableNumber(L, key));
    lua_pop(L, 1);
    return present(found);
}

int qxGetFieldSize(lua_State *L, int t, const char *key, int allowAbove100, int *out,
                   int *found) {
    t = absIndex(L, t);
    if (!pushField(L, t, key)) return 0;
    if (lua_type(L, -1) == LUA_TSTRING) {
        double v = 0;
        Percent kind = parsePercent(lua_tostring(L, -1), lua_strlen(L, -1), &v);
        if (kind == Percent::Malformed) fieldError(L, key, ERR_PERCENTFORMATSTR);
        if (kind == Percent::Percentage) {
            if (v < 0 || (v > 100 && !allowAbove100)) fieldError(L, key, ERR_PERCENTFORMATSTR);
            *out = -luaL_numbertoint(v);
        } else {
            *out = luaL_numbertoint(v);
        }
    } else {
        *out = luaL_numbertoint(tableNumber(L, key));
    }
    lua_pop(L, 1);
    return present(found);
}

int qxGetFieldStr(lua_State *L, int t, const char *key, char *buffer, size_t size, int *found) {
    t = absIndex(L, t);
    if (!pushField(L, t, key)) return 0;
    if (!lua_isstring(L, -1)) fieldError(L, key, ERR_STRTABLEARG);
    size_t len = 0;
    const char *s = luaL_checkfieldlstring(L, -1, key, &len);
    if (buffer && size > 0) {
        size_t n = len < size - 1 ? len : size - 1;
        std::memcpy(buffer, s, n);
        buffer[n] = '\0';
    }
    lua_pop(L, 1);
    return present(found);
}

int qxGetFieldFileName(lua_State *L, int t, const char *key, int resolve, char **out,
                       size_t *length, int *found) {
    t = absIndex(L, t);
    if (!pushField(L, t, key)) return 0;
    if (!lua_isstring(L, -1)) fieldError(L, key, ERR_STRTABLEARG);
    const char *s = lua_tostring(L, -1);
    if (resolve) s = qxResolveFileName(L, s, 0, nullptr);
    size_t len = std::strlen(s);
    size_t bytes;
    char *copy = qxAddSize(len, 1, &bytes) ? static_cast<char *>(qxAlloc(bytes, 0)) : nullptr;
    if (!copy) luaG_raisecode(L, ERR_MEM);
    std::memcpy(copy, s, bytes);
    lua_pop(L, 1);
    *out = copy;
    if (length) *length = len;
    return present(found);
}

int qxGetFieldID(lua_State *L, int t, const char *key, qxObjectRef *out, int *found) {
    t = absIndex(L, t);
    if (!pushField(L, t, key)) return 0;
    if (lua_type(L, -1) != LUA_TLIGHTUSERDATA) tableNumber(L, key);
    *out = refAt(L, -1);
    lua_pop(L, 1);
    return present(found);
}

int qxGetFieldNumOrPercent(lua_State *L, int t, const char *key, double base, int allowAbove100,
                           double *out, int *isPercent, int *found) {
    t = absIndex(L, t);
    if (!pushField(L, t, key)) return 0;
    *out = numberOrPercent(L, -1, t, base, allowAbove100, isPercent);
    lua_pop(L, 1);
    return present(found);
}

int qxGetFieldNumChecked(lua_State *L, int t, const char *key, double out[4], int *found) {
    t = absIndex(L, t);
    if (!pushField(L, t, key)) return 0;
    if (!lua_istable(L, -1)) fieldError(L, key, ERR_NUMTABLEARG);
    for (int i = 0; i < 4; i++) {
        lua_rawgeti(L, -1, i);
        if (lua_isnil(L, -1)) luaG_raisecode(L, ERR_MISSINGPARAMTR);
        out[i] = tableNumber(L, key);
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
    return present(found);
}

// Field writers

void qxSetFieldNum(lua_State *L, const char *key, double value) {
    lua_pushstring(L, key);
    lua_pushnumber(L, value);
    lua_settable(L, -3);
}

void qxSetFieldInt(lua_State *L, const char *key, int value) { qxSetFieldNum(L, key, value); }
void qxSetFieldUInt(lua_State *L, const char *key, uint32_t value) { qxSetFieldNum(L, key, value); }

void qxSetFieldStr(lua_State *L, const char *key, const char *value) {
    lua_pushstring(L, key);
    lua_pushstring(L, value);
    lua_settable(L, -3);
}

void qxSetFieldID(lua_State *L, const char *key, qxObjectRef value) {
    lua_pushstring(L, key);
    qxPushObjectID(L, value);
    lua_settable(L, -3);
}

} // extern "C"
