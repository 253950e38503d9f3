// The "layers" command library.
#include "layers/qx_layerlibs.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/commands/qx_commands.h"
#include "core/files/qx_file.h"
#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "display/qx_asyncdraw.h"
#include "display/qx_clipregion.h"
#include "display/qx_display.h"
#include "display/qx_events.h"
#include "display/qx_gfxgeom.h"
#include "display/qx_positions.h"
#include "layers/qx_layer.h"
#include "layers/qx_layerfilters.h"
#include "layers/qx_movelist.h"
#include "layers/qx_videolayercmds.h"
#include "display/qx_bitmapplanes.h"
#include "objects/qx_anim.h"
#include "platform/qx_memory.h"
#include "objects/qx_brush.h"
#include "objects/qx_displaycore.h"
#include "objects/qx_displayopts.h"
#include "objects/qx_objargs.h"
#include "objects/qx_output.h"
#include "objects/qx_selection.h"
#include "platform/qx_errcodes.h"

extern "C" int qxLayerModeGuard(qxDisplay **out)
{
    qxDisplay *d = qxCurrentDisplay;
    if (!d) return ERR_NOLAYERS;
    if (d->targetType == QX_OUT_BRUSH)
        return qxCurrentOutput && qxCurrentOutput->selectedType == QX_TYPE_ANIM ? ERR_SELECTANIM : ERR_SELECTBRUSH;
    if (d->targetType == QX_OUT_MASK) return ERR_SELECTMASK;
    if (d->targetType == QX_OUT_ALPHA) return ERR_SELECTALPHACHANNEL;
    if (!d->layersEnabled) return ERR_NOLAYERS;
    if (out) *out = d;
    return 0;
}

extern "C" int qxEnableLayersOnDisplay(qxDisplay *d)
{
    if (d->layersEnabled) return 0;
    // An async draw works on what the display shows in its present mode.
    if (qxIsAsyncDrawOnDisplay(d)) return ERR_LAYERSWITCH;
    if (d->doubleBuffer) return ERR_ENDDOUBLEBUFFER;
    if (d->targetType != QX_OUT_DISPLAY) return ERR_LAYERSON;
    if (d->bgpic && d->bgpic->sprites) return ERR_NOSPRITES;
    // What the display shows now lies below every layer.
    if (qxBGPic *b = d->bgpic; b && qxLayerBackground(d, b) == b->bitmap) {
        if (qxBitMap *shown = qxDisplayWorkBitmap(d, 1)) {
            qxBitMap *bg = qxAllocBitMap(uint32_t(b->width), uint32_t(b->height), 0, nullptr);
            if (!bg) return ERR_BITMAP;
            qxBltBitMapDirect(shown, 0, 0, bg, 0, 0, b->width, b->height);
            qxSetLayerBackground(d, b, bg);
        }
    }
    d->layersEnabled = 1;
    return 0;
}

