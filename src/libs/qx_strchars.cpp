// String commands on lengths, bytes and characters, numbers and text,
// checksums and character classes.
#include <cctype>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/commands/qx_args.h"
#include "core/codecs/qx_crc32.h"
#include "core/errors/qx_errors.h"
#include "core/runtime/qx_options.h"
#include "core/vm/lauxlib.h"
#include "core/vm/lobject.h"
#include "core/codecs/qx_base64.h"
#include "core/codecs/qx_md5.h"
#include "libs/qx_strlib.h"
#include "platform/qx_text.h"

namespace {

int pushView(lua_State *L, std::string_view v) {
    lua_pushlstring(L, v.data(), v.size());
    return 1;
}

// A character position argument in 0 .. count - 1, else -1.
long posArg(lua_State *L, int idx, size_t count, int def) {
    int pos = qxStrOptIntArg(L, idx, def);
    if (pos < 0 || static_cast<size_t>(pos) >= count) return -1;
    return pos;
}

// Width in bytes of a memory type, 0 for none.
int typeWidth(int type) {
    switch (type) {
    case 1: return 4;
    case 6: return 2;
    case 7: return 1;
    case 11: return 4;
    case 12: return 8;
    default: return 0;
    }
}

// Byte order codes: 1 native (little-endian here), 2 little-endian, others big-endian.
bool littleEndian(int order) { return order == 1 || order == 2; }

} // namespace

int qxCmdStrLen(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    int utf8 = qxStrEncArg(L, 2);
    size_t n;
    qxStrArg(L, 1, utf8, &n);
    lua_pushnumber(L, static_cast<double>(n));
    return 1;
}

int qxCmdByteLen(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    size_t n;
    luaL_checklstring(L, 1, &n);
    lua_pushnumber(L, static_cast<double>(n));
    return 1;
}

int qxCmdCharWidth(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    int utf8 = qxStrEncArg(L, 3);
    size_t n;
    std::string_view s = qxStrArg(L, 1, utf8, &n);
    long pos = posArg(L, 2, n, 0);
    if (pos < 0) return ERR_WRONGUSAGE;
    lua_pushnumber(L, static_cast<double>(qxStrCharLen(s, qxStrCharToByte(s, static_cast<size_t>(pos), utf8), utf8)));
    return 1;
}

int qxCmdByteOffset(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    int utf8 = qxStrEncArg(L, 3);
    size_t n;
    std::string_view s = qxStrArg(L, 1, utf8, &n);
    long pos = posArg(L, 2, n, 0);
    if (pos < 0) return ERR_WRONGUSAGE;
    lua_pushnumber(L, static_cast<double>(qxStrCharToByte(s, static_cast<size_t>(pos), utf8)));
    return 1;
}

int qxCmdCharOffset(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    int utf8 = qxStrEncArg(L, 3);
    std::string_view s = qxStrArg(L, 1, utf8);
    long off = posArg(L, 2, s.size(), 0);
    if (off < 0) return ERR_WRONGUSAGE;
    size_t b = static_cast<size_t>(off);
    if (utf8)
        while (b > 0 && (static_cast<unsigned char>(s[b]) & 0xC0) == 0x80) b--;
    lua_pushnumber(L, static_cast<double>(qxStrByteToChar(s, b, utf8)));
    return 1;
}

int qxCmdValidateStr(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    int utf8 = qxStrEncArg(L, 2);
    size_t len;
    const char *s = luaL_checklstring(L, 1, &len);
    if (!utf8) {
        lua_pushnumber(L, 1);
        lua_pushnumber(L, -1);
        return 2;
    }
    size_t count = 0;
    int ok = qxUtf8Scan(s, len, &count);
    lua_pushnumber(L, ok ? 1 : 0);
    lua_pushnumber(L, static_cast<double>(count));
    return 2;
}

int qxCmdAsc(lua_State *L)
{
    qxCheckArgCount(L, 1, 3, 0, 0);
    int utf8 = qxStrEncArg(L, 3);
    size_t n;
    std::string_view s = qxStrArg(L, 1, utf8, &n);
    if (s.empty()) {
        lua_pushnumber(L, 0);
        return 1;
    }
    long pos = posArg(L, 2, n, 0);
    if (pos < 0) return ERR_WRONGUSAGE;
    size_t i = qxStrCharToByte(s, static_cast<size_t>(pos), utf8);
    lua_pushnumber(L, qxStrNextChar(s, &i, utf8));
    return 1;
}

