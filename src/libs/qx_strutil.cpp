// Helpers shared by the string library's command files: the encoding
// argument, character stepping in both text modes and character classes.
#include <cctype>
#include <cstring>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "libs/qx_strlib.h"
#include "platform/qx_text.h"

int qxStrEncArg(lua_State *L, int idx)
{
    if (lua_type(L, idx) == LUA_TNONE) return int(qxDefaultEncoding);
    return luaL_checkint(L, idx) == 1 ? 1 : 0;
}

std::string_view qxStrArg(lua_State *L, int idx, int utf8, size_t *chars)
{
    size_t n = 0, bytes = 0;
    const char *s = qxCheckUTF8String(L, idx, &n, utf8, &bytes);
    if (chars) *chars = n;
    return std::string_view(s, bytes);
}

size_t qxStrCharToByte(std::string_view s, size_t n, int utf8)
{
    if (!utf8) return n < s.size() ? n : s.size();
    const char *p = s.data(), *end = p + s.size();
    for (size_t i = 0; i < n && p < end; i++) p = qxUtf8Next(p, end);
    return static_cast<size_t>(p - s.data());
}

size_t qxStrByteToChar(std::string_view s, size_t byte, int utf8)
{
    if (byte > s.size()) byte = s.size();
    if (!utf8) return byte;
    return qxUtf8CountRange(s.data(), s.data() + byte);
}

size_t qxStrCharLen(std::string_view s, size_t i, int utf8)
{
    if (i >= s.size()) return 0;
    if (!utf8) return 1;
    return static_cast<size_t>(qxUtf8Next(s.data() + i, s.data() + s.size()) - (s.data() + i));
}

uint32_t qxStrNextChar(std::string_view s, size_t *i, int utf8)
{
    if (*i >= s.size()) return 0;
    if (!utf8) return static_cast<unsigned char>(s[(*i)++]);
    uint32_t c;
    int n = qxUtf8DecodeN(s.data() + *i, s.data() + s.size(), &c);
    *i += static_cast<size_t>(n);
    return c;
}

uint32_t qxStrLowerChar(uint32_t c, int utf8) { return utf8 ? qxUniToLower(c) : qxToLowerLatin1(c); }

bool qxStrPutChar(std::string &out, uint32_t c, int utf8)
{
    if (!utf8) {
        out.push_back(static_cast<char>(c & 0xFF));
        return true;
    }
    char buf[8];
    int n = qxUtf8Encode(buf, c);
    if (n <= 0) return false;
    out.append(buf, static_cast<size_t>(n));
    return true;
}

int qxStrPush(lua_State *L, const std::string &s)
{
    if (s.size() > QX_STR_MAX) return ERR_MEM;
    lua_pushlstring(L, s.data(), s.size());
    return 0;
}

int qxStrIntArg(lua_State *L, int idx) { return luaL_checkint(L, idx); }

int qxStrOptIntArg(lua_State *L, int idx, int def) { return luaL_optint(L, idx, def); }

// The class bit of a byte in the locale's classification table (the
// compiler's own isdigit folds to 0 or 1).
static int localeBits(int b, int bit) { return (*__ctype_b_loc())[b] & bit; }

int qxStrClassTest(QxCharClass cls, uint32_t c, int utf8)
{
    if (utf8) {
        switch (cls) {
        case QX_CC_ALPHA: return qxUniIsAlpha(c);
        case QX_CC_CNTRL: return qxUniIsCntrl(c);
        case QX_CC_DIGIT: return qxUniIsDigit(c);
        case QX_CC_GRAPH: return qxUniIsGraph(c);
        case QX_CC_LOWER: return qxUniIsLower(c);
        case QX_CC_PUNCT: return qxUniIsPunct(c);
        case QX_CC_SPACE: return qxUniIsSpace(c);
        case QX_CC_UPPER: return qxUniIsUpper(c);
        case QX_CC_ALNUM: return qxUniIsAlnum(c);
        case QX_CC_XDIGIT: return qxUniIsXDigit(c);
        case QX_CC_PRINT: return qxUniIsPrint(c);
        }
        return 0;
    }
    if (c > 255) return 0;
    int b = static_cast<int>(c);
    // The locale's classification bits for these classes, the ISO-8859-1
    // tables for the letter classes.
    switch (cls) {
    case QX_CC_CNTRL: return localeBits(b, _IScntrl);
    case QX_CC_DIGIT: return localeBits(b, _ISdigit);
    case QX_CC_PUNCT: return localeBits(b, _ISpunct);
    case QX_CC_SPACE: return localeBits(b, _ISspace);
    case QX_CC_XDIGIT: return localeBits(b, _ISxdigit);
    case QX_CC_ALPHA: return qxIsAlphaLatin1(c);
    case QX_CC_ALNUM: return qxIsAlnumLatin1(c);
    case QX_CC_GRAPH: return qxIsGraphLatin1(c);
    case QX_CC_LOWER: return qxIsLowerLatin1(c);
    case QX_CC_UPPER: return qxIsUpperLatin1(c);
    case QX_CC_PRINT: return c == 32 ? 1 : qxIsGraphLatin1(c);
    }
    return 0;
}
