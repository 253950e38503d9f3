// A 32x32 layer and a 32x32 sprite moving across a 640x480 display in the
// real player (the whole process on a private Xvfb), unscaled and
// autoscaled to 1280x960 and 1920x1440: processor time per frame, taken as
// the difference between a run of N frames and a run of none. Beside them
// the same sprite frame with the whole display refreshed (BeginRefresh and
// EndRefresh around it), the cost the window paid when every change
// scaled the whole picture. Target: a scaled frame at 1280x960 costs at most
// 1.5 times the unscaled one.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "xserver.h"

namespace {

constexpr int kFrames = 2000, kRounds = 3;

struct Scale {
    const char *name;
    int width, height; // 0: unscaled
};

enum Kind { LAYER, SPRITE, WHOLE };

std::string listing(Kind kind, const Scale &s, int frames)
{
    std::string l =
        ".object 10 1 u32:0 u32:0xFFFE7960 u32:0xFFFE7960 u32:640 u32:480 u32:0 u32:0x800 u32:0 u32:0 u32:0 "
        "u32:0 u32:0 pstr:\"Zephyrane\" u8:1 u32:0 u16:0 u32:0 u32:0 u32:0 u8:2 u32:0 u32:0 u32:0 u32:0 u8:0 "
        "pstr:\"\" u8:0 u8:0 u8:0 u32:0 u8:1 u8:0 i16:-1 i16:-1 u8:0 u8:0 u8:0 pstr:\"\" pstr:\"\" pstr:\"\" "
        "pstr:\"\" u32:65536 u32:0\n"
        "    GETGLOBAL 0 \"createdisplay\"\n    LOADK 1 #1\n    NEWTABLE 2\n"
        "    SETTABLE 2 \"title\" \"RoadBench\"\n    SETTABLE 2 \"x\" #0\n    SETTABLE 2 \"y\" #0\n"
        "    SETTABLE 2 \"width\" #640\n    SETTABLE 2 \"height\" #480\n    SETTABLE 2 \"color\" #0x204060\n";
    if (s.width)
        l += "    SETTABLE 2 \"scalewidth\" #" + std::to_string(s.width) + "\n    SETTABLE 2 \"scaleheight\" #" +
             std::to_string(s.height) + "\n";
    if (kind == LAYER) l += "    SETTABLE 2 \"layers\" #1\n";
    l += "    CALL 0 3 1\n    GETGLOBAL 0 \"opendisplay\"\n    LOADK 1 #1\n    CALL 0 2 1\n"
         "    GETGLOBAL 0 \"createbrush\"\n    LOADK 1 #1\n    LOADK 2 #32\n    LOADK 3 #32\n"
         "    LOADK 4 #0xFF8000\n    CALL 0 5 1\n";
    if (kind == LAYER)
        l += "    GETGLOBAL 0 \"displaybrush\"\n    LOADK 1 #1\n    LOADK 2 #0\n    LOADK 3 #0\n    CALL 0 4 1\n";
    else
        l += "    GETGLOBAL 0 \"createsprite\"\n    LOADK 1 #1\n    LOADK 2 #3\n    LOADK 3 #1\n    CALL 0 4 1\n";
    l += "    LOADK 10 #0\nloop:\n    LT 1 10 #" + std::to_string(frames) +
         "\n    JMP body\n    RETURN 0 1\nbody:\n"
         "    MUL 11 10 #5\n    MOD 11 11 #608\n    MUL 12 10 #3\n    MOD 12 12 #448\n";
    if (kind == WHOLE) l += "    GETGLOBAL 0 \"beginrefresh\"\n    LOADK 1 #1\n    CALL 0 2 1\n";
    l += kind == LAYER ? "    GETGLOBAL 0 \"showlayer\"\n" : "    GETGLOBAL 0 \"displaysprite\"\n";
    l += "    LOADK 1 #1\n    MOVE 2 11\n    MOVE 3 12\n    CALL 0 4 1\n";
    if (kind == WHOLE) l += "    GETGLOBAL 0 \"endrefresh\"\n    CALL 0 1 1\n";
    l += "    ADD 10 10 #1\n    JMP loop\n    RETURN 0 1\n.maxstack 20\n";
    return l;
}

// Processor time (user + system) of one run of the player, in ms; -1 when
// it failed.
double run(const std::string &server, const std::string &applet)
{
    pid_t pid = fork();
    if (pid == 0) {
        setenv("DISPLAY", server.c_str(), 1);
        execl(QX_PLAYER, QX_PLAYER, "-QUIET", "-DEBUGDEVICE", "console", applet.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    if (wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status)) return -1;
    return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000.0 + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000.0;
}

std::string assemble(const std::string &dir, const std::string &name, const std::string &text)
{
    const std::string src = dir + "/" + name + ".qxs", out = dir + "/" + name + ".qxa";
    if (FILE *f = std::fopen(src.c_str(), "w")) {
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
    const std::string cmd = std::string(QX_QXASM) + " -a " + src + " -o " + out;
    return std::system(cmd.c_str()) == 0 ? out : std::string();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

} // namespace

int main()
{
    char dir[] = "/tmp/zephyrane-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    XServer server;
    if (!server.startXvfb(24, false, "2048x1536")) {
        std::puts("bench_scaledroad: Xvfb did not start");
        return 1;
    }
    const Scale scales[] = {{"640x480", 0, 0}, {"1280x960", 1280, 960}, {"1920x1440", 1920, 1440}};
    const char *kinds[] = {"layer", "sprite", "sprite, whole refresh"};
    double us[3][3] = {};
    for (int k = 0; k < 3; ++k)
        for (int s = 0; s < 3; ++s) {
            const std::string tag = std::to_string(k) + "_" + std::to_string(s);
            const std::string none = assemble(dir, "n" + tag, listing(Kind(k), scales[s], 0));
            const std::string many = assemble(dir, "m" + tag, listing(Kind(k), scales[s], kFrames));
            if (none.empty() || many.empty()) {
                std::puts("bench_scaledroad: an applet did not assemble");
                return 1;
            }
            std::vector<double> perFrame;
            for (int r = 0; r < kRounds; ++r) {
                const double a = run(server.name(), none), b = run(server.name(), many);
                if (a < 0 || b < 0) {
                    std::puts("bench_scaledroad: the player failed");
                    return 1;
                }
                perFrame.push_back((b - a) * 1000.0 / kFrames);
            }
            us[k][s] = median(perFrame);
            std::printf("  %s at %s: %.1f us\n", kinds[k], scales[s].name, us[k][s]);
            std::fflush(stdout);
        }
    std::system((std::string("rm -rf ") + dir).c_str());
    std::printf("processor time per frame of the whole player, 640x480 display, %d frames, median of %d:\n",
                kFrames, kRounds);
    for (int k = 0; k < 3; ++k)
        std::printf("  %-22s unscaled %7.1f us | 1280x960 %7.1f us (x%.2f) | 1920x1440 %7.1f us (x%.2f)\n", kinds[k],
                    us[k][0], us[k][1], us[k][1] / us[k][0], us[k][2], us[k][2] / us[k][0]);
    std::printf("target: a moving layer or sprite at 1280x960 at most x1.5 the unscaled frame: layer x%.2f, "
                "sprite x%.2f\n",
                us[0][1] / us[0][0], us[1][1] / us[1][0]);
    return 0;
}
