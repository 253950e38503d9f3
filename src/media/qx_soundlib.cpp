// The "sound" command library: device and channel commands, its table and
// its runtime settings.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/runtime/qx_lists.h"
#include "core/runtime/qx_options.h"
#include "core/runtime/qx_startup.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"
#include "media/qx_medialibs.h"
#include "media/qx_music.h"
#include "media/qx_sample.h"
#include "media/qx_audioadapter.h"
#include "media/qx_soundattrs.h"
#include "media/qx_soundcmds.h"

#include "core/commands/qx_commands.h"

namespace {

int qxCmdOpenAudio(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    int r = qxSoundNeeded(L);
    return r == 1 ? 0 : r;
}

int qxCmdCloseAudio(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    if (int r = qxSoundNeeded(L)) return r == 1 ? 0 : r;
    qxStopAllVideos(L);
    qxStopAllChannels();
    qxFreeAllSamples(L);
    qxAudio.audioOpen = 0;
    return 0;
}

int qxCmdForceSound(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    // 0 is true to the VM, but switches forcing off.
    qxAudio.forceSound = lua_isnumber(L, 1) ? lua_tonumber(L, 1) != 0 : lua_toboolean(L, 1);
    return 0;
}

int qxCmdGetChannels(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    const qxStartupInfo *startup = qxGetCommandLineTable(L);
    int32_t n = qxAudio.count ? qxAudio.count : startup && startup->numChannels ? int32_t(startup->numChannels) : 8;
    lua_pushnumber(L, qxAudio.soundDisabled ? 0 : n);
    return 1;
}

int qxCmdHaveFreeChannel(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    if (qxAudio.soundDisabled) {
        lua_pushnumber(L, 0);
        return 1;
    }
    if (int r = qxSoundNeeded(L)) return r == 1 ? 0 : r;
    qxReapChannels();
    int found = 0;
    for (int i = 0; i < qxAudio.count && !found; i++) {
        int type;
        qxObjectRef id;
        if (qxChannelInfo(i, &type, &id) == 0 && type == 7) found = i + 1;
    }
    lua_pushnumber(L, found);
    return 1;
}

int qxCmdIsSound(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    int ok = 0;
    if (!qxAudio.soundDisabled) {
        if (qxAudio.audioOpen) {
            ok = 1;
        } else if (!qxAudio.audioFailed) {
            uint32_t forced = qxAudio.forceSound;
            qxAudio.forceSound = 0;
            ok = qxSoundNeeded(L) == 0;
            qxAudio.forceSound = forced;
            // Asking does not count as a failed open.
            if (!ok) qxAudio.audioFailed = 0;
        }
    }
    lua_pushnumber(L, ok);
    return 1;
}

// The 0-based index of a 1-based channel argument; -1 when out of range.
int channelArg(lua_State *L, int idx)
{
    int channel = luaL_checkint(L, idx);
    return channel < 1 || channel > qxAudio.count ? -1 : channel - 1;
}

int qxCmdIsChannelPlaying(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    if (!qxAudio.deviceOpen || !qxAudio.audioOpen) {
        lua_pushnumber(L, 0);
        return 1;
    }
    int index = channelArg(L, 1);
    if (index < 0) return ERR_CHANNELRANGE;
    qxReapChannels();
    int type;
    qxObjectRef id;
    qxChannelInfo(index, &type, &id);
    if (type == 7) {
        lua_pushnumber(L, 0);
        return 1;
    }
    lua_pushnumber(L, 1);
    lua_pushnumber(L, type);
    qxPushObjectID(L, id);
    return 3;
}

int qxCmdStopChannel(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    if (!qxAudio.deviceOpen || !qxAudio.audioOpen) return 0;
    return qxChannelStop(L, channelArg(L, 1));
}

int qxCmdSetChannelVolume(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    if (int r = qxSoundNeeded(L)) return r == 1 ? 0 : r;
    int index = channelArg(L, 1);
    if (index < 0) return ERR_CHANNELRANGE;
    uint32_t volume = uint32_t(std::clamp(qxGetNumberOrPercentArg(L, 2, 64, 0, nullptr), 0.0, 64.0));
    qxLockChannels();
    qxChannel &c = qxAudio.channels[index];
    uint32_t kind = c.kind.load(std::memory_order_acquire);
    if (kind == QX_CH_MODULE || kind == QX_CH_STREAM || kind == QX_CH_MUSICSETUP) {
        if (c.music) qxSetMusicVolumeOfChannel(&c, volume);
    } else if (kind == QX_CH_VIDEO || kind == QX_CH_VIDEOSETUP) {
        if (c.video) qxSetVideoVolumeOfChannel(&c, volume);
    } else if (kind == QX_CH_PREPARED || kind == QX_CH_SAMPLE) {
        c.volume.store(volume);
        qxAdapterSetAttributes(&c, volume, QX_AUDIOATTR_UNSET, QX_AUDIOATTR_UNSET);
        qxSample *sample = nullptr;
        if (qxFindSample(c.objectId, &sample) == 0) sample->volume = volume;
    }
    qxUnlockChannels();
    return 0;
}

int qxCmdSetMasterVolume(lua_State *)
{
    return 0;
}

constexpr qxCommandDef channelCommands[] = {
    {"OpenAudio", qxCmdOpenAudio},
    {"CloseAudio", qxCmdCloseAudio},
    {"ForceSound", qxCmdForceSound},
    {"GetChannels", qxCmdGetChannels},
    {"HaveFreeChannel", qxCmdHaveFreeChannel},
    {"IsSound", qxCmdIsSound},
    {"IsChannelPlaying", qxCmdIsChannelPlaying},
    {"StopChannel", qxCmdStopChannel},
    {"SetChannelVolume", qxCmdSetChannelVolume},
    {"SetMasterVolume", qxCmdSetMasterVolume},
    {nullptr, nullptr},
};

constexpr qxConstantDef soundConstants[] = {
    {"MONO8", nullptr, 0},
    {"MONO16", nullptr, 1},
    {"STEREO8", nullptr, 2},
    {"STEREO16", nullptr, 3},
    {"LEFT", nullptr, -90000},
    {"RIGHT", nullptr, -80000},
    {"CENTER", nullptr, -100000},
    {"SMPFMT_WAVE", nullptr, 0},
    {nullptr, nullptr, 0},
};

const qxCommandSet &soundCommands()
{
    static qxCommandSet all;
    if (all.rows.empty()) {
        qxAddCommands(&all, channelCommands, qxNamesOf<channelCommands>);
        qxAddCommands(&all, qxSampleCommands, qxSampleCommandNames);
        qxAddCommands(&all, qxMusicCommands, qxMusicCommandNames);
        qxEndCommandSet(&all);
    }
    return all;
}

} // namespace

