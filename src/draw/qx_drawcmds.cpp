// The draw library's drawing commands: Box, Circle, Ellipse, Arc, Polygon,
// Line, Plot, ReadPixel and Cls.
#include "draw/qx_drawcmds.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "display/qx_adapter.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapplanes.h"
#include "display/qx_clipregion.h"
#include "display/qx_display.h"
#include "display/qx_displaycmds.h"
#include "display/qx_displaylibs.h"
#include "display/qx_positions.h"
#include "draw/qx_drawstate.h"
#include "draw/qx_shaperender.h"
#include "draw/qx_vectorpaths.h"
#include "imaging/qx_blit.h"
#include "layers/qx_layer.h"
#include "layers/qx_sprite.h"
#include "objects/qx_displayopts.h"
#include "objects/qx_output.h"
#include "objects/qx_selection.h"

namespace {

uint32_t colourArg(lua_State *L, int arg) { return qxDrawColourArg(L, arg); }

int renderRecord(lua_State *L, qxShapeRecord &r, qxTransformOptions &o, qxObjectStyle &st)
{
    r.transform = &o;
    r.style = &st;
    if (qxForcePathUse)
        return qxDrawShapeAsPath(L, r.type, r.x, r.y, r.colour, r.width, r.height, r.corners, r.rx, r.ry, r.start,
                                 r.end, r.clockwise, r.points, r.pointCount, &o, &st);
    return qxRenderShape(L, &r, qxGetDrawState());
}

int ellipseCommand(lua_State *L, uint32_t type)
{
    const bool circle = type == QX_SHAPE_CIRCLE;
    qxCheckArgCount(L, circle ? 3 : 4, circle ? 5 : 6, 0, 0);
    qxShapeRecord r{};
    r.type = type;
    r.x = luaL_checkint(L, 1), r.y = luaL_checkint(L, 2);
    r.rx = luaL_checkint(L, 3);
    r.ry = circle ? r.rx : luaL_checkint(L, 4);
    const int c = circle ? 4 : 5;
    r.colour = colourArg(L, c);
    if ((!qxForcePathUse && (r.rx < 1 || r.ry < 1)) || r.rx > 1000000 || r.ry > 1000000 || r.rx < -1000000 ||
        r.ry < -1000000)
        return r.rx < 1 || r.ry < 1 ? ERR_WRONGUSAGE : ERR_BITMAP;
    r.width = 2 * r.rx + 1, r.height = 2 * r.ry + 1;
    r.end = 360, r.clockwise = 1;
    qxTransformOptions o{};
    qxObjectStyle st{};
    if (int e = qxReadDrawOptions(L, c + 1, r.width, r.height, &o, &st, 0, circle ? uint32_t(QX_OPT_NOROTATE) : 0u)) return e;
    return renderRecord(L, r, o, st);
}

} // namespace

uint32_t qxDrawColourArg(lua_State *L, int arg)
{
    if (lua_gettop(L) < arg) return 0;
    // The low 32 bits of the number's integer part; NaN and infinities give 0.
    const double c = luaL_checknumber(L, arg);
    return std::isfinite(c) ? uint32_t(int64_t(std::fmod(std::trunc(c), 4294967296.0))) : 0;
}

int qxDrawBox(lua_State *L, const qxDrawState *state, int32_t x, int32_t y, int32_t width, int32_t height,
              uint32_t colour, const int32_t corners[4], const qxTransformOptions *transform,
              const qxObjectStyle *style)
{
    if (width < 1 || height < 1) return ERR_WRONGUSAGE;
    qxShapeRecord r{};
    r.type = QX_SHAPE_BOX;
    r.x = x, r.y = y, r.width = width, r.height = height;
    r.colour = colour;
    if (corners) std::copy_n(corners, 4, r.corners);
    qxClampCorners(r.corners);
    r.transform = transform;
    r.style = style;
    return qxRenderShape(L, &r, state ? state : qxGetDrawState());
}

