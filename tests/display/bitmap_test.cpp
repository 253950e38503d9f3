// Bitmap handles, locks and the three roads of a blit, driven with a fake
// display adapter where the adapter takes part; the drawing operations on
// handles; geometry; and the host slots through a plain C plug-in.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>
#include <vector>

#include "core/plugins/qx_hosttable.h"
#include "main/qx_hosttable.h"
#include "core/plugins/qx_plugins.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmaphost.h"
#include "display/qx_bitmapplanes.h"
#include "display/qx_bitmapscale.h"
#include "display/qx_display.h"
#include "display/qx_gfxgeom.h"
#include "platform/qx_hooks.h"
#include "platform/qx_upcalls.h"

namespace {

uint32_t *pixelsOf(qxBitMap *b) { return reinterpret_cast<uint32_t *>(uintptr_t(qxGetBitMapAttr(b, 23))); }

// ---- A fake display adapter that records what reaches it ----

struct FakeAdapter {
    qxPluginInfo info{};
    std::vector<uint8_t> pixels = std::vector<uint8_t>(64 * 64 * 4);
    qxAdapterBlitRecord lastBlit{};
    uint32_t lastFlags = 0, lastColour = 0, calls = 0;
    uint64_t unlocked = 0;
    bool failLock = false;
};
FakeAdapter *fake;

void *fakeAlloc(uint32_t kind, uint32_t, uint32_t, uint32_t, const qxBitMapTag *) { return &fake->pixels[kind]; }
void fakeFree(void *) {}
uint64_t fakeAttr(void *, uint32_t attribute, const qxBitMapTag *) { return attribute == 2 ? 256 : 64; }
uint64_t fakeLock(void *, uint32_t, qxAdapterLockRecord *rec, const qxBitMapTag *)
{
    if (fake->failLock) return 0;
    rec->pixels = fake->pixels.data(), rec->pitch = 64, rec->width = 64, rec->height = 64;
    return 77;
}
void fakeUnlock(uint64_t h) { fake->unlocked = h; }
int fakeBlt(void *, void *, qxAdapterBlitRecord *rec, uint32_t flags, const qxBitMapTag *)
{
    fake->lastBlit = *rec, fake->lastFlags = flags, ++fake->calls;
    return 0;
}
void *fakeAllocVideo(uint32_t, uint32_t, uint32_t, const qxBitMapTag *) { return &fake->pixels[8]; }
uint64_t fakeMethod(void *, uint32_t method, uint64_t argument)
{
    fake->lastFlags = method * 10 + uint32_t(argument);
    return 0;
}
int fakeRectFill(void *, int32_t, int32_t, int32_t, int32_t, uint32_t colour, uint32_t flags, const qxBitMapTag *)
{
    fake->lastColour = colour, fake->lastFlags = flags, ++fake->calls;
    return 0;
}

struct WithAdapter {
    FakeAdapter a;
    WithAdapter(uint32_t adapterFlags, uint32_t drawFlags)
    {
        fake = &a;
        a.info.displayAdapterFlags = adapterFlags;
        a.info.entry[QX_EP_AllocBitMap] = reinterpret_cast<void *>(fakeAlloc);
        a.info.entry[QX_EP_FreeBitMap] = reinterpret_cast<void *>(fakeFree);
        a.info.entry[QX_EP_GetBitMapAttr] = reinterpret_cast<void *>(fakeAttr);
        a.info.entry[QX_EP_LockBitMap] = reinterpret_cast<void *>(fakeLock);
        a.info.entry[QX_EP_UnLockBitMap] = reinterpret_cast<void *>(fakeUnlock);
        a.info.entry[QX_EP_BltBitMap] = reinterpret_cast<void *>(fakeBlt);
        a.info.entry[QX_EP_RectFill] = reinterpret_cast<void *>(fakeRectFill);
        a.info.entry[QX_EP_AllocVideoBitMap] = reinterpret_cast<void *>(fakeAllocVideo);
        a.info.entry[QX_EP_FreeVideoBitMap] = reinterpret_cast<void *>(fakeFree);
        a.info.entry[QX_EP_DoVideoBitMapMethod] = reinterpret_cast<void *>(fakeMethod);
        qxDisplayAdapter = &a.info;
        qxAdapterInfo = {10, drawFlags};
    }
    ~WithAdapter()
    {
        qxDisplayAdapter = nullptr;
        qxAdapterInfo = {10, 0};
        fake = nullptr;
    }
};

} // namespace

