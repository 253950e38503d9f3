// Commands on one file-system object: Rename, MakeDirectory,
// SetFileAttributes, the tests Exists, IsDirectory, FileSize, HaveVolume,
// and the volume queries (no volume support here).
#include <sys/stat.h>

#include <cstring>
#include <ctime>
#include <string>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/runtime/qx_lists.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"
#include "libs/qx_dos.h"
#include "libs/qx_dosfs.h"
#include "platform/qx_hooks.h"

namespace {

constexpr size_t kRenameDir = 512;

bool examine(const char *name, qxFileInfo *info, int adapters)
{
    return name && *name && qxExamineObject(name, info, adapters) != 0;
}

// A date text field of the table at t: 0 with *seconds set or *given left
// alone, 1285 for a bad text, 1247 for a non-string.
int dateField(lua_State *L, int t, const char *key, uint64_t *seconds, bool *given)
{
    char text[64] = "";
    int found = 0;
    qxGetFieldStr(L, t, key, text, sizeof text, &found);
    if (!found) return 0;
    struct tm tm;
    if (!qxParseDateTime(text, &tm)) return ERR_INVALIDDATE;
    time_t when = mktime(&tm);
    if (when == static_cast<time_t>(-1) && !(tm.tm_year == 69 && tm.tm_mon == 11 && tm.tm_mday == 31))
        return ERR_INVALIDDATE;
    *seconds = static_cast<uint64_t>(when);
    *given = true;
    return 0;
}

} // namespace

int qxDosMakePath(const char *path)
{
    std::string p(path);
    for (size_t i = 0; i <= p.size(); i++) {
        if (i < p.size() && p[i] != '/' && p[i] != '\\') continue;
        if (i == 0) continue; // the root
        std::string prefix = p.substr(0, i);
        if (prefix.empty() || prefix.back() == '/' || prefix.back() == '\\') continue;
        qxFileInfo info{};
        if (qxExamineObject(prefix.c_str(), &info, 0)) {
            if (!info.isDirectory) {
                qxSetErrorString(path);
                return ERR_CREATEDIR;
            }
            continue;
        }
        if (qxMakeDir(prefix.c_str()) != 0) {
            // Made meanwhile by someone else is fine.
            if (qxExamineObject(prefix.c_str(), &info, 0) && info.isDirectory) continue;
            qxSetErrorString(path);
            return ERR_CREATEDIR;
        }
    }
    return 0;
}

int qxCmdRename(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    std::string oldName = luaL_checkstring(L, 1), newName = luaL_checkstring(L, 2);
    if (oldName.empty() || newName.empty() || qxIsChunkName(oldName.c_str()) || qxIsChunkName(newName.c_str()))
        return ERR_WRONGUSAGE;
    std::string dir = oldName.substr(0, oldName.size() - std::strlen(qxFilePart(oldName.c_str())));
    if (dir.size() >= kRenameDir) return ERR_MEM; // cut, it would name another file
    std::string target = dir + qxFilePart(newName.c_str());
    if (!qxRename(oldName.c_str(), target.c_str())) return ERR_RENAME;
    return 0;
}

int qxCmdMakeDirectory(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    const char *path = luaL_checkstring(L, 1);
    if (!*path || qxIsChunkName(path)) return ERR_WRONGUSAGE;
    return qxDosMakePath(path);
}

int qxCmdSetFileAttributes(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    const char *name = luaL_checkstring(L, 1);
    luaL_checktable(L, 2);
    if (!*name || qxIsChunkName(name)) return ERR_WRONGUSAGE;
    qxFileInfo info{};
    if (!examine(name, &info, 0)) {
        qxSetErrorString(name);
        return ERR_LOCK2;
    }
    lua_pushstring(L, "flags");
        lua_gettable(L, 2);
    if (!lua_isnil(L, -1)) {
        if (lua_type(L, -1) != LUA_TNUMBER) {
            qxSetErrorString("flags");
            return ERR_NUMTABLEARG;
        }
        double flags = lua_tonumber(L, -1);
        if (!(flags >= 0 && flags <= UINT32_MAX)) return ERR_SETFILEATTR;
        if (!qxSetProtection(name, static_cast<uint32_t>(flags))) return ERR_SETFILEATTR;
    }
    lua_pop(L, 1);
    uint64_t dates[2] = {info.accessTime, info.modifyTime};
    bool given = false;
    if (int r = dateField(L, 2, "time", &dates[1], &given)) return r;
    if (int r = dateField(L, 2, "lastaccesstime", &dates[0], &given)) return r;
    if (given && !qxSetFileDate(name, dates)) return ERR_SETFILEDATE;
    return 0;
}

int qxCmdExists(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    const char *name = qxGetFileNameArg(L, 1, 0, nullptr);
    qxFileInfo info{};
    lua_pushnumber(L, examine(name, &info, 1) ? 1 : 0);
    return 1;
}

int qxCmdHaveVolume(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxFileInfo info{};
    lua_pushnumber(L, examine(luaL_checkstring(L, 1), &info, 1) ? 1 : 0);
    return 1;
}

int qxCmdIsDirectory(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    const char *name = luaL_checkstring(L, 1);
    qxFileInfo info{};
    if (!examine(name, &info, 1)) {
        qxSetErrorString(name);
        return ERR_STAT;
    }
    lua_pushnumber(L, info.isDirectory ? 1 : 0);
    return 1;
}

int qxCmdFileSize(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    const char *name = qxGetFileNameArg(L, 1, 0, nullptr);
    qxFileInfo info{};
    bool file = examine(name, &info, 1) && !info.isDirectory;
    lua_pushnumber(L, file ? static_cast<double>(info.size) : -1);
    return 1;
}

int qxCmdGetVolumeName(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    const char *path = luaL_checkstring(L, 1);
    if (!*path) return ERR_WRONGUSAGE;
    char name[64];
    if (int r = qxGetVolumeName(path, name, sizeof name)) return r;
    lua_pushstring(L, name);
    return 1;
}

int qxCmdGetVolumeInfo(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    const char *path = luaL_checkstring(L, 1);
    if (!*path) return ERR_WRONGUSAGE;
    uint64_t freeBytes = 0, totalBytes = 0;
    if (int r = qxGetVolumeInfo(path, &freeBytes, &totalBytes)) return r;
    uint64_t used = totalBytes > freeBytes ? totalBytes - freeBytes : 0;
    lua_pushnumber(L, double(luaL_optint(L, 2, 0) == 1 ? freeBytes : used));
    return 1;
}
