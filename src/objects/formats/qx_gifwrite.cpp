// GIF89a writer: one local colour table per frame, a NETSCAPE2.0 block that
// loops forever, and frame differencing for anim streams. The LZW encoder
// uses the classic 5003-slot hash.
#include <algorithm>
#include <cstring>

#include "objects/formats/qx_picformats.h"
#include "objects/formats/qx_picio.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

using namespace qxpic;

struct qxGifWriter {
    qxFileHandle *file;
    uint32_t frameCounter;
    uint8_t *previous;
    uint8_t *work;
    uint32_t previousPalette[256];
    uint32_t width, height;
    bool failed; // a write came up short
};

namespace {

constexpr int kHashSize = 5003;

struct BitWriter {
    qxGifWriter *w = nullptr;
    uint8_t packet[256] = {};
    int count = 0;
    uint32_t bits = 0;
    int held = 0;

    void flushPacket()
    {
        if (!count) return;
        uint8_t size = uint8_t(count);
        if (!writeAll(w->file, &size, 1) || !writeAll(w->file, packet, count)) w->failed = true;
        count = 0;
    }
    void put(uint32_t code, int size)
    {
        bits |= code << held;
        held += size;
        while (held >= 8) {
            packet[count++] = uint8_t(bits);
            bits >>= 8;
            held -= 8;
            if (count >= 254) flushPacket();
        }
    }
    void finish()
    {
        if (held > 0) packet[count++] = uint8_t(bits);
        bits = 0, held = 0;
        flushPacket();
    }
};

void encodeLzw(qxGifWriter *w, const uint8_t *pixels, uint32_t stride, uint32_t rw, uint32_t rh, int minimum)
{
    struct Slot {
        uint16_t code, prefix;
        uint8_t suffix;
    };
    Slot table[kHashSize] = {}; // on the stack: thread_local data is zeroed for every thread
    BitWriter out;
    out.w = w;
    const int initial = minimum + 1;
    const uint32_t clear = 1u << minimum, end = clear + 1;
    int size = initial;
    uint32_t next = clear + 2, largest = (1u << size) - 1;
    auto grow = [&] {
        if (next > largest) {
            ++size;
            largest = size == 12 ? 4096 : (1u << size) - 1;
        }
    };
    out.put(clear, size);
    uint32_t current = pixels[0];
    bool firstPixel = true;
    for (uint32_t y = 0; y < rh; ++y) {
        const uint8_t *row = pixels + size_t(y) * stride;
        for (uint32_t x = 0; x < rw; ++x) {
            if (firstPixel) {
                firstPixel = false;
                continue;
            }
            uint32_t c = row[x];
            int slot = int((c << 4) + current);
            if (slot >= kHashSize) slot -= kHashSize;
            bool found = false;
            if (table[slot].code) {
                if (table[slot].prefix == current && table[slot].suffix == c) {
                    found = true;
                } else {
                    int step = slot == 0 ? 1 : kHashSize - slot;
                    for (;;) {
                        slot -= step;
                        if (slot < 0) slot += kHashSize;
                        if (!table[slot].code) break;
                        if (table[slot].prefix == current && table[slot].suffix == c) {
                            found = true;
                            break;
                        }
                    }
                }
            }
            if (found) {
                current = table[slot].code;
                continue;
            }
            out.put(current, size);
            grow();
            if (next >= 4096) {
                std::memset(table, 0, sizeof table);
                out.put(clear, size);
                size = initial;
                largest = (1u << size) - 1;
                next = clear + 2;
            } else {
                table[slot] = {uint16_t(next), uint16_t(current), uint8_t(c)};
                ++next;
            }
            current = c;
        }
    }
    out.put(current, size);
    grow();
    out.put(end, size);
    out.finish();
}

void emit(qxGifWriter *w, const void *data, size_t n)
{
    if (!writeAll(w->file, data, int64_t(n))) w->failed = true;
}

} // namespace

