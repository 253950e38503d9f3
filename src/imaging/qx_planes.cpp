// Colour through coverage planes, alpha-plane and mask combination, and
// palette rows.
#include <algorithm>

#include "imaging/qx_blit.h"
#include "imaging/qx_pixelformat.h"

namespace {

bool empty(int32_t w, int32_t h) { return w < 1 || h < 1; }

template <typename P> struct Native;
template <> struct Native<uint32_t> {
    static uint32_t from(uint32_t l, uint32_t v) { return qxFromLayout32(l, v); }
    static uint32_t to(uint32_t l, uint32_t v) { return qxToLayout32(l, v); }
    static uint32_t blend(uint32_t s, uint32_t d, int32_t a) { return qxBlend32(s, d, a); }
};
template <> struct Native<uint16_t> {
    static uint32_t from(uint32_t l, uint32_t v) { return qxFromLayout16(l, v); }
    static uint32_t to(uint32_t l, uint32_t v) { return qxToLayout16(l, v); }
    static uint32_t blend(uint32_t s, uint32_t d, int32_t a) { return qxBlend16(s, d, a); }
};

template <typename P> void alphaChannel(const qxAlphaChannelRecord *r)
{
    if (!r || empty(r->width, r->height) || !r->destination) return;
    if (r->mode == 3 ? !r->coverage16 : !r->coverage) return;
    using N = Native<P>;
    for (int32_t y = 0; y < r->height; ++y) {
        P *d = static_cast<P *>(r->destination) + int64_t(r->dy + y) * r->destPitch + r->dx;
        const P *tex = r->texture ? static_cast<const P *>(r->texture) + int64_t(r->dy + y) * r->texturePitch + r->dx
                                  : nullptr;
        uint8_t *da = r->destAlpha ? r->destAlpha + int64_t(r->dy + y) * r->destAlphaBytesPerRow + r->dx : nullptr;
        const uint8_t *cov = r->mode == 3 ? nullptr : r->coverage + int64_t(r->cy + y) * r->coverageBytesPerRow + r->cx;
        const uint16_t *cov16 =
            r->mode == 3 ? r->coverage16 + int64_t(r->cy + y) * r->coverage16Pitch + r->cx : nullptr;
        for (int32_t x = 0; x < r->width; ++x) {
            uint32_t c = cov ? cov[x] : (cov16[x] & 0xFF);
            if (!c) continue;
            uint32_t colour = tex ? tex[x] : P(r->colour);
            auto blendBy = [&](int32_t a) {
                d[x] = P(N::to(r->layout, N::blend(N::from(r->layout, colour), N::from(r->layout, d[x]), a)));
            };
            switch (r->mode) {
            case 1:
                if (c == 255) d[x] = P(colour);
                else blendBy(int32_t(c));
                break;
            case 4:
                if (c == 64) d[x] = P(colour);
                else blendBy(int32_t(c * 4));
                break;
            case 2:
            case 3:
                if (!da) {
                    blendBy(int32_t(c));
                } else if (da[x]) {
                    blendBy(int32_t(c));
                    int32_t a = int32_t(da[x]);
                    da[x] = uint8_t(uint32_t(((int32_t(c) * (int32_t(c) - a)) >> 8) + a) * r->factor / 255);
                } else {
                    d[x] = P(colour);
                    da[x] = uint8_t(c * r->factor / 255);
                }
                break;
            default: d[x] = P(colour); break;
            }
        }
    }
}

inline uint8_t alphaOp(int32_t mode, uint32_t s, uint32_t d, uint32_t value)
{
    switch (mode) {
    case 1: return uint8_t(s ? s : d);
    case 2: return uint8_t(s ? 255 - s : d);
    case 3: return uint8_t(s ? 255 : d);
    case 4: return uint8_t(s ? s * value / 255 : d);
    case 5: return uint8_t(s && d ? 255 - s : d);
    case 6: return uint8_t(s ? value & 0xFF : d);
    case 7: return uint8_t(s && d ? s : 0);
    case 8: return uint8_t(s == 255 ? 255 : d);
    case 9:
        if (s == 255) return 255;
        if (!s) return uint8_t(d);
        return uint8_t(std::min<uint32_t>((255 * s + (255 - s) * d + 127) / 255, 255));
    default: return uint8_t(s);
    }
}

inline uint32_t nibble(uint32_t v) { return (v & 15) * 17; }

} // namespace

extern "C" {

void qxBltAlphaChannel16(const qxAlphaChannelRecord *r) { alphaChannel<uint16_t>(r); }
void qxBltAlphaChannel32(const qxAlphaChannelRecord *r) { alphaChannel<uint32_t>(r); }

void qxBlitPixels(const qxAlphaBlitRecord *r)
{
    if (!r || empty(r->width, r->height) || !r->source || !r->destination) return;
    const uint8_t *s = r->source + int64_t(r->sy) * r->sourceBytesPerRow + r->sx;
    uint8_t *d = r->destination + int64_t(r->dy) * r->destBytesPerRow + r->dx;
    for (int32_t y = 0; y < r->height; ++y, s += r->sourceBytesPerRow, d += r->destBytesPerRow) {
        if (r->mode <= 0 || r->mode > 9) {
            std::copy(s, s + r->width, d);
            continue;
        }
        for (int32_t x = 0; x < r->width; ++x) d[x] = alphaOp(r->mode, s[x], d[x], r->value);
    }
}

void qxAlphaToMaskBits(const qxPlaneRef *alpha, const qxPlaneRef *mask, int32_t width, int32_t height, int32_t mode)
{
    if (!alpha || !mask || !alpha->bytes || !mask->bytes || empty(width, height) || mode == 4) return;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t *a = alpha->bytes + int64_t(alpha->y + y) * alpha->bytesPerRow + alpha->x;
        uint8_t *m = mask->bytes + int64_t(mask->y + y) * mask->bytesPerRow;
        for (int32_t x = 0; x < width; ++x) {
            bool opaque = a[x] == 255;
            int64_t bit = int64_t(mask->x) + x;
            switch (mode) {
            case 1: qxSetMaskBit(m, bit, !opaque); break;
            case 3: if (opaque) qxSetMaskBit(m, bit, !qxMaskBit(m, bit)); break;
            case 5: if (opaque) qxSetMaskBit(m, bit, true); break;
            case 0: case 2: qxSetMaskBit(m, bit, opaque); break;
            default: break;
            }
        }
    }
}

