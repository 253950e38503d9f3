// The sample-range reader, MixSample's mixer and the RIFF WAVE writer.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "media/qx_sample.h"
#include "platform/qx_memory.h"

namespace {

bool swapped(const qxSound *s)
{
    return bool(s->flags & QX_SOUND_BIGENDIAN) != (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__);
}

// One value of a frame on the 16-bit scale; side 1 of a mono sound is its
// only channel.
int value16(const qxSound *s, uint64_t frame, uint32_t side)
{
    if (s->channels == 1) side = 0;
    const uint8_t *p = s->data + frame * s->bytesPerFrame;
    if (s->bits == 8) {
        int v = p[side];
        return s->flags & QX_SOUND_SIGNED ? int(int8_t(v)) * 256 : (v - 128) * 256;
    }
    uint16_t u;
    std::memcpy(&u, p + 2 * side, 2);
    if (swapped(s)) u = __builtin_bswap16(u);
    return int16_t(u);
}

// Mix accumulation of one run of frames of a source into interleaved
// 24-bit sums, by source layout, so that each loop vectorises on its own.
template <int Bits, int Channels, bool Swap, bool Unsigned>
void addRun(int32_t *acc, const uint8_t *src, uint32_t n)
{
    for (uint32_t i = 0; i < n; i++) {
        int32_t l, r;
        if constexpr (Bits == 8) {
            int a = Unsigned ? int(src[i * Channels]) - 128 : int(int8_t(src[i * Channels]));
            int b = Unsigned ? int(src[i * Channels + Channels - 1]) - 128 : int(int8_t(src[i * Channels + Channels - 1]));
            l = a * 65536;
            r = b * 65536;
        } else {
            uint16_t a, b;
            std::memcpy(&a, src + i * 2 * Channels, 2);
            std::memcpy(&b, src + i * 2 * Channels + 2 * (Channels - 1), 2);
            if (Swap) {
                a = __builtin_bswap16(a);
                b = __builtin_bswap16(b);
            }
            l = int32_t(int16_t(a)) * 256;
            r = int32_t(int16_t(b)) * 256;
        }
        acc[2 * i] += l;
        acc[2 * i + 1] += r;
    }
}

typedef void (*AddRunFn)(int32_t *, const uint8_t *, uint32_t);

AddRunFn addRunFor(const qxSound *s)
{
    bool u = !(s->flags & QX_SOUND_SIGNED), sw = swapped(s);
    if (s->bits == 8)
        return s->channels == 2 ? (u ? addRun<8, 2, false, true> : addRun<8, 2, false, false>)
                                : (u ? addRun<8, 1, false, true> : addRun<8, 1, false, false>);
    return s->channels == 2 ? (sw ? addRun<16, 2, true, false> : addRun<16, 2, false, false>)
                            : (sw ? addRun<16, 1, true, false> : addRun<16, 1, false, false>);
}

int32_t clamp24(int64_t v)
{
    return int32_t(std::clamp<int64_t>(v, -8388608, 8388607));
}

} // namespace

int qxReadRangeOptions(lua_State *L, int t, const qxSound *sound, qxRangeOptions *out)
{
    if (lua_istable(L, t)) {
        double v;
        int loop = 1;
        qxGetFieldInt(L, t, "loop", &loop, nullptr);
        out->loop = loop;
        int release = 0;
        qxGetFieldInt(L, t, "free", &release, nullptr);
        out->free = release;
        if (qxGetFieldNum(L, t, "offset", &v, nullptr)) out->offset = int64_t(v);
        if (qxGetFieldNum(L, t, "start", &v, nullptr)) out->start = int64_t(v);
        if (qxGetFieldNum(L, t, "end", &v, nullptr)) out->end = int64_t(v);
    }
    if (out->offset < 0 || out->start < 0 || out->end < 0) return ERR_SMPRANGE;
    if (out->end == 0) out->end = sound->frames;
    if (out->start >= out->end || out->end > int64_t(sound->frames)) return ERR_SMPRANGE;
    return 0;
}

void qxReadSampleRange(const qxSound *sound, const qxRangeOptions &range, uint8_t *out,
                       uint32_t bits, uint32_t channels, uint32_t count)
{
    uint64_t length = uint64_t(range.end - range.start);
    for (uint32_t i = 0; i < count; i++) {
        uint64_t p = uint64_t(range.offset) + i;
        bool silent = false;
        if (p >= length) {
            if (range.loop) p %= length;
            else silent = true;
        }
        for (uint32_t side = 0; side < channels; side++) {
            int v = silent ? 0 : value16(sound, uint64_t(range.start) + p, side);
            if (bits == 8) {
                *out++ = uint8_t(v / 256 + 128);
            } else {
                int16_t s = int16_t(v);
                std::memcpy(out, &s, 2);
                out += 2;
            }
        }
    }
}

