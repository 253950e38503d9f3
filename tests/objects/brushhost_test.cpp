// The brush slots of the graphics host table as a plug-in calls them: a
// brush made from plug-in pixels comes back unchanged through the lock and
// the ARGB copy; missing brushes give null or the brush error.
#include <gtest/gtest.h>

#include <cstring>

#include "../core/errorstate.h"
#include "core/commands/qx_commands.h"
#include "objects/qx_brush.h"
#include "objects/qx_brushhost.h"
#include "platform/qx_errcodes.h"

namespace {

using LockFn = qxBitMapLock *(*)(const qxObjectRef *, const qxTagItem *, qxHostBrushLock *);
using UnlockFn = void (*)(qxBitMapLock *);
using CopyFn = uint32_t *(*)(const qxObjectRef *, const qxTagItem *);
using FreeCopyFn = void (*)(void *);
using FromLayerFn = int (*)(lua_State *, qxObjectRef *, uint32_t, uint32_t, const qxBrushPixelRecord *);
using FreeFn = int (*)(lua_State *, const qxObjectRef *);
using HandleFn = void *(*)(qxObjectRef *, void *);

struct BrushHost : ::testing::Test {
    qxHostFunc slots[40] = {};
    void SetUp() override
    {
        teststate::resetErrorState();
        qxInstallBrushHostSlots(slots);
    }
    void TearDown() override
    {
        qxFreeAllBrushes(nullptr);
        teststate::resetErrorState();
    }
    template <typename F> F slot(int n) { return reinterpret_cast<F>(slots[n]); }
};

TEST_F(BrushHost, PixelsRoundTripThroughLockAndCopy)
{
    constexpr uint32_t W = 5, H = 3;
    uint32_t pixels[W * H];
    for (uint32_t i = 0; i < W * H; i++)
        pixels[i] = ((i * 17) << 24) | (0x102030 + i);
    qxBrushPixelRecord record{};
    record.pixels = pixels;
    record.pitch = W;
    record.flags = QX_BRUSHPIX_ALPHA;
    qxObjectRef ref{7, nullptr};
    ASSERT_EQ(slot<FromLayerFn>(12)(nullptr, &ref, W, H, &record), 0);

    qxHostBrushLock lock{};
    qxBitMapLock *handle = slot<LockFn>(4)(&ref, nullptr, &lock);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(lock.width, W);
    EXPECT_EQ(lock.height, H);
    EXPECT_GE(lock.pixelsPerRow, W);
    EXPECT_EQ(lock.mask, nullptr);
    EXPECT_EQ(lock.maskBytesPerRow, 0u);
    ASSERT_NE(lock.alpha, nullptr);
    ASSERT_EQ(lock.bytesPerPixel, 4u);
    for (uint32_t y = 0; y < H; y++)
        for (uint32_t x = 0; x < W; x++) {
            const uint32_t want = pixels[y * W + x];
            const uint32_t got = static_cast<uint32_t *>(lock.pixels)[y * lock.pixelsPerRow + x];
            EXPECT_EQ(got & 0xFFFFFF, want & 0xFFFFFF) << x << "," << y;
            EXPECT_EQ(static_cast<uint8_t *>(lock.alpha)[y * lock.alphaBytesPerRow + x], want >> 24);
        }
    slot<UnlockFn>(5)(handle);

    uint32_t w = 0, h = 0, plain = 9;
    const qxTagItem tags[] = {{1, uintptr_t(&w)}, {2, uintptr_t(&h)}, {3, uintptr_t(&plain)}, {0, 0}};
    uint32_t *copy = slot<CopyFn>(6)(&ref, tags);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(w, W);
    EXPECT_EQ(h, H);
    EXPECT_EQ(plain, 0u);
    EXPECT_EQ(std::memcmp(copy, pixels, sizeof pixels), 0);
    slot<FreeCopyFn>(7)(copy);

    // A software brush has no adapter handle; freeing it twice reports it.
    EXPECT_EQ(slot<HandleFn>(30)(&ref, nullptr), nullptr);
    EXPECT_EQ(slot<FreeFn>(29)(nullptr, &ref), 0);
    EXPECT_EQ(slot<FreeFn>(29)(nullptr, &ref), ERR_FINDBRUSH);
    EXPECT_EQ(slot<LockFn>(4)(&ref, nullptr, &lock), nullptr);
    EXPECT_EQ(slot<CopyFn>(6)(&ref, tags), nullptr);
}

TEST_F(BrushHost, BlankBrushUnderAnAutomaticIdentifier)
{
    qxBrushPixelRecord record{};
    qxObjectRef ref{0, QX_NEW_AUTOMATIC};
    ASSERT_EQ(slot<FromLayerFn>(12)(nullptr, &ref, 4, 2, &record), 0);
    ASSERT_NE(ref.automatic, QX_NEW_AUTOMATIC);
    ASSERT_NE(ref.automatic, nullptr);
    uint32_t plain = 0;
    const qxTagItem tags[] = {{3, uintptr_t(&plain)}, {0, 0}};
    uint32_t *copy = slot<CopyFn>(6)(&ref, tags);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(plain, 1u); // neither mask nor alpha channel
    EXPECT_EQ(copy[0] >> 24, 0xFFu);
    slot<FreeCopyFn>(7)(copy);
    // Zero sizes are refused before anything is made.
    qxObjectRef other{0, QX_NEW_AUTOMATIC};
    EXPECT_EQ(slot<FromLayerFn>(12)(nullptr, &other, 0, 2, &record), ERR_BADDIMENSIONS);
}

} // namespace
