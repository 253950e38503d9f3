// The command calling convention: results, Gosub requests, error codes
// raised, ignored, returned as values or handed to the script's handler.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/errors/qx_errorreport.h"
#include "core/runtime/qx_lists.h"
#include "core/runtime/qx_options.h"
#include "qxasm.h"
#include "testlib.h"

using namespace chunktest;

namespace {

struct CmdCallTest : ::testing::Test {
    lua_State *L = nullptr;
    void SetUp() override {
        testlib::resetErrorState();
        L = lua_open();
        ASSERT_NE(L, nullptr);
        ASSERT_EQ(testlib::open(L), 0);
    }
    void TearDown() override {
        qxFreeRuntimeLists(L);
        lua_close(L);
        testlib::resetErrorState();
    }
    int run(const Func &f, int nresults = LUA_MULTRET) {
        int st = load(L, chunk(f));
        if (st != 0) return st;
        return lua_pcall(L, 0, nresults, 0);
    }
    void setglobal(const char *name, lua_CFunction fn) {
        lua_pushstring(L, name);
        lua_pushcfunction(L, fn);
        lua_settable(L, LUA_GLOBALSINDEX);
    }
    std::string message(int code) {
        char buf[1024];
        qxFormatErrorCode(code, buf, sizeof buf);
        return buf;
    }
};

TEST_F(CmdCallTest, LibraryRegistersLowerCaseNamesAndConstants) {
    lua_pushstring(L, "testresults");
    lua_gettable(L, LUA_GLOBALSINDEX);
    EXPECT_TRUE(lua_iscfunction(L, -1));
    lua_pushstring(L, "TestResults");
    lua_gettable(L, LUA_GLOBALSINDEX);
    EXPECT_TRUE(lua_isnil(L, -1));
    lua_settop(L, 0);

    const char *s = nullptr;
    lua_Number n = 0;
    ASSERT_EQ(luaL_getconstant(L, "TestLib_Answer", &s, &n), 1);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(n, 42);
    ASSERT_EQ(luaL_getconstant(L, "testlib_text", &s, &n), 1);
    EXPECT_STREQ(s, "hi");
    ASSERT_NE(qxLibraryNames, nullptr);
    EXPECT_STREQ(qxLibraryNames->name, "testlib");
}

TEST_F(CmdCallTest, ResultsOfPlainAndStatusCalls) {
    ASSERT_EQ(run(testlib::callChunk("testresults", {num(3)})), 0);
    ASSERT_EQ(lua_gettop(L), 3);
    EXPECT_EQ(lua_tonumber(L, 1), 10);
    EXPECT_EQ(lua_tonumber(L, 3), 30);
    lua_settop(L, 0);

    // A status call puts 0 in front of the results of a succeeding command.
    ASSERT_EQ(run(testlib::callChunk("testresults", {num(2)}, true)), 0);
    ASSERT_EQ(lua_gettop(L), 3);
    EXPECT_EQ(lua_tonumber(L, 1), 0);
    EXPECT_EQ(lua_tonumber(L, 2), 10);
    EXPECT_EQ(lua_tonumber(L, 3), 20);
    lua_settop(L, 0);

    // ...and gives a failing command's code as its only value, raising nothing.
    ASSERT_EQ(run(testlib::callChunk("testfail", {num(1138)}, true)), 0);
    ASSERT_EQ(lua_gettop(L), 1);
    EXPECT_EQ(lua_tonumber(L, 1), 1138);
    EXPECT_EQ(qxVmAbort, 0);
}

TEST_F(CmdCallTest, ErrorCodeStopsTheScriptAtItsLine) {
    EXPECT_EQ(run(testlib::callChunk("testfail", {num(1041)})), 1041);
    EXPECT_EQ(qxLastError, 1041);
    EXPECT_EQ(qxVmAbort, 1);
    EXPECT_EQ(qxGetErrorLine(), 3); // the call is the third instruction
    EXPECT_STREQ(qxGetErrorFileName(), "main.qxs");
}

TEST_F(CmdCallTest, CodeRaisedInsideACommandNamesTheCommand) {
    EXPECT_EQ(run(testlib::callChunk("testraise", {num(1055)})), 1055);
    EXPECT_STREQ(qxGetErrorCommandName(), "TestRaise");
    EXPECT_EQ(qxGetErrorLine(), 3);
    EXPECT_STREQ(qxGetErrorFileName(), "main.qxs");
}

TEST_F(CmdCallTest, ScriptErrorsNameTheMainChunk) {
    Func f;
    f.source = std::string("prog.qxs");
    f.k = {num(1), num(0)};
    f.code = {CREATE_ABC(OP_LOADNUM, 0, 0, 0), CREATE_ABC(OP_DIV, 0, K(0), K(1)),
              CREATE_ABC(OP_RETURN, 0, 2, 0)};
    EXPECT_EQ(run(f), 1089);
    EXPECT_STREQ(qxGetErrorCommandName(), "<<unnamed>>");
    EXPECT_EQ(qxGetErrorLine(), 2);
    EXPECT_STREQ(qxGetErrorFileName(), "prog.qxs");
}

TEST_F(CmdCallTest, ExitOnErrorOffLetsTheScriptGoOn) {
    qxSetTag(QX_TAG_RAISEONERROR, 0);
    EXPECT_EQ(qxRaiseOnError, 0u);
    Func f = testlib::callChunk("testfail", {num(1041)});
    ASSERT_EQ(run(f), 0);
    EXPECT_EQ(qxLastError, 1041);
    EXPECT_EQ(qxVmAbort, 0);
    EXPECT_STREQ(qxGetErrorCommandName(), "----");
    EXPECT_EQ(qxGetErrorLine(), -1);
    // the failing command gives no results: a nil where one was asked for
    Func one = f;
    one.code[2] = CREATE_ABC(OP_CALL, 0, 2, 2);
    one.code[3] = CREATE_ABC(OP_RETURN, 0, 2, 0);
    ASSERT_EQ(run(one), 0);
    EXPECT_TRUE(lua_isnil(L, -1));
}

TEST_F(CmdCallTest, EndStopsEvenWhenErrorsAreIgnored) {
    qxSetTag(QX_TAG_RAISEONERROR, 0);
    EXPECT_EQ(run(testlib::callChunk("testfail", {num(1003)})), 1003);
    EXPECT_EQ(qxVmAbort, 1);
}

TEST_F(CmdCallTest, GosubRequestsReachTheInterpreter) {
    // TestGosub(2, -1) continues two instructions after the call; the
    // label's Gosub return comes back after the call.
    Func f;
    f.source = std::string("main.qxs");
    f.k = {str("testgosub"), num(2), num(-1), num(7)};
    f.code = {CREATE_ABx(OP_LOADK, 3, 3),           CREATE_ABx(OP_GETGLOBAL, 0, 0),
              CREATE_ABx(OP_LOADK, 1, 1),           CREATE_ABx(OP_LOADK, 2, 2),
              CREATE_ABC(OP_CALL, 0, 3, 1),         CREATE_ABC(OP_RETURN, 3, 2, 0),
              CREATE_ABC(OP_RETURN, 0, 1, 0),       CREATE_ABC(OP_ADD, 3, 3, K(3)),
              CREATE_ABC(OP_RETURN, 0, 0, 1)};
    ASSERT_EQ(run(f), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 14);
    // In a status call as well.
    lua_settop(L, 0);
    f.code[4] = CREATE_ABC(OP_CALLSTATUS, 0, 3, 1);
    ASSERT_EQ(run(f), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 14);
}

// The same convention from assembled listings: the label lies two
// instructions after the one after the call. -1 comes back after the call;
// -2 comes back to the instruction before it, which fetches the kind again,
// so the command runs twice and the label once.
TEST_F(CmdCallTest, GosubRequestsFromAListing) {
    const char *minusOne = R"(
        LOADNUM 5 0
        GETGLOBAL 0 "testgosub"
        LOADK 1 #2
        LOADK 2 #-1
        CALL 0 3 1
        RETURN 5 2
        RETURN 0 1
label:  ADD 5 5 #1
        RETURN 0 1 1
)";
    const char *minusTwo = R"(
        LOADNUM 5 0
        LOADK 6 #-2
        GETGLOBAL 0 "testgosub"
        LOADK 1 #2
        MOVE 2 6
        CALL 0 3 1
        RETURN 5 2
        RETURN 0 1
label:  ADD 5 5 #1
        LOADNUM 6 0
        RETURN 0 1 1
)";
    for (const char *listing : {minusOne, minusTwo}) {
        qxAsmOptions o;
        o.mode = qxAsmMode::Chunk;
        qxAsmBytes bytes = qxAsmAssemble(listing, "main.qxs", o);
        ASSERT_FALSE(bytes.empty());
        lua_settop(L, 0);
        ASSERT_EQ(load(L, std::string(bytes.begin(), bytes.end())), 0);
        ASSERT_EQ(lua_pcall(L, 0, 1, 0), 0);
        EXPECT_EQ(lua_tonumber(L, -1), 1) << listing;
        EXPECT_EQ(qxVmGosubCount, 0);
    }
}

