// Convolution engine. Channels are worked on as separate byte planes so the
// inner loops run over a row of pixels and vectorise, while each pixel's sum
// keeps the kernel's order.
#include "imaging/qx_convolve.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include "imaging/qx_channels.h"
#include "imaging/qx_convolverows.h"

namespace {

constexpr double kSqrt2Pi = 2.5066282746310002;
constexpr double kTwoPi = 6.283185307179586;
// The largest padded copy we try to make, in pixels; a bigger one counts as
// a copy that cannot be made, and the plane is skipped.
constexpr int64_t kMaxPadded = int64_t(1) << 28;
// Below this width the sums are recomputed whole, as the rule says; beyond
// it running sums keep the search linear.
constexpr int32_t kExactSearch = 1001;
constexpr int32_t kExactSearch2D = 41;

int32_t widthFromRadius(double radius)
{
    double c = std::ceil(radius);
    if (c > double(INT32_MAX - 1) / 2) return INT32_MAX;
    return 2 * int32_t(c) + 1;
}

bool paddedFits(int32_t w, int32_t h, int32_t kw)
{
    int64_t pw = int64_t(w) + kw, ph = int64_t(h) + kw;
    return w > 0 && h > 0 && kw > 0 && pw <= kMaxPadded && ph <= kMaxPadded && pw * ph <= kMaxPadded;
}

template <class T> std::unique_ptr<T[]> alloc(int64_t n)
{
    return std::unique_ptr<T[]>(new (std::nothrow) T[size_t(n)]);
}

int32_t clampIndex(int64_t i, int32_t n) { return i < 0 ? 0 : i >= n ? n - 1 : int32_t(i); }

// Channel planes of a colour plane (c planes of w x h bytes).
template <class P>
void splitChannels(const qxConvolveRecord *r, uint8_t *planes)
{
    int64_t n = int64_t(r->width) * r->height;
    auto *px = static_cast<const typename P::T *>(r->pixels);
    for (int32_t y = 0; y < r->height; ++y)
        for (int32_t x = 0; x < r->width; ++x) {
            int32_t cr, cg, cb;
            P::get(r->layout, px[int64_t(y) * r->pitch + x], cr, cg, cb);
            int64_t i = int64_t(y) * r->width + x;
            planes[i] = uint8_t(cr), planes[n + i] = uint8_t(cg), planes[2 * n + i] = uint8_t(cb);
        }
}

template <class P> void joinChannels(const qxConvolveRecord *r, const uint8_t *planes)
{
    int64_t n = int64_t(r->width) * r->height;
    auto *px = static_cast<typename P::T *>(r->pixels);
    for (int32_t y = 0; y < r->height; ++y)
        for (int32_t x = 0; x < r->width; ++x) {
            int64_t i = int64_t(y) * r->width + x;
            px[int64_t(y) * r->pitch + x] = P::put(r->layout, planes[i], planes[n + i], planes[2 * n + i]);
        }
}

// Two 1-D passes over one byte plane (w x h, row stride w); keep masks
// what the image itself would keep of each written value.
void blurPlane(uint8_t *plane, int32_t w, int32_t h, const double *k, int32_t kw, uint8_t keep)
{
    const qxConvolveRows &fn = qxConvolveRowFunctions();
    int32_t half = kw / 2;
    std::vector<double> row(static_cast<size_t>(w) + static_cast<size_t>(kw));
    for (int32_t y = 0; y < h; ++y) {
        uint8_t *p = plane + int64_t(y) * w;
        // Edges replicated, the middle converted straight.
        for (int32_t c = 0; c < w + kw; ++c) {
            int64_t sc = int64_t(c) - half;
            row[size_t(c)] = p[sc < 0 ? 0 : sc >= w ? w - 1 : sc];
        }
        fn.taps(row.data(), k, kw, p, w, keep);
    }
    // The vertical pass reads the horizontal result, kept as doubles.
    auto mid = alloc<double>(int64_t(w) * h);
    if (!mid) return;
    for (int64_t i = 0; i < int64_t(w) * h; ++i) mid[size_t(i)] = plane[i];
    std::vector<const double *> rows(static_cast<size_t>(kw));
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t j = 0; j < kw; ++j) rows[size_t(j)] = mid.get() + int64_t(clampIndex(int64_t(y) + j - half, h)) * w;
        fn.column(rows.data(), k, kw, plane + int64_t(y) * w, w, keep);
    }
}

