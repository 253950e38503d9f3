// Round trips of RGB images through ImageMagick for the effect tests.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

// Runs ImageMagick 6 with args on a w x h image of 0xRRGGBB words; the
// result's words (empty on failure).
inline std::vector<uint32_t> magick(const std::vector<uint32_t> &in, int w, int h, const std::string &args,
                                    int *outW = nullptr, int *outH = nullptr)
{
    char dir[] = "/tmp/qxfxXXXXXX";
    if (!mkdtemp(dir)) return {};
    std::string a = std::string(dir) + "/in.ppm", b = std::string(dir) + "/out.ppm";
    FILE *f = fopen(a.c_str(), "wb");
    fprintf(f, "P6\n%d %d\n255\n", w, h);
    for (uint32_t p : in) fputc(int(p >> 16 & 255), f), fputc(int(p >> 8 & 255), f), fputc(int(p & 255), f);
    fclose(f);
    std::string cmd = "/usr/bin/convert-im6.q16 " + a + " " + args + " -depth 8 " + b + " 2>/dev/null";
    std::vector<uint32_t> out;
    if (system(cmd.c_str()) == 0 && (f = fopen(b.c_str(), "rb"))) {
        int ow = 0, oh = 0, mx = 0;
        if (fscanf(f, "P6 %d %d %d", &ow, &oh, &mx) == 3 && fgetc(f) != EOF) {
            out.resize(size_t(ow) * oh);
            for (auto &p : out) {
                int r = fgetc(f), g = fgetc(f), bb = fgetc(f);
                p = uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(bb);
            }
            if (outW) *outW = ow;
            if (outH) *outH = oh;
        }
        fclose(f);
    }
    std::string rm = std::string("rm -rf ") + dir;
    if (system(rm.c_str())) {}
    return out;
}