namespace {

constexpr int kMaxRemove = 256;

// A single layer argument: position or name.
int layerArg(lua_State *L, int arg, qxBGPic *b, qxLayer **out)
{
    int32_t n = 0;
    if (int r = qxGetLayerArg(L, arg, b, &n)) return r;
    *out = qxGetLayerByIndex(b, n);
    return *out ? 0 : ERR_LAYERRANGE;
}

// Every layer a layer, name or group argument names.
int layersArg(lua_State *L, int arg, qxBGPic *b, std::vector<qxLayer *> &out, int *group)
{
    int32_t index = 0;
    do {
        qxLayer *l = nullptr;
        if (int r = qxGetLayerArgMulti(L, arg, b, &l, &index, group)) return r;
        out.push_back(l);
    } while (index != -1);
    return 0;
}

int32_t optInt(lua_State *L, int arg, int32_t def) { return lua_gettop(L) >= arg && !lua_isnil(L, arg) ? luaL_checkint(L, arg) : def; }

void redrawArea(lua_State *L, const qxLayer *l)
{
    int32_t x, y, w, h;
    qxLayerScreenRect(l, l->onscreen, &x, &y, &w, &h);
    qxInvalidateRect(L, x, y, w, h);
}

// Refreshes what a command collected, merged, when output goes to the display.
void flushCmdRects(lua_State *L)
{
    qxMergeRectList(&qxLayerCmdRects);
    qxRefreshRectList(L, &qxLayerCmdRects);
    qxLayerCmdRects.count = 0;
}

const char *typeName(uint32_t type)
{
    switch (type) {
    case 3: return "BRUSH";
    case 4: return "ANIM";
    case 7: return "NOOBJECT";
    case 8: return "TEXTOBJECT";
    case 9: return "TEXTOUT";
    case 11: return "PRINT";
    case 12: return "BRUSHPART";
    case 13: return "BGPICPART";
    case 14: return "BOX";
    case 15: return "CIRCLE";
    case 16: return "ELLIPSE";
    case 17: return "LINE";
    case 27: return "POLYGON";
    case 31: return "ARC";
    case 49: return "VECTORPATH";
    case 50: return "VIDEO";
    default: return "UNKNOWN";
    }
}

int swapPositions(lua_State *L, qxBGPic *b, int32_t p1, int32_t p2)
{
    qxLayer *a = qxGetLayerByIndex(b, std::min(p1, p2)), *c = qxGetLayerByIndex(b, std::max(p1, p2));
    if (!a || !c) return ERR_LAYERRANGE;
    qxSetLayerZ(b, c, std::min(p1, p2));
    qxSetLayerZ(b, a, std::max(p1, p2));
    int32_t x, y, w, h, x2, y2, w2, h2, bw, bh;
    qxLayerScreenRect(a, a->onscreen, &x, &y, &w, &h);
    qxLayerScreenRect(c, c->onscreen, &x2, &y2, &w2, &h2);
    qxComposedSize(qxCurrentDisplay, b, &bw, &bh);
    if (qxRectsOverlapWH(x, y, w, h, 0, 0, bw, bh) && qxRectsOverlapWH(x2, y2, w2, h2, 0, 0, bw, bh)) {
        qxUnionRect(&x, &y, &w, &h, x2, y2, w2, h2);
        qxInvalidateRect(L, x, y, w, h);
    }
    return 0;
}

int removeAll(lua_State *L, int keep)
{
    qxDisplay *d = nullptr;
    if (int r = qxLayerModeGuard(&d)) return r;
    qxBGPic *b = qxLayerBGPic();
    if (!b) return ERR_NOLAYERS;
    if (int r = qxRefuseHeldLayers(b->layers.first)) return r;
    if (b != d->bgpic) {
        if (keep) return ERR_WRONGUSAGE;
        qxFreeBGPicLayers(L, b, 1, 1);
        return 0;
    }
    // The picture is composed at the work bitmap's size: the window's size
    // on a display that scales its layers.
    qxBitMap *work = qxDisplayWorkBitmap(d, 1);
    const int32_t cw = work ? int32_t(work->width) : b->width, ch = work ? int32_t(work->height) : b->height;
    if (keep && work) {
        // The layers' pixels become part of the background: as the script
        // sees it and, when scaled, as composed, so that it stays exact.
        const bool scaled = cw != b->width || ch != b->height;
        qxBitMap *bg = qxAllocBitMap(uint32_t(b->width), uint32_t(b->height), 0, nullptr);
        qxBitMap *composed = scaled ? qxAllocBitMap(uint32_t(cw), uint32_t(ch), 0, nullptr) : nullptr;
        if (!bg || (scaled && !composed)) {
            qxFreeBitMap(bg), qxFreeBitMap(composed);
            return ERR_BITMAP;
        }
        Redraw(L, d, b, work, 0, 0, cw, ch, QX_RD_NOSPRITES);
        if (scaled) {
            Redraw(L, d, b, bg, 0, 0, b->width, b->height, QX_RD_NOSPRITES | QX_RD_SCRIPTSIZE);
            qxBltBitMapDirect(work, 0, 0, composed, 0, 0, cw, ch);
        } else {
            qxBltBitMapDirect(work, 0, 0, bg, 0, 0, cw, ch);
        }
        qxSetLayerBackgroundComposed(d, b, bg, composed);
    }
    qxFreeBGPicLayers(L, b, 1, 1);
    if (!keep) qxInvalidateRect(L, 0, 0, cw, ch);
    return 0;
}

int cmdEnableLayers(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    qxDisplay *d = qxCurrentDisplay;
    if (!d) return ERR_NOLAYERS;
    return qxEnableLayersOnDisplay(d);
}

int cmdDisableLayers(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    qxDisplay *d = qxCurrentDisplay;
    if (!d) return ERR_NOLAYERS;
    if (qxIsAsyncDrawOnDisplay(d)) return ERR_LAYERSWITCH;
    if (d->targetType != QX_OUT_DISPLAY) return ERR_LAYERSON;
    if (d->layerScale) return ERR_NODISLAYERS;
    // Video layers stop: nothing may deliver pictures into a list that is off.
    if (qxBGPic *b = qxLayerBGPic(); b && qxVideoLayerCalls.detach)
        for (qxLayer *l = b->layers.first; l; l = l->next)
            if (l->type == QX_LAYER_VIDEO) qxVideoLayerCalls.detach(L, l);
    d->layersEnabled = 0;
    return 0;
}

int cmdGetLayerAtPos(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxDisplay *d = nullptr;
    if (int r = qxLayerModeGuard(&d)) return r;
    int32_t x = luaL_checkint(L, 1), y = luaL_checkint(L, 2);
    if (d->layerScale) x = int32_t(x * d->scaleX), y = int32_t(y * d->scaleY);
    qxBGPic *b = qxLayerBGPic();
    int32_t found = 0, n = 1;
    const char *name = "";
    for (qxLayer *l = b ? b->layers.first : nullptr; l; l = l->next, ++n) {
        const qxLayerData *r = l->onscreen;
        if (qxRectsOverlapWH(x, y, 1, 1, r->left, r->top, r->dwidth, r->dheight))
            found = n, name = l->name ? l->name : "";
    }
    lua_pushnumber(L, found);
    lua_pushstring(L, name);
    return 2;
}

int cmdLayerExists(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    if (int r = qxLayerModeGuard(nullptr)) return r;
    lua_pushnumber(L, qxFindLayerByName(qxLayerBGPic(), luaL_checkstring(L, 1)) ? 1 : 0);
    return 1;
}

int cmdDumpLayers(lua_State *L)
{
    qxCheckArgCount(L, 0, 1, 0, 0);
    if (int r = qxLayerModeGuard(nullptr)) return r;
    const int32_t mode = optInt(L, 1, 0);
    qxBGPic *b = qxLayerBGPic();
    if (!b) return ERR_NOLAYERS;
    qxPrintF("LAYER SYSTEM INFO - BGPIC: %d (%p)\nsizeof(qxLayer): %d\nLayers: %d\n", int(b->id), b->automatic,
             int(sizeof(qxLayer)), qxCountLayers(b));
    int32_t n = 1;
    for (qxLayer *l = b->layers.first; l; l = l->next, ++n) {
        const qxLayerData *r = mode == 1 ? l->intermediate : mode == 2 ? l->onscreen : l->base;
        qxPrintF("(%d) %s #%d (%p / \"%s\") - X: %d (%d) - Y: %d (%d) - Width: %d (%d) - Height: %d (%d) - "
                 "Visible: %d\n",
                 int(n), typeName(l->type), int(l->layerid.number), l->layerid.automatic, l->name ? l->name : "",
                 int(r->x), int(r->left), int(r->y), int(r->top), int(r->width), int(r->dwidth), int(r->height),
                 int(r->dheight), l->hidden ? 0 : 1);
    }
    return 0;
}

void fillPlane(qxBitMap *plane, uint8_t value)
{
    const qxPlane p = qxPlaneOf(plane);
    if (p.bytes) std::memset(p.bytes, value, size_t(p.bytesPerRow) * size_t(p.height));
}

// CreateLayer with "frames": an anim of equal frames shown as a layer.
int createAnimLayer(lua_State *L, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour, int mask, int alpha,
                    int clear, int frames)
{
    if (w < 1 || h < 1) return ERR_BADDIMENSIONS;
    // More frames than memory could hold are refused before any is made.
    if (double(frames) * w * h * 4 > double(int64_t(1) << 31)) return ERR_BITMAP;
    const auto n = uint32_t(frames);
    auto **bitmaps = static_cast<qxBitMap **>(qxAlloc(size_t(n) * sizeof(qxBitMap *), 1));
    auto **masks = mask ? static_cast<qxBitMap **>(qxAlloc(size_t(n) * sizeof(qxBitMap *), 1)) : nullptr;
    auto **alphas = alpha ? static_cast<qxBitMap **>(qxAlloc(size_t(n) * sizeof(qxBitMap *), 1)) : nullptr;
    int error = !bitmaps || (mask && !masks) || (alpha && !alphas) ? ERR_MEM : 0;
    for (uint32_t i = 0; i < n && !error; ++i) {
        bitmaps[i] = qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr);
        if (!bitmaps[i] || qxFillBitMapColour(bitmaps[i], colour)) {
            error = ERR_BITMAP;
        } else if (mask) {
            masks[i] = qxAllocMaskBitMap(bitmaps[i], uint32_t(w), uint32_t(h), 1, nullptr, 0);
            if (masks[i]) fillPlane(masks[i], clear ? 0 : 0xFF);
            else error = ERR_ALLOCMASK;
        } else if (alpha) {
            alphas[i] = qxAllocAlphaBitMap(uint32_t(w), uint32_t(h), 1, nullptr, 0);
            if (alphas[i]) fillPlane(alphas[i], clear ? 0 : 0xFF);
            else error = ERR_ALLOCALPHA;
        }
    }
    qxObjectRef ref{0, QX_NEW_AUTOMATIC};
    qxAnim *anim = nullptr;
    if (!error) error = qxAddAnim(&ref, uint32_t(w), uint32_t(h), bitmaps, masks, alphas, n,
                                  mask ? 0xAFC0DEu : 0xFFFFFFFFu, 0, 0, &anim);
    if (error) {
        for (uint32_t i = 0; bitmaps && i < n; ++i)
            qxFreeImagePlanes(bitmaps[i], masks ? masks[i] : nullptr, alphas ? alphas[i] : nullptr);
        qxFree(bitmaps);
        qxFree(masks);
        qxFree(alphas);
        return error;
    }
    if (int r = qxDisplayObject(L, nullptr, nullptr, QX_OBJ_ANIM, ref, nullptr, 0, 0, 0, x, y, 0, 0, 0, 0, nullptr,
                                nullptr, nullptr, nullptr, nullptr, 0)) {
        qxFreeAnimRecord(L, anim);
        return r;
    }
    anim->pendingDeletion = 1; // goes when its last layer goes
    return 0;
}

int cmdCreateLayer(lua_State *L)
{
    qxCheckArgCount(L, 4, 5, 0, 0);
    if (int r = qxLayerModeGuard(nullptr)) return r;
    const int32_t x = luaL_checkint(L, 1), y = luaL_checkint(L, 2), w = luaL_checkint(L, 3), h = luaL_checkint(L, 4);
    int colour = 0, mask = 0, alpha = 0, clear = 0, frames = 0;
    if (lua_istable(L, 5)) {
        qxGetFieldInt(L, 5, "color", &colour, nullptr);
        qxGetFieldInt(L, 5, "mask", &mask, nullptr);
        qxGetFieldInt(L, 5, "alphachannel", &alpha, nullptr);
        qxGetFieldInt(L, 5, "clear", &clear, nullptr);
        qxGetFieldInt(L, 5, "frames", &frames, nullptr);
    }
    if (frames < 0 || (mask && alpha)) return ERR_WRONGUSAGE;
    if (frames > 0) return createAnimLayer(L, x, y, w, h, uint32_t(colour), mask, alpha, clear, frames);
    qxObjectRef ref{0, QX_NEW_AUTOMATIC};
    if (int r = qxFillBrushPixels(&ref, w, h, uint32_t(colour), mask, alpha, clear, 0, 0, 0, nullptr)) return r;
    if (int r = qxDisplayBrushCore(L, ref, x, y, 0)) {
        qxFreeBrush(L, ref, 0);
        return r;
    }
    qxBrush *brush = nullptr;
    if (!qxFindBrush(L, ref, &brush, QX_FIND_PENDING | QX_FIND_NOCOPY) && brush) brush->pendingDeletion = 1;
    return 0;
}

