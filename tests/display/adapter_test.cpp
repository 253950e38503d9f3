// Display adapter installation rules, the main loop handed to an adapter,
// and the flush of video frames queued onto a display.
#include <gtest/gtest.h>

#include <vector>

#include "core/commands/qx_commands.h"
#include "core/plugins/qx_plugins.h"
#include "display/qx_adapter.h"
#include "display/qx_bgpic.h"
#include "display/qx_displaycmds.h"
#include "display/qx_eventqueue.h"
#include "platform/qx_errcodes.h"

namespace {

int loops;
int mainLoop(lua_State *, void (*run)(void *), void *arg, void *, void *)
{
    loops++;
    run(arg);
    return 0;
}

struct Adapters : ::testing::Test {
    qxPluginInfo first{}, second{};
    void SetUp() override
    {
        first.capabilities = second.capabilities = QX_CAP_DISPLAYADAPTER;
        qxSetTag(QX_TAG_STORED, 1);
    }
    void TearDown() override
    {
        qxSetTag(QX_TAG_STORED, 0);
        qxRemoveDisplayAdapter();
    }
};

TEST_F(Adapters, InstallationCodes)
{
    qxPluginInfo plain{};
    EXPECT_EQ(qxInstallDisplayAdapter(&plain, 0, nullptr), ERR_WRONGUSAGE);
    qxSetTag(QX_TAG_STORED, 0);
    EXPECT_EQ(qxInstallDisplayAdapter(&first, 0, nullptr), ERR_SETADAPTER);
    EXPECT_EQ(qxDisplayAdapter, nullptr);
    qxSetTag(QX_TAG_STORED, 1);

    const qxHostTag unknownFormat[] = {{1, 99}, {0, 0}};
    EXPECT_EQ(qxInstallDisplayAdapter(&first, 0, unknownFormat), ERR_WRONGUSAGE);
    EXPECT_EQ(qxDisplayAdapter, nullptr);
    // A non-exclusive adapter is replaced silently; tags set the pixel
    // format of the bitmap layer and the drawing flags.
    const qxHostTag tags[] = {{1, 12}, {2, 8 | 32}, {3, 99}, {0, 0}};
    ASSERT_EQ(qxInstallDisplayAdapter(&first, 0x80, tags), 0);
    EXPECT_EQ(qxAdapterInfo.pixelFormat, 12u);
    EXPECT_EQ(qxAdapterInfo.drawFlags, 40u);
    qxBitMap *bm = qxAllocBitMap(4, 4, 0, nullptr);
    ASSERT_NE(bm, nullptr);
    EXPECT_EQ(qxGetBitMapAttr(bm, 21), 12u) << "the whole bitmap layer takes the format";
    qxFreeBitMap(bm);
    ASSERT_EQ(qxInstallDisplayAdapter(&second, QX_ADAPTER_EXCLUSIVE, nullptr), 0);
    EXPECT_EQ(qxDisplayAdapter, &second);
    EXPECT_EQ(qxAdapterInfo.pixelFormat, 10u) << "the default format";
    EXPECT_EQ(qxInstallDisplayAdapter(&first, 0, nullptr), ERR_SETADAPTER);
    EXPECT_EQ(qxDisplayAdapter, &second);
}

TEST_F(Adapters, OpenWindowsKeepTheirOwner)
{
    qxInitEventQueue();
    ASSERT_EQ(qxInitDisplays(), 0);
    qxDisplay *d = nullptr;
    ASSERT_EQ(qxCreateDisplayRecord(nullptr, 5, 0, 0, &d), 0);
    ASSERT_NE(d->window, nullptr) << "the X11 record";
    d->state = QX_DISPSTATE_OPEN;
    EXPECT_EQ(qxInstallDisplayAdapter(&first, 0, nullptr), ERR_SETADAPTER);
    d->state = QX_DISPSTATE_CLOSED;
    ASSERT_EQ(qxInstallDisplayAdapter(&first, 0, nullptr), 0);
    EXPECT_EQ(d->window, nullptr) << "a closed display's X11 record goes";
    d->state = QX_DISPSTATE_OPEN;
    EXPECT_EQ(qxInstallDisplayAdapter(&first, 0x80, nullptr), 0) << "the owner may change its flags";
    EXPECT_EQ(qxInstallDisplayAdapter(&second, 0, nullptr), ERR_SETADAPTER);
    d->state = QX_DISPSTATE_CLOSED;
    qxFreeAllDisplays(nullptr);
    qxFreeBGPicList(nullptr);
    qxFreeEventQueue();
    qxDeleteEventQueueMutex();
}

TEST_F(Adapters, MainChunkRunsInsideTheAdaptersLoop)
{
    static int direct;
    auto run = [](void *) {};
    auto ownPath = [](lua_State *) { return ++direct, 5; };
    direct = loops = 0;
    EXPECT_EQ(qxRunMainLoop(nullptr, run, nullptr, ownPath), 5) << "no adapter: the protected call";
    ASSERT_EQ(qxInstallDisplayAdapter(&first, 0, nullptr), 0);
    EXPECT_EQ(qxRunMainLoop(nullptr, run, nullptr, ownPath), 5) << "an adapter without a main loop";
    first.entry[QX_EP_AdapterMainLoop] = reinterpret_cast<void *>(mainLoop);
    EXPECT_EQ(qxRunMainLoop(nullptr, run, nullptr, ownPath), 0);
    EXPECT_EQ(loops, 1);
    EXPECT_EQ(direct, 2);
    first.abiKind = 2; // the other calling convention is not run here
    EXPECT_EQ(qxRunMainLoop(nullptr, run, nullptr, ownPath), 5);
}

std::vector<uint32_t> videoTags;
uint32_t videoFlags;
void *recordVideoBitMap(uint32_t, uint32_t, uint32_t flags, const qxBitMapTag *tags)
{
    videoFlags = flags;
    videoTags.clear();
    for (; tags->tag; tags++)
        videoTags.push_back(tags->tag);
    return &videoFlags;
}

TEST_F(Adapters, VideoBitMapTagLists)
{
    first.entry[QX_EP_AllocVideoBitMap] = reinterpret_cast<void *>(recordVideoBitMap);
    ASSERT_EQ(qxInstallDisplayAdapter(&first, QX_ADAPTER_VIDEOBITMAPS, nullptr), 0);
    uint32_t argb[4] = {};
    const double transform[4] = {1, 0, 0, 1};
    qxVideoBitMapSource src{argb, nullptr, nullptr, nullptr, argb, 2, 1, 2, 3, transform};
    uint32_t hasMask = 9;
    qxBitMap *video = qxAdapterAllocVideoBitMap(2, 2, 0, &hasMask, &src);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->video, 1u);
    qxFreeBitMap(video);
    EXPECT_EQ(videoTags, (std::vector<uint32_t>{6, 1, 2, 3, 5, 4}));
    EXPECT_EQ(hasMask, 0u);

