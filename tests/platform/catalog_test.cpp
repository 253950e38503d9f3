// Catalogs: IFF CTLG and text forms, lookup by language, and crafted,
// truncated and hostile files.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/qx_catalog.h"
#include "platform/qx_platform.h"
#include "platform/qx_text.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put32(Bytes &b, uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8)
        b.push_back((uint8_t)(v >> s));
}

void putText(Bytes &b, const std::string &s) { b.insert(b.end(), s.begin(), s.end()); }

struct Entry {
    uint32_t id;
    std::string text;
};

// FORM CTLG with a long FVER chunk (over 101 bytes in all) and STRS.
Bytes buildIff(const std::vector<Entry> &entries)
{
    Bytes strs;
    for (const Entry &e : entries) {
        put32(strs, e.id);
        put32(strs, (uint32_t)e.text.size());
        putText(strs, e.text);
        while (strs.size() % 4)
            strs.push_back(0);
    }
    Bytes b;
    putText(b, "FORM");
    put32(b, 0);
    putText(b, "CTLG");
    std::string version = "$VER: test.catalog 1.0 (07.02.2019) made for the catalog tests of the player";
    version.resize(80, ' ');
    putText(b, "FVER");
    put32(b, (uint32_t)version.size());
    putText(b, version);
    putText(b, "STRS");
    put32(b, (uint32_t)strs.size());
    b.insert(b.end(), strs.begin(), strs.end());
    return b;
}

qxCatalog *parse(const Bytes &b) { return qxParseCatalog(b.data(), b.size()); }
qxCatalog *parse(const std::string &s) { return qxParseCatalog(s.data(), s.size()); }

struct TextMode {
    explicit TextMode(int utf8) : saved(qxTextModeUtf8) { qxSetTextModeUtf8(utf8); }
    ~TextMode() { qxSetTextModeUtf8(saved); }
    int saved;
};

} // namespace

TEST(Catalog, IffStringsByIdWithDefaults)
{
    qxCatalog *c = parse(buildIff({{0, "Null"}, {5, "Five!"}, {9, "Gr\xFC\xDF"}, {12, "four"}}));
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(qxGetCatalogString(c, 0, "d"), "Null");
    EXPECT_STREQ(qxGetCatalogString(c, 5, "d"), "Five!");
    // Latin-1 text becomes UTF-8 in UTF-8 mode; a text of exactly four
    // bytes has no padding zero and still ends where it should.
    EXPECT_STREQ(qxGetCatalogString(c, 9, "d"), "Gr\xC3\xBC\xC3\x9F");
    EXPECT_STREQ(qxGetCatalogString(c, 12, "d"), "four");
    EXPECT_STREQ(qxGetCatalogString(c, 12, "d"), "four"); // from the cache
    EXPECT_STREQ(qxGetCatalogString(c, 7, "missing"), "missing");
    EXPECT_STREQ(qxGetCatalogString(nullptr, 0, "none"), "none");
    qxFreeCatalog(c);

    TextMode latin(0);
    c = parse(buildIff({{9, "Gr\xFC\xDF"}}));
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(qxGetCatalogString(c, 9, "d"), "Gr\xFC\xDF");
    qxFreeCatalog(c);
}

TEST(Catalog, IffEndMarkerEndsTheWalk)
{
    qxCatalog *c = parse(buildIff({{1, "one"}, {0xFFFFFFFF, ""}, {2, "two"}}));
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(qxGetCatalogString(c, 1, "d"), "one");
    EXPECT_STREQ(qxGetCatalogString(c, 2, "d"), "d");
    qxFreeCatalog(c);
}

TEST(Catalog, MalformedIffIsRefused)
{
    Bytes good = buildIff({{1, "one"}, {2, "two words"}});
    qxCatalog *whole = parse(good);
    ASSERT_NE(whole, nullptr);
    qxFreeCatalog(whole);

    // Every truncation that cuts into the STRS data is refused.
    size_t strsData = good.size() - 20; // "one" entry is 12 bytes, "two words" 20
    for (size_t cut = strsData - 8; cut < good.size(); cut++) {
        Bytes t(good.begin(), good.begin() + (long)cut);
        EXPECT_EQ(parse(t), nullptr) << "cut at " << cut;
    }
    // An entry length beyond the chunk, a huge length, a chunk size beyond
    // the file, and no STRS chunk at all.
    Bytes longer = good;
    longer[longer.size() - 20 + 7] = 40;
    EXPECT_EQ(parse(longer), nullptr);
    Bytes huge = good;
    for (int i = 4; i < 8; i++)
        huge[huge.size() - 20 + i] = 0xFF;
    EXPECT_EQ(parse(huge), nullptr);
    Bytes chunk = good;
    size_t strs = chunk.size() - 32 - 8;
    ASSERT_EQ(std::memcmp(&chunk[strs], "STRS", 4), 0);
    chunk[strs + 4] = 0x7F;
    EXPECT_EQ(parse(chunk), nullptr);
    Bytes nostrs = good;
    nostrs[strs] = 'X';
    EXPECT_EQ(parse(nostrs), nullptr);
}

