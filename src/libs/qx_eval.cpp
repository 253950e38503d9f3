// Eval: a small lexer and precedence-climbing parser for arithmetic
// expressions on doubles, with optional named variables.
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/runtime/qx_options.h"
#include "core/vm/lauxlib.h"
#include "libs/qx_strlib.h"
#include "platform/qx_text.h"

namespace {

enum : int {
    TK_SHL = 256, TK_SHR, TK_CONCAT, TK_NE, TK_LE, TK_GE, TK_AND, TK_OR, TK_NOT, TK_NUMBER,
};

struct MultiToken {
    const char *text;
    int code;
};
const MultiToken multiTokens[] = {
    {"<<", TK_SHL}, {">>", TK_SHR}, {"..", TK_CONCAT}, {"<>", TK_NE}, {"<=", TK_LE},
    {">=", TK_GE},  {"and", TK_AND}, {"or", TK_OR},    {"not", TK_NOT},
};

struct Priority {
    int token, left, right;
};
const Priority priorities[] = {
    {'+', 10, 10}, {'-', 10, 10}, {'*', 11, 11}, {'/', 11, 11}, {'\\', 11, 11}, {'%', 11, 11},
    {TK_SHL, 9, 9}, {TK_SHR, 9, 9}, {'|', 6, 6},  {'&', 8, 8},   {'~', 7, 7},   {'^', 14, 13},
    {TK_CONCAT, 5, 4}, {TK_NE, 3, 3}, {'=', 3, 3}, {'<', 3, 3}, {TK_LE, 3, 3}, {'>', 3, 3},
    {TK_GE, 3, 3}, {TK_AND, 2, 2}, {TK_OR, 1, 1},
};
constexpr int UNARY_PRIORITY = 12;
// Nesting of parentheses and unary operators that one expression may use.
constexpr int MAX_NESTING = 200;

const Priority *binaryOp(int token) {
    for (const Priority &p : priorities)
        if (p.token == token) return &p;
    return nullptr;
}

bool nameChar(unsigned char c) { return std::isalnum(c) || c == '_' || c == '$' || c == '!'; }

struct Lexer {
    const char *pos;
    int token = 0;
    double number = 0;
    const std::vector<std::string> *names;
    const std::vector<double> *values;
    int nesting = 0;
};

// Reads the next token; a failure throws its code.
void next(Lexer &lx) {
    while (*lx.pos == ' ' || *lx.pos == '\t') lx.pos++;
    unsigned char c = static_cast<unsigned char>(*lx.pos);
    if (c == 0) {
        lx.token = 0;
        return;
    }
    if (std::isdigit(c) || c == '$') {
        int consumed = 0, error = 0;
        double v = qxStrToNumber(lx.pos, &consumed, &error);
        if (error) throw error;
        lx.number = v;
        lx.pos += consumed;
        lx.token = TK_NUMBER;
        return;
    }
    for (const MultiToken &m : multiTokens) {
        size_t n = std::strlen(m.text);
        if (qxStrNICmp(lx.pos, m.text, n) == 0 && !nameChar(static_cast<unsigned char>(lx.pos[n]))) {
            lx.pos += n;
            lx.token = m.code;
            return;
        }
    }
    for (size_t i = 0; i < lx.names->size(); i++) {
        const std::string &name = (*lx.names)[i];
        if (qxStrNICmp(lx.pos, name.c_str(), name.size()) == 0 &&
            !nameChar(static_cast<unsigned char>(lx.pos[name.size()]))) {
            lx.pos += name.size();
            lx.number = (*lx.values)[i];
            lx.token = TK_NUMBER;
            return;
        }
    }
    lx.token = c;
    lx.pos++;
}

int32_t toInt(double d) { return static_cast<int32_t>(luaL_numbertoint(d)); }
uint32_t toUnsigned(double d) { return static_cast<uint32_t>(luaL_numbertoint(d)); }

double apply(int op, double a, double b) {
    switch (op) {
    case '+': return a + b;
    case '-': return a - b;
    case '*': return a * b;
    case '/':
        if (b == 0) throw static_cast<int>(ERR_ZERODIVISION);
        return a / b;
    case '^': return std::pow(a, b);
    case '\\':
    case '%': {
        int32_t x = toInt(a), y = toInt(b);
        if (y == 0) throw static_cast<int>(ERR_ZERODIVISION);
        if (y == -1) return op == '\\' ? -static_cast<double>(x) : 0; // INT32_MIN / -1 overflows
        return op == '\\' ? x / y : x % y;
    }
    case TK_SHL: return static_cast<uint32_t>(static_cast<uint32_t>(toInt(a)) << (toInt(b) & 31));
    case TK_SHR: return toUnsigned(a) >> (toInt(b) & 31);
    case '&': return toUnsigned(a) & toUnsigned(b);
    case '|': return toUnsigned(a) | toUnsigned(b);
    case '~': return toUnsigned(a) ^ toUnsigned(b);
    case TK_NE: return a != b;
    case '=': return a == b;
    case '<': return a < b;
    case TK_LE: return a <= b;
    case '>': return a > b;
    case TK_GE: return a >= b;
    case TK_AND: return (a == 0 || b == 0) ? 0 : b;
    case TK_OR: return a != 0 ? a : b;
    default: throw static_cast<int>(ERR_WRONGOPCST);
    }
}

// Parses operators above limit; returns the operator token it stopped at.
int subexpr(Lexer &lx, double *v, int limit) {
    if (++lx.nesting > MAX_NESTING) throw static_cast<int>(ERR_COMPLEXEXPR);
    int t = lx.token;
    if (t == '(') {
        next(lx);
        subexpr(lx, v, -1);
        if (lx.token != ')') throw static_cast<int>(ERR_UNMPARENTHESES);
        next(lx);
    } else if (t == TK_NUMBER) {
        *v = lx.number;
        next(lx);
    } else if (t == '-' || t == TK_NOT || t == '~') {
        next(lx);
        subexpr(lx, v, UNARY_PRIORITY);
        if (t == '-') *v = -*v;
        else if (t == TK_NOT) *v = (*v == 0) ? 1 : 0;
        else *v = static_cast<uint32_t>(~toUnsigned(*v));
    } else {
        throw static_cast<int>(ERR_VALUEEXPECTED);
    }
    const Priority *op;
    while ((op = binaryOp(lx.token)) != nullptr && op->left > limit) {
        int opToken = lx.token;
        double right;
        next(lx);
        subexpr(lx, &right, op->right);
        *v = apply(opToken, *v, right);
    }
    lx.nesting--;
    return lx.token;
}

bool validName(const char *s, size_t len) {
    if (len == 0 || len > 64) return false;
    uint32_t first = qxToUpper(static_cast<unsigned char>(s[0]));
    if (!((first >= 'A' && first <= 'Z') || s[0] == '_')) return false;
    for (size_t i = 0; i < len; i++)
        if (!nameChar(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

// Reads the "variables" list of the options table at index 2: every entry
// and name is checked before any value is read.
int readVariables(lua_State *L, std::vector<std::string> &names, std::vector<double> &values) {
    lua_pushliteral(L, "variables");
    lua_gettable(L, 2);
    if (lua_isnil(L, -1)) {
        lua_pop(L, 1);
        return 0;
    }
    if (!lua_istable(L, -1)) return ERR_TABEXPECTED;
    int list = lua_gettop(L);
    for (int i = 0;; i++) {
        lua_rawgeti(L, list, i);
        if (lua_isnil(L, -1)) break;
        if (!lua_istable(L, -1)) return ERR_TABEXPECTED;
        lua_pushliteral(L, "name");
        lua_gettable(L, -2);
        if (lua_type(L, -1) != LUA_TSTRING) return ERR_WRONGUSAGE;
        const char *name = lua_tostring(L, -1);
        size_t len = lua_strlen(L, -1);
        if (!validName(name, len)) return ERR_WRONGUSAGE;
        names.emplace_back(name, len);
        lua_settop(L, list);
    }
    for (int i = 0; i < static_cast<int>(names.size()); i++) {
        lua_rawgeti(L, list, i);
        lua_pushliteral(L, "value");
        lua_gettable(L, -2);
        values.push_back(lua_isnil(L, -1) ? 0 : luaL_checkfieldnumber(L, -1, "value"));
        lua_settop(L, list);
    }
    lua_settop(L, list - 1);
    return 0;
}

} // namespace

int qxCmdEval(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    const char *expr = luaL_checkstring(L, 1);
    std::vector<std::string> names;
    std::vector<double> values;
    if (lua_gettop(L) >= 2) {
        luaL_checktable(L, 2);
        if (int r = readVariables(L, names, values)) return r;
    }
    Lexer lx;
    lx.pos = expr;
    lx.names = &names;
    lx.values = &values;
    double v = 0;
    try {
        next(lx);
        subexpr(lx, &v, -1);
        if (lx.token != 0) return ERR_SYNTAXERROR;
    } catch (int code) {
        return code;
    }
    lua_pushnumber(L, v);
    return 1;
}
