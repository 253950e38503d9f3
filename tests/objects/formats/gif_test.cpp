// GIF reader against gdk-pixbuf's GIF suite (colours where the golden is
// opaque), frame fetching order, the mended LZW rules; the writer read back
// by our reader and ImageMagick, byte for byte where the layout is fixed.
#include "pictest.h"

#include <map>
#include <set>
#include <sstream>

#include "platform/qx_errcodes.h"

using namespace pictest;

namespace {

const std::string suite = "/usr/libexec/installed-tests/gdk-pixbuf/test-images/gif-test-suite/";

// Sections of a .conf file: section -> key -> value.
std::map<std::string, std::map<std::string, std::string>> readConf(const std::string &path)
{
    std::map<std::string, std::map<std::string, std::string>> out;
    std::istringstream in(std::string(reinterpret_cast<const char *>(readFile(path).data()), readFile(path).size()));
    std::string line, section;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            section = line.substr(1, line.find(']') - 1);
            continue;
        }
        size_t eq = line.find(" = ");
        if (eq != std::string::npos) out[section][line.substr(0, eq)] = line.substr(eq + 3);
        else if (line.size() > 2 && line.substr(line.size() - 2) == " =") out[section][line.substr(0, line.size() - 2)] = "";
    }
    return out;
}

qxGifReader *open(const std::string &path, uint32_t *w, uint32_t *h, uint32_t *frames, int picture = 0)
{
    qxFileHandle *f = qxOpen(path.c_str(), 1, nullptr);
    return f ? qxGifOpen(f, w, h, frames, 0, picture, 1) : nullptr;
}

// Files the rules here read differently from gdk-pixbuf, which merges
// images without a delay into one frame, accepts a minimum code size above
// 8 and shows files without image data as transparent: here every image is
// a frame, and the others fail or show the background.
const std::set<std::string> differs = {
    "animation-multi-image-explicit-zero-delay.gif", "animation-multi-image.gif", "dispose-restore-previous.gif",
    "high-color.gif", "images-combine.gif", "images-overlap.gif", // every image a frame
    "max-codes.gif",                                              // minimum code size 11
    "no-data.gif", "image-zero-height.gif", "image-zero-size.gif", "image-zero-width.gif", // no pixels
};

TEST(Gif, PixbufSuiteMatchesGoldens)
{
    if (!fs::exists(suite)) GTEST_SKIP() << "gdk-pixbuf-tests missing";
    int checked = 0;
    std::vector<std::string> failed;
    for (const auto &entry : fs::directory_iterator(suite)) {
        if (entry.path().extension() != ".conf") continue;
        auto conf = readConf(entry.path().string());
        std::string name = conf["config"]["input"];
        std::string frameList = conf["config"]["frames"];
        uint32_t w = 0, h = 0, count = 0;
        qxGifReader *r = open(suite + name, &w, &h, &count);
        if (frameList.empty()) { // files gdk-pixbuf refuses: anything but a crash
            qxGifClose(r);
            continue;
        }
        std::vector<std::string> frames;
        std::stringstream list(frameList);
        for (std::string f; std::getline(list, f, ',');) frames.push_back(f);
        bool ok = r && count == frames.size();
        for (size_t i = 0; ok && i < frames.size(); ++i) {
            uint32_t t = 0;
            uint32_t *px = qxGifGetFrame(r, int32_t(i), &t);
            std::vector<uint8_t> golden = readFile(suite + conf[frames[i]]["pixels"]);
            ok = px && golden.size() == size_t(w) * h * 4;
            for (size_t p = 0; ok && p < size_t(w) * h; ++p)
                if (golden[4 * p + 3] == 255 &&
                    (px[p] & 0xFFFFFF) != (uint32_t(golden[4 * p]) << 16 | golden[4 * p + 1] << 8 | golden[4 * p + 2]))
                    ok = false;
            if (conf[frames[i]].count("delay"))
                ok = ok && qxGifFrameDelay(r, int32_t(i)) == 10u * std::stoul(conf[frames[i]]["delay"]);
            qxFree(px);
        }
        qxGifClose(r);
        if (!ok) failed.push_back(name);
        ++checked;
    }
    EXPECT_GE(checked, 60);
    std::set<std::string> got(failed.begin(), failed.end());
    EXPECT_EQ(got, differs) << "failed: " << ::testing::PrintToString(failed);
}

