// Sound loader plug-ins (capability 0x10) as a stream kind of their own,
// and sample saver plug-ins (0x200) for SaveSample's formats other than 0.
#include <algorithm>

#include "core/errors/qx_errors.h"
#include "core/plugins/qx_plugins.h"
#include "media/qx_sound.h"

namespace {

template <typename F>
F entry(const qxPluginInfo *p, int slot)
{
    return reinterpret_cast<F>(p->entry[slot]);
}

bool hasStreamEntries(const qxPluginInfo *p)
{
    for (int s = QX_EP_OpenStream; s <= QX_EP_GetFormatName; s++)
        if (!p->entry[s]) return false;
    return true;
}

} // namespace

extern "C" {

int qxOpenPluginSoundStream(const char *name, const qxSoundSource *src, int asMusic, qxSoundStream **out)
{
    const char *loaders = src ? src->loaders : nullptr;
    qxSelectAdapters(loaders, QX_CAP_SOUNDLOADER);
    qxPluginListNode **list = qxCapabilityList(QX_CAP_SOUNDLOADER);
    for (qxPluginListNode *n = list ? *list : nullptr; n; n = n->next) {
        auto *p = static_cast<const qxPluginInfo *>(n->item);
        if (!qxPluginAdmitted(p, loaders) || !hasStreamEntries(p)) continue;
        qxSoundStreamRequest rq{};
        rq.subsong = src ? src->subsong : 0;
        rq.version = 1;
        rq.adapter = src ? src->adapters : nullptr;
        rq.userFlag = 1;
        void *h = entry<qxOpenStreamFunc>(p, QX_EP_OpenStream)(name, &rq);
        if (!h) continue;
        // A depth the output cannot play, or no rate at all, would later be
        // read with a wrong frame size or divide by zero: refused here.
        if ((rq.bits != 8 && rq.bits != 16) || !rq.frequency) {
            entry<qxCloseStreamFunc>(p, QX_EP_CloseStream)(h);
            qxSetErrorString(name);
            return rq.frequency ? ERR_8OR16BITONLY : ERR_OPENSOUND2;
        }
        qxSoundStream *s = qxNewSoundStream(asMusic);
        if (!s) {
            entry<qxCloseStreamFunc>(p, QX_EP_CloseStream)(h);
            return ERR_MEM;
        }
        s->kind = QX_STREAM_PLUGIN;
        s->plugin = p;
        s->pluginHandle = h;
        s->bits = rq.bits;
        s->channels = rq.channels == 2 ? 2 : 1;
        s->bytesPerFrame = s->frameBytes = rq.bits / 8 * s->channels;
        s->unit = 1;
        s->frequency = rq.frequency;
        s->length = rq.length;
        s->totalFrames = rq.totalFrames;
        s->totalBytes = uint32_t(std::min<uint64_t>(uint64_t(rq.totalFrames) * s->bytesPerFrame, 0xFFFFFFFFu));
        s->seekable = (rq.flags & 4) ? 1 : 0;
        s->flags = ((rq.flags & 1) ? QX_SOUND_BIGENDIAN : 0) | ((rq.flags & 2) ? QX_SOUND_SIGNED : 0);
        s->userFlag = rq.userFlag;
        s->bitRate = rq.bitRate;
        s->subsongs = std::max(rq.subsongs, 1u);
        s->fileSize = -1;
        s->format = uint32_t(qxSoundFormatCode(s->bits, s->channels, s->flags));
        *out = s;
        return 0;
    }
    return -1;
}

uint32_t qxPluginStreamSamples(qxSoundStream *s, uint8_t *buffer, uint32_t frames, int *end)
{
    int e = 0;
    uint32_t n = entry<qxStreamSamplesFunc>(s->plugin, QX_EP_StreamSamples)(s->pluginHandle, buffer, frames, &e);
    *end = e ? 1 : 0;
    return std::min(n, frames); // never count more than the buffer holds
}

void qxPluginSeekStream(qxSoundStream *s, uint32_t frame)
{
    if (!s->seekable && frame) return;
    entry<qxSeekStreamFunc>(s->plugin, QX_EP_SeekStream)(s->pluginHandle, frame);
    s->position = frame;
}

void qxPluginCloseStream(qxSoundStream *s)
{
    if (s->pluginHandle) entry<qxCloseStreamFunc>(s->plugin, QX_EP_CloseStream)(s->pluginHandle);
    s->pluginHandle = nullptr;
}

const char *qxPluginStreamName(const qxSoundStream *s)
{
    const char *name = entry<qxGetFormatNameFunc>(s->plugin, QX_EP_GetFormatName)(s->pluginHandle);
    return name ? name : "";
}

int qxSaveSampleWithPlugin(const char *name, const qxSound *sound, uint32_t rate, uint32_t format)
{
    for (qxPluginNode *n = qxPluginList; n; n = n->next) {
        if (!n->handle || !(n->capabilities & QX_CAP_SAMPLESAVER)) continue;
        const qxPluginInfo *p = n->handle->info;
        if (!p || p->disabled || !p->sampleFormats) continue;
        const qxSaverFormat *f = p->sampleFormats;
        while (f->name && f->format != format) f++;
        if (!f->name) continue;
        auto save = entry<qxSaveSampleFunc>(p, QX_EP_SaveSample);
        if (!save || p->abiKind == 2) return ERR_SAVESAMPLE;
        qxSampleSaveRecord r{};
        r.data = sound->data;
        r.frames = sound->frames;
        r.bytes = sound->frames * sound->bytesPerFrame;
        r.channels = sound->channels;
        r.bits = sound->bits;
        r.frequency = rate;
        r.flags = sound->flags & (QX_SOUND_BIGENDIAN | QX_SOUND_SIGNED);
        r.format = format;
        return save(name, &r) ? 0 : ERR_SAVESAMPLE;
    }
    return ERR_UNKNOWNSMPOUT;
}

} // extern "C"