// A kw x kw kernel over one byte plane, every read from the unfiltered
// padded copy (held as doubles so each tap is one multiply and add).
void convolvePlane(uint8_t *plane, int32_t w, int32_t h, const double *k, int32_t kw)
{
    const qxConvolveRows &fn = qxConvolveRowFunctions();
    int32_t half = kw / 2, pw = w + kw;
    auto pad = alloc<double>(int64_t(pw) * (h + kw));
    if (!pad) return;
    for (int32_t r = 0; r < h + kw; ++r) {
        const uint8_t *s = plane + int64_t(clampIndex(int64_t(r) - half, h)) * w;
        double *d = pad.get() + int64_t(r) * pw;
        for (int32_t c = 0; c < pw; ++c) d[c] = s[clampIndex(int64_t(c) - half, w)];
    }
    std::vector<const double *> rows(static_cast<size_t>(kw));
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t v = 0; v < kw; ++v) rows[size_t(v)] = pad.get() + int64_t(y + v) * pw;
        fn.square(rows.data(), k, kw, plane + int64_t(y) * w, w);
    }
}

template <class P> void colourPlanes(const qxConvolveRecord *r, const double *k, int32_t kw, bool blur)
{
    int64_t n = int64_t(r->width) * r->height;
    auto planes = alloc<uint8_t>(3 * n);
    if (!planes) return;
    splitChannels<P>(r, planes.get());
    for (int c = 0; c < 3; ++c) {
        uint8_t *pl = planes.get() + c * n;
        if (blur) blurPlane(pl, r->width, r->height, k, kw, uint8_t(c == 1 ? P::keepG(0xFF) : P::keepRB(0xFF)));
        else convolvePlane(pl, r->width, r->height, k, kw);
    }
    joinChannels<P>(r, planes.get());
}

void alphaPlane(const qxConvolveRecord *r, const double *k, int32_t kw, bool blur)
{
    int32_t w = r->width, h = r->height;
    auto copy = alloc<uint8_t>(int64_t(w) * h);
    if (!copy) return;
    for (int32_t y = 0; y < h; ++y)
        std::copy_n(r->alpha + int64_t(y) * r->alphaBytesPerRow, w, copy.get() + int64_t(y) * w);
    if (blur) blurPlane(copy.get(), w, h, k, kw, 0xFF);
    else convolvePlane(copy.get(), w, h, k, kw);
    for (int32_t y = 0; y < h; ++y)
        std::copy_n(copy.get() + int64_t(y) * w, w, r->alpha + int64_t(y) * r->alphaBytesPerRow);
}

void runPlanes(const qxConvolveRecord *r, const double *k, int32_t kw, bool blur)
{
    if (r->pixels && r->bytesPerPixel == 4) colourPlanes<qxPx32>(r, k, kw, blur);
    else if (r->pixels && r->bytesPerPixel == 2) colourPlanes<qxPx16>(r, k, kw, blur);
    if (r->alpha && r->alphaBytesPerRow >= r->width) alphaPlane(r, k, kw, blur);
}

} // namespace

