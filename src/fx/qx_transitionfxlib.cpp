// The "transitionfx" command library.
#include "fx/qx_fxlibs.h"

#include "core/commands/qx_commands.h"

static const qxCommandDef transitionfxCommands[] = {
    {nullptr, nullptr},
};

static const qxConstantDef transitionfxConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenTransitionFXLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "transitionfx", transitionfxCommands, transitionfxConstants);
}
