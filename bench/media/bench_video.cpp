// CDXL pictures decoded and converted per second through the video player's
// path (no display), against ffmpeg -threads 1 decoding the same files to
// bgra in the same run. The files are 320x256 HAM8 and 5-plane palette
// clips of 600 frames: 30 generated frames repeated. Then the threaded
// player, unpaced, with every picture presented at its size and scaled 2x
// smoothly (ffmpeg with a bilinear scale to 640x512), and a paced run at
// 25 frames a second that counts the pictures dropped (target 0).
// Argument: the seconds of the paced run (default 60).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include <atomic>
#include <thread>

#include "imaging/qx_pixelformat.h"
#include "imaging/qx_scale.h"
#include "media/qx_video.h"
#include "platform/qx_memory.h"

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

std::atomic<uint32_t> presented;

void countPicture(qxVideo *, const qxVideoPicture *) { presented++; }

// What delivery does for a video shown at twice its size, smoothly.
void scalePicture(qxVideo *v, const qxVideoPicture *p)
{
    void *out = qxConvertPixelBuffer(p->pixels, 0, 0, int32_t(v->width), int32_t(v->height), nullptr, 0, 0,
                                     int32_t(v->width * 2), int32_t(v->height * 2), int32_t(v->slotPitch), 0,
                                     QX_PIXFMT_ARGB32, 1);
    qxFree(out);
    presented++;
}

// Seconds for the threaded player to present every picture, unpaced.
double playerSeconds(const std::string &path, void (*sink)(qxVideo *, const qxVideoPicture *), uint32_t *frames)
{
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        qxVideo *v = nullptr;
        if (qxVideoOpen(path.c_str(), "", &v)) return 0;
        v->present = sink;
        v->unpaced = true;
        presented = 0;
        auto t0 = std::chrono::steady_clock::now();
        if (qxVideoStart(v) == 0)
            while (!v->ended.load()) std::this_thread::sleep_for(std::chrono::microseconds(200));
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        *frames = presented.load();
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

int main(int argc, char **argv)
{
    const int pacedSeconds = argc > 1 ? std::atoi(argv[1]) : 60;
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
    std::printf("threaded player, decode + present (ratio = ffmpeg time / ours)\n");
    for (const Clip &c : clips) {
        std::string path = dir + "/" + c.name;
        uint32_t frames = 0;
        double ours = playerSeconds(path, countPicture, &frames);
        double peer = ffmpegSeconds("-i " + path + " -an -pix_fmt bgra -f null -");
        std::printf("  %-10s 1x  %u frames  ours %8.1f frames/s  ffmpeg %8.1f frames/s  ratio %.2f\n", c.name, frames,
                    frames / ours, frames / peer, peer / ours);
        ours = playerSeconds(path, scalePicture, &frames);
        peer = ffmpegSeconds("-i " + path + " -an -vf scale=640:512:flags=bilinear -pix_fmt bgra -f null -");
        std::printf("  %-10s 2x  %u frames  ours %8.1f frames/s  ffmpeg %8.1f frames/s  ratio %.2f\n", c.name, frames,
                    frames / ours, frames / peer, peer / ours);
    }
    // 153600 / 6144 = 25 frames a second; the clip repeats to fill the run.
    const std::string paced = dir + "/paced.cdxl";
    std::string one = dir + "/one_paced.cdxl";
    if (std::system(("python3 " QX_SOURCE_DIR "/tools/animgen/make_cdxl.py " + one + " 320 16 5 25 0 6144 0 4").c_str()))
        return 1;
    {
        std::ifstream in(one, std::ios::binary);
        std::string data((std::istreambuf_iterator<char>(in)), {});
        std::ofstream out(paced, std::ios::binary);
        for (int i = 0; i < pacedSeconds; i++) out << data;
    }
    qxVideo *v = nullptr;
    if (qxVideoOpen(paced.c_str(), "", &v)) return 1;
    v->present = scalePicture;
    presented = 0;
    auto t0 = std::chrono::steady_clock::now();
    if (qxVideoStart(v) == 0)
        while (!v->ended.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("paced 25 frames/s for %d s: %u shown, %u dropped (target 0), took %.2f s\n", pacedSeconds,
                v->shown.load(), v->dropped.load(), took);
    qxVideoClose(v);
    return 0;
}
