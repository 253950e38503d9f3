// The saver dispatch by image format, image saver plug-ins and icon bodies.
#include "display/qx_picturesave.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/files/qx_file.h"
#include "core/plugins/qx_plugins.h"
#include "core/vm/lauxlib.h"
#include "imaging/qx_pixelformat.h"
#include "imaging/qx_quantize.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

qxPictureWriters qxPictureWriterTable = {};

namespace {

enum : int { kBMP = 0, kPNG, kJPEG, kGIF, kILBM };
constexpr uint32_t kNoColour = 0xFFFFFFFFu;

bool writeAll(qxFileHandle *f, const void *data, size_t n)
{
    return qxWrite(f, data, int64_t(n)) == int64_t(n);
}

// Pens and palette of a picture quantised to at most colours entries.
struct Pens {
    std::vector<uint8_t> pens;
    uint32_t palette[256] = {};
    int32_t count = 0;
    int32_t transparentPen = -1;
};

int quantise(const uint32_t *pixels, int width, int height, uint32_t transparentColour, const qxSaveOptions &o,
             Pens &out)
{
    try {
        out.pens.assign(size_t(width) * size_t(height), 0);
    } catch (const std::bad_alloc &) {
        return ERR_MEM;
    }
    out.count = std::clamp(o.colors, 1, 256);
    uint32_t key = transparentColour == kNoColour ? kNoColour : transparentColour & 0xFFFFFF;
    if (!qxQuantizeToPalette(pixels, QX_PIXFMT_ARGB32, 4, width, height, width, out.pens.data(), out.palette,
                             &out.count, key, 0, o.dither ? 1 : 0, &out.transparentPen))
        return ERR_MEM;
    return 0;
}

int saveJPEG(const uint32_t *pixels, int width, int height, const char *fileName, int quality)
{
    qxFileHandle *f = qxOpen(fileName, 10, nullptr);
    if (!f) {
        qxSetErrorString(fileName);
        return ERR_WRITEFILE;
    }
    uint8_t *data = nullptr;
    uint32_t size = 0;
    int err = qxPictureWriterTable.encodeJPEG(pixels, uint32_t(width), uint32_t(height), quality, &data, &size);
    // Flushed here: a full disk is a short write, not a failing close.
    if (!err && (!writeAll(f, data, size) || !qxFlush(f))) err = ERR_WRITE;
    qxFree(data);
    if (!qxClose(f) && !err) err = ERR_CLOSEFILE;
    return err;
}

int saveGIF(const uint32_t *pixels, int width, int height, const char *fileName, uint32_t transparentColour,
            const qxSaveOptions &o)
{
    Pens p;
    if (quantise(pixels, width, height, transparentColour, o, p)) return ERR_MEM;
    uint32_t pen = p.transparentPen < 0 ? kNoColour : uint32_t(p.transparentPen);
    return qxPictureWriterTable.saveGIF(fileName, p.pens.data(), uint32_t(width), uint32_t(height), p.palette,
                                        uint32_t(p.count), pen);
}

// The first loaded image saver plug-in that lists the format.
const qxSaverFormat *findSaver(uint32_t format, qxPluginInfo **owner)
{
    for (qxPluginNode *n = qxPluginList; n; n = n->next) {
        if (!n->handle || !(n->capabilities & QX_CAP_IMAGESAVER)) continue;
        qxPluginInfo *info = n->handle->info;
        if (!info || info->disabled || !info->imageFormats) continue;
        for (const qxSaverFormat *f = info->imageFormats; f->name; f++) {
            if (f->format == format) {
                *owner = info;
                return f;
            }
        }
    }
    return nullptr;
}

int saveWithPlugin(int format, const uint32_t *pixels, int width, int height, const char *fileName,
                   uint32_t transparentColour, const qxSaveOptions &o)
{
    qxPluginInfo *info = nullptr;
    const qxSaverFormat *entry = format < 0 ? nullptr : findSaver(uint32_t(format), &info);
    if (!entry) return ERR_UNKNOWNIMGOUT;
    auto save = reinterpret_cast<qxSaveImageFunc>(info->entry[QX_EP_SaveImage]);
    if (!save || info->abiKind == 2) return ERR_SAVEIMAGE;
    qxImageSaveRecord r{};
    r.width = uint32_t(width);
    r.height = uint32_t(height);
    r.quality = o.quality;
    r.format = uint32_t(format);
    Pens p;
    if (entry->flags & QX_SAVER_ARGB) {
        r.pixels = pixels;
        r.bytesPerRow = 4 * uint32_t(width);
        if (o.hasAlpha && (entry->flags & QX_SAVER_ALPHA)) r.flags |= 1;
    } else {
        if (quantise(pixels, width, height, transparentColour, o, p)) return ERR_MEM;
        r.pixels = p.pens.data();
        r.bytesPerRow = uint32_t(width);
        r.palette = p.palette;
        r.colours = uint32_t(p.count);
        if (transparentColour != kNoColour && p.transparentPen >= 0) {
            r.flags |= 2;
            r.transparentPen = uint32_t(p.transparentPen);
        }
    }
    return save(fileName, &r) ? 0 : ERR_SAVEIMAGE;
}

} // namespace

