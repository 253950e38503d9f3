// Openers and close functions of the command libraries of this folder.
#pragma once

struct lua_State;
struct qxTagItem;

extern "C" {
// The player's start as qxGetSeconds gave it, recorded by the event
// library's opener; timestamps "since the start" count from it.
extern double qxEventStartTime;
int qxOpenGraphicsLib(lua_State *L);
void qxGraphicsLibFree(lua_State *L);
int qxOpenEventLib(lua_State *L);
void qxFreeEventLib(lua_State *L);
int qxOpenDisplayLib(lua_State *L);
void qxCloseDisplayLib(lua_State *L);
int qxGraphicsAttrGetter(qxTagItem *item);
int qxGraphicsAttrSetter(qxTagItem *item);
}
