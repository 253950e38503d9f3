// ILBM reader against netpbm's ppmtoilbm files and ilbmtoppm's reading of
// hand-made EHB and masked files; the writer read by ilbmtoppm; the
// transparent-colour rules; hostile files refused.
#include "pictest.h"

#include "platform/qx_errcodes.h"

using namespace pictest;

namespace {

struct Ilbm {
    Picture picture;
    uint32_t transparent = 0;
};

Ilbm readIlbm(const std::string &path, uint32_t onePlane = 0xFFFFFFFF, int mode1 = 0, int mode2 = 0,
              const uint32_t *override = nullptr)
{
    Ilbm r;
    r.picture = load(path, [&](qxFileHandle *f, uint32_t *w, uint32_t *h, uint32_t **px) {
        int e = qxLoadILBM(f, 0, override, onePlane, mode1, mode2, &r.transparent, w, h, px, nullptr);
        qxClose(f);
        return e;
    });
    return r;
}

// An ILBM of the given BMHD fields, CAMG mode (0: none), colour map and
// uncompressed plane rows (already laid out row by row).
std::vector<uint8_t> makeIlbm(uint16_t w, uint16_t h, uint8_t planes, uint8_t masking, uint16_t transparent,
                              uint32_t camg, const std::vector<uint32_t> &cmap, const std::vector<uint8_t> &body)
{
    std::vector<uint8_t> f = {'F', 'O', 'R', 'M', 0, 0, 0, 0, 'I', 'L', 'B', 'M'};
    auto be = [&](uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) f.push_back(uint8_t(v >> (8 * i)));
    };
    auto chunk = [&](const char *name, uint32_t size) {
        f.insert(f.end(), name, name + 4);
        be(size, 4);
    };
    chunk("BMHD", 20);
    be(w, 2), be(h, 2), be(0, 4);
    f.push_back(planes), f.push_back(masking), f.push_back(0), f.push_back(0);
    be(transparent, 2);
    f.push_back(1), f.push_back(1);
    be(w, 2), be(h, 2);
    if (camg) chunk("CAMG", 4), be(camg, 4);
    chunk("CMAP", uint32_t(cmap.size() * 3));
    for (uint32_t c : cmap) be(c, 3);
    if (f.size() & 1) f.push_back(0);
    chunk("BODY", uint32_t(body.size()));
    f.insert(f.end(), body.begin(), body.end());
    uint32_t size = uint32_t(f.size() - 8);
    for (int i = 0; i < 4; ++i) f[4 + i] = uint8_t(size >> (24 - 8 * i));
    return f;
}

class IlbmFiles : public Scratch {};

TEST_F(IlbmFiles, PpmtoilbmPlanesPackedOrNot)
{
    if (!have("ppmtoilbm") || !have("convert")) GTEST_SKIP() << "netpbm or ImageMagick missing";
    std::string src = makePicture("src.ppm", "", 37, 13);
    for (int planes : {1, 2, 3, 5, 8}) {
        std::string quant = at("q.ppm");
        ASSERT_EQ(std::system(("pnmquant " + std::to_string(1 << planes) + " '" + src + "' > '" + quant + "' 2>/dev/null").c_str()), 0);
        std::vector<uint32_t> want = ppmWords(readFile(quant));
        for (const char *compress : {"-compress", "-nocompress"}) {
            std::string path = at("p.ilbm");
            ASSERT_EQ(std::system(("ppmtoilbm -fixplanes " + std::to_string(planes) + " " + compress + " '" + quant + "' > '" +
                                   path + "' 2>/dev/null").c_str()), 0);
            Ilbm r = readIlbm(path);
            ASSERT_EQ(r.picture.error, 0) << planes << compress;
            EXPECT_EQ(r.transparent, 0xFFFFFFFFu);
            EXPECT_EQ(r.picture.pixels, want) << planes << compress;
        }
    }
    for (const char *compress : {"-compress", "-nocompress"}) {
        std::string path = at("t.ilbm");
        ASSERT_EQ(std::system(("ppmtoilbm -24force " + std::string(compress) + " '" + src + "' > '" + path + "'").c_str()), 0);
        Ilbm r = readIlbm(path);
        ASSERT_EQ(r.picture.error, 0);
        EXPECT_EQ(r.picture.pixels, ppmWords(readFile(src))) << compress;
    }
    // 12 planes are neither a colour map nor true colour.
    std::string twelve = at("12.ilbm");
    ASSERT_EQ(std::system(("ppmtoilbm -dcbits 4 4 4 -dcforce '" + src + "' > '" + twelve + "' 2>/dev/null").c_str()), 0);
    EXPECT_EQ(readIlbm(twelve).picture.error, ERR_LOADPICTURE2);
}

