// IFF ILBM reader (1-8 planes with a colour map, extra-half-brite, HAM6,
// HAM8, 24 planes; plain or ByteRun1) and the 24-plane ByteRun1 writer.
#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <vector>

#include "objects/formats/qx_picformats.h"
#include "objects/formats/qx_picio.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

using namespace qxpic;

namespace {

// spread[b]: byte i of the result is bit 7 - i of b, so eight pixels of one
// plane are handled at once.
const std::array<uint64_t, 256> spread = [] {
    std::array<uint64_t, 256> t{};
    for (int b = 0; b < 256; ++b)
        for (int i = 0; i < 8; ++i)
            if (b & (0x80 >> i)) t[b] |= uint64_t(1) << (8 * i);
    return t;
}();

} // namespace

// One ByteRun1 stream of n bytes from src; false when the data runs out.
bool qxpic::unpackByteRun1(const uint8_t *&src, const uint8_t *end, uint8_t *out, size_t n)
{
    size_t done = 0;
    while (done < n) {
        if (src >= end) return false;
        int8_t control = int8_t(*src++);
        if (control >= 0) {
            size_t count = size_t(control) + 1;
            if (size_t(end - src) < count) return false;
            size_t keep = std::min(count, n - done);
            std::memcpy(out + done, src, keep);
            src += count;
            done += keep;
        } else if (control != -128) {
            if (src >= end) return false;
            size_t count = std::min<size_t>(size_t(-control) + 1, n - done);
            std::memset(out + done, *src++, count);
            done += count;
        }
    }
    return true;
}

void qxpic::planesToChunky(const uint8_t *row, size_t planeStride, uint32_t planes, uint32_t width, uint8_t *dst)
{
    const size_t groups = (size_t(width) + 7) / 8;
    for (size_t g = 0; g < groups; ++g) {
        uint64_t v = 0;
        for (uint32_t p = 0; p < planes; ++p) v |= spread[row[p * planeStride + g]] << p;
        size_t n = std::min<size_t>(8, width - g * 8);
        for (size_t i = 0; i < n; ++i) dst[g * 8 + i] = uint8_t(v >> (8 * i));
    }
}

void qxpic::hamRow(const uint8_t *codes, uint32_t width, const uint32_t *palette, int bits, uint32_t *dst)
{
    const int shift = bits - 2;
    const uint32_t low = (1u << shift) - 1, scale = bits == 8 ? 4 : 16;
    uint32_t colour = 0;
    for (uint32_t x = 0; x < width; ++x) {
        uint32_t v = codes[x] & low, value = (v * scale) & 0xFF;
        switch ((codes[x] >> shift) & 3) {
        case 0: colour = palette[v]; break;
        case 1: colour = (colour & 0xFFFF00) | value; break;
        case 2: colour = (colour & 0x00FFFF) | value << 16; break;
        default: colour = (colour & 0xFF00FF) | value << 8; break;
        }
        dst[x] = colour;
    }
}

