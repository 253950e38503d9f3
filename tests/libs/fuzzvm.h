// A VM with the string library for the fuzz targets, kept for the whole run.
#pragma once
#include <cctype>
#include <string>

#include "core/commands/qx_cmdcall.h"
#include "core/vm/lua.h"
#include "core/vm/qx_vmregs.h"
#include "libs/qx_corelibs.h"

namespace fuzzvm {

inline lua_State *state() {
    static lua_State *L = [] {
        lua_State *S = lua_open();
        qxOpenStringLib(S);
        return S;
    }();
    lua_settop(L, 0);
    return L;
}

inline void pushCommand(lua_State *L, const char *lowerName) {
    lua_pushstring(L, lowerName);
    lua_gettable(L, LUA_GLOBALSINDEX);
}

// A protected call of the n arguments above the function; failures are
// fine, only crashes and sanitizer reports count.
inline int call(lua_State *L, int nargs, int nresults = LUA_MULTRET) {
    int status = lua_pcall(L, nargs, nresults, 0);
    qxVmAbort = 0;
    qxVmGosubCount = 0;
    qxLastError = 0;
    return status;
}

} // namespace fuzzvm
