// SafeBlt: a source with its mask or alpha channel onto the current
// display (or a given target), respecting the clip region, sprites and the
// output target's own mask and alpha channel.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapplanes.h"
#include "display/qx_display.h"
#include "display/qx_displaylibs.h"
#include "imaging/qx_blit.h"
#include "platform/qx_memory.h"

namespace {

enum : uint32_t {
    IGNORE_CLIP = 1, NO_SPRITES = 2, FIRST_WORK = 4, REDRAW_ONLY = 8, NO_DISPLAY_OK = 0x10, NO_SHOW = 0x20,
    FIRST_WORK_LAYERS = 0x40, DIRECT = 0x80, NO_CLIPPING = 0x100,
};
constexpr uint32_t kDisplayOutput = 21, kUnset = 0xFFFFFFFFu;

// The combined clip plane, kept between calls and grown when needed.
uint8_t *scratch;
size_t scratchSize;

uint8_t *scratchOf(size_t bytes)
{
    if (bytes > scratchSize) {
        size_t want = bytes < 240000 ? 240000 : bytes;
        auto *p = static_cast<uint8_t *>(qxAlloc(want, 0));
        if (!p) return nullptr;
        qxFree(scratch);
        scratch = p, scratchSize = want;
    }
    return scratch;
}

// The source's mask (or alpha channel) cut by the clip region's mask, in a
// plane of the source's size; NULL when it cannot be made.
qxBitMap *combineClip(const qxSafeBltView &v, qxBitMap *source, qxBitMap *mask, qxBitMap *alpha, int32_t sx,
                      int32_t sy, int32_t dx, int32_t dy, int32_t w, int32_t h)
{
    const bool isAlpha = alpha != nullptr;
    uint32_t sw = source->width, sh = source->height;
    uint32_t row = isAlpha ? qxAlphaRowBytes(sw) : qxMaskRowBytes(sw);
    size_t bytes;
    if (!qxMulSize(row, sh, &bytes)) return nullptr;
    qxBitMap *out;
    if (qxAdapterFlags() & QX_ADAPTER_OWNSBITMAPS) {
        out = isAlpha ? qxAllocAlphaBitMap(sw, sh, 1, nullptr, 0) : qxAllocMaskBitMap(nullptr, sw, sh, 1, nullptr, 0);
    } else {
        uint8_t *buf = scratchOf(bytes);
        if (!buf) return nullptr;
        std::memset(buf, 0, bytes);
        out = isAlpha ? qxAllocAlphaBitMap(sw, sh, 0, buf, row) : qxAllocMaskBitMap(nullptr, sw, sh, 0, buf, row);
    }
    if (!out) return nullptr;
    qxPlane c = qxPlaneOf(v.clipMask), m = qxPlaneOf(mask), a = qxPlaneOf(alpha), o = qxPlaneOf(out);
    if (c.bytes && o.bytes) {
        qxPlaneRef mr{m.bytes, sx, sy, m.bytesPerRow}, ar{a.bytes, sx, sy, a.bytesPerRow}, orf{o.bytes, sx, sy, o.bytesPerRow};
        // Stay inside the source planes.
        int32_t cw = w, ch = h, csx = sx, csy = sy, cdx = dx, cdy = dy;
        int32_t pw = o.width, ph = o.height;
        if (m.bytes) pw = std::min(pw, m.width), ph = std::min(ph, m.height);
        if (a.bytes) pw = std::min(pw, a.width), ph = std::min(ph, a.height);
        if (qxClipBltRect(nullptr, &csx, &csy, &cdx, &cdy, &cw, &ch, pw, ph, INT32_MAX, INT32_MAX, 0)) {
            mr.x = ar.x = orf.x = csx, mr.y = ar.y = orf.y = csy;
            // The clip mask sits at the region's corner on the target.
            qxSafeBltKernel(c.bytes, c.bytesPerRow, v.clip.x - cdx + csx, v.clip.y - cdy + csy, c.width, c.height,
                            m.bytes ? &mr : nullptr, a.bytes ? &ar : nullptr, &orf, cw, ch);
        }
    }
    return out;
}

void freePlane(qxBitMap *p, bool alpha)
{
    if (alpha) qxFreeAlphaBitMap(p);
    else qxFreeMaskBitMap(p);
}

} // namespace

namespace {

void safeBlt(lua_State *L, qxBitMap *source, int32_t sx, int32_t sy, qxBitMap *target, int32_t dx, int32_t dy,
             int32_t w, int32_t h, int32_t sourceWidth, int32_t sourceHeight, int32_t targetWidth,
             int32_t targetHeight, uint32_t flags, qxBitMap *mask, qxBitMap *alpha, void *clipRegion);

} // namespace

