// CreateClipRegion, SetClipRegion and FreeClipRegion for box and shape regions.
#include "display/qx_clipregion.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "core/commands/qx_args.h"
#include "core/vm/lauxlib.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmap.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapplanes.h"
#include "display/qx_gfxgeom.h"
#include "display/qx_display.h"
#include "display/qx_planesources.h"
#include "display/qx_positions.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"

namespace {

constexpr uint32_t kTypeClipRegion = 35;
constexpr int kBox = 14, kShape = 28, kTypeMask = 28, kTypeAlpha = 30;

qxClipRegion *gRegions = nullptr;

void release(qxClipRegion *r)
{
    // Sprites and layers keep no pointer to a region that goes.
    if (qxLayerQueries.clearClipLinks) qxLayerQueries.clearClipLinks(r);
    for (qxDisplay *d = qxDisplays; d; d = static_cast<qxDisplay *>(d->header.next))
        if (d->clipRegion == r)
            d->clipRegion = nullptr;
    for (qxClipRegion **p = &gRegions; *p; p = &(*p)->next)
        if (*p == r) {
            *p = r->next;
            break;
        }
    qxFreeMaskBitMap(static_cast<qxBitMap *>(r->mask));
    std::free(r);
}

bool usedByLayers(const qxClipRegion *r)
{
    return qxLayerQueries.clipRegionUsed && qxLayerQueries.clipRegionUsed(r);
}

// A region layers still show under stays with them as an orphan, out of
// the script's reach, until the last of them lets go.
void detach(qxClipRegion *r)
{
    if (!usedByLayers(r)) {
        release(r);
        return;
    }
    for (qxDisplay *d = qxDisplays; d; d = static_cast<qxDisplay *>(d->header.next))
        if (d->clipRegion == r)
            d->clipRegion = nullptr;
    r->orphaned = 1;
    r->id = {0, nullptr};
}

bool argInt(lua_State *L, int n, int *out)
{
    double v = luaL_checknumber(L, n);
    if (!std::isfinite(v) || std::fabs(v) > 2e9)
        return false;
    *out = (int)v;
    return true;
}

} // namespace

int qxFindClipRegion(qxObjectRef id, qxClipRegion **out)
{
    *out = nullptr;
    for (qxClipRegion *r = gRegions; r; r = r->next)
        if (!r->orphaned && r->id.automatic == id.automatic && r->id.number == id.number) {
            *out = r;
            return 0;
        }
    if (id.automatic)
        return ERR_FINDARRAY;
    qxSetErrorNumber((int)id.number);
    return ERR_FINDCLIPREGION;
}

uint32_t qxClipRegionCount(void)
{
    uint32_t n = 0;
    for (qxClipRegion *r = gRegions; r; r = r->next)
        n += r->orphaned ? 0 : 1;
    return n;
}

void qxFreeAllClipRegions(void)
{
    while (gRegions)
        release(gRegions);
}