int qxMixSounds(const qxMixSource *sources, uint32_t count, uint32_t frames, uint32_t pitch,
                uint32_t code, qxSound **out)
{
    std::vector<int32_t> acc;
    std::vector<int32_t> part; // one source's contribution when it is scaled
    try {
        acc.assign(size_t(frames) * 2, 0);
    } catch (const std::bad_alloc &) {
        return ERR_MEM;
    }
    // A source's contribution is at most 2^23 a side; more than 255 of them
    // could overflow the 32-bit sums, so those go through a clamped pass.
    bool wide = count > 255;
    for (uint32_t k = 0; k < count; k++) {
        const qxMixSource &src = sources[k];
        const qxSound *s = src.sound;
        if (!s->frames || src.offset >= int64_t(frames)) continue;
        bool scaled = src.scale != 1.0 || wide;
        int32_t *target = acc.data();
        if (scaled) {
            try {
                part.assign(size_t(frames) * 2, 0);
            } catch (const std::bad_alloc &) {
                return ERR_MEM;
            }
            target = part.data();
        }
        uint64_t outFrame = uint64_t(src.offset), end = frames;
        if (src.length >= 0) end = std::min<uint64_t>(end, outFrame + uint64_t(src.length));
        double step = src.pitch / pitch;
        if (step == 1.0) {
            // Same rate: whole runs of source frames, wrapping at its end.
            AddRunFn add = addRunFor(s);
            uint64_t pos = 0;
            while (outFrame < end) {
                if (pos >= s->frames) {
                    if (!src.loop) break;
                    pos = 0;
                }
                uint32_t n = uint32_t(std::min<uint64_t>(end - outFrame, s->frames - pos));
                add(target + 2 * outFrame, s->data + pos * s->bytesPerFrame, n);
                pos += n;
                outFrame += n;
            }
        } else {
            double pos = 0;
            for (; outFrame < end; outFrame++, pos += step) {
                uint64_t index = uint64_t(pos);
                if (index >= s->frames) {
                    if (!src.loop) break;
                    pos -= double(index / s->frames * s->frames);
                    index %= s->frames;
                }
                target[2 * outFrame] += value16(s, index, 0) * 256;
                target[2 * outFrame + 1] += value16(s, index, 1) * 256;
            }
        }
        if (scaled)
            for (size_t i = 0; i < acc.size(); i++)
                acc[i] = clamp24(int64_t(acc[i]) + int64_t(part[i] * src.scale));
    }
    bool eight = code == QX_SMP_S8MONO || code == QX_SMP_S8STEREO;
    bool stereo = code == QX_SMP_S8STEREO || code == QX_SMP_S16STEREO;
    size_t bytes = size_t(frames) * (eight ? 1 : 2) * (stereo ? 2 : 1);
    auto *data = static_cast<uint8_t *>(qxAlloc(bytes, 0));
    if (!data) return ERR_MEM;
    auto *d16 = reinterpret_cast<int16_t *>(data);
    auto *d8 = reinterpret_cast<int8_t *>(data);
    for (size_t i = 0; i < frames; i++) {
        int32_t l = clamp24(acc[2 * i]), r = clamp24(acc[2 * i + 1]);
        switch (code) {
        case QX_SMP_S8MONO: d8[i] = int8_t((l + r) >> 17); break;
        case QX_SMP_S8STEREO: d8[2 * i] = int8_t(l >> 16); d8[2 * i + 1] = int8_t(r >> 16); break;
        case QX_SMP_S16MONO: d16[i] = int16_t((l + r) >> 9); break;
        default: d16[2 * i] = int16_t(l >> 8); d16[2 * i + 1] = int16_t(r >> 8); break;
        }
    }
    return qxSoundFromRaw(data, frames, pitch, code, out);
}

int qxWriteWave(const char *name, const qxSound *sound, uint32_t rate)
{
    uint64_t size = uint64_t(sound->frames) * sound->bytesPerFrame;
    uint64_t padded = (size + 3) & ~uint64_t(3);
    if (padded + 36 > 0xFFFFFFFFu) return ERR_WRITE;
    qxFileHandle *h = qxOpen(name, QX_OPEN_WRITE, nullptr);
    if (!h) {
        qxSetErrorString(name);
        return ERR_WRITEFILE;
    }
    uint8_t head[44];
    auto put32 = [&](int at, uint32_t v) { for (int i = 0; i < 4; i++) head[at + i] = uint8_t(v >> (8 * i)); };
    auto put16 = [&](int at, uint32_t v) { head[at] = uint8_t(v); head[at + 1] = uint8_t(v >> 8); };
    std::memcpy(head, "RIFF", 4);
    put32(4, uint32_t(padded + 36));
    std::memcpy(head + 8, "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, sound->channels);
    put32(24, rate);
    put32(28, rate * sound->bytesPerFrame);
    put16(32, sound->bytesPerFrame);
    put16(34, sound->bits);
    std::memcpy(head + 36, "data", 4);
    put32(40, uint32_t(size));
    int result = 0;
    if (qxWrite(h, head, 44) != 44 || qxSeek(h, 0, 0) != 44) result = ERR_WRITE;
    auto *body = result ? nullptr : static_cast<uint8_t *>(qxAlloc(size_t(padded) + 1, 1));
    if (!result && !body) {
        qxClose(h);
        std::remove(name);
        return ERR_MEM;
    }
    if (!result) {
        std::memcpy(body, sound->data, size_t(size));
        if (sound->bits == 8 && (sound->flags & QX_SOUND_SIGNED)) {
            for (size_t i = 0; i < size; i++) body[i] ^= 0x80;
        } else if (sound->bits == 16 && (sound->flags & QX_SOUND_BIGENDIAN)) {
            for (size_t i = 0; i + 1 < size; i += 2) std::swap(body[i], body[i + 1]);
        }
        if (qxWrite(h, body, int64_t(padded)) != int64_t(padded)) result = ERR_WRITE;
        qxFree(body);
    }
    if (!qxClose(h) && !result) result = ERR_CLOSEFILE;
    return result;
}
