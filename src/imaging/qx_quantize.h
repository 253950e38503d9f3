// Colour quantisation of a pixel plane to at most 256 palette entries:
// the exact palette when the plane holds few enough distinct values,
// otherwise a median cut on a 5-6-5-bit histogram with an inverse colour
// map filled per block on demand and optional Floyd-Steinberg dithering.
#pragma once
#include <cstdint>

struct qxQuantizeRequest {
    const void *pixels;
    uint32_t layout;        // pixel format code 0-13
    uint32_t bytesPerPixel; // 2, 3 or 4
    int32_t width, height;
    int32_t pitch;          // row length in pixels
    uint8_t *indices;       // width * height bytes, row after row
    uint32_t *palette;      // room for 256 colours 0xRRGGBB
    int32_t *count;         // in: colours wanted; out: entries produced
    uint32_t transparent;   // 0xRRGGBB kept apart, 0xFFFFFFFF for none
    uint32_t reserve;       // keep one entry free
    uint32_t dither;
    uint32_t done;          // out: 1 when a palette was produced
    int32_t transparentIndex;
};

extern "C" {
// Runs the request; done stays 0 (outputs untouched) on unusable input or
// when work memory cannot be had.
void qxQuantize(qxQuantizeRequest *request);

uint32_t qxQuantizeToPalette(const void *pixels, uint32_t layout, uint32_t bytesPerPixel, int32_t width,
                             int32_t height, int32_t pitch, uint8_t *indices, uint32_t *palette, int32_t *count,
                             uint32_t transparent, uint32_t reserve, uint32_t dither, int32_t *transparentIndex);
}
