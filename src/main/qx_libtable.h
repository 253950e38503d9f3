// The command libraries: their openers in opening order, and their closing.
#pragma once
#include "core/commands/qx_commands.h"

extern "C" {
extern const qxLibraryDef qxLibraryTable[];
// Closes every command library in the shutdown order.
void qxCloseCommandLibraries(lua_State *L);
}
