// Per-channel access to 32-bit and 16-bit pixels of any layout, for the
// kernels that rebuild a pixel from its 8-bit channels. The native layout
// (10, respectively 4) skips the conversion; rebuilt 32-bit words get the
// alpha byte 0, 16-bit words are packed by masking.
#pragma once
#include <cstdint>

#include "imaging/qx_pixelformat.h"

struct qxPx32 {
    using T = uint32_t;
    static void get(uint32_t code, T p, int32_t &r, int32_t &g, int32_t &b)
    {
        uint32_t w = code == QX_PIXFMT_ARGB32 ? p : qxFromLayout32(code, p);
        r = int32_t((w >> 16) & 0xFF), g = int32_t((w >> 8) & 0xFF), b = int32_t(w & 0xFF);
    }
    static T put(uint32_t code, int32_t r, int32_t g, int32_t b)
    {
        uint32_t w = uint32_t(r & 0xFF) << 16 | uint32_t(g & 0xFF) << 8 | uint32_t(b & 0xFF);
        return code == QX_PIXFMT_ARGB32 ? w : qxToLayout32(code, w);
    }
    // What a 16-bit pixel keeps of a channel (nothing is lost here).
    static int32_t keepRB(int32_t c) { return c; }
    static int32_t keepG(int32_t c) { return c; }
};

struct qxPx16 {
    using T = uint16_t;
    static void get(uint32_t code, T p, int32_t &r, int32_t &g, int32_t &b)
    {
        uint32_t w = code == QX_PIXFMT_RGB16 ? p : qxFromLayout16(code, p);
        r = int32_t(qxRed16(w)), g = int32_t(qxGreen16(w)), b = int32_t(qxBlue16(w));
    }
    static T put(uint32_t code, int32_t r, int32_t g, int32_t b)
    {
        uint32_t w = qxPack16(uint32_t(r), uint32_t(g), uint32_t(b));
        return T(code == QX_PIXFMT_RGB16 ? w : qxToLayout16(code, w));
    }
    static int32_t keepRB(int32_t c) { return c & 0xF8; }
    static int32_t keepG(int32_t c) { return c & 0xFC; }
};

// Runs f(r, g, b) on every pixel of the area, storing the channels it
// leaves back into the pixel.
template <class P, class F>
inline void qxMapChannels(typename P::T *pixels, int32_t width, int32_t height, int32_t pitch, uint32_t layout, F f)
{
    if (!pixels || width < 1 || height < 1) return;
    for (int32_t y = 0; y < height; ++y) {
        typename P::T *row = pixels + int64_t(y) * pitch;
        for (int32_t x = 0; x < width; ++x) {
            int32_t r, g, b;
            P::get(layout, row[x], r, g, b);
            f(r, g, b);
            row[x] = P::put(layout, r, g, b);
        }
    }
}

// A double channel value: 0 below 0 (and NaN), 255 above 255, else trunc.
inline int32_t qxClampTrunc(double v)
{
    if (!(v >= 0)) return 0;
    if (v > 255) return 255;
    return int32_t(v);
}