TEST(Handles, RowSizesAttributesAndPlanes)
{
    qxBitMap *a = qxAllocAlphaBitMap(5, 3, 1, nullptr, 0);
    qxBitMap *m17 = qxAllocMaskBitMap(nullptr, 17, 2, 1, nullptr, 0), *m16 = qxAllocMaskBitMap(nullptr, 16, 2, 1, nullptr, 0);
    qxBitMap *p = qxAllocBitMap(5, 4, 0, nullptr);
    ASSERT_TRUE(a && m17 && m16 && p);
    EXPECT_EQ(qxGetBitMapAttr(a, 1), 8u);
    EXPECT_EQ(qxGetBitMapAttr(m17, 2), 4u);
    EXPECT_EQ(qxGetBitMapAttr(m16, 2), 2u);
    EXPECT_EQ(qxGetBitMapAttr(p, 1), 32u);
    EXPECT_EQ(qxGetBitMapAttr(p, 13), 8u);
    EXPECT_EQ(qxGetBitMapAttr(p, 21), 10u);
    EXPECT_EQ(qxGetBitMapAttr(p, 14), 4u);
    for (uint32_t sel : {0u, 1u, 2u, 3u, 4u, 13u, 14u, 18u, 19u, 20u, 21u, 22u}) EXPECT_EQ(qxGetBitMapAttr(nullptr, sel), 0u);
    // A mask made for a pixel bitmap spans its whole row (8 pixels here).
    qxBitMap *pm = qxAllocMaskBitMap(p, 5, 4, 1, nullptr, 0);
    EXPECT_EQ(qxGetBitMapAttr(pm, 2), 0u + ((8 + 15) >> 3 & ~1));
    // No adapter: a video bitmap is an ordinary buffer.
    qxBitMap *v = qxAllocBitMap(4, 4, 8, nullptr);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->video, 0u);
    // A borrowed plane is left alone when freed.
    std::vector<uint8_t> mine(40, 0x5A);
    qxBitMap *b = qxAllocAlphaBitMap(10, 4, 1, mine.data(), 10);
    qxBitMapLock l;
    ASSERT_EQ(qxLockBitMap(b->data, 2, &l), 1u);
    EXPECT_EQ(l.pixelFormat, 14u);
    qxBitMapLock ml;
    ASSERT_EQ(qxLockBitMap(m17->data, 2, &ml), 1u);
    EXPECT_EQ(ml.pixelFormat, 15u);
    EXPECT_EQ(ml.bytesPerPixel, 1u);
    qxFreeAlphaBitMap(b);
    EXPECT_EQ(mine[0], 0x5A);
    // Sizes of 0 and overflowing products are refused.
    EXPECT_EQ(qxAllocBitMap(0, 5, 0, nullptr), nullptr);
    EXPECT_EQ(qxAllocAlphaBitMap(0xFFFFFFF0u, 0xFFFFFFF0u, 0, nullptr, 0), nullptr);
    EXPECT_EQ(qxAllocBitMap(0x7FFFFFFFu, 0x7FFFFFFFu, 0, nullptr), nullptr);
    // A larger copy of an alpha channel copies the overlap and zeroes the rest.
    qxPlane ap = qxPlaneOf(a);
    std::memset(ap.bytes, 0xEE, size_t(ap.bytesPerRow) * 3);
    qxBitMap *big = qxCopyAlphaBitMap(a, 20, 9);
    qxPlane bp = qxPlaneOf(big);
    EXPECT_EQ(bp.bytes[0], 0xEE);
    EXPECT_EQ(bp.bytes[7], 0xEE);
    EXPECT_EQ(bp.bytes[8], 0);
    EXPECT_EQ(bp.bytes[3 * bp.bytesPerRow], 0);
    for (qxBitMap *h : {a, m17, m16, pm, big}) h->kind == 1 ? qxFreeAlphaBitMap(h) : qxFreeMaskBitMap(h);
    qxFreeBitMap(p), qxFreeBitMap(v);
}

// Selectors the handle does not answer go to the platform, which reads the
// current display's work buffer for width (21), pixels (23) and row (13).
TEST(Handles, SelectorsLeftToThePlatformReadTheDisplaysWorkBuffer)
{
    static qxPlatformBitMap work{0, 7, 3, reinterpret_cast<void *>(0x1000), 48, 4, 10, 0, 0, 0};
    const auto savedHook = qxUpcalls.workBuffer;
    qxDisplay *savedDisplay = qxCurrentDisplay;
    qxDisplay d{};
    qxCurrentDisplay = &d;
    qxUpcalls.workBuffer = [](qxDisplay *) -> const qxPlatformBitMap * { return &work; };
    qxBitMap *alpha = qxAllocAlphaBitMap(5, 2, 1, nullptr, 0);
    ASSERT_TRUE(alpha);
    EXPECT_EQ(qxGetBitMapAttr(nullptr, 23), 0x1000u);
    EXPECT_EQ(qxGetBitMapAttr(alpha, 5), 32u);
    EXPECT_EQ(qxGetBitMapAttr(alpha, 11), 16u);
    EXPECT_EQ(qxGetBitMapAttr(alpha, 21), 0u); // a plane has no pixel format
    EXPECT_EQ(qxGetBitMapAttr(alpha, 30), 0u);
    qxUpcalls.workBuffer = nullptr;
    EXPECT_EQ(qxGetBitMapAttr(nullptr, 23), 0u);
    qxFreeAlphaBitMap(alpha);
    qxUpcalls.workBuffer = savedHook;
    qxCurrentDisplay = savedDisplay;
}

