// The process-wide values of a run that every layer may read.
#include "core/runtime/qx_startup.h"

extern "C" {

lua_State *qxMainState;
qxAppletInfo *qxApplet;
uint32_t qxLinked;
uint32_t qxAppendedOffset;
volatile uint32_t qxQuitting;
uint32_t qxExitValue;
char qxLinkedPluginDir[1024];
int qxProgressStep;
int qxLineBasedShapes;
}
