// A 54-character line of Vera Sans 16 px rendered by the layout engine
// against cairo_show_text, anti-aliased and monochrome, with the glyph cache
// and without it against bare FreeType loops with and without a cache of
// their own (into a 640x480 coverage plane), and a tagged
// 1,260-character paragraph justified at 400 px against Pango's layout and
// drawing of the same paragraph (with markup).
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <cairo-ft.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include "draw/fonts/qx_font.h"
#include "draw/text/qx_text.h"

namespace {

const char *kLine = "The quick brown fox jumps over the lazy dog 0123456789";
const char *kVera = "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf";

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

template <class F> double rate(F f)
{
    f();
    int n = 0;
    const double start = now();
    double t;
    do {
        for (int i = 0; i < 50; ++i) f();
        n += 50;
    } while ((t = now() - start) < 1.0);
    return n / t;
}

qxTextRequest request(qxFontHandle *font, const std::string &text, uint32_t style, int32_t align, int32_t wrap)
{
    qxTextRequest rq{};
    rq.block = {style, 0xFFFFFF, 0, 0x0093DD, 4, 3, 2, font};
    rq.text = text.data(), rq.length = text.size();
    rq.align = align, rq.wrap = wrap, rq.tags = 1;
    return rq;
}

double ours(const qxTextRequest &rq)
{
    return rate([&] {
        qxTextImage im;
        if (qxLayoutText(&rq, &im) == 0) qxFreeTextImage(&im);
    });
}

// Bare FreeType: each glyph loaded and rendered (or taken from a cache of
// rendered glyphs), kerned, and its coverage put into a plane.
struct Bare {
    FT_Face face;
    FT_Int32 flags;
    FT_Glyph cache[256] = {};
    std::vector<uint8_t> plane = std::vector<uint8_t>(640 * 480);

    void put(const FT_Bitmap &bm, int x, int y)
    {
        for (unsigned r = 0; r < bm.rows; ++r) {
            const int py = y + int(r);
            if (py < 0 || py >= 480) continue;
            for (unsigned c = 0; c < bm.width; ++c) {
                const int px = x + int(c);
                if (px < 0 || px >= 640) continue;
                const uint8_t v = bm.pixel_mode == FT_PIXEL_MODE_MONO
                                      ? ((bm.buffer[r * unsigned(bm.pitch) + c / 8] >> (7 - c % 8)) & 1) * 255
                                      : bm.buffer[r * unsigned(bm.pitch) + c];
                if (v) plane[size_t(py) * 640 + size_t(px)] = v;
            }
        }
    }

    void line(const char *text, bool cached)
    {
        FT_Pos pen = 10 * 64;
        FT_UInt previous = 0;
        for (const char *p = text; *p; ++p) {
            const FT_UInt index = FT_Get_Char_Index(face, uint8_t(*p));
            if (previous) {
                FT_Vector k;
                FT_Get_Kerning(face, previous, index, FT_KERNING_DEFAULT, &k);
                pen += k.x;
            }
            previous = index;
            FT_Glyph &g = cache[uint8_t(*p)];
            if (!cached || !g) {
                if (FT_Load_Glyph(face, index, flags) || FT_Render_Glyph(face->glyph, flags & FT_LOAD_TARGET_MONO
                                                                                       ? FT_RENDER_MODE_MONO
                                                                                       : FT_RENDER_MODE_NORMAL))
                    continue;
                if (!cached) {
                    put(face->glyph->bitmap, int(pen >> 6) + face->glyph->bitmap_left, 100 - face->glyph->bitmap_top);
                    pen += face->glyph->advance.x;
                    continue;
                }
                FT_Get_Glyph(face->glyph, &g);
            }
            const auto *bg = reinterpret_cast<FT_BitmapGlyph>(g);
            put(bg->bitmap, int(pen >> 6) + bg->left, 100 - bg->top);
            pen += g->advance.x >> 10;
        }
    }
};

} // namespace

