// The brush image commands: each finds the brush for modification (never
// the active output, copy-on-write for layers) and runs a kernel on its
// planes.
#include "objects/qx_brushimage.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/vm/lauxlib.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapeffects.h"
#include "display/qx_bitmapplanes.h"
#include "display/qx_bitmapquantize.h"
#include "display/qx_bitmapscale.h"
#include "display/qx_bitmaptransform.h"
#include "display/qx_gfxgeom.h"
#include "display/qx_positions.h"
#include "imaging/qx_blit.h"
#include "imaging/qx_coloreffects.h"
#include "imaging/qx_colorkeys.h"
#include "imaging/qx_pixelformat.h"
#include "objects/qx_bgpicobj.h"
#include "objects/qx_displayopts.h"
#include "objects/qx_brush.h"
#include "objects/qx_brushinternal.h"
#include "objects/qx_objargs.h"
#include "objects/qx_objectuse.h"
#include "objects/qx_selection.h"
#include "objects/qx_picsource.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

extern "C" int qxFloodFillBitMap(qxBitMap *bitmap, int32_t width, int32_t height, int32_t x, int32_t y,
                                 uint32_t colour, uint32_t border);

namespace {

qxBrushSourceEntry sources[QX_BRUSHSOURCE_SLOTS];

// Rules 2 and 3 of every modifying command.
int findForModify(lua_State *L, qxObjectRef ref, qxBrush **out, uint32_t flags = QX_FIND_MODIFY | QX_FIND_NOVECTOR)
{
    if (qxIsSelectedObject(QX_TYPE_BRUSH, ref))
        return ERR_MODIFYABR;
    if (int r = qxFindBrush(L, ref, out, flags))
        return r;
    if (!(*out)->bitmap && (*out)->kind != QX_BRUSH_VECTOR)
        return ERR_BITMAP;
    return 0;
}

int W(const qxBrush *b) { return int32_t(b->width); }
int H(const qxBrush *b) { return int32_t(b->height); }

double percentArg(lua_State *L, int narg, double base)
{
    return qxGetNumberOrPercentArg(L, narg, base, 1, nullptr);
}

// Brush, then the kernel on it: the shape shared by the one-plane effects.
template <typename F>
int withBrush(lua_State *L, F kernel)
{
    qxBrush *b = nullptr;
    if (int r = findForModify(L, qxGetObjectIDArg(L, 1), &b))
        return r;
    return kernel(b);
}

int cmdSolarize(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    const double t = percentArg(L, 2, 255);
    return withBrush(L, [&](qxBrush *b) { return qxSolarizeBitmap(b->bitmap, W(b), H(b), int32_t(t)); });
}

int convolve(lua_State *L, uint32_t mode, bool withSigma, double fixedSigma)
{
    qxCheckArgCount(L, 1, withSigma ? 3 : 2, 0, 0);
    const double radius = luaL_optnumber(L, 2, 0);
    const double sigma = withSigma ? luaL_optnumber(L, 3, radius / 3.0) : fixedSigma;
    if (!(radius >= 0) || !std::isfinite(sigma))
        return ERR_WRONGUSAGE;
    return withBrush(L, [&](qxBrush *b) { return qxConvolve(mode, b->bitmap, b->alpha, W(b), H(b), nullptr, radius, sigma); });
}

int cmdBlur(lua_State *L) { return convolve(L, 'b', true, 0); }
int cmdSharpen(lua_State *L) { return convolve(L, 's', false, 1.0); }
int cmdEdge(lua_State *L) { return convolve(L, 'g', false, 0.0); }
int cmdEmboss(lua_State *L) { return convolve(L, 'e', false, 1.0); }

int cmdOilPaint(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    const double amount = luaL_checknumber(L, 2);
    if (!(amount >= 0))
        return ERR_WRONGUSAGE;
    return withBrush(L, [&](qxBrush *b) { return qxOilPaintBitmap(b->bitmap, W(b), H(b), amount); });
}

int cmdCharcoal(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    const double amount = luaL_checknumber(L, 2);
    if (!(amount >= 0))
        return ERR_WRONGUSAGE;
    return withBrush(L, [&](qxBrush *b) { return qxCharcoalBitmap(b->bitmap, b->alpha, W(b), H(b), amount, 1.0); });
}

int cmdModulate(lua_State *L)
{
    qxCheckArgCount(L, 4, 4, 0, 0);
    const double br = luaL_checknumber(L, 2), sat = luaL_checknumber(L, 3), hue = luaL_checknumber(L, 4);
    if (!(br >= 0) || !(sat >= 0) || !(hue >= 0))
        return ERR_WRONGUSAGE;
    return withBrush(L, [&](qxBrush *b) { return qxModulateBitmap(b->bitmap, W(b), H(b), br, sat, hue); });
}

int cmdContrast(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    const int sharpen = lua_toboolean(L, 2) && !(lua_isnumber(L, 2) && lua_tonumber(L, 2) == 0);
    const int64_t level = qxTruncToInt64(luaL_optnumber(L, 3, 1));
    if (level < 1 || level > 0x7FFFFFFF)
        return ERR_WRONGUSAGE;
    return withBrush(L, [&](qxBrush *b) { return qxContrastBitmap(b->bitmap, W(b), H(b), sharpen, int32_t(level), nullptr); });
}

int cmdGamma(lua_State *L)
{
    qxCheckArgCount(L, 4, 4, 0, 0);
    const double r = luaL_checknumber(L, 2), g = luaL_checknumber(L, 3), bl = luaL_checknumber(L, 4);
    return withBrush(L, [&](qxBrush *b) { return qxGammaBitmap(b->bitmap, W(b), H(b), r, g, bl); });
}

int cmdSepia(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    const double t = percentArg(L, 2, 255);
    return withBrush(L, [&](qxBrush *b) { return qxSepiaBitmap(b->bitmap, W(b), H(b), int32_t(t)); });
}

int cmdSwirl(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    const double degrees = luaL_checknumber(L, 2);
    if (!std::isfinite(degrees))
        return ERR_WRONGUSAGE;
    return withBrush(L, [&](qxBrush *b) { return qxSwirlBitmap(b->bitmap, b->mask, b->alpha, W(b), H(b), degrees); });
}

int cmdPixelate(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    const int64_t size = qxTruncToInt64(luaL_checknumber(L, 2));
    return withBrush(L, [&](qxBrush *b) {
        if (size < 1 || size > int64_t(b->width) || size > int64_t(b->height))
            return int(ERR_WRONGUSAGE);
        return qxPixelateBitmap(b->bitmap, b->mask, b->alpha, W(b), H(b), int32_t(size));
    });
}

int cmdWaterRipple(lua_State *L)
{
    qxCheckArgCount(L, 1, 6, 0, 0);
    const double wave = luaL_optnumber(L, 2, 32), amplitude = luaL_optnumber(L, 3, 1);
    const double phase = luaL_optnumber(L, 4, 0);
    // The centre stays a fraction of the size: the kernel places it.
    const double cx = std::clamp(luaL_optnumber(L, 5, 0.5), 0.0, 1.0), cy = std::clamp(luaL_optnumber(L, 6, 0.5), 0.0, 1.0);
    if (!(wave >= 1) || !std::isfinite(amplitude) || !std::isfinite(phase))
        return ERR_WRONGUSAGE;
    return withBrush(L, [&](qxBrush *b) {
        return qxWaterRippleBitmap(b->bitmap, b->mask, b->alpha, W(b), H(b), wave, amplitude, phase, cx, cy);
    });
}

int cmdMonochrome(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    const int dither = lua_gettop(L) >= 2 ? (lua_toboolean(L, 2) && !(lua_isnumber(L, 2) && lua_tonumber(L, 2) == 0)) : 1;
    return withBrush(L, [&](qxBrush *b) { return qxMonochromeBitmap(b->bitmap, W(b), H(b), dither); });
}

int cmdGray(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    return withBrush(L, [&](qxBrush *b) { return qxGrayBitmap(b->bitmap, W(b), H(b), 0, nullptr); });
}

int cmdInvert(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    return withBrush(L, [&](qxBrush *b) { return qxInvertBitmap(b->bitmap, W(b), H(b), nullptr); });
}

int cmdTint(lua_State *L)
{
    qxCheckArgCount(L, 3, 3, 0, 0);
    const uint32_t colour = uint32_t(qxTruncToInt64(luaL_checknumber(L, 2))) & 0xFFFFFF;
    const double level = std::clamp(percentArg(L, 3, 255), 0.0, 255.0);
    return withBrush(L, [&](qxBrush *b) { return qxTintBitmap(b->bitmap, 0, 0, W(b), H(b), colour, uint32_t(level)); });
}

int cmdMix(lua_State *L)
{
    qxCheckArgCount(L, 3, 3, 0, 0);
    const double level = percentArg(L, 3, 255);
    qxBrush *other = nullptr;
    if (int r = qxFindBrush(L, qxGetObjectIDArg(L, 2), &other, QX_FIND_NOVECTOR))
        return r;
    return withBrush(L, [&](qxBrush *b) {
        if (!other->bitmap)
            return int(ERR_BITMAP);
        const int32_t w = std::min(W(b), W(other)), h = std::min(H(b), H(other));
        return qxMixBitmaps(b->bitmap, other->bitmap, nullptr, 0, 0, 0, 0, w, h, int32_t(level), nullptr, 0, 0);
    });
}

int cmdQuantize(lua_State *L)
{
    qxCheckArgCount(L, 1, 3, 0, 0);
    const int64_t colours = qxTruncToInt64(luaL_optnumber(L, 2, 256));
    const int dither = lua_gettop(L) >= 3 ? (lua_toboolean(L, 3) && !(lua_isnumber(L, 3) && lua_tonumber(L, 3) == 0)) : 1;
    if (colours < 1 || colours > 256)
        return ERR_WRONGUSAGE;
    return withBrush(L, [&](qxBrush *b) { return qxQuantizeBitmap(b->bitmap, W(b), H(b), int32_t(colours), dither); });
}

int cmdFlip(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    const int horizontal = luaL_checkint(L, 2) != 0;
    return withBrush(L, [&](qxBrush *b) { return qxFlipBitmap(b->bitmap, b->mask, b->alpha, W(b), H(b), horizontal); });
}

// The brush takes new planes and size; the old ones are freed.
void replacePlanes(qxBrush *b, qxBitMap *bm, qxBitMap *m, qxBitMap *a, int32_t w, int32_t h)
{
    qxFreeImagePlanes(b->bitmap, b->mask, b->alpha);
    b->bitmap = bm, b->mask = m, b->alpha = a;
    b->width = uint32_t(w), b->height = uint32_t(h), b->pitch = uint32_t(w);
    if (!bm || !bm->video)
        b->hardware = 0, b->hardwareFlags = 0;
}

// `counts` has bit k set when k coefficients make a valid list. Script
// True and False are numbers, so a trailing value is the smooth flag only
// when the list is valid without it and not with it.
int distort(lua_State *L, uint32_t method, uint32_t counts)
{
    const int n = lua_gettop(L);
    int count = n - 1;
    auto valid = [&](int k) { return k >= 0 && k < 32 && (counts >> k & 1u); };
    int smooth = 0;
    if (n >= 2 && (lua_isboolean(L, n) || (!valid(count) && valid(count - 1)))) {
        smooth = lua_toboolean(L, n) && !(lua_isnumber(L, n) && lua_tonumber(L, n) == 0);
        count--;
    }
    if (count < 0 || count > 10 || count < std::countr_zero(counts) || count > 31 - std::countl_zero(counts))
        return ERR_WRONGUSAGE;
    double coeffs[10] = {};
    for (int i = 0; i < count; i++)
        coeffs[i] = luaL_checknumber(L, 2 + i);
    return withBrush(L, [&](qxBrush *b) {
        qxBitMap *bm = nullptr, *m = nullptr, *a = nullptr;
        int32_t w = 0, h = 0;
        if (int r = qxDistortBitmap(b->bitmap, b->mask, b->alpha, W(b), H(b), method, uint32_t(count), coeffs, smooth,
                                    &bm, &m, &a, &w, &h))
            return r;
        replacePlanes(b, bm, m, a, w, h);
        return 0;
    });
}

// Barrel: A, B, C[, D][, centre] or both axes[, centre]; polar: up to six
// values but not three; arc: one to four.
int cmdBarrel(lua_State *L) { return distort(L, 12, 1u << 3 | 1u << 4 | 1u << 5 | 1u << 6 | 1u << 8 | 1u << 10); }
int cmdPolar(lua_State *L) { return distort(L, 10, 1u << 0 | 1u << 1 | 1u << 2 | 1u << 4 | 1u << 5 | 1u << 6); }
int cmdArc(lua_State *L) { return distort(L, 9, 1u << 1 | 1u << 2 | 1u << 3 | 1u << 4); }
// Eight coordinates: where the corners (0, 0), (w, 0), (0, h) and (w, h)
// go; the fit takes four point pairs, source then destination.
int cmdPerspective(lua_State *L)
{
    qxCheckArgCount(L, 9, 10, 0, 0);
    double to[8];
    for (int i = 0; i < 8; i++)
        to[i] = luaL_checknumber(L, 2 + i);
    const int smooth = lua_gettop(L) >= 10 && lua_toboolean(L, 10) && !(lua_isnumber(L, 10) && lua_tonumber(L, 10) == 0);
    return withBrush(L, [&](qxBrush *b) {
        const double w = W(b), h = H(b);
        const double pairs[16] = {0, 0, to[0], to[1], w, 0, to[2], to[3], 0, h, to[4], to[5], w, h, to[6], to[7]};
        qxBitMap *bm = nullptr, *m = nullptr, *a = nullptr;
        int32_t ow = 0, oh = 0;
        if (int r = qxDistortBitmap(b->bitmap, b->mask, b->alpha, W(b), H(b), 4, 16, pairs, uint32_t(smooth), &bm, &m,
                                    &a, &ow, &oh))
            return r;
        replacePlanes(b, bm, m, a, ow, oh);
        return 0;
    });
}

// A vector brush is drawn again from its source at the matrix m applied
// after the one it is rendered at now, so that scaling stays sharp.
// With a wanted size (ScaleBrush) an unrotated result is sized exactly.
int rerenderVector(lua_State *L, qxBrush *b, const double u[4], int smooth, int32_t wantW = 0, int32_t wantH = 0)
{
    uint32_t nw = 0, nh = 0;
    double c[4], m[4];
    if (!qxVectorBrushMatrix(b, c, &nw, &nh))
        return ERR_TFIMAGE;
    qxComposeMatrix(u, c, m);
    // Just above the ratio, so that the size truncated from it is the one asked.
    if (wantW > 0 && m[1] == 0 && m[2] == 0)
        m[0] = std::nextafter(double(wantW) / nw, 1e300), m[3] = std::nextafter(double(wantH) / nh, 1e300);
    if (!std::isfinite(m[0] + m[1] + m[2] + m[3]) || m[0] * m[3] - m[1] * m[2] == 0)
        return ERR_WRONGUSAGE;
    qxBitMap *bm = nullptr, *mk = nullptr, *a = nullptr;
    int32_t x = 0, y = 0, w = 0, h = 0;
    if (int r = qxTransformImage(L, 1, b->source, b->bitmap, b->mask, b->alpha, 0, 0, int32_t(nw), int32_t(nh), 0, 0,
                                 m, uint32_t(smooth), &bm, &mk, &a, &x, &y, &w, &h))
        return r;
    if (!bm) {
        qxFreeImagePlanes(bm, mk, a);
        return ERR_TFIMAGE;
    }
    if (mk) // the rendering carries its own alpha channel
        qxFreeMaskBitMap(mk), mk = nullptr;
    replacePlanes(b, bm, mk, a, w, h);
    std::copy(m, m + 4, b->renderMatrix);
    b->hasRenderMatrix = 1;
    b->scaled = 1;
    if (!b->mask)
        b->transparentColour = 0xFFFFFFFFu;
    return 0;
}

int transformBrush(lua_State *L, qxBrush *b, const double m[4], int smooth)
{
    if (b->kind == QX_BRUSH_VECTOR)
        return rerenderVector(L, b, m, smooth);
    qxBitMap *bm = nullptr, *mk = nullptr, *a = nullptr;
    int32_t w = 0, h = 0;
    // A general turn hands back a mask even for a brush without one: its
    // corners outside the picture are transparent.
    if (int r = qxTransformPixels(b->bitmap, b->mask, b->alpha, 0, 0, W(b), H(b), m, smooth, 0, &bm, &mk, &a, &w, &h))
        return r;
    (void)L;
    replacePlanes(b, bm, mk, a, w, h);
    return 0;
}

int cmdScale(lua_State *L)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    const int smooth = lua_toboolean(L, 4) && !(lua_isnumber(L, 4) && lua_tonumber(L, 4) == 0);
    qxBrush *b = nullptr;
    if (int r = findForModify(L, qxGetObjectIDArg(L, 1), &b, QX_FIND_MODIFY))
        return r;
    int w = int(std::clamp(percentArg(L, 2, b->width), -2e9, 2e9));
    int h = int(std::clamp(percentArg(L, 3, b->height), -2e9, 2e9));
    if (int r = qxComputeScaledSize(W(b), H(b), &w, &h))
        return r;
    if (w < 1 || h < 1)
        return ERR_BADDIMENSIONS;
    if (int r = qxCheckBrushSize(w, h))
        return r;
    if (b->kind == QX_BRUSH_VECTOR) {
        const double s[4] = {double(w) / W(b), 0, 0, double(h) / H(b)};
        return rerenderVector(L, b, s, smooth, w, h);
    }
    qxBitMap *bm = nullptr, *m = nullptr, *a = nullptr;
    if (int r = qxScalePixels(b->bitmap, b->mask, b->alpha, 0, 0, nullptr, W(b), H(b), w, h, smooth, 0, &bm,
                              b->mask ? &m : nullptr, b->alpha ? &a : nullptr))
        return r;
    replacePlanes(b, bm, m, a, w, h);
    return 0;
}

