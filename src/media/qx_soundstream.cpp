// Sound streams: opening with format sniffing, seek, read, close, whole
// decoding into sound data, and the sound data helpers.
#include <cstring>

#include "core/errors/qx_errors.h"
#include "core/plugins/qx_plugins.h"
#include "media/qx_modplayer.h"
#include "media/qx_sound.h"
#include "platform/qx_memory.h"

extern "C" {

int qxSoundFormatCode(uint32_t bits, uint32_t channels, uint32_t flags)
{
    bool stereo = channels == 2, isSigned = flags & QX_SOUND_SIGNED;
    if (bits == 8) return stereo ? (isSigned ? 3 : 1) : (isSigned ? 2 : 0);
    if (bits == 16) return stereo ? 5 : 4;
    return -1;
}

int qxScriptFormatToCode(int constant)
{
    static const int codes[] = {QX_SMP_S8MONO, QX_SMP_S16MONO, QX_SMP_S8STEREO, QX_SMP_S16STEREO};
    return constant >= 0 && constant <= 3 ? codes[constant] : -1;
}

int qxCodeToScriptFormat(uint32_t code)
{
    static const int constants[] = {0, 2, 0, 2, 1, 3};
    return code <= 5 ? constants[code] : -1;
}

uint32_t qxFramesToMs(uint64_t frames, uint32_t frequency)
{
    if (!frequency) return 0;
    uint64_t ms = frames * 1000 / frequency;
    return ms > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(ms);
}

qxSoundStream *qxNewSoundStream(int asMusic)
{
    auto *s = static_cast<qxSoundStream *>(qxAlloc(sizeof(qxSoundStream), 1));
    if (!s) return nullptr;
    s->asMusic = asMusic;
    s->seekable = s->userFlag = s->subsongs = 1;
    return s;
}

namespace {

int unknownFormat(const char *name)
{
    qxSetErrorString(name);
    return ERR_OPENSOUND2;
}

} // namespace

int qxOpenSoundStream(const char *name, const qxSoundSource *src, int asMusic, qxSoundStream **out)
{
    int r = qxOpenPluginSoundStream(name, src, asMusic, out);
    return r >= 0 ? r : qxOpenInbuiltSoundStream(name, src, asMusic, out);
}

int qxOpenInbuiltSoundStream(const char *name, const qxSoundSource *src, int asMusic, qxSoundStream **out)
{
    const char *loaders = src ? src->loaders : nullptr;
    // The native decoder knows nothing on this platform.
    if (!qxLoaderAllowed(loaders, "inbuilt", 0)) return unknownFormat(name);
    qxSoundStream *s = qxNewSoundStream(asMusic);
    if (!s) return ERR_MEM;
    s->handle = qxOpen(name, QX_OPEN_READ | QX_OPEN_ADAPTERS, src ? src->adapters : nullptr);
    if (!s->handle) {
        qxFree(s);
        qxSetErrorString(name);
        return ERR_READFILE;
    }
    uint8_t head[1084];
    int64_t got = qxRead(s->handle, head, sizeof head);
    s->fileSize = qxIsStreamHandle(s->handle) ? -1 : qxFileSize(s->handle);
    if (qxIsStreamHandle(s->handle)) s->seekable = 0;
    int accepted = 0;
    if (got >= 12 && !std::memcmp(head, "FORM", 4) && !std::memcmp(head + 8, "8SVX", 4)) {
        s->kind = QX_STREAM_8SVX;
        accepted = qxReadIFFHeader(s);
    } else if (got >= 12 && !std::memcmp(head, "FORM", 4) && !std::memcmp(head + 8, "16SV", 4)) {
        s->kind = QX_STREAM_16SV;
        accepted = qxReadIFFHeader(s);
    } else if (got >= 12 && !std::memcmp(head, "RIFF", 4) && !std::memcmp(head + 8, "WAVE", 4)) {
        s->kind = QX_STREAM_WAVE;
        accepted = qxReadRIFFHeader(s);
    } else if (got == int64_t(sizeof head) && qxIsModule(head, uint32_t(got))) {
        // A module has no frames of its own: it is rendered by the replayer
        // when played as music, and is no sound data for a sample.
        s->kind = QX_STREAM_MODULE;
        s->seekable = 0;
        accepted = 1;
    }
    if (!accepted) {
        qxClose(s->handle);
        qxFree(s);
        return unknownFormat(name);
    }
    s->format = uint32_t(qxSoundFormatCode(s->bits, s->channels, s->flags));
    *out = s;
    return 0;
}

const char *qxSoundStreamName(const qxSoundStream *s)
{
    switch (s->kind) {
    case QX_STREAM_8SVX: return "IFF 8SVX";
    case QX_STREAM_16SV: return "IFF 16SV";
    case QX_STREAM_WAVE: return "RIFF WAVE";
    case QX_STREAM_PLUGIN: return qxPluginStreamName(s);
    case QX_STREAM_CUSTOM: return "Custom stream";
    case QX_STREAM_MODULE: return "Protracker";
    default: return "";
    }
}

int qxSeekSoundStream(qxSoundStream *s, uint32_t frame)
{
    if (s->kind == QX_STREAM_PLUGIN) qxPluginSeekStream(s, frame);
    else if (s->kind != QX_STREAM_CUSTOM && (frame < s->totalFrames || frame == 0)) s->position = frame;
    uint64_t us = s->frequency ? uint64_t(frame) * 1000000 / s->frequency : 0;
    s->timeBase[0] = uint32_t(us / 1000000);
    s->timeBase[1] = uint32_t(us % 1000000);
    s->timeBase[2] = s->timeBase[3] = 0;
    return 0;
}

uint32_t qxReadSoundStream(qxSoundStream *s, void *buffer, uint32_t frames, int *end)
{
    auto *out = static_cast<uint8_t *>(buffer);
    uint32_t n = s->kind == QX_STREAM_CUSTOM   ? qxReadCustomStream(s, out, frames, end)
                 : s->kind == QX_STREAM_PLUGIN ? qxPluginStreamSamples(s, out, frames, end)
                                               : qxStreamSamples(s, out, frames, end);
    s->position += n;
    s->lastFrames = n;
    s->lastBytes = n * s->bytesPerFrame;
    return n;
}

void qxCloseSoundStream(qxSoundStream *s)
{
    if (!s) return;
    if (s->kind == QX_STREAM_CUSTOM) qxFreeCustomStream(s);
    if (s->kind == QX_STREAM_PLUGIN) qxPluginCloseStream(s);
    qxFree(s->scratch);
    if (s->handle) qxClose(s->handle);
    qxFree(s);
}

int qxDecodeSound(const char *name, const qxSoundSource *src, qxSound **out, const qxPluginInfo **loader)
{
    qxSoundStream *s = nullptr;
    if (int r = qxOpenSoundStream(name, src, 0, &s)) return r;
    if (loader) *loader = s->plugin;
    int result = 0;
    uint8_t *data = nullptr;
    if (!s->totalBytes || !s->bytesPerFrame || !s->bits) {
        result = ERR_STREAMASSAMPLE;
    } else if (int(s->format) < 0) {
        result = ERR_8OR16BITONLY;
    } else if (!(data = static_cast<uint8_t *>(qxAlloc(size_t(s->totalFrames) * s->bytesPerFrame, 0)))) {
        result = ERR_MEM;
    } else {
        // A plug-in may deliver its frames in several pieces.
        int end = 0;
        uint32_t n = 0;
        while (n < s->totalFrames && !end) {
            uint32_t got = qxReadSoundStream(s, data + size_t(n) * s->bytesPerFrame, s->totalFrames - n, &end);
            if (!got) break;
            n += got;
        }
        auto *sound = static_cast<qxSound *>(qxAlloc(sizeof(qxSound), 1));
        if (!n) {
            result = ERR_STREAMASSAMPLE;
        } else if (!sound) {
            result = ERR_MEM;
        } else {
            *sound = {data, s->bits, s->bytesPerFrame, s->channels, s->flags, n, s->format, s->frequency};
            data = nullptr;
            *out = sound;
        }
        if (result) qxFree(sound);
    }
    qxFree(data);
    qxCloseSoundStream(s);
    return result;
}

int qxSoundFromRaw(uint8_t *data, uint32_t frames, uint32_t frequency, uint32_t code, qxSound **out)
{
    auto *sound = static_cast<qxSound *>(qxAlloc(sizeof(qxSound), 1));
    if (!sound) {
        qxFree(data);
        return ERR_MEM;
    }
    bool eight = code == QX_SMP_S8MONO || code == QX_SMP_S8STEREO;
    bool stereo = code == QX_SMP_S8STEREO || code == QX_SMP_S16STEREO;
    sound->data = data;
    sound->bits = eight ? 8 : 16;
    sound->channels = stereo ? 2 : 1;
    sound->bytesPerFrame = sound->bits / 8 * sound->channels;
    sound->frames = frames;
    sound->frequency = frequency;
    if (eight) {
        size_t n = size_t(frames) * sound->bytesPerFrame;
        for (size_t i = 0; i < n; i++) data[i] ^= 0x80;
        sound->flags = 0;
    } else {
        sound->flags = QX_SOUND_SIGNED;
    }
    sound->format = uint32_t(qxSoundFormatCode(sound->bits, sound->channels, sound->flags));
    *out = sound;
    return 0;
}

qxSound *qxCopySound(const qxSound *sound)
{
    auto *copy = static_cast<qxSound *>(qxAlloc(sizeof(qxSound), 0));
    if (!copy) return nullptr;
    *copy = *sound;
    size_t bytes = size_t(sound->frames) * sound->bytesPerFrame;
    copy->data = static_cast<uint8_t *>(qxAlloc(bytes ? bytes : 1, 0));
    if (!copy->data) {
        qxFree(copy);
        return nullptr;
    }
    if (bytes) std::memcpy(copy->data, sound->data, bytes);
    return copy;
}

void qxFreeSound(qxSound *sound)
{
    if (!sound) return;
    qxFree(sound->data);
    qxFree(sound);
}

} // extern "C"
