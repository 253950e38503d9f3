// IFF ANIM reader: the first frame is an ILBM picture, each later FORM a
// DLTA of bitplane changes (modes 5, 7, 8, 100, 101) applied to one of two
// plane buffers. Frames are decoded in order; only a backward jump rewinds.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "objects/formats/qx_animformats.h"
#include "objects/formats/qx_picformats.h"
#include "objects/formats/qx_picio.h"
#include "platform/qx_memory.h"

using namespace qxpic;

struct qxAnimIff {
    qxFileHandle *file = nullptr;
    std::vector<uint8_t> first;  // first-frame planes, plane after plane
    std::vector<uint8_t> chunky; // width x height indices
    std::vector<uint8_t> delta[2];
    uint32_t palette[256] = {};
    uint32_t firstPalette[256] = {};
    uint32_t frameCount = 0, current = 0, width = 0, height = 0;
    uint32_t displayPlanes = 0, planes = 0, compression = 0, masking = 0, transparentIndex = 0;
    bool ehb = false, ham6 = false, ham8 = false;
    int64_t fileSize = 0, firstDelta = 0;
    int nextBuffer = 0;
    std::vector<uint32_t> delays; // sixtieths, 0 until the frame is decoded; grows past any count
    uint32_t interlaceOption = 0, loadAlpha = 0;
    size_t rowBytes = 0, planeSize = 0;
    // Interlaced deltas: which rows the deltas change (field 1 odd, 2 even,
    // 0 unknown), the parity of the frames that change them, and the planes
    // of the frame before the last delta (without the interlace option).
    uint32_t field = 0, parity = 0;
    bool interlaced = false;
    const std::vector<uint8_t> *last = nullptr; // the planes of the last frame produced
    std::vector<uint8_t> previousField, previousChunky;
};