int qxCmdChr(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    int utf8 = qxStrEncArg(L, 2);
    double code = luaL_checknumber(L, 1);
    std::string out;
    if (utf8) {
        if (!(code >= 1 && code <= 0x10FFFF)) return ERR_WRONGUSAGE;
        qxStrPutChar(out, static_cast<uint32_t>(code), 1);
    } else {
        if (!(code >= 0 && code < 256)) return ERR_WRONGUSAGE;
        if (static_cast<uint32_t>(code) != 0) out.push_back(static_cast<char>(static_cast<uint32_t>(code)));
    }
    return pushView(L, out);
}

int qxCmdByteAsc(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    size_t len;
    const char *s = luaL_checklstring(L, 1, &len);
    long pos = posArg(L, 2, len, 0);
    if (pos < 0) return ERR_WRONGUSAGE;
    lua_pushnumber(L, static_cast<unsigned char>(s[pos]));
    return 1;
}

int qxCmdByteChr(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    double b = luaL_checknumber(L, 1);
    if (!(b >= 0 && b < 256)) return ERR_WRONGUSAGE;
    char c = static_cast<char>(static_cast<uint32_t>(b));
    lua_pushlstring(L, &c, 1);
    return 1;
}

int qxCmdStrToArray(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    int utf8 = qxStrEncArg(L, 2);
    std::string_view s = qxStrArg(L, 1, utf8);
    lua_newtable(L);
    int n = 0;
    for (size_t i = 0; i < s.size();) {
        lua_pushnumber(L, qxStrNextChar(s, &i, utf8));
        lua_rawseti(L, -2, n++);
    }
    lua_pushnumber(L, 0);
    lua_rawseti(L, -2, n);
    return 1;
}

int qxCmdArrayToStr(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    int utf8 = qxStrEncArg(L, 2);
    luaL_checktable(L, 1);
    std::string out;
    for (int i = 0;; i++) {
        lua_rawgeti(L, 1, i);
        if (lua_type(L, -1) != LUA_TNUMBER) break;
        double d = lua_tonumber(L, -1);
        lua_pop(L, 1);
        if (d == 0) break;
        uint32_t code = static_cast<uint32_t>(luaL_numbertoint(d));
        if (utf8 && (d < 0 || !qxStrPutChar(out, code, 1))) return ERR_WRONGUSAGE;
        if (!utf8) out.push_back(static_cast<char>(code & 0xFF));
        if (out.size() > QX_STR_MAX) return ERR_MEM;
    }
    return pushView(L, out);
}

int qxCmdByteStrStr(lua_State *L)
{
    qxCheckArgCount(L, 1, 3, 0, 0);
    double v = luaL_checknumber(L, 1);
    int type = qxStrOptIntArg(L, 2, 1), order = qxStrOptIntArg(L, 3, 0);
    int width = typeWidth(type);
    if (!width) return ERR_WRONGUSAGE;
    unsigned char b[8];
    uint64_t bits;
    if (type == 11) {
        float f = static_cast<float>(v);
        uint32_t u;
        std::memcpy(&u, &f, 4);
        bits = u;
    } else if (type == 12) {
        std::memcpy(&bits, &v, 8);
    } else {
        bits = static_cast<uint32_t>(luaL_numbertoint(v));
    }
    for (int i = 0; i < width; i++) {
        unsigned char byte = static_cast<unsigned char>(bits >> (8 * i));
        b[littleEndian(order) ? i : width - 1 - i] = byte;
    }
    lua_pushlstring(L, reinterpret_cast<char *>(b), static_cast<size_t>(width));
    return 1;
}

