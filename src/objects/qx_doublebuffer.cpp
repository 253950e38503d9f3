// Double buffering: drawing goes into a back buffer of the BGPic's size and
// Flip copies what changed into the window buffer and shows it.
#include <algorithm>
#include <cstdlib>

#include "core/commands/qx_args.h"
#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "core/plugins/qx_plugins.h"
#include "display/qx_adapter.h"
#include "display/qx_bgpic.h"
#include "display/qx_display.h"
#include "display/qx_displaycmds.h"
#include "display/qx_framepacing.h"
#include "objects/qx_output.h"
#include "objects/qx_selection.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_hooks.h"
#include "platform/qx_upcalls.h"
#include "platform/x11/x11_display.h"

namespace {

// The window shows the picture scaled (and its margins).
bool scaledWindow(const qxDisplay *d)
{
    return d->autoScale && !d->layerScale && d->scaledWidth && d->scaledHeight && !qxDisplayAdapterActive() &&
           d->bgpic &&
           (d->scaledWidth != uint32_t(d->bgpic->width) || d->scaledHeight != uint32_t(d->bgpic->height));
}

qxBitMap *blackBitmap(int32_t w, int32_t h)
{
    if (w < 1 || h < 1) return nullptr;
    qxBitMap *bm = qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr);
    if (bm && qxFillBitMapColour(bm, 0)) {
        qxFreeBitMap(bm);
        return nullptr;
    }
    return bm;
}

void freeBuffers(qxOutputState *s)
{
    qxFreeBitMap(s->backBuffer);
    qxFreeBitMap(s->windowBuffer);
    s->backBuffer = s->windowBuffer = nullptr;
    s->dirtyCount = 0;
}

} // namespace

