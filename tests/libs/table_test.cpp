// Table commands: lists from index 0, iteration through callbacks, sorting
// (also with broken order functions), metatables, copies, and object data.
#include <algorithm>
#include <random>

#include "core/commands/qx_objreg.h"
#include "libtest.h"

namespace {

using libtest::Arg;
using libtest::LibTest;
using libtest::list;
using libtest::Nil;

struct TableTest : LibTest {
    // The list at stack index idx as numbers (strings as their length + 1000).
    std::vector<double> items(int idx) {
        std::vector<double> out;
        for (int i = 0;; i++) {
            lua_rawgeti(L, idx, i);
            if (lua_isnil(L, -1)) {
                lua_pop(L, 1);
                break;
            }
            out.push_back(lua_type(L, -1) == LUA_TSTRING ? 1000 + static_cast<double>(lua_strlen(L, -1))
                                                         : lua_tonumber(L, -1));
            lua_pop(L, 1);
        }
        return out;
    }
    // Keeps a table in the registry so that several calls can share it.
    int keep(const std::function<void(lua_State *)> &make) {
        make(L);
        return luaL_ref(L, LUA_REGISTRYINDEX);
    }
    static std::function<void(lua_State *)> ref(int r) {
        return [r](lua_State *S) { lua_rawgeti(S, LUA_REGISTRYINDEX, r); };
    }
    std::vector<double> itemsOf(int r) {
        lua_rawgeti(L, LUA_REGISTRYINDEX, r);
        std::vector<double> v = items(lua_gettop(L));
        lua_pop(L, 1);
        return v;
    }
};

using V = std::vector<double>;

TEST_F(TableTest, ListCommands) {
    libtest::Result r = call("Pack", {1, 2, 3});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(items(1), (V{1, 2, 3}));
    r = call("Unpack", {list({1, 2, 3})});
    ASSERT_EQ(r.v.size(), 3u);
    EXPECT_EQ(r.num(2), 3);
    EXPECT_EQ(num("ListItems", {list({1, 2, 3})}), 3);
    EXPECT_EQ(num("ListItems", {list({})}), 0);
    int t = keep(list({1, 2, 3}));
    call("InsertItem", {ref(t), 9, 0});
    EXPECT_EQ(itemsOf(t), (V{9, 1, 2, 3}));
    call("InsertItem", {ref(t), 8});
    EXPECT_EQ(itemsOf(t), (V{9, 1, 2, 3, 8}));
    call("InsertItem", {ref(t), 7, 99});
    EXPECT_EQ(itemsOf(t), (V{9, 1, 2, 3, 8, 7}));
    EXPECT_EQ(num("RemoveItem", {ref(t)}), 7);
    EXPECT_EQ(num("RemoveItem", {ref(t), 0}), 9);
    EXPECT_EQ(itemsOf(t), (V{1, 2, 3, 8}));
    EXPECT_EQ(num("RemoveItem", {ref(t), 1}), 2);
    EXPECT_EQ(itemsOf(t), (V{1, 3, 8}));
    EXPECT_TRUE(call("RemoveItem", {list({})}).v.empty());
    EXPECT_EQ(str("Concat", {list({"a", "b", "c"}), ","}), "a,b,c");
    EXPECT_EQ(str("Concat", {list({"a", "b", "c"}), ",", 1}), "b,c");
    EXPECT_EQ(str("Concat", {list({"a", 2, "c"})}), "a2c");
    EXPECT_EQ(str("Concat", {list({"a", "b", "c"}), ",", 2, 1}), "");
    EXPECT_EQ(status("Concat", {list({"a", list({}), "c"})}), ERR_STRINGEXPECTED);
    EXPECT_EQ(status("Unpack", {"x"}), ERR_TABEXPECTED);
}

TEST_F(TableTest, SortWithoutOrder) {
    int t = keep(list({5, 3, 9, 1}));
    EXPECT_EQ(status("Sort", {ref(t)}), 0);
    EXPECT_EQ(itemsOf(t), (V{1, 3, 5, 9}));
    // Without an order function the list also ends at an empty string.
    t = keep(list({"ccc", "a", "", "b"}));
    EXPECT_EQ(status("Sort", {ref(t)}), 0);
    EXPECT_EQ(itemsOf(t), (V{1001, 1003, 1000, 1001}));
    lua_rawgeti(L, LUA_REGISTRYINDEX, t);
    lua_rawgeti(L, -1, 0);
    EXPECT_STREQ(lua_tostring(L, -1), "a");
    lua_settop(L, 0);
    // Random lists of every size up to 60, many duplicates.
    std::mt19937 rng(3);
    for (int n = 0; n < 60; n++) {
        std::vector<Arg> v;
        std::vector<double> want;
        for (int i = 0; i < n; i++) {
            double x = static_cast<double>(rng() % 10);
            v.emplace_back(x);
            want.push_back(x);
        }
        std::sort(want.begin(), want.end());
        int r = keep(list(v));
        ASSERT_EQ(status("Sort", {ref(r)}), 0);
        EXPECT_EQ(itemsOf(r), want) << n;
    }
    EXPECT_EQ(status("Sort", {list({1, "a"})}), ERR_NUMSTRCMP);
}

int descending(lua_State *L) {
    lua_pushnumber(L, lua_tonumber(L, 1) > lua_tonumber(L, 2) ? 1 : 0);
    return 1;
}

TEST_F(TableTest, SortWithOrder) {
    std::mt19937 rng(5);
    std::vector<Arg> v;
    std::vector<double> want;
    for (int i = 0; i < 2000; i++) {
        double x = static_cast<double>(rng() % 500);
        v.emplace_back(x);
        want.push_back(x);
    }
    std::sort(want.begin(), want.end(), std::greater<double>());
    int t = keep(list(v));
    auto order = std::function<void(lua_State *)>([](lua_State *S) { lua_pushcfunction(S, descending); });
    ASSERT_EQ(status("Sort", {ref(t), order}), 0);
    EXPECT_EQ(itemsOf(t), want);
    EXPECT_EQ(status("Sort", {list({1, 2}), 5}), ERR_FUNCEXPECTED);
    // Order functions that contradict themselves end with 1362, never a crash.
    auto always = std::function<void(lua_State *)>([](lua_State *S) {
        lua_pushcfunction(S, [](lua_State *T) -> int {
            lua_pushnumber(T, 1);
            return 1;
        });
    });
    std::vector<Arg> many;
    for (int i = 0; i < 100; i++) many.emplace_back(i % 7);
    EXPECT_EQ(status("Sort", {list(many), always}), ERR_SORTFUNC);
    auto random = std::function<void(lua_State *)>([](lua_State *S) {
        lua_pushcfunction(S, [](lua_State *T) -> int {
            static std::mt19937 r(11);
            lua_pushnumber(T, r() % 2);
            return 1;
        });
    });
    for (int k = 0; k < 50; k++) {
        int st = status("Sort", {list(many), random});
        EXPECT_TRUE(st == 0 || st == ERR_SORTFUNC) << st;
    }
    // An order function's own error ends the sort with its code.
    auto failing = std::function<void(lua_State *)>([](lua_State *S) {
        lua_pushcfunction(S, [](lua_State *) -> int { return ERR_WRONGDTYPE; });
    });
    EXPECT_EQ(status("Sort", {list({3, 2, 1}), failing}), ERR_WRONGDTYPE);
}

TEST_F(TableTest, Iteration) {
    // ForEach stops at the first non-nil result and returns it.
    static std::vector<double> seen;
    seen.clear();
    auto collect = std::function<void(lua_State *)>([](lua_State *S) {
        lua_pushcfunction(S, [](lua_State *T) -> int {
            seen.push_back(lua_tonumber(T, 2));
            if (lua_gettop(T) == 3) seen.push_back(lua_tonumber(T, 3));
            if (lua_tonumber(T, 2) == 30) {
                lua_pushliteral(T, "stop");
                return 1;
            }
            return 0;
        });
    });
    libtest::Result r = call("ForEachI", {list({10, 20, 30, 40}), collect, 7});
    EXPECT_EQ(r.str(0), "stop");
    EXPECT_EQ(seen, (V{10, 7, 20, 7, 30, 7}));
    seen.clear();
    r = call("ForEach", {list({10, 20}), collect});
    EXPECT_TRUE(r.v.empty());
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (V{10, 20}));
    // The callback runs protected and inside the callback bracket.
    auto failing = std::function<void(lua_State *)>([](lua_State *S) {
        lua_pushcfunction(S, [](lua_State *T) -> int {
            lua_pushnumber(T, static_cast<double>(qxGetTag(QX_TAG_CALLBACKNEST)));
            return lua_tonumber(T, -1) == 1 ? ERR_WRONGDTYPE : ERR_INTERNAL;
        });
    });
    EXPECT_EQ(status("ForEach", {list({1}), failing}), ERR_WRONGDTYPE);
    EXPECT_EQ(qxGetTag(QX_TAG_CALLBACKNEST), 0u);
    // Inside another callback ForEachI adds one level and leaves it again.
    static uintptr_t inner;
    auto depth = std::function<void(lua_State *)>([](lua_State *S) {
        lua_pushcfunction(S, [](lua_State *) -> int {
            inner = qxGetTag(QX_TAG_CALLBACKNEST);
            return 0;
        });
    });
    qxCallbackNesting = 1;
    EXPECT_EQ(status("ForEachI", {list({1, 2}), depth}), 0);
    EXPECT_EQ(inner, 2u);
    EXPECT_EQ(qxCallbackNesting, 1u);
    qxCallbackNesting = 0;

