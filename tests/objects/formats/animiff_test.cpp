// IFF ANIM reader against anims written by tools/animgen from the format's
// rules, in every delta mode, and against ffmpeg's decoding of the same files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "objects/formats/qx_animformats.h"
#include "pictest.h"

using namespace pictest;

namespace {

struct Anim {
    qxAnimIff *state = nullptr;
    uint32_t width = 0, height = 0, frames = 0;
    explicit Anim(const std::string &path, uint32_t loadAlpha = 0)
    {
        if (qxFileHandle *f = qxOpen(path.c_str(), 1, nullptr))
            state = qxAnimIffOpen(f, 0, &width, &height, &frames, loadAlpha);
    }
    ~Anim() { qxAnimIffClose(state); }
    std::vector<uint32_t> frame(uint32_t k)
    {
        uint32_t t = 0;
        uint32_t *px = qxAnimIffGetFrame(state, k, &t);
        std::vector<uint32_t> v;
        if (px) v.assign(px, px + size_t(width) * height);
        qxFree(px);
        return v;
    }
};

class AnimIff : public Scratch {
  protected:
    std::string make(const std::string &name, int mode, int interleave, int longItems, int w, int h, int planes,
                     int frames, const std::string &extra = "")
    {
        std::string path = at(name);
        std::string cmd = "python3 " QX_TOOLS_DIR "/animgen/make_anim.py '" + path + "' " + std::to_string(mode) + " " +
                          std::to_string(interleave) + " " + std::to_string(longItems) + " " + std::to_string(w) + " " +
                          std::to_string(h) + " " + std::to_string(planes) + " " + std::to_string(frames) + " 7 " + extra;
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        return path;
    }
    // The generator's frames through its colour map.
    std::vector<std::vector<uint32_t>> expected(const std::string &path, int w, int h, bool ehb = false)
    {
        std::vector<uint8_t> ix = readFile(path + ".frames"), cmap = readFile(path + ".cmap");
        uint32_t palette[256] = {};
        for (size_t i = 0; i < cmap.size() / 3 && i < 256; ++i)
            palette[i] = uint32_t(cmap[3 * i]) << 16 | cmap[3 * i + 1] << 8 | cmap[3 * i + 2];
        if (ehb)
            for (int i = 0; i < 32; ++i) palette[32 + i] = (palette[i] >> 1) & 0x7F7F7F;
        std::vector<std::vector<uint32_t>> out;
        for (size_t at = 0; at + size_t(w) * h <= ix.size(); at += size_t(w) * h) {
            out.emplace_back();
            for (size_t i = 0; i < size_t(w) * h; ++i) out.back().push_back(palette[ix[at + i]]);
        }
        return out;
    }
};

TEST_F(AnimIff, EveryModeInOrderBackwardsAndLooping)
{
    struct Case {
        int mode, interleave, longItems, w;
    } cases[] = {{5, 0, 0, 45}, {5, 1, 0, 40}, {7, 0, 0, 48}, {7, 0, 1, 64}, {8, 0, 0, 45},
                 {8, 0, 1, 48}, {8, 1, 1, 80}, {100, 0, 0, 64}, {101, 1, 0, 48}};
    for (const Case &c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode) + " interleave " + std::to_string(c.interleave) + " long " +
                     std::to_string(c.longItems) + " width " + std::to_string(c.w));
        const int h = 21, frames = 7;
        std::string path = make("a.anim", c.mode, c.interleave, c.longItems, c.w, h, 4, frames);
        auto want = expected(path, c.w, h);
        Anim a(path);
        ASSERT_NE(a.state, nullptr);
        ASSERT_EQ(a.frames, uint32_t(frames));
        for (int k = 0; k < frames; ++k) EXPECT_EQ(rgbOnly(a.frame(k)), want[k]) << "frame " << k;
        // The last frame rewound the reader: frame 0 and onwards again, then a jump back.
        EXPECT_EQ(rgbOnly(a.frame(0)), want[0]);
        EXPECT_EQ(rgbOnly(a.frame(5)), want[5]);
        EXPECT_EQ(rgbOnly(a.frame(2)), want[2]);
        EXPECT_EQ(rgbOnly(a.frame(3)), want[3]);
    }
}

TEST_F(AnimIff, DelaysAndExtraHalfBrite)
{
    std::string path = make("e.anim", 5, 0, 0, 32, 9, 6, 4, "ehb");
    auto want = expected(path, 32, 9, true);
    Anim a(path);
    ASSERT_NE(a.state, nullptr);
    EXPECT_EQ(qxAnimIffFrameDelay(a.state, 2), 0u); // not decoded yet
    for (int k = 0; k < 4; ++k) EXPECT_EQ(rgbOnly(a.frame(k)), want[k]);
    EXPECT_EQ(qxAnimIffFrameDelay(a.state, 0), 50u);  // 3 sixtieths
    EXPECT_EQ(qxAnimIffFrameDelay(a.state, 2), 66u);  // 4 sixtieths, truncated
    EXPECT_EQ(qxAnimIffFrameDelay(a.state, 9999), 0u);
}

