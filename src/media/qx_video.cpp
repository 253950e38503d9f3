// The video player behind a video object: decoder selection, the packet
// loop, conversion into the picture slot and the playback thread.
#include "media/qx_video.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <unistd.h>

#include "display/qx_adapter.h"
#include "display/qx_bitmap.h"
#include "display/qx_bitmapdraw.h"
#include "imaging/qx_pixelformat.h"
#include "imaging/qx_scale.h"
#include "media/qx_sound.h"
#include "objects/formats/qx_animformats.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_sync.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"
#include "platform/qx_threadevents.h"

namespace {

// Whether the "|"-separated loader list admits name; an empty list admits all.
bool admits(const char *loaders, std::string_view name)
{
    if (!loaders || !*loaders) return true;
    std::string_view list(loaders);
    while (!list.empty()) {
        size_t bar = list.find('|');
        std::string_view item = list.substr(0, bar);
        if (item.size() == name.size() && strncasecmp(item.data(), name.data(), name.size()) == 0) return true;
        if (bar == std::string_view::npos) break;
        list.remove_prefix(bar + 1);
    }
    return false;
}

double now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// CDXL pixels are bytes 0, R, G, B: one byte-swap gives native 0x00RRGGBB.
void convertRows(uint32_t *dst, uint32_t dstPitch, const uint32_t *src, uint32_t srcPitch, uint32_t w, uint32_t h)
{
    for (uint32_t y = 0; y < h; y++) {
        const uint32_t *s = src + size_t(y) * srcPitch;
        uint32_t *d = dst + size_t(y) * dstPitch;
        for (uint32_t x = 0; x < w; x++) d[x] = __builtin_bswap32(s[x]);
    }
}

// More decoder failures in a row than this end the stream.
constexpr int MAX_FAILURES = 50;

void *playThread(void *arg)
{
    auto *v = static_cast<qxVideo *>(arg);
    double frameTime = v->fps > 0 ? 1.0 / v->fps : 0.04;
    double start = now();
    uint32_t played = 0;
    while (!v->stop.load()) {
        if (v->pauseReq.load()) {
            v->pausedAck.store(1);
            double pausedAt = now();
            while (v->pauseReq.load() && !v->stop.load()) usleep(5000);
            v->pausedAck.store(0);
            start += now() - pausedAt; // the clock stands still while paused
            continue;
        }
        int r = qxVideoDecodeNext(v);
        if (r == ERR_MEM && ++v->failures < MAX_FAILURES) {
            usleep(10000);
            continue;
        }
        if (r) break;
        v->failures = 0;
        double due = start + ++played * frameTime;
        while (!v->stop.load() && !v->pauseReq.load()) {
            double left = due - now();
            if (left <= 0) break;
            usleep(useconds_t(left > 0.01 ? 10000 : left * 1e6));
        }
        if (!v->stop.load()) qxVideoDeliverFrame(v);
        v->shown.fetch_add(1);
    }
    if (!v->stop.load() && !v->ended.exchange(1)) {
        qxPostThreadEvent(QX_THREADEVENT_VIDEO_END, v->owner, 0, 1, 0, 1);
        if (v->onEnd) v->onEnd(v);
    }
    return nullptr;
}

// Waits up to 2 s for flag to reach want; a thread stuck elsewhere must
// not hang the script thread.
void waitFlag(const std::atomic<int> &flag, int want, const qxVideo *v)
{
    for (int i = 0; i < 200 && flag.load() != want && v->threadRunning && !v->ended.load(); i++) usleep(10000);
}

} // namespace

