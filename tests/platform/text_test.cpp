// Text modes, the UTF-8 codec, conversions, classes, case mapping and the
// comparisons, checked against Python's unicodedata, str methods and codecs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/qx_memory.h"
#include "platform/qx_text.h"
#include "platform/qx_unicode_tables.h"

namespace {

// Runs a Python script and returns its standard output; empty when Python
// is not available.
std::string runPython(const std::string &script)
{
    char path[] = "/tmp/qx_text_test_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return "";
    FILE *f = fdopen(fd, "w");
    fputs(script.c_str(), f);
    fclose(f);
    std::string out;
    if (FILE *p = popen(("python3 " + std::string(path) + " 2>/dev/null").c_str(), "r")) {
        char buf[65536];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    unlink(path);
    return out;
}

std::vector<unsigned char> fromHex(const std::string &hex)
{
    std::vector<unsigned char> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string hexOf(const std::string &s)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// Restores the text mode after each test.
class Text : public ::testing::Test {
protected:
    void TearDown() override { qxSetTextModeUtf8(1); }
};

// The classes and mappings as Python sees them: one line per class with
// "first-last" ranges, one line per mapping with "code:mapped" pairs.
const char kReferenceScript[] = R"PY(
import sys, unicodedata
print("V", unicodedata.unidata_version)
def cat(c): return unicodedata.category(chr(c))
def one(s): return ord(s) if len(s) == 1 else None
preds = {
 "alpha": lambda c: chr(c).isalpha(),
 "lower": lambda c: chr(c).islower(),
 "upper": lambda c: chr(c).isupper(),
 "cntrl": lambda c: cat(c) in ("Cc", "Cf"),
 "digit": lambda c: chr(c).isdecimal(),
 "xdigit": lambda c: chr(c) in "0123456789abcdefABCDEF" or 0xFF10 <= c <= 0xFF19 or 0xFF21 <= c <= 0xFF26 or 0xFF41 <= c <= 0xFF46,
 "punct": lambda c: cat(c).startswith("P"),
 "space": lambda c: chr(c).isspace(),
 "graph": lambda c: chr(c).isprintable() and not chr(c).isspace(),
 "print": lambda c: chr(c).isprintable() or cat(c).startswith("Z"),
 "alnum": lambda c: chr(c).isalnum(),
}
for name, p in preds.items():
    out, start = [], None
    for c in range(0x110001):
        inside = c < 0x110000 and p(c)
        if inside and start is None: start = c
        if not inside and start is not None:
            out.append("%x-%x" % (start, c - 1)); start = None
    print("C", name, " ".join(out))
def fold(c):
    m = one(chr(c).casefold())
    if m is None: m = one(chr(c).lower())
    return c if m is None else m
maps = {
 "lower": lambda c: one(chr(c).lower()) or c,
 "upper": lambda c: one(chr(c).upper()) or c,
 "fold": fold,
}
for name, f in maps.items():
    print("M", name, " ".join("%x:%x" % (c, f(c)) for c in range(0x110000) if f(c) != c))
)PY";

struct Reference {
    std::string version;
    std::map<std::string, std::vector<std::pair<uint32_t, uint32_t>>> classes;
    std::map<std::string, std::map<uint32_t, uint32_t>> maps;
};

const Reference &reference()
{
    static Reference ref = [] {
        Reference r;
        std::istringstream in(runPython(kReferenceScript));
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream ls(line);
            std::string kind, name, item;
            ls >> kind >> name;
            if (kind == "V") r.version = name;
            while (ls >> item) {
                size_t sep = item.find_first_of("-:");
                uint32_t a = std::stoul(item.substr(0, sep), nullptr, 16);
                uint32_t b = std::stoul(item.substr(sep + 1), nullptr, 16);
                if (kind == "C")
                    r.classes[name].push_back({a, b});
                else
                    r.maps[name][a] = b;
            }
            if (kind == "C") r.classes[name]; // an empty class still counts
        }
        return r;
    }();
    return ref;
}

#define REQUIRE_REFERENCE()                                                                    \
    do {                                                                                      \
        if (reference().version.empty()) GTEST_SKIP() << "python3 not available";              \
        if (reference().version != qxUnicodeTablesVersion)                                    \
            GTEST_SKIP() << "tables are Unicode " << qxUnicodeTablesVersion << ", Python has " \
                         << reference().version;                                              \
    } while (0)

} // namespace

