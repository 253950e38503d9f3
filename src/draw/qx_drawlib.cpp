// The "draw" command library.
#include "draw/qx_drawlibs.h"

#include "core/commands/qx_commands.h"
#include "draw/qx_drawcmds.h"
#include "draw/qx_drawstate.h"
#include "draw/qx_shapelayer.h"
#include "draw/vector/qx_shapegeom.h"

static constexpr qxCommandDef drawCommands[] = {
    {"Box", qxCmdBox},
    {"Plot", qxCmdPlot},
    {"Ellipse", qxCmdEllipse},
    {"Line", qxCmdLine},
    {"Circle", qxCmdCircle},
    {"Polygon", qxCmdPolygon},
    {"SetFillStyle", qxCmdSetFillStyle},
    {"ReadPixel", qxCmdReadPixel},
    {"Cls", qxCmdCls},
    {"Arc", qxCmdArc},
    {"SetFormStyle", qxCmdSetFormStyle},
    {"SetLineWidth", qxCmdSetLineWidth},
    {"GetFillStyle", qxCmdGetFillStyle},
    {"GetFormStyle", qxCmdGetFormStyle},
    {"GetLineWidth", qxCmdGetLineWidth},
    {nullptr, nullptr},
};

static constexpr qxConstantDef drawConstants[] = {
    {"BLACK", nullptr, 0x000000},  {"MAROON", nullptr, 0x800000}, {"GREEN", nullptr, 0x008000},
    {"OLIVE", nullptr, 0x808000},  {"NAVY", nullptr, 0x000080},   {"PURPLE", nullptr, 0x800080},
    {"TEAL", nullptr, 0x008080},   {"GRAY", nullptr, 0x808080},   {"SILVER", nullptr, 0xC0C0C0},
    {"RED", nullptr, 0xFF0000},    {"LIME", nullptr, 0x00FF00},   {"YELLOW", nullptr, 0xFFFF00},
    {"BLUE", nullptr, 0x0000FF},   {"FUCHSIA", nullptr, 0xFF00FF}, {"AQUA", nullptr, 0x00FFFF},
    {"WHITE", nullptr, 0xFFFFFF},  {"FILLNONE", nullptr, 0},      {"FILLCOLOR", nullptr, 1},
    {"FILLGRADIENT", nullptr, 2},  {"FILLTEXTURE", nullptr, 3},   {"BOX", nullptr, 14},
    {"LINE", nullptr, 17},         {"CIRCLE", nullptr, 15},       {"PLOT", nullptr, 18},
    {"ELLIPSE", nullptr, 16},      {"POLYGON", nullptr, 27},      {"ARC", nullptr, 31},
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenDrawLib(lua_State *L)
{
    qxResetDrawState();
    qxLinkShapeLayers();
    return qxOpenCommandLibraryOf<drawCommands, drawConstants>(L, "draw");
}

extern "C" void qxFreeDrawLibrary(void)
{
}
