// Allocation, release and queries of bitmap handles, and the picture cache.
#include "display/qx_bitmap.h"

#include <cstring>
#include <strings.h>

#include "core/errors/qx_errors.h"
#include "core/plugins/qx_pluginapi.h"
#include "core/plugins/qx_plugins.h"
#include "display/qx_display.h"
#include "platform/qx_memory.h"
#include "platform/x11/x11_display.h"

extern "C" {
qxAdapterDrawInfo qxAdapterInfo = {10, 0};
qxBitMapDisplayHooks qxBitMapDisplay = {};
qxPicSourceRefFn qxPicSourceRef = nullptr;

void *qxAdapterEntry(int slot)
{
    // The other calling convention is not run on this platform.
    if (!qxDisplayAdapter || qxDisplayAdapter->abiKind == 2) return nullptr;
    return qxDisplayAdapter->entry[slot];
}

uint32_t qxAdapterFlags(void) { return qxDisplayAdapter ? qxDisplayAdapter->displayAdapterFlags : 0; }

uint32_t qxAlphaRowBytes(uint32_t width) { return uint32_t((uint64_t(width) + 3) & ~uint64_t(3)); }
uint32_t qxMaskRowBytes(uint32_t width) { return uint32_t(((uint64_t(width) + 15) >> 3) & ~uint64_t(1)); }
}

namespace {

bool owns() { return qxAdapterFlags() & QX_ADAPTER_OWNSBITMAPS; }

qxBitMap *newHandle(uint32_t kind, uint32_t width, uint32_t height)
{
    auto *h = static_cast<qxBitMap *>(qxAlloc(sizeof(qxBitMap), 1));
    if (h) h->kind = kind, h->width = width, h->height = height;
    return h;
}

void *adapterAlloc(uint32_t kind, uint32_t w, uint32_t h, int clear, const qxBitMapTag *tags)
{
    auto fn = reinterpret_cast<qxAdapterAllocBitMapFn>(qxAdapterEntry(QX_EP_AllocBitMap));
    return fn ? fn(kind, w, h, clear != 0, tags) : nullptr;
}

void adapterFree(void *bitmap)
{
    auto fn = reinterpret_cast<qxAdapterFreeBitMapFn>(qxAdapterEntry(QX_EP_FreeBitMap));
    if (fn && bitmap) fn(bitmap);
}

uint64_t adapterAttr(void *bitmap, uint32_t attribute)
{
    auto fn = reinterpret_cast<qxAdapterGetBitMapAttrFn>(qxAdapterEntry(QX_EP_GetBitMapAttr));
    return fn ? fn(bitmap, attribute, nullptr) : 0;
}

// A plane record of an alpha channel or mask; NULL when a size overflows or
// memory runs out.
qxBitMapPlane *newPlane(uint32_t kind, uint32_t width, uint32_t height, int clear, void *buffer,
                        uint32_t bytesPerRow)
{
    auto *p = static_cast<qxBitMapPlane *>(qxAlloc(sizeof(qxBitMapPlane), 1));
    if (!p) return nullptr;
    p->kind = kind, p->width = width, p->height = height;
    if (buffer) {
        p->pixels = static_cast<uint8_t *>(buffer);
        p->bytesPerRow = bytesPerRow;
        p->borrowed = 1;
        return p;
    }
    p->bytesPerRow = kind == QX_BITMAP_ALPHA ? qxAlphaRowBytes(width) : qxMaskRowBytes(width);
    size_t total;
    // Planes beyond a terabyte are refused rather than asked of the allocator.
    if (!width || !height || !qxMulSize(p->bytesPerRow, height, &total) || total > (size_t(1) << 40) ||
        !(p->pixels = static_cast<uint8_t *>(qxAlloc(total, clear)))) {
        qxFree(p);
        return nullptr;
    }
    return p;
}

qxBitMap *allocPlane(uint32_t kind, qxBitMap *source, uint32_t width, uint32_t height, int clear, void *buffer,
                     uint32_t bytesPerRow)
{
    qxBitMap *h = newHandle(kind, width, height);
    if (!h) return nullptr;
    if (owns()) {
        qxBitMapTag tags[4] = {};
        int n = 0;
        if (source) tags[n++] = {1, uint64_t(uintptr_t(source->data))};
        if (buffer) tags[n++] = {2, uint64_t(uintptr_t(buffer))}, tags[n++] = {3, bytesPerRow};
        h->data = adapterAlloc(kind, width, height, clear, tags);
    } else {
        h->data = newPlane(kind, width, height, clear, buffer, bytesPerRow);
    }
    if (!h->data) {
        qxFree(h);
        return nullptr;
    }
    return h;
}

void freePlane(qxBitMap *h)
{
    if (!h) return;
    if (owns()) {
        adapterFree(h->data);
    } else if (auto *p = static_cast<qxBitMapPlane *>(h->data)) {
        if (!p->borrowed) qxFree(p->pixels);
        qxFree(p);
    }
    qxFree(h);
}

// Pixel pointer of an adapter bitmap, locked and unlocked at once.
uint64_t adapterPixelPointer(qxBitMap *h)
{
    qxBitMapLock lock{};
    if (!qxLockBitMap(h, 1, &lock)) return 0;
    uint64_t p = uint64_t(uintptr_t(lock.pixels));
    qxUnLockBitMap(&lock);
    return p;
}

// What the platform answers for the current display.
uint64_t platformAttr(uint32_t selector)
{
    return uint64_t(x11GetAttribute(qxCurrentDisplay, int(selector)));
}

struct CacheEntry {
    CacheEntry *next;
    char fileName[1024];
    uint32_t width, height, flags, extra;
    qxPicSource *source;
    qxBitMap *alpha;
};
CacheEntry *cacheHead = nullptr;

void sourceRef(qxPicSource *s, int delta)
{
    if (s && qxPicSourceRef) qxPicSourceRef(s, delta);
}

} // namespace

