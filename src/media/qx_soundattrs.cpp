// Attribute answers of the "sound" library for samples and music, by the
// request codes that GetAttribute passes on.
#include "media/qx_music.h"
#include "media/qx_sample.h"
#include "media/qx_soundattrs.h"

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
        out->number = playing ? ms : -1;
        out->second = playing ? double(pass) : -1;
        return 1;
    }
    case 24: out->number = sound->frames; return 1;
    case 30:
        if (!qxAudio.deviceOpen) return 0;
        out->number = qxIsSoundPlaying(sound) ? 1 : 0;
        return 1;
    case 31: out->text = s->loader ? "native" : "inbuilt"; return 1;
    default: return 0;
    }
}

int musicAttribute(int code, qxMusic *m, qxAttributeValue *out)
{
    bool module = m->kind == 2;
    auto *s = static_cast<qxSoundStream *>(m->stream);
    switch (code) {
    case 14: out->number = module ? -1 : double(qxStreamInfo(s, 0, -1)); return 1;
    case 15: out->number = module ? -1 : double(qxStreamInfo(s, 1, -1)); return 1;
    case 17: out->text = module ? "Protracker" : qxSoundStreamName(s); return 1;
    case 19: out->number = module ? QX_MODULE_RATE * 4 * 8 / 1000 : double(qxStreamInfo(s, 5, -1)); return 1;
    case 20: out->number = module ? QX_MODULE_RATE : s->frequency; return 1;
    case 21: out->number = qxCodeToScriptFormat(module ? QX_SMP_S16STEREO : s->format); return 1;
    case 25: out->number = m->seekable; return 1;
    case 26: out->number = m->subsongs; return 1;
    case 27: out->number = m->subsong; return 1;
    case 28: out->number = m->state == 1; return 1;
    case 29: out->number = m->state == 2; return 1;
    case 32: out->text = m->loader ? "native" : "inbuilt"; return 1;
    default: return 0;
    }
}

} // namespace

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
