// Openers and close functions of the command libraries of this folder.
#pragma once
#include <cstdint>

struct qxVideoObject;
struct lua_State;
struct qxTagItem;
struct qxDisplay;
struct qxVideo;
struct qxObjectRef;

extern "C" {
int qxOpenSoundLib(lua_State *L);
void qxCloseSoundLib(lua_State *L);
void qxFreeAllMusic(lua_State *L);
int qxOpenVideoLib(lua_State *L);
void qxFreeAllVideos(lua_State *L);
// Stops every video that plays, is paused or ended, as StopVideo would.
void qxStopAllVideos(lua_State *L);
// Stops every video playing on the display (null: on any display).
void qxStopVideosOfDisplay(qxDisplay *display);
// Up to max rectangles {x, y, width, height} of the videos shown straight
// on the display (playing, paused, suspended or ended); their count.
int qxVideoRectsOfDisplay(qxDisplay *display, int32_t (*rects)[4], int max);
// The state (0..4) of the object that owns the player.
void qxSetVideoStateByPlayer(qxVideo *player, uint32_t state);
// The player's window position (position) and size (size) from the
// object's, through the display's scale factors when it auto-scales.
void qxVideoScaleSize(qxDisplay *display, qxVideoObject *o, int position, int size, int layer);
// A 1-bit mask of the display's window size with the rectangles of the
// videos drawn straight into it set, or none when there is no such video
// (or no memory). The caller frees it with qxFreeMaskBitMap.
struct qxBitMap *qxVideoAreaMask(struct qxBitMap *displayBitMap, qxDisplay *display);
int qxVideoAtPoint(qxDisplay *display, int32_t x, int32_t y);
int qxVideoPlaysOnDisplay(qxDisplay *display);
// Re-places every video drawn straight into the display at its current
// scale (a paused one shows its still there): the number re-placed.
int qxReplaceVideosOfDisplay(qxDisplay *display);
// 1 when a video plays on the display (its layer videos too unless skipped).
int qxIsVideoOnDisplay(qxDisplay *display, int skipLayers);
// The display is busy: its directly drawn videos deliver nothing (state 3)
// until resumed, when they get their old state back.
void qxSuspendVideosOfDisplay(qxDisplay *display);
void qxResumeVideosOfDisplay(qxDisplay *display);
// Fills the display, display-core and layer tables with the video layer code.
void qxLinkVideo(void);
void qxFreeAudioOutput(void);
int qxSoundAttrGetter(qxTagItem *item);
int qxSoundAttrSetter(qxTagItem *item);
}
