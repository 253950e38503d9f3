// Music objects of the "sound" library: sound streams decoded while they
// play and Protracker modules rendered on the output thread. A module's own
// player state follows what the PCM has played (positions are read from
// it); the channel renders from a private copy one second ahead.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/files/qx_chunkname.h"
#include "core/plugins/qx_plugins.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"
#include "display/qx_events.h"
#include "media/qx_audioadapter.h"
#include "media/qx_modplayer.h"
#include "media/qx_music.h"
#include "media/qx_sample.h"
#include "media/qx_soundcmds.h"
#include "objects/qx_picsource.h"
#include "platform/qx_memory.h"
#include "platform/qx_systimers.h"
#include "platform/qx_upcalls.h"

namespace {

constexpr uint32_t KIND_STREAM = 1, KIND_MODULE = 2;
constexpr uint32_t STOPPED = 0, PLAYING = 1, PAUSED = 2;

qxMusic *musicList;
bool listRegistered;
qxMusic *playingNow, *pausedLast;

qxModPlayer *moduleState(const qxMusic *m) { return static_cast<qxModPlayer *>(m->stream); }
qxSoundStream *soundStream(const qxMusic *m) { return static_cast<qxSoundStream *>(m->stream); }

qxObjectRef refOf(const qxMusic *m) { return {m->header.id, m->header.automatic}; }

bool sameRef(const qxObjectRef &a, const qxObjectRef &b)
{
    return a.number == b.number && a.automatic == b.automatic;
}

// The channel playing the music; null when none (it may have ended).
qxChannel *channelOf(const qxMusic *m)
{
    if (!qxAudio.deviceOpen) return nullptr;
    for (int i = 0; i < qxAudio.count; i++) {
        qxChannel *c = &qxAudio.channels[i];
        uint32_t kind = c->kind.load(std::memory_order_acquire);
        if ((kind == QX_CH_MODULE || kind == QX_CH_STREAM || kind == QX_CH_MUSICSETUP) && c->music == m)
            return c;
    }
    return nullptr;
}

// The sound library uses the shared interval while a script-fed music
// plays, so that a waiting script is woken to feed it. The state it was
// added with removes it again (the reaper has none of its own).
lua_State *timerUserState;

// 0, or the error of the interval that could not be made.
int updateTimerUser(lua_State *L)
{
    bool wanted = false;
    for (qxObjectHeader *h = reinterpret_cast<qxObjectHeader *>(musicList); h && !wanted; h = h->next) {
        auto *m = reinterpret_cast<qxMusic *>(h);
        wanted = m->scriptFed && m->state == PLAYING;
    }
    if (wanted && !timerUserState && L) {
        if (int r = qxAddTimerUser(L, QX_TIMER_USER_SOUND)) return r;
        timerUserState = L;
    } else if (!wanted && timerUserState) {
        qxRemTimerUser(timerUserState, QX_TIMER_USER_SOUND);
        timerUserState = nullptr;
    }
    return 0;
}

// Drops the queue of a script-fed stream (under its lock).
void dropQueue(qxSoundStream *s)
{
    pthread_mutex_lock(&s->queueMutex);
    while (s->queue) {
        qxQueuedBuffer *next = s->queue->next;
        qxFree(s->queue);
        s->queue = next;
    }
    pthread_mutex_unlock(&s->queueMutex);
}

// The music goes back to its start, stopped.
void rewindMusic(qxMusic *m)
{
    m->state = STOPPED;
    if (m->kind == KIND_MODULE) {
        qxModSetup(moduleState(m), m->fileData, m->fileSize, QX_MODULE_RATE);
    } else if (m->scriptFed) {
        dropQueue(soundStream(m));
        m->refill = 1;
        m->baseMs = 0;
    } else {
        qxSeekSoundStream(soundStream(m), 0);
        m->baseMs = 0;
    }
    m->pass = 1;
    m->position = 0;
    if (playingNow == m) playingNow = nullptr;
    updateTimerUser(nullptr);
}

// A music whose channel has ended (or was taken by StopChannel) is stopped.
void refreshState(qxMusic *m)
{
    if (m->state == PLAYING && !channelOf(m)) rewindMusic(m);
}

bool listed(const qxMusic *m)
{
    for (qxObjectHeader *h = reinterpret_cast<qxObjectHeader *>(musicList); h; h = h->next)
        if (h == &m->header) return true;
    return false;
}

void appendMusic(qxMusic *m)
{
    if (!listRegistered && qxRegisterObjectList(&musicList, QX_TYPE_MUSIC) == 0) listRegistered = true;
    qxObjectHeader **p = reinterpret_cast<qxObjectHeader **>(&musicList);
    while (*p) p = &(*p)->next;
    *p = &m->header;
}

// Stops (keeping the position when pausing) the channel of the music.
void haltMusic(qxMusic *m, bool pause)
{
    qxReapChannels();
    refreshState(m);
    if (m->state != PLAYING) {
        // A stop leaves a paused music (or one sought while stopped) at
        // its start too.
        if (!pause) rewindMusic(m);
        return;
    }
    if (qxChannel *c = channelOf(m)) {
        if (m->kind == KIND_STREAM && !c->startPending) {
            qxTimeVal now;
            qxGetSysTime(&now);
            qxTimeVal since = now;
            qxSubTime(&since, &c->startTime);
            m->baseMs += uint64_t(since.seconds) * 1000 + since.microseconds / 1000;
        }
        if (m->kind == KIND_MODULE && pause && c->module) {
            // Writing stops and what the PCM holds (its 100 ms buffer) plays
            // out, so that the resumed music joins without a gap or repeat.
            qxAlsaLock();
            c->kind.store(QX_CH_MUSICSETUP, std::memory_order_release);
            qxAlsaUnlock();
            for (int i = 0; i < 40 && qxAlsaHeldFrames(c) > 0; i++) qxDelay(5);
            qxAlsaLock();
            qxModuleWritten(c, 0, qxAlsaHeldFrames(c));
            qxAlsaUnlock();
        }
        qxFreeChannel(c);
    }
    if (m->kind == KIND_MODULE) {
        qxAlsaLock();
        if (!pause) qxModSetup(moduleState(m), m->fileData, m->fileSize, QX_MODULE_RATE);
        moduleState(m)->playing = 0;
        qxAlsaUnlock();
    } else {
        qxSoundStream *s = soundStream(m);
        uint32_t durationMs = qxFramesToMs(s->totalFrames, s->frequency);
        if (pause && durationMs) {
            // Whole passes are counted in frames, so that streams shorter
            // than a millisecond are handled as well. The time counts from
            // the start of the pass the music started in (a seek lands
            // within a pass), so the passes are added to that one, and the
            // time kept is again within the pass.
            uint64_t frames = m->baseMs * s->frequency / 1000;
            uint64_t total = std::max(s->totalFrames, 1u);
            uint64_t pass = uint64_t(std::max(m->pass, 1u)) + frames / total;
            m->pass = uint32_t(std::min<uint64_t>(pass, 0xFFFFFFFFu));
            m->position = uint32_t(frames % total);
            m->baseMs = uint64_t(m->position) * 1000 / std::max(s->frequency, 1u);
        } else {
            m->pass = 1;
            m->position = 0;
            m->baseMs = 0;
        }
        if (m->scriptFed) {
            if (!pause) {
                // Stopped: the queue goes, and the next start asks afresh.
                dropQueue(s);
                m->refill = 1;
            }
        } else {
            qxSeekSoundStream(s, m->position);
        }
    }
    m->state = pause ? PAUSED : STOPPED;
    if (pause) pausedLast = m;
    if (playingNow == m) playingNow = nullptr;
    updateTimerUser(nullptr);
}

// Remembers what the stream had read and been fed when its handler was
// asked: it is asked again only once either has moved.
void noteAsked(qxMusic *m)
{
    uint64_t queued;
    qxCustomStreamState(soundStream(m), &queued, &m->readsAtAsk);
    m->fedAtAsk = m->framesFed;
}

// Runs the FillMusicBuffer handler now for a refill of two seconds (L null:
// left to the next poll of the event loop).
int askForFrames(lua_State *L, qxMusic *m)
{
    uint32_t frames = 2 * soundStream(m)->frequency;
    m->refill = 0;
    if (!L) {
        m->requestFrames = frames;
        return 0;
    }
    m->requestFrames = 0;
    noteAsked(m);
    return qxDispatchFillMusicNow(L, refOf(m), frames, m->framesFed);
}

int startMusic(qxMusic *m, lua_State *L = nullptr)
{
    if (m->scriptFed && m->refill) {
        // A fresh start: the queue is built anew before the first half is read.
        dropQueue(soundStream(m));
        if (int r = askForFrames(L, m)) return r;
        if (!listed(m)) return 0; // the handler freed it
    }
    qxChannel *c = nullptr;
    int index = m->channel ? int(m->channel) - 1 : -1;
    if (int r = qxAllocChannel(QX_CH_MUSICSETUP, refOf(m), &index, &c)) return r;
    c->music = m;
    c->volume.store(m->volume);
    c->startPending = 1;
    int r;
    if (m->kind == KIND_MODULE) {
        if (qxAudioAdapter.plugin) {
            // The adapter pulls the music's own state: positions follow it.
            moduleState(m)->playing = 1;
            r = qxAdapterAllocChannel(c, QX_SMP_S16STEREO, QX_MODULE_RATE);
            if (!r) c->kind.store(QX_CH_MODULE, std::memory_order_release);
        } else {
            uint32_t flags = QX_SOUND_SIGNED | (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? QX_SOUND_BIGENDIAN : 0);
            r = qxAlsaOpenChannel(c, "default", 16, 2, flags, QX_MODULE_RATE);
            if (!r) r = qxStartModuleChannel(c, moduleState(m), m);
        }
    } else {
        qxSoundStream *s = soundStream(m);
        c->loops = m->times ? (m->times > m->pass ? m->times - m->pass + 1 : 1) : 0;
        c->loop = 1;
        r = qxStartStreamChannel(c, s); // opens its own PCM
    }
    if (r) {
        qxFreeChannel(c);
        return r;
    }
    m->state = PLAYING;
    playingNow = m;
    if (int r = updateTimerUser(L)) {
        // Nothing would wake the script to feed it.
        haltMusic(m, false);
        return r;
    }
    return 0;
}

int musicArg(lua_State *L, int idx, qxMusic **out)
{
    return qxFindMusic(qxGetObjectIDArg(L, idx), out);
}

// The music of an optional argument; without one, fallback (1055 when none).
int optionalMusic(lua_State *L, int idx, qxMusic *fallback, qxMusic **out)
{
    if (lua_gettop(L) >= idx && !lua_isnil(L, idx)) return musicArg(L, idx, out);
    *out = fallback;
    return fallback ? 0 : ERR_WRONGUSAGE;
}

void freeMusic(qxMusic *m, lua_State *L)
{
    haltMusic(m, false);
    for (qxObjectHeader **p = reinterpret_cast<qxObjectHeader **>(&musicList); *p; p = &(*p)->next) {
        if (*p == &m->header) {
            *p = m->header.next;
            break;
        }
    }
    if (playingNow == m) playingNow = nullptr;
    if (pausedLast == m) pausedLast = nullptr;
    if (L) qxFreeRefList(L, &m->header.data);
    if (m->kind == KIND_MODULE) qxFree(m->stream);
    else if (m->stream) qxCloseSoundStream(soundStream(m));
    qxFree(m->fileData);
    qxFree(m->fileName);
    qxFree(m);
}

// Reads a whole module file; 0 with the data, or an error code. A file that
// carries the signature but is too short for its patterns is refused with
// the code of an unreadable sound file.
int loadModule(const char *name, const char *adapter, uint8_t **data, uint32_t *size, bool *isModule)
{
    *isModule = false;
    qxFileHandle *h = qxOpen(name, QX_OPEN_READ | QX_OPEN_ADAPTERS, adapter);
    if (!h) {
        qxSetErrorString(name);
        return ERR_READFILE;
    }
    uint8_t head[1084];
    int64_t got = qxRead(h, head, sizeof head);
    if (got < int64_t(sizeof head) || !qxIsModule(head, sizeof head) || qxIsStreamHandle(h)) {
        qxClose(h);
        return 0;
    }
    *isModule = true;
    int64_t total = qxFileSize(h);
    if (total < 1084 || total > 64 * 1024 * 1024) {
        qxClose(h);
        qxSetErrorString(name);
        return ERR_OPENSOUND2;
    }
    auto *buf = static_cast<uint8_t *>(qxAlloc(size_t(total), 0));
    if (!buf) {
        qxClose(h);
        return ERR_MEM;
    }
    std::memcpy(buf, head, sizeof head);
    int64_t rest = qxRead(h, buf + sizeof head, total - int64_t(sizeof head));
    qxClose(h);
    if (rest != total - int64_t(sizeof head) || !qxModSetup(nullptr, buf, uint32_t(total), QX_MODULE_RATE)) {
        qxFree(buf);
        qxSetErrorString(name);
        return ERR_OPENSOUND2;
    }
    *data = buf;
    *size = uint32_t(total);
    return 0;
}

// A loader plug-in's stream, else (when the loader list admits "inbuilt")
// a module read whole or an inbuilt reader's stream.
int openMusicSource(const char *name, const qxSoundSource *src, qxSoundStream **stream, uint8_t **data,
                    uint32_t *size, bool *isModule)
{
    *isModule = false;
    int r = qxOpenPluginSoundStream(name, src, 1, stream);
    if (r >= 0) return r;
    if (qxLoaderAllowed(src ? src->loaders : nullptr, "inbuilt", 0)) {
        r = loadModule(name, src ? src->adapters : nullptr, data, size, isModule);
        if (r || *isModule) return r;
    }
    r = qxOpenInbuiltSoundStream(name, src, 1, stream);
    if (!r && (*stream)->kind == QX_STREAM_MODULE) {
        // A module the replayer could not take whole has nothing to stream.
        qxCloseSoundStream(*stream);
        *stream = nullptr;
        qxSetErrorString(name);
        return ERR_OPENSOUND2;
    }
    return r;
}

int qxCmdOpenMusic(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    if (int r = qxSoundNeeded(L)) return r == 1 ? 0 : r;
    int automatic = 0;
    uint32_t number = qxGetNewIDArg(L, 1, &automatic);
    std::string name = qxGetFileNameArg(L, 2, 0, nullptr);
    qxLoaderOptions options;
    qxReadLoaderOptions(L, 3, &options);
    qxSoundSource src = options.source();
    qxMusic *old = nullptr;
    if (!automatic && qxFindMusic({number, nullptr}, &old) == 0) freeMusic(old, L);
    qxDebugPrintLine("Loading music %s", name.c_str(), 1);
    qxMusic *m = nullptr;
    if (int r = qxOpenMusicFile(name.c_str(), &src, &m)) {
        qxPrintFailed();
        return r;
    }
    qxPrintDone();
    m->header.id = automatic ? 0 : number;
    m->header.automatic = automatic ? m : nullptr;
    appendMusic(m);
    if (!automatic) return 0;
    lua_pushlightuserdata(L, m);
    return 1;
}

// The passes (a number) or a table of "times", "volume" and "channel" at
// idx, stored in the music for its next start.
int readPlayOptions(lua_State *L, int idx, qxMusic *m)
{
    uint32_t times = 1, volume = m->volume, channel = 0;
    if (lua_isnumber(L, idx)) {
        double n = lua_tonumber(L, idx);
        if (n < 0) return ERR_WRONGUSAGE;
        times = uint32_t(std::min(n, 4294967295.0));
    } else if (lua_istable(L, idx)) {
        double v;
        if (qxGetFieldNum(L, idx, "times", &v, nullptr)) {
            if (v < 0) return ERR_WRONGUSAGE;
            times = uint32_t(std::min(v, 4294967295.0));
        }
        if (qxGetFieldNumOrPercent(L, idx, "volume", 64, 0, &v, nullptr, nullptr))
            volume = uint32_t(std::clamp(v, 0.0, 64.0));
        int ch = 0;
        if (qxGetFieldInt(L, idx, "channel", &ch, nullptr)) {
            // 0 is any free channel.
            if (ch < 0) return ERR_CHANNELRANGE;
            channel = uint32_t(ch);
        }
    } else if (!lua_isnoneornil(L, idx)) {
        return ERR_WRONGUSAGE;
    }
    m->times = times;
    m->volume = volume;
    m->channel = channel;
    return 0;
}

int qxCmdPlayMusic(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    if (qxAudio.inMusicCallback) return ERR_NOCALLBACK;
    if (int r = qxSoundNeeded(L)) return r == 1 ? 0 : r;
    qxMusic *m = nullptr;
    if (int r = musicArg(L, 1, &m)) return r;
    qxReapChannels();
    refreshState(m);
    // Older applets play one music at a time: the one playing now pauses.
    if (!qxRequireVersion(6, 0) && playingNow && playingNow != m) haltMusic(playingNow, true);
    if (m->state == PLAYING) return ERR_MUSPLAYING;
    if (m->state == PAUSED) return ERR_MUSPAUSED;
    if (int r = readPlayOptions(L, 2, m)) return r;
    return startMusic(m, L);
}

int qxCmdStopMusic(lua_State *L)
{
    qxCheckArgCount(L, 0, 1, 0, 0);
    if (qxAudio.inMusicCallback) return ERR_NOCALLBACK;
    if (qxSoundOff()) return 0; // nothing plays; the device is not opened to stop
    qxReapChannels();
    qxMusic *m = nullptr;
    if (int r = optionalMusic(L, 1, playingNow, &m)) return r;
    haltMusic(m, false);
    return 0;
}

int qxCmdPauseMusic(lua_State *L)
{
    qxCheckArgCount(L, 0, 1, 0, 0);
    if (qxAudio.inMusicCallback) return ERR_NOCALLBACK;
    if (qxSoundOff()) return 0; // nothing plays; the device is not opened to stop
    qxReapChannels();
    qxMusic *m = nullptr;
    if (int r = optionalMusic(L, 1, playingNow, &m)) return r;
    haltMusic(m, true);
    return 0;
}

int qxCmdResumeMusic(lua_State *L)
{
    qxCheckArgCount(L, 0, 1, 0, 0);
    if (qxAudio.inMusicCallback) return ERR_NOCALLBACK;
    if (int r = qxSoundNeeded(L)) return r == 1 ? 0 : r;
    qxMusic *m = nullptr;
    if (int r = optionalMusic(L, 1, pausedLast, &m)) return r;
    if (m->state != PAUSED) return ERR_MUSNOTPAUSED;
    if (pausedLast == m) pausedLast = nullptr;
    return startMusic(m, L);
}

int qxCmdIsMusicPlaying(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    // Without sound nothing plays: 0, so that a loop waiting for the end ends.
    if (qxSoundOff()) {
        lua_pushnumber(L, 0);
        return 1;
    }
    qxMusic *m = nullptr;
    if (int r = musicArg(L, 1, &m)) return r;
    qxReapChannels();
    refreshState(m);
    lua_pushnumber(L, m->state == PLAYING ? 1 : 0);
    return 1;
}

int qxCmdCloseMusic(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxMusic *m = nullptr;
    if (int r = musicArg(L, 1, &m)) return qxSoundOff() ? 0 : r;
    if (qxAudio.inMusicCallback && m->scriptFed && m->state == PLAYING) return ERR_NOCALLBACK;
    freeMusic(m, L);
    return 0;
}

// Stores the volume and applies it to the music's channel.
void setMusicVolume(qxMusic *m, uint32_t volume)
{
    m->volume = volume;
    if (qxChannel *c = channelOf(m)) {
        c->volume.store(m->volume);
        qxAdapterSetAttributes(c, m->volume, QX_AUDIOATTR_UNSET, QX_AUDIOATTR_UNSET);
    }
}

int qxCmdSetMusicVolume(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxMusic *m = nullptr;
    if (int r = musicArg(L, 1, &m)) return qxSoundOff() ? 0 : r;
    setMusicVolume(m, uint32_t(std::clamp(qxGetNumberOrPercentArg(L, 2, 64, 0, nullptr), 0.0, 64.0)));
    return 0;
}

// The playing module's song position (request 2) or row (1); -1 when no
// module plays.
int playingPosition(int request)
{
    qxReapChannels();
    if (playingNow) refreshState(playingNow);
    return playingNow ? qxMusicPosition(playingNow, request) : -1;
}

int qxCmdGetSongPosition(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    lua_pushnumber(L, playingPosition(2));
    return 1;
}

int qxCmdGetPatternPosition(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    lua_pushnumber(L, playingPosition(1));
    return 1;
}

// Waits while the playing module is below the value. Returns at once when
// the value cannot be reached (past the song or the pattern) or no module
// plays, and when the music stops or ends meanwhile.
int waitPosition(lua_State *L, int request)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    int target = luaL_checkint(L, 1);
    for (;;) {
        int now = playingPosition(request);
        if (now < 0 || now >= target) return 0;
        uint32_t limit = request == 2 ? moduleState(playingNow)->songLength : 64;
        if (target >= int(limit)) return 0;
        if (qxUpcalls.pollEvents)
            if (int r = qxUpcalls.pollEvents(L, 2)) return r;
        qxDelay(10);
    }
}

