// Openers and close functions of the command libraries of this folder.
#pragma once

struct lua_State;

extern "C" {
int qxOpenStringLib(lua_State *L);
int qxOpenMathLib(lua_State *L);
int qxOpenDosLib(lua_State *L);
void qxCloseDosLib(lua_State *L);
int qxOpenSystemLib(lua_State *L);
void qxFreeSystemLib(lua_State *L);
int qxOpenMemBlockLib(lua_State *L);
void qxFreeAllMemBlocks(lua_State *L);
int qxOpenARexxLib(lua_State *L);
}
