// The "display" command library.
#include "display/qx_displaylibs.h"

#include "core/commands/qx_commands.h"
#include "display/qx_bgpic.h"
#include "display/qx_displaycmds.h"
#include "display/qx_menu.h"
#include "display/qx_satellite.h"

#include <cstring>
#include <vector>

#include "core/commands/qx_objreg.h"

static constexpr qxConstantDef displayConstants[] = {
    {"DISPSTATE_OPEN", nullptr, 1},
    {"DISPSTATE_CLOSED", nullptr, 0},
    {"DISPSTATE_MINIMIZED", nullptr, 2},
    {"DISPMODE_FULLSCREEN", nullptr, 2},
    {"DISPMODE_FULLSCREENSCALE", nullptr, 7},
    {"DISPMODE_WINDOWED", nullptr, 1},
    {"DISPMODE_ASK", nullptr, 3},
    {"DISPMODE_MODEREQUESTER", nullptr, 4},
    {"DISPMODE_FAKEFULLSCREEN", nullptr, 6},
    {"DISPMODE_SYSTEMSCALE", nullptr, 8},
    {"SCALEMODE_NONE", nullptr, 0},
    {"SCALEMODE_AUTO", nullptr, 1},
    {"SCALEMODE_LAYER", nullptr, 2},
    {"KEEPPOSITION", nullptr, 100000},
    {"ORIENTATION_NONE", nullptr, 0},
    {"ORIENTATION_PORTRAIT", nullptr, 1},
    {"ORIENTATION_LANDSCAPE", nullptr, 3},
    {"ORIENTATION_PORTRAITREV", nullptr, 2},
    {"ORIENTATION_LANDSCAPEREV", nullptr, 4},
    {"DENSITY_NONE", nullptr, 0},
    {"DENSITY_LOW", nullptr, 1},
    {"DENSITY_MEDIUM", nullptr, 2},
    {"DENSITY_HIGH", nullptr, 3},
    {"MENUITEM_TOGGLE", nullptr, 1},
    {"MENUITEM_SELECTED", nullptr, 2},
    {"MENUITEM_DISABLED", nullptr, 4},
    {"MENUITEM_RADIO", nullptr, 8},
    {nullptr, nullptr, 0},
};

// The display commands with the menu commands after GetMonitors.
static const qxCommandSet &commandTable()
{
    static qxCommandSet table;
    if (table.rows.empty()) {
        for (size_t i = 0; qxDisplayCommandTable[i].name; i++) {
            qxAddCommandRow(&table, qxDisplayCommandTable, qxDisplayCommandNames, i);
            if (!std::strcmp(qxDisplayCommandTable[i].name, "GetMonitors"))
                qxAddCommands(&table, qxMenuCommandTable, qxMenuCommandNames);
        }
        qxEndCommandSet(&table);
    }
    return table;
}

extern "C" int qxOpenDisplayLib(lua_State *L)
{
    if (int r = qxInitDisplays())
        return r;
    if (int r = qxRegisterObjectList(&qxDisplays, QX_TYPE_DISPLAY))
        return r;
    if (int r = qxRegisterObjectList(&qxMenus, QX_TYPE_MENU))
        return r;
    const qxCommandSet &commands = commandTable();
    return qxOpenCommandLibrary(L, "display", commands.rows.data(), displayConstants, &commands.names,
                                &qxNamesOf<displayConstants>);
}

extern "C" void qxCloseDisplayLib(lua_State *L)
{
    for (qxDisplay *d = qxDisplays; d; d = static_cast<qxDisplay *>(d->header.next)) {
        qxFreeBitMap(d->scaledBitMap);
        d->scaledBitMap = nullptr;
        qxFreeSatellites(d); // left by plug-ins
        if (!d->backfill)
            qxCloseDisplayWindow(L, d); // full-screen modes are restored
    }
    qxFreeAllMenus(L);
    qxFreeAllDisplays(L);
    qxFreeBGPicList(L);
    qxExitDisplayList();
}