int qxCmdBox(lua_State *L)
{
    qxCheckArgCount(L, 4, 7, 0, 0);
    qxShapeRecord r{};
    r.type = QX_SHAPE_BOX;
    r.x = luaL_checkint(L, 1), r.y = luaL_checkint(L, 2);
    r.width = luaL_checkint(L, 3), r.height = luaL_checkint(L, 4);
    r.colour = colourArg(L, 5);
    if (r.width < 1 || r.height < 1) return ERR_WRONGUSAGE;
    qxTransformOptions o{};
    qxObjectStyle st{};
    if (int e = qxReadDrawOptions(L, 6, r.width, r.height, &o, &st, 1, 0)) return e;
    if (lua_istable(L, 6)) {
        int level = 0;
        if (qxGetFieldInt(L, 6, "roundlevel", &level, nullptr)) std::fill_n(r.corners, 4, level);
        static const char *const keys[4] = {"cornera", "cornerb", "cornerc", "cornerd"};
        for (int i = 0; i < 4; i++) qxGetFieldInt(L, 6, keys[i], &r.corners[i], nullptr);
    } else if (lua_gettop(L) >= 6) {
        std::fill_n(r.corners, 4, luaL_checkint(L, 6));
        qxReadDrawRotation(L, 7, r.width, r.height, &o);
    }
    qxClampCorners(r.corners);
    return renderRecord(L, r, o, st);
}

int qxCmdCircle(lua_State *L) { return ellipseCommand(L, QX_SHAPE_CIRCLE); }
int qxCmdEllipse(lua_State *L) { return ellipseCommand(L, QX_SHAPE_ELLIPSE); }

int qxCmdArc(lua_State *L)
{
    qxCheckArgCount(L, 6, 9, 0, 0);
    qxShapeRecord r{};
    r.type = QX_SHAPE_ARC;
    r.x = luaL_checkint(L, 1), r.y = luaL_checkint(L, 2);
    r.rx = luaL_checkint(L, 3), r.ry = luaL_checkint(L, 4);
    const double start = luaL_checknumber(L, 5), end = luaL_checknumber(L, 6);
    r.colour = colourArg(L, 7);
    if ((!qxForcePathUse && (r.rx < 1 || r.ry < 1)) || !(start >= 0) || !(end >= 0)) return ERR_WRONGUSAGE;
    if (std::abs(int64_t(r.rx)) > 1000000 || std::abs(int64_t(r.ry)) > 1000000) return ERR_BITMAP;
    r.start = int32_t(std::min(start, 1e9)), r.end = int32_t(std::min(end, 1e9));
    r.width = 2 * r.rx + 1, r.height = 2 * r.ry + 1;
    r.clockwise = 1;
    qxTransformOptions o{};
    qxObjectStyle st{};
    if (int e = qxReadDrawOptions(L, 8, r.width, r.height, &o, &st, 1, 0)) return e;
    if (lua_istable(L, 8)) {
        int cw = 1;
        qxGetFieldInt(L, 8, "clockwise", &cw, nullptr);
        r.clockwise = cw != 0;
    } else if (lua_gettop(L) >= 8) {
        r.clockwise = luaL_checkint(L, 8) != 0;
        qxReadDrawRotation(L, 9, r.width, r.height, &o);
    }
    if (r.start == r.end) return 0;
    return renderRecord(L, r, o, st);
}

int qxReadPolygonTable(lua_State *L, int arg, int32_t count, std::vector<double> &points, int32_t *width,
                       int32_t *height, double *minX, double *minY)
{
    points.clear();
    const int32_t limit = count > 0 ? count : 999;
    for (int32_t i = 0;; i++) {
        if (count > 0 && i == count) break;
        lua_rawgeti(L, arg, 2 * i);
        const bool end = lua_isnil(L, -1);
        lua_pop(L, 1);
        if (count == 0 && end) break;
        if (i == limit) return ERR_INTERNAL;
        for (int k = 0; k < 2; k++) {
            lua_rawgeti(L, arg, 2 * i + k);
            const bool ok = lua_type(L, -1) == LUA_TNUMBER;
            const double v = ok ? lua_tonumber(L, -1) : 0;
            lua_pop(L, 1);
            if (!ok || !std::isfinite(v) || std::fabs(v) > 1e7) {
                if (ok) return ERR_WRONGUSAGE;
                qxSetErrorString("polygon");
                return ERR_NUMTABLEARG;
            }
            points.push_back(v);
        }
    }
    if (points.size() < 4) return ERR_WRONGUSAGE;
    long lx0 = LONG_MAX, ly0 = LONG_MAX, lx1 = LONG_MIN, ly1 = LONG_MIN;
    double mx = 1e300, my = 1e300;
    for (size_t i = 0; i < points.size(); i += 2) {
        lx0 = std::min(lx0, std::lrint(points[i])), lx1 = std::max(lx1, std::lrint(points[i]));
        ly0 = std::min(ly0, std::lrint(points[i + 1])), ly1 = std::max(ly1, std::lrint(points[i + 1]));
        mx = std::min(mx, points[i]), my = std::min(my, points[i + 1]);
    }
    *width = int32_t(lx1 - lx0 + 1), *height = int32_t(ly1 - ly0 + 1);
    if (points[0] != points[points.size() - 2] || points[1] != points.back()) {
        points.push_back(points[0]);
        points.push_back(points[1]);
    }
    for (size_t i = 0; i < points.size(); i += 2) points[i] -= mx, points[i + 1] -= my;
    *minX = mx, *minY = my;
    return 0;
}

