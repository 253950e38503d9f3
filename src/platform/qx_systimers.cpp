#include "platform/qx_systimers.h"

#include <atomic>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "platform/qx_memory.h"
#include "platform/qx_sync.h"
#include "platform/qx_upcalls.h"
#include "platform/qx_wakepipe.h"

namespace {

qxSysTimer *timerList;
qxMutex *timerListMutex;
bool handlerInstalled;
// Lock-free, so the signal handler may set it.
std::atomic<int> delayExpired;
static_assert(std::atomic<int>::is_always_lock_free);

// Users of the shared interval; touched only by the script thread.
int timerUsers[2];
const qxObjectRef sharedIntervalId{0, reinterpret_cast<void *>(1)};

bool sameId(const qxObjectRef &a, const qxObjectRef &b)
{
    return a.number == b.number && a.automatic == b.automatic;
}

struct TimerListLock {
    TimerListLock() { qxLockMutex(timerListMutex); }
    ~TimerListLock() { qxUnlockMutex(timerListMutex); }
};

// Unlinks node from the list (caller holds the mutex).
void unlinkTimer(qxSysTimer *node)
{
    for (qxSysTimer **p = &timerList; *p; p = &(*p)->next) {
        if (*p == node) {
            *p = node->next;
            return;
        }
    }
}

} // namespace

extern "C" {

int qxInitSysTimers(void)
{
    if (!handlerInstalled) {
        struct sigaction action {};
        action.sa_sigaction = qxTimerSignalHandler;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&action.sa_mask);
        if (sigaction(SIGRTMIN, &action, nullptr) != 0)
            return 1359;
        handlerInstalled = true;
    }
    if (!timerListMutex) {
        timerListMutex = qxCreateMutex();
        if (!timerListMutex)
            return 1298;
    }
    return 0;
}

void qxFreeAllSysTimers(void)
{
    if (!timerListMutex)
        return;
    TimerListLock lock;
    while (qxSysTimer *node = timerList) {
        timerList = node->next;
        timer_delete(node->timer);
        qxFree(node);
    }
}

void qxExitSysTimers(void)
{
    qxFreeAllSysTimers();
    if (timerListMutex) {
        qxDeleteMutex(timerListMutex);
        timerListMutex = nullptr;
    }
}

void qxTimerSignalHandler(int, siginfo_t *info, void *)
{
    void *node = info ? info->si_value.sival_ptr : nullptr;
    if (!node) {
        delayExpired.store(1);
        qxSendWakeMessage(QX_WAKE_ONLY, 0);
    } else {
        qxSendWakeMessage(QX_WAKE_TIMER, reinterpret_cast<uintptr_t>(node));
    }
}

int qxDelayExpired(void) { return delayExpired.load(); }

int qxStartPosixTimer(int periodic, uint32_t ms, void *node, timer_t *timer)
{
    // The signal goes to the creating thread (the script thread, which
    // waits for it): sent to the process it could land on any other thread,
    // interrupt that thread's calls and reach the waiting one only through
    // a second wake-up.
    sigevent event{};
    event.sigev_notify = SIGEV_THREAD_ID;
    event._sigev_un._tid = (pid_t)syscall(SYS_gettid);
    event.sigev_signo = SIGRTMIN;
    event.sigev_value.sival_ptr = node;
    timer_t created;
    if (timer_create(CLOCK_REALTIME, &event, &created) != 0) {
        event.sigev_notify = SIGEV_SIGNAL;
        if (timer_create(CLOCK_REALTIME, &event, &created) != 0)
            return 0;
    }
    // A zero expiry would disarm the timer for good: 1 ms stands in.
    if (ms == 0)
        ms = 1;
    itimerspec spec{};
    spec.it_value.tv_sec = ms / 1000;
    spec.it_value.tv_nsec = (long)(ms % 1000) * 1000000L;
    if (periodic)
        spec.it_interval = spec.it_value;
    if (timer_settime(created, 0, &spec, nullptr) != 0) {
        timer_delete(created);
        return 0;
    }
    *timer = created;
    return 1;
}

int qxTimerControl(int op, qxObjectRef id, uint32_t ms)
{
    if (op < 0 || op > QX_TIMER_CHANGE_INTERVAL)
        return 0;
    if (!timerListMutex) // qxInitSysTimers was not called
        return op <= QX_TIMER_NEW_TIMEOUT ? 1297 : 0;
    TimerListLock lock;
    switch (op) {
    case QX_TIMER_NEW_INTERVAL:
    case QX_TIMER_NEW_TIMEOUT: {
        auto *node = static_cast<qxSysTimer *>(qxAlloc(sizeof(qxSysTimer), 1));
        if (!node)
            return 1000;
        node->kind = (uint32_t)op;
        node->id = id;
        if (!qxStartPosixTimer(op == QX_TIMER_NEW_INTERVAL, ms, node, &node->timer)) {
            qxFree(node);
            return 1297;
        }
        qxSysTimer **tail = &timerList;
        while (*tail)
            tail = &(*tail)->next;
        *tail = node;
        return 0;
    }
    case QX_TIMER_DELETE_INTERVAL:
    case QX_TIMER_DELETE_TIMEOUT: {
        uint32_t kind = op == QX_TIMER_DELETE_INTERVAL ? QX_SYSTIMER_INTERVAL : QX_SYSTIMER_TIMEOUT;
        for (qxSysTimer **p = &timerList; *p; p = &(*p)->next) {
            qxSysTimer *node = *p;
            if (node->kind == kind && sameId(node->id, id)) {
                *p = node->next;
                timer_delete(node->timer);
                qxFree(node);
                break;
            }
        }
        return 0;
    }
    default: { // change an interval's period
        for (qxSysTimer *node = timerList; node; node = node->next) {
            if (node->kind != QX_SYSTIMER_INTERVAL || !sameId(node->id, id))
                continue;
            timer_t replacement;
            if (!qxStartPosixTimer(1, ms, node, &replacement))
                return 1297;
            timer_delete(node->timer);
            node->timer = replacement;
            return 0;
        }
        return 0;
    }
    }
}

