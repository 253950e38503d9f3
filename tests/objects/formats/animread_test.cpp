// The anim reader dispatch: which reader takes a file, its error codes, and
// the still-GIF rule of qxIsAnimFile.
#include <gtest/gtest.h>

#include "objects/formats/qx_animformats.h"
#include "pictest.h"

using namespace pictest;

namespace {

class AnimRead : public Scratch {
  protected:
    int open(const std::string &path, qxAnimReader **r, uint32_t *frames = nullptr)
    {
        uint32_t w = 0, h = 0, n = 0, value = 7;
        qxPluginInfo *plugin = reinterpret_cast<qxPluginInfo *>(uintptr_t(9));
        int err = qxOpenAnimReader(path.c_str(), "inbuilt", 0, 0, 0, r, &w, &h, &n, &value, &plugin);
        EXPECT_EQ(value, 0u);
        if (!err) { EXPECT_EQ(plugin, nullptr); }
        if (frames) *frames = n;
        return err;
    }
};

TEST_F(AnimRead, KindsFramesAndDelays)
{
    ASSERT_EQ(std::system(("convert -size 8x6 xc:red xc:blue -set delay 25 '" + at("two.gif") + "' && convert -size 8x6 xc:green '" +
                           at("one.gif") + "'").c_str()),
              0);
    qxAnimReader *r = nullptr;
    uint32_t frames = 0;
    ASSERT_EQ(open(at("two.gif"), &r, &frames), 0);
    EXPECT_EQ(r->kind, uint32_t(QX_ANIMREADER_GIF));
    EXPECT_EQ(frames, 2u);
    uint32_t t = 5;
    uint32_t *px = qxAnimReaderFrame(r, 1, 0, &t);
    ASSERT_NE(px, nullptr);
    EXPECT_EQ(px[0] & 0xFFFFFF, 0x0000FFu);
    EXPECT_EQ(qxAnimReaderDelay(r, 1), 250u);
    EXPECT_FALSE(qxAnimReaderIsIff(r));
    qxAnimReaderFreeFrame(r, px);
    qxCloseAnimReader(r);
    EXPECT_EQ(qxIsAnimFile(at("two.gif").c_str(), "inbuilt", 0), 1);
    EXPECT_EQ(qxIsAnimFile(at("one.gif").c_str(), "inbuilt", 0), 0); // a still GIF is a picture

    std::string anim = at("a.anim");
    ASSERT_EQ(std::system(("python3 " QX_TOOLS_DIR "/animgen/make_anim.py '" + anim + "' 5 0 0 16 4 2 3 1").c_str()), 0);
    ASSERT_EQ(open(anim, &r, &frames), 0);
    EXPECT_TRUE(qxAnimReaderIsIff(r));
    EXPECT_EQ(frames, 3u);
    qxAnimReaderFreeFrame(r, qxAnimReaderFrame(r, 2, 0, nullptr));
    EXPECT_EQ(qxAnimReaderDelay(r, 2), 66u);
    qxCloseAnimReader(r);

    if (have("ffmpeg")) {
        ASSERT_EQ(std::system(("ffmpeg -v error -f lavfi -i testsrc=size=16x8:rate=5 -frames:v 2 -c:v mjpeg '" + at("a.avi") + "'").c_str()), 0);
        ASSERT_EQ(open(at("a.avi"), &r, &frames), 0);
        EXPECT_EQ(r->kind, uint32_t(QX_ANIMREADER_AVI));
        EXPECT_EQ(qxAnimReaderDelay(r, 1), 0u);
        qxAnimReaderFreeFrame(r, qxAnimReaderFrame(r, 1, 0, nullptr));
        qxCloseAnimReader(r);
        EXPECT_EQ(qxIsAnimFile(at("a.avi").c_str(), "inbuilt", 0), 1);
    }
}

TEST_F(AnimRead, Refusals)
{
    qxAnimReader *r = nullptr;
    EXPECT_EQ(open(at("missing.anim"), &r), 1045);
    writeFile(at("short"), {'F', 'O', 'R', 'M', 0, 0});
    EXPECT_EQ(open(at("short"), &r), 1009);
    ASSERT_EQ(qxSaveILBM(at("p.iff").c_str(), std::vector<uint32_t>(12, 0xFF0000).data(), 4, 3), 0);
    EXPECT_EQ(open(at("p.iff"), &r), 1356); // an ILBM picture is no anim
    std::vector<uint8_t> bad = {'F', 'O', 'R', 'M', 0, 0, 0, 40, 'A', 'N', 'I', 'M', 'F', 'O', 'R', 'M'};
    bad.resize(48);
    writeFile(at("bad.anim"), bad);
    EXPECT_EQ(open(at("bad.anim"), &r), 1356);
    EXPECT_EQ(qxIsAnimFile(at("bad.anim").c_str(), "inbuilt", 0), 0);
    uint32_t w, h, n;
    EXPECT_EQ(qxOpenAnimReader(at("p.iff").c_str(), "native", 0, 0, 0, &r, &w, &h, &n, nullptr, nullptr), 1356);
}

} // namespace
