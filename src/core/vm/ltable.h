// The hybrid array/hash table.
#pragma once
#include "core/vm/lstate.h"

#define MAXBITS 24

Table *luaH_new(lua_State *L, int narray, int lnhash);
void luaH_free(lua_State *L, Table *t);
const TValue *luaH_get(Table *t, const TValue *key);
const TValue *luaH_getnum(Table *t, int key);
const TValue *luaH_getstr(Table *t, TString *key);
TValue *luaH_set(lua_State *L, Table *t, const TValue *key);
TValue *luaH_setnum(lua_State *L, Table *t, int key);
TValue *luaH_setstr(lua_State *L, Table *t, TString *key);
int luaH_next(lua_State *L, Table *t, StkId key);
// The node where a key's chain starts.
Node *luaH_mainposition(const Table *t, const TValue *key);
