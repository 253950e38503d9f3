// The renditions of a layer: base (as handed over), intermediate (under the
// layer's own transform) and on-screen (at the size of a layer-scaling
// display). Renditions that need no copy share one record, so a record is
// freed only when it is not also a lower rendition.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/runtime/qx_startup.h"
#include "display/qx_adapter.h"
#include "display/qx_asyncdraw.h"
#include "display/qx_bitmaptransform.h"
#include "display/qx_clipregion.h"
#include "display/qx_display.h"
#include "display/qx_gfxgeom.h"
#include "imaging/qx_transform.h"
#include "layers/qx_layer.h"
#include "layers/qx_sprite.h"
#include "layers/qx_layerfilters.h"
#include "objects/qx_bgpicdisplay.h"
#include "objects/qx_output.h"
#include "platform/qx_errcodes.h"

extern "C" {
const double *qxLayerCosTable, *qxLayerSinTable;
void (*qxLayerFillTrigTables)(void);
}

namespace {

int32_t clamp32(double v) { return std::isfinite(v) ? int32_t(std::clamp(v, -2147483648.0, 2147483647.0)) : 0; }

int rebuildTransform(lua_State *L, qxLayer *l);
int rescaleBGPic(lua_State *L, qxDisplay *d, qxBGPic *b, int32_t sw, int32_t sh);

// A rendition rebuild of a layer an async draw may hold; the first error.
int heldClone(lua_State *L, qxLayer *l, uint32_t mode)
{
    qxLayerAsyncHold hold(l);
    const int r = qxCloneLayerData(L, l, mode);
    const int taken = hold.release();
    return r ? r : taken;
}

bool isText(uint32_t type) { return type == QX_TYPE_TEXTOBJECT || type == QX_LAYER_TEXTOUT || type == QX_LAYER_PRINT; }

void freeRecord(lua_State *L, uint32_t type, qxLayerData *d)
{
    if (!d) return;
    qxFreeLayerData(L, type, d);
    std::free(d);
}

// A fresh payload of the base's type and position, without pictures.
int copyOfBase(const qxLayer *l, qxLayerData **out)
{
    auto *p = static_cast<qxLayerData *>(std::malloc(sizeof(qxLayerData)));
    if (!p) return ERR_MEM;
    *p = *l->base;
    p->bitmap = p->mask = p->alpha = nullptr;
    p->xformbitmap = p->xformmask = p->xformalpha = nullptr;
    p->filtbitmap = p->filtmask = p->filtalpha = nullptr;
    p->borderbitmap = p->bordermask = p->borderalpha = p->shadowalpha = nullptr;
    p->typedata = nullptr;
    p->clip = nullptr;
    if (const qxLayerTypeOps *ops = qxLayerType(l->type); ops && ops->cloneTypeData && l->base->typedata)
        if (int e = ops->cloneTypeData(l->base, p)) {
            std::free(p);
            return e;
        }
    *out = p;
    return 0;
}

// The base picture under the matrix, for types that hand out pictures:
// it becomes the rendition's transformed-image cache.
int transformPicture(lua_State *L, qxLayer *l, const qxTransformOptions *t, qxBitMap **tb, qxBitMap **tm,
                     qxBitMap **ta, int32_t *tw, int32_t *th)
{
    const qxLayerData *base = l->base;
    qxBitMap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    int32_t sx = 0, sy = 0;
    if (int r = qxLayerSourcePlanes(L, l, base, &bitmap, &mask, &alpha, &sx, &sy)) return r;
    if (!bitmap) return ERR_WRONGUSAGE;
    qxBitMap *pb = nullptr, *pm = nullptr, *pa = nullptr;
    if (sx || sy || int32_t(bitmap->width) != base->width || int32_t(bitmap->height) != base->height) {
        if (int r = qxCopyImageRect(bitmap, mask, alpha, sx, sy, base->width, base->height, 0, 0, 0, 0, &pb,
                                    mask ? &pm : nullptr, alpha ? &pa : nullptr))
            return r;
        bitmap = pb, mask = pm, alpha = pa;
    }
    const double m[4] = {t->m11, t->m12, t->m21, t->m22};
    int r = qxTransformImage(L, 0, nullptr, bitmap, mask, alpha, 0, 0, base->width, base->height, l->anchorx,
                             l->anchory, m, t->smooth, tb, tm, ta, nullptr, nullptr, tw, th);
    qxFreeImagePlanes(pb, pm, pa);
    return r;
}

// Draws the source into the on-screen rendition (the payload being built)
// under t. Types whose library renders them again get crisp pictures;
// the others have their picture transformed.
int renderInto(lua_State *L, qxLayer *l, const qxTransformOptions *t, uint32_t flags)
{
    const qxTransformOptions copy = *t; // renderers never see the layer's own record
    qxBitMap *b = nullptr, *m = nullptr, *a = nullptr;
    int32_t w = 0, h = 0;
    if (qxLayerRedrawFunc redraw = qxLayerRedraw(l->type)) {
        // Placed by its own offset from the anchor point, which a turned
        // path's bounding box need not centre.
        int32_t dx = 0, dy = 0;
        if (int r = redraw(L, l, l->base, &copy, &b, &a, &dx, &dy, &w, &h)) return r;
        qxLayerData *d = l->onscreen;
        qxSetLayerPosition(L, l, nullptr, d->x, d->y, w, h, b, nullptr, a, flags);
        d->left = clamp32(double(d->x) + dx), d->top = clamp32(double(d->y) + dy);
        return 0;
    }
    const qxLayerTypeOps *ops = qxLayerType(l->type);
    if (ops && ops->renderSource) {
        int32_t dx = 0, dy = 0;
        if (int r = ops->renderSource(L, l, &copy, &b, &m, &a, &w, &h, &dx, &dy)) return r;
        qxLayerData *d = l->onscreen;
        qxSetLayerPosition(L, l, nullptr, d->x, d->y, w, h, b, m, a, flags);
        d->left = clamp32(double(d->left) + dx), d->top = clamp32(double(d->top) + dy);
        return 0;
    }
    if (int r = transformPicture(L, l, &copy, &b, &m, &a, &w, &h)) return r;
    qxLayerData *d = l->onscreen;
    d->xformbitmap = b, d->xformmask = m, d->xformalpha = a;
    qxSetLayerPosition(L, l, nullptr, d->x, d->y, w, h, nullptr, nullptr, nullptr, flags);
    return 0;
}

// A shape region's mask under the matrix, nearest pixel as a mask has no
// shades. The image transform takes a picture with its mask, so a blank
// one of the region's size goes along and is dropped. NULL on failure.
qxBitMap *transformClipMask(lua_State *L, const qxClipRegion *r, const double m[4])
{
    qxBitMap *blank = qxAllocBitMap(uint32_t(r->width), uint32_t(r->height), 0, nullptr);
    if (!blank) return nullptr;
    qxBitMap *b = nullptr, *mask = nullptr, *a = nullptr;
    const int e = qxTransformImage(L, 0, nullptr, blank, static_cast<qxBitMap *>(r->mask), nullptr, 0, 0, r->width,
                                   r->height, 0.0, 0.0, m, 0, &b, &mask, &a, nullptr, nullptr, nullptr, nullptr);
    qxFreeBitMap(blank);
    qxFreeImagePlanes(b, e ? mask : nullptr, a);
    return e ? nullptr : mask;
}

// The base clip region as the rendition p, already rendered under t, sees
// it: shared when the layer keeps it still, else moved with the picture's
// pixels. A redrawn type turns about its anchor point; a picture turns into
// its bounding box, which is placed by the anchor, so its top left corner
// lands where the transform's box starts, measured from the placed box.
int cloneClip(lua_State *L, const qxLayer *l, const qxTransformOptions *t, qxLayerData *p)
{
    const qxLayerData *b = l->base;
    const auto *base = static_cast<const qxClipRegion *>(b->clip);
    if (!base) return 0;
    if (l->nocliptransform) {
        p->clip = b->clip;
        return 0;
    }
    const double m[4] = {t->m11, t->m12, t->m21, t->m22};
    double bounds[4] = {double(b->x), double(b->y), double(p->x), double(p->y)};
    if (!qxLayerRedraw(l->type)) {
        double minX = 0, minY = 0;
        qxTransformBox(m, b->width, b->height, nullptr, nullptr, &minX, &minY);
        bounds[0] = b->left, bounds[1] = b->top, bounds[2] = p->left - minX, bounds[3] = p->top - minY;
    }
    qxBitMap *shape = base->mask ? transformClipMask(L, base, m) : nullptr;
    p->clip = qxTransformClipRegion(base, m, bounds, shape);
    return p->clip ? 0 : ERR_MEM;
}

// Renders the source into the on-screen rendition and then gives it the
// base clip region, which follows where the picture landed.
int renderClipped(lua_State *L, qxLayer *l, const qxTransformOptions *t, uint32_t flags)
{
    if (int r = renderInto(L, l, t, flags)) return r;
    return cloneClip(L, l, t, l->onscreen);
}

} // namespace

