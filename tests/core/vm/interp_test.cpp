// Script semantics of the interpreter, run from chunks built in the test.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/vm/ldo.h"
#include "core/vm/qx_vmregs.h"
#include "platform/qx_text.h"
#include "chunk_writer.h"

using namespace chunktest;

namespace {

struct InterpTest : ::testing::Test {
    lua_State *L = nullptr;
    void SetUp() override {
        L = lua_open();
        ASSERT_NE(L, nullptr);
        qxVmAbort = 0;
        qxVmGosubCount = 0;
    }
    void TearDown() override {
        lua_close(L);
        qxVmAbort = 0;
    }
    // Loads and runs f with no arguments; returns the status, results stay on the stack.
    int run(const Func &f, int nresults = 1) {
        int st = load(L, chunk(f));
        if (st != 0) return st;
        return lua_pcall(L, 0, nresults, 0);
    }
    void setglobal(const char *name, lua_CFunction fn) {
        lua_pushstring(L, name);
        lua_pushcfunction(L, fn);
        lua_settable(L, LUA_GLOBALSINDEX);
    }
};

Func binop(OpCode op, Const a, Const b) {
    Func f;
    f.k = {a, b};
    f.code = {CREATE_ABC(op, 0, K(0), K(1)), CREATE_ABC(OP_RETURN, 0, 2, 0)};
    return f;
}

TEST_F(InterpTest, IntegerAndBitOperations) {
    struct Case { OpCode op; double a, b, want; } cases[] = {
        {OP_MOD, -7, 3, -1}, {OP_IDIV, 7.9, 2, 3}, {OP_SHR, -1, 28, 15}, {OP_SHL, 1, 33, 2},
        {OP_BOR, 5, 10, 15}, {OP_BAND, 6, 3, 2}, {OP_BXOR, 6, 3, 5}, {OP_IDIV, -7, 2, -3},
        {OP_IDIV, -2147483648.0, -1, 2147483648.0}, {OP_MOD, -2147483648.0, -1, 0},
        {OP_POW, 2, 10, 1024}, {OP_DIV, 1, 4, 0.25}, {OP_SUB, 3, 5, -2},
        // out of the 32-bit range: int32 gives the integer indefinite; uint32
        // of a non-negative value keeps the low 32 bits of its 64-bit
        // truncation, from 2^63 on 0
        {OP_IDIV, 2147483648.0, 1, -2147483648.0}, {OP_IDIV, -2147483649.0, 1, -2147483648.0},
        {OP_IDIV, -2147483648.9, 1, -2147483648.0}, {OP_IDIV, 2147483647.9, 1, 2147483647},
        {OP_IDIV, 1e300, 1, -2147483648.0}, {OP_MOD, 7, 4294967299.0, 7},
        {OP_BOR, 4294967301.0, 0, 5}, {OP_BOR, 9223372036854775808.0, 0, 0}, {OP_BOR, 9.2e18, 0, 2643984384.0},
        {OP_BOR, 9223372036854774784.0, 0, 4294966272.0}, {OP_BOR, 4294967295.9, 0, 4294967295.0},
        {OP_BOR, -1.5, 0, 4294967295.0}, {OP_BOR, -2147483649.0, 0, 2147483648.0},
        {OP_BOR, -1e300, 0, 2147483648.0}, {OP_BOR, -0.0, 0, 0}, {OP_SHR, 1e300, 0, 0},
        {OP_BOR, HUGE_VAL, 0, 0}, {OP_BOR, -HUGE_VAL, 0, 2147483648.0}, {OP_IDIV, NAN, 1, -2147483648.0},
        {OP_BOR, NAN, 0, 0},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(run(binop(c.op, num(c.a), num(c.b))), 0) << luaP_opnames[c.op];
        EXPECT_EQ(lua_tonumber(L, -1), c.want) << luaP_opnames[c.op] << " " << c.a << " " << c.b;
        lua_settop(L, 0);
    }
}

TEST_F(InterpTest, DivisionByZero) {
    EXPECT_EQ(run(binop(OP_DIV, num(1), num(0))), 1089);
    EXPECT_EQ(run(binop(OP_IDIV, num(1), num(0.5))), 1089); // int32 divisor 0
    EXPECT_EQ(run(binop(OP_MOD, num(1), num(0))), 1089);
}

TEST_F(InterpTest, NilAndStringOperands) {
    ASSERT_EQ(run(binop(OP_ADD, nil(), num(5))), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 5);
    ASSERT_EQ(run(binop(OP_MUL, str("3"), str("4"))), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 12);
    ASSERT_EQ(run(binop(OP_ADD, str("$ff"), num(0))), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 255);
    ASSERT_EQ(run(binop(OP_ADD, str("0x1F"), num(0))), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 31);
    ASSERT_EQ(run(binop(OP_ADD, str(" 12 "), num(0))), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 12);
    EXPECT_EQ(run(binop(OP_ADD, str("12abc"), num(0))), 1030);
    EXPECT_EQ(run(binop(OP_ADD, str("$"), num(0))), 1030);
}

TEST_F(InterpTest, NotAndUnary) {
    Const falsy[] = {nil(), num(0), str("")};
    for (const Const &c : falsy) {
        Func f;
        f.k = {c};
        f.code = {CREATE_ABx(OP_LOADK, 1, 0), CREATE_ABC(OP_NOT, 0, 1, 0), CREATE_ABC(OP_RETURN, 0, 2, 0)};
        ASSERT_EQ(run(f), 0);
        EXPECT_EQ(lua_tonumber(L, -1), 1);
    }
    Func f;
    f.k = {str("0")};
    f.code = {CREATE_ABx(OP_LOADK, 1, 0), CREATE_ABC(OP_NOT, 0, 1, 0), CREATE_ABC(OP_RETURN, 0, 2, 0)};
    ASSERT_EQ(run(f), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 0);
    f.code = {CREATE_ABx(OP_LOADK, 1, 0), CREATE_ABC(OP_UNM, 0, 1, 0), CREATE_ABC(OP_RETURN, 0, 2, 0)};
    ASSERT_EQ(run(f), 0);
    EXPECT_TRUE(std::signbit(lua_tonumber(L, -1)));
    f.k = {num(0)};
    f.code = {CREATE_ABx(OP_LOADK, 1, 0), CREATE_ABC(OP_BNOT, 0, 1, 0), CREATE_ABC(OP_RETURN, 0, 2, 0)};
    ASSERT_EQ(run(f), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 4294967295.0);
}

// Runs a comparison opcode; returns 1/0, or -code on error.
int compare(InterpTest *t, OpCode op, Const a, Const b) {
    Func f;
    f.k = {a, b};
    f.code = {CREATE_ABC(op, 1, K(0), K(1)), CREATE_J(2, 0), CREATE_ABC(OP_LOADNUM, 0, 0, 0),
              CREATE_ABC(OP_RETURN, 0, 2, 0), CREATE_ABC(OP_LOADNUM, 0, 1, 0), CREATE_ABC(OP_RETURN, 0, 2, 0)};
    int st = t->run(f);
    if (st != 0) return -st;
    int r = static_cast<int>(lua_tonumber(t->L, -1));
    lua_settop(t->L, 0);
    return r;
}

TEST_F(InterpTest, Comparisons) {
    EXPECT_EQ(compare(this, OP_EQ, nil(), num(0)), 1);
    EXPECT_EQ(compare(this, OP_EQ, nil(), str("")), 1);
    EXPECT_EQ(compare(this, OP_EQ, nil(), str("x")), 0);
    EXPECT_EQ(compare(this, OP_EQ, num(1), str("1")), -1130);
    EXPECT_EQ(compare(this, OP_EQ, str("a"), str("a")), 1);
    int mode = qxTextModeUtf8;
    qxSetTextModeUtf8(0); // ISO-8859-1: "<" ignores case, "<=" compares bytes
    EXPECT_EQ(compare(this, OP_LT, str("a"), str("B")), 1);
    EXPECT_EQ(compare(this, OP_LE, str("a"), str("B")), 0);
    EXPECT_EQ(compare(this, OP_LT, str("B"), str("a")), 0);
    EXPECT_EQ(compare(this, OP_LT, str("ab"), str("AB")), 0);
    EXPECT_EQ(compare(this, OP_LT, str(std::string("a\0b", 3)), str(std::string("a\0c", 3))), 1);
    qxSetTextModeUtf8(mode);
    EXPECT_EQ(compare(this, OP_LT, nil(), num(1)), 1);
    EXPECT_EQ(compare(this, OP_LT, num(-1), nil()), 1);
    EXPECT_EQ(compare(this, OP_LE, nil(), num(0)), 1);
    EXPECT_EQ(compare(this, OP_LE, nil(), nil()), 1);
    EXPECT_EQ(compare(this, OP_LT, nil(), nil()), 0);
    EXPECT_EQ(compare(this, OP_LE, nil(), str("a")), 0);
    EXPECT_EQ(compare(this, OP_LT, num(1), str("2")), -1130);
    EXPECT_EQ(compare(this, OP_LT, num(1), num(2)), 1);
    EXPECT_EQ(compare(this, OP_LE, num(2), num(2)), 1);

    // a table against a number
    Func f;
    f.k = {num(1)};
    f.code = {CREATE_ABC(OP_NEWTABLE, 1, 0, 0), CREATE_ABC(OP_EQ, 1, 1, K(0)), CREATE_J(0, 0),
              CREATE_ABC(OP_RETURN, 0, 1, 0)};
    EXPECT_EQ(run(f), 1030);
}

TEST_F(InterpTest, TestOpcodeUsesScriptTruth) {
    Const values[] = {num(0), str(""), nil(), num(2), str("x")};
    int expectTrue[] = {0, 0, 0, 1, 1};
    for (int n = 0; n < 5; n++) {
        Func f;
        f.k = {values[n]};
        // TEST A B C: if isfalse(R1) == 1 skip, else R0 := R1 and take
        f.code = {CREATE_ABx(OP_LOADK, 1, 0), CREATE_ABC(OP_LOADNUM, 0, 7, 0), CREATE_ABC(OP_TEST, 0, 1, 1),
                  CREATE_J(1, 0), CREATE_ABC(OP_LOADNUM, 0, 9, 0), CREATE_ABC(OP_RETURN, 0, 2, 0)};
        ASSERT_EQ(run(f), 0);
        if (expectTrue[n]) EXPECT_TRUE(lua_rawequal(L, -1, -1) && lua_type(L, -1) == values[n].type);
        else EXPECT_EQ(lua_tonumber(L, -1), 9);
        lua_settop(L, 0);
    }
}

TEST_F(InterpTest, ConstructorStartsAtKeyZero) {
    Func f;
    f.k = {str("a"), str("b"), str("c")};
    f.code = {CREATE_ABC(OP_NEWTABLE, 0, 0, 0), CREATE_ABx(OP_LOADK, 1, 0), CREATE_ABx(OP_LOADK, 2, 1),
              CREATE_ABx(OP_LOADK, 3, 2), CREATE_ABx(OP_SETLIST, 0, 2), CREATE_ABC(OP_RETURN, 0, 2, 0)};
    ASSERT_EQ(run(f), 0);
    const char *want[] = {"a", "b", "c"};
    for (int i = 0; i < 3; i++) {
        lua_rawgeti(L, 1, i);
        EXPECT_STREQ(lua_tostring(L, -1), want[i]);
        lua_pop(L, 1);
    }
    lua_rawgeti(L, 1, 3);
    EXPECT_TRUE(lua_isnil(L, -1));
}

TEST_F(InterpTest, MissingFieldRaisesButMissingGlobalIsNil) {
    Func f;
    f.k = {str("x"), str("nosuchglobal")};
    f.code = {CREATE_ABC(OP_NEWTABLE, 0, 0, 0), CREATE_ABC(OP_GETTABLE, 1, 0, K(0)), CREATE_ABC(OP_RETURN, 1, 2, 0)};
    EXPECT_EQ(run(f), 1159);
    EXPECT_STREQ(luaG_lasterrortext(), "\"x\"");
    EXPECT_EQ(lua_gettop(L), 0);
    f.code = {CREATE_ABx(OP_GETGLOBAL, 0, 1), CREATE_ABC(OP_RETURN, 0, 2, 0)};
    ASSERT_EQ(run(f), 0);
    EXPECT_TRUE(lua_isnil(L, -1));
    // indexing a non-table names the variable
    f.code = {CREATE_ABx(OP_GETGLOBAL, 0, 1), CREATE_ABC(OP_GETTABLE, 1, 0, K(0)), CREATE_ABC(OP_RETURN, 1, 2, 0)};
    EXPECT_EQ(run(f), 1132);
    EXPECT_STREQ(luaG_lasterrortext(), "nosuchglobal{}");
    f.code = {CREATE_ABx(OP_GETGLOBAL, 0, 1), CREATE_ABC(OP_CALL, 0, 1, 1), CREATE_ABC(OP_RETURN, 0, 1, 0)};
    EXPECT_EQ(run(f), 1133);
    EXPECT_STREQ(luaG_lasterrortext(), "nosuchglobal()");
}

// One instruction reads and writes "x" in environments where it sits at
// different nodes, is absent, or was removed.
TEST_F(InterpTest, GlobalByNameFollowsTheEnvironment) {
    Func f;
    f.k = {str("x")};
    f.code = {CREATE_ABx(OP_GETGLOBAL, 0, 0), CREATE_ABx(OP_SETGLOBAL, 0, 0), CREATE_ABC(OP_RETURN, 0, 2, 0)};
    ASSERT_EQ(load(L, chunk(f)), 0);
    auto newenv = [&](int filler, int x) {
        lua_newtable(L);
        for (int i = 0; i < filler; i++) {
            std::string name = "f" + std::to_string(i);
            lua_pushstring(L, name.c_str());
            lua_pushnumber(L, i);
            lua_rawset(L, -3);
        }
        lua_pushstring(L, "x");
        if (x) lua_pushnumber(L, x);
        else lua_pushnil(L);
        lua_rawset(L, -3);
    };
    auto read = [&]() {
        lua_pushvalue(L, 1);
        EXPECT_EQ(lua_pcall(L, 0, 1, 0), 0);
        double v = lua_isnil(L, -1) ? -1 : lua_tonumber(L, -1);
        lua_pop(L, 1);
        return v;
    };
    const int cases[][2] = {{100, 1}, {0, 2}, {3000, 3}, {7, 0}, {100, 4}};
    for (const auto &c : cases) {
        newenv(c[0], c[1]);
        ASSERT_EQ(lua_setfenv(L, 1), 1);
        EXPECT_EQ(read(), c[1] ? c[1] : -1);
        EXPECT_EQ(read(), c[1] ? c[1] : -1);
    }
    lua_getfenv(L, 1);
    lua_pushstring(L, "x");
    lua_pushnil(L);
    lua_rawset(L, -3);
    lua_pop(L, 1);
    EXPECT_EQ(read(), -1);
    lua_settop(L, 0);
}

int loopIndex(lua_State *L) {
    lua_newtable(L);
    lua_newtable(L);
    lua_pushstring(L, "__index");
    lua_pushvalue(L, -3);
    lua_settable(L, -3);
    lua_setmetatable(L, -2);
    lua_pushstring(L, "x");
    lua_gettable(L, -2);
    return 0;
}

int indexFunction(lua_State *L) {
    lua_pushvalue(L, 2); // the key itself
    return 1;
}

TEST_F(InterpTest, IndexMetamethods) {
    EXPECT_EQ(lua_cpcall(L, loopIndex, nullptr), 1134);
    EXPECT_STREQ(luaG_lasterrortext(), "#1");
    // t = setmetatable({}, {__index = function}); t.x gives "x" without 1159
    Func f;
    f.k = {str("t"), str("x")};
    f.code = {CREATE_ABx(OP_GETGLOBAL, 0, 0), CREATE_ABC(OP_GETTABLE, 0, 0, K(1)), CREATE_ABC(OP_RETURN, 0, 2, 0)};
    lua_pushstring(L, "t");
    lua_newtable(L);
    lua_newtable(L);
    lua_pushstring(L, "__index");
    lua_pushcfunction(L, indexFunction);
    lua_settable(L, -3);
    lua_setmetatable(L, -2);
    lua_settable(L, LUA_GLOBALSINDEX);
    ASSERT_EQ(run(f), 0);
    EXPECT_STREQ(lua_tostring(L, -1), "x");
}

int giveMetatable(lua_State *L) {
    lua_newtable(L);
    lua_setmetatable(L, 1);
    return 0;
}

int newindexCalls = 0;
double newindexKey = 0;

int countNewindex(lua_State *L) {
    newindexCalls++;
    newindexKey = lua_tonumber(L, 2);
    return 0;
}

int armNewindex(lua_State *L) {
    lua_getmetatable(L, 1);
    lua_pushstring(L, "__newindex");
    lua_pushcfunction(L, countNewindex);
    lua_settable(L, -3);
    return 0;
}

TEST_F(InterpTest, NewindexAddedLaterWatchesEmptyArraySlots) {
    // the metatable is known to lack __newindex while empty array slots are
    // filled; once it gains one, an empty slot goes to it and a slot in use
    // still takes the value
    setglobal("givemeta", giveMetatable);
    setglobal("arm", armNewindex);
    newindexCalls = 0;
    Func f;
    f.k = {num(1), num(2), num(7), num(3), num(9), str("givemeta"), str("arm")};
    f.code = {CREATE_ABC(OP_NEWTABLE, 0, 4, 0),
              CREATE_ABx(OP_GETGLOBAL, 1, 5), CREATE_ABC(OP_MOVE, 2, 0, 0), CREATE_ABC(OP_CALL, 1, 2, 1),
              CREATE_ABC(OP_SETTABLE, 0, K(0), K(0)), CREATE_ABC(OP_SETTABLE, 0, K(3), K(4)),
              CREATE_ABx(OP_GETGLOBAL, 1, 6), CREATE_ABC(OP_MOVE, 2, 0, 0), CREATE_ABC(OP_CALL, 1, 2, 1),
              CREATE_ABC(OP_SETTABLE, 0, K(1), K(2)), CREATE_ABC(OP_SETTABLE, 0, K(0), K(2)),
              CREATE_ABC(OP_GETTABLE, 1, 0, K(0)), CREATE_ABC(OP_GETTABLE, 2, 0, K(3)),
              CREATE_ABC(OP_MOVE, 3, 0, 0), CREATE_ABC(OP_RETURN, 1, 4, 0)};
    ASSERT_EQ(run(f, 3), 0);
    EXPECT_EQ(newindexCalls, 1);
    EXPECT_EQ(newindexKey, 2);
    EXPECT_EQ(lua_tonumber(L, 1), 7);
    EXPECT_EQ(lua_tonumber(L, 2), 9);
    ASSERT_TRUE(lua_istable(L, 3));
    EXPECT_EQ(hvalue(L->base + 2)->sizearray, 4);
    lua_pushnumber(L, 2);
    lua_rawget(L, 3);
    EXPECT_TRUE(lua_isnil(L, -1));
}

TEST_F(InterpTest, OperandsThatOnlyBadCodeProduces) {
    // SETLIST into a number and SELF with a number key stop the script with 1203
    Func f;
    f.k = {num(1)};
    f.code = {CREATE_ABx(OP_LOADK, 0, 0), CREATE_ABx(OP_SETLIST, 0, 0), CREATE_ABC(OP_RETURN, 0, 1, 0)};
    EXPECT_EQ(run(f), 1203);
    f.code = {CREATE_ABC(OP_NEWTABLE, 1, 0, 0), CREATE_ABC(OP_SELF, 2, 1, K(0)), CREATE_ABC(OP_RETURN, 0, 1, 0)};
    EXPECT_EQ(run(f), 1203);
    // NEWTABLE sizes beyond the limits
    f.code = {CREATE_ABC(OP_NEWTABLE, 0, 0x1FF, 0), CREATE_ABC(OP_RETURN, 0, 1, 0)};
    EXPECT_EQ(run(f), 1207);
    f.code = {CREATE_ABC(OP_NEWTABLE, 0, 0, 25), CREATE_ABC(OP_RETURN, 0, 1, 0)};
    EXPECT_EQ(run(f), 1207);
}

int l_next(lua_State *L) {
    lua_settop(L, 2);
    if (lua_next(L, 1)) return 2;
    lua_pushnil(L);
    return 1;
}

TEST_F(InterpTest, NumericAndGenericFor) {
    Func f;
    f.code = {CREATE_ABC(OP_LOADNUM, 0, 0, 0), CREATE_ABC(OP_LOADNUM, 1, 0, 0), CREATE_ABC(OP_LOADNUM, 2, 10, 0),
              CREATE_ABC(OP_LOADNUM, 3, 1, 0), CREATE_J(1, 0), CREATE_ABC(OP_ADD, 0, 0, 1),
              CREATE_AsBx(OP_FORLOOP, 1, -2), CREATE_ABC(OP_RETURN, 0, 2, 0)};
    ASSERT_EQ(run(f), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 55);
    lua_settop(L, 0);

    setglobal("next", l_next);
    Func g;
    g.k = {num(10), num(20), num(30)};
    g.code = {CREATE_ABC(OP_NEWTABLE, 1, 0, 0), CREATE_ABx(OP_LOADK, 2, 0), CREATE_ABx(OP_LOADK, 3, 1),
              CREATE_ABx(OP_LOADK, 4, 2), CREATE_ABx(OP_SETLIST, 1, 2), CREATE_ABC(OP_LOADNIL, 2, 3, 0),
              CREATE_ABC(OP_LOADNUM, 0, 0, 0), CREATE_AsBx(OP_TFORPREP, 1, 1), CREATE_ABC(OP_ADD, 0, 0, 4),
              CREATE_ABC(OP_TFORLOOP, 1, 0, 1), CREATE_J(-3, 0), CREATE_ABC(OP_RETURN, 0, 2, 0)};
    ASSERT_EQ(run(g), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 60);
}

TEST_F(InterpTest, GosubJumpAndReturn) {
    Func f;
    f.k = {num(1)};
    f.code = {CREATE_ABC(OP_LOADNUM, 0, 0, 0), CREATE_J(2, JMP_GOSUB), CREATE_ABC(OP_RETURN, 0, 2, 0),
              CREATE_ABC(OP_LOADNUM, 0, 50, 0), CREATE_ABC(OP_ADD, 0, 0, K(0)), CREATE_ABC(OP_RETURN, 0, 0, 1)};
    ASSERT_EQ(run(f), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 1);
    EXPECT_EQ(qxVmGosubCount, 0);

    Func empty;
    empty.code = {CREATE_ABC(OP_RETURN, 0, 0, 1), CREATE_ABC(OP_RETURN, 0, 1, 0)};
    EXPECT_EQ(run(empty), 1040);

    Func deep;
    deep.code = {CREATE_J(-1, JMP_GOSUB), CREATE_ABC(OP_RETURN, 0, 1, 0)};
    EXPECT_EQ(run(deep), 1066);
    EXPECT_EQ(qxVmGosubCount, 0); // the failed call's entries are dropped
}

int gosubCommand(lua_State *) {
    qxVmLabelOffset = 2;
    return -1;
}

TEST_F(InterpTest, CommandGosubToLabel) {
    setglobal("cmd", gosubCommand);
    Func f;
    f.k = {str("cmd"), num(1)};
    f.code = {CREATE_ABC(OP_LOADNUM, 1, 0, 0), CREATE_ABx(OP_GETGLOBAL, 0, 0), CREATE_ABC(OP_CALL, 0, 1, 1),
              CREATE_ABC(OP_RETURN, 1, 2, 0), CREATE_ABC(OP_LOADNUM, 1, 99, 0), CREATE_ABC(OP_ADD, 1, 1, K(1)),
              CREATE_ABC(OP_RETURN, 0, 0, 1)};
    ASSERT_EQ(run(f), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 1);
    EXPECT_EQ(qxVmCallPosition, 3);
}

int gosubAgain(lua_State *) {
    static int calls = 0;
    if (++calls == 1) {
        qxVmLabelOffset = 1;
        return -2; // run the label, then come back to the instruction before the call
    }
    calls = 0;
    return 0;
}

TEST_F(InterpTest, CommandGosubMinusTwoCallsAgain) {
    setglobal("again", gosubAgain);
    Func f;
    f.k = {str("again"), num(1)};
    // r1 counts how often the label ran; the command is fetched again by instruction 1
    f.code = {CREATE_ABC(OP_LOADNUM, 1, 0, 0), CREATE_ABx(OP_GETGLOBAL, 0, 0), CREATE_ABC(OP_CALL, 0, 1, 1),
              CREATE_ABC(OP_RETURN, 1, 2, 0), CREATE_ABC(OP_ADD, 1, 1, K(1)), CREATE_ABC(OP_RETURN, 0, 0, 1)};
    ASSERT_EQ(run(f), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 1);
    EXPECT_EQ(qxVmGosubCount, 0);
}

int badLabel(lua_State *) {
    qxVmLabelOffset = 1000;
    return -1;
}

TEST_F(InterpTest, LabelOutsideTheFunctionIsRefused) {
    setglobal("bad", badLabel);
    Func f;
    f.k = {str("bad")};
    f.code = {CREATE_ABx(OP_GETGLOBAL, 0, 0), CREATE_ABC(OP_CALL, 0, 1, 1), CREATE_ABC(OP_RETURN, 0, 1, 0)};
    EXPECT_EQ(run(f), 1203);
    // a Gosub return address of another function is not followed
    Func inner;
    inner.code = {CREATE_ABC(OP_RETURN, 0, 0, 1), CREATE_ABC(OP_RETURN, 0, 1, 0)};
    Func outer;
    outer.p = {inner};
    outer.code = {CREATE_ABx(OP_CLOSURE, 0, 0), CREATE_J(0, JMP_GOSUB), CREATE_ABC(OP_CALL, 0, 1, 1),
                  CREATE_ABC(OP_RETURN, 0, 1, 0)};
    EXPECT_EQ(run(outer), 1040);
}

int nestedProtected(lua_State *L) {
    // runs its argument protected and reports the status; the caller goes on
    int st = lua_pcall(L, 0, 0, 0);
    lua_pushnumber(L, st);
    return 1;
}

TEST_F(InterpTest, ProtectedCallRestoresTheState) {
    setglobal("protect", nestedProtected);
    Func failing;
    failing.linedefined = 1;
    failing.k = {num(1), num(0)};
    failing.code = {CREATE_ABC(OP_DIV, 0, K(0), K(1)), CREATE_ABC(OP_RETURN, 0, 1, 0)};
    Func main;
    main.k = {str("protect"), num(100)};
    main.p = {failing};
    main.code = {CREATE_ABx(OP_GETGLOBAL, 0, 0), CREATE_ABx(OP_CLOSURE, 1, 0), CREATE_ABC(OP_CALL, 0, 2, 2),
                 CREATE_ABC(OP_ADD, 0, 0, K(1)), CREATE_ABC(OP_RETURN, 0, 2, 0)};
    ASSERT_EQ(run(main), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 1189); // 1089 + 100
    EXPECT_EQ(L->ci, L->base_ci);
    EXPECT_EQ(L->nCcalls, 0);
    EXPECT_EQ(L->allowhook, 1);
    EXPECT_EQ(lua_gettop(L), 1);
}

int failingCommand(lua_State *) { return 1045; }
int twoResults(lua_State *L) {
    lua_pushstring(L, "a");
    lua_pushnumber(L, 2);
    return 2;
}

TEST_F(InterpTest, StatusCallsReturnTheCode) {
    setglobal("fail", failingCommand);
    setglobal("two", twoResults);
    Func f;
    f.k = {str("fail"), str("two")};
    f.code = {CREATE_ABx(OP_GETGLOBAL, 0, 0), CREATE_ABC(OP_CALLSTATUS, 0, 1, 0), CREATE_ABC(OP_RETURN, 0, 0, 0)};
    ASSERT_EQ(run(f, LUA_MULTRET), 0);
    ASSERT_EQ(lua_gettop(L), 1);
    EXPECT_EQ(lua_tonumber(L, 1), 1045);
    lua_settop(L, 0);
    f.code = {CREATE_ABx(OP_GETGLOBAL, 0, 1), CREATE_ABC(OP_CALLSTATUS, 0, 1, 0), CREATE_ABC(OP_RETURN, 0, 0, 0)};
    ASSERT_EQ(run(f, LUA_MULTRET), 0);
    ASSERT_EQ(lua_gettop(L), 3);
    EXPECT_EQ(lua_tonumber(L, 1), 0);
    EXPECT_STREQ(lua_tostring(L, 2), "a");
    EXPECT_EQ(lua_tonumber(L, 3), 2);
    lua_settop(L, 0);
    // the tail form too
    f.code = {CREATE_ABx(OP_GETGLOBAL, 0, 0), CREATE_ABC(OP_TAILCALLSTATUS, 0, 1, 0), CREATE_ABC(OP_RETURN, 0, 0, 0)};
    ASSERT_EQ(run(f, LUA_MULTRET), 0);
    ASSERT_EQ(lua_gettop(L), 1);
    EXPECT_EQ(lua_tonumber(L, 1), 1045);
    lua_settop(L, 0);
    // a plain call raises the code
    f.code = {CREATE_ABx(OP_GETGLOBAL, 0, 0), CREATE_ABC(OP_CALL, 0, 1, 1), CREATE_ABC(OP_RETURN, 0, 1, 0)};
    EXPECT_EQ(run(f), 1045);
    EXPECT_EQ(qxVmErrorLine, 2);
}

TEST_F(InterpTest, VarargTableFromKeyZero) {
    Func f;
    f.vararg = 1;
    f.code = {CREATE_ABC(OP_RETURN, 0, 2, 0)};
    ASSERT_EQ(load(L, chunk(f)), 0);
    lua_pushnumber(L, 10);
    lua_pushstring(L, "x");
    lua_pushnumber(L, 30);
    ASSERT_EQ(lua_pcall(L, 3, 1, 0), 0);
    ASSERT_EQ(lua_type(L, 1), LUA_TTABLE);
    lua_rawgeti(L, 1, 0);
    EXPECT_EQ(lua_tonumber(L, -1), 10);
    lua_rawgeti(L, 1, 1);
    EXPECT_STREQ(lua_tostring(L, -1), "x");
    lua_rawgeti(L, 1, 2);
    EXPECT_EQ(lua_tonumber(L, -1), 30);
    lua_pushstring(L, "n");
    lua_rawget(L, 1);
    EXPECT_EQ(lua_tonumber(L, -1), 3);
}

TEST_F(InterpTest, DeepRecursionEndsIn1135) {
    Func f;
    f.k = {str("f")};
    f.code = {CREATE_ABx(OP_GETGLOBAL, 0, 0), CREATE_ABC(OP_CALL, 0, 1, 1), CREATE_ABC(OP_RETURN, 0, 1, 0)};
    ASSERT_EQ(load(L, chunk(f)), 0);
    lua_pushstring(L, "f");
    lua_pushvalue(L, 1);
    lua_settable(L, LUA_GLOBALSINDEX);
    EXPECT_EQ(lua_pcall(L, 0, 0, 0), 1135);
    EXPECT_LE(L->size_ci, 4096);
    EXPECT_EQ(L->ci, L->base_ci);
    // the state stays usable
    ASSERT_EQ(run(binop(OP_ADD, num(1), num(2))), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 3);
}

TEST_F(InterpTest, ScriptCallsAdjustArgumentsAndClearTheFrame) {
    // g(a, b) returns its four registers: surplus arguments and the caller's
    // values above them must not show through
    Func g;
    g.numparams = 2;
    g.maxstack = 4;
    g.code = {CREATE_ABC(OP_RETURN, 0, 5, 0)};
    Func f;
    f.p = {g};
    f.k = {num(1), num(2), num(3), num(4)};
    for (int nargs : {3, 1}) {
        f.code = {CREATE_ABx(OP_CLOSURE, 0, 0), CREATE_ABx(OP_LOADK, 1, 0), CREATE_ABx(OP_LOADK, 2, 1),
                  CREATE_ABx(OP_LOADK, 3, 2), CREATE_ABx(OP_LOADK, 4, 3), CREATE_ABx(OP_LOADK, 5, 3),
                  CREATE_ABC(OP_CALL, 0, nargs + 1, 5), CREATE_ABC(OP_RETURN, 0, 5, 0)};
        ASSERT_EQ(run(f, 4), 0) << nargs;
        EXPECT_EQ(lua_tonumber(L, 1), 1);
        if (nargs == 3) EXPECT_EQ(lua_tonumber(L, 2), 2);
        else EXPECT_TRUE(lua_isnil(L, 2));
        EXPECT_TRUE(lua_isnil(L, 3));
        EXPECT_TRUE(lua_isnil(L, 4));
        lua_settop(L, 0);
    }
}

int answer(lua_State *L) {
    lua_pushnumber(L, 42);
    return 1;
}

TEST_F(InterpTest, MethodsThroughAnIndexTable) {
    // obj = setmetatable({own = 7}, {__index = {m = answer, own = 1}})
    lua_pushstring(L, "obj");
    lua_newtable(L);
    lua_pushstring(L, "own");
    lua_pushnumber(L, 7);
    lua_settable(L, -3);
    lua_newtable(L);
    lua_pushstring(L, "__index");
    lua_newtable(L);
    lua_pushstring(L, "m");
    lua_pushcfunction(L, answer);
    lua_settable(L, -3);
    lua_pushstring(L, "own");
    lua_pushnumber(L, 1);
    lua_settable(L, -3);
    lua_settable(L, -3);
    lua_setmetatable(L, -2);
    lua_settable(L, LUA_GLOBALSINDEX);
    Func f;
    f.k = {str("obj"), str("m"), str("own"), str("none")};
    // obj:m(), obj.own: the object's own field comes first
    f.code = {CREATE_ABx(OP_GETGLOBAL, 0, 0), CREATE_ABC(OP_SELF, 1, 0, K(1)), CREATE_ABC(OP_CALL, 1, 2, 2),
              CREATE_ABC(OP_GETTABLE, 2, 0, K(2)), CREATE_ABC(OP_RETURN, 1, 3, 0)};
    ASSERT_EQ(run(f, 2), 0);
    EXPECT_EQ(lua_tonumber(L, 1), 42);
    EXPECT_EQ(lua_tonumber(L, 2), 7);
    lua_settop(L, 0);
    // a field in neither table is still an uninitialized read
    f.code = {CREATE_ABx(OP_GETGLOBAL, 0, 0), CREATE_ABC(OP_GETTABLE, 1, 0, K(3)), CREATE_ABC(OP_RETURN, 1, 2, 0)};
    EXPECT_EQ(run(f), 1159);
    EXPECT_STREQ(luaG_lasterrortext(), "\"none\"");
}

int recurseNative(lua_State *L) {
    lua_pushcfunction(L, recurseNative);
    lua_call(L, 0, 0);
    return 0;
}

TEST_F(InterpTest, NativeCallDepthIsLimited) {
    lua_pushcfunction(L, recurseNative);
    EXPECT_EQ(lua_pcall(L, 0, 0, 0), 1135);
    EXPECT_EQ(L->nCcalls, 0);
    EXPECT_EQ(L->ci, L->base_ci);
}

TEST_F(InterpTest, ClosuresShareUpvalues) {
    // outer: local n = 0; inc = function() n = n + 1 return n end; inc(); return inc()
    Func inner;
    inner.nups = 1;
    inner.k = {num(1)};
    inner.code = {CREATE_ABC(OP_GETUPVAL, 0, 0, 0), CREATE_ABC(OP_ADD, 0, 0, K(0)), CREATE_ABC(OP_SETUPVAL, 0, 0, 0),
                  CREATE_ABC(OP_RETURN, 0, 2, 0)};
    Func outer;
    outer.p = {inner};
    outer.code = {CREATE_ABC(OP_LOADNUM, 0, 0, 0), CREATE_ABx(OP_CLOSURE, 1, 0), CREATE_ABC(OP_MOVE, 0, 0, 0),
                  CREATE_ABC(OP_MOVE, 2, 1, 0), CREATE_ABC(OP_CALL, 2, 1, 1), CREATE_ABC(OP_MOVE, 2, 1, 0),
                  CREATE_ABC(OP_CALL, 2, 1, 2), CREATE_ABC(OP_CLOSE, 0, 0, 0), CREATE_ABC(OP_RETURN, 2, 2, 0)};
    ASSERT_EQ(run(outer), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 2);
}

TEST_F(InterpTest, TailCallReusesTheFrame) {
    // f(n): if n == 0 return 7 else return f(n - 1), 10000 deep in tail position
    Func f;
    f.numparams = 1;
    f.k = {num(0), str("f"), num(1), num(7)};
    f.code = {CREATE_ABC(OP_EQ, 1, 0, K(0)), CREATE_J(4, 0), CREATE_ABx(OP_GETGLOBAL, 1, 1),
              CREATE_ABC(OP_SUB, 2, 0, K(2)), CREATE_ABC(OP_TAILCALL, 1, 2, 0), CREATE_ABC(OP_RETURN, 1, 0, 0),
              CREATE_ABx(OP_LOADK, 1, 3), CREATE_ABC(OP_RETURN, 1, 2, 0)};
    ASSERT_EQ(load(L, chunk(f)), 0);
    lua_pushstring(L, "f");
    lua_pushvalue(L, 1);
    lua_settable(L, LUA_GLOBALSINDEX);
    lua_pushnumber(L, 10000);
    ASSERT_EQ(lua_pcall(L, 1, 1, 0), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 7);
}

TEST_F(InterpTest, ConcatConvertsNumbersAndNil) {
    Func f;
    f.k = {str("a"), num(1.5), nil(), str("")};
    f.code = {CREATE_ABx(OP_LOADK, 1, 0), CREATE_ABx(OP_LOADK, 2, 1), CREATE_ABx(OP_LOADK, 3, 2),
              CREATE_ABx(OP_LOADK, 4, 0), CREATE_ABC(OP_CONCAT, 0, 1, 4), CREATE_ABC(OP_RETURN, 0, 2, 0)};
    ASSERT_EQ(run(f), 0);
    EXPECT_STREQ(lua_tostring(L, -1), "a1.5a");
    lua_settop(L, 0);
    f.code = {CREATE_ABC(OP_NEWTABLE, 1, 0, 0), CREATE_ABx(OP_LOADK, 2, 0), CREATE_ABC(OP_CONCAT, 0, 1, 2),
              CREATE_ABC(OP_RETURN, 0, 2, 0)};
    EXPECT_EQ(run(f), 1131);
}

int lineCount = 0;
void countLines(lua_State *, lua_Debug *ar, int *, CallInfo *) {
    if (ar->event == LUA_HOOKLINE) lineCount++;
}

TEST_F(InterpTest, LineHookRunsAndCanStopTheScript) {
    Func f;
    f.code = {CREATE_ABC(OP_LOADNUM, 0, 1, 0), CREATE_ABC(OP_LOADNUM, 0, 2, 0), CREATE_ABC(OP_LOADNUM, 0, 3, 0),
              CREATE_ABC(OP_LOADNUM, 0, 4, 0), CREATE_ABC(OP_RETURN, 0, 2, 0)};
    lua_sethook(L, countLines, LUA_MASKLINE, 0);
    lineCount = 0;
    ASSERT_EQ(run(f), 0);
    EXPECT_EQ(lineCount, 4); // the first instruction only initialises the hook state
    lua_settop(L, 0);
    lua_sethook(L, [](lua_State *, lua_Debug *ar, int *result, CallInfo *) {
        if (ar->event == LUA_HOOKLINE && ar->currentline == 3) *result = 1003;
    }, LUA_MASKLINE, 0);
    EXPECT_EQ(run(f), 1003);
    lua_sethook(L, nullptr, 0, 0);
    EXPECT_EQ(lua_gethookmask(L), 0);
}

int hookOn(lua_State *L) {
    lua_sethook(L, countLines, LUA_MASKLINE, 0);
    return 0;
}

int hookOff(lua_State *L) {
    lua_sethook(L, nullptr, 0, 0);
    return 0;
}

TEST_F(InterpTest, LineHookSetByACommandTakesEffectAtTheNextInstruction) {
    setglobal("hookon", hookOn);
    setglobal("hookoff", hookOff);
    Func f;
    f.k = {str("hookon"), str("hookoff")};
    f.code = {CREATE_ABx(OP_GETGLOBAL, 0, 0), CREATE_ABC(OP_CALL, 0, 1, 1),
              CREATE_ABC(OP_LOADNUM, 1, 1, 0), // initialises the hook state
              CREATE_ABC(OP_LOADNUM, 1, 2, 0), CREATE_ABC(OP_LOADNUM, 1, 3, 0), CREATE_ABx(OP_GETGLOBAL, 0, 1),
              CREATE_ABC(OP_CALL, 0, 1, 1), CREATE_ABC(OP_LOADNUM, 1, 4, 0), CREATE_ABC(OP_RETURN, 1, 2, 0)};
    lineCount = 0;
    ASSERT_EQ(run(f), 0);
    EXPECT_EQ(lineCount, 4);
    EXPECT_EQ(lua_tonumber(L, -1), 4);
    EXPECT_EQ(lua_gethookmask(L), 0);
}

int setAbort(lua_State *) {
    qxVmAbort = 1;
    return 0;
}

TEST_F(InterpTest, AbortFlagStopsAtTheNextInstruction) {
    setglobal("abort", setAbort);
    Func f;
    f.k = {str("abort")};
    f.code = {CREATE_ABx(OP_GETGLOBAL, 0, 0), CREATE_ABC(OP_CALL, 0, 1, 1), CREATE_ABC(OP_LOADNUM, 0, 5, 0),
              CREATE_ABC(OP_RETURN, 0, 2, 0)};
    ASSERT_EQ(run(f), 0);
    EXPECT_TRUE(lua_isnil(L, -1)); // no result
    EXPECT_EQ(L->ci, L->base_ci);
}

int callMeta(lua_State *L) {
    lua_pushnumber(L, lua_gettop(L));
    return 1;
}

TEST_F(InterpTest, CallMetamethod) {
    setglobal("dummy", callMeta);
    Func f;
    f.k = {str("t"), num(5)};
    f.code = {CREATE_ABx(OP_GETGLOBAL, 0, 0), CREATE_ABx(OP_LOADK, 1, 1), CREATE_ABC(OP_CALL, 0, 2, 2),
              CREATE_ABC(OP_RETURN, 0, 2, 0)};
    lua_pushstring(L, "t");
    lua_newtable(L);
    lua_newtable(L);
    lua_pushstring(L, "__call");
    lua_pushcfunction(L, callMeta);
    lua_settable(L, -3);
    lua_setmetatable(L, -2);
    lua_settable(L, LUA_GLOBALSINDEX);
    ASSERT_EQ(run(f), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 2); // the table itself plus one argument
}

} // namespace

