// Arbitrary bytes as joystick device reads: whole events change the state,
// a partial tail is ignored, and the direction is always one of 0-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/qx_joystick.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    qxJoystick joy{};
    size_t events = joyDecodeEvents(&joy, data, size);
    if (events != size / 8)
        std::abort();
    int direction = joyDirection(joy.x, joy.y);
    if (direction < 0 || direction > 8)
        std::abort();
    return 0;
}
