// Metamethod lookup.
#pragma once
#include "core/vm/lstate.h"

extern const char *const luaT_eventname[TM_N];

void luaT_init(lua_State *L);
const TValue *luaT_gettm(Table *events, TMS event, TString *ename);
const TValue *luaT_gettmbyobj(lua_State *L, const TValue *o, TMS event);

// Metamethod of a metatable, using the absence cache for events 0 to 7.
inline const TValue *fasttm(lua_State *L, Table *et, TMS e) {
    if (et == nullptr) return nullptr;
    if (e <= TM_MUL && (et->flags & (1u << e))) return nullptr;
    return luaT_gettm(et, e, G(L)->tmname[e]);
}
