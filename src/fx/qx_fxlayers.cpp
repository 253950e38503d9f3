// The transition engine's side of the layers: brushes, text objects and
// BGPic parts as new top layers, the layer set-up of ShowLayerFX,
// HideLayerFX and RemoveLayerFX, the planes a real-time transition draws
// into, and the end state (the layer shown, hidden or removed).
#include <algorithm>
#include <vector>

#include "core/vm/lua.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapplanes.h"
#include "display/qx_bitmaptransform.h"
#include "display/qx_display.h"
#include "display/qx_positions.h"
#include "draw/text/qx_text.h"
#include "fx/qx_fxhooks.h"
#include "fx/qx_fxrenderers.h"
#include "layers/qx_layer.h"
#include "layers/qx_videolayercmds.h"
#include "objects/qx_bgpicdisplay.h"
#include "objects/qx_bgpicobj.h"
#include "objects/qx_brush.h"
#include "objects/qx_displayopts.h"
#include "objects/qx_output.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"

namespace {

// What a transition did to its layer, so that the end puts it back.
struct LayerState {
    const qxTransitionFX *fx;
    qxLayer *layer;
    bool added;     // the driver made the layer from a brush, text or part
    bool installed; // the layer shows the planes below while the effect runs
    bool xformSlot; // ... in place of its transformed picture
    bool cutShort;  // put back for a repeat of the command
    bool detached;  // the layer has its own planes back while its picture changes
    bool emuScaled; // the emulated BGPic was scaled to the display for the run
    qxBitMap *savedBitmap, *savedMask, *savedAlpha;
    qxBitMap *image, *mask, *alpha;
    int32_t width, height;
};
std::vector<LayerState> gStates;

int (*gPlainSource)(qxTransitionFX *fx);

LayerState *stateOf(const qxTransitionFX *fx)
{
    for (LayerState &s : gStates)
        if (s.fx == fx) return &s;
    return nullptr;
}

LayerState *stateFor(const qxTransitionFX *fx)
{
    if (LayerState *s = stateOf(fx)) return s;
    gStates.push_back(LayerState{});
    gStates.back().fx = fx;
    return &gStates.back();
}

void dropState(const qxTransitionFX *fx)
{
    std::erase_if(gStates, [fx](const LayerState &s) { return s.fx == fx; });
}

// The layer may have gone in a callback between frames.
qxBGPic *ownerOf(const qxLayer *layer)
{
    return layer ? qxLayerOwner(layer) : nullptr;
}

bool isTransformed(const qxLayer *l)
{
    return l->onscreen->xformbitmap || !qxMatrixIsIdentity(&l->transform);
}

// Any layer above, hidden ones included, that overlaps this one.
bool coveredAbove(const qxLayer *layer)
{
    const qxLayerData *d = layer->onscreen;
    for (const qxLayer *l = layer->next; l; l = l->next) {
        if (l->type == QX_TYPE_NOOBJECT) continue;
        int32_t x, y, w, h;
        qxLayerScreenRect(l, l->onscreen, &x, &y, &w, &h);
        if (qxRectsOverlapWH(d->left, d->top, d->dwidth, d->dheight, x, y, w, h)) return true;
    }
    return false;
}

// The renderers that draw into a layer: the wipes, flows, stretch and
// zoom, roll and wallpaper, strange push, pixel zoom, the reveals (clock
// wipe, star, sun, dissolve), the fade family and the layer-only effects
// (which paint the whole area, old picture included). The others paint
// whole frames on the display and run there, the layer being redrawn at
// the end.
bool drawsIntoLayers(int32_t effect)
{
    if (qxFXIsFadeFamily(effect) || qxFXIsLayerOnly(effect) || (effect >= 55 && effect <= 73) ||
        (effect >= 84 && effect <= 87) || (effect >= 97 && effect <= 100) || effect == 114 || effect == 132 ||
        effect == 139)
        return true;
    for (size_t i = 0; i < qxFXEffectsI.count; i++)
        if (qxFXEffectsI.entries[i].id == effect) return true;
    return false;
}

// The border and shadow pictures are made from the layer's planes and
// opacity; they are made again from what the transition left.
void dropStyleCache(qxLayer *layer)
{
    qxLayerData *d = layer->onscreen;
    qxFreeAlphaBitMap(d->shadowalpha), qxFreeAlphaBitMap(d->borderalpha);
    d->shadowalpha = d->borderalpha = nullptr;
}

// A composition of a BGPic with its layers (rectangle at 0, 0, w x h) into a
// new bitmap; layer, when given, is left out. 1522 when memory runs out.
int composeArea(qxTransitionFX *fx, qxBGPic *b, qxLayer *skip, int32_t x, int32_t y, int32_t w, int32_t h,
                uint32_t flags, qxBitMap **out)
{
    *out = nullptr;
    qxBitMap *area = qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr);
    if (!area) return ERR_BITMAP;
    qxRectFill(area, 0, 0, w, h, 0);
    int32_t cx = x, cy = y, cw = w, ch = h;
    int32_t bw = 0, bh = 0;
    if (b) qxFXComposeSize(b, flags, &bw, &bh);
    if (b && qxIntersectRect(&cx, &cy, &cw, &ch, 0, 0, bw, bh)) {
        qxBitMap *whole = qxAllocBitMap(uint32_t(bw), uint32_t(bh), 0, nullptr);
        if (!whole) {
            qxFreeBitMap(area);
            return ERR_BITMAP;
        }
        const uint32_t hidden = skip ? skip->hidden : 0;
        if (skip) skip->hidden = 1;
        Redraw(fx->L, qxCurrentDisplay, b, whole, cx, cy, cw, ch, flags);
        if (skip) skip->hidden = hidden;
        qxBltBitMapDirect(whole, cx, cy, area, cx - x, cy - y, cw, ch);
        qxFreeBitMap(whole);
    }
    *out = area;
    return 0;
}

