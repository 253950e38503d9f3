// Bitmap ".font" files written by tools/fonts/make_bitmap_font.py.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "draw/fonts/qx_font.h"

namespace {

std::string makeFont(const std::string &name, int ysize, const std::string &opts = "") {
    std::string dir = std::filesystem::temp_directory_path() / ("qxfont_" + std::to_string(getpid()));
    std::string cmd = "/usr/bin/python3 " + std::string(QX_SOURCE_DIR) +
                      "/tools/fonts/make_bitmap_font.py " + dir + " " + name + " " + std::to_string(ysize) + " " + opts;
    EXPECT_EQ(system(cmd.c_str()), 0);
    return dir + "/" + name;
}

struct Handle : qxFontHandle {
    Handle() { memset(static_cast<qxFontHandle *>(this), 0, sizeof(qxFontHandle)); }
    ~Handle() { qxFreeBitmapFont(this); }
};

TEST(BitmapFont, LoadsAndMeasuresProportional) {
    Handle h;
    ASSERT_EQ(qxLoadBitmapFont(makeFont("prop", 11).c_str(), 11, &h, nullptr), 1);
    EXPECT_EQ(h.kind, QX_FONT_BITMAP);
    EXPECT_STREQ(h.name, "prop.font");
    EXPECT_EQ(h.height, 11);
    EXPECT_EQ(h.baseline, 9);
    qxTextExtent e;
    // 'A' (65) is 65 % 7 + 1 = 3 wide, advance 4; 'B' 4 wide, advance 5.
    qxBitmapFontMeasureText(&h, "AB", 2, 0, 0, &e);
    EXPECT_EQ(e.width, 9);
    EXPECT_EQ(e.minX, 0);
    EXPECT_EQ(e.maxX, 8);
    EXPECT_EQ(e.minY, -9);
    EXPECT_EQ(e.maxY, 1);
    // Characters outside the range use the last glyph (3 wide, advance 4).
    qxBitmapFontMeasureText(&h, "\xff", 1, 0, 0, &e);
    EXPECT_EQ(e.width, 4);
    // The same in UTF-8: one character, not two bytes.
    qxBitmapFontMeasureText(&h, "\xc3\xbf", 2, 0, 1, &e);
    EXPECT_EQ(e.width, 4);
    // UTF-8 goes through the ISO-8859-1 conversion: a malformed byte is one
    // "?", never three raw bytes; long texts convert alike.
    qxTextExtent latin;
    ASSERT_EQ(qxBitmapFontMeasureText(&h, "\xc3\xbf\xff", 3, 0, 1, &e), 0);
    qxBitmapFontMeasureText(&h, "\xff?", 2, 0, 0, &latin);
    EXPECT_EQ(e.width, latin.width);
    std::string utf8, bytes;
    for (int i = 0; i < 300; ++i) utf8 += "\xc3\xa9", bytes += "\xe9";
    ASSERT_EQ(qxBitmapFontMeasureText(&h, utf8.data(), utf8.size(), 0, 1, &e), 0);
    qxBitmapFontMeasureText(&h, bytes.data(), bytes.size(), 0, 0, &latin);
    EXPECT_EQ(e.width, latin.width);
}

TEST(BitmapFont, NegativeKernMakesMinXNegative) {
    Handle h;
    ASSERT_EQ(qxLoadBitmapFont(makeFont("kern", 9, "--kern").c_str(), 9, &h, "Kerned"), 1);
    EXPECT_STREQ(h.name, "Kerned");
    qxTextExtent e;
    qxBitmapFontMeasureText(&h, "A", 1, 0, 0, &e);
    EXPECT_EQ(e.minX, -1);
    EXPECT_EQ(e.width, 3);
}

TEST(BitmapFont, ContentsIdsSizesAndIncompleteEntries) {
    Handle a, b, c, d;
    EXPECT_EQ(qxLoadBitmapFont(makeFont("id2", 8, "--id 0x0F02").c_str(), 8, &a, nullptr), 1);
    EXPECT_EQ(qxLoadBitmapFont(makeFont("id1", 8, "--id 0x0F01").c_str(), 8, &b, nullptr), 0);
    EXPECT_EQ(qxLoadBitmapFont(makeFont("inc", 8, "--incomplete").c_str(), 8, &c, nullptr), 0);
    EXPECT_EQ(qxLoadBitmapFont(makeFont("other", 8).c_str(), 10, &d, nullptr), 0);
}

TEST(BitmapFont, TruncatedSizeFilesAreRefused) {
    std::string base = makeFont("trunc", 10);
    FILE *f = fopen((base + "/10").c_str(), "rb");
    ASSERT_TRUE(f);
    std::vector<uint8_t> data(1 << 16);
    data.resize(fread(data.data(), 1, data.size(), f));
    fclose(f);
    for (size_t n = 0; n < data.size(); n += 7) {
        Handle h;
        EXPECT_EQ(qxParseBitmapFontSize(data.data(), n, &h), 0) << n;
    }
    Handle h;
    EXPECT_EQ(qxParseBitmapFontSize(data.data(), data.size(), &h), 1);
}

TEST(Utf8, DecodesAndRejectsMalformedSequences) {
    uint32_t buf[8], *out;
    size_t n;
    int alloc;
    ASSERT_EQ(qxUtf8ToCodePoints("a\xc3\xa9\xe2\x82\xac", 6, 1, buf, sizeof buf, &out, &n, &alloc), 0);
    ASSERT_EQ(n, 3u);
    EXPECT_EQ(out[1], 0xE9u);
    EXPECT_EQ(out[2], 0x20ACu);
    EXPECT_EQ(alloc, 0);
    EXPECT_EQ(qxUtf8ToCodePoints("\x80", 1, 1, buf, sizeof buf, &out, &n, &alloc), QX_ERR_UTF8);
    EXPECT_EQ(qxUtf8ToCodePoints("\xe2\x82", 2, 1, buf, sizeof buf, &out, &n, &alloc), QX_ERR_UTF8);
    EXPECT_EQ(qxUtf8ToCodePoints("\xc3\x41", 2, 1, buf, sizeof buf, &out, &n, &alloc), QX_ERR_UTF8);
    EXPECT_EQ(qxUtf8ToCodePoints("\xfc\x80", 2, 1, buf, sizeof buf, &out, &n, &alloc), QX_ERR_UTF8);
    EXPECT_EQ(qxUtf8ToCodePoints("ab", 2, 0, buf, sizeof buf, &out, &n, &alloc), QX_ERR_UTF8);
    // Too long for the caller's buffer: an allocated array.
    ASSERT_EQ(qxUtf8ToCodePoints("abcdefghij", 10, 1, buf, sizeof buf, &out, &n, &alloc), 0);
    EXPECT_EQ(alloc, 1);
    EXPECT_EQ(out[9], uint32_t('j'));
    free(out);
}

} // namespace

