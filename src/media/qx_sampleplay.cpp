// Playing samples: PlaySample with its options and passes, stopping,
// waiting, and the volume, pitch and panning of a sample.
#include <algorithm>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "media/qx_audioadapter.h"
#include "media/qx_sample.h"
#include "media/qx_soundcmds.h"
#include "platform/qx_upcalls.h"

namespace {

// One pair of PlaySample: the sample and what its options ask.
struct PlayRequest {
    qxSample *sample;
    uint32_t passes = 1;
    int64_t time = -1;
    uint32_t volume, pitch, panning;
    int channel = -1;
};

int readPlayOptions(lua_State *L, int idx, PlayRequest &p)
{
    p.volume = p.sample->volume;
    p.pitch = p.sample->pitch;
    p.panning = p.sample->panning;
    if (lua_isnoneornil(L, idx)) return 0;
    if (lua_isnumber(L, idx)) {
        double n = lua_tonumber(L, idx);
        if (n < 0) return ERR_WRONGUSAGE;
        p.passes = uint32_t(std::min(n, 4294967295.0));
        return 0;
    }
    luaL_checktable(L, idx);
    double v;
    int timesFound = 0;
    if (qxGetFieldNum(L, idx, "time", &v, nullptr)) {
        if (v < 1) return ERR_WRONGUSAGE;
        p.time = int64_t(std::min(v, 4294967295.0));
    }
    if (qxGetFieldNum(L, idx, "times", &v, &timesFound)) {
        if (v < 0) return ERR_WRONGUSAGE;
        p.passes = uint32_t(std::min(v, 4294967295.0));
        p.time = -1;
    }
    if (qxGetFieldNumOrPercent(L, idx, "volume", 64, 0, &v, nullptr, nullptr))
        p.volume = uint32_t(std::clamp(v, 0.0, 64.0));
    if (qxGetFieldNum(L, idx, "panning", &v, nullptr)) p.panning = qxClampPanning(v);
    if (qxGetFieldNum(L, idx, "pitch", &v, nullptr) && !(p.pitch = qxPitchArg(v))) return ERR_LOWFREQ;
    int channel = 0;
    if (qxGetFieldInt(L, idx, "channel", &channel, nullptr)) {
        if (channel < 1) return ERR_CHANNELRANGE;
        p.channel = channel - 1;
    }
    return 0;
}

} // namespace

void qxSetupPasses(qxChannel *c, uint32_t frames, uint32_t pitch, uint32_t passes, int64_t time)
{
    c->passMs = qxFramesToMs(frames, pitch);
    if (time < 0) {
        c->loops = passes;
        c->lastFrames = frames;
        c->lastMs = c->passMs;
    } else if (c->passMs) {
        c->loops = uint32_t(uint64_t(time) / c->passMs + 1);
        c->lastMs = uint32_t(uint64_t(time) % c->passMs);
        c->lastFrames = uint32_t(uint64_t(c->lastMs) * pitch / 1000);
    } else {
        // Passes shorter than a millisecond: count them from frames.
        uint64_t timeFrames = uint64_t(time) * pitch / 1000;
        c->loops = uint32_t(std::min<uint64_t>(timeFrames / std::max(frames, 1u) + 1, 0xFFFFFFFFu));
        c->lastFrames = uint32_t(timeFrames % std::max(frames, 1u));
        c->lastMs = 0;
    }
    c->loop = 1;
}

