// Preferences file reading and writing, and the system library's commands.
#include "libs/qx_prefs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/applet/qx_applet.h"
#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "core/runtime/qx_lists.h"
#include "core/vm/lauxlib.h"
#include "libs/qx_serialize.h"

namespace {

constexpr size_t PREFS_PATH_SIZE = 1024;
const char MAGIC[4] = {'P', 'R', 'F', 'S'};

const char *appletIdentifier(lua_State *L) {
    const qxAppletInfo *applet = qxGetAppletRecord(L);
    return applet ? applet->header[5] : "";
}

int prefsPathOf(lua_State *L, char *buffer) { return qxPrefsPath(appletIdentifier(L), buffer, PREFS_PATH_SIZE); }

// Closes the handle however the caller leaves.
struct FileGuard {
    qxFileHandle *h;
    ~FileGuard() {
        if (h) qxClose(h);
    }
};

} // namespace

extern "C" {

int qxPrefsPath(const char *identifier, char *buffer, size_t size) {
    // The identifier names a file inside the directory, never a path (the
    // file layer reads a backslash as "/" too).
    if (!identifier || !*identifier || std::strpbrk(identifier, "/\\") || !std::strcmp(identifier, ".") ||
        !std::strcmp(identifier, ".."))
        return ERR_WRONGUSAGE;
    if (!qxGetPrefsDir(buffer, size) || !qxAddPart(buffer, identifier, size)) {
        qxSetErrorString(identifier);
        return ERR_WRITEFILE;
    }
    return 0;
}

int qxLoadPrefsFile(lua_State *L, int mode) {
    char path[PREFS_PATH_SIZE];
    if (int r = prefsPathOf(L, path)) return r == ERR_WRITEFILE ? ERR_READFILE : r;
    FileGuard file{qxOpen(path, QX_OPEN_READ | QX_OPEN_NOCONVERT, nullptr)};
    if (!file.h) {
        qxSetErrorString(path);
        return ERR_READFILE;
    }
    char magic[4];
    if (qxRead(file.h, magic, 4) != 4) return ERR_READ;
    if (std::memcmp(magic, MAGIC, 4) != 0) return ERR_FILEFORMAT;
    int top = lua_gettop(L);
    if (mode == 1) lua_pushvalue(L, 1);
    int r = qxReadTableStream(L, file.h, nullptr, mode == 1);
    if (r || mode == 1) lua_settop(L, top);
    return r;
}

int qxSavePrefsFile(lua_State *L, int idx) {
    if (idx < 0 && idx > LUA_REGISTRYINDEX) idx = lua_gettop(L) + idx + 1;
    char path[PREFS_PATH_SIZE];
    if (int r = prefsPathOf(L, path)) return r;
    // The new contents go to a file beside the old one, which a rename
    // replaces only after everything was written.
    char temp[PREFS_PATH_SIZE + 8];
    std::snprintf(temp, sizeof temp, "%s.XXXXXX", path);
    int fd = mkstemp(temp);
    if (fd < 0) {
        qxSetErrorString(path);
        return ERR_WRITEFILE;
    }
    fchmod(fd, 0644);
    close(fd);
    qxFileHandle *h = qxOpen(temp, QX_OPEN_WRITE | QX_OPEN_NOCONVERT, nullptr);
    int r = h ? 0 : ERR_WRITEFILE;
    if (!r && qxWrite(h, MAGIC, 4) != 4) r = ERR_WRITEFILE;
    if (!r) r = qxWriteTableStream(L, idx, h, nullptr, nullptr);
    if (!r && !qxFlush(h)) r = ERR_WRITEFILE;
    if (h && !qxClose(h) && !r) r = ERR_WRITEFILE;
    if (!r && std::rename(temp, path) != 0) r = ERR_WRITEFILE;
    if (r) {
        std::remove(temp);
        if (r == ERR_WRITEFILE) qxSetErrorString(path);
    }
    return r;
}

int qxCmdLoadPrefs(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    luaL_checktable(L, 1);
    lua_settop(L, 1);
    int r = qxLoadPrefsFile(L, 1);
    return r == ERR_READFILE ? 0 : r;
}

int qxCmdSavePrefs(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    luaL_checktable(L, 1);
    lua_settop(L, 1);
    return qxSavePrefsFile(L, 1);
}

int qxCmdDeletePrefs(lua_State *L) {
    qxCheckArgCount(L, 0, 0, 0, 0);
    char path[PREFS_PATH_SIZE];
    if (int r = prefsPathOf(L, path)) return r;
    if (std::remove(path) != 0 && errno != ENOENT) {
        qxSetErrorString(path);
        return ERR_DELETEFILE;
    }
    return 0;
}
}
