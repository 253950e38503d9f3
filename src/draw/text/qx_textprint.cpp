// The text cursor of each display and Print's placement of text at it.
#include <algorithm>
#include <climits>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "display/qx_bitmapdraw.h"
#include "display/qx_display.h"
#include "display/qx_positions.h"
#include "display/qx_bitmap.h"
#include "draw/fonts/qx_font.h"
#include "draw/text/qx_text.h"
#include "layers/qx_layer.h"
#include "objects/qx_output.h"
#include "objects/qx_selection.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

namespace {

// Kept beside the display records, which other code owns.
std::unordered_map<const qxDisplay *, qxTextCursor> cursors;

// Plain text line by line straight onto the output: the first line at
// firstX, the others at x, each a line height below the last. With a wrap
// width (Print) only text whose lines all fit it, so that no line would
// break or be cut. -1 when the text needs the picture path; else 0 or an
// error, and *endX, *endY (when given) where the text ends relative to x, y.
// The box the glyphs of a line may cover: the line and any ink above or
// below it (tall capitals, descenders).
struct InkBox {
    int64_t x0 = INT64_MAX, y0 = INT64_MAX, x1 = INT64_MIN, y1 = INT64_MIN;
    void add(int64_t lx, int64_t ly, const qxRunExtent &e, const qxFontHandle *font)
    {
        const int64_t base = ly + font->baseline;
        x0 = std::min<int64_t>(x0, lx + std::min(0, e.minX));
        x1 = std::max<int64_t>(x1, lx + std::max(e.maxX + 1, e.width));
        y0 = std::min<int64_t>({y0, ly, base + e.minY});
        y1 = std::max<int64_t>({y1, ly + font->height, base + e.maxY + 1});
    }
    // Cut to 0, 0 .. w, h; false when nothing is left.
    bool cut(int32_t w, int32_t h)
    {
        x0 = std::max<int64_t>(x0, 0), y0 = std::max<int64_t>(y0, 0);
        x1 = std::min<int64_t>(x1, w), y1 = std::min<int64_t>(y1, h);
        return x0 < x1 && y0 < y1;
    }
};

struct StraightLine {
    std::string text;
    int64_t x, y;
    qxRunExtent ext;
};

bool drawable(const StraightLine &l)
{
    return !l.text.empty() && l.y >= INT32_MIN / 2 && l.y <= INT32_MAX / 2 && l.x >= INT32_MIN / 2 &&
           l.x <= INT32_MAX / 2;
}

// Outputs whose pixels cannot be painted in place (a 16-bit work bitmap, a
// clip region, a double buffer, a brush with its own planes): the lines are
// drawn into a picture of their whole ink box, which the output's blit puts
// through the clip region, the pixel format and the dirty list.
int drawInkBox(lua_State *L, const qxTextRequest *rq, const std::vector<StraightLine> &lines)
{
    qxDisplay *d = qxCurrentDisplay;
    int32_t tw = 0, th = 0;
    qxOutputBitmap(d, &tw, &th);
    InkBox box;
    for (const StraightLine &l : lines)
        if (drawable(l)) box.add(l.x, l.y, l.ext, rq->block.font);
    if (!box.cut(tw, th)) return 0;
    const int32_t w = int32_t(box.x1 - box.x0), h = int32_t(box.y1 - box.y0);
    size_t area = 0;
    if (!qxMulSize(size_t(w), size_t(h), &area) || area > (size_t(1) << 28)) return ERR_BITMAP;
    const bool colourGlyphs = rq->block.font->kind == QX_FONT_COLORBITMAP;
    qxTextImage im{};
    im.pixels = static_cast<uint32_t *>(qxAlloc(area * 4, 1));
    auto *cover = static_cast<uint8_t *>(qxAlloc(area, 1));
    if (!im.pixels || !cover) {
        qxFree(im.pixels), qxFree(cover);
        return ERR_MEM;
    }
    int r = 0;
    for (const StraightLine &l : lines)
        if (!r && drawable(l))
            r = qxDrawRunText(rq->block.font, colourGlyphs ? im.pixels : nullptr, cover, w, h, int32_t(l.x - box.x0),
                              int32_t(l.y - box.y0), l.text.data(), l.text.size(), rq->block.style, rq->encoding);
    const uint32_t rgb = rq->block.colour & 0xFFFFFF;
    for (size_t i = 0; i < area; ++i)
        im.pixels[i] = cover[i] ? uint32_t(cover[i]) << 24 | (colourGlyphs ? im.pixels[i] & 0xFFFFFF : rgb) : 0;
    qxFree(cover);
    im.width = w, im.height = h;
    im.needsAlpha = (rq->block.style & QX_TS_ANTIALIAS) || colourGlyphs;
    if (!r) r = qxDrawTextImage(L, &im, int32_t(box.x0), int32_t(box.y0));
    qxFreeTextImage(&im);
    return r;
}

// Plain text line by line straight onto the output: the first line at
// firstX, the others at x, each a line height below the last. With a wrap
// width (Print) only text whose lines all fit it, so that no line would
// break or be cut. -1 when the text needs the picture path; else 0 or an
// error, and *endX, *endY (when given) where the text ends relative to x, y.
int drawStraight(lua_State *L, const qxTextRequest *rq, int32_t x, int32_t firstX, int32_t y, int32_t *endX,
                 int32_t *endY)
{
    qxTextRequest plain = *rq;
    plain.print = 0;
    plain.wrap = 0;
    if (!qxIsPlainText(&plain) || qxIsPosConstant(x, 0) || qxIsPosConstant(firstX, 0) || qxIsPosConstant(y, 1))
        return -1;
    // The display, or a brush it draws into (its back buffer too).
    qxDisplay *d = qxCurrentDisplay;
    if (!d || d->layersEnabled || (d->targetType != QX_OUT_DISPLAY && d->targetType != QX_OUT_BRUSH)) return -1;
    if (int r = qxCheckTextRequest(rq)) return r;
    qxFontHandle *font = rq->block.font;
    // The lines up to LF, carriage returns left out, measured before any
    // is drawn.
    std::vector<StraightLine> lines;
    try {
        int64_t ly = y;
        for (size_t i = 0; i <= rq->length; ++i, ly += font->height) {
            StraightLine l{{}, lines.empty() ? firstX : x, ly, {}};
            for (; i < rq->length && rq->text[i] != '\n'; ++i)
                if (rq->text[i] != '\r') l.text += rq->text[i];
            if (!l.text.empty())
                if (int r = qxMeasureRun(&rq->block, l.text.data(), l.text.size(), rq->encoding, &l.ext)) return r;
            if (rq->wrap > 0 && !l.text.empty()) {
                const int64_t offset = l.x - x;
                if (offset + l.ext.maxX + l.ext.right > rq->wrap || offset + l.ext.pixelWidth + l.ext.right > rq->wrap)
                    return -1;
            }
            lines.push_back(std::move(l));
        }
    } catch (const std::bad_alloc &) {
        return ERR_MEM;
    }
    const StraightLine &last = lines.back();
    if (endX) *endX = int32_t(std::clamp<int64_t>(last.x - x + (last.text.empty() ? 0 : last.ext.width), INT32_MIN, INT32_MAX));
    if (endY) *endY = int32_t(std::clamp<int64_t>(last.y - y, INT32_MIN, INT32_MAX));
    int32_t tw = 0, th = 0;
    qxBitMap *target = qxDirectOutputBitmap(&tw, &th);
    qxBitMapLock lock;
    if (!target || !qxLockBitMap(target, 0, &lock)) return drawInkBox(L, rq, lines);
    if (lock.pixelFormat != QX_PIXFMT_ARGB32 || lock.bytesPerPixel != 4) {
        qxUnLockBitMap(&lock);
        return drawInkBox(L, rq, lines);
    }
    const qxGlyphTarget t{static_cast<uint32_t *>(lock.pixels), int32_t(lock.pixelsPerRow), nullptr, 0,
                          int32_t(lock.width), int32_t(lock.height)};
    const qxGlyphClip clip{0, 0, std::min(tw, t.width), std::min(th, t.height)};
    const int64_t colour = rq->block.colour & 0xFFFFFF;
    InkBox box;
    int r = 0;
    for (const StraightLine &l : lines) {
        if (!drawable(l)) continue;
        if ((r = qxFontDrawText(font, &t, int32_t(l.x), int32_t(l.y), l.text.data(), l.text.size(), rq->block.style,
                                int(rq->encoding), &clip, colour)))
            break;
        box.add(l.x, l.y, l.ext, font);
    }
    qxUnLockBitMap(&lock);
    if (box.cut(clip.x1, clip.y1))
        qxDirectOutputDrawn(target, int32_t(box.x0), int32_t(box.y0), int32_t(box.x1 - box.x0),
                            int32_t(box.y1 - box.y0));
    return r;
}

} // namespace

