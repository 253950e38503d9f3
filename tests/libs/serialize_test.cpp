// Tables in files: the exact bytes of the entry stream, both file forms
// read back, the Base64 form checked with Python, and damaged or hostile
// files refused without reading past their data.
#include "dostest.h"

#include <cstring>

#include "core/errors/qx_errors.h"
#include "libs/qx_dos.h"
#include "libs/qx_serialize.h"

namespace {

using dostest::Arg;
using dostest::DosTest;
using libtest::Result;

using Pusher = std::function<void(lua_State *)>;

struct SerializeTest : DosTest {
    // Writes a table (pushed by make) into a new file; the WriteTable status.
    int writeTable(const std::string &name, Pusher make, int encoded = 0, int noBreak = 0) {
        status("CloseFile", {9});
        EXPECT_EQ(open(9, name, 1006), 0);
        int st = status("WriteTable", {9, Arg(make), encoded, noBreak});
        EXPECT_EQ(status("CloseFile", {9}), 0);
        return st;
    }
    // Reads the table of a file; leaves it at stack index 1 on success.
    int readTable(const std::string &name) {
        status("CloseFile", {9});
        EXPECT_EQ(open(9, name), 0);
        Result r = call("ReadTable", {9});
        return r.status;
    }
    std::string field(const char *key) {
        lua_pushstring(L, key);
        lua_gettable(L, 1);
        std::string s = lua_isstring(L, -1) ? std::string(lua_tostring(L, -1), lua_strlen(L, -1)) : "<nil>";
        lua_pop(L, 1);
        return s;
    }
    double index(double k) {
        lua_pushnumber(L, k);
        lua_gettable(L, 1);
        double d = lua_type(L, -1) == LUA_TNUMBER ? lua_tonumber(L, -1) : -999;
        lua_pop(L, 1);
        return d;
    }
};

void set(lua_State *L, const std::string &k, const Arg &v) {
    lua_pushlstring(L, k.data(), k.size());
    v.push(L);
    lua_settable(L, -3);
}

TEST_F(SerializeTest, ExactBytesOfTheStream) {
    ASSERT_EQ(writeTable("empty", [](lua_State *L) { lua_newtable(L); }), 0);
    EXPECT_EQ(libtest::hex(get("empty")), libtest::hex(std::string("QXT0\0", 5)));
    ASSERT_EQ(writeTable("one", [](lua_State *L) {
                  lua_newtable(L);
                  lua_pushnumber(L, 1);
                  lua_rawseti(L, -2, 1);
              }),
              0);
    EXPECT_EQ(libtest::hex(get("one")), "51585430" "023ff0000000000000" "023ff0000000000000" "00");
    ASSERT_EQ(writeTable("str", [](lua_State *L) {
                  lua_newtable(L);
                  set(L, "a", "bc");
                  set(L, "flag", Arg(Pusher([](lua_State *L) { lua_pushboolean(L, 1); })));
              }),
              0);
    EXPECT_EQ(libtest::hex(get("str")), "51585430" "030000000161" "03000000026263" "00");
    ASSERT_EQ(writeTable("ud", [](lua_State *L) {
                  lua_newtable(L);
                  set(L, "u", Arg(Pusher([](lua_State *L) { lua_pushlightuserdata(L, L); })));
              }),
              0);
    EXPECT_EQ(libtest::hex(get("ud")), "51585430" "030000000175" "020000000000000000" "00");
    ASSERT_EQ(readTable("ud"), 0);
    EXPECT_EQ(field("u"), "0");
}

TEST_F(SerializeTest, TreesComeBackInBothForms) {
    const std::string longKey(300, 'k'); // over 256 bytes: read back as written
    const std::string binary("a\0b\xFF", 4);
    Pusher tree = [&](lua_State *L) {
        lua_newtable(L);
        set(L, "name", "zephyrane");
        set(L, binary, binary);
        set(L, longKey, std::string(70000, 'v'));
        lua_pushnumber(L, -0.5);
        lua_pushnumber(L, 1e300);
        lua_settable(L, -3);
        lua_pushstring(L, "inner");
        lua_newtable(L);
        set(L, "deep", Arg(Pusher([](lua_State *L) {
                lua_newtable(L);
                lua_pushnumber(L, 42);
                lua_rawseti(L, -2, 0);
            })));
        lua_settable(L, -3);
    };
    for (int encoded = 0; encoded < 2; encoded++) {
        for (int cr = 0; cr < 2; cr++) {
            qxDosCarriageReturn = cr;
            ASSERT_EQ(writeTable("t", tree, encoded), 0);
            qxDosCarriageReturn = 0;
            ASSERT_EQ(readTable("t"), 0) << encoded;
            EXPECT_EQ(field("name"), "zephyrane");
            lua_pushlstring(L, binary.data(), binary.size());
            lua_gettable(L, 1);
            EXPECT_TRUE(std::string(lua_tostring(L, -1), lua_strlen(L, -1)) == binary);
            lua_pop(L, 1);
            EXPECT_EQ(field(longKey.c_str()).size(), 70000u);
            EXPECT_EQ(index(-0.5), 1e300);
            lua_pushstring(L, "inner");
            lua_gettable(L, 1);
            lua_pushstring(L, "deep");
            lua_gettable(L, -2);
            lua_rawgeti(L, -1, 0);
            EXPECT_EQ(lua_tonumber(L, -1), 42);
            lua_settop(L, 1);
            EXPECT_EQ(status("Eof", {9}), 0);
            EXPECT_EQ(num("Eof", {9}), 1); // the position is after the data
        }
    }
}

TEST_F(SerializeTest, EncodedFormMatchesPythonBase64) {
    // 111 bytes with "QXT0": 148 characters, two line breaks.
    Pusher t = [](lua_State *L) {
        lua_newtable(L);
        set(L, "s", std::string(95, 'x'));
    };
    ASSERT_EQ(writeTable("plain", t), 0);
    ASSERT_EQ(get("plain").size(), 111u);
    for (int cr = 0; cr < 2; cr++) {
        qxDosCarriageReturn = cr;
        ASSERT_EQ(writeTable("enc", t, 1), 0);
        qxDosCarriageReturn = 0;
        std::string enc = get("enc");
        ASSERT_GE(enc.size(), 12u);
        EXPECT_EQ(enc.substr(0, 4), "QXT1");
        EXPECT_EQ(enc.substr(4, 8), cr ? "00000098" : "00000096");
        EXPECT_EQ(enc.size(), 12u + (cr ? 152u : 150u));
        bool ok = false;
        std::string out = python(R"(
import base64, os
enc = open(os.path.join(D, "enc"), "rb").read()
n = int(enc[4:12], 16)
plain = open(os.path.join(D, "plain"), "rb").read()
print(base64.b64decode(b"".join(enc[12:12 + n].split())) == plain, n == len(enc) - 12)
)", &ok);
        if (!ok) GTEST_SKIP() << "no python3";
        EXPECT_EQ(out, "True True\n");
    }
    ASSERT_EQ(writeTable("nobreak", t, 1, 1), 0);
    EXPECT_EQ(get("nobreak").substr(4, 8), "00000094");
    EXPECT_EQ(get("nobreak").find('\n'), std::string::npos);
    ASSERT_EQ(readTable("nobreak"), 0);
    EXPECT_EQ(field("s"), std::string(95, 'x'));
}

TEST_F(SerializeTest, TablesThatCannotBeWritten) {
    Pusher withCommand = [](lua_State *L) {
        lua_newtable(L);
        set(L, "f", Arg(Pusher([](lua_State *L) { lua_pushcfunction(L, qxCmdEof); })));
    };
    EXPECT_EQ(writeTable("cmd", withCommand, 1), ERR_NOQXFUNC);
    EXPECT_EQ(get("cmd"), ""); // the encoded form writes nothing
    EXPECT_EQ(writeTable("cmd", withCommand, 0), ERR_NOQXFUNC);
    Pusher badKey = [](lua_State *L) {
        lua_newtable(L);
        lua_pushlightuserdata(L, L);
        lua_pushnumber(L, 1);
        lua_settable(L, -3);
    };
    EXPECT_EQ(writeTable("key", badKey, 1), ERR_WRONGUSAGE);
    EXPECT_EQ(get("key"), "");
    Pusher cycle = [](lua_State *L) {
        lua_newtable(L);
        lua_pushstring(L, "me");
        lua_pushvalue(L, -2);
        lua_settable(L, -3);
    };
    EXPECT_EQ(writeTable("cycle", cycle, 1), ERR_STACK);
    EXPECT_EQ(get("cycle"), "");
    EXPECT_EQ(writeTable("cycle", cycle, 0), ERR_STACK);
    ASSERT_EQ(open(1, "cmd"), 0);
    EXPECT_EQ(status("WriteTable", {1, Arg(Pusher([](lua_State *L) { lua_newtable(L); }))}), ERR_READONLY);
    EXPECT_EQ(status("WriteTable", {1, 5}), ERR_TABEXPECTED);
    EXPECT_EQ(status("WriteFunction", {1, 5}), ERR_FUNCEXPECTED);
    ASSERT_EQ(open(2, "f", 1006), 0);
    EXPECT_EQ(status("WriteFunction", {2, Arg(Pusher([](lua_State *L) { lua_pushcfunction(L, qxCmdEof); }))}),
              ERR_NOQXFUNC);
    EXPECT_EQ(status("ReadTable", {2}), ERR_WRITEONLY);
    EXPECT_EQ(status("ReadFunction", {2}), ERR_WRITEONLY);
}

TEST_F(SerializeTest, DamagedFilesAreRefused) {
    put("magic", "QXTZ\0more");
    ASSERT_EQ(open(1, "magic"), 0);
    EXPECT_EQ(status("ReadTable", {1}), ERR_READTABLE);
    EXPECT_EQ(num("FilePos", {1}), 4);
    ASSERT_EQ(status("Seek", {1, 0}), 0);
    EXPECT_EQ(status("ReadFunction", {1}), ERR_READFUNC);

    // Every cut of a valid file fails; none reads as a table.
    Pusher t = [](lua_State *L) {
        lua_newtable(L);
        set(L, "a", "bc");
        set(L, "t", Arg(Pusher([](lua_State *L) {
                lua_newtable(L);
                lua_pushnumber(L, 2);
                lua_rawseti(L, -2, 1);
            })));
    };
    for (int encoded = 0; encoded < 2; encoded++) {
        ASSERT_EQ(writeTable("whole", t, encoded), 0);
        std::string whole = get("whole");
        for (size_t cut = 0; cut < whole.size(); cut++) {
            put("cut", whole.substr(0, cut));
            int st = readTable("cut");
            EXPECT_TRUE(st == ERR_READ || st == ERR_BADBASE64) << encoded << " " << cut << " " << st;
        }
    }
    // Hostile lengths: nothing is allocated for data that is not there.
    put("hugestr", std::string("QXT0\x03\xFF\xFF\xFF\xF0" "abc", 12));
    EXPECT_EQ(readTable("hugestr"), ERR_READ);
    put("hugeval", std::string("QXT0\x03\x00\x00\x00\x01k\x03\xFF\xFF\xFF\xFF", 15));
    EXPECT_EQ(readTable("hugeval"), ERR_READ);
    put("hugeenc", "QXT1ffffffffQXT0");
    EXPECT_EQ(readTable("hugeenc"), ERR_READ);
    put("hexbad", "QXT10000zz00QXT0");
    EXPECT_EQ(readTable("hexbad"), ERR_FILEFORMAT);
    put("tag", std::string("QXT0\x07", 5));
    EXPECT_EQ(readTable("tag"), ERR_FILEFORMAT);
    put("vtag", std::string("QXT0\x02\0\0\0\0\0\0\0\0\x01", 14));
    EXPECT_EQ(readTable("vtag"), ERR_FILEFORMAT);
    put("nan", std::string("QXT0\x02\x7F\xF8\0\0\0\0\0\0\x02\0\0\0\0\0\0\0\0\0", 23));
    EXPECT_EQ(readTable("nan"), ERR_FILEFORMAT);
    put("b64", "QXT100000004QX*0");
    EXPECT_EQ(readTable("b64"), ERR_BADBASE64);
    put("fn", std::string("QXF0\0\0\0\x05" "hello", 13));
    ASSERT_EQ(open(2, "fn"), 0);
    EXPECT_NE(status("ReadFunction", {2}), 0);
    put("fnlong", std::string("QXF0\x7F\0\0\0", 8));
    ASSERT_EQ(open(3, "fnlong"), 0);
    EXPECT_EQ(status("ReadFunction", {3}), ERR_READ);
    // Deep nesting stops at the stack limit instead of overflowing.
    std::string deep = "QXT0";
    for (int i = 0; i < 5000; i++) deep += std::string("\x02\0\0\0\0\0\0\0\0\x04", 10);
    put("deep", deep);
    EXPECT_EQ(readTable("deep"), ERR_STACK);
}

TEST_F(SerializeTest, EncodedTableInsideEncodedTable) {
    Pusher t = [](lua_State *L) {
        lua_newtable(L);
        set(L, "x", "y");
    };
    ASSERT_EQ(writeTable("inner", t, 1), 0);
    bool ok = false;
    python(R"(
import base64, os
inner = open(os.path.join(D, "inner"), "rb").read()
text = base64.b64encode(inner)
open(os.path.join(D, "outer"), "wb").write(b"QXT1" + b"%08x" % len(text) + text + b"after")
)", &ok);
    if (!ok) GTEST_SKIP() << "no python3";
    ASSERT_EQ(readTable("outer"), 0);
    EXPECT_EQ(field("x"), "y");
    EXPECT_EQ(str("ReadBytes", {9}), "after");
}

TEST_F(SerializeTest, MemoryCursorsAndCounters) {
    lua_settop(L, 0);
    lua_newtable(L);
    set(L, "k", "value");
    uint64_t size = 0;
    ASSERT_EQ(qxWriteTableStream(L, 1, nullptr, nullptr, &size), 0);
    EXPECT_EQ(size, (1u + 4 + 1) + (1 + 4 + 5) + 1);
    std::vector<uint8_t> mem(size);
    qxMemCursor out{mem.data(), mem.data() + mem.size()};
    ASSERT_EQ(qxWriteTableStream(L, 1, nullptr, &out, nullptr), 0);
    EXPECT_EQ(out.p, out.end);
    qxMemCursor small{mem.data(), mem.data() + 3};
    EXPECT_EQ(qxWriteTableStream(L, 1, nullptr, &small, nullptr), ERR_WRITE);
    qxMemCursor in{mem.data(), mem.data() + mem.size()};
    ASSERT_EQ(qxReadTableStream(L, nullptr, &in, 0), 0);
    lua_pushstring(L, "k");
    lua_gettable(L, -2);
    EXPECT_STREQ(lua_tostring(L, -1), "value");
    lua_newtable(L); // filling a given table
    qxMemCursor again{mem.data(), mem.data() + mem.size()};
    ASSERT_EQ(qxReadTableStream(L, nullptr, &again, 1), 0);
    lua_pushstring(L, "k");
    lua_gettable(L, -2);
    EXPECT_STREQ(lua_tostring(L, -1), "value");
    qxMemCursor cut{mem.data(), mem.data() + mem.size() - 1};
    EXPECT_EQ(qxReadTableStream(L, nullptr, &cut, 0), ERR_READ);
}

} // namespace