void replaceNewImage(qxTransitionFX *fx, qxBitMap *image, qxBitMap *mask, qxBitMap *alpha)
{
    if (fx->ownsNewImage) qxFreeBitMap(fx->newImage);
    if (fx->ownsNewMask) qxFreeMaskBitMap(fx->newMask);
    if (fx->ownsNewAlpha) qxFreeAlphaBitMap(fx->newAlpha);
    fx->newImage = image, fx->newMask = mask, fx->newAlpha = alpha;
    fx->ownsNewImage = image != nullptr, fx->ownsNewMask = mask != nullptr, fx->ownsNewAlpha = alpha != nullptr;
}

// The layer's picture as shown, cut to its on-screen size, into owned planes.
int readLayerPicture(qxTransitionFX *fx)
{
    qxBitMap *bm = nullptr, *m = nullptr, *a = nullptr;
    int32_t sx = 0, sy = 0;
    if (int e = qxGetLayerImage(fx->L, fx->layer, &bm, &m, &a, &sx, &sy)) return e;
    if (!bm || sx < 0 || sy < 0 || sx >= int32_t(bm->width) || sy >= int32_t(bm->height)) return ERR_WRONGUSAGE;
    fx->width = std::min(fx->width, int32_t(bm->width) - sx);
    fx->height = std::min(fx->height, int32_t(bm->height) - sy);
    if (fx->width < 1 || fx->height < 1) return ERR_WRONGUSAGE;
    qxBitMap *nb = nullptr, *nm = nullptr, *na = nullptr;
    if (int e = qxCopyImageRect(bm, m, a, sx, sy, fx->width, fx->height, 0, 0, 0, 0, &nb, m ? &nm : nullptr,
                                a ? &na : nullptr))
        return e;
    replaceNewImage(fx, nb, nm, na);
    return 0;
}

bool layersAtScreenSize(const qxBGPic *b)
{
    for (const qxLayer *l = b->layers.first; l; l = l->next)
        if (l->type != QX_TYPE_NOOBJECT && l->onscreen == l->intermediate) return false;
    return true;
}

// The emulated BGPic as a BGPic the display shows: its planes scaled to
// the display and each of its layers drawn at that scale (a layer added or
// changed on it since is scaled too). The display keeps the factors of the
// BGPic it shows.
int emuAtDisplaySize(qxTransitionFX *fx, LayerState *s)
{
    qxDisplay *d = qxCurrentDisplay;
    qxBGPic *emu = fx->emuBGPic;
    if (!emu || !qxLayerScaling(d) || emu == d->bgpic) return 0;
    const int32_t sw = int32_t(d->scaledWidth), sh = int32_t(d->scaledHeight);
    if (sw == emu->width && sh == emu->height) return 0;
    const bool planes = emu->curWidth == sw && emu->curHeight == sh && emu->curBitmap != emu->bitmap;
    // Drawn at this scale already (the display's rescale does it first):
    // it still goes back to its own size when the run ends.
    if (planes && layersAtScreenSize(emu)) {
        s->emuScaled = true;
        return 0;
    }
    const double fx0 = d->scaleX, fy0 = d->scaleY;
    int e = planes ? 0 : qxScaleBGPicToDisplay(fx->L, d, emu, 0);
    if (!e) {
        s->emuScaled = true;
        d->scaleX = double(sw) / emu->width, d->scaleY = double(sh) / emu->height;
        e = qxCopyLayerData(fx->L, d, emu);
    }
    d->scaleX = fx0, d->scaleY = fy0;
    return e;
}

// The emulated BGPic goes back to its own size when the run ends.
void emuBack(qxTransitionFX *fx, LayerState *s)
{
    qxBGPic *emu = fx->emuBGPic;
    qxDisplay *d = qxCurrentDisplay;
    if (!s->emuScaled || !emu || (d && d->bgpic == emu)) return;
    s->emuScaled = false;
    for (qxBGPic *b = qxBGPics; b; b = b->next)
        if (b == emu) qxResetBGPicRenditions(fx->L, d, emu, 0);
}

