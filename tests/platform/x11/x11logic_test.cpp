// The X11 back-end's decisions that need no server: key mapping, resize
// edges, shape rectangles, window-manager hints, mode choice, resources,
// the icon area and the free-memory reader.
#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <string>

#include "platform/qx_paths.h"
#include "platform/x11/x11_builtinicon.h"
#include "platform/x11/x11_display.h"

namespace {

TEST(X11Keys, RawAndVanillaCodes)
{
    struct Case {
        unsigned long keysym, firstColumn;
        int raw, vanilla;
    };
    const Case cases[] = {
        {XK_KP_7, XK_KP_Home, 298, 55}, {XK_Home, XK_Home, -1, -1},
        {XK_Begin, XK_Begin, 281, 281}, {XK_a, XK_a, 65, 97},
        {XK_A, XK_a, 65, 65},           {XK_comma, XK_comma, -1, 44},
        {XK_space, XK_space, 276, 276}, {XK_F12, XK_F12, 279, 279},
        {XK_KP_Enter, XK_KP_Enter, 273, 273}, {XK_udiaeresis, XK_udiaeresis, -1, 0xFC},
        {0x20AC /* EuroSign */, 0x20AC, -1, -1},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(x11MapKey(c.keysym, c.firstColumn, 0).code, c.raw) << std::hex << c.keysym;
        EXPECT_EQ(x11MapKey(c.keysym, c.firstColumn, 1).code, c.vanilla) << std::hex << c.keysym;
    }
    EXPECT_EQ(x11MapKey(XK_Return, XK_Return, 1).special, 1u);
    EXPECT_EQ(x11MapKey(XK_KP_7, XK_KP_Home, 1).special, 0u);
    EXPECT_EQ(x11ModifierCode(XK_ISO_Level3_Shift), 309u);
    EXPECT_EQ(x11ModifierCode(XK_Control_R), 313u);
    EXPECT_EQ(x11MapKey(XK_Shift_L, XK_Shift_L, 1).code, -1);
}

TEST(X11Window, ResizeEdgesAndOffsets)
{
    int32_t off[2];
    // Corners and sides of a 200 x 100 window with 10-pixel regions.
    EXPECT_EQ(x11ClassifySizeRegion(200, 100, 3, 4, 0, 0, 10, 10, off), 0u);
    EXPECT_EQ(off[0], 3);
    EXPECT_EQ(off[1], 4);
    EXPECT_EQ(x11ClassifySizeRegion(200, 100, 5, 95, 0, 90, 10, 10, off), 1u);
    EXPECT_EQ(off[1], 99 - 95);
    EXPECT_EQ(x11ClassifySizeRegion(200, 100, 195, 2, 190, 0, 10, 10, off), 2u);
    EXPECT_EQ(off[0], 199 - 195);
    EXPECT_EQ(x11ClassifySizeRegion(200, 100, 195, 95, 190, 90, 10, 10, off), 3u);
    EXPECT_EQ(x11ClassifySizeRegion(200, 100, 2, 50, 0, 20, 10, 60, off), 4u);
    EXPECT_EQ(x11ClassifySizeRegion(200, 100, 198, 50, 190, 20, 10, 60, off), 5u);
    EXPECT_EQ(x11ClassifySizeRegion(200, 100, 50, 2, 20, 0, 100, 10, off), 6u);
    EXPECT_EQ(x11ClassifySizeRegion(200, 100, 50, 98, 20, 90, 100, 10, off), 7u);
    EXPECT_EQ(x11ClassifySizeRegion(200, 100, 50, 50, 40, 40, 20, 20, off), 3u);
}

TEST(X11Window, ShapeRunsMergeVertically)
{
    // A 4 x 3 alpha plane: a 2-wide column on rows 0-2 and a run on row 1.
    const uint8_t alpha[] = {9, 9, 0, 0, //
                             9, 9, 0, 7, //
                             9, 9, 0, 0};
    uint32_t n = 0;
    int failed = 1;
    XRectangle *r = x11ShapeRects(nullptr, 0, alpha, 4, 4, 3, &n, &failed);
    ASSERT_EQ(failed, 0);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(r[0].x, 0);
    EXPECT_EQ(r[0].height, 3);
    EXPECT_EQ(r[0].width, 2);
    EXPECT_EQ(r[1].x, 3);
    EXPECT_EQ(r[1].y, 1);
    std::free(r);
    // A mask (MSB first) wins over the alpha plane.
    const uint8_t mask[] = {0x40, 0x40, 0x40};
    r = x11ShapeRects(mask, 1, alpha, 4, 4, 3, &n, &failed);
    ASSERT_EQ(n, 1u);
    EXPECT_EQ(r[0].x, 1);
    EXPECT_EQ(r[0].width, 1);
    EXPECT_EQ(r[0].height, 3);
    std::free(r);
    const uint8_t empty[3] = {};
    EXPECT_EQ(x11ShapeRects(empty, 1, nullptr, 0, 4, 3, &n, &failed), nullptr);
    EXPECT_EQ(n, 0u);
}

TEST(X11Window, MotifHints)
{
    long h[5];
    x11MotifHints(0, h);
    EXPECT_EQ(h[0], 1);
    EXPECT_EQ(h[1], 1 + 18);
    x11MotifHints(QX_DISP_BORDERLESS | QX_DISP_SIZEABLE | QX_DISP_NOHIDE | QX_DISP_NOCLOSE |
                      QX_DISP_FIXED,
                  h);
    EXPECT_EQ(h[0], 3);
    EXPECT_EQ(h[1], 9 + 32 + 4);
    EXPECT_EQ(h[2], 0);
}

TEST(X11Screen, ModeListAndChoice)
{
    x11ScreenMode modes[4];
    int n = 0;
    n = x11AddScreenMode(modes, n, {1024, 768, 60, 0, 1});
    n = x11AddScreenMode(modes, n, {800, 600, 50, 0, 2});
    n = x11AddScreenMode(modes, n, {800, 600, 60, 1, 3});
    n = x11AddScreenMode(modes, n, {800, 600, 75, 0, 4});
    ASSERT_EQ(n, 2);
    EXPECT_EQ(modes[1].mode, 3u);
    EXPECT_EQ(x11ChooseMode(modes, n, 800, 600), 1);
    x11ScreenMode wide[] = {{1024, 768, 60, 0, 1}, {1280, 720, 60, 0, 2}};
    EXPECT_EQ(x11ChooseMode(wide, 2, 1000, 500), 0);
    EXPECT_EQ(x11ChooseMode(wide, 2, 2000, 500), -1);
}

TEST(X11Platform, ScaleFactorFromResources)
{
    EXPECT_DOUBLE_EQ(x11ScaleFromResources("Xft.dpi:\t144\n"), 1.5);
    EXPECT_DOUBLE_EQ(x11ScaleFromResources("Xft.antialias: 1\n"), 1.0);
    EXPECT_DOUBLE_EQ(x11ScaleFromResources(nullptr), 1.0);
    EXPECT_DOUBLE_EQ(x11ScaleFromResources("Xft.dpi: bogus\n"), 1.0);
}

TEST(X11Platform, IconAreaWalkStopsAtBadRecords)
{
    std::vector<uint8_t> buffer(278844);
    uint8_t *area = buffer.data();
    std::memcpy(area, "___QXSICONRESERVED__", 20);
    uint32_t rec[2 + 4] = {2, 2, 0xFF0000FF, 2, 3, 4};
    std::memcpy(area + 20, rec, sizeof rec);
    uint32_t bad[2] = {0x10000, 0x10000}; // claims far more than the area
    std::memcpy(area + 20 + sizeof rec, bad, sizeof bad);
    uint32_t repl[4] = {7, 7, 7, 7};
    qxIconNode replacement{nullptr, repl, 2, 2, 0};
    qxIconNode *list = x11ReadIcons(area, (uint32_t)buffer.size(), &replacement);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->next, nullptr);
    EXPECT_EQ(list->pixels[0], 7u);
    uint32_t first;
    std::memcpy(&first, area + 28, 4);
    EXPECT_EQ(first, 7u); // replaced in the area too
    qxFreeIconList(list);
}