int cmdSetLayerName(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    if (int r = qxLayerModeGuard(nullptr)) return r;
    qxBGPic *b = qxLayerBGPic();
    int32_t n = luaL_checkint(L, 1);
    const char *name = luaL_checkstring(L, 2);
    if (n < 1) n = qxCountLayers(b);
    qxLayer *l = qxGetLayerByIndex(b, n);
    if (!l) return ERR_LAYERRANGE;
    char *old = l->name;
    l->name = nullptr;
    char *fresh = nullptr;
    if (name[0]) {
        if (int r = qxAssignLayerName(b, &fresh, name)) {
            l->name = old;
            return r;
        }
    }
    std::free(old);
    l->name = fresh;
    return 0;
}

int cmdSwapLayers(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    if (int r = qxLayerModeGuard(nullptr)) return r;
    // The same position twice is refused before either is looked up.
    if (lua_type(L, 1) == LUA_TNUMBER && lua_type(L, 2) == LUA_TNUMBER &&
        qxTruncToInt64(lua_tonumber(L, 1)) == qxTruncToInt64(lua_tonumber(L, 2)))
        return ERR_WRONGUSAGE;
    qxBGPic *b = qxLayerBGPic();
    qxLayer *l1 = nullptr, *l2 = nullptr;
    if (int r = layerArg(L, 1, b, &l1)) return r;
    if (int r = layerArg(L, 2, b, &l2)) return r;
    if (l1 == l2) return ERR_WRONGUSAGE;
    return swapPositions(L, b, qxLayerPosition(b, l1), qxLayerPosition(b, l2));
}

int cmdTranslateLayer(lua_State *L)
{
    qxCheckArgCount(L, 3, 3, 0, 0);
    if (int r = qxLayerModeGuard(nullptr)) return r;
    qxLayer *l = nullptr;
    if (int r = layerArg(L, 1, qxLayerBGPic(), &l)) return r;
    qxMoveLayer(L, l, nullptr, luaL_checkint(L, 2), luaL_checkint(L, 3), 0, 3, nullptr);
    return 0;
}

int showHide(lua_State *L, int hide)
{
    qxDisplay *d = nullptr;
    if (int r = qxLayerModeGuard(&d)) return r;
    qxBGPic *b = qxLayerBGPic();
    std::vector<qxLayer *> layers;
    int group = 0;
    if (int r = layersArg(L, 1, b, layers, &group)) return r;
    int32_t x = hide ? 100000 : optInt(L, 2, 100000), y = hide ? 100000 : optInt(L, 3, 100000);
    auto relative = [](int32_t v) { return v >= 95001 && v <= 104999; };
    int32_t dx = 0, dy = 0;
    if (group) {
        // The group moves as one: every layer keeps its place in it.
        int32_t bx = 0, by = 0, bw = 0, bh = 0;
        for (qxLayer *l : layers) qxUnionRect(&bx, &by, &bw, &bh, l->base->ox, l->base->oy, l->base->width, l->base->height);
        dx = relative(x) ? x - 100000 : qxResolvePosX(x, bw, b->width, 0.0) - bx;
        dy = relative(y) ? y - 100000 : qxResolvePosY(y, bh, b->height, 0.0) - by;
    } else {
        qxLayer *l = layers[0];
        if (!relative(x)) x = qxResolvePosX(x, l->base->width, b->width, l->anchorx);
        if (!relative(y)) y = qxResolvePosY(y, l->base->height, b->height, l->anchory);
    }
    const bool collect = d->targetType != QX_OUT_BGPIC;
    if (collect) qxLayerCmdRects.count = 0;
    for (qxLayer *l : layers) {
        l->hidden = hide ? 1 : 0;
        l->queued = 0;
        if (group) qxMoveLayer(L, l, nullptr, dx, dy, 0, 3, collect ? &qxLayerCmdRects : nullptr);
        else qxMoveLayer(L, l, nullptr, x, y, 0, 0, collect ? &qxLayerCmdRects : nullptr);
    }
    if (collect) flushCmdRects(L);
    return 0;
}

int cmdHideLayer(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    return showHide(L, 1);
}

int cmdShowLayer(lua_State *L)
{
    qxCheckArgCount(L, 1, 3, 0, 0);
    return showHide(L, 0);
}

int cmdRemoveLayer(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxDisplay *d = nullptr;
    if (int r = qxLayerModeGuard(&d)) return r;
    qxBGPic *b = qxLayerBGPic();
    std::vector<qxLayer *> layers;
    int group = 0;
    if (int r = layersArg(L, 1, b, layers, &group)) return r;
    if (layers.size() > size_t(kMaxRemove)) return ERR_INTERNAL;
    for (qxLayer *l : layers)
        if (qxIsObjectInAsyncDraw(l)) return ERR_REMADLAYER; // an async draw holds it
    const bool collect = d->targetType != QX_OUT_BGPIC;
    if (collect) qxLayerCmdRects.count = 0;
    for (qxLayer *l : layers) qxRemoveLayerRecord(L, b, l, 0, collect ? &qxLayerCmdRects : nullptr);
    if (collect) flushCmdRects(L);
    qxFlushDeletedObjects(L, 31);
    return 0;
}

int cmdRemoveLayers(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    return removeAll(L, 0);
}

int cmdFreeLayers(lua_State *L)
{
    qxCheckArgCount(L, 0, 1, 0, 0);
    return removeAll(L, lua_gettop(L) >= 1 ? lua_toboolean(L, 1) && !(lua_isnumber(L, 1) && lua_tonumber(L, 1) == 0) : 1);
}

int cmdUndo(lua_State *L)
{
    qxCheckArgCount(L, 1, 4, 0, 0);
    if (int r = qxLayerModeGuard(nullptr)) return r;
    const uint32_t type = uint32_t(luaL_checkint(L, 1));
    const qxObjectRef id = lua_gettop(L) >= 2 ? qxGetObjectIDArg(L, 2) : qxObjectRef{0, nullptr};
    int32_t level = std::max(optInt(L, 3, 1), 1);
    const int noRedraw = optInt(L, 4, 0);
    qxBGPic *b = qxLayerBGPic();
    for (qxLayer *l = b ? b->layers.last : nullptr; l; l = l->previous) {
        if (l->type != type || l->sourceid.number != id.number || l->sourceid.automatic != id.automatic) continue;
        if (--level) continue;
        if (qxIsObjectInAsyncDraw(l)) return ERR_REMADLAYER;
        qxRemoveLayerRecord(L, b, l, noRedraw, nullptr);
        qxFlushDeletedObjects(L, 31);
        return 0;
    }
    return 0;
}

int cmdSetLayerZPos(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    if (int r = qxLayerModeGuard(nullptr)) return r;
    qxBGPic *b = qxLayerBGPic();
    qxLayer *l = nullptr;
    if (int r = layerArg(L, 1, b, &l)) return r;
    const int32_t pos = luaL_checkint(L, 2);
    if (pos < 0 || pos == qxLayerPosition(b, l)) return ERR_WRONGUSAGE;
    if (qxSetLayerZ(b, l, pos)) redrawArea(L, l);
    return 0;
}

int toEnd(lua_State *L, int front)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    if (int r = qxLayerModeGuard(nullptr)) return r;
    qxBGPic *b = qxLayerBGPic();
    qxLayer *l = nullptr;
    if (int r = layerArg(L, 1, b, &l)) return r;
    const bool swap = lua_gettop(L) < 2 || (lua_toboolean(L, 2) && !(lua_isnumber(L, 2) && lua_tonumber(L, 2) == 0));
    const int32_t at = qxLayerPosition(b, l), end = front ? qxCountLayers(b) : 1;
    if (swap) return at == end ? 0 : swapPositions(L, b, at, end);
    if (qxSetLayerZ(b, l, front ? 0 : 1)) redrawArea(L, l);
    return 0;
}

int cmdLayerToFront(lua_State *L) { return toEnd(L, 1); }
int cmdLayerToBack(lua_State *L) { return toEnd(L, 0); }

int cmdInsertLayer(lua_State *L)
{
    qxCheckArgCount(L, 5, 6, 0, 0);
    if (int r = qxLayerModeGuard(nullptr)) return r;
    const int32_t position = luaL_checkint(L, 1);
    const uint32_t type = uint32_t(luaL_checkint(L, 2));
    const qxObjectRef ref = qxGetObjectIDArg(L, 3);
    const int32_t x = luaL_checkint(L, 4), y = luaL_checkint(L, 5);
    return qxInsertLayer(L, position, type, ref, x, y, 0, optInt(L, 6, 0) != 0, nullptr);
}

