// Scaling of a bitmap rectangle with its mask and alpha channel.
#pragma once
#include <cstdint>

#include "display/qx_bitmap.h"

extern "C" {
// With a destination the pixels go into it; otherwise new handles are made
// and stored through the out pointers that are given. An error code or 0.
int qxScalePixels(qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t x, int32_t y, qxBitMap *destination,
                  int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height, uint32_t smooth,
                  uint32_t extra, qxBitMap **outBitmap, qxBitMap **outMask, qxBitMap **outAlpha);

// The part of bitmap's whole sourceWidth x sourceHeight -> width x height
// scaling that the source rectangle (x, y, w, h) reaches: every destination
// pixel that reads one of its pixels (the smooth scaler also reads the
// neighbour to the right and below). 0 when nothing is reached.
int qxScaledRectOf(int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height, uint32_t smooth,
                   int32_t x, int32_t y, int32_t w, int32_t h, qxClipRect *out);

// Makes only the part `part` of the whole scaling of bitmap (its full size
// to width x height) into destination's top-left corner: the same pixels as
// scaling it whole and cutting them out. An error code or 0.
int qxScalePixelsPart(qxBitMap *bitmap, qxBitMap *destination, int32_t width, int32_t height, uint32_t smooth,
                      const qxClipRect *part);

// The part `part` of the nearest scaling of a sourceWidth x sourceHeight
// picture to width x height, made from a piece of that picture whose
// top-left pixel lies at x, y in it (a video frame at its place on the
// display): the same pixels as the whole picture scaled, where the part
// reads the piece. Into destination's top-left corner; an error code or 0.
int qxScalePixelsPiece(qxBitMap *piece, int32_t x, int32_t y, int32_t sourceWidth, int32_t sourceHeight,
                       qxBitMap *destination, int32_t width, int32_t height, const qxClipRect *part);
}
