#include "draw/vector/qx_mask.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "platform/qx_memory.h"

int qxMaskStatus = 0;

namespace {

constexpr int kSubScanlines = 16;
constexpr int32_t kMaxThickness = 255;

struct Edge {
    double x0, y0, dxdy, ymax;
    int dir;
};

// Adds the horizontal span [xa, xb) with weight wgt to the row: partly
// covered end pixels go to acc, the whole pixels between them to the
// running sum of delta, so a span costs the same at any length.
inline void addSpan(float *acc, float *delta, int32_t w, double xa, double xb, float wgt)
{
    xa = std::max(xa, 0.0);
    xb = std::min(xb, double(w));
    if (!(xa < xb)) return;
    int32_t ia = int32_t(xa), ib = int32_t(xb);
    if (ia == ib) {
        acc[ia] += float(xb - xa) * wgt;
        return;
    }
    acc[ia] += float(ia + 1 - xa) * wgt;
    delta[ia + 1] += wgt;
    delta[ib] -= wgt;
    if (ib < w) acc[ib] += float(xb - ib) * wgt;
}

inline void setSpan(uint8_t *row, int32_t w, double xa, double xb)
{
    // Pixels whose centre i + 0.5 lies in [xa, xb).
    double fa = std::ceil(xa - 0.5), fb = std::ceil(xb - 0.5);
    fa = std::max(fa, 0.0);
    fb = std::min(fb, double(w));
    if (!(fa < fb)) return;
    std::memset(row + int32_t(fa), 255, size_t(int32_t(fb) - int32_t(fa)));
}

} // namespace

namespace {

FT_Library rasterLibrary()
{
    static FT_Library lib = nullptr;
    if (!lib && FT_Init_FreeType(&lib) != 0) lib = nullptr;
    return lib;
}

struct SpanTarget {
    uint8_t *data;
    int32_t stride;
};

// FreeType's rows run upwards: the outline is flipped, so span row y is pixel row -y - 1.
void graySpans(int y, int count, const FT_Span *spans, void *user)
{
    auto *t = static_cast<SpanTarget *>(user);
    uint8_t *row = t->data + size_t(-y - 1) * size_t(t->stride);
    for (int i = 0; i < count; i++) {
        uint8_t *p = row + spans[i].x;
        const uint8_t c = spans[i].coverage;
        if (c == 255) {
            std::memset(p, 255, spans[i].len);
            continue;
        }
        for (int k = 0; k < spans[i].len; k++) p[k] = std::max(p[k], c);
    }
}

// Anti-aliased coverage by FreeType's gray rasteriser, straight into the
// plane as spans (the exact area of each pixel the contours cover). The
// caller has checked that the points fit FreeType's outline limits.
int ftCoverage(uint8_t *data, int32_t stride, int32_t h, const QxRasterPoint *points, const int32_t *counts,
               int32_t contours, int32_t w, QxFillRule rule)
{
    FT_Library lib = rasterLibrary();
    if (!lib) return QX_MASK_NO_MEMORY;
    std::vector<FT_Vector> pts;
    std::vector<char> tags;
    std::vector<short> ends;
    try {
        const QxRasterPoint *p = points;
        for (int32_t c = 0; c < contours; p += std::max(counts[c], 0), c++) {
            if (counts[c] < 2) continue;
            for (int32_t i = 0; i < counts[c]; i++) {
                pts.push_back({FT_Pos(std::lrint(p[i].x * 64)), FT_Pos(std::lrint(-p[i].y * 64))});
                tags.push_back(FT_CURVE_TAG_ON);
            }
            ends.push_back(short(pts.size() - 1));
        }
    } catch (const std::bad_alloc &) {
        return QX_MASK_NO_MEMORY;
    }
    if (ends.empty()) return QX_MASK_OK;
    FT_Outline o{};
    o.n_points = short(pts.size()), o.n_contours = short(ends.size());
    o.points = pts.data(), o.tags = tags.data(), o.contours = ends.data();
    o.flags = rule == QX_FILL_EVENODD ? FT_OUTLINE_EVEN_ODD_FILL : FT_OUTLINE_NONE;
    SpanTarget target{data, stride};
    FT_Raster_Params params{};
    params.source = &o;
    params.flags = FT_RASTER_FLAG_AA | FT_RASTER_FLAG_DIRECT | FT_RASTER_FLAG_CLIP;
    params.gray_spans = graySpans;
    params.user = &target;
    params.clip_box = {0, -FT_Pos(h), FT_Pos(w), 0};
    return FT_Outline_Render(lib, &o, &params) == 0 ? QX_MASK_OK : QX_MASK_NO_MEMORY;
}

// Whether FreeType can take the contours: finite points near the plane, at most 32767 of them.
bool fitsFreeType(const QxRasterPoint *points, const int32_t *counts, int32_t contours, int32_t w, int32_t h)
{
    if (w > 32767 || h > 32767 || contours > 32767) return false;
    const double limit = 16384.0 + std::max(w, h);
    int64_t total = 0;
    const QxRasterPoint *p = points;
    for (int32_t c = 0; c < contours; p += std::max(counts[c], 0), c++)
        for (int32_t i = 0; i < counts[c]; i++, total++)
            if (!(std::fabs(p[i].x) <= limit) || !(std::fabs(p[i].y) <= limit)) return false;
    return total <= 32767;
}

} // namespace

