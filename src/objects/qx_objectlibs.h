// Openers and close functions of the command libraries of this folder.
#pragma once

struct lua_State;

extern "C" {
int qxOpenAnimLib(lua_State *L);
void qxFreeAllAnims(lua_State *L);
int qxOpenBrushLib(lua_State *L);
void qxFreeAllBrushes(lua_State *L);
int qxOpenBGPicLib(lua_State *L);
void qxFreeAllBGPics(lua_State *L);
int qxOpenIconLib(lua_State *L);
void qxFreeIcons(lua_State *L);
}
