// The quantiser: exact palettes, the median cut's limits, transparent and
// reserved entries, dithering bounds, bad requests, and the error against
// netpbm's median cut.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <vector>

#include "imaging/qx_pixelformat.h"
#include "imaging/qx_quantize.h"
#include "quantize_peer.h"

namespace {

struct Result {
    uint32_t done = 0;
    int32_t count = 0, transparentIndex = -2;
    std::vector<uint8_t> indices;
    uint32_t palette[256] = {};
};

Result quantize(const std::vector<uint32_t> &argb, int w, int h, int colours, uint32_t transparent = 0xFFFFFFFF,
                uint32_t reserve = 0, uint32_t dither = 0)
{
    Result r;
    r.indices.assign(size_t(w) * h, 0xEE);
    r.count = colours;
    r.done = qxQuantizeToPalette(argb.data(), QX_PIXFMT_ARGB32, 4, w, h, w, r.indices.data(), r.palette, &r.count,
                                 transparent, reserve, dither, &r.transparentIndex);
    return r;
}

std::vector<uint32_t> remapped(const Result &r)
{
    std::vector<uint32_t> v(r.indices.size());
    for (size_t i = 0; i < v.size(); ++i) v[i] = r.palette[r.indices[i]];
    return v;
}

} // namespace

TEST(Quantize, ExactPaletteInOrderOfFirstAppearance)
{
    // 200 distinct colours, each twice, in a scrambled first-appearance order.
    std::vector<uint32_t> img;
    for (int i = 0; i < 400; ++i) img.push_back(0xFF000000u | uint32_t((i % 200) * 7919 % 200) * 0x010203u);
    Result r = quantize(img, 20, 20, 256);
    ASSERT_EQ(r.done, 1u);
    ASSERT_EQ(r.count, 200);
    EXPECT_EQ(r.transparentIndex, -1);
    for (size_t i = 0; i < img.size(); ++i) EXPECT_EQ(r.palette[r.indices[i]], img[i] & 0xFFFFFF);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(r.palette[i], img[size_t(i)] & 0xFFFFFF);

    // The same with reserve: one more entry, black; 200 still fits 255.
    Result rr = quantize(img, 20, 20, 256, 0xFFFFFFFF, 1);
    EXPECT_EQ(rr.count, 201);
    EXPECT_EQ(rr.palette[200], 0u);

    // Exact pass finds the transparent colour's position.
    Result rt = quantize(img, 20, 20, 256, img[5] & 0xFFFFFF);
    EXPECT_EQ(rt.transparentIndex, 5);

    // Asking for 16 goes through the median cut: at most 16 entries.
    Result m = quantize(img, 20, 20, 16);
    ASSERT_EQ(m.done, 1u);
    EXPECT_LE(m.count, 16);
    EXPECT_GE(m.count, 2);
    for (uint8_t i : m.indices) EXPECT_LT(i, m.count);
}

TEST(Quantize, SingleColourAndOtherLayouts)
{
    std::vector<uint32_t> img(64, 0xFF336699);
    Result r = quantize(img, 8, 8, 1);
    ASSERT_EQ(r.done, 1u);
    EXPECT_EQ(r.count, 1);
    EXPECT_EQ(r.palette[0], 0x336699u);
    for (uint8_t i : r.indices) EXPECT_EQ(i, 0);

    // BGR24 and RGB16 planes give the same colours as their ARGB form.
    const uint8_t bgr[6] = {0x99, 0x66, 0x33, 0x01, 0x02, 0x03};
    uint8_t idx[2];
    uint32_t pal[256];
    int32_t count = 256;
    ASSERT_EQ(qxQuantizeToPalette(bgr, QX_PIXFMT_BGR24, 3, 2, 1, 2, idx, pal, &count, 0xFFFFFFFF, 0, 0, nullptr), 1u);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(pal[0], 0x336699u);
    EXPECT_EQ(pal[1], 0x030201u);
    const uint16_t rgb16[2] = {uint16_t(qxColorToPixel(0xF80000, QX_PIXFMT_RGB16, 0)),
                               uint16_t(qxColorToPixel(0x00FC00, QX_PIXFMT_RGB16, 0))};
    count = 256;
    ASSERT_EQ(qxQuantizeToPalette(rgb16, QX_PIXFMT_RGB16, 2, 2, 1, 2, idx, pal, &count, 0xFFFFFFFF, 0, 0, nullptr),
              1u);
    EXPECT_EQ(pal[0], 0xF80000u);
    EXPECT_EQ(pal[1], 0x00FC00u);
    // 32-bit layouts keep their colour in different bytes: two colours that
    // differ in one component stay two, whatever the alpha byte holds.
    for (uint32_t layout : {10u, 11u, 12u, 13u}) {
        const uint32_t a = qxColorToPixel(0x102030, layout, 0), b = qxColorToPixel(0x112030, layout, 0),
                       c = qxColorToPixel(0x102031, layout, 0);
        const uint32_t four[4] = {a, b, c, a};
        uint8_t ix[4];
        count = 256;
        ASSERT_EQ(qxQuantizeToPalette(four, layout, 4, 4, 1, 4, ix, pal, &count, 0xFFFFFFFF, 0, 0, nullptr), 1u);
        ASSERT_EQ(count, 3) << layout;
        EXPECT_EQ(pal[0], 0x102030u) << layout;
        EXPECT_EQ(pal[1], 0x112030u) << layout;
        EXPECT_EQ(pal[2], 0x102031u) << layout;
        EXPECT_EQ(ix[3], 0) << layout;
    }
}

