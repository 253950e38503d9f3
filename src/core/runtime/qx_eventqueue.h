// The runtime event queue, created at start-up.
#pragma once

extern "C" {
// 0, or 1298 when its mutex cannot be made.
int qxInitEventQueue(void);
void qxFreeEventQueue(void);
void qxDeleteEventQueueMutex(void);
}
