// The playing video's four threads: the packet reader fills two bounded
// queues, the video server decodes and times pictures into two slots, the
// audio server feeds the sound FIFO and keeps the sound clock, and the
// refresh thread shows each picture when it is due, dropping late ones.
#include "media/qx_video.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <unistd.h>

#include "media/qx_audioadapter.h"
#include "media/qx_sound.h"
#include "media/qx_videodecoder.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"
#include "platform/qx_sync.h"
#include "platform/qx_threadevents.h"

namespace {

using namespace std::chrono_literals;

enum { READER, SERVER, AUDIO, REFRESH };

double wallNow()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double frameDuration(const qxVideo *v) { return v->fps > 0 ? 1.0 / v->fps : 0.04; }

uint32_t frameOf(const qxVideo *v, double time) { return uint32_t(std::max(0.0, time * v->fps + 0.5)); }

// The clock of a video without sound: frozen at the shown picture while paused.
double noSoundClock(const qxVideo *v)
{
    return v->pauseReq.load() ? v->shownTime.load() : wallNow() + v->offset.load();
}

void emptyQueue(qxVideo *v, qxVideoPacketQueue &q)
{
    std::lock_guard lock(q.mutex);
    for (auto &item : q.items) qxVideoFreePacket(v, &item.packet);
    q.items.clear();
    q.bytes = 0;
    q.ended = false;
}

void push(qxVideoPacketQueue &q, const qxVideoQueued &item)
{
    {
        std::lock_guard lock(q.mutex);
        q.items.push_back(item);
        q.bytes += item.packet.size;
    }
    q.signal.notify_one();
}

// Takes the next entry, waiting at most 10 ms; false when none came.
bool take(qxVideo *v, qxVideoPacketQueue &q, qxVideoQueued *out)
{
    std::unique_lock lock(q.mutex);
    if (q.items.empty()) q.signal.wait_for(lock, 10ms, [&] { return !q.items.empty() || v->stop.load(); });
    if (q.items.empty()) return false;
    *out = q.items.front();
    q.items.pop_front();
    q.bytes -= out->packet.size;
    return true;
}

bool queueDrained(qxVideoPacketQueue &q)
{
    std::lock_guard lock(q.mutex);
    return q.items.empty();
}

// The stream has ended and every packet of it has been taken.
bool queueEnded(qxVideoPacketQueue &q)
{
    std::lock_guard lock(q.mutex);
    return q.ended && q.items.empty();
}

uint64_t queueBytes(qxVideoPacketQueue &q)
{
    std::lock_guard lock(q.mutex);
    return q.bytes;
}

void signalAll(qxVideo *v)
{
    v->videoQueue.signal.notify_all();
    v->audioQueue.signal.notify_all();
    v->pictureSignal.notify_all();
}

// Sleeps about seconds in 10 ms steps; a stop, pause or seek ends it early.
void waitAWhile(const qxVideo *v, double seconds)
{
    for (double slept = 0.01;; slept += 0.01) {
        usleep(10000);
        if (slept >= seconds || v->stop.load() || v->pauseReq.load() || v->seekReq.load()) return;
    }
}

void *readerMain(void *arg)
{
    qxThreadRecord *rec = qxThreadFromArg(arg);
    auto *v = static_cast<qxVideo *>(qxThreadUserData(rec));
    qxThreadSignalStart(rec);
    while (!v->stop.load()) {
        if (v->seekReq.load()) {
            qxVideoSeekDecoder(v, v->seekFrame.load());
            emptyQueue(v, v->videoQueue);
            emptyQueue(v, v->audioQueue);
            push(v->videoQueue, {{}, true});
            if (v->soundOn) push(v->audioQueue, {{}, true});
            v->streamEnded = 0;
            v->videoDrained = 0;
            v->seekReq = 0;
        }
        bool failed = false;
        while (!v->stop.load() && !v->pauseReq.load() && !v->streamEnded.load() && !v->seekReq.load() &&
               queueBytes(v->audioQueue) <= QX_AUDIOQUEUE_MAX && queueBytes(v->videoQueue) <= QX_VIDEOQUEUE_MAX) {
            qxCdxlPacket packet{};
            int r = qxVideoReadPacket(v, &packet);
            if (r == -1) {
                v->streamEnded = 1;
            } else if (r) {
                failed = true;
                break;
            } else {
                if (packet.kind == 0) push(v->videoQueue, {packet, false});
                else if (v->soundOn) push(v->audioQueue, {packet, false});
                else qxVideoFreePacket(v, &packet);
            }
        }
        if (v->streamEnded.load()) {
            for (qxVideoPacketQueue *q : {&v->videoQueue, &v->audioQueue}) {
                std::lock_guard lock(q->mutex);
                q->ended = true;
            }
        }
        v->videoQueue.signal.notify_all();
        v->audioQueue.signal.notify_all();
        if (v->pauseReq.load()) v->readerAck = 1;
        // A failed read is tried again, a frame later: a broken stream
        // waits at the video's pace instead of spinning.
        waitAWhile(v, failed ? frameDuration(v) : 0.01);
    }
    return nullptr;
}

// After a seek: the refresh thread empties the picture queue, the timing
// starts again.
void afterSeek(qxVideo *v)
{
    std::unique_lock lock(v->pictureMutex);
    v->flushReq = 1;
    v->pictureSignal.notify_all();
    while (v->flushReq.load() && !v->stop.load()) v->pictureSignal.wait_for(lock, 10ms);
    v->lastTime = -10000;
    v->frameTimer = wallNow();
    v->skipCounter = 0;
    v->skipFactor = 1.0;
    v->lastShownWall = v->frameTimer;
}

// YUV pictures shown at another size without smoothing are converted and
// scaled in one pass when the slot holds that size; the rest are converted
// at the video's size and scaled when delivered.
void convertInto(qxVideo *v, qxVideoPicture &slot, const qxVideoPictureRecord &picture)
{
    const uint32_t ow = v->outWidth.load(), oh = v->outHeight.load();
    if (!v->swapped && !v->smooth.load() && ow && oh && (ow != v->width || oh != v->height) &&
        (uint64_t(ow) + 64) * oh * 4 <= v->pictureBytes) {
        qxVideoPictureToSlot(v, slot.pixels, ow + 64, ow, oh, &picture);
        slot.width = ow, slot.height = oh;
        return;
    }
    qxVideoPictureToSlot(v, slot.pixels, v->slotPitch, v->width, v->height, &picture);
    slot.width = v->width, slot.height = v->height;
}

void *serverMain(void *arg)
{
    qxThreadRecord *rec = qxThreadFromArg(arg);
    auto *v = static_cast<qxVideo *>(qxThreadUserData(rec));
    qxThreadSignalStart(rec);
    const double duration = frameDuration(v);
    // At least one picture a second survives the skip factor.
    const double maxSkip = std::max(1.0, v->fps);
    while (!v->stop.load()) {
        if (v->pauseReq.load()) {
            v->serverAck = 1;
            usleep(10000);
            continue;
        }
        qxVideoQueued item;
        if (!take(v, v->videoQueue, &item)) {
            if (queueEnded(v->videoQueue)) v->videoDrained = 1;
            continue;
        }
        if (item.flush) {
            afterSeek(v);
            continue;
        }
        qxVideoPictureRecord picture{};
        double time = 0;
        if (qxVideoDecodePicture(v, &item.packet, &picture, &time)) {
            qxVideoFreePacket(v, &item.packet);
            continue; // a packet without a picture
        }
        v->skipCounter += 1.0;
        // The clip's last picture is never skipped: it is what stays shown.
        if (!queueEnded(v->videoQueue) && v->skipFactor.load() > v->skipCounter) {
            qxVideoFreePacket(v, &item.packet);
            v->dropped++;
            continue;
        }
        v->skipCounter -= std::max(v->skipFactor.load(), 1.0);
        if (time == 0 && v->lastTime > -10000) time = v->predicted;
        v->predicted = time + duration;
        std::unique_lock lock(v->pictureMutex);
        if (v->count == 2 && !v->showing.load())
            v->skipFactor = std::max(0.95, v->skipFactor.load() * 0.95); // the output keeps up
        while (v->count == 2 && !v->stop.load() && !v->flushReq.load()) {
            if (v->pauseReq.load()) v->serverAck = 1;
            v->pictureSignal.wait_for(lock, 10ms);
        }
        if (v->stop.load()) {
            qxVideoFreePacket(v, &item.packet);
            break;
        }
        qxVideoPicture &slot = v->pictures[v->writeIndex];
        lock.unlock();
        // The slot is not in the queue, so the refresh thread leaves it alone;
        // the decoder's picture lives until the packet goes.
        convertInto(v, slot, picture);
        qxVideoFreePacket(v, &item.packet);
        double delay = time - v->lastTime;
        if (delay <= 0 || delay >= 10) delay = v->lastDelay;
        v->lastDelay = delay;
        v->lastTime = time;
        if (v->soundOn) {
            double diff = noSoundClock(v) - qxVideoClock(v);
            if (std::fabs(diff) < 10) {
                double threshold = std::max(0.01, delay);
                if (diff <= -threshold) delay = 0;
                else if (diff >= threshold) delay *= 2;
            }
        }
        v->frameTimer += delay;
        slot.due = v->unpaced ? 0 : v->frameTimer;
        slot.time = time;
        slot.frame = frameOf(v, time);
        lock.lock();
        v->skipFactor = std::min(v->skipFactor.load(), maxSkip);
        v->count++;
        v->writeIndex ^= 1;
        v->pictureSignal.notify_all();
    }
    return nullptr;
}

void *audioMain(void *arg)
{
    qxThreadRecord *rec = qxThreadFromArg(arg);
    auto *v = static_cast<qxVideo *>(qxThreadUserData(rec));
    qxThreadSignalStart(rec);
    std::vector<int16_t> samples(0x20000); // 0x40000 bytes
    const double bytesPerSecond = double(v->audioRate) * 2 * v->fifo.channels;
    const uint32_t piece = std::max<uint32_t>(v->fifo.capacity / 2, v->fifo.frameBytes);
    // 10 ms of silence keeps a started native channel running while the
    // video is paused or its sound is late; the sound clock stands still.
    const uint32_t quiet = std::max<uint32_t>(uint32_t(bytesPerSecond / 100) / v->fifo.frameBytes, 1) *
                           v->fifo.frameBytes;
    std::vector<uint8_t> silence(std::min<uint32_t>(quiet, 0x40000));
    const bool native = !qxAudioAdapter.plugin;
    while (!v->stop.load()) {
        qxVideoQueued item;
        if (v->pauseReq.load()) {
            usleep(10000); // the held output needs no silence
            continue;
        }
        if (!take(v, v->audioQueue, &item)) {
            if (native && v->fifo.started.load(std::memory_order_acquire)) {
                pthread_mutex_lock(&v->fifo.mutex);
                const bool empty = !v->fifo.fill;
                pthread_mutex_unlock(&v->fifo.mutex);
                if (empty) qxVideoFifoAppend(&v->fifo, silence.data(), uint32_t(silence.size()));
            }
            continue;
        }
        if (item.flush) continue;
        uint32_t count = qxVideoDecodeSound(v, &item.packet, samples.data(), uint32_t(samples.size()));
        if (item.packet.time != -1) v->soundClock = item.packet.time;
        qxVideoFreePacket(v, &item.packet);
        uint32_t bytes = count * 2;
        v->soundClock = v->soundClock.load() + bytes / bytesPerSecond;
        v->pendingSound = bytes;
        const auto *data = reinterpret_cast<const uint8_t *>(samples.data());
        for (uint32_t at = 0; at < bytes && !v->stop.load();) {
            uint32_t n = std::min(piece, bytes - at);
            if (qxVideoFifoAppend(&v->fifo, data + at, n)) break;
            at += n;
            v->pendingSound = bytes - at;
        }
        v->pendingSound = 0;
    }
    return nullptr;
}

void reportEnd(qxVideo *v)
{
    std::lock_guard lock(v->endMutex);
    if (v->ended.load()) return;
    v->endPosition = qxVideoClock(v) * 1000;
    v->ended = 1;
    if (v->onEnd) v->onEnd(v);
    // Posted last, so the handler finds the video ended; only a script with
    // an OnVideoEnd handler hears of it, and one installed later is not
    // handed the ends of the past.
    if (qxAudio.onVideoEnd) qxPostThreadEvent(QX_THREADEVENT_VIDEO_END, v->owner, 0, 1, 0, 1);
}

void show(qxVideo *v, const qxVideoPicture &p)
{
    std::lock_guard out(v->outputMutex);
    if (v->present) v->present(v, &p);
    else qxVideoDeliverPicture(v, p.pixels, p.width + 64, p.width, p.height);
    std::memcpy(v->still, p.pixels, size_t(p.width + 64) * p.height * 4);
    v->stillWidth = p.width, v->stillHeight = p.height;
    v->hasStill = true;
}

void *refreshMain(void *arg)
{
    qxThreadRecord *rec = qxThreadFromArg(arg);
    auto *v = static_cast<qxVideo *>(qxThreadUserData(rec));
    qxThreadSignalStart(rec);
    std::unique_lock lock(v->pictureMutex);
    while (!v->stop.load()) {
        if (v->flushReq.load()) {
            v->count = 0;
            v->readIndex = v->writeIndex;
            v->flushReq = 0;
            v->pictureSignal.notify_all();
            continue;
        }
        if (v->pauseReq.load()) {
            v->refreshAck = 1;
            v->pictureSignal.wait_for(lock, 10ms);
            continue;
        }
        if (v->count == 0) {
            bool end = v->streamEnded.load() && v->videoDrained.load() && queueDrained(v->audioQueue);
            if (end && !v->ended.load()) {
                lock.unlock();
                reportEnd(v);
                lock.lock();
                continue;
            }
            v->pictureSignal.wait_for(lock, end ? 10ms : 1ms);
            continue;
        }
        qxVideoPicture &p = v->pictures[v->readIndex];
        double now = wallNow();
        if (p.due > now) {
            v->pictureSignal.wait_for(lock, std::chrono::duration<double>(std::min(p.due - now, 0.1)));
            continue;
        }
        v->shownTime = p.time;
        v->offset = p.time - now;
        double next = v->count == 2 ? v->pictures[v->readIndex ^ 1].due : p.due + (v->predicted - p.time);
        bool late = false;
        if (now > next && !v->unpaced) {
            v->skipFactor = v->skipFactor.load() * 1.05;
            if (v->count == 1) next += 0.5;
            late = now > next;
        }
        if (!late || now - v->lastShownWall >= 1.0) {
            v->showing = 1;
            lock.unlock();
            show(v, p);
            lock.lock();
            v->showing = 0;
            v->lastShownWall = now;
            v->shownFrame = p.frame;
            v->shown++;
        } else {
            v->dropped++;
        }
        v->readIndex ^= 1;
        v->count--;
        v->pictureSignal.notify_all();
    }
    return nullptr;
}

// Waits up to 2 s for the running threads to acknowledge a pause; a thread
// stuck in a decoder must not hang the script thread.
void waitAcks(qxVideo *v)
{
    for (int i = 0; i < 200 && !v->ended.load(); i++) {
        if (v->readerAck.load() && v->serverAck.load() && v->refreshAck.load()) return;
        signalAll(v);
        usleep(10000);
    }
}

void freePictures(qxVideo *v)
{
    for (auto &p : v->pictures) {
        qxFree(p.pixels);
        p.pixels = nullptr;
    }
    qxFree(v->still);
    v->still = nullptr;
    v->hasStill = false;
}

} // namespace

