// The debug interface: frames, names, lines and locals as error reporting uses them.
#include <gtest/gtest.h>

#include <string>

#include "core/vm/ldo.h"
#include "chunk_writer.h"

using namespace chunktest;

namespace {

struct Seen {
    std::string selfName, selfWhat, selfNameWhat;
    std::string callerWhat, callerSrc, callerName, callerNameWhat;
    int callerLine = -2, callerDefined = -2, levels = 0;
};
Seen seen;

int probe(lua_State *L) {
    lua_Debug ar;
    if (lua_getstack(L, 0, &ar) && lua_getinfo(L, "Sn", &ar)) {
        seen.selfName = ar.name ? ar.name : "";
        seen.selfWhat = ar.what;
        seen.selfNameWhat = ar.namewhat;
    }
    if (lua_getstack(L, 1, &ar) && lua_getinfo(L, "Sln", &ar)) {
        seen.callerWhat = ar.what;
        seen.callerSrc = ar.short_src;
        seen.callerLine = ar.currentline;
        seen.callerDefined = ar.linedefined;
        seen.callerName = ar.name ? ar.name : "";
        seen.callerNameWhat = ar.namewhat;
    }
    seen.levels = 0;
    while (lua_getstack(L, seen.levels, &ar)) seen.levels++;
    return 0;
}

struct DebugTest : ::testing::Test {
    lua_State *L = nullptr;
    void SetUp() override {
        L = lua_open();
        ASSERT_NE(L, nullptr);
        lua_pushstring(L, "probe");
        lua_pushcfunction(L, probe);
        lua_settable(L, LUA_GLOBALSINDEX);
        seen = Seen();
    }
    void TearDown() override { lua_close(L); }
};

TEST_F(DebugTest, NamesLinesAndLocals) {
    // function worker(n) probe() end  -- called as a global from the main chunk
    Func worker;
    worker.linedefined = 10;
    worker.numparams = 1;
    worker.k = {str("probe")};
    worker.lines = {11, 12, 13};
    worker.locvars = {{"n", 0, 3}};
    worker.code = {CREATE_ABx(OP_GETGLOBAL, 1, 0), CREATE_ABC(OP_CALL, 1, 1, 1), CREATE_ABC(OP_RETURN, 0, 1, 0)};
    Func main;
    main.source = std::string("@dir/app.qxs");
    worker.source = main.source;
    main.k = {str("worker"), num(5)};
    main.p = {worker};
    main.code = {CREATE_ABx(OP_CLOSURE, 0, 0), CREATE_ABx(OP_SETGLOBAL, 0, 0), CREATE_ABx(OP_GETGLOBAL, 0, 0),
                 CREATE_ABx(OP_LOADK, 1, 1), CREATE_ABC(OP_CALL, 0, 2, 1), CREATE_ABC(OP_RETURN, 0, 1, 0)};
    ASSERT_EQ(load(L, chunk(main)), 0);
    ASSERT_EQ(lua_pcall(L, 0, 0, 0), 0);
    EXPECT_EQ(seen.selfWhat, "C");
    EXPECT_EQ(seen.selfName, "probe");
    EXPECT_EQ(seen.selfNameWhat, "global");
    EXPECT_EQ(seen.callerWhat, "Zephyrane");
    EXPECT_EQ(seen.callerSrc, "dir/app.qxs");
    EXPECT_EQ(seen.callerLine, 12);
    EXPECT_EQ(seen.callerDefined, 10);
    EXPECT_EQ(seen.callerName, "worker");
    EXPECT_EQ(seen.callerNameWhat, "global");
    EXPECT_EQ(seen.levels, 3); // probe, worker, main
}

TEST_F(DebugTest, NativeCallerFindsTheNameInTheGlobals) {
    lua_pushstring(L, "probe");
    lua_gettable(L, LUA_GLOBALSINDEX);
    ASSERT_EQ(lua_pcall(L, 0, 0, 0), 0);
    EXPECT_EQ(seen.selfName, "probe");
    EXPECT_EQ(seen.selfNameWhat, "global");
    EXPECT_EQ(seen.levels, 1);
}

TEST_F(DebugTest, InfoOfAFunctionOnTheStack) {
    Func f;
    f.source = std::string("=chunk");
    f.code = {CREATE_ABC(OP_RETURN, 0, 1, 0)};
    ASSERT_EQ(load(L, chunk(f)), 0);
    lua_Debug ar;
    ASSERT_TRUE(lua_getinfo(L, ">S", &ar));
    EXPECT_STREQ(ar.what, "main");
    EXPECT_STREQ(ar.short_src, "chunk");
    EXPECT_EQ(lua_gettop(L), 0);
    lua_pushnumber(L, 1);
    EXPECT_EQ(lua_cpcall(L, [](lua_State *L) -> int {
        lua_Debug d;
        lua_pushnumber(L, 1);
        lua_getinfo(L, ">S", &d);
        return 0;
    }, nullptr), 1185);
}

TEST_F(DebugTest, TailCallsLeavePlaceholders) {
    // main calls g, g tail-calls probe: level 1 is the tail-call placeholder
    Func g;
    g.linedefined = 5;
    g.k = {str("probe")};
    g.code = {CREATE_ABx(OP_GETGLOBAL, 0, 0), CREATE_ABC(OP_TAILCALL, 0, 1, 0), CREATE_ABC(OP_RETURN, 0, 0, 0)};
    Func h;
    h.linedefined = 7;
    h.k = {str("g")};
    h.code = {CREATE_ABx(OP_GETGLOBAL, 0, 0), CREATE_ABC(OP_TAILCALL, 0, 1, 0), CREATE_ABC(OP_RETURN, 0, 0, 0)};
    Func main;
    main.k = {str("g"), str("h")};
    main.p = {g, h};
    main.code = {CREATE_ABx(OP_CLOSURE, 0, 0), CREATE_ABx(OP_SETGLOBAL, 0, 0), CREATE_ABx(OP_CLOSURE, 0, 1),
                 CREATE_ABx(OP_SETGLOBAL, 0, 1), CREATE_ABx(OP_GETGLOBAL, 0, 1), CREATE_ABC(OP_CALL, 0, 1, 1),
                 CREATE_ABC(OP_RETURN, 0, 1, 0)};
    ASSERT_EQ(load(L, chunk(main)), 0);
    ASSERT_EQ(lua_pcall(L, 0, 0, 0), 0);
    // probe runs natively after g's tail call replaced g's frame, which replaced h's
    EXPECT_GE(seen.levels, 2);
}

} // namespace

