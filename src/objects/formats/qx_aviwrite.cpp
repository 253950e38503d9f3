// AVI writer: Motion-JPEG video with silent 16-bit stereo PCM, laid out as
// OpenDML so files stay playable past 1 GB: RIFF "AVIX" segments, standard
// indexes under super indexes, and an idx1 for the first segment built in a
// scratch file.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "objects/formats/qx_animformats.h"
#include "objects/formats/qx_picformats.h"
#include "objects/formats/qx_picio.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_files.h"
#include "platform/qx_memory.h"
#include "platform/qx_paths.h"
#include "platform/qx_sync.h"

using namespace qxpic;

namespace {

constexpr uint32_t kSuperEntries = 1022;
constexpr uint32_t kIndexEntries = 2044;
constexpr uint32_t kIndexChunk = 16384;
constexpr uint64_t kFirstLimit = 1000000000, kLaterLimit = 2000000000;
const char kSoftware[] = "Zephyrane by Tressalin";

struct SuperEntry {
    uint64_t offset;
    uint32_t size;
    uint32_t duration;
};

struct StdEntry {
    uint32_t offset;
    uint32_t size;
};

// One stream's standard index chunk being filled.
struct StdIndex {
    int64_t position = -1; // of its FOURCC; -1 before the first
    uint64_t base = 0;
    uint32_t startFrame = 0;
    std::vector<StdEntry> entries;
};

} // namespace

struct qxAviWriter {
    qxFileHandle *file = nullptr, *scratch = nullptr;
    uint32_t totalFrames = 0, segmentFrames = 0;
    uint32_t width = 0, height = 0, fps = 0, quality = 0, smooth = 0, flags = 0;
    uint64_t videoBytes = 0, segmentVideoBytes = 0;
    uint32_t largestChunk = 0;
    uint32_t usPerFrame = 0;
    qxJpegResult *jpeg = nullptr;
    uint32_t sampleRate = 0, blockAlign = 4, channels = 2, bitsPerSample = 16, samplesPerFrame = 0;
    uint64_t totalSamples = 0, segmentSamples = 0;
    std::vector<uint8_t> audio;
    std::string title, fileName;
    uint32_t superInUse = 0;
    SuperEntry superVideo[kSuperEntries] = {}, superAudio[kSuperEntries] = {};
    StdIndex stdAudio, stdVideo;
    uint32_t segmentIndexPairs = 0;
    qxTimeVal clock = {0, 0};
    uint64_t segmentStart = 0, movi = 0, segmentLimit = 0, laterLimit = 0;
    uint32_t idx1Active = 1;
    char scratchName[1024] = {};
    uint32_t titleRoom = 0; // header space for the title, fixed at opening
};

