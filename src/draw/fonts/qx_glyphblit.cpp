// Glyph blitting kernels: one small loop per source format, written so the
// compiler vectorises the row bodies; clipping is done once per glyph.
#include <algorithm>
#include <array>
#include <cstring>
#include <cstdlib>

#include "display/qx_bitmap.h"
#include "draw/fonts/qx_font.h"
#include "imaging/qx_blendrows.h"

namespace {

// Trims the glyph rectangle to the clip rectangle and the target; false
// when nothing is left. sx, sy: the source offsets moved by the trims.
bool clipGlyph(const qxGlyphTarget *t, const qxGlyphClip *c, int32_t &x, int32_t &y, int32_t &w, int32_t &h,
               int32_t &sx, int32_t &sy) {
    int32_t x0 = std::max(c ? c->x0 : 0, 0), y0 = std::max(c ? c->y0 : 0, 0);
    int32_t x1 = std::min(c ? c->x1 : t->width, t->width), y1 = std::min(c ? c->y1 : t->height, t->height);
    sx = sy = 0;
    if (x < x0) sx = x0 - x, w -= sx, x = x0;
    if (y < y0) sy = y0 - y, h -= sy, y = y0;
    w = std::min(w, x1 - x);
    h = std::min(h, y1 - y);
    return w > 0 && h > 0;
}

void coverRow(uint8_t *__restrict d, const uint8_t *__restrict s, int32_t n) {
    for (int32_t i = 0; i < n; ++i) d[i] = s[i] ? s[i] : d[i];
}

// A colour glyph's source: its image rows and, once realised, the mask
// plane; without a mask the key colour marks the transparent pixels.
struct ColourSource {
    const uint32_t *image;
    int32_t imagePitch; // pixels
    const uint8_t *mask;
    int32_t maskPitch; // bytes
};

// The glyph keeps its own colours: pixels under the mask are copied, and
// with coverage asked for (colour -1) the mask is ORed into the coverage
// plane. Pixels outside the mask stay as they are, so that a glyph drawn
// again one pixel to the right (bold) keeps the colours of the first.
void blitColourGlyph(const qxGlyphTarget *t, const qxGlyphClip *clip, int32_t x, int32_t y, const ColourSource &s,
                     int32_t first, int32_t w, int32_t h, bool coverage) {
    int32_t sx, sy;
    if (!clipGlyph(t, clip, x, y, w, h, sx, sy)) return;
    for (int32_t r = 0; r < h; ++r) {
        const uint32_t *src = s.image + int64_t(sy + r) * s.imagePitch + first + sx;
        const uint8_t *m = s.mask ? s.mask + int64_t(sy + r) * s.maskPitch : nullptr;
        uint32_t *dst = t->pixels ? t->pixels + int64_t(y + r) * t->pixelsPerRow + x : nullptr;
        uint8_t *cov = coverage && t->coverage ? t->coverage + int64_t(y + r) * t->coverageBytesPerRow + x : nullptr;
        for (int32_t i = 0; i < w; ++i) {
            int32_t bit = first + sx + i;
            bool on = m ? (m[bit >> 3] & (0x80 >> (bit & 7))) != 0 : (src[i] & 0xFFFFFF) != QX_FONT_KEYCOLOR;
            if (dst && on) dst[i] = 0xFF000000u | src[i];
            if (cov && on) cov[i] = 255;
        }
    }
}

} // namespace

extern "C" void qxBlitGlyphA8(const qxGlyphTarget *t, const qxGlyphClip *clip, int32_t x, int32_t y,
                              const uint8_t *src, int32_t pitch, int32_t w, int32_t h, int64_t colour) {
    int32_t sx, sy;
    if (!clipGlyph(t, clip, x, y, w, h, sx, sy)) return;
    if (colour == -1) {
        if (!t->coverage) return;
        for (int32_t r = 0; r < h; ++r)
            coverRow(t->coverage + int64_t(y + r) * t->coverageBytesPerRow + x, src + int64_t(sy + r) * pitch + sx, w);
        return;
    }
    if (!t->pixels) return;
    uint32_t solid[256];
    std::fill_n(solid, 256, 0xFF000000u | uint32_t(colour));
    for (int32_t r = 0; r < h; ++r)
        for (int32_t done = 0; done < w; done += 256)
            qxBlendRow32(t->pixels + int64_t(y + r) * t->pixelsPerRow + x + done, solid,
                         src + int64_t(sy + r) * pitch + sx + done, std::min(256, w - done));
}

