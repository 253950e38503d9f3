// The audio-adapter path: a plug-in that takes over the sound output. The
// program keeps the channel table and the decoding; the adapter pulls
// frames through the fill callback on its own thread.
#pragma once
#include <cstdint>

#include "core/plugins/qx_pluginapi.h"

struct qxChannel;

extern "C" {

// Flags of the installation: exclusive (no later adapter may replace it),
// and "only update the buffer size" for the installed adapter.
constexpr uint32_t QX_AUDIOADAPTER_EXCLUSIVE = 1, QX_AUDIOADAPTER_UPDATE = 2;
// Install tags.
constexpr uint32_t QX_AUDIOTAG_BUFFERSIZE = 1, QX_AUDIOTAG_CHANNELS = 2;
// Attribute codes of SetChannelAttributes.
constexpr uint32_t QX_AUDIOATTR_VOLUME = 1, QX_AUDIOATTR_PANNING = 2, QX_AUDIOATTR_PITCH = 3;
constexpr uint32_t QX_AUDIOATTR_UNSET = 0xFFFFFFFFu;

// The fill callback: two adapter words (passed back unread), the buffer,
// the frames wanted and the channel record; returns the frames written.
typedef uint32_t (*qxAudioFillFunc)(uintptr_t word1, uintptr_t word2, void *buffer, uint32_t frames,
                                    void *channel);

struct qxAudioAdapterState {
    qxPluginInfo *plugin; // null: the native output serves the table
    uint32_t flags;
    uint32_t bufferSize;
    int32_t channels;
    void *handle; // from OpenAudio
};
extern qxAudioAdapterState qxAudioAdapter;

// Audio host slot 2 with a tag list of {u32 tag; u64 value}: 0 or 1566,
// 1055, 1518.
int qxInstallAudioAdapter(qxPluginInfo *plugin, uint32_t flags, const qxHostTag *tags);
// Forgets the adapter (shutdown, tests).
void qxResetAudioAdapter(void);

// Device side: OpenAudio (1267 for a null handle) and CloseAudio.
int qxAdapterOpen(void);
void qxAdapterClose(void);
// AllocAudioChannel for a channel whose fields are set: 0 or 1562.
int qxAdapterAllocChannel(qxChannel *c, uint32_t format, uint32_t frequency);
// FreeAudioChannel; the record itself is left to the caller.
void qxAdapterFreeChannel(qxChannel *c);
// SetChannelAttributes with the values that are not QX_AUDIOATTR_UNSET.
void qxAdapterSetAttributes(qxChannel *c, uint32_t volume, uint32_t panning, uint32_t pitch);
// Frees every ended channel whose end time has passed.
void qxAdapterReap(void);
// The fill callback handed to AllocAudioChannel.
uint32_t qxAdapterFill(uintptr_t word1, uintptr_t word2, void *buffer, uint32_t frames, void *channel);
}
