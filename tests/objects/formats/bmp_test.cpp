// BMP reader against ImageMagick and the Go image test files; the writer
// read back by ImageMagick; hostile headers refused.
#include "pictest.h"

#include "platform/qx_errcodes.h"

using namespace pictest;

namespace {

int readBmp(qxFileHandle *f, uint32_t *w, uint32_t *h, uint32_t **px)
{
    int e = qxLoadBMP(f, 0, w, h, px);
    qxClose(f);
    return e;
}

class Bmp : public Scratch {};

TEST_F(Bmp, VariantsMatchImageMagick)
{
    if (!have("convert")) GTEST_SKIP() << "ImageMagick missing";
    std::string png = makePicture("src.png");
    struct Variant {
        const char *name, *options;
        int tolerance;
    } variants[] = {
        {"bits1.bmp", "-type bilevel BMP3:", 0},
        {"bits4.bmp", "-colors 16 -type palette BMP3:", 0},
        {"bits8.bmp", "-colors 200 -type palette BMP3:", 0},
        {"rle8.bmp", "-colors 200 -type palette -compress RLE BMP3:", 0},
        {"bits24.bmp", "-type truecolor BMP3:", 0},
        {"v5.bmp", "-type truecolor BMP:", 0},
        {"v5pal.bmp", "-colors 16 -type palette BMP:", 0},
        // 5-bit fields widen by a shift, ImageMagick scales: up to 7 apart.
        {"rgb565.bmp", "-define bmp:subtype=RGB565 BMP:", 7},
        {"rgb555.bmp", "-define bmp:subtype=RGB555 BMP:", 7},
    };
    for (const auto &v : variants) {
        std::string path = at(v.name);
        std::string options = v.options;
        std::string prefix = options.substr(options.rfind(' ') + 1);
        options.resize(options.rfind(' ') + 1);
        ASSERT_EQ(std::system(("convert '" + png + "' " + options + prefix + "'" + path + "'").c_str()), 0);
        Picture p = load(path, readBmp);
        ASSERT_EQ(p.error, 0) << v.name;
        EXPECT_EQ(p.width, 37u);
        EXPECT_EQ(p.height, 23u);
        EXPECT_LE(maxDiff(p.pixels, magick(path)), v.tolerance) << v.name;
    }
}

TEST_F(Bmp, GoTestFilesMatchTheirPng)
{
    const std::string dir = "/usr/share/gocode/src/golang.org/x/image/testdata/";
    if (!fs::exists(dir + "video-001.bmp")) GTEST_SKIP() << "golang-golang-x-image-dev missing";
    // Top-down bitmaps (negative height) are not read.
    EXPECT_EQ(load(dir + "yellow_rose-small.bmp", readBmp).error, ERR_LOADPICTURE2);
    for (const char *name : {"video-001.bmp", "yellow_rose-small-v5.bmp", "colormap.bmp"}) {
        Picture p = load(dir + name, readBmp);
        ASSERT_EQ(p.error, 0) << name;
        EXPECT_EQ(maxDiff(p.pixels, magick(dir + name)), 0) << name;
    }
    Picture video = load(dir + "video-001.bmp", readBmp);
    EXPECT_EQ(maxDiff(video.pixels, magick(dir + "video-001.png")), 0);
}

TEST_F(Bmp, WriterLayoutAndReadBack)
{
    uint32_t one = 0x00123456;
    ASSERT_EQ(qxSaveBMP(at("one.bmp").c_str(), &one, 1, 1), 0);
    std::vector<uint8_t> bytes = readFile(at("one.bmp"));
    ASSERT_EQ(bytes.size(), 58u);
    EXPECT_EQ(bytes[54], 0x56);
    EXPECT_EQ(bytes[55], 0x34);
    EXPECT_EQ(bytes[56], 0x12);
    EXPECT_EQ(bytes[57], 0);

    std::vector<uint32_t> px(5 * 3);
    for (size_t i = 0; i < px.size(); ++i) px[i] = uint32_t(i * 0x0A0B0C + 0xFF000000u);
    ASSERT_EQ(qxSaveBMP(at("five.bmp").c_str(), px.data(), 5, 3), 0);
    EXPECT_EQ(readFile(at("five.bmp")).size(), 54u + 16 * 3);
    Picture back = load(at("five.bmp"), readBmp);
    ASSERT_EQ(back.error, 0);
    EXPECT_EQ(back.pixels, rgbOnly(px));
    if (have("convert")) { EXPECT_EQ(maxDiff(magick(at("five.bmp")), px), 0); }
    EXPECT_EQ(qxSaveBMP(at("no/such/dir.bmp").c_str(), px.data(), 5, 3), ERR_WRITEFILE);
}

// A 40-byte-header bitmap of the given fields and pixel bytes.
std::vector<uint8_t> header(int32_t w, int32_t h, uint16_t bits, uint32_t compression, uint32_t used,
                            std::vector<uint8_t> rest)
{
    std::vector<uint8_t> b(54, 0);
    b[0] = 'B', b[1] = 'M';
    auto put = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
    };
    put(2, uint32_t(54 + rest.size()));
    put(10, 54 + used * 4);
    put(14, 40);
    put(18, uint32_t(w));
    put(22, uint32_t(h));
    b[26] = 1;
    b[28] = uint8_t(bits);
    put(30, compression);
    put(46, used);
    b.insert(b.end(), rest.begin(), rest.end());
    return b;
}

