// The runtime event queue: events fetched on the script thread wait here
// until the event library hands them to the script.
#include "core/runtime/qx_eventqueue.h"

#include "platform/qx_sync.h"

static qxMutex *eventQueueMutex;

extern "C" {

int qxInitEventQueue(void)
{
    eventQueueMutex = qxCreateMutex();
    return eventQueueMutex ? 0 : 1298;
}

void qxFreeEventQueue(void) {}

void qxDeleteEventQueueMutex(void)
{
    qxDeleteMutex(eventQueueMutex);
    eventQueueMutex = nullptr;
}
}
