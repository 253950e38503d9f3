// Native files and directories under the virtual file layer, file
// information, protection bits and operations on paths.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <sys/stat.h>

#include "platform/qx_paths.h"

extern "C" {

struct qxFileInfo {
    uint32_t isDirectory;
    uint64_t size;
    uint32_t protection;
    char comment[256]; // always empty here
    uint64_t accessTime;
    uint64_t modifyTime;
    uint64_t changeTime;
    const char *path;
};

// Program protection bits.
enum : uint32_t {
    QX_PROT_OWNER_READ = 0x1,
    QX_PROT_OWNER_WRITE = 0x2,
    QX_PROT_OWNER_EXEC = 0x8,
    QX_PROT_GROUP_READ = 0x200,
    QX_PROT_GROUP_WRITE = 0x400,
    QX_PROT_GROUP_EXEC = 0x800,
    QX_PROT_OTHER_READ = 0x1000,
    QX_PROT_OTHER_WRITE = 0x2000,
    QX_PROT_OTHER_EXEC = 0x4000,
    QX_PROT_DEFAULT = 0x10000, // mode 0644
};

// Open flags shared with the virtual file layer.
enum : uint32_t {
    QX_OPEN_READ = 1,
    QX_OPEN_WRITE = 2,
    QX_OPEN_READWRITE = 4,
    QX_OPEN_NOCONVERT = 32,
};

struct qxNativeFile {
    FILE *stream;       // NULL for a chunk without container
    uint32_t linked;    // 1 for data inside another file
    int64_t base;       // offset of the data in the file
    int64_t size;
    int64_t position;   // relative to base
    uint32_t lastWasWrite;
    uint32_t mode;      // open flags
    char path[QX_PATH_MAX];
};

struct qxNativeDir {
    char *resolved;          // allocated
    DIR *dir;                // directory stream, or NULL
    int lockFd;              // plain file opened as a lock, or -1
    char path[QX_PATH_MAX + 257]; // path for system calls, room for entry names
    char name[512];          // converted entry name
    uint32_t pathLength;
};

uint32_t qxModeToProtection(mode_t mode);
mode_t qxProtectionToMode(uint32_t bits);
void qxFillFileInfo(const struct stat *st, qxFileInfo *info);

// Native files (used by the virtual file layer).
qxNativeFile *qxNativeOpen(const char *name, uint32_t flags);
int qxNativeClose(qxNativeFile *h);
int64_t qxNativeSeek(qxNativeFile *h, int64_t offset, int whence);
size_t qxFileRead(qxNativeFile *h, void *buffer, size_t n);
int qxNativeGetC(qxNativeFile *h);
// Reads up to and including the next delimiter byte, or to the end, into
// *buffer (malloc'd and grown as needed; *capacity is its size). The bytes
// read, 0 at the end, -1 on a read error.
int64_t qxNativeReadUntil(qxNativeFile *h, int delimiter, char **buffer, size_t *capacity);
// Stores byte at (*buffer)[used], growing the malloc'd buffer as needed;
// 0 when memory runs out.
int qxLineAppend(char **buffer, size_t *capacity, size_t used, int byte);
size_t qxFileWrite(qxNativeFile *h, const void *buffer, size_t n);
int qxNativePutC(qxNativeFile *h, int byte);
int qxNativeFlush(qxNativeFile *h);
int qxNativeEOF(qxNativeFile *h);
int64_t qxNativeSize(qxNativeFile *h);
int qxNativeExamine(qxNativeFile *h, qxFileInfo *info);

// Native directories. Only mode 1 (read) is supported.
qxNativeDir *qxNativeOpenDir(const char *path, int mode);
void qxNativeCloseDir(qxNativeDir *h);
int qxNativeDirExamine(qxNativeDir *h, qxFileInfo *info);
// 0 when the handle is a directory, else 1250 (the path is the error text).
int qxNativeIsDir(qxNativeDir *h);
int qxNativeRewindDir(qxNativeDir *h);
// Copies the resolved path; 0 when it does not fit.
int qxNativeDirName(qxNativeDir *h, char *buffer, size_t capacity);
// 1 with the next entry ("." and ".." skipped), 0 at the end. The name
// points into the handle and stays valid until the next call.
int qxNativeNextEntry(qxNativeDir *h, void *reserved, const char **name, int *isDirectory, qxFileInfo *info);

// Operations on paths: 1 on success, 0 on failure unless said otherwise.
int qxDeleteFile(const char *path);
int qxMakeDir(const char *path); // 0, or 1084
int qxSetFileDate(const char *path, const uint64_t dates[2]); // access, modification
int qxSetProtection(const char *path, uint32_t bits);
int qxRename(const char *oldPath, const char *newPath);
int qxMoveFile(const char *oldPath, const char *newPath); // 0, 1055 or 1600
int qxIsMountPoint(const char *path);
// chdir; returns the previous directory (qxFree), NULL on failure.
char *qxChangeDir(const char *path);
}