extern "C" {

int qxGifWriterOpen(const char *fileName, uint32_t width, uint32_t height, qxGifWriter **writer)
{
    *writer = nullptr;
    if (width == 0 || height == 0 || width > 0xFFFF || height > 0xFFFF) return ERR_MEM;
    qxFileHandle *f = qxOpen(fileName, 10, nullptr);
    if (!f) {
        qxSetErrorString(fileName);
        return ERR_WRITEFILE;
    }
    auto *w = static_cast<qxGifWriter *>(qxAlloc(sizeof(qxGifWriter), 1));
    uint8_t *work = static_cast<uint8_t *>(qxAlloc(size_t(width) * height, 0));
    if (!w || !work) {
        qxFree(w);
        qxFree(work);
        qxClose(f);
        return ERR_MEM;
    }
    w->file = f;
    w->work = work;
    w->width = width;
    w->height = height;
    uint8_t head[13 + 768] = {'G', 'I', 'F', '8', '9', 'a'};
    putLE16(head + 6, width);
    putLE16(head + 8, height);
    head[10] = 0xF7;
    std::memcpy(head + 13, "Amiga rules!", 12);
    emit(w, head, sizeof head);
    *writer = w;
    return 0;
}

int qxGifWriteFrame(qxGifWriter *w, uint8_t *pixels, uint32_t width, uint32_t height, uint32_t delay,
                    uint32_t *palette, uint32_t colourCount, uint32_t transparentIndex, int differencing,
                    int differencingTransparency)
{
    if (!w || width != w->width || height != w->height || colourCount == 0 || colourCount > 256) return ERR_MEM;
    for (uint32_t i = colourCount; i < 256; ++i) palette[i] = 0xFFFFFFFF;

    // The changed rectangle, and an index none of its pixels uses to mark
    // the unchanged ones (a real colour would show the previous frame).
    uint32_t rx = 0, ry = 0, rw = width, rh = height;
    bool diff = w->previous && differencing && transparentIndex == 0xFFFFFFFF;
    uint32_t mark = 0xFFFFFFFF;
    if (diff) {
        uint32_t x0 = width, y0 = height, x1 = 0, y1 = 0;
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x) {
                size_t i = size_t(y) * width + x;
                if (w->previousPalette[w->previous[i]] != palette[pixels[i]]) {
                    x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
                }
            }
        if (x0 > x1) {
            rw = std::min<uint32_t>(2, width), rh = 1;
        } else {
            rx = x0, ry = y0, rw = x1 - x0 + 1, rh = y1 - y0 + 1;
        }
        bool used[256] = {};
        for (uint32_t y = ry; y < ry + rh; ++y) {
            const uint8_t *row = pixels + size_t(y) * width;
            std::memcpy(w->work + size_t(y) * width + rx, row + rx, rw);
            for (uint32_t x = rx; x < rx + rw; ++x) used[row[x]] = true;
        }
        if (differencingTransparency) {
            if (!used[colourCount - 1]) {
                mark = colourCount - 1;
            } else {
                for (uint32_t i = 0; i < 256 && mark == 0xFFFFFFFF; ++i)
                    if (!used[i]) mark = i;
                if (mark != 0xFFFFFFFF && mark >= colourCount) colourCount = mark + 1;
            }
        }
        if (mark != 0xFFFFFFFF)
            for (uint32_t y = ry; y < ry + rh; ++y)
                for (uint32_t x = rx; x < rx + rw; ++x) {
                    size_t i = size_t(y) * width + x;
                    if (w->previousPalette[w->previous[i]] == palette[w->work[i]]) pixels[i] = uint8_t(mark);
                }
    }

    int k = 1;
    while (k < 8 && (1u << k) < colourCount) ++k;
    uint8_t gce[8] = {0x21, 0xF9, 0x04, 4, 0, 0, 0, 0};
    putLE16(gce + 4, delay / 10);
    if (transparentIndex != 0xFFFFFFFF) {
        gce[3] = 9;
        gce[6] = uint8_t(transparentIndex);
    } else if (mark != 0xFFFFFFFF) {
        gce[3] = 5;
        gce[6] = uint8_t(mark);
    } else {
        gce[6] = uint8_t(colourCount - 1);
    }
    emit(w, gce, sizeof gce);
    if (w->frameCounter == 0) {
        static const uint8_t loop[19] = {0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P',
                                         'E',  '2',  '.',  '0', 0x03, 0x01, 0, 0, 0};
        emit(w, loop, sizeof loop);
    }
    uint8_t desc[10] = {0x2C};
    putLE16(desc + 1, rx), putLE16(desc + 3, ry), putLE16(desc + 5, rw), putLE16(desc + 7, rh);
    desc[9] = uint8_t(0x80 | (k - 1));
    emit(w, desc, sizeof desc);
    uint8_t table[768];
    for (uint32_t i = 0; i < (1u << k); ++i) {
        uint32_t c = palette[i];
        table[3 * i] = uint8_t(c >> 16), table[3 * i + 1] = uint8_t(c >> 8), table[3 * i + 2] = uint8_t(c);
    }
    emit(w, table, size_t(3) << k);
    uint8_t minimum = uint8_t(std::max(k, 2));
    emit(w, &minimum, 1);
    encodeLzw(w, pixels + size_t(ry) * width + rx, width, rw, rh, minimum);
    uint8_t zero = 0;
    emit(w, &zero, 1);
    ++w->frameCounter;

    if (differencing) {
        // The whole frame as the script gave it, with its own palette: pixels
        // outside the rectangle keep the colour but may change index.
        if (!w->previous) {
            w->previous = static_cast<uint8_t *>(qxAlloc(size_t(width) * height, 0));
            if (!w->previous) return ERR_MEM;
        }
        for (uint32_t y = 0; y < height; ++y) {
            const uint8_t *src = (diff && y >= ry && y < ry + rh) ? w->work : pixels;
            uint8_t *dst = w->previous + size_t(y) * width;
            std::memcpy(dst, pixels + size_t(y) * width, width);
            if (src == w->work) std::memcpy(dst + rx, w->work + size_t(y) * width + rx, rw);
        }
        std::memcpy(w->previousPalette, palette, sizeof w->previousPalette);
    }
    return w->failed ? ERR_WRITE : 0;
}

int qxGifWriterClose(qxGifWriter *w)
{
    if (!w) return 0;
    uint8_t trailer = 0x3B;
    emit(w, &trailer, 1);
    if (!qxClose(w->file)) w->failed = true;
    int result = w->failed ? ERR_WRITE : 0;
    qxFree(w->previous);
    qxFree(w->work);
    qxFree(w);
    return result;
}
}
