// Feeds arbitrary bytes to the table and function readers: as a file read
// by ReadTable and ReadFunction, as memory read by the stream reader, and
// as a preferences file (as given, and behind the "PRFS" magic).
// Nothing may crash, leak or allocate beyond what the input holds.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/runtime/qx_startup.h"

#include "core/vm/lua.h"
#include "fuzzdos.h"
#include "libs/qx_dos.h"
#include "libs/qx_prefs.h"
#include "libs/qx_serialize.h"

namespace {

// Calls a global command with the numbers and strings given; its status.
int call(lua_State *L, const char *name, std::initializer_list<std::string> args)
{
    lua_settop(L, 0);
    lua_pushstring(L, name);
    lua_gettable(L, LUA_GLOBALSINDEX);
    for (const std::string &a : args) {
        if (!a.empty() && a[0] == '#') lua_pushnumber(L, std::stod(a.substr(1)));
        else lua_pushlstring(L, a.data(), a.size());
    }
    return lua_pcall(L, static_cast<int>(args.size()), LUA_MULTRET, 0);
}

// The preferences file of an applet named "fuzz" in a private HOME.
const std::string &prefsFile(lua_State *L)
{
    static const std::string file = [L] {
        static qxAppletInfo applet{};
        std::snprintf(applet.header[5], sizeof applet.header[5], "fuzz");
        lua_pushstring(L, "applet");
        lua_pushlightuserdata(L, &applet);
        lua_settable(L, LUA_REGISTRYINDEX);
        std::string home = "/tmp/qx_prefs_fuzz." + std::to_string(getpid());
        setenv("HOME", home.c_str(), 1);
        char dir[1024];
        qxPrefsPath("fuzz", dir, sizeof dir);
        return std::string(dir);
    }();
    return file;
}

void loadPrefs(lua_State *L, const uint8_t *data, size_t size, bool magic)
{
    FILE *f = std::fopen(prefsFile(L).c_str(), "wb");
    if (!f) return;
    if (magic) std::fwrite("PRFS", 1, 4, f);
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    lua_settop(L, 0);
    qxLoadPrefsFile(L, 0);
    lua_settop(L, 0);
    lua_newtable(L);
    qxLoadPrefsFile(L, 1);
    lua_settop(L, 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    lua_State *L = fuzzdos::state();
    static const std::string path = "/tmp/qx_readtable_fuzz." + std::to_string(getpid());
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    if (call(L, "openfile", {"#1", path}) == 0) {
        call(L, "readtable", {"#1"});
        call(L, "seek", {"#1", "#0"});
        call(L, "readfunction", {"#1"});
        call(L, "closefile", {"#1"});
    }

    // The bare stream from memory, into a new table and into a given one.
    lua_settop(L, 0);
    qxMemCursor cursor{const_cast<uint8_t *>(data), const_cast<uint8_t *>(data) + size};
    qxReadTableStream(L, nullptr, &cursor, 0);
    lua_settop(L, 0);
    lua_newtable(L);
    cursor = {const_cast<uint8_t *>(data), const_cast<uint8_t *>(data) + size};
    qxReadTableStream(L, nullptr, &cursor, 1);
    lua_settop(L, 0);
    cursor = {const_cast<uint8_t *>(data), const_cast<uint8_t *>(data) + size};
    qxReadFunctionData(L, nullptr, size && (data[0] & 1), &cursor);
    lua_settop(L, 0);
    loadPrefs(L, data, size, false);
    loadPrefs(L, data, size, true);
    unlink(path.c_str());
    return 0;
}
