// Picture loading dispatch: the inbuilt readers first, then the platform
// decoder, as the loader list admits them; or only the size and kind.
#include <cstring>

#include "core/plugins/qx_plugins.h"
#include "objects/formats/qx_picformats.h"
#include "objects/formats/qx_picio.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_hooks.h"
#include "platform/qx_memory.h"

using namespace qxpic;

namespace {

constexpr uint32_t kReadMode = 25;

uint32_t recognise(const uint8_t *b)
{
    if (std::memcmp(b, "FORM", 4) == 0 && std::memcmp(b + 8, "ILBM", 4) == 0) return QX_IMGFMT_ILBM;
    if (b[0] == 0xFF && b[1] == 0xD8) return QX_IMGFMT_JPEG;
    if (b[0] == 0x89 && std::memcmp(b + 1, "PNG", 3) == 0) return QX_IMGFMT_PNG;
    if (b[0] == 'B' && b[1] == 'M') return QX_IMGFMT_BMP;
    if (std::memcmp(b, "GIF87a", 6) == 0 || std::memcmp(b, "GIF89a", 6) == 0) return QX_IMGFMT_GIF;
    return QX_IMGFMT_UNKNOWN;
}

} // namespace

extern "C" uint32_t *qxPictureFileHandle(qxPictureHandle *handle)
{
    if (!handle) return nullptr;
    if (handle->kind == QX_IMGFMT_NATIVE) return static_cast<uint32_t *>(qxNativePicturePixels(handle->nativeState));
    return handle->pixels;
}

extern "C" int qxLoadPictureAny(const char *fileName, const char *loaders, const char *adapters,
                                const uint32_t *paletteOverride, uint32_t onePlaneColour, int alphaMode,
                                qxPictureHandle **handleOut, uint32_t **paletteOut, uint32_t *transparentOut,
                                uint32_t *widthOut, uint32_t *heightOut, uint32_t *hasAlphaOut,
                                uint64_t *nativeUsedOut, uint32_t *formatOut)
{
    auto *handle = static_cast<qxPictureHandle *>(qxAlloc(sizeof(qxPictureHandle), 1));
    if (!handle) return ERR_MEM;
    const bool sizeOnly = handleOut == nullptr;
    const bool inbuilt = qxLoaderAllowed(loaders, "inbuilt", 0) != 0;
    const bool native = qxLoaderAllowed(loaders, "native", 0) != 0;
    uint32_t width = 0, height = 0, hasAlpha = 0, transparent = 0xFFFFFFFF, orientation = 0;
    uint32_t *palette = nullptr;
    qxFileHandle *file = nullptr;
    auto cannotRead = [&] {
        qxSetErrorString(fileName);
        qxFree(handle);
        return ERR_READFILE;
    };

    if (sizeOnly && inbuilt) {
        file = qxOpen(fileName, kReadMode, adapters);
        if (!file) return cannotRead();
        uint32_t format = 0, seen = 0;
        if (qxProbePictureHeader(file, &format, &width, &height, &hasAlpha, &seen, &orientation) == 0) {
            qxClose(file);
            qxFree(handle);
            if (formatOut) *formatOut = format;
            *widthOut = width;
            *heightOut = height;
            if (hasAlphaOut) *hasAlphaOut = hasAlpha;
            if (transparentOut) *transparentOut = seen ? 1 : 0xFFFFFFFF;
            if (paletteOut) *paletteOut = nullptr;
            return 0;
        }
    }

    handle->kind = QX_IMGFMT_UNKNOWN;
    int err = ERR_LOADPICTURE2;
    bool fileClosed = false;
    if (inbuilt) {
        if (!file) {
            file = qxOpen(fileName, kReadMode, adapters);
            if (!file) return cannotRead();
        } else {
            seekTo(file, 0);
        }
        uint8_t head[64] = {};
        qxRead(file, head, 64);
        handle->kind = recognise(head);
        if (handle->kind == QX_IMGFMT_JPEG) {
            seekTo(file, 0);
            uint32_t format, w, h, a, t;
            qxProbePictureHeader(file, &format, &w, &h, &a, &t, &orientation);
        }
        seekTo(file, 0);
        if (handle->kind != QX_IMGFMT_UNKNOWN && nativeUsedOut) *nativeUsedOut = 0;
        uint32_t *pixels = nullptr;
        switch (handle->kind) {
        case QX_IMGFMT_BMP:
            err = qxLoadBMP(file, sizeOnly, &width, &height, &pixels);
            break;
        case QX_IMGFMT_PNG:
            qxLoadPNG(file, sizeOnly, &width, &height, &pixels, &hasAlpha, &err);
            break;
        case QX_IMGFMT_JPEG:
            err = qxLoadJPEG(file, 0, sizeOnly, orientation, &width, &height, &pixels);
            break;
        case QX_IMGFMT_GIF: {
            uint32_t frames = 0, seen = 0;
            qxGifReader *gif = qxGifOpen(file, &width, &height, &frames, sizeOnly, 1, alphaMode == 2);
            fileClosed = true;
            if (!gif) {
                err = sizeOnly ? 0 : ERR_LOADPICTURE2;
            } else {
                pixels = qxGifGetFrame(gif, 0, &seen);
                err = pixels ? 0 : ERR_LOADPICTURE2;
                if (pixels && seen) transparent = 0xFFFFFFFE;
                qxGifClose(gif);
            }
            break;
        }
        case QX_IMGFMT_ILBM:
            err = qxLoadILBM(file, sizeOnly, paletteOverride, onePlaneColour, alphaMode == 1, alphaMode == 2,
                             &transparent, &width, &height, &pixels, paletteOut ? &palette : nullptr);
            break;
        default:
            err = ERR_LOADPICTURE2;
        }
        if (!err) handle->pixels = pixels;
        if (!err && !fileClosed) {
            qxClose(file);
            fileClosed = true;
        }
    }

    if (err) {
        if (!native) {
            if (file && !fileClosed) qxClose(file);
            qxFree(handle);
            qxSetErrorString(fileName);
            return ERR_LOADPICTURE2;
        }
        if (!file || fileClosed) {
            file = qxOpen(fileName, kReadMode, adapters);
            if (!file) return cannotRead();
        } else {
            seekTo(file, 0);
        }
        int w = 0, h = 0, a = 0;
        void *nativePalette = nullptr;
        err = qxNativeLoadPicture(file, fileName, 0, sizeOnly, paletteOverride != nullptr, onePlaneColour,
                                  alphaMode == 1, &handle->nativeState, paletteOut ? &nativePalette : nullptr,
                                  &transparent, &w, &h, &a);
        qxClose(file);
        if (err) {
            qxFree(handle);
            if (err == ERR_LOADPICTURE2) qxSetErrorString(fileName);
            return err;
        }
        palette = static_cast<uint32_t *>(nativePalette);
        width = uint32_t(w), height = uint32_t(h), hasAlpha = uint32_t(a);
        handle->kind = QX_IMGFMT_NATIVE;
        if (nativeUsedOut) *nativeUsedOut = 1;
    }

    if (formatOut) *formatOut = handle->kind;
    if (sizeOnly)
        qxFreePictureHeader(handle);
    else
        *handleOut = handle;
    *widthOut = width;
    *heightOut = height;
    if (hasAlphaOut) *hasAlphaOut = hasAlpha;
    if (paletteOut) *paletteOut = palette;
    else qxFree(palette);
    if (transparentOut) *transparentOut = transparent;
    return 0;
}
