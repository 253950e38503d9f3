// Line rasterisation and single-pixel plotting through one plot function
// that clips, blends with the pen's opacity and keeps a mask or alpha
// plane beside the pixels up to date.
#pragma once
#include <cstdint>

struct qxPlotRecord {
    void *pixels;
    int32_t pitch; // pixels
    uint32_t bytesPerPixel;
    const void *texture; // or none
    int32_t texturePitch;
    uint8_t *mask; // or none
    int32_t maskBytesPerRow;
    uint8_t *alpha; // or none
    int32_t alphaBytesPerRow;
    int32_t lineWidth;
    uint32_t layout;
    uint32_t penColour; // a pixel in the layout
    uint32_t currentAlpha;
    uint32_t penAlpha;
    int32_t penRed, penGreen, penBlue;
    uint32_t clip;
    int32_t clipX, clipY, clipWidth, clipHeight;
    const uint8_t *clipMask;
    int32_t clipMaskBytesPerRow;
    uint32_t maskMode;
    // The destination's size: nothing is ever plotted outside it.
    int32_t width, height;
};

extern "C" {
void qxPlotPixel(qxPlotRecord *record, int32_t x, int32_t y);
void qxThickLinePixels(qxPlotRecord *record, int32_t x0, int32_t y0, int32_t x1, int32_t y1);
// The centre pixels of the one-pixel line from x0, y0 to x1, y1, one per
// step along the major axis, as every line of the program is drawn: for a
// window that must show the same pixels as the bitmap behind it.
void qxLinePoints(int32_t x0, int32_t y0, int32_t x1, int32_t y1, void (*point)(void *user, int64_t x, int64_t y),
                  void *user);
void qxPlotCoverageMask(const uint8_t *coverage, int32_t x, int32_t y, qxPlotRecord *record, int32_t width,
                        int32_t height, int32_t coverageBytesPerRow, int32_t mode);
// A one-pixel line of colour 0xRRGGBB at an opacity into a plane of the
// given size.
void qxSoftDrawLine(void *pixels, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour,
                    uint32_t opacity, uint32_t format, int32_t pitch, int32_t width, int32_t height);
}
