#include "main/qx_picturelink.h"

#include "display/qx_picturesave.h"
#include "objects/formats/qx_picformats.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

namespace {

int savePNG(const char *fileName, const uint32_t *pixels, uint32_t width, uint32_t height, int alpha)
{
    qxPngSaveRequest r{fileName, pixels, int32_t(width * 4), width, height, alpha ? 1u : 0u, 0};
    qxSavePNG(&r);
    return int(r.error);
}

int encodeJPEG(const uint32_t *pixels, uint32_t width, uint32_t height, int quality, uint8_t **data,
               uint32_t *size)
{
    qxJpegSaveRequest r{};
    r.pixels = pixels;
    r.pitch = int32_t(width * 4);
    r.width = width;
    r.height = height;
    r.quality = quality;
    qxSaveJPEG(&r);
    if (r.error || !r.result) return r.error ? int(r.error) : int(ERR_MEM);
    *data = r.result->data;
    *size = r.result->size;
    qxFree(r.result);
    return 0;
}

int saveGIF(const char *fileName, uint8_t *pens, uint32_t width, uint32_t height, uint32_t *palette,
            uint32_t colours, uint32_t transparentPen)
{
    qxGifWriter *w = nullptr;
    if (int err = qxGifWriterOpen(fileName, width, height, &w)) return err;
    int err = qxGifWriteFrame(w, pens, width, height, 0, palette, colours, transparentPen, 0, 0);
    int closed = qxGifWriterClose(w);
    return err ? err : closed;
}

int identify(const char *fileName, const char *loaders, const char *adapters, uint32_t *format, uint32_t *width,
             uint32_t *height, uint32_t *hasAlpha, uint32_t *transparency)
{
    uint32_t transparent = 0xFFFFFFFF;
    int err = qxLoadPictureAny(fileName, loaders ? loaders : "", adapters, nullptr, 0xFFFFFFFF, 0, nullptr, nullptr,
                               &transparent, width, height, hasAlpha, nullptr, format);
    *transparency = transparent != 0xFFFFFFFF;
    return err;
}

} // namespace

extern "C" void qxLinkPictureWriters(void)
{
    qxPictureWriterTable = {qxSaveBMP, savePNG, encodeJPEG, saveGIF, qxSaveILBM, identify};
}