bool qxLayerScaledFor(const qxDisplay *d, const qxBGPic *b)
{
    return qxLayerScaling(d) && (d->scaleX != 1.0 || d->scaleY != 1.0) && b && b == d->bgpic;
}

extern "C" {

int qxLayerScaling(const qxDisplay *d)
{
    return d && d->layerScale && d->layersEnabled && d->scaledWidth && d->scaledHeight;
}

void qxComposedSize(const qxDisplay *d, const qxBGPic *b, int32_t *w, int32_t *h)
{
    const bool scaled = b && d && b == d->bgpic && qxLayerScaling(d) && b->curBitmap && b->curBitmap != b->bitmap;
    *w = !b ? 0 : scaled ? b->curWidth : b->width;
    *h = !b ? 0 : scaled ? b->curHeight : b->height;
}

void qxAnalyzeXform(qxTransformOptions *t)
{
    if (t->m12 == 0 && t->m21 == 0) return;
    t->general = 1;
    if (!qxLayerCosTable || !qxLayerSinTable) return;
    if (qxLayerFillTrigTables) qxLayerFillTrigTables();
    // The first whole angle that explains a row as a rotation with scale.
    // On the axes (exact quarter and half turns) one of the pair is zero and
    // the other alone gives the scale.
    auto search = [](double c, double s) -> double {
        for (int i = 0; i <= 360; ++i) {
            const double cs = qxLayerCosTable[i], sn = qxLayerSinTable[i];
            double k;
            if (std::fabs(cs) < 1e-12) {
                k = s / sn;
                if (!(k > 0) || std::fabs(c) > 0.0001 * k) continue;
            } else if (std::fabs(sn) < 1e-12) {
                k = c / cs;
                if (!(k > 0) || std::fabs(s) > 0.0001 * k) continue;
            } else {
                if ((cs < 0) != (c < 0)) continue;
                k = c / cs;
                if (std::fabs(k - s / sn) > 0.0001) continue;
            }
            return k;
        }
        return NAN;
    };
    const double s1 = search(t->m11, t->m12), s2 = search(t->m22, -t->m21);
    if (std::isnan(s1) || std::isnan(s2)) return;
    t->scale1 = s1, t->scale2 = s2;
    if (std::fabs(s1 - s2) <= 0.01) t->general = 0;
}

void qxPlaceLayerData(qxLayer *, qxLayerData *d, int32_t x, int32_t y)
{
    // The corners keep their distance to the anchor point (a line's end
    // points likewise).
    const double dx = double(x) - d->x, dy = double(y) - d->y;
    d->x = x, d->y = y;
    d->left = clamp32(d->left + dx), d->top = clamp32(d->top + dy);
    d->ox = clamp32(d->ox + dx), d->oy = clamp32(d->oy + dy);
}

void qxSetLayerPosition(lua_State *L, qxLayer *l, int32_t *acc, int32_t x, int32_t y, int32_t width, int32_t height,
                        qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, uint32_t flags)
{
    // A creator may call this on a layer an async draw holds.
    qxLayerAsyncHold hold(l);
    qxLayerData *d = l->onscreen;
    d->dwidth = width, d->dheight = height;
    if (l->type != QX_LAYER_LINE) {
        d->left = clamp32(double(x) - std::trunc(width * l->anchorx));
        d->top = clamp32(double(y) - std::trunc(height * l->anchory));
    } else if (!(flags & 64)) {
        d->left = x, d->top = y;
    }
    if (bitmap) {
        qxFreeImagePlanes(d->bitmap, d->mask, d->alpha);
        d->bitmap = bitmap, d->mask = mask, d->alpha = alpha;
    }
    qxFreeXformImage(d);
    qxFreeEffectImage(d);
    if (acc && acc[2] == -1) acc[0] = d->left, acc[1] = d->top, acc[2] = d->dwidth, acc[3] = d->dheight;
    hold.release();
    if (!acc || l->hidden) return;
    int32_t rx = acc[0], ry = acc[1], rw = acc[2], rh = acc[3];
    int32_t nx, ny, nw, nh;
    qxLayerScreenRect(l, d, &nx, &ny, &nw, &nh);
    qxUnionRect(&rx, &ry, &rw, &rh, nx, ny, nw, nh);
    qxInvalidateRect(L, rx, ry, rw, rh);
}

int qxCloneLayerData(lua_State *L, qxLayer *l, uint32_t mode)
{
    qxDisplay *disp = qxCurrentDisplay;
    qxTransformOptions t = l->transform;
    if (isText(l->type)) qxAnalyzeXform(&t);
    const bool screen = mode & 1;
    const double fx = screen && qxLayerScaling(disp) ? disp->scaleX : 1.0;
    const double fy = screen && qxLayerScaling(disp) ? disp->scaleY : 1.0;
    if (screen) {
        // x comes from m11 and m21, y from m12 and m22.
        t.m11 *= fx, t.m21 *= fx, t.scalex *= fx, t.scale1 *= fx;
        t.m12 *= fy, t.m22 *= fy, t.scaley *= fy, t.scale2 *= fy;
        if (disp) t.smooth = disp->smoothScale || (disp->flags & QX_DISP_SMOOTHSCALE) ? 1 : 0;
        if (!t.general && std::fabs(fx - fy) > 0.01) t.general = 1;
    }
    qxLayerData *p = nullptr;
    if (int e = copyOfBase(l, &p)) return e;
    qxLayerData *const oldI = l->intermediate, *const oldS = l->onscreen;
    if (!screen) {
        l->onscreen = p;
        if (int r = renderClipped(L, l, &t, 16)) {
            l->onscreen = oldS;
            freeRecord(L, l->type, p);
            return r;
        }
        l->intermediate = p;
        const bool separateS = oldS != oldI && oldS != l->base;
        int r = 0;
        if (qxLayerScaledFor(disp, qxLayerOwner(l))) {
            // The on-screen rendition follows from the new intermediate.
            l->onscreen = separateS ? oldS : p;
            r = qxCloneLayerData(L, l, 1 | (mode & 2));
            if (r) {
                if (l->onscreen == oldS && separateS) freeRecord(L, l->type, oldS);
                l->onscreen = p;
            }
        } else {
            l->onscreen = p;
            if (separateS) freeRecord(L, l->type, oldS);
        }
        if (oldI != l->base) freeRecord(L, l->type, oldI);
        return r;
    }
    const qxLayerData *I = l->intermediate;
    p->x = clamp32(std::trunc(I->x * fx)), p->y = clamp32(std::trunc(I->y * fy));
    p->partx = p->party = 0;
    int32_t acc[4] = {0, 0, -1, -1};
    if (!(mode & 4)) qxLayerScreenRect(l, oldS == l->base ? I : oldS, &acc[0], &acc[1], &acc[2], &acc[3]);
    l->onscreen = p;
    if (int r = renderClipped(L, l, &t, 80)) {
        l->onscreen = oldS;
        freeRecord(L, l->type, p);
        return r;
    }
    if (oldS != l->intermediate && oldS != l->base) freeRecord(L, l->type, oldS);
    return 0;
}

int qxRebuildLayerTransform(lua_State *L, qxLayer *l)
{
    qxLayerAsyncHold hold(l);
    const int r = rebuildTransform(L, l);
    const int taken = hold.release();
    return r ? r : taken;
}

} // extern "C"

