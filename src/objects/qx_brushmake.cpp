// Making brushes: empty ones, from bitmaps and plug-in pixels, realising
// brushes loaded before a display, and the hardware brush bookkeeping.
#include "objects/qx_brush.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "display/qx_adapter.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapplanes.h"
#include "display/qx_bitmaptransform.h"
#include "objects/qx_brushinternal.h"
#include "objects/qx_picsource.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_hooks.h"
#include "platform/qx_memory.h"

namespace {

// Whether video bitmaps can be had at all: the platform must offer them.
bool hardwareAvailable()
{
    return qxPlatformHasCap(8) != 0;
}

// A video bitmap of the adapter holding the pixels, for the display.
qxBitMap *videoBitMap(const uint32_t *argb, uint32_t width, uint32_t height, qxDisplay *display)
{
    const qxBitMapTag tags[] = {{6, uint64_t(uintptr_t(display->window))}, {1, uint64_t(uintptr_t(argb))}, {0, 0}};
    return qxAllocBitMap(width, height, QX_BITMAP_VIDEO, tags);
}

void fillPlane(qxBitMap *plane, uint8_t value)
{
    qxPlane p = qxPlaneOf(plane);
    if (p.bytes)
        std::memset(p.bytes, value, size_t(p.bytesPerRow) * size_t(p.height));
}

} // namespace

