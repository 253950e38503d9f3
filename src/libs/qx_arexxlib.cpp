// The "arexx" command library: ARexx ports do not exist on this platform,
// so its commands only report that.
#include "libs/qx_corelibs.h"

#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"

// Arguments are not read: any are accepted.
static int qxCmdRexxNotSupported(lua_State *) { return ERR_UNSUPPORTEDFEAT; }

static constexpr qxCommandDef arexxCommands[] = {
    {"CreateRexxPort", qxCmdRexxNotSupported},
    {"RunRexxScript", qxCmdRexxNotSupported},
    {"SendRexxCommand", qxCmdRexxNotSupported},
    {nullptr, nullptr},
};

static constexpr qxConstantDef arexxConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenARexxLib(lua_State *L)
{
    return qxOpenCommandLibraryOf<arexxCommands, arexxConstants>(L, "arexx");
}
