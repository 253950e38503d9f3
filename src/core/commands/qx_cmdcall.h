// The error state of command calls: the last error, raising on or off, the
// script's own error handler, callback nesting and the failing function
// (file, line, command name) that the error report shows.
#pragma once
#include <cstdint>

#include "core/runtime/qx_options.h"
#include "core/vm/lua.h"
#include "core/vm/qx_cmderror.h"
#include "core/vm/qx_vmregs.h"
#include "platform/qx_objectref.h"

enum : int {
    QX_CMDNAME_SIZE = 128,
    QX_ERRFILE_SIZE = 1024,
};

// Argument kinds of qxCallHookByName.
enum : int {
    QX_HOOKARG_INT = 0,      // int
    QX_HOOKARG_UINT = 1,     // unsigned int
    QX_HOOKARG_STRING = 2,   // const char *
    QX_HOOKARG_NIL = 3,      // an int that is ignored
    QX_HOOKARG_POINTER = 4,  // void *, pushed as light userdata
    QX_HOOKARG_OBJECTREF = 5 // const qxObjectRef *
};

extern "C" {

// Code of the latest failing command (GetLastError); cleared before every
// other command runs.
extern int qxLastError;
// Tag 11 (default 1) and tag 10 of the runtime attributes.
extern uintptr_t qxRaiseOnError;
extern uintptr_t qxCallbackNesting;
// Registry reference of the RaiseOnError handler, -1 when none.
extern int qxErrorHandlerRef;
// Set while the RaiseOnError handler runs.
extern int qxErrorHandlerRunning;
// Set by a plug-in (host attribute 43): the RaiseOnError handler is not called.
extern int qxErrorHandlerBlocked;
// Set by DisableLineHook: the per-line hook then does nothing. Changed
// through qxSetLineHookDisabled, which picks the interpreter's road.
extern int qxLineHookDisabled;
// The GetLastError command, whose calls keep the last error.
extern lua_CFunction qxGetLastErrorCommand;

// What the VM calls before a native handler runs.
inline void qxBeginCommand(lua_CFunction f) {
    if (f != qxGetLastErrorCommand) qxLastError = 0;
}

// Call tracing (DebugOutput): whether the VM prints each command call, and
// the print itself ("Now calling name() with arguments ..."), made while
// the command's frame is the current one.
inline int qxCallTraceEnabled(void) {
    return qxGlobalSettings.debugOutput && !qxGlobalSettings.noDebug && !qxVmAbort;
}
void qxTraceCommandCall(lua_State *L);

// Whether a failing command goes to the RaiseOnError handler: one is set,
// no callback runs, it is not running already, raising is on and no
// plug-in blocks it.
int qxErrorHandlerActive(void);

// Calls the RaiseOnError handler with (code, message, command, line);
// returns the status of its protected call.
int qxCallErrorHandler(lua_State *L, int code);

// The failing function as recorded for the report.
const char *qxGetErrorCommandName(void);
const char *qxGetErrorFileName(void);
int qxGetErrorLine(void);
// Forgets the failing function: command "----", no file, line -1.
void qxResetErrorFunction(void);
// Sets the command name (at most 127 bytes).
void qxSetErrorCommandName(const char *name);

// Calls the global function name (folded to lower case, at most 63
// characters) with nargs arguments given as pairs {kind, value}. 0 after
// the call, 1133 when there is no such function; a null state does nothing.
int qxCallHookByName(lua_State *L, const char *name, int nresults, int nargs, ...);

// Releases the RaiseOnError handler and resets the error state (shutdown).
void qxFreeErrorState(lua_State *L);
}
