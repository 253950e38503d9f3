// The image objects' entries in the hook tables of the display layer.
#include "objects/qx_objectlink.h"

#include "display/qx_bitmap.h"
#include "display/qx_display.h"
#include "display/qx_displaylibs.h"
#include "display/qx_planesources.h"
#include "objects/qx_brush.h"
#include "objects/qx_bgpicdisplay.h"
#include "objects/qx_bgpicobj.h"
#include "objects/qx_displayopts.h"
#include "objects/qx_output.h"
#include "objects/qx_selection.h"
#include "platform/qx_errcodes.h"

namespace {

// Pointers and shape regions take the brush's planes as they are, hardware ones too.
int brushImage(lua_State *L, qxObjectRef ref, qxBitMap **bitmap, qxBitMap **mask, qxBitMap **alpha,
                      uint32_t *width, uint32_t *height)
{
    qxBrush *b = nullptr;
    if (int r = qxFindBrush(L, ref, &b, QX_FIND_HARDWARE))
        return r;
    if (!b->bitmap)
        return ERR_BITMAP;
    *bitmap = b->bitmap, *mask = b->mask, *alpha = b->alpha;
    *width = b->width, *height = b->height;
    return 0;
}

qxBitMap *workPicture(qxDisplay *d)
{
    return qxDisplayWorkBitmap(d, 0);
}

} // namespace

extern "C" void qxLinkObjects(void)
{
    qxGraphicsSetDrawTagsDefault = qxCmdSetDrawTagsDefault;
    qxGraphicsResetDrawTags = qxResetDrawTagTemplates;
    qxFreeDisplayExtras = qxFreeOutputState;
    qxEndDisplayRedirect = qxDisplayBGPicCore;
    qxEndDisplayDoubleBuffer = qxEndDoubleBufferCore;
    qxKeptDisplayRedirect = qxKeptOutputRecord;
    qxResizeDisplayBackBuffer = qxResizeBackBuffer;
    qxScaleDisplayBGPic = qxScaleBGPicPlanes;
    qxDisplayFill = {qxReadFillFields, qxFillBitMapFromRecord};
    qxPlaneSources.brush = brushImage;
    qxDisplayShownBitmap = qxShownBitmap;
    qxDisplayWorkPicture = workPicture;
    qxComputeDisplayScaleHook = qxComputeDisplayScale;
    if (!qxBitMapDisplay.currentView) qxBitMapDisplay.currentView = qxOutputView;
    qxBitMapDisplay.selectTargetFlags = qxSelectTargetFlags;
    qxBitMapDisplay.bltToDisplay = qxShowBlitOnDisplay;
    qxLinkImageAttributes();
}
