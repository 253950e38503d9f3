// A VM with the dos library for the fuzz targets, kept for the whole run.
#pragma once
#include "core/commands/qx_commands.h"
#include "core/vm/lua.h"
#include "libs/qx_corelibs.h"

namespace fuzzdos {

inline lua_State *state()
{
    static lua_State *L = [] {
        qxSetTag(QX_TAG_QUIET, 1); // no "Opening file" lines
        lua_State *s = lua_open();
        qxOpenDosLib(s);
        return s;
    }();
    return L;
}

} // namespace fuzzdos
