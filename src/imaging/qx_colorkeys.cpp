// Colour keys, colour replacement and YUV video frames.
#include "imaging/qx_colorkeys.h"

#include "imaging/qx_pixelformat.h"

namespace {

int32_t clampByte(int64_t v) { return v < 0 ? 0 : v > 255 ? 255 : int32_t(v); }

// Stores 0xRRGGBB at pixel p of the given layout.
void storePixel(uint8_t *p, uint32_t layout, uint32_t rgb)
{
    uint32_t r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    switch (layout) {
    case 10: *reinterpret_cast<uint32_t *>(p) = rgb; return;
    case 11: *reinterpret_cast<uint32_t *>(p) = b << 24 | g << 16 | r << 8; return;
    case 12: *reinterpret_cast<uint32_t *>(p) = r << 24 | g << 16 | b << 8; return;
    case 13: *reinterpret_cast<uint32_t *>(p) = b << 16 | g << 8 | r; return;
    case 8: p[0] = uint8_t(r), p[1] = uint8_t(g), p[2] = uint8_t(b); return;
    case 9: p[0] = uint8_t(b), p[1] = uint8_t(g), p[2] = uint8_t(r); return;
    default:
        if (layout <= 7) *reinterpret_cast<uint16_t *>(p) = uint16_t(qxToLayout16(layout, qxPack16(r, g, b)));
    }
}

bool frameUsable(const qxVideoFrameRecord *r)
{
    return r && r->planes[0] && r->planes[1] && r->planes[2] && r->destination && r->sourceWidth > 0 &&
           r->sourceHeight > 0 && r->destWidth > 0 && r->destHeight > 0 && r->layout <= 13 &&
           r->bytesPerPixel == qxBytesPerPixel(r->layout) && r->bytesPerPixel > 0;
}

} // namespace

extern "C" {

void qxMaskFromColor32(const uint32_t *px, uint8_t *mask, int32_t w, int32_t h, int32_t mbpr, uint32_t key,
                       int32_t pitch, uint32_t cm)
{
    if (!px || !mask || w < 1 || h < 1) return;
    for (int32_t y = 0; y < h; ++y) {
        uint8_t *m = mask + int64_t(y) * mbpr;
        const uint32_t *row = px + int64_t(y) * pitch;
        for (int32_t x = 0; x < w; ++x) {
            uint8_t bit = uint8_t(0x80 >> (x & 7));
            if ((row[x] & cm) != key) m[x >> 3] |= bit;
            else m[x >> 3] &= uint8_t(~bit);
        }
    }
}

void qxMaskFromColor16(const uint16_t *px, uint8_t *mask, int32_t w, int32_t h, int32_t mbpr, uint32_t key,
                       int32_t pitch)
{
    if (!px || !mask || w < 1 || h < 1) return;
    for (int32_t y = 0; y < h; ++y) {
        uint8_t *m = mask + int64_t(y) * mbpr;
        const uint16_t *row = px + int64_t(y) * pitch;
        for (int32_t x = 0; x < w; ++x) {
            uint8_t bit = uint8_t(0x80 >> (x & 7));
            if (row[x] != key) m[x >> 3] |= bit;
            else m[x >> 3] &= uint8_t(~bit);
        }
    }
}

void qxReplaceColors32(int32_t w, int32_t h, const uint32_t *table, uint32_t *px, int32_t pitch, uint32_t cm)
{
    if (!table || !px || w < 1 || h < 1 || table[0] == 0xFFFFFFFFu) return;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint32_t &p = px[int64_t(y) * pitch + x];
            for (const uint32_t *t = table; t[0] != 0xFFFFFFFFu; t += 2)
                if ((p & cm) == t[0]) p = t[1];
        }
}

void qxReplaceColors16(int32_t w, int32_t h, const uint32_t *table, uint16_t *px, int32_t pitch)
{
    if (!table || !px || w < 1 || h < 1 || table[0] == 0xFFFFFFFFu) return;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint16_t &p = px[int64_t(y) * pitch + x];
            for (const uint32_t *t = table; t[0] != 0xFFFFFFFFu; t += 2)
                if (p == (t[0] & 0xFFFF)) p = uint16_t(t[1]);
        }
}

uint32_t qxYuvToRgb(int32_t y, int32_t u, int32_t v)
{
    int64_t Y = y, U = u, V = v;
    int32_t r = clampByte((1904000 * Y + 2609823 * V - 363703744) / 1635200);
    int32_t g = clampByte((3827562 * Y - 1287801 * U - 2672387 * V + 447306710) / 3287200);
    int32_t b = clampByte((952000 * Y + 1649289 * U - 225932192) / 817600);
    return uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
}

void qxVideoFrameConvert2(const qxVideoFrameRecord *r)
{
    if (!frameUsable(r)) return;
    auto *dst = static_cast<uint8_t *>(r->destination);
    for (int32_t y = 0; y < r->sourceHeight; ++y) {
        const uint8_t *yr = r->planes[0] + int64_t(y) * r->strides[0];
        const uint8_t *ur = r->planes[1] + int64_t(y >> 1) * r->strides[1];
        const uint8_t *vr = r->planes[2] + int64_t(y >> 1) * r->strides[2];
        uint8_t *d = dst + int64_t(y) * r->destPitch * r->bytesPerPixel;
        for (int32_t x = 0; x < r->sourceWidth; ++x)
            storePixel(d + int64_t(x) * r->bytesPerPixel, r->layout, qxYuvToRgb(yr[x], ur[x >> 1], vr[x >> 1]));
    }
}

void qxVideoFrameConvert(const qxVideoFrameRecord *r)
{
    if (!frameUsable(r)) return;
    auto *dst = static_cast<uint8_t *>(r->destination);
    int64_t step = int64_t(float(r->sourceWidth) / float(r->destWidth) * 65536.0f);
    float rowStep = float(r->sourceHeight) / float(r->destHeight), rowSum = 0;
    // The single-precision sums drift; rows and columns are clamped so
    // they never leave the planes.
    int32_t lastRow = r->sourceHeight - 1, lastCol = r->sourceWidth - 1;
    for (int32_t y = 0; y < r->destHeight; ++y, rowSum += rowStep) {
        int32_t sy = rowSum >= float(lastRow) ? lastRow : int32_t(rowSum);
        const uint8_t *yr = r->planes[0] + int64_t(sy) * r->strides[0];
        const uint8_t *ur = r->planes[1] + int64_t(sy >> 1) * r->strides[1];
        const uint8_t *vr = r->planes[2] + int64_t(sy >> 1) * r->strides[2];
        uint8_t *d = dst + int64_t(y) * r->destPitch * r->bytesPerPixel;
        int64_t acc = 0;
        for (int32_t x = 0; x < r->destWidth; ++x, acc += step) {
            int64_t lx = acc >> 16, cx = acc >> 17;
            if (lx > lastCol) lx = lastCol;
            if (cx > lastCol >> 1) cx = lastCol >> 1;
            storePixel(d + int64_t(x) * r->bytesPerPixel, r->layout, qxYuvToRgb(yr[lx], ur[cx], vr[cx]));
        }
    }
}
}
