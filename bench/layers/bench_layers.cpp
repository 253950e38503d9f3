// 1000 32x32 layers with alpha channels over a BGPic: every layer moving each
// frame (moves collected, merged, then refreshed into the work bitmap), and
// 1000 static layers with 10 moving, against pixman composing the whole
// frame (background copy and 1000 OVER composites).
#include <pixman.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "display/qx_bgpic.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_display.h"
#include "layers/qx_layer.h"
#include "objects/qx_output.h"

namespace {

constexpr int S = 32, LAYERS = 1000;
using Clock = std::chrono::steady_clock;

double best(const auto &op)
{
    op();
    double t = 1e30;
    auto end = Clock::now() + std::chrono::milliseconds(800);
    for (int runs = 0; Clock::now() < end || runs < 3; ++runs) {
        auto t0 = Clock::now();
        op();
        t = std::min(t, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return t;
}

std::vector<uint32_t> sprite()
{
    std::vector<uint32_t> px(S * S);
    std::mt19937 rng(1);
    for (int y = 0; y < S; ++y)
        for (int x = 0; x < S; ++x) {
            const int dx = x - S / 2, dy = y - S / 2, d2 = dx * dx + dy * dy;
            const uint32_t a = d2 < 12 * 12 ? 255 : d2 < 15 * 15 ? 128 : 0;
            px[y * S + x] = a << 24 | (rng() & 0xFFFFFF);
        }
    return px;
}

void run(int W, int H)
{
    qxDisplay *d = qxNewDisplayRecord(1);
    qxObjectRef ref{0, QX_NEW_AUTOMATIC};
    qxCreateBGPicFromBitmap(&ref, W, H, 0x204060, &d->bgpic);
    d->targetType = QX_OUT_DISPLAY;
    d->layersEnabled = 1;
    qxCurrentDisplay = d;
    qxDisplayWorkBitmap(d, 1);
    const std::vector<uint32_t> px = sprite();
    std::mt19937 rng(2);
    std::vector<qxLayer *> layers;
    // The layers go in without drawing each one; one full refresh follows.
    d->targetType = QX_OUT_BRUSH;
    for (int i = 0; i < LAYERS; ++i) {
        qxBitMap *b = nullptr, *a = nullptr;
        qxBitMapFromARGB(px.data(), 0xFFFFFFFFu, S, S, S, 0, 0, nullptr, &b, nullptr, nullptr);
        a = qxAlphaFromBuffer(px.data(), S, S, S);
        auto *data = static_cast<qxLayerData *>(std::calloc(1, sizeof(qxLayerData)));
        const int32_t x = int32_t(rng() % uint32_t(W - S)), y = int32_t(rng() % uint32_t(H - S));
        data->x = x, data->y = y, data->width = S, data->height = S;
        qxLayer *l = nullptr;
        qxAddLayer(nullptr, QX_TYPE_BRUSH, nullptr, x, y, S, S, nullptr, nullptr, b, nullptr, a, data, -1, 0, &l);
        layers.push_back(l);
    }
    d->targetType = QX_OUT_DISPLAY;
    qxRefreshDisplay(nullptr, 0, 0, W, H, 0);

    qxRectList list{nullptr, 0, 0};
    int frame = 0;
    auto moveAndRefresh = [&](int moving) {
        list.count = 0;
        const int step = (frame++ & 1) ? 3 : -3;
        for (int i = 0; i < moving; ++i) qxMoveLayer(nullptr, layers[size_t(i)], nullptr, step, step, 0, 3, &list);
        qxMergeRectList(&list);
        qxRefreshRectList(nullptr, &list);
    };
    const double all = best([&] { moveAndRefresh(LAYERS); });
    const double few = best([&] { moveAndRefresh(10); });

    // pixman: the whole frame.
    std::vector<uint32_t> bg(size_t(W) * H, 0xFF204060u), dst(size_t(W) * H);
    std::vector<uint32_t> pre(px);
    for (uint32_t &v : pre) {
        const uint32_t a = v >> 24;
        auto mul = [&](int s) { return (((v >> s) & 255) * a + 127) / 255 << s; };
        v = a << 24 | mul(16) | mul(8) | mul(0);
    }
    pixman_image_t *pb = pixman_image_create_bits(PIXMAN_x8r8g8b8, W, H, bg.data(), W * 4);
    pixman_image_t *pd = pixman_image_create_bits(PIXMAN_x8r8g8b8, W, H, dst.data(), W * 4);
    pixman_image_t *ps = pixman_image_create_bits(PIXMAN_a8r8g8b8, S, S, pre.data(), S * 4);
    const double theirs = best([&] {
        pixman_image_composite32(PIXMAN_OP_SRC, pb, nullptr, pd, 0, 0, 0, 0, 0, 0, W, H);
        for (qxLayer *l : layers)
            pixman_image_composite32(PIXMAN_OP_OVER, ps, nullptr, pd, 0, 0, 0, 0, l->onscreen->left,
                                     l->onscreen->top, S, S);
    });
    std::printf("%dx%d, %d layers 32x32 alpha: pixman full frame %.2f ms\n", W, H, LAYERS, theirs * 1e3);
    std::printf("  all moving   ours %.2f ms  ratio ours/pixman %.2f (target <= 3, <= 16.7 ms)\n", all * 1e3,
                all / theirs);
    std::printf("  10 moving    ours %.3f ms  ratio ours/pixman %.3f (target <= 0.5)\n", few * 1e3, few / theirs);
    pixman_image_unref(pb);
    pixman_image_unref(pd);
    pixman_image_unref(ps);
    std::free(list.entries);
    qxFreeBGPicLayers(nullptr, d->bgpic, 0, 0);
    qxFreeOutputState(d);
    qxFreeBGPicRecord(nullptr, d->bgpic);
    qxCurrentDisplay = nullptr;
    std::free(d);
}

} // namespace

int main()
{
    run(640, 480);
    run(1920, 1080);
    return 0;
}
