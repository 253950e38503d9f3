// The system library's plug-in commands.
#pragma once

struct lua_State;

extern "C" {
// Pushes GetPlugins' table of the open plug-ins.
void qxPushPluginTable(lua_State *L);
int qxCmdHavePlugin(lua_State *L);
int qxCmdEnablePlugin(lua_State *L);
int qxCmdDisablePlugin(lua_State *L);
int qxCmdLoadPlugin(lua_State *L);
int qxCmdGetPlugins(lua_State *L);
}
