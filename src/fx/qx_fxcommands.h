// Command handlers of the "transitionfx" library.
#pragma once

struct lua_State;

extern "C" {
int qxCmdDisplayBrushFX(lua_State *L);
int qxCmdDisplayTextObjectFX(lua_State *L);
int qxCmdDisplayBGPicPartFX(lua_State *L);
int qxCmdDisplayTransitionFX(lua_State *L);
int qxCmdShowLayerFX(lua_State *L);
int qxCmdHideLayerFX(lua_State *L);
int qxCmdRemoveLayerFX(lua_State *L);
int qxCmdUndoFX(lua_State *L);
int qxCmdClearScreen(lua_State *L);
int qxCmdGetRandomFX(lua_State *L);
}
