// The socket layer's result convention, remaining waits and texts.
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/qx_socket.h"

TEST(SocketLayer, RemainingWait)
{
    qxTimeout t{-1, -1, 100};
    EXPECT_LT(qxTimeoutRemaining(&t, 105), 0);
    t = {-1, 10, 100};
    EXPECT_DOUBLE_EQ(qxTimeoutRemaining(&t, 104), 6);
    EXPECT_DOUBLE_EQ(qxTimeoutRemaining(&t, 120), 0);
    t = {3, -1, 100};
    EXPECT_DOUBLE_EQ(qxTimeoutRemaining(&t, 101), 2);
    t = {3, 10, 100};
    EXPECT_DOUBLE_EQ(qxTimeoutRemaining(&t, 101), 3);
    EXPECT_DOUBLE_EQ(qxTimeoutRemaining(&t, 108), 2);
    EXPECT_DOUBLE_EQ(qxTimeoutRemaining(&t, 111), 0);
}

TEST(SocketLayer, ResultsOfIdleClosedAndHighDescriptors)
{
    qxSocketInit();
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    qxSocket s;
    qxSocketSetup(&s);
    s.fd = pair[0];
    qxSocketSetNonBlocking(&s);
    qxTimeout zero{0, 0, qxNetNow()};
    char buf[8];
    size_t n = 99;
    EXPECT_EQ(qxSocketRecv(&s, buf, sizeof buf, &n, &zero), QX_SOCK_TIMEOUT);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(qxSocketPeek(&s, &zero, 0), QX_SOCK_TIMEOUT);
    // A short wait on an idle socket gives the time-out after select.
    qxTimeout brief{0.02, -1, qxNetNow()};
    EXPECT_EQ(qxSocketRecv(&s, buf, sizeof buf, &n, &brief), QX_SOCK_TIMEOUT);
    close(pair[1]);
    EXPECT_EQ(qxSocketPeek(&s, &zero, 0), QX_SOCK_CLOSED);
    EXPECT_EQ(qxSocketRecv(&s, buf, sizeof buf, &n, &zero), QX_SOCK_CLOSED);
    EXPECT_EQ(qxSocketSend(&s, "x", 1, &n, &zero), QX_SOCK_CLOSED) << "EPIPE, no SIGPIPE";
    // Beyond what select can watch: EINVAL where a wait would be needed.
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    int high = fcntl(pair[0], F_DUPFD, 1024);
    if (high >= 1024) {
        s.fd = high;
        qxSocketSetNonBlocking(&s);
        EXPECT_EQ(qxSocketRecv(&s, buf, sizeof buf, &n, &brief), EINVAL);
        close(high);
    }
    close(pair[0]);
    close(pair[1]);
    qxSocketDestroy(&s);
    s.fd = -1;
    EXPECT_EQ(qxSocketRecv(&s, buf, sizeof buf, &n, &zero), QX_SOCK_CLOSED);
}

TEST(SocketLayer, Texts)
{
    EXPECT_STREQ(qxSocketErrorText(-1), "timeout");
    EXPECT_STREQ(qxSocketErrorText(-2), "closed");
    EXPECT_STREQ(qxSocketErrorText(-3), "unknown error");
    EXPECT_STREQ(qxSocketErrorText(ECONNREFUSED), "Connection refused");
    EXPECT_STREQ(qxResolverErrorText(EAI_NONAME), "host or service not provided, or not known");
    EXPECT_STREQ(qxResolverErrorText(EAI_AGAIN), "temporary failure in name resolution");
    EXPECT_STREQ(qxResolverErrorText(0), "");
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo *list = nullptr;
    int r = getaddrinfo("not-a-number", "80", &hints, &list);
    EXPECT_STREQ(qxResolverErrorText(r), "host or service not provided, or not known");
}
