// Connections, servers, UDP objects and the event polls on loopback.
#include <arpa/inet.h>
#include <sched.h>

#include "nettest.h"

using namespace nettest;


TEST_F(NetTest, ServerAcceptsThroughPollAndLinesRoundTrip)
{
    ASSERT_EQ(status("CreateServer", {1, 0, "127.0.0.1"}), 0);
    int port = static_cast<int>(num("GetLocalPort", {1, 115}));
    ASSERT_GT(port, 0);
    EXPECT_EQ(status("GetConnectionIP", {1, 115}), ERR_WRONGUSAGE);
    ASSERT_EQ(status("OpenConnection", {2, "127.0.0.1", port}), 0);
    qxNetObjectNode *server = qxNetFindNode(1, {1, nullptr});
    void *id = nullptr;
    for (int i = 0; i < 200 && !qxNetPollAccept(server, &id); i++) usleep(5000);
    ASSERT_NE(id, nullptr);
    auto accepted = [id](lua_State *L) { lua_pushlightuserdata(L, id); };
    EXPECT_EQ(num("SendData", {2, "abc\r\nrest"}), 9);
    qxNetObjectNode *peer = qxNetFindNode(0, {0, id});
    for (int i = 0; i < 200 && !qxNetPollReceive(peer); i++) usleep(5000);
    EXPECT_EQ(peer->dataNotified, 1u);
    EXPECT_EQ(qxNetPollReceive(peer), 0) << "reported once";
    Result line = call("ReceiveData", {std::function<void(lua_State *)>(accepted), 2});
    ASSERT_EQ(line.status, 0);
    EXPECT_EQ(line.str(0), "abc");
    EXPECT_EQ(line.num(1), 3);
    EXPECT_EQ(line.num(2), 1);
    EXPECT_EQ(peer->dataNotified, 0u);
    // Four bytes asked, four came: done; then all that is buffered, no wait.
    Result bytes = call("ReceiveData", {std::function<void(lua_State *)>(accepted), 1, 2});
    EXPECT_EQ(bytes.str(0), "re");
    Result rest = call("ReceiveData", {std::function<void(lua_State *)>(accepted), 0, 0});
    EXPECT_EQ(rest.str(0), "st");
    EXPECT_EQ(rest.num(2), 0);
    // A short count is not done.
    qxNetTimeoutMs = 50;
    EXPECT_EQ(num("SendData", {2, "xy"}), 2);
    Result cut = call("ReceiveData", {std::function<void(lua_State *)>(accepted), 1, 5});
    EXPECT_EQ(cut.str(0), "xy");
    EXPECT_EQ(cut.num(2), 0);
    // The peer closes: the poll reports it once, RECEIVEALL after data is done.
    EXPECT_EQ(num("SendData", {2, "bye"}), 3);
    EXPECT_EQ(status("CloseConnection", {2}), 0);
    Result all = call("ReceiveData", {std::function<void(lua_State *)>(accepted)});
    EXPECT_EQ(all.str(0), "bye");
    EXPECT_EQ(all.num(2), 1);
    EXPECT_EQ(qxNetPollDisconnect(peer), 1);
    EXPECT_EQ(qxNetPollDisconnect(peer), 0);
    // Closing the node the event loop stands on moves its position on.
    qxNetIterPos[0] = peer;
    EXPECT_EQ(status("CloseConnection", {std::function<void(lua_State *)>(accepted)}), 0);
    EXPECT_EQ(qxNetIterPos[0], nullptr);
    EXPECT_EQ(status("CloseConnection", {2}), ERR_FINDCLIENT);
}

