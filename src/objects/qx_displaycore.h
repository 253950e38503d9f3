// The display core: the one routine that puts a brush, a part of a brush
// or BGPic, an anim frame or a video frame on the current output, as a new
// layer with layers enabled, else transformed, blended and blitted.
#pragma once
#include <cstdint>

#include "display/qx_bitmap.h"
#include "objects/qx_displayopts.h"
#include "platform/qx_objectref.h"

typedef struct lua_State lua_State;

enum : uint32_t {
    QX_OBJ_BRUSH = 3, QX_OBJ_ANIM = 4, QX_OBJ_BRUSHPART = 12, QX_OBJ_BGPICPART = 13, QX_OBJ_VIDEO = 50,
};
enum : uint32_t {
    QX_DO_PREPARE = 1, QX_DO_TRANSFORMED = 4, QX_DO_UPTODATE = 8, QX_DO_RERENDER = 16, QX_DO_PENDING = 0x400,
};

// What the layer, anim and video issues fill; the defaults answer "not
// available" (1078) or "not found".
struct qxDisplayCoreHooks {
    // The layer constructor behind qxAddLayerNode.
    int (*addLayer)(lua_State *L, uint32_t type, qxObjectRef ref, int32_t a, int32_t b, int32_t x, int32_t y,
                    int32_t width, int32_t height, const qxTransformOptions *options, const qxObjectStyle *style,
                    qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t position, uint32_t flags,
                    void *extra);
    // Re-renders an existing layer with its options (flag 16).
    int (*rerenderLayer)(lua_State *L, void *layer, qxTransformOptions *options, uint32_t flags);
    // An anim frame's planes (0-based), its size and whether the planes are
    // a temporary copy the caller frees.
    int (*animFrame)(lua_State *L, qxObjectRef ref, uint32_t frame, qxBitMap **bitmap, qxBitMap **mask,
                     qxBitMap **alpha, int32_t *width, int32_t *height, int *temporary);
    // A video's size.
    int (*videoSize)(lua_State *L, qxObjectRef ref, int32_t *width, int32_t *height);
    // Shows frame (0-based) on the anim layer at position that shows ref;
    // -1 when no such layer stands there. NULL: anim layers do not step.
    int (*setAnimLayerFrame)(lua_State *L, int32_t position, qxObjectRef ref, uint32_t frame);
};

extern "C" {
extern qxDisplayCoreHooks qxDisplayCoreHook;

int qxAddLayerNode(lua_State *L, uint32_t type, qxObjectRef ref, int32_t a, int32_t b, int32_t x, int32_t y,
                   int32_t width, int32_t height, const qxTransformOptions *options, const qxObjectStyle *style,
                   qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t position, uint32_t flags, void *extra);

int qxDisplayObject(lua_State *L, void *layer, void *transform, uint32_t type, qxObjectRef ref, qxBitMap *frameBitmap,
                    uint32_t frame, int32_t sx, int32_t sy, int32_t x, int32_t y, int32_t width, int32_t height,
                    uint32_t partMode, int optionsArg, qxTransformOptions *options, qxObjectStyle *style,
                    qxBitMap **outBitmap, uint32_t *outOwned, void *reserved, uint32_t flags);
int qxDisplayBrushCore(lua_State *L, qxObjectRef ref, int32_t x, int32_t y, int optionsArg);

int qxCmdDisplayBrush(lua_State *L);
int qxCmdDisplayBrushPart(lua_State *L);
int qxCmdDisplayBGPicPart(lua_State *L);
}
