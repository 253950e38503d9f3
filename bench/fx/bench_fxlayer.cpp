// A real-time layer transition as an applet plays it: the player runs an
// applet that puts 49 brushes of 320x240 as layers on a 640x480 display,
// a 640x480 layer on top, and pushes an emulated BGPic onto that layer
// (ShowLayerFX with "bgpicemu", PUSHLEFT, async, AsyncDrawFrame until done)
// a number of times. Twice, alternately, on one Xvfb: once as it is (the
// frames go straight from the layer to the window) and once with a 1x1
// layer above the top one, which makes every frame recompose the BGPic and
// all 50 layers. Prints the medians of the whole process (wall clock and
// processor time) and the ratio.
// Usage: bench_fxlayer [rounds (7)] [runs per applet (10)]
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "xserver.h"

namespace {

double nowMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

std::string listing(bool covered, int runs)
{
    std::string s =
        ".maxstack 30\n"
        ".object 10 1 u32:0 u32:0xFFFE7960 u32:0xFFFE7960 u32:640 u32:480 u32:0x336699 u32:0x400 "
        "u32:0 u32:0 u32:0 u32:0 u32:0 pstr:\"FxBench\" u8:1 u32:0 u16:0 u32:0 u32:0 u32:0 u8:2 "
        "u32:0 u32:0 u32:0 u32:0 u8:0 pstr:\"\" u8:0 u8:0 u8:0 u32:0 u8:1 u8:0 i16:-1 i16:-1 u8:0 "
        "u8:0 u8:0 pstr:\"\" pstr:\"\" pstr:\"\" pstr:\"\" u32:65536 u32:0\n"
        "    GETGLOBAL 0 \"createbgpic\"\n    LOADK 1 #2\n    LOADK 2 #640\n    LOADK 3 #480\n"
        "    LOADK 4 #16711680\n    CALL 0 5 1\n"
        "    GETGLOBAL 0 \"enablelayers\"\n    CALL 0 1 1\n"
        "    GETGLOBAL 0 \"createbrush\"\n    LOADK 1 #1\n    LOADK 2 #320\n    LOADK 3 #240\n"
        "    LOADK 4 #65280\n    CALL 0 5 1\n"
        "    LOADK 5 #0\n"
        "layer:\n"
        "    GETGLOBAL 0 \"displaybrush\"\n    LOADK 1 #1\n    MUL 2 5 #9\n    MUL 3 5 #7\n    CALL 0 4 1\n"
        "    ADD 5 5 #1\n    LT 1 5 #49\n    JMP layer\n"
        "    GETGLOBAL 0 \"createbrush\"\n    LOADK 1 #2\n    LOADK 2 #640\n    LOADK 3 #480\n"
        "    LOADK 4 #255\n    CALL 0 5 1\n"
        "    GETGLOBAL 0 \"displaybrush\"\n    LOADK 1 #2\n    LOADK 2 #0\n    LOADK 3 #0\n    CALL 0 4 1\n";
    if (covered)
        s += "    GETGLOBAL 0 \"createbrush\"\n    LOADK 1 #3\n    LOADK 2 #1\n    LOADK 3 #1\n"
             "    LOADK 4 #16777215\n    CALL 0 5 1\n"
             "    GETGLOBAL 0 \"displaybrush\"\n    LOADK 1 #3\n    LOADK 2 #0\n    LOADK 3 #0\n    CALL 0 4 1\n";
    s += "    LOADK 6 #0\n"
         "run:\n"
         "    GETGLOBAL 10 \"showlayerfx\"\n    LOADK 11 #50\n    NEWTABLE 12\n"
         "    SETTABLE 12 \"type\" #78\n    SETTABLE 12 \"async\" #1\n    SETTABLE 12 \"bgpicemu\" #1\n"
         "    SETTABLE 12 \"bgpic\" #2\n    CALL 10 3 2\n    MOVE 7 10\n"
         "frame:\n"
         "    GETGLOBAL 10 \"asyncdrawframe\"\n    MOVE 11 7\n    CALL 10 2 2\n    EQ 0 10 #1\n    JMP frame\n"
         "    ADD 6 6 #1\n    LT 1 6 #" +
         std::to_string(runs) + "\n    JMP run\n    RETURN 0 1\n";
    return s;
}

// Wall and processor milliseconds of one run of the player; false when it failed.
bool timeRun(const std::string &server, const std::string &applet, double *wall, double *cpu)
{
    const double t0 = nowMs();
    pid_t pid = fork();
    if (pid == 0) {
        setenv("DISPLAY", server.c_str(), 1);
        execl(QX_PLAYER, QX_PLAYER, "-QUIET", applet.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    *wall = nowMs() - t0;
    *cpu = (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000.0 + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    char dir[] = "/tmp/zephyrane-fxbench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    std::string applets[2];
    for (int covered = 0; covered < 2; covered++) {
        const std::string base = std::string(dir) + (covered ? "/covered" : "/direct");
        if (FILE *f = std::fopen((base + ".qxs").c_str(), "w")) {
            std::fputs(listing(covered, runs).c_str(), f);
            std::fclose(f);
        }
        applets[covered] = base + ".qxa";
        const std::string assemble = std::string(QX_QXASM) + " -a " + base + ".qxs -o " + applets[covered];
        if (std::system(assemble.c_str()) != 0) {
            std::puts("bench_fxlayer: the applet did not assemble");
            return 1;
        }
    }
    XServer server;
    if (!server.startXvfb(24, false, "640x480")) {
        std::puts("bench_fxlayer: Xvfb did not start");
        return 1;
    }
    std::vector<double> wall[2], cpu[2];
    for (int round = 0; round < rounds; round++) {
        for (int covered = 0; covered < 2; covered++) {
            double w = 0, c = 0;
            if (!timeRun(server.name(), applets[covered], &w, &c)) {
                std::printf("bench_fxlayer: the player failed on %s\n", applets[covered].c_str());
                return 1;
            }
            wall[covered].push_back(w), cpu[covered].push_back(c);
        }
    }
    for (int covered = 0; covered < 2; covered++) {
        std::remove(applets[covered].c_str());
        std::remove((applets[covered].substr(0, applets[covered].size() - 4) + ".qxs").c_str());
    }
    rmdir(dir);
    const int frames = runs * 40;
    std::printf("PUSHLEFT on the top layer of 50 (640x480), %d runs, %d frames, medians of %d rounds:\n", runs,
                frames, rounds);
    std::printf("  straight from the layer: wall %8.1f ms, processor %8.1f ms\n", median(wall[0]), median(cpu[0]));
    std::printf("  recomposed (1x1 above):  wall %8.1f ms, processor %8.1f ms\n", median(wall[1]), median(cpu[1]));
    std::printf("  ratio recomposed / straight: wall %.2f, processor %.2f\n", median(wall[1]) / median(wall[0]),
                median(cpu[1]) / median(cpu[0]));
    return 0;
}
