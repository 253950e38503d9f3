// Vocabulary dumps: the command, constant and object-type names of the
// player, one per line, for editors and tools.
#include <cctype>
#include <cstring>
#include <string>
#include <strings.h>

#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "core/vm/lua.h"

namespace {

constexpr const char *kPlatformConstants[] = {"QX_AMIGA", "QX_MACOS", "QX_LINUX", "QX_WINDOWS", "QX_ANDROID", "QX_IOS"};

bool isPlatformConstant(const char *name)
{
    for (const char *p : kPlatformConstants)
        if (strcasecmp(p, name) == 0) return true;
    return false;
}

qxFileHandle *create(const char *path)
{
    qxFileHandle *h = qxOpen(path, QX_OPEN_WRITE, nullptr);
    if (!h) qxSetErrorString(path);
    return h;
}

bool line(qxFileHandle *h, const std::string &text)
{
    std::string s = text + "\n";
    return qxWrite(h, s.data(), static_cast<int64_t>(s.size())) == static_cast<int64_t>(s.size());
}

int finish(qxFileHandle *h, bool ok)
{
    qxClose(h);
    return ok ? 0 : 1005;
}

} // namespace

extern "C" {

int qxDumpCommandNames(const char *path)
{
    qxFileHandle *h = create(path);
    if (!h) return 1052;
    bool ok = true;
    for (const qxLibraryEntry *lib = qxLibraryNames; lib && ok; lib = lib->next) {
        int count = 0;
        for (const qxCommandDef *c = lib->commands; c && c->name; c++) count++;
        ok = line(h, std::string("::") + lib->name) && line(h, std::to_string(count));
        for (const qxCommandDef *c = lib->commands; ok && c && c->name; c++) ok = line(h, c->name);
    }
    ok = ok && line(h, "::end");
    return finish(h, ok);
}

int qxDumpConstantNames(lua_State *L, const char *path)
{
    qxFileHandle *h = create(path);
    if (!h) return 1052;
    bool ok = true;
    int top = lua_gettop(L);
    lua_pushstring(L, "constants");
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (lua_istable(L, -1)) {
        lua_pushnil(L);
        while (lua_next(L, -2)) {
            lua_pop(L, 1);
            if (lua_type(L, -1) == LUA_TSTRING) {
                const char *name = lua_tostring(L, -1);
                if (ok && !isPlatformConstant(name)) ok = line(h, name);
            }
        }
    }
    lua_settop(L, top);
    for (const char *p : kPlatformConstants) {
        std::string lower(p);
        for (char &c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        ok = ok && line(h, lower);
    }
    return finish(h, ok);
}

int qxDumpObjectTypeNames(const char *path, const char *const *names)
{
    qxFileHandle *h = create(path);
    if (!h) return 1052;
    bool ok = line(h, "BGPIC");
    for (; ok && names && *names; names++) ok = line(h, *names);
    return finish(h, ok);
}

} // extern "C"
