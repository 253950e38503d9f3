// Transform matrices, bounds, polygon edge clipping, arcs and mask fills.
#include "display/qx_gfxgeom.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "display/qx_bitmapplanes.h"
#include "imaging/qx_blit.h"

namespace {

// Truncated, except where the product is whole and rounding noise would
// push it below.
int32_t table1024(double v)
{
    double r = std::round(v);
    return std::fabs(v - r) < 1e-9 ? int32_t(r) : int32_t(v);
}

struct Tables {
    std::array<int32_t, 360> sin{}, cos{};
    Tables()
    {
        for (int a = 0; a < 360; ++a) {
            sin[a] = table1024(1024.0 * std::sin(a * M_PI / 180.0));
            cos[a] = table1024(1024.0 * std::cos(a * M_PI / 180.0));
        }
    }
};
const Tables &tables()
{
    static const Tables t;
    return t;
}

bool inside(const qxPoint &p, int32_t value, int32_t side)
{
    switch (side) {
    case 0: return p.x >= value;
    case 1: return p.y >= value;
    case 2: return p.x <= value;
    default: return p.y <= value;
    }
}

int32_t sat(double v) { return v != v ? 0 : int32_t(std::clamp(v, double(INT32_MIN), double(INT32_MAX))); }

} // namespace

extern "C" {

const int32_t *qxSin1024(void) { return tables().sin.data(); }
const int32_t *qxCos1024(void) { return tables().cos.data(); }

void qxInitScale(double m[4]) { m[0] = 1, m[1] = 0, m[2] = 0, m[3] = 1; }

void qxSetupTransform(double m[4], int32_t tw, int32_t th, int32_t sw, int32_t sh, double scaleX, double scaleY,
                      double angle)
{
    bool same = (tw == 0 || tw == sw) && (th == 0 || th == sh);
    if (same || sw == 0 || sh == 0) {
        m[0] = scaleX, m[3] = scaleY;
    } else {
        m[0] = double(tw ? tw : sw) / sw;
        m[3] = double(th ? th : sh) / sh;
    }
    m[1] = m[2] = 0;
    if (angle == 0.0) return;
    double a = (360.0 - std::fmod(angle, 360.0)) * M_PI / 180.0, c = std::cos(a), s = std::sin(a);
    double m0 = m[0] * c - m[1] * s, m1 = m[0] * s + m[1] * c, m2 = m[2] * c - m[3] * s, m3 = m[2] * s + m[3] * c;
    m[0] = m0, m[1] = m1, m[2] = m2, m[3] = m3;
}

void qxComputeTransformBounds(int32_t x, int32_t y, int32_t w, int32_t h, const double m[4], int32_t *outX,
                              int32_t *outY, int32_t *outW, int32_t *outH, double ax, double ay)
{
    const double cx = w * ax, cy = h * ay;
    const double X[4] = {0, w - 1.0, 0, w - 1.0}, Y[4] = {0, 0, h - 1.0, h - 1.0};
    double minX = 100000, minY = 100000, maxX = -100000, maxY = -100000;
    for (int k = 0; k < 4; ++k) {
        double px = (X[k] - cx) * m[0] + (Y[k] - cy) * m[2] + cx;
        double py = (X[k] - cx) * m[1] + (Y[k] - cy) * m[3] + cy;
        minX = std::min(minX, px), maxX = std::max(maxX, px);
        minY = std::min(minY, py), maxY = std::max(maxY, py);
    }
    if (outX) *outX = sat(x + minX);
    if (outY) *outY = sat(y + minY);
    if (outW) *outW = sat(maxX - minX + 1);
    if (outH) *outH = sat(maxY - minY + 1);
}

int32_t qxClipPolygonEdge(int32_t count, qxPoint *pts, qxPoint *out, int32_t value, int32_t side)
{
    if (count < 1 || !pts || !out) return 0;
    pts[count] = pts[0];
    int32_t n = 0;
    for (int32_t i = 0; i < count; ++i) {
        const qxPoint p = pts[i], q = pts[i + 1];
        bool pin = inside(p, value, side), qin = inside(q, value, side);
        if (pin) out[n++] = p;
        if (pin == qin) continue;
        double slope = double(int64_t(q.y) - p.y) / double(int64_t(q.x) - p.x);
        if (side == 0 || side == 2) out[n++] = {value, sat(p.y + std::trunc((double(value) - p.x) * slope))};
        else out[n++] = {sat(p.x + std::trunc((double(value) - p.y) / slope)), value};
    }
    return n;
}

int32_t qxArcPoints(qxPoint *out, int32_t rx, int32_t ry, int32_t start, int32_t end)
{
    if (!out) return 0;
    int32_t n = 0;
    const int32_t *cos1024 = qxCos1024(), *sin1024 = qxSin1024();
    auto point = [&](int32_t a) {
        a %= 360;
        if (a < 0) a += 360;
        return qxPoint{int32_t(rx + int64_t(cos1024[a]) * (2 * int64_t(rx) + 1) / 2048),
                       int32_t(ry + int64_t(sin1024[a]) * (2 * int64_t(ry) + 1) / 2048)};
    };
    out[n++] = point(start);
    for (int64_t a = int64_t(start) + 1; a <= end; ++a) out[n++] = point(int32_t(a));
    if (!(start == 0 && end == 360)) {
        out[n++] = {rx, ry};
        out[n++] = out[0];
    }
    return n;
}

void qxFillMaskPolygon(qxBitMap *mask, const qxPoint *pts, int32_t count, int32_t *scratch)
{
    qxPlane m = qxPlaneOf(mask);
    if (!m.bytes || !pts || !scratch || count < 2) return;
    int32_t minY = INT32_MAX, maxY = INT32_MIN;
    for (int32_t i = 0; i < count; ++i) minY = std::min(minY, pts[i].y), maxY = std::max(maxY, pts[i].y);
    int32_t first = std::max(minY, 0), last = std::min(maxY, m.height - 1);
    for (int32_t y = first; y <= last; ++y) {
        int32_t n = 0;
        for (int32_t i = 0; i < count; ++i) {
            qxPoint a = pts[i], b = pts[(i + 1) % count];
            if (a.y == b.y) continue;
            if (a.y > b.y) std::swap(a, b);
            if (!((y >= a.y && y < b.y) || (y == maxY && b.y == y))) continue;
            float x = float(a.x) + float(y - a.y) * float(b.x - a.x) / float(b.y - a.y);
            scratch[n++] = sat(double(x + 0.5f));
        }
        std::sort(scratch, scratch + n);
        uint8_t *row = m.bytes + int64_t(y) * m.bytesPerRow;
        for (int32_t k = 0; k + 1 < n; k += 2) {
            int32_t x0 = std::max(scratch[k], 0), x1 = std::min(scratch[k + 1], m.width - 1);
            for (int32_t x = x0; x <= x1; ++x) qxSetMaskBit(row, x, true);
        }
    }
}
}
