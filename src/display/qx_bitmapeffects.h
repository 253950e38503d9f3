// Bitmap-level front-ends of the image effects: each locks the bitmap (or
// uses the caller's lock), runs the 32-bit or 16-bit kernel on the area
// that lies inside the bitmap and its planes, and unlocks. 0, or 1152 when
// a lock fails; 1000 when scratch memory cannot be had.
#pragma once
#include <cstdint>

#include "display/qx_bitmap.h"

extern "C" {
int qxGrayBitmap(qxBitMap *bitmap, int32_t width, int32_t height, int mono, const qxBitMapLock *lock);
int qxInvertBitmap(qxBitMap *bitmap, int32_t width, int32_t height, const qxBitMapLock *lock);
int qxSolarizeBitmap(qxBitMap *bitmap, int32_t width, int32_t height, int32_t threshold);
int qxGammaBitmap(qxBitMap *bitmap, int32_t width, int32_t height, double red, double green, double blue);
int qxContrastBitmap(qxBitMap *bitmap, int32_t width, int32_t height, int sharpen, int32_t count,
                     const qxBitMapLock *lock);
int qxModulateBitmap(qxBitMap *bitmap, int32_t width, int32_t height, double brightness, double saturation,
                     double hue);
int qxNormalizeBitmap(qxBitMap *bitmap, int32_t width, int32_t height, int32_t blackCount, int32_t whiteCount,
                      const qxBitMapLock *lock);
int qxNormalizeDefault(qxBitMap *bitmap, int32_t width, int32_t height, const qxBitMapLock *lock);
int qxSepiaBitmap(qxBitMap *bitmap, int32_t width, int32_t height, int32_t threshold);
int qxTintBitmap(qxBitMap *bitmap, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour,
                 uint32_t level);
int qxMixBitmaps(qxBitMap *destination, qxBitMap *source, qxBitMap *mask, int32_t dx, int32_t dy, int32_t sx,
                 int32_t sy, int32_t width, int32_t height, int32_t level, qxBitMap *alpha, int32_t alphaWidth,
                 int32_t alphaHeight);

// mode 'b', 's', 'g' or 'e'; without a bitmap only the alpha plane is
// filtered.
int qxConvolve(uint32_t mode, qxBitMap *bitmap, qxBitMap *alpha, int32_t width, int32_t height,
               const qxBitMapLock *lock, double radius, double sigma);
int qxCharcoalBitmap(qxBitMap *bitmap, qxBitMap *alpha, int32_t width, int32_t height, double radius, double sigma);
// A new alpha plane of (width + 2r) x (height + 2r), r = trunc(radius), or none.
qxBitMap *qxMakeShadowBitmap(qxBitMap *alphaSource, qxBitMap *maskSource, int32_t x, int32_t y, int32_t width,
                             int32_t height, uint32_t level, int hard, int soft, double radius, double sigma);

int qxFlipBitmap(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t width, int32_t height, int horizontal);
// A new mask, bits clear where the pixel is the colour, or none.
qxBitMap *qxSetBitmapTransparency(qxBitMap *bitmap, int32_t width, int32_t height, uint32_t colour);
int qxOilPaintBitmap(qxBitMap *bitmap, int32_t width, int32_t height, double radius);
int qxPixelateBitmap(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t width, int32_t height, int32_t size);
int qxSwirlBitmap(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t width, int32_t height, double degrees);
int qxWaterRippleBitmap(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t width, int32_t height,
                        double wavelength, double amplitude, double phase, double centreX, double centreY);
}
