// Dissolve, roll and the rectangle copies the roll uses.
#include "imaging/qx_transitionkernels.h"

#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace {

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
    const int32_t w = r->width, fullBytes = w >> 3, tail = w & 7;
    for (int32_t y = 0; y < r->height; ++y) {
        const uint8_t *mp = r->map + int64_t(y) * w;
        uint8_t *d = r->destination + int64_t(y) * r->destBytesPerRow;
        const uint8_t *s = r->source ? r->source + int64_t(y) * r->sourceBytesPerRow : nullptr;
        if (r->alphaMode) {
            for (int32_t x = 0; x < w; ++x) {
                const uint8_t shown = uint8_t((int32_t(mp[x]) >= lv) == dir);
                d[x] = s ? uint8_t(s[x] & -shown) : 0;
            }
            continue;
        }
        // Eight map bytes make one mask byte, most significant bit first.
        for (int32_t b = 0; b < fullBytes; ++b) {
            const uint8_t *m8 = mp + 8 * b;
            uint8_t bits = 0;
            for (int k = 0; k < 8; ++k) bits |= uint8_t(((int32_t(m8[k]) >= lv) == dir) << (7 - k));
            d[b] = s ? uint8_t(bits & s[b]) : bits;
        }
        if (tail) {
            const uint8_t *m8 = mp + 8 * fullBytes;
            uint8_t bits = 0;
            for (int k = 0; k < tail; ++k) bits |= uint8_t(((int32_t(m8[k]) >= lv) == dir) << (7 - k));
            const uint8_t keep = uint8_t(0xFF >> tail);
            if (s) bits &= s[fullBytes];
            d[fullBytes] = uint8_t((d[fullBytes] & keep) | (bits & ~keep));
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
