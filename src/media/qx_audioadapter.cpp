// The audio-adapter path: installation through the host table, the
// adapter's five entry points, and the fill callback that feeds samples,
// modules, streams and video sound from the channel table. The callback
// runs on the adapter's thread under the output mutex; the script side
// releases that mutex before it calls FreeAudioChannel, so that an adapter
// may wait there for its own thread.
#include "media/qx_audioadapter.h"

#include <algorithm>
#include <cstring>

#include "core/commands/qx_args.h"
#include "core/applet/qx_preproc.h"
#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"
#include "media/qx_modplayer.h"
#include "media/qx_music.h"
#include "media/qx_sound.h"
#include "media/qx_videosound.h"
#include "platform/qx_threadevents.h"

extern "C" {
qxAudioAdapterState qxAudioAdapter;
}

namespace {

typedef void *(*OpenAudioFn)(void *, void *);
typedef void (*CloseAudioFn)(void *);
typedef void *(*AllocChannelFn)(void *, uint32_t, uint32_t, uint32_t, qxAudioFillFunc, uintptr_t, void *,
                                uintptr_t);
typedef void (*FreeChannelFn)(void *, void *);
typedef void (*SetAttributesFn)(void *, void *, const uint32_t *);

// The entry point of the installed adapter; null for a plug-in that no call
// may reach (foreign calling convention), whose calls all yield 0.
template <typename Fn> Fn entry(int slot)
{
    qxPluginInfo *p = qxAudioAdapter.plugin;
    if (!p || p->abiKind == 2) return nullptr;
    return reinterpret_cast<Fn>(p->entry[slot]);
}

struct OutputLock {
    OutputLock() { qxAlsaLock(); }
    ~OutputLock() { qxAlsaUnlock(); }
};

void endChannel(qxChannel *c)
{
    qxGetSysTime(&c->endTime);
    qxTimeVal second{1, 0};
    qxAddTime(&c->endTime, &second);
    c->ended = 1;
}

// Adapters take 16-bit data in the machine's order.
bool foreignOrder(uint32_t flags)
{
    return bool(flags & QX_SOUND_BIGENDIAN) != (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__);
}

void swap16(uint8_t *data, size_t bytes)
{
    for (size_t i = 0; i + 1 < bytes; i += 2) std::swap(data[i], data[i + 1]);
}

uint32_t fillSample(qxChannel *c, uint8_t *out, uint32_t frames)
{
    const qxSound *sound = c->sound;
    if (c->ended || !sound) return 0;
    if (!sound->frames) {
        endChannel(c); // an empty sound would pass its passes for ever
        return 0;
    }
    uint32_t bpf = sound->bytesPerFrame, done = 0;
    if (c->startPending) {
        c->startPending = 0;
        qxGetSysTime(&c->startTime);
        if (qxAudio.onSampleLoop)
            qxPostThreadEvent(QX_THREADEVENT_SAMPLE_LOOP, c->objectId, c->passMs, 1, 0, 1);
    }
    while (done < frames) {
        if (c->position >= sound->frames) {
            if (c->loops && c->loop >= c->loops) {
                if (qxAudio.onSampleEnd)
                    qxPostThreadEvent(QX_THREADEVENT_SAMPLE_END, c->objectId, c->passMs, c->loop, c->lastMs, 1);
                endChannel(c);
                break;
            }
            c->position = 0;
            c->loop++;
            if (qxAudio.onSampleLoop)
                qxPostThreadEvent(QX_THREADEVENT_SAMPLE_LOOP, c->objectId, c->passMs, c->loop, 0, 1);
        }
        uint32_t n = std::min(frames - done, sound->frames - c->position);
        std::memcpy(out + size_t(done) * bpf, sound->data + size_t(c->position) * bpf, size_t(n) * bpf);
        c->position += n;
        done += n;
    }
    if (sound->bits == 16 && foreignOrder(sound->flags)) swap16(out, size_t(done) * bpf);
    return done;
}

uint32_t fillModule(qxChannel *c, uint8_t *out, uint32_t frames)
{
    auto *m = static_cast<qxMusic *>(c->music);
    auto *state = static_cast<qxModPlayer *>(m->stream);
    if (c->startPending) {
        c->startPending = 0;
        qxGetSysTime(&c->startTime);
    }
    // A pending position jump is taken by the mix itself.
    qxModMix(state, out, out + 2, 4, frames, 1, 16, 2);
    return frames;
}

uint32_t fillStream(qxChannel *c, uint8_t *out, uint32_t frames)
{
    if (c->ended || !c->stream) return 0;
    uint32_t bpf = c->stream->frameBytes, done = 0;
    while (done < frames) {
        if (c->position >= c->bufferFrames) {
            int next = qxNextStreamHalf(c);
            // The decoder runs a second ahead; a half not ready yet is
            // waited for briefly, without the output mutex.
            for (int tries = 0; next < 0 && tries < 200; tries++) {
                qxAlsaUnlock();
                qxDelay(1);
                qxAlsaLock();
                if (c->kind.load(std::memory_order_acquire) != QX_CH_STREAM) return done;
                next = qxNextStreamHalf(c);
            }
            if (next < 0) break;
            if (next == 0) {
                if (qxAudio.onMusicEnd) qxPostThreadEvent(QX_THREADEVENT_MUSIC_END, c->objectId, 0, 1, 0, 1);
                endChannel(c);
                break;
            }
            continue;
        }
        uint32_t n = std::min(frames - done, c->bufferFrames - c->position);
        std::memcpy(out + size_t(done) * bpf, c->streamData + size_t(c->position) * bpf, size_t(n) * bpf);
        if (c->startPending) {
            c->startPending = 0;
            qxGetSysTime(&c->startTime);
        }
        c->position += n;
        done += n;
    }
    if (c->stream->bits == 16 && foreignOrder(c->stream->flags)) swap16(out, size_t(done) * bpf);
    return done;
}

uint32_t fillVideo(qxChannel *c, uint8_t *out, uint32_t frames)
{
    auto *f = static_cast<qxVideoSoundFifo *>(c->video);
    size_t want = size_t(frames) * f->frameBytes;
    uint32_t got = qxVideoFifoDrain(f, out, uint32_t(std::min<size_t>(want, 0xFFFFFFFFu)));
    std::memset(out + got, 0, want - got);
    return frames;
}

} // namespace

