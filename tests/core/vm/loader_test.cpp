// Binary chunks: byte orders, size widths, header checks, malformed input, dump round trips.
#include <gtest/gtest.h>

#include "core/vm/ldo.h"
#include "core/vm/lstate.h"
#include "chunk_writer.h"

using namespace chunktest;

namespace {

struct LoaderTest : ::testing::Test {
    lua_State *L = nullptr;
    void SetUp() override { L = lua_open(); ASSERT_NE(L, nullptr); }
    void TearDown() override { lua_close(L); }
};

// A function with a nested closure, locals, upvalue names and every constant type.
Func sample() {
    Func inner;
    inner.nups = 1;
    inner.linedefined = 3;
    inner.upnames = {"n"};
    inner.k = {num(1)};
    inner.code = {CREATE_ABC(OP_GETUPVAL, 0, 0, 0), CREATE_ABC(OP_ADD, 0, 0, K(0)), CREATE_ABC(OP_SETUPVAL, 0, 0, 0),
                  CREATE_ABC(OP_RETURN, 0, 2, 0)};
    inner.source = std::string("@scripts/main.qxs"); // written with length 0
    Func f;
    f.source = inner.source;
    f.k = {num(40), str("unused"), nil(), num(-0.5)};
    f.p = {inner};
    f.locvars = {{"n", 1, 7}, {"inc", 3, 7}};
    f.code = {CREATE_ABx(OP_LOADK, 0, 0), CREATE_ABx(OP_CLOSURE, 1, 0), CREATE_ABC(OP_MOVE, 0, 0, 0),
              CREATE_ABC(OP_MOVE, 2, 1, 0), CREATE_ABC(OP_CALL, 2, 1, 1), CREATE_ABC(OP_MOVE, 2, 1, 0),
              CREATE_ABC(OP_CALL, 2, 1, 2), CREATE_ABC(OP_RETURN, 2, 2, 0)};
    return f;
}

TEST_F(LoaderTest, AllByteOrdersAndSizeWidthsRunAlike) {
    for (bool big : {false, true}) {
        for (int sizet : {4, 8}) {
            for (size_t piece : {size_t(1), size_t(7), size_t(1 << 20)}) {
                std::string bytes = chunk(sample(), big, sizet);
                ASSERT_EQ(load(L, bytes, piece), 0) << big << sizet << piece;
                ASSERT_EQ(lua_pcall(L, 0, 1, 0), 0);
                EXPECT_EQ(lua_tonumber(L, -1), 42);
                lua_settop(L, 0);
            }
        }
    }
}

TEST_F(LoaderTest, TestNumberIsCheckedByItsIntegerPart) {
    Writer w;
    w.test = 31415926.9;
    w.header();
    w.function(sample());
    EXPECT_EQ(load(L, w.out), 0);
    lua_settop(L, 0);
    Writer bad;
    bad.test = 31415927.0;
    bad.header();
    bad.function(sample());
    EXPECT_EQ(load(L, bad.out), 1205);
    EXPECT_EQ(lua_gettop(L), 0);
}

TEST_F(LoaderTest, HeaderFieldsAreChecked) {
    std::string good = chunk(sample());
    EXPECT_EQ(load(L, "print('hello')"), 1204);
    std::string sig = good;
    sig[3] = 'C';
    EXPECT_EQ(load(L, sig), 1204);
    // every size byte (offsets 5..12) must have its one value (size_t: 4 or 8)
    for (int off = 5; off <= 12; off++) {
        std::string b = good;
        b[off] = static_cast<char>(b[off] + 1);
        EXPECT_EQ(load(L, b), 1199) << off;
    }
    EXPECT_EQ(lua_gettop(L), 0);
}

TEST_F(LoaderTest, TruncatedChunksFailCleanly) {
    std::string good = chunk(sample());
    for (size_t n = 0; n < good.size(); n++) {
        int st = load(L, good.substr(0, n), 3);
        EXPECT_EQ(st, 1198) << n;
        EXPECT_EQ(lua_gettop(L), 0);
    }
}

TEST_F(LoaderTest, OpcodesAbove44LoadAndAreIgnored) {
    Func f = sample();
    f.code.insert(f.code.begin(), CREATE_ABC(45, 255, 511, 511));
    f.code.insert(f.code.end() - 1, CREATE_ABx(63, 2, 0x3FFFF));
    ASSERT_EQ(load(L, chunk(f)), 0);
    ASSERT_EQ(lua_pcall(L, 0, 1, 0), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 42);
}

TEST_F(LoaderTest, MalformedRecords) {
    Func f = sample();
    Func farjump = f;
    farjump.code.insert(farjump.code.begin(), CREATE_J(100, 0));
    EXPECT_EQ(load(L, chunk(farjump)), 1203);
    Func backjump = f;
    backjump.code.insert(backjump.code.begin(), CREATE_J(-2, 0));
    EXPECT_EQ(load(L, chunk(backjump)), 1203);
    Func farfor = f;
    farfor.code.insert(farfor.code.begin(), CREATE_AsBx(OP_FORLOOP, 0, 50));
    EXPECT_EQ(load(L, chunk(farfor)), 1203);
    Func farprep = f;
    farprep.code.insert(farprep.code.begin(), CREATE_AsBx(OP_TFORPREP, 0, -5));
    EXPECT_EQ(load(L, chunk(farprep)), 1203);
    Func badreg = f;
    badreg.code[0] = CREATE_ABx(OP_LOADK, 10, 0); // maxstack is 10
    EXPECT_EQ(load(L, chunk(badreg)), 1203);
    Func badk = f;
    badk.code[0] = CREATE_ABx(OP_LOADK, 0, 4);
    EXPECT_EQ(load(L, chunk(badk)), 1203);
    Func noreturn = f;
    noreturn.code.pop_back();
    EXPECT_EQ(load(L, chunk(noreturn)), 1203);
    Func globalnum = f;
    globalnum.code[0] = CREATE_ABx(OP_GETGLOBAL, 0, 0); // constant 0 is a number
    EXPECT_EQ(load(L, chunk(globalnum)), 1203);
    Func badclosure = f;
    badclosure.code[2] = CREATE_ABC(OP_LOADNIL, 0, 0, 0); // not a pseudo-instruction
    EXPECT_EQ(load(L, chunk(badclosure)), 1203);
    Func cmpnojump = f;
    cmpnojump.code.insert(cmpnojump.code.begin(), CREATE_ABC(OP_EQ, 0, 0, 0));
    EXPECT_EQ(load(L, chunk(cmpnojump)), 1203);
    Func upnames = f;
    upnames.p[0].upnames = {"a", "b"};
    EXPECT_EQ(load(L, chunk(upnames)), 1201);
    Func negline = f;
    negline.linedefined = -1;
    EXPECT_EQ(load(L, chunk(negline)), 1200);
    EXPECT_EQ(lua_gettop(L), 0);
}

TEST_F(LoaderTest, BadConstantTypeAndNegativeCount) {
    std::string bytes = chunk(sample());
    // the constant count follows the upvalue-name count; find the first constant's type byte
    Writer w;
    w.header();
    Func f = sample();
    f.k = {num(40)};
    w.function(f);
    std::string b = w.out;
    size_t pos = b.find(std::string("\x03\x00\x00\x00\x00\x00\x00\x44\x40", 9));
    ASSERT_NE(pos, std::string::npos);
    b[pos] = 5;
    EXPECT_EQ(load(L, b), 1202);
    std::string n = w.out;
    // line count field right after the four bytes of item 3 (offset 21 + 8 + 18 + 4 + 4)
    size_t linecount = 21 + 8 + 18 + 4 + 4;
    n[linecount + 3] = static_cast<char>(0x80);
    EXPECT_EQ(load(L, n), 1200);
}

TEST_F(LoaderTest, DumpRoundTripsByteForByte) {
    for (bool big : {false, true}) {
        std::string bytes = chunk(sample(), big, big ? 4 : 8);
        ASSERT_EQ(load(L, bytes), 0);
        std::string dumped;
        ASSERT_EQ(lua_dump(L, -1, writeString, &dumped), 0);
        EXPECT_EQ(dumped, chunk(sample(), false, 8)); // the dumper writes little-endian, 8-byte sizes
        ASSERT_EQ(load(L, dumped), 0);
        std::string again;
        ASSERT_EQ(lua_dump(L, -1, writeString, &again), 0);
        EXPECT_EQ(again, dumped);
        lua_settop(L, 0);
    }
    lua_pushcfunction(L, [](lua_State *) { return 0; });
    std::string none;
    EXPECT_EQ(lua_dump(L, -1, writeString, &none), 1324);
    EXPECT_TRUE(none.empty());
}

TEST_F(LoaderTest, NestedFunctionInheritsTheSourceName) {
    ASSERT_EQ(load(L, chunk(sample())), 0);
    LClosure *cl = lclvalue(L->top - 1);
    ASSERT_EQ(cl->p->sizep, 1);
    EXPECT_STREQ(getstr(cl->p->source), "@scripts/main.qxs");
    EXPECT_EQ(cl->p->p[0]->source, cl->p->source);
}

TEST_F(LoaderTest, DeepNestingIsRefused) {
    Func f;
    f.code = {CREATE_ABC(OP_RETURN, 0, 1, 0)};
    for (int i = 0; i < 300; i++) {
        Func outer;
        outer.p = {f};
        outer.code = {CREATE_ABC(OP_RETURN, 0, 1, 0)};
        f = outer;
    }
    EXPECT_EQ(load(L, chunk(f)), 1203);
}

} // namespace
