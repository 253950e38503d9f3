// Music streams on the native output through a file PCM (two halves, a
// decoding thread, passes wrapping mid-half), the script-fed queue and the
// stream information.
#include <cstdlib>
#include <cstring>

#include "media/qx_sound.h"
#include "platform/qx_libimports.h"
#include "platform/qx_threadevents.h"
#include "soundtest.h"

using namespace soundtest;

namespace {

struct FileDevice : ::testing::Test {
    ScratchDir home;
    void SetUp() override
    {
        if (!have("sox")) GTEST_SKIP() << "sox is not installed";
        std::string rc = "pcm.!default { type file; slave.pcm \"null\"; file \"" + home.path +
                         "/out_%r_%c_%f.raw\"; format \"raw\" }\n";
        writeFile(home / ".asoundrc", std::vector<uint8_t>(rc.begin(), rc.end()));
        setenv("HOME", home.path.c_str(), 1);
        qxImportLibraries();
        if (!qxAlsaAvailable()) GTEST_SKIP() << "libasound is not installed";
        ASSERT_EQ(qxCreateAudioLocks(), 0);
        ASSERT_EQ(qxOpenAudioDevice(2), 0);
        listenFor(QX_TAG_ONMUSICEND);
    }
    void TearDown() override
    {
        qxCloseAudioDevice();
        qxAlsaReleaseConfig();
    }

    // Plays the file as a stream of the given passes until its channel ends.
    void playStream(const std::string &file, uint32_t passes)
    {
        qxSoundStream *s = nullptr;
        ASSERT_EQ(qxOpenSoundStream((home / file).c_str(), nullptr, 1, &s), 0);
        int index = -1;
        qxChannel *c = nullptr;
        ASSERT_EQ(qxAllocChannel(QX_CH_MUSICSETUP, {7, nullptr}, &index, &c), 0);
        c->loops = passes;
        c->volume = 64;
        ASSERT_EQ(qxStartStreamChannel(c, s), 0);
        for (int i = 0; i < 1000 && c->kind != QX_CH_FINISHED; i++) qxDelay(5);
        EXPECT_EQ(c->kind, QX_CH_FINISHED);
        EXPECT_EQ(c->loop, passes);
        qxReapChannels();
        EXPECT_EQ(c->kind, QX_CH_FREE);
        qxCloseSoundStream(s);
    }
};

} // namespace

TEST_F(FileDevice, TwoPassStreamOfPartHalves)
{
    // 2.3 s at 8000 Hz: halves of one second, the second pass starts
    // inside a half, and the file then ends the channel.
    ASSERT_TRUE(home.run("sox -n -r 8000 -b 16 -c 2 in.wav synth 2.3 sine 300 sine 500 vol 0.5"));
    ASSERT_TRUE(home.run("sox in.wav -t raw ref.raw && cat ref.raw ref.raw > twice.raw"));
    playStream("in.wav", 2);
    EXPECT_EQ(readFile(home / "out_8000_2_S16_LE.raw"), readFile(home / "twice.raw"));
    uint32_t type, ms, pass;
    qxObjectRef id;
    bool ended = false;
    while (qxPopThreadEvent(&type, &id, &ms, &pass)) ended |= type == QX_THREADEVENT_MUSIC_END && id.number == 7;
    EXPECT_TRUE(ended);
}

TEST_F(FileDevice, SingleShotAndWholeHalves)
{
    // Shorter than a half: no decoding thread. Exactly two halves: ends
    // after its last full half.
    ASSERT_TRUE(home.run("sox -n -r 11025 -b 8 -c 1 short.wav synth 0.4 sine 300 && sox short.wav -t raw sref.raw"));
    playStream("short.wav", 1);
    EXPECT_EQ(readFile(home / "out_11025_1_U8.raw"), readFile(home / "sref.raw"));
    ASSERT_TRUE(home.run("sox -n -r 16000 -b 16 -c 1 whole.wav synth 2 sine 300 && sox whole.wav -t raw wref.raw"));
    playStream("whole.wav", 1);
    EXPECT_EQ(readFile(home / "out_16000_1_S16_LE.raw"), readFile(home / "wref.raw"));
}

TEST(CustomStream, StarvedQueuePlaysSilenceUntilEnded)
{
    qxSoundStream *s = nullptr;
    ASSERT_EQ(qxNewCustomStream(nullptr, 8000, QX_SMP_U8MONO, &s), 0);
    std::vector<uint8_t> data(100, 200), out(300);
    ASSERT_EQ(qxQueueStreamData(s, data.data(), 100), 0);
    int end = 1;
    EXPECT_EQ(qxReadSoundStream(s, out.data(), 300, &end), 300u);
    EXPECT_EQ(end, 0);
    EXPECT_EQ(out[99], 200);
    EXPECT_EQ(out[100], 128); // unsigned silence
    ASSERT_EQ(qxQueueStreamData(s, data.data(), 50), 0);
    ASSERT_EQ(qxQueueStreamData(s, nullptr, 0), 0);
    EXPECT_EQ(qxReadSoundStream(s, out.data(), 300, &end), 50u);
    EXPECT_EQ(end, 1);
    EXPECT_STREQ(qxSoundStreamName(s), "Custom stream");
    qxCloseSoundStream(s);
}

TEST(CustomStream, InformationOfShortAndLongStreams)
{
    qxSoundStream s{};
    s.frequency = 44100;
    s.bytesPerFrame = 4;
    s.totalFrames = 20; // under a millisecond: the position is not wrapped
    EXPECT_EQ(qxStreamInfo(&s, 0, -1), 0);
    EXPECT_EQ(qxStreamInfo(&s, 1, 1234), 1234);
    s.totalFrames = 44100;
    s.timeBase[0] = 0;
    s.timeBase[1] = 500000;
    EXPECT_EQ(qxStreamInfo(&s, 1, 800), 300);
    EXPECT_EQ(qxStreamInfo(&s, 1, -1), 500);
    EXPECT_EQ(qxStreamInfo(&s, 5, -1), 1376);
    EXPECT_EQ(qxStreamInfo(&s, 9, -1), -1);
}
