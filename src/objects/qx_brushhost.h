// The brush slots of the plug-ins' graphics host table: locking a brush's
// planes, ARGB copies of a brush, brushes from plug-in pixels, freeing and
// the hardware handle of a brush.
#pragma once
#include <cstdint>

#include "core/plugins/qx_pluginapi.h"

extern "C" {

// Written by the host (slot 4).
typedef struct qxHostBrushLock {
    void *pixels;
    uint32_t pixelsPerRow;
    void *alpha;
    uint32_t alphaBytesPerRow;
    void *mask;
    uint32_t maskBytesPerRow;
    uint32_t pixelFormat;
    uint32_t bytesPerPixel;
    uint32_t width;
    uint32_t height;
} qxHostBrushLock;

// Fills graphics slots 4-7, 12, 29 and 30.
void qxInstallBrushHostSlots(qxHostFunc *graphics);
}
