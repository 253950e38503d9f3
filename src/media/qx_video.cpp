// The video player behind a video object: decoder selection, the packet
// loop, conversion into the picture slot and the playback thread.
#include "media/qx_video.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string_view>
#include <unistd.h>

#include "display/qx_adapter.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmap.h"
#include "display/qx_bitmapdraw.h"
#include "imaging/qx_pixelformat.h"
#include "imaging/qx_scale.h"
#include "media/qx_audioadapter.h"
#include "media/qx_sound.h"
#include "media/qx_videodecoder.h"
#include "objects/formats/qx_animformats.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_sync.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_hooks.h"
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

} // namespace

// CDXL pixels are bytes 0, R, G, B: one byte-swap gives native 0x00RRGGBB.
extern "C" void qxVideoConvertRows(uint32_t *dst, uint32_t dstPitch, const uint32_t *src, uint32_t srcPitch,
                                   uint32_t w, uint32_t h)
{
    for (uint32_t y = 0; y < h; y++) {
        const uint32_t *s = src + size_t(y) * srcPitch;
        uint32_t *d = dst + size_t(y) * dstPitch;
        for (uint32_t x = 0; x < w; x++) d[x] = __builtin_bswap32(s[x]);
    }
}

extern "C" int qxVideoOpen(const char *fileName, const char *loaders, qxVideo **out)
{
    *out = nullptr;
    // Plug-ins first, then the inbuilt CDXL reader, then the native back-end.
    qxVideoStreamInfo info{};
    void *handle = nullptr;
    qxPluginInfo *plugin = qxVideoPluginOpen(fileName, loaders, &info, &handle);
    qxCdxl *d = nullptr;
    uint32_t durationMs = 0;
    if (!plugin && admits(loaders, "inbuilt")) {
        qxCdxlVideoInfo cdxl{};
        d = qxCdxlOpen(fileName, &cdxl);
        if (d) {
            info = {cdxl.width, cdxl.height, qxCdxlFrameCount(d), cdxl.seekable, cdxl.hasAudio ? 1u : 0u,
                    cdxl.audioRate, 16, QX_VIDEOSTREAM_SWAPPED, qxCdxlFramesPerSecond(d), -1};
            durationMs = cdxl.durationMs;
        }
    }
    if (!plugin && !d) {
        // The native back-end has no decoder on this platform: its open
        // always fails, and a handle it gave would have nothing to play.
        void *native = nullptr;
        int r = admits(loaders, "native") ? qxNativeVideoOpen(fileName, &native) : ERR_LOADVIDEO;
        return r ? r : ERR_LOADVIDEO;
    }
    qxVideo probe{};
    probe.kind = plugin ? QX_VIDEO_PLUGIN : QX_VIDEO_CDXL;
    probe.cdxl = d, probe.plugin = plugin, probe.pluginHandle = handle;
    // Products of the sizes in 64 bits: a wrapped allocation is never made.
    uint64_t slotBytes = (uint64_t(info.width) + 64) * info.height * 4;
    if (!info.width || !info.height || slotBytes > 0x7FFFFFFFu) {
        qxVideoDecoderClose(&probe);
        return ERR_LOADVIDEO;
    }
    auto *v = static_cast<qxVideo *>(qxAlloc(sizeof(qxVideo), 1));
    auto *slot = static_cast<uint32_t *>(qxAlloc(size_t(slotBytes), 1));
    if (!v || !slot) {
        qxFree(v);
        qxFree(slot);
        qxVideoDecoderClose(&probe);
        return ERR_MEM;
    }
    new (v) qxVideo{};
    v->kind = probe.kind;
    v->cdxl = d;
    v->plugin = plugin;
    v->pluginHandle = handle;
    v->swapped = info.flags & QX_VIDEOSTREAM_SWAPPED;
    v->fileSize = info.fileSize;
    v->width = info.width;
    v->height = info.height;
    v->frames = info.frames;
    // The CDXL reader's rate follows from its chunk size and is the one its
    // seeks count in; a plug-in's is checked.
    v->fps = info.fps > 0 && (d || info.fps < 1000) ? info.fps : 25.0;
    // A plug-in tells frames and rate; the duration follows from them.
    if (plugin) durationMs = uint32_t(std::min(double(v->frames) / v->fps * 1000, 4294967295.0));
    v->durationMs = durationMs;
    v->seekable = info.seekable ? 1 : 0;
    // Sound the FIFO cannot carry plays silent.
    bool sound = info.channels && info.rate && (info.channels == 1 || info.channels == 2) &&
                 (!plugin || info.bits == 16);
    v->hasAudio = sound ? 1 : 0;
    v->audioRate = sound ? info.rate : 0;
    v->audioChannels = sound ? info.channels : 1;
    v->slot = slot;
    v->slotPitch = info.width + 64;
    *out = v;
    return 0;
}

