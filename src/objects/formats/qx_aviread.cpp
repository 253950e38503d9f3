// AVI reader: uncompressed 24-bit and Motion-JPEG video streams, frames by
// number, read on in order and found through idx1 otherwise.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "objects/formats/qx_animformats.h"
#include "objects/formats/qx_picformats.h"
#include "objects/formats/qx_picio.h"
#include "platform/qx_memory.h"

using namespace qxpic;

namespace {

constexpr uint32_t kMaxStreams = 16;

struct IndexEntry {
    uint64_t offset;
    uint32_t size;
    uint32_t unused;
};

struct Stream {
    char type[4];
    char handler[4];
    std::vector<IndexEntry> index;
};

} // namespace

struct qxAvi {
    qxFileHandle *file = nullptr;
    uint32_t videoKind = 0; // 0 uncompressed, 1 Motion-JPEG
    uint32_t width = 0, height = 0, streamCount = 0;
    uint32_t channels = 0, samplesPerSecond = 0, blockAlign = 0, bitsPerSample = 0;
    uint32_t planes = 0, bitCount = 0, flags = 0;
    uint64_t movi = 0;
    uint32_t current = 0, totalFrames = 0;
    Stream streams[kMaxStreams] = {};
    int32_t videoStream = -1;
    bool topDown = false;
    std::vector<uint8_t> frame; // grows with the largest chunk
    int64_t fileSize = 0;
};

