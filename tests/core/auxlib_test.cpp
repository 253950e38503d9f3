// The auxiliary library: references, sizes, string buffers, registration,
// constants, labels, metatables and registry values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/vm/lauxlib.h"
#include "testlib.h"

namespace {

struct AuxTest : ::testing::Test {
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
};

TEST_F(AuxTest, ReferencesStartAtThreeAndAreReused) {
    lua_newtable(L);
    lua_pushstring(L, "a");
    EXPECT_EQ(luaL_ref(L, 1), 3);
    lua_pushstring(L, "b");
    EXPECT_EQ(luaL_ref(L, 1), 4);
    lua_pushnil(L);
    EXPECT_EQ(luaL_ref(L, 1), LUA_REFNIL);
    EXPECT_EQ(lua_gettop(L), 1);
    luaL_unref(L, 1, 3);
    lua_pushstring(L, "c");
    EXPECT_EQ(luaL_ref(L, 1), 3);
    lua_rawgeti(L, 1, 3);
    EXPECT_STREQ(lua_tostring(L, -1), "c");
    lua_pushstring(L, "d");
    EXPECT_EQ(luaL_ref(L, 1), 5);
    lua_settop(L, 0);

    // The registry hands out references the same way.
    lua_pushnumber(L, 1);
    int r = luaL_ref(L, LUA_REGISTRYINDEX);
    EXPECT_GE(r, 3);
    luaL_unref(L, LUA_REGISTRYINDEX, r);
    lua_pushnumber(L, 2);
    EXPECT_EQ(luaL_ref(L, LUA_REGISTRYINDEX), r);
}

TEST_F(AuxTest, SizesFromFieldWeakTableOrCount) {
    lua_newtable(L);
    for (int i = 1; i <= 3; i++) {
        lua_pushnumber(L, i);
        lua_rawseti(L, 1, i);
    }
    EXPECT_EQ(luaL_getn(L, 1), 3);
    luaL_setn(L, 1, 10);
    EXPECT_EQ(luaL_getn(L, 1), 10);
    lua_pushstring(L, "n");
    lua_pushnumber(L, 7);
    lua_rawset(L, 1);
    EXPECT_EQ(luaL_getn(L, -1), 7);
    luaL_setn(L, 1, 8);
    lua_pushstring(L, "n");
    lua_rawget(L, 1);
    EXPECT_EQ(lua_tonumber(L, -1), 8);
}

TEST_F(AuxTest, BuffersJoinManyPieces) {
    std::string expect;
    luaL_Buffer b;
    luaL_buffinit(L, &b);
    for (int i = 0; i < 3000; i++) {
        std::string piece = std::to_string(i) + ",";
        luaL_addstring(&b, piece.c_str());
        expect += piece;
        if (i % 500 == 0) {
            std::string big(1500 + i, static_cast<char>('a' + i % 26));
            lua_pushlstring(L, big.data(), big.size());
            luaL_addvalue(&b);
            expect += big;
        }
        luaL_addchar(&b, ';');
        expect += ';';
        EXPECT_LT(b.lvl, 12);
    }
    lua_pushstring(L, "short");
    luaL_addvalue(&b);
    expect += "short";
    luaL_pushresult(&b);
    ASSERT_EQ(lua_gettop(L), 1);
    EXPECT_EQ(std::string(lua_tostring(L, 1), lua_strlen(L, 1)), expect);

    luaL_buffinit(L, &b);
    luaL_pushresult(&b);
    EXPECT_STREQ(lua_tostring(L, -1), "");
}

int dummy(lua_State *) { return 0; }

TEST_F(AuxTest, OpenlibIntoNamedOrTopTable) {
    const luaL_reg rows[] = {{"DoThing", dummy}, {"Other", nullptr}, {nullptr, nullptr}};
    EXPECT_EQ(luaL_openlib(L, "mylib", rows, 0), 1);
    ASSERT_TRUE(lua_istable(L, -1));
    lua_pushstring(L, "dothing");
    lua_rawget(L, -2);
    EXPECT_TRUE(lua_iscfunction(L, -1));
    lua_settop(L, 0);
    lua_pushstring(L, "mylib");
    lua_gettable(L, LUA_GLOBALSINDEX);
    EXPECT_TRUE(lua_istable(L, -1));
    lua_settop(L, 0);

    const luaL_reg none[] = {{"Nothing", nullptr}, {nullptr, nullptr}};
    lua_newtable(L);
    EXPECT_EQ(luaL_openlib(L, nullptr, none, 0), 0);
    // Upvalues are shared by every closure of the table.
    lua_pushnumber(L, 99);
    EXPECT_EQ(luaL_openlib(L, nullptr, rows, 1), 1);
    EXPECT_EQ(lua_gettop(L), 1);
    lua_pushstring(L, "dothing");
    lua_rawget(L, 1);
    EXPECT_STREQ(lua_getupvalue(L, -1, 1), "");
    EXPECT_EQ(lua_tonumber(L, -1), 99);
}

TEST_F(AuxTest, ConstantsOfBothTables) {
    const qxConstantDef rows[] = {{"QX_LINUX", nullptr, 1}, {"MyText", "x", 0}, {nullptr, nullptr, 0}};
    luaL_registerconstants(L, rows, 0);
    const qxConstantDef user[] = {{"QX_64BIT", nullptr, 1}, {"Mine", nullptr, 5}, {nullptr, nullptr, 0}};
    luaL_registerconstants(L, user, 1);
    const char *s;
    lua_Number n;
    EXPECT_EQ(luaL_getconstant(L, "MYTEXT", &s, &n), 1);
    EXPECT_STREQ(s, "x");
    EXPECT_EQ(luaL_getconstant(L, "mine", &s, &n), 1);
    EXPECT_EQ(n, 5);
    EXPECT_EQ(luaL_getconstant(L, "qx_64bit", &s, &n), 1);
    EXPECT_EQ(lua_gettop(L), 0);

    const char *const list[] = {"a", "b", nullptr};
    EXPECT_EQ(luaL_findstring("b", list), 1);
    EXPECT_EQ(luaL_findstring("c", list), -1);
}

// Registered names are interned in lower case, cut at 127 characters, as
// the same string a script's own name gives: for every length class of
// the string hash, bytes next to the capitals and bytes above 0x7F.
TEST_F(AuxTest, RegisteredNamesAreTheInternedLowerCase) {
    const char pattern[] = "aZ@[`{\xC1\xDAQ_x9\x80Mz";
    lua_newtable(L);
    for (int len = 0; len <= 140; len++) {
        std::string name, lower;
        for (int i = 0; i < len; i++) name += pattern[(i * 7 + len) % (sizeof pattern - 1)];
        for (size_t i = 0; i < name.size() && i < 127; i++)
            lower += name[i] >= 'A' && name[i] <= 'Z' ? static_cast<char>(name[i] + 32) : name[i];
        lua_pushnumber(L, len);
        lua_rawsetlower(L, 1, name.c_str(), 127);
        lua_pushlstring(L, lower.data(), lower.size());
        lua_rawget(L, 1);
        EXPECT_EQ(lua_tonumber(L, -1), len) << name;
        lua_pop(L, 1);
    }
}

constexpr qxCommandDef preparedRows[] = {
    {"MixedCase", dummy}, {"Skipped", nullptr}, {"xy", dummy},
    {"LongNameNameNameNameNameNameNameNameNameNameNameNameNameNameNameNameNameNameNameNameNameNameNameNameNameNameNameNameNameNameNameEnd", dummy}, {nullptr, nullptr},
};

// Names prepared when the program is built register as the same keys, in
// the same order, as the names lowered at run time.
TEST_F(AuxTest, PreparedNamesRegisterAsTheLoweredOnes) {
    lua_newtable(L);
    EXPECT_EQ(luaL_openlib(L, nullptr, preparedRows, 0, &qxNamesOf<preparedRows>), 1);
    lua_newtable(L);
    EXPECT_EQ(luaL_openlib(L, nullptr, preparedRows, 0), 1);
    std::vector<std::string> keys[2];
    for (int t = 1; t <= 2; t++) {
        lua_pushnil(L);
        while (lua_next(L, t)) {
            lua_pop(L, 1);
            keys[t - 1].emplace_back(lua_tostring(L, -1), lua_strlen(L, -1));
        }
    }
    EXPECT_EQ(keys[0], keys[1]);
    ASSERT_EQ(keys[0].size(), 3u);
    EXPECT_EQ(keys[0][0].size() + keys[0][1].size() + keys[0][2].size(), 9u + 2u + 127u);
    for (const std::string &key : keys[0]) {
        lua_pushlstring(L, key.data(), key.size());
        lua_rawget(L, 1);
        EXPECT_TRUE(lua_iscfunction(L, -1)) << key;
        lua_pop(L, 1);
    }
}

TEST_F(AuxTest, Labels) {
    EXPECT_EQ(luaL_findlabel(L, "Start"), -1);
    luaL_setlabel(L, "OnButtonClick1", 17);
    EXPECT_EQ(luaL_findlabel(L, "onbuttonclick1"), 17);
}

TEST_F(AuxTest, MetatablesAndRegistryValues) {
    EXPECT_EQ(luaL_newmetatable(L, "thing"), 1);
    lua_pushstring(L, "__index");
    lua_pushstring(L, "meta");
    lua_rawset(L, -3);
    EXPECT_EQ(luaL_newmetatable(L, "thing"), 0);
    lua_settop(L, 0);
    lua_newuserdata(L, 8);
    luaL_getmetatable(L, "thing");
    lua_setmetatable(L, 1);
    EXPECT_NE(luaL_checkudata(L, 1, "thing"), nullptr);
    EXPECT_EQ(luaL_checkudata(L, 1, "other"), nullptr);
    EXPECT_EQ(luaL_getmetafield(L, 1, "__index"), 1);
    EXPECT_STREQ(lua_tostring(L, -1), "meta");
    EXPECT_EQ(luaL_getmetafield(L, 1, "__gc"), 0);
    lua_settop(L, 0);

    int marker;
    luaL_setregptr(L, "p", &marker);
    luaL_setregstr(L, "s", "text");
    luaL_setregnum(L, "n", 4.5);
    EXPECT_EQ(luaL_getregptr(L, "p"), &marker);
    EXPECT_STREQ(luaL_getregstr(L, "s"), "text");
    EXPECT_EQ(luaL_getregnum(L, "n"), 4.5);
    EXPECT_EQ(lua_gettop(L), 0);
}

} // namespace