static void checkClasses()
{
    const std::pair<const char *, int (*)(uint32_t)> classes[] = {
        {"alpha", qxUniIsAlpha}, {"lower", qxUniIsLower}, {"upper", qxUniIsUpper}, {"cntrl", qxUniIsCntrl},
        {"digit", qxUniIsDigit}, {"xdigit", qxUniIsXDigit}, {"punct", qxUniIsPunct}, {"space", qxUniIsSpace},
        {"graph", qxUniIsGraph}, {"print", qxUniIsPrint}, {"alnum", qxUniIsAlnum},
    };
    for (auto [name, fn] : classes) {
        auto it = reference().classes.find(name);
        ASSERT_NE(it, reference().classes.end()) << name;
        std::vector<bool> expected(0x110000 + 16, false);
        for (auto [a, b] : it->second)
            for (uint32_t c = a; c <= b; c++) expected[c] = true;
        int mismatches = 0;
        // A little beyond the last code point: nothing there belongs.
        for (uint32_t c = 0; c < 0x110000 + 16 && mismatches < 5; c++) {
            if ((fn(c) != 0) != expected[c]) {
                ADD_FAILURE() << name << " differs at U+" << std::hex << c;
                mismatches++;
            }
        }
    }
}

static void checkMappings()
{
    const std::pair<const char *, uint32_t (*)(uint32_t)> maps[] = {
        {"lower", qxUniToLower}, {"upper", qxUniToUpper}, {"fold", qxUniFold}};
    for (auto [name, fn] : maps) {
        const auto &m = reference().maps.at(name);
        int mismatches = 0;
        for (uint32_t c = 0; c < 0x110000 + 16 && mismatches < 5; c++) {
            auto it = m.find(c);
            uint32_t want = it == m.end() ? c : it->second;
            if (fn(c) != want) {
                ADD_FAILURE() << name << " of U+" << std::hex << c << " is " << fn(c) << ", Python " << want;
                mismatches++;
            }
        }
    }
}

static void checkLatin1Tables()
{
    auto in = [](const char *cls, uint32_t c) {
        for (auto [a, b] : reference().classes.at(cls))
            if (c >= a && c <= b) return true;
        return false;
    };
    for (uint32_t c = 0; c < 256; c++) {
        EXPECT_EQ(qxIsAlphaLatin1(c) != 0, in("alpha", c)) << c;
        EXPECT_EQ(qxIsLowerLatin1(c) != 0, in("lower", c)) << c;
        EXPECT_EQ(qxIsUpperLatin1(c) != 0, in("upper", c)) << c;
        EXPECT_EQ(qxIsGraphLatin1(c) != 0, in("graph", c)) << c;
        EXPECT_EQ(qxIsAlnumLatin1(c) != 0, in("alpha", c) || (c >= '0' && c <= '9')) << c;
        uint32_t up = qxUniToUpper(c), low = qxUniToLower(c);
        EXPECT_EQ(qxToUpperLatin1(c), up < 256 ? up : c) << c;
        EXPECT_EQ(qxToLowerLatin1(c), low < 256 ? low : c) << c;
    }
    EXPECT_EQ(qxToUpperLatin1(0x1234), 0x1234u);
    EXPECT_FALSE(qxIsAlphaLatin1(0x100));
}

// One Python run serves all three checks.
TEST_F(Text, TablesMatchPythonsUnicodeData)
{
    REQUIRE_REFERENCE();
    checkClasses();
    checkMappings();
    checkLatin1Tables();
}