namespace {

int events[5];
void countEvents(lua_State *, lua_Debug *ar, int *, CallInfo *) { events[ar->event]++; }

TEST_F(DebugTest, CallReturnAndTailReturnHooks) {
    // main calls g, g tail-calls h (a script function), h returns
    Func h;
    h.linedefined = 7;
    h.code = {CREATE_ABC(OP_RETURN, 0, 1, 0)};
    Func g;
    g.linedefined = 5;
    g.k = {str("h")};
    g.code = {CREATE_ABx(OP_GETGLOBAL, 0, 0), CREATE_ABC(OP_TAILCALL, 0, 1, 0), CREATE_ABC(OP_RETURN, 0, 0, 0)};
    Func main;
    main.k = {str("g"), str("h")};
    main.p = {g, h};
    main.code = {CREATE_ABx(OP_CLOSURE, 0, 0), CREATE_ABx(OP_SETGLOBAL, 0, 0), CREATE_ABx(OP_CLOSURE, 0, 1),
                 CREATE_ABx(OP_SETGLOBAL, 0, 1), CREATE_ABx(OP_GETGLOBAL, 0, 0), CREATE_ABC(OP_CALL, 0, 1, 1),
                 CREATE_ABC(OP_RETURN, 0, 1, 0)};
    ASSERT_EQ(load(L, chunk(main)), 0);
    for (int &e : events) e = 0;
    lua_sethook(L, countEvents, LUA_MASKCALL | LUA_MASKRET, 0);
    ASSERT_EQ(lua_pcall(L, 0, 0, 0), 0);
    lua_sethook(L, nullptr, 0, 0);
    EXPECT_EQ(events[LUA_HOOKCALL], 3);    // main, g, h
    EXPECT_EQ(events[LUA_HOOKRET], 2);     // h (in g's place), main
    EXPECT_EQ(events[LUA_HOOKTAILRET], 1); // the lost frame of g
}

} // namespace
