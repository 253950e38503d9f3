// The program's text state, its clamps and the measuring of one run.
#include <algorithm>

#include "draw/fonts/qx_font.h"
#include "draw/text/qx_text.h"
#include "platform/qx_text.h"

namespace {

qxTextState state = {{QX_TS_NORMAL, 0xFFFFFF, 0, 0x0093DD, 4, 3, 2, nullptr}, 0};
qxFontHandle *startupFont;

} // namespace

extern "C" {

qxTextState *qxGetTextState(void) { return &state; }

qxFontHandle *qxGetCurrentFont(void) { return state.block.font; }

void qxClampTextStyle(qxTextStyle *b)
{
    b->shadowSize = std::clamp(b->shadowSize, 1, 64);
    b->edgeSize = std::clamp(b->edgeSize, 1, 64);
    if (b->shadowDir < 0 || b->shadowDir > 7) b->shadowDir = 3;
}

int qxOpenDefaultFont(void)
{
    const int utf8 = qxTextModeUtf8;
    if (!startupFont)
        if (int r = qxInitFontSystem(&startupFont)) return r;
    state.block.font = startupFont;
    state.encoding = qxDefaultEncoding = utf8 ? 1 : 0;
    return 0;
}

void qxCloseTextState(void)
{
    state.block = {QX_TS_NORMAL, 0xFFFFFF, 0, 0x0093DD, 4, 3, 2, nullptr};
    if (startupFont) qxCloseFontSystem();
    startupFont = nullptr;
}

int qxMeasureRun(const qxTextStyle *b, const char *text, size_t length, uint32_t encoding, qxRunExtent *out)
{
    qxFontHandle *font = b->font;
    qxTextExtent e{};
    *out = qxRunExtent{};
    if (length)
        if (int r = qxFontMeasureText(font, text, length, b->style, int(encoding), &e)) return r;
    out->width = e.width, out->minX = e.minX, out->minY = e.minY, out->maxX = e.maxX, out->maxY = e.maxY;
    out->height = font ? font->height : 8;
    const bool native = font && qxFontHasNativeStyle(font, b->style);
    if ((b->style & QX_TS_BOLD) && !native && !(b->style & QX_TS_ANTIALIAS)) out->maxX += 1;
    if ((b->style & QX_TS_ITALIC) && !native && font) {
        out->maxX += font->baseline / 2;
        out->minX -= (out->height - font->baseline) / 2;
    }
    out->pixelWidth = std::max(out->maxX + 1, out->width);
    if (b->style & QX_TS_EDGE) {
        out->left = out->top = -b->edgeSize;
        out->right = out->bottom = b->edgeSize;
    }
    if (b->style & QX_TS_SHADOW) {
        const int32_t s = b->shadowSize;
        int dir = b->shadowDir >= 0 && b->shadowDir <= 7 ? b->shadowDir : 3;
        static const int8_t dx[8] = {0, 1, 1, 1, 0, -1, -1, -1}, dy[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
        // Added to the edge's margins: the shadow is cast by the edged text.
        if (dx[dir] > 0) out->right += s;
        if (dx[dir] < 0) out->left -= s;
        if (dy[dir] > 0) out->bottom += s;
        if (dy[dir] < 0) out->top -= s;
    }
    return 0;
}

int qxDrawRunText(qxFontHandle *font, uint32_t *pixels, uint8_t *coverage, int32_t width, int32_t height, int32_t x,
                  int32_t y, const char *text, size_t length, uint32_t style, uint32_t encoding)
{
    if (!font || !length) return 0;
    qxGlyphTarget t{pixels, width, coverage, width, width, height};
    qxGlyphClip clip{0, 0, width, height};
    int r = qxFontDrawText(font, &t, x, y, text, length, style, int(encoding), &clip, -1);
    // Bold without a bold face: bitmap glyphs again one pixel to the right.
    if (!r && (style & QX_TS_BOLD) && (font->kind == QX_FONT_BITMAP || font->kind == QX_FONT_COLORBITMAP))
        r = qxFontDrawText(font, &t, x + 1, y, text, length, style, int(encoding), &clip, -1);
    return r;
}
}
