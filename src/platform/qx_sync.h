// Time values, delays, recursive mutexes, condition records and threads.
#pragma once
#include <pthread.h>
#include <cstdint>

struct qxTimeVal {
    uint32_t seconds;
    uint32_t microseconds;
};

typedef pthread_mutex_t qxMutex;

// Flag-and-condition signal record; the waiter supplies the mutex.
struct qxCondRecord {
    uint32_t signalled;
    pthread_cond_t cond;
};

// A named server thread with its start handshake.
struct qxThreadRecord {
    pthread_t thread;
    pthread_cond_t cond;
    pthread_mutex_t mutex;
    void *userData;
    uint32_t startFailed;
    uint32_t startReported;
    uint32_t stopRequested; // written by the creator, polled by the thread
    uint32_t endRequested;
};

typedef void *(*qxThreadFunc)(void *arg);

extern "C" {
void qxGetSysTime(qxTimeVal *tv);
void qxSubTime(qxTimeVal *a, const qxTimeVal *b);
void qxAddTime(qxTimeVal *a, const qxTimeVal *b);
int qxCmpTime(const qxTimeVal *a, const qxTimeVal *b);
double qxGetSeconds(void);
void qxDelay(uint32_t ms);

qxMutex *qxCreateMutex(void);
void qxDeleteMutex(qxMutex *m);
int qxLockMutex(qxMutex *m);
int qxUnlockMutex(qxMutex *m);
int qxTryLockMutex(qxMutex *m);
int qxInitRecursiveMutex(pthread_mutex_t *m);

qxCondRecord *qxCreateCond(void);
void qxDeleteCond(qxCondRecord *c);
void qxSignalCond(qxCondRecord *c);
int qxWaitCond(qxCondRecord *c, qxMutex *mutex, int ignored);

pthread_t qxCreateThread(qxThreadFunc start, void *arg, int priority);
qxThreadRecord *qxCreateServerThread(const char *name, qxThreadFunc start, void *userData,
                                     void *reserved, int stackHint, int priority);
qxThreadRecord *qxThreadFromArg(void *arg);
void *qxThreadUserData(qxThreadRecord *record);
void qxThreadSignalStart(qxThreadRecord *record);
void qxThreadReportStart(qxThreadRecord *record, int failed);
int qxThreadStopRequested(qxThreadRecord *record);
void qxWaitThreadEnd(qxThreadRecord *record);
void qxRequestThreadStop(qxThreadRecord *record);
void qxEndServerThread(qxThreadRecord *record);
}
