#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/plugins/qx_pluginapi.h"
#include "draw/qx_vectorengines.h"
#include "draw/vector/qx_ftengine.h"
#include "draw/vector/qx_path.h"
#include "vector_peers.h"

namespace {

const double kIdentity[4] = {1, 0, 0, 1};

qxEngineState state(uint32_t join = 0, uint32_t cap = 0, uint32_t rule = 0, double miter = 10)
{
    qxEngineState s{};
    s.lineJoin = join, s.lineCap = cap, s.fillRule = rule, s.antialias = 1, s.miterLimit = miter;
    return s;
}

qxPathExtentsRequest extents(const TestPath &p, const qxEngineState &s, bool fill, uint32_t width)
{
    qxPathExtentsRequest r{};
    r.items = p.buf.items, r.state = &s, r.fill = fill, r.lineWidth = width, r.matrix = kIdentity;
    qxFtGetPathExtents(&r);
    return r;
}

// Draws the path and cairo's rendering of the same geometry, both with their extents at 0,0.
template <typename F>
std::pair<double, int> compareWithCairo(const TestPath &p, const qxEngineState &s, bool fill, uint32_t width, F cairoPath)
{
    qxPathExtentsRequest e = extents(p, s, fill, width);
    // The engine keeps the path on the pixel grid: the plane starts at the whole pixel of the extents.
    const double x0 = std::floor(e.x1), y0 = std::floor(e.y1);
    const int w = int(std::ceil(e.x2 - x0)) + 1, h = int(std::ceil(e.y2 - y0)) + 1;
    std::vector<uint8_t> ours(size_t(w) * h);
    qxPathDrawRequest d{};
    d.items = p.buf.items, d.state = &s, d.fill = fill, d.lineWidth = width, d.target = ours.data();
    d.stride = uint32_t(w), d.width = uint32_t(w), d.height = uint32_t(h), d.matrix = kIdentity;
    EXPECT_EQ(qxFtDrawPath(&d), 1);
    std::vector<uint8_t> ref = cairoA8(w, h, [&](cairo_t *cr) {
        cairo_translate(cr, -x0, -y0);
        cairoPath(cr);
        cairo_set_fill_rule(cr, s.fillRule ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
        if (fill) {
            cairo_fill(cr);
            return;
        }
        cairo_set_line_width(cr, width);
        cairo_set_line_cap(cr, s.lineCap == 1 ? CAIRO_LINE_CAP_ROUND : s.lineCap == 2 ? CAIRO_LINE_CAP_SQUARE : CAIRO_LINE_CAP_BUTT);
        cairo_set_line_join(cr, s.lineJoin == 1 ? CAIRO_LINE_JOIN_ROUND : s.lineJoin == 2 ? CAIRO_LINE_JOIN_BEVEL : CAIRO_LINE_JOIN_MITER);
        cairo_set_miter_limit(cr, s.miterLimit);
        cairo_stroke(cr);
    });
    return planeDiff(ours, ref);
}

// A full ellipse as the engine builds it: two cubics of half a turn each.
void halfTurns(cairo_t *cr, double xc, double yc, double ra, double rb)
{
    const double h = 4.0 / 3.0;
    cairo_move_to(cr, xc + ra, yc);
    cairo_curve_to(cr, xc + ra, yc + h * rb, xc - ra, yc + h * rb, xc - ra, yc);
    cairo_curve_to(cr, xc - ra, yc - h * rb, xc + ra, yc - h * rb, xc + ra, yc);
}

} // namespace

TEST(VectorPath, ItemBufferLayoutAndGrowth)
{
    TestPath p;
    p.move(1, 2);
    EXPECT_EQ(p.buf.capacity, 1024);
    EXPECT_EQ(p.buf.write - p.buf.items, 24);
    uint32_t end = 1;
    std::memcpy(&end, p.buf.write, 4);
    EXPECT_EQ(end, 0u);
    while (1024 - (p.buf.write - p.buf.items) >= 128) p.line(3, 4);
    EXPECT_EQ(p.buf.capacity, 1024); // the appends so far all found 128 free bytes
    p.line(5, 6);
    EXPECT_EQ(p.buf.capacity, 2048);

    TestPath t;
    qxPathValue text[3] = {{3, {}}, {0, {}}, {2, {}}};
    text[0].u64 = 7, text[1].u32 = 12, text[2].string = "abc";
    ASSERT_EQ(qxPathAppend(&t.buf, QX_PATH_TEXT, text, 3), 0);
    EXPECT_EQ(t.buf.write - t.buf.items, 24);
    EXPECT_EQ(qxPathItemSize(t.buf.items), 24u);
    text[2].string = "ab";
    ASSERT_EQ(qxPathAppend(&t.buf, QX_PATH_TEXT, text, 3), 0);
    EXPECT_EQ(t.buf.write - t.buf.items, 44);
}

TEST(VectorEngine, ExtentsTranslateAndCurrentPoint)
{
    const qxEngineState s = state();
    TestPath e;
    e.arc(100, 100, 50, 25, 0, 360);
    e.close();
    qxPathExtentsRequest r = extents(e, s, true, 1);
    EXPECT_NEAR(r.x1, 50, 0.05);
    EXPECT_NEAR(r.x2, 150, 0.05);
    EXPECT_NEAR(r.y1, 75, 0.05);
    EXPECT_NEAR(r.y2, 125, 0.05);

    TestPath b;
    b.box(10, 20, 40, 20, 100);
    qxPathTranslateRequest t{b.buf.items, 0, 5, -5};
    qxFtTranslatePath(&t);
    r = extents(b, s, true, 1);
    EXPECT_NEAR(r.x1, 15, 0.05);
    EXPECT_NEAR(r.y2, 35, 0.05);

    TestPath l;
    l.move(10, 10);
    l.line(20, 0, true);
    l.line(0, 30, true);
    double x = 0, y = 0;
    qxFtGetCurrentPoint(l.buf.items, &s, &x, &y);
    EXPECT_EQ(x, 30);
    EXPECT_EQ(y, 40);
    l.close();
    qxFtGetCurrentPoint(l.buf.items, &s, &x, &y);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 10);
    t = {l.buf.items, 0, 100, 100}; // relative items stay
    qxFtTranslatePath(&t);
    qxFtGetCurrentPoint(l.buf.items, &s, &x, &y);
    EXPECT_EQ(x, 110);
}

