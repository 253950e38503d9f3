// Linked executables: the plug-in chain written into a temporary directory,
// and packed blocks inflated by qxUnpackData.
#include <algorithm>
#include <gtest/gtest.h>
#include <zlib.h>

#include <sys/stat.h>

#include "applet_helpers.h"
#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "core/plugins/qx_plugins.h"
#include "core/codecs/qx_unpack.h"

using namespace applettest;

namespace {

void be32(std::vector<uint8_t> &out, uint32_t v)
{
    for (int i = 3; i >= 0; i--) out.push_back(uint8_t(v >> (8 * i)));
}

std::vector<uint8_t> packed(const char *tag, const std::string &data)
{
    uLongf size = compressBound(uLong(data.size()));
    std::vector<uint8_t> z(size);
    compress2(z.data(), &size, reinterpret_cast<const Bytef *>(data.data()), uLong(data.size()), 9);
    z.resize(size);
    std::vector<uint8_t> out(tag, tag + 4);
    be32(out, uint32_t(data.size()));
    out.insert(out.end(), z.begin(), z.end());
    return out;
}

struct Record {
    std::string name;
    std::string data;
};

// Prefix bytes, then the chain with its records, then "APPLET".
std::vector<uint8_t> chainFile(size_t prefix, const std::vector<Record> &records, bool pack, int sizeDelta = 0)
{
    std::vector<uint8_t> out(prefix, 0xCC);
    out.insert(out.end(), {'Q', 'X', 'P', '!'});
    be32(out, pack ? 1 : 0);
    for (size_t i = 0; i < records.size(); i++) {
        out.insert(out.end(), records[i].name.begin(), records[i].name.end());
        out.push_back(0);
        std::vector<uint8_t> body = pack ? packed("PLPK", records[i].data)
                                         : std::vector<uint8_t>(records[i].data.begin(), records[i].data.end());
        be32(out, uint32_t(body.size() + (i == 0 ? sizeDelta : 0)));
        out.insert(out.end(), body.begin(), body.end());
    }
    out.push_back(0);
    out.insert(out.end(), {'A', 'P', 'P', 'L', 'E', 'T'});
    return out;
}

std::string text(const std::vector<uint8_t> &b) { return std::string(b.begin(), b.end()); }

struct Extraction : AppletRun {
    ~Extraction()
    {
        if (qxLinkedPluginDir[0]) removeTree(qxLinkedPluginDir);
        qxLinkedPluginDir[0] = 0;
    }
};

TEST(LinkedPlugins, PlainAndPackedRecordsAreWrittenExecutable)
{
    for (bool pack : {false, true}) {
        Extraction run;
        std::string big(40000, 'b');
        std::string path = run.put("player", chainFile(100, {{"alpha", "AAAA"}, {"beta", big}, {"alpha", "other"}}, pack));
        qxAppendedOffset = 100;
        ASSERT_EQ(qxExtractLinkedPlugins(path.c_str(), 100), 0);
        ASSERT_NE(qxLinkedPluginDir[0], 0);
        std::string dir = qxLinkedPluginDir;
        EXPECT_EQ(dir.rfind(run.temp + "/zephyrane.", 0), 0u);
        // The first record of a name is kept; the applet follows the chain.
        EXPECT_EQ(text(readFile(dir + "/alpha.qxp")), "AAAA");
        EXPECT_EQ(text(readFile(dir + "/beta.qxp")), big);
        struct stat st;
        ASSERT_EQ(stat((dir + "/beta.qxp").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0755u);
        std::vector<uint8_t> whole = readFile(path);
        EXPECT_EQ(text(std::vector<uint8_t>(whole.begin() + qxAppendedOffset, whole.end())), "APPLET");
    }
}

TEST(LinkedPlugins, NoChainLeavesTheOffset)
{
    Extraction run;
    std::string path = run.put("player", std::vector<uint8_t>(50, 'x'));
    qxAppendedOffset = 10;
    EXPECT_EQ(qxExtractLinkedPlugins(path.c_str(), 10), 0);
    EXPECT_EQ(qxAppendedOffset, 10u);
    EXPECT_EQ(qxLinkedPluginDir[0], 0);
    EXPECT_EQ(qxExtractLinkedPlugins((run.dir + "/missing").c_str(), 0), ERR_READFILE);
}

TEST(LinkedPlugins, UnsafeNamesAreRefused)
{
    for (const char *name : {"../evil", "a/b", "..", "x\\y", "dot..dot"}) {
        Extraction run;
        std::string path = run.put("player", chainFile(0, {{name, "DATA"}}, false));
        EXPECT_EQ(qxExtractLinkedPlugins(path.c_str(), 0), ERR_LOADPLUGIN) << name;
        EXPECT_TRUE(listDir(run.dir).size() == 2u) << name; // player and tmp only
        char message[256];
        qxFormatErrorCode(ERR_LOADPLUGIN, message, sizeof message);
        EXPECT_NE(std::string(message).find(name), std::string::npos) << message;
    }
}

TEST(LinkedPlugins, BrokenChainsGiveTheirCodes)
{
    {
        Extraction run;
        std::string path = run.put("player", chainFile(0, {{"a", "DATA"}}, false, 100000));
        EXPECT_EQ(qxExtractLinkedPlugins(path.c_str(), 0), ERR_READ);
    }
    {
        Extraction run;
        std::vector<uint8_t> f = chainFile(0, {{"a", std::string(3000, 'q')}}, true);
        for (size_t i = 20; i < f.size() - 10; i++) f[i] ^= 0x33;
        std::string path = run.put("player", f);
        int r = qxExtractLinkedPlugins(path.c_str(), 0);
        EXPECT_TRUE(r == ERR_ZLIBDATA || r == ERR_PAKFORMAT || r == ERR_READ || r == ERR_LOADPLUGIN) << r;
    }
    {
        // The chain ends inside a name.
        Extraction run;
        std::string path = run.put("player", {'Q', 'X', 'P', '!', 0, 0, 0, 0, 'a', 'b'});
        EXPECT_EQ(qxExtractLinkedPlugins(path.c_str(), 0), ERR_READ);
    }
}

TEST(Unpack, BufferIsNeverOverrun)
{
    Extraction run;
    std::string data(10000, 'z');
    for (size_t i = 0; i < data.size(); i++) data[i] = char('a' + i % 26);
    std::vector<uint8_t> block = packed("PLPK", data);
    std::vector<uint8_t> file(5 + block.size(), 0);
    std::copy(block.begin(), block.end(), file.begin() + 5);
    std::string path = run.put("packed", file);
    std::vector<uint8_t> buf(110, 0xEE);
    uint64_t used = 0, made = 0;
    ASSERT_EQ(qxUnpackData("PLPK", path.c_str(), nullptr, nullptr, 5, &used, buf.data(), 100, &made), 0);
    EXPECT_EQ(made, 100u);
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + 100), data.substr(0, 100));
    for (size_t i = 100; i < buf.size(); i++) EXPECT_EQ(buf[i], 0xEE);
    // Into a file, with the consumed size up to the stream's end.
    std::string out = run.dir + "/out";
    ASSERT_EQ(qxUnpackData("PLPK", path.c_str(), out.c_str(), nullptr, 5, &used, nullptr, 0, &made), 0);
    EXPECT_EQ(used, block.size());
    EXPECT_EQ(text(readFile(out)), data);
    EXPECT_EQ(qxUnpackData("QXZ", path.c_str(), out.c_str(), nullptr, 5, &used, nullptr, 0, &made), ERR_PAKFORMAT);
    EXPECT_EQ(qxUnpackData("PLPK", (run.dir + "/none").c_str(), out.c_str(), nullptr, 0, &used, nullptr, 0, &made),
              ERR_READFILE);
    EXPECT_EQ(qxUnpackData("PLPK", path.c_str(), (run.dir + "/no/such/dir").c_str(), nullptr, 5, &used, nullptr, 0,
                           &made),
              ERR_WRITEFILE);
    // A cut stream fails and leaves no destination behind.
    run.put("cut", std::vector<uint8_t>(file.begin(), file.end() - 20));
    std::string out2 = run.dir + "/out2";
    EXPECT_EQ(qxUnpackData("PLPK", (run.dir + "/cut").c_str(), out2.c_str(), nullptr, 5, &used, nullptr, 0, &made),
              ERR_ZLIBDATA);
    EXPECT_TRUE(readFile(out2).empty());
}

} // namespace
