// Plug-in discovery, loading and unloading.
#pragma once
#include <cstdint>

#include "core/qx_startup.h"

extern "C" {
int qxExtractLinkedPlugins(const char *programPath, uint32_t offset);
// Number of plug-in files the directory scan would load.
int qxCountPluginFiles(qxStartupInfo *startup);
int qxLoadAllPlugins(lua_State *L, qxStartupInfo *startup, qxAppletInfo *applet);
// FreeLibrary of every initialised library plug-in.
void qxFreeLibraryPlugins(lua_State *L);
void qxUnloadPlugins(void);
// The display adapter's main loop entry, or null when no adapter provides one.
typedef void (*qxMainLoopRun)(void *L);
typedef int (*qxAdapterMainLoopFunc)(lua_State *L, qxMainLoopRun run, void *runArg, void *, void *);
qxAdapterMainLoopFunc qxGetAdapterMainLoop(void);
}
