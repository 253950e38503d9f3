// Satellites on a display without a window: the blit block they are
// handed, a walk that survives detaching inside a callback, the host slots
// and input fed back from a plug-in with codes out of range.
#include <gtest/gtest.h>

#include <vector>

#include "display/qx_bgpic.h"
#include "display/qx_displaycmds.h"
#include "display/qx_eventqueue.h"
#include "display/qx_satellite.h"

namespace {

struct Calls {
    std::vector<int> who;
    qxSatelliteBlit blit{};
    qxSatellite *detachInCallback = nullptr;
} calls;

int callback(qxSatellite *s, uint32_t op, void *params, void *user)
{
    calls.who.push_back((int)(intptr_t)user);
    if (op == QX_SATOP_BLIT)
        calls.blit = *static_cast<qxSatelliteBlit *>(params);
    if (calls.detachInCallback == s) {
        calls.detachInCallback = nullptr;
        qxDetachSatellite(s);
    }
    return 0;
}

struct Satellites : ::testing::Test {
    qxDisplay *d = nullptr;
    void SetUp() override
    {
        calls = {};
        qxInitEventQueue();
        ASSERT_EQ(qxInitDisplays(), 0);
        ASSERT_EQ(qxCreateDisplayRecord(nullptr, 3, 0, 0, &d), 0);
    }
    void TearDown() override
    {
        qxFreeSatellites(d);
        qxCurrentDisplay = nullptr;
        qxFreeAllDisplays(nullptr);
        qxFreeBGPicList(nullptr);
        qxFreeEventQueue();
        qxDeleteEventQueueMutex();
    }
};

TEST_F(Satellites, AttachTagsAndBlitBlock)
{
    qxObjectRef ref{3, nullptr};
    qxSatelliteTag tags[] = {{1, 0}, {2, 0}, {3, 7}, {6, 0}, {0, 0}};
    qxSatellite *s = qxAttachSatellite(&ref, callback, (void *)1, tags);
    ASSERT_TRUE(s);
    EXPECT_EQ(tags[0].value, 640u);
    EXPECT_EQ(tags[1].value, 480u);
    EXPECT_EQ(s->options, 7u);
    qxObjectRef missing{99, nullptr};
    EXPECT_EQ(qxAttachSatellite(&missing, callback, nullptr, nullptr), nullptr);
    qxRedrawSatellite(s);
    ASSERT_EQ(calls.who, std::vector<int>{1});
    EXPECT_EQ(calls.blit.kind, 1u);
    EXPECT_EQ(calls.blit.width, 640u);
    EXPECT_EQ(calls.blit.bytesPerRow, 640u * 4);
    EXPECT_EQ(calls.blit.blitHeight, 480);
    // The size change reaches it too.
    ASSERT_EQ(qxResizeSatellite(s, 320, 200, nullptr), 0);
    EXPECT_EQ(d->width, 320);
    qxDetachSatellite(s);
    EXPECT_EQ(d->satellites, nullptr);
}

TEST_F(Satellites, DetachInsideCallbackKeepsTheWalk)
{
    qxObjectRef ref{3, nullptr};
    qxSatellite *a = qxAttachSatellite(&ref, callback, (void *)1, nullptr);
    qxAttachSatellite(&ref, callback, (void *)2, nullptr);
    qxAttachSatellite(&ref, callback, (void *)3, nullptr);
    calls.detachInCallback = a;
    qxRefreshWholeDisplay(d, 0);
    EXPECT_EQ(calls.who, (std::vector<int>{1, 2, 3}));
    calls.who.clear();
    qxRefreshWholeDisplay(d, 0);
    EXPECT_EQ(calls.who, (std::vector<int>{2, 3}));
    // Flag 64 skips them.
    calls.who.clear();
    qxRefreshWholeDisplay(d, 64);
    EXPECT_TRUE(calls.who.empty());
}

TEST_F(Satellites, InputCodesOutOfRangeAreNotStored)
{
    qxObjectRef ref{3, nullptr};
    qxSatellite *s = qxAttachSatellite(&ref, callback, nullptr, nullptr);
    const int32_t keys[][3] = {{65, 1, 0}, {100000, 1, 0}, {-5, 1, 0}, {313, 1, 0}};
    for (auto &k : keys)
        EXPECT_EQ(qxSatelliteInput(s, 5, k, nullptr), 0);
    const int32_t raw[][3] = {{10, 1, 0}, {314, 1, 0}, {-1, 1, 0}};
    for (auto &k : raw)
        EXPECT_EQ(qxSatelliteInput(s, 8, k, nullptr), 0);
    EXPECT_EQ(d->input.keys[65], 1);
    EXPECT_EQ(d->input.keys[313], 1);
    EXPECT_EQ(d->input.keys[QX_RAWKEY_BASE + 10], 1);
    size_t queued = 0;
    for (qxQueuedEvent *e = qxEventQueue; e; e = e->next)
        queued++;
    EXPECT_EQ(queued, 7u); // every call still queues its event
    const int32_t click[3] = {5, 6, 1};
    qxSatelliteInput(s, 1, click, nullptr);
    EXPECT_EQ(d->satelliteMouseX, 5);
    EXPECT_EQ(d->input.leftButton, 1u);
}

TEST_F(Satellites, AttributeAndHandleSlots)
{
    int handle = 0;
    void *saved = d->window;
    d->window = &handle;
    qxSatelliteTag tags[] = {{3, 0}, {5, 0}, {42, 0}, {0, 0}};
    EXPECT_EQ(qxSatelliteDisplayAttrs(&handle, tags), 2);
    EXPECT_EQ(tags[0].value, 640u);
    int other = 0;
    EXPECT_EQ(qxSatelliteDisplayAttrs(&other, tags), -1);
    qxObjectRef ref{3, nullptr};
    EXPECT_EQ(qxDisplayHandle(&ref, nullptr), &handle);
    qxObjectRef found{};
    EXPECT_EQ(qxDisplayHandle(&found, &handle), &handle);
    EXPECT_EQ(found.number, 3u);
    EXPECT_EQ(qxRefreshDisplayOfHandle(&other), 1344);
    d->window = saved;
}

} // namespace
