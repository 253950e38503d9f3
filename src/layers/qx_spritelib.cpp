// The "sprite" command library.
#include "layers/qx_layerlibs.h"

#include "core/commands/qx_commands.h"

static const qxCommandDef spriteCommands[] = {
    {nullptr, nullptr},
};

static const qxConstantDef spriteConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenSpriteLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "sprite", spriteCommands, spriteConstants);
}

extern "C" void qxFreeAllSprites(lua_State *)
{
}
