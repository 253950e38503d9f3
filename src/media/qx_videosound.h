// The video sound FIFO: a playing video's decoded 16-bit PCM on its way to
// a channel (kind 7 while set up, 5 once the first chunk is in).
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/qx_objectref.h"
#include "platform/qx_sync.h"

struct qxChannel;

constexpr uint32_t QX_VIDEOSOUND_STORE = 384000;

struct qxVideoSoundFifo {
    std::atomic<uint32_t> started;
    std::atomic<uint32_t> stopped;
    std::atomic<uint32_t> held; // paused: the output takes nothing, set under mutex
    uint32_t heldSeen;          // the native mixer has flushed its PCM for the hold
    pthread_mutex_t mutex;
    qxThreadRecord *server; // the video's audio thread, when it has one
    uint8_t *data;          // QX_VIDEOSOUND_STORE bytes
    uint32_t fill;
    uint32_t capacity;
    uint32_t halfRule; // native output: append only while at most half full
    void *video;
    qxChannel *channel; // null for a FIFO without output (tests)
    uint32_t channels;
    uint32_t rate;
    uint32_t frameBytes;
};

extern "C" {
// A FIFO for chunks of up to chunkBytes of 16-bit data with that many
// channels; capacity 2 x chunk, at most the store. 0, 1000 or 1298.
int qxVideoFifoInit(qxVideoSoundFifo *f, uint32_t chunkBytes, uint32_t channels, uint32_t rate, int halfRule);
void qxVideoFifoRelease(qxVideoSoundFifo *f);
// Appends a decoded chunk, waiting in 1 ms steps for room; the first bytes
// start the channel. 0, 1 when a stop was asked for, or an error code.
int qxVideoFifoAppend(qxVideoSoundFifo *f, const void *data, uint32_t bytes);
// Moves up to bytes (whole frames) from the front to out; the bytes moved
// (none while held).
uint32_t qxVideoFifoDrain(qxVideoSoundFifo *f, uint8_t *out, uint32_t bytes);

// The video's sound channel: kind 7 on channel index (-1 any) with the
// video's volume; natively a PCM for 16-bit signed data. The FIFO is set up.
int qxVideoSoundOpen(qxVideoSoundFifo *f, void *video, qxObjectRef id, int index, uint32_t volume,
                     uint32_t channels, uint32_t rate, uint32_t chunkBytes);
// Holds or releases the output: while held nothing leaves the FIFO.
void qxVideoFifoHold(qxVideoSoundFifo *f, int hold);
// Stops the sound: frees the adapter channel or closes the PCM, zeroes the
// channel and releases the FIFO.
void qxVideoSoundClose(qxVideoSoundFifo *f);
}