int cmdRotate(lua_State *L)
{
    qxCheckArgCount(L, 2, 5, 0, 0);
    const double angle = luaL_checknumber(L, 2), sx = luaL_optnumber(L, 3, 1.0), sy = luaL_optnumber(L, 4, 1.0);
    const int smooth = lua_toboolean(L, 5) && !(lua_isnumber(L, 5) && lua_tonumber(L, 5) == 0);
    if (sx == 0 || sy == 0 || !std::isfinite(angle))
        return ERR_WRONGUSAGE;
    qxBrush *b = nullptr;
    if (int r = findForModify(L, qxGetObjectIDArg(L, 1), &b, QX_FIND_MODIFY))
        return r;
    double m[4];
    qxSetupTransform(m, W(b), H(b), W(b), H(b), sx, sy, angle);
    return transformBrush(L, b, m, smooth);
}

int cmdTransform(lua_State *L)
{
    qxCheckArgCount(L, 5, 6, 0, 0);
    const double m[4] = {luaL_checknumber(L, 2), luaL_checknumber(L, 3), luaL_checknumber(L, 4), luaL_checknumber(L, 5)};
    const int smooth = lua_toboolean(L, 6) && !(lua_isnumber(L, 6) && lua_tonumber(L, 6) == 0);
    if (m[0] == 0 || m[3] == 0)
        return ERR_WRONGUSAGE;
    qxBrush *b = nullptr;
    if (int r = findForModify(L, qxGetObjectIDArg(L, 1), &b, QX_FIND_MODIFY))
        return r;
    return transformBrush(L, b, m, smooth);
}

