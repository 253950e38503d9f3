// The crossfade mix: out = old + (((new - old) * v) >> 8) per colour
// channel, written as (old * (256 - v) + new * v) >> 8 in 16-bit lanes so
// the loop vectorises; the byte a layout does not use for colour ends 0.
#pragma once
#include <cstdint>

#include "display/qx_bitmap.h"

void qxFXCrossMix32(const uint32_t *oldRow, const uint32_t *newRow, uint32_t *out, int32_t count, int32_t v,
                    uint32_t keep);
// M = the mix of two same-sized bitmaps at v (0 to 256); 0 or 1152.
int qxFXMixInto(qxBitMap *out, qxBitMap *oldImage, qxBitMap *newImage, int32_t width, int32_t height, int32_t v);
