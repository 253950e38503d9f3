// POSIX timers, the wake-up pipe, the cross-thread event queue and the
// timer message thread. Times are checked with generous tolerances.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/qx_systimers.h"
#include "platform/qx_threadevents.h"
#include "platform/qx_timerthread.h"
#include "platform/qx_upcalls.h"
#include "platform/qx_wakepipe.h"

namespace {

using Clock = std::chrono::steady_clock;

long msSince(Clock::time_point start)
{
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

qxObjectRef ref(uint32_t n) { return qxObjectRef{n, nullptr}; }

// A fresh pipe, timers and queue for each test; upcalls restored after.
class Timers : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved = qxUpcalls;
        ASSERT_EQ(qxInitSysTimers(), 0);
        ASSERT_EQ(qxCreateThreadEventQueue(), 0);
        ASSERT_EQ(qxCreateWakePipe(), 1);
    }
    void TearDown() override
    {
        qxStopTimerThread();
        qxFreeAllSysTimers();
        qxUpcalls = saved;
        close(qxWakePipeRead), close(qxWakePipeWrite);
        qxWakePipeRead = qxWakePipeWrite = -1;
    }
    // Drains the pipe, handing timer messages on; returns the message count.
    int drain(int *timerMessages = nullptr)
    {
        int n = 0;
        qxWakeMessage m;
        while (qxReadWakeMessage(&m)) {
            n++;
            if (m.type == QX_WAKE_TIMER && timerMessages)
                ++*timerMessages;
            qxHandleTimerMessage(m.type, m.data);
        }
        return n;
    }
    // Walks the list once, collecting the fired timers.
    std::vector<std::pair<uint32_t, uint32_t>> collect()
    {
        std::vector<std::pair<uint32_t, uint32_t>> fired;
        qxSysTimer *node = nullptr;
        do {
            uint32_t kind;
            qxObjectRef id{};
            node = qxCollectFiredTimer(node, &kind, &id);
            if (kind != QX_SYSTIMER_NONE)
                fired.push_back({kind, id.number});
        } while (node);
        return fired;
    }
    qxPlatformUpcalls saved;
};

} // namespace

TEST_F(Timers, IntervalExpiryArrivesThroughThePipe)
{
    auto start = Clock::now();
    ASSERT_EQ(qxTimerControl(QX_TIMER_NEW_INTERVAL, ref(7), 30), 0);
    qxSysTimer *node = qxFindSysTimer(QX_SYSTIMER_INTERVAL, ref(7), nullptr);
    ASSERT_NE(node, nullptr);
    ASSERT_EQ(qxWaitWakePipe(2000), 1);
    long elapsed = msSince(start);
    EXPECT_GE(elapsed, 20);
    EXPECT_LT(elapsed, 1500);
    qxWakeMessage m;
    ASSERT_EQ(qxReadWakeMessage(&m), 1);
    EXPECT_EQ(m.type, QX_WAKE_TIMER);
    EXPECT_EQ(m.data, (uint64_t)(uintptr_t)node);
    qxHandleTimerMessage(m.type, m.data);
    auto fired = collect();
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(fired[0].first, QX_SYSTIMER_INTERVAL);
    EXPECT_EQ(fired[0].second, 7u);
    // Still running after its collection.
    EXPECT_NE(qxFindSysTimer(QX_SYSTIMER_INTERVAL, ref(7), nullptr), nullptr);
    EXPECT_EQ(qxTimerControl(QX_TIMER_DELETE_INTERVAL, ref(7), 0), 0);
    EXPECT_EQ(qxFindSysTimer(QX_SYSTIMER_INTERVAL, ref(7), nullptr), nullptr);
}

TEST_F(Timers, SeveralExpiriesBeforeCollectionCountAsOne)
{
    ASSERT_EQ(qxTimerControl(QX_TIMER_NEW_INTERVAL, ref(1), 10), 0);
    // A loaded machine may merge expiries into one signal: wait for two
    // messages rather than for a fixed time.
    int timerMessages = 0;
    for (int i = 0; i < 200 && timerMessages < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        drain(&timerMessages);
    }
    EXPECT_GE(timerMessages, 2);
    EXPECT_EQ(collect().size(), 1u);
    EXPECT_TRUE(collect().empty());
}