// A position argument with the position constants, against the brush.
int positionArgs(lua_State *L, int first, const qxBrush *b, int32_t w, int32_t h, int32_t *x, int32_t *y)
{
    *x = qxResolvePosX(luaL_checkint(L, first), w, W(b), 0.0);
    *y = qxResolvePosY(luaL_checkint(L, first + 1), h, H(b), 0.0);
    if (*x < 0 || *y < 0)
        return ERR_NEGCOORDS;
    if (*x >= W(b) || *y >= H(b))
        return ERR_COORDSRANGE;
    return 0;
}

int cmdCrop(lua_State *L)
{
    qxCheckArgCount(L, 5, 5, 0, 0);
    qxBrush *b = nullptr;
    if (int r = findForModify(L, qxGetObjectIDArg(L, 1), &b))
        return r;
    const int64_t w = qxTruncToInt64(luaL_checknumber(L, 4)), h = qxTruncToInt64(luaL_checknumber(L, 5));
    if (w < 1 || h < 1)
        return ERR_BADDIMENSIONS;
    int32_t x = 0, y = 0;
    if (int r = positionArgs(L, 2, b, int32_t(std::min<int64_t>(w, INT32_MAX)), int32_t(std::min<int64_t>(h, INT32_MAX)), &x, &y))
        return r;
    // The part is cut to the brush, as when loading a part of a picture.
    const int32_t cw = int32_t(std::min<int64_t>(w, W(b) - x)), ch = int32_t(std::min<int64_t>(h, H(b) - y));
    qxBitMap *bm = nullptr, *m = nullptr, *a = nullptr;
    if (int r = qxCopyImageRect(b->bitmap, b->mask, b->alpha, x, y, cw, ch, 0, 0, 0, 0, &bm, b->mask ? &m : nullptr,
                                b->alpha ? &a : nullptr))
        return r;
    replacePlanes(b, bm, m, a, cw, ch);
    return 0;
}

