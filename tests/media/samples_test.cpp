// Sample internals: pass bookkeeping, MixSample against sox,
// the WAVE writer against sox and libsndfile, and the loop and end notices
// of the native output on ALSA's null device.
#include <cstdlib>
#include <cstring>

#include "core/errors/qx_errors.h"
#include "media/qx_sample.h"
#include "media/qx_soundcmds.h"
#include "platform/qx_libimports.h"
#include "platform/qx_memory.h"
#include "platform/qx_threadevents.h"
#include "soundtest.h"

using namespace soundtest;

TEST(SampleOutput, PassesFromPlayTime)
{
    qxChannel c{};
    qxSetupPasses(&c, 8000, 8000, 1, 1500); // one second, 1500 ms
    EXPECT_EQ(c.loops, 2u);
    EXPECT_EQ(c.lastMs, 500u);
    EXPECT_EQ(c.lastFrames, 4000u);
    qxSetupPasses(&c, 8000, 8000, 0, -1); // endless
    EXPECT_EQ(c.loops, 0u);
    EXPECT_EQ(c.passMs, 1000u);
    // Under a millisecond a pass: counted from frames, no division by 0.
    qxSetupPasses(&c, 5, 8000, 1, 50);
    EXPECT_EQ(c.passMs, 0u);
    EXPECT_EQ(c.loops, 81u);
    // Long sounds: the duration is computed in 64 bits.
    qxSetupPasses(&c, 4000000000u, 48000, 1, -1);
    EXPECT_EQ(c.passMs, 83333333u);
}

TEST(SampleMix, EqualsSoxMixWithinOneStep)
{
    if (!have("sox")) GTEST_SKIP() << "sox is not installed";
    ScratchDir dir;
    ASSERT_TRUE(dir.run("sox -n -r 22050 -b 16 -c 2 a.wav synth 0.5 sine 300 vol 0.3"));
    ASSERT_TRUE(dir.run("sox -n -r 22050 -b 16 -c 2 b.wav synth 0.5 square 500 vol 0.3"));
    ASSERT_TRUE(dir.run("sox -n -r 22050 -b 8 -c 2 c.wav synth 0.5 sine 900 vol 0.3"));
    ASSERT_TRUE(dir.run("sox -n -r 22050 -b 16 -c 1 m.wav synth 0.5 sine 440 vol 0.3"));
    ASSERT_TRUE(dir.run("sox -D -m -v 1 a.wav -v 1 b.wav -v 1 c.wav -t raw -b 16 -e signed ref.raw"));
    qxSound *a = nullptr, *b = nullptr, *c = nullptr, *m = nullptr, *mixed = nullptr;
    ASSERT_EQ(qxDecodeSound((dir / "m.wav").c_str(), nullptr, &m), 0);
    ASSERT_EQ(qxDecodeSound((dir / "a.wav").c_str(), nullptr, &a), 0);
    ASSERT_EQ(qxDecodeSound((dir / "b.wav").c_str(), nullptr, &b), 0);
    ASSERT_EQ(qxDecodeSound((dir / "c.wav").c_str(), nullptr, &c), 0);
    qxMixSource sources[] = {{a, 22050, 0, -1, 1, 1.0}, {b, 22050, 0, -1, 1, 1.0}, {c, 22050, 0, -1, 1, 1.0}};
    ASSERT_EQ(qxMixSounds(sources, 3, a->frames, 22050, QX_SMP_S16STEREO, &mixed), 0);
    std::vector<uint8_t> ours(mixed->data, mixed->data + size_t(mixed->frames) * 4);
    EXPECT_LE(maxDiff16(ours, readFile(dir / "ref.raw")), 1);
    // A source at half the rate, offset and not looping, stops where it ends.
    qxSound *slow = nullptr;
    qxMixSource one[] = {{m, 11025, 100, -1, 0, 1.0}};
    ASSERT_EQ(qxMixSounds(one, 1, 30000, 22050, QX_SMP_S16MONO, &slow), 0);
    auto value = [&](uint32_t f) { return reinterpret_cast<int16_t *>(slow->data)[f]; };
    EXPECT_EQ(value(99), 0);
    EXPECT_EQ(value(100 + 2 * 7), reinterpret_cast<int16_t *>(m->data)[7]);
    EXPECT_EQ(value(100 + 2 * m->frames + 1), 0);
    for (qxSound *s : {a, b, c, m, mixed, slow}) qxFreeSound(s);
}

