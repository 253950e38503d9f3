// Position constants with offsets and their exact range bounds; #KEEPASPRAT.
#include <gtest/gtest.h>

#include "display/qx_positions.h"
#include "platform/qx_errcodes.h"

namespace {

TEST(Positions, ConstantsAndOffsets)
{
    EXPECT_EQ(qxResolvePosX(-100000, 100, 640, 0), 270);
    EXPECT_EQ(qxResolvePosX(-100000 + 10, 100, 640, 0), 280);
    EXPECT_EQ(qxResolvePosX(-40000, 100, 640, 0), 640);
    EXPECT_EQ(qxResolvePosX(-50000, 100, 640, 0), -100);
    EXPECT_EQ(qxResolvePosX(-80000, 100, 640, 0), 540);
    EXPECT_EQ(qxResolvePosX(-90000 - 4999, 100, 640, 0), -4999);
    EXPECT_EQ(qxResolvePosX(-95000, 100, 640, 0), -95000);
    EXPECT_EQ(qxResolvePosX(-85000, 100, 640, 0), -85000);
    EXPECT_EQ(qxResolvePosX(-45000, 100, 640, 0), -45000);
    EXPECT_EQ(qxResolvePosX(17, 100, 640, 0), 17);
    EXPECT_EQ(qxResolvePosX(-100000, 100, 640, 0.5), 320);
    EXPECT_EQ(qxResolvePosY(-60000, 50, 480, 0), 430);
    EXPECT_EQ(qxResolvePosY(-70000 + 3, 50, 480, 0), 3);
    EXPECT_EQ(qxResolvePosY(-30000, 50, 480, 0), -50);
    EXPECT_EQ(qxResolvePosY(-20000, 50, 480, 0), 480);
    EXPECT_EQ(qxResolvePosY(-15000, 50, 480, 0), -15000);
}

TEST(Positions, KeepAspectRoundsHalfUp)
{
    int w = 100000, h = 100;
    EXPECT_EQ(qxComputeScaledSize(320, 200, &w, &h), 0);
    EXPECT_EQ(w, 160);
    w = 3;
    h = 100000;
    EXPECT_EQ(qxComputeScaledSize(2, 1, &w, &h), 0);
    EXPECT_EQ(h, 2); // 1.5 rounds up
    w = h = 100000;
    EXPECT_EQ(qxComputeScaledSize(2, 1, &w, &h), ERR_WRONGUSAGE);
    w = 0;
    h = 5;
    EXPECT_EQ(qxComputeScaledSize(2, 1, &w, &h), ERR_BADDIMENSIONS);
}

} // namespace

#include "display/qx_clipregion.h"

namespace {

TEST(ClipRegions, MissingRegionsGiveFindErrors)
{
    qxClipRegion *r = nullptr;
    EXPECT_EQ(qxFindClipRegion({9, nullptr}, &r), ERR_FINDCLIPREGION);
    EXPECT_EQ(r, nullptr);
    int dummy;
    EXPECT_EQ(qxFindClipRegion({0, &dummy}, &r), ERR_FINDARRAY);
    EXPECT_EQ(qxClipRegionCount(), 0u);
}

} // namespace
