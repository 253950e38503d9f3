// Pointer images a script makes for the mouse pointer of a display.
#pragma once
#include <cstdint>

#include "platform/qx_objectref.h"

struct lua_State;
struct qxBitMap;

// Brushes and sprites live above this folder; their libraries fill these
// so that pointers and clip regions can be made from their images. The
// planes are borrowed. NULL: that kind of image cannot be used.
struct qxImageSourceHooks {
    int (*brush)(lua_State *L, qxObjectRef ref, qxBitMap **bitmap, qxBitMap **mask, qxBitMap **alpha,
                 uint32_t *width, uint32_t *height);
    // frame is 1-based; outside the sprite's frames 1094.
    int (*sprite)(lua_State *L, qxObjectRef ref, double frame, qxBitMap **bitmap, qxBitMap **mask,
                  qxBitMap **alpha, uint32_t *width, uint32_t *height);
};

extern "C" {
extern qxImageSourceHooks qxImageSources;

struct qxPointer {
    uint32_t type; // 36
    qxObjectRef id;
    qxPointer *next;
    uint32_t width, height;
    void *handle;      // the platform's or adapter's pointer, custom images only
    uint32_t kind;     // 0 system, 1 busy, 2 custom image
    uint32_t orphaned;       // freed while a display still shows it
};

// 0, 1041 (automatic identifier) or 1320 with the number stored.
int qxFindPointer(qxObjectRef id, qxPointer **out);
uint32_t qxPointerCount(void);
void qxFreeAllPointers(void);
int qxCmdCreatePointer(lua_State *L);
int qxCmdSetPointer(lua_State *L);
int qxCmdFreePointer(lua_State *L);
}
