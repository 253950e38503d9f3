#include <gtest/gtest.h>

#include <cairo.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "draw/vector/qx_mask.h"

namespace {

struct Mask {
    QxMaskImage *img = nullptr;
    uint8_t *data = nullptr;
    int32_t stride = 0;
    Mask(int w, int h) { qxMaskCreate(w, h, &img, &data, &stride); }
    ~Mask() { qxMaskFree(img); }
    uint8_t at(int x, int y) const { return data[size_t(y) * size_t(stride) + size_t(x)]; }
    int count(bool (*pred)(uint8_t)) const
    {
        int n = 0;
        for (int y = 0; y < img->height; y++)
            for (int x = 0; x < img->width; x++) n += pred(at(x, y));
        return n;
    }
};

// cairo's A8 coverage of the same contours, as the reference for anti-aliased fills.
std::vector<uint8_t> cairoFill(int w, int h, const std::vector<QxRasterPoint> &pts, const std::vector<int32_t> &counts,
                               QxFillRule rule, int *stride)
{
    cairo_surface_t *s = cairo_image_surface_create(CAIRO_FORMAT_A8, w, h);
    cairo_t *cr = cairo_create(s);
    cairo_set_fill_rule(cr, rule == QX_FILL_EVENODD ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
    size_t k = 0;
    for (int32_t n : counts) {
        for (int32_t i = 0; i < n; i++, k++)
            i ? cairo_line_to(cr, pts[k].x, pts[k].y) : cairo_move_to(cr, pts[k].x, pts[k].y);
        cairo_close_path(cr);
    }
    cairo_fill(cr);
    cairo_surface_flush(s);
    *stride = cairo_image_surface_get_stride(s);
    std::vector<uint8_t> out(cairo_image_surface_get_data(s), cairo_image_surface_get_data(s) + *stride * h);
    cairo_destroy(cr);
    cairo_surface_destroy(s);
    return out;
}

} // namespace

TEST(MaskRaster, CreateStrideClearingAndRefusals)
{
    Mask m(5, 3);
    ASSERT_NE(m.img, nullptr);
    EXPECT_EQ(m.stride, 8);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(m.data) % 32, 0u);
    EXPECT_EQ(m.count([](uint8_t v) { return v != 0; }), 0);

    QxMaskImage *img = reinterpret_cast<QxMaskImage *>(1);
    qxMaskCreate(0, 10, &img, nullptr, nullptr);
    EXPECT_EQ(img, nullptr);
    qxMaskCreate(10, -1, &img, nullptr, nullptr);
    EXPECT_EQ(img, nullptr);
    qxMaskCreate(INT32_MAX, INT32_MAX, &img, nullptr, nullptr); // far more than memory: refused, not crashed
    EXPECT_EQ(img, nullptr);
    qxMaskFree(nullptr);

    Mask l(20, 20);
    qxMaskDraw(l.img, 0, 0, 19, 19, 1, 256);
    qxMaskDraw(l.img, 0, 0, 19, 19, 1, -1);
    const QxMaskPoint tri[3] = {{2, 2}, {17, 2}, {10, 17}};
    qxMaskFillPolygon(l.img, tri, 3, 1, -2);
    qxMaskFillPolygon(l.img, tri, 3, 1, 256);
    qxMaskFillPolygon(l.img, tri, 0, 1, 0);
    EXPECT_EQ(l.count([](uint8_t v) { return v != 0; }), 0);
}

TEST(MaskRaster, PolygonValuesAndClosedOutline)
{
    const QxMaskPoint tri[3] = {{2, 2}, {37, 5}, {12, 33}};
    Mask hard(40, 40), soft(40, 40);
    qxMaskFillPolygon(hard.img, tri, 3, 0, 0);
    qxMaskFillPolygon(soft.img, tri, 3, 1, 0);
    EXPECT_EQ(hard.count([](uint8_t v) { return v != 0 && v != 255; }), 0);
    EXPECT_GT(hard.count([](uint8_t v) { return v == 255; }), 300);
    EXPECT_GT(soft.count([](uint8_t v) { return v != 0 && v != 255; }), 20);

    // The closing edge from the last point back to the first is drawn.
    Mask outline(40, 40);
    qxMaskFillPolygon(outline.img, tri, 3, 0, 1);
    EXPECT_EQ(outline.at(7, 17), 255); // on the edge (12,33)-(2,2)
    EXPECT_EQ(outline.at(2, 2), 255);
    EXPECT_EQ(outline.at(15, 12), 0); // inside, not filled
}

