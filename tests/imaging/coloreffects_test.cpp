// Colour effects and flips against ImageMagick and OpenCV, the 16-bit
// members against the 32-bit ones, and the rules' edge cases.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "effects_peers.h"
#include "imaging/qx_coloreffects.h"
#include "imaging/qx_pixelformat.h"
#include "imaging/qx_transform.h"

namespace {

std::vector<uint32_t> randomImage(int n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint32_t> v(static_cast<size_t>(n));
    for (auto &p : v) p = rng();
    return v;
}

int maxDiff(uint32_t a, uint32_t b)
{
    int d = 0;
    for (int s = 0; s < 24; s += 8) d = std::max(d, std::abs(int(a >> s & 255) - int(b >> s & 255)));
    return d;
}

uint32_t rgb16To32(uint16_t p) { return qxRed16(p) << 16 | qxGreen16(p) << 8 | qxBlue16(p); }
uint16_t pack32To16(uint32_t p) { return uint16_t(qxPack16(p >> 16 & 255, p >> 8 & 255, p & 255)); }

} // namespace

TEST(ColourEffects, PeersImageMagick)
{
    const int w = 61, h = 37;
    auto src = randomImage(w * h, 1);
    for (auto &p : src) p &= 0xFFFFFF;
    // ImageMagick 6 turns some pixels black in -modulate (very light ones,
    // and hue shifts below 100); its modulate reference keeps to mid-tones,
    // saturation at most 100 and hue shifts upwards.
    auto mid = src;
    for (auto &p : mid) p = (p & 0x7F7F7F) + 0x202020;
    auto run = [&](auto kernel) {
        auto v = src;
        kernel(v.data());
        return v;
    };
    auto expectExact = [&](const std::vector<uint32_t> &ours, const std::string &args) {
        auto ref = magick(src, w, h, args);
        ASSERT_EQ(ref.size(), ours.size()) << args;
        for (size_t i = 0; i < ours.size(); ++i) ASSERT_EQ(ours[i] & 0xFFFFFF, ref[i]) << args << " at " << i;
    };
    expectExact(run([&](uint32_t *p) { qxInvertPixels32(p, w, h, w); }), "-negate");
    expectExact(run([&](uint32_t *p) { qxSolarize32(p, w, h, w, 10, 100); }), "-solarize " + std::to_string(100 * 257));
    // Gamma and modulate: doubles against ImageMagick's 16-bit quanta.
    auto within1 = [&](const std::vector<uint32_t> &ours, const std::string &args) {
        auto ref = magick(src, w, h, args);
        ASSERT_EQ(ref.size(), ours.size()) << args;
        for (size_t i = 0; i < ours.size(); ++i) ASSERT_LE(maxDiff(ours[i], ref[i]), 1) << args << " at " << i;
    };
    uint8_t t[3][256];
    qxGammaTable(t[0], 2.2), qxGammaTable(t[1], 0.5), qxGammaTable(t[2], 1.7);
    within1(run([&](uint32_t *p) { qxGamma32(p, w, h, w, 10, t[0], t[1], t[2], 7); }), "-channel R -gamma 2.2 -channel G -gamma 0.5 -channel B -gamma 1.7");
    src.swap(mid);
    within1(run([&](uint32_t *p) { qxModulate32(p, w, h, w, 10, 120, 80, 130); }), "-modulate 120,80,130");
    within1(run([&](uint32_t *p) { qxModulate32(p, w, h, w, 10, 90, 70, 160); }), "-modulate 90,70,160");
}

