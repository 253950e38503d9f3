// Module rendering speed against openmpt123 and xmp in the same run: a
// generated four-minute module (tools/mkmod.py long) rendered to a 48 kHz
// WAV file by each, best of five, printed as times realtime and ratios.
// Usage: bench_module [module (generated)] [seconds (the module's length)]
//        bench_module --render in.mod out.wav seconds   (just render)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "media/qx_modplayer.h"

namespace {

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::vector<uint8_t> readAll(const std::string &name)
{
    std::ifstream f(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void put32(std::FILE *f, uint32_t v) { std::fwrite(&v, 4, 1, f); }
void put16(std::FILE *f, uint16_t v) { std::fwrite(&v, 2, 1, f); }

bool renderWav(const std::vector<uint8_t> &mod, const std::string &out, double seconds)
{
    uint32_t size = qxModSetup(nullptr, mod.data(), uint32_t(mod.size()), 48000);
    if (!size) return false;
    std::vector<uint64_t> mem((size + 7) / 8);
    auto *p = reinterpret_cast<qxModPlayer *>(mem.data());
    qxModSetup(p, mod.data(), uint32_t(mod.size()), 48000);
    std::FILE *f = std::fopen(out.c_str(), "wb");
    if (!f) return false;
    uint32_t frames = uint32_t(seconds * 48000), bytes = frames * 4;
    std::fwrite("RIFF", 1, 4, f); put32(f, 36 + bytes);
    std::fwrite("WAVEfmt ", 1, 8, f); put32(f, 16); put16(f, 1); put16(f, 2);
    put32(f, 48000); put32(f, 48000 * 4); put16(f, 4); put16(f, 16);
    std::fwrite("data", 1, 4, f); put32(f, bytes);
    std::vector<int16_t> buf(4096 * 2);
    for (uint32_t done = 0; done < frames;) {
        uint32_t n = std::min<uint32_t>(4096, frames - done);
        qxModMix(p, buf.data(), buf.data() + 1, 4, n, 1, 16, 2);
        std::fwrite(buf.data(), 4, n, f);
        done += n;
    }
    std::fclose(f);
    return true;
}

double bestOf(int runs, const std::string &cmd)
{
    double best = 1e9;
    for (int i = 0; i < runs; i++) {
        double t = now();
        if (std::system(cmd.c_str()) != 0) return -1;
        best = std::min(best, now() - t);
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 5 && !std::strcmp(argv[1], "--render")) {
        return renderWav(readAll(argv[2]), argv[3], std::atof(argv[4])) ? 0 : 1;
    }
    std::string mod = argc > 1 ? argv[1] : "/tmp/qxbench_long.mod";
    if (argc <= 1 && std::system(("python3 " QX_SOURCE_DIR "/tools/mkmod.py long " + mod).c_str()) != 0) {
        std::fprintf(stderr, "cannot generate the module\n");
        return 1;
    }
    // 32 positions x 64 rows x 6 ticks x 20 ms.
    double seconds = argc > 2 ? std::atof(argv[2]) : 32 * 64 * 6 * 0.02;
    std::vector<uint8_t> data = readAll(mod);
    double best = 1e9;
    for (int i = 0; i < 5; i++) {
        double t = now();
        if (!renderWav(data, "/tmp/qxbench_module.wav", seconds)) {
            std::fprintf(stderr, "cannot render %s\n", mod.c_str());
            return 1;
        }
        best = std::min(best, now() - t);
    }
    std::printf("module %.1f s\nzephyrane            %8.0fx realtime\n", seconds, seconds / best);
    struct Peer { const char *label, *cmd; } peers[] = {
        {"openmpt123 --filter 1", "openmpt123 --quiet --force --render --samplerate 48000 --filter 1 --ramping 0 %s"},
        {"xmp -i nearest", "xmp -q -f 48000 -i nearest -P 100 -o /tmp/qxbench_xmp.wav %s"},
    };
    for (auto &peer : peers) {
        char cmd[1024];
        std::snprintf(cmd, sizeof cmd, peer.cmd, mod.c_str());
        double t = bestOf(5, std::string(cmd) + " >/dev/null 2>&1");
        if (t < 0) {
            std::printf("%-20s not available\n", peer.label);
            continue;
        }
        std::printf("%-20s %8.0fx realtime, ratio ours/theirs time %.2f\n", peer.label, seconds / t, best / t);
    }
    return 0;
}
