// The "arexx" command library.
#include "libs/qx_corelibs.h"

#include "core/qx_commands.h"

static const qxCommandDef arexxCommands[] = {
    {nullptr, nullptr},
};

static const qxConstantDef arexxConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenARexxLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "arexx", arexxCommands, arexxConstants);
}
