#include "draw/vector/qx_drawhost.h"

#include <algorithm>

#include "core/commands/qx_commands.h"
#include "draw/vector/qx_shapegeom.h"
#include "imaging/qx_lines.h"

void qxDrawLineSegment(int32_t width, int32_t height, void *target, const qxPoint *points, int32_t count,
                       uint32_t colour, uint32_t transparency, int32_t pixelsPerRow, uint32_t format)
{
    if (!target || !points || count < 1 || width < 1 || height < 1 || pixelsPerRow < width) return;
    uint32_t opacity = 255 - std::min<uint32_t>(transparency, 255);
    if (count == 1) {
        qxSoftDrawLine(target, points[0].x, points[0].y, points[0].x, points[0].y, colour & 0xFFFFFF, opacity, format,
                       pixelsPerRow, width, height);
        return;
    }
    for (int32_t i = 1; i < count; i++)
        qxSoftDrawLine(target, points[i - 1].x, points[i - 1].y, points[i].x, points[i].y, colour & 0xFFFFFF, opacity,
                       format, pixelsPerRow, width, height);
}

namespace {

uintptr_t tagValue(const qxTagItem *tags, uint32_t tag, uintptr_t fallback)
{
    for (; tags && tags->tag; ++tags)
        if (tags->tag == tag) return tags->data;
    return fallback;
}

// Polyline into a raw buffer: the points are moved in the caller's array so that their box starts at 0,0.
void hostPolyline(void *target, qxPoint *points, uint32_t count, uint32_t colour, uint32_t flags,
                  const qxTagItem *tags)
{
    uintptr_t perRow = tagValue(tags, 2, 0);
    if (!target || !points || !perRow || count > uint32_t(INT32_MAX)) return;
    int32_t x = 0, y = 0, w = 0, h = 0;
    qxNormalizePoints(points, int32_t(count), &x, &y, &w, &h);
    if (w < 1 || h < 1) return;
    uint32_t transparency = (flags & 1) ? 255 - (colour >> 24) : 0;
    qxDrawLineSegment(w, h, target, points, int32_t(count), colour & 0xFFFFFF, transparency,
                      int32_t(std::min<uintptr_t>(perRow, INT32_MAX)), uint32_t(tagValue(tags, 1, 10)));
}

} // namespace

void qxInstallDrawHostSlots(qxHostFunc *g) { g[31] = reinterpret_cast<qxHostFunc>(hostPolyline); }
