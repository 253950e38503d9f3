// Clip regions: rectangles or brush shapes that limit drawing on the current output.
#pragma once
#include <cstdint>

#include "platform/qx_objectref.h"

struct lua_State;
struct qxBitMap;

extern "C" {
struct qxClipRegion {
    uint32_t type; // 35
    qxObjectRef id;
    qxClipRegion *next;
    int32_t x, y, width, height;
    void *mask; // shape regions only
    uint32_t maskBytesPerRow;
    uint32_t orphaned, locked, isCopy;
};

// 0, 1041 (automatic identifier) or 1215 with the number stored.
int qxFindClipRegion(qxObjectRef id, qxClipRegion **out);
uint32_t qxClipRegionCount(void);
void qxFreeAllClipRegions(void);
int qxCmdCreateClipRegion(lua_State *L);
int qxCmdSetClipRegion(lua_State *L);
int qxCmdFreeClipRegion(lua_State *L);

// A private copy of region for a layer under matrix (x from m[0] and m[2],
// y from m[1] and m[3]): bounds holds a point of the layer before the
// transform (x, y) and where it lands after (x, y), and every point of the
// region moves as that one does, so the region follows the layer's pixels.
// Rectangles that stay upright stay boxes; others get a mask. A shape
// region takes shapeMask, its mask already under the matrix (made above
// this folder, where the image transform lives), as its own: the copy is
// placed at the transformed bounds with the mask's size. shapeMask is
// always taken over. NULL without memory or, for a shape, without shapeMask.
qxClipRegion *qxTransformClipRegion(const qxClipRegion *region, const double matrix[4], const double bounds[4],
                                    qxBitMap *shapeMask);
// Lets a layer's rendition go of its clip region (the rendition no longer
// pointing at it): a transformed copy is freed, a shared region only
// dropped, and an orphan the last layer let go of freed.
void qxFreeClipRegionRef(void *region);
}
