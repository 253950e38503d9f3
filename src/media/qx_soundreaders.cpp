// The inbuilt readers of IFF 8SVX, IFF 16SV and RIFF WAVE files. Every size
// read from a file is bounded by what the file holds.
#include <algorithm>
#include <cstring>

#include "media/qx_sound.h"
#include "platform/qx_memory.h"

namespace {

bool readAt(qxFileHandle *h, int64_t pos, void *out, int64_t n)
{
    return qxSeek(h, pos, 1) >= 0 && qxRead(h, out, n) == n;
}

uint32_t be32(const uint8_t *p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint32_t le32(const uint8_t *p) { return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]; }
uint16_t le16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }

bool printableId(const uint8_t *id)
{
    for (int i = 0; i < 4; i++)
        if (id[i] < 0x20 || id[i] > 0x7E) return false;
    return true;
}

// Reads the chunk header at *pos into id and size. After an odd-sized chunk
// a pad byte is skipped only when the id without it is not four printable
// characters while the one behind it is: some writers leave the pad out.
bool nextChunk(qxFileHandle *h, int64_t *pos, bool padded, uint8_t id[4], uint32_t *size, bool bigEndian)
{
    uint8_t head[8];
    if (!readAt(h, *pos, head, 8)) {
        if (!padded || !readAt(h, *pos + 1, head, 8)) return false;
        *pos += 1;
    } else if (padded && !printableId(head)) {
        uint8_t after[8];
        if (readAt(h, *pos + 1, after, 8) && printableId(after)) {
            std::memcpy(head, after, 8);
            *pos += 1;
        }
    }
    std::memcpy(id, head, 4);
    *size = bigEndian ? be32(head + 4) : le32(head + 4);
    *pos += 8;
    return true;
}

// The bytes of a chunk of the given size at pos that the file really holds.
uint32_t heldBytes(const qxSoundStream *s, int64_t pos, uint32_t size)
{
    if (s->fileSize < 0) return size;
    int64_t avail = std::max<int64_t>(0, s->fileSize - pos);
    return uint32_t(std::min<int64_t>(size, avail));
}

bool growScratch(qxSoundStream *s, uint32_t bytes)
{
    if (bytes <= s->scratchSize) return true;
    auto *p = static_cast<uint8_t *>(qxAlloc(bytes, 0));
    if (!p) return false;
    qxFree(s->scratch);
    s->scratch = p;
    s->scratchSize = bytes;
    return true;
}

} // namespace