namespace {

struct ChunkHeader {
    char id[4];
    uint32_t size;
};

bool readChunk(qxFileHandle *f, ChunkHeader &c)
{
    uint8_t b[8];
    if (!readAll(f, b, 8)) return false;
    std::memcpy(c.id, b, 4);
    c.size = be32(b + 4);
    return true;
}

bool is(const ChunkHeader &c, const char *id) { return std::memcmp(c.id, id, 4) == 0; }

int64_t tell(qxFileHandle *f) { return qxSeek(f, 0, 0); }

// Skips a chunk's data (rounded up to even); false past the end of the file.
bool skipChunk(qxAnimIff *s, uint32_t size)
{
    int64_t to = tell(s->file) + int64_t(size) + (size & 1);
    return to <= s->fileSize && seekTo(s->file, to);
}

void setDelay(qxAnimIff *s, uint32_t frame, uint32_t sixtieths)
{
    try {
        if (frame >= s->delays.size()) s->delays.resize(size_t(frame) + 1, 0);
        s->delays[frame] = sixtieths;
    } catch (const std::bad_alloc &) {
    }
}

bool readPalette(qxAnimIff *s, uint32_t size)
{
    uint32_t colours = std::min<uint32_t>(size / 3, 256);
    uint8_t raw[768];
    if (!readAll(s->file, raw, colours * 3)) return false;
    for (uint32_t i = 0; i < colours; ++i)
        s->palette[i] = uint32_t(raw[3 * i]) << 16 | raw[3 * i + 1] << 8 | raw[3 * i + 2];
    // Extra-half-brite: the upper 32 entries are the lower 32 at half brightness.
    if (s->ehb)
        for (uint32_t i = 0; i < 32; ++i) s->palette[32 + i] = (s->palette[i] >> 1) & 0x7F7F7F;
    int64_t rest = int64_t(size) - colours * 3 + (size & 1);
    return rest == 0 || (tell(s->file) + rest <= s->fileSize && seekTo(s->file, tell(s->file) + rest));
}

// Bounded reads from the DLTA data and bounded writes into one plane.
struct Delta {
    const uint8_t *data;
    size_t size;
    size_t at = 0;
    bool ok = true;
    uint32_t u8()
    {
        if (at + 1 > size) return ok = false, 0;
        return data[at++];
    }
    uint32_t u16()
    {
        if (at + 2 > size) return ok = false, 0;
        at += 2;
        return be16(data + at - 2);
    }
    uint32_t u32()
    {
        if (at + 4 > size) return ok = false, 0;
        at += 4;
        return be32(data + at - 4);
    }
    uint32_t item(size_t n) { return n == 4 ? u32() : n == 2 ? u16() : u8(); }
};

struct Plane {
    uint8_t *data;
    size_t size;
    bool put(size_t at, uint32_t value, size_t n, bool exclusive)
    {
        if (at > size || size - at < n) return false;
        for (size_t i = 0; i < n; ++i) {
            uint8_t b = uint8_t(value >> (8 * (n - 1 - i)));
            data[at + i] = exclusive ? uint8_t(data[at + i] ^ b) : b;
        }
        return true;
    }
};

// Modes 5 and 7: per column an op count, then copy, repeat and skip ops.
// ops and items may be the same stream (mode 5) or two lists (mode 7).
bool verticalOps(Delta &ops, Delta &items, Plane &plane, size_t columns, size_t itemSize, size_t stride,
                 uint32_t height, bool exclusive)
{
    for (size_t col = 0; col < columns; ++col) {
        uint32_t count = ops.u8();
        size_t row = 0;
        for (uint32_t i = 0; i < count && ops.ok; ++i) {
            uint32_t op = ops.u8();
            if (op & 0x80) {
                for (uint32_t n = op & 0x7F; n > 0; --n, ++row) {
                    uint32_t v = items.item(itemSize);
                    if (!items.ok || row >= height || !plane.put(row * stride + col * itemSize, v, itemSize, exclusive))
                        return false;
                }
            } else if (op == 0) {
                uint32_t n = ops.u8();
                uint32_t v = items.item(itemSize);
                if (!items.ok) return false;
                for (; n > 0; --n, ++row)
                    if (row >= height || !plane.put(row * stride + col * itemSize, v, itemSize, exclusive)) return false;
            } else {
                row += op;
            }
        }
        if (!ops.ok) return false;
    }
    return true;
}

// Mode 8: op counts and ops of the item size, data inline.
bool mode8Columns(Delta &d, Plane &plane, size_t firstColumn, size_t columns, size_t itemSize, size_t stride,
                  uint32_t height)
{
    const uint32_t flag = itemSize == 4 ? 0x80000000u : 0x8000u;
    for (size_t col = firstColumn; col < firstColumn + columns; ++col) {
        uint32_t count = d.item(itemSize);
        size_t row = 0;
        for (uint32_t i = 0; i < count && d.ok; ++i) {
            uint32_t op = d.item(itemSize);
            if (!d.ok) return false;
            if (op & flag) {
                for (uint32_t n = op & (flag - 1); n > 0; --n, ++row) {
                    uint32_t v = d.item(itemSize);
                    if (!d.ok || row >= height || !plane.put(row * stride + col * itemSize, v, itemSize, false))
                        return false;
                }
            } else if (op == 0) {
                uint32_t n = d.item(itemSize);
                uint32_t v = d.item(itemSize);
                if (!d.ok) return false;
                for (; n > 0; --n, ++row)
                    if (row >= height || !plane.put(row * stride + col * itemSize, v, itemSize, false)) return false;
            } else {
                row += op;
            }
            if (row > height) return false;
        }
        if (!d.ok) return false;
    }
    return true;
}

// Modes 100 (long) and 101 (short): entries of runs at byte offsets.
bool offsetRuns(Delta &d, Plane &plane, size_t itemSize, size_t stride)
{
    uint32_t entries = itemSize == 4 ? d.u32() : d.u16();
    for (uint32_t e = 0; e < entries && d.ok; ++e) {
        uint32_t raw = d.item(itemSize);
        int32_t n = itemSize == 4 ? int32_t(raw) : int16_t(raw);
        size_t at = d.u32() & 0xFFFFFF;
        if (!d.ok) return false;
        if (n < 0) {
            for (int64_t k = 0; k < -int64_t(n); ++k, at += stride) {
                uint32_t v = d.item(itemSize);
                if (!d.ok || !plane.put(at, v, itemSize, false)) return false;
            }
        } else {
            uint32_t v = d.item(itemSize);
            if (!d.ok) return false;
            for (int32_t k = 0; k < n; ++k, at += stride)
                if (!plane.put(at, v, itemSize, false)) return false;
        }
    }
    return d.ok;
}

void rewind(qxAnimIff *s)
{
    s->delta[0] = s->first;
    s->delta[1] = s->first;
    s->nextBuffer = 0;
    std::memcpy(s->palette, s->firstPalette, sizeof s->palette);
    seekTo(s->file, s->firstDelta);
    s->last = &s->first;
}

// Applies the next delta FORM; the index of the buffer it changed, or -1.
int applyDelta(qxAnimIff *s, uint32_t frame, uint32_t *operationOut = nullptr, uint32_t *bitsOut = nullptr)
{
    ChunkHeader c;
    bool haveHeader = false;
    uint32_t operation = 0, interleave = 0, bits = 0;
    for (;;) {
        if (!readChunk(s->file, c)) return -1;
        if (is(c, "DLTA")) break;
        if (is(c, "ANHD")) {
            uint8_t a[40];
            if (c.size < 40 || !readAll(s->file, a, 40) || !skipChunk(s, c.size - 40)) return -1;
            operation = a[0];
            setDelay(s, frame, be32(a + 14));
            interleave = a[18];
            bits = be32(a + 20);
            haveHeader = true;
        } else if (is(c, "CMAP")) {
            if (!readPalette(s, c.size)) return -1;
        } else if (is(c, "FORM")) {
            uint8_t type[4];
            if (!readAll(s->file, type, 4)) return -1;
        } else if (!skipChunk(s, c.size)) {
            return -1;
        }
    }
    if (!haveHeader) return -1;
    if (operationOut) *operationOut = operation;
    if (bitsOut) *bitsOut = bits;
    if (c.size > s->fileSize - tell(s->file)) return -1;
    std::vector<uint8_t> data;
    try {
        data.resize(c.size);
    } catch (const std::bad_alloc &) {
        return -1;
    }
    if (!readAll(s->file, data.data(), c.size)) return -1;
    if (c.size & 1) seekTo(s->file, tell(s->file) + 1); // a missing pad byte at the end is harmless
    if (c.size < 64) return -1;

    const int target = s->nextBuffer;
    if (s->interlaced && s->field && !s->interlaceOption && s->last) s->previousField = *s->last;
    if (interleave == 0) s->nextBuffer ^= 1;
    const bool interlaced = (operation == 100 || operation == 101) && (bits & 0x40);
    const size_t stride = s->rowBytes * (interlaced ? 2 : 1);
    const size_t item = (bits & 1) ? 4 : 2;
    for (uint32_t p = 0; p < s->planes; ++p) {
        uint32_t offset = be32(data.data() + 4 * p);
        if (offset == 0) continue;
        if (offset >= c.size) return -1;
        Plane plane{s->delta[target].data() + p * s->planeSize, s->planeSize};
        Delta d{data.data(), data.size()};
        d.at = offset;
        bool ok = false;
        switch (operation) {
        case 5: ok = verticalOps(d, d, plane, s->rowBytes, 1, s->rowBytes, s->height, interleave == 1); break;
        case 7: {
            if (p >= 8) return -1;
            uint32_t dataOffset = be32(data.data() + 4 * (p + 8));
            if (dataOffset >= c.size) return -1;
            Delta items{data.data(), data.size()};
            items.at = dataOffset;
            ok = verticalOps(d, items, plane, s->rowBytes / item, item, s->rowBytes, s->height, false);
            break;
        }
        case 8:
            ok = mode8Columns(d, plane, 0, s->rowBytes / item, item, s->rowBytes, s->height);
            // A width that is not a multiple of 32 ends with one short column.
            if (ok && item == 4 && s->rowBytes % 4)
                ok = mode8Columns(d, plane, s->rowBytes / 2 - 1, 1, 2, s->rowBytes, s->height);
            break;
        case 100: ok = offsetRuns(d, plane, 4, stride); break;
        case 101: ok = offsetRuns(d, plane, 2, stride); break;
        default: return -1;
        }
        if (!ok) return -1;
    }
    s->last = &s->delta[target];
    return target;
}

// Finds which rows interlaced deltas change: the first row a delta alters.
void findField(qxAnimIff *s)
{
    for (uint32_t applied = 0; applied + 1 < s->frameCount && !s->field; ++applied) {
        std::vector<uint8_t> before = s->delta[s->nextBuffer];
        int target = applyDelta(s, applied + 1);
        if (target < 0) break;
        const std::vector<uint8_t> &after = s->delta[target];
        for (uint32_t r = 0; r < s->height && !s->field; ++r)
            for (uint32_t p = 0; p < s->planes; ++p) {
                size_t at = p * s->planeSize + r * s->rowBytes;
                if (std::memcmp(&before[at], &after[at], s->rowBytes)) {
                    s->field = (r & 1) ? 1 : 2;
                    s->parity = (applied % 2) ^ (s->field == 1 ? 1 : 0);
                    break;
                }
            }
    }
}

// Replaces the rows of the other field: by their neighbours with the
// interlace option, else by the frame before.
void mergeFields(qxAnimIff *s, uint32_t frame)
{
    const uint32_t w = s->width, h = s->height;
    const uint32_t odd = s->parity ? frame % 2 : 1 - frame % 2;
    if (!s->interlaceOption) {
        if (s->previousField.size() != s->first.size()) return;
        for (uint32_t y = 0; y < h; ++y)
            planesToChunky(s->previousField.data() + y * s->rowBytes, s->planeSize, s->planes, w,
                           s->previousChunky.data() + size_t(y) * w);
    }
    for (uint32_t r = odd ? 1 : 0; r < h; r += 2) {
        uint8_t *row = s->chunky.data() + size_t(r) * w;
        if (!s->interlaceOption)
            std::memcpy(row, s->previousChunky.data() + size_t(r) * w, w);
        else if (odd)
            std::memcpy(row, row - w, w);
        else if (r + 1 < h)
            std::memcpy(row, row + w, w);
    }
}

} // namespace