extern "C" {

int qxInstallAudioAdapter(qxPluginInfo *plugin, uint32_t flags, const qxHostTag *tags)
{
    if (!qxRequireVersion(6, 0)) return ERR_OLDAPPLET;
    if (!plugin || !(plugin->capabilities & QX_CAP_AUDIOADAPTER)) return ERR_WRONGUSAGE;
    auto readTags = [tags](uint32_t *bufferSize, int32_t *channels) {
        for (const qxHostTag *t = tags; t && t->tag; t++) {
            // A value past the field's range reads as 0, not cut down.
            if (t->tag == QX_AUDIOTAG_BUFFERSIZE) *bufferSize = t->value <= UINT32_MAX ? uint32_t(t->value) : 0;
            else if (t->tag == QX_AUDIOTAG_CHANNELS && channels)
                *channels = t->value <= INT32_MAX ? int32_t(t->value) : 0;
        }
    };
    if ((flags & QX_AUDIOADAPTER_UPDATE) && qxAudioAdapter.plugin == plugin) {
        uint32_t bufferSize = qxAudioAdapter.bufferSize;
        readTags(&bufferSize, nullptr);
        qxAudioAdapter.bufferSize = bufferSize;
        plugin->audioSetting = bufferSize;
        return 0;
    }
    // Start-up has begun making the applet's declared objects (its plug-in
    // requirements first) when it stores them or runs the main chunk.
    if (!qxAdapterInstallOpen()) return ERR_SETADAPTER;
    if (qxAudioAdapter.plugin && (qxAudioAdapter.flags & QX_AUDIOADAPTER_EXCLUSIVE)) return ERR_SETADAPTER;
    uint32_t bufferSize = 2048;
    int32_t channels = qxAudio.count > 0 ? qxAudio.count : 8;
    readTags(&bufferSize, &channels);
    // The output open now (the native one, or the adapter installed before)
    // is closed first: its mixer thread ends and its channels are let go,
    // so nothing reads the channel table or the adapter while they change.
    // The next sound command opens the output anew.
    if (channels > 0 || qxAudioAdapter.plugin) {
        qxCloseAudioDevice();
        qxAudio.audioOpen = 0;
        qxAudio.audioFailed = 0;
    }
    if (channels <= 0) {
        qxAudioAdapter = {};
        return ERR_SETADAPTER;
    }
    qxAudioAdapter = {plugin, flags, bufferSize, channels, nullptr};
    plugin->audioSetting = bufferSize; // the record shows the setting of its tags
    return 0;
}

void qxResetAudioAdapter(void) { qxAudioAdapter = {}; }

int qxAdapterOpen(void)
{
    auto open = entry<OpenAudioFn>(QX_EP_OpenAudio);
    void *handle = open ? open(nullptr, nullptr) : nullptr;
    if (!handle) return ERR_OPENAUDIO;
    qxAudioAdapter.handle = handle;
    return 0;
}

void qxAdapterClose(void)
{
    if (auto close = entry<CloseAudioFn>(QX_EP_CloseAudio); close && qxAudioAdapter.handle)
        close(qxAudioAdapter.handle);
    qxAudioAdapter.handle = nullptr;
}

int qxAdapterAllocChannel(qxChannel *c, uint32_t format, uint32_t frequency)
{
    auto alloc = entry<AllocChannelFn>(QX_EP_AllocAudioChannel);
    void *ac = alloc ? alloc(qxAudioAdapter.handle, format, frequency, c->volume.load(), qxAdapterFill, 0, c, 0)
                     : nullptr;
    if (!ac) return ERR_ALLOCCHANNEL;
    OutputLock lock;
    c->adapterChannel = ac;
    return 0;
}

void qxAdapterFreeChannel(qxChannel *c)
{
    void *ac;
    {
        // The callback sees a kind it does not feed from now on.
        OutputLock lock;
        ac = c->adapterChannel;
        c->adapterChannel = nullptr;
        if (ac) c->kind.store(QX_CH_FINISHED, std::memory_order_release);
    }
    if (!ac) return;
    if (auto release = entry<FreeChannelFn>(QX_EP_FreeAudioChannel)) release(qxAudioAdapter.handle, ac);
}

void qxAdapterSetAttributes(qxChannel *c, uint32_t volume, uint32_t panning, uint32_t pitch)
{
    auto set = entry<SetAttributesFn>(QX_EP_SetChannelAttributes);
    if (!set || !c->adapterChannel) return;
    uint32_t list[7];
    int n = 0;
    const uint32_t values[3] = {volume, panning, pitch};
    const uint32_t codes[3] = {QX_AUDIOATTR_VOLUME, QX_AUDIOATTR_PANNING, QX_AUDIOATTR_PITCH};
    for (int i = 0; i < 3; i++) {
        if (values[i] == QX_AUDIOATTR_UNSET) continue;
        list[n++] = codes[i];
        list[n++] = values[i];
    }
    list[n] = 0;
    set(qxAudioAdapter.handle, c->adapterChannel, list);
}

void qxAdapterReap(void)
{
    qxTimeVal now;
    qxGetSysTime(&now);
    for (int i = 0; i < qxAudio.count; i++) {
        qxChannel *c = &qxAudio.channels[i];
        bool due;
        {
            OutputLock lock;
            due = c->ended && qxCmpTime(&now, &c->endTime) >= 0;
        }
        if (due) qxFreeChannel(c);
    }
}

uint32_t qxAdapterFill(uintptr_t, uintptr_t, void *buffer, uint32_t frames, void *channel)
{
    auto *c = static_cast<qxChannel *>(channel);
    if (!c || !buffer) return 0;
    // Nothing larger than one second of a 4-byte frame at 192 kHz is asked
    // of a channel in one call; the adapter gets the rest next time.
    frames = std::min<uint32_t>(frames, 192000);
    auto *out = static_cast<uint8_t *>(buffer);
    OutputLock lock;
    switch (c->kind.load(std::memory_order_acquire)) {
    case QX_CH_SAMPLE: return fillSample(c, out, frames);
    case QX_CH_MODULE: return fillModule(c, out, frames);
    case QX_CH_STREAM: return fillStream(c, out, frames);
    case QX_CH_VIDEO: return fillVideo(c, out, frames);
    default: return 0;
    }
}

} // extern "C"