void qxGetSaveOptions(lua_State *L, int index, qxSaveOptions *o)
{
    if (lua_gettop(L) != index) return;
    if (lua_istable(L, index)) {
        int v, found;
        if (qxGetFieldInt(L, index, "quality", &v, &found) == 0 && found) o->quality = v;
        if (qxGetFieldInt(L, index, "colors", &v, &found) == 0 && found) o->colors = v;
        if (qxGetFieldInt(L, index, "dither", &v, &found) == 0 && found) o->dither = v;
    } else {
        o->quality = (int)luaL_checknumber(L, index);
    }
}

int qxSaveImagePNG(const char *fileName, const uint32_t *pixels, int width, int height, int hasAlpha)
{
    if (!qxPictureWriterTable.savePNG) return ERR_UNSUPPORTEDFEAT;
    int err = qxPictureWriterTable.savePNG(fileName, pixels, uint32_t(width), uint32_t(height), hasAlpha);
    if (err) qxSetErrorString(fileName);
    return err;
}

int qxSaveImageFormat(int format, const uint32_t *pixels, int width, int height, const char *fileName,
                      uint32_t transparentColour, const qxSaveOptions *options)
{
    if (!pixels || width < 1 || height < 1 || !fileName) return ERR_WRONGUSAGE;
    const qxSaveOptions o = options ? *options : qxSaveOptions{0, 90, 256, 0};
    const qxPictureWriters &t = qxPictureWriterTable;
    const auto w = uint32_t(width), h = uint32_t(height);
    switch (format) {
    case kBMP: return t.saveBMP ? t.saveBMP(fileName, pixels, w, h) : ERR_UNSUPPORTEDFEAT;
    case kPNG: return qxSaveImagePNG(fileName, pixels, width, height, o.hasAlpha);
    case kJPEG: return t.encodeJPEG ? saveJPEG(pixels, width, height, fileName, o.quality) : ERR_UNSUPPORTEDFEAT;
    case kGIF: return t.saveGIF ? saveGIF(pixels, width, height, fileName, transparentColour, o) : ERR_UNSUPPORTEDFEAT;
    case kILBM: return t.saveILBM ? t.saveILBM(fileName, pixels, w, h) : ERR_UNSUPPORTEDFEAT;
    default: return saveWithPlugin(format, pixels, width, height, fileName, transparentColour, o);
    }
}

int qxWriteIconImage(const uint32_t *pixels, int width, int height, int pixelsPerRow, uint8_t *memory,
                     qxFileHandle *file)
{
    if (!pixels || width < 1 || height < 1 || pixelsPerRow < width || (!memory && !file)) return ERR_WRONGUSAGE;
    const size_t rowBytes = size_t(width) * 4;
    const size_t maskRow = size_t(((uint32_t(width) + 31) >> 3) & ~3u);
    std::unique_ptr<uint8_t[]> mask(new (std::nothrow) uint8_t[maskRow * size_t(height)]);
    if (!mask) return ERR_MEM;
    uint8_t *out = memory ? memory + 40 : nullptr;
    for (int y = height - 1; y >= 0; --y) {
        const uint32_t *row = pixels + size_t(y) * size_t(pixelsPerRow);
        if (out) {
            std::memcpy(out, row, rowBytes);
            out += rowBytes;
        } else if (!writeAll(file, row, rowBytes)) {
            return ERR_WRITE;
        }
        // Bits past the width stay set: the padding counts as transparent.
        uint8_t *m = mask.get() + size_t(height - 1 - y) * maskRow;
        std::memset(m, 0xFF, maskRow);
        for (int x = 0; x < width; ++x)
            if (row[x] >> 24) m[x >> 3] &= uint8_t(~(0x80u >> (x & 7)));
    }
    if (out) {
        std::memcpy(out, mask.get(), maskRow * size_t(height));
        return 0;
    }
    return writeAll(file, mask.get(), maskRow * size_t(height)) && qxFlush(file) ? 0 : ERR_WRITE;
}
