// Filled shapes into a 640 x 480 ARGB target, ours (rendered image blended
// onto the target) against cairo and against OpenCV drawing the same outline
// straight into the target, in one run; prints shapes per second and the
// ratios (above 1: faster than the peer).
#include <cairo.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "display/qx_bitmap.h"
#include "display/qx_bitmapdraw.h"
#include "draw/qx_shaperender.h"
#include "draw/vector/qx_ftengine.h"
#include "draw/vector/qx_path.h"
#include "draw/vector/qx_shapegeom.h"
#include "imaging/qx_blendrows.h"
#include "objects/qx_displayopts.h"

namespace {

// The thread's processor time: other work on a busy machine does not count against either side.
double cpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

double perSecond(const std::function<void(int)> &f)
{
    int reps = 0;
    const double t0 = cpuSeconds();
    double t = 0;
    while (t < 0.5) {
        for (int i = 0; i < 200; i++) f(reps++);
        t = cpuSeconds() - t0;
    }
    return reps / t;
}

std::vector<uint32_t> target(640 * 480, 0xFFFFFFFF);

// Source over of the rendered image at (x, y), row by row with the blend
// kernel the player's blits use.
void blend(const qxShapeImage &im, int x, int y)
{
    for (int j = 0; j < im.h; j++) {
        const int ty = y + im.y + j;
        if (ty < 0 || ty >= 480) continue;
        const int i0 = std::max(0, -(x + im.x)), i1 = std::min(im.w, 640 - (x + im.x));
        if (i1 <= i0) continue;
        qxBlendRow32(&target[size_t(ty) * 640 + size_t(x + im.x + i0)], &im.pixels[size_t(j) * im.w + i0],
                     &im.alpha[size_t(j) * im.w + i0], i1 - i0);
    }
}

} // namespace

