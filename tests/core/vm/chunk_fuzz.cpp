// Fuzz target for the chunk loader: any input must load or fail with a code;
// loaded chunks dump and reload identically and run under an instruction budget.
#include <cstddef>
#include <cstdint>
#include <cstring>
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

// A little-endian chunk around fuzzed instructions, so that the code checker
// and the interpreter see mostly well-formed functions.
struct Bytes {
    std::string out;
    void u8(int v) { out += static_cast<char>(v); }
    void u32(uint32_t v) { for (int i = 0; i < 4; i++) u8(static_cast<int>((v >> (8 * i)) & 0xFF)); }
    void u64(uint64_t v) { for (int i = 0; i < 8; i++) u8(static_cast<int>((v >> (8 * i)) & 0xFF)); }
    void num(double d) { uint64_t v; std::memcpy(&v, &d, 8); u64(v); }
    void str(const char *s) { size_t n = std::strlen(s); u64(n + 1); out.append(s, n + 1); }
};

std::string wrapCode(const uint8_t *data, size_t size) {
    Bytes b;
    b.out = std::string("\x1bQXB\x01\x04\x08\x04\x06\x08\x09\x09\x08", 13);
    b.num(31415926.535897933);
    size_t ncode = size / 4;
    if (ncode > 64) ncode = 64;
    b.str("=fuzz");
    b.u32(0);
    b.u8(0); b.u8(1); b.u8(1); b.u8(40); // no upvalues, one parameter, vararg, 40 registers
    b.u32(static_cast<uint32_t>(ncode + 1));
    for (size_t i = 0; i <= ncode; i++) b.u32(static_cast<uint32_t>(i + 1));
    b.u32(0); // locals
    b.u32(0); // upvalue names
    b.u32(6);
    b.u8(3); b.num(1);
    b.u8(3); b.num(0);
    b.u8(4); b.str("x");
    b.u8(4); b.str("cmd");
    b.u8(0);
    b.u8(3); b.num(-7.5);
    b.u32(1); // one nested function with one upvalue
    b.u64(0);
    b.u32(1);
    b.u8(1); b.u8(0); b.u8(0); b.u8(2);
    b.u32(2); b.u32(1); b.u32(1);
    b.u32(0); b.u32(0); b.u32(0); b.u32(0);
    b.u32(2);
    b.u32(4u | (0u << 6) | (0u << 15) | (0u << 24)); // GETUPVAL 0 0
    b.u32(34u | (0u << 6) | (2u << 15) | (0u << 24)); // RETURN 0 2
    b.u32(static_cast<uint32_t>(ncode + 1));
    for (size_t i = 0; i < ncode; i++) {
        uint32_t w;
        std::memcpy(&w, data + 4 * i, 4);
        b.u32(w);
    }
    b.u32(34u | (1u << 15)); // RETURN 0 1
    return b.out;
}

int fuzzCommand(lua_State *L) {
    int n = lua_gettop(L);
    int sel = n > 0 ? static_cast<int>(lua_tonumber(L, 1)) : 0;
    switch (sel & 3) {
    case 0: lua_pushnumber(L, n); return 1;
    case 1: qxVmLabelOffset = (sel >> 2) % 9 - 4; return -1 - ((sel >> 6) & 1);
    case 2: return 1000 + (sel & 0xFF);
    default: return 0;
    }
}

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

    // the same bytes as instructions of a well-formed function
    L = lua_open();
    if (L == nullptr) return 0;
    std::string wrapped = wrapCode(data, size);
    Whole whole{&wrapped, false};
    if (lua_load(L, readWhole, &whole, "=wrapped") == 0) {
        lua_pushstring(L, "cmd");
        lua_pushcfunction(L, fuzzCommand);
        lua_settable(L, LUA_GLOBALSINDEX);
        lua_pushstring(L, "x");
        lua_newtable(L);
        lua_settable(L, LUA_GLOBALSINDEX);
        lua_setgcthreshold(L, 64);
        lua_sethook(L, budget, LUA_MASKCOUNT, 5000);
        lua_pushnumber(L, 3);
        lua_pushstring(L, "arg");
        lua_pcall(L, 2, LUA_MULTRET, 0);
        qxVmAbort = 0;
        qxVmGosubCount = 0;
    }
    lua_close(L);
    return 0;
}
