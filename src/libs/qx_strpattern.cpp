// The pattern matcher of the string library and its four commands. The
// matcher backtracks over bytes, or over UTF-8 characters in UTF-8 mode;
// its nesting is bounded so that no pattern can exhaust the stack.
#include <cctype>
#include <cstring>
#include <string>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"
#include "libs/qx_strlib.h"
#include "platform/qx_text.h"

namespace {

constexpr int MAXCAPTURES = 32;
constexpr unsigned MAXDEPTH = 200;
constexpr long CAP_UNFINISHED = -1;
constexpr long CAP_POSITION = -2;

struct MatchState {
    unsigned depth;
    const char *srcInit, *srcEnd, *pEnd;
    lua_State *L;
    int level;
    struct {
        const char *init;
        long len;
    } capture[MAXCAPTURES];
    int utf8;
    const uint16_t *classes; // byteClasses()
};

[[noreturn]] void raise(MatchState *ms, int code) { luaG_raisecode(ms->L, code); }

// One character at p before end: its code and byte length.
inline uint32_t decode(const MatchState *ms, const char *p, const char *end, size_t *len) {
    unsigned char b = static_cast<unsigned char>(*p);
    if (!ms->utf8 || b < 0x80) {
        *len = 1;
        return b;
    }
    uint32_t c;
    *len = static_cast<size_t>(qxUtf8DecodeN(p, end, &c));
    return c;
}

inline size_t charLen(const MatchState *ms, const char *p, const char *end) {
    size_t n;
    decode(ms, p, end, &n);
    return n;
}

// Byte-mode classes of every byte, one bit per class letter, taken once:
// the locale and the text mode do not change while scripts run.
const uint16_t *byteClasses() {
    static const auto table = [] {
        static uint16_t t[256];
        const QxCharClass classes[] = {QX_CC_ALPHA, QX_CC_CNTRL, QX_CC_DIGIT, QX_CC_GRAPH, QX_CC_LOWER,
                                       QX_CC_PUNCT, QX_CC_SPACE, QX_CC_UPPER, QX_CC_ALNUM, QX_CC_XDIGIT};
        for (int b = 0; b < 256; b++)
            for (int k = 0; k < 10; k++)
                if (qxStrClassTest(classes[k], static_cast<uint32_t>(b), 0)) t[b] |= static_cast<uint16_t>(1 << k);
        return t;
    }();
    return table;
}

// The bit of a class letter in byteClasses(), -1 for none.
inline int classBit(uint32_t lower) {
    switch (lower) {
    case 'a': return 0;
    case 'c': return 1;
    case 'd': return 2;
    case 'g': return 3;
    case 'l': return 4;
    case 'p': return 5;
    case 's': return 6;
    case 'u': return 7;
    case 'w': return 8;
    case 'x': return 9;
    default: return -1;
    }
}

// The class tests of the Unicode mode, %z and literal characters.
bool matchClassSlow(const MatchState *ms, uint32_t c, uint32_t cl) {
    int res;
    uint32_t lower = (cl >= 'A' && cl <= 'Z') ? cl | 0x20 : cl;
    switch (lower) {
    case 'a': res = qxStrClassTest(QX_CC_ALPHA, c, ms->utf8); break;
    case 'c': res = qxStrClassTest(QX_CC_CNTRL, c, ms->utf8); break;
    case 'd': res = qxStrClassTest(QX_CC_DIGIT, c, ms->utf8); break;
    case 'g': res = qxStrClassTest(QX_CC_GRAPH, c, ms->utf8); break;
    case 'l': res = qxStrClassTest(QX_CC_LOWER, c, ms->utf8); break;
    case 'p': res = qxStrClassTest(QX_CC_PUNCT, c, ms->utf8); break;
    case 's': res = qxStrClassTest(QX_CC_SPACE, c, ms->utf8); break;
    case 'u': res = qxStrClassTest(QX_CC_UPPER, c, ms->utf8); break;
    case 'w': res = qxStrClassTest(QX_CC_ALNUM, c, ms->utf8); break;
    case 'x': res = qxStrClassTest(QX_CC_XDIGIT, c, ms->utf8); break;
    case 'z': res = (c == 0); break;
    default: return cl == c;
    }
    if (cl >= 'A' && cl <= 'Z') return !res;
    return res != 0;
}

// Byte mode reads the classes from the table; the rest goes the slow way.
inline bool matchClass(const MatchState *ms, uint32_t c, uint32_t cl) {
    if (!ms->utf8) {
        bool upper = cl >= 'A' && cl <= 'Z';
        int bit = classBit(upper ? cl | 0x20 : cl);
        if (bit >= 0) {
            bool res = c < 256 && (ms->classes[c] >> bit) & 1;
            return upper ? !res : res;
        }
    }
    return matchClassSlow(ms, c, cl);
}

// p at "[", ec at the closing "]".
bool matchBracket(const MatchState *ms, uint32_t c, const char *p, const char *ec) {
    bool sig = true;
    p++;
    if (*p == '^') {
        sig = false;
        p++;
    }
    size_t n, m;
    while (p < ec) {
        if (*p == '%') {
            p++;
            uint32_t cl = decode(ms, p, ms->pEnd, &n);
            if (matchClass(ms, c, cl)) return sig;
            p += n;
        } else {
            uint32_t lo = decode(ms, p, ms->pEnd, &n);
            const char *q = p + n;
            if (q < ec && *q == '-' && q + 1 < ec) {
                uint32_t hi = decode(ms, q + 1, ms->pEnd, &m);
                if (lo <= c && c <= hi) return sig;
                p = q + 1 + m;
            } else {
                if (lo == c) return sig;
                p = q;
            }
        }
    }
    return !sig;
}

// End of the single item at p.
const char *classEnd(MatchState *ms, const char *p) {
    if (*p == '%') {
        p++;
        if (p >= ms->pEnd) raise(ms, ERR_MALFORMPAT1);
        return p + charLen(ms, p, ms->pEnd);
    }
    if (*p == '[') {
        p++;
        if (p < ms->pEnd && *p == '^') p++;
        do {
            if (p >= ms->pEnd) raise(ms, ERR_MALFORMPAT2);
            char c = *p;
            p += charLen(ms, p, ms->pEnd);
            if (c == '%') {
                if (p >= ms->pEnd) raise(ms, ERR_MALFORMPAT2);
                p += charLen(ms, p, ms->pEnd);
            }
        } while (p >= ms->pEnd || *p != ']');
        return p + 1;
    }
    return p + charLen(ms, p, ms->pEnd);
}

// Whether the subject character at s (before the end) matches the item p..ep; its length in *len.
bool singleMatch(const MatchState *ms, const char *s, const char *p, const char *ep, size_t *len) {
    if (s >= ms->srcEnd) return false;
    uint32_t c = decode(ms, s, ms->srcEnd, len);
    size_t n;
    switch (*p) {
    case '.': return true;
    case '%': return matchClass(ms, c, decode(ms, p + 1, ms->pEnd, &n));
    case '[': return matchBracket(ms, c, p, ep - 1);
    default: return decode(ms, p, ms->pEnd, &n) == c;
    }
}

const char *doMatch(MatchState *ms, const char *s, const char *p);

struct DepthGuard {
    MatchState *ms;
    explicit DepthGuard(MatchState *m) : ms(m) {
        if (ms->depth == 0) raise(ms, ERR_COMPLEXPATTERN);
        ms->depth--;
    }
    ~DepthGuard() { ms->depth++; }
};

const char *matchBalance(MatchState *ms, const char *s, const char *p, size_t *plen) {
    if (p >= ms->pEnd) raise(ms, ERR_UNBALANCEDPAT);
    size_t nx, ny;
    uint32_t x = decode(ms, p, ms->pEnd, &nx);
    if (p + nx >= ms->pEnd) raise(ms, ERR_UNBALANCEDPAT);
    uint32_t y = decode(ms, p + nx, ms->pEnd, &ny);
    *plen = nx + ny;
    size_t n;
    if (s >= ms->srcEnd || decode(ms, s, ms->srcEnd, &n) != x) return nullptr;
    int count = 1;
    s += n;
    while (s < ms->srcEnd) {
        uint32_t c = decode(ms, s, ms->srcEnd, &n);
        s += n;
        if (c == y) {
            if (--count == 0) return s;
        } else if (c == x) {
            count++;
        }
    }
    return nullptr;
}

const char *maxExpand(MatchState *ms, const char *s, const char *p, const char *ep) {
    const char *q = s;
    size_t n;
    while (singleMatch(ms, q, p, ep, &n)) q += n;
    // Try the longest run first, giving back one character at a time.
    for (;;) {
        const char *res = doMatch(ms, q, ep + 1);
        if (res) return res;
        if (q == s) return nullptr;
        q = ms->utf8 ? qxUtf8Prev(s, q) : q - 1;
    }
}

const char *minExpand(MatchState *ms, const char *s, const char *p, const char *ep) {
    size_t n;
    for (;;) {
        const char *res = doMatch(ms, s, ep + 1);
        if (res) return res;
        if (!singleMatch(ms, s, p, ep, &n)) return nullptr;
        s += n;
    }
}

const char *startCapture(MatchState *ms, const char *s, const char *p, long what) {
    if (ms->level >= MAXCAPTURES) raise(ms, ERR_TOOMANYCAPTURES);
    ms->capture[ms->level].init = s;
    ms->capture[ms->level].len = what;
    ms->level++;
    const char *res = doMatch(ms, s, p);
    if (!res) ms->level--;
    return res;
}

const char *endCapture(MatchState *ms, const char *s, const char *p) {
    int l = -1;
    for (int i = ms->level - 1; i >= 0; i--)
        if (ms->capture[i].len == CAP_UNFINISHED) {
            l = i;
            break;
        }
    if (l < 0) raise(ms, ERR_INVPATCAP);
    ms->capture[l].len = s - ms->capture[l].init;
    const char *res = doMatch(ms, s, p);
    if (!res) ms->capture[l].len = CAP_UNFINISHED;
    return res;
}

const char *matchCapture(MatchState *ms, const char *s, int digit) {
    int l = digit - '1';
    if (l < 0 || l >= ms->level || ms->capture[l].len == CAP_UNFINISHED) raise(ms, ERR_INVCAPIDX);
    long len = ms->capture[l].len;
    if (len < 0) return nullptr; // a position capture holds no text
    if (ms->srcEnd - s >= len && std::memcmp(ms->capture[l].init, s, static_cast<size_t>(len)) == 0)
        return s + len;
    return nullptr;
}

const char *doMatch(MatchState *ms, const char *s, const char *p) {
    DepthGuard guard(ms);
    size_t n;
    for (;;) {
        if (p >= ms->pEnd) return s;
        switch (*p) {
        case '(':
            if (p + 1 < ms->pEnd && p[1] == ')') return startCapture(ms, s, p + 2, CAP_POSITION);
            return startCapture(ms, s, p + 1, CAP_UNFINISHED);
        case ')':
            return endCapture(ms, s, p + 1);
        case '$':
            if (p + 1 == ms->pEnd) return s == ms->srcEnd ? s : nullptr;
            break;
        case '%':
            if (p + 1 >= ms->pEnd) break; // classEnd reports it
            if (p[1] == 'b') {
                size_t plen;
                s = matchBalance(ms, s, p + 2, &plen);
                if (!s) return nullptr;
                p += 2 + plen;
                continue;
            }
            if (p[1] == 'f') {
                p += 2;
                if (p >= ms->pEnd || *p != '[') raise(ms, ERR_MISSINGOPBRACK);
                const char *ep = classEnd(ms, p);
                uint32_t prev = 0, cur = 0;
                if (s > ms->srcInit) {
                    const char *q = ms->utf8 ? qxUtf8Prev(ms->srcInit, s) : s - 1;
                    prev = decode(ms, q, ms->srcEnd, &n);
                }
                if (s < ms->srcEnd) cur = decode(ms, s, ms->srcEnd, &n);
                if (matchBracket(ms, prev, p, ep - 1) || !matchBracket(ms, cur, p, ep - 1)) return nullptr;
                p = ep;
                continue;
            }
            if (isdigit(static_cast<unsigned char>(p[1]))) {
                s = matchCapture(ms, s, p[1]);
                if (!s) return nullptr;
                p += 2;
                continue;
            }
            break;
        default:
            break;
        }
        const char *ep = classEnd(ms, p);
        bool m = singleMatch(ms, s, p, ep, &n);
        char q = ep < ms->pEnd ? *ep : '\0';
        switch (q) {
        case '?':
            if (m) {
                const char *res = doMatch(ms, s + n, ep + 1);
                if (res) return res;
            }
            p = ep + 1;
            continue;
        case '*':
            return maxExpand(ms, s, p, ep);
        case '+':
            return m ? maxExpand(ms, s + n, p, ep) : nullptr;
        case '-':
            return minExpand(ms, s, p, ep);
        default:
            if (!m) return nullptr;
            s += n;
            p = ep;
            continue;
        }
    }
}

void initState(MatchState *ms, lua_State *L, std::string_view s, std::string_view p, int utf8) {
    ms->depth = MAXDEPTH;
    ms->srcInit = s.data();
    ms->srcEnd = s.data() + s.size();
    ms->pEnd = p.data() + p.size();
    ms->L = L;
    ms->level = 0;
    ms->utf8 = utf8;
    ms->classes = byteClasses();
}

// Which bytes a match can begin with, when the pattern starts with a
// single-character item that must match once: searches skip the other
// bytes without trying the matcher. In UTF-8 mode only ASCII bytes are
// judged, so skipped bytes are always whole characters.
struct StartFilter {
    bool active = false;
    bool ok[256];
};

StartFilter startFilter(MatchState *ms, const char *p) {
    StartFilter f;
    if (p >= ms->pEnd) return f;
    char c = *p;
    if (c == '(' || c == ')' || c == '.' || (c == '$' && p + 1 == ms->pEnd)) return f;
    if (c == '%' && (p + 1 >= ms->pEnd || p[1] == 'b' || p[1] == 'f' || isdigit(static_cast<unsigned char>(p[1]))))
        return f;
    // Malformed items raise here just as the first try would.
    const char *ep = classEnd(ms, p);
    char q = ep < ms->pEnd ? *ep : '\0';
    if (q == '*' || q == '?' || q == '-') return f;
    size_t n;
    for (uint32_t b = 0; b < 256; b++) {
        bool yes;
        if (ms->utf8 && b >= 0x80) yes = true;
        else if (c == '%') yes = matchClass(ms, b, decode(ms, p + 1, ms->pEnd, &n));
        else if (c == '[') yes = matchBracket(ms, b, p, ep - 1);
        else yes = decode(ms, p, ms->pEnd, &n) == b;
        f.ok[b] = yes;
    }
    f.active = true;
    return f;
}

// The first byte at or after s that can begin a match (or the end).
inline const char *skipToStart(const StartFilter &f, const char *s, const char *end) {
    while (s < end && !f.ok[static_cast<unsigned char>(*s)]) s++;
    return s;
}

// The byte a match must begin with when the pattern starts with a plain
// ASCII character that is neither optional nor repeatable from zero; else -1.
int leadingLiteral(const char *p, const char *end) {
    if (p >= end) return -1;
    unsigned char c = static_cast<unsigned char>(*p);
    if (c >= 0x80 || std::strchr("^$*+?.([%-])", c) || c == 0) return -1;
    if (p + 1 < end && (p[1] == '*' || p[1] == '?' || p[1] == '-')) return -1;
    return c;
}

// Character position counted from the subject's start, 1-based.
double positionOf(const MatchState *ms, const char *at) {
    size_t chars = ms->utf8 ? qxUtf8CountRange(ms->srcInit, at) : static_cast<size_t>(at - ms->srcInit);
    return static_cast<double>(chars) + 1;
}

void pushOneCapture(MatchState *ms, int i, const char *s, const char *e) {
    if (i >= ms->level) {
        if (i != 0) raise(ms, ERR_INVCAPIDX);
        lua_pushlstring(ms->L, s, static_cast<size_t>(e - s));
        return;
    }
    long l = ms->capture[i].len;
    if (l == CAP_UNFINISHED) raise(ms, ERR_UNFINISHEDCAPTURE);
    if (l == CAP_POSITION) lua_pushnumber(ms->L, positionOf(ms, ms->capture[i].init));
    else lua_pushlstring(ms->L, ms->capture[i].init, static_cast<size_t>(l));
}

// Pushes the captures, or the whole match (when s is given) if there are none.
int pushCaptures(MatchState *ms, const char *s, const char *e) {
    int n = (ms->level == 0 && s) ? 1 : ms->level;
    if (!lua_checkstack(ms->L, n)) raise(ms, ERR_STACK);
    for (int i = 0; i < n; i++) pushOneCapture(ms, i, s, e);
    return n;
}

// Shared body of PatternFindStrDirect and PatternFindStrShort.
int findCommand(lua_State *L, bool direct) {
    qxCheckArgCount(L, 2, 4, 0, 0);
    int utf8 = qxStrEncArg(L, 4);
    size_t len;
    std::string_view s = qxStrArg(L, 1, utf8, &len), p = qxStrArg(L, 2, utf8);
    int start = qxStrOptIntArg(L, 3, 0);
    if (start < 0 || static_cast<size_t>(start) > len) return ERR_WRONGUSAGE;
    MatchState ms;
    initState(&ms, L, s, p, utf8);
    const char *pat = p.data();
    bool anchor = !p.empty() && *pat == '^';
    if (anchor) pat++;
    const char *src = s.data() + qxStrCharToByte(s, static_cast<size_t>(start), utf8);
    size_t charPos = static_cast<size_t>(start);
    int lead = anchor ? -1 : leadingLiteral(pat, ms.pEnd);
    StartFilter filter;
    if (!anchor && lead < 0) filter = startFilter(&ms, pat);
    for (;;) {
        if (lead >= 0) {
            // No match can start before the next occurrence of the leading character.
            const void *q = std::memchr(src, lead, static_cast<size_t>(ms.srcEnd - src));
            if (!q) break;
            const char *next = static_cast<const char *>(q);
            charPos += utf8 ? qxUtf8CountRange(src, next) : static_cast<size_t>(next - src);
            src = next;
        } else if (filter.active) {
            const char *next = skipToStart(filter, src, ms.srcEnd);
            charPos += static_cast<size_t>(next - src); // skipped bytes are whole characters
            src = next;
        }
        ms.level = 0;
        const char *e = doMatch(&ms, src, pat);
        if (e) {
            if (!direct) return pushCaptures(&ms, src, e);
            if (!lua_checkstack(L, 2)) return ERR_STACK;
            if (utf8) {
                lua_pushnumber(L, static_cast<double>(charPos));
                // The character index of the match's last character, as in byte mode.
                lua_pushnumber(L, static_cast<double>(charPos + qxUtf8CountRange(src, e)) - 1);
            } else {
                double at = static_cast<double>(src - s.data());
                lua_pushnumber(L, at);
                lua_pushnumber(L, at + static_cast<double>(e - src) - 1);
            }
            return 2 + pushCaptures(&ms, nullptr, e);
        }
        if (anchor || src >= ms.srcEnd) break;
        src += charLen(&ms, src, ms.srcEnd);
        charPos++;
    }
    lua_pushnumber(L, -1);
    return 1;
}

int iterate(lua_State *L) {
    size_t ls, lp;
    const char *s = lua_tostring(L, lua_upvalueindex(1));
    ls = lua_strlen(L, lua_upvalueindex(1));
    const char *p = lua_tostring(L, lua_upvalueindex(2));
    lp = lua_strlen(L, lua_upvalueindex(2));
    size_t pos = static_cast<size_t>(lua_tonumber(L, lua_upvalueindex(3)));
    int utf8 = static_cast<int>(lua_tonumber(L, lua_upvalueindex(4)));
    if (pos > ls) return 0;
    MatchState ms;
    initState(&ms, L, std::string_view(s, ls), std::string_view(p, lp), utf8);
    StartFilter filter = startFilter(&ms, p);
    for (const char *src = s + pos; src <= ms.srcEnd;) {
        if (filter.active) src = skipToStart(filter, src, ms.srcEnd);
        ms.level = 0;
        const char *e = doMatch(&ms, src, p);
        if (e) {
            size_t next = static_cast<size_t>(e - s);
            // After an empty match go on behind one whole character.
            if (e == src) next += e < ms.srcEnd ? charLen(&ms, e, ms.srcEnd) : 1;
            lua_pushnumber(L, static_cast<double>(next));
            lua_replace(L, lua_upvalueindex(3));
            return pushCaptures(&ms, src, e);
        }
        if (src >= ms.srcEnd) break;
        src += charLen(&ms, src, ms.srcEnd);
    }
    return 0;
}

void addValue(MatchState *ms, std::string &out, const char *s, const char *e, int replIdx) {
    lua_State *L = ms->L;
    int t = lua_type(L, replIdx);
    if (t == LUA_TSTRING || t == LUA_TNUMBER) {
        size_t l;
        const char *r = lua_tostring(L, replIdx);
        l = lua_strlen(L, replIdx);
        for (size_t i = 0; i < l; i++) {
            if (r[i] != '%') {
                out.push_back(r[i]);
                continue;
            }
            i++;
            if (i >= l) raise(ms, ERR_ESCREPLACE);
            if (r[i] == '%') {
                out.push_back('%');
            } else if (r[i] >= '0' && r[i] <= '9') {
                if (r[i] == '0') {
                    out.append(s, static_cast<size_t>(e - s));
                } else {
                    pushOneCapture(ms, r[i] - '1', s, e);
                    size_t cl;
                    const char *c = lua_tostring(L, -1);
                    cl = lua_strlen(L, -1);
                    out.append(c, cl);
                    lua_pop(L, 1);
                }
            } else {
                raise(ms, ERR_ESCREPLACE);
            }
        }
    } else {
        if (t == LUA_TFUNCTION) {
            lua_pushvalue(L, replIdx);
            int n = pushCaptures(ms, s, e);
            lua_call(L, n, 1);
        } else {
            pushOneCapture(ms, 0, s, e);
            lua_gettable(L, replIdx);
        }
        int rt = lua_type(L, -1);
        if (rt == LUA_TNIL || (rt == LUA_TBOOLEAN && !lua_toboolean(L, -1))) {
            out.append(s, static_cast<size_t>(e - s));
        } else if (rt == LUA_TSTRING || rt == LUA_TNUMBER) {
            const char *c = lua_tostring(L, -1);
            out.append(c, lua_strlen(L, -1));
        } else {
            raise(ms, ERR_INVREPLACE);
        }
        lua_pop(L, 1);
    }
    if (out.size() > QX_STR_MAX) raise(ms, ERR_MEM);
}

} // namespace