extern "C" {

qxBitMap *qxCutAlpha(qxBitMap *alpha, uint32_t x, uint32_t y, uint32_t width, uint32_t height)
{
    qxPlane src = qxPlaneOf(alpha);
    if (!src.bytes || int64_t(x) + width > src.width || int64_t(y) + height > src.height)
        return nullptr;
    qxBitMap *cut = qxAllocAlphaBitMap(width, height, 1, nullptr, 0);
    qxPlane dst = qxPlaneOf(cut);
    if (!dst.bytes) {
        qxFreeAlphaBitMap(cut);
        return nullptr;
    }
    for (uint32_t row = 0; row < height; row++)
        std::memcpy(dst.bytes + size_t(row) * dst.bytesPerRow, src.bytes + size_t(y + row) * src.bytesPerRow + x,
                    width);
    return cut;
}

int qxCheckBrushSize(int64_t width, int64_t height)
{
    if (width < 1 || height < 1)
        return ERR_BADDIMENSIONS;
    // 32-bit pixels whose byte count must stay addressable by 32-bit pitches.
    if (width > 0x7FFFFFFF / 4 || height > 0x7FFFFFFF || width * height > int64_t(0x7FFFFFFF) / 4)
        return ERR_BITMAP;
    return 0;
}

int qxBrushBitMapFromARGB(const uint32_t *pixels, uint32_t transparent, int32_t width, int32_t height,
                          int32_t pixelsPerRow, int smooth, qxBitMap *alpha, int hardware,
                          const qxObjectRef *hardwareDisplay, qxBitMap **bitmap, qxBitMap **mask, qxDisplay **display)
{
    *display = nullptr;
    if (hardware && hardwareAvailable())
        if (int r = qxGetHardwareBitMapDisplay(hardwareDisplay, display))
            return r;
    if (int r = qxBitMapFromARGB(pixels, transparent, width, height, pixelsPerRow, 0, smooth ? 16 : 0, nullptr, bitmap,
                                 mask, nullptr))
        return r;
    if (!*display)
        return 0;
    uint32_t *argb = qxBitMapToARGBWithPlanes(*bitmap, *mask, alpha, width, height);
    qxBitMap *video = argb ? videoBitMap(argb, uint32_t(width), uint32_t(height), *display) : nullptr;
    qxFree(argb);
    if (video) {
        qxFreeBitMap(*bitmap);
        *bitmap = video;
    }
    return 0;
}

int qxFillBrushPixels(qxObjectRef *ref, int32_t width, int32_t height, uint32_t colour, int mask, int alpha,
                      int clear, int noFill, int hardware, int smooth, const qxObjectRef *hardwareDisplay)
{
    if (width < 1 || height < 1)
        return ERR_BADDIMENSIONS;
    if (mask && alpha)
        return ERR_WRONGUSAGE;
    if (int r = qxCheckBrushSize(width, height))
        return r;
    qxDisplay *display = nullptr;
    qxBitMap *bm = nullptr;
    if (hardware && hardwareAvailable()) {
        // Made in the adapter's video memory from the filled pixels.
        if (int r = qxGetHardwareBitMapDisplay(hardwareDisplay, &display))
            return r;
        std::vector<uint32_t> argb(size_t(width) * size_t(height),
                                   clear ? (colour & 0xFFFFFF) : (colour | 0xFF000000u));
        bm = videoBitMap(argb.data(), uint32_t(width), uint32_t(height), display);
        noFill = 1;
    } else {
        bm = qxAllocBitMap(uint32_t(width), uint32_t(height), 0, nullptr);
    }
    if (!bm)
        return ERR_BITMAP;
    if (!noFill) {
        if (int r = qxFillBitMapColour(bm, colour)) {
            qxFreeBitMap(bm);
            return r;
        }
    }
    qxBitMap *m = nullptr, *a = nullptr;
    uint32_t transparent = 0xFFFFFFFFu;
    if (mask) {
        m = qxAllocMaskBitMap(bm, uint32_t(width), uint32_t(height), 1, nullptr, 0);
        if (!m) {
            qxFreeBitMap(bm);
            return ERR_ALLOCMASK;
        }
        fillPlane(m, clear ? 0x00 : 0xFF);
        transparent = 0xAFC0DE;
    } else if (alpha) {
        a = qxAllocAlphaBitMap(uint32_t(width), uint32_t(height), 1, nullptr, 0);
        if (!a) {
            qxFreeBitMap(bm);
            return ERR_ALLOCALPHA;
        }
        fillPlane(a, clear ? 0x00 : 0xFF);
    }
    qxBrush *b = nullptr;
    if (int r = qxAddBrush(ref, QX_BRUSH_PIXELS, uint32_t(width), uint32_t(height), uint32_t(width), 0, nullptr, bm,
                           transparent, m, a, hardwareDisplay, &b)) {
        qxFreeImagePlanes(bm, m, a);
        return r;
    }
    b->smooth = smooth != 0;
    // Video bitmaps come only from a display adapter; a software bitmap
    // leaves the brush a software brush.
    b->hardware = hardware && hardwareAvailable() && bm->video;
    if (b->hardware) {
        b->hardwareFlags = (m ? QX_HWBRUSH_MASK : 0) | (a ? QX_HWBRUSH_ALPHA : 0);
        b->display = display;
    }
    return 0;
}

int qxBrushFromBitmap(qxObjectRef *ref, qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, uint32_t width,
                      uint32_t height, uint32_t transparentColour)
{
    return qxAddBrush(ref, QX_BRUSH_PIXELS, width, height, width, 0, nullptr, bitmap, transparentColour, mask, alpha,
                      nullptr, nullptr);
}

int qxBrushFromLayer(lua_State *L, qxObjectRef *ref, uint32_t width, uint32_t height,
                     const qxBrushPixelRecord *record)
{
    if (!ref || !record)
        return ERR_WRONGUSAGE;
    if (ref->automatic != QX_NEW_AUTOMATIC && !ref->automatic)
        qxFreeBrush(L, *ref, 0);
    if (int r = qxCheckBrushSize(width, height))
        return r;
    const uint32_t transparent =
        (record->flags & QX_BRUSHPIX_TRANSPARENT) ? record->transparentColour & 0xFFFFFF : 0xFFFFFFFFu;
    if (record->flags & QX_BRUSHPIX_CUSTOM) {
        qxPicSource *s = qxPicSourceNewCustom(record->handle, reinterpret_cast<qxSourceGetImage>(record->getImage),
                                              reinterpret_cast<qxSourceClose>(record->close),
                                              reinterpret_cast<qxSourceRender>(record->render),
                                              reinterpret_cast<qxSourceDirectTransform>(record->directTransform),
                                              width, height, 0);
        if (!s)
            return ERR_MEM;
        const uint32_t *pixels = qxPicSourceBitMap(s);
        qxBitMap *bm = nullptr, *m = nullptr, *a = nullptr;
        int r = pixels ? qxBitMapFromARGB(pixels, transparent, int32_t(width), int32_t(height), int32_t(width), 0,
                                          (record->flags & QX_BRUSHPIX_ALPHA) ? 8 : 0, nullptr, &bm, &m, &a)
                       : ERR_MEM;
        if (r) {
            qxPicSourceRelease(s);
            return r;
        }
        if ((r = qxAddBrush(ref, QX_BRUSH_VECTOR, width, height, width, 0, s, bm, transparent, m, a, nullptr,
                            nullptr))) {
            qxFreeImagePlanes(bm, m, a);
            qxPicSourceRelease(s);
        }
        return r;
    }
    qxBitMap *bm = nullptr, *m = nullptr, *a = nullptr;
    if (record->pixels) {
        const uint32_t pitch = record->pitch ? record->pitch : width;
        if (pitch < width)
            return ERR_WRONGUSAGE;
        if (int r = qxBitMapFromARGB(record->pixels, transparent, int32_t(width), int32_t(height), int32_t(pitch), 0,
                                     (record->flags & QX_BRUSHPIX_ALPHA) ? 8 : 0, nullptr, &bm, &m, &a))
            return r == ERR_ALLOCALPHA ? ERR_ALLOCALPHA : r;
        if ((record->flags & QX_BRUSHPIX_ALPHA) && !a) {
            qxFreeImagePlanes(bm, m, a);
            return ERR_ALLOCALPHA;
        }
    } else {
        bm = qxAllocBitMap(width, height, 0, nullptr);
        if (!bm)
            return ERR_BITMAP;
    }
    if (int r = qxAddBrush(ref, QX_BRUSH_PIXELS, width, height, width, 0, nullptr, bm, transparent, m, a, nullptr,
                           nullptr)) {
        qxFreeImagePlanes(bm, m, a);
        return r;
    }
    return 0;
}

int qxGetBrushBitmaps(lua_State *L, qxObjectRef ref, qxBitMap **bitmap, qxBitMap **mask, qxBitMap **alpha,
                      uint32_t *width, uint32_t *height)
{
    qxBrush *b = nullptr;
    if (qxFindBrush(L, ref, &b, QX_FIND_HARDWARE) || b->kind == QX_BRUSH_VECTOR || !b->bitmap)
        return 0;
    if (bitmap)
        *bitmap = b->bitmap;
    if (mask)
        *mask = b->mask;
    if (alpha)
        *alpha = b->alpha;
    if (width)
        *width = b->width;
    if (height)
        *height = b->height;
    return 1;
}

int qxGetBrushImage(lua_State *L, qxObjectRef ref, qxBitMap **bitmap, qxBitMap **mask, qxBitMap **alpha,
                    uint32_t *width, uint32_t *height)
{
    qxBrush *b = nullptr;
    if (int r = qxFindBrush(L, ref, &b, QX_FIND_HARDWARE))
        return r;
    if (b->kind == QX_BRUSH_VECTOR)
        return ERR_VECTORBRUSH;
    if (!b->bitmap)
        return ERR_BITMAP;
    if (int r = qxCopyImageRect(b->bitmap, b->mask, b->alpha, 0, 0, int32_t(b->width), int32_t(b->height), 0, 0, 0,
                                0, bitmap, mask, alpha))
        return r;
    if (width)
        *width = b->width;
    if (height)
        *height = b->height;
    return 0;
}

int qxRealizeBrush(qxBrush *b, int forceSoftware)
{
    if (b->bitmap)
        return 0;
    const uint32_t *pixels = b->source ? qxPicSourceBitMap(b->source) : nullptr;
    if (!pixels)
        return ERR_BITMAP;
    if (forceSoftware || !hardwareAvailable())
        b->hardware = 0;
    const uint32_t *start = pixels + size_t(b->cropY) * b->pitch + b->cropX;
    // The alpha channel of a deferred load covers the whole picture: cut it.
    if (b->alpha && (b->alpha->width != b->width || b->alpha->height != b->height)) {
        qxBitMap *cut = qxCutAlpha(b->alpha, b->cropX, b->cropY, b->width, b->height);
        if (!cut)
            return ERR_ALLOCALPHA;
        qxFreeAlphaBitMap(b->alpha);
        b->alpha = cut;
    }
    qxBitMap *bm = nullptr, *m = nullptr;
    qxDisplay *display = nullptr;
    if (int r = qxBrushBitMapFromARGB(start, b->transparentColour, int32_t(b->width), int32_t(b->height),
                                      int32_t(b->pitch), b->smooth, b->alpha, b->hardware, &b->hardwareDisplay, &bm,
                                      &m, &display))
        return r;
    b->bitmap = bm;
    b->mask = m;
    if (!bm->video)
        b->hardware = 0, b->hardwareFlags = 0;
    else
        b->display = display;
    if (b->kind != QX_BRUSH_VECTOR || b->hardware) {
        b->kind = QX_BRUSH_PIXELS; // a hardware brush holds pixels only
        qxPicSourceRelease(b->source);
        b->source = nullptr;
    }
    return 0;
}

int qxRealizeBrushes(int forceSoftware, int)
{
    for (qxBrush *b = qxBrushes; b; b = b->next)
        if (!b->bitmap && b->source)
            if (int r = qxRealizeBrush(b, forceSoftware))
                return r;
    return 0;
}

int qxBackupHardwareBrushes(qxDisplay *display)
{
    for (qxBrush *b = qxBrushes; b; b = b->next) {
        if (!b->hardware || b->display != display || !b->bitmap || b->pixelBackup)
            continue;
        // Read back through the adapter: video memory cannot be locked.
        uint32_t synced = 0, *pixels = nullptr;
        if (int r = qxReadBitmapPixels(b->bitmap, 0, 0, int32_t(b->width), int32_t(b->height), &synced, &pixels))
            return r;
        b->pixelBackup = static_cast<uint32_t *>(qxAlloc(size_t(b->width) * b->height * 4, 0));
        if (b->pixelBackup)
            std::memcpy(b->pixelBackup, pixels, size_t(b->width) * b->height * 4);
        delete[] pixels;
        if (!b->pixelBackup)
            return ERR_MEM;
        qxFreeBitMap(b->bitmap);
        b->bitmap = nullptr;
    }
    return 0;
}

int qxRebuildBrushBitmaps(qxDisplay *display)
{
    for (qxBrush *b = qxBrushes; b; b = b->next) {
        if (!b->hardware || b->display != display || !b->pixelBackup)
            continue;
        qxBitMap *bm = videoBitMap(b->pixelBackup, b->width, b->height, display);
        if (!bm)
            return ERR_BITMAP;
        b->bitmap = bm;
        qxFree(b->pixelBackup);
        b->pixelBackup = nullptr;
    }
    return 0;
}

void qxFreeDeletedBrushes(lua_State *L, qxDisplay *display)
{
    for (qxBrush *b = qxBrushes, *next; b; b = next) {
        next = b->next;
        if (b->hardware && b->display == display)
            qxUnlinkBrushRecord(L, b);
    }
}

void *qxHardwareBrushHandle(qxObjectRef *ref, void *handle)
{
    if (!ref)
        return nullptr;
    if (!handle) {
        for (qxBrush *b = qxBrushes; b; b = b->next)
            if (b->automatic == ref->automatic && b->id == ref->number && !b->pendingDeletion)
                return b->hardware && b->bitmap ? b->bitmap->data : nullptr;
        return nullptr;
    }
    for (qxBrush *b = qxBrushes; b; b = b->next)
        if (b->hardware && b->bitmap && b->bitmap->data == handle) {
            *ref = {b->id, b->automatic};
            return handle;
        }
    return nullptr;
}
}