namespace {

void put32(std::vector<uint8_t> &b, uint32_t v)
{
    uint8_t x[4];
    putLE32(x, v);
    b.insert(b.end(), x, x + 4);
}
void put16(std::vector<uint8_t> &b, uint32_t v) { b.push_back(uint8_t(v)), b.push_back(uint8_t(v >> 8)); }
void put64(std::vector<uint8_t> &b, uint64_t v) { put32(b, uint32_t(v)), put32(b, uint32_t(v >> 32)); }
void fourcc(std::vector<uint8_t> &b, const char *id) { b.insert(b.end(), id, id + 4); }

int64_t tell(qxFileHandle *f) { return qxSeek(f, 0, 0); }

uint32_t padded(uint32_t n) { return n + (n & 1); }

void superIndex(std::vector<uint8_t> &b, const char *chunkId, uint32_t inUse, const SuperEntry *entries)
{
    fourcc(b, "indx");
    put32(b, 16376);
    put16(b, 4);
    b.push_back(0);
    b.push_back(0);
    put32(b, inUse);
    fourcc(b, chunkId);
    put32(b, 0), put32(b, 0), put32(b, 0);
    for (uint32_t i = 0; i < kSuperEntries; ++i) {
        put64(b, entries[i].offset);
        put32(b, entries[i].size);
        put32(b, entries[i].duration);
    }
}

// The whole "hdrl" list as it stands.
std::vector<uint8_t> headerList(const qxAviWriter *w, uint32_t frames)
{
    const uint32_t t = w->titleRoom, s = sizeof kSoftware;
    std::vector<uint8_t> b;
    b.reserve(34000);
    fourcc(b, "LIST");
    put32(b, padded(t) + padded(s) + 33272);
    fourcc(b, "hdrl");
    fourcc(b, "avih");
    put32(b, 56);
    put32(b, w->usPerFrame);
    // No frame yet: no rate, rather than a division by zero.
    put32(b, frames ? uint32_t(w->videoBytes / frames * 1000000 / w->usPerFrame) : 0);
    put32(b, 0);
    put32(b, 16);
    put32(b, frames);
    put32(b, 0);
    put32(b, 2);
    put32(b, 0);
    put32(b, w->width);
    put32(b, w->height);
    for (int i = 0; i < 4; ++i) put32(b, 0);

    fourcc(b, "LIST");
    put32(b, 16476);
    fourcc(b, "strl");
    fourcc(b, "strh");
    put32(b, 56);
    fourcc(b, "auds");
    put32(b, 0);
    put32(b, 0);
    put16(b, 0), put16(b, 0);
    put32(b, 0);
    put32(b, 4);
    put32(b, w->sampleRate * w->blockAlign);
    put32(b, 0);
    put32(b, uint32_t(w->totalSamples));
    put32(b, w->samplesPerFrame * w->blockAlign);
    put32(b, 0xFFFFFFFF);
    put32(b, w->blockAlign);
    put16(b, 0), put16(b, 0), put16(b, 0), put16(b, 0);
    fourcc(b, "strf");
    put32(b, 16);
    put16(b, 1);
    put16(b, w->channels);
    put32(b, w->sampleRate);
    put32(b, w->sampleRate * w->blockAlign);
    put16(b, w->blockAlign);
    put16(b, w->bitsPerSample);
    superIndex(b, "00wb", w->superInUse, w->superAudio);

    fourcc(b, "LIST");
    put32(b, 16500);
    fourcc(b, "strl");
    fourcc(b, "strh");
    put32(b, 56);
    fourcc(b, "vids");
    fourcc(b, "MJPG");
    put32(b, 0);
    put16(b, 0), put16(b, 0);
    put32(b, 0);
    put32(b, w->usPerFrame);
    put32(b, 1000000);
    put32(b, 0);
    put32(b, frames);
    put32(b, w->largestChunk);
    put32(b, 0);
    put32(b, 0);
    put16(b, 0), put16(b, 0), put16(b, w->width), put16(b, w->height);
    fourcc(b, "strf");
    put32(b, 40);
    put32(b, 40);
    put32(b, w->width);
    put32(b, w->height);
    put16(b, 1);
    put16(b, 24);
    fourcc(b, "MJPG");
    put32(b, w->width * w->height * 3);
    for (int i = 0; i < 4; ++i) put32(b, 0);
    superIndex(b, "01dc", w->superInUse, w->superVideo);

    fourcc(b, "LIST");
    put32(b, 16);
    fourcc(b, "odml");
    fourcc(b, "dmlh");
    put32(b, 4);
    put32(b, frames);

    fourcc(b, "LIST");
    put32(b, padded(t) + padded(s) + 180);
    fourcc(b, "INFO");
    fourcc(b, "INAM");
    put32(b, t);
    std::string title = w->title.substr(0, t - 1);
    title.resize(padded(t), '\0');
    b.insert(b.end(), title.begin(), title.end());
    fourcc(b, "ISFT");
    put32(b, s);
    b.insert(b.end(), kSoftware, kSoftware + s);
    if (s & 1) b.push_back(0);
    fourcc(b, "ICMT");
    put32(b, 152);
    char comment[152] = {};
    std::snprintf(comment, sizeof comment, "Written by %s, Motion-JPEG AVI writer 1.0, Linux x86-64", kSoftware);
    b.insert(b.end(), comment, comment + 152);
    return b;
}

bool writeAt(qxFileHandle *f, int64_t at, const void *data, int64_t n)
{
    return seekTo(f, at) && writeAll(f, data, n);
}

// A standard index chunk with its entries (or none, as a placeholder).
bool writeStdIndex(qxAviWriter *w, const char *id, const char *chunkId, const StdIndex &ix, bool empty)
{
    std::vector<uint8_t> b;
    b.reserve(kIndexChunk);
    fourcc(b, id);
    put32(b, kIndexChunk - 8);
    put16(b, 2);
    b.push_back(0);
    b.push_back(1);
    put32(b, empty ? 0 : uint32_t(ix.entries.size()));
    fourcc(b, chunkId);
    put64(b, ix.base);
    put32(b, 0);
    if (!empty)
        for (const StdEntry &e : ix.entries) put32(b, e.offset), put32(b, e.size);
    b.resize(kIndexChunk, 0);
    return writeAt(w->file, ix.position, b.data(), int64_t(b.size()));
}

// Rewrites both current standard indexes in place and closes their super
// index entries.
bool finishStdIndexes(qxAviWriter *w)
{
    if (w->stdAudio.position < 0) return true;
    const int64_t end = tell(w->file);
    uint32_t last = w->superInUse - 1;
    w->superAudio[last].duration = (w->totalFrames - w->stdAudio.startFrame) * w->samplesPerFrame;
    w->superVideo[last].duration = w->totalFrames - w->stdVideo.startFrame;
    bool ok = writeStdIndex(w, "ix00", "00wb", w->stdAudio, false) && writeStdIndex(w, "ix01", "01dc", w->stdVideo, false);
    return seekTo(w->file, end) && ok;
}

int startStdIndexes(qxAviWriter *w)
{
    if (!finishStdIndexes(w)) return ERR_WRITE;
    // The super indexes are full: refuse the frame rather than write past them.
    if (w->superInUse >= kSuperEntries) return ERR_INTERNAL;
    for (StdIndex *ix : {&w->stdAudio, &w->stdVideo}) {
        const bool audio = ix == &w->stdAudio;
        ix->position = tell(w->file);
        ix->base = w->segmentStart;
        ix->startFrame = w->totalFrames;
        ix->entries.clear();
        SuperEntry &e = (audio ? w->superAudio : w->superVideo)[w->superInUse];
        e = {uint64_t(ix->position), kIndexChunk, 0};
        if (!writeStdIndex(w, audio ? "ix00" : "ix01", audio ? "00wb" : "01dc", *ix, true)) return ERR_WRITE;
    }
    ++w->superInUse;
    ++w->segmentIndexPairs;
    return 0;
}

bool finishIdx1(qxAviWriter *w)
{
    w->idx1Active = 0;
    uint8_t size[4];
    putLE32(size, w->totalFrames * 32);
    bool ok = writeAt(w->scratch, 4, size, 4) && qxClose(w->scratch);
    w->scratch = nullptr;
    qxFileHandle *in = ok ? qxOpen(w->scratchName, 1, nullptr) : nullptr;
    if (!in) return false;
    std::vector<uint8_t> block(16384);
    for (;;) {
        int64_t n = qxRead(in, block.data(), int64_t(block.size()));
        if (n <= 0) break;
        if (!writeAll(w->file, block.data(), n)) ok = false;
    }
    qxClose(in);
    return ok;
}

bool finishSegment(qxAviWriter *w)
{
    const int64_t end = tell(w->file);
    uint8_t b[4];
    putLE32(b, uint32_t(end - int64_t(w->segmentStart) - 8));
    bool ok = writeAt(w->file, int64_t(w->segmentStart) + 4, b, 4);
    uint64_t movi = w->segmentVideoBytes + uint64_t(w->segmentFrames) * 16 + 4 +
                    uint64_t(w->segmentIndexPairs) * 2 * kIndexChunk + w->segmentSamples * w->blockAlign;
    putLE32(b, uint32_t(movi));
    ok = writeAt(w->file, int64_t(w->movi) + 4, b, 4) && ok;
    w->segmentFrames = 0;
    w->segmentVideoBytes = 0;
    w->segmentSamples = 0;
    w->segmentIndexPairs = 0;
    return seekTo(w->file, end) && ok;
}

} // namespace

