// Our effect kernels and OpenCV side by side on a 1920x1080 BGRA plane, one
// thread: MPix/s of each and our speed as a ratio of OpenCV's.
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include "imaging/qx_coloreffects.h"
#include "imaging/qx_convolve.h"
#include "imaging/qx_transform.h"

namespace {

constexpr int W = 1920, H = 1080;

double mpixPerSec(const std::function<void()> &op, double pixels)
{
    using clock = std::chrono::steady_clock;
    op();
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

void row(const char *name, double ours, double theirs)
{
    std::printf("%-36s %10.0f %10.0f MPix/s   ratio %.2f\n", name, ours, theirs, ours / theirs);
}

} // namespace

int main()
{
    cv::setNumThreads(1);
    std::printf("OpenCV %s, one thread\n%-36s %10s %10s\n", CV_VERSION, "", "ours", "OpenCV");
    const double px = double(W) * H;
    std::vector<uint32_t> img(size_t(W) * H), work(img.size()), out(img.size());
    std::mt19937 rng(1);
    for (auto &p : img) p = rng();
    cv::Mat src(H, W, CV_8UC4, img.data()), dst, gray, bgr, hls;
    auto reset = [&] { work = img; };

    qxConvolveRecord blur{work.data(), W, H, W, 10, 4, nullptr, 0, 0, 2.0, 'b'};
    int kw = qxKernelWidth1D(0, 2.0);
    row("Gaussian blur sigma 2", mpixPerSec([&] { reset(), qxConvolvePlanes(&blur); }, px),
        mpixPerSec([&] { cv::GaussianBlur(src, dst, cv::Size(kw, kw), 2.0, 2.0, cv::BORDER_REPLICATE); }, px));

    qxConvolveRecord sharpen{work.data(), W, H, W, 10, 4, nullptr, 0, 1, 0.5, 's'};
    std::vector<double> k(9);
    qxBuild2DKernel(k.data(), 3, 0.5, 's');
    cv::Mat kernel(3, 3, CV_64F, k.data());
    row("3x3 sharpen / filter2D", mpixPerSec([&] { reset(), qxConvolvePlanes(&sharpen); }, px),
        mpixPerSec([&] { cv::filter2D(src, dst, -1, kernel, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE); }, px));

    uint8_t table[256];
    qxGammaTable(table, 2.2);
    cv::Mat lut(1, 256, CV_8UC4);
    for (int i = 0; i < 256; ++i) lut.at<cv::Vec4b>(0, i) = cv::Vec4b(table[i], table[i], table[i], uint8_t(i));
    row("gamma / LUT", mpixPerSec([&] { qxGamma32(work.data(), W, H, W, 10, table, table, table, 7); }, px),
        mpixPerSec([&] { cv::LUT(src, lut, dst); }, px));

    row("gray / cvtColor", mpixPerSec([&] { qxGrayPixels32(work.data(), W, H, W, 10, 0); }, px),
        mpixPerSec([&] { cv::cvtColor(src, gray, cv::COLOR_BGRA2GRAY); }, px));

    row("modulate / BGR to HLS", mpixPerSec([&] { qxModulate32(work.data(), W, H, W, 10, 110, 90, 120); }, px),
        mpixPerSec([&] { cv::cvtColor(src, bgr, cv::COLOR_BGRA2BGR), cv::cvtColor(bgr, hls, cv::COLOR_BGR2HLS); }, px));

    qxFlipRecord flip{work.data(), W, H, W, nullptr, 0, nullptr, 0, 1, 4, nullptr};
    row("horizontal flip / flip", mpixPerSec([&] { qxFlipPixels(&flip); }, px),
        mpixPerSec([&] { cv::flip(src, dst, 1); }, px));

    qxResampleRecord turn{};
    turn.source = img.data(), turn.sourcePitch = W, turn.result = out.data(), turn.resultPitch = H;
    turn.width = W, turn.height = H, turn.resultWidth = H, turn.resultHeight = W, turn.bytesPerPixel = 4;
    turn.quarterKind = 2;
    row("quarter turn / rotate", mpixPerSec([&] { qxQuarterTurnPixels(&turn); }, px),
        mpixPerSec([&] { cv::rotate(src, dst, cv::ROTATE_90_CLOCKWISE); }, px));
    return 0;
}