TEST(Quantize, TransparentColourIsLast)
{
    const int w = 64, h = 64;
    auto img = photoLike(w, h, 3);
    for (int i = 0; i < w * h; i += 7) img[size_t(i)] = 0x00FF00FF;
    for (uint32_t dither : {0u, 1u}) {
        Result r = quantize(img, w, h, 256, 0xFF00FF, 0, dither);
        ASSERT_EQ(r.done, 1u);
        ASSERT_LE(r.count, 256);
        EXPECT_EQ(r.transparentIndex, r.count - 1);
        EXPECT_EQ(r.palette[r.count - 1], 0xFF00FFu);
        for (size_t i = 0; i < img.size(); ++i)
            EXPECT_EQ(r.indices[i] == r.count - 1, (img[i] & 0xFFFFFF) == 0xFF00FF) << i;
    }
    // Only transparent pixels: no box holds pixels, it becomes white.
    std::vector<uint32_t> all(16, 0x123456);
    Result t = quantize(all, 4, 4, 1, 0x123456);
    ASSERT_EQ(t.done, 1u);
    EXPECT_EQ(t.transparentIndex, 0);
}

TEST(Quantize, MedianCutMapsAndDithers)
{
    const int w = 96, h = 80;
    auto img = photoLike(w, h, 11);
    // Without dithering each pixel gets the palette colour nearest (in the
    // weighted distance) to its histogram cell's centre; the reserved entry
    // is counted within the 64 asked for and stays unused.
    Result r = quantize(img, w, h, 64, 0xFFFFFFFF, 1, 0);
    ASSERT_EQ(r.done, 1u);
    ASSERT_LE(r.count, 64);
    EXPECT_EQ(r.palette[r.count - 1], 0u);
    for (size_t i = 0; i < img.size(); ++i) {
        const uint32_t p = img[i];
        const int cr = int(p >> 19 & 31) * 8 + 4, cg = int(p >> 10 & 63) * 4 + 2, cb = int(p >> 3 & 31) * 8 + 4;
        int best = -1;
        int64_t bd = INT64_MAX;
        for (int k = 0; k < r.count - 1; ++k) {
            int64_t dr = 2 * (int(r.palette[k] >> 16) - cr), dg = 3 * (int(r.palette[k] >> 8 & 255) - cg),
                    db = int(r.palette[k] & 255) - cb;
            if (dr * dr + dg * dg + db * db < bd) bd = dr * dr + dg * dg + db * db, best = k;
        }
        ASSERT_EQ(r.indices[i], best) << i;
    }

    // A grey ramp in 4 colours: dithering keeps 8x8 block means close to
    // the picture's, plain mapping bands.
    std::vector<uint32_t> ramp(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ramp[size_t(y) * w + x] = uint32_t(x * 255 / (w - 1)) * 0x010101u;
    auto blockError = [&](const Result &q) {
        auto out = remapped(q);
        double e = 0;
        for (int by = 0; by < h; by += 8)
            for (int bx = 0; bx < w; bx += 8) {
                double s = 0;
                for (int y = by; y < by + 8; ++y)
                    for (int x = bx; x < bx + 8; ++x)
                        s += double(out[size_t(y) * w + x] & 255) - double(ramp[size_t(y) * w + x] & 255);
                e += std::abs(s / 64);
            }
        return e / (w / 8 * h / 8);
    };
    Result plain = quantize(ramp, w, h, 4), dithered = quantize(ramp, w, h, 4, 0xFFFFFFFF, 0, 1);
    ASSERT_EQ(dithered.done, 1u);
    EXPECT_LE(dithered.count, 4);
    EXPECT_LT(blockError(dithered), 6.0);
    EXPECT_GT(blockError(plain), 2 * blockError(dithered)) << blockError(plain);
}

TEST(Quantize, RefusesUnusableRequests)
{
    std::vector<uint32_t> img(16, 1);
    uint8_t idx[16];
    uint32_t pal[256];
    int32_t count = 0;
    EXPECT_EQ(qxQuantizeToPalette(img.data(), 10, 4, 4, 4, 4, idx, pal, &count, 0xFFFFFFFF, 0, 0, nullptr), 0u);
    count = 4;
    EXPECT_EQ(qxQuantizeToPalette(img.data(), 10, 2, 4, 4, 4, idx, pal, &count, 0xFFFFFFFF, 0, 0, nullptr), 0u);
    EXPECT_EQ(qxQuantizeToPalette(img.data(), 14, 1, 4, 4, 4, idx, pal, &count, 0xFFFFFFFF, 0, 0, nullptr), 0u);
    EXPECT_EQ(qxQuantizeToPalette(img.data(), 10, 4, 4, 4, 3, idx, pal, &count, 0xFFFFFFFF, 0, 0, nullptr), 0u);
    EXPECT_EQ(qxQuantizeToPalette(img.data(), 10, 4, 0, 4, 4, idx, pal, &count, 0xFFFFFFFF, 0, 0, nullptr), 0u);
    EXPECT_EQ(count, 4); // outputs untouched
}

TEST(Quantize, ErrorWithinNetpbmMedianCut)
{
    const int w = 640, h = 480;
    auto img = photoLike(w, h, 7);
    auto peer = netpbmQuantize(img, w, h, 256);
    ASSERT_FALSE(peer.empty()) << "pnmcolormap/pnmremap missing";
    Result r = quantize(img, w, h, 256, 0xFFFFFFFF, 0, 1);
    ASSERT_EQ(r.done, 1u);
    const double ours = meanSquaredError(remapped(r), img), theirs = meanSquaredError(peer, img);
    RecordProperty("ours", std::to_string(ours));
    EXPECT_LE(ours, theirs * 1.1) << "ours " << ours << " netpbm " << theirs;
}
