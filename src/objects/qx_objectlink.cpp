// The image objects' entries in the hook tables of the display layer.
#include "objects/qx_objectlink.h"

#include "display/qx_bitmap.h"
#include "display/qx_display.h"
#include "display/qx_displaylibs.h"
#include "objects/qx_bgpicobj.h"
#include "objects/qx_displayopts.h"
#include "objects/qx_output.h"
#include "objects/qx_selection.h"

extern "C" void qxLinkObjects(void)
{
    qxGraphicsSetDrawTagsDefault = qxCmdSetDrawTagsDefault;
    qxFreeDisplayExtras = qxFreeOutputState;
    qxEndDisplayRedirect = qxDisplayBGPicCore;
    qxScaleDisplayBGPic = qxScaleBGPicPlanes;
    qxDisplayFill = {qxReadFillFields, qxFillBitMapFromRecord};
    qxDisplayShownBitmap = qxShownBitmap;
    if (!qxBitMapDisplay.currentView) qxBitMapDisplay.currentView = qxOutputView;
    qxLinkImageAttributes();
}
