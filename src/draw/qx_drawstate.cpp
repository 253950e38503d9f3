// The draw state and its six commands, and the draw commands' options.
#include "draw/qx_drawstate.h"

#include <cmath>
#include <cstring>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "display/qx_gfxgeom.h"
#include "objects/qx_displayopts.h"
#include "objects/qx_gradientopts.h"

static qxDrawState drawState;

qxDrawState *qxGetDrawState(void) { return &drawState; }

void qxResetDrawState(void)
{
    std::memset(&drawState, 0, sizeof drawState);
    drawState.formStyle = QX_FORM_NORMAL;
    drawState.gradient.type = QX_GRADIENT_LINEAR;
    drawState.gradient.startColour = 0x0000FF;
    drawState.borderSize = 2;
    drawState.borderColour = 0x0093DD;
    drawState.shadowSize = 4;
    drawState.shadowDirection = 3;
    drawState.lineWidth = 1;
}

void qxClampDrawStyle(qxDrawState *s)
{
    if (s->lineWidth < 1) s->lineWidth = 1;
    s->shadowSize = s->shadowSize <= 0 ? 1 : s->shadowSize > 64 ? 64 : s->shadowSize;
    s->borderSize = s->borderSize <= 0 ? 1 : s->borderSize > 64 ? 64 : s->borderSize;
    if (s->shadowDirection > 7) s->shadowDirection = 3;
    if (s->fillStyle > 3) s->fillStyle = QX_FILLNONE;
}

void qxReadDrawRotation(lua_State *L, int arg, int32_t width, int32_t height, qxTransformOptions *o)
{
    if (lua_gettop(L) != arg || lua_istable(L, arg)) return;
    const double value = luaL_checknumber(L, arg);
    if (!std::isfinite(value)) return; // a rotation that is no angle leaves the shape upright
    const double angle = std::fmod(value, 360.0);
    o->rotate = angle;
    double m[4];
    qxSetupTransform(m, width, height, width, height, 1.0, 1.0, angle);
    o->m11 = m[0], o->m12 = m[1], o->m21 = m[2], o->m22 = m[3];
}

int qxReadDrawOptions(lua_State *L, int arg, int32_t width, int32_t height, qxTransformOptions *o,
                      qxObjectStyle *style, int noPlainRotation, uint32_t flags)
{
    if (int r = qxGetTransformOptions(L, lua_istable(L, arg) ? arg : 0, width, height, 0, 0, 0, o, style,
                                      flags | QX_OPT_RESET))
        return r;
    if (!noPlainRotation) qxReadDrawRotation(L, arg, width, height, o);
    return 0;
}

int qxCmdSetFillStyle(lua_State *L)
{
    qxCheckArgCount(L, 1, 6, 0, 0);
    qxDrawState &s = drawState;
    s.fillStyle = uint32_t(luaL_checkint(L, 1));
    const int n = lua_gettop(L);
    switch (s.fillStyle) {
    case QX_FILLNONE:
        s.lineWidth = n >= 2 ? luaL_checkint(L, 2) : 1;
        break;
    case QX_FILLCOLOR:
        break;
    case QX_FILLGRADIENT:
        s.gradient.type = luaL_checkint(L, 2);
        s.gradient.startColour = uint32_t(luaL_checkint(L, 3));
        s.gradient.endColour = uint32_t(luaL_checkint(L, 4));
        if (int r = qxReadGradientTable(L, 5, &s.gradient)) return r;
        break;
    case QX_FILLTEXTURE:
        s.texture = qxGetObjectIDArg(L, 2);
        s.textureX = n >= 3 ? luaL_checkint(L, 3) : 0;
        s.textureY = n >= 4 ? luaL_checkint(L, 4) : 0;
        break;
    default:
        return ERR_WRONGUSAGE; // kept: the renderer's clamp draws it as an outline
    }
    qxClampDrawStyle(&s);
    return 0;
}

int qxCmdGetFillStyle(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    const qxDrawState &s = drawState;
    lua_pushnumber(L, s.fillStyle);
    if (s.fillStyle == QX_FILLCOLOR) return 1;
    lua_newtable(L);
    if (s.fillStyle == QX_FILLNONE) {
        qxSetFieldInt(L, "thickness", s.lineWidth);
    } else if (s.fillStyle == QX_FILLGRADIENT) {
        qxSetFieldInt(L, "type", s.gradient.type);
        qxPushGradientFields(L, nullptr, &s.gradient);
    } else if (s.fillStyle == QX_FILLTEXTURE) {
        qxSetFieldID(L, "brush", s.texture);
        qxSetFieldInt(L, "x", s.textureX);
        qxSetFieldInt(L, "y", s.textureY);
    }
    return 2;
}

int qxCmdSetFormStyle(lua_State *L)
{
    qxCheckArgCount(L, 1, 4, 0, 0);
    qxDrawState &s = drawState;
    const uint32_t style = uint32_t(luaL_checkint(L, 1));
    const int n = lua_gettop(L);
    if (style & QX_FORM_NORMAL) {
        s.formStyle = QX_FORM_NORMAL;
    } else {
        if (style == QX_FORM_SHADOW) {
            if (n >= 2) s.shadowColour = uint32_t(luaL_checkint(L, 2));
            if (n >= 3) s.shadowSize = luaL_checkint(L, 3);
            if (n >= 4) s.shadowDirection = uint32_t(luaL_checkint(L, 4));
        } else if (style == QX_FORM_EDGE) {
            if (n >= 2) s.borderColour = uint32_t(luaL_checkint(L, 2));
            if (n == 3) s.borderSize = luaL_checkint(L, 3);
        } else if (n > 1) {
            return ERR_TOOMANYARGS;
        }
        s.formStyle |= style;
    }
    qxClampDrawStyle(&s);
    return 0;
}

int qxCmdGetFormStyle(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    const qxDrawState &s = drawState;
    lua_pushnumber(L, s.formStyle);
    if (!(s.formStyle & (QX_FORM_SHADOW | QX_FORM_EDGE))) return 1;
    lua_newtable(L);
    if (s.formStyle & QX_FORM_SHADOW) {
        qxSetFieldUInt(L, "shadowcolor", s.shadowColour);
        qxSetFieldInt(L, "shadowsize", s.shadowSize);
        qxSetFieldUInt(L, "shadowdir", s.shadowDirection);
    }
    if (s.formStyle & QX_FORM_EDGE) {
        qxSetFieldInt(L, "bordersize", s.borderSize);
        qxSetFieldUInt(L, "bordercolor", s.borderColour);
    }
    return 2;
}

int qxCmdSetLineWidth(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    const int w = luaL_checkint(L, 1);
    if (w < 1) return ERR_WRONGUSAGE;
    drawState.lineWidth = w;
    return 0;
}

int qxCmdGetLineWidth(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    lua_pushnumber(L, drawState.lineWidth);
    return 1;
}
