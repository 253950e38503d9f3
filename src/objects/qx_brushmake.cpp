// Making brushes: empty ones, from bitmaps and plug-in pixels, realising
// brushes loaded before a display, and hardware brushes.
#include "objects/qx_brush.h"

#include "platform/qx_errcodes.h"

extern "C" {

int qxFillBrushPixels(qxObjectRef *, int32_t, int32_t, uint32_t, int, int, int, int, int, int, const qxObjectRef *)
{
    return ERR_MEM;
}

int qxRealizeBrushes(int, int)
{
    return 0;
}

int qxBackupHardwareBrushes(qxDisplay *)
{
    return 0;
}

int qxRebuildBrushBitmaps(qxDisplay *)
{
    return 0;
}

void qxFreeDeletedBrushes(lua_State *, qxDisplay *)
{
}

void *qxHardwareBrushHandle(qxObjectRef *, void *)
{
    return nullptr;
}

int qxBrushFromLayer(lua_State *, qxObjectRef *, uint32_t, uint32_t, const qxBrushPixelRecord *)
{
    return ERR_MEM;
}

int qxGetBrushBitmaps(lua_State *, qxObjectRef, qxBitMap **, qxBitMap **, qxBitMap **, uint32_t *, uint32_t *)
{
    return 0;
}

int qxGetBrushImage(lua_State *, qxObjectRef, qxBitMap **, qxBitMap **, qxBitMap **, uint32_t *, uint32_t *)
{
    return ERR_MEM;
}

int qxBrushFromBitmap(qxObjectRef *, qxBitMap *, qxBitMap *, qxBitMap *, uint32_t, uint32_t, uint32_t)
{
    return ERR_MEM;
}
}
