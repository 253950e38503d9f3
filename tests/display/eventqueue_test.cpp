// The runtime event queue and the host event function: voiding of older
// size events, scaled displays, expiry on the monotonic clock, concurrent
// posting, and hostile host event records.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/errors/qx_errors.h"
#include "display/qx_display.h"
#include "display/qx_eventqueue.h"
#include "platform/x11/x11_display.h"

namespace {

class Queue : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qxInitEventQueue(), 0);
        ASSERT_EQ(qxInitDisplayList(), 0);
        qxEventTimeout = 60000;
        x11QuitCtrlC = 0;
        display = qxNewDisplayRecord(1);
        display->window = &handle; // stands in for an adapter's handle
        qxAppendDisplay(display);
    }
    void TearDown() override
    {
        qxFreeEventQueue();
        qxDeleteEventQueueMutex();
        qxDisplays = nullptr;
        std::free(display);
        qxQuitRequested = 0;
    }
    std::vector<uint32_t> types()
    {
        std::vector<uint32_t> out;
        for (qxQueuedEvent *n = qxEventQueue; n; n = n->next)
            out.push_back(n->type);
        return out;
    }
    int host(uint32_t code, uint32_t a = 0, uint32_t b = 0, uint32_t c = 0, uint32_t d = 0)
    {
        qxHostEventArgs args{};
        args.handle = (uint64_t)(uintptr_t)&handle;
        args.a = a;
        args.b = b;
        args.v.c = c;
        args.v.d = d;
        return qxHostEvent(code, &args);
    }
    int handle = 0;
    qxDisplay *display = nullptr;
};

TEST_F(Queue, OnlyNewestSizeEventOfADisplaySurvives)
{
    qxDisplay *other = qxNewDisplayRecord(2);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(qxPostEvent(display, 5, 0, 0, 0, nullptr), 1);
    EXPECT_EQ(qxPostEvent(other, 5, 0, 0, 0, nullptr), 1);
    EXPECT_EQ(types(), (std::vector<uint32_t>{0, 0, 5, 5}));
    // A display that scales its contents without system scaling gets none.
    display->autoScale = 1;
    EXPECT_EQ(qxPostEvent(display, 5, 0, 0, 0, nullptr), 0);
    display->systemScale = 1;
    EXPECT_EQ(qxPostEvent(display, 5, 0, 0, 0, nullptr), 1);
    qxForgetEventsOf(other);
    EXPECT_EQ(qxEventQueue->next->next->next->display, nullptr);
    std::free(other);
}

TEST_F(Queue, PeekCopiesByTypeAndTakesPayload)
{
    char *text = static_cast<char *>(std::malloc(4));
    qxPostEvent(display, 3, 1, 7, 97, nullptr);
    qxPostEvent(display, 14, 10, 20, 0, text);
    qxEventCopy copy;
    ASSERT_EQ(qxLockEventQueue(), 0);
    EXPECT_EQ(qxPeekEvent(nullptr, 0, &copy, 0), 1u);
    EXPECT_EQ(copy.pressed, 1u);
    EXPECT_EQ(copy.qualifiers, 7u);
    EXPECT_EQ(copy.key, 97u);
    EXPECT_EQ(qxPeekEvent(nullptr, 1, &copy, 1), 2u);
    EXPECT_EQ(copy.param1, 10u);
    EXPECT_EQ(copy.payload, text);
    EXPECT_EQ(qxPeekEvent(nullptr, 2, &copy, 0), 0u);
    qxUnlockEventQueue();
    std::free(text); // taken: the flush must not free it again
    qxFlushEvents(nullptr, 0xFFFFFFFFu, 1);
    EXPECT_EQ(qxEventQueue, nullptr);
}

TEST_F(Queue, ExpiryFollowsTheMonotonicClock)
{
    qxPostEvent(display, 1, 0, 0, 1, nullptr);
    qxEventTimeout = QX_EVENT_TIMEOUT_NEVER;
    qxEventQueueClockSkew(1000000);
    qxExpireEvents(nullptr);
    EXPECT_EQ(types().size(), 1u);
    // A step of the wall clock does not age events; the time-out does.
    qxEventTimeout = 60000;
    qxPostEvent(display, 2, 0, 0, 1, nullptr);
    qxExpireEvents(nullptr);
    EXPECT_EQ(types(), (std::vector<uint32_t>{2}));
    qxEventTimeout = 0;
    qxEventQueueClockSkew(5);
    qxExpireEvents(nullptr);
    EXPECT_TRUE(types().empty());
}