int cmdTrim(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxBrush *b = nullptr;
    if (int r = findForModify(L, qxGetObjectIDArg(L, 1), &b))
        return r;
    if (!b->mask && !b->alpha)
        return 0; // every pixel is visible
    qxPlane p = qxPlaneOf(b->alpha ? b->alpha : b->mask);
    if (!p.bytes)
        return ERR_LOCKBMAP;
    const bool alpha = b->alpha != nullptr;
    const int32_t w = std::min(W(b), p.width), h = std::min(H(b), p.height);
    int32_t x0 = w, y0 = h, x1 = -1, y1 = -1;
    for (int32_t y = 0; y < h; y++) {
        const uint8_t *row = p.bytes + int64_t(y) * p.bytesPerRow;
        for (int32_t x = 0; x < w; x++)
            if (alpha ? row[x] != 0 : qxMaskBit(row, x))
                x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
    }
    if (x1 < 0)
        return ERR_TRANSBRUSH;
    if (x0 == 0 && y0 == 0 && x1 == W(b) - 1 && y1 == H(b) - 1)
        return 0;
    qxBitMap *bm = nullptr, *m = nullptr, *a = nullptr;
    if (int r = qxCopyImageRect(b->bitmap, b->mask, b->alpha, x0, y0, x1 - x0 + 1, y1 - y0 + 1, 0, 0, 0, 0, &bm,
                                b->mask ? &m : nullptr, b->alpha ? &a : nullptr))
        return r;
    replacePlanes(b, bm, m, a, x1 - x0 + 1, y1 - y0 + 1);
    return 0;
}

