// 1920x1080 photograph-like picture to 256 dithered colours: our quantiser
// against pnmcolormap + pnmremap -floyd, time and mean squared error.
#include <chrono>
#include <cstdio>
#include <vector>

#include "imaging/qx_quantize.h"
#include "quantize_peer.h"

int main()
{
    const int w = 1920, h = 1080, runs = 3;
    const auto img = photoLike(w, h, 7);
    std::vector<uint8_t> idx(size_t(w) * h);
    uint32_t pal[256];
    using clk = std::chrono::steady_clock;

    double ours = 1e30;
    for (int i = 0; i < runs; ++i) {
        int32_t count = 256;
        auto t0 = clk::now();
        if (!qxQuantizeToPalette(img.data(), 10, 4, w, h, w, idx.data(), pal, &count, 0xFFFFFFFF, 0, 1, nullptr)) {
            std::puts("quantiser failed");
            return 1;
        }
        ours = std::min(ours, std::chrono::duration<double>(clk::now() - t0).count());
    }
    std::vector<uint32_t> out(idx.size());
    for (size_t i = 0; i < out.size(); ++i) out[i] = pal[idx[i]];

    double peer = 1e30;
    std::vector<uint32_t> peerOut;
    for (int i = 0; i < runs; ++i) {
        auto t0 = clk::now();
        peerOut = netpbmQuantize(img, w, h, 256);
        peer = std::min(peer, std::chrono::duration<double>(clk::now() - t0).count());
    }
    if (peerOut.empty()) {
        std::puts("pnmcolormap/pnmremap failed");
        return 1;
    }
    const double eo = meanSquaredError(out, img), ep = meanSquaredError(peerOut, img);
    std::printf("quantize 1920x1080 -> 256 dithered: ours %.1f ms, netpbm %.1f ms, speed ratio %.2fx\n", ours * 1e3,
                peer * 1e3, peer / ours);
    std::printf("mean squared error: ours %.2f, netpbm %.2f, ratio %.3f (target <= 1.1)\n", eo, ep, eo / ep);
    return (ours <= peer && eo <= 1.1 * ep) ? 0 : 2;
}
