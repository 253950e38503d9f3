#include "draw/qx_pathrender.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "display/qx_display.h"
#include "display/qx_positions.h"
#include "draw/qx_shaperender.h"
#include "draw/qx_vectorengines.h"
#include "draw/vector/qx_shapegeom.h"
#include "layers/qx_layer.h"
#include "objects/qx_displayopts.h"
#include "objects/qx_selection.h"
#include "platform/qx_errcodes.h"

namespace {

const double kIdentity[4] = {1, 0, 0, 1};
// Larger images are refused rather than allocated (256 MB of ARGB).
constexpr double kMaxPixels = double(int64_t(1) << 26);

qxEngineState engineState(const qxVectorState &v, bool antialias)
{
    qxEngineState s{};
    s.lineJoin = uint32_t(v.lineJoin), s.lineCap = uint32_t(v.lineCap), s.fillRule = uint32_t(v.fillRule);
    s.antialias = antialias;
    s.dashOffset = v.dashOffset, s.dashArray = v.dashArray, s.dashCount = uint32_t(std::max(v.dashCount, 0));
    s.miterLimit = v.miterLimit;
    return s;
}

const qxVectorEngine *engineOf(const qxShapeLayerData &d) { return d.engine ? d.engine : &qxInbuiltVectorEngine; }

// One coverage: the box the engine reports, in whole pixels.
struct Coverage {
    uint32_t fill, width;
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    int32_t ix = 0, iy = 0, w = 0, h = 0;
    bool measure(const qxShapeLayerData &d, double cx, double cy, const double *m)
    {
        qxEngineGetPathExtents(engineOf(d), d.items, &d.vector, fill, width, -cx, -cy, m, &x1, &y1, &x2, &y2);
        if (!std::isfinite(x1) || !std::isfinite(y1) || !std::isfinite(x2) || !std::isfinite(y2)) return false;
        const double fx = std::floor(x1), fy = std::floor(y1), fw = std::ceil(x2) - fx, fh = std::ceil(y2) - fy;
        if (std::fabs(fx) > 1e9 || std::fabs(fy) > 1e9 || !(fw >= 1) || !(fh >= 1) || fw * fh > kMaxPixels)
            return false;
        ix = int32_t(fx), iy = int32_t(fy), w = int32_t(fw), h = int32_t(fh);
        return true;
    }
    // Into the plane (stride pixels a row) at (px, py).
    bool draw(const qxShapeLayerData &d, double cx, double cy, const double *m, uint8_t *plane, int32_t stride,
              int32_t px, int32_t py) const
    {
        qxEngineState st = engineState(d.vector, d.state.formStyle & QX_FORM_ANTIALIAS);
        qxPathDrawRequest r{};
        r.items = d.items, r.state = &st, r.fill = fill, r.lineWidth = width;
        r.target = plane + size_t(py) * size_t(stride) + size_t(px);
        r.stride = uint32_t(stride), r.width = uint32_t(w), r.height = uint32_t(h);
        const qxVectorEngine *e = engineOf(d);
        // Pair A stays (0, 0). A plug-in engine gets the corner of the
        // extents it measured in pair B (with the turning point added, as it
        // measured them about it); the inbuilt one crops its outline to its
        // extents itself and takes only the turning point.
        if (e == &qxInbuiltVectorEngine) r.bx = cx, r.by = cy;
        else r.bx = cx + x1, r.by = cy + y1;
        r.matrix = m;
        return e->DrawPath && e->DrawPath(&r) != 0;
    }
};

} // namespace

void qxEngineGetPathExtents(const qxVectorEngine *engine, const uint8_t *items, const qxVectorState *vector,
                            uint32_t fill, uint32_t lineWidth, double dx, double dy, const double *matrix, double *x1,
                            double *y1, double *x2, double *y2)
{
    qxEngineState st = engineState(*vector, false);
    qxPathExtentsRequest r{};
    r.items = items, r.state = &st, r.fill = fill, r.lineWidth = lineWidth;
    r.dx = dx, r.dy = dy;
    r.x1 = *x1, r.y1 = *y1, r.x2 = *x2, r.y2 = *y2;
    r.matrix = matrix ? matrix : kIdentity;
    if (engine && engine->GetPathExtents) engine->GetPathExtents(&r);
    *x1 = r.x1, *y1 = r.y1, *x2 = r.x2, *y2 = r.y2;
}

