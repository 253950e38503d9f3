// Joysticks read from a FIFO standing in for the device.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "core/errors/qx_errors.h"
#include "platform/qx_joystick.h"

namespace {

void event(uint8_t *out, int16_t value, uint8_t type, uint8_t number)
{
    std::memset(out, 0, 8);
    std::memcpy(out + 4, &value, 2);
    out[6] = type;
    out[7] = number;
}

TEST(Joystick, DirectionThresholdsAndButtons)
{
    EXPECT_EQ(joyDirection(16000, 0), 8);
    EXPECT_EQ(joyDirection(16001, 0), 2);
    EXPECT_EQ(joyDirection(20000, -20000), 1);
    EXPECT_EQ(joyDirection(-20000, 20000), 5);
    EXPECT_EQ(joyDirection(0, -16001), 0);
    qxJoystick joy{};
    uint8_t data[8 * 4 + 3];
    event(data, 1, 1 | 0x80, 3);  // initial state: button 3 held
    event(data + 8, 1, 1, 40);    // beyond the mask: ignored
    event(data + 16, -30000, 2, 0);
    event(data + 24, 500, 2, 5);
    EXPECT_EQ(joyDecodeEvents(&joy, data, sizeof data), 4u); // the partial tail is left
    EXPECT_EQ(joy.buttons, 1u << 3);
    EXPECT_EQ(joy.x, -30000);
    EXPECT_EQ(joy.y, 500);
}

TEST(Joystick, DeviceThroughAFifo)
{
    std::string dir = ::testing::TempDir() + "qxjoy" + std::to_string(getpid());
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    std::string fifo = dir + "/js0";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    joySetDevicePatterns((dir + "/js%d").c_str(), (dir + "/none%d").c_str());
    int writer = -1;
    // A FIFO opened for reading without blocking, then its writer.
    int count = 0;
    EXPECT_EQ(joyOpenAll(&count), 1);
    writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    uint8_t data[16];
    event(data, 20000, 2, 0);
    event(data + 8, 1, 1, 0);
    ASSERT_EQ(write(writer, data, sizeof data), (ssize_t)sizeof data);
    joyPoll();
    int direction = -1;
    uint32_t buttons = 0;
    EXPECT_EQ(joyGetState(0, &direction, &buttons), 0);
    EXPECT_EQ(direction, 2);
    EXPECT_EQ(buttons, 1u);
    EXPECT_EQ(joyGetState(1, &direction, &buttons), ERR_NOJOYATPORT);
    close(writer);
    joySetDevicePatterns((dir + "/none%d").c_str(), (dir + "/none%d").c_str());
    EXPECT_EQ(joyGetState(0, &direction, &buttons), ERR_NOJOYATPORT);
    joySetDevicePatterns(nullptr, nullptr);
    unlink(fifo.c_str());
    rmdir(dir.c_str());
}

} // namespace
