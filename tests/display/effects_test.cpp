// The effect front-ends on bitmap handles: the shared lock-and-dispatch
// shape, the parameter rules each applies before locking, and the mends
// for numbers that would never end.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <vector>

#include "core/errors/qx_errors.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapeffects.h"
#include "display/qx_bitmapplanes.h"

namespace {

struct Pic {
    qxBitMap *bm;
    int w, h;
    Pic(int w_, int h_, uint32_t format = 10) : w(w_), h(h_)
    {
        int saved = qxScreenPixelFormat;
        qxScreenPixelFormat = int(format);
        bm = qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr);
        qxScreenPixelFormat = saved;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) qxWritePixel(bm, x, y, uint32_t(x * 37 + y * 91) * 0x010307u, 0);
    }
    ~Pic() { qxFreeBitMap(bm); }
    std::vector<uint32_t> pixels() const
    {
        std::vector<uint32_t> v;
        qxBitMapLock l;
        if (!qxLockBitMap(bm, 1, &l)) return v;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) v.push_back(qxReadPixelRGB(&l, x, y));
        qxUnLockBitMap(&l);
        return v;
    }
};

} // namespace

TEST(EffectFrontEnds, LockShapeAndNoOps)
{
    // No bitmap: the lock fails with 1152.
    EXPECT_EQ(qxInvertBitmap(nullptr, 4, 4, nullptr), ERR_LOCKBMAP);
    EXPECT_EQ(qxSolarizeBitmap(nullptr, 4, 4, 9), ERR_LOCKBMAP);
    EXPECT_EQ(qxFlipBitmap(nullptr, nullptr, nullptr, 4, 4, 1), 0); // planes only, none given
    // Three bytes per pixel: nothing runs, still success.
    Pic three(6, 5, 8);
    auto before = three.pixels();
    EXPECT_EQ(qxInvertBitmap(three.bm, 6, 5, nullptr), 0);
    EXPECT_EQ(qxConvolve('b', three.bm, nullptr, 6, 5, nullptr, 2, 1), 0);
    EXPECT_EQ(qxModulateBitmap(three.bm, 6, 5, 2, 1, 1), 0);
    EXPECT_EQ(three.pixels(), before);
    // Parameters that make the effect a no-op return before locking.
    EXPECT_EQ(qxGammaBitmap(nullptr, 4, 4, 1.0, 1.0, 1.0), 0);
    EXPECT_EQ(qxModulateBitmap(nullptr, 4, 4, 1.0, 1.0, 1.0), 0);
    EXPECT_EQ(qxContrastBitmap(nullptr, 4, 4, 1, 0, nullptr), 0);
    EXPECT_EQ(qxPixelateBitmap(nullptr, nullptr, nullptr, 4, 4, 1), 0);
    // Sizes beyond the bitmap are cut to it, in both depths.
    for (uint32_t format : {10u, 4u}) {
        Pic p(7, 3, format);
        auto px = p.pixels();
        EXPECT_EQ(qxInvertBitmap(p.bm, 1000, 1000, nullptr), 0);
        EXPECT_EQ(qxInvertBitmap(p.bm, 7, 3, nullptr), 0);
        EXPECT_EQ(p.pixels(), px);
        EXPECT_EQ(qxSepiaBitmap(p.bm, 1 << 30, -5, 80), 0);
        EXPECT_EQ(qxConvolve('s', p.bm, nullptr, 1 << 30, 1 << 30, nullptr, 1, 1), 0);
    }
}

TEST(EffectFrontEnds, AreaEffectsAndTransparency)
{
    Pic p(9, 7);
    auto px = p.pixels();
    // Swirl by 0 degrees and a ripple of amplitude 0 leave every pixel.
    EXPECT_EQ(qxSwirlBitmap(p.bm, nullptr, nullptr, 9, 7, 0), 0);
    EXPECT_EQ(qxWaterRippleBitmap(p.bm, nullptr, nullptr, 9, 7, 10, 0, 1, 0.5, 0.5), 0);
    EXPECT_EQ(p.pixels(), px);
    // Ripples whose phase or amplitude never reduce return at once.
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(qxWaterRippleBitmap(p.bm, nullptr, nullptr, 9, 7, 10, 5, 1e300, 0.5, 0.5), 0);
    EXPECT_EQ(qxWaterRippleBitmap(p.bm, nullptr, nullptr, 9, 7, 10, 5, NAN, 0.5, 0.5), 0);
    EXPECT_EQ(qxWaterRippleBitmap(p.bm, nullptr, nullptr, 9, 7, 1e-300, 1e300, 3, 0, 0), 0);
    EXPECT_EQ(qxSwirlBitmap(p.bm, nullptr, nullptr, 9, 7, NAN), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    // Pixelate larger than the image: everything takes the top-left pixel.
    // (The block is cut to the smaller side, so the image is square.)
    Pic q(5, 5);
    uint32_t corner = q.pixels()[0];
    EXPECT_EQ(qxPixelateBitmap(q.bm, nullptr, nullptr, 5, 5, 100), 0);
    EXPECT_EQ(q.pixels(), std::vector<uint32_t>(25, corner));
    // A colour that matches nothing: every mask bit set.
    qxBitMap *m = qxSetBitmapTransparency(p.bm, 9, 7, 0x00ABCDEF);
    ASSERT_NE(m, nullptr);
    qxPlane mp = qxPlaneOf(m);
    for (int y = 0; y < 7; ++y) {
        EXPECT_EQ(mp.bytes[y * mp.bytesPerRow], 0xFF);
        EXPECT_EQ(mp.bytes[y * mp.bytesPerRow + 1] & 0x80, 0x80);
    }
    qxFreeMaskBitMap(m);
    // A shadow with the hard flag makes every pixel the blur reached opaque.
    qxBitMap *s = qxMakeShadowBitmap(nullptr, nullptr, 0, 0, 4, 4, 200, 1, 0, 3, 1.0);
    ASSERT_NE(s, nullptr);
    qxPlane sp = qxPlaneOf(s);
    EXPECT_EQ(sp.width, 10);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) {
            uint8_t v = sp.bytes[y * sp.bytesPerRow + x];
            EXPECT_TRUE(v == 0 || v == 255);
        }
    EXPECT_EQ(sp.bytes[5 * sp.bytesPerRow + 5], 255);
    qxFreeAlphaBitMap(s);
}
