// Swirl and ripple against scalar models written from the rules, the three
// output modes, and the 16-bit convolution against the 32-bit one.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "core/codecs/qx_crc32.h"
#include "imaging/qx_areaeffects.h"
#include "imaging/qx_blit.h"
#include "imaging/qx_convolve.h"
#include "imaging/qx_displace.h"
#include "imaging/qx_pixelformat.h"

namespace {

std::vector<double> sineTable(bool cosine)
{
    std::vector<double> t(QX_TRIG_ENTRIES);
    double x = 0;
    for (int k = 0; k < QX_TRIG_ENTRIES; ++k, x += 0.001) t[size_t(k)] = k ? (cosine ? std::cos(x) : std::sin(x)) : (cosine ? 1.0 : 0.0);
    return t;
}

int clampTo(double v, int n) { int t = v < 0 ? -1 : int(std::min(v, 1e9)); return t < 0 ? 0 : t >= n ? n - 1 : t; }

} // namespace

TEST(Displace, SwirlMatchesTheRule)
{
    const int w = 21, h = 13;
    std::vector<uint32_t> img(w * h);
    for (int i = 0; i < w * h; ++i) img[size_t(i)] = uint32_t(i) * 2654435761u;
    auto sine = sineTable(false), cosine = sineTable(true);
    for (double p : {0.0, 45.0, 200.0, -120.0, 500.0}) {
        auto out = img;
        qxDisplaceRecord r{};
        r.source = img.data(), r.sourcePitch = w, r.destination = out.data(), r.destPitch = w;
        r.table1 = sine.data(), r.table2 = cosine.data(), r.width = w, r.height = h, r.layout = 10;
        qxSwirl32(&r, p);
        double angle = p > 359 ? 720 - p : p, theta = angle * 0.017453292519943295;
        double cx = w / 2.0, cy = h / 2.0, R = std::max(cx, cy), sx = 1, sy = double(w) / h;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                double dx = (x - cx) * sx, dy = (y - cy) * sy, d2 = dx * dx + dy * dy;
                int ox = x, oy = y;
                if (d2 < R * R) {
                    double d = qxIntSqrt(int64_t(d2)), f = 1 - d / R, phi = theta * f * f, s, c;
                    if (angle < 0) s = std::sin(phi), c = std::cos(phi);
                    else {
                        int k = std::clamp(int(phi / 0.001), 0, QX_TRIG_ENTRIES - 1);
                        s = sine[size_t(k)], c = cosine[size_t(k)];
                    }
                    ox = clampTo((c * dx - s * dy) / sx + cx, w), oy = clampTo((s * dx + c * dy) / sy + cy, h);
                }
                ASSERT_EQ(out[size_t(y * w + x)], img[size_t(oy * w + ox)]) << p << " at " << x << "," << y;
            }
        if (p == 0.0) {
            EXPECT_EQ(out, img);
        }
    }
}

TEST(Displace, RippleMatchesTheRuleAndFades)
{
    const int w = 17, h = 11, cx = 8, cy = 5;
    std::vector<uint32_t> img(w * h);
    for (int i = 0; i < w * h; ++i) img[size_t(i)] = uint32_t(i + 1) * 40503u;
    std::vector<int32_t> dist(w * h);
    std::vector<double> sine(QX_TRIG_ENTRIES);
    qxWaterRippleSetup(dist.data(), sine.data(), w, h, cx, cy);
    EXPECT_EQ(sine, sineTable(false));
    const double twoPi = 6.28318530717959;
    for (auto [phase, amp, wl] : {std::tuple{0.0, 4.0, 5.0}, {20.0, 2.5, 3.0}, {-7.5, 6.0, 1.0}}) {
        auto out = img;
        qxDisplaceRecord r{};
        r.source = img.data(), r.sourcePitch = w, r.destination = out.data(), r.destPitch = w;
        r.distance = dist.data(), r.table2 = sine.data(), r.width = w, r.height = h, r.layout = 10;
        r.cx = cx, r.cy = cy, r.radius = std::max(cx, cy), r.wavelength = wl, r.amplitude = amp, r.frames = 1,
        r.phase = phase;
        qxWaterRipple32(&r, -1);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                double d = qxIntSqrt(int64_t(x - cx) * (x - cx) + int64_t(y - cy) * (y - cy));
                double a = d / wl * twoPi - phase;
                while (a > twoPi) a -= twoPi;
                while (a < 0) a += twoPi;
                double v = amp * sine[size_t(int(a / 0.001))] * (r.radius - d) / r.radius;
                if (d != 0) v = v * wl / d;
                int ox = clampTo(x + (x - cx) * v, w), oy = clampTo(y + (y - cy) * v, h);
                ASSERT_EQ(out[size_t(y * w + x)], img[size_t(oy * w + ox)]) << phase << " at " << x << "," << y;
            }
    }
    // Frames: the amplitude rises by its step up to the middle frame and
    // falls again; the fade writes the source alpha scaled by the level.
    std::vector<uint8_t> salpha(w * h, 200), dalpha(w * h, 7);
    auto out = img;
    qxDisplaceRecord r{};
    r.source = img.data(), r.sourcePitch = w, r.destination = out.data(), r.destPitch = w;
    r.distance = dist.data(), r.table2 = sine.data(), r.width = w, r.height = h, r.layout = 10;
    r.cx = cx, r.cy = cy, r.radius = 8, r.wavelength = 4, r.amplitudeStep = 0.5, r.frames = 10;
    r.sourceAlpha = salpha.data(), r.sourceAlphaBytesPerRow = w, r.destAlpha = dalpha.data(), r.destAlphaBytesPerRow = w;
    qxWaterRipple32(&r, 4);
    EXPECT_EQ(r.amplitude, 2.0);
    EXPECT_EQ(dalpha[0], 200 * (4 * 255 / 20) / 255);
    qxWaterRipple32(&r, 15);
    EXPECT_EQ(r.amplitude, 2.5);
    r.reverse = 1;
    qxWaterRipple32(&r, 15);
    EXPECT_EQ(dalpha[0], 200 * (255 - 15 * 255 / 20) / 255);
}

