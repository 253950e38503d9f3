// GIF reader: every frame composed onto a canvas of the logical screen,
// with an index of frames so any frame can be fetched without decoding from
// the start. The LZW decoder is our own.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "objects/formats/qx_picformats.h"
#include "objects/formats/qx_picio.h"
#include "platform/qx_memory.h"

using namespace qxpic;

namespace {

struct FrameEntry {
    uint32_t delay;
    uint8_t full;
    uint32_t position;
};

constexpr uint32_t kNone = 0xFFFFFFFF;

} // namespace

struct qxGifReader {
    qxFileHandle *file;
    uint32_t width, height;
    uint32_t global[256];
    uint32_t local[256];
    uint32_t *palette;
    uint32_t *canvas;
    uint32_t *backup;
    uint32_t background;
    int32_t current; // the frame a sequential decode produces next
    uint32_t frameCount;
    uint32_t dataStart;
    FrameEntry *index;
    uint32_t capacity;
    uint32_t lastDisposal;
    int32_t lastX, lastY, lastW, lastH;
    uint32_t lastTransparent;
    uint32_t transparency;
    uint32_t wantTransparency;
    uint32_t pictureMode;
    bool pendingDispose; // the last frame's disposal waits for the next frame
    int32_t canvasFrame; // frame the canvas holds undisposed after opening, or -1
    std::vector<uint8_t> *codes;  // LZW data of the frame being decoded
    std::vector<uint8_t> *indices; // its decoded palette indices
};

