// Cost of calling a command against calling a script function, and of the
// per-line hook on a tight loop. Exits with 1 when a target is missed:
// a command call within 2x of a script function call, the hook under 10%.
#include <chrono>
#include <cstdio>
#include <string>

#include "core/qx_cmdcall.h"
#include "core/vm/lauxlib.h"
#include "display/qx_startdisplay.h"
#include "vm/chunk_writer.h"

using namespace chunktest;

namespace {

constexpr double kIterations = 10000000;

int nop(lua_State *) { return 0; }

// for i = 1, N: name() (the loop body on one line, the loop on the next)
Func callLoop(const char *name) {
    Func f;
    f.k = {num(1), num(kIterations), str(name)};
    f.code = {CREATE_ABx(OP_LOADK, 0, 0), CREATE_ABx(OP_LOADK, 1, 1), CREATE_ABx(OP_LOADK, 2, 0),
              CREATE_ABC(OP_SUB, 0, 0, 2), CREATE_J(2, 0), CREATE_ABx(OP_GETGLOBAL, 3, 2),
              CREATE_ABC(OP_CALL, 3, 1, 1), CREATE_AsBx(OP_FORLOOP, 0, -3), CREATE_ABC(OP_RETURN, 0, 1, 0)};
    f.lines = {1, 1, 1, 1, 1, 2, 2, 3, 4};
    return f;
}

// for i = 1, N: x = x + i
Func addLoop() {
    Func f;
    f.k = {num(1), num(kIterations), num(0)};
    f.code = {CREATE_ABx(OP_LOADK, 0, 0), CREATE_ABx(OP_LOADK, 1, 1), CREATE_ABx(OP_LOADK, 2, 0),
              CREATE_ABx(OP_LOADK, 3, 2), CREATE_ABC(OP_SUB, 0, 0, 2), CREATE_J(1, 0),
              CREATE_ABC(OP_ADD, 3, 3, 0), CREATE_AsBx(OP_FORLOOP, 0, -2), CREATE_ABC(OP_RETURN, 3, 2, 0)};
    f.lines = {1, 1, 1, 1, 1, 1, 2, 3, 4};
    return f;
}

double seconds(lua_State *L, const Func &f) {
    if (load(L, chunk(f)) != 0) return -1;
    auto start = std::chrono::steady_clock::now();
    int st = lua_pcall(L, 0, 0, 0);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return st == 0 ? s : -1;
}

} // namespace

int main() {
    lua_State *L = lua_open();
    lua_pushstring(L, "nop");
    lua_pushcfunction(L, nop);
    lua_settable(L, LUA_GLOBALSINDEX);
    Func script;
    script.code = {CREATE_ABC(OP_RETURN, 0, 1, 0)};
    if (load(L, chunk(script)) != 0) return 2;
    lua_pushstring(L, "fnop");
    lua_insert(L, -2);
    lua_settable(L, LUA_GLOBALSINDEX);

    double command = seconds(L, callLoop("nop"));
    double function = seconds(L, callLoop("fnop"));
    double plain = seconds(L, addLoop());
    lua_sethook(L, qxPollEventsIfAllowed, LUA_MASKLINE, 0);
    double hooked = seconds(L, addLoop());
    lua_close(L);
    if (command < 0 || function < 0 || plain < 0 || hooked < 0) {
        std::puts("a benchmark chunk failed");
        return 2;
    }
    double ratio = command / function;
    double overhead = (hooked - plain) / plain;
    std::printf("10M command calls:         %.3f s\n", command);
    std::printf("10M script function calls: %.3f s (command/function %.2f, target <= 2)\n", function, ratio);
    std::printf("tight loop: %.3f s, with the line hook %.3f s (overhead %.1f%%, target < 10%%)\n", plain,
                hooked, overhead * 100);
    return ratio <= 2 && overhead < 0.10 ? 0 : 1;
}
