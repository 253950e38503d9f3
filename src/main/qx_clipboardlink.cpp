#include "main/qx_clipboardlink.h"

#include <cstdlib>
#include <cstring>

#include "core/files/qx_file.h"
#include "display/qx_bitmap.h"
#include "display/qx_bitmapdraw.h"
#include "libs/qx_sysclipboard.h"
#include "objects/formats/qx_picformats.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_files.h"
#include "platform/qx_memory.h"
#include "platform/qx_paths.h"
#include "platform/x11/x11_clipboard.h"

namespace {

// Pictures travel through a temporary file because the picture codecs
// read and write files; the file never outlives the call.
struct TempFile {
    char name[1024] = {};
    bool made = qxTempFileName(name, sizeof name) != 0;
    ~TempFile()
    {
        if (made)
            qxDeleteFile(name);
    }
};

int encodePng(const qxClipboardData *data, unsigned char **bytes, size_t *length)
{
    uint32_t *argb = qxBitMapToARGBWithPlanes(data->bitmap, data->mask, data->alpha, int32_t(data->width),
                                              int32_t(data->height));
    if (!argb)
        return ERR_MEM;
    TempFile temp;
    if (!temp.made) {
        qxFree(argb);
        return ERR_MEM;
    }
    qxPngSaveRequest r{temp.name, argb, int32_t(data->width * 4), data->width, data->height,
                       (data->mask || data->alpha) ? 1u : 0u, 0};
    qxSavePNG(&r);
    qxFree(argb);
    if (r.error)
        return int(r.error);
    void *file = nullptr;
    int64_t size = 0;
    if (int e = qxReadWholeFile(temp.name, nullptr, nullptr, &file, &size, 0, 0))
        return e;
    // The back-end frees its data with free().
    *bytes = size > 0 ? static_cast<unsigned char *>(std::malloc(size_t(size))) : nullptr;
    if (*bytes)
        std::memcpy(*bytes, file, size_t(size));
    qxFree(file);
    *length = size_t(size);
    return *bytes ? 0 : int(ERR_MEM);
}

int decodePng(const unsigned char *bytes, size_t length, qxClipboardData *data)
{
    TempFile temp;
    if (!temp.made)
        return ERR_MEM;
    qxFileHandle *f = qxOpen(temp.name, QX_OPEN_WRITE | QX_OPEN_NOCONVERT, nullptr);
    if (!f) {
        qxSetErrorString(temp.name);
        return ERR_WRITEFILE;
    }
    const bool whole = qxWrite(f, bytes, int64_t(length)) == int64_t(length);
    if (!qxClose(f) || !whole) // 1 when closed cleanly
        return ERR_WRITE;
    qxPictureHandle *picture = nullptr;
    uint32_t w = 0, h = 0, hasAlpha = 0, transparent = 0xFFFFFFFF;
    if (int e = qxLoadPictureAny(temp.name, "", nullptr, nullptr, 0xFFFFFFFF, 2, &picture, nullptr, &transparent, &w,
                                 &h, &hasAlpha, nullptr, nullptr))
        return e;
    if (transparent == 0xFFFFFFFE)
        hasAlpha = 1;
    const uint32_t *pixels = qxPictureFileHandle(picture);
    qxBitMap *bitmap = nullptr, *alpha = nullptr;
    const int e = pixels ? qxBitMapFromARGB(pixels, 0xFFFFFFFF, int32_t(w), int32_t(h), int32_t(w), 0,
                                            hasAlpha ? 8 : 0, nullptr, &bitmap, nullptr, &alpha)
                         : int(ERR_MEM);
    qxFreePictureHeader(picture);
    if (e)
        return e;
    data->bitmap = bitmap;
    data->alpha = alpha;
    data->mask = nullptr;
    data->width = w;
    data->height = h;
    return 0;
}

int setText(const char *text)
{
    qxClipboardData data{};
    data.text = const_cast<char *>(text);
    return x11SetClipboard(1, &data);
}

int setImage(const qxClipboardImage *image)
{
    qxClipboardData data{};
    data.width = image->width;
    data.height = image->height;
    data.bitmap = image->bitmap;
    data.mask = image->mask;
    data.alpha = image->alpha;
    return x11SetClipboard(2, &data);
}

int getClipboard(lua_State *L, char **text, qxClipboardImage *image, int *type)
{
    qxClipboardData data{};
    const int r = x11GetClipboard(L, &data, type);
    *text = data.text;
    *image = {data.width, data.height, data.bitmap, data.mask, data.alpha};
    return r;
}

} // namespace

extern "C" {

void qxLinkClipboard(void)
{
    qxClipboard.setText = setText;
    qxClipboard.setImage = setImage;
    qxClipboard.get = getClipboard;
    qxClipboard.peek = x11GetClipboardType;
    qxClipboard.clear = x11ClearClipboard;
    x11ClipboardImage.encodePng = encodePng;
    x11ClipboardImage.decodePng = decodePng;
}
}
