// CDXL video: equal-sized chunks of header, 12-bit palette, bitplanes and
// 8-bit sound. The frame rate follows from the chunk size (the data rate of
// a single, double or quad speed CD drive).
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "objects/formats/qx_animformats.h"
#include "objects/formats/qx_picformats.h"
#include "objects/formats/qx_picio.h"
#include "platform/qx_memory.h"

using namespace qxpic;

struct qxCdxl {
    qxFileHandle *file = nullptr;
    uint32_t width = 0, height = 0, rowBytes = 0, planes = 0, frameCount = 0, current = 0;
    uint32_t chunkSize = 0, bitplaneBytes = 0, soundSize = 0, paddingBytes = 0, ham = 0;
    double fps = 0;
    uint32_t audioPending = 0;
    uint32_t paletteSize = 0, info = 0;
    std::vector<uint8_t> chunky;
    std::vector<uint32_t> pixels;
};

namespace {

struct Header {
    uint8_t type, info;
    uint32_t size, width, height, planes, paletteSize, soundSize;
};

Header parse(const uint8_t *h)
{
    return {h[0], h[1], be32(h + 2), be16(h + 14), be16(h + 16), h[19], be16(h + 20), be16(h + 22)};
}

uint64_t bitplaneBytes(const Header &h) { return uint64_t((h.width + 15) >> 4) * 2 * h.height * h.planes; }

} // namespace

extern "C" qxCdxl *qxCdxlOpen(const char *fileName, qxCdxlVideoInfo *info)
{
    qxFileHandle *f = qxOpen(fileName, 25, nullptr);
    if (!f) return nullptr;
    qxCdxl *d = new (std::nothrow) qxCdxl;
    if (!d) {
        qxClose(f);
        return nullptr;
    }
    d->file = f;
    auto fail = [&]() -> qxCdxl * {
        qxCdxlClose(d);
        return nullptr;
    };
    uint8_t raw[32];
    if (!readAll(f, raw, 32)) return fail();
    Header h = parse(raw);
    const int64_t fileSize = qxFileSize(f);
    // Everything of a chunk must lie inside it; sizes read from the file are
    // checked before anything divides by them or allocates from them.
    const uint64_t needed = 32 + uint64_t(h.paletteSize) + bitplaneBytes(h) + h.soundSize;
    if (h.type != 1 || h.planes < 1 || h.planes > 8 || h.width == 0 || h.height == 0 || h.paletteSize > 512 ||
        needed > h.size || int64_t(h.size) >= fileSize)
        return fail();
    if (uint64_t(h.width) * h.height > qxPictureLimit()) return fail();
    uint8_t second[4];
    if (!seekTo(f, int64_t(h.size) + 2) || !readAll(f, second, 4) || be32(second) != h.size || !seekTo(f, 0))
        return fail();
    d->width = h.width;
    d->height = h.height;
    d->rowBytes = ((h.width + 15) >> 4) * 2;
    d->planes = h.planes;
    d->chunkSize = h.size;
    d->frameCount = uint32_t(fileSize / h.size);
    d->bitplaneBytes = uint32_t(bitplaneBytes(h));
    d->soundSize = h.soundSize;
    d->paletteSize = h.paletteSize;
    d->paddingBytes = uint32_t(h.size - needed);
    d->info = h.info;
    d->ham = (h.info & 15) == 1;
    d->fps = h.size < 13001 ? 153600.0 / h.size : h.size < 40001 ? 307200.0 / h.size : 614400.0 / h.size;
    try {
        d->chunky.resize(size_t(h.width) * h.height);
        d->pixels.resize(size_t(h.width) * h.height);
    } catch (const std::bad_alloc &) {
        return fail();
    }
    if (info) {
        *info = {};
        info->width = d->width;
        info->height = d->height;
        info->durationMs = uint32_t(d->frameCount / d->fps * 1000);
        info->audioRate = uint32_t(d->soundSize * d->fps);
        info->hasAudio = d->soundSize != 0;
        info->one = 1;
        info->seekable = !qxIsStreamHandle(f);
    }
    return d;
}

