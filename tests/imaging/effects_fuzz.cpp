// Every effect front-end and kernel on small random bitmaps with random
// parameters, NaN, infinities and huge values among them. Under ASan no
// byte outside a plane may be touched, and libFuzzer's per-input timeout
// turns a hang into a failure.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapeffects.h"
#include "display/qx_bitmaptransform.h"
#include "imaging/qx_areaeffects.h"
#include "imaging/qx_colorkeys.h"
#include "imaging/qx_floodfill.h"
#include "imaging/qx_transitionkernels.h"

namespace {

struct Reader {
    const uint8_t *p;
    size_t n;
    uint32_t u8() { return n ? (--n, *p++) : 0; }
    uint32_t u32() { return u8() | u8() << 8 | u8() << 16 | u8() << 24; }
    int32_t i32() { return int32_t(u32()); }
    int32_t small() { return int32_t(u8() % 80) - 10; }
    double number()
    {
        static const double special[] = {std::numeric_limits<double>::quiet_NaN(), INFINITY, -INFINITY, 1e300, -1e300,
                                         1e12, 1e4, 0, -0.0, 1, 0.5, 1e-11, 2, 359.5, -720, 6.2831853};
        uint32_t k = u8();
        if (k < 16) return special[k];
        return double(int32_t(u32())) / double(1 + u8());
    }
};

struct Set {
    qxBitMap *pix = nullptr, *mask = nullptr, *alpha = nullptr;
    int32_t w = 0, h = 0;
    void make(Reader &r)
    {
        w = int32_t(1 + r.u8() % 24), h = int32_t(1 + r.u8() % 24);
        pix = qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr);
        mask = qxAllocMaskBitMap(pix, uint32_t(w), uint32_t(h), 1, nullptr, 0);
        alpha = qxAllocAlphaBitMap(uint32_t(w + int32_t(r.u8() % 3)), uint32_t(h), 1, nullptr, 0);
        for (int i = 0; i < 6; ++i)
            qxRectFill(pix, r.small(), r.small(), r.small(), r.small(), r.u32());
        qxFillBitMapRect(alpha, 0, 0, w, h, r.u8());
    }
    ~Set() { qxFreeBitMap(pix), qxFreeMaskBitMap(mask), qxFreeAlphaBitMap(alpha); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Reader r{data, size};
    static const uint32_t formats[] = {0, 3, 4, 7, 8, 10, 11, 12, 13};
    qxScreenPixelFormat = formats[r.u8() % 9];
    Set a;
    a.make(r);
    int32_t w = r.small(), h = r.small();
    switch (r.u8() % 25) {
    case 0: qxGrayBitmap(a.pix, w, h, int(r.u8() & 1), nullptr); break;
    case 1: qxInvertBitmap(a.pix, w, h, nullptr); break;
    case 2: qxSolarizeBitmap(a.pix, w, h, r.i32()); break;
    case 3: qxGammaBitmap(a.pix, w, h, r.number(), r.number(), r.number()); break;
    case 4: qxContrastBitmap(a.pix, w, h, int(r.u8() & 1), r.i32() % 2000, nullptr); break;
    case 5: qxModulateBitmap(a.pix, w, h, r.number(), r.number(), r.number()); break;
    case 6: qxSepiaBitmap(a.pix, w, h, r.i32()); break;
    case 7: qxNormalizeBitmap(a.pix, w, h, r.i32(), r.i32(), nullptr); break;
    case 8: qxTintBitmap(a.pix, r.small(), r.small(), w, h, r.u32(), r.u8()); break;
    case 9: {
        Set b;
        b.make(r);
        qxMixBitmaps(a.pix, b.pix, r.u8() & 1 ? b.mask : nullptr, r.small(), r.small(), r.small(), r.small(), w, h,
                     r.i32(), r.u8() & 1 ? b.alpha : nullptr, r.small(), r.small());
        break;
    }
    case 10: {
        static const uint32_t modes[] = {'b', 's', 'g', 'e', 'x'};
        qxConvolve(modes[r.u8() % 5], r.u8() & 1 ? a.pix : nullptr, r.u8() & 1 ? a.alpha : nullptr, w, h, nullptr,
                   r.number(), r.number());
        break;
    }
    case 11: qxCharcoalBitmap(a.pix, a.alpha, w, h, r.number(), r.number()); break;
    case 12:
        qxFreeAlphaBitMap(qxMakeShadowBitmap(r.u8() & 1 ? a.alpha : nullptr, r.u8() & 1 ? a.mask : nullptr, r.small(),
                                             r.small(), w, h, r.u8(), int(r.u8() & 1), int(r.u8() & 1),
                                             std::fmod(r.number(), 40.0), r.number()));
        break;
    case 13: qxFlipBitmap(r.u8() & 1 ? a.pix : nullptr, a.mask, a.alpha, w, h, int(r.u8() & 1)); break;
    case 14: qxFreeMaskBitMap(qxSetBitmapTransparency(a.pix, w, h, r.u32())); break;
    case 15: qxOilPaintBitmap(a.pix, w, h, r.number()); break;
    case 16: {
        qxBitMapLock l;
        if (!qxLockBitMap(a.pix, 0, &l)) break;
        qxFloodFillArea f{l.pixels, w, h, l.pixelsPerRow, r.u32(), r.u32(), r.small(), r.small()};
        // The fill area must lie inside the plane: the caller's promise.
        if (f.left >= 0 && f.top >= 0 && w > 0 && h > 0 && f.left + w <= int32_t(l.width) &&
            f.top + h <= int32_t(l.height)) {
            if (l.bytesPerPixel == 4) qxFloodFill32(&f, r.small(), r.small(), r.u32());
            else if (l.bytesPerPixel == 2) qxFloodFill16(&f, r.small(), r.small());
        }
        qxUnLockBitMap(&l);
        break;
    }
    case 17: {
        int32_t sw = 1 + int32_t(r.u8() % 30), sh = 1 + int32_t(r.u8() % 30), dw = 1 + int32_t(r.u8() % 30),
                dh = 1 + int32_t(r.u8() % 30);
        int32_t cw = (sw + 1) / 2, ch = (sh + 1) / 2;
        std::vector<uint8_t> Y(size_t(sw * sh), uint8_t(r.u8())), U(size_t(cw * ch), uint8_t(r.u8())), V(U);
        uint32_t layout = r.u8() % 16, bpp = layout <= 7 ? 2 : layout <= 9 ? 3 : 4;
        std::vector<uint8_t> out(size_t(std::max(sw, dw) * std::max(sh, dh)) * bpp);
        qxVideoFrameRecord v{{Y.data(), U.data(), V.data()}, {sw, cw, cw}, out.data(), sw, sh, dw, dh,
                             std::max(sw, dw), layout, bpp};
        qxVideoFrameConvert(&v);
        qxVideoFrameConvert2(&v);
        break;
    }
    case 18: {
        int32_t W = 1 + int32_t(r.u8() % 20), H = 1 + int32_t(r.u8() % 20), n = int32_t(r.u8() % 10);
        std::vector<uint32_t> s(size_t(W * H), 1), d(size_t(W * H), 0);
        std::vector<double> angles(static_cast<size_t>(n));
        for (auto &x : angles) x = r.number();
        qxCopyRecord c{};
        c.source = s.data(), c.destination = d.data(), c.angles = angles.data(), c.sourcePitch = W, c.destPitch = W;
        c.width = W, c.height = H, c.orientation = r.u8() & 1, c.count = n, c.position = r.i32() % 100;
        c.bytesPerPixel = r.u8() & 1 ? 2 : 4;
        qxRollKernel(&c);
        std::vector<uint8_t> map(size_t(W * H), uint8_t(r.u8())), dst(size_t(W * H));
        qxDissolveRecord dr{nullptr, dst.data(), W, H, 0, (W + 7) / 8, map.data(), r.u8() & 1, r.u8() & 1};
        if (dr.alphaMode) dr.destBytesPerRow = W;
        qxDissolveKernel(&dr, r.i32());
        break;
    }
    case 19: qxPixelateBitmap(a.pix, r.u8() & 1 ? a.mask : nullptr, r.u8() & 1 ? a.alpha : nullptr, w, h, r.i32()); break;
    case 20: qxSwirlBitmap(a.pix, r.u8() & 1 ? a.mask : nullptr, r.u8() & 1 ? a.alpha : nullptr, w, h, r.number()); break;
    case 21:
        qxWaterRippleBitmap(a.pix, r.u8() & 1 ? a.mask : nullptr, r.u8() & 1 ? a.alpha : nullptr, w, h, r.number(),
                            r.number(), r.number(), r.number(), r.number());
        break;
    case 22: {
        double m[4] = {r.number(), r.number(), r.number(), r.number()};
        for (double &v : m)
            if (std::isfinite(v)) v = std::fmod(v, 8.0); // results stay small
        qxBitMap *b = nullptr, *mk = nullptr, *al = nullptr;
        int32_t ow = 0, oh = 0;
        qxTransformPixels(a.pix, r.u8() & 1 ? a.mask : nullptr, r.u8() & 1 ? a.alpha : nullptr, r.small(), r.small(),
                          w, h, m, r.u8() & 1, 0, &b, &mk, &al, &ow, &oh);
        qxFreeBitMap(b), qxFreeMaskBitMap(mk), qxFreeAlphaBitMap(al);
        break;
    }
    case 23: {
        static const uint32_t methods[] = {4, 9, 10, 12, 0};
        uint32_t n = r.u8() % 18;
        std::vector<double> args(n);
        // Large finite values make legitimately large outputs (up to 2^26
        // pixels): slow, not wrong. NaN and infinities still go through.
        for (auto &v : args)
            if (std::fabs(v = r.number()) > 300) v = std::fmod(v, 300.0);
        qxBitMap *b = nullptr, *mk = nullptr, *al = nullptr;
        int32_t ow = 0, oh = 0;
        qxDistortBitmap(a.pix, r.u8() & 1 ? a.mask : nullptr, r.u8() & 1 ? a.alpha : nullptr, w, h,
                        methods[r.u8() % 5], n, args.data(), r.u8() & 1, &b, &mk, &al, &ow, &oh);
        qxFreeBitMap(b), qxFreeMaskBitMap(mk), qxFreeAlphaBitMap(al);
        break;
    }
    default: qxIntSqrt(int64_t(r.i32())); break;
    }
    return 0;
}
