// Music streams on the native output: two halves of one second each, the
// one not playing filled by a decoding thread.
#include <cstring>

#include "core/errors/qx_errors.h"
#include "media/qx_audioadapter.h"
#include "media/qx_sound.h"
#include "platform/qx_memory.h"

namespace {

uint8_t *halfAt(const qxChannel *c, uint32_t half)
{
    return c->halfBuffer + size_t(half) * c->halfFrames * c->stream->frameBytes;
}

bool morePasses(const qxChannel *c)
{
    return c->loops == 0 || c->loop < c->loops;
}

// Reads up to n frames; the stream position stays in frames.
uint32_t readFrames(qxSoundStream *s, uint8_t *out, uint32_t n, int *end)
{
    *end = 0;
    return n ? qxReadSoundStream(s, out, n, end) : 0;
}

void fillSilence(const qxSoundStream *s, uint8_t *out, uint32_t frames)
{
    bool unsigned8 = s->bits == 8 && !(s->flags & QX_SOUND_SIGNED);
    std::memset(out, unsigned8 ? 0x80 : 0, size_t(frames) * s->frameBytes);
}

// Seeks to the start for the next pass; the time base stays.
void rewind(qxSoundStream *s)
{
    uint32_t keep[4];
    std::memcpy(keep, s->timeBase, sizeof keep);
    qxSeekSoundStream(s, 0);
    std::memcpy(s->timeBase, keep, sizeof keep);
}

// Fills one half: a full half, or what is left completed from the start
// (more passes) or with silence (last pass, end state 1).
void fillHalf(qxChannel *c, uint8_t *out, uint32_t *frames, uint32_t *endState)
{
    qxSoundStream *s = c->stream;
    uint32_t done = 0;
    bool rewound = false;
    *endState = 0;
    while (done < c->halfFrames) {
        uint32_t position = s->position / (s->unit ? s->unit : 1);
        uint32_t left = s->length > position ? s->length - position : 0;
        uint32_t want = c->halfFrames - done;
        int end = 0;
        uint32_t got = readFrames(s, out + size_t(done) * s->frameBytes, left < want ? left : want, &end);
        done += got;
        if (done == c->halfFrames) break;
        // A script-fed stream cannot start over: its end buffer ends it on
        // any pass. A pass that yields nothing after a rewind ends it too,
        // rather than spinning on a source with no data.
        bool over = (end && s->kind == QX_STREAM_CUSTOM) || (rewound && got == 0);
        rewound = true;
        if (over || !morePasses(c) || (done == 0 && s->length == 0)) {
            fillSilence(s, out + size_t(done) * s->frameBytes, c->halfFrames - done);
            *endState = 1;
            break;
        }
        c->loop++;
        rewind(s);
    }
    *frames = done;
}

// Fills the half that is not playing; the channel mutex is held on entry
// and on return.
void refillIdleHalf(qxChannel *c)
{
    uint32_t target = c->fillHalf == 0 ? 1 : 0;
    pthread_mutex_unlock(&c->mutex);
    uint32_t frames, endState;
    fillHalf(c, halfAt(c, target), &frames, &endState);
    pthread_mutex_lock(&c->mutex);
    c->nextFrames = frames;
    c->nextBytes = frames * c->stream->frameBytes;
    if (endState) c->endState = 1;
    c->fillHalf ^= 1;
    c->busy = 0;
}

void *decoderMain(void *arg)
{
    auto *c = static_cast<qxChannel *>(arg);
    pthread_mutex_lock(&c->mutex);
    while (true) {
        while (!c->request && !c->quit) pthread_cond_wait(&c->cond, &c->mutex);
        if (c->quit) break;
        c->request = 0;
        refillIdleHalf(c);
    }
    pthread_mutex_unlock(&c->mutex);
    return nullptr;
}

// The audio adapter's server: each signal of its condition record fills the
// idle half; a stop request or a failed wait ends it.
void *adapterServerMain(void *arg)
{
    qxThreadRecord *record = qxThreadFromArg(arg);
    auto *c = static_cast<qxChannel *>(qxThreadUserData(record));
    qxThreadSignalStart(record);
    pthread_mutex_lock(&c->mutex);
    while (qxWaitCond(c->serverCond, &c->mutex, 0) == 0 && !qxThreadStopRequested(record)) refillIdleHalf(c);
    pthread_mutex_unlock(&c->mutex);
    qxWaitThreadEnd(record);
    return nullptr;
}

void signalDecoder(qxChannel *c)
{
    while (pthread_mutex_trylock(&c->mutex) != 0) qxDelay(0);
    c->busy = 1;
    if (c->server) {
        qxSignalCond(c->serverCond);
    } else {
        c->request = 1;
        pthread_cond_signal(&c->cond);
    }
    pthread_mutex_unlock(&c->mutex);
}

bool startDecoder(qxChannel *c, bool adapter)
{
    pthread_mutex_init(&c->mutex, nullptr);
    if (!adapter) {
        pthread_cond_init(&c->cond, nullptr);
        c->thread = qxCreateThread(decoderMain, c, 100);
        if (c->thread) return true;
        pthread_cond_destroy(&c->cond);
    } else if ((c->serverCond = qxCreateCond())) {
        c->server = qxCreateServerThread("Zephyrane audio adapter server", adapterServerMain, c, nullptr, 100000, 100);
        if (c->server) return true;
        qxDeleteCond(c->serverCond);
        c->serverCond = nullptr;
    }
    pthread_mutex_destroy(&c->mutex);
    return false;
}

} // namespace

