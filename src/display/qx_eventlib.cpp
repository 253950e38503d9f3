// The "event" command library.
#include "display/qx_displaylibs.h"

#include "core/commands/qx_commands.h"
#include "platform/qx_sync.h"

double qxEventStartTime;

static const qxCommandDef eventCommands[] = {
    {nullptr, nullptr},
};

static const qxConstantDef eventConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenEventLib(lua_State *L)
{
    qxEventStartTime = qxGetSeconds();
    return qxOpenCommandLibrary(L, "event", eventCommands, eventConstants);
}

extern "C" void qxFreeEventLib(lua_State *)
{
}
