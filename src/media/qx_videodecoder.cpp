// The player's decoders: video plug-ins (capability 0x40) and the inbuilt
// CDXL reader behind one set of calls, so the packet loop and the threads
// need not know which one reads the file.
#include "media/qx_videodecoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/plugins/qx_plugins.h"
#include "imaging/qx_colorkeys.h"
#include "imaging/qx_pixelformat.h"
#include "platform/qx_errcodes.h"

namespace {

template <typename F>
F entry(const qxPluginInfo *p, int slot)
{
    return reinterpret_cast<F>(p->entry[slot]);
}

bool hasVideoEntries(const qxPluginInfo *p)
{
    for (int s = QX_EP_OpenVideo; s <= QX_EP_GetVideoFormat; s++)
        if (!p->entry[s]) return false;
    return true;
}

int64_t measureFile(const char *fileName)
{
    FILE *f = std::fopen(fileName, "rb");
    if (!f) return -1;
    int64_t size = std::fseek(f, 0, SEEK_END) == 0 ? int64_t(ftello(f)) : -1;
    std::fclose(f);
    return size;
}

} // namespace

extern "C" qxPluginInfo *qxVideoPluginOpen(const char *fileName, const char *loaders, qxVideoStreamInfo *info,
                                           void **handle)
{
    qxSelectAdapters(loaders, QX_CAP_VIDEO);
    qxPluginListNode **list = qxCapabilityList(QX_CAP_VIDEO);
    for (qxPluginListNode *n = list ? *list : nullptr; n; n = n->next) {
        auto *p = static_cast<qxPluginInfo *>(n->item);
        if (!qxPluginAdmitted(p, loaders) || !hasVideoEntries(p)) continue;
        qxVideoStreamInfo fresh{};
        void *h = entry<qxOpenVideoFunc>(p, QX_EP_OpenVideo)(fileName, &fresh);
        if (!h) continue;
        // The format the decoder settles on once open overrides its first answer.
        qxVideoStreamInfo settled = fresh;
        if (entry<qxGetVideoFormatFunc>(p, QX_EP_GetVideoFormat)(h, &settled) == 0) fresh = settled;
        if (fresh.flags & QX_VIDEOSTREAM_FILESIZE) fresh.fileSize = measureFile(fileName);
        if (!fresh.frames)
            fresh.frames = uint32_t(std::max(0, entry<qxGetVideoFramesFunc>(p, QX_EP_GetVideoFrames)(h)));
        *info = fresh;
        *handle = h;
        return p;
    }
    return nullptr;
}

extern "C" int qxVideoReadPacket(qxVideo *v, qxCdxlPacket *packet)
{
    *packet = {};
    if (v->kind != QX_VIDEO_PLUGIN) return qxCdxlReadPacket(v->cdxl, packet);
    void *p = nullptr;
    int isAudio = 0;
    uint32_t size = 0;
    double time = -1;
    int r = entry<qxNextPacketFunc>(v->plugin, QX_EP_NextPacket)(v->pluginHandle, &p, &isAudio, &size, &time);
    if (r) return r == -1 ? -1 : 1;
    if (!p) return 1;
    // A packet larger than a whole queue could never be queued: dropped.
    if (size > QX_VIDEOQUEUE_MAX) {
        entry<qxFreePacketFunc>(v->plugin, QX_EP_FreePacket)(v->pluginHandle, p);
        return 1;
    }
    packet->kind = isAudio ? 1 : 0;
    packet->data = static_cast<uint8_t *>(p);
    packet->size = size;
    packet->time = time;
    return 0;
}

extern "C" void qxVideoFreePacket(qxVideo *v, qxCdxlPacket *packet)
{
    if (v->kind != QX_VIDEO_PLUGIN) return qxCdxlFreePacket(packet);
    if (packet->data) entry<qxFreePacketFunc>(v->plugin, QX_EP_FreePacket)(v->pluginHandle, packet->data);
    packet->data = nullptr;
}