int qxCmdWaitSongPosition(lua_State *L) { return waitPosition(L, 2); }
int qxCmdWaitPatternPosition(lua_State *L) { return waitPosition(L, 1); }

int qxCmdPlaySubsong(lua_State *L)
{
    qxCheckArgCount(L, 1, 3, 0, 0);
    int n = luaL_checkint(L, 1);
    if (int r = qxSoundNeeded(L)) return r == 1 ? 0 : r;
    qxReapChannels();
    qxMusic *m = nullptr;
    if (int r = optionalMusic(L, 2, playingNow, &m)) return r;
    refreshState(m);
    if (m->kind != KIND_MODULE && (n < 1 || uint32_t(n) > m->subsongs)) return ERR_WRONGUSAGE;
    // A stream's subsong stops it and a music not playing is started: no
    // stop or play from a FillMusicBuffer handler. A playing module only
    // jumps.
    if (qxAudio.inMusicCallback && (m->kind != KIND_MODULE || m->state != PLAYING)) return ERR_NOCALLBACK;
    if (m->kind != KIND_MODULE) {
        if (uint32_t(n) == m->subsong) {
            haltMusic(m, false);
        } else {
            // Another subsong: the file again through the loader that opened it.
            const char *loader = qxLoaderName(static_cast<qxPluginInfo *>(m->loader));
            qxSoundSource src{loader, m->adapter[0] ? m->adapter : nullptr, uint32_t(n - 1)};
            qxSoundStream *fresh = nullptr;
            if (!m->fileName) return ERR_MEM;
            if (int r = qxOpenSoundStream(m->fileName, &src, 1, &fresh)) return r;
            haltMusic(m, false);
            qxCloseSoundStream(soundStream(m));
            m->stream = fresh;
            m->seekable = fresh->seekable;
            m->subsong = uint32_t(n);
        }
    } else {
        qxAlsaLock();
        qxModPlayer *state = moduleState(m);
        qxModPosition(state, 0, n);
        if (qxChannel *c = channelOf(m); c && c->module) qxRestartModuleRing(c, state);
        qxAlsaUnlock();
    }
    if (m->state != PLAYING) {
        if (int r = readPlayOptions(L, 3, m)) return r;
        if (pausedLast == m) pausedLast = nullptr;
        return startMusic(m, L);
    }
    return 0;
}

