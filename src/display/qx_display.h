// The display list: every display record in creation order, the current
// display, lookup by identifier or window handle, visibility, and freeing.
#pragma once
#include <cstdint>

#include "platform/qx_displayrecord.h"
#include "platform/qx_sync.h"

typedef struct lua_State lua_State;
struct qxFillRecord;

extern "C" {
extern qxDisplay *qxDisplays;
extern qxDisplay *qxCurrentDisplay;
extern qxMutex *qxDisplayListMutex;

// Creates the display-list mutex (1298) and fills the pump's up-calls for
// the list and visibility.
int qxInitDisplayList(void);
void qxExitDisplayList(void);
// A zero-filled record with the defaults of a new display (handler slots
// empty, title "Zephyrane", scale 1.0, windowed); NULL out of memory.
qxDisplay *qxNewDisplayRecord(uint32_t id);
void qxAppendDisplay(qxDisplay *display);
// 0, 1041 (automatic identifier) or 1344 with the number stored.
int qxFindDisplay(qxObjectRef ref, qxDisplay **out);
qxDisplay *qxFindDisplayByHandle(const void *handle);
qxDisplay *qxFindDisplayForBGPic(const qxBGPic *bgpic);
int qxDisplayIsVisible(qxDisplay *display);
// 0 or 1558.
int qxGetDisplayGeometry(qxDisplay *display, int *x, int *y, int *width, int *height);
// 0-based index of the monitor sharing the largest area with a rectangle
// (the first of equals; 0 when none overlaps), and that of the display's
// window with its frame.
uint32_t qxMonitorOfRect(const struct x11Monitor *list, int x, int y, int width, int height);
uint32_t qxDisplayMonitorOf(const qxDisplay *display, const struct x11Monitor *list);
void qxDisplayScaleSize(const qxDisplay *display, int *width, int *height, int *scaleWidth,
                        int *scaleHeight);
// The picture a display shows when the layers above draw into a copy of
// its BGPic (layers off); NULL or a NULL answer: the BGPic's own bitmap.
extern struct qxBitMap *(*qxDisplayShownBitmap)(qxDisplay *display);
// The display's picture as it stands without double buffering (its BGPic
// with what was drawn, layers and sprites); filled by the layers above.
// NULL or a NULL answer: the BGPic's own bitmap.
extern struct qxBitMap *(*qxDisplayWorkPicture)(qxDisplay *display);
// What the layers above keep per display (output state, double buffer),
// freed with the record; filled by them. NULL: nothing.
extern void (*qxFreeDisplayExtras)(qxDisplay *display);
// Stops the videos playing on a display, before it goes or shows another
// BGPic; filled by the top.
extern void (*qxStopDisplayVideos)(qxDisplay *display);
// 1 while videos are shown straight on the display (not as layers).
int qxDisplayHasVideos(qxDisplay *display);
// Scales a BGPic's working planes to a display's new size (the image
// objects' qxScaleBGPicPlanes). NULL: the BGPic keeps its size.
extern int (*qxScaleDisplayBGPic)(lua_State *L, qxBGPic *bgpic, int32_t width, int32_t height, int smooth);
// The display's scale factors for a BGPic it is to show and, autoscaling a
// shaped BGPic, its mask and alpha at the scaled size (owned by the caller);
// the image objects' qxComputeDisplayScale. NULL: factors and shape stay.
extern int (*qxComputeDisplayScaleHook)(lua_State *L, qxDisplay *display, qxBGPic *bgpic, qxBitMap **mask,
                                        qxBitMap **alpha);
// Gradient and texture fills of a display's own BGPic, filled by the image
// objects (qxReadFillFields, qxFillBitMapFromRecord). NULL: colour only.
struct qxDisplayFillHooks {
    int (*read)(lua_State *L, int t, qxFillRecord *fill);
    int (*fill)(lua_State *L, qxBitMap *bitmap, qxFillRecord *fill, int32_t width, int32_t height);
};
extern qxDisplayFillHooks qxDisplayFill;
// Ends a Select redirect of the display (output back to its BGPic);
// filled by the image objects. NULL: nothing to end.
extern int (*qxEndDisplayRedirect)(lua_State *L, qxDisplay *display, int keepRects);
// Ends the display's double buffering (as EndDoubleBuffer); filled by the
// image objects. NULL: nothing to end.
extern int (*qxEndDisplayDoubleBuffer)(lua_State *L, qxDisplay *display);
// The output record of a redirect that survives switching displays (double
// buffering, and a selection made meanwhile); filled by the image objects.
// NULL, or a NULL answer: none.
extern qxBGPic *(*qxKeptDisplayRedirect)(qxDisplay *display);
// Gives a double-buffering display's back buffer its BGPic's new size;
// filled by the image objects. NULL: nothing to resize.
extern int (*qxResizeDisplayBackBuffer)(qxDisplay *display);
// Frees a display with the refusals of FreeDisplay (1346, 1380, 1504,
// 1455; none while the library closes); the
// window is closed first. L may be NULL when no references are held.
int qxFreeDisplay(lua_State *L, qxDisplay *display);
// While output is redirected the text cursor belongs to the target: with
// save the display's cursor and margins are kept aside (first call only)
// and the cursor starts at 0, 0 within margins 0 .. width - 1.
void qxDisplaySuspendPointer(qxDisplay *display, int save, int32_t width);
// Output back on the display: its own text cursor and margins return.
void qxDisplayResetState(qxDisplay *display);
// Shutdown: closes every window but those of backfill displays and frees
// every record (BGPics are the BGPic library's); the list ends empty.
void qxFreeAllDisplays(lua_State *L);
}
