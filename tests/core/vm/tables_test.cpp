// Strings, tables and conversions, exercised on the internal functions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/vm/ldo.h"
#include "core/vm/lstring.h"
#include "core/vm/ltable.h"

namespace {

struct TableTest : ::testing::Test {
    lua_State *L = nullptr;
    void SetUp() override { L = lua_open(); ASSERT_NE(L, nullptr); }
    void TearDown() override { lua_close(L); }
    Table *newtable() {
        lua_newtable(L); // anchored on the stack
        return hvalue(L->top - 1);
    }
};

TValue number(double n) { TValue v; setnvalue(&v, n); return v; }

TEST_F(TableTest, NilKeyIsKeyZero) {
    Table *t = newtable();
    TValue nilkey;
    setnilvalue(&nilkey);
    setnvalue(luaH_set(L, t, &nilkey), 5);
    EXPECT_EQ(nvalue(luaH_getnum(t, 0)), 5);
    TValue zero = number(0);
    EXPECT_EQ(nvalue(luaH_get(t, &zero)), 5);
    TValue negzero = number(-0.0);
    EXPECT_EQ(nvalue(luaH_get(t, &negzero)), 5);
}

TEST_F(TableTest, RehashPutsKeysOneToNineInTheArray) {
    Table *t = newtable();
    for (int i = 0; i <= 9; i++) setnvalue(luaH_setnum(L, t, i), i);
    setnvalue(luaH_setstr(L, t, luaS_new(L, "a")), 1);
    setnvalue(luaH_setstr(L, t, luaS_new(L, "b")), 1); // forces a rehash
    EXPECT_EQ(t->sizearray, 16);
    for (int i = 1; i <= 9; i++) EXPECT_EQ(nvalue(&t->array[i - 1]), i);
    EXPECT_EQ(nvalue(luaH_getnum(t, 0)), 0); // key 0 lives in the hash part
}

TEST_F(TableTest, ModelCheckAgainstStdMap) {
    // Once created empty, once with four nodes in the table's own block,
    // which it leaves as it grows and takes again when it shrinks back.
    for (int lnhash : {0, 2}) {
        lua_settop(L, 0);
        lua_newsizedtable(L, 0, lnhash);
        Table *t = hvalue(L->top - 1);
        const Node *own = reinterpret_cast<const Node *>(t + 1);
        bool left = false, back = false;
        std::map<double, double> model;
        std::mt19937 rng(7);
        auto set = [&](double key, double val) {
            TValue k = number(key);
            setnvalue(luaH_set(L, t, &k), val);
            model[key] = val;
        };
        auto clear = [&](double key) {
            TValue k = number(key);
            setnilvalue(luaH_set(L, t, &k));
            model.erase(key);
        };
        for (int step = 0; step < 40000; step++) {
            if (step / 5000 % 2 == 0) {
                double key = static_cast<int>(rng() % 16) - 8;
                if (rng() % 4 == 0) key += 0.5;
                if (rng() % 3 == 0) clear(key);
                else set(key, step);
            } else {
                // fresh keys of which the last two live: the table shrinks
                if (step % 5000 == 0)
                    while (!model.empty()) clear(model.begin()->first);
                set(-1000.0 - rng() % 100000, step);
                while (model.size() > 2) clear(model.begin()->first);
            }
            if (t->node != own) left = true;
            else if (left) back = true;
        }
        for (auto [k, v] : model) {
            TValue key = number(k);
            const TValue *got = luaH_get(t, &key);
            ASSERT_TRUE(ttisnumber(got)) << k;
            EXPECT_EQ(nvalue(got), v);
        }
        // traversal visits every live entry once
        size_t count = 0;
        lua_pushnil(L);
        while (lua_next(L, -2)) {
            count++;
            lua_pop(L, 1);
        }
        EXPECT_EQ(count, model.size());
        EXPECT_EQ(back, lnhash != 0);
    }
}

int nextWithBadKey(lua_State *L) {
    lua_newtable(L);
    lua_pushstring(L, "absent");
    lua_next(L, -2);
    return 0;
}

int nanKey(lua_State *L) {
    lua_newtable(L);
    lua_pushnumber(L, NAN);
    lua_pushnumber(L, 1);
    lua_rawset(L, -3);
    return 0;
}

TEST_F(TableTest, ErrorsOfTableOperations) {
    EXPECT_EQ(lua_cpcall(L, nextWithBadKey, nullptr), 1206);
    EXPECT_EQ(lua_cpcall(L, nanKey, nullptr), 1208);
    EXPECT_EQ(lua_cpcall(L, [](lua_State *L) -> int {
        lua_newsizedtable(L, 0, 25);
        return 0;
    }, nullptr), 1207);
}

TEST_F(TableTest, StringsAreInterned) {
    TString *a = luaS_newlstr(L, "hello\0world", 11);
    TString *b = luaS_newlstr(L, "hello\0world", 11);
    TString *c = luaS_newlstr(L, "hello", 5);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    // many strings grow the bucket array and stay findable
    lua_newtable(L);
    for (int i = 0; i < 5000; i++) {
        std::string s = "key" + std::to_string(i);
        lua_pushstring(L, s.c_str());
        lua_pushnumber(L, i);
        lua_rawset(L, -3);
    }
    EXPECT_GE(G(L)->strt.size, 4096);
    lua_pushstring(L, "key4321");
    lua_rawget(L, -2);
    EXPECT_EQ(lua_tonumber(L, -1), 4321);
}

TEST_F(TableTest, StringHashFollowsTheRule) {
    // h = len; step = (len >> 5) + 1; for i = len down to step: h ^= (h<<5) + (h>>2) + byte[i-1]
    std::string s(100, 'x');
    for (size_t i = 0; i < s.size(); i++) s[i] = static_cast<char>('a' + i % 26);
    uint32_t h = static_cast<uint32_t>(s.size());
    size_t step = (s.size() >> 5) + 1;
    for (size_t l1 = s.size(); l1 >= step; l1 -= step) h = h ^ ((h << 5) + (h >> 2) + static_cast<unsigned char>(s[l1 - 1]));
    EXPECT_EQ(luaS_newlstr(L, s.data(), s.size())->hash, h);
}

TEST_F(TableTest, NumberKeysStartAtTheRuleMainPosition) {
    // the 64 bits of x + 1.0, low half plus high half, modulo ((n - 1) | 1):
    // the main position decides the traversal order scripts see
    std::mt19937_64 rng(11);
    for (int lsize = 0; lsize <= 16; lsize++) {
        lua_settop(L, 0);
        Table *t = luaH_new(L, 0, lsize);
        sethvalue(L->top, t);
        L->top++;
        uint32_t n = 1u << lsize;
        for (int i = 0; i < 2000; i++) {
            double x;
            uint64_t raw = rng();
            if (i < 2) x = i == 0 ? -1.0 : 4294967295.0; // sums of 0 and of the largest halves
            else if (i % 2) x = static_cast<double>(static_cast<int64_t>(raw % 2000000) - 1000000);
            else std::memcpy(&x, &raw, sizeof x);
            if (std::isnan(x)) continue;
            double x1 = x + 1.0;
            uint64_t bits;
            std::memcpy(&bits, &x1, sizeof bits);
            uint32_t sum = static_cast<uint32_t>(bits) + static_cast<uint32_t>(bits >> 32);
            TValue key = number(x);
            EXPECT_EQ(luaH_mainposition(t, &key) - t->node, static_cast<ptrdiff_t>(sum % ((n - 1) | 1)))
                << "x " << x << " size " << n;
        }
    }
}

TEST(Conversions, NumberParsing) {
    lua_Number n;
    EXPECT_TRUE(luaO_str2d("$ff", &n)); EXPECT_EQ(n, 255);
    EXPECT_TRUE(luaO_str2d("0x1F", &n)); EXPECT_EQ(n, 31);
    EXPECT_TRUE(luaO_str2d(" 12 ", &n)); EXPECT_EQ(n, 12);
    EXPECT_TRUE(luaO_str2d("1e3\t", &n)); EXPECT_EQ(n, 1000);
    EXPECT_TRUE(luaO_str2d("-2.5", &n)); EXPECT_EQ(n, -2.5);
    EXPECT_FALSE(luaO_str2d("12abc", &n));
    EXPECT_FALSE(luaO_str2d("", &n));
    EXPECT_FALSE(luaO_str2d("0x", &n));
    EXPECT_FALSE(luaO_str2d("$", &n));
    EXPECT_FALSE(luaO_str2d("$fg", &n));
    char buf[32];
    luaO_num2str(0.1, buf); EXPECT_STREQ(buf, "0.1");
    luaO_num2str(1e15, buf); EXPECT_STREQ(buf, "1e+15");
    luaO_num2str(123456789012.0, buf); EXPECT_STREQ(buf, "123456789012");
}

// Whole numbers take a shortcut; every number must still print as "%.14g".
TEST(Conversions, NumberPrintingMatchesTheFormat) {
    std::vector<double> values = {0.0, -0.0, 1, -1, 9, 10, -10, 99999999999999.0, -99999999999999.0,
                                  1e14, -1e14, 1e14 - 1, 123456789012345.0, 0.5, -2.5, 1e300, -1e-300,
                                  4294967296.0, -2147483649.0, 9007199254740993.0, 1e14 + 0.5};
    for (double v = 1; v < 1e16; v = v * 3 + 1) {
        values.push_back(v);
        values.push_back(-v);
        values.push_back(v + 0.25);
    }
    for (double v : values) {
        char ours[32], ref[32];
        luaO_num2str(v, ours);
        std::snprintf(ref, sizeof ref, "%.14g", v);
        EXPECT_STREQ(ours, ref) << v;
    }
}

TEST(Conversions, ChunkIds) {
    char out[60];
    luaO_chunkid(out, "=stdin", sizeof out);
    EXPECT_STREQ(out, "stdin");
    luaO_chunkid(out, "@short.qxs", sizeof out);
    EXPECT_STREQ(out, "short.qxs");
    std::string longname = "@" + std::string(80, 'd') + "/file.qxs";
    luaO_chunkid(out, longname.c_str(), sizeof out);
    EXPECT_EQ(std::string(out).substr(0, 3), "...");
    EXPECT_EQ(std::string(out).size(), 3u + 52u);
    EXPECT_EQ(std::string(out).substr(std::string(out).size() - 9), "/file.qxs");
    luaO_chunkid(out, "x = 1\ny = 2", sizeof out);
    EXPECT_STREQ(out, "[string \"x = 1...\"]");
    luaO_chunkid(out, "x = 1", sizeof out);
    EXPECT_STREQ(out, "[string \"x = 1\"]");
}

} // namespace
