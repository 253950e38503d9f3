// Interned strings and full userdata allocation.
#pragma once
#include <cstring>

#include "core/vm/lstate.h"

TString *luaS_newlstr(lua_State *L, const char *str, size_t l);
inline TString *luaS_new(lua_State *L, const char *s) { return luaS_newlstr(L, s, std::strlen(s)); }
void luaS_resize(lua_State *L, int newsize);
void luaS_freeall(lua_State *L);
Udata *luaS_newudata(lua_State *L, size_t s);
inline size_t sizestring(size_t l) { return sizeof(TString) + l + 1; }
inline size_t sizeudata(size_t l) { return sizeof(Udata) + l; }
