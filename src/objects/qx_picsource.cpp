// Image sources: opening a picture through the image loader plug-ins the
// loader list admits, else the inbuilt and native readers; scaled copies,
// re-rendering of scalable pictures, and the reference count.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/files/qx_chunkname.h"
#include "core/plugins/qx_pluginapi.h"
#include "core/plugins/qx_plugins.h"
#include "core/runtime/qx_lists.h"
#include "display/qx_bitmap.h"
#include "display/qx_bitmapdraw.h"
#include "imaging/qx_scale.h"
#include "objects/formats/qx_picformats.h"
#include "objects/qx_picsource.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

namespace {

constexpr uint32_t kLayoutARGB = 10;
const char *callerFileName = nullptr;

template <typename F>
F entry(const qxPluginInfo *p, int which)
{
    return reinterpret_cast<F>(p->entry[which]);
}

// A scaled copy at the new size, or null (over the picture limit, no memory).
uint32_t *scalePixels(const uint32_t *src, uint32_t sw, uint32_t sh, uint32_t sp, uint32_t dw, uint32_t dh, int smooth)
{
    if (uint64_t(dw) * dh > qxPictureLimit() || dw > 0x7FFFFFFF || dh > 0x7FFFFFFF) return nullptr;
    return static_cast<uint32_t *>(qxConvertPixelBuffer(src, 0, 0, int32_t(sw), int32_t(sh), nullptr, 0, 0, int32_t(dw),
                                                        int32_t(dh), int32_t(sp), 0, kLayoutARGB, smooth != 0));
}

// The name a chunk of linked data gets for the old "svgimage" plug-in.
std::string svgChunkName(const char *file)
{
    uint32_t offset = 0, size = 0;
    char inner[1024], container[1024];
    if (!qxParseChunkName(file, &offset, &size, inner, sizeof inner, container, sizeof container, nullptr, 0, nullptr))
        return file;
    char buffer[3 * 1024];
    std::snprintf(buffer, sizeof buffer, ":::chunk%u:%u*%s/%s", offset, size, qxChunkBaseName(container), container);
    return buffer;
}

// Offers the file to the admitted image plug-ins in order; the one that
// takes it leaves its handle in the source and its answers in rec.
qxPluginInfo *walkPlugins(const char *file, const char *loaders, qxImageLoaderRecord &rec, void **handle)
{
    qxPluginListNode **list = qxCapabilityList(QX_CAP_IMAGELOADER);
    for (qxPluginListNode *n = list ? *list : nullptr; n; n = n->next) {
        auto *p = static_cast<qxPluginInfo *>(n->item);
        if (!qxPluginAdmitted(p, loaders) || !p->entry[QX_EP_LoadImage]) continue;
        const char *name = p->name ? p->name : "";
        qxImageLoaderRecord fresh = rec;
        std::string own = file;
        bool svg = std::strcmp(name, "svgimage") == 0 && p->version == 1 && p->revision < 2 && qxIsChunkName(file);
        if (svg) {
            own = svgChunkName(file);
            callerFileName = file;
        }
        void *h = entry<qxLoadImageFunc>(p, QX_EP_LoadImage)(own.c_str(), &fresh, own.c_str());
        callerFileName = nullptr;
        if (h) {
            rec = fresh;
            *handle = h;
            return p;
        }
    }
    return nullptr;
}

} // namespace

