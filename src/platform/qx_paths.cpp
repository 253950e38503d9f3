// Path conversion between the text mode and the file system, "PROGDIR:",
// the temporary directory and temporary files.
#include "platform/qx_paths.h"
#include "platform/qx_tempfiles.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "platform/qx_memory.h"
#include "platform/qx_platform.h"
#include "platform/qx_text.h"
#include "platform/x11/x11_display.h"

namespace {

constexpr char kProgDir[] = "PROGDIR:";
constexpr size_t kProgDirLen = sizeof kProgDir - 1;
constexpr char kTempName[] = "zephyrane.XXXXXX";

char tempDirectory[QX_TEMPDIR_SIZE] = "/tmp"; // in the program's text mode

bool isChunkName(const char *name) { return strncmp(name, ":::chunk", 8) == 0; }
bool hasProgDir(const char *name) { return strncmp(name, kProgDir, kProgDirLen) == 0; }

// The program's directory, in the text mode unless raw.
std::string programDir(int raw)
{
    char dir[QX_PATH_MAX];
    qxMakeSystemPath(dir, sizeof dir, raw);
    return dir;
}

bool copyInto(char *buffer, size_t capacity, const std::string &text)
{
    if (text.size() >= capacity) return false;
    memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

// The program directory joined with the rest of a "PROGDIR:" name.
std::string joinProgDir(const std::string &dir, const char *rest)
{
    std::string out = dir;
    while (*rest == '/') rest++;
    if (*rest) {
        if (!out.empty() && out.back() != '/') out += '/';
        out += rest;
    }
    return out;
}

// Text-mode text to UTF-8 (a copy outside UTF-8 mode).
std::string toNative(const char *text, bool convert)
{
    if (!convert || qxTextModeUtf8) return text;
    size_t size = qxLatin1ToUtf8Size(text);
    if (size == 0) return text;
    std::string out(size - 1, '\0');
    qxLatin1ToUtf8(text, out.data()); // its terminator lands on the string's own
    return out;
}

// UTF-8 text to the text mode.
bool fromNative(const char *text, char *buffer, size_t capacity)
{
    if (qxTextModeUtf8) return copyInto(buffer, capacity, text);
    // ISO-8859-1 is never longer than its UTF-8 source.
    if (strlen(text) >= capacity) return false;
    qxUtf8ToLatin1Buf(text, buffer, capacity);
    return true;
}

} // namespace

// ---- Program directory ----

void qxSetProgramPath(const char *path)
{
    if (path == qxProgramPath) return;
    qxProgramPath[0] = 0;
    if (path && strlen(path) < sizeof qxProgramPath) strcpy(qxProgramPath, path);
}

const char *qxGetProgramPath(void) { return qxProgramPath; }

// ---- Temporary directory and files ----

int qxSetTempDirectory(const char *path)
{
    if (!path) path = "/tmp";
    if (strlen(path) >= sizeof tempDirectory) return 0;
    strcpy(tempDirectory, path);
    return 1;
}

const char *qxGetTempDirectory(void) { return tempDirectory; }

int qxTempFileName(char *buffer, size_t capacity)
{
    std::string name = tempDirectory;
    if (!name.empty() && name.back() != '/') name += '/';
    name += kTempName;
    if (name.size() >= capacity) return 0;

    std::string native = toNative(name.c_str(), true);
    int fd = mkstemp(native.data());
    if (fd < 0) return 0;
    close(fd);
    // mkstemp replaced the X's with ASCII characters: take them over.
    memcpy(buffer, name.c_str(), name.size() + 1);
    memcpy(buffer + name.size() - 6, native.c_str() + native.size() - 6, 6);
    if (!qxAddTempFile(buffer)) {
        unlink(native.c_str());
        buffer[0] = 0;
        return 0;
    }
    return 1;
}

// ---- Conversion to native paths ----

char *qxNativePath(const char *path, char *buffer, size_t capacity, int convert)
{
    if (isChunkName(path)) return copyInto(buffer, capacity, path) ? buffer : nullptr;
    std::string out;
    if (hasProgDir(path))
        out = joinProgDir(programDir(1), toNative(path + kProgDirLen, convert).c_str());
    else
        out = toNative(path, convert);
    for (char &c : out)
        if (c == '\\') c = '/';
    return copyInto(buffer, capacity, out) ? buffer : nullptr;
}

FILE *qxFOpen(const char *path, const char *modeText, int noConversion)
{
    if (noConversion || qxTextModeUtf8) return fopen(path, modeText);
    return fopen(toNative(path, true).c_str(), modeText);
}

int qxFullPath(const char *path, char *buffer, size_t capacity)
{
    char native[QX_PATH_MAX];
    char resolved[PATH_MAX];
    if (!qxNativePath(path, native, sizeof native, 1)) return 0;
    std::string full;
    if (realpath(native, resolved)) {
        full = resolved;
    } else if (native[0] == '/') {
        full = native;
    } else {
        char cwd[PATH_MAX];
        if (!getcwd(cwd, sizeof cwd)) return 0;
        full = realpath(cwd, resolved) ? resolved : cwd;
        if (full.back() != '/') full += '/';
        full += native;
    }
    return fromNative(full.c_str(), buffer, capacity);
}
