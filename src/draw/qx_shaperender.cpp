// Shape rendering: the outline as float contours, border and shadow grown
// from it, coverage by the scanline rasteriser, colours composed over a
// transparent ARGB image that goes onto the output with its alpha plane.
#include "draw/qx_shaperender.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "core/errors/qx_errors.h"
#include "display/qx_bitmap.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_display.h"
#include "display/qx_positions.h"
#include "draw/qx_shapelayer.h"
#include "draw/vector/qx_mask.h"
#include "draw/vector/qx_shapegeom.h"
#include "imaging/qx_blendrows.h"
#include "imaging/qx_blit.h"
#include "imaging/qx_pixelformat.h"
#include "objects/qx_brush.h"
#include "objects/qx_displayopts.h"
#include "objects/qx_output.h"
#include "objects/qx_selection.h"

namespace {

using Contour = std::vector<QxRasterPoint>;
constexpr double kPi = 3.14159265358979323846;
// Larger images are refused rather than allocated: 1 << 26 pixels is 256 MB of ARGB.
constexpr int64_t kMaxPixels = int64_t(1) << 26;

// Segments for an arc of the given radius and sweep so that the chord error stays below 0.1 pixel.
int arcSegments(double r, double sweep)
{
    if (!(r > 0.25)) return 1;
    double step = 2 * std::acos(std::max(-1.0, 1 - 0.1 / r));
    return std::clamp(int(std::ceil(std::fabs(sweep) / step)), 1, 4096);
}

void addArc(Contour &c, double cx, double cy, double rx, double ry, double a0, double a1)
{
    const int n = arcSegments(std::max(rx, ry), a1 - a0);
    c.reserve(c.size() + size_t(n) + 1);
    if (const QxPointD *d = qxArcDirections(a0, a1, n)) {
        for (int i = 0; i <= n; i++) c.push_back({cx + rx * d[i].x, cy - ry * d[i].y});
        return;
    }
    for (int i = 0; i <= n; i++) {
        double a = a0 + (a1 - a0) * i / n;
        c.push_back({cx + rx * std::cos(a), cy - ry * std::sin(a)});
    }
}

Contour outline(const qxShapeRecord &s)
{
    Contour c;
    const double w = s.width, h = s.height;
    switch (s.type) {
    case QX_SHAPE_BOX: {
        const double half = std::min(w, h) / 2;
        const double r[4] = {s.corners[0] * half / 100, s.corners[1] * half / 100, s.corners[2] * half / 100,
                             s.corners[3] * half / 100};
        // Top-left, bottom-left, bottom-right, top-right, anticlockwise on screen.
        if (r[0] > 0) addArc(c, r[0], r[0], r[0], r[0], kPi / 2, kPi); else c.push_back({0, 0});
        if (r[1] > 0) addArc(c, r[1], h - r[1], r[1], r[1], kPi, 1.5 * kPi); else c.push_back({0, h});
        if (r[2] > 0) addArc(c, w - r[2], h - r[2], r[2], r[2], 1.5 * kPi, 2 * kPi); else c.push_back({w, h});
        if (r[3] > 0) addArc(c, w - r[3], r[3], r[3], r[3], 0, kPi / 2); else c.push_back({w, 0});
        break;
    }
    case QX_SHAPE_CIRCLE:
    case QX_SHAPE_ELLIPSE:
        addArc(c, w / 2, h / 2, s.rx + 0.5, s.ry + 0.5, 0, 2 * kPi);
        c.pop_back();
        break;
    case QX_SHAPE_ARC: {
        // Angles in degrees anticlockwise from east; clockwise sweeps the other way round.
        double a0 = s.start * kPi / 180, a1 = s.end * kPi / 180;
        if (s.clockwise) { if (a1 > a0) a1 -= 2 * kPi * std::ceil((a1 - a0) / (2 * kPi)); }
        else if (a1 < a0) a1 += 2 * kPi * std::ceil((a0 - a1) / (2 * kPi));
        if (std::fabs(a1 - a0) > 2 * kPi) a1 = a0 + (a1 > a0 ? 2 * kPi : -2 * kPi);
        c.push_back({w / 2, h / 2});
        addArc(c, w / 2, h / 2, s.rx + 0.5, s.ry + 0.5, a0, a1);
        break;
    }
    case QX_SHAPE_POLYGON:
        c.reserve(size_t(std::max(s.pointCount, 0)));
        for (int32_t i = 0; i < s.pointCount; i++) c.push_back({s.points[2 * i] + 0.5, s.points[2 * i + 1] + 0.5});
        if (c.size() > 1 && c.front().x == c.back().x && c.front().y == c.back().y) c.pop_back();
        break;
    }
    return c;
}

double signedArea(const Contour &c)
{
    double a = 0;
    for (size_t i = 0; i < c.size(); i++) {
        const QxRasterPoint &p = c[i], &q = c[(i + 1) % c.size()];
        a += p.x * q.y - q.x * p.y;
    }
    return a / 2;
}

// The contour moved outwards (d > 0) or inwards (d < 0) by d, mitred; mitres longer than 4d are cut.
Contour offset(const Contour &c, double d)
{
    const size_t n = c.size();
    if (n < 3) return c;
    const double orient = signedArea(c) > 0 ? 1 : -1;
    auto normal = [&](const QxRasterPoint &a, const QxRasterPoint &b) {
        double dx = b.x - a.x, dy = b.y - a.y, l = std::hypot(dx, dy);
        return l == 0 ? QxRasterPoint{0, 0} : QxRasterPoint{dy / l * orient, -dx / l * orient};
    };
    Contour out;
    out.reserve(n);
    for (size_t i = 0; i < n; i++) {
        const QxRasterPoint &q = c[i];
        const QxRasterPoint n1 = normal(c[(i + n - 1) % n], q), n2 = normal(q, c[(i + 1) % n]);
        const double mx = n1.x + n2.x, my = n1.y + n2.y, k = 1 + n1.x * n2.x + n1.y * n2.y;
        if (k > 0.125) {
            out.push_back({q.x + mx * d / k, q.y + my * d / k});
        } else {
            const double l = std::hypot(mx, my);
            out.push_back(l > 0 ? QxRasterPoint{q.x + mx / l * 4 * d, q.y + my / l * 4 * d}
                                : QxRasterPoint{q.x + n1.x * d, q.y + n1.y * d});
        }
    }
    return out;
}

struct Box {
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    void add(const Contour &c)
    {
        for (const QxRasterPoint &p : c)
            x0 = std::min(x0, p.x), y0 = std::min(y0, p.y), x1 = std::max(x1, p.x), y1 = std::max(y1, p.y);
    }
};

bool transform(Contour &c, const qxTransformOptions *t, double w, double h)
{
    if (!t || (t->m11 == 1 && t->m12 == 0 && t->m21 == 0 && t->m22 == 1)) return false;
    if (!std::isfinite(t->m11) || !std::isfinite(t->m12) || !std::isfinite(t->m21) || !std::isfinite(t->m22))
        return false;
    const double ax = std::trunc(w * t->anchorx), ay = std::trunc(h * t->anchory);
    for (QxRasterPoint &p : c) {
        double dx = p.x - ax, dy = p.y - ay;
        p = {ax + t->m11 * dx + t->m21 * dy, ay + t->m12 * dx + t->m22 * dy};
    }
    return true;
}

// Contours moved by (dx, dy) into the image, as the rasteriser takes them.
struct Placed {
    std::vector<QxRasterPoint> pts;
    std::vector<int32_t> counts;
    Placed(const std::vector<const Contour *> &contours, double dx, double dy)
    {
        size_t total = 0;
        for (const Contour *c : contours) total += c->size();
        pts.reserve(total);
        counts.reserve(contours.size());
        for (const Contour *c : contours) {
            for (const QxRasterPoint &p : *c) pts.push_back({p.x + dx, p.y + dy});
            counts.push_back(int32_t(c->size()));
        }
    }
    int spans(int32_t w, int32_t h, QxFillRule rule, std::vector<QxSpan> &out) const
    {
        return qxRasterSpans(w, h, pts.data(), counts.data(), int32_t(counts.size()), rule, out);
    }
};

// One coverage plane of the whole image.
struct Plane {
    int32_t w = 0, h = 0;
    std::vector<uint8_t> data;
    // An upright rectangle on whole pixels covers them fully, with or without anti-aliasing.
    bool fillRect(const Contour &c, double dx, double dy)
    {
        if (c.size() != 4) return false;
        Box b;
        b.add(c);
        for (const QxRasterPoint &p : c)
            if ((p.x != b.x0 && p.x != b.x1) || (p.y != b.y0 && p.y != b.y1)) return false;
        for (size_t i = 0; i < 4; i++) // each edge horizontal or vertical
            if (c[i].x != c[(i + 1) % 4].x && c[i].y != c[(i + 1) % 4].y) return false;
        const double x0 = b.x0 + dx, x1 = b.x1 + dx, y0 = b.y0 + dy, y1 = b.y1 + dy;
        if (x0 != std::floor(x0) || x1 != std::floor(x1) || y0 != std::floor(y0) || y1 != std::floor(y1)) return false;
        const int32_t l = int32_t(std::clamp(x0, 0.0, double(w))), r = int32_t(std::clamp(x1, 0.0, double(w)));
        const int32_t t = int32_t(std::clamp(y0, 0.0, double(h))), bt = int32_t(std::clamp(y1, 0.0, double(h)));
        for (int32_t y = t; y < bt; y++) std::fill_n(&data[size_t(y) * w + l], r - l, uint8_t(255));
        return true;
    }
    // simple: the contours cross neither themselves nor each other.
    int fill(const std::vector<const Contour *> &contours, double dx, double dy, QxFillRule rule, bool aa,
             bool simple = false)
    {
        if (contours.size() == 1 && fillRect(*contours[0], dx, dy)) return 0;
        Placed p(contours, dx, dy);
        if (!aa) {
            std::vector<QxSpan> spans;
            if (int e = p.spans(w, h, rule, spans)) return e;
            for (const QxSpan &sp : spans)
                std::fill_n(&data[size_t(sp.y) * w + size_t(sp.x0)], sp.x1 - sp.x0, uint8_t(255));
            return 0;
        }
        if (simple)
            return qxRasterFillSimple(data.data(), w, w, h, p.pts.data(), p.counts.data(), int32_t(p.counts.size()),
                                      rule);
        return qxRasterFill(data.data(), w, w, h, p.pts.data(), p.counts.data(), int32_t(p.counts.size()), rule, aa);
    }
};

// Whether a closed contour crosses itself (checked up to 128 points; longer ones count as crossing).
bool isSimple(const Contour &c)
{
    const size_t n = c.size();
    if (n > 128) return false;
    auto side = [](const QxRasterPoint &a, const QxRasterPoint &b, const QxRasterPoint &p) {
        const double v = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
        return (v > 0) - (v < 0);
    };
    for (size_t i = 0; i < n; i++)
        for (size_t j = i + 2; j < n; j++) {
            if (i == 0 && j == n - 1) continue; // neighbours through the closing edge
            const QxRasterPoint &a = c[i], &b = c[(i + 1) % n], &p = c[j], &q = c[(j + 1) % n];
            const int s1 = side(a, b, p), s2 = side(a, b, q), s3 = side(p, q, a), s4 = side(p, q, b);
            if (s1 * s2 <= 0 && s3 * s4 <= 0) return false; // crossing or touching
        }
    return true;
}

// Runs of one pixel value stored with the widest vectors the processor has.
QX_AVX2_CLONES void fillPixels(uint32_t *d, size_t n, uint32_t v) { qxFillPixels32(d, n, v); }

// The spans, moved by (x, y) and clipped to [x0, x1) x [y0, y1).
QX_AVX2_CLONES void fillSpans32(uint32_t *pixels, size_t pitch, const QxSpan *spans, size_t count, int64_t x,
                                int64_t y, int64_t x0, int64_t x1, int64_t y0, int64_t y1, uint32_t v)
{
    for (size_t k = 0; k < count; k++) {
        const int64_t ty = y + spans[k].y;
        if (ty < y0 || ty >= y1) continue;
        const int64_t a = std::max(x + spans[k].x0, x0), b = std::min(x + spans[k].x1, x1);
        if (a < b) qxFillPixels32(pixels + size_t(ty) * pitch + size_t(a), size_t(b - a), v);
    }
}

// a * b / 255, rounded, for a and b up to 255.
inline uint8_t mul255(uint32_t a, uint32_t b)
{
    const uint32_t v = a * b + 128;
    return uint8_t((v + (v >> 8)) >> 8);
}

// Straight-alpha "over" of a colour at coverage a onto one pixel.
inline void over(uint32_t &px, uint8_t &alpha, uint32_t colour, uint32_t a)
{
    if (!a) return;
    if (a == 255 || !alpha) {
        px = colour & 0xFFFFFF;
        alpha = uint8_t(a);
        return;
    }
    const uint32_t da = alpha * (255 - a) / 255, oa = a + da;
    auto ch = [&](int sh) {
        uint32_t s = (colour >> sh) & 255, d = (px >> sh) & 255;
        return ((s * a + d * da + oa / 2) / oa) << sh;
    };
    px = ch(16) | ch(8) | ch(0);
    alpha = uint8_t(oa);
}

// Paints colour (or the fill image, positioned at fx, fy) through the coverage plane shifted by sx, sy.
void paint(std::vector<uint32_t> &px, std::vector<uint8_t> &al, int32_t w, int32_t h, const uint8_t *cov, int32_t sx,
           int32_t sy, uint32_t colour, uint32_t opacity, const std::vector<uint32_t> *image, int32_t fx, int32_t fy,
           int32_t iw, int32_t ih, bool first = false)
{
    if (first && !image && !sx && !sy) {
        // Nothing below yet: the colour everywhere, the coverage as the alpha plane.
        const size_t n = size_t(w) * h;
        const uint32_t rgb = colour & 0xFFFFFF;
        uint8_t *a = al.data();
        const uint8_t *c = cov;
        fillPixels(px.data(), n, rgb);
        if (opacity == 255) std::copy_n(c, n, a);
        else for (size_t i = 0; i < n; i++) a[i] = mul255(c[i], opacity);
        return;
    }
    for (int32_t y = std::max(0, sy); y < std::min(h, h + sy); y++) {
        const uint8_t *c = &cov[size_t(y - sy) * w];
        for (int32_t x = std::max(0, sx); x < std::min(w, w + sx); x++) {
            uint32_t a = c[x - sx];
            if (!a) continue;
            uint32_t col = colour;
            if (image) {
                int32_t ix = std::clamp(x - fx, 0, iw - 1), iy = std::clamp(y - fy, 0, ih - 1);
                col = (*image)[size_t(iy) * iw + ix];
            }
            over(px[size_t(y) * w + x], al[size_t(y) * w + x], col, mul255(a, opacity));
        }
    }
}

int fillImage(lua_State *L, const qxDrawState &s, int32_t w, int32_t h, std::vector<uint32_t> &out)
{
    out.assign(size_t(w) * h, 0);
    if (s.fillStyle == QX_FILLGRADIENT) {
        qxGradientRender g{out.data(), 4, QX_PIXFMT_ARGB32, 0, 0, w, h, w, &s.gradient};
        qxDrawGradient(&g);
        return 0;
    }
    qxBrush *brush = nullptr;
    if (int e = qxFindBrush(L, s.texture, &brush, 0)) return e;
    int32_t bw = int32_t(brush->width), bh = int32_t(brush->height);
    uint32_t *tile = bw > 0 && bh > 0 ? qxBitMapToARGB(brush->bitmap, 0, 0, bw, bh, 0) : nullptr;
    if (!tile) return bw > 0 && bh > 0 ? ERR_MEM : 0;
    // The pattern starts at the shape's position moved by the texture offsets.
    for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++) {
            int64_t tx = ((int64_t(x) + s.textureX) % bw + bw) % bw, ty = ((int64_t(y) + s.textureY) % bh + bh) % bh;
            out[size_t(y) * w + x] = tile[ty * bw + tx];
        }
    std::free(tile);
    return 0;
}

