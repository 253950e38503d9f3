// Error codes, the error string and number that fill a message, messages
// registered at run time, and the formatting of messages and of the error
// report. All failures of the player are these int codes.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/commands/qx_commands.h"
#include "platform/qx_errcodes.h"

// One record of an applet's include-line map, as the report needs it.
struct qxReportLineEntry {
    int32_t first; // first and last line of the included range in the compiled script
    int32_t last;
    int32_t base;  // base line: the report line is line - first + base + 1
    const char *includeName;
    const char *fileName;
};

extern "C" {
// {"ERR_NONE", null, 0} ... ended by a row with a null name.
extern const qxConstantDef *const qxErrorConstants;
// Their names, prepared when the program is built.
extern const qxNames qxErrorConstantNames;

// The catalog's translation of a message, the table text by default; ""
// for an index the table does not have.
const char *qxGetErrorText(unsigned index);

// Appends a copy of text to the run-time messages; returns its code (1630 +
// position) or ERR_MEM.
int qxRegisterErrorMessage(const char *text);
// Frees the run-time messages (shutdown); codes from 1630 become unknown.
void qxFreeErrorMessages(void);

// The final message of a code, with the error string and number filled in,
// cut to size bytes (always terminated when size > 0).
void qxFormatErrorCode(int code, char *buffer, size_t size);

// The report text: "%s\n%s: %s (%s: %d - %s: %s)" with message, "File", the
// file's base name, "current line", line, "In function" and command, or
// "%s\n%s: %s (%s: %d)" when the command name is null or "----". The caller
// shows the message alone instead when the main chunk is not running or a
// plain report is asked for. Returns the length written.
size_t qxBuildErrorReport(const char *message, const char *fileName, int line,
                          const char *commandName, char *out, size_t size);
// The console form of the final report: "%s:%d: %s\n" with a file name, else
// "%s: %s\n" with "Error" and the message. Returns the length written.
size_t qxBuildConsoleErrorLine(const char *message, const char *fileName, int line,
                               char *out, size_t size);

// Report line without a source script: the error line mapped through the
// include-line record whose file name equals errorFile ("?" counts as empty)
// and whose range holds the line; -1 when none does.
int qxComputeReportLine(const qxReportLineEntry *map, size_t count, const char *errorFile,
                        int errorLine);
// Report line with a source script: errorLine - beginLine + 1 plus the line
// counts of the records included by that script.
int qxComputeScriptReportLine(const qxReportLineEntry *map, size_t count,
                              const char *scriptName, int errorLine, int beginLine);
// Report file: the script name when there is a source script (non-null),
// else the include name of the matching record, else "---".
const char *qxComputeReportFile(const qxReportLineEntry *map, size_t count,
                                const char *scriptName, const char *errorFile, int errorLine);
}
