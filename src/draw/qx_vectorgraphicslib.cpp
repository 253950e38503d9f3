// The "vectorgraphics" command library.
#include "draw/qx_drawlibs.h"

#include "core/commands/qx_commands.h"

static const qxCommandDef vectorgraphicsCommands[] = {
    {nullptr, nullptr},
};

static const qxConstantDef vectorgraphicsConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenVectorGraphicsLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "vectorgraphics", vectorgraphicsCommands, vectorgraphicsConstants);
}

extern "C" void qxVectorLibClose(lua_State *)
{
}
