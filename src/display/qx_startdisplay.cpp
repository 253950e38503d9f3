// Start-up services of the display and event libraries. No display exists
// until the display library opens one, so opening the first display and
// polling for events have nothing to do yet.
#include "display/qx_startdisplay.h"

#include "core/qx_cmdcall.h"

extern "C" {

int qxOpenFirstDisplay(lua_State *, qxAppletInfo *, qxStartupInfo *) { return 0; }

void qxPollEventsIfAllowed(lua_State *, lua_Debug *, int *, CallInfo *)
{
    // DisableLineHook keeps the hook from polling; there is nothing to poll yet.
    if (qxLineHookDisabled)
        return;
}
}
