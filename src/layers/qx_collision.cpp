// Collision: whether two brushes, boxes or layers touch, pixel-exact where
// masks or alpha channels exist.
#include <algorithm>
#include <cmath>

#include "core/commands/qx_args.h"
#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "display/qx_bitmapplanes.h"
#include "display/qx_clipregion.h"
#include "display/qx_display.h"
#include "layers/qx_layer.h"
#include "layers/qx_sprite.h"
#include "objects/qx_brush.h"
#include "platform/qx_errcodes.h"

namespace {

enum : uint32_t {
    C_BRUSH = 3, C_BOX = 14, C_LAYER = 22, C_SPRITE = 32, C_BRUSH_VS_BOX = 46, C_LAYER_VS_BOX = 47,
    C_SPRITE_VS_BOX = 48, C_SPRITE_VS_BRUSH = 58,
};

// One image of a test: its planes and where the rectangle starts in them.
struct Solid {
    qxPlane mask, alpha;
    int32_t offx, offy;
    const qxClipRegion *clip;
    int32_t x, y; // the rectangle's place on screen, for the clip

    bool hasPlanes() const { return mask.bytes || alpha.bytes; }
    // Solid where every plane the image has is set.
    bool at(int32_t i, int32_t j) const
    {
        const int64_t px = int64_t(offx) + i, py = int64_t(offy) + j;
        if (mask.bytes) {
            if (px < 0 || py < 0 || px >= mask.width || py >= mask.height) return false;
            if (!(mask.bytes[py * mask.bytesPerRow + px / 8] & (0x80 >> (px & 7)))) return false;
        }
        if (alpha.bytes) {
            if (px < 0 || py < 0 || px >= alpha.width || py >= alpha.height) return false;
            if (!alpha.bytes[py * alpha.bytesPerRow + px]) return false;
        }
        return true;
    }
    bool clipped(int32_t sx, int32_t sy) const
    {
        if (!clip || !clip->mask) return true;
        const int64_t cx = int64_t(sx) - clip->x, cy = int64_t(sy) - clip->y;
        if (cx < 0 || cy < 0 || cx >= clip->width || cy >= clip->height) return false;
        const auto *bits = static_cast<const uint8_t *>(clip->mask);
        return bits[cy * clip->maskBytesPerRow + cx / 8] & (0x80 >> (cx & 7));
    }
};

int32_t argInt(lua_State *L, int arg) { return luaL_checkint(L, arg); }

int brushSolid(lua_State *L, int arg, Solid *s, int32_t *w, int32_t *h)
{
    qxBrush *b = nullptr;
    if (int r = qxFindBrush(L, qxGetObjectIDArg(L, arg), &b, QX_FIND_NOCOPY | QX_FIND_HARDWARE)) return r;
    *s = {qxPlaneOf(b->mask), qxPlaneOf(b->alpha), 0, 0, nullptr, 0, 0};
    *w = int32_t(b->width), *h = int32_t(b->height);
    return 0;
}

// A sprite on screen: its rectangle and the planes of its current frame.
int spriteSolid(lua_State *L, int arg, Solid *s, int32_t *x, int32_t *y, int32_t *w, int32_t *h)
{
    qxSpriteOnScreen *e = nullptr;
    if (int r = qxFindDisplayedSprite(qxGetObjectIDArg(L, arg), &e, nullptr)) return r;
    qxBitMap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    if (int r = qxGetSpriteFrame(e->owner, e->frame - 1, &bitmap, &mask, &alpha)) return r;
    *x = e->x, *y = e->y, *w = e->width, *h = e->height;
    *s = {qxPlaneOf(mask), qxPlaneOf(alpha), 0, 0, nullptr, *x, *y};
    return 0;
}

// A layer's on-screen rectangle cut to its clip region; with planes, the
// picture's mask and alpha too.
int layerSolidOf(lua_State *L, const qxLayer *l, bool planes, Solid *s, int32_t *x, int32_t *y, int32_t *w,
                 int32_t *h)
{
    if (l->type == QX_TYPE_NOOBJECT) return ERR_WRONGUSAGE;
    const qxLayerData *d = l->onscreen;
    qxBitMap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    int32_t sx = 0, sy = 0;
    if (planes)
        if (int r = qxGetLayerImage(L, l, &bitmap, &mask, &alpha, &sx, &sy)) return r;
    *x = d->left, *y = d->top, *w = d->dwidth, *h = d->dheight;
    const auto *clip = static_cast<const qxClipRegion *>(d->clip);
    if (clip) {
        const int32_t x0 = *x, y0 = *y;
        if (!qxIntersectRect(x, y, w, h, clip->x, clip->y, clip->width, clip->height)) *w = *h = 0;
        sx += *x - x0, sy += *y - y0;
    }
    *s = {qxPlaneOf(mask), qxPlaneOf(alpha), sx, sy, clip, *x, *y};
    return 0;
}

int layerSolid(lua_State *L, int arg, Solid *s, int32_t *x, int32_t *y, int32_t *w, int32_t *h)
{
    int32_t n = 0;
    qxBGPic *b = qxLayerBGPic();
    if (int r = qxGetLayerArg(L, arg, b, &n)) return r;
    const qxLayer *l = qxGetLayerByIndex(b, n);
    if (!l) return ERR_LAYERRANGE;
    return layerSolidOf(L, l, true, s, x, y, w, h);
}

int collide(const Solid &a, int32_t x1, int32_t y1, int32_t w1, int32_t h1, const Solid &b, int32_t x2, int32_t y2,
            int32_t w2, int32_t h2)
{
    int32_t ox = x1, oy = y1, ow = w1, oh = h1;
    if (w1 < 1 || h1 < 1 || w2 < 1 || h2 < 1 || !qxIntersectRect(&ox, &oy, &ow, &oh, x2, y2, w2, h2)) return 0;
    const bool clipMasks = (a.clip && a.clip->mask) || (b.clip && b.clip->mask);
    if (!a.hasPlanes() && !b.hasPlanes() && !clipMasks) return 1;
    for (int32_t j = 0; j < oh; ++j)
        for (int32_t i = 0; i < ow; ++i) {
            const int32_t sx = ox + i, sy = oy + j;
            if (a.at(sx - x1, sy - y1) && b.at(sx - x2, sy - y2) && a.clipped(sx, sy) && b.clipped(sx, sy)) return 1;
        }
    return 0;
}

} // namespace

