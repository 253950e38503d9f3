// Openers and close functions of the command libraries of this folder.
#pragma once

struct lua_State;

extern "C" {
int qxOpenTransitionFXLib(lua_State *L);
}
