// The stack interface: registry, globals, tables and misuse checks.
#include <gtest/gtest.h>

#include "core/vm/lua.h"
#include "core/vm/qx_vmregs.h"

namespace {

struct VmTest : ::testing::Test {
    lua_State *L = nullptr;
    void SetUp() override { L = lua_open(); ASSERT_NE(L, nullptr); }
    void TearDown() override { lua_close(L); }
};

TEST_F(VmTest, RegistryHoldsLightUserdata) {
    int marker = 0;
    lua_pushstring(L, "startup");
    lua_pushlightuserdata(L, &marker);
    lua_settable(L, LUA_REGISTRYINDEX);
    EXPECT_EQ(lua_gettop(L), 0);
    lua_pushstring(L, "startup");
    lua_gettable(L, LUA_REGISTRYINDEX);
    EXPECT_EQ(lua_type(L, -1), LUA_TLIGHTUSERDATA);
    EXPECT_EQ(lua_touserdata(L, -1), &marker);
    lua_pop(L, 1);
}

TEST_F(VmTest, GlobalsAndTables) {
    lua_newtable(L);
    lua_pushnumber(L, 7);
    lua_rawseti(L, -2, 0);
    lua_pushstring(L, "x");
    lua_pushstring(L, "value");
    lua_rawset(L, -3);
    lua_pushstring(L, "t");
    lua_pushvalue(L, -2);
    lua_settable(L, LUA_GLOBALSINDEX);
    lua_settop(L, 0);

    lua_pushstring(L, "t");
    lua_gettable(L, LUA_GLOBALSINDEX);
    ASSERT_EQ(lua_type(L, 1), LUA_TTABLE);
    lua_rawgeti(L, 1, 0);
    EXPECT_EQ(lua_tonumber(L, -1), 7);
    lua_pushnil(L); // a nil key means key 0
    lua_rawget(L, 1);
    EXPECT_EQ(lua_tonumber(L, -1), 7);
    lua_pushstring(L, "x");
    lua_gettable(L, 1);
    EXPECT_STREQ(lua_tostring(L, -1), "value");
}

TEST_F(VmTest, ConversionsFollowTheInterfaceRules) {
    lua_pushnumber(L, 0);
    lua_pushnil(L);
    lua_pushstring(L, "");
    lua_pushnumber(L, 1.5);
    EXPECT_EQ(lua_toboolean(L, 1), 1); // 0 is true for the interface
    EXPECT_EQ(lua_toboolean(L, 2), 0);
    EXPECT_EQ(lua_toboolean(L, 3), 1);
    EXPECT_EQ(lua_isnumber(L, 2), 1);
    EXPECT_EQ(lua_tonumber(L, 2), 0);
    EXPECT_STREQ(lua_tostring(L, 4), "1.5");
    EXPECT_EQ(lua_type(L, 4), LUA_TSTRING); // converted in place
    EXPECT_STREQ(lua_tostring(L, 2), "");
    EXPECT_EQ(lua_type(L, 5), LUA_TNONE);
    EXPECT_STREQ(lua_typename(L, LUA_TNONE), "no value");
}

static int pushMany(lua_State *L) {
    for (int i = 0; i < 21; i++) lua_pushnumber(L, i);
    return 21;
}

static int pushManyChecked(lua_State *L) {
    if (!lua_checkstack(L, 30)) return 1135;
    for (int i = 0; i < 30; i++) lua_pushnumber(L, i);
    return 30;
}

TEST_F(VmTest, PushBeyondTheFrameRaises1135) {
    lua_pushcfunction(L, pushMany);
    EXPECT_EQ(lua_pcall(L, 0, 0, 0), 1135);
    EXPECT_EQ(lua_gettop(L), 0);
    lua_pushcfunction(L, pushManyChecked);
    EXPECT_EQ(lua_pcall(L, 0, LUA_MULTRET, 0), 0);
    EXPECT_EQ(lua_gettop(L), 30);
}

static int badIndex(lua_State *L) {
    lua_type(L, 0);
    return 0;
}

TEST_F(VmTest, IndexZeroRaises1135) {
    lua_pushcfunction(L, badIndex);
    EXPECT_EQ(lua_pcall(L, 0, 0, 0), 1135);
}

TEST_F(VmTest, FreshStateAccounting) {
    // 512 bytes for the two state records, then the initial objects
    EXPECT_GT(lua_getgccount(L), 0);
    EXPECT_GE(lua_getgcthreshold(L), 4 * lua_getgccount(L) - 1);
    EXPECT_EQ(lua_getmetatable(L, LUA_GLOBALSINDEX), 0); // the default metatable counts as none
}

} // namespace
