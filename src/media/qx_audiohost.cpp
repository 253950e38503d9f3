// Audio host slots 0 and 1. The handle keeps the sample's identifier and
// serial, not its record: by slot 1 the sample may have been freed, or
// replaced by another of the same number.
#include "media/qx_audiohost.h"

#include <cstring>

#include "core/errors/qx_errors.h"
#include "media/qx_audioadapter.h"
#include "media/qx_sample.h"
#include "platform/qx_memory.h"

namespace {

struct SampleHandle {
    qxObjectRef ref;
    uint64_t serial;
    uint8_t *copy; // flags 0: the private copy, else null
    uint32_t format;
    uint32_t bytes;
    uint32_t frequency;
    uint32_t flags;
    uint32_t frames;
};

} // namespace

extern "C" {

void *qxAudioLockSample(const qxObjectRef *ref, uint32_t flags, void *, qxAudioSampleRecord *out)
{
    uint32_t code = 0, bytes = 0, frequency = 0;
    qxSound *sound = nullptr;
    if (!ref || !out || !qxGetSampleInfo(*ref, &code, &sound, &bytes, &frequency) || qxIsSoundPlaying(sound))
        return nullptr;
    auto *h = static_cast<SampleHandle *>(qxAlloc(sizeof(SampleHandle), 1));
    if (!h) return nullptr;
    if (!flags) {
        h->copy = static_cast<uint8_t *>(qxAlloc(bytes ? bytes : 1, 0));
        if (!h->copy) {
            qxFree(h);
            return nullptr;
        }
        std::memcpy(h->copy, sound->data, bytes);
    }
    h->ref = *ref;
    qxSample *s = nullptr;
    h->serial = qxFindSample(*ref, &s) == 0 ? s->serial : 0;
    h->format = code;
    h->bytes = bytes;
    h->frequency = frequency;
    h->flags = flags;
    h->frames = sound->frames;
    out->data = h->copy ? h->copy : sound->data;
    out->bytes = bytes;
    out->frames = sound->frames;
    out->channels = code == QX_SMP_U8STEREO || code == QX_SMP_S8STEREO || code == QX_SMP_S16STEREO ? 2 : 1;
    out->bits = code >= QX_SMP_S16MONO ? 16 : 8;
    out->frequency = frequency;
    out->flags = (code >= QX_SMP_S8MONO ? 2u : 0u) | (sound->flags & 1u);
    return h;
}

int qxAudioUnlockSample(void *handle)
{
    auto *h = static_cast<SampleHandle *>(handle);
    if (!h) return 0;
    qxSample *s = nullptr;
    int r = qxFindSample(h->ref, &s);
    if (r == 0 && s->serial != h->serial) {
        // Freed and made again under the same identifier: another sample.
        if (!h->ref.automatic) qxSetErrorNumber(int(h->ref.number));
        r = h->ref.automatic ? ERR_FINDARRAY : ERR_FINDSAMPLE;
    }
    if (r == 0 && h->copy) {
        // The copy replaces the data; channels still reading the old data
        // are stopped first.
        qxStopSound(s->sound, -1);
        qxFree(s->sound->data);
        s->sound->data = h->copy;
        s->sound->frames = h->frames;
        s->sound->frequency = h->frequency;
        s->pitch = h->frequency;
        s->bytes = h->bytes;
        h->copy = nullptr;
    }
    qxFree(h->copy); // the sample is gone
    qxFree(h);
    return r;
}

void qxInstallAudioHostSlots(void (**table)(void))
{
    table[0] = reinterpret_cast<void (*)(void)>(qxAudioLockSample);
    table[1] = reinterpret_cast<void (*)(void)>(qxAudioUnlockSample);
    table[2] = reinterpret_cast<void (*)(void)>(qxInstallAudioAdapter);
}

} // extern "C"
