// The audio-adapter path with an in-process adapter: the fill callback
// feeds a module bit for bit as the direct render, a WAVE stream as sox
// decodes it; sizes asked by an adapter are bounded, and a stream ends one
// second after its last frame and is then reaped.
#include <atomic>
#include <cstring>
#include <thread>

#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"
#include "core/runtime/qx_startup.h"
#include "media/qx_audioadapter.h"
#include "media/qx_modplayer.h"
#include "media/qx_music.h"
#include "media/qx_soundcmds.h"
#include "media/qx_videosound.h"
#include "platform/qx_libimports.h"
#include "platform/qx_memory.h"
#include "soundtest.h"

using namespace soundtest;

namespace {

// The fake adapter: one record per allocated channel.
struct FakeChannel {
    uint32_t format, frequency, volume;
    qxAudioFillFunc fill;
    void *record;
    std::vector<uint32_t> attrs;
    // An adapter thread of its own, which FreeAudioChannel waits for.
    std::thread puller;
    std::atomic<bool> quit{false};
    std::atomic<uint64_t> pulled{0};
};
std::vector<FakeChannel *> fakeChannels;
int freed;
int handleToken;

void *fakeOpen(void *, void *) { return &handleToken; }
void fakeClose(void *) {}
void *fakeAlloc(void *, uint32_t format, uint32_t frequency, uint32_t volume, qxAudioFillFunc fill, uintptr_t,
                void *record, uintptr_t)
{
    auto *c = new FakeChannel{format, frequency, volume, fill, record, {}, {}, {}, {}};
    fakeChannels.push_back(c);
    return c;
}
void fakeFree(void *, void *ch)
{
    auto *c = static_cast<FakeChannel *>(ch);
    c->quit = true;
    if (c->puller.joinable()) c->puller.join();
    freed++;
    delete c;
}
void fakeAttrs(void *, void *ch, const uint32_t *list)
{
    for (; *list; list += 2) static_cast<FakeChannel *>(ch)->attrs.insert(static_cast<FakeChannel *>(ch)->attrs.end(), {list[0], list[1]});
}

struct Adapter : ::testing::Test {
    ScratchDir home;
    qxPluginInfo info{};
    void SetUp() override
    {
        fakeChannels.clear();
        freed = 0;
        info.capabilities = QX_CAP_AUDIOADAPTER;
        info.entry[QX_EP_OpenAudio] = reinterpret_cast<void *>(fakeOpen);
        info.entry[QX_EP_CloseAudio] = reinterpret_cast<void *>(fakeClose);
        info.entry[QX_EP_AllocAudioChannel] = reinterpret_cast<void *>(fakeAlloc);
        info.entry[QX_EP_FreeAudioChannel] = reinterpret_cast<void *>(fakeFree);
        info.entry[QX_EP_SetChannelAttributes] = reinterpret_cast<void *>(fakeAttrs);
        qxAudioAdapter = {&info, 0, 2048, 3, nullptr};
        ASSERT_EQ(qxCreateAudioLocks(), 0);
        ASSERT_EQ(qxOpenAudioDevice(8), 0);
    }
    void TearDown() override
    {
        qxCloseAudioDevice();
        qxResetAudioAdapter();
    }
    // Pulls frames through the last channel's fill callback, as the adapter's
    // thread would, in blocks of block frames.
    std::vector<uint8_t> pull(uint32_t frames, uint32_t bpf, uint32_t block = 1000)
    {
        FakeChannel *c = fakeChannels.back();
        std::vector<uint8_t> out;
        std::vector<uint8_t> buf(size_t(block) * bpf);
        for (uint32_t done = 0; done < frames;) {
            uint32_t n = c->fill(1, 2, buf.data(), std::min(block, frames - done), c->record);
            if (!n) break;
            out.insert(out.end(), buf.begin(), buf.begin() + size_t(n) * bpf);
            done += n;
        }
        return out;
    }
};

TEST_F(Adapter, TableAndModule)
{
    EXPECT_EQ(qxAudio.count, 3); // the adapter's channel count, not NUMCHANNELS
    ASSERT_TRUE(home.run("python3 " QX_SOURCE_DIR "/tools/mkmod.py busy song.mod"));
    std::vector<uint8_t> module = readFile(home / "song.mod");
    qxMusic *m = nullptr;
    ASSERT_EQ(qxOpenMusicFile((home / "song.mod").c_str(), nullptr, &m), 0);
    qxAddMusicObject(m);
    ASSERT_EQ(qxStartMusic(m), 0);
    ASSERT_EQ(fakeChannels.size(), 1u);
    EXPECT_EQ(fakeChannels[0]->format, 5u);
    EXPECT_EQ(fakeChannels[0]->frequency, 48000u);
    std::vector<uint8_t> got = pull(96000, 4, 777);

    std::vector<uint64_t> mem((qxModSetup(nullptr, module.data(), uint32_t(module.size()), 48000) + 7) / 8);
    auto *p = reinterpret_cast<qxModPlayer *>(mem.data());
    qxModSetup(p, module.data(), uint32_t(module.size()), 48000);
    std::vector<uint8_t> direct(got.size());
    qxModMix(p, direct.data(), direct.data() + 2, 4, uint32_t(direct.size() / 4), 1, 16, 2);
    EXPECT_EQ(got.size(), 96000u * 4);
    EXPECT_TRUE(got == direct);
    // Positions follow what the adapter took: two seconds in.
    EXPECT_GT(qxMusicPosition(m, 1), 0);

    // A position jump is taken by the next fill.
    qxAlsaLock();
    qxModPosition(static_cast<qxModPlayer *>(m->stream), 0, 1);
    qxAlsaUnlock();
    pull(1, 4);
    EXPECT_EQ(qxMusicPosition(m, 2), 1);

    qxCloseMusicObject(m);
    EXPECT_EQ(freed, 1);
    EXPECT_EQ(qxAudio.channels[0].kind.load(), QX_CH_FREE);
}

TEST_F(Adapter, StreamEndsAndIsReaped)
{
    ASSERT_TRUE(home.run("sox -n -r 8000 -b 16 -c 1 in.wav synth 0.3 sine 440 vol 0.8 && "
                         "sox in.wav -t raw ref.raw"));
    qxMusic *m = nullptr;
    ASSERT_EQ(qxOpenMusicFile((home / "in.wav").c_str(), nullptr, &m), 0);
    qxAddMusicObject(m);
    m->times = 2;
    ASSERT_EQ(qxStartMusic(m), 0);
    ASSERT_EQ(fakeChannels.size(), 1u);
    EXPECT_EQ(fakeChannels[0]->format, 4u);
    EXPECT_EQ(fakeChannels[0]->frequency, 8000u);
    // Two passes, then the silence that completes the last half.
    std::vector<uint8_t> got = pull(100000, 2, 500);
    std::vector<uint8_t> ref = readFile(home / "ref.raw");
    ASSERT_GE(got.size(), 2 * ref.size());
    EXPECT_TRUE(std::equal(ref.begin(), ref.end(), got.begin()));
    EXPECT_TRUE(std::equal(ref.begin(), ref.end(), got.begin() + ref.size()));
    qxChannel &c = qxAudio.channels[0];
    EXPECT_EQ(c.ended, 1u);
    qxReapChannels();
    EXPECT_EQ(c.kind.load(), QX_CH_STREAM); // not before a second has passed
    qxDelay(1100);
    qxReapChannels();
    EXPECT_EQ(c.kind.load(), QX_CH_FREE);
    EXPECT_EQ(freed, 1);
    qxCloseMusicObject(m);
}

TEST_F(Adapter, VolumeReachesTheAdapterAndRefusals)
{
    ASSERT_TRUE(home.run("python3 " QX_SOURCE_DIR "/tools/mkmod.py timing song.mod"));
    qxMusic *m = nullptr;
    ASSERT_EQ(qxOpenMusicFile((home / "song.mod").c_str(), nullptr, &m), 0);
    qxAddMusicObject(m);
    m->volume = 40;
    ASSERT_EQ(qxStartMusic(m), 0);
    EXPECT_EQ(fakeChannels[0]->volume, 40u);
    qxAdapterSetAttributes(&qxAudio.channels[0], 20, QX_AUDIOATTR_UNSET, 30000);
    EXPECT_EQ(fakeChannels[0]->attrs, (std::vector<uint32_t>{1, 20, 3, 30000}));
    // A fill asked for more than a second at a time is cut to that.
    std::vector<uint8_t> big(size_t(400000) * 4);
    EXPECT_EQ(fakeChannels[0]->fill(0, 0, big.data(), 400000, fakeChannels[0]->record), 192000u);
    qxCloseMusicObject(m);

    // An adapter that gives no channel: 1562, and the channel is free again.
    info.entry[QX_EP_AllocAudioChannel] = reinterpret_cast<void *>(+[](void *, uint32_t, uint32_t, uint32_t,
                                                                       qxAudioFillFunc, uintptr_t, void *,
                                                                       uintptr_t) -> void * { return nullptr; });
    ASSERT_EQ(qxOpenMusicFile((home / "song.mod").c_str(), nullptr, &m), 0);
    qxAddMusicObject(m);
    EXPECT_EQ(qxStartMusic(m), ERR_ALLOCCHANNEL);
    EXPECT_EQ(qxAudio.channels[0].kind.load(), QX_CH_FREE);
    qxCloseMusicObject(m);
}

TEST_F(Adapter, VideoSoundStartsAtTheFirstChunk)
{
    qxVideoSoundFifo f;
    int video;
    ASSERT_EQ(qxVideoSoundOpen(&f, &video, {7, nullptr}, -1, 50, 2, 44100, 4096), 0);
    EXPECT_EQ(qxAudio.channels[0].kind.load(), QX_CH_VIDEOSETUP);
    EXPECT_TRUE(fakeChannels.empty()); // nothing to pull before the decoder has sound
    std::vector<uint8_t> chunk(4000);
    for (size_t i = 0; i < chunk.size(); i++) chunk[i] = uint8_t(i * 7 + 1);
    ASSERT_EQ(qxVideoFifoAppend(&f, chunk.data(), uint32_t(chunk.size())), 0);
    ASSERT_EQ(fakeChannels.size(), 1u);
    EXPECT_EQ(fakeChannels[0]->format, 5u);
    EXPECT_EQ(fakeChannels[0]->frequency, 44100u);
    EXPECT_EQ(fakeChannels[0]->volume, 50u);
    // What the FIFO holds, then silence: the callback never starves the adapter.
    std::vector<uint8_t> got = pull(1500, 4);
    ASSERT_EQ(got.size(), 6000u);
    EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), got.begin()));
    EXPECT_TRUE(std::all_of(got.begin() + 4000, got.end(), [](uint8_t b) { return b == 0; }));
    qxVideoSoundClose(&f);
    EXPECT_EQ(freed, 1);
    EXPECT_EQ(qxAudio.channels[0].kind.load(), QX_CH_FREE);
}

