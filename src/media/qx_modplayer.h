// Protracker ("M.K.") module replayer: builds a player state from the
// whole module file and renders 16-bit frames at twice the output rate.
// The state is position independent (pattern and sample copies are found
// by offset), so a copy made with memcpy is a working second player.
#pragma once
#include <cstdint>

struct qxModSample {
    char name[23];
    uint32_t dataOffset; // into the file data
    uint32_t length, finetune, volume, loopStart, loopLength; // bytes
    uint32_t fxLength, fxLoopStart, fxLoopLength, fxLoopEnd;   // 18.14
    uint32_t copyOffset; // private copy for the invert loop, from the state; 0 none
    uint32_t copied;
};

struct qxModNote {
    uint32_t period, sample;
    uint8_t effect, x, y, parameter;
};

struct qxModChannel {
    uint32_t sample;
    int64_t position; // 18.14, -1 stopped
    uint32_t step;
    uint32_t period;
    int32_t volume, currentVolume;
    int32_t slideAmount, volumeSlide;
    uint32_t panning;
    uint32_t finetune;
    uint32_t flags;
    uint32_t portaSpeed, portaTarget;
    uint32_t basePeriod, currentPeriod;
    uint32_t noteIndex;
    uint32_t effect, parameter;
    uint32_t retrigCount, retrigCounter;
    uint32_t cutCounter, delayCounter;
    uint32_t offsetMemory;
    uint32_t vibSpeed, vibDepth, vibPos, vibActive;
    uint32_t tremSpeed, tremDepth, tremPos, tremActive;
    uint32_t vibWave, tremWave;
    uint32_t glissInvert;
    uint32_t invertAcc, invertPos;
    uint32_t loopRow, loopCount, loopState;
    uint32_t pendingSample;
    uint32_t lastSample;
    uint32_t delayedNote; // the note waiting for EDx
};

struct qxModPlayer {
    char songName[21];
    qxModSample samples[32]; // 1..31; 0 is the empty sample
    uint32_t patternCount;
    uint32_t songLength;
    uint8_t order[128];
    qxModChannel channels[4];
    double filterA, filterB;
    double filterState[2][4]; // per side: x1, y1 of stage one, y1 and y2 of stage two
    uint32_t internalRate;
    uint32_t masterLevel;
    uint32_t flags;
    uint8_t songPosition, row, speed, tempo;
    float samplesPerTick;
    float sampleCounter;
    uint8_t tickCounter, patternDelay, breakRow, filterOn;
    uint32_t endCount;
    uint32_t pendingSet, pendingPosition, pendingRow;
    uint32_t breakFlag, jumpFlag, jumpPosition;
    const uint8_t *fileData;
    uint32_t fileSize;
    uint32_t stateSize;
    uint32_t playing; // set by the channel code; 0 answers -1 to position reads
    // Followed by the decoded patterns (patternCount x 64 x 4 notes) and the
    // room for private sample copies.
};

constexpr uint32_t QX_MOD_STOPATEND = 1, QX_MOD_FILTERCMD = 4, QX_MOD_ENDED = 8;

extern "C" {
// 1 when the data starts like a module ("M.K." at 1080).
int qxIsModule(const uint8_t *data, uint32_t size);
// With a null state: the bytes the state needs, 0 when the file is refused
// (too short for its patterns). With a state of that size: builds it and
// returns 1. The file data must outlive the state.
uint32_t qxModSetup(qxModPlayer *state, const uint8_t *data, uint32_t size, uint32_t rate);
// Renders frames; with a null left output only advances time. Output is
// 8- or 16-bit, stereo (right at its own pointer) or mono, oversampling 1 or 2.
void qxModMix(qxModPlayer *p, void *left, void *right, uint32_t stride, uint32_t frames,
              int stereo, int bits, int oversampling);
// 0: jump to song position value, row 0, before the next mix; 1 the row,
// 2 the song position (-1 while not playing).
int qxModPosition(qxModPlayer *p, int request, int value);
}