namespace {

TEST(BitmapFont, ColourFontReadsPickedPlanes) {
    Handle h;
    ASSERT_EQ(qxLoadBitmapFont(makeFont("colour", 7, "--color").c_str(), 7, &h, nullptr), 1);
    EXPECT_EQ(h.kind, QX_FONT_COLORBITMAP);
    ASSERT_TRUE(h.pendingPixels);
    auto *f = static_cast<qxBitmapFont *>(h.backend);
    EXPECT_EQ(h.pendingWidth, f->modulo * 8);
    EXPECT_EQ(h.pendingHeight, 7);
    // The one plane is bit 0 of the index: glyph pixels take colour 1, the
    // rest colour 0, each nibble repeated.
    uint32_t loc = f->location['A' - 32], first = loc >> 16, width = loc & 0xFFFF;
    for (int y = 0; y < 7; ++y) {
        EXPECT_EQ(h.pendingPixels[y * h.pendingWidth + first] & 0xFFFFFF, 0x00FF00u);
        EXPECT_EQ(h.pendingPixels[y * h.pendingWidth + first + width - 1] & 0xFFFFFF, 0x00FF00u);
    }
    uint32_t end = f->location[f->count - 1];
    EXPECT_EQ(h.pendingPixels[(end >> 16) + (end & 0xFFFF)] & 0xFFFFFF, 0xFF0000u);
}

} // namespace

namespace {

// Draws "A" of the colour fixture at x 2; a key-coloured source pixel must
// stay transparent, the rest keep the glyph's own colour, not the pen's.
void checkColourDraw(Handle &h, uint32_t width) {
    uint32_t pixels[7 * 16];
    uint8_t coverage[7 * 16] = {};
    std::fill_n(pixels, 7 * 16, 0xFF123456u);
    qxGlyphTarget t{pixels, 16, coverage, 16, 16, 7};
    ASSERT_EQ(qxBitmapFontDrawText(&h, &t, 2, 0, "A", 1, 0, 0, nullptr, 0x0000FF), 0);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 16; ++x) {
            bool inGlyph = x >= 2 && x < 2 + int(width) && !(y == 3 && x == 3);
            EXPECT_EQ(pixels[y * 16 + x], inGlyph ? 0xFF00FF00u : 0xFF123456u) << x << "," << y;
        }
    // Coverage pass: the mask is ORed into the coverage plane.
    ASSERT_EQ(qxBitmapFontDrawText(&h, &t, 2, 0, "A", 1, 0, 0, nullptr, -1), 0);
    EXPECT_EQ(coverage[3 * 16 + 2], 255);
    EXPECT_EQ(coverage[3 * 16 + 3], 0);
    EXPECT_EQ(coverage[3 * 16 + 1], 0);
}

TEST(BitmapFont, ColourFontDrawsOwnColoursBeforeAndAfterRealising) {
    Handle h;
    ASSERT_EQ(qxLoadBitmapFont(makeFont("colourdraw", 7, "--color").c_str(), 7, &h, nullptr), 1);
    auto *f = static_cast<qxBitmapFont *>(h.backend);
    uint32_t loc = f->location['A' - 32], first = loc >> 16, width = loc & 0xFFFF;
    ASSERT_GE(width, 3u);
    h.pendingPixels[3 * h.pendingWidth + first + 1] = QX_FONT_KEYCOLOR;
    checkColourDraw(h, width); // from the pending pixels
    ASSERT_EQ(qxRealizeFontHandle(&h), 0);
    EXPECT_FALSE(h.pendingPixels);
    ASSERT_TRUE(h.colorImage && h.colorMask);
    checkColourDraw(h, width); // from the colour image and its mask
}

} // namespace
