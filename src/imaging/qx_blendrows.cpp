// The 32-bit alpha blend row in scalar, SSE2 and AVX2 form; all three give
// the same bytes.
#include "imaging/qx_blendrows.h"

#include <cstring>
#include <immintrin.h>

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

namespace {

// Four alpha bytes to one alpha per byte of each pixel word.
inline __m128i spreadAlpha(uint32_t four)
{
    __m128i z = _mm_setzero_si128();
    __m128i a = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(four)), z), z);
    return _mm_or_si128(_mm_or_si128(a, _mm_slli_epi32(a, 8)), _mm_or_si128(_mm_slli_epi32(a, 16), _mm_slli_epi32(a, 24)));
}

inline __m128i blend8(__m128i s, __m128i d, __m128i a, __m128i k256)
{
    __m128i t = _mm_add_epi16(_mm_mullo_epi16(d, _mm_sub_epi16(k256, a)), _mm_mullo_epi16(s, a));
    return _mm_srli_epi16(t, 8);
}

} // namespace

void qxBlendRow32Sse2(uint32_t *d, const uint32_t *s, const uint8_t *a, int32_t n)
{
    const __m128i z = _mm_setzero_si128(), k256 = _mm_set1_epi16(256), all = _mm_set1_epi32(-1);
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
        __m128i av = spreadAlpha(four);
        __m128i lo = blend8(_mm_unpacklo_epi8(sv, z), _mm_unpacklo_epi8(dv, z), _mm_unpacklo_epi8(av, z), k256);
        __m128i hi = blend8(_mm_unpackhi_epi8(sv, z), _mm_unpackhi_epi8(dv, z), _mm_unpackhi_epi8(av, z), k256);
        __m128i r = _mm_packus_epi16(lo, hi);
        __m128i opaque = _mm_cmpeq_epi32(av, all);
        r = _mm_or_si128(_mm_and_si128(opaque, sv), _mm_andnot_si128(opaque, r));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d + i), r);
    }
    qxBlendRow32Scalar(d + i, s + i, a + i, n - i);
}

__attribute__((target("avx2"))) void qxBlendRow32Avx2(uint32_t *d, const uint32_t *s, const uint8_t *a, int32_t n)
{
    const __m256i z = _mm256_setzero_si256(), k256 = _mm256_set1_epi16(256), all = _mm256_set1_epi32(-1);
    const __m256i rep = _mm256_set1_epi32(0x01010101);
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
        __m256i av = _mm256_mullo_epi32(_mm256_cvtepu8_epi32(_mm_cvtsi64_si128(int64_t(eight))), rep);
        __m256i lo = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(dv, z), _mm256_sub_epi16(k256, _mm256_unpacklo_epi8(av, z))),
                             _mm256_mullo_epi16(_mm256_unpacklo_epi8(sv, z), _mm256_unpacklo_epi8(av, z))),
            8);
        __m256i hi = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(dv, z), _mm256_sub_epi16(k256, _mm256_unpackhi_epi8(av, z))),
                             _mm256_mullo_epi16(_mm256_unpackhi_epi8(sv, z), _mm256_unpackhi_epi8(av, z))),
            8);
        __m256i r = _mm256_packus_epi16(lo, hi);
        __m256i opaque = _mm256_cmpeq_epi32(av, all);
        r = _mm256_blendv_epi8(r, sv, opaque);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(d + i), r);
    }
    qxBlendRow32Sse2(d + i, s + i, a + i, n - i);
}

qxBlendRow32Fn qxBlendRow32 = nullptr;

namespace {
int currentLevel = -1;

int cpuLevel()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? 2 : 1;
}
} // namespace

extern "C" int qxSetKernelLevel(int level)
{
    int best = cpuLevel();
    currentLevel = level < 0 ? 0 : level > best ? best : level;
    static const qxBlendRow32Fn rows[] = {qxBlendRow32Scalar, qxBlendRow32Sse2, qxBlendRow32Avx2};
    qxBlendRow32 = rows[currentLevel];
    return currentLevel;
}

extern "C" int qxKernelLevel(void)
{
    if (currentLevel < 0) qxSetKernelLevel(2);
    return currentLevel;
}

// Chosen before main so that no kernel sees a null row function.
static const int initialLevel = qxSetKernelLevel(2);
