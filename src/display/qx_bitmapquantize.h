// Reduces a bitmap's colours in place through the quantiser.
#pragma once
#include <cstdint>

#include "display/qx_bitmap.h"

extern "C" {
// Quantises width x height (limited to the bitmap) to colours entries,
// dithered when asked, and writes each pixel back as its palette colour.
// 0; 1152 when the bitmap cannot be locked; 1000 without memory.
int qxQuantizeBitmap(qxBitMap *bitmap, int32_t width, int32_t height, int32_t colours, int dither);
// Black and white: a threshold without dither, else two dithered colours,
// the brighter one white. 0, 1152 or 1000.
int qxMonochromeBitmap(qxBitMap *bitmap, int32_t width, int32_t height, int dither);
}