    r = call("NextItem", {list({5})});
    EXPECT_EQ(r.num(0), 0);
    EXPECT_EQ(r.num(1), 5);
    r = call("NextItem", {list({5}), 0});
    EXPECT_EQ(r.v.size(), 1u);
    EXPECT_EQ(r.v[0].type, LUA_TNIL);
    r = call("Pairs", {list({5})});
    ASSERT_EQ(r.v.size(), 3u);
    EXPECT_EQ(r.v[0].type, LUA_TFUNCTION);
    EXPECT_EQ(r.v[2].type, LUA_TNIL);
    r = call("IPairs", {list({5})});
    EXPECT_EQ(r.v[0].type, LUA_TFUNCTION);
    EXPECT_EQ(r.num(2), -1);
    r = call("IPairs", {list({5, 6}), -1});
    EXPECT_EQ(r.num(0), 0);
    EXPECT_EQ(r.num(1), 5);
    r = call("IPairs", {list({5, 6}), 1});
    EXPECT_TRUE(r.v.empty());
    EXPECT_EQ(num("IsTableEmpty", {list({})}), 1);
    EXPECT_EQ(num("IsTableEmpty", {list({1})}), 0);
    EXPECT_EQ(num("TableItems", {list({1, 2, Nil{}, 4})}), 3);
}

