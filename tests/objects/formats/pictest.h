// Helpers of the picture-format tests: peers run as commands, files in a
// scratch folder, and pictures compared as 0x00RRGGBB words.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/files/qx_file.h"
#include "objects/formats/qx_picformats.h"
#include "platform/qx_memory.h"

namespace pictest {

namespace fs = std::filesystem;

// Standard output of a shell command, or empty when it fails.
inline std::vector<uint8_t> run(const std::string &command)
{
    std::vector<uint8_t> out;
    FILE *p = popen(command.c_str(), "r");
    if (!p) return out;
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.insert(out.end(), buf, buf + n);
    if (pclose(p) != 0) out.clear();
    return out;
}

inline bool have(const char *tool) { return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0; }

inline std::vector<uint8_t> readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void writeFile(const std::string &path, const std::vector<uint8_t> &data)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(data.data()), std::streamsize(data.size()));
}

// ImageMagick's reading of a file as 0x00RRGGBB words (alpha in the top byte when asked).
inline std::vector<uint32_t> magick(const std::string &path, bool alpha = false, const std::string &options = "")
{
    std::vector<uint8_t> raw = run("convert '" + path + "' " + options + " -depth 8 " + (alpha ? "rgba:-" : "rgb:-") + " 2>/dev/null");
    std::vector<uint32_t> out;
    size_t step = alpha ? 4 : 3;
    for (size_t i = 0; i + step <= raw.size(); i += step)
        out.push_back(uint32_t(raw[i]) << 16 | raw[i + 1] << 8 | raw[i + 2] | (alpha ? uint32_t(raw[i + 3]) << 24 : 0));
    return out;
}

// Pillow's reading as 0xAARRGGBB words (it leaves gamma alone, as libpng does).
inline std::vector<uint32_t> pillow(const std::string &path)
{
    std::vector<uint8_t> raw = run("/usr/bin/python3 -c \"import sys; from PIL import Image; "
                                   "sys.stdout.buffer.write(Image.open(sys.argv[1]).convert('RGBA').tobytes())\" '" +
                                   path + "' 2>/dev/null");
    std::vector<uint32_t> out;
    for (size_t i = 0; i + 4 <= raw.size(); i += 4)
        out.push_back(uint32_t(raw[i + 3]) << 24 | uint32_t(raw[i]) << 16 | raw[i + 1] << 8 | raw[i + 2]);
    return out;
}

// A binary PPM (maxval 255) as 0x00RRGGBB words; empty when it is none.
inline std::vector<uint32_t> ppmWords(const std::vector<uint8_t> &data, uint32_t *width = nullptr, uint32_t *height = nullptr)
{
    std::vector<uint32_t> out;
    std::string text(data.begin(), data.begin() + long(std::min<size_t>(data.size(), 64)));
    unsigned w = 0, h = 0, max = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "P6 %u %u %u%n", &w, &h, &max, &used) != 3 || data.size() < used + 1 + size_t(w) * h * 3)
        return out;
    const uint8_t *p = data.data() + used + 1;
    for (size_t i = 0; i < size_t(w) * h; ++i, p += 3) out.push_back(uint32_t(p[0]) << 16 | p[1] << 8 | p[2]);
    if (width) *width = w;
    if (height) *height = h;
    return out;
}

struct Picture {
    int error = -1;
    uint32_t width = 0, height = 0;
    std::vector<uint32_t> pixels;
};

// Runs a reader on a file opened through the file layer; the buffer is
// copied out and freed.
template <typename Reader>
Picture load(const std::string &path, Reader reader)
{
    Picture p;
    qxFileHandle *f = qxOpen(path.c_str(), 1, nullptr);
    if (!f) return p;
    uint32_t *px = nullptr;
    p.error = reader(f, &p.width, &p.height, &px);
    if (px) p.pixels.assign(px, px + size_t(p.width) * p.height);
    qxFree(px);
    return p;
}

inline Picture loadAny(const std::string &path, uint32_t *transparent = nullptr, int alphaMode = 0)
{
    Picture p;
    qxPictureHandle *h = nullptr;
    uint32_t t = 0;
    p.error = qxLoadPictureAny(path.c_str(), "inbuilt", nullptr, nullptr, 0xFFFFFFFF, alphaMode, &h, nullptr, &t,
                               &p.width, &p.height, nullptr, nullptr, nullptr);
    if (transparent) *transparent = t;
    if (!p.error) p.pixels.assign(h->pixels, h->pixels + size_t(p.width) * p.height);
    qxFreePictureHeader(h);
    return p;
}

// Largest difference of any channel (top byte ignored).
inline int maxDiff(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b)
{
    if (a.size() != b.size()) return 1000;
    int worst = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int s = 0; s < 24; s += 8)
            worst = std::max(worst, std::abs(int(a[i] >> s & 255) - int(b[i] >> s & 255)));
    return worst;
}

// Mean channel difference (top byte ignored): decoders that differ at sharp
// colour edges agree on this much more closely than on single pixels.
inline double meanDiff(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b)
{
    if (a.size() != b.size() || a.empty()) return 1000;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int s = 0; s < 24; s += 8) sum += std::abs(int(a[i] >> s & 255) - int(b[i] >> s & 255));
    return sum / (3.0 * double(a.size()));
}

inline std::vector<uint32_t> rgbOnly(std::vector<uint32_t> v)
{
    for (auto &x : v) x &= 0xFFFFFF;
    return v;
}

class Scratch : public ::testing::Test {
  protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/qxpicXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string at(const std::string &name) const { return (dir / name).string(); }
    // A photo-like test picture made by ImageMagick.
    std::string makePicture(const std::string &name, const std::string &options = "", int w = 37, int h = 23)
    {
        std::string path = at(name);
        std::string cmd = "convert -seed 1 -size " + std::to_string(w) + "x" + std::to_string(h) +
                          " plasma:red-blue -depth 8 " + options + " '" + path + "' 2>/dev/null";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        return path;
    }
    fs::path dir;
};

} // namespace pictest
