// What the brush files share among themselves.
#pragma once
#include <cstdint>

#include "objects/qx_brush.h"

extern "C" {
// 1218 below 1, 1522 when 32-bit pixels of that size cannot be addressed.
int qxCheckBrushSize(int64_t width, int64_t height);
// A new alpha plane holding a rectangle of another; none on failure.
qxBitMap *qxCutAlpha(qxBitMap *alpha, uint32_t x, uint32_t y, uint32_t width, uint32_t height);
// Makes the bitmaps of a brush loaded before a display existed.
int qxRealizeBrush(qxBrush *brush, int forceSoftware);
// Unlinks and frees one record.
void qxUnlinkBrushRecord(lua_State *L, qxBrush *brush);
}