// The adapter pulls on its own thread while the script jumps, changes the
// volume and pauses: FreeAudioChannel may wait for that thread.
TEST_F(Adapter, PullingThreadAndScriptThread)
{
    ASSERT_TRUE(home.run("python3 " QX_SOURCE_DIR "/tools/mkmod.py busy song.mod"));
    qxMusic *m = nullptr;
    ASSERT_EQ(qxOpenMusicFile((home / "song.mod").c_str(), nullptr, &m), 0);
    qxAddMusicObject(m);
    for (int round = 0; round < 3; round++) {
        ASSERT_EQ(qxStartMusic(m), 0);
        FakeChannel *c = fakeChannels.back();
        c->puller = std::thread([c] {
            std::vector<uint8_t> buf(4096 * 4);
            while (!c->quit) c->pulled += c->fill(0, 0, buf.data(), 4096, c->record);
        });
        while (c->pulled < 48000) std::this_thread::yield();
        EXPECT_GE(qxMusicPosition(m, 1), 0);
        qxAlsaLock();
        qxModPosition(static_cast<qxModPlayer *>(m->stream), 0, round);
        qxAlsaUnlock();
        qxAdapterSetAttributes(&qxAudio.channels[0], 30, QX_AUDIOATTR_UNSET, QX_AUDIOATTR_UNSET);
        qxHaltMusic(m, round & 1);
        if (round & 1) m->state = 0;
    }
    EXPECT_EQ(freed, 3);
    qxCloseMusicObject(m);
}

