// Paths between the program's text mode and the (UTF-8) file system, the
// program directory behind "PROGDIR:", and the temporary directory.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

extern "C" {

enum { QX_PATH_MAX = 4096, QX_TEMPDIR_SIZE = 1024 };

// The executable's path, set once by start-up; "PROGDIR:" is its directory.
void qxSetProgramPath(const char *path);
const char *qxGetProgramPath(void);

// The temporary directory ("/tmp" unless TEMPDIR sets another); at most
// QX_TEMPDIR_SIZE - 1 bytes, 0 when the path is too long.
int qxSetTempDirectory(const char *path);
const char *qxGetTempDirectory(void);
// Creates an empty file "zephyrane.XXXXXX" in the temporary directory,
// writes its path into buffer and registers it for deletion at exit.
// 1 on success, 0 on failure (nothing is left behind).
int qxTempFileName(char *buffer, size_t capacity);

// The per-user preferences directory ("preferences" in ".zephyrane-kit"
// in HOME), made when missing. 1, or 0 (buffer empty or partial) when HOME
// is unset, the path does not fit or a directory cannot be made.
int qxGetPrefsDir(char *buffer, size_t size);

// Identifiers of the well-known directories; the others (Windows folders,
// documents, storage cards, bundles) do not exist on this platform.
enum {
    QX_SPECIAL_PROGDIR = 0,
    QX_SPECIAL_USERHOME = 6,
    QX_SPECIAL_USERNAME = 7,
    QX_SPECIAL_PREFERENCES = 12,
    QX_SPECIAL_TEMPFILES = 13,
    QX_SPECIAL_LAST = 13,
};
// Writes the path (for QX_SPECIAL_USERNAME the user's name) into buffer;
// 1, or 0 when the platform has none or it does not fit. Nothing is made.
int qxGetSpecialPath(uint32_t id, char *buffer, size_t size);

// Chunk names are copied unchanged; otherwise converted to UTF-8 when
// convert is set and the mode is ISO-8859-1; every "\" becomes "/".
// Returns buffer, or NULL when the result does not fit.
char *qxNativePath(const char *path, char *buffer, size_t capacity, int convert);
// fopen with the path converted to UTF-8 outside UTF-8 mode.
FILE *qxFOpen(const char *path, const char *modeText, int noConversion);
// Absolute form of a path (resolved when it exists); 1, or 0 when it does
// not fit into capacity.
int qxFullPath(const char *path, char *buffer, size_t capacity);
}
