// String commands: searching, comparing, replacing, cutting, joining,
// splitting and case mapping.
#include <cctype>
#include <cstring>
#include <string>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "libs/qx_strlib.h"
#include "platform/qx_memory.h"
#include "platform/qx_text.h"

namespace {

// Substring search in either mode, case-sensitive or not.
struct Searcher {
    std::string_view s, sub;
    bool cs;
    int utf8;
    std::string ls, lsub; // lower-cased copies for byte mode

    Searcher(std::string_view s_, std::string_view sub_, bool cs_, int utf8_)
        : s(s_), sub(sub_), cs(cs_), utf8(utf8_) {
        if (!cs && !utf8) {
            ls.resize(s.size());
            lsub.resize(sub.size());
            for (size_t i = 0; i < s.size(); i++)
                ls[i] = static_cast<char>(qxToLowerLatin1(static_cast<unsigned char>(s[i])));
            for (size_t i = 0; i < sub.size(); i++)
                lsub[i] = static_cast<char>(qxToLowerLatin1(static_cast<unsigned char>(sub[i])));
        }
    }

    // Case-insensitive UTF-8 comparison of sub at byte i; the bytes of s consumed.
    size_t matchAt(size_t i) const {
        size_t a = i, b = 0;
        while (b < sub.size()) {
            if (a >= s.size()) return std::string_view::npos;
            uint32_t x = qxStrNextChar(s, &a, 1), y = qxStrNextChar(sub, &b, 1);
            if (x != y && qxUniToLower(x) != qxUniToLower(y)) return std::string_view::npos;
        }
        return a - i;
    }

    // Byte offset of the first hit at or after from, npos when none.
    size_t find(size_t from, size_t *len) const {
        if (sub.empty() || from >= s.size()) return std::string_view::npos;
        if (cs || !utf8) {
            std::string_view h = cs ? s : std::string_view(ls), n = cs ? sub : std::string_view(lsub);
            size_t p = h.find(n, from);
            *len = sub.size();
            return p;
        }
        for (size_t i = from; i < s.size(); i += qxStrCharLen(s, i, 1)) {
            size_t m = matchAt(i);
            if (m != std::string_view::npos) {
                *len = m;
                return i;
            }
        }
        return std::string_view::npos;
    }
};

bool truth(lua_State *L, int idx, bool def) {
    if (lua_type(L, idx) == LUA_TNONE) return def;
    return luaL_checknumber(L, idx) != 0;
}

// Compares a's characters with b's from their starts (b wholly), case-folded or not.
bool prefixMatches(std::string_view a, std::string_view b, bool cs, int utf8) {
    if (cs) return a.substr(0, b.size()) == b;
    size_t i = 0, j = 0;
    while (j < b.size()) {
        if (i >= a.size()) return false;
        uint32_t x = qxStrNextChar(a, &i, utf8), y = qxStrNextChar(b, &j, utf8);
        if (x != y && qxStrLowerChar(x, utf8) != qxStrLowerChar(y, utf8)) return false;
    }
    return true;
}

int pushView(lua_State *L, std::string_view v) {
    lua_pushlstring(L, v.data(), v.size());
    return 1;
}

} // namespace

int qxCmdFindStr(lua_State *L)
{
    qxCheckArgCount(L, 2, 5, 0, 0);
    int utf8 = qxStrEncArg(L, 5);
    size_t len;
    std::string_view s = qxStrArg(L, 1, utf8, &len), sub = qxStrArg(L, 2, utf8);
    bool cs = truth(L, 3, true);
    int start = qxStrOptIntArg(L, 4, 0);
    if (start < 0) return ERR_WRONGUSAGE;
    size_t m;
    size_t hit = static_cast<size_t>(start) < len
                     ? Searcher(s, sub, cs, utf8).find(qxStrCharToByte(s, static_cast<size_t>(start), utf8), &m)
                     : std::string_view::npos;
    lua_pushnumber(L, hit == std::string_view::npos ? -1.0 : static_cast<double>(qxStrByteToChar(s, hit, utf8)));
    return 1;
}