namespace {

int rebuildTransform(lua_State *L, qxLayer *l)
{
    qxLayerData *b = l->base;
    // A size in pixels holds for whatever the layer shows now, so the matrix
    // follows the base's current size (a script's own matrix stays).
    qxTransformOptions &t = l->transform;
    if (!t.transformed && (t.width || t.height) && b->width > 0 && b->height > 0) {
        const double sx = t.width ? double(t.width) / b->width : t.scalex;
        const double sy = t.height ? double(t.height) / b->height : t.scaley;
        qxSetupTransform(&t.m11, 0, 0, b->width, b->height, sx, sy, t.rotate);
    }
    b->ox = clamp32(double(b->x) - std::trunc(b->width * l->anchorx));
    b->oy = clamp32(double(b->y) - std::trunc(b->height * l->anchory));
    b->left = b->ox, b->top = b->oy;
    if (!qxMatrixIsIdentity(&l->transform)) return qxCloneLayerData(L, l, 2);
    // Back to the base: the copies go.
    qxLayerData *oldI = l->intermediate, *oldS = l->onscreen;
    l->intermediate = l->onscreen = b;
    if (oldS != oldI && oldS != b) freeRecord(L, l->type, oldS);
    if (oldI != b) freeRecord(L, l->type, oldI);
    return qxLayerScaledFor(qxCurrentDisplay, qxLayerOwner(l)) ? qxCloneLayerData(L, l, 1) : 0;
}

} // namespace

