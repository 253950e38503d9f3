// The collector: reachability, weak tables, finalisers, thresholds.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/vm/ldo.h"
#include "core/vm/lgc.h"
#include "core/vm/qx_vmregs.h"
#include "chunk_writer.h"

using namespace chunktest;

namespace {

struct GcTest : ::testing::Test {
    lua_State *L = nullptr;
    void SetUp() override { L = lua_open(); ASSERT_NE(L, nullptr); }
    void TearDown() override {
        if (L) lua_close(L);
    }
    void collect() { lua_setgcthreshold(L, 0); }
    int countUserdata() {
        int n = 0;
        for (GCObject *o = G(L)->rootudata; o; o = o->next) n++;
        return n;
    }
};

int finalised = 0;
int onGc(lua_State *L) {
    if (lua_type(L, 1) == LUA_TUSERDATA) finalised++;
    return 0;
}

void pushUserdataWithGc(lua_State *L) {
    lua_newuserdata(L, 64);
    lua_newtable(L);
    lua_pushstring(L, "__gc");
    lua_pushcfunction(L, onGc);
    lua_settable(L, -3);
    lua_setmetatable(L, -2);
}

TEST_F(GcTest, WeakKeysLoseUnreferencedTables) {
    lua_newtable(L); // 1: the weak table
    lua_newtable(L);
    lua_pushstring(L, "__mode");
    lua_pushstring(L, "k");
    lua_settable(L, -3);
    lua_setmetatable(L, 1);
    lua_newtable(L); // 2: a key kept alive
    lua_pushvalue(L, 2);
    lua_pushnumber(L, 1);
    lua_settable(L, 1);
    lua_newtable(L); // a key nobody references
    lua_pushnumber(L, 2);
    lua_settable(L, 1);
    lua_pushstring(L, "s");
    lua_pushnumber(L, 3);
    lua_settable(L, 1);
    collect();
    int n = 0;
    lua_pushnil(L);
    while (lua_next(L, 1)) {
        n++;
        if (lua_type(L, -2) == LUA_TTABLE) {
            EXPECT_TRUE(lua_rawequal(L, -2, 2));
        }
        lua_pop(L, 1);
    }
    EXPECT_EQ(n, 2);
    lua_pushstring(L, "s");
    lua_rawget(L, 1);
    EXPECT_EQ(lua_tonumber(L, -1), 3);
}

TEST_F(GcTest, WeakValues) {
    lua_newtable(L);
    lua_newtable(L);
    lua_pushstring(L, "__mode");
    lua_pushstring(L, "v");
    lua_settable(L, -3);
    lua_setmetatable(L, 1);
    lua_newtable(L);
    lua_rawseti(L, 1, 1);
    lua_pushstring(L, "text");
    lua_rawseti(L, 1, 2);
    collect();
    lua_rawgeti(L, 1, 1);
    EXPECT_TRUE(lua_isnil(L, -1));
    lua_rawgeti(L, 1, 2);
    EXPECT_STREQ(lua_tostring(L, -1), "text");
}

TEST_F(GcTest, FinaliserRunsOnceAndTheUserdataGoesNextCycle) {
    if (qxVmGcStress) GTEST_SKIP() << "counts cycles; the stress collector adds its own";
    finalised = 0;
    int before = countUserdata();
    pushUserdataWithGc(L);
    collect();
    EXPECT_EQ(finalised, 0); // still referenced
    lua_pop(L, 1);
    collect();
    EXPECT_EQ(finalised, 1);
    EXPECT_EQ(countUserdata(), before + 1); // back on the list, freed next cycle
    collect();
    EXPECT_EQ(finalised, 1);
    EXPECT_EQ(countUserdata(), before);
}

TEST_F(GcTest, CloseRunsPendingFinalisers) {
    finalised = 0;
    pushUserdataWithGc(L);
    pushUserdataWithGc(L);
    lua_close(L);
    L = nullptr;
    EXPECT_EQ(finalised, 2);
}

// Permanent strings outlive collections unreferenced and stay interned;
// one longer than a shared block gets its own. A C function without
// upvalues made meanwhile shares the blocks and is never freed alone.
// Closing frees them all.
TEST_F(GcTest, PermanentObjectsOutliveCollections) {
    lua_permanentobjects(L, 1);
    lua_pushcclosure(L, onGc, 0);
    lua_pushnumber(L, 1);
    lua_pushcclosure(L, onGc, 1);
    lua_pop(L, 2);
    std::vector<std::string> names;
    std::vector<const char *> made;
    for (int i = 0; i < 3000; i++) names.push_back("name" + std::to_string(i) + std::string(i % 40, 'x'));
    names.push_back(std::string(40000, 'y'));
    for (const std::string &n : names) {
        lua_pushstring(L, n.c_str());
        made.push_back(lua_tostring(L, -1));
        lua_pop(L, 1);
    }
    lua_permanentobjects(L, 0);
    collect();
    collect();
    for (size_t i = 0; i < names.size(); i++) {
        lua_pushstring(L, names[i].c_str());
        EXPECT_EQ(lua_tostring(L, -1), made[i]);
        lua_pop(L, 1);
    }
}

TEST_F(GcTest, ThresholdZeroCollectsAtOnce) {
    for (int i = 0; i < 2000; i++) {
        lua_newtable(L);
        lua_pop(L, 1);
    }
    lua_setgcthreshold(L, -1); // no collection while measuring
    for (int i = 0; i < 2000; i++) {
        lua_newtable(L);
        lua_pop(L, 1);
    }
    int before = lua_getgccount(L);
    lua_setgcthreshold(L, 0);
    EXPECT_LT(lua_getgccount(L), before);
    if (!qxVmGcStress) {
        EXPECT_GE(lua_getgcthreshold(L), lua_getgccount(L));
    }
}

TEST_F(GcTest, ReachableValuesSurvive) {
    // registry -> table -> closure with an upvalue -> string
    Func inner;
    inner.nups = 1;
    inner.code = {CREATE_ABC(OP_GETUPVAL, 0, 0, 0), CREATE_ABC(OP_RETURN, 0, 2, 0)};
    Func outer;
    outer.k = {str("kept")};
    outer.p = {inner};
    outer.code = {CREATE_ABx(OP_LOADK, 0, 0), CREATE_ABx(OP_CLOSURE, 1, 0), CREATE_ABC(OP_MOVE, 0, 0, 0),
                  CREATE_ABC(OP_CLOSE, 0, 0, 0), CREATE_ABC(OP_RETURN, 1, 2, 0)};
    ASSERT_EQ(load(L, chunk(outer)), 0);
    ASSERT_EQ(lua_pcall(L, 0, 1, 0), 0);
    lua_pushstring(L, "holder");
    lua_newtable(L);
    lua_pushvalue(L, 1);
    lua_rawseti(L, -2, 0);
    lua_settable(L, LUA_REGISTRYINDEX);
    lua_settop(L, 0);
    for (int i = 0; i < 3; i++) collect();
    lua_pushstring(L, "holder");
    lua_gettable(L, LUA_REGISTRYINDEX);
    lua_rawgeti(L, -1, 0);
    ASSERT_EQ(lua_pcall(L, 0, 1, 0), 0);
    EXPECT_STREQ(lua_tostring(L, -1), "kept");
}

TEST_F(GcTest, ScriptAllocatingUnderALowThreshold) {
    // t = {}; for i = 1, 3000 do t[i % 50] = i .. "x" end; return t[7]
    Func f;
    f.k = {num(50), str("x"), num(7)};
    f.code = {CREATE_ABC(OP_NEWTABLE, 0, 0, 0), CREATE_ABC(OP_LOADNUM, 1, 0, 0), CREATE_ABx(OP_LOADK, 2, 0),
              CREATE_ABC(OP_LOADNUM, 3, 1, 0),
              CREATE_ABC(OP_MUL, 2, 2, K(0)), // limit = 2500
              CREATE_J(5, 0),
              CREATE_ABC(OP_MOD, 4, 1, K(0)), CREATE_ABC(OP_MOVE, 5, 1, 0), CREATE_ABx(OP_LOADK, 6, 1),
              CREATE_ABC(OP_CONCAT, 5, 5, 6), CREATE_ABC(OP_SETTABLE, 0, 4, 5),
              CREATE_AsBx(OP_FORLOOP, 1, -6), CREATE_ABC(OP_GETTABLE, 1, 0, K(2)), CREATE_ABC(OP_RETURN, 1, 2, 0)};
    ASSERT_EQ(load(L, chunk(f)), 0);
    lua_pushvalue(L, 1);
    lua_setgcthreshold(L, 0);
    ASSERT_EQ(lua_pcall(L, 0, 1, 0), 0);
    EXPECT_STREQ(lua_tostring(L, -1), "2457x");
    // again with a collection forced every few instructions from the count hook
    lua_settop(L, 1);
    lua_sethook(L, [](lua_State *L, lua_Debug *, int *, CallInfo *) { lua_setgcthreshold(L, 0); }, LUA_MASKCOUNT, 3);
    ASSERT_EQ(lua_pcall(L, 0, 1, 0), 0);
    lua_sethook(L, nullptr, 0, 0);
    EXPECT_STREQ(lua_tostring(L, -1), "2457x");
}

} // namespace

