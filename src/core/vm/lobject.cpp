// Value equality, number/string conversions, chunk ids.
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/vm/ldo.h"
#include "core/vm/lstring.h"
#include "core/vm/lvm.h"

const TValue luaO_nilobject = {LUA_TNIL, 0, {nullptr}};

int luaO_log2(unsigned int x) {
    if (x == 0) return -1;
    return 31 - __builtin_clz(x);
}

int luaO_rawequalObj(const TValue *t1, const TValue *t2) {
    if (t1->tt != t2->tt) return 0;
    switch (t1->tt) {
    case LUA_TNIL: return 1;
    case LUA_TNUMBER: return nvalue(t1) == nvalue(t2);
    case LUA_TBOOLEAN: return bvalue(t1) == bvalue(t2);
    case LUA_TLIGHTUSERDATA: return pvalue(t1) == pvalue(t2);
    default: return gcvalue(t1) == gcvalue(t2);
    }
}

static int hexdigit(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Unsigned hexadecimal digits as the platform's unsigned long reader takes them.
static const char *readhex(const char *s, lua_Number *result) {
    uint64_t v = 0;
    bool any = false, overflow = false;
    int d;
    while ((d = hexdigit(static_cast<unsigned char>(*s))) >= 0) {
        if (v > (UINT64_MAX >> 4)) overflow = true;
        v = (v << 4) | static_cast<uint64_t>(d);
        any = true;
        s++;
    }
    if (!any) return nullptr;
    *result = overflow ? static_cast<lua_Number>(UINT64_MAX) : static_cast<lua_Number>(v);
    return s;
}

int luaO_str2d(const char *s, lua_Number *result) {
    const char *endptr;
    if (s[0] == '0' && s[1] == 'x' && s[2] != '\0') {
        endptr = readhex(s + 2, result);
    } else if (s[0] == '$') {
        endptr = readhex(s + 1, result);
    } else {
        char *e;
        *result = std::strtod(s, &e);
        endptr = (e == s) ? nullptr : e;
    }
    if (endptr == nullptr) return 0;
    while (std::isspace(static_cast<unsigned char>(*endptr))) endptr++;
    return *endptr == '\0';
}

void luaO_num2str(lua_Number n, char buf[32]) {
    // Whole numbers of at most 14 digits print as "%.14g" prints them, without
    // the cost of the floating-point formatter (-0 keeps its sign there).
    if (n > -1e14 && n < 1e14 && n == static_cast<lua_Number>(static_cast<int64_t>(n)) && (n != 0 || !std::signbit(n))) {
        int64_t v = static_cast<int64_t>(n);
        uint64_t u = v < 0 ? static_cast<uint64_t>(-v) : static_cast<uint64_t>(v);
        char tmp[20];
        int len = 0;
        do {
            tmp[len++] = static_cast<char>('0' + u % 10);
            u /= 10;
        } while (u != 0);
        char *out = buf;
        if (v < 0) *out++ = '-';
        while (len > 0) *out++ = tmp[--len];
        *out = '\0';
        return;
    }
    std::snprintf(buf, 32, "%.14g", n);
}

void luaO_chunkid(char *out, const char *source, int bufflen) {
    if (bufflen < 20) { if (bufflen > 0) out[0] = '\0'; return; }
    if (*source == '=') {
        std::snprintf(out, static_cast<size_t>(bufflen), "%s", source + 1);
    } else if (*source == '@') {
        source++;
        size_t l = std::strlen(source);
        size_t room = static_cast<size_t>(bufflen) - 8;
        if (l > room) std::snprintf(out, static_cast<size_t>(bufflen), "...%s", source + (l - room));
        else std::snprintf(out, static_cast<size_t>(bufflen), "%s", source);
    } else {
        size_t len = std::strcspn(source, "\n\r");
        size_t room = static_cast<size_t>(bufflen) - 17;
        bool cut = false;
        if (len > room) { len = room; cut = true; }
        if (source[len] != '\0') cut = true;
        std::snprintf(out, static_cast<size_t>(bufflen), "[string \"%.*s%s\"]", static_cast<int>(len), source,
                      cut ? "..." : "");
    }
}
