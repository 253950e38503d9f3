// The text cursor of each display and Print's placement of text at it.
#include <unordered_map>

#include "display/qx_bitmapdraw.h"
#include "display/qx_display.h"
#include "draw/fonts/qx_font.h"
#include "draw/text/qx_text.h"
#include "layers/qx_layer.h"
#include "objects/qx_output.h"
#include "objects/qx_selection.h"
#include "platform/qx_errcodes.h"

namespace {

// Kept beside the display records, which other code owns.
std::unordered_map<const qxDisplay *, qxTextCursor> cursors;

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
    qxBlitToOutput(L, bm, 0, 0, x + im->originX, y + im->originY, im->width, im->height, im->width, im->height,
                   mask, alpha);
    qxFreeMaskBitMap(mask);
    qxFreeAlphaBitMap(alpha);
    qxFreeBitMap(bm);
    return 0;
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
    qxDisplay *d = qxCurrentDisplay;
    const bool layers = d && d->layersEnabled && d->targetType == QX_OUT_DISPLAY;
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