int main()
{
    qxFontHandle *font = nullptr;
    if (qxInitFontSystem(nullptr) || qxOpenFontByName("Bitstream Vera Sans", 16, QX_FONTENGINE_INBUILT, 1, 1, 0, &font))
        return 1;
    cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 640, 480);
    cairo_t *cr = cairo_create(surface);
    cairo_font_face_t *face = nullptr;
    FT_Face ftFace = nullptr, bareFace = nullptr;
    {
        FT_Library lib;
        FT_Init_FreeType(&lib);
        if (FT_New_Face(lib, kVera, 0, &ftFace) || FT_New_Face(lib, kVera, 0, &bareFace)) return 1;
        // The size our probe picked for 16 px, so that both draw alike.
        FT_Set_Pixel_Sizes(bareFace, 0, FT_UInt(qxFtGetFace(font)->size->metrics.y_ppem));
        face = cairo_ft_font_face_create_for_ft_face(ftFace, 0);
    }
    cairo_set_font_face(cr, face);
    cairo_set_font_size(cr, 16);
    cairo_set_source_rgb(cr, 1, 1, 1);
    for (int aa = 1; aa >= 0; --aa) {
        cairo_font_options_t *o = cairo_font_options_create();
        cairo_font_options_set_antialias(o, aa ? CAIRO_ANTIALIAS_GRAY : CAIRO_ANTIALIAS_NONE);
        cairo_set_font_options(cr, o);
        cairo_font_options_destroy(o);
        const double peer = rate([&] {
            cairo_move_to(cr, 10, 100);
            cairo_show_text(cr, kLine);
        });
        const qxTextRequest rq = request(font, kLine, aa ? QX_TS_ANTIALIAS : QX_TS_NORMAL, QX_ALIGN_LEFT, 0);
        const double q = ours(rq);
        const double uncached = rate([&] {
            qxFontFreeGlyphCache(font);
            qxTextImage im;
            if (qxLayoutText(&rq, &im) == 0) qxFreeTextImage(&im);
        });
        Bare bare{bareFace, FT_Int32(FT_LOAD_NO_AUTOHINT | (aa ? FT_LOAD_TARGET_NORMAL : FT_LOAD_TARGET_MONO))};
        const double bareCached = rate([&] { bare.line(kLine, true); });
        const double bareUncached = rate([&] { bare.line(kLine, false); });
        for (FT_Glyph g : bare.cache)
            if (g) FT_Done_Glyph(g);
        const char *mode = aa ? "anti-aliased" : "monochrome";
        printf("line %-13s cached   ours %9.0f/s  cairo_show_text %9.0f/s  ratio %.2f\n", mode, q, peer, q / peer);
        printf("line %-13s cached   ours %9.0f/s  bare FreeType   %9.0f/s  ratio %.2f\n", mode, q, bareCached,
               q / bareCached);
        printf("line %-13s uncached ours %9.0f/s  bare FreeType   %9.0f/s  ratio %.2f\n", mode, uncached,
               bareUncached, uncached / bareUncached);
    }
    // The paragraph: 1,260 characters with bold and italic words.
    std::string tagged, markup;
    while (tagged.size() < 1260) {
        tagged += "Zephyrane lays out [b]tagged[/b] text in [i]words[/i] that wrap and spread. ";
        markup += "Zephyrane lays out <b>tagged</b> text in <i>words</i> that wrap and spread. ";
    }
    PangoLayout *layout = pango_cairo_create_layout(cr);
    PangoFontDescription *desc = pango_font_description_from_string("Bitstream Vera Sans 12");
    pango_layout_set_font_description(layout, desc);
    pango_layout_set_width(layout, 400 * PANGO_SCALE);
    pango_layout_set_justify(layout, TRUE);
    const double peer = rate([&] {
        pango_layout_set_markup(layout, markup.c_str(), -1);
        cairo_move_to(cr, 0, 0);
        pango_cairo_show_layout(cr, layout);
    });
    const double q = ours(request(font, tagged, QX_TS_ANTIALIAS, QX_ALIGN_JUSTIFIED, 400));
    printf("paragraph     ours %9.0f/s  pango %9.0f/s  ratio %.2f\n", q, peer, q / peer);
    pango_font_description_free(desc);
    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return 0;
}
