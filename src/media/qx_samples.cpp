// Sample objects and the sample commands of the "sound" library that make,
// read and change them (playing is in qx_sampleplay.cpp).
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/files/qx_chunkname.h"
#include "core/errors/qx_errors.h"
#include "core/runtime/qx_lists.h"
#include "core/runtime/qx_startup.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"
#include "libs/qx_corelibs.h"
#include "libs/qx_dos.h"
#include "media/qx_sample.h"
#include "media/qx_soundcmds.h"
#include "platform/qx_memory.h"

namespace {

qxSample *sampleList;
bool listRegistered;
uint64_t nextSerial = 1;

void appendSample(qxSample *s)
{
    if (!listRegistered && qxRegisterObjectList(&sampleList, QX_TYPE_SAMPLE) == 0) listRegistered = true;
    qxObjectHeader **p = reinterpret_cast<qxObjectHeader **>(&sampleList);
    while (*p) p = &(*p)->next;
    *p = &s->header;
}

void unlinkSample(qxSample *s)
{
    for (qxObjectHeader **p = reinterpret_cast<qxObjectHeader **>(&sampleList); *p; p = &(*p)->next) {
        if (*p == &s->header) {
            *p = s->header.next;
            return;
        }
    }
}

void freeSample(lua_State *L, qxSample *s)
{
    qxStopSound(s->sound, -1);
    unlinkSample(s);
    if (L) qxFreeRefList(L, &s->header.data);
    qxFreeSound(s->sound);
    qxFree(s);
}


// Frees the sample a numbered creator is about to replace.
void freeNumbered(lua_State *L, int automatic, uint32_t number)
{
    qxSample *old = nullptr;
    if (!automatic && qxFindSample({number, nullptr}, &old) == 0) freeSample(L, old);
}

// Adds a sample for the sound (owned from here) and pushes its identifier
// when automatic; the number of results, or 1000 (the sound freed).
int addSample(lua_State *L, qxSound *sound, int automatic, uint32_t number, uint32_t pitch,
              const qxPluginInfo *loader = nullptr)
{
    auto *s = static_cast<qxSample *>(qxAlloc(sizeof(qxSample), 1));
    if (!s) {
        qxFreeSound(sound);
        return ERR_MEM;
    }
    s->header.type = QX_TYPE_SAMPLE;
    s->header.id = automatic ? 0 : number;
    s->header.automatic = automatic ? s : nullptr;
    s->sound = sound;
    s->volume = 64;
    s->pitch = pitch;
    s->format = sound->format;
    s->bytes = sound->frames * sound->bytesPerFrame;
    s->panning = 128;
    s->loader = const_cast<qxPluginInfo *>(loader);
    s->serial = nextSerial++;
    appendSample(s);
    if (!automatic) return 0;
    lua_pushlightuserdata(L, s);
    return 1;
}

int checkNotPlaying(const qxSample *s)
{
    return qxIsSoundPlaying(s->sound) ? ERR_MODIFYPSMP : 0;
}

int qxCmdLoadSample(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    if (int r = qxSoundNeeded(L)) return r == 1 ? 0 : r;
    int automatic = 0;
    uint32_t number = qxGetNewIDArg(L, 1, &automatic);
    std::string name = qxGetFileNameArg(L, 2, 0, nullptr);
    qxLoaderOptions options;
    qxReadLoaderOptions(L, 3, &options);
    freeNumbered(L, automatic, number);
    qxDebugPrintLine("Loading sample %s", name.c_str(), 1);
    qxSound *sound = nullptr;
    const qxPluginInfo *loader = nullptr;
    qxSoundSource src = options.source();
    if (int r = qxDecodeSound(name.c_str(), &src, &sound, &loader)) {
        qxPrintFailed();
        return r;
    }
    qxPrintDone();
    return addSample(L, sound, automatic, number, sound->frequency, loader);
}

int qxCmdIsSample(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    std::string name = qxGetFileNameArg(L, 1, 0, nullptr);
    qxLoaderOptions options;
    qxReadLoaderOptions(L, 2, &options);
    qxSoundSource src = options.source();
    qxSoundStream *s = nullptr;
    bool ok = qxOpenSoundStream(name.c_str(), &src, 0, &s) == 0 && s->totalBytes && s->bytesPerFrame && s->bits;
    qxCloseSoundStream(s);
    lua_pushnumber(L, ok ? 1 : 0);
    return 1;
}

// Values of the "pcm" source: the table's list from index 0.
int pcmValues(lua_State *L, uint32_t code, uint32_t frames, std::vector<uint8_t> &raw, uint32_t *outFrames)
{
    bool eight = code == QX_SMP_S8MONO || code == QX_SMP_S8STEREO;
    uint32_t channels = code == QX_SMP_S8STEREO || code == QX_SMP_S16STEREO ? 2 : 1;
    uint64_t count = uint64_t(frames) * channels;
    if (!frames) {
        while (true) {
            lua_rawgeti(L, 2, int(count));
            bool present = !lua_isnil(L, -1);
            lua_pop(L, 1);
            if (!present) break;
            count++;
        }
        if (!count || count % channels) return ERR_WRONGUSAGE;
    }
    if (count * (eight ? 1 : 2) > 0x7FFFFFFFu) return ERR_MEM;
    raw.resize(size_t(count) * (eight ? 1 : 2));
    for (uint64_t i = 0; i < count; i++) {
        lua_rawgeti(L, 2, int(i));
        if (!lua_isnumber(L, -1)) {
            lua_pop(L, 1);
            return ERR_WRONGUSAGE;
        }
        double v = lua_tonumber(L, -1);
        lua_pop(L, 1);
        if (eight ? (v < -128 || v > 127) : (v < -32768 || v > 32767)) return ERR_SMPRANGE;
        if (eight) {
            raw[i] = uint8_t(int8_t(v));
        } else {
            int16_t s = int16_t(v);
            std::memcpy(&raw[2 * i], &s, 2);
        }
    }
    *outFrames = uint32_t(count / channels);
    return 0;
}

int qxCmdCreateSample(lua_State *L)
{
    qxCheckArgCount(L, 3, 5, 0, 0);
    int automatic = 0;
    uint32_t number = qxGetNewIDArg(L, 1, &automatic);
    luaL_checktable(L, 2);
    uint32_t pitch = qxPitchArg(luaL_checknumber(L, 3));
    int code = qxScriptFormatToCode(luaL_optint(L, 4, 0));
    double framesArg = luaL_optnumber(L, 5, 0);
    // Format, then pitch, then frames.
    if (code < 0) return ERR_WRONGUSAGE;
    if (!pitch) return ERR_LOWFREQ;
    if (framesArg < 0 || framesArg > 0xFFFFFFFFu) return ERR_WRONGUSAGE;
    uint32_t frames = uint32_t(framesArg);
    uint32_t bpf = (code == QX_SMP_S8MONO ? 1 : code == QX_SMP_S16STEREO ? 4 : 2);
    char source[16] = "pcm";
    qxGetFieldStr(L, 2, "source", source, sizeof source, nullptr);
    std::vector<uint8_t> raw;
    if (!strcasecmp(source, "pcm")) {
        if (int r = pcmValues(L, uint32_t(code), frames, raw, &frames)) return r;
    } else if (!strcasecmp(source, "file")) {
        qxObjectRef ref{};
        int swap = 0;
        qxGetFieldID(L, 2, "id", &ref, nullptr);
        qxGetFieldInt(L, 2, "swap", &swap, nullptr);
        qxDosFile *file = nullptr;
        if (int r = qxFindFile(ref, &file)) return r;
        if (file->access == QX_ACCESS_WRITE) return ERR_WRITEONLY;
        if (!frames) return ERR_WRONGUSAGE;
        std::string data;
        if (int r = qxDosReadBlock(file->handle, nullptr, uint64_t(frames) * bpf, data)) return r;
        raw.assign(data.begin(), data.end());
        if (swap && (code == QX_SMP_S16MONO || code == QX_SMP_S16STEREO))
            for (size_t i = 0; i + 1 < raw.size(); i += 2) std::swap(raw[i], raw[i + 1]);
    } else if (!strcasecmp(source, "memory")) {
        qxObjectRef ref{};
        int swap = 0;
        double offset = 0;
        qxGetFieldID(L, 2, "id", &ref, nullptr);
        qxGetFieldInt(L, 2, "swap", &swap, nullptr);
        qxGetFieldNum(L, 2, "offset", &offset, nullptr);
        if (offset < 0 || offset > 9007199254740992.0) return ERR_WRONGUSAGE;
        const uint8_t *bytes = nullptr;
        if (int r = qxMemBlockRange(ref, int64_t(offset), int64_t(uint64_t(frames) * bpf), &bytes)) return r;
        raw.assign(bytes, bytes + size_t(frames) * bpf);
        if (swap && (code == QX_SMP_S16MONO || code == QX_SMP_S16STEREO))
            for (size_t i = 0; i + 1 < raw.size(); i += 2) std::swap(raw[i], raw[i + 1]);
    } else {
        return ERR_WRONGUSAGE;
    }
    auto *data = static_cast<uint8_t *>(qxAlloc(raw.size() ? raw.size() : 1, 0));
    if (!data) return ERR_MEM;
    if (!raw.empty()) std::memcpy(data, raw.data(), raw.size());
    qxSound *sound = nullptr;
    if (int r = qxSoundFromRaw(data, frames, pitch, uint32_t(code), &sound)) return r;
    freeNumbered(L, automatic, number);
    return addSample(L, sound, automatic, number, pitch);
}

int qxCmdFreeSample(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxSample *s = nullptr;
    if (int r = qxSampleArg(L, 1, &s)) return qxSoundOff() ? 0 : r;
    freeSample(L, s);
    return 0;
}

int qxCmdGetSampleData(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxSample *s = nullptr;
    if (int r = qxSampleArg(L, 1, &s)) return qxSoundOff() ? 0 : r;
    const qxSound *sound = s->sound;
    uint64_t count = uint64_t(sound->frames) * sound->channels;
    if (count > 0x7FFFFFFF) return ERR_MEM;
    lua_newsizedtable(L, int(count), 0);
    for (uint64_t i = 0; i < count; i++) {
        int v;
        const uint8_t *p = sound->data + i * (sound->bits / 8);
        if (sound->bits == 8) {
            v = sound->flags & QX_SOUND_SIGNED ? int(int8_t(*p)) : int(*p) - 128;
        } else {
            uint16_t u;
            std::memcpy(&u, p, 2);
            if ((sound->flags & QX_SOUND_BIGENDIAN) != (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__))
                u = __builtin_bswap16(u);
            v = int16_t(u);
        }
        lua_pushnumber(L, v);
        lua_rawseti(L, -2, int(i));
    }
    lua_pushnumber(L, sound->frames);
    return 2;
}

int qxCmdCopySample(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxSample *src = nullptr;
    if (int r = qxSampleArg(L, 1, &src)) return qxSoundOff() ? 0 : r;
    int automatic = 0;
    uint32_t number = qxGetNewIDArg(L, 2, &automatic);
    if (!automatic && !src->header.automatic && src->header.id == number) return ERR_WRONGUSAGE;
    qxSound *copy = qxCopySound(src->sound);
    if (!copy) return ERR_MEM;
    qxSample fields = *src;
    freeNumbered(L, automatic, number);
    int results = addSample(L, copy, automatic, number, fields.pitch);
    if (results >= ERR_MEM) return results;
    qxSample *dst = nullptr;
    qxFindSample(automatic ? qxObjectRef{0, lua_touserdata(L, -1)} : qxObjectRef{number, nullptr}, &dst);
    dst->volume = fields.volume;
    dst->panning = fields.panning;
    dst->format = fields.format;
    dst->loader = fields.loader;
    return results;
}

int qxCmdInsertSample(lua_State *L)
{
    qxCheckArgCount(L, 3, 5, 0, 0);
    qxSample *src = nullptr, *dst = nullptr;
    if (int r = qxSampleArg(L, 1, &src)) return qxSoundOff() ? 0 : r;
    if (int r = qxSampleArg(L, 2, &dst)) return qxSoundOff() ? 0 : r;
    if (src == dst) return ERR_WRONGUSAGE;
    if (int r = checkNotPlaying(dst)) return r;
    qxSound *d = dst->sound;
    int64_t position = std::clamp<int64_t>(int64_t(luaL_checknumber(L, 3)), 0, d->frames);
    double framesArg = luaL_optnumber(L, 4, 0);
    uint32_t frames = framesArg <= 0 || framesArg > src->sound->frames ? src->sound->frames : uint32_t(framesArg);
    qxRangeOptions range;
    if (int r = qxReadRangeOptions(L, 5, src->sound, &range)) return r;
    uint64_t total = uint64_t(d->frames) + frames;
    if (total * d->bytesPerFrame > 0x7FFFFFFFu) return ERR_MEM;
    auto *data = static_cast<uint8_t *>(qxAlloc(size_t(total * d->bytesPerFrame), 0));
    if (!data) return ERR_MEM;
    size_t head = size_t(position) * d->bytesPerFrame, added = size_t(frames) * d->bytesPerFrame;
    std::memcpy(data, d->data, head);
    qxReadSampleRange(src->sound, range, data + head, d->bits, d->channels, frames);
    if (d->bits == 16 && (d->flags & QX_SOUND_BIGENDIAN)) {
        // The inserted frames are in native order: bring the rest over too.
        for (size_t i = 0; i + 1 < head; i += 2) std::swap(data[i], data[i + 1]);
        d->flags &= ~QX_SOUND_BIGENDIAN;
        std::memcpy(data + head + added, d->data + head, size_t(d->frames) * d->bytesPerFrame - head);
        for (size_t i = head + added; i + 1 < total * d->bytesPerFrame; i += 2) std::swap(data[i], data[i + 1]);
    } else {
        std::memcpy(data + head + added, d->data + head, size_t(d->frames) * d->bytesPerFrame - head);
    }
    qxFree(d->data);
    d->data = data;
    d->frames = uint32_t(total);
    dst->bytes = uint32_t(total * d->bytesPerFrame);
    return 0;
}

int qxCmdMixSample(lua_State *L)
{
    int n = lua_gettop(L);
    qxCheckArgCount(L, 6, -1, 0, 0);
    int automatic = 0;
    uint32_t number = qxGetNewIDArg(L, 1, &automatic);
    double frames = luaL_checknumber(L, 2);
    uint32_t pitch = qxPitchArg(luaL_checknumber(L, 3));
    int code = qxScriptFormatToCode(luaL_checkint(L, 4));
    // Format, then pitch, then the pairs of sources.
    if (code < 0 || frames < 1 || frames > 0x1FFFFFFF) return ERR_WRONGUSAGE;
    if (!pitch) return ERR_LOWFREQ;
    if ((n - 4) % 2) return ERR_WRONGUSAGE;
    std::vector<qxMixSource> sources;
    for (int i = 5; i < n; i += 2) {
        qxSample *s = nullptr;
        if (int r = qxSampleArg(L, i, &s)) return qxSoundOff() ? 0 : r;
        qxMixSource src{s->sound, double(s->pitch), 0, -1, 1, 1.0};
        if (!lua_isnoneornil(L, i + 1)) {
            luaL_checktable(L, i + 1);
            double v;
            if (qxGetFieldNum(L, i + 1, "pitch", &v, nullptr)) {
                if (v < 1) return ERR_WRONGUSAGE;
                src.pitch = v;
            }
            if (qxGetFieldNum(L, i + 1, "offset", &v, nullptr)) {
                if (v < 0) return ERR_SMPRANGE;
                src.offset = int64_t(v);
            }
            if (qxGetFieldNum(L, i + 1, "length", &v, nullptr)) src.length = int64_t(std::max(v, 0.0));
            qxGetFieldInt(L, i + 1, "loop", &src.loop, nullptr);
            qxGetFieldNum(L, i + 1, "scale", &src.scale, nullptr);
        }
        sources.push_back(src);
    }
    qxSound *sound = nullptr;
    if (int r = qxMixSounds(sources.data(), uint32_t(sources.size()), uint32_t(frames), pitch, uint32_t(code), &sound)) return r;
    freeNumbered(L, automatic, number);
    return addSample(L, sound, automatic, number, pitch);
}

int qxCmdSaveSample(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    qxSample *s = nullptr;
    if (int r = qxSampleArg(L, 1, &s)) return qxSoundOff() ? 0 : r;
    std::string name = luaL_checkstring(L, 2);
    int format = luaL_optint(L, 3, 0);
    if (format != 0) return format < 0 ? ERR_UNKNOWNSMPOUT
                                       : qxSaveSampleWithPlugin(name.c_str(), s->sound, s->pitch, uint32_t(format));
    if (int r = qxWriteWave(name.c_str(), s->sound, s->pitch)) return r;
    return 0;
}

} // namespace