extern "C" {

void qxFreeEffectImage(qxLayerData *d)
{
    qxFreeImagePlanes(d->borderbitmap, d->bordermask, d->borderalpha);
    qxFreeAlphaBitMap(d->shadowalpha);
    d->borderbitmap = d->bordermask = d->borderalpha = d->shadowalpha = nullptr;
}

int qxResetBGPicRenditions(lua_State *L, qxDisplay *, qxBGPic *b, int)
{
    // Separate current planes of a BGPic shown at another size go; the
    // working planes are what it shows until it is scaled again.
    qxUseWorkingPlanes(b);
    for (qxLayer *l = b->layers.first; l; l = l->next) {
        if (l->onscreen == l->intermediate || l->onscreen == l->base) continue;
        qxLayerAsyncHold hold(l);
        freeRecord(L, l->type, l->onscreen);
        l->onscreen = l->intermediate;
    }
    return 0;
}

int qxCopyLayerData(lua_State *L, qxDisplay *display, qxBGPic *b)
{
    qxDisplay *const prevDisplay = qxCurrentDisplay;
    qxBGPic *const prevOutput = qxCurrentOutput;
    qxCurrentDisplay = display, qxCurrentOutput = b;
    int r = 0;
    for (qxLayer *l = b->layers.first; l && !r; l = l->next)
        if (l->type != QX_TYPE_NOOBJECT) r = heldClone(L, l, 3);
    qxCurrentDisplay = prevDisplay, qxCurrentOutput = prevOutput;
    return r;
}

int qxSyncLayerScale(lua_State *L, qxDisplay *d)
{
    qxBGPic *b = d ? d->bgpic : nullptr;
    if (!b || !qxLayerScaling(d)) return 0;
    const int32_t sw = int32_t(d->scaledWidth), sh = int32_t(d->scaledHeight);
    if (b->curWidth == sw && b->curHeight == sh && b->curBitmap && b->curBitmap != b->bitmap) {
        d->scaleX = double(sw) / b->width, d->scaleY = double(sh) / b->height;
        return 0;
    }
    if (sw == b->width && sh == b->height && b->curBitmap == b->bitmap && b->curWidth == sw && b->curHeight == sh) {
        d->scaleX = d->scaleY = 1.0;
        return 0;
    }
    // A new scale: the BGPic and every layer are made again at it. Async
    // draws taking their layers up again redraw meanwhile: that redraw
    // must not start the rescale over.
    static bool busy = false;
    if (busy) return 0;
    busy = true;
    const int r = rescaleBGPic(L, d, b, sw, sh);
    busy = false;
    return r;
}

} // extern "C"

