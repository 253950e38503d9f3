// Loading dispatch and header probe: recognition, size-only answers,
// loader lists, error codes, and probe reads that stay inside the header.
#include "pictest.h"

#include <cstring>

#include "platform/qx_errcodes.h"

using namespace pictest;

namespace {

struct Size {
    int error;
    uint32_t width = 0, height = 0, hasAlpha = 9, transparent = 9, format = 99;
};

Size sizeOnly(const std::string &path, const char *loaders = "inbuilt")
{
    Size s{};
    s.error = qxLoadPictureAny(path.c_str(), loaders, nullptr, nullptr, 0xFFFFFFFF, 0, nullptr, nullptr, &s.transparent,
                               &s.width, &s.height, &s.hasAlpha, nullptr, &s.format);
    return s;
}

int probe(const std::vector<uint8_t> &data, uint32_t *w, uint32_t *h)
{
    qxMemoryName name;
    qxMakeMemoryName(&name, data.data(), uint32_t(data.size()));
    qxFileHandle *f = qxOpen(name.tag, 1, nullptr);
    uint32_t format, a, t, o = 0;
    int e = qxProbePictureHeader(f, &format, w, h, &a, &t, &o);
    qxClose(f);
    return e;
}

class Dispatch : public Scratch {};

TEST_F(Dispatch, SizeOnlyAnswersEveryFormat)
{
    if (!have("convert")) GTEST_SKIP() << "ImageMagick missing";
    struct Case {
        const char *name, *options;
        uint32_t format, alpha;
    } cases[] = {
        {"a.bmp", "BMP3:", QX_IMGFMT_BMP, 0},    {"a.png", "", QX_IMGFMT_PNG, 0},
        {"b.png", "-alpha set -channel A -evaluate set 50% +channel", QX_IMGFMT_PNG, 1},
        {"a.jpg", "", QX_IMGFMT_JPEG, 0},        {"a.gif", "", QX_IMGFMT_GIF, 0},
        {"a.tif", "", QX_IMGFMT_TIFF, 0},
    };
    for (const auto &c : cases) {
        std::string options = c.options, name = c.name;
        std::string prefix = options.size() && options.back() == ':' ? options : "";
        if (!prefix.empty()) options.clear();
        std::string path = at(name);
        ASSERT_EQ(std::system(("convert -seed 1 -size 29x17 plasma: -depth 8 " + options + " " + prefix + "'" + path + "'").c_str()), 0);
        Size s = sizeOnly(path);
        ASSERT_EQ(s.error, 0) << name;
        EXPECT_EQ(s.width, 29u) << name;
        EXPECT_EQ(s.height, 17u) << name;
        EXPECT_EQ(s.format, c.format) << name;
        EXPECT_EQ(s.hasAlpha, c.alpha) << name;
    }
    // TIFF is known to the probe only.
    EXPECT_EQ(loadAny(at("a.tif")).error, ERR_LOADPICTURE2);
    Picture bmp = loadAny(at("a.bmp"));
    ASSERT_EQ(bmp.error, 0);
    EXPECT_EQ(bmp.pixels, magick(at("a.bmp")));
}

TEST_F(Dispatch, PaletteAlphaTransparencyAndLoaderLists)
{
    const std::string suite = "/usr/share/go-1.19/src/image/png/testdata/pngsuite/";
    if (fs::exists(suite)) {
        EXPECT_EQ(sizeOnly(suite + "basn3p08-trns.png").hasAlpha, 1u);
        EXPECT_EQ(sizeOnly(suite + "basn3p08.png").hasAlpha, 0u);
        EXPECT_EQ(sizeOnly(suite + "basn0g08.png").hasAlpha, 0u);
    }
    // A GIF whose frame has a transparent index.
    std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255,
                                0x21, 0xF9, 4, 1, 0, 0, 0, 0, 0x2C, 0, 0, 0, 0, 2, 0, 1, 0, 0, 2, 2, 0x0C, 0x0A, 0, 0x3B};
    writeFile(at("t.gif"), gif);
    uint32_t transparent = 0;
    Picture p = loadAny(at("t.gif"), &transparent, 2);
    ASSERT_EQ(p.error, 0);
    EXPECT_EQ(transparent, 0xFFFFFFFEu);
    EXPECT_EQ(p.pixels[0], 0xFFFFFFFFu);
    EXPECT_EQ(p.pixels[1], 0u); // the transparent index leaves the canvas clear
    EXPECT_EQ(sizeOnly(at("t.gif")).transparent, 1u);

    writeFile(at("d9.jpg"), {0xFF, 0xD9, 0, 0, 0, 0});
    EXPECT_EQ(loadAny(at("d9.jpg")).error, ERR_LOADPICTURE2);
    EXPECT_EQ(sizeOnly(at("t.gif"), "someplugin").error, ERR_LOADPICTURE2);
    EXPECT_EQ(sizeOnly(at("missing.png")).error, ERR_READFILE);
    // The platform decoder has nothing to offer here: its 1358 comes back.
    EXPECT_EQ(sizeOnly(at("d9.jpg"), "inbuilt|native").error, ERR_LOADPICTURE2);
}

TEST(Probe, FieldsPastTheHeaderAreNotFound)
{
    uint32_t w = 0, h = 0;
    // BMHD whose masking byte would lie past byte 1023.
    std::vector<uint8_t> ilbm(2048, 0);
    std::memcpy(ilbm.data(), "FORM\0\0\0\0ILBM", 12);
    std::memcpy(ilbm.data() + 1010, "BMHD", 4);
    EXPECT_EQ(probe(ilbm, &w, &h), ERR_LOADPICTURE2);
    std::memcpy(ilbm.data() + 1000, "BMHD\0\0\0\x14\0\x07\0\x05", 12);
    EXPECT_EQ(probe(ilbm, &w, &h), 0);
    EXPECT_EQ(w, 7u);
    std::vector<uint8_t> png(1024, 0);
    std::memcpy(png.data(), "\x89PNG", 4);
    std::memcpy(png.data() + 1012, "IHDR", 4);
    EXPECT_EQ(probe(png, &w, &h), ERR_LOADPICTURE2);
    // A JPEG that ends after its EXIF segment, and one whose IFD offset leaves the segment.
    std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE1, 0, 22, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0,
                                 0xF0, 0xFF, 0xFF, 0x7F, 1, 0, 0x12, 1};
    EXPECT_EQ(probe(jpeg, &w, &h), ERR_LOADPICTURE2);
    // A GIF whose extension walk runs off the buffer.
    std::vector<uint8_t> gif(1024, 0x21);
    std::memcpy(gif.data(), "GIF89a\x05\0\x03\0\0\0\0", 13);
    gif[1023] = 0xFF;
    EXPECT_EQ(probe(gif, &w, &h), 0);
    EXPECT_EQ(w, 5u);
}

} // namespace