extern "C" int qxVideoDecodePicture(qxVideo *v, const qxCdxlPacket *packet, qxVideoPictureRecord *picture,
                                    double *time)
{
    *picture = {};
    *time = packet->time;
    if (v->kind != QX_VIDEO_PLUGIN) {
        qxCdxlFrame frame{};
        int r = qxCdxlDecodeVideo(v->cdxl, packet, &frame);
        if (r == -2) return -2;
        if (r || !frame.pixels || frame.pitch < int32_t(v->width * 4)) return 1;
        picture->planes[0] = reinterpret_cast<const uint8_t *>(frame.pixels);
        picture->strides[0] = frame.pitch;
        return 0;
    }
    qxVideoPictureRecord frame{};
    double t = -1;
    int r = entry<qxDecodeVideoFrameFunc>(v->plugin, QX_EP_DecodeVideoFrame)(v->pluginHandle, packet->data, &frame,
                                                                            &t);
    if (r < 0) return r == -2 ? -2 : 1;
    if (r) return 1;
    // Missing planes and rows shorter than the video are dropped.
    const int64_t w = v->width, half = (w + 1) / 2;
    const bool usable = v->swapped ? frame.planes[0] && frame.strides[0] >= w * 4 && frame.strides[0] % 4 == 0
                                   : frame.planes[0] && frame.planes[1] && frame.planes[2] && frame.strides[0] >= w &&
                                         frame.strides[1] >= half && frame.strides[2] >= half;
    if (!usable) return 1;
    if (t >= 0) *time = t;
    *picture = frame;
    return 0;
}

extern "C" uint32_t qxVideoDecodeSound(qxVideo *v, const qxCdxlPacket *packet, int16_t *samples, uint32_t capacity)
{
    uint32_t count = 0;
    if (v->kind != QX_VIDEO_PLUGIN) {
        qxCdxlDecodeAudio(v->cdxl, packet, samples, capacity, &count);
        return count;
    }
    // The decoder is not told a capacity: it writes into the caller's
    // buffer, which holds the sound buffer's size.
    if (size_t(capacity) * 2 < QX_VIDEO_SOUNDBUFFER) return 0;
    uint32_t size = 0;
    if (entry<qxDecodeAudioFrameFunc>(v->plugin, QX_EP_DecodeAudioFrame)(v->pluginHandle, packet->data,
                                                                         reinterpret_cast<uint8_t *>(samples), &size))
        return 0;
    // Whole frames only, and never past the buffer the decoder was given.
    uint32_t frameBytes = 2 * v->audioChannels;
    size = std::min<uint32_t>(size, QX_VIDEO_SOUNDBUFFER);
    count = std::min<uint32_t>(size / frameBytes * v->audioChannels, capacity / v->audioChannels * v->audioChannels);
    return count;
}

extern "C" void qxVideoDecoderSeek(qxVideo *v, uint32_t milliseconds)
{
    if (v->kind != QX_VIDEO_PLUGIN) {
        qxCdxlSeek(v->cdxl, milliseconds);
        return;
    }
    entry<qxSeekVideoFunc>(v->plugin, QX_EP_SeekVideo)(v->pluginHandle, milliseconds);
    entry<qxFlushVideoFunc>(v->plugin, QX_EP_FlushVideo)(v->pluginHandle);
    entry<qxFlushVideoFunc>(v->plugin, QX_EP_FlushAudio)(v->pluginHandle);
}

extern "C" void qxVideoDecoderClose(qxVideo *v)
{
    if (v->kind == QX_VIDEO_PLUGIN) {
        if (v->pluginHandle) entry<qxCloseVideoFunc>(v->plugin, QX_EP_CloseVideo)(v->pluginHandle);
        v->pluginHandle = nullptr;
    } else {
        qxCdxlClose(v->cdxl);
        v->cdxl = nullptr;
    }
}

extern "C" void qxVideoPictureToSlot(const qxVideo *v, uint32_t *dst, uint32_t dstPitch, uint32_t width,
                                     uint32_t height, const qxVideoPictureRecord *picture)
{
    if (v->swapped)
        return qxVideoConvertRows(dst, dstPitch, reinterpret_cast<const uint32_t *>(picture->planes[0]),
                                  uint32_t(picture->strides[0]) / 4, v->width, v->height);
    // Native 32-bit words are layout 10 (0x00RRGGBB).
    qxVideoFrameRecord r{};
    for (int i = 0; i < 3; i++) r.planes[i] = picture->planes[i], r.strides[i] = picture->strides[i];
    r.destination = dst;
    r.sourceWidth = int32_t(v->width), r.sourceHeight = int32_t(v->height);
    r.destWidth = int32_t(width), r.destHeight = int32_t(height);
    r.destPitch = int32_t(dstPitch);
    r.layout = QX_PIXFMT_ARGB32;
    r.bytesPerPixel = 4;
    if (width == v->width && height == v->height) qxVideoFrameConvert2(&r);
    else qxVideoFrameConvert(&r);
}
