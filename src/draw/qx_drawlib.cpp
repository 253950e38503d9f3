// The "draw" command library.
#include "draw/qx_drawlibs.h"

#include "core/commands/qx_commands.h"

static const qxCommandDef drawCommands[] = {
    {nullptr, nullptr},
};

static const qxConstantDef drawConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenDrawLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "draw", drawCommands, drawConstants);
}

extern "C" void qxFreeDrawLibrary(void)
{
}