// The new picture: the layer's own, or with an emulated BGPic that BGPic's
// area as the layer would show over it.
int readNewPicture(qxTransitionFX *fx)
{
    if (int e = readLayerPicture(fx)) return e;
    if (!fx->bgpicEmu || !fx->emuBGPic) return 0;
    if (int e = emuAtDisplaySize(fx, stateFor(fx))) return e;
    qxBitMap *area = nullptr;
    if (int e = composeArea(fx, fx->emuBGPic, nullptr, 0, 0, fx->width, fx->height, QX_RD_BGPICBITMAP, &area))
        return e;
    replaceNewImage(fx, area, nullptr, nullptr);
    return 0;
}

// Real-time work: the layer shows private planes that the renderer draws
// into; a show starts from nothing, a hide or remove from the whole picture.
int prepareLayer(qxTransitionFX *fx, LayerState *s)
{
    const int32_t w = fx->width, h = fx->height;
    s->image = qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr);
    if (!s->image) return ERR_BITMAP;
    const bool full = fx->mode != QX_FXMODE_SHOWLAYER;
    if (qxFXIsFadeFamily(fx->effect) || fx->newAlpha) {
        s->alpha = qxAllocAlphaBitMap(uint32_t(w), uint32_t(h), 1, nullptr, 0);
        if (!s->alpha) return ERR_ALLOCALPHA;
    } else if (!qxFXIsLayerOnly(fx->effect)) {
        s->mask = qxAllocMaskBitMap(nullptr, uint32_t(w), uint32_t(h), 1, nullptr, 0);
        if (!s->mask) return ERR_ALLOCMASK;
    }
    if (full) {
        qxBltBitMapDirect(fx->newImage, 0, 0, s->image, 0, 0, w, h);
        if (s->alpha) qxFXFillAlpha(s->alpha, fx->newMask, fx->newAlpha, w, h);
        if (s->mask) {
            if (fx->newMask) qxMaskCopyOp(fx->newMask, 0, 0, s->mask, 0, 0, w, h, 0, nullptr, 0);
            else qxMaskRowOp(s->mask, 0, 0, w, h, 0);
        }
    }
    qxLayerData *d = fx->layer->onscreen;
    s->xformSlot = d->xformbitmap != nullptr;
    qxBitMap **slot = s->xformSlot ? &d->xformbitmap : &d->bitmap;
    qxBitMap **slotMask = s->xformSlot ? &d->xformmask : &d->mask;
    qxBitMap **slotAlpha = s->xformSlot ? &d->xformalpha : &d->alpha;
    s->savedBitmap = *slot, s->savedMask = *slotMask, s->savedAlpha = *slotAlpha;
    *slot = s->image, *slotMask = s->mask, *slotAlpha = s->alpha;
    s->width = w, s->height = h;
    s->installed = true;
    fx->layerPrepared = 1;
    return 0;
}

void restoreLayer(LayerState *s)
{
    if (!s->installed && !s->detached) return;
    const bool owned = ownerOf(s->layer) != nullptr;
    if (owned) {
        dropStyleCache(s->layer);
        s->layer->borderfade = s->layer->shadowfade = s->layer->imagefade = 0;
    }
    if (s->installed && owned) {
        qxLayerData *d = s->layer->onscreen;
        if (s->xformSlot) d->xformbitmap = s->savedBitmap, d->xformmask = s->savedMask, d->xformalpha = s->savedAlpha;
        else d->bitmap = s->savedBitmap, d->mask = s->savedMask, d->alpha = s->savedAlpha;
    } else if (s->installed) {
        // The layer went (at shutdown, say) with our planes in its record;
        // what it had before is left to free.
        std::swap(s->image, s->savedBitmap), std::swap(s->mask, s->savedMask), std::swap(s->alpha, s->savedAlpha);
    }
    qxFreeBitMap(s->image);
    qxFreeMaskBitMap(s->mask);
    qxFreeAlphaBitMap(s->alpha);
    s->image = s->mask = s->alpha = nullptr;
    s->installed = s->detached = false;
}

void redrawLayer(lua_State *L, qxLayer *layer)
{
    int32_t x, y, w, h;
    qxLayerScreenRect(layer, layer->onscreen, &x, &y, &w, &h);
    qxRefreshDisplay(L, x, y, w, h, 0);
}

