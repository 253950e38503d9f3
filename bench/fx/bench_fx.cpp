// Every registered effect off-screen at 640x480 and 1920x1080, normal and
// fast speed, one thread: phase-0 time, mean frames per second, the slowest
// frame, and the mean frame against pixman copying the whole area (SRC)
// once, the most any wipe frame has to move (ids on the command line pick
// the effects). Then the puzzle's order at
// 1080p against the literal quadratic walk at 640x480.
#include <pixman.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fx/qx_fxwipes.h"
#include "fxharness.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

// Seconds per pixman SRC copy of a w x h area.
double pixmanCopy(int w, int h)
{
    std::vector<uint32_t> src(size_t(w) * h, 0xFF336699u), dst(src.size());
    pixman_image_t *s = pixman_image_create_bits(PIXMAN_a8r8g8b8, w, h, src.data(), w * 4);
    pixman_image_t *d = pixman_image_create_bits(PIXMAN_a8r8g8b8, w, h, dst.data(), w * 4);
    double best = 1e30;
    for (int i = 0; i < 30; i++) {
        auto t0 = Clock::now();
        pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, w, h);
        best = std::min(best, seconds(t0, Clock::now()));
    }
    pixman_image_unref(s);
    pixman_image_unref(d);
    return best;
}

double literalWalk(int32_t n)
{
    std::vector<int32_t> table(size_t(n), -1);
    srand48(1);
    auto t0 = Clock::now();
    for (int32_t j = 0; j < n; j++) {
        const int32_t r0 = int32_t(drand48() * n);
        int32_t k = r0;
        bool down = true;
        for (bool hit = true; hit;) {
            hit = false;
            for (int32_t e : table) hit = hit || e == k;
            if (hit) {
                if (down && k >= 1) k--;
                else if (down) k = r0 + 1, down = false;
                else k++;
            }
        }
        table[size_t(j)] = k;
    }
    return seconds(t0, Clock::now());
}

} // namespace

int main(int argc, char **argv)
{
    // Ids given on the command line limit the run to those effects.
    std::vector<int32_t> only;
    for (int i = 1; i < argc; i++) only.push_back(int32_t(std::atoi(argv[i])));
    std::printf("%-5s %-9s %-6s %9s %9s %10s %10s %8s\n", "id", "size", "speed", "phase0 ms", "fps", "slowest ms",
                "pixman ms", "ratio");
    double worstFps = 1e30, worstRatio = 0;
    for (auto [w, h] : {std::pair{640, 480}, std::pair{1920, 1080}}) {
        const double peer = pixmanCopy(w, h);
        for (int32_t id = 0; id < QX_FX_COUNT; id++) {
            if (!qxFXFindEffect(id)) continue;
            if (!only.empty() && std::find(only.begin(), only.end(), id) == only.end()) continue;
            for (int32_t speed : {-1, -2}) {
                fxtest::FxRun run(id, w, h, speed, fxtest::Planes::Opaque, false);
                const qxFXEffect *e = qxFXFindEffect(id);
                run.fx.step = e->step, run.fx.cleanup = e->cleanup;
                srand(1), srand48(1);
                auto t0 = Clock::now();
                if (run.fx.step(&run.fx, nullptr)) continue;
                const double phase0 = seconds(t0, Clock::now());
                run.fx.phase = 1;
                int done = 0;
                double total = 0, slowest = 0;
                int frames = 0;
                while (!done) {
                    auto f0 = Clock::now();
                    run.fx.step(&run.fx, &done);
                    const double t = seconds(f0, Clock::now());
                    total += t, slowest = std::max(slowest, t), frames++;
                }
                const double mean = total / frames, fps = 1 / mean;
                worstFps = std::min(worstFps, h == 1080 ? fps : 1e30);
                worstRatio = std::max(worstRatio, mean / peer);
                std::printf("%-5d %4dx%-4d %-6d %9.3f %9.0f %10.3f %10.3f %8.2f\n", id, w, h, speed, phase0 * 1e3, fps,
                            slowest * 1e3, peer * 1e3, mean / peer);
            }
        }
    }
    std::printf("slowest effect at 1080p: %.0f fps; largest frame / pixman full copy: %.2f\n", worstFps, worstRatio);
    // PUZZLE at speed 5: 5-pixel pieces, 385 x 217 = 83,545 of them at 1080p.
    const int32_t big = (1920 / 5 + 1) * (1080 / 5 + 1), small = (640 / 5 + 1) * (480 / 5 + 1);
    std::vector<int32_t> order(static_cast<size_t>(big));
    srand48(1);
    auto t0 = Clock::now();
    qxFXPuzzleOrder(order.data(), big);
    const double ours = seconds(t0, Clock::now());
    const double walk = literalWalk(small);
    std::printf("puzzle order: %d pieces %.2f ms; literal walk, %d pieces: %.0f ms\n", big, ours * 1e3, small,
                walk * 1e3);
    return 0;
}