int qxCmdPolygon(lua_State *L)
{
    qxCheckArgCount(L, 4, 6, 0, 0);
    qxShapeRecord r{};
    r.type = QX_SHAPE_POLYGON;
    r.x = luaL_checkint(L, 1), r.y = luaL_checkint(L, 2);
    const int32_t count = luaL_checkint(L, 4);
    r.colour = colourArg(L, 5);
    if (count < 2 || count > 999) return ERR_WRONGUSAGE;
    if (!lua_istable(L, 3)) {
        qxSetErrorNumber(3);
        return ERR_TABEXPECTED;
    }
    std::vector<double> points;
    double mx = 0, my = 0;
    if (int e = qxReadPolygonTable(L, 3, count, points, &r.width, &r.height, &mx, &my)) return e;
    r.points = points.data();
    r.pointCount = int32_t(points.size() / 2);
    r.x = int32_t(std::clamp(r.x + std::trunc(mx), -2147483648.0, 2147483647.0));
    r.y = int32_t(std::clamp(r.y + std::trunc(my), -2147483648.0, 2147483647.0));
    qxTransformOptions o{};
    qxObjectStyle st{};
    if (int e = qxReadDrawOptions(L, 6, r.width, r.height, &o, &st, 0, 0)) return e;
    return renderRecord(L, r, o, st);
}

int qxCmdLine(lua_State *L)
{
    qxCheckArgCount(L, 4, 7, 0, 0);
    int32_t v[4];
    for (int i = 0; i < 4; i++) v[i] = luaL_checkint(L, i + 1);
    const uint32_t colour = colourArg(L, 5);
    qxTransformOptions o{};
    qxObjectStyle st{};
    if (int e = qxReadDrawOptions(L, 6, 0, 0, &o, &st, 1, QX_OPT_NOSIZE)) return e;
    int thickness = 1;
    if (lua_istable(L, 6)) {
        qxGetFieldInt(L, 6, "thickness", &thickness, nullptr);
    } else if (lua_gettop(L) >= 6) {
        thickness = luaL_checkint(L, 6);
        qxReadDrawRotation(L, 7, std::abs(v[2] - v[0]) + 1, std::abs(v[3] - v[1]) + 1, &o);
    }
    const int aa = (qxGetDrawState()->formStyle & QX_FORM_ANTIALIAS) != 0;
    return qxRenderLine(L, qxResolvePosX(v[0], 1, 0, o.anchorx), qxResolvePosY(v[1], 1, 0, o.anchory),
                        qxResolvePosX(v[2], 1, 0, o.anchorx), qxResolvePosY(v[3], 1, 0, o.anchory), colour,
                        thickness, aa, &o, &st);
}

