// Position constants, #KEEPASPRAT sizes and the pointer commands that move,
// show and hide the current display's pointer.
#include "display/qx_positions.h"

#include <cmath>
#include <cstdint>
#include <initializer_list>

#include "core/commands/qx_args.h"
#include "core/vm/lauxlib.h"
#include "display/qx_adapter.h"
#include "display/qx_bgpic.h"
#include "display/qx_clipregion.h"
#include "display/qx_display.h"
#include "display/qx_pointer.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"
#include "platform/x11/x11_display.h"

namespace {

constexpr int kKeepAspect = 100000;

bool within(int64_t v, int64_t constant)
{
    return v >= constant - 4999 && v <= constant + 4999;
}

// The area position constants refer to: the current clip region, else the
// output (a Select target or the display's BGPic); its offset in *offset.
void outputArea(int *w, int *h, int *offsetX, int *offsetY)
{
    *offsetX = *offsetY = 0;
    if (const qxDisplay *d = qxCurrentDisplay; d && d->clipRegion) {
        const auto *r = static_cast<const qxClipRegion *>(d->clipRegion);
        *w = r->width, *h = r->height, *offsetX = r->x, *offsetY = r->y;
        return;
    }
    qxCurrentOutputSize(w, h);
}

// The same table on both axes: near/far edge and the two outside positions.
int resolve(int v, int size, int area, double anchor, int64_t nearC, int64_t farC,
            int64_t beforeC, int64_t afterC, int offset)
{
    const int64_t t = (int64_t)std::trunc(size * anchor) + offset;
    const int64_t x = v, a = area, s = size;
    int64_t r;
    if (within(x, -100000))
        r = x + 100000 + (a - s) / 2 + t;
    else if (within(x, nearC))
        r = x - nearC + t;
    else if (within(x, farC))
        r = x - farC + (a - s) + t;
    else if (within(x, beforeC))
        r = x - beforeC + t - s;
    else if (within(x, afterC))
        r = x - afterC + a + t;
    else
        return v;
    return (int)r;
}

} // namespace

void qxCurrentOutputSize(int *width, int *height)
{
    const qxDisplay *d = qxCurrentDisplay;
    const qxBGPic *target = d && (d->targetType != 21 || d->doubleBuffer) && qxCurrentOutput ? qxCurrentOutput
                            : d                                                             ? d->bgpic
                                                                                            : nullptr;
    *width = target ? target->width : d ? d->width : 0;
    *height = target ? target->height : d ? d->height : 0;
}

int qxResolvePosX(int x, int width, int areaWidth, double anchor)
{
    int offset = 0;
    if (areaWidth == 0) {
        int h, oy;
        outputArea(&areaWidth, &h, &offset, &oy);
    }
    return resolve(x, width, areaWidth, anchor, -90000, -80000, -50000, -40000, offset);
}

int qxResolvePosY(int y, int height, int areaHeight, double anchor)
{
    int offset = 0;
    if (areaHeight == 0) {
        int w, ox;
        outputArea(&w, &areaHeight, &ox, &offset);
    }
    return resolve(y, height, areaHeight, anchor, -70000, -60000, -30000, -20000, offset);
}

int qxIsPosConstant(int v, int vertical)
{
    for (int c : {-100000, vertical ? -70000 : -90000, vertical ? -60000 : -80000})
        if (within(v, c)) return 1;
    return 0;
}

int qxComputeScaledSize(int sourceWidth, int sourceHeight, int *width, int *height)
{
    if (*width < 1 || *height < 1 || sourceWidth < 1 || sourceHeight < 1)
        return ERR_BADDIMENSIONS;
    if (*width == kKeepAspect && *height == kKeepAspect)
        return ERR_WRONGUSAGE;
    if (*width == kKeepAspect)
        *width = (int)std::floor((double)*height * sourceWidth / sourceHeight + 0.5);
    else if (*height == kKeepAspect)
        *height = (int)std::floor((double)*width / ((double)sourceWidth / sourceHeight) + 0.5);
    return 0;
}

int qxCmdShowPointer(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    qxDisplay *d = qxCurrentDisplay;
    if (!d)
        return 0;
    d->pointerHidden = 0;
    if (d->state == QX_DISPSTATE_OPEN)
        qxDispShowPointer(d, 1);
    return 0;
}

int qxCmdHidePointer(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    qxDisplay *d = qxCurrentDisplay;
    if (!d)
        return 0;
    d->pointerHidden = 1;
    if (d->state == QX_DISPSTATE_OPEN)
        qxDispShowPointer(d, 0);
    return 0;
}

int qxCmdMovePointer(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    double fx = luaL_checknumber(L, 1), fy = luaL_checknumber(L, 2);
    qxDisplay *d = qxCurrentDisplay;
    if (!d || !std::isfinite(fx) || !std::isfinite(fy) || std::fabs(fx) > 2e9 ||
        std::fabs(fy) > 2e9)
        return d ? ERR_WRONGUSAGE : 0;
    uint32_t pw, ph;
    qxPointerSize(d->pointer, &pw, &ph);
    int x = qxResolvePosX((int)fx, (int)pw, 0, 0.0), y = qxResolvePosY((int)fy, (int)ph, 0, 0.0);
    if (d->state == QX_DISPSTATE_OPEN) {
        // The window position: scaled, and past the letterbox margins that
        // MouseX takes off again.
        double sx = d->scaleX > 0 ? d->scaleX : 1.0, sy = d->scaleY > 0 ? d->scaleY : 1.0;
        qxDispMovePointer(d, (int)(x * sx) + d->marginLeft, (int)(y * sy) + d->marginTop);
    }
    return 0;
}
