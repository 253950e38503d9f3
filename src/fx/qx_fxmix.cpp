// The crossfade mix of two pictures into a third.
#include "fx/qx_fxmix.h"

#include <algorithm>
#include <cstring>

#include "display/qx_bitmapeffects.h"
#include "imaging/qx_blit.h"
#include "imaging/qx_pixelformat.h"
#include "platform/qx_errcodes.h"

namespace {

// Explicit vectors: at -O2 the compiler leaves the plain loop scalar.
// Eight pixels widen to 16-bit lanes, where (o * g + n * f) never exceeds
// 255 * 256.
__attribute__((always_inline)) inline void crossMixBody(const uint32_t *__restrict o, const uint32_t *__restrict n,
                                                        uint32_t *__restrict out, int32_t count, int32_t v,
                                                        uint32_t keep)
{
    typedef uint8_t Bytes __attribute__((vector_size(32)));
    typedef uint16_t Lanes __attribute__((vector_size(64)));
    typedef uint32_t Words __attribute__((vector_size(32)));
    const uint32_t f = uint32_t(v), g = 256u - f;
    const Lanes F = Lanes{} + uint16_t(f), G = Lanes{} + uint16_t(g);
    const Words K = Words{} + keep;
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        Bytes a, b;
        std::memcpy(&a, o + i, sizeof a);
        std::memcpy(&b, n + i, sizeof b);
        const Lanes m = (__builtin_convertvector(a, Lanes) * G + __builtin_convertvector(b, Lanes) * F) >> 8;
        const Words r = reinterpret_cast<Words>(__builtin_convertvector(m, Bytes)) & K;
        std::memcpy(out + i, &r, sizeof r);
    }
    for (; i < count; ++i) {
        uint32_t a = o[i], b = n[i];
        uint32_t rb = ((a & 0x00FF00FFu) * g + (b & 0x00FF00FFu) * f) >> 8;
        uint32_t ag = ((a >> 8) & 0x00FF00FFu) * g + ((b >> 8) & 0x00FF00FFu) * f;
        out[i] = ((rb & 0x00FF00FFu) | (ag & 0xFF00FF00u)) & keep;
    }
}
void crossMixPlain(const uint32_t *__restrict o, const uint32_t *__restrict n, uint32_t *__restrict out,
                   int32_t count, int32_t v, uint32_t keep)
{
    crossMixBody(o, n, out, count, v, keep);
}
QX_AVX2 void crossMixAvx2(const uint32_t *__restrict o, const uint32_t *__restrict n, uint32_t *__restrict out,
                          int32_t count, int32_t v, uint32_t keep)
{
    crossMixBody(o, n, out, count, v, keep);
}

} // namespace

void qxFXCrossMix32(const uint32_t *o, const uint32_t *n, uint32_t *out, int32_t count, int32_t v, uint32_t keep)
{
    qxPickKernel(crossMixPlain, crossMixAvx2)(o, n, out, count, v, keep);
}

int qxFXMixInto(qxBitMap *out, qxBitMap *oldImage, qxBitMap *newImage, int32_t width, int32_t height, int32_t v)
{
    qxBitMapLock lo, ln, lm;
    if (!qxLockBitMap(oldImage, 1, &lo)) return ERR_LOCKBMAP;
    if (!qxLockBitMap(newImage, 1, &ln)) {
        qxUnLockBitMap(&lo);
        return ERR_LOCKBMAP;
    }
    if (!qxLockBitMap(out, 0, &lm)) {
        qxUnLockBitMap(&ln), qxUnLockBitMap(&lo);
        return ERR_LOCKBMAP;
    }
    int32_t w = std::min<int64_t>({width, lo.width, ln.width, lm.width});
    int32_t h = std::min<int64_t>({height, lo.height, ln.height, lm.height});
    const bool same = lo.bytesPerPixel == ln.bytesPerPixel && ln.bytesPerPixel == lm.bytesPerPixel &&
                      lo.pixelFormat == ln.pixelFormat && ln.pixelFormat == lm.pixelFormat;
    const bool fused = same && lm.bytesPerPixel == 4;
    if (fused && w > 0) {
        const uint32_t keep = qxToLayout32(lm.pixelFormat, 0x00FFFFFFu);
        for (int32_t y = 0; y < h; ++y)
            qxFXCrossMix32(static_cast<const uint32_t *>(lo.pixels) + int64_t(y) * lo.pixelsPerRow,
                           static_cast<const uint32_t *>(ln.pixels) + int64_t(y) * ln.pixelsPerRow,
                           static_cast<uint32_t *>(lm.pixels) + int64_t(y) * lm.pixelsPerRow, w, v, keep);
    }
    qxUnLockBitMap(&lm), qxUnLockBitMap(&ln), qxUnLockBitMap(&lo);
    if (fused || w < 1 || h < 1) return 0;
    // Other depths: the general mix kernel on a copy of the new picture.
    qxBltBitMapDirect(newImage, 0, 0, out, 0, 0, w, h);
    return qxMixBitmaps(out, oldImage, nullptr, 0, 0, 0, 0, w, h, 255 - std::clamp(v, 0, 255), nullptr, 0, 0);
}