extern "C" int qxOpenSoundLib(lua_State *L)
{
    if (int r = qxCreateAudioLocks()) return r;
    if (qxGlobalSettings.alsaDevice[0])
        std::snprintf(qxAudioDeviceName, sizeof qxAudioDeviceName, "%s", qxGlobalSettings.alsaDevice);
    qxLinkSoundAttributes();
    const qxCommandSet &commands = soundCommands();
    return qxOpenCommandLibrary(L, "sound", commands.rows.data(), soundConstants, &commands.names,
                                &qxNamesOf<soundConstants>);
}

extern "C" void qxCloseSoundLib(lua_State *)
{
    qxStopAllChannels();
}

extern "C" void qxFreeAllMusic(lua_State *L)
{
    qxFreeMusicObjects(L);
    qxFreeAllSamples(L);
    // An adapter's device is closed while its plug-in is still loaded.
    if (qxAudioAdapter.plugin) {
        qxCloseAudioDevice();
        qxResetAudioAdapter();
    }
}

extern "C" void qxFreeAudioOutput(void)
{
    qxCloseAudioDevice();
    qxAlsaReleaseConfig();
}

// Sound settings handed over as runtime tags; the handler tags say whether
// the script listens for loop, end, music-end and video-end events.

static uint32_t *soundTagSlot(uint32_t tag)
{
    switch (tag) {
    case QX_TAG_NOSOUND: return &qxAudio.soundDisabled;
    case QX_TAG_SOUNDSETTING: return &qxAudio.soundSetting;
    case QX_TAG_FORCESOUND: return &qxAudio.forceSound;
    case QX_TAG_ONSAMPLELOOP: return &qxAudio.onSampleLoop;
    case QX_TAG_ONSAMPLEEND: return &qxAudio.onSampleEnd;
    case QX_TAG_ONMUSICEND: return &qxAudio.onMusicEnd;
    case QX_TAG_ONVIDEOEND: return &qxAudio.onVideoEnd;
    default: return nullptr;
    }
}

extern "C" int qxSoundAttrSetter(qxTagItem *item)
{
    uint32_t *slot = soundTagSlot(item->tag);
    if (!slot)
        return 0;
    *slot = uint32_t(item->data != 0);
    if (item->tag == QX_TAG_SOUNDSETTING) *slot = uint32_t(item->data);
    return 1;
}

extern "C" int qxSoundAttrGetter(qxTagItem *item)
{
    uint32_t *slot = soundTagSlot(item->tag);
    if (!slot)
        return 0;
    item->data = *slot;
    return 1;
}