// t[key] := {v0, v1, ...} from element 0.
void setList(lua_State *L, const char *key, const double *values, int n)
{
    lua_pushstring(L, key);
    lua_newtable(L);
    for (int i = 0; i < n; ++i) {
        lua_pushnumber(L, values[i]);
        lua_rawseti(L, -2, i);
    }
    lua_settable(L, -3);
}

int cmdGetLayerStyle(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxDisplay *d = qxCurrentDisplay;
    if (!d || !d->layersEnabled) return ERR_NOLAYERS;
    const bool object = d->targetType == QX_OUT_BRUSH || d->targetType == QX_OUT_MASK || d->targetType == QX_OUT_ALPHA;
    qxBGPic *b = object ? d->bgpic : qxLayerBGPic();
    qxLayer *l = nullptr;
    if (int r = layerArg(L, 1, b, &l)) return r;
    if (l->type == QX_TYPE_NOOBJECT) return ERR_WRONGUSAGE;
    const qxLayerData *base = l->base;
    lua_newtable(L);
    switch (l->type) {
    case QX_TYPE_BRUSH:
    case QX_TYPE_BRUSHPART:
    case QX_TYPE_BGPICPART:
    case QX_LAYER_VIDEO:
        qxSetFieldID(L, "id", l->layerid);
        qxSetFieldInt(L, "partx", base->partx);
        qxSetFieldInt(L, "party", base->party);
        qxSetFieldInt(L, "partwidth", base->width);
        qxSetFieldInt(L, "partheight", base->height);
        break;
    case QX_TYPE_ANIM:
        qxSetFieldInt(L, "frame", base->frame + 1);
        qxSetFieldID(L, "id", l->layerid);
        break;
    default:
        if (const qxLayerTypeOps *ops = qxLayerType(l->type); ops && ops->pushStyleKeys) ops->pushStyleKeys(L, l);
        break;
    }
    const qxTransformOptions &t = l->transform;
    qxSetFieldUInt(L, "type", l->type);
    qxSetFieldInt(L, "x", base->x);
    qxSetFieldInt(L, "y", base->y);
    // The transform's own sizes: 0 while the scale factors size the layer.
    qxSetFieldUInt(L, "width", t.width);
    qxSetFieldUInt(L, "height", t.height);
    qxSetFieldNum(L, "rotate", t.rotate);
    qxSetFieldNum(L, "scalex", t.scalex);
    qxSetFieldNum(L, "scaley", t.scaley);
    qxSetFieldNum(L, "anchorx", l->anchorx);
    qxSetFieldNum(L, "anchory", l->anchory);
    qxSetFieldUInt(L, "smoothscale", t.smooth);
    const double identity[4] = {1, 0, 0, 1};
    setList(L, "transform", t.transformed ? t.transform : identity, 4);
    qxSetFieldUInt(L, "transparency", l->transparency);
    const qxFilterEntry &tint = l->filters.filter[QX_FILTER_TINT];
    qxSetFieldInt(L, "tint", tint.enabled ? tint.iargs[1] : 0);
    qxSetFieldUInt(L, "tintcolor", uint32_t(tint.iargs[0]));
    qxSetFieldUInt(L, "hidden", l->hidden);
    if (const auto *clip = static_cast<const qxClipRegion *>(l->onscreen->clip)) qxSetFieldID(L, "clipregion", clip->id);
    else qxSetFieldInt(L, "clipregion", -1);
    qxSetFieldUInt(L, "shadow", l->shadow);
    if (l->shadow) {
        qxSetFieldUInt(L, "shadowcolor", l->shadowcolor);
        qxSetFieldUInt(L, "shadowdir", l->shadowdir);
        qxSetFieldUInt(L, "shadowsize", l->shadowsize);
        qxSetFieldNum(L, "shadowradius", l->shadowradius);
        qxSetFieldNum(L, "shadowsigma", l->shadowsigma);
    }
    qxSetFieldUInt(L, "border", l->border);
    qxSetFieldUInt(L, "bordercolor", l->bordercolor);
    qxSetFieldUInt(L, "bordersize", l->bordersize);
    qxSetFieldUInt(L, "outlinethickness", l->bordersize);
    qxSetFieldUInt(L, "edgecolor", l->bordercolor);
    qxSetFieldUInt(L, "edgesize", l->bordersize);
    lua_pushstring(L, "filters");
    lua_newtable(L);
    int n = 0;
    for (int i = 0; i < int(QX_FILTER_COUNT); ++i) {
        const qxFilterEntry &f = l->filters.filter[i];
        if (!f.enabled) continue;
        double args[5];
        const int count = qxFilterArgs(&f, i, args);
        lua_newtable(L);
        qxSetFieldStr(L, "name", qxFilterName(i));
        qxSetFieldInt(L, "priority", f.priority);
        setList(L, "args", args, count);
        lua_rawseti(L, -2, n++);
    }
    lua_settable(L, -3);
    qxSetFieldStr(L, "group", l->group);
    qxSetFieldStr(L, "name", l->name ? l->name : "");
    qxSetFieldInt(L, "z", qxLayerPosition(b, l));
    return 1;
}

int cmdDoMove(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    if (int r = qxLayerModeGuard(nullptr)) return r;
    return qxDoMove(L);
}

// Drops the cached shadow pictures of every rendition, and with border the
// border pictures too.
void dropShadowCache(qxLayer *l, bool border = true)
{
    for (qxLayerData *d : {l->base, l->intermediate, l->onscreen}) {
        qxFreeAlphaBitMap(d->shadowalpha);
        d->shadowalpha = nullptr;
        if (!border) continue;
        qxFreeAlphaBitMap(d->borderalpha);
        d->borderalpha = nullptr;
    }
}

int cmdSetLayerBorder(lua_State *L)
{
    qxCheckArgCount(L, 2, 4, 0, 0);
    if (int r = qxLayerModeGuard(nullptr)) return r;
    qxLayer *l = nullptr;
    if (int r = layerArg(L, 1, qxLayerBGPic(), &l)) return r;
    const bool enable = lua_toboolean(L, 2) && !(lua_isnumber(L, 2) && lua_tonumber(L, 2) == 0);
    const uint32_t colour = lua_gettop(L) >= 3 ? uint32_t(int64_t(luaL_checknumber(L, 3))) : 0;
    const double size = lua_gettop(L) >= 4 ? luaL_checknumber(L, 4) : 2;
    if (!(size >= 1) || size > 65536) return ERR_WRONGUSAGE;
    if (!enable && !l->border) return 0;
    int32_t x, y, w, h;
    qxLayerScreenRect(l, l->onscreen, &x, &y, &w, &h);
    dropShadowCache(l);
    l->border = enable;
    if (enable) {
        l->bordercolor = colour, l->bordersize = uint32_t(size);
        int32_t x2, y2, w2, h2;
        qxLayerScreenRect(l, l->onscreen, &x2, &y2, &w2, &h2);
        qxUnionRect(&x, &y, &w, &h, x2, y2, w2, h2);
    }
    qxInvalidateRect(L, x, y, w, h);
    return 0;
}

int cmdSetLayerShadow(lua_State *L)
{
    qxCheckArgCount(L, 2, 7, 0, 0);
    if (int r = qxLayerModeGuard(nullptr)) return r;
    qxLayer *l = nullptr;
    if (int r = layerArg(L, 1, qxLayerBGPic(), &l)) return r;
    const bool enable = lua_toboolean(L, 2) && !(lua_isnumber(L, 2) && lua_tonumber(L, 2) == 0);
    auto num = [&](int arg, double def) { return lua_gettop(L) >= arg && !lua_isnil(L, arg) ? luaL_checknumber(L, arg) : def; };
    const uint32_t colour = uint32_t(int64_t(num(3, double(0x80000000u))));
    const double radius = num(4, 5.0), size = num(5, 4), direction = num(6, 3), sigma = num(7, radius / 3);
    if (!(radius >= 1.0) || !(size >= 0) || !(sigma > 0) || radius > 1e4 || size > 1e6) return ERR_WRONGUSAGE;
    if (!enable && !l->shadow) return 0;
    int32_t x, y, w, h;
    qxLayerScreenRect(l, l->onscreen, &x, &y, &w, &h);
    // The border stays as it was: the new shadow's reach is measured on it.
    dropShadowCache(l, false);
    l->shadow = enable;
    if (enable) {
        l->shadowcolor = colour, l->shadowradius = radius, l->shadowsize = uint32_t(size);
        l->shadowdir = uint32_t(int32_t(direction)), l->shadowsigma = sigma;
        int32_t x2, y2, w2, h2;
        qxLayerScreenRect(l, l->onscreen, &x2, &y2, &w2, &h2);
        qxUnionRect(&x, &y, &w, &h, x2, y2, w2, h2);
    }
    qxInvalidateRect(L, x, y, w, h);
    return 0;
}