int qxCmdCreateClipRegion(lua_State *L)
{
    qxCheckArgCount(L, 2, 6, 0, 0);
    int automatic = 0;
    uint32_t number = qxGetNewIDArg(L, 1, &automatic);
    int type = 0;
    if (!argInt(L, 2, &type))
        return ERR_WRONGUSAGE;
    int x, y, w, h;
    qxBitMap *brushMask = nullptr;
    if (type == kShape) {
        if (lua_gettop(L) < 5 || !qxPlaneSources.brush)
            return ERR_WRONGUSAGE;
        qxBitMap *bitmap, *alpha;
        uint32_t bw, bh;
        if (int e = qxPlaneSources.brush(L, qxGetObjectIDArg(L, 3), &bitmap, &brushMask, &alpha, &bw, &bh))
            return e;
        if (!brushMask)
            return ERR_NOMASKBRUSH;
        if (!argInt(L, 4, &x) || !argInt(L, 5, &y))
            return ERR_WRONGUSAGE;
        w = int(bw), h = int(bh);
    } else {
        if (type != kBox || lua_gettop(L) < 6)
            return ERR_WRONGUSAGE;
        if (!argInt(L, 3, &x) || !argInt(L, 4, &y) || !argInt(L, 5, &w) || !argInt(L, 6, &h))
            return ERR_WRONGUSAGE;
        if (w < 1 || h < 1)
            return ERR_BADDIMENSIONS;
    }
    int ow, oh;
    qxCurrentOutputSize(&ow, &oh);
    x = qxResolvePosX(x, w, ow, 0.0);
    y = qxResolvePosY(y, h, oh, 0.0);
    if ((int64_t)x + w < 1 || (int64_t)y + h < 1)
        return ERR_WRONGUSAGE;
    qxBitMap *mask = brushMask;
    if (mask) {
        // The region keeps its own copy: the brush may go or change.
        if (qxNormaliseClipMask(&x, &y, &w, &h, &mask, 1, 0))
            return ERR_MEM;
    } else {
        if (x < 0) {
            w += x;
            x = 0;
        }
        if (y < 0) {
            h += y;
            y = 0;
        }
    }
    auto *r = static_cast<qxClipRegion *>(std::calloc(1, sizeof(qxClipRegion)));
    if (!r) {
        qxFreeMaskBitMap(mask);
        return ERR_MEM;
    }
    if (!automatic) {
        qxClipRegion *old;
        if (qxFindClipRegion({number, nullptr}, &old) == 0)
            detach(old);
        r->id = {number, nullptr};
    } else {
        r->id = {0, r};
    }
    r->type = kTypeClipRegion;
    r->x = x;
    r->y = y;
    r->width = w;
    r->height = h;
    if (mask) {
        r->mask = mask;
        r->maskBytesPerRow = uint32_t(qxPlaneOf(mask).bytesPerRow);
    }
    r->next = gRegions;
    gRegions = r;
    if (automatic)
        return qxPushObjectID(L, r->id);
    return 0;
}

int qxCmdSetClipRegion(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxDisplay *d = qxCurrentDisplay;
    if (!d)
        return ERR_WRONGUSAGE;
    if (d->targetType == kTypeMask || d->targetType == kTypeAlpha)
        return ERR_WRONGUSAGE;
    int ow, oh;
    qxCurrentOutputSize(&ow, &oh);
    qxObjectRef id = qxGetObjectIDArg(L, 1);
    if (!id.automatic && (id.number == 0 || (int32_t)id.number == -1)) {
        d->clipRegion = nullptr;
        d->cursorX = d->cursorY = 0;
        d->cursorLeftMargin = 0;
        d->cursorRightMargin = ow - 1;
        return 0;
    }
    qxClipRegion *r;
    if (int e = qxFindClipRegion(id, &r))
        return e;
    if ((int64_t)r->x + r->width > ow || (int64_t)r->y + r->height > oh)
        return ERR_WRONGCLIPREG;
    d->clipRegion = r;
    d->cursorX = r->x;
    d->cursorY = 0;
    d->cursorLeftMargin = r->x;
    d->cursorRightMargin = r->x + r->width - 1;
    return 0;
}

int qxCmdFreeClipRegion(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxClipRegion *r;
    if (int e = qxFindClipRegion(qxGetObjectIDArg(L, 1), &r))
        return e;
    detach(r);
    return 0;
}