TEST(AdapterInstall, Codes)
{
    qxPluginInfo plain{}, adapter{}, other{};
    adapter.capabilities = other.capabilities = QX_CAP_AUDIOADAPTER;
    const qxHostTag none[] = {{0, 0}};
    EXPECT_EQ(qxInstallAudioAdapter(&plain, 0, none), ERR_WRONGUSAGE);
    // Before start-up makes the applet's objects.
    EXPECT_EQ(qxInstallAudioAdapter(&adapter, 0, none), ERR_SETADAPTER);
    qxSetTag(QX_TAG_MAINRUNNING, 1);
    const qxHostTag noChannels[] = {{QX_AUDIOTAG_CHANNELS, 0}, {0, 0}};
    EXPECT_EQ(qxInstallAudioAdapter(&adapter, 0, noChannels), ERR_SETADAPTER);
    EXPECT_EQ(qxAudioAdapter.plugin, nullptr);
    const qxHostTag five[] = {{QX_AUDIOTAG_CHANNELS, 5}, {0, 0}};
    EXPECT_EQ(qxInstallAudioAdapter(&adapter, QX_AUDIOADAPTER_EXCLUSIVE, five), 0);
    EXPECT_EQ(qxAudioAdapter.channels, 5);
    EXPECT_EQ(qxAudioAdapter.bufferSize, 2048u);
    EXPECT_EQ(qxInstallAudioAdapter(&other, 0, none), ERR_SETADAPTER);
    const qxHostTag buffer[] = {{QX_AUDIOTAG_BUFFERSIZE, 4096}, {QX_AUDIOTAG_CHANNELS, 2}, {0, 0}};
    EXPECT_EQ(qxInstallAudioAdapter(&adapter, QX_AUDIOADAPTER_UPDATE, buffer), 0);
    EXPECT_EQ(qxAudioAdapter.bufferSize, 4096u);
    EXPECT_EQ(adapter.audioSetting, 4096u);
    EXPECT_EQ(qxAudioAdapter.channels, 5); // flag 2 reads the buffer size alone
    qxResetAudioAdapter();
    // A buffer size of 0 is the adapter's own business, not a refusal.
    const qxHostTag noBuffer[] = {{QX_AUDIOTAG_BUFFERSIZE, 0}, {0, 0}};
    EXPECT_EQ(qxInstallAudioAdapter(&adapter, 0, noBuffer), 0);
    EXPECT_EQ(qxAudioAdapter.plugin, &adapter);
    qxResetAudioAdapter();
    // Applets made before 6.0.
    qxAppletInfo old{};
    old.versionMajor = 5;
    old.versionMinor = 9;
    qxApplet = &old;
    EXPECT_EQ(qxInstallAudioAdapter(&adapter, 0, none), ERR_OLDAPPLET);
    qxApplet = nullptr;
    qxSetTag(QX_TAG_MAINRUNNING, 0);
}

