// Global initialisation: platform, catalog, options and command libraries.
#pragma once

#include "core/runtime/qx_startup.h"

extern "C" {
// Returned by qxInitGlobals when the run ends successfully before any
// applet runs (HELP); not an error code.
enum { QX_END_RUN = -1 };
// Platform, catalog, options, command libraries and the run records.
int qxInitGlobals(lua_State *L, qxStartupInfo *startup, qxAppletInfo *applet, int argc, char **argv);
// Prints the version banner.
void qxPrintBanner(void);
// Fills the tables through which the lower layers call up (the platform's
// up-calls, the plug-in host table); part of qxInitGlobals, and for tests.
void qxLinkLayers(void);
}
