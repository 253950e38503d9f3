// Locks and the three roads of a blit: the adapter's BltBitMap for adapter
// and video bitmaps, its drawing entry when declared, else our kernels.
#include <algorithm>

#include "core/errors/qx_errors.h"
#include "core/plugins/qx_pluginapi.h"
#include "core/plugins/qx_plugins.h"
#include "display/qx_bitmap.h"
#include "display/qx_bitmapplanes.h"
#include "imaging/qx_blit.h"
#include "platform/qx_displayrecord.h"

namespace {

bool owns() { return qxAdapterFlags() & QX_ADAPTER_OWNSBITMAPS; }

// The one source whose adapter blits carry a tag list (script thread only).
const qxBitMap *taggedSource;
const qxBitMapTag *sourceTags;

bool adapterVideo(qxBitMap *h) { return h && h->video && qxGetBitMapAttr(h, 22) == 0; }

uint32_t sourceVideoFlags(qxBitMap *src)
{
    if (!src || !src->video) return 0;
    return src->synced ? 1 : 9;
}

// The adapter road of a blit; false when the software road must run.
bool adapterBlit(qxBitMap *src, int32_t sx, int32_t sy, qxBitMap *dst, int32_t dx, int32_t dy, int32_t w,
                 int32_t h, uint32_t drawFlag, void *mask, void *alpha)
{
    uint32_t flags;
    if (adapterVideo(dst)) flags = 4;
    else if (qxDisplayAdapter && (qxAdapterInfo.drawFlags & drawFlag)) flags = 2;
    else return false;
    auto fn = reinterpret_cast<qxAdapterBltBitMapFn>(qxAdapterEntry(QX_EP_BltBitMap));
    if (!fn) return true;
    qxAdapterBlitRecord rec{};
    rec.sx = uint32_t(sx), rec.sy = uint32_t(sy), rec.dx = uint32_t(dx), rec.dy = uint32_t(dy);
    rec.width = uint32_t(w), rec.height = uint32_t(h);
    rec.mask = mask, rec.alpha = alpha;
    flags |= sourceVideoFlags(src);
    if (qxBitMapDisplay.selectTargetFlags) {
        uint32_t sel = qxBitMapDisplay.selectTargetFlags(dst, 0);
        flags |= sel & (drawFlag == QX_DRAW_BLIT ? 0x18u : 0x10u);
    }
    fn(src ? src->data : nullptr, dst ? dst->data : nullptr, &rec, flags, qxAdapterBlitTags(src));
    return true;
}

struct LockPair {
    qxBitMapLock src{}, dst{};
    bool ok = false;
    LockPair(qxBitMap *s, qxBitMap *d)
    {
        if (!qxLockBitMap(s, 1, &src)) return;
        if (!qxLockBitMap(d, 0, &dst)) {
            qxUnLockBitMap(&src);
            return;
        }
        ok = true;
    }
    ~LockPair()
    {
        if (ok) qxUnLockBitMap(&dst), qxUnLockBitMap(&src);
    }
};

bool badRect(int32_t w, int32_t h) { return w < 1 || h < 1; }

// Cuts a software blit to both locked bitmaps and to the source-side plane
// (mask or alpha, read at the source position) and the destination alpha.
bool clipLocked(const LockPair &l, const qxPlane *srcPlane, const qxPlane *dstPlane, int32_t &sx, int32_t &sy,
                int32_t &dx, int32_t &dy, int32_t &w, int32_t &h)
{
    int32_t sw = int32_t(l.src.width), sh = int32_t(l.src.height);
    int32_t tw = int32_t(l.dst.width), th = int32_t(l.dst.height);
    if (srcPlane) sw = std::min(sw, srcPlane->width), sh = std::min(sh, srcPlane->height);
    if (dstPlane) tw = std::min(tw, dstPlane->width), th = std::min(th, dstPlane->height);
    return l.src.bytesPerPixel == l.dst.bytesPerPixel &&
           qxClipBltRect(nullptr, &sx, &sy, &dx, &dy, &w, &h, sw, sh, tw, th, 0);
}

} // namespace