namespace {

// The contours' non-horizontal edges, upper end first, and the top and bottom of them all.
int buildEdges(const QxRasterPoint *points, const int32_t *counts, int32_t contours, std::vector<Edge> &edges,
               double &top, double &bottom)
{
    try {
        size_t total = 0;
        for (int32_t c = 0; c < contours; c++) total += size_t(std::max(counts[c], 0));
        edges.reserve(total);
        const QxRasterPoint *p = points;
        for (int32_t c = 0; c < contours; p += std::max(counts[c], 0), c++) {
            int32_t n = counts[c];
            for (int32_t i = 0; i < n; i++)
                if (!std::isfinite(p[i].x) || !std::isfinite(p[i].y)) return QX_MASK_BAD_ARGUMENT;
            for (int32_t i = 0; i < n; i++) {
                QxRasterPoint a = p[i], b = p[i + 1 == n ? 0 : i + 1];
                if (a.y == b.y) continue;
                int dir = 1;
                if (a.y > b.y) std::swap(a, b), dir = -1;
                double dxdy = (b.x - a.x) / (b.y - a.y);
                if (!std::isfinite(dxdy)) continue; // too flat to cross a sample line apart from its neighbours
                edges.push_back({a.x, a.y, dxdy, b.y, dir});
                top = std::min(top, a.y);
                bottom = std::max(bottom, b.y);
            }
        }
    } catch (const std::bad_alloc &) {
        return QX_MASK_NO_MEMORY;
    }
    return QX_MASK_OK;
}

// The first row from row0 on whose centre line y + 0.5 lies at or below y0; row1 when none before it.
int32_t firstRow(double y0, int32_t row0, int32_t row1)
{
    if (y0 <= row0 + 0.5) return row0;
    const double guess = std::ceil(y0 - 0.5);
    if (!(guess < row1)) return row1;
    int32_t r = std::max(int32_t(guess), row0);
    // The subtraction may round: settle on the exact test the scanline uses.
    while (r < row1 && !(y0 <= r + 0.5)) r++;
    while (r > row0 && y0 <= (r - 1) + 0.5) r--;
    return r;
}

// ceil(v) held to [0, w], without the library call plain SSE2 makes of ceil.
inline int32_t ceilWithin(double v, int32_t w)
{
    if (!(v > 0)) return 0;
    if (!(v < w)) return w;
    const int32_t t = int32_t(v);
    return t + (double(t) < v);
}

} // namespace

