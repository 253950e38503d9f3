// The "math" command library.
#include "libs/qx_corelibs.h"

#include "core/qx_commands.h"

static const qxCommandDef mathCommands[] = {
    {nullptr, nullptr},
};

static const qxConstantDef mathConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenMathLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "math", mathCommands, mathConstants);
}