// The script's error handler, as a native function recording its arguments.
struct HandlerCall {
    int calls = 0;
    int code = 0;
    std::string message, command;
    int line = 0;
    int nestingInside = 0;
};
HandlerCall handlerSeen;
int handlerResult = 0;

int recordingHandler(lua_State *L) {
    handlerSeen.calls++;
    handlerSeen.code = static_cast<int>(lua_tonumber(L, 1));
    handlerSeen.message = lua_tostring(L, 2);
    handlerSeen.command = lua_tostring(L, 3);
    handlerSeen.line = static_cast<int>(lua_tonumber(L, 4));
    handlerSeen.nestingInside = static_cast<int>(qxGetTag(QX_TAG_CALLBACKNEST));
    return handlerResult;
}

TEST_F(CmdCallTest, RaiseOnErrorHandlerTakesTheError) {
    handlerSeen = {};
    handlerResult = 0;
    lua_pushcfunction(L, recordingHandler);
    qxErrorHandlerRef = luaL_ref(L, LUA_REGISTRYINDEX);
    qxReportLineEntry map[] = {{1, 10, 0, "main.qxs", "main.qxs"}};
    qxSetReportLineMap(map, 1);
    ASSERT_EQ(run(testlib::callChunk("testfail", {num(1138)})), 0);
    qxSetReportLineMap(nullptr, 0);
    EXPECT_EQ(handlerSeen.calls, 1);
    EXPECT_EQ(handlerSeen.code, 1138);
    EXPECT_EQ(handlerSeen.message, message(1138));
    EXPECT_EQ(handlerSeen.command, "TestFail");
    EXPECT_EQ(handlerSeen.line, 3);
    EXPECT_EQ(handlerSeen.nestingInside, 1);
    EXPECT_EQ(qxCallbackNesting, 0u);
    EXPECT_EQ(qxVmAbort, 0);

    // A failing handler's own code replaces the command's.
    handlerResult = 1500;
    EXPECT_EQ(run(testlib::callChunk("testfail", {num(1138)})), 1500);
    EXPECT_EQ(handlerSeen.calls, 2);
    EXPECT_EQ(qxErrorHandlerRunning, 0);
}