int qxRasterSpans(int32_t w, int32_t h, const QxRasterPoint *points, const int32_t *counts, int32_t contours,
                  QxFillRule rule, std::vector<QxSpan> &spans)
{
    if (!points || !counts) return QX_MASK_NULL_POINTER;
    if (w < 1 || h < 1 || contours < 0) return QX_MASK_BAD_SIZE;
    std::vector<Edge> edges;
    double top = INFINITY, bottom = -INFINITY;
    if (int e = buildEdges(points, counts, contours, edges, top, bottom)) return e;
    if (edges.empty()) return QX_MASK_OK;
    const int32_t row0 = int32_t(std::clamp(std::floor(top), 0.0, double(h)));
    const int32_t row1 = int32_t(std::clamp(std::ceil(bottom), 0.0, double(h)));
    try {
        // Edges in the order they join the scanline: their first row above, their index below.
        std::vector<uint64_t> order(edges.size());
        for (size_t i = 0; i < edges.size(); i++)
            order[i] = uint64_t(firstRow(edges[i].y0, row0, row1)) << 32 | i;
        std::sort(order.begin(), order.end());
        std::vector<const Edge *> active;
        // The row's crossings sorted by x, positions and directions apart so that
        // the insertion moves plain doubles.
        std::vector<double> xs(edges.size());
        std::vector<int> dirs(edges.size());
        active.reserve(edges.size());
        size_t next = 0;
        for (int32_t y = row0; y < row1; y++) {
            const double sy = y + 0.5;
            for (; next < order.size() && int32_t(order[next] >> 32) == y; next++)
                active.push_back(&edges[uint32_t(order[next])]);
            size_t n = 0;
            for (size_t i = 0; i < active.size();) {
                const Edge *e = active[i];
                if (e->ymax <= sy) {
                    active[i] = active.back();
                    active.pop_back();
                    continue;
                }
                const double x = e->x0 + (sy - e->y0) * e->dxdy;
                size_t k = n++;
                for (; k > 0 && x < xs[k - 1]; k--) xs[k] = xs[k - 1], dirs[k] = dirs[k - 1];
                xs[k] = x, dirs[k] = e->dir;
                i++;
            }
            int winding = 0;
            for (size_t i = 0; i + 1 < n; i++) {
                winding += dirs[i];
                const bool inside = rule == QX_FILL_EVENODD ? (winding & 1) != 0 : winding != 0;
                if (!inside || !(xs[i] < xs[i + 1])) continue;
                // Pixels whose centre i + 0.5 lies in [xa, xb), as setSpan takes them.
                const int32_t fa = ceilWithin(xs[i] - 0.5, w), fb = ceilWithin(xs[i + 1] - 0.5, w);
                if (fa < fb) spans.push_back({y, fa, fb});
            }
        }
    } catch (const std::bad_alloc &) {
        return QX_MASK_NO_MEMORY;
    }
    return QX_MASK_OK;
}

int qxRasterFillSimple(uint8_t *data, int32_t stride, int32_t w, int32_t h, const QxRasterPoint *points,
                       const int32_t *counts, int32_t contours, QxFillRule rule)
{
    if (!data || !points || !counts) return QX_MASK_NULL_POINTER;
    if (w < 1 || h < 1 || stride < w || contours < 0) return QX_MASK_BAD_SIZE;
    if (fitsFreeType(points, counts, contours, w, h))
        return ftCoverage(data, stride, h, points, counts, contours, w, rule);
    return qxRasterFill(data, stride, w, h, points, counts, contours, rule, true);
}

int qxRasterFill(uint8_t *data, int32_t stride, int32_t w, int32_t h, const QxRasterPoint *points,
                 const int32_t *counts, int32_t contours, QxFillRule rule, bool antialias)
{
    if (!data || !points || !counts) return QX_MASK_NULL_POINTER;
    if (w < 1 || h < 1 || stride < w || contours < 0) return QX_MASK_BAD_SIZE;
    std::vector<Edge> edges;
    double top = INFINITY, bottom = -INFINITY;
    if (int e = buildEdges(points, counts, contours, edges, top, bottom)) return e;
    if (edges.empty()) return QX_MASK_OK;
    std::sort(edges.begin(), edges.end(), [](const Edge &a, const Edge &b) { return a.y0 < b.y0; });
    int32_t row0 = int32_t(std::clamp(std::floor(top), 0.0, double(h)));
    int32_t row1 = int32_t(std::clamp(std::ceil(bottom), 0.0, double(h)));
    const int sub = antialias ? kSubScanlines : 1;
    const float wgt = 1.0f / float(sub);
    std::vector<float> acc, delta;
    std::vector<const Edge *> active;
    struct Crossing {
        double x;
        int dir;
    };
    std::vector<Crossing> xs;
    try {
        if (antialias) acc.assign(size_t(w) + 1, 0.0f), delta.assign(size_t(w) + 2, 0.0f);
        active.reserve(edges.size());
        xs.reserve(edges.size());
    } catch (const std::bad_alloc &) {
        return QX_MASK_NO_MEMORY;
    }
    size_t next = 0;
    for (int32_t y = row0; y < row1; y++) {
        uint8_t *row = data + size_t(y) * size_t(stride);
        bool any = false;
        for (int s = 0; s < sub; s++) {
            double sy = y + (s + 0.5) / sub;
            while (next < edges.size() && edges[next].y0 <= sy) active.push_back(&edges[next++]);
            std::erase_if(active, [sy](const Edge *e) { return e->ymax <= sy; });
            xs.clear();
            for (const Edge *e : active)
                if (e->y0 <= sy) xs.push_back({e->x0 + (sy - e->y0) * e->dxdy, e->dir});
            if (xs.size() < 2) continue;
            std::sort(xs.begin(), xs.end(), [](const Crossing &a, const Crossing &b) { return a.x < b.x; });
            int winding = 0;
            for (size_t i = 0; i + 1 < xs.size(); i++) {
                winding += xs[i].dir;
                bool inside = rule == QX_FILL_EVENODD ? (winding & 1) != 0 : winding != 0;
                if (!inside || !(xs[i].x < xs[i + 1].x)) continue;
                any = true;
                if (antialias)
                    addSpan(acc.data(), delta.data(), w, xs[i].x, xs[i + 1].x, wgt);
                else
                    setSpan(row, w, xs[i].x, xs[i + 1].x);
            }
        }
        if (antialias && any) {
            float run = 0.0f;
            for (int32_t x = 0; x < w; x++) {
                run += delta[size_t(x)];
                float c = std::clamp(acc[size_t(x)] + run, 0.0f, 1.0f);
                int v = int(c * 255.0f + 0.5f);
                row[x] = uint8_t(std::max(int(row[x]), v));
                acc[size_t(x)] = 0.0f;
                delta[size_t(x)] = 0.0f;
            }
            delta[size_t(w)] = delta[size_t(w) + 1] = 0.0f;
        }
    }
    return QX_MASK_OK;
}