TEST(ColourEffects, FlipsAndTurnsAgainstPeers)
{
    const int w = 23, h = 14;
    auto src = randomImage(w * h, 2);
    for (auto &p : src) p &= 0xFFFFFF;
    for (int horizontal = 0; horizontal < 2; ++horizontal) {
        auto v = src;
        qxFlipRecord r{v.data(), w, h, w, nullptr, 0, nullptr, 0, uint32_t(horizontal), 4, nullptr};
        qxFlipPixels(&r);
        EXPECT_EQ(v, magick(src, w, h, horizontal ? "-flop" : "-flip"));
        cv::Mat m(h, w, CV_8UC4, src.data()), o;
        cv::flip(m, o, horizontal ? 1 : 0);
        EXPECT_EQ(0, std::memcmp(o.data, v.data(), v.size() * 4));
    }
    for (uint32_t kind = 1; kind <= 2; ++kind) {
        std::vector<uint32_t> v(src.size());
        qxResampleRecord r{};
        r.source = src.data(), r.sourcePitch = w, r.result = v.data(), r.resultPitch = h;
        r.width = w, r.height = h, r.resultWidth = h, r.resultHeight = w, r.bytesPerPixel = 4, r.quarterKind = kind;
        qxQuarterTurnPixels(&r);
        // Kind 1 turns anticlockwise, kind 2 clockwise.
        EXPECT_EQ(v, magick(src, w, h, kind == 1 ? "-rotate -90" : "-rotate 90"));
        cv::Mat m(h, w, CV_8UC4, src.data()), o;
        cv::rotate(m, o, kind == 1 ? cv::ROTATE_90_COUNTERCLOCKWISE : cv::ROTATE_90_CLOCKWISE);
        EXPECT_EQ(0, std::memcmp(o.data, v.data(), v.size() * 4));
    }
}

TEST(ColourEffects, GrayAgainstOpenCV)
{
    const int w = 256, h = 64;
    auto src = randomImage(w * h, 3);
    auto v = src;
    qxGrayPixels32(v.data(), w, h, w, 10, 0);
    cv::Mat m(h, w, CV_8UC4, src.data()), o;
    cv::cvtColor(m, o, cv::COLOR_BGRA2GRAY);
    for (int i = 0; i < w * h; ++i) {
        ASSERT_LE(std::abs(int(v[size_t(i)] & 255) - int(o.data[i])), 1) << i;
        ASSERT_EQ(v[size_t(i)] >> 24, 0u); // rebuilt pixels carry alpha 0
    }
}

TEST(ColourEffects, SixteenBitMembersFollowThirtyTwo)
{
    const int n = 4096;
    std::mt19937 rng(4);
    std::vector<uint16_t> p16(n);
    for (auto &p : p16) p = uint16_t(rng());
    std::vector<uint32_t> p32(n);
    for (int i = 0; i < n; ++i) p32[size_t(i)] = rgb16To32(p16[size_t(i)]);
    uint8_t t[256];
    qxGammaTable(t, 1.8);
    auto check = [&](const char *what, auto k16, auto k32) {
        auto a = p16;
        auto b = p32;
        k16(a.data());
        k32(b.data());
        for (int i = 0; i < n; ++i) ASSERT_EQ(a[size_t(i)], pack32To16(b[size_t(i)])) << what << " " << i;
    };
    check("gray", [](uint16_t *p) { qxGrayPixels16(p, 64, 64, 64, 4, 0); }, [](uint32_t *p) { qxGrayPixels32(p, 64, 64, 64, 10, 0); });
    check("solarize", [](uint16_t *p) { qxSolarize16(p, 64, 64, 64, 4, 90); }, [](uint32_t *p) { qxSolarize32(p, 64, 64, 64, 10, 90); });
    check("gamma", [&](uint16_t *p) { qxGamma16(p, 64, 64, 64, 4, t, t, t, 5); }, [&](uint32_t *p) { qxGamma32(p, 64, 64, 64, 10, t, t, t, 5); });
    check("contrast", [](uint16_t *p) { qxContrast16(p, 64, 64, 64, 4, 1); }, [](uint32_t *p) { qxContrast32(p, 64, 64, 64, 10, 1); });
    check("modulate", [](uint16_t *p) { qxModulate16(p, 64, 64, 64, 4, 90, 130, 70); }, [](uint32_t *p) { qxModulate32(p, 64, 64, 64, 10, 90, 130, 70); });
    check("sepia", [](uint16_t *p) { qxSepia16(p, 64, 64, 64, 4, 200); }, [](uint32_t *p) { qxSepia32(p, 64, 64, 64, 10, 200); });
    // Another layout converts on the way in and out and agrees with native.
    std::vector<uint16_t> swapped(n);
    for (int i = 0; i < n; ++i) swapped[size_t(i)] = uint16_t(qxToLayout16(6, p16[size_t(i)]));
    auto native = p16;
    qxSepia16(native.data(), 64, 64, 64, 4, 150);
    qxSepia16(swapped.data(), 64, 64, 64, 6, 150);
    for (int i = 0; i < n; ++i) ASSERT_EQ(qxFromLayout16(6, swapped[size_t(i)]), native[size_t(i)]);
}