namespace {

int rescaleBGPic(lua_State *L, qxDisplay *d, qxBGPic *b, int32_t sw, int32_t sh)
{
    if (int r = qxResetBGPicRenditions(L, d, b, 0)) return r;
    if (sw == b->width && sh == b->height) {
        d->scaleX = d->scaleY = 1.0;
        return 0;
    }
    if (int r = qxScaleBGPicToDisplay(L, d, b, 0)) return r;
    qxForgetDisplayWork(d);
    return qxCopyLayerData(L, d, b);
}

} // namespace

extern "C" int qxRebuildLayerOnDisplay(lua_State *L, qxDisplay *display, qxLayer **layer, qxBitMap *bitmap)
{
    qxLayer *l = layer ? *layer : nullptr;
    qxBGPic *b = l ? qxLayerOwner(l) : nullptr;
    if (!b || !display) {
        qxFreeBitMap(bitmap);
        return ERR_WRONGUSAGE;
    }
    // Rebuilt in place, so the record keeps its style, its whole name and
    // its place in the list.
    qxDisplay *const prevDisplay = qxCurrentDisplay;
    qxBGPic *const prevOutput = qxCurrentOutput;
    const uint32_t target = display->targetType, layersOn = display->layersEnabled;
    qxCurrentDisplay = display, qxCurrentOutput = b;
    display->targetType = QX_OUT_DISPLAY, display->layersEnabled = 1;
    int r = heldClone(L, l, 3);
    if (!r && b == display->bgpic && !l->hidden) qxDrawLayer(L, l, 1);
    display->targetType = target, display->layersEnabled = layersOn;
    qxCurrentDisplay = prevDisplay, qxCurrentOutput = prevOutput;
    qxFreeBitMap(bitmap);
    return r;
}

