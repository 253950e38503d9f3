// Layout converters against PIL, and the kernels whose rules pixman does not
// share against plain models written from the rules themselves.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "core/codecs/qx_crc32.h"
#include "imaging/qx_blit.h"
#include "imaging/qx_coloreffects.h"
#include "imaging/qx_convolverows.h"
#include "imaging/qx_gradient.h"
#include "imaging/qx_lines.h"
#include "imaging/qx_pixelformat.h"
#include "imaging/qx_scale.h"
#include "platform/qx_hooks.h"

namespace {

std::string run(const std::string &cmd)
{
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

std::string hex(const void *p, size_t n)
{
    std::string s;
    char b[3];
    for (size_t i = 0; i < n; ++i) snprintf(b, 3, "%02x", static_cast<const uint8_t *>(p)[i]), s += b;
    return s;
}

} // namespace

TEST(Layouts, ConverterCases)
{
    EXPECT_EQ(qxToLayout32(12, 0x80FF0000u), 0xFF000000u);
    EXPECT_EQ(qxFromLayout32(12, 0xFF000000u), 0x00FF0000u);
    EXPECT_EQ(qxToLayout16(0, 0xFFFF), 0x7FFFu);
    EXPECT_EQ(qxFromLayout16(0, 0x7FFF), 0xFFDFu);
    EXPECT_EQ(qxBytesPerPixel(14), 0u);
    EXPECT_EQ(qxPixelFormatDepth(99), 0u);
    // Every 16-bit layout goes to native and back whole, and agrees with the
    // colour converter on the fields it keeps.
    for (uint32_t code = 0; code <= 7; ++code)
        for (uint32_t p = 0; p < 0x10000; p += 7) {
            uint32_t native = p & (code <= 3 ? 0xFFDF : 0xFFFF);
            uint32_t l = qxToLayout16(code, native);
            ASSERT_EQ(qxFromLayout16(code, l), native) << code;
            ASSERT_EQ(qxColorToPixel(qxPixelToColor(native, 4, 0), code, 0), l) << code;
        }
    for (uint32_t code = 10; code <= 13; ++code) {
        uint32_t c = 0x12345678;
        EXPECT_EQ(qxPixelToColor(qxColorToPixel(c, code, 1), code, 1), c) << code;
        EXPECT_EQ(qxFromLayout32(code, qxToLayout32(code, c)), code == 10 ? c : c & 0xFFFFFF);
        uint8_t px[4];
        int32_t in[4] = {0x34, 0x56, 0x78, 0x12}, out[4] = {};
        qxPackPixel(px, code, in);
        qxUnpackPixel(px, code, out);
        EXPECT_EQ(std::vector<int32_t>(out, out + 4), std::vector<int32_t>(in, in + 4));
    }
}

// Random colours written by PIL in layouts 10, 12 and 13, and RGB16 words
// (native and byte-exchanged) decoded by PIL.
TEST(Layouts, GoldenAgainstPil)
{
    std::string out = run("/usr/bin/python3 -c \"\nimport random\nfrom PIL import Image\nrandom.seed(7)\n"
                          "d=bytes(random.randrange(256) for _ in range(4*64))\n"
                          "im=Image.frombytes('RGBA',(64,1),d)\n"
                          "w=bytes(random.randrange(256) for _ in range(2*64))\n"
                          "print(d.hex(),im.tobytes('raw','BGRA').hex(),im.tobytes('raw','ABGR').hex(),"
                          "im.tobytes('raw','RGBA').hex(),w.hex(),Image.frombytes('RGB',(64,1),w,'raw','BGR;16').tobytes().hex())\"");
    if (out.empty()) GTEST_SKIP() << "no PIL";
    char rgba[513], l10[513], l12[513], l13[513], words[257], dec[385];
    ASSERT_EQ(sscanf(out.c_str(), "%512s %512s %512s %512s %256s %384s", rgba, l10, l12, l13, words, dec), 6);
    auto bytes = [](const char *h) {
        std::vector<uint8_t> v;
        for (size_t i = 0; h[i] && h[i + 1]; i += 2) v.push_back(uint8_t(std::stoi(std::string(h + i, 2), nullptr, 16)));
        return v;
    };
    std::vector<uint8_t> c = bytes(rgba), w = bytes(words), d = bytes(dec);
    std::vector<uint32_t> argb(64), o10(64), o12(64), o13(64);
    for (int i = 0; i < 64; ++i)
        argb[i] = uint32_t(c[4 * i + 3]) << 24 | c[4 * i] << 16 | c[4 * i + 1] << 8 | c[4 * i + 2];
    for (int i = 0; i < 64; ++i) {
        o10[i] = qxColorToPixel(argb[i], 10, 1);
        o12[i] = qxColorToPixel(argb[i], 12, 1);
        o13[i] = qxColorToPixel(argb[i], 13, 1);
    }
    EXPECT_EQ(hex(o10.data(), 256), l10);
    EXPECT_EQ(hex(o12.data(), 256), l12);
    EXPECT_EQ(hex(o13.data(), 256), l13);
    for (int i = 0; i < 64; ++i) {
        uint16_t word = uint16_t(w[2 * i] | w[2 * i + 1] << 8);
        uint32_t pil = uint32_t(d[3 * i] & 0xF8) << 16 | (d[3 * i + 1] & 0xFC) << 8 | (d[3 * i + 2] & 0xF8);
        ASSERT_EQ(qxPixelToColor(word, 4, 0), pil) << i;
        ASSERT_EQ(qxPixelToColor(qxSwap16(word), 6, 0), pil) << i;
        int32_t ch[4];
        qxUnpackPixel(&word, 4, ch);
        ASSERT_EQ(uint32_t(ch[0] << 16 | ch[1] << 8 | ch[2]), pil);
    }
}

// ---- Plain models of the blends, from their rules ----

namespace model {
uint32_t mode0(uint32_t s, uint32_t d, uint32_t a)
{
    if (a == 0) return d;
    if (a == 255) return s;
    uint32_t o = 0;
    for (int sh = 0; sh < 32; sh += 8) {
        int sc = (s >> sh) & 255, dc = (d >> sh) & 255;
        o |= uint32_t((dc + (((sc - dc) * int(a)) >> 8)) & 255) << sh;
    }
    return o;
}
uint32_t mode2(uint32_t s, uint32_t d, uint32_t a, uint32_t da)
{
    if (a == 255) return s;
    if (a == 0) return d;
    uint32_t t = (255 - a) * da, out = std::min((t + 255 * a + 127) / 255, 255u), w = (t + 127) / 255, o = 0;
    for (int sh = 0; sh < 32; sh += 8)
        o |= std::min((((s >> sh) & 255) * a + ((d >> sh) & 255) * w + 127) / out, 255u) << sh;
    return o;
}
} // namespace model

// Millions of random blend pixels through every SIMD level: each level
// matches the model and all give one pinned CRC.
TEST(Blend, EveryLevelMatchesModelAndCrc)
{
    const int saved = qxKernelLevel();
    uint32_t crcs[3] = {};
    for (int level = 0; level <= 2; ++level) {
        int got = qxSetKernelLevel(level);
        std::mt19937 rng(1234);
        qxCrc32Init();
        uint32_t crc = 0;
        std::vector<uint32_t> s(333), d(333), expect(333);
        std::vector<uint8_t> a(333);
        for (int iter = 0; iter < 8000; ++iter) {
            int w = 1 + int(rng() % 300), off = int(rng() % 30);
            for (int i = 0; i < w + off; ++i) {
                s[i] = rng(), d[i] = rng();
                uint32_t r = rng() % 4;
                a[i] = uint8_t(r == 0 ? 0 : r == 1 ? 255 : rng());
            }
            for (int i = 0; i < w; ++i) expect[i] = model::mode0(s[off + i], d[off + i], a[off + i]);
            qxBlendRecord r{s.data(), off, 0, 333, d.data(), off, 0, 333, w, 1, a.data(), off, 0, 333, nullptr, 0, 10};
            qxBlendAlpha32(&r);
            for (int i = 0; i < w; ++i) ASSERT_EQ(d[off + i], expect[i]) << "level " << got;
            crc = qxCrc32(d.data() + off, long(w) * 4) ^ (crc * 31);
        }
        crcs[got] = crc;
    }
    qxSetKernelLevel(saved);
    EXPECT_EQ(crcs[0], crcs[1]);
    if (crcs[2]) {
        EXPECT_EQ(crcs[0], crcs[2]);
    }
    EXPECT_EQ(crcs[0], 0x4DDCAF74u);
}

// The kernels with a plain and an AVX2 build: whichever the level picks
// gives the plain build's bytes, on ragged widths, long rows and pitches.
TEST(Kernels, EveryBuildGivesThePlainBytes)
{
    const int saved = qxKernelLevel();
    auto outputs = [](int level) {
        qxSetKernelLevel(level);
        std::mt19937 rng(77);
        std::vector<uint8_t> out;
        auto keep = [&](const void *p, size_t n) {
            out.insert(out.end(), static_cast<const uint8_t *>(p), static_cast<const uint8_t *>(p) + n);
        };
        std::vector<uint32_t> px(700 * 5);
        for (int w : {1, 3, 4, 7, 8, 9, 31, 511, 512, 700}) {
            std::fill(px.begin(), px.end(), 0x11111111u);
            qxBlitRecord f{};
            f.destination = px.data(), f.dx = 1 % w, f.dy = 1, f.destPitch = 700, f.width = w - f.dx, f.height = 3;
            f.value = rng();
            qxFillRect32(&f);
            qxFillPixelRows32(px.data() + 1, size_t(w), 2, 700, uint32_t(rng()));
            for (uint32_t &p : px) p = p ? p : rng();
            qxGrayPixels32(px.data() + 2, w, 4, 700, QX_PIXFMT_ARGB32, 0);
            keep(px.data(), px.size() * 4);
        }
        const qxConvolveRows &rows = qxConvolveRowFunctions();
        std::vector<double> in(64 * 8), k(49);
        for (double &v : in) v = int(rng() % 600) - 150 + (rng() % 1000) / 1000.0;
        for (double &v : k) v = (int(rng() % 2000) - 900) / 1000.0;
        const double *r[7];
        for (int j = 0; j < 7; ++j) r[j] = in.data() + j * 64;
        uint8_t o[64];
        for (int w : {1, 5, 16, 33, 50}) {
            rows.taps(in.data(), k.data(), 7, o, w, 0xFF), keep(o, size_t(w));
            rows.column(r, k.data(), 7, o, w, 0xFE), keep(o, size_t(w));
            rows.square(r, k.data(), 7, o, w), keep(o, size_t(w));
        }
        return out;
    };
    const std::vector<uint8_t> plain = outputs(1), best = outputs(2);
    qxSetKernelLevel(saved);
    EXPECT_TRUE(plain == best) << "kernel level " << qxKernelLevel();
}

TEST(Blend, OverDestinationAlphaAndEdgeCases)
{
    std::mt19937 rng(99);
    for (int i = 0; i < 200000; ++i) {
        uint32_t s = rng(), d = rng(), a = rng() & 255, da = rng() & 255;
        uint8_t av = uint8_t(a), dav = uint8_t(da);
        uint32_t out = d;
        qxBlendRecord r{&s, 0, 0, 1, &out, 0, 0, 1, 1, 1, &av, 0, 0, 1, &dav, 1, 10};
        qxBlendOverAlpha32(&r);
        ASSERT_EQ(out, model::mode2(s, d, a, da));
    }
    // Mode 0 at alpha 128: red 255 onto black gives 127.
    uint32_t s = 0xFF0000, d = 0;
    uint8_t a = 128;
    qxBlendRecord r{&s, 0, 0, 1, &d, 0, 0, 1, 1, 1, &a, 0, 0, 1, nullptr, 0, 10};
    qxBlendAlpha32(&r);
    EXPECT_EQ(d, 0x7F0000u);
    EXPECT_EQ(qxBlendKernels[1][3], nullptr);
    EXPECT_EQ(qxBlendKernels[0][3], nullptr);
}

TEST(Planes, AlphaChannelModesAndPlaneCombination)
{
    // Mode 2 blends the alpha towards c with weight c, like the colour.
    uint32_t px = 0x000000;
    uint8_t cov = 200, da = 100;
    qxAlphaChannelRecord r{&cov, 0, 0, 1, nullptr, 0, &px, 0, 0, 1, &da, 1, 1, 1, 0xFFFFFF, 255, nullptr, 0, 2, 10};
    qxBltAlphaChannel32(&r);
    EXPECT_EQ(px, qxBlend32(0xFFFFFF, 0, 200));
    EXPECT_EQ(da, uint8_t((((200 * (200 - 100)) >> 8) + 100) * 255 / 255));
    da = 0, px = 0;
    qxBltAlphaChannel32(&r);
    EXPECT_EQ(px, 0xFFFFFFu);
    EXPECT_EQ(da, 200);
    // Mode 4: coverage 64 is exact.
    uint8_t c64 = 64;
    uint16_t p16 = 0;
    qxAlphaChannelRecord r4{&c64, 0, 0, 1, nullptr, 0, &p16, 0, 0, 1, nullptr, 0, 1, 1, 0xF81F, 255, nullptr, 0, 4, 4};
    qxBltAlphaChannel16(&r4);
    EXPECT_EQ(p16, 0xF81F);

    uint8_t s = 128, d = 0;
    qxAlphaBlitRecord b{&s, 0, 0, &d, 0, 0, 1, 1, 1, 1, 9, 0};
    qxBlitPixels(&b);
    EXPECT_EQ(d, 128);
    const uint8_t expect[10] = {7, 7, 248, 255, 7 * 100 / 255, 248, 100, 7, 40, 46};
    for (int mode = 0; mode <= 9; ++mode) {
        uint8_t src = 7, dst = 40;
        qxAlphaBlitRecord m{&src, 0, 0, &dst, 0, 0, 1, 1, 1, 1, mode, 100};
        qxBlitPixels(&m);
        EXPECT_EQ(dst, expect[mode]) << mode;
    }
    // Alpha to mask mode 3 toggles only at exactly 255.
    uint8_t alpha[3] = {255, 254, 0}, mask[2] = {0xFF, 0};
    qxPlaneRef ar{alpha, 0, 0, 3}, mr{mask, 0, 0, 2};
    qxAlphaToMaskBits(&ar, &mr, 3, 1, 3);
    EXPECT_EQ(mask[0], 0x7F);
}

TEST(Planes, HoldAndModify)
{
    uint32_t pal[64];
    for (int i = 0; i < 64; ++i) pal[i] = uint32_t(i * 0x040404);
    pal[0] = 0x102030, pal[1] = 0xF0E0D0;
    const uint8_t ham6[4] = {0x01, 0x1A, 0x25, 0x33};
    uint32_t out[4];
    qxChunkyToARGB(ham6, 4, out, 4, 4, 1, pal, 6);
    EXPECT_EQ(out[0], 0xFFEEDDu);
    EXPECT_EQ(out[1], 0xFFEEAAu);
    EXPECT_EQ(out[2], 0x55EEAAu);
    EXPECT_EQ(out[3], 0x5533AAu);
    const uint8_t ham8[2] = {0x41, 0xBF};
    qxChunkyToARGB(ham8, 2, out, 2, 2, 1, pal, 8);
    EXPECT_EQ(out[0], 0x102004u | (0x30 & 3));
    EXPECT_EQ(out[1], uint32_t((0x3F << 2) | (0x10 & 3)) << 16 | 0x2004);
}

// ---- Bilinear against a model of the table rule ----

TEST(Scale, TablesAndBilinearModel)
{
    int32_t xt[5], yt[2];
    uint32_t src[2] = {0xFF000000, 0x00FFFFFF}, dst[4];
    qxScaleRecord r{};
    r.sourcePixels = src, r.destPixels = dst, r.sourceWidth = 2, r.sourceHeight = 1, r.destWidth = 4, r.destHeight = 1;
    r.sourcePitch = 2, r.destPitch = 4, r.smooth = 1, r.layout = 10, r.bytesPerPixel = 4, r.xTable = xt, r.yTable = yt;
    qxScaleBitmap(&r);
    EXPECT_EQ(std::vector<int32_t>(xt, xt + 4), (std::vector<int32_t>{0, 21845, 43690, 65535}));
    EXPECT_EQ(yt[0], 0);
    r.smooth = 0;
    uint32_t near[4];
    r.destPixels = near;
    qxScaleBitmap(&r);
    EXPECT_EQ(std::vector<uint32_t>(near, near + 4), (std::vector<uint32_t>{src[0], src[0], src[1], src[1]}));

    std::mt19937 rng(5);
    for (int iter = 0; iter < 300; ++iter) {
        int sw = 1 + int(rng() % 20), sh = 1 + int(rng() % 20), dw = 1 + int(rng() % 40), dh = 1 + int(rng() % 40);
        uint32_t layout = iter % 3 == 0 ? 13 : 10;
        std::vector<uint32_t> s(size_t(sw * sh)), d(size_t(dw * dh)), e(size_t(dw * dh));
        for (auto &v : s) v = rng();
        std::vector<int32_t> X(size_t(dw + 1)), Y(size_t(dh + 1));
        qxScaleRecord q{};
        q.sourcePixels = s.data(), q.destPixels = d.data(), q.sourceWidth = sw, q.sourceHeight = sh;
        q.destWidth = dw, q.destHeight = dh, q.sourcePitch = sw, q.destPitch = dw, q.smooth = 1, q.layout = layout;
        q.bytesPerPixel = 4, q.xTable = X.data(), q.yTable = Y.data();
        qxScaleBitmap(&q);
        auto table = [](int n, int m, int k) {
            long v = 0, step = m > 1 ? long((n - 1) * 65536.0 / (m - 1)) : 0;
            for (int i = 0; i < k; ++i) v = std::min(v + step, long(n) * 65536 - 1);
            return v;
        };
        for (int j = 0; j < dh; ++j)
            for (int i = 0; i < dw; ++i) {
                long xv = table(sw, dw, i), yv = table(sh, dh, j);
                int sx = int(xv >> 16), fx = int(xv & 0xFFFF), sy = int(yv >> 16), fy = int(yv & 0xFFFF);
                int sx1 = sx < sw - 1 ? sx + 1 : sx, sy1 = sy < sh - 1 ? sy + 1 : sy;
                uint32_t o = 0;
                for (int sh8 = 0; sh8 < 32; sh8 += 8) {
                    auto c = [&](int x, int y) { return int((s[size_t(y * sw + x)] >> sh8) & 255); };
                    int top = c(sx, sy) + (((c(sx1, sy) - c(sx, sy)) * fx) >> 16);
                    int bot = c(sx, sy1) + (((c(sx1, sy1) - c(sx, sy1)) * fx) >> 16);
                    o |= uint32_t((top + (((bot - top) * fy) >> 16)) & 255) << sh8;
                }
                ASSERT_EQ(d[size_t(j * dw + i)], o) << iter << " " << i << "," << j;
            }
    }
}

TEST(Scale, AWindowIsThatPartOfTheWholePicture)
{
    // Nearest and bilinear, 32 and 16 bits, with masks and alpha planes,
    // up to the big upscales where the row sum drifts.
    std::mt19937 rng(11);
    for (int iter = 0; iter < 400; ++iter) {
        const bool big = iter % 20 == 0;
        const int sw = 1 + int(rng() % 24), sh = 1 + int(rng() % 24);
        const int dw = 1 + int(rng() % 60), dh = big ? 3000 + int(rng() % 3000) : 1 + int(rng() % 60);
        const int wx = int(rng() % uint32_t(dw)), wy = int(rng() % uint32_t(dh));
        const int ww = 1 + int(rng() % uint32_t(dw - wx)), wh = 1 + int(rng() % uint32_t(std::min(dh - wy, 70)));
        const uint32_t smooth = iter % 2, bpp = iter % 3 == 2 ? 2 : 4, layout = bpp == 2 ? 4 : 10;
        const bool planes = iter % 5 == 1;
        std::vector<uint32_t> s(size_t(sw * sh));
        for (auto &v : s) v = rng();
        std::vector<uint8_t> smask(size_t((sw + 7) / 8 * sh)), salpha(size_t(sw * sh));
        for (auto &v : smask) v = uint8_t(rng());
        for (auto &v : salpha) v = uint8_t(rng());
        std::vector<int32_t> X(size_t(dw + 1)), Y(size_t(dh + 1));
        auto run = [&](int width, int height, int x, int y, std::vector<uint32_t> &pixels, std::vector<uint8_t> &mask,
                       std::vector<uint8_t> &alpha) {
            const int fw = width ? width : dw, fh = height ? height : dh;
            pixels.assign(size_t(fw * fh), 0), mask.assign(size_t((fw + 7) / 8 * fh), 0);
            alpha.assign(size_t(fw * fh), 0);
            qxScaleRecord q{};
            q.sourcePixels = s.data(), q.destPixels = pixels.data(), q.sourceWidth = sw, q.sourceHeight = sh;
            q.destWidth = dw, q.destHeight = dh, q.smooth = smooth, q.layout = layout, q.bytesPerPixel = bpp;
            q.sourcePitch = sw, q.destPitch = fw;
            q.xTable = X.data(), q.yTable = Y.data();
            if (planes) {
                q.sourceMask = smask.data(), q.destMask = mask.data(), q.sourceMaskBytesPerRow = (sw + 7) / 8;
                q.destMaskBytesPerRow = (fw + 7) / 8;
                if (!smooth) q.sourceAlpha = salpha.data(), q.destAlpha = alpha.data();
                q.sourceAlphaBytesPerRow = sw, q.destAlphaBytesPerRow = fw;
            }
            q.windowX = x, q.windowY = y, q.windowWidth = width, q.windowHeight = height;
            qxScaleBitmap(&q);
        };
        std::vector<uint32_t> whole, part;
        std::vector<uint8_t> wholeMask, partMask, wholeAlpha, partAlpha;
        run(0, 0, 0, 0, whole, wholeMask, wholeAlpha);
        run(ww, wh, wx, wy, part, partMask, partAlpha);
        const auto *wb = reinterpret_cast<const uint8_t *>(whole.data());
        const auto *pb = reinterpret_cast<const uint8_t *>(part.data());
        for (int j = 0; j < wh; ++j) {
            ASSERT_EQ(std::memcmp(pb + size_t(j) * ww * bpp, wb + (size_t(wy + j) * dw + wx) * bpp, size_t(ww) * bpp), 0)
                << iter << " row " << j;
            for (int i = 0; i < ww && planes; ++i) {
                ASSERT_EQ(qxMaskBit(&partMask[size_t(j * ((ww + 7) / 8))], i),
                          qxMaskBit(&wholeMask[size_t((wy + j) * ((dw + 7) / 8))], wx + i))
                    << iter;
                ASSERT_EQ(partAlpha[size_t(j * ww + i)], wholeAlpha[size_t((wy + j) * dw + wx + i)]) << iter;
            }
        }
    }
}

TEST(Scale, NearestMaskTakesThePixelsSourceColumns)
{
    // The 16.16 step is truncated from a single-precision ratio, so x3
    // drifts: 40 to 120 reads column 15 at 48. Mask and alpha must follow
    // the pixels there (a shaped window is cut by the scaled mask).
    std::mt19937 rng(23);
    for (int iter = 0; iter < 200; ++iter) {
        const int sw = iter ? 1 + int(rng() % 50) : 40, sh = iter ? 1 + int(rng() % 20) : 30;
        const int mult = 1 + int(rng() % 4), dw = iter ? sw * mult + int(rng() % 3) : 120;
        const int dh = iter ? 1 + int(rng() % 60) : 90, sx = int(rng() % 8);
        const int mbpr = (sw + sx + 7) / 8, dbpr = (dw + 7) / 8;
        std::vector<uint32_t> s(size_t(sw * sh)), d(size_t(dw * dh));
        for (int k = 0; k < sw * sh; ++k) s[size_t(k)] = uint32_t(k); // a pixel names its source position
        std::vector<uint8_t> sm(size_t(mbpr * sh)), dm(size_t(dbpr * dh)), sa(size_t(sw * sh)), da(size_t(dw * dh));
        for (auto &v : sm) v = uint8_t(rng());
        for (auto &v : sa) v = uint8_t(rng());
        int32_t X[1], Y[1];
        qxScaleRecord q{};
        q.sourcePixels = s.data(), q.destPixels = d.data(), q.sourceMask = sm.data(), q.destMask = dm.data();
        q.sourceAlpha = sa.data(), q.destAlpha = da.data(), q.sx = sx;
        q.sourceWidth = sw, q.sourceHeight = sh, q.destWidth = dw, q.destHeight = dh, q.sourcePitch = sw;
        q.destPitch = dw, q.sourceMaskBytesPerRow = mbpr, q.destMaskBytesPerRow = dbpr, q.sourceAlphaBytesPerRow = sw;
        q.destAlphaBytesPerRow = dw, q.layout = 10, q.bytesPerPixel = 4, q.xTable = X, q.yTable = Y;
        qxScaleBitmap(&q);
        const uint32_t step = uint32_t(float(sw) / float(dw) * 65536.0f);
        float acc = 0;
        for (int j = 0; j < dh; ++j, acc += float(sh) / float(dh)) {
            const int row = std::min(int(acc), sh - 1);
            for (int i = 0; i < dw; ++i) {
                const int col = std::min(int((uint64_t(i) * step) >> 16), sw - 1);
                ASSERT_EQ(d[size_t(j * dw + i)], uint32_t(row * sw + col)) << iter << " " << i << "," << j;
                ASSERT_EQ(qxMaskBit(&dm[size_t(j * dbpr)], i), qxMaskBit(&sm[size_t(row * mbpr)], col + sx))
                    << iter << " " << i << "," << j;
                ASSERT_EQ(da[size_t(j * dw + i)], sa[size_t(row * sw + col)]) << iter;
            }
        }
        if (!iter) {
            EXPECT_EQ(d[48], 15u);
            EXPECT_EQ(d[49], 16u);
        }
    }
}

TEST(Scale, BigUpscaleStaysInSource)
{
    // 7 rows to 100003: the single-precision row sum would reach row 7.
    std::vector<uint16_t> src(7, 0x1234), dst(100003);
    int32_t xt[2], yt[100004];
    qxScaleRecord r{};
    r.sourcePixels = src.data(), r.destPixels = dst.data(), r.sourceWidth = 1, r.sourceHeight = 7;
    r.destWidth = 1, r.destHeight = 100003, r.sourcePitch = 1, r.destPitch = 1, r.layout = 4, r.bytesPerPixel = 2;
    r.xTable = xt, r.yTable = yt;
    qxScaleBitmap(&r);
    EXPECT_EQ(dst.back(), 0x1234);
    int32_t xc = 0, yc = 0, *x = nullptr, *y = nullptr;
    ASSERT_EQ(qxEnsureScaleTables(10, 5, &xc, &yc, &x, &y), 0);
    int32_t *keep = x;
    ASSERT_EQ(qxEnsureScaleTables(4, 5, &xc, &yc, &x, &y), 0);
    EXPECT_EQ(x, keep);
    EXPECT_EQ(xc, 10);
    free(x), free(y);
}

// ---- Gradients and lines ----

TEST(Gradient, LinearRadialAndWalker)
{
    qxGradient g{};
    g.type = QX_GRADIENT_LINEAR, g.startColour = 0xFF0000, g.endColour = 0x0000FF, g.angle = 0;
    uint32_t px[2];
    qxGradientRender r{px, 4, 10, 0, 0, 1, 2, 1, &g};
    qxDrawGradient(&r);
    qxGradientWalker w;
    qxGradientWalkerInit(&w, &g);
    EXPECT_EQ(px[0], qxGradientFetch32(&w, 0x4000));
    EXPECT_EQ(px[1], qxGradientFetch32(&w, 0xC000));
    EXPECT_EQ(qxGradientFetch32(&w, 0), 0xFF0000u);
    EXPECT_EQ(qxGradientFetch32(&w, -100000), 0xFF0000u);
    EXPECT_EQ(qxGradientFetch32(&w, 0x10000), 0x0000FFu);
    // A size factor near 1 used to make the radius 0.
    g.type = QX_GRADIENT_RADIAL, g.centreX = g.centreY = 0.5, g.sizeFactor = 0.99999999;
    uint32_t tiny[9];
    qxGradientRender rr{tiny, 4, 10, 0, 0, 3, 3, 3, &g};
    qxDrawGradient(&rr);
    EXPECT_EQ(tiny[4], 0xFF0000u);
    EXPECT_EQ(tiny[0], 0x0000FFu);
    // 16-bit fetch packs 5-6-5.
    qxGradientWalkerInit(&w, &g);
    EXPECT_EQ(qxGradientFetch16(&w, 0), 0xF800u);
}

TEST(Lines, ThickAndEdges)
{
    std::vector<uint32_t> px(16 * 8, 0);
    qxPlotRecord r{};
    r.pixels = px.data(), r.pitch = 16, r.bytesPerPixel = 4, r.lineWidth = 3, r.layout = 10;
    r.penColour = 0xFFFFFF, r.penAlpha = 255, r.penRed = r.penGreen = r.penBlue = 255, r.maskMode = 6;
    r.width = 16, r.height = 8;
    r.currentAlpha = 255;
    qxThickLinePixels(&r, 5, 1, 5, 6);
    for (int y = 1; y <= 6; ++y)
        for (int x = 0; x < 16; ++x) EXPECT_EQ(px[size_t(y * 16 + x)], (x >= 4 && x <= 6) ? 0xFFFFFFu : 0u);
    // Along the last row and column nothing lands outside the plane.
    std::vector<uint32_t> guard(16 * 8 + 32, 0xABABABAB);
    r.pixels = guard.data();
    qxThickLinePixels(&r, 0, 7, 15, 7);
    for (size_t i = 16 * 8; i < guard.size(); ++i) ASSERT_EQ(guard[i], 0xABABABABu);
    // A one-pixel line at half opacity blends.
    uint32_t one[4] = {};
    qxSoftDrawLine(one, 0, 0, 3, 0, 0xFF0000, 128, 10, 4, 4, 1);
    EXPECT_EQ(one[3], 0x7F0000u);
}

TEST(Layouts, RowConvertersRoundTrip)
{
    std::mt19937 rng(3);
    uint32_t argb[6 * 3], plane[7 * 3], back[6 * 3];
    uint16_t plane16[8 * 3];
    for (auto &v : argb) v = rng();
    for (uint32_t code : {10u, 11u, 12u, 13u}) {
        qxConvertRecord r{argb, plane, 0, 0, 1, 0, 6, 3, 6, 7, code};
        qxConvertPixels32(&r);
        int32_t rect[4] = {1, 0, 6, 3};
        qxExpandToArgb(plane, back, rect, 7, 4, code);
        for (int i = 0; i < 18; ++i) ASSERT_EQ(back[i] & 0xFFFFFF, argb[i] & 0xFFFFFF) << code;
    }
    qxConvertRecord r16{argb, plane16, 0, 0, 2, 0, 6, 3, 6, 8, 4};
    qxConvertPixels16(&r16);
    int32_t rect[4] = {2, 0, 6, 3};
    qxExpandToArgb(plane16, back, rect, 8, 2, 4);
    for (int i = 0; i < 18; ++i) ASSERT_EQ(back[i], argb[i] & 0xF8FCF8) << i;
}

// BltAlphaChannel, 16-bit blends and the anti-aliased line against models
// written from their rules.
TEST(Planes, AlphaChannelAndBlend16Models)
{
    std::mt19937 rng(11);
    for (int i = 0; i < 100000; ++i) {
        int mode = int(rng() % 6);
        uint32_t colour = rng() & 0xFFFFFF, d = rng() & 0xFFFFFF, f = rng() & 255;
        uint8_t c = uint8_t(rng() % 3 == 0 ? 0 : rng()), da = uint8_t(rng() % 3 == 0 ? 0 : rng());
        if (mode == 4) c %= 65;
        uint16_t c16 = uint16_t(rng() << 8 | c);
        uint32_t px = d;
        uint8_t a = da;
        qxAlphaChannelRecord r{&c, 0, 0, 1, &c16, 1, &px, 0, 0, 1, &a, 1, 1, 1, colour, f, nullptr, 0, mode, 10};
        qxBltAlphaChannel32(&r);
        uint32_t ep = d, ea = da;
        // The plain channel rule, also at 255 (only mode 1 copies there).
        auto blend = [](uint32_t s, uint32_t t, int k) {
            uint32_t o = 0;
            for (int sh = 0; sh < 32; sh += 8) {
                int sc = (s >> sh) & 255, dc = (t >> sh) & 255;
                o |= uint32_t((dc + (((sc - dc) * k) >> 8)) & 255) << sh;
            }
            return o;
        };
        if (c) {
            switch (mode) {
            case 1: ep = c == 255 ? colour : blend(colour, d, c); break;
            case 4: ep = c == 64 ? colour : blend(colour, d, c * 4); break;
            case 2: case 3:
                if (da) ep = blend(colour, d, c), ea = uint32_t((((int(c) * (int(c) - int(da))) >> 8) + da)) * f / 255;
                else ep = colour, ea = c * f / 255;
                break;
            default: ep = colour; break;
            }
        }
        ASSERT_EQ(px, ep) << mode;
        ASSERT_EQ(a, ea) << mode;
        // 16 bits: channels widened, blended, packed by masking.
        uint16_t s16 = uint16_t(rng()), d16 = uint16_t(rng());
        uint8_t al = uint8_t(rng());
        uint16_t out = d16;
        qxBlendRecord b{&s16, 0, 0, 1, &out, 0, 0, 1, 1, 1, &al, 0, 0, 1, nullptr, 0, 4};
        qxBlendAlpha16(&b);
        auto ch = [&](int sh, int bits) {
            int m = (1 << bits) - 1, sc = ((s16 >> sh) & m) << (8 - bits), dc = ((d16 >> sh) & m) << (8 - bits);
            return ((dc + (((sc - dc) * al) >> 8)) >> (8 - bits)) << sh;
        };
        uint16_t e16 = al == 0 ? d16 : al == 255 ? s16 : uint16_t(ch(11, 5) | ch(5, 6) | ch(0, 5));
        ASSERT_EQ(out, e16);
    }
}

// Linear and radial gradients with two stops against the rules: positions
// from the geometry, colours from the two-stop pad walker.
TEST(Gradient, ShapesMatchModel)
{
    auto fetch = [](uint32_t c0, uint32_t c1, long p) {
        if (p < 0) return c0;
        if (p >= 0x10000) return c1;
        long stepper = (0x10000 / 2 + 0x1000000) / 0x10000, d = (p * stepper) >> 16;
        uint32_t lrb = (c0 & 0xFF00FF), lg = (c0 >> 8) & 255, rrb = (c1 & 0xFF00FF), rg = (c1 >> 8) & 255;
        uint32_t rb = lrb * uint32_t(256 - d) + rrb * uint32_t(d), g = lg * uint32_t(256 - d) + rg * uint32_t(d);
        return ((rb >> 8) & 0xFF00FF) | (g & 0xFF00);
    };
    std::mt19937 rng(4);
    for (int iter = 0; iter < 200; ++iter) {
        qxGradient g{};
        int W = 1 + int(rng() % 30), H = 1 + int(rng() % 30);
        g.startColour = rng() & 0xFFFFFF, g.endColour = rng() & 0xFFFFFF, g.angle = int(rng() % 720) - 360;
        g.type = iter % 2 ? QX_GRADIENT_RADIAL : QX_GRADIENT_LINEAR;
        g.centreX = (rng() % 100) / 100.0, g.centreY = (rng() % 100) / 100.0, g.sizeFactor = (rng() % 90) / 100.0;
        std::vector<uint32_t> px(size_t(W * H));
        qxGradientRender r{px.data(), 4, 10, 0, 0, W, H, W, &g};
        qxDrawGradient(&r);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                double pos;
                if (g.type == QX_GRADIENT_RADIAL) {
                    double cx = W * g.centreX, cy = H * g.centreY;
                    double R = (std::max(std::fabs(0.5 - g.centreX), std::fabs(0.5 - g.centreY)) + 0.5) *
                               std::sqrt(double(W * W + H * H)) * (1 - g.sizeFactor);
                    R = std::max(double(long(R * 65536)), 1.0) / 65536;
                    pos = 65536 * std::hypot(x + 0.5 - cx, y + 0.5 - cy) / R;
                } else {
                    int a = ((g.angle % 360) + 360) % 360;
                    double px2, py2;
                    if (a == 90) px2 = W, py2 = 0;
                    else if (a == 0) px2 = 0, py2 = -H;
                    else if (a == 180) px2 = 0, py2 = H;
                    else if (a == 270) px2 = -W, py2 = 0;
                    else {
                        double t = std::tan(a * M_PI / 180), X = a > 180 ? -W : W, Y = (a < 90 || a > 270) ? -H : H;
                        double Yp = Y - X * t;
                        px2 = Yp / (-1 / t - t), py2 = t * px2 + Yp;
                    }
                    double ax = 0, ay = 0, bx = 0, by = 0;
                    if (px2 > 0 && py2 > 0) ay = H, bx = px2, by = H - py2;
                    else if (px2 >= 0 && py2 <= 0) bx = px2, by = -py2;
                    else if (px2 <= 0 && py2 >= 0) ax = -px2, ay = py2;
                    else if (px2 < 0 && py2 < 0) ax = W, bx = px2 + W, by = -py2;
                    double dx = bx - ax, dy = by - ay, L = dx * dx + dy * dy;
                    pos = L == 0 ? 0 : 65536 * ((x + 0.5 - ax) * dx + (y + 0.5 - ay) * dy) / L;
                }
                ASSERT_EQ(px[size_t(y * W + x)], fetch(g.startColour, g.endColour, long(pos)))
                    << iter << " at " << x << "," << y;
            }
    }
}