bool boolField(lua_State *L, int t, const char *key)
{
    lua_pushstring(L, key);
    lua_gettable(L, t);
    const bool on = lua_toboolean(L, -1) && !(lua_isnumber(L, -1) && lua_tonumber(L, -1) == 0);
    lua_pop(L, 1);
    return on;
}

// The 0-based frame an anim layer's "frame" key asks for: 1-based, -1 the
// last, 0 the next one (wrapping). 0 or 1094.
int readFrame(lua_State *L, const qxLayer *l, int table, int32_t *frame, bool *given)
{
    int f = 0;
    *given = false;
    if (l->type != QX_TYPE_ANIM) return 0;
    // Another anim starts at its first frame unless the table says otherwise.
    qxObjectRef ref = l->layerid;
    if (qxGetFieldID(L, table, "id", &ref, nullptr) &&
        (ref.number != l->layerid.number || ref.automatic != l->layerid.automatic))
        *frame = 0, *given = true;
    if (!qxGetFieldInt(L, table, "frame", &f, nullptr)) return 0;
    qxAnim *a = nullptr;
    if (int r = qxFindAnim(L, ref, &a, QX_FIND_PENDING | QX_FIND_NOCOPY)) return r;
    const int32_t count = int32_t(a->frameCount);
    if (f < -1 || f > count || count < 1) return ERR_ANIMFRAME;
    *frame = f == -1 ? count - 1 : f == 0 ? (l->base->frame + 1) % count : f - 1;
    *given = true;
    return 0;
}

// "clipregion": a clip region, or -1 for none. 0 or the lookup's error.
int readClip(lua_State *L, int table, void **clip)
{
    lua_pushstring(L, "clipregion");
    lua_gettable(L, table);
    const bool none = lua_type(L, -1) == LUA_TNUMBER && lua_tonumber(L, -1) == -1;
    lua_pop(L, 1);
    if (none) {
        *clip = nullptr;
        return 0;
    }
    qxObjectRef id{};
    if (!qxGetFieldID(L, table, "clipregion", &id, nullptr)) return 0;
    qxClipRegion *region = nullptr;
    if (int r = qxFindClipRegion(id, &region)) return r;
    *clip = region;
    return 0;
}

// "scalex", "scaley", "width", "height" (pixels or "N%") and "rotate" into
// *o; *changed when any of them changes the transform. A size in pixels
// resets the scale, a percentage or a new scale clears the size.
int readLayerGeometry(lua_State *L, int table, qxTransformOptions *o, bool *changed)
{
    double v = 0;
    double *scales[2] = {&o->scalex, &o->scaley};
    uint32_t *sizes[2] = {&o->width, &o->height};
    const char *scaleKeys[2] = {"scalex", "scaley"}, *sizeKeys[2] = {"width", "height"};
    for (int i = 0; i < 2; ++i) {
        if (qxGetFieldNum(L, table, scaleKeys[i], &v, nullptr) && v != *scales[i]) {
            if (v == 0.0 || !std::isfinite(v)) return ERR_BADDIMENSIONS;
            *scales[i] = v, *sizes[i] = 0, *changed = true;
        }
    }
    for (int i = 0; i < 2; ++i) {
        lua_pushstring(L, sizeKeys[i]);
        lua_gettable(L, table);
        const int type = lua_type(L, -1);
        const char *text = type == LUA_TSTRING ? lua_tostring(L, -1) : nullptr;
        const double value = type == LUA_TNUMBER ? lua_tonumber(L, -1) : 0.0;
        lua_pop(L, 1);
        if (type == LUA_TNIL) continue;
        // ScaleLayer builds its table above its own arguments: width is
        // argument 2, height 3; SetLayerStyle's table is an argument itself.
        const int argPos = table > 2 ? 2 + i : table;
        if (type != LUA_TNUMBER && type != LUA_TSTRING) {
            qxSetErrorNumber(argPos);
            return ERR_STRORNUM;
        }
        *changed = true;
        double v = value;
        bool percent = false;
        if (text) {
            char *end = nullptr;
            v = std::strtod(text, &end);
            percent = end != text && *end == '%' && !end[1];
            if (end == text || (*end && !percent) || !std::isfinite(v)) {
                qxSetErrorNumber(argPos);
                return ERR_PERCENTFORMAT;
            }
        }
        if (v < 0 || (percent && v == 0)) return ERR_BADDIMENSIONS;
        if (!percent && v < 1) {
            // No size of its own: the scale factor goes on sizing this axis.
            *sizes[i] = 0;
        } else if (percent) {
            *scales[i] = v / 100.0, *sizes[i] = 0;
        } else {
            *sizes[i] = uint32_t(std::min(v, 2147483647.0)), *scales[i] = 1.0;
        }
    }
    if (qxGetFieldNum(L, table, "rotate", &v, nullptr) && v != o->rotate) {
        if (!std::isfinite(v)) return ERR_WRONGUSAGE;
        o->rotate = std::fmod(v, 360.0), *changed = true;
    }
    return 0;
}

