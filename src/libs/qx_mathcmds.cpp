// Commands of the "math" library: arithmetic, rounding, transcendental
// functions, bit operations on 32-bit integers and random numbers.
#include "libs/qx_mathcmds.h"

#include <cfenv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "libs/qx_strlib.h"
#include "platform/qx_locale.h"

namespace {

enum : int { WIDTH_INTEGER = 1, WIDTH_STRING = 3, WIDTH_SHORT = 6, WIDTH_BYTE = 7 };

double num(lua_State *L, int i) { return luaL_checknumber(L, i); }
int32_t i32(lua_State *L, int i) { return luaL_checkint(L, i); }
uint32_t u32(lua_State *L, int i) { return static_cast<uint32_t>(luaL_checkint(L, i)); }

int push(lua_State *L, double v) {
    lua_pushnumber(L, v);
    return 1;
}

// Commands of one number argument and one result.
template <double (*F)(double)> int unary(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    return push(L, F(num(L, 1)));
}

template <double (*F)(double, double)> int binary(lua_State *L) {
    qxCheckArgCount(L, 2, 2, 0, 0);
    return push(L, F(num(L, 1), num(L, 2)));
}

double add(double a, double b) { return a + b; }
double sub(double a, double b) { return a - b; }
double mul(double a, double b) { return a * b; }
double absolute(double x) { return std::fabs(x); }
double sign(double x) { return x > 0 ? 1 : x < 0 ? -1 : 0; }
double frac(double x) { return x - std::trunc(x); }
double roundEven(double x) { return std::nearbyint(x); }
double floorOf(double x) { return std::floor(x); }
double ceilOf(double x) { return std::ceil(x); }
double power(double x, double y) { return std::pow(x, y); }
double squareRoot(double x) { return std::sqrt(x); }
double expOf(double x) { return std::exp(x); }
double ln(double x) { return std::log(x); }
double ld(double x) { return std::log10(x) / 0.3010299956639812; }
double logBase(double x, double b) { return std::log10(x) / std::log10(b); }
double hypotenuse(double x, double y) { return std::sqrt(x * x + y * y); }
double rad(double d) { return d * 0.017453292519943295; }
double deg(double r) { return r / 0.017453292519943295; }
double sine(double x) { return std::sin(x); }
double cosine(double x) { return std::cos(x); }
double tangent(double x) { return std::tan(x); }
double asine(double x) { return std::asin(x); }
double acosine(double x) { return std::acos(x); }
double atangent(double x) { return std::atan(x); }
double atangent2(double y, double x) { return std::atan2(y, x); }

int cmdDiv(lua_State *L) {
    qxCheckArgCount(L, 2, 2, 0, 0);
    double a = num(L, 1), b = num(L, 2);
    if (b == 0) return ERR_ZERODIVISION;
    return push(L, a / b);
}

int cmdMod(lua_State *L) {
    qxCheckArgCount(L, 2, 2, 0, 0);
    double a = num(L, 1), b = num(L, 2);
    if (b == 0) return ERR_ZERODIVISION;
    return push(L, std::fmod(a, b));
}

int cmdInt(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    return push(L, i32(L, 1));
}

int cmdLimit(lua_State *L) {
    qxCheckArgCount(L, 3, 3, 0, 0);
    double x = num(L, 1), lo = num(L, 2), hi = num(L, 3);
    return push(L, x < lo ? lo : x > hi ? hi : x);
}

int cmdWrap(lua_State *L) {
    qxCheckArgCount(L, 3, 3, 0, 0);
    double x = num(L, 1), lo = num(L, 2), hi = num(L, 3);
    if (x < lo) return push(L, x - lo + hi);
    if (x >= hi) return push(L, x - hi + lo);
    return push(L, x);
}

int extreme(lua_State *L, bool max) {
    qxCheckArgCount(L, 2, -1, 0, 0);
    double best = num(L, 1);
    for (int i = 2, n = lua_gettop(L); i <= n; i++) {
        double v = num(L, i);
        if (max ? v > best : v < best) best = v;
    }
    return push(L, best);
}
int cmdMin(lua_State *L) { return extreme(L, false); }
int cmdMax(lua_State *L) { return extreme(L, true); }

int cmdRt(lua_State *L) {
    qxCheckArgCount(L, 2, 2, 0, 0);
    double x = num(L, 1), n = num(L, 2);
    if (n == 0) return ERR_ZERODIVISION;
    if (n < 0) return ERR_WRONGUSAGE;
    return push(L, std::pow(x, 1 / n));
}

int cmdLdExp(lua_State *L) {
    qxCheckArgCount(L, 2, 2, 0, 0);
    double x = num(L, 1);
    return push(L, std::ldexp(x, i32(L, 2)));
}

int cmdFrExp(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    int e = 0;
    double m = std::frexp(num(L, 1), &e);
    lua_pushnumber(L, m);
    lua_pushnumber(L, e);
    return 2;
}

int cmdBitComplement(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    return push(L, static_cast<uint32_t>(~u32(L, 1)));
}

int cmdBitXor(lua_State *L) {
    qxCheckArgCount(L, 2, 2, 0, 0);
    return push(L, u32(L, 1) ^ u32(L, 2));
}

// Bit numbers outside 0 .. 31 are refused, negative ones too.
int bitOp(lua_State *L, int op) {
    qxCheckArgCount(L, 2, 2, 0, 0);
    uint32_t x = u32(L, 1);
    double bit = num(L, 2);
    if (!(bit >= 0 && bit < 32)) return ERR_WRONGUSAGE;
    uint32_t mask = 1u << static_cast<int>(bit);
    if (op == 0) return push(L, x | mask);
    if (op == 1) return push(L, x & ~mask);
    return push(L, (x & mask) ? 1 : 0);
}
int cmdBitSet(lua_State *L) { return bitOp(L, 0); }
int cmdBitClear(lua_State *L) { return bitOp(L, 1); }
int cmdBitTest(lua_State *L) { return bitOp(L, 2); }

int cmdShl(lua_State *L) {
    qxCheckArgCount(L, 2, 2, 0, 0);
    uint32_t x = u32(L, 1);
    return push(L, static_cast<uint32_t>(x << (u32(L, 2) & 31)));
}

int cmdShr(lua_State *L) {
    qxCheckArgCount(L, 2, 2, 0, 0);
    uint32_t x = u32(L, 1);
    return push(L, x >> (u32(L, 2) & 31));
}

int cmdSar(lua_State *L) {
    qxCheckArgCount(L, 2, 2, 0, 0);
    int32_t x = i32(L, 1);
    return push(L, x >> (u32(L, 2) & 31));
}

// Rotation within the width by the count modulo the width.
int rotate(lua_State *L, bool left) {
    qxCheckArgCount(L, 2, 3, 0, 0);
    uint32_t x = u32(L, 1), n = u32(L, 2);
    int width = qxStrOptIntArg(L, 3, WIDTH_INTEGER);
    uint32_t bits = width == WIDTH_INTEGER ? 32 : width == WIDTH_SHORT ? 16 : width == WIDTH_BYTE ? 8 : 0;
    if (!bits) return ERR_WRONGUSAGE;
    uint32_t mask = bits == 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
    x &= mask;
    uint32_t k = n & (bits - 1);
    if (!left) k = (bits - k) & (bits - 1);
    if (k == 0) return push(L, x);
    return push(L, ((x << k) | (x >> (bits - k))) & mask);
}
int cmdRol(lua_State *L) { return rotate(L, true); }
int cmdRor(lua_State *L) { return rotate(L, false); }

int cmdEndianSwap(lua_State *L) {
    qxCheckArgCount(L, 2, 2, 0, 0);
    uint32_t x = u32(L, 1);
    int bits = i32(L, 2);
    if (bits == 32) return push(L, __builtin_bswap32(x));
    if (bits == 16) return push(L, ((x & 0xFF) << 8) | ((x >> 8) & 0xFF));
    return ERR_WRONGUSAGE;
}

int cmdCast(lua_State *L) {
    qxCheckArgCount(L, 3, 3, 0, 0);
    uint32_t x = u32(L, 1);
    bool isSigned = num(L, 2) != 0;
    int width = i32(L, 3);
    switch (width) {
    case WIDTH_INTEGER: return push(L, isSigned ? static_cast<double>(static_cast<int32_t>(x)) : x);
    case WIDTH_SHORT: return push(L, isSigned ? static_cast<double>(static_cast<int16_t>(x)) : (x & 0xFFFF));
    case WIDTH_BYTE: return push(L, isSigned ? static_cast<double>(static_cast<int8_t>(x)) : (x & 0xFF));
    default: return ERR_WRONGUSAGE;
    }
}

int cmdRnd(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    double n = num(L, 1);
    if (n < 0) return ERR_WRONGUSAGE;
    return push(L, std::trunc(drand48() * n));
}

int cmdRndF(lua_State *L) {
    qxCheckArgCount(L, 0, 0, 0, 0);
    return push(L, drand48());
}

int cmdRndStrong(lua_State *L) {
    qxCheckArgCount(L, 2, 2, 0, 0);
    int type = i32(L, 1);
    if (type == WIDTH_INTEGER) {
        uint32_t n = u32(L, 2), v;
        if (!qxRandomBytes(&v, sizeof v)) return ERR_RANDOMIZE;
        return push(L, n == 0xFFFFFFFFu ? v : v % (n + 1));
    }
    if (type != WIDTH_STRING) return ERR_WRONGUSAGE;
    int n = i32(L, 2);
    if (n < 0) return ERR_WRONGUSAGE;
    std::string bytes(static_cast<size_t>(n), '\0');
    if (n > 0 && !qxRandomBytes(bytes.data(), bytes.size())) return ERR_RANDOMIZE;
    lua_pushlstring(L, bytes.data(), bytes.size());
    return 1;
}

} // namespace

