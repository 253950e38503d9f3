// Start-up to the first frame on screen under openbox: the player run on an
// applet that opens a display filled with one colour, against a bare Xlib
// program that maps a window and puts one frame, both timed from exec until
// a probe reads the colour from the window (target: the player within
// 15 ms of the peer and under 30 ms).
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "xserver.h"

namespace {

constexpr unsigned long kColour = 0x336699;
constexpr int kW = 640, kH = 480;

double nowMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

int ignoreErrors(Display *, XErrorEvent *) { return 0; }

Window findByName(Display *dpy, Window w, const char *name)
{
    char *title = nullptr;
    if (XFetchName(dpy, w, &title) && title) {
        bool match = std::strcmp(title, name) == 0;
        XFree(title);
        if (match)
            return w;
    }
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(dpy, w, &root, &parent, &children, &n))
        return 0;
    Window found = 0;
    for (unsigned i = 0; i < n && !found; i++)
        found = findByName(dpy, children[i], name);
    if (children)
        XFree(children);
    return found;
}

// Milliseconds from t0 until the named window shows the colour; -1 after
// ten seconds.
double waitForFrame(Display *probe, const char *name, double t0)
{
    while (nowMs() - t0 < 10000) {
        if (Window w = findByName(probe, DefaultRootWindow(probe), name)) {
            if (XImage *img = XGetImage(probe, w, kW / 2, kH / 2, 1, 1, AllPlanes, ZPixmap)) {
                unsigned long p = XGetPixel(img, 0, 0) & 0xFFFFFF;
                XDestroyImage(img);
                if (p == kColour)
                    return nowMs() - t0;
            }
        }
        usleep(500);
    }
    return -1;
}

// The peer: a window mapped and one frame put, then it waits to be ended.
[[noreturn]] void bareXlib(const char *server)
{
    Display *dpy = XOpenDisplay(server);
    if (!dpy)
        _exit(1);
    Window w = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, kW, kH, 0, 0, 0);
    XStoreName(dpy, w, "PeerBench");
    XSelectInput(dpy, w, StructureNotifyMask);
    XMapWindow(dpy, w);
    for (XEvent e;;) {
        XNextEvent(dpy, &e);
        if (e.type == MapNotify)
            break;
    }
    std::vector<uint32_t> frame((size_t)kW * kH, 0xFF000000u | kColour);
    XImage *img = XCreateImage(dpy, DefaultVisual(dpy, 0), 24, ZPixmap, 0, reinterpret_cast<char *>(frame.data()),
                               kW, kH, 32, kW * 4);
    XPutImage(dpy, w, DefaultGC(dpy, 0), img, 0, 0, 0, 0, kW, kH);
    XSync(dpy, False);
    for (;;)
        pause();
}

double runOnce(Display *probe, const std::string &server, const char *name, const char *player,
               const char *applet)
{
    const double t0 = nowMs();
    pid_t pid = fork();
    if (pid == 0) {
        setenv("DISPLAY", server.c_str(), 1);
        if (player) {
            execl(player, player, "-QUIET", applet, static_cast<char *>(nullptr));
            _exit(127);
        }
        bareXlib(server.c_str());
    }
    double ms = waitForFrame(probe, name, t0);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    XSync(probe, True);
    usleep(100000); // the manager forgets the window
    return ms;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main()
{
    char dir[] = "/tmp/zephyrane-bench-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    const std::string listing = std::string(dir) + "/startup.qxs", applet = std::string(dir) + "/startup.qxa";
    if (FILE *f = std::fopen(listing.c_str(), "w")) {
        // The applet declares its display, which start-up opens.
        std::fputs(".object 10 1 u32:0 u32:0xFFFE7960 u32:0xFFFE7960 u32:640 u32:480 u32:0x336699 u32:0x400 "
                   "u32:0 u32:0 u32:0 u32:0 u32:0 pstr:\"StartBench\" u8:1 u32:0 u16:0 u32:0 u32:0 u32:0 u8:2 "
                   "u32:0 u32:0 u32:0 u32:0 u8:0 pstr:\"\" u8:0 u8:0 u8:0 u32:0 u8:1 u8:0 i16:-1 i16:-1 u8:0 "
                   "u8:0 u8:0 pstr:\"\" pstr:\"\" pstr:\"\" pstr:\"\" u32:65536 u32:0\n"
                   "loop:\n    GETGLOBAL 0 \"waitevent\"\n    CALL 0 1 1\n    JMP loop\n    RETURN 0 1\n",
                   f);
        std::fclose(f);
    }
    const std::string assemble = std::string(QX_QXASM) + " -a " + listing + " -o " + applet;
    if (std::system(assemble.c_str()) != 0) {
        std::puts("bench_startup: the applet did not assemble");
        return 1;
    }
    XServer server;
    if (!server.startXvfb(24, true, "1920x1080")) {
        std::puts("bench_startup: Xvfb did not start");
        return 1;
    }
    Display *probe = XOpenDisplay(server.name().c_str());
    if (!probe)
        return 1;
    XSetErrorHandler(ignoreErrors);
    std::vector<double> ours, peer;
    for (int round = 0; round < 7; round++) {
        peer.push_back(runOnce(probe, server.name(), "PeerBench", nullptr, nullptr));
        ours.push_back(runOnce(probe, server.name(), "StartBench", QX_PLAYER, applet.c_str()));
    }
    XCloseDisplay(probe);
    std::remove(listing.c_str());
    std::remove(applet.c_str());
    rmdir(dir);
    const double o = median(ours), p = median(peer);
    if (o < 0 || p < 0) {
        std::puts("bench_startup: no frame seen");
        return 1;
    }
    std::printf("start-up to first frame under openbox: player %.1f ms, bare Xlib %.1f ms "
                "(difference %.1f ms, target <= 15 ms; player target < 30 ms)\n",
                o, p, o - p);
    return 0;
}
