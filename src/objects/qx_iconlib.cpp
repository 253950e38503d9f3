// The "icon" command library.
#include "objects/qx_objectlibs.h"

#include "core/commands/qx_commands.h"

static const qxCommandDef iconCommands[] = {
    {nullptr, nullptr},
};

static const qxConstantDef iconConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenIconLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "icon", iconCommands, iconConstants);
}

extern "C" void qxFreeIcons(lua_State *)
{
}
