// Start-up services of the display and event libraries: opening the
// displays the applet declares, and the per-line hook.
#include "display/qx_startdisplay.h"

#include <cstdio>
#include <cstring>

#include "core/commands/qx_cmdcall.h"
#include "core/runtime/qx_options.h"
#include "display/qx_adapter.h"
#include "display/qx_displaycmds.h"
#include "display/qx_events.h"
#include "platform/qx_errcodes.h"
#include "platform/x11/x11_display.h"

namespace {

// The default display that the applet did not declare itself.
bool isImplicit(const qxAppletInfo *applet, const qxDisplay *d)
{
    (void)applet;
    return d == qxImplicitDisplay;
}

qxDisplay *nextOf(const qxDisplay *d) { return static_cast<qxDisplay *>(d->header.next); }

} // namespace

extern "C" {

int qxOpenFirstDisplay(lua_State *L, qxAppletInfo *applet, qxStartupInfo *startup)
{
    if (applet)
        std::snprintf(x11DefaultServer, sizeof x11DefaultServer, "%s", applet->xServer);
    x11NoMouseHook = qxGlobalSettings.noPointerWatch;
    bool any = false;
    for (qxDisplay *d = qxDisplays; d; d = nextOf(d))
        if (d->state == QX_DISPSTATE_CLOSED && !(d->flags & QX_DISP_HIDDEN) && !d->backfill &&
            !isImplicit(applet, d))
            any = true;
    if (any) {
        if (int r = qxEnsureWindowing())
            return r;
        const bool quiet = startup && startup->quiet;
        if (!quiet)
            std::printf("Preparing display\n");
        for (qxDisplay *d = qxDisplays; d; d = nextOf(d))
            if (int r = qxApplyFitScale(d))
                return r;
        for (qxDisplay *d = qxDisplays; d; d = nextOf(d)) {
            if (d->state != QX_DISPSTATE_CLOSED || (d->flags & QX_DISP_HIDDEN) || d->backfill ||
                isImplicit(applet, d))
                continue;
            if (int r = qxOpenDisplayWindow(L, d, 2))
                return r;
        }
        if (!quiet)
            std::printf("done\nAnd Action!\n");
        std::fflush(stdout);
    }
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
