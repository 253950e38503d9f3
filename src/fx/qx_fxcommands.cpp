// The ten commands of the "transitionfx" library: each fills a request
// from its arguments (or an options table) and hands it to the driver.
#include "core/commands/qx_args.h"
#include "core/vm/lauxlib.h"
#include "display/qx_bgpic.h"
#include "display/qx_display.h"
#include "fx/qx_fxcommands.h"
#include "fx/qx_fxhooks.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"

namespace {

// An optional integer argument: absent gives the default, nil reads as 0.
int32_t intArg(lua_State *L, int n, int32_t fallback)
{
    if (lua_gettop(L) < n || lua_isnone(L, n)) return fallback;
    if (lua_isnil(L, n)) return 0;
    return luaL_numbertoint(luaL_checknumber(L, n));
}

bool layersOn()
{
    return qxCurrentDisplay && qxCurrentDisplay->layersEnabled;
}

// Runs a request, again while the driver asks for a repeat.
int run(qxTransitionFX &fx)
{
    do {
        fx.again = 0;
        if (int r = qxFXRun(&fx)) return r;
    } while (fx.again);
    return 0;
}

// Effect, speed and parameter from arguments first, first + 1, first + 2.
void effectArgs(lua_State *L, int first, qxTransitionFX &fx)
{
    fx.effect = intArg(L, first, QX_FX_RANDOMEFFECT);
    fx.speed = intArg(L, first + 1, QX_FX_NORMALSPEED);
    fx.parameter = intArg(L, first + 2, QX_FX_RANDOMPARAMETER);
}

bool tableAt(lua_State *L, int n)
{
    return lua_gettop(L) == n && lua_istable(L, n);
}

int objectCommand(lua_State *L, uint32_t mode)
{
    qxCheckArgCount(L, 3, 6, 0, 0);
    qxTransitionFX fx{};
    fx.L = L, fx.mode = mode;
    fx.object = qxGetObjectIDArg(L, 1);
    fx.x = intArg(L, 2, 0);
    fx.y = intArg(L, 3, 0);
    if (tableAt(L, 4)) qxFXReadOptions(L, 4, &fx);
    else effectArgs(L, 4, fx);
    return run(fx);
}

// DisplayTransitionFX, ShowLayerFX, HideLayerFX, RemoveLayerFX and, with a
// temporary BGPic, ClearScreen.
int layerCommand(lua_State *L, uint32_t mode, qxBGPic *temporary)
{
    qxTransitionFX fx{};
    fx.L = L, fx.mode = mode;
    int tablePos = 2, effectPos = 2;
    if (temporary) {
        fx.object = {0, temporary->automatic};
        tablePos = 3, effectPos = 1;
    } else if (mode == QX_FXMODE_BGPIC) {
        fx.object = qxGetObjectIDArg(L, 1);
    } else {
        if (!layersOn() || !qxFXHook.layerArg) return ERR_NOLAYERS;
        int32_t index = 0;
        if (int e = qxFXHook.layerArg(L, 1, &index)) return e;
        fx.object = {uint32_t(index), nullptr};
    }
    if (mode == QX_FXMODE_BGPIC) fx.posX = fx.posY = 200000;
    if (tableAt(L, tablePos)) {
        qxFXReadOptions(L, tablePos, &fx);
        if (temporary) fx.effect = intArg(L, 1, QX_FX_RANDOMEFFECT);
        if (mode == QX_FXMODE_BGPIC) {
            if (fx.async) return ERR_WRONGUSAGE;
            int v;
            if (qxGetFieldInt(L, tablePos, "x", &v, nullptr)) fx.posX = v;
            if (qxGetFieldInt(L, tablePos, "y", &v, nullptr)) fx.posY = v;
        } else if (mode == QX_FXMODE_SHOWLAYER) {
            int v = 0;
            if (qxGetFieldInt(L, tablePos, "bgpicemu", &v, nullptr) && v) {
                fx.bgpicEmu = 1;
                qxObjectRef ref{};
                int found = 0;
                qxGetFieldID(L, tablePos, "bgpic", &ref, &found);
                if (!found) return ERR_MISSINGPARAMTR;
                fx.emuBGPic = qxFindBGPicRecord(ref);
                if (!fx.emuBGPic) {
                    if (ref.automatic) return ERR_FINDARRAY;
                    qxSetErrorNumber(int(ref.number));
                    return ERR_FINDBGPIC;
                }
            }
        }
    } else {
        fx.effect = intArg(L, effectPos, QX_FX_RANDOMEFFECT);
        fx.speed = intArg(L, 3, QX_FX_NORMALSPEED);
        fx.parameter = intArg(L, 4, QX_FX_RANDOMPARAMETER);
    }
    if (mode == QX_FXMODE_HIDELAYER || mode == QX_FXMODE_REMOVELAYER) fx.reverse = 1;
    return run(fx);
}

} // namespace

