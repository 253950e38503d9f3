// Windows bitmap reader (1, 4, 8 bits with a colour table, RLE8, 16, 24 and
// 32 bits) and the 24-bit writer.
#include <algorithm>
#include <vector>

#include "objects/formats/qx_picformats.h"
#include "objects/formats/qx_picio.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

using namespace qxpic;

namespace {

struct BmpHeader {
    uint32_t fileSize, dataOffset, headerSize;
    int32_t width, height;
    uint32_t bits, compression, coloursUsed;
};

// One channel described by a bit mask: shift down, then up so the top bit
// of the field lands on bit 7 (5 bits become v << 3, as 16-bit files have it).
struct Channel {
    int down = 0, up = 0;
    uint32_t mask = 0;
    explicit Channel(uint32_t m = 0) : mask(m)
    {
        if (!m) return;
        down = __builtin_ctz(m);
        int bits = 32 - __builtin_clz(m) - down;
        up = 8 - bits; // negative: wider than 8 bits, shift down instead
    }
    uint32_t operator()(uint32_t v) const
    {
        uint32_t x = (v & mask) >> down;
        return (up >= 0 ? x << up : x >> -up) & 0xFF;
    }
};

// RLE8 into one index byte per pixel (rows bottom up in the file, stored top
// first here). The stream is already bounded by the data the file holds.
void decodeRle8(const uint8_t *src, size_t n, uint8_t *index, uint32_t width, uint32_t height)
{
    size_t pos = 0;
    uint32_t x = 0, row = 0; // row counts from the bottom
    auto put = [&](uint8_t v) {
        if (x < width && row < height) index[size_t(height - 1 - row) * width + x] = v;
        ++x;
    };
    while (row < height && pos + 1 < n) {
        uint8_t count = src[pos], value = src[pos + 1];
        pos += 2;
        if (count) {
            for (int i = 0; i < count; ++i) put(value);
            continue;
        }
        if (value == 0) { // end of line (the buffer is zero-filled)
            x = 0;
            ++row;
        } else if (value == 1) {
            return;
        } else if (value == 2) {
            if (pos + 1 >= n) return;
            x += src[pos];
            row += src[pos + 1];
            pos += 2;
        } else {
            size_t take = std::min<size_t>(value, n - pos);
            for (size_t i = 0; i < take; ++i) put(src[pos + i]);
            pos += value + (value & 1);
        }
    }
}

} // namespace