int qxCmdByteVal(lua_State *L)
{
    qxCheckArgCount(L, 1, 3, 0, 0);
    size_t len;
    const char *s = luaL_checklstring(L, 1, &len);
    int type = qxStrOptIntArg(L, 2, 1), order = qxStrOptIntArg(L, 3, 0);
    int width = typeWidth(type);
    if (!width) return ERR_WRONGUSAGE;
    if (len < static_cast<size_t>(width)) return ERR_MEMRANGE;
    uint64_t bits = 0;
    for (int i = 0; i < width; i++) {
        unsigned char byte = static_cast<unsigned char>(s[littleEndian(order) ? i : width - 1 - i]);
        bits |= static_cast<uint64_t>(byte) << (8 * i);
    }
    double r;
    if (type == 11) {
        uint32_t u = static_cast<uint32_t>(bits);
        float f;
        std::memcpy(&f, &u, 4);
        r = f;
    } else if (type == 12) {
        std::memcpy(&r, &bits, 8);
    } else {
        r = static_cast<double>(bits);
    }
    lua_pushnumber(L, r);
    return 1;
}

int qxCmdVal(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    const char *s = luaL_checkstring(L, 1);
    int consumed = 0, error = 0;
    double v = qxStrToNumber(s, &consumed, &error);
    if (error) v = 0, consumed = 0;
    lua_pushnumber(L, v);
    lua_pushnumber(L, consumed);
    return 2;
}

int qxCmdToNumber(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    int base = qxStrOptIntArg(L, 2, 10);
    if (base < 2 || base > 36) return ERR_WRONGUSAGE;
    if (lua_type(L, 1) == LUA_TLIGHTUSERDATA) {
        lua_pushnumber(L, static_cast<double>(reinterpret_cast<uintptr_t>(lua_touserdata(L, 1))));
        return 1;
    }
    if (base == 10) {
        lua_pushnumber(L, lua_isnumber(L, 1) ? lua_tonumber(L, 1) : 0);
        return 1;
    }
    const char *s = luaL_checkstring(L, 1);
    char *end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(s, &end, base);
    bool digits = end != s;
    if (digits) {
        // A sign or white space alone reads no digit.
        const char *p = s;
        while (isspace(static_cast<unsigned char>(*p))) p++;
        if (*p == '+' || *p == '-') p++;
        digits = end > p;
    }
    if (digits)
        for (const char *p = end; *p; p++)
            if (!isspace(static_cast<unsigned char>(*p))) digits = false;
    lua_pushnumber(L, digits ? static_cast<double>(v) : 0);
    return 1;
}

int qxCmdStrStr(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    double n = luaL_checknumber(L, 1);
    int digits = qxStrOptIntArg(L, 2, 2);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14g", n);
    std::string text(buf);
    // The cut applies to the mantissa; an exponent stays as printed.
    size_t e = text.find_first_of("eE");
    std::string exponent = e == std::string::npos ? "" : text.substr(e);
    std::string mantissa = text.substr(0, e);
    size_t point = mantissa.find('.');
    if (point != std::string::npos) {
        if (digits == 0) mantissa.erase(point);
        else if (digits < 0) mantissa.erase(point + 1);
        else if (mantissa.size() - point - 1 > static_cast<size_t>(digits)) mantissa.erase(point + 1 + static_cast<size_t>(digits));
    }
    return pushView(L, mantissa + exponent);
}

int qxCmdHexStr(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    double n = luaL_checknumber(L, 1);
    // The low 32 bits of the integer part, exactly, for any magnitude.
    uint32_t v = 0;
    if (std::isfinite(n)) {
        double m = std::fmod(std::trunc(n), 4294967296.0);
        if (m < 0) m += 4294967296.0;
        v = static_cast<uint32_t>(m);
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "$%" PRIX32, v);
    return pushView(L, buf);
}

int qxCmdBinStr(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    uint32_t v = static_cast<uint32_t>(qxStrIntArg(L, 1));
    int type = qxStrOptIntArg(L, 2, 1);
    int bits = type == 1 ? 32 : type == 6 ? 16 : type == 7 ? 8 : 0;
    std::string out;
    for (int i = bits - 1; i >= 0; i--) out.push_back((v >> i) & 1 ? '1' : '0');
    return pushView(L, out);
}

