// BGPic lookup and lifetime, copies and conversions, and the image a
// BGPic is rendered from (picture composed over its fill).
#pragma once
#include <cstdint>

#include "display/qx_bgpic.h"
#include "platform/qx_objectref.h"

struct lua_State;

extern "C" {
int qxFindBGPic(lua_State *L, qxObjectRef ref, qxBGPic **out, uint32_t flags);
int qxFreeBGPic(lua_State *L, qxObjectRef ref, int reportMissing);
void qxFlushDeletedBGPics(lua_State *L);
int qxCopyBGPicData(lua_State *L, void *record, qxObjectRef *newRef);
// Planes from ARGB pixels composed over fill (see the BGPic library); with
// no pixels the fill alone. *alpha may hold the loader's alpha plane.
int qxRenderBGPicImage(lua_State *L, const uint32_t *pixels, qxFillRecord *fill, uint32_t transparentColour,
                       int32_t width, int32_t height, uint32_t rowLength, qxBitMap **bitmapOut, qxBitMap **maskOut,
                       qxBitMap **alpha);
// Fills a bitmap from a fill record (colour, gradient or texture).
int qxFillBitMapFromRecord(lua_State *L, qxBitMap *bitmap, qxFillRecord *fill, int32_t width, int32_t height);
// CreateGradientBGPic's and CreateTexturedBGPic's back-ends on argument
// positions starting at first (the brush library reuses them).
int qxCreateGradientObject(lua_State *L, int first, int32_t *width, int32_t *height, qxFillRecord *fill,
                           qxBitMap **bitmapOut);
int qxCreateTexturedObject(lua_State *L, int first, int32_t *width, int32_t *height, qxFillRecord *fill,
                           qxBitMap **bitmapOut);
// Makes the BGPic the current display's and shows it; x and y 100000 keep
// the position, 200000 centre when the size changes. For a transition, copies of the old and the new picture.
// The gradient (fill style 2) and texture fields of a tag table into a
// fill record whose style is set. 0 or the reader's error.
int qxReadFillFields(lua_State *L, int t, qxFillRecord *fill);
// New working planes of width x height from the base planes (pixels
// scaled, or a vector source or fill rendered again). 0, 1218, 1522.
int qxScaleBGPicPlanes(lua_State *L, qxBGPic *bgpic, int32_t width, int32_t height, int smooth);
int qxDisplayBGPicCmd(lua_State *L, qxObjectRef id, int x, int y, int forTransition, qxBitMap **outNew,
                      qxBitMap **outOld);
// Renders the BGPics loaded before a display existed from their sources.
int qxRealizeBGPics(lua_State *L);
int qxCountAllLayers(void);
void qxFreeAllBGPics(lua_State *L);
}
