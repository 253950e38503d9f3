// What start-up needs of the display and event libraries.
#pragma once

#include "core/runtime/qx_startup.h"
#include "core/vm/lua.h"

#include <cstdint>

extern "C" {
int qxOpenFirstDisplay(lua_State *L, qxAppletInfo *applet, qxStartupInfo *startup);
// The per-line hook: runs the runtime callbacks and polls events.
void qxPollEventsIfAllowed(lua_State *L, lua_Debug *ar, int *result, CallInfo *frame);
}