int failingInsideHandler(lua_State *L) {
    handlerSeen.calls++;
    lua_pushstring(L, "testfail");
    lua_gettable(L, LUA_GLOBALSINDEX);
    lua_pushnumber(L, 1041);
    lua_call(L, 1, 0); // not handed to the handler again
    return 0;
}

TEST_F(CmdCallTest, ErrorsInsideTheHandlerAreNotHandledAgain) {
    handlerSeen = {};
    lua_pushcfunction(L, failingInsideHandler);
    qxErrorHandlerRef = luaL_ref(L, LUA_REGISTRYINDEX);
    EXPECT_EQ(run(testlib::callChunk("testfail", {num(1138)})), 1041);
    EXPECT_EQ(handlerSeen.calls, 1);
}

int failingCallback(lua_State *L) {
    lua_pushstring(L, "testfail");
    lua_gettable(L, LUA_GLOBALSINDEX);
    lua_pushnumber(L, 1045);
    lua_call(L, 1, 0);
    return 0;
}

TEST_F(CmdCallTest, ErrorInACallbackGoesToItsProtectedCall) {
    setglobal("cb", failingCallback);
    Func f;
    f.source = std::string("main.qxs");
    f.k = {str("testcallback"), str("cb")};
    f.code = {CREATE_ABx(OP_GETGLOBAL, 0, 0), CREATE_ABx(OP_GETGLOBAL, 1, 1), CREATE_ABC(OP_CALL, 0, 2, 2),
              CREATE_ABC(OP_RETURN, 0, 2, 0)};
    ASSERT_EQ(run(f), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 1045);
    EXPECT_EQ(qxVmAbort, 0); // the script itself goes on
    EXPECT_EQ(qxCallbackNesting, 0u);
}

int tracer(lua_State *L) {
    qxTraceCommandCall(L);
    return 0;
}