// An identity "transform" beside the keys that size and turn the layer (as
// GetLayerStyle hands them back): those keys describe the layer, and the
// matrix is not taken.
bool identityBesideGeometry(lua_State *L, int table)
{
    lua_pushstring(L, "transform");
    lua_gettable(L, table);
    bool identity = lua_istable(L, -1);
    const double want[4] = {1, 0, 0, 1};
    for (int i = 0; identity && i < 4; ++i) {
        lua_rawgeti(L, -1, i);
        identity = lua_type(L, -1) == LUA_TNUMBER && lua_tonumber(L, -1) == want[i];
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
    if (!identity) return false;
    for (const char *key : {"scalex", "scaley", "width", "height", "rotate"})
        if (qxFieldPresent(L, table, key)) return true;
    return false;
}

// "z": a position, or the name of a layer whose position it takes.
int readLayerZ(lua_State *L, const qxBGPic *b, int table, int *z, bool *given)
{
    lua_pushstring(L, "z");
    lua_gettable(L, table);
    int r = 0;
    if (lua_type(L, -1) == LUA_TNUMBER) {
        *z = int(std::clamp<lua_Number>(lua_tonumber(L, -1), INT32_MIN, INT32_MAX)), *given = true;
    } else if (lua_type(L, -1) == LUA_TSTRING) {
        *z = qxFindLayerByName(b, lua_tostring(L, -1)), *given = true;
        if (!*z) qxSetErrorString(lua_tostring(L, -1)), r = ERR_FINDLAYER;
    } else if (!lua_isnil(L, -1)) {
        r = ERR_WRONGUSAGE;
    }
    lua_pop(L, 1);
    return r;
}

// Puts a freshly rendered base rendition in place of the layer's own; the
// transformed renditions are built again by the caller.
void swapBaseRendition(lua_State *L, qxLayer *l, qxLayerData *fresh)
{
    qxLayerData *old = l->base;
    fresh->clip = old->clip;
    fresh->frame = old->frame;
    fresh->dwidth = fresh->width, fresh->dheight = fresh->height;
    fresh->left = fresh->ox = fresh->x, fresh->top = fresh->oy = fresh->y;
    if (l->intermediate == old) l->intermediate = fresh;
    if (l->onscreen == old) l->onscreen = fresh;
    l->base = fresh;
    qxFreeLayerData(L, l->type, old);
    std::free(old);
}

// "type": a layer turned into another type starts from the fresh record its
// owner makes and is rendered by the new type's keys. *as becomes the
// working copy of the new type; 1055 for a type that cannot be a target.
int readTypeChange(lua_State *L, const qxLayer *l, int table, qxObjectStyle *s, qxLayer *as, qxLayerData **fresh)
{
    int type = 0;
    if (!qxGetFieldInt(L, table, "type", &type, nullptr) || uint32_t(type) == l->type) return 0;
    const qxLayerTypeOps *ops = qxLayerType(uint32_t(type));
    if (type == int(QX_LAYER_VIDEO) || !ops || !ops->freshTypeData || !ops->applyStyleKeys) return ERR_WRONGUSAGE;
    // The new type sees a rendition of its own at the layer's place and size.
    qxLayerData start{};
    start.x = l->base->x, start.y = l->base->y;
    start.width = l->base->width, start.height = l->base->height;
    as->type = uint32_t(type);
    as->layerid = {};
    as->base = as->intermediate = as->onscreen = &start;
    start.typedata = l->base->typedata; // the old payload, for what carries over
    void *payload = nullptr;
    int r = ops->freshTypeData(L, as, l->type, table, &payload);
    start.typedata = payload;
    if (!r) r = ops->applyStyleKeys(L, as, table, s, fresh);
    if (!r && !*fresh) r = ERR_WRONGUSAGE;
    if (ops->freeTypeData) ops->freeTypeData(L, &start);
    as->base = as->intermediate = as->onscreen = nullptr;
    if (r) {
        if (*fresh) qxFreeLayerData(L, uint32_t(type), *fresh), std::free(*fresh);
        *fresh = nullptr;
        as->type = l->type;
    }
    return r;
}

// The layer lets go of what its old type showed: the transformed
// renditions go with it (the rebuild makes them again), an object it was
// the last to show is freed, and it takes the new type and source.
void dropOldType(lua_State *L, qxLayer *l, const qxLayer &as)
{
    qxLayerData *inter = l->intermediate != l->base ? l->intermediate : nullptr;
    qxLayerData *screen = l->onscreen != l->base && l->onscreen != inter ? l->onscreen : nullptr;
    for (qxLayerData *d : {inter, screen})
        if (d) qxFreeLayerData(L, l->type, d), std::free(d);
    l->intermediate = l->onscreen = l->base;
    const uint32_t was = l->type;
    qxLayerData *old = l->base;
    qxFreeLayerData(L, was, old); // the base's payload goes by its own type
    l->type = as.type, l->layerid = as.layerid;
    if (was == QX_TYPE_BRUSH || was == QX_TYPE_BRUSHPART) qxFlushDeletedObjects(L, 1);
    else if (was == QX_TYPE_ANIM) qxFlushDeletedObjects(L, 2);
    else if (was == QX_TYPE_BGPICPART) qxFlushDeletedObjects(L, 8);
}

// The brush the layer fills with, if any.
qxObjectRef usedBrush(const qxLayer *l)
{
    const qxLayerTypeOps *ops = qxLayerType(l->type);
    const qxObjectRef *texture = ops && ops->usedBrush ? ops->usedBrush(l->base) : nullptr;
    return texture ? *texture : qxObjectRef{};
}

// Reads a style table completely, then applies it to the layer: the layer
// stays unchanged when the table is refused. noRefresh: the caller redraws
// the area (added to *area when given).
int styleLayer(lua_State *L, qxBGPic *b, qxLayer *l, int table, bool noRefresh, qxRectList *area)
{
    if (l->type == QX_TYPE_NOOBJECT) return ERR_WRONGUSAGE;
    qxLayerAsyncHold hold(l);
    qxLayerData *base = l->base;
    const qxObjectRef textureBefore = usedBrush(l);
    qxTransformOptions o = l->transform;
    qxObjectStyle s{};
    s.hidden = l->hidden;
    s.transparency = l->transparency;
    s.shadow = {l->shadow, l->shadowcolor, l->shadowsize, l->shadowdir, l->shadowradius, l->shadowsigma};
    s.border = {l->border, l->bordercolor, l->bordersize};
    s.filters = l->filters;
    const bool matrixIgnored = identityBesideGeometry(L, table);
    const bool matrixGiven = qxFieldPresent(L, table, "transform") && !matrixIgnored;
    bool geometry = false;
    qxTransformOptions geo = o;
    if (!matrixGiven)
        if (int r = readLayerGeometry(L, table, &geo, &geometry)) return r;
    // "name" is what GetLayerStyle reports, not a key to set: its table
    // handed to another layer must not rename that one.
    if (int r = qxGetTransformOptions(L, table, base->width, base->height, 0, 0, o.smooth, &o, &s,
                                      QX_OPT_NOSIZE | QX_OPT_NOROTATE | QX_OPT_NONAME))
        return r;
    if (matrixIgnored) {
        // The option reader took the identity: the layer keeps its own matrix.
        std::memcpy(o.transform, l->transform.transform, sizeof o.transform);
        o.m11 = l->transform.m11, o.m12 = l->transform.m12, o.m21 = l->transform.m21, o.m22 = l->transform.m22;
        o.transformed = l->transform.transformed;
    }
    if (matrixGiven) {
        o.width = o.height = 0, o.scalex = o.scaley = 1.0, o.rotate = 0.0;
    } else if (geometry) {
        // Scale, size and angle as read above; a matrix the script gave goes.
        o.scalex = geo.scalex, o.scaley = geo.scaley, o.width = geo.width, o.height = geo.height;
        o.rotate = geo.rotate, o.transformed = 0;
        // Each axis by its own size or scale: a width in pixels with a
        // height in percent scales both.
        const double sx = o.width && base->width ? double(o.width) / base->width : o.scalex;
        const double sy = o.height && base->height ? double(o.height) / base->height : o.scaley;
        qxSetupTransform(&o.m11, 0, 0, base->width, base->height, sx, sy, o.rotate);
    }
    if (boolField(L, table, "clearfilters")) s.filters = qxFilterBlock{};
    lua_pushstring(L, "nocliptransform");
    lua_gettable(L, table);
    const uint32_t noClipTransform = lua_isnil(L, -1) ? l->nocliptransform : boolField(L, table, "nocliptransform");
    lua_pop(L, 1);
    int32_t frame = base->frame;
    bool frameGiven = false;
    if (int r = readFrame(L, l, table, &frame, &frameGiven)) return r;
    void *clip = base->clip;
    if (int r = readClip(L, table, &clip)) return r;
    int x = base->x, y = base->y, z = 0, tx = 0, ty = 0;
    bool xGiven = qxGetFieldInt(L, table, "x", &x, nullptr);
    bool yGiven = qxGetFieldInt(L, table, "y", &y, nullptr);
    if (qxGetFieldInt(L, table, "translatex", &tx, nullptr)) x = int(int64_t(base->x) + tx), xGiven = true;
    if (qxGetFieldInt(L, table, "translatey", &ty, nullptr)) y = int(int64_t(base->y) + ty), yGiven = true;
    bool zGiven = false;
    if (int r = readLayerZ(L, b, table, &z, &zGiven)) return r;
    char group[256];
    std::strcpy(group, l->group);
    if (int r = qxGetFieldStr(L, table, "group", group, sizeof group, nullptr); r > 1) return r;
    // A group named like a layer could never be addressed as a group.
    if (group[0] && strcasecmp(group, l->group) != 0) {
        for (const qxLayer *o2 = b->layers.first; o2; o2 = o2->next)
            if (o2->name && strcasecmp(o2->name, group) == 0) return ERR_NAMEUSED;
    }
    // The type's own keys come last of the reading: a fresh picture is made
    // aside and only swapped in below.
    qxLayerData *fresh = nullptr;
    qxLayer as = *l;
    if (int r = readTypeChange(L, l, table, &s, &as, &fresh)) return r;
    if (as.type == l->type) {
        if (const qxLayerTypeOps *ops = qxLayerType(l->type); ops && ops->applyStyleKeys) {
            if (int r = ops->applyStyleKeys(L, l, table, &s, &fresh)) return r;
        }
    }
    // A fresh image rendition names the source and type it shows.
    bool newSource = false;
    if (fresh &&
        (as.type == QX_TYPE_BRUSH || as.type == QX_TYPE_BRUSHPART || as.type == QX_TYPE_BGPICPART ||
         as.type == QX_TYPE_ANIM) &&
        fresh->typedata) {
        const auto *src = static_cast<const qxImageSource *>(fresh->typedata);
        newSource = src->id.number != l->layerid.number || src->id.automatic != l->layerid.automatic;
        as.type = src->type, as.layerid = src->id;
        std::free(fresh->typedata);
        fresh->typedata = nullptr;
    }
    const bool clipChanged = clip != base->clip;
    // Apply.
    int32_t ax, ay, aw, ah;
    qxLayerScreenRect(l, l->onscreen, &ax, &ay, &aw, &ah);
    if (fresh) {
        // A fresh picture carries its own anchor point; one given wins.
        if (!xGiven) x = fresh->x;
        if (!yGiven) y = fresh->y;
        fresh->x = base->x, fresh->y = base->y;
        // The clip region stays with the layer across a change of source.
        void *keep = base->clip;
        base->clip = nullptr;
        if (as.type != l->type || newSource) dropOldType(L, l, as);
        swapBaseRendition(L, l, fresh);
        base = fresh;
        base->clip = keep;
    }
    if (clipChanged) {
        // The renditions take the region again from the base when rebuilt.
        for (qxLayerData *d : {l->intermediate, l->onscreen})
            if (d != base) {
                void *old = d->clip;
                d->clip = nullptr;
                qxFreeClipRegionRef(old);
            }
        void *old = base->clip;
        base->clip = clip;
        qxFreeClipRegionRef(old);
    }
    const bool newFrame = frameGiven && frame != base->frame;
    const bool reshape = fresh || (clipChanged && l->onscreen != base) ||
                         std::memcmp(&o.m11, &l->transform.m11, 4 * sizeof(double)) != 0 ||
                         o.anchorx != l->anchorx || o.anchory != l->anchory ||
                         (noClipTransform != l->nocliptransform && base->clip && l->onscreen != base) ||
                         (newFrame && (!qxMatrixIsIdentity(&o) || l->onscreen != l->base));
    const qxTransformOptions before = l->transform;
    const double beforeAx = l->anchorx, beforeAy = l->anchory;
    const int32_t beforeFrame = base->frame;
    auto setFrame = [l](int32_t f) {
        for (qxLayerData *d : {l->base, l->intermediate, l->onscreen}) {
            // Planes of an anim layer are a disk anim's frame read earlier.
            if (d->frame != f && l->type == QX_TYPE_ANIM && d->bitmap) {
                qxFreeImagePlanes(d->bitmap, d->mask, d->alpha);
                d->bitmap = d->mask = d->alpha = nullptr;
            }
            d->frame = f;
        }
    };
    setFrame(frame);
    const uint32_t beforeNoClip = l->nocliptransform;
    l->transform = o, l->anchorx = o.anchorx, l->anchory = o.anchory, l->nocliptransform = noClipTransform;
    if (reshape) {
        if (int r = qxRebuildLayerTransform(L, l)) {
            l->transform = before, l->anchorx = beforeAx, l->anchory = beforeAy, l->nocliptransform = beforeNoClip;
            setFrame(beforeFrame);
            return r;
        }
    }
    std::strcpy(l->group, group);
    const bool filtersChanged = std::memcmp(&s.filters, &l->filters, sizeof s.filters) != 0;
    if (filtersChanged || newFrame) qxFreeLayerXformImages(l);
    if (reshape || filtersChanged || newFrame || s.shadow.shadowradius != l->shadowradius ||
        s.shadow.shadowsigma != l->shadowsigma || s.shadow.shadowcolor != l->shadowcolor ||
        s.border.border != l->border || s.border.bordercolor != l->bordercolor ||
        s.border.bordersize != l->bordersize)
        dropShadowCache(l);
    l->hidden = s.hidden, l->transparency = s.transparency;
    l->shadow = s.shadow.shadow, l->shadowcolor = s.shadow.shadowcolor, l->shadowsize = s.shadow.shadowsize;
    l->shadowdir = s.shadow.shadowdir, l->shadowradius = s.shadow.shadowradius, l->shadowsigma = s.shadow.shadowsigma;
    l->border = s.border.border, l->bordercolor = s.border.bordercolor, l->bordersize = s.border.bordersize;
    l->filters = s.filters;
    l->geometric = uint32_t(qxFiltersGeometric(&l->filters));
    auto relative = [](int32_t v) { return v >= 95001 && v <= 104999; };
    if (!relative(x)) x = qxResolvePosX(x, base->width, b->width, l->anchorx);
    if (!relative(y)) y = qxResolvePosY(y, base->height, b->height, l->anchory);
    if (x != base->x || y != base->y) qxMoveLayer(L, l, nullptr, x, y, 1, 0, nullptr);
    if (zGiven && z >= 0) qxSetLayerZ(b, l, z);
    int32_t nx, ny, nw, nh;
    qxLayerScreenRect(l, l->onscreen, &nx, &ny, &nw, &nh);
    qxUnionRect(&ax, &ay, &aw, &ah, nx, ny, nw, nh);
    const int taken = hold.release();
    // A texture brush freed while this layer filled with it may go now.
    if (const qxObjectRef now = usedBrush(l); now.number != textureBefore.number || now.automatic != textureBefore.automatic)
        qxFlushDeletedObjects(L, 1);
    if (area) qxRectListAdd(area, ax, ay, aw, ah, 1);
    // A layer held around this change is refreshed by its holder.
    if (!noRefresh && !l->hold) qxInvalidateRect(L, ax, ay, aw, ah);
    return taken;
}

// Every layer a layer, name or group argument names gets the table.
int applyStyle(lua_State *L, qxBGPic *b, int layerArgIndex, int table, bool noRefresh = false)
{
    std::vector<qxLayer *> layers;
    int group = 0;
    if (int r = layersArg(L, layerArgIndex, b, layers, &group)) return r;
    if (!lua_istable(L, table)) {
        qxSetErrorNumber(table);
        return ERR_TABEXPECTED;
    }
    for (qxLayer *l : layers)
        if (int r = styleLayer(L, b, l, table, noRefresh, nullptr)) return r;
    return 0;
}

int cmdSetLayerStyle(lua_State *L)
{
    const int n = lua_gettop(L);
    qxCheckArgCount(L, 2, 0, 0, 0);
    if (n % 2) return ERR_WRONGUSAGE;
    if (int r = qxLayerModeGuard(nullptr)) return r;
    qxBGPic *b = qxLayerBGPic();
    for (int i = 1; i < n; i += 2)
        if (int r = applyStyle(L, b, i, i + 1)) return r;
    return 0;
}

// The commands that set a few style keys: the layer, then the table the
// handler filled.
int styleCommand(lua_State *L, void (*fill)(lua_State *L))
{
    if (int r = qxLayerModeGuard(nullptr)) return r;
    lua_newtable(L);
    fill(L);
    const int r = applyStyle(L, qxLayerBGPic(), 1, lua_gettop(L));
    lua_pop(L, 1);
    return r;
}

void setFromArg(lua_State *L, const char *key, int arg)
{
    if (lua_gettop(L) - 1 < arg) return; // the table stands on top
    lua_pushstring(L, key);
    lua_pushvalue(L, arg);
    lua_settable(L, -3);
}

int cmdRotateLayer(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    return styleCommand(L, [](lua_State *S) {
        setFromArg(S, "rotate", 2);
        setFromArg(S, "smoothscale", 3);
    });
}

int cmdScaleLayer(lua_State *L)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    return styleCommand(L, [](lua_State *S) {
        setFromArg(S, "width", 2);
        setFromArg(S, "height", 3);
        setFromArg(S, "smoothscale", 4);
    });
}