    // A bitmap of ours with a mask goes as an ARGB copy, flag 1.
    qxBitMap *bm = qxAllocBitMap(2, 2, 0, nullptr);
    qxBitMap *mask = qxAllocMaskBitMap(bm, 2, 2, 1, nullptr, 0);
    qxVideoBitMapSource copied{nullptr, bm, mask, nullptr, nullptr, 1, 1, 2, 3, nullptr};
    video = qxAdapterAllocVideoBitMap(2, 2, 0, &hasMask, &copied);
    ASSERT_NE(video, nullptr);
    qxFreeBitMap(video);
    EXPECT_EQ(videoTags, (std::vector<uint32_t>{1, 2, 3, 4}));
    EXPECT_EQ(videoFlags, 1u | QX_BITMAP_VIDEO);
    EXPECT_EQ(hasMask, 1u);
    qxFreeMaskBitMap(mask);
    qxFreeBitMap(bm);
}

// Frames queued by video threads: a failing layer rebuild stops the run,
// and every node behind it is freed with its bitmap (the leak checker of
// the sanitizer build sees the rest).
int rebuilds;
int failSecond(qxDisplay *, void *, uint32_t *) { return ++rebuilds == 2 ? ERR_BITMAP : 0; }

TEST(PendingUpdates, ErrorFreesTheRestOfTheQueue)
{
    qxInitEventQueue();
    ASSERT_EQ(qxInitDisplays(), 0);
    qxDisplay *d = nullptr;
    ASSERT_EQ(qxCreateDisplayRecord(nullptr, 4, 0, 0, &d), 0);
    ASSERT_NE(d->pendingMutex, nullptr);
    static uint32_t transform[1] = {1};
    for (int i = 0; i < 4; i++) {
        auto *n = static_cast<qxPendingUpdate *>(std::calloc(1, sizeof(qxPendingUpdate)));
        n->bitmap = qxAllocBitMap(8, 8, 0, nullptr);
        n->layerTransform = transform;
        qxQueueDisplayUpdate(d, n);
    }
    qxDisplayVideo.rebuildLayer = failSecond;
    rebuilds = 0;
    EXPECT_EQ(qxFlushPendingDisplayUpdates(), ERR_BITMAP);
    EXPECT_EQ(rebuilds, 2);
    EXPECT_EQ(d->pendingUpdates, nullptr);
    EXPECT_EQ(qxFlushPendingDisplayUpdates(), 0) << "nothing left to run";
    qxDisplayVideo = {};

    // Left-over frames go with the display.
    auto *n = static_cast<qxPendingUpdate *>(std::calloc(1, sizeof(qxPendingUpdate)));
    n->bitmap = qxAllocBitMap(8, 8, 0, nullptr);
    qxQueueDisplayUpdate(d, n);
    qxFreeAllDisplays(nullptr);
    qxFreeBGPicList(nullptr);
    qxFreeEventQueue();
    qxDeleteEventQueueMutex();
}

} // namespace