int qxCmdCountStr(lua_State *L)
{
    qxCheckArgCount(L, 2, 5, 0, 0);
    int utf8 = qxStrEncArg(L, 5);
    size_t len;
    std::string_view s = qxStrArg(L, 1, utf8, &len), sub = qxStrArg(L, 2, utf8);
    bool cs = truth(L, 3, true);
    int start = qxStrOptIntArg(L, 4, 0);
    if (start < 0) return ERR_WRONGUSAGE;
    double count = 0;
    if (static_cast<size_t>(start) < len) {
        Searcher sr(s, sub, cs, utf8);
        size_t pos = qxStrCharToByte(s, static_cast<size_t>(start), utf8), m;
        while ((pos = sr.find(pos, &m)) != std::string_view::npos) {
            count++;
            pos += m;
        }
    }
    lua_pushnumber(L, count);
    return 1;
}

int qxCmdReplaceStr(lua_State *L)
{
    qxCheckArgCount(L, 3, 6, 0, 0);
    int utf8 = qxStrEncArg(L, 6);
    std::string_view s = qxStrArg(L, 1, utf8), search = qxStrArg(L, 2, utf8), repl = qxStrArg(L, 3, utf8);
    bool cs = truth(L, 4, true);
    int start = qxStrOptIntArg(L, 5, 0);
    if (start < 0) return ERR_WRONGUSAGE;
    size_t pos = qxStrCharToByte(s, static_cast<size_t>(start), utf8);
    if (search.empty() || pos >= s.size()) return pushView(L, s);
    Searcher sr(s, search, cs, utf8);
    std::string out(s.substr(0, pos));
    size_t m, hit;
    while ((hit = sr.find(pos, &m)) != std::string_view::npos) {
        out.append(s.substr(pos, hit - pos));
        out.append(repl);
        if (out.size() > QX_STR_MAX) return ERR_MEM;
        pos = hit + m;
    }
    out.append(s.substr(pos));
    int r = qxStrPush(L, out);
    return r ? r : 1;
}

int qxCmdStartsWith(lua_State *L)
{
    qxCheckArgCount(L, 2, 4, 0, 0);
    int utf8 = qxStrEncArg(L, 4);
    size_t ls, lp;
    std::string_view s = qxStrArg(L, 1, utf8, &ls), p = qxStrArg(L, 2, utf8, &lp);
    bool cs = truth(L, 3, true);
    lua_pushnumber(L, (!p.empty() && lp <= ls && prefixMatches(s, p, cs, utf8)) ? 1 : 0);
    return 1;
}

int qxCmdEndsWith(lua_State *L)
{
    qxCheckArgCount(L, 2, 4, 0, 0);
    int utf8 = qxStrEncArg(L, 4);
    size_t ls, lp;
    std::string_view s = qxStrArg(L, 1, utf8, &ls), p = qxStrArg(L, 2, utf8, &lp);
    bool cs = truth(L, 3, true);
    int r = 0;
    if (!p.empty() && lp <= ls) {
        if (cs) r = p.size() <= s.size() && s.substr(s.size() - p.size()) == p;
        else r = prefixMatches(s.substr(qxStrCharToByte(s, ls - lp, utf8)), p, false, utf8);
    }
    lua_pushnumber(L, r);
    return 1;
}

int qxCmdCompareStr(lua_State *L)
{
    qxCheckArgCount(L, 2, 4, 0, 0);
    int utf8 = qxStrEncArg(L, 4);
    std::string_view a = qxStrArg(L, 1, utf8), b = qxStrArg(L, 2, utf8);
    bool cs = truth(L, 3, true);
    lua_pushnumber(L, qxStrCompare(a.data(), b.data(), cs ? 1 : 0));
    return 1;
}

int qxCmdLeftStr(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    int utf8 = qxStrEncArg(L, 3);
    std::string_view s = qxStrArg(L, 1, utf8);
    int n = qxStrIntArg(L, 2);
    if (n < 1) return pushView(L, "");
    return pushView(L, s.substr(0, qxStrCharToByte(s, static_cast<size_t>(n), utf8)));
}

int qxCmdRightStr(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    int utf8 = qxStrEncArg(L, 3);
    size_t len;
    std::string_view s = qxStrArg(L, 1, utf8, &len);
    int n = qxStrIntArg(L, 2);
    if (n < 1) return pushView(L, "");
    size_t skip = static_cast<size_t>(n) >= len ? 0 : len - static_cast<size_t>(n);
    return pushView(L, s.substr(qxStrCharToByte(s, skip, utf8)));
}