// Puts the composed image onto the current output at (x, y).
int blitComposed(lua_State *L, std::vector<uint32_t> &px, std::vector<uint8_t> &al, int32_t w, int32_t h, int32_t x,
                 int32_t y, const qxObjectStyle *style)
{
    qxBitMap *bm = nullptr, *alpha = nullptr;
    if (int e = qxShapePlanes(px.data(), al.data(), w, h, &bm, &alpha)) return e;
    int err = 0;
    if (style && (style->transparency || qxFiltersActive(&style->filters)))
        err = qxBlendWithOptions(style, L, &bm, &alpha, w, h);
    if (!err) qxBlitToOutput(L, bm, 0, 0, x, y, w, h, w, h, nullptr, alpha);
    qxFreeAlphaBitMap(alpha);
    qxFreeBitMap(bm);
    return err;
}

// A plain box of an opaque colour goes straight into the pixels of a
// selected brush that has no mask or alpha plane: no image, no blend.
// Returns false when the box needs the general way.
bool plainBoxIntoBrush(const qxShapeRecord &r, const qxDrawState &s)
{
    qxDisplay *d = qxCurrentDisplay;
    if (!d || d->layersEnabled || d->targetType != QX_OUT_BRUSH || d->clipRegion || d->doubleBuffer ||
        qxSelectMode != QX_SELMODE_NORMAL)
        return false;
    if (r.type != QX_SHAPE_BOX || r.corners[0] || r.corners[1] || r.corners[2] || r.corners[3]) return false;
    if ((r.colour >> 24) || s.fillStyle != QX_FILLCOLOR || (s.formStyle & (QX_FORM_EDGE | QX_FORM_SHADOW))) return false;
    if (r.transform && !qxMatrixIsIdentity(r.transform)) return false;
    if (r.style && (r.style->transparency || qxFiltersActive(&r.style->filters))) return false;
    qxOutputState *o = qxOutputOf(d, 0);
    int32_t tw = 0, th = 0;
    qxBitMap *bm = qxOutputBitmap(d, &tw, &th);
    if (!o || !bm || o->hardware || o->mask || o->alpha) return false;
    const double ax = r.transform ? r.transform->anchorx : 0, ay = r.transform ? r.transform->anchory : 0;
    const int64_t x0 = int64_t(qxResolvePosX(r.x, r.width, 0, ax)) - int64_t(std::trunc(r.width * ax));
    const int64_t y0 = int64_t(qxResolvePosY(r.y, r.height, 0, ay)) - int64_t(std::trunc(r.height * ay));
    const int64_t l = std::max<int64_t>(x0, 0), t = std::max<int64_t>(y0, 0);
    const int64_t rt = std::min<int64_t>(x0 + r.width, tw), b = std::min<int64_t>(y0 + r.height, th);
    if (l < rt && t < b) {
        qxRectFill(bm, int32_t(l), int32_t(t), int32_t(rt - l), int32_t(b - t), r.colour & 0xFFFFFF);
        o->record.modified = 1;
    }
    return true;
}