// Apart from the exported name, whose declaration has no size: clang reads
// only a table of known size while compiling.
static constexpr qxCommandDef mathCommandTableRows[] = {
    {"Add", binary<add>},
    {"Sub", binary<sub>},
    {"Mul", binary<mul>},
    {"Div", cmdDiv},
    {"Mod", cmdMod},
    {"Abs", unary<absolute>},
    {"Sgn", unary<sign>},
    {"Int", cmdInt},
    {"Frac", unary<frac>},
    {"Round", unary<roundEven>},
    {"Floor", unary<floorOf>},
    {"Ceil", unary<ceilOf>},
    {"Limit", cmdLimit},
    {"Wrap", cmdWrap},
    {"Min", cmdMin},
    {"Max", cmdMax},
    {"Pow", binary<power>},
    {"Rt", cmdRt},
    {"Sqrt", unary<squareRoot>},
    {"Exp", unary<expOf>},
    {"Ln", unary<ln>},
    {"Ld", unary<ld>},
    {"Log", binary<logBase>},
    {"LdExp", cmdLdExp},
    {"FrExp", cmdFrExp},
    {"Hypot", binary<hypotenuse>},
    {"Rad", unary<rad>},
    {"Deg", unary<deg>},
    {"Sin", unary<sine>},
    {"Cos", unary<cosine>},
    {"Tan", unary<tangent>},
    {"ASin", unary<asine>},
    {"ACos", unary<acosine>},
    {"ATan", unary<atangent>},
    {"ATan2", binary<atangent2>},
    {"BitComplement", cmdBitComplement},
    {"BitXor", cmdBitXor},
    {"BitSet", cmdBitSet},
    {"BitClear", cmdBitClear},
    {"BitTest", cmdBitTest},
    {"Shl", cmdShl},
    {"Shr", cmdShr},
    {"Sar", cmdSar},
    {"Rol", cmdRol},
    {"Ror", cmdRor},
    {"EndianSwap", cmdEndianSwap},
    {"Cast", cmdCast},
    {"Rnd", cmdRnd},
    {"RndF", cmdRndF},
    {"RndStrong", cmdRndStrong},
    {nullptr, nullptr},
};

const qxCommandDef *const qxMathCommandTable = mathCommandTableRows;
constexpr qxNames qxMathCommandNames = qxNamesOf<mathCommandTableRows>;