TEST(MaskRaster, LinesAreClippedAndSafeWithHugeCoordinates)
{
    Mask m(30, 30);
    qxMaskDraw(m.img, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 0, 1);
    EXPECT_EQ(m.at(10, 10), 255);
    qxMaskDraw(m.img, -2000000000, 15, 2000000000, 15, 1, 5);
    EXPECT_EQ(m.at(0, 15), 255);
    EXPECT_EQ(m.at(29, 13), 255);
    EXPECT_EQ(m.at(29, 20), 0);
    const QxMaskPoint huge[4] = {{INT32_MIN, INT32_MIN}, {INT32_MAX, INT32_MIN}, {INT32_MAX, INT32_MAX},
                                 {INT32_MIN, INT32_MAX}};
    Mask all(16, 16);
    qxMaskFillPolygon(all.img, huge, 4, 1, 0);
    EXPECT_EQ(all.count([](uint8_t v) { return v == 255; }), 256);

    std::vector<uint8_t> buf(64);
    const QxRasterPoint nan[3] = {{NAN, 0}, {5, 5}, {0, 5}};
    const int32_t n3 = 3;
    EXPECT_EQ(qxRasterFill(buf.data(), 8, 8, 8, nan, &n3, 1, QX_FILL_NONZERO, true), QX_MASK_BAD_ARGUMENT);
}

// Random self-intersecting contours against cairo, both fill rules: the
// coverage may differ by the 16 sub-scanlines' quantisation on edge pixels only.
TEST(MaskRaster, CoverageMatchesCairo)
{
    std::mt19937 rng(25);
    std::uniform_real_distribution<double> coord(-10.0, 90.0);
    const int w = 80, h = 64;
    for (int round = 0; round < 40; round++) {
        std::vector<QxRasterPoint> pts;
        std::vector<int32_t> counts;
        int contours = 1 + int(rng() % 3);
        for (int c = 0; c < contours; c++) {
            int n = 3 + int(rng() % 7);
            for (int i = 0; i < n; i++) pts.push_back({coord(rng), coord(rng) * h / w});
            counts.push_back(n);
        }
        for (QxFillRule rule : {QX_FILL_NONZERO, QX_FILL_EVENODD}) {
            int cstride = 0;
            std::vector<uint8_t> ref = cairoFill(w, h, pts, counts, rule, &cstride);
            std::vector<uint8_t> ours(size_t(w) * h);
            ASSERT_EQ(qxRasterFill(ours.data(), w, w, h, pts.data(), counts.data(), int32_t(counts.size()), rule, true),
                      0);
            long sum = 0;
            int worst = 0;
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++) {
                    int d = std::abs(int(ours[size_t(y) * w + x]) - int(ref[size_t(y) * cstride + x]));
                    sum += d;
                    worst = std::max(worst, d);
                }
            EXPECT_LE(worst, 40) << "round " << round << " rule " << rule;
            EXPECT_LT(double(sum) / (w * h), 1.0) << "round " << round << " rule " << rule;
        }
    }
}

// Solid polygons and thick lines against OpenCV's drawing: only edge pixels may differ.
TEST(MaskRaster, SolidShapesMatchOpenCv)
{
    std::mt19937 rng(7);
    const int w = 64, h = 48;
    for (int round = 0; round < 20; round++) {
        std::vector<QxMaskPoint> p(3 + rng() % 5);
        std::vector<cv::Point> q;
        for (auto &pt : p) pt = {int32_t(rng() % w), int32_t(rng() % h)}, q.push_back({pt.x, pt.y});
        Mask m(w, h);
        qxMaskFillPolygon(m.img, p.data(), int32_t(p.size()), 0, 0);
        cv::Mat ref(h, w, CV_8UC1, cv::Scalar(0));
        cv::fillPoly(ref, std::vector<std::vector<cv::Point>>{q}, cv::Scalar(255), cv::LINE_8);
        int thick = 2 + int(rng() % 6);
        Mask l(w, h);
        qxMaskDraw(l.img, p[0].x, p[0].y, p[1].x, p[1].y, 0, thick);
        cv::Mat lref(h, w, CV_8UC1, cv::Scalar(0));
        cv::line(lref, q[0], q[1], cv::Scalar(255), thick, cv::LINE_8);
        int diff = 0, total = 0, ldiff = 0, ltotal = 0;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                diff += m.at(x, y) != ref.at<uint8_t>(y, x);
                total += ref.at<uint8_t>(y, x) != 0;
                ldiff += l.at(x, y) != lref.at<uint8_t>(y, x);
                ltotal += lref.at<uint8_t>(y, x) != 0;
            }
        EXPECT_LE(diff, 2 + total / 10) << "round " << round;
        EXPECT_LE(ldiff, 4 + ltotal / 4) << "round " << round << " thickness " << thick;
    }
}

