// Distortion fits and resampling.
#include "imaging/qx_distort.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr double kEps = 1e-6, kTwoPi = 6.283185307179586, kDeg = 0.017453292519943295;

// Gauss-Jordan elimination with full pivoting on n x n; false when singular.
bool solve(double a[8][8], double b[8], int n)
{
    int row[8], col[8];
    bool used[8] = {};
    for (int k = 0; k < n; ++k) {
        double best = 0;
        int pr = -1, pc = -1;
        for (int r = 0; r < n; ++r)
            if (!used[r])
                for (int c = 0; c < n; ++c)
                    if (!used[c] && std::fabs(a[r][c]) > best) best = std::fabs(a[r][c]), pr = r, pc = c;
        if (pr < 0 || !(best > 1e-300)) return false;
        used[pc] = true;
        if (pr != pc) {
            std::swap(a[pr], a[pc]);
            std::swap(b[pr], b[pc]);
        }
        row[k] = pr, col[k] = pc;
        double inv = 1 / a[pc][pc];
        a[pc][pc] = 1;
        for (int c = 0; c < n; ++c) a[pc][c] *= inv;
        b[pc] *= inv;
        for (int r = 0; r < n; ++r)
            if (r != pc) {
                double f = a[r][pc];
                a[r][pc] = 0;
                for (int c = 0; c < n; ++c) a[r][c] -= a[pc][c] * f;
                b[r] -= b[pc] * f;
            }
    }
    (void)row, (void)col;
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(b[i])) return false;
    return true;
}

struct Bounds {
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    void add(double x, double y) { x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y); }
};

// Origin and size from the bounds; false when they are not finite. An
// output too large to allocate is left at size 0 so that the caller can
// report the allocation failure rather than a bad fit.
bool setGeometry(qxDistortRequest *r, const Bounds &b)
{
    if (!std::isfinite(b.x0) || !std::isfinite(b.x1) || !std::isfinite(b.y0) || !std::isfinite(b.y1)) return false;
    double xo = std::floor(b.x0 - 0.5), yo = std::floor(b.y0 - 0.5);
    double w = std::ceil(0.5 + b.x1 - xo), h = std::ceil(0.5 + b.y1 - yo);
    if (!(w >= 1 && h >= 1 && w <= 16384 && h <= 16384 && w * h <= double(1 << 26)) || std::fabs(xo) > 1e9 ||
        std::fabs(yo) > 1e9) {
        r->xOrigin = 0, r->yOrigin = 0, r->outputWidth = 0, r->outputHeight = 0;
        return true;
    }
    r->xOrigin = int32_t(xo), r->yOrigin = int32_t(yo), r->outputWidth = int32_t(w), r->outputHeight = int32_t(h);
    return true;
}

bool fitPerspective(qxDistortRequest *r)
{
    if (r->argumentCount != 16) return false;
    double a[8][8] = {}, b[8] = {};
    const double *p = r->arguments;
    for (int k = 0; k < 4; ++k) {
        double x = p[4 * k], y = p[4 * k + 1], u = p[4 * k + 2], v = p[4 * k + 3];
        const double rows[2][8] = {{u, v, 1, 0, 0, 0, -u * x, -v * x}, {0, 0, 0, u, v, 1, -u * y, -v * y}};
        const double val[2] = {x, y};
        for (int t = 0; t < 2; ++t)
            for (int i = 0; i < 8; ++i) {
                for (int j = 0; j < 8; ++j) a[i][j] += rows[t][i] * rows[t][j];
                b[i] += rows[t][i] * val[t];
            }
    }
    if (!solve(a, b, 8)) return false;
    double *c = r->coefficients;
    for (int i = 0; i < 8; ++i) c[i] = b[i];
    c[8] = c[6] * p[2] + c[7] * p[3] + 1 < 0 ? -1 : 1;
    // The forward mapping is the inverse of [c0 c1 c2; c3 c4 c5; c6 c7 1].
    double m[9] = {c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], 1};
    double f[9] = {m[4] * m[8] - m[5] * m[7], m[2] * m[7] - m[1] * m[8], m[1] * m[5] - m[2] * m[4],
                   m[5] * m[6] - m[3] * m[8], m[0] * m[8] - m[2] * m[6], m[2] * m[3] - m[0] * m[5],
                   m[3] * m[7] - m[4] * m[6], m[1] * m[6] - m[0] * m[7], m[0] * m[4] - m[1] * m[3]};
    double det = m[0] * f[0] + m[1] * f[3] + m[2] * f[6];
    if (!(std::fabs(det) > 0)) return false;
    for (double &v : f) v /= det;
    Bounds bd;
    double w = r->sourceWidth, h = r->sourceHeight;
    for (auto [x, y] : {std::pair{0.0, 0.0}, {w, 0.0}, {0.0, h}, {w, h}}) {
        double d = f[6] * x + f[7] * y + f[8];
        if (std::fabs(d) <= kEps) d = 1;
        bd.add((f[0] * x + f[1] * y + f[2]) / d, (f[3] * x + f[4] * y + f[5]) / d);
    }
    r->coefficients[9] = 0;
    return setGeometry(r, bd);
}

