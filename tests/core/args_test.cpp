// Argument checks, percentages, constant names, object identifiers and
// option-table fields, with the messages their failures produce.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "core/commands/qx_args.h"
#include "core/runtime/qx_lists.h"
#include "core/runtime/qx_startup.h"
#include "platform/qx_memory.h"
#include "testlib.h"

namespace {

struct ArgsTest : ::testing::Test {
    lua_State *L = nullptr;
    void SetUp() override {
        testlib::resetErrorState();
        L = lua_open();
        ASSERT_NE(L, nullptr);
    }
    void TearDown() override {
        lua_close(L);
        testlib::resetErrorState();
    }
    // Runs body as a command with the arguments pushed by push; returns the
    // status and, on failure, the message of the code.
    int call(std::function<int(lua_State *)> body, std::function<void(lua_State *)> push,
             std::string *msg = nullptr) {
        static std::function<int(lua_State *)> *current;
        current = &body;
        lua_settop(L, 0);
        lua_pushcfunction(L, [](lua_State *S) { return (*current)(S); });
        push(L);
        int st = lua_pcall(L, lua_gettop(L) - 1, 0, 0);
        if (st && msg) {
            char buf[1024];
            qxFormatErrorCode(st, buf, sizeof buf);
            *msg = buf;
        }
        lua_settop(L, 0);
        return st;
    }
};

void pushN(lua_State *L, int n) {
    for (int i = 0; i < n; i++) lua_pushnumber(L, i);
}

TEST_F(ArgsTest, ArgumentCounts) {
    auto none = [](lua_State *S) { qxCheckArgCount(S, 0, 0, 0, 0); return 0; };
    EXPECT_EQ(call(none, [](lua_State *) {}), 0);
    // An explicit nil is an argument too.
    EXPECT_EQ(call(none, [](lua_State *S) { lua_pushnil(S); }), 1193);
    auto oneOrMore = [](lua_State *S) { qxCheckArgCount(S, 1, -1, 0, 0); return 0; };
    EXPECT_EQ(call(oneOrMore, [](lua_State *S) { lua_checkstack(S, 21); pushN(S, 20); }), 0);
    std::string msg;
    EXPECT_EQ(call(oneOrMore, [](lua_State *) {}, &msg), 1014);
    EXPECT_EQ(msg, "Not enough arguments!");
    auto upToTwo = [](lua_State *S) { qxCheckArgCount(S, 1, 2, 0, 0); return 0; };
    EXPECT_EQ(call(upToTwo, [](lua_State *S) { pushN(S, 3); }, &msg), 1193);
    EXPECT_EQ(msg, "Too many arguments for this function!");
}

TEST_F(ArgsTest, VersionRequirement) {
    qxAppletInfo applet{};
    qxAppletInfo *saved = qxApplet;
    qxApplet = &applet;
    applet.versionMajor = 7;
    applet.versionMinor = 5;
    EXPECT_EQ(qxRequireVersion(7, 5), 1);
    EXPECT_EQ(qxRequireVersion(7, 6), 0);
    EXPECT_EQ(qxRequireVersion(6, 9), 1);
    std::string msg;
    auto needs8 = [](lua_State *S) { qxCheckArgCount(S, 0, 1, 8, 0); return 0; };
    EXPECT_EQ(call(needs8, [](lua_State *) {}, &msg), 1566);
    EXPECT_NE(msg.find("8.0"), std::string::npos);
    applet.versionMajor = 0; // an explicit 0.0 is older than everything
    applet.versionMinor = 0;
    EXPECT_EQ(call(needs8, [](lua_State *) {}), 1566);
    qxApplet = nullptr; // no applet info: nothing is refused
    EXPECT_EQ(call(needs8, [](lua_State *) {}), 0);
    qxApplet = saved;
}

TEST_F(ArgsTest, NumbersStringsAndOptionalArguments) {
    std::string msg;
    double got = -1;
    auto check3 = [&](lua_State *S) { got = luaL_checknumber(S, 3); return 0; };
    EXPECT_EQ(call(check3, [](lua_State *S) { pushN(S, 2); lua_pushstring(S, "x"); }, &msg), 1138);
    EXPECT_EQ(msg, "Number expected in argument 3!");
    EXPECT_EQ(call(check3, [](lua_State *S) { pushN(S, 2); lua_pushstring(S, " 12.5 "); }), 0);
    EXPECT_EQ(got, 12.5);
    EXPECT_EQ(call(check3, [](lua_State *S) { pushN(S, 2); lua_pushnil(S); }), 0);
    EXPECT_EQ(got, 0); // nil reads as 0

    auto opt = [&](lua_State *S) { got = luaL_optnumber(S, 1, 5); return 0; };
    EXPECT_EQ(call(opt, [](lua_State *) {}), 0);
    EXPECT_EQ(got, 5);
    EXPECT_EQ(call(opt, [](lua_State *S) { lua_pushnil(S); }), 0);
    EXPECT_EQ(got, 0); // an explicit nil counts as present

    int i = 0;
    auto asInt = [&](lua_State *S) { i = luaL_checkint(S, 1); return 0; };
    EXPECT_EQ(call(asInt, [](lua_State *S) { lua_pushnumber(S, 4294967295.0); }), 0);
    EXPECT_EQ(i, -1); // colours above 2^31 wrap
    EXPECT_EQ(call(asInt, [](lua_State *S) { lua_pushnumber(S, -7.9); }), 0);
    EXPECT_EQ(i, -7);
    EXPECT_EQ(call(asInt, [](lua_State *S) { lua_pushnumber(S, -1e300); }), 0);
    EXPECT_EQ(i, INT32_MIN);

    std::string s;
    auto str2 = [&](lua_State *S) { s = luaL_optstring(S, 2, "def"); return 0; };
    EXPECT_EQ(call(str2, [](lua_State *S) { pushN(S, 1); }), 0);
    EXPECT_EQ(s, "def");
    EXPECT_EQ(call(str2, [](lua_State *S) { pushN(S, 1); lua_pushnumber(S, 1.5); }), 0);
    EXPECT_EQ(s, "1.5");
    EXPECT_EQ(call(str2, [](lua_State *S) { pushN(S, 1); lua_pushnil(S); }), 0);
    EXPECT_EQ(s, "");
    EXPECT_EQ(call(str2, [](lua_State *S) { pushN(S, 1); lua_newtable(S); }, &msg), 1139);
    EXPECT_EQ(msg, "String expected in argument 2!");
}

TEST_F(ArgsTest, TypeChecksNameTheirCodes) {
    struct Case { int type; int code; } cases[] = {{LUA_TNUMBER, 1138}, {LUA_TSTRING, 1139},
                                                   {LUA_TTABLE, 1140}, {LUA_TFUNCTION, 1185},
                                                   {LUA_TUSERDATA, 1492}};
    for (const Case &c : cases) {
        static int type;
        type = c.type;
        EXPECT_EQ(call([](lua_State *S) { luaL_checktype(S, 1, type); return 0; },
                       [](lua_State *S) { lua_pushboolean(S, 1); }),
                  c.code);
    }
    int marker;
    static void *seen;
    EXPECT_EQ(call([](lua_State *S) { seen = luaL_checkuserdata(S, 1); return 0; },
                   [&](lua_State *S) { lua_pushlightuserdata(S, &marker); }),
              0);
    EXPECT_EQ(seen, &marker);
}

TEST_F(ArgsTest, Percentages) {
    double v = 0;
    int pct = -1, allow = 0;
    double base = 0;
    auto read = [&](lua_State *S) { v = qxGetNumberOrPercentArg(S, 1, base, allow, &pct); return 0; };
    EXPECT_EQ(call(read, [](lua_State *S) { lua_pushstring(S, "50%"); }), 0);
    EXPECT_DOUBLE_EQ(v, 0.5);
    EXPECT_EQ(pct, 1);
    base = 64;
    EXPECT_EQ(call(read, [](lua_State *S) { lua_pushstring(S, "50%"); }), 0);
    EXPECT_DOUBLE_EQ(v, 32);
    EXPECT_EQ(pct, 0);
    EXPECT_EQ(call(read, [](lua_State *S) { lua_pushnumber(S, 17); }), 0);
    EXPECT_EQ(v, 17);
    EXPECT_EQ(call(read, [](lua_State *S) { lua_pushstring(S, "12"); }), 0);
    EXPECT_EQ(v, 12);
    std::string msg;
    EXPECT_EQ(call(read, [](lua_State *S) { lua_pushstring(S, "150%"); }, &msg), 1184);
    EXPECT_EQ(msg, "Invalid percent format in argument 1!");
    EXPECT_EQ(call(read, [](lua_State *S) { lua_pushstring(S, "-5%"); }), 1184);
    EXPECT_EQ(call(read, [](lua_State *S) { lua_pushstring(S, "5%x"); }), 1184);
    EXPECT_EQ(call(read, [](lua_State *S) { lua_pushstring(S, "abc"); }), 1184);
    EXPECT_EQ(call(read, [](lua_State *S) { lua_newtable(S); }), 1183);
    allow = 1;
    EXPECT_EQ(call(read, [](lua_State *S) { lua_pushstring(S, "150%"); }), 0);
    EXPECT_DOUBLE_EQ(v, 96);
}

TEST_F(ArgsTest, Utf8StringsAndSubstrings) {
    size_t chars = 0, bytes = 0;
    std::string msg;
    auto read = [&](lua_State *S) { qxCheckUTF8String(S, 2, &chars, 1, &bytes); return 0; };
    EXPECT_EQ(call(read, [](lua_State *S) { pushN(S, 1); lua_pushstring(S, "gr\xC3\xBC\xC3\x9F"); }), 0);
    EXPECT_EQ(chars, 4u);
    EXPECT_EQ(bytes, 6u);
    EXPECT_EQ(call(read, [](lua_State *S) { pushN(S, 1); lua_pushstring(S, "bad\xC3"); }, &msg), 1588);
    EXPECT_EQ(msg, "Invalid UTF-8 string in argument 2!");
}

TEST_F(ArgsTest, ConstantNames) {
    const qxConstantDef rows[] = {{"BRUSH_1$", nullptr, 3}, {"Greeting", "hello", 0}, {nullptr, nullptr, 0}};
    luaL_registerconstants(L, rows, 1);
    const char *s = nullptr;
    double n = 0;
    int used = 0;
    EXPECT_EQ(qxParseConstantName(L, "#brush_1$+2", &used, &s, &n), 0);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(used, 10);
    EXPECT_EQ(qxParseConstantName(L, "#GREETING", &used, &s, &n), 0);
    EXPECT_STREQ(s, "hello");
    EXPECT_EQ(qxParseConstantName(L, "GREETING", &used, &s, &n), 1055);
    EXPECT_EQ(qxParseConstantName(L, "#1X", &used, &s, &n), 1018);
    EXPECT_EQ(qxParseConstantName(L, "#MISSING", &used, &s, &n), 1042);
}

TEST_F(ArgsTest, ObjectIdentifiers) {
    int marker;
    lua_pushnumber(L, 12);
    lua_pushlightuserdata(L, &marker);
    lua_pushnil(L);
    qxObjectRef a = qxGetObjectIDArg(L, 1);
    EXPECT_EQ(a.number, 12u);
    EXPECT_EQ(a.automatic, nullptr);
    qxObjectRef b = qxGetObjectIDArg(L, 2);
    EXPECT_EQ(b.automatic, &marker);
    int automatic = 0;
    EXPECT_EQ(qxGetNewIDArg(L, 1, &automatic), 12u);
    EXPECT_EQ(automatic, 0);
    qxGetNewIDArg(L, 3, &automatic);
    EXPECT_EQ(automatic, 1);
    lua_settop(L, 0);
    EXPECT_EQ(qxPushObjectID(L, b), 1);
    EXPECT_EQ(lua_touserdata(L, -1), &marker);
    qxPushObjectID(L, a);
    EXPECT_EQ(lua_tonumber(L, -1), 12);
    // A creating command without its identifier argument fails.
    EXPECT_EQ(call([](lua_State *S) { int f; qxGetNewIDArg(S, 1, &f); return 0; }, [](lua_State *) {}), 1138);
}

TEST_F(ArgsTest, OptionTableFields) {
    lua_newtable(L);
    qxSetFieldInt(L, "width", 320);
    qxSetFieldNum(L, "scale", 1.5);
    qxSetFieldStr(L, "title", "A long window title");
    qxSetFieldStr(L, "height", "50%");
    qxSetFieldStr(L, "bad", "fifty");
    qxSetFieldUInt(L, "color", 0xFF00FF00u);
    qxSetFieldID(L, "brush", qxObjectRef{4, nullptr});
    lua_pushstring(L, "rect");
    lua_newtable(L);
    for (int i = 0; i < 4; i++) {
        lua_pushnumber(L, i * 10);
        lua_rawseti(L, -2, i);
    }
    lua_settable(L, -3);
    lua_pushstring(L, "images");
    lua_newtable(L);
    lua_pushnumber(L, 5);
    lua_rawseti(L, -2, 0);
    lua_pushnumber(L, 6);
    lua_rawseti(L, -2, 1);
    lua_settable(L, -3);

    int i = -1, found = 0;
    EXPECT_EQ(qxGetFieldInt(L, 1, "width", &i, &found), 1);
    EXPECT_EQ(i, 320);
    EXPECT_EQ(found, 1);
    i = 77;
    found = 0;
    EXPECT_EQ(qxGetFieldInt(L, 1, "missing", &i, &found), 0);
    EXPECT_EQ(i, 77); // the default stays
    EXPECT_EQ(found, 0);
    double d = 0;
    EXPECT_EQ(qxGetFieldNum(L, 1, "scale", &d, nullptr), 1);
    EXPECT_EQ(d, 1.5);
    EXPECT_EQ(qxGetFieldColor(L, 1, "color", &i, nullptr), 1);
    EXPECT_EQ(static_cast<uint32_t>(i), 0xFF00FF00u);
    char buf[8];
    EXPECT_EQ(qxGetFieldStr(L, 1, "title", buf, sizeof buf, nullptr), 1);
    EXPECT_STREQ(buf, "A long ");
    EXPECT_EQ(qxGetFieldSize(L, 1, "height", 0, &i, nullptr), 1);
    EXPECT_EQ(i, -50);
    EXPECT_EQ(qxGetFieldSize(L, 1, "width", 0, &i, nullptr), 1);
    EXPECT_EQ(i, 320);
    qxObjectRef ref{};
    EXPECT_EQ(qxGetFieldID(L, 1, "brush", &ref, nullptr), 1);
    EXPECT_EQ(ref.number, 4u);
    double rect[4];
    EXPECT_EQ(qxGetFieldNumChecked(L, 1, "rect", rect, nullptr), 1);
    EXPECT_EQ(rect[3], 30);
    char *name = nullptr;
    size_t len = 0;
    EXPECT_EQ(qxGetFieldFileName(L, 1, "title", 0, &name, &len, nullptr), 1);
    EXPECT_STREQ(name, "A long window title");
    EXPECT_EQ(len, 19u);
    qxFree(name);
    EXPECT_EQ(lua_gettop(L), 1);

    // Failures name the field.
    lua_pushstring(L, "opts");
    lua_pushvalue(L, 1);
    lua_settable(L, LUA_GLOBALSINDEX);
    auto withOpts = [](lua_State *S) {
        lua_pushstring(S, "opts");
        lua_gettable(S, LUA_GLOBALSINDEX);
    };
    std::string msg;
    EXPECT_EQ(call([](lua_State *S) { int v; qxGetFieldInt(S, 1, "title", &v, nullptr); return 0; }, withOpts, &msg), 1189);
    EXPECT_EQ(msg, "Number expected in table argument \"title\"!");
    EXPECT_EQ(call([](lua_State *S) { char b[4]; qxGetFieldStr(S, 1, "rect", b, 4, nullptr); return 0; }, withOpts, &msg), 1247);
    EXPECT_EQ(msg, "String expected in table argument \"rect\"!");
    EXPECT_EQ(call([](lua_State *S) { int v; qxGetFieldSize(S, 1, "bad", 0, &v, nullptr); return 0; }, withOpts), 1502);
    EXPECT_EQ(call([](lua_State *S) { double r[4]; qxGetFieldNumChecked(S, 1, "images", r, nullptr); return 0; }, withOpts), 1014);
}

} // namespace
