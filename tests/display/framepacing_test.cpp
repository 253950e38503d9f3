// The frame limiter's arithmetic and the refresh grouping rules.
#include <gtest/gtest.h>

#include "display/qx_bitmap.h"
#include "display/qx_framepacing.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"

namespace {

TEST(FramePacing, LimitBelowOneIsSixty)
{
    qxSetFrameLimit(25);
    EXPECT_EQ(qxGetFrameLimit(), 25u);
    qxSetFrameLimit(0);
    EXPECT_EQ(qxGetFrameLimit(), 60u);
    qxSetFrameLimit(25);
    qxSetFrameLimit(-5);
    EXPECT_EQ(qxGetFrameLimit(), 60u);
}

TEST(FramePacing, DelayIsTheRestOfThePeriod)
{
    EXPECT_EQ(qxFrameDelayNs(5000000, 50), 15000000);
    EXPECT_EQ(qxFrameDelayNs(25000000, 50), 0);
    EXPECT_EQ(qxFrameDelayNs(1000000000, 1), 0);
    // The period is whole microseconds: 1/60 s is 16666 us.
    EXPECT_EQ(qxFrameDelayNs(0, 60), 16666000);
    EXPECT_EQ(qxFrameDelayNs(-1, 60), 0);
}

TEST(FramePacing, ClosedDisplayIsNotPacedUnlessForced)
{
    qxDisplay d{};
    EXPECT_EQ(qxFrameLimit(nullptr, &d, 0), 0);
    EXPECT_EQ(d.lastFrameNs, 0);
    EXPECT_EQ(qxFrameLimit(nullptr, &d, 1), 0);
    EXPECT_NE(d.lastFrameNs, 0);
    EXPECT_EQ(qxFrameLimit(nullptr, nullptr, 1), 0);
}

TEST(FramePacing, BeginRefreshOnlyWhenWanted)
{
    qxDisplay d{};
    d.targetType = 21;
    EXPECT_EQ(qxBeginRefresh(&d, 0), 0);
    EXPECT_EQ(d.refreshMode, 0u);
    EXPECT_EQ(qxEndRefresh(&d), 0);

    d.autoScale = 1;
    d.scaledWidth = 640;
    d.scaledHeight = 480;
    EXPECT_EQ(qxBeginRefresh(&d, 0), 0);
    EXPECT_EQ(d.refreshMode, 1u);
    EXPECT_EQ(qxBeginRefresh(&d, 0), ERR_WRONGUSAGE);
    EXPECT_EQ(qxEndRefresh(&d), 0);
    EXPECT_EQ(d.refreshMode, 0u);

    qxDisplay t{};
    t.targetType = 3;
    EXPECT_EQ(qxBeginRefresh(&t, 1), ERR_SELECTBRUSH);
    t.doubleBuffer = 1;
    EXPECT_EQ(qxBeginRefresh(&t, 1), ERR_ENDDOUBLEBUFFER);
    t.targetType = 1;
    EXPECT_EQ(qxBeginRefresh(&t, 1), ERR_SELECTBG);
    t.targetType = 28;
    EXPECT_EQ(qxBeginRefresh(&t, 1), ERR_SELECTMASK);
    t.targetType = 30;
    EXPECT_EQ(qxBeginRefresh(&t, 1), ERR_SELECTALPHACHANNEL);
    EXPECT_EQ(t.refreshMode, 0u);
}

int windowBlits;
void countBlit(qxBitMap *, int32_t, int32_t, void *, int32_t, int32_t, int32_t, int32_t, uint32_t, qxBitMap *)
{
    ++windowBlits;
}

TEST(FramePacing, WindowBlitsWaitForEndRefreshUnlessForced)
{
    const qxBitMapDisplayHooks saved = qxBitMapDisplay;
    qxBitMapDisplay.bltToDisplay = countBlit;
    qxDisplay d{};
    d.targetType = 21;
    windowBlits = 0;
    qxBltBitMapToDisplay(nullptr, 0, 0, &d, 0, 0, 1, 1, 1);
    ASSERT_EQ(qxBeginRefresh(&d, 1), 0);
    qxBltBitMapToDisplay(nullptr, 0, 0, &d, 0, 0, 1, 1, 1);
    qxBltMaskedToDisplay(nullptr, 0, 0, &d, 0, 0, 1, 1, 1, nullptr);
    EXPECT_EQ(windowBlits, 1);
    qxBltBitMapToDisplay(nullptr, 0, 0, &d, 0, 0, 1, 1, 1 | QX_BLT_FORCE);
    EXPECT_EQ(windowBlits, 2);
    qxBitMapDisplay = saved;
}

} // namespace