TEST(SampleSave, WaveWriterReadBackBySoxAndSndfile)
{
    if (!have("sox")) GTEST_SKIP() << "sox is not installed";
    ScratchDir dir;
    // Three 8-bit frames: 44 + 3 + 1 bytes, RIFF size 40, data size 3.
    auto *data = static_cast<uint8_t *>(qxAlloc(3, 0));
    data[0] = 0x00; data[1] = 0x7F; data[2] = 0x80; // signed -> 128, 255, 0
    qxSound *sound = nullptr;
    ASSERT_EQ(qxSoundFromRaw(data, 3, 8000, QX_SMP_S8MONO, &sound), 0);
    ASSERT_EQ(qxWriteWave((dir / "three.wav").c_str(), sound, 8000), 0);
    auto bytes = readFile(dir / "three.wav");
    ASSERT_EQ(bytes.size(), 48u);
    EXPECT_EQ(bytes[4], 40);
    EXPECT_EQ(bytes[40], 3);
    EXPECT_EQ(bytes[44], 128);
    EXPECT_EQ(bytes[45], 255);
    ASSERT_TRUE(dir.run("sox three.wav -t raw back.raw"));
    EXPECT_EQ(readFile(dir / "back.raw"), std::vector<uint8_t>({128, 255, 0}));
    qxFreeSound(sound);
    // 16-bit big-endian data (16SV) is written little-endian.
    ASSERT_TRUE(dir.run("sox -n -r 8000 -b 16 -c 2 in.wav synth 0.1 sine 300 && sox in.wav -t raw ref.raw"));
    ASSERT_EQ(qxDecodeSound((dir / "in.wav").c_str(), nullptr, &sound), 0);
    for (uint32_t i = 0; i < sound->frames * 4; i += 2) std::swap(sound->data[i], sound->data[i + 1]);
    sound->flags |= QX_SOUND_BIGENDIAN;
    ASSERT_EQ(qxWriteWave((dir / "out.wav").c_str(), sound, 8000), 0);
    ASSERT_TRUE(dir.run("sox out.wav -t raw out.raw"));
    EXPECT_EQ(readFile(dir / "out.raw"), readFile(dir / "ref.raw"));
    if (have("sndfile-info")) {
        EXPECT_TRUE(dir.run("sndfile-info out.wav | grep -q 'Channels    : 2'"));
    }
    qxFreeSound(sound);
}

namespace {

// Native output on ALSA's null device through an .asoundrc of its own.
struct NullDevice : ::testing::Test {
    ScratchDir home;
    void SetUp() override
    {
        writeFile(home / ".asoundrc", {});
        std::string rc = "pcm.!default { type null }\n";
        writeFile(home / ".asoundrc", std::vector<uint8_t>(rc.begin(), rc.end()));
        setenv("HOME", home.path.c_str(), 1);
        qxImportLibraries();
        if (!qxAlsaAvailable()) GTEST_SKIP() << "libasound is not installed";
        ASSERT_EQ(qxCreateAudioLocks(), 0);
        ASSERT_EQ(qxOpenAudioDevice(4), 0);
        listenFor(QX_TAG_ONSAMPLELOOP);
        listenFor(QX_TAG_ONSAMPLEEND);
        // Notices that earlier tests left behind are not this test's.
        uint32_t type, a, b;
        qxObjectRef id;
        while (qxPopThreadEvent(&type, &id, &a, &b)) {
        }
    }
    void TearDown() override
    {
        qxCloseAudioDevice();
        qxAlsaReleaseConfig();
    }

    qxSound *tone(uint32_t frames)
    {
        auto *data = static_cast<uint8_t *>(qxAlloc(frames * 2, 1));
        qxSound *s = nullptr;
        qxSoundFromRaw(data, frames, 8000, QX_SMP_S16MONO, &s);
        return s;
    }
    void play(qxSound *s, uint32_t passes, int64_t time, uint32_t number)
    {
        int index = -1;
        qxChannel *c = nullptr;
        ASSERT_EQ(qxAllocChannel(QX_CH_PREPARED, {number, nullptr}, &index, &c), 0);
        c->sound = s;
        c->volume = 64;
        c->startPending = 1;
        qxSetupPasses(c, s->frames, 8000, passes, time);
        ASSERT_EQ(qxAlsaOpenChannel(c, "default", 16, 1, QX_SOUND_SIGNED, 8000), 0);
        qxStartPrepared();
    }
    struct Event { uint32_t type, ms, pass; };
    std::vector<Event> waitEvents(qxSound *s)
    {
        for (int i = 0; i < 500 && qxIsSoundPlaying(s); i++) qxDelay(10);
        qxDelay(20);
        std::vector<Event> events;
        uint32_t type, ms, pass;
        qxObjectRef id;
        while (qxPopThreadEvent(&type, &id, &ms, &pass)) events.push_back({type, ms, pass});
        return events;
    }
};

} // namespace