namespace {

// Inside the current output's clip region (its rectangle and, for a shape, its mask), else the whole output.
bool pointInOutput(qxDisplay *d, int32_t x, int32_t y)
{
    int32_t w = 0, h = 0;
    qxOutputBitmap(d, &w, &h);
    int32_t cx = 0, cy = 0, cw = w, ch = h;
    auto *clip = static_cast<qxClipRegion *>(d->clipRegion);
    if (clip) cx = clip->x, cy = clip->y, cw = clip->width, ch = clip->height;
    if (x < cx || y < cy || int64_t(x) >= int64_t(cx) + cw || int64_t(y) >= int64_t(cy) + ch) return false;
    if (!clip || !clip->mask) return true;
    const qxPlane m = qxPlaneOf(static_cast<qxBitMap *>(clip->mask));
    const int32_t mx = x - cx, my = y - cy;
    return m.bytes && mx < m.width && my < m.height && qxMaskBit(m.bytes + int64_t(my) * m.bytesPerRow, mx);
}

} // namespace

int qxCmdPlot(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    qxDisplay *d = qxCurrentDisplay;
    if (!d) return 0; // no output: nothing to draw on
    if (d->layersEnabled) return ERR_LAYERSUPPORT2;
    if (int e = qxPrepareOutputTarget(L)) return e;
    const int32_t x = qxResolvePosX(luaL_checkint(L, 1), 1, 0, 0), y = qxResolvePosY(luaL_checkint(L, 2), 1, 0, 0);
    const uint32_t colour = colourArg(L, 3);
    if (!pointInOutput(d, x, y)) return 0;
    // A point under a sprite is not drawn: it would show once the sprite goes.
    if ((d->targetType == QX_OUT_DISPLAY || d->targetType == QX_OUT_BGPIC) && qxSpriteCoversPoint(qxLayerBGPic(), x, y))
        return 0;
    // An opaque pixel on the display goes straight into its window and the
    // bitmap behind it unless a playing video covers it; the window's clip
    // keeps the rectangles of the other videos, paused ones too.
    if (!(colour >> 24) && qxWindowTakesDrawing(d) &&
        !(qxDisplayVideo.videoAtPoint && qxDisplayVideo.videoAtPoint(d, x, y))) {
        int32_t w = 0, h = 0;
        qxDispWritePixel(d, x, y, colour);
        qxWritePixel(qxOutputBitmap(d, &w, &h), x, y, colour, 0);
        return 0;
    }
    // One pixel goes the way every drawing goes, so each output kind and its planes get it alike.
    qxBitMap *bm = qxAllocBitMap(1, 1, 0, nullptr);
    if (!bm) return ERR_BITMAP;
    qxRectFill(bm, 0, 0, 1, 1, colour & 0xFFFFFF);
    qxBitMap *alpha = nullptr;
    if (colour >> 24) {
        alpha = qxAllocAlphaBitMap(1, 1, 0, nullptr, 0);
        if (!alpha) {
            qxFreeBitMap(bm);
            return ERR_ALLOCALPHA;
        }
        qxFillBitMapRect(alpha, 0, 0, 1, 1, 255 - (colour >> 24));
    }
    qxBlitToOutput(L, bm, 0, 0, x, y, 1, 1, 1, 1, nullptr, alpha);
    if (alpha) qxFreeAlphaBitMap(alpha);
    qxFreeBitMap(bm);
    return 0;
}

int qxCmdReadPixel(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxDisplay *d = qxCurrentDisplay;
    if (!d) return ERR_PIXELRANGE;
    const int32_t x = qxResolvePosX(luaL_checkint(L, 1), 1, 0, 0), y = qxResolvePosY(luaL_checkint(L, 2), 1, 0, 0);
    if (!pointInOutput(d, x, y)) return ERR_PIXELRANGE;
    qxOutputState *s = qxOutputOf(d, 0);
    int32_t w = 0, h = 0;
    qxBitMap *bm = qxOutputBitmap(d, &w, &h);
    double value = 0;
    switch (d->targetType) {
    case QX_OUT_DISPLAY:
    case QX_OUT_BGPIC:
    case QX_OUT_BRUSH:
        if (d->targetType == QX_OUT_BGPIC && s) bm = s->bitmap;
        if (!bm || (s && s->hardware && d->targetType == QX_OUT_BRUSH)) return ERR_WRONGUSAGE;
        if (d->targetType == QX_OUT_DISPLAY && qxLayerScaling(d) && d->bgpic &&
            (bm->width != uint32_t(d->bgpic->width) || bm->height != uint32_t(d->bgpic->height))) {
            // The picture is composed at the window's size: the point is
            // read where the layers at it were put.
            const int32_t sx = int32_t(x * d->scaleX), sy = int32_t(y * d->scaleY);
            value = qxReadMaskPixel(bm, std::min(sx, int32_t(bm->width) - 1), std::min(sy, int32_t(bm->height) - 1), 0) &
                    0xFFFFFF;
            break;
        }
        value = qxReadMaskPixel(bm, x, y, 0) & 0xFFFFFF;
        break;
    case QX_OUT_MASK:
        if (s && s->hardware) return ERR_WRONGUSAGE;
        value = s && s->mask ? qxReadMaskPixel(s->mask, x, y, 1) : 1;
        break;
    case QX_OUT_ALPHA:
        if (s && s->hardware) return ERR_WRONGUSAGE;
        value = s && s->alpha ? qxReadMaskPixel(s->alpha, x, y, 0) : 255;
        break;
    default:
        break;
    }
    lua_pushnumber(L, value);
    return 1;
}

