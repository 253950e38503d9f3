// Area effects: oil paint, and the padded copies and integer square root
// they share with the displacement effects.
#pragma once
#include <cstdint>

extern "C" {
// floor(sqrt(n)) for n >= 0, -1 for n < 0.
int32_t qxIntSqrt(int64_t n);

// A copy enlarged by kw in both directions with the edges replicated;
// padded (c, r) holds source (clamp(c - kw/2), clamp(r - kw/2)). Allocated
// (free with delete[] of its bytes' type) when buffer is none; none when
// the size overflows or memory runs out.
uint32_t *qxPadPlane32(const uint32_t *plane, int32_t width, int32_t height, int32_t pitch, int32_t kw,
                       uint32_t *buffer, int32_t *stride);
uint16_t *qxPadPlane16(const uint16_t *plane, int32_t width, int32_t height, int32_t pitch, int32_t kw,
                       uint16_t *buffer, int32_t *stride);
uint8_t *qxPadBytePlane(const uint8_t *plane, int32_t width, int32_t height, int32_t pitch, int32_t kw,
                        uint8_t *buffer, int32_t *stride);

// Each pixel takes the word of the most frequent intensity of its window.
void qxOilPaint32(uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, uint32_t layout, double radius);
void qxOilPaint16(uint16_t *pixels, int32_t width, int32_t height, int32_t pitch, uint32_t layout, double radius);

// Blocks of size x size (cut at the right and bottom) take their top-left
// pixel; a mask or alpha plane (either may be none) decides which blocks
// are drawn and which cleared.
void qxPixelate32(uint32_t *pixels, int32_t pitch, uint8_t *mask, int32_t maskBytesPerRow, uint8_t *alpha,
                  int32_t alphaBytesPerRow, int32_t width, int32_t height, int32_t size);
void qxPixelate16(uint16_t *pixels, int32_t pitch, uint8_t *mask, int32_t maskBytesPerRow, uint8_t *alpha,
                  int32_t alphaBytesPerRow, int32_t width, int32_t height, int32_t size);
}