namespace {

std::vector<int> hookLines;
int countEvents = 0;
void recordLines(lua_State *, lua_Debug *ar, int *, CallInfo *) {
    if (ar->event == LUA_HOOKLINE) hookLines.push_back(ar->currentline);
    else if (ar->event == LUA_HOOKCOUNT) countEvents++;
}

// for i = 1, 100 / x = x + i / y = y + 1 / next / return x, y (lines 1-5)
Func strideLoop() {
    Func f;
    f.k = {num(1), num(100)};
    f.code = {CREATE_ABx(OP_LOADK, 0, 0),         CREATE_ABx(OP_LOADK, 1, 1),  CREATE_ABx(OP_LOADK, 2, 0),
              CREATE_ABC(OP_LOADNUM, 3, 0, 0),    CREATE_ABC(OP_LOADNUM, 4, 0, 0), CREATE_ABC(OP_SUB, 0, 0, 2),
              CREATE_J(2, 0),                     CREATE_ABC(OP_ADD, 3, 3, 0), CREATE_ABC(OP_ADD, 4, 4, K(0)),
              CREATE_AsBx(OP_FORLOOP, 0, -3),     CREATE_ABC(OP_RETURN, 3, 3, 0)};
    f.lines = {1, 1, 1, 1, 1, 1, 1, 2, 3, 4, 5};
    return f;
}

} // namespace