extern "C" void SafeBlt(lua_State *L, qxBitMap *source, int32_t sx, int32_t sy, qxBitMap *target, int32_t dx,
                        int32_t dy, int32_t w, int32_t h, int32_t sourceWidth, int32_t sourceHeight,
                        int32_t targetWidth, int32_t targetHeight, uint32_t flags, qxBitMap *mask, qxBitMap *alpha,
                        void *clipRegion)
{
    // 1. Before any display exists a blit into a given target may borrow
    // the graphics library's spare record for the call.
    qxDisplay *spare = nullptr;
    if (!qxCurrentDisplay && target && (flags & NO_DISPLAY_OK) && (spare = qxGraphicsSpareDisplay())) {
        qxCurrentDisplay = spare;
        flags |= NO_SPRITES;
    }
    safeBlt(L, source, sx, sy, target, dx, dy, w, h, sourceWidth, sourceHeight, targetWidth, targetHeight, flags,
            mask, alpha, clipRegion);
    if (spare && qxCurrentDisplay == spare)
        qxCurrentDisplay = nullptr;
}

namespace {

void safeBlt(lua_State *L, qxBitMap *source, int32_t sx, int32_t sy, qxBitMap *target, int32_t dx, int32_t dy,
             int32_t w, int32_t h, int32_t sourceWidth, int32_t sourceHeight, int32_t targetWidth,
             int32_t targetHeight, uint32_t flags, qxBitMap *mask, qxBitMap *alpha, void *clipRegion)
{
    const qxBitMapDisplayHooks &hk = qxBitMapDisplay;
    qxSafeBltView v{};
    if (!hk.currentView || !hk.currentView(target, clipRegion, &v)) {
        std::fputs("ERROR! SAFEBLT() CALLED WITH DISPLAY=NULL!\n", stdout);
        std::fflush(stdout);
        return;
    }
    if (!source || sx < 0 || sy < 0) return; // 2
    // 3, 4.
    if (!(flags & NO_CLIPPING)) {
        bool useClip = v.hasClip && !(flags & IGNORE_CLIP);
        qxClipBltRect(useClip ? &v.clip : nullptr, &sx, &sy, &dx, &dy, &w, &h, sourceWidth, sourceHeight, targetWidth,
                      targetHeight, useClip);
    }
    if (w < 1 || h < 1) return;
    // 5. Straight into the window in double-buffer state.
    // The target (the back buffer, no sprites there) takes the pixels as
    // well, or EndDoubleBuffer would leave the display without them.
    if ((flags & DIRECT) && v.doubleBufferShown) {
        qxBltMaskedToDisplay(source, sx, sy, v.display, dx, dy, w, h, 1, flags & NO_CLIPPING ? nullptr : mask);
        if (!target)
            return;
        flags |= NO_SPRITES;
    }
    // 6. Sprites stay above the new pixels. A display keeping its sprites'
    // background apart (work2 set) gets every first-work drawing there too,
    // or a sprite moving over it later would uncover the old pixels.
    if (!(flags & NO_SPRITES) && hk.redraw && v.work2 &&
        ((flags & FIRST_WORK) || (hk.spriteOverlap && hk.spriteOverlap(dx, dy, w, h)))) {
        uint32_t inner = flags | NO_SPRITES | NO_SHOW;
        if (!(flags & FIRST_WORK)) {
            hk.redraw(L, v.work2, dx, dy, w, h, 0);
            SafeBlt(L, source, sx, sy, v.work2, dx, dy, w, h, sourceWidth, sourceHeight, int32_t(v.work2->width),
                    int32_t(v.work2->height), inner | NO_CLIPPING, mask, alpha, clipRegion);
        } else if (v.work1) {
            SafeBlt(L, source, sx, sy, v.work1, dx, dy, w, h, sourceWidth, sourceHeight, int32_t(v.work1->width),
                    int32_t(v.work1->height), inner | NO_CLIPPING, mask, alpha, clipRegion);
        }
        hk.redraw(L, v.work2, dx, dy, w, h, 1);
        // A target that is the second work bitmap already holds the result.
        if (!(flags & NO_SHOW) && target != v.work2)
            SafeBlt(L, v.work2, dx, dy, target, dx, dy, w, h, int32_t(v.work2->width), int32_t(v.work2->height),
                    targetWidth, targetHeight, IGNORE_CLIP | NO_SPRITES, nullptr, nullptr, clipRegion);
        return;
    }
    // 7. The clip region's mask cuts the source's mask or alpha channel.
    qxBitMap *combined = nullptr;
    const bool combinedIsAlpha = alpha != nullptr;
    if (v.hasClip && v.clipMask && !(flags & IGNORE_CLIP)) {
        combined = combineClip(v, source, mask, alpha, sx, sy, dx, dy, w, h);
        if (!combined) return;
        if (alpha) alpha = combined;
        else mask = combined;
    }
    struct FreeCombined {
        qxBitMap *p;
        bool alpha;
        ~FreeCombined() { freePlane(p, alpha); }
    } freeCombined{combined, combinedIsAlpha};
    // 8. The drawing target.
    qxBitMap *T = target;
    bool show = false;
    if (!target && v.outputType == kDisplayOutput) {
        if (!v.layersOn || (flags & (FIRST_WORK | FIRST_WORK_LAYERS))) {
            T = v.work1;
            show = !(flags & NO_SHOW);
        } else if (flags & REDRAW_ONLY) {
            if (hk.redraw && v.work2) hk.redraw(L, v.work2, dx, dy, w, h, 1);
            if (v.work2) qxBltBitMapToDisplay(v.work2, dx, dy, v.display, dx, dy, w, h, 1);
            return;
        }
    }
    qxBitMap *M = v.targetMask, *A = v.targetAlpha;
    const bool intensitySet = v.alphaIntensity != kUnset;
    auto draw = [&](qxBitMap *into) {
        if (mask) {
            if (into) qxBltBitMapMasked(source, sx, sy, into, dx, dy, w, h, mask);
        } else if (alpha) {
            if (!into) return;
            if (!A) qxBltBitMapThroughAlpha(source, sx, sy, into, dx, dy, w, h, alpha);
            else if (v.selectBlendMode == 0) qxBltBitMapDirect(source, sx, sy, into, dx, dy, w, h);
            else qxBltLockedBitMaps(source, sx, sy, into, dx, dy, w, h, alpha, A, v.selectBlendMode);
        } else if (!target && v.outputType == kDisplayOutput && (source == v.work1 || !into)) {
            qxBltBitMapToDisplay(source, sx, sy, v.display, dx, dy, w, h, 1);
        } else if (into) {
            qxBltBitMapDirect(source, sx, sy, into, dx, dy, w, h);
        }
    };
    // 9-11. Pixels, then the target's mask and alpha channel.
    draw(T);
    // A hardware brush selected as mask or alpha target names its video
    // bitmap there: the adapter updates that plane from the blit itself.
    qxBitMap *hardwarePlane = M && M->kind == QX_BITMAP_PIXELS   ? M
                              : A && A->kind == QX_BITMAP_PIXELS ? A
                                                                 : nullptr;
    if (hardwarePlane) {
        if (mask) qxBltBitMapMasked(source, sx, sy, hardwarePlane, dx, dy, w, h, mask);
        else if (alpha) qxBltBitMapThroughAlpha(source, sx, sy, hardwarePlane, dx, dy, w, h, alpha);
        else qxBltBitMapDirect(source, sx, sy, hardwarePlane, dx, dy, w, h);
    } else if (mask) {
        qxMaskCopyOp(mask, sx, sy, M, dx, dy, w, h, target ? 2 : v.maskMode, nullptr, 0);
        qxBltMask(mask, sx, sy, A, dx, dy, w, h, intensitySet && !target ? v.alphaIntensity : 255);
    } else if (alpha) {
        qxAlphaToMask(alpha, sx, sy, M, dx, dy, w, h, 2);
        static const int32_t modes[3] = {0, 1, 9};
        if (intensitySet && !target)
            qxBltClipped(alpha, sx, sy, A, dx, dy, w, h, 6, v.alphaIntensity);
        else
            qxBltClipped(alpha, sx, sy, A, dx, dy, w, h, modes[v.selectBlendMode >= 0 && v.selectBlendMode <= 2 ? v.selectBlendMode : 0], 0);
    } else {
        qxMaskRowOp(M, dx, dy, w, h, target ? 2 : v.maskMode);
        qxFillBitMapRect(A, dx, dy, w, h, !intensitySet || target ? 255 : v.alphaIntensity);
    }
    // 12. Auto scaling keeps the second work bitmap in step; it is shown.
    qxBitMap *shown = T;
    if (!(flags & NO_DISPLAY_OK) && v.autoScaled && T && T == v.work1 && v.work2) {
        draw(v.work2);
        shown = v.work2;
    }
    // 13.
    if (show && shown) qxBltBitMapToDisplay(shown, dx, dy, v.display, dx, dy, w, h, 1);
}
} // namespace
