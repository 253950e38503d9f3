// The pattern commands: results checked against lua5.1's string.find,
// string.gsub and string.gmatch on the same patterns and subjects (1-based
// positions there, 0-based here), the UTF-8 mode, the error codes of
// malformed patterns and the depth limit.
#include <algorithm>
#include <random>

#include "libtest.h"

namespace {

using libtest::Arg;
using libtest::LibTest;
using libtest::Nil;

struct PatternTest : LibTest {
    // All results of the iterator of PatternFindStr, one text per match.
    std::vector<std::string> iterateAll(const std::string &s, const std::string &p, int enc, int *status) {
        std::vector<std::string> out;
        libtest::Result r = call("PatternFindStr", {s, p, enc});
        *status = r.status;
        if (r.status) return out;
        lua_pushvalue(L, 1);
        int iter = lua_gettop(L);
        for (int k = 0; k < 200; k++) {
            int base = lua_gettop(L);
            lua_pushvalue(L, iter);
            int st = lua_pcall(L, 0, LUA_MULTRET, 0);
            qxVmAbort = 0;
            if (st) {
                *status = st;
                break;
            }
            int n = lua_gettop(L) - base;
            if (n == 0) break;
            std::string m;
            for (int i = base + 1; i <= base + n; i++) m += token(read(L, i)) + ",";
            out.push_back(m);
            lua_settop(L, base);
        }
        return out;
    }
    static std::string token(const libtest::Val &v) {
        if (v.type == LUA_TNUMBER) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "n:%.17g", v.n);
            return buf;
        }
        return "s:" + libtest::hex(v.s);
    }
};

// Lua 5.1's messages for our error codes.
int codeOfLuaMessage(std::string m) {
    std::replace(m.begin(), m.end(), '_', ' ');
    struct Row { const char *text; int code; };
    static const Row rows[] = {
        {"ends with '%'", ERR_MALFORMPAT1}, {"missing ']'", ERR_MALFORMPAT2},
        {"unbalanced pattern", ERR_UNBALANCEDPAT}, {"too many captures", ERR_TOOMANYCAPTURES},
        {"invalid pattern capture", ERR_INVPATCAP}, {"invalid capture index", ERR_INVCAPIDX},
        {"missing '[' after '%f'", ERR_MISSINGOPBRACK}, {"unfinished capture", ERR_UNFINISHEDCAPTURE},
    };
    for (const Row &r : rows)
        if (m.find(r.text) != std::string::npos) return r.code;
    return -1;
}

const char *kLuaPeer = R"LUA(
local function unhex(h)
  if h == "-" then return "" end
  return (h:gsub("..", function(x) return string.char(tonumber(x, 16)) end))
end
local function hex(s)
  if s == "" then return "-" end
  return (s:gsub(".", function(c) return string.format("%02x", c:byte()) end))
end
local function tok(v)
  if type(v) == "number" then return string.format("n:%.17g", v) end
  return "s:" .. hex(v)
