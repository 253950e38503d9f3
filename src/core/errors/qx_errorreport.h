// The report of an error with the script file and line it happened at.
#pragma once
#include <cstddef>

#include "core/errors/qx_errors.h"
#include "core/vm/lua.h"

extern "C" {
// The applet's include-line map, handed over by the applet loader (null
// when the applet has none). The entries must live until the next call.
void qxSetReportLineMap(const qxReportLineEntry *map, size_t count);

// The script line and file of the recorded error (see qxComputeReportLine
// and qxComputeReportFile). Without a source script, a line that no record
// of the include-line map holds (also when there is no map) gives line -1
// and file "---".
int qxGetReportLine(lua_State *L);
const char *qxGetReportFile(lua_State *L);

// The message of code into buffer; while the main chunk runs, also the
// report file and line (else null and 0).
void qxGetErrorInfo(lua_State *L, int code, char *buffer, size_t size, const char **file,
                    int *line);
// Builds the report text (the message alone when plain is set or the main
// chunk is not running) and shows it in a requester titled
// "ZephyranePlayer" with the given requester kind.
void qxShowErrorReport(lua_State *L, const char *message, int plain, int kind);
// The report text that qxShowErrorReport shows.
void qxBuildReportText(lua_State *L, const char *message, int plain, char *out, size_t size);
}