namespace {

// The BGPic an async draw works on (a transition's emulated BGPic) is drawn
// again at the display's new scale before the display's own, so that the
// transition, taken up again by the rescale, reads it at that scale.
int rescaleBusyBGPic(lua_State *L, qxDisplay *d)
{
    auto *b = static_cast<qxBGPic *>(qxAsyncDrawBusy());
    const int32_t sw = int32_t(d->scaledWidth), sh = int32_t(d->scaledHeight);
    if (!b || b == d->bgpic || sw < 1 || sh < 1) return 0;
    if (sw == b->width && sh == b->height) return qxResetBGPicRenditions(L, d, b, 0);
    const double fx = d->scaleX, fy = d->scaleY;
    int r = qxScaleBGPicToDisplay(L, d, b, 0);
    if (!r) {
        d->scaleX = double(sw) / b->width, d->scaleY = double(sh) / b->height;
        r = qxCopyLayerData(L, d, b);
    }
    d->scaleX = fx, d->scaleY = fy;
    return r;
}

} // namespace

extern "C" int qxRescaleDisplayLayers(lua_State *L, qxDisplay *d)
{
    qxDisplay *const prevDisplay = qxCurrentDisplay;
    qxBGPic *const prevOutput = qxCurrentOutput;
    qxCurrentDisplay = d, qxCurrentOutput = d->bgpic;
    int r = qxLayerScaling(d) ? rescaleBusyBGPic(L, d) : 0;
    // A display that no longer scales its BGPic shows it at its own size.
    qxBGPic *b = d->bgpic;
    if (!r && b && !(d->layerScale && d->scaledWidth && d->scaledHeight) &&
        (b->curBitmap != b->bitmap || b->curWidth != b->width || b->curHeight != b->height)) {
        r = qxResetBGPicRenditions(L, d, b, 0);
        qxForgetDisplayWork(d);
    }
    qxCurrentDisplay = prevDisplay, qxCurrentOutput = prevOutput;
    return r ? r : qxComposeDisplay(L, d);
}

