// Flood fill, colour keys, YUV frames, transition kernels, the integer
// square root and oil paint: against ImageMagick or scalar models of the
// rules.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "effects_peers.h"
#include "imaging/qx_areaeffects.h"
#include "imaging/qx_colorkeys.h"
#include "imaging/qx_floodfill.h"
#include "imaging/qx_transitionkernels.h"

namespace {
constexpr uint32_t kBorder = 0x000000, kFill = 0xFF0000, kOpen = 0xFFFFFF;
}

TEST(FloodFill, RegionMatchesImageMagick)
{
    // Random closed shapes: rectangles outlined in black on white, some
    // nested, no diagonal gaps.
    const int w = 50, h = 40;
    std::mt19937 rng(11);
    for (int round = 0; round < 5; ++round) {
        std::vector<uint32_t> img(size_t(w * h), kOpen);
        for (int k = 0; k < 6; ++k) {
            int x0 = int(rng() % 40), y0 = int(rng() % 30), x1 = x0 + 3 + int(rng() % 9), y1 = y0 + 3 + int(rng() % 9);
            for (int x = x0; x <= x1 && x < w; ++x) img[size_t(y0 * w + x)] = kBorder, img[size_t(std::min(y1, h - 1) * w + x)] = kBorder;
            for (int y = y0; y <= y1 && y < h; ++y) img[size_t(y * w + x0)] = kBorder, img[size_t(y * w + std::min(x1, w - 1))] = kBorder;
        }
        int sx = int(rng() % w), sy = int(rng() % h);
        if (img[size_t(sy * w + sx)] == kBorder) continue;
        auto ours = img;
        qxFloodFillArea r{ours.data(), w, h, uint32_t(w), kBorder, kFill, 0, 0};
        ASSERT_EQ(qxFloodFill32(&r, sx, sy, 0xFFFFFF), 0);
        auto ref = magick(img, w, h,
                          "-fill red -bordercolor black -draw \"color " + std::to_string(sx) + "," +
                              std::to_string(sy) + " filltoborder\"");
        ASSERT_EQ(ref.size(), ours.size());
        EXPECT_EQ(ours, ref) << "round " << round;
    }
}

