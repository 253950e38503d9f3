// The per-user preferences directory, ~/.zephyrane-kit/preferences, and the
// other well-known directories by identifier.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/qx_paths.h"

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

extern "C" int qxGetPrefsDir(char *buffer, size_t size)
{
    const char *home = std::getenv("HOME");
    if (!size) return 0;
    buffer[0] = 0;
    size_t used = 0;
    if (!home || !*home) return 0;
    if (!append(buffer, size, &used, home)) return 0;
    if (used > 1 && buffer[used - 1] == '/') buffer[--used] = 0;
    if (!append(buffer, size, &used, "/.zephyrane-kit") || !ensureDir(buffer)) return 0;
    if (!append(buffer, size, &used, "/preferences") || !ensureDir(buffer)) return 0;
    return 1;
}

extern "C" int qxGetSpecialPath(uint32_t id, char *buffer, size_t size)
{
    if (!buffer || !size) return 0;
    buffer[0] = 0;
    size_t used = 0;
    const char *home = std::getenv("HOME");
    bool hasHome = home && *home;
    switch (id) {
    case QX_SPECIAL_PROGDIR: {
        const char *program = qxGetProgramPath();
        const char *slash = program ? std::strrchr(program, '/') : nullptr;
        if (!slash) return 0;
        size_t n = size_t(slash - program);
        if (n == 0) n = 1; // the root keeps its slash
        if (n >= size) return 0;
        std::memcpy(buffer, program, n);
        buffer[n] = 0;
        return 1;
    }
    case QX_SPECIAL_USERHOME: return hasHome && append(buffer, size, &used, home);
    case QX_SPECIAL_USERNAME: {
        const passwd *pw = getpwuid(getuid());
        return pw && pw->pw_name && append(buffer, size, &used, pw->pw_name);
    }
    case QX_SPECIAL_PREFERENCES:
        return hasHome && append(buffer, size, &used, home) &&
               append(buffer, size, &used, "/.zephyrane-kit/preferences");
    case QX_SPECIAL_TEMPFILES: {
        const char *temp = qxGetTempDirectory();
        return temp && *temp && append(buffer, size, &used, temp);
    }
    default: return 0; // the platform knows no such directory
    }
}
