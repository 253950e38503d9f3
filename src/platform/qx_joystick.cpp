#include "platform/qx_joystick.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/qx_errcodes.h"

namespace {

qxJoystick *joysticks;
int joyCount;
bool opened;
int openDevice(const char *pattern, int n)
{
    char path[64];
    std::snprintf(path, sizeof path, pattern, n);
    return open(path, O_RDONLY | O_NONBLOCK);
}

} // namespace

extern "C" {

int joyOpenAll(int *count)
{
    if (!opened) {
        opened = true;
        qxJoystick **tail = &joysticks;
        for (int n = 0;; n++) {
            int fd = openDevice("/dev/input/js%d", n);
            if (fd < 0)
                fd = openDevice("/dev/js%d", n);
            if (fd < 0)
                break;
            auto *joy = static_cast<qxJoystick *>(std::calloc(1, sizeof(qxJoystick)));
            if (!joy) {
                close(fd);
                break;
            }
            joy->fd = fd;
            *tail = joy;
            tail = &joy->next;
            joyCount++;
        }
    }
    if (count)
        *count = joyCount;
    return joyCount;
}

size_t joyDecodeEvents(qxJoystick *joy, const uint8_t *data, size_t length)
{
    size_t events = length / 8;
    for (size_t i = 0; i < events; i++) {
        const uint8_t *e = data + i * 8;
        int16_t value;
        std::memcpy(&value, e + 4, 2);
        uint8_t type = e[6] & 0x7F; // without the initial-state bit
        uint8_t number = e[7];
        if (type & 1) {
            if (number < 32) {
                if (value)
                    joy->buttons |= 1u << number;
                else
                    joy->buttons &= ~(1u << number);
            }
        } else if (type & 2) {
            if (number == 0)
                joy->x = value;
            else
                joy->y = value;
        }
    }
    return events;
}

void joyPoll(void)
{
    for (qxJoystick *joy = joysticks; joy; joy = joy->next) {
        uint8_t buffer[256];
        size_t kept = 0; // a partial event waits for its rest
        for (;;) {
            ssize_t n = read(joy->fd, buffer + kept, sizeof buffer - kept);
            if (n <= 0)
                break;
            size_t have = kept + (size_t)n;
            size_t used = joyDecodeEvents(joy, buffer, have) * 8;
            kept = have - used;
            std::memmove(buffer, buffer + used, kept);
        }
    }
}

int joyDirection(int32_t x, int32_t y)
{
    int h = x > 16000 ? 1 : x < -16000 ? -1 : 0;
    int v = y > 16000 ? 1 : y < -16000 ? -1 : 0;
    static const int table[3][3] = {
        // h = -1, 0, 1
        {7, 0, 1}, // up
        {6, 8, 2}, // centre
        {5, 4, 3}, // down
    };
    return table[v + 1][h + 1];
}

int joyGetState(int port, int *direction, uint32_t *buttons)
{
    joyOpenAll(nullptr);
    qxJoystick *joy = joysticks;
    for (int i = 0; joy && i < port; i++)
        joy = joy->next;
    if (port < 0 || !joy)
        return ERR_NOJOYATPORT;
    if (direction)
        *direction = joyDirection(joy->x, joy->y);
    if (buttons)
        *buttons = joy->buttons;
    return 0;
}

void joyCloseAll(void)
{
    while (joysticks) {
        qxJoystick *joy = joysticks;
        joysticks = joy->next;
        close(joy->fd);
        std::free(joy);
    }
    joyCount = 0;
    opened = false;
}
}