TEST(FloodFill, EdgeCasesAndMends)
{
    // Starting on the border changes nothing; a start outside the area
    // writes nothing anywhere.
    std::vector<uint32_t> img(100, kOpen);
    img[55] = kBorder;
    auto v = img;
    qxFloodFillArea r{v.data(), 10, 10, 10, kBorder, kFill, 0, 0};
    qxFloodFill32(&r, 5, 5, 0xFFFFFF);
    EXPECT_EQ(v, img);
    qxFloodFillArea inner{v.data(), 4, 4, 10, kBorder, kFill, 2, 2};
    for (auto [x, y] : {std::pair{7, 3}, {3, 7}, {1, 3}, {3, 1}, {-100, 3}, {3, 1 << 30}}) {
        qxFloodFill32(&inner, x, y, 0xFFFFFF);
        EXPECT_EQ(v, img) << x << "," << y;
    }
    qxFloodFill32(&inner, 3, 3, 0xFFFFFF);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(v[size_t(y * 10 + x)], x >= 2 && x < 6 && y >= 2 && y < 6 && img[size_t(y * 10 + x)] != kBorder ? kFill : img[size_t(y * 10 + x)]);
    // A fill colour with bits outside the mask still ends, and the border
    // compares through the mask.
    v.assign(64 * 64, 0xFF00FF00);
    for (int i = 0; i < 64; ++i) v[size_t(i * 64 + 40)] = 0xFFFF0000;
    qxFloodFillArea m{v.data(), 64, 64, 64, 0x00FF0000, 0xFF0000FF, 0, 0};
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(qxFloodFill32(&m, 0, 0, 0xFFFFFF), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    EXPECT_EQ(v[0], 0xFF0000FFu);
    EXPECT_EQ(v[39], 0xFF0000FFu);
    EXPECT_EQ(v[41], 0xFF00FF00u);
    // A large open area needs no deep call stack.
    std::vector<uint16_t> big(1000 * 1000, 1);
    qxFloodFillArea b{big.data(), 1000, 1000, 1000, 0, 7, 0, 0};
    EXPECT_EQ(qxFloodFill16(&b, 500, 500), 0);
    EXPECT_EQ(big[0], 7);
    EXPECT_EQ(big.back(), 7);
}

TEST(ColourKeys, MasksAndReplacement)
{
    uint32_t px[10] = {1, 2, 3, 0xFF000001, 1, 2, 3, 4, 5, 1};
    uint8_t mask[2] = {0, 0x3F};
    qxMaskFromColor32(px, mask, 10, 1, 2, 1, 10, 0x00FFFFFF);
    EXPECT_EQ(mask[0], 0x67);
    EXPECT_EQ(mask[1], 0x3F | 0x80); // pad bits untouched
    uint32_t chain[] = {1, 2, 2, 3, 0xFFFFFFFF}, swap[] = {1, 2, 2, 1, 0xFFFFFFFF};
    uint32_t a[3] = {1, 2, 5}, b[2] = {1, 2};
    qxReplaceColors32(3, 1, chain, a, 3, 0xFFFFFFFF);
    EXPECT_EQ(a[0], 3u);
    EXPECT_EQ(a[1], 3u);
    EXPECT_EQ(a[2], 5u);
    qxReplaceColors32(2, 1, swap, b, 2, 0xFFFFFFFF);
    EXPECT_EQ(b[0], 1u);
    EXPECT_EQ(b[1], 1u);
}

TEST(VideoFrames, YuvModelEveryLayout)
{
    EXPECT_EQ(qxYuvToRgb(16, 128, 128), 0u);
    EXPECT_EQ(qxYuvToRgb(235, 128, 128), 0xFFFFFFu);
    // Every sample against the BT.601 formula in doubles, rounded: the
    // integer form differs from it only where .5 rounding meets truncation.
    int off = 0;
    for (int y = 0; y < 256; y += 5)
        for (int u = 0; u < 256; u += 7)
            for (int v = 0; v < 256; v += 11) {
                auto c = [](double d) { return std::clamp(int(std::floor(d + 0.5)), 0, 255); };
                double Y = 1.164 * (y - 16);
                uint32_t ref = uint32_t(c(Y + 1.596 * (v - 128))) << 16 |
                               uint32_t(c(Y - 0.391 * (u - 128) - 0.813 * (v - 128))) << 8 |
                               uint32_t(c(Y + 2.017 * (u - 128)));
                uint32_t got = qxYuvToRgb(y, u, v);
                for (int s = 0; s < 24; s += 8) off = std::max(off, std::abs(int(got >> s & 255) - int(ref >> s & 255)));
            }
    EXPECT_LE(off, 1);
    // A 5 x 3 frame (odd both ways) in every layout.
    const int W = 5, H = 3;
    std::mt19937 rng(12);
    std::vector<uint8_t> Y(W * H), U(3 * 2), V(3 * 2);
    for (auto &s : Y) s = uint8_t(rng());
    for (auto &s : U) s = uint8_t(rng());
    for (auto &s : V) s = uint8_t(rng());
    for (uint32_t layout : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u}) {
        uint32_t bpp = layout <= 7 ? 2 : layout <= 9 ? 3 : 4;
        std::vector<uint8_t> out(size_t(W * H) * bpp + 8, 0xAA);
        qxVideoFrameRecord r{{Y.data(), U.data(), V.data()}, {W, 3, 3}, out.data(), W, H, W, H, W, layout, bpp};
        qxVideoFrameConvert2(&r);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                uint32_t rgb = qxYuvToRgb(Y[size_t(y * W + x)], U[size_t((y >> 1) * 3 + (x >> 1))], V[size_t((y >> 1) * 3 + (x >> 1))]);
                const uint8_t *p = out.data() + size_t(y * W + x) * bpp;
                uint32_t R = rgb >> 16, G = rgb >> 8 & 255, B = rgb & 255, got = 0, want = 0;
                if (bpp == 4) {
                    got = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
                    want = layout == 10 ? rgb : layout == 11 ? B << 24 | G << 16 | R << 8 : layout == 12 ? R << 24 | G << 16 | B << 8 : B << 16 | G << 8 | R;
                } else if (bpp == 3) {
                    got = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
                    want = layout == 8 ? rgb : B << 16 | G << 8 | R;
                } else {
                    got = uint32_t(p[0]) | uint32_t(p[1]) << 8;
                    bool five = layout <= 3, bgr = layout & 1;
                    uint32_t hi = bgr ? B : R, lo = bgr ? R : B;
                    want = five ? (hi >> 3) << 10 | (G >> 3) << 5 | lo >> 3 : (hi >> 3) << 11 | (G >> 2) << 5 | lo >> 3;
                    if (layout & 2) want = (want & 255) << 8 | want >> 8;
                }
                ASSERT_EQ(got, want) << "layout " << layout << " at " << x << "," << y;
            }
        EXPECT_EQ(out[size_t(W * H) * bpp], 0xAA) << layout;
    }
}