TEST(Displace, ConvolutionSixteenBitFollowsThirtyTwo)
{
    const int w = 19, h = 14;
    std::mt19937 rng(21);
    std::vector<uint16_t> p16(w * h);
    for (auto &p : p16) p = uint16_t(rng());
    std::vector<uint32_t> p32(w * h);
    for (int i = 0; i < w * h; ++i)
        p32[size_t(i)] = qxRed16(p16[size_t(i)]) << 16 | qxGreen16(p16[size_t(i)]) << 8 | qxBlue16(p16[size_t(i)]);
    for (uint32_t mode : {'s', 'g', 'e'}) {
        auto a = p16;
        auto b = p32;
        qxConvolveRecord r16{a.data(), w, h, w, 4, 2, nullptr, 0, 1, 1.0, mode}, r32{b.data(), w, h, w, 10, 4, nullptr, 0, 1, 1.0, mode};
        qxConvolvePlanes(&r16);
        qxConvolvePlanes(&r32);
        for (int i = 0; i < w * h; ++i)
            ASSERT_EQ(a[size_t(i)], qxPack16(b[size_t(i)] >> 16 & 255, b[size_t(i)] >> 8 & 255, b[size_t(i)] & 255))
                << char(mode) << " " << i;
    }
}

// Past 360 degrees the swirl asks for blend levels above 255 (and below 0
// for negative angles): each channel stays between the two pictures.
TEST(Displace, SwirlBlendLevelStaysInRange)
{
    const int w = 16, h = 16;
    std::vector<uint32_t> from(w * h, 0xFF10F020u), to(w * h, 0xFFF01080u);
    auto sine = sineTable(false), cosine = sineTable(true);
    for (double p : {360.0, 500.0, 719.0, -300.0}) {
        std::vector<uint32_t> out(w * h, 0);
        qxDisplaceRecord r{};
        r.source = to.data(), r.sourcePitch = w, r.blend = from.data(), r.blendPitch = w;
        r.destination = out.data(), r.destPitch = w;
        r.table1 = sine.data(), r.table2 = cosine.data(), r.width = w, r.height = h, r.layout = 10;
        qxSwirl32(&r, p);
        // Level 255 lands within one step of the new picture, 0 on the old.
        const uint32_t want = p > 0 ? to[0] : from[0];
        for (uint32_t px : out)
            for (int shift : {0, 8, 16})
                ASSERT_LE(std::abs(int((px >> shift) & 255) - int((want >> shift) & 255)), p > 0 ? 1 : 0) << p;
    }
}

