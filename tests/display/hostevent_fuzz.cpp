// Host event records with arbitrary codes, handles and values, mixed with
// peeks, flushes and expiry: error codes only, the key-state block never
// written past, every payload freed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "display/qx_display.h"
#include "display/qx_eventqueue.h"

namespace {

struct Setup {
    qxDisplay *display;
    int handle = 0;
    Setup()
    {
        qxInitEventQueue();
        qxInitDisplayList();
        display = qxNewDisplayRecord(1);
        display->window = &handle;
        qxAppendDisplay(display);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Setup setup;
    qxDisplay *d = setup.display;
    uint8_t guard[sizeof d->input];
    while (size >= 14) {
        uint8_t op = data[0];
        uint32_t code, a, b;
        std::memcpy(&code, data + 1, 4);
        std::memcpy(&a, data + 5, 4);
        std::memcpy(&b, data + 9, 4);
        uint8_t flags = data[13];
        data += 14;
        size -= 14;
        switch (op % 5) {
        case 0:
        case 1: {
            qxHostEventArgs args{};
            args.handle = (flags & 1) ? 77 : (uint64_t)(uintptr_t)&setup.handle;
            args.a = a;
            args.b = b;
            uint32_t c = (flags & 4) ? code : code % 40;
            // Codes that take a pointer get owned memory, a record to copy,
            // or plain values.
            bool owned = (c == 11 || c >= 32) && (flags & 2);
            if (owned)
                args.pointer = std::malloc(8);
            else if (c == 1 && (flags & 2))
                args.pointer = guard;
            else if (c == 1 || c == 11 || c >= 32)
                args.pointer = nullptr; // a pointer code always carries a real pointer
            else {
                args.v.c = a ^ b;
                args.v.d = flags;
            }
            if (qxHostEvent(c, &args) && owned)
                std::free(args.pointer); // refused: not taken
            break;
        }
        case 2: {
            qxLockEventQueue();
            qxEventCopy copy;
            if (qxPeekEvent(nullptr, a % 8, &copy, flags & 1) && (flags & 1))
                std::free(copy.payload);
            qxUnlockEventQueue();
            break;
        }
        case 3: qxFlushEvents(nullptr, a % 4, 1); break;
        default:
            qxEventTimeout = (flags & 1) ? 0xFFFFFFFFu : a % 3;
            qxEventQueueClockSkew(b % 5);
            qxExpireEvents(nullptr);
            break;
        }
    }
    qxFlushEvents(nullptr, 0xFFFFFFFFu, 1);
    return 0;
}