qxSysTimer *qxFindSysTimer(uint32_t kind, qxObjectRef id, qxSysTimer **next)
{
    if (!timerListMutex)
        return nullptr;
    TimerListLock lock;
    for (qxSysTimer *node = timerList; node; node = node->next) {
        if (node->kind == kind && sameId(node->id, id)) {
            if (next)
                *next = node->next;
            return node;
        }
    }
    return nullptr;
}

void qxSetTimerFired(qxSysTimer *node)
{
    if (!timerListMutex)
        return;
    TimerListLock lock;
    // A message for a node deleted meanwhile finds nothing.
    for (qxSysTimer *p = timerList; p; p = p->next) {
        if (p == node) {
            p->fired = 1;
            return;
        }
    }
}

void qxHandleTimerMessage(uint64_t type, uint64_t data)
{
    if (type == QX_WAKE_TIMER)
        qxSetTimerFired(reinterpret_cast<qxSysTimer *>(static_cast<uintptr_t>(data)));
}

qxSysTimer *qxCollectFiredTimer(qxSysTimer *node, uint32_t *kind, qxObjectRef *id)
{
    *kind = QX_SYSTIMER_NONE;
    if (!timerListMutex)
        return nullptr;
    TimerListLock lock;
    if (!node) {
        node = timerList;
    } else {
        // A callback run between two steps may have deleted the node the
        // walk goes on from: the walk then ends (its fired flags stay).
        qxSysTimer *p = timerList;
        while (p && p != node)
            p = p->next;
        node = p;
    }
    if (!node)
        return nullptr;
    qxSysTimer *next = node->next;
    if (node->fired) {
        *id = node->id;
        if (node->kind == QX_SYSTIMER_TIMEOUT) {
            unlinkTimer(node);
            timer_delete(node->timer);
            qxFree(node);
            *kind = QX_SYSTIMER_TIMEOUT;
        } else {
            node->fired = 0;
            *kind = QX_SYSTIMER_INTERVAL;
        }
    }
    return next;
}

int qxAddTimerUser(lua_State *L, int user)
{
    if (user < 0 || user > 1)
        return 0;
    if (!timerUsers[0] && !timerUsers[1]) {
        int r = qxUpcalls.createSystemInterval
                    ? qxUpcalls.createSystemInterval(L, 20)
                    : qxTimerControl(QX_TIMER_NEW_INTERVAL, sharedIntervalId, 20);
        if (r)
            return r;
    }
    timerUsers[user] = 1;
    return 0;
}

void qxRemTimerUser(lua_State *L, int user)
{
    if (user < 0 || user > 1 || !timerUsers[user])
        return;
    timerUsers[user] = 0;
    if (timerUsers[0] || timerUsers[1])
        return;
    if (qxUpcalls.deleteSystemInterval)
        qxUpcalls.deleteSystemInterval(L);
    else
        qxTimerControl(QX_TIMER_DELETE_INTERVAL, sharedIntervalId, 0);
}

// Without the event library: drain the pipe, handing timer messages on.
static void drainWakePipe(void)
{
    qxWakeMessage message;
    while (qxReadWakeMessage(&message))
        qxHandleTimerMessage(message.type, message.data);
}

static int waitEvents(lua_State *L)
{
    if (qxUpcalls.waitEvents)
        return qxUpcalls.waitEvents(L);
    qxWaitWakePipe(-1);
    drainWakePipe();
    return 0;
}

static int pollEvents(lua_State *L)
{
    if (qxUpcalls.pollEvents)
        return qxUpcalls.pollEvents(L, 2);
    drainWakePipe();
    return 0;
}

int qxSleepWithEvents(lua_State *L, uint32_t ms)
{
    if (ms == 0)
        return 0;
    if (qxUpcalls.adapterSleep && qxUpcalls.adapterSleep(L, ms))
        return 0;
    // Without the handler SIGRTMIN would end the process.
    if (!handlerInstalled || (!qxUpcalls.waitEvents && !qxCreateWakePipe()))
        return 0;
    delayExpired.store(0);
    timer_t delay;
    if (!qxStartPosixTimer(0, ms, nullptr, &delay))
        return 0;
    int result = 0;
    do {
        if ((result = waitEvents(L)))
            break;
        if (delayExpired.load())
            break;
        if (int r = pollEvents(L)) {
            result = r;
            break;
        }
    } while (!delayExpired.load());
    timer_delete(delay);
    return result;
}
}