// The area rasteriser on contours that do not cross (random convex
// polygons, some reaching past the plane) against cairo: edge pixels only.
TEST(MaskRaster, SimpleContoursByAreaMatchCairo)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> centre(-5.0, 85.0), radius(2.0, 40.0), turn(0.0, 6.283);
    const int w = 80, h = 64;
    for (int round = 0; round < 40; round++) {
        std::vector<QxRasterPoint> pts;
        const int n = 3 + int(rng() % 30);
        const double cx = centre(rng), cy = centre(rng) * h / w, rx = radius(rng), ry = radius(rng), a0 = turn(rng);
        for (int i = 0; i < n; i++) {
            const double a = a0 + 6.283185307179586 * i / n;
            pts.push_back({cx + rx * std::cos(a), cy + ry * std::sin(a)});
        }
        std::vector<int32_t> counts{n};
        int cstride = 0;
        std::vector<uint8_t> ref = cairoFill(w, h, pts, counts, QX_FILL_NONZERO, &cstride);
        std::vector<uint8_t> ours(size_t(w) * h);
        ASSERT_EQ(qxRasterFillSimple(ours.data(), w, w, h, pts.data(), counts.data(), 1, QX_FILL_NONZERO), 0);
        int worst = 0;
        long sum = 0;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                const int d = std::abs(int(ours[size_t(y) * w + x]) - int(ref[size_t(y) * cstride + x]));
                worst = std::max(worst, d), sum += d;
            }
        EXPECT_LE(worst, 40) << "round " << round;
        EXPECT_LT(double(sum) / (w * h), 0.5) << "round " << round;
    }
}

// The span rasteriser sets exactly the pixels of the plane's whole-pixel
// fill: random quadrilaterals on half pixels (as shapes place their points),
// circles and crossing contours, partly off the plane, both rules.
TEST(MaskRaster, SpansMatchWholePixelFill)
{
    std::mt19937 rng(25);
    std::uniform_real_distribution<double> coord(-12.0, 92.0), radius(0.5, 60.0);
    const int w = 80, h = 64;
    for (int round = 0; round < 300; round++) {
        std::vector<QxRasterPoint> pts;
        std::vector<int32_t> counts;
        const int kind = round % 3;
        const int contours = kind == 2 ? 1 + int(rng() % 3) : 1;
        for (int c = 0; c < contours; c++) {
            const int n = kind == 1 ? 4 + int(rng() % 60) : kind == 0 ? 4 : 3 + int(rng() % 7);
            const double cx = coord(rng), cy = coord(rng), r = radius(rng);
            for (int i = 0; i < n; i++) {
                const double a = 6.283185307179586 * i / n;
                pts.push_back(kind == 1 ? QxRasterPoint{cx + r * std::cos(a), cy - r * std::sin(a)}
                                        : QxRasterPoint{std::floor(coord(rng)) + 0.5, std::floor(coord(rng)) + 0.5});
            }
            counts.push_back(n);
        }
        for (QxFillRule rule : {QX_FILL_NONZERO, QX_FILL_EVENODD}) {
            std::vector<uint8_t> plane(size_t(w) * h, 0), painted(size_t(w) * h, 0);
            ASSERT_EQ(qxRasterFill(plane.data(), w, w, h, pts.data(), counts.data(), contours, rule, false), 0);
            std::vector<QxSpan> spans;
            ASSERT_EQ(qxRasterSpans(w, h, pts.data(), counts.data(), contours, rule, spans), 0);
            for (size_t i = 0; i < spans.size(); i++) {
                const QxSpan &s = spans[i];
                ASSERT_TRUE(s.y >= 0 && s.y < h && 0 <= s.x0 && s.x0 < s.x1 && s.x1 <= w) << "round " << round;
                ASSERT_TRUE(i == 0 || spans[i - 1].y < s.y || spans[i - 1].x1 <= s.x0) << "round " << round;
                std::fill(&painted[size_t(s.y) * w + s.x0], &painted[size_t(s.y) * w + s.x1], uint8_t(255));
            }
            ASSERT_EQ(painted, plane) << "round " << round << " rule " << rule;
        }
    }
}