int cmdTransformLayer(lua_State *L)
{
    qxCheckArgCount(L, 5, 6, 0, 0);
    return styleCommand(L, [](lua_State *S) {
        lua_pushstring(S, "transform");
        lua_newtable(S);
        for (int i = 0; i < 4; ++i) {
            lua_pushvalue(S, 2 + i);
            lua_rawseti(S, -2, i);
        }
        lua_settable(S, -3);
        setFromArg(S, "smoothscale", 6);
    });
}

int cmdSetLayerAnchor(lua_State *L)
{
    qxCheckArgCount(L, 3, 3, 0, 0);
    return styleCommand(L, [](lua_State *S) {
        setFromArg(S, "anchorx", 2);
        setFromArg(S, "anchory", 3);
    });
}

int cmdSetLayerTransparency(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    return styleCommand(L, [](lua_State *S) { setFromArg(S, "transparency", 2); });
}

// SetLayerTint and SetLayerLight.
int cmdSetLayerTint(lua_State *L)
{
    qxCheckArgCount(L, 3, 3, 0, 0);
    return styleCommand(L, [](lua_State *S) {
        setFromArg(S, "tintcolor", 2);
        setFromArg(S, "tint", 3);
    });
}

int cmdSetLayerFilter(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    if (!lua_istable(L, 2) && luaL_checknumber(L, 2) != 0) return ERR_WRONGUSAGE;
    return styleCommand(L, [](lua_State *S) {
        if (lua_istable(S, 2)) {
            setFromArg(S, "filters", 2);
        } else {
            lua_pushstring(S, "clearfilters");
            lua_pushboolean(S, 1);
            lua_settable(S, -3);
        }
    });
}