extern "C" int qxLayerHitAt(lua_State *L, const qxLayer *layer, int32_t x, int32_t y, int exact)
{
    Solid s{}, point{};
    int32_t lx, ly, lw, lh;
    if (layerSolidOf(L, layer, exact != 0, &s, &lx, &ly, &lw, &lh)) return 0;
    return collide(s, lx, ly, lw, lh, point, x, y, 1, 1);
}

extern "C" int qxCollidePixels(int32_t x1, int32_t y1, int32_t w1, int32_t h1, qxBitMap *mask1, qxBitMap *alpha1,
                               int32_t offx1, int32_t offy1, int32_t x2, int32_t y2, int32_t w2, int32_t h2,
                               qxBitMap *mask2, qxBitMap *alpha2, int32_t offx2, int32_t offy2, void *clip1,
                               void *clip2)
{
    const Solid a{qxPlaneOf(mask1), qxPlaneOf(alpha1), offx1, offy1, static_cast<qxClipRegion *>(clip1), x1, y1};
    const Solid b{qxPlaneOf(mask2), qxPlaneOf(alpha2), offx2, offy2, static_cast<qxClipRegion *>(clip2), x2, y2};
    return collide(a, x1, y1, w1, h1, b, x2, y2, w2, h2);
}

extern "C" int qxCmdCollision(lua_State *L)
{
    qxCheckArgCount(L, 3, 0, 0, 0);
    const int type = luaL_checkint(L, 1);
    int hit = 0;
    Solid s1{}, s2{}; // boxes have no planes
    int32_t x1 = 0, y1 = 0, w1 = 0, h1 = 0, x2 = 0, y2 = 0, w2 = 0, h2 = 0;
    switch (type) {
    case C_BRUSH:
        if (int r = brushSolid(L, 2, &s1, &w1, &h1)) return r;
        if (int r = brushSolid(L, 5, &s2, &w2, &h2)) return r;
        x1 = argInt(L, 3), y1 = argInt(L, 4), x2 = argInt(L, 6), y2 = argInt(L, 7);
        break;
    case C_BRUSH_VS_BOX:
        if (int r = brushSolid(L, 2, &s1, &w1, &h1)) return r;
        x1 = argInt(L, 3), y1 = argInt(L, 4);
        x2 = argInt(L, 5), y2 = argInt(L, 6), w2 = argInt(L, 7), h2 = argInt(L, 8);
        break;
    case C_BOX:
        x1 = argInt(L, 2), y1 = argInt(L, 3), w1 = argInt(L, 4), h1 = argInt(L, 5);
        x2 = argInt(L, 6), y2 = argInt(L, 7), w2 = argInt(L, 8), h2 = argInt(L, 9);
        break;
    case C_LAYER:
    case C_LAYER_VS_BOX: {
        qxDisplay *d = qxCurrentDisplay;
        if (!d || !d->layersEnabled) return ERR_NOLAYERS;
        if (int r = layerSolid(L, 2, &s1, &x1, &y1, &w1, &h1)) return r;
        if (type == C_LAYER) {
            if (int r = layerSolid(L, 3, &s2, &x2, &y2, &w2, &h2)) return r;
        } else {
            const double sx = d->layerScale ? d->scaleX : 1.0, sy = d->layerScale ? d->scaleY : 1.0;
            auto scaled = [](int32_t v, double f) {
                const double r = std::trunc(v * f);
                return r >= 2147483647.0 ? INT32_MAX : r <= -2147483648.0 ? INT32_MIN : int32_t(r);
            };
            x2 = scaled(argInt(L, 3), sx), y2 = scaled(argInt(L, 4), sy);
            w2 = scaled(argInt(L, 5), sx), h2 = scaled(argInt(L, 6), sy);
        }
        break;
    }
    case C_SPRITE:
        if (int r = spriteSolid(L, 2, &s1, &x1, &y1, &w1, &h1)) return r;
        if (int r = spriteSolid(L, 3, &s2, &x2, &y2, &w2, &h2)) return r;
        break;
    case C_SPRITE_VS_BOX:
        if (int r = spriteSolid(L, 2, &s1, &x1, &y1, &w1, &h1)) return r;
        x2 = argInt(L, 3), y2 = argInt(L, 4), w2 = argInt(L, 5), h2 = argInt(L, 6);
        break;
    case C_SPRITE_VS_BRUSH:
        if (int r = spriteSolid(L, 2, &s1, &x1, &y1, &w1, &h1)) return r;
        if (int r = brushSolid(L, 3, &s2, &w2, &h2)) return r;
        x2 = argInt(L, 4), y2 = argInt(L, 5);
        break;
    default: return ERR_WRONGUSAGE;
    }
    hit = collide(s1, x1, y1, w1, h1, s2, x2, y2, w2, h2);
    lua_pushnumber(L, hit);
    return 1;
}
