// Geometric distortion by control arguments: a fit turns the arguments into
// coefficients of the reverse mapping (output pixel to source point) and
// sizes the output; the resampler samples the source at nearest pixels or
// through an elliptical weighted average.
#pragma once
#include <cstdint>

enum : uint32_t { QX_DISTORT_PERSPECTIVE = 4, QX_DISTORT_ARC = 9, QX_DISTORT_POLAR = 10, QX_DISTORT_BARREL = 12 };

struct qxDistortRequest {
    uint32_t method;
    uint32_t argumentCount;
    const double *arguments;
    int32_t sourceWidth, sourceHeight;
    uint32_t smooth;
    double coefficients[10];
    int32_t outputWidth, outputHeight, xOrigin, yOrigin;
    uint32_t error; // 0, 1000 or 1055
};

// The source as 8-bit R, G, B, A quadruples (A 255 for sources without
// alpha, 0 where a mask bit is clear), w x h, row by row.
struct qxDistortSource {
    const uint8_t *rgba;
    int32_t width, height;
};

extern "C" {
// Fills the coefficients and the output geometry, or sets error. Outputs
// beyond 16384 pixels a side (or 2^26 pixels) count as a bad fit.
void qxDistortFit(qxDistortRequest *request);
// The output pixel (i, j) as R, G, B, A (A 0: transparent).
void qxDistortSample(const qxDistortRequest *request, const qxDistortSource *source, int32_t i, int32_t j,
                     uint8_t out[4]);
}
