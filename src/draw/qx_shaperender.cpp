// Shape rendering: the outline as float contours, border and shadow grown
// from it, coverage by the scanline rasteriser, colours composed over a
// transparent ARGB image that goes onto the output with its alpha plane.
#include "draw/qx_shaperender.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/runtime/qx_startup.h"
#include "display/qx_bitmap.h"
#include "display/qx_adapter.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmaphost.h"
#include "display/qx_clipregion.h"
#include "display/qx_display.h"
#include "display/qx_displaylibs.h"
#include "display/qx_positions.h"
#include "draw/qx_shapelayer.h"
#include "draw/vector/qx_ftengine.h"
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

constexpr double kIdentity[4] = {1, 0, 0, 1};
// Larger images are refused rather than allocated: 1 << 26 pixels is 256 MB of ARGB.
constexpr int64_t kMaxPixels = int64_t(1) << 26;

using Points = std::vector<qxPoint>;

inline int32_t roundPoint(double v) { return int32_t(std::clamp(std::rint(v), -1e9, 1e9)); }

// An arc's angles as the tessellation takes them: clockwise, end moves on by
// whole turns until not below start, else start until not below end; both
// brought near 0 and a sweep of more than a turn held at just over one.
void arcAngles(int64_t start, int64_t end, bool clockwise, int32_t *s, int32_t *e)
{
    if (clockwise && end < start) end += (start - end + 359) / 360 * 360;
    if (!clockwise && start < end) start += (end - start + 359) / 360 * 360;
    const int64_t lo = std::min(start, end), k = (lo >= 0 ? lo / 360 : -((-lo + 359) / 360)) * 360;
    start -= k, end -= k;
    if (std::llabs(end - start) > 360) (end > start ? end : start) = std::min(start, end) + 361;
    *s = int32_t(start), *e = int32_t(end);
}

// The outline polygon of the shape built for a w x h box, closed: plain
// boxes and polygons upright, curves and rounded boxes turned by m about the
// anchor while tessellated. An arc starts with two entries more, the whole
// ellipse's box (*lead = 2), which only the measuring sees.
Points shapeOutline(const qxShapeRecord &r, int32_t w, int32_t h, const double m[4], double ax, double ay,
                    int32_t *lead)
{
    std::vector<QxPointD> d;
    QxPointD arc[kQxArcPointsMax];
    *lead = 0;
    auto append = [&](int32_t n) { d.insert(d.end(), arc, arc + n); };
    const bool rounded = r.corners[0] || r.corners[1] || r.corners[2] || r.corners[3];
    switch (r.type) {
    case QX_SHAPE_BOX:
        if (!rounded) {
            d = {{0, 0}, {w - 1.0, 0}, {w - 1.0, h - 1.0}, {0, h - 1.0}, {0, 0}};
            break;
        } else {
            const int32_t half = std::min(w, h) / 2;
            int32_t rad[4];
            for (int i = 0; i < 4; i++) {
                const double f = r.corners[i] <= 0 ? 0.01 : r.corners[i] <= 100 ? r.corners[i] / 100.0 : 1.0;
                rad[i] = int32_t(f * half);
            }
            // Top-left, bottom-left, bottom-right, top-right: anticlockwise on screen.
            const int32_t cx[4] = {rad[0], rad[1], w - 1 - rad[2], w - 1 - rad[3]};
            const int32_t cy[4] = {rad[0], h - 1 - rad[1], h - 1 - rad[2], rad[3]};
            const int32_t from[4] = {90, 180, 270, 0};
            for (int i = 0; i < 4; i++) {
                int32_t x = 0, y = 0;
                qxRotatePointAbout(cx[i], cy[i], w, h, m, &x, &y, 0.5, 0.5);
                if (rad[i] == 0) d.push_back({double(x), double(y)});
                else append(qxShapeArcPoints(arc, x, y, rad[i], rad[i], from[i], from[i] + 90, m, false, false, 0.5, 0.5));
            }
            int32_t mx = 0, my = 0, ox = 0, oy = 0;
            qxRotatePointAbout(w / 2, h / 2, w, h, m, &ox, &oy, ax, ay);
            qxRotatePointAbout(w / 2, h / 2, w, h, m, &mx, &my, 0.5, 0.5);
            for (QxPointD &p : d) p.x += ox - mx, p.y += oy - my;
        }
        break;
    case QX_SHAPE_CIRCLE:
    case QX_SHAPE_ELLIPSE:
        append(qxShapeArcPoints(arc, w / 2, h / 2, w / 2, h / 2, 0, 360, m, false, false, ax, ay));
        break;
    case QX_SHAPE_ARC: {
        int32_t s = 0, e = 0;
        arcAngles(r.start, r.end, r.clockwise != 0, &s, &e);
        append(qxShapeArcPoints(arc, w / 2, h / 2, w / 2, h / 2, -s, -e, m, true, true, ax, ay));
        *lead = 2;
        break;
    }
    case QX_SHAPE_POLYGON:
        for (int32_t i = 0; r.points && i < r.pointCount; i++) d.push_back({r.points[2 * i], r.points[2 * i + 1]});
        break;
    default: break;
    }
    Points out(d.size());
    for (size_t i = 0; i < d.size(); i++) out[i] = {roundPoint(d[i].x), roundPoint(d[i].y)};
    if (out.size() > size_t(*lead) && (out.back().x != out[size_t(*lead)].x || out.back().y != out[size_t(*lead)].y))
        out.push_back(out[size_t(*lead)]);
    return out;
}

