// Linear and radial gradients with colour stops against pixman drawing the
// same geometry and stops with the pad repeat.
#include <gtest/gtest.h>

#include <pixman.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "imaging/qx_gradient.h"

namespace {

pixman_color_t colourOf(uint32_t c)
{
    return {uint16_t(((c >> 16) & 0xFF) * 0x101), uint16_t(((c >> 8) & 0xFF) * 0x101), uint16_t((c & 0xFF) * 0x101),
            0xFFFF};
}

pixman_point_fixed_t point(double x, double y)
{
    return {pixman_double_to_fixed(x), pixman_double_to_fixed(y)};
}

// Random sorted stops (2 to 8 of them) into g and the pixman list.
void randomStops(std::mt19937 &rng, qxGradient &g, std::vector<pixman_gradient_stop_t> &stops)
{
    int n = 2 + int(rng() % 7);
    std::vector<double> pos;
    for (int i = 0; i < n; i++)
        pos.push_back((rng() % 1001) / 1000.0);
    std::sort(pos.begin(), pos.end());
    pos.erase(std::unique(pos.begin(), pos.end()), pos.end());
    if (pos.size() < 2)
        pos = {0.0, 1.0};
    g.stopCount = int(pos.size());
    stops.clear();
    for (size_t i = 0; i < pos.size(); i++) {
        uint32_t c = rng() & 0xFFFFFF;
        g.stops[i] = {c, pos[i]};
        stops.push_back({pixman_double_to_fixed(pos[i]), colourOf(c)});
    }
}

// Largest channel difference between our picture and pixman's. Our walker
// interpolates in 1/256 steps and truncates twice, pixman in floating
// point: 2 is the most they may differ.
constexpr int kTolerance = 2;

int compare(const std::vector<uint32_t> &ours, const std::vector<uint32_t> &ref)
{
    int worst = 0;
    for (size_t i = 0; i < ours.size(); i++)
        for (int s = 0; s < 24; s += 8)
            worst = std::max(worst, std::abs(int((ours[i] >> s) & 0xFF) - int((ref[i] >> s) & 0xFF)));
    return worst;
}

std::vector<uint32_t> drawPixman(pixman_image_t *gradient, int w, int h)
{
    std::vector<uint32_t> out(size_t(w) * h);
    pixman_image_t *dest = pixman_image_create_bits(PIXMAN_x8r8g8b8, w, h, out.data(), w * 4);
    pixman_image_set_repeat(gradient, PIXMAN_REPEAT_PAD);
    pixman_image_composite32(PIXMAN_OP_SRC, gradient, nullptr, dest, 0, 0, 0, 0, 0, 0, w, h);
    pixman_image_unref(dest);
    pixman_image_unref(gradient);
    for (uint32_t &p : out)
        p &= 0xFFFFFF;
    return out;
}

std::vector<uint32_t> drawOurs(const qxGradient &g, int w, int h)
{
    std::vector<uint32_t> out(size_t(w) * h);
    qxGradientRender r{out.data(), 4, 10, 0, 0, w, h, w, &g};
    qxDrawGradient(&r);
    for (uint32_t &p : out)
        p &= 0xFFFFFF;
    return out;
}

TEST(GradientPixman, LinearAtRightAngles)
{
    std::mt19937 rng(20);
    for (int iter = 0; iter < 80; iter++) {
        const int w = 1 + int(rng() % 120), h = 1 + int(rng() % 90);
        qxGradient g{};
        g.type = QX_GRADIENT_LINEAR;
        g.angle = 90 * int(rng() % 4) + 360 * (int(rng() % 3) - 1);
        std::vector<pixman_gradient_stop_t> stops;
        randomStops(rng, g, stops);
        // The gradient line of each right angle.
        pixman_point_fixed_t p1, p2;
        switch (((g.angle % 360) + 360) % 360) {
        case 0: p1 = point(0, 0), p2 = point(0, h); break;
        case 90: p1 = point(0, 0), p2 = point(w, 0); break;
        case 180: p1 = point(0, h), p2 = point(0, 0); break;
        default: p1 = point(w, 0), p2 = point(0, 0); break;
        }
        auto ref = drawPixman(pixman_image_create_linear_gradient(&p1, &p2, stops.data(), int(stops.size())), w, h);
        EXPECT_LE(compare(drawOurs(g, w, h), ref), kTolerance)
            << iter << " angle " << g.angle << " " << w << "x" << h;
    }
}

TEST(GradientPixman, RadialAroundItsCentre)
{
    std::mt19937 rng(21);
    for (int iter = 0; iter < 80; iter++) {
        const int w = 1 + int(rng() % 100), h = 1 + int(rng() % 100);
        qxGradient g{};
        g.type = QX_GRADIENT_RADIAL;
        g.centreX = (rng() % 101) / 100.0, g.centreY = (rng() % 101) / 100.0;
        g.sizeFactor = (rng() % 90) / 100.0;
        std::vector<pixman_gradient_stop_t> stops;
        randomStops(rng, g, stops);
        // The radius covers the farthest corner, shrunk by the border.
        double radius = (std::max(std::fabs(0.5 - g.centreX), std::fabs(0.5 - g.centreY)) + 0.5) *
                        std::sqrt(double(w) * w + double(h) * h) * (1.0 - g.sizeFactor);
        radius = std::max(std::floor(radius * 65536.0), 1.0) / 65536.0;
        const pixman_point_fixed_t c = point(w * g.centreX, h * g.centreY);
        auto ref = drawPixman(pixman_image_create_radial_gradient(&c, &c, 0, pixman_double_to_fixed(radius),
                                                                  stops.data(), int(stops.size())),
                              w, h);
        EXPECT_LE(compare(drawOurs(g, w, h), ref), kTolerance) << iter << " " << w << "x" << h;
    }
}

} // namespace
