// Feeds arbitrary source and patch files to ApplyPatch, with and without a
// progress function that may fail part-way: no crash, no leak, and every
// byte that reaches the destination is the one the combination gives.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "core/errors/qx_errors.h"
#include "core/vm/lua.h"
#include "fuzzdos.h"

namespace {

int stopAt = -1; // percentage at which the progress function fails

int progress(lua_State *L)
{
    lua_pushstring(L, "progress");
    lua_gettable(L, 1);
    if (static_cast<int>(lua_tonumber(L, -1)) == stopAt) return ERR_WRONGUSAGE;
    return 0;
}

int call(lua_State *L, int nargs) { return lua_pcall(L, nargs, 0, 0) == 0 ? 0 : 1; }

void pushCommand(lua_State *L, const char *name)
{
    lua_pushstring(L, name);
    lua_gettable(L, LUA_GLOBALSINDEX);
}

bool writeFile(const std::string &path, const uint8_t *data, size_t size)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    return true;
}

std::string readFile(const std::string &path)
{
    std::string s;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return s;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    std::fclose(f);
    return s;
}

int open(lua_State *L, int id, const std::string &path, int mode)
{
    lua_settop(L, 0);
    pushCommand(L, "openfile");
    lua_pushnumber(L, id);
    lua_pushstring(L, path.c_str());
    lua_pushnumber(L, mode);
    return call(L, 3);
}

void close(lua_State *L, int id)
{
    lua_settop(L, 0);
    pushCommand(L, "closefile");
    lua_pushnumber(L, id);
    call(L, 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) return 0;
    lua_State *L = fuzzdos::state();
    static const std::string base = "/tmp/qx_patch_fuzz." + std::to_string(getpid());
    const std::string src = base + ".src", patch = base + ".patch", out = base + ".out";
    // Byte 0 splits the rest into source and patch; byte 1 picks the callback.
    size_t rest = size - 2, cut = rest ? data[0] % (rest + 1) : 0;
    const uint8_t *s = data + 2, *p = data + 2 + cut;
    size_t sourceSize = cut, patchSize = rest - cut;
    if (!writeFile(src, s, sourceSize) || !writeFile(patch, p, patchSize)) return 0;
    stopAt = data[1] & 0x80 ? data[1] & 0x7F : -1;

    int status = 1;
    if (open(L, 1, src, 1005) == 0 && open(L, 2, patch, 1005) == 0 && open(L, 3, out, 1006) == 0) {
        lua_settop(L, 0);
        pushCommand(L, "applypatch");
        lua_pushnumber(L, 1);
        lua_pushnumber(L, 2);
        lua_pushnumber(L, 3);
        if (data[1] & 1) lua_pushcfunction(L, progress);
        status = call(L, lua_gettop(L) - 1);
    }
    close(L, 1);
    close(L, 2);
    close(L, 3);
    std::string got = readFile(out);
    // Every byte written is the combination; a finished run writes them all.
    if (got.size() > sourceSize || (status == 0 && got.size() != sourceSize)) __builtin_trap();
    for (size_t i = 0; i < got.size(); i++) {
        uint8_t want = i < patchSize ? static_cast<uint8_t>(s[i] ^ p[i]) : static_cast<uint8_t>(~s[i]);
        if (static_cast<uint8_t>(got[i]) != want) __builtin_trap();
    }
    unlink(src.c_str());
    unlink(patch.c_str());
    unlink(out.c_str());
    lua_settop(L, 0);
    return 0;
}