namespace {

void invalidateVisibleLayers(lua_State *L, qxBGPic *b)
{
    for (qxLayer *l = b->layers.first; l; l = l->next) {
        if (l->hidden) continue;
        int32_t x, y, w, h;
        qxLayerScreenRect(l, l->onscreen, &x, &y, &w, &h);
        qxInvalidateRect(L, x, y, w, h);
    }
}

} // namespace

int qxCmdCls(lua_State *L)
{
    qxCheckArgCount(L, 0, 1, 0, 0);
    const uint32_t colour = colourArg(L, 1) & 0xFFFFFF;
    qxDisplay *d = qxCurrentDisplay;
    if (!d) return 0; // no output: nothing to draw on
    if (int e = qxPrepareOutputTarget(L)) return e;
    if (d->targetType == QX_OUT_DISPLAY || d->targetType == QX_OUT_BGPIC) {
        // The display shows its BGPic as it is again, without layers or
        // sprites: the colour is not used.
        qxBGPic *bgpic = qxLayerBGPic(); // the selected BGPic, else the display's
        const bool toDisplay = d->targetType == QX_OUT_DISPLAY;
        if (d->layersEnabled && bgpic) {
            if (int r = qxRefuseHeldLayers(bgpic->layers.first)) return r;
            if (!toDisplay) invalidateVisibleLayers(L, bgpic);
            qxFreeBGPicLayers(L, bgpic, 1, 1);
        }
        // What was drawn below layers and sprites goes too, or it would come
        // back where one of them is next drawn.
        if (bgpic && bgpic == d->bgpic) qxSetLayerBackground(d, bgpic, nullptr);
        qxForgetDisplayWork(d);
        if (!d->layersEnabled && bgpic) qxClearDisplayedSprites(L, bgpic, !toDisplay);
        if (toDisplay) return qxRefreshWholeDisplay(d, 0);
        return 0;
    }
    qxOutputState *s = qxOutputOf(d, 0);
    if (!s) return 0;
    const int32_t w = s->record.width, h = s->record.height;
    // The adapter clears its own double buffer; the back buffer follows
    // quietly, for the picture EndDoubleBuffer leaves.
    if (d->doubleBufferState & QX_DBSTATE_ADAPTER) {
        qxDispCls(d, colour);
        if (s->bitmap) qxFillBitMapColour(s->bitmap, colour);
    } else if (s->bitmap) {
        qxRectFill(s->bitmap, 0, 0, w, h, colour);
    }
    // A mask or alpha channel selected alone takes the mask mode and the
    // alpha intensity, as every drawing into it does.
    const bool planeAlone = !s->bitmap;
    if (s->alpha)
        qxFillBitMapRect(s->alpha, 0, 0, w, h, planeAlone && qxAlphaIntensity != 0xFFFFFFFFu ? qxAlphaIntensity : 255);
    if (s->mask) qxMaskRowOp(s->mask, 0, 0, w, h, planeAlone ? qxMaskDrawMode : 2);
    s->record.modified = 1;
    if (d->doubleBuffer && !(d->doubleBufferState & QX_DBSTATE_ADAPTER)) qxAddDirtyRect(d, 0, 0, w, h);
    return 0;
}
