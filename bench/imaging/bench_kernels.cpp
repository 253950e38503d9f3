// Our pixel kernels and pixman side by side on 1920x1080 planes, one
// thread: MPix/s of each and our speed as a ratio of pixman's.
#include <pixman.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include "imaging/qx_blit.h"
#include "imaging/qx_scale.h"

namespace {

constexpr int W = 1920, H = 1080;

double mpixPerSec(const std::function<void()> &op, double pixels)
{
    using clock = std::chrono::steady_clock;
    op(); // warm the caches and page in the buffers
    double best = 1e30;
    auto end = clock::now() + std::chrono::milliseconds(400);
    int runs = 0;
    while (clock::now() < end || runs < 3) {
        auto t0 = clock::now();
        op();
        best = std::min(best, std::chrono::duration<double>(clock::now() - t0).count());
        ++runs;
    }
    return pixels / best / 1e6;
}

void row(const char *name, double ours, double theirs, const char *unit = "MPix/s")
{
    std::printf("%-44s %10.0f %10.0f %s   ratio %.2f\n", name, ours, theirs, unit, ours / theirs);
}

template <typename P> std::vector<P> noise(size_t n, uint32_t seed, uint32_t orMask = 0)
{
    std::mt19937 rng(seed);
    std::vector<P> v(n);
    for (auto &p : v) p = P(rng() | orMask);
    return v;
}

} // namespace

