// The application icon chosen from the applet's icon slots.
#pragma once

#include "core/qx_startup.h"

extern "C" {
int qxSelectAppIcon(qxAppletInfo *applet, qxStartupInfo *startup);
void qxFreeIconSlots(void);
}
