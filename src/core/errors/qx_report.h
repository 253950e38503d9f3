// The error report at the end of a failed run.
#pragma once

#include "core/runtime/qx_startup.h"

extern "C" {
// Formats the final error into startup->errorText and shows it on the
// console (DEBUGDEVICE) or through the message requester.
void qxReportFinalError(int code, lua_State *L, qxStartupInfo *startup);
}
