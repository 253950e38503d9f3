// FormatStr against Python's printf-style formatting, ToString, and Eval
// against Python's arithmetic, with the error codes of bad input.
#include <algorithm>
#include <cstring>
#include <random>

#include "libtest.h"

namespace {

using libtest::Arg;
using libtest::LibTest;
using libtest::Nil;

struct FormatTest : LibTest {};

const char *kPythonFormat = R"PY(
import sys
for line in sys.stdin:
    d, kind, v = line.rstrip("\n").split("\t")
    if kind == "i":
        x = int(v)
        if d[-1] == "c":
            x = chr(x)
        elif d[-1] in "ouxX":
            x = x & 0xFFFFFFFF
            if d[-1] == "u":
                d = d[:-1] + "d"
    elif kind == "f":
        x = float.fromhex(v)
    else:
        x = bytes.fromhex(v).decode("latin-1") if v != "-" else ""
    out = (d % x).encode("latin-1")
    print(out.hex() if out else "-")
)PY";

TEST_F(FormatTest, AgreesWithPython) {
    std::mt19937 rng(7);
    static const char *flagSets[] = {"", "", "-", "+", " ", "0", "-+", "+0", " 0", "#"};
    static const int ints[] = {0, 1, -1, 7, 42, -42, 255, 65535, 123456789, -2147483647 - 1, 2147483647, 1000};
    static const double doubles[] = {0.0, -0.0, 0.1, -3.75, 1e300, 1e-300, 123456.789, 2.5, 0.5, 1.0 / 3, 1e15, -1e-5, 9.999999};
    static const char *strings[] = {"", "a", "hello", "H\xE9llo w\xF6rld", "tab\there"};
    struct Case { std::string directive; char kind; double value; std::string text; };
    std::vector<Case> cases;
    for (int i = 0; i < 800; i++) {
        const char *convs = "diouxXeEfgGcs";
        char conv = convs[rng() % 13];
        std::string flags = flagSets[rng() % 10];
        bool isString = conv == 's' || conv == 'c';
        bool isInt = std::strchr("diouxXc", conv) != nullptr;
        // Forms where C and Python differ by definition are left out.
        if (flags == "#" && (isInt || isString)) flags = "";
        if (isString && flags.find('0') != std::string::npos) flags = "-";
        if (std::strchr("ouxX", conv)) // C ignores signs there, Python does not
            flags.erase(std::remove_if(flags.begin(), flags.end(), [](char f) { return f == '+' || f == ' '; }),
                        flags.end());
        bool precision = rng() % 2 && conv != 'c';
        if (precision && isInt) // C ignores "0" with a precision, Python does not
            flags.erase(std::remove(flags.begin(), flags.end(), '0'), flags.end());
        std::string d = "%" + flags;
        if (rng() % 2) d += std::to_string(rng() % 30);
        if (precision) d += "." + std::to_string((isInt ? 1 : 0) + rng() % 20);
        d += conv;
        Case c{d, 'i', 0, ""};
        if (conv == 's') {
            c.kind = 's';
            c.text = strings[rng() % 5];
        } else if (conv == 'c') {
            c.value = 32 + rng() % 95;
        } else if (isInt) {
            c.value = ints[rng() % 12];
        } else {
            c.kind = 'f';
            c.value = doubles[rng() % 13];
        }
        cases.push_back(c);
    }
    std::string input;
    for (const Case &c : cases) {
        char v[64];
        if (c.kind == 'f') std::snprintf(v, sizeof v, "%a", c.value);
        else std::snprintf(v, sizeof v, "%.0f", c.value);
        input += c.directive + "\t" + c.kind + "\t" + (c.kind == 's' ? libtest::hex(c.text) : std::string(v)) + "\n";
    }
    bool ok;
    std::vector<std::string> out = libtest::lines(libtest::runPeer("python3", kPythonFormat, input, &ok));
    if (!ok) GTEST_SKIP() << "python3 is not available";
    ASSERT_EQ(out.size(), cases.size());
    for (size_t i = 0; i < cases.size(); i++) {
        const Case &c = cases[i];
        Arg value = c.kind == 's' ? Arg(c.text) : Arg(c.value);
        std::string got = str("FormatStr", {"<" + c.directive + ">", value});
        EXPECT_EQ(libtest::hex(got), libtest::hex("<" + libtest::unhex(out[i]) + ">")) << c.directive;
    }
}

