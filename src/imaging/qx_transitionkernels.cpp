// Dissolve, roll and the rectangle copies the roll uses.
#include "imaging/qx_transitionkernels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include <immintrin.h>

namespace {

constexpr auto kReversedBits = [] {
    std::array<uint8_t, 256> t{};
    for (int v = 0; v < 256; ++v)
        for (int k = 0; k < 8; ++k)
            if (v & (1 << k)) t[size_t(v)] |= uint8_t(0x80 >> k);
    return t;
}();

template <class T>
inline void copyPixel(const qxCopyRecord *r, const T *s, T *d, int32_t sx, int32_t sy, int32_t dx, int32_t dy)
{
    const int64_t so = int64_t(sy) * r->sourcePitch + sx, doff = int64_t(dy) * r->destPitch + dx;
    if (r->sourceMask) {
        const bool on = r->sourceMask[int64_t(sy) * r->sourceMaskBytesPerRow + (sx >> 3)] & (0x80 >> (sx & 7));
        uint8_t *m = r->destMask ? r->destMask + int64_t(dy) * r->destMaskBytesPerRow + (dx >> 3) : nullptr;
        const uint8_t bit = uint8_t(0x80 >> (dx & 7));
        if (on) {
            d[doff] = s[so];
            if (m) *m |= bit;
        } else if (m) *m &= uint8_t(~bit);
    } else if (r->sourceAlpha) {
        const uint8_t a = r->sourceAlpha[int64_t(sy) * r->sourceAlphaBytesPerRow + sx];
        uint8_t *da = r->destAlpha ? r->destAlpha + int64_t(dy) * r->destAlphaBytesPerRow + dx : nullptr;
        if (a) {
            d[doff] = s[so];
            if (da) *da = a;
        } else if (da) *da = 0;
    } else d[doff] = s[so];
}

template <class T>
int copyRect(const qxCopyRecord *r, int32_t sx, int32_t sy, int32_t w, int32_t h, int32_t dx, int32_t dy)
{
    if (!r || !r->source || !r->destination) return 1;
    auto *s = static_cast<const T *>(r->source);
    auto *d = static_cast<T *>(r->destination);
    for (int32_t j = 0; j < h; ++j) {
        if (!r->sourceMask && !r->sourceAlpha) {
            std::memmove(d + int64_t(dy + j) * r->destPitch + dx, s + int64_t(sy + j) * r->sourcePitch + sx,
                         size_t(w) * sizeof(T));
            continue;
        }
        for (int32_t i = 0; i < w; ++i) copyPixel(r, s, d, sx + i, sy + j, dx + i, dy + j);
    }
    return 1;
}

// Columns are gathered row by row: one pass down the picture instead of
// one per column, which walks memory in order.
template <class T> void copyColumns(const qxCopyRecord *r, const std::vector<std::pair<int32_t, int32_t>> &cols)
{
    if (!r->source || !r->destination) return;
    auto *s = static_cast<const T *>(r->source);
    auto *d = static_cast<T *>(r->destination);
    const bool plain = !r->sourceMask && !r->sourceAlpha;
    for (int32_t y = 0; y < r->height; ++y) {
        if (plain) {
            const T *sr = s + int64_t(y) * r->sourcePitch;
            T *dr = d + int64_t(y) * r->destPitch;
            for (const auto &[from, to] : cols) dr[to] = sr[from];
            continue;
        }
        for (const auto &[from, to] : cols) copyPixel(r, s, d, from, y, to, y);
    }
}

} // namespace

