// Output state of a display, the blit view SafeBlt draws through, and the
// put-and-show of one object onto the current output.
#include "objects/qx_output.h"

#include "objects/qx_brushimage.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "display/qx_adapter.h"
#include "display/qx_bgpic.h"
#include "display/qx_clipregion.h"
#include "display/qx_display.h"
#include "display/qx_displaycmds.h"
#include "display/qx_displaylibs.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_upcalls.h"
#include "platform/x11/x11_display.h"

extern "C" {
uint32_t qxSelectMode, qxSelectCombo;
}

namespace {

// A window of the X11 back-end, or one a display adapter draws into; or
// satellites, which are told of every change even on a closed display.
bool windowOpen(const qxDisplay *d)
{
    if (d->satellites) return true;
    return qxDisplayAdapterActive() ? qxAdapterDrawable(d) != 0 : d->state != QX_DISPSTATE_CLOSED && x11Data(d);
}

// Autoscale: the display-size picture is scaled into the window.
bool autoScaled(const qxDisplay *d)
{
    return d->autoScale && !d->layerScale && d->scaledWidth && d->scaledHeight && d->bgpic &&
           d->bgpic->width > 0 && d->bgpic->height > 0 &&
           (d->scaledWidth != uint32_t(d->bgpic->width) || d->scaledHeight != uint32_t(d->bgpic->height));
}

} // namespace