extern "C" int qxVideoOpen(const char *fileName, const char *loaders, qxVideo **out)
{
    *out = nullptr;
    if (!admits(loaders, "inbuilt")) return ERR_LOADVIDEO; // no video plug-in or native decoder here
    qxCdxlVideoInfo info{};
    qxCdxl *d = qxCdxlOpen(fileName, &info);
    if (!d) return ERR_LOADVIDEO;
    uint64_t slotBytes = (uint64_t(info.width) + 64) * info.height * 4;
    if (!info.width || !info.height || slotBytes > 0x7FFFFFFFu) {
        qxCdxlClose(d);
        return ERR_LOADVIDEO;
    }
    auto *v = static_cast<qxVideo *>(qxAlloc(sizeof(qxVideo), 1));
    auto *slot = static_cast<uint32_t *>(qxAlloc(size_t(slotBytes), 1));
    if (!v || !slot) {
        qxFree(v);
        qxFree(slot);
        qxCdxlClose(d);
        return ERR_MEM;
    }
    new (v) qxVideo{};
    v->kind = QX_VIDEO_CDXL;
    v->cdxl = d;
    v->width = info.width;
    v->height = info.height;
    v->frames = qxCdxlFrameCount(d);
    v->fps = qxCdxlFramesPerSecond(d);
    v->seekable = info.seekable;
    v->hasAudio = info.hasAudio;
    v->audioRate = info.audioRate;
    v->slot = slot;
    v->slotPitch = info.width + 64;
    *out = v;
    return 0;
}

extern "C" void qxVideoClose(qxVideo *v)
{
    if (!v) return;
    qxVideoStop(v);
    qxCdxlClose(v->cdxl);
    qxFree(v->slot);
    v->~qxVideo();
    qxFree(v);
}

extern "C" int qxVideoDecodeNext(qxVideo *v)
{
    for (;;) {
        qxCdxlPacket packet{};
        int r = qxCdxlReadPacket(v->cdxl, &packet);
        if (r == -2) return ERR_MEM;
        if (r) return 1;
        if (packet.kind != 0) {
            if (v->soundOn && packet.size) {
                int16_t samples[4096];
                for (uint32_t at = 0; at < packet.size && !v->stop.load();) {
                    uint32_t n = std::min<uint32_t>(packet.size - at, 4096), count = 0;
                    qxCdxlPacket part = packet;
                    part.data += at, part.size = n;
                    qxCdxlDecodeAudio(v->cdxl, &part, samples, n, &count);
                    if (qxVideoFifoAppend(&v->fifo, samples, count * 2)) break;
                    at += n;
                }
            }
            if (v->soundOut && packet.size) {
                size_t at = v->soundOut->size();
                uint32_t count = 0;
                v->soundOut->resize(at + packet.size);
                qxCdxlDecodeAudio(v->cdxl, &packet, v->soundOut->data() + at, packet.size, &count);
                v->soundOut->resize(at + count);
            }
            qxCdxlFreePacket(&packet);
            continue;
        }
        qxCdxlFrame frame{};
        r = qxCdxlDecodeVideo(v->cdxl, &packet, &frame);
        qxCdxlFreePacket(&packet);
        if (r == -2) return ERR_MEM;
        if (r || !frame.pixels) return 1;
        convertRows(v->slot, v->slotPitch, frame.pixels, uint32_t(frame.pitch) / 4, v->width, v->height);
        v->position++;
        return 0;
    }
}

extern "C" int qxVideoDecodeFrame(qxVideo *v, uint32_t frame)
{
    if (frame < v->position) qxVideoRewind(v);
    for (;;) {
        if (int r = qxVideoDecodeNext(v)) return r;
        if (v->position > frame) return 0;
    }
}

// Removes the player's nodes from the display's list; the caller holds its mutex.
static void dropFramesLocked(qxDisplay *d, const qxVideo *v)
{
    for (qxPendingUpdate **p = &d->pendingUpdates; *p;) {
        qxPendingUpdate *n = *p;
        if (n->target == v) {
            *p = n->next;
            n->next = nullptr;
            qxFreePendingUpdates(n);
        } else {
            p = &n->next;
        }
    }
}

extern "C" void qxVideoDropFrames(qxVideo *v)
{
    qxDisplay *d = v->display;
    if (!d) return;
    auto *m = static_cast<qxMutex *>(d->pendingMutex);
    if (m) qxLockMutex(m);
    dropFramesLocked(d, v);
    if (m) qxUnlockMutex(m);
}

