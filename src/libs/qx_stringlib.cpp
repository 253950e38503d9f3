// The "string" command library.
#include "libs/qx_corelibs.h"

#include "core/qx_commands.h"

static const qxCommandDef stringCommands[] = {
    {nullptr, nullptr},
};

static const qxConstantDef stringConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenStringLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "string", stringCommands, stringConstants);
}
