// Metamethod names and lookup.
#include "core/vm/lgc.h"
#include "core/vm/lstring.h"
#include "core/vm/ltable.h"
#include "core/vm/ltm.h"

const char *const luaT_eventname[TM_N] = {
    "__index", "__newindex", "__gc", "__mode", "__eq", "__add", "__sub", "__mul",
    "__div", "__divint", "__mod", "__lsh", "__rsh", "__or", "__and", "__xor",
    "__pow", "__unm", "__not", "__lt", "__le", "__concat", "__call"};

void luaT_init(lua_State *L) {
    for (int i = 0; i < TM_N; i++) {
        TString *s = luaS_new(L, luaT_eventname[i]);
        s->reserved = 1;
        s->marked |= FIXED_BIT;
        G(L)->tmname[i] = s;
    }
}

const TValue *luaT_gettm(Table *events, TMS event, TString *ename) {
    const TValue *tm = luaH_getstr(events, ename);
    if (ttisnil(tm)) {
        if (event <= TM_MUL) events->flags |= static_cast<lu_byte>(1u << event);
        return nullptr;
    }
    return tm;
}

const TValue *luaT_gettmbyobj(lua_State *L, const TValue *o, TMS event) {
    Table *mt;
    switch (o->tt) {
    case LUA_TTABLE: mt = hvalue(o)->metatable; break;
    case LUA_TUSERDATA: mt = uvalue(o)->metatable; break;
    default: return nullptr;
    }
    return fasttm(L, mt, event);
}
