// Colour keys, colour replacement and YUV 4:2:0 video frames.
#pragma once
#include <cstdint>

struct qxVideoFrameRecord {
    const uint8_t *planes[3]; // Y, U (Cb), V (Cr)
    int32_t strides[3];       // bytes
    void *destination;
    int32_t sourceWidth, sourceHeight;
    int32_t destWidth, destHeight;
    int32_t destPitch; // pixels
    uint32_t layout, bytesPerPixel;
};

extern "C" {
// Mask bits are set where the pixel differs from the key.
void qxMaskFromColor32(const uint32_t *pixels, uint8_t *mask, int32_t width, int32_t height, int32_t maskBytesPerRow,
                       uint32_t key, int32_t pitch, uint32_t channelMask);
void qxMaskFromColor16(const uint16_t *pixels, uint8_t *mask, int32_t width, int32_t height, int32_t maskBytesPerRow,
                       uint32_t key, int32_t pitch);
// table: {from, to} pairs ended by from = 0xFFFFFFFF.
void qxReplaceColors32(int32_t width, int32_t height, const uint32_t *table, uint32_t *pixels, int32_t pitch,
                       uint32_t channelMask);
void qxReplaceColors16(int32_t width, int32_t height, const uint32_t *table, uint16_t *pixels, int32_t pitch);
// One studio-range YUV sample to 0xRRGGBB.
uint32_t qxYuvToRgb(int32_t y, int32_t u, int32_t v);
void qxVideoFrameConvert(const qxVideoFrameRecord *record);
void qxVideoFrameConvert2(const qxVideoFrameRecord *record);
}
