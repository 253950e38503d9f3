// The mask rasteriser and the inbuilt vector engine against cairo on the
// same anti-aliased fills and strokes, in one run; prints time ratios
// (below 1: faster than cairo).
#include <cairo.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "draw/vector/qx_ftengine.h"
#include "draw/vector/qx_mask.h"
#include "draw/vector/qx_path.h"

namespace {

template <typename F> double seconds(int reps, F f)
{
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < reps; i++) f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

qxPathValue d(double x) { qxPathValue v{1, {}}; v.f64 = x; return v; }
qxPathValue u(uint32_t x) { qxPathValue v{0, {}}; v.u32 = x; return v; }

} // namespace

int main()
{
    const int w = 512, h = 512, reps = 200;
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> c(0, 512);
    struct Point {
        double x, y;
    };
    std::vector<Point> pts(24);
    std::vector<QxMaskPoint> whole(pts.size());
    for (size_t i = 0; i < pts.size(); i++)
        pts[i] = {std::floor(c(rng)), std::floor(c(rng))}, whole[i] = {int32_t(pts[i].x), int32_t(pts[i].y)};
    const int32_t count = int32_t(pts.size());

    cairo_surface_t *s = cairo_image_surface_create(CAIRO_FORMAT_A8, w, h);
    cairo_t *cr = cairo_create(s);
    auto cairoPoly = [&] {
        cairo_new_path(cr);
        for (size_t i = 0; i < pts.size(); i++) i ? cairo_line_to(cr, pts[i].x, pts[i].y) : cairo_move_to(cr, pts[i].x, pts[i].y);
        cairo_close_path(cr);
    };
    std::vector<uint8_t> mask(size_t(w) * h);
    QxMaskImage *m = nullptr;
    qxMaskCreate(w, h, &m, nullptr, nullptr);
    double ours = seconds(reps, [&] { qxMaskFillPolygon(m, whole.data(), count, 1, 0); });
    qxMaskFree(m);
    double peer = seconds(reps, [&] { cairoPoly(); cairo_fill(cr); cairo_surface_flush(s); });
    std::printf("mask fill, 24-point star 512x512:  ours %.3f ms  cairo %.3f ms  ratio %.2f\n", ours / reps * 1e3,
                peer / reps * 1e3, ours / peer);

    qxPathBuffer path{nullptr, 0, nullptr};
    qxPathValue mv[3] = {u(0), d(pts[0].x), d(pts[0].y)};
    qxPathAppend(&path, QX_PATH_MOVETO, mv, 3);
    for (size_t i = 1; i < pts.size(); i++) {
        qxPathValue lv[3] = {u(0), d(pts[i].x), d(pts[i].y)};
        qxPathAppend(&path, QX_PATH_LINETO, lv, 3);
    }
    qxPathAppend(&path, QX_PATH_CLOSEPATH, nullptr, 0);
    qxEngineState st{};
    st.antialias = 1, st.miterLimit = 10, st.lineJoin = 1, st.lineCap = 1;
    const double id[4] = {1, 0, 0, 1};
    for (int fill = 1; fill >= 0; fill--) {
        qxPathDrawRequest r{};
        r.items = path.items, r.state = &st, r.fill = uint32_t(fill), r.lineWidth = 6, r.target = mask.data();
        r.stride = r.width = w, r.height = h, r.matrix = id;
        ours = seconds(reps, [&] { qxFtDrawPath(&r); });
        cairo_set_line_width(cr, 6);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
        peer = seconds(reps, [&] {
            cairoPoly();
            fill ? cairo_fill(cr) : cairo_stroke(cr);
            cairo_surface_flush(s);
        });
        std::printf("engine %s, 24-point star 512x512: ours %.3f ms  cairo %.3f ms  ratio %.2f\n",
                    fill ? "fill  " : "stroke", ours / reps * 1e3, peer / reps * 1e3, ours / peer);
    }
    qxPathClear(&path);
    cairo_destroy(cr);
    cairo_surface_destroy(s);
    return 0;
}
