// Openers and close functions of the command libraries of this folder.
#pragma once

struct lua_State;

extern "C" {
int qxOpenSerialLib(lua_State *L);
void qxFreeSerialPorts(lua_State *L);
int qxOpenNetworkLib(lua_State *L);
void qxFreeNetObjects(void);
}