extern "C" void qxBlitGlyphMono(const qxGlyphTarget *t, const qxGlyphClip *clip, int32_t x, int32_t y,
                                const uint8_t *src, int32_t pitch, int32_t firstBit, int32_t w, int32_t h,
                                int64_t colour) {
    int32_t sx, sy;
    if (!clipGlyph(t, clip, x, y, w, h, sx, sy)) return;
    if (colour == -1 ? !t->coverage : !t->pixels) return;
    // Coverage from byte-aligned rows: eight pixels per table entry.
    if (colour == -1 && ((firstBit + sx) & 7) == 0) {
        static const auto spread = [] {
            std::array<uint64_t, 256> table{};
            for (int v = 0; v < 256; ++v)
                for (int b = 0; b < 8; ++b)
                    if (v & (0x80 >> b)) table[size_t(v)] |= uint64_t(0xFF) << (8 * b);
            return table;
        }();
        const int32_t full = w / 8, first = (firstBit + sx) >> 3;
        for (int32_t r = 0; r < h; ++r) {
            const uint8_t *row = src + int64_t(sy + r) * pitch + first;
            uint8_t *dst = t->coverage + int64_t(y + r) * t->coverageBytesPerRow + x;
            for (int32_t k = 0; k < full; ++k) {
                if (!row[k]) continue;
                uint64_t d;
                std::memcpy(&d, dst + 8 * k, 8);
                d |= spread[row[k]];
                std::memcpy(dst + 8 * k, &d, 8);
            }
            for (int32_t i = full * 8; i < w; ++i)
                if (row[i >> 3] & (0x80 >> (i & 7))) dst[i] = 255;
        }
        return;
    }
    for (int32_t r = 0; r < h; ++r) {
        const uint8_t *row = src + int64_t(sy + r) * pitch;
        for (int32_t i = 0; i < w; ++i) {
            int32_t bit = firstBit + sx + i;
            if (!(row[bit >> 3] & (0x80 >> (bit & 7)))) continue;
            if (colour == -1) t->coverage[int64_t(y + r) * t->coverageBytesPerRow + x + i] = 255;
            else t->pixels[int64_t(y + r) * t->pixelsPerRow + x + i] = 0xFF000000u | uint32_t(colour);
        }
    }
}

extern "C" int qxBitmapFontDrawText(qxFontHandle *handle, const qxGlyphTarget *target, int32_t x, int32_t y,
                                    const char *text, size_t length, uint32_t, int encoding, const qxGlyphClip *clip,
                                    int64_t colour) {
    const auto *f = static_cast<const qxBitmapFont *>(handle->backend);
    if (!f) return 0;
    const bool colourFont = handle->kind == QX_FONT_COLORBITMAP;
    if (!colourFont && (handle->kind != QX_FONT_BITMAP || !f->strip)) return 0;
    ColourSource cs{};
    qxBitMapLock il{}, ml{};
    if (colourFont) {
        if (handle->colorImage && handle->colorMask) {
            if (qxLockBitMap(handle->colorImage, 0, &il) && il.pixels && il.bytesPerPixel == 4 &&
                qxLockBitMap(handle->colorMask, 0, &ml) && ml.pixels)
                cs = {static_cast<const uint32_t *>(il.pixels), int32_t(il.pixelsPerRow),
                      static_cast<const uint8_t *>(ml.pixels), int32_t(ml.pixelsPerRow)};
        } else if (handle->pendingPixels) {
            cs = {handle->pendingPixels, handle->pendingWidth, nullptr, 0};
        }
        if (!cs.image) {
            if (ml.handle) qxUnLockBitMap(&ml);
            if (il.handle) qxUnLockBitMap(&il);
            return 0;
        }
    }
    char local[512], *allocated = nullptr;
    const char *bytes;
    size_t n;
    if (int r = qxBitmapFontBytes(text, length, encoding, local, sizeof local, &bytes, &n, &allocated)) {
        if (ml.handle) qxUnLockBitMap(&ml);
        if (il.handle) qxUnLockBitMap(&il);
        return r;
    }
    int32_t pen = 0;
    for (size_t i = 0; i < n; ++i) {
        uint32_t ch = uint8_t(bytes[i]);
        uint32_t g = qxBitmapFontGlyph(f, ch);
        pen += f->kern ? f->kern[g] : 0;
        uint32_t loc = f->location[g];
        if (colourFont)
            blitColourGlyph(target, clip, x + pen, y, cs, int32_t(loc >> 16), int32_t(loc & 0xFFFF), f->ySize,
                            colour == -1);
        else
            qxBlitGlyphMono(target, clip, x + pen, y, f->strip, f->modulo, int32_t(loc >> 16),
                            int32_t(loc & 0xFFFF), f->ySize, colour);
        pen += f->space ? f->space[g] : f->xSize;
    }
    free(allocated);
    if (ml.handle) qxUnLockBitMap(&ml);
    if (il.handle) qxUnLockBitMap(&il);
    return 0;
}
