// Copies, rotations and transforms of a bitmap rectangle with its mask and
// alpha channel into new handles.
#pragma once
#include <cstdint>

#include "display/qx_bitmap.h"

extern "C" {
// Copies the rectangle into a new bitmap (and mask and alpha channel when
// given). With hardware, into a video bitmap of the display adapter (video
// flag: kept in hardware; the tags are the window handles the source and
// the copy belong to, 0 none), without mask or alpha handles; where the
// adapter makes none, a software copy unless the adapter cannot take
// ordinary bitmaps (1522). An adapter's video bitmap read back for a
// software copy brings the alpha channel of its pixels when the caller
// asks for an alpha channel but gives none. 0, 1000, 1152, 1522, 1524,
// 1564 or 1565.
int qxCopyImageRect(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t x, int32_t y, int32_t width,
                    int32_t height, uint32_t hardware, uint32_t videoFlag, uint64_t sourceTag, uint64_t targetTag,
                    qxBitMap **outBitmap, qxBitMap **outMask, qxBitMap **outAlpha);
// matrix: the 2 x 2 matrix m0..m3. 0, 1000, 1055 (a matrix that cannot be
// inverted or has entries that are not finite), 1152, 1522, 1564, 1565.
int qxTransformPixels(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t x, int32_t y, int32_t width,
                      int32_t height, const double matrix[4], uint32_t smooth, uint32_t extra, qxBitMap **outBitmap,
                      qxBitMap **outMask, qxBitMap **outAlpha, int32_t *outWidth, int32_t *outHeight);
// Distorts the bitmap (method 4 perspective, 9 arc, 10 polar, 12 barrel)
// into new handles: a mask when the source has one, or has neither mask nor
// alpha and smooth is off; an alpha channel otherwise. 0, 1000, 1055, 1152,
// 1522, 1564 or 1565.
int qxDistortBitmap(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t width, int32_t height, uint32_t method,
                    uint32_t argumentCount, const double *arguments, uint32_t smooth, qxBitMap **outBitmap,
                    qxBitMap **outMask, qxBitMap **outAlpha, int32_t *outWidth, int32_t *outHeight);
// An adapter's video bitmap (selector 22 clear) read into a new bitmap of
// ours, with an alpha plane from its pixels when asked; for any other bitmap
// nothing is made (*copy null). 0, 1000, 1522, 1524 or 1564.
int qxPluginImageHook(qxBitMap *video, qxBitMap **copy, qxBitMap **alpha);
// Reads a rectangle of a video bitmap back as native ARGB words (alpha byte
// kept) into a new buffer (free with delete[]); an adapter's video bitmap is
// read through its ReadVideoPixels. 0, 1000, 1152, or 1524 when the adapter
// gives no pixels.
int qxReadBitmapPixels(qxBitMap *bitmap, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t *outSynced,
                       uint32_t **outBuffer);
}

// Holds the copy qxReadBackVideo makes, freed with the holder.
struct qxVideoReadBack {
    qxBitMap *copy = nullptr, *alpha = nullptr;
    ~qxVideoReadBack()
    {
        qxFreeBitMap(copy);
        qxFreeAlphaBitMap(alpha);
    }
};
// Points *bitmap at an own copy when it is an adapter's video bitmap, for
// the software kernels, which lock what they read. Given an alpha pointer
// that holds none (and no mask beside it), the alpha channel of the video
// bitmap's pixels comes along into *alpha.
inline int qxReadBackVideo(qxBitMap **bitmap, qxVideoReadBack *hold, qxBitMap **alpha = nullptr,
                           const qxBitMap *mask = nullptr)
{
    const bool withAlpha = alpha && !*alpha && !mask;
    if (int e = qxPluginImageHook(*bitmap, &hold->copy, withAlpha ? &hold->alpha : nullptr)) return e;
    if (hold->copy) *bitmap = hold->copy;
    if (hold->alpha) *alpha = hold->alpha;
    return 0;
}
