// The video player: a decoder (the inbuilt CDXL reader) with its packet
// loop, conversion into picture slots and the four playback threads with
// their clock, frame dropping, pause and end report.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <pthread.h>
#include <vector>

#include "objects/formats/qx_animformats.h"

#include "media/qx_videosound.h"
#include "platform/qx_objectref.h"

struct qxDisplay;
struct qxBitMap;
struct qxThreadRecord;
struct qxPluginInfo;

// A packet on its way from the reader to a decoding thread; a flush entry
// (after a seek) carries no data.
struct qxVideoQueued {
    qxCdxlPacket packet;
    bool flush;
};

struct qxVideoPacketQueue {
    std::deque<qxVideoQueued> items;
    uint64_t bytes;
    bool ended; // the reader has read the last packet
    std::mutex mutex;
    std::condition_variable signal;
};

// One of the two picture slots: a picture of width x height (the video's
// size, or the displayed one when converted at that size), rows of width +
// 64 pixels.
struct qxVideoPicture {
    uint32_t *pixels;
    uint32_t width, height;
    uint32_t frame;
    double time, due; // presentation time and wall-clock due time, seconds
};

// Bounds of the packet queues in bytes.
constexpr uint64_t QX_VIDEOQUEUE_MAX = 1310720, QX_AUDIOQUEUE_MAX = 81920;

// Decoder kinds of a player handle.
enum : uint32_t { QX_VIDEO_PLUGIN = 1, QX_VIDEO_CDXL = 2 };

