// Pointer images a script makes for the mouse pointer of a display.
#pragma once
#include <cstdint>

#include "platform/qx_objectref.h"

struct lua_State;

extern "C" {

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
// The size of a display's pointer: the image's, or for a standard pointer
// (or none) the platform's pointer size.
void qxPointerSize(const qxPointer *pointer, uint32_t *width, uint32_t *height);
void qxFreeAllPointers(void);
int qxCmdCreatePointer(lua_State *L);
int qxCmdSetPointer(lua_State *L);
int qxCmdFreePointer(lua_State *L);
}
