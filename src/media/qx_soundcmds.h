// Pieces of the "sound" library shared between its source files.
#pragma once
#include <cstdint>

#include "core/commands/qx_commands.h"
#include "media/qx_sound.h"

// The sample commands (qx_samples.cpp), ended by a null row.
extern const qxCommandDef qxSampleCommands[];
// 0 to go on, 1 when the command quietly does nothing, else the error of
// an open failure when sound is forced.
int qxSoundNeeded(lua_State *L);
// The passes, last-pass length and pass duration of a sample channel.
void qxSetupPasses(qxChannel *c, uint32_t frames, uint32_t pitch, uint32_t passes, int64_t time);

// The playing commands (qx_sampleplay.cpp).
int qxCmdPlaySample(lua_State *L);
int qxCmdStopSample(lua_State *L);
int qxCmdWaitSampleEnd(lua_State *L);
int qxCmdIsSamplePlaying(lua_State *L);
int qxCmdSetVolume(lua_State *L);
int qxCmdSetPitch(lua_State *L);
int qxCmdSetPanning(lua_State *L);