extern "C" {

int qxReadIFFHeader(qxSoundStream *s)
{
    qxFileHandle *h = s->handle;
    uint8_t vhdr[24];
    if (!readAt(h, 16, vhdr, 24) || be32(vhdr) != 20) return 0;
    uint32_t rate = uint32_t(vhdr[16] << 8 | vhdr[17]);
    if (vhdr[19] != 0 || rate == 0) return 0;
    bool sixteen = s->kind == QX_STREAM_16SV, stereo = false;
    int64_t pos = 40;
    bool padded = false;
    uint8_t id[4];
    uint32_t size;
    for (;;) {
        if (!nextChunk(h, &pos, padded, id, &size, true)) return 0;
        if (!std::memcmp(id, "BODY", 4)) break;
        if (!std::memcmp(id, "CHAN", 4)) {
            uint8_t word[4];
            if (size < 4 || !readAt(h, pos, word, 4)) return 0;
            stereo = be32(word) == 6;
        }
        pos += size;
        padded = size & 1;
    }
    uint32_t sampleBytes = sixteen ? 2 : 1, channels = stereo ? 2 : 1;
    s->bits = sixteen ? 16 : 8;
    s->channels = channels;
    s->bytesPerFrame = sampleBytes * channels;
    s->flags = sixteen ? QX_SOUND_BIGENDIAN | QX_SOUND_SIGNED : 0;
    s->frequency = rate;
    s->dataStart = pos;
    // Planar: the right plane starts after the declared left one; the frames
    // held are those whose every plane is in the file.
    uint32_t declared = size / sampleBytes / channels;
    uint64_t plane = uint64_t(declared) * sampleBytes;
    uint32_t held = heldBytes(s, pos, size);
    uint64_t lastPlane = held > plane * (channels - 1) ? held - plane * (channels - 1) : 0;
    uint32_t frames = uint32_t(std::min<uint64_t>(declared, lastPlane / sampleBytes));
    s->planeBytes = uint32_t(plane);
    s->totalFrames = s->length = frames;
    s->totalBytes = frames * s->bytesPerFrame;
    s->frameBytes = s->bytesPerFrame;
    s->unit = 1;
    return 1;
}

int qxReadRIFFHeader(qxSoundStream *s)
{
    qxFileHandle *h = s->handle;
    int64_t pos = 12;
    bool padded = false;
    uint8_t id[4];
    uint32_t size;
    for (;;) {
        if (!nextChunk(h, &pos, padded, id, &size, false)) return 0;
        if (!std::memcmp(id, "fmt ", 4)) {
            uint8_t f[16];
            if ((size != 16 && size != 18 && size != 40) || !readAt(h, pos, f, 16)) return 0;
            uint16_t bits = le16(f + 14);
            if (le16(f) != 1 || (bits != 8 && bits != 16) || le32(f + 4) == 0) return 0;
            s->channels = le16(f + 2) == 2 ? 2 : 1;
            s->frequency = le32(f + 4);
            s->bits = bits;
        } else if (!std::memcmp(id, "data", 4)) {
            if (!s->frequency) return 0;
            break;
        }
        pos += size;
        padded = size & 1;
    }
    s->flags = s->bits == 16 ? QX_SOUND_SIGNED : 0;
    s->bytesPerFrame = s->bits * s->channels / 8;
    s->dataStart = pos;
    s->totalFrames = s->length = heldBytes(s, pos, size) / s->bytesPerFrame;
    s->totalBytes = s->totalFrames * s->bytesPerFrame;
    s->frameBytes = s->bytesPerFrame;
    s->unit = 1;
    return 1;
}

// Delivers up to frames frames from the current position as interleaved
// data; a read that comes up short ends the stream where the data ends.
uint32_t qxStreamSamples(qxSoundStream *s, uint8_t *buffer, uint32_t frames, int *end)
{
    uint32_t left = s->position < s->totalFrames ? s->totalFrames - s->position : 0;
    uint32_t n = std::min(frames, left);
    *end = n < frames;
    if (!n) return 0;
    qxFileHandle *h = s->handle;
    uint32_t sampleBytes = s->bits / 8;
    int64_t start = s->dataStart + int64_t(s->position) * (s->kind == QX_STREAM_WAVE ? s->bytesPerFrame : sampleBytes);
    uint32_t got = 0;
    if (s->kind == QX_STREAM_WAVE || s->channels == 1) {
        int64_t r = qxSeek(h, start, 1) < 0 ? -1 : qxRead(h, buffer, int64_t(n) * s->bytesPerFrame);
        got = r > 0 ? uint32_t(r / s->bytesPerFrame) : 0;
        if (s->kind == QX_STREAM_8SVX)
            for (uint32_t i = 0; i < got; i++) buffer[i] ^= 0x80;
    } else {
        uint32_t planeRead = n * sampleBytes;
        if (!growScratch(s, planeRead)) {
            *end = 1;
            return 0;
        }
        got = n;
        for (uint32_t side = 0; side < 2; side++) {
            int64_t r = qxSeek(h, start + int64_t(side) * s->planeBytes, 1) < 0
                            ? -1 : qxRead(h, s->scratch, planeRead);
            got = std::min(got, r > 0 ? uint32_t(r / sampleBytes) : 0u);
            if (sampleBytes == 1) {
                for (uint32_t i = 0; i < got; i++) buffer[2 * i + side] = s->scratch[i] ^ 0x80;
            } else {
                for (uint32_t i = 0; i < got; i++)
                    std::memcpy(buffer + 4 * i + 2 * side, s->scratch + 2 * i, 2);
            }
        }
    }
    if (got < n) {
        // The file is shorter than its header said: stop here for good.
        *end = 1;
        s->totalFrames = s->length = s->position + got;
    }
    return got;
}

} // extern "C"
