#include "platform/qx_sync.h"

#include <cerrno>
#include <sched.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform/qx_memory.h"

extern "C" {

void qxGetSysTime(qxTimeVal *tv)
{
    timeval now;
    gettimeofday(&now, nullptr);
    tv->seconds = (uint32_t)now.tv_sec;
    tv->microseconds = (uint32_t)now.tv_usec;
}

void qxSubTime(qxTimeVal *a, const qxTimeVal *b)
{
    if (a->microseconds < b->microseconds) {
        a->seconds = a->seconds - 1 - b->seconds;
        a->microseconds = a->microseconds + 1000000 - b->microseconds;
    } else {
        a->seconds -= b->seconds;
        a->microseconds -= b->microseconds;
    }
}

void qxAddTime(qxTimeVal *a, const qxTimeVal *b)
{
    a->seconds += b->seconds;
    a->microseconds += b->microseconds;
    if (a->microseconds > 999999) {
        a->microseconds -= 1000000;
        a->seconds++;
    }
}

int qxCmpTime(const qxTimeVal *a, const qxTimeVal *b)
{
    if (a->seconds != b->seconds)
        return a->seconds < b->seconds ? -1 : 1;
    if (a->microseconds != b->microseconds)
        return a->microseconds < b->microseconds ? -1 : 1;
    return 0;
}

double qxGetSeconds(void)
{
    qxTimeVal tv;
    qxGetSysTime(&tv);
    return tv.seconds + tv.microseconds / 1e6;
}

void qxDelay(uint32_t ms)
{
    if (ms >= 1000)
        sleep(ms / 1000);
    if (ms % 1000)
        usleep((ms % 1000) * 1000);
}

int qxInitRecursiveMutex(pthread_mutex_t *m)
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    int r = pthread_mutex_init(m, &attr);
    pthread_mutexattr_destroy(&attr);
    return r;
}

qxMutex *qxCreateMutex(void)
{
    auto *m = static_cast<qxMutex *>(qxAlloc(sizeof(qxMutex), 1));
    if (!m)
        return nullptr;
    if (qxInitRecursiveMutex(m) != 0) {
        qxFree(m);
        return nullptr;
    }
    return m;
}

void qxDeleteMutex(qxMutex *m)
{
    if (!m)
        return;
    pthread_mutex_destroy(m);
    qxFree(m);
}

int qxLockMutex(qxMutex *m) { return pthread_mutex_lock(m); }
int qxUnlockMutex(qxMutex *m) { return pthread_mutex_unlock(m); }
int qxTryLockMutex(qxMutex *m) { return pthread_mutex_trylock(m) == 0 ? 1 : 0; }

qxCondRecord *qxCreateCond(void)
{
    auto *c = static_cast<qxCondRecord *>(qxAlloc(sizeof(qxCondRecord), 1));
    if (!c)
        return nullptr;
    c->signalled = 0;
    if (pthread_cond_init(&c->cond, nullptr) != 0) {
        qxFree(c);
        return nullptr;
    }
    return c;
}

void qxDeleteCond(qxCondRecord *c)
{
    if (!c)
        return;
    pthread_cond_destroy(&c->cond);
    qxFree(c);
}

void qxSignalCond(qxCondRecord *c)
{
    c->signalled = 1;
    pthread_cond_signal(&c->cond);
}

int qxWaitCond(qxCondRecord *c, qxMutex *mutex, int)
{
    while (!c->signalled)
        if (pthread_cond_wait(&c->cond, mutex) != 0)
            return -1;
    c->signalled = 0;
    return 0;
}

