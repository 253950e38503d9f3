// The icon slots are filled by the applet loader's icon block; while none
// are read there is no icon to choose or free.
#include "objects/qx_appicon.h"

extern "C" {
int qxSelectAppIcon(qxAppletInfo *, qxStartupInfo *) { return 0; }
void qxFreeIconSlots(void) {}
}