TEST_F(NullDevice, NoticesInOrder)
{
    qxSound *s = tone(800); // 100 ms
    play(s, 3, -1, 1);
    auto events = waitEvents(s);
    ASSERT_EQ(events.size(), 4u);
    for (uint32_t i = 0; i < 3; i++) {
        EXPECT_EQ(events[i].type, QX_THREADEVENT_SAMPLE_LOOP);
        EXPECT_EQ(events[i].pass, i + 1);
        EXPECT_EQ(events[i].ms, 100 * i);
    }
    EXPECT_EQ(events[3].type, QX_THREADEVENT_SAMPLE_END);
    EXPECT_EQ(events[3].ms, 300u);
    // The finished channel is reaped before the next allocation.
    int index = -1;
    qxChannel *c = nullptr;
    qxReapChannels();
    ASSERT_EQ(qxAllocChannel(QX_CH_PREPARED, {2, nullptr}, &index, &c), 0);
    EXPECT_EQ(index, 0);
    qxFreeChannel(c);
    qxFreeSound(s);
}

TEST_F(NullDevice, StormOfShortPassesAndFreeWhilePending)
{
    qxSound *s = tone(5); // 0.625 ms a pass
    play(s, 1, 50, 1);
    auto events = waitEvents(s);
    ASSERT_EQ(events.size(), 82u);
    EXPECT_EQ(events.back().type, QX_THREADEVENT_SAMPLE_END);
    EXPECT_EQ(events.back().pass, 81u);
    // An endless sample stopped and freed while its notices wait.
    qxSound *t = tone(400);
    play(t, 0, -1, 2);
    qxDelay(30);
    qxStopSound(t, -1);
    qxFreeSound(t);
    qxDelay(30);
    EXPECT_FALSE(qxIsSoundPlaying(t));
    uint32_t type, a1, a2;
    qxObjectRef id;
    while (qxPopThreadEvent(&type, &id, &a1, &a2)) {}
    // All channels busy: 1289; an explicit channel out of range: 1576.
    for (int i = 0; i < 4; i++) play(s, 0, -1, 10 + i);
    int index = -1;
    qxChannel *c = nullptr;
    EXPECT_EQ(qxAllocChannel(QX_CH_PREPARED, {9, nullptr}, &index, &c), ERR_NOCHANNEL);
    index = 4;
    EXPECT_EQ(qxAllocChannel(QX_CH_PREPARED, {9, nullptr}, &index, &c), ERR_CHANNELRANGE);
    // A busy explicit channel is stopped and handed out.
    index = 2;
    ASSERT_EQ(qxAllocChannel(QX_CH_PREPARED, {9, nullptr}, &index, &c), 0);
    EXPECT_EQ(c->objectId.number, 9u);
    qxStopAllChannels();
    qxFreeSound(s);
}

TEST(SampleOutput, WithoutLibasoundSoundIsQuietUnlessForced)
{
    qxCloseLibraries();
    qxSetImportDirectory("/nonexistent-qx-imports");
    qxImportLibraries();
    const bool available = qxAlsaAvailable(); // ALSA loads at its first use
    qxSetImportDirectory(nullptr);
    ASSERT_FALSE(available);
    qxAudio.audioFailed = qxAudio.audioOpen = qxAudio.forceSound = 0;
    EXPECT_EQ(qxNeedSound(0), 1);
    EXPECT_EQ(qxNeedSound(0), 1); // remembered: no second try
    qxAudio.audioFailed = 0;
    qxAudio.forceSound = 1;
    EXPECT_EQ(qxNeedSound(0), ERR_OPENAUDIO);
    qxAudio.audioFailed = qxAudio.forceSound = 0;
    qxCloseLibraries();
}