namespace {

// The path's picture at the matrix m (null: upright), turned about the
// point centre or, without one, the anchor (ax, ay) of its box or, without
// either, its origin; where its top-left lies relative to the origin goes
// to (left, top).
int paintPath(lua_State *L, const qxShapeLayerData &pathOf, const double *m, const double *anchor, const double *centre,
              qxShapeImage *im, int32_t *W, int32_t *H, double *left, double *top)
{
    std::vector<uint8_t> ownItems;
    const uint8_t *items = nullptr;
    if (int e = qxItemsForEngine(pathOf.items, pathOf.capacity, engineOf(pathOf), ownItems, &items)) return e;
    qxShapeLayerData d = pathOf;
    d.items = const_cast<uint8_t *>(items); // read only
    const qxDrawState &s = d.state;
    const bool filled = s.fillStyle != QX_FILLNONE;
    const bool edge = filled && (s.formStyle & QX_FORM_EDGE);
    const bool shadow = filled && (s.formStyle & QX_FORM_SHADOW);
    // The main coverage: the filled shape, its outline for FILLNONE, or the
    // outline reaching the border size beyond the path for an edge.
    Coverage main{filled && !edge ? 1u : 0u, uint32_t(edge ? 2 * s.borderSize : s.lineWidth)};
    Coverage inner{1, 1};
    double cx = 0, cy = 0;
    if (!main.measure(d, 0, 0, nullptr)) return ERR_EMPTYPATH;
    if (m) {
        if (centre)
            cx = centre[0], cy = centre[1];
        else if (anchor)
            cx = main.x1 + (main.x2 - main.x1) * anchor[0], cy = main.y1 + (main.y2 - main.y1) * anchor[1];
        if (!main.measure(d, cx, cy, m)) return ERR_EMPTYPATH;
    } else {
        m = kIdentity;
    }
    if (edge && !inner.measure(d, cx, cy, m)) return ERR_EMPTYPATH;
    int32_t sl = 0, st = 0, sr = 0, sb = 0;
    if (shadow) qxShadowOffsets(s.shadowSize, int32_t(s.shadowDirection), &sl, &st, &sr, &sb);
    *W = main.w + sl + sr, *H = main.h + st + sb;
    if (double(*W) * *H > kMaxPixels) return ERR_BITMAP;
    std::vector<uint8_t> mainCov(size_t(*W) * *H, 0), fillCov;
    if (!main.draw(d, cx, cy, m, mainCov.data(), *W, sl, st)) return ERR_DRAWPATH;
    int32_t fx = sl, fy = st, fw = main.w, fh = main.h;
    if (edge) {
        // The border is the outline together with the filled shape inside it.
        fillCov.assign(size_t(*W) * *H, 0);
        fx = std::clamp(inner.ix - main.ix, 0, main.w - 1) + sl, fy = std::clamp(inner.iy - main.iy, 0, main.h - 1) + st;
        inner.w = std::min(inner.w, *W - fx), inner.h = std::min(inner.h, *H - fy);
        fw = inner.w, fh = inner.h;
        if (!inner.draw(d, cx, cy, m, fillCov.data(), *W, fx, fy)) return ERR_DRAWPATH;
        for (size_t i = 0; i < mainCov.size(); i++) mainCov[i] = std::max(mainCov[i], fillCov[i]);
    }
    const uint8_t *fillPlane = edge ? fillCov.data() : mainCov.data();
    if (int e = qxComposeCoverage(L, &s, d.colour, fillPlane, edge ? mainCov.data() : nullptr, shadow, *W, *H, sr - sl,
                                  sb - st, fx, fy, fw, fh, im))
        return e;
    *left = std::floor(cx) + main.ix - sl, *top = std::floor(cy) + main.iy - st;
    return 0;
}

int renderPath(lua_State *L, int32_t x, int32_t y, const qxShapeLayerData *data, const qxTransformOptions *t,
               const qxObjectStyle *style)
{
    if (!data->items) return ERR_EMPTYPATH;
    if (int e = qxPrepareOutputTarget(L)) return e;
    const bool layer = qxShapeGoesToLayer();
    qxShapeLayerData d = *data;
    qxObjectStyle own{};
    if (layer) {
        // The layer draws edge and shadow: they can be restyled and read back.
        if (style) own = *style;
        else qxInitObjectStyle(&own);
        qxDrawStyleToObjectStyle(&d.state, &d.colour, &own);
        style = &own;
    }
    qxClampDrawStyle(&d.state);
    // A layer turns the picture itself; drawn directly, the path turns about its anchor.
    const bool turn = !layer && t && !qxMatrixIsIdentity(t) && std::isfinite(t->m11) && std::isfinite(t->m12) &&
                      std::isfinite(t->m21) && std::isfinite(t->m22);
    const double m[4] = {turn ? t->m11 : 1, turn ? t->m12 : 0, turn ? t->m21 : 0, turn ? t->m22 : 1};
    const double anchor[2] = {turn ? t->anchorx : 0, turn ? t->anchory : 0};
    qxShapeImage im;
    int32_t W = 0, H = 0;
    double ox = 0, oy = 0;
    if (int e = paintPath(L, d, turn ? m : nullptr, anchor, nullptr, &im, &W, &H, &ox, &oy)) return e;
    d.imageX = int32_t(ox), d.imageY = int32_t(oy);
    const double ax = t ? t->anchorx : 0, ay = t ? t->anchory : 0;
    const double left = double(qxResolvePosX(x, W, 0, ax)) + ox;
    const double top = double(qxResolvePosY(y, H, 0, ay)) + oy;
    if (std::fabs(left) > INT32_MAX || std::fabs(top) > INT32_MAX) return 0;
    if (layer)
        return qxAddShapeLayer(L, &d, im.pixels.data(), im.alpha.data(), im.w, im.h, int32_t(left), int32_t(top), t,
                               style);
    return qxBlitShapeImage(L, &im, int32_t(left), int32_t(top), style);
}

} // namespace