extern "C" double qxVideoClock(qxVideo *v)
{
    if (!v->soundOn) return noSoundClock(v);
    if (v->pauseReq.load()) return v->pausedClock.load();
    uint32_t fill;
    pthread_mutex_lock(&v->fifo.mutex);
    fill = v->fifo.fill;
    pthread_mutex_unlock(&v->fifo.mutex);
    double bytesPerSecond = double(v->audioRate) * 2 * v->fifo.channels;
    return v->soundClock.load() - (fill + v->pendingSound.load()) / bytesPerSecond;
}

extern "C" void qxVideoSeekDecoder(qxVideo *v, uint32_t frame)
{
    if (v->frames) frame = std::min(frame, v->frames - 1);
    // Half a frame in, so that the millisecond rounding lands on frame.
    qxVideoDecoderSeek(v, uint32_t((frame + 0.5) * 1000.0 * frameDuration(v)));
    v->position = frame;
}

extern "C" int qxVideoStart(qxVideo *v)
{
    if (v->threadRunning) return 0;
    // Room for a picture at the video's size and at the size it starts
    // being shown at. A picture drawn into the window is scaled as it is
    // delivered, only where the display shows it; it is made at the shown
    // size beforehand only while that is no larger than the display.
    uint64_t slotBytes = uint64_t(v->slotPitch) * v->height * 4;
    const uint32_t ow = v->outWidth.load(), oh = v->outHeight.load();
    const uint64_t shownBytes = (uint64_t(ow) + 64) * oh * 4;
    bool fits = v->toLayer.load();
    if (!fits && v->display) {
        int32_t dw, dh;
        qxVideoOutputArea(v->display, &dw, &dh);
        fits = int64_t(ow) <= dw && int64_t(oh) <= dh;
    }
    if (fits && shownBytes > slotBytes && shownBytes <= 0x7FFFFFFFu) slotBytes = shownBytes;
    if (slotBytes != v->pictureBytes) freePictures(v);
    v->pictureBytes = slotBytes;
    for (uint32_t **buffer : {&v->pictures[0].pixels, &v->pictures[1].pixels, &v->still}) {
        if (!*buffer) *buffer = static_cast<uint32_t *>(qxAlloc(size_t(slotBytes), 1));
        if (!*buffer) {
            freePictures(v);
            return ERR_MEM;
        }
    }
    v->hasStill = false;
    v->stop = 0;
    v->pauseReq = 0;
    v->ended = 0;
    v->readerAck = v->serverAck = v->refreshAck = 0;
    v->seekReq = v->flushReq = v->streamEnded = v->videoDrained = v->showing = 0;
    v->shown = 0;
    v->dropped = 0;
    v->count = v->readIndex = v->writeIndex = 0;
    emptyQueue(v, v->videoQueue);
    emptyQueue(v, v->audioQueue);
    const double start = double(v->position) * frameDuration(v), now = wallNow();
    v->frameTimer = now;
    v->lastTime = -10000;
    v->lastDelay = frameDuration(v);
    v->predicted = start;
    v->shownTime = start;
    v->offset = start - now;
    v->soundClock = start;
    v->pendingSound = 0;
    v->skipFactor = 1.0;
    v->skipCounter = 0;
    v->lastShownWall = now;
    v->shownFrame = v->position;
    v->soundOn = false;
    if (v->soundWanted && v->hasAudio && v->audioRate && v->fps > 0) {
        uint32_t chunk = (uint32_t(v->audioRate / v->fps) + 1) * 2;
        // A channel out of range or none free is the script's error.
        if (int r = qxVideoSoundOpen(&v->fifo, v, v->owner, v->channelIndex, v->volume, v->audioChannels,
                                     v->audioRate, chunk * v->audioChannels)) {
            freePictures(v);
            return r;
        }
        v->soundOn = true;
    }
    struct Spec {
        int slot;
        qxThreadFunc main;
        const char *name;
        int stack, priority;
    };
    const Spec specs[] = {{SERVER, serverMain, "Zephyrane video server", 200000, 0},
                          {AUDIO, audioMain, "Zephyrane audio server", 200000, 100},
                          {READER, readerMain, "Zephyrane video decoder", 200000, 0},
                          {REFRESH, refreshMain, "Zephyrane video refresh", 16384, 0}};
    v->threadRunning = true;
    for (const Spec &s : specs) {
        if (s.slot == AUDIO && !v->soundOn) continue;
        v->threads[s.slot] = qxCreateServerThread(s.name, s.main, v, nullptr, s.stack, s.priority);
        if (!v->threads[s.slot]) {
            qxVideoStop(v);
            return ERR_THREAD;
        }
        if (s.slot == AUDIO) v->fifo.server = v->threads[AUDIO];
    }
    return 0;
}