TEST_F(Queue, EightThreadsPostWithoutLoss)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; t++)
        threads.emplace_back([this, t] {
            for (int i = 0; i < 500; i++)
                qxPostEvent(display, 28, 0, 0, (uint32_t)(t * 1000 + i), nullptr);
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(types().size(), 4000u);
}

TEST_F(Queue, HostEventCodes)
{
    EXPECT_EQ(host(3, 5, 6, 1, 1), 0);
    EXPECT_EQ(display->input.leftButton, 1u);
    EXPECT_EQ(host(4, 97, 1, 0), 0);
    EXPECT_EQ(display->input.keys[97], 1);
    EXPECT_EQ(host(7, 40, 50), 0);
    EXPECT_EQ(display->x, 40);
    EXPECT_EQ(host(13, 0, 1), 0);
    EXPECT_EQ(host(9, 1), 0);
    EXPECT_EQ(types(), (std::vector<uint32_t>{1, 3, 4, 11, 8}));
    // Raw codes past the key-state block are posted but not stored.
    uint8_t guard = display->input.keys[QX_KEYSTATE_SIZE - 1];
    EXPECT_EQ(host(12, 0xFFFFFFF0u, 1), 0);
    EXPECT_EQ(host(12, 313, 1), 0);
    EXPECT_EQ(display->input.keys[QX_KEYSTATE_SIZE - 1], 1);
    EXPECT_NE(guard, 1);
    EXPECT_EQ(host(0), 0);
    EXPECT_EQ(qxQuitRequested, 1u);
}

TEST_F(Queue, HostQuitKeysAndAltReturn)
{
    display->state = QX_DISPSTATE_OPEN;
    EXPECT_EQ(host(4, 308, 1), 0); // LALT held
    EXPECT_EQ(host(4, 274, 1), 0);
    EXPECT_EQ(types(), (std::vector<uint32_t>{3, 3, 13}));
    display->flags |= QX_DISP_NOMODESWITCH;
    EXPECT_EQ(host(4, 274, 1), 0);
    EXPECT_EQ(types().back(), 3u);
    EXPECT_EQ(host(4, 312, 1), 0); // LCONTROL
    EXPECT_EQ(host(4, 'C', 1), 0);
    EXPECT_EQ(qxQuitRequested, 0u); // Ctrl-C quit is off
    x11QuitCtrlC = 1;
    EXPECT_EQ(host(4, 'c', 1), 0);
    EXPECT_EQ(qxQuitRequested, 1u);
    EXPECT_EQ(types().back(), 23u);
}

TEST_F(Queue, HostEventRejectsUnknownHandlesAndCodes)
{
    qxHostEventArgs args{};
    args.handle = 12345;
    EXPECT_EQ(qxHostEvent(3, &args), ERR_FINDDISPLAY);
    EXPECT_EQ(qxHostEvent(3, nullptr), ERR_ADDSYSEVENT);
    EXPECT_EQ(host(20), ERR_ADDSYSEVENT);
    EXPECT_EQ(host(1), ERR_ADDSYSEVENT); // no function record
    EXPECT_TRUE(types().empty());
}

TEST_F(Queue, FindDisplayReportsTheMissingNumber)
{
    qxDisplay *found = nullptr;
    EXPECT_EQ(qxFindDisplay({1, nullptr}, &found), 0);
    EXPECT_EQ(found, display);
    EXPECT_EQ(qxFindDisplay({9, nullptr}, &found), ERR_FINDDISPLAY);
    int dummy;
    EXPECT_EQ(qxFindDisplay({0, &dummy}, &found), ERR_FINDARRAY);
    qxCurrentDisplay = display;
    EXPECT_EQ(qxFreeDisplay(nullptr, display), ERR_FREEADISPLAY);
    qxCurrentDisplay = nullptr;
}

} // namespace
