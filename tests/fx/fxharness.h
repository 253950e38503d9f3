// Runs transitions off-screen: the record filled as the driver fills it,
// with a bitmap as the target.
#pragma once
#include <cstdint>
#include <random>
#include <vector>

#include "display/qx_bitmap.h"
#include "display/qx_bitmapdraw.h"
#include "fx/qx_transitionfx.h"
#include "platform/qx_memory.h"

namespace fxtest {

enum class Planes { Opaque, Masked, Alpha };

inline std::vector<uint32_t> readPixels(qxBitMap *b)
{
    std::vector<uint32_t> out;
    qxBitMapLock l{};
    if (!qxLockBitMap(b, 1, &l)) return out;
    out.resize(size_t(l.width) * l.height);
    for (uint32_t y = 0; y < l.height; y++)
        for (uint32_t x = 0; x < l.width; x++)
            out[size_t(y) * l.width + x] = static_cast<const uint32_t *>(l.pixels)[size_t(y) * l.pixelsPerRow + x];
    qxUnLockBitMap(&l);
    return out;
}

inline qxBitMap *noiseBitMap(int32_t w, int32_t h, uint32_t seed)
{
    qxBitMap *b = qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr);
    qxBitMapLock l{};
    if (!b || !qxLockBitMap(b, 0, &l)) return b;
    std::mt19937 rng(seed);
    for (uint32_t y = 0; y < l.height; y++)
        for (uint32_t x = 0; x < l.width; x++)
            static_cast<uint32_t *>(l.pixels)[size_t(y) * l.pixelsPerRow + x] = rng() | 0xFF000000u;
    qxUnLockBitMap(&l);
    return b;
}

// A run of one effect: bitmaps, record and the picture it must end on.
struct FxRun {
    qxTransitionFX fx{};
    qxBitMap *target = nullptr, *newImage = nullptr, *mask = nullptr, *alpha = nullptr, *old = nullptr;
    std::vector<uint32_t> expected;
    int32_t steps = 0;
    int error = 0;

    FxRun(int32_t effect, int32_t w, int32_t h, int32_t speed, Planes planes, bool reverse, int32_t bgW = 0,
        int32_t bgH = 0, int32_t x = 0, int32_t y = 0)
    {
        bgW = bgW ? bgW : w, bgH = bgH ? bgH : h;
        target = noiseBitMap(bgW, bgH, 7);
        newImage = noiseBitMap(w, h, 11);
        if (planes == Planes::Masked) {
            mask = qxAllocMaskBitMap(newImage, uint32_t(w), uint32_t(h), 1, nullptr, 0);
            for (int32_t j = 0; j < h; j++)
                for (int32_t i = 0; i < w; i++)
                    if ((i * 7 + j * 3) % 5 < 3) qxMaskRowOp(mask, i, j, 1, 1, 0);
        } else if (planes == Planes::Alpha) {
            alpha = qxAllocAlphaBitMap(uint32_t(w), uint32_t(h), 1, nullptr, 0);
            for (int32_t j = 0; j < h; j++)
                for (int32_t i = 0; i < w; i++) qxFillBitMapRect(alpha, i, j, 1, 1, uint32_t((i * 37 + j * 11) & 255));
        }
        // The old picture under the area, and the new one over it.
        old = qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr);
        qxFXBlitClipped(target, x, y, old, 0, 0, w, h, bgW, bgH, w, h);
        if (mask || alpha) {
            // Flattened as the driver does for effects that do not keep planes.
            qxBitMap *flat = qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr);
            qxBltBitMapDirect(old, 0, 0, flat, 0, 0, w, h);
            if (mask) qxBltBitMapMasked(newImage, 0, 0, flat, 0, 0, w, h, mask);
            else qxBltBitMapThroughAlpha(newImage, 0, 0, flat, 0, 0, w, h, alpha);
            qxFreeBitMap(newImage);
            newImage = flat;
        }
        qxBitMap *exp = qxAllocBitMap(uint32_t(bgW), uint32_t(bgH), 0, nullptr);
        qxBltBitMapDirect(target, 0, 0, exp, 0, 0, bgW, bgH);
        qxFXBlitClipped(newImage, 0, 0, exp, x, y, w, h, w, h, bgW, bgH);
        expected = readPixels(exp);
        qxFreeBitMap(exp);
        fx.effect = reverse ? qxFXReverseEffect(effect) : effect;
        fx.mode = QX_FXMODE_BRUSH;
        fx.x = x, fx.y = y, fx.width = w, fx.height = h, fx.bgWidth = bgW, fx.bgHeight = bgH;
        fx.speed = fx.requestedSpeed = speed;
        fx.parameter = QX_FX_RANDOMPARAMETER;
        fx.reverse = reverse;
        fx.newImage = newImage;
        fx.oldImage = old;
        fx.target = target;
    }
    ~FxRun()
    {
        if (fx.data) {
            if (fx.cleanup) fx.cleanup(&fx);
            qxFree(fx.data);
        }
        qxFreeBitMap(target);
        qxFreeBitMap(newImage);
        qxFreeBitMap(old);
        qxFreeMaskBitMap(mask);
        qxFreeAlphaBitMap(alpha);
    }
    // Phase 0; then frames until done (at most limit). Calls each(frame)
    // after every frame.
    template <class F> bool play(int32_t limit, F each)
    {
        const qxFXEffect *e = qxFXFindEffect(fx.effect);
        if (!e) return false;
        fx.step = e->step, fx.cleanup = e->cleanup;
        srand(5);
        srand48(5);
        fx.phase = 0;
        if ((error = fx.step(&fx, nullptr))) return false;
        fx.phase = 1;
        int done = 0;
        while (!done && steps < limit) {
            if ((error = fx.step(&fx, &done))) return false;
            steps++;
            each(steps);
        }
        return done;
    }
};

} // namespace fxtest