int qxRenderPathLayerImage(lua_State *L, const qxShapeLayerData *data, qxShapeImage *image, int32_t *offX,
                           int32_t *offY)
{
    int32_t w = 0, h = 0;
    double left = 0, top = 0;
    if (int e = qxRenderPathImage(L, data, nullptr, image, &w, &h, &left, &top)) return e;
    *offX = int32_t(left), *offY = int32_t(top);
    return 0;
}

int qxRenderPath(lua_State *L, int32_t x, int32_t y, const qxShapeLayerData *data, const qxTransformOptions *t,
                 const qxObjectStyle *style)
{
    try {
        return renderPath(L, x, y, data, t, style);
    } catch (const std::bad_alloc &) {
        return ERR_BITMAP;
    }
}

int qxRenderPathImage(lua_State *L, const qxShapeLayerData *data, const double *matrix, qxShapeImage *image,
                      int32_t *width, int32_t *height, double *left, double *top, const double *centre)
{
    if (!data->items) return ERR_EMPTYPATH;
    qxShapeLayerData d = *data;
    qxClampDrawStyle(&d.state);
    try {
        return paintPath(L, d, matrix, nullptr, centre, image, width, height, left, top);
    } catch (const std::bad_alloc &) {
        return ERR_BITMAP;
    }
}

int qxPathTransform(lua_State *L, const qxLayer *layer, const qxLayerData *base, const qxTransformOptions *t,
                    qxBitMap **bitmap, qxBitMap **alpha, int32_t *dx, int32_t *dy, int32_t *width, int32_t *height)
{
    *bitmap = *alpha = nullptr;
    const auto *s = static_cast<const qxShapeLayerData *>(base->typedata);
    if (!s || !s->items) return ERR_EMPTYPATH;
    const double m[4] = {t->m11, t->m12, t->m21, t->m22};
    for (double v : m)
        if (!std::isfinite(v) || std::fabs(v) > 1e6) return ERR_WRONGUSAGE;
    // The path turns about the layer's anchor point, as its picture would.
    const double c[2] = {double(s->imageX) + std::trunc(base->width * layer->anchorx),
                         double(s->imageY) + std::trunc(base->height * layer->anchory)};
    qxShapeImage im;
    int32_t w = 0, h = 0;
    double left = 0, top = 0;
    if (int e = qxRenderPathImage(L, s, m, &im, &w, &h, &left, &top, c)) return e;
    if (std::fabs(left - c[0]) > 1e9 || std::fabs(top - c[1]) > 1e9) return ERR_BITMAP;
    *dx = int32_t(left - c[0]), *dy = int32_t(top - c[1]);
    *width = im.w, *height = im.h;
    return qxShapePlanes(im.pixels.data(), im.alpha.data(), im.w, im.h, bitmap, alpha);
}