end
for line in io.lines() do
  local sh, ph, rh = line:match("^(%S+) (%S+) (%S+)$")
  local s, p, r = unhex(sh), unhex(ph), unhex(rh)
  local res = { pcall(string.find, s, p) }
  if not res[1] then
    io.write("F err ", (tostring(res[2]):gsub("%s", "_")), "\n")
  elseif res[2] == nil then
    io.write("F none\n")
  else
    local out = { "F", string.format("%d", res[2] - 1), string.format("%d", res[3] - 1) }
    for i = 4, #res do out[#out + 1] = tok(res[i]) end
    io.write(table.concat(out, " "), "\n")
  end
  local ok, g, n = pcall(string.gsub, s, p, r)
  if ok then io.write("G ", hex(g), " ", n, "\n")
  else io.write("G err ", (tostring(g):gsub("%s", "_")), "\n") end
  local all = {}
  local ok2, err = pcall(function()
    for a, b, c, d in string.gmatch(s, p) do
      local m = ""
      for _, v in ipairs({ a, b, c, d }) do m = m .. tok(v) .. "," end
      all[#all + 1] = m
      if #all >= 200 then break end
    end
  end)
  if ok2 then io.write("M ", #all, " ", table.concat(all, " "), "\n")
  else io.write("M err ", (tostring(err):gsub("%s", "_")), "\n") end
end
)LUA";

// Random patterns over items of every kind, a few of them malformed.
std::string randomPattern(std::mt19937 &rng) {
    static const char *items[] = {"a", "b", "c", "x", ".", "%a", "%d", "%s", "%w", "%p", "%A", "%l", "%u",
                                  "%%", "%(", "[ab]", "[^a]", "[a-c]", "[%d%s]", "[]a]", "[^]b]", "%b()",
                                  "%f[%w]", "%f[%W]", "%1", " ", "-", "1"};
    static const char *quant[] = {"", "", "", "*", "+", "-", "?"};
    static const char *broken[] = {"%", "[a", "%b(", "%f", ")", "%0", "(()", "[%"};
    std::string p;
    if (rng() % 6 == 0) p += "^";
    int n = 1 + static_cast<int>(rng() % 5);
    int open = 0;
    for (int i = 0; i < n; i++) {
        unsigned k = rng() % 12;
        if (k == 0) {
            p += "(";
            open++;
        } else if (k == 1 && open > 0) {
            p += ")";
            open--;
        } else if (k == 2) {
            p += "()";
        } else {
            std::string item = items[rng() % (sizeof items / sizeof *items)];
            p += item;
            if (item.size() == 1 || item[0] == '[' || (item[0] == '%' && item[1] != 'b' && item[1] != 'f' && item[1] != '1'))
                p += quant[rng() % (sizeof quant / sizeof *quant)];
        }
    }
    while (open-- > 0 && rng() % 4) p += ")";
    if (rng() % 6 == 0) p += "$";
    if (rng() % 25 == 0) p += broken[rng() % (sizeof broken / sizeof *broken)];
    return p;
}

std::string randomSubject(std::mt19937 &rng) {
    static const char alphabet[] = "aabbcx1 9()[]%-.A";
    std::string s;
    int n = static_cast<int>(rng() % 14);
    for (int i = 0; i < n; i++) s.push_back(alphabet[rng() % (sizeof alphabet - 1)]);
    return s;
}

TEST_F(PatternTest, AgreesWithLua51) {
    struct Case { std::string s, p, r; };
    std::vector<Case> cases = {
        {"hello world", "o", "0"}, {"hello world", "(%a+) (%a+)", "%2 %1"}, {"hello world", "()ll()", "[%0]"},
        {"THE (quick) fox", "%((%a+)%)", "<%1>"}, {"f(a(b)c)d", "%b()", "X"}, {"THE (quick) fox", "%f[%a]%a+", "W"},
        {"abcabc", "(a)(b)%2?", "%1"}, {"  trim  ", "^%s*(.-)%s*$", "%1"}, {"key = value", "(%w+)%s*=%s*(%w+)", "%2=%1"},
        {"aaa", "a-", "-"}, {"aaa", "a*", "-"}, {"", "a*", "x"}, {"", "", "x"}, {"abc", "", "."},
        {"abc", "^", "x"}, {"abc", "$", "x"}, {"a.b.c", "%.", "/"}, {"x]y", "[]]", "!"}, {"a-b", "[a-]", "_"},
        {"abc", "[^%a]", "_"}, {"123abc", "^%d+", "N"}, {"abc", "b$", "B"}, {"aXbXc", "%u", "%%"},
        {"abc", "%", "x"}, {"abc", "[a", "x"}, {"abc", "%b(", "x"}, {"abc", "%fa", "x"}, {"abc", "(a", "x"},
        {"abc", "a)", "x"}, {"abc", "%0", "x"}, {"abc", "(a)%2", "x"}, {"abc", "(b)", "%2"},
    };
    std::mt19937 rng(20261207);
    for (int i = 0; i < 600; i++) {
        static const char *repls[] = {"<%0>", "%1", "x", "%%", ""};
        cases.push_back({randomSubject(rng), randomPattern(rng), repls[rng() % 5]});
    }
    std::string input;
    for (const Case &c : cases) input += libtest::hex(c.s) + " " + libtest::hex(c.p) + " " + libtest::hex(c.r) + "\n";
    bool ok;
    std::string output = libtest::runPeer("lua5.1", kLuaPeer, input, &ok);
    if (!ok) GTEST_SKIP() << "lua5.1 is not installed";
    std::vector<std::string> out = libtest::lines(output);
    ASSERT_EQ(out.size(), cases.size() * 3);
    int compared = 0, found = 0;
    for (int enc : {0, 1}) {
        for (size_t i = 0; i < cases.size(); i++) {
            const Case &c = cases[i];
            SCOPED_TRACE("subject \"" + c.s + "\" pattern \"" + c.p + "\" enc " + std::to_string(enc));
            // string.find
            std::vector<std::string> f = libtest::splitWords(out[3 * i]);
            libtest::Result r = call("PatternFindStrDirect", {c.s, c.p, 0, enc});
            // lua5.1 searches plain text without matching when the pattern has
            // none of its specials, so its errors show only in gsub.
            bool plain = c.p.find_first_of("^$*+?.([%-") == std::string::npos;
            if (plain && out[3 * i + 1].rfind("G err", 0) == 0) {
                EXPECT_EQ(r.status, codeOfLuaMessage(out[3 * i + 1])) << out[3 * i + 1];
            } else if (f[1] == "err") {
                EXPECT_EQ(r.status, codeOfLuaMessage(out[3 * i])) << out[3 * i];
            } else if (f[1] == "none") {
                ASSERT_EQ(r.status, 0);
                ASSERT_EQ(r.v.size(), 1u);
                EXPECT_EQ(r.num(0), -1);
            } else {
                found++;
                ASSERT_EQ(r.status, 0);
                ASSERT_EQ(r.v.size(), f.size() - 1);
                EXPECT_EQ(r.num(0), std::stod(f[1]));
                EXPECT_EQ(r.num(1), std::stod(f[2]));
                for (size_t k = 3; k < f.size(); k++) EXPECT_EQ(token(r.v[k - 1]), f[k]);
            }
            // string.gsub
            std::vector<std::string> g = libtest::splitWords(out[3 * i + 1]);
            r = call("PatternReplaceStr", {c.s, c.p, c.r, static_cast<double>(c.s.size() + 1), enc});
            if (g[1] == "err") {
                EXPECT_EQ(r.status, codeOfLuaMessage(out[3 * i + 1])) << out[3 * i + 1];
            } else {
                ASSERT_EQ(r.status, 0) << out[3 * i + 1];
                EXPECT_EQ(libtest::hex(r.str(0)), g[1]);
                EXPECT_EQ(r.num(1), std::stod(g[2]));
            }
            // string.gmatch (a leading "^" is an ordinary character in both)
            std::vector<std::string> m = libtest::splitWords(out[3 * i + 2]);
            int st = 0;
            std::vector<std::string> all = iterateAll(c.s, c.p, enc, &st);
            if (m[1] == "err") {
                EXPECT_EQ(st, codeOfLuaMessage(out[3 * i + 2])) << out[3 * i + 2];
            } else {
                EXPECT_EQ(st, 0);
                ASSERT_EQ(all.size(), std::stoul(m[1]));
                for (size_t k = 0; k < all.size(); k++) EXPECT_EQ(all[k], m[k + 2]);
            }
            compared++;
        }
    }
    EXPECT_EQ(compared, static_cast<int>(cases.size() * 2));
    EXPECT_GT(found, static_cast<int>(cases.size() / 2)) << "too few patterns match for a useful comparison";
}

TEST_F(PatternTest, DocumentedCases) {
    libtest::Result r = call("PatternFindStrDirect", {"hello world", "o"});
    EXPECT_EQ(r.v.size(), 2u);
    EXPECT_EQ(r.num(0), 4);
    EXPECT_EQ(r.num(1), 4);
    r = call("PatternFindStrDirect", {"hello world", "o", 5});
    EXPECT_EQ(r.num(0), 7);
    EXPECT_EQ(r.num(1), 7);
    r = call("PatternFindStrDirect", {"hello world", "xyz"});
    EXPECT_EQ(r.v.size(), 1u);
    EXPECT_EQ(r.num(0), -1);
    r = call("PatternFindStrShort", {"hello world", "(%a+) (%a+)"});
    EXPECT_EQ(r.str(0), "hello");
    EXPECT_EQ(r.str(1), "world");
    r = call("PatternFindStrShort", {"hello world", "o w"});
    EXPECT_EQ(r.str(0), "o w");
    r = call("PatternReplaceStr", {"hello world", "o", "0"});
    EXPECT_EQ(r.str(0), "hell0 w0rld");
    EXPECT_EQ(r.num(1), 2);
    r = call("PatternReplaceStr", {"hello world", "o", "0", 1});
    EXPECT_EQ(r.str(0), "hell0 world");
    EXPECT_EQ(r.num(1), 1);
    r = call("PatternReplaceStr", {"a1b2", "%d", 7});
    EXPECT_EQ(r.str(0), "a7b7");
    EXPECT_EQ(status("PatternFindStrDirect", {"abc", "b", -1}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("PatternFindStrDirect", {"abc", "b", 4}), ERR_WRONGUSAGE);
    EXPECT_EQ(num("PatternFindStrDirect", {"abc", "$", 3}), 3);
    EXPECT_EQ(status("PatternFindStr", {libtest::list({}), "b"}), ERR_STREXPECTED);
    EXPECT_EQ(status("PatternReplaceStr", {"abc", "b", Nil{}}), ERR_WRONGUSAGE);
}

TEST_F(PatternTest, MalformedPatterns) {
    EXPECT_EQ(status("PatternFindStrDirect", {"abc", "a%"}), ERR_MALFORMPAT1);
    EXPECT_EQ(status("PatternFindStrDirect", {"abc", "[ab"}), ERR_MALFORMPAT2);
    EXPECT_EQ(status("PatternFindStrDirect", {"abc", "[%"}), ERR_MALFORMPAT2);
    EXPECT_EQ(status("PatternFindStrDirect", {"abc", "%b("}), ERR_UNBALANCEDPAT);
    EXPECT_EQ(status("PatternFindStrDirect", {"abc", std::string(33, '(') + "a" + std::string(33, ')')}),
              ERR_TOOMANYCAPTURES);
    EXPECT_EQ(status("PatternFindStrDirect", {"abc", "%fa"}), ERR_MISSINGOPBRACK);
    EXPECT_EQ(status("PatternFindStrDirect", {"abc", "(a)%0"}), ERR_INVCAPIDX);
    EXPECT_EQ(status("PatternFindStrDirect", {"abc", "a)"}), ERR_INVPATCAP);
    EXPECT_EQ(status("PatternFindStrShort", {"abc", "(a"}), ERR_UNFINISHEDCAPTURE);
    EXPECT_EQ(status("PatternReplaceStr", {"abc", "b", "%x"}), ERR_ESCREPLACE);
    EXPECT_EQ(status("PatternReplaceStr", {"abc", "b", "x%"}), ERR_ESCREPLACE);
    EXPECT_EQ(status("PatternReplaceStr", {"abc", "b", "%2"}), ERR_INVCAPIDX);
}

TEST_F(PatternTest, DepthLimit) {
    // Each optional item nests one matcher call: 300 of them exceed the limit.
    std::string s(300, 'a'), p;
    for (int i = 0; i < 300; i++) p += "a?";
    EXPECT_EQ(status("PatternFindStrDirect", {s, p}), ERR_COMPLEXPATTERN);
    EXPECT_EQ(status("PatternReplaceStr", {s, p, "x"}), ERR_COMPLEXPATTERN);
    // Long runs without nesting are fine.
    std::string big(200000, 'a');
    libtest::Result r = call("PatternFindStrDirect", {big + "b", "a*b"});
    EXPECT_EQ(r.num(0), 0);
    EXPECT_EQ(r.num(1), 200000);
    r = call("PatternReplaceStr", {big, ".-", "x"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.num(1), 200001);
}

TEST_F(PatternTest, Utf8Mode) {
    const std::string ae = "\xC3\xA4", euro = "\xE2\x82\xAC";
    // "." takes a whole character; positions count characters.
    libtest::Result r = call("PatternFindStrDirect", {ae + euro + "x", ".x", 0, 1});
    EXPECT_EQ(r.num(0), 1);
    EXPECT_EQ(r.num(1), 2);
    r = call("PatternFindStrDirect", {ae + euro + "x", ".x", 0, 0});
    EXPECT_EQ(r.num(0), 4);
    EXPECT_EQ(r.num(1), 5);
    r = call("PatternFindStrDirect", {"a" + ae + euro + "b", euro + "b", 1, 1});
    EXPECT_EQ(r.num(0), 2);
    EXPECT_EQ(r.num(1), 3);
    // A set range compares code points.
    EXPECT_EQ(str("PatternFindStrShort", {"x" + euro + "y", "[\xE2\x82\xA0-\xE2\x82\xAF]", 0, 1}), euro);
    EXPECT_EQ(num("PatternFindStrShort", {"x" + ae + "y", "[^%a]", 0, 1}), -1);
    EXPECT_EQ(str("PatternFindStrShort", {"1" + ae + ae + "2", "%a+", 0, 1}), ae + ae);
    // Greedy runs give back whole characters.
    EXPECT_EQ(str("PatternFindStrShort", {ae + ae + ae, "(.*)" + ae, 0, 1}), ae + ae);
    EXPECT_EQ(str("PatternFindStrShort", {ae + euro + ae, "%b" + ae + ae, 0, 1}), ae + euro + ae);
    // Position captures count characters from 1.
    r = call("PatternFindStrShort", {ae + euro + "x", "()x()", 0, 1});
    EXPECT_EQ(r.num(0), 3);
    EXPECT_EQ(r.num(1), 4);
    r = call("PatternReplaceStr", {ae + "b" + euro, ".", "<%0>", 10, 1});
    EXPECT_EQ(r.str(0), "<" + ae + "><b><" + euro + ">");
    // Empty matches step over whole characters.
    r = call("PatternReplaceStr", {ae + euro, "x*", "-", 10, 1});
    EXPECT_EQ(r.str(0), "-" + ae + "-" + euro + "-");
    int st;
    std::vector<std::string> all = iterateAll(ae + euro, "x*", 1, &st);
    EXPECT_EQ(all.size(), 3u);
    // Searches skip bytes that cannot begin a match, whole characters only.
    r = call("PatternFindStrDirect", {ae + euro + "x1", "%d", 0, 1});
    EXPECT_EQ(r.num(0), 3);
    EXPECT_EQ(r.num(1), 3);
    EXPECT_EQ(str("PatternFindStrShort", {"1" + ae + "b2", "[%a]+", 0, 1}), ae + "b");
    r = call("PatternReplaceStr", {ae + "1" + euro + "22", "%d+", "<%0>", 10, 1});
    EXPECT_EQ(r.str(0), ae + "<1>" + euro + "<22>");
    EXPECT_EQ(r.num(1), 2);
    all = iterateAll(ae + "1" + euro + "2", "%d", 1, &st);
    EXPECT_EQ(all.size(), 2u);
    EXPECT_EQ(status("PatternFindStrDirect", {"a\xC3(", "a", 0, 1}), ERR_INVALIDUTF8ARG);
    // Broken text in the commands that read plain strings stays safe.
    r = call("PatternReplaceStr", {"a\xE2\x82", ".", "<%0>", 10, 1});
    EXPECT_EQ(r.status, 0);
}

TEST_F(PatternTest, ReplacementValues) {
    auto table = std::function<void(lua_State *)>([](lua_State *S) {
        lua_newtable(S);
        lua_pushliteral(S, "a");
        lua_pushliteral(S, "A");
        lua_settable(S, -3);
        lua_pushliteral(S, "b");
        lua_pushboolean(S, 0);
        lua_settable(S, -3);
        lua_pushliteral(S, "c");
        lua_newtable(S);
        lua_settable(S, -3);
    });
    libtest::Result r = call("PatternReplaceStr", {"abx", "%a", table});
    EXPECT_EQ(r.str(0), "Abx");
    EXPECT_EQ(r.num(1), 3);
    EXPECT_EQ(status("PatternReplaceStr", {"abcx", "%a", table}), ERR_INVREPLACE);
    auto fn = std::function<void(lua_State *)>([](lua_State *S) {
        lua_pushcfunction(S, [](lua_State *T) -> int {
            std::string s = lua_tostring(T, 1);
            if (s == "k") return 0;
            lua_pushnumber(T, static_cast<double>(s.size()) + 10 * lua_gettop(T));
            return 1;
        });
    });
    r = call("PatternReplaceStr", {"ab k ccc", "%a+", fn});
    EXPECT_EQ(r.str(0), "12 k 13");
    r = call("PatternReplaceStr", {"k=v, x=y", "(%w+)=(%w+)", fn});
    EXPECT_EQ(r.str(0), "k=v, 21"); // no result keeps the match
}

} // namespace