// Modes 3, 8 and 13 with layers on: the object becomes a hidden top layer
// that the transition then shows.
int objectAsLayer(qxTransitionFX *fx, qxBGPic *b)
{
    qxObjectStyle style = qxStyleTemplate;
    style.insertpos = 0, style.hidden = 1, style.name[0] = 0;
    qxTransformOptions options = qxTransformTemplate;
    int32_t x = fx->x, y = fx->y, w = 0, h = 0;
    int e = 0;
    if (fx->mode == QX_FXMODE_BRUSH) {
        qxBrush *brush = nullptr;
        if ((e = qxFindBrush(fx->L, fx->object, &brush, 0))) return e;
        w = int32_t(brush->width), h = int32_t(brush->height);
        qxFXPlaceObject(w, h, &x, &y);
        fx->inUse = &brush->locked, ++brush->locked;
        e = qxAddImageLayer(fx->L, QX_TYPE_BRUSH, fx->object, 0, 0, x, y, w, h, &options, &style, nullptr, nullptr,
                            nullptr, -1, QX_AL_HIDDEN);
    } else if (fx->mode == QX_FXMODE_TEXTOBJECT) {
        qxTextObject *t = nullptr;
        if ((e = qxFindTextObject(fx->L, fx->object.number, fx->object.automatic, 0, &t))) return e;
        if (!t->image) return ERR_BITMAP;
        w = t->width, h = t->height;
        qxFXPlaceObject(w, h, &x, &y);
        x += t->originX, y += t->originY;
        fx->inUse = &t->locked, ++t->locked;
        // The layer owns copies, so the object stays free to change.
        qxBitMap *nb = nullptr, *nm = nullptr, *na = nullptr;
        if ((e = qxCopyImageRect(t->image, t->mask, t->alpha, 0, 0, w, h, 0, 0, 0, 0, &nb, t->mask ? &nm : nullptr,
                                 t->alpha ? &na : nullptr)))
            return e;
        e = qxAddImageLayer(fx->L, QX_TYPE_TEXTOBJECT, fx->object, 0, 0, x, y, w, h, &options, &style, nb, nm, na, -1,
                            QX_AL_HIDDEN);
    } else {
        qxBGPic *part = nullptr;
        if ((e = qxFindBGPic(fx->L, fx->object, &part, 0))) return e;
        w = fx->width, h = fx->height;
        if (w < 1 || h < 1 || fx->srcX < 0 || fx->srcY < 0 || fx->srcX > part->width - w ||
            fx->srcY > part->height - h)
            return ERR_WRONGUSAGE;
        qxFXPlaceObject(w, h, &x, &y);
        fx->inUse = &part->locked, ++part->locked;
        e = qxAddImageLayer(fx->L, QX_TYPE_BGPICPART, fx->object, fx->srcX, fx->srcY, x, y, w, h, &options, &style,
                            nullptr, nullptr, nullptr, -1, QX_AL_HIDDEN);
    }
    if (e) return e;
    fx->mode = QX_FXMODE_SHOWLAYER;
    fx->object = {uint32_t(qxCountLayers(b)), nullptr};
    stateFor(fx)->added = true;
    return 0;
}

int objectSource(qxTransitionFX *fx)
{
    qxDisplay *d = qxCurrentDisplay;
    if (!d) return ERR_WRONGUSAGE;
    if (d->layersEnabled && d->bgpic) return objectAsLayer(fx, d->bgpic);
    if (fx->mode != QX_FXMODE_TEXTOBJECT) return gPlainSource ? gPlainSource(fx) : ERR_UNSUPPORTEDFEAT;
    qxTextObject *t = nullptr;
    if (int e = qxFindTextObject(fx->L, fx->object.number, fx->object.automatic, 0, &t)) return e;
    if (!t->image) return ERR_BITMAP;
    fx->width = t->width, fx->height = t->height;
    fx->newImage = t->image, fx->newMask = t->mask, fx->newAlpha = t->alpha;
    fx->inUse = &t->locked, ++t->locked;
    qxFXPlaceObject(fx->width, fx->height, &fx->x, &fx->y);
    fx->x += t->originX, fx->y += t->originY;
    return 0;
}

int showScrollPicture(qxTransitionFX *fx, LayerState *s);