bool fitArc(qxDistortRequest *r)
{
    const double *a = r->arguments;
    uint32_t n = r->argumentCount;
    if (n > 4) return false;
    double *c = r->coefficients, w = r->sourceWidth, h = r->sourceHeight;
    double arc = (n >= 1 ? a[0] : 90) * kDeg, rot = n >= 2 ? a[1] : 0;
    if (!(arc >= kEps) || !std::isfinite(arc) || !std::isfinite(rot)) return false;
    double c0 = -90 + rot;
    c0 -= 360 * std::round(c0 / 360);
    c[0] = c0 * kDeg, c[1] = arc, c[3] = h - 1, c[2] = w / c[1] + c[3] / 2;
    if (n >= 3) {
        double top = a[2];
        if (!(top >= kEps) || !std::isfinite(top)) return false;
        if (n == 3) c[3] = c[3] * top / c[2];
        else {
            if (!std::isfinite(a[3])) return false;
            c[3] = top - a[3];
        }
        c[2] = top;
    }
    c[4] = (w - 1) / 2;
    Bounds b;
    double start = c[0] - c[1] / 2, end = c[0] + c[1] / 2;
    auto both = [&](double ang) {
        b.add((c[2] - c[3]) * std::cos(ang), (c[2] - c[3]) * std::sin(ang));
        b.add(c[2] * std::cos(ang), c[2] * std::sin(ang));
    };
    both(start), both(end);
    for (double q = std::ceil(start / (kTwoPi / 4)) * (kTwoPi / 4); q < end; q += kTwoPi / 4) both(q);
    if (!setGeometry(r, b) || c[3] == 0) return false;
    // Pixels per turn: the source width spans the arc.
    c[1] = w * kTwoPi / c[1];
    c[3] = h / c[3];
    return true;
}

bool fitPolar(qxDistortRequest *r)
{
    const double *a = r->arguments;
    uint32_t n = r->argumentCount;
    if (n == 3 || n > 6) return false;
    for (uint32_t i = 0; i < n; ++i)
        if (!std::isfinite(a[i])) return false;
    double *c = r->coefficients, w = r->sourceWidth, h = r->sourceHeight;
    c[0] = n >= 1 ? a[0] : 0, c[1] = n >= 2 ? a[1] : 0;
    c[2] = n >= 4 ? a[2] : w / 2, c[3] = n >= 4 ? a[3] : h / 2;
    c[4] = (n >= 5 ? a[4] : -180) * kDeg, c[5] = n >= 6 ? a[5] * kDeg : c[4];
    if (std::fabs(c[5] - c[4]) < kEps) c[5] = c[4] + kTwoPi;
    if (c[0] == 0) c[0] = std::min({c[2], c[3], w - c[2], h - c[3]});
    else if (c[0] == -1)
        c[0] = std::max({std::hypot(c[2], c[3]), std::hypot(w - c[2], c[3]), std::hypot(c[2], h - c[3]),
                         std::hypot(w - c[2], h - c[3])});
    if (!(c[0] >= kEps) || c[1] < -kEps || !(c[0] - c[1] >= kEps)) return false;
    c[6] = w / (c[5] - c[4]), c[7] = h / (c[0] - c[1]);
    Bounds b;
    b.add(c[2] - c[0], c[3] - c[0]), b.add(c[2] + c[0], c[3] + c[0]);
    return setGeometry(r, b);
}

bool fitBarrel(qxDistortRequest *r)
{
    const double *a = r->arguments;
    uint32_t n = r->argumentCount;
    if (n != 3 && n != 4 && n != 5 && n != 6 && n != 8 && n != 10) return false;
    for (uint32_t i = 0; i < n; ++i)
        if (!std::isfinite(a[i])) return false;
    double *c = r->coefficients, w = r->sourceWidth, h = r->sourceHeight, rr = 2 / std::min(w, h);
    auto terms = [&](const double *t, bool withD, double *out) {
        out[0] = t[0] * rr * rr * rr, out[1] = t[1] * rr * rr, out[2] = t[2] * rr;
        out[3] = withD ? t[3] : 1 - t[0] - t[1] - t[2];
    };
    bool withD = n == 4 || n == 6 || n >= 8;
    terms(a, withD, c);
    if (n >= 8) terms(a + 4, true, c + 4);
    else std::copy(c, c + 4, c + 4);
    c[8] = (w - 1) / 2, c[9] = (h - 1) / 2;
    if (n == 5 || n == 6 || n == 10) c[8] = a[n - 2], c[9] = a[n - 1];
    r->xOrigin = 0, r->yOrigin = 0, r->outputWidth = r->sourceWidth, r->outputHeight = r->sourceHeight;
    return true;
}

