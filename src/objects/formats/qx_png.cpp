// PNG through libpng: every picture becomes 8-bit RGB or RGBA; the writer
// stores 8-bit RGB or RGBA without interlacing.
#include <csetjmp>
#include <png.h>
#include <vector>

#include "objects/formats/qx_picformats.h"
#include "objects/formats/qx_picio.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

using namespace qxpic;

namespace {

struct PngIo {
    qxFileHandle *file;
    jmp_buf jump;
    bool writeFailed;
};

[[noreturn]] void onError(png_structp png, png_const_charp)
{
    longjmp(static_cast<PngIo *>(png_get_error_ptr(png))->jump, 1);
}
void onWarning(png_structp, png_const_charp) {}

void onRead(png_structp png, png_bytep data, size_t length)
{
    auto *io = static_cast<PngIo *>(png_get_io_ptr(png));
    if (!readAll(io->file, data, int64_t(length))) png_error(png, "Read error!");
}

void onWrite(png_structp png, png_bytep data, size_t length)
{
    auto *io = static_cast<PngIo *>(png_get_io_ptr(png));
    if (!writeAll(io->file, data, int64_t(length))) {
        io->writeFailed = true;
        png_error(png, "Write error!");
    }
}

void onFlush(png_structp png) { qxFlush(static_cast<PngIo *>(png_get_io_ptr(png))->file); }

// Runs the decode; everything that must survive the long jump lives in the
// caller's frame or in io.
int readPng(png_structp png, png_infop info, int headerOnly, uint32_t *width, uint32_t *height,
            uint32_t **pixels, uint32_t *hasAlpha, uint32_t *volatile *out, png_bytep *volatile *rows)
{
    png_read_info(png, info);
    png_uint_32 w = 0, h = 0;
    int depth = 0, type = 0, interlace = 0;
    png_get_IHDR(png, info, &w, &h, &depth, &type, &interlace, nullptr, nullptr);
    if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (trns) png_set_tRNS_to_alpha(png);
    if (depth == 16) png_set_strip_16(png);
    if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    bool alpha = trns || (type & PNG_COLOR_MASK_ALPHA);
    // Rows land in the pixel buffer as bytes B, G, R, A: the word layout.
    png_set_bgr(png);
    if (!alpha) png_set_filler(png, 0, PNG_FILLER_AFTER);
    int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    int finalType = png_get_color_type(png, info);
    if ((alpha ? finalType != PNG_COLOR_TYPE_RGB_ALPHA : finalType != PNG_COLOR_TYPE_RGB) ||
        png_get_bit_depth(png, info) != 8 || png_get_rowbytes(png, info) != size_t(w) * 4)
        return ERR_LOADPICTURE2;
    if (headerOnly) {
        *width = w;
        *height = h;
        if (hasAlpha) *hasAlpha = alpha;
        return 0;
    }
    if (uint64_t(w) * h > qxPictureLimit()) return ERR_LOADPICTURE2;
    uint32_t *buffer = qxAllocPicture(w, h, 0);
    if (!buffer) return ERR_MEM;
    *out = buffer;
    if (passes > 1) {
        png_bytep *r = static_cast<png_bytep *>(qxAlloc(sizeof(png_bytep) * h, 0));
        if (!r) return ERR_MEM;
        *rows = r;
        for (png_uint_32 y = 0; y < h; ++y) r[y] = reinterpret_cast<png_bytep>(buffer + size_t(y) * w);
        png_read_image(png, r);
    } else {
        for (png_uint_32 y = 0; y < h; ++y) png_read_row(png, reinterpret_cast<png_bytep>(buffer + size_t(y) * w), nullptr);
    }
    png_read_end(png, nullptr);
    *out = nullptr;
    *pixels = buffer;
    *width = w;
    *height = h;
    if (hasAlpha) *hasAlpha = alpha;
    return 0;
}

} // namespace

extern "C" void qxLoadPNG(qxFileHandle *file, int headerOnly, uint32_t *width, uint32_t *height,
                          uint32_t **pixels, uint32_t *hasAlpha, int *error)
{
    PngIo io{file, {}, false};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &io, onError, onWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        *error = ERR_MEM;
        return;
    }
    // Pixels not yet handed out and the interlace row table, freed after a jump.
    uint32_t *volatile pending = nullptr;
    png_bytep *volatile rows = nullptr;
    int result;
    if (setjmp(io.jump)) {
        result = ERR_LOADPICTURE2;
    } else {
        png_set_read_fn(png, &io, onRead);
        png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
        result = readPng(png, info, headerOnly, width, height, pixels, hasAlpha, &pending, &rows);
    }
    qxFree(pending);
    qxFree(rows);
    png_destroy_read_struct(&png, &info, nullptr);
    *error = result;
}

extern "C" void qxSavePNG(qxPngSaveRequest *request)
{
    const qxPngSaveRequest r = *request;
    PngIo io{nullptr, {}, false};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &io, onError, onWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        request->error = ERR_MEM;
        return;
    }
    uint8_t *volatile row = nullptr;
    int volatile result = 0;
    if (setjmp(io.jump)) {
        result = io.writeFailed ? ERR_WRITE : ERR_MEM;
    } else {
        io.file = qxOpen(r.fileName, 10, nullptr);
        if (!io.file) {
            qxSetErrorString(r.fileName);
            result = ERR_WRITEFILE;
        } else {
            png_set_write_fn(png, &io, onWrite, onFlush);
            png_set_IHDR(png, info, r.width, r.height, 8, r.alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                         PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
            png_write_info(png, info);
            row = static_cast<uint8_t *>(qxAlloc(size_t(r.width) * 4 + 1, 0));
            if (!row) {
                result = ERR_MEM;
            } else {
                const uint8_t *src = reinterpret_cast<const uint8_t *>(r.pixels);
                for (uint32_t y = 0; y < r.height; ++y, src += r.pitch) {
                    const uint32_t *p = reinterpret_cast<const uint32_t *>(src);
                    uint8_t *d = row;
                    if (r.alpha) {
                        for (uint32_t x = 0; x < r.width; ++x) {
                            uint32_t v = p[x];
                            d[4 * x] = uint8_t(v >> 16), d[4 * x + 1] = uint8_t(v >> 8), d[4 * x + 2] = uint8_t(v),
                                  d[4 * x + 3] = uint8_t(v >> 24);
                        }
                    } else {
                        for (uint32_t x = 0; x < r.width; ++x) {
                            uint32_t v = p[x];
                            d[3 * x] = uint8_t(v >> 16), d[3 * x + 1] = uint8_t(v >> 8), d[3 * x + 2] = uint8_t(v);
                        }
                    }
                    png_write_row(png, row);
                }
                png_write_end(png, info);
            }
        }
    }
    qxFree(row);
    png_destroy_write_struct(&png, &info);
    if (io.file && !qxClose(io.file) && !result) result = ERR_WRITE;
    request->error = uint32_t(result);
}