extern "C" void qxVideoStop(qxVideo *v)
{
    if (!v->threadRunning) return;
    v->stop = 1;
    v->pauseReq = 0;
    if (v->soundOn) v->fifo.stopped.store(1); // a waiting append gives up
    {
        std::lock_guard lock(v->pictureMutex);
        signalAll(v);
    }
    for (auto *&t : v->threads) {
        if (!t) continue;
        qxRequestThreadStop(t);
        qxEndServerThread(t);
        t = nullptr;
    }
    v->threadRunning = false;
    if (v->soundOn) qxVideoSoundClose(&v->fifo);
    v->fifo.server = nullptr;
    v->soundOn = false;
    emptyQueue(v, v->videoQueue);
    emptyQueue(v, v->audioQueue);
    freePictures(v);
    qxVideoDropFrames(v);
    // The next start goes on after the picture last shown.
    uint32_t next = v->ended.load() ? v->frames : v->shownFrame + (v->shown.load() ? 1 : 0);
    if (next < v->frames) qxVideoSeekDecoder(v, next);
    else v->position = v->frames;
}

extern "C" int qxVideoPause(qxVideo *v)
{
    if (!v->threadRunning || v->pauseReq.load()) return v->ended.load();
    v->readerAck = v->serverAck = v->refreshAck = 0;
    v->pausedAt = wallNow();
    // The sound stops where it stands and the clock with it.
    if (v->soundOn) qxVideoFifoHold(&v->fifo, 1);
    v->pausedClock = qxVideoClock(v);
    v->pauseReq = 1;
    waitAcks(v);
    {
        // An end reported meanwhile stands: the player is not paused.
        std::lock_guard lock(v->endMutex);
        if (v->ended.load()) {
            v->pauseReq = 0;
            if (v->soundOn) qxVideoFifoHold(&v->fifo, 0);
            signalAll(v);
            return 1;
        }
    }
    // A picture queued before the pause must not cover the still.
    qxVideoDropFrames(v);
    return 0;
}