int qxCmdDisplayBrushFX(lua_State *L)
{
    return objectCommand(L, QX_FXMODE_BRUSH);
}

int qxCmdDisplayTextObjectFX(lua_State *L)
{
    return objectCommand(L, QX_FXMODE_TEXTOBJECT);
}

int qxCmdDisplayBGPicPartFX(lua_State *L)
{
    qxCheckArgCount(L, 5, 11, 0, 0);
    qxTransitionFX fx{};
    fx.L = L, fx.mode = QX_FXMODE_BGPICPART;
    fx.object = qxGetObjectIDArg(L, 1);
    fx.srcX = intArg(L, 2, 0), fx.srcY = intArg(L, 3, 0);
    fx.width = intArg(L, 4, 0), fx.height = intArg(L, 5, 0);
    if (tableAt(L, 6)) {
        fx.x = fx.srcX, fx.y = fx.srcY;
        qxFXReadOptions(L, 6, &fx);
    } else {
        effectArgs(L, 6, fx);
        fx.x = intArg(L, 9, fx.srcX);
        fx.y = intArg(L, 10, fx.srcY);
        fx.layers = intArg(L, 11, 0) != 0;
    }
    if (fx.layers && !layersOn()) return ERR_WRONGUSAGE;
    return run(fx);
}

int qxCmdDisplayTransitionFX(lua_State *L)
{
    qxCheckArgCount(L, 1, 4, 0, 0);
    return layerCommand(L, QX_FXMODE_BGPIC, nullptr);
}

int qxCmdShowLayerFX(lua_State *L)
{
    qxCheckArgCount(L, 1, 4, 0, 0);
    return layerCommand(L, QX_FXMODE_SHOWLAYER, nullptr);
}

int qxCmdHideLayerFX(lua_State *L)
{
    qxCheckArgCount(L, 1, 4, 0, 0);
    return layerCommand(L, QX_FXMODE_HIDELAYER, nullptr);
}

int qxCmdRemoveLayerFX(lua_State *L)
{
    qxCheckArgCount(L, 1, 4, 0, 0);
    return layerCommand(L, QX_FXMODE_REMOVELAYER, nullptr);
}

int qxCmdUndoFX(lua_State *L)
{
    qxCheckArgCount(L, 2, 6, 0, 0);
    if (!layersOn()) return ERR_NOLAYERS;
    qxTransitionFX fx{};
    fx.L = L, fx.mode = QX_FXMODE_REMOVELAYER;
    fx.objectType = intArg(L, 1, 0);
    fx.object = qxGetObjectIDArg(L, 2);
    if (tableAt(L, 3)) {
        qxFXReadOptions(L, 3, &fx);
    } else {
        effectArgs(L, 3, fx);
        fx.undoLevel = intArg(L, 6, 1);
    }
    fx.reverse = 1;
    int32_t index = 0;
    if (!qxFXHook.undoLookup) return ERR_FINDARRAY;
    if (int e = qxFXHook.undoLookup(L, fx.objectType, fx.object, fx.undoLevel, &index)) return e;
    fx.object = {uint32_t(index), nullptr};
    return run(fx);
}

int qxCmdClearScreen(lua_State *L)
{
    qxCheckArgCount(L, 1, 4, 0, 0);
    qxDisplay *d = qxCurrentDisplay;
    if (!d || !d->bgpic) return ERR_WRONGUSAGE;
    const uint32_t colour = uint32_t(intArg(L, 2, 0)) & 0xFFFFFF;
    qxBGPic *temporary = nullptr;
    qxObjectRef ref{0, QX_NEW_AUTOMATIC};
    if (int e = qxCreateBGPicFromBitmap(&ref, d->bgpic->width, d->bgpic->height, colour, &temporary)) return e;
    const int r = layerCommand(L, QX_FXMODE_BGPIC, temporary);
    // Freed at once, or, while a display shows it, when it shows another.
    if (qxFindDisplayForBGPic(temporary)) temporary->pendingDeletion = 1;
    else qxFreeBGPicRecord(L, temporary);
    return r;
}

int qxCmdGetRandomFX(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    lua_pushnumber(L, qxFXRandomEffect(luaL_checknumber(L, 1) != 0));
    return 1;
}
