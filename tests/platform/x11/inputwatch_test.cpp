// The input watch: a readable socket asks the script for a poll once, and
// the watch looks again only after the script thread has read and re-armed.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "platform/qx_upcalls.h"
#include "platform/x11/x11_display.h"

namespace {

std::atomic<int> polls;

bool waitFired(int want)
{
    for (int i = 0; i < 2000 && x11InputWatchFired() != want; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return x11InputWatchFired() == want;
}

TEST(InputWatch, FiresOncePerReadableSocketUntilArmedAgain)
{
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    x11Connection conn{};
    conn.fd = (uint32_t)sv[0];
    x11Connection *saved = x11Connections;
    x11Connections = &conn;
    qxUpcalls.requestPoll = [] { polls.fetch_add(1); };

    ASSERT_EQ(x11ArmInputWatch(), 1);
    EXPECT_EQ(x11InputWatchFired(), 0);
    for (int round = 0; round < 3; round++) {
        char c = 'x';
        ASSERT_EQ(write(sv[1], &c, 1), 1);
        ASSERT_TRUE(waitFired(1)) << round;
        const int asked = polls.load();
        EXPECT_GE(asked, 1);
        // Still readable, but the watch waits for the drain: only its
        // ticks ask again, and the flag stays as it is.
        EXPECT_EQ(x11InputWatchFired(), 1);
        ASSERT_EQ(read(sv[0], &c, 1), 1);
        x11ArmInputWatch();
        EXPECT_EQ(x11InputWatchFired(), 0);
    }
    // While the script thread waits itself, the watch does not tick but
    // still sees the socket; it ticks again after the wait.
    x11InputWatchScriptWaits(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(12));
    char w = 'w';
    ASSERT_EQ(write(sv[1], &w, 1), 1);
    ASSERT_TRUE(waitFired(1));
    ASSERT_EQ(read(sv[0], &w, 1), 1);
    x11InputWatchScriptWaits(0);
    x11ArmInputWatch();
    const int before = polls.load();
    for (int i = 0; i < 2000 && polls.load() == before; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_GT(polls.load(), before);

    // A socket that is readable at arming time fires at once.
    char c = 'y';
    ASSERT_EQ(write(sv[1], &c, 1), 1);
    x11ArmInputWatch();
    EXPECT_TRUE(waitFired(1));

    // Stopped, it asks for nothing more; armed again, it watches afresh.
    x11StopInputWatch();
    EXPECT_EQ(x11InputWatchFired(), 0);
    const int stopped = polls.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(polls.load(), stopped);
    EXPECT_EQ(x11ArmInputWatch(), 1);
    EXPECT_TRUE(waitFired(1)); // the 'y' is still unread
    x11StopInputWatch();
    qxUpcalls.requestPoll = nullptr;
    x11Connections = saved;
    close(sv[0]);
    close(sv[1]);
}

} // namespace