extern "C" {

void qxSetAdapterBlitTags(const qxBitMap *source, const qxBitMapTag *tags)
{
    taggedSource = tags ? source : nullptr;
    sourceTags = tags;
}

const qxBitMapTag *qxAdapterBlitTags(const qxBitMap *source)
{
    return source && source == taggedSource ? sourceTags : nullptr;
}

uint64_t qxLockBitMap(void *bitmap, uint32_t flags, qxBitMapLock *lock)
{
    if (!lock) return 0;
    *lock = {};
    if (!bitmap) return 0;
    const bool record = flags & 2;
    if (owns()) {
        auto fn = reinterpret_cast<qxAdapterLockBitMapFn>(qxAdapterEntry(QX_EP_LockBitMap));
        void *native = record ? bitmap : static_cast<qxBitMap *>(bitmap)->data;
        qxAdapterLockRecord rec{};
        uint64_t handle = fn ? fn(native, flags & 1, &rec, nullptr) : 0;
        if (!handle) return 0;
        lock->pixels = rec.pixels;
        lock->handle = handle;
        lock->pixelFormat = qxAdapterInfo.pixelFormat;
        lock->bytesPerPixel = qxBytesPerPixel(qxAdapterInfo.pixelFormat);
        lock->pixelsPerRow = rec.pitch;
        lock->width = rec.width, lock->height = rec.height;
        return handle;
    }
    // Every record we make starts with its kind.
    uint32_t kind = record ? *static_cast<const uint32_t *>(bitmap) : static_cast<qxBitMap *>(bitmap)->kind;
    void *data = record ? bitmap : static_cast<qxBitMap *>(bitmap)->data;
    if (!data) return 0;
    if (kind == QX_BITMAP_ALPHA || kind == QX_BITMAP_MASK) {
        auto *p = static_cast<qxBitMapPlane *>(data);
        lock->pixels = p->pixels;
        lock->pixelsPerRow = p->bytesPerRow;
        lock->handle = 1;
        lock->software = 1;
        if (record) {
            lock->width = p->width, lock->height = p->height, lock->bytesPerPixel = 1;
            lock->pixelFormat = kind == QX_BITMAP_ALPHA ? QX_PIXFMT_ALPHA8 : QX_PIXFMT_MASK1;
        }
        return 1;
    }
    if (!record && static_cast<qxBitMap *>(bitmap)->video) return 0;
    qxBitMapInfo info{};
    if (!qxGetBitMapInfo(static_cast<qxPlatformBitMap *>(data), &info)) return 0;
    lock->pixels = info.pixels;
    lock->handle = 1;
    lock->pixelFormat = info.pixelFormat;
    lock->bytesPerPixel = info.bytesPerPixel;
    lock->pixelsPerRow = info.rowPixels;
    lock->width = info.width, lock->height = info.height;
    return 1;
}

void qxUnLockBitMap(qxBitMapLock *lock)
{
    if (!lock || !lock->handle) return;
    if (owns()) {
        auto fn = reinterpret_cast<qxAdapterUnLockBitMapFn>(qxAdapterEntry(QX_EP_UnLockBitMap));
        if (fn) fn(lock->handle);
    }
    lock->handle = 0;
}

void qxBltSimplePixels(const void *s, int32_t sx, int32_t sy, int32_t sp, void *d, int32_t dx, int32_t dy,
                       int32_t dp, int32_t w, int32_t h, uint32_t bpp)
{
    qxBlitRecord r{s, d, sx, sy, dx, dy, w, h, sp, dp, nullptr, 0, 0};
    if (bpp == 4) qxBlitConvert32(&r);
    else if (bpp == 2) qxBlitConvert16(&r);
}

void qxBltMaskedPixels(const void *s, int32_t sx, int32_t sy, int32_t sp, void *d, int32_t dx, int32_t dy,
                       int32_t dp, int32_t w, int32_t h, const uint8_t *mask, int32_t maskRow, uint32_t bpp)
{
    qxBlitRecord r{s, d, sx, sy, dx, dy, w, h, sp, dp, mask, maskRow, 0};
    if (bpp == 4) qxBlitMasked32(&r);
    else if (bpp == 2) qxBlitMasked16(&r);
}

void qxBltPixelsByMode(const void *s, int32_t sx, int32_t sy, int32_t sp, void *d, int32_t dx, int32_t dy,
                       int32_t dp, int32_t w, int32_t h, const uint8_t *alpha, int32_t alphaRow,
                       const uint8_t *destAlpha, int32_t destAlphaRow, uint32_t bpp, uint32_t layout,
                       int32_t mode)
{
    if ((bpp != 2 && bpp != 4) || mode < 0 || mode > 3) return;
    qxBlendKernel k = qxBlendKernels[bpp == 4][mode];
    if (!k) return;
    qxBlendRecord r{s, sx, sy, sp, d, dx, dy, dp, w, h, alpha, sx, sy, alphaRow, destAlpha, destAlphaRow, layout};
    k(&r);
}

void qxBltBitMapDirect(qxBitMap *src, int32_t sx, int32_t sy, qxBitMap *dst, int32_t dx, int32_t dy, int32_t w,
                       int32_t h)
{
    if (!src || !dst || badRect(w, h)) return;
    if (adapterBlit(src, sx, sy, dst, dx, dy, w, h, QX_DRAW_BLIT, nullptr, nullptr)) return;
    LockPair l(src, dst);
    if (!l.ok || !clipLocked(l, nullptr, nullptr, sx, sy, dx, dy, w, h)) return;
    qxBltSimplePixels(l.src.pixels, sx, sy, int32_t(l.src.pixelsPerRow), l.dst.pixels, dx, dy,
                      int32_t(l.dst.pixelsPerRow), w, h, l.dst.bytesPerPixel);
}

void qxBltBitMapMasked(qxBitMap *src, int32_t sx, int32_t sy, qxBitMap *dst, int32_t dx, int32_t dy, int32_t w,
                       int32_t h, qxBitMap *mask)
{
    if (!src || !dst || !mask || badRect(w, h)) return;
    if (adapterBlit(src, sx, sy, dst, dx, dy, w, h, QX_DRAW_MASKED, mask->data, nullptr)) return;
    qxPlane m = qxPlaneOf(mask);
    if (!m.bytes) return;
    LockPair l(src, dst);
    if (!l.ok || !clipLocked(l, &m, nullptr, sx, sy, dx, dy, w, h)) return;
    qxBltMaskedPixels(l.src.pixels, sx, sy, int32_t(l.src.pixelsPerRow), l.dst.pixels, dx, dy,
                      int32_t(l.dst.pixelsPerRow), w, h, m.bytes, m.bytesPerRow, l.dst.bytesPerPixel);
}

void qxBltBitMapThroughAlpha(qxBitMap *src, int32_t sx, int32_t sy, qxBitMap *dst, int32_t dx, int32_t dy,
                             int32_t w, int32_t h, qxBitMap *alpha)
{
    if (!src || !dst || !alpha || badRect(w, h)) return;
    if (adapterBlit(src, sx, sy, dst, dx, dy, w, h, QX_DRAW_ALPHA, nullptr, alpha->data)) return;
    qxBltLockedBitMaps(src, sx, sy, dst, dx, dy, w, h, alpha, nullptr, 0);
}

void qxBltLockedBitMaps(qxBitMap *src, int32_t sx, int32_t sy, qxBitMap *dst, int32_t dx, int32_t dy, int32_t w,
                        int32_t h, qxBitMap *srcAlpha, qxBitMap *dstAlpha, int32_t mode)
{
    if (!src || !dst || badRect(w, h)) return;
    qxPlane a = qxPlaneOf(srcAlpha), da = qxPlaneOf(dstAlpha);
    // Modes 0 and 1 read the source plane, mode 2 both planes.
    if (!a.bytes || (mode == 2 && !da.bytes)) return;
    LockPair l(src, dst);
    if (!l.ok || !clipLocked(l, &a, mode == 2 ? &da : nullptr, sx, sy, dx, dy, w, h)) return;
    qxBltPixelsByMode(l.src.pixels, sx, sy, int32_t(l.src.pixelsPerRow), l.dst.pixels, dx, dy,
                      int32_t(l.dst.pixelsPerRow), w, h, a.bytes, a.bytesPerRow, da.bytes, da.bytesPerRow,
                      l.dst.bytesPerPixel, l.dst.pixelFormat, mode);
}

int qxClipBltRect(const qxClipRect *clip, int32_t *sx, int32_t *sy, int32_t *dx, int32_t *dy, int32_t *w,
                  int32_t *h, int32_t sourceWidth, int32_t sourceHeight, int32_t targetWidth, int32_t targetHeight,
                  int useClip)
{
    int64_t left = 0, top = 0, right = targetWidth, bottom = targetHeight;
    if (clip && useClip) {
        left = clip->x, top = clip->y;
        right = int64_t(clip->x) + clip->width, bottom = int64_t(clip->y) + clip->height;
        if (right > targetWidth) right = targetWidth;
        if (bottom > targetHeight) bottom = targetHeight;
        if (left < 0) left = 0;
        if (top < 0) top = 0;
    }
    int64_t SX = *sx, SY = *sy, DX = *dx, DY = *dy, W = *w, H = *h;
    if (DX < left) W -= left - DX, SX += left - DX, DX = left;
    if (DY < top) H -= top - DY, SY += top - DY, DY = top;
    // A negative source position would read before the plane.
    if (SX < 0) W += SX, DX -= SX, SX = 0;
    if (SY < 0) H += SY, DY -= SY, SY = 0;
    if (SX + W > sourceWidth) W = sourceWidth - SX;
    if (DX + W > right) W = right - DX;
    if (SY + H > sourceHeight) H = sourceHeight - SY;
    if (DY + H > bottom) H = bottom - DY;
    if (W < 0) W = 0;
    if (H < 0) H = 0;
    *sx = int32_t(SX), *sy = int32_t(SY), *dx = int32_t(DX), *dy = int32_t(DY), *w = int32_t(W), *h = int32_t(H);
    return W > 0 && H > 0;
}

int qxClipRectToBounds(const qxClipRect *clip, int32_t *x, int32_t *y, int32_t *w, int32_t *h, int32_t *moveX,
                       int32_t *moveY)
{
    int64_t X = *x, Y = *y, W = *w, H = *h, mx = 0, my = 0;
    if (clip) {
        if (X < clip->x) mx = clip->x - X, W -= mx, X = clip->x;
        if (Y < clip->y) my = clip->y - Y, H -= my, Y = clip->y;
        int64_t r = int64_t(clip->x) + clip->width, b = int64_t(clip->y) + clip->height;
        if (X + W > r) W = r - X;
        if (Y + H > b) H = b - Y;
    }
    if (W < 0) W = 0;
    if (H < 0) H = 0;
    *x = int32_t(X), *y = int32_t(Y), *w = int32_t(W), *h = int32_t(H);
    if (moveX) *moveX = int32_t(mx);
    if (moveY) *moveY = int32_t(my);
    return W > 0 && H > 0;
}

int qxRunKernel(qxBitMap *bitmap, uint32_t lockFlags, const qxBitMapLock *given, qxLockedKernel kernel32,
                qxLockedKernel kernel16, void *argument)
{
    qxBitMapLock own;
    const qxBitMapLock *l = given;
    if (!l) {
        if (!qxLockBitMap(bitmap, lockFlags, &own)) return ERR_LOCKBMAP;
        l = &own;
    }
    if (l->bytesPerPixel == 4 && kernel32) kernel32(l, argument);
    else if (l->bytesPerPixel == 2 && kernel16) kernel16(l, argument);
    if (!given) qxUnLockBitMap(&own);
    return 0;
}

void qxBltToScreen(lua_State *L, qxBitMap *bitmap, int32_t sx, int32_t sy, void *display, int32_t dx, int32_t dy,
                   int32_t w, int32_t h)
{
    if (qxBitMapDisplay.bltToScreen) qxBitMapDisplay.bltToScreen(L, bitmap, sx, sy, display, dx, dy, w, h);
}

void qxBltMaskedToDisplay(qxBitMap *bitmap, int32_t sx, int32_t sy, void *display, int32_t dx, int32_t dy,
                          int32_t w, int32_t h, uint32_t flags, qxBitMap *mask)
{
    // EndRefresh shows the whole display at once.
    if (display && static_cast<qxDisplay *>(display)->refreshMode && !(flags & QX_BLT_FORCE)) return;
    if (qxBitMapDisplay.bltToDisplay)
        qxBitMapDisplay.bltToDisplay(bitmap, sx, sy, display, dx, dy, w, h, flags, mask);
}

void qxBltBitMapToDisplay(qxBitMap *bitmap, int32_t sx, int32_t sy, void *display, int32_t dx, int32_t dy,
                          int32_t w, int32_t h, uint32_t flags)
{
    qxBltMaskedToDisplay(bitmap, sx, sy, display, dx, dy, w, h, flags, nullptr);
}
}