int main(int argc, char **argv)
{
    // An argument runs only the cases whose name starts with it (for profiling).
    const std::string only = argc > 1 ? argv[1] : "";
    auto skip = [&](const char *name) { return !only.empty() && std::string(name).rfind(only, 0) != 0; };
    qxInitRotationPresets();
    qxTransformOptions ident{};
    ident.m11 = ident.m22 = 1;
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
    // The outlines the player rasterises, for OpenCV to draw alone.
    std::vector<QxPointD> ring(kQxArcPointsMax);
    const double unit[4] = {1, 0, 0, 1};
    ring.resize(size_t(qxShapeArcPoints(ring.data(), 50, 50, 50, 50, 0, 360, unit, false, false, 0, 0)));
    std::vector<cv::Point> circlePts, quadPts, boxPts = {{0, 0}, {99, 0}, {99, 79}, {0, 79}};
    for (const QxPointD &p : ring) circlePts.push_back({int(p.x), int(p.y)});
    for (int i = 0; i < 4; i++) quadPts.push_back({int(quad[2 * i]), int(quad[2 * i + 1])});
    cv::Mat cvTarget(480, 640, CV_8UC4, cv::Scalar(255, 255, 255, 255));
    const Case cases[] = {
        {"box 100x80", box, [](cairo_t *c, double x, double y) { cairo_rectangle(c, x, y, 100, 80); }},
        {"circle r=50", circle, [](cairo_t *c, double x, double y) { cairo_arc(c, x + 50.5, y + 50.5, 50.5, 0, 2 * M_PI); }},
        {"quadrilateral 100", poly, [&](cairo_t *c, double x, double y) {
             cairo_move_to(c, x + 0.5, y + 0.5);
             for (int i = 1; i < 4; i++) cairo_line_to(c, x + quad[2 * i] + 0.5, y + quad[2 * i + 1] + 0.5);
         }},
    };
    // A plain box of an opaque colour goes straight into the selected brush's pixels.
    qxBitMap *brush = qxAllocBitMap(640, 480, 0, nullptr);
    for (const Case &k : cases)
        for (bool aa : {false, true}) {
            if (skip((std::string(k.name) + (aa ? " aa" : " plain")).c_str())) continue;
            qxDrawState st{};
            st.fillStyle = QX_FILLCOLOR, st.formStyle = aa ? 17 : 1, st.lineWidth = 1;
            qxShapeImage im;
            const bool direct = k.shape.type == QX_SHAPE_BOX && !aa; // the plain-box path
            bool painted = true;
            const double ours = perSecond([&](int i) {
                if (direct) {
                    qxRectFill(brush, (i * 37) % 500, (i * 53) % 360, 100, 80, 0xFF0000);
                    return;
                }
                // As into a selected brush: the coverage alone, the colour painted through it.
                qxRenderShapeCoverage(nullptr, &k.shape, &st, &im);
                painted &= qxPaintShapeCoverage(brush, &im, (i * 37) % 500 + im.x, (i * 53) % 360 + im.y, 0xFF0000);
            });
            if (!painted) {
                std::fprintf(stderr, "%s: the brush is not ARGB\n", k.name);
                return 1;
            }
            cairo_set_antialias(cr, aa ? CAIRO_ANTIALIAS_GRAY : CAIRO_ANTIALIAS_NONE);
            cairo_set_source_rgb(cr, 1, 0, 0);
            const double peer = perSecond([&](int i) {
                k.path(cr, (i * 37) % 500, (i * 53) % 360);
                cairo_fill(cr);
            });
            const std::vector<cv::Point> &outline =
                k.shape.type == QX_SHAPE_BOX ? boxPts : k.shape.type == QX_SHAPE_CIRCLE ? circlePts : quadPts;
            const double alone = perSecond([&](int i) {
                std::vector<cv::Point> at(outline);
                for (cv::Point &p : at) p += cv::Point((i * 37) % 500, (i * 53) % 360);
                cv::fillPoly(cvTarget, std::vector<std::vector<cv::Point>>{at}, cv::Scalar(0, 0, 255, 255),
                             aa ? cv::LINE_AA : cv::LINE_8);
            });
            std::printf("%-18s %-5s ours %9.0f/s  cairo %9.0f/s  ratio %.2f  OpenCV alone %9.0f/s  ratio %.2f\n",
                        k.name, aa ? "aa" : "plain", ours, peer, ours / peer, alone, ours / alone);
        }
    // A curved path, filled and stroked 4 wide, as DrawPath renders it:
    // extents, the engine's coverage, the colour composed through it.
    qxPathBuffer path{nullptr, 0, nullptr};
    auto add = [&](uint32_t op, std::initializer_list<double> v) {
        qxPathValue vals[8];
        int n = 0;
        if (op != QX_PATH_CLOSEPATH) vals[n].type = 0, vals[n++].u32 = 0;
        for (double d : v) vals[n].type = 1, vals[n++].f64 = d;
        qxPathAppend(&path, op, vals, n);
    };
    add(QX_PATH_MOVETO, {0, 80});
    add(QX_PATH_CURVETO, {20, 0, 80, 0, 100, 60});
    add(QX_PATH_CURVETO, {80, 100, 30, 100, 0, 80});
    add(QX_PATH_CLOSEPATH, {});
    const double ident4[4] = {1, 0, 0, 1};
    for (uint32_t fill : {1u, 0u}) {
        if (skip(fill ? "curve path fill aa" : "curve path stroke aa")) continue;
        qxEngineState es{};
        es.antialias = 1, es.miterLimit = 10, es.lineJoin = 1;
        qxDrawState st{};
        st.fillStyle = QX_FILLCOLOR, st.formStyle = 17, st.lineWidth = 4;
        std::vector<uint8_t> cov;
        qxShapeImage im;
        const double ours = perSecond([&](int i) {
            qxPathExtentsRequest e{path.items, &es, fill, 4, 0, 0, 0, 0, 0, 0, ident4};
            qxFtGetPathExtents(&e);
            const double x0 = std::floor(e.x1), y0 = std::floor(e.y1);
            const int w = int(std::ceil(e.x2) - x0), h = int(std::ceil(e.y2) - y0);
            cov.assign(size_t(w) * h, 0);
            qxPathDrawRequest d{};
            d.items = path.items, d.state = &es, d.fill = fill, d.lineWidth = 4, d.target = cov.data();
            d.stride = uint32_t(w), d.width = uint32_t(w), d.height = uint32_t(h), d.bx = x0, d.by = y0;
            d.matrix = ident4;
            qxFtDrawPath(&d);
            qxComposeCoverage(nullptr, &st, 0xFF0000, cov.data(), nullptr, false, w, h, 0, 0, 0, 0, w, h, &im);
            im.x = int(x0), im.y = int(y0);
            blend(im, (i * 37) % 500, (i * 53) % 360);
        });
        cairo_set_antialias(cr, CAIRO_ANTIALIAS_GRAY);
        cairo_set_line_width(cr, 4);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
        const double peer = perSecond([&](int i) {
            const double x = (i * 37) % 500, y = (i * 53) % 360;
            cairo_move_to(cr, x, y + 80);
            cairo_curve_to(cr, x + 20, y, x + 80, y, x + 100, y + 60);
            cairo_curve_to(cr, x + 80, y + 100, x + 30, y + 100, x, y + 80);
            cairo_close_path(cr);
            if (fill) cairo_fill(cr);
            else cairo_stroke(cr);
        });
        std::printf("%-18s %-5s ours %9.0f/s  cairo %9.0f/s  ratio %.2f\n", fill ? "curve path fill" : "curve path stroke",
                    "aa", ours, peer, ours / peer);
    }
    qxPathClear(&path);
    qxFreeBitMap(brush);
    cairo_destroy(cr);
    cairo_surface_destroy(surf);
    return 0;
}