TEST(ColourEffects, EdgeCases)
{
    // Monochrome threshold: intensity 128 black, 129 white.
    uint32_t px[2] = {0x808080, 0x818181};
    qxGrayPixels32(px, 2, 1, 2, 10, 1);
    EXPECT_EQ(px[0], 0u);
    EXPECT_EQ(px[1], 0xFFFFFFu);
    // Gamma 0 clears the channel.
    uint8_t zero[256];
    qxGammaTable(zero, 0);
    uint32_t g = 0xFF123456;
    qxGamma32(&g, 1, 1, 1, 10, zero, zero, zero, 2);
    EXPECT_EQ(g, 0x00120056u);
    // Solarize clamps its threshold; invert flips all bits.
    uint32_t s[2] = {0x10FF0001, 0x10FF0001};
    qxSolarize32(&s[0], 1, 1, 1, 10, -5);
    EXPECT_EQ(s[0], 0x000000FEu);
    qxInvertPixels32(&s[1], 1, 1, 1);
    EXPECT_EQ(s[1], 0xEF00FFFEu);
    // Normalize of one colour changes nothing.
    std::vector<uint32_t> one(100, 0x336699);
    qxNormalizeRecord nr{one.data(), 10, 10, 10, 2, 99, 10, 4};
    qxNormalizePixels(&nr);
    EXPECT_EQ(one, std::vector<uint32_t>(100, 0x336699));
    // Mix: level 255 copies the source; level 0 leaves s + ((d - s) * 255 >> 8).
    uint32_t src = 0x00102030, dst[2] = {0x00F0E0D0, 0x00F0E0D0};
    qxMixRecord m{&src, &dst[0], nullptr, 0};
    qxMixPixels32(&m, 1, 1, 255, 10, 1, 1, 0);
    EXPECT_EQ(dst[0], src);
    m.destination = &dst[1];
    qxMixPixels32(&m, 1, 1, 0, 10, 1, 1, 0);
    EXPECT_EQ(dst[1], uint32_t((0x10 + ((0xE0 * 255) >> 8)) << 16 | (0x20 + ((0xC0 * 255) >> 8)) << 8 |
                               (0x30 + ((0xA0 * 255) >> 8))));
    // Mends: modulate factors that are not finite or huge.
    int32_t pct = 0;
    EXPECT_EQ(qxModulatePercent(NAN, &pct), 0);
    EXPECT_EQ(qxModulatePercent(1e300, &pct), 1);
    EXPECT_EQ(pct, INT32_MAX);
    auto t0 = std::chrono::steady_clock::now();
    std::vector<uint32_t> big = randomImage(4096, 5);
    qxModulate32(big.data(), 64, 64, 64, 10, INT32_MAX, INT32_MAX, INT32_MAX);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
}

TEST(Flip, MaskPadBitsAndOddHeight)
{
    // Width 10: bit 9 becomes bit 0; the six pad bits stay.
    uint8_t mask[2] = {0x00, 0x40 | 0x15}, scratch[2];
    qxFlipRecord r{nullptr, 10, 1, 0, mask, 2, nullptr, 0, 1, 4, scratch};
    qxFlipPixels(&r);
    EXPECT_EQ(mask[0], 0x80);
    EXPECT_EQ(mask[1], 0x15);
    uint32_t col[3] = {1, 2, 3};
    qxFlipRecord v{col, 1, 3, 1, nullptr, 0, nullptr, 0, 0, 4, nullptr};
    qxFlipPixels(&v);
    EXPECT_EQ(col[0], 3u);
    EXPECT_EQ(col[1], 2u);
    EXPECT_EQ(col[2], 1u);
}

TEST(ColourEffects, NativeGrayEqualsTheRuleForEveryColour)
{
    // The vectorised native road against qxIntensity on all 2^24 colours.
    std::vector<uint32_t> all(1u << 24);
    for (uint32_t c = 0; c < all.size(); ++c) all[c] = c | 0xAB000000u;
    qxGrayPixels32(all.data(), 4096, 4096, 4096, 10, 0);
    for (uint32_t c = 0; c < all.size(); ++c) {
        uint32_t g = uint32_t(qxIntensity(int32_t(c >> 16), int32_t(c >> 8 & 255), int32_t(c & 255)));
        ASSERT_EQ(all[c], g << 16 | g << 8 | g) << c;
    }
}
