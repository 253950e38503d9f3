// VWait's frame limiter at 60 fps over 600 frames, side by side with a bare
// clock_nanosleep(TIMER_ABSTIME) loop: mean period and 99th-percentile
// jitter of each. 5 ms of work per frame shows the periods stay even.
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "display/qx_framepacing.h"
#include "platform/qx_displayrecord.h"

namespace {

double now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

void work(double seconds)
{
    double end = now() + seconds;
    while (now() < end) {
    }
}

void report(const char *name, std::vector<double> &t, double period)
{
    std::vector<double> p, jitter;
    for (size_t i = 1; i < t.size(); i++) {
        p.push_back(t[i] - t[i - 1]);
        jitter.push_back(std::fabs(p.back() - period));
    }
    double mean = (t.back() - t.front()) / (double)(t.size() - 1);
    std::sort(jitter.begin(), jitter.end());
    double p99 = jitter[(size_t)(jitter.size() * 0.99)];
    std::printf("%-14s mean %.4f ms (%+.3f %%)  p99 jitter %.3f ms\n", name, mean * 1e3,
                (mean - period) / period * 100, p99 * 1e3);
}

} // namespace

int main()
{
    const int frames = 600, fps = 60;
    const double period = 1.0 / fps;
    for (double load : {0.0, 0.005}) {
        std::printf("work per frame %.0f ms\n", load * 1e3);
        qxSetFrameLimit(fps);
        qxDisplay d{};
        std::vector<double> t;
        qxFrameLimit(nullptr, &d, 1);
        for (int i = 0; i < frames; i++) {
            work(load);
            qxFrameLimit(nullptr, &d, 1);
            t.push_back(now());
        }
        report("VWait", t, period);

        t.clear();
        timespec next;
        clock_gettime(CLOCK_MONOTONIC, &next);
        const long step = 1000000000L / fps;
        for (int i = 0; i < frames; i++) {
            work(load);
            next.tv_nsec += step;
            if (next.tv_nsec >= 1000000000L) {
                next.tv_nsec -= 1000000000L;
                next.tv_sec++;
            }
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
            t.push_back(now());
        }
        report("bare loop", t, period);
    }
    return 0;
}