int cmdRasterize(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxBrush *b = nullptr;
    if (int r = findForModify(L, qxGetObjectIDArg(L, 1), &b, QX_FIND_MODIFY))
        return r;
    if (b->kind != QX_BRUSH_VECTOR)
        return ERR_WRONGUSAGE;
    if (!b->bitmap)
        return ERR_BITMAP;
    if (b->source)
        qxPicSourceRelease(b->source);
    b->source = nullptr;
    b->kind = QX_BRUSH_PIXELS;
    b->scaled = 0;
    return 0;
}

int cmdDeleteMask(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    return withBrush(L, [](qxBrush *b) {
        if (b->mask)
            qxFreeMaskBitMap(b->mask);
        b->mask = nullptr;
        b->transparentColour = 0xFFFFFFFFu;
        return 0;
    });
}

int cmdDeleteAlpha(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    return withBrush(L, [](qxBrush *b) {
        if (b->alpha)
            qxFreeAlphaBitMap(b->alpha);
        b->alpha = nullptr;
        return 0;
    });
}

// Inverts every byte of a plane (mask bits or alpha values).
int invertPlane(qxBitMap *plane)
{
    qxPlane p = qxPlaneOf(plane);
    if (!p.bytes)
        return ERR_WRONGUSAGE;
    qxInvertBytePlane(p.bytes, p.height, p.bytesPerRow);
    return 0;
}

int cmdInvertMask(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    return withBrush(L, [](qxBrush *b) { return b->mask ? invertPlane(b->mask) : int(ERR_WRONGUSAGE); });
}

int cmdInvertAlpha(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    return withBrush(L, [](qxBrush *b) { return b->alpha ? invertPlane(b->alpha) : int(ERR_WRONGUSAGE); });
}

int cmdReduceAlpha(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    const double level = percentArg(L, 2, 255);
    return withBrush(L, [&](qxBrush *b) {
        if (!(level <= 255) || !(level >= 0) || !b->alpha)
            return int(ERR_WRONGUSAGE);
        qxScaleAlpha(b->alpha, b->alpha, H(b), uint32_t(level));
        return 0;
    });
}

int cmdChangeTransparency(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    const int type = luaL_checkint(L, 2);
    if (type != 28 && type != 30 && type != -1)
        return ERR_WRONGUSAGE;
    return withBrush(L, [&](qxBrush *b) {
        if (type == -1) {
            qxFreeImagePlanes(nullptr, b->mask, b->alpha);
            b->mask = b->alpha = nullptr;
            b->transparentColour = 0xFFFFFFFFu;
            return 0;
        }
        if (type == 28) {
            if (b->mask)
                return 0;
            qxBitMap *m = qxAllocMaskBitMap(b->bitmap, b->width, b->height, 1, nullptr, 0);
            qxPlane mp = qxPlaneOf(m);
            if (!mp.bytes) {
                if (m)
                    qxFreeMaskBitMap(m);
                return int(ERR_ALLOCMASK);
            }
            // Only fully opaque pixels stay visible.
            if (b->alpha)
                qxAlphaToMask(b->alpha, 0, 0, m, 0, 0, mp.width, mp.height, 0);
            else
                qxMaskRowOp(m, 0, 0, mp.width, mp.height, 0);
            if (b->alpha)
                qxFreeAlphaBitMap(b->alpha);
            b->alpha = nullptr;
            b->mask = m;
            return 0;
        }
        if (b->alpha)
            return 0;
        qxBitMap *a = qxAllocAlphaBitMap(b->width, b->height, 1, nullptr, 0);
        qxPlane ap = qxPlaneOf(a);
        if (!ap.bytes) {
            if (a)
                qxFreeAlphaBitMap(a);
            return int(ERR_ALLOCALPHA);
        }
        qxPlane mp = qxPlaneOf(b->mask);
        for (int32_t y = 0; y < ap.height; y++)
            for (int32_t x = 0; x < ap.width; x++)
                ap.bytes[int64_t(y) * ap.bytesPerRow + x] =
                    !mp.bytes || (y < mp.height && x < mp.width && qxMaskBit(mp.bytes + int64_t(y) * mp.bytesPerRow, x))
                        ? 255 : 0;
        if (b->mask)
            qxFreeMaskBitMap(b->mask);
        b->mask = nullptr;
        b->transparentColour = 0xFFFFFFFFu;
        b->alpha = a;
        return 0;
    });
}

int cmdSetTransparency(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    const double c = luaL_checknumber(L, 2);
    return withBrush(L, [&](qxBrush *b) {
        qxBitMap *m = nullptr;
        const uint32_t colour = c < 0 ? 0xFFFFFFFFu : uint32_t(qxTruncToInt64(c)) & 0xFFFFFF;
        if (colour != 0xFFFFFFFFu && !(m = qxSetBitmapTransparency(b->bitmap, W(b), H(b), colour)))
            return int(ERR_MEM);
        qxFreeImagePlanes(nullptr, b->mask, b->alpha);
        b->mask = m, b->alpha = nullptr;
        b->transparentColour = colour;
        return 0;
    });
}

// Runs f on the locked colour plane (4 or 2 bytes per pixel).
template <typename F>
int withLock(qxBitMap *bm, F f)
{
    qxBitMapLock l;
    if (!bm || !qxLockBitMap(bm, 0, &l))
        return ERR_LOCKBMAP;
    const int r = (l.bytesPerPixel == 4 || l.bytesPerPixel == 2) ? f(l) : int(ERR_LOCKBMAP);
    qxUnLockBitMap(&l);
    return r;
}