int main()
{
    std::printf("kernel level %d (0 scalar, 1 SSE2, 2 AVX2); pixman %s\n", qxKernelLevel(),
                pixman_version_string());
    std::printf("%-44s %10s %10s\n", "", "ours", "pixman");
    const double px = double(W) * H;
    auto src = noise<uint32_t>(size_t(W) * H, 1, 0xFF000000u), dst = noise<uint32_t>(size_t(W) * H, 2);
    auto src16 = noise<uint16_t>(size_t(W) * H, 3), dst16 = noise<uint16_t>(size_t(W) * H, 4);
    std::vector<uint8_t> alpha(size_t(W) * H);
    {
        std::mt19937 rng(5);
        // Sprite-like coverage: mostly clear or opaque, edges in between.
        for (auto &a : alpha) {
            uint32_t r = rng() % 8;
            a = uint8_t(r < 3 ? 0 : r < 6 ? 255 : rng());
        }
    }
    std::vector<uint8_t> randomAlpha = noise<uint8_t>(size_t(W) * H, 6);
    const int maskRow = ((W + 15) >> 3) & ~1;
    std::vector<uint8_t> bits(size_t(maskRow) * H);
    std::vector<uint32_t> a1(size_t(W / 32) * H);
    {
        std::mt19937 rng(7);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                bool on = rng() % 4 != 0;
                qxSetMaskBit(&bits[size_t(y) * maskRow], x, on);
                if (on) a1[size_t(y) * (W / 32) + x / 32] |= 1u << (x & 31);
            }
    }
    auto img = [](pixman_format_code_t f, void *p, int w, int h, int bpp) {
        return pixman_image_create_bits(f, w, h, static_cast<uint32_t *>(p), w * bpp);
    };
    pixman_image_t *ps = img(PIXMAN_x8r8g8b8, src.data(), W, H, 4), *pd = img(PIXMAN_x8r8g8b8, dst.data(), W, H, 4);
    pixman_image_t *psa = img(PIXMAN_a8r8g8b8, src.data(), W, H, 4);
    pixman_image_t *pm1 = pixman_image_create_bits(PIXMAN_a1, W, H, a1.data(), W / 8);
    pixman_image_t *pm8 = pixman_image_create_bits(PIXMAN_a8, W, H, reinterpret_cast<uint32_t *>(alpha.data()), W);
    pixman_image_t *ps16 = img(PIXMAN_r5g6b5, src16.data(), W, H, 2), *pd16 = img(PIXMAN_r5g6b5, dst16.data(), W, H, 2);

    qxBlitRecord fill{nullptr, dst.data(), 0, 0, 0, 0, W, H, 0, W, nullptr, 0, 0x123456};
    row("fill a8r8g8b8", mpixPerSec([&] { qxFillRect32(&fill); }, px),
        mpixPerSec([&] { pixman_fill(dst.data(), W, 32, 0, 0, W, H, 0x123456); }, px));
    qxBlitRecord copy{src.data(), dst.data(), 0, 0, 0, 0, W, H, W, W, nullptr, 0, 0};
    row("copy (SRC) a8r8g8b8", mpixPerSec([&] { qxBlitConvert32(&copy); }, px),
        mpixPerSec([&] { pixman_image_composite32(PIXMAN_OP_SRC, psa, nullptr, pd, 0, 0, 0, 0, 0, 0, W, H); }, px));
    qxBlitRecord masked{src.data(), dst.data(), 0, 0, 0, 0, W, H, W, W, bits.data(), maskRow, 0};
    row("1-bit masked copy (OVER a1)", mpixPerSec([&] { qxBlitMasked32(&masked); }, px),
        mpixPerSec([&] { pixman_image_composite32(PIXMAN_OP_OVER, ps, pm1, pd, 0, 0, 0, 0, 0, 0, W, H); }, px));
    qxBlendRecord blend{src.data(), 0, 0, W, dst.data(), 0, 0, W, W, H, alpha.data(), 0, 0, W, nullptr, 0, 10};
    double ourBlend = mpixPerSec([&] { qxBlendAlpha32(&blend); }, px);
    row("blend mode 0 vs OVER x8r8g8b8 through a8", ourBlend,
        mpixPerSec([&] { pixman_image_composite32(PIXMAN_OP_OVER, ps, pm8, pd, 0, 0, 0, 0, 0, 0, W, H); }, px));
    // The premultiplied peer carries the same alpha in its own pixels.
    std::vector<uint32_t> pre(src.size());
    for (size_t i = 0; i < pre.size(); ++i) {
        uint32_t a = alpha[i], p = src[i];
        pre[i] = a << 24 | (((p >> 16) & 255) * a / 255) << 16 | (((p >> 8) & 255) * a / 255) << 8 | (p & 255) * a / 255;
    }
    pixman_image_t *ppre = img(PIXMAN_a8r8g8b8, pre.data(), W, H, 4);
    row("blend mode 0 vs OVER premultiplied a8r8g8b8", ourBlend,
        mpixPerSec([&] { pixman_image_composite32(PIXMAN_OP_OVER, ppre, nullptr, pd, 0, 0, 0, 0, 0, 0, W, H); }, px));
    qxBlendRecord blendRandom = blend;
    blendRandom.alpha = randomAlpha.data();
    pixman_image_t *pm8r =
        pixman_image_create_bits(PIXMAN_a8, W, H, reinterpret_cast<uint32_t *>(randomAlpha.data()), W);
    row("blend mode 0, uniform random alpha", mpixPerSec([&] { qxBlendAlpha32(&blendRandom); }, px),
        mpixPerSec([&] { pixman_image_composite32(PIXMAN_OP_OVER, ps, pm8r, pd, 0, 0, 0, 0, 0, 0, W, H); }, px));

    // Scaling 960x540 up to 1920x1080.
    const int hw = W / 2, hh = H / 2;
    pixman_image_t *half = img(PIXMAN_x8r8g8b8, src.data(), hw, hh, 4);
    pixman_transform_t t;
    pixman_transform_init_scale(&t, pixman_fixed_1 / 2, pixman_fixed_1 / 2);
    pixman_image_set_transform(half, &t);
    std::vector<int32_t> xt(W + 1), yt(H + 1);
    qxScaleRecord sc{};
    sc.sourcePixels = src.data(), sc.destPixels = dst.data(), sc.sourceWidth = hw, sc.sourceHeight = hh;
    sc.destWidth = W, sc.destHeight = H, sc.sourcePitch = hw, sc.destPitch = W, sc.layout = 10, sc.bytesPerPixel = 4;
    sc.xTable = xt.data(), sc.yTable = yt.data();
    pixman_image_set_filter(half, PIXMAN_FILTER_NEAREST, nullptr, 0);
    row("nearest 2x", mpixPerSec([&] { qxScaleBitmap(&sc); }, px),
        mpixPerSec([&] { pixman_image_composite32(PIXMAN_OP_SRC, half, nullptr, pd, 0, 0, 0, 0, 0, 0, W, H); }, px));
    sc.smooth = 1;
    pixman_image_set_filter(half, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    row("bilinear 2x", mpixPerSec([&] { qxScaleBitmap(&sc); }, px),
        mpixPerSec([&] { pixman_image_composite32(PIXMAN_OP_SRC, half, nullptr, pd, 0, 0, 0, 0, 0, 0, W, H); }, px));

    // 64x64 sprites through their alpha plane, spread over the frame.
    auto sprite = noise<uint32_t>(64 * 64, 8, 0xFF000000u);
    std::vector<uint8_t> spriteAlpha(alpha.begin(), alpha.begin() + 64 * 64);
    pixman_image_t *psp = img(PIXMAN_x8r8g8b8, sprite.data(), 64, 64, 4);
    pixman_image_t *psm = pixman_image_create_bits(PIXMAN_a8, 64, 64, reinterpret_cast<uint32_t *>(spriteAlpha.data()), 64);
    auto sprites = [&](const std::function<void(int, int)> &one) {
        for (int i = 0; i < 1000; ++i) one((i * 397) % (W - 64), (i * 211) % (H - 64));
    };
    double ourSprites = mpixPerSec(
        [&] {
            sprites([&](int x, int y) {
                qxBlendRecord b{sprite.data(), 0, 0, 64, dst.data(), x, y, W, 64, 64, spriteAlpha.data(), 0, 0, 64,
                                nullptr, 0, 10};
                qxBlendAlpha32(&b);
            });
        },
        1000);
    double theirSprites = mpixPerSec(
        [&] {
            sprites([&](int x, int y) {
                pixman_image_composite32(PIXMAN_OP_OVER, psp, psm, pd, 0, 0, 0, 0, x, y, 64, 64);
            });
        },
        1000);
    row("64x64 sprite blits through alpha", ourSprites * 1e6, theirSprites * 1e6, "per s ");

    const double px16 = px;
    qxBlitRecord fill16{nullptr, dst16.data(), 0, 0, 0, 0, W, H, 0, W, nullptr, 0, 0x1234};
    row("r5g6b5 fill", mpixPerSec([&] { qxFillRect16(&fill16); }, px16),
        mpixPerSec([&] { pixman_fill(reinterpret_cast<uint32_t *>(dst16.data()), W / 2, 16, 0, 0, W, H, 0x1234); },
                   px16));
    qxBlitRecord copy16{src16.data(), dst16.data(), 0, 0, 0, 0, W, H, W, W, nullptr, 0, 0};
    row("r5g6b5 copy", mpixPerSec([&] { qxBlitConvert16(&copy16); }, px16),
        mpixPerSec([&] { pixman_image_composite32(PIXMAN_OP_SRC, ps16, nullptr, pd16, 0, 0, 0, 0, 0, 0, W, H); },
                   px16));
    qxBlendRecord blend16{src16.data(), 0, 0, W, dst16.data(), 0, 0, W, W, H, alpha.data(), 0, 0, W, nullptr, 0, 4};
    row("r5g6b5 blend mode 0 vs OVER through a8", mpixPerSec([&] { qxBlendAlpha16(&blend16); }, px16),
        mpixPerSec([&] { pixman_image_composite32(PIXMAN_OP_OVER, ps16, pm8, pd16, 0, 0, 0, 0, 0, 0, W, H); }, px16));
    qxBlitRecord masked16{src16.data(), dst16.data(), 0, 0, 0, 0, W, H, W, W, bits.data(), maskRow, 0};
    row("r5g6b5 1-bit masked copy (OVER a1)", mpixPerSec([&] { qxBlitMasked16(&masked16); }, px16),
        mpixPerSec([&] { pixman_image_composite32(PIXMAN_OP_OVER, ps16, pm1, pd16, 0, 0, 0, 0, 0, 0, W, H); }, px16));
    return 0;
}
