// The "bgpic" command library.
#include "objects/qx_objectlibs.h"

#include "core/commands/qx_commands.h"
#include "objects/qx_selection.h"

static const qxCommandDef bgpicCommands[] = {
    {"SelectBGPic", qxCmdSelectBGPic},
    {"EndSelect", qxCmdEndSelect},
    {nullptr, nullptr},
};

static const qxConstantDef bgpicConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenBGPicLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "bgpic", bgpicCommands, bgpicConstants);
}
