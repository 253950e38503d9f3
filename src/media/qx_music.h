// Music objects of the "sound" library (streams and modules).
#pragma once
#include <cstdint>

#include "core/commands/qx_commands.h"
#include "core/commands/qx_objreg.h"
#include "media/qx_sound.h"

constexpr uint32_t QX_TYPE_MUSIC = 33;

struct qxModPlayer;

struct qxMusic {
    qxObjectHeader header;
    char *fileName;
    void *stream; // qxSoundStream (kind 1) or the module's player state (kind 2)
    uint32_t kind;
    uint32_t state; // 0 stopped, 1 playing, 2 paused
    uint32_t volume;
    uint32_t times;
    uint32_t pass;
    uint32_t position;
    uint32_t scriptFed;
    uint32_t seekable;
    uint32_t subsongs;
    uint32_t subsong;
    uint32_t channel;
    void *loader;
    char adapter[256];
    // Modules: the whole file, which the player state reads and is rebuilt from.
    uint8_t *fileData;
    uint32_t fileSize;
    uint64_t baseMs; // streams: the playing time before the current start
    // Script-fed music: frames asked for at the next poll (0 none), the
    // frames fed so far, the refill a fresh start asks for, and the stream's
    // reads and the frames fed when the handler was last asked.
    uint32_t requestFrames;
    uint64_t framesFed;
    uint32_t refill;
    uint32_t readsAtAsk;
    uint64_t fedAtAsk;
};

extern const qxCommandDef *const qxMusicCommands;
extern const qxNames qxMusicCommandNames;
// 0, 1041 or 1231.
int qxFindMusic(qxObjectRef ref, qxMusic **out);
void qxFreeMusicObjects(lua_State *L);
// A music object for a file (not yet listed as a script object).
int qxOpenMusicFile(const char *name, const qxSoundSource *src, qxMusic **out);
// Lists it as a script object under its header's identifier.
void qxAddMusicObject(qxMusic *m);
int qxStartMusic(qxMusic *m);
void qxHaltMusic(qxMusic *m, int pause);
void qxCloseMusicObject(qxMusic *m);
// The module's row (1) or song position (2); -1 for streams and while not playing.
int qxMusicPosition(qxMusic *m, int request);
// Reaps ended channels and brings the music's state up to date.
void qxRefreshMusic(qxMusic *m);
// The position of a stream music in ms (live while it plays); -1 for modules.
int64_t qxMusicPositionMs(qxMusic *m);

extern "C" {
// The event loop's poll for script-fed music: the next music that asks
// for data (a pending request, or a playing music holding less than a
// second queued whose output has read or whose handler has fed since it
// was last asked, and no end buffer), the frames it asks for and those fed
// so far; 1 when found. The request is taken.
int qxFindMusicNeedingData(qxObjectRef *id, uint32_t *frames, uint64_t *fed);
// Renders the ring ahead of the channel's write position again from state
// (after a jump); call under the ALSA lock.
void qxRestartModuleRing(qxChannel *c, const qxModPlayer *state);
}
