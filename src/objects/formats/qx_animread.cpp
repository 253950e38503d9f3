// Anim reader dispatch: anim loader plug-ins first, then the inbuilt IFF
// ANIM, GIF and AVI readers chosen by the first 12 bytes, then the
// platform's decoder, as the loader list admits them.
#include <algorithm>
#include <cstring>

#include "core/plugins/qx_plugins.h"
#include "objects/formats/qx_animformats.h"
#include "objects/formats/qx_picformats.h"
#include "objects/formats/qx_picio.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_hooks.h"
#include "platform/qx_memory.h"

using namespace qxpic;

namespace {

using OpenAnimFn = void *(*)(const char *fileName, qxAnimLoaderRequest *request);
using LoadFrameFn = uint32_t *(*)(void *handle, int32_t frame, qxAnimFrameRequest *request);
using FreeFrameFn = void (*)(void *handle, uint32_t *pixels);
using FrameDelayFn = int32_t (*)(void *handle, int32_t frame);
using CloseAnimFn = void (*)(void *handle);

template <typename F>
F entry(const qxPluginInfo *p, int slot)
{
    return reinterpret_cast<F>(p->entry[slot]);
}

// Offers the file to the admitted anim loader plug-ins in list order.
qxPluginInfo *walkPlugins(const char *fileName, const char *loaders, qxAnimLoaderRequest &request, void **handle)
{
    qxSelectAdapters(loaders, QX_CAP_ANIMLOADER);
    qxPluginListNode **list = qxCapabilityList(QX_CAP_ANIMLOADER);
    for (qxPluginListNode *n = list ? *list : nullptr; n; n = n->next) {
        auto *p = static_cast<qxPluginInfo *>(n->item);
        // A plug-in of the other calling convention (kind 2) is never called on this platform.
        if (!qxPluginAdmitted(p, loaders) || !p->entry[QX_EP_OpenAnim]) continue;
        qxAnimLoaderRequest fresh = request;
        if (void *h = entry<OpenAnimFn>(p, QX_EP_OpenAnim)(fileName, &fresh)) {
            request = fresh;
            *handle = h;
            return p;
        }
    }
    return nullptr;
}

} // namespace

extern "C" int qxOpenAnimReader(const char *fileName, const char *loaders, uint32_t openFlags, uint32_t interlace,
                                uint32_t loadAlpha, qxAnimReader **readerOut, uint32_t *width, uint32_t *height,
                                uint32_t *frameCount, uint32_t *pluginValue, qxPluginInfo **pluginOut)
{
    if (pluginValue) *pluginValue = 0;
    auto *r = static_cast<qxAnimReader *>(qxAlloc(sizeof(qxAnimReader), 1));
    if (!r) return ERR_MEM;
    auto unknown = [&] {
        qxFree(r);
        qxSetErrorString(fileName);
        return int(ERR_OPENANIM2);
    };

    qxAnimLoaderRequest request{};
    request.openFlags = openFlags;
    request.loadAlpha = loadAlpha ? 1 : 0;
    void *pluginHandle = nullptr;
    if (qxPluginInfo *p = walkPlugins(fileName, loaders, request, &pluginHandle)) {
        r->state = pluginHandle;
        r->kind = QX_ANIMREADER_PLUGIN;
        r->plugin = p;
        *width = request.width;
        *height = request.height;
        *frameCount = request.frameCount;
        if (pluginValue) *pluginValue = request.pluginValue;
        if (pluginOut) *pluginOut = p;
        *readerOut = r;
        return 0;
    }

    if (qxLoaderAllowed(loaders, "inbuilt", 0)) {
        qxFileHandle *f = qxOpen(fileName, 9 | openFlags, nullptr);
        if (!f) {
            qxFree(r);
            qxSetErrorString(fileName);
            return ERR_READFILE;
        }
        if (qxIsStreamHandle(f)) {
            qxClose(f);
            qxFree(r);
            return ERR_SEEKFILE;
        }
        uint8_t head[12];
        if (!readAll(f, head, 12)) {
            qxClose(f);
            qxFree(r);
            return ERR_READ;
        }
        if (!std::memcmp(head, "FORM", 4) && !std::memcmp(head + 8, "ANIM", 4))
            r->kind = QX_ANIMREADER_IFF;
        else if (!std::memcmp(head, "GIF87", 5) || !std::memcmp(head, "GIF89", 5))
            r->kind = QX_ANIMREADER_GIF;
        else if (!std::memcmp(head, "RIFF", 4) && !std::memcmp(head + 8, "AVI ", 4))
            r->kind = QX_ANIMREADER_AVI;
        if (r->kind && !seekTo(f, 0)) r->kind = 0;
        if (pluginOut && r->kind) *pluginOut = nullptr;
        // The readers own the file from here on.
        switch (r->kind) {
        case QX_ANIMREADER_IFF: r->state = qxAnimIffOpen(f, interlace, width, height, frameCount, loadAlpha); break;
        case QX_ANIMREADER_GIF: r->state = qxGifOpen(f, width, height, frameCount, 0, 0, int(loadAlpha)); break;
        case QX_ANIMREADER_AVI: r->state = qxAviOpen(f, width, height, frameCount); break;
        default: qxClose(f); break;
        }
        if (r->state) {
            *readerOut = r;
            return 0;
        }
    }

    if (!qxLoaderAllowed(loaders, "native", 0)) return unknown();
    int w = 0, h = 0, n = 0;
    r->state = qxNativeOpenAnim(fileName, openFlags, &w, &h, &n);
    if (!r->state) return unknown();
    r->kind = QX_ANIMREADER_NATIVE;
    *width = uint32_t(w), *height = uint32_t(h), *frameCount = uint32_t(n);
    if (pluginOut) *pluginOut = reinterpret_cast<qxPluginInfo *>(uintptr_t(1));
    *readerOut = r;
    return 0;
}

