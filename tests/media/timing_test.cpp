// Wall-clock timing of the native output on a paced file PCM (the test
// plug-in tools/alsa-pace takes frames at the PCM's rate): loop notices
// arrive when their pass becomes audible, the end notice after the last.
#include <cstdlib>

#include "media/qx_soundcmds.h"
#include "platform/qx_libimports.h"
#include "platform/qx_memory.h"
#include "platform/qx_threadevents.h"
#include "soundtest.h"

using namespace soundtest;

TEST(PacedOutput, LoopNoticesAtTheAudibleStartOfEachPass)
{
    const char *build = std::getenv("QX_BUILD_DIR");
    std::string plugin = std::string(build ? build : ".") + "/tools/libasound_module_pcm_qxpace.so";
    if (access(plugin.c_str(), R_OK) != 0) GTEST_SKIP() << "the pacing plug-in is not built";
    ScratchDir home;
    std::string rc = "pcm_type.qxpace { lib \"" + plugin + "\" }\n"
                     "pcm.!default { type file; slave.pcm { type qxpace }; file \"" + home.path +
                     "/out.raw\"; format \"raw\" }\n";
    writeFile(home / ".asoundrc", std::vector<uint8_t>(rc.begin(), rc.end()));
    setenv("HOME", home.path.c_str(), 1);
    qxImportLibraries();
    if (!qxAlsaAvailable()) GTEST_SKIP() << "libasound is not installed";
    ASSERT_EQ(qxCreateAudioLocks(), 0);
    ASSERT_EQ(qxOpenAudioDevice(2), 0);
    listenFor(QX_TAG_ONSAMPLELOOP);
    listenFor(QX_TAG_ONSAMPLEEND);
    uint32_t type, a1, a2;
    qxObjectRef id;
    while (qxPopThreadEvent(&type, &id, &a1, &a2)) {} // what earlier tests left

    auto *data = static_cast<uint8_t *>(qxAlloc(1600 * 2, 1));
    qxSound *s = nullptr;
    ASSERT_EQ(qxSoundFromRaw(data, 1600, 8000, QX_SMP_S16MONO, &s), 0); // 200 ms
    int index = -1;
    qxChannel *c = nullptr;
    ASSERT_EQ(qxAllocChannel(QX_CH_PREPARED, {1, nullptr}, &index, &c), 0);
    c->sound = s;
    c->volume = 64;
    c->startPending = 1;
    qxSetupPasses(c, 1600, 8000, 3, -1);
    ASSERT_EQ(qxAlsaOpenChannel(c, "default", 16, 1, QX_SOUND_SIGNED, 8000), 0);
    double start = qxGetSeconds();
    qxStartPrepared();
    std::vector<std::pair<uint32_t, double>> events;
    while (events.size() < 4 && qxGetSeconds() - start < 3) {
        while (qxPopThreadEvent(&type, &id, &a1, &a2)) events.push_back({type, (qxGetSeconds() - start) * 1000});
        qxDelay(1);
    }
    ASSERT_EQ(events.size(), 4u);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(events[size_t(i)].first, QX_THREADEVENT_SAMPLE_LOOP);
        EXPECT_NEAR(events[size_t(i)].second, 200.0 * i, 40.0) << "pass " << i + 1;
    }
    EXPECT_EQ(events[3].first, QX_THREADEVENT_SAMPLE_END);
    EXPECT_NEAR(events[3].second, 600.0, 60.0);
    qxCloseAudioDevice();
    qxAlsaReleaseConfig();
    qxFreeSound(s);
    EXPECT_EQ(readFile(home / "out.raw").size(), 3u * 1600 * 2);
}
