// Mark-and-sweep collector.
#pragma once
#include "core/vm/lstate.h"

// Mark bits of the object header.
#define MARK_BIT 1
#define FINALIZE_BIT 2
#define KEYWEAK_BIT 4
#define VALUEWEAK_BIT 8
#define FIXED_BIT 16
#define PERM_BIT 32 // a fixed object carved from the permanent blocks

void luaC_link(lua_State *L, GCObject *o, lu_byte tt);
void luaC_collectgarbage(lua_State *L);
void luaC_callallgcTM(lua_State *L);
void luaC_sweepall(lua_State *L);
size_t luaC_separateudata(lua_State *L, int all);
inline void luaC_checkGC(lua_State *L) {
    if (G(L)->nblocks >= G(L)->GCthreshold) luaC_collectgarbage(L);
}