int layerSetup(qxTransitionFX *fx)
{
    qxDisplay *disp = qxCurrentDisplay;
    qxBGPic *b = disp ? disp->bgpic : nullptr;
    if (!b || !disp->layersEnabled) return ERR_NOLAYERS;
    qxLayer *layer = fx->object.automatic ? nullptr : qxGetLayerByIndex(b, int32_t(fx->object.number));
    if (!layer) return ERR_LAYERRANGE;
    for (const LayerState &s : gStates)
        if (s.layer == layer && s.fx != fx) return ERR_ALREADYASYNC;
    LayerState *s = stateFor(fx);
    s->layer = fx->layer = layer;
    // A playing video's frames keep changing the picture, so the transition
    // runs as an async draw that the command drives itself.
    if (!fx->async && layer->type == QX_LAYER_VIDEO && qxVideoLayerCalls.playing &&
        qxVideoLayerCalls.playing(layer))
        fx->async = 1, fx->selfDriven = 1;
    const qxLayerData *od = layer->onscreen;
    fx->x = od->left, fx->y = od->top, fx->width = od->dwidth, fx->height = od->dheight;
    if (fx->width < 1 || fx->height < 1) return ERR_WRONGUSAGE;
    if (fx->effect >= 47 && fx->effect <= 54) {
        // Scrolls move the layer itself, which goes back to its place at the end.
        fx->isScroll = 1, fx->realtime = 0;
        fx->x = fx->savedX = od->x, fx->y = fx->savedY = od->y;
        // The layer moves in script coordinates, which a display scaling its
        // layers multiplies on screen.
        if (const qxLayerData *sd = layer->intermediate; sd && sd != od && !fx->bgpicEmu)
            fx->x = fx->savedX = sd->x, fx->y = fx->savedY = sd->y, fx->width = sd->dwidth, fx->height = sd->dheight;
        return fx->bgpicEmu ? showScrollPicture(fx, s) : readLayerPicture(fx);
    }
    // A clipped layer shows only part of its picture: a redraw of the stack
    // keeps the clip, a plain blit of the frame would not.
    const bool styled = layer->transparency || isTransformed(layer) || layer->shadow || layer->border ||
                        layer->onscreen->clip;
    bool rt = fx->forceRealtime || fx->async || fx->bgpicEmu || styled ||
              (disp->autoScale && disp->scaledWidth && disp->scaledHeight) ||
              (fx->reverse && qxFXReverseNeedsRealtime(fx->effect)) || coveredAbove(layer);
    fx->realtime = rt && drawsIntoLayers(fx->effect);
    fx->layerTransformed = fx->realtime && (layer->shadow || isTransformed(layer) || layer->border);
    if (fx->reverse && !fx->realtime) {
        // Hide and remove bring in the area as it looks without the layer.
        qxBitMap *area = nullptr;
        if (int e = composeArea(fx, b, layer, fx->x, fx->y, fx->width, fx->height, 0, &area)) return e;
        replaceNewImage(fx, area, nullptr, nullptr);
        return 0;
    }
    if (int e = readNewPicture(fx)) return e;
    if (!fx->realtime) return 0;
    if (int e = prepareLayer(fx, s)) return e;
    // A shown layer shows where the effect starts at once (a show from
    // nothing: the layer goes, then comes in with the effect).
    if (!layer->hidden && disp->targetType == QX_OUT_DISPLAY) redrawLayer(fx->L, layer);
    return 0;
}

int layerArg(lua_State *L, int narg, int32_t *index)
{
    qxDisplay *d = qxCurrentDisplay;
    if (!d || !d->layersEnabled || !d->bgpic) return ERR_NOLAYERS;
    if (int e = qxGetLayerArg(L, narg, d->bgpic, index)) return e;
    if (*index < 1 || *index > qxCountLayers(d->bgpic)) return ERR_LAYERRANGE;
    return 0;
}

int undoLookup(lua_State *, int32_t type, qxObjectRef id, int32_t level, int32_t *index)
{
    qxDisplay *d = qxCurrentDisplay;
    qxBGPic *b = d ? d->bgpic : nullptr;
    int32_t n = qxCountLayers(b), found = 0;
    for (qxLayer *l = b ? b->layers.last : nullptr; l; l = l->previous, --n) {
        if (l->type != uint32_t(type) || l->sourceid.number != id.number || l->sourceid.automatic != id.automatic)
            continue;
        if (++found == level) {
            *index = n;
            return 0;
        }
    }
    return ERR_FINDARRAY;
}

int layerImages(qxLayer *layer, qxBitMap **image, qxBitMap **mask, qxBitMap **alpha, int32_t *width,
                int32_t *height)
{
    for (const LayerState &s : gStates) {
        if (s.layer != layer || !s.installed) continue;
        *image = s.image, *mask = s.mask, *alpha = s.alpha, *width = s.width, *height = s.height;
        return 0;
    }
    return ERR_WRONGUSAGE;
}

void layerVisible(qxLayer *layer)
{
    if (ownerOf(layer)) layer->hidden = 0, layer->queued = 0;
}

// A visible layer above that overlaps this one.
bool shownAbove(const qxLayer *layer)
{
    const qxLayerData *d = layer->onscreen;
    for (const qxLayer *l = layer->next; l; l = l->next) {
        if (l->type == QX_TYPE_NOOBJECT || l->hidden) continue;
        int32_t x, y, w, h;
        qxLayerScreenRect(l, l->onscreen, &x, &y, &w, &h);
        if (qxRectsOverlapWH(d->left, d->top, d->dwidth, d->dheight, x, y, w, h)) return true;
    }
    return false;
}

// Frames that the frame end shows whole from the work bitmap (a scaled
// window): the rectangles only go into it.
bool buildsInWork(const qxTransitionFX *fx, uint32_t flags)
{
    return fx->toBackBuffer && !(flags & 32);
}

