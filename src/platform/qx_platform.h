// Process-level set-up of the platform layer.
#pragma once

extern "C" {
// Arguments and the real path of the program, stored by main.
extern int qxArgc;
extern char **qxArgv;
extern char qxProgramPath[4096];
// Start-up: the locale for character types, the optional libraries, the
// SIGRTMIN handler with the timer-list mutex and the cross-thread event
// queue. 0, 1359, 1298.
int qxInitPlatform(void);
// Shutdown: ends the timer thread and the timers, frees the cross-thread
// queue and closes the optional libraries.
void qxExitPlatform(void);
}