int qxCmdPadNum(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    double n = std::trunc(luaL_checknumber(L, 1));
    int width = qxStrIntArg(L, 2);
    if (!(n >= 0) || width < 1) return ERR_WRONGUSAGE;
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.0f", n);
    size_t len = std::strlen(buf);
    std::string out;
    if (static_cast<size_t>(width) > len) out.assign(static_cast<size_t>(width) - len, '0');
    out.append(buf, len);
    int r = qxStrPush(L, out);
    return r ? r : 1;
}

int qxCmdToUserData(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    double n = luaL_checknumber(L, 1);
    uint64_t v = 0;
    if (n >= 9223372036854775808.0) {
        double m = std::fmod(n, 18446744073709551616.0);
        v = m >= 9223372036854775808.0 ? 0x8000000000000000ULL + static_cast<uint64_t>(m - 9223372036854775808.0)
                                       : static_cast<uint64_t>(m);
    } else if (n >= -9223372036854775808.0) {
        v = static_cast<uint64_t>(static_cast<int64_t>(n));
    }
    lua_pushlightuserdata(L, reinterpret_cast<void *>(static_cast<uintptr_t>(v)));
    return 1;
}

int qxCmdCRC32Str(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    size_t len;
    const char *s = luaL_checklstring(L, 1, &len);
    if (len == 0) return ERR_WRONGUSAGE;
    lua_pushnumber(L, qxCrc32(s, static_cast<long>(len)));
    return 1;
}

int qxCmdMD5Str(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    size_t len;
    const char *s = luaL_checklstring(L, 1, &len);
    if (len == 0) return ERR_WRONGUSAGE;
    qxMD5Context ctx;
    uint8_t digest[16];
    char hexDigits[33];
    qxMD5Init(&ctx);
    qxMD5Update(&ctx, s, len);
    qxMD5Final(&ctx, digest);
    qxMD5Hex(digest, hexDigits);
    lua_pushstring(L, hexDigits);
    return 1;
}

int qxCmdBase64Str(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    size_t len;
    const char *s = luaL_checklstring(L, 1, &len);
    bool decode = luaL_checknumber(L, 2) != 0;
    luaL_Buffer b;
    luaL_buffinit(L, &b);
    int r = decode ? qxBase64Decode(s, nullptr, &b, len, nullptr)
                   : qxBase64Encode(nullptr, &b, nullptr, s, len, nullptr, 1);
    if (r) return r;
    luaL_pushresult(&b);
    return 1;
}

namespace {
int classCommand(lua_State *L, QxCharClass cls) {
    qxCheckArgCount(L, 1, 3, 0, 0);
    int utf8 = qxStrEncArg(L, 3);
    size_t n;
    std::string_view s = qxStrArg(L, 1, utf8, &n);
    long pos = posArg(L, 2, n, 0);
    if (pos < 0) return ERR_WRONGUSAGE;
    size_t i = qxStrCharToByte(s, static_cast<size_t>(pos), utf8);
    lua_pushnumber(L, qxStrClassTest(cls, qxStrNextChar(s, &i, utf8), utf8));
    return 1;
}
} // namespace

int qxCmdIsAlNum(lua_State *L) { return classCommand(L, QX_CC_ALNUM); }
int qxCmdIsAlpha(lua_State *L) { return classCommand(L, QX_CC_ALPHA); }
int qxCmdIsCntrl(lua_State *L) { return classCommand(L, QX_CC_CNTRL); }
int qxCmdIsDigit(lua_State *L) { return classCommand(L, QX_CC_DIGIT); }
int qxCmdIsGraph(lua_State *L) { return classCommand(L, QX_CC_GRAPH); }
int qxCmdIsLower(lua_State *L) { return classCommand(L, QX_CC_LOWER); }
int qxCmdIsPrint(lua_State *L) { return classCommand(L, QX_CC_PRINT); }
int qxCmdIsPunct(lua_State *L) { return classCommand(L, QX_CC_PUNCT); }
int qxCmdIsSpace(lua_State *L) { return classCommand(L, QX_CC_SPACE); }
int qxCmdIsUpper(lua_State *L) { return classCommand(L, QX_CC_UPPER); }
int qxCmdIsXDigit(lua_State *L) { return classCommand(L, QX_CC_XDIGIT); }