TEST(VectorEngine, FillsMatchCairo)
{
    for (uint32_t rule : {0u, 1u}) {
        const qxEngineState s = state(0, 0, rule);
        TestPath p;
        p.arc(40, 40, 30, 20, 0, 360);
        p.close();
        p.move(10, 10); // a star crossing itself: the fill rules differ in its middle
        for (int i = 1; i < 5; i++) p.line(40 + 30 * std::cos(i * 4 * M_PI / 5), 40 + 30 * std::sin(i * 4 * M_PI / 5));
        p.close();
        auto [mean, worst] = compareWithCairo(p, s, true, 1, [](cairo_t *cr) {
            halfTurns(cr, 40, 40, 30, 20);
            cairo_close_path(cr);
            cairo_move_to(cr, 10, 10);
            for (int i = 1; i < 5; i++)
                cairo_line_to(cr, 40 + 30 * std::cos(i * 4 * M_PI / 5), 40 + 30 * std::sin(i * 4 * M_PI / 5));
            cairo_close_path(cr);
        });
        EXPECT_LT(mean, 1.5) << "rule " << rule;
        EXPECT_LE(worst, 96) << "rule " << rule; // cairo samples A8 coverage on a grid: star tips differ most
    }
    // Without ClosePath a circle encloses nothing.
    TestPath open;
    open.arc(20, 20, 10, 10, 0, 360);
    const qxEngineState s = state();
    std::vector<uint8_t> plane(40 * 40);
    qxPathDrawRequest d{};
    d.items = open.buf.items, d.state = &s, d.fill = 1, d.lineWidth = 1, d.target = plane.data();
    d.stride = d.width = d.height = 40, d.matrix = kIdentity;
    qxFtDrawPath(&d);
    EXPECT_EQ(*std::max_element(plane.begin(), plane.end()), 0);
    d.fill = 0, d.lineWidth = 3;
    qxFtDrawPath(&d);
    EXPECT_EQ(*std::max_element(plane.begin(), plane.end()), 255);
}

