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
    const uint8_t *sourceMask; // its first row; pixel x at bit sourceMaskX + x
    int32_t sourceMaskBytesPerRow, sourceMaskX;
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
    double matrix[6]; // x' = m0 x + m2 y + m4, y' = m1 x + m3 y + m5
    uint32_t smooth;
    uint32_t quarterKind; // 1: result(x, y) = source(W-1-y, x); 2: source(y, H-1-x)
};

extern "C" {
void qxFlipPixels(const qxFlipRecord *record);
// The result must be height x width.
void qxQuarterTurnPixels(const qxResampleRecord *record);
// Size and origin of the rectangle 0..width x 0..height under the 2 x 2
// matrix (corners rounded first); minX and minY may be none.
void qxTransformBox(const double matrix[4], int32_t width, int32_t height, int32_t *outWidth, int32_t *outHeight,
                    double *minX, double *minY);
// 1 when the matrix can be inverted and all its entries are finite.
int qxAffineUsable(const double matrix[6]);
// The general affine kernel: result pixels whose centres map inside the
// source are sampled (nearest, or bilinear with smooth); the others stay.
void qxAffinePixels(const qxResampleRecord *record);
}