extern "C" {

int qxResizeBackBuffer(qxDisplay *d)
{
    qxOutputState *s = qxOutputOf(d, 0);
    if (!s || !s->backBuffer || !d->bgpic) return 0;
    qxBitMap *old = s->backBuffer;
    const int32_t w = d->bgpic->width, h = d->bgpic->height;
    if (old->width == uint32_t(w) && old->height == uint32_t(h)) return 0;
    qxBitMap *bm = blackBitmap(w, h);
    if (!bm) return ERR_BITMAP;
    qxBltBitMapDirect(old, 0, 0, bm, 0, 0, std::min(w, int32_t(old->width)), std::min(h, int32_t(old->height)));
    if (s->bitmap == old) s->bitmap = bm;
    if (s->savedBitmap == old) s->savedBitmap = bm;
    qxBGPic &record = s->nested ? s->savedRecord : s->record;
    record.width = w, record.height = h;
    s->backBuffer = bm;
    qxFreeBitMap(old);
    return 0;
}

int qxAllocDoubleBufferBitmap(qxDisplay *d, int32_t w, int32_t h)
{
    qxOutputState *s = qxOutputOf(d, 0);
    if (!s || (d->doubleBufferState & QX_DBSTATE_ADAPTER) || !s->windowBuffer) return 0;
    qxBitMap *bm = blackBitmap(w, h);
    if (!bm) return ERR_MEM;
    qxFreeBitMap(s->windowBuffer);
    s->windowBuffer = bm;
    return 0;
}

void qxPresentDoubleBuffer(qxDisplay *d, int whole, uint32_t)
{
    qxOutputState *s = qxOutputOf(d, 0);
    if (!s || !s->windowBuffer || (d->doubleBufferState & QX_DBSTATE_ADAPTER)) return;
    if (qxDisplayAdapterActive() ? !qxAdapterDrawable(d) : d->state == QX_DISPSTATE_CLOSED || !x11Data(d)) return;
    qxBitMap *wb = s->windowBuffer;
    const int32_t bw = d->bgpic ? d->bgpic->width : int32_t(wb->width);
    const int32_t bh = d->bgpic ? d->bgpic->height : int32_t(wb->height);
    // The window buffer has the picture's size: on a scaled display the
    // road to the window scales just the rectangles put.
    if (whole || s->dirtyCount >= s->dirtyCapacity) {
        int32_t w = int32_t(wb->width), h = int32_t(wb->height);
        if (!scaledWindow(d)) w = std::min(w, d->width), h = std::min(h, d->height);
        qxPutToWindow(d, wb, 0, 0, w, h);
    } else {
        for (uint32_t i = 0; i < s->dirtyCount; ++i) {
            const qxRectI &r = s->dirty[i];
            qxPutToWindow(d, wb, r.left, r.top, r.right - r.left + 1, r.bottom - r.top + 1);
        }
    }
    // The strips a larger window shows beside the picture.
    if (!scaledWindow(d)) {
        if (d->width > bw) qxDispRectFill(d, bw, 0, d->width - bw, d->height, 0);
        if (d->height > bh) qxDispRectFill(d, 0, bh, std::min(d->width, bw), d->height - bh, 0);
    }
}

int qxCmdBeginDoubleBuffer(lua_State *L)
{
    qxCheckArgCount(L, 0, 1, 0, 0);
    const int hardware = lua_gettop(L) >= 1 ? luaL_checkint(L, 1) != 0 : 0;
    qxDisplay *d = qxCurrentDisplay;
    if (!d || !d->bgpic) return ERR_WRONGUSAGE;
    qxOutputState *s = qxOutputOf(d, 0);
    switch (d->targetType) {
    case QX_OUT_BRUSH:
        if (d->doubleBuffer) return ERR_ENDDOUBLEBUFFER;
        return s && s->record.selectedType == QX_OUT_ANIM ? ERR_SELECTANIM : ERR_SELECTBRUSH;
    case QX_OUT_BGPIC: return ERR_SELECTBG;
    case QX_OUT_MASK: return ERR_SELECTMASK;
    case QX_OUT_ALPHA: return ERR_SELECTALPHACHANNEL;
    default: break;
    }
    if (d->layersEnabled || d->bgpic->layers.count) return ERR_LAYERSOFF;
    if (d->refreshMode) return ERR_BEGINREFRESH;
    if (d->bgpic->sprites) return ERR_NOSPRITES;
    if (d->bgpic->baseMask || d->bgpic->baseAlpha) return ERR_DBTRANSWIN;
    if (qxDisplayHasVideos(d)) return ERR_VIDATTACHED;
    // Hardware double buffering: the adapter's, or the platform's, when
    // either offers one.
    bool adapterBuffer = false;
    if (hardware && ((qxDisplayAdapter && (qxDisplayAdapter->displayAdapterFlags & QX_ADAPTER_DOUBLEBUFFER)) ||
                     qxPlatformHasCap(256))) {
        if (d->satellites) return ERR_SATELLITE;
        if (d->state == QX_DISPSTATE_CLOSED) return ERR_CLOSEDDISPLAY;
        if (d->doubleBufferState & QX_DBSTATE_ADAPTER) qxEndDoubleBufferCleanup(d);
        adapterBuffer = qxAdapterDoubleBufferHook(d) == 0;
    }
    s = qxOutputOf(d, 1);
    if (!s) {
        if (adapterBuffer) qxEndDoubleBufferCleanup(d);
        return ERR_MEM;
    }
    freeBuffers(s);
    const int32_t bw = d->bgpic->width, bh = d->bgpic->height;
    // The adapter buffers the window itself: no window buffer then.
    s->windowBuffer = adapterBuffer ? nullptr : blackBitmap(bw, bh);
    s->backBuffer = blackBitmap(bw, bh);
    if ((!adapterBuffer && !s->windowBuffer) || !s->backBuffer) {
        freeBuffers(s);
        if (adapterBuffer) qxEndDoubleBufferCleanup(d);
        return ERR_BITMAP;
    }
    d->hardwareDoubleBuffer = adapterBuffer || (hardware && qxPlatformHasCap(8)) ? 1 : 0;
    if (int r = qxResetDirtyList(s)) {
        freeBuffers(s);
        return r;
    }
    s->record = qxBGPic{};
    s->record.width = bw, s->record.height = bh, s->prepared = 1;
    qxCurrentOutput = &s->record;
    d->targetType = QX_OUT_BRUSH;
    d->doubleBuffer = 1;
    s->bitmap = s->backBuffer;
    s->mask = s->alpha = nullptr;
    s->hardware = 0;
    return 0;
}

int qxCmdFlip(lua_State *L)
{
    qxCheckArgCount(L, 0, 1, 0, 0);
    const int sync = lua_gettop(L) >= 1 ? luaL_checkint(L, 1) != 0 : 1;
    qxDisplay *d = qxCurrentDisplay;
    qxOutputState *s = qxOutputOf(d, 0);
    if (!d || !d->doubleBuffer || !s || !s->backBuffer) return ERR_NODOUBLEBUFFER;
    if (d->doubleBufferState & QX_DBSTATE_ADAPTER) {
        s->dirtyCount = 0;
        return qxAdapterFlip(d, sync);
    }
    const int32_t bw = int32_t(s->backBuffer->width), bh = int32_t(s->backBuffer->height);
    // The window buffer has the picture's size, scaled or not: only what
    // changed is copied, and scaled on its way to the window.
    bool full = s->dirtyCount >= s->dirtyCapacity;
    if (s->windowBuffer->width != uint32_t(bw) || s->windowBuffer->height != uint32_t(bh)) {
        if (int r = qxAllocDoubleBufferBitmap(d, bw, bh)) return r;
        full = true;
    }
    if (full) {
        qxBltBitMapDirect(s->backBuffer, 0, 0, s->windowBuffer, 0, 0, bw, bh);
    } else {
        s->dirtyCount = qxMergeRects(s->dirty, s->dirtyCount);
        const qxClipRect bounds{0, 0, bw, bh};
        uint32_t kept = 0;
        for (uint32_t i = 0; i < s->dirtyCount; ++i) {
            const qxRectI &r = s->dirty[i];
            int32_t x = r.left, y = r.top;
            int32_t w = int32_t(std::min<int64_t>(int64_t(r.right) - r.left + 1, INT32_MAX));
            int32_t h = int32_t(std::min<int64_t>(int64_t(r.bottom) - r.top + 1, INT32_MAX));
            if (!qxClipRectToBounds(&bounds, &x, &y, &w, &h, nullptr, nullptr)) continue;
            qxBltBitMapDirect(s->backBuffer, x, y, s->windowBuffer, x, y, w, h);
            s->dirty[kept++] = {x, y, x + w - 1, y + h - 1};
        }
        s->dirtyCount = kept;
    }
    if (sync)
        if (int r = qxVWaitCurrentDisplay(L, 0)) return r;
    qxPresentDoubleBuffer(d, full, 0);
    s->dirtyCount = 0;
    return 0;
}

int qxEndDoubleBufferCore(lua_State *L, qxDisplay *d)
{
    qxOutputState *s = qxOutputOf(d, 0);
    if (s && s->nested)
        if (int r = qxDisplayBGPicCore(L, d, 0)) return r;
    if (!d || !d->doubleBuffer || !s) return ERR_NODOUBLEBUFFER;
    d->targetType = QX_OUT_DISPLAY;
    int32_t w = 0, h = 0;
    if (qxBitMap *shown = qxOutputBitmap(d, &w, &h); shown && s->backBuffer)
        qxBltBitMapDirect(s->backBuffer, 0, 0, shown, 0, 0, w, h);
    if (d->doubleBufferState & QX_DBSTATE_ADAPTER) qxEndDoubleBufferCleanup(d);
    freeBuffers(s);
    d->targetType = QX_OUT_DISPLAY;
    d->doubleBuffer = 0;
    d->hardwareDoubleBuffer = 0;
    d->doubleBufferState &= ~QX_DBSTATE_ADAPTER;
    s->bitmap = s->mask = s->alpha = nullptr;
    qxCurrentOutput = d->bgpic;
    qxRefreshWholeDisplay(d, 0);
    return 0;
}

int qxCmdEndDoubleBuffer(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    return qxEndDoubleBufferCore(L, qxCurrentDisplay);
}
}
