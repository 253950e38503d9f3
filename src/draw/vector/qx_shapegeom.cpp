#include "draw/vector/qx_shapegeom.h"

#include <algorithm>
#include <cmath>
#include <vector>

double qxCosTable[361];
double qxSinTable[361];

namespace {

constexpr double kDegToRad = 0.017453292519943295;

// A double that fits the 16.16 and int32 arithmetic below, whatever the script passed.
inline int64_t fixedRound(double v)
{
    if (!(v == v)) return 0;
    return std::llrint(std::clamp(v, -70368744177664.0, 70368744177664.0)); // 2^46
}

inline int32_t truncClamp(double v)
{
    if (!(v == v)) return 0;
    return int32_t(std::clamp(v, -2147483648.0, 2147483647.0));
}

inline int tableIndex(int64_t a) { return int(((a % 360) + 360) % 360); }

} // namespace

// Made at the first use rather than at every start: most applets never
// draw a curve. Callers on other threads wait for the first to finish.
void qxInitRotationPresets(void)
{
    static const bool made = [] {
        for (int i = 1; i <= 360; i++) {
            double r = (360 - i) * kDegToRad;
            qxCosTable[i] = std::cos(r);
            qxSinTable[i] = std::sin(r);
        }
        qxCosTable[0] = 1.0;
        qxSinTable[0] = -2.4492935982947064e-16;
        return true;
    }();
    (void)made;
}

// Nothing of the geometry outlives a shape: its buffers are the caller's.
void qxFreeDrawBuffers(void) {}

void qxRotatePointAbout(int32_t x, int32_t y, int32_t width, int32_t height, const double m[4], int32_t *outX,
                        int32_t *outY, double anchorX, double anchorY)
{
    int32_t ox = truncClamp(width * anchorX), oy = truncClamp(height * anchorY);
    double dx = double(x) - ox, dy = double(y) - oy;
    *outX = truncClamp(double(truncClamp(m[0] * dx + m[2] * dy)) + ox);
    *outY = truncClamp(double(truncClamp(m[1] * dx + m[3] * dy)) + oy);
}

namespace {

void measure(const qxPoint *p, int32_t count, int32_t *x, int32_t *y, int32_t *w, int32_t *h)
{
    int32_t minX = 100000, minY = 100000, maxX = -100000, maxY = -100000;
    for (int32_t i = 0; i < count; i++) {
        minX = std::min(minX, p[i].x), maxX = std::max(maxX, p[i].x);
        minY = std::min(minY, p[i].y), maxY = std::max(maxY, p[i].y);
    }
    if (x) *x = minX;
    if (y) *y = minY;
    if (w) *w = truncClamp(double(maxX) - minX + 1);
    if (h) *h = truncClamp(double(maxY) - minY + 1);
}

void moveBy(qxPoint *p, int32_t count, int32_t dx, int32_t dy)
{
    for (int32_t i = 0; i < count; i++)
        p[i].x = truncClamp(double(p[i].x) - dx), p[i].y = truncClamp(double(p[i].y) - dy);
}

} // namespace

void qxShapeBounds(const double m[4], int32_t width, int32_t height, qxPoint *points, int32_t count, int moveTo00,
                   int32_t *outX, int32_t *outY, int32_t *outW, int32_t *outH, double anchorX, double anchorY)
{
    if (!points || count < 0) count = 0;
    for (int32_t i = 0; i < count; i++)
        qxRotatePointAbout(points[i].x, points[i].y, width, height, m, &points[i].x, &points[i].y, anchorX, anchorY);
    int32_t x = 0, y = 0;
    measure(points, count, &x, &y, outW, outH);
    if (outX) *outX = x;
    if (outY) *outY = y;
    if (moveTo00) moveBy(points, count, x, y);
}

void qxNormalizePoints(qxPoint *points, int32_t count, int32_t *outX, int32_t *outY, int32_t *outW, int32_t *outH)
{
    if (!points || count < 0) count = 0;
    int32_t x = 0, y = 0;
    measure(points, count, &x, &y, outW, outH);
    if (outX) *outX = x;
    if (outY) *outY = y;
    moveBy(points, count, x, y);
}

// Directions run clockwise from north: 0 N, 1 NE, 2 E, 3 SE, 4 S, 5 SW, 6 W, 7 NW.
void qxShadowOffsets(int32_t size, int32_t d, int32_t *left, int32_t *top, int32_t *right, int32_t *bottom)
{
    *left = d >= 5 && d <= 7 ? size : 0;
    *top = d == 0 || d == 1 || d == 7 ? size : 0;
    *right = d >= 1 && d <= 3 ? size : 0;
    *bottom = d >= 3 && d <= 5 ? size : 0;
}

void qxGrowByShadow(int32_t d, int32_t size, int32_t *width, int32_t *height)
{
    if (d != 0 && d != 4) *width = truncClamp(double(*width) + size);
    if (d != 2 && d != 6) *height = truncClamp(double(*height) + size);
}

