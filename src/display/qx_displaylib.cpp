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

static const qxConstantDef displayConstants[] = {
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
static const qxCommandDef *commandTable()
{
    static std::vector<qxCommandDef> table;
    if (table.empty()) {
        for (const qxCommandDef *c = qxDisplayCommandTable; c->name; c++) {
            table.push_back(*c);
            if (!std::strcmp(c->name, "GetMonitors"))
                for (const qxCommandDef *m = qxMenuCommandTable; m->name; m++)
                    table.push_back(*m);
        }
        table.push_back({nullptr, nullptr});
    }
    return table.data();
}

extern "C" int qxOpenDisplayLib(lua_State *L)
{
    if (int r = qxInitDisplays())
        return r;
    if (int r = qxRegisterObjectList(&qxDisplays, QX_TYPE_DISPLAY))
        return r;
    if (int r = qxRegisterObjectList(&qxMenus, QX_TYPE_MENU))
        return r;
    return qxOpenCommandLibrary(L, "display", commandTable(), displayConstants);
}

extern "C" void qxCloseDisplayLib(lua_State *L)
{
    for (qxDisplay *d = qxDisplays; d; d = static_cast<qxDisplay *>(d->header.next)) {
        qxFreeBitMap(d->scaledBitMap);
        d->scaledBitMap = nullptr;
        qxFreeSatellites(d); // left by plug-ins
        if (!d->backfill)
            qxCloseDisplayWindow(d); // full-screen modes are restored
    }
    qxFreeAllMenus(L);
    qxFreeAllDisplays(L);
    qxFreeBGPicList(L);
}
