#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/commands/qx_commands.h"
#include "draw/vector/qx_drawhost.h"
#include "draw/vector/qx_shapegeom.h"

namespace {

const double kIdentity[4] = {1, 0, 0, 1};

struct Tables : ::testing::Test {
    void SetUp() override { qxInitRotationPresets(); }
};

int32_t circle(double r, std::vector<QxPointD> &pts)
{
    pts.assign(kQxArcPointsMax, {});
    return qxShapeArcPoints(pts.data(), r, r, r, r, 0, 360, kIdentity, false, false, 0.5, 0.5);
}

} // namespace

TEST_F(Tables, TablesRunCounterClockwiseOnScreen)
{
    EXPECT_EQ(qxCosTable[0], 1.0);
    EXPECT_NEAR(qxCosTable[90], 0.0, 1e-12);
    EXPECT_NEAR(qxSinTable[90], -1.0, 1e-12); // 90 degrees points up: y grows downwards
    EXPECT_NEAR(qxCosTable[180], -1.0, 1e-12);
}

// The step follows the radius, so the point count (closing point included) does too.
TEST_F(Tables, ArcStepsAndAngles)
{
    std::vector<QxPointD> p;
    EXPECT_EQ(circle(1, p), 5);
    EXPECT_EQ(p[0].x, p[4].x);
    EXPECT_EQ(p[0].y, p[4].y);
    EXPECT_EQ(circle(5, p), 13);
    EXPECT_EQ(circle(12, p), 21);
    EXPECT_EQ(circle(100, p), 73);
    EXPECT_EQ(p[0].x, 200); // angle 0 at 3 o'clock
    EXPECT_EQ(p[18].y, 0);  // angle 90 at the top

    // A quarter pie from 3 to 6 o'clock: negated angles, centre as the last vertex.
    p.assign(kQxArcPointsMax, {});
    int32_t n = qxShapeArcPoints(p.data(), 50, 50, 50, 50, -90, 0, kIdentity, true, true, 0.5, 0.5);
    ASSERT_EQ(n, 2 + 19 + 1);
    EXPECT_EQ(p[0].x, 0); // full ellipse box first
    EXPECT_EQ(p[1].x, 100);
    EXPECT_EQ(p[n - 1].x, 50);
    EXPECT_EQ(p[n - 1].y, 50);
    for (int32_t i = 2; i < n; i++) EXPECT_GE(p[i].y, 50) << i;

    // Huge and reversed angles are normalised without looping for ever.
    EXPECT_GT(qxShapeArcPoints(p.data(), 10, 10, 10, 10, INT32_MAX, INT32_MIN, kIdentity, false, false, 0.5, 0.5), 0);
    EXPECT_EQ(qxShapeArcPoints(p.data(), 10, 10, 10, 10, 30, 30, kIdentity, false, false, 0.5, 0.5), 2);
}

TEST_F(Tables, RotationBoundsAndShadows)
{
    const double quarter[4] = {0, 1, -1, 0}; // (x, y) -> (-y, x)
    int32_t x = 0, y = 0;
    qxRotatePointAbout(10, 0, 10, 10, quarter, &x, &y, 0.5, 0.5);
    EXPECT_EQ(x, 10); // (5, -5) from the middle turns to (5, 5)
    EXPECT_EQ(y, 10);
    qxRotatePointAbout(7, 3, 10, 10, kIdentity, &x, &y, 0.2, 0.9);
    EXPECT_EQ(x, 7);
    EXPECT_EQ(y, 3);

    qxPoint box[4] = {{0, 0}, {19, 0}, {19, 9}, {0, 9}};
    int32_t bx, by, bw, bh;
    qxShapeBounds(quarter, 20, 10, box, 4, 1, &bx, &by, &bw, &bh, 0.5, 0.5);
    EXPECT_EQ(bw, 10);
    EXPECT_EQ(bh, 20);
    for (const qxPoint &p : box) EXPECT_TRUE(p.x >= 0 && p.y >= 0);

    int32_t l, t, r, b, w = 10, h = 10;
    qxShadowOffsets(4, 7, &l, &t, &r, &b); // north-west
    EXPECT_EQ(l, 4);
    EXPECT_EQ(t, 4);
    EXPECT_EQ(r + b, 0);
    qxGrowByShadow(2, 4, &w, &h); // east grows only the width
    EXPECT_EQ(w, 14);
    EXPECT_EQ(h, 10);
}

TEST_F(Tables, BorderPolygonsAreMitredOrRectangular)
{
    // Equilateral triangle: at a 60-degree corner the offset is twice the border.
    const double s = 100;
    const qxPoint tri[4] = {{0, 0}, {100, 0}, {50, int32_t(std::lrint(s * std::sqrt(3.0) / 2))}, {0, 0}};
    qxPoint out[5];
    int32_t n = qxBorderPolygon(tri, 4, 4, out);
    ASSERT_EQ(n, 4);
    // The top edge moves up by 4 and the apex down by 8: height grows by 12.
    int32_t minY = 1 << 30, maxY = -(1 << 30), minX = 1 << 30, maxX = -(1 << 30);
    for (int i = 0; i < n; i++)
        minY = std::min(minY, out[i].y), maxY = std::max(maxY, out[i].y), minX = std::min(minX, out[i].x),
        maxX = std::max(maxX, out[i].x);
    EXPECT_EQ(minY, 0);
    EXPECT_EQ(maxY - minY, 87 + 12);
    EXPECT_NEAR(maxX - minX, 100 + 2 * 4 * std::sqrt(3.0), 1.0);

    const qxPoint line[3] = {{0, 0}, {10, 10}, {20, 20}};
    n = qxBorderPolygon(line, 3, 3, out);
    ASSERT_EQ(n, 5);
    EXPECT_EQ(out[2].x, 23 + 3 - 0); // rectangle from -b to b + 20, moved to 0,0
    EXPECT_EQ(out[2].y, 26);
    EXPECT_EQ(qxBorderPolygon(line, 1, 3, out), 0);
}

// Graphics host slot 31: the polyline is drawn at the top-left of the buffer
// after its points were moved there in the caller's array.
TEST(DrawHost, PolylineSlotMovesPointsAndDraws)
{
    qxHostFunc g[64] = {};
    qxInstallDrawHostSlots(g);
    ASSERT_NE(g[31], nullptr);
    auto slot = reinterpret_cast<void (*)(void *, qxPoint *, uint32_t, uint32_t, uint32_t, const qxTagItem *)>(g[31]);
    std::vector<uint32_t> px(16 * 16, 0);
    qxPoint pts[3] = {{105, 50}, {110, 50}, {110, 58}};
    const qxTagItem tags[] = {{2, 16}, {0, 0}};
    slot(px.data(), pts, 3, 0xFF0000, 0, tags);
    EXPECT_EQ(pts[0].x, 0);
    EXPECT_EQ(pts[2].y, 8);
    EXPECT_EQ(px[0] & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(px[5 + 8 * 16] & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(px[1 + 16] & 0xFFFFFF, 0u);
    slot(px.data(), pts, 3, 0xFF0000, 0, nullptr); // no pixels per row: nothing, no crash
    slot(px.data(), pts, 0, 0xFF0000, 0, tags);
}
