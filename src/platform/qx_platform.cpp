#include "platform/qx_platform.h"

#include <clocale>
#include <cstring>

#include "platform/qx_libimports.h"
#include "platform/qx_systimers.h"
#include "platform/qx_text.h"
#include "platform/qx_threadevents.h"
#include "platform/qx_timerthread.h"
#include "platform/qx_upcalls.h"

extern "C" {

int qxArgc;
char **qxArgv;
char qxProgramPath[4096];

qxPlatformUpcalls qxUpcalls;

int qxDisplayAdapterActive(void)
{
    return qxUpcalls.displayAdapterActive ? qxUpcalls.displayAdapterActive() : 0;
}

int qxInitPlatform(void)
{
    // Character classification follows the user's locale unless the
    // program was given one.
    const char *ctype = std::setlocale(LC_CTYPE, nullptr);
    if (ctype && !std::strcmp(ctype, "C"))
        std::setlocale(LC_CTYPE, "");
    qxImportLibraries();
    if (int r = qxInitSysTimers())
        return r;
    return qxCreateThreadEventQueue();
}

void qxExitPlatform(void)
{
    qxStopTimerThread();
    qxExitSysTimers();
    qxDeleteThreadEventQueue();
    qxFreeCollation();
    qxCloseLibraries();
}
}
