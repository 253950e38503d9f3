// Anim streams: anim files written frame by frame (GIF, Motion-JPEG AVI),
// and SaveAnim, which writes a whole anim through the same writers.
#pragma once
#include <cstdint>

typedef struct lua_State lua_State;

extern "C" {
int qxCmdSaveAnim(lua_State *L);
int qxCmdBeginAnimStream(lua_State *L);
int qxCmdWriteAnimFrame(lua_State *L);
int qxCmdFinishAnimStream(lua_State *L);
// Finishes and frees every open stream (library close).
void qxFinishAllAnimStreams(void);
}