TEST_F(TableTest, RawAccessAndMetatables) {
    auto keyed = std::function<void(lua_State *)>([](lua_State *S) {
        lua_newtable(S);
        lua_pushliteral(S, "name");
        lua_pushnumber(S, 1);
        lua_settable(S, -3);
    });
    EXPECT_EQ(num("HaveItem", {keyed, "NAME"}), 1);
    EXPECT_EQ(num("HaveItem", {keyed, "other"}), 0);
    EXPECT_EQ(num("RawGet", {keyed, "name"}), 1);
    libtest::Result r = call("RawSet", {list({}), 3, "x"});
    EXPECT_EQ(r.v[0].type, LUA_TTABLE);
    lua_rawgeti(L, 1, 3);
    EXPECT_STREQ(lua_tostring(L, -1), "x");
    EXPECT_EQ(num("RawEqual", {"a", "a"}), 1);
    EXPECT_EQ(num("RawEqual", {list({}), list({})}), 0);
    EXPECT_EQ(call("GetMetaTable", {list({})}).v[0].type, LUA_TNIL);
    int t = keep(list({}));
    r = call("SetMetaTable", {ref(t), keyed});
    EXPECT_EQ(r.v[0].type, LUA_TTABLE);
    EXPECT_EQ(call("GetMetaTable", {ref(t)}).v[0].type, LUA_TTABLE);
    EXPECT_EQ(status("SetMetaTable", {ref(t), 5}), ERR_TABLEORNIL);
    auto locked = std::function<void(lua_State *)>([](lua_State *S) {
        lua_newtable(S);
        lua_newtable(S);
        lua_pushliteral(S, "__metatable");
        lua_pushliteral(S, "locked");
        lua_settable(S, -3);
        lua_setmetatable(S, -2);
    });
    EXPECT_EQ(str("GetMetaTable", {locked}), "locked");
    EXPECT_EQ(status("SetMetaTable", {locked, Nil{}}), ERR_PROTMETATABLE);
    EXPECT_EQ(status("SetMetaTable", {ref(t), Nil{}}), 0);
}

