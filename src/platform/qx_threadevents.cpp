#include "platform/qx_threadevents.h"

#include "platform/qx_memory.h"
#include "platform/qx_upcalls.h"
#include "platform/qx_wakepipe.h"

extern "C" {

qxThreadEvent *qxThreadEventQueue;
qxMutex *qxThreadEventMutex;

int qxCreateThreadEventQueue(void)
{
    if (qxThreadEventMutex)
        return 0;
    qxThreadEventMutex = qxCreateMutex();
    return qxThreadEventMutex ? 0 : 1298;
}

void qxDeleteThreadEventQueue(void)
{
    if (!qxThreadEventMutex)
        return;
    qxLockMutex(qxThreadEventMutex);
    while (qxThreadEvent *node = qxThreadEventQueue) {
        qxThreadEventQueue = node->next;
        qxFree(node);
    }
    qxUnlockMutex(qxThreadEventMutex);
    qxDeleteMutex(qxThreadEventMutex);
    qxThreadEventMutex = nullptr;
}

void qxWakeEventLoop(void)
{
    if (qxUpcalls.wakeEventLoop)
        qxUpcalls.wakeEventLoop();
    else
        qxSendWakeMessage(QX_WAKE_ONLY, 0);
}

int qxPostThreadEvent(uint32_t type, qxObjectRef id, uint32_t unit, uint32_t count, uint32_t extra,
                      int wake)
{
    qxMutex *mutex = qxThreadEventMutex;
    if (!mutex)
        return 0;
    auto *node = static_cast<qxThreadEvent *>(qxAlloc(sizeof(qxThreadEvent), 1));
    if (node) {
        node->type = type;
        node->id = id;
        node->arg2 = count;
        node->arg1 = (count - 1) * unit + (type == QX_THREADEVENT_SAMPLE_END ? extra : 0);
        qxLockMutex(mutex);
        qxThreadEvent **tail = &qxThreadEventQueue;
        while (*tail)
            tail = &(*tail)->next;
        *tail = node;
        qxUnlockMutex(mutex);
    }
    // The wake happens outside the lock: no two of our mutexes are held at once.
    if (wake)
        qxWakeEventLoop();
    return node != nullptr;
}

int qxPopThreadEvent(uint32_t *type, qxObjectRef *id, uint32_t *arg1, uint32_t *arg2)
{
    qxMutex *mutex = qxThreadEventMutex;
    if (!mutex)
        return 0;
    qxLockMutex(mutex);
    qxThreadEvent *node = qxThreadEventQueue;
    if (node)
        qxThreadEventQueue = node->next;
    qxUnlockMutex(mutex);
    if (!node)
        return 0;
    *type = node->type;
    *id = node->id;
    *arg1 = node->arg1;
    *arg2 = node->arg2;
    qxFree(node);
    return 1;
}
}
