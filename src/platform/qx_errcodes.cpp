#include "platform/qx_errcodes.h"

#include <cstring>

namespace {
char errorString[QX_ERRORSTRING_SIZE];
int errorNumber;
} // namespace

extern "C" void qxSetErrorString(const char *text)
{
    if (!text) text = "";
    size_t n = strnlen(text, QX_ERRORSTRING_SIZE - 1);
    std::memcpy(errorString, text, n);
    errorString[n] = '\0';
}

extern "C" void qxSetErrorNumber(int number) { errorNumber = number; }

extern "C" const char *qxGetErrorString(void) { return errorString; }

extern "C" int qxGetErrorNumber(void) { return errorNumber; }
