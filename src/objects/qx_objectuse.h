// Objects still shown by layers: which layers show an object, copy-on-write
// before modification, and records left pending deletion until the last
// layer showing them goes.
#pragma once
#include <cstdint>

#include "display/qx_bgpic.h"
#include "platform/qx_objectref.h"

struct lua_State;

// Makes an independent copy of record under an automatic identifier: newRef
// arrives as {0, QX_NEW_AUTOMATIC} and receives the copy's address.
typedef int (*qxCopyObjectFn)(lua_State *L, void *record, qxObjectRef *newRef);

extern "C" {
int qxFindLayerUsing(uint32_t type, qxObjectRef ref, const void *skipLayer, qxBGPic **bgpicOut, void **layerOut);
int qxRepointLayers(uint32_t type, qxObjectRef ref, void *newAutomatic);
// When a layer shows the object, a duplicate takes over its layers; the
// caller then modifies its own record. *duplicate is set only when one was made.
int qxCopyOnWrite(lua_State *L, uint32_t type, qxObjectRef ref, qxCopyObjectFn copy, void *record,
                  void **duplicate);
// 1 when the current output names this object (selected type and identifier).
int qxIsCurrentOutputObject(uint32_t type, qxObjectRef ref);
}