// Pinned checksums of every output mode, both depths, two layouts each,
// wide and tall pictures: the transitions' frames must not change.
TEST(Displace, OutputsKeepTheirChecksums)
{
    auto sine = sineTable(false), cosine = sineTable(true);
    qxCrc32Init();
    const int saved = qxKernelLevel();
    for (int level : {0, 2}) {
    const int got = qxSetKernelLevel(level);
    std::mt19937 rng(77);
    uint32_t crc = 0;
    for (auto [w, h] : {std::pair{97, 61}, std::pair{45, 70}})
        for (uint32_t layout : {10u, 12u, 4u, 5u}) {
            const size_t n = size_t(w) * h, bpp = layout >= 10 ? 4 : 2;
            std::vector<uint32_t> src(n), blend(n), dst(n);
            std::vector<uint8_t> salpha(n), dalpha(n), smask(size_t((w + 7) / 8) * h), dmask(smask.size());
            std::vector<int32_t> dist(n);
            qxWaterRippleSetup(dist.data(), nullptr, w, h, w / 2, h / 2);
            for (int mode = 0; mode < 3; ++mode)
                for (int step = 0; step < 8; ++step) {
                    for (size_t i = 0; i < n; ++i)
                        src[i] = rng(), blend[i] = rng(), dst[i] = rng(), salpha[i] = uint8_t(rng() % 3 ? rng() : 0),
                        dalpha[i] = uint8_t(rng());
                    for (size_t i = 0; i < smask.size(); ++i) smask[i] = uint8_t(rng()), dmask[i] = uint8_t(rng());
                    qxDisplaceRecord r{};
                    r.source = mode == 1 && step % 2 ? nullptr : src.data(), r.sourcePitch = w;
                    r.blend = mode == 0 ? blend.data() : nullptr, r.blendPitch = w;
                    r.destination = dst.data(), r.destPitch = w, r.width = w, r.height = h, r.layout = layout;
                    r.sourceAlpha = mode == 2 ? salpha.data() : nullptr, r.sourceAlphaBytesPerRow = w;
                    r.destAlpha = dalpha.data(), r.destAlphaBytesPerRow = w, r.reverse = uint32_t(step % 3 == 1);
                    r.sourceMask = mode == 1 && step % 3 ? smask.data() : nullptr, r.destMask = dmask.data();
                    r.sourceMaskBytesPerRow = r.destMaskBytesPerRow = (w + 7) / 8;
                    r.table1 = sine.data(), r.table2 = (step < 4 ? cosine : sine).data();
                    r.distance = dist.data(), r.cx = w / 2, r.cy = h / 2, r.radius = std::max(w, h) / 2;
                    r.wavelength = 16 << (step % 3), r.amplitudeStep = 0.05, r.frames = 25, r.phase = 1.5;
                    const int32_t at[4] = {-150, 37, 300, 517};
                    if (step < 4) (bpp == 4 ? qxSwirl32 : qxSwirl16)(&r, at[step]);
                    else (bpp == 4 ? qxWaterRipple32 : qxWaterRipple16)(&r, step == 4 ? -1 : step * 7);
                    for (auto *b : {&dst, &blend}) crc = qxCrc32(b->data(), long(n * bpp)) ^ (crc * 31);
                    crc = qxCrc32(dalpha.data(), long(n)) ^ qxCrc32(dmask.data(), long(dmask.size())) ^ (crc * 31);
                }
        }
    EXPECT_EQ(crc, 0xC6773ADEu) << "kernel level " << got;
    }
    qxSetKernelLevel(saved);
}

// Full-HD swirl and ripple frames of the transitions (blend mode), wide and
// tall: the row kernels' fast paths must keep every position.
TEST(Displace, FullHdFramesKeepTheirChecksums)
{
    auto sine = sineTable(false), cosine = sineTable(true);
    qxCrc32Init();
    const int saved = qxKernelLevel();
    for (int level : {0, 2}) {
        const int got = qxSetKernelLevel(level);
        uint32_t crc = 0;
        for (auto [w, h] : {std::pair{1920, 1080}, std::pair{1080, 1920}}) {
            const size_t n = size_t(w) * h;
            std::vector<uint32_t> src(n), blend(n), dst(n);
            for (size_t i = 0; i < n; ++i) src[i] = uint32_t(i) * 2654435761u, blend[i] = uint32_t(i) * 40503u;
            std::vector<int32_t> dist(n);
            qxWaterRippleSetup(dist.data(), nullptr, w, h, w / 2, h / 2);
            qxDisplaceRecord r{};
            r.source = src.data(), r.blend = blend.data(), r.destination = dst.data();
            r.sourcePitch = r.blendPitch = r.destPitch = w, r.width = w, r.height = h, r.layout = 10;
            r.table1 = sine.data(), r.table2 = cosine.data(), r.distance = dist.data();
            r.cx = w / 2, r.cy = h / 2, r.radius = std::max(w, h) / 2, r.wavelength = 64, r.amplitudeStep = 0.05;
            r.frames = 25;
            for (int32_t p : {301, 517, -2}) {
                if (p < 0) r.table2 = sine.data(), qxWaterRipple32(&r, 17);
                else qxSwirl32(&r, p);
                crc = qxCrc32(dst.data(), long(n * 4)) ^ (crc * 31);
            }
        }
        EXPECT_EQ(crc, 0x15E08910u) << "kernel level " << got;
    }
    qxSetKernelLevel(saved);
}