int qxCmdMidStr(lua_State *L)
{
    qxCheckArgCount(L, 2, 4, 0, 0);
    int utf8 = qxStrEncArg(L, 4);
    size_t len;
    std::string_view s = qxStrArg(L, 1, utf8, &len);
    int pos = qxStrIntArg(L, 2);
    int n = qxStrOptIntArg(L, 3, -1);
    if (pos < 0) pos = 0; // nothing before the string's start is read
    if ((n <= 0 && n != -1) || static_cast<size_t>(pos) >= len) return pushView(L, "");
    size_t from = qxStrCharToByte(s, static_cast<size_t>(pos), utf8);
    std::string_view rest = s.substr(from);
    if (n == -1) return pushView(L, rest);
    return pushView(L, rest.substr(0, qxStrCharToByte(rest, static_cast<size_t>(n), utf8)));
}

int qxCmdUnleftStr(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    int utf8 = qxStrEncArg(L, 3);
    size_t len;
    std::string_view s = qxStrArg(L, 1, utf8, &len);
    int n = qxStrIntArg(L, 2);
    if (n < 0) return ERR_WRONGUSAGE;
    size_t keep = static_cast<size_t>(n) >= len ? 0 : len - static_cast<size_t>(n);
    return pushView(L, s.substr(0, qxStrCharToByte(s, keep, utf8)));
}

int qxCmdUnrightStr(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    int utf8 = qxStrEncArg(L, 3);
    std::string_view s = qxStrArg(L, 1, utf8);
    int n = qxStrIntArg(L, 2);
    if (n < 0) return ERR_WRONGUSAGE;
    return pushView(L, s.substr(qxStrCharToByte(s, static_cast<size_t>(n), utf8)));
}

int qxCmdUnmidStr(lua_State *L)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    int utf8 = qxStrEncArg(L, 4);
    std::string_view s = qxStrArg(L, 1, utf8);
    int pos = qxStrIntArg(L, 2), n = qxStrIntArg(L, 3);
    if (pos < 0 || n < 0) return ERR_WRONGUSAGE;
    size_t from = qxStrCharToByte(s, static_cast<size_t>(pos), utf8);
    size_t to = from + qxStrCharToByte(s.substr(from), static_cast<size_t>(n), utf8);
    std::string out(s.substr(0, from));
    out.append(s.substr(to));
    return pushView(L, out);
}

int qxCmdInsertStr(lua_State *L)
{
    qxCheckArgCount(L, 3, 5, 0, 0);
    int utf8 = qxStrEncArg(L, 5);
    size_t insChars;
    std::string_view s = qxStrArg(L, 1, utf8), ins = qxStrArg(L, 2, utf8, &insChars);
    int pos = qxStrIntArg(L, 3);
    bool overwrite = truth(L, 4, false);
    if (pos < 0) return ERR_WRONGUSAGE;
    if (s.empty()) return pushView(L, ins);
    if (ins.empty()) return pushView(L, s);
    size_t at = qxStrCharToByte(s, static_cast<size_t>(pos), utf8);
    size_t after = at;
    if (overwrite) after = at + qxStrCharToByte(s.substr(at), insChars, utf8);
    std::string out(s.substr(0, at));
    out.append(ins);
    out.append(s.substr(after));
    int r = qxStrPush(L, out);
    return r ? r : 1;
}

int qxCmdAddStr(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    size_t la, lb;
    const char *a = luaL_checklstring(L, 1, &la);
    const char *b = luaL_checklstring(L, 2, &lb);
    if (la + lb > QX_STR_MAX) return ERR_MEM;
    std::string out(a, la);
    out.append(b, lb);
    return pushView(L, out);
}

int qxCmdRepeatStr(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    size_t len;
    const char *s = luaL_checklstring(L, 1, &len);
    int n = qxStrIntArg(L, 2);
    if (n < 0) return ERR_WRONGUSAGE;
    if (len == 0) return pushView(L, ""); // no count of nothing takes time
    size_t total;
    if (!qxMulSize(len, static_cast<size_t>(n), &total) || total > QX_STR_MAX) return ERR_MEM;
    std::string out;
    out.reserve(total);
    for (int i = 0; i < n; i++) out.append(s, len);
    return pushView(L, out);
}