int qxCmdSeekMusic(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    // A seek pauses and plays again: not from a FillMusicBuffer handler.
    if (qxAudio.inMusicCallback) return ERR_NOCALLBACK;
    if (int r = qxSoundNeeded(L)) return r == 1 ? 0 : r;
    qxMusic *m = nullptr;
    if (int r = musicArg(L, 1, &m)) return r;
    double ms = luaL_checknumber(L, 2);
    if (m->kind != KIND_STREAM || !m->seekable) return ERR_SEEKFORMAT;
    qxSoundStream *s = soundStream(m);
    if (!(ms >= 0) || ms >= double(qxFramesToMs(s->totalFrames, s->frequency))) return ERR_SEEKRANGE;
    qxReapChannels();
    refreshState(m);
    bool playing = m->state == PLAYING;
    // The pause on the way is no pause of the script's: ResumeMusic() still
    // names the music paused before.
    qxMusic *paused = pausedLast;
    if (playing) haltMusic(m, true);
    pausedLast = paused;
    uint32_t frame = uint32_t(uint64_t(ms) * s->frequency / 1000);
    if (int r = qxSeekSoundStream(s, frame)) return r;
    m->position = frame;
    m->baseMs = uint64_t(ms);
    return playing ? startMusic(m, L) : 0;
}