// A frame of a plain opaque layer that nothing covers is what the layer
// bitmap holds: it goes into the work bitmap and the window as it is,
// without composing the BGPic and the layers below (which it hides
// wholly). False when the frame needs the composition.
bool showDirect(qxTransitionFX *fx, qxBitMap *bitmap, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                int32_t h, int32_t bitmapWidth, int32_t bitmapHeight, qxBitMap *mask, qxBitMap *alpha,
                uint32_t flags)
{
    qxLayer *l = fx->layer;
    const qxLayerData *d = l->onscreen;
    if ((flags & 4) || mask || alpha || !bitmap || d->clip || l->hidden || l->transparency || l->imagefade ||
        qxHasActiveFilters(&l->filters) || d->filtbitmap)
        return false;
    qxDisplay *disp = qxCurrentDisplay;
    qxBGPic *b = ownerOf(l);
    if (!disp || !b || disp->bgpic != b || b->sprites || qxLayerScaling(disp) || shownAbove(l)) return false;
    // The layer must show this very bitmap, unmasked, from its corner, at
    // the place the rectangle says.
    qxBitMap *shown = nullptr, *shownMask = nullptr, *shownAlpha = nullptr;
    int32_t ox = 0, oy = 0;
    if (qxGetLayerImage(fx->L, l, &shown, &shownMask, &shownAlpha, &ox, &oy) || shown != bitmap || shownMask ||
        shownAlpha || ox || oy || int64_t(dx) - sx != d->left || int64_t(dy) - sy != d->top)
        return false;
    qxBitMap *work = qxDisplayWorkBitmap(disp, 1);
    if (!work) return false;
    // What the composition would cover: the layer, the bitmap, the BGPic
    // and the work bitmap.
    int32_t x = dx, y = dy;
    if (!qxIntersectRect(&x, &y, &w, &h, d->left, d->top, d->dwidth, d->dheight) ||
        !qxIntersectRect(&x, &y, &w, &h, d->left, d->top, bitmapWidth, bitmapHeight) ||
        !qxIntersectRect(&x, &y, &w, &h, 0, 0, b->width, b->height) ||
        !qxIntersectRect(&x, &y, &w, &h, 0, 0, int32_t(work->width), int32_t(work->height)))
        return true;
    qxBltBitMapDirect(bitmap, x - d->left, y - d->top, work, x, y, w, h);
    if (!buildsInWork(fx, flags)) qxPutToWindow(disp, work, x, y, w, h);
    return true;
}

// A styled or transformed layer is shown through its style cache: the
// fade family fades the whole layer through its opacity; the others fade
// in its border and shadow with their progress.
void styleFade(qxTransitionFX *fx, qxLayer *l)
{
    dropStyleCache(l);
    if (fx->noBorderFade) return;
    const bool fade = qxFXIsFadeFamily(fx->effect);
    int32_t level = fade ? fx->level
                         : int32_t(fx->frames > 0 ? std::clamp<int64_t>(int64_t(255) * fx->frame / fx->frames, 0, 255)
                                                  : 255);
    if (!fade && fx->reverse) level = 255 - level;
    l->borderfade = l->shadowfade = uint32_t(std::clamp(level, 0, 255)) + 1;
    if (fade) l->imagefade = l->borderfade;
}

// A changed rectangle of a real-time layer: put straight from the layer's
// bitmap when nothing else shows there, else recomposed from the BGPic and
// every layer, so the layers above stay on top.
void showRect(qxTransitionFX *fx, qxBitMap *bitmap, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
              int32_t h, int32_t bitmapWidth, int32_t bitmapHeight, qxBitMap *mask, qxBitMap *alpha, uint32_t flags)
{
    qxLayer *l = fx->layer;
    if (!l || !ownerOf(l)) return;
    if (!(l->shadow || l->border || isTransformed(l)) &&
        showDirect(fx, bitmap, sx, sy, dx, dy, w, h, bitmapWidth, bitmapHeight, mask, alpha, flags))
        return;
    if (l->shadow || l->border || isTransformed(l)) {
        qxLayerScreenRect(l, l->onscreen, &dx, &dy, &w, &h);
        styleFade(fx, l);
    }
    if (!qxIntersectRect(&dx, &dy, &w, &h, 0, 0, fx->bgWidth, fx->bgHeight)) return;
    if (!buildsInWork(fx, flags)) {
        qxRefreshDisplay(fx->L, dx, dy, w, h, 0);
        return;
    }
    qxDisplay *disp = qxCurrentDisplay;
    qxBGPic *b = disp ? disp->bgpic : nullptr;
    qxBitMap *work = b ? qxDisplayWorkBitmap(disp, 1) : nullptr;
    if (work && qxIntersectRect(&dx, &dy, &w, &h, 0, 0, int32_t(work->width), int32_t(work->height)))
        Redraw(fx->L, disp, b, work, dx, dy, w, h, 0);
}

