// The "math" command library.
#include "libs/qx_corelibs.h"

#include <cstdlib>
#include <ctime>

#include "core/commands/qx_commands.h"
#include "libs/qx_mathcmds.h"

static constexpr qxConstantDef mathConstants[] = {
    {"PI", nullptr, 3.141592653589793},
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenMathLib(lua_State *L)
{
    // Both random generators start from the time of day.
    long seed = static_cast<long>(std::time(nullptr));
    std::srand(static_cast<unsigned>(seed));
    srand48(seed);
    return qxOpenCommandLibrary(L, "math", qxMathCommandTable, mathConstants, &qxMathCommandNames,
                                &qxNamesOf<mathConstants>);
}