TEST_F(Timers, TimeoutIsFreedByItsCollection)
{
    ASSERT_EQ(qxTimerControl(QX_TIMER_NEW_TIMEOUT, ref(3), 10), 0);
    ASSERT_EQ(qxTimerControl(QX_TIMER_NEW_INTERVAL, ref(4), 5000), 0);
    ASSERT_EQ(qxWaitWakePipe(2000), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    drain();
    auto fired = collect();
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(fired[0], std::make_pair((uint32_t)QX_SYSTIMER_TIMEOUT, 3u));
    EXPECT_EQ(qxFindSysTimer(QX_SYSTIMER_TIMEOUT, ref(3), nullptr), nullptr);
    EXPECT_NE(qxFindSysTimer(QX_SYSTIMER_INTERVAL, ref(4), nullptr), nullptr);
    EXPECT_TRUE(collect().empty());
}

TEST_F(Timers, WalkEndsWhenItsNextNodeWasDeleted)
{
    ASSERT_EQ(qxTimerControl(QX_TIMER_NEW_INTERVAL, ref(1), 10), 0);
    ASSERT_EQ(qxTimerControl(QX_TIMER_NEW_INTERVAL, ref(2), 10), 0);
    qxSysTimer *first = qxFindSysTimer(QX_SYSTIMER_INTERVAL, ref(1), nullptr);
    qxSysTimer *second = qxFindSysTimer(QX_SYSTIMER_INTERVAL, ref(2), nullptr);
    auto start = Clock::now();
    while (!(first->fired && second->fired) && msSince(start) < 5000) {
        qxWaitWakePipe(100);
        drain();
    }
    uint32_t kind;
    qxObjectRef id{};
    qxSysTimer *next = qxCollectFiredTimer(nullptr, &kind, &id);
    EXPECT_EQ(kind, QX_SYSTIMER_INTERVAL);
    EXPECT_EQ(id.number, 1u);
    ASSERT_EQ(next, qxFindSysTimer(QX_SYSTIMER_INTERVAL, ref(2), nullptr));
    // The interval callback clears the other interval before the walk goes on.
    ASSERT_EQ(qxTimerControl(QX_TIMER_DELETE_INTERVAL, ref(2), 0), 0);
    EXPECT_EQ(qxCollectFiredTimer(next, &kind, &id), nullptr);
    EXPECT_EQ(kind, QX_SYSTIMER_NONE);
}

TEST_F(Timers, ControlOfUnknownTimersAndBadOperations)
{
    EXPECT_EQ(qxTimerControl(QX_TIMER_DELETE_INTERVAL, ref(99), 0), 0);
    EXPECT_EQ(qxTimerControl(QX_TIMER_DELETE_TIMEOUT, ref(99), 0), 0);
    EXPECT_EQ(qxTimerControl(QX_TIMER_CHANGE_INTERVAL, ref(99), 10), 0);
    EXPECT_EQ(qxTimerControl(5, ref(1), 10), 0);
    EXPECT_EQ(qxFindSysTimer(QX_SYSTIMER_INTERVAL, ref(99), nullptr), nullptr);
    // A message for a node that is not in the list is ignored.
    int dummy;
    qxHandleTimerMessage(QX_WAKE_TIMER, (uint64_t)(uintptr_t)&dummy);
    EXPECT_TRUE(collect().empty());
}

TEST_F(Timers, ChangingAnIntervalKeepsTheNodeWithTheNewPeriod)
{
    ASSERT_EQ(qxTimerControl(QX_TIMER_NEW_INTERVAL, ref(5), 10000), 0);
    qxSysTimer *node = qxFindSysTimer(QX_SYSTIMER_INTERVAL, ref(5), nullptr);
    auto start = Clock::now();
    ASSERT_EQ(qxTimerControl(QX_TIMER_CHANGE_INTERVAL, ref(5), 20), 0);
    EXPECT_EQ(qxFindSysTimer(QX_SYSTIMER_INTERVAL, ref(5), nullptr), node);
    ASSERT_EQ(qxWaitWakePipe(3000), 1);
    EXPECT_LT(msSince(start), 2000);
    drain();
    EXPECT_EQ(collect().size(), 1u);
}

TEST_F(Timers, FindGivesTheSuccessor)
{
    ASSERT_EQ(qxTimerControl(QX_TIMER_NEW_INTERVAL, ref(1), 60000), 0);
    ASSERT_EQ(qxTimerControl(QX_TIMER_NEW_TIMEOUT, ref(1), 60000), 0);
    qxSysTimer *next = nullptr;
    qxSysTimer *first = qxFindSysTimer(QX_SYSTIMER_INTERVAL, ref(1), &next);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(next, qxFindSysTimer(QX_SYSTIMER_TIMEOUT, ref(1), nullptr));
    // Deleting the timeout leaves the interval of the same id.
    EXPECT_EQ(qxTimerControl(QX_TIMER_DELETE_TIMEOUT, ref(1), 0), 0);
    EXPECT_EQ(qxFindSysTimer(QX_SYSTIMER_INTERVAL, ref(1), nullptr), first);
}

TEST_F(Timers, AFullPipeDropsMessagesWithoutBlocking)
{
    int capacity = fcntl(qxWakePipeWrite, F_GETPIPE_SZ);
    ASSERT_GT(capacity, 0);
    int fits = capacity / (int)sizeof(qxWakeMessage);
    auto start = Clock::now();
    for (int i = 0; i < fits + 100; i++)
        qxSendWakeMessage(QX_WAKE_ONLY, (uint64_t)i);
    EXPECT_LT(msSince(start), 2000);
    // A timer expiry into the full pipe is lost; the handler never blocks.
    ASSERT_EQ(qxTimerControl(QX_TIMER_NEW_TIMEOUT, ref(2), 60000), 0);
    siginfo_t info{};
    info.si_value.sival_ptr = qxFindSysTimer(QX_SYSTIMER_TIMEOUT, ref(2), nullptr);
    qxTimerSignalHandler(SIGRTMIN, &info, nullptr);
    EXPECT_LT(msSince(start), 2000);
    int count = 0;
    qxWakeMessage m;
    while (qxReadWakeMessage(&m)) {
        EXPECT_EQ(m.type, QX_WAKE_ONLY);
        EXPECT_EQ(m.data, (uint64_t)count);
        count++;
    }
    EXPECT_EQ(count, fits);
    EXPECT_TRUE(collect().empty());
    // The pipe works again once drained.
    ASSERT_EQ(qxTimerControl(QX_TIMER_NEW_TIMEOUT, ref(8), 1), 0);
    ASSERT_EQ(qxWaitWakePipe(2000), 1);
    drain();
    EXPECT_EQ(collect().size(), 1u);
}

TEST_F(Timers, SleepWithEventsWaitsAndEndsOnQuit)
{
    EXPECT_EQ(qxSleepWithEvents(nullptr, 0), 0);
    auto start = Clock::now();
    EXPECT_EQ(qxSleepWithEvents(nullptr, 60), 0);
    long elapsed = msSince(start);
    EXPECT_GE(elapsed, 50);
    EXPECT_LT(elapsed, 2000);

    // A quit seen by the poll ends a long sleep early with 1003.
    qxUpcalls.pollEvents = [](lua_State *, int flags) { return flags == 2 ? 1003 : 0; };
    std::thread waker([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        qxWakeEventLoop();
    });
    start = Clock::now();
    EXPECT_EQ(qxSleepWithEvents(nullptr, 10000), 1003);
    EXPECT_LT(msSince(start), 5000);
    waker.join();

    // The event library's wait result ends the sleep with that result.
    qxUpcalls.pollEvents = nullptr;
    qxUpcalls.waitEvents = [](lua_State *) { return 1234; };
    EXPECT_EQ(qxSleepWithEvents(nullptr, 10000), 1234);
}

TEST_F(Timers, SharedIntervalExistsWhileAnyUserNeedsIt)
{
    const qxObjectRef shared{0, reinterpret_cast<void *>(1)};
    EXPECT_EQ(qxAddTimerUser(nullptr, QX_TIMER_USER_SOUND), 0);
    qxSysTimer *node = qxFindSysTimer(QX_SYSTIMER_INTERVAL, shared, nullptr);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(qxAddTimerUser(nullptr, QX_TIMER_USER_EVENTS), 0);
    EXPECT_EQ(qxFindSysTimer(QX_SYSTIMER_INTERVAL, shared, nullptr), node);
    qxRemTimerUser(nullptr, QX_TIMER_USER_SOUND);
    EXPECT_EQ(qxFindSysTimer(QX_SYSTIMER_INTERVAL, shared, nullptr), node);
    qxRemTimerUser(nullptr, QX_TIMER_USER_EVENTS);
    EXPECT_EQ(qxFindSysTimer(QX_SYSTIMER_INTERVAL, shared, nullptr), nullptr);
}

TEST_F(Timers, ThreadEventsKeepTheirArgumentsAndOrder)
{
    uint32_t type = 77, arg1 = 77, arg2 = 77;
    qxObjectRef id{77, nullptr};
    EXPECT_EQ(qxPopThreadEvent(&type, &id, &arg1, &arg2), 0);
    EXPECT_EQ(type, 77u);
    EXPECT_EQ(id.number, 77u);
    EXPECT_EQ(arg1, 77u);

    int marker;
    EXPECT_EQ(qxPostThreadEvent(QX_THREADEVENT_SAMPLE_END, ref(4), 10, 3, 7, 1), 1);
    EXPECT_EQ(qxPostThreadEvent(QX_THREADEVENT_SAMPLE_LOOP, qxObjectRef{0, &marker}, 10, 3, 7, 0), 1);
    ASSERT_EQ(qxPopThreadEvent(&type, &id, &arg1, &arg2), 1);
    EXPECT_EQ(type, QX_THREADEVENT_SAMPLE_END);
    EXPECT_EQ(id.number, 4u);
    EXPECT_EQ(arg1, 27u);
    EXPECT_EQ(arg2, 3u);
    ASSERT_EQ(qxPopThreadEvent(&type, &id, &arg1, &arg2), 1);
    EXPECT_EQ(type, QX_THREADEVENT_SAMPLE_LOOP);
    EXPECT_EQ(id.automatic, &marker);
    EXPECT_EQ(arg1, 20u); // the extra counts only for sample ends
    EXPECT_EQ(qxPopThreadEvent(&type, &id, &arg1, &arg2), 0);
    // Only the waking post wrote into the pipe.
    EXPECT_EQ(drain(), 1);
}

TEST_F(Timers, PostingFromSeveralThreadsLosesNothing)
{
    constexpr int kThreads = 4, kEach = 3000;
    std::atomic<int> wakes{0};
    qxUpcalls.wakeEventLoop = [] { qxSendWakeMessage(QX_WAKE_ONLY, 0); };
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; t++) {
        posters.emplace_back([t] {
            for (int i = 1; i <= kEach; i++)
                qxPostThreadEvent(QX_THREADEVENT_MUSIC_END, ref((uint32_t)t), 1, (uint32_t)i, 0, 1);
        });
    }
    // The script thread pops while the others post.
    std::vector<uint32_t> last(kThreads, 0);
    int received = 0;
    auto start = Clock::now();
    while (received < kThreads * kEach && msSince(start) < 20000) {
        uint32_t type, arg1, arg2;
        qxObjectRef id;
        if (!qxPopThreadEvent(&type, &id, &arg1, &arg2)) {
            if (qxWaitWakePipe(50))
                wakes += drain();
            continue;
        }
        ASSERT_LT(id.number, (uint32_t)kThreads);
        EXPECT_EQ(arg2, last[id.number] + 1) << "events of one poster stay in order";
        last[id.number] = arg2;
        received++;
    }
    for (auto &p : posters)
        p.join();
    EXPECT_EQ(received, kThreads * kEach);
    EXPECT_GT(wakes.load() + drain(), 0);
}

