// The bitmap slots of the plug-ins' graphics host table and their records.
#pragma once
#include <cstdint>

#include "core/plugins/qx_pluginapi.h"

extern "C" {

// Written by the host (slot 16).
typedef struct qxHostBitMapLock {
    void *pixels;
    uint32_t pixelsPerRow;
    uint32_t pixelFormat;
    uint32_t bytesPerPixel;
    uint32_t width;
    uint32_t height;
} qxHostBitMapLock;

// Written by the plug-in (slot 21).
typedef struct qxHostBlitRecord {
    uint32_t sx, sy, dx, dy, width, height, pixelFormat;
    const uint8_t *mask;
    const uint8_t *alpha;
    uint32_t sourcePixelsPerRow, destPixelsPerRow, maskBytesPerRow, alphaBytesPerRow;
} qxHostBlitRecord;

// Written by the plug-in (slot 35).
typedef struct qxHostConvertRecord {
    uint32_t sx, sy, dx, dy, sourceWidth, sourceHeight, destWidth, destHeight, pixelFormat, sourceRowLength,
        destRowLength;
} qxHostConvertRecord;

// Fills graphics slots 16, 17, 21-28 and 35.
void qxInstallBitMapHostSlots(qxHostFunc *graphics);

// Clips a line to lo <= coordinate <= hi on one axis (0 x, 1 y), moving
// the other coordinate along the line; 0 when it lies outside.
int qxClipLineSpan(int32_t *x1, int32_t *y1, int32_t *x2, int32_t *y2, int32_t lo, int32_t hi, int axis);
}
