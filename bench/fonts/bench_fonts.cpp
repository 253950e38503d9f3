// Measuring a line of text (every glyph loaded and rendered) with the
// TrueType back-end, cold and through the glyph cache, against PIL's
// FreeType rendering of the same text (getmask) timed inside Python.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "draw/fonts/qx_font.h"

namespace {

const char *kText = "The quick brown fox jumps over the lazy dog 0123456789 !?";
constexpr int kRuns = 2000;

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

double pilSeconds(int px) {
    std::ofstream("/tmp/qx_bench_fonts.py")
        << "import time\nfrom PIL import ImageFont\n"
           "f=ImageFont.truetype('/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf',"
        << px << ",layout_engine=ImageFont.Layout.BASIC)\nt='" << kText
        << "'\nf.getmask(t,'L')\ns=time.perf_counter()\nfor i in range(" << kRuns
        << "): f.getmask(t,'L')\nprint(time.perf_counter()-s)\n";
    FILE *p = popen("/usr/bin/python3 /tmp/qx_bench_fonts.py", "r");
    double s = -1;
    if (p) {
        if (fscanf(p, "%lf", &s) != 1) s = -1;
        pclose(p);
    }
    return s;
}

} // namespace

int main() {
    qxFontHandle h;
    memset(&h, 0, sizeof h);
    if (!qxFtOpenFont("Bitstream Vera Sans", 24, 1, &h)) return 1;
    auto *t = static_cast<qxTrueTypeFont *>(h.backend);
    size_t n = strlen(kText);
    qxTextExtent e;
    double s = now();
    for (int i = 0; i < kRuns; ++i) {
        qxFtFreeGlyphCache(&h);
        qxFtMeasureText(&h, kText, n, QX_STYLE_ANTIALIAS, 0, &e);
    }
    double cold = now() - s;
    s = now();
    for (int i = 0; i < kRuns; ++i) qxFtMeasureText(&h, kText, n, QX_STYLE_ANTIALIAS, 0, &e);
    double cached = now() - s;
    double pil = pilSeconds(t->pixelSize - 1);
    printf("%d lines of %zu glyphs at %d px\n", kRuns, n, t->pixelSize - 1);
    printf("zephyrane, glyphs rendered every time: %.4f s\n", cold);
    printf("zephyrane, glyph cache:                %.4f s\n", cached);
    printf("PIL getmask (FreeType):                %.4f s\n", pil);
    if (pil > 0) printf("ratio PIL / zephyrane: rendered %.2f, cached %.2f\n", pil / cold, pil / cached);
    qxFtFreeFace(&h);
    return 0;
}
