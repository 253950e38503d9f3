// Global initialisation: platform, catalog, options and command libraries.
#pragma once

#include "core/qx_startup.h"

extern "C" {
// Progress step of the start-up progress display.
extern int qxProgressStep;
int qxInitGlobals(lua_State *L, qxStartupInfo *startup, qxAppletInfo *applet, int argc, char **argv);
// Prints the version banner.
void qxPrintBanner(void);
}
