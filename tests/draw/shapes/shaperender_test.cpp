// The shape renderer's internals; its pictures are checked through the draw
// commands against OpenCV (tests/e2e/draw).
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

// A shape of one colour painted straight into a brush through its coverage
// gives the pixels the whole image blended over the brush gives: random
// shapes, filled and outlined, upright and turned, partly off the brush.
TEST_F(ShapeRender, CoveragePaintsWhatTheImageShows)
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
        qxDrawState st = filled(round % 2 ? 1 : 17);
        if (round % 3 == 1) st.fillStyle = QX_FILLNONE, st.lineWidth = 1 + int(rng() % 5);
        qxShapeImage cov, whole;
        ASSERT_EQ(qxRenderShapeCoverage(nullptr, &s, &st, &cov), 0);
        ASSERT_EQ(qxRenderShapeImage(nullptr, &s, &st, &whole), 0);
        ASSERT_TRUE(cov.pixels.empty() && cov.w == whole.w && cov.h == whole.h && cov.x == whole.x);
        ASSERT_EQ(cov.alpha, whole.alpha) << "round " << round;
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
    EXPECT_EQ(im.w, 15); // the anti-aliasing margin: 5 more, 2 up and left
    EXPECT_EQ(im.x, -2);
}

} // namespace
