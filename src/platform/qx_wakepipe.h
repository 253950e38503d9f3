// The non-blocking wake-up pipe through which signal handlers and other
// threads reach the thread that waits for events.
#pragma once
#include <cstdint>

// Written and read whole, in native byte order.
struct qxWakeMessage {
    uint64_t type;
    uint64_t data;
};

enum : uint64_t {
    QX_WAKE_ONLY = 0,
    QX_WAKE_TIMER = 1,       // data: the qxSysTimer node
    QX_WAKE_POINTER = 2,     // data: the pointer-watch record
    QX_WAKE_STOP_THREAD = 3, // stop the timer message thread
};

extern "C" {
// Pipe descriptors, -1 while there is no pipe.
extern int qxWakePipeRead;
extern int qxWakePipeWrite;
// Makes the pipe (both ends O_NONBLOCK); 1, or 0 when pipe() fails. An
// existing pipe is kept.
int qxCreateWakePipe(void);
// Writes one message; a full or missing pipe drops it. Async-signal-safe.
void qxSendWakeMessage(uint64_t type, uint64_t data);
// 1 when a message was written since the last qxClearWakeMessageSent; the
// reader clears it before it drains the pipe.
int qxWakeMessageSent(void);
void qxClearWakeMessageSent(void);
// Reads one whole message without blocking; 1 when one was read.
int qxReadWakeMessage(qxWakeMessage *message);
// Waits until the read end is readable or timeoutMs passes (-1: no
// limit); 1 when readable.
int qxWaitWakePipe(int timeoutMs);
}
