// Drawing glyphs into locked pixels and coverage planes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "draw/fonts/qx_font.h"

namespace {

struct Canvas {
    std::vector<uint32_t> px;
    std::vector<uint8_t> cov;
    qxGlyphTarget t;
    Canvas(int w, int h) : px(size_t(w) * h, 0xFF000000u), cov(size_t(w) * h, 0) {
        t = {px.data(), w, cov.data(), w, w, h};
    }
    long coverage() const {
        long s = 0;
        for (uint8_t v : cov) s += v;
        return s;
    }
};

struct Handle : qxFontHandle {
    Handle() { memset(static_cast<qxFontHandle *>(this), 0, sizeof(qxFontHandle)); }
    ~Handle() { qxFtFreeFace(this); }
};

TEST(GlyphDraw, TrueTypeCoverageBlendAndClip) {
    Handle h;
    ASSERT_EQ(qxFtOpenFont("Bitstream Vera Sans", 40, 1, &h), 1);
    auto *t = static_cast<qxTrueTypeFont *>(h.backend);
    int left, top;
    FT_Pos adv;
    FT_Bitmap bm;
    ASSERT_EQ(qxFtLoadGlyph(t, 'A', FT_Get_Char_Index(t->face, 'A'), QX_STYLE_ANTIALIAS, &left, &top, &adv, &bm), 0);
    long glyphSum = 0;
    for (unsigned y = 0; y < bm.rows; ++y)
        for (unsigned x = 0; x < bm.width; ++x) glyphSum += bm.buffer[y * bm.pitch + x];

    Canvas c(100, 60);
    qxFtDrawText(&h, &c.t, 10, 5, "A", 1, QX_STYLE_ANTIALIAS, 0, nullptr, -1);
    EXPECT_EQ(c.coverage(), glyphSum);
    // The glyph's first inked row lies at y + baseline - top.
    int firstRow = -1;
    for (int y = 0; y < 60 && firstRow < 0; ++y)
        for (int x = 0; x < 100; ++x)
            if (c.cov[y * 100 + x]) { firstRow = y; break; }
    EXPECT_EQ(firstRow, 5 + h.baseline - top);

    // In a colour: full coverage gives the colour, none leaves the pixel.
    qxFtDrawText(&h, &c.t, 10, 5, "A", 1, QX_STYLE_ANTIALIAS, 0, nullptr, 0xFF0000);
    for (size_t i = 0; i < c.px.size(); ++i) {
        if (c.cov[i] == 255) {
            EXPECT_EQ(c.px[i], 0xFFFF0000u);
        }
        if (c.cov[i] == 0) {
            EXPECT_EQ(c.px[i], 0xFF000000u);
        }
        if (c.cov[i]) {
            EXPECT_NEAR(int(c.px[i] >> 16 & 255), c.cov[i], 1);
        }
    }

    // Clipped to the left half of the glyph's box, off the canvas edges too.
    Canvas d(100, 60);
    qxGlyphClip clip = {0, 0, 10 + left + int(bm.width) / 2, 60};
    qxFtDrawText(&h, &d.t, 10, 5, "A", 1, QX_STYLE_ANTIALIAS, 0, &clip, -1);
    EXPECT_GT(d.coverage(), 0);
    EXPECT_LT(d.coverage(), glyphSum);
    for (int y = 0; y < 60; ++y)
        for (int x = clip.x1; x < 100; ++x) EXPECT_EQ(d.cov[y * 100 + x], 0);
    Canvas e(8, 8);
    qxFtDrawText(&h, &e.t, -30, -30, "AVAV", 4, QX_STYLE_ANTIALIAS, 0, nullptr, 0xFFFFFF);
    qxFtDrawText(&h, &e.t, 5, 5, "W", 1, 0, 0, nullptr, -1);
}

TEST(GlyphDraw, BitmapFontMonoGlyphs) {
    qxFontHandle *topaz;
    ASSERT_EQ(qxInitFontSystem(&topaz), 0);
    auto *f = static_cast<qxBitmapFont *>(topaz->backend);
    Canvas c(40, 10);
    qxBitmapFontDrawText(topaz, &c.t, 8, 1, "A", 1, 0, 0, nullptr, -1);
    int cell = int(f->location['A' - 32] >> 19), bits = 0;
    for (int y = 0; y < 8; ++y) bits += __builtin_popcount(f->strip[y * f->modulo + cell]);
    EXPECT_EQ(c.coverage(), 255L * bits);
    for (int x = 0; x < 40; ++x) EXPECT_EQ(c.cov[x], 0); // row 0 is above the line
    qxBitmapFontDrawText(topaz, &c.t, 8, 1, "A", 1, 0, 0, nullptr, 0x00FF00);
    for (size_t i = 0; i < c.px.size(); ++i) EXPECT_EQ(c.px[i], c.cov[i] ? 0xFF00FF00u : 0xFF000000u);
    qxCloseFontSystem();
}

} // namespace