TEST(VideoFrames, ScaledRowsStayInsideThePlanes)
{
    // Odd sizes whose single-precision row sums drift: every read stays
    // inside exactly-sized planes (the sanitizer watches), and each pixel
    // comes from the sample the nearest-neighbour rule picks: a 16.16 column
    // step in single precision, chroma at half the luma column and row.
    std::mt19937 rng(14);
    for (auto [sw, sh, dw, dh] : {std::tuple{7, 7, 3, 10}, {3, 999, 5, 1000}, {1, 1, 9, 9}, {641, 479, 1000, 977}, {640, 480, 213, 160}}) {
        const int cw = (sw + 1) / 2, ch = (sh + 1) / 2;
        std::vector<uint8_t> Y(size_t(sw * sh)), U(size_t(cw * ch)), V(U.size());
        for (auto *plane : {&Y, &U, &V})
            for (auto &v : *plane) v = uint8_t(rng());
        std::vector<uint32_t> out(size_t(dw * dh), 1);
        qxVideoFrameRecord r{{Y.data(), U.data(), V.data()}, {sw, cw, cw}, out.data(), sw, sh, dw, dh, dw, 10, 4};
        qxVideoFrameConvert(&r);
        const int64_t step = int64_t(float(sw) / float(dw) * 65536.0f);
        float rowSum = 0;
        int wrong = 0;
        for (int y = 0; y < dh; ++y, rowSum += float(sh) / float(dh)) {
            const int sy = std::min(int(rowSum), sh - 1);
            for (int x = 0; x < dw; ++x) {
                const int lx = int(std::min<int64_t>(int64_t(x) * step >> 16, sw - 1));
                const int cx = int(std::min<int64_t>(int64_t(x) * step >> 17, cw - 1));
                const uint32_t want = qxYuvToRgb(Y[size_t(sy * sw + lx)], U[size_t((sy >> 1) * cw + cx)], V[size_t((sy >> 1) * cw + cx)]);
                if (out[size_t(y * dw + x)] != want && wrong++ < 3)
                    ADD_FAILURE() << sw << "x" << sh << " to " << dw << "x" << dh << " at " << x << "," << y;
            }
        }
        EXPECT_EQ(wrong, 0);
    }
}

TEST(Transitions, DissolveAndRollModels)
{
    const int w = 13, h = 4;
    std::mt19937 rng(13);
    std::vector<uint8_t> map(w * h), src(w * h), dst(w * h);
    for (auto &m : map) m = uint8_t(rng());
    for (auto &s : src) s = uint8_t(rng());
    for (auto [rw, rh] : {std::pair{w, h}, std::pair{w * h, 1}}) // one long row takes the 16-pixel path
        for (uint32_t dir : {0u, 1u})
            for (int level : {0, 100, 256}) {
                qxDissolveRecord r{src.data(), dst.data(), rw, rh, rw, rw, map.data(), 1, dir};
                qxDissolveKernel(&r, level);
                for (int i = 0; i < w * h; ++i)
                    ASSERT_EQ(dst[size_t(i)], ((map[size_t(i)] >= level) == (dir != 0)) ? src[size_t(i)] : 0);
            }
    // Mask mode without a source sets the shown bits.
    std::vector<uint8_t> bits(2 * h, 0x55);
    qxDissolveRecord m{nullptr, bits.data(), w, h, 0, 2, map.data(), 0, 1};
    qxDissolveKernel(&m, 0);
    for (int y = 0; y < h; ++y) {
        EXPECT_EQ(bits[size_t(2 * y)], 0xFF);
        EXPECT_EQ(bits[size_t(2 * y + 1)], 0xFD);
    }

    // Roll: all angles 0 copy line P onto the N lines ending at P.
    std::vector<uint32_t> s(w * h), d(w * h, 0);
    for (int i = 0; i < w * h; ++i) s[size_t(i)] = uint32_t(i);
    double angles[3] = {0, 0, 0};
    qxCopyRecord c{};
    c.source = s.data(), c.destination = d.data(), c.angles = angles, c.sourcePitch = w, c.destPitch = w;
    c.width = w, c.height = h, c.count = 3, c.position = 2, c.bytesPerPixel = 4;
    qxRollKernel(&c);
    EXPECT_EQ(c.linesCopied, 3);
    EXPECT_EQ(c.firstLine, 0);
    EXPECT_EQ(c.resultPosition, 2);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < w; ++x) EXPECT_EQ(d[size_t(y * w + x)], uint32_t(2 * w + x));
    // Columns, angles a model computes, and a position beyond the image.
    double cols[4] = {0.5, 1.7, -1.6, 1e300};
    c.angles = cols, c.orientation = 1, c.count = 4, c.position = 5;
    std::fill(d.begin(), d.end(), 0);
    qxRollKernel(&c);
    int copied = 0;
    for (int k = 0; k < 4; ++k) {
        int i = 5 - 4 + 1 + k;
        double j = std::trunc(cols[k] / (6.283185307179586 / 4)) + 5;
        if (j < 0 || j >= w) continue;
        ++copied;
        for (int y = 0; y < h; ++y) EXPECT_EQ(d[size_t(y * w + i)], s[size_t(y * w + int(j))]);
    }
    EXPECT_EQ(c.linesCopied, copied);
    c.position = 500, c.angles = angles, c.count = 3;
    qxRollKernel(&c);
    EXPECT_EQ(c.linesCopied, 0);
    EXPECT_EQ(c.firstLine, -100000);
}

