// The graphics library's attribute tags and colour helpers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "core/commands/qx_commands.h"
#include "core/commands/qx_objreg.h"
#include "display/qx_displaylibs.h"

namespace {

TEST(GraphicsLib, MaskModeAndAlphaIntensityTags)
{
    qxTagItem mask{4, 0}, alpha{6, 0}, other{5, 0};
    EXPECT_EQ(qxGraphicsAttrGetter(&alpha), 1);
    EXPECT_EQ(alpha.data, 0xFFFFFFFFu);
    mask.data = 3;
    EXPECT_EQ(qxGraphicsAttrSetter(&mask), 1);
    mask.data = 0;
    EXPECT_EQ(qxGraphicsAttrGetter(&mask), 1);
    EXPECT_EQ(mask.data, 3u);
    EXPECT_EQ(qxGraphicsAttrGetter(&other), 0);
    EXPECT_EQ(qxGraphicsAttrSetter(&other), 0);
    mask.data = 0;
    qxGraphicsAttrSetter(&mask);
}

TEST(GraphicsLib, ColourHelpers)
{
    EXPECT_EQ(qxRealColorForDepth(0x123456, 16), 0x103450u);
    EXPECT_EQ(qxRealColorForDepth(0x123456, 15), 0x103050u);
    EXPECT_EQ(qxRealColorForDepth(0x123456, 24), 0x123456u);
    EXPECT_EQ(qxMixColor(0xFF112233, 0x00112233, 200), 0x112233u);
    int r[4];
    EXPECT_EQ(qxIntersectRects(0, 0, 10, 10, 10, 0, 5, 5, r), 0);
    EXPECT_EQ(qxIntersectRects(-5, -5, 10, 10, 0, 0, 10, 10, r), 1);
    EXPECT_EQ(r[0], 0);
    EXPECT_EQ(r[2], 5);
    EXPECT_EQ(qxIntersectRects(0x7FFFFFF0, 0, 0x7FFFFFFF, 1, 0x7FFFFFF8, 0, 100, 1, r), 1);
    EXPECT_EQ(r[0], 0x7FFFFFF8);
}

} // namespace

#include "core/files/qx_file.h"
#include "display/qx_snapshot.h"
#include "main/qx_picturelink.h"
#include "platform/qx_errcodes.h"

namespace {

TEST(GraphicsSavers, FormatDispatch)
{
    uint32_t px = 0x123456;
    qxSaveOptions o{0, 90, 256, 0};
    EXPECT_EQ(qxSaveImageFormat(9, &px, 1, 1, "/nonexistent/x", 0xFFFFFFFFu, &o),
              ERR_UNKNOWNIMGOUT);
    EXPECT_EQ(qxSaveImageFormat(0, nullptr, 1, 1, "x", 0xFFFFFFFFu, &o), ERR_WRONGUSAGE);
    EXPECT_EQ(qxSaveImageFormat(0, &px, 0, 1, "x", 0xFFFFFFFFu, &o), ERR_WRONGUSAGE);
}

TEST(GraphicsSavers, WritersReportUnwritablePathsAndFullDisks)
{
    qxLinkPictureWriters();
    std::vector<uint32_t> px(64 * 64, 0xFF123456);
    qxSaveOptions o{0, 90, 256, 0};
    for (int format = 0; format <= 4; format++)
        EXPECT_EQ(qxSaveImageFormat(format, px.data(), 64, 64, "/nonexistent/dir/x", 0xFFFFFFFFu, &o),
                  ERR_WRITEFILE) << format;
    for (int format : {0, 2})
        EXPECT_EQ(qxSaveImageFormat(format, px.data(), 64, 64, "/dev/full", 0xFFFFFFFFu, &o), ERR_WRITE) << format;
}

TEST(GraphicsSavers, IconBodyRowsLastFirstThenPaddedMask)
{
    // 33 x 2: mask rows of ((33 + 31) >> 3) & ~3 = 8 bytes.
    std::vector<uint32_t> px(40 * 2, 0xFF000000u);
    px[0] = 0x00ABCDEF; // top left transparent
    px[40 + 32] = 0x00000001;
    std::vector<uint8_t> mem(40 + 33 * 4 * 2 + 16, 0xEE);
    ASSERT_EQ(qxWriteIconImage(px.data(), 33, 2, 40, mem.data(), nullptr), 0);
    uint32_t first;
    std::memcpy(&first, mem.data() + 40, 4);
    EXPECT_EQ(first, 0xFF000000u); // the bottom row comes first
    std::memcpy(&first, mem.data() + 40 + 33 * 4, 4);
    EXPECT_EQ(first, 0x00ABCDEFu);
    const uint8_t *mask = mem.data() + 40 + 33 * 4 * 2;
    const uint8_t bottom[8] = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    const uint8_t top[8] = {0x80, 0, 0, 0, 0x7F, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(std::memcmp(mask, bottom, 8), 0);
    EXPECT_EQ(std::memcmp(mask + 8, top, 8), 0);
    EXPECT_EQ(mem[39], 0xEE); // the header space is left alone
    qxFileHandle *f = qxOpen("/dev/full", 10, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(qxWriteIconImage(px.data(), 33, 2, 40, nullptr, f), ERR_WRITE);
    qxClose(f);
}

TEST(GraphicsSavers, GrabsWidenToARGB)
{
    const uint16_t g16[2] = {0xF800, 0x07FF};
    uint32_t *a = qxGrabToARGB(g16, 2, 2, 1);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a[0], 0xFFF80000u);
    EXPECT_EQ(a[1], 0xFF00FCF8u);
    std::free(a);
    const uint32_t g32[1] = {0x00ABCDEF};
    a = qxGrabToARGB(g32, 4, 1, 1);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a[0], 0xFFABCDEFu);
    std::free(a);
    EXPECT_EQ(qxGrabToARGB(g32, 4, 0, 1), nullptr);
}

} // namespace

