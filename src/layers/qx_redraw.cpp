// Dirty rectangles and the redraw that composes a rectangle of a BGPic with
// its visible layers into the display's work bitmap.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/files/qx_file.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapeffects.h"
#include "display/qx_bitmapplanes.h"
#include "display/qx_bitmapscale.h"
#include "display/qx_bitmaptransform.h"
#include "display/qx_clipregion.h"
#include "display/qx_display.h"
#include "display/qx_gfxgeom.h"
#include "imaging/qx_blit.h"
#include "imaging/qx_pixelformat.h"
#include "layers/qx_layer.h"
#include "layers/qx_sprite.h"
#include "layers/qx_layerfilters.h"
#include "objects/qx_output.h"
#include "platform/qx_errcodes.h"

namespace {

int32_t clamp32(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// Intersects (x, y, w, h) with (bx, by, bw, bh); false when nothing is left.
bool intersect(int64_t bx, int64_t by, int64_t bw, int64_t bh, int32_t *x, int32_t *y, int32_t *w, int32_t *h)
{
    const int64_t x1 = std::max<int64_t>(*x, bx), y1 = std::max<int64_t>(*y, by);
    const int64_t x2 = std::min<int64_t>(int64_t(*x) + *w, bx + bw), y2 = std::min<int64_t>(int64_t(*y) + *h, by + bh);
    if (x2 <= x1 || y2 <= y1) {
        *w = *h = 0;
        return false;
    }
    *x = int32_t(x1), *y = int32_t(y1), *w = int32_t(x2 - x1), *h = int32_t(y2 - y1);
    return true;
}

struct Background {
    qxDisplay *display;
    qxBGPic *bgpic;
    qxBitMap *bitmap;
    // The same at the size a layer-scaling display shows the BGPic.
    qxBitMap *scaled;
};
std::vector<Background> gBackgrounds;

// What the display showed below its layers, at the size it shows the BGPic
// when it scales its layers; none when nothing was kept.
qxBitMap *screenBackground(qxDisplay *display, qxBGPic *b)
{
    for (Background &g : gBackgrounds) {
        if (g.display != display || g.bgpic != b || !g.bitmap || int32_t(g.bitmap->width) != b->width ||
            int32_t(g.bitmap->height) != b->height)
            continue;
        if (g.scaled && int32_t(g.scaled->width) == b->curWidth && int32_t(g.scaled->height) == b->curHeight)
            return g.scaled;
        qxFreeBitMap(g.scaled);
        g.scaled = nullptr;
        if (qxScalePixels(g.bitmap, nullptr, nullptr, 0, 0, nullptr, b->width, b->height, b->curWidth, b->curHeight,
                          (display->flags & QX_DISP_SMOOTHSCALE) ? 1 : 0, 0, &g.scaled, nullptr, nullptr))
            g.scaled = nullptr;
        return g.scaled;
    }
    return nullptr;
}

// The planes a rendition shows and where its picture starts in them.
// unfiltered: what the rendition shows before its filters.
bool displayedImage(lua_State *L, const qxLayer *l, const qxLayerData *d, qxBitMap **bitmap, qxBitMap **mask,
                    qxBitMap **alpha, int32_t *sx, int32_t *sy, bool unfiltered = false)
{
    *sx = *sy = 0;
    if (d->filtbitmap && !unfiltered) {
        *bitmap = d->filtbitmap, *mask = d->filtmask, *alpha = d->filtalpha;
        return true;
    }
    if (d->xformbitmap) {
        *bitmap = d->xformbitmap, *mask = d->xformmask, *alpha = d->xformalpha;
    } else {
        if (qxLayerSourcePlanes(L, l, d, bitmap, mask, alpha, sx, sy) || !*bitmap) return false;
    }
    // Filters run once, over what the rendition shows; the copy is kept
    // until the filters or the picture change. Without memory for it the
    // layer shows its unfiltered picture.
    if (!unfiltered && qxFiltersActive(&l->filters) && l->type != QX_TYPE_NOOBJECT) {
        auto *own = const_cast<qxLayerData *>(d);
        if (!qxBuildFilteredImage(own, *bitmap, *mask, *alpha, *sx, *sy, &l->filters)) {
            *bitmap = d->filtbitmap, *mask = d->filtmask, *alpha = d->filtalpha;
            *sx = *sy = 0;
        }
    }
    return true;
}

// colour (0xRRGGBB) painted through an alpha plane from (sx, sy).
void paintThroughAlpha(qxBitMap *alpha, int32_t sx, int32_t sy, qxBitMap *dest, int32_t dx, int32_t dy, int32_t w,
                       int32_t h, uint32_t colour, uint32_t factor = 255)
{
    const qxPlane a = qxPlaneOf(alpha);
    if (!a.bytes || !intersect(0, 0, a.width, a.height, &sx, &sy, &w, &h)) return;
    qxBitMapLock lock;
    if (!qxLockBitMap(dest, 0, &lock)) return;
    const uint32_t cr = (colour >> 16) & 255, cg = (colour >> 8) & 255, cb = colour & 255;
    auto mix = [&](uint32_t p, uint32_t o) {
        const uint32_t k = 255 - o;
        const uint32_t r = (cr * o + ((p >> 16) & 255) * k + 127) / 255;
        const uint32_t g = (cg * o + ((p >> 8) & 255) * k + 127) / 255;
        const uint32_t b = (cb * o + (p & 255) * k + 127) / 255;
        return (p & 0xFF000000u) | r << 16 | g << 8 | b;
    };
    // Shadows and borders look the same on a 16-bit display.
    for (int32_t j = 0; j < h && (lock.bytesPerPixel == 4 || lock.bytesPerPixel == 2); ++j) {
        const uint8_t *src = a.bytes + int64_t(sy + j) * a.bytesPerRow + sx;
        const int64_t at = int64_t(dy + j) * lock.pixelsPerRow + dx;
        for (int32_t i = 0; i < w; ++i) {
            const uint32_t o = factor == 255 ? src[i] : (src[i] * factor + 127) / 255;
            if (!o) continue;
            if (lock.bytesPerPixel == 4) {
                auto *p = static_cast<uint32_t *>(lock.pixels) + at + i;
                *p = mix(*p, o);
            } else {
                auto *p = static_cast<uint16_t *>(lock.pixels) + at + i;
                *p = uint16_t(qxColorToPixel(mix(qxPixelToColor(*p, lock.pixelFormat, 0), o), lock.pixelFormat, 0));
            }
        }
    }
    qxUnLockBitMap(&lock);
}

// A border coverage made by the layer's type: its opacity scaled by level.
bool takeBorder(qxLayerData *d, uint32_t level)
{
    auto *plane = static_cast<qxBitMapPlane *>(d->borderalpha->data);
    if (level != 255)
        for (uint32_t y = 0; y < plane->height; ++y)
            for (uint8_t *p = plane->pixels + size_t(y) * plane->bytesPerRow, *e = p + plane->width; p < e; ++p)
                *p = uint8_t(*p * level / 255);
    d->borderwidth = int32_t(plane->width), d->borderheight = int32_t(plane->height);
    return true;
}

// A picture without mask or alpha turned or sheared: its border is a
// turned box's, square at the corners.
bool turnedPlainPicture(lua_State *L, const qxLayer *l, const qxLayerData *d)
{
    if (l->type != QX_TYPE_BRUSH && l->type != QX_TYPE_ANIM && l->type != QX_TYPE_BRUSHPART &&
        l->type != QX_TYPE_BGPICPART && l->type != QX_LAYER_VIDEO)
        return false;
    qxTransformOptions t;
    qxRenditionTransform(l, d, &t);
    if ((t.m12 == 0 && t.m21 == 0) || !qxLayerBoxBorder || !l->base) return false;
    qxBitMap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    int32_t sx = 0, sy = 0;
    return !qxLayerSourcePlanes(L, l, l->base, &bitmap, &mask, &alpha, &sx, &sy) && bitmap && !mask && !alpha;
}

// Shapes draw their border as their own grown outline, in every rendition.
bool shapeType(uint32_t type)
{
    return type == QX_LAYER_BOX || type == QX_LAYER_CIRCLE || type == QX_LAYER_ELLIPSE || type == QX_LAYER_POLYGON ||
           type == QX_LAYER_ARC;
}

// The border's coverage: the picture's silhouette widened by the border
// size (a full rectangle for pictures without mask or alpha), its opacity
// scaled by the border colour's transparency.
bool buildBorder(lua_State *L, const qxLayer *l, qxLayerData *d)
{
    qxBitMap *bitmap, *mask, *alpha;
    int32_t px, py;
    if (!displayedImage(L, l, d, &bitmap, &mask, &alpha, &px, &py, true)) return false;
    // Of the filters only those that move pixels shape the border.
    struct Moved {
        qxBitMap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
        ~Moved() { qxFreeImagePlanes(bitmap, mask, alpha); }
    } moved;
    if ((mask || alpha) && qxFiltersGeometric(&l->filters) &&
        !qxCopyImageRect(bitmap, mask, alpha, px, py, d->dwidth, d->dheight, 0, 0, 0, 0, &moved.bitmap,
                         mask ? &moved.mask : nullptr, alpha ? &moved.alpha : nullptr) &&
        !qxApplyFilters(&l->filters, moved.bitmap, moved.mask, moved.alpha, d->dwidth, d->dheight, 1)) {
        mask = moved.mask, alpha = moved.alpha;
        px = py = 0;
    }
    const int32_t r = qxLayerBorderInset(l, d);
    const uint32_t level = 255 - (l->bordercolor >> 24);
    const qxLayerTypeOps *ops = qxLayerType(l->type);
    if (ops && ops->borderMask && (d == l->base || shapeType(l->type)) && r <= 64 &&
        !ops->borderMask(L, l, d, r, &d->borderalpha, &d->borderdx, &d->borderdy))
        return takeBorder(d, level);
    if (turnedPlainPicture(L, l, d)) {
        qxTransformOptions t;
        qxRenditionTransform(l, d, &t);
        const int32_t size = int32_t(std::min<uint32_t>(l->bordersize, 1 << 16));
        if (!qxLayerBoxBorder(L, &t, l->base->width, l->base->height, size, &d->borderalpha, &d->borderdx,
                              &d->borderdy))
            return takeBorder(d, level);
        d->borderalpha = nullptr;
    }
    if (mask || alpha) {
        d->borderalpha = qxMakeShadowBitmap(alpha, mask, px, py, d->dwidth, d->dheight, level, 1, r >= 4, r, r / 3.0);
    } else {
        const int64_t bw = int64_t(d->dwidth) + 2 * r, bh = int64_t(d->dheight) + 2 * r;
        if (bw > INT32_MAX || bh > INT32_MAX || bw * bh > (int64_t(1) << 31)) return false;
        d->borderalpha = qxAllocAlphaBitMap(uint32_t(bw), uint32_t(bh), 1, nullptr, 0);
        if (d->borderalpha) qxFillBitMapRect(d->borderalpha, 0, 0, int32_t(bw), int32_t(bh), level);
    }
    if (!d->borderalpha) return false;
    d->borderdx = d->borderdy = r;
    d->borderwidth = int32_t(d->borderalpha->width), d->borderheight = int32_t(d->borderalpha->height);
    return true;
}

void drawBorder(lua_State *L, qxLayer *l, qxLayerData *d, qxBitMap *dest, int32_t x, int32_t y, int32_t w, int32_t h)
{
    if (!d->borderalpha && !buildBorder(L, l, d)) return;
    const int32_t bx = int32_t(int64_t(d->left) - d->borderdx), by = int32_t(int64_t(d->top) - d->borderdy);
    int32_t ix = bx, iy = by, iw = d->borderwidth, ih = d->borderheight;
    if (!intersect(x, y, w, h, &ix, &iy, &iw, &ih)) return;
    uint32_t o = 255 - std::min(l->transparency, 255u);
    if (l->borderfade) o = (l->borderfade - 1) * o / 255;
    paintThroughAlpha(d->borderalpha, ix - bx, iy - by, dest, ix, iy, iw, ih, l->bordercolor & 0xFFFFFF, o);
}

void drawShadow(lua_State *L, qxLayer *l, qxLayerData *d, qxBitMap *dest, int32_t x, int32_t y, int32_t w, int32_t h)
{
    // The shadow falls from the border: it is made first.
    if (l->border && !d->borderalpha && !d->shadowalpha) buildBorder(L, l, d);
    int32_t sx, sy, sw, sh;
    qxLayerShadowRect(l, d, &sx, &sy, &sw, &sh);
    int32_t ix = sx, iy = sy, iw = sw, ih = sh;
    if (!intersect(x, y, w, h, &ix, &iy, &iw, &ih)) return;
    if (!d->shadowalpha) {
        uint32_t opacity = 255 - (l->shadowcolor >> 24);
        if (l->shadowfade) opacity = uint32_t(opacity * (l->shadowfade - 1) / 255.0);
        qxBitMap *bitmap, *mask, *alpha;
        int32_t px, py;
        if (l->border && d->borderalpha) {
            d->shadowalpha = qxMakeShadowBitmap(d->borderalpha, nullptr, 0, 0, d->borderwidth, d->borderheight, opacity,
                                                0, 0, l->shadowradius, l->shadowsigma);
        } else {
            if (!displayedImage(L, l, d, &bitmap, &mask, &alpha, &px, &py)) return;
            d->shadowalpha = qxMakeShadowBitmap(alpha, mask, px, py, d->dwidth, d->dheight, opacity, 0, 0,
                                                l->shadowradius, l->shadowsigma);
        }
        if (!d->shadowalpha) return;
    }
    paintThroughAlpha(d->shadowalpha, ix - sx, iy - sy, dest, ix, iy, iw, ih, l->shadowcolor & 0xFFFFFF);
}

// Draws one layer's picture where it meets the rectangle (x, y, w, h).
void drawImage(lua_State *L, const qxLayer *l, const qxLayerData *d, qxBitMap *dest, int32_t x, int32_t y, int32_t w,
               int32_t h)
{
    int32_t ix = d->left, iy = d->top, iw = d->dwidth, ih = d->dheight;
    if (!intersect(x, y, w, h, &ix, &iy, &iw, &ih)) return;
    qxBitMap *bitmap, *mask, *alpha;
    int32_t sx, sy;
    if (!displayedImage(L, l, d, &bitmap, &mask, &alpha, &sx, &sy)) return;
    sx = clamp32(int64_t(sx) + ix - d->left), sy = clamp32(int64_t(sy) + iy - d->top);
    // Never read beyond the source planes.
    int32_t cx = sx, cy = sy;
    if (!intersect(0, 0, bitmap->width, bitmap->height, &cx, &cy, &iw, &ih)) return;
    ix += cx - sx, iy += cy - sy, sx = cx, sy = cy;
    uint32_t opacity = 255 - std::min(l->transparency, 255u);
    if (l->imagefade) opacity = (std::min(l->imagefade, 256u) - 1) * opacity / 255;
    if (opacity < 255) {
        qxMixBitmaps(dest, bitmap, mask, ix, iy, sx, sy, iw, ih, int32_t(opacity),
                     alpha, alpha ? int32_t(bitmap->width) : 0, alpha ? int32_t(bitmap->height) : 0);
    } else if (mask) {
        qxBltBitMapMasked(bitmap, sx, sy, dest, ix, iy, iw, ih, mask);
    } else if (alpha) {
        qxBltBitMapThroughAlpha(bitmap, sx, sy, dest, ix, iy, iw, ih, alpha);
    } else {
        qxBltBitMapDirect(bitmap, sx, sy, dest, ix, iy, iw, ih);
    }
}

} // namespace

void qxClipMaskPass(qxBitMap *dest, const qxClipRegion *c, int32_t x, int32_t y, int32_t w, int32_t h,
                  std::vector<uint8_t> &saved, bool restore)
{
    qxBitMapLock lock;
    if (!qxLockBitMap(dest, 0, &lock)) return;
    if (intersect(0, 0, lock.width, lock.height, &x, &y, &w, &h)) {
        const size_t bpp = lock.bytesPerPixel, row = size_t(w) * bpp;
        if (!restore) saved.resize(row * size_t(h));
        const qxPlane m = qxPlaneOf(static_cast<qxBitMap *>(c->mask));
        for (int32_t j = 0; j < h && saved.size() >= row * size_t(h); ++j) {
            auto *p = static_cast<uint8_t *>(lock.pixels) + (int64_t(y + j) * lock.pixelsPerRow + x) * int64_t(bpp);
            uint8_t *s = saved.data() + row * size_t(j);
            if (!restore) {
                std::memcpy(s, p, row);
                continue;
            }
            const int64_t my = int64_t(y) + j - c->y;
            const uint8_t *mrow = m.bytes && my >= 0 && my < m.height ? m.bytes + my * m.bytesPerRow : nullptr;
            for (int32_t i = 0; i < w; ++i) {
                const int64_t mx = int64_t(x) + i - c->x;
                if (!mrow || mx < 0 || mx >= m.width || !qxMaskBit(mrow, mx)) std::memcpy(p + i * bpp, s + i * bpp, bpp);
            }
        }
    }
    qxUnLockBitMap(&lock);
}

extern "C" {

qxRectList qxLayerCmdRects;

int qxRectsOverlapWH(int32_t x, int32_t y, int32_t w, int32_t h, int32_t x2, int32_t y2, int32_t w2, int32_t h2)
{
    return int64_t(x) < int64_t(x2) + w2 && int64_t(x2) < int64_t(x) + w && int64_t(y) < int64_t(y2) + h2 &&
           int64_t(y2) < int64_t(y) + h;
}

void qxUnionRect(int32_t *x, int32_t *y, int32_t *w, int32_t *h, int32_t x2, int32_t y2, int32_t w2, int32_t h2)
{
    if (w2 < 1 || h2 < 1) return;
    if (*w < 1 || *h < 1) {
        *x = x2, *y = y2, *w = w2, *h = h2;
        return;
    }
    // Cut to +-2^30, far beyond any screen, so that the size always fits.
    constexpr int64_t kLimit = (int64_t(1) << 30) - 1;
    const int64_t l = std::max<int64_t>(std::min(*x, x2), -kLimit), t = std::max<int64_t>(std::min(*y, y2), -kLimit);
    const int64_t r = std::min(std::max(int64_t(*x) + *w, int64_t(x2) + w2), kLimit);
    const int64_t b = std::min(std::max(int64_t(*y) + *h, int64_t(y2) + h2), kLimit);
    if (r <= l || b <= t) {
        *w = *h = 0;
        return;
    }
    *x = int32_t(l), *y = int32_t(t), *w = int32_t(r - l), *h = int32_t(b - t);
}

void qxRectListAdd(qxRectList *list, int32_t x, int32_t y, int32_t w, int32_t h, int grow)
{
    if (w < 1 || h < 1) return;
    if (list->count >= list->capacity) {
        if (!grow || list->capacity > INT32_MAX - 1024) return;
        auto *bigger = static_cast<qxLayerRect *>(std::malloc(sizeof(qxLayerRect) * size_t(list->capacity + 1024)));
        if (!bigger) return;
        std::copy(list->entries, list->entries + list->count, bigger);
        std::free(list->entries);
        list->entries = bigger;
        list->capacity += 1024;
    }
    list->entries[list->count++] = {x, y, clamp32(int64_t(x) + w - 1), clamp32(int64_t(y) + h - 1)};
}

void qxMergeRectList(qxRectList *list)
{
    qxLayerRect *r = list->entries;
    for (int32_t i = 0; i < list->count; ++i) {
        if (r[i].x1 == QX_RECT_MERGED) continue;
        for (int32_t j = 0; j < list->count; ++j) {
            if (i == j || r[j].x1 == QX_RECT_MERGED) continue;
            if (int64_t(r[j].x1) - r[i].x2 > 1 || int64_t(r[i].x1) - r[j].x2 > 1 || int64_t(r[j].y1) - r[i].y2 > 1 ||
                int64_t(r[i].y1) - r[j].y2 > 1)
                continue;
            r[i] = {std::min(r[i].x1, r[j].x1), std::min(r[i].y1, r[j].y1), std::max(r[i].x2, r[j].x2),
                    std::max(r[i].y2, r[j].y2)};
            r[j].x1 = QX_RECT_MERGED;
        }
    }
}

void qxRefreshRectList(lua_State *L, qxRectList *list)
{
    if (qxBGPic *b = list->count > 0 ? qxLayerBGPic() : nullptr) b->changed = 1;
    for (int32_t i = 0; i < list->count; ++i) {
        const qxLayerRect &r = list->entries[i];
        if (r.x1 == QX_RECT_MERGED) continue;
        qxRefreshDisplay(L, r.x1, r.y1, clamp32(int64_t(r.x2) - r.x1 + 1), clamp32(int64_t(r.y2) - r.y1 + 1), 0);
    }
}

qxBitMap *qxLayerBackground(qxDisplay *display, qxBGPic *b)
{
    for (const Background &g : gBackgrounds)
        if (g.display == display && g.bgpic == b && g.bitmap && int32_t(g.bitmap->width) == b->width &&
            int32_t(g.bitmap->height) == b->height)
            return g.bitmap;
    return b->bitmap;
}

void qxSetLayerBackground(qxDisplay *display, qxBGPic *b, qxBitMap *bitmap)
{
    qxSetLayerBackgroundComposed(display, b, bitmap, nullptr);
}

void qxSetLayerBackgroundComposed(qxDisplay *display, qxBGPic *b, qxBitMap *bitmap, qxBitMap *composed)
{
    for (auto it = gBackgrounds.begin(); it != gBackgrounds.end();) {
        if (it->display == display) {
            qxFreeBitMap(it->bitmap);
            qxFreeBitMap(it->scaled);
            it = gBackgrounds.erase(it);
        } else {
            ++it;
        }
    }
    if (composed && (!bitmap || !b || int32_t(composed->width) != b->curWidth ||
                     int32_t(composed->height) != b->curHeight)) {
        qxFreeBitMap(composed);
        composed = nullptr;
    }
    if (bitmap) gBackgrounds.push_back({display, b, bitmap, composed});
}

void qxFreeLayerBackgrounds(void)
{
    for (Background &g : gBackgrounds) qxFreeBitMap(g.bitmap), qxFreeBitMap(g.scaled);
    gBackgrounds.clear();
}

void Redraw(lua_State *L, qxDisplay *display, qxBGPic *b, qxBitMap *dest, int32_t x, int32_t y, int32_t w,
            int32_t h, uint32_t flags)
{
    if (w < 1 || h < 1) {
        qxPrintF("ERROR! REDRAW CALLED WITH WIDTH/HEIGHT <= 0\n");
        return;
    }
    if (x < 0 || y < 0) {
        qxPrintF("ERROR! REDRAW CALLED WITH NEGATIVE X/Y COORDINATES\n");
        return;
    }
    if (!dest) {
        qxPrintF("ERROR! REDRAW CALLED WITHOUT DSTBM\n");
        return;
    }
    if (!b) return;
    // A layer-scaling display shows its BGPic and layers at its own size;
    // flag 8 composes any BGPic at its current size.
    const bool screenSize = !(flags & QX_RD_SCRIPTSIZE) && b->curBitmap &&
                            ((flags & QX_RD_BGPICBITMAP) ||
                             (qxLayerScaling(display) && b == display->bgpic && b->curBitmap != b->bitmap));
    const int64_t bw = screenSize ? b->curWidth : b->width, bh = screenSize ? b->curHeight : b->height;
    if (!intersect(0, 0, std::min<int64_t>(bw, dest->width), std::min<int64_t>(bh, dest->height), &x, &y, &w, &h))
        return;
    if (flags & (QX_RD_SPRITESONLY | QX_RD_ACTIVESPRITES)) {
        if (!(flags & QX_RD_NOSPRITES)) qxDrawSprites(b, dest, x, y, w, h);
        return;
    }
    // What was drawn before layers came on is shown at the scaled size too.
    qxBitMap *const screenBg =
        screenSize && !(flags & QX_RD_BGPICBITMAP) ? screenBackground(display, b) : nullptr;
    qxBitMap *background = screenSize                    ? (screenBg ? screenBg : b->curBitmap)
                           : (flags & QX_RD_BGPICBITMAP) ? b->bitmap
                                                         : qxLayerBackground(display, b);
    if (background && background != dest) qxBltBitMapDirect(background, x, y, dest, x, y, w, h);
    if (flags & QX_RD_BACKGROUNDONLY) return;
    std::vector<uint8_t> under; // what a masked clip region keeps
    for (qxLayer *l = b->layers.first; l; l = l->next) {
        if (l->type == QX_TYPE_NOOBJECT || l->hidden) continue;
        qxLayerData *d = (flags & QX_RD_SCRIPTSIZE) ? l->intermediate : l->onscreen;
        // A layer shows only inside its rendition's clip region.
        int32_t cx = x, cy = y, cw = w, ch = h;
        const auto *c = static_cast<const qxClipRegion *>(d->clip);
        if (c && !intersect(c->x, c->y, c->width, c->height, &cx, &cy, &cw, &ch)) continue;
        if (c && c->mask) qxClipMaskPass(dest, c, cx, cy, cw, ch, under, false);
        if (l->border && !d->borderalpha) buildBorder(L, l, d);
        if (l->shadow) drawShadow(L, l, d, dest, cx, cy, cw, ch);
        if (l->border) drawBorder(L, l, d, dest, cx, cy, cw, ch);
        const qxLayerTypeOps *ops = l->border ? qxLayerType(l->type) : nullptr;
        if (!ops || !ops->borderOnly || !ops->borderOnly(l)) drawImage(L, l, d, dest, cx, cy, cw, ch);
        if (c && c->mask) qxClipMaskPass(dest, c, cx, cy, cw, ch, under, true);
    }
    // Sprites and layers exclude each other, so sprites go on top.
    if (!(flags & QX_RD_NOSPRITES) && b->sprites) qxDrawSprites(b, dest, x, y, w, h);
}

void qxRefreshDisplay(lua_State *L, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t flags)
{
    qxDisplay *d = qxCurrentDisplay;
    qxBGPic *b = d ? d->bgpic : nullptr;
    qxSyncLayerScale(L, d);
    int32_t bw, bh;
    qxComposedSize(d, b, &bw, &bh);
    if (!b || !intersect(0, 0, bw, bh, &x, &y, &w, &h)) return;
    qxBitMap *work = qxDisplayWorkBitmap(d, 1);
    if (!work) return;
    Redraw(L, d, b, work, x, y, w, h, flags);
    qxPutToWindow(d, work, x, y, w, h);
}

void qxInvalidateRect(lua_State *L, int32_t x, int32_t y, int32_t w, int32_t h)
{
    qxDisplay *d = qxCurrentDisplay;
    if (!d || w < 1 || h < 1) return;
    if (qxBGPic *b = qxLayerBGPic()) b->changed = 1;
    if (d->targetType == QX_OUT_DISPLAY) {
        qxRefreshDisplay(L, x, y, w, h, 0);
    } else if (d->targetType == QX_OUT_BGPIC && qxLayerBGPic() == d->bgpic) {
        qxOutputState *s = qxOutputOf(d, 0);
        // Without a list to collect into, the change shows at once.
        if (s && s->dirty) qxAddDirtyRect(d, x, y, w, h);
        else qxRefreshDisplay(L, x, y, w, h, 0);
    }
}

void qxRefreshDirtyRects(lua_State *L)
{
    qxDisplay *d = qxCurrentDisplay;
    qxOutputState *s = d ? qxOutputOf(d, 0) : nullptr;
    if (!s || !s->dirty || !d->bgpic) return;
    if (s->dirtyCount >= s->dirtyCapacity) {
        qxRefreshDisplay(L, 0, 0, std::max(d->bgpic->width, d->bgpic->curWidth),
                         std::max(d->bgpic->height, d->bgpic->curHeight), 0);
    } else {
        const uint32_t n = qxMergeRects(s->dirty, s->dirtyCount);
        for (uint32_t i = 0; i < n; ++i) {
            const qxRectI &r = s->dirty[i];
            if (r.left == QX_RECT_MERGED) continue;
            qxRefreshDisplay(L, r.left, r.top, clamp32(int64_t(r.right) - r.left + 1),
                             clamp32(int64_t(r.bottom) - r.top + 1), 0);
        }
    }
    s->dirtyCount = 0;
}

int qxGetLayerImage(lua_State *L, const qxLayer *l, qxBitMap **bitmap, qxBitMap **mask, qxBitMap **alpha,
                    int32_t *sx, int32_t *sy)
{
    if (l->type == QX_TYPE_NOOBJECT) return ERR_WRONGUSAGE;
    return displayedImage(L, l, l->onscreen, bitmap, mask, alpha, sx, sy) ? 0 : ERR_WRONGUSAGE;
}

int qxHasActiveFilters(const qxFilterBlock *filters) { return qxFiltersActive(filters); }

void qxMarkLayerDirty(lua_State *L, const qxLayer *l, const qxLayerData *d)
{
    int32_t x, y, w, h;
    qxLayerScreenRect(l, d ? d : l->onscreen, &x, &y, &w, &h);
    qxInvalidateRect(L, x, y, w, h);
}

int qxIntersectRect(int32_t *x, int32_t *y, int32_t *w, int32_t *h, int32_t x2, int32_t y2, int32_t w2, int32_t h2)
{
    return intersect(x2, y2, w2, h2, x, y, w, h) ? 1 : 0;
}

qxBoxBorderFunc qxLayerBoxBorder;

void qxRenditionTransform(const qxLayer *l, const qxLayerData *d, qxTransformOptions *t)
{
    *t = l->transform;
    if (d == l->base && d != l->intermediate) {
        // The base is the untransformed picture.
        t->m11 = t->m22 = 1, t->m12 = t->m21 = 0;
        return;
    }
    qxDisplay *disp = qxCurrentDisplay;
    if (d != l->onscreen || d == l->intermediate || !qxLayerScaling(disp)) return;
    // x comes from m11 and m21, y from m12 and m22.
    t->m11 *= disp->scaleX, t->m21 *= disp->scaleX;
    t->m12 *= disp->scaleY, t->m22 *= disp->scaleY;
}

int32_t qxXformBorderInset(const double m[4], int32_t w, int32_t h, int32_t size)
{
    for (int i = 0; i < 4; i++)
        if (!std::isfinite(m[i]) || std::fabs(m[i]) > 1e4) return size;
    if (m[0] == 1 && m[1] == 0 && m[2] == 0 && m[3] == 1) return size;
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    qxComputeTransformBounds(0, 0, w, h, m, &x0, &y0, nullptr, nullptr, 0.5, 0.5);
    qxComputeTransformBounds(-size, -size, w + 2 * size, h + 2 * size, m, &x1, &y1, nullptr, nullptr, 0.5, 0.5);
    return std::clamp(std::max(x0 - x1, y0 - y1), 0, 1 << 20);
}

int32_t qxLayerBorderInset(const qxLayer *l, const qxLayerData *d)
{
    const int32_t size = int32_t(std::min<uint32_t>(l->bordersize, 1 << 16));
    qxTransformOptions t;
    qxRenditionTransform(l, d, &t);
    const double m[4] = {t.m11, t.m12, t.m21, t.m22};
    const int32_t w = std::clamp(l->base ? l->base->width : d->dwidth, 1, 1 << 20);
    const int32_t h = std::clamp(l->base ? l->base->height : d->dheight, 1, 1 << 20);
    return qxXformBorderInset(m, w, h, size);
}

namespace {
// Where a rendition's border lies: its image once made, else the picture
// grown by the inset (and margin).
void borderRect(const qxLayer *l, const qxLayerData *d, int32_t margin, int64_t *x, int64_t *y, int64_t *w,
                int64_t *h)
{
    if (d->borderalpha) {
        *x = int64_t(d->left) - d->borderdx, *y = int64_t(d->top) - d->borderdy;
        *w = d->borderwidth, *h = d->borderheight;
        return;
    }
    const int64_t b = int64_t(qxLayerBorderInset(l, d)) + margin;
    *x = int64_t(d->left) - b, *y = int64_t(d->top) - b;
    *w = int64_t(d->dwidth) + 2 * b, *h = int64_t(d->dheight) + 2 * b;
}
} // namespace

void qxLayerShadowRect(const qxLayer *l, const qxLayerData *d, int32_t *x, int32_t *y, int32_t *w, int32_t *h)
{
    const double radius = std::isfinite(l->shadowradius) ? std::clamp(l->shadowradius, 0.0, 1e6) : 0.0;
    const int64_t r = int64_t(radius);
    qxDisplay *disp = qxCurrentDisplay;
    const double scaleX = disp && disp->layerScale ? disp->scaleX : 1.0, scaleY = disp && disp->layerScale ? disp->scaleY : 1.0;
    const int64_t dx = int64_t(std::clamp(l->shadowsize * scaleX, 0.0, 1e9));
    const int64_t dy = int64_t(std::clamp(l->shadowsize * scaleY, 0.0, 1e9));
    // Around the border when it is on, else around the picture.
    int64_t bx = d->left, by = d->top, bw = d->dwidth, bh = d->dheight;
    if (l->border) borderRect(l, d, 0, &bx, &by, &bw, &bh);
    int64_t sx = bx - r, sy = by - r;
    switch (l->shadowdir) {
    case 0: sy -= dy; break;
    case 1: sy -= dy, sx += dx; break;
    case 2: sx += dx; break;
    case 3: sy += dy, sx += dx; break;
    case 4: sy += dy; break;
    case 5: sy += dy, sx -= dx; break;
    case 6: sx -= dx; break;
    case 7: sy -= dy, sx -= dx; break;
    default: break;
    }
    *x = clamp32(sx), *y = clamp32(sy);
    *w = clamp32(bw + 2 * r);
    *h = clamp32(bh + 2 * r);
}

void qxLayerScreenRect(const qxLayer *l, const qxLayerData *d, int32_t *x, int32_t *y, int32_t *w, int32_t *h)
{
    *x = d->left, *y = d->top, *w = d->dwidth, *h = d->dheight;
    if (l->border) {
        // Before its image is made a border may reach a little further
        // than its inset (an anti-aliased edge, a corner of a turned box).
        int64_t bx, by, bw, bh;
        borderRect(l, d, 2, &bx, &by, &bw, &bh);
        qxUnionRect(x, y, w, h, clamp32(bx), clamp32(by), clamp32(bw), clamp32(bh));
    }
    if (l->shadow) {
        int32_t sx, sy, sw, sh;
        qxLayerShadowRect(l, d, &sx, &sy, &sw, &sh);
        qxUnionRect(x, y, w, h, sx, sy, sw, sh);
    }
}

int qxLayerIsUncovered(const qxLayer *layer)
{
    const qxLayerData *d = layer->onscreen;
    for (const qxLayer *l = layer->next; l; l = l->next) {
        if (l->hidden || l->type == QX_TYPE_NOOBJECT) continue;
        int32_t x, y, w, h;
        qxLayerScreenRect(l, l->onscreen, &x, &y, &w, &h);
        if (qxRectsOverlapWH(d->left, d->top, d->dwidth, d->dheight, x, y, w, h)) return 0;
    }
    return 1;
}

void qxDrawLayer(lua_State *L, qxLayer *layer, int fast)
{
    int32_t x, y, w, h;
    qxLayerScreenRect(layer, layer->onscreen, &x, &y, &w, &h);
    qxDisplay *disp = qxCurrentDisplay;
    qxBGPic *b = disp ? disp->bgpic : nullptr;
    if (!fast || !b || disp->targetType != QX_OUT_DISPLAY || qxLayerBGPic() != b) {
        qxInvalidateRect(L, x, y, w, h);
        return;
    }
    if (layer->hidden || layer->type == QX_TYPE_NOOBJECT) return;
    // The visible part of the picture: inside its clip region and the BGPic.
    const qxLayerData *d = layer->onscreen;
    int32_t ix = d->left, iy = d->top, iw = d->dwidth, ih = d->dheight;
    const auto *c = static_cast<const qxClipRegion *>(d->clip);
    int32_t bw, bh;
    qxComposedSize(disp, b, &bw, &bh);
    if ((c && !intersect(c->x, c->y, c->width, c->height, &ix, &iy, &iw, &ih)) ||
        !intersect(0, 0, bw, bh, &ix, &iy, &iw, &ih))
        return;
    qxBitMap *bitmap, *mask, *alpha;
    int32_t sx, sy;
    // A plain opaque picture that nothing covers goes straight to the screen.
    // One with a mask is composed too: the pixels its mask leaves out may
    // still show its former picture.
    qxBitMap *work = nullptr;
    if ((c && c->mask) || layer->transparency || layer->imagefade || !qxLayerIsUncovered(layer) ||
        !displayedImage(L, layer, d, &bitmap, &mask, &alpha, &sx, &sy) || mask || alpha ||
        !(work = qxDisplayWorkBitmap(disp, 1))) {
        qxInvalidateRect(L, ix, iy, iw, ih);
        return;
    }
    sx = clamp32(int64_t(sx) + ix - d->left), sy = clamp32(int64_t(sy) + iy - d->top);
    int32_t cx = sx, cy = sy;
    if (!intersect(0, 0, bitmap->width, bitmap->height, &cx, &cy, &iw, &ih)) return;
    ix += cx - sx, iy += cy - sy;
    qxBltBitMapDirect(bitmap, cx, cy, work, ix, iy, iw, ih);
    qxPutToWindow(disp, work, ix, iy, iw, ih);
}

void qxMoveLayer(lua_State *L, qxLayer *layer, int32_t *acc, int32_t x, int32_t y, int noInvalidate, uint32_t flags,
                 qxRectList *list)
{
    qxLayerData *d = layer->base;
    int32_t ax, ay, aw, ah;
    qxLayerScreenRect(layer, layer->onscreen, &ax, &ay, &aw, &ah);
    if (!(x == 100000 && y == 100000)) {
        auto resolve = [](int32_t v, int32_t current, bool relative) -> int64_t {
            if (relative) return int64_t(current) + v;
            if (v >= 95001 && v <= 104999) return int64_t(current) + (v - 100000);
            return v;
        };
        const int64_t nx = resolve(x, d->x, flags & 1), ny = resolve(y, d->y, flags & 2);
        const int64_t dx = nx - d->x, dy = ny - d->y;
        qxLayerData *base = layer->base, *inter = layer->intermediate, *screen = layer->onscreen;
        qxPlaceLayerData(layer, base, clamp32(base->x + dx), clamp32(base->y + dy));
        if (inter != base) qxPlaceLayerData(layer, inter, clamp32(inter->x + dx), clamp32(inter->y + dy));
        if (screen != inter && screen != base) {
            // The on-screen picture lies at the intermediate's place times the display's scale.
            qxDisplay *disp = qxCurrentDisplay;
            const double fx = qxLayerScaling(disp) ? disp->scaleX : 1.0, fy = qxLayerScaling(disp) ? disp->scaleY : 1.0;
            qxPlaceLayerData(layer, screen, clamp32(std::trunc(inter->x * fx)), clamp32(std::trunc(inter->y * fy)));
        }
        int32_t bx, by, bw, bh;
        qxLayerScreenRect(layer, layer->onscreen, &bx, &by, &bw, &bh);
        qxUnionRect(&ax, &ay, &aw, &ah, bx, by, bw, bh);
        if (qxBGPic *b = qxLayerBGPic()) b->changed = 1;
    }
    if (noInvalidate) return;
    if (acc) qxUnionRect(&acc[0], &acc[1], &acc[2], &acc[3], ax, ay, aw, ah);
    else if (list) qxRectListAdd(list, ax, ay, aw, ah, 1);
    else qxInvalidateRect(L, ax, ay, aw, ah);
}

} // extern "C"
