// Cost of calling a command against calling a script function, and of the
// per-line hook on script loops of several shapes. Exits with 1 when a
// target is missed: a command call within 2x of a script function call, the
// player's event-poll hook (installed as the player does it) under 10% on
// every loop shape.
//
// An empty hook called at every new line is printed for comparison: a loop
// whose every instruction starts a line calls it on every instruction.
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <span>
#include <string>

#include "core/commands/qx_cmdcall.h"
#include "core/vm/lauxlib.h"
#include "core/vm/qx_vmregs.h"
#include "display/qx_startdisplay.h"
#include "vm/chunk_writer.h"

using namespace chunktest;

namespace {

constexpr double kIterations = 10000000;
constexpr int kRepeats = 9; // rounds; best of, in processor time: the machine is shared

int nop(lua_State *) { return 0; }

void emptyHook(lua_State *, lua_Debug *, int *, CallInfo *) {}

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

// for i = 1, N: x = x + i; with the body and the loop on separate lines
// every instruction starts a line, on one line every iteration jumps back.
Func addLoop(bool oneLine) {
    Func f;
    f.k = {num(1), num(kIterations), num(0)};
    f.code = {CREATE_ABx(OP_LOADK, 0, 0), CREATE_ABx(OP_LOADK, 1, 1), CREATE_ABx(OP_LOADK, 2, 0),
              CREATE_ABx(OP_LOADK, 3, 2), CREATE_ABC(OP_SUB, 0, 0, 2), CREATE_J(1, 0),
              CREATE_ABC(OP_ADD, 3, 3, 0), CREATE_AsBx(OP_FORLOOP, 0, -2), CREATE_ABC(OP_RETURN, 3, 2, 0)};
    f.lines = {1, 1, 1, 1, 1, 1, 2, oneLine ? 2 : 3, 4};
    return f;
}

// for i = 1, N
//   x = (x + i * 3) % 1000003
//   y = y + x / 7 - i
//   z = (x + y) * 2 - z / 3
// next
Func statementLoop() {
    Func f;
    f.k = {num(1), num(kIterations), num(0), num(3), num(1000003), num(7), num(2)};
    f.code = {CREATE_ABx(OP_LOADK, 0, 0),          CREATE_ABx(OP_LOADK, 1, 1),
              CREATE_ABx(OP_LOADK, 2, 0),          CREATE_ABx(OP_LOADK, 3, 2),
              CREATE_ABx(OP_LOADK, 4, 2),          CREATE_ABx(OP_LOADK, 5, 2),
              CREATE_ABC(OP_SUB, 0, 0, 2),         CREATE_J(10, 0),
              // line 2
              CREATE_ABC(OP_MUL, 6, 0, K(3)),      CREATE_ABC(OP_ADD, 6, 3, 6),
              CREATE_ABC(OP_MOD, 3, 6, K(4)),
              // line 3
              CREATE_ABC(OP_DIV, 6, 3, K(5)),      CREATE_ABC(OP_ADD, 6, 4, 6),
              CREATE_ABC(OP_SUB, 4, 6, 0),
              // line 4
              CREATE_ABC(OP_ADD, 6, 3, 4),         CREATE_ABC(OP_MUL, 6, 6, K(6)),
              CREATE_ABC(OP_DIV, 7, 5, K(3)),      CREATE_ABC(OP_SUB, 5, 6, 7),
              // line 5
              CREATE_AsBx(OP_FORLOOP, 0, -11),     CREATE_ABC(OP_RETURN, 5, 2, 0)};
    f.lines = {1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 4, 5, 6};
    return f;
}

// Processor time of one run of f, -1 when it fails.
double once(lua_State *L, const std::string &bytes) {
    if (load(L, bytes) != 0) return -1;
    std::clock_t start = std::clock();
    int st = lua_pcall(L, 0, 0, 0);
    double s = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    return st == 0 ? s : -1;
}

// Best of kRepeats rounds; each round runs every variant once, so that all
// variants see the same load on a shared machine.
struct Variant {
    std::string bytes;
    void (*setup)(lua_State *);
    double best = -1;
};

bool measure(lua_State *L, std::span<Variant> variants) {
    for (int r = 0; r < kRepeats; r++) {
        for (Variant &v : variants) {
            v.setup(L);
            double s = once(L, v.bytes);
            if (s < 0) return false;
            v.best = v.best < 0 ? s : std::min(v.best, s);
        }
    }
    return true;
}

void noHook(lua_State *L) {
    lua_sethook(L, nullptr, 0, 0);
    qxVmLineHookStride = 1;
}
void everyLineHook(lua_State *L) {
    lua_sethook(L, emptyHook, LUA_MASKLINE, 0);
    qxVmLineHookStride = 1;
}
void playerHook(lua_State *L) { // as the player installs it
    lua_sethook(L, qxPollEventsIfAllowed, LUA_MASKLINE, 0);
    qxVmLineHookStride = QX_POLL_HOOK_STRIDE;
}

struct HookCase {
    const char *name;
    Func f;
    double plain = 0, empty = 0, poll = 0;
};

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

    Variant calls[] = {{chunk(callLoop("nop")), noHook}, {chunk(callLoop("fnop")), noHook}};
    bool failed = !measure(L, calls);
    double command = calls[0].best, function = calls[1].best;

    HookCase cases[] = {
        {"statements of 3-4 instructions per line", statementLoop()},
        {"command call per iteration", callLoop("nop")},
        {"x = x + i, loop on one line", addLoop(true)},
        {"x = x + i, one instruction per line (worst)", addLoop(false)},
    };
    for (HookCase &c : cases) {
        std::string bytes = chunk(c.f);
        Variant v[] = {{bytes, noHook}, {bytes, everyLineHook}, {bytes, playerHook}};
        if (!measure(L, v)) failed = true;
        c.plain = v[0].best;
        c.empty = v[1].best;
        c.poll = v[2].best;
    }
    lua_close(L);
    if (failed) {
        std::puts("a benchmark chunk failed");
        return 2;
    }

    double ratio = command / function;
    std::printf("10M command calls:         %.3f s\n", command);
    std::printf("10M script function calls: %.3f s (command/function %.2f, target <= 2)\n", function, ratio);
    std::puts("line hook overhead, 10M iterations (no hook / empty hook at every line / player's poll hook):");
    for (const HookCase &c : cases) {
        std::printf("  %-44s %.3f s / %.3f s (%+.1f%%) / %.3f s (%+.1f%%)\n", c.name, c.plain, c.empty,
                    (c.empty - c.plain) / c.plain * 100, c.poll, (c.poll - c.plain) / c.plain * 100);
    }
    double overhead = 0;
    for (const HookCase &c : cases) overhead = std::max(overhead, (c.poll - c.plain) / c.plain);
    std::printf("target: poll hook overhead < 10%% on every loop (worst %.1f%%)\n", overhead * 100);
    return ratio <= 2 && overhead < 0.10 ? 0 : 1;
}
