// Fuzz target: the applet loader (plain, packed and appended forms) and the
// linked plug-in chain on arbitrary bytes.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/applet/qx_applet.h"
#include "core/commands/qx_commands.h"
#include "core/runtime/qx_options.h"
#include "core/plugins/qx_plugins.h"
#include "core/applet/qx_preproc.h"
#include "core/runtime/qx_startup.h"
#include "core/vm/lua.h"
#include "core/applet/qx_appicon.h"
#include "platform/qx_memory.h"
#include "platform/qx_tempfiles.h"
#include "platform/qx_paths.h"
#include "platform/qx_text.h"

namespace {

std::string scratch;

void emptyDir(const std::string &dir)
{
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
            std::string p = dir + "/" + e->d_name;
            struct stat st;
            if (lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                emptyDir(p);
                rmdir(p.c_str());
            } else {
                unlink(p.c_str());
            }
        }
        closedir(d);
    }
}

// Stands in for every command that creates a declared object: the argument
// tables are built from the fuzzed records; a directory tree handed over is
// the command's to free.
int acceptObject(lua_State *L)
{
    if (lua_gettop(L) >= 3 && lua_istable(L, 3)) {
        lua_pushstring(L, "__direntries");
        lua_gettable(L, 3);
        if (lua_islightuserdata(L, -1)) qxFreeDirTree(static_cast<qxDirEntry *>(lua_touserdata(L, -1)));
        lua_pop(L, 1);
    }
    return 0;
}

void registerCommands(lua_State *L)
{
    for (const char *name : {"loadbgpic", "loadbrush", "loadanim", "openmusic", "loadsample", "createbutton",
                             "createkeydown", "loadsprite", "openfile", "openfont", "createdisplay", "openvideo",
                             "createmenu", "loadicon", "createicon", "opendirectory"}) {
        lua_pushstring(L, name);
        lua_pushcclosure(L, acceptObject, 0);
        lua_settable(L, LUA_GLOBALSINDEX);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (scratch.empty()) {
        char pattern[] = "/tmp/qxappletfuzz.XXXXXX";
        if (!mkdtemp(pattern)) return 0;
        scratch = pattern;
        qxSetTempDirectory(scratch.c_str());
        qxGlobalSettings.noChdir = 1;
        qxGlobalSettings.noDebug = 1; // declared warnings stay quiet
        qxSetTag(QX_TAG_QUIET, 1);
    }
    if (size < 1) return 0;
    // The first byte picks the form: bit 0 linked (4 bytes of prefix),
    // bit 1 the plug-in chain reader instead.
    uint8_t mode = data[0];
    std::string path = scratch + "/input";
    if (FILE *f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data + 1, 1, size - 1, f);
        std::fclose(f);
    }
    std::memset(&qxAppletLoad, 0, sizeof qxAppletLoad);
    qxLinked = mode & 1;
    qxAppendedOffset = qxLinked ? 4 : 0;
    if (mode & 2) {
        qxExtractLinkedPlugins(path.c_str(), qxAppendedOffset);
    } else {
        lua_State *L = lua_open();
        auto *startup = static_cast<qxStartupInfo *>(qxAlloc(sizeof(qxStartupInfo), 1));
        auto *applet = static_cast<qxAppletInfo *>(qxAlloc(sizeof(qxAppletInfo), 1));
        applet->versionMajor = 8;
        qxInitDisplayDefaults(applet);
        startup->quiet = 1;
        std::snprintf(startup->appletPath, sizeof startup->appletPath, "%s", path.c_str());
        std::snprintf(startup->programPath, sizeof startup->programPath, "%s", path.c_str());
        qxApplet = applet;
        if (qxLoadApplet(L, startup, applet) == 0) {
            // No plug-in is looked for: the names come from the input.
            for (qxObjectRecord **at = &applet->objects; *at;) {
                qxObjectRecord *o = *at;
                if (o->kind != QX_OBJ_PLUGIN) {
                    at = &o->next;
                    continue;
                }
                *at = o->next;
                qxFreeObjectRecord(o);
            }
            registerCommands(L);
            qxRunPreprocessorObjects(L, startup, applet, 0);
        }
        qxFreeAppletInfo(applet);
        qxApplet = nullptr;
        qxFree(startup);
        qxFreeIconSlots();
        lua_close(L);
    }
    qxDeleteTempFiles();
    qxLinkedPluginDir[0] = 0;
    qxLinked = 0;
    qxAppendedOffset = 0;
    qxSetTextModeUtf8(1);
    emptyDir(scratch);
    return 0;
}