// Installed while the native output mixes a looping sample: the output is
// closed first (its mixer thread ends, its channels go), and the next open
// is the adapter's with the channel count asked for.
TEST(AdapterInstall, OverTheOpenNativeOutput)
{
    ScratchDir home;
    std::string rc = "pcm.!default { type null }\n";
    writeFile(home / ".asoundrc", std::vector<uint8_t>(rc.begin(), rc.end()));
    setenv("HOME", home.path.c_str(), 1);
    qxImportLibraries();
    if (!qxAlsaAvailable()) GTEST_SKIP() << "libasound is not installed";
    ASSERT_EQ(qxCreateAudioLocks(), 0);
    ASSERT_EQ(qxNeedSound(4), 0);
    qxSound *s = nullptr;
    ASSERT_EQ(qxSoundFromRaw(static_cast<uint8_t *>(qxAlloc(1600, 1)), 800, 8000, QX_SMP_S16MONO, &s), 0);
    int index = -1;
    qxChannel *c = nullptr;
    ASSERT_EQ(qxAllocChannel(QX_CH_PREPARED, {1, nullptr}, &index, &c), 0);
    c->sound = s;
    c->volume = 64;
    c->startPending = 1;
    qxSetupPasses(c, s->frames, 8000, 0, -1);
    ASSERT_EQ(qxAlsaOpenChannel(c, "default", 16, 1, QX_SOUND_SIGNED, 8000), 0);
    qxStartPrepared();
    qxDelay(50);
    EXPECT_TRUE(qxIsSoundPlaying(s));
    qxPluginInfo info{};
    info.capabilities = QX_CAP_AUDIOADAPTER;
    info.entry[QX_EP_OpenAudio] = reinterpret_cast<void *>(fakeOpen);
    info.entry[QX_EP_CloseAudio] = reinterpret_cast<void *>(fakeClose);
    qxSetTag(QX_TAG_MAINRUNNING, 1);
    const qxHostTag two[] = {{QX_AUDIOTAG_CHANNELS, 2}, {0, 0}};
    EXPECT_EQ(qxInstallAudioAdapter(&info, 0, two), 0);
    EXPECT_FALSE(qxAudio.deviceOpen);
    EXPECT_EQ(qxAudio.channels, nullptr);
    EXPECT_FALSE(qxIsSoundPlaying(s));
    EXPECT_EQ(qxNeedSound(0), 0);
    EXPECT_EQ(qxAudioAdapter.handle, &handleToken);
    EXPECT_EQ(qxAudio.count, 2);
    qxCloseAudioDevice();
    qxAudio.audioOpen = 0;
    qxResetAudioAdapter();
    qxAlsaReleaseConfig();
    qxSetTag(QX_TAG_MAINRUNNING, 0);
    qxFreeSound(s);
}

