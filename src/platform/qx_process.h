// External programs and documents, synchronous or on the external-program
// thread that reports the program's end as cross-thread event 10.
#pragma once
#include <sys/types.h>

#include "platform/qx_sync.h"

// One asynchronous run (owned by the dos library). Its address is the
// automatic identifier of the end event.
struct qxProgramRequest {
    qxThreadRecord *thread;
    qxMutex *mutex;
    qxCondRecord *cond;
    const char *program;
    const char *arguments;
    int error; // why the program could not start (0 when it did)
};

extern "C" {
// 0, 1045 (bad path), 1000, 1055 (bad arguments) or 1579 (fork failed).
// Executable files run; documents and URLs go to "xdg-open".
int qxExecute(const char *program, const char *arguments, int asynchronous, pid_t *pid);
int qxRunProgram(const char *program, const char *arguments, int asynchronous);
// 1 when program names a document or URL for "xdg-open" rather than a
// program to run.
int qxIsDocument(const char *path);
// 0 or 1287 (request->error tells why the program did not start).
int qxStartProgramThread(qxProgramRequest *request);
void qxStopProgramThread(qxProgramRequest *request);
}
