// The "anim" command library.
#include "objects/qx_objectlibs.h"

#include "core/commands/qx_commands.h"

static const qxCommandDef animCommands[] = {
    {nullptr, nullptr},
};

static const qxConstantDef animConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenAnimLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "anim", animCommands, animConstants);
}

extern "C" void qxFreeAllAnims(lua_State *)
{
}