extern "C" int qxComposeDisplay(lua_State *L, qxDisplay *d)
{
    qxBGPic *b = d ? d->bgpic : nullptr;
    if (!b) return 0;
    qxDisplay *const prevDisplay = qxCurrentDisplay;
    qxBGPic *const prevOutput = qxCurrentOutput;
    qxCurrentDisplay = d, qxCurrentOutput = b;
    int r = qxSyncLayerScale(L, d);
    // Sprites keep what is drawn below them apart from the BGPic; one kept
    // at an old size no longer fits: what lies below them now is the BGPic
    // at its new size.
    if (b->sprites && !d->layersEnabled && !b->layers.count && qxLayerBackground(d, b) == b->bitmap)
        if (qxBitMap *bg = qxAllocBitMap(uint32_t(b->width), uint32_t(b->height), 0, nullptr)) {
            qxBltBitMapDirect(b->bitmap, 0, 0, bg, 0, 0, b->width, b->height);
            qxSetLayerBackground(d, b, bg);
        }
    // Without layers and sprites the work bitmap holds what was drawn: it
    // is the picture and stays.
    if (!r && (d->layersEnabled || b->layers.count || b->sprites))
        if (qxBitMap *work = qxDisplayWorkBitmap(d, 1))
            Redraw(L, d, b, work, 0, 0, int32_t(work->width), int32_t(work->height), 0);
    qxCurrentDisplay = prevDisplay, qxCurrentOutput = prevOutput;
    return r;
}

namespace {

// A BGPic that becomes a display's: its planes and layers were made for
// whatever display showed it last, or for none, so they go back to the
// unscaled ones and a display scaling its layers renders them again; then
// it is composed into the work bitmap.
int showBGPic(lua_State *L, qxDisplay *d)
{
    qxBGPic *b = d ? d->bgpic : nullptr;
    if (!b) return 0;
    if (int r = qxResetBGPicRenditions(L, d, b, 0)) return r;
    return qxRescaleDisplayLayers(L, d);
}

// A queued layer-transform request: the target is the layer; one that has
// gone since it was queued is skipped.
int rebuildQueuedLayer(qxDisplay *d, void *target, uint32_t *)
{
    auto *l = static_cast<qxLayer *>(target);
    if (!d || !qxLayerOwner(l)) return 0;
    return qxRebuildLayerOnDisplay(qxMainState, d, &l, nullptr);
}

} // namespace

namespace {

void clearClipLinks(const void *region)
{
    for (qxBGPic *b = qxBGPics; b; b = b->next)
        for (qxLayer *l = b->layers.first; l; l = l->next)
            for (qxLayerData *d : {l->base, l->intermediate, l->onscreen})
                if (d && d->clip == region) d->clip = nullptr;
    // Sprites on screen keep the region they were shown under.
    for (qxBGPic *b = qxBGPics; b; b = b->next)
        for (auto *e = static_cast<qxSpriteOnScreen *>(b->sprites); e; e = e->next)
            if (e->clip == region) e->clip = nullptr;
}

int clipRegionUsed(const void *region)
{
    for (qxBGPic *b = qxBGPics; b; b = b->next)
        for (qxLayer *l = b->layers.first; l; l = l->next)
            for (qxLayerData *d : {l->base, l->intermediate, l->onscreen})
                if (d && d->clip == region) return 1;
    return 0;
}

} // namespace

extern "C" void qxLinkLayerRenditions(void)
{
    qxLayerQueries.clearClipLinks = clearClipLinks;
    qxLayerQueries.clipRegionUsed = clipRegionUsed;
    qxBitMapDisplay.rescaleLayers = qxRescaleDisplayLayers;
    qxBitMapDisplay.composeDisplay = qxComposeDisplay;
    qxBitMapDisplay.showBGPic = showBGPic;
    qxDisplayVideo.rebuildLayer = rebuildQueuedLayer;
}
