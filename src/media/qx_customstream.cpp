// Script-fed streams: buffers queued by the script, read by the output; a
// starved stream plays silence and keeps running.
#include <algorithm>
#include <cstring>

#include "core/errors/qx_errors.h"
#include "media/qx_sound.h"
#include "platform/qx_memory.h"

extern "C" {

int qxNewCustomStream(void *music, uint32_t frequency, uint32_t code, qxSoundStream **out)
{
    if (code > QX_SMP_S16STEREO) return ERR_WRONGUSAGE;
    auto *s = static_cast<qxSoundStream *>(qxAlloc(sizeof(qxSoundStream), 1));
    if (!s) return ERR_MEM;
    if (qxInitRecursiveMutex(&s->queueMutex)) {
        qxFree(s);
        return ERR_SEMAPHORE;
    }
    s->kind = QX_STREAM_CUSTOM;
    s->asMusic = 1;
    s->music = music;
    s->frequency = frequency;
    s->bits = code >= QX_SMP_S16MONO ? 16 : 8;
    s->channels = code == QX_SMP_U8STEREO || code == QX_SMP_S8STEREO || code == QX_SMP_S16STEREO ? 2 : 1;
    s->flags = code >= QX_SMP_S16MONO || code == QX_SMP_S8MONO || code == QX_SMP_S8STEREO ? QX_SOUND_SIGNED : 0;
    s->bytesPerFrame = s->frameBytes = s->bits / 8 * s->channels;
    s->format = code;
    s->length = s->totalFrames = 0xFFFFFFFFu;
    s->unit = 1;
    s->seekable = 0;
    *out = s;
    return 0;
}

int qxQueueStreamData(qxSoundStream *s, const void *data, uint32_t frames)
{
    uint64_t bytes = data ? uint64_t(frames) * s->bytesPerFrame : 0;
    if (bytes > 0x7FFFFFFF) return ERR_MEM;
    auto *node = static_cast<qxQueuedBuffer *>(qxAlloc(sizeof(qxQueuedBuffer) + size_t(bytes), 1));
    if (!node) return ERR_MEM;
    if (data) {
        node->data = reinterpret_cast<uint8_t *>(node + 1);
        std::memcpy(node->data, data, size_t(bytes));
        node->frames = frames;
        node->bytes = uint32_t(bytes);
    }
    pthread_mutex_lock(&s->queueMutex);
    // Buffers the output has used up go first.
    while (s->queue && s->queue->done) {
        qxQueuedBuffer *used = s->queue;
        s->queue = used->next;
        qxFree(used);
    }
    qxQueuedBuffer **p = &s->queue;
    while (*p) p = &(*p)->next;
    *p = node;
    pthread_mutex_unlock(&s->queueMutex);
    return 0;
}

int qxCustomStreamState(qxSoundStream *s, uint64_t *queued, uint32_t *reads)
{
    int ended = 0;
    *queued = 0;
    pthread_mutex_lock(&s->queueMutex);
    for (qxQueuedBuffer *b = s->queue; b; b = b->next) {
        if (!b->data) ended = 1;
        else if (!b->done) *queued += b->frames - b->used;
    }
    *reads = s->reads;
    pthread_mutex_unlock(&s->queueMutex);
    return ended;
}

uint32_t qxReadCustomStream(qxSoundStream *s, uint8_t *buffer, uint32_t frames, int *end)
{
    *end = 0;
    if (!frames) return 0;
    uint32_t done = 0, bpf = s->bytesPerFrame;
    pthread_mutex_lock(&s->queueMutex);
    s->reads++;
    // Buffers used up are dropped as the reader passes them.
    while (s->queue && s->queue->done) {
        qxQueuedBuffer *used = s->queue;
        s->queue = used->next;
        qxFree(used);
    }
    for (qxQueuedBuffer *b = s->queue; b && done < frames; b = b->next) {
        if (b->done) continue;
        if (!b->data) {
            *end = 1;
            pthread_mutex_unlock(&s->queueMutex);
            return done;
        }
        uint32_t n = std::min(frames - done, b->frames - b->used);
        std::memcpy(buffer + size_t(done) * bpf, b->data + size_t(b->used) * bpf, size_t(n) * bpf);
        b->used += n;
        done += n;
        if (b->used == b->frames) b->done = 1;
    }
    pthread_mutex_unlock(&s->queueMutex);
    bool unsigned8 = s->bits == 8 && !(s->flags & QX_SOUND_SIGNED);
    std::memset(buffer + size_t(done) * bpf, unsigned8 ? 0x80 : 0, size_t(frames - done) * bpf);
    return frames;
}

void qxFreeCustomStream(qxSoundStream *s)
{
    while (s->queue) {
        qxQueuedBuffer *next = s->queue->next;
        qxFree(s->queue);
        s->queue = next;
    }
    pthread_mutex_destroy(&s->queueMutex);
}

int64_t qxStreamInfo(const qxSoundStream *s, int request, int64_t playingMs)
{
    switch (request) {
    case 0: return qxFramesToMs(s->totalFrames, s->frequency);
    case 1: {
        int64_t stored = int64_t(s->timeBase[0]) * 1000 + s->timeBase[1] / 1000;
        if (playingMs < 0) return stored;
        // An empty or sub-millisecond stream has no duration to wrap at.
        int64_t duration = qxFramesToMs(s->totalFrames, s->frequency);
        return duration ? (stored + playingMs) % duration : stored + playingMs;
    }
    case 3: return s->format;
    case 4: return s->frequency;
    case 5: return s->bitRate ? s->bitRate : int64_t(uint64_t(s->bytesPerFrame) * s->frequency / 1024) * 8;
    default: return -1;
    }
}

} // extern "C"
