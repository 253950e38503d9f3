// The "event" command library.
#include "display/qx_displaylibs.h"

#include "core/commands/qx_commands.h"

static const qxCommandDef eventCommands[] = {
    {nullptr, nullptr},
};

static const qxConstantDef eventConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenEventLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "event", eventCommands, eventConstants);
}

extern "C" void qxFreeEventLib(lua_State *)
{
}