namespace {

bool readPalette(qxFileHandle *f, uint32_t *palette, uint8_t packed)
{
    uint32_t n = 2u << (packed & 7);
    uint8_t raw[768];
    if (!readAll(f, raw, n * 3)) return false;
    std::fill(palette, palette + 256, 0);
    for (uint32_t i = 0; i < n; ++i) palette[i] = uint32_t(raw[3 * i]) << 16 | raw[3 * i + 1] << 8 | raw[3 * i + 2];
    return true;
}

// Reads sub-blocks up to the 0 block (or the end of the file) into out.
void readSubBlocks(qxFileHandle *f, std::vector<uint8_t> *out)
{
    if (out) out->clear();
    uint8_t block[256];
    for (;;) {
        int size = qxGetC(f);
        if (size <= 0) return;
        int64_t got = qxRead(f, block, size);
        if (got > 0 && out) out->insert(out->end(), block, block + got);
        if (got != size) return;
    }
}

void startCanvas(qxGifReader *r)
{
    uint32_t fill = (r->pictureMode && r->wantTransparency) ? 0 : r->global[r->background & 255];
    std::fill(r->canvas, r->canvas + size_t(r->width) * r->height, fill);
}

// LZW codes into count palette indices. Fails on an invalid code or when
// the data ends before every pixel is drawn.
bool decodeLzw(const std::vector<uint8_t> &data, int minimum, uint8_t *out, size_t count)
{
    // On the stack: thread_local tables were zeroed for every thread.
    uint16_t prefix[4096] = {}, length[4096] = {};
    uint8_t suffix[4096] = {}, first[4096] = {};
    const uint32_t clear = 1u << minimum, end = clear + 1;
    for (uint32_t i = 0; i < clear; ++i) suffix[i] = first[i] = uint8_t(i), length[i] = 1;
    uint32_t size = minimum + 1, next = clear + 2, previous = kNone;
    uint64_t bits = 0;
    uint32_t held = 0;
    size_t pos = 0, done = 0;
    while (done < count) {
        while (held < size && pos < data.size()) {
            bits |= uint64_t(data[pos++]) << held;
            held += 8;
        }
        if (held < size) return false;
        uint32_t code = uint32_t(bits) & ((1u << size) - 1);
        bits >>= size;
        held -= size;
        if (code == clear) {
            size = minimum + 1;
            next = clear + 2;
            previous = kNone;
            continue;
        }
        if (code == end) break;
        if (previous == kNone) {
            if (code >= clear) return false;
            out[done++] = uint8_t(code);
            previous = code;
            continue;
        }
        if (code > next) return false;
        uint32_t source = code == next ? previous : code;
        uint32_t len = length[source];
        uint8_t head = first[source];
        size_t room = count - done;
        // Write the string backwards from its end, cut at the frame's end.
        uint32_t total = len + (code == next ? 1 : 0);
        uint32_t walk = source;
        if (code == next) {
            if (total - 1 < room) out[done + total - 1] = head;
        }
        for (uint32_t i = len; i-- > 0;) {
            if (i < room) out[done + i] = suffix[walk];
            walk = prefix[walk];
        }
        done += std::min<size_t>(total, room);
        if (next < 4096) {
            prefix[next] = uint16_t(previous);
            suffix[next] = head;
            first[next] = first[previous];
            length[next] = uint16_t(length[previous] + 1);
            ++next;
            if (next == (1u << size) && size < 12) ++size;
        }
        previous = code;
    }
    return done == count;
}

void dispose(qxGifReader *r)
{
    int32_t x0 = std::max(r->lastX, 0), y0 = std::max(r->lastY, 0);
    int32_t x1 = std::min<int64_t>(int64_t(r->lastX) + r->lastW, r->width);
    int32_t y1 = std::min<int64_t>(int64_t(r->lastY) + r->lastH, r->height);
    if (x0 >= x1 || y0 >= y1) return;
    if (r->lastDisposal == 2) {
        uint32_t which = r->lastTransparent != kNone ? r->lastTransparent : r->background;
        uint32_t fill = r->palette[which & 255];
        for (int32_t y = y0; y < y1; ++y) std::fill(r->canvas + size_t(y) * r->width + x0, r->canvas + size_t(y) * r->width + x1, fill);
    } else if (r->lastDisposal == 3) {
        for (int32_t y = y0; y < y1; ++y)
            std::copy(r->backup + size_t(y) * r->width + x0, r->backup + size_t(y) * r->width + x1, r->canvas + size_t(y) * r->width + x0);
    }
}

bool appendEntry(qxGifReader *r, const FrameEntry &e)
{
    if (r->frameCount == r->capacity) {
        uint64_t grown = uint64_t(r->capacity) + 4096;
        if (grown > qxPictureLimit()) return false;
        auto *bigger = static_cast<FrameEntry *>(qxAlloc(size_t(grown) * sizeof(FrameEntry), 0));
        if (!bigger) return false;
        std::memcpy(bigger, r->index, r->capacity * sizeof(FrameEntry));
        qxFree(r->index);
        r->index = bigger;
        r->capacity = uint32_t(grown);
    }
    r->index[r->frameCount++] = e;
    return true;
}

// Draws one frame's indices into the canvas, clipped to it.
void drawFrame(qxGifReader *r, const uint8_t *idx, int32_t fx, int32_t fy, uint32_t fw, uint32_t fh, bool interlace,
               uint32_t transparent)
{
    static const uint32_t starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
    uint32_t row = 0;
    for (int pass = 0; pass < (interlace ? 4 : 1); ++pass) {
        uint32_t start = interlace ? starts[pass] : 0, step = interlace ? steps[pass] : 1;
        for (uint32_t y = start; y < fh; y += step, ++row) {
            int64_t cy = int64_t(fy) + y;
            if (cy < 0 || cy >= r->height) continue;
            const uint8_t *src = idx + size_t(row) * fw;
            uint32_t *dst = r->canvas + size_t(cy) * r->width;
            int64_t xs = std::max<int64_t>(0, -int64_t(fx)), xe = std::min<int64_t>(fw, int64_t(r->width) - fx);
            const uint32_t *pal = r->palette;
            for (int64_t x = xs; x < xe; ++x) {
                uint8_t v = src[x];
                if (v != transparent) dst[fx + x] = pal[v] | 0xFF000000u;
            }
        }
    }
}

// Decodes from the current file position until frame target is done (-1:
// to the end, building the index). False on any error.
bool decode(qxGifReader *r, int32_t target, bool *reached)
{
    qxFileHandle *f = r->file;
    uint32_t delay = 0, disposal = 0, transparent = kNone, seen = 0;
    int64_t frameStart = qxSeek(f, 0, 0);
    *reached = false;
    for (;;) {
        int b = qxGetC(f);
        if (b < 0 || b == 0x3B) break;
        if (b == 0x21) {
            int label = qxGetC(f);
            if (label < 0) return false;
            if (label == 0xF9) {
                std::vector<uint8_t> data, last;
                for (;;) {
                    int size = qxGetC(f);
                    if (size < 0) return false;
                    if (size == 0) break;
                    last.assign(size_t(size), 0);
                    if (!readAll(f, last.data(), size)) return false;
                }
                last.resize(std::max<size_t>(last.size(), 4), 0);
                delay = le16(&last[1]);
                disposal = last[0] >> 2;
                transparent = (last[0] & 1) ? last[3] : kNone;
            } else {
                readSubBlocks(f, nullptr);
            }
            continue;
        }
        if (b != 0x2C) break;
        uint8_t d[9];
        if (!readAll(f, d, 9)) return false;
        int32_t fx = le16(d), fy = le16(d + 2);
        uint32_t fw = le16(d + 4), fh = le16(d + 6);
        uint8_t packed = d[8];
        int32_t number = r->current;
        if (r->pendingDispose) {
            dispose(r);
            r->palette = r->global;
            r->pendingDispose = false;
        }
        if (target == -1) {
            bool full = fx == 0 && fy == 0 && fw == r->width && fh == r->height && disposal != 3 && transparent == kNone;
            if (!appendEntry(r, {delay, uint8_t(full), uint32_t(frameStart)})) return false;
        }
        if (packed & 0x80) {
            if (!readPalette(f, r->local, packed)) return false;
            r->palette = r->local;
        }
        r->lastDisposal = disposal;
        r->lastX = fx, r->lastY = fy, r->lastW = int32_t(fw), r->lastH = int32_t(fh);
        r->lastTransparent = transparent;
        if (number == 0 && transparent != kNone && disposal == 2) {
            std::fill(r->canvas, r->canvas + size_t(r->width) * r->height, r->palette[transparent]);
        } else if (disposal == 3) {
            int32_t x1 = std::min<int64_t>(int64_t(fx) + fw, r->width), y1 = std::min<int64_t>(int64_t(fy) + fh, r->height);
            for (int32_t y = fy; y < y1; ++y)
                if (fx < x1)
                    std::copy(r->canvas + size_t(y) * r->width + fx, r->canvas + size_t(y) * r->width + x1,
                              r->backup + size_t(y) * r->width + fx);
        }
        int minimum = qxGetC(f);
        if (minimum < 0 || minimum > 8) return false;
        if (minimum < 1) minimum = 1; // a clear code of 1 would collide with pixel value 1
        readSubBlocks(f, r->codes);
        uint64_t count = uint64_t(fw) * fh;
        if (count > qxPictureLimit()) return false;
        if (count) {
            try {
                if (r->indices->size() < count) r->indices->resize(size_t(count));
            } catch (const std::bad_alloc &) {
                return false;
            }
            if (!decodeLzw(*r->codes, minimum, r->indices->data(), size_t(count))) return false;
            drawFrame(r, r->indices->data(), fx, fy, fw, fh, (packed & 0x40) != 0, transparent);
        }
        seen = transparent != kNone;
        r->current = number + 1;
        if (number == target) {
            *reached = true;
            break;
        }
        // Disposed when the next frame begins: after the last one the canvas
        // still shows it, which spares a second decode of one-frame files.
        r->pendingDispose = true;
        frameStart = qxSeek(f, 0, 0);
        delay = 0, disposal = 0, transparent = kNone;
    }
    r->transparency = seen && r->wantTransparency;
    return true;
}

} // namespace

