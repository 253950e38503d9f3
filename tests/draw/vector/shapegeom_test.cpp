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

} // namespace

TEST_F(Tables, TablesRunCounterClockwiseOnScreen)
{
    EXPECT_EQ(qxCosTable[0], 1.0);
    EXPECT_NEAR(qxCosTable[90], 0.0, 1e-12);
    EXPECT_NEAR(qxSinTable[90], -1.0, 1e-12); // 90 degrees points up: y grows downwards
    EXPECT_NEAR(qxCosTable[180], -1.0, 1e-12);
}

// Steps, sweeps and placement are checked through the draw commands
// (draw_geometry.qxs); here only what no script reaches.
TEST_F(Tables, HugeAnglesEndAndEqualAnglesGiveTwoPoints)
{
    std::vector<QxPointD> p(kQxArcPointsMax);
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

// The mitred border is drawn by draw_geometry.qxs; a polygon on one line gets a rectangle.
TEST_F(Tables, StraightBorderPolygonIsARectangle)
{
    qxPoint out[5];
    int32_t n = 0, x = 0, y = 0;
    const qxPoint line[3] = {{0, 0}, {10, 10}, {20, 20}};
    n = qxBorderPolygon(line, 3, 3, out, &x, &y);
    ASSERT_EQ(n, 5);
    EXPECT_EQ(out[2].x, 23 + 3 - 0); // rectangle from -b to b + 20, moved to 0,0
    EXPECT_EQ(out[2].y, 26);
    EXPECT_EQ(x, -3); // where the rectangle's corner lay before the move
    EXPECT_EQ(y, -3);
    EXPECT_EQ(qxBorderPolygon(line, 1, 3, out, &x, &y), 0);
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
