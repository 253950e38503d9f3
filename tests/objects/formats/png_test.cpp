// PNG reader on PngSuite against ImageMagick, interlaced twins, the writer
// read back, short writes reported, broken files refused.
#include "pictest.h"

#include "platform/qx_errcodes.h"

using namespace pictest;

namespace {

const std::string suite = "/usr/share/go-1.19/src/image/png/testdata/pngsuite/";

struct PngResult {
    Picture picture;
    uint32_t hasAlpha = 0;
};

PngResult readPng(const std::string &path, int headerOnly = 0)
{
    PngResult r;
    uint32_t *a = &r.hasAlpha;
    r.picture = load(path, [&](qxFileHandle *f, uint32_t *w, uint32_t *h, uint32_t **px) {
        int e = -1;
        qxLoadPNG(f, headerOnly, w, h, px, a, &e);
        qxClose(f);
        return e;
    });
    return r;
}

class Png : public Scratch {};

TEST_F(Png, SuiteMatchesImageMagick)
{
    if (!fs::exists(suite) || run("/usr/bin/python3 -c 'import PIL'; echo ok").empty()) GTEST_SKIP() << "PngSuite or Pillow missing";
    int checked = 0;
    for (const auto &entry : fs::directory_iterator(suite)) {
        std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".png" || (name.rfind("basn", 0) != 0 && name.rfind("ftb", 0) != 0)) continue;
        PngResult r = readPng(entry.path().string());
        ASSERT_EQ(r.picture.error, 0) << name;
        bool alpha = name[4] == '4' || name[4] == '6' || name.find("trns") != std::string::npos ||
                     name.rfind("ftb", 0) == 0;
        EXPECT_EQ(r.hasAlpha, alpha ? 1u : 0u) << name;
        std::vector<uint32_t> ref = pillow(entry.path().string());
        // Pillow clips 16-bit grey and drops grey tRNS: there ImageMagick
        // gives the alpha (its colours carry the file's gamma).
        if (name.find("0g16") != std::string::npos || (alpha && name.find("0g0") != std::string::npos)) {
            std::vector<uint32_t> im = magick(entry.path().string(), true);
            for (size_t i = 0; i < im.size() && i < r.picture.pixels.size(); ++i)
                ref[i] = (im[i] & 0xFF000000u) | (r.picture.pixels[i] & 0xFFFFFF);
        }
        EXPECT_LE(maxDiff(r.picture.pixels, ref), 1) << name;
        for (size_t i = 0; i < ref.size() && i < r.picture.pixels.size(); ++i) {
            uint32_t want = alpha ? ref[i] >> 24 : 0;
            if (std::abs(int(r.picture.pixels[i] >> 24) - int(want)) > 1) {
                ADD_FAILURE() << name << " alpha at " << i;
                break;
            }
        }
        PngResult header = readPng(entry.path().string(), 1);
        EXPECT_EQ(header.hasAlpha, r.hasAlpha) << name;
        EXPECT_TRUE(header.picture.pixels.empty());
        ++checked;
    }
    EXPECT_GE(checked, 25);
}

TEST_F(Png, InterlacedTwinsDecodeTheSame)
{
    if (!fs::exists(suite) || !have("convert")) GTEST_SKIP() << "PngSuite or ImageMagick missing";
    for (const char *name : {"basn0g01.png", "basn2c08.png", "basn3p08-trns.png", "basn6a16.png"}) {
        std::string twin = at(std::string("i") + name);
        ASSERT_EQ(std::system(("convert '" + suite + name + "' -interlace PNG '" + twin + "'").c_str()), 0);
        PngResult a = readPng(suite + name), b = readPng(twin);
        ASSERT_EQ(b.picture.error, 0) << name;
        EXPECT_EQ(a.picture.pixels, b.picture.pixels) << name;
    }
}

TEST_F(Png, WriterRoundTripsRgbAndRgba)
{
    std::vector<uint32_t> px(19 * 7);
    for (size_t i = 0; i < px.size(); ++i) px[i] = uint32_t(i * 0x01030507u + 0x11000000u * (i % 9));
    for (uint32_t alpha : {0u, 1u}) {
        std::string path = at(alpha ? "rgba.png" : "rgb.png");
        qxPngSaveRequest r{path.c_str(), px.data(), 19 * 4, 19, 7, alpha, 99};
        qxSavePNG(&r);
        ASSERT_EQ(r.error, 0u);
        PngResult back = readPng(path);
        ASSERT_EQ(back.picture.error, 0);
        EXPECT_EQ(back.hasAlpha, alpha);
        EXPECT_EQ(back.picture.pixels, alpha ? px : rgbOnly(px));
        if (have("convert")) { EXPECT_EQ(maxDiff(magick(path, alpha != 0), px), 0); }
    }
}

TEST_F(Png, ShortWritesAndMissingFoldersFail)
{
    std::vector<uint32_t> noise(256 * 256);
    uint32_t seed = 1;
    for (auto &v : noise) v = seed = seed * 1664525u + 1013904223u;
    qxPngSaveRequest full{"/dev/full", noise.data(), 256 * 4, 256, 256, 1, 0};
    qxSavePNG(&full);
    EXPECT_EQ(full.error, uint32_t(ERR_WRITE));
    std::string bad = at("no/dir.png");
    qxPngSaveRequest missing{bad.c_str(), noise.data(), 256 * 4, 256, 256, 0, 0};
    qxSavePNG(&missing);
    EXPECT_EQ(missing.error, uint32_t(ERR_WRITEFILE));
}

TEST_F(Png, BrokenFilesAreRefused)
{
    if (!fs::exists(suite)) GTEST_SKIP();
    std::vector<uint8_t> good = readFile(suite + "basn2c08.png");
    std::vector<uint8_t> cut(good.begin(), good.begin() + long(good.size() / 2));
    writeFile(at("cut.png"), cut);
    EXPECT_EQ(readPng(at("cut.png")).picture.error, ERR_LOADPICTURE2);
    // A header claiming 100000 x 100000 pixels is refused before allocating.
    qxSetPictureLimit(1 << 20);
    std::vector<uint8_t> huge = good;
    huge[16] = 0, huge[17] = 0x01, huge[18] = 0x86, huge[19] = 0xA0; // width 100000
    writeFile(at("huge.png"), huge);
    EXPECT_NE(readPng(at("huge.png")).picture.error, 0);
    qxSetPictureLimit(0);
}

} // namespace
