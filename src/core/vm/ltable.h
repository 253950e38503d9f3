// The hybrid array/hash table.
#pragma once
#include "core/vm/lstate.h"

#define MAXBITS 24

Table *luaH_new(lua_State *L, int narray, int lnhash);
void luaH_free(lua_State *L, Table *t);
const TValue *luaH_get(Table *t, const TValue *key);
const TValue *luaH_getnum(Table *t, int key);
// Inline: every global read and field access by name comes here.
inline const TValue *luaH_getstr(Table *t, TString *key) {
    for (Node *n = &t->node[key->hash & static_cast<uint32_t>(sizenode(t) - 1)]; n; n = gnext(n))
        if (ttisstring(&n->i_key) && tsvalue(&n->i_key) == key) return &n->i_val;
    return &luaO_nilobject;
}
// A global read or write by a name constant: the globals table holds every
// command's name, so a script's global may sit deep in its chain; the
// constant remembers its node and the next lookup probes that node first.
// Returns a slot holding a value, or null.
inline TValue *luaH_getglobal(Table *t, TValue *name) {
    uint32_t mask = static_cast<uint32_t>(sizenode(t) - 1);
    TString *key = tsvalue(name);
    Node *n = &t->node[name->hint & mask];
    if (ttisstring(&n->i_key) && tsvalue(&n->i_key) == key && !ttisnil(&n->i_val)) return &n->i_val;
    for (n = &t->node[key->hash & mask]; n; n = gnext(n))
        if (ttisstring(&n->i_key) && tsvalue(&n->i_key) == key) {
            if (ttisnil(&n->i_val)) return nullptr;
            name->hint = static_cast<uint32_t>(n - t->node);
            return &n->i_val;
        }
    return nullptr;
}
TValue *luaH_set(lua_State *L, Table *t, const TValue *key);
// The slot of a key known to be absent (luaH_get gave luaO_nilobject).
TValue *luaH_setnew(lua_State *L, Table *t, const TValue *key);
TValue *luaH_setnum(lua_State *L, Table *t, int key);
TValue *luaH_setstr(lua_State *L, Table *t, TString *key);
int luaH_next(lua_State *L, Table *t, StkId key);
// The node where a key's chain starts.
Node *luaH_mainposition(const Table *t, const TValue *key);

// The array-part slot of a number key, or null when the key has none:
// one conversion and its round trip instead of range tests on the double.
inline TValue *luaH_arrayslot(Table *t, const TValue *key) {
    if (!ttisnumber(key)) return nullptr;
    lua_Number n = nvalue(key);
    int64_t k = luaO_trunc64(n);
    uint64_t idx = static_cast<uint64_t>(k) - 1;
    if (idx >= static_cast<uint64_t>(t->sizearray) || static_cast<lua_Number>(k) != n) return nullptr;
    return &t->array[idx];
}
