// The per-user preferences directory, ~/.zephyrane-kit/preferences, and the
// other well-known directories by identifier.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/qx_paths.h"
#include "platform/x11/x11_display.h"

namespace {

bool append(char *buffer, size_t size, size_t *used, const char *part) {
    size_t n = std::strlen(part);
    if (*used + n >= size) return false;
    std::memcpy(buffer + *used, part, n + 1);
    *used += n;
    return true;
}

bool ensureDir(const char *path) {
    if (mkdir(path, 0755) == 0) return true;
    struct stat st;
    return errno == EEXIST && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

// The home directory as the desktop knows it; 0 when it has none.
static bool homeDir(char *buffer, size_t size) { return x11GetSystemDir(6, buffer, size) && buffer[0]; }

extern "C" int qxGetPrefsDir(char *buffer, size_t size)
{
    if (!size) return 0;
    if (!homeDir(buffer, size)) return 0;
    size_t used = std::strlen(buffer);
    if (used > 1 && buffer[used - 1] == '/') buffer[--used] = 0;
    if (!append(buffer, size, &used, "/.zephyrane-kit") || !ensureDir(buffer)) return 0;
    if (!append(buffer, size, &used, "/preferences") || !ensureDir(buffer)) return 0;
    return 1;
}

extern "C" int qxGetSpecialPath(uint32_t id, char *buffer, size_t size)
{
    if (!buffer || !size) return 0;
    buffer[0] = 0;
    switch (id) {
    case QX_SPECIAL_PROGDIR: qxMakeSystemPath(buffer, size, 1); return buffer[0] != 0;
    case QX_SPECIAL_USERHOME:
    case QX_SPECIAL_USERNAME:
    case QX_SPECIAL_TEMPFILES: return x11GetSystemDir(int(id), buffer, size) && buffer[0];
    case QX_SPECIAL_PREFERENCES: {
        if (!homeDir(buffer, size)) return 0;
        size_t used = std::strlen(buffer);
        return append(buffer, size, &used, "/.zephyrane-kit/preferences");
    }
    default: return 0; // the platform knows no such directory
    }
}
