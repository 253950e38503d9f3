// The quantiser's bitmap front-end: pixels written back as palette colours
// in 32-bit and 16-bit bitmaps, sizes limited to the bitmap, codes.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "core/errors/qx_errors.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapquantize.h"

namespace {

qxBitMap *makeBitmap(int w, int h, uint32_t format)
{
    int saved = qxScreenPixelFormat;
    qxScreenPixelFormat = int(format);
    qxBitMap *bm = qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr);
    qxScreenPixelFormat = saved;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) qxWritePixel(bm, x, y, uint32_t(x * 37 + y * 91) * 0x010307u, 0);
    return bm;
}

std::vector<uint32_t> colours(qxBitMap *bm, int w, int h)
{
    std::vector<uint32_t> v;
    qxBitMapLock l;
    if (!qxLockBitMap(bm, 1, &l)) return v;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) v.push_back(qxReadPixelRGB(&l, x, y) & 0xFFFFFF);
    qxUnLockBitMap(&l);
    return v;
}

} // namespace

TEST(QuantizeBitmap, WritesPaletteColoursBack)
{
    for (uint32_t format : {10u, 4u}) {
        const int w = 40, h = 30;
        qxBitMap *bm = makeBitmap(w, h, format);
        ASSERT_NE(bm, nullptr);
        const auto before = colours(bm, w, h);
        ASSERT_EQ(qxQuantizeBitmap(bm, w, h, 8, 1), 0);
        const auto after = colours(bm, w, h);
        ASSERT_EQ(after.size(), before.size());
        std::set<uint32_t> distinct(after.begin(), after.end());
        EXPECT_LE(distinct.size(), 8u) << format;
        EXPECT_GE(distinct.size(), 2u) << format;
        qxFreeBitMap(bm);
    }

    // Sizes beyond the bitmap are limited to it; few colours stay exact.
    qxBitMap *bm = makeBitmap(4, 4, 10);
    const auto before = colours(bm, 4, 4);
    EXPECT_EQ(qxQuantizeBitmap(bm, 1000, 1000, 256, 0), 0);
    EXPECT_EQ(colours(bm, 4, 4), before);
    EXPECT_EQ(qxQuantizeBitmap(bm, -5, 3, 16, 0), 0);
    EXPECT_EQ(qxQuantizeBitmap(nullptr, 4, 4, 16, 0), ERR_LOCKBMAP);
    qxFreeBitMap(bm);
}

TEST(QuantizeBitmap, MonochromeKeepsBrightnessOrder)
{
    for (uint32_t format : {10u, 4u}) {
        // White first: the exact palette lists white as entry 0, and white
        // must still come out white.
        qxBitMap *bm = makeBitmap(8, 8, format);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) qxWritePixel(bm, x, y, x < 4 ? 0xFFFFFF : 0x000000, 0);
        ASSERT_EQ(qxMonochromeBitmap(bm, 8, 8, 1), 0);
        auto px = colours(bm, 8, 8);
        EXPECT_EQ(px[0], 0xFFFFFFu & (format == 4 ? 0xF8FCF8u : 0xFFFFFFu)) << format;
        EXPECT_EQ(px[7], 0u);
        qxFreeBitMap(bm);

        // A grey ramp dithered to two colours keeps its mean brightness.
        const int w = 64, h = 16;
        bm = makeBitmap(w, h, format);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) qxWritePixel(bm, x, y, uint32_t(x * 4) * 0x010101u, 0);
        ASSERT_EQ(qxMonochromeBitmap(bm, w, h, 1), 0);
        px = colours(bm, w, h);
        double mean = 0;
        for (uint32_t p : px) {
            ASSERT_TRUE(p == 0 || (p & 0xFF) >= 0xF8) << std::hex << p;
            mean += p ? 255 : 0;
        }
        EXPECT_NEAR(mean / px.size(), 126, 20) << format;
        qxFreeBitMap(bm);
    }
    EXPECT_EQ(qxMonochromeBitmap(nullptr, 4, 4, 1), ERR_LOCKBMAP);
}