extern "C" {

void qxGifClose(qxGifReader *r)
{
    if (!r) return;
    qxFree(r->index);
    qxFree(r->canvas);
    qxFree(r->backup);
    delete r->codes;
    delete r->indices;
    qxClose(r->file);
    qxFree(r);
}

qxGifReader *qxGifOpen(qxFileHandle *file, uint32_t *width, uint32_t *height, uint32_t *frameCount, int headerOnly,
                       int pictureMode, int wantTransparency)
{
    uint8_t h[13];
    if (!readAll(file, h, 13) || (std::memcmp(h, "GIF87", 5) != 0 && std::memcmp(h, "GIF89", 5) != 0)) {
        qxClose(file);
        return nullptr;
    }
    *width = le16(h + 6);
    *height = le16(h + 8);
    if (headerOnly) {
        qxClose(file);
        return nullptr;
    }
    auto *r = static_cast<qxGifReader *>(qxAlloc(sizeof(qxGifReader), 1));
    if (!r) {
        qxClose(file);
        return nullptr;
    }
    r->file = file;
    r->width = *width;
    r->height = *height;
    r->background = h[11];
    r->pictureMode = pictureMode;
    r->wantTransparency = wantTransparency;
    r->palette = r->global;
    r->current = -1;
    r->canvasFrame = -1;
    r->lastTransparent = kNone;
    r->codes = new (std::nothrow) std::vector<uint8_t>;
    r->indices = new (std::nothrow) std::vector<uint8_t>;
    r->index = static_cast<FrameEntry *>(qxAlloc(4096 * sizeof(FrameEntry), 0));
    r->capacity = 4096;
    r->canvas = qxAllocPicture(r->width, r->height, 0);
    r->backup = qxAllocPicture(r->width, r->height, 1);
    bool ok = r->codes && r->indices && r->index && r->canvas && r->backup;
    if (ok && (h[10] & 0x80)) ok = readPalette(file, r->global, h[10]);
    bool reached = false;
    if (ok) {
        startCanvas(r);
        r->dataStart = uint32_t(qxSeek(file, 0, 0));
        r->current = 0;
        ok = decode(r, -1, &reached) && r->frameCount > 0;
    }
    if (!ok) {
        qxGifClose(r);
        return nullptr;
    }
    r->current = -1;
    r->canvasFrame = r->frameCount == 1 && r->pendingDispose ? 0 : -1;
    if (frameCount) *frameCount = r->frameCount;
    return r;
}

uint32_t *qxGifGetFrame(qxGifReader *r, int32_t frame, uint32_t *transparency)
{
    if (!r || frame < 0 || uint32_t(frame) >= r->frameCount) return nullptr;
    bool reached = frame == r->canvasFrame;
    r->canvasFrame = -1;
    if (!reached && r->current != frame) {
        r->pendingDispose = false;
        int32_t from = frame;
        while (from >= 0 && !r->index[from].full) --from;
        if (from < 0) {
            startCanvas(r);
            seekTo(r->file, r->dataStart);
            from = 0;
        } else {
            seekTo(r->file, r->index[from].position);
        }
        r->palette = r->global;
        r->current = from;
    }
    if (!reached && (!decode(r, frame, &reached) || !reached)) {
        r->current = -1; // the canvas is no longer a known frame
        return nullptr;
    }
    uint32_t *copy = qxAllocPicture(r->width, r->height, 0);
    if (!copy) {
        r->current = -1;
        return nullptr;
    }
    std::memcpy(copy, r->canvas, size_t(r->width) * r->height * 4);
    dispose(r);
    r->palette = r->global;
    r->pendingDispose = false;
    r->current = frame + 1;
    if (transparency) *transparency = r->transparency;
    return copy;
}

uint32_t qxGifFrameDelay(qxGifReader *r, int32_t frame)
{
    if (!r || frame < 0 || uint32_t(frame) >= r->frameCount) return 0;
    return r->index[frame].delay * 10;
}
}
