// Checksums, Base64, packed files and patches of the dos library, checked
// against Python's zlib, hashlib and base64 and against md5sum.
#include "dostest.h"

#include <cstring>

#include "core/errors/qx_errors.h"
#include "core/codecs/qx_base64.h"
#include "libs/qx_dos.h"
#include "core/codecs/qx_md5.h"

namespace {

using dostest::Arg;
using dostest::DosTest;
using libtest::Result;

struct ChecksumTest : DosTest {
    // Python writes files "f<i>" of these sizes (random and repetitive
    // bytes) and prints "name crc md5" for each.
    std::vector<std::vector<std::string>> makeFiles(bool *ok) {
        std::string out = python(R"(
import zlib, hashlib, random, os
random.seed(5)
sizes = [0, 1, 3, 55, 56, 63, 64, 65, 1000, 65535, 65536, 65537, 300001]
for i, n in enumerate(sizes):
    data = bytes(random.getrandbits(8) for _ in range(n)) if i % 2 else (b"zephyrane " * (n // 10 + 1))[:n]
    name = os.path.join(D, "f%d" % i)
    open(name, "wb").write(data)
    print("f%d %d %s" % (i, zlib.crc32(data), hashlib.md5(data).hexdigest()))
)", ok);
        std::vector<std::vector<std::string>> rows;
        for (const std::string &line : libtest::lines(out)) rows.push_back(libtest::splitWords(line));
        return rows;
    }
};

TEST_F(ChecksumTest, CrcAndMd5OfFilesMatchPython) {
    bool ok = false;
    auto rows = makeFiles(&ok);
    if (!ok) GTEST_SKIP() << "no python3";
    ASSERT_EQ(rows.size(), 13u);
    for (auto &row : rows) {
        EXPECT_EQ(num("CRC32", {path(row[0])}), std::stod(row[1])) << row[0];
        EXPECT_EQ(str("MD5", {path(row[0])}), row[2]) << row[0];
    }
    // md5sum agrees on the largest one.
    if (std::system("command -v md5sum >/dev/null 2>&1") == 0) {
        std::string cmd = "md5sum '" + path("f12") + "' > '" + path("sum") + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        EXPECT_EQ(get("sum").substr(0, 32), str("MD5", {path("f12")}));
    }
}

TEST_F(ChecksumTest, KnownValuesAndRefusals) {
    put("nine", "123456789");
    put("abc", "abc");
    put("empty", "");
    EXPECT_EQ(num("CRC32", {path("nine")}), 3421780262.0);
    EXPECT_EQ(num("CRC32", {path("empty")}), 0);
    EXPECT_EQ(str("MD5", {path("empty")}), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(str("MD5", {path("abc")}), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(status("CRC32", {""}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("MD5", {""}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("CRC32", {path("missing")}), ERR_READFILE);
    EXPECT_EQ(status("MD5", {path("missing")}), ERR_READFILE);
    EXPECT_NE(status("CRC32", {dir}), 0); // a directory is no file
    EXPECT_NE(status("MD5", {dir}), 0);
}

TEST_F(ChecksumTest, Md5InAnyPiecesEqualsOneCall) {
    std::string data;
    for (int i = 0; i < 1000; i++) data.push_back(static_cast<char>(i * 31 + 7));
    uint8_t whole[16], pieces[16];
    qxMD5Context ctx;
    qxMD5Init(&ctx);
    qxMD5Update(&ctx, data.data(), data.size());
    qxMD5Final(&ctx, whole);
    for (size_t step : {1, 7, 63, 64, 65, 999}) {
        qxMD5Init(&ctx);
        for (size_t i = 0; i < data.size(); i += step)
            qxMD5Update(&ctx, data.data() + i, std::min(step, data.size() - i));
        qxMD5Final(&ctx, pieces);
        EXPECT_EQ(std::memcmp(whole, pieces, 16), 0) << step;
    }
}

std::string encode(const std::string &s) {
    std::string out(4 * ((s.size() + 2) / 3), '?');
    uint64_t count = 0;
    EXPECT_EQ(qxBase64Encode(nullptr, nullptr, out.data(), s.data(), s.size(), &count, 0), 0);
    EXPECT_EQ(count, out.size());
    return out;
}

int decode(const std::string &text, std::string *out) {
    std::string buffer(text.size() + 1, '\0');
    size_t n = 0;
    int r = qxBase64Decode(text.data(), reinterpret_cast<uint8_t *>(buffer.data()), nullptr, text.size(), &n);
    *out = buffer.substr(0, n);
    return r;
}

TEST_F(ChecksumTest, Base64MatchesPython) {
    bool ok = false;
    std::string out = python(R"(
import base64, random
random.seed(9)
for n in list(range(0, 20)) + [100, 257, 1000]:
    data = bytes(random.getrandbits(8) for _ in range(n))
    print(data.hex() or "-", base64.b64encode(data).decode() or "-")
)", &ok);
    if (!ok) GTEST_SKIP() << "no python3";
    auto rows = libtest::lines(out);
    ASSERT_EQ(rows.size(), 23u);
    for (const std::string &line : rows) {
        auto w = libtest::splitWords(line);
        std::string data = libtest::unhex(w[0]), text = w[1] == "-" ? "" : w[1];
        EXPECT_EQ(encode(data), text) << w[0];
        std::string back;
        EXPECT_EQ(decode(text, &back), 0);
        EXPECT_TRUE(back == data) << w[0];
    }
}

TEST_F(ChecksumTest, Base64EdgeCases) {
    EXPECT_EQ(encode("abc"), "YWJj");
    EXPECT_EQ(encode("ab"), "YWI=");
    EXPECT_EQ(encode("a"), "YQ==");
    std::string s;
    EXPECT_EQ(decode("YW Jj", &s), 0);
    EXPECT_EQ(s, "abc");
    EXPECT_EQ(decode("YW\r\nJj\t", &s), 0);
    EXPECT_EQ(s, "abc");
    EXPECT_EQ(decode("YWI=garbage", &s), 0);
    EXPECT_EQ(s, "ab");
    EXPECT_EQ(decode("YWJ", &s), ERR_BADBASE64);
    EXPECT_EQ(decode("YW*j", &s), ERR_BADBASE64);
    EXPECT_EQ(decode("", &s), 0);
    EXPECT_EQ(s, "");
    // Into a VM string buffer.
    luaL_Buffer b;
    luaL_buffinit(L, &b);
    EXPECT_EQ(qxBase64Encode(nullptr, &b, nullptr, "hello", 5, nullptr, 0), 0);
    luaL_pushresult(&b);
    EXPECT_STREQ(lua_tostring(L, -1), "aGVsbG8=");
    luaL_buffinit(L, &b);
    EXPECT_EQ(qxBase64Decode("aGVsbG8=", nullptr, &b, 8, nullptr), 0);
    luaL_pushresult(&b);
    EXPECT_STREQ(lua_tostring(L, -1), "hello");
}

TEST_F(ChecksumTest, Base64IntoFilesBreaksLines) {
    std::string data(111, 'x'); // 148 characters: breaks after 72 and 144
    for (int cr = 0; cr < 2; cr++) {
        qxFileHandle *h = qxOpen(path("b64").c_str(), QX_OPEN_WRITE, nullptr);
        ASSERT_NE(h, nullptr);
        uint64_t count = 0;
        EXPECT_EQ(qxBase64Encode(h, nullptr, nullptr, data.data(), data.size(), &count, cr ? QX_BASE64_CRLF : 0), 0);
        qxClose(h);
        std::string text = get("b64");
        EXPECT_EQ(count, cr ? 152u : 150u);
        EXPECT_EQ(text.size(), count);
        std::string brk = cr ? "\r\n" : "\n";
        EXPECT_EQ(text.find(brk), 72u);
        EXPECT_EQ(text.find(brk, 73 + cr), 144u + brk.size());
        EXPECT_NE(text.back(), '\n');
        std::string back;
        EXPECT_EQ(decode(text, &back), 0);
        EXPECT_TRUE(back == data);
    }
    qxFileHandle *h = qxOpen(path("b64").c_str(), QX_OPEN_WRITE, nullptr);
    uint64_t count = 0;
    EXPECT_EQ(qxBase64Encode(h, nullptr, nullptr, data.data(), data.size(), &count, QX_BASE64_NOBREAK), 0);
    qxClose(h);
    EXPECT_EQ(count, 148u);
}

TEST_F(ChecksumTest, PackedFilesMatchPythonZlib) {
    bool ok = false;
    std::string out = python(R"(
import zlib, gzip, random, os
random.seed(3)
for i, n in enumerate([0, 1, 16383, 16384, 16385, 100000, 250000]):
    data = bytes(random.getrandbits(3) for _ in range(n))
    open(os.path.join(D, "src%d" % i), "wb").write(data)
    open(os.path.join(D, "ref%d" % i), "wb").write(b"QXPK\0\0\0\0" + zlib.compress(data))
    # gzip -6 carries the same deflate data between its own header and trailer.
    open(os.path.join(D, "gz%d" % i), "wb").write(gzip.compress(data, compresslevel=6, mtime=0)[10:-8])
    print(n, 8 + len(zlib.compress(data)))
)", &ok);
    if (!ok) GTEST_SKIP() << "no python3";
    auto rows = libtest::lines(out);
    ASSERT_EQ(rows.size(), 7u);
    for (size_t i = 0; i < rows.size(); i++) {
        auto w = libtest::splitWords(rows[i]);
        std::string n = std::to_string(i);
        EXPECT_EQ(num("CompressFile", {path("src" + n), path("pk" + n)}), std::stod(w[1]));
        EXPECT_TRUE(get("pk" + n) == get("ref" + n)) << "same zlib, same bytes: " << n;
        std::string packed = get("pk" + n);
        ASSERT_GE(packed.size(), 14u);
        EXPECT_TRUE(packed.substr(10, packed.size() - 14) == get("gz" + n)) << "deflate data as gzip -6: " << n;
        EXPECT_EQ(num("DecompressFile", {path("ref" + n), path("un" + n)}), std::stod(w[0]));
        EXPECT_TRUE(get("un" + n) == get("src" + n)) << n;
    }
}

TEST_F(ChecksumTest, DamagedPackedFiles) {
    put("src", std::string(50000, 'a') + "tail");
    ASSERT_GT(num("CompressFile", {path("src"), path("pk")}), 8);
    std::string packed = get("pk");
    put("wrongtag", "QXPZ" + packed.substr(4));
    EXPECT_EQ(status("DecompressFile", {path("wrongtag"), path("o")}), ERR_PAKFORMAT);
    put("short", "QX");
    EXPECT_EQ(status("DecompressFile", {path("short"), path("o")}), ERR_READ);
    put("shortother", "QXPZ\0"); // the tag is judged before the rest is missed
    EXPECT_EQ(status("DecompressFile", {path("shortother"), path("o")}), ERR_PAKFORMAT);
    put("tagonly", "QXPK\0\0");
    EXPECT_EQ(status("DecompressFile", {path("tagonly"), path("o")}), ERR_ZLIBDATA);
    for (size_t cut : {8ul, 9ul, packed.size() / 2, packed.size() - 1}) {
        put("cut", packed.substr(0, cut));
        EXPECT_EQ(status("DecompressFile", {path("cut"), path("o")}), ERR_ZLIBDATA) << cut;
    }
    std::string bad = packed;
    bad[10] = static_cast<char>(bad[10] ^ 0x55);
    bad[11] = static_cast<char>(bad[11] ^ 0x55);
    put("bad", bad);
    EXPECT_EQ(status("DecompressFile", {path("bad"), path("o")}), ERR_ZLIBDATA);
    EXPECT_EQ(status("DecompressFile", {path("missing"), path("o")}), ERR_READFILE);
    EXPECT_EQ(status("DecompressFile", {path("pk"), path("nodir/o")}), ERR_WRITEFILE);
    EXPECT_EQ(status("CompressFile", {path("missing"), path("o")}), ERR_READFILE);
    EXPECT_EQ(status("CompressFile", {path("src"), path("nodir/o")}), ERR_WRITEFILE);
    EXPECT_EQ(status("CompressFile", {path("src"), dir}), ERR_WRITEFILE);
    EXPECT_NE(status("CompressFile", {dir, path("o2")}), 0);
    put("empty", "");
    EXPECT_EQ(num("CompressFile", {path("empty"), path("pe")}), 16);
    EXPECT_EQ(get("pe").substr(0, 8), std::string("QXPK\0\0\0\0", 8));
    EXPECT_EQ(num("DecompressFile", {path("pe"), path("ue")}), 0);
}

int progressSeen[200];
int progressCount;
int recordProgress(lua_State *L) {
    lua_pushstring(L, "progress");
    lua_gettable(L, 1);
    if (progressCount < 200) progressSeen[progressCount++] = static_cast<int>(lua_tonumber(L, -1));
    return 0;
}
int failingProgress(lua_State *) { return ERR_WRONGUSAGE; }

TEST_F(ChecksumTest, ApplyPatch) {
    put("src", "abcd");
    put("patch", "\x01\x02");
    put("long", "\x01\x01\x01\x01\x01\x01");
    put("none", "");
    auto run = [&](const char *patch, lua_CFunction progress) {
        status("CloseFile", {1});
        status("CloseFile", {2});
        status("CloseFile", {3});
        EXPECT_EQ(open(1, "src"), 0);
        EXPECT_EQ(open(2, patch), 0);
        EXPECT_EQ(open(3, "out", 1006), 0);
        std::vector<Arg> args = {1, 2, 3};
        if (progress) args.push_back(Arg(std::function<void(lua_State *)>([progress](lua_State *L) { lua_pushcfunction(L, progress); })));
        int st = status("ApplyPatch", args);
        status("CloseFile", {3});
        return st;
    };
    EXPECT_EQ(run("patch", nullptr), 0);
    EXPECT_EQ(libtest::hex(get("out")), libtest::hex("\x60\x60\x9C\x9B"));
    EXPECT_EQ(run("long", nullptr), 0);
    EXPECT_EQ(get("out"), "`cbe");
    EXPECT_EQ(run("none", nullptr), 0);
    EXPECT_EQ(libtest::hex(get("out")), libtest::hex("\x9E\x9D\x9C\x9B"));
    progressCount = 0;
    EXPECT_EQ(run("patch", recordProgress), 0);
    ASSERT_EQ(progressCount, 4);
    EXPECT_EQ(progressSeen[0], 25);
    EXPECT_EQ(progressSeen[3], 100);
    // Every percentage is reported once on a large source.
    put("src", std::string(100000, 's'));
    progressCount = 0;
    EXPECT_EQ(run("patch", recordProgress), 0);
    ASSERT_EQ(progressCount, 100);
    for (int i = 0; i < 100; i++) EXPECT_EQ(progressSeen[i], i + 1);
    EXPECT_EQ(get("out").size(), 100000u);
    EXPECT_EQ(run("patch", failingProgress), ERR_WRONGUSAGE);
    // A destination that cannot be written is an error, not a short file.
    status("CloseFile", {1});
    status("CloseFile", {2});
    status("CloseFile", {3});
    EXPECT_EQ(open(1, "src"), 0);
    EXPECT_EQ(open(2, "patch"), 0);
    EXPECT_EQ(open(3, "none"), 0);
    EXPECT_EQ(status("ApplyPatch", {1, 2, 3}), ERR_WRITE);
    EXPECT_EQ(status("ApplyPatch", {1, 2, 9}), ERR_FINDFILE);
}

} // namespace
