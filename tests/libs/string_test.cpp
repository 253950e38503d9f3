// String commands: searching, cutting, characters in both text modes,
// numbers and text, and their refusals of bad input.
#include "libtest.h"

namespace {

using libtest::Arg;
using libtest::LibTest;
using libtest::Nil;

struct StringTest : LibTest {};

const std::string kUmlaut = "\xC3\xA4";       // a with diaeresis, 2 bytes
const std::string kEuro = "\xE2\x82\xAC";     // euro sign, 3 bytes
const std::string kBad = "a\xC3(b";           // a broken sequence

TEST_F(StringTest, FindCountReplace) {
    EXPECT_EQ(num("FindStr", {"hello world", "o"}), 4);
    EXPECT_EQ(num("FindStr", {"hello world", "o", 1, 5}), 7);
    EXPECT_EQ(num("FindStr", {"hello", ""}), -1);
    EXPECT_EQ(num("FindStr", {"hello", "l", 1, 5}), -1); // start at the length
    EXPECT_EQ(status("FindStr", {"hello", "l", 1, -1}), ERR_WRONGUSAGE);
    EXPECT_EQ(num("FindStr", {"Hello", "hELL", 0}), 0);
    EXPECT_EQ(num("FindStr", {"Hello", "hELL", 1}), -1);
    // UTF-8: positions count characters, case folding is Unicode's.
    std::string s = kUmlaut + "b" + kEuro + "x" + "\xC3\x84" "Y";
    EXPECT_EQ(num("FindStr", {s, "x", 1, 0, 1}), 3);
    EXPECT_EQ(num("FindStr", {s, "x", 1, 0, 0}), 6);
    EXPECT_EQ(num("FindStr", {s, kUmlaut + "y", 0, 1, 1}), 4);
    EXPECT_EQ(num("FindStr", {s, kUmlaut + "y", 1, 1, 1}), -1);
    EXPECT_EQ(status("FindStr", {kBad, "a", 1, 0, 1}), ERR_INVALIDUTF8ARG);
    EXPECT_EQ(num("FindStr", {kBad, "(", 1, 0, 0}), 2);

    EXPECT_EQ(num("CountStr", {"aaaa", "aa"}), 2);
    EXPECT_EQ(num("CountStr", {"abcabc", "BC", 0, 1}), 2);
    EXPECT_EQ(num("CountStr", {"abc", "b", 1, 3}), 0);
    EXPECT_EQ(status("CountStr", {"abc", "b", 1, -2}), ERR_WRONGUSAGE);

    EXPECT_EQ(str("ReplaceStr", {"hello world", "o", "0"}), "hell0 w0rld");
    EXPECT_EQ(str("ReplaceStr", {"aXbxc", "x", "--", 0}), "a--b--c");
    EXPECT_EQ(str("ReplaceStr", {"abab", "ab", "x", 1, 1}), "abx");
    EXPECT_EQ(str("ReplaceStr", {"abab", "", "x"}), "abab");
    EXPECT_EQ(str("ReplaceStr", {"abab", "b", "x", 1, 99}), "abab");
    EXPECT_EQ(status("ReplaceStr", {"abab", "b", "x", 1, -1}), ERR_WRONGUSAGE);
}

TEST_F(StringTest, PrefixesAndComparison) {
    EXPECT_EQ(num("StartsWith", {"Hello", "he", 0}), 1);
    EXPECT_EQ(num("StartsWith", {"Hello", "he"}), 0);
    EXPECT_EQ(num("StartsWith", {"Hello", ""}), 0);
    EXPECT_EQ(num("StartsWith", {"He", "Hello"}), 0);
    EXPECT_EQ(num("EndsWith", {"Hello", "LLO", 0}), 1);
    EXPECT_EQ(num("EndsWith", {"Hello", "LLO"}), 0);
    EXPECT_EQ(num("EndsWith", {"x" + kUmlaut, "\xC3\x84", 0, 1}), 1);
    EXPECT_EQ(num("EndsWith", {"lo", "Hello"}), 0);
    EXPECT_LT(num("CompareStr", {"abc", "abd"}), 0);
    EXPECT_EQ(num("CompareStr", {"ABC", "abc", 0}), 0);
    EXPECT_GT(num("CompareStr", {"b", "a"}), 0);
}

TEST_F(StringTest, CuttingAndJoining) {
    EXPECT_EQ(str("LeftStr", {"hello", 2}), "he");
    EXPECT_EQ(str("LeftStr", {"hello", 99}), "hello");
    EXPECT_EQ(str("LeftStr", {"hello", 0}), "");
    EXPECT_EQ(str("RightStr", {"hello", 3}), "llo");
    EXPECT_EQ(str("RightStr", {"hello", -1}), "");
    EXPECT_EQ(str("MidStr", {"hello", 1, 3}), "ell");
    EXPECT_EQ(str("MidStr", {"hello", 3}), "lo");
    EXPECT_EQ(str("MidStr", {"hello", 3, 0}), "");
    EXPECT_EQ(str("MidStr", {"hello", 5}), "");
    EXPECT_EQ(str("MidStr", {"hello", -3, 2}), "he"); // never before the start
    EXPECT_EQ(str("UnleftStr", {"hello", 2}), "hel");
    EXPECT_EQ(str("UnleftStr", {"hello", 9}), "");
    EXPECT_EQ(status("UnleftStr", {"hello", -1}), ERR_WRONGUSAGE);
    EXPECT_EQ(str("UnrightStr", {"hello", 2}), "llo");
    EXPECT_EQ(str("UnmidStr", {"hello", 1, 3}), "ho");
    EXPECT_EQ(str("UnmidStr", {"hello", 9, 3}), "hello");
    EXPECT_EQ(status("UnmidStr", {"hello", -1, 3}), ERR_WRONGUSAGE);
    EXPECT_EQ(str("InsertStr", {"hello", "XY", 2}), "heXYllo");
    EXPECT_EQ(str("InsertStr", {"hello", "XY", 2, 1}), "heXYo");
    EXPECT_EQ(str("InsertStr", {"hello", "XYZW", 3, 1}), "helXYZW");
    EXPECT_EQ(str("InsertStr", {"hello", "XY", 99}), "helloXY");
    EXPECT_EQ(str("InsertStr", {"", "XY", 3}), "XY");
    EXPECT_EQ(status("InsertStr", {"hello", "XY", -1}), ERR_WRONGUSAGE);
    EXPECT_EQ(str("AddStr", {"ab", "cd"}), "abcd");
    EXPECT_EQ(str("RepeatStr", {"ab", 3}), "ababab");
    EXPECT_EQ(str("RepeatStr", {"ab", 0}), "");
    EXPECT_EQ(status("RepeatStr", {"ab", -1}), ERR_WRONGUSAGE);
    // An enormous count is refused before anything is allocated.
    EXPECT_EQ(status("RepeatStr", {"abcd", 2147483647}), ERR_MEM);
    EXPECT_EQ(str("RepeatStr", {"", 2147483647}), "");
    EXPECT_EQ(str("ReverseStr", {"abc"}), "cba");
    EXPECT_EQ(str("ReverseStr", {"a" + kEuro + "b", 1}), "b" + kEuro + "a");
    EXPECT_EQ(str("TrimStr", {"xxaxx", "x", 0}), "axx");
    EXPECT_EQ(str("TrimStr", {"xxaxx", "x", 1}), "xxa");
    EXPECT_EQ(str("TrimStr", {kEuro + "a" + kEuro, kEuro, 1, 1}), kEuro + "a");
    EXPECT_EQ(status("TrimStr", {"xxa", "xx", 0}), ERR_WRONGUSAGE);
    EXPECT_EQ(str("StripStr", {" \t ab c \n"}), "ab c");
    EXPECT_EQ(num("EmptyStr", {" \t\n"}), 1);
    EXPECT_EQ(num("EmptyStr", {" a"}), 0);
}

TEST_F(StringTest, Splitting) {
    auto pieces = [&](const std::vector<Arg> &args) {
        libtest::Result r = call("SplitStr", args);
        EXPECT_EQ(r.status, 0);
        std::vector<std::string> out;
        int n = static_cast<int>(r.num(1));
        for (int i = 0; i < n; i++) {
            lua_rawgeti(L, 1, i);
            out.emplace_back(lua_tostring(L, -1), lua_strlen(L, -1));
            lua_pop(L, 1);
        }
        return out;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(pieces({"a,,b", ","}), (V{"a", "", "b"}));
    EXPECT_EQ(pieces({"a,,b", ",", 1}), (V{"a", "b"}));
    EXPECT_EQ(pieces({",a", ","}), (V{"", "a"}));
    EXPECT_EQ(pieces({"a,", ","}), (V{"a", ""}));
    EXPECT_EQ(pieces({"abc", ","}), (V{"abc"}));
    EXPECT_EQ(pieces({"a<>b<><>c", "<>", 1}), (V{"a", "b", "c"}));
    EXPECT_EQ(status("SplitStr", {"abc", ""}), ERR_WRONGUSAGE);
}

TEST_F(StringTest, LengthsAndCharacters) {
    std::string s = kUmlaut + "b";
    EXPECT_EQ(num("StrLen", {s, 1}), 2);
    EXPECT_EQ(num("StrLen", {s, 0}), 3);
    EXPECT_EQ(num("ByteLen", {s}), 3);
    EXPECT_EQ(num("CharWidth", {s, 0, 1}), 2);
    EXPECT_EQ(num("CharWidth", {s, 0, 0}), 1);
    EXPECT_EQ(status("CharWidth", {s, 2, 1}), ERR_WRONGUSAGE);
    EXPECT_EQ(num("ByteOffset", {s, 1, 1}), 2);
    EXPECT_EQ(status("ByteOffset", {s, -1, 1}), ERR_WRONGUSAGE);
    EXPECT_EQ(num("CharOffset", {s, 1, 1}), 0); // a continuation byte
    EXPECT_EQ(num("CharOffset", {s, 2, 1}), 1);
    EXPECT_EQ(status("CharOffset", {s, 3, 1}), ERR_WRONGUSAGE);
    libtest::Result v = call("ValidateStr", {kBad, 1});
    EXPECT_EQ(v.num(0), 0);
    EXPECT_EQ(v.num(1), 1);
    v = call("ValidateStr", {s, 1});
    EXPECT_EQ(v.num(0), 1);
    EXPECT_EQ(v.num(1), 2);
    v = call("ValidateStr", {kBad, 0});
    EXPECT_EQ(v.num(0), 1);
    EXPECT_EQ(v.num(1), -1);
    EXPECT_EQ(num("Asc", {kEuro, 0, 1}), 0x20AC);
    EXPECT_EQ(num("Asc", {kEuro, 2, 0}), 0xAC);
    EXPECT_EQ(num("Asc", {""}), 0);
    EXPECT_EQ(status("Asc", {"ab", 2}), ERR_WRONGUSAGE);
    EXPECT_EQ(str("Chr", {0x20AC, 1}), kEuro);
    EXPECT_EQ(str("Chr", {0, 0}), "");
    EXPECT_EQ(str("Chr", {228, 0}), "\xE4");
    EXPECT_EQ(status("Chr", {256, 0}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("Chr", {0, 1}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("Chr", {0x110000, 1}), ERR_WRONGUSAGE);
    EXPECT_EQ(num("ByteAsc", {kEuro, 1}), 0x82);
    EXPECT_EQ(status("ByteAsc", {kEuro, 3}), ERR_WRONGUSAGE);
    EXPECT_EQ(str("ByteChr", {0}), std::string(1, '\0'));
    EXPECT_EQ(status("ByteChr", {256}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("ByteChr", {-1}), ERR_WRONGUSAGE);
}

TEST_F(StringTest, ArraysAndBytes) {
    libtest::Result r = call("StrToArray", {"a" + kEuro, 1});
    ASSERT_EQ(r.status, 0);
    std::vector<double> codes;
    for (int i = 0; i < 3; i++) {
        lua_rawgeti(L, 1, i);
        codes.push_back(lua_tonumber(L, -1));
        lua_pop(L, 1);
    }
    EXPECT_EQ(codes, (std::vector<double>{'a', 0x20AC, 0}));
    EXPECT_EQ(str("ArrayToStr", {libtest::list({'a', 0x20AC, 'b', 0, 'c'}), 1}), "a" + kEuro + "b");
    EXPECT_EQ(str("ArrayToStr", {libtest::list({'a', 0x1E4, "x"}), 0}), "a\xE4");
    EXPECT_EQ(status("ArrayToStr", {libtest::list({-5}), 1}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("ArrayToStr", {"notatable"}), ERR_TABEXPECTED);

    EXPECT_EQ(str("ByteStrStr", {0x11223344}), "\x11\x22\x33\x44");
    EXPECT_EQ(str("ByteStrStr", {0x11223344, 1, 2}), "\x44\x33\x22\x11");
    EXPECT_EQ(str("ByteStrStr", {-2, 6}), "\xFF\xFE");
    EXPECT_EQ(str("ByteStrStr", {1.5, 11}), std::string("\x3F\xC0\x00\x00", 4));
    EXPECT_EQ(status("ByteStrStr", {1, 3}), ERR_WRONGUSAGE);
    EXPECT_EQ(num("ByteVal", {"\x11\x22\x33\x44"}), 0x11223344);
    EXPECT_EQ(num("ByteVal", {"\x44\x33\x22\x11", 1, 2}), 0x11223344);
    EXPECT_EQ(num("ByteVal", {std::string("\xFF\xFE", 2), 6}), 0xFFFE);
    EXPECT_EQ(num("ByteVal", {std::string("\x3F\xC0\x00\x00", 4), 11}), 1.5);
    EXPECT_EQ(num("ByteVal", {str("ByteStrStr", {-0.1, 12, 2}), 12, 2}), -0.1);
    EXPECT_EQ(status("ByteVal", {"ab"}), ERR_MEMRANGE);
}

TEST_F(StringTest, CaseAndEncoding) {
    EXPECT_EQ(str("UpperStr", {"ab" + kUmlaut, 1}), "AB\xC3\x84");
    EXPECT_EQ(str("LowerStr", {"AB\xC4", 0}), "ab\xE4");
    EXPECT_EQ(status("UpperStr", {kBad, 1}), ERR_INVALIDUTF8ARG);
    EXPECT_EQ(str("UpperStr", {kBad, 0}), "A\xC3(B");
    EXPECT_EQ(str("ConvertStr", {"\xE4", 0, 1}), kUmlaut);
    EXPECT_EQ(str("ConvertStr", {kUmlaut, 1, 0}), "\xE4");
    EXPECT_EQ(str("ConvertStr", {kBad, 1, 1}), kBad);
    // The default encoding (following the text mode) decides when no
    // encoding is given.
    qxSetTextModeUtf8(0);
    EXPECT_EQ(num("StrLen", {kUmlaut}), 2);
    qxSetTextModeUtf8(1);
    EXPECT_EQ(num("StrLen", {kUmlaut}), 1);
}

TEST_F(StringTest, NumbersAndText) {
    libtest::Result r = call("Val", {"$FF rest"});
    EXPECT_EQ(r.num(0), 255);
    EXPECT_EQ(r.num(1), 3);
    r = call("Val", {"-1.5e2x"});
    EXPECT_EQ(r.num(0), -150);
    EXPECT_EQ(r.num(1), 6);
    r = call("Val", {"%101"});
    EXPECT_EQ(r.num(0), 5);
    r = call("Val", {"abc"});
    EXPECT_EQ(r.num(0), 0);
    EXPECT_EQ(r.num(1), 0);
    EXPECT_EQ(num("ToNumber", {"12.5"}), 12.5);
    EXPECT_EQ(num("ToNumber", {"zz"}), 0);
    EXPECT_EQ(num("ToNumber", {"ff", 16}), 255);
    EXPECT_EQ(num("ToNumber", {"  101  ", 2}), 5);
    EXPECT_EQ(num("ToNumber", {"102", 2}), 0);
    EXPECT_EQ(num("ToNumber", {"-", 16}), 0);
    EXPECT_EQ(status("ToNumber", {"1", 37}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("ToNumber", {"1", 1}), ERR_WRONGUSAGE);

    EXPECT_EQ(str("StrStr", {3.14159}), "3.14");
    EXPECT_EQ(str("StrStr", {3.14159, 0}), "3");
    EXPECT_EQ(str("StrStr", {3.14159, -1}), "3.");
    EXPECT_EQ(str("StrStr", {2}), "2");
    EXPECT_EQ(str("StrStr", {-2.999, 1}), "-2.9");
    // Exponent forms keep their exponent; the mantissa is cut.
    EXPECT_EQ(str("StrStr", {1.5e20, 0}), "1e+20");
    EXPECT_EQ(str("StrStr", {1.23456e-7, 2}), "1.23e-07");
    EXPECT_EQ(str("StrStr", {1.25e30, 1}), "1.2e+30");

    EXPECT_EQ(str("HexStr", {-1}), "$FFFFFFFF");
    EXPECT_EQ(str("HexStr", {255}), "$FF");
    // Values from 2^32 on keep exactly their low 32 bits.
    EXPECT_EQ(str("HexStr", {4294967296.0}), "$0");
    EXPECT_EQ(str("HexStr", {4294967297.0}), "$1");
    EXPECT_EQ(str("HexStr", {8589934593.0 + 0xABC}), "$ABD");
    EXPECT_EQ(str("HexStr", {1099511627775.0}), "$FFFFFFFF");
    EXPECT_EQ(str("HexStr", {-4294967297.0}), "$FFFFFFFF");
    EXPECT_EQ(str("BinStr", {5, 7}), "00000101");
    EXPECT_EQ(str("BinStr", {-1, 6}), "1111111111111111");
    EXPECT_EQ(str("BinStr", {5, 3}), "");
    EXPECT_EQ(str("BinStr", {5}).size(), 32u);
    EXPECT_EQ(str("PadNum", {7, 3}), "007");
    EXPECT_EQ(str("PadNum", {1234, 2}), "1234");
    EXPECT_EQ(status("PadNum", {-1, 2}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("PadNum", {1, 0}), ERR_WRONGUSAGE);
    libtest::Result u = call("ToUserData", {4096});
    EXPECT_EQ(u.v[0].type, LUA_TLIGHTUSERDATA);
    lua_pushlightuserdata(L, reinterpret_cast<void *>(4096));
    EXPECT_EQ(num("ToNumber", {std::function<void(lua_State *)>(
                                  [](lua_State *S) { lua_pushlightuserdata(S, reinterpret_cast<void *>(4096)); })}),
              4096);
    EXPECT_EQ(num("CRC32Str", {"123456789"}), 0xCBF43926u);
    EXPECT_EQ(status("CRC32Str", {""}), ERR_WRONGUSAGE);
    EXPECT_EQ(str("MD5Str", {"abc"}), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(status("MD5Str", {""}), ERR_WRONGUSAGE);
    EXPECT_EQ(str("Base64Str", {"ab", 0}), "YWI=");
    EXPECT_EQ(str("Base64Str", {"YWJj", 1}), "abc");
    EXPECT_EQ(str("Base64Str", {"", 0}), "");
    EXPECT_EQ(status("Base64Str", {"Y!Jj", 1}), ERR_BADBASE64);
}

TEST_F(StringTest, CharacterClasses) {
    EXPECT_NE(num("IsDigit", {"a5", 1}), 0);
    EXPECT_EQ(num("IsDigit", {"a5", 0}), 0);
    EXPECT_EQ(status("IsDigit", {""}), ERR_WRONGUSAGE);
    EXPECT_EQ(num("IsDigit", {"5", 0, 0}), 2048); // the locale's class bit
    EXPECT_EQ(num("IsSpace", {" ", 0, 0}), 8192);
    EXPECT_NE(num("IsAlpha", {"\xE4", 0, 0}), 0); // ISO-8859-1 letter
    EXPECT_NE(num("IsAlpha", {kUmlaut, 0, 1}), 0);
    EXPECT_NE(num("IsUpper", {"\xC3\x84", 0, 1}), 0);
    EXPECT_EQ(num("IsPrint", {" ", 0, 0}), 1);
    EXPECT_EQ(num("IsPrint", {"\x01", 0, 0}), 0);
    EXPECT_NE(num("IsPunct", {"!"}), 0);
    EXPECT_NE(num("IsXDigit", {"F"}), 0);
    EXPECT_NE(num("IsCntrl", {"\n"}), 0);
    EXPECT_NE(num("IsAlNum", {"7"}), 0);
    EXPECT_NE(num("IsGraph", {"x"}), 0);
    EXPECT_NE(num("IsLower", {"x"}), 0);
    EXPECT_EQ(status("IsAlpha", {kBad, 0, 1}), ERR_INVALIDUTF8ARG);
}

TEST_F(StringTest, ArgumentChecks) {
    EXPECT_EQ(status("FindStr", {"a"}), ERR_MISSINGPARAMTR);
    EXPECT_EQ(status("LeftStr", {"a", 1, 1, 1}), ERR_TOOMANYARGS);
    EXPECT_EQ(status("LeftStr", {libtest::list({}), 1}), ERR_STREXPECTED);
    EXPECT_EQ(status("LeftStr", {"abc", "x"}), ERR_NUMEXPECTED);
}

TEST_F(StringTest, ARexxIsNotSupported) {
    for (const char *c : {"CreateRexxPort", "RunRexxScript", "SendRexxCommand"})
        EXPECT_EQ(status(c, {1, "x", Nil{}}), ERR_UNSUPPORTEDFEAT) << c;
    // With raising off the error is only recorded and no value comes back.
    qxRaiseOnError = 0;
    libtest::Result r = call("RunRexxScript", {});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.v.empty());
    EXPECT_EQ(qxLastError, ERR_UNSUPPORTEDFEAT);
}

} // namespace