namespace {

int64_t tell(qxFileHandle *f) { return qxSeek(f, 0, 0); }

bool skip(qxAvi *a, uint32_t size)
{
    int64_t to = tell(a->file) + int64_t(size) + (size & 1);
    return to <= a->fileSize && seekTo(a->file, to);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool looksLikeChunkId(const uint8_t *id)
{
    return isDigit(char(id[0])) && isDigit(char(id[1])) &&
           (!std::memcmp(id + 2, "db", 2) || !std::memcmp(id + 2, "dc", 2) || !std::memcmp(id + 2, "wb", 2));
}

bool sameFourcc(const char *a, const char *b)
{
    for (int i = 0; i < 4; ++i)
        if (std::tolower(uint8_t(a[i])) != std::tolower(uint8_t(b[i]))) return false;
    return true;
}

// Entries grow with what the file holds, never with the counts it claims.
bool readIndex(qxAvi *a, uint32_t size)
{
    for (uint32_t n = 0; n < size / 16; ++n) {
        uint8_t e[16];
        if (!readAll(a->file, e, 16)) break;
        if (!std::memcmp(e, "rec ", 4)) continue;
        uint32_t stream = 0;
        int digits = 0;
        while (digits < 4 && isDigit(char(e[digits]))) stream = stream * 10 + uint32_t(e[digits++] - '0');
        const uint8_t *suffix = e + digits;
        bool goodSuffix = digits <= 2 && (!std::memcmp(suffix, "db", 2) || !std::memcmp(suffix, "dc", 2) ||
                                          !std::memcmp(suffix, "wb", 2));
        if (digits == 0 || !goodSuffix || stream >= a->streamCount) {
            for (auto &s : a->streams) s.index.clear();
            break;
        }
        // Streams with more chunks than video frames keep only as many entries.
        auto &index = a->streams[stream].index;
        try {
            if (index.size() < a->totalFrames) index.push_back({le32(e + 8), le32(e + 12), 0});
        } catch (const std::bad_alloc &) {
            return false;
        }
    }
    return true;
}

// Completes and decodes one Motion-JPEG chunk held in a->frame.
uint32_t *decodeMjpeg(qxAvi *a, uint32_t size)
{
    std::vector<uint8_t> &b = a->frame;
    if (size < 4 || b[0] != 0xFF || b[1] != 0xD8) return nullptr;
    if (size >= 10 && !std::memcmp(&b[6], "AVI1", 4)) std::memcpy(&b[6], "JFIF", 4);
    size_t at = 2;
    bool haveTables = false;
    while (at + 4 <= size && b[at] == 0xFF) {
        uint8_t marker = b[at + 1];
        if (marker == 0xDA) break;
        if (marker == 0xC4) haveTables = true;
        at += 2 + be16(&b[at + 2]);
    }
    uint32_t total = size;
    if (!haveTables && at + 2 <= size && b[at] == 0xFF && b[at + 1] == 0xDA) {
        b.insert(b.begin() + long(at), standardHuffmanSegment(), standardHuffmanSegment() + kStandardDhtSize);
        total += uint32_t(kStandardDhtSize);
    }
    uint32_t w = 0, h = 0, *pixels = nullptr;
    int err = qxLoadJPEG(b.data(), total, 0, 0, &w, &h, &pixels);
    if (err || !pixels) return nullptr;
    if (w != a->width || h != a->height) {
        qxFree(pixels);
        return nullptr;
    }
    return pixels;
}

uint32_t *decodeRaw(qxAvi *a, uint32_t size)
{
    const size_t packed = size_t(a->width) * 3, padded = (packed + 3) & ~size_t(3);
    size_t stride;
    if (size == packed * a->height)
        stride = packed;
    else if (size == padded * a->height)
        stride = padded; // rows padded to 4 bytes, as most writers store them
    else
        return nullptr;
    uint32_t *out = qxAllocPicture(a->width, a->height, 0);
    if (!out) return nullptr;
    for (uint32_t y = 0; y < a->height; ++y) {
        const uint8_t *src = a->frame.data() + size_t(a->topDown ? y : a->height - 1 - y) * stride;
        uint32_t *dst = out + size_t(y) * a->width;
        for (uint32_t x = 0; x < a->width; ++x, src += 3) dst[x] = uint32_t(src[2]) << 16 | src[1] << 8 | src[0];
    }
    return out;
}

} // namespace

extern "C" qxAvi *qxAviOpen(qxFileHandle *file, uint32_t *width, uint32_t *height, uint32_t *frameCount)
{
    qxAvi *a = new (std::nothrow) qxAvi;
    if (!a) {
        qxClose(file);
        return nullptr;
    }
    auto fail = [&]() -> qxAvi * {
        qxAviClose(a);
        return nullptr;
    };
    a->file = file;
    a->fileSize = qxFileSize(file);
    uint8_t head[12];
    if (!seekTo(file, 0) || !readAll(file, head, 12) || std::memcmp(head, "RIFF", 4) || std::memcmp(head + 8, "AVI ", 4))
        return fail();
    int32_t lastStream = -1;
    bool haveMovi = false;
    uint32_t moviSize = 0;
    for (;;) {
        uint8_t c[8];
        if (!readAll(file, c, 8)) break;
        uint32_t size = le32(c + 4);
        if (!std::memcmp(c, "LIST", 4)) {
            uint8_t type[4];
            if (size < 4 || !readAll(file, type, 4)) return fail();
            if (!std::memcmp(type, "movi", 4)) {
                haveMovi = true;
                moviSize = size;
                break;
            }
        } else if (!std::memcmp(c, "avih", 4)) {
            uint8_t h[56];
            if (size != 56 || !readAll(file, h, 56)) return fail();
            a->flags = le32(h + 12);
            a->totalFrames = le32(h + 16);
            a->streamCount = le32(h + 24);
            a->width = le32(h + 32);
            a->height = le32(h + 36);
            if (a->totalFrames == 0 || a->streamCount > kMaxStreams) return fail();
        } else if (!std::memcmp(c, "strh", 4)) {
            uint8_t h[8];
            // A stream past the sixteen the reader keeps fails the open.
            if ((size != 56 && size != 64) || lastStream + 1 >= int32_t(kMaxStreams) || !readAll(file, h, 8) ||
                !skip(a, size - 8))
                return fail();
            ++lastStream;
            std::memcpy(a->streams[lastStream].type, h, 4);
            std::memcpy(a->streams[lastStream].handler, h + 4, 4);
        } else if (!std::memcmp(c, "strf", 4)) {
            if (lastStream < 0) return fail();
            Stream &s = a->streams[lastStream];
            if (!std::memcmp(s.type, "auds", 4)) {
                uint8_t f[16];
                if (size < 16 || !readAll(file, f, 16) || !skip(a, size - 16) || le16(f) != 1) return fail();
                a->channels = le16(f + 2);
                a->samplesPerSecond = le32(f + 4);
                a->blockAlign = le16(f + 12);
                a->bitsPerSample = le16(f + 14);
            } else if (!std::memcmp(s.type, "vids", 4)) {
                uint8_t f[20];
                if (size < 20 || !readAll(file, f, 20) || !skip(a, size - 20)) return fail();
                // A negative height marks rows stored top first.
                int32_t h = int32_t(le32(f + 8));
                a->topDown = h < 0;
                if (int32_t(le32(f + 4)) != int32_t(a->width) || (h < 0 ? -int64_t(h) : h) != int64_t(a->height))
                    return fail();
                a->planes = le16(f + 12);
                a->bitCount = le16(f + 14);
                a->videoStream = lastStream;
            } else if (!skip(a, size)) {
                return fail();
            }
        } else if (!skip(a, size)) {
            return fail();
        }
    }
    if (!haveMovi || a->videoStream < 0 || a->videoStream >= int32_t(a->streamCount) || a->streamCount == 0 ||
        a->totalFrames == 0 || a->width == 0 || a->height == 0)
        return fail();
    if (uint64_t(a->width) * a->height > qxPictureLimit()) return fail();
    const char *handler = a->streams[a->videoStream].handler;
    static const char zero[4] = {0, 0, 0, 0};
    if (sameFourcc(handler, "dib ") || sameFourcc(handler, "raw ") || !std::memcmp(handler, zero, 4)) {
        if (a->bitCount != 24) return fail();
        a->videoKind = 0;
    } else if (sameFourcc(handler, "mjpg")) {
        a->videoKind = 1;
    } else {
        return fail();
    }
    a->movi = uint64_t(tell(file));
    int64_t afterMovi = int64_t(a->movi) + moviSize + (moviSize & 1) - 4;
    uint8_t idx[8];
    if (afterMovi + 8 <= a->fileSize && seekTo(file, afterMovi) && readAll(file, idx, 8) &&
        !std::memcmp(idx, "idx1", 4) && !readIndex(a, le32(idx + 4)))
        return fail();
    if (!seekTo(file, int64_t(a->movi))) return fail();
    *width = a->width;
    *height = a->height;
    *frameCount = a->totalFrames;
    return a;
}

extern "C" uint32_t *qxAviGetFrame(qxAvi *a, uint32_t k)
{
    if (!a || k >= a->totalFrames) return nullptr;
    qxFileHandle *f = a->file;
    if (k != a->current) {
        const auto &index = a->streams[a->videoStream].index;
        if (k < index.size()) {
            uint64_t offset = index[k].offset;
            uint8_t id[4];
            bool absolute = int64_t(offset) + 4 <= a->fileSize && seekTo(f, int64_t(offset)) && readAll(f, id, 4) &&
                            looksLikeChunkId(id);
            int64_t to = absolute ? int64_t(offset) : int64_t(a->movi + offset) - 4;
            if (to < 0 || !seekTo(f, to)) return nullptr;
            a->current = k;
        } else {
            seekTo(f, int64_t(a->movi));
            a->current = 0;
        }
    }
    char want[2][5];
    std::snprintf(want[0], 5, "%.2ddb", int(a->videoStream));
    std::snprintf(want[1], 5, "%.2ddc", int(a->videoStream));
    for (;;) {
        uint8_t c[8];
        if (!readAll(f, c, 8)) return nullptr;
        uint32_t size = le32(c + 4);
        if (!std::memcmp(c, "LIST", 4)) {
            uint8_t type[4];
            if (!readAll(f, type, 4)) return nullptr;
            continue;
        }
        if (std::memcmp(c, want[0], 4) && std::memcmp(c, want[1], 4)) {
            if (!skip(a, size)) return nullptr;
            continue;
        }
        if (a->current != k) {
            ++a->current;
            if (!skip(a, size)) return nullptr;
            continue;
        }
        if (size > a->fileSize - tell(f)) return nullptr;
        try {
            a->frame.resize(size);
        } catch (const std::bad_alloc &) {
            return nullptr;
        }
        if (!readAll(f, a->frame.data(), size)) return nullptr;
        if (size & 1) qxGetC(f);
        uint32_t *out = a->videoKind == 1 ? decodeMjpeg(a, size) : decodeRaw(a, size);
        if (++a->current == a->totalFrames) {
            seekTo(f, int64_t(a->movi));
            a->current = 0;
        }
        return out;
    }
}

extern "C" void qxAviClose(qxAvi *a)
{
    if (!a) return;
    if (a->file) qxClose(a->file);
    delete a;
}
