#include "display/qx_bitmapquantize.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "core/errors/qx_errors.h"
#include "display/qx_bitmapeffects.h"
#include "imaging/qx_coloreffects.h"
#include "imaging/qx_pixelformat.h"
#include "imaging/qx_quantize.h"

extern "C" {

int qxQuantizeBitmap(qxBitMap *bitmap, int32_t width, int32_t height, int32_t colours, int dither)
{
    qxBitMapLock lock;
    if (!bitmap || !qxLockBitMap(bitmap, 0, &lock)) return ERR_LOCKBMAP;
    const int32_t w = std::clamp<int64_t>(width, 0, lock.width), h = std::clamp<int64_t>(height, 0, lock.height);
    const uint32_t bpp = lock.bytesPerPixel;
    if (w < 1 || h < 1 || colours < 1 || bpp < 2 || bpp > 4) {
        qxUnLockBitMap(&lock);
        return 0;
    }
    std::unique_ptr<uint8_t[]> indices(new (std::nothrow) uint8_t[size_t(w) * size_t(h)]);
    if (!indices) {
        qxUnLockBitMap(&lock);
        return ERR_MEM;
    }
    uint32_t palette[256];
    int32_t count = colours;
    const uint32_t done =
        qxQuantizeToPalette(lock.pixels, lock.pixelFormat, bpp, w, h, int32_t(lock.pixelsPerRow), indices.get(),
                            palette, &count, 0xFFFFFFFF, 0, dither ? 1 : 0, nullptr);
    if (!done) {
        qxUnLockBitMap(&lock);
        return ERR_MEM;
    }
    uint32_t pixel[256];
    for (int32_t i = 0; i < count; ++i) pixel[i] = qxColorToPixel(palette[i], lock.pixelFormat, 0);
    auto *base = static_cast<uint8_t *>(lock.pixels);
    const size_t rowBytes = size_t(lock.pixelsPerRow) * bpp;
    for (int32_t y = 0; y < h; ++y) {
        uint8_t *row = base + rowBytes * y;
        const uint8_t *idx = indices.get() + size_t(w) * y;
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t p = pixel[idx[x]];
            uint8_t *d = row + size_t(x) * bpp;
            if (bpp == 4) {
                std::memcpy(d, &p, 4);
            } else if (bpp == 2) {
                const uint16_t v = uint16_t(p);
                std::memcpy(d, &v, 2);
            } else {
                d[0] = uint8_t(p >> 16), d[1] = uint8_t(p >> 8), d[2] = uint8_t(p);
            }
        }
    }
    qxUnLockBitMap(&lock);
    return 0;
}

int qxMonochromeBitmap(qxBitMap *bitmap, int32_t width, int32_t height, int dither)
{
    if (!dither)
        return qxGrayBitmap(bitmap, width, height, 1, nullptr);
    qxBitMapLock lock;
    if (!bitmap || !qxLockBitMap(bitmap, 0, &lock)) return ERR_LOCKBMAP;
    const int32_t w = std::clamp<int64_t>(width, 0, lock.width), h = std::clamp<int64_t>(height, 0, lock.height);
    const uint32_t bpp = lock.bytesPerPixel;
    if (w < 1 || h < 1 || (bpp != 2 && bpp != 4)) {
        qxUnLockBitMap(&lock);
        return 0;
    }
    std::unique_ptr<uint8_t[]> indices(new (std::nothrow) uint8_t[size_t(w) * size_t(h)]);
    uint32_t palette[256];
    int32_t count = 2;
    if (!indices || !qxQuantizeToPalette(lock.pixels, lock.pixelFormat, bpp, w, h, int32_t(lock.pixelsPerRow),
                                         indices.get(), palette, &count, 0xFFFFFFFF, 0, 1, nullptr)) {
        qxUnLockBitMap(&lock);
        return ERR_MEM;
    }
    // The palette's order follows first appearance or the cut, not
    // brightness: name the brighter entry white so a picture that starts
    // with a white pixel does not come out inverted.
    auto intensity = [](uint32_t c) {
        return int(0.299 * double(c >> 16 & 255) + 0.587 * double(c >> 8 & 255) + 0.114 * double(c & 255));
    };
    uint8_t white[2] = {0, 0};
    if (count == 1)
        white[0] = intensity(palette[0]) >= 129;
    else
        white[intensity(palette[1]) >= intensity(palette[0]) ? 1 : 0] = 1;
    uint8_t *idx = indices.get();
    for (size_t i = 0; i < size_t(w) * size_t(h); ++i) idx[i] = white[idx[i] & 1];
    if (bpp == 4)
        qxIndexToMono32(static_cast<uint32_t *>(lock.pixels), idx, w, h, int32_t(lock.pixelsPerRow),
                        lock.pixelFormat);
    else
        qxIndexToMono16(static_cast<uint16_t *>(lock.pixels), idx, w, h, int32_t(lock.pixelsPerRow));
    qxUnLockBitMap(&lock);
    return 0;
}
}
