// Filled shapes into a 640 x 480 ARGB target, ours (rendered image blended
// onto the target) against cairo in one run; prints shapes per second and
// the ratio (above 1: faster than cairo).
#include <cairo.h>

#include <chrono>
#include <cmath>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "draw/qx_shaperender.h"
#include "draw/vector/qx_shapegeom.h"
#include "objects/qx_displayopts.h"

namespace {

double perSecond(const std::function<void(int)> &f)
{
    int reps = 0;
    auto t0 = std::chrono::steady_clock::now();
    double t = 0;
    while (t < 0.5) {
        for (int i = 0; i < 200; i++) f(reps++);
        t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    return reps / t;
}

std::vector<uint32_t> target(640 * 480, 0xFFFFFFFF);

// Source over of the rendered image at (x, y).
void blend(const qxShapeImage &im, int x, int y)
{
    for (int j = 0; j < im.h; j++) {
        const int ty = y + im.y + j;
        if (ty < 0 || ty >= 480) continue;
        const uint32_t *s = &im.pixels[size_t(j) * im.w];
        const uint8_t *a = &im.alpha[size_t(j) * im.w];
        uint32_t *d = &target[size_t(ty) * 640];
        const int i0 = std::max(0, -(x + im.x)), i1 = std::min(im.w, 640 - (x + im.x));
        for (int i = i0; i < i1; i++) {
            const uint32_t k = a[i], o = d[x + im.x + i], c = s[i];
            if (k == 255 || k == 0) {
                d[x + im.x + i] = k ? 0xFF000000u | c : o;
                continue;
            }
            uint32_t rb = (c & 0xFF00FF) * k + (o & 0xFF00FF) * (255 - k) + 0x800080;
            uint32_t g = (c & 0xFF00) * k + (o & 0xFF00) * (255 - k) + 0x8000;
            rb = ((rb + ((rb >> 8) & 0xFF00FF)) >> 8) & 0xFF00FF;
            g = ((g + ((g >> 8) & 0xFF00)) >> 8) & 0xFF00;
            d[x + im.x + i] = 0xFF000000u | rb | g;
        }
    }
}

} // namespace

int main()
{
    qxInitRotationPresets();
    qxTransformOptions ident{1, 0, 0, 1};
    cairo_surface_t *surf = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 640, 480);
    cairo_t *cr = cairo_create(surf);
    const double quad[] = {0, 0, 100, 20, 80, 100, 10, 70, 0, 0};
    struct Case {
        const char *name;
        qxShapeRecord shape;
        std::function<void(cairo_t *, double, double)> path;
    };
    qxShapeRecord box{}, circle{}, poly{};
    box.type = QX_SHAPE_BOX, box.width = 100, box.height = 80, box.transform = &ident;
    circle.type = QX_SHAPE_CIRCLE, circle.rx = circle.ry = 50, circle.width = circle.height = 101;
    circle.transform = &ident;
    poly.type = QX_SHAPE_POLYGON, poly.points = quad, poly.pointCount = 5, poly.width = 101, poly.height = 101;
    poly.transform = &ident;
    const Case cases[] = {
        {"box 100x80", box, [](cairo_t *c, double x, double y) { cairo_rectangle(c, x, y, 100, 80); }},
        {"circle r=50", circle, [](cairo_t *c, double x, double y) { cairo_arc(c, x + 50.5, y + 50.5, 50.5, 0, 2 * M_PI); }},
        {"quadrilateral 100", poly, [&](cairo_t *c, double x, double y) {
             cairo_move_to(c, x + 0.5, y + 0.5);
             for (int i = 1; i < 4; i++) cairo_line_to(c, x + quad[2 * i] + 0.5, y + quad[2 * i + 1] + 0.5);
         }},
    };
    for (const Case &k : cases)
        for (bool aa : {false, true}) {
            qxDrawState st{};
            st.fillStyle = QX_FILLCOLOR, st.formStyle = aa ? 17 : 1, st.lineWidth = 1;
            qxShapeImage im;
            const double ours = perSecond([&](int i) {
                qxRenderShapeImage(nullptr, &k.shape, &st, &im);
                blend(im, (i * 37) % 500, (i * 53) % 360);
            });
            cairo_set_antialias(cr, aa ? CAIRO_ANTIALIAS_GRAY : CAIRO_ANTIALIAS_NONE);
            cairo_set_source_rgb(cr, 1, 0, 0);
            const double peer = perSecond([&](int i) {
                k.path(cr, (i * 37) % 500, (i * 53) % 360);
                cairo_fill(cr);
            });
            std::printf("%-18s %-5s ours %9.0f/s  cairo %9.0f/s  ratio %.2f\n", k.name, aa ? "aa" : "plain", ours,
                        peer, ours / peer);
        }
    cairo_destroy(cr);
    cairo_surface_destroy(surf);
    return 0;
}
