// The per-user preferences directory, ~/.zephyrane-kit/preferences.
#include <sys/stat.h>

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
