// Prototypes, closures and upvalues.
#pragma once
#include "core/vm/lstate.h"

Proto *luaF_newproto(lua_State *L);
Closure *luaF_newCclosure(lua_State *L, int nelems);
Closure *luaF_newLclosure(lua_State *L, int nelems, const TValue *e);
UpVal *luaF_findupval(lua_State *L, StkId level);
void luaF_close(lua_State *L, StkId level);
void luaF_freeproto(lua_State *L, Proto *f);
void luaF_freeclosure(lua_State *L, Closure *c);
const char *luaF_getlocalname(const Proto *func, int local_number, int pc);
