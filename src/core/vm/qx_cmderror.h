// Entry points of the runtime's command-error policy that the VM calls.
#pragma once

struct lua_State;

extern "C" {

// A command returned an error code in a plain call: store it, and either
// throw it or return so that the script goes on without results.
void qxRaiseCommandError(lua_State *L, int code);

// Note the failing function (file, line, command name) for the error report.
void qxRecordErrorFunction(lua_State *L);

} // extern "C"