extern "C" {

const char *qxImageLoaderFileName(void) { return callerFileName; }

const char *qxLoaderName(const qxPluginInfo *plugin)
{
    if (!plugin) return "inbuilt";
    if (reinterpret_cast<uintptr_t>(plugin) == 1) return "native";
    return plugin->name ? plugin->name : "";
}

qxPicSource *qxPicSourceNewCustom(void *handle, qxSourceGetImage getImage, qxSourceClose close, qxSourceRender render,
                                  qxSourceDirectTransform directTransform, uint32_t width, uint32_t height,
                                  uint32_t callbackKind)
{
    auto *s = static_cast<qxPicSource *>(qxAlloc(sizeof(qxPicSource), 1));
    if (!s) return nullptr;
    s->decoder = handle;
    s->refCount = 1;
    s->custom = 1;
    s->callbackKind = callbackKind;
    s->getImage = getImage, s->close = close, s->render = render, s->directTransform = directTransform;
    s->width = width, s->height = height;
    return s;
}

void qxPicSourceRetain(qxPicSource *s)
{
    if (s) ++s->refCount;
}

void qxPicSourceRelease(qxPicSource *s)
{
    if (s && --s->refCount == 0) qxPicSourceFree(s);
}

void qxPicSourceFree(qxPicSource *s)
{
    if (!s) return;
    if (s->plugin) {
        if (!s->directTransform && s->decoder && s->plugin->entry[QX_EP_FreeImage])
            entry<qxFreeImageFunc>(s->plugin, QX_EP_FreeImage)(s->decoder);
    } else if (!s->custom) {
        qxFreePictureHeader(static_cast<qxPictureHandle *>(s->decoder));
    } else if (!s->directTransform && s->close && !s->callbackKind) {
        // Kind-2 callbacks are never entered on this platform.
        s->close(s->decoder);
    }
    if (s->ownsPixels) qxFree(s->pixels);
    qxFree(s->scaled);
    qxFree(s);
}

uint32_t *qxPicSourceBitMap(qxPicSource *s) { return s->scaled ? s->scaled : s->pixels; }

void qxPicSourceSize(qxPicSource *s, uint32_t *width, uint32_t *height)
{
    if (width) *width = s->width;
    if (height) *height = s->height;
}

uint32_t qxPicSourceOwnsPixels(qxPicSource *s) { return s->ownsPixels; }

int qxPicSourceTransform(lua_State *, qxPicSource *s, const double matrix[4], double xOffset, double yOffset,
                         int32_t width, int32_t height, void *maskSource, void **maskOut, uint32_t **pixelsOut,
                         void **bitmapOut, void **alphaOut, uint32_t *pitchOut)
{
    if (s->custom && s->directTransform) {
        uintptr_t result[2] = {0, 0};
        int e = s->directTransform(s->decoder, matrix, maskSource, alphaOut, result);
        if (!e && maskOut) *maskOut = nullptr;
        return e;
    }
    double block[6] = {matrix[0], matrix[1], matrix[2], matrix[3], xOffset, yOffset};
    qxImageLoaderRecord info{};
    void *buffer = nullptr;
    if (s->plugin && s->plugin->entry[QX_EP_TransformImage] && s->plugin->entry[QX_EP_GetImage]) {
        if (!entry<qxTransformImageFunc>(s->plugin, QX_EP_TransformImage)(s->decoder, block, width, height, &info))
            return ERR_TFIMAGE;
        buffer = entry<qxGetImageFunc>(s->plugin, QX_EP_GetImage)(s->decoder, &info, s->plugin, uint32_t(width));
    } else if (s->custom && s->render && s->getImage && !s->callbackKind) {
        if (!s->render(s->decoder, block, width, height, &info)) return ERR_TFIMAGE;
        buffer = s->getImage(s->decoder, &info);
    } else {
        return ERR_TFIMAGE;
    }
    if (!buffer) return ERR_TFIMAGE;
    if (pixelsOut) {
        *pixelsOut = static_cast<uint32_t *>(buffer);
        if (pitchOut) *pitchOut = info.pitch ? info.pitch : uint32_t(width) * 4;
        return 0;
    }
    uint32_t pitch = info.pitch ? info.pitch / 4 : uint32_t(width);
    qxBitMap *alpha = nullptr;
    if (info.hasAlpha) {
        alpha = qxAlphaFromBuffer(static_cast<uint32_t *>(buffer), uint32_t(width), uint32_t(height), pitch);
        if (!alpha) return ERR_ALLOCALPHA;
    }
    qxBitMap *bitmap = nullptr;
    if (int e = qxBitMapFromARGB(static_cast<uint32_t *>(buffer), 0xFFFFFFFF, width, height, int32_t(pitch), 0, 0,
                                 maskSource, &bitmap, nullptr, nullptr)) {
        qxFreeAlphaBitMap(alpha);
        return e;
    }
    if (bitmapOut) *bitmapOut = bitmap;
    else qxFreeBitMap(bitmap);
    if (alphaOut) *alphaOut = alpha;
    else qxFreeAlphaBitMap(alpha);
    if (maskOut) *maskOut = nullptr;
    return 0;
}

int qxOpenImage(const char *file, const char *loaders, const char *adapters, const uint32_t *reserved,
                uint32_t legacyA, int legacyB, int alphaMode, int transparentWanted, int32_t wantedWidth,
                int32_t wantedHeight, int smooth, qxPicSource **sourceOut, void **alphaOut, uint32_t *reservedOut,
                uint32_t *transparentOut, uint32_t *widthOut, uint32_t *heightOut, uint32_t *pitchOut,
                uint32_t *hasAlphaOut, uint32_t *scalableOut, qxPluginInfo **pluginOut)
{
    auto *s = static_cast<qxPicSource *>(qxAlloc(sizeof(qxPicSource), 1));
    if (!s) return ERR_MEM;
    s->refCount = 1;
    qxSelectAdapters(loaders, QX_CAP_IMAGELOADER);
    auto fail = [&](int code, bool named) {
        if (named) qxSetErrorString(file);
        qxPicSourceRelease(s);
        return code;
    };

    qxImageLoaderRecord rec{};
    rec.width = uint32_t(wantedWidth), rec.height = uint32_t(wantedHeight);
    rec.smooth = uint32_t(smooth != 0);
    rec.adapters = adapters;
    if (transparentWanted) rec.flags = 2;
    uint32_t width = 0, height = 0, pitch = 0, hasAlpha = 0, scalable = 0, transparent = 0xFFFFFFFF;
    s->plugin = walkPlugins(file, loaders, rec, &s->decoder);
    if (s->plugin) {
        width = rec.width, height = rec.height, pitch = rec.pitch, hasAlpha = rec.hasAlpha;
        scalable = rec.scalable == 1;
        if (scalable) {
            // Rendered at the wanted size already.
            s->width = (rec.flags & 1) ? rec.naturalWidth : width;
            s->height = (rec.flags & 1) ? rec.naturalHeight : height;
            wantedWidth = int32_t(width), wantedHeight = int32_t(height);
        } else {
            s->width = width, s->height = height;
        }
        if (rec.alphaChannel) alphaMode = 1;
        s->pixels = static_cast<uint32_t *>(
            entry<qxGetImageFunc>(s->plugin, QX_EP_GetImage)(s->decoder, &rec, s->plugin, width));
        if (!s->pixels) return fail(ERR_LOADPICTURE2, true);
        if (rec.pitch) pitch = rec.pitch;
        if (reservedOut) *reservedOut = 0;
    } else {
        qxPictureHandle *handle = nullptr;
        uint64_t native = 0;
        int e = qxLoadPictureAny(file, loaders, adapters, reserved, legacyA, transparentWanted ? 2 : legacyB, &handle,
                                 nullptr, &transparent, &width, &height, &hasAlpha, &native, nullptr);
        if (!e && native && pluginOut) *pluginOut = reinterpret_cast<qxPluginInfo *>(uintptr_t(1));
        if (e) {
            qxFree(s);
            return e;
        }
        s->decoder = handle;
        s->pixels = qxPictureFileHandle(handle);
        if (transparent == 0xFFFFFFFE) {
            // The pixels carry alpha instead of a pen.
            transparent = 0xFFFFFFFF;
            hasAlpha = 1;
            transparentWanted = 0;
            alphaMode = 1;
        }
        s->width = width, s->height = height;
    }
    if (!pitch) pitch = width * 4;

    // The wanted size: 0 the natural size, negative a percentage of it.
    uint32_t newWidth = wantedWidth < 0 ? uint32_t(-wantedWidth / 100.0 * s->width) : wantedWidth ? uint32_t(wantedWidth) : width;
    uint32_t newHeight = wantedHeight < 0 ? uint32_t(-wantedHeight / 100.0 * s->height) : wantedHeight ? uint32_t(wantedHeight) : height;
    if (newWidth != width || newHeight != height) {
        if (newWidth == 0 || newHeight == 0) return fail(ERR_MEM, false);
        if (scalable) {
            const double matrix[4] = {double(newWidth) / width, 0, 0, double(newHeight) / height};
            uint32_t *rendered = nullptr;
            if (int e = qxPicSourceTransform(nullptr, s, matrix, 0, 0, int32_t(newWidth), int32_t(newHeight), nullptr,
                                             nullptr, &rendered, nullptr, nullptr, &pitch))
                return fail(e, false);
            s->pixels = rendered;
        } else {
            s->scaled = scalePixels(s->pixels, width, height, pitch / 4, newWidth, newHeight, smooth);
            if (!s->scaled) return fail(ERR_MEM, false);
            pitch = newWidth * 4;
        }
        width = newWidth, height = newHeight;
    }

    qxBitMap *alpha = nullptr;
    if (alphaMode && hasAlpha) {
        alpha = qxAlphaFromBuffer(qxPicSourceBitMap(s), width, height, pitch / 4);
        if (!alpha) return fail(ERR_MEM, false);
    } else if (alphaMode == 1) {
        return fail(ERR_NOALPHA, true);
    } else if (alphaMode == 0 && transparentWanted && transparent == 0xFFFFFFFF) {
        return fail(ERR_NOTRANSPARENCY, true);
    }
    if (alphaOut) *alphaOut = alpha;
    else qxFreeAlphaBitMap(alpha);
    // The plug-in is read before the record may be released.
    qxPluginInfo *plugin = s->plugin;
    if (sourceOut) *sourceOut = s;
    else qxPicSourceRelease(s);
    if (widthOut) *widthOut = width;
    if (heightOut) *heightOut = height;
    if (pitchOut) *pitchOut = pitch;
    if (hasAlphaOut) *hasAlphaOut = hasAlpha;
    if (scalableOut) *scalableOut = scalable;
    if (transparentOut) *transparentOut = transparent;
    if (pluginOut && plugin) *pluginOut = plugin;
    else if (pluginOut && reinterpret_cast<uintptr_t>(*pluginOut) != 1) *pluginOut = nullptr;
    return 0;
}
}