int renderImage(lua_State *L, const qxShapeRecord *rec, const qxDrawState *state, qxShapeImage *out,
                bool coverageOnly);

// Whether a shape of an opaque colour can be painted straight into the
// pixels of the selected brush (one without mask or alpha plane).
qxBitMap *directBrushTarget(const qxShapeRecord &r, const qxDrawState &s)
{
    qxDisplay *d = qxCurrentDisplay;
    if (!d || d->layersEnabled || d->targetType != QX_OUT_BRUSH || d->clipRegion || d->doubleBuffer ||
        qxSelectMode != QX_SELMODE_NORMAL)
        return nullptr;
    if ((r.colour >> 24) || s.fillStyle > QX_FILLCOLOR) return nullptr;
    if (r.style && (r.style->transparency || qxFiltersActive(&r.style->filters))) return nullptr;
    qxOutputState *o = qxOutputOf(d, 0);
    int32_t tw = 0, th = 0;
    qxBitMap *bm = qxOutputBitmap(d, &tw, &th);
    return o && bm && !o->hardware && !o->mask && !o->alpha ? bm : nullptr;
}

// The transform's matrix set aside: a shape becoming a layer is drawn upright and the layer turns it.
const qxTransformOptions *uprightFor(const qxTransformOptions *t, qxTransformOptions &upright)
{
    if (!t || qxMatrixIsIdentity(t)) return t;
    upright = *t;
    upright.m11 = upright.m22 = 1;
    upright.m12 = upright.m21 = 0;
    return &upright;
}

