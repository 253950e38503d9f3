// The border coverage of text layers: the glyphs square-dilated by the
// size, which must cover exactly what the layout's own EDGE draws.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "display/qx_bitmap.h"
#include "draw/fonts/qx_font.h"
#include "draw/text/qx_text.h"

namespace {

TEST(TextEffectMask, CoversWhatTheEdgeOfTheLayoutCovers)
{
    qxFontHandle *font = nullptr;
    ASSERT_EQ(qxInitFontSystem(&font), 0);
    const std::string text = "Ab [b]c[/b]\nij";
    for (int32_t size : {1, 3}) {
        qxTextRequest rq{};
        rq.block = {QX_TS_NORMAL, 0xFFFFFF, 0, 0x0093DD, 4, 3, size, font};
        rq.text = text.data(), rq.length = text.size();
        rq.align = QX_ALIGN_LEFT, rq.tags = 1;
        qxBitMap *alpha = nullptr;
        int32_t w = 0, h = 0;
        ASSERT_EQ(qxBuildTextEffectMask(nullptr, &rq, size, &alpha, &w, &h), 0);
        qxTextRequest edged = rq;
        edged.block.style = QX_TS_EDGE;
        qxTextImage im{};
        ASSERT_EQ(qxLayoutText(&edged, &im), 0);
        const auto *plane = static_cast<const qxBitMapPlane *>(alpha->data);
        // The plain text starts 2 size + 1 into the mask, the edged image
        // size before the plain text's origin.
        const int32_t grow = 2 * size + 1;
        int32_t covered = 0;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const int32_t ix = x - grow - im.originX, iy = y - grow - im.originY;
                const bool inImage = ix >= 0 && iy >= 0 && ix < im.width && iy < im.height;
                const bool edge = inImage && (im.pixels[size_t(iy) * size_t(im.width) + size_t(ix)] >> 24) != 0;
                const bool mask = plane->pixels[size_t(y) * plane->bytesPerRow + size_t(x)] != 0;
                covered += mask;
                ASSERT_EQ(mask, edge) << "size " << size << " at " << x << "," << y;
            }
        EXPECT_GT(covered, 0);
        qxFreeTextImage(&im);
        qxFreeAlphaBitMap(alpha);
    }
}

} // namespace

namespace {

// Plain text takes the short way; a tag that changes nothing sends the same
// text through the word layout, which must give the same image.
TEST(PlainText, EqualsTheGeneralLayout)
{
    qxFontHandle *topaz = nullptr, *vera = nullptr;
    ASSERT_EQ(qxInitFontSystem(&topaz), 0);
    ASSERT_EQ(qxOpenFontByName("Bitstream Vera Sans", 17, QX_FONTENGINE_INBUILT, 1, 1, 0, &vera), 0);
    const std::string text = "  The quick, brown fox\njumps  over\n\nthe lazy dog 0123 ";
    for (qxFontHandle *font : {topaz, vera})
        for (uint32_t style : {QX_TS_NORMAL, QX_TS_NORMAL | QX_TS_ANTIALIAS}) {
            if (font == topaz && (style & QX_TS_ANTIALIAS)) continue;
            qxTextRequest rq{};
            rq.block = {style, 0x336699, 0, 0x0093DD, 4, 3, 2, font};
            rq.text = text.data(), rq.length = text.size();
            rq.align = QX_ALIGN_LEFT, rq.tags = 1;
            const std::string tagged = text + "[u][/u]";
            qxTextRequest general = rq;
            general.text = tagged.data(), general.length = tagged.size();
            qxTextImage a{}, b{};
            ASSERT_EQ(qxLayoutText(&rq, &a), 0);
            ASSERT_EQ(qxLayoutText(&general, &b), 0);
            ASSERT_EQ(a.width, b.width);
            ASSERT_EQ(a.height, b.height);
            EXPECT_EQ(a.originX, b.originX);
            EXPECT_EQ(a.endX, b.endX);
            EXPECT_EQ(a.endY, b.endY);
            EXPECT_EQ(0, std::memcmp(a.pixels, b.pixels, size_t(a.width) * size_t(a.height) * 4));
            qxFreeTextImage(&a);
            qxFreeTextImage(&b);
        }
}

} // namespace
