// Harness of the network tests: a VM with the network and serial libraries,
// and peers (socat, Python servers) started on free loopback ports.
#pragma once
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "../libs/libtest.h"
#include "core/commands/qx_args.h"
#include "net/qx_net.h"
#include "net/qx_netlibs.h"
#include "net/qx_netpoll.h"

namespace nettest {

using libtest::Nil;
using libtest::Result;

struct NetTest : libtest::LibTest {
    void SetUp() override {
        LibTest::SetUp();
        ASSERT_EQ(qxOpenNetworkLib(L), 0);
        ASSERT_EQ(qxOpenSerialLib(L), 0);
        qxNetTimeoutMs = 5000;
        qxNetDefaultProtocol = QX_IPV4;
    }
    void TearDown() override {
        qxFreeNetObjects();
        qxFreeSerialPorts(L);
        qxNetPollHook = nullptr;
        LibTest::TearDown();
    }
};

// A free TCP port on loopback (bound once and released).
inline int freePort(int type = SOCK_STREAM)
{
    int fd = socket(AF_INET, type, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &n);
    close(fd);
    return ntohs(a.sin_port);
}

inline bool have(const char *program)
{
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

// A peer process with a hard lifetime, killed when the test ends.
struct Peer {
    pid_t pid = -1;
    explicit Peer(const std::string &command, int lifetime = 30)
    {
        pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            std::string cmd = "exec timeout -s KILL " + std::to_string(lifetime) + " " + command;
            execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
    }
    ~Peer()
    {
        if (pid > 0) {
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    // Waits until a TCP port on 127.0.0.1 accepts.
    static bool waitPort(int port, int ms = 5000)
    {
        for (int t = 0; t < ms; t += 20) {
            int fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<uint16_t>(port));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            bool ok = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
            close(fd);
            if (ok) return true;
            usleep(20000);
        }
        return false;
    }
};

} // namespace nettest
