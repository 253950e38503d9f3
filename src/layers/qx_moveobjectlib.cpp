// The "moveobject" command library.
#include "layers/qx_layerlibs.h"

#include "core/commands/qx_commands.h"

static const qxCommandDef moveobjectCommands[] = {
    {nullptr, nullptr},
};

static const qxConstantDef moveobjectConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenMoveObjectLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "moveobject", moveobjectCommands, moveobjectConstants);
}
