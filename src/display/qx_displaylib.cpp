// The "display" command library.
#include "display/qx_displaylibs.h"

#include "core/commands/qx_commands.h"

static const qxCommandDef displayCommands[] = {
    {nullptr, nullptr},
};

static const qxConstantDef displayConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenDisplayLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "display", displayCommands, displayConstants);
}

extern "C" void qxCloseDisplayLib(lua_State *)
{
}
