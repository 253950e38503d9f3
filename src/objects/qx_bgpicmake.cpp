// BGPic images: pictures composed over fills, copies and the gradient and
// texture creators.
#include "objects/qx_bgpicobj.h"

#include "platform/qx_errcodes.h"

extern "C" {

int qxCopyBGPicData(lua_State *, void *, qxObjectRef *)
{
    return ERR_MEM;
}

int qxRenderBGPicImage(lua_State *, const uint32_t *, qxFillRecord *, uint32_t, int32_t, int32_t, uint32_t,
                       qxBitMap **, qxBitMap **, qxBitMap **)
{
    return ERR_MEM;
}

int qxFillBitMapFromRecord(lua_State *, qxBitMap *, qxFillRecord *, int32_t, int32_t)
{
    return ERR_MEM;
}

int qxCreateGradientObject(lua_State *, int, int32_t *, int32_t *, qxFillRecord *, qxBitMap **)
{
    return ERR_MEM;
}

int qxCreateTexturedObject(lua_State *, int, int32_t *, int32_t *, qxFillRecord *, qxBitMap **)
{
    return ERR_MEM;
}
}