extern "C" int qxAviWriterOpen(const char *fileName, uint32_t fps, uint32_t flags, uint32_t width, uint32_t height,
                               uint32_t quality, uint32_t smooth, const char *title, qxAviWriter **writerOut)
{
    return qxAviWriterOpenSegmented(fileName, fps, flags, width, height, quality, smooth, title, kFirstLimit,
                                    kLaterLimit, writerOut);
}

extern "C" int qxAviWriterOpenSegmented(const char *fileName, uint32_t fps, uint32_t flags, uint32_t width,
                                        uint32_t height, uint32_t quality, uint32_t smooth, const char *title,
                                        uint64_t firstLimit, uint64_t laterLimit, qxAviWriter **writerOut)
{
    *writerOut = nullptr;
    // Above 1,000,000 fps no microsecond count is left; above 44100 no audio rate.
    if (fps < 1 || width == 0 || height == 0 || width > 0xFFFF || height > 0xFFFF) return ERR_WRONGUSAGE;
    const uint32_t usPerFrame = 1000000 / fps;
    if (usPerFrame == 0 || 1000000 / usPerFrame > 44100) return ERR_WRONGUSAGE;
    qxAviWriter *w = new (std::nothrow) qxAviWriter;
    if (!w) return ERR_MEM;
    w->fps = fps, w->flags = flags, w->width = width, w->height = height, w->quality = quality, w->smooth = smooth;
    w->usPerFrame = usPerFrame;
    const uint32_t effective = 1000000 / usPerFrame;
    w->sampleRate = 44100 - 44100 % effective;
    w->samplesPerFrame = w->sampleRate / effective;
    try {
        w->audio.assign(size_t(w->samplesPerFrame) * w->blockAlign, 0);
        w->title = title ? std::string(title).substr(0, 1023) : std::string();
        w->fileName = std::string(fileName).substr(0, 1023);
    } catch (const std::bad_alloc &) {
        delete w;
        return ERR_MEM;
    }
    w->titleRoom = uint32_t(w->title.size()) + 1;
    w->file = qxOpen(fileName, 10, nullptr);
    if (!w->file || !qxTempFileName(w->scratchName, sizeof w->scratchName) ||
        !(w->scratch = qxOpen(w->scratchName, 2, nullptr))) {
        qxAviWriterFree(w);
        qxSetErrorString(fileName);
        return ERR_WRITEFILE;
    }
    std::vector<uint8_t> head;
    fourcc(head, "RIFF");
    put32(head, 0);
    fourcc(head, "AVI ");
    std::vector<uint8_t> list = headerList(w, 1);
    head.insert(head.end(), list.begin(), list.end());
    w->movi = head.size();
    fourcc(head, "LIST");
    put32(head, 0);
    fourcc(head, "movi");
    uint8_t idx1[8] = {'i', 'd', 'x', '1', 0, 0, 0, 0};
    if (!writeAll(w->file, head.data(), int64_t(head.size())) || !writeAll(w->scratch, idx1, 8)) {
        qxAviWriterFree(w);
        return ERR_WRITE;
    }
    w->segmentStart = 0;
    w->segmentLimit = firstLimit;
    w->laterLimit = laterLimit;
    *writerOut = w;
    return 0;
}