TEST_F(NetTest, ArgumentChecksAndErrors)
{
    EXPECT_EQ(status("OpenConnection", {1, "127.0.0.1", 0}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("OpenConnection", {1, "127.0.0.1", 65536}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("CreateUDPObject", {1, 0, "*", 3}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("SetNetworkTimeout", {-1}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("ToIP", {"127.0.0.1", 0}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("CloseServer", {7}), ERR_FINDSERVER);
    EXPECT_EQ(status("CloseUDPObject", {7}), ERR_FINDUDPOBJECT);
    // Refused: the socket's own error, not success.
    int port = freePort();
    EXPECT_EQ(status("OpenConnection", {1, "127.0.0.1", port}), ERR_SOCKET);
    char text[256];
    qxFormatErrorCode(ERR_SOCKET, text, sizeof text);
    EXPECT_STREQ(text, "The following network error occurred:\nConnection refused");
    ASSERT_EQ(status("CreateServer", {1, 0, "127.0.0.1"}), 0);
    int open = static_cast<int>(num("GetLocalPort", {1, 115}));
    ASSERT_EQ(status("OpenConnection", {1, "127.0.0.1", open}), 0);
    EXPECT_EQ(status("ReceiveData", {1, 1, 0}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("ReceiveData", {1, 3}), ERR_WRONGUSAGE);
    EXPECT_EQ(num("GetConnectionPort", {1}), open);
    EXPECT_EQ(str("GetConnectionIP", {1}), "127.0.0.1");
    EXPECT_EQ(num("GetConnectionProtocol", {1}), QX_IPV4);
}

TEST_F(NetTest, RefusedFirstAddressFallsThroughToTheNext)
{
    // "localhost" may resolve to ::1 first; the IPv4 server must still answer.
    ASSERT_EQ(status("CreateServer", {1, 0, "127.0.0.1"}), 0);
    int port = static_cast<int>(num("GetLocalPort", {1, 115}));
    EXPECT_EQ(status("OpenConnection", {2, "localhost", port, libtest::Arg(std::function<void(lua_State *)>(
                                                                 [](lua_State *L) {
                                                                     lua_newtable(L);
                                                                     qxSetFieldInt(L, "protocol", 0);
                                                                 }))}),
              0);
}

TEST_F(NetTest, QuitEndsAnEndlessWait)
{
    ASSERT_EQ(status("CreateServer", {1, 0, "127.0.0.1"}), 0);
    int port = static_cast<int>(num("GetLocalPort", {1, 115}));
    ASSERT_EQ(status("OpenConnection", {2, "127.0.0.1", port}), 0);
    qxNetTimeoutMs = 0;
    static int polls;
    polls = 0;
    qxNetPollHook = [](lua_State *, int *error) {
        if (++polls < 30) return 0;
        *error = ERR_USERABORT;
        return 1;
    };
    EXPECT_EQ(status("ReceiveData", {2}), ERR_USERABORT);
    EXPECT_GE(polls, 30);
}

TEST_F(NetTest, UDPObjectsExchangeDatagrams)
{
    ASSERT_EQ(status("CreateUDPObject", {1, 0, "127.0.0.1"}), 0);
    int port = static_cast<int>(num("GetLocalPort", {1, 117}));
    ASSERT_EQ(status("CreateUDPObject", {2, port, "127.0.0.1", 1}), 0);
    EXPECT_EQ(status("SendUDPData", {1, "x", "localhost", 9}), ERR_SOCKET);
    EXPECT_EQ(status("SendUDPData", {1, "", "127.0.0.1", 9}), ERR_WRONGUSAGE);
    Result none = call("ReceiveUDPData", {1});
    EXPECT_EQ(none.str(0), "");
    EXPECT_EQ(none.num(2), 0);
    EXPECT_EQ(num("SendUDPData", {2, "ping"}), 4);
    qxNetObjectNode *server = qxNetFindNode(2, {1, nullptr});
    for (int i = 0; i < 200 && !qxNetPollUDP(server); i++) usleep(5000);
    Result got = call("ReceiveUDPData", {1});
    EXPECT_EQ(got.str(0), "ping");
    EXPECT_EQ(got.str(1), "127.0.0.1");
    int from = static_cast<int>(got.num(2));
    EXPECT_EQ(from, num("GetLocalPort", {2, 117}));
    EXPECT_EQ(num("SendUDPData", {1, "pong", "127.0.0.1", from}), 4);
    ASSERT_EQ(status("CreateUDPObject", {3, 0, "*", 2}), 0);
    EXPECT_EQ(num("SendUDPData", {3, "free", "127.0.0.1", port}), 4);
}

TEST_F(NetTest, SocatUDPEchoOverIPv6)
{
    if (!have("socat")) GTEST_SKIP() << "socat missing";
    int port = freePort(SOCK_DGRAM);
    Peer echo("socat UDP6-RECVFROM:" + std::to_string(port) + ",bind=[::1],reuseaddr,fork PIPE");
    usleep(300000);
    ASSERT_EQ(status("CreateUDPObject", {1, port, "::1", 1, 2}), 0);
    EXPECT_EQ(num("GetConnectionProtocol", {1, 117}), QX_IPV6);
    EXPECT_EQ(num("SendUDPData", {1, "datagram"}), 8);
    qxNetObjectNode *n = qxNetFindNode(2, {1, nullptr});
    for (int i = 0; i < 200 && !qxNetPollUDP(n); i++) usleep(5000);
    Result got = call("ReceiveUDPData", {1});
    EXPECT_EQ(got.str(0), "datagram");
    EXPECT_EQ(got.str(1), "::1");
    EXPECT_EQ(got.num(2), port);
}

TEST_F(NetTest, SocatEchoOverIPv6)
{
    if (!have("socat")) GTEST_SKIP() << "socat missing";
    int port = freePort();
    Peer echo("socat TCP6-LISTEN:" + std::to_string(port) + ",bind=[::1],reuseaddr PIPE");
    usleep(200000);
    auto opts = std::function<void(lua_State *)>([](lua_State *L) {
        lua_newtable(L);
        qxSetFieldInt(L, "protocol", 2);
    });
    int r = 1;
    for (int i = 0; i < 50 && (r = status("OpenConnection", {1, "::1", port, opts})) != 0; i++) usleep(50000);
    ASSERT_EQ(r, 0);
    EXPECT_EQ(num("SendData", {1, "hello\n"}), 6);
    EXPECT_EQ(str("ReceiveData", {1, 2}), "hello");
    EXPECT_EQ(num("GetConnectionProtocol", {1}), QX_IPV6);
    EXPECT_EQ(str("GetConnectionIP", {1}), "::1");
}

// In a private network namespace nothing answers: IsOnline gives 0 at once
// and names fail without asking an outside resolver.
TEST_F(NetTest, OfflineInPrivateNamespace)
{
    pid_t pid = fork();
    if (pid == 0) {
        if (unshare(CLONE_NEWNET) != 0) _exit(77);
        qxNetTimeoutMs = 2000;
        Result online = call("IsOnline");
        int ok = online.status == 0 && online.num(0) == 0;
        ok = ok && status("ToIP", {"www.example.org", 2}) == ERR_SOCKET;
        ok = ok && status("OpenConnection", {1, "www.example.org", 80}) == ERR_SOCKET;
        ok = ok && str("GetMACAddress") == "Unknown";
        _exit(ok ? 0 : 1);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    if (WIFEXITED(st) && WEXITSTATUS(st) == 77) GTEST_SKIP() << "no network namespaces here";
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
}