TEST_F(IlbmFiles, HamAndEhbMatchIlbmtoppm)
{
    if (!have("ppmtoilbm")) GTEST_SKIP() << "netpbm missing";
    std::string src = makePicture("src.ppm", "", 40, 9);
    for (const char *ham : {"-hamforce -hambits 4", "-hamforce -hambits 6"}) {
        std::string path = at("ham.ilbm");
        ASSERT_EQ(std::system(("ppmtoilbm " + std::string(ham) + " '" + src + "' > '" + path + "' 2>/dev/null").c_str()), 0);
        Ilbm r = readIlbm(path);
        ASSERT_EQ(r.picture.error, 0) << ham;
        // netpbm scales 4- and 6-bit values to 0..255; HAM here multiplies.
        EXPECT_LE(maxDiff(r.picture.pixels, ppmWords(run("ilbmtoppm '" + path + "' 2>/dev/null"))), 15) << ham;
    }
    // EHB: 6 planes, 32 colours; pixel x of the single row uses index 2x.
    std::vector<uint32_t> cmap(32);
    for (uint32_t i = 0; i < 32; ++i) cmap[i] = (i * 8) << 16 | (255 - i * 8) << 8 | (i * 5);
    std::vector<uint8_t> body(6 * 4, 0);
    for (uint32_t x = 0; x < 32; ++x) {
        uint32_t index = 2 * x;
        for (int p = 0; p < 6; ++p)
            if (index >> p & 1) body[size_t(p) * 4 + x / 8] |= uint8_t(0x80 >> (x % 8));
    }
    writeFile(at("ehb.ilbm"), makeIlbm(32, 1, 6, 0, 0, 0x80, cmap, body));
    Ilbm r = readIlbm(at("ehb.ilbm"));
    ASSERT_EQ(r.picture.error, 0);
    for (uint32_t x = 0; x < 32; ++x) {
        uint32_t i = 2 * x;
        EXPECT_EQ(r.picture.pixels[x], i < 32 ? cmap[i] : (cmap[i - 32] >> 1) & 0x7F7F7F) << x;
    }
    if (have("ilbmtoppm")) { EXPECT_EQ(r.picture.pixels, ppmWords(run("ilbmtoppm '" + at("ehb.ilbm") + "' 2>/dev/null"))); }
}

TEST_F(IlbmFiles, MaskPlaneIsDroppedAndTransparentRulesHold)
{
    // 2 planes + mask plane, 16 x 1: indices 0,1,2,3 repeated.
    std::vector<uint32_t> cmap = {0x000000, 0xA8A8A8, 0x00FF00, 0x0000FF};
    std::vector<uint8_t> body = {0x55, 0x55, 0x33, 0x33, 0xFF, 0x00};
    writeFile(at("mask.ilbm"), makeIlbm(16, 1, 2, 1, 0, 0, cmap, body));
    Ilbm r = readIlbm(at("mask.ilbm"));
    ASSERT_EQ(r.picture.error, 0);
    for (uint32_t x = 0; x < 16; ++x) EXPECT_EQ(r.picture.pixels[x], cmap[x % 4]);
    if (have("ilbmtoppm")) { EXPECT_EQ(r.picture.pixels, ppmWords(run("ilbmtoppm '" + at("mask.ilbm") + "' 2>/dev/null"))); }

    // Masking 2: a colour outside the map replaces the transparent index.
    std::vector<uint8_t> plain = {0x55, 0x55, 0x33, 0x33};
    writeFile(at("m2.ilbm"), makeIlbm(16, 1, 2, 2, 2, 0, cmap, plain));
    r = readIlbm(at("m2.ilbm"), 0xFFFFFFFF, 1, 0);
    EXPECT_EQ(r.transparent, 0xA8A8B7u); // 0xA8A8A8 is in the map
    EXPECT_EQ(r.picture.pixels[2], 0xA8A8B7u);
    EXPECT_EQ(readIlbm(at("m2.ilbm")).transparent, 0xFFFFFFFFu); // no mode, no one-plane colour
    // A transparent index outside the map names no colour.
    writeFile(at("m2bad.ilbm"), makeIlbm(16, 1, 2, 2, 300, 0, cmap, plain));
    r = readIlbm(at("m2bad.ilbm"), 0xFFFFFFFF, 1, 0);
    ASSERT_EQ(r.picture.error, 0);
    EXPECT_EQ(r.transparent, 0xFFFFFFFFu);

    // One plane with a one-plane colour: set pixels take it.
    writeFile(at("one.ilbm"), makeIlbm(16, 1, 1, 0, 0, 0, {0x102030, 0xFFFFFF}, {0xF0, 0x0F}));
    r = readIlbm(at("one.ilbm"), 0x00FF00);
    EXPECT_EQ(r.transparent, 0x102030u);
    EXPECT_EQ(r.picture.pixels[0], 0x00FF00u);
    EXPECT_EQ(r.picture.pixels[4], 0x102030u);
    // A palette override without an end mark stops at 256 entries.
    std::vector<uint32_t> override(256, 0x777777);
    r = readIlbm(at("one.ilbm"), 0xFFFFFFFF, 0, 0, override.data());
    EXPECT_EQ(r.picture.pixels[0], 0x777777u);
}