pthread_t qxCreateThread(qxThreadFunc start, void *arg, int priority)
{
    pthread_t thread{};
    if (priority != 0) {
        pthread_attr_t attr;
        sched_param param{};
        int maxPrio = sched_get_priority_max(SCHED_RR);
        if (pthread_attr_init(&attr) == 0) {
            // Without explicit scheduling the attribute's policy would be
            // ignored and the thread would inherit ours.
            bool ok = pthread_attr_setinheritsched(&attr, PTHREAD_EXPLICIT_SCHED) == 0 &&
                      pthread_attr_setschedpolicy(&attr, SCHED_RR) == 0 &&
                      pthread_attr_getschedparam(&attr, &param) == 0;
            if (ok) {
                param.sched_priority = priority < maxPrio ? priority : maxPrio;
                ok = pthread_attr_setschedparam(&attr, &param) == 0;
            }
            if (ok) {
                int r = pthread_create(&thread, &attr, start, arg);
                pthread_attr_destroy(&attr);
                if (r == 0)
                    return thread;
                // A real-time policy the system refuses (no privilege) is not a
                // failure of the thread: run it with default scheduling.
                if (r != EPERM)
                    return 0;
            } else {
                pthread_attr_destroy(&attr);
            }
        }
    }
    if (pthread_create(&thread, nullptr, start, arg) != 0)
        return 0;
    return thread;
}

qxThreadRecord *qxCreateServerThread(const char *, qxThreadFunc start, void *userData, void *, int,
                                     int priority)
{
    auto *rec = static_cast<qxThreadRecord *>(qxAlloc(sizeof(qxThreadRecord), 1));
    if (!rec)
        return nullptr;
    rec->userData = userData;
    if (qxInitRecursiveMutex(&rec->mutex) != 0) {
        qxFree(rec);
        return nullptr;
    }
    if (pthread_cond_init(&rec->cond, nullptr) != 0) {
        pthread_mutex_destroy(&rec->mutex);
        qxFree(rec);
        return nullptr;
    }
    rec->thread = qxCreateThread(start, rec, priority);
    if (!rec->thread) {
        pthread_cond_destroy(&rec->cond);
        pthread_mutex_destroy(&rec->mutex);
        qxFree(rec);
        return nullptr;
    }
    pthread_mutex_lock(&rec->mutex);
    while (!rec->startReported)
        pthread_cond_wait(&rec->cond, &rec->mutex);
    pthread_mutex_unlock(&rec->mutex);
    if (!rec->startFailed)
        return rec;
    pthread_join(rec->thread, nullptr);
    pthread_cond_destroy(&rec->cond);
    pthread_mutex_destroy(&rec->mutex);
    qxFree(rec);
    return nullptr;
}

qxThreadRecord *qxThreadFromArg(void *arg) { return static_cast<qxThreadRecord *>(arg); }
void *qxThreadUserData(qxThreadRecord *record) { return record->userData; }

void qxThreadSignalStart(qxThreadRecord *record)
{
    pthread_mutex_lock(&record->mutex);
    record->startReported = 1;
    pthread_cond_signal(&record->cond);
    pthread_mutex_unlock(&record->mutex);
}

void qxThreadReportStart(qxThreadRecord *record, int failed)
{
    record->startFailed = failed ? 1 : 0;
    if (failed)
        qxThreadSignalStart(record);
}

int qxThreadStopRequested(qxThreadRecord *record)
{
    return __atomic_load_n(&record->stopRequested, __ATOMIC_ACQUIRE);
}

void qxWaitThreadEnd(qxThreadRecord *record)
{
    while (!__atomic_load_n(&record->endRequested, __ATOMIC_ACQUIRE))
        usleep(1000);
}

void qxRequestThreadStop(qxThreadRecord *record)
{
    __atomic_store_n(&record->stopRequested, 1, __ATOMIC_RELEASE);
}

void qxEndServerThread(qxThreadRecord *record)
{
    if (!record)
        return;
    __atomic_store_n(&record->endRequested, 1, __ATOMIC_RELEASE);
    pthread_join(record->thread, nullptr);
    pthread_cond_destroy(&record->cond);
    pthread_mutex_destroy(&record->mutex);
    qxFree(record);
}
}