TEST_F(AnimIff, DpanCountAndTransparentIndex)
{
    std::string path = make("t.anim", 7, 0, 0, 32, 6, 3, 5, "dpan=3 mask=2");
    auto want = expected(path, 32, 6);
    std::vector<uint8_t> ix = readFile(path + ".frames");
    Anim plain(path);
    ASSERT_NE(plain.state, nullptr);
    EXPECT_EQ(plain.frames, 3u); // DPAN wins over the five FORMs
    EXPECT_EQ(plain.frame(1)[0] >> 24, 0u); // no alpha unless asked
    Anim a(path, 1);
    ASSERT_NE(a.state, nullptr);
    for (uint32_t k = 0; k < 3; ++k) {
        uint32_t t = 0;
        uint32_t *px = qxAnimIffGetFrame(a.state, k, &t);
        ASSERT_NE(px, nullptr);
        EXPECT_EQ(t, 1u);
        for (size_t i = 0; i < 32 * 6; ++i) {
            EXPECT_EQ(px[i] & 0xFFFFFF, want[k][i]);
            ASSERT_EQ(px[i] >> 24, ix[k * 192 + i] == 2 ? 0u : 0xFFu) << "frame " << k << " pixel " << i;
        }
        qxFree(px);
    }
    EXPECT_EQ(Anim(make("z.anim", 5, 0, 0, 16, 4, 2, 3, "dpan=0")).state, nullptr); // no frames
}

// Interlaced deltas change every second row; with the interlace option the
// rows of the other field repeat their neighbours, without it they come from
// the frame before.
TEST_F(AnimIff, InterlacedDeltas)
{
    const int w = 32, h = 10, frames = 6;
    for (int mode : {100, 101}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        std::string path = make("i.anim", mode, 1, 0, w, h, 3, frames, "ilace");
        auto want = expected(path, w, h);
        for (uint32_t option : {1u, 0u}) {
            SCOPED_TRACE("option " + std::to_string(option));
            uint32_t width = 0, height = 0, n = 0;
            qxAnimIff *a = qxAnimIffOpen(qxOpen(path.c_str(), 1, nullptr), option, &width, &height, &n, 0);
            ASSERT_NE(a, nullptr);
            ASSERT_EQ(n, uint32_t(frames));
            std::vector<uint32_t> before;
            for (uint32_t k = 0; k < n; ++k) {
                uint32_t t = 0;
                uint32_t *px = qxAnimIffGetFrame(a, k, &t);
                ASSERT_NE(px, nullptr);
                std::vector<uint32_t> got = rgbOnly(std::vector<uint32_t>(px, px + w * h));
                qxFree(px);
                if (k == 0) {
                    EXPECT_EQ(got, want[0]);
                } else {
                    // One field is the frame's own, the other is replaced.
                    int kept = -1;
                    for (int field = 0; field < 2 && kept < 0; ++field) {
                        bool same = true;
                        for (int y = field; y < h; y += 2)
                            same = same && std::equal(&got[y * w], &got[y * w] + w, &want[k][y * w]);
                        if (same) kept = field;
                    }
                    ASSERT_GE(kept, 0) << "frame " << k;
                    for (int y = 1 - kept; y < h; y += 2) {
                        int from = option ? (y & 1 ? y - 1 : y + 1) : y;
                        if (from >= h) continue;
                        const std::vector<uint32_t> &source = option ? got : before;
                        EXPECT_TRUE(std::equal(&got[y * w], &got[y * w] + w, &source[from * w])) << "frame " << k << " row " << y;
                    }
                }
                before = want[k];
            }
            qxAnimIffClose(a);
        }
    }
}

TEST_F(AnimIff, DamagedFilesFail)
{
    std::string path = make("d.anim", 8, 0, 0, 32, 16, 3, 5);
    std::vector<uint8_t> good = readFile(path);
    auto opens = [&](const std::vector<uint8_t> &bytes) {
        writeFile(at("x.anim"), bytes);
        Anim a(at("x.anim"));
        if (!a.state) return -1;
        int decoded = 0;
        for (uint32_t k = 0; k < a.frames; ++k) decoded += !a.frame(k).empty();
        return decoded;
    };
    ASSERT_EQ(opens(good), 5);
    // Truncated anywhere: either refused or frames fail, never a crash.
    for (size_t cut = 0; cut < good.size(); cut += 7) {
        std::vector<uint8_t> t(good.begin(), good.begin() + long(cut));
        EXPECT_LE(opens(t), 5);
    }
    // DLTA offsets pointing past the chunk fail the frame rather than read on.
    std::vector<uint8_t> bad = good;
    for (size_t i = 0; i + 8 < bad.size(); ++i)
        if (std::memcmp(&bad[i], "DLTA", 4) == 0) bad[i + 8] = 0x7F;
    EXPECT_LT(opens(bad), 5);
}

TEST_F(AnimIff, AgreesWithFfmpeg)
{
    if (!have("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    for (int mode : {5, 7, 8, 100, 101}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        std::string path = make("f.anim", mode, 0, 0, 48, 16, 4, 5);
        std::vector<uint8_t> raw = run("ffmpeg -v error -i '" + path + "' -vsync passthrough -f rawvideo -pix_fmt rgb24 - 2>/dev/null");
        if (raw.empty()) GTEST_SKIP() << "ffmpeg cannot read IFF ANIM here";
        Anim a(path);
        ASSERT_NE(a.state, nullptr);
        const size_t frameBytes = 48 * 16 * 3;
        for (uint32_t k = 0; k < a.frames && (k + 1) * frameBytes <= raw.size(); ++k) {
            std::vector<uint32_t> ref;
            for (size_t i = k * frameBytes; i < (k + 1) * frameBytes; i += 3)
                ref.push_back(uint32_t(raw[i]) << 16 | raw[i + 1] << 8 | raw[i + 2]);
            EXPECT_EQ(rgbOnly(a.frame(k)), ref) << "frame " << k;
        }
    }
}

} // namespace