void measure(const Points &p, int32_t *x, int32_t *y, int32_t *w, int32_t *h)
{
    int32_t x0 = 100000, y0 = 100000, x1 = -100000, y1 = -100000;
    for (const qxPoint &q : p) x0 = std::min(x0, q.x), y0 = std::min(y0, q.y), x1 = std::max(x1, q.x), y1 = std::max(y1, q.y);
    // Points may span the whole int range; the size check later refuses such boxes.
    *x = x0, *y = y0;
    *w = int32_t(std::min<int64_t>(int64_t(x1) - x0 + 1, INT32_MAX));
    *h = int32_t(std::min<int64_t>(int64_t(y1) - y0 + 1, INT32_MAX));
}

// Turns the points of a w x h box as the shape is turned and moves them to
// start at 0,0: upright outlines (plain boxes, polygons) are turned here,
// curves were turned while tessellated. The box of the result.
void placeTurned(Points &p, bool upright, const double m[4], int32_t w, int32_t h, double ax, double ay,
                 int32_t *bw, int32_t *bh)
{
    int32_t x = 0, y = 0;
    if (upright) qxShapeBounds(m, w, h, p.data(), int32_t(p.size()), 1, &x, &y, bw, bh, ax, ay);
    else qxNormalizePoints(p.data(), int32_t(p.size()), &x, &y, bw, bh);
}

// One coverage plane of the whole w x h image, rows packed.
struct Plane {
    int32_t w = 0, h = 0;
    std::vector<uint8_t> data;
};