int qxCmdCreateMusic(lua_State *L)
{
    qxCheckArgCount(L, 3, 3, 0, 0);
    if (!qxAudio.onFillMusicBuffer) return ERR_NOFMBHANDLER;
    if (qxAudio.inMusicCallback) return ERR_NOCALLBACK;
    int automatic = 0;
    uint32_t number = qxGetNewIDArg(L, 1, &automatic);
    double frequency = luaL_checknumber(L, 2);
    int code = qxScriptFormatToCode(luaL_checkint(L, 3));
    if (code < 0) return ERR_WRONGUSAGE;
    if (!(frequency >= 256) || frequency > 1e6) return ERR_LOWFREQ;
    qxMusic *old = nullptr;
    if (!automatic && qxFindMusic({number, nullptr}, &old) == 0) freeMusic(old, L);
    auto *m = static_cast<qxMusic *>(qxAlloc(sizeof(qxMusic), 1));
    if (!m) return ERR_MEM;
    qxSoundStream *s = nullptr;
    if (int r = qxNewCustomStream(m, uint32_t(frequency), uint32_t(code), &s)) {
        qxFree(m);
        return r;
    }
    m->header.type = QX_TYPE_MUSIC;
    m->header.id = automatic ? 0 : number;
    m->header.automatic = automatic ? m : nullptr;
    m->stream = s;
    m->kind = KIND_STREAM;
    m->scriptFed = 1;
    m->volume = 64;
    m->times = 1;
    m->pass = 1;
    m->subsongs = m->subsong = 1;
    appendMusic(m);
    if (automatic) lua_pushlightuserdata(L, m);
    // The first two seconds are asked for at once, so that playing starts
    // with the script's data rather than silence.
    if (int r = askForFrames(L, m)) return r;
    return automatic ? 1 : 0;
}