namespace {

// Reads the rest of a chunk of declared size (at most what the file holds).
bool readBody(qxFileHandle *f, uint32_t size, std::vector<uint8_t> &out)
{
    try {
        out.clear();
        while (out.size() < size) {
            size_t step = std::min<size_t>(size - out.size(), 1 << 20);
            size_t at = out.size();
            out.resize(at + step);
            int64_t got = qxRead(f, out.data() + at, int64_t(step));
            if (got < int64_t(step)) {
                out.resize(at + size_t(std::max<int64_t>(got, 0)));
                break;
            }
        }
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

uint32_t findFreeColour(const uint32_t *palette)
{
    for (uint32_t c = 0xA8A8A8;; c += 15)
        if (std::find(palette, palette + 256, c) == palette + 256) return c;
}

} // namespace

extern "C" int qxIffFindChunk(qxFileHandle *file, const char *name)
{
    for (int pass = 0; pass < 2; ++pass) {
        if (qxEOF(file)) seekTo(file, 12);
        uint8_t window[4];
        if (!readAll(file, window, 4)) continue;
        bool found = true;
        while (std::memcmp(window, name, 4) != 0) {
            int b = std::memcmp(window, "BODY", 4) == 0 ? -1 : qxGetC(file);
            if (b < 0) {
                found = false;
                break;
            }
            std::memmove(window, window + 1, 3);
            window[3] = uint8_t(b);
        }
        if (found) return 1;
    }
    return 0;
}

extern "C" int qxLoadILBM(qxFileHandle *file, int headerOnly, const uint32_t *paletteOverride,
                          uint32_t onePlaneColour, int modeIs1, int modeIs2, uint32_t *transparentOut,
                          uint32_t *width, uint32_t *height, uint32_t **pixels, uint32_t **paletteOut)
{
    uint8_t bmhd[24];
    if (!qxIffFindChunk(file, "BMHD") || !readAll(file, bmhd, 24)) return ERR_LOADPICTURE2;
    const uint8_t *b = bmhd + 4;
    uint32_t w = be16(b), h = be16(b + 2);
    if (headerOnly) {
        *width = w;
        *height = h;
        return 0;
    }
    uint32_t planes = b[8], masking = b[9], compression = b[10], transparentIndex = be16(b + 12);
    // 24 planes are true colour; other depths above 8 have no meaning here.
    if (planes == 0 || (planes > 8 && planes != 24) || w == 0 || h == 0 || compression > 1)
        return ERR_LOADPICTURE2;
    bool ehb = false, ham = false;
    if (planes < 24 && qxIffFindChunk(file, "CAMG")) {
        uint8_t camg[8];
        if (readAll(file, camg, 8)) {
            uint32_t mode = be32(camg + 4);
            ehb = mode & 0x80;
            ham = mode & 0x800;
        }
    }
    if (uint64_t(w) * h > qxPictureLimit()) return ERR_LOADPICTURE2;
    const size_t rowBytes = ((w + 15) >> 4) * 2;
    const size_t rowsPerLine = planes + (masking == 1 ? 1 : 0);
    uint8_t sizeBytes[4];
    if (!qxIffFindChunk(file, "BODY") || !readAll(file, sizeBytes, 4)) return ERR_LOADPICTURE2;
    std::vector<uint8_t> body, line, chunky;
    try {
        line.resize(rowBytes * rowsPerLine);
        chunky.resize(size_t(w) * h);
    } catch (const std::bad_alloc &) {
        return ERR_MEM;
    }
    if (!readBody(file, be32(sizeBytes), body)) return ERR_MEM;
    uint32_t *out = qxAllocPicture(w, h, 0);
    if (!out) return ERR_MEM;
    auto fail = [&](int code) {
        qxFree(out);
        return code;
    };

    const uint8_t *src = body.data(), *end = body.data() + body.size();
    const size_t groups = (w + 7) / 8;
    std::vector<uint64_t> acc(groups * 3);
    for (uint32_t y = 0; y < h; ++y) {
        // One picture row: every plane row (and the mask row) in turn.
        if (compression == 0) {
            if (size_t(end - src) < line.size()) return fail(ERR_LOADPICTURE2);
            std::memcpy(line.data(), src, line.size());
            src += line.size();
        } else if (planes == 24) {
            if (!unpackByteRun1(src, end, line.data(), line.size())) return fail(ERR_LOADPICTURE2);
        } else {
            for (size_t p = 0; p < rowsPerLine; ++p)
                if (!unpackByteRun1(src, end, line.data() + p * rowBytes, rowBytes)) return fail(ERR_LOADPICTURE2);
        }
        if (planes == 24) {
            std::fill(acc.begin(), acc.end(), 0);
            for (uint32_t p = 0; p < 24; ++p) {
                const uint8_t *plane = line.data() + p * rowBytes;
                uint64_t *a = acc.data() + (p / 8) * groups;
                for (size_t g = 0; g < groups; ++g) a[g] |= spread[plane[g]] << (p % 8);
            }
            uint32_t *dst = out + size_t(y) * w;
            for (uint32_t x = 0; x < w; ++x) {
                size_t g = x / 8, s = 8 * (x % 8);
                dst[x] = uint32_t((acc[g] >> s) & 0xFF) << 16 | uint32_t((acc[groups + g] >> s) & 0xFF) << 8 |
                         uint32_t((acc[2 * groups + g] >> s) & 0xFF);
            }
        } else {
            planesToChunky(line.data(), rowBytes, planes, w, chunky.data() + size_t(y) * w);
        }
    }
    uint32_t transparent = 0xFFFFFFFF;
    if (planes == 24) {
        *transparentOut = transparent;
        *width = w, *height = h, *pixels = out;
        return 0;
    }

    uint32_t palette[256] = {};
    uint8_t cmapSize[4];
    if (!qxIffFindChunk(file, "CMAP") || !readAll(file, cmapSize, 4)) return fail(ERR_LOADPICTURE2);
    uint32_t colours = std::min<uint32_t>(be32(cmapSize) / 3, 256);
    uint8_t raw[768];
    if (!readAll(file, raw, colours * 3)) return fail(ERR_LOADPICTURE2);
    for (uint32_t i = 0; i < colours; ++i) palette[i] = uint32_t(raw[3 * i]) << 16 | raw[3 * i + 1] << 8 | raw[3 * i + 2];
    if (ehb) {
        // The upper 32 entries are the lower 32 at half brightness.
        for (uint32_t i = 0; i < 32; ++i) palette[32 + i] = (palette[i] >> 1) & 0x7F7F7F;
        colours = std::max<uint32_t>(colours, 64);
    }

    if (ham) {
        const int bits = planes > 6 ? 8 : 6;
        for (uint32_t y = 0; y < h; ++y)
            hamRow(chunky.data() + size_t(y) * w, w, palette, bits, out + size_t(y) * w);
        *transparentOut = transparent;
        *width = w, *height = h, *pixels = out;
        return 0;
    }

    // The transparent colour index names a colour only inside the map.
    bool indexValid = transparentIndex < colours && transparentIndex < 256;
    if (paletteOverride) {
        for (uint32_t i = 0; i < 256 && paletteOverride[i] != 0xFFFFFFFF; ++i) palette[i] = paletteOverride[i];
    } else if (onePlaneColour == 0xFFFFFFFF && !modeIs1 && !modeIs2) {
    } else if (planes > 1 && masking != 2) {
    } else if (planes == 1 && !modeIs2) {
        if (indexValid) transparent = palette[transparentIndex];
        if (onePlaneColour != 0xFFFFFFFF) palette[transparentIndex == 0 ? 1 : 0] = onePlaneColour;
    } else if ((modeIs1 || modeIs2) && indexValid) {
        transparent = findFreeColour(palette);
        palette[transparentIndex] = transparent;
    }
    for (size_t i = 0; i < size_t(w) * h; ++i) out[i] = palette[chunky[i]];
    if (paletteOut) {
        *paletteOut = static_cast<uint32_t *>(qxAlloc(1024, 0));
        if (!*paletteOut) return fail(ERR_MEM);
        std::memcpy(*paletteOut, palette, 1024);
    }
    *transparentOut = transparent;
    *width = w, *height = h, *pixels = out;
    return 0;
}

namespace {

// ByteRun1 of one plane row with the two-state packer (minimum run 3,
// runs and literals of at most 128 bytes).
void packRow(const uint8_t *src, size_t n, std::vector<uint8_t> &out)
{
    out.clear();
    auto literal = [&](const uint8_t *p, size_t count) {
        if (!count) return;
        out.push_back(uint8_t(count - 1));
        out.insert(out.end(), p, p + count);
    };
    auto run = [&](uint8_t value, size_t count) {
        out.push_back(uint8_t(-int(count - 1)));
        out.push_back(value);
    };
    size_t start = 0;    // first byte not yet written
    size_t runStart = 0; // where a possible run begins
    bool inRun = false;
    for (size_t i = 0; i < n; ++i) {
        uint8_t c = src[i];
        if (inRun) {
            if (c == src[start] && i - start < 128) continue;
            run(src[start], i - start);
            start = runStart = i;
            inRun = false;
            continue;
        }
        if (i - start + 1 > 128) {
            literal(src + start, 128);
            start = runStart = i;
            continue;
        }
        if (i == start) continue;
        if (c != src[i - 1]) {
            runStart = i;
        } else if (i - runStart + 1 >= 3 || runStart == start) {
            literal(src + start, runStart - start);
            start = runStart;
            inRun = true;
        }
    }
    if (inRun)
        run(src[start], n - start);
    else
        literal(src + start, n - start);
}

} // namespace

extern "C" int qxSaveILBM(const char *fileName, const uint32_t *pixels, uint32_t width, uint32_t height)
{
    if (width > 0xFFFF || height > 0xFFFF) return ERR_MEM;
    qxFileHandle *f = qxOpen(fileName, 10, nullptr);
    if (!f) {
        qxSetErrorString(fileName);
        return ERR_WRITEFILE;
    }
    const size_t rowBytes = ((size_t(width) + 15) >> 4) * 2;
    std::vector<uint8_t> planes, packed;
    try {
        planes.resize(rowBytes * 24);
        packed.reserve(rowBytes * 2 + 2);
    } catch (const std::bad_alloc &) {
        qxClose(f);
        return ERR_MEM;
    }
    uint8_t head[48] = {'F', 'O', 'R', 'M', 0, 0, 0, 0, 'I', 'L', 'B', 'M', 'B', 'M', 'H', 'D', 0, 0, 0, 20};
    uint8_t *b = head + 20;
    putBE16(b, width);
    putBE16(b + 2, height);
    b[8] = 24;
    b[10] = 1;
    b[14] = 1, b[15] = 1;
    putBE16(b + 16, width);
    putBE16(b + 18, height);
    std::memcpy(head + 40, "BODY", 4);
    int err = writeAll(f, head, 48) ? 0 : ERR_WRITE;
    uint64_t bodyLength = 0;
    for (uint32_t y = 0; y < height && !err; ++y) {
        std::fill(planes.begin(), planes.end(), 0);
        const uint32_t *row = pixels + size_t(y) * width;
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t v = row[x];
            uint32_t rgb = (v >> 16 & 0xFF) | (v & 0xFF00) | (v & 0xFF) << 16; // plane p holds bit p of this
            uint8_t bit = uint8_t(0x80 >> (x & 7));
            for (int p = 0; p < 24; ++p)
                if (rgb >> p & 1) planes[p * rowBytes + x / 8] |= bit;
        }
        for (int p = 0; p < 24 && !err; ++p) {
            packRow(planes.data() + p * rowBytes, rowBytes, packed);
            if (!writeAll(f, packed.data(), int64_t(packed.size()))) err = ERR_WRITE;
            bodyLength += packed.size();
        }
    }
    if (!err) {
        uint8_t pad = 0, size[4];
        if (bodyLength & 1) err = writeAll(f, &pad, 1) ? 0 : ERR_WRITE;
        putBE32(size, uint32_t(bodyLength));
        if (!err && (!seekTo(f, 44) || !writeAll(f, size, 4))) err = ERR_WRITE;
        putBE32(size, uint32_t(bodyLength + (bodyLength & 1) + 40));
        if (!err && (!seekTo(f, 4) || !writeAll(f, size, 4))) err = ERR_WRITE;
    }
    if (!qxClose(f) && !err) err = ERR_WRITE;
    return err;
}