qxShapeLayerData payloadOf(const qxShapeRecord &r, const qxDrawState &state)
{
    qxShapeLayerData p{};
    p.type = r.type;
    p.x = r.x, p.y = r.y, p.width = r.width, p.height = r.height;
    p.state = state;
    p.colour = r.colour;
    std::copy_n(r.corners, 4, p.corners);
    p.rx = r.rx, p.ry = r.ry, p.start = r.start, p.end = r.end;
    p.clockwise = r.clockwise;
    p.points = const_cast<double *>(r.points); // copied by the layer constructor
    p.pointCount = r.pointCount;
    return p;
}

bool sizeOk(double w, double h) { return w >= 1 && h >= 1 && w * h <= double(kMaxPixels) && w < 1e7 && h < 1e7; }

} // namespace

int qxComposeCoverage(lua_State *L, const qxDrawState *state, uint32_t colour, const uint8_t *fillCov,
                      const uint8_t *outerCov, bool shadow, int32_t w, int32_t h, int32_t sdx, int32_t sdy,
                      int32_t fx, int32_t fy, int32_t fw, int32_t fh, qxShapeImage *out)
{
    const qxDrawState &s = *state;
    const bool border = outerCov != nullptr;
    std::vector<uint32_t> &px = out->pixels;
    std::vector<uint8_t> &al = out->alpha;
    const bool plain = !shadow && !border && s.fillStyle <= QX_FILLCOLOR;
    px.resize(size_t(w) * h); // the plain fill writes every pixel
    al.resize(size_t(w) * h);
    if (!plain) {
        std::fill(px.begin(), px.end(), 0);
        std::fill(al.begin(), al.end(), 0);
    }
    const uint32_t fillOpacity = 255 - (colour >> 24);
    if (shadow)
        paint(px, al, w, h, border ? outerCov : fillCov, sdx, sdy, s.shadowColour, 255 - (s.shadowColour >> 24),
              nullptr, 0, 0, 0, 0);
    if (border) paint(px, al, w, h, outerCov, 0, 0, s.borderColour, 255 - (s.borderColour >> 24), nullptr, 0, 0, 0, 0);
    if (s.fillStyle == QX_FILLGRADIENT || s.fillStyle == QX_FILLTEXTURE) {
        std::vector<uint32_t> image;
        if (int e = fillImage(L, s, fw, fh, image)) return e;
        paint(px, al, w, h, fillCov, 0, 0, 0, fillOpacity, &image, fx, fy, fw, fh);
    } else {
        paint(px, al, w, h, fillCov, 0, 0, colour, fillOpacity, nullptr, 0, 0, 0, 0, plain);
    }
    out->w = w, out->h = h;
    return 0;
}