int qxCmdFlushMusicBuffer(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    if (qxAudio.inMusicCallback) return ERR_NOCALLBACK;
    if (int r = qxSoundNeeded(L)) return r == 1 ? 0 : r;
    qxMusic *m = nullptr;
    if (int r = musicArg(L, 1, &m)) return r;
    qxReapChannels();
    refreshState(m);
    if (!m->scriptFed || m->state != PLAYING) return ERR_WRONGUSAGE;
    haltMusic(m, false);
    return startMusic(m, L);
}

// The values of a "pcm" buffer: channels values a frame from data[0].
int pcmBuffer(lua_State *L, int t, const qxSoundStream *s, uint32_t frames, std::vector<uint8_t> &out)
{
    lua_pushstring(L, "data");
    lua_gettable(L, t);
    if (!lua_istable(L, -1)) {
        lua_pop(L, 1);
        return ERR_WRONGUSAGE;
    }
    int data = lua_gettop(L);
    uint64_t count = uint64_t(frames) * s->channels;
    bool eight = s->bits == 8, isSigned = s->flags & QX_SOUND_SIGNED;
    for (uint64_t i = 0; i < count; i++) {
        lua_rawgeti(L, data, int(i));
        bool ok = lua_isnumber(L, -1);
        double v = ok ? lua_tonumber(L, -1) : 0;
        lua_pop(L, 1);
        if (!ok) {
            lua_pop(L, 1);
            return ERR_WRONGUSAGE;
        }
        // Values are stored as bytes or words: only their low bits count.
        double low = std::fmod(std::trunc(v), 65536.0);
        auto word = uint16_t(int32_t(low == low ? low : 0));
        if (eight) {
            out[i] = uint8_t(word + (isSigned ? 0 : 128));
        } else {
            std::memcpy(&out[2 * i], &word, 2);
        }
    }
    lua_pop(L, 1);
    return 0;
}

