// Key latency on a private Xvfb: from an XTEST key press to the script's
// onkeydown handler run by qxEventStep (waiting in select like WaitEvent),
// against a bare Xlib program (select and XNextEvent) receiving the same
// presses. Rounds alternate so that both sides see the same load.
// Targets: median within 0.5 ms, 99th percentile within 2 ms of the bare one.
// Usage: bench_keylatency [presses per side (600)]
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <sys/select.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "display/qx_display.h"
#include "display/qx_displaylibs.h"
#include "display/qx_eventqueue.h"
#include "display/qx_events.h"
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

std::atomic<double> sentAt{0};
std::vector<double> latencies;

int onKey(lua_State *)
{
    latencies.push_back((now() - sentAt.load()) * 1000.0);
    return 0;
}

// Presses and releases "a" count times, 4 ms apart, each press stamped.
void sendPresses(const char *server, int count)
{
    Display *dpy = XOpenDisplay(server);
    KeyCode a = XKeysymToKeycode(dpy, 'a');
    for (int i = 0; i < count; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
        sentAt.store(now());
        XTestFakeKeyEvent(dpy, a, True, CurrentTime);
        XFlush(dpy);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        XTestFakeKeyEvent(dpy, a, False, CurrentTime);
        XFlush(dpy);
    }
    XSync(dpy, False);
    XCloseDisplay(dpy);
}

void focus(Display *dpy, Window w)
{
    XSetInputFocus(dpy, w, RevertToNone, CurrentTime);
    XSync(dpy, False);
}

void ours(lua_State *L, const char *server, int count)
{
    size_t want = latencies.size() + (size_t)count;
    std::thread sender(sendPresses, server, count);
    while (latencies.size() < want) {
        int handled = 1;
        if (qxEventStep(L, 1, 1, 0, &handled))
            std::exit(3);
    }
    sender.join();
    int handled = 1;
    while (qxEventStep(L, 0, 1, 0, &handled) == 0 && !handled)
        ; // the releases
}

void bare(Display *dpy, const char *server, int count)
{
    size_t want = latencies.size() + (size_t)count;
    std::thread sender(sendPresses, server, count);
    int fd = ConnectionNumber(dpy);
    while (latencies.size() < want) {
        if (!XPending(dpy)) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(fd, &set);
            select(fd + 1, &set, nullptr, nullptr, nullptr);
        }
        while (XPending(dpy)) {
            XEvent ev;
            XNextEvent(dpy, &ev);
            if (ev.type == KeyPress)
                latencies.push_back((now() - sentAt.load()) * 1000.0);
        }
    }
    sender.join();
}

double percentile(std::vector<double> v, int p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, v.size() * (size_t)p / 100)];
}

} // namespace

int main(int argc, char **argv)
{
    int presses = argc > 1 ? std::atoi(argv[1]) : 600;
    XServer server;
    x11NoMouseHook = 1;
    qxImportLibraries();
    if (!server.startXvfb(24, false)) {
        std::puts("bench_keylatency: Xvfb did not start");
        return 1;
    }
    const std::string name = server.name();
    std::snprintf(x11DefaultServer, sizeof x11DefaultServer, "%s", name.c_str());
    qxInitEventQueue();
    qxInitDisplayList();
    qxCreateThreadEventQueue();
    qxCreateWakePipe();
    x11InitWindowing(nullptr);
    lua_State *L = lua_open();
    if (qxOpenEventLib(L))
        return 2;

    qxDisplay *d = qxNewDisplayRecord(1);
    d->width = d->height = 100;
    qxAppendDisplay(d);
    qxCurrentDisplay = d;
    x11AllocDisplayData(d);
    if (x11OpenDisplay(d, 1, nullptr, 0, nullptr, 0))
        return 2;
    lua_newtable(L);
    lua_pushstring(L, "onkeydown");
    lua_pushcfunction(L, onKey);
    lua_settable(L, 1);
    if (qxCmdInstallEventHandler(L))
        return 2;
    lua_settop(L, 0);

    Display *plain = XOpenDisplay(name.c_str());
    Window win = XCreateSimpleWindow(plain, DefaultRootWindow(plain), 200, 0, 100, 100, 0, 0, 0);
    XSelectInput(plain, win, KeyPressMask | KeyReleaseMask);
    XMapWindow(plain, win);
    XSync(plain, False);

    std::vector<double> mine, theirs;
    const int rounds = 4, each = std::max(presses / rounds, 10);
    for (int r = 0; r < rounds; r++) {
        focus(plain, x11Data(d)->window);
        latencies.clear();
        ours(L, name.c_str(), each);
        mine.insert(mine.end(), latencies.begin(), latencies.end());
        focus(plain, win);
        latencies.clear();
        bare(plain, name.c_str(), each);
        theirs.insert(theirs.end(), latencies.begin(), latencies.end());
    }
    double m50 = percentile(mine, 50), m99 = percentile(mine, 99);
    double b50 = percentile(theirs, 50), b99 = percentile(theirs, 99);
    std::printf("key press to handler over %zu presses: median %.3f ms, p99 %.3f ms; bare Xlib "
                "median %.3f ms, p99 %.3f ms; differences %.3f ms (target <= 0.5) and %.3f ms "
                "(target <= 2)\n",
                mine.size(), m50, m99, b50, b99, m50 - b50, m99 - b99);
    XDestroyWindow(plain, win);
    XCloseDisplay(plain);
    qxFreeEventLib(L);
    lua_close(L);
    qxFreeDisplay(nullptr, d);
    x11ExitPlatform();
    return 0;
}
