// The timer message thread: while a display adapter plug-in runs the event
// loop, it reads the wake-up pipe in place of the X11 pump, flags fired
// timers and makes the adapter iterate.
#pragma once

extern "C" {
// 0 without a display adapter (nothing started), else 0 or 1287.
int qxStartTimerThread(void);
// Asks the thread to stop and waits for its end.
void qxStopTimerThread(void);
void *qxTimerMessageThread(void *arg);

// Names used by start-up around the main script run.
int qxStartTimerMessageThread(void);
void qxStopTimerMessageThread(void);
}