namespace {

// Appends the outline of a segment of width t with round ends, clockwise on
// screen, so that the union of several is their nonzero fill.
void appendCapsule(std::vector<QxRasterPoint> &pts, std::vector<int32_t> &counts, double x1, double y1, double x2,
                   double y2, double t)
{
    double r = t / 2.0;
    double dx = x2 - x1, dy = y2 - y1, len = std::hypot(dx, dy);
    double a0 = len > 0 ? std::atan2(dy, dx) : 0.0;
    int steps = std::clamp(int(std::ceil(r * 2.0)), 2, 64);
    size_t start = pts.size();
    // End cap at (x2, y2), from -90 to +90 degrees around the direction, then the start cap.
    for (int i = 0; i <= steps; i++) {
        double a = a0 - M_PI / 2 + M_PI * i / steps;
        pts.push_back({x2 + r * std::cos(a), y2 + r * std::sin(a)});
    }
    for (int i = 0; i <= steps; i++) {
        double a = a0 + M_PI / 2 + M_PI * i / steps;
        pts.push_back({x1 + r * std::cos(a), y1 + r * std::sin(a)});
    }
    counts.push_back(int32_t(pts.size() - start));
}

// One-pixel 8-connected line, clipped to the mask first so huge coordinates cost nothing.
void thinLine(QxMaskImage *m, double x1, double y1, double x2, double y2)
{
    double t0 = 0, t1 = 1, dx = x2 - x1, dy = y2 - y1;
    const double lo[2] = {-1, -1}, hi[2] = {double(m->width), double(m->height)};
    const double p0[2] = {x1, y1}, d[2] = {dx, dy};
    for (int k = 0; k < 2; k++) {
        if (d[k] == 0) {
            if (p0[k] < lo[k] || p0[k] > hi[k]) return;
            continue;
        }
        double ta = (lo[k] - p0[k]) / d[k], tb = (hi[k] - p0[k]) / d[k];
        if (ta > tb) std::swap(ta, tb);
        t0 = std::max(t0, ta);
        t1 = std::min(t1, tb);
        if (t0 > t1) return;
    }
    double ax = std::round(x1 + t0 * dx), ay = std::round(y1 + t0 * dy);
    double bx = std::round(x1 + t1 * dx), by = std::round(y1 + t1 * dy);
    long n = long(std::max(std::fabs(bx - ax), std::fabs(by - ay)));
    for (long i = 0; i <= n; i++) {
        double f = n ? double(i) / double(n) : 0.0;
        long x = std::lround(ax + (bx - ax) * f), y = std::lround(ay + (by - ay) * f);
        if (x >= 0 && y >= 0 && x < m->width && y < m->height) m->data[size_t(y) * size_t(m->stride) + size_t(x)] = 255;
    }
}

// Segments between pixel centres: thickness 1 without anti-aliasing is the
// 8-connected line, anything else a filled round-ended stroke.
int drawSegments(QxMaskImage *m, const QxMaskPoint *p, int32_t count, bool closed, bool aa, int32_t thickness)
{
    if (!aa && thickness <= 1) {
        for (int32_t i = closed ? 0 : 1; i < count; i++) {
            const QxMaskPoint &a = p[i == 0 ? count - 1 : i - 1], &b = p[i];
            thinLine(m, a.x, a.y, b.x, b.y);
        }
        return QX_MASK_OK;
    }
    try {
        std::vector<QxRasterPoint> pts;
        std::vector<int32_t> counts;
        // Without anti-aliasing the pixels on the stroke's edge belong to it, as the outline of a
        // solid polygon does: half a pixel more on each side, and a hair to settle exact ties.
        double width = aa ? std::max(thickness, 1) : thickness + 1 + 1.0 / 32;
        for (int32_t i = closed ? 0 : 1; i < count; i++) {
            const QxMaskPoint &a = p[i == 0 ? count - 1 : i - 1], &b = p[i];
            appendCapsule(pts, counts, a.x + 0.5, a.y + 0.5, b.x + 0.5, b.y + 0.5, width);
        }
        return qxRasterFill(m->data, m->stride, m->width, m->height, pts.data(), counts.data(),
                            int32_t(counts.size()), QX_FILL_NONZERO, aa);
    } catch (const std::bad_alloc &) {
        return QX_MASK_NO_MEMORY;
    }
}

} // namespace