// The source point of output point (x, y) and the partial derivatives of
// (s, t); false when the point has no source (perspective beyond the
// horizon).
// validity: how much of the pixel lies on the picture's side of a
// perspective's horizon (1 away from it).
bool mapPoint(const qxDistortRequest *r, double x, double y, double &s, double &t, double d[4], double &validity)
{
    const double *c = r->coefficients;
    d[0] = 1, d[1] = 0, d[2] = 0, d[3] = 1;
    validity = 1;
    switch (r->method) {
    case QX_DISTORT_PERSPECTIVE: {
        double w = c[6] * x + c[7] * y + 1;
        // w changes by c6 or c7 per pixel: within half of the larger of them
        // the horizon crosses the pixel, which is then partly valid.
        const double step = std::max(std::fabs(c[6]), std::fabs(c[7]));
        if (2 * std::fabs(w) < step) validity = 0.5 + c[8] * w / step;
        else if (!(c[8] * w >= 0)) return false;
        if (w == 0) return false;
        s = (c[0] * x + c[1] * y + c[2]) / w, t = (c[3] * x + c[4] * y + c[5]) / w;
        d[0] = (c[0] - c[6] * s) / w, d[1] = (c[1] - c[7] * s) / w;
        d[2] = (c[3] - c[6] * t) / w, d[3] = (c[4] - c[7] * t) / w;
        return true;
    }
    case QX_DISTORT_ARC: {
        double a = (std::atan2(y, x) - c[0]) / kTwoPi;
        a -= std::round(a);
        double rad = std::hypot(x, y);
        s = c[1] * a + c[4] + 0.5, t = (c[2] - rad) * c[3];
        d[0] = rad > kEps ? c[1] / (kTwoPi * rad) : 2.0 * r->sourceWidth, d[1] = 0, d[2] = 0, d[3] = c[3];
        return true;
    }
    case QX_DISTORT_POLAR: {
        double a = (std::atan2(x - c[2], y - c[3]) - (c[4] + c[5]) / 2) / kTwoPi;
        a -= std::round(a);
        double rad = std::hypot(x - c[2], y - c[3]);
        s = a * kTwoPi * c[6] + r->sourceWidth / 2.0, t = (rad - c[1]) * c[7];
        d[0] = rad > kEps ? c[6] / (kTwoPi * rad) : 2.0 * r->sourceWidth, d[1] = 0, d[2] = 0, d[3] = c[7];
        return true;
    }
    default: {
        double dx = x - c[8], dy = y - c[9], rad = std::sqrt(dx * dx + dy * dy);
        if (rad <= kEps) {
            s = c[8], t = c[9];
            return true;
        }
        double fx = ((c[0] * rad + c[1]) * rad + c[2]) * rad + c[3], fy = ((c[4] * rad + c[5]) * rad + c[6]) * rad + c[7];
        double gx = (3 * c[0] * rad + 2 * c[1]) * rad + c[2], gy = (3 * c[4] * rad + 2 * c[5]) * rad + c[6];
        s = fx * dx + c[8], t = fy * dy + c[9];
        d[0] = fx + dx * gx * dx / rad, d[1] = dx * gx * dy / rad;
        d[2] = dy * gy * dx / rad, d[3] = fy + dy * gy * dy / rad;
        return true;
    }
    }
}

uint8_t channel(double v)
{
    if (!(v > 0)) return 0;
    if (v >= 255) return 255;
    return uint8_t(v + 0.5);
}

const double *weights()
{
    static double table[1024];
    static bool made = [] {
        for (int i = 0; i < 1024; ++i) table[i] = std::exp(-i * 4 * std::log(2.0) / 1024);
        return true;
    }();
    (void)made;
    return table;
}

// 2 x 2 bilinear around (s, t), colours weighted by alpha. Pixel k's centre
// lies at k + 0.5, as in the weighted average: an identity mapping copies.
void bilinear(const qxDistortSource *src, double s, double t, uint8_t out[4])
{
    s -= 0.5, t -= 0.5;
    double fs = std::floor(s), ft = std::floor(t), fx = s - fs, fy = t - ft;
    double sum[4] = {}, wa = 0;
    for (int k = 0; k < 4; ++k) {
        double px = fs + (k & 1), py = ft + (k >> 1);
        double wk = ((k & 1) ? fx : 1 - fx) * ((k >> 1) ? fy : 1 - fy);
        if (px < 0 || py < 0 || px >= src->width || py >= src->height) continue;
        const uint8_t *p = src->rgba + (int64_t(py) * src->width + int64_t(px)) * 4;
        double a = wk * p[3];
        for (int ch = 0; ch < 3; ++ch) sum[ch] += a * p[ch];
        wa += a;
    }
    for (int ch = 0; ch < 3; ++ch) out[ch] = wa > 0 ? channel(sum[ch] / wa) : 0;
    out[3] = channel(wa);
}