int qxCmdPatternFindStr(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    int utf8 = qxStrEncArg(L, 3);
    luaL_checkstring(L, 1);
    luaL_checkstring(L, 2);
    lua_settop(L, 2);
    lua_pushnumber(L, 0);
    lua_pushnumber(L, utf8);
    lua_pushcclosure(L, iterate, 4);
    return 1;
}

int qxCmdPatternFindStrDirect(lua_State *L) { return findCommand(L, true); }

int qxCmdPatternFindStrShort(lua_State *L) { return findCommand(L, false); }

int qxCmdPatternReplaceStr(lua_State *L)
{
    qxCheckArgCount(L, 3, 5, 0, 0);
    int utf8 = qxStrEncArg(L, 5);
    size_t ls, lp;
    const char *s = luaL_checklstring(L, 1, &ls);
    const char *p = luaL_checklstring(L, 2, &lp);
    int rt = lua_type(L, 3);
    if (rt != LUA_TSTRING && rt != LUA_TNUMBER && rt != LUA_TTABLE && rt != LUA_TFUNCTION) return ERR_WRONGUSAGE;
    double maxN = lua_type(L, 4) == LUA_TNONE ? static_cast<double>(ls) + 1 : luaL_checknumber(L, 4);
    MatchState ms;
    initState(&ms, L, std::string_view(s, ls), std::string_view(p, lp), utf8);
    bool anchor = lp > 0 && *p == '^';
    if (anchor) p++;
    std::string out;
    const char *src = s;
    double n = 0;
    StartFilter filter;
    if (!anchor) filter = startFilter(&ms, p);
    while (n < maxN) {
        if (filter.active) {
            const char *next = skipToStart(filter, src, ms.srcEnd);
            out.append(src, static_cast<size_t>(next - src));
            src = next;
        }
        ms.level = 0;
        const char *e = doMatch(&ms, src, p);
        if (e) {
            n++;
            addValue(&ms, out, src, e, 3);
        }
        if (e && e > src) {
            src = e;
        } else if (src < ms.srcEnd) {
            size_t cl = charLen(&ms, src, ms.srcEnd);
            out.append(src, cl);
            src += cl;
        } else {
            break;
        }
        if (anchor) break;
    }
    out.append(src, static_cast<size_t>(ms.srcEnd - src));
    int r = qxStrPush(L, out);
    if (r) return r;
    lua_pushnumber(L, n);
    return 2;
}
