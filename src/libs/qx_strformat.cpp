// FormatStr (printf-style directives) and ToString (any value as text).
#include <cstdio>
#include <cstring>
#include <string>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "libs/qx_strlib.h"

namespace {

constexpr size_t PIECE = 512;
constexpr size_t MAXDIRECTIVE = 18;

bool isFlag(char c) { return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Appends what snprintf wrote into a piece (bounded by the piece size).
template <typename T> void appendPiece(std::string &out, const char *directive, T value) {
    char piece[PIECE];
    int n = std::snprintf(piece, sizeof piece, directive, value);
    if (n < 0) return;
    out.append(piece, static_cast<size_t>(n) < sizeof piece ? static_cast<size_t>(n) : sizeof piece - 1);
}

} // namespace

int qxCmdFormatStr(lua_State *L)
{
    qxCheckArgCount(L, 1, -1, 0, 0);
    size_t flen;
    const char *fmt = luaL_checklstring(L, 1, &flen);
    const char *end = fmt + flen;
    std::string out;
    int arg = 1;
    for (const char *p = fmt; p < end; p++) {
        if (*p != '%') {
            out.push_back(*p);
            continue;
        }
        p++;
        if (p >= end) return ERR_WRONGUSAGE;
        if (*p == '%') {
            out.push_back('%');
            continue;
        }
        const char *start = p;
        while (p < end && isFlag(*p)) p++;
        int digits = 0;
        while (p < end && isDigit(*p)) {
            if (++digits > 2) return ERR_WRONGUSAGE;
            p++;
        }
        bool precision = false;
        if (p < end && *p == '.') {
            precision = true;
            p++;
            digits = 0;
            while (p < end && isDigit(*p)) {
                if (++digits > 2) return ERR_WRONGUSAGE;
                p++;
            }
        }
        if (p >= end || static_cast<size_t>(p - start) > MAXDIRECTIVE) return ERR_WRONGUSAGE;
        char directive[MAXDIRECTIVE + 4];
        directive[0] = '%';
        std::memcpy(directive + 1, start, static_cast<size_t>(p - start) + 1);
        directive[p - start + 2] = '\0';
        char conv = *p;
        switch (conv) {
        case 'd': case 'i': case 'c':
            appendPiece(out, directive, static_cast<int>(luaL_checkint(L, ++arg)));
            break;
        case 'o': case 'u': case 'x': case 'X':
            appendPiece(out, directive, static_cast<unsigned>(luaL_checkint(L, ++arg)));
            break;
        case 'e': case 'E': case 'f': case 'g': case 'G':
            appendPiece(out, directive, static_cast<double>(luaL_checknumber(L, ++arg)));
            break;
        case 's': {
            size_t l;
            const char *s = luaL_checklstring(L, ++arg, &l);
            if (!precision && l >= 100) out.append(s, l);
            else appendPiece(out, directive, s);
            break;
        }
        case 'q': {
            size_t l;
            const char *s = luaL_checklstring(L, ++arg, &l);
            out.push_back('"');
            for (size_t i = 0; i < l; i++) {
                char c = s[i];
                if (c == '"' || c == '\\' || c == '\n') {
                    out.push_back('\\');
                    out.push_back(c);
                } else if (c == '\0') {
                    out.append("\\000");
                } else {
                    out.push_back(c);
                }
            }
            out.push_back('"');
            break;
        }
        default:
            return ERR_WRONGUSAGE;
        }
        if (out.size() > QX_STR_MAX) return ERR_MEM;
    }
    int r = qxStrPush(L, out);
    return r ? r : 1;
}

int qxCmdToString(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    if (luaL_callmeta(L, 1, "__tostring")) return 1;
    char buf[128];
    switch (lua_type(L, 1)) {
    case LUA_TNIL: lua_pushliteral(L, "Nil"); return 1;
    case LUA_TBOOLEAN: lua_pushstring(L, lua_toboolean(L, 1) ? "true" : "false"); return 1;
    case LUA_TNUMBER:
    case LUA_TSTRING:
        lua_pushvalue(L, 1);
        lua_tostring(L, -1); // numbers print by the VM's own conversion
        return 1;
    case LUA_TTABLE: std::snprintf(buf, sizeof buf, "Table: %p", lua_topointer(L, 1)); break;
    case LUA_TFUNCTION: std::snprintf(buf, sizeof buf, "Function: %p", lua_topointer(L, 1)); break;
    case LUA_TTHREAD: std::snprintf(buf, sizeof buf, "Thread: %p", lua_topointer(L, 1)); break;
    default: std::snprintf(buf, sizeof buf, "UserData: %p", lua_touserdata(L, 1)); break;
    }
    lua_pushstring(L, buf);
    return 1;
}