TEST_F(GcTest, ReusedSmallBlocksFitEveryRequestOfTheirSizeAndCountExactly) {
    // blocks are freed and asked for again in every size up to past the
    // small-block limit; each one is filled to its requested size (the
    // sanitizer catches a block smaller than that), and reallocation keeps
    // the contents in both directions across the limit
    size_t before = G(L)->nblocks;
    std::vector<std::pair<unsigned char *, size_t>> blocks;
    for (int round = 0; round < 3; round++) {
        for (size_t n = 1; n <= 300; n++) {
            auto *p = static_cast<unsigned char *>(luaM_realloc(L, nullptr, 0, n));
            std::memset(p, static_cast<int>(n & 0xFF), n);
            blocks.emplace_back(p, n);
        }
        for (size_t i = round % 2; i < blocks.size(); i += 2) { // free half, out of order
            luaM_realloc(L, blocks[i].first, blocks[i].second, 0);
            blocks[i].first = nullptr;
        }
        std::erase_if(blocks, [](auto &b) { return b.first == nullptr; });
    }
    for (auto &[p, n] : blocks) {
        for (size_t i = 0; i < n; i++) ASSERT_EQ(p[i], n & 0xFF);
        size_t grown = n * 2 + 7;
        p = static_cast<unsigned char *>(luaM_realloc(L, p, n, grown));
        for (size_t i = 0; i < n; i++) ASSERT_EQ(p[i], n & 0xFF);
        std::memset(p, 0xAB, grown);
        p = static_cast<unsigned char *>(luaM_realloc(L, p, grown, n));
        for (size_t i = 0; i < n; i++) ASSERT_EQ(p[i], 0xAB);
    }
    for (auto &[p, n] : blocks) luaM_realloc(L, p, n, 0);
    EXPECT_EQ(G(L)->nblocks, before);
}
