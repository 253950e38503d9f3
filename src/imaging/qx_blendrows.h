// Row functions of the alpha blend, one per SIMD level, chosen at run time.
#pragma once
#include <atomic>
#include <cstdint>

// d = (d * (256 - a) + s * a) >> 8 per byte, s where a = 255.
using qxBlendRow32Fn = void (*)(uint32_t *d, const uint32_t *s, const uint8_t *a, int32_t n);
void qxBlendRow32Scalar(uint32_t *d, const uint32_t *s, const uint8_t *a, int32_t n);
void qxBlendRow32Sse2(uint32_t *d, const uint32_t *s, const uint8_t *a, int32_t n);
void qxBlendRow32Avx2(uint32_t *d, const uint32_t *s, const uint8_t *a, int32_t n);
// The row function of the kernel level; the first call settles the level.
extern std::atomic<qxBlendRow32Fn> qxBlendRow32Chosen;
inline void qxBlendRow32(uint32_t *d, const uint32_t *s, const uint8_t *a, int32_t n)
{
    qxBlendRow32Chosen.load(std::memory_order_relaxed)(d, s, a, n);
}
