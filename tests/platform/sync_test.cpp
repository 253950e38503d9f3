// Time arithmetic, delays, mutexes, condition records and threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <sched.h>

#include "platform/qx_memory.h"
#include "platform/qx_sync.h"

TEST(Memory, ZeroSizeGivesNullAndZeroFillWorks)
{
    EXPECT_EQ(qxAlloc(0, 1), nullptr);
    EXPECT_EQ(qxAlloc(0, 0), nullptr);
    auto *p = static_cast<unsigned char *>(qxAlloc(64, 1));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 64; i++)
        EXPECT_EQ(p[i], 0);
    qxFree(p);
    qxFree(nullptr);
    size_t out;
    EXPECT_FALSE(qxMulSize(SIZE_MAX / 2, 3, &out));
    EXPECT_TRUE(qxMulSize(1000, 1000, &out));
    EXPECT_EQ(out, 1000000u);
    EXPECT_FALSE(qxAddSize(SIZE_MAX, 1, &out));
}

TEST(Time, SubtractAddCompareCarryAtOneMillion)
{
    qxTimeVal a{5, 100}, b{2, 200};
    qxSubTime(&a, &b);
    EXPECT_EQ(a.seconds, 2u);
    EXPECT_EQ(a.microseconds, 999900u);

    qxTimeVal c{1, 600000}, d{0, 500000};
    qxAddTime(&c, &d);
    EXPECT_EQ(c.seconds, 2u);
    EXPECT_EQ(c.microseconds, 100000u);

    qxTimeVal e{7, 999999}, f{0, 1};
    qxAddTime(&e, &f);
    EXPECT_EQ(e.seconds, 8u);
    EXPECT_EQ(e.microseconds, 0u);

    qxTimeVal x{3, 10}, y{3, 9}, z{3, 10}, w{4, 0};
    EXPECT_EQ(qxCmpTime(&x, &y), 1);
    EXPECT_EQ(qxCmpTime(&y, &x), -1);
    EXPECT_EQ(qxCmpTime(&x, &z), 0);
    EXPECT_EQ(qxCmpTime(&x, &w), -1);
}

TEST(Time, SystemTimeAndDelayAgree)
{
    qxTimeVal t0, t1;
    qxGetSysTime(&t0);
    EXPECT_LT(t0.microseconds, 1000000u);
    double s0 = qxGetSeconds();
    qxDelay(30);
    qxGetSysTime(&t1);
    double s1 = qxGetSeconds();
    qxSubTime(&t1, &t0);
    uint64_t us = t1.seconds * 1000000ull + t1.microseconds;
    EXPECT_GE(us, 29000u);
    EXPECT_GE(s1 - s0, 0.029);
}

TEST(Mutex, RecursiveLockAndTryLockFromOtherThread)
{
    qxMutex *m = qxCreateMutex();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(qxLockMutex(m), 0);
    EXPECT_EQ(qxLockMutex(m), 0); // recursive
    EXPECT_EQ(qxTryLockMutex(m), 1);
    std::atomic<int> other{-1};
    std::pair<qxMutex *, std::atomic<int> *> args(m, &other);
    pthread_t t = qxCreateThread(
        [](void *arg) -> void * {
            auto *pair = static_cast<std::pair<qxMutex *, std::atomic<int> *> *>(arg);
            *pair->second = qxTryLockMutex(pair->first);
            return nullptr;
        },
        &args, 0);
    ASSERT_NE(t, 0u);
    void *ret;
    pthread_join(t, &ret);
    EXPECT_EQ(other.load(), 0); // held by us
    qxUnlockMutex(m);
    qxUnlockMutex(m);
    qxUnlockMutex(m);
    qxDeleteMutex(m);
}

TEST(Cond, SignalBeforeWaitIsNotLostAndIsConsumedOnce)
{
    qxMutex *m = qxCreateMutex();
    qxCondRecord *c = qxCreateCond();
    ASSERT_TRUE(m && c);
    qxLockMutex(m);
    qxSignalCond(c);
    qxSignalCond(c); // several signals before one wait count as one
    EXPECT_EQ(qxWaitCond(c, m, 0), 0);
    EXPECT_EQ(c->signalled, 0u);
    qxUnlockMutex(m);
    qxDeleteCond(c);
    qxDeleteMutex(m);
}

namespace {
struct SchedProbe {
    int policy = -2;
    int priority = -2;
};

void *probeSchedule(void *arg)
{
    auto *p = static_cast<SchedProbe *>(arg);
    sched_param param{};
    pthread_getschedparam(pthread_self(), &p->policy, &param);
    p->priority = param.sched_priority;
    return nullptr;
}
} // namespace

// A real-time request either really runs under SCHED_RR at the capped
// priority, or (when the system refuses it) really falls back.
TEST(Thread, PriorityIsAppliedOrFallsBack)
{
    for (int asked : {25, 100, 1000}) {
        SchedProbe probe;
        pthread_t t = qxCreateThread(probeSchedule, &probe, asked);
        ASSERT_NE(t, 0u);
        pthread_join(t, nullptr);
        if (probe.policy == SCHED_RR) {
            int maxPrio = sched_get_priority_max(SCHED_RR);
            EXPECT_EQ(probe.priority, asked < maxPrio ? asked : maxPrio);
        } else {
            EXPECT_EQ(probe.policy, SCHED_OTHER);
        }
    }
    SchedProbe plain;
    pthread_t t = qxCreateThread(probeSchedule, &plain, 0);
    pthread_join(t, nullptr);
    EXPECT_EQ(plain.policy, SCHED_OTHER);
}

namespace {
void *serverLoop(void *arg)
{
    qxThreadRecord *rec = qxThreadFromArg(arg);
    auto *counter = static_cast<std::atomic<int> *>(qxThreadUserData(rec));
    qxThreadReportStart(rec, 0);
    qxThreadSignalStart(rec);
    while (!qxThreadStopRequested(rec)) {
        (*counter)++;
        qxDelay(1);
    }
    qxWaitThreadEnd(rec);
    return nullptr;
}

void *failingServer(void *arg)
{
    qxThreadReportStart(qxThreadFromArg(arg), 1);
    return nullptr;
}
} // namespace

TEST(ServerThread, HandshakeStopAndEnd)
{
    std::atomic<int> counter{0};
    qxThreadRecord *rec = qxCreateServerThread("Zephyrane test server", serverLoop, &counter,
                                               nullptr, 16384, 0);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->startReported, 1u);
    EXPECT_EQ(rec->startFailed, 0u);
    while (counter.load() < 3)
        qxDelay(1);
    qxRequestThreadStop(rec);
    qxEndServerThread(rec);
}

TEST(ServerThread, FailedStartGivesNullAfterJoin)
{
    EXPECT_EQ(qxCreateServerThread("Zephyrane failing server", failingServer, nullptr, nullptr,
                                   16384, 100),
              nullptr);
}