extern "C" uint32_t *qxAnimReaderFrame(qxAnimReader *r, int32_t frame, uint32_t pluginArgument, uint32_t *transparency)
{
    if (transparency) *transparency = 0;
    if (!r || frame < 0) return nullptr;
    uint32_t seen = 0;
    uint32_t *pixels = nullptr;
    switch (r->kind) {
    case QX_ANIMREADER_IFF: pixels = qxAnimIffGetFrame(static_cast<qxAnimIff *>(r->state), uint32_t(frame), &seen); break;
    case QX_ANIMREADER_GIF: pixels = qxGifGetFrame(static_cast<qxGifReader *>(r->state), frame, &seen); break;
    case QX_ANIMREADER_AVI: pixels = qxAviGetFrame(static_cast<qxAvi *>(r->state), uint32_t(frame)); break;
    case QX_ANIMREADER_NATIVE: {
        void *p = nullptr;
        qxNativeAnimFrame(r->state, frame, &p);
        pixels = static_cast<uint32_t *>(p);
        break;
    }
    case QX_ANIMREADER_PLUGIN: {
        qxAnimFrameRequest request{};
        request.argument = pluginArgument;
        request.loadAlpha = r->loadAlpha ? 1 : 0;
        pixels = entry<LoadFrameFn>(r->plugin, QX_EP_LoadFrame)(r->state, frame, &request);
        seen = request.transparency;
        break;
    }
    default: return nullptr;
    }
    if (transparency) *transparency = seen;
    return pixels;
}

extern "C" void qxAnimReaderFreeFrame(qxAnimReader *r, uint32_t *pixels)
{
    if (!pixels) return;
    if (r && r->kind == QX_ANIMREADER_PLUGIN)
        entry<FreeFrameFn>(r->plugin, QX_EP_FreeFrame)(r->state, pixels);
    else
        qxFree(pixels);
}

extern "C" uint32_t qxAnimReaderDelay(qxAnimReader *r, int32_t frame)
{
    if (!r || frame < 0) return 0;
    switch (r->kind) {
    case QX_ANIMREADER_IFF: return qxAnimIffFrameDelay(static_cast<qxAnimIff *>(r->state), uint32_t(frame));
    case QX_ANIMREADER_GIF: return qxGifFrameDelay(static_cast<qxGifReader *>(r->state), frame);
    case QX_ANIMREADER_NATIVE: return uint32_t(std::max(0, qxNativeAnimDelay(r->state, frame)));
    case QX_ANIMREADER_PLUGIN:
        return uint32_t(std::max<int32_t>(0, entry<FrameDelayFn>(r->plugin, QX_EP_GetFrameDelay)(r->state, frame)));
    default: return 0; // AVI frames carry no delay of their own
    }
}

extern "C" void qxCloseAnimReader(qxAnimReader *r)
{
    if (!r) return;
    switch (r->kind) {
    case QX_ANIMREADER_IFF: qxAnimIffClose(static_cast<qxAnimIff *>(r->state)); break;
    case QX_ANIMREADER_GIF: qxGifClose(static_cast<qxGifReader *>(r->state)); break;
    case QX_ANIMREADER_AVI: qxAviClose(static_cast<qxAvi *>(r->state)); break;
    case QX_ANIMREADER_NATIVE: qxNativeCloseAnim(r->state); break;
    case QX_ANIMREADER_PLUGIN: entry<CloseAnimFn>(r->plugin, QX_EP_CloseAnim)(r->state); break;
    default: break;
    }
    qxFree(r);
}

extern "C" int qxIsAnimFile(const char *fileName, const char *loaders, uint32_t openFlags)
{
    qxAnimReader *r = nullptr;
    uint32_t w = 0, h = 0, frames = 0;
    if (qxOpenAnimReader(fileName, loaders, openFlags, 0, 0, &r, &w, &h, &frames, nullptr, nullptr) != 0) return 0;
    // A GIF of one frame is a picture, not an anim.
    int is = r->kind != QX_ANIMREADER_GIF || frames > 1;
    qxCloseAnimReader(r);
    return is;
}

extern "C" int qxAnimReaderIsIff(const qxAnimReader *r) { return r && r->kind == QX_ANIMREADER_IFF; }
