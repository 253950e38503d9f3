// Runs script chunks in-process to record the VM's profile for the
// profile-guided build (run.sh): the command libraries are registered and
// the line hook installed as the player does, without a display.
//
//   vmtrain CHUNK...
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "core/vm/lauxlib.h"
#include "core/vm/qx_vmregs.h"
#include "display/qx_startdisplay.h"
#include "main/qx_libtable.h"
#include "platform/qx_memory.h"
#include "platform/qx_platform.h"

int main(int argc, char **argv)
{
    qxTuneHeap();
    if (qxInitPlatform() != 0) {
        std::fprintf(stderr, "vmtrain: the platform layer does not start\n");
        return 2;
    }
    lua_State *L = lua_open();
    for (const qxLibraryDef *lib = qxLibraryTable; lib->name; lib++) {
        lua_pushvalue(L, LUA_GLOBALSINDEX);
        if (lib->open(L) != 0) {
            std::fprintf(stderr, "vmtrain: library %s does not open\n", lib->name);
            return 2;
        }
        lua_settop(L, 0);
    }
    lua_sethook(L, qxPollEventsIfAllowed, LUA_MASKLINE, 0);
    qxVmLineHookStride = QX_POLL_HOOK_STRIDE;
    int failed = 0;
    for (int i = 1; i < argc; i++) {
        std::ifstream in(argv[i], std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        lua_settop(L, 0);
        if (!in || luaL_loadbuffer(L, bytes.data(), bytes.size(), "=train") != 0 || lua_pcall(L, 0, 0, 0) != 0) {
            std::fprintf(stderr, "vmtrain: %s fails\n", argv[i]);
            failed = 1;
        }
    }
    lua_close(L);
    return failed;
}
