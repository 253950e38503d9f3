// File and line of an error for the report, and showing the report.
#include "core/errors/qx_errorreport.h"

#include <cstdio>
#include <cstring>

#include "core/commands/qx_cmdcall.h"
#include "core/commands/qx_commands.h"
#include "core/vm/lauxlib.h"
#include "platform/requesters/qx_requesters.h"

namespace {

const qxReportLineEntry *lineMap;
size_t lineMapCount;

// The source script's name, or null when the applet was compiled without
// one (registry "script" missing or ":none:").
const char *sourceScript(lua_State *L) {
    if (!L) return nullptr;
    const char *s = luaL_getregstr(L, "script");
    if (!s || std::strcmp(s, ":none:") == 0) return nullptr;
    return s;
}

const char *baseName(const char *path) {
    const char *slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

} // namespace

extern "C" {

void qxSetReportLineMap(const qxReportLineEntry *map, size_t count) {
    lineMap = map;
    lineMapCount = map ? count : 0;
}

int qxGetReportLine(lua_State *L) {
    int line = qxGetErrorLine();
    if (const char *script = sourceScript(L)) {
        int begin = static_cast<int>(luaL_getregnum(L, "beginline"));
        return qxComputeScriptReportLine(lineMap, lineMapCount, script, line, begin);
    }
    // A line no record of the include-line map holds (none without a map)
    // is -1, its file "---".
    return qxComputeReportLine(lineMap, lineMapCount, qxGetErrorFileName(), line);
}

const char *qxGetReportFile(lua_State *L) {
    const char *script = sourceScript(L);
    return qxComputeReportFile(lineMap, lineMapCount, script, qxGetErrorFileName(),
                               qxGetErrorLine());
}

void qxGetErrorInfo(lua_State *L, int code, char *buffer, size_t size, const char **file,
                    int *line) {
    qxFormatErrorCode(code, buffer, size);
    if (qxGetTag(QX_TAG_MAINRUNNING)) {
        const char *f = qxGetReportFile(L);
        if (file) *file = (f && *f && std::strcmp(f, "?") != 0) ? f : nullptr;
        if (line) *line = qxGetReportLine(L);
    } else {
        if (file) *file = nullptr;
        if (line) *line = 0;
    }
}

void qxBuildReportText(lua_State *L, const char *message, int plain, char *out, size_t size) {
    if (!out || size == 0) return;
    if (plain || !qxGetTag(QX_TAG_MAINRUNNING)) {
        std::snprintf(out, size, "%s", message ? message : "");
        return;
    }
    const char *file = qxGetReportFile(L);
    qxBuildErrorReport(message, baseName(file ? file : "---"), qxGetReportLine(L),
                       qxGetErrorCommandName(), out, size);
}

void qxShowErrorReport(lua_State *L, const char *message, int plain, int kind) {
    char text[4096];
    qxBuildReportText(L, message, plain, text, sizeof text);
    qxMessageRequest("ZephyranePlayer", text, nullptr, kind);
}

} // extern "C"
