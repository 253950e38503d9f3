// qxDisplayObject: find the object, parse its options, then either hand it
// to the layer engine or transform, blend and blit it onto the output.
#include "objects/qx_displaycore.h"

#include <algorithm>
#include <cmath>

#include "core/commands/qx_args.h"
#include "core/plugins/qx_pluginapi.h"
#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmaptransform.h"
#include "display/qx_display.h"
#include "display/qx_positions.h"
#include "objects/qx_bgpicdisplay.h"
#include "objects/qx_bgpicobj.h"
#include "objects/qx_brush.h"
#include "objects/qx_objectuse.h"
#include "objects/qx_output.h"
#include "objects/qx_selection.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_hooks.h"

namespace {

int noLayers(lua_State *, uint32_t, qxObjectRef, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
             const qxTransformOptions *, const qxObjectStyle *, qxBitMap *, qxBitMap *, qxBitMap *, int32_t, uint32_t,
             void *)
{
    return ERR_NOLAYERS;
}

int noRerender(lua_State *, void *, qxTransformOptions *, uint32_t) { return ERR_NOLAYERS; }

int noAnim(lua_State *, qxObjectRef ref, uint32_t, qxBitMap **, qxBitMap **, qxBitMap **, int32_t *, int32_t *, int *)
{
    if (ref.automatic) return ERR_FINDARRAY;
    qxSetErrorNumber(int(ref.number));
    return ERR_FINDANIM;
}

int noVideo(lua_State *, qxObjectRef ref, int32_t *, int32_t *)
{
    if (ref.automatic) return ERR_FINDARRAY;
    qxSetErrorNumber(int(ref.number));
    return ERR_FINDVIDEO;
}

// The planes being drawn: the object's own, or temporaries made while
// transforming or blending, freed when the request ends.
struct Image {
    qxBitMap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    bool owned = false;
    int32_t width = 0, height = 0; // of the planes
    void adopt(qxBitMap *b, qxBitMap *m, qxBitMap *a, int32_t w, int32_t h)
    {
        release();
        bitmap = b, mask = m, alpha = a, width = w, height = h, owned = true;
    }
    void release()
    {
        if (!owned) return;
        qxFreeBitMap(bitmap);
        qxFreeMaskBitMap(mask);
        qxFreeAlphaBitMap(alpha);
        bitmap = mask = alpha = nullptr;
        owned = false;
    }
    ~Image() { release(); }
};

// Transparency t as an alpha factor 255 - t: a new alpha plane from the
// object's alpha, its mask or nothing. Temporaries take it over; for the
// object's own planes it comes back in *own for the caller to free.
int applyTransparency(Image &im, uint32_t transparency, qxBitMap **own)
{
    const uint32_t factor = 255 - std::min(transparency, 255u);
    qxBitMap *a = qxAllocAlphaBitMap(uint32_t(im.width), uint32_t(im.height), 0, nullptr, 0);
    if (!a) return ERR_ALLOCALPHA;
    if (im.alpha)
        qxScaleAlpha(im.alpha, a, im.height, factor);
    else if (im.mask)
        qxMaskToAlpha(im.mask, 0, 0, a, 0, 0, im.width, im.height, factor);
    else
        qxFillBitMapRect(a, 0, 0, im.width, im.height, factor);
    if (im.owned) {
        qxFreeMaskBitMap(im.mask);
        qxFreeAlphaBitMap(im.alpha);
    } else {
        *own = a;
    }
    im.mask = nullptr;
    im.alpha = a;
    return 0;
}

// The top-left corner of an object whose anchor point is at v; positions
// far outside the output stay far outside instead of wrapping.
int32_t placed(int32_t v, int32_t size, double anchor)
{
    int64_t p = int64_t(v) - int64_t(std::trunc(size * anchor));
    return int32_t(std::clamp<int64_t>(p, INT32_MIN, INT32_MAX));
}

} // namespace

