// Display records from tag tables, the letterbox and region clipping,
// without opening windows.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "core/vm/lauxlib.h"
#include "display/qx_bgpic.h"
#include "display/qx_display.h"
#include "display/qx_displaycmds.h"
#include "platform/qx_errcodes.h"
#include "platform/x11/x11_display.h"

namespace {

struct DisplayTags : ::testing::Test {
    lua_State *L = lua_open();
    qxDisplay *d = qxNewDisplayRecord(1);
    void SetUp() override
    {
        d->width = 640;
        d->height = 480;
        lua_newtable(L);
    }
    void TearDown() override
    {
        std::free(d);
        lua_close(L);
    }
    void num(const char *k, double v)
    {
        lua_pushstring(L, k);
        lua_pushnumber(L, v);
        lua_settable(L, 1);
    }
    void str(const char *k, const char *v)
    {
        lua_pushstring(L, k);
        lua_pushstring(L, v);
        lua_settable(L, 1);
    }
    // regions[k] = {{type, x, y, w, h}, ...} from index 0
    void regions(const char *k, int count, int type = 14, bool dropHeight = false)
    {
        lua_pushstring(L, k);
        lua_newtable(L);
        for (int i = 0; i < count; i++) {
            lua_newtable(L);
            const char *names[5] = {"type", "x", "y", "width", "height"};
            double v[5] = {(double)type, 1, 2, 30, 40};
            for (int f = 0; f < (dropHeight ? 4 : 5); f++) {
                lua_pushstring(L, names[f]);
                lua_pushnumber(L, v[f]);
                lua_settable(L, -3);
            }
            lua_rawseti(L, -2, i);
        }
        lua_settable(L, 1);
    }
    int read() { return qxReadDisplayTags(L, 1, d, 1); }
};

TEST_F(DisplayTags, SizesPercentagesAndModes)
{
    str("scalewidth", "50%");
    num("height", 200);
    str("mode", "FakeFullScreen");
    str("title", "T");
    ASSERT_EQ(read(), 0);
    EXPECT_EQ(d->scaledWidth, 320u);
    EXPECT_EQ(d->height, 200);
    EXPECT_EQ(d->mode, 6u);
    EXPECT_STREQ(d->title, "T");
}

TEST_F(DisplayTags, BadValuesAreRefused)
{
    const char *bad[][2] = {{"scalewidth", "5x%"}, {"scaleheight", "%"}, {"mode", "tiled"}};
    for (auto &b : bad) {
        lua_settop(L, 0);
        lua_newtable(L);
        str(b[0], b[1]);
        EXPECT_EQ(read(), ERR_WRONGUSAGE) << b[0] << "=" << b[1];
    }
    lua_settop(L, 0);
    lua_newtable(L);
    num("width", 0);
    EXPECT_EQ(read(), ERR_WRONGUSAGE);
    lua_settop(L, 0);
    lua_newtable(L);
    num("scalemode", 3);
    EXPECT_EQ(read(), ERR_WRONGUSAGE);
}

TEST_F(DisplayTags, Regions)
{
    regions("dragregion", 64);
    ASSERT_EQ(read(), 0);
    EXPECT_EQ(d->dragRegionCount, 64u);
    EXPECT_EQ(d->dragRegionsCopy[63].height, 40);
    // More than the record holds is refused, not truncated.
    regions("dragregion", 65);
    EXPECT_EQ(read(), ERR_WRONGUSAGE);
    EXPECT_EQ(d->dragRegionCount, 64u);
    regions("dragregion", 1, 13);
    EXPECT_EQ(read(), ERR_WRONGUSAGE);
    regions("dragregion", 1, 14, true);
    EXPECT_EQ(read(), ERR_MISSINGPARAMTR);
}

TEST(DisplayRegions, DefaultsClippedToTinyDisplays)
{
    qxDisplay *d = qxNewDisplayRecord(1);
    d->width = 5;
    d->height = 8;
    qxResetRegions(d);
    EXPECT_EQ(d->dragRegions[0].width, 5);
    EXPECT_EQ(d->dragRegions[0].height, 8);
    EXPECT_EQ(d->sizeRegions[0].x, 0);
    EXPECT_EQ(d->sizeRegions[0].y, 0);
    EXPECT_EQ(d->sizeRegions[0].width, 5);
    EXPECT_EQ(d->sizeRegions[0].height, 8);
    d->width = 640;
    d->height = 480;
    qxResetRegions(d);
    EXPECT_EQ(d->sizeRegions[0].x, 630);
    EXPECT_EQ(d->dragRegions[0].height, 15);
    std::free(d);
}

// Two side-by-side monitors with a third overlapping the right one.
TEST(DisplayMonitor, LargestIntersectionFirstOnTie)
{
    x11Monitor c{nullptr, 1200, 0, 800, 600}, b{&c, 1000, 0, 1000, 800}, a{&b, 0, 0, 1000, 800};
    // The centre and the last overlapping monitor would both say 1 or 2.
    EXPECT_EQ(qxMonitorOfRect(&a, 500, 100, 600, 400), 0u);
    EXPECT_EQ(qxMonitorOfRect(&a, 900, 100, 600, 400), 1u);
    EXPECT_EQ(qxMonitorOfRect(&a, 700, 0, 600, 100), 0u); // 300 each: the first
    EXPECT_EQ(qxMonitorOfRect(&a, 3000, 0, 10, 10), 0u);
    qxDisplay *d = qxNewDisplayRecord(1);
    d->x = 700, d->y = 0, d->width = 500, d->height = 100, d->borderWidth = 200;
    EXPECT_EQ(qxDisplayMonitorOf(d, &a), 1u); // the frame counts
    std::free(d);
}

TEST(DisplayLetterbox, OddPixelGoesRightOrDown)
{
    qxDisplay *d = qxNewDisplayRecord(1);
    d->flags = QX_DISP_KEEPPROPORTIONS;
    qxLetterbox(d, 1280, 720, 640, 480);
    EXPECT_EQ(d->scaledWidth, 960u);
    EXPECT_EQ(d->marginLeft, 160);
    EXPECT_EQ(d->marginRight, 160);
    qxLetterbox(d, 641, 360, 320, 240);
    EXPECT_EQ(d->marginLeft, 80);
    EXPECT_EQ(d->marginRight, 81);
    qxLetterbox(d, 400, 601, 320, 240);
    EXPECT_EQ(d->scaledHeight, 300u);
    EXPECT_EQ(d->marginTop, 150);
    EXPECT_EQ(d->marginBottom, 151);
    EXPECT_DOUBLE_EQ(d->scaleX, 1.25);
    d->flags = 0;
    qxLetterbox(d, 400, 601, 320, 240);
    EXPECT_EQ(d->marginTop + d->marginLeft + d->marginRight + d->marginBottom, 0);
    EXPECT_EQ(d->scaledHeight, 601u);
    std::free(d);
}

TEST(DisplayCreate, DefaultsAndOwnBGPic)
{
    lua_State *L = lua_open();
    ASSERT_EQ(qxInitDisplays(), 0);
    qxDisplay *d = nullptr;
    ASSERT_EQ(qxCreateDisplayRecord(L, 7, 0, 0, &d), 0);
    EXPECT_EQ(d->width, 640);
    EXPECT_EQ(d->height, 480);
    EXPECT_EQ(d->x, -100000);
    EXPECT_STREQ(d->title, "Zephyrane");
    ASSERT_TRUE(d->bgpic);
    EXPECT_EQ(d->bgpic->width, 640);
    // A failing tag table leaves no record behind.
    lua_newtable(L);
    lua_pushstring(L, "mode");
    lua_pushstring(L, "nope");
    lua_settable(L, 1);
    qxDisplay *e = nullptr;
    EXPECT_EQ(qxCreateDisplayRecord(L, 8, 0, 1, &e), ERR_WRONGUSAGE);
    EXPECT_EQ(e, nullptr);
    qxDisplay *found = nullptr;
    EXPECT_NE(qxFindDisplay({8, nullptr}, &found), 0);
    qxFreeAllDisplays(L);
    qxFreeBGPicList(nullptr);
    lua_close(L);
}

} // namespace
