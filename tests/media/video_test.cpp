// The video player's thread: a clip plays to its end and reports it once,
// pause and resume return within their bound and hold the clock, and a
// pause on a thread that has already ended does not hang.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "media/qx_video.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_threadevents.h"

namespace {

std::string makeClip(const char *args)
{
    std::string path = ::testing::TempDir() + "video_test.cdxl";
    std::string cmd = std::string("python3 " QX_SOURCE_DIR "/tools/animgen/make_cdxl.py ") + path + " " + args;
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    return path;
}

// Called on the player thread after it has marked the video ended.
std::atomic<int> endedCalls;
void onEnd(qxVideo *) { endedCalls++; }

int drainEndEvents()
{
    int n = 0;
    uint32_t type, a1, a2;
    qxObjectRef id;
    while (qxPopThreadEvent(&type, &id, &a1, &a2))
        if (type == QX_THREADEVENT_VIDEO_END && id.number == 7) n++;
    return n;
}

using Clock = std::chrono::steady_clock;

TEST(VideoPlayer, PlaysToItsEndOncePauseHoldsTheClock)
{
    ASSERT_EQ(qxCreateThreadEventQueue(), 0);
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
    EXPECT_EQ(v->shown.load(), 40u);
    for (int i = 0; i < 300 && !endedCalls.load(); i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(endedCalls.load(), 1);
    EXPECT_EQ(drainEndEvents(), 1);
    // The thread has ended: pause and resume must not wait for it.
    t0 = Clock::now();
    qxVideoPause(v);
    qxVideoResume(v);
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(100));
    qxVideoStop(v);
    // Decoding a frame behind the position rewinds.
    EXPECT_EQ(qxVideoDecodeFrame(v, 3), 0);
    EXPECT_EQ(v->position, 4u);
    EXPECT_EQ(qxVideoDecodeFrame(v, 39), 0);
    EXPECT_EQ(qxVideoDecodeFrame(v, 40), 1);
    qxVideoClose(v);
}

} // namespace
