// Mirroring and quarter turns of a colour plane with its mask and alpha
// plane.
#pragma once
#include <cstdint>

struct qxFlipRecord {
    void *pixels; // top-left, or none
    int32_t width, height, pitch; // pitch in pixels
    uint8_t *mask; // or none
    int32_t maskBytesPerRow;
    uint8_t *alpha; // or none
    int32_t alphaBytesPerRow;
    uint32_t horizontal;
    uint32_t bytesPerPixel;
    uint8_t *scratch; // maskBytesPerRow bytes, for horizontal flips with a mask
};

// Source and result planes of the resampling kernels; any plane may be none.
struct qxResampleRecord {
    const void *source;
    int32_t sourcePitch; // pixels
    const uint8_t *sourceMask;
    int32_t sourceMaskBytesPerRow;
    const uint8_t *sourceAlpha;
    int32_t sourceAlphaBytesPerRow;
    void *result;
    int32_t resultPitch;
    uint8_t *resultMask;
    int32_t resultMaskBytesPerRow;
    uint8_t *resultAlpha;
    int32_t resultAlphaBytesPerRow;
    int32_t width, height; // of the source rectangle
    int32_t resultWidth, resultHeight;
    uint32_t bytesPerPixel, layout;
    uint32_t smooth;
    uint32_t quarterKind; // 1: result(x, y) = source(W-1-y, x); 2: source(y, H-1-x)
};

extern "C" {
void qxFlipPixels(const qxFlipRecord *record);
// The result must be height x width.
void qxQuarterTurnPixels(const qxResampleRecord *record);
}