int cmdReplaceColors(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    luaL_checktable(L, 2);
    std::vector<uint32_t> table;
    for (int i = 0;; i += 2) {
        lua_rawgeti(L, 2, i);
        const bool end = lua_isnil(L, -1) || lua_tonumber(L, -1) == -1;
        const uint32_t from = uint32_t(qxTruncToInt64(lua_tonumber(L, -1))) & 0xFFFFFF;
        lua_pop(L, 1);
        if (end)
            break;
        lua_rawgeti(L, 2, i + 1);
        if (lua_isnil(L, -1)) {
            lua_pop(L, 1);
            return ERR_WRONGUSAGE;
        }
        const uint32_t to = uint32_t(qxTruncToInt64(lua_tonumber(L, -1))) & 0xFFFFFF;
        lua_pop(L, 1);
        table.push_back(from), table.push_back(to);
    }
    if (table.empty())
        return withBrush(L, [](qxBrush *) { return 0; });
    return withBrush(L, [&](qxBrush *b) {
        return withLock(b->bitmap, [&](qxBitMapLock &l) {
            std::vector<uint32_t> t(table);
            for (size_t i = 0; i < t.size(); i++)
                t[i] = qxColorToPixel(t[i], l.pixelFormat, 0);
            t.push_back(0xFFFFFFFFu), t.push_back(0);
            const int32_t w = std::min<int32_t>(W(b), int32_t(l.width)), h = std::min<int32_t>(H(b), int32_t(l.height));
            if (l.bytesPerPixel == 4)
                qxReplaceColors32(w, h, t.data(), static_cast<uint32_t *>(l.pixels), int32_t(l.pixelsPerRow),
                                  0xFFFFFF);
            else
                qxReplaceColors16(w, h, t.data(), static_cast<uint16_t *>(l.pixels), int32_t(l.pixelsPerRow));
            return 0;
        });
    });
}

int cmdFloodFill(lua_State *L)
{
    qxCheckArgCount(L, 5, 5, 0, 0);
    const uint32_t colour = uint32_t(qxTruncToInt64(luaL_checknumber(L, 4))) & 0xFFFFFF;
    const uint32_t border = uint32_t(qxTruncToInt64(luaL_checknumber(L, 5))) & 0xFFFFFF;
    return withBrush(L, [&](qxBrush *b) {
        int32_t x = 0, y = 0;
        if (int r = positionArgs(L, 2, b, 1, 1, &x, &y))
            return r;
        return qxFloodFillBitMap(b->bitmap, W(b), H(b), x, y, colour, border);
    });
}

int cmdWritePixel(lua_State *L)
{
    qxCheckArgCount(L, 4, 5, 0, 0);
    const int64_t x = qxTruncToInt64(luaL_checknumber(L, 2)), y = qxTruncToInt64(luaL_checknumber(L, 3));
    const uint32_t colour = uint32_t(qxTruncToInt64(luaL_checknumber(L, 4))) & 0xFFFFFF;
    const int64_t alpha = qxTruncToInt64(luaL_optnumber(L, 5, -1));
    return withBrush(L, [&](qxBrush *b) {
        if (x < 0 || y < 0 || x >= b->width || y >= b->height)
            return 0;
        qxWritePixel(b->bitmap, int32_t(x), int32_t(y), colour, 0);
        if (alpha != -1) {
            if (b->alpha) {
                qxPlane p = qxPlaneOf(b->alpha);
                if (p.bytes && y < p.height && x < p.width)
                    p.bytes[y * p.bytesPerRow + x] = uint8_t(std::clamp<int64_t>(alpha, 0, 255));
            } else if (b->mask) {
                qxPlane p = qxPlaneOf(b->mask);
                if (p.bytes && y < p.height && x < p.width)
                    qxSetMaskBit(p.bytes + y * p.bytesPerRow, x, alpha != 0);
            }
        }
        return 0;
    });
}

int cmdReadPixel(lua_State *L)
{
    qxCheckArgCount(L, 3, 3, 0, 0);
    qxBrush *b = nullptr;
    if (int r = qxFindBrush(L, qxGetObjectIDArg(L, 1), &b, QX_FIND_NOVECTOR))
        return r;
    const int64_t x = qxTruncToInt64(luaL_checknumber(L, 2)), y = qxTruncToInt64(luaL_checknumber(L, 3));
    if (!b->bitmap || x < 0 || y < 0 || x >= b->width || y >= b->height) {
        lua_pushnumber(L, 4294967295.0);
        lua_pushnumber(L, -1);
        return 2;
    }
    uint32_t *px = qxBitMapToARGB(b->bitmap, int32_t(x), int32_t(y), 1, 1, 0);
    if (!px)
        return ERR_LOCKBMAP;
    lua_pushnumber(L, double(px[0] & 0xFFFFFF));
    qxFree(px);
    double second = -1;
    if (b->alpha) {
        qxPlane p = qxPlaneOf(b->alpha);
        second = p.bytes && y < p.height && x < p.width ? p.bytes[y * p.bytesPerRow + x] : 0;
    } else if (b->mask) {
        qxPlane p = qxPlaneOf(b->mask);
        second = p.bytes && y < p.height && x < p.width ? qxMaskBit(p.bytes + y * p.bytesPerRow, x) : 0;
    }
    lua_pushnumber(L, second);
    return 2;
}

int cmdToRGBArray(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    const bool invert = lua_toboolean(L, 2) && !(lua_isnumber(L, 2) && lua_tonumber(L, 2) == 0);
    qxBrush *b = nullptr;
    if (int r = qxFindBrush(L, qxGetObjectIDArg(L, 1), &b, QX_FIND_NOVECTOR))
        return r;
    if (!b->bitmap)
        return ERR_LOCKBMAP;
    uint32_t *px = qxBitMapToARGBMasked(b->bitmap, 0, 0, W(b), H(b), b->mask, b->alpha, 0xFFFFFFFFu, 1, 0);
    if (!px)
        return ERR_LOCKBMAP;
    const size_t n = size_t(b->width) * b->height;
    lua_newtable(L);
    for (size_t i = 0; i < n; i++) {
        uint32_t v = px[i];
        if (!b->mask && !b->alpha)
            v |= 0xFF000000u;
        if (invert)
            v ^= 0xFF000000u;
        lua_pushnumber(L, double(v));
        lua_rawseti(L, -2, int(i));
    }
    qxFree(px);
    return 1;
}

