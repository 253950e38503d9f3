#include <cstdio>
#include "libs/qx_dosfs.h"
#include "main/qx_eventlink.h"

extern "C" int qxEventEndProgram(void *record, char *program, size_t programSize, char *arguments,
                                 size_t argumentsSize, int *userRef)
{
    const char *p = nullptr, *a = nullptr;
    if (!qxDosProgramOf(record, &p, &a))
        return 0;
    std::snprintf(program, programSize, "%s", p ? p : "");
    std::snprintf(arguments, argumentsSize, "%s", a ? a : "");
    return qxDosEndProgram(record, userRef);
}

extern "C" void qxSetRunFinishedQuery(int (*installed)(lua_State *L))
{
    qxRunFinishedHandlerInstalled = installed;
}
