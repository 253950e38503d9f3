// The video object of the "video" library, shared by its commands and the
// video layers.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "core/commands/qx_objreg.h"
#include "media/qx_video.h"

typedef struct lua_State lua_State;
struct qxLayer;

constexpr uint32_t QX_TYPE_VIDEO = 50;

struct qxVideoObject {
    qxObjectHeader header;
    qxVideo *player;
    int32_t x, y;
    uint32_t width, height;           // the video's own size
    uint32_t reqWidth, reqHeight;     // requested size
    uint32_t smooth;
    uint32_t frames;
    std::atomic<uint32_t> state;      // 0 stopped, 1 playing, 2 paused, 3 suspended, 4 ended
    uint32_t keptState;               // the state to return to after a suspension
    uint32_t volume;
    uint32_t seekable;
    uint32_t temporary;               // a clone, or a closed video kept for its layer; freed when no layer shows it
    uint32_t locked;                  // while set, commands that modify the video refuse it (1314)
    qxLayer *layer;                   // the layer showing the video, or none
    std::string fileName;             // kept whole: a clone reopens exactly this file
    std::string loaders;
};

// qxFindVideo flags: 1 the caller modifies the video (a locked one gives
// 1314); 2 also finds temporary objects, which the script cannot name; 4 no
// copy for a layer, which is always so: a layer plays the video itself.
enum : uint32_t { QX_FINDVIDEO_MODIFY = 1, QX_FINDVIDEO_TEMPORARY = 2, QX_FINDVIDEO_NOCOPY = 4 };

extern "C" {
// 0, 1449, 1041 or 1314.
int qxFindVideo(qxObjectRef ref, qxVideoObject **out, uint32_t flags);
int qxFindVideoObject(qxObjectRef ref, qxVideoObject **out);
// The object whose player this is, or none.
qxVideoObject *qxVideoOfPlayer(const qxVideo *player);
// The object a layer shows, or none.
qxVideoObject *qxVideoOfLayer(const qxLayer *layer);
// The object whose layer has data as its base rendition, or none.
qxVideoObject *qxVideoOfLayerData(const void *data);
// A temporary second object opened from the same file: 0 or an open error.
int qxCloneVideo(qxVideoObject *o, qxVideoObject **out);
void qxFreeVideoObject(lua_State *L, qxVideoObject *o);
// The script lets a video go (CloseVideo, OpenVideo over its number): a
// video that a layer still shows keeps playing there under its own address
// as a temporary object; any other is freed.
void qxReleaseVideoObject(lua_State *L, qxVideoObject *o);
// Frees the temporary videos that no layer shows any longer.
void qxFreeVideosOfDisplay(lua_State *L);
// Pause (1451), resume (1452), seek (1482, 1233) and volume (clamped to
// 0..64) of a video, playing directly or as a layer.
int qxPauseVideo(qxVideoObject *o);
int qxResumeVideo(qxVideoObject *o);
int qxSeekVideo(qxVideoObject *o, double frame);
void qxSetVideoVolume(qxVideoObject *o, double volume);
// Stops the player; a stop rewinds unless the video was stopped already.
void qxStopVideoObject(qxVideoObject *o);

// Video layers.
// Adds a layer of type 50 showing the player's pictures at x, y with the
// display options at optArg (0: none): 0 or an error code.
int qxAddVideoLayer(lua_State *L, qxVideoObject *o, int32_t x, int32_t y, int optArg, const uint32_t *pixels,
                    uint32_t pitch);
// Stops a layer's video and lets the layer keep its last picture.
void qxDetachVideo(lua_State *L, qxVideoObject *o);
int qxCmdDisplayVideoFrame(lua_State *L);
int qxPlayVideoLayer(lua_State *L, qxVideoObject *o, int32_t x, int32_t y, int optArg);
}
