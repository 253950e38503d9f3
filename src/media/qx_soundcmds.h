// Pieces of the "sound" library shared between its source files.
#pragma once
#include <cstdint>

#include "core/commands/qx_commands.h"
#include "media/qx_sound.h"

// The sample commands (qx_samples.cpp), ended by a null row.
extern const qxCommandDef *const qxSampleCommands;
extern const qxNames qxSampleCommandNames;
// 0 to go on, 1 when the command quietly does nothing, else the error of
// an open failure when sound is forced. Commands that only keep values of
// their object or free it open nothing: they change an object the script
// made without sound too, and quietly do nothing when it is missing
// (qxSoundOff).
int qxSoundNeeded(lua_State *L);
// The passes, last-pass length and pass duration of a sample channel.
void qxSetupPasses(qxChannel *c, uint32_t frames, uint32_t pitch, uint32_t passes, int64_t time);

// The {loader, adapter} options table of the load commands.
struct qxLoaderOptions {
    char loader[257] = "";
    char adapter[257] = "";
    int haveLoader = 0, haveAdapter = 0;
    qxSoundSource source(uint32_t subsong = 0) const
    {
        return {haveLoader ? loader : nullptr, haveAdapter ? adapter : nullptr, subsong};
    }
};
// Reads the options of argument idx when it is given (a table, else 1055).
void qxReadLoaderOptions(lua_State *L, int idx, qxLoaderOptions *out);

// The playing commands (qx_sampleplay.cpp).
int qxCmdPlaySample(lua_State *L);
int qxCmdStopSample(lua_State *L);
int qxCmdWaitSampleEnd(lua_State *L);
int qxCmdIsSamplePlaying(lua_State *L);
int qxCmdSetVolume(lua_State *L);
int qxCmdSetPitch(lua_State *L);
int qxCmdSetPanning(lua_State *L);