extern "C" {

qxDisplayCoreHooks qxDisplayCoreHook = {noLayers, noRerender, noAnim, noVideo, nullptr};

int qxAddLayerNode(lua_State *L, uint32_t type, qxObjectRef ref, int32_t a, int32_t b, int32_t x, int32_t y,
                   int32_t w, int32_t h, const qxTransformOptions *o, const qxObjectStyle *s, qxBitMap *bitmap,
                   qxBitMap *mask, qxBitMap *alpha, int32_t position, uint32_t flags, void *extra)
{
    return qxDisplayCoreHook.addLayer(L, type, ref, a, b, x, y, w, h, o, s, bitmap, mask, alpha, position, flags,
                                      extra);
}

int qxDisplayObject(lua_State *L, void *layer, void *, uint32_t type, qxObjectRef ref, qxBitMap *frameBitmap,
                    uint32_t frame, int32_t sx, int32_t sy, int32_t x, int32_t y, int32_t w, int32_t h,
                    uint32_t partMode, int optArg, qxTransformOptions *options, qxObjectStyle *style,
                    qxBitMap **outBitmap, uint32_t *outOwned, void *reserved, uint32_t flags)
{
    qxDisplay *d = qxCurrentDisplay;
    if (!d) return ERR_WRONGUSAGE;
    if (flags & QX_DO_RERENDER) return qxDisplayCoreHook.rerenderLayer(L, layer, options, flags);
    if (outBitmap) *outBitmap = nullptr;
    if (outOwned) *outOwned = 0;

    // 1. The object.
    Image im;
    qxPicSource *source = nullptr;
    const qxBrush *vectorBrush = nullptr;
    bool vector = false, hardware = false;
    int32_t objW = 0, objH = 0;
    qxBGPic *bgpic = nullptr;
    switch (type) {
    case QX_OBJ_BRUSH:
    case QX_OBJ_BRUSHPART: {
        if (qxOutputIsBrush(d, ref))
            if (int r = qxDisplayBGPicCore(L, d, 0)) return r;
        uint32_t find = (flags & (QX_DO_UPTODATE | QX_DO_PENDING)) ? 2 : 0;
        qxOutputState *os = qxOutputOf(d, 0);
        if ((d->doubleBuffer && d->hardwareDoubleBuffer) || (os && os->hardware)) find |= 16;
        qxBrush *b = nullptr;
        if (int r = qxFindBrush(L, ref, &b, find)) return r;
        if (b->hardware && b->display && b->display != d) return ERR_INCOMPATBRUSH;
        vector = b->kind == 1;
        if (vector && type == QX_OBJ_BRUSHPART) return ERR_BRUSHTYPE;
        if (vector && b->scaled && d->layersEnabled) return ERR_TFVBRUSH;
        hardware = b->hardware != 0;
        im.bitmap = b->bitmap, im.mask = b->mask, im.alpha = b->alpha;
        objW = int32_t(b->width), objH = int32_t(b->height);
        source = vector ? b->source : nullptr;
        vectorBrush = vector ? b : nullptr;
        if (type == QX_OBJ_BRUSH) w = objW, h = objH;
        break;
    }
    case QX_OBJ_ANIM: {
        // A frame never draws into itself: its selection ends first.
        if (d == qxCurrentDisplay && qxIsCurrentOutputObject(QX_OUT_ANIM, ref) && qxCurrentOutput &&
            qxCurrentOutput->selectedFrame == frame + 1)
            if (int r = qxDisplayBGPicCore(L, d, 0)) return r;
        int temporary = 0;
        if (int r = qxDisplayCoreHook.animFrame(L, ref, frame, &im.bitmap, &im.mask, &im.alpha, &objW, &objH,
                                                &temporary))
            return r;
        im.owned = temporary != 0;
        w = objW, h = objH;
        break;
    }
    case QX_OBJ_BGPICPART: {
        if (ref.automatic == nullptr && int32_t(ref.number) == -1)
            bgpic = d->bgpic;
        else if (int r = qxFindBGPic(L, ref, &bgpic, (flags & (QX_DO_UPTODATE | QX_DO_PENDING)) ? 2 : 0))
            return r;
        if (!bgpic) return ERR_WRONGUSAGE;
        // A layer looks its BGPic up again at every redraw: it keeps the real one.
        ref = {bgpic->id, bgpic->automatic};
        im.bitmap = bgpic->bitmap, im.mask = bgpic->mask, im.alpha = bgpic->alpha;
        objW = bgpic->width, objH = bgpic->height;
        break;
    }
    case QX_OBJ_VIDEO:
        if (int r = qxDisplayCoreHook.videoSize(L, ref, &objW, &objH)) return r;
        im.bitmap = frameBitmap;
        w = objW, h = objH;
        break;
    default:
        return ERR_WRONGUSAGE;
    }
    im.width = objW, im.height = objH;
    // 2.
    if (w < 1 || h < 1) return ERR_BADDIMENSIONS;
    // 3.
    qxTransformOptions localOptions;
    qxObjectStyle localStyle;
    if (!options) {
        options = &localOptions;
        style = &localStyle;
        if (optArg > 0) {
            uint32_t f = QX_OPT_RESET | (type == QX_OBJ_BGPICPART ? 0u : uint32_t(QX_OPT_REQUIRED));
            if (int r = qxGetTransformOptions(L, optArg, w, h, 0, 0, 0, options, style, f)) return r;
        } else {
            qxInitTransformOptions(options);
            qxInitObjectStyle(style);
        }
    } else if (!style) {
        style = &localStyle;
        qxInitObjectStyle(style);
    }
    // 4. Source position, then the part's size.
    if (type == QX_OBJ_BRUSHPART || type == QX_OBJ_BGPICPART) {
        if (type == QX_OBJ_BGPICPART) {
            if (x == -1) x = sx;
            if (y == -1) y = sy;
        }
        sx = qxResolvePosX(sx, w, objW, 0.0);
        sy = qxResolvePosY(sy, h, objH, 0.0);
        if (sx < 0 || sy < 0) return ERR_NEGCOORDS;
        if (sx >= objW || sy >= objH) return ERR_COORDSRANGE;
        w = std::min(w, objW - sx);
        h = std::min(h, objH - sy);
    } else {
        sx = sy = 0;
    }
    int32_t areaW = 0, areaH = 0;
    qxOutputBitmap(d, &areaW, &areaH);
    // Under a clip region position constants place on the region: an area
    // of 0 makes the resolver take it.
    if (d->clipRegion) areaW = areaH = 0;
    // 5.
    if (d->targetType == QX_OUT_BRUSH || d->targetType == QX_OUT_MASK || d->targetType == QX_OUT_ALPHA)
        if (int r = qxPrepareOutputTarget(L)) return r;
    // 6. A BGPic part handed back as a bitmap.
    if (type == QX_OBJ_BGPICPART && partMode == 0 && outBitmap && !d->layersEnabled) {
        if (sx == 0 && sy == 0 && w == objW && h == objH) {
            *outBitmap = im.bitmap;
            if (outOwned) *outOwned = 0;
            return 0;
        }
        qxBitMap *copy = nullptr;
        if (int r = qxCopyImageRect(im.bitmap, nullptr, nullptr, sx, sy, w, h, 0, 0, 0, 0, &copy, nullptr, nullptr))
            return r;
        *outBitmap = copy;
        if (outOwned) *outOwned = 1;
        return 0;
    }
    // A part with its layers comes from the BGPic as shown.
    if (type == QX_OBJ_BGPICPART && partMode != 0) {
        qxBitMap *bm = nullptr;
        uint32_t owned = 0;
        if (int r = qxGetBGPicDrawTarget(L, bgpic, sx, sy, w, h, &bm, &owned)) return r;
        if (owned)
            im.adopt(bm, nullptr, nullptr, objW, objH);
        else
            im.bitmap = bm, im.mask = im.alpha = nullptr;
    }
    const bool transformed = !qxMatrixIsIdentity(options) || (flags & QX_DO_TRANSFORMED);
    // 7. Layers: the layer shows the object itself. A brush, mask, alpha
    // channel or anim frame selected for drawing takes no layers.
    if (qxOutputTakesLayers()) {
        x = qxResolvePosX(x, w, areaW, options->anchorx);
        y = qxResolvePosY(y, h, areaH, options->anchory);
        qxBitMap *lb = type == QX_OBJ_VIDEO ? frameBitmap : nullptr;
        // A part with its layers is a picture of that moment: the layer
        // keeps a copy, or it would show the plain BGPic at its next redraw.
        if (type == QX_OBJ_BGPICPART && partMode != 0)
            if (int r = qxCopyImageRect(im.bitmap, nullptr, nullptr, sx, sy, w, h, 0, 0, 0, 0, &lb, nullptr, nullptr))
                return r;
        // An anim layer keeps its frame where parts keep their offset.
        const int32_t a = type == QX_OBJ_ANIM ? int32_t(frame) : sx;
        // Flag 2: this routine puts the new layer's pixels on screen itself.
        const bool drawsHere = !style->needslayer && !(flags & (QX_DO_UPTODATE | QX_DO_PREPARE)) && !transformed;
        int r = qxAddLayerNode(L, type, ref, a, sy, x, y, w, h, options, style, lb, nullptr, nullptr,
                               style->insertpos, drawsHere ? 2 : 0, reserved);
        if (r) return r;
        if (style->needslayer || (flags & QX_DO_UPTODATE) || transformed) return 0;
    }
    // A part becomes an image of its own so that later steps see 0, 0.
    if ((sx || sy || w != objW || h != objH) && (transformed || style->transparency || qxFiltersActive(&style->filters))) {
        qxBitMap *b = nullptr, *m = nullptr, *a = nullptr;
        if (int r = qxCopyImageRect(im.bitmap, im.mask, im.alpha, sx, sy, w, h, 0, 0, 0, 0, &b, im.mask ? &m : nullptr,
                                    im.alpha ? &a : nullptr))
            return r;
        im.adopt(b, m, a, w, h);
        sx = sy = 0;
    }
    // 8. Transform. A hardware brush on an adapter that turns bitmaps keeps
    // its own: the blit hands the adapter the matrix and the anchor.
    const double matrix[4] = {options->m11, options->m12, options->m21, options->m22};
    const double anchor[2] = {options->anchorx, options->anchory};
    bool adapterTurns = false;
    if (transformed && !qxMatrixIsIdentity(options) && hardware && !im.owned && qxPlatformHasCap(0x200)) {
        int32_t tw = 1, th = 1;
        if (int r = qxTransformImage(L, 2, nullptr, nullptr, nullptr, nullptr, 0, 0, w, h, anchor[0], anchor[1],
                                     matrix, options->smooth, nullptr, nullptr, nullptr, nullptr, nullptr, &tw, &th))
            return r;
        w = tw, h = th;
        adapterTurns = true;
    } else if (transformed && !qxMatrixIsIdentity(options)) {
        const double *m = matrix;
        qxBitMap *b = nullptr, *mk = nullptr, *a = nullptr;
        int32_t tw = 0, th = 0;
        const uint32_t mode = vector && source ? 1 : 0;
        // A scaled vector brush is drawn again from its natural size.
        double rm[4];
        int32_t rw = w, rh = h;
        uint32_t nw = 0, nh = 0;
        if (mode == 1 && vectorBrush && qxVectorBrushMatrix(vectorBrush, rm, &nw, &nh))
            qxComposeMatrix(m, rm, rm), rw = int32_t(nw), rh = int32_t(nh);
        else
            std::copy(m, m + 4, rm);
        if (int r = qxTransformImage(L, mode, source, im.bitmap, im.mask, im.alpha, 0, 0, rw, rh, options->anchorx,
                                     options->anchory, rm, options->smooth, &b, &mk, &a, nullptr, nullptr, &tw, &th))
            return r;
        im.adopt(b, mk, a, tw, th);
        w = tw, h = th;
        sx = sy = 0;
    }
    // 9. Filters.
    if (qxFiltersActive(&style->filters)) {
        if (hardware) return ERR_HWBRUSHFUNC;
        if (!im.owned) {
            qxBitMap *b = nullptr, *m = nullptr, *a = nullptr;
            if (int r = qxCopyImageRect(im.bitmap, im.mask, im.alpha, sx, sy, w, h, 0, 0, 0, 0, &b,
                                        im.mask ? &m : nullptr, im.alpha ? &a : nullptr))
                return r;
            im.adopt(b, m, a, w, h);
            sx = sy = 0;
        }
        if (!qxDisplayOptsHook.applyFilters) return ERR_NOLAYERS;
        if (int r = qxDisplayOptsHook.applyFilters(L, &style->filters, &im.bitmap, &im.alpha, w, h)) return r;
    }
    // 10. Transparency.
    struct FreeAlpha {
        qxBitMap *a = nullptr;
        ~FreeAlpha() { qxFreeAlphaBitMap(a); }
    } ownAlpha;
    // The adapter blends a hardware brush's own bitmap itself.
    uint32_t adapterOpacity = 256;
    if (style->transparency) {
        if (hardware && !qxPlatformHasCap(0x400)) return ERR_HWBRUSHFUNC;
        if (hardware && !im.owned)
            adapterOpacity = 255 - std::min(style->transparency, 255u);
        else if (int r = applyTransparency(im, style->transparency, &ownAlpha.a))
            return r;
    }
    // 11. Draw.
    if (flags & (QX_DO_PREPARE | QX_DO_UPTODATE)) return 0;
    if (d->targetType == QX_OUT_BGPIC) {
        if (qxSelectionHook.markTopLayerDirty) qxSelectionHook.markTopLayerDirty(L, d->bgpic);
        return 0;
    }
    // A layer on a display that scales its layers has been drawn by the
    // layer constructor (at its rendition's scale); an autoscaled display
    // gets it here, scaled on its way to the window.
    if (d->layersEnabled && d->layerScale && d->targetType == QX_OUT_DISPLAY && d->scaledWidth && d->scaledHeight &&
        (d->scaleX != 1.0 || d->scaleY != 1.0))
        return 0;
    x = placed(qxResolvePosX(x, w, areaW, options->anchorx), w, options->anchorx);
    y = placed(qxResolvePosY(y, h, areaH, options->anchory), h, options->anchory);
    qxBitMapTag tags[4] = {};
    int n = 0;
    if (adapterOpacity < 256) tags[n++] = {QX_BLTTAG_ALPHA, adapterOpacity};
    if (adapterTurns) {
        tags[n++] = {QX_BLTTAG_MATRIX, uint64_t(uintptr_t(matrix))};
        tags[n++] = {QX_BLTTAG_ANCHOR, uint64_t(uintptr_t(anchor))};
    }
    qxSetAdapterBlitTags(im.bitmap, n ? tags : nullptr);
    // A bitmap the adapter turns shows the transformed size.
    qxBlitToOutput(L, im.bitmap, sx, sy, x, y, w, h, adapterTurns ? w : im.width, adapterTurns ? h : im.height,
                   im.alpha ? nullptr : im.mask, im.alpha);
    qxSetAdapterBlitTags(nullptr, nullptr);
    return 0;
}

int qxDisplayBrushCore(lua_State *L, qxObjectRef ref, int32_t x, int32_t y, int optArg)
{
    return qxDisplayObject(L, nullptr, nullptr, QX_OBJ_BRUSH, ref, nullptr, 0, 0, 0, x, y, 0, 0, 0, optArg, nullptr,
                           nullptr, nullptr, nullptr, nullptr, 0);
}

int qxCmdDisplayBrush(lua_State *L)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    qxObjectRef ref = qxGetObjectIDArg(L, 1);
    const int32_t x = luaL_checkint(L, 2), y = luaL_checkint(L, 3);
    return qxDisplayBrushCore(L, ref, x, y, lua_gettop(L) >= 4 ? 4 : 0);
}

