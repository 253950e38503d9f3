// Pattern search and replace over a 10 MB string, and sorting a million
// numbers with and without a script order function, each timed against
// lua5.1 doing the same. Prints the ratios; exits with 1 when one of ours
// takes longer than the peer (2 when the peer is missing). Each case is
// the best of three runs on both sides.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/vm/lauxlib.h"
#include "core/vm/qx_vmregs.h"
#include "libs/qx_corelibs.h"
#include "libs/qx_tablecmds.h"
#include "vm/chunk_writer.h"

using namespace chunktest;

namespace {

constexpr int kRepeat = 655360; // 16 bytes each: 10 MB
constexpr int kNumbers = 1000000;

const qxCommandDef tableCommands[] = {QX_TABLE_COMMAND_ROWS, {nullptr, nullptr}};
const qxConstantDef noConstants[] = {{nullptr, nullptr, 0}};

// Each case runs kRuns times on both sides; the best time counts, so that
// other load on the machine disturbs the ratio less.
constexpr int kRuns = 3;

const char *kLua = R"LUA(
local s = string.rep("abc def ghi 123 ", 655360) .. "needle42"
local function fill()
  local t, x = {}, 12345
  for i = 1, 1000000 do x = (x * 1103515245 + 12345) % 2147483648; t[i] = x end
  return t
end
local best, a, n = { math.huge, math.huge, math.huge, math.huge }
local function keep(i, t0) best[i] = math.min(best[i], os.clock() - t0) end
for run = 1, 3 do
  local t0 = os.clock()
  a = string.find(s, "needle%d+")
  keep(1, t0)
  t0 = os.clock()
  local r
  r, n = string.gsub(s, "%a+", "<%0>")
  keep(2, t0)
  local t = fill()
  t0 = os.clock()
  table.sort(t)
  keep(3, t0)
  t = fill()
  t0 = os.clock()
  table.sort(t, function(a, b) return a < b end)
  keep(4, t0)
end
print(best[1], best[2], best[3], best[4], a, n)
)LUA";

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void pushCommand(lua_State *L, const char *name) {
    lua_pushstring(L, name);
    lua_gettable(L, LUA_GLOBALSINDEX);
}

void fill(lua_State *L) {
    lua_newtable(L);
    double x = 12345;
    for (int i = 0; i < kNumbers; i++) {
        x = std::fmod(x * 1103515245 + 12345, 2147483648.0);
        lua_pushnumber(L, x);
        lua_rawseti(L, -2, i);
    }
}

// function(a, b) return a < b end, as a script function.
void pushLess(lua_State *L) {
    Func less;
    less.numparams = 2;
    less.maxstack = 3; // what a compiler gives this function
    less.k = {num(0), num(1)};
    less.code = {CREATE_ABC(OP_LT, 1, 0, 1), CREATE_J(2, 0), CREATE_ABx(OP_LOADK, 2, 0),
                 CREATE_ABC(OP_RETURN, 2, 2, 0), CREATE_ABx(OP_LOADK, 2, 1), CREATE_ABC(OP_RETURN, 2, 2, 0)};
    less.lines = {1, 1, 1, 1, 1, 1};
    Func main;
    main.p = {less};
    main.code = {CREATE_ABx(OP_CLOSURE, 0, 0), CREATE_ABC(OP_RETURN, 0, 2, 0)};
    main.lines = {1, 1};
    if (load(L, chunk(main)) != 0 || lua_pcall(L, 0, 1, 0) != 0) std::exit(3);
}

double timeCall(lua_State *L, int nargs, int nresults) {
    double t = now();
    int st = lua_pcall(L, nargs, nresults, 0);
    t = now() - t;
    if (st) {
        std::fprintf(stderr, "command failed with %d\n", st);
        std::exit(3);
    }
    return t;
}

} // namespace

int main() {
    std::ofstream("/tmp/qx_bench_strings.lua") << kLua;
    FILE *p = popen("lua5.1 /tmp/qx_bench_strings.lua 2>/dev/null", "r");
    double peer[4] = {0, 0, 0, 0};
    bool havePeer = p && std::fscanf(p, "%lf %lf %lf %lf", &peer[0], &peer[1], &peer[2], &peer[3]) == 4;
    if (p) pclose(p);

    lua_State *L = lua_open();
    qxOpenStringLib(L);
    qxOpenCommandLibrary(L, "benchtable", tableCommands, noConstants);
    std::string s;
    s.reserve(kRepeat * 16 + 8);
    for (int i = 0; i < kRepeat; i++) s += "abc def ghi 123 ";
    s += "needle42";
    double ours[4] = {1e9, 1e9, 1e9, 1e9};
    auto keep = [&](int i, double t) { ours[i] = std::min(ours[i], t); };
    for (int run = 0; run < kRuns; run++) {
        pushCommand(L, "patternfindstrdirect");
        lua_pushlstring(L, s.data(), s.size());
        lua_pushstring(L, "needle%d+");
        lua_pushnumber(L, 0);
        lua_pushnumber(L, 0);
        keep(0, timeCall(L, 4, 0));
        pushCommand(L, "patternreplacestr");
        lua_pushlstring(L, s.data(), s.size());
        lua_pushstring(L, "%a+");
        lua_pushstring(L, "<%0>");
        lua_pushnumber(L, static_cast<double>(s.size() + 1));
        lua_pushnumber(L, 0);
        keep(1, timeCall(L, 5, 0));
        pushCommand(L, "sort");
        fill(L);
        keep(2, timeCall(L, 1, 0));
        pushCommand(L, "sort");
        fill(L);
        pushLess(L);
        keep(3, timeCall(L, 2, 0));
    }
    lua_close(L);

    const char *names[] = {"pattern search, 10 MB", "pattern replace, 10 MB", "sort 1M numbers",
                           "sort 1M numbers, script order"};
    bool missed = false;
    for (int i = 0; i < 4; i++) {
        if (havePeer) {
            std::printf("%-32s ours %.3f s  lua5.1 %.3f s  ratio %.2f\n", names[i], ours[i], peer[i],
                        ours[i] / peer[i]);
            if (ours[i] > peer[i]) missed = true;
        } else {
            std::printf("%-32s ours %.3f s\n", names[i], ours[i]);
        }
    }
    if (!havePeer) return 2;
    return missed ? 1 : 0;
}