int qxCmdFillMusicBuffer(lua_State *L)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    if (!qxAudio.inMusicCallback) return ERR_NOMUSICCB;
    qxMusic *m = nullptr;
    if (int r = musicArg(L, 1, &m)) return r;
    if (!m->scriptFed) return ERR_WRONGUSAGE;
    qxSoundStream *s = soundStream(m);
    const char *kind = luaL_checkstring(L, 2);
    double framesArg = luaL_checknumber(L, 3);
    // One buffer holds at most a minute (and 64 MB).
    if (!(framesArg >= 0) || framesArg > 60.0 * s->frequency ||
        framesArg * s->bytesPerFrame > 64.0 * 1024 * 1024)
        return ERR_WRONGUSAGE;
    uint32_t frames = uint32_t(framesArg);
    if (!strcasecmp(kind, "end")) return qxQueueStreamData(s, nullptr, 0);
    std::vector<uint8_t> buffer(size_t(frames) * s->bytesPerFrame);
    bool unsigned8 = s->bits == 8 && !(s->flags & QX_SOUND_SIGNED);
    // Frames of a source through the range options of table 4 into the
    // buffer; the reader writes 8-bit data unsigned.
    auto readRange = [&](const qxSound *source, qxRangeOptions *range) {
        if (int r = qxReadRangeOptions(L, 4, source, range)) return r;
        std::vector<uint8_t> out(buffer.size());
        qxReadSampleRange(source, *range, out.data(), s->bits, s->channels, frames);
        if (s->bits == 8 && !unsigned8)
            for (uint8_t &b : out) b = uint8_t(b - 128);
        buffer.swap(out);
        return 0;
    };
    if (!strcasecmp(kind, "mute")) {
        std::memset(buffer.data(), unsigned8 ? 0x80 : 0, buffer.size());
    } else if (!strcasecmp(kind, "pcm")) {
        luaL_checktable(L, 4);
        if (int r = pcmBuffer(L, 4, s, frames, buffer)) return r;
        if (frames) {
            // The values just read are the source of the range options.
            qxSound built{buffer.data(), s->bits, s->bytesPerFrame, s->channels, s->flags,
                          frames,        s->format, s->frequency};
            qxRangeOptions range;
            std::vector<uint8_t> values(buffer);
            built.data = values.data();
            if (int r = readRange(&built, &range)) return r;
        }
    } else if (!strcasecmp(kind, "sample")) {
        luaL_checktable(L, 4);
        qxObjectRef ref{};
        qxGetFieldID(L, 4, "id", &ref, nullptr);
        qxSample *sample = nullptr;
        if (int r = qxFindSample(ref, &sample)) return r;
        qxRangeOptions range;
        if (int r = readRange(sample->sound, &range)) return r;
        if (range.free) qxFreeSampleObject(L, sample);
    } else {
        return ERR_WRONGUSAGE;
    }
    if (int r = qxQueueStreamData(s, buffer.data(), frames)) return r;
    m->framesFed += frames;
    return 0;
}

