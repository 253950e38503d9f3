// Script timers as POSIX timers on CLOCK_REALTIME that raise SIGRTMIN, the
// timer list under its mutex, the shared 20 ms interval and the sleep that
// keeps serving events.
#pragma once
#include <csignal>
#include <cstdint>
#include <ctime>

#include "platform/qx_objectref.h"

typedef struct lua_State lua_State;

enum : uint32_t { QX_SYSTIMER_INTERVAL = 0, QX_SYSTIMER_TIMEOUT = 1, QX_SYSTIMER_NONE = 9 };

// One running script timer; owned by the timer list.
struct qxSysTimer {
    qxSysTimer *next;
    uint32_t kind; // 0 interval (periodic), 1 timeout (one-shot)
    qxObjectRef id;
    uint32_t fired; // an expiry seen and not yet collected
    timer_t timer;
};

// Operations of qxTimerControl.
enum {
    QX_TIMER_NEW_INTERVAL = 0,
    QX_TIMER_NEW_TIMEOUT = 1,
    QX_TIMER_DELETE_INTERVAL = 2,
    QX_TIMER_DELETE_TIMEOUT = 3,
    QX_TIMER_CHANGE_INTERVAL = 4,
};

// Users of the shared 20 ms interval.
enum { QX_TIMER_USER_SOUND = 0, QX_TIMER_USER_EVENTS = 1 };

extern "C" {
// Installs the SIGRTMIN handler and creates the timer-list mutex: 0, 1359
// or 1298. A second call keeps what the first made.
int qxInitSysTimers(void);
void qxFreeAllSysTimers(void);
void qxExitSysTimers(void);

void qxTimerSignalHandler(int signal, siginfo_t *info, void *context);
// Set by the handler when the delay timer of qxSleepWithEvents expired.
int qxDelayExpired(void);

// 1 on success with *timer set, 0 on failure.
int qxStartPosixTimer(int periodic, uint32_t ms, void *node, timer_t *timer);
int qxTimerControl(int op, qxObjectRef id, uint32_t ms);
qxSysTimer *qxFindSysTimer(uint32_t kind, qxObjectRef id, qxSysTimer **next);
void qxSetTimerFired(qxSysTimer *node);
// Handles one wake-up message of type 1 (other types are ignored).
void qxHandleTimerMessage(uint64_t type, uint64_t data);
// One step of the walk over fired timers: pass NULL first, then the result
// until it is NULL. *kind is 9 when the node had not fired, 0 for an
// interval, 1 for a timeout (whose node is freed).
qxSysTimer *qxCollectFiredTimer(qxSysTimer *node, uint32_t *kind, qxObjectRef *id);

int qxAddTimerUser(lua_State *L, int user);
void qxRemTimerUser(lua_State *L, int user);

// Sleeps ms milliseconds while events keep being served: 0 after the
// delay, else the error that ended the wait (1003 for a quit request).
int qxSleepWithEvents(lua_State *L, uint32_t ms);
}
