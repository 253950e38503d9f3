// Opening fonts by name: aliases, the cache, the fall-back between kinds.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "draw/fonts/qx_font.h"
#include "platform/qx_errcodes.h"

namespace {

class FontSystem : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(qxInitFontSystem(&topaz), 0); }
    void TearDown() override {
        qxCloseFontSystem();
        qxClearFontPaths();
    }
    qxFontHandle *open(const char *name, int size, int engine = 0, int usepoints = 0, int *err = nullptr) {
        qxFontHandle *h = nullptr;
        int e = qxOpenFontByName(name, size, engine, 1, usepoints, 0, &h);
        if (err) *err = e;
        return e ? nullptr : h;
    }
    qxFontHandle *topaz = nullptr;
};

TEST_F(FontSystem, TopazAndItsAliases) {
    EXPECT_EQ(open("topaz", 8), topaz);
    EXPECT_EQ(open(":::default_bitmap", 8), topaz);
    EXPECT_EQ(topaz->kind, QX_FONT_BITMAP);
    EXPECT_EQ(topaz->height, 8);
    EXPECT_EQ(topaz->baseline, 6);
    qxTextExtent e;
    qxFontMeasureText(nullptr, "Hello", 5, 0, 0, &e);
    EXPECT_EQ(e.width, 40);
    EXPECT_EQ(e.maxX, 39);
    EXPECT_EQ(e.minY, -6);
    // Every printable cell has pixels, within its own 8 columns.
    auto *f = static_cast<qxBitmapFont *>(topaz->backend);
    for (unsigned c : {65u, 103u, 48u, 126u, 0xC4u}) {
        int bits = 0, cell = int(f->location[c - 32] >> 19);
        EXPECT_EQ(f->location[c - 32] & 0xFFFF, 8u);
        for (int y = 0; y < 8; ++y) bits += __builtin_popcount(f->strip[y * f->modulo + cell]);
        EXPECT_GE(bits, 4) << c;
    }
    int err;
    EXPECT_FALSE(open(":::default_bitmap", 8, 0, 1, &err));
    EXPECT_EQ(err, ERR_WRONGUSAGE);
    // "topaz" at another size is searched as a ".font" file.
    EXPECT_FALSE(open("topaz", 9, 0, 0, &err));
    EXPECT_EQ(err, ERR_OPENFONT);
}

TEST_F(FontSystem, CacheReusesHandlesPerOptions) {
    qxFontHandle *a = open(":::default_sans", 14);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->kind, QX_FONT_TRUETYPE);
    EXPECT_STREQ(a->name, "Bitstream Vera Sans");
    EXPECT_EQ(open("bitstream vera sans", 14, QX_FONTENGINE_INBUILT), a);
    qxFontHandle *points = open("Bitstream Vera Sans", 14, QX_FONTENGINE_INBUILT, 1);
    ASSERT_TRUE(points);
    EXPECT_NE(points, a);
    EXPECT_NE(open(":::default_serif", 14), a);
    EXPECT_STREQ(open(":::default_mono", 14)->name, "Bitstream Vera Sans Mono");
    // A family without a ".font" file falls through to TrueType.
    qxFontHandle *native = open("Bitstream Vera Serif", 12);
    ASSERT_TRUE(native);
    EXPECT_EQ(native->kind, QX_FONT_TRUETYPE);
    // Scaling only touches scalable fonts and resets on reuse.
    qxFontSetScale(a, 2.0, 2.0);
    EXPECT_EQ(a->height, 28);
    EXPECT_EQ(open(":::default_sans", 14), a);
    EXPECT_EQ(a->xScale, 1.0);
    qxFontSetScale(topaz, 2.0, 2.0);
    EXPECT_EQ(topaz->height, 8);
    // A layer's own font closes with its last holder; one the script opened
    // (before or after) stays.
    qxFontHandle *layer = nullptr, *again = nullptr;
    ASSERT_EQ(qxOpenLayerFont(":::default_sans", 30, 0, 1, 0, &layer), 0);
    ASSERT_EQ(qxOpenLayerFont("Bitstream Vera Sans", 30, 4, 1, 0, &again), 0);
    EXPECT_EQ(again, layer);
    qxReleaseFont(layer);
    EXPECT_TRUE(qxFontCacheEntryOf(layer));
    qxReleaseFont(layer);
    EXPECT_FALSE(qxFontCacheEntryOf(layer));
    EXPECT_EQ(qxOpenLayerFont(":::default_sans", 0, 0, 1, 0, &layer), ERR_OPENFONT);
    ASSERT_EQ(qxOpenLayerFont(":::default_sans", 14, 0, 1, 0, &layer), 0);
    EXPECT_EQ(layer, a);
    qxReleaseFont(a);
    EXPECT_TRUE(qxFontCacheEntryOf(a));
}

TEST_F(FontSystem, FailuresAndBitmapFontFiles) {
    int err;
    EXPECT_FALSE(open("some/dir/font", 8, 0, 0, &err));
    EXPECT_EQ(err, ERR_FONTPATH);
    EXPECT_FALSE(open("No Such Family", 12, QX_FONTENGINE_INBUILT, 0, &err));
    EXPECT_EQ(err, ERR_OPENFONT);
    EXPECT_STREQ(qxGetErrorString(), "Cannot open font No Such Family with size 12!");
    EXPECT_EQ(qxGetErrorNumber(), 12);
    std::string dir = std::filesystem::temp_directory_path() / ("qxfontsys_" + std::to_string(getpid()));
    std::string gen = "/usr/bin/python3 " QX_SOURCE_DIR "/tools/fonts/make_bitmap_font.py " + dir + " prop 11";
    ASSERT_EQ(system(gen.c_str()), 0);
    ASSERT_EQ(qxAddFontPath(dir.c_str()), 0);
    qxFontHandle *h = open("prop", 11);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->kind, QX_FONT_BITMAP);
    EXPECT_EQ(open("PROP.font", 11), h);
    std::filesystem::remove_all(dir);
}

} // namespace

namespace {

TEST_F(FontSystem, ScaledTextIsScaledOnce) {
    qxFontHandle *h = open(":::default_sans", 20);
    ASSERT_TRUE(h);
    qxTextExtent one, two;
    qxFontMeasureText(h, "HHHH", 4, QX_STYLE_ANTIALIAS, 0, &one);
    qxFontSetScale(h, 2.0, 2.0);
    qxFontMeasureText(h, "HHHH", 4, QX_STYLE_ANTIALIAS, 0, &two);
    EXPECT_NEAR(two.width, one.width * 2, 4);
    EXPECT_NEAR(two.maxX - two.minX, (one.maxX - one.minX) * 2, 4);
    EXPECT_NEAR(two.maxY - two.minY, (one.maxY - one.minY) * 2, 3);
    qxFontSetScale(h, 1.0, 1.0);
    qxFontMeasureText(h, "HHHH", 4, QX_STYLE_ANTIALIAS, 0, &two);
    EXPECT_EQ(memcmp(&one, &two, sizeof one), 0);
}

} // namespace
