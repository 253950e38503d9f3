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

namespace {

// Kept beside the display records, which other code owns.
std::unordered_map<const qxDisplay *, qxTextCursor> cursors;

// Plain text line by line straight onto the output: the first line at
// firstX, the others at x, each a line height below the last. With a wrap
// width (Print) only text whose lines all fit it, so that no line would
// break or be cut. -1 when the text needs the picture path; else 0 or an
// error, and *endX, *endY (when given) where the text ends relative to x, y.
int drawStraight(const qxTextRequest *rq, int32_t x, int32_t firstX, int32_t y, int32_t *endX, int32_t *endY)
{
    qxTextRequest plain = *rq;
    plain.print = 0;
    plain.wrap = 0;
    if (!qxIsPlainText(&plain) || qxIsPosConstant(x, 0) || qxIsPosConstant(firstX, 0) || qxIsPosConstant(y, 1))
        return -1;
    int32_t tw = 0, th = 0;
    qxBitMap *target = qxDirectOutputBitmap(&tw, &th);
    if (!target) return -1;
    if (int r = qxCheckTextRequest(rq)) return r;
    qxFontHandle *font = rq->block.font;
    // The lines up to LF, carriage returns left out, measured before any
    // is drawn.
    struct Line {
        std::string text;
        int64_t x, y;
        qxRunExtent ext;
    };
    std::vector<Line> lines;
    try {
        int64_t ly = y;
        for (size_t i = 0; i <= rq->length; ++i, ly += font->height) {
            Line l{{}, lines.empty() ? firstX : x, ly, {}};
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
    qxBitMapLock lock;
    if (!qxLockBitMap(target, 0, &lock)) return -1;
    if (lock.pixelFormat != QX_PIXFMT_ARGB32 || lock.bytesPerPixel != 4) {
        qxUnLockBitMap(&lock);
        return -1;
    }
    const qxGlyphTarget t{static_cast<uint32_t *>(lock.pixels), int32_t(lock.pixelsPerRow), nullptr, 0,
                          int32_t(lock.width), int32_t(lock.height)};
    const qxGlyphClip clip{0, 0, std::min(tw, t.width), std::min(th, t.height)};
    const int64_t colour = rq->block.colour & 0xFFFFFF;
    int32_t x0 = INT32_MAX, y0 = INT32_MAX, x1 = INT32_MIN, y1 = INT32_MIN;
    int r = 0;
    for (const Line &l : lines) {
        if (l.text.empty() || l.y < INT32_MIN / 2 || l.y > INT32_MAX / 2 || l.x < INT32_MIN / 2 || l.x > INT32_MAX / 2)
            continue;
        if ((r = qxFontDrawText(font, &t, int32_t(l.x), int32_t(l.y), l.text.data(), l.text.size(), rq->block.style,
                                int(rq->encoding), &clip, colour)))
            break;
        // What the glyphs may cover: the line and any ink above or below it.
        const qxRunExtent &e = l.ext;
        const int64_t base = l.y + font->baseline;
        x0 = int32_t(std::clamp<int64_t>(std::min<int64_t>(x0, l.x + std::min(0, e.minX)), 0, clip.x1));
        x1 = int32_t(std::clamp<int64_t>(std::max<int64_t>(x1, l.x + std::max(e.maxX + 1, e.width)), 0, clip.x1));
        y0 = int32_t(std::clamp<int64_t>(std::min<int64_t>({y0, l.y, base + e.minY}), 0, clip.y1));
        y1 = int32_t(std::clamp<int64_t>(std::max<int64_t>({y1, l.y + font->height, base + e.maxY + 1}), 0, clip.y1));
    }
    qxUnLockBitMap(&lock);
    if (x0 < x1 && y0 < y1) qxDirectOutputDrawn(target, x0, y0, x1 - x0, y1 - y0);
    const Line &last = lines.back();
    if (endX) *endX = int32_t(std::clamp<int64_t>(last.x - x + (last.text.empty() ? 0 : last.ext.width), INT32_MIN, INT32_MAX));
    if (endY) *endY = int32_t(std::clamp<int64_t>(last.y - y, INT32_MIN, INT32_MAX));
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

int qxDrawPlainText(const qxTextRequest *rq, int32_t x, int32_t y)
{
    return drawStraight(rq, x, x, y, nullptr, nullptr);
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
        if (int r = drawStraight(&rq, c->left, c->x, c->y, &endX, &endY); r >= 0) {
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
