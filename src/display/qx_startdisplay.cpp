// Start-up services of the display and event libraries. No display exists
// until the display library opens one, so opening the first display has
// nothing to do yet.
#include "display/qx_startdisplay.h"

#include "core/commands/qx_cmdcall.h"
#include "display/qx_events.h"
#include "platform/qx_errcodes.h"

extern "C" {

int qxOpenFirstDisplay(lua_State *, qxAppletInfo *, qxStartupInfo *) { return 0; }

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
