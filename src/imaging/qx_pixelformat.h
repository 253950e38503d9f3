// Pixel layouts shared by every kernel: the layout codes, the converters
// between a layout and the native ARGB32 / RGB16 words, the byte unpacker
// and packer of the interpolating kernels, and the row converters.
#pragma once
#include <cstdint>

// Layout codes (also the bitmap pixel formats).
enum : uint32_t {
    QX_PIXFMT_RGB15 = 0, QX_PIXFMT_BGR15, QX_PIXFMT_RGB15PC, QX_PIXFMT_BGR15PC,
    QX_PIXFMT_RGB16, QX_PIXFMT_BGR16, QX_PIXFMT_RGB16PC, QX_PIXFMT_BGR16PC,
    QX_PIXFMT_RGB24, QX_PIXFMT_BGR24,
    QX_PIXFMT_ARGB32, QX_PIXFMT_BGRA32, QX_PIXFMT_RGBA32, QX_PIXFMT_ABGR32,
    QX_PIXFMT_ALPHA8, QX_PIXFMT_MASK1,
};

// Copies native ARGB words into a 32-bit (layout 10-13) or 16-bit plane.
struct qxConvertRecord {
    const void *source; // native ARGB words
    void *destination;
    int32_t sx, sy, dx, dy;
    int32_t width, height;
    int32_t sourcePitch, destPitch; // in pixels
    uint32_t layout;
};

extern "C" {

uint32_t qxBytesPerPixel(uint32_t format);    // 0 above 13

uint32_t qxToLayout32(uint32_t code, uint32_t argb);
uint32_t qxFromLayout32(uint32_t code, uint32_t word);
uint32_t qxToLayout16(uint32_t code, uint32_t rgb16);
uint32_t qxFromLayout16(uint32_t code, uint32_t word);

// Colour 0xAARRGGBB to a pixel of formats 0-13 and back.
uint32_t qxColorToPixel(uint32_t colour, uint32_t format, int keepAlpha);
uint32_t qxPixelToColor(uint32_t pixel, uint32_t format, int keepAlpha);

// out/in = {R, G, B, A}; A only for 32-bit codes.
void qxUnpackPixel(const void *pixel, uint32_t code, int32_t out[4]);
void qxPackPixel(void *pixel, uint32_t code, const int32_t in[4]);

void qxConvertPixels32(const qxConvertRecord *record);
void qxConvertPixels16(const qxConvertRecord *record);
// rect = {x, y, width, height}; destination pitch = width.
void qxExpandToArgb(const void *sourceBase, uint32_t *destination, const int32_t rect[4], int32_t sourcePitch,
                    uint32_t bytesPerPixel, uint32_t code);
void qxExtractAlphaPlane(const uint32_t *argb, int32_t width, int32_t height, int32_t sourcePitch,
                         uint8_t *alphaPlane, int32_t alphaBytesPerRow);
}

// Native RGB16 channels widened to 8 bits (low bits zero) and packed back.
inline uint32_t qxRed16(uint32_t p) { return (p & 0xF800) >> 8; }
inline uint32_t qxGreen16(uint32_t p) { return (p & 0x07E0) >> 3; }
inline uint32_t qxBlue16(uint32_t p) { return (p << 3) & 0xF8; }
inline uint32_t qxPack16(uint32_t r, uint32_t g, uint32_t b)
{
    return ((r & 0xF8) << 8) | ((g & 0xFC) << 3) | ((b & 0xFF) >> 3);
}
inline uint16_t qxSwap16(uint32_t v) { return uint16_t(((v & 0xFF) << 8) | ((v >> 8) & 0xFF)); }

// One 8-bit channel blended by a (0-255): d + ((s - d) * a >> 8).
inline int32_t qxBlendChannel(int32_t s, int32_t d, int32_t a) { return d + (((s - d) * a) >> 8); }
// Native RGB16 words blended on 8-bit channels.
inline uint32_t qxBlend16(uint32_t s, uint32_t d, int32_t a)
{
    return qxPack16(uint32_t(qxBlendChannel(int32_t(qxRed16(s)), int32_t(qxRed16(d)), a)),
                    uint32_t(qxBlendChannel(int32_t(qxGreen16(s)), int32_t(qxGreen16(d)), a)),
                    uint32_t(qxBlendChannel(int32_t(qxBlue16(s)), int32_t(qxBlue16(d)), a)));
}
// Native ARGB words blended byte by byte.
inline uint32_t qxBlend32(uint32_t s, uint32_t d, int32_t a)
{
    uint32_t out = 0;
    for (int sh = 0; sh < 32; sh += 8)
        out |= (uint32_t(qxBlendChannel(int32_t((s >> sh) & 0xFF), int32_t((d >> sh) & 0xFF), a)) & 0xFF) << sh;
    return out;
}
