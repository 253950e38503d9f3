// The video player's threads: a clip plays to its end and reports it once,
// pause and resume return within their bound and hold the clock, a pause
// on a player that has already ended does not hang and leaves it ended, a
// seek after the end plays on, a slow output drops pictures but keeps the
// clock, a seek while playing jumps, and the mask of the areas videos cover
// holds their clipped rectangles.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "core/commands/qx_commands.h"
#include "media/qx_medialibs.h"
#include "media/qx_sound.h"
#include "display/qx_bitmap.h"
#include "media/qx_video.h"
#include "media/qx_videoobject.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_libimports.h"
#include "platform/qx_threadevents.h"
#include "soundtest.h"

namespace {

// Each test writes its own file: CTest runs the tests side by side.
std::string makeClip(const char *args)
{
    std::string path = ::testing::TempDir() + "video_test_" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".cdxl";
    std::string cmd = std::string("python3 " QX_SOURCE_DIR "/tools/animgen/make_cdxl.py ") + path + " " + args;
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    return path;
}

// Called on the player thread after it has marked the video ended.
std::atomic<int> endedCalls;
void onEnd(qxVideo *) { endedCalls++; }

// With a player whose end was seen: its report is whole once the end lock is free.
int drainEndEvents(qxVideo *v = nullptr)
{
    if (v) std::lock_guard reported(v->endMutex);
    int n = 0;
    uint32_t type, a1, a2;
    qxObjectRef id;
    while (qxPopThreadEvent(&type, &id, &a1, &a2))
        if (type == QX_THREADEVENT_VIDEO_END && id.number == 7) n++;
    return n;
}

// Whether the script has an OnVideoEnd handler, told as InstallEventHandler does.
void videoEndHandler(uint32_t on)
{
    qxTagItem tag{QX_TAG_ONVIDEOEND, on};
    ASSERT_EQ(qxSoundAttrSetter(&tag), 1);
}

using Clock = std::chrono::steady_clock;

// An object whose player ends as the video library's own would mark it.
qxVideoObject endedObject;
void endObject(qxVideo *) { endedObject.state = 4; }

TEST(VideoPlayer, PlaysToItsEndOncePauseHoldsTheClock)
{
    ASSERT_EQ(qxCreateThreadEventQueue(), 0);
    videoEndHandler(1);
    drainEndEvents();
    // 32x16, 5 planes, 40 frames: chunks of 416 bytes, about 369 frames a second.
    std::string clip = makeClip("32 16 5 40 0 0 0 9");
    qxVideo *v = nullptr;
    ASSERT_EQ(qxVideoOpen(clip.c_str(), "", &v), 0);
    EXPECT_EQ(v->frames, 40u);
    qxVideoClose(v);
    EXPECT_EQ(qxVideoOpen(clip.c_str(), "native", &v), ERR_LOADVIDEO);
    ASSERT_EQ(qxVideoOpen(clip.c_str(), "plugin|inbuilt", &v), 0);
    v->owner = {7, nullptr};
    v->onEnd = onEnd;
    endedCalls = 0;
    ASSERT_EQ(qxVideoStart(v), 0);
    auto t0 = Clock::now();
    qxVideoPause(v);
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(2500));
    uint32_t held = v->shown.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // longer than the clip
    EXPECT_EQ(v->shown.load(), held);
    EXPECT_EQ(v->ended.load(), 0);
    qxVideoResume(v);
    for (int i = 0; i < 300 && !v->ended.load(); i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(v->ended.load(), 1);
    EXPECT_EQ(v->shown.load() + v->dropped.load(), 40u);
    EXPECT_GT(v->shown.load(), 0u);
    for (int i = 0; i < 300 && !endedCalls.load(); i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(endedCalls.load(), 1);
    EXPECT_EQ(drainEndEvents(v), 1);
    // The thread has ended: pause and resume must not wait for it.
    t0 = Clock::now();
    EXPECT_EQ(qxVideoPause(v), 1);
    EXPECT_EQ(v->pauseReq.load(), 0);
    qxVideoResume(v);
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(100));
    // PauseVideo from a script that saw the video playing just before the
    // end: it stays ended rather than paused, so no resume plays it for ever.
    endedObject.player = v;
    endedObject.state = 1;
    EXPECT_EQ(qxPauseVideo(&endedObject), ERR_VIDNOTPLAYING);
    EXPECT_EQ(endedObject.state.load(), 4u);
    EXPECT_EQ(qxResumeVideo(&endedObject), ERR_VIDNOTPAUSED);
    // A seek in the same moment plays on to a second end.
    endedObject.state = 1;
    endedObject.seekable = 1;
    endedObject.frames = 40;
    v->onEnd = endObject;
    ASSERT_EQ(qxSeekVideo(&endedObject, 0), 0);
    EXPECT_EQ(endedObject.state.load(), 1u);
    for (int i = 0; i < 300 && endedObject.state.load() != 4; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(endedObject.state.load(), 4u);
    EXPECT_EQ(drainEndEvents(v), 1);
    // The player tells the seek that it plays again after its end; with
    // no handler installed that end posts nothing.
    videoEndHandler(0);
    EXPECT_EQ(qxVideoSeekPlaying(v, 0), 1);
    EXPECT_EQ(qxVideoSeekPlaying(v, 30), 0);
    for (int i = 0; i < 300 && !v->ended.load(); i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(v->ended.load(), 1);
    EXPECT_EQ(drainEndEvents(v), 0);
    videoEndHandler(1);
    qxVideoStop(v);
    EXPECT_EQ(v->position, 40u); // a stop after the end leaves the player at the end
    // Decoding a frame behind the position rewinds.
    EXPECT_EQ(qxVideoDecodeFrame(v, 3, 0, 0), 0);
    EXPECT_EQ(v->position, 4u);
    EXPECT_EQ(qxVideoDecodeFrame(v, 39, 0, 0), 0);
    EXPECT_EQ(qxVideoDecodeFrame(v, 40, 0, 0), 1);
    qxVideoClose(v);
}

// 2 s of pictures at 25 a second through an output that needs 150 ms each.
std::atomic<int> presented;
void slowPresent(qxVideo *, const qxVideoPicture *)
{
    presented++;
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
}

TEST(VideoPlayer, SlowOutputDropsPicturesButKeepsTheClockAndSeeksJump)
{
    ASSERT_EQ(qxCreateThreadEventQueue(), 0);
    videoEndHandler(1);
    // 6144-byte chunks: 153600 / 6144 = 25 frames a second.
    std::string clip = makeClip("32 16 5 50 0 6144 0 3");
    qxVideo *v = nullptr;
    ASSERT_EQ(qxVideoOpen(clip.c_str(), "", &v), 0);
    EXPECT_DOUBLE_EQ(v->fps, 25.0);
    v->owner = {7, nullptr};
    v->present = slowPresent;
    presented = 0;
    auto t0 = Clock::now();
    ASSERT_EQ(qxVideoStart(v), 0);
    for (int i = 0; i < 600 && !v->ended.load(); i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    double took = std::chrono::duration<double>(Clock::now() - t0).count();
    ASSERT_EQ(v->ended.load(), 1);
    EXPECT_GT(took, 1.8);
    EXPECT_LT(took, 5.0); // showing all 50 would take 7.5 s: the late ones were dropped
    EXPECT_GT(v->dropped.load(), 10u);
    EXPECT_GE(presented.load(), 2); // at least a picture a second
    EXPECT_EQ(v->shown.load() + v->dropped.load(), 50u);
    EXPECT_EQ(drainEndEvents(v), 1);
    qxVideoStop(v);
    qxVideoRewind(v);

    // A seek to frame 40 while playing: the end comes after 10 more frames.
    v->present = nullptr;
    ASSERT_EQ(qxVideoStart(v), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    t0 = Clock::now();
    qxVideoSeekPlaying(v, 40);
    for (int i = 0; i < 300 && !v->ended.load(); i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    took = std::chrono::duration<double>(Clock::now() - t0).count();
    EXPECT_EQ(v->ended.load(), 1);
    EXPECT_LT(took, 1.2);
    EXPECT_EQ(v->shownFrame, 49u);
    EXPECT_EQ(drainEndEvents(v), 1);
    qxVideoClose(v);
}

// An output that hangs: pause and seek still return within their bound.
std::atomic<int> stalls;
void stalledPresent(qxVideo *, const qxVideoPicture *)
{
    stalls++;
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
}

TEST(VideoPlayer, PauseAndSeekAreBoundedWhenAThreadStalls)
{
    std::string clip = makeClip("32 16 5 50 0 6144 0 3");
    qxVideo *v = nullptr;
    ASSERT_EQ(qxVideoOpen(clip.c_str(), "", &v), 0);
    v->present = stalledPresent;
    stalls = 0;
    ASSERT_EQ(qxVideoStart(v), 0);
    for (int i = 0; i < 300 && !stalls.load(); i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    auto t0 = Clock::now();
    qxVideoPause(v);
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(2500));
    qxVideoResume(v);
    t0 = Clock::now();
    qxVideoSeekPlaying(v, 10);
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(2500));
    qxVideoClose(v);
    drainEndEvents();
}

// The audio server feeds the clip's sound, in order and whole, to the
// video channel's PCM (ALSA's file device), and the clip still ends once.
TEST(VideoPlayer, SoundReachesThePcmInOrder)
{
    soundtest::ScratchDir home;
    std::string rc = "pcm.!default { type file; slave.pcm \"null\"; file \"" + home.path +
                     "/out.raw\"; format \"raw\" }\n";
    soundtest::writeFile(home / ".asoundrc", std::vector<uint8_t>(rc.begin(), rc.end()));
    setenv("HOME", home.path.c_str(), 1);
    qxImportLibraries();
    if (!qxAlsaAvailable()) GTEST_SKIP() << "libasound is not installed";
    ASSERT_EQ(qxCreateAudioLocks(), 0);
    ASSERT_EQ(qxOpenAudioDevice(2), 0);
    ASSERT_EQ(qxCreateThreadEventQueue(), 0);
    videoEndHandler(1);
    drainEndEvents();
    // 25 frames a second with 256 sound bytes each: 6400 Hz.
    std::string clip = makeClip("32 16 5 25 256 6144 0 5");
    qxVideo *v = nullptr;
    ASSERT_EQ(qxVideoOpen(clip.c_str(), "", &v), 0);
    v->owner = {7, nullptr};
    v->soundWanted = 1;
    v->channelIndex = -1;
    v->volume = 64;
    ASSERT_EQ(qxVideoStart(v), 0);
    EXPECT_TRUE(v->soundOn);
    // While paused the clock stands and the PCM gets only silence; the
    // sound still buffered follows after the resume.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(qxVideoPause(v), 0);
    const double clock = qxVideoClock(v);
    qxAlsaLock(); // the file device writes behind: count what the PCM took
    const size_t heard = size_t(v->fifo.channel->framesWritten) * 2;
    qxAlsaUnlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(qxVideoClock(v), clock);
    std::vector<uint8_t> paused = soundtest::readFile(home / "out.raw");
    EXPECT_GT(paused.size(), heard);
    EXPECT_TRUE(std::all_of(paused.begin() + std::min(heard, paused.size()), paused.end(),
                            [](uint8_t b) { return b == 0; }));
    qxVideoResume(v);
    for (int i = 0; i < 500 && !v->ended.load(); i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(v->ended.load(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // what the PCM holds plays out
    qxVideoClose(v);
    qxCloseAudioDevice();
    qxAlsaReleaseConfig();
    EXPECT_EQ(drainEndEvents(), 1);
    std::vector<uint8_t> sound = soundtest::readFile(clip + ".sound"), want;
    for (uint8_t b : sound) want.insert(want.end(), {0, b}); // s8 x 256, little-endian
    std::vector<uint8_t> got = soundtest::readFile(home / "out.raw");
    ASSERT_GE(got.size(), want.size());
    // The silence of the pause aside, the sound arrives whole and in order.
    auto sounding = [](const std::vector<uint8_t> &bytes) {
        std::vector<uint16_t> out;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            if (uint16_t s = uint16_t(bytes[i] | bytes[i + 1] << 8)) out.push_back(s);
        return out;
    };
    EXPECT_EQ(sounding(got), sounding(want));
}

} // namespace

TEST(VideoOutput, AreaMaskHoldsTheClippedRectanglesOfAllVideos)
{
    // One video hangs off the top left corner, one off the right edge and
    // overlaps the first; one lies wholly outside.
    qxVideo a{}, b{}, c{};
    a.width = 10, a.height = 6, a.x = -3, a.y = -2;
    b.width = 4, b.height = 4, b.outWidth = 8, b.outHeight = 3, b.x = 5, b.y = 1;
    c.width = 4, c.height = 4, c.x = 20, c.y = 0;
    const qxVideo *all[] = {&a, &b, &c};
    EXPECT_EQ(qxVideoRectsMask(nullptr, 9, 7, all + 2, 1, nullptr), nullptr);
    qxBitMap *mask = qxVideoRectsMask(nullptr, 9, 7, all, 3, nullptr);
    ASSERT_NE(mask, nullptr);
    auto *p = static_cast<qxBitMapPlane *>(mask->data);
    for (int y = 0; y < 7; y++)
        for (int x = 0; x < 9; x++) {
            const bool set = p->pixels[y * p->bytesPerRow + x / 8] & (0x80 >> (x % 8));
            EXPECT_EQ(set, (x < 7 && y < 4) || (x >= 5 && y >= 1 && y < 4)) << x << "," << y;
        }
    qxFreeMaskBitMap(mask);
}