TEST_F(Bmp, HostileHeadersAreRefused)
{
    std::vector<uint8_t> row(64, 0x11);
    struct Case {
        const char *what;
        std::vector<uint8_t> file;
    } cases[] = {
        {"zero width", header(0, 4, 24, 0, 0, row)},
        {"negative width", header(-4, 4, 24, 0, 0, row)},
        {"top-down", header(4, -4, 24, 0, 0, row)},
        {"2 bits", header(4, 1, 2, 0, 0, row)},
        {"RLE4", header(4, 1, 4, 2, 0, row)},
        {"RLE8 on 24 bits", header(4, 1, 24, 1, 0, row)},
        {"cut rows", header(4, 100, 24, 0, 0, row)},
        {"2^32 pixels", header(65536, 65536, 24, 0, 0, row)},
    };
    for (const auto &c : cases) {
        writeFile(at("bad.bmp"), c.file);
        Picture p = load(at("bad.bmp"), readBmp);
        EXPECT_EQ(p.error, ERR_LOADPICTURE2) << c.what;
    }
    writeFile(at("short.bmp"), {'B'});
    EXPECT_EQ(load(at("short.bmp"), readBmp).error, ERR_READ);
}

TEST_F(Bmp, RleDeltasAndHugeColourCountsStayInside)
{
    // 4 x 2 RLE8: a delta far outside the picture, a run past the row end,
    // an absolute run longer than the data; colours-used far too big.
    std::vector<uint8_t> palette(4 * 256, 0);
    palette[4 * 1 + 2] = 0xFF; // index 1 red
    std::vector<uint8_t> rle = {0, 2, 200, 200, 9, 1, 0, 0, 3, 1, 0, 1, 0, 9, 1};
    std::vector<uint8_t> rest = palette;
    rest.insert(rest.end(), rle.begin(), rle.end());
    auto file = header(4, 2, 8, 1, 0x7FFFFFFF, rest);
    // The pixel data follows the 256-entry table whatever colours-used claims.
    for (int i = 0; i < 4; ++i) file[10 + i] = uint8_t((54 + 1024) >> (8 * i));
    writeFile(at("rle.bmp"), file);
    Picture p = load(at("rle.bmp"), readBmp);
    ASSERT_EQ(p.error, 0);
    EXPECT_EQ(p.pixels, std::vector<uint32_t>(8, 0));

    auto plain = header(4, 2, 8, 1, 0, rest);
    for (int i = 0; i < 4; ++i) plain[10 + i] = uint8_t((54 + 1024) >> (8 * i));
    plain.resize(plain.size() - rle.size());
    std::vector<uint8_t> good = {3, 1, 0, 0, 2, 1};
    plain.insert(plain.end(), good.begin(), good.end());
    plain[2] = uint8_t(plain.size());
    writeFile(at("rle2.bmp"), plain);
    p = load(at("rle2.bmp"), readBmp);
    ASSERT_EQ(p.error, 0);
    EXPECT_EQ(p.pixels, (std::vector<uint32_t>{0xFF0000, 0xFF0000, 0, 0, 0xFF0000, 0xFF0000, 0xFF0000, 0}));
}

} // namespace