extern "C" {

int qxStartStreamChannel(qxChannel *c, qxSoundStream *s)
{
    // On the adapter path the decoding thread is its server thread.
    bool adapter = qxAudioAdapter.plugin != nullptr;
    if (!adapter)
        if (int r = qxAlsaOpenChannel(c, "default", s->bits, s->channels, s->flags, s->frequency)) return r;
    uint32_t unit = s->unit ? s->unit : 1;
    c->stream = s;
    c->loop = c->loop ? c->loop : 1;
    s->positionMs = qxFramesToMs(s->position, s->frequency);
    c->halfFrames = s->frequency / unit;
    uint32_t position = s->position / unit;
    uint32_t left = s->length > position ? s->length - position : 0;
    c->singleShot = left <= c->halfFrames && !morePasses(c);
    c->halfBuffer = static_cast<uint8_t *>(qxAlloc(size_t(2) * c->halfFrames * s->frameBytes, 0));
    if (!c->halfBuffer) {
        qxAlsaCloseChannel(c);
        return ERR_MEM;
    }
    uint32_t timeBase[4];
    std::memcpy(timeBase, s->timeBase, sizeof timeBase);
    qxSeekSoundStream(s, s->position);
    std::memcpy(s->timeBase, timeBase, sizeof timeBase);
    uint32_t frames, endState;
    fillHalf(c, halfAt(c, 0), &frames, &endState);
    c->threadStarted = 1;
    c->nextFrames = frames;
    c->nextBytes = frames * s->frameBytes;
    c->endState = endState;
    c->streamData = halfAt(c, 0);
    c->bufferFrames = frames;
    c->position = 0;
    c->startPending = 1;
    if (c->singleShot || endState) {
        c->endState = 2;
    } else {
        if (!startDecoder(c, adapter)) {
            c->threadStarted = 0;
            qxFree(c->halfBuffer);
            c->halfBuffer = nullptr;
            qxAlsaCloseChannel(c);
            return ERR_THREAD;
        }
        c->fillHalf = 0;
    }
    if (adapter) {
        if (int r = qxAdapterAllocChannel(c, s->format, s->frequency)) {
            qxStopStreamChannel(c);
            return r;
        }
    }
    if (c->thread || c->server) signalDecoder(c);
    c->kind.store(QX_CH_STREAM, std::memory_order_release);
    return 0;
}

int qxNextStreamHalf(qxChannel *c)
{
    if (c->singleShot || (!c->thread && !c->server)) return 0;
    if (pthread_mutex_trylock(&c->mutex) != 0) return -1;
    if (c->endState == 2) {
        pthread_mutex_unlock(&c->mutex);
        return 0;
    }
    if (c->busy) {
        pthread_mutex_unlock(&c->mutex);
        return -1;
    }
    // The half that was filled last now plays; the used one is refilled.
    c->streamData = halfAt(c, c->fillHalf);
    c->bufferFrames = c->nextFrames;
    c->position = 0;
    bool last = c->endState == 1;
    if (last) c->endState = 2;
    pthread_mutex_unlock(&c->mutex);
    if (!last) signalDecoder(c);
    return 1;
}

void qxStopStreamChannel(qxChannel *c)
{
    if (c->thread) {
        pthread_mutex_lock(&c->mutex);
        c->quit = 1;
        c->request = 1;
        pthread_cond_signal(&c->cond);
        pthread_mutex_unlock(&c->mutex);
        pthread_join(c->thread, nullptr);
        pthread_mutex_destroy(&c->mutex);
        pthread_cond_destroy(&c->cond);
        c->thread = 0;
    }
    if (c->server) {
        pthread_mutex_lock(&c->mutex);
        qxRequestThreadStop(c->server);
        qxSignalCond(c->serverCond);
        pthread_mutex_unlock(&c->mutex);
        qxEndServerThread(c->server);
        qxDeleteCond(c->serverCond);
        pthread_mutex_destroy(&c->mutex);
        c->server = nullptr;
        c->serverCond = nullptr;
    }
    qxFree(c->halfBuffer);
    c->halfBuffer = nullptr;
    c->streamData = nullptr;
}

} // extern "C"