void qxExpandMaskBits(const qxPlaneRef *mask, const qxPlaneRef *plane, int32_t width, int32_t height, uint32_t value)
{
    if (!mask || !plane || !mask->bytes || !plane->bytes || empty(width, height)) return;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t *m = mask->bytes + int64_t(mask->y + y) * mask->bytesPerRow;
        uint8_t *p = plane->bytes + int64_t(plane->y + y) * plane->bytesPerRow + plane->x;
        for (int32_t x = 0; x < width; ++x)
            if (qxMaskBit(m, int64_t(mask->x) + x)) p[x] = uint8_t(value);
    }
}

void qxFillBytePlane(const qxPlaneRef *plane, int32_t width, int32_t height, uint32_t value)
{
    if (!plane || !plane->bytes || empty(width, height)) return;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t *p = plane->bytes + int64_t(plane->y + y) * plane->bytesPerRow + plane->x;
        std::fill(p, p + width, uint8_t(value));
    }
}

void qxSafeBltKernel(const uint8_t *clip, int32_t clipRow, int32_t clipX, int32_t clipY, int32_t clipW,
                     int32_t clipH, const qxPlaneRef *srcMask, const qxPlaneRef *srcAlpha, const qxPlaneRef *out,
                     int32_t width, int32_t height)
{
    if (!clip || !out || !out->bytes || empty(width, height)) return;
    const qxPlaneRef *src = srcAlpha && srcAlpha->bytes ? srcAlpha : srcMask && srcMask->bytes ? srcMask : nullptr;
    int32_t ox = src ? src->x : out->x, oy = src ? src->y : out->y;
    for (int32_t y = 0; y < height; ++y) {
        int32_t cy = oy + y - clipY;
        const uint8_t *crow = cy >= 0 && cy < clipH ? clip + int64_t(cy) * clipRow : nullptr;
        uint8_t *o = out->bytes + int64_t(out->y + y) * out->bytesPerRow;
        for (int32_t x = 0; x < width; ++x) {
            int32_t cx = ox + x - clipX;
            bool on = crow && cx >= 0 && cx < clipW && qxMaskBit(crow, cx);
            if (src == srcAlpha && src) {
                const uint8_t *a = srcAlpha->bytes + int64_t(srcAlpha->y + y) * srcAlpha->bytesPerRow + srcAlpha->x;
                o[out->x + x] = on ? a[x] : 0;
            } else {
                if (on && src)
                    on = qxMaskBit(srcMask->bytes + int64_t(srcMask->y + y) * srcMask->bytesPerRow,
                                   int64_t(srcMask->x) + x);
                qxSetMaskBit(o, int64_t(out->x) + x, on);
            }
        }
    }
}

void qxChunkyToARGB(const uint8_t *src, int32_t srcRow, uint32_t *dst, int32_t dstPitch, int32_t width,
                    int32_t height, const uint32_t *palette, int32_t mode)
{
    if (!src || !dst || !palette || empty(width, height)) return;
    for (int32_t y = 0; y < height; ++y, src += srcRow, dst += dstPitch) {
        uint32_t r, g, b;
        if (mode == 6) {
            r = nibble(palette[0] >> 20), g = nibble(palette[0] >> 12), b = nibble(palette[0] >> 4);
            for (int32_t x = 0; x < width; ++x) {
                uint32_t v = src[x];
                switch ((v >> 4) & 3) {
                case 0: {
                    uint32_t p = palette[v & 15];
                    r = nibble(p >> 20), g = nibble(p >> 12), b = nibble(p >> 4);
                    break;
                }
                case 1: b = nibble(v); break;
                case 2: r = nibble(v); break;
                default: g = nibble(v); break;
                }
                dst[x] = r << 16 | g << 8 | b;
            }
        } else if (mode == 8) {
            r = (palette[0] >> 16) & 0xFF, g = (palette[0] >> 8) & 0xFF, b = palette[0] & 0xFF;
            for (int32_t x = 0; x < width; ++x) {
                uint32_t v = src[x], six = (v & 63) << 2;
                switch (v >> 6) {
                case 0: {
                    uint32_t p = palette[v & 63];
                    r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
                    break;
                }
                case 1: b = six | (b & 3); break;
                case 2: r = six | (r & 3); break;
                default: g = six | (g & 3); break;
                }
                dst[x] = r << 16 | g << 8 | b;
            }
        } else {
            for (int32_t x = 0; x < width; ++x) dst[x] = palette[src[x]] & 0xFFFFFF;
        }
    }
}
}