// Whether the new brush's number is the brush number given at arg.
bool sameBrushNumber(lua_State *L, qxObjectRef target, int arg)
{
    const qxObjectRef src = qxGetObjectIDArg(L, arg);
    return !target.automatic && !src.automatic && src.number == target.number;
}

// A brush from a canvas the BGPic library's gradient or texture creator made.
int brushFromCanvas(lua_State *L, qxObjectRef ref, int32_t width, int32_t height, qxBitMap *bm)
{
    if (!ref.automatic)
        if (int r = qxFreeBrush(L, ref, 0)) {
            qxFreeBitMap(bm);
            return r;
        }
    if (int r = qxAddBrush(&ref, QX_BRUSH_PIXELS, uint32_t(width), uint32_t(height), uint32_t(width), 0, nullptr, bm,
                           0xFFFFFFFFu, nullptr, nullptr, nullptr, nullptr)) {
        qxFreeBitMap(bm);
        return r;
    }
    return qxPushNewID(L, ref);
}

int cmdCreateGradientBrush(lua_State *L)
{
    qxCheckArgCount(L, 6, 8, 0, 0);
    const qxObjectRef ref = qxNewIDRef(L, 1);
    int32_t width = 0, height = 0;
    qxFillRecord fill;
    qxBitMap *bm = nullptr;
    if (int r = qxCreateGradientObject(L, 2, &width, &height, &fill, &bm))
        return r;
    return brushFromCanvas(L, ref, width, height, bm);
}

int cmdCreateTexturedBrush(lua_State *L)
{
    qxCheckArgCount(L, 4, 6, 0, 0);
    const qxObjectRef ref = qxNewIDRef(L, 1);
    // The new brush would free its own texture first.
    if (sameBrushNumber(L, ref, 2))
        return ERR_WRONGUSAGE;
    int32_t width = 0, height = 0;
    qxFillRecord fill;
    qxBitMap *bm = nullptr;
    const int r = qxCreateTexturedObject(L, 2, &width, &height, &fill, &bm);
    qxFreeBitMap(fill.textureBitmap); // a brush keeps no fill
    return r ? r : brushFromCanvas(L, ref, width, height, bm);
}

int cmdSetAlphaIntensity(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    const double level = lua_isnumber(L, 1) && lua_tonumber(L, 1) == -1 ? -1 : percentArg(L, 1, 255);
    if (!(level < 256) || (level < 0 && level != -1))
        return ERR_WRONGUSAGE;
    qxTagItem tags[] = {{6, level < 0 ? uintptr_t(0xFFFFFFFFu) : uintptr_t(level)}, {QX_TAG_END, 0}};
    qxSetTags(tags);
    return 0;
}

int cmdSetMaskMode(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxTagItem tags[] = {{4, uintptr_t(uint32_t(luaL_checkint(L, 1)))}, {QX_TAG_END, 0}};
    qxSetTags(tags);
    return 0;
}

// ---- Conversions of other objects into brushes ----

int brushSource(lua_State *L, int sourceArg, uint32_t, int, qxBitMap **bm, qxBitMap **m, qxBitMap **a, uint32_t *w,
                uint32_t *h, uint32_t *transparent)
{
    qxBrush *b = nullptr;
    if (int r = qxFindBrush(L, qxGetObjectIDArg(L, sourceArg), &b, QX_FIND_NOVECTOR))
        return r;
    if (!b->bitmap)
        return ERR_BITMAP;
    *w = b->width, *h = b->height, *transparent = b->transparentColour;
    return qxCopyImageRect(b->bitmap, b->mask, b->alpha, 0, 0, W(b), H(b), 0, 0, 0, 0, bm, b->mask ? m : nullptr,
                           b->alpha ? a : nullptr);
}

int bgpicSource(lua_State *L, int sourceArg, uint32_t, int, qxBitMap **bm, qxBitMap **m, qxBitMap **a, uint32_t *w,
                uint32_t *h, uint32_t *transparent)
{
    qxBGPic *p = nullptr;
    if (int r = qxFindBGPic(L, qxGetObjectIDArg(L, sourceArg), &p, 0))
        return r;
    if (!p->bitmap)
        return ERR_BITMAP;
    *w = p->width, *h = p->height, *transparent = 0xFFFFFFFFu;
    return qxCopyImageRect(p->bitmap, p->mask, p->alpha, 0, 0, int32_t(p->width), int32_t(p->height), 0, 0, 0, 0, bm,
                           p->mask ? m : nullptr, p->alpha ? a : nullptr);
}

