// File objects of the dos library: opening and finding, numbers in both
// byte orders, strings and UTF-8 characters, lines, positions, whole files
// and their refusals of bad input.
#include "dostest.h"

#include <cstring>

#include "core/files/qx_chunkname.h"
#include "core/errors/qx_errors.h"
#include "libs/qx_dos.h"

namespace {

using dostest::Arg;
using dostest::DosTest;
using dostest::Nil;
using libtest::Result;

struct DosFileTest : DosTest {
    // OpenFile with an automatic identifier; the identifier or null.
    void *openAuto(const std::string &name, int mode) {
        lua_settop(L, 0);
        pushCommand("OpenFile");
        lua_pushnil(L);
        lua_pushstring(L, path(name).c_str());
        lua_pushnumber(L, mode);
        if (lua_pcall(L, 3, 1, 0) != 0) return nullptr;
        return lua_touserdata(L, -1);
    }
    static std::function<void(lua_State *)> id(void *p) {
        return [p](lua_State *L) { lua_pushlightuserdata(L, p); };
    }
    std::string message(int code) {
        char buffer[1200];
        qxFormatErrorCode(code, buffer, sizeof buffer);
        return buffer;
    }
    // Every piece a FileLines loop yields, then one call after the end.
    std::vector<std::string> linesOf(const std::string &name, int *status) {
        std::vector<std::string> pieces;
        lua_settop(L, 0);
        pushCommand("FileLines");
        lua_pushstring(L, path(name).c_str());
        *status = lua_pcall(L, 1, 1, 0);
        if (*status) return pieces;
        for (int guard = 0; guard < 100; guard++) {
            lua_settop(L, 1);
            lua_pushvalue(L, 1);
            EXPECT_EQ(lua_pcall(L, 0, 1, 0), 0);
            if (lua_type(L, -1) != LUA_TSTRING) break;
            pieces.emplace_back(lua_tostring(L, -1), lua_strlen(L, -1));
        }
        lua_settop(L, 1);
        lua_pushvalue(L, 1);
        EXPECT_EQ(lua_pcall(L, 0, 1, 0), 0); // again after the end: still nothing
        EXPECT_EQ(lua_type(L, -1), LUA_TNIL);
        return pieces;
    }
};

TEST_F(DosFileTest, OpeningFindingAndClosing) {
    EXPECT_EQ(open(1, "missing"), ERR_READFILE);
    EXPECT_NE(message(ERR_READFILE).find(path("missing").substr(path("missing").rfind('/') + 1)), std::string::npos);
    EXPECT_EQ(status("ReadByte", {1}), ERR_FINDFILE);
    EXPECT_NE(message(ERR_FINDFILE).find("1!"), std::string::npos);
    EXPECT_EQ(open(1, "nodir/x", 1006), ERR_WRITEFILE);
    EXPECT_EQ(status("OpenFile", {1, path("x"), 1007}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("OpenFile", {1, "", 1006}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("OpenFile", {1}), ERR_MISSINGPARAMTR);
    EXPECT_EQ(status("OpenFile", {1, path("x"), 1006, libtest::list({}), 5}), ERR_TOOMANYARGS);

    put("a", "A");
    put("b", "B");
    ASSERT_EQ(open(1, "a"), 0);
    ASSERT_EQ(open(1, "b"), 0); // the first file 1 is closed silently
    EXPECT_EQ(num("ReadByte", {1}), 'B');
    void *automatic = openAuto("a", 1005);
    ASSERT_NE(automatic, nullptr);
    EXPECT_EQ(num("ReadByte", {id(automatic)}), 'A');
    EXPECT_EQ(status("CloseFile", {id(automatic)}), 0);
    EXPECT_EQ(status("ReadByte", {id(automatic)}), ERR_FINDARRAY);
    EXPECT_EQ(status("CloseFile", {1}), 0);
    EXPECT_EQ(status("CloseFile", {1}), ERR_FINDFILE);
    // Files left open are closed with the library (the leak check sees it).
    ASSERT_EQ(open(2, "c", 1006), 0);
    EXPECT_EQ(status("WriteLine", {2, "kept"}), 0);
}

TEST_F(DosFileTest, NumbersInBothByteOrders) {
    put("n", std::string("\xFF\xFF\xFF\xFE\xFF\xFE\x01\x00\x00\x00\x3F\xC0\x00\x00", 14));
    ASSERT_EQ(open(1, "n"), 0);
    EXPECT_EQ(num("ReadInt", {1}), -2);
    EXPECT_EQ(num("ReadShort", {1}), 65534);
    EXPECT_EQ(num("ReadInt", {1, 1}), 1);
    EXPECT_EQ(num("ReadFloat", {1, 4}), 1.5);
    EXPECT_EQ(status("ReadByte", {1}), ERR_READ);
    EXPECT_EQ(status("ReadFloat", {1, 3}), ERR_WRONGUSAGE);

    ASSERT_EQ(open(2, "w", 1006), 0);
    EXPECT_EQ(status("WriteFloat", {2, 1.5, 4}), 0);
    EXPECT_EQ(status("WriteFloat", {2, -2.25}), 0);
    EXPECT_EQ(status("WriteInt", {2, -2}), 0);
    EXPECT_EQ(status("WriteInt", {2, 1, 1}), 0);
    EXPECT_EQ(status("WriteShort", {2, 0x12345}), 0);
    EXPECT_EQ(status("WriteShort", {2, 0x0102, 1}), 0);
    EXPECT_EQ(status("WriteByte", {2, 0x1FF}), 0);
    EXPECT_EQ(status("WriteFloat", {2, 1, 2}), ERR_WRONGUSAGE);
    ASSERT_EQ(status("CloseFile", {2}), 0);
    std::string expect("\x3F\xC0\x00\x00"
                       "\xC0\x02\x00\x00\x00\x00\x00\x00"
                       "\xFF\xFF\xFF\xFE"
                       "\x01\x00\x00\x00"
                       "\x23\x45"
                       "\x02\x01"
                       "\xFF",
                       25);
    EXPECT_EQ(libtest::hex(get("w")), libtest::hex(expect));
    ASSERT_EQ(open(3, "w"), 0);
    EXPECT_EQ(num("ReadFloat", {3, 4}), 1.5);
    EXPECT_EQ(num("ReadFloat", {3}), -2.25);
}

TEST_F(DosFileTest, AccessKindsAndShortWrites) {
    put("r", "abc");
    ASSERT_EQ(open(1, "r"), 0);
    for (const char *cmd : {"WriteLine", "WriteBytes", "WriteString", "WriteByte", "WriteChr", "WriteShort",
                            "WriteInt", "WriteFloat"})
        EXPECT_EQ(status(cmd, {1, "1"}), ERR_READONLY) << cmd;
    ASSERT_EQ(open(2, "w", 1006), 0);
    for (const char *cmd : {"ReadLine", "ReadBytes", "ReadByte", "ReadChr", "ReadShort", "ReadInt", "ReadFloat"})
        EXPECT_EQ(status(cmd, {2}), ERR_WRITEONLY) << cmd;
    EXPECT_EQ(status("ReadString", {2, 0, 0}), ERR_WRITEONLY);
    EXPECT_EQ(status("WriteBytes", {2, "abc", 4}), ERR_STRTOOSHORT);
    EXPECT_EQ(status("WriteString", {2, "abc", 4, 0}), ERR_STRTOOSHORT);
    EXPECT_EQ(status("WriteBytes", {2, "abc", 2}), 0);
    ASSERT_EQ(status("CloseFile", {2}), 0);
    EXPECT_EQ(get("w"), "ab");
    // Read and write on one file.
    ASSERT_EQ(open(3, "r", 1004), 0);
    EXPECT_EQ(num("ReadByte", {3}), 'a');
    EXPECT_EQ(status("WriteByte", {3, 'X'}), 0);
    ASSERT_EQ(status("CloseFile", {3}), 0);
    EXPECT_EQ(get("r"), "aXc");
}

TEST_F(DosFileTest, LinesAndLineEnds) {
    put("l", "a\r\nb\n\nlast\n");
    ASSERT_EQ(open(1, "l"), 0);
    EXPECT_EQ(str("ReadLine", {1}), "a");
    EXPECT_EQ(str("ReadLine", {1}), "b");
    EXPECT_EQ(str("ReadLine", {1}), "");
    EXPECT_EQ(num("Eof", {1}), 0);
    EXPECT_EQ(str("ReadLine", {1}), "last");
    EXPECT_EQ(num("Eof", {1}), 1);
    EXPECT_EQ(str("ReadLine", {1}), "");
    put("m", "x\ry");
    ASSERT_EQ(open(2, "m"), 0);
    EXPECT_EQ(str("ReadLine", {2}), "xy");

    ASSERT_EQ(open(3, "w", 1006), 0);
    EXPECT_EQ(status("WriteLine", {3, std::string("one\0two", 7)}), 0);
    EXPECT_EQ(status("UseCarriageReturn", {1}), 0);
    EXPECT_EQ(status("WriteLine", {3, "two"}), 0);
    EXPECT_EQ(status("UseCarriageReturn", {0}), 0);
    EXPECT_EQ(status("SetIOMode", {1}), 0);
    EXPECT_EQ(status("WriteLine", {3, "three"}), 0);
    EXPECT_EQ(status("SetIOMode", {2}), ERR_WRONGUSAGE);
    ASSERT_EQ(status("CloseFile", {3}), 0);
    EXPECT_EQ(get("w"), "one\ntwo\r\nthree\n");
    ASSERT_EQ(open(3, "w"), 0);
    EXPECT_EQ(str("ReadLine", {3}), "one"); // unbuffered mode reads the same
    EXPECT_EQ(str("ReadLine", {3}), "two");
    EXPECT_EQ(status("SetIOMode", {0}), 0);
    EXPECT_EQ(str("ReadLine", {3}), "three");
}

TEST_F(DosFileTest, ReadLineKeepsThePositionForOtherReads) {
    const std::string longLine(100000, 'q');
    put("mix", "ab\r\n" + longLine + "\nZrest\nend");
    ASSERT_EQ(open(1, "mix"), 0);
    for (int mode = 0; mode < 2; mode++) {
        ASSERT_EQ(status("SetIOMode", {mode}), 0);
        ASSERT_EQ(status("Seek", {1, 0}), 0);
        EXPECT_EQ(str("ReadLine", {1}), "ab") << mode;
        EXPECT_EQ(str("ReadLine", {1}), longLine) << mode;
        EXPECT_EQ(num("FilePos", {1}), 4 + 100001) << mode;
        EXPECT_EQ(num("ReadByte", {1}), 'Z') << mode;
        EXPECT_EQ(str("ReadLine", {1}), "rest") << mode;
        EXPECT_EQ(str("ReadLine", {1}), "end") << mode;
        EXPECT_EQ(num("Eof", {1}), 1) << mode;
        EXPECT_EQ(str("ReadLine", {1}), "") << mode;
    }
    ASSERT_EQ(status("SetIOMode", {0}), 0);
    // A line of a chunk ends where the chunk does, not in its container.
    char chunk[1024];
    ASSERT_EQ(qxMakeChunkName("mix", chunk, sizeof chunk, 4, 50, 0, path("mix").c_str()), 1);
    ASSERT_EQ(status("OpenFile", {2, std::string(chunk)}), 0);
    EXPECT_EQ(str("ReadLine", {2}), std::string(50, 'q'));
    EXPECT_EQ(num("Eof", {2}), 1);
}

TEST_F(DosFileTest, FileLinesCutsLongLinesIntoPieces) {
    put("long", std::string(3000, 'x') + "\n\nend\r\n" + std::string("a\0b", 3));
    int st = 0;
    std::vector<std::string> pieces = linesOf("long", &st);
    ASSERT_EQ(st, 0);
    ASSERT_EQ(pieces.size(), 6u);
    EXPECT_EQ(pieces[0].size(), 1024u);
    EXPECT_EQ(pieces[1].size(), 1024u);
    EXPECT_EQ(pieces[2].size(), 952u);
    EXPECT_EQ(pieces[3], "");
    EXPECT_EQ(pieces[4], "end");
    EXPECT_EQ(pieces[5], "a"); // up to the first zero byte
    put("empty", "");
    EXPECT_TRUE(linesOf("empty", &st).empty());
    linesOf("missing", &st);
    EXPECT_EQ(st, ERR_READFILE);
    // An iterator dropped before its end is closed by the collector.
    lua_settop(L, 0);
    pushCommand("FileLines");
    lua_pushstring(L, path("long").c_str());
    ASSERT_EQ(lua_pcall(L, 1, 1, 0), 0);
    lua_settop(L, 0);
    lua_setgcthreshold(L, 0);
}

TEST_F(DosFileTest, PositionsAndSeeking) {
    put("p", "0123456789");
    ASSERT_EQ(open(1, "p"), 0);
    EXPECT_EQ(num("FileLength", {1}), 10);
    EXPECT_EQ(status("Seek", {1, -1}), 0); // #EOF from the beginning: the end
    EXPECT_EQ(num("FilePos", {1}), 10);
    EXPECT_EQ(num("Eof", {1}), 1);
    EXPECT_EQ(str("ReadBytes", {1}), "");
    EXPECT_EQ(status("Seek", {1, -1, 0}), 0);
    EXPECT_EQ(str("ReadBytes", {1}), "9");
    EXPECT_EQ(status("Seek", {1, 3}), 0);
    EXPECT_EQ(str("ReadBytes", {1, 2}), "34");
    EXPECT_EQ(status("Seek", {1, -2, 2}), 0);
    EXPECT_EQ(str("ReadBytes", {1}), "89");
    EXPECT_EQ(status("Seek", {1, -5, 1}), ERR_SEEKFILE);
    EXPECT_EQ(status("Seek", {1, 2}), 0);
    EXPECT_EQ(status("ReadBytes", {1, 9}), ERR_READ);
    EXPECT_EQ(status("FlushFile", {1}), 0);

    Result r = call("FileAttributes", {1});
    ASSERT_EQ(r.status, 0);
    lua_pushstring(L, "size");
    lua_gettable(L, 1);
    EXPECT_EQ(lua_tonumber(L, -1), 10);
    lua_pushstring(L, "type");
    lua_gettable(L, 1);
    EXPECT_EQ(lua_tonumber(L, -1), 0);
    lua_pushstring(L, "streaming");
    lua_gettable(L, 1);
    EXPECT_EQ(lua_tonumber(L, -1), 0);
    lua_pushstring(L, "time");
    lua_gettable(L, 1);
    EXPECT_EQ(lua_strlen(L, -1), 20u);
}

TEST_F(DosFileTest, StringsAndUtf8Characters) {
    const std::string bom = "\xEF\xBB\xBF", ae = "\xC3\xA4", euro = "\xE2\x82\xAC";
    put("u", bom + ae + "b" + bom + euro + "z" + "\xC3(");
    ASSERT_EQ(open(1, "u"), 0);
    EXPECT_EQ(str("ReadString", {1, 3, 1}), ae + "b" + euro); // marks skipped, not counted
    EXPECT_EQ(num("ReadChr", {1, 1}), 'z');
    EXPECT_EQ(status("ReadChr", {1, 1}), ERR_INVALIDUTF8);
    EXPECT_EQ(status("Seek", {1, 0}), 0);
    EXPECT_EQ(str("ReadString", {1, 0, 1}), ae + "b" + bom + euro + "z\xC3(");
    EXPECT_EQ(status("Seek", {1, 0}), 0);
    EXPECT_EQ(str("ReadBytes", {1, 3}), bom); // ReadBytes keeps the mark
    EXPECT_EQ(num("ReadChr", {1, 0}), 0xC3);
    EXPECT_EQ(status("Seek", {1, 0}), 0);
    EXPECT_EQ(str("ReadString", {1, 4, 0}), bom + "\xC3");

    ASSERT_EQ(open(2, "w", 1006), 0);
    EXPECT_EQ(status("WriteString", {2, ae + euro + "x", 2, 1}), 0);
    EXPECT_EQ(status("WriteString", {2, ae, 1, 0}), 0);
    // Characters are counted, but only a length beyond the bytes is refused.
    EXPECT_EQ(status("WriteString", {2, ae, 3, 1}), ERR_STRTOOSHORT);
    EXPECT_EQ(status("WriteString", {2, ae, 2, 1}), 0);
    EXPECT_EQ(status("WriteString", {2, "a\xC3(", 0, 1}), ERR_INVALIDUTF8ARG);
    EXPECT_EQ(status("WriteChr", {2, 0x20AC, 1}), 0);
    EXPECT_EQ(status("WriteChr", {2, 0x1F600, 1}), 0);
    EXPECT_EQ(status("WriteChr", {2, 0x1E4, 0}), 0);
    EXPECT_EQ(status("WriteChr", {2, 0x110000, 1}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("WriteChr", {2, -1, 1}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("WriteChr", {2, 0, 1}), 0); // U+0000 is one byte, not "no bytes"
    ASSERT_EQ(status("CloseFile", {2}), 0);
    EXPECT_EQ(libtest::hex(get("w")),
              libtest::hex(ae + euro + "\xC3" + ae + euro + "\xF0\x9F\x98\x80" + "\xE4" + std::string(1, '\0')));
}

TEST_F(DosFileTest, WholeFiles) {
    std::string data;
    for (int i = 0; i < 70000; i++) data.push_back(static_cast<char>(i * 7));
    put("big", data);
    Result r = call("FileToString", {path("big")});
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(r.str(0) == data);
    EXPECT_EQ(r.num(1), 70000);
    put("exact", std::string(16384, 'q'));
    EXPECT_EQ(call("FileToString", {path("exact")}).num(1), 16384);
    EXPECT_EQ(status("FileToString", {path("missing")}), ERR_READFILE);
    EXPECT_EQ(status("StringToFile", {data, path("copy")}), 0);
    EXPECT_TRUE(get("copy") == data);
    EXPECT_EQ(status("StringToFile", {"", path("empty")}), 0);
    EXPECT_TRUE(exists("empty"));
    EXPECT_EQ(get("empty"), "");
    EXPECT_EQ(status("StringToFile", {"x", path("nodir/f")}), ERR_WRITEFILE);
    EXPECT_EQ(status("StringToFile", {"x", dir}), ERR_WRITEFILE); // a directory
    EXPECT_EQ(str("GetAsset", {"pic.png"}), "pic.png");
    // A directory where a file is expected.
    int st = open(1, ".");
    if (st == 0) EXPECT_NE(status("ReadBytes", {1}), 0);
    else EXPECT_EQ(st, ERR_READFILE);
}

TEST_F(DosFileTest, FindFileForOtherLibraries) {
    put("f", "xyz");
    ASSERT_EQ(open(7, "f"), 0);
    qxDosFile *file = nullptr;
    ASSERT_EQ(qxFindFile({7, nullptr}, &file), 0);
    EXPECT_EQ(file->header.type, 44u);
    EXPECT_EQ(file->mode, 1005u);
    EXPECT_EQ(file->access, 1u);
    uint8_t b[2];
    EXPECT_EQ(qxFileReadBytes(file->handle, b, 1, 2, 0, nullptr), 0);
    EXPECT_EQ(b[0], 'x');
    EXPECT_EQ(qxFileReadBytes(file->handle, b, 1, 2, 0, nullptr), ERR_READ);
    EXPECT_EQ(qxFindFile({8, nullptr}, &file), ERR_FINDFILE);
    uint8_t mem[4] = {0x12, 0x34, 0x56, 0x78};
    qxMemCursor cursor{mem, mem + 4};
    uint32_t v = 0;
    EXPECT_EQ(qxFileReadBytes(nullptr, &v, 0, 4, 0, &cursor), 0);
    EXPECT_EQ(v, 0x12345678u);
    EXPECT_EQ(qxFileReadBytes(nullptr, &v, 0, 4, 0, &cursor), ERR_READ);
    cursor = {mem, mem + 4};
    uint16_t s = 0xABCD;
    EXPECT_EQ(qxFileWriteBytes(nullptr, &s, 0, 2, 0, &cursor), 0);
    EXPECT_EQ(mem[0], 0xAB);
    EXPECT_EQ(qxFileWriteBytes(nullptr, &v, 1, 4, 0, &cursor), ERR_WRITE);
}

} // namespace
