// Fuzz target for the chunk loader: any input must load or fail with a code;
// loaded chunks dump and reload identically and run under an instruction budget.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/vm/lua.h"
#include "core/vm/qx_vmregs.h"

namespace {

struct Input {
    const uint8_t *data;
    size_t size;
    size_t pos;
};

const char *readInput(lua_State *, void *ud, size_t *size) {
    Input *in = static_cast<Input *>(ud);
    // hand out uneven pieces so that reads cross block boundaries
    size_t n = in->size - in->pos;
    if (n > 13) n = 13;
    const char *p = reinterpret_cast<const char *>(in->data + in->pos);
    in->pos += n;
    *size = n;
    return n ? p : nullptr;
}

int appendString(lua_State *, const void *p, size_t n, void *ud) {
    static_cast<std::string *>(ud)->append(static_cast<const char *>(p), n);
    return 0;
}

struct Whole {
    const std::string *s;
    bool given;
};

const char *readWhole(lua_State *, void *ud, size_t *size) {
    Whole *w = static_cast<Whole *>(ud);
    if (w->given) { *size = 0; return nullptr; }
    w->given = true;
    *size = w->s->size();
    return w->s->data();
}

void budget(lua_State *, lua_Debug *, int *result, CallInfo *) { *result = 1003; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    lua_State *L = lua_open();
    if (L == nullptr) return 0;
    Input in{data, size, 0};
    if (lua_load(L, readInput, &in, "=fuzz") == 0) {
        std::string dumped;
        if (lua_dump(L, -1, appendString, &dumped) != 0) __builtin_trap();
        Whole whole{&dumped, false};
        if (lua_load(L, readWhole, &whole, "=again") != 0) __builtin_trap();
        std::string again;
        lua_dump(L, -1, appendString, &again);
        if (again != dumped) __builtin_trap();
        lua_settop(L, 1);
        lua_setgcthreshold(L, 1024); // keep table-building scripts small
        lua_sethook(L, budget, LUA_MASKCOUNT, 20000);
        lua_pcall(L, 0, 0, 0);
        qxVmAbort = 0;
        qxVmGosubCount = 0;
    }
    lua_close(L);
    return 0;
}
