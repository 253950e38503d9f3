// Plays one transition off-screen and writes the pictures an outside oracle
// needs: old.raw, new.raw and frame<N>.raw (32-bit words, row by row, native
// order), plus info.txt with the resolved speed, the frame count, the steps
// played and the published level of every frame.
// Usage: fxframes effect width height speed parameter outdir frame...
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "fxharness.h"

static bool writeRaw(const std::string &path, const std::vector<uint32_t> &px)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(px.data(), 4, px.size(), f) == px.size();
    return std::fclose(f) == 0 && ok;
}

int main(int argc, char **argv)
{
    if (argc < 7) {
        std::fprintf(stderr, "usage: %s effect width height speed parameter outdir frame...\n", argv[0]);
        return 2;
    }
    const int32_t w = std::atoi(argv[2]), h = std::atoi(argv[3]);
    if (w < 1 || h < 1 || w > 4096 || h > 4096) return 2;
    const std::string dir = argv[6];
    std::set<int32_t> keys;
    for (int i = 7; i < argc; i++) keys.insert(std::atoi(argv[i]));

    fxtest::FxRun run(std::atoi(argv[1]), w, h, std::atoi(argv[4]), fxtest::Planes::Opaque, false);
    run.fx.parameter = std::atoi(argv[5]);
    bool ok = writeRaw(dir + "/old.raw", fxtest::readPixels(run.old)) &&
              writeRaw(dir + "/new.raw", fxtest::readPixels(run.newImage));
    std::string levels;
    const bool done = run.play(100000, [&](int32_t n) {
        levels += " " + std::to_string(run.fx.level);
        if (keys.count(n)) ok = writeRaw(dir + "/frame" + std::to_string(n) + ".raw", fxtest::readPixels(run.target)) && ok;
    });
    FILE *f = std::fopen((dir + "/info.txt").c_str(), "w");
    if (!f) return 1;
    std::fprintf(f, "speed %d\nframes %d\nsteps %d\ndone %d\nerror %d\nlevels%s\n", run.fx.speed, run.fx.frames,
        run.steps, int(done), run.error, levels.c_str());
    return (std::fclose(f) == 0 && ok) ? 0 : 1;
}