// The built-in icon in its five sizes: a disc antialiased over one pixel,
// rim from 0.8 of the radius, transparent outside, four-fold symmetric.
TEST(X11Platform, BuiltInIconIsAnAntialiasedDisc)
{
    std::vector<uint8_t> area(20 + x11BuiltInIconBytes);
    x11WriteBuiltInIcons(area.data() + 20);
    qxIconNode *list = x11ReadIcons(area.data(), (uint32_t)area.size(), nullptr);
    int sizes = 0;
    for (qxIconNode *n = list; n; n = n->next, sizes++) {
        const uint32_t s = n->width;
        ASSERT_EQ(n->height, s);
        const double c = s / 2.0, r = c - 0.5;
        for (uint32_t y = 0; y < s; y++)
            for (uint32_t x = 0; x < s; x++) {
                const uint32_t v = n->pixels[y * s + x];
                ASSERT_EQ(v, n->pixels[y * s + (s - 1 - x)]);
                ASSERT_EQ(v, n->pixels[(s - 1 - y) * s + x]);
                const double d = std::hypot(x + 0.5 - c, y + 0.5 - c);
                const double cover = std::clamp(r + 0.5 - d, 0.0, 1.0);
                ASSERT_NEAR(double(v >> 24), cover * 255, 1.0) << s << " " << x << "," << y;
                if (std::fabs(d - 0.8 * r) > 1e-6)
                    ASSERT_EQ(v & 0xFFFFFFu, d > 0.8 * r ? 0xA0C8FFu : 0x2050C0u) << s << " " << x << "," << y;
            }
    }
    EXPECT_EQ(sizes, 5);
    qxFreeIconList(list);
}

TEST(X11Platform, FreeMemoryReader)
{
    const char text[] = "MemTotal: 100 kB\nMemFree:   12345 kB\n";
    EXPECT_EQ(x11ParseFreeMemory(text, sizeof text - 1), 12345u);
    EXPECT_EQ(x11ParseFreeMemory("MemTotal: 1\n", 12), 0u);
    EXPECT_EQ(x11ParseFreeMemory("MemFree:99999999999999", 22), 0xFFFFFFFFu);
    char dir[64];
    EXPECT_EQ(x11GetSystemDir(13, dir, sizeof dir), 1);
    EXPECT_STREQ(dir, "/tmp");
    EXPECT_EQ(x11GetSystemDir(99, dir, sizeof dir), 0);
    EXPECT_STREQ(dir, "");
    std::string home = ::testing::TempDir() + "qxhome" + std::to_string(getpid());
    ASSERT_EQ(mkdir(home.c_str(), 0700), 0);
    setenv("HOME", home.c_str(), 1);
    char prefs[512];
    qxGetPrefsDir(prefs, sizeof prefs);
    EXPECT_EQ(std::string(prefs), home + "/.zephyrane-kit/preferences");
    struct stat st;
    EXPECT_EQ(stat(prefs, &st), 0);
    rmdir(prefs);
    rmdir((home + "/.zephyrane-kit").c_str());
    rmdir(home.c_str());
}

} // namespace