TEST(Handles, KernelFrontEnd)
{
    static int ran;
    ran = 0;
    qxLockedKernel k = [](const qxBitMapLock *, void *) { ++ran; };
    EXPECT_EQ(qxRunKernel(nullptr, 0, nullptr, k, k, nullptr), 1152);
    int saved = qxScreenPixelFormat;
    qxScreenPixelFormat = 8; // 3 bytes per pixel: nothing runs, still success
    qxBitMap *b = qxAllocBitMap(3, 3, 0, nullptr);
    qxScreenPixelFormat = saved;
    EXPECT_EQ(qxRunKernel(b, 0, nullptr, k, k, nullptr), 0);
    EXPECT_EQ(ran, 0);
    qxBitMap *c = qxAllocBitMap(3, 3, 0, nullptr);
    EXPECT_EQ(qxRunKernel(c, 0, nullptr, k, nullptr, nullptr), 0);
    EXPECT_EQ(ran, 1);
    qxFreeBitMap(b), qxFreeBitMap(c);
}

TEST(Handles, PictureCache)
{
    qxBitMap *a = qxAllocAlphaBitMap(4, 2, 1, nullptr, 0);
    qxPlaneOf(a).bytes[1] = 99;
    static int refs;
    refs = 0;
    qxPicSourceRef = [](qxPicSource *, int d) { refs += d; };
    auto *src = reinterpret_cast<qxPicSource *>(&refs);
    ASSERT_EQ(qxAddGfxCacheEntry("pic.png", 4, 2, 7, src, a, 3), 0);
    uint32_t w = 0, h = 0, f = 0, x = 0;
    qxPicSource *s = nullptr;
    qxBitMap *copy = nullptr;
    ASSERT_EQ(qxFindGfxCacheEntry("PIC.PNG", 1, &w, &h, &f, &s, &copy, &x), 0);
    EXPECT_EQ(w * 100 + h * 10 + f, 427u);
    EXPECT_EQ(s, src);
    EXPECT_EQ(qxPlaneOf(copy).bytes[1], 99);
    EXPECT_EQ(refs, 2);
    EXPECT_EQ(qxFindGfxCacheEntry("other.png", 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 1246);
    qxFreeGfxCache();
    EXPECT_EQ(refs, 1);
    qxPicSourceRef = nullptr;
    qxFreeAlphaBitMap(copy), qxFreeAlphaBitMap(a);
}

TEST(Blits, SoftwareRoadsAndClipping)
{
    qxBitMap *s = qxAllocBitMap(20, 2, 0, nullptr), *d = qxAllocBitMap(20, 2, 0, nullptr);
    uint32_t *sp = pixelsOf(s), *dp = pixelsOf(d);
    int32_t row = int32_t(qxGetBitMapAttr(s, 13));
    for (int i = 0; i < 20; ++i) sp[i] = uint32_t(i + 1);
    qxRectFill(d, 0, 0, 20, 2, 0);
    // dx = -5, w = 20: source columns 5-19 land in 0-14.
    int32_t sx = 0, sy = 0, dx = -5, dy = 0, w = 20, h = 1;
    ASSERT_TRUE(qxClipBltRect(nullptr, &sx, &sy, &dx, &dy, &w, &h, 20, 2, 20, 2, 0));
    qxBltBitMapDirect(s, sx, sy, d, dx, dy, w, h);
    EXPECT_EQ(dp[0], 6u);
    EXPECT_EQ(dp[14], 20u);
    EXPECT_EQ(dp[15], 0u);
    // A clip region trims and moves the source along.
    qxClipRect clip{3, 0, 4, 2};
    sx = 0, dx = 0, w = 20, h = 2;
    ASSERT_TRUE(qxClipBltRect(&clip, &sx, &sy, &dx, &dy, &w, &h, 20, 2, 20, 2, 1));
    EXPECT_EQ(sx * 100 + dx * 10 + w, 3 * 100 + 3 * 10 + 4);
    // Masked and alpha roads.
    qxBitMap *m = qxAllocMaskBitMap(nullptr, 20, 2, 1, nullptr, 0);
    qxMaskRowOp(m, 1, 1, 2, 1, 0);
    qxBltBitMapMasked(s, 0, 0, d, 0, 1, 4, 1, m);
    EXPECT_EQ(dp[row + 0], 0u);
    EXPECT_EQ(dp[row + 1], 0u);
    qxMaskRowOp(m, 0, 0, 20, 1, 0);
    qxBltBitMapMasked(s, 0, 0, d, 0, 1, 4, 1, m);
    EXPECT_EQ(dp[row + 1], 2u);
    qxBitMap *a = qxAllocAlphaBitMap(20, 2, 1, nullptr, 0);
    qxFillBitMapRect(a, 0, 0, 20, 2, 255);
    sp[0] = 0xFFFFFF, dp[0] = 0;
    qxFillBitMapRect(a, 0, 0, 1, 1, 128);
    qxBltBitMapThroughAlpha(s, 0, 0, d, 0, 0, 1, 1, a);
    EXPECT_EQ(dp[0], 0x7F7F7Fu);
    // Modes above 2 and 3-byte pixels have no kernel.
    qxBltPixelsByMode(sp, 0, 0, row, dp, 0, 0, row, 1, 1, nullptr, 0, nullptr, 0, 4, 10, 3);
    qxBltPixelsByMode(sp, 0, 0, row, dp, 0, 0, row, 1, 1, nullptr, 0, nullptr, 0, 3, 8, 0);
    EXPECT_EQ(dp[0], 0x7F7F7Fu);
    qxFreeMaskBitMap(m), qxFreeAlphaBitMap(a), qxFreeBitMap(s), qxFreeBitMap(d);
}

TEST(Blits, AdapterRoads)
{
    {
        WithAdapter with(QX_ADAPTER_OWNSBITMAPS | QX_ADAPTER_INVERTALPHA, QX_DRAW_BLIT | QX_DRAW_MASKED | QX_DRAW_RECTFILL);
        qxBitMap *s = qxAllocBitMap(10, 10, 0, nullptr), *d = qxAllocBitMap(10, 10, 0, nullptr);
        ASSERT_TRUE(s && d);
        // Attributes 1 and 13 come from the adapter's row size.
        EXPECT_EQ(qxGetBitMapAttr(s, 1), 256u);
        EXPECT_EQ(qxGetBitMapAttr(s, 13), 64u);
        qxBitMapLock l;
        EXPECT_EQ(qxLockBitMap(s, 1, &l), 77u);
        EXPECT_EQ(l.pixelsPerRow, 64u);
        qxUnLockBitMap(&l);
        EXPECT_EQ(fake->unlocked, 77u);
        qxBltBitMapDirect(s, 1, 2, d, 3, 4, 5, 6);
        EXPECT_EQ(fake->lastFlags, 2u);
        EXPECT_EQ(fake->lastBlit.sx + fake->lastBlit.dy * 10 + fake->lastBlit.height * 100, 1u + 40 + 600);
        qxBitMap *m = qxAllocMaskBitMap(s, 10, 10, 1, nullptr, 0);
        qxBltBitMapMasked(s, 0, 0, d, 0, 0, 2, 2, m);
        EXPECT_EQ(fake->lastBlit.mask, m->data);
        // Nothing reaches the adapter for an empty rectangle.
        uint32_t calls = fake->calls;
        qxBltBitMapDirect(s, 0, 0, d, 0, 0, 0, 5);
        EXPECT_EQ(fake->calls, calls);
        // Inverted alpha under 0x80.
        qxRectFill(d, 0, 0, 2, 2, 0x00123456);
        EXPECT_EQ(fake->lastColour, 0xFF123456u);
        EXPECT_EQ(fake->lastFlags, 1u);
        // A failed lock releases the other one and copies nothing.
        fake->failLock = true;
        fake->unlocked = 0;
        qxBltLockedBitMaps(s, 0, 0, d, 0, 0, 1, 1, nullptr, nullptr, 1);
        EXPECT_EQ(fake->unlocked, 0u);
        fake->failLock = false;
        qxFreeMaskBitMap(m), qxFreeBitMap(s), qxFreeBitMap(d);
    }
    {
        // Video bitmaps of an adapter with flag 0x10: BltBitMap flag 4 onto
        // one, 9 then 1 from one before and after it is synced.
        WithAdapter with(QX_ADAPTER_VIDEOBITMAPS, 0);
        qxBitMap *v = qxAllocBitMap(16, 16, 8, nullptr), *p = qxAllocBitMap(16, 16, 0, nullptr);
        ASSERT_TRUE(v && p);
        EXPECT_EQ(v->video, 1u);
        EXPECT_EQ(qxGetBitMapAttr(v, 22), 0u);
        qxBltBitMapDirect(p, 0, 0, v, 0, 0, 4, 4);
        EXPECT_EQ(fake->lastFlags, 4u);
        qxBltBitMapDirect(v, 0, 0, v, 0, 0, 4, 4);
        EXPECT_EQ(fake->lastFlags, 4u | 9u);
        qxBitMapSyncHardware(v);
        EXPECT_EQ(fake->lastFlags, 11u);
        qxBltBitMapDirect(v, 0, 0, v, 0, 0, 4, 4);
        EXPECT_EQ(fake->lastFlags, 4u | 1u);
        qxFreeBitMap(v), qxFreeBitMap(p);
    }
    EXPECT_EQ(qxAdapterColor(0x00123456, 1), 0xFF123456u);
    EXPECT_EQ(qxAdapterColor(0x80123456, 1), 0x7F123456u);
    EXPECT_EQ(qxAdapterColor(0x80123456, 0), 0x80123456u);
}

TEST(Drawing, TilesMasksAndConversions)
{
    // Tile offset -3 with tile width 10 starts at tile column 7.
    std::vector<uint32_t> tile(10 * 2), target(25 * 2, 0);
    for (int i = 0; i < 20; ++i) tile[size_t(i)] = uint32_t(i % 10);
    qxTileFill(target.data(), 0, 0, 25, 2, tile.data(), -3, 0, 10, 2, 1, 25);
    EXPECT_EQ(target[0], 7u);
    EXPECT_EQ(target[3], 0u);
    EXPECT_EQ(target[24], 1u);
    // Mask operations.
    qxBitMap *m = qxAllocMaskBitMap(nullptr, 16, 2, 1, nullptr, 0), *n = qxAllocMaskBitMap(nullptr, 16, 2, 1, nullptr, 0);
    qxWritePixel(m, 3, 0, 0, 1);
    EXPECT_EQ(qxReadMaskPixel(m, 3, 0, 1), 1u);
    qxWritePixel(m, 3, 0, 3, 1);
    EXPECT_EQ(qxReadMaskPixel(m, 3, 0, 1), 0u);
    qxMaskRowOp(n, 0, 0, 16, 2, 0);
    qxMaskCopyOp(m, 0, 0, n, 0, 0, 16, 2, 6, nullptr, 0);
    EXPECT_EQ(qxReadMaskPixel(n, 5, 1, 1), 1u);
    qxMaskCopyOp(m, 0, 0, n, 0, 0, 16, 2, 4, nullptr, 0);
    EXPECT_EQ(qxReadMaskPixel(n, 5, 1, 1), 0u);
    // Rectangles outside either plane touch nothing.
    qxMaskCopyOp(m, -100, 0, n, 1000, 0, 16, 2, 2, nullptr, 0);
    qxFillBitMapRect(nullptr, 0, 0, 5, 5, 1);
    // ARGB round trip with mask and alpha rules.
    uint32_t argb[4] = {0x80FF0000, 0x0000FF00, 0xFF0000FF, 0x12345678};
    qxBitMap *bm = nullptr, *mask = nullptr, *alpha = nullptr;
    ASSERT_EQ(qxBitMapFromARGB(argb, 0x0000FF00, 2, 2, 2, 0, 8, nullptr, &bm, &mask, &alpha), 0);
    uint32_t *out = qxBitMapToARGBMasked(bm, 0, 0, 2, 2, mask, nullptr, 0xFFFFFFFF, 1, 0);
    ASSERT_TRUE(out);
    EXPECT_EQ(out[0], 0xFFFF0000u);
    EXPECT_EQ(out[1], 0x0000FF00u);
    free(out);
    out = qxBitMapToARGBMasked(bm, 0, 0, 2, 2, nullptr, alpha, 0x000001, 0, 0);
    EXPECT_EQ(out[0], 0x80FF0000u);
    EXPECT_EQ(out[1], 0x0000FF01u);
    EXPECT_EQ(out[3], 0x12345678u);
    free(out);
    qxFreeBitMap(bm), qxFreeMaskBitMap(mask), qxFreeAlphaBitMap(alpha), qxFreeMaskBitMap(m), qxFreeMaskBitMap(n);
}

TEST(Drawing, NormalisedMaskAndScaledHandles)
{
    qxBitMap *m = qxAllocMaskBitMap(nullptr, 8, 4, 1, nullptr, 0);
    qxMaskRowOp(m, 2, 1, 1, 1, 0);
    int32_t x = -2, y = -1, w = 8, h = 4;
    ASSERT_EQ(qxNormaliseClipMask(&x, &y, &w, &h, &m, 0, 1), 0);
    EXPECT_EQ(x * 1000 + y * 100 + w * 10 + h, 0 + 0 + 60 + 3);
    EXPECT_EQ(qxReadMaskPixel(m, 0, 0, 1), 1u);
    qxFreeMaskBitMap(m);
    // Row operations (set, clear, invert) on spans across byte edges against a bit model.
    m = qxAllocMaskBitMap(nullptr, 45, 2, 1, nullptr, 0);
    std::vector<bool> model(45 * 2);
    const int32_t spans[][5] = {{3, 0, 40, 2, 0}, {9, 1, 30, 1, 1}, {0, 0, 45, 2, 3}, {17, 0, 7, 2, 3}, {8, 1, 16, 1, 1}};
    for (const auto &o : spans) {
        qxMaskRowOp(m, o[0], o[1], o[2], o[3], o[4]);
        for (int yy = o[1]; yy < o[1] + o[3]; ++yy)
            for (int xx = o[0]; xx < o[0] + o[2]; ++xx) {
                auto bit = model[size_t(yy * 45 + xx)];
                bit = o[4] == 3 ? !bit : o[4] == 0;
            }
    }
    for (int i = 0; i < 90; ++i) ASSERT_EQ(qxReadMaskPixel(m, i % 45, i / 45, 1), uint32_t(model[size_t(i)])) << i;
    qxFreeMaskBitMap(m);

    qxBitMap *b = qxAllocBitMap(2, 1, 0, nullptr), *out = nullptr, *om = nullptr;
    pixelsOf(b)[0] = 0x10, pixelsOf(b)[1] = 0x20;
    qxBitMap *bm = qxAllocMaskBitMap(b, 2, 1, 1, nullptr, 0);
    qxMaskRowOp(bm, 1, 0, 1, 1, 0);
    ASSERT_EQ(qxScalePixels(b, bm, nullptr, 0, 0, nullptr, 2, 1, 4, 1, 0, 0, &out, &om, nullptr), 0);
    EXPECT_EQ(pixelsOf(out)[1], 0x10u);
    EXPECT_EQ(pixelsOf(out)[2], 0x20u);
    EXPECT_EQ(qxReadMaskPixel(om, 1, 0, 1), 0u);
    EXPECT_EQ(qxReadMaskPixel(om, 3, 0, 1), 1u);
    EXPECT_EQ(qxScalePixels(b, nullptr, nullptr, 0, 0, nullptr, 2, 1, 0, 1, 0, 0, &out, nullptr, nullptr), 0);
    // A rectangle reaching past the source is refused, nothing is handed out.
    qxBitMap *none = nullptr;
    EXPECT_EQ(qxScalePixels(b, nullptr, nullptr, 1, 0, nullptr, 2, 1, 4, 1, 0, 0, &none, nullptr, nullptr), 1217);
    EXPECT_EQ(none, nullptr);
    qxFreeBitMap(out), qxFreeMaskBitMap(om), qxFreeMaskBitMap(bm), qxFreeBitMap(b);
}

TEST(Drawing, AChangedRectangleReachesOnlyItsPartOfTheScaledPicture)
{
    // A window showing a scaled picture gets only the part a change reaches:
    // that part, made alone, must be the whole scaled picture's pixels there,
    // and nothing outside it may change. Nearest x2, x3 (the truncated 16.16
    // step repeats a column unevenly) and a big x3, smooth (reads the
    // neighbour to the right and below), and an odd size.
    struct Case {
        int32_t w, h, sw, sh;
        uint32_t smooth;
    } cases[] = {{64, 48, 128, 96, 0}, {64, 48, 192, 144, 0}, {640, 480, 1920, 1440, 0},
                 {64, 48, 128, 96, 1}, {64, 48, 192, 144, 1}, {37, 23, 100, 61, 1}, {37, 23, 100, 61, 0}};
    uint32_t seed = 7;
    auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    auto lockOf = [](qxBitMap *b) {
        qxBitMapLock l{};
        EXPECT_TRUE(qxLockBitMap(b, 1, &l));
        return l;
    };
    for (const Case &c : cases)
        for (int round = 0; round < 6; ++round) {
            qxBitMap *pic = qxAllocBitMap(uint32_t(c.w), uint32_t(c.h), 0, nullptr);
            qxBitMap *before = qxAllocBitMap(uint32_t(c.sw), uint32_t(c.sh), 0, nullptr);
            qxBitMap *after = qxAllocBitMap(uint32_t(c.sw), uint32_t(c.sh), 0, nullptr);
            ASSERT_TRUE(pic && before && after);
            qxBitMapLock p = lockOf(pic);
            for (int32_t j = 0; j < c.h; ++j)
                for (int32_t i = 0; i < c.w; ++i)
                    static_cast<uint32_t *>(p.pixels)[j * p.pixelsPerRow + i] = next() & 0xFFFFFF;
            qxUnLockBitMap(&p);
            ASSERT_EQ(qxScalePixels(pic, nullptr, nullptr, 0, 0, before, c.w, c.h, c.sw, c.sh, c.smooth, 0, nullptr,
                                    nullptr, nullptr), 0);
            // The change: one pixel, an edge strip or a block.
            const int32_t rw = round == 0 ? 1 : 1 + int32_t(next() % uint32_t(c.w / 3));
            const int32_t rh = round == 0 ? 1 : 1 + int32_t(next() % uint32_t(c.h / 3));
            const int32_t rx = round == 1 ? c.w - rw : int32_t(next() % uint32_t(c.w - rw + 1));
            const int32_t ry = round == 2 ? 0 : int32_t(next() % uint32_t(c.h - rh + 1));
            p = lockOf(pic);
            for (int32_t j = ry; j < ry + rh; ++j)
                for (int32_t i = rx; i < rx + rw; ++i)
                    static_cast<uint32_t *>(p.pixels)[j * p.pixelsPerRow + i] ^= 0x808080;
            qxUnLockBitMap(&p);
            ASSERT_EQ(qxScalePixels(pic, nullptr, nullptr, 0, 0, after, c.w, c.h, c.sw, c.sh, c.smooth, 0, nullptr,
                                    nullptr, nullptr), 0);
            qxClipRect part{};
            ASSERT_EQ(qxScaledRectOf(c.w, c.h, c.sw, c.sh, c.smooth, rx, ry, rw, rh, &part), 1);
            qxBitMap *alone = qxAllocBitMap(uint32_t(part.width) + 3, uint32_t(part.height) + 2, 0, nullptr);
            ASSERT_EQ(qxScalePixelsPart(pic, alone, c.sw, c.sh, c.smooth, &part), 0);
            qxBitMapLock b = lockOf(before), a = lockOf(after), o = lockOf(alone);
            auto at = [](const qxBitMapLock &l, int32_t i, int32_t j) {
                return static_cast<const uint32_t *>(l.pixels)[j * l.pixelsPerRow + i];
            };
            int outside = 0, wrong = 0;
            for (int32_t j = 0; j < c.sh; ++j)
                for (int32_t i = 0; i < c.sw; ++i) {
                    const bool in = i >= part.x && i < part.x + part.width && j >= part.y && j < part.y + part.height;
                    if (!in) outside += at(b, i, j) != at(a, i, j);
                    else wrong += at(o, i - part.x, j - part.y) != at(a, i, j);
                }
            EXPECT_EQ(outside, 0) << c.sw << "x" << c.sh << " smooth " << c.smooth << " round " << round;
            EXPECT_EQ(wrong, 0) << c.sw << "x" << c.sh << " smooth " << c.smooth << " round " << round;
            if (!c.smooth) {
                // The changed rectangle alone (a video frame at its place)
                // makes the same part.
                qxBitMap *piece = qxAllocBitMap(uint32_t(rw), uint32_t(rh), 0, nullptr);
                ASSERT_NE(piece, nullptr);
                qxBltBitMapDirect(pic, rx, ry, piece, 0, 0, rw, rh);
                qxBitMap *made = qxAllocBitMap(uint32_t(part.width), uint32_t(part.height), 0, nullptr);
                ASSERT_EQ(qxScalePixelsPiece(piece, rx, ry, c.w, c.h, made, c.sw, c.sh, &part), 0);
                qxBitMapLock m = lockOf(made);
                wrong = 0;
                for (int32_t j = 0; j < part.height; ++j)
                    for (int32_t i = 0; i < part.width; ++i) wrong += at(m, i, j) != at(a, part.x + i, part.y + j);
                EXPECT_EQ(wrong, 0) << "piece " << c.sw << "x" << c.sh << " round " << round;
                qxUnLockBitMap(&m);
                qxFreeBitMap(made), qxFreeBitMap(piece);
            }
            qxUnLockBitMap(&o), qxUnLockBitMap(&a), qxUnLockBitMap(&b);
            qxFreeBitMap(alone), qxFreeBitMap(after), qxFreeBitMap(before), qxFreeBitMap(pic);
        }
    // Nothing reached: an empty or outside rectangle.
    qxClipRect none{1, 1, 1, 1};
    EXPECT_EQ(qxScaledRectOf(64, 48, 128, 96, 0, 64, 0, 5, 5, &none), 0);
    EXPECT_EQ(none.width, 0);
}

TEST(Geometry, MatrixBoundsArcsAndPolygons)
{
    double m[4];
    qxSetupTransform(m, 0, 0, 10, 10, 2.0, 2.0, 90);
    EXPECT_NEAR(m[0], 0, 1e-9);
    EXPECT_NEAR(m[1], -2, 1e-9);
    EXPECT_NEAR(m[2], 2, 1e-9);
    EXPECT_NEAR(m[3], 0, 1e-9);
    qxInitScale(m);
    int32_t ox, oy, ow, oh;
    qxComputeTransformBounds(3, 4, 10, 10, m, &ox, &oy, &ow, &oh, 0.5, 0.5);
    EXPECT_EQ(ox * 1000 + oy * 100 + ow * 10 + oh, 3 * 1000 + 4 * 100 + 100 + 10);
    EXPECT_EQ(qxSin1024()[30], 512);
    EXPECT_EQ(qxSin1024()[150], 512);
    EXPECT_EQ(qxCos1024()[120], -512);
    std::vector<qxPoint> arc(400);
    EXPECT_EQ(qxArcPoints(arc.data(), 10, 10, 0, 360), 361);
    EXPECT_EQ(qxArcPoints(arc.data(), 10, 10, 0, 90), 93);
    EXPECT_EQ(arc[91].x * 100 + arc[91].y, 1010);
    qxPoint square[5] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}}, out[8];
    int32_t n = qxClipPolygonEdge(4, square, out, 5, 0);
    EXPECT_EQ(n, 4);
    EXPECT_EQ(out[0].x * 100 + out[0].y, 500);
    qxBitMap *mask = qxAllocMaskBitMap(nullptr, 16, 16, 1, nullptr, 0);
    qxPoint tri[3] = {{2, 2}, {8, 2}, {2, 8}};
    int32_t scratch[3];
    qxFillMaskPolygon(mask, tri, 3, scratch);
    EXPECT_EQ(qxReadMaskPixel(mask, 2, 2, 1), 1u);
    EXPECT_EQ(qxReadMaskPixel(mask, 8, 2, 1), 1u);
    EXPECT_EQ(qxReadMaskPixel(mask, 9, 2, 1), 0u);
    EXPECT_EQ(qxReadMaskPixel(mask, 2, 8, 1), 1u);
    EXPECT_EQ(qxReadMaskPixel(mask, 7, 7, 1), 0u);
    qxFreeMaskBitMap(mask);
}

