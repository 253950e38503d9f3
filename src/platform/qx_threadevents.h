// The cross-thread event queue: audio, video and external-program threads
// post events here and wake the script thread, which pops them.
#pragma once
#include <cstdint>

#include "platform/qx_objectref.h"
#include "platform/qx_sync.h"

enum : uint32_t {
    QX_THREADEVENT_SAMPLE_END = 5,
    QX_THREADEVENT_SAMPLE_LOOP = 6,
    QX_THREADEVENT_MUSIC_END = 7,
    QX_THREADEVENT_VIDEO_END = 8,
    QX_THREADEVENT_PROGRAM_END = 10,
    QX_THREADEVENT_DIRECTORY = 11, // never posted on this platform
};

struct qxThreadEvent {
    qxThreadEvent *next;
    uint32_t type;
    qxObjectRef id;
    uint32_t arg1;
    uint32_t arg2;
};

extern "C" {
extern qxThreadEvent *qxThreadEventQueue;
extern qxMutex *qxThreadEventMutex;
// Creates the queue mutex (kept when it exists): 0 or 1298. Called at
// platform start-up and by the audio initialisation.
int qxCreateThreadEventQueue(void);
// Frees the queued events and the mutex (shutdown, after every poster ended).
void qxDeleteThreadEventQueue(void);
// Any thread. arg2 := count, arg1 := (count - 1) * unit (+ extra for type
// 5). Returns 1 when queued, 0 when dropped (no memory, no queue).
int qxPostThreadEvent(uint32_t type, qxObjectRef id, uint32_t unit, uint32_t count, uint32_t extra,
                      int wake);
// Script thread: 1 with the oldest event, 0 (outputs untouched) when empty.
int qxPopThreadEvent(uint32_t *type, qxObjectRef *id, uint32_t *arg1, uint32_t *arg2);
// Wakes the script thread's event loop (x11WakeEventLoop when installed).
void qxWakeEventLoop(void);
}