int qxCmdDisplayBGPicPart(lua_State *L)
{
    qxCheckArgCount(L, 5, 8, 0, 0);
    qxObjectRef ref = qxGetObjectIDArg(L, 1);
    int32_t v[4];
    for (int i = 0; i < 4; ++i) v[i] = luaL_checkint(L, i + 2);
    const int n = lua_gettop(L);
    const int32_t dx = n >= 6 ? luaL_checkint(L, 6) : v[0];
    const int32_t dy = n >= 7 ? luaL_checkint(L, 7) : v[1];
    uint32_t layers = 0;
    if (n >= 8) {
        if (lua_istable(L, 8)) {
            int value = 0;
            qxGetFieldInt(L, 8, "layers", &value, nullptr);
            layers = value != 0;
        } else {
            layers = uint32_t(luaL_checkint(L, 8));
        }
    }
    return qxDisplayObject(L, nullptr, nullptr, QX_OBJ_BGPICPART, ref, nullptr, 0, v[0], v[1], dx, dy, v[2], v[3],
                           layers, n >= 8 ? 8 : 0, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
}

int qxCmdDisplayBrushPart(lua_State *L)
{
    qxCheckArgCount(L, 7, 8, 0, 0);
    qxObjectRef ref = qxGetObjectIDArg(L, 1);
    int32_t v[6];
    for (int i = 0; i < 6; ++i) v[i] = luaL_checkint(L, i + 2);
    return qxDisplayObject(L, nullptr, nullptr, QX_OBJ_BRUSHPART, ref, nullptr, 0, v[0], v[1], v[2], v[3], v[4], v[5],
                           0, lua_gettop(L) >= 8 ? 8 : 0, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
}
}