// The native output drains the FIFO into the channel's PCM in order.
TEST(NativeVideoSound, ReachesThePcm)
{
    ScratchDir home;
    std::string rc = "pcm.!default { type file; slave.pcm \"null\"; file \"" + home.path +
                     "/out.raw\"; format \"raw\" }\n";
    writeFile(home / ".asoundrc", std::vector<uint8_t>(rc.begin(), rc.end()));
    setenv("HOME", home.path.c_str(), 1);
    qxImportLibraries();
    if (!qxAlsaAvailable()) GTEST_SKIP() << "libasound is not installed";
    ASSERT_EQ(qxCreateAudioLocks(), 0);
    ASSERT_EQ(qxOpenAudioDevice(2), 0);
    qxVideoSoundFifo f;
    int video;
    ASSERT_EQ(qxVideoSoundOpen(&f, &video, {3, nullptr}, 1, 64, 2, 48000, 0x40000), 0);
    std::vector<uint8_t> data(2 * 0x40000);
    for (size_t i = 0; i < data.size(); i++) data[i] = uint8_t((i * 13) >> 2);
    for (size_t at = 0; at < data.size(); at += 0x40000) ASSERT_EQ(qxVideoFifoAppend(&f, &data[at], 0x40000), 0);
    auto fill = [&f] {
        pthread_mutex_lock(&f.mutex);
        uint32_t n = f.fill;
        pthread_mutex_unlock(&f.mutex);
        return n;
    };
    for (int i = 0; i < 1000 && fill(); i++) qxDelay(10);
    qxDelay(300); // what the PCM holds plays out
    qxVideoSoundClose(&f);
    qxCloseAudioDevice();
    qxAlsaReleaseConfig(); // the next test reads its own configuration
    EXPECT_TRUE(readFile(home / "out.raw") == data);
}

} // namespace
