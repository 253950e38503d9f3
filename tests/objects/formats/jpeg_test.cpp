// JPEG reader bit for bit against djpeg, EXIF orientation against
// ImageMagick's -auto-orient, Adobe and plain CMYK written here through
// libjpeg, cut and empty files, and the writer.
#include "pictest.h"

#include <cstring>
#include <jpeglib.h>

#include "platform/qx_errcodes.h"

using namespace pictest;

namespace {

int readJpeg(qxFileHandle *f, uint32_t *w, uint32_t *h, uint32_t **px)
{
    int e = qxLoadJPEG(f, 0, 0, 1, w, h, px);
    qxClose(f);
    return e;
}

// The file with an APP1 EXIF segment holding only an orientation, put
// directly after SOI.
std::vector<uint8_t> withOrientation(const std::vector<uint8_t> &jpeg, int orientation, bool bigEndian)
{
    std::vector<uint8_t> tiff = bigEndian ? std::vector<uint8_t>{'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 1, 0x12, 0, 3, 0, 0, 0, 1,
                                                                 0, uint8_t(orientation), 0, 0, 0, 0, 0, 0, 0, 0}
                                          : std::vector<uint8_t>{'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 1, 3, 0, 1, 0, 0, 0,
                                                                 uint8_t(orientation), 0, 0, 0, 0, 0, 0, 0};
    std::vector<uint8_t> seg = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    seg.insert(seg.end(), tiff.begin(), tiff.end());
    seg[2] = uint8_t((seg.size() - 2) >> 8), seg[3] = uint8_t(seg.size() - 2);
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), seg.begin(), seg.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

// A 16 x 8 CMYK JPEG of fixed samples; adobe stores them inverted with the marker.
std::vector<uint8_t> cmykJpeg(bool adobe)
{
    jpeg_compress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    unsigned char *mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = 16, c.image_height = 8, c.input_components = 4, c.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, JCS_CMYK);
    c.write_Adobe_marker = adobe;
    jpeg_set_quality(&c, 100, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(16 * 4);
    for (int x = 0; x < 16; ++x) {
        uint8_t v[4] = {40, 90, 160, 30};
        for (int k = 0; k < 4; ++k) row[4 * x + k] = adobe ? uint8_t(255 - v[k]) : v[k];
    }
    while (c.next_scanline < 8) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<uint8_t> out(mem, mem + size);
    free(mem);
    return out;
}

class Jpeg : public Scratch {};

TEST_F(Jpeg, MatchesDjpegBitForBit)
{
    if (!have("djpeg") || !have("convert")) GTEST_SKIP() << "djpeg or ImageMagick missing";
    for (const char *options : {"-quality 90 -sampling-factor 2x2", "-quality 75 -sampling-factor 1x1",
                                "-quality 60 -colorspace Gray", "-quality 85 -interlace JPEG"}) {
        std::string path = makePicture("p.jpg", options, 61, 43);
        uint32_t w = 0, h = 0;
        std::vector<uint32_t> ref = ppmWords(run("djpeg -rgb -ppm '" + path + "'"), &w, &h);
        Picture p = load(path, readJpeg);
        ASSERT_EQ(p.error, 0) << options;
        EXPECT_EQ(p.width, w);
        EXPECT_EQ(p.height, h);
        EXPECT_EQ(p.pixels, ref) << options;
    }
}

TEST_F(Jpeg, ExifOrientationMatchesAutoOrient)
{
    if (!have("convert")) GTEST_SKIP() << "ImageMagick missing";
    std::vector<uint8_t> jpeg = readFile(makePicture("p.jpg", "-quality 90", 40, 30));
    for (bool big : {false, true})
        for (int o = 1; o <= 8; ++o) {
            std::string path = at("o" + std::to_string(o) + (big ? "m.jpg" : "i.jpg"));
            writeFile(path, withOrientation(jpeg, o, big));
            Picture p = loadAny(path);
            ASSERT_EQ(p.error, 0);
            EXPECT_EQ(p.width, o >= 5 ? 30u : 40u) << o;
            EXPECT_EQ(maxDiff(p.pixels, magick(path, false, "-auto-orient")), 0) << "orientation " << o << " big " << big;
            uint32_t w = 0, h = 0;
            ASSERT_EQ(qxLoadPictureAny(path.c_str(), "inbuilt", nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr, &w,
                                       &h, nullptr, nullptr, nullptr),
                      0);
            EXPECT_EQ(w, p.width);
            EXPECT_EQ(h, p.height);
        }
}

TEST_F(Jpeg, AdobeAndPlainCmykGiveTheSameColours)
{
    std::vector<uint8_t> adobe = cmykJpeg(true), plain = cmykJpeg(false);
    writeFile(at("a.jpg"), adobe);
    writeFile(at("p.jpg"), plain);
    Picture a = load(at("a.jpg"), readJpeg), p = load(at("p.jpg"), readJpeg);
    ASSERT_EQ(a.error, 0);
    ASSERT_EQ(p.error, 0);
    EXPECT_LE(maxDiff(a.pixels, p.pixels), 1);
    uint32_t k = 255 - 30;
    uint32_t want = ((255 - 40) * k / 255) << 16 | ((255 - 90) * k / 255) << 8 | (255 - 160) * k / 255;
    EXPECT_LE(maxDiff(a.pixels, std::vector<uint32_t>(a.pixels.size(), want)), 2);
    // CMYK pictures are not turned.
    writeFile(at("o6.jpg"), withOrientation(adobe, 6, false));
    Picture turned = loadAny(at("o6.jpg"));
    EXPECT_EQ(turned.width, 16u);
}

TEST_F(Jpeg, CutEmptyAndMemorySources)
{
    std::string path = makePicture("p.jpg", "-quality 90", 64, 64);
    std::vector<uint8_t> jpeg = readFile(path);
    Picture whole = load(path, readJpeg);
    ASSERT_EQ(whole.error, 0);
    uint32_t w = 0, h = 0, *px = nullptr;
    ASSERT_EQ(qxLoadJPEG(jpeg.data(), uint32_t(jpeg.size()), 0, 1, &w, &h, &px), 0);
    EXPECT_EQ(std::vector<uint32_t>(px, px + w * h), whole.pixels);
    qxFree(px);
    px = nullptr;
    // Cut in the scan data: decodes as far as it goes.
    ASSERT_EQ(qxLoadJPEG(jpeg.data(), uint32_t(jpeg.size() * 2 / 3), 0, 1, &w, &h, &px), 0);
    EXPECT_EQ(w, 64u);
    EXPECT_EQ(std::vector<uint32_t>(px, px + 64 * 8), std::vector<uint32_t>(whole.pixels.begin(), whole.pixels.begin() + 64 * 8));
    qxFree(px);
    writeFile(at("empty.jpg"), {});
    EXPECT_EQ(load(at("empty.jpg"), readJpeg).error, ERR_LOADPICTURE2);
    std::vector<uint8_t> junk = {0xFF, 0xD8, 0xFF, 0xC0, 0, 3, 1};
    EXPECT_EQ(qxLoadJPEG(junk.data(), uint32_t(junk.size()), 0, 1, &w, &h, &px), ERR_LOADPICTURE2);
}

TEST_F(Jpeg, WriterEncodesBothByteOrdersAndGrows)
{
    std::vector<uint32_t> px(33 * 17);
    for (size_t i = 0; i < px.size(); ++i) px[i] = uint32_t((i % 33) * 7) << 16 | uint32_t((i / 33) * 15) << 8 | 0x40;
    std::vector<uint32_t> argb(px.size());
    for (size_t i = 0; i < px.size(); ++i) argb[i] = __builtin_bswap32(px[i]); // bytes A, R, G, B in memory
    std::vector<uint8_t> outputs[2];
    for (int order = 0; order < 2; ++order) {
        qxJpegSaveRequest r{order ? argb.data() : px.data(), 33 * 4, 33, 17, 95, uint32_t(order), nullptr, nullptr, 0, 77};
        qxSaveJPEG(&r);
        ASSERT_EQ(r.error, 0u);
        ASSERT_NE(r.result, nullptr);
        EXPECT_EQ(r.result->data, r.encoded);
        outputs[order].assign(r.encoded, r.encoded + r.encodedSize);
        qxFree(r.encoded);
        qxFree(r.result);
    }
    EXPECT_EQ(outputs[0], outputs[1]);
    uint32_t w = 0, h = 0, *back = nullptr;
    ASSERT_EQ(qxLoadJPEG(outputs[0].data(), uint32_t(outputs[0].size()), 0, 1, &w, &h, &back), 0);
    EXPECT_LE(maxDiff(std::vector<uint32_t>(back, back + w * h), px), 12);
    qxFree(back);
    // One pixel at quality 100 takes far more than 3 bytes.
    uint32_t one = 0x123456;
    qxJpegSaveRequest tiny{&one, 4, 1, 1, 100, 0, nullptr, nullptr, 0, 0};
    qxSaveJPEG(&tiny);
    ASSERT_EQ(tiny.error, 0u);
    EXPECT_GT(tiny.encodedSize, 100u);
    qxFree(tiny.encoded);
    qxFree(tiny.result);
}

} // namespace