extern "C" void qxVideoResume(qxVideo *v)
{
    if (!v->pauseReq.load()) return;
    // The pictures waiting keep their distance to the clock.
    std::lock_guard lock(v->pictureMutex);
    double now = wallNow(), shift = now - v->pausedAt;
    v->frameTimer += shift;
    for (uint32_t i = 0, at = v->readIndex; i < v->count; i++, at ^= 1) v->pictures[at].due += shift;
    v->lastShownWall += shift;
    v->offset = v->shownTime.load() - now;
    v->pauseReq = 0;
    if (v->soundOn) qxVideoFifoHold(&v->fifo, 0);
    v->readerAck = v->serverAck = v->refreshAck = 0;
    signalAll(v);
}

extern "C" void qxVideoMoveResize(qxVideo *v, int32_t x, int32_t y, uint32_t width, uint32_t height,
                                  uint32_t smooth)
{
    std::lock_guard out(v->outputMutex);
    // A frame queued at the old place or size would be drawn where the
    // video no longer is.
    if (x != v->x.load() || y != v->y.load() || width != v->outWidth.load() || height != v->outHeight.load())
        qxVideoDropFrames(v);
    v->x = x;
    v->y = y;
    v->outWidth = width;
    v->outHeight = height;
    v->smooth = smooth;
    if (v->threadRunning && v->pauseReq.load() && v->hasStill)
        qxVideoDeliverPicture(v, v->still, v->stillWidth + 64, v->stillWidth, v->stillHeight);
}

extern "C" int qxVideoSeekPlaying(qxVideo *v, uint32_t frame)
{
    v->seekFrame = frame;
    v->seekReq = 1;
    // The reader takes the request within 10 ms; then the stream has not
    // ended any more and a new end is reported.
    for (int i = 0; i < 2000 && v->seekReq.load() && v->threadRunning; i++) usleep(1000);
    std::lock_guard lock(v->endMutex);
    return v->ended.exchange(0);
}
