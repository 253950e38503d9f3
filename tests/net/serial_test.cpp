// Serial ports on pseudo-terminal pairs made by socat.
#include <fcntl.h>
#include <termios.h>

#include <chrono>

#include "nettest.h"

using namespace nettest;

namespace {

struct SerialTest : NetTest {
    std::string dir, a, b;
    std::unique_ptr<Peer> pair;
    void SetUp() override
    {
        NetTest::SetUp();
        if (!have("socat")) GTEST_SKIP() << "socat missing";
        char tmpl[] = "/tmp/qxserialXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        // A link name longer than the device record's old 30-byte field.
        a = dir + "/a-rather-long-serial-device-link-name";
        b = dir + "/b";
        pair = std::make_unique<Peer>("socat pty,raw,echo=0,link=" + a + " pty,raw,echo=0,link=" + b);
        for (int i = 0; i < 100 && (access(a.c_str(), F_OK) || access(b.c_str(), F_OK)); i++) usleep(20000);
        ASSERT_EQ(access(a.c_str(), F_OK), 0);
    }
    void TearDown() override
    {
        pair.reset();
        if (!dir.empty()) std::system(("rm -rf " + dir).c_str());
        NetTest::TearDown();
    }
    termios settingsOf(const std::string &path)
    {
        termios t{};
        int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
        EXPECT_GE(fd, 0);
        tcgetattr(fd, &t);
        close(fd);
        return t;
    }
};

} // namespace

TEST_F(SerialTest, RawModeDefaultsAndDataBothWays)
{
    ASSERT_EQ(status("OpenSerialPort", {1, a}), 0);
    termios t = settingsOf(a);
    EXPECT_EQ(t.c_iflag, static_cast<tcflag_t>(IGNPAR));
    EXPECT_EQ(t.c_oflag, 0u);
    EXPECT_EQ(t.c_lflag, 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    int peer = open(b.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(peer, 0);
    Result w = call("WriteSerialData", {1, "to peer"});
    EXPECT_EQ(w.num(0), 7);
    EXPECT_EQ(w.num(1), 0);
    char buf[32] = {};
    usleep(50000);
    EXPECT_EQ(::read(peer, buf, sizeof buf), 7);
    EXPECT_STREQ(buf, "to peer");
    ASSERT_EQ(write(peer, "back\r\n", 6), 6);
    usleep(50000);
    EXPECT_EQ(num("PollSerialQueue", {1}), 6);
    Result r = call("ReadSerialData", {1, 4, 500});
    EXPECT_EQ(r.str(0), "back");
    EXPECT_EQ(r.num(2), 0);
    Result rest = call("ReadSerialData", {1, 10});
    EXPECT_EQ(rest.str(0), "\r\n") << "raw: no translation";
    // Silent line: empty, 0 and the time-out flag after about the wait.
    auto start = std::chrono::steady_clock::now();
    Result silent = call("ReadSerialData", {1, 10, 100});
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(silent.str(0), "");
    EXPECT_EQ(silent.num(1), 0);
    EXPECT_EQ(silent.num(2), 1);
    EXPECT_GE(ms, 90);
    EXPECT_EQ(status("ReadSerialData", {1, 0}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("WriteSerialData", {1, ""}), ERR_WRONGUSAGE);
    close(peer);
}

TEST_F(SerialTest, SettersRecordOnlyWhatApplies)
{
    auto opts = std::function<void(lua_State *)>([](lua_State *L) {
        lua_newtable(L);
        qxSetFieldInt(L, "baudrate", 7);
        qxSetFieldInt(L, "stopbits", 1);
        qxSetFieldInt(L, "dtr", 1);
    });
    ASSERT_EQ(status("OpenSerialPort", {1, a, opts}), 0);
    termios t = settingsOf(a);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_EQ(num("GetBaudRate", {1}), 7);
    EXPECT_EQ(num("GetDTR", {1}), 1);
    EXPECT_EQ(status("SetBaudRate", {1, 9}), ERR_WRONGUSAGE);
    EXPECT_EQ(num("GetBaudRate", {1}), 7);
    EXPECT_EQ(status("SetParity", {1, 3}), ERR_WRONGUSAGE);
    // The pseudo-terminal driver refuses parity: the code is not recorded.
    EXPECT_EQ(status("SetParity", {1, 2}), ERR_WRONGUSAGE);
    EXPECT_EQ(num("GetParity", {1}), 0);
    EXPECT_EQ(status("SetFlowControl", {1, 2}), 0);
    EXPECT_EQ(num("GetFlowControl", {1}), 2);
    EXPECT_TRUE(settingsOf(a).c_iflag & IXON);
    // Modem lines do not exist on a pseudo-terminal.
    EXPECT_EQ(status("SetDTR", {1, 0}), ERR_WRONGUSAGE);
    // A refused code fails the open and leaves no object.
    auto bad = std::function<void(lua_State *)>([](lua_State *L) {
        lua_newtable(L);
        qxSetFieldInt(L, "databits", 4);
    });
    EXPECT_EQ(status("OpenSerialPort", {2, a, bad}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("CloseSerialPort", {2}), ERR_FINDSERIAL);
    EXPECT_EQ(status("OpenSerialPort", {3, dir + "/none"}), ERR_OPENSERIAL);
    char text[512];
    qxFormatErrorCode(ERR_OPENSERIAL, text, sizeof text);
    EXPECT_EQ(std::string(text), "Error opening serial port " + dir + "/none!");
}

TEST_F(SerialTest, FreeRestoresSettings)
{
    int keep = open(a.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(keep, &t);
    t.c_lflag |= ICANON | ECHO;
    tcsetattr(keep, TCSANOW, &t);
    ASSERT_EQ(status("OpenSerialPort", {1, a}), 0);
    EXPECT_EQ(settingsOf(a).c_lflag & (ICANON | ECHO), 0u);
    qxFreeSerialPorts(L);
    EXPECT_EQ(settingsOf(a).c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
    close(keep);
}

TEST_F(SerialTest, HangUpAndQuitEndUntimedReads)
{
    ASSERT_EQ(status("OpenSerialPort", {1, a}), 0);
    static int polls;
    polls = 0;
    qxNetPollHook = [](lua_State *, int *error) {
        if (++polls < 5) return 0;
        *error = ERR_USERABORT;
        return 1;
    };
    EXPECT_EQ(status("ReadSerialData", {1, 4}), ERR_USERABORT);
    qxNetPollHook = nullptr;
    pair.reset();
    EXPECT_EQ(status("ReadSerialData", {1, 4}), ERR_SERIALIO);
}