int cmdSelectLayer(lua_State *L)
{
    qxCheckArgCount(L, 1, 4, 0, 0);
    if (int r = qxLayerModeGuard(nullptr)) return r;
    qxBGPic *b = qxLayerBGPic();
    qxLayer *l = nullptr;
    if (int r = layerArg(L, 1, b, &l)) return r;
    auto num = [&](int arg) {
        return lua_gettop(L) >= arg ? uint32_t(int32_t(std::trunc(luaL_checknumber(L, arg)))) : 0u;
    };
    return qxSelectTarget(L, QX_OUT_LAYER, {uint32_t(qxLayerPosition(b, l)), nullptr}, QX_OUT_BRUSH, num(3), num(2),
                          num(4));
}

int cmdModifyLayerFrames(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    if (int r = qxLayerModeGuard(nullptr)) return r;
    qxLayer *l = nullptr;
    if (int r = layerArg(L, 1, qxLayerBGPic(), &l)) return r;
    if (l->type != QX_TYPE_ANIM) return ERR_NOANMLAYER;
    const int64_t count = qxTruncToInt64(luaL_checknumber(L, 2));
    const int64_t position = lua_gettop(L) >= 3 ? qxTruncToInt64(luaL_checknumber(L, 3)) : 0;
    qxAnim *a = nullptr;
    if (int r = qxLayerOwnAnim(L, l, &a)) return r;
    const int32_t old = l->base->frame;
    qxBitMap *shown = old >= 0 && uint32_t(old) < a->frameCount ? a->bitmaps[old] : nullptr;
    if (int r = qxModifyAnimFrames(a, count, position)) return r;
    int32_t frame = -1;
    for (uint32_t i = 0; shown && i < a->frameCount; ++i)
        if (a->bitmaps[i] == shown) frame = int32_t(i);
    for (qxLayerData *d : {l->base, l->intermediate, l->onscreen}) d->frame = frame < 0 ? 0 : frame;
    if (frame == old) return 0;
    // Another picture: the caches go and the layer shows it.
    int32_t x, y, w, h;
    qxLayerScreenRect(l, l->onscreen, &x, &y, &w, &h);
    qxLayerFreeImageCache(l);
    const int r = l->onscreen == l->base ? 0 : qxRebuildLayerTransform(L, l);
    if (!l->hidden) redrawArea(L, l), qxInvalidateRect(L, x, y, w, h);
    return r;
}

int cmdNextFrame(lua_State *L)
{
    qxCheckArgCount(L, 1, 4, 0, 0);
    if (int r = qxLayerModeGuard(nullptr)) return r;
    qxLayer *l = nullptr;
    if (int r = layerArg(L, 1, qxLayerBGPic(), &l)) return r;
    if (l->type != QX_TYPE_ANIM) return ERR_NOANMLAYER;
    return qxLayerSetPosFrame(L, l, optInt(L, 2, 100000), optInt(L, 3, 100000), optInt(L, 4, 0), 0);
}

constexpr qxCommandDef layersCommands[] = {
    {"Undo", cmdUndo},
    {"EnableLayers", cmdEnableLayers},
    {"DisableLayers", cmdDisableLayers},
    {"SwapLayers", cmdSwapLayers},
    {"InsertLayer", cmdInsertLayer},
    {"ShowLayer", cmdShowLayer},
    {"HideLayer", cmdHideLayer},
    {"RemoveLayer", cmdRemoveLayer},
    {"SetLayerTransparency", cmdSetLayerTransparency},
    {"SetLayerLight", cmdSetLayerTint},
    {"SetLayerTint", cmdSetLayerTint},
    {"AddMove", qxCmdAddMove},
    {"ClearMove", qxCmdClearMove},
    {"DoMove", cmdDoMove},
    {"FreeLayers", cmdFreeLayers},
    {"NextFrame", cmdNextFrame},
    {"SetLayerName", cmdSetLayerName},
    {"Collision", qxCmdCollision},
    {"DumpLayers", cmdDumpLayers},
    {"ScaleLayer", cmdScaleLayer},
    {"RotateLayer", cmdRotateLayer},
    {"SetLayerStyle", cmdSetLayerStyle},
    {"GetLayerStyle", cmdGetLayerStyle},
    {"TransformLayer", cmdTransformLayer},
    {"SetLayerAnchor", cmdSetLayerAnchor},
    {"LayerExists", cmdLayerExists},
    {"SetLayerZPos", cmdSetLayerZPos},
    {"TranslateLayer", cmdTranslateLayer},
    {"SelectLayer", cmdSelectLayer},
    {"CreateLayer", cmdCreateLayer},
    {"ModifyLayerFrames", cmdModifyLayerFrames},
    {"GetLayerAtPos", cmdGetLayerAtPos},
    {"SetLayerShadow", cmdSetLayerShadow},
    {"SetLayerFilter", cmdSetLayerFilter},
    {"SetLayerBorder", cmdSetLayerBorder},
    {"LayerToFront", cmdLayerToFront},
    {"LayerToBack", cmdLayerToBack},
    {"PlayLayer", qxCmdPlayLayer},
    {"StopLayer", qxCmdStopLayer},
    {"PauseLayer", qxCmdPauseLayer},
    {"ResumeLayer", qxCmdResumeLayer},
    {"SeekLayer", qxCmdSeekLayer},
    {"SetLayerVolume", qxCmdSetLayerVolume},
    {"RemoveLayers", cmdRemoveLayers},
    {nullptr, nullptr},
};

constexpr qxConstantDef layersConstants[] = {
    {nullptr, nullptr, 0},
};

} // namespace

extern "C" int qxRemoveLayerRecord(lua_State *L, qxBGPic *b, qxLayer *l, int noRedraw, qxRectList *list)
{
    if (!noRedraw) {
        int32_t x, y, w, h;
        qxLayerScreenRect(l, l->onscreen, &x, &y, &w, &h);
        const uint32_t type = l->type;
        l->type = QX_TYPE_NOOBJECT; // the redraw below no longer sees it
        if (list) qxRectListAdd(list, x, y, w, h, 1);
        else qxInvalidateRect(L, x, y, w, h);
        l->type = type;
    }
    qxDropLayerButton(L, b, l);
    qxFreeLayerContents(L, l);
    qxUnlinkLayer(b, l);
    std::free(l);
    return 0;
}

extern "C" int qxLayerSetPosFrame(lua_State *L, qxLayer *l, int32_t x, int32_t y, int32_t frame, int noRefresh)
{
    qxBGPic *b = qxLayerBGPic();
    const int top = lua_gettop(L);
    if (l->name) lua_pushstring(L, l->name);
    else lua_pushnumber(L, qxLayerPosition(b, l));
    lua_newtable(L);
    qxSetFieldInt(L, "x", x);
    qxSetFieldInt(L, "y", y);
    qxSetFieldInt(L, "frame", frame);
    const int r = applyStyle(L, b, top + 1, top + 2, noRefresh != 0);
    lua_settop(L, top);
    return r;
}

extern "C" int qxOpenLayersLib(lua_State *L)
{
    if (!qxLayerCmdRects.entries) {
        qxLayerCmdRects.entries = static_cast<qxLayerRect *>(std::calloc(QX_LAYER_CMD_RECTS, sizeof(qxLayerRect)));
        if (!qxLayerCmdRects.entries) return ERR_MEM;
        qxLayerCmdRects.capacity = QX_LAYER_CMD_RECTS;
    }
    qxLayerCmdRects.count = 0;
    static bool registered = false;
    if (!registered) {
        if (int r = qxRegisterMoveLists()) return r;
        registered = true;
    }
    return qxOpenCommandLibraryOf<layersCommands, layersConstants>(L, "layers");
}

extern "C" void qxLayerLibClose(void)
{
    qxFreeLayerBackgrounds();
    qxFreeMoveLists();
    std::free(qxLayerCmdRects.entries);
    qxLayerCmdRects = {};
}
