// Feeds arbitrary expressions to Eval, half of them with variables.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzzvm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    lua_State *L = fuzzvm::state();
    std::string expr(reinterpret_cast<const char *>(data + 1), size - 1);
    fuzzvm::pushCommand(L, "eval");
    lua_pushlstring(L, expr.data(), expr.size());
    int nargs = 1;
    if (data[0] & 1) {
        // {variables = {{name = "x", value = 2}, {name = <a slice of the input>}}}
        lua_newtable(L);
        lua_pushstring(L, "variables");
        lua_newtable(L);
        lua_newtable(L);
        lua_pushstring(L, "name");
        lua_pushstring(L, "x");
        lua_settable(L, -3);
        lua_pushstring(L, "value");
        lua_pushnumber(L, 2);
        lua_settable(L, -3);
        lua_rawseti(L, -2, 0);
        lua_newtable(L);
        lua_pushstring(L, "name");
        lua_pushlstring(L, expr.data(), expr.size() < (data[0] >> 1) ? expr.size() : (data[0] >> 1));
        lua_settable(L, -3);
        lua_rawseti(L, -2, 1);
        lua_settable(L, -3);
        nargs = 2;
    }
    fuzzvm::call(L, nargs);
    return 0;
}
