// CDXL pictures decoded and converted per second through the video player's
// path (no display), against ffmpeg -threads 1 decoding the same files to
// bgra in the same run. The files are 320x256 HAM8 and 5-plane palette
// clips of 600 frames: 30 generated frames repeated.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "media/qx_video.h"

namespace {

const std::string dir = "/tmp/qx_bench_video";

double ffmpegSeconds(const std::string &args)
{
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        FILE *p = popen(("ffmpeg -hide_banner -nostats -benchmark -threads 1 " + args + " 2>&1").c_str(), "r");
        if (!p) return best;
        char text[512];
        while (std::fgets(text, sizeof text, p))
            if (const char *r = std::strstr(text, "rtime=")) best = std::min(best, std::atof(r + 6));
        pclose(p);
    }
    return best;
}

double oursSeconds(const std::string &path, uint32_t *frames)
{
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        qxVideo *v = nullptr;
        if (qxVideoOpen(path.c_str(), "", &v)) return 0;
        auto t0 = std::chrono::steady_clock::now();
        uint32_t n = 0;
        while (qxVideoDecodeNext(v) == 0) n++;
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        *frames = n;
        qxVideoClose(v);
    }
    return best;
}

bool makeClip(const std::string &name, const char *args)
{
    std::string one = dir + "/one_" + name;
    std::string cmd = "python3 " QX_SOURCE_DIR "/tools/animgen/make_cdxl.py " + one + " " + args;
    if (std::system(cmd.c_str())) return false;
    std::ifstream in(one, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), {});
    std::ofstream out(dir + "/" + name, std::ios::binary);
    for (int i = 0; i < 20; i++) out << data;
    return bool(out);
}

} // namespace

int main()
{
    std::system(("mkdir -p " + dir).c_str());
    struct Clip {
        const char *name, *args;
    } clips[] = {{"ham8.cdxl", "320 256 8 30 128 0 1 1"}, {"pal5.cdxl", "320 256 5 30 128 0 0 2"}};
    std::printf("video decode + convert, 320x256, unscaled (ratio = ffmpeg time / ours; above 1 is faster)\n");
    for (const Clip &c : clips) {
        if (!makeClip(c.name, c.args)) {
            std::printf("  %s: could not generate\n", c.name);
            return 1;
        }
        std::string path = dir + "/" + c.name;
        uint32_t frames = 0;
        double ours = oursSeconds(path, &frames);
        double peer = ffmpegSeconds("-i " + path + " -an -pix_fmt bgra -f null -");
        std::printf("  %-10s %u frames  ours %8.1f frames/s  ffmpeg %8.1f frames/s  ratio %.2f\n", c.name, frames,
                    frames / ours, frames / peer, peer / ours);
    }
    return 0;
}
