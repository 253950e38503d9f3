// Anim frames read per second (GIF, Motion-JPEG AVI, IFF ANIM) and
// Motion-JPEG AVI frames written per second, each against ffmpeg with
// -threads 1 on the same files in the same run. The files are 100 frames of
// 640x480 made by ffmpeg (the IFF ANIM, made by tools/animgen, is smaller).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/files/qx_file.h"
#include "objects/formats/qx_animformats.h"
#include "objects/formats/qx_picformats.h"
#include "platform/qx_memory.h"

namespace {

const std::string dir = "/tmp/qx_bench_anims";

double seconds(const std::function<void()> &f, int runs = 3)
{
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        f();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

// ffmpeg's own -benchmark real time of the work, without its start-up.
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

void line(const char *what, uint32_t frames, double ours, double peer, bool higherIsBetter = true)
{
    std::printf("  %-28s ours %8.1f frames/s  ffmpeg %8.1f frames/s  ratio %.2f\n", what, frames / ours, frames / peer,
                higherIsBetter ? peer / ours : ours / peer);
}

template <typename Open, typename Frame, typename Close>
double readAll(const std::string &path, Open open, Frame frame, Close close, uint32_t *count)
{
    return seconds([&] {
        qxFileHandle *f = qxOpen(path.c_str(), 1, nullptr);
        uint32_t w = 0, h = 0, n = 0;
        auto *s = open(f, &w, &h, &n);
        if (!s) return;
        for (uint32_t k = 0; k < n; ++k) qxFree(frame(s, k));
        close(s);
        *count = n;
    });
}

} // namespace

int main()
{
    (void)!std::system(("mkdir -p " + dir).c_str());
    const std::string src = "-f lavfi -i testsrc2=size=640x480:rate=25 -frames:v 100";
    const std::string gif = dir + "/a.gif", avi = dir + "/a.avi", anim = dir + "/a.anim", raw = dir + "/a.bgra";
    (void)!std::system(("ffmpeg -v error -y " + src + " " + gif).c_str());
    (void)!std::system(("ffmpeg -v error -y " + src + " -c:v mjpeg -q:v 3 " + avi).c_str());
    (void)!std::system(("ffmpeg -v error -y " + src + " -f rawvideo -pix_fmt bgra " + raw).c_str());
    (void)!std::system(("python3 " QX_TOOLS_DIR "/animgen/make_anim.py " + anim + " 8 0 1 320 240 5 30 1").c_str());
    std::printf("Anim files (best of 3; ffmpeg -threads 1, its -benchmark rtime)\n");

    uint32_t n = 0;
    double ours = readAll(
        gif, [](qxFileHandle *f, uint32_t *w, uint32_t *h, uint32_t *c) { return qxGifOpen(f, w, h, c, 0, 0, 0); },
        [](qxGifReader *r, uint32_t k) { uint32_t t; return qxGifGetFrame(r, int32_t(k), &t); }, qxGifClose, &n);
    line("GIF read 640x480", n, ours, ffmpegSeconds("-i " + gif + " -f null -"));

    ours = readAll(avi, qxAviOpen, qxAviGetFrame, qxAviClose, &n);
    line("Motion-JPEG AVI read 640x480", n, ours, ffmpegSeconds("-i " + avi + " -f null -"));

    ours = readAll(
        anim, [](qxFileHandle *f, uint32_t *w, uint32_t *h, uint32_t *c) { return qxAnimIffOpen(f, 0, w, h, c, 0); },
        [](qxAnimIff *r, uint32_t k) { uint32_t t; return qxAnimIffGetFrame(r, k, &t); }, qxAnimIffClose, &n);
    line("IFF ANIM read 320x240", n, ours, ffmpegSeconds("-i " + anim + " -f null -"));

    std::vector<uint8_t> frames;
    if (FILE *f = std::fopen(raw.c_str(), "rb")) {
        frames.resize(640 * 480 * 4 * 100);
        frames.resize(std::fread(frames.data(), 1, frames.size(), f));
        std::fclose(f);
    }
    const uint32_t count = uint32_t(frames.size() / (640 * 480 * 4));
    ours = seconds([&] {
        qxAviWriter *w = nullptr;
        if (qxAviWriterOpen((dir + "/ours.avi").c_str(), 25, 0, 640, 480, 85, 0, "", &w)) return;
        for (uint32_t k = 0; k < count; ++k)
            qxAviWriteFrame(w, reinterpret_cast<const uint32_t *>(frames.data() + size_t(k) * 640 * 480 * 4), 640 * 4, 0);
        qxAviWriterClose(w);
    });
    double peer = ffmpegSeconds("-y -f rawvideo -pix_fmt bgra -s 640x480 -r 25 -i " + raw + " -c:v mjpeg -q:v 3 " + dir +
                                "/peer.avi");
    line("Motion-JPEG AVI write 640x480", count, ours, peer);
    std::printf("  (ratio: ffmpeg time / ours, above 1 when ours is faster)\n");
    (void)!std::system(("rm -rf " + dir).c_str());
    return 0;
}
