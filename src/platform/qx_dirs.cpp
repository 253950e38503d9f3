// Native directory handles and operations on paths: delete, create,
// rename, move, dates, protection and the current directory.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utime.h>

#include "platform/qx_errcodes.h"
#include "platform/qx_files.h"
#include "platform/qx_memory.h"
#include "platform/qx_text.h"

namespace {

// Native form of a path; false when it does not fit.
bool native(const char *path, char (&out)[QX_PATH_MAX]) { return qxNativePath(path, out, sizeof out, 1) != nullptr; }

// Directory part of a native path ("." when it has none).
std::string parentOf(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

} // namespace

// ---- Directory handles ----

qxNativeDir *qxNativeOpenDir(const char *path, int mode)
{
    if (mode != 1) {
        fputs("QXOS_LOCK_WRITE unsupported.\n", stdout);
        return nullptr;
    }
    char nat[QX_PATH_MAX];
    char resolved[PATH_MAX];
    if (!native(*path ? path : ".", nat) || !realpath(nat, resolved)) return nullptr;
    struct stat st;
    if (stat(resolved, &st) != 0 || !(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode))) return nullptr;

    auto *h = static_cast<qxNativeDir *>(qxAlloc(sizeof(qxNativeDir), 1));
    if (!h) return nullptr;
    h->lockFd = -1;
    size_t len = strlen(resolved);
    h->resolved = static_cast<char *>(qxAlloc(len + 1, 0));
    if (!h->resolved) {
        qxFree(h);
        return nullptr;
    }
    memcpy(h->resolved, resolved, len + 1);
    // Entry paths are built behind "<path>/" in the spare room of the buffer.
    memcpy(h->path, resolved, len);
    if (len == 0 || h->path[len - 1] != '/') h->path[len++] = '/';
    h->path[len] = 0;
    h->pathLength = static_cast<uint32_t>(len);

    if (S_ISDIR(st.st_mode))
        h->dir = opendir(resolved);
    else
        h->lockFd = open(resolved, O_RDONLY);
    if (!h->dir && h->lockFd < 0) {
        qxFree(h->resolved);
        qxFree(h);
        return nullptr;
    }
    return h;
}

void qxNativeCloseDir(qxNativeDir *h)
{
    if (!h) return;
    if (h->dir) closedir(h->dir);
    if (h->lockFd >= 0) close(h->lockFd);
    qxFree(h->resolved);
    qxFree(h);
}

int qxNativeDirExamine(qxNativeDir *h, qxFileInfo *info)
{
    struct stat st;
    memset(info, 0, sizeof *info);
    if (h->dir ? stat(h->resolved, &st) != 0 : fstat(h->lockFd, &st) != 0) return 0;
    qxFillFileInfo(&st, info);
    info->path = h->resolved;
    return 1;
}

int qxNativeIsDir(qxNativeDir *h)
{
    if (h->dir) return 0;
    char name[QX_PATH_MAX];
    qxSetErrorString(qxNativeDirName(h, name, sizeof name) ? name : h->resolved);
    return 1250;
}

int qxNativeRewindDir(qxNativeDir *h)
{
    if (h->dir) rewinddir(h->dir);
    return 1;
}

int qxNativeDirName(qxNativeDir *h, char *buffer, size_t capacity)
{
    size_t n = strlen(h->resolved);
    if (n >= capacity) return 0;
    if (qxTextModeUtf8)
        memcpy(buffer, h->resolved, n + 1);
    else
        qxUtf8ToLatin1Buf(h->resolved, buffer, capacity);
    return 1;
}

int qxNativeNextEntry(qxNativeDir *h, void *, const char **name, int *isDirectory, qxFileInfo *info)
{
    if (!h->dir) return 0;
    while (struct dirent *e = readdir(h->dir)) {
        const char *n = e->d_name;
        if (!strcmp(n, ".") || !strcmp(n, "..")) continue;
        size_t len = strlen(n);
        if (h->pathLength + len >= sizeof h->path) continue;
        memcpy(h->path + h->pathLength, n, len + 1);
        struct stat st;
        if (stat(h->path, &st) != 0) continue; // vanished or dangling: skipped
        if (qxTextModeUtf8) {
            *name = n;
        } else {
            qxUtf8ToLatin1Buf(n, h->name, sizeof h->name);
            *name = h->name;
        }
        *isDirectory = S_ISDIR(st.st_mode) ? 1 : 0;
        if (info) {
            qxFillFileInfo(&st, info);
            info->path = h->path;
        }
        return 1;
    }
    return 0;
}

// ---- Operations on paths ----

int qxDeleteFile(const char *path)
{
    char nat[QX_PATH_MAX];
    return native(path, nat) && remove(nat) == 0;
}

int qxMakeDir(const char *path)
{
    char nat[QX_PATH_MAX];
    if (native(path, nat) && mkdir(nat, 0755) == 0) return 0;
    qxSetErrorString(path);
    return 1084;
}

int qxSetFileDate(const char *path, const uint64_t dates[2])
{
    char nat[QX_PATH_MAX];
    if (!native(path, nat)) return 0;
    struct utimbuf times;
    times.actime = static_cast<time_t>(dates[0]);
    times.modtime = static_cast<time_t>(dates[1]);
    return utime(nat, &times) == 0;
}

int qxSetProtection(const char *path, uint32_t bits)
{
    char nat[QX_PATH_MAX];
    return native(path, nat) && chmod(nat, qxProtectionToMode(bits)) == 0;
}

int qxRename(const char *oldPath, const char *newPath)
{
    char from[QX_PATH_MAX], to[QX_PATH_MAX];
    return native(oldPath, from) && native(newPath, to) && rename(from, to) == 0;
}

int qxMoveFile(const char *oldPath, const char *newPath)
{
    char from[QX_PATH_MAX], to[QX_PATH_MAX];
    if (!native(oldPath, from) || !native(newPath, to)) return 1600;
    struct stat src, dst;
    if (stat(from, &src) != 0 || stat(parentOf(to).c_str(), &dst) != 0) return 1600;
    if (src.st_dev != dst.st_dev) return 1055;
    return rename(from, to) == 0 ? 0 : 1600;
}

int qxIsMountPoint(const char *path)
{
    char nat[QX_PATH_MAX];
    char resolved[PATH_MAX];
    if (!native(path, nat) || !realpath(nat, resolved)) return 1;
    if (!strcmp(resolved, "/")) return 1;
    struct statvfs self, parent;
    if (statvfs(resolved, &self) != 0 || statvfs(parentOf(resolved).c_str(), &parent) != 0) return 1;
    return self.f_fsid != parent.f_fsid;
}

char *qxChangeDir(const char *path)
{
    char nat[QX_PATH_MAX];
    if (!native(path, nat)) return nullptr;
    long max = pathconf(".", _PC_PATH_MAX);
    size_t size = (max > 0 ? static_cast<size_t>(max) : size_t{QX_PATH_MAX}) + 1;
    char *previous = static_cast<char *>(qxAlloc(size, 0));
    if (!previous) return nullptr;
    if (!getcwd(previous, size)) {
        qxFree(previous);
        return nullptr;
    }
    if (!qxTextModeUtf8) {
        // In place: ISO-8859-1 is never longer than its UTF-8 source.
        char *latin = qxUtf8ToLatin1Dup(previous);
        if (!latin) {
            qxFree(previous);
            return nullptr;
        }
        strcpy(previous, latin);
        qxFree(latin);
    }
    // A failed chdir is not reported: the caller only restores directories.
    (void)!chdir(nat);
    return previous;
}