extern "C" {

void qxShowOnWindow(qxBitMap *bm, int32_t sx, int32_t sy, qxDisplay *d, int32_t dx, int32_t dy, int32_t w, int32_t h,
                    uint32_t flags, qxBitMap *mask)
{
    if (!d || !bm || w < 1 || h < 1) return;
    // BeginRefresh holds everything back until EndRefresh shows it whole.
    if (d->refreshMode && !(flags & QX_SHOW_FORCE)) return;
    flags &= ~uint32_t(QX_SHOW_FORCE);
    if (!autoScaled(d)) {
        // Unscaled, or a layer-scaling display whose picture is composed
        // at the window's size: it goes as it is.
        qxBltToWindow(bm, sx, sy, d, dx, dy, w, h, 0, 0, flags, mask, nullptr, nullptr);
        return;
    }
    const qxBGPic *b = d->bgpic;
    const int32_t sw = int32_t(d->scaledWidth), sh = int32_t(d->scaledHeight);
    if (bm->width == uint32_t(b->width) && bm->height == uint32_t(b->height)) {
        // A rectangle of the display's picture: only its part of the scaled
        // picture is made and sent.
        qxBltToWindow(bm, sx, sy, d, dx, dy, w, h, sw, sh, flags | QX_WBLT_WHOLESCALE, mask, nullptr, nullptr);
        return;
    }
    if (bm->width == uint32_t(sw) && bm->height == uint32_t(sh)) {
        // Already at the window's picture size (a scaled window buffer).
        qxBltToWindow(bm, sx, sy, d, dx, dy, w, h, 0, 0, flags, mask, nullptr, nullptr);
        return;
    }
    // A bitmap of its own put at display coordinates: its rectangle at the
    // display's scale.
    const double fx = double(sw) / b->width, fy = double(sh) / b->height;
    const int32_t x0 = int32_t(std::lround(dx * fx)), y0 = int32_t(std::lround(dy * fy));
    const int32_t x1 = int32_t(std::lround((int64_t(dx) + w) * fx)), y1 = int32_t(std::lround((int64_t(dy) + h) * fy));
    if (x1 > x0 && y1 > y0)
        qxBltToWindow(bm, sx, sy, d, x0, y0, w, h, x1 - x0, y1 - y0, flags, mask, nullptr, nullptr);
}

void qxPutToWindow(qxDisplay *d, qxBitMap *bm, int32_t x, int32_t y, int32_t w, int32_t h)
{
    qxShowOnWindow(bm, x, y, d, x, y, w, h, 0, nullptr);
}

void qxShowBlitOnDisplay(qxBitMap *bm, int32_t sx, int32_t sy, void *display, int32_t dx, int32_t dy, int32_t w,
                         int32_t h, uint32_t flags, qxBitMap *mask)
{
    // The bitmap layer has held back what refresh mode holds back already.
    qxShowOnWindow(bm, sx, sy, static_cast<qxDisplay *>(display), dx, dy, w, h,
                   QX_SHOW_FORCE | (flags & QX_WBLT_NOSATELLITES), mask);
}

qxOutputState *qxOutputOf(qxDisplay *d, int create)
{
    if (!d) return nullptr;
    auto *s = static_cast<qxOutputState *>(d->selectBuffer);
    if (!s && create) {
        s = static_cast<qxOutputState *>(std::calloc(1, sizeof(qxOutputState)));
        d->selectBuffer = s;
    }
    return s;
}

void qxFreeOutputState(qxDisplay *d)
{
    qxOutputState *s = qxOutputOf(d, 0);
    if (!s) return;
    if (qxCurrentOutput == &s->record || qxCurrentOutput == &s->savedRecord)
        qxCurrentOutput = nullptr;
    qxFreeBitMap(s->backBuffer);
    qxFreeBitMap(s->windowBuffer);
    qxFreeBitMap(s->work);
    std::free(s->dirty);
    std::free(s);
    d->selectBuffer = nullptr;
}

int qxResetDirtyList(qxOutputState *s)
{
    if (!s->dirty) {
        s->dirty = static_cast<qxRectI *>(std::calloc(QX_DIRTY_CAPACITY, sizeof(qxRectI)));
        if (!s->dirty) return ERR_MEM;
    }
    s->dirtyCapacity = QX_DIRTY_CAPACITY;
    s->dirtyCount = 0;
    return 0;
}

qxBitMap *qxDisplayWorkBitmap(qxDisplay *d, int create)
{
    qxOutputState *s = qxOutputOf(d, create);
    const qxBGPic *b = d ? d->bgpic : nullptr;
    if (!s || !b || !b->bitmap) return nullptr;
    // A display that scales its layers composes at its own size.
    const bool scaled = d->layerScale && d->layersEnabled && d->scaledWidth && d->scaledHeight && b->curBitmap &&
                        b->curBitmap != b->bitmap;
    qxBitMap *from = scaled ? b->curBitmap : b->bitmap;
    const int32_t w = scaled ? b->curWidth : b->width, h = scaled ? b->curHeight : b->height;
    if (s->work && s->workFor == b && s->workFrom == from && s->work->width == uint32_t(w) &&
        s->work->height == uint32_t(h))
        return s->work;
    qxFreeBitMap(s->work);
    s->work = nullptr;
    if (!create) return nullptr;
    s->work = qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr);
    if (!s->work) return nullptr;
    qxBltBitMapDirect(from, 0, 0, s->work, 0, 0, w, h);
    s->workFor = b, s->workFrom = from;
    return s->work;
}

void qxForgetDisplayWork(qxDisplay *d)
{
    if (qxOutputState *s = qxOutputOf(d, 0)) {
        qxFreeBitMap(s->work);
        s->work = nullptr;
    }
}

qxBitMap *qxShownBitmap(qxDisplay *d)
{
    qxOutputState *s = qxOutputOf(d, 0);
    if (s && s->windowBuffer && d->bgpic && s->windowBuffer->width == uint32_t(d->bgpic->width) &&
        s->windowBuffer->height == uint32_t(d->bgpic->height))
        return s->windowBuffer;
    return qxDisplayWorkBitmap(d, 0);
}

qxBitMap *qxOutputBitmap(qxDisplay *d, int32_t *w, int32_t *h)
{
    *w = *h = 0;
    if (!d) return nullptr;
    // A BGPic taking the output gets layers, not pixels: only its size.
    if (d->targetType == QX_OUT_BGPIC) {
        if (qxCurrentOutput) *w = qxCurrentOutput->width, *h = qxCurrentOutput->height;
        return nullptr;
    }
    qxOutputState *s = qxOutputOf(d, 0);
    if (d->targetType != QX_OUT_DISPLAY && s) {
        *w = s->record.width, *h = s->record.height;
        return d->targetType == QX_OUT_BRUSH ? s->bitmap : nullptr;
    }
    if (!d->bgpic) return nullptr;
    *w = d->bgpic->width, *h = d->bgpic->height;
    qxBitMap *work = qxDisplayWorkBitmap(d, 1);
    return work ? work : d->bgpic->bitmap;
}