#include <cmath>

#include "display/qx_bitmapplanes.h"
#include "display/qx_clipregion.h"
#include "imaging/qx_blit.h"

// Quarter turns keep boxes on whole pixels; other angles get a mask holding
// the turned rectangle; positions left of or above the output are cut.
TEST(ClipRegions, TurnedWithTheirLayer)
{
    qxClipRegion r{};
    r.type = 35, r.x = 30, r.y = 20, r.width = 20, r.height = 10;
    const double quarter[4] = {0, -1, 1, 0}, doubled[4] = {2, 0, 0, 2};
    const double about[4] = {50, 30, 50, 30}, halved[4] = {50, 30, 25, 15};
    qxClipRegion *q = qxTransformClipRegion(&r, quarter, about, nullptr);
    ASSERT_TRUE(q);
    EXPECT_EQ(std::vector<int>({q->x, q->y, q->width, q->height, int(q->isCopy)}), std::vector<int>({40, 30, 10, 20, 1}));
    EXPECT_FALSE(q->mask);
    qxFreeClipRegionRef(q);
    q = qxTransformClipRegion(&r, doubled, halved, nullptr); // on screen at half size
    ASSERT_TRUE(q);
    EXPECT_EQ(std::vector<int>({q->x, q->y, q->width, q->height}), std::vector<int>({0, 0, 25, 15}));
    qxFreeClipRegionRef(q);
    const double c = std::sqrt(0.5), eighth[4] = {c, -c, c, c};
    q = qxTransformClipRegion(&r, eighth, about, nullptr);
    ASSERT_TRUE(q && q->mask);
    const qxPlane m = qxPlaneOf(static_cast<qxBitMap *>(q->mask));
    ASSERT_EQ(m.width, q->width);
    auto in = [&](int x, int y) { return qxMaskBit(m.bytes + int64_t(y - q->y) * m.bytesPerRow, x - q->x); };
    // The region's centre (40, 25) turns to about (39.4, 33.5); its bounding
    // box holds corners that the turned rectangle leaves out.
    EXPECT_TRUE(in(39, 33));
    EXPECT_FALSE(in(q->x, q->y));
    EXPECT_FALSE(in(q->x + q->width - 1, q->y + q->height - 1));
    qxFreeClipRegionRef(q);
    qxFreeClipRegionRef(&r); // a shared region is only dropped
    EXPECT_EQ(r.width, 20);
}