TEST(Gif, FullTableWithoutClearKeepsDecoding)
{
    if (!fs::exists(suite)) GTEST_SKIP() << "gdk-pixbuf-tests missing";
    uint32_t w = 0, h = 0, n = 0;
    qxGifReader *r = open(suite + "4095-codes.gif", &w, &h, &n);
    ASSERT_NE(r, nullptr);
    uint32_t *px = qxGifGetFrame(r, 0, nullptr);
    ASSERT_NE(px, nullptr);
    std::vector<uint8_t> golden = readFile(suite + "random-image.rgba");
    ASSERT_EQ(golden.size(), size_t(w) * h * 4);
    for (size_t p = 0; p < size_t(w) * h; ++p)
        ASSERT_EQ(px[p] & 0xFFFFFF, uint32_t(golden[4 * p]) << 16 | golden[4 * p + 1] << 8 | golden[4 * p + 2]) << p;
    qxFree(px);
    qxGifClose(r);
}

// A GIF of one 2 x 1 frame with the given LZW data (minimum code size 2).
std::vector<uint8_t> tinyGif(std::vector<uint8_t> lzw, uint16_t w = 2, uint16_t h = 1)
{
    std::vector<uint8_t> g = {'G', 'I', 'F', '8', '9', 'a', uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8),
                              0x80, 0, 0, 0, 0, 0, 255, 255, 255};
    std::vector<uint8_t> d = {0x2C, 0, 0, 0, 0, uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8), 0, 2,
                              uint8_t(lzw.size())};
    g.insert(g.end(), d.begin(), d.end());
    g.insert(g.end(), lzw.begin(), lzw.end());
    g.push_back(0);
    g.push_back(0x3B);
    return g;
}

class GifFiles : public Scratch {};

TEST_F(GifFiles, BadCodesAndHugeScreensFail)
{
    // clear(4), 1, 0, end(5) at 3 bits: 100 001 000 101 -> bytes 0x0C 0x0A... packed LSB first.
    auto pack = [](std::vector<int> codes) {
        std::vector<uint8_t> out;
        uint32_t bits = 0;
        int held = 0;
        for (int c : codes) {
            bits |= uint32_t(c) << held;
            held += 3;
            while (held >= 8) out.push_back(uint8_t(bits)), bits >>= 8, held -= 8;
        }
        if (held) out.push_back(uint8_t(bits));
        return out;
    };
    uint32_t w, h, n;
    writeFile(at("good.gif"), tinyGif(pack({4, 1, 0, 5})));
    qxGifReader *r = open(at("good.gif"), &w, &h, &n);
    ASSERT_NE(r, nullptr);
    uint32_t *px = qxGifGetFrame(r, 0, nullptr);
    ASSERT_NE(px, nullptr);
    EXPECT_EQ(px[0], 0xFFFFFFFFu);
    EXPECT_EQ(px[1], 0xFF000000u);
    qxFree(px);
    qxGifClose(r);
    // A first code after a clear that is no pixel value; a code past the table; a short frame.
    for (auto codes : {std::vector<int>{4, 6, 0, 5}, std::vector<int>{4, 1, 7, 5}, std::vector<int>{4, 1, 5}}) {
        writeFile(at("bad.gif"), tinyGif(pack(codes)));
        EXPECT_EQ(open(at("bad.gif"), &w, &h, &n), nullptr);
    }
    // 65535 x 65535 in 13 bytes: refused before the canvas is allocated.
    writeFile(at("huge.gif"), {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0});
    EXPECT_EQ(open(at("huge.gif"), &w, &h, &n), nullptr);
}

// Frames of 8 x 6 indices: a moving bar over a background, 4 colours.
std::vector<std::vector<uint8_t>> frames()
{
    std::vector<std::vector<uint8_t>> out;
    for (int f = 0; f < 4; ++f) {
        std::vector<uint8_t> px(48, 0);
        for (int y = 0; y < 6; ++y) px[size_t(y) * 8 + size_t(f + 2)] = 1;
        px[5] = uint8_t(f == 3 ? 3 : 2); // the last frame turns a pixel to the palette's last colour
        out.push_back(px);
    }
    return out;
}

