// Point colour effects on locked colour planes: each pixel changes by itself
// or through one global table. Every kernel takes the top-left pixel, the
// area's size, the pitch in pixels and the layout code; a width or height
// below 1 does nothing. The 16-bit members compute on the 8-bit channels
// with zero low bits and pack back by masking.
#pragma once
#include <cstdint>

// Normalize record.
struct qxNormalizeRecord {
    void *pixels;
    int32_t width, height, pitch;
    int32_t blackCount, whiteCount;
    uint32_t layout, bytesPerPixel;
};

// Tint record; colour is 0xRRGGBB (32-bit) or a native RGB16 word.
struct qxTintRecord {
    void *pixels;
    int32_t x, y, width, height;
    uint32_t colour;
    int32_t level; // 0-255
    int32_t pitch;
    uint32_t layout;
};

// Mix record: the source is mixed into the destination where the mask bit
// is set (every pixel without a mask).
struct qxMixRecord {
    const void *source;
    void *destination;
    const uint8_t *mask; // the first mask row, or none
    int32_t maskStartBit; // the rectangle's x in the mask row
};

extern "C" {

// trunc(0.299 R + 0.587 G + 0.114 B)
int32_t qxIntensity(int32_t r, int32_t g, int32_t b);

void qxGrayPixels32(uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, uint32_t layout, int mono);
void qxGrayPixels16(uint16_t *pixels, int32_t width, int32_t height, int32_t pitch, uint32_t layout, int mono);
void qxInvertPixels32(uint32_t *pixels, int32_t width, int32_t height, int32_t pitch);
void qxInvertPixels16(uint16_t *pixels, int32_t width, int32_t height, int32_t pitch);
void qxInvertBytePlane(uint8_t *plane, int32_t height, int32_t bytesPerRow);
void qxSolarize32(uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, uint32_t layout, int32_t threshold);
void qxSolarize16(uint16_t *pixels, int32_t width, int32_t height, int32_t pitch, uint32_t layout, int32_t threshold);

void qxGammaTable(uint8_t table[256], double gamma);
// flags: 1 red, 2 green, 4 blue are mapped through their tables.
void qxGamma32(uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, uint32_t layout, const uint8_t *red,
               const uint8_t *green, const uint8_t *blue, uint32_t flags);
void qxGamma16(uint16_t *pixels, int32_t width, int32_t height, int32_t pitch, uint32_t layout, const uint8_t *red,
               const uint8_t *green, const uint8_t *blue, uint32_t flags);

// One contrast pass; sharpen non-zero raises contrast, zero lowers it.
void qxContrast32(uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, uint32_t layout, int sharpen);
void qxContrast16(uint16_t *pixels, int32_t width, int32_t height, int32_t pitch, uint32_t layout, int sharpen);

// Percentages (100 leaves a quantity as it is).
void qxModulate32(uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, uint32_t layout,
                  int32_t brightness, int32_t saturation, int32_t hue);
void qxModulate16(uint16_t *pixels, int32_t width, int32_t height, int32_t pitch, uint32_t layout,
                  int32_t brightness, int32_t saturation, int32_t hue);
// Factors to percentages: trunc(max(0, x) * 100), at most INT32_MAX; 0
// when a factor is not finite.
int qxModulatePercent(double factor, int32_t *percent);

void qxNormalizePixels(const qxNormalizeRecord *record);

void qxSepia32(uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, uint32_t layout, int32_t threshold);
void qxSepia16(uint16_t *pixels, int32_t width, int32_t height, int32_t pitch, uint32_t layout, int32_t threshold);

// Pixels whose index byte is non-zero become white, the others 0.
void qxIndexToMono32(uint32_t *pixels, const uint8_t *indices, int32_t width, int32_t height, int32_t pitch,
                     uint32_t layout);
void qxIndexToMono16(uint16_t *pixels, const uint8_t *indices, int32_t width, int32_t height, int32_t pitch);

// pixels is the plane's base; the rectangle is record x, y, width, height.
void qxTintRect32(const qxTintRecord *record);
void qxTintRect16(const qxTintRecord *record);

void qxMixPixels32(const qxMixRecord *record, int32_t width, int32_t height, int32_t level, uint32_t layout,
                   int32_t sourcePitch, int32_t destPitch, int32_t maskBytesPerRow);
void qxMixPixels16(const qxMixRecord *record, int32_t width, int32_t height, int32_t level, uint32_t layout,
                   int32_t sourcePitch, int32_t destPitch, int32_t maskBytesPerRow);
}