struct qxVideo {
    uint32_t kind;
    qxCdxl *cdxl;
    qxPluginInfo *plugin;   // kind 1: the decoder plug-in and its handle
    void *pluginHandle;
    uint32_t swapped;       // pictures are bytes 0, R, G, B (CDXL's layout)
    int64_t fileSize;       // -1 when unknown
    uint32_t width, height;
    uint32_t frames;
    uint32_t durationMs;    // frames / fps x 1000, truncated
    double fps;
    uint32_t seekable;
    uint32_t hasAudio, audioRate, audioChannels;
    uint32_t position;      // next frame the decoder gives
    uint32_t *slot;         // one converted picture, rows of width + 64 pixels
    uint32_t slotPitch;     // in pixels
    // Playback threads: packet reader, video server, audio server, refresh.
    qxThreadRecord *threads[4];
    bool threadRunning;
    std::atomic<int> stop, pauseReq, ended;
    std::atomic<int> readerAck, serverAck, refreshAck, resumed;
    std::atomic<int> seekReq, flushReq, streamEnded, videoDrained, showing;
    std::atomic<uint32_t> seekFrame;
    std::atomic<uint32_t> shown, dropped; // pictures shown and dropped since the start
    qxObjectRef owner;      // posted with the end event
    void (*onEnd)(qxVideo *); // sets the owner's state to 4
    std::mutex endMutex;    // the end report against a pause or seek deciding on ended
    qxVideoPacketQueue videoQueue, audioQueue;
    // Picture queue, guarded by pictureMutex.
    qxVideoPicture pictures[2];
    uint32_t count, readIndex, writeIndex;
    std::mutex pictureMutex;
    std::condition_variable pictureSignal;
    std::mutex outputMutex; // delivery against moves and resizes
    uint32_t *still;        // the picture last shown, for redraws while paused
    uint32_t stillWidth, stillHeight;
    uint64_t pictureBytes;  // of each slot and the still
    bool hasStill;
    // Clocks, in seconds; wall time is the monotonic clock.
    double frameTimer, lastTime, lastDelay, lastShownWall;
    std::atomic<double> predicted; // presentation time of the picture after the last decoded
    std::atomic<double> shownTime, offset, soundClock, skipFactor, endPosition;
    std::atomic<uint32_t> pendingSound; // decoded sound bytes not yet in the FIFO
    std::atomic<double> pausedClock; // the clock while paused
    double skipCounter, pausedAt;
    uint32_t shownFrame;
    // Test and benchmark seams: a sink that shows each due picture instead
    // of the display, and pictures that are due at once and never dropped.
    void (*present)(qxVideo *, const qxVideoPicture *);
    bool unpaced;
    // Output: pictures go to this display's pending frames at x, y.
    qxDisplay *display;
    std::atomic<int32_t> x, y;
    std::atomic<uint32_t> outWidth, outHeight, smooth; // shown size, 0: the video's own
    std::atomic<int> toLayer; // pictures go to the video's layer, whole
    std::atomic<int> suspended; // the display is busy: nothing is delivered
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
// Puts frame (0-based) into the slot: decoded forward from the position
// (rewinding when it lies behind), or, with seek, from where a seek lands,
// at most accuracy pictures after that one. 0, 1 at the end, 1000.
int qxVideoDecodeFrame(qxVideo *v, uint32_t frame, int seek, uint32_t accuracy);
// Back to the first frame.
void qxVideoRewind(qxVideo *v);
// Queues the slot's picture as the player's one pending frame on its
// display, clipped to the display, and wakes the script thread.
void qxVideoDeliverFrame(qxVideo *v);
// The same for a picture of width x height, rows pitch pixels apart.
void qxVideoDeliverPicture(qxVideo *v, const uint32_t *pixels, uint32_t pitch, uint32_t width, uint32_t height);
// The area a directly drawn video is clipped to: the display's own size
// (its BGPic's), in display pixels, however the window scales it.
void qxVideoOutputArea(const qxDisplay *d, int32_t *width, int32_t *height);
// The player's shown rectangle clipped to displayWidth x displayHeight:
// 0 when nothing of it is left.
int qxVideoClipRect(const qxVideo *v, int32_t displayWidth, int32_t displayHeight, int32_t *srcX, int32_t *srcY,
                    int32_t *dstX, int32_t *dstY, int32_t *width, int32_t *height);
// A 1-bit mask of displayWidth x displayHeight with the players' clipped
// rectangles set; none when no rectangle is left (or no memory). With a
// window, the mask has the size of its scaled picture and the rectangles
// are where they land in it.
qxBitMap *qxVideoRectsMask(qxBitMap *displayBitMap, int32_t displayWidth, int32_t displayHeight,
                           const qxVideo *const *players, size_t count, const qxDisplay *window);
// A bitmap at the displayed size of a picture of width x height, or none.
qxBitMap *qxVideoPictureBitmap(const qxVideo *v, const uint32_t *pixels, uint32_t pitch, uint32_t width,
                               uint32_t height);
// Drops the player's pending frames from its display.
void qxVideoDropFrames(qxVideo *v);
// The volume (0..64) of the sound channel, now and at the next start.
void qxVideoSetVolume(qxVideo *v, uint32_t volume);
// Starts the four threads from the decoder's position: 0, 1000, 1287, or
// the sound channel's error (1576 out of range, 1289 none free).
int qxVideoStart(qxVideo *v);
// Stops the threads; the decoder is left at the picture after the one shown.
void qxVideoStop(qxVideo *v);
// Pause and resume wait at most 2 s for the threads' acknowledgements.
// Pause gives 1, and leaves the player as it was, when its end has been
// reported; else 0.
int qxVideoPause(qxVideo *v);
void qxVideoResume(qxVideo *v);
// A new position and displayed size (0: the video's own); a paused video
// shows its still picture there.
void qxVideoMoveResize(qxVideo *v, int32_t x, int32_t y, uint32_t width, uint32_t height, uint32_t smooth);
// While playing: the reader jumps to frame and the queues are flushed.
// 1 when the end had been reported before the jump: the player plays again.
int qxVideoSeekPlaying(qxVideo *v, uint32_t frame);
// Positions the decoder so that the next packet is frame's.
void qxVideoSeekDecoder(qxVideo *v, uint32_t frame);
// The master clock in seconds: the sound's when it plays, else the wall's.
double qxVideoClock(qxVideo *v);
// Byte-swaps CDXL rows (bytes 0, R, G, B) into native 0x00RRGGBB.
void qxVideoConvertRows(uint32_t *dst, uint32_t dstPitch, const uint32_t *src, uint32_t srcPitch, uint32_t w,
                        uint32_t h);
}
