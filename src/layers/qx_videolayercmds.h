// The layers library's video layer commands reach the video library
// through this table, which the top fills; empty entries answer 1515.
#pragma once

#include <cstdint>

#include "platform/qx_objectref.h"

typedef struct lua_State lua_State;
struct qxLayer;

struct qxVideoLayerCallTable {
    int (*play)(lua_State *L, qxLayer *layer);
    int (*stop)(lua_State *L, qxLayer *layer);
    int (*pause)(lua_State *L, qxLayer *layer);
    int (*resume)(lua_State *L, qxLayer *layer);
    int (*seek)(lua_State *L, qxLayer *layer, double frame);
    int (*setVolume)(lua_State *L, qxLayer *layer, double volume);
    // Stops the layer's video and detaches it; the layer stays.
    void (*detach)(lua_State *L, qxLayer *layer);
    // A new video layer on top showing the video's current picture.
    int (*insert)(lua_State *L, qxObjectRef video, int32_t x, int32_t y, qxLayer **out);
    // Frees the videos the script let go that no layer shows any longer.
    void (*freeDeleted)(lua_State *L);
    // 1 while the layer's video plays (its frames keep arriving).
    int (*playing)(qxLayer *layer);
};

extern "C" {
extern qxVideoLayerCallTable qxVideoLayerCalls;

int qxCmdPlayLayer(lua_State *L);
int qxCmdStopLayer(lua_State *L);
int qxCmdPauseLayer(lua_State *L);
int qxCmdResumeLayer(lua_State *L);
int qxCmdSeekLayer(lua_State *L);
int qxCmdSetLayerVolume(lua_State *L);
}