int qxOutputTakesLayers(void)
{
    const qxDisplay *d = qxCurrentDisplay;
    return d && d->layersEnabled && (d->targetType == QX_OUT_DISPLAY || d->targetType == QX_OUT_BGPIC);
}

uint32_t qxSelectTargetFlags(const qxBitMap *dest, int rectFill)
{
    qxDisplay *d = qxCurrentDisplay;
    qxOutputState *s = d ? qxOutputOf(d, 0) : nullptr;
    // The double buffer's back buffer is no Select target.
    if (!dest || !s || d->doubleBuffer) return 0;
    const uint32_t type = d->targetType;
    const bool plane = type == QX_OUT_MASK || type == QX_OUT_ALPHA;
    const qxBitMap *selected = type == QX_OUT_BRUSH ? s->bitmap
                               : type == QX_OUT_MASK ? s->mask
                               : type == QX_OUT_ALPHA ? s->alpha
                                                      : nullptr;
    if (dest != selected) return 0;
    const bool hardwareBuffer = d->doubleBufferState & QX_DBSTATE_ADAPTER;
    if (rectFill) return plane && !hardwareBuffer ? 4 : 0;
    uint32_t flags = plane ? 16 : 0;
    if (type == QX_OUT_BRUSH && qxSelectMode == QX_SELMODE_COMBO && !hardwareBuffer) flags |= 8;
    return flags;
}

int qxOutputView(qxBitMap *, void *clipRegion, qxSafeBltView *v)
{
    qxDisplay *d = qxCurrentDisplay;
    if (!d) return 0;
    *v = {};
    v->display = d;
    v->outputType = d->targetType;
    v->layersOn = d->layersEnabled;
    v->doubleBufferShown = (d->doubleBufferState & QX_DBSTATE_ADAPTER) ? 1 : 0;
    int32_t w = 0, h = 0;
    v->work1 = d->targetType == QX_OUT_DISPLAY ? qxOutputBitmap(d, &w, &h) : nullptr;
    v->alphaIntensity = qxAlphaIntensity;
    v->maskMode = qxMaskDrawMode;
    if (qxOutputState *s = qxOutputOf(d, 0)) {
        if (d->targetType == QX_OUT_MASK || d->targetType == QX_OUT_BRUSH) v->targetMask = s->mask;
        if (d->targetType == QX_OUT_ALPHA || d->targetType == QX_OUT_BRUSH) v->targetAlpha = s->alpha;
    }
    auto *clip = static_cast<qxClipRegion *>(clipRegion ? clipRegion : d->clipRegion);
    if (clip) {
        v->hasClip = 1;
        v->clip = {clip->x, clip->y, clip->width, clip->height};
        v->clipMask = static_cast<qxBitMap *>(clip->mask);
    }
    return 1;
}

void qxAddDirtyRect(qxDisplay *d, int32_t x, int32_t y, int32_t w, int32_t h)
{
    qxOutputState *s = qxOutputOf(d, 0);
    if (!s || !s->dirty || w < 1 || h < 1) return;
    if (s->dirtyCount >= s->dirtyCapacity) return;
    // A rectangle as large as the BGPic marks the list full: all is copied.
    if (d->bgpic && x < 1 && y < 1 && w >= d->bgpic->width && h >= d->bgpic->height) {
        s->dirtyCount = s->dirtyCapacity;
        return;
    }
    s->dirty[s->dirtyCount++] = {x, y, int32_t(std::min<int64_t>(int64_t(x) + w - 1, INT32_MAX)),
                                 int32_t(std::min<int64_t>(int64_t(y) + h - 1, INT32_MAX))};
}

