// GetAttribute of the image objects: BGPics (1), brushes (3), anims (4)
// and icons (59).
#include "core/commands/qx_args.h"
#include "core/vm/lauxlib.h"
#include "display/qx_bgpic.h"
#include "display/qx_display.h"
#include "display/qx_displaylibs.h"
#include "display/qx_clipregion.h"
#include "objects/qx_anim.h"
#include "objects/qx_bgpicobj.h"
#include "objects/qx_brush.h"
#include "objects/qx_icon.h"
#include "objects/qx_objectlink.h"
#include "objects/qx_picsource.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"

#include <algorithm>

namespace {

enum : int {
    kWidth = 0, kHeight = 1, kTransparent = 5, kLayers = 6, kType = 9, kFrames = 11, kHasMask = 16,
    kHasAlpha = 17, kFrameDelay = 37, kClipRegion = 39, kHardware = 73, kDisplay = 85, kLoader = 91,
    kSprites = 95, kEntries = 98, kStandard = 99,
};

int push(lua_State *L, double v)
{
    lua_pushnumber(L, v);
    return 1;
}

int pushText(lua_State *L, const char *text)
{
    lua_pushstring(L, text);
    return 1;
}

// The 1-based index argument of GetAttribute (1 when absent).
int64_t indexArg(lua_State *L)
{
    return lua_gettop(L) >= 4 && !lua_isnil(L, 4) ? (int64_t)luaL_checknumber(L, 4) : 1;
}

int bgpicAttribute(lua_State *L, qxObjectRef ref, int attribute)
{
    qxBGPic *b = nullptr;
    if (int r = qxFindBGPic(L, ref, &b, 0)) return -r;
    switch (attribute) {
    case kWidth: return push(L, b->width);
    case kHeight: return push(L, b->height);
    case kTransparent: return push(L, b->transparentColour);
    case kLayers: return push(L, b->layers.count);
    case kType: return push(L, b->kind == 1 && b->source ? 1 : 0);
    case kHasMask: return push(L, b->mask ? 1 : 0);
    case kHasAlpha: return push(L, b->alpha ? 1 : 0);
    case kClipRegion: {
        // The output's clip region, whichever BGPic is asked.
        const auto *r = qxCurrentDisplay ? static_cast<const qxClipRegion *>(qxCurrentDisplay->clipRegion) : nullptr;
        return r ? qxPushObjectID(L, r->id) : push(L, -1);
    }
    case kLoader: return pushText(L, qxLoaderName(b->loader));
    case kSprites: {
        auto count = qxLayerQueries.countDisplayedSprites;
        return push(L, count ? count(b) : 0);
    }
    default: return -ERR_UNKNOWNATTR;
    }
}

int brushAttribute(lua_State *L, qxObjectRef ref, int attribute)
{
    qxBrush *b = nullptr;
    if (int r = qxFindBrush(L, ref, &b, 16)) return -r;
    switch (attribute) {
    case kWidth: return push(L, b->width);
    case kHeight: return push(L, b->height);
    case kTransparent: return push(L, b->transparentColour);
    case kType: return push(L, b->kind);
    case kHasMask: return push(L, b->hardware ? (b->hardwareFlags & 1) : b->mask != nullptr);
    case kHasAlpha: return push(L, b->hardware ? (b->hardwareFlags >> 1 & 1) : b->alpha != nullptr);
    case kHardware: return push(L, b->hardware ? 1 : 0);
    // The display whose adapter holds the bitmap, named or not at creation.
    case kDisplay:
        return b->hardware && b->display ? qxPushObjectID(L, {b->display->header.id, b->display->header.automatic})
                                         : push(L, -1);
    case kLoader: return pushText(L, qxLoaderName(b->loader));
    default: return -ERR_UNKNOWNATTR;
    }
}

// Whether any frame has the plane: drawing into one frame's mask or alpha
// channel gives that frame alone one.
template <class Plane> bool anyFramePlane(Plane *const *planes, uint32_t frames)
{
    return planes && std::any_of(planes, planes + frames, [](const Plane *p) { return p != nullptr; });
}

int animAttribute(lua_State *L, qxObjectRef ref, int attribute)
{
    qxAnim *a = nullptr;
    if (int r = qxFindAnim(L, ref, &a, 0)) return -r;
    switch (attribute) {
    case kWidth: return push(L, a->width);
    case kHeight: return push(L, a->height);
    case kTransparent: return push(L, a->transparentColour);
    case kFrames: return push(L, a->frameCount);
    case kHasMask: return push(L, anyFramePlane(a->masks, a->frameCount) ? 1 : 0);
    case kHasAlpha: return push(L, anyFramePlane(a->alphas, a->frameCount) ? 1 : 0);
    case kFrameDelay: {
        const int64_t frame = indexArg(L);
        if (frame < 1 || frame > int64_t(a->frameCount)) return -ERR_ANIMFRAME;
        return push(L, qxGetAnimFrameDelay(a, uint32_t(frame - 1)));
    }
    case kLoader: return pushText(L, qxLoaderName(a->loader));
    default: return -ERR_UNKNOWNATTR;
    }
}

int iconAttribute(lua_State *L, qxObjectRef ref, int attribute)
{
    qxIcon *icon = nullptr;
    if (int r = qxFindIcon(ref, &icon)) return -r;
    uint32_t count = 0, standard = 0;
    for (const qxIconEntry *e = icon->entries; e; e = e->next) {
        count++;
        if (e->standard && !standard) standard = count;
    }
    if (attribute == kEntries) return push(L, count);
    if (attribute == kStandard) return push(L, standard);
    if (attribute != kWidth && attribute != kHeight && attribute != kFrames) return -ERR_UNKNOWNATTR;
    const int64_t index = indexArg(L);
    const qxIconEntry *e = icon->entries;
    for (int64_t i = 1; e && i < index; i++) e = e->next;
    if (index < 1 || !e) return -ERR_ICONENTRY;
    if (attribute == kWidth) return push(L, e->width);
    if (attribute == kHeight) return push(L, e->height);
    return push(L, e->selected || e->selectedSource ? 2 : 1);
}

} // namespace

extern "C" void qxLinkImageAttributes(void)
{
    qxObjectRefAttributes[QX_TYPE_BGPIC] = bgpicAttribute;
    qxObjectRefAttributes[QX_TYPE_BRUSH] = brushAttribute;
    qxObjectRefAttributes[QX_TYPE_ANIM] = animAttribute;
    qxObjectRefAttributes[QX_TYPE_ICON] = iconAttribute;
}