TEST_F(TableTest, CopiesAndValues) {
    auto nested = std::function<void(lua_State *)>([](lua_State *S) {
        lua_newtable(S);
        lua_newtable(S);
        lua_pushnumber(S, 1);
        lua_rawseti(S, -2, 0);
        lua_rawseti(S, -2, 0);
    });
    libtest::Result r = call("CopyTable", {std::function<void(lua_State *)>([&](lua_State *S) {
        nested(S);
        lua_pushvalue(S, -1);
        lua_pushliteral(S, "orig");
        lua_insert(S, -2);
        lua_settable(S, LUA_GLOBALSINDEX);
    })});
    ASSERT_EQ(r.status, 0);
    lua_rawgeti(L, 1, 0);
    lua_pushliteral(L, "orig");
    lua_gettable(L, LUA_GLOBALSINDEX);
    lua_rawgeti(L, -1, 0);
    EXPECT_FALSE(lua_rawequal(L, -1, -3)); // deep: the inner table is new
    lua_settop(L, 0);
    r = call("CopyTable", {std::function<void(lua_State *)>([](lua_State *S) {
                               lua_pushliteral(S, "orig");
                               lua_gettable(S, LUA_GLOBALSINDEX);
                           }),
                           1});
    lua_rawgeti(L, 1, 0);
    lua_pushliteral(L, "orig");
    lua_gettable(L, LUA_GLOBALSINDEX);
    lua_rawgeti(L, -1, 0);
    EXPECT_TRUE(lua_rawequal(L, -1, -3)); // shallow: shared
    lua_settop(L, 0);
    // A table that holds itself copies into one that holds itself.
    auto cyclic = std::function<void(lua_State *)>([](lua_State *S) {
        lua_newtable(S);
        lua_pushvalue(S, -1);
        lua_rawseti(S, -2, 0);
    });
    r = call("CopyTable", {cyclic});
    ASSERT_EQ(r.status, 0);
    lua_rawgeti(L, 1, 0);
    EXPECT_TRUE(lua_rawequal(L, -1, 1));
    // Nesting deeper than the copy follows ends with 1135.
    auto deep = std::function<void(lua_State *)>([](lua_State *S) {
        lua_newtable(S);
        for (int i = 0; i < 1000; i++) {
            lua_newtable(S);
            lua_insert(S, -2);
            lua_rawseti(S, -2, 0);
        }
    });
    EXPECT_EQ(status("CopyTable", {deep}), ERR_STACK);

    EXPECT_EQ(num("IsNil", {Nil{}}), 1);
    EXPECT_EQ(num("IsNil", {0}), 0);
    EXPECT_EQ(str("IIf", {1, "a", "b"}), "a");
    EXPECT_EQ(str("IIf", {"", "a", "b"}), "b");
    EXPECT_EQ(str("IIf", {Nil{}, "a", "b"}), "b");
    EXPECT_EQ(str("IIf", {"x", "a", "b"}), "a");
    EXPECT_EQ(status("IIf", {list({}), "a", "b"}), ERR_WRONGDTYPE);
    EXPECT_EQ(num("GetType", {Nil{}}), 0);
    EXPECT_EQ(num("GetType", {1}), 2);
    EXPECT_EQ(num("GetType", {"s"}), 3);
    EXPECT_EQ(num("GetType", {list({})}), 4);
    EXPECT_EQ(num("GetType", {std::function<void(lua_State *)>([](lua_State *S) { lua_pushboolean(S, 1); })}), -1);
    auto ptr = std::function<void(lua_State *)>([](lua_State *S) { lua_pushlightuserdata(S, reinterpret_cast<void *>(0x1000)); });
    EXPECT_EQ(num("GetType", {ptr}), 9);
    r = call("IncreasePointer", {ptr, 16});
    EXPECT_EQ(lua_touserdata(L, 1), reinterpret_cast<void *>(0x1010));
    r = call("DecreasePointer", {ptr, 16});
    EXPECT_EQ(lua_touserdata(L, 1), reinterpret_cast<void *>(0xFF0));
}

