// CROSSFADE and ZOOMCENTER frames at 640x480 and 1920x1080 on one core
// against pixman doing the same work: the crossfade as a copy of the old
// picture plus OVER of the new one through a solid a8 mask of the level,
// the mix kernel alone against OVER alone, and the zoom's nearest scaling
// against a scaled SRC composite with a nearest filter. MPix/s and ratios
// (ours / pixman, above 1 is faster).
#include <pixman.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "display/qx_bitmapscale.h"
#include "fx/qx_fxmix.h"
#include "fxharness.h"

namespace {

using Clock = std::chrono::steady_clock;

template <class F> double best(F f, int reps = 20)
{
    double b = 1e30;
    for (int i = 0; i < reps; i++) {
        auto t0 = Clock::now();
        f(i);
        b = std::min(b, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return b;
}

struct Raw {
    std::vector<uint32_t> px;
    pixman_image_t *img;
    Raw(int w, int h, uint32_t seed) : px(size_t(w) * h)
    {
        for (size_t i = 0; i < px.size(); i++) px[i] = uint32_t(i * 2654435761u + seed) | 0xFF000000u;
        img = pixman_image_create_bits(PIXMAN_a8r8g8b8, w, h, px.data(), w * 4);
    }
    ~Raw() { pixman_image_unref(img); }
};

} // namespace

int main()
{
    std::printf("%-10s %-24s %10s %10s %7s\n", "size", "operation", "ours MP/s", "pixman", "ratio");
    for (auto [w, h] : {std::pair{640, 480}, std::pair{1920, 1080}}) {
        const double mpix = double(w) * h / 1e6;
        fxtest::FxRun run(115, w, h, -1, fxtest::Planes::Opaque, false);
        qxBitMap *M = qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr);
        // Ours: mix into M and put it into the target, as a frame does.
        double ours = best([&](int i) {
            qxFXMixInto(M, run.old, run.newImage, w, h, 10 + i * 10);
            qxBltBitMapDirect(M, 0, 0, run.target, 0, 0, w, h);
        });
        Raw o(w, h, 1), n(w, h, 2), d(w, h, 3);
        double peer = best([&](int i) {
            pixman_color_t c = {0, 0, 0, uint16_t((10 + i * 10) * 257)};
            pixman_image_t *mask = pixman_image_create_solid_fill(&c);
            pixman_image_composite32(PIXMAN_OP_SRC, o.img, nullptr, d.img, 0, 0, 0, 0, 0, 0, w, h);
            pixman_image_composite32(PIXMAN_OP_OVER, n.img, mask, d.img, 0, 0, 0, 0, 0, 0, w, h);
            pixman_image_unref(mask);
        });
        std::printf("%4dx%-5d %-24s %10.0f %10.0f %7.2f\n", w, h, "crossfade frame", mpix / ours, mpix / peer,
                    peer / ours);
        std::vector<uint32_t> out(size_t(w) * h);
        double kernel = best([&](int i) {
            qxFXCrossMix32(o.px.data(), n.px.data(), out.data(), w * h, 10 + i * 10, 0x00FFFFFFu);
        });
        double over = best([&](int i) {
            pixman_color_t c = {0, 0, 0, uint16_t((10 + i * 10) * 257)};
            pixman_image_t *mask = pixman_image_create_solid_fill(&c);
            pixman_image_composite32(PIXMAN_OP_OVER, n.img, mask, d.img, 0, 0, 0, 0, 0, 0, w, h);
            pixman_image_unref(mask);
        });
        std::printf("%4dx%-5d %-24s %10.0f %10.0f %7.2f\n", w, h, "mix kernel / OVER", mpix / kernel, mpix / over,
                    over / kernel);
        // A zoom frame at 70 per cent: nearest scaling into a bitmap.
        const int zw = w * 7 / 10, zh = h * 7 / 10;
        qxBitMap *Z = qxAllocBitMap(uint32_t(zw), uint32_t(zh), 0, nullptr);
        double zoom = best([&](int) {
            qxScalePixels(run.newImage, nullptr, nullptr, 0, 0, Z, w, h, zw, zh, 0, 0, nullptr, nullptr, nullptr);
        });
        Raw z(zw, zh, 4);
        double pzoom = best([&](int) {
            pixman_transform_t t;
            pixman_transform_init_scale(&t, pixman_double_to_fixed(double(w) / zw), pixman_double_to_fixed(double(h) / zh));
            pixman_image_set_transform(n.img, &t);
            pixman_image_set_filter(n.img, PIXMAN_FILTER_NEAREST, nullptr, 0);
            pixman_image_composite32(PIXMAN_OP_SRC, n.img, nullptr, z.img, 0, 0, 0, 0, 0, 0, zw, zh);
            pixman_image_set_transform(n.img, nullptr);
        });
        const double zmpix = double(zw) * zh / 1e6;
        std::printf("%4dx%-5d %-24s %10.0f %10.0f %7.2f\n", w, h, "zoom frame (nearest)", zmpix / zoom, zmpix / pzoom,
                    pzoom / zoom);
        std::printf("%4dx%-5d crossfade %.0f fps, zoom %.0f fps\n", w, h, 1 / ours, 1 / zoom);
        qxFreeBitMap(Z);
        qxFreeBitMap(M);
    }
    return 0;
}