extern "C" {

qxBitMap *qxAllocBitMap(uint32_t width, uint32_t height, uint32_t flags, const qxBitMapTag *tags)
{
    qxBitMap *h = newHandle(QX_BITMAP_PIXELS, width, height);
    if (!h) return nullptr;
    uint32_t af = qxAdapterFlags();
    if ((flags & QX_BITMAP_VIDEO) && (af & QX_ADAPTER_VIDEOBITMAPS)) {
        auto fn = reinterpret_cast<qxAdapterAllocVideoBitMapFn>(qxAdapterEntry(QX_EP_AllocVideoBitMap));
        h->data = fn ? fn(width, height, flags, tags) : nullptr;
        h->video = 1;
    } else if (!(flags & QX_BITMAP_VIDEO) && (af & QX_ADAPTER_OWNSBITMAPS)) {
        h->data = adapterAlloc(0, width, height, 0, nullptr);
    } else {
        h->data = qxAllocBitMapBuffer(width, height, flags, nullptr, nullptr, nullptr);
        h->synced = flags & 1;
    }
    if (!h->data) {
        qxFree(h);
        return nullptr;
    }
    return h;
}

qxBitMap *qxAllocAlphaBitMap(uint32_t width, uint32_t height, int clear, void *buffer, uint32_t bytesPerRow)
{
    return allocPlane(QX_BITMAP_ALPHA, nullptr, width, height, clear, buffer, bytesPerRow);
}

qxBitMap *qxAllocMaskBitMap(qxBitMap *source, uint32_t width, uint32_t height, int clear, void *buffer,
                            uint32_t bytesPerRow)
{
    if (!owns() && !buffer && source) {
        // A mask made for a pixel bitmap spans that bitmap's whole row.
        uint32_t rowPixels = uint32_t(qxGetBitMapAttr(source, 13));
        if (rowPixels > width) {
            qxBitMap *h = allocPlane(QX_BITMAP_MASK, nullptr, rowPixels, height, clear, nullptr, 0);
            if (h) static_cast<qxBitMapPlane *>(h->data)->width = width, h->width = width;
            return h;
        }
    }
    return allocPlane(QX_BITMAP_MASK, source, width, height, clear, buffer, bytesPerRow);
}

void qxFreeBitMap(qxBitMap *h)
{
    if (!h) return;
    uint32_t af = qxAdapterFlags();
    if (h->video && (af & QX_ADAPTER_VIDEOBITMAPS)) {
        auto fn = reinterpret_cast<qxAdapterFreeVideoBitMapFn>(qxAdapterEntry(QX_EP_FreeVideoBitMap));
        if (fn && h->data) fn(h->data);
    } else if (af & QX_ADAPTER_OWNSBITMAPS) {
        adapterFree(h->data);
    } else {
        qxFreeBitMapBuffer(static_cast<qxPlatformBitMap *>(h->data));
    }
    qxFree(h);
}

void qxFreeAlphaBitMap(qxBitMap *h) { freePlane(h); }
void qxFreeMaskBitMap(qxBitMap *h) { freePlane(h); }

qxBitMap *qxCopyAlphaBitMap(qxBitMap *alpha, uint32_t width, uint32_t height)
{
    if (!alpha) return nullptr;
    qxBitMap *copy = qxAllocAlphaBitMap(width, height, 1, nullptr, 0);
    if (!copy) return nullptr;
    auto *src = reinterpret_cast<const uint8_t *>(uintptr_t(qxGetBitMapAttr(alpha, 3)));
    auto *dst = reinterpret_cast<uint8_t *>(uintptr_t(qxGetBitMapAttr(copy, 3)));
    uint64_t srcRow = qxGetBitMapAttr(alpha, 1), dstRow = qxGetBitMapAttr(copy, 1);
    if (!src || !dst) return copy;
    // Only the overlap of the two planes is copied; the rest stays zero.
    uint64_t rows = height < alpha->height ? height : alpha->height;
    uint64_t bytes = dstRow < srcRow ? dstRow : srcRow;
    for (uint64_t y = 0; y < rows; ++y) std::memcpy(dst + y * dstRow, src + y * srcRow, bytes);
    return copy;
}

qxBitMap *qxAlphaFromBuffer(const uint32_t *argb, uint32_t width, uint32_t height, uint32_t pixelsPerRow)
{
    if (!argb || width > INT32_MAX || height > INT32_MAX || pixelsPerRow > INT32_MAX) return nullptr;
    qxBitMap *h = qxAllocAlphaBitMap(width, height, 0, nullptr, 0);
    if (!h) return nullptr;
    auto *dst = reinterpret_cast<uint8_t *>(uintptr_t(qxGetBitMapAttr(h, 3)));
    if (dst)
        qxExtractAlphaPlane(argb, int32_t(width), int32_t(height), int32_t(pixelsPerRow), dst,
                            int32_t(qxGetBitMapAttr(h, 1)));
    return h;
}

void *qxGetBitMapData(qxBitMap *h) { return h ? h->data : nullptr; }

int qxBitMapPlainColour(const qxBitMap *h, uint32_t *colour)
{
    if (!h || h->kind != QX_BITMAP_PIXELS || h->video || !h->data || owns())
        return 0;
    return qxBitMapPendingFill(static_cast<const qxPlatformBitMap *>(h->data), colour);
}

int qxDeferBitMapColour(qxBitMap *h, uint32_t colour)
{
    if (!h || h->kind != QX_BITMAP_PIXELS || h->video || !h->data || owns())
        return 0;
    auto *b = static_cast<qxPlatformBitMap *>(h->data);
    if (b->isHardware || (b->bytesPerPixel != 4 && b->bytesPerPixel != 2))
        return 0;
    qxDeferBitMapFill(b, colour);
    return 1;
}

uint64_t qxGetBitMapAttr(qxBitMap *h, uint32_t sel)
{
    bool handleSelector = sel <= 4 || sel == 13 || sel == 14 || (sel >= 18 && sel <= 22);
    if (!h) return handleSelector ? 0 : platformAttr(sel);
    uint32_t af = qxAdapterFlags();
    switch (sel) {
    case 0: return h->width;
    case 14: return h->height;
    case 18: return h->video;
    case 19: return h->synced;
    case 20: return uint64_t(uintptr_t(h->data));
    case 22: return h->video && !(qxDisplayAdapter && (af & QX_ADAPTER_VIDEOBITMAPS)) ? 1 : 0;
    default: break;
    }
    if (af & QX_ADAPTER_OWNSBITMAPS) {
        switch (sel) {
        case 1: case 2: return adapterAttr(h->data, 2);
        case 13: {
            uint32_t bpp = qxBytesPerPixel(qxAdapterInfo.pixelFormat);
            return bpp ? adapterAttr(h->data, 2) / bpp : 0;
        }
        case 3: case 4: return adapterPixelPointer(h);
        case 21: return qxAdapterInfo.pixelFormat;
        default: return platformAttr(sel);
        }
    }
    if (h->kind != QX_BITMAP_PIXELS) {
        auto *p = static_cast<qxBitMapPlane *>(h->data);
        switch (sel) {
        case 1: case 2: return p ? p->bytesPerRow : 0;
        case 3: case 4: return p ? uint64_t(uintptr_t(p->pixels)) : 0;
        case 13: case 21: case 23: return 0;
        default: return platformAttr(sel);
        }
    }
    auto *b = static_cast<qxPlatformBitMap *>(h->data);
    if (h->video || !b) return handleSelector || sel == 23 ? 0 : platformAttr(sel);
    switch (sel) {
    case 1: case 2: return b->bytesPerRow;
    case 3: case 4: return 0;
    case 13: return b->bytesPerPixel ? b->bytesPerRow / b->bytesPerPixel : 0;
    case 21: return b->pixelFormat;
    case 23:
        qxRealiseBitMapFill(b);
        return uint64_t(uintptr_t(b->pixels));
    default: return platformAttr(sel);
    }
}

uint64_t qxAdapterGetBitMapAttr(void *plane, uint32_t attribute)
{
    if (owns()) return adapterAttr(plane, attribute);
    if (!plane) return 0;
    // Every record we make starts with {kind, width, height}.
    auto *p = static_cast<const qxBitMapPlane *>(plane);
    return attribute == 0 ? p->width : attribute == 1 ? p->height : 0;
}

void qxBitMapSyncHardware(qxBitMap *h)
{
    if (!h || !h->video || h->synced) return;
    if (qxAdapterFlags() & QX_ADAPTER_VIDEOBITMAPS) {
        auto fn = reinterpret_cast<qxAdapterVideoMethodFn>(qxAdapterEntry(QX_EP_DoVideoBitMapMethod));
        if (fn) fn(h->data, 1, 1);
    }
    h->synced = 1;
}

int qxFindGfxCacheEntry(const char *fileName, int wantAlpha, uint32_t *width, uint32_t *height, uint32_t *flags,
                        qxPicSource **source, qxBitMap **alpha, uint32_t *extra)
{
    if (!fileName) return ERR_CACHEERROR;
    for (CacheEntry *e = cacheHead; e; e = e->next) {
        if (strcasecmp(e->fileName, fileName)) continue;
        if (wantAlpha) {
            if (!e->alpha) return ERR_CACHEERROR;
            qxBitMap *copy = qxCopyAlphaBitMap(e->alpha, e->alpha->width, e->alpha->height);
            if (!copy) return ERR_MEM;
            if (alpha) *alpha = copy;
            else qxFreeAlphaBitMap(copy);
        }
        sourceRef(e->source, 1);
        if (width) *width = e->width;
        if (height) *height = e->height;
        if (flags) *flags = e->flags;
        if (source) *source = e->source;
        if (extra) *extra = e->extra;
        return 0;
    }
    return ERR_CACHEERROR;
}

int qxAddGfxCacheEntry(const char *fileName, uint32_t width, uint32_t height, uint32_t flags, qxPicSource *source,
                       qxBitMap *alpha, uint32_t extra)
{
    auto *e = static_cast<CacheEntry *>(qxAlloc(sizeof(CacheEntry), 1));
    if (!e) return ERR_MEM;
    if (alpha && !(e->alpha = qxCopyAlphaBitMap(alpha, alpha->width, alpha->height))) {
        qxFree(e);
        return ERR_MEM;
    }
    std::strncpy(e->fileName, fileName ? fileName : "", sizeof e->fileName - 1);
    e->width = width, e->height = height, e->flags = flags, e->extra = extra, e->source = source;
    sourceRef(source, 1);
    CacheEntry **tail = &cacheHead;
    while (*tail) tail = &(*tail)->next;
    *tail = e;
    return 0;
}

void qxFreeGfxCache(void)
{
    while (CacheEntry *e = cacheHead) {
        cacheHead = e->next;
        sourceRef(e->source, -1);
        qxFreeAlphaBitMap(e->alpha);
        qxFree(e);
    }
}
}
