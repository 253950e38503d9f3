// Colour bitmap fonts: their glyph strip waits as ARGB pixels until the
// display can make bitmaps, then becomes a colour image and a key mask.
#include <cstdlib>

#include "display/qx_bitmap.h"
#include "draw/fonts/qx_font.h"

namespace {
// Set once bitmaps can be made; fonts opened later are realised at once.
bool bitmapsReady = false;
} // namespace

extern "C" int qxRealizeFontHandle(qxFontHandle *h) {
    if (!h || h->kind != QX_FONT_COLORBITMAP || !h->pendingPixels) return 0;
    if (h->pendingWidth <= 0 || h->pendingHeight <= 0) return 0; // nothing to show; drawing skips it
    uint32_t w = uint32_t(h->pendingWidth), rows = uint32_t(h->pendingHeight);
    qxBitMap *image = qxAllocBitMap(w, rows, 0, nullptr);
    qxBitMap *mask = image ? qxAllocMaskBitMap(image, w, rows, 1, nullptr, 0) : nullptr;
    qxBitMapLock il{}, ml{};
    bool ok = mask && qxLockBitMap(image, 0, &il) && il.bytesPerPixel == 4 && il.pixels;
    if (ok && !(qxLockBitMap(mask, 0, &ml) && ml.pixels)) ok = false;
    if (ok) {
        for (uint32_t y = 0; y < rows; ++y) {
            const uint32_t *src = h->pendingPixels + uint64_t(y) * w;
            uint32_t *dst = static_cast<uint32_t *>(il.pixels) + uint64_t(y) * il.pixelsPerRow;
            uint8_t *m = static_cast<uint8_t *>(ml.pixels) + uint64_t(y) * ml.pixelsPerRow;
            for (uint32_t x = 0; x < w; ++x) {
                dst[x] = src[x];
                if ((src[x] & 0xFFFFFF) != QX_FONT_KEYCOLOR) m[x >> 3] |= uint8_t(0x80 >> (x & 7));
            }
        }
    }
    if (ml.handle) qxUnLockBitMap(&ml);
    if (il.handle) qxUnLockBitMap(&il);
    if (!ok) {
        // The pixels stay pending; drawing still works from them.
        qxFreeMaskBitMap(mask);
        qxFreeBitMap(image);
        return QX_ERR_MEMORY;
    }
    qxBitMapSyncHardware(image);
    h->colorImage = image;
    h->colorMask = mask;
    free(h->pendingPixels);
    h->pendingPixels = nullptr;
    return 0;
}

extern "C" int qxRealizeFontBitmaps(void) {
    bitmapsReady = true;
    int first = 0;
    for (const qxFontCacheEntry *e = qxFontCacheFirst(); e; e = e->next)
        if (int r = qxRealizeFontHandle(e->handle); r && !first) first = r;
    return first;
}

extern "C" int qxFontBitmapsReady(void) { return bitmapsReady; }

extern "C" void qxFreeFontColourBitmaps(qxFontHandle *h) {
    qxFreeMaskBitMap(h->colorMask);
    qxFreeBitMap(h->colorImage);
    h->colorMask = h->colorImage = nullptr;
}
