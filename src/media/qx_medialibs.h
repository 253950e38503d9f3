// Openers and close functions of the command libraries of this folder.
#pragma once

struct lua_State;
struct qxTagItem;
struct qxDisplay;

extern "C" {
int qxOpenSoundLib(lua_State *L);
void qxCloseSoundLib(lua_State *L);
void qxFreeAllMusic(lua_State *L);
int qxOpenVideoLib(lua_State *L);
void qxFreeAllVideos(lua_State *L);
// Stops every video playing on the display (null: on any display).
void qxStopVideosOfDisplay(qxDisplay *display);
// Fills the display, display-core and layer tables with the video layer code.
void qxLinkVideo(void);
void qxFreeAudioOutput(void);
int qxSoundAttrGetter(qxTagItem *item);
int qxSoundAttrSetter(qxTagItem *item);
}