bool qxPaintShapeCoverage(qxBitMap *bm, const qxShapeImage *im, int64_t x, int64_t y, uint32_t colour)
{
    qxBitMapLock l;
    if (!qxLockBitMap(bm, 0, &l)) return false;
    const bool argb = l.pixelFormat == QX_PIXFMT_ARGB32 && l.bytesPerPixel == 4;
    const uint32_t v = qxColorToPixel(colour & 0xFFFFFF, QX_PIXFMT_ARGB32, 0);
    uint32_t *pixels = static_cast<uint32_t *>(l.pixels);
    const int64_t x0 = std::max<int64_t>(x, 0), x1 = std::min<int64_t>(x + im->w, l.width);
    const int64_t y0 = std::max<int64_t>(y, 0), y1 = std::min<int64_t>(y + im->h, l.height);
    if (argb && x0 < x1 && y0 < y1 && !im->spans.empty()) {
        // Whole pixels take the colour as they are: what the blend makes of coverage 255.
        fillSpans32(pixels, l.pixelsPerRow, im->spans.data(), im->spans.size(), x, y, x0, x1, y0, y1, v);
    } else if (argb && x0 < x1 && y0 < y1 && !im->alpha.empty()) {
        const std::vector<uint32_t> row(size_t(x1 - x0), v);
        for (int64_t ty = y0; ty < y1; ty++)
            qxBlendRow32(pixels + size_t(ty) * l.pixelsPerRow + size_t(x0), row.data(),
                         &im->alpha[size_t(ty - y) * size_t(im->w) + size_t(x0 - x)], int32_t(x1 - x0));
    }
    qxUnLockBitMap(&l);
    return argb;
}