uint32_t qxMergeRects(qxRectI *r, uint32_t n)
{
    auto touch = [](const qxRectI &a, const qxRectI &b) {
        return int64_t(a.left) <= int64_t(b.right) + 1 && int64_t(b.left) <= int64_t(a.right) + 1 &&
               int64_t(a.top) <= int64_t(b.bottom) + 1 && int64_t(b.top) <= int64_t(a.bottom) + 1;
    };
    bool merged = true;
    while (merged) {
        merged = false;
        for (uint32_t i = 0; i < n; ++i) {
            if (r[i].left == 100000) continue;
            for (uint32_t j = i + 1; j < n; ++j) {
                if (r[j].left == 100000 || !touch(r[i], r[j])) continue;
                r[i] = {std::min(r[i].left, r[j].left), std::min(r[i].top, r[j].top),
                        std::max(r[i].right, r[j].right), std::max(r[i].bottom, r[j].bottom)};
                r[j].left = 100000;
                merged = true;
            }
        }
    }
    uint32_t k = 0;
    for (uint32_t i = 0; i < n; ++i)
        if (r[i].left != 100000) r[k++] = r[i];
    return k;
}

qxBitMap *qxDirectOutputBitmap(int32_t *w, int32_t *h)
{
    *w = *h = 0;
    qxDisplay *d = qxCurrentDisplay;
    if (!d || d->layersEnabled || d->clipRegion || d->doubleBuffer || qxSelectMode != QX_SELMODE_NORMAL) return nullptr;
    if (d->targetType != QX_OUT_DISPLAY && d->targetType != QX_OUT_BRUSH) return nullptr;
    qxOutputState *s = qxOutputOf(d, 0);
    if (d->targetType == QX_OUT_BRUSH && (!s || s->hardware || s->mask || s->alpha)) return nullptr;
    return qxOutputBitmap(d, w, h);
}

void qxDirectOutputDrawn(qxBitMap *bm, int32_t x, int32_t y, int32_t w, int32_t h)
{
    qxDisplay *d = qxCurrentDisplay;
    if (!d || w <= 0 || h <= 0) return;
    if (d->targetType != QX_OUT_DISPLAY) {
        if (qxOutputState *s = qxOutputOf(d, 0)) s->record.modified = 1;
        return;
    }
    if (windowOpen(d)) qxPutToWindow(d, bm, x, y, w, h);
}

int qxBlitToOutput(lua_State *L, qxBitMap *bm, int32_t sx, int32_t sy, int32_t x, int32_t y, int32_t w, int32_t h,
                   int32_t ow, int32_t oh, qxBitMap *mask, qxBitMap *alpha)
{
    qxDisplay *d = qxCurrentDisplay;
    if (!d) return ERR_WRONGUSAGE;
    // Drawing into a selected BGPic makes layers; there are no pixels here.
    if (d->targetType == QX_OUT_BGPIC) return ERR_SELECTBG;
    int32_t tw = 0, th = 0;
    qxBitMap *target = qxOutputBitmap(d, &tw, &th);
    const bool onDisplay = d->targetType == QX_OUT_DISPLAY;
    if (!target && (onDisplay || d->targetType == QX_OUT_BRUSH)) return ERR_WRONGUSAGE;
    // The visible part decides what the dirty list and the window get.
    int32_t cx = x, cy = y, cw = w, ch = h;
    qxClipRect bounds{0, 0, tw, th};
    if (!qxClipRectToBounds(&bounds, &cx, &cy, &cw, &ch, nullptr, nullptr)) return 0;
    qxOutputState *s = qxOutputOf(d, 0);
    if (d->doubleBuffer && d->targetType == QX_OUT_BRUSH && s && target == s->backBuffer &&
        !(d->doubleBufferState & QX_DBSTATE_ADAPTER))
        qxAddDirtyRect(d, cx, cy, cw, ch);
    // Composed in the work bitmap without showing (0x20): the window gets
    // the rectangle once, through its road.
    SafeBlt(L, bm, sx, sy, target, x, y, w, h, ow, oh, tw, th, 0xAC, mask, alpha, nullptr);
    if (s && !onDisplay) s->record.modified = 1;
    if (onDisplay && windowOpen(d)) qxPutToWindow(d, target, cx, cy, cw, ch);
    return 0;
}
}
