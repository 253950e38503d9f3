// The interpreter and the value operations it shares with the interface.
#pragma once
#include "core/vm/lstate.h"

const TValue *luaV_tonumber(const TValue *obj, TValue *n);
int luaV_tostring(lua_State *L, StkId obj);
int luaV_equalval(lua_State *L, const TValue *t1, const TValue *t2);
int luaV_lessthan(lua_State *L, const TValue *l, const TValue *r, int collate);
int luaV_lessequal(lua_State *L, const TValue *l, const TValue *r);
int luaV_strcmp(const TString *ls, const TString *rs, int collate);
// t[key] into val through __index; check: a plain miss raises 1159.
void luaV_gettable(lua_State *L, const TValue *t, TValue *key, StkId val, int check);
void luaV_settable(lua_State *L, const TValue *t, TValue *key, StkId val);
void luaV_concat(lua_State *L, int total, int last);
StkId luaV_execute(lua_State *L);
int luaV_callTMres(lua_State *L, TValue *res, const TValue *f, const TValue *p1, const TValue *p2);