extern "C" {

qxTextCursor *qxCurrentTextCursor(void)
{
    qxDisplay *d = qxCurrentDisplay;
    if (!d) return nullptr;
    try {
        auto [it, made] = cursors.try_emplace(d);
        if (made)
            it->second = qxTextCursor{};
        // Position and margins are the display's own: it resets them when
        // it is rescaled, redirected or clipped, and reports them.
        qxTextCursor &c = it->second;
        c.x = d->cursorX, c.y = d->cursorY, c.left = d->cursorLeftMargin, c.right = d->cursorRightMargin;
        if (c.right <= c.left) {
            int32_t w = 0, h = 0;
            qxOutputBitmap(d, &w, &h);
            c.left = 0;
            c.right = std::max(1, w > 0 ? w - 1 : d->width - 1);
        }
        return &c;
    } catch (...) {
        return nullptr;
    }
}

void qxStoreTextCursor(const qxTextCursor *c)
{
    if (qxDisplay *d = qxCurrentDisplay; d && c)
        d->cursorX = c->x, d->cursorY = c->y, d->cursorLeftMargin = c->left, d->cursorRightMargin = c->right;
}

void qxForgetTextCursors(void) { cursors.clear(); }

int qxDrawTextImage(lua_State *L, const qxTextImage *im, int32_t x, int32_t y)
{
    // A mask or alpha target may still lack its plane.
    if (int e = qxPrepareOutputTarget(L)) return e;
    // Opaque pixels go through a mask, so that a mask target keeps its mode
    // and the bits around the glyphs.
    qxBitMap *bm = nullptr, *mask = nullptr, *alpha = nullptr;
    if (int r = qxTextImagePlanes(*im, &bm, &mask, &alpha)) return r;
    const int r = qxBlitToOutput(L, bm, 0, 0, x + im->originX, y + im->originY, im->width, im->height, im->width,
                                 im->height, mask, alpha);
    qxFreeMaskBitMap(mask);
    qxFreeAlphaBitMap(alpha);
    qxFreeBitMap(bm);
    return r;
}

int qxDrawPlainText(lua_State *L, const qxTextRequest *rq, int32_t x, int32_t y)
{
    return drawStraight(L, rq, x, x, y, nullptr, nullptr);
}

int qxPrintText(lua_State *L, const char *text, size_t length, int tags)
{
    return qxPrintTextLayer(L, text, length, tags, nullptr);
}

int qxPrintTextLayer(lua_State *L, const char *text, size_t length, int tags, qxLayer **layer)
{
    if (layer) *layer = nullptr;
    qxTextCursor *c = qxCurrentTextCursor();
    if (!c) return ERR_MEM;
    const qxTextState *s = qxGetTextState();
    qxTextRequest rq{};
    rq.block = s->block;
    rq.text = text;
    rq.length = length;
    rq.align = QX_ALIGN_LEFT;
    rq.wrap = c->right - c->left + 1;
    rq.encoding = s->encoding;
    rq.tags = tags;
    rq.print = 1;
    rq.startX = c->x - c->left;
    rq.leftMargin = c->left;
    rq.tabs = c->tabs;
    rq.tabCount = c->tabCount;
    const bool layers = qxOutputTakesLayers();
    // Plain text that fits the margins goes straight onto the output, tall
    // glyphs whole; the cursor moves line by line.
    if (!layers) {
        int32_t endX = 0, endY = 0;
        if (int r = drawStraight(L, &rq, c->left, c->x, c->y, &endX, &endY); r >= 0) {
            if (r) return r;
            c->x = c->left + endX;
            c->y += endY;
            qxStoreTextCursor(c);
            return 0;
        }
    }
    qxTextRequest drawn = rq;
    if (layers) qxStripLayerEffects(&drawn);
    qxTextImage im;
    if (int r = qxLayoutTextL(L, &drawn, &im)) return r;
    const int r = layers
                      ? qxAddTextImageLayer(L, QX_LAYER_PRINT, &rq, &im, c->left, c->y, nullptr, nullptr, layer)
                      : qxDrawTextImage(L, &im, c->left, c->y);
    c->x = c->left + im.endX;
    c->y += im.endY;
    qxStoreTextCursor(c);
    qxFreeTextImage(&im);
    return r;
}
}
