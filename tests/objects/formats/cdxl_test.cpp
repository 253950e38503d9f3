// CDXL reader against files from tools/animgen/make_cdxl.py: packets, colours,
// HAM against ffmpeg's decoding, sound, the frame rate and seeking.
#include <gtest/gtest.h>

#include "objects/formats/qx_animformats.h"
#include "pictest.h"

using namespace pictest;

namespace {

class Cdxl : public Scratch {
  protected:
    std::string make(const std::string &name, int w, int h, int planes, int frames, int sound, int chunk, int ham)
    {
        std::string path = at(name);
        std::string cmd = "python3 " QX_TOOLS_DIR "/animgen/make_cdxl.py '" + path + "' " + std::to_string(w) + " " +
                          std::to_string(h) + " " + std::to_string(planes) + " " + std::to_string(frames) + " " +
                          std::to_string(sound) + " " + std::to_string(chunk) + " " + std::to_string(ham) + " 5";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        return path;
    }
    // Every video frame as 0x00RRGGBB words, and the sound as 16-bit samples.
    static std::vector<std::vector<uint32_t>> play(qxCdxl *d, std::vector<int16_t> *sound = nullptr)
    {
        std::vector<std::vector<uint32_t>> frames;
        qxCdxlPacket p;
        while (qxCdxlReadPacket(d, &p) == 0) {
            if (p.kind == 0) {
                qxCdxlFrame f{};
                EXPECT_EQ(qxCdxlDecodeVideo(d, &p, &f), 0);
                frames.push_back(decoded(f, p));
            } else if (sound) {
                int16_t s[70000];
                uint32_t n = 0;
                EXPECT_EQ(qxCdxlDecodeAudio(d, &p, s, 70000, &n), 0);
                sound->insert(sound->end(), s, s + n);
            }
            qxCdxlFreePacket(&p);
        }
        return frames;
    }
    static std::vector<uint32_t> decoded(const qxCdxlFrame &f, const qxCdxlPacket &)
    {
        std::vector<uint32_t> v;
        const uint8_t *b = reinterpret_cast<const uint8_t *>(f.pixels);
        for (size_t i = 0; i < size_t(width) * height; ++i, b += 4) v.push_back(uint32_t(b[1]) << 16 | b[2] << 8 | b[3]);
        return v;
    }
    static inline uint32_t width = 0, height = 0;
};

TEST_F(Cdxl, PaletteFramesSoundRateAndSeek)
{
    width = 37, height = 11;
    std::string path = make("p.cdxl", 37, 11, 4, 5, 300, 12000, 0);
    qxCdxlVideoInfo info{};
    qxCdxl *d = qxCdxlOpen(path.c_str(), &info);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(info.width, 37u);
    EXPECT_EQ(qxCdxlFrameCount(d), 5u);
    EXPECT_DOUBLE_EQ(qxCdxlFramesPerSecond(d), 12.8);
    EXPECT_EQ(info.audioRate, 3840u); // 300 bytes x 12.8
    EXPECT_EQ(info.durationMs, 390u);
    EXPECT_EQ(info.hasAudio, 1u);
    std::vector<int16_t> sound;
    auto frames = play(d, &sound);
    ASSERT_EQ(frames.size(), 5u);
    std::vector<uint8_t> ix = readFile(path + ".frames"), cmap = readFile(path + ".cmap"), snd = readFile(path + ".sound");
    for (size_t k = 0; k < 5; ++k)
        for (size_t i = 0; i < 37 * 11; ++i) {
            uint32_t c = uint32_t(cmap[k * 32 + 2 * ix[k * 407 + i]]) << 8 | cmap[k * 32 + 2 * ix[k * 407 + i] + 1];
            uint32_t want = ((c >> 8) & 15) * 17 << 16 | ((c >> 4) & 15) * 17 << 8 | (c & 15) * 17;
            ASSERT_EQ(frames[k][i], want) << "frame " << k << " pixel " << i;
        }
    ASSERT_EQ(sound.size(), snd.size());
    for (size_t i = 0; i < snd.size(); ++i) ASSERT_EQ(sound[i], int8_t(snd[i]) * 256);
    // Seeking: 250 ms is frame 3; far past the end clamps to the last frame.
    ASSERT_EQ(qxCdxlSeek(d, 250), 0);
    EXPECT_EQ(play(d).size(), 2u);
    ASSERT_EQ(qxCdxlSeek(d, 4000000000u), 0);
    auto last = play(d);
    ASSERT_EQ(last.size(), 1u);
    EXPECT_EQ(last[0], frames[4]);
    qxCdxlClose(d);
    width = 16, height = 4;
    for (int chunk : {20000, 60000}) {
        d = qxCdxlOpen(make("r.cdxl", 16, 4, 2, 2, 0, chunk, 0).c_str(), &info);
        ASSERT_NE(d, nullptr);
        EXPECT_DOUBLE_EQ(qxCdxlFramesPerSecond(d), chunk == 20000 ? 15.36 : 10.24);
        EXPECT_EQ(info.hasAudio, 0u);
        qxCdxlClose(d);
    }
}

TEST_F(Cdxl, PaletteFramesAgreeWithFfmpeg)
{
    if (!have("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    for (int planes : {1, 5, 8}) {
        SCOPED_TRACE("planes " + std::to_string(planes));
        width = 32, height = 12;
        std::string path = make("c.cdxl", 32, 12, planes, 3, 0, 0, 0);
        std::vector<uint8_t> raw = run("ffmpeg -v error -f cdxl -i '" + path +
                                       "' -vsync passthrough -f rawvideo -pix_fmt rgb24 - 2>/dev/null");
        qxCdxl *d = qxCdxlOpen(path.c_str(), nullptr);
        ASSERT_NE(d, nullptr);
        auto frames = play(d);
        qxCdxlClose(d);
        ASSERT_EQ(raw.size(), 3u * 32 * 12 * 3);
        for (size_t k = 0; k < frames.size(); ++k) {
            std::vector<uint32_t> ref;
            for (size_t i = k * 1152; i < (k + 1) * 1152; i += 3) ref.push_back(uint32_t(raw[i]) << 16 | raw[i + 1] << 8 | raw[i + 2]);
            EXPECT_EQ(frames[k], ref) << "frame " << k;
        }
    }
}

// HAM as the ILBM reader decodes it: each row starts black, and the new
// channel value is the code times 16 (HAM6) or 4 (HAM8). ffmpeg differs there.
TEST_F(Cdxl, HamFrames)
{
    for (int planes : {6, 8}) {
        SCOPED_TRACE("planes " + std::to_string(planes));
        width = 29, height = 7;
        std::string path = make("h.cdxl", 29, 7, planes, 2, 0, 0, 1);
        qxCdxl *d = qxCdxlOpen(path.c_str(), nullptr);
        ASSERT_NE(d, nullptr);
        auto frames = play(d);
        qxCdxlClose(d);
        ASSERT_EQ(frames.size(), 2u);
        std::vector<uint8_t> ix = readFile(path + ".frames"), cmap = readFile(path + ".cmap");
        const int shift = planes - 2, colours = 1 << shift, scale = planes == 8 ? 4 : 16;
        for (size_t k = 0; k < 2; ++k)
            for (size_t y = 0; y < 7; ++y) {
                uint32_t colour = 0;
                for (size_t x = 0; x < 29; ++x) {
                    uint32_t code = ix[k * 203 + y * 29 + x], v = code & (colours - 1), value = (v * scale) & 255;
                    const uint8_t *e = &cmap[(k * colours + v) * 2];
                    uint32_t c12 = uint32_t(e[0]) << 8 | e[1];
                    switch (code >> shift) {
                    case 0: colour = ((c12 >> 8) & 15) * 17 << 16 | ((c12 >> 4) & 15) * 17 << 8 | (c12 & 15) * 17; break;
                    case 1: colour = (colour & 0xFFFF00) | value; break;
                    case 2: colour = (colour & 0x00FFFF) | value << 16; break;
                    default: colour = (colour & 0xFF00FF) | value << 8; break;
                    }
                    ASSERT_EQ(frames[k][y * 29 + x], colour) << "frame " << k << " at " << x << "," << y;
                }
            }
    }
}

TEST_F(Cdxl, BadHeadersAndChangedChunks)
{
    width = 16, height = 8;
    std::string path = make("b.cdxl", 16, 8, 3, 4, 10, 0, 0);
    std::vector<uint8_t> good = readFile(path);
    const size_t chunk = good.size() / 4;
    auto opens = [&](std::vector<uint8_t> bytes) {
        writeFile(at("x.cdxl"), bytes);
        qxCdxl *d = qxCdxlOpen(at("x.cdxl").c_str(), nullptr);
        int frames = d ? int(play(d).size()) : -1;
        qxCdxlClose(d);
        return frames;
    };
    EXPECT_EQ(opens(good), 4);
    auto with = [&](size_t at, std::initializer_list<uint8_t> bytes) {
        std::vector<uint8_t> b = good;
        std::copy(bytes.begin(), bytes.end(), b.begin() + long(at));
        return b;
    };
    EXPECT_EQ(opens(with(2, {0, 0, 0, 0})), -1);       // chunk size 0
    EXPECT_EQ(opens(with(2, {0, 0, 0, 40})), -1);      // too small for its contents
    EXPECT_EQ(opens(with(19, {9})), -1);               // nine planes
    EXPECT_EQ(opens(with(20, {4, 2})), -1);            // palette above 512 bytes
    EXPECT_EQ(opens(with(14, {0, 0})), -1);            // width 0
    EXPECT_EQ(opens(with(0, {2})), -1);                // type
    EXPECT_EQ(opens(std::vector<uint8_t>(good.begin(), good.begin() + long(chunk))), -1); // one chunk only
    EXPECT_EQ(opens(with(2 * chunk + 19, {2})), 2);    // a later chunk of other planes ends the stream
    EXPECT_EQ(opens(std::vector<uint8_t>(good.begin(), good.end() - 50)), 3);
}

} // namespace
