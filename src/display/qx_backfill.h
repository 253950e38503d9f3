// The backfill of full-screen displays: a monitor-sized display behind the
// full-screen one, showing a colour, gradient, texture or picture. Its
// objects are made and freed through the script's own commands.
#pragma once

#include "platform/qx_displayrecord.h"

struct lua_State;

extern "C" {
// Reads the "backfill" table of the tags at t into the display's backfill
// description (1055 for a bad type or a "brushfile" over 1023 characters,
// 1000 when it cannot be kept). Nothing changes on an error.
int qxReadBackfillTag(lua_State *L, int t, qxDisplay *d);
// Makes the backfill BGPic and display of a full-screen display with a
// backfill type and opens it; the caller opens the display itself after,
// so that it lies on top.
int qxMakeBackfill(lua_State *L, qxDisplay *d);
// Frees the backfill display, BGPic and brush of d, when it has them.
void qxFreeBackfill(lua_State *L, qxDisplay *d);
}
