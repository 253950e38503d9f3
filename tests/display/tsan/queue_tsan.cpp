// Built only by tests/platform/tsan.sh: eight threads post while the
// script thread peeks, flushes and expires, under ThreadSanitizer. The few
// neighbours of the queue are stood in for below.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "display/qx_eventqueue.h"
#include "platform/qx_upcalls.h"

extern "C" {
volatile uint32_t qxQuitting;
lua_State *qxMainState;
volatile uint32_t qxQuitRequested;
uint32_t x11QuitLeftMouse, x11QuitEscape, x11QuitCtrlC;
qxPlatformUpcalls qxUpcalls;
qxDisplay *qxFindDisplayByHandle(const void *) { return nullptr; }
void qxSetErrorNumber(int) {}
void x11WakeEventLoop(void) {}
}

TEST(QueueThreads, EightPostersAndAReader)
{
    ASSERT_EQ(qxInitEventQueue(), 0);
    qxDisplay display{};
    std::atomic<bool> stop{false};
    std::vector<std::thread> posters;
    for (int t = 0; t < 8; t++)
        posters.emplace_back([&, t] {
            for (uint32_t i = 0; i < 2000; i++)
                qxPostEvent(&display, (i % 7 == 0) ? 5 : 28, 0, 0, (uint32_t)t, nullptr);
        });
    std::thread reader([&] {
        while (!stop) {
            qxLockEventQueue();
            qxEventCopy copy;
            if (qxPeekEvent(nullptr, 0, &copy, 1))
                qxFlushEvents(nullptr, 0, 0);
            qxUnlockEventQueue();
            qxExpireEvents(nullptr);
        }
    });
    for (auto &t : posters)
        t.join();
    stop = true;
    reader.join();
    qxFreeEventQueue();
    EXPECT_EQ(qxEventQueue, nullptr);
    qxDeleteEventQueueMutex();
}
