// Swirl and water ripple: each output pixel is taken from a displaced
// source position, copied, blended with a blend image, or faded through
// an alpha plane for the transitions.
#pragma once
#include <cstdint>

constexpr int32_t QX_TRIG_ENTRIES = 6300; // 0.001-radian steps

struct qxDisplaceRecord {
    const void *source; // none: the kernel works from a copy of the destination
    const void *blend;  // or none
    void *destination;
    int32_t sourcePitch, blendPitch, destPitch; // pixels
    const double *table1; // swirl: sine; ripple: unused (the distances are in distance)
    const double *table2; // swirl: cosine; ripple: sine
    double wavelength, amplitude, amplitudeStep;
    int32_t frames;
    int32_t width, height;
    uint32_t layout;
    uint32_t reverse;
    const uint8_t *sourceAlpha; // given: fade mode
    int32_t sourceAlphaBytesPerRow;
    uint8_t *destAlpha;
    int32_t destAlphaBytesPerRow;
    int32_t cx, cy;
    const int32_t *distance; // ripple: one entry per pixel, row by row
    int32_t radius;
    int32_t sx, sy; // the last computed source position
    double phase;
    const uint8_t *sourceMask;
    int32_t sourceMaskBytesPerRow;
    uint8_t *destMask;
    int32_t destMaskBytesPerRow;
};

extern "C" {
// sine and cosine of x_k, x_0 = 0, x_{k+1} = x_k + 0.001 (either may be none).
void qxSwirlSetup(double *sine, double *cosine);
// The distance of every pixel from (cx, cy), and the sine table.
void qxWaterRippleSetup(int32_t *distance, double *sine, int32_t width, int32_t height, int32_t cx, int32_t cy);
// angle in degrees; above 359 the transitions run it back down.
void qxSwirl32(qxDisplaceRecord *record, double angle);
void qxSwirl16(qxDisplaceRecord *record, double angle);
// frame -1 is a still picture with the record's phase.
void qxWaterRipple32(qxDisplaceRecord *record, int32_t frame);
void qxWaterRipple16(qxDisplaceRecord *record, int32_t frame);
// Sets record->sx, sy for pixel (x, y) from the next distance entry.
void qxRippleSource(double phase, int32_t x, int32_t y, qxDisplaceRecord *record, const int32_t *distance);
}
