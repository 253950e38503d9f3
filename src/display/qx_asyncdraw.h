// Async drawing: effects drawn one frame per AsyncDrawFrame call.
#pragma once
#include <cstdint>

#include "platform/qx_objectref.h"

struct lua_State;
struct qxDisplay;

extern "C" {
struct qxAsyncDraw {
    uint32_t type; // 37
    qxObjectRef id;
    qxAsyncDraw *next;
    qxDisplay *display;
    uint32_t kind; // 0 fx, 1 move-object, 2 anim
    uint32_t finished;
    int (*drawFrame)(void *userData, uint32_t *finished);
    void *second;
    void (*finish)(void *userData, uint32_t finished, uint32_t finished2);
    void (*free)(void *userData, int code);
    intptr_t (*method)(int op, void *arg, void *userData);
    void *userData;
};

enum : int {
    QX_ADOP_COUNT = 2, QX_ADOP_CURRENT = 3, QX_ADOP_SEEK = 4, QX_ADOP_SHOW = 5, QX_ADOP_DRAWN = 6,
    QX_ADOP_BUSY = 7, // argument receives the BGPic the object works on, if any
    QX_ADOP_DRAWING = 8, // argument non-null: begin of drawing one frame; null: its end
};

// 0 or 1000; the object belongs to the current display.
int qxAddAsyncDraw(uint32_t kind, int (*drawFrame)(void *, uint32_t *), void *second,
                   void (*finish)(void *, uint32_t, uint32_t), void (*free)(void *, int),
                   intptr_t (*method)(int, void *, void *), void *userData, qxAsyncDraw **out);
// 0, 1041 (automatic identifier) or 1326.
int qxFindAsyncDraw(qxObjectRef id, qxAsyncDraw **out);
int qxRemoveAsyncDraw(qxAsyncDraw *object, int code);
// 1 when an async-draw object was made on this display.
int qxIsAsyncDrawOnDisplay(const qxDisplay *display);
// The BGPic that the first unfinished async-draw object works on (a
// transition's emulated BGPic), or NULL.
void *qxAsyncDrawBusy(void);
// 1 when an async-draw object reports object (a layer) as the one it draws.
int qxIsObjectInAsyncDraw(const void *object);
// Tells every async-draw object that a layer is replaced (event 0) or that
// its picture changes (event 1); the first error an object returns.
int qxAsyncDrawBroadcast(int event, void *layer);
void qxFreeAllAsyncDraws(void);
// Cancels the async draws made on the display (its BGPic is replaced).
void qxFreeAsyncDrawsOfDisplay(const qxDisplay *display);
uint32_t qxAsyncDrawCount(void);
// One AsyncDrawFrame on display d: frame < 0 when not given; *pushed is the
// result. The object may be gone afterwards.
int qxAsyncDrawFrameOn(lua_State *L, qxDisplay *d, qxAsyncDraw *object, int64_t frame, int *pushed);
int qxCmdAsyncDrawFrame(lua_State *L);
int qxCmdFinishAsyncDraw(lua_State *L);
int qxCmdCancelAsyncDraw(lua_State *L);
}
