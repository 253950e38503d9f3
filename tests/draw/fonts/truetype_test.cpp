// The TrueType back-end against FreeType's rendering as PIL does it, and the
// stored fonts against Debian's ttf-bitstream-vera files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "draw/fonts/qx_font.h"

namespace {

const std::string kVera = "/usr/share/fonts/truetype/ttf-bitstream-vera/";

struct Handle : qxFontHandle {
    Handle() { memset(static_cast<qxFontHandle *>(this), 0, sizeof(qxFontHandle)); }
    ~Handle() { qxFtFreeFace(this); }
    qxTrueTypeFont *tt() { return static_cast<qxTrueTypeFont *>(backend); }
};

std::string run(const std::string &cmd) {
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

// Per character: coverage sum, inked width, bitmap rows, advance in pixels, as
// PIL renders them at the given pixel size.
struct PilGlyph {
    unsigned code;
    long sum;
    int width, rows, advance;
};
std::vector<PilGlyph> pilGlyphs(const std::string &file, int px, const std::vector<unsigned> &codes) {
    std::string list;
    for (unsigned c : codes) list += std::to_string(c) + ",";
    std::string script =
        "from PIL import ImageFont\n"
        "f=ImageFont.truetype('" + file + "'," + std::to_string(px) + ",layout_engine=ImageFont.Layout.BASIC)\n"
        "for c in [" + list + "]:\n"
        "  m=f.getmask(chr(c),'L'); b=f.getbbox(chr(c),anchor='ls'); k=m.getbbox() or (0,0,0,0)\n"
        "  print(c,sum(m[i] for i in range(m.size[0]*m.size[1])),k[2]-k[0],b[3]-b[1],int(f.getlength(chr(c))))\n";
    std::ofstream("/tmp/qx_pilglyphs.py") << script;
    std::istringstream in(run("/usr/bin/python3 /tmp/qx_pilglyphs.py"));
    std::vector<PilGlyph> out;
    PilGlyph g;
    while (in >> g.code >> g.sum >> g.width >> g.rows >> g.advance) out.push_back(g);
    return out;
}

TEST(TrueType, StoredFontsAreDebiansFiles) {
    const std::pair<const uint8_t *, const char *> fonts[] = {
        {qxVeraSans, "Vera.ttf"}, {qxVeraSansMono, "VeraMono.ttf"}, {qxVeraSerif, "VeraSe.ttf"}};
    const size_t sizes[] = {sizeof qxVeraSans, sizeof qxVeraSansMono, sizeof qxVeraSerif};
    for (int i = 0; i < 3; ++i) {
        std::ifstream f(kVera + fonts[i].second, std::ios::binary);
        std::vector<char> data((std::istreambuf_iterator<char>(f)), {});
        ASSERT_EQ(data.size(), sizes[i]);
        EXPECT_EQ(memcmp(data.data(), fonts[i].first, sizes[i]), 0) << fonts[i].second;
    }
}

TEST(TrueType, SizeIsTheTallestGlyphSpan) {
    for (const char *name : {"Bitstream Vera Sans", "bitstream vera serif", "Bitstream Vera Sans Mono"}) {
        Handle h;
        ASSERT_EQ(qxFtOpenFont(name, 20, 1, &h), 1) << name;
        EXPECT_EQ(h.height, 20);
        EXPECT_EQ(h.kind, QX_FONT_TRUETYPE);
        int above = 0, below = 0;
        for (unsigned c = 33; c <= 255; ++c) {
            char ch = char(c);
            qxTextExtent e;
            qxFtMeasureText(&h, &ch, 1, QX_STYLE_ANTIALIAS, 0, &e);
            above = std::max(above, -e.minY);
            below = std::max(below, e.maxY);
        }
        EXPECT_NEAR(above + below, 20, 1) << name;
        EXPECT_GT(h.baseline, 10);
        EXPECT_LT(h.baseline, 20);
    }
    Handle mono;
    ASSERT_EQ(qxFtOpenFont("Bitstream Vera Sans Mono", 12, 1, &mono), 1);
    EXPECT_STREQ(mono.name, "Bitstream Vera Sans Mono");
}

TEST(TrueType, GlyphsAndAdvancesMatchPil) {
    Handle h;
    ASSERT_EQ(qxFtOpenFont((kVera + "VeraSe.ttf").c_str(), 24, 1, &h), 1);
    qxTrueTypeFont *t = h.tt();
    std::vector<unsigned> codes = {'A', 'V', 'g', 'j', 'q', '@', '%', 0xC4, 0xE5, '1'};
    auto pil = pilGlyphs(kVera + "VeraSe.ttf", t->pixelSize - 1, codes);
    ASSERT_EQ(pil.size(), codes.size());
    for (int pass = 0; pass < 2; ++pass) { // the second pass comes from the glyph cache
        for (const PilGlyph &g : pil) {
            int left, top;
            FT_Pos advance;
            FT_Bitmap bm;
            ASSERT_EQ(qxFtLoadGlyph(t, g.code, FT_Get_Char_Index(t->face, g.code), QX_STYLE_ANTIALIAS, &left, &top,
                                    &advance, &bm), 0);
            long sum = 0;
            int inkLeft = int(bm.width), inkRight = 0;
            for (unsigned y = 0; y < bm.rows; ++y)
                for (unsigned x = 0; x < bm.width; ++x) {
                    uint8_t v = bm.buffer[y * bm.pitch + x];
                    sum += v;
                    if (v) inkLeft = std::min(inkLeft, int(x)), inkRight = std::max(inkRight, int(x) + 1);
                }
            EXPECT_EQ(sum, g.sum) << g.code;
            EXPECT_EQ(inkRight - inkLeft, g.width) << g.code;
            EXPECT_EQ(int(bm.rows), g.rows) << g.code;
            EXPECT_EQ(advance, FT_Pos(g.advance) * 64) << g.code;
            // The pen step scales the advance from the set size to the asked one.
            qxTextExtent e;
            char ch = char(g.code);
            qxFtMeasureText(&h, &ch, 1, QX_STYLE_ANTIALIAS, 0, &e);
            int64_t ppem = t->pixelSize - 1;
            EXPECT_EQ(e.width, int32_t(((int64_t(g.advance) * 64 * 1024) / ppem) * t->pixelSize / 65536)) << g.code;
        }
        qxFtFreeGlyphCache(&h);
    }
}

TEST(TrueType, BoldAndItalicWidenGlyphs) {
    Handle h;
    ASSERT_EQ(qxFtOpenFont("Bitstream Vera Sans", 30, 1, &h), 1);
    qxTextExtent plain, bold, italic;
    qxFtMeasureText(&h, "Hl", 2, QX_STYLE_ANTIALIAS, 0, &plain);
    qxFtMeasureText(&h, "Hl", 2, QX_STYLE_ANTIALIAS | QX_STYLE_BOLD, 0, &bold);
    qxFtMeasureText(&h, "Hl", 2, QX_STYLE_ANTIALIAS | QX_STYLE_ITALIC, 0, &italic);
    EXPECT_GT(bold.width, plain.width);
    EXPECT_GT(bold.maxX - bold.minX, plain.maxX - plain.minX);
    EXPECT_EQ(italic.width, plain.width);
    EXPECT_GT(italic.maxX, plain.maxX);
    // Bold does not pollute the plain glyph cache.
    qxTextExtent again;
    qxFtMeasureText(&h, "Hl", 2, QX_STYLE_ANTIALIAS, 0, &again);
    EXPECT_EQ(memcmp(&again, &plain, sizeof plain), 0);
}

TEST(TrueType, SpacesKerningAndFailures) {
    Handle h;
    ASSERT_EQ(qxFtOpenFont("Bitstream Vera Sans", 16, 1, &h), 1);
    qxTextExtent e;
    qxFtMeasureText(&h, "   ", 3, 0, 0, &e);
    EXPECT_EQ(e.minX, 0);
    EXPECT_EQ(e.minY, 0);
    EXPECT_GT(e.width, 0);
    // Vera has a kern table: "AV" tightens (by less than a pixel at 16), and
    // pairs must be two characters.
    Handle big;
    ASSERT_EQ(qxFtOpenFont("Bitstream Vera Sans", 60, 1, &big), 1);
    int av = qxFtGetKerning(&big, "AV", 2, 0, 0);
    EXPECT_LT(av, 0);
    EXPECT_EQ(qxFtGetKerning(&big, "AVA", 3, 0, 0), 0);
    EXPECT_EQ(qxFtGetKerning(&big, "\xc3\x84V", 3, 0, 1), qxFtGetKerning(&big, "\xc4V", 2, 0, 0));
    qxTextExtent pair, a, v;
    qxFtMeasureText(&big, "AV", 2, 0, 0, &pair);
    qxFtMeasureText(&big, "A", 1, 0, 0, &a);
    qxFtMeasureText(&big, "V", 1, 0, 0, &v);
    EXPECT_NEAR(pair.width, a.width + v.width + av, 1);
    Handle missing, family, junk;
    EXPECT_EQ(qxFtOpenFont("/nonexistent/font.ttf", 16, 1, &missing), 0);
    EXPECT_EQ(qxFtOpenFont("No Such Family", 16, 1, &family), 0);
    std::ofstream("/tmp/qx_junk.ttf") << "not a font at all";
    EXPECT_EQ(qxFtOpenFont("/tmp/qx_junk.ttf", 16, 1, &junk), 0);
}

TEST(TrueType, PointSizesUseTheFaceMetrics) {
    Handle h;
    h.usepoints = 1;
    ASSERT_EQ(qxFtOpenFont((kVera + "Vera.ttf").c_str(), 12, 1, &h), 1);
    // Vera: height 2384 and ascender 1901 units of 2048 per em.
    EXPECT_NEAR(h.height, 12 * 2384 / 2048, 1);
    EXPECT_NEAR(h.baseline, 12 * 1901 / 2048, 1);
}

} // namespace
