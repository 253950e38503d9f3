// The layout engine on the start-up font: breaks, alignment, justification,
// Print's tabs and cursor, colour tags, and the rendered coverage.
#include <gtest/gtest.h>

#include <string>

#include "draw/fonts/qx_font.h"
#include "draw/text/qx_text.h"
#include "platform/qx_errcodes.h"

namespace {

struct Layout {
    qxTextImage im{};
    int r = 0;
    Layout(const std::string &text, int32_t align = QX_ALIGN_LEFT, int32_t wrap = 0, uint32_t style = QX_TS_NORMAL)
    {
        qxFontHandle *font = nullptr;
        EXPECT_EQ(qxInitFontSystem(&font), 0);
        qxTextRequest rq{};
        rq.block = {style, 0xFFFFFF, 0, 0x0093DD, 4, 3, 2, font};
        rq.text = text.data(), rq.length = text.size();
        rq.align = align, rq.wrap = wrap, rq.tags = 1;
        r = qxLayoutText(&rq, &im);
    }
    ~Layout() { qxFreeTextImage(&im); }
    bool ink(int x, int y) const { return (im.pixels[y * im.width + x] >> 24) != 0; }
    // Whether any pixel of column x is drawn.
    bool column(int x) const
    {
        for (int y = 0; y < im.height; ++y)
            if (ink(x, y)) return true;
        return false;
    }
};

TEST(TextLayout, WrapsWholeWordsAndKeepsALongWordAlone)
{
    // "abcdefgh" is 64 pixels, past the wrap width, and stays on line one;
    // "ab cd" fits the second line.
    Layout l("abcdefgh ab cd", QX_ALIGN_LEFT, 40);
    ASSERT_EQ(l.r, 0);
    EXPECT_EQ(l.im.height, 8 * 2 + 1);
    EXPECT_EQ(l.im.width, 40);
    EXPECT_EQ(l.im.endY, 8);
    Layout three("abcdefgh ab cd ef", QX_ALIGN_LEFT, 40);
    EXPECT_EQ(three.im.endY, 16);
}

TEST(TextLayout, GivenBreakTableReplacesTheWrapWidth)
{
    qxFontHandle *font = nullptr;
    ASSERT_EQ(qxInitFontSystem(&font), 0);
    const std::string text = "ab cd ef gh";
    const int32_t breaks[2] = {1, 3};
    qxTextRequest rq{};
    rq.block = {QX_TS_NORMAL, 0xFFFFFF, 0, 0x0093DD, 4, 3, 2, font};
    rq.text = text.data(), rq.length = text.size();
    rq.align = QX_ALIGN_LEFT, rq.wrap = 1000, rq.tags = 1;
    rq.breaks = breaks, rq.breakCount = 2;
    qxTextImage im;
    ASSERT_EQ(qxLayoutText(&rq, &im), 0);
    // "ab" / "cd ef" / "gh"
    EXPECT_EQ(im.endY, 16);
    EXPECT_EQ(im.endX, 16);
    EXPECT_EQ(im.height, 8 * 3 + 1);
    qxFreeTextImage(&im);
}

TEST(TextLayout, RightAndCentreIgnoreTrailingSpaces)
{
    // Underlined spaces draw a bar; two lines of 16 and 8 pixels.
    Layout right("[u]  \n[u] ", QX_ALIGN_RIGHT);
    ASSERT_EQ(right.r, 0);
    EXPECT_EQ(right.im.width, 1); // nothing is left to draw
    // A lone line right-aligned or centred is where the left-aligned one is,
    // its first column kept (bold fills its last column).
    Layout wolf("[b]Wolf"), wolfRight("[b]Wolf ", QX_ALIGN_RIGHT), wolfCentre("[b]Wolf ", QX_ALIGN_CENTER);
    ASSERT_EQ(wolfRight.im.width, wolf.im.width);
    ASSERT_EQ(wolfCentre.im.width, wolf.im.width);
    for (int x = 0; x < wolf.im.width; ++x) {
        EXPECT_EQ(wolfRight.column(x), wolf.column(x)) << x;
        EXPECT_EQ(wolfCentre.column(x), wolf.column(x)) << x;
    }
    Layout left("[u]  [/u] \n[u] [/u] ");
    ASSERT_EQ(left.r, 0);
    // Left keeps the non-underlined trailing space: the image is 24 wide.
    EXPECT_EQ(left.im.width, 24);
    EXPECT_TRUE(left.ink(0, 7) && left.ink(0, 15));
    EXPECT_FALSE(left.ink(16, 7));
}

TEST(TextLayout, JustifiedSpreadsAllButALooseLastLine)
{
    // A line followed by another is spread to the block's right edge.
    Layout j("[u]a[/u] [u]b[/u]\n[u]cd[/u] [u]ef[/u] [u]gh[/u]", QX_ALIGN_JUSTIFIED);
    ASSERT_EQ(j.r, 0);
    EXPECT_TRUE(j.ink(0, 7));
    EXPECT_TRUE(j.ink(62, 7));
    // A last line whose gaps would pass twice a space stays as it is.
    Layout loose("[u]cd[/u] [u]ef[/u] [u]gh[/u]\n[u]g[/u] [u]h[/u]", QX_ALIGN_JUSTIFIED);
    ASSERT_EQ(loose.r, 0);
    EXPECT_TRUE(loose.ink(23, 15));
    EXPECT_FALSE(loose.ink(30, 15));
}

TEST(TextLayout, ColourTagsNestLedByTabsAndBlanks)
{
    // Tabs and line feeds inside tags open colours the stack must hold.
    std::string text;
    for (int i = 0; i < 40; ++i) text += "[\t color=$00FF00]";
    text += "[u] ";
    for (int i = 0; i < 40; ++i) text += "[/color]";
    text += "x";
    Layout l(text);
    ASSERT_EQ(l.r, 0);
    EXPECT_EQ(l.im.pixels[7 * l.im.width] & 0xFFFFFF, 0x00FF00u);
    Layout extra("[/color]");
    EXPECT_EQ(extra.r, ERR_TEXTSYNTAX);
    Layout huge("[shadow=222222222222222222222,2,3]x");
    EXPECT_EQ(huge.r, ERR_WRONGUSAGE);
}

TEST(TextLayout, ItalicShearsABitmapFontsRows)
{
    // The stem of "l" moves right above the baseline and left below it.
    Layout upright("l"), italic("[i]l");
    ASSERT_EQ(italic.r, 0);
    auto firstInk = [](const Layout &l, int y) {
        for (int x = 0; x < l.im.width; ++x)
            if (l.ink(x, y)) return x + l.im.originX;
        return -1000;
    };
    EXPECT_EQ(firstInk(italic, 0 - italic.im.originY), firstInk(upright, 0) + 3);
    EXPECT_EQ(firstInk(italic, 5 - italic.im.originY), firstInk(upright, 5));
    // A sheared run that the wrap width cuts away entirely.
    Layout cut("KaiSho-SB;[shadow=0,2,3]\x01", QX_ALIGN_LEFT, 70, QX_TS_ITALIC | QX_TS_EDGE);
    EXPECT_EQ(cut.r, 0);
}

TEST(TextLayout, ShadowAndEdgeGrowTheImage)
{
    Layout plain("x");
    Layout fx("[shadow=$FF0000,3,3][edge=$0000FF,2]x");
    ASSERT_EQ(fx.r, 0);
    EXPECT_EQ(fx.im.originX, -2);
    EXPECT_EQ(fx.im.originY, -2);
    // The shadow is cast by the edged text: below, the edge and the shadow add up.
    EXPECT_EQ(fx.im.height, plain.im.height + 2 + 2 + 3);
}

// Opaque text without anti-aliasing is all or nothing: a mask holds it;
// a transparent colour, shadow or edge needs an alpha plane.
TEST(TextLayout, OnlyTransparencyOrAntialiasingNeedsAlpha)
{
    EXPECT_EQ(Layout("plain").im.needsAlpha, 0);
    EXPECT_EQ(Layout("[shadow=$000000,3,3][edge=$0000FF,2]x").im.needsAlpha, 0);
    EXPECT_EQ(Layout("[color=$80FF0000]x").im.needsAlpha, 1);
    EXPECT_EQ(Layout("[edge=$800000FF,2]x").im.needsAlpha, 1);
}

// Print of text on the start-up font: stops at 24 and 48, wrap 100, the
// cursor at 4 with a left margin of 8.
qxTextRequest printRequest(const std::string &text)
{
    static const int32_t tabs[2] = {24, 48};
    qxFontHandle *font = nullptr;
    EXPECT_EQ(qxInitFontSystem(&font), 0);
    qxTextRequest rq{};
    rq.block = {QX_TS_NORMAL, 0xFFFFFF, 0, 0x0093DD, 4, 3, 2, font};
    rq.text = text.data(), rq.length = text.size();
    rq.align = QX_ALIGN_LEFT, rq.wrap = 100, rq.tags = 1, rq.print = 1;
    rq.startX = 4, rq.leftMargin = 8, rq.tabs = tabs, rq.tabCount = 2;
    return rq;
}

// A rendering records where the wrap width broke and where Print's tabs
// went; handed back, they decide the lines whatever the widths say now.
TEST(TextLayout, RecordedBreaksAndTabsAreFollowed)
{
    Layout wrapped("one two three four", QX_ALIGN_LEFT, 40);
    ASSERT_EQ(wrapped.r, 0);
    ASSERT_GT(wrapped.im.breakCount, 0);
    EXPECT_EQ(wrapped.im.breaks[0], 1); // "two" starts the second line

    const std::string text = "a\tb\tc";
    qxTextRequest rq = printRequest(text);
    rq.startX = rq.leftMargin = 0;
    qxTextImage im;
    ASSERT_EQ(qxLayoutText(&rq, &im), 0);
    ASSERT_EQ(im.tabPickCount, 2);
    EXPECT_EQ(im.tabPicks[0], 0);
    EXPECT_EQ(im.tabPicks[1], 1);
    qxFreeTextImage(&im);
    // The same text with the second tab recorded as a new line.
    const int32_t picks[2] = {0, -1};
    rq.tabPicks = picks, rq.tabPickCount = 2;
    ASSERT_EQ(qxLayoutText(&rq, &im), 0);
    EXPECT_EQ(im.endY, 8);
    EXPECT_EQ(im.tabPickCount, 0); // given, not recorded again
    qxFreeTextImage(&im);
}

TEST(TextLayout, PrintGoesToTabStopsAndReportsTheCursor)
{
    const std::string text = "a\tb\tc\td";
    const qxTextRequest rq = printRequest(text);
    qxTextImage im;
    ASSERT_EQ(qxLayoutText(&rq, &im), 0);
    // a at 4, b at 24 - 8, c at 48 - 8, no stop left: d starts line two.
    EXPECT_EQ(im.endY, 8);
    EXPECT_EQ(im.endX, 8);
    qxFreeTextImage(&im);
}

} // namespace
