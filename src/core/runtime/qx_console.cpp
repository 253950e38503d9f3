// Console output of the player (text mode aware), progress lines, and two
// small record helpers of the file layer.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "core/errors/qx_messages.h"
#include "core/runtime/qx_options.h"
#include "platform/qx_memory.h"
#include "platform/qx_text.h"

namespace {

constexpr size_t kBaseNameMax = 512;

bool quiet() { return qxGetTag(QX_TAG_QUIET) != 0; }

// A progress line was printed and waits for its "done" or "failed".
bool progressOpen;

void writeOut(const char *text)
{
    char *converted = qxTextModeUtf8 ? nullptr : qxLatin1ToUtf8Dup(text);
    std::fputs(converted ? converted : text, stdout);
    qxFree(converted);
    if (qxGlobalSettings.forceFlush) std::fflush(stdout);
}

void printWord(unsigned message)
{
    progressOpen = false;
    if (!quiet()) qxPrintF("%s\n", qxGetErrorText(message));
}

} // namespace

extern "C" {

void qxPrintF(const char *format, ...)
{
    if (!format) return;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    char small[512];
    int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) {
        va_end(again);
        return;
    }
    if (static_cast<size_t>(n) < sizeof small) {
        va_end(again);
        writeOut(small);
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), format, again);
    va_end(again);
    writeOut(big.c_str());
}

void qxDebugPrintLine(const char *format, const char *file, int progress)
{
    if (quiet() || !format) return;
    std::string line;
    if (file) {
        char base[kBaseNameMax];
        std::snprintf(base, sizeof base, "%s", qxChunkBaseName(file));
        // Only "%s" (the name) and "%%" are formatted: message texts come
        // from catalogs, which are outside input.
        bool named = false;
        for (const char *p = format; *p; p++) {
            if (p[0] == '%' && p[1] == '%') {
                line += '%';
                p++;
            } else if (p[0] == '%' && p[1] == 's' && !named) {
                line += base;
                named = true;
                p++;
            } else {
                line += *p;
            }
        }
    } else {
        line = format;
    }
    line += progress ? "..." : "\n";
    qxPrintF("%s", line.c_str());
    progressOpen = progress != 0;
}

void qxPrintDone(void) { printWord(QX_MSG_DONE); }
void qxPrintFailed(void) { printWord(QX_MSG_FAILED); }
void qxPrintSkipped(void) { printWord(QX_MSG_SKIPPED); }

void qxEndOpenProgressLine(void)
{
    if (progressOpen) qxPrintFailed();
}

int qxLowestBit(uint32_t word) { return word ? __builtin_ctz(word) : -1; }

} // extern "C"
