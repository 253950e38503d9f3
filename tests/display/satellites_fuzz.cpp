// Satellites driven the way a plug-in may: attaching with arbitrary tag
// lists, detaching, redrawing and resizing, callbacks that attach or detach
// while they are told of a fill or blit, input with arbitrary operations
// and codes, and attribute queries: codes only, never a crash or a leak.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "display/qx_bgpic.h"
#include "display/qx_displaycmds.h"
#include "display/qx_eventqueue.h"
#include "display/qx_satellite.h"

namespace {

constexpr int kSlots = 6;
qxSatellite *held[kSlots];
uint8_t script; // what the next callback does

void forget(qxSatellite *s)
{
    for (qxSatellite *&h : held)
        if (h == s)
            h = nullptr;
}

int callback(qxSatellite *s, uint32_t, void *, void *)
{
    const uint8_t what = script;
    script = uint8_t(script * 7 + 3);
    if (what % 4 == 1) {
        forget(s);
        qxDetachSatellite(s);
    } else if (what % 4 == 2) {
        qxObjectRef ref{9, nullptr};
        int free = what / 4 % kSlots;
        if (!held[free])
            held[free] = qxAttachSatellite(&ref, callback, nullptr, nullptr);
    }
    return 0;
}

struct Setup {
    qxDisplay *display = nullptr;
    Setup()
    {
        qxInitEventQueue();
        qxInitDisplays();
        qxCreateDisplayRecord(nullptr, 9, 0, 0, &display);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Setup setup;
    qxDisplay *d = setup.display;
    if (!d)
        return 0;
    while (size >= 14) {
        const uint8_t op = data[0], slot = data[1] % kSlots;
        int32_t p[3];
        std::memcpy(p, data + 2, 12);
        data += 14;
        size -= 14;
        script = uint8_t(p[0]);
        switch (op % 7) {
        case 0: {
            if (held[slot])
                break;
            qxObjectRef ref{uint32_t(op & 16 ? 9 : p[1]), nullptr};
            qxSatelliteTag tags[4] = {{uint32_t(p[0] % 9), 0}, {uint32_t(p[1] % 9), uintptr_t(p[2])},
                                      {uint32_t(p[2] % 9), 1}, {0, 0}};
            held[slot] = qxAttachSatellite(&ref, callback, nullptr, tags);
            break;
        }
        case 1:
            qxDetachSatellite(held[slot]);
            held[slot] = nullptr;
            break;
        case 2:
            if (held[slot])
                qxRedrawSatellite(held[slot]);
            break;
        case 3:
            if (held[slot])
                qxResizeSatellite(held[slot], p[0] % 700, p[1] % 500, nullptr);
            break;
        case 4:
            qxSatelliteInput(op & 16 ? held[slot] : nullptr, uint32_t(p[0]) % 12, p, nullptr);
            break;
        case 5: {
            qxSatelliteTag tags[3] = {{uint32_t(p[1] % 13), 0}, {uint32_t(p[2] % 13), 1}, {0, 0}};
            qxSatelliteDisplayAttrs(op & 16 ? static_cast<void *>(held[slot]) : d->window, tags);
            break;
        }
        default: {
            int32_t fill[5] = {p[0], p[1], p[2], 1, 0};
            qxNotifySatellites(d, QX_SATOP_RECTFILL, fill);
        }
        }
    }
    // Nothing kept between inputs.
    qxFreeSatellites(d);
    for (qxSatellite *&h : held)
        h = nullptr;
    qxFlushEvents(nullptr, 0xFFFFFFFFu, 1);
    return 0;
}