extern "C" int qxCdxlReadPacket(qxCdxl *d, qxCdxlPacket *packet)
{
    *packet = {};
    packet->time = d->current / d->fps;
    if (d->audioPending) {
        uint8_t *data = static_cast<uint8_t *>(qxAlloc(d->soundSize, 0));
        if (!data) return -2;
        if (!readAll(d->file, data, d->soundSize) || !seekTo(d->file, qxSeek(d->file, 0, 0) + d->paddingBytes)) {
            qxFree(data);
            return -1;
        }
        d->audioPending = 0;
        ++d->current;
        *packet = {1, data, d->soundSize, packet->time};
        return 0;
    }
    uint8_t raw[32];
    if (!readAll(d->file, raw, 32)) return -1;
    Header h = parse(raw);
    // A chunk laid out differently from the first ends the stream.
    if (h.type != 1 || h.size != d->chunkSize || h.width != d->width || h.height != d->height ||
        h.planes != d->planes || h.paletteSize != d->paletteSize || h.soundSize != d->soundSize)
        return -1;
    const uint32_t size = 1024 + d->bitplaneBytes;
    uint8_t *data = static_cast<uint8_t *>(qxAlloc(size, 1));
    if (!data) return -2;
    uint8_t colours[512];
    if (!readAll(d->file, colours, d->paletteSize) || !readAll(d->file, data + 1024, d->bitplaneBytes)) {
        qxFree(data);
        return -1;
    }
    uint32_t *palette = reinterpret_cast<uint32_t *>(data);
    for (uint32_t i = 0; i < d->paletteSize / 2; ++i) {
        uint32_t c = be16(colours + 2 * i);
        palette[i] = ((c >> 8) & 15) * 17 << 16 | ((c >> 4) & 15) * 17 << 8 | (c & 15) * 17;
    }
    if (d->soundSize) {
        d->audioPending = 1;
    } else {
        if (!seekTo(d->file, qxSeek(d->file, 0, 0) + d->paddingBytes)) {
            qxFree(data);
            return -1;
        }
        ++d->current;
    }
    *packet = {0, data, size, packet->time};
    return 0;
}

extern "C" void qxCdxlFreePacket(qxCdxlPacket *packet)
{
    qxFree(packet->data);
    packet->data = nullptr;
}

extern "C" int qxCdxlDecodeVideo(qxCdxl *d, const qxCdxlPacket *packet, qxCdxlFrame *frame)
{
    if (packet->kind != 0 || packet->size != 1024 + d->bitplaneBytes) return -1;
    const uint32_t *palette = reinterpret_cast<const uint32_t *>(packet->data);
    const uint8_t *planes = packet->data + 1024;
    const size_t planeSize = size_t(d->rowBytes) * d->height;
    const uint32_t w = d->width;
    for (uint32_t y = 0; y < d->height; ++y) {
        uint8_t *codes = d->chunky.data() + size_t(y) * w;
        uint32_t *out = d->pixels.data() + size_t(y) * w;
        planesToChunky(planes + size_t(y) * d->rowBytes, planeSize, d->planes, w, codes);
        if (d->ham)
            hamRow(codes, w, palette, d->planes > 6 ? 8 : 6, out);
        else
            for (uint32_t x = 0; x < w; ++x) out[x] = palette[codes[x]];
        // The player takes the bytes 0, R, G, B in memory.
        for (uint32_t x = 0; x < w; ++x) out[x] = __builtin_bswap32(out[x]);
    }
    frame->pixels = d->pixels.data();
    frame->pitch = int32_t(w * 4);
    frame->time = packet->time;
    return 0;
}

extern "C" int qxCdxlDecodeAudio(qxCdxl *, const qxCdxlPacket *packet, int16_t *samples, uint32_t capacity,
                                 uint32_t *count)
{
    if (packet->kind != 1) return -1;
    uint32_t n = std::min(packet->size, capacity);
    for (uint32_t i = 0; i < n; ++i) samples[i] = int16_t(int8_t(packet->data[i]) * 256);
    *count = n;
    return 0;
}

extern "C" int qxCdxlSeek(qxCdxl *d, uint32_t milliseconds)
{
    uint64_t frame = uint64_t(double(milliseconds) * d->fps / 1000);
    frame = std::min<uint64_t>(frame, d->frameCount - 1);
    if (!seekTo(d->file, int64_t(frame * d->chunkSize))) return -1;
    d->current = uint32_t(frame);
    d->audioPending = 0;
    return 0;
}

extern "C" uint32_t qxCdxlFrameCount(qxCdxl *d) { return d->frameCount; }
extern "C" double qxCdxlFramesPerSecond(qxCdxl *d) { return d->fps; }
extern "C" const char *qxCdxlName(void) { return "CDXL"; }

extern "C" void qxCdxlClose(qxCdxl *d)
{
    if (!d) return;
    if (d->file) qxClose(d->file);
    delete d;
}