// Every cap and join on an open zigzag and a closed triangle.
TEST(VectorEngine, StrokesMatchCairo)
{
    for (uint32_t cap = 0; cap < 3; cap++)
        for (uint32_t join = 0; join < 3; join++) {
            const qxEngineState s = state(join, cap);
            TestPath p;
            p.move(10, 50);
            p.line(40, 10);
            p.line(70, 50);
            p.line(100, 20);
            auto [mean, worst] = compareWithCairo(p, s, false, 8, [](cairo_t *cr) {
                cairo_move_to(cr, 10, 50);
                cairo_line_to(cr, 40, 10);
                cairo_line_to(cr, 70, 50);
                cairo_line_to(cr, 100, 20);
            });
            EXPECT_LT(mean, 2.0) << "cap " << cap << " join " << join;
            TestPath t;
            t.move(10, 10);
            t.line(90, 20);
            t.line(30, 70);
            t.close();
            std::tie(mean, worst) = compareWithCairo(t, s, false, 6, [](cairo_t *cr) {
                cairo_move_to(cr, 10, 10);
                cairo_line_to(cr, 90, 20);
                cairo_line_to(cr, 30, 70);
                cairo_close_path(cr);
            });
            EXPECT_LT(mean, 2.0) << "closed, cap " << cap << " join " << join;
        }
}

TEST(VectorEngine, BadInputDrawsNothing)
{
    const qxEngineState s = state();
    TestPath p;
    p.move(NAN, 3);
    p.line(1e300, -1e300);
    p.arc(0, 0, 1e308, 5, -1e300, 1e300);
    std::vector<uint8_t> plane(16 * 16);
    qxPathDrawRequest d{};
    d.items = p.buf.items, d.state = &s, d.fill = 1, d.lineWidth = 3, d.target = plane.data();
    d.stride = d.width = d.height = 16, d.matrix = kIdentity;
    EXPECT_EQ(qxFtDrawPath(&d), 0);
    TestPath h;
    h.move(-1e300, -1e300);
    h.line(1e300, 1e250);
    h.line(0, 1e300);
    h.arc(0, 0, 1e30, 1e30, -1e300, 1e300, false);
    d.items = h.buf.items, d.fill = 0, d.lineWidth = 0xFFFFFFFF;
    qxFtDrawPath(&d); // any result, no crash
    d.stride = 3;     // narrower than a row
    EXPECT_EQ(qxFtDrawPath(&d), 0);
    // An engine plug-in of ABI kind 2 is called through stubs: nothing drawn or measured.
    qxPluginInfo info{};
    info.abiKind = 2;
    const qxVectorEngine *k2 = qxPluginVectorEngine(&info, "k2.qxp");
    d.items = p.buf.items, d.stride = 16;
    qxPathExtentsRequest e = extents(p, s, true, 1);
    e.x2 = 7;
    k2->GetPathExtents(&e);
    EXPECT_TRUE(k2->DrawPath(&d) == 0 && e.x2 == 7 && std::string(qxVectorEngineName(k2)) == "k2.qxp");
}

// Without anti-aliasing the plane holds only 0 and 255; a stroke is half its width on each side.
TEST(VectorEngine, HardEdgesAndStrokeWidth)
{
    qxEngineState s = state();
    s.antialias = 0;
    TestPath p;
    p.box(0, 0, 10, 6, 0);
    std::vector<uint8_t> plane(16 * 8);
    qxPathDrawRequest d{};
    d.items = p.buf.items, d.state = &s, d.fill = 1, d.lineWidth = 1, d.target = plane.data();
    d.stride = 16, d.width = 12, d.height = 8, d.matrix = kIdentity;
    ASSERT_EQ(qxFtDrawPath(&d), 1);
    int on = 0;
    for (uint8_t v : plane) {
        EXPECT_TRUE(v == 0 || v == 255);
        on += v == 255;
    }
    EXPECT_EQ(on, 60);

    TestPath l;
    l.move(0, 10);
    l.line(20, 10);
    qxPathExtentsRequest r = extents(l, state(), false, 3);
    EXPECT_NEAR(r.y1, 8.5, 0.02);
    EXPECT_NEAR(r.y2, 11.5, 0.02);
    EXPECT_NEAR(r.x1, 0, 0.02);
    r = extents(l, state(0, 2), false, 3); // square caps reach out by half the width
    EXPECT_NEAR(r.x1, -1.5, 0.02);
}
