// The "layers" command library.
#include "layers/qx_layerlibs.h"

#include "core/commands/qx_commands.h"

static const qxCommandDef layersCommands[] = {
    {nullptr, nullptr},
};

static const qxConstantDef layersConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenLayersLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "layers", layersCommands, layersConstants);
}

extern "C" void qxLayerLibClose(void)
{
}
