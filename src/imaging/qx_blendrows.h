// Row functions of the alpha blend, one per SIMD level, chosen at run time.
#pragma once
#include <cstdint>

// d = (d * (256 - a) + s * a) >> 8 per byte, s where a = 255.
using qxBlendRow32Fn = void (*)(uint32_t *d, const uint32_t *s, const uint8_t *a, int32_t n);
void qxBlendRow32Scalar(uint32_t *d, const uint32_t *s, const uint8_t *a, int32_t n);
void qxBlendRow32Sse2(uint32_t *d, const uint32_t *s, const uint8_t *a, int32_t n);
void qxBlendRow32Avx2(uint32_t *d, const uint32_t *s, const uint8_t *a, int32_t n);
extern qxBlendRow32Fn qxBlendRow32;
