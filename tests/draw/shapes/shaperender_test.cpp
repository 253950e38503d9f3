// The shape renderer's coverage against cairo's on A8 surfaces: the same
// true shapes, compared by maximum and mean error and the share of pixels
// that differ (the tessellations differ, so no bit-exactness).
#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "imaging/qx_pixelformat.h"

#include "display/qx_bitmap.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_gfxgeom.h"
#include "draw/qx_shaperender.h"
#include "draw/vector/qx_shapegeom.h"
#include "objects/qx_displayopts.h"

namespace {

struct Diff {
    int max = 0;
    double mean = 0, share = 0;
};

// Our alpha plane against cairo's coverage of the same shape, both placed on a 200 x 200 canvas at (20, 20).
Diff compare(const qxShapeRecord &s, const qxDrawState &st, const std::function<void(cairo_t *)> &path)
{
    qxShapeImage im;
    EXPECT_EQ(qxRenderShapeImage(nullptr, &s, &st, &im), 0);
    cairo_surface_t *surf = cairo_image_surface_create(CAIRO_FORMAT_A8, 200, 200);
    cairo_t *cr = cairo_create(surf);
    cairo_set_antialias(cr, (st.formStyle & QX_FORM_ANTIALIAS) ? CAIRO_ANTIALIAS_GRAY : CAIRO_ANTIALIAS_NONE);
    cairo_translate(cr, 20, 20);
    path(cr);
    cairo_fill(cr);
    cairo_surface_flush(surf);
    const uint8_t *ref = cairo_image_surface_get_data(surf);
    const int stride = cairo_image_surface_get_stride(surf);
    Diff d;
    int64_t sum = 0, differ = 0, covered = 0;
    for (int y = 0; y < 200; y++)
        for (int x = 0; x < 200; x++) {
            int ix = x - 20 - im.x, iy = y - 20 - im.y;
            int ours = ix >= 0 && iy >= 0 && ix < im.w && iy < im.h ? im.alpha[size_t(iy) * im.w + ix] : 0;
            int e = std::abs(ours - ref[y * stride + x]);
            d.max = std::max(d.max, e);
            sum += e, differ += e > 0, covered += ours > 0 || ref[y * stride + x] > 0;
        }
    d.mean = double(sum) / (200 * 200);
    d.share = covered ? double(differ) / covered : 0;
    cairo_destroy(cr);
    cairo_surface_destroy(surf);
    return d;
}

qxDrawState filled(uint32_t form)
{
    qxDrawState st{};
    st.fillStyle = QX_FILLCOLOR, st.formStyle = form, st.lineWidth = 1, st.borderSize = 2, st.shadowSize = 4;
    return st;
}

class ShapeRender : public ::testing::Test {
protected:
    void SetUp() override { qxInitRotationPresets(); }
    qxTransformOptions ident = [] { qxTransformOptions t{}; t.m11 = t.m22 = 1; return t; }();
};

TEST_F(ShapeRender, BoxesAndBordersAreExact)
{
    qxShapeRecord s{};
    s.type = QX_SHAPE_BOX, s.width = 40, s.height = 30, s.transform = &ident;
    for (uint32_t form : {1u, 17u}) {
        Diff d = compare(s, filled(form), [](cairo_t *cr) { cairo_rectangle(cr, 0, 0, 40, 30); });
        EXPECT_EQ(d.max, 0) << form;
    }
    // #EDGE grows the box by the border size on every side.
    Diff d = compare(s, filled(1 | 64), [](cairo_t *cr) { cairo_rectangle(cr, -2, -2, 44, 34); });
    EXPECT_EQ(d.max, 0);
    // An outline of width 3 is the ring inside the box.
    qxDrawState st = filled(1);
    st.fillStyle = QX_FILLNONE, st.lineWidth = 3;
    d = compare(s, st, [](cairo_t *cr) {
        cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
        cairo_rectangle(cr, 0, 0, 40, 30);
        cairo_rectangle(cr, 3, 3, 34, 24);
    });
    EXPECT_EQ(d.max, 0);
    // Boxes no wider than twice the line are all line (a 1-pixel text cursor).
    for (int w : {1, 2, 6}) {
        s.width = w;
        d = compare(s, st, [w](cairo_t *cr) { cairo_rectangle(cr, 0, 0, w, 30); });
        EXPECT_EQ(d.max, 0) << w;
    }
}

TEST_F(ShapeRender, CurvesAndPolygonsFollowCairo)
{
    qxShapeRecord c{};
    c.type = QX_SHAPE_CIRCLE, c.rx = c.ry = 50, c.width = c.height = 101, c.transform = &ident;
    auto disc = [](cairo_t *cr) { cairo_arc(cr, 50.5, 50.5, 50.5, 0, 2 * M_PI); };
    Diff aa = compare(c, filled(17), disc);
    EXPECT_LE(aa.max, 40);
    EXPECT_LT(aa.mean, 0.5);
    Diff plain = compare(c, filled(1), disc);
    EXPECT_LT(plain.share, 0.01); // only pixel centres within the chord error of the edge differ
    std::printf("circle r=50 against cairo's true arc: anti-aliased max %d mean %.3f; plain %.4f of pixels differ\n",
                aa.max, aa.mean, plain.share);

    const double tri[] = {0, 0, 100, 10, 30, 90, 0, 0};
    qxShapeRecord p{};
    p.type = QX_SHAPE_POLYGON, p.points = tri, p.pointCount = 4, p.width = 101, p.height = 91, p.transform = &ident;
    Diff pd = compare(p, filled(17), [](cairo_t *cr) {
        cairo_move_to(cr, 0.5, 0.5), cairo_line_to(cr, 100.5, 10.5), cairo_line_to(cr, 30.5, 90.5);
    });
    EXPECT_LE(pd.max, 16); // 16 sub-scanlines against cairo's exact area
    EXPECT_LT(pd.mean, 0.3);

    // A pie from 0 to 90 degrees: the quarter above and right of the centre.
    qxShapeRecord a = c;
    a.type = QX_SHAPE_ARC, a.start = 0, a.end = 90, a.clockwise = 0;
    Diff ad = compare(a, filled(17), [](cairo_t *cr) {
        cairo_move_to(cr, 50.5, 50.5);
        cairo_arc_negative(cr, 50.5, 50.5, 50.5, 0, -M_PI / 2);
    });
    EXPECT_LE(ad.max, 32);
    EXPECT_LT(ad.mean, 0.5);
}

TEST_F(ShapeRender, RotationTurnsAboutTheAnchor)
{
    // A 40 x 40 square turned by 45 degrees about its centre, either way round: a diamond.
    qxTransformOptions turn{};
    double m[4];
    qxSetupTransform(m, 40, 40, 40, 40, 1.0, 1.0, 45);
    turn.m11 = m[0], turn.m12 = m[1], turn.m21 = m[2], turn.m22 = m[3];
    turn.anchorx = turn.anchory = 0.5;
    qxShapeRecord s{};
    s.type = QX_SHAPE_BOX, s.width = s.height = 40, s.transform = &turn;
    Diff d = compare(s, filled(17), [](cairo_t *cr) {
        // Turned, the diamond starts at the shape's corner: its centre 20 - floor(20 - 20 sqrt 2) in.
        cairo_translate(cr, 29, 29);
        cairo_rotate(cr, M_PI / 4);
        cairo_rectangle(cr, -20, -20, 40, 40);
    });
    EXPECT_LE(d.max, 16);
    EXPECT_LT(d.mean, 0.2);
}

TEST_F(ShapeRender, GradientFillIsTheGradientOfTheBox)
{
    qxShapeRecord s{};
    s.type = QX_SHAPE_BOX, s.width = 40, s.height = 30, s.transform = &ident;
    qxDrawState st = filled(1);
    st.fillStyle = QX_FILLGRADIENT;
    st.gradient.type = 2, st.gradient.angle = 90, st.gradient.startColour = 0xFF0000, st.gradient.endColour = 0x0000FF;
    st.gradient.centreX = st.gradient.centreY = st.gradient.middle = 0.5;
    qxShapeImage im;
    ASSERT_EQ(qxRenderShapeImage(nullptr, &s, &st, &im), 0);
    ASSERT_EQ(im.w, 40);
    std::vector<uint32_t> ref(40 * 30);
    qxGradientRender g{ref.data(), 4, QX_PIXFMT_ARGB32, 0, 0, 40, 30, 40, &st.gradient};
    qxDrawGradient(&g);
    for (size_t i = 0; i < ref.size(); i++) ASSERT_EQ(im.pixels[i] & 0xFFFFFF, ref[i] & 0xFFFFFF) << i;
    EXPECT_NE(ref[0] & 0xFFFFFF, ref[39] & 0xFFFFFF); // the gradient runs across the box
}

// Without anti-aliasing a brush gets the coverage as spans: random shapes,
// filled and outlined, upright and turned, partly off the brush, paint the
// very pixels the whole image's alpha plane covers.
TEST_F(ShapeRender, SpansPaintWhatThePlaneCovers)
{
    std::mt19937 rng(25);
    qxBitMap *brush = qxAllocBitMap(120, 90, 0, nullptr);
    ASSERT_NE(brush, nullptr);
    const double quad[] = {0, 0, 60, 9, 47, 66, 5, 40, 31, 12};
    const uint32_t types[] = {QX_SHAPE_BOX, QX_SHAPE_CIRCLE, QX_SHAPE_ELLIPSE, QX_SHAPE_ARC, QX_SHAPE_POLYGON};
    for (int round = 0; round < 60; round++) {
        qxShapeRecord s{};
        s.type = types[round % 5], s.rx = 3 + int(rng() % 40), s.ry = 3 + int(rng() % 40);
        const bool poly = s.type == QX_SHAPE_POLYGON;
        s.width = poly ? 61 : 2 * s.rx + 1, s.height = poly ? 67 : 2 * s.ry + 1;
        s.corners[0] = s.corners[2] = int(rng() % 60), s.start = int(rng() % 360), s.end = int(rng() % 360);
        s.points = quad, s.pointCount = 4 + int(rng() % 2);
        double m[4];
        qxSetupTransform(m, s.width, s.height, s.width, s.height, 1.0, 1.0, double(rng() % 360));
        qxTransformOptions turn = ident;
        turn.m11 = m[0], turn.m12 = m[1], turn.m21 = m[2], turn.m22 = m[3], turn.anchorx = turn.anchory = 0.5;
        s.transform = round % 4 == 3 ? &turn : &ident;
        qxDrawState st = filled(1);
        if (round % 3 == 1) st.fillStyle = QX_FILLNONE, st.lineWidth = 1 + int(rng() % 5);
        qxShapeImage cov, whole;
        ASSERT_EQ(qxRenderShapeCoverage(nullptr, &s, &st, &cov), 0);
        ASSERT_EQ(qxRenderShapeImage(nullptr, &s, &st, &whole), 0);
        ASSERT_TRUE(cov.alpha.empty() && cov.w == whole.w && cov.h == whole.h);
        const int64_t x = int64_t(rng() % 100) - 30 + cov.x, y = int64_t(rng() % 80) - 30 + cov.y;
        qxRectFill(brush, 0, 0, 120, 90, 0x123456);
        ASSERT_TRUE(qxPaintShapeCoverage(brush, &cov, x, y, 0xFF8000));
        qxBitMapLock l;
        ASSERT_TRUE(qxLockBitMap(brush, 0, &l));
        for (int64_t py = 0; py < 90; py++)
            for (int64_t px = 0; px < 120; px++) {
                const int64_t ix = px - x, iy = py - y;
                const bool in = ix >= 0 && iy >= 0 && ix < whole.w && iy < whole.h;
                const uint8_t a = in ? whole.alpha[size_t(iy * whole.w + ix)] : 0;
                ASSERT_TRUE(a == 0 || a == 255);
                const uint32_t got = static_cast<uint32_t *>(l.pixels)[py * l.pixelsPerRow + px] & 0xFFFFFF;
                ASSERT_EQ(got, a ? 0xFF8000u : 0x123456u) << "round " << round << " at " << px << "," << py;
            }
        qxUnLockBitMap(&l);
    }
    qxFreeBitMap(brush);
}

TEST_F(ShapeRender, HugeAndBrokenInputIsRefused)
{
    qxShapeRecord s{};
    s.type = QX_SHAPE_BOX, s.width = 100000, s.height = 100000, s.transform = &ident;
    qxShapeImage im;
    const qxDrawState plain = filled(1);
    EXPECT_EQ(qxRenderShapeImage(nullptr, &s, &plain, &im), 1522);
    qxTransformOptions bad = ident;
    bad.m11 = NAN, bad.m12 = INFINITY;
    s.width = s.height = 10, s.transform = &bad;
    qxDrawState st = filled(17);
    EXPECT_EQ(qxRenderShapeImage(nullptr, &s, &st, &im), 0); // the matrix is ignored, not converted
    EXPECT_EQ(im.w, 12);
}

} // namespace
