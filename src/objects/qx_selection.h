// Output redirection: SelectBrush, SelectMask, SelectAlphaChannel,
// SelectBGPic and EndSelect, and the preparation of the selected object
// before the first drawing.
#pragma once
#include <cstdint>

#include "display/qx_bitmap.h"
#include "platform/qx_objectref.h"

typedef struct lua_State lua_State;
struct qxDisplay;
struct qxBGPic;

// What selections need of anims, layers and the layer engine, answered by
// their own issues; the defaults say "not found" or do nothing.
struct qxSelectionHooks {
    // An anim frame (1-based) or a layer's planes for a selection; an
    // error code (1176 / 1081 by default). A non-zero prepare finds it for
    // drawing into as that output-target type (qxPrepareTargetPlane).
    int (*findAnimFrame)(lua_State *L, qxObjectRef ref, uint32_t frame, int prepare, qxBitMap **bitmap,
                         qxBitMap **mask, qxBitMap **alpha, int32_t *width, int32_t *height);
    int (*findLayer)(lua_State *L, qxObjectRef ref, uint32_t frame, int prepare, qxBitMap **bitmap, qxBitMap **mask,
                     qxBitMap **alpha, int32_t *width, int32_t *height);
    // Marks the top layer of the BGPic dirty (drawing with SELMODE_LAYERS).
    void (*markTopLayerDirty)(lua_State *L, qxBGPic *bgpic);
    // The refresh of the rectangles collected while a BGPic was selected.
    void (*refreshCollected)(lua_State *L, qxDisplay *display);
    // EndSelect after drawing into the layer at this position.
    void (*layerDrawn)(lua_State *L, qxObjectRef ref);
};

extern "C" {
extern qxSelectionHooks qxSelectionHook;

int qxSelectTarget(lua_State *L, uint32_t objectType, qxObjectRef ref, uint32_t targetType, uint32_t frame,
                   uint32_t mode, uint32_t combo);
int qxPrepareOutputTarget(lua_State *L);
// The plane a mask or alpha target draws into: made when missing (every
// mask bit set, every alpha byte 255), and the other plane freed, as an
// object has one or the other. Nothing for other targets. 0, 1564 or 1565.
int qxPrepareTargetPlane(uint32_t target, qxBitMap *bitmap, int32_t width, int32_t height, qxBitMap **mask,
                         qxBitMap **alpha);
// EndSelect's core: output back to the display (or to the double buffer a
// selection interrupted).
int qxDisplayBGPicCore(lua_State *L, qxDisplay *display, int keepRects);
// 1 when output goes to a brush, mask or alpha channel that is this brush.
int qxOutputIsBrush(const qxDisplay *display, qxObjectRef ref);
// 1 when the current output, or a selection another display keeps, is
// this object (selected type and identifier).
int qxIsSelectedObject(uint32_t type, qxObjectRef ref);
// The output record of a display that double buffers (with or without a
// selection made meanwhile), else NULL: such a redirect survives switching
// displays.
qxBGPic *qxKeptOutputRecord(qxDisplay *display);

int qxCmdSelectBrush(lua_State *L);
int qxCmdSelectMask(lua_State *L);
int qxCmdSelectAlphaChannel(lua_State *L);
int qxCmdSelectBGPic(lua_State *L);
int qxCmdEndSelect(lua_State *L);
}