extern "C" {

int32_t qxKernelWidth1D(double radius, double sigma)
{
    if (!std::isfinite(radius) || !std::isfinite(sigma)) return 0;
    if (radius > 0) return widthFromRadius(radius);
    if (std::fabs(sigma) <= 1e-10) return 1;
    double s2 = 2 * sigma * sigma, norm = kSqrt2Pi * sigma, sum = 0;
    for (int32_t w = 5;; w += 2) {
        int32_t h = w / 2;
        if (w <= kExactSearch) {
            sum = 0;
            for (int32_t u = -h; u <= h; ++u) sum += std::exp(-double(u) * u / s2) / norm;
        } else {
            double t = std::exp(-double(h) * h / s2) / norm;
            sum += t + t;
        }
        double edge = 255 * std::exp(-double(h) * h / s2) / norm / sum;
        if (!(edge >= 1)) return w - 2;
        if (w >= INT32_MAX - 2) return INT32_MAX;
    }
}

int32_t qxKernelWidth2D(double radius, double sigma, int32_t limit)
{
    if (!std::isfinite(radius) || !std::isfinite(sigma)) return 0;
    if (radius > 0) return widthFromRadius(radius);
    if (sigma == 0) return 1; // every term is 0/0: no kernel
    double s2 = 2 * sigma * sigma, norm2 = kTwoPi * sigma * sigma, norm1 = kSqrt2Pi * sigma, sum = 0;
    auto term = [&](int32_t u, int32_t v) { return std::exp(-(double(u) * u + double(v) * v) / s2) / norm2; };
    for (int32_t w = 5;; w += 2) {
        int32_t h = w / 2;
        if (w <= kExactSearch2D) {
            sum = 0;
            for (int32_t v = -h; v <= h; ++v)
                for (int32_t u = -h; u <= h; ++u) sum += term(u, v);
        } else {
            // The new ring: two rows and two columns without their corners.
            for (int32_t u = -h; u <= h; ++u) sum += term(u, -h) + term(u, h);
            for (int32_t v = -h + 1; v <= h - 1; ++v) sum += term(-h, v) + term(h, v);
        }
        if (std::exp(-double(h) * h / s2) / norm1 / sum < 0.00392156862745098) return w - 2;
        if (w - 2 > limit || w >= INT32_MAX - 2) return w;
    }
}

void qxBuildBlurKernel(double *k, int32_t kw, double sigma)
{
    for (int32_t i = 0; i < kw; ++i) k[i] = 0;
    int64_t R = (3 * int64_t(kw)) / 2;
    for (int64_t i = -R; i <= R; ++i)
        k[(i + R) / 3] += std::exp(-double(i) * double(i) / (18 * sigma * sigma)) / (kSqrt2Pi * sigma);
    double sum = 0;
    for (int32_t i = 0; i < kw; ++i) sum += k[i];
    for (int32_t i = 0; i < kw; ++i) k[i] /= sum;
}

void qxBuild2DKernel(double *k, int32_t kw, double sigma, uint32_t mode)
{
    double s = std::fabs(sigma) <= 1e-10 ? 1 : sigma;
    int32_t h = kw / 2;
    int64_t n = int64_t(kw) * kw;
    for (int32_t v = -h; v <= h; ++v)
        for (int32_t u = -h; u <= h; ++u) {
            double g = std::exp(-(double(u) * u + double(v) * v) / (2 * s * s)) / (kTwoPi * s * s);
            double e = 0;
            if (mode == 'g') e = -1;
            else if (mode == 's') e = -g;
            else if (mode == 'e' && u == -v) e = (u < 0 || v < 0 ? -8 : 8) * g;
            k[int64_t(v + h) * kw + (u + h)] = e;
        }
    double sum = 0;
    int64_t centre = int64_t(h) * kw + h;
    if (mode == 'g') k[centre] = double(n) - 1;
    if (mode == 's') {
        for (int64_t i = 0; i < n; ++i) sum += k[i];
        k[centre] = -2 * sum;
    }
    sum = 0;
    for (int64_t i = 0; i < n; ++i) sum += k[i];
    if (std::fabs(sum) > 1e-10)
        for (int64_t i = 0; i < n; ++i) k[i] /= sum;
}

void qxConvolvePlanes(const qxConvolveRecord *r)
{
    if (!r || r->width < 1 || r->height < 1) return;
    if (!std::isfinite(r->radius) || !std::isfinite(r->sigma)) return;
    if (r->mode == 'b') {
        if (std::fabs(r->sigma) <= 1e-10) return;
        int32_t kw = qxKernelWidth1D(r->radius, r->sigma);
        if (!paddedFits(r->width, r->height, kw)) return;
        auto k = alloc<double>(kw);
        if (!k) return;
        qxBuildBlurKernel(k.get(), kw, r->sigma);
        runPlanes(r, k.get(), kw, true);
        return;
    }
    int32_t limit = r->width < r->height ? r->width : r->height;
    int32_t kw = r->mode == 's' || r->mode == 'e' ? qxKernelWidth2D(r->radius, r->sigma, limit)
                 : r->mode == 'g'                 ? qxKernelWidth1D(r->radius, 0.5)
                                                  : qxKernelWidth1D(r->radius, r->sigma);
    if (kw % 2 == 0 || kw > r->width || kw > r->height || !paddedFits(r->width, r->height, kw)) return;
    auto k = alloc<double>(int64_t(kw) * kw);
    if (!k) return;
    qxBuild2DKernel(k.get(), kw, r->sigma, r->mode);
    runPlanes(r, k.get(), kw, false);
}
}
