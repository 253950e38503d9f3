// Small desktop services of the back-end: the beep, the desktop's opener,
// free memory, per-user and special directories, the program's path.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/qx_platform.h"
#include "platform/qx_text.h"
#include "platform/x11/x11_display.h"

extern "C" {

void x11Beep(qxDisplay *)
{
    std::fputc(7, stdout);
    std::fflush(stdout);
}

int x11OpenURL(const char *text)
{
    if (!text)
        return 0;
    // Double fork: the opener runs on without leaving a zombie behind.
    pid_t child = fork();
    if (child == 0) {
        if (fork() == 0) {
            execlp("xdg-open", "xdg-open", text, (char *)nullptr);
            _exit(127);
        }
        _exit(0);
    }
    if (child > 0)
        waitpid(child, nullptr, 0);
    return 0;
}

uint32_t x11ParseFreeMemory(const char *text, size_t length)
{
    size_t at = 0;
    while (at < length) {
        size_t end = at;
        while (end < length && text[end] != '\n')
            end++;
        if (end - at >= 8 && !std::memcmp(text + at, "MemFree:", 8)) {
            size_t i = at + 8;
            while (i < end && (text[i] == ' ' || text[i] == '\t'))
                i++;
            uint64_t value = 0;
            while (i < end && text[i] >= '0' && text[i] <= '9' && value <= 0xFFFFFFFFu)
                value = value * 10 + (uint64_t)(text[i++] - '0');
            return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)value;
        }
        at = end + 1;
    }
    return 0;
}

uint32_t x11GetFreeMemory(void)
{
    FILE *f = std::fopen("/proc/meminfo", "rb");
    if (!f)
        return 0;
    char buffer[8192];
    size_t n = std::fread(buffer, 1, sizeof buffer, f);
    std::fclose(f);
    return x11ParseFreeMemory(buffer, n);
}

int x11GetSystemDir(int kind, char *buffer, size_t size)
{
    if (!buffer || !size)
        return 0;
    buffer[0] = 0;
    const char *value = nullptr;
    if (kind == 6)
        value = std::getenv("HOME");
    else if (kind == 7)
        value = std::getenv("USER");
    else if (kind == 13)
        value = "/tmp";
    else
        return 0;
    std::snprintf(buffer, size, "%s", value ? value : "");
    return 1;
}

void qxMakeSystemPath(char *buffer, size_t size, int raw)
{
    if (!buffer || !size)
        return;
    std::string dir = qxProgramPath;
    size_t slash = dir.rfind('/');
    dir = slash == std::string::npos ? std::string(".") : dir.substr(0, slash ? slash : 1);
    if (raw || qxTextModeUtf8)
        std::snprintf(buffer, size, "%s", dir.c_str());
    else
        qxUtf8ToLatin1Buf(dir.c_str(), buffer, size);
}
}