int qxCmdPlaySample(lua_State *L)
{
    int n = lua_gettop(L);
    qxCheckArgCount(L, 1, 0, 0, 0);
    if (n > 8) return ERR_WRONGUSAGE;
    if (int r = qxSoundNeeded(L)) return r == 1 ? 0 : r;
    PlayRequest requests[4];
    int pairs = (n + 1) / 2;
    for (int i = 0; i < pairs; i++) {
        if (int r = qxSampleArg(L, 2 * i + 1, &requests[i].sample)) return r;
        if (int r = readPlayOptions(L, 2 * i + 2, requests[i])) return r;
    }
    int prepared[4];
    int count = 0;
    int error = 0;
    for (int i = 0; i < pairs && !error; i++) {
        const PlayRequest &p = requests[i];
        qxSample *s = p.sample;
        int index = p.channel;
        qxChannel *c = nullptr;
        qxObjectRef id{s->header.id, s->header.automatic};
        if ((error = qxAllocChannel(QX_CH_PREPARED, id, &index, &c))) break;
        c->sound = s->sound;
        c->volume.store(p.volume);
        c->startPending = 1;
        qxSetupPasses(c, s->sound->frames, p.pitch, p.passes, p.time);
        if (qxAudioAdapter.plugin) {
            // An adapter pans (a new channel is taken as centred); the
            // native output has no panning.
            error = qxAdapterAllocChannel(c, s->sound->format, p.pitch);
            if (!error && p.panning != 128)
                qxAdapterSetAttributes(c, QX_AUDIOATTR_UNSET, p.panning, QX_AUDIOATTR_UNSET);
        } else {
            error = qxAlsaOpenChannel(c, qxAudioDeviceName, s->sound->bits, s->sound->channels, s->sound->flags,
                                      p.pitch);
        }
        prepared[count++] = index;
    }
    if (error) {
        // Nothing of a failed call is left prepared for the next one.
        for (int i = 0; i < count; i++) qxFreeChannel(&qxAudio.channels[prepared[i]]);
        return error;
    }
    qxStartPrepared();
    return 0;
}

int qxCmdStopSample(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    if (int r = qxSoundNeeded(L)) return r == 1 ? 0 : r;
    qxSample *s = nullptr;
    if (int r = qxSampleArg(L, 1, &s)) return r;
    qxStopSound(s->sound, -1);
    return 0;
}

int qxCmdWaitSampleEnd(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    if (int r = qxSoundNeeded(L)) return r == 1 ? 0 : r;
    qxSample *s = nullptr;
    if (int r = qxSampleArg(L, 1, &s)) return r;
    // An ended channel on the adapter path is let go a second after its
    // last frame; nothing else reaps it while no display runs.
    while (qxReapChannels(), qxIsSoundPlaying(s->sound)) {
        if (qxUpcalls.pollEvents)
            if (int r = qxUpcalls.pollEvents(L, 2)) return r;
        qxDelay(10);
        if (int r = qxSampleArg(L, 1, &s)) return r; // a callback may have freed it
    }
    qxReapChannels();
    return 0;
}

int qxCmdIsSamplePlaying(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    // Without an open device nothing plays, whatever the sample.
    if (qxSoundOff() || !qxAudio.audioOpen) {
        lua_pushnumber(L, 0);
        return 1;
    }
    qxSample *s = nullptr;
    if (int r = qxSampleArg(L, 1, &s)) return r;
    lua_pushnumber(L, qxIsSoundPlaying(s->sound) ? 1 : 0);
    return 1;
}

int qxCmdSetVolume(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxSample *s = nullptr;
    if (int r = qxSampleArg(L, 1, &s)) return qxSoundOff() ? 0 : r;
    s->volume = uint32_t(std::clamp(qxGetNumberOrPercentArg(L, 2, 64, 0, nullptr), 0.0, 64.0));
    qxSetSoundVolume(s->sound, s->volume, -1);
    return 0;
}

int qxCmdSetPitch(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxSample *s = nullptr;
    if (int r = qxSampleArg(L, 1, &s)) return qxSoundOff() ? 0 : r;
    // The native output plays at the rate its PCM was opened with.
    uint32_t pitch = qxPitchArg(luaL_checknumber(L, 2));
    if (!pitch) return ERR_LOWFREQ;
    s->pitch = pitch;
    qxSetSoundAttributes(s->sound, pitch, QX_AUDIOATTR_UNSET, QX_AUDIOATTR_UNSET, -1);
    return 0;
}

int qxCmdSetPanning(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxSample *s = nullptr;
    if (int r = qxSampleArg(L, 1, &s)) return qxSoundOff() ? 0 : r;
    s->panning = qxClampPanning(luaL_checknumber(L, 2));
    qxSetSoundAttributes(s->sound, QX_AUDIOATTR_UNSET, QX_AUDIOATTR_UNSET, s->panning, -1);
    return 0;
}
