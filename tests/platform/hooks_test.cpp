// Bitmap buffers and capability questions.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/qx_hooks.h"
#include "platform/qx_upcalls.h"

namespace {
struct PixelFormat {
    explicit PixelFormat(int f) : saved(qxScreenPixelFormat) { qxScreenPixelFormat = f; }
    ~PixelFormat() { qxScreenPixelFormat = saved; }
    int saved;
};
} // namespace

TEST(BitMapBuffers, RowsArePaddedToFourPixels)
{
    PixelFormat unset(-1);
    uint32_t isFriend = 9, isHardware = 9;
    qxPlatformBitMap *b = qxAllocBitMapBuffer(5, 3, QX_BITMAP_FRIEND | QX_BITMAP_VIDEO, &isFriend,
                                              &isHardware, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->pixelFormat, 10u);
    EXPECT_EQ(b->bytesPerPixel, 4u);
    EXPECT_EQ(b->bytesPerRow, 32u);
    EXPECT_NE(isFriend, 0u);
    EXPECT_EQ(isHardware, 0u); // no video bitmaps here
    std::memset(b->pixels, 0xAB, (size_t)b->bytesPerRow * b->height); // all of it is ours
    qxBitMapInfo info{};
    ASSERT_EQ(qxGetBitMapInfo(b, &info), 1);
    EXPECT_EQ(info.pixels, b->pixels);
    EXPECT_EQ(info.valid, 1u);
    EXPECT_EQ(info.rowPixels, 8u);
    EXPECT_EQ(info.width, 5u);
    EXPECT_EQ(info.height, 3u);
    qxFreeBitMapBuffer(b);

    PixelFormat rgb24(8);
    b = qxAllocBitMapBuffer(5, 1, 0, &isFriend, nullptr, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(isFriend, 0u);
    EXPECT_EQ(b->bytesPerRow, 24u);
    EXPECT_EQ(qxDisplayDepth(), 24);
    qxFreeBitMapBuffer(b);
    qxFreeBitMapBuffer(nullptr);
}

TEST(BitMapBuffers, ImpossibleSizesAreRefused)
{
    PixelFormat argb(10);
    EXPECT_EQ(qxAllocBitMapBuffer(0, 10, 0, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(qxAllocBitMapBuffer(10, 0, 0, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(qxAllocBitMapBuffer(0xFFFFFFFFu, 2, 0, nullptr, nullptr, nullptr), nullptr);
    qxBitMapInfo info;
    EXPECT_EQ(qxGetBitMapInfo(nullptr, &info), 0);
    qxPlatformBitMap hardware{};
    hardware.isHardware = 1;
    EXPECT_EQ(qxGetBitMapInfo(&hardware, &info), 0);
    PixelFormat unset(-1);
    EXPECT_EQ(qxDisplayDepth(), 32);
}

TEST(PlatformHooks, CapabilitiesOnlyFromAnAdapter)
{
    EXPECT_EQ(qxPlatformHasCap(0x7FF), 0u);
    qxPlatformUpcalls saved = qxUpcalls;
    qxUpcalls.adapterHasCap = [](uint32_t bits) { return bits & 0x108u; };
    EXPECT_EQ(qxPlatformHasCap(0x7FF), 0u); // no adapter installed
    qxUpcalls.displayAdapterActive = [] { return 1; };
    EXPECT_EQ(qxPlatformHasCap(0x7FF), 0x108u);
    qxUpcalls = saved;
}
