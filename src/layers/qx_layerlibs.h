// Openers and close functions of the command libraries of this folder.
#pragma once

struct lua_State;

extern "C" {
int qxOpenMoveObjectLib(lua_State *L);
int qxOpenLayersLib(lua_State *L);
void qxLayerLibClose(void);
int qxOpenSpriteLib(lua_State *L);
void qxFreeAllSprites(lua_State *L);
}