int qxBlitShapeImage(lua_State *L, qxShapeImage *im, int32_t x, int32_t y, const qxObjectStyle *style)
{
    return blitComposed(L, im->pixels, im->alpha, im->w, im->h, x, y, style);
}

void qxClampCorners(int32_t c[4])
{
    for (int i = 0; i < 4; i++) c[i] = std::clamp(c[i], 0, 100);
}

int qxRenderShape(lua_State *L, const qxShapeRecord *rec, const qxDrawState *global)
{
    if (int e = qxPrepareOutputTarget(L)) return e;
    const bool layer = qxShapeGoesToLayer();
    qxShapeRecord r = *rec;
    qxTransformOptions upright;
    if (layer) r.transform = uprightFor(rec->transform, upright);
    qxDrawState s = *global;
    const qxTransformOptions *t = r.transform;
    const double scale = t && std::isfinite(t->m11) ? std::fabs(t->m11) : 1.0;
    s.shadowSize = int32_t(std::lrint(std::min(s.shadowSize * scale, 1e6)));
    s.lineWidth = int32_t(std::lrint(std::min(s.lineWidth * scale, 1e6)));
    qxClampDrawStyle(&s);
    if (!layer && plainBoxIntoBrush(r, s)) return 0;
    qxBitMap *direct = layer ? nullptr : directBrushTarget(r, s);
    qxShapeImage im;
    try {
        if (int e = renderImage(L, &r, &s, &im, direct != nullptr)) return e;
    } catch (const std::bad_alloc &) {
        return ERR_BITMAP;
    }
    if (im.w < 1) return 0;
    const double ax = t ? t->anchorx : 0, ay = t ? t->anchory : 0;
    // The anchor point stays; a turned shape lies around it as a turned picture does.
    const int32_t x = qxResolvePosX(rec->x, rec->width, 0, ax) - int32_t(std::trunc((im.turnedW ? im.turnedW : rec->width) * ax));
    const int32_t y = qxResolvePosY(rec->y, rec->height, 0, ay) - int32_t(std::trunc((im.turnedH ? im.turnedH : rec->height) * ay));
    const double tx = double(x) + im.x, ty = double(y) + im.y;
    if (tx < INT32_MIN || tx > INT32_MAX || ty < INT32_MIN || ty > INT32_MAX) return 0;
    if (direct && im.pixels.empty()) {
        if (qxPaintShapeCoverage(direct, &im, int64_t(tx), int64_t(ty), rec->colour)) {
            qxOutputOf(qxCurrentDisplay, 0)->record.modified = 1;
            return 0;
        }
        // An unusual pixel layout: the whole image after all.
        if (int e = qxRenderShapeImage(L, &r, &s, &im)) return e;
    }
    if (layer) {
        qxShapeLayerData p = payloadOf(*rec, *global);
        p.imageX = im.x, p.imageY = im.y;
        return qxAddShapeLayer(L, &p, im.pixels.data(), im.alpha.data(), im.w, im.h, int32_t(tx), int32_t(ty),
                               rec->transform, rec->style);
    }
    return blitComposed(L, im.pixels, im.alpha, im.w, im.h, int32_t(tx), int32_t(ty), rec->style);
}

namespace {
int renderImage(lua_State *L, const qxShapeRecord *rec, const qxDrawState *state, qxShapeImage *out,
                bool coverageOnly);
}

int qxRenderShapeCoverage(lua_State *L, const qxShapeRecord *rec, const qxDrawState *state, qxShapeImage *out)
{
    try {
        return renderImage(L, rec, state, out, true);
    } catch (const std::bad_alloc &) {
        *out = qxShapeImage();
        return ERR_BITMAP;
    }
}

int qxRenderShapeImage(lua_State *L, const qxShapeRecord *rec, const qxDrawState *state, qxShapeImage *out)
{
    try {
        return renderImage(L, rec, state, out, false);
    } catch (const std::bad_alloc &) {
        *out = qxShapeImage();
        return ERR_BITMAP;
    }
}

