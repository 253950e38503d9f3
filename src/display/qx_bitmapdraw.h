// Small drawing operations on bitmap handles: fills, pixels, lines, tiles,
// gradients, colour through coverage planes, alpha-plane and mask
// operations, and conversions between bitmaps and ARGB arrays.
#pragma once
#include <cstdint>

#include "display/qx_bitmap.h"
#include "imaging/qx_gradient.h"

extern "C" {

uint32_t qxAdapterColor(uint32_t colour, int force);
void qxRectFill(qxBitMap *bitmap, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour);
void qxSoftRectFill(void *pixels, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour, uint32_t opacity,
                    int32_t pitch, uint32_t format);
void qxWritePixel(qxBitMap *bitmap, int32_t x, int32_t y, uint32_t colour, int isMask);
void qxDrawLine(qxBitMap *bitmap, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour);
uint32_t qxReadPixelRGB(const qxBitMapLock *lock, int32_t x, int32_t y);
uint32_t qxReadMaskPixel(qxBitMap *bitmap, int32_t x, int32_t y, int isMask);
// raw: target and tile are 32-bit arrays (target pitch rawPitch, tile pitch
// tileWidth).
void qxTileFill(void *target, int32_t x, int32_t y, int32_t w, int32_t h, void *tile, int32_t offsetX,
                int32_t offsetY, int32_t tileWidth, int32_t tileHeight, int raw, int32_t rawPitch);
void DrawGradient(qxBitMap *bitmap, int32_t x, int32_t y, int32_t w, int32_t h, const qxGradient *gradient);
void BltAlphaChannel(qxBitMap *coverage, int32_t sx, int32_t sy, qxBitMap *dest, int32_t dx, int32_t dy, int32_t w,
                     int32_t h, uint32_t colour, int32_t mode, qxBitMap *destAlpha, uint32_t factor,
                     const uint16_t *coverage16, int32_t coverage16Pitch, qxBitMap *texture, const uint8_t *plane,
                     int32_t planeRowSize);
void qxBltAlphaChannelClipped(qxBitMap *coverage, int32_t sx, int32_t sy, qxBitMap *dest, int32_t dx, int32_t dy,
                              int32_t w, int32_t h, uint32_t colour, int32_t mode, qxBitMap *destAlpha,
                              uint32_t factor);
void qxBltTemplate(qxBitMap *templ, int32_t tx, int32_t ty, qxBitMap *dest, int32_t dx, int32_t dy, int32_t w,
                   int32_t h, uint32_t colour, const uint8_t *plane, int32_t planeRowSize);

void qxBltAlpha(qxBitMap *source, int32_t sx, int32_t sy, qxBitMap *dest, int32_t dx, int32_t dy, int32_t w,
                int32_t h, int32_t mode, uint32_t value);
void qxBltClipped(qxBitMap *source, int32_t sx, int32_t sy, qxBitMap *dest, int32_t dx, int32_t dy, int32_t w,
                  int32_t h, int32_t mode, uint32_t value);
void qxFillBitMapRect(qxBitMap *alpha, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t value);
void qxScaleAlpha(qxBitMap *source, qxBitMap *dest, int32_t height, uint32_t factor);
void qxMaskToAlpha(qxBitMap *mask, int32_t mx, int32_t my, qxBitMap *alpha, int32_t ax, int32_t ay, int32_t w,
                   int32_t h, uint32_t value);
void qxBltMask(qxBitMap *mask, int32_t mx, int32_t my, qxBitMap *alpha, int32_t ax, int32_t ay, int32_t w,
               int32_t h, uint32_t value);
void qxAlphaToMask(qxBitMap *alpha, int32_t ax, int32_t ay, qxBitMap *mask, int32_t mx, int32_t my, int32_t w,
                   int32_t h, int32_t mode);
void qxMaskCopyOp(qxBitMap *source, int32_t sx, int32_t sy, qxBitMap *dest, int32_t dx, int32_t dy, int32_t w,
                  int32_t h, int32_t mode, const uint8_t *plane, int32_t planeRowSize);
void qxMaskRowOp(qxBitMap *mask, int32_t x, int32_t y, int32_t w, int32_t h, int32_t mode);
int qxNormaliseClipMask(int32_t *x, int32_t *y, int32_t *w, int32_t *h, qxBitMap **mask, int copyAlways,
                        int freeOld);

void qxARGBToBitMap(const uint32_t *pixels, int32_t x, int32_t y, int32_t bytesPerRow, qxBitMap *bitmap,
                    int32_t dx, int32_t dy, int32_t w, int32_t h);
int qxBitMapFromARGB(const uint32_t *pixels, uint32_t transparentColour, int32_t width, int32_t height,
                     int32_t pixelsPerRow, int usePlugin, uint32_t flags, void *pluginRef, qxBitMap **bitmap,
                     qxBitMap **mask, qxBitMap **alpha);
uint32_t *qxBitMapToARGB(qxBitMap *bitmap, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t lockFlags);
uint32_t *qxBitMapToARGBMasked(qxBitMap *bitmap, int32_t x, int32_t y, int32_t w, int32_t h, qxBitMap *mask,
                               qxBitMap *alpha, uint32_t transparentColour, int maskToAlpha, uint32_t lockFlags);
uint32_t *qxBitMapToARGBWithPlanes(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t w, int32_t h);
}