TEST(AreaEffects, IntSqrtAndOilPaint)
{
    EXPECT_EQ(qxIntSqrt(-1), -1);
    for (int64_t n : {0LL, 1LL, 2LL, 3LL, 4LL, 65535LL, 65536LL, 65537LL, 2147395600LL, 2147395599LL, 2147483647LL,
                      4294836225LL, 4294836224LL, 4294967295LL}) {
        int64_t r = qxIntSqrt(n);
        EXPECT_TRUE(r * r <= n && (r + 1) * (r + 1) > n) << n;
    }
    std::mt19937 rng(14);
    for (int i = 0; i < 200000; ++i) {
        int64_t n = rng(), r = qxIntSqrt(n);
        ASSERT_TRUE(r * r <= n && (r + 1) * (r + 1) > n) << n;
    }
    // Checkerboard, radius 1: five A against four B outputs the A at the
    // window's bottom-right corner (the last to raise the largest count).
    const uint32_t A = 0x00FF0000, B = 0x000000FF;
    std::vector<uint32_t> px(36);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) px[size_t(y * 6 + x)] = ((x + y) & 1) ? B : A;
    // Tag the A pixels so the chosen one can be told apart (intensity kept).
    for (int i = 0; i < 36; ++i)
        if (px[size_t(i)] == A) px[size_t(i)] |= uint32_t(i) << 24;
    auto in = px;
    qxOilPaint32(px.data(), 6, 6, 6, 10, 1);
    // Pixel (2, 2) is A-centred: its window rows 1-3, columns 1-3.
    EXPECT_EQ(px[2 * 6 + 2], in[3 * 6 + 3]);
    auto t0 = std::chrono::steady_clock::now();
    qxOilPaint32(px.data(), 6, 6, 6, 10, 1e9);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
}

// Mask mode packs eight thresholds per byte: compared with a bit-by-bit
// model on widths around the byte and 16-pixel edges, both directions, with
// and without a source mask.
TEST(Transitions, DissolveMaskModeMatchesBitModel)
{
    std::mt19937 rng(7);
    for (int w : {1, 7, 8, 9, 31, 33, 47})
        for (bool withSource : {false, true})
            for (int level : {-5, 0, 77, 200, 255, 256, 300}) {
                const uint32_t dir = uint32_t(level & 1);
                const int h = 3, bpr = (w + 7) / 8 + 1;
                std::vector<uint8_t> map(size_t(w * h)), src(size_t(bpr * h)), dst(size_t(bpr * h)), want;
                for (auto &m : map) m = uint8_t(rng() % 255);
                for (auto &s : src) s = uint8_t(rng());
                for (auto &d : dst) d = uint8_t(rng());
                want = dst;
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x) {
                        const uint8_t bit = uint8_t(0x80 >> (x & 7));
                        bool on = (map[size_t(y * w + x)] >= level) == (dir != 0);
                        if (withSource) on = on && (src[size_t(y * bpr + x / 8)] & bit);
                        uint8_t &b = want[size_t(y * bpr + x / 8)];
                        b = on ? uint8_t(b | bit) : uint8_t(b & ~bit);
                    }
                qxDissolveRecord r{withSource ? src.data() : nullptr, dst.data(), w, h, bpr, bpr, map.data(), 0, dir};
                qxDissolveKernel(&r, level);
                ASSERT_EQ(dst, want) << w << " " << withSource << " " << level;
            }
}