TEST(HostSlots, PlainCPlugin)
{
    qxInstallBitMapHostSlots(qxHostGraphics);
    void *h = dlopen(QX_KITBITMAPS, RTLD_NOW);
    ASSERT_TRUE(h) << dlerror();
    auto test = reinterpret_cast<int (*)(const qxPluginBase *)>(dlsym(h, "BitmapSlotsTest"));
    ASSERT_TRUE(test);
    EXPECT_EQ(test(&qxPluginBaseTable), 0);
    dlclose(h);
}

// ---- SafeBlt against a display layer stand-in ----

namespace {

struct FakeDisplay {
    qxSafeBltView view{};
    bool exists = true;
    int shown = 0;
};
FakeDisplay *disp;

int fakeView(qxBitMap *, void *, qxSafeBltView *v)
{
    if (!disp->exists) return 0;
    *v = disp->view;
    return 1;
}
void fakeShow(qxBitMap *, int32_t, int32_t, void *, int32_t, int32_t, int32_t, int32_t, uint32_t, qxBitMap *)
{
    ++disp->shown;
}

struct WithDisplay {
    FakeDisplay d;
    qxBitMapDisplayHooks saved = qxBitMapDisplay;
    WithDisplay()
    {
        disp = &d;
        d.view.alphaIntensity = 0xFFFFFFFF;
        qxBitMapDisplay.currentView = fakeView;
        qxBitMapDisplay.bltToDisplay = fakeShow;
    }
    ~WithDisplay() { qxBitMapDisplay = saved, disp = nullptr; }
};

} // namespace

