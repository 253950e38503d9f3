// The "text" command library.
#include "draw/qx_drawlibs.h"

#include "core/commands/qx_commands.h"

static const qxCommandDef textCommands[] = {
    {nullptr, nullptr},
};

static const qxConstantDef textConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenTextLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "text", textCommands, textConstants);
}

extern "C" void qxTextLibFree(lua_State *)
{
}
