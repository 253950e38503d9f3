// The "brush" command library.
#include "objects/qx_objectlibs.h"

#include "core/commands/qx_commands.h"

static const qxCommandDef brushCommands[] = {
    {nullptr, nullptr},
};

static const qxConstantDef brushConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenBrushLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "brush", brushCommands, brushConstants);
}