TEST_F(Timers, TimerListSurvivesAConcurrentPipeReader)
{
    // The pipe reader flags timers while the script thread creates,
    // collects and deletes them.
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop.load()) {
            if (qxWaitWakePipe(10)) {
                qxWakeMessage m;
                while (qxReadWakeMessage(&m))
                    qxHandleTimerMessage(m.type, m.data);
            }
        }
    });
    int collected = 0;
    for (int round = 0; round < 40; round++) {
        for (uint32_t i = 0; i < 8; i++)
            ASSERT_EQ(qxTimerControl(i % 2 ? QX_TIMER_NEW_TIMEOUT : QX_TIMER_NEW_INTERVAL, ref(i), 1 + i % 3), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        collected += (int)collect().size();
        for (uint32_t i = 0; i < 8; i++)
            qxTimerControl(i % 2 ? QX_TIMER_DELETE_TIMEOUT : QX_TIMER_DELETE_INTERVAL, ref(i), 0);
    }
    stop = true;
    reader.join();
    EXPECT_GT(collected, 0);
}

TEST_F(Timers, MessageThreadServesAnAdapterOnly)
{
    // Without a display adapter nothing starts.
    EXPECT_EQ(qxStartTimerThread(), 0);
    qxStopTimerThread();

    static std::atomic<int> wakes;
    wakes = 0;
    qxUpcalls.displayAdapterActive = [] { return 1; };
    qxUpcalls.wakeEventLoop = [] { wakes++; };
    ASSERT_EQ(qxStartTimerMessageThread(), 0);
    ASSERT_EQ(qxTimerControl(QX_TIMER_NEW_INTERVAL, ref(11), 10), 0);
    auto start = Clock::now();
    std::vector<std::pair<uint32_t, uint32_t>> fired;
    while (fired.empty() && msSince(start) < 5000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        fired = collect();
    }
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(fired[0].second, 11u);
    EXPECT_GT(wakes.load(), 0);
    // A wake-only message is handed to the adapter too.
    int before = wakes.load();
    qxSendWakeMessage(QX_WAKE_ONLY, 0);
    start = Clock::now();
    while (wakes.load() == before && msSince(start) < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_GT(wakes.load(), before);
    qxStopTimerMessageThread();
}
