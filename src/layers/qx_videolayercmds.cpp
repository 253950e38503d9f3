// The video layer commands of the layers library: PlayLayer, StopLayer,
// PauseLayer, ResumeLayer, SeekLayer and SetLayerVolume.
#include "layers/qx_videolayercmds.h"

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "layers/qx_layer.h"
#include "platform/qx_errcodes.h"

qxVideoLayerCallTable qxVideoLayerCalls;

namespace {

// The applet version, the layer-mode guard, the layer and its type, in
// that order.
int videoLayerArg(lua_State *L, int args, qxLayer **out)
{
    qxCheckArgCount(L, args, args, 0, 0);
    if (!qxRequireVersion(6, 0)) {
        return ERR_OLDAPPLET;
    }
    if (int r = qxLayerModeGuard(nullptr)) return r;
    qxBGPic *b = qxLayerBGPic();
    int32_t n = 0;
    if (int r = qxGetLayerArg(L, 1, b, &n)) return r;
    *out = qxGetLayerByIndex(b, n);
    if (!*out) return ERR_LAYERRANGE;
    return (*out)->type == QX_LAYER_VIDEO ? 0 : ERR_BADLAYERTYPE;
}

int call(lua_State *L, int (*fn)(lua_State *, qxLayer *))
{
    qxLayer *l = nullptr;
    if (int r = videoLayerArg(L, 1, &l)) return r;
    return fn ? fn(L, l) : ERR_BADLAYERTYPE;
}

} // namespace

extern "C" {

int qxCmdPlayLayer(lua_State *L) { return call(L, qxVideoLayerCalls.play); }
int qxCmdStopLayer(lua_State *L) { return call(L, qxVideoLayerCalls.stop); }
int qxCmdPauseLayer(lua_State *L) { return call(L, qxVideoLayerCalls.pause); }
int qxCmdResumeLayer(lua_State *L) { return call(L, qxVideoLayerCalls.resume); }

int qxCmdSeekLayer(lua_State *L)
{
    qxLayer *l = nullptr;
    if (int r = videoLayerArg(L, 2, &l)) return r;
    const double frame = luaL_checknumber(L, 2);
    return qxVideoLayerCalls.seek ? qxVideoLayerCalls.seek(L, l, frame) : ERR_BADLAYERTYPE;
}

int qxCmdSetLayerVolume(lua_State *L)
{
    qxLayer *l = nullptr;
    if (int r = videoLayerArg(L, 2, &l)) return r;
    // A number, or a percentage of 64.
    const double volume = qxGetNumberOrPercentArg(L, 2, 64, 0, nullptr);
    return qxVideoLayerCalls.setVolume ? qxVideoLayerCalls.setVolume(L, l, volume) : ERR_BADLAYERTYPE;
}
}
