// Scaling of pixels, 1-bit masks and 8-bit alpha planes, nearest or
// bilinear.
#pragma once
#include <cstdint>

struct qxScaleRecord {
    const void *sourcePixels; // none: only the mask and alpha are scaled
    void *destPixels;
    const uint8_t *sourceMask; // the mask row of the rectangle's top
    uint8_t *destMask;
    const uint8_t *sourceAlpha; // the rectangle's top-left byte
    uint8_t *destAlpha;
    int32_t sx; // bit offset of the rectangle in the source mask row
    int32_t sy;
    int32_t sourceWidth, sourceHeight, destWidth, destHeight;
    int32_t sourcePitch, destPitch; // pixels
    int32_t sourceMaskBytesPerRow, destMaskBytesPerRow;
    int32_t sourceAlphaBytesPerRow, destAlphaBytesPerRow;
    uint32_t smooth;
    uint32_t layout;
    uint32_t bytesPerPixel;
    int32_t *xTable; // destWidth + 1 entries
    int32_t *yTable; // destHeight + 1 entries
    // A window of the destWidth x destHeight picture: only its columns
    // windowX.. and rows windowY.. are made, from destPixels (destMask,
    // destAlpha) on, exactly as in the whole picture. Width 0: all of it.
    int32_t windowX, windowY, windowWidth, windowHeight;
};

extern "C" {
void qxScaleBitmap(qxScaleRecord *record);
// Grows (never shrinks) a pair of zero-filled tables of (n + 1) entries;
// 1000 when memory runs out.
int qxEnsureScaleTables(int32_t width, int32_t height, int32_t *xCapacity, int32_t *yCapacity, int32_t **xTable,
                        int32_t **yTable);
// Scales a raw buffer; allocates width x height x 4 bytes without a
// destination. NULL on failure.
void *qxConvertPixelBuffer(const void *source, int32_t sourceX, int32_t sourceY, int32_t sourceWidth,
                           int32_t sourceHeight, void *destination, int32_t dx, int32_t dy, int32_t width,
                           int32_t height, int32_t sourcePitch, int32_t destPitch, uint32_t layout, uint32_t smooth);
}
