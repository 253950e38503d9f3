// Joysticks through the Linux joystick devices, opened on first use and
// polled without blocking from the event pump.
#pragma once
#include <cstddef>
#include <cstdint>

struct qxJoystick {
    qxJoystick *next;
    int fd;
    uint32_t buttons; // bit n while button n is held
    int32_t x;        // axis 0
    int32_t y;        // every other axis
};

enum : uint32_t { QX_JOY_CENTRED = 8 };

extern "C" {
// Opens the devices on the first call; returns the number of records.
int joyOpenAll(int *count);
void joyPoll(void);
// 0, or 1405 when there is no joystick at the port (ports count from 0).
int joyGetState(int port, int *direction, uint32_t *buttons);
void joyCloseAll(void);
// Applies whole 8-byte device events to a record; a trailing partial event
// is ignored. Returns the number of events applied.
size_t joyDecodeEvents(qxJoystick *joy, const uint8_t *data, size_t length);
// Direction 0-8 (clockwise from up, 8 centred) of the axis values.
int joyDirection(int32_t x, int32_t y);
}