TEST_F(Text, ModeSwitchSelectsTables)
{
    EXPECT_TRUE(qxIsAlpha(0x100));
    EXPECT_EQ(qxToUpper(0x101), 0x100u);
    EXPECT_TRUE(qxIsAlnum(0x660)); // Arabic-Indic digit zero
    qxSetTextModeUtf8(0);
    EXPECT_EQ(qxTextModeUtf8, 0);
    EXPECT_FALSE(qxIsAlpha(0x100));
    EXPECT_EQ(qxToUpper(0x101), 0x101u);
    EXPECT_EQ(qxToUpper(0xE9), 0xC9u);
    EXPECT_TRUE(qxIsAlnum('7'));
    EXPECT_FALSE(qxIsAlnum(0xB2)); // superscript two: only 0-9 count as digits
    EXPECT_FALSE(qxIsGraph(' '));
    EXPECT_TRUE(qxIsGraph('!'));
    qxSetTextModeUtf8(7);
    EXPECT_EQ(qxTextModeUtf8, 1);
}

TEST_F(Text, EncodeBoundaries)
{
    char buf[8];
    EXPECT_EQ(qxUtf8Encode(buf, 0x10FFFF), 4);
    EXPECT_STREQ(buf, "\xF4\x8F\xBF\xBF");
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(qxUtf8Encode(buf, 0x110000), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(qxUtf8Encode(buf, 0x7F), 1);
    EXPECT_EQ(qxUtf8Encode(buf, 0x80), 2);
    EXPECT_STREQ(buf, "\xC2\x80");
    EXPECT_EQ(qxUtf8Encode(buf, 0x800), 3);
    EXPECT_EQ(qxUtf8Encode(buf, 0x10000), 4);
    EXPECT_EQ(qxUtf8Encode(buf, 0), 1);
    EXPECT_EQ(buf[0], 0);
}

TEST_F(Text, DecodeRejectsMalformedSequencesByteForByte)
{
    struct Case {
        const char *bytes;
        size_t len;
    } bad[] = {
        {"\xC0\x80", 2},         {"\xC1\xBF", 2},         {"\xE0\x80\x80", 3}, // overlong
        {"\xE0\x9F\xBF", 3},     {"\xF0\x8F\xBF\xBF", 4},                       // overlong
        {"\xED\xA0\x80", 3},     {"\xED\xBF\xBF", 3},                           // surrogates
        {"\xF4\x90\x80\x80", 4}, {"\xF5\x80\x80\x80", 4}, {"\xFF", 1},         // beyond U+10FFFF
        {"\xE2\x82", 2},         {"\xF0\x9F\x98", 3},     {"\xC3", 1},         // truncated
        {"\x80", 1},             {"\xC3\x41", 2},                               // stray / broken
    };
    for (const Case &c : bad) {
        uint32_t cp;
        EXPECT_EQ(qxUtf8DecodeN(c.bytes, c.bytes + c.len, &cp), 1) << hexOf(std::string(c.bytes, c.len));
        EXPECT_EQ(cp, static_cast<unsigned char>(c.bytes[0]));
        EXPECT_FALSE(qxUtf8Scan(c.bytes, c.len, nullptr)) << hexOf(std::string(c.bytes, c.len));
        int malformed = 0;
        EXPECT_EQ(qxUtf8CountN(c.bytes, c.len, &malformed), -1);
        EXPECT_EQ(malformed, 1);
    }
    uint32_t cp;
    EXPECT_EQ(qxUtf8DecodeN("\xE2\x82\xAC", "\xE2\x82\xAC" + 3, &cp), 3);
    EXPECT_EQ(cp, 0x20ACu);
    // The end pointer bounds the sequence even when more bytes follow.
    const char *euro = "\xE2\x82\xAC";
    EXPECT_EQ(qxUtf8DecodeN(euro, euro + 2, &cp), 1);
    EXPECT_EQ(qxUtf8DecodeN(euro, euro, &cp), 0);
}

TEST_F(Text, ScanAgreesWithPythonsStrictDecoder)
{
    // Random short byte strings biased towards UTF-8 lead and continuation bytes.
    std::string out = runPython(R"PY(
import random
rnd = random.Random(1234)
pool = list(range(0, 0x80, 7)) + list(range(0x80, 0x100))
for i in range(3000):
    if i % 3 == 0:
        s = "".join(chr(rnd.choice([rnd.randrange(0x80), rnd.randrange(0x80, 0x800), rnd.randrange(0x800, 0xD800), rnd.randrange(0xE000, 0x110000)])) for _ in range(rnd.randrange(6)))
        b = s.encode("utf-8")
        if i % 2 and b: b = b[:rnd.randrange(len(b))]
    else:
        b = bytes(rnd.choice(pool) for _ in range(rnd.randrange(1, 7)))
    try:
        n = len(b.decode("utf-8")); ok = 1
    except UnicodeDecodeError:
        n = 0; ok = 0
    print(b.hex() or "-", ok, n)
)PY");
    if (out.empty()) GTEST_SKIP() << "python3 not available";
    std::istringstream in(out);
    std::string hex;
    int ok, n, lines = 0;
    while (in >> hex >> ok >> n) {
        auto bytes = fromHex(hex == "-" ? "" : hex);
        std::string s(bytes.begin(), bytes.end());
        size_t count = 0;
        EXPECT_EQ(qxUtf8Scan(s.data(), s.size(), &count), ok) << hex;
        if (ok) {
            EXPECT_EQ(count, static_cast<size_t>(n)) << hex;
        }
        lines++;
    }
    EXPECT_EQ(lines, 3000);
}

TEST_F(Text, Latin1ConversionsMatchPythonCodecs)
{
    std::string out = runPython(R"PY(
import random
rnd = random.Random(99)
print(bytes(range(1, 256)).decode("latin-1").encode("utf-8").hex())
for i in range(200):
    s = "".join(chr(rnd.choice([rnd.randrange(1, 0x100), rnd.randrange(0x100, 0xD800), rnd.randrange(0x10000, 0x110000)])) for _ in range(rnd.randrange(1, 8)))
    print(s.encode("utf-8").hex(), s.encode("latin-1", errors="replace").hex())
)PY");
    if (out.empty()) GTEST_SKIP() << "python3 not available";
    std::istringstream in(out);
    std::string allUtf8;
    in >> allUtf8;
    std::string latin;
    for (int c = 1; c < 256; c++) latin += static_cast<char>(c);
    char *utf8 = qxLatin1ToUtf8Dup(latin.c_str());
    ASSERT_NE(utf8, nullptr);
    EXPECT_EQ(hexOf(utf8), allUtf8);
    EXPECT_EQ(qxLatin1ToUtf8Size(latin.c_str()), strlen(utf8) + 1); // exactly the needed size
    char *back = qxUtf8ToLatin1Dup(utf8);
    EXPECT_EQ(std::string(back), latin);
    qxFree(utf8);
    qxFree(back);

    std::string u, l;
    int pairs = 0;
    while (in >> u >> l) {
        auto ub = fromHex(u), lb = fromHex(l);
        std::string us(ub.begin(), ub.end()), ls(lb.begin(), lb.end());
        char *conv = qxConvertText(us.c_str(), 1, 0);
        ASSERT_NE(conv, nullptr);
        EXPECT_EQ(std::string(conv), ls) << u;
        qxFree(conv);
        pairs++;
    }
    EXPECT_EQ(pairs, 200);
}

TEST_F(Text, ConversionEdgeCases)
{
    char buf[16];
    EXPECT_EQ(qxLatin1ToUtf8("\xE9", buf), 2u);
    EXPECT_STREQ(buf, "\xC3\xA9");
    EXPECT_EQ(qxUtf8ToLatin1Buf("\xC3\xA9", buf, sizeof buf), 1u);
    EXPECT_STREQ(buf, "\xE9");
    qxLatin1ToUtf8("\xA9", buf);
    EXPECT_STREQ(buf, "\xC2\xA9");
    qxUtf8ToLatin1Buf("\xC2\xA9", buf, sizeof buf);
    EXPECT_STREQ(buf, "\xA9");
    // Euro sign: one "?" for the whole sequence.
    qxUtf8ToLatin1Buf("a\xE2\x82\xAC" "b", buf, sizeof buf);
    EXPECT_STREQ(buf, "a?b");
    // A stray ISO-8859-1 byte is not swallowed with the next character.
    qxUtf8ToLatin1Buf("\xE9t\xE9", buf, sizeof buf);
    EXPECT_STREQ(buf, "?t?");
    // Bounded output.
    EXPECT_EQ(qxUtf8ToLatin1Buf("abcdef", buf, 4), 3u);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(qxUtf8ToLatin1Buf("abc", buf, 0), 0u);

    // Limit and marker: the marker moves to the matching output position.
    char src[] = "x\xC3\xA9y\xE2\x82\xACz";
    char *marker = src + 3; // 'y'
    EXPECT_EQ(qxUtf8ToLatin1(src, buf, strlen(src), &marker), 5u);
    EXPECT_STREQ(buf, "x\xE9y?z");
    EXPECT_EQ(marker, buf + 2);
    marker = src + 5; // inside the euro sign
    qxUtf8ToLatin1(src, buf, strlen(src), &marker);
    EXPECT_EQ(marker, buf + 3);
    EXPECT_EQ(qxUtf8ToLatin1(src, buf, 3, nullptr), 2u); // only "x" and the e acute
    EXPECT_STREQ(buf, "x\xE9");
    EXPECT_EQ(qxUtf8ToLatin1(src, buf, 2, nullptr), 2u); // e acute cut: "?"
    EXPECT_STREQ(buf, "x?");

    EXPECT_EQ(qxConvertText("abc", 1, 1), nullptr);
    EXPECT_EQ(qxConvertText("abc", 0, 2), nullptr);
    char *c = qxConvertText("\xE9", 0, 1);
    EXPECT_STREQ(c, "\xC3\xA9");
    qxFree(c);
}

TEST_F(Text, OffsetsAndNavigation)
{
    const char *s = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z"; // a e-acute euro emoji z
    EXPECT_EQ(qxUtf8Offset(s, 0), 0u);
    EXPECT_EQ(qxUtf8Offset(s, 2), 3u);
    EXPECT_EQ(qxUtf8Offset(s, 4), 10u);
    EXPECT_EQ(qxUtf8Offset(s, 99), strlen(s));
    EXPECT_EQ(qxUtf8OffsetFast(s, 3), 6u);
    EXPECT_EQ(qxUtf8OffsetFast(s, 99), strlen(s));
    // A lead byte announcing more bytes than remain stops at the terminator.
    EXPECT_EQ(qxUtf8OffsetFast("\xF0\x9F", 5), 2u);
    EXPECT_EQ(qxUtf8Length(s, nullptr), 5);
    const char *end = s + strlen(s);
    const char *p = qxUtf8Next(s, end);
    EXPECT_EQ(p, s + 1);
    p = qxUtf8Next(p, end);
    EXPECT_EQ(p, s + 3);
    EXPECT_EQ(qxUtf8Prev(s, p), s + 1);
    EXPECT_EQ(qxUtf8Prev(s, end), s + 10);
    EXPECT_EQ(qxUtf8Prev(s, s), s);
    EXPECT_EQ(qxUtf8Next(end, end), end);
    EXPECT_EQ(qxUtf8CountRange(s, end), 5u);

    size_t pos = 0;
    std::vector<uint32_t> cps;
    while (s[pos]) cps.push_back(qxUtf8DecodeAt(s, &pos));
    EXPECT_EQ(cps, (std::vector<uint32_t>{'a', 0xE9, 0x20AC, 0x1F600, 'z'}));
    // Unvalidated decode never steps over the terminator.
    pos = 0;
    qxUtf8DecodeAt("\xE2\x82", &pos);
    EXPECT_EQ(pos, 2u);
}

TEST_F(Text, StrUpperLowerKeepLengthRule)
{
    char s[] = "stra\xC3\x9F" "e \xC3\xA9t\xC3\xA9";
    qxStrUpper(s);
    EXPECT_STREQ(s, "STRA\xC3\x9F" "E \xC3\x89T\xC3\x89"); // sharp s stays
    // KELVIN SIGN lowers to a one-byte "k": the text shrinks.
    char k[] = "\xE2\x84\xAA" "x";
    qxStrLower(k);
    EXPECT_STREQ(k, "kx");
    // Stray bytes are left alone.
    char stray[] = "\xC9" "A";
    qxStrLower(stray);
    EXPECT_STREQ(stray, "\xC9" "a");

    qxSetTextModeUtf8(0);
    char l[] = "\xC9t\xE9 \xFF";
    qxStrLower(l);
    EXPECT_STREQ(l, "\xE9t\xE9 \xFF");
    qxStrUpper(l);
    EXPECT_STREQ(l, "\xC9T\xC9 \xFF"); // y diaeresis has no upper case in ISO-8859-1
}

TEST_F(Text, PutCharInBothModes)
{
    char buf[8];
    EXPECT_EQ(qxPutChar(buf, 0x20AC), 3);
    EXPECT_STREQ(buf, "\xE2\x82\xAC");
    qxSetTextModeUtf8(0);
    EXPECT_EQ(qxPutChar(buf, 0xE9), 1);
    EXPECT_STREQ(buf, "\xE9");
    EXPECT_EQ(qxPutChar(buf, 0x20AC), 1);
    EXPECT_STREQ(buf, "?");
}

TEST_F(Text, CaseInsensitiveComparisons)
{
    EXPECT_EQ(qxStrICmp("abc", "ABC"), 0);
    EXPECT_EQ(qxStrICmp("\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89"), 0);
    EXPECT_EQ(qxStrICmp("abc", "abd"), -1);
    EXPECT_EQ(qxStrICmp("abd", "ABC"), 1);
    EXPECT_EQ(qxStrICmp("ab", "abc"), -1);
    EXPECT_EQ(qxStrICmp("abc", "ab"), 1);
    EXPECT_EQ(qxStrNICmp("abcX", "ABCy", 3), 0);
    EXPECT_EQ(qxUtf8StrNICmp("\xCE\xA3x", "\xCF\x83y", 1), 0); // sigma
    EXPECT_EQ(qxStrICmp("\xE1\xBA\x9E", "\xC3\x9F"), 0);          // capital and small sharp s
    const char *same = "x";
    EXPECT_EQ(qxStrICmp(same, same), 0);

    qxSetTextModeUtf8(0);
    EXPECT_EQ(qxStrICmp("abc", "ABC"), 0);
    EXPECT_EQ(qxStrICmp("\xE9t\xE9", "\xC9T\xC9"), 0);
    EXPECT_EQ(qxStrICmp("a", "c"), 'A' - 'C');
    EXPECT_LT(qxStrICmp("ab", "abc"), 0);
    EXPECT_EQ(qxStrNICmp("abcX", "ABCy", 3), 0);
    qxSetTextModeUtf8(1);
}

TEST_F(Text, CollationOrdersAccentsWithTheirLetters)
{
    auto cmp = [](const char *a, const char *b, int cs) { return qxStrCompare(a, b, cs); };
    EXPECT_EQ(cmp("apple", "Banana", 0), -1);
    EXPECT_EQ(cmp("\xC3\xA9" "clair", "ezra", 0), -1); // e-acute sorts among the e's, not after z
    EXPECT_EQ(cmp("\xC3\xA9" "b", "ea", 0), 1);          // the letter after it decides first
    EXPECT_EQ(cmp("ABC", "abc", 0), 0);
    EXPECT_NE(cmp("ABC", "abc", 1), 0);
    EXPECT_EQ(cmp("a", "A", 1), -cmp("A", "a", 1));
    EXPECT_NE(cmp("r\xC3\xA9sum\xC3\xA9", "resume", 0), 0);
    EXPECT_EQ(cmp("ab", "abc", 0), -1);
    EXPECT_EQ(cmp("", "a", 1), -1);
    EXPECT_EQ(cmp("same", "same", 1), 0);
    // Beyond the matrix: folded code points decide.
    EXPECT_EQ(cmp("\xCE\xB1", "\xCE\x92", 0), -1); // alpha before capital beta
    EXPECT_EQ(cmp("\xCE\x91", "\xCE\xB1", 0), 0);

    // A consistent order over a mixed word list.
    std::vector<std::string> words = {"zebra", "Zebra", "\xC3\xA9t\xC3\xA9", "ete", "Ete", "\xC3\x89T\xC3\x89",
                                      "a", "A", "ab", "Ab", "\xC3\xA0", "b", "\xC5\x93uvre", "oeuvre", "\xCE\xB1",
                                      "10", "9", "_x", "\xC3\xB8l", "ol", "\xC5\x82\xC3\xB3" "d\xC5\xBA", "lodz", ""};
    for (int cs = 0; cs < 2; cs++) {
        for (const auto &x : words) {
            EXPECT_EQ(cmp(x.c_str(), x.c_str(), cs), 0);
            for (const auto &y : words) {
                EXPECT_EQ(cmp(x.c_str(), y.c_str(), cs), -cmp(y.c_str(), x.c_str(), cs)) << x << " " << y;
                for (const auto &z : words) {
                    if (cmp(x.c_str(), y.c_str(), cs) <= 0 && cmp(y.c_str(), z.c_str(), cs) <= 0) {
                        EXPECT_LE(cmp(x.c_str(), z.c_str(), cs), 0) << x << " " << y << " " << z;
                    }
                }
            }
        }
    }
    qxFreeCollation();
    EXPECT_EQ(cmp("apple", "Banana", 0), -1); // rebuilt after being freed

    qxSetTextModeUtf8(0);
    EXPECT_EQ(cmp("apple", "Banana", 0), -1);
    EXPECT_EQ(cmp("apple", "Banana", 1), 1); // plain byte order
    EXPECT_EQ(cmp("ABC", "abc", 0), 0);
}

TEST_F(Text, ReadTextFileDecodesAndConverts)
{
    char dir[] = "/tmp/qx_readtext_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    auto write = [&](const char *name, const std::string &bytes) {
        std::string p = std::string(dir) + "/" + name;
        FILE *f = fopen(p.c_str(), "wb");
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
        return p;
    };
    char *text = nullptr;
    size_t len = 0;

    std::string p = write("bom.ini", "\xEF\xBB\xBF" "A = \xC3\xA9\n");
    ASSERT_EQ(qxReadTextFile(p.c_str(), &text, &len), 0);
    EXPECT_EQ(std::string(text, len), "A = \xC3\xA9\n");
    EXPECT_EQ(text[len], 0);
    qxFree(text);

    p = write("latin.ini", "A = \xE9t\xE9\n");
    ASSERT_EQ(qxReadTextFile(p.c_str(), &text, &len), 0);
    EXPECT_EQ(std::string(text, len), "A = \xC3\xA9t\xC3\xA9\n");
    qxFree(text);

    // Larger than the first read block, and empty.
    std::string big(10000, 'x');
    big += "\xFF";
    p = write("big.ini", big);
    ASSERT_EQ(qxReadTextFile(p.c_str(), &text, &len), 0);
    EXPECT_EQ(len, 10002u);
    EXPECT_EQ(std::string(text + 10000), "\xC3\xBF");
    qxFree(text);
    p = write("empty.ini", "");
    ASSERT_EQ(qxReadTextFile(p.c_str(), &text, &len), 0);
    EXPECT_EQ(len, 0u);
    EXPECT_STREQ(text, "");
    qxFree(text);

    EXPECT_EQ(qxReadTextFile((std::string(dir) + "/missing").c_str(), &text, &len), 1045);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(qxReadTextFile(dir, &text, &len), 1009); // a directory opens but cannot be read

    // In ISO-8859-1 mode the path is converted to UTF-8 first.
    p = write("caf\xC3\xA9.ini", "x");
    qxSetTextModeUtf8(0);
    ASSERT_EQ(qxReadTextFile((std::string(dir) + "/caf\xE9.ini").c_str(), &text, &len), 0);
    qxFree(text);
    qxSetTextModeUtf8(1);

    std::string cmd = std::string("rm -rf ") + dir;
    ASSERT_EQ(system(cmd.c_str()), 0);
}
