// The bytes of an alpha channel or mask handle with the size they can
// safely be addressed at.
#pragma once
#include <cstdint>

#include "display/qx_bitmap.h"

struct qxPlane {
    uint8_t *bytes; // none for a NULL handle or an unreachable plane
    int32_t bytesPerRow;
    int32_t width, height; // never more than the rows hold
};

extern "C" {
qxPlane qxPlaneOf(qxBitMap *plane);
// Cuts a rectangle to 0..width x 0..height; 0 when nothing is left.
int qxClipToSize(int32_t *x, int32_t *y, int32_t *w, int32_t *h, int32_t width, int32_t height);
}