TEST(Catalog, ShortFormFilesAreText)
{
    // Under 101 bytes "FORM" does not make an IFF catalog.
    qxCatalog *c = parse(std::string("FORM....CTLGFVER\nsecond\n"));
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(qxGetCatalogString(c, 1, "d"), "second");
    qxFreeCatalog(c);
}

TEST(Catalog, TextLinesCommentsEscapesAndJoins)
{
    std::string text = "\xEF\xBB\xBF" "first\r\n"
                       "\n"
                       "   \t  \n"
                       "; only a comment\n"
                       "  leading kept ; comment\n"
                       "semi\\;colon \\\"q\\\" \\'s\\' tab\\there\\nnext \\x\n"
                       "joined \\\n"
                       "line\n"
                       "last without newline";
    qxCatalog *c = parse(text);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->count, 5u);
    EXPECT_STREQ(qxGetCatalogString(c, 0, "d"), "first");
    EXPECT_STREQ(qxGetCatalogString(c, 1, "d"), "  leading kept ");
    EXPECT_STREQ(qxGetCatalogString(c, 2, "d"), "semi;colon \"q\" 's' tab\there\nnext \\x");
    EXPECT_STREQ(qxGetCatalogString(c, 3, "d"), "joined line");
    EXPECT_STREQ(qxGetCatalogString(c, 4, "d"), "last without newline");
    EXPECT_STREQ(qxGetCatalogString(c, 5, "d"), "d");
    qxFreeCatalog(c);

    c = parse(std::string("\\"));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->count, 0u);
    qxFreeCatalog(c);
    c = parse(std::string(""));
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(qxGetCatalogString(c, 0, "d"), "d");
    qxFreeCatalog(c);
}

TEST(Catalog, TextStringsFollowTheTextMode)
{
    TextMode latin(0);
    qxCatalog *c = parse(std::string("Gr\xC3\xBC\xC3\x9F\n"));
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(qxGetCatalogString(c, 0, "d"), "Gr\xFC\xDF");
    EXPECT_STREQ(qxGetCatalogString(c, 0, "d"), "Gr\xFC\xDF");
    qxFreeCatalog(c);
}

namespace {
uint32_t get32(const Bytes &b, size_t at) { return (uint32_t)b[at] << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3]; }

std::string untilNul(const std::string &s) { return s.substr(0, s.find('\0')); }

// What a damaged file must give, from the file format alone: no value when
// it is refused, else the strings by id (first entry wins, 0xFFFFFFFF ends
// the lookup) or, for a text file, its non-blank lines. The damage writes no
// backslash, so text lines need no escape handling.
std::optional<std::vector<std::pair<uint32_t, std::string>>> expected(const Bytes &b)
{
    std::vector<std::pair<uint32_t, std::string>> out;
    auto has = [&](size_t at, const char *tag) { return std::memcmp(&b[at], tag, 4) == 0; };
    if (b.size() >= 101 && has(0, "FORM") && has(8, "CTLG") && has(12, "FVER")) {
        size_t at = 16;
        while (at + 8 <= b.size() && !has(at, "STRS"))
            at += 2;
        if (at + 8 > b.size() || get32(b, at + 4) > b.size() - at - 8)
            return std::nullopt;
        size_t p = at + 8, end = p + get32(b, at + 4);
        bool ended = false;
        for (; end - p >= 8; p += 8 + ((get32(b, p + 4) + 3ull) & ~3ull)) {
            uint32_t id = get32(b, p), length = get32(b, p + 4);
            if (((length + 3ull) & ~3ull) > end - p - 8)
                return std::nullopt; // an entry past its chunk
            ended = ended || id == 0xFFFFFFFF;
            if (!ended)
                out.emplace_back(id, std::string(b.begin() + (long)p + 8, b.begin() + (long)(p + 8 + length)));
        }
        for (auto &[id, text] : out) {
            std::string utf8;
            for (unsigned char ch : untilNul(text))
                utf8 += ch < 0x80 ? std::string(1, (char)ch) : std::string{(char)(0xC0 | ch >> 6), (char)(0x80 | (ch & 0x3F))};
            text = utf8;
        }
        return out;
    }
    std::string line;
    for (size_t i = 0; i <= b.size(); i++) {
        if (i < b.size() && b[i] != '\n') {
            line += (char)b[i];
            continue;
        }
        line = line.substr(0, line.find(';'));
        std::erase(line, '\r');
        if (line.find_first_not_of(" \t") != std::string::npos)
            out.emplace_back((uint32_t)out.size(), untilNul(line));
        line.clear();
    }
    return out;
}
} // namespace

