// The 32-bit alpha blend row in scalar, SSE2 and AVX2 form; all three give
// the same bytes.
#include "imaging/qx_blendrows.h"

#include <atomic>
#include <cstring>
#include <immintrin.h>
// A C header: clang's C++ lacks the _Bool that g++ accepts.
#ifdef __clang__
#define _Bool bool
#include <sys/platform/x86.h>
#undef _Bool
#else
#include <sys/platform/x86.h>
#endif

#include "imaging/qx_blit.h"

void qxBlendRow32Scalar(uint32_t *d, const uint32_t *s, const uint8_t *a, int32_t n)
{
    for (int32_t i = 0; i < n; ++i) {
        uint32_t al = a[i];
        if (!al) continue;
        if (al == 255) {
            d[i] = s[i];
            continue;
        }
        uint32_t sv = s[i], dv = d[i], out = 0;
        for (int sh = 0; sh < 32; sh += 8) {
            uint32_t sc = (sv >> sh) & 0xFF, dc = (dv >> sh) & 0xFF;
            out |= (((dc * (256 - al) + sc * al) >> 8) & 0xFF) << sh;
        }
        d[i] = out;
    }
}

// d * (256 - a) + s * a equals (d << 8) + (s - d) * a, which stays exact in
// wrapping 16-bit lanes since the true sum lies in 0..65280; a = 255 is
// taken as 256 so that it gives s exactly.
void qxBlendRow32Sse2(uint32_t *d, const uint32_t *s, const uint8_t *a, int32_t n)
{
    const __m128i z = _mm_setzero_si128(), k255 = _mm_set1_epi16(255);
    int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        uint32_t four;
        std::memcpy(&four, a + i, 4);
        if (!four) continue;
        __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
        if (four == 0xFFFFFFFFu) {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(d + i), sv);
            continue;
        }
        __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i *>(d + i));
        // a0 a0 a0 a0 a1 a1 a1 a1 | a2 ... a3 in 16-bit lanes.
        __m128i a16 = _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(four)), z);
        a16 = _mm_unpacklo_epi16(a16, a16);
        __m128i alo = _mm_unpacklo_epi32(a16, a16), ahi = _mm_unpackhi_epi32(a16, a16);
        alo = _mm_sub_epi16(alo, _mm_cmpeq_epi16(alo, k255));
        ahi = _mm_sub_epi16(ahi, _mm_cmpeq_epi16(ahi, k255));
        __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(z, dv),
                                   _mm_mullo_epi16(_mm_sub_epi16(_mm_unpacklo_epi8(sv, z), _mm_unpacklo_epi8(dv, z)), alo));
        __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(z, dv),
                                   _mm_mullo_epi16(_mm_sub_epi16(_mm_unpackhi_epi8(sv, z), _mm_unpackhi_epi8(dv, z)), ahi));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d + i),
                         _mm_packus_epi16(_mm_srli_epi16(lo, 8), _mm_srli_epi16(hi, 8)));
    }
    qxBlendRow32Scalar(d + i, s + i, a + i, n - i);
}

QX_AVX2 void qxBlendRow32Avx2(uint32_t *d, const uint32_t *s, const uint8_t *a, int32_t n)
{
    const __m256i z = _mm256_setzero_si256(), k255 = _mm256_set1_epi16(255);
    // Alpha of pixels 0, 1 (low lane) and 4, 5 (high lane) four times each,
    // matching the byte unpacks of the pixels; then 2, 3 and 6, 7.
    const __m256i pickLo = _mm256_setr_epi8(0, -1, 0, -1, 0, -1, 0, -1, 1, -1, 1, -1, 1, -1, 1, -1, 4, -1, 4, -1, 4,
                                            -1, 4, -1, 5, -1, 5, -1, 5, -1, 5, -1);
    const __m256i pickHi = _mm256_setr_epi8(2, -1, 2, -1, 2, -1, 2, -1, 3, -1, 3, -1, 3, -1, 3, -1, 6, -1, 6, -1, 6,
                                            -1, 6, -1, 7, -1, 7, -1, 7, -1, 7, -1);
    int32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t eight;
        std::memcpy(&eight, a + i, 8);
        if (!eight) continue;
        __m256i sv = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s + i));
        if (eight == ~uint64_t(0)) {
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(d + i), sv);
            continue;
        }
        __m256i dv = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(d + i));
        __m256i av = _mm256_set1_epi64x(int64_t(eight));
        __m256i alo = _mm256_shuffle_epi8(av, pickLo), ahi = _mm256_shuffle_epi8(av, pickHi);
        alo = _mm256_sub_epi16(alo, _mm256_cmpeq_epi16(alo, k255));
        ahi = _mm256_sub_epi16(ahi, _mm256_cmpeq_epi16(ahi, k255));
        __m256i lo = _mm256_add_epi16(
            _mm256_unpacklo_epi8(z, dv),
            _mm256_mullo_epi16(_mm256_sub_epi16(_mm256_unpacklo_epi8(sv, z), _mm256_unpacklo_epi8(dv, z)), alo));
        __m256i hi = _mm256_add_epi16(
            _mm256_unpackhi_epi8(z, dv),
            _mm256_mullo_epi16(_mm256_sub_epi16(_mm256_unpackhi_epi8(sv, z), _mm256_unpackhi_epi8(dv, z)), ahi));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(d + i),
                            _mm256_packus_epi16(_mm256_srli_epi16(lo, 8), _mm256_srli_epi16(hi, 8)));
    }
    // The tail runs legacy SSE code: leaving the upper halves dirty would make
    // every later AVX instruction pay for the state change.
    _mm256_zeroupper();
    qxBlendRow32Sse2(d + i, s + i, a + i, n - i);
}

namespace {

// The first row blended settles the kernel level, then goes on.
void blendRowFirst(uint32_t *d, const uint32_t *s, const uint8_t *a, int32_t n)
{
    qxKernelLevel();
    qxBlendRow32(d, s, a, n);
}

std::atomic<int> currentLevel{-1};

// The best level this processor and its system run, as the C library
// found it at start (cpuid, and xgetbv for whether the system saves the AVX
// state): asking the processor again costs several microseconds per cpuid
// on a virtual machine, where each one traps to the hypervisor.
int cpuLevel()
{
    return CPU_FEATURE_ACTIVE(AVX2) ? 2 : 1;
}

} // namespace

std::atomic<qxBlendRow32Fn> qxBlendRow32Chosen{blendRowFirst};

extern "C" int qxSetKernelLevel(int level)
{
    int best = cpuLevel();
    level = level < 0 ? 0 : level > best ? best : level;
    static const qxBlendRow32Fn rows[] = {qxBlendRow32Scalar, qxBlendRow32Sse2, qxBlendRow32Avx2};
    qxBlendRow32Chosen.store(rows[level], std::memory_order_relaxed);
    // Whoever sees the level sees the row function chosen with it.
    currentLevel.store(level, std::memory_order_release);
    return level;
}

extern "C" int qxKernelLevel(void)
{
    int level = currentLevel.load(std::memory_order_acquire);
    return level >= 0 ? level : qxSetKernelLevel(2);
}
