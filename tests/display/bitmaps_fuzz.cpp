// Random formats, sizes, rectangles and modes through the bitmap layer on
// small planes: clipping, every blit and blend road, fills, pixels, lines,
// masks and alpha planes, gradients, tiles and both scalers. Under ASan no
// byte outside a plane may be touched.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapplanes.h"
#include "display/qx_bitmapscale.h"
#include "display/qx_gfxgeom.h"
#include "imaging/qx_scale.h"

namespace {

struct Reader {
    const uint8_t *p;
    size_t n;
    uint32_t u8() { return n ? (--n, *p++) : 0; }
    uint32_t u16() { return u8() | u8() << 8; }
    int32_t coord() { return int32_t(u16() % 160) - 60; } // around and beyond small planes
    int32_t size() { return int32_t(u8() % 70) - 4; }
};

struct Set {
    qxBitMap *pix = nullptr, *mask = nullptr, *alpha = nullptr;
    void make(Reader &r)
    {
        uint32_t w = 1 + r.u8() % 40, h = 1 + r.u8() % 40;
        pix = qxAllocBitMap(w, h, 0, nullptr);
        mask = qxAllocMaskBitMap(r.u8() & 1 ? pix : nullptr, w + r.u8() % 3, h, 1, nullptr, 0);
        alpha = qxAllocAlphaBitMap(w + r.u8() % 3, h, 1, nullptr, 0);
        qxRectFill(pix, 0, 0, int32_t(w), int32_t(h), 0x12345678);
        qxFillBitMapRect(alpha, 0, 0, int32_t(w) + 3, int32_t(h), r.u8());
    }
    ~Set() { qxFreeBitMap(pix), qxFreeMaskBitMap(mask), qxFreeAlphaBitMap(alpha); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Reader r{data, size};
    // 2- and 4-byte layouts and the 3-byte ones that most kernels skip.
    static const int formats[] = {0, 3, 4, 7, 8, 10, 11, 12, 13};
    qxScreenPixelFormat = formats[r.u8() % 9];
    Set a, b;
    a.make(r);
    qxScreenPixelFormat = r.u8() & 1 ? qxScreenPixelFormat : formats[r.u8() % 9];
    b.make(r);
    for (int op = 0; op < 12 && r.n; ++op) {
        int32_t sx = r.coord(), sy = r.coord(), dx = r.coord(), dy = r.coord(), w = r.size(), h = r.size();
        uint32_t mode = r.u8(), colour = r.u16() * 0x10001u;
        switch (r.u8() % 16) {
        case 0: {
            int32_t cx = sx, cy = sy, cdx = dx, cdy = dy, cw = w, ch = h;
            qxClipRect clip{r.coord(), r.coord(), r.size(), r.size()};
            qxClipBltRect(&clip, &cx, &cy, &cdx, &cdy, &cw, &ch, int32_t(a.pix->width), int32_t(a.pix->height),
                          int32_t(b.pix->width), int32_t(b.pix->height), int(mode & 1));
            qxBltBitMapDirect(a.pix, cx, cy, b.pix, cdx, cdy, cw, ch);
            break;
        }
        case 1: qxBltBitMapDirect(a.pix, sx, sy, b.pix, dx, dy, w, h); break;
        case 2: qxBltBitMapMasked(a.pix, sx, sy, b.pix, dx, dy, w, h, a.mask); break;
        case 3: qxBltLockedBitMaps(a.pix, sx, sy, b.pix, dx, dy, w, h, a.alpha, b.alpha, int32_t(mode % 4)); break;
        case 4: qxRectFill(b.pix, dx, dy, w, h, colour); break;
        case 5:
            qxWritePixel(b.pix, dx, dy, colour, 0);
            qxWritePixel(b.mask, dx, dy, mode % 7, 1);
            break;
        case 6: qxDrawLine(b.pix, sx, sy, dx, dy, colour); break;
        case 7:
            BltAlphaChannel(a.alpha, sx, sy, b.pix, dx, dy, w, h, colour, int32_t(mode % 6), mode & 8 ? b.alpha : nullptr,
                            r.u8(), nullptr, 0, mode & 16 ? a.pix : nullptr, nullptr, 0);
            break;
        case 8: qxBltTemplate(a.mask, sx, sy, b.pix, dx, dy, w, h, colour, nullptr, 0); break;
        case 9:
            qxBltAlpha(a.alpha, sx, sy, b.alpha, dx, dy, w, h, int32_t(mode % 12), colour);
            qxMaskCopyOp(a.mask, sx, sy, b.mask, dx, dy, w, h, int32_t(mode % 8), nullptr, 0);
            break;
        case 10:
            qxAlphaToMask(a.alpha, sx, sy, b.mask, dx, dy, w, h, int32_t(mode % 7));
            qxMaskToAlpha(a.mask, sx, sy, b.alpha, dx, dy, w, h, colour);
            qxMaskRowOp(b.mask, dx, dy, w, h, int32_t(mode % 7));
            break;
        case 11: {
            qxGradient g{};
            g.type = 2 + int32_t(mode % 3), g.startColour = colour, g.endColour = ~colour, g.angle = sx * 7;
            g.centreX = (r.u8() % 200) / 100.0, g.centreY = (r.u8() % 200) / 100.0, g.middle = 0.3;
            g.sizeFactor = (r.u8() % 101) / 100.0, g.stopCount = int32_t(r.u8() % 4);
            for (int i = 0; i < g.stopCount; ++i) g.stops[i] = {colour * uint32_t(i), (r.u8() % 120) / 100.0};
            DrawGradient(b.pix, dx, dy, w, h, &g);
            break;
        }
        case 12: {
            qxBitMap *o = nullptr, *om = nullptr, *oa = nullptr;
            qxScalePixels(a.pix, a.mask, a.alpha, sx, sy, mode & 2 ? b.pix : nullptr, w, h, r.size(), r.size(), mode & 1,
                          0, &o, &om, &oa);
            if (!(mode & 2)) qxFreeBitMap(o), qxFreeMaskBitMap(om), qxFreeAlphaBitMap(oa);
            break;
        }
        case 13: qxTileFill(b.pix, dx, dy, w, h, a.pix, sx, sy, int32_t(a.pix->width), int32_t(a.pix->height), 0, 0); break;
        case 14: free(qxBitMapToARGBMasked(a.pix, sx, sy, w, h, a.mask, mode & 1 ? a.alpha : nullptr, colour, mode & 2, 0));
            break;
        default: {
            qxPoint pts[6];
            int32_t scratch[6];
            for (auto &p : pts) p = {r.coord(), r.coord()};
            qxFillMaskPolygon(b.mask, pts, 2 + int32_t(mode % 5), scratch);
            break;
        }
        }
    }
    return 0;
}
