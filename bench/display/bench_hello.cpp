// Start-up as a newcomer meets it: the bundled hello applet run by the
// player, from exec to exit, against bare_hello (the same in bare Xlib),
// run alternately in one run. Three settings: a fresh Xvfb for every round
// (the first client of a server), one server that has run clients before,
// and one Xvfb left at its default of resetting whenever its last client
// leaves (each run then meets a server that has just reset, as a newcomer's
// `Xvfb :1 &` does). Prints the medians and the ratio (target: at most 1.5).
// Usage: bench_hello [rounds (15)]
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

// Milliseconds from fork to exit; -1 when the program failed.
double timeRun(const std::string &server, const char *program, const char *applet)
{
    const double t0 = nowMs();
    pid_t pid = fork();
    if (pid == 0) {
        setenv("DISPLAY", server.c_str(), 1);
        if (!freopen("/dev/null", "w", stdout))
            _exit(127);
        if (applet)
            execl(program, program, "-QUIET", applet, static_cast<char *>(nullptr));
        else
            execl(program, program, static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const double ms = nowMs() - t0;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void report(const char *setting, const std::vector<double> &ours, const std::vector<double> &peer)
{
    const double o = median(ours), p = median(peer);
    std::printf("%-28s player %6.1f ms (%.1f-%.1f), bare Xlib %5.1f ms (%.1f-%.1f), ratio %.2f (target <= 1.5)\n",
                setting, o, *std::min_element(ours.begin(), ours.end()),
                *std::max_element(ours.begin(), ours.end()), p,
                *std::min_element(peer.begin(), peer.end()), *std::max_element(peer.begin(), peer.end()),
                o / p);
}

// Rounds of the player and the peer in turn on one server; false when a
// run failed.
bool alternate(const std::string &server, int rounds, std::vector<double> &ours, std::vector<double> &peer)
{
    for (int round = 0; round < rounds; round++) {
        double o = timeRun(server, QX_PLAYER, QX_HELLO);
        double p = timeRun(server, QX_BARE, nullptr);
        if (o < 0 || p < 0)
            return false;
        ours.push_back(o);
        peer.push_back(p);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    std::vector<double> freshOurs, freshPeer, usedOurs, usedPeer, resetOurs, resetPeer;
    for (int round = 0; round < rounds; round++) {
        // Who comes first to a fresh server alternates too.
        for (int side = 0; side < 2; side++) {
            XServer server;
            if (!server.startXvfb(24, false)) {
                std::puts("bench_hello: Xvfb did not start");
                return 1;
            }
            const bool player = (round + side) % 2 == 0;
            double ms = player ? timeRun(server.name(), QX_PLAYER, QX_HELLO) : timeRun(server.name(), QX_BARE, nullptr);
            if (ms < 0) {
                std::puts("bench_hello: a run failed");
                return 1;
            }
            (player ? freshOurs : freshPeer).push_back(ms);
        }
    }
    XServer server;
    if (!server.startXvfb(24, false)) {
        std::puts("bench_hello: Xvfb did not start");
        return 1;
    }
    // Warm the server with a client of each kind first.
    timeRun(server.name(), QX_PLAYER, QX_HELLO);
    timeRun(server.name(), QX_BARE, nullptr);
    if (!alternate(server.name(), rounds, usedOurs, usedPeer)) {
        std::puts("bench_hello: a run failed");
        return 1;
    }
    XServer resetting;
    if (!resetting.startXvfb(24, false, "1024x768", true)) {
        std::puts("bench_hello: Xvfb did not start");
        return 1;
    }
    if (!alternate(resetting.name(), rounds, resetOurs, resetPeer)) {
        std::puts("bench_hello: a run failed");
        return 1;
    }
    report("fresh Xvfb (first client):", freshOurs, freshPeer);
    report("Xvfb that ran clients:", usedOurs, usedPeer);
    report("Xvfb resetting (default):", resetOurs, resetPeer);
    return 0;
}
