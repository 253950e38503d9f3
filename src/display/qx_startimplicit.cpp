// Which declared display is the default one start-up added itself. Kept
// apart: the applet's object records have their own region type.
#include "core/applet/qx_preproc.h"
#include "display/qx_startdisplay.h"

extern "C" int64_t qxImplicitDisplayId(const qxAppletInfo *applet)
{
    if (applet)
        for (const qxObjectRecord *o = applet->objects; o; o = o->next)
            if (o->kind == QX_OBJ_DISPLAY && o->implicit)
                return o->id;
    return -1;
}
