// Drawing helpers shared by the moving, scaling, blending and mask
// renderers: private data, pieces onto the display or target and
// work-bitmap composition.
#pragma once
#include <cstdint>
#include <new>

#include "fx/qx_transitionfx.h"

// Zero-filled private data of type T in fx->data; none when out of memory.
template <class T> T *qxFXNewData(qxTransitionFX *fx)
{
    if (qxFXAllocData(fx, sizeof(T))) return nullptr;
    return new (fx->data) T{};
}

// A pixel bitmap of the area's size (none when it cannot be had).
qxBitMap *qxFXNewWork(const qxTransitionFX *fx);
// Pointer-or-none frees that forget the pointer.
void qxFXDrop(qxBitMap *&bitmap);
void qxFXDropMask(qxBitMap *&mask);
void qxFXDropAlpha(qxBitMap *&alpha);

// A rectangle of a picture onto the display (or target) at (dx, dy); with
// atArea in area coordinates and cut to the area; clipped to the BGPic;
// through the mask or alpha plane when given.
void qxFXPaint(qxTransitionFX *fx, qxBitMap *source, int32_t sx, int32_t sy, int32_t w, int32_t h, int32_t dx,
               int32_t dy, qxBitMap *mask, qxBitMap *alpha, bool atArea);
// A whole area-sized picture at the area's corner.
inline void qxFXPaintWhole(qxTransitionFX *fx, qxBitMap *source, qxBitMap *mask = nullptr,
                           qxBitMap *alpha = nullptr)
{
    qxFXPaint(fx, source, 0, 0, fx->width, fx->height, 0, 0, mask, alpha, true);
}
// A rectangle of one bitmap into another, clipped to both, through the
// mask or alpha plane when given.
void qxFXCompose(qxBitMap *source, int32_t sx, int32_t sy, qxBitMap *dest, int32_t dx, int32_t dy, int32_t w,
                 int32_t h, qxBitMap *mask, qxBitMap *alpha);
// A whole display-size picture into the display's window, at the window's
// scaled size when the display autoscales, whatever refresh mode holds back.
void qxFXShowWhole(qxDisplay *display, qxBitMap *picture, int32_t width, int32_t height);
// The display's work bitmap whole (bgWidth x bgHeight) into the window:
// the frame end of frames built there.
void qxFXShowWorkWhole(qxTransitionFX *fx);
// Shows a finished frame (no frame advance): in real-time work the whole
// layer unless `drawing`; else the display's back buffer (whole, or the
// area) into the window when frames are built there.
void qxFXShowBackBuffer(qxTransitionFX *fx);

// The on-screen planes a real-time transition draws into.
struct qxFXPlanes {
    qxBitMap *image, *mask, *alpha;
    int32_t width, height;
};
bool qxFXLayerPlanes(qxTransitionFX *fx, qxFXPlanes *out);

// Phase 0 of the renderers: on the display, effects that run backwards
// only on a real-time layer bring the new picture in.
void qxFXResetDisplayReverse(qxTransitionFX *fx);
// qxFXFillRect of a rectangle in area coordinates, cut to the area.
void qxFXAreaFill(qxTransitionFX *fx, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour, uint32_t flags);
// Real-time work: the whole old picture into the layer, not shown, so that
// effects drawing only what moves start from what the screen showed.
void qxFXOldIntoLayer(qxTransitionFX *fx);
// Pieces drawn in its scope go into the layer without being shown one by
// one (draw flags 8); the frame end then shows the whole layer.
struct qxFXQuietPieces {
    qxTransitionFX *fx;
    uint32_t drawing;
    qxFXQuietPieces(qxTransitionFX *f, bool on) : fx(f), drawing(f->drawing)
    {
        if (on && fx->realtime) fx->drawing = 1;
    }
    ~qxFXQuietPieces() { fx->drawing = drawing; }
};
