// The "video" command library.
#include "media/qx_medialibs.h"

#include "core/commands/qx_commands.h"

static const qxCommandDef videoCommands[] = {
    {nullptr, nullptr},
};

static const qxConstantDef videoConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenVideoLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "video", videoCommands, videoConstants);
}

extern "C" void qxFreeAllVideos(lua_State *)
{
}
