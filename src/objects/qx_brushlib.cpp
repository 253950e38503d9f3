// The "brush" command library.
#include "objects/qx_objectlibs.h"

#include "core/commands/qx_commands.h"
#include "objects/qx_displaycore.h"
#include "objects/qx_output.h"
#include "objects/qx_selection.h"

static const qxCommandDef brushCommands[] = {
    {"DisplayBrush", qxCmdDisplayBrush},
    {"DisplayBrushPart", qxCmdDisplayBrushPart},
    {"SelectBrush", qxCmdSelectBrush},
    {"SelectMask", qxCmdSelectMask},
    {"SelectAlphaChannel", qxCmdSelectAlphaChannel},
    {"BeginDoubleBuffer", qxCmdBeginDoubleBuffer},
    {"Flip", qxCmdFlip},
    {"EndDoubleBuffer", qxCmdEndDoubleBuffer},
    {nullptr, nullptr},
};

static const qxConstantDef brushConstants[] = {
    {"SELMODE_NORMAL", nullptr, 0},
    {"SELMODE_COMBO", nullptr, 1},
    {"SELMODE_LAYERS", nullptr, 2},
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenBrushLib(lua_State *L)
{
    return qxOpenCommandLibrary(L, "brush", brushCommands, brushConstants);
}