namespace {
// coverageOnly: a shape of one colour without border and shadow hands back
// its coverage as the alpha plane and no pixels.
int renderImage(lua_State *L, const qxShapeRecord *rec, const qxDrawState *state, qxShapeImage *out,
                bool coverageOnly)
{
    const qxDrawState &s = *state;
    const qxTransformOptions *t = rec->transform;
    const bool aa = s.formStyle & QX_FORM_ANTIALIAS;
    const bool filled = s.fillStyle != QX_FILLNONE;
    const bool border = filled && (s.formStyle & QX_FORM_EDGE) && s.borderSize > 0;
    const bool shadow = filled && (s.formStyle & QX_FORM_SHADOW) && s.shadowSize > 0;

    Contour fill = outline(*rec);
    if (fill.size() < 2) return 0;
    if (transform(fill, t, rec->width, rec->height)) {
        // A turned shape starts at its position, as a turned picture does.
        Box tb;
        tb.add(fill);
        const double dx = std::floor(tb.x0), dy = std::floor(tb.y0);
        for (QxRasterPoint &p : fill) p.x -= dx, p.y -= dy;
        out->turnedW = int32_t(std::min(std::ceil(tb.x1) - dx, 1e9)), out->turnedH = int32_t(std::min(std::ceil(tb.y1) - dy, 1e9));
    }
    // An outline is the ring between the contour and the contour moved in by the line width.
    Contour inner;
    if (!filled) {
        if (fill.size() >= 3) inner = offset(fill, -double(s.lineWidth));
        // A box or curve no wider than twice the line is all line: the moved-in
        // contour turned inside out would cut it back to its ends.
        if (rec->type != QX_SHAPE_POLYGON && inner.size() >= 3 && signedArea(inner) * signedArea(fill) <= 0)
            inner.clear();
    }
    Contour grown = border && fill.size() >= 3 ? offset(fill, s.borderSize) : Contour();
    const Contour &outer = border && !grown.empty() ? grown : fill;

    Box b;
    b.add(outer);
    int32_t sl = 0, st = 0, sr = 0, sb = 0;
    if (shadow) qxShadowOffsets(s.shadowSize, int32_t(s.shadowDirection), &sl, &st, &sr, &sb);
    const int32_t sdx = sr - sl, sdy = sb - st;
    const double margin = aa ? 1 : 0;
    const double ox = std::floor(b.x0 - margin) - sl, oy = std::floor(b.y0 - margin) - st;
    const double wd = std::ceil(b.x1 + margin) + sr - ox, hd = std::ceil(b.y1 + margin) + sb - oy;
    if (!std::isfinite(ox) || !std::isfinite(oy) || std::fabs(ox) > 1e9 || std::fabs(oy) > 1e9 || !sizeOk(wd, hd))
        return wd >= 1 && hd >= 1 ? ERR_BITMAP : 0;
    const int32_t w = int32_t(wd), h = int32_t(hd);

    const std::vector<const Contour *> fillContours =
        filled || inner.size() < 3 ? std::vector<const Contour *>{&fill} : std::vector<const Contour *>{&fill, &inner};
    const QxFillRule fillRule = filled ? QX_FILL_NONZERO : QX_FILL_EVENODD;
    const bool coverage = coverageOnly && !border && !shadow && s.fillStyle <= QX_FILLCOLOR;
    out->pixels.clear();
    out->alpha.clear();
    out->spans.clear();
    if (coverage && !aa) {
        // Without anti-aliasing the coverage is whole pixels: runs of them, no plane to clear and scan.
        if (int e = Placed(fillContours, -ox, -oy).spans(w, h, fillRule, out->spans))
            return e == QX_MASK_NO_MEMORY ? ERR_MEM : ERR_WRONGUSAGE;
        out->x = int32_t(ox), out->y = int32_t(oy), out->w = w, out->h = h;
        return 0;
    }
    Plane fillCov{w, h, {}}, outerCov{w, h, {}};
    fillCov.data.assign(size_t(w) * h, 0);
    // Boxes, ellipses and arcs are simple by construction; a script's polygon may cross itself.
    const bool curve = rec->type != QX_SHAPE_POLYGON;
    const bool fillSimple = filled && aa && (curve || isSimple(fill));
    if (int e = fillCov.fill(fillContours, -ox, -oy, fillRule, aa, fillSimple))
        return e == QX_MASK_NO_MEMORY ? ERR_MEM : ERR_WRONGUSAGE;
    if (border) {
        outerCov.data.assign(size_t(w) * h, 0);
        const bool outerSimple = aa && ((curve && rec->type != QX_SHAPE_ARC) || isSimple(outer));
        if (outerCov.fill({&outer}, -ox, -oy, QX_FILL_NONZERO, aa, outerSimple)) return ERR_MEM;
    }

    if (coverage) {
        out->alpha = std::move(fillCov.data);
        out->x = int32_t(ox), out->y = int32_t(oy), out->w = w, out->h = h;
        return 0;
    }
    Box fb;
    fb.add(fill);
    const int32_t fx = int32_t(std::floor(fb.x0 - ox)), fy = int32_t(std::floor(fb.y0 - oy));
    const int32_t fw = std::max(1, int32_t(std::ceil(fb.x1 - ox)) - fx), fh = std::max(1, int32_t(std::ceil(fb.y1 - oy)) - fy);
    if (int e = qxComposeCoverage(L, &s, rec->colour, fillCov.data.data(), border ? outerCov.data.data() : nullptr,
                                  shadow, w, h, sdx, sdy, fx, fy, fw, fh, out))
        return e;
    out->x = int32_t(ox), out->y = int32_t(oy), out->w = w, out->h = h;
    return 0;
}
} // namespace

namespace {
int renderLine(lua_State *L, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour, int32_t thickness,
               int antialias, const qxTransformOptions *t, const qxObjectStyle *style);
}

int qxRenderLine(lua_State *L, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour, int32_t thickness,
                 int antialias, const qxTransformOptions *t, const qxObjectStyle *style)
{
    try {
        return renderLine(L, x1, y1, x2, y2, colour, thickness, antialias, t, style);
    } catch (const std::bad_alloc &) {
        return ERR_BITMAP;
    }
}