// op 0: a hide or remove finished; op 1: the transition is freed (shown =
// it completed); op 2: the real-time planes go; op 3: the run was cut
// short and the command runs again.
void layerEnd(qxTransitionFX *fx, int op, int shown)
{
    LayerState *s = stateOf(fx);
    if (op == 2) {
        if (s) restoreLayer(s);
        return;
    }
    if (op == 1 && s) emuBack(fx, s);
    qxLayer *layer = fx->layer;
    qxBGPic *b = ownerOf(layer);
    if (!b) {
        fx->layer = nullptr;
        if (s) restoreLayer(s);
        if (op == 1) dropState(fx);
        return;
    }
    if (op == 0) {
        if (fx->mode == QX_FXMODE_HIDELAYER || (fx->mode == QX_FXMODE_REMOVELAYER && shown)) layer->hidden = 1;
        if (fx->mode == QX_FXMODE_REMOVELAYER) {
            if (s) restoreLayer(s);
            qxRemoveLayerRecord(fx->L, b, layer, 0, nullptr);
            fx->layer = nullptr;
        }
        return;
    }
    if (op == 3 && !(s && s->added) && !(qxCurrentDisplay && qxCurrentDisplay->layerScale)) return;
    if (s) restoreLayer(s);
    if (op == 3 && s) s->cutShort = true;
    if (op == 3 || !shown || (s && s->cutShort)) {
        // An object the driver put on a layer goes again; a layer keeps
        // the visibility it had.
        if (s && s->added) {
            qxRemoveLayerRecord(fx->L, b, layer, 0, nullptr);
            fx->layer = nullptr;
            if (op == 1) dropState(fx);
            return;
        }
        layer->hidden = fx->mode == QX_FXMODE_SHOWLAYER;
    } else if (fx->mode == QX_FXMODE_SHOWLAYER) {
        layer->hidden = 0;
    }
    redrawLayer(fx->L, layer);
    if (op == 1) dropState(fx);
}

// The slots of the on-screen record that show the transition's planes.
void slotsOf(const LayerState *s, qxBitMap ***image, qxBitMap ***mask, qxBitMap ***alpha)
{
    qxLayerData *d = s->layer->onscreen;
    *image = s->xformSlot ? &d->xformbitmap : &d->bitmap;
    *mask = s->xformSlot ? &d->xformmask : &d->mask;
    *alpha = s->xformSlot ? &d->xformalpha : &d->alpha;
}

// The layer shows its own planes again; the transition keeps its own.
void detachPlanes(LayerState *s)
{
    if (!s->installed) return;
    qxBitMap **image, **mask, **alpha;
    slotsOf(s, &image, &mask, &alpha);
    *image = s->savedBitmap, *mask = s->savedMask, *alpha = s->savedAlpha;
    s->installed = false, s->detached = true;
}

void attachPlanes(LayerState *s)
{
    s->xformSlot = s->layer->onscreen->xformbitmap != nullptr;
    qxBitMap **image, **mask, **alpha;
    slotsOf(s, &image, &mask, &alpha);
    s->savedBitmap = *image, s->savedMask = *mask, s->savedAlpha = *alpha;
    *image = s->image, *mask = s->mask, *alpha = s->alpha;
    s->installed = true, s->detached = false;
}

// A scroll on an emulated BGPic moves its layer showing that BGPic as
// composed: the layer shows a copy of the transition's new picture, read
// at the layer's current size (the step copies what it redraws). The move
// keeps its own position.
int showScrollPicture(qxTransitionFX *fx, LayerState *s)
{
    restoreLayer(s);
    const qxLayerData *od = fx->layer->onscreen;
    fx->width = od->dwidth, fx->height = od->dheight;
    if (fx->width < 1 || fx->height < 1) return ERR_WRONGUSAGE;
    if (int e = readNewPicture(fx)) return e;
    fx->tempW = fx->width, fx->tempH = fx->height;
    s->image = qxAllocBitMap(uint32_t(fx->width), uint32_t(fx->height), 0, nullptr);
    if (!s->image) return ERR_BITMAP;
    qxBltBitMapDirect(fx->newImage, 0, 0, s->image, 0, 0, fx->width, fx->height);
    s->width = fx->width, s->height = fx->height;
    attachPlanes(s);
    fx->layerPrepared = 1;
    return 0;
}

// A scroll moves the layer itself, so a restyle shows in its next frame by
// itself. On an emulated BGPic the transition's picture is let go before
// the layer changes (op 1 while it is shown) and read anew after.
intptr_t scrollChanged(qxTransitionFX *fx, int op, qxLayer *layer)
{
    LayerState *s = stateOf(fx);
    if (!layer || layer != fx->layer) return 0;
    if (op == 1 && s && s->installed) {
        detachPlanes(s);
        return 0;
    }
    if (op == 0) {
        if (s) detachPlanes(s);
        if (!qxFXScrollFollowLayer(fx, layer)) return 0;
        if (s) s->layer = fx->layer;
    }
    if (!s || !s->detached || !fx->bgpicEmu) return 0;
    const int e = showScrollPicture(fx, s);
    if (!e) redrawLayer(fx->L, fx->layer);
    return e;
}

