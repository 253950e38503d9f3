// The "dos" command library.
#include "libs/qx_corelibs.h"

#include "core/qx_commands.h"

static const qxCommandDef dosCommands[] = {
    {nullptr, nullptr},
};

static const qxConstantDef dosConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenDosLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "dos", dosCommands, dosConstants);
}

extern "C" void qxCloseDosLib(lua_State *)
{
}