TEST_F(InterpTest, LineHookStrideSkipsLinesButNotCounts) {
    struct StrideGuard {
        ~StrideGuard() { qxVmLineHookStride = 1; }
    } guard;
    lua_sethook(L, recordLines, LUA_MASKLINE, 0);
    hookLines.clear();
    ASSERT_EQ(run(strideLoop(), 2), 0);
    EXPECT_EQ(lua_tonumber(L, -2), 5050);
    EXPECT_EQ(lua_tonumber(L, -1), 100);
    EXPECT_EQ(hookLines.size(), 302u); // every new line and every backward jump

    // Once per 10 instructions at most, always at the start of a line.
    qxVmLineHookStride = 10;
    lua_settop(L, 0);
    lua_sethook(L, recordLines, LUA_MASKLINE, 0);
    hookLines.clear();
    ASSERT_EQ(run(strideLoop(), 2), 0);
    EXPECT_EQ(lua_tonumber(L, -2), 5050);
    EXPECT_GE(hookLines.size(), 20u);
    EXPECT_LE(hookLines.size(), 35u);
    for (int line : hookLines) EXPECT_TRUE(line >= 2 && line <= 5) << line;

    // The count hook keeps its count whatever the stride.
    lua_settop(L, 0);
    lua_sethook(L, recordLines, LUA_MASKCOUNT | LUA_MASKLINE, 1);
    countEvents = 0;
    hookLines.clear();
    ASSERT_EQ(run(strideLoop(), 2), 0);
    int withStride = countEvents;
    size_t linesWithCount = hookLines.size();
    qxVmLineHookStride = 1;
    lua_settop(L, 0);
    lua_sethook(L, recordLines, LUA_MASKCOUNT | LUA_MASKLINE, 1);
    countEvents = 0;
    hookLines.clear();
    ASSERT_EQ(run(strideLoop(), 2), 0);
    EXPECT_EQ(countEvents, withStride);
    EXPECT_EQ(hookLines.size(), linesWithCount);
    lua_sethook(L, nullptr, 0, 0);
}

