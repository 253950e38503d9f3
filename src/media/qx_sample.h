// Sample objects and the sample-range reader shared by the sample commands.
#pragma once
#include <cstdint>

#include "core/commands/qx_objreg.h"
#include "media/qx_sound.h"

constexpr uint32_t QX_TYPE_SAMPLE = 2;

struct qxSample {
    qxObjectHeader header;
    qxSound *sound;
    uint32_t volume;
    uint32_t pitch;
    uint32_t format;
    uint32_t bytes;
    uint32_t panning;
    void *loader;
    uint64_t serial; // tells this record from a later one of the same number
};

// The range options of the sample-range reader.
struct qxRangeOptions {
    int loop = 1;
    int64_t offset = 0;
    int64_t start = 0;
    int64_t end = 0; // 0: the sample's end
    int free = 0;    // FillMusicBuffer: the source sample goes afterwards
};

// Reads "loop", "offset", "start", "end" and "free" of table t and checks
// them against the sound; 0 or 1447.
int qxReadRangeOptions(lua_State *L, int t, const qxSound *sound, qxRangeOptions *out);
// Copies count frames of sound (through the range) into out, which has the
// given bits and channels (8-bit written unsigned, 16-bit native order).
void qxReadSampleRange(const qxSound *sound, const qxRangeOptions &range, uint8_t *out,
                       uint32_t bits, uint32_t channels, uint32_t count);
// Mixes into a new sound; 0 or an error code.
struct qxMixSource {
    const qxSound *sound;
    double pitch;
    int64_t offset;
    int64_t length; // -1: no limit
    int loop;
    double scale;
};
int qxMixSounds(const qxMixSource *sources, uint32_t count, uint32_t frames, uint32_t pitch,
                uint32_t code, qxSound **out);
// Writes the sound as a RIFF WAVE file at the given rate.
int qxWriteWave(const char *name, const qxSound *sound, uint32_t rate);

// Stops the sample on every channel and frees it (L null: its script data
// references stay).
void qxFreeSampleObject(lua_State *L, qxSample *s);
// The sample of an identifier; 0, 1041 or 1178.
int qxFindSample(qxObjectRef ref, qxSample **out);
// The sample of argument idx; 0 or the lookup's error, for the command to return.
int qxSampleArg(lua_State *L, int idx, qxSample **out);
// A playback rate; 0 when it is below 256.
uint32_t qxPitchArg(double pitch);
// #LEFT 0, #RIGHT 255, #CENTER 128, else clamped to 0..255.
uint32_t qxClampPanning(double v);