TEST(SafeBlt, DisplayNullAndPlanes)
{
    testing::internal::CaptureStdout();
    SafeBlt(nullptr, nullptr, 0, 0, nullptr, 0, 0, 1, 1, 1, 1, 1, 1, 0, nullptr, nullptr, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR! SAFEBLT() CALLED WITH DISPLAY=NULL!\n");

    WithDisplay with;
    qxBitMap *s = qxAllocBitMap(8, 8, 0, nullptr), *t = qxAllocBitMap(8, 8, 0, nullptr);
    // A clip region with a mask, and an output target with its own mask and
    // alpha channel: pixels only where the clip mask is set, the target mask
    // set there and the alpha 255.
    qxBitMap *clipMask = qxAllocMaskBitMap(nullptr, 4, 4, 1, nullptr, 0);
    qxMaskRowOp(clipMask, 1, 1, 1, 1, 0);
    qxBitMap *M = qxAllocMaskBitMap(nullptr, 8, 8, 1, nullptr, 0), *A = qxAllocAlphaBitMap(8, 8, 1, nullptr, 0);
    with.d.view.hasClip = 1, with.d.view.clip = {2, 2, 4, 4}, with.d.view.clipMask = clipMask;
    with.d.view.targetMask = M, with.d.view.targetAlpha = A, with.d.view.maskMode = 0;
    qxRectFill(s, 0, 0, 8, 8, 0x111111);
    qxRectFill(t, 0, 0, 8, 8, 0);
    qxBitMap *srcMask = qxAllocMaskBitMap(nullptr, 8, 8, 1, nullptr, 0);
    qxMaskRowOp(srcMask, 0, 0, 8, 8, 0);
    SafeBlt(nullptr, s, 0, 0, t, 0, 0, 8, 8, 8, 8, 8, 8, 0, srcMask, nullptr, nullptr);
    int row = int(qxGetBitMapAttr(t, 13)), count = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) count += pixelsOf(t)[y * row + x] == 0x111111;
    EXPECT_EQ(count, 1);
    EXPECT_EQ(pixelsOf(t)[3 * row + 3], 0x111111u);
    EXPECT_EQ(qxReadMaskPixel(M, 3, 3, 1), 1u);
    EXPECT_EQ(qxReadMaskPixel(M, 4, 3, 1), 0u);
    EXPECT_EQ(qxPlaneOf(A).bytes[3 * qxPlaneOf(A).bytesPerRow + 3], 255);
    // The display itself without layers: drawn into work bitmap 1 and shown.
    with.d.view = {};
    with.d.view.alphaIntensity = 0xFFFFFFFF, with.d.view.outputType = 21, with.d.view.work1 = t;
    qxRectFill(t, 0, 0, 8, 8, 0);
    SafeBlt(nullptr, s, 0, 0, nullptr, 1, 1, 2, 2, 8, 8, 8, 8, 0, nullptr, nullptr, nullptr);
    EXPECT_EQ(pixelsOf(t)[row + 1], 0x111111u);
    EXPECT_EQ(with.d.shown, 1);
    for (qxBitMap *m : {clipMask, M, srcMask}) qxFreeMaskBitMap(m);
    qxFreeAlphaBitMap(A), qxFreeBitMap(s), qxFreeBitMap(t);
}
