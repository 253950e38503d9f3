// Latency from a sample's end to its OnSampleEnd handler run by qxEventStep
// waiting like WaitEvent, on ALSA's null PCM (which takes the frames at
// once, so the sample has ended when the output has written its one frame
// and seen the device drained). Measured from PlaySample's return.
// Target: median and 99th percentile under 5 ms.
// Usage: bench_sampleend [runs (300)]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "display/qx_display.h"
#include "display/qx_displaylibs.h"
#include "display/qx_eventqueue.h"
#include "display/qx_events.h"
#include "media/qx_medialibs.h"
#include "media/qx_sound.h"
#include "platform/qx_libimports.h"
#include "platform/qx_threadevents.h"
#include "platform/qx_wakepipe.h"
#include "platform/x11/x11_display.h"
#include "xserver.h"

extern "C" int qxCmdInstallEventHandler(lua_State *L);

namespace {

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double endedAt;

int onEnd(lua_State *)
{
    endedAt = now();
    return 0;
}

void callGlobal(lua_State *L, const char *name, int nargs)
{
    lua_pushstring(L, name);
    lua_gettable(L, LUA_GLOBALSINDEX);
    lua_insert(L, -1 - nargs);
    if (lua_pcall(L, nargs, 0, 0)) {
        std::printf("bench_sampleend: %s failed\n", name);
        std::exit(2);
    }
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(p / 100 * double(v.size())))];
}

} // namespace

int main(int argc, char **argv)
{
    int runs = argc > 1 ? std::atoi(argv[1]) : 300;
    // ALSA reads the null device from a private configuration.
    char home[] = "/tmp/qxbench_sampleendXXXXXX";
    if (!mkdtemp(home)) return 1;
    setenv("HOME", home, 1);
    std::system(("printf 'pcm.!default { type null }\\n' > " + std::string(home) + "/.asoundrc").c_str());
    XServer server;
    x11NoMouseHook = 1;
    qxImportLibraries();
    if (!server.startXvfb(24, false)) {
        std::puts("bench_sampleend: Xvfb did not start");
        return 1;
    }
    std::snprintf(x11DefaultServer, sizeof x11DefaultServer, "%s", server.name().c_str());
    qxInitEventQueue();
    qxInitDisplayList();
    qxCreateThreadEventQueue();
    qxCreateWakePipe();
    x11InitWindowing(nullptr);
    lua_State *L = lua_open();
    if (qxOpenEventLib(L) || qxOpenSoundLib(L)) return 2;
    qxAudio.onSampleEnd = 1;

    lua_newtable(L);
    lua_pushstring(L, "onsampleend");
    lua_pushcfunction(L, onEnd);
    lua_settable(L, 1);
    if (qxCmdInstallEventHandler(L)) return 2;
    lua_settop(L, 0);

    // CreateSample(1, {0, 0}, 8000, #MONO16): two frames.
    lua_pushnumber(L, 1);
    lua_newtable(L);
    for (int i = 0; i < 2; i++) {
        lua_pushnumber(L, 0);
        lua_rawseti(L, -2, i);
    }
    lua_pushnumber(L, 8000);
    lua_pushnumber(L, 1);
    callGlobal(L, "createsample", 4);

    std::vector<double> latencies;
    for (int i = 0; i < runs; i++) {
        endedAt = 0;
        lua_pushnumber(L, 1);
        callGlobal(L, "playsample", 1);
        double started = now();
        while (!endedAt) {
            int handled = 1;
            if (qxEventStep(L, 1, 1, 0, &handled)) return 3;
        }
        latencies.push_back((endedAt - started) * 1000.0);
    }
    std::printf("sample end to OnSampleEnd over %d runs: median %.3f ms, p99 %.3f ms, worst %.3f ms "
                "(target < 5)\n",
                runs, percentile(latencies, 50), percentile(latencies, 99), percentile(latencies, 100));
    qxCloseSoundLib(L);
    qxFreeAllMusic(L);
    qxFreeEventLib(L);
    lua_close(L);
    qxFreeAudioOutput();
    x11ExitPlatform();
    std::system(("rm -rf " + std::string(home)).c_str());
    return 0;
}
