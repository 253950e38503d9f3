// The system library's information, console, error and control commands.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "core/runtime/qx_lists.h"
#include "core/runtime/qx_options.h"
#include "core/runtime/qx_startup.h"
#include "libs/qx_corelibs.h"
#include "libs/qx_systemlib.h"
#include "platform/qx_text.h"
#include "testlib.h"

using namespace chunktest;

namespace {

struct SystemLibTest : ::testing::Test {
    lua_State *L = nullptr;
    void SetUp() override {
        testlib::resetErrorState();
        L = lua_open();
        ASSERT_NE(L, nullptr);
        ASSERT_EQ(qxOpenSystemLib(L), 0);
        ASSERT_EQ(testlib::open(L), 0);
    }
    void TearDown() override {
        qxFreeSystemLib(L);
        qxFreeRuntimeLists(L);
        lua_close(L);
        testlib::resetErrorState();
    }
    // Calls the global command name with the arguments push leaves; the
    // results stay on the stack.
    int call(const char *name, std::function<void(lua_State *)> push = [](lua_State *) {}) {
        lua_settop(L, 0);
        lua_pushstring(L, name);
        lua_gettable(L, LUA_GLOBALSINDEX);
        EXPECT_TRUE(lua_isfunction(L, -1)) << name;
        push(L);
        return lua_pcall(L, lua_gettop(L) - 1, LUA_MULTRET, 0);
    }
    std::string field(int t, const char *key) {
        lua_pushstring(L, key);
        lua_gettable(L, t);
        std::string s = lua_isstring(L, -1) ? lua_tostring(L, -1) : "<nil>";
        lua_pop(L, 1);
        return s;
    }
    std::string message(int code) {
        char buf[1024];
        qxFormatErrorCode(code, buf, sizeof buf);
        return buf;
    }
};

TEST_F(SystemLibTest, VersionAndInformation) {
    ASSERT_EQ(call("getversion"), 0);
    EXPECT_EQ(field(1, "application"), "ZephyranePlayer");
    EXPECT_EQ(field(1, "version"), "8.0");
    EXPECT_EQ(field(1, "platform"), "Linux");
    EXPECT_EQ(field(1, "cpu"), "x64");
    EXPECT_EQ(field(1, "bigendian"), "0");
    ASSERT_EQ(call("isunicode"), 0);
    EXPECT_EQ(lua_tonumber(L, 1), qxTextModeUtf8 ? 1 : 0);
    ASSERT_EQ(call("getlanguageinfo", [](lua_State *S) { lua_pushnumber(S, 100000); }), 0);
    EXPECT_EQ(field(1, "code"), "??");
    EXPECT_EQ(field(1, "name"), "unknown");
    ASSERT_EQ(call("getlanguageinfo", [](lua_State *S) { lua_pushnumber(S, 1); }), 0);
    EXPECT_EQ(field(1, "code"), "de");
    ASSERT_EQ(call("getcountryinfo", [](lua_State *S) { lua_pushnumber(S, -1); }), 0);
    EXPECT_EQ(field(1, "alpha3"), "???");
    EXPECT_EQ(call("getmemoryinfo", [](lua_State *S) { lua_pushnumber(S, 2); }), 1055);
    ASSERT_EQ(call("getmemoryinfo", [](lua_State *S) { lua_pushnumber(S, 0); }), 0);
    EXPECT_GT(lua_tonumber(L, 1), 0);
    ASSERT_EQ(call("gcinfo"), 0);
    EXPECT_EQ(lua_gettop(L), 2);
    EXPECT_EQ(call("isunicode", [](lua_State *S) { lua_pushnumber(S, 1); }), 1193);
}

TEST_F(SystemLibTest, CommandLineAndProgram) {
    qxStartupInfo startup{};
    std::strcpy(startup.programPath, "/usr/bin/zephyrane");
    std::strcpy(startup.appletPath, "/apps/demo.qxa");
    std::strcpy(startup.givenName, "demo.qxa");
    char n1[] = "speed", v1[] = "fast", n2[] = "flag", v2[] = "";
    qxNameValue second{nullptr, n2, v2}, first{&second, n1, v1};
    startup.extraArgs = &first;
    luaL_setregptr(L, "clargs", &startup);
    ASSERT_EQ(call("getfileargument"), 0);
    EXPECT_STREQ(lua_tostring(L, 1), "demo.qxa");
    ASSERT_EQ(call("getprograminfo"), 0);
    ASSERT_EQ(lua_gettop(L), 3);
    EXPECT_STREQ(lua_tostring(L, 2), "/usr/bin/zephyrane");
    ASSERT_EQ(call("getcommandline"), 0);
    ASSERT_EQ(lua_gettop(L), 3);
    EXPECT_EQ(lua_tonumber(L, 2), 2);
    lua_rawgeti(L, 1, 1);
    EXPECT_EQ(field(4, "arg"), "flag");
    EXPECT_EQ(field(4, "param"), "");
}

TEST_F(SystemLibTest, Constants) {
    ASSERT_EQ(call("getconstant", [](lua_State *S) { lua_pushstring(S, "#NIL"); }), 0);
    EXPECT_EQ(lua_type(L, 1), LUA_TNUMBER);
    EXPECT_EQ(lua_tonumber(L, 1), 0);
    ASSERT_EQ(call("getconstant", [](lua_State *S) { lua_pushstring(S, "#ERR_NUMEXPECTED"); }), 0);
    EXPECT_EQ(lua_tonumber(L, 1), 1138);
    ASSERT_EQ(call("getconstant", [](lua_State *S) { lua_pushstring(S, "#LANGUAGE_GERMAN"); }), 0);
    EXPECT_EQ(lua_tonumber(L, 1), 1);
    ASSERT_EQ(call("getconstant", [](lua_State *S) { lua_pushstring(S, "#REQ_HIDEICONS"); }), 0);
    EXPECT_EQ(lua_tonumber(L, 1), 65536);
    EXPECT_EQ(call("getconstant", [](lua_State *S) { lua_pushstring(S, "NIL"); }), 1055);
    EXPECT_EQ(call("getconstant", [](lua_State *S) { lua_pushstring(S, "#NOPE"); }), 1042);
}

TEST_F(SystemLibTest, ConsoleOutputIsNeverAFormat) {
    testing::internal::CaptureStdout();
    ASSERT_EQ(call("consoleprint", [](lua_State *S) {
                  lua_pushstring(S, "100% %s %d");
                  lua_pushnumber(S, 2.5);
                  lua_pushnil(S);
              }),
              0);
    ASSERT_EQ(call("consoleprintnr", [](lua_State *S) { lua_pushstring(S, "no newline"); }), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "100% %s %d 2.5 \nno newline");
    EXPECT_EQ(call("consoleprint"), 1014);

    qxGlobalSettings.noDebug = 1;
    testing::internal::CaptureStdout();
    ASSERT_EQ(call("debugprint", [](lua_State *S) { lua_pushstring(S, "hidden"); }), 0);
    ASSERT_EQ(call("assert", [](lua_State *S) { lua_pushnumber(S, 0); }), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    qxGlobalSettings.noDebug = 0;
    testing::internal::CaptureStdout();
    ASSERT_EQ(call("debugstr", [](lua_State *S) { lua_pushstring(S, "shown"); }), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "shown\n");
}

TEST_F(SystemLibTest, AssertAndErrors) {
    EXPECT_EQ(call("assert", [](lua_State *S) { lua_pushnumber(S, 0); }), 1493);
    EXPECT_EQ(message(1493), "Assertion failed!");
    EXPECT_EQ(call("assert", [](lua_State *S) { lua_pushnil(S); }), 1493);
    ASSERT_EQ(call("assert", [](lua_State *S) { lua_pushstring(S, "ok"); }), 0);
    EXPECT_STREQ(lua_tostring(L, 1), "ok");

    // The text of Error() is the whole message, never a template.
    EXPECT_EQ(call("error", [](lua_State *S) { lua_pushstring(S, "disk %s full %d"); }), 1239);
    EXPECT_EQ(message(1239), "disk %s full %d");
    EXPECT_EQ(call("legacycontrol", [](lua_State *S) {
                  lua_pushstring(S, "Warp");
                  lua_pushnumber(S, 1);
              }),
              1222);
    EXPECT_EQ(message(1222), "Unknown tag \"Warp\"!");
    ASSERT_EQ(call("legacycontrol", [](lua_State *S) {
                  lua_pushstring(S, "LineBasedShapes");
                  lua_pushnumber(S, 1);
              }),
              0);
    EXPECT_EQ(qxLineBasedShapes, 1);
    EXPECT_EQ(qxSingleMusic, 1); // the opener's default
    ASSERT_EQ(call("geterrorname", [](lua_State *S) { lua_pushnumber(S, 1000); }), 0);
    EXPECT_STREQ(lua_tostring(L, 1), "Out of memory!");
    // Codes below 1000 (from a hook or plug-in) still get a message.
    ASSERT_EQ(call("geterrorname", [](lua_State *S) { lua_pushnumber(S, 5); }), 0);
    EXPECT_STREQ(lua_tostring(L, 1), "Unknown error code!");
    ASSERT_EQ(call("geterrorname", [](lua_State *S) { lua_pushnumber(S, 1265); }), 0);
    EXPECT_GT(lua_strlen(L, 1), 0u);
}

TEST_F(SystemLibTest, UnsupportedCommandsIgnoreTheirArguments) {
    for (const char *name : {"readregistrykey", "vibrate", "calljavamethod", "imagerequest"}) {
        EXPECT_EQ(call(name, [](lua_State *S) { lua_newtable(S); lua_pushnil(S); }), 1288) << name;
    }
    EXPECT_EQ(message(1288), "This feature is currently not supported on this platform!");
}

TEST_F(SystemLibTest, LastErrorAndExitOnError) {
    ASSERT_EQ(call("exitonerror", [](lua_State *S) { lua_pushnumber(S, 0); }), 0);
    EXPECT_EQ(qxGetTag(QX_TAG_RAISEONERROR), 0u);
    // A failing command leaves its code; GetLastError reads it.
    Func f;
    f.source = std::string("main.qxs");
    f.k = {str("testfail"), num(1041), str("getlasterror")};
    f.code = {CREATE_ABx(OP_GETGLOBAL, 0, 0), CREATE_ABx(OP_LOADK, 1, 1), CREATE_ABC(OP_CALL, 0, 2, 1),
              CREATE_ABx(OP_GETGLOBAL, 0, 2), CREATE_ABC(OP_CALL, 0, 1, 2), CREATE_ABC(OP_RETURN, 0, 2, 0)};
    lua_settop(L, 0);
    ASSERT_EQ(load(L, chunk(f)), 0);
    ASSERT_EQ(lua_pcall(L, 0, 1, 0), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 1041);
    // Any other command clears it before it runs.
    f.code[2] = CREATE_ABC(OP_CALL, 0, 2, 1);
    f.k[0] = str("testfail");
    f.k[1] = num(0);
    lua_settop(L, 0);
    ASSERT_EQ(load(L, chunk(f)), 0);
    ASSERT_EQ(lua_pcall(L, 0, 1, 0), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 0);
    ASSERT_EQ(call("exitonerror", [](lua_State *S) { lua_pushboolean(S, 1); }), 0);
    EXPECT_EQ(qxGetTag(QX_TAG_RAISEONERROR), 1u);
}

TEST_F(SystemLibTest, RaiseOnErrorKeepsOneHandler) {
    Func handler;
    handler.code = {CREATE_ABC(OP_RETURN, 0, 1, 0)};
    ASSERT_EQ(load(L, chunk(handler)), 0);
    lua_pushstring(L, "h");
    lua_insert(L, -2);
    lua_settable(L, LUA_GLOBALSINDEX);
    ASSERT_EQ(call("raiseonerror", [](lua_State *S) {
                  lua_pushstring(S, "h");
                  lua_gettable(S, LUA_GLOBALSINDEX);
              }),
              0);
    int first = qxErrorHandlerRef;
    EXPECT_GE(first, 3);
    ASSERT_EQ(call("raiseonerror", [](lua_State *S) {
                  lua_pushstring(S, "h");
                  lua_gettable(S, LUA_GLOBALSINDEX);
              }),
              0);
    EXPECT_EQ(qxErrorHandlerRef, first); // the released reference is reused
    ASSERT_EQ(call("raiseonerror", [](lua_State *S) { lua_pushnumber(S, 0); }), 0);
    EXPECT_EQ(qxErrorHandlerRef, -1);
}

TEST_F(SystemLibTest, EndSetsTheExitValue) {
    uint32_t saved = qxExitValue;
    EXPECT_EQ(call("end", [](lua_State *S) { lua_pushnumber(S, 5); }), 1003);
    EXPECT_EQ(qxExitValue, 5u);
    EXPECT_EQ(qxVmAbort, 1);
    qxExitValue = saved;
}

TEST_F(SystemLibTest, WaitAndLineHook) {
    ASSERT_EQ(call("wait", [](lua_State *S) { lua_pushnumber(S, 0); }), 0);
    ASSERT_EQ(call("wait", [](lua_State *S) {
                  lua_pushnumber(S, 3);
                  lua_pushnumber(S, 1); // milliseconds
              }),
              0);
    EXPECT_EQ(call("wait", [](lua_State *S) { lua_pushstring(S, "x"); }), 1138);
    ASSERT_EQ(call("disablelinehook"), 0);
    EXPECT_EQ(qxLineHookDisabled, 1);
    ASSERT_EQ(call("enablelinehook"), 0);
    EXPECT_EQ(qxLineHookDisabled, 0);
}

TEST_F(SystemLibTest, CatalogWithoutAFileGivesTheDefault) {
    ASSERT_EQ(call("opencatalog", [](lua_State *S) { lua_pushstring(S, "nonexistent.catalog"); }), 0);
    ASSERT_EQ(call("getcatalogstring", [](lua_State *S) {
                  lua_pushnumber(S, 3);
                  lua_pushstring(S, "Default 100%");
              }),
              0);
    EXPECT_STREQ(lua_tostring(L, 1), "Default 100%");
    ASSERT_EQ(call("closecatalog"), 0);
}

} // namespace
