// Building item buffers in tests and rendering the same shapes with cairo.
#pragma once
#include <cairo.h>

#include <cstring>
#include <vector>

#include "draw/vector/qx_path.h"

struct TestPath {
    qxPathBuffer buf{nullptr, 0, nullptr};
    ~TestPath() { qxPathClear(&buf); }
    void item(uint32_t op, std::initializer_list<qxPathValue> v) { EXPECT_EQ(qxPathAppend(&buf, op, v.begin(), int32_t(v.size())), 0); }
    static qxPathValue u(uint32_t x) { qxPathValue v{0, {}}; v.u32 = x; return v; }
    static qxPathValue d(double x) { qxPathValue v{1, {}}; v.f64 = x; return v; }
    void move(double x, double y, bool rel = false) { item(QX_PATH_MOVETO, {u(rel), d(x), d(y)}); }
    void line(double x, double y, bool rel = false) { item(QX_PATH_LINETO, {u(rel), d(x), d(y)}); }
    void close() { item(QX_PATH_CLOSEPATH, {}); }
    void arc(double xc, double yc, double ra, double rb, double s, double e, bool cw = true)
    {
        item(QX_PATH_ARC, {d(xc), d(yc), d(ra), d(rb), d(s), d(e), u(cw)});
    }
    void box(double x, double y, double w, double h, int32_t level)
    {
        item(QX_PATH_BOX, {d(x), d(y), d(w), d(h), u(uint32_t(level)), u(uint32_t(level)), u(uint32_t(level)), u(uint32_t(level))});
    }
};

// Coverage of a cairo drawing on a w x h A8 surface, rows packed to w bytes.
template <typename F> std::vector<uint8_t> cairoA8(int w, int h, F draw)
{
    cairo_surface_t *s = cairo_image_surface_create(CAIRO_FORMAT_A8, w, h);
    cairo_t *cr = cairo_create(s);
    draw(cr);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    std::vector<uint8_t> out(size_t(w) * h);
    int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < h; y++) std::memcpy(&out[size_t(y) * w], cairo_image_surface_get_data(s) + y * stride, w);
    cairo_surface_destroy(s);
    return out;
}

// Mean and worst absolute difference of two planes.
inline std::pair<double, int> planeDiff(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
    long sum = 0;
    int worst = 0;
    for (size_t i = 0; i < a.size(); i++) {
        int d = std::abs(int(a[i]) - int(b[i]));
        sum += d, worst = std::max(worst, d);
    }
    return {double(sum) / double(a.size()), worst};
}
