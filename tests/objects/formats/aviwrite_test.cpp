// The OpenDML AVI writer read back by ffprobe and ffmpeg (streams, frames,
// index structure, AVIX segments under lowered limits) and by our reader.
#include <gtest/gtest.h>

#include <cstring>

#include "objects/formats/qx_animformats.h"
#include "pictest.h"

using namespace pictest;

namespace {

std::vector<uint32_t> picture(uint32_t w, uint32_t h, uint32_t k)
{
    std::vector<uint32_t> px(size_t(w) * h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) px[y * w + x] = 0xFF000000u | ((x * 4 + k * 9) & 255) << 16 | ((y * 5) & 255) << 8 | (k * 40 & 255);
    return px;
}

size_t count(const std::vector<uint8_t> &d, const char *what)
{
    size_t n = 0;
    for (size_t i = 0; i + 4 <= d.size(); ++i) n += !std::memcmp(&d[i], what, 4);
    return n;
}

uint32_t le32at(const std::vector<uint8_t> &d, size_t at) { return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | uint32_t(d[at + 3]) << 24; }

class AviWrite : public Scratch {
  protected:
    void SetUp() override
    {
        Scratch::SetUp();
        if (!have("ffprobe")) GTEST_SKIP() << "ffmpeg missing";
    }
    std::string write(const std::string &name, uint32_t fps, uint32_t w, uint32_t h, uint32_t frames, bool repeatOdd = false,
                      uint64_t firstLimit = 1000000000, uint64_t laterLimit = 2000000000)
    {
        qxAviWriter *wr = nullptr;
        EXPECT_EQ(qxAviWriterOpenSegmented(at(name).c_str(), fps, 0, w, h, 90, 0, "test title", firstLimit, laterLimit,
                                           &wr),
                  0);
        if (!wr) return "";
        // Rows further apart than the width: the pitch must be honoured.
        const uint32_t pitchWords = w + 3;
        for (uint32_t k = 0; k < frames; ++k) {
    if (repeatOdd && (k & 1)) {
                EXPECT_EQ(qxAviWriteFrame(wr, nullptr, 0, 0), 0);
                continue;
            }
            std::vector<uint32_t> src = picture(w, h, k), wide(size_t(pitchWords) * h, 0x00FF00FF);
            for (uint32_t y = 0; y < h; ++y) std::copy_n(&src[y * w], w, &wide[y * pitchWords]);
            EXPECT_EQ(qxAviWriteFrame(wr, wide.data(), int32_t(pitchWords * 4), 0), 0);
        }
        EXPECT_EQ(qxAviWriterClose(wr), 0);
        return at(name);
    }
    std::string probe(const std::string &path, const std::string &what)
    {
        std::vector<uint8_t> out = run("ffprobe -v error " + what + " -of default=nw=1 '" + path + "'");
        return std::string(out.begin(), out.end());
    }
};

TEST_F(AviWrite, FramesAudioAndReadBack)
{
    std::string path = write("w.avi", 25, 64, 48, 6, true);
    std::string s = probe(path, "-count_frames -show_entries stream=codec_name,sample_rate,channels,nb_read_frames,width");
    EXPECT_NE(s.find("codec_name=mjpeg"), std::string::npos) << s;
    EXPECT_NE(s.find("codec_name=pcm_s16le"), std::string::npos) << s;
    EXPECT_NE(s.find("sample_rate=44100"), std::string::npos) << s;
    EXPECT_NE(s.find("nb_read_frames=6"), std::string::npos) << s;
    std::vector<uint8_t> bytes = readFile(path);
    EXPECT_EQ(count(bytes, "idx1"), 1u);
    EXPECT_EQ(count(bytes, "ix00"), 1u);
    EXPECT_EQ(count(bytes, "AVIX"), 0u);
    // Audio chunks of 1764 stereo samples, silent.
    size_t wb = 0;
    for (size_t i = 0; i + 8 <= bytes.size(); ++i)
        if (!std::memcmp(&bytes[i], "00wb", 4) && le32at(bytes, i + 4) == 7056) ++wb;
    EXPECT_EQ(wb, 6u);

    // ffmpeg's frames and ours against the source pictures.
    std::vector<uint8_t> raw = run("ffmpeg -v error -i '" + path + "' -f rawvideo -pix_fmt rgb24 "
                                   "-sws_flags accurate_rnd+full_chroma_int+bicubic - 2>/dev/null");
    ASSERT_EQ(raw.size(), 6u * 64 * 48 * 3);
    qxFileHandle *f = qxOpen(path.c_str(), 1, nullptr);
    uint32_t w = 0, h = 0, n = 0;
    qxAvi *a = qxAviOpen(f, &w, &h, &n);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(n, 6u);
    for (uint32_t k : {0u, 3u, 2u, 5u}) {
        std::vector<uint32_t> want = rgbOnly(picture(64, 48, k & ~1u)), ref;
        for (size_t i = size_t(k) * 9216; i < size_t(k + 1) * 9216; i += 3) ref.push_back(uint32_t(raw[i]) << 16 | raw[i + 1] << 8 | raw[i + 2]);
        uint32_t *px = qxAviGetFrame(a, k);
        ASSERT_NE(px, nullptr);
        std::vector<uint32_t> ours(px, px + 64 * 48);
        qxFree(px);
        EXPECT_LT(meanDiff(ours, want), 4.0) << "frame " << k;
        EXPECT_LT(meanDiff(ref, want), 4.0) << "ffmpeg frame " << k;
    }
    qxAviClose(a);
}

TEST_F(AviWrite, RatesAndRefusals)
{
    qxAviWriter *w = nullptr;
    EXPECT_EQ(qxAviWriterOpen(at("a.avi").c_str(), 0, 0, 8, 8, 80, 0, "", &w), 1055);
    EXPECT_EQ(qxAviWriterOpen(at("a.avi").c_str(), 2000000, 0, 8, 8, 80, 0, "", &w), 1055);
    EXPECT_EQ(qxAviWriterOpen(at("a.avi").c_str(), 50000, 0, 8, 8, 80, 0, "", &w), 1055);
    EXPECT_EQ(qxAviWriterOpen((dir / "no" / "such.avi").string().c_str(), 25, 0, 8, 8, 80, 0, "", &w), 1052);
    // 8 fps: 44096 Hz, 5512 samples a frame.
    std::string path = write("e.avi", 8, 16, 8, 2);
    EXPECT_NE(probe(path, "-show_entries stream=sample_rate").find("sample_rate=44096"), std::string::npos);
    std::vector<uint8_t> bytes = readFile(path);
    size_t blocks = 0;
    for (size_t i = 0; i + 8 <= bytes.size(); ++i) blocks += !std::memcmp(&bytes[i], "00wb", 4) && le32at(bytes, i + 4) == 5512 * 4;
    EXPECT_EQ(blocks, 2u);
    // A full disk is reported, not taken for success.
    if (fs::exists("/dev/full")) {
        int err = qxAviWriterOpen("/dev/full", 25, 0, 64, 48, 80, 0, "", &w);
        if (!err) {
            std::vector<uint32_t> px = picture(64, 48, 0);
            for (int k = 0; k < 200 && !err; ++k) err = qxAviWriteFrame(w, px.data(), 64 * 4, 0);
            int closed = qxAviWriterClose(w);
            if (!err) err = closed;
        }
        EXPECT_EQ(err, 1005);
    }
    // No frame written: a valid, empty file.
    ASSERT_EQ(qxAviWriterOpen(at("z.avi").c_str(), 25, 0, 8, 8, 80, 0, "", &w), 0);
    EXPECT_EQ(qxAviWriteFrame(w, nullptr, 0, 0), 1055); // nothing to repeat yet
    EXPECT_EQ(qxAviWriterClose(w), 0);
}

TEST_F(AviWrite, IndexBoundaryAndSegments)
{
    // 1000 fps keeps the audio chunks small (44 samples).
    std::string path = write("b.avi", 1000, 16, 8, 2045);
    std::string s = probe(path, "-count_frames -select_streams v -show_entries stream=nb_read_frames");
    EXPECT_NE(s.find("nb_read_frames=2045"), std::string::npos) << s;
    std::vector<uint8_t> bytes = readFile(path);
    EXPECT_EQ(count(bytes, "ix01"), 2u); // the 2045th frame opens new standard indexes
    size_t indx = 0;
    while (std::memcmp(&bytes[indx], "indx", 4)) ++indx;
    EXPECT_EQ(le32at(bytes, indx + 12), 2u); // super index entries in use
    EXPECT_EQ(le32at(bytes, indx + 32 + 12), 2044u * 44); // first entry's duration in samples

    path = write("s.avi", 25, 32, 16, 40, false, 60000, 90000);
    bytes = readFile(path);
    EXPECT_GE(count(bytes, "AVIX"), 2u);
    EXPECT_EQ(count(bytes, "idx1"), 1u);
    s = probe(path, "-count_frames -select_streams v -show_entries stream=nb_read_frames");
    EXPECT_NE(s.find("nb_read_frames=40"), std::string::npos) << s;
    // ffmpeg finds nothing to complain about in the OpenDML structure.
    std::vector<uint8_t> complaints = run("ffmpeg -v warning -i '" + path + "' -f null - 2>&1 | grep -v 'Guessed Channel Layout' || true");
    EXPECT_EQ(std::string(complaints.begin(), complaints.end()), "");
    std::vector<uint8_t> raw = run("ffmpeg -v error -i '" + path + "' -f rawvideo -pix_fmt rgb24 - 2>/dev/null");
    ASSERT_EQ(raw.size(), 40u * 32 * 16 * 3);
    std::vector<uint32_t> last;
    for (size_t i = 39 * 1536; i < 40 * 1536; i += 3) last.push_back(uint32_t(raw[i]) << 16 | raw[i + 1] << 8 | raw[i + 2]);
    EXPECT_LT(meanDiff(last, rgbOnly(picture(32, 16, 39))), 6.0);
}

} // namespace
