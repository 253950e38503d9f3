// A BGPic in the forms a display and the transitions need: its composite
// with layers and sprites, a bitmap of a rectangle to draw from, and the
// output switched to the display for a while.
#pragma once
#include <cstdint>

#include "display/qx_bgpic.h"
#include "display/qx_bitmap.h"

typedef struct lua_State lua_State;
struct qxDisplay;

extern "C" {
// The BGPic as shown: its own picture without layers and sprites, else
// redrawn whole into the display's composite buffer.
qxBitMap *qxGetBGPicComposite(lua_State *L, qxDisplay *display, qxBGPic *bgpic);
// A bitmap holding the BGPic's rectangle as shown; *owned tells whether
// the caller frees it. 0 or 1522.
int qxGetBGPicDrawTarget(lua_State *L, qxBGPic *bgpic, int32_t x, int32_t y, int32_t width, int32_t height,
                         qxBitMap **out, uint32_t *owned);
// Scales the BGPic's base planes to the display's scaled size and makes
// them its current planes, with the display's scale factors set to the
// scaled size over the working size. 0 or an allocation error; the planes
// stay as they were on failure.
int qxScaleBGPicToDisplay(lua_State *L, qxDisplay *display, qxBGPic *bgpic, int reallocate);
// The display's scale factors for a BGPic it shows: a layer-scaling display
// gets the BGPic at its scaled size, an autoscaled one showing a BGPic with
// mask or alpha those planes at the scaled size in *mask / *alpha (owned by
// the caller); unscaled, both factors are 1.0. 0 or a scaling error.
int qxComputeDisplayScale(lua_State *L, qxDisplay *display, qxBGPic *bgpic, qxBitMap **mask, qxBitMap **alpha);
// 1 when the rectangle meets an on-screen sprite of the BGPic.
int qxIsAreaDirty(qxBGPic *bgpic, int32_t x, int32_t y, int32_t width, int32_t height);
}