int qxFindSample(qxObjectRef ref, qxSample **out)
{
    for (qxObjectHeader *h = reinterpret_cast<qxObjectHeader *>(sampleList); h; h = h->next) {
        if (ref.automatic ? h->automatic == ref.automatic : (!h->automatic && h->id == ref.number)) {
            *out = reinterpret_cast<qxSample *>(h);
            return 0;
        }
    }
    if (ref.automatic) return ERR_FINDARRAY;
    qxSetErrorNumber(int(ref.number));
    return ERR_FINDSAMPLE;
}

int qxSampleArg(lua_State *L, int idx, qxSample **out)
{
    return qxFindSample(qxGetObjectIDArg(L, idx), out);
}

uint32_t qxPitchArg(double pitch)
{
    if (pitch < 256) return 0;
    return pitch > 4294967295.0 ? 0xFFFFFFFFu : uint32_t(pitch);
}

uint32_t qxClampPanning(double v)
{
    if (v == -90000) return 0;
    if (v == -80000) return 255;
    if (v == -100000) return 128;
    return uint32_t(std::clamp(v, 0.0, 255.0));
}

int qxSoundNeeded(lua_State *L)
{
    const qxStartupInfo *startup = L ? qxGetCommandLineTable(L) : nullptr;
    return qxNeedSound(startup ? int32_t(startup->numChannels) : 0);
}