// Rasterises the polygon (from entry lead on, moved by dx, dy) into a fresh
// plane: filled (thickness 0) or its outline.
int rasterise(const Points &p, size_t lead, int32_t dx, int32_t dy, bool aa, int32_t thickness, Plane &out)
{
    QxMaskImage *mask = nullptr;
    uint8_t *data = nullptr;
    int32_t stride = 0;
    qxMaskCreate(out.w, out.h, &mask, &data, &stride);
    if (!mask) return ERR_MEM;
    std::vector<QxMaskPoint> q;
    q.reserve(p.size() - lead);
    for (size_t i = lead; i < p.size(); i++) q.push_back({p[i].x + dx, p[i].y + dy});
    qxMaskFillPolygon(mask, q.data(), int32_t(q.size()), aa, thickness);
    const int status = qxMaskStatus;
    if (!status) {
        out.data.resize(size_t(out.w) * size_t(out.h));
        for (int32_t y = 0; y < out.h; y++)
            std::memcpy(&out.data[size_t(y) * size_t(out.w)], data + size_t(y) * size_t(stride), size_t(out.w));
    }
    qxMaskFree(mask);
    return status == QX_MASK_NO_MEMORY ? ERR_MEM : status ? ERR_WRONGUSAGE : 0;
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
        qxFillPixelRows32(px.data(), n, 1, n, rgb);
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
    if (int e = qxFindBrush(L, s.texture, &brush, QX_FIND_PENDING)) return e;
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

// Puts the composed image onto the current output at (x, y). solid: the
// image is opaque where it is drawn (no anti-aliasing, no transparency), so
// it goes with a mask: a selected mask takes it in the mask mode, a
// selected alpha channel only where the shape is.
int blitComposed(lua_State *L, std::vector<uint32_t> &px, std::vector<uint8_t> &al, int32_t w, int32_t h, int32_t x,
                 int32_t y, const qxObjectStyle *style, bool solid)
{
    qxBitMap *bm = nullptr, *alpha = nullptr, *mask = nullptr;
    if (int e = qxShapePlanes(px.data(), al.data(), w, h, &bm, &alpha)) return e;
    int err = 0;
    if (style && (style->transparency || qxFiltersActive(&style->filters))) {
        err = qxBlendWithOptions(style, L, &bm, &alpha, w, h);
    } else if (solid) {
        mask = qxAllocMaskBitMap(nullptr, uint32_t(w), uint32_t(h), 1, nullptr, 0);
        if (mask) qxAlphaToMask(alpha, 0, 0, mask, 0, 0, w, h, 2);
        else err = ERR_ALLOCMASK;
    }
    if (!err) qxBlitToOutput(L, bm, 0, 0, x, y, w, h, w, h, mask, mask ? nullptr : alpha);
    qxFreeMaskBitMap(mask);
    qxFreeAlphaBitMap(alpha);
    qxFreeBitMap(bm);
    return err;
}

// Whether a box takes the direct rectangle road: upright, square corners,
// no anti-aliasing, a 1-pixel outline or filled.
bool plainBox(const qxShapeRecord &r, const qxDrawState &s)
{
    if (r.type != QX_SHAPE_BOX || r.corners[0] || r.corners[1] || r.corners[2] || r.corners[3]) return false;
    if (s.formStyle & QX_FORM_ANTIALIAS) return false;
    if (s.fillStyle == QX_FILLNONE && s.lineWidth > 1) return false;
    if (r.transform && !qxMatrixIsIdentity(r.transform)) return false;
    return !r.style || !(r.style->transparency || qxFiltersActive(&r.style->filters));
}

// Whether the colours a shape draws with are opaque: its own, and the
// border's and shadow's where a filled shape has them.
bool opaqueColours(const qxShapeRecord &r, const qxDrawState &s)
{
    const bool filled = s.fillStyle != QX_FILLNONE;
    return !(r.colour >> 24) && !(filled && (s.formStyle & QX_FORM_EDGE) && s.borderSize > 0 && (s.borderColour >> 24)) &&
           !(filled && (s.formStyle & QX_FORM_SHADOW) && s.shadowSize > 0 && (s.shadowColour >> 24));
}

// The rectangles of a plain box, in drawing order: shadow, border, then the
// box or its outline (edges that never share a pixel); fill gets each with
// its colour.
template <typename Fill> void plainBoxRects(const qxShapeRecord &r, const qxDrawState &s, Fill fill)
{
    const double ax = r.transform ? r.transform->anchorx : 0, ay = r.transform ? r.transform->anchory : 0;
    const int64_t x0 = int64_t(qxResolvePosX(r.x, r.width, 0, ax)) - int64_t(std::trunc(r.width * ax));
    const int64_t y0 = int64_t(qxResolvePosY(r.y, r.height, 0, ay)) - int64_t(std::trunc(r.height * ay));
    const bool outline = s.fillStyle == QX_FILLNONE;
    const bool border = !outline && (s.formStyle & QX_FORM_EDGE) && s.borderSize > 0;
    const bool shadow = !outline && (s.formStyle & QX_FORM_SHADOW) && s.shadowSize > 0;
    const int64_t b = border ? s.borderSize : 0, w = r.width, h = r.height;
    if (shadow) {
        int32_t sl = 0, st = 0, sr = 0, sb = 0;
        qxShadowOffsets(s.shadowSize, int32_t(s.shadowDirection), &sl, &st, &sr, &sb);
        fill(x0 - b + sr - sl, y0 - b + sb - st, w + 2 * b, h + 2 * b, s.shadowColour);
    }
    if (border) fill(x0 - b, y0 - b, w + 2 * b, h + 2 * b, s.borderColour);
    if (!outline) {
        fill(x0, y0, w, h, r.colour);
        return;
    }
    fill(x0, y0, w, 1, r.colour);
    if (h > 1) fill(x0, y0 + h - 1, w, 1, r.colour);
    if (h > 2) {
        fill(x0, y0 + 1, 1, h - 2, r.colour);
        if (w > 1) fill(x0 + w - 1, y0 + 1, 1, h - 2, r.colour);
    }
}

// Cuts a rectangle to (cx, cy, cw, ch); false when nothing is left.
bool clipTo(int64_t &x, int64_t &y, int64_t &w, int64_t &h, int64_t cx, int64_t cy, int64_t cw, int64_t ch)
{
    const int64_t l = std::max(x, cx), t = std::max(y, cy);
    const int64_t rt = std::min(x + w, cx + cw), b = std::min(y + h, cy + ch);
    if (l >= rt || t >= b) return false;
    x = l, y = t, w = rt - l, h = b - t;
    return true;
}

// A plain box (upright, square corners, no anti-aliasing) of opaque colours
// goes straight into the pixels of a selected brush that has no mask or
// alpha plane: shadow, border and box as rectangle fills, an outline as its
// four 1-pixel edges. Returns false when the box needs the general way.
bool plainBoxIntoBrush(const qxShapeRecord &r, const qxDrawState &s)
{
    qxDisplay *d = qxCurrentDisplay;
    if (!d || d->layersEnabled || d->targetType != QX_OUT_BRUSH || d->clipRegion || d->doubleBuffer ||
        qxSelectMode != QX_SELMODE_NORMAL)
        return false;
    if (!plainBox(r, s) || !opaqueColours(r, s) || (s.fillStyle != QX_FILLNONE && s.fillStyle != QX_FILLCOLOR))
        return false;
    qxOutputState *o = qxOutputOf(d, 0);
    int32_t tw = 0, th = 0;
    qxBitMap *bm = qxOutputBitmap(d, &tw, &th);
    if (!o || !bm || o->hardware || o->mask || o->alpha) return false;
    plainBoxRects(r, s, [&](int64_t x, int64_t y, int64_t w, int64_t h, uint32_t colour) {
        if (clipTo(x, y, w, h, 0, 0, tw, th))
            qxRectFill(bm, int32_t(x), int32_t(y), int32_t(w), int32_t(h), colour & 0xFFFFFF);
    });
    o->record.modified = 1;
    return true;
}

// A selected mask or alpha channel alone (no pixel bitmap with it) that
// drawing may set directly, and the rectangle it is cut to: the clip
// region's or the output's. NULL when drawing takes the general road
// (a clip region with a mask, a hardware target, adapter double buffering).
struct PlaneTarget {
    qxBitMap *plane = nullptr;
    qxOutputState *output = nullptr;
    bool mask = false;
    int64_t cx = 0, cy = 0, cw = 0, ch = 0;

    // Sets the rectangle's bits in the mask mode, or its bytes to the alpha
    // intensity (unset: 255).
    void set(int64_t x, int64_t y, int64_t w, int64_t h) const
    {
        if (!clipTo(x, y, w, h, cx, cy, cw, ch)) return;
        if (mask) qxMaskRowOp(plane, int32_t(x), int32_t(y), int32_t(w), int32_t(h), qxMaskDrawMode);
        else qxFillBitMapRect(plane, int32_t(x), int32_t(y), int32_t(w), int32_t(h),
                              qxAlphaIntensity == 0xFFFFFFFFu ? 255 : qxAlphaIntensity);
    }
};

bool planeTarget(PlaneTarget &p)
{
    qxDisplay *d = qxCurrentDisplay;
    if (!d || (d->targetType != QX_OUT_MASK && d->targetType != QX_OUT_ALPHA)) return false;
    if (d->doubleBufferState & QX_DBSTATE_ADAPTER) return false;
    auto *clip = static_cast<const qxClipRegion *>(d->clipRegion);
    if (clip && clip->mask) return false;
    qxOutputState *o = qxOutputOf(d, 0);
    if (!o || o->hardware) return false;
    p.mask = d->targetType == QX_OUT_MASK;
    p.plane = p.mask ? o->mask : o->alpha;
    p.output = o;
    p.cw = o->record.width, p.ch = o->record.height;
    if (clip && !clipTo(p.cx, p.cy, p.cw, p.ch, clip->x, clip->y, clip->width, clip->height)) p.cw = p.ch = 0;
    return p.plane != nullptr;
}

// A plain box into a selected mask or alpha channel alone: its rectangles
// are set there directly.
bool plainBoxIntoPlane(const qxShapeRecord &r, const qxDrawState &s)
{
    PlaneTarget p;
    if (!plainBox(r, s) || !planeTarget(p)) return false;
    plainBoxRects(r, s, [&](int64_t x, int64_t y, int64_t w, int64_t h, uint32_t) { p.set(x, y, w, h); });
    p.output->record.modified = 1;
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
    if (argb && x0 < x1 && y0 < y1 && !im->alpha.empty()) {
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
    return blitComposed(L, im->pixels, im->alpha, im->w, im->h, x, y, style, false);
}

void qxDrawStyleToObjectStyle(qxDrawState *state, uint32_t *colour, qxObjectStyle *style)
{
    if (state->formStyle & QX_FORM_EDGE) {
        style->border.border = 1;
        style->border.bordercolor = state->borderColour;
        style->border.bordersize = uint32_t(std::max(state->borderSize, 0));
        state->formStyle &= ~uint32_t(QX_FORM_EDGE);
    }
    if (state->formStyle & QX_FORM_SHADOW) {
        style->shadow.shadow = 1;
        style->shadow.shadowcolor = state->shadowColour;
        style->shadow.shadowsize = uint32_t(std::max(state->shadowSize, 0));
        style->shadow.shadowdir = state->shadowDirection <= 7 ? state->shadowDirection : 3;
        state->formStyle &= ~uint32_t(QX_FORM_SHADOW);
    }
    if (!state->formStyle) state->formStyle = QX_FORM_NORMAL;
    // A wide outline is a 1-pixel one with a border of half the width in its own colour.
    if (state->fillStyle == QX_FILLNONE && state->lineWidth > 1) {
        style->border.border = 1;
        style->border.bordercolor = *colour & 0xFFFFFF;
        style->border.bordersize = uint32_t(state->lineWidth / 2);
        state->lineWidth = 1;
    }
    if (*colour >> 24) {
        style->transparency = *colour >> 24;
        *colour &= 0xFFFFFF;
    }
    style->needslayer = 1;
}

void qxClampCorners(int32_t c[4])
{
    for (int i = 0; i < 4; i++) c[i] = std::clamp(c[i], 0, 100);
}

void qxScaleDrawStyle(qxDrawState *s, const qxTransformOptions *t)
{
    // The x scale: a turn alone keeps the width, a quarter turn does not thin it.
    const double scale = t && std::isfinite(t->m11) && std::isfinite(t->m12) ? std::hypot(t->m11, t->m12) : 1.0;
    s->shadowSize = int32_t(std::lrint(std::min(s->shadowSize * scale, 1e6)));
    s->lineWidth = int32_t(std::lrint(std::min(s->lineWidth * scale, 1e6)));
}

int qxRenderShape(lua_State *L, const qxShapeRecord *rec, const qxDrawState *global)
{
    if (int e = qxPrepareOutputTarget(L)) return e;
    const bool layer = qxShapeGoesToLayer();
    qxShapeRecord r = *rec;
    qxTransformOptions upright;
    if (layer) r.transform = uprightFor(rec->transform, upright);
    qxDrawState s = *global;
    qxObjectStyle style{};
    if (rec->style) style = *rec->style;
    else qxInitObjectStyle(&style);
    // The layer draws the effects: they can be restyled and read back.
    if (layer) qxDrawStyleToObjectStyle(&s, &r.colour, &style);
    const qxTransformOptions *t = r.transform;
    qxScaleDrawStyle(&s, t);
    qxClampDrawStyle(&s);
    if (!layer && (plainBoxIntoBrush(r, s) || plainBoxIntoPlane(r, s))) return 0;
    qxBitMap *direct = layer ? nullptr : directBrushTarget(r, s);
    qxShapeImage im;
    if (int e = direct ? qxRenderShapeCoverage(L, &r, &s, &im) : qxRenderShapeImage(L, &r, &s, &im)) return e;
    if (im.w < 1) return 0;
    const double ax = t ? t->anchorx : 0, ay = t ? t->anchory : 0;
    // The anchor point stays; a turned shape lies around it as a turned picture does.
    const int32_t x = qxResolvePosX(rec->x, rec->width, 0, ax) - int32_t(std::trunc((im.turnedW ? im.turnedW : rec->width) * ax));
    const int32_t y = qxResolvePosY(rec->y, rec->height, 0, ay) - int32_t(std::trunc((im.turnedH ? im.turnedH : rec->height) * ay));
    const double tx = double(x) + im.x, ty = double(y) + im.y;
    if (tx < INT32_MIN || tx > INT32_MAX || ty < INT32_MIN || ty > INT32_MAX) return 0;
    if (direct && im.pixels.empty()) {
        if (qxPaintShapeCoverage(direct, &im, int64_t(tx), int64_t(ty), r.colour)) {
            qxOutputOf(qxCurrentDisplay, 0)->record.modified = 1;
            return 0;
        }
        // An unusual pixel layout: the whole image after all.
        if (int e = qxRenderShapeImage(L, &r, &s, &im)) return e;
    }
    if (layer) {
        qxShapeLayerData p = payloadOf(r, s);
        p.imageX = im.x, p.imageY = im.y;
        return qxAddShapeLayer(L, &p, im.pixels.data(), im.alpha.data(), im.w, im.h, int32_t(tx), int32_t(ty),
                               rec->transform, &style);
    }
    // Rendered with a mask where nothing is anti-aliased or see-through.
    const bool solid = !(s.formStyle & QX_FORM_ANTIALIAS) && opaqueColours(r, s);
    return blitComposed(L, im.pixels, im.alpha, im.w, im.h, int32_t(tx), int32_t(ty), rec->style, solid);
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
// Whether the inbuilt vector engine draws the shape: anti-aliased curves and
// rounded boxes of applets from version 6 on, unless LegacyControl asks for
// outlines of lines.
bool byVectorEngine(const qxShapeRecord &r, const qxDrawState &s)
{
    if (!(s.formStyle & QX_FORM_ANTIALIAS) || qxLineBasedShapes || !qxRequireVersion(6, 0)) return false;
    if (r.type == QX_SHAPE_BOX) return r.corners[0] || r.corners[1] || r.corners[2] || r.corners[3];
    return r.type == QX_SHAPE_CIRCLE || r.type == QX_SHAPE_ELLIPSE || r.type == QX_SHAPE_ARC;
}

// The engine's coverage of the shape grown by grow (filled, or its outline
// of the line width), measured first: the plane and its size.
int engineCoverage(const qxShapeRecord &r, const qxDrawState &s, const double m[4], uint32_t grow, bool filled,
                   Plane &out)
{
    qxFtShape f{};
    f.type = r.type, f.rx = r.rx, f.ry = r.ry, f.start = r.start, f.end = r.end;
    f.width = r.width, f.height = r.height, f.clockwise = r.clockwise;
    f.grow = grow, f.matrix = m, f.corners = r.corners;
    f.filled = filled, f.lineWidth = uint32_t(std::max(s.lineWidth, 1));
    if (!qxFtRenderShape(&f)) return ERR_WRONGUSAGE;
    f.planeWidth = std::max(f.planeWidth, 1u), f.planeHeight = std::max(f.planeHeight, 1u);
    if (!sizeOk(f.planeWidth, f.planeHeight)) return ERR_BITMAP;
    out.w = int32_t(f.planeWidth), out.h = int32_t(f.planeHeight);
    out.data.assign(size_t(out.w) * size_t(out.h), 0);
    f.target = out.data.data(), f.stride = f.planeWidth;
    return qxFtRenderShape(&f) ? 0 : ERR_WRONGUSAGE;
}

// A plane copied into a larger one of width w at (x, y).
void placePlane(const Plane &from, std::vector<uint8_t> &to, int32_t w, int32_t x, int32_t y)
{
    for (int32_t row = 0; row < from.h; row++)
        std::memcpy(&to[size_t(y + row) * size_t(w) + size_t(x)], &from.data[size_t(row) * size_t(from.w)],
                    size_t(from.w));
}

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
    const int32_t b = border ? s.borderSize : 0, lw = std::max(s.lineWidth, 1);
    const bool identity = !t || qxMatrixIsIdentity(t) || !std::isfinite(t->m11) || !std::isfinite(t->m12) ||
                          !std::isfinite(t->m21) || !std::isfinite(t->m22);
    const double turned[4] = {identity ? 1 : t->m11, identity ? 0 : t->m12, identity ? 0 : t->m21,
                              identity ? 1 : t->m22};
    const double ax = t ? t->anchorx : 0, ay = t ? t->anchory : 0;
    const bool rounded = rec->corners[0] || rec->corners[1] || rec->corners[2] || rec->corners[3];
    const bool upright = rec->type == QX_SHAPE_POLYGON || (rec->type == QX_SHAPE_BOX && !rounded);
    const bool engine = byVectorEngine(*rec, s);
    out->pixels.clear();
    out->alpha.clear();
    out->w = out->h = out->turnedW = out->turnedH = 0;
    if (int64_t(rec->width) + 2 * int64_t(b) > 1000000 || int64_t(rec->height) + 2 * int64_t(b) > 1000000)
        return ERR_BITMAP;

    // The fill and border polygons (or the engine's planes) and their boxes;
    // the border box lies at (bx, by) from the fill box's corner.
    Points fill, edge;
    int32_t lead = 0, edgeLead = 0, fw = rec->width, fh = rec->height, bx = 0, by = 0, bw = 0, bh = 0;
    Plane fillPlane, edgePlane;
    if (engine) {
        if (int e = engineCoverage(*rec, s, turned, 0, filled, fillPlane)) return e;
        fw = fillPlane.w, fh = fillPlane.h;
        if (!identity) out->turnedW = fw, out->turnedH = fh;
        if (border) {
            if (int e = engineCoverage(*rec, s, turned, uint32_t(b), true, edgePlane)) return e;
            bw = edgePlane.w, bh = edgePlane.h, bx = -(bw - fw) / 2, by = -(bh - fh) / 2;
        }
    } else {
        fill = shapeOutline(*rec, rec->width, rec->height, upright ? kIdentity : turned, ax, ay, &lead);
        if (fill.size() < size_t(lead) + 2) return 0;
        if (!identity) {
            placeTurned(fill, upright, turned, rec->width, rec->height, ax, ay, &fw, &fh);
            out->turnedW = fw, out->turnedH = fh;
        }
        if (border && rec->type == QX_SHAPE_POLYGON) {
            // The outline moved outwards, mitred.
            edge.resize(std::max<size_t>(fill.size() + 1, 5));
            edge.resize(size_t(qxBorderPolygon(fill.data(), int32_t(fill.size()), b, edge.data(), &bx, &by)));
            int32_t x = 0, y = 0;
            measure(edge, &x, &y, &bw, &bh);
        } else if (border) {
            // The same shape built for a box grown by the border each way.
            const int32_t gw = rec->width + 2 * b, gh = rec->height + 2 * b;
            edge = shapeOutline(*rec, gw, gh, upright ? kIdentity : turned, ax, ay, &edgeLead);
            if (identity) {
                bx = by = -b, bw = gw, bh = gh;
            } else {
                placeTurned(edge, upright, turned, gw, gh, ax, ay, &bw, &bh);
                bx = -(bw - fw) / 2, by = -(bh - fh) / 2;
            }
        }
    }

    // The whole image: fill and border boxes, the shadow beside them, the
    // anti-aliasing margin and an outline's width around the polygon path.
    const int64_t ux0 = std::min(0, bx), uy0 = std::min(0, by);
    const int64_t ux1 = std::max<int64_t>(fw, int64_t(bx) + bw), uy1 = std::max<int64_t>(fh, int64_t(by) + bh);
    // Sizes from the script may be anything: check before the margins grow them.
    if (!sizeOk(double(ux1 - ux0), double(uy1 - uy0))) return ERR_BITMAP;
    int32_t w = int32_t(ux1 - ux0), h = int32_t(uy1 - uy0);
    int32_t sl = 0, st = 0, sr = 0, sb = 0;
    if (shadow) {
        qxShadowOffsets(s.shadowSize, int32_t(s.shadowDirection), &sl, &st, &sr, &sb);
        qxGrowByShadow(int32_t(s.shadowDirection), s.shadowSize, &w, &h);
    }
    int64_t pad = 0, grownW = w, grownH = h;
    if (!engine && aa) grownW += 5, grownH += 5, pad += 2;
    if (!filled && lw > 1) {
        if (!engine) grownW += lw, grownH += lw;
        pad += lw / 2;
    }
    if (!sizeOk(double(grownW), double(grownH)) || pad > kMaxPixels) return ERR_BITMAP;
    w = int32_t(grownW), h = int32_t(grownH);
    const int32_t dx = int32_t(-ux0) + sl + pad, dy = int32_t(-uy0) + st + pad;

    Plane fillCov{w, h, {}}, edgeCov{w, h, {}};
    if (engine) {
        fillCov.data.assign(size_t(w) * size_t(h), 0);
        placePlane(fillPlane, fillCov.data, w, dx - (filled ? 0 : pad), dy - (filled ? 0 : pad));
        if (border) {
            edgeCov.data.assign(size_t(w) * size_t(h), 0);
            placePlane(edgePlane, edgeCov.data, w, dx + bx, dy + by);
        }
    } else {
        if (int e = rasterise(fill, size_t(lead), dx, dy, aa, filled ? 0 : lw, fillCov)) return e;
        if (rec->type == QX_SHAPE_BOX && !rounded && rec->width == 1 && rec->height == 1 && lw == 1) {
            // A 1 x 1 box is one whole pixel; the rasteriser would only smear
            // a little coverage over it and its neighbour.
            const int64_t px = int64_t(fill[size_t(lead)].x) + dx, py = int64_t(fill[size_t(lead)].y) + dy;
            std::fill(fillCov.data.begin(), fillCov.data.end(), uint8_t(0));
            if (px >= 0 && py >= 0 && px < w && py < h) fillCov.data[size_t(py) * size_t(w) + size_t(px)] = 255;
        }
        if (border)
            if (int e = rasterise(edge, size_t(edgeLead), dx + bx, dy + by, aa, 0, edgeCov)) return e;
    }

    out->x = -dx, out->y = -dy, out->w = w, out->h = h;
    if (coverageOnly && !border && !shadow && s.fillStyle <= QX_FILLCOLOR) {
        out->alpha = std::move(fillCov.data);
        return 0;
    }
    const int32_t fx = dx - (aa && !engine ? 2 : 0), fy = dy - (aa && !engine ? 2 : 0);
    const int32_t gw = fw + (aa && !engine ? 5 : 0), gh = fh + (aa && !engine ? 5 : 0);
    if (int e = qxComposeCoverage(L, &s, rec->colour, fillCov.data.data(), border ? edgeCov.data.data() : nullptr,
                                  shadow, w, h, sr - sl, sb - st, fx, fy, gw, gh, out))
        return e;
    out->x = -dx, out->y = -dy, out->w = w, out->h = h;
    return 0;
}
} // namespace

namespace {
int renderLine(lua_State *L, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour, int32_t thickness,
               int antialias, const qxTransformOptions *t, const qxObjectStyle *style);

bool turns(const qxTransformOptions *t)
{
    return t && !(t->m11 == 1 && t->m12 == 0 && t->m21 == 0 && t->m22 == 1) && std::isfinite(t->m11) &&
           std::isfinite(t->m12) && std::isfinite(t->m21) && std::isfinite(t->m22);
}

// A line's thickness as drawn: scaled by the transform's x scale (|m11|
// unturned; a turn alone keeps it, a quarter turn does not thin it), 1 to 64.
int32_t lineThickness(int32_t thickness, const qxTransformOptions *t)
{
    if (turns(t)) thickness = int32_t(std::lrint(std::clamp(thickness * std::hypot(t->m11, t->m12), 0.0, 1e6)));
    return std::clamp(thickness, 1, 64);
}
}

namespace {
// The display output takes plain drawing straight into its work bitmap;
// scaledToo admits an autoscaled display, whose window then gets the
// changed part of that bitmap through the window's road.
bool takesDirect(const qxDisplay *d, bool scaledToo)
{
    if (!d || !d->bgpic || d->layersEnabled || d->refreshMode || d->bgpic->sprites) return false;
    if (d->targetType != QX_OUT_DISPLAY && !(d->doubleBufferState & QX_DBSTATE_ADAPTER)) return false;
    if (d->scaledWidth && d->scaledHeight && !(scaledToo && d->autoScale && !d->layerScale)) return false;
    auto *clip = static_cast<const qxClipRegion *>(d->clipRegion);
    return !clip || !clip->mask;
}

// The window's own clip keeps every attached video's rectangle, a paused
// one's still included; only a playing video keeps drawing out.
bool videoPlays(const qxDisplay *d)
{
    return qxDisplayVideo.videoPlays && qxDisplayVideo.videoPlays(const_cast<qxDisplay *>(d));
}
} // namespace

bool qxWindowTakesDrawing(const qxDisplay *d) { return takesDirect(d, false); }

bool qxDrawsIntoWindow(const qxDisplay *d) { return qxWindowTakesDrawing(d) && !videoPlays(d); }

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
    // A plain opaque line goes straight into the window and the bitmap
    // behind it, clipped to the clip rectangle or the output.
    // On an autoscaled display the line goes into the work bitmap alike and
    // the window gets its box's part of the scaled picture.
    qxDisplay *d = qxCurrentDisplay;
    const bool straight = !t || (t->m11 == 1 && t->m12 == 0 && t->m21 == 0 && t->m22 == 1);
    const bool scaled = d && d->scaledWidth && d->scaledHeight;
    if (!layer && thickness <= 1 && !antialias && straight && !(colour >> 24) && takesDirect(d, true) &&
        !videoPlays(d) && !d->bgpic->alpha) {
        int32_t w = 0, h = 0;
        qxBitMap *target = qxOutputBitmap(d, &w, &h);
        int32_t cx = 0, cy = 0, cw = w, ch = h;
        if (auto *clip = static_cast<const qxClipRegion *>(d->clipRegion))
            cx = clip->x, cy = clip->y, cw = clip->width, ch = clip->height;
        if (cw < 1 || ch < 1 || !qxClipLineSpan(&x1, &y1, &x2, &y2, cx, cx + cw - 1, 0) ||
            !qxClipLineSpan(&x1, &y1, &x2, &y2, cy, cy + ch - 1, 1))
            return 0;
        qxDrawLine(target, x1, y1, x2, y2, colour);
        if (scaled)
            qxPutToWindow(d, target, std::min(x1, x2), std::min(y1, y2), std::abs(x2 - x1) + 1,
                          std::abs(y2 - y1) + 1);
        else
            qxDispLine(d, x1, y1, x2, y2, colour);
        return 0;
    }
    // A 1-pixel line into a selected mask or alpha channel alone sets its
    // pixels there, in the mask mode or to the alpha intensity.
    PlaneTarget plane;
    if (!layer && lineThickness(thickness, t) == 1 && planeTarget(plane)) {
        qxShapeImage im;
        if (int e = qxRenderLineImage(x1, y1, x2, y2, 0, thickness, 0, t, &im)) return e;
        const int64_t left = std::min(x1, x2), top = std::min(y1, y2);
        for (int32_t j = 0; j < im.h; j++)
            for (int32_t i = 0; i < im.w; i++)
                if (im.alpha[size_t(j) * size_t(im.w) + size_t(i)] == 255)
                    plane.set(left + im.x + i, top + im.y + j, 1, 1);
        plane.output->record.modified = 1;
        return 0;
    }
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
    return blitComposed(L, px, al, w, h, int32_t(tx), int32_t(ty), style, !antialias && !(colour >> 24));
}
} // namespace

int qxRenderLineImage(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour, int32_t thickness,
                      int antialias, const qxTransformOptions *t, qxShapeImage *im)
{
    const int64_t left = std::min(x1, x2), top = std::min(y1, y2);
    const int64_t lw = std::llabs(int64_t(x2) - x1) + 1, lh = std::llabs(int64_t(y2) - y1) + 1;
    double p[4] = {double(x1 - left), double(y1 - top), double(x2 - left), double(y2 - top)};
    if (turns(t)) {
        const double ax = std::trunc(lw * t->anchorx), ay = std::trunc(lh * t->anchory);
        for (int i = 0; i < 4; i += 2) {
            double dx = p[i] - ax, dy = p[i + 1] - ay;
            p[i] = std::trunc(ax + t->m11 * dx + t->m21 * dy), p[i + 1] = std::trunc(ay + t->m12 * dx + t->m22 * dy);
        }
    }
    thickness = lineThickness(thickness, t);
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