extern "C" int qxAviWriteFrame(qxAviWriter *w, const uint32_t *pixels, int32_t pitch, uint32_t byteOrder)
{
    if (!w) return ERR_WRONGUSAGE;
    if (!pixels && !w->jpeg) return ERR_WRONGUSAGE;
    qxFileHandle *f = w->file;
    int64_t here = tell(f);
    if (here < 0) return ERR_WRITE;
    if (uint64_t(here) - w->segmentStart > w->segmentLimit) {
        if (w->idx1Active && !finishIdx1(w)) return ERR_WRITE;
        if (!finishStdIndexes(w) || !finishSegment(w)) return ERR_WRITE;
        // Index chunks of the closed segment are complete; the next frame starts new ones.
        w->stdAudio.position = w->stdVideo.position = -1;
        w->segmentStart = uint64_t(tell(f));
        w->movi = w->segmentStart + 12;
        std::vector<uint8_t> b;
        fourcc(b, "RIFF"), put32(b, 0), fourcc(b, "AVIX"), fourcc(b, "LIST"), put32(b, 0), fourcc(b, "movi");
        if (!writeAll(f, b.data(), int64_t(b.size()))) return ERR_WRITE;
        w->segmentLimit = w->laterLimit;
    }
    if (pixels) {
        // Encode first: a frame that cannot be encoded leaves the file as it was.
        qxJpegSaveRequest r{};
        r.pixels = pixels;
        r.pitch = pitch;
        r.width = w->width;
        r.height = w->height;
        r.quality = int32_t(w->quality);
        r.byteOrder = byteOrder;
        qxSaveJPEG(&r);
        if (r.error || !r.result) return r.error ? int(r.error) : int(ERR_MEM);
        if (w->jpeg) qxFree(w->jpeg->data);
        qxFree(w->jpeg);
        w->jpeg = r.result;
        if (w->jpeg->size >= 10) std::memcpy(w->jpeg->data + 6, "AVI1", 4);
    }
    if (w->segmentFrames == 0 || w->stdAudio.entries.size() >= kIndexEntries) {
        if (int err = startStdIndexes(w)) return err;
    }
    const uint32_t audioSize = uint32_t(w->audio.size()), videoSize = w->jpeg->size;
    uint8_t h[8];
    const int64_t audioAt = tell(f);
    std::memcpy(h, "00wb", 4);
    putLE32(h + 4, audioSize);
    if (!writeAll(f, h, 8) || !writeAll(f, w->audio.data(), audioSize)) return ERR_WRITE;
    if (audioSize & 1 && qxPutC(f, 0) != 1) return ERR_WRITE;
    const int64_t videoAt = tell(f);
    std::memcpy(h, "01dc", 4);
    putLE32(h + 4, videoSize);
    if (!writeAll(f, h, 8) || !writeAll(f, w->jpeg->data, videoSize)) return ERR_WRITE;
    if ((videoSize & 1) && qxPutC(f, 0) != 1) return ERR_WRITE;
    try {
        w->stdAudio.entries.push_back({uint32_t(audioAt + 8 - int64_t(w->segmentStart)), audioSize});
        w->stdVideo.entries.push_back({uint32_t(videoAt + 8 - int64_t(w->segmentStart)), videoSize});
    } catch (const std::bad_alloc &) {
        return ERR_MEM;
    }
    w->largestChunk = std::max(w->largestChunk, videoSize);
    if (w->idx1Active) {
        uint8_t e[32];
        std::memcpy(e, "00wb", 4);
        putLE32(e + 4, 16);
        putLE32(e + 8, uint32_t(audioAt));
        putLE32(e + 12, audioSize);
        std::memcpy(e + 16, "01dc", 4);
        putLE32(e + 20, 16);
        putLE32(e + 24, uint32_t(videoAt));
        putLE32(e + 28, videoSize);
        if (!writeAll(w->scratch, e, 32)) return ERR_WRITE;
    }
    ++w->totalFrames;
    ++w->segmentFrames;
    w->videoBytes += padded(videoSize);
    w->segmentVideoBytes += padded(videoSize);
    qxTimeVal step = {w->fps == 1 ? 1u : 0u, w->fps == 1 ? 0u : w->usPerFrame};
    qxAddTime(&w->clock, &step);
    w->totalSamples += w->samplesPerFrame;
    w->segmentSamples += w->samplesPerFrame;
    return 0;
}

extern "C" int qxAviWriterClose(qxAviWriter *w)
{
    if (!w) return ERR_WRONGUSAGE;
    bool ok = finishStdIndexes(w);
    if (w->idx1Active) ok = finishIdx1(w) && ok;
    ok = finishSegment(w) && ok;
    std::vector<uint8_t> list = headerList(w, w->totalFrames);
    ok = writeAt(w->file, 12, list.data(), int64_t(list.size())) && ok;
    int closed = qxClose(w->file);
    w->file = nullptr;
    qxAviWriterFree(w);
    return ok && closed ? 0 : ERR_WRITE;
}

extern "C" void qxAviWriterFree(qxAviWriter *w)
{
    if (!w) return;
    if (w->file) qxClose(w->file);
    if (w->scratch) qxClose(w->scratch);
    if (w->scratchName[0]) qxDeleteFile(w->scratchName);
    if (w->jpeg) qxFree(w->jpeg->data);
    qxFree(w->jpeg);
    delete w;
}
