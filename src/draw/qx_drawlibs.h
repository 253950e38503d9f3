// Openers and close functions of the command libraries of this folder.
#pragma once

struct lua_State;

extern "C" {
int qxOpenDrawLib(lua_State *L);
void qxFreeDrawLibrary(void);
int qxOpenTextLib(lua_State *L);
void qxTextLibFree(lua_State *L);
int qxOpenVectorGraphicsLib(lua_State *L);
void qxVectorLibClose(lua_State *L);
void qxFreeDrawBuffers(void);
void qxInitRotationPresets(void);
}