extern "C" qxAnimIff *qxAnimIffOpen(qxFileHandle *file, uint32_t interlace, uint32_t *width, uint32_t *height,
                                    uint32_t *frameCount, uint32_t loadAlpha)
{
    qxAnimIff *s = new (std::nothrow) qxAnimIff;
    if (!s) {
        qxClose(file);
        return nullptr;
    }
    auto fail = [&]() -> qxAnimIff * {
        qxAnimIffClose(s);
        return nullptr;
    };
    s->file = file;
    s->interlaceOption = interlace;
    s->loadAlpha = loadAlpha;
    s->fileSize = qxFileSize(file);
    try {
        s->delays.assign(4096, 0);
    } catch (const std::bad_alloc &) {
        return fail();
    }
    uint8_t head[24];
    if (s->fileSize < 24 || !seekTo(file, 0) || !readAll(file, head, 24)) return fail();
    if (std::memcmp(head, "FORM", 4) || std::memcmp(head + 8, "ANIM", 4) || std::memcmp(head + 12, "FORM", 4) ||
        std::memcmp(head + 20, "ILBM", 4))
        return fail();
    const uint32_t firstFormSize = be32(head + 16);

    ChunkHeader c;
    bool haveHeader = false, haveDpan = false;
    uint32_t dpanFrames = 0;
    for (;;) {
        if (!readChunk(file, c)) return fail();
        if (is(c, "BODY")) break;
        if (is(c, "BMHD")) {
            uint8_t b[20];
            if (c.size < 20 || !readAll(file, b, 20) || !skipChunk(s, c.size - 20)) return fail();
            s->width = be16(b);
            s->height = be16(b + 2);
            s->planes = s->displayPlanes = b[8];
            s->masking = b[9];
            s->compression = b[10];
            s->transparentIndex = be16(b + 12);
            if (s->planes > 8) return fail();
            haveHeader = true;
        } else if (is(c, "ANHD")) {
            uint8_t a[40];
            if (c.size < 40 || !readAll(file, a, 40) || !skipChunk(s, c.size - 40)) return fail();
            s->delays[0] = be32(a + 14);
        } else if (is(c, "CMAP")) {
            if (!readPalette(s, c.size)) return fail();
        } else if (is(c, "DPAN")) {
            uint8_t d[8];
            if (c.size < 8 || !readAll(file, d, 8) || !skipChunk(s, c.size - 8)) return fail();
            dpanFrames = be16(d + 2);
            haveDpan = true;
        } else if (is(c, "CAMG")) {
            uint8_t m[4];
            if (c.size < 4 || !readAll(file, m, 4) || !skipChunk(s, c.size - 4)) return fail();
            uint32_t mode = be32(m);
            if (mode & 0x80) s->ehb = true;
            if (mode & 0x800) {
                s->displayPlanes = 24;
                (s->planes > 6 ? s->ham8 : s->ham6) = true;
            }
        } else if (!skipChunk(s, c.size)) {
            return fail();
        }
    }
    // CAMG may follow CMAP: apply extra-half-brite once everything is known.
    if (s->ehb)
        for (uint32_t i = 0; i < 32; ++i) s->palette[32 + i] = (s->palette[i] >> 1) & 0x7F7F7F;
    if (!haveHeader || s->width == 0 || s->height == 0 || s->planes == 0 || s->compression > 1) return fail();
    if (uint64_t(s->width) * s->height > qxPictureLimit()) return fail();
    std::memcpy(s->firstPalette, s->palette, sizeof s->palette);
    s->rowBytes = ((size_t(s->width) + 15) >> 4) * 2;
    s->planeSize = s->rowBytes * s->height;
    const uint64_t planesBytes = uint64_t(s->planeSize) * s->planes;
    const int64_t bodyStart = tell(file);
    if (c.size > s->fileSize - bodyStart) return fail();
    std::vector<uint8_t> body, line;
    try {
        s->first.assign(planesBytes, 0);
        s->chunky.assign(size_t(s->width) * s->height, 0);
        body.resize(c.size);
        line.resize(s->rowBytes);
    } catch (const std::bad_alloc &) {
        return fail();
    }
    if (!readAll(file, body.data(), c.size)) return fail();
    const uint8_t *src = body.data(), *end = body.data() + body.size();
    const uint32_t rowsPerLine = s->planes + (s->masking == 1 ? 1 : 0);
    for (uint32_t y = 0; y < s->height; ++y)
        for (uint32_t p = 0; p < rowsPerLine; ++p) {
            uint8_t *dst = p < s->planes ? s->first.data() + p * s->planeSize + y * s->rowBytes : line.data();
            if (s->compression == 1) {
                if (!unpackByteRun1(src, end, dst, s->rowBytes)) return fail();
            } else {
                if (size_t(end - src) < s->rowBytes) return fail();
                std::memcpy(dst, src, s->rowBytes);
                src += s->rowBytes;
            }
        }

    // The first delta FORM follows the first frame's FORM, or else its BODY.
    auto formAt = [&](int64_t at) {
        uint8_t id[4];
        return at + 4 <= s->fileSize && seekTo(file, at) && readAll(file, id, 4) && std::memcmp(id, "FORM", 4) == 0;
    };
    int64_t afterFirst = 20 + int64_t(firstFormSize) + (firstFormSize & 1);
    int64_t afterBody = bodyStart + int64_t(c.size) + (c.size & 1);
    if (afterFirst != s->fileSize && formAt(afterFirst))
        s->firstDelta = afterFirst;
    else if (formAt(afterBody))
        s->firstDelta = afterBody;
    else
        return fail();

    // Frame count: DPAN wins; else the FORMs that follow back to back.
    uint32_t operation = 0, bits = 0;
    rewind(s);
    if (applyDelta(s, 1, &operation, &bits) < 0) return fail();
    if (operation != 5 && operation != 7 && operation != 8 && operation != 100 && operation != 101) return fail();
    int64_t count = 0;
    if (haveDpan) {
        count = dpanFrames;
    } else {
        int64_t at = s->firstDelta;
        count = 1;
        for (;;) {
            uint8_t sz[4];
            if (!seekTo(file, at + 4) || !readAll(file, sz, 4)) return fail();
            at += 8 + int64_t(be32(sz)) + (be32(sz) & 1);
            ++count;
            if (at >= s->fileSize) break;
            if (!formAt(at)) return fail();
        }
        if (operation == 100 || operation == 101) count -= 2;
    }
    if (count < 1) return fail();
    s->frameCount = uint32_t(count);
    if ((operation == 100 || operation == 101) && (bits & 0x40)) {
        s->interlaced = true;
        if (!interlace) {
            try {
                s->previousChunky.assign(s->chunky.size(), 0);
            } catch (const std::bad_alloc &) {
                return fail();
            }
        }
        rewind(s);
        findField(s);
    }
    std::fill(s->delays.begin() + 1, s->delays.end(), 0);
    rewind(s);
    s->current = 0;
    *width = s->width;
    *height = s->height;
    *frameCount = s->frameCount;
    return s;
}