int qxCmdIsMusic(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    std::string name = qxGetFileNameArg(L, 1, 0, nullptr);
    qxLoaderOptions options;
    qxReadLoaderOptions(L, 2, &options);
    qxSoundSource src = options.source();
    uint8_t *data = nullptr;
    uint32_t size = 0;
    bool isModule = false;
    qxSoundStream *s = nullptr;
    int r = openMusicSource(name.c_str(), &src, &s, &data, &size, &isModule);
    qxFree(data);
    if (isModule) {
        lua_pushnumber(L, r == 0);
        lua_pushstring(L, r == 0 ? "Protracker" : "Unknown");
        return 2;
    }
    if (r == 0) {
        lua_pushnumber(L, 1);
        lua_pushstring(L, qxSoundStreamName(s));
        qxCloseSoundStream(s);
        return 2;
    }
    lua_pushnumber(L, 0);
    lua_pushstring(L, "Unknown");
    return 2;
}

} // namespace

void qxReadLoaderOptions(lua_State *L, int idx, qxLoaderOptions *out)
{
    if (lua_gettop(L) < idx || lua_isnil(L, idx)) return;
    luaL_checktable(L, idx);
    qxGetFieldStr(L, idx, "loader", out->loader, sizeof out->loader, &out->haveLoader);
    qxGetFieldStr(L, idx, "adapter", out->adapter, sizeof out->adapter, &out->haveAdapter);
}

int qxOpenMusicFile(const char *name, const qxSoundSource *src, qxMusic **out)
{
    auto *m = static_cast<qxMusic *>(qxAlloc(sizeof(qxMusic), 1));
    if (!m) return ERR_MEM;
    bool isModule = false;
    qxSoundStream *s = nullptr;
    int r = openMusicSource(name, src, &s, &m->fileData, &m->fileSize, &isModule);
    if (!r && isModule) {
        uint32_t bytes = qxModSetup(nullptr, m->fileData, m->fileSize, QX_MODULE_RATE);
        m->stream = qxAlloc(bytes, 0);
        if (!m->stream) r = ERR_MEM;
        else qxModSetup(moduleState(m), m->fileData, m->fileSize, QX_MODULE_RATE);
        m->kind = KIND_MODULE;
    } else if (!r) {
        m->stream = s;
        m->kind = KIND_STREAM;
        m->seekable = s->seekable;
        m->subsongs = s->subsongs;
        m->loader = const_cast<qxPluginInfo *>(s->plugin);
    }
    if (r) {
        qxFree(m->stream);
        qxFree(m->fileData);
        qxFree(m);
        return r;
    }
    m->header.type = QX_TYPE_MUSIC;
    size_t len = std::strlen(name);
    m->fileName = static_cast<char *>(qxAlloc(len + 1, 1));
    if (m->fileName) std::memcpy(m->fileName, name, len);
    m->volume = 64;
    m->times = 1;
    m->pass = 1;
    m->subsongs = std::max(m->subsongs, 1u);
    m->subsong = 1;
    if (src && src->adapters) std::snprintf(m->adapter, sizeof m->adapter, "%s", src->adapters);
    *out = m;
    return 0;
}

void qxAddMusicObject(qxMusic *m) { appendMusic(m); }

int qxStopMusicOfChannel(qxChannel *c)
{
    auto *m = static_cast<qxMusic *>(c->music);
    if (!listed(m)) return 0;
    haltMusic(m, false);
    return 1;
}

int qxSetMusicVolumeOfChannel(qxChannel *c, uint32_t volume)
{
    auto *m = static_cast<qxMusic *>(c->music);
    if (!listed(m)) return 0;
    setMusicVolume(m, volume);
    return 1;
}

void qxRefreshMusic(qxMusic *m)
{
    qxReapChannels();
    refreshState(m);
}

int64_t qxMusicPositionMs(qxMusic *m)
{
    auto *s = soundStream(m);
    if (m->kind != KIND_STREAM) return -1;
    if (m->state != PLAYING) return qxStreamInfo(s, 1, -1);
    // The time since the channel's first write, on top of what was played
    // before this start, within one pass.
    uint64_t ms = m->baseMs;
    qxAlsaLock();
    if (qxChannel *c = channelOf(m); c && !c->startPending) {
        qxTimeVal now;
        qxGetSysTime(&now);
        qxSubTime(&now, &c->startTime);
        ms += uint64_t(now.seconds) * 1000 + now.microseconds / 1000;
    }
    qxAlsaUnlock();
    uint32_t duration = qxFramesToMs(s->totalFrames, s->frequency);
    return int64_t(duration ? ms % duration : ms);
}
int qxStartMusic(qxMusic *m) { return startMusic(m); }
void qxHaltMusic(qxMusic *m, int pause) { haltMusic(m, pause != 0); }
void qxCloseMusicObject(qxMusic *m) { freeMusic(m, nullptr); }
int qxMusicPosition(qxMusic *m, int request)
{
    if (m->kind != KIND_MODULE) return -1;
    qxAlsaLock();
    int v = qxModPosition(moduleState(m), request, 0);
    qxAlsaUnlock();
    return v;
}

