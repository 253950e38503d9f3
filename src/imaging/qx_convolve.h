// The convolution engine: a separable Gaussian blur and the 2-D kernels of
// sharpen, edge and emboss, on a colour plane and/or an alpha plane.
#pragma once
#include <cstdint>

struct qxConvolveRecord {
    void *pixels; // top-left pixel, or none for an alpha-only run
    int32_t width, height, pitch; // pitch in pixels
    uint32_t layout, bytesPerPixel;
    uint8_t *alpha; // or none
    int32_t alphaBytesPerRow;
    double radius, sigma;
    uint32_t mode; // 'b' blur, 's' sharpen, 'g' edge, 'e' emboss
};

extern "C" {
// Kernel widths; 0 when radius or sigma is not finite. A width that does
// not fit 32 bits saturates at INT32_MAX.
int32_t qxKernelWidth1D(double radius, double sigma);
// The 2-D search gives up once the width passes limit (it then returns a
// width above limit, which no caller can use).
int32_t qxKernelWidth2D(double radius, double sigma, int32_t limit);
// The 2-D kernel of mode 's', 'g' or 'e', kw x kw entries row by row,
// normalised.
void qxBuild2DKernel(double *kernel, int32_t kw, double sigma, uint32_t mode);
// The folded blur kernel of kw entries, normalised.
void qxBuildBlurKernel(double *kernel, int32_t kw, double sigma);
void qxConvolvePlanes(const qxConvolveRecord *record);
}