extern "C" int qxLoadBMP(qxFileHandle *file, int headerOnly, uint32_t *width, uint32_t *height,
                         uint32_t **pixels)
{
    uint8_t head[54];
    if (!readAll(file, head, 2)) return ERR_READ;
    if (head[0] != 'B' || head[1] != 'M') return ERR_LOADPICTURE2;
    if (!readAll(file, head + 2, 52)) return ERR_LOADPICTURE2;
    BmpHeader h{le32(head + 2), le32(head + 10), le32(head + 14), int32_t(le32(head + 18)), int32_t(le32(head + 22)),
                le16(head + 28), le32(head + 30), le32(head + 46)};
    // Headers shorter than 40 bytes (OS/2) place their fields elsewhere.
    if (h.headerSize < 40 || h.width < 1 || h.height < 1) return ERR_LOADPICTURE2;
    uint64_t w = uint64_t(h.width), ht = uint64_t(h.height);
    if (w * ht > qxPictureLimit()) return ERR_LOADPICTURE2;

    // What can be decoded: anything else is refused rather than shown as garbage.
    bool supported = (h.bits == 1 || h.bits == 4 || h.bits == 24) ? h.compression == 0
                     : h.bits == 8                                 ? h.compression <= 1
                     : (h.bits == 16 || h.bits == 32)              ? (h.compression == 0 || h.compression == 3)
                                                                   : false;
    if (!supported) return ERR_LOADPICTURE2;
    if (headerOnly) {
        *width = uint32_t(w);
        *height = uint32_t(ht);
        return 0;
    }

    uint32_t table[256] = {};
    if (h.bits <= 8) {
        uint32_t count = h.coloursUsed ? h.coloursUsed : 1u << h.bits;
        count = std::min(count, 1u << h.bits);
        uint8_t raw[1024];
        if (!seekTo(file, 14 + int64_t(h.headerSize)) || qxRead(file, raw, count * 4) != int64_t(count) * 4)
            return ERR_LOADPICTURE2;
        for (uint32_t i = 0; i < count; ++i) table[i] = uint32_t(raw[i * 4 + 2]) << 16 | raw[i * 4 + 1] << 8 | raw[i * 4];
    }
    Channel red(0x7C00), green(0x03E0), blue(0x001F);
    if (h.bits == 16 && h.compression == 0) {
        // 5-5-5 is the default of 16-bit files
    } else if (h.bits == 32 && h.compression == 0) {
        red = Channel(0xFF0000), green = Channel(0xFF00), blue = Channel(0xFF);
    } else if (h.compression == 3) {
        uint8_t m[12];
        if (!seekTo(file, 54) || !readAll(file, m, 12)) return ERR_LOADPICTURE2;
        red = Channel(le32(m)), green = Channel(le32(m + 4)), blue = Channel(le32(m + 8));
    }

    // The pixel data, read in one go and bounded before it is allocated.
    uint64_t rowBytes = ((w * h.bits + 31) / 32) * 4;
    bool rle = h.bits == 8 && h.compression == 1;
    uint64_t dataBytes = rowBytes * ht;
    if (rle) {
        if (h.fileSize <= h.dataOffset) return ERR_LOADPICTURE2;
        dataBytes = uint64_t(h.fileSize) - h.dataOffset;
        int64_t real = qxFileSize(file);
        if (real >= 0 && dataBytes > uint64_t(real)) dataBytes = uint64_t(real);
    }
    std::vector<uint8_t> data;
    std::vector<uint8_t> index;
    try {
        data.resize(size_t(dataBytes));
        if (h.bits <= 8) index.resize(size_t(w * ht));
    } catch (const std::bad_alloc &) {
        return ERR_MEM;
    }
    if (!seekTo(file, h.dataOffset)) return ERR_LOADPICTURE2;
    int64_t got = qxRead(file, data.data(), int64_t(dataBytes));
    if (got < 0 || (!rle && uint64_t(got) != dataBytes)) return ERR_LOADPICTURE2;

    uint32_t *out = qxAllocPicture(w, ht, 0);
    if (!out) return ERR_MEM;
    if (rle) decodeRle8(data.data(), size_t(got), index.data(), uint32_t(w), uint32_t(ht));

    for (uint64_t y = 0; y < ht; ++y) {
        const uint8_t *src = data.data() + (ht - 1 - y) * rowBytes;
        uint32_t *dst = out + y * w;
        switch (h.bits) {
        case 1:
            for (uint64_t x = 0; x < w; ++x) dst[x] = table[(src[x >> 3] >> (7 - (x & 7))) & 1];
            break;
        case 4:
            for (uint64_t x = 0; x < w; ++x) dst[x] = table[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 15];
            break;
        case 8:
            if (rle) src = index.data() + y * w;
            for (uint64_t x = 0; x < w; ++x) dst[x] = table[src[x]];
            break;
        case 16:
            for (uint64_t x = 0; x < w; ++x) {
                uint32_t v = le16(src + 2 * x);
                dst[x] = red(v) << 16 | green(v) << 8 | blue(v);
            }
            break;
        case 24:
            for (uint64_t x = 0; x < w; ++x)
                dst[x] = uint32_t(src[3 * x + 2]) << 16 | uint32_t(src[3 * x + 1]) << 8 | src[3 * x];
            break;
        case 32:
            if (h.compression == 0) {
                for (uint64_t x = 0; x < w; ++x) dst[x] = le32(src + 4 * x) & 0xFFFFFF;
            } else {
                for (uint64_t x = 0; x < w; ++x) {
                    uint32_t v = le32(src + 4 * x);
                    dst[x] = red(v) << 16 | green(v) << 8 | blue(v);
                }
            }
            break;
        }
    }
    *width = uint32_t(w);
    *height = uint32_t(ht);
    *pixels = out;
    return 0;
}

extern "C" int qxSaveBMP(const char *fileName, const uint32_t *pixels, uint32_t width, uint32_t height)
{
    uint64_t rowSize = uint64_t(width) * 3 + (width % 4);
    uint64_t fileSize = rowSize * height + 54;
    if (fileSize > 0xFFFFFFFFu) return ERR_MEM;
    qxFileHandle *f = qxOpen(fileName, 10, nullptr);
    if (!f) {
        qxSetErrorString(fileName);
        return ERR_WRITEFILE;
    }
    std::vector<uint8_t> row;
    try {
        row.assign(size_t(rowSize), 0);
    } catch (const std::bad_alloc &) {
        qxClose(f);
        return ERR_MEM;
    }
    uint8_t head[54] = {'B', 'M'};
    putLE32(head + 2, uint32_t(fileSize));
    putLE32(head + 10, 54);
    putLE32(head + 14, 40);
    putLE32(head + 18, width);
    putLE32(head + 22, height);
    putLE16(head + 26, 1);
    putLE16(head + 28, 24);
    int err = writeAll(f, head, 54) ? 0 : ERR_WRITE;
    for (uint32_t y = height; y-- > 0 && !err;) {
        const uint32_t *src = pixels + size_t(y) * width;
        uint8_t *d = row.data();
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t v = src[x];
            d[3 * x] = uint8_t(v);
            d[3 * x + 1] = uint8_t(v >> 8);
            d[3 * x + 2] = uint8_t(v >> 16);
        }
        if (!writeAll(f, d, int64_t(rowSize))) err = ERR_WRITE;
    }
    if (!qxClose(f) && !err) err = ERR_CLOSEFILE;
    return err;
}
