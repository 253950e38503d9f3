// Attribute answers of the "sound" library for samples and music, by the
// request codes that GetAttribute passes on.
#include "core/vm/lua.h"
#include "display/qx_displaylibs.h"
#include "media/qx_music.h"
#include "media/qx_sample.h"
#include "media/qx_soundattrs.h"
#include "platform/qx_errcodes.h"
#include "objects/qx_picsource.h"

namespace {

int sampleAttribute(int code, qxSample *s, qxAttributeValue *out)
{
    const qxSound *sound = s->sound;
    switch (code) {
    case 7: out->number = qxCodeToScriptFormat(sound->format); return 1;
    case 8: out->number = s->pitch ? double(sound->frames) / s->pitch * 1000 : 0; return 1;
    case 9: out->number = s->pitch; return 1;
    case 16: {
        if (!qxAudio.deviceOpen) return 0;
        uint32_t ms = 0, pass = 0;
        bool playing = qxSoundPosition(sound, &ms, &pass);
        out->number = playing ? double(ms) : -1.0;
        out->second = playing ? double(pass) : -1;
        return 1;
    }
    case 24: out->number = sound->frames; return 1;
    case 30:
        if (!qxAudio.deviceOpen) return 0;
        out->number = qxIsSoundPlaying(sound) ? 1 : 0;
        return 1;
    case 31: out->text = qxLoaderName(static_cast<const qxPluginInfo *>(s->loader)); return 1;
    default: return 0;
    }
}

int musicAttribute(int code, qxMusic *m, qxAttributeValue *out)
{
    bool module = m->kind == 2;
    auto *s = static_cast<qxSoundStream *>(m->stream);
    qxRefreshMusic(m);
    switch (code) {
    case 14: out->number = module ? -1 : double(qxStreamInfo(s, 0, -1)); return 1;
    case 15: out->number = double(qxMusicPositionMs(m)); return 1;
    case 17: out->text = module ? "Protracker" : qxSoundStreamName(s); return 1;
    case 19: out->number = module ? -1 : double(qxStreamInfo(s, 5, -1)); return 1;
    case 20: out->number = module ? QX_MODULE_RATE : s->frequency; return 1;
    case 21: out->number = qxCodeToScriptFormat(module ? QX_SMP_S16STEREO : s->format); return 1;
    case 25: out->number = m->seekable; return 1;
    case 26: out->number = m->subsongs; return 1;
    case 27: out->number = m->subsong; return 1;
    case 28: out->number = m->state == 1; return 1;
    case 29: out->number = m->state == 2; return 1;
    case 32: out->text = qxLoaderName(static_cast<const qxPluginInfo *>(m->loader)); return 1;
    default: return 0;
    }
}

// GetAttribute's attribute constants.
enum : int {
    kType = 9, kFrames = 11, kDuration = 14, kPitch = 15, kPosition = 18, kFormat = 19, kBitRate = 20,
    kCanSeek = 72, kSubsongs = 80, kSubsong = 81, kPlaying = 83, kPaused = 84, kLoader = 91,
};

int sampleCode(int attribute)
{
    switch (attribute) {
    case kType: return 7;
    case kDuration: return 8;
    case kPitch: return 9;
    case kPosition: return 16;
    case kFrames: return 24;
    case kPlaying: return 30;
    case kLoader: return 31;
    default: return -1;
    }
}

int musicCode(int attribute)
{
    switch (attribute) {
    case kDuration: return 14;
    case kPosition: return 15;
    case kFormat: return 17;
    case kBitRate: return 19;
    case kPitch: return 20;
    case kType: return 21;
    case kCanSeek: return 25;
    case kSubsongs: return 26;
    case kSubsong: return 27;
    case kPlaying: return 28;
    case kPaused: return 29;
    case kLoader: return 32;
    default: return -1;
    }
}

// GetAttribute of samples (2) and music (33) through the hook's codes.
int pushAttribute(lua_State *L, qxObjectRef ref, int code)
{
    if (code < 0) return -ERR_UNKNOWNATTR;
    qxAttributeValue v;
    if (!qxSoundAttribute(code, ref, &v)) {
        // Only the play state and position go unanswered while no device is open.
        v.number = code == 30 ? 0 : -1;
        v.second = -1;
    }
    if (v.text) lua_pushstring(L, v.text);
    else lua_pushnumber(L, v.number);
    if (code != 16) return 1;
    lua_pushnumber(L, v.second);
    return 2;
}

int sampleAttributeOf(lua_State *L, qxObjectRef ref, int attribute)
{
    qxSample *s = nullptr;
    if (int r = qxFindSample(ref, &s)) return qxSoundOff() ? 0 : -r;
    return pushAttribute(L, ref, sampleCode(attribute));
}

int musicAttributeOf(lua_State *L, qxObjectRef ref, int attribute)
{
    qxMusic *m = nullptr;
    if (int r = qxFindMusic(ref, &m)) return qxSoundOff() ? 0 : -r;
    return pushAttribute(L, ref, musicCode(attribute));
}

} // namespace

extern "C" void qxLinkSoundAttributes(void)
{
    qxObjectRefAttributes[QX_TYPE_SAMPLE] = sampleAttributeOf;
    qxObjectRefAttributes[QX_TYPE_MUSIC] = musicAttributeOf;
}

extern "C" int qxSoundAttribute(int code, qxObjectRef ref, qxAttributeValue *out)
{
    *out = qxAttributeValue{};
    qxSample *sample = nullptr;
    qxMusic *music = nullptr;
    if (code == 7 || code == 8 || code == 9 || code == 16 || code == 24 || code == 30 || code == 31)
        return qxFindSample(ref, &sample) == 0 ? sampleAttribute(code, sample, out) : 0;
    if ((code >= 14 && code <= 32) && qxFindMusic(ref, &music) == 0) return musicAttribute(code, music, out);
    return 0;
}
