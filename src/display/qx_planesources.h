// Where the graphics library finds the planes of brushes and sprites.
#pragma once
#include <cstdint>

#include "platform/qx_objectref.h"

struct lua_State;
struct qxBitMap;

// Brushes and sprites live above this folder; their libraries fill these
// so that pointers and shape clip regions can be made from their images.
// The planes are borrowed. NULL: that kind of image cannot be used.
struct qxPlaneSourceHooks {
    int (*brush)(lua_State *L, qxObjectRef ref, qxBitMap **bitmap, qxBitMap **mask, qxBitMap **alpha,
                 uint32_t *width, uint32_t *height);
    // frame is 1-based; outside the sprite's frames 1094.
    int (*sprite)(lua_State *L, qxObjectRef ref, double frame, qxBitMap **bitmap, qxBitMap **mask,
                  qxBitMap **alpha, uint32_t *width, uint32_t *height);
};

extern "C" {
extern qxPlaneSourceHooks qxPlaneSources;
}