TEST_F(IlbmFiles, WriterIsReadBackByIlbmtoppm)
{
    std::vector<uint32_t> px(21 * 5);
    for (size_t i = 0; i < px.size(); ++i) px[i] = uint32_t((i / 7) * 0x0A1B2C) | 0xFF000000u;
    ASSERT_EQ(qxSaveILBM(at("out.ilbm").c_str(), px.data(), 21, 5), 0);
    Ilbm r = readIlbm(at("out.ilbm"));
    ASSERT_EQ(r.picture.error, 0);
    EXPECT_EQ(r.picture.pixels, rgbOnly(px));
    if (have("ilbmtoppm")) { EXPECT_EQ(ppmWords(run("ilbmtoppm '" + at("out.ilbm") + "' 2>/dev/null")), rgbOnly(px)); }
    uint32_t one = 0x123456;
    ASSERT_EQ(qxSaveILBM(at("one.ilbm").c_str(), &one, 1, 1), 0);
    std::vector<uint8_t> bytes = readFile(at("one.ilbm"));
    uint32_t body = uint32_t(bytes[44]) << 24 | bytes[45] << 16 | bytes[46] << 8 | bytes[47];
    EXPECT_EQ(bytes.size(), 48 + body + (body & 1));
    EXPECT_EQ(uint32_t(bytes[4]) << 24 | bytes[5] << 16 | bytes[6] << 8 | bytes[7], body + (body & 1) + 40);
    EXPECT_EQ(readIlbm(at("one.ilbm")).picture.pixels, std::vector<uint32_t>{one});
    std::vector<uint32_t> noise(512 * 512);
    uint32_t seed = 3;
    for (auto &v : noise) v = seed = seed * 1664525u + 1013904223u;
    EXPECT_EQ(qxSaveILBM("/dev/full", noise.data(), 512, 512), ERR_WRITE);
}

TEST_F(IlbmFiles, HostileFilesAreRefused)
{
    std::vector<uint32_t> cmap = {0, 0xFFFFFF};
    // Body shorter than the rows; 13 planes; ByteRun1 running out.
    writeFile(at("a.ilbm"), makeIlbm(16, 4, 1, 0, 0, 0, cmap, {1, 2}));
    EXPECT_EQ(readIlbm(at("a.ilbm")).picture.error, ERR_LOADPICTURE2);
    writeFile(at("b.ilbm"), makeIlbm(16, 1, 13, 0, 0, 0, cmap, std::vector<uint8_t>(26, 0)));
    EXPECT_EQ(readIlbm(at("b.ilbm")).picture.error, ERR_LOADPICTURE2);
    auto packed = makeIlbm(16, 2, 1, 0, 0, 0, cmap, {0x81});
    packed[12 + 8 + 10] = 1; // compression 1
    writeFile(at("c.ilbm"), packed);
    EXPECT_EQ(readIlbm(at("c.ilbm")).picture.error, ERR_LOADPICTURE2);
    qxSetPictureLimit(1000);
    writeFile(at("d.ilbm"), makeIlbm(1000, 1000, 1, 0, 0, 0, cmap, {}));
    EXPECT_EQ(readIlbm(at("d.ilbm")).picture.error, ERR_LOADPICTURE2);
    qxSetPictureLimit(0);
}

} // namespace