namespace {
int renderLine(lua_State *L, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour, int32_t thickness,
               int antialias, const qxTransformOptions *t, const qxObjectStyle *style)
{
    if (int e = qxPrepareOutputTarget(L)) return e;
    const bool layer = qxShapeGoesToLayer();
    const qxTransformOptions *given = t;
    qxTransformOptions upright;
    if (layer) t = uprightFor(t, upright);
    const int64_t left = std::min(x1, x2), top = std::min(y1, y2);
    const int64_t lw = std::llabs(int64_t(x2) - x1) + 1, lh = std::llabs(int64_t(y2) - y1) + 1;
    qxShapeImage im;
    if (int e = qxRenderLineImage(x1, y1, x2, y2, colour, thickness, antialias, t, &im)) return e;
    std::vector<uint32_t> &px = im.pixels;
    std::vector<uint8_t> &al = im.alpha;
    const int32_t w = im.w, h = im.h;
    const double tx = double(left) + im.x, ty = double(top) + im.y;
    if (tx < INT32_MIN || tx > INT32_MAX || ty < INT32_MIN || ty > INT32_MAX) return 0;
    if (layer) {
        qxShapeLayerData p{};
        p.type = QX_SHAPE_LINE;
        p.x = int32_t(left), p.y = int32_t(top), p.width = int32_t(lw), p.height = int32_t(lh);
        p.imageX = im.x, p.imageY = im.y;
        p.state = *qxGetDrawState();
        p.colour = colour;
        p.x1 = x1, p.y1 = y1, p.x2 = x2, p.y2 = y2, p.thickness = std::clamp(thickness, 1, 64);
        return qxAddShapeLayer(L, &p, px.data(), al.data(), w, h, int32_t(tx), int32_t(ty), given, style);
    }
    return blitComposed(L, px, al, w, h, int32_t(tx), int32_t(ty), style);
}
} // namespace

int qxRenderLineImage(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour, int32_t thickness,
                      int antialias, const qxTransformOptions *t, qxShapeImage *im)
{
    const int64_t left = std::min(x1, x2), top = std::min(y1, y2);
    const int64_t lw = std::llabs(int64_t(x2) - x1) + 1, lh = std::llabs(int64_t(y2) - y1) + 1;
    double p[4] = {double(x1 - left), double(y1 - top), double(x2 - left), double(y2 - top)};
    if (t && !(t->m11 == 1 && t->m12 == 0 && t->m21 == 0 && t->m22 == 1) && std::isfinite(t->m11) &&
        std::isfinite(t->m12) && std::isfinite(t->m21) && std::isfinite(t->m22)) {
        const double ax = std::trunc(lw * t->anchorx), ay = std::trunc(lh * t->anchory);
        for (int i = 0; i < 4; i += 2) {
            double dx = p[i] - ax, dy = p[i + 1] - ay;
            p[i] = std::trunc(ax + t->m11 * dx + t->m21 * dy), p[i + 1] = std::trunc(ay + t->m12 * dx + t->m22 * dy);
        }
        thickness = int32_t(std::lrint(std::clamp(thickness * std::fabs(t->m11), 0.0, 1e6)));
    }
    thickness = std::clamp(thickness, 1, 64);
    const double minX = std::min(p[0], p[2]), minY = std::min(p[1], p[3]);
    const int32_t pad = thickness / 2 + (antialias ? 3 : 1);
    const double wd = std::fabs(p[2] - p[0]) + 1 + 2 * pad, hd = std::fabs(p[3] - p[1]) + 1 + 2 * pad;
    if (!sizeOk(wd, hd)) return ERR_BITMAP;
    const int32_t w = int32_t(wd), h = int32_t(hd);
    QxMaskImage *mask = nullptr;
    uint8_t *data = nullptr;
    int32_t stride = 0;
    qxMaskCreate(w, h, &mask, &data, &stride);
    if (!mask || qxMaskStatus) return ERR_MEM;
    qxMaskDraw(mask, int32_t(p[0] - minX) + pad, int32_t(p[1] - minY) + pad, int32_t(p[2] - minX) + pad,
               int32_t(p[3] - minY) + pad, antialias, thickness);
    const int status = qxMaskStatus;
    Plane cov{w, h, {}};
    cov.data.resize(size_t(w) * h);
    for (int32_t y = 0; y < h; y++) std::copy_n(data + size_t(y) * stride, w, &cov.data[size_t(y) * w]);
    qxMaskFree(mask);
    if (status) return status == QX_MASK_NO_MEMORY ? ERR_MEM : ERR_WRONGUSAGE;
    im->pixels.assign(size_t(w) * h, 0);
    im->alpha.assign(size_t(w) * h, 0);
    paint(im->pixels, im->alpha, w, h, cov.data.data(), 0, 0, colour, 255 - (colour >> 24), nullptr, 0, 0, 0, 0, true);
    im->x = int32_t(minX) - pad, im->y = int32_t(minY) - pad, im->w = w, im->h = h;
    return 0;
}
