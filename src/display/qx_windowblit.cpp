// The window blit (software scaling into a cached bitmap, the adapter's
// BltBitMap or the X11 back-end, then the satellites) and the video frames
// that other threads queue onto displays.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "core/plugins/qx_plugins.h"
#include "display/qx_adapter.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapscale.h"
#include "display/qx_satellite.h"
#include "platform/qx_errcodes.h"
#include "platform/x11/x11_display.h"

qxDisplayVideoHooks qxDisplayVideo;

namespace {

bool adapter() { return qxDisplayAdapter != nullptr; }

bool open(const qxDisplay *d) { return d->state != QX_DISPSTATE_CLOSED; }

// The display's scratch for a part of a scaled picture (cw x ch). The
// part's rows lie close together: a scratch much wider than the part would
// spread a small change over the whole picture's rows.
qxBitMap *scaledScratch(qxDisplay *d, const qxClipRect &part, int32_t cw, int32_t ch)
{
    qxBitMap *&scratch = d->scaledBitMap;
    const uint32_t pw = uint32_t(part.width), ph = uint32_t(part.height);
    if (scratch && scratch->width >= pw && scratch->width <= pw + 64 && scratch->height >= ph)
        return scratch;
    qxFreeBitMap(scratch);
    scratch = qxAllocBitMap(std::min(pw + 32, uint32_t(cw)), std::min(ph + 32, uint32_t(ch)), 0, nullptr);
    return scratch;
}

qxDisplay *nextOf(const qxDisplay *d) { return static_cast<qxDisplay *>(d->header.next); }

} // namespace

