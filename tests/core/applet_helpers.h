// Shared by the applet tests: applets assembled from listings with qxasm,
// a scratch directory, and a run record wired into a fresh VM state.
#pragma once
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/applet/qx_applet.h"
#include "platform/qx_tempfiles.h"
#include "core/commands/qx_commands.h"
#include "core/runtime/qx_options.h"
#include "core/applet/qx_preproc.h"
#include "core/runtime/qx_startup.h"
#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "core/applet/qx_appicon.h"
#include "platform/qx_memory.h"
#include "platform/qx_paths.h"
#include "platform/qx_text.h"
#include "qxasm.h"

namespace applettest {

inline std::vector<uint8_t> assemble(const std::string &listing, qxAsmMode mode = qxAsmMode::Applet)
{
    qxAsmOptions o;
    o.mode = mode;
    return qxAsmAssemble(listing, "main.qxs", o);
}

inline void writeFile(const std::string &path, const std::vector<uint8_t> &bytes)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

inline std::vector<uint8_t> readFile(const std::string &path)
{
    std::vector<uint8_t> out;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    int c;
    while ((c = std::fgetc(f)) != EOF) out.push_back(uint8_t(c));
    std::fclose(f);
    return out;
}

inline std::vector<std::string> listDir(const std::string &dir)
{
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

inline void removeTree(const std::string &path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        for (const std::string &n : listDir(path)) removeTree(path + "/" + n);
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

// A fresh VM with the run records in the registry, a scratch directory that
// is also the temporary directory, and the loader's globals reset.
struct AppletRun {
    lua_State *L = nullptr;
    qxStartupInfo *startup = nullptr;
    qxAppletInfo *applet = nullptr;
    std::string dir;
    std::string temp;

    AppletRun()
    {
        char pattern[] = "/tmp/qxapplet.XXXXXX";
        dir = mkdtemp(pattern);
        temp = dir + "/tmp";
        mkdir(temp.c_str(), 0700);
        qxSetTempDirectory(temp.c_str());
        L = lua_open();
        startup = static_cast<qxStartupInfo *>(qxAlloc(sizeof(qxStartupInfo), 1));
        applet = static_cast<qxAppletInfo *>(qxAlloc(sizeof(qxAppletInfo), 1));
        applet->versionMajor = 8;
        qxInitDisplayDefaults(applet);
        std::snprintf(startup->programPath, sizeof startup->programPath, "/opt/zephyrane/zephyrane");
        qxApplet = applet;
        lua_pushstring(L, "applet");
        lua_pushlightuserdata(L, applet);
        lua_settable(L, LUA_REGISTRYINDEX);
        lua_pushstring(L, "clargs");
        lua_pushlightuserdata(L, startup);
        lua_settable(L, LUA_REGISTRYINDEX);
        std::memset(&qxAppletLoad, 0, sizeof qxAppletLoad);
        qxGlobalSettings.noChdir = 1;
        qxSetTag(QX_TAG_QUIET, 1);
        qxLinked = 0;
        qxAppendedOffset = 0;
    }
    ~AppletRun()
    {
        qxFreeAppletInfo(applet);
        qxApplet = nullptr;
        qxFree(startup);
        qxFreeIconSlots();
        qxFreeSavedDirectory();
        lua_close(L);
        qxDeleteTempFiles();
        qxGlobalSettings.noChdir = 0;
        qxGlobalSettings.backendFlags = 0;
        qxGlobalSettings.noDebug = 0;
        qxLinked = 0;
        qxAppendedOffset = 0;
        qxSetTextModeUtf8(1);
        qxSetTag(QX_TAG_QUIET, 0);
        qxSetTempDirectory(nullptr);
        removeTree(dir);
    }
    std::string put(const std::string &name, const std::vector<uint8_t> &bytes)
    {
        std::string path = dir + "/" + name;
        writeFile(path, bytes);
        std::snprintf(startup->appletPath, sizeof startup->appletPath, "%s", path.c_str());
        return path;
    }
    int load() { return qxLoadApplet(L, startup, applet); }
};

} // namespace applettest
