// The "serial" command library.
#include "net/qx_netlibs.h"

#include "core/commands/qx_commands.h"

static const qxCommandDef serialCommands[] = {
    {nullptr, nullptr},
};

static const qxConstantDef serialConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenSerialLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "serial", serialCommands, serialConstants);
}

extern "C" void qxFreeSerialPorts(lua_State *)
{
}