TEST(Catalog, RandomDamageIsRefusedOrReadExactly)
{
    // Short texts, an end marker and a repeated id, so that damage moves
    // lengths, ids and the marker as well as the headers.
    Bytes good = buildIff({{1, "one"}, {2, "two words"}, {1, "again"}, {0xFFFFFFFF, ""}, {3, "three"}});
    std::mt19937 rng(12345);
    int refused = 0, iff = 0, text = 0;
    for (int round = 0; round < 3000; round++) {
        Bytes b = good;
        int changes = 1 + (int)(rng() % 4);
        for (int i = 0; i < changes; i++) {
            uint8_t v = (uint8_t)rng();
            b[rng() % b.size()] = v == '\\' ? 0 : v;
        }
        if (rng() % 3 == 0)
            b.resize(rng() % b.size());
        auto want = expected(b);
        qxCatalog *c = parse(b);
        ASSERT_EQ(c != nullptr, want.has_value()) << "round " << round;
        if (!c) {
            refused++;
            continue;
        }
        (c->strs ? iff : text)++;
        if (!c->strs)
            ASSERT_EQ(c->count, want->size()) << "round " << round;
        for (uint32_t id : {0u, 1u, 2u, 3u, 4u, 0xFFFFFFFFu}) {
            auto hit = std::find_if(want->begin(), want->end(), [&](auto &e) { return e.first == id; });
            EXPECT_EQ(qxGetCatalogString(c, id, "d"), hit == want->end() ? "d" : hit->second) << "round " << round << " id " << id;
        }
        qxFreeCatalog(c);
    }
    // Each outcome happens often enough to be checked.
    EXPECT_GT(refused, 300);
    EXPECT_GT(iff, 300);
    EXPECT_GT(text, 300);
}

namespace {
// A scratch tree as the current directory, with LANG set.
class CatalogFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/qxcat.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        savedCwd = cwd;
        savedProgram = qxProgramPath;
        if (const char *l = std::getenv("LANG"))
            savedLang = l, hadLang = true;
        ASSERT_EQ(chdir(dir.c_str()), 0);
    }
    void TearDown() override
    {
        qxCloseCatalog();
        ASSERT_EQ(chdir(savedCwd.c_str()), 0);
        std::snprintf(qxProgramPath, sizeof qxProgramPath, "%s", savedProgram.c_str());
        if (hadLang)
            setenv("LANG", savedLang.c_str(), 1);
        else
            unsetenv("LANG");
        std::system(("rm -rf " + dir).c_str());
    }
    void put(const std::string &relative, const std::string &content)
    {
        std::string path = dir + "/" + relative;
        std::system(("mkdir -p \"$(dirname '" + path + "')\"").c_str());
        std::ofstream(path, std::ios::binary) << content;
    }
    std::string dir, savedCwd, savedProgram, savedLang;
    bool hadLang = false;
};
} // namespace

TEST_F(CatalogFiles, FoundByLanguageInEitherDirectory)
{
    put("Catalogs/german/app.catalog", "Hallo\nWelt\n");
    setenv("LANG", "de_DE.UTF-8", 1);
    qxCatalog *c = qxOpenCatalog("app.catalog", 0);
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(qxGetCatalogString(c, 1, "World"), "Welt");
    qxFreeCatalog(c);

    // Native language name below "catalogs".
    Bytes iff = buildIff({{0, "Bonjour"}});
    put("catalogs/fran\xC3\xA7" "ais/app.catalog", std::string(iff.begin(), iff.end()));
    setenv("LANG", "fr_FR", 1);
    c = qxOpenCatalog("app.catalog", 3);
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(qxGetCatalogString(c, 0, "Hello"), "Bonjour");
    qxFreeCatalog(c);

    // English and unknown languages look for nothing.
    put("Catalogs/english/app.catalog", "Hello\n");
    setenv("LANG", "en_GB", 1);
    EXPECT_EQ(qxOpenCatalog("app.catalog", 0), nullptr);
    unsetenv("LANG");
    EXPECT_EQ(qxOpenCatalog("app.catalog", 0), nullptr);
    setenv("LANG", "it_IT", 1);
    EXPECT_EQ(qxOpenCatalog("app.catalog", 0), nullptr);
}

TEST_F(CatalogFiles, ProgramDirectoryAndThePlayerCatalog)
{
    put("prog/Catalogs/deutsch/Zephyrane.catalog", "Nicht genug Speicher!\n");
    std::snprintf(qxProgramPath, sizeof qxProgramPath, "%s/prog/player", dir.c_str());
    mkdir((dir + "/elsewhere").c_str(), 0755);
    ASSERT_EQ(chdir((dir + "/elsewhere").c_str()), 0);
    setenv("LANG", "de_CH", 1);
    ASSERT_EQ(qxOpenCatalog("Zephyrane.catalog"), 1);
    EXPECT_STREQ(qxGetCatalogString(0u, "Out of memory!"), "Nicht genug Speicher!");
    EXPECT_STREQ(qxGetCatalogString(1u, "Other"), "Other");
    qxCloseCatalog();
    EXPECT_STREQ(qxGetCatalogString(0u, "Out of memory!"), "Out of memory!");
    // A malformed IFF catalog gives no catalog, never a crash.
    Bytes bad = buildIff({{0, "x"}});
    bad.resize(bad.size() - 2);
    put("prog/Catalogs/deutsch/Zephyrane.catalog", std::string(bad.begin(), bad.end()));
    EXPECT_EQ(qxOpenCatalog("Zephyrane.catalog"), 0);
    EXPECT_EQ(qxSysOpenCatalog("Zephyrane.catalog", 0), nullptr);
}