extern "C" void qxVideoDeliverFrame(qxVideo *v)
{
    qxDisplay *d = v->display;
    if (!d) return;
    // A requested size other than the video's own scales the picture first.
    const uint32_t *src = v->slot;
    uint32_t pitch = v->slotPitch, ow = v->outWidth.load(), oh = v->outHeight.load();
    uint32_t *scaled = nullptr;
    if (!ow || !oh) ow = v->width, oh = v->height;
    if (ow != v->width || oh != v->height) {
        if (uint64_t(ow) * oh > 0x10000000u) return;
        scaled = static_cast<uint32_t *>(qxConvertPixelBuffer(v->slot, 0, 0, int32_t(v->width), int32_t(v->height),
                                                               nullptr, 0, 0, int32_t(ow), int32_t(oh),
                                                               int32_t(v->slotPitch), 0, QX_PIXFMT_ARGB32,
                                                               v->smooth.load()));
        if (!scaled) return;
        src = scaled, pitch = ow;
    }
    // Clipped to the display: a negative position moves the source origin.
    int64_t x = v->x.load(), y = v->y.load(), w = ow, h = oh, sx = 0, sy = 0;
    if (x < 0) sx = -x, w += x, x = 0;
    if (y < 0) sy = -y, h += y, y = 0;
    w = std::min<int64_t>(w, int64_t(d->width) - x);
    h = std::min<int64_t>(h, int64_t(d->height) - y);
    qxBitMap *bm = nullptr;
    int r = w > 0 && h > 0 ? qxBitMapFromARGB(src + size_t(sy) * pitch + size_t(sx), 0xFFFFFFFFu, int32_t(w),
                                              int32_t(h), int32_t(pitch), 0, 0, nullptr, &bm, nullptr, nullptr)
                           : 1;
    qxFree(scaled);
    if (r || !bm) return;
    auto *node = static_cast<qxPendingUpdate *>(std::calloc(1, sizeof(qxPendingUpdate)));
    if (!node) {
        qxFreeBitMap(bm);
        return;
    }
    *node = {nullptr, v, bm, int32_t(x), int32_t(y), int32_t(w), int32_t(h), nullptr};
    auto *m = static_cast<qxMutex *>(d->pendingMutex);
    if (m) qxLockMutex(m);
    dropFramesLocked(d, v); // one pending frame per player
    qxPendingUpdate **tail = &d->pendingUpdates;
    while (*tail) tail = &(*tail)->next;
    *tail = node;
    if (m) qxUnlockMutex(m);
    qxWakeEventLoop();
}

extern "C" void qxVideoSetVolume(qxVideo *v, uint32_t volume)
{
    v->volume = volume;
    if (v->soundOn && v->fifo.channel) v->fifo.channel->volume.store(volume);
}

extern "C" void qxVideoRewind(qxVideo *v)
{
    qxCdxlSeek(v->cdxl, 0);
    v->position = 0;
}

extern "C" int qxVideoStart(qxVideo *v)
{
    if (v->threadRunning) return 0;
    v->stop = 0;
    v->pauseReq = 0;
    v->pausedAck = 0;
    v->ended = 0;
    v->failures = 0;
    v->soundOn = false;
    if (v->soundWanted && v->hasAudio && v->audioRate && v->fps > 0) {
        // Without a sound channel the video plays silent.
        uint32_t chunk = (uint32_t(v->audioRate / v->fps) + 1) * 2;
        v->soundOn = qxVideoSoundOpen(&v->fifo, v, v->owner, v->channelIndex, v->volume, 1, v->audioRate, chunk) == 0;
    }
    if (pthread_create(&v->thread, nullptr, playThread, v)) {
        if (v->soundOn) qxVideoSoundClose(&v->fifo);
        v->soundOn = false;
        return ERR_THREAD;
    }
    v->threadRunning = true;
    return 0;
}

extern "C" void qxVideoStop(qxVideo *v)
{
    if (!v->threadRunning) return;
    v->stop = 1;
    v->pauseReq = 0;
    if (v->soundOn) v->fifo.stopped.store(1); // a waiting append gives up
    pthread_join(v->thread, nullptr);
    v->threadRunning = false;
    if (v->soundOn) qxVideoSoundClose(&v->fifo);
    v->soundOn = false;
    qxVideoDropFrames(v);
}

extern "C" void qxVideoPause(qxVideo *v)
{
    v->pauseReq = 1;
    waitFlag(v->pausedAck, 1, v);
}

extern "C" void qxVideoResume(qxVideo *v)
{
    v->pauseReq = 0;
    waitFlag(v->pausedAck, 0, v);
}
