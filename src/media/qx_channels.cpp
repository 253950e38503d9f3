// The channel table and the audio device: open and close, allocation with
// reaping first, queries, stops and volume changes.
#include <cstring>

#include "core/errors/qx_errors.h"
#include "media/qx_audioadapter.h"
#include "media/qx_sound.h"
#include "platform/qx_memory.h"
#include "platform/qx_threadevents.h"

extern "C" {

qxAudioState qxAudio;

int qxCreateAudioLocks(void)
{
    if (qxCreateThreadEventQueue()) return ERR_SEMAPHORE;
    if (!qxAudio.mutexReady) {
        if (qxInitRecursiveMutex(&qxAudio.channelMutex)) return ERR_SEMAPHORE;
        qxAudio.mutexReady = 1;
    }
    return 0;
}

void qxLockChannels(void) { pthread_mutex_lock(&qxAudio.channelMutex); }
void qxUnlockChannels(void) { pthread_mutex_unlock(&qxAudio.channelMutex); }

int qxOpenAudioDevice(int32_t numChannels)
{
    if (qxAudio.deviceOpen) return 0;
    if (int r = qxCreateAudioLocks()) return r;
    bool adapter = qxAudioAdapter.plugin != nullptr;
    int32_t n = adapter ? qxAudioAdapter.channels
                        : numChannels ? numChannels : (qxAudio.count ? qxAudio.count : 8);
    if (n <= 0) return ERR_OPENAUDIO;
    if (!adapter && !qxAlsaAvailable()) return ERR_OPENAUDIO;
    if (adapter)
        if (int r = qxCreateOutputLock()) return r;
    auto *table = static_cast<qxChannel *>(qxAlloc(sizeof(qxChannel) * size_t(n), 1));
    if (!table) return ERR_MEM;
    qxAudio.channels = table;
    qxAudio.count = n;
    if (int r = adapter ? qxAdapterOpen() : qxAlsaStart()) {
        qxAudio.channels = nullptr;
        qxFree(table);
        return r;
    }
    qxAudio.deviceOpen = 1;
    return 0;
}

void qxCloseAudioDevice(void)
{
    if (!qxAudio.deviceOpen) return;
    qxStopAllChannels();
    if (qxAudioAdapter.plugin) qxAdapterClose();
    else qxAlsaStop();
    qxFree(qxAudio.channels);
    qxAudio.channels = nullptr;
    qxAudio.deviceOpen = 0;
}

bool qxSoundOff(void)
{
    return qxAudio.soundDisabled || qxAudio.audioFailed;
}

int qxNeedSound(int32_t numChannels)
{
    if (qxSoundOff()) return 1;
    if (qxAudio.audioOpen) return 0;
    int r = qxOpenAudioDevice(numChannels);
    if (!r) {
        qxAudio.audioOpen = 1;
        return 0;
    }
    qxAudio.audioFailed = 1;
    return qxAudio.forceSound ? r : 1;
}

void qxFreeChannel(qxChannel *c)
{
    // The adapter may wait for its own thread, which may be waiting for
    // the output mutex: the channel is let go of without holding it.
    qxAdapterFreeChannel(c);
    qxAlsaLock();
    qxAlsaCloseChannel(c);
    std::memset(static_cast<void *>(c), 0, sizeof *c);
    qxAlsaUnlock();
}

static int typeOfKind(uint32_t kind)
{
    switch (kind) {
    case QX_CH_PREPARED: case QX_CH_SAMPLE: return 2;
    case QX_CH_MODULE: case QX_CH_STREAM: case QX_CH_MUSICSETUP: return 33;
    case QX_CH_VIDEO: case QX_CH_VIDEOSETUP: return 50;
    default: return 7;
    }
}

// Stops what the channel plays: a music or a video is stopped as a whole
// (its library lets the channel go), a sample's channel is freed.
static void stopChannel(lua_State *L, int index)
{
    qxChannel *c = &qxAudio.channels[index];
    uint32_t kind = c->kind.load(std::memory_order_acquire);
    if (kind == QX_CH_FREE) return;
    int type = typeOfKind(kind);
    if (type == 33 && c->music && qxStopMusicOfChannel(c)) return;
    if (type == 50 && c->video && qxStopVideoOfChannel(L, c)) return;
    qxFreeChannel(c);
}

int qxAllocChannel(uint32_t kind, qxObjectRef id, int *index, qxChannel **out)
{
    qxReapChannels();
    int i = *index;
    if (i == -1) {
        for (i = 0; i < qxAudio.count; i++)
            if (qxAudio.channels[i].kind.load(std::memory_order_acquire) == QX_CH_FREE) break;
        if (i == qxAudio.count) return ERR_NOCHANNEL;
    } else if (i < 0 || i >= qxAudio.count) {
        return ERR_CHANNELRANGE;
    } else {
        stopChannel(nullptr, i);
    }
    qxChannel *c = &qxAudio.channels[i];
    // The mixer thread reads every record's kind during its walk.
    qxAlsaLock();
    std::memset(static_cast<void *>(c), 0, sizeof *c);
    c->objectId = id;
    c->kind.store(kind, std::memory_order_release);
    qxAlsaUnlock();
    *index = i;
    *out = c;
    return 0;
}

int qxChannelInfo(int index, int *type, qxObjectRef *id)
{
    if (index < 0 || index >= qxAudio.count) return ERR_CHANNELRANGE;
    qxLockChannels();
    const qxChannel &c = qxAudio.channels[index];
    *type = typeOfKind(c.kind.load(std::memory_order_acquire));
    *id = c.objectId;
    qxUnlockChannels();
    return 0;
}

int qxChannelStop(lua_State *L, int index)
{
    if (index < 0 || index >= qxAudio.count) return ERR_CHANNELRANGE;
    qxLockChannels();
    stopChannel(L, index);
    qxUnlockChannels();
    return 0;
}

// The first channel that plays the sound and has not finished; -1 when none.
static int findSound(const qxSound *sound)
{
    for (int i = 0; i < qxAudio.count; i++) {
        const qxChannel &c = qxAudio.channels[i];
        uint32_t kind = c.kind.load(std::memory_order_acquire);
        if (kind != QX_CH_FREE && kind != QX_CH_FINISHED && c.sound == sound) return i;
    }
    return -1;
}

int qxIsSoundPlaying(const qxSound *sound)
{
    if (!qxAudio.deviceOpen) return 0;
    qxLockChannels();
    int i = findSound(sound);
    qxUnlockChannels();
    return i >= 0;
}

int qxSoundPosition(const qxSound *sound, uint32_t *ms, uint32_t *pass)
{
    qxLockChannels();
    int i = findSound(sound);
    if (i >= 0) {
        const qxChannel &c = qxAudio.channels[i];
        qxTimeVal now;
        qxGetSysTime(&now);
        qxSubTime(&now, &c.startTime);
        *ms = now.seconds * 1000 + now.microseconds / 1000;
        *pass = c.loop ? c.loop - 1 : 0;
    }
    qxUnlockChannels();
    return i >= 0;
}

void qxStopSound(const qxSound *sound, int index)
{
    if (!qxAudio.deviceOpen) return;
    qxLockChannels();
    if (index >= 0 && index < qxAudio.count) {
        if (qxAudio.channels[index].sound == sound) qxFreeChannel(&qxAudio.channels[index]);
    } else if (index == -1) {
        for (int i; (i = findSound(sound)) >= 0;) qxFreeChannel(&qxAudio.channels[i]);
    }
    qxUnlockChannels();
}

void qxSetSoundVolume(const qxSound *sound, uint32_t volume, int index)
{
    if (!qxAudio.deviceOpen) return;
    qxLockChannels();
    if (index == -1) index = findSound(sound);
    if (index >= 0 && index < qxAudio.count) {
        qxAudio.channels[index].volume.store(volume);
        qxAdapterSetAttributes(&qxAudio.channels[index], volume, QX_AUDIOATTR_UNSET, QX_AUDIOATTR_UNSET);
    }
    qxUnlockChannels();
}

void qxSetSoundAttributes(const qxSound *sound, uint32_t pitch, uint32_t volume, uint32_t panning, int index)
{
    if (!qxAudio.deviceOpen) return;
    qxLockChannels();
    if (index == -1) index = findSound(sound);
    if (index >= 0 && index < qxAudio.count) {
        qxChannel *c = &qxAudio.channels[index];
        if (volume != QX_AUDIOATTR_UNSET) c->volume.store(volume);
        qxAdapterSetAttributes(c, volume, panning, pitch);
    }
    qxUnlockChannels();
}

void qxStartPrepared(void)
{
    for (int i = 0; i < qxAudio.count; i++) {
        qxChannel &c = qxAudio.channels[i];
        uint32_t expected = QX_CH_PREPARED;
        c.kind.compare_exchange_strong(expected, QX_CH_SAMPLE, std::memory_order_acq_rel);
    }
}

void qxReapChannels(void)
{
    if (!qxAudio.deviceOpen) return;
    if (qxAudioAdapter.plugin) qxAdapterReap();
    else qxAlsaReap();
}

void qxStopAllChannels(void)
{
    if (!qxAudio.deviceOpen) return;
    qxLockChannels();
    for (int i = 0; i < qxAudio.count; i++) stopChannel(nullptr, i);
    qxReapChannels();
    qxUnlockChannels();
}

} // extern "C"