qxClipRegion *qxTransformClipRegion(const qxClipRegion *r, const double m[4], const double bounds[4],
                                    qxBitMap *shapeMask)
{
    if (!r || !m || !bounds || (r->mask && !shapeMask)) {
        qxFreeMaskBitMap(shapeMask);
        return nullptr;
    }
    // The region's pixel edges, so a quarter turn maps it onto whole pixels.
    const double ax = bounds[0], ay = bounds[1];
    const double X[4] = {r->x - ax, r->x + double(r->width) - ax, r->x + double(r->width) - ax, r->x - ax};
    const double Y[4] = {r->y - ay, r->y - ay, r->y + double(r->height) - ay, r->y + double(r->height) - ay};
    double tx[4], ty[4], minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
    for (int k = 0; k < 4; ++k) {
        tx[k] = X[k] * m[0] + Y[k] * m[2] + bounds[2], ty[k] = X[k] * m[1] + Y[k] * m[3] + bounds[3];
        if (!std::isfinite(tx[k]) || !std::isfinite(ty[k])) {
            qxFreeMaskBitMap(shapeMask);
            return nullptr;
        }
        minX = std::min(minX, tx[k]), maxX = std::max(maxX, tx[k]);
        minY = std::min(minY, ty[k]), maxY = std::max(maxY, ty[k]);
    }
    auto whole = [](double v) { return std::clamp(std::floor(v + 0.5), -1e9, 1e9); };
    int32_t x = int32_t(whole(minX)), y = int32_t(whole(minY));
    int32_t w = int32_t(whole(maxX)) - x, h = int32_t(whole(maxY)) - y;
    auto *c = static_cast<qxClipRegion *>(std::calloc(1, sizeof(qxClipRegion)));
    if (!c) {
        qxFreeMaskBitMap(shapeMask);
        return nullptr;
    }
    *c = *r;
    c->next = nullptr;
    c->mask = nullptr;
    c->maskBytesPerRow = 0;
    c->isCopy = 1;
    c->locked = 0;
    // Upright when the matrix keeps edges on the axes.
    const bool upright = (m[1] == 0 && m[2] == 0) || (m[0] == 0 && m[3] == 0);
    if (shapeMask) {
        // The transformed shape decides the size; its position is the bounds'.
        qxBitMap *mask = shapeMask;
        const qxPlane plane = qxPlaneOf(mask);
        w = plane.width, h = plane.height;
        if (!plane.bytes || qxNormaliseClipMask(&x, &y, &w, &h, &mask, 0, 1)) {
            qxFreeMaskBitMap(shapeMask);
            std::free(c);
            return nullptr;
        }
        c->mask = mask;
        c->maskBytesPerRow = uint32_t(qxPlaneOf(mask).bytesPerRow);
    } else if (!upright && w > 0 && h > 0) {
        if (int64_t(w) * h > (int64_t(1) << 30)) {
            std::free(c);
            return nullptr;
        }
        auto *mask = qxAllocMaskBitMap(nullptr, uint32_t(w), uint32_t(h), 1, nullptr, 0);
        qxPoint pts[4];
        int32_t scratch[4];
        if (!mask) {
            std::free(c);
            return nullptr;
        }
        for (int k = 0; k < 4; ++k) pts[k] = {int32_t(whole(tx[k])) - x, int32_t(whole(ty[k])) - y};
        qxFillMaskPolygon(mask, pts, 4, scratch);
        if (qxNormaliseClipMask(&x, &y, &w, &h, &mask, 0, 1)) {
            qxFreeMaskBitMap(mask);
            std::free(c);
            return nullptr;
        }
        c->mask = mask;
        c->maskBytesPerRow = uint32_t(qxPlaneOf(mask).bytesPerRow);
    } else {
        // Negative positions are cut; a region wholly off the output keeps nothing.
        if (x < 0) w += x, x = 0;
        if (y < 0) h += y, y = 0;
    }
    c->x = x, c->y = y, c->width = std::max(w, 0), c->height = std::max(h, 0);
    return c;
}

void qxFreeClipRegionRef(void *region)
{
    auto *r = static_cast<qxClipRegion *>(region);
    if (!r || !r->isCopy) {
        if (r && r->orphaned && !usedByLayers(r)) release(r);
        return;
    }
    qxFreeMaskBitMap(static_cast<qxBitMap *>(r->mask));
    std::free(r);
}