void qxMaskCreate(int32_t width, int32_t height, QxMaskImage **image, uint8_t **data, int32_t *stride)
{
    if (!image) {
        qxMaskStatus = QX_MASK_NULL_POINTER;
        return;
    }
    *image = nullptr;
    if (width < 1 || height < 1 || width > INT32_MAX - 3) {
        qxMaskStatus = QX_MASK_BAD_SIZE;
        return;
    }
    int32_t st = (width + 3) & ~3;
    size_t bytes = 0;
    if (!qxMulSize(size_t(st), size_t(height), &bytes)) {
        qxMaskStatus = QX_MASK_NO_MEMORY;
        return;
    }
    auto *m = static_cast<QxMaskImage *>(qxAlloc(sizeof(QxMaskImage), 1));
    void *buf = nullptr;
    if (!m || posix_memalign(&buf, 32, std::max<size_t>(bytes, 32)) != 0) {
        qxFree(m);
        qxMaskStatus = QX_MASK_NO_MEMORY;
        return;
    }
    std::memset(buf, 0, bytes);
    *m = {width, height, st, static_cast<uint8_t *>(buf)};
    *image = m;
    if (data) *data = m->data;
    if (stride) *stride = st;
}

void qxMaskFree(QxMaskImage *image)
{
    qxMaskStatus = QX_MASK_OK;
    if (!image) return;
    std::free(image->data);
    qxFree(image);
}

void qxMaskFillPolygon(QxMaskImage *image, const QxMaskPoint *points, int32_t count, int antialias, int32_t thickness)
{
    qxMaskStatus = QX_MASK_OK;
    if (!image || !points) {
        qxMaskStatus = QX_MASK_NULL_POINTER;
        return;
    }
    if (count <= 0) return;
    if (thickness < 0 || thickness > kMaxThickness) {
        qxMaskStatus = QX_MASK_OUT_OF_RANGE;
        return;
    }
    size_t bytes = 0;
    QxMaskPoint *copy = nullptr;
    if (!qxMulSize(size_t(count), sizeof(QxMaskPoint), &bytes) ||
        !(copy = static_cast<QxMaskPoint *>(qxAlloc(bytes, 0)))) {
        qxMaskStatus = QX_MASK_NO_MEMORY;
        return;
    }
    std::memcpy(copy, points, bytes);
    bool aa = antialias != 0;
    int status = QX_MASK_OK;
    if (thickness == 0) {
        // The interior between edge crossings, then the edges themselves as lines.
        try {
            std::vector<QxRasterPoint> pts(static_cast<size_t>(count));
            for (int32_t i = 0; i < count; i++) pts[size_t(i)] = {copy[i].x + 0.5, copy[i].y + 0.5};
            status = qxRasterFill(image->data, image->stride, image->width, image->height, pts.data(), &count, 1,
                                  QX_FILL_EVENODD, aa);
        } catch (const std::bad_alloc &) {
            status = QX_MASK_NO_MEMORY;
        }
        if (status == QX_MASK_OK) status = drawSegments(image, copy, count, true, aa, 1);
    } else {
        status = drawSegments(image, copy, count, true, aa, thickness);
    }
    qxFree(copy);
    qxMaskStatus = status;
}

void qxMaskDraw(QxMaskImage *image, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int antialias, int32_t thickness)
{
    qxMaskStatus = QX_MASK_OK;
    if (!image) {
        qxMaskStatus = QX_MASK_NULL_POINTER;
        return;
    }
    if (uint32_t(thickness) > uint32_t(kMaxThickness) || thickness == 0) {
        qxMaskStatus = QX_MASK_OUT_OF_RANGE;
        return;
    }
    const QxMaskPoint p[2] = {{x1, y1}, {x2, y2}};
    qxMaskStatus = drawSegments(image, p, 2, false, antialias != 0, thickness);
}
