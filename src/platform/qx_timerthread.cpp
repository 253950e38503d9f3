#include "platform/qx_timerthread.h"

#include <atomic>

#include "platform/qx_sync.h"
#include "platform/qx_systimers.h"
#include "platform/qx_threadevents.h"
#include "platform/qx_upcalls.h"
#include "platform/qx_wakepipe.h"

namespace {
pthread_t timerThread;
bool timerThreadRunning;
// Also set beside the stop message: a full pipe would drop that message.
std::atomic<int> stopRequested;
} // namespace

extern "C" {

void *qxTimerMessageThread(void *)
{
    for (;;) {
        qxWaitWakePipe(-1);
        bool stop = false;
        qxWakeMessage message;
        while (qxReadWakeMessage(&message)) {
            switch (message.type) {
            case QX_WAKE_TIMER:
                qxHandleTimerMessage(message.type, message.data);
                qxWakeEventLoop();
                break;
            case QX_WAKE_ONLY:
                qxWakeEventLoop();
                break;
            case QX_WAKE_STOP_THREAD:
                stop = true;
                break;
            default:
                break;
            }
        }
        if (stop || stopRequested.load())
            return nullptr;
    }
}

int qxStartTimerThread(void)
{
    if (!qxDisplayAdapterActive() || timerThreadRunning)
        return 0;
    // The pipe is made before the thread so that no early message is lost.
    if (!qxCreateWakePipe())
        return 1287;
    stopRequested.store(0);
    timerThread = qxCreateThread(qxTimerMessageThread, nullptr, 100);
    if (!timerThread)
        return 1287;
    timerThreadRunning = true;
    return 0;
}

void qxStopTimerThread(void)
{
    if (!timerThreadRunning)
        return;
    stopRequested.store(1);
    qxSendWakeMessage(QX_WAKE_STOP_THREAD, 0);
    pthread_join(timerThread, nullptr);
    timerThreadRunning = false;
}

int qxStartTimerMessageThread(void) { return qxStartTimerThread(); }
void qxStopTimerMessageThread(void) { qxStopTimerThread(); }
}
