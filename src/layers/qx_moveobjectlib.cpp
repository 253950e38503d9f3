// The "moveobject" command library.
#include <algorithm>
#include <cstdlib>

#include "core/commands/qx_args.h"
#include "core/commands/qx_commands.h"
#include "core/vm/lauxlib.h"
#include "display/qx_display.h"
#include "layers/qx_layer.h"
#include "layers/qx_layerlibs.h"
#include "layers/qx_move.h"
#include "objects/qx_objargs.h"
#include "platform/qx_errcodes.h"

namespace {

int32_t intArg(lua_State *L, int index)
{
    return int32_t(std::clamp<int64_t>(qxTruncToInt64(luaL_checknumber(L, index)), INT32_MIN, INT32_MAX));
}

// The common body: object in argument 1 (already in the state), the four
// coordinates, then a table or speed [, animspeed] [, fx].
int moveCommand(lua_State *L, uint32_t type, bool withAnimSpeed, qxMoveState *proto)
{
    qxCheckArgCount(L, 5, withAnimSpeed ? 8 : 7, 0, 0);
    auto *s = static_cast<qxMoveState *>(std::calloc(1, sizeof(qxMoveState)));
    if (!s) return ERR_MEM;
    *s = *proto;
    s->L = L, s->type = type, s->owned = 1;
    s->x1 = intArg(L, 2), s->y1 = intArg(L, 3), s->x2 = intArg(L, 4), s->y2 = intArg(L, 5);
    s->speed = -1, s->animspeed = -1;
    int fx = 0, async = 0;
    if (lua_gettop(L) >= 6 && lua_istable(L, 6)) {
        int v = 0;
        if (qxGetFieldInt(L, 6, "fx", &v, nullptr)) fx = v;
        if (qxGetFieldInt(L, 6, "speed", &v, nullptr)) s->speed = v;
        if (qxGetFieldInt(L, 6, "animspeed", &v, nullptr)) s->animspeed = v;
        if (qxGetFieldInt(L, 6, "async", &v, nullptr)) async = v;
        if (lua_gettop(L) > 6) {
            std::free(s);
            return ERR_TOOMANYARGS;
        }
    } else {
        if (lua_gettop(L) >= 6) s->speed = intArg(L, 6);
        if (withAnimSpeed && lua_gettop(L) >= 7) s->animspeed = intArg(L, 7);
        const int fxArg = withAnimSpeed ? 8 : 7;
        if (lua_gettop(L) >= fxArg) fx = intArg(L, fxArg);
    }
    s->fx = fx >= 0 && fx <= 7 ? uint32_t(fx) : 0;
    s->async = async != 0;
    const int top = lua_gettop(L);
    if (int r = qxMoveObject(s)) return r;
    return lua_gettop(L) > top ? 1 : 0;
}

int objectMove(lua_State *L, uint32_t type, bool withAnimSpeed)
{
    qxMoveState proto{};
    proto.id = qxGetObjectIDArg(L, 1);
    return moveCommand(L, type, withAnimSpeed, &proto);
}

int cmdMoveBrush(lua_State *L) { return objectMove(L, QX_MOVE_BRUSH, false); }
int cmdMoveAnim(lua_State *L) { return objectMove(L, QX_MOVE_ANIM, true); }
int cmdMoveTextObject(lua_State *L) { return objectMove(L, QX_MOVE_TEXTOBJECT, false); }
int cmdMoveSprite(lua_State *L) { return objectMove(L, QX_MOVE_SPRITE, true); }

int cmdMoveLayer(lua_State *L)
{
    qxDisplay *d = qxCurrentDisplay;
    if (!d || !d->layersEnabled) return ERR_NOLAYERS;
    qxBGPic *b = qxLayerBGPic();
    if (!b) return ERR_NOLAYERS;
    int32_t position = 0;
    if (int r = qxGetLayerArg(L, 1, b, &position)) return r;
    qxMoveState proto{};
    proto.layer = qxGetLayerByIndex(b, position);
    if (!proto.layer) return ERR_LAYERRANGE;
    proto.layerindex = position;
    return moveCommand(L, QX_MOVE_LAYER, false, &proto);
}

constexpr qxCommandDef moveobjectCommands[] = {
    {"MoveBrush", cmdMoveBrush},
    {"MoveAnim", cmdMoveAnim},
    {"MoveTextObject", cmdMoveTextObject},
    {"MoveLayer", cmdMoveLayer},
    {"MoveSprite", cmdMoveSprite},
    {nullptr, nullptr},
};

constexpr qxConstantDef moveobjectConstants[] = {
    {"BOUNCE", nullptr, 1},    {"SMOOTHOUT", nullptr, 2},  {"DAMPED", nullptr, 3},     {"SINE", nullptr, 4},
    {"BIGSINE", nullptr, 5},   {"LOWERCURVE", nullptr, 6}, {"UPPERCURVE", nullptr, 7}, {nullptr, nullptr, 0},
};

} // namespace

extern "C" int qxOpenMoveObjectLib(lua_State *L)
{
    return qxOpenCommandLibraryOf<moveobjectCommands, moveobjectConstants>(L, "moveobject");
}
