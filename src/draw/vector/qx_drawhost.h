// Drawing services the plug-in host table and other subsystems reach.
#pragma once
#include <cstdint>

#include "core/plugins/qx_pluginapi.h"
#include "display/qx_gfxgeom.h"

extern "C" {
// The line through the points (count of them, not closed) in colour
// 0xRRGGBB at a transparency (0 opaque, 255 invisible) into a width x
// height plane of the given pixel format and pixels per row.
void qxDrawLineSegment(int32_t width, int32_t height, void *target, const qxPoint *points, int32_t count,
                       uint32_t colour, uint32_t transparency, int32_t pixelsPerRow, uint32_t format);
// Graphics host slot 31.
void qxInstallDrawHostSlots(qxHostFunc *graphics);
}