extern "C" void qxVideoClose(qxVideo *v)
{
    if (!v) return;
    qxVideoStop(v);
    qxVideoDecoderClose(v);
    qxFree(v->slot);
    v->~qxVideo();
    qxFree(v);
}

namespace {

// The next picture into the slot, with its presentation time.
int decodeNext(qxVideo *v, double *shownTime)
{
    // Made at the first call of a thread: as a thread_local array it was
    // zeroed (256 KB) for every thread the player starts.
    static thread_local std::unique_ptr<int16_t[]> buffer;
    if (!buffer) buffer.reset(new (std::nothrow) int16_t[QX_VIDEO_SOUNDBUFFER / 2]);
    if (!buffer) return ERR_MEM;
    int16_t *samples = buffer.get();
    for (int failures = 0;;) {
        qxCdxlPacket packet{};
        int r = qxVideoReadPacket(v, &packet);
        if (r == -2) return ERR_MEM;
        if (r == -1) return 1;
        if (r) {
            if (++failures >= 100) return 1; // on the script thread: no endless retries
            continue;
        }
        if (packet.kind != 0) {
            uint32_t count = (v->soundOn || v->soundOut) && packet.size
                                 ? qxVideoDecodeSound(v, &packet, samples, QX_VIDEO_SOUNDBUFFER / 2)
                                 : 0;
            qxVideoFreePacket(v, &packet);
            if (v->soundOn) {
                const auto *data = reinterpret_cast<const uint8_t *>(samples);
                const uint32_t bytes = count * 2, piece = std::max<uint32_t>(v->fifo.capacity / 2, v->fifo.frameBytes);
                for (uint32_t at = 0; at < bytes && !v->stop.load(); at += piece)
                    if (qxVideoFifoAppend(&v->fifo, data + at, std::min(piece, bytes - at))) break;
            }
            if (v->soundOut) v->soundOut->insert(v->soundOut->end(), samples, samples + count);
            continue;
        }
        qxVideoPictureRecord picture{};
        double time = 0;
        r = qxVideoDecodePicture(v, &packet, &picture, &time);
        if (r == -2) {
            qxVideoFreePacket(v, &packet);
            return ERR_MEM;
        }
        // The picture belongs to the decoder until its next call: converted first.
        if (!r) qxVideoPictureToSlot(v, v->slot, v->slotPitch, v->width, v->height, &picture);
        qxVideoFreePacket(v, &packet);
        if (r) {
            if (v->kind == QX_VIDEO_CDXL) return 1;
            continue; // a plug-in packet without a picture
        }
        v->position++;
        if (shownTime) *shownTime = time;
        return 0;
    }
}

} // namespace

extern "C" int qxVideoDecodeNext(qxVideo *v) { return decodeNext(v, nullptr); }

