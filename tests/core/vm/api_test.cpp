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
    if (!qxVmGcStress) {
        EXPECT_GE(lua_getgcthreshold(L), 4 * lua_getgccount(L) - 1);
    }
    EXPECT_EQ(lua_getmetatable(L, LUA_GLOBALSINDEX), 0); // the default metatable counts as none
}

} // namespace

namespace {

struct ThreadTest : ::testing::Test {
    lua_State *L = nullptr;
    void SetUp() override { L = lua_open(); ASSERT_NE(L, nullptr); }
    void TearDown() override { lua_close(L); }
};

int upvalueSum(lua_State *L) {
    int n = lua_pushupvalues(L);
    double sum = 0;
    for (int i = 1; i <= n; i++) sum += lua_tonumber(L, -i);
    lua_pushnumber(L, sum);
    return 1;
}

TEST_F(ThreadTest, NativeUpvaluesAndPseudoIndexes) {
    lua_pushnumber(L, 2);
    lua_pushnumber(L, 3);
    lua_pushcclosure(L, upvalueSum, 2);
    EXPECT_STREQ(lua_getupvalue(L, -1, 1), "");
    EXPECT_EQ(lua_tonumber(L, -1), 2);
    lua_pop(L, 1);
    EXPECT_EQ(lua_getupvalue(L, -1, 3), nullptr);
    lua_pushnumber(L, 10);
    EXPECT_STREQ(lua_setupvalue(L, -2, 2), "");
    ASSERT_EQ(lua_pcall(L, 0, 1, 0), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 12);
    lua_pushcclosure(L, [](lua_State *L) -> int {
        lua_pushnumber(L, lua_type(L, lua_upvalueindex(1)));
        lua_pushnumber(L, lua_type(L, lua_upvalueindex(2)));
        return 2;
    }, 1);
    ASSERT_EQ(lua_pcall(L, 0, 2, 0), 0);
    EXPECT_EQ(lua_tonumber(L, -2), LUA_TNUMBER);
    EXPECT_EQ(lua_tonumber(L, -1), LUA_TNONE);
}

TEST_F(ThreadTest, StackEditing) {
    for (int i = 1; i <= 4; i++) lua_pushnumber(L, i);
    lua_insert(L, 1);   // 4 1 2 3
    lua_remove(L, 2);   // 4 2 3
    lua_pushnumber(L, 9);
    lua_replace(L, -2); // 4 2 9
    ASSERT_EQ(lua_gettop(L), 3);
    EXPECT_EQ(lua_tonumber(L, 1), 4);
    EXPECT_EQ(lua_tonumber(L, 2), 2);
    EXPECT_EQ(lua_tonumber(L, 3), 9);
    lua_concat(L, 3);
    EXPECT_STREQ(lua_tostring(L, -1), "429");
    lua_concat(L, 0);
    EXPECT_STREQ(lua_tostring(L, -1), "");
    EXPECT_TRUE(lua_lessthan(L, -1, -2, 0));
    EXPECT_FALSE(lua_equal(L, -1, 5)); // not a valid index
}

} // namespace
