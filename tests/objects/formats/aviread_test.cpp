// AVI reader against files ffmpeg writes (Motion-JPEG with and without its
// own Huffman tables, raw 24-bit with padded rows) and ffmpeg's decoding.
#include <gtest/gtest.h>

#include <cstring>

#include "objects/formats/qx_animformats.h"
#include "pictest.h"

using namespace pictest;

namespace {

struct Avi {
    qxAvi *state = nullptr;
    uint32_t width = 0, height = 0, frames = 0;
    explicit Avi(const std::string &path)
    {
        if (qxFileHandle *f = qxOpen(path.c_str(), 1, nullptr)) state = qxAviOpen(f, &width, &height, &frames);
    }
    ~Avi() { qxAviClose(state); }
    std::vector<uint32_t> frame(uint32_t k)
    {
        uint32_t *px = qxAviGetFrame(state, k);
        std::vector<uint32_t> v;
        if (px) v.assign(px, px + size_t(width) * height);
        qxFree(px);
        return v;
    }
};

size_t find(const std::vector<uint8_t> &d, const char *what, size_t from = 0)
{
    for (size_t i = from; i + 4 <= d.size(); ++i)
        if (!std::memcmp(&d[i], what, 4)) return i;
    return std::string::npos;
}

class AviRead : public Scratch {
  protected:
    std::string ffmpeg(const std::string &name, const std::string &codec, int w = 64, int h = 48)
    {
        std::string path = at(name);
        std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc=size=" + std::to_string(w) + "x" + std::to_string(h) +
                          ":rate=10 -frames:v 6 " + codec + " '" + path + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        return path;
    }
    std::vector<std::vector<uint32_t>> reference(const std::string &path, int w, int h)
    {
        std::vector<uint8_t> raw = run("ffmpeg -v error -i '" + path + "' -f rawvideo -pix_fmt rgb24 "
                                       "-sws_flags accurate_rnd+full_chroma_int+bicubic - 2>/dev/null");
        std::vector<std::vector<uint32_t>> out;
        const size_t n = size_t(w) * h * 3;
        for (size_t at = 0; at + n <= raw.size(); at += n) {
            out.emplace_back();
            for (size_t i = at; i < at + n; i += 3) out.back().push_back(uint32_t(raw[i]) << 16 | raw[i + 1] << 8 | raw[i + 2]);
        }
        return out;
    }
    void SetUp() override
    {
        Scratch::SetUp();
        if (!have("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    }
};

TEST_F(AviRead, MotionJpegInOrderByIndexAndWithoutTables)
{
    std::string path = ffmpeg("m.avi", "-c:v mjpeg -q:v 3 -huffman default -pix_fmt yuvj420p");
    auto ref = reference(path, 64, 48);
    ASSERT_EQ(ref.size(), 6u);
    Avi a(path);
    ASSERT_NE(a.state, nullptr);
    ASSERT_EQ(a.frames, 6u);
    std::vector<std::vector<uint32_t>> ours;
    for (uint32_t k = 0; k < 6; ++k) {
        ours.push_back(a.frame(k));
        EXPECT_LT(meanDiff(ours[k], ref[k]), 4.0) << "frame " << k;
    }
    for (uint32_t k : {3u, 1u, 5u, 0u, 4u}) EXPECT_EQ(a.frame(k), ours[k]) << "jump to " << k;

    // Every DHT turned into a comment of the same length: the standard tables
    // must be added back, giving the same pixels.
    std::vector<uint8_t> bytes = readFile(path);
    int stripped = 0;
    for (size_t i = 0; i + 1 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC4) bytes[i + 1] = 0xFE, ++stripped;
    ASSERT_GE(stripped, 6);
    writeFile(at("s.avi"), bytes);
    Avi s(at("s.avi"));
    ASSERT_NE(s.state, nullptr);
    for (uint32_t k : {0u, 4u, 2u}) EXPECT_EQ(s.frame(k), ours[k]) << "no tables, frame " << k;

    // idx1 offsets made absolute still find the frames.
    bytes = readFile(path);
    size_t movi = find(bytes, "movi"), idx = find(bytes, "idx1");
    ASSERT_NE(idx, std::string::npos);
    uint32_t entries = (bytes[idx + 4] | bytes[idx + 5] << 8 | bytes[idx + 6] << 16 | uint32_t(bytes[idx + 7]) << 24) / 16;
    for (uint32_t e = 0; e < entries; ++e) {
        uint8_t *o = &bytes[idx + 8 + 16 * e + 8];
        uint32_t v = (o[0] | o[1] << 8 | o[2] << 16 | uint32_t(o[3]) << 24) + uint32_t(movi);
        o[0] = uint8_t(v), o[1] = uint8_t(v >> 8), o[2] = uint8_t(v >> 16), o[3] = uint8_t(v >> 24);
    }
    writeFile(at("abs.avi"), bytes);
    Avi b(at("abs.avi"));
    ASSERT_NE(b.state, nullptr);
    for (uint32_t k : {5u, 2u, 3u}) EXPECT_EQ(b.frame(k), ours[k]) << "absolute index, frame " << k;
}

TEST_F(AviRead, RawRowsPaddedAndExact)
{
    for (int w : {37, 40}) {
        SCOPED_TRACE("width " + std::to_string(w));
        std::string path = ffmpeg("r.avi", "-c:v rawvideo -pix_fmt bgr24", w, 23);
        auto ref = reference(path, w, 23);
        Avi a(path);
        ASSERT_NE(a.state, nullptr);
        for (uint32_t k : {0u, 1u, 4u, 2u}) EXPECT_EQ(a.frame(k), ref[k]) << "frame " << k;
    }
}

TEST_F(AviRead, RefusedAndDamaged)
{
    std::string path = ffmpeg("v.avi", "-c:v mpeg4");
    EXPECT_EQ(Avi(path).state, nullptr); // neither uncompressed nor Motion-JPEG
    path = ffmpeg("c.avi", "-c:v mjpeg");
    std::vector<uint8_t> good = readFile(path);
    for (size_t cut = 0; cut < good.size(); cut += 97) {
        writeFile(at("t.avi"), std::vector<uint8_t>(good.begin(), good.begin() + long(cut)));
        Avi a(at("t.avi"));
        for (uint32_t k = 0; a.state && k < a.frames; ++k) a.frame(k);
    }
    // Index entries naming a stream the file does not have drop the index.
    std::vector<uint8_t> bad = good;
    size_t idx = find(bad, "idx1");
    ASSERT_NE(idx, std::string::npos);
    bad[idx + 8] = '7';
    writeFile(at("b.avi"), bad);
    Avi b(at("b.avi"));
    ASSERT_NE(b.state, nullptr);
    EXPECT_FALSE(b.frame(3).empty()); // found by scanning instead
}

} // namespace
