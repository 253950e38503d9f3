// The "graphics" command library.
#include "display/qx_displaylibs.h"

#include "core/commands/qx_commands.h"

static const qxCommandDef graphicsCommands[] = {
    {nullptr, nullptr},
};

static const qxConstantDef graphicsConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenGraphicsLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "graphics", graphicsCommands, graphicsConstants);
}

extern "C" void qxGraphicsLibFree(lua_State *)
{
}

// No graphics tags exist yet: nothing is handled.
extern "C" int qxGraphicsAttrGetter(qxTagItem *)
{
    return 0;
}

extern "C" int qxGraphicsAttrSetter(qxTagItem *)
{
    return 0;
}