// Apart from the exported name, whose declaration has no size: clang reads
// only a table of known size while compiling.
static constexpr qxCommandDef sampleCommandsRows[] = {
    {"LoadSample", qxCmdLoadSample},
    {"CreateSample", qxCmdCreateSample},
    {"FreeSample", qxCmdFreeSample},
    {"PlaySample", qxCmdPlaySample},
    {"StopSample", qxCmdStopSample},
    {"WaitSampleEnd", qxCmdWaitSampleEnd},
    {"IsSamplePlaying", qxCmdIsSamplePlaying},
    {"SetVolume", qxCmdSetVolume},
    {"SetPitch", qxCmdSetPitch},
    {"SetPanning", qxCmdSetPanning},
    {"GetSampleData", qxCmdGetSampleData},
    {"CopySample", qxCmdCopySample},
    {"InsertSample", qxCmdInsertSample},
    {"MixSample", qxCmdMixSample},
    {"SaveSample", qxCmdSaveSample},
    {"IsSample", qxCmdIsSample},
    {nullptr, nullptr},
};

const qxCommandDef *const qxSampleCommands = sampleCommandsRows;
constexpr qxNames qxSampleCommandNames = qxNamesOf<sampleCommandsRows>;

void qxFreeSampleObject(lua_State *L, qxSample *s) { freeSample(L, s); }

extern "C" {

void qxFreeAllSamples(lua_State *L)
{
    while (sampleList) freeSample(L, sampleList);
}

int qxGetSampleInfo(qxObjectRef ref, uint32_t *format, qxSound **data, uint32_t *bytes, uint32_t *frequency)
{
    qxSample *s = nullptr;
    if (qxFindSample(ref, &s)) return 0;
    *format = s->sound->format;
    *data = s->sound;
    *bytes = s->sound->frames * s->sound->bytesPerFrame;
    *frequency = s->pitch;
    return 1;
}

} // extern "C"
