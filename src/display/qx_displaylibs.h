// Openers and close functions of the command libraries of this folder.
#pragma once

struct lua_State;
struct qxTagItem;

extern "C" {
int qxOpenGraphicsLib(lua_State *L);
void qxGraphicsLibFree(lua_State *L);
int qxOpenEventLib(lua_State *L);
void qxFreeEventLib(lua_State *L);
int qxOpenDisplayLib(lua_State *L);
void qxCloseDisplayLib(lua_State *L);
int qxGraphicsAttrGetter(qxTagItem *item);
int qxGraphicsAttrSetter(qxTagItem *item);
}