// frameArg: the frame number, or the converter's own argument.
int convert(lua_State *L, qxObjectRef target, uint32_t type, int sourceArg, int frameArg, int selected)
{
    if (type == QX_TYPE_BRUSH && sameBrushNumber(L, target, sourceArg))
        return ERR_WRONGUSAGE;
    const qxBrushSourceEntry *entry = nullptr;
    for (const auto &e : sources)
        if ((e.convert || e.convertVector) && e.type == type)
            entry = &e;
    if (!entry)
        return ERR_WRONGUSAGE;
    int64_t frame = 1;
    if (!(entry->flags & QX_BRUSHSOURCE_OWNARG))
        frame = qxTruncToInt64(luaL_optnumber(L, frameArg, 1));
    if (frame < 1 || frame > 0xFFFFFFF)
        frame = frame < 1 ? 0 : 0xFFFFFFF;
    qxBitMap *bm = nullptr, *m = nullptr, *a = nullptr;
    qxPicSource *vector = nullptr;
    uint32_t w = 0, h = 0, transparent = 0xFFFFFFFFu;
    if (int r = entry->convert
                    ? entry->convert(L, sourceArg, uint32_t(frame), selected, &bm, &m, &a, &w, &h, &transparent)
                    : entry->convertVector(L, entry->flags & QX_BRUSHSOURCE_OWNARG ? frameArg : sourceArg,
                                           uint32_t(frame), &bm, &a, &w, &h, &vector))
        return r;
    auto release = [&](int code) {
        qxFreeImagePlanes(bm, m, a);
        if (vector)
            qxPicSourceRelease(vector);
        return code;
    };
    if (!target.automatic)
        if (int r = qxFreeBrush(L, target, 0))
            return release(r);
    if (int r = qxAddBrush(&target, vector ? QX_BRUSH_VECTOR : QX_BRUSH_PIXELS, w, h, w, 0, vector, bm,
                           m ? transparent : 0xFFFFFFFFu, m, a, nullptr, nullptr))
        return release(r);
    return qxPushNewID(L, target);
}

// A type registered again replaces its entry.
int registerSource(const qxBrushSourceEntry &entry)
{
    for (auto &e : sources)
        if ((!e.convert && !e.convertVector) || e.type == entry.type) {
            e = entry;
            return 0;
        }
    return ERR_MEM;
}

int cmdConvertToBrush(lua_State *L)
{
    qxCheckArgCount(L, 3, 5, 0, 0);
    const uint32_t type = uint32_t(luaL_checkint(L, 1));
    const qxObjectRef target = qxNewIDRef(L, 3);
    const int selected = lua_toboolean(L, 5) && !(lua_isnumber(L, 5) && lua_tonumber(L, 5) == 0);
    return convert(L, target, type, 2, 4, selected);
}

int cmdGetBrushLink(lua_State *L)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    const qxObjectRef target = qxNewIDRef(L, 1);
    const uint32_t type = uint32_t(luaL_checkint(L, 2));
    return convert(L, target, type, 3, 4, 0);
}

} // namespace

extern "C" {

int qxConvertToBrush(lua_State *L, qxObjectRef target, uint32_t type, int sourceArg, int ownArg)
{
    return convert(L, target, type, sourceArg, ownArg, 0);
}

int qxRegisterBrushSource(uint32_t type, qxBrushSourceFn convert)
{
    return registerSource({type, convert, nullptr, 0});
}

int qxRegisterVectorBrushSource(uint32_t type, qxBrushVectorSourceFn convert, uint32_t flags)
{
    return registerSource({type, nullptr, convert, flags});
}

// Apart from the exported name, whose declaration has no size: clang reads
// only a table of known size while compiling.
static constexpr qxCommandDef brushImageCommandsRows[] = {
    {"SolarizeBrush", cmdSolarize},
    {"BlurBrush", cmdBlur},
    {"SharpenBrush", cmdSharpen},
    {"EdgeBrush", cmdEdge},
    {"EmbossBrush", cmdEmboss},
    {"OilPaintBrush", cmdOilPaint},
    {"CharcoalBrush", cmdCharcoal},
    {"ModulateBrush", cmdModulate},
    {"ContrastBrush", cmdContrast},
    {"GammaBrush", cmdGamma},
    {"SepiaToneBrush", cmdSepia},
    {"SwirlBrush", cmdSwirl},
    {"PixelateBrush", cmdPixelate},
    {"WaterRippleBrush", cmdWaterRipple},
    {"BrushToMonochrome", cmdMonochrome},
    {"BrushToGray", cmdGray},
    {"InvertBrush", cmdInvert},
    {"TintBrush", cmdTint},
    {"MixBrush", cmdMix},
    {"QuantizeBrush", cmdQuantize},
    {"FlipBrush", cmdFlip},
    {"BarrelDistortBrush", cmdBarrel},
    {"PolarDistortBrush", cmdPolar},
    {"ArcDistortBrush", cmdArc},
    {"PerspectiveDistortBrush", cmdPerspective},
    {"ScaleBrush", cmdScale},
    {"RotateBrush", cmdRotate},
    {"TransformBrush", cmdTransform},
    {"CropBrush", cmdCrop},
    {"TrimBrush", cmdTrim},
    {"RasterizeBrush", cmdRasterize},
    {"DeleteMask", cmdDeleteMask},
    {"DeleteAlphaChannel", cmdDeleteAlpha},
    {"InvertMask", cmdInvertMask},
    {"InvertAlphaChannel", cmdInvertAlpha},
    {"ReduceAlphaChannel", cmdReduceAlpha},
    {"ChangeBrushTransparency", cmdChangeTransparency},
    {"SetBrushTransparency", cmdSetTransparency},
    {"ReplaceColors", cmdReplaceColors},
    {"FloodFill", cmdFloodFill},
    {"WriteBrushPixel", cmdWritePixel},
    {"ReadBrushPixel", cmdReadPixel},
    {"BrushToRGBArray", cmdToRGBArray},
    {"SetAlphaIntensity", cmdSetAlphaIntensity},
    {"SetMaskMode", cmdSetMaskMode},
    {"ConvertToBrush", cmdConvertToBrush},
    {"GetBrushLink", cmdGetBrushLink},
    {"CreateGradientBrush", cmdCreateGradientBrush},
    {"CreateTexturedBrush", cmdCreateTexturedBrush},
    {nullptr, nullptr},
};

const qxCommandDef *const qxBrushImageCommands = brushImageCommandsRows;
constexpr qxNames qxBrushImageCommandNames = qxNamesOf<brushImageCommandsRows>;

// Brushes and BGPics are sources from the start.
void qxLinkBrushSources(void)
{
    qxRegisterBrushSource(QX_TYPE_BRUSH, brushSource);
    qxRegisterBrushSource(QX_TYPE_BGPIC, bgpicSource);
}
}
