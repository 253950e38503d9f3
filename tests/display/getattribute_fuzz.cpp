// GetAttribute over random (type, id, attribute [, index]) triples, ids as
// numbers, strings or nil: codes or values, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "../libs/fuzzvm.h"
#include "display/qx_displaylibs.h"
#include "main/qx_attributelink.h"

namespace {

struct Input {
    const uint8_t *data;
    size_t size;
};

int callGetAttribute(lua_State *L)
{
    auto *in = static_cast<Input *>(lua_touserdata(L, 1));
    lua_settop(L, 0);
    const uint8_t *d = in->data;
    lua_pushnumber(L, d[0] < 200 ? d[0] % 72 : int8_t(d[0]) * 1000.0);
    switch (d[1] & 3) {
    case 0: lua_pushnumber(L, d[1] >> 2); break;
    case 1: lua_pushlstring(L, reinterpret_cast<const char *>(d + 4), in->size - 4); break;
    case 2: lua_pushnil(L); break;
    default: lua_pushnumber(L, -double(d[1])); break;
    }
    lua_pushnumber(L, d[2] < 240 ? d[2] % 104 : int8_t(d[2]));
    if (d[3] & 1) lua_pushnumber(L, int8_t(d[3]));
    return qxCmdGetAttribute(L);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4) return 0;
    static bool linked = (qxLinkObjectAttributes(), true);
    (void)linked;
    lua_State *L = fuzzvm::state();
    Input in{data, size};
    lua_cpcall(L, callGetAttribute, &in);
    lua_settop(L, 0);
    return 0;
}
