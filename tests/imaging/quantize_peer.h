// netpbm's median cut (pnmcolormap, then pnmremap with Floyd-Steinberg) as
// the quantiser's reference, and a photograph-like test picture.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

// Smooth gradients, a few soft discs and sensor-like noise, 0xRRGGBB.
inline std::vector<uint32_t> photoLike(int w, int h, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 6.0);
    std::vector<uint32_t> v(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double fx = double(x) / w, fy = double(y) / h;
            double r = 200 * fx + 40 * std::sin(fy * 9) + 20;
            double g = 160 * fy + 60 * std::cos(fx * 7 + fy * 3) + 40;
            double b = 120 + 100 * std::sin((fx + fy) * 5);
            double d = std::hypot(fx - 0.6, fy - 0.4);
            if (d < 0.2) r = r * d / 0.2 + 250 * (1 - d / 0.2), g *= d / 0.2;
            auto c = [&](double t) { return uint32_t(std::lround(std::fmin(255, std::fmax(0, t + noise(rng))))); };
            v[size_t(y) * w + x] = c(r) << 16 | c(g) << 8 | c(b);
        }
    return v;
}

inline double meanSquaredError(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b)
{
    if (a.size() != b.size() || a.empty()) return 1e30;
    double s = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int sh = 0; sh < 24; sh += 8) {
            double d = double(a[i] >> sh & 255) - double(b[i] >> sh & 255);
            s += d * d;
        }
    return s / double(a.size() * 3);
}

// The picture after pnmcolormap colours | pnmremap -floyd; empty on failure.
inline std::vector<uint32_t> netpbmQuantize(const std::vector<uint32_t> &in, int w, int h, int colours)
{
    char dir[] = "/tmp/qxquantXXXXXX";
    if (!mkdtemp(dir)) return {};
    const std::string d(dir), a = d + "/in.ppm", m = d + "/map.ppm", o = d + "/out.ppm";
    FILE *f = fopen(a.c_str(), "wb");
    if (!f) return {};
    fprintf(f, "P6\n%d %d\n255\n", w, h);
    for (uint32_t p : in) fputc(int(p >> 16 & 255), f), fputc(int(p >> 8 & 255), f), fputc(int(p & 255), f);
    fclose(f);
    const std::string cmd = "pnmcolormap " + std::to_string(colours) + " " + a + " > " + m +
                            " 2>/dev/null && pnmremap -floyd -mapfile=" + m + " " + a + " > " + o + " 2>/dev/null";
    std::vector<uint32_t> out;
    if (system(cmd.c_str()) == 0 && (f = fopen(o.c_str(), "rb"))) {
        int ow = 0, oh = 0, mx = 0;
        if (fscanf(f, "P6 %d %d %d", &ow, &oh, &mx) == 3 && fgetc(f) != EOF && ow == w && oh == h) {
            out.resize(size_t(w) * h);
            for (auto &p : out) {
                int r = fgetc(f), g = fgetc(f), b = fgetc(f);
                p = uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
            }
        }
        fclose(f);
    }
    if (system(("rm -rf " + d).c_str())) {}
    return out;
}
