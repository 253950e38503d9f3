// The runtime event queue: window and input events posted by the X11 pump,
// by display adapter plug-ins through the host event function and by the
// display library, held until the event step turns them into callbacks.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/qx_displayrecord.h"
#include "platform/qx_sync.h"

typedef struct lua_State lua_State;

struct qxQueuedEvent {
    qxQueuedEvent *next;
    uint32_t type; // 0: voided, skipped by the mapper
    uint32_t param1, param2, param3;
    qxTimeVal posted;
    double seconds; // qxGetSeconds at posting
    qxDisplay *display;
    void *payload;
    uint64_t postedMs; // monotonic, for expiry
};

// What a peek copies out of a node for the event step.
struct qxEventCopy {
    uint32_t type;
    qxDisplay *display;
    double seconds;
    void *payload;
    uint32_t param1, param2, param3;
    uint32_t pressed, key, qualifiers;
};

// Argument record of the host event function.
struct qxHostEventArgs {
    uint64_t handle; // the display adapter's handle of the display
    uint32_t a, b;
    union {
        struct {
            uint32_t c, d;
        } v;
        void *pointer; // a list, a function record or custom data
    };
};

// Plug-ins build this record: its layout is the interface.
static_assert(sizeof(qxHostEventArgs) == 24 && offsetof(qxHostEventArgs, pointer) == 16);

enum : uint32_t { QX_EVENT_TIMEOUT_NEVER = 0xFFFFFFFFu, QX_FIRST_CUSTOM_EVENT = 32 };

extern "C" {
extern uint32_t qxEventTimeout; // milliseconds, 60000 at start
// The oldest node; read it under the mutex, change the list only through
// the functions below.
extern qxQueuedEvent *qxEventQueue;
// Frees the payload of a custom event (code 32 and up); set by the event
// library. NULL: free().
extern void (*qxFreeCustomEventData)(uint32_t type, void *payload);

int qxInitEventQueue(void); // 0 or 1298
void qxFreeEventQueue(void); // frees every node, switches the queue off
void qxDeleteEventQueueMutex(void);
int qxLockEventQueue(void);
void qxUnlockEventQueue(void);

// 1 queued, 0 not (no mutex, queue off, or a size event of a scaled
// display without system scaling), -1 out of memory.
int qxPostEvent(qxDisplay *display, uint32_t type, uint32_t param1, uint32_t param2,
                uint32_t param3, void *payload);
// Copies the node at index; returns index + 1, or 0 past the end. With
// take the reader owns the payload. The caller holds the mutex.
uint32_t qxPeekEvent(lua_State *L, uint32_t index, qxEventCopy *copy, int take);
void qxForgetEventsOf(qxDisplay *display);
// Frees the first n + 1 nodes (0xFFFFFFFF: all).
void qxFlushEvents(lua_State *L, uint32_t n, int lock);
void qxExpireEvents(lua_State *L);
// The host event function of system slots 15 (main state) and 27.
int qxHostEvent(uint32_t code, qxHostEventArgs *args);
int qxHostEventL(lua_State *L, uint32_t code, qxHostEventArgs *args);
// Test seam: moves the monotonic clock of the queue forward.
void qxEventQueueClockSkew(uint64_t ms);
}
