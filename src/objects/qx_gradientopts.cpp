// Gradient records read from arguments and tables, and written back.
#include "objects/qx_gradientopts.h"

#include <cstdio>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "platform/qx_errcodes.h"

namespace {

constexpr int kMaxStops = 64;

bool unitRange(double v)
{
    return v >= 0.0 && v <= 1.0; // false for NaN too
}

// A number field under key, kept when absent; 1055 outside 0.0 to 1.0.
int readUnit(lua_State *L, int t, const char *key, double *value)
{
    double v = *value;
    if (!key || !qxGetFieldNum(L, t, key, &v, nullptr))
        return 0;
    if (!unitRange(v))
        return ERR_WRONGUSAGE;
    *value = v;
    return 0;
}

// Element i of the table on top of the stack as a number; 1 when nil.
int elementNumber(lua_State *L, int i, const char *key, double *out)
{
    lua_rawgeti(L, -1, i);
    int type = lua_type(L, -1);
    int r = 0;
    if (type == LUA_TNIL || type == LUA_TNONE) {
        r = 1;
    } else if (!lua_isnumber(L, -1)) {
        qxSetErrorString(key);
        r = ERR_NUMTABLEARG;
    } else {
        *out = lua_tonumber(L, -1);
    }
    lua_pop(L, 1);
    return r;
}

// Reads the stops of the colours table on top of the stack.
int readStops(lua_State *L, const char *key, qxGradient *g, int *count)
{
    int n = 0;
    for (;; n++) {
        double colour = 0, position = 0;
        int r = elementNumber(L, 2 * n, key, &colour);
        if (r == 1)
            break;
        if (r)
            return r;
        if (n == kMaxStops)
            return ERR_INTERNAL;
        r = elementNumber(L, 2 * n + 1, key, &position);
        if (r == 1)
            return ERR_MISSINGPARAMTR;
        if (r)
            return r;
        if (!unitRange(position))
            return ERR_WRONGUSAGE;
        g->stops[n].colour = static_cast<uint32_t>(luaL_numbertoint(colour));
        g->stops[n].position = position;
    }
    *count = n;
    return 0;
}

} // namespace

extern "C" {

void qxInitFillStyle(qxGradient *g, int keep)
{
    g->type = QX_GRADIENT_LINEAR;
    g->sizeFactor = 0.0;
    g->centreX = g->centreY = g->middle = 0.5;
    if (!keep) {
        g->stopCount = 0;
        g->angle = 0;
    }
}

int qxReadGradientOptions(lua_State *L, int index, qxGradient *g, const char *keyCenterX, const char *keyCenterY,
                          const char *keyBalance, const char *keyBorder, const char *keyColors, int *outHasStops)
{
    if (index < 0 && index > LUA_REGISTRYINDEX)
        index = lua_gettop(L) + index + 1;
    if (g->type == QX_GRADIENT_RADIAL || g->type == QX_GRADIENT_CONICAL) {
        if (int r = readUnit(L, index, keyCenterX, &g->centreX))
            return r;
        if (int r = readUnit(L, index, keyCenterY, &g->centreY))
            return r;
        if (int r = readUnit(L, index, keyBalance, &g->middle))
            return r;
        if (int r = readUnit(L, index, keyBorder, &g->sizeFactor))
            return r;
    }
    if (!keyColors)
        return 0;
    lua_pushstring(L, keyColors);
    lua_gettable(L, index);
    if (lua_isnil(L, -1)) {
        lua_pop(L, 1);
        return 0;
    }
    if (!lua_istable(L, -1)) {
        lua_pop(L, 1);
        qxSetErrorString(keyColors);
        return ERR_TABEXPECTED2;
    }
    int count = 0;
    int r = readStops(L, keyColors, g, &count);
    lua_pop(L, 1);
    if (r)
        return r;
    if (count == 1)
        return ERR_WRONGUSAGE;
    g->stopCount = count;
    if (count >= 2 && outHasStops)
        *outHasStops = 1;
    return 0;
}

int qxReadGradientTable(lua_State *L, int index, qxGradient *g)
{
    const int32_t type = g->type;
    qxInitFillStyle(g, 0);
    switch (type) {
    case QX_GRADIENT_HORIZONTAL:
        break;
    case QX_GRADIENT_VERTICAL:
        g->angle = 90;
        break;
    case QX_GRADIENT_LINEAR:
    case QX_GRADIENT_CONICAL:
        g->type = type;
        g->angle = luaL_optint(L, index, 0);
        break;
    case QX_GRADIENT_RADIAL:
        g->type = type;
        break;
    default:
        return ERR_WRONGUSAGE;
    }
    const int options = index + 1;
    if (lua_gettop(L) < options)
        return 0;
    if (!lua_istable(L, options)) {
        qxSetErrorNumber(options);
        return ERR_TABEXPECTED;
    }
    return qxReadGradientOptions(L, options, g, "centerx", "centery", "balance", "border", "colors", nullptr);
}

int qxReadGradientFields(lua_State *L, int index, qxGradient *g, int keep, int initialise)
{
    if (initialise)
        qxInitFillStyle(g, keep);
    int style = g->type, start = (int)g->startColour, end = (int)g->endColour, angle = g->angle;
    qxGetFieldInt(L, index, "gradientstyle", &style, nullptr);
    if (style != QX_GRADIENT_LINEAR && style != QX_GRADIENT_RADIAL && style != QX_GRADIENT_CONICAL)
        return ERR_WRONGUSAGE;
    qxGetFieldColor(L, index, "gradientstartcolor", &start, nullptr);
    qxGetFieldColor(L, index, "gradientendcolor", &end, nullptr);
    qxGetFieldInt(L, index, "gradientangle", &angle, nullptr);
    g->type = style;
    g->startColour = (uint32_t)start;
    g->endColour = (uint32_t)end;
    g->angle = angle;
    return qxReadGradientOptions(L, index, g, "gradientcenterx", "gradientcentery", "gradientbalance",
                                 "gradientborder", "gradientcolors", nullptr);
}

void qxPushGradientFields(lua_State *L, const char *prefix, const qxGradient *g)
{
    char key[256];
    auto name = [&](const char *field) {
        std::snprintf(key, sizeof key, "%s%s", prefix ? prefix : "", field);
        return key;
    };
    qxSetFieldInt(L, name("style"), g->type);
    qxSetFieldUInt(L, name("startcolor"), g->startColour);
    qxSetFieldUInt(L, name("endcolor"), g->endColour);
    qxSetFieldInt(L, name("angle"), g->angle);
    qxSetFieldNum(L, name("centerx"), g->centreX);
    qxSetFieldNum(L, name("centery"), g->centreY);
    qxSetFieldNum(L, name("balance"), g->middle);
    qxSetFieldNum(L, name("border"), g->sizeFactor);
    if (g->stopCount <= 0)
        return;
    lua_pushstring(L, name("colors"));
    lua_newtable(L);
    const int n = g->stopCount < kMaxStops ? g->stopCount : kMaxStops;
    for (int i = 0; i < n; i++) {
        lua_pushnumber(L, g->stops[i].colour);
        lua_rawseti(L, -2, 2 * i);
        lua_pushnumber(L, g->stops[i].position);
        lua_rawseti(L, -2, 2 * i + 1);
    }
    lua_settable(L, -3);
}
}