extern "C" {

int qxDisplayPictureScale(const qxDisplay *d, int32_t *wholeW, int32_t *wholeH, int32_t *scaledW, int32_t *scaledH)
{
    const qxBGPic *b = d ? d->bgpic : nullptr;
    if (!b || b->width < 1 || b->height < 1 || !d->scaledWidth || !d->scaledHeight)
        return 0;
    int32_t sw = 0, sh = 0;
    if (d->autoScale && !d->layerScale)
        sw = int32_t(d->scaledWidth), sh = int32_t(d->scaledHeight);
    else if (d->layerScale && d->layersEnabled && b->curBitmap && b->curBitmap != b->bitmap)
        sw = b->curWidth, sh = b->curHeight; // the picture is composed at this size
    if (sw < 1 || sh < 1 || (sw == b->width && sh == b->height))
        return 0;
    *wholeW = b->width, *wholeH = b->height, *scaledW = sw, *scaledH = sh;
    return 1;
}

int qxDisplayRectInWindow(const qxDisplay *d, int32_t x, int32_t y, int32_t w, int32_t h, qxClipRect *out)
{
    int32_t bw, bh, sw, sh;
    if (!qxDisplayPictureScale(d, &bw, &bh, &sw, &sh)) {
        *out = {x, y, w, h};
        return w > 0 && h > 0;
    }
    return qxScaledRectOf(bw, bh, sw, sh, (d->flags & QX_DISP_SMOOTHSCALE) ? 1 : 0, x, y, w, h, out);
}

// The window blit.
int qxBltToWindow(qxBitMap *src, int32_t sx, int32_t sy, qxDisplay *d, int32_t dx, int32_t dy, int32_t w,
                  int32_t h, int32_t scaledW, int32_t scaledH, uint32_t flags, qxBitMap *mask, qxBitMap *alpha,
                  const qxClipRect *clip)
{
    if (!src || !d || w < 1 || h < 1)
        return 0;
    int32_t pieceW = 0, pieceH = 0;
    if ((flags & QX_WBLT_PIECE) && !(d->flags & QX_DISP_SMOOTHSCALE) &&
        qxDisplayPictureScale(d, &pieceW, &pieceH, &scaledW, &scaledH)) {
        // Only the part of the whole scaled picture that the piece covers.
        qxClipRect part;
        if (!qxScaledRectOf(pieceW, pieceH, scaledW, scaledH, 0, dx, dy, w, h, &part))
            return 0;
        qxBitMap *scaled = scaledScratch(d, part, scaledW, scaledH);
        if (!scaled || qxScalePixelsPiece(src, dx - sx, dy - sy, pieceW, pieceH, scaled, scaledW, scaledH, &part))
            return 0;
        return qxBltToWindow(scaled, 0, 0, d, part.x, part.y, part.width, part.height, 0, 0,
                             (flags & ~uint32_t(QX_WBLT_PIECE)) | QX_WBLT_SCALED, nullptr, nullptr, clip);
    }
    if (flags & QX_WBLT_PIECE) {
        // Smooth or unscaled: the piece at its rectangle's scale of its own.
        qxClipRect part;
        if (!qxDisplayRectInWindow(d, dx, dy, w, h, &part))
            return 0;
        const bool same = part.width == w && part.height == h;
        return qxBltToWindow(src, sx, sy, d, part.x, part.y, w, h, same ? 0 : part.width, same ? 0 : part.height,
                             flags & ~uint32_t(QX_WBLT_PIECE), mask, alpha, clip);
    }
    const bool tell = d->satellites && !(flags & QX_WBLT_NOSATELLITES);
    bool allScaled = tell;
    for (qxSatellite *s = tell ? d->satellites : nullptr; s; s = s->next)
        allScaled &= !s->useSource;
    const bool whole = flags & QX_WBLT_WHOLESCALE;
    const bool scaling = scaledW > 0 && scaledH > 0 && !(flags & QX_WBLT_X11) &&
                         (whole ? scaledW != int32_t(src->width) || scaledH != int32_t(src->height)
                                : scaledW != w || scaledH != h);
    // The whole source at the blit's scale, and where the rectangle's corner
    // lands in the window.
    const double fx = !scaling ? 1.0 : whole ? double(scaledW) / src->width : double(scaledW) / w;
    const double fy = !scaling ? 1.0 : whole ? double(scaledH) / src->height : double(scaledH) / h;
    const int32_t cw = whole ? scaledW : int32_t(src->width * fx + 0.5);
    const int32_t ch = whole ? scaledH : int32_t(src->height * fy + 0.5);
    const uint32_t smooth = (d->flags & QX_DISP_SMOOTHSCALE) ? 1 : 0;
    qxBitMap *shown = src;
    int32_t bx = sx, by = sy, bw = w, bh = h, ox = dx, oy = dy;
    int32_t adapterW = scaledW, adapterH = scaledH;
    if (scaling && whole) {
        ox = int32_t(std::lround(dx * fx)), oy = int32_t(std::lround(dy * fy));
        adapterW = int32_t(std::lround((dx + w) * fx)) - ox, adapterH = int32_t(std::lround((dy + h) * fy)) - oy;
    }
    uint32_t adapterFlags = 0;
    if (scaling && !(adapter() && (qxAdapterFlags() & QX_ADAPTER_SCALES) && !allScaled)) {
        // Only the part of the scaled picture that the rectangle reaches is
        // made, exactly as the whole picture scaled would show it.
        if (cw < 1 || ch < 1)
            return 0;
        qxClipRect part;
        if (!qxScaledRectOf(int32_t(src->width), int32_t(src->height), cw, ch, smooth, sx, sy, w, h, &part))
            return 0;
        qxBitMap *scratch = scaledScratch(d, part, cw, ch);
        if (!scratch)
            return 0; // the blit is dropped
        if (qxScalePixelsPart(src, scratch, cw, ch, smooth, &part))
            return 0;
        shown = scratch;
        ox = whole ? part.x + int32_t(std::lround((dx - sx) * fx)) : dx + part.x - int32_t(sx * fx);
        oy = whole ? part.y + int32_t(std::lround((dy - sy) * fy)) : dy + part.y - int32_t(sy * fy);
        bx = 0, by = 0, bw = part.width, bh = part.height;
        flags |= QX_WBLT_SCALED;
        adapterFlags |= 32;
    }
    int r = 0;
    if (adapter() && !(flags & QX_WBLT_X11)) {
        auto f = reinterpret_cast<qxAdapterBltBitMapFn>(qxAdapterEntry(QX_EP_BltBitMap));
        if (f && qxAdapterDrawable(d)) {
            qxAdapterBlitRecord rec{};
            rec.sx = uint32_t(bx), rec.sy = uint32_t(by), rec.dx = uint32_t(ox), rec.dy = uint32_t(oy);
            rec.width = uint32_t(bw), rec.height = uint32_t(bh);
            const bool adapterScales = scaling && shown == src;
            rec.scaledWidth = uint32_t(adapterScales ? adapterW : bw);
            rec.scaledHeight = uint32_t(adapterScales ? adapterH : bh);
            rec.smooth = (d->flags & QX_DISP_SMOOTHSCALE) ? 1 : 0;
            rec.mask = mask ? mask->data : nullptr;
            rec.alpha = alpha ? alpha->data : nullptr;
            rec.clipRects = clip;
            rec.clipCount = clip ? 1 : 0;
            rec.clipX = clip ? 0 : -1;
            rec.clipY = clip ? 0 : -1;
            if (qxGetBitMapAttr(shown, 18))
                adapterFlags |= 1;
            r = f(reinterpret_cast<void *>(uintptr_t(qxGetBitMapAttr(shown, 20))), d->window, &rec, adapterFlags,
                  qxAdapterBlitTags(shown));
        }
    } else if (open(d) && !d->hardwareDoubleBuffer) {
        const uint32_t wflags = (flags & QX_WBLT_VIDEOFRAME) ? 32 : 0;
        // A plain bitmap not yet written is shown by a fill on the server.
        uint32_t plain = 0;
        r = qxBitMapPlainColour(shown, &plain)
                ? x11BltPlain(plain, shown->width, shown->height, int(qxGetBitMapAttr(shown, 21)), bx, by, d, ox, oy,
                              bw, bh, wflags)
                : -1;
        if (r < 0) {
            qxBitMapLock lock;
            if (!qxLockBitMap(shown, 1, &lock))
                return ERR_LOCKBMAP;
            r = x11BltBitMap(lock.pixels, lock.pixelsPerRow * lock.bytesPerPixel, shown->width, shown->height,
                             int(lock.pixelFormat), bx, by, d, ox, oy, bw, bh, wflags);
            qxUnLockBitMap(&lock);
        }
    }
    if (!tell)
        return r;
    // Without an adapter, satellites are told where videos drawn straight
    // into the window are, so a redraw of the display leaves them alone.
    qxBitMap *videoMask = nullptr;
    if (!adapter() && !(flags & QX_WBLT_NOVIDEOMASK) && qxDisplayVideo.videoAreaMask)
        videoMask = qxDisplayVideo.videoAreaMask(src, d);
    if (videoMask && !videoMask->data) {
        qxFreeMaskBitMap(videoMask);
        videoMask = nullptr;
    }
    // The 72-byte block: scaled rectangle for most, the source for those
    // that asked for it.
    auto block = [&](qxBitMap *bm, int32_t x, int32_t y, int32_t tx, int32_t ty, int32_t bw2, int32_t bh2,
                     qxBitMapLock *lock, qxSatelliteBlit *b) -> bool {
        *b = {};
        if (qxAdapterFlags() & QX_ADAPTER_OWNSBITMAPS) {
            b->kind = 3;
            b->bitmap = bm->data;
        } else if (bm->video && adapter() && (qxAdapterFlags() & QX_ADAPTER_VIDEOBITMAPS)) {
            b->kind = 2;
            b->bitmap = bm->data;
        } else {
            if (!qxLockBitMap(bm, 1, lock))
                return false;
            b->kind = 1;
            b->bitmap = lock->pixels;
            b->bytesPerRow = lock->pixelsPerRow * lock->bytesPerPixel;
            b->pixelFormat = lock->pixelFormat;
        }
        b->width = bm->width;
        b->height = bm->height;
        if (videoMask) {
            auto *p = static_cast<qxBitMapPlane *>(videoMask->data);
            b->mask = p->pixels;
            b->maskBytesPerRow = p->bytesPerRow;
        } else if (mask && mask->kind == QX_BITMAP_MASK && bm == src) {
            auto *p = static_cast<qxBitMapPlane *>(mask->data);
            b->mask = p ? p->pixels : nullptr;
            b->maskBytesPerRow = p ? p->bytesPerRow : 0;
        }
        b->srcX = x, b->srcY = y, b->dstX = tx, b->dstY = ty, b->blitWidth = bw2, b->blitHeight = bh2;
        return true;
    };
    qxBitMapLock l1{}, l2{};
    qxSatelliteBlit scaled{}, source{};
    const bool haveScaled = block(shown, bx, by, ox, oy, bw, bh, &l1, &scaled);
    const bool haveSource = shown == src ? haveScaled : block(src, sx, sy, dx, dy, w, h, &l2, &source);
    if (haveScaled && haveSource)
        qxNotifySatellitesSplit(d, QX_SATOP_BLIT, &scaled, shown == src ? &scaled : &source);
    if (haveScaled && scaled.kind == 1)
        qxUnLockBitMap(&l1);
    if (shown != src && haveSource && source.kind == 1)
        qxUnLockBitMap(&l2);
    qxFreeMaskBitMap(videoMask);
    return r;
}

qxBitMap *qxAdapterAllocVideoBitMap(uint32_t width, uint32_t height, uint32_t flags, uint32_t *hasMask,
                                    const qxVideoBitMapSource *src)
{
    if (hasMask)
        *hasMask = 0;
    if (!src || !(qxAdapterFlags() & QX_ADAPTER_VIDEOBITMAPS))
        return nullptr;
    qxBitMapTag tags[8];
    int n = 0;
    uint32_t *copy = nullptr;
    bool withMask = false;
    if (src->window)
        tags[n++] = {6, uint64_t(uintptr_t(src->window))};
    uint64_t pixels = uint64_t(uintptr_t(src->argb));
    if (!src->argb && src->bitmap) {
        // The adapter's own bitmaps (video ones too) go by handle.
        if ((qxAdapterFlags() & QX_ADAPTER_OWNSBITMAPS) || src->bitmap->video) {
            pixels = uint64_t(uintptr_t(src->bitmap->data));
            flags |= 2;
        } else {
            copy = qxBitMapToARGBMasked(src->bitmap, 0, 0, int32_t(src->bitmap->width),
                                        int32_t(src->bitmap->height), src->mask, src->alpha, uint32_t(-1), 1, 2);
            if (!copy)
                return nullptr;
            pixels = uint64_t(uintptr_t(copy));
            withMask = src->mask || src->alpha;
            if (withMask)
                flags |= 1;
        }
    }
    tags[n++] = {1, pixels};
    if (src->scale == 1 || src->scale == 2) {
        tags[n++] = {2, src->a};
        tags[n++] = {3, src->b};
        if (src->scale == 2)
            tags[n++] = {5, uint64_t(uintptr_t(src->transform))};
        tags[n++] = {4, src->c};
    }
    tags[n] = {0, 0};
    qxBitMap *bm = qxAllocBitMap(width, height, flags | QX_BITMAP_VIDEO, tags);
    std::free(copy);
    if (bm && !bm->video) {
        qxFreeBitMap(bm);
        bm = nullptr;
    }
    if (bm && withMask && hasMask)
        *hasMask = 1;
    return bm;
}

// Pending video frames.
void qxQueueDisplayUpdate(qxDisplay *d, qxPendingUpdate *node)
{
    if (!d || !node)
        return;
    node->next = nullptr;
    auto *m = static_cast<qxMutex *>(d->pendingMutex);
    if (m)
        qxLockMutex(m);
    qxPendingUpdate **tail = &d->pendingUpdates;
    while (*tail)
        tail = &(*tail)->next;
    *tail = node;
    if (m)
        qxUnlockMutex(m);
}

void qxFreePendingUpdates(qxPendingUpdate *list)
{
    while (list) {
        qxPendingUpdate *next = list->next;
        qxFreeBitMap(list->bitmap);
        std::free(list);
        list = next;
    }
}

static int applyUpdate(qxDisplay *d, qxPendingUpdate *n)
{
    const qxDisplayVideoHooks &v = qxDisplayVideo;
    if (n->layerTransform && n->layerTransform[0]) {
        int r = v.rebuildLayer ? v.rebuildLayer(d, n->target, n->layerTransform) : 0;
        qxFreeBitMap(n->bitmap);
        return r;
    }
    const bool output = adapter() || (v.videoOutputActive && v.videoOutputActive());
    int taken = 0;
    if (output && v.replaceFrame)
        taken = v.replaceFrame(n->target, n->bitmap, n->x, n->y, n->width, n->height);
    // 2: the target showed the frame itself (a video layer redrawn with
    // the layers above it).
    if (taken == 2)
        return 0;
    if (output && d->autoScale && d->scaledWidth && d->scaledHeight && v.refreshRect) {
        v.refreshRect(d, n->target, n->x, n->y, n->width, n->height);
    } else {
        // Frames come in display pixels, clipped to the display; the blit
        // puts them where their rectangle lands in the window's picture.
        qxClipRect area{0, 0, d->bgpic ? d->bgpic->width : d->width, d->bgpic ? d->bgpic->height : d->height};
        int32_t x = n->x, y = n->y, w = n->width, h = n->height;
        if (qxClipRectToBounds(&area, &x, &y, &w, &h, nullptr, nullptr) && w > 0 && h > 0)
            // The frame's bitmap holds just its rectangle.
            qxBltToWindow(n->bitmap, x - n->x, y - n->y, d, x, y, w, h, 0, 0,
                          QX_WBLT_VIDEOFRAME | QX_WBLT_NOVIDEOMASK | QX_WBLT_PIECE, nullptr, nullptr, nullptr);
    }
    if (!taken)
        qxFreeBitMap(n->bitmap);
    return 0;
}

int qxFlushPendingDisplayUpdates(void)
{
    for (qxDisplay *d = qxDisplays; d; d = nextOf(d)) {
        auto *m = static_cast<qxMutex *>(d->pendingMutex);
        if (m)
            qxLockMutex(m);
        qxPendingUpdate *list = d->pendingUpdates;
        d->pendingUpdates = nullptr;
        if (m)
            qxUnlockMutex(m);
        while (list) {
            qxPendingUpdate *n = list;
            list = n->next;
            int r = applyUpdate(d, n);
            std::free(n);
            if (r) {
                // The nodes after the failing one are freed, not lost.
                qxFreePendingUpdates(list);
                return r;
            }
        }
    }
    return 0;
}
}
