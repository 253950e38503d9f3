#include "platform/qx_hooks.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <mutex>

#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"
#include "platform/qx_upcalls.h"

extern "C" {

int qxScreenPixelFormat = -1;

uint32_t qxPixelFormatBytes(int format)
{
    if (format >= 0 && format <= 7)
        return 2;
    if (format == 8 || format == 9)
        return 3;
    if (format >= 10 && format <= 13)
        return 4;
    if (format == 14 || format == 15)
        return 1;
    return 0;
}

uint32_t qxPixelFormatDepth(uint32_t format)
{
    if (format <= 3)
        return 15;
    if (format <= 7)
        return 16;
    if (format <= 9)
        return 24;
    if (format <= 13)
        return 32;
    return 0;
}

static int currentFormat(void) { return qxScreenPixelFormat < 0 ? 10 : qxScreenPixelFormat; }

qxPlatformBitMap *qxAllocBitMapBuffer(uint32_t width, uint32_t height, uint32_t flags,
                                      uint32_t *isFriend, uint32_t *isHardware, void *)
{
    int format = currentFormat();
    uint32_t bpp = qxPixelFormatBytes(format);
    size_t paddedWidth = ((size_t)width + 3) & ~(size_t)3;
    size_t row, total;
    if (!width || !height || !bpp || !qxMulSize(paddedWidth, bpp, &row) || row > UINT32_MAX ||
        !qxMulSize(row, height, &total))
        return nullptr;
    auto *buffer = static_cast<qxPlatformBitMap *>(qxAlloc(sizeof(qxPlatformBitMap), 1));
    if (!buffer)
        return nullptr;
    // Video bitmaps (flag 8) are never given on this platform.
    buffer->pixels = qxAlloc(total, 0);
    if (!buffer->pixels) {
        qxFree(buffer);
        return nullptr;
    }
    buffer->width = width;
    buffer->height = height;
    buffer->bytesPerRow = (uint32_t)row;
    buffer->bytesPerPixel = bpp;
    buffer->pixelFormat = (uint32_t)format;
    if (isFriend)
        *isFriend = flags & QX_BITMAP_FRIEND;
    if (isHardware)
        *isHardware = buffer->isHardware;
    return buffer;
}

void qxFreeBitMapBuffer(qxPlatformBitMap *buffer)
{
    if (!buffer)
        return;
    qxFree(buffer->pixels);
    qxFree(buffer);
}

void qxDeferBitMapFill(qxPlatformBitMap *buffer, uint32_t colour)
{
    buffer->fillColour = colour & 0xFFFFFF;
    __atomic_store_n(&buffer->pendingFill, 1u, __ATOMIC_RELEASE);
}

int qxBitMapPendingFill(const qxPlatformBitMap *buffer, uint32_t *colour)
{
    if (!buffer || !__atomic_load_n(&buffer->pendingFill, __ATOMIC_ACQUIRE))
        return 0;
    *colour = buffer->fillColour;
    return 1;
}

void qxRealiseBitMapFill(const qxPlatformBitMap *buffer)
{
    if (!buffer || !__atomic_load_n(&buffer->pendingFill, __ATOMIC_ACQUIRE))
        return;
    // Two threads may lock one bitmap: one writes, the other waits for it.
    static std::mutex fillLock;
    std::lock_guard<std::mutex> hold(fillLock);
    auto *b = const_cast<qxPlatformBitMap *>(buffer);
    if (!__atomic_load_n(&b->pendingFill, __ATOMIC_ACQUIRE))
        return;
    const uint32_t c = b->fillColour;
    const size_t bytes = (size_t)b->bytesPerRow * b->height;
    if (b->bytesPerPixel == 4) {
        // Padding included: one run over the whole buffer.
        static_assert(sizeof(wchar_t) == 4);
        std::wmemset(static_cast<wchar_t *>(b->pixels), (wchar_t)qxPlainPixel(c, 4), bytes / 4);
    } else if (b->bytesPerPixel == 2) {
        std::fill_n(static_cast<uint16_t *>(b->pixels), bytes / 2, (uint16_t)qxPlainPixel(c, 2));
    }
    __atomic_store_n(&b->pendingFill, 0u, __ATOMIC_RELEASE);
}

int qxGetBitMapInfo(const qxPlatformBitMap *buffer, qxBitMapInfo *info)
{
    if (!buffer || buffer->isHardware)
        return 0;
    qxRealiseBitMapFill(buffer);
    info->pixels = buffer->pixels;
    info->valid = 1;
    info->bytesPerPixel = buffer->bytesPerPixel;
    info->rowPixels = buffer->bytesPerRow / buffer->bytesPerPixel;
    info->width = buffer->width;
    info->height = buffer->height;
    info->pixelFormat = buffer->pixelFormat;
    return 1;
}

uint32_t qxPlatformHasCap(uint32_t capability)
{
    if (!qxDisplayAdapterActive() || !qxUpcalls.adapterHasCap)
        return 0;
    return qxUpcalls.adapterHasCap(capability);
}

int qxDisplayDepth(void)
{
    // The depth the display's pixels are stored in (15 for 5-5-5), 32 unset.
    uint32_t depth = qxScreenPixelFormat >= 0 ? qxPixelFormatDepth((uint32_t)qxScreenPixelFormat) : 0;
    return depth ? (int)depth : 32;
}

int qxBeginDoubleBufferHook(void *) { return 0; }
int qxEndDoubleBufferHook(void *) { return 0; }
int qxFlipHook(void *) { return 0; }

int qxNativeLoadPicture(void *, const char *, uint32_t, int, int, uint32_t, int, void **, void **,
                        uint32_t *, int *, int *, int *)
{
    return 1358;
}

void *qxNativePicturePixels(void *) { return nullptr; }
void *qxNativeOpenAnim(const char *, uint32_t, int *, int *, int *) { return nullptr; }
int qxNativeAnimFrame(void *, int, void **) { return 0; }
int qxNativeAnimDelay(void *, int) { return 0; }
void qxNativeCloseAnim(void *) {}

int qxNativeVideoOpen(const char *name, void **video)
{
    if (video)
        *video = nullptr;
    qxSetErrorString(name ? name : "");
    return 1450;
}

int qxProgressStepHook(int) { return 0; }

int qxGetVolumeName(const char *, char *buffer, size_t capacity)
{
    if (buffer && capacity)
        std::snprintf(buffer, capacity, "%s", "unimplemented");
    return 0;
}

int qxGetVolumeInfo(const char *, uint64_t *freeBytes, uint64_t *totalBytes)
{
    if (freeBytes)
        *freeBytes = 0;
    if (totalBytes)
        *totalBytes = 0;
    return 0;
}
}