void smoothSample(const qxDistortSource *src, double s, double t, const double d[4], uint8_t out[4]);

} // namespace

extern "C" {

void qxDistortFit(qxDistortRequest *r)
{
    if (!r) return;
    r->error = 0;
    std::fill(r->coefficients, r->coefficients + 10, 0.0);
    if (r->sourceWidth < 1 || r->sourceHeight < 1 || (r->argumentCount && !r->arguments)) {
        r->error = 1055;
        return;
    }
    bool ok = false;
    switch (r->method) {
    case QX_DISTORT_PERSPECTIVE: ok = fitPerspective(r); break;
    case QX_DISTORT_ARC: ok = fitArc(r); break;
    case QX_DISTORT_POLAR: ok = fitPolar(r); break;
    case QX_DISTORT_BARREL: ok = fitBarrel(r); break;
    default: break;
    }
    if (!ok) r->error = 1055;
}

void qxDistortSample(const qxDistortRequest *r, const qxDistortSource *src, int32_t i, int32_t j, uint8_t out[4])
{
    out[0] = out[1] = out[2] = out[3] = 0;
    double x = r->xOrigin + i + 0.5, y = r->yOrigin + j + 0.5, s = 0, t = 0, d[4], validity = 1;
    if (!mapPoint(r, x, y, s, t, d, validity)) return;
    if (!r->smooth) {
        // Tested in floating point before any truncation; without smooth a
        // pixel on the horizon is the picture's when its centre is.
        if (validity < 0.5 || !(s >= 0 && s < src->width && t >= 0 && t < src->height)) return;
        const uint8_t *p = src->rgba + (int64_t(t) * src->width + int64_t(s)) * 4;
        out[0] = p[0], out[1] = p[1], out[2] = p[2], out[3] = p[3];
        return;
    }
    smoothSample(src, s, t, d, out);
    if (validity < 1) out[3] = uint8_t(out[3] * validity + 0.5);
}
}

namespace {
void smoothSample(const qxDistortSource *src, double s, double t, const double d[4], uint8_t out[4])
{
    if (!std::isfinite(s) || !std::isfinite(t) || std::fabs(s) > 1e9 || std::fabs(t) > 1e9) return;
    double dux = d[0], duy = d[1], dvx = d[2], dvy = d[3];
    double A = dvx * dvx + dvy * dvy + 1, C = dux * dux + duy * duy + 1, B = -2 * (dux * dvx + duy * dvy);
    double F = A * C - B * B / 4;
    bool tooSmall = F <= 4, tooLarge = !(F <= 1e6);
    double vlimit = 0, ulimit = 0, uwidth = 0, slope = 0;
    if (!tooSmall && !tooLarge) {
        vlimit = std::sqrt(A) + 1, ulimit = std::sqrt(C) + 1, uwidth = std::sqrt(F / A) + 1, slope = -B / (2 * A);
        if (4 * vlimit * uwidth > 20.0 * src->width * src->height) tooLarge = true;
        else A *= 1024 / F, B *= 1024 / F, C *= 1024 / F;
    }
    (void)ulimit;
    if (tooSmall || tooLarge) {
        bilinear(src, s, t, out);
        return;
    }
    const double *table = weights();
    double sum[4] = {}, total = 0;
    int count = 0;
    for (double v = std::ceil(t - vlimit); v <= std::floor(t + vlimit); ++v) {
        double dv = v + 0.5 - t, uc = s + slope * dv;
        for (double u = std::ceil(uc - uwidth); u <= std::floor(uc + uwidth); ++u) {
            double du = u + 0.5 - s, q = A * du * du + B * du * dv + C * dv * dv;
            if (!(q >= 0 && q < 1024)) continue;
            double wt = table[int(q)];
            ++count, total += wt;
            if (u < 0 || v < 0 || u >= src->width || v >= src->height) continue;
            const uint8_t *p = src->rgba + (int64_t(v) * src->width + int64_t(u)) * 4;
            for (int ch = 0; ch < 3; ++ch) sum[ch] += p[ch] * wt;
            sum[3] += p[3] * wt;
        }
    }
    if (count < 4 || total < 1) {
        bilinear(src, s, t, out);
        return;
    }
    for (int ch = 0; ch < 4; ++ch) out[ch] = channel(sum[ch] / total);
}
}
