// The "network" command library.
#include "net/qx_netlibs.h"

#include "core/commands/qx_commands.h"

static const qxCommandDef networkCommands[] = {
    {nullptr, nullptr},
};

static const qxConstantDef networkConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenNetworkLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "network", networkCommands, networkConstants);
}

extern "C" void qxFreeNetObjects(void)
{
}