int32_t qxShapeArcPoints(QxPointD *out, double cx, double cy, double rx, double ry, int32_t start, int32_t end,
                         const double m[4], bool addCentre, bool boxFirst, double anchorX, double anchorY)
{
    double r = std::max(rx, ry);
    int step = r <= 2 ? 90 : r <= 9 ? 30 : r <= 14 ? 18 : 5;
    int64_t s = start, e = end;
    if (s > e) std::swap(s, e);
    if (s < 0) {
        int64_t k = (-s + 359) / 360 * 360;
        s += k, e += k;
    }
    if (e > 360) {
        int64_t k = (e - 360 + 359) / 360 * 360;
        s -= k, e -= k;
    }
    if (e - s > 360) s = 0, e = 360;
    qxInitRotationPresets();
    auto point = [&](int64_t a) {
        int i = tableIndex(a);
        double c = qxCosTable[i], sn = qxSinTable[i];
        int64_t X = fixedRound(cx * 65536 + m[0] * rx * 65536 * c + m[2] * ry * 65536 * sn) >> 16;
        int64_t Y = fixedRound(cy * 65536 + m[1] * rx * 65536 * c + m[3] * ry * 65536 * sn) >> 16;
        return QxPointD{double(X), double(Y)};
    };
    int32_t n = 0;
    if (boxFirst) {
        double minX = 100000, minY = 100000, maxX = -100000, maxY = -100000;
        for (int a = 0; a < 360; a += step) {
            QxPointD p = point(a);
            minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
            minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
        }
        out[n++] = {minX, minY};
        out[n++] = {maxX, maxY};
    }
    int32_t first = n;
    for (int64_t a = s; a < e + step; a += step) {
        QxPointD p = point(std::min(a, e));
        if (n > first && out[n - 1].x == p.x && out[n - 1].y == p.y) continue;
        out[n++] = p;
    }
    if (addCentre && e - s < 360) out[n++] = {cx, cy};
    if (n - first == 1) out[n] = out[n - 1], n++;
    // Move everything so that the shape turns about the anchor rather than the box middle.
    int32_t w = truncClamp(2 * rx + 1), h = truncClamp(2 * ry + 1);
    int32_t ax = 0, ay = 0, mx = 0, my = 0;
    qxRotatePointAbout(truncClamp(cx), truncClamp(cy), w, h, m, &ax, &ay, anchorX, anchorY);
    qxRotatePointAbout(truncClamp(cx), truncClamp(cy), w, h, m, &mx, &my, 0.5, 0.5);
    double dx = double(ax) - mx, dy = double(ay) - my;
    for (int32_t i = 0; i < n; i++) out[i].x += dx, out[i].y += dy;
    return n;
}

int32_t qxBorderPolygon(const qxPoint *in, int32_t count, int32_t border, qxPoint *out, int32_t *outX, int32_t *outY)
{
    if (outX) *outX = 0;
    if (outY) *outY = 0;
    if (!in || !out || count < 2) return 0;
    double area = 0;
    for (int32_t i = 0; i < count; i++) {
        const qxPoint &a = in[i], &b = in[(i + 1) % count];
        area += double(a.x) * b.y - double(b.x) * a.y;
    }
    const int orientation = area > 0 ? 1 : -1;
    // Without closing and repeated points, and with straight horizontal or vertical runs cut to their ends.
    std::vector<qxPoint> v;
    v.reserve(size_t(count));
    for (int32_t i = 0; i < count; i++)
        if (v.empty() || v.back().x != in[i].x || v.back().y != in[i].y) v.push_back(in[i]);
    while (v.size() > 1 && v.back().x == v.front().x && v.back().y == v.front().y) v.pop_back();
    for (bool changed = true; changed && v.size() > 2;) {
        changed = false;
        for (size_t i = 0; i < v.size() && v.size() > 2; i++) {
            const qxPoint &p = v[(i + v.size() - 1) % v.size()], &q = v[i], &n = v[(i + 1) % v.size()];
            if ((p.x == q.x && q.x == n.x) || (p.y == q.y && q.y == n.y)) {
                v.erase(v.begin() + long(i));
                changed = true;
                break;
            }
        }
    }
    int32_t minX = 100000, minY = 100000, maxX = -100000, maxY = -100000;
    for (int32_t i = 0; i < count; i++) {
        minX = std::min(minX, in[i].x), maxX = std::max(maxX, in[i].x);
        minY = std::min(minY, in[i].y), maxY = std::max(maxY, in[i].y);
    }
    const double b = border;
    std::vector<QxPointD> res;
    bool straight = v.size() < 3;
    for (size_t i = 0; i < v.size() && !straight; i++) {
        const qxPoint &q = v[i], &p = v[(i + v.size() - 1) % v.size()], &n = v[(i + 1) % v.size()];
        double d1x = double(q.x) - p.x, d1y = double(q.y) - p.y, d2x = double(q.x) - n.x, d2y = double(q.y) - n.y;
        double l1 = std::hypot(d1x, d1y), l2 = std::hypot(d2x, d2y);
        d1x /= l1, d1y /= l1, d2x /= l2, d2y /= l2;
        double cross = d1x * d2y - d1y * d2x, dot = d1x * d2x + d1y * d2y;
        if (std::fabs(cross) < 0.001) {
            straight = true;
            break;
        }
        double sign = orientation < 0 ? (cross > 0 ? 1 : -1) : (cross < 0 ? 1 : -1);
        double k = sign * b / std::sqrt(1 - dot * dot);
        res.push_back({q.x + (d1x + d2x) * k, q.y + (d1y + d2y) * k});
    }
    int32_t n = 0;
    if (straight) {
        double W = b + (double(maxX) - minX), H = b + (double(maxY) - minY);
        const QxPointD rect[5] = {{-b, -b}, {W, -b}, {W, H}, {-b, H}, {-b, -b}};
        for (const QxPointD &p : rect) out[n++] = {truncClamp(std::rint(p.x)), truncClamp(std::rint(p.y))};
    } else {
        for (const QxPointD &p : res) out[n++] = {truncClamp(std::rint(p.x)), truncClamp(std::rint(p.y))};
        out[n++] = out[0];
    }
    int32_t x = 0, y = 0;
    measure(out, n, &x, &y, nullptr, nullptr);
    moveBy(out, n, x, y);
    if (outX) *outX = x;
    if (outY) *outY = y;
    return n;
}
