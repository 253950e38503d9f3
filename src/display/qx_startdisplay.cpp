// Start-up services of the display and event libraries: opening the
// displays the applet declares, and the per-line hook.
#include "display/qx_startdisplay.h"

#include <cstdio>
#include <cstring>

#include "core/commands/qx_cmdcall.h"
#include "core/errors/qx_errors.h"
#include "core/errors/qx_messages.h"
#include "core/files/qx_file.h"
#include "core/runtime/qx_options.h"
#include "display/qx_adapter.h"
#include "display/qx_displaycmds.h"
#include "display/qx_events.h"
#include "platform/qx_errcodes.h"
#include "platform/x11/x11_display.h"

namespace {

qxDisplay *nextOf(const qxDisplay *d) { return static_cast<qxDisplay *>(d->header.next); }

bool opensAtStart(const qxDisplay *d)
{
    return d->state == QX_DISPSTATE_CLOSED && !(d->flags & QX_DISP_HIDDEN) && !d->backfill;
}

} // namespace

extern "C" {

int qxOpenFirstDisplay(lua_State *L, qxAppletInfo *applet, qxStartupInfo *)
{
    if (applet)
        std::snprintf(x11DefaultServer, sizeof x11DefaultServer, "%s", applet->xServer);
    x11NoMouseHook = qxGlobalSettings.noPointerWatch;
    if (int r = qxEnsureWindowing())
        return r;
    qxDebugPrintLine(qxGetErrorText(QX_MSG_PREPARINGDISPLAY), nullptr, 1);
    for (qxDisplay *d = qxDisplays; d; d = nextOf(d))
        if (int r = qxApplyFitScale(d)) {
            qxPrintFailed();
            return r;
        }
    // Every display that is to be seen opens now, the applet's default
    // display 1 included.
    for (qxDisplay *d = qxDisplays; d; d = nextOf(d)) {
        if (!opensAtStart(d))
            continue;
        if (int r = qxOpenDisplayWindow(L, d, 2)) {
            qxPrintFailed();
            return r;
        }
    }
    qxPrintDone();
    qxDebugPrintLine(qxGetErrorText(QX_MSG_ANDACTION), nullptr, 0);
    std::fflush(stdout);
    for (qxDisplay *d = qxDisplays; d; d = nextOf(d))
        if ((d->flags & QX_DISP_ACTIVE) && !(d->flags & QX_DISP_HIDDEN) &&
            d->state != QX_DISPSTATE_CLOSED) {
            qxCurrentDisplay = d;
            qxDispActivate(d, 1);
        }
    if (!qxCurrentDisplay)
        qxFindDisplay({1, nullptr}, &qxCurrentDisplay);
    return 0;
}

void qxPollEventsIfAllowed(lua_State *L, lua_Debug *, int *result, CallInfo *)
{
    // DisableLineHook keeps the hook from polling.
    if (qxLineHookDisabled)
        return;
    int error = 0;
    if (qxPollEvents(L, 1, 0, &error))
        *result = error ? error : ERR_USERABORT;
}
}
