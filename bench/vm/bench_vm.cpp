// Runs one benchmark chunk in-process and prints the best processor time of
// several runs and the chunk's results, with or without the player's
// per-line hook. run_vm_bench.py drives it against lua5.1.
//
//   bench_vm CHUNK [--hook] [--repeat N]
//   output: "<seconds> <result>\t<result>..." (numbers as %.14g)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>

#include "core/vm/lauxlib.h"
#include "core/vm/qx_vmregs.h"
#include "display/qx_startdisplay.h"
#include "libs/qx_tablecmds.h"
#include "vm/chunk_writer.h"

namespace {

bool readFile(const char *path, std::string &out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

std::string results(lua_State *L) {
    std::string text;
    char buf[64];
    for (int i = 1; i <= lua_gettop(L); i++) {
        if (i > 1) text += '\t';
        if (lua_type(L, i) == LUA_TNUMBER) {
            std::snprintf(buf, sizeof buf, "%.14g", lua_tonumber(L, i));
            text += buf;
        } else if (const char *s = lua_tostring(L, i)) {
            text += s;
        } else {
            text += "?";
        }
    }
    return text;
}

} // namespace

int main(int argc, char **argv) {
    const char *path = nullptr;
    bool hook = false;
    int repeats = 3;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--hook") == 0) hook = true;
        else if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) repeats = std::max(1, std::atoi(argv[++i]));
        else path = argv[i];
    }
    std::string bytes;
    if (path == nullptr || !readFile(path, bytes)) {
        std::fprintf(stderr, "usage: bench_vm CHUNK [--hook] [--repeat N]\n");
        return 2;
    }
    lua_State *L = lua_open();
    lua_pushstring(L, "setmetatable");
    lua_pushcfunction(L, qxCmdSetMetaTable);
    lua_settable(L, LUA_GLOBALSINDEX);
    if (hook) { // as the player installs it
        lua_sethook(L, qxPollEventsIfAllowed, LUA_MASKLINE, 0);
        qxVmLineHookStride = QX_POLL_HOOK_STRIDE;
    }
    double best = -1;
    std::string text;
    for (int r = 0; r < repeats; r++) {
        lua_settop(L, 0);
        if (chunktest::load(L, bytes) != 0) {
            std::fprintf(stderr, "%s: the chunk does not load\n", path);
            return 2;
        }
        std::clock_t start = std::clock();
        int status = lua_pcall(L, 0, LUA_MULTRET, 0);
        double s = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
        if (status != 0) {
            std::fprintf(stderr, "%s: error %d\n", path, status);
            return 2;
        }
        best = best < 0 ? s : std::min(best, s);
        text = results(L);
    }
    lua_close(L);
    std::printf("%.4f %s\n", best, text.c_str());
    return 0;
}
