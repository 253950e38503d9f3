// Joystick events decoded into direction and buttons.
#include <gtest/gtest.h>


#include <cstring>

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

} // namespace