TEST_F(CmdCallTest, CallTracePrintsArguments) {
    setglobal("tracer", tracer);
    Func f;
    f.k = {str("tracer"), num(1.5), str("a%sb")};
    f.code = {CREATE_ABx(OP_GETGLOBAL, 0, 0), CREATE_ABx(OP_LOADK, 1, 1), CREATE_ABx(OP_LOADK, 2, 2),
              CREATE_ABC(OP_LOADNIL, 3, 3, 0), CREATE_ABC(OP_CALL, 0, 4, 1), CREATE_ABC(OP_RETURN, 0, 1, 0)};
    testing::internal::CaptureStdout();
    ASSERT_EQ(run(f), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Now calling tracer() with arguments #1=(NUMBER)1.5 #2=(STRING)\"a%sb\" #3=(NIL) \n");
    qxGlobalSettings.debugOutput = 1;
    EXPECT_EQ(qxCallTraceEnabled(), 1);
    qxGlobalSettings.noDebug = 1;
    EXPECT_EQ(qxCallTraceEnabled(), 0);
    qxGlobalSettings.noDebug = 0;
    qxGlobalSettings.debugOutput = 0;
}

int hookResult(lua_State *L) {
    lua_pushnumber(L, lua_gettop(L));
    lua_pushvalue(L, 2);
    lua_pushvalue(L, 5);
    return 3;
}

TEST_F(CmdCallTest, CallHookByName) {
    setglobal("onhook", hookResult);
    int marker = 0;
    qxObjectRef ref{7, nullptr};
    ASSERT_EQ(qxCallHookByName(L, "OnHook", 3, 5, QX_HOOKARG_INT, -3, QX_HOOKARG_STRING, "text",
                               QX_HOOKARG_NIL, 0, QX_HOOKARG_POINTER, &marker, QX_HOOKARG_OBJECTREF, &ref),
              0);
    ASSERT_EQ(lua_gettop(L), 3);
    EXPECT_EQ(lua_tonumber(L, 1), 5);
    EXPECT_STREQ(lua_tostring(L, 2), "text");
    EXPECT_EQ(lua_tonumber(L, 3), 7);
    lua_settop(L, 0);
    EXPECT_EQ(qxCallHookByName(L, "nosuchhook", 0, 0), ERR_FUNCDECLA);
    EXPECT_EQ(message(ERR_FUNCDECLA), "Function nosuchhook not found!");
    EXPECT_EQ(qxCallHookByName(nullptr, "onhook", 0, 0), 0);
}

TEST_F(CmdCallTest, AttributeTagsShareTheErrorState) {
    qxSetTag(QX_TAG_CALLBACKNEST, 1);
    qxSetTag(QX_TAG_CALLBACKNEST, 1);
    EXPECT_EQ(qxCallbackNesting, 2u);
    EXPECT_EQ(qxGetTag(QX_TAG_CALLBACKNEST), 2u);
    qxSetTag(QX_TAG_CALLBACKNEST, 0);
    qxSetTag(QX_TAG_CALLBACKNEST, 0);
    qxSetTag(QX_TAG_CALLBACKNEST, 0);
    EXPECT_EQ(qxCallbackNesting, 0u);
    EXPECT_EQ(qxGetTag(QX_TAG_RAISEONERROR), 1u);
}

TEST_F(CmdCallTest, ReportNamesFileAndLineWhileTheMainChunkRuns) {
    EXPECT_EQ(run(testlib::callChunk("testraise", {num(1138)}, false, "/apps/demo/main.qxs")), 1138);
    char msg[256];
    const char *file = nullptr;
    int line = 0;
    qxSetErrorNumber(2);
    qxSetTag(QX_TAG_MAINRUNNING, 0);
    qxGetErrorInfo(L, 1138, msg, sizeof msg, &file, &line);
    EXPECT_STREQ(msg, "Number expected in argument 2!");
    EXPECT_EQ(file, nullptr);
    char text[512];
    qxBuildReportText(L, msg, 0, text, sizeof text);
    EXPECT_STREQ(text, "Number expected in argument 2!"); // before the main chunk: message alone

    // A line no include-line map record holds (here: no map) is "---", -1.
    qxSetTag(QX_TAG_MAINRUNNING, 1);
    qxGetErrorInfo(L, 1138, msg, sizeof msg, &file, &line);
    ASSERT_NE(file, nullptr);
    EXPECT_STREQ(file, "---");
    EXPECT_EQ(line, -1);
    qxBuildReportText(L, msg, 0, text, sizeof text);
    EXPECT_STREQ(text, "Number expected in argument 2!\nFile: --- (current line: -1 - In function: TestRaise)");
    qxBuildReportText(L, msg, 1, text, sizeof text);
    EXPECT_STREQ(text, "Number expected in argument 2!");

    // With an include-line map the line is mapped into the included file.
    qxReportLineEntry map[] = {{1, 10, 100, "inc.qxs", "/apps/demo/main.qxs"}};
    qxSetReportLineMap(map, 1);
    EXPECT_EQ(qxGetReportLine(L), 3 - 1 + 100 + 1);
    EXPECT_STREQ(qxGetReportFile(L), "inc.qxs");
    qxSetReportLineMap(nullptr, 0);
    qxSetTag(QX_TAG_MAINRUNNING, 0);
}

} // namespace
