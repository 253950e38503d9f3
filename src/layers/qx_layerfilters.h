// Layer filters: the 21 filters of a layer's filter block, their reader and
// the filtered picture each rendition keeps.
#pragma once
#include <cstdint>

#include "layers/qx_layer.h"

extern "C" {
// The filter id of a name (any letter case), -1 when unknown.
int qxFilterIndex(const char *name);
const char *qxFilterName(int id);
// The entry's arguments in the script's order into out (at most 5); their count.
int qxFilterArgs(const qxFilterEntry *entry, int id, double *out);
// Reads the "filters" list of the table at index table into block: 1 when
// it was there; 0 with *errorOut set (0 when absent). The block is left as
// it was on error.
int qxSetLayerFilters(lua_State *L, int table, qxFilterBlock *block, int *readOut, int *errorOut);
int qxFiltersGeometric(const qxFilterBlock *block);
int qxLayerHasGeometricFilter(const qxLayer *layer);
// Runs the enabled filters over the planes, priority 255 down to 0, equal
// priorities in filter order; geometricOnly: only those that move pixels.
int qxApplyFilters(const qxFilterBlock *block, qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t width,
                   int32_t height, int geometricOnly);
// The filtered copy of (sx, sy, dwidth, dheight) of the planes into the
// rendition, unless it has one.
int qxBuildFilteredImage(qxLayerData *data, qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t sx,
                         int32_t sy, const qxFilterBlock *block);
void qxFreeXformImage(qxLayerData *data);
// Drops the filtered picture of every distinct rendition.
void qxFreeLayerXformImages(qxLayer *layer);
}
