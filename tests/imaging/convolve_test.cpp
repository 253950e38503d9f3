// The convolution engine against OpenCV's filter2D fed our own kernels, its
// edge cases, and the bounds on radius and sigma.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "effects_peers.h"
#include "imaging/qx_convolve.h"

namespace {

std::vector<uint32_t> randomImage(int w, int h, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint32_t> v(static_cast<size_t>(w * h));
    // Smooth enough that the kernels do not only clamp.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            v[size_t(y * w + x)] = uint32_t((x * 3 + int(rng() % 40)) & 255) << 16 |
                                   uint32_t((y * 5 + int(rng() % 40)) & 255) << 8 | uint32_t(rng() % 256);
    return v;
}

qxConvolveRecord record(std::vector<uint32_t> &v, int w, int h, uint32_t mode, double radius, double sigma)
{
    return {v.data(), w, h, w, 10, 4, nullptr, 0, radius, sigma, mode};
}

} // namespace

TEST(Convolve, TwoDimensionalKernelsAgainstFilter2D)
{
    const int w = 40, h = 30;
    struct Case {
        uint32_t mode;
        double radius, sigma;
    } cases[] = {{'s', 0, 1.0}, {'s', 2, 1.5}, {'g', 1, 0}, {'e', 1, 1.0}, {'e', 0, 0.8}};
    for (const Case &c : cases) {
        auto src = randomImage(w, h, 7), ours = src;
        auto r = record(ours, w, h, c.mode, c.radius, c.sigma);
        qxConvolvePlanes(&r);
        int kw = c.mode == 'g' ? qxKernelWidth1D(c.radius, 0.5) : qxKernelWidth2D(c.radius, c.sigma, 1000);
        ASSERT_EQ(kw % 2, 1);
        std::vector<double> k(size_t(kw * kw));
        qxBuild2DKernel(k.data(), kw, c.sigma, c.mode);
        cv::Mat kernel(kw, kw, CV_64F, k.data()), in(h, w, CV_8UC4, src.data()), wide, out;
        in.convertTo(wide, CV_64FC4);
        cv::filter2D(wide, out, CV_64F, kernel, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
        int worst = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                cv::Vec4d ref = out.at<cv::Vec4d>(y, x);
                uint32_t p = ours[size_t(y * w + x)];
                for (int ch = 0; ch < 3; ++ch) {
                    double e = std::clamp(ref[ch], 0.0, 255.0);
                    worst = std::max(worst, int(std::fabs(e - double(p >> (8 * ch) & 255))));
                }
            }
        EXPECT_LE(worst, 1) << char(c.mode) << " radius " << c.radius;
    }
}

TEST(Convolve, BlurAgainstImageMagick)
{
    const int w = 48, h = 32;
    auto src = randomImage(w, h, 8), ours = src;
    auto r = record(ours, w, h, 'b', 0, 2.0);
    r.radius = 6;
    qxConvolvePlanes(&r);
    auto ref = magick(src, w, h, "-virtual-pixel edge -gaussian-blur 6x2");
    ASSERT_EQ(ref.size(), ours.size());
    double sum = 0;
    int worst = 0;
    for (size_t i = 0; i < ref.size(); ++i)
        for (int s = 0; s < 24; s += 8) {
            int d = std::abs(int(ref[i] >> s & 255) - int(ours[i] >> s & 255));
            sum += d, worst = std::max(worst, d);
        }
    // The folded kernel is not ImageMagick's: the error is reported, and
    // only a broken blur would be far off.
    printf("blur sigma 2 against ImageMagick: mean %.3f, worst %d\n", sum / (3.0 * double(ref.size())), worst);
    EXPECT_LT(sum / (3.0 * double(ref.size())), 3.0);
}

TEST(Convolve, EdgeCasesAndBounds)
{
    // Edge of a uniform image is black; blur with sigma 0 changes nothing.
    std::vector<uint32_t> flat(25, 0x00406080), v = flat;
    auto r = record(v, 5, 5, 'g', 0, 0);
    qxConvolvePlanes(&r);
    EXPECT_EQ(v, std::vector<uint32_t>(25, 0));
    v = flat;
    r = record(v, 5, 5, 'b', 2, 0);
    qxConvolvePlanes(&r);
    EXPECT_EQ(v, flat);
    // A kernel wider than the image (radius 3 on 5 x 5: kw 7) leaves it for
    // sharpen, edge and emboss; blur still runs.
    auto img = randomImage(5, 5, 9);
    for (uint32_t mode : {'s', 'g', 'e'}) {
        std::copy(img.begin(), img.end(), v.begin());
        r = record(v, 5, 5, mode, 3, 1);
        qxConvolvePlanes(&r);
        EXPECT_EQ(v, img) << char(mode);
    }
    std::copy(img.begin(), img.end(), v.begin());
    r = record(v, 5, 5, 'b', 3, 1);
    qxConvolvePlanes(&r);
    EXPECT_NE(v, img);
    // Alpha planes go through the same kernel.
    std::vector<uint8_t> alpha(25, 0);
    alpha[12] = 255;
    qxConvolveRecord a{nullptr, 5, 5, 0, 10, 4, alpha.data(), 5, 0, 1.0, 'b'};
    qxConvolvePlanes(&a);
    EXPECT_GT(alpha[12], alpha[11]);
    EXPECT_GT(alpha[11], 0);
    // Huge and non-finite numbers end at once and change nothing.
    auto big = randomImage(64, 64, 10);
    auto t0 = std::chrono::steady_clock::now();
    for (auto [mode, radius, sigma] : {std::tuple{'s', 0.0, 1e4}, {'b', 1e12, 1.0}, {'b', 0.0, NAN},
                                       {'e', INFINITY, 1.0}, {'s', 0.0, -INFINITY}, {'b', 0.0, 1e300}}) {
        std::vector<uint32_t> vb(big);
        auto rb = record(vb, 64, 64, uint32_t(mode), radius, sigma);
        qxConvolvePlanes(&rb);
        if (mode != 'b' || !std::isfinite(sigma) || radius > 1e9) {
            EXPECT_EQ(vb, big) << mode << radius << sigma;
        }
    }
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    EXPECT_EQ(qxKernelWidth1D(1e12, 1), INT32_MAX);
    EXPECT_EQ(qxKernelWidth1D(NAN, 1), 0);
    EXPECT_EQ(qxKernelWidth1D(0, 1e-11), 1);
    EXPECT_EQ(qxKernelWidth1D(2.5, 1), 7);
}
