#include "core/errors/qx_report.h"

#include <cstdio>
#include <cstring>

#include "core/errors/qx_errorreport.h"
#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "core/runtime/qx_options.h"
#include "platform/requesters/qx_requesters.h"

extern "C" void qxReportFinalError(int code, lua_State *L, qxStartupInfo *startup)
{
    char message[2048];
    const char *file = nullptr;
    int line = 0;
    // File and line are known only while the main chunk runs.
    qxGetErrorInfo(L, code, message, sizeof message, &file, &line);
    char *text = startup ? startup->errorText : message;
    size_t size = startup ? sizeof startup->errorText : sizeof message;
    // "Loading applet x..." of a step that failed ends before the report.
    qxEndOpenProgressLine();
    if (qxGlobalSettings.consoleReport) {
        char out[4096];
        qxBuildConsoleErrorLine(message, file, line, out, sizeof out);
        // In the script's text mode, as all console output.
        qxPrintF("%s", out);
        std::fflush(stdout);
        if (text != message)
            std::snprintf(text, size, "%s", message);
        return;
    }
    if (text == message) {
        char report[sizeof message];
        qxBuildReportText(L, message, 0, report, sizeof report);
        std::memcpy(message, report, sizeof report);
    } else {
        qxBuildReportText(L, message, 0, text, size);
    }
    qxMessageRequest("ZephyranePlayer", text, nullptr, 2);
}
