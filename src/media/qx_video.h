// The video player: a decoder (the inbuilt CDXL reader) with its packet
// loop, conversion into picture slots and the playback thread with its
// clock, pause and end report.
#pragma once
#include <atomic>
#include <cstdint>
#include <pthread.h>
#include <vector>

#include "media/qx_videosound.h"
#include "platform/qx_objectref.h"

struct qxCdxl;
struct qxDisplay;

// Decoder kinds of a player handle.
enum : uint32_t { QX_VIDEO_PLUGIN = 1, QX_VIDEO_CDXL = 2 };

struct qxVideo {
    uint32_t kind;
    qxCdxl *cdxl;
    uint32_t width, height;
    uint32_t frames;
    double fps;
    uint32_t seekable;
    uint32_t hasAudio, audioRate;
    uint32_t position;      // next frame the decoder gives
    uint32_t *slot;         // one converted picture, rows of width + 64 pixels
    uint32_t slotPitch;     // in pixels
    // Playback thread.
    pthread_t thread;
    bool threadRunning;
    std::atomic<int> stop, pauseReq, pausedAck, ended;
    std::atomic<uint32_t> shown;
    qxObjectRef owner;      // posted with the end event
    void (*onEnd)(qxVideo *); // sets the owner's state to 4
    int failures;           // decoder failures in a row
    // Output: pictures go to this display's pending frames at x, y.
    qxDisplay *display;
    std::atomic<int32_t> x, y;
    std::atomic<uint32_t> outWidth, outHeight, smooth; // shown size, 0: the video's own
    // Sound: fed to a video channel while playing, when wanted and possible.
    uint32_t soundWanted, volume;
    int channelIndex;
    bool soundOn;
    qxVideoSoundFifo fifo;
    std::vector<int16_t> *soundOut; // when set, decoded sound is appended here
};

extern "C" {
// Opens fileName with the decoders the loader list admits ("inbuilt",
// "plugin", "native"; empty admits all): 0, 1000 or 1450.
int qxVideoOpen(const char *fileName, const char *loaders, qxVideo **out);
void qxVideoClose(qxVideo *v);
// Decodes the next picture into the slot: 0, 1 at the end, 1000.
int qxVideoDecodeNext(qxVideo *v);
// Rewinds and decodes forward until frame (0-based) is in the slot.
int qxVideoDecodeFrame(qxVideo *v, uint32_t frame);
// Back to the first frame.
void qxVideoRewind(qxVideo *v);
// Queues the slot's picture as the player's one pending frame on its
// display, clipped to the display, and wakes the script thread.
void qxVideoDeliverFrame(qxVideo *v);
// Drops the player's pending frames from its display.
void qxVideoDropFrames(qxVideo *v);
// The volume (0..64) of the sound channel, now and at the next start.
void qxVideoSetVolume(qxVideo *v, uint32_t volume);
// Starts the playback thread: 0 or 1287.
int qxVideoStart(qxVideo *v);
// Stops the thread; the decoder stays where it was.
void qxVideoStop(qxVideo *v);
// Pause and resume wait at most 2 s for the thread's acknowledgement.
void qxVideoPause(qxVideo *v);
void qxVideoResume(qxVideo *v);
}
