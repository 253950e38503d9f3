// GetAttribute of layers (type 22) and the layer side of the object data
// commands: the layer named by position or name on the current layer BGPic.
#include "core/commands/qx_args.h"
#include "core/commands/qx_objreg.h"
#include "core/vm/lauxlib.h"
#include "display/qx_bgpic.h"
#include "display/qx_display.h"
#include "display/qx_displaylibs.h"
#include "layers/qx_layer.h"
#include "objects/qx_anim.h"
#include "objects/qx_bgpicobj.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"

namespace {

qxLayerAttributeFunc typeAttributes[61];

enum : int {
    kWidth = 0, kHeight = 1, kLayers = 6, kXPos = 7, kYPos = 8, kType = 9, kVisible = 10, kFrames = 11,
    kCurFrame = 12, kLayerID = 13, kDuration = 14, kPosition = 18, kFormat = 19, kFontFirst = 30, kFontLast = 35,
    kText = 36, kFrameDelay = 37, kCount = 60, kGroup = 62, kRawX = 65, kRawY = 66, kRawWidth = 67,
    kRawHeight = 68, kCanSeek = 72, kZPos = 74, kID = 82, kPlaying = 83, kPaused = 84,
};

int push(lua_State *L, double v)
{
    lua_pushnumber(L, v);
    return 1;
}

bool textLayer(uint32_t type)
{
    return type == QX_TYPE_TEXTOBJECT || type == QX_LAYER_TEXTOUT || type == QX_LAYER_PRINT;
}

bool showsObject(uint32_t type)
{
    switch (type) {
    case QX_TYPE_BRUSH: case QX_TYPE_BRUSHPART: case QX_TYPE_BGPICPART: case QX_TYPE_ANIM:
    case QX_TYPE_TEXTOBJECT: case QX_LAYER_VECTORPATH: case QX_LAYER_VIDEO: return true;
    default: return false;
    }
}

// What only the layer type's library knows; refused with the type's code.
int typeAttribute(lua_State *L, const qxLayer *l, int attribute, int refusal)
{
    qxLayerAttributeFunc f = l->type < 61 ? typeAttributes[l->type] : nullptr;
    if (!f) return -refusal;
    const int r = f(L, l, attribute);
    return r == -ERR_UNKNOWNATTR ? -refusal : r;
}

int animFrames(lua_State *L, const qxLayer *l, int attribute)
{
    qxAnim *a = nullptr;
    if (int r = qxFindAnim(L, l->layerid, &a, 2)) return -r;
    if (attribute == kFrames) return push(L, a->frameCount);
    const int64_t frame = lua_gettop(L) >= 4 && !lua_isnil(L, 4) ? (int64_t)luaL_checknumber(L, 4)
                                                                 : int64_t(l->base->frame) + 1;
    if (frame < 1 || frame > int64_t(a->frameCount)) return -ERR_ANIMFRAME;
    return push(L, qxGetAnimFrameDelay(a, uint32_t(frame - 1)));
}

int layerAttribute(lua_State *L, qxObjectRef, int attribute)
{
    if (attribute == kCount) {
        if (!qxCurrentDisplay || !qxCurrentDisplay->layersEnabled) return -ERR_NOLAYERS;
        return push(L, qxCountLayers(qxLayerBGPic()));
    }
    qxLayer *l = nullptr;
    if (int r = qxFindLayerArg(L, 2, &l)) return -r;
    const qxLayerData *base = l->base, *shown = l->intermediate ? l->intermediate : base;
    switch (attribute) {
    case kWidth: return push(L, shown->dwidth);
    case kHeight: return push(L, shown->dheight);
    case kLayers: return push(L, qxCountAllLayers()); // of every BGPic
    case kXPos: return push(L, shown->left);
    case kYPos: return push(L, shown->top);
    case kType: return push(L, l->type);
    case kVisible: return push(L, l->hidden ? 0 : 1);
    case kLayerID:
    case kZPos: return push(L, qxLayerPosition(qxLayerBGPic(), l));
    case kGroup:
        lua_pushstring(L, l->group);
        return 1;
    case kRawX: return push(L, base->x);
    case kRawY: return push(L, base->y);
    case kRawWidth: return push(L, base->width);
    case kRawHeight: return push(L, base->height);
    case kID:
        if (!showsObject(l->type)) return -ERR_BADLAYERTYPE;
        return qxPushObjectID(L, l->layerid);
    case kFrames:
        if (l->type == QX_TYPE_ANIM) return animFrames(L, l, attribute);
        return l->type == QX_LAYER_VIDEO ? typeAttribute(L, l, attribute, ERR_BADLAYERTYPE) : -ERR_BADLAYERTYPE;
    case kCurFrame:
        if (l->type != QX_TYPE_ANIM) return -ERR_NOANMLAYER;
        return push(L, base->frame + 1);
    case kFrameDelay:
        if (l->type != QX_TYPE_ANIM) return -ERR_NOANMLAYER;
        return animFrames(L, l, attribute);
    case kDuration: case kPosition: case kFormat: case kCanSeek: case kPlaying: case kPaused:
        if (l->type != QX_LAYER_VIDEO) return -ERR_BADLAYERTYPE;
        return typeAttribute(L, l, attribute, ERR_BADLAYERTYPE);
    default:
        if ((attribute >= kFontFirst && attribute <= kFontLast) || attribute == kText) {
            if (!textLayer(l->type)) return -ERR_NOTXTLAYER;
            return typeAttribute(L, l, attribute, ERR_NOTXTLAYER);
        }
        return -ERR_UNKNOWNATTR;
    }
}

int layerDataList(lua_State *L, int arg, qxObjectDataItem ***out)
{
    qxLayer *l = nullptr;
    if (int r = qxFindLayerArg(L, arg, &l)) return r;
    *out = &l->data;
    return 0;
}

int pushLayerIDs(lua_State *L)
{
    if (!qxCurrentDisplay || !qxCurrentDisplay->layersEnabled) return 0;
    const int n = qxCountLayers(qxLayerBGPic());
    for (int i = 0; i < n; ++i) {
        lua_pushnumber(L, i + 1);
        lua_rawseti(L, -2, i);
    }
    return n;
}

} // namespace

extern "C" int qxFindLayerArg(lua_State *L, int arg, qxLayer **out)
{
    if (!qxCurrentDisplay || !qxCurrentDisplay->layersEnabled) return ERR_NOLAYERS;
    const qxBGPic *b = qxLayerBGPic();
    int32_t position;
    if (lua_type(L, arg) == LUA_TSTRING) {
        position = qxFindLayerByName(b, lua_tostring(L, arg));
    } else {
        const double v = luaL_checknumber(L, arg);
        position = v >= 1 && v <= 2147483647.0 ? int32_t(v) : 0;
    }
    *out = qxGetLayerByIndex(b, position);
    return *out ? 0 : ERR_LAYERRANGE;
}

extern "C" void qxRegisterLayerAttribute(uint32_t type, qxLayerAttributeFunc attribute)
{
    if (type < 61) typeAttributes[type] = attribute;
}

extern "C" void qxLinkLayerAttributes(void)
{
    qxObjectRefAttributes[QX_TYPE_LAYER] = layerAttribute;
    qxLayerQueries.layerDataList = layerDataList;
    qxLayerQueries.pushLayerIDs = pushLayerIDs;
}
