// Move lists: recorded layer and brush operations that DoMove performs in
// one batch with one redraw per merged rectangle.
#pragma once
#include <cstdint>

#include "core/commands/qx_objreg.h"
#include "layers/qx_layer.h"

enum : uint32_t { QX_TYPE_MOVELIST = 51, QX_MOVELIST_ENTRIES = 512 };

struct qxMoveEntry {
    uint32_t kind;      // an object type code
    qxObjectRef target; // the object, or the layer position of layer kinds
    int32_t x, y;
    uint32_t rectset;
    int32_t extra;
    int32_t x1, y1, x2, y2; // the entry's dirty rectangle; x1 = 10000: none
};

struct qxMoveList {
    // Same leading layout as qxObjectHeader.
    uint32_t type;
    uint32_t id;
    void *automatic;
    qxMoveList *next;
    qxObjectDataItem *data;
    qxMoveEntry entries[QX_MOVELIST_ENTRIES];
    int32_t count;
};

extern "C" {
// A new layer of an object at (x, y) at a position (0: on top); hidden
// layers and those told not to redraw are not drawn.
int qxInsertLayer(lua_State *L, int32_t position, uint32_t type, qxObjectRef ref, int32_t x, int32_t y, int noRedraw,
                  int hidden, qxLayer **out);
int qxFindMoveList(qxObjectRef ref, qxMoveList **out);
// Moves a layer to the entry's position and stores the area it touched.
void qxMoveListMoveLayer(lua_State *L, qxBGPic *bgpic, qxLayer *layer, qxMoveEntry *entry, int useVisibility);
int qxCmdAddMove(lua_State *L);
int qxCmdClearMove(lua_State *L);
// The passes of DoMove (after the layer-mode guard and the argument check).
int qxDoMove(lua_State *L);
void qxFreeMoveLists(void);
int qxRegisterMoveLists(void);
}