namespace {
int asked;
// Asks for the trace step on every tenth call, as the input watch does.
int askEveryTenth(lua_State *) {
    if (++asked % 10 == 0) qxVmRequestTrace();
    return 0;
}
} // namespace

// With polls on request the line hook runs once at the start and then
// only at the first line start after each request, whatever the stride;
// the count hook still counts every instruction.
TEST_F(InterpTest, PollOnRequestRunsTheLineHookWhenAsked) {
    struct Guard {
        ~Guard() { qxVmLineHookStride = 1; qxVmPollOnRequest = 0; }
    } guard;
    // for i = 1, 100 / ask() / x = x + 1 / next / return x (lines 1-5)
    Func f;
    f.k = {num(1), num(100), str("ask")};
    f.code = {CREATE_ABx(OP_LOADK, 0, 0),      CREATE_ABx(OP_LOADK, 1, 1),         CREATE_ABx(OP_LOADK, 2, 0),
              CREATE_ABC(OP_LOADNUM, 3, 0, 0), CREATE_ABC(OP_SUB, 0, 0, 2),        CREATE_J(3, 0),
              CREATE_ABx(OP_GETGLOBAL, 4, 2),  CREATE_ABC(OP_CALL, 4, 1, 1),        CREATE_ABC(OP_ADD, 3, 3, K(0)),
              CREATE_AsBx(OP_FORLOOP, 0, -4),  CREATE_ABC(OP_RETURN, 3, 2, 0)};
    f.lines = {1, 1, 1, 1, 1, 1, 2, 2, 3, 4, 5};
    setglobal("ask", askEveryTenth);
    qxVmLineHookStride = 1000;
    qxVmPollOnRequest = 1;
    lua_sethook(L, recordLines, LUA_MASKLINE, 0);
    hookLines.clear();
    asked = 0;
    ASSERT_EQ(run(f, 1), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 100);
    ASSERT_EQ(hookLines.size(), 11u); // the start, then the ten requests
    // the first instruction after a request only notes its place
    for (size_t n = 1; n < hookLines.size(); n++) EXPECT_EQ(hookLines[n], 4) << n;

    // No request: only the start.
    lua_settop(L, 0);
    setglobal("ask", [](lua_State *) { return 0; });
    lua_sethook(L, recordLines, LUA_MASKLINE, 0);
    hookLines.clear();
    ASSERT_EQ(run(f, 1), 0);
    EXPECT_EQ(hookLines.size(), 1u);

    // The count hook counts as without polls on request.
    setglobal("ask", askEveryTenth);
    int counts[2];
    for (int onRequest = 0; onRequest < 2; onRequest++) {
        qxVmPollOnRequest = onRequest;
        lua_settop(L, 0);
        lua_sethook(L, recordLines, LUA_MASKCOUNT, 1);
        countEvents = 0;
        ASSERT_EQ(run(f, 1), 0);
        counts[onRequest] = countEvents;
    }
    EXPECT_EQ(counts[1], counts[0]);
    EXPECT_GT(counts[0], 400);
    lua_sethook(L, nullptr, 0, 0);
}
