// Openers and close functions of the command libraries of this folder.
#pragma once

#include <cstdint>

#include "platform/qx_objectref.h"

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
// The bytes [offset, offset + length) of a memory block; 0, 1041, 1180 or
// 1146 when they are not all inside it.
int qxMemBlockRange(qxObjectRef ref, int64_t offset, int64_t length, const uint8_t **out);
int qxOpenARexxLib(lua_State *L);
}