TEST_F(FormatTest, Directives) {
    EXPECT_EQ(str("FormatStr", {"%5.2f", 3.14159}), " 3.14");
    EXPECT_EQ(str("FormatStr", {"%d", 3.9}), "3");
    EXPECT_EQ(str("FormatStr", {"%d%%", 50}), "50%");
    EXPECT_EQ(str("FormatStr", {"100%%"}), "100%");
    EXPECT_EQ(str("FormatStr", {"%q", "a\nb\"c\\"}), "\"a\\\nb\\\"c\\\\\"");
    EXPECT_EQ(str("FormatStr", {"%q", std::string("x\0y", 3)}), "\"x\\000y\"");
    EXPECT_EQ(str("FormatStr", {"%-9q|", "ab"}), "\"ab\"|");
    EXPECT_EQ(str("FormatStr", {"%c", 0}), std::string(1, '\0'));
    EXPECT_EQ(str("FormatStr", {"%x", -1}), "ffffffff");
    // Long strings without a precision are appended whole, width ignored.
    std::string longText(300, 'z');
    EXPECT_EQ(str("FormatStr", {"%5s", longText}), longText);
    EXPECT_EQ(str("FormatStr", {"%.3s", longText}), "zzz");
    EXPECT_EQ(str("FormatStr", {"%s and %s", "a", 1}), "a and 1");
    // Bad directives.
    EXPECT_EQ(status("FormatStr", {"%123d", 1}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("FormatStr", {"%1.123f", 1}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("FormatStr", {"abc%", 1}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("FormatStr", {"%y", 1}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("FormatStr", {"%ld", 1}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("FormatStr", {"%-------------------d", 1}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("FormatStr", {"%n", 1}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("FormatStr", {"%d"}), ERR_NUMEXPECTED);
    EXPECT_EQ(status("FormatStr", {"%d", "x"}), ERR_NUMEXPECTED);
    EXPECT_EQ(status("FormatStr", {"%s", libtest::list({})}), ERR_STREXPECTED);
    EXPECT_EQ(status("FormatStr", {}), ERR_MISSINGPARAMTR);
}

TEST_F(FormatTest, ToString) {
    EXPECT_EQ(str("ToString", {Nil{}}), "Nil");
    EXPECT_EQ(str("ToString", {2.5}), "2.5");
    EXPECT_EQ(str("ToString", {"x"}), "x");
    EXPECT_EQ(str("ToString", {std::function<void(lua_State *)>([](lua_State *S) { lua_pushboolean(S, 1); })}),
              "true");
    EXPECT_EQ(str("ToString", {libtest::list({})}).rfind("Table: ", 0), 0u);
    EXPECT_EQ(str("ToString", {std::function<void(lua_State *)>([](lua_State *S) {
                  lua_pushlightuserdata(S, reinterpret_cast<void *>(0x10));
              })}).rfind("UserData: ", 0),
              0u);
    auto withMeta = std::function<void(lua_State *)>([](lua_State *S) {
        lua_newtable(S);
        lua_newtable(S);
        lua_pushliteral(S, "__tostring");
        lua_pushcfunction(S, [](lua_State *T) -> int {
            lua_pushliteral(T, "custom");
            return 1;
        });
        lua_settable(S, -3);
        lua_setmetatable(S, -2);
    });
    EXPECT_EQ(str("ToString", {withMeta}), "custom");
}

const char *kPythonEval = R"PY(
import sys
for line in sys.stdin:
    try:
        v = eval(line)
        print(float(v).hex())
    except ZeroDivisionError:
        print("zero")
)PY";

// A random expression, as our text and as Python's (literals as floats).
std::pair<std::string, std::string> randomExpr(std::mt19937 &rng, int depth) {
    static const char *numbers[][2] = {{"1", "1.0"},   {"2", "2.0"},       {"3.5", "3.5"}, {"0", "0.0"},
                                       {"10", "10.0"}, {"0.25", "0.25"},   {"7", "7.0"},   {"100", "100.0"},
                                       {"1e3", "1e3"}, {"0x1F", "31.0"}};
    if (depth > 4 || rng() % 3 == 0) {
        auto &n = numbers[rng() % 10];
        return {n[0], n[1]};
    }
    switch (rng() % 4) {
    case 0: {
        auto e = randomExpr(rng, depth + 1);
        return {"(" + e.first + ")", "(" + e.second + ")"};
    }
    case 1: {
        auto e = randomExpr(rng, depth + 1);
        return {"-" + e.first, "-" + e.second};
    }
    default: {
        static const char *ops[] = {" + ", " - ", " * ", " / "};
        const char *op = ops[rng() % 4];
        auto a = randomExpr(rng, depth + 1), b = randomExpr(rng, depth + 1);
        return {a.first + op + b.first, a.second + op + b.second};
    }
    }
}

TEST_F(FormatTest, EvalAgreesWithPython) {
    std::mt19937 rng(99);
    std::vector<std::string> exprs;
    std::string input;
    for (int i = 0; i < 400; i++) {
        auto e = randomExpr(rng, 0);
        exprs.push_back(e.first);
        input += e.second + "\n";
    }
    bool ok;
    std::vector<std::string> out = libtest::lines(libtest::runPeer("python3", kPythonEval, input, &ok));
    if (!ok) GTEST_SKIP() << "python3 is not available";
    ASSERT_EQ(out.size(), exprs.size());
    for (size_t i = 0; i < exprs.size(); i++) {
        libtest::Result r = call("Eval", {exprs[i]});
        if (out[i] == "zero") {
            EXPECT_EQ(r.status, ERR_ZERODIVISION) << exprs[i];
        } else {
            ASSERT_EQ(r.status, 0) << exprs[i];
            char hexv[64];
            std::snprintf(hexv, sizeof hexv, "%a", r.num());
            EXPECT_EQ(r.num(), std::strtod(out[i].c_str(), nullptr)) << exprs[i] << " gives " << hexv;
        }
    }
}

TEST_F(FormatTest, EvalOperatorsAndErrors) {
    EXPECT_EQ(num("Eval", {"1 + 2 * 3"}), 7);
    EXPECT_EQ(num("Eval", {"2 ^ 3 ^ 2"}), 512);
    EXPECT_EQ(num("Eval", {"-2 ^ 2"}), -4);
    EXPECT_EQ(num("Eval", {"7 \\ 2"}), 3);
    EXPECT_EQ(num("Eval", {"-7 \\ 2"}), -3);
    EXPECT_EQ(num("Eval", {"7 % 3"}), 1);
    EXPECT_EQ(num("Eval", {"1 << 4"}), 16);
    EXPECT_EQ(num("Eval", {"1 << 31"}), 2147483648.0);
    EXPECT_EQ(num("Eval", {"1 << 33"}), 2);
    EXPECT_EQ(num("Eval", {"-1 >> 28"}), 15);
    EXPECT_EQ(num("Eval", {"12 & 10"}), 8);
    EXPECT_EQ(num("Eval", {"12 | 3"}), 15);
    EXPECT_EQ(num("Eval", {"12 ~ 10"}), 6);
    EXPECT_EQ(num("Eval", {"~0"}), 4294967295.0);
    EXPECT_EQ(num("Eval", {"not 0"}), 1);
    EXPECT_EQ(num("Eval", {"NOT 5"}), 0);
    EXPECT_EQ(num("Eval", {"3 and 0"}), 0);
    EXPECT_EQ(num("Eval", {"3 and 4"}), 4);
    EXPECT_EQ(num("Eval", {"0 or 4"}), 4);
    EXPECT_EQ(num("Eval", {"3 = 3"}), 1);
    EXPECT_EQ(num("Eval", {"3 <> 3"}), 0);
    EXPECT_EQ(num("Eval", {"2 <= 3"}), 1);
    EXPECT_EQ(num("Eval", {"2 >= 3"}), 0);
    EXPECT_EQ(num("Eval", {"$10 + 0x10"}), 32);
    EXPECT_EQ(num("Eval", {"\t1+1 "}), 2);
    EXPECT_EQ(num("Eval", {"-2147483648 \\ -1"}), 2147483648.0);
    EXPECT_EQ(status("Eval", {"1<<4"}), ERR_VALUEEXPECTED);
    EXPECT_EQ(status("Eval", {"1 / 0"}), ERR_ZERODIVISION);
    EXPECT_EQ(status("Eval", {"1 % 0"}), ERR_ZERODIVISION);
    EXPECT_EQ(status("Eval", {"(1 + 2"}), ERR_UNMPARENTHESES);
    EXPECT_EQ(status("Eval", {"1 2"}), ERR_SYNTAXERROR);
    EXPECT_EQ(status("Eval", {"1 .. 2"}), ERR_WRONGOPCST);
    EXPECT_EQ(status("Eval", {""}), ERR_VALUEEXPECTED);
    EXPECT_EQ(status("Eval", {"$"}), ERR_SYNTAXERROR);
    EXPECT_EQ(status("Eval", {"1 +"}), ERR_VALUEEXPECTED);
    // Deep nesting ends with an error, never a stack overflow.
    EXPECT_EQ(status("Eval", {std::string(100000, '(') + "1" + std::string(100000, ')')}), ERR_COMPLEXEXPR);
    std::string minus;
    for (int i = 0; i < 100000; i++) minus += "- ";
    EXPECT_EQ(status("Eval", {minus + "1"}), ERR_COMPLEXEXPR);
    EXPECT_EQ(num("Eval", {std::string(150, '(') + "1" + std::string(150, ')')}), 1);
}

TEST_F(FormatTest, EvalVariables) {
    auto vars = [](std::vector<std::pair<Arg, Arg>> entries) {
        return std::function<void(lua_State *)>([entries](lua_State *S) {
            lua_newtable(S);
            lua_pushliteral(S, "variables");
            lua_newtable(S);
            for (size_t i = 0; i < entries.size(); i++) {
                lua_newtable(S);
                lua_pushliteral(S, "name");
                entries[i].first.push(S);
                lua_settable(S, -3);
                lua_pushliteral(S, "value");
                entries[i].second.push(S);
                lua_settable(S, -3);
                lua_rawseti(S, -2, static_cast<int>(i));
            }
            lua_settable(S, -3);
        });
    };
    EXPECT_EQ(num("Eval", {"x * 2", vars({{"x", 5}})}), 10);
    EXPECT_EQ(num("Eval", {"X * 2", vars({{"x", 5}})}), 10);
    EXPECT_EQ(num("Eval", {"x + y$ + _z!", vars({{"x", 1}, {"y$", 2}, {"_z!", 3}})}), 6);
    EXPECT_EQ(num("Eval", {"x + 1", vars({{"x", Nil{}}})}), 1);
    EXPECT_EQ(num("Eval", {"order", vars({{"ord", 1}, {"order", 2}})}), 2);
    EXPECT_EQ(status("Eval", {"1", vars({{"1x", 5}})}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("Eval", {"1", vars({{"a b", 5}})}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("Eval", {"1", vars({{std::string(65, 'a'), 5}})}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("Eval", {"1", vars({{Nil{}, 5}})}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("Eval", {"y", vars({{"x", 5}})}), ERR_VALUEEXPECTED);
    // Every name is checked before any value is read.
    EXPECT_EQ(status("Eval", {"1", vars({{"x", "abc"}, {"1y", 1}})}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("Eval", {"1", vars({{"x", "abc"}})}), ERR_NUMTABLEARG);
    EXPECT_EQ(status("Eval", {"1", "notatable"}), ERR_TABEXPECTED);
    auto badEntry = std::function<void(lua_State *)>([](lua_State *S) {
        lua_newtable(S);
        lua_pushliteral(S, "variables");
        lua_newtable(S);
        lua_pushnumber(S, 3);
        lua_rawseti(S, -2, 0);
        lua_settable(S, -3);
    });
    EXPECT_EQ(status("Eval", {"1", badEntry}), ERR_TABEXPECTED);
}

} // namespace
