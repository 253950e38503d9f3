// The "memblock" command library.
#include "libs/qx_corelibs.h"

#include "core/commands/qx_commands.h"

static const qxCommandDef memblockCommands[] = {
    {nullptr, nullptr},
};

static const qxConstantDef memblockConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenMemBlockLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "memblock", memblockCommands, memblockConstants);
}

extern "C" void qxFreeAllMemBlocks(lua_State *)
{
}