// Apart from the exported name, whose declaration has no size: clang reads
// only a table of known size while compiling.
static constexpr qxCommandDef musicCommandsRows[] = {
    {"OpenMusic", qxCmdOpenMusic},       {"LoadModule", qxCmdOpenMusic},
    {"PlayMusic", qxCmdPlayMusic},       {"PlayModule", qxCmdPlayMusic},
    {"StopMusic", qxCmdStopMusic},       {"StopModule", qxCmdStopMusic},
    {"PauseMusic", qxCmdPauseMusic},     {"PauseModule", qxCmdPauseMusic},
    {"ResumeMusic", qxCmdResumeMusic},   {"ResumeModule", qxCmdResumeMusic},
    {"IsMusicPlaying", qxCmdIsMusicPlaying},
    {"CloseMusic", qxCmdCloseMusic},     {"FreeModule", qxCmdCloseMusic},
    {"SetMusicVolume", qxCmdSetMusicVolume},
    {"GetSongPosition", qxCmdGetSongPosition},
    {"GetPatternPosition", qxCmdGetPatternPosition},
    {"WaitSongPosition", qxCmdWaitSongPosition},
    {"WaitPatternPosition", qxCmdWaitPatternPosition},
    {"PlaySubsong", qxCmdPlaySubsong},
    {"SeekMusic", qxCmdSeekMusic},
    {"CreateMusic", qxCmdCreateMusic},
    {"FillMusicBuffer", qxCmdFillMusicBuffer},
    {"FlushMusicBuffer", qxCmdFlushMusicBuffer},
    {"IsMusic", qxCmdIsMusic},           {"IsModule", qxCmdIsMusic},
    {nullptr, nullptr},
};

const qxCommandDef *const qxMusicCommands = musicCommandsRows;
constexpr qxNames qxMusicCommandNames = qxNamesOf<musicCommandsRows>;

int qxFindMusic(qxObjectRef ref, qxMusic **out)
{
    for (qxObjectHeader *h = reinterpret_cast<qxObjectHeader *>(musicList); h; h = h->next) {
        if (sameRef({h->id, h->automatic}, ref)) {
            *out = reinterpret_cast<qxMusic *>(h);
            return 0;
        }
    }
    if (ref.automatic) return ERR_FINDARRAY;
    qxSetErrorNumber(int(ref.number));
    return ERR_FINDMUSIC;
}

void qxFreeMusicObjects(lua_State *L)
{
    while (musicList) freeMusic(musicList, L);
}

extern "C" {

int qxFindMusicNeedingData(qxObjectRef *id, uint32_t *frames, uint64_t *fed)
{
    for (qxObjectHeader *h = reinterpret_cast<qxObjectHeader *>(musicList); h; h = h->next) {
        auto *m = reinterpret_cast<qxMusic *>(h);
        if (!m->scriptFed) continue;
        qxSoundStream *s = soundStream(m);
        // A music whose channel ended is stopped: it asks for nothing more.
        refreshState(m);
        uint32_t ask = m->requestFrames;
        if (!ask && m->state == PLAYING) {
            // Less than a second queued asks for the rest, but only once the
            // output has read since the last request or the handler fed
            // something: a handler that gives nothing is asked again when
            // its next buffer falls due. After an end buffer nothing is asked.
            uint64_t queued = 0;
            uint32_t reads = 0;
            bool ended = qxCustomStreamState(s, &queued, &reads);
            bool due = reads != m->readsAtAsk || m->framesFed != m->fedAtAsk;
            if (!ended && due && queued < s->frequency) ask = uint32_t(s->frequency - queued);
        }
        if (!ask) continue;
        m->requestFrames = 0;
        noteAsked(m);
        *id = refOf(m);
        *frames = ask;
        *fed = m->framesFed;
        return 1;
    }
    return 0;
}

void qxRestartModuleRing(qxChannel *c, const qxModPlayer *state)
{
    // The ring ahead of the write position is rendered again from the
    // music's state; what the PCM already holds plays out.
    auto *priv = static_cast<qxModPlayer *>(c->module);
    std::memcpy(static_cast<void *>(priv), state, state->stateSize);
    uint32_t at = c->position;
    for (uint32_t done = 0; done < QX_MODULE_RING;) {
        uint32_t n = std::min(QX_MODULE_RING - at, QX_MODULE_RING - done);
        qxModMix(priv, c->ring + size_t(at) * 2, c->ring + size_t(at) * 2 + 1, 4, n, 1, 16, 2);
        done += n;
        at = (at + n) % QX_MODULE_RING;
    }
    c->followedFrames = c->framesWritten;
}

int qxStartModuleChannel(qxChannel *c, qxModPlayer *state, void *music)
{
    c->ring = static_cast<int16_t *>(qxAlloc(size_t(QX_MODULE_RING) * 4, 0));
    c->module = qxAlloc(state->stateSize, 0);
    if (!c->ring || !c->module) return ERR_MEM;
    c->music = music;
    c->position = 0;
    c->framesWritten = 0;
    state->playing = 1;
    qxRestartModuleRing(c, state);
    static_cast<qxModPlayer *>(c->module)->playing = 1;
    c->kind.store(QX_CH_MODULE, std::memory_order_release);
    return 0;
}

void qxModuleWritten(qxChannel *c, uint32_t n, long heldFrames)
{
    auto *priv = static_cast<qxModPlayer *>(c->module);
    qxModMix(priv, c->ring + size_t(c->position) * 2, c->ring + size_t(c->position) * 2 + 1, 4, n, 1, 16, 2);
    // The music's own state follows what has been played out.
    uint64_t played = c->framesWritten - uint64_t(std::max<long>(heldFrames, 0));
    if (played > c->followedFrames) {
        qxModPlayer *follower = moduleState(static_cast<qxMusic *>(c->music));
        uint64_t due = played - c->followedFrames;
        while (due) {
            uint32_t step = uint32_t(std::min<uint64_t>(due, 1u << 20));
            qxModMix(follower, nullptr, nullptr, 4, step, 1, 16, 2);
            due -= step;
        }
        c->followedFrames = played;
    }
}

} // extern "C"