extern "C" int qxVideoDecodeFrame(qxVideo *v, uint32_t frame, int seek, uint32_t accuracy)
{
    if (seek) {
        // A decoder may land on an earlier picture (a key frame): its time
        // tells which, and at most accuracy more pictures go towards frame.
        qxVideoSeekDecoder(v, frame);
        double time = -1;
        if (int r = decodeNext(v, &time)) return r;
        if (time >= 0) v->position = std::min(uint32_t(time * v->fps + 0.5), frame) + 1;
        for (uint32_t n = 0; n < accuracy && v->position <= frame; n++)
            if (int r = qxVideoDecodeNext(v)) return r;
        return 0;
    }
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

// The player's one pending frame on the display; wakes the script thread.
static void queueFrame(qxDisplay *d, qxVideo *v, qxBitMap *bm, int32_t x, int32_t y, int32_t w, int32_t h)
{
    auto *node = static_cast<qxPendingUpdate *>(std::calloc(1, sizeof(qxPendingUpdate)));
    if (!node) {
        qxFreeBitMap(bm);
        return;
    }
    *node = {nullptr, v, bm, x, y, w, h, nullptr};
    // One pending frame per player: the old one goes under the same hold
    // of the (recursive) queue mutex that appends the new one.
    auto *m = static_cast<qxMutex *>(d->pendingMutex);
    if (m) qxLockMutex(m);
    dropFramesLocked(d, v);
    qxQueueDisplayUpdate(d, node);
    if (m) qxUnlockMutex(m);
    qxWakeEventLoop();
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
    qxVideoDeliverPicture(v, v->slot, v->slotPitch, v->width, v->height);
}

namespace {

// The picture (pw x pw, rows pitch pixels apart) at the displayed size:
// itself, or a scaled copy the caller frees (*scaled). False when it cannot
// be made.
bool displayedPicture(const qxVideo *v, const uint32_t *pixels, uint32_t slotPitch, uint32_t pw, uint32_t ph,
                      const uint32_t **src, uint32_t *pitch, uint32_t *w, uint32_t *h, uint32_t **scaled)
{
    uint32_t ow = v->outWidth.load(), oh = v->outHeight.load();
    if (!ow || !oh) ow = v->width, oh = v->height;
    *src = pixels, *pitch = slotPitch, *w = ow, *h = oh, *scaled = nullptr;
    if (ow == pw && oh == ph) return true;
    if (uint64_t(ow) * oh > 0x10000000u) return false;
    *scaled = static_cast<uint32_t *>(qxConvertPixelBuffer(pixels, 0, 0, int32_t(pw), int32_t(ph), nullptr, 0, 0,
                                                            int32_t(ow), int32_t(oh), int32_t(slotPitch), 0,
                                                            QX_PIXFMT_ARGB32, v->smooth.load()));
    *src = *scaled, *pitch = ow;
    return *scaled != nullptr;
}

} // namespace

extern "C" qxBitMap *qxVideoPictureBitmap(const qxVideo *v, const uint32_t *pixels, uint32_t slotPitch, uint32_t pw,
                                          uint32_t ph)
{
    const uint32_t *src;
    uint32_t pitch, w, h, *scaled;
    if (!displayedPicture(v, pixels, slotPitch, pw, ph, &src, &pitch, &w, &h, &scaled)) return nullptr;
    qxBitMap *bm = nullptr;
    int r = qxBitMapFromARGB(src, 0xFFFFFFFFu, int32_t(w), int32_t(h), int32_t(pitch), 0, 0, nullptr, &bm, nullptr,
                             nullptr);
    qxFree(scaled);
    return r ? nullptr : bm;
}

extern "C" void qxVideoOutputArea(const qxDisplay *d, int32_t *width, int32_t *height)
{
    *width = d->bgpic ? d->bgpic->width : int32_t(d->width);
    *height = d->bgpic ? d->bgpic->height : int32_t(d->height);
}

extern "C" int qxVideoClipRect(const qxVideo *v, int32_t displayWidth, int32_t displayHeight, int32_t *srcX,
                               int32_t *srcY, int32_t *dstX, int32_t *dstY, int32_t *width, int32_t *height)
{
    uint32_t ow = v->outWidth.load(), oh = v->outHeight.load();
    if (!ow || !oh) ow = v->width, oh = v->height;
    // A negative position moves the source origin; the right and bottom
    // edges cut the rest.
    int64_t x = v->x.load(), y = v->y.load(), w = ow, h = oh, sx = 0, sy = 0;
    if (x < 0) sx = -x, w += x, x = 0;
    if (y < 0) sy = -y, h += y, y = 0;
    w = std::min<int64_t>(w, int64_t(displayWidth) - x);
    h = std::min<int64_t>(h, int64_t(displayHeight) - y);
    if (w <= 0 || h <= 0) return 0;
    *srcX = int32_t(sx), *srcY = int32_t(sy), *dstX = int32_t(x), *dstY = int32_t(y);
    *width = int32_t(w), *height = int32_t(h);
    return 1;
}

extern "C" qxBitMap *qxVideoRectsMask(qxBitMap *displayBitMap, int32_t displayWidth, int32_t displayHeight,
                                      const qxVideo *const *players, size_t count, const qxDisplay *window)
{
    qxBitMap *mask = nullptr;
    int32_t mw = displayWidth, mh = displayHeight, bw, bh;
    if (window) qxDisplayPictureScale(window, &bw, &bh, &mw, &mh);
    for (size_t k = 0; k < count; k++) {
        int32_t sx, sy, x, y, w, h;
        if (!qxVideoClipRect(players[k], displayWidth, displayHeight, &sx, &sy, &x, &y, &w, &h)) continue;
        qxClipRect r{x, y, w, h};
        if (window && !qxDisplayRectInWindow(window, x, y, w, h, &r)) continue;
        x = r.x, y = r.y, w = std::min(r.width, mw - r.x), h = std::min(r.height, mh - r.y);
        if (!mask) mask = qxAllocMaskBitMap(displayBitMap, uint32_t(mw), uint32_t(mh), 1, nullptr, 0);
        auto *p = mask ? static_cast<qxBitMapPlane *>(mask->data) : nullptr;
        if (!p || !p->pixels) {
            qxFreeMaskBitMap(mask);
            return nullptr;
        }
        for (int32_t j = y; j < y + h; j++) {
            uint8_t *row = p->pixels + size_t(j) * p->bytesPerRow;
            for (int32_t i = x; i < x + w; i++) row[i >> 3] |= uint8_t(0x80 >> (i & 7));
        }
    }
    return mask;
}

namespace {

// The part x, y, w x h of the picture (pw x ph, rows pitch pixels apart)
// scaled to ow x oh, made alone: the same pixels as scaling it whole and
// cutting them out. None when memory runs out.
uint32_t *scaledPart(const qxVideo *v, const uint32_t *pixels, uint32_t pitch, uint32_t pw, uint32_t ph, uint32_t ow,
                     uint32_t oh, int32_t x, int32_t y, int32_t w, int32_t h)
{
    auto *out = static_cast<uint32_t *>(qxAlloc(size_t(w) * size_t(h) * 4, 0));
    int32_t xc = 0, yc = 0, *xt = nullptr, *yt = nullptr;
    if (!out || qxEnsureScaleTables(int32_t(ow), int32_t(oh), &xc, &yc, &xt, &yt)) {
        qxFree(out), qxFree(xt), qxFree(yt);
        return nullptr;
    }
    qxScaleRecord r{};
    r.sourcePixels = pixels, r.destPixels = out;
    r.sourceWidth = int32_t(pw), r.sourceHeight = int32_t(ph), r.destWidth = int32_t(ow), r.destHeight = int32_t(oh);
    r.sourcePitch = int32_t(pitch), r.destPitch = w;
    r.smooth = v->smooth.load(), r.layout = QX_PIXFMT_ARGB32, r.bytesPerPixel = 4;
    r.xTable = xt, r.yTable = yt;
    r.windowX = x, r.windowY = y, r.windowWidth = w, r.windowHeight = h;
    qxScaleBitmap(&r);
    qxFree(xt), qxFree(yt);
    return out;
}

} // namespace

extern "C" void qxVideoDeliverPicture(qxVideo *v, const uint32_t *pixels, uint32_t slotPitch, uint32_t pw,
                                      uint32_t ph)
{
    qxDisplay *d = v->display;
    if (!d || v->suspended.load()) return;
    if (v->toLayer.load()) {
        // A layer takes the whole picture; the script thread puts it in.
        qxBitMap *bm = qxVideoPictureBitmap(v, pixels, slotPitch, pw, ph);
        if (bm) queueFrame(d, v, bm, 0, 0, int32_t(bm->width), int32_t(bm->height));
        return;
    }
    int32_t sx, sy, x, y, w, h, dw, dh;
    qxVideoOutputArea(d, &dw, &dh);
    if (!qxVideoClipRect(v, dw, dh, &sx, &sy, &x, &y, &w, &h)) return;
    uint32_t ow = v->outWidth.load(), oh = v->outHeight.load();
    if (!ow || !oh) ow = v->width, oh = v->height;
    // Only what the display shows is scaled: a picture shown far larger
    // than the display costs no more than the display.
    const uint32_t *src = pixels + size_t(sy) * slotPitch + size_t(sx);
    uint32_t pitch = slotPitch, *part = nullptr;
    if (ow != pw || oh != ph) {
        if (!(part = scaledPart(v, pixels, slotPitch, pw, ph, ow, oh, sx, sy, w, h))) return;
        src = part, pitch = uint32_t(w);
    }
    qxBitMap *bm = nullptr;
    int r = qxBitMapFromARGB(src, 0xFFFFFFFFu, w, h, int32_t(pitch), 0, 0, nullptr, &bm, nullptr, nullptr);
    qxFree(part);
    if (r || !bm) return;
    queueFrame(d, v, bm, x, y, w, h);
}

extern "C" void qxVideoSetVolume(qxVideo *v, uint32_t volume)
{
    v->volume = volume;
    if (v->soundOn && v->fifo.channel) {
        v->fifo.channel->volume.store(volume);
        // An audio adapter mixes the channel itself.
        qxAdapterSetAttributes(v->fifo.channel, volume, QX_AUDIOATTR_UNSET, QX_AUDIOATTR_UNSET);
    }
}

extern "C" void qxVideoRewind(qxVideo *v)
{
    qxVideoDecoderSeek(v, 0);
    v->position = 0;
}