TEST_F(GifFiles, WriterRoundTripsWithDifferencing)
{
    uint32_t palette[256] = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
    auto in = frames();
    for (int differencing : {0, 1}) {
        std::string path = at(differencing ? "diff.gif" : "plain.gif");
        qxGifWriter *w = nullptr;
        ASSERT_EQ(qxGifWriterOpen(path.c_str(), 8, 6, &w), 0);
        for (auto px : in) ASSERT_EQ(qxGifWriteFrame(w, px.data(), 8, 6, 70, palette, 4, 0xFFFFFFFF, differencing, 1), 0);
        ASSERT_EQ(qxGifWriterClose(w), 0);
        std::vector<uint8_t> bytes = readFile(path);
        ASSERT_GT(bytes.size(), 13u + 768);
        EXPECT_EQ(std::string(bytes.begin() + 13, bytes.begin() + 25), "Amiga rules!");
        std::string text(bytes.begin(), bytes.end());
        EXPECT_EQ(text.find("NETSCAPE2.0"), text.rfind("NETSCAPE2.0"));
        uint32_t w2, h2, n;
        qxGifReader *r = open(path, &w2, &h2, &n);
        ASSERT_NE(r, nullptr);
        ASSERT_EQ(n, 4u);
        for (int f = 0; f < 4; ++f) {
            uint32_t *px = qxGifGetFrame(r, f, nullptr);
            ASSERT_NE(px, nullptr);
            for (size_t i = 0; i < 48; ++i) ASSERT_EQ(px[i] & 0xFFFFFF, palette[in[size_t(f)][i]]) << f << " " << i;
            EXPECT_EQ(qxGifFrameDelay(r, f), 70u);
            qxFree(px);
        }
        // Out of order: frame 1 after frame 3.
        uint32_t *again = qxGifGetFrame(r, 1, nullptr);
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(again[3] & 0xFFFFFF, palette[1]);
        qxFree(again);
        qxGifClose(r);
        if (have("convert")) {
            std::vector<uint32_t> last = magick(path + "[3]", false, "-coalesce");
            std::vector<uint32_t> coalesced = magick(path, false, "-coalesce");
            ASSERT_EQ(coalesced.size(), 48u * 4);
            for (size_t i = 0; i < 48; ++i) EXPECT_EQ(coalesced[3 * 48 + i], palette[in[3][i]]) << i;
        }
    }
}

TEST_F(GifFiles, EqualFramesStoreTwoPixelsAndShortWritesFail)
{
    uint32_t palette[256] = {0x000000, 0xFFFFFF};
    std::vector<uint8_t> px(48, 1);
    qxGifWriter *w = nullptr;
    ASSERT_EQ(qxGifWriterOpen(at("same.gif").c_str(), 8, 6, &w), 0);
    for (int i = 0; i < 2; ++i) {
        auto copy = px;
        ASSERT_EQ(qxGifWriteFrame(w, copy.data(), 8, 6, 10, palette, 2, 0xFFFFFFFF, 1, 1), 0);
    }
    ASSERT_EQ(qxGifWriterClose(w), 0);
    std::vector<uint8_t> bytes = readFile(at("same.gif"));
    // The second image descriptor: 2 x 1 at the corner.
    size_t second = 0;
    for (size_t i = 13 + 768, seen = 0; i + 9 < bytes.size(); ++i)
        if (bytes[i] == 0x2C && bytes[i - 1] == 0 && ++seen == 2) second = i;
    ASSERT_NE(second, 0u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + long(second) + 1, bytes.begin() + long(second) + 9),
              (std::vector<uint8_t>{0, 0, 0, 0, 2, 0, 1, 0}));

    std::vector<uint8_t> noise(256 * 256);
    uint32_t seed = 7;
    for (auto &v : noise) v = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
    uint32_t grey[256];
    for (uint32_t i = 0; i < 256; ++i) grey[i] = i * 0x010101;
    ASSERT_EQ(qxGifWriterOpen("/dev/full", 256, 256, &w), 0);
    int e1 = qxGifWriteFrame(w, noise.data(), 256, 256, 0, grey, 256, 0xFFFFFFFF, 0, 0);
    int e2 = qxGifWriterClose(w);
    EXPECT_TRUE(e1 == ERR_WRITE || e2 == ERR_WRITE);
}

} // namespace
