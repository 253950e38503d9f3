// A million date round trips (TimestampToDate, ParseDate, DateToTimestamp)
// against lua5.1 doing os.date, string.match and os.time on the same times
// in the same zone; and GetTimer against a trivial command call with the same argument. Prints the
// times; exits with 1 when a target is missed (2 when the peer is missing).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "core/vm/lauxlib.h"
#include "libs/qx_corelibs.h"

namespace {

constexpr int kTrips = 1000000;
constexpr double kBase = 1780000000;
constexpr int kRuns = 3;

const char *kLua = R"LUA(
local best = math.huge
for run = 1, 3 do
  local t0 = os.clock()
  for i = 0, 999999 do
    local s = os.date("%d-%b-%Y %H:%M:%S", 1780000000 + i * 37)
    local d, mon, y, h, mi, se = string.match(s, "(%d+)-(%a+)-(%d+) (%d+):(%d+):(%d+)")
    os.time({day = d, month = 6, year = y, hour = h, min = mi, sec = se})
  end
  best = math.min(best, os.clock() - t0)
end
print(best)
)LUA";

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void pushCommand(lua_State *L, const char *name) {
    lua_pushstring(L, name);
    lua_gettable(L, LUA_GLOBALSINDEX);
}

void call(lua_State *L, int nargs, int nresults) {
    if (lua_pcall(L, nargs, nresults, 0)) {
        std::fprintf(stderr, "command failed\n");
        std::exit(3);
    }
}

double roundTrips(lua_State *L) {
    double t = now();
    for (int i = 0; i < kTrips; i++) {
        pushCommand(L, "timestamptodate");
        lua_pushnumber(L, kBase + i * 37.0);
        lua_pushnumber(L, 1);
        call(L, 2, 1);
        pushCommand(L, "parsedate");
        lua_pushvalue(L, -2);
        call(L, 1, 1);
        lua_pop(L, 1);
        pushCommand(L, "datetotimestamp");
        lua_insert(L, -2);
        call(L, 1, 1);
        lua_pop(L, 1);
    }
    return now() - t;
}

double calls(lua_State *L, const char *name, int nargs) {
    double t = now();
    for (int i = 0; i < kTrips; i++) {
        pushCommand(L, name);
        for (int a = 0; a < nargs; a++) lua_pushnumber(L, 0);
        call(L, nargs, 1);
        lua_pop(L, 1);
    }
    return now() - t;
}

} // namespace

int main() {
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    std::ofstream("/tmp/qx_bench_dates.lua") << kLua;
    FILE *p = popen("lua5.1 /tmp/qx_bench_dates.lua 2>/dev/null", "r");
    double peer = 0;
    bool havePeer = p && std::fscanf(p, "%lf", &peer) == 1;
    if (p) pclose(p);

    lua_State *L = lua_open();
    qxOpenSystemLib(L);
    pushCommand(L, "starttimer");
    lua_pushnumber(L, 0);
    call(L, 1, 0);
    double ours = 1e9, timer = 1e9, trivial = 1e9;
    for (int run = 0; run < kRuns; run++) {
        ours = std::min(ours, roundTrips(L));
        timer = std::min(timer, calls(L, "gettimer", 1));
        trivial = std::min(trivial, calls(L, "debugoutput", 1));
    }
    qxFreeSystemLib(L);
    lua_close(L);

    bool missed = timer > 1.5 * trivial;
    std::printf("%-32s ours %.3f s", "1M date round trips", ours);
    if (havePeer) std::printf("  lua5.1 %.3f s  ratio %.2f", peer, ours / peer);
    std::printf("\n%-32s %.3f s against %.3f s, ratio %.2f\n", "1M GetTimer calls", timer, trivial,
                timer / trivial);
    if (!havePeer) return 2;
    return missed || ours > peer ? 1 : 0;
}
