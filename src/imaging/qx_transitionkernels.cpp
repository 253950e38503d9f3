// Dissolve, roll and the rectangle copies the roll uses.
#include "imaging/qx_transitionkernels.h"

#include <cmath>

namespace {

template <class T>
int copyRect(const qxCopyRecord *r, int32_t sx, int32_t sy, int32_t w, int32_t h, int32_t dx, int32_t dy)
{
    if (!r || !r->source || !r->destination) return 1;
    auto *s = static_cast<const T *>(r->source);
    auto *d = static_cast<T *>(r->destination);
    for (int32_t j = 0; j < h; ++j)
        for (int32_t i = 0; i < w; ++i) {
            int64_t so = int64_t(sy + j) * r->sourcePitch + sx + i, doff = int64_t(dy + j) * r->destPitch + dx + i;
            if (r->sourceMask) {
                int32_t bx = sx + i, tx = dx + i;
                bool on = r->sourceMask[int64_t(sy + j) * r->sourceMaskBytesPerRow + (bx >> 3)] & (0x80 >> (bx & 7));
                uint8_t *m = r->destMask ? r->destMask + int64_t(dy + j) * r->destMaskBytesPerRow + (tx >> 3) : nullptr;
                uint8_t bit = uint8_t(0x80 >> (tx & 7));
                if (on) {
                    d[doff] = s[so];
                    if (m) *m |= bit;
                } else if (m) *m &= uint8_t(~bit);
            } else if (r->sourceAlpha) {
                uint8_t a = r->sourceAlpha[int64_t(sy + j) * r->sourceAlphaBytesPerRow + sx + i];
                uint8_t *da = r->destAlpha ? r->destAlpha + int64_t(dy + j) * r->destAlphaBytesPerRow + dx + i : nullptr;
                if (a) {
                    d[doff] = s[so];
                    if (da) *da = a;
                } else if (da) *da = 0;
            } else d[doff] = s[so];
        }
    return 1;
}

} // namespace

extern "C" {

void qxDissolveKernel(const qxDissolveRecord *r, int32_t level)
{
    if (!r || !r->destination || !r->map || r->width < 1 || r->height < 1) return;
    bool dir = r->direction != 0;
    for (int32_t y = 0; y < r->height; ++y) {
        const uint8_t *mp = r->map + int64_t(y) * r->width;
        uint8_t *d = r->destination + int64_t(y) * r->destBytesPerRow;
        const uint8_t *s = r->source ? r->source + int64_t(y) * r->sourceBytesPerRow : nullptr;
        for (int32_t x = 0; x < r->width; ++x) {
            bool shown = (int32_t(mp[x]) >= level) == dir;
            if (r->alphaMode) {
                d[x] = shown && s ? s[x] : 0;
                continue;
            }
            uint8_t bit = uint8_t(0x80 >> (x & 7));
            bool on = shown && (!s || (s[x >> 3] & bit));
            if (on) d[x >> 3] |= bit;
            else d[x >> 3] &= uint8_t(~bit);
        }
    }
}

void qxRollKernel(qxCopyRecord *r)
{
    if (!r) return;
    r->linesCopied = 0, r->firstLine = -100000, r->resultPosition = r->position;
    if (r->count < 1 || !r->angles || r->width < 1 || r->height < 1) return;
    int32_t lines = r->orientation ? r->width : r->height;
    double step = 6.283185307179586 / r->count;
    for (int32_t k = 0; k < r->count; ++k) {
        int64_t i = int64_t(r->position) - r->count + 1 + k;
        if (i < 0 || i >= lines) continue;
        // Tested as a double first: a huge or NaN angle never truncates.
        double jd = std::trunc(r->angles[k] / step) + r->position;
        if (!(jd >= 0 && jd < lines)) continue;
        int32_t j = int32_t(jd), ti = int32_t(i);
        auto copy = r->bytesPerPixel == 2 ? qxCopyRect16 : qxCopyRect32;
        if (r->bytesPerPixel != 2 && r->bytesPerPixel != 4) return;
        if (r->orientation) copy(r, j, 0, 1, r->height, ti, 0);
        else copy(r, 0, j, r->width, 1, 0, ti);
        if (r->firstLine == -100000) r->firstLine = ti;
        ++r->linesCopied;
    }
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