int qxCmdReverseStr(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    int utf8 = qxStrEncArg(L, 2);
    std::string_view s = qxStrArg(L, 1, utf8);
    std::string out;
    out.reserve(s.size());
    size_t end = s.size();
    while (end > 0) {
        size_t begin = utf8 ? static_cast<size_t>(qxUtf8Prev(s.data(), s.data() + end) - s.data()) : end - 1;
        out.append(s.substr(begin, end - begin));
        end = begin;
    }
    return pushView(L, out);
}

int qxCmdTrimStr(lua_State *L)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    int utf8 = qxStrEncArg(L, 4);
    size_t cl;
    std::string_view s = qxStrArg(L, 1, utf8), c = qxStrArg(L, 2, utf8, &cl);
    bool end = luaL_checknumber(L, 3) != 0;
    if (cl != 1) return ERR_WRONGUSAGE;
    size_t from = 0, to = s.size();
    if (!end) {
        while (s.size() - from >= c.size() && s.compare(from, c.size(), c) == 0) from += c.size();
    } else {
        while (to - from >= c.size() && s.compare(to - c.size(), c.size(), c) == 0) to -= c.size();
    }
    return pushView(L, s.substr(from, to - from));
}

int qxCmdStripStr(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    size_t len;
    const char *s = luaL_checklstring(L, 1, &len);
    size_t from = 0, to = len;
    while (from < to && isspace(static_cast<unsigned char>(s[from]))) from++;
    while (to > from && isspace(static_cast<unsigned char>(s[to - 1]))) to--;
    return pushView(L, std::string_view(s + from, to - from));
}

int qxCmdEmptyStr(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    size_t len;
    const char *s = luaL_checklstring(L, 1, &len);
    int empty = 1;
    for (size_t i = 0; i < len && empty; i++)
        if (!isspace(static_cast<unsigned char>(s[i]))) empty = 0;
    lua_pushnumber(L, empty);
    return 1;
}

int qxCmdSplitStr(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    size_t ls, lsep;
    const char *sp = luaL_checklstring(L, 1, &ls);
    const char *sepp = luaL_checklstring(L, 2, &lsep);
    bool collapse = truth(L, 3, false);
    if (lsep == 0) return ERR_WRONGUSAGE;
    std::string_view s(sp, ls), sep(sepp, lsep);
    lua_newtable(L);
    int n = 0;
    size_t pos = 0;
    for (;;) {
        size_t hit = s.find(sep, pos);
        if (hit == std::string_view::npos) break;
        lua_pushlstring(L, s.data() + pos, hit - pos);
        lua_rawseti(L, -2, n++);
        pos = hit + sep.size();
        if (collapse)
            while (s.compare(pos, sep.size(), sep) == 0 && pos < s.size()) pos += sep.size();
    }
    lua_pushlstring(L, s.data() + pos, s.size() - pos);
    lua_rawseti(L, -2, n++);
    lua_pushnumber(L, n);
    return 2;
}

namespace {
int mapCase(lua_State *L, bool upper) {
    qxCheckArgCount(L, 1, 2, 0, 0);
    int utf8 = qxStrEncArg(L, 2);
    std::string_view s = qxStrArg(L, 1, utf8);
    std::string out;
    out.reserve(s.size());
    if (!utf8) {
        for (char ch : s) {
            uint32_t c = static_cast<unsigned char>(ch);
            out.push_back(static_cast<char>(upper ? qxToUpperLatin1(c) : qxToLowerLatin1(c)));
        }
    } else {
        for (size_t i = 0; i < s.size();) {
            uint32_t c = qxStrNextChar(s, &i, 1);
            if (!qxStrPutChar(out, upper ? qxUniToUpper(c) : qxUniToLower(c), 1)) out.push_back('\0');
        }
    }
    return pushView(L, out);
}
} // namespace

int qxCmdLowerStr(lua_State *L) { return mapCase(L, false); }
int qxCmdUpperStr(lua_State *L) { return mapCase(L, true); }

int qxCmdConvertStr(lua_State *L)
{
    qxCheckArgCount(L, 3, 3, 0, 0);
    size_t len;
    const char *s = luaL_checklstring(L, 1, &len);
    int from = qxStrIntArg(L, 2), to = qxStrIntArg(L, 3);
    if (from == to) return pushView(L, std::string_view(s, len));
    char *c = qxConvertText(s, from, to);
    if (!c) return ERR_TEXTCONVERT;
    lua_pushstring(L, c);
    qxFree(c);
    return 1;
}
