// The video sound FIFO and its channel. The video's audio thread appends
// decoded chunks; the native mixer thread or the adapter's fill callback
// drains them from the front, each under the FIFO's mutex.
#include "media/qx_videosound.h"

#include <algorithm>
#include <cstring>

#include "core/errors/qx_errors.h"
#include "media/qx_audioadapter.h"
#include "media/qx_sound.h"
#include "platform/qx_memory.h"

namespace {

struct FifoLock {
    explicit FifoLock(qxVideoSoundFifo *f) : f(f) { pthread_mutex_lock(&f->mutex); }
    ~FifoLock() { pthread_mutex_unlock(&f->mutex); }
    qxVideoSoundFifo *f;
};

bool stopAsked(const qxVideoSoundFifo *f)
{
    return f->stopped.load(std::memory_order_acquire) || (f->server && qxThreadStopRequested(f->server));
}

// The first chunk is in: the channel starts playing.
int startChannel(qxVideoSoundFifo *f)
{
    qxChannel *c = f->channel;
    if (!c || c->video != f) return 0; // stopped from the script meanwhile
    if (qxAudioAdapter.plugin)
        if (int r = qxAdapterAllocChannel(c, f->channels == 2 ? QX_SMP_S16STEREO : QX_SMP_S16MONO, f->rate))
            return r;
    c->kind.store(QX_CH_VIDEO, std::memory_order_release);
    return 0;
}

} // namespace

extern "C" {

int qxVideoFifoInit(qxVideoSoundFifo *f, uint32_t chunkBytes, uint32_t channels, uint32_t rate, int halfRule)
{
    f->started.store(0);
    f->stopped.store(0);
    f->held.store(0);
    f->heldSeen = 0;
    f->server = nullptr;
    f->fill = 0;
    f->frameBytes = channels == 2 ? 4 : 2;
    // Twice a chunk, but never more than the store holds (chunks reach
    // 0x40000 bytes); whole frames only.
    uint64_t capacity = std::min<uint64_t>(2ull * chunkBytes, QX_VIDEOSOUND_STORE);
    f->capacity = uint32_t(capacity - capacity % f->frameBytes);
    if (!f->capacity) f->capacity = QX_VIDEOSOUND_STORE;
    f->halfRule = halfRule ? 1 : 0;
    f->video = nullptr;
    f->channel = nullptr;
    f->channels = channels == 2 ? 2 : 1;
    f->rate = rate;
    f->data = static_cast<uint8_t *>(qxAlloc(QX_VIDEOSOUND_STORE, 0));
    if (!f->data) return ERR_MEM;
    if (pthread_mutex_init(&f->mutex, nullptr)) {
        qxFree(f->data);
        f->data = nullptr;
        return ERR_SEMAPHORE;
    }
    return 0;
}

void qxVideoFifoRelease(qxVideoSoundFifo *f)
{
    if (!f->data) return;
    pthread_mutex_destroy(&f->mutex);
    qxFree(f->data);
    f->data = nullptr;
}

int qxVideoFifoAppend(qxVideoSoundFifo *f, const void *data, uint32_t bytes)
{
    auto *in = static_cast<const uint8_t *>(data);
    bytes -= bytes % f->frameBytes;
    while (bytes) {
        if (stopAsked(f)) return 1;
        uint32_t n = 0;
        {
            FifoLock lock(f);
            bool open = f->halfRule ? f->fill <= f->capacity / 2 : f->fill < f->capacity;
            if (open) {
                n = std::min(bytes, f->capacity - f->fill);
                n -= n % f->frameBytes;
                std::memcpy(f->data + f->fill, in, n);
                f->fill += n;
            }
        }
        in += n;
        bytes -= n;
        if (n && !f->started.load(std::memory_order_acquire)) {
            if (int r = startChannel(f)) return r;
            f->started.store(1, std::memory_order_release);
        }
        if (bytes) qxDelay(1);
    }
    return 0;
}

uint32_t qxVideoFifoDrain(qxVideoSoundFifo *f, uint8_t *out, uint32_t bytes)
{
    if (!f->started.load(std::memory_order_acquire)) return 0;
    FifoLock lock(f);
    if (f->held.load(std::memory_order_relaxed)) return 0;
    uint32_t n = std::min(bytes, f->fill);
    n -= n % f->frameBytes;
    std::memcpy(out, f->data, n);
    std::memmove(f->data, f->data + n, f->fill - n);
    f->fill -= n;
    return n;
}

void qxVideoFifoHold(qxVideoSoundFifo *f, int hold)
{
    if (!f->data) return;
    FifoLock lock(f);
    f->held.store(hold ? 1 : 0, std::memory_order_release);
}

int qxVideoSoundOpen(qxVideoSoundFifo *f, void *video, qxObjectRef id, int index, uint32_t volume,
                     uint32_t channels, uint32_t rate, uint32_t chunkBytes)
{
    if (int r = qxVideoFifoInit(f, chunkBytes, channels, rate, !qxAudioAdapter.plugin)) return r;
    qxChannel *c = nullptr;
    int r = qxAllocChannel(QX_CH_VIDEOSETUP, id, &index, &c);
    if (!r && !qxAudioAdapter.plugin) {
        uint32_t flags = QX_SOUND_SIGNED | (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? QX_SOUND_BIGENDIAN : 0);
        r = qxAlsaOpenChannel(c, "default", 16, f->channels, flags, rate);
        if (r) qxFreeChannel(c);
    }
    if (r) {
        qxVideoFifoRelease(f);
        return r;
    }
    c->volume.store(volume);
    c->video = f;
    f->video = video;
    f->channel = c;
    return 0;
}

void qxVideoSoundClose(qxVideoSoundFifo *f)
{
    f->stopped.store(1, std::memory_order_release);
    // The channel may have been taken meanwhile (StopChannel, a new play).
    if (qxChannel *c = f->channel; c && c->video == f) qxFreeChannel(c);
    f->channel = nullptr;
    qxVideoFifoRelease(f);
}

} // extern "C"
