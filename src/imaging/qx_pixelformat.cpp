// Layout converters, unpacker and packer, and row converters.
#include "imaging/qx_pixelformat.h"

#include <cstring>

namespace {

inline uint32_t bswap32(uint32_t v) { return __builtin_bswap32(v); }

// Native RGB16 fields.
inline uint32_t r5(uint32_t p) { return (p >> 11) & 31; }
inline uint32_t g6(uint32_t p) { return (p >> 5) & 63; }
inline uint32_t b5(uint32_t p) { return p & 31; }

bool valid2(int32_t w, int32_t h) { return w > 0 && h > 0; }

} // namespace

extern "C" {

uint32_t qxBytesPerPixel(uint32_t format)
{
    if (format <= 7) return 2;
    if (format <= 9) return 3;
    if (format <= 13) return 4;
    return 0;
}

uint32_t qxToLayout32(uint32_t code, uint32_t argb)
{
    uint32_t r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
    switch (code) {
    case 11: return b << 24 | g << 16 | r << 8;
    case 12: return argb << 8;
    case 13: return b << 16 | g << 8 | r;
    default: return argb;
    }
}

uint32_t qxFromLayout32(uint32_t code, uint32_t word)
{
    switch (code) {
    case 11: return bswap32(word) & 0x00FFFFFF;
    case 12: return word >> 8;
    case 13: return ((word & 0xFF) << 16) | (word & 0xFF00) | ((word >> 16) & 0xFF);
    default: return word;
    }
}

uint32_t qxToLayout16(uint32_t code, uint32_t p)
{
    uint32_t r = r5(p), g = g6(p), b = b5(p);
    switch (code) {
    case 0: return r << 10 | (g >> 1) << 5 | b;
    case 1: return b << 10 | (g >> 1) << 5 | r;
    case 2: return qxSwap16(r << 10 | (g >> 1) << 5 | b);
    case 3: return qxSwap16(b << 10 | (g >> 1) << 5 | r);
    case 5: return b << 11 | g << 5 | r;
    case 6: return qxSwap16(p);
    case 7: return qxSwap16(b << 11 | g << 5 | r);
    default: return p;
    }
}

uint32_t qxFromLayout16(uint32_t code, uint32_t w)
{
    w &= 0xFFFF;
    if (code == 2 || code == 3 || code == 6 || code == 7) w = qxSwap16(w);
    switch (code) {
    case 0: case 2: return ((w >> 10) & 31) << 11 | ((w >> 5) & 31) << 6 | (w & 31);
    case 1: case 3: return (w & 31) << 11 | ((w >> 5) & 31) << 6 | ((w >> 10) & 31);
    case 5: case 7: return (w & 31) << 11 | (w & 0x07E0) | ((w >> 11) & 31);
    case 6: return w;
    default: return w;
    }
}

uint32_t qxColorToPixel(uint32_t c, uint32_t format, int keepAlpha)
{
    uint32_t a = keepAlpha ? c >> 24 : 0, r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
    switch (format) {
    case 0: case 1: case 2: case 3: {
        uint32_t hi = format & 1 ? b : r, lo = format & 1 ? r : b;
        uint32_t p = (hi >> 3) << 10 | (g >> 3) << 5 | lo >> 3;
        return format >= 2 ? qxSwap16(p) : p;
    }
    case 4: case 5: case 6: case 7: {
        uint32_t hi = format & 1 ? b : r, lo = format & 1 ? r : b;
        uint32_t p = (hi >> 3) << 11 | (g >> 2) << 5 | lo >> 3;
        return format >= 6 ? qxSwap16(p) : p;
    }
    case 8: return c & 0xFFFFFF;
    case 9: return b << 16 | g << 8 | r;
    case 10: return a << 24 | (c & 0xFFFFFF);
    case 11: return b << 24 | g << 16 | r << 8 | a;
    case 12: return r << 24 | g << 16 | b << 8 | a;
    case 13: return a << 24 | b << 16 | g << 8 | r;
    default: return 0;
    }
}

uint32_t qxPixelToColor(uint32_t p, uint32_t format, int keepAlpha)
{
    uint32_t a = 0, r = 0, g = 0, b = 0;
    switch (format) {
    case 0: case 1: case 2: case 3: {
        if (format >= 2) p = qxSwap16(p);
        uint32_t hi = ((p >> 10) & 31) << 3, lo = (p & 31) << 3;
        g = ((p >> 5) & 31) << 3;
        r = format & 1 ? lo : hi;
        b = format & 1 ? hi : lo;
        break;
    }
    case 4: case 5: case 6: case 7: {
        if (format >= 6) p = qxSwap16(p);
        uint32_t hi = ((p >> 11) & 31) << 3, lo = (p & 31) << 3;
        g = ((p >> 5) & 63) << 2;
        r = format & 1 ? lo : hi;
        b = format & 1 ? hi : lo;
        break;
    }
    case 8: return p & 0xFFFFFF;
    case 9: return (p & 0xFF) << 16 | (p & 0xFF00) | ((p >> 16) & 0xFF);
    case 10: a = p >> 24; r = (p >> 16) & 0xFF; g = (p >> 8) & 0xFF; b = p & 0xFF; break;
    case 11: b = p >> 24; g = (p >> 16) & 0xFF; r = (p >> 8) & 0xFF; a = p & 0xFF; break;
    case 12: r = p >> 24; g = (p >> 16) & 0xFF; b = (p >> 8) & 0xFF; a = p & 0xFF; break;
    case 13: a = p >> 24; b = (p >> 16) & 0xFF; g = (p >> 8) & 0xFF; r = p & 0xFF; break;
    default: return 0;
    }
    return (keepAlpha ? a << 24 : 0) | r << 16 | g << 8 | b;
}

void qxUnpackPixel(const void *pixel, uint32_t code, int32_t out[4])
{
    if (code <= 7) {
        uint16_t w;
        std::memcpy(&w, pixel, 2);
        uint32_t n = qxFromLayout16(code, w);
        out[0] = int32_t(r5(n) << 3);
        out[1] = int32_t(code <= 3 ? (g6(n) >> 1) << 3 : g6(n) << 2);
        out[2] = int32_t(b5(n) << 3);
    } else if (code >= 10 && code <= 13) {
        uint32_t w;
        std::memcpy(&w, pixel, 4);
        uint32_t c = qxPixelToColor(w, code, 1);
        out[0] = int32_t((c >> 16) & 0xFF);
        out[1] = int32_t((c >> 8) & 0xFF);
        out[2] = int32_t(c & 0xFF);
        out[3] = int32_t(c >> 24);
    }
}

void qxPackPixel(void *pixel, uint32_t code, const int32_t in[4])
{
    uint32_t c = uint32_t(in[0] & 0xFF) << 16 | uint32_t(in[1] & 0xFF) << 8 | uint32_t(in[2] & 0xFF);
    if (code <= 7) {
        uint16_t w = uint16_t(qxColorToPixel(c, code, 0));
        std::memcpy(pixel, &w, 2);
    } else if (code >= 10 && code <= 13) {
        uint32_t w = qxColorToPixel(c | uint32_t(in[3] & 0xFF) << 24, code, 1);
        std::memcpy(pixel, &w, 4);
    }
}

void qxConvertPixels32(const qxConvertRecord *r)
{
    if (!r || !valid2(r->width, r->height) || r->layout < 10 || r->layout > 13) return;
    auto *s = static_cast<const uint32_t *>(r->source) + int64_t(r->sy) * r->sourcePitch + r->sx;
    auto *d = static_cast<uint32_t *>(r->destination) + int64_t(r->dy) * r->destPitch + r->dx;
    for (int32_t y = 0; y < r->height; ++y, s += r->sourcePitch, d += r->destPitch) {
        if (r->layout == 10)
            std::memmove(d, s, size_t(r->width) * 4);
        else
            for (int32_t x = 0; x < r->width; ++x) d[x] = qxToLayout32(r->layout, s[x]);
    }
}

void qxConvertPixels16(const qxConvertRecord *r)
{
    if (!r || !valid2(r->width, r->height) || r->layout > 7) return;
    auto *s = static_cast<const uint32_t *>(r->source) + int64_t(r->sy) * r->sourcePitch + r->sx;
    auto *d = static_cast<uint16_t *>(r->destination) + int64_t(r->dy) * r->destPitch + r->dx;
    for (int32_t y = 0; y < r->height; ++y, s += r->sourcePitch, d += r->destPitch)
        for (int32_t x = 0; x < r->width; ++x) d[x] = uint16_t(qxColorToPixel(s[x], r->layout, 0));
}

void qxExpandToArgb(const void *base, uint32_t *dst, const int32_t rect[4], int32_t pitch, uint32_t bpp,
                    uint32_t code)
{
    if (!base || !dst || !rect || !valid2(rect[2], rect[3])) return;
    int32_t w = rect[2];
    if (code == 4 && bpp == 2) {
        auto *s = static_cast<const uint16_t *>(base) + int64_t(rect[1]) * pitch + rect[0];
        for (int32_t y = 0; y < rect[3]; ++y, s += pitch, dst += w)
            for (int32_t x = 0; x < w; ++x) dst[x] = qxRed16(s[x]) << 16 | qxGreen16(s[x]) << 8 | qxBlue16(s[x]);
        return;
    }
    if (code < 10 || code > 13 || bpp != 4) return;
    auto *s = static_cast<const uint32_t *>(base) + int64_t(rect[1]) * pitch + rect[0];
    for (int32_t y = 0; y < rect[3]; ++y, s += pitch, dst += w) {
        switch (code) {
        case 10: std::memcpy(dst, s, size_t(w) * 4); break;
        case 11: for (int32_t x = 0; x < w; ++x) dst[x] = bswap32(s[x]); break;
        case 12: for (int32_t x = 0; x < w; ++x) dst[x] = s[x] >> 8; break;
        default: for (int32_t x = 0; x < w; ++x) dst[x] = bswap32(s[x]) >> 8; break;
        }
    }
}

void qxExtractAlphaPlane(const uint32_t *argb, int32_t width, int32_t height, int32_t pitch, uint8_t *plane,
                         int32_t row)
{
    if (!argb || !plane || !valid2(width, height)) return;
    for (int32_t y = 0; y < height; ++y, argb += pitch, plane += row)
        for (int32_t x = 0; x < width; ++x) plane[x] = uint8_t(argb[x] >> 24);
}
}