// A registered object type of the test: two records of type 40.
qxObjectHeader *objectList;
qxObjectHeader objectA, objectB;

TEST_F(TableTest, ObjectData) {
    ASSERT_EQ(qxRegisterObjectList(&objectList, 40), 0);
    objectA = {40, 1, nullptr, &objectB, nullptr};
    objectB = {40, 0, &objectB, nullptr, nullptr};
    objectList = &objectA;
    auto handleB = std::function<void(lua_State *)>([](lua_State *S) { lua_pushlightuserdata(S, &objectB); });
    EXPECT_EQ(status("SetObjectData", {40, 1, "Key", "value"}), 0);
    EXPECT_EQ(str("GetObjectData", {40, 1, "KEY"}), "value");
    EXPECT_EQ(status("SetObjectData", {40, 1, "key", 5}), 0);
    EXPECT_EQ(num("GetObjectData", {40, 1, "key"}), 5);
    EXPECT_EQ(num("HaveObjectData", {40, 1, "key"}), 1);
    EXPECT_EQ(num("HaveObjectData", {40, 1, "nope"}), 0);
    EXPECT_EQ(status("SetObjectData", {40, 1, "", 5}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("GetObjectData", {40, 1, "nope"}), ERR_FINDOBJECTDATA);
    char message[256];
    qxFormatErrorCode(ERR_FINDOBJECTDATA, message, sizeof message);
    EXPECT_NE(std::string(message).find("nope"), std::string::npos) << message;
    EXPECT_EQ(status("GetObjectData", {40, 2, "key"}), ERR_FINDARRAY);
    EXPECT_EQ(status("GetObjectData", {22, 1, "key"}), ERR_NOLAYERS);
    EXPECT_EQ(status("SetObjectData", {40, 1, "other", "o"}), 0);
    EXPECT_EQ(status("SetObjectData", {40, handleB, "key", "b"}), 0);
    EXPECT_EQ(status("CopyObjectData", {40, 1, 40, handleB, 0}), 0);
    EXPECT_EQ(str("GetObjectData", {40, handleB, "key"}), "b");
    EXPECT_EQ(str("GetObjectData", {40, handleB, "other"}), "o");
    EXPECT_EQ(status("CopyObjectData", {40, 1, 40, handleB}), 0);
    EXPECT_EQ(num("GetObjectData", {40, handleB, "key"}), 5);
    EXPECT_EQ(status("ClearObjectData", {40, 1, "key"}), 0);
    EXPECT_EQ(status("ClearObjectData", {40, 1, "key"}), ERR_FINDOBJECTDATA);
    EXPECT_EQ(status("ClearObjectData", {40, handleB}), 0);
    EXPECT_EQ(num("HaveObjectData", {40, handleB, "other"}), 0);
    EXPECT_EQ(num("HaveObject", {40, 1}), 1);
    EXPECT_EQ(num("HaveObject", {40, 3}), 0);
    EXPECT_EQ(num("HaveObject", {41, 1}), 0);
    libtest::Result r = call("GetObjects", {40});
    EXPECT_EQ(r.num(1), 2);
    EXPECT_EQ(num("GetObjectType", {handleB}), 40);
    EXPECT_EQ(num("GetObjectType", {5}), -1);
    qxFreeRefList(L, &objectA.data);
    qxFreeRefList(L, &objectB.data);
    objectList = nullptr;
    qxFreeObjectRegistry();
}

} // namespace
