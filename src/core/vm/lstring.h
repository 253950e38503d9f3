// Interned strings and full userdata allocation.
#pragma once
#include <cstring>

#include "core/vm/lstate.h"

inline uint32_t luaS_hash(const char *str, size_t l) { return lua_strhash(str, l); }
TString *luaS_newlstr(lua_State *L, const char *str, size_t l);
// Interns str whose hash h is already known.
TString *luaS_newlstrhash(lua_State *L, const char *str, size_t l, uint32_t h);
// Interns name in lower case (ASCII), cut at max characters (at most 255).
TString *luaS_newlower(lua_State *L, const char *name, size_t max);
inline TString *luaS_new(lua_State *L, const char *s) { return luaS_newlstr(L, s, std::strlen(s)); }
void luaS_resize(lua_State *L, int newsize);
void luaS_freeall(lua_State *L);
Udata *luaS_newudata(lua_State *L, size_t s);
inline size_t sizestring(size_t l) { return sizeof(TString) + l + 1; }
inline size_t sizeudata(size_t l) { return sizeof(Udata) + l; }