// After the layer's picture changed (or the layer was replaced): its
// picture is read again; at the same size the transition's planes go back
// and the current frame is rebuilt over the new picture, at another size
// they and the renderer are made again and the frame mapped onto the new
// count.
int reattach(qxTransitionFX *fx, LayerState *s)
{
    const qxLayerData *od = fx->layer->onscreen;
    fx->x = od->left, fx->y = od->top, fx->width = od->dwidth, fx->height = od->dheight;
    if (fx->width < 1 || fx->height < 1) return ERR_WRONGUSAGE;
    if (int e = readNewPicture(fx)) return e;
    int e = 0;
    if (fx->width == s->width && fx->height == s->height) {
        attachPlanes(s);
        if (fx->frame >= 1) e = qxFXSeek(fx, fx->frame, 0);
    } else {
        restoreLayer(s);
        qxFreeMaskBitMap(fx->workMask);
        qxFreeAlphaBitMap(fx->workAlpha);
        fx->workMask = nullptr, fx->workAlpha = nullptr;
        if ((e = prepareLayer(fx, s)) || (e = qxFXAllocWorkPlanes(fx))) return e;
        if (fx->oldImage) {
            qxBitMap *area = nullptr;
            if ((e = composeArea(fx, qxCurrentDisplay ? qxCurrentDisplay->bgpic : nullptr, fx->layer, fx->x, fx->y,
                                 fx->width, fx->height, 0, &area)))
                return e;
            qxFreeBitMap(fx->oldImage);
            fx->oldImage = area;
        }
        e = qxFXRestart(fx);
    }
    return e;
}

// Async-draw ops 0 and 1. The layer engine calls op 1 before and after it
// changes the layer's picture: before, the layer gets its own planes back
// (the engine may free or rebuild them); after, the transition reattaches.
// Op 0 comes once the replacing record, standing just below, is complete.
intptr_t layerChanged(qxTransitionFX *fx, int op, qxLayer *layer)
{
    LayerState *s = stateOf(fx);
    if (!layer || layer != fx->layer || !s) return 0;
    if (op == 1 && s->installed) {
        detachPlanes(s);
        return 0;
    }
    if (op == 0) {
        detachPlanes(s);
        if (!layer->previous) return 0;
        fx->layer = s->layer = layer->previous;
    }
    if (!fx->realtime) {
        // The transition draws from its own copies; only a pending reattach is dropped.
        s->detached = false;
        return 0;
    }
    if (!s->detached && op == 1) return 0;
    const int e = reattach(fx, s);
    if (!e) redrawLayer(fx->L, fx->layer);
    return e;
}

// Around the callbacks between synchronous frames (before: the layer gets
// its own planes back; after: 1081 when it went, else the transition takes
// it up again, reading its picture anew when something changed).
intptr_t holdAcrossCallbacks(qxTransitionFX *fx, bool before, bool changed)
{
    LayerState *s = stateOf(fx);
    if (before || !s || !s->detached) {
        if (before && s) detachPlanes(s);
        return 0;
    }
    if (!ownerOf(fx->layer)) return ERR_LAYERRANGE;
    const qxLayerData *od = fx->layer->onscreen;
    if (!changed && od->dwidth == s->width && od->dheight == s->height) {
        attachPlanes(s);
        return 0;
    }
    const int e = fx->isScroll ? showScrollPicture(fx, s) : reattach(fx, s);
    if (!e) redrawLayer(fx->L, fx->layer);
    return e;
}

intptr_t layerMethod(qxTransitionFX *fx, int op, void *argument)
{
    if ((op == 0 || op == 1) && fx->isScroll) return scrollChanged(fx, op, static_cast<qxLayer *>(argument));
    if (op == 0 || op == 1) return layerChanged(fx, op, static_cast<qxLayer *>(argument));
    if (op == -2 || op == -3) return holdAcrossCallbacks(fx, op == -2, argument != nullptr);
    if (!fx->layer || !ownerOf(fx->layer)) return 0;
    if (op == -1) {
        fx->x = fx->layer->onscreen->left, fx->y = fx->layer->onscreen->top;
    } else if (op == 5) {
        // A seek shows its frame through here, not through showRect: a
        // styled or transformed layer (scaled ones too) takes the frame's
        // opacity first.
        qxLayer *l = fx->layer;
        if (fx->realtime && fx->layerPrepared && (l->shadow || l->border || isTransformed(l))) styleFade(fx, l);
        redrawLayer(fx->L, fx->layer);
    }
    return 0;
}

} // namespace

int qxFXEmuAtDisplaySize(qxTransitionFX *fx)
{
    return emuAtDisplaySize(fx, stateFor(fx));
}

void qxLinkFXLayers(void)
{
    if (qxFXHook.objectSource != objectSource) gPlainSource = qxFXHook.objectSource;
    qxFXHook.objectSource = objectSource;
    qxFXHook.layerSetup = layerSetup;
    qxFXHook.layerArg = layerArg;
    qxFXHook.undoLookup = undoLookup;
    qxFXHook.layerImages = layerImages;
    qxFXHook.layerVisible = layerVisible;
    qxFXHook.showRect = showRect;
    qxFXHook.layerEnd = layerEnd;
    qxFXHook.layerMethod = layerMethod;
}
