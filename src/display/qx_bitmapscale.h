// Scaling of a bitmap rectangle with its mask and alpha channel.
#pragma once
#include <cstdint>

#include "display/qx_bitmap.h"

extern "C" {
// With a destination the pixels go into it; otherwise new handles are made
// and stored through the out pointers that are given. An error code or 0.
int qxScalePixels(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t x, int32_t y, qxBitMap *destination,
                  int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height, uint32_t smooth,
                  uint32_t extra, qxBitMap **outBitmap, qxBitMap **outMask, qxBitMap **outAlpha);
}