extern "C" {

void qxDissolveKernel(const qxDissolveRecord *r, int32_t level)
{
    if (!r || !r->destination || !r->map || r->width < 1 || r->height < 1) return;
    const uint8_t dir = r->direction != 0;
    // Thresholds are bytes: levels outside 0-255 show all or nothing.
    const int32_t lv = level < 0 ? 0 : level > 256 ? 256 : level;
    const int32_t w = r->width;
    // Sixteen pixels at a time: shown = (map >= level) == dir, as a byte
    // mask; with level 256 nothing is >= it.
    const __m128i level8 = _mm_set1_epi8(char(lv > 255 ? 255 : lv));
    const __m128i reachable = _mm_set1_epi8(char(lv > 255 ? 0 : 0xFF)), hide = _mm_set1_epi8(char(dir ? 0 : 0xFF));
    const auto shown16 = [&](const uint8_t *m) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(m));
        const __m128i ge = _mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(v, level8), v), reachable);
        return _mm_xor_si128(ge, hide);
    };
    const auto shown1 = [&](const uint8_t *m, int32_t x) { return uint8_t((int32_t(m[x]) >= lv) == dir); };
    for (int32_t y = 0; y < r->height; ++y) {
        const uint8_t *mp = r->map + int64_t(y) * w;
        uint8_t *d = r->destination + int64_t(y) * r->destBytesPerRow;
        const uint8_t *s = r->source ? r->source + int64_t(y) * r->sourceBytesPerRow : nullptr;
        int32_t x = 0;
        if (r->alphaMode) {
            for (; x + 16 <= w; x += 16) {
                const __m128i src = s ? _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + x)) : _mm_setzero_si128();
                _mm_storeu_si128(reinterpret_cast<__m128i *>(d + x), _mm_and_si128(src, shown16(mp + x)));
            }
            for (; x < w; ++x) d[x] = s ? uint8_t(s[x] & -shown1(mp, x)) : 0;
            continue;
        }
        // Eight map bytes make one mask byte, most significant bit first;
        // movemask gives the first pixel in the lowest bit.
        for (; x + 16 <= w; x += 16) {
            const uint32_t bits = uint32_t(_mm_movemask_epi8(shown16(mp + x)));
            uint8_t lo = kReversedBits[bits & 0xFF], hi = kReversedBits[bits >> 8];
            if (s) lo &= s[x >> 3], hi &= s[(x >> 3) + 1];
            d[x >> 3] = lo, d[(x >> 3) + 1] = hi;
        }
        for (; x < w; x += 8) {
            const int32_t n = std::min(8, w - x);
            uint8_t bits = 0;
            for (int k = 0; k < n; ++k) bits |= uint8_t(shown1(mp, x + k) << (7 - k));
            const uint8_t keep = uint8_t(0xFF >> n);
            if (s) bits &= s[x >> 3];
            d[x >> 3] = uint8_t((d[x >> 3] & keep) | (bits & ~keep));
        }
    }
}

void qxRollKernel(qxCopyRecord *r)
{
    if (!r) return;
    r->linesCopied = 0, r->firstLine = -100000, r->resultPosition = r->position;
    if (r->count < 1 || !r->angles || r->width < 1 || r->height < 1) return;
    if (r->bytesPerPixel != 2 && r->bytesPerPixel != 4) return;
    int32_t lines = r->orientation ? r->width : r->height;
    double step = 6.283185307179586 / r->count;
    std::vector<std::pair<int32_t, int32_t>> cols;
    for (int32_t k = 0; k < r->count; ++k) {
        int64_t i = int64_t(r->position) - r->count + 1 + k;
        if (i < 0 || i >= lines) continue;
        // Tested as a double first: a huge or NaN angle never truncates.
        double jd = std::trunc(r->angles[k] / step) + r->position;
        if (!(jd >= 0 && jd < lines)) continue;
        int32_t j = int32_t(jd), ti = int32_t(i);
        if (r->orientation) cols.emplace_back(j, ti);
        else if (r->bytesPerPixel == 2) qxCopyRect16(r, 0, j, r->width, 1, 0, ti);
        else qxCopyRect32(r, 0, j, r->width, 1, 0, ti);
        if (r->firstLine == -100000) r->firstLine = ti;
        ++r->linesCopied;
    }
    if (cols.empty()) return;
    if (r->bytesPerPixel == 2) copyColumns<uint16_t>(r, cols);
    else copyColumns<uint32_t>(r, cols);
}

int qxCopyRect32(const qxCopyRecord *r, int32_t sx, int32_t sy, int32_t w, int32_t h, int32_t dx, int32_t dy)
{
    return copyRect<uint32_t>(r, sx, sy, w, h, dx, dy);
}
int qxCopyRect16(const qxCopyRecord *r, int32_t sx, int32_t sy, int32_t w, int32_t h, int32_t dx, int32_t dy)
{
    return copyRect<uint16_t>(r, sx, sy, w, h, dx, dy);
}
}
