// Audio slots 0 and 1 of the plug-in host table: a plug-in reads or edits a
// sample's PCM data. Layout and calling order are the plug-in interface.
#pragma once
#include <cstdint>

#include "platform/qx_objectref.h"

extern "C" {

struct qxAudioSampleRecord {
    void *data;
    uint32_t bytes;
    uint32_t frames;
    uint32_t channels;
    uint32_t bits;
    uint32_t frequency;
    uint32_t flags;
};

// Slot 0: null when the sample does not exist or plays now. Flags 0 give a
// private copy that slot 1 puts in place of the sample's data.
void *qxAudioLockSample(const qxObjectRef *ref, uint32_t flags, void *unused, qxAudioSampleRecord *out);
// Slot 1: ends the handle; 0, or the lookup's error (1178) when the
// handle's sample is gone, which then stays untouched.
int qxAudioUnlockSample(void *handle);
// Puts slots 0 to 2 (2: the audio adapter installation) into the audio
// sub-table.
void qxInstallAudioHostSlots(void (**table)(void));
}
