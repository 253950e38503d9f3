// Module music on the native output through a file PCM: the PCM receives
// the direct render bit for bit, pause and resume join seamlessly, stop
// restarts at the beginning, and positions follow what was played.
#include <cstdlib>
#include <cstring>

#include "media/qx_modplayer.h"
#include "media/qx_music.h"
#include "media/qx_soundattrs.h"
#include "platform/qx_libimports.h"
#include "soundtest.h"

using namespace soundtest;

namespace {

struct ModuleDevice : ::testing::Test {
    ScratchDir home;
    std::vector<uint8_t> module;
    void SetUp() override
    {
        // Paced like a sound card, so that the output thread waits as it would.
        const char *build = std::getenv("QX_BUILD_DIR");
        std::string plugin = std::string(build ? build : ".") + "/tools/libasound_module_pcm_qxpace.so";
        if (access(plugin.c_str(), R_OK) != 0) GTEST_SKIP() << "the pacing plug-in is not built";
        std::string rc = "pcm_type.qxpace { lib \"" + plugin + "\" }\n"
                         "pcm.!default { type file; slave.pcm { type qxpace }; file \"" + home.path +
                         "/out.raw\"; format \"raw\" }\n";
        writeFile(home / ".asoundrc", std::vector<uint8_t>(rc.begin(), rc.end()));
        setenv("HOME", home.path.c_str(), 1);
        qxImportLibraries();
        if (!qxAlsaAvailable()) GTEST_SKIP() << "libasound is not installed";
        ASSERT_TRUE(home.run("python3 " QX_SOURCE_DIR "/tools/mkmod.py busy song.mod"));
        module = readFile(home / "song.mod");
        ASSERT_EQ(qxCreateAudioLocks(), 0);
        ASSERT_EQ(qxOpenAudioDevice(2), 0);
    }
    void TearDown() override
    {
        qxCloseAudioDevice();
        qxAlsaReleaseConfig();
    }
    // The first bytes of the module rendered directly.
    std::vector<uint8_t> direct(size_t bytes)
    {
        std::vector<uint64_t> mem((qxModSetup(nullptr, module.data(), uint32_t(module.size()), 48000) + 7) / 8);
        auto *p = reinterpret_cast<qxModPlayer *>(mem.data());
        qxModSetup(p, module.data(), uint32_t(module.size()), 48000);
        std::vector<uint8_t> out((bytes + 3) & ~size_t(3));
        qxModMix(p, out.data(), out.data() + 2, 4, uint32_t(out.size() / 4), 1, 16, 2);
        out.resize(bytes);
        return out;
    }
    // Plays for a moment, then stops or pauses; what the PCM received.
    std::vector<uint8_t> playFor(qxMusic *m, int ms, bool pause)
    {
        EXPECT_EQ(qxStartMusic(m), 0);
        qxDelay(ms);
        qxHaltMusic(m, pause);
        return readFile(home / "out.raw");
    }
};

// The first differing byte; -1 when equal (sizes included).
long firstDiff(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; i++)
        if (a[i] != b[i]) return long(i);
    return a.size() == b.size() ? -1 : long(n);
}

} // namespace

TEST_F(ModuleDevice, PlayPauseResumeAndStop)
{
    qxMusic *m = nullptr;
    ASSERT_EQ(qxOpenMusicFile((home / "song.mod").c_str(), nullptr, &m), 0);
    EXPECT_EQ(qxMusicPosition(m, 2), -1); // not playing
    auto first = playFor(m, 300, true);
    ASSERT_GT(first.size(), 48000u * 4 / 5);
    EXPECT_EQ(firstDiff(first, direct(first.size())), -1) << first.size();
    // Paused: the music's state is where the PCM stopped.
    EXPECT_EQ(m->state, 2u);
    auto second = playFor(m, 300, false);
    ASSERT_GT(second.size(), 0u);
    std::vector<uint8_t> joined = first;
    joined.insert(joined.end(), second.begin(), second.end());
    EXPECT_EQ(firstDiff(joined, direct(joined.size())), -1) << first.size() << " + " << second.size();
    // Stopped: a new start begins at the start.
    EXPECT_EQ(m->state, 0u);
    auto third = playFor(m, 100, false);
    EXPECT_EQ(firstDiff(third, direct(third.size())), -1) << third.size();
    qxCloseMusicObject(m);
}

TEST_F(ModuleDevice, PositionFollowsThePlayedFrames)
{
    qxMusic *m = nullptr;
    ASSERT_EQ(qxOpenMusicFile((home / "song.mod").c_str(), nullptr, &m), 0);
    ASSERT_EQ(qxStartMusic(m), 0);
    qxDelay(300);
    qxHaltMusic(m, true);
    // The follower stands where a direct render of the received frames does.
    size_t frames = readFile(home / "out.raw").size() / 4;
    std::vector<uint64_t> mem((qxModSetup(nullptr, module.data(), uint32_t(module.size()), 48000) + 7) / 8);
    auto *p = reinterpret_cast<qxModPlayer *>(mem.data());
    qxModSetup(p, module.data(), uint32_t(module.size()), 48000);
    qxModMix(p, nullptr, nullptr, 4, uint32_t(frames), 1, 16, 2);
    auto *follower = static_cast<qxModPlayer *>(m->stream);
    EXPECT_EQ(follower->songPosition, p->songPosition);
    EXPECT_EQ(follower->row, p->row);
    qxCloseMusicObject(m);
}

TEST(MusicAttributes, ModuleAndStreamAnswers)
{
    ScratchDir dir;
    ASSERT_TRUE(dir.run("python3 " QX_SOURCE_DIR "/tools/mkmod.py tone song.mod"));
    if (!have("sox")) GTEST_SKIP() << "sox is not installed";
    ASSERT_TRUE(dir.run("sox -n -r 8000 -b 16 -c 2 in.wav synth 0.5 sine 300"));
    qxMusic *module = nullptr, *stream = nullptr;
    ASSERT_EQ(qxOpenMusicFile((dir / "song.mod").c_str(), nullptr, &module), 0);
    ASSERT_EQ(qxOpenMusicFile((dir / "in.wav").c_str(), nullptr, &stream), 0);
    module->header.id = 5;
    stream->header.id = 6;
    qxAddMusicObject(module);
    qxAddMusicObject(stream);
    qxAttributeValue v;
    ASSERT_EQ(qxSoundAttribute(17, {5, nullptr}, &v), 1);
    EXPECT_STREQ(v.text, "Protracker");
    ASSERT_EQ(qxSoundAttribute(20, {5, nullptr}, &v), 1);
    EXPECT_EQ(v.number, 48000);
    ASSERT_EQ(qxSoundAttribute(25, {5, nullptr}, &v), 1);
    EXPECT_EQ(v.number, 0); // modules do not seek
    ASSERT_EQ(qxSoundAttribute(14, {6, nullptr}, &v), 1);
    EXPECT_EQ(v.number, 500);
    ASSERT_EQ(qxSoundAttribute(21, {6, nullptr}, &v), 1);
    EXPECT_EQ(v.number, 3); // STEREO16
    ASSERT_EQ(qxSoundAttribute(28, {6, nullptr}, &v), 1);
    EXPECT_EQ(v.number, 0);
    EXPECT_EQ(qxSoundAttribute(28, {7, nullptr}, &v), 0); // no such music
    EXPECT_EQ(qxSoundAttribute(40, {6, nullptr}, &v), 0); // not ours
    qxFreeMusicObjects(nullptr);
}