extern "C" uint32_t *qxAnimIffGetFrame(qxAnimIff *s, uint32_t frame, uint32_t *transparency)
{
    if (!s || frame >= s->frameCount) return nullptr;
    if (s->current > frame) {
        rewind(s);
        s->current = 0;
    }
    for (uint32_t j = s->current; j < frame; ++j)
        if (j + 1 != 1 && applyDelta(s, j) < 0) return nullptr;
    s->current = frame + 1;
    const std::vector<uint8_t> *planes = &s->first;
    if (frame > 0) {
        int target = applyDelta(s, frame);
        if (target < 0) {
            rewind(s);
            s->current = 0;
            return nullptr;
        }
        planes = &s->delta[target];
    } else {
        std::memcpy(s->palette, s->firstPalette, sizeof s->palette);
    }

    const uint32_t w = s->width, h = s->height;
    uint32_t *out = qxAllocPicture(w, h, 0);
    if (!out) return nullptr;
    for (uint32_t y = 0; y < h; ++y)
        planesToChunky(planes->data() + y * s->rowBytes, s->planeSize, s->planes, w, s->chunky.data() + size_t(y) * w);
    if (s->interlaced && s->field && frame > 0) mergeFields(s, frame);
    if (s->ham6 || s->ham8) {
        for (uint32_t y = 0; y < h; ++y)
            hamRow(s->chunky.data() + size_t(y) * w, w, s->palette, s->ham8 ? 8 : 6, out + size_t(y) * w);
    } else {
        for (size_t i = 0; i < size_t(w) * h; ++i) out[i] = s->palette[s->chunky[i]];
    }
    if (s->loadAlpha && s->masking == 2) {
        // The code before HAM decoding is compared, as for palette frames.
        for (size_t i = 0; i < size_t(w) * h; ++i)
            out[i] = (out[i] & 0xFFFFFF) | (s->chunky[i] == s->transparentIndex ? 0 : 0xFF000000u);
        if (transparency) *transparency = 1;
    }
    if (s->current == s->frameCount) {
        rewind(s);
        s->current = 0;
    }
    return out;
}

extern "C" uint32_t qxAnimIffFrameDelay(qxAnimIff *s, uint32_t frame)
{
    if (!s || frame >= s->delays.size()) return 0;
    return uint32_t(uint64_t(s->delays[frame]) * 1000 / 60);
}

extern "C" void qxAnimIffClose(qxAnimIff *s)
{
    if (!s) return;
    if (s->file) qxClose(s->file);
    delete s;
}
