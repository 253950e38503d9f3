// Sprite records, the on-screen lists and the display rule.
#include "layers/qx_sprite.h"

#include <algorithm>
#include <cstdlib>

#include "display/qx_bgpic.h"
#include "display/qx_bitmap.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapplanes.h"
#include "display/qx_clipregion.h"
#include "display/qx_display.h"
#include "display/qx_displaylibs.h"
#include "core/vm/lua.h"
#include "display/qx_planesources.h"
#include "display/qx_positions.h"
#include "imaging/qx_blit.h"
#include "layers/qx_layer.h"
#include "objects/formats/qx_animformats.h"
#include "objects/qx_output.h"
#include "platform/qx_errcodes.h"

extern "C" {
qxSprite *qxSprites;
qxTextObjectHooks qxTextObjects;
}

namespace {

bool sameRef(const qxObjectRef &a, const qxObjectRef &b)
{
    return a.automatic ? a.automatic == b.automatic : (!b.automatic && a.number == b.number);
}

qxSpriteOnScreen *&listOf(qxBGPic *b) { return *reinterpret_cast<qxSpriteOnScreen **>(&b->sprites); }

qxBGPic *currentBGPic() { return qxCurrentDisplay ? qxCurrentDisplay->bgpic : nullptr; }

// What lies below the sprites: a copy of what the display showed when the
// first sprite went on screen, so earlier drawing survives under them.
void keepBackground(qxDisplay *d, qxBGPic *b)
{
    if (!d || d->bgpic != b || qxLayerBackground(d, b) != b->bitmap) return;
    qxBitMap *shown = qxDisplayWorkBitmap(d, 1);
    if (!shown) return;
    qxBitMap *bg = qxAllocBitMap(uint32_t(b->width), uint32_t(b->height), 0, nullptr);
    if (!bg) return;
    qxBltBitMapDirect(shown, 0, 0, bg, 0, 0, b->width, b->height);
    qxSetLayerBackground(d, b, bg);
}

void dropBackground(qxBGPic *b)
{
    qxDisplay *d = qxCurrentDisplay;
    if (d && d->bgpic == b && !b->sprites && !d->layersEnabled && !b->layers.count)
        qxSetLayerBackground(d, b, nullptr);
}

void redrawRect(lua_State *L, qxBGPic *b, int32_t x, int32_t y, int32_t w, int32_t h)
{
    if (qxCurrentDisplay && qxCurrentDisplay->bgpic == b) qxRefreshDisplay(L, x, y, w, h, 0);
}

void freeFrames(qxSprite *s)
{
    for (int32_t i = 0; i < s->frameCount; i++) {
        if (s->bitmaps && s->bitmaps[i]) qxFreeBitMap(s->bitmaps[i]);
        if (s->masks && s->masks[i]) qxFreeMaskBitMap(s->masks[i]);
        if (s->alphas && s->alphas[i]) qxFreeAlphaBitMap(s->alphas[i]);
        if (s->pixels && s->pixels[i]) std::free(s->pixels[i]);
    }
    std::free(s->bitmaps), std::free(s->masks), std::free(s->alphas), std::free(s->pixels);
    s->bitmaps = s->masks = s->alphas = nullptr;
    s->pixels = nullptr;
}

bool borrowsFrom(const qxSprite *link, const qxSprite *s)
{
    for (qxSprite **p = link->borrowed; p && *p; p++)
        if (*p == s) return true;
    return false;
}

// Takes the entry out of whichever BGPic shows it; returns that BGPic.
qxBGPic *unlinkEntry(qxSpriteOnScreen *e)
{
    for (qxBGPic *b = qxBGPics; b; b = b->next)
        for (qxSpriteOnScreen **p = &listOf(b); *p; p = &(*p)->next)
            if (*p == e) {
                *p = e->next;
                return b;
            }
    return nullptr;
}

qxSpriteOnScreen *entryOf(const qxSprite *s, qxBGPic **where)
{
    for (qxBGPic *b = qxBGPics; b; b = b->next)
        for (qxSpriteOnScreen *e = listOf(b); e; e = e->next)
            if (e->owner == s) {
                if (where) *where = b;
                return e;
            }
    return nullptr;
}

} // namespace

extern "C" {

int qxFindSprite(qxObjectRef ref, qxSprite **out, uint32_t flags)
{
    for (qxSprite *s = qxSprites; s; s = s->next) {
        if (!sameRef(ref, qxObjectRef{s->id, s->automatic})) continue;
        if (s->internal && !(flags & 2)) continue;
        if ((flags & 1) && s->locked) return ERR_LOCKEDOBJ;
        *out = s;
        return 0;
    }
    if (ref.automatic) return ERR_FINDARRAY;
    qxSetErrorNumber(int(ref.number));
    return ERR_FINDSPRITE;
}

int qxFindDisplayedSprite(qxObjectRef ref, qxSpriteOnScreen **out, int32_t *index)
{
    qxBGPic *b = currentBGPic();
    int32_t i = 1;
    for (qxSpriteOnScreen *e = b ? listOf(b) : nullptr; e; e = e->next, i++)
        if (!e->video && sameRef(ref, e->id)) {
            *out = e;
            if (index) *index = i;
            return 0;
        }
    if (ref.automatic) return ERR_SPRITEONSCREEN2;
    qxSetErrorNumber(int(ref.number));
    return ERR_SPRITEONSCREEN;
}

int qxAddSprite(qxObjectRef *ref, int32_t width, int32_t height, qxAnimReader *reader, uint32_t **pixels,
                qxBitMap **bitmaps, qxBitMap **masks, qxBitMap **alphas, int32_t frameCount,
                uint32_t transparentColour, qxSprite **borrowed, qxSprite **out)
{
    auto *s = static_cast<qxSprite *>(std::calloc(1, sizeof(qxSprite)));
    if (!s) return ERR_MEM;
    s->type = QX_TYPE_SPRITE;
    s->id = ref->number;
    if (ref->automatic) ref->automatic = s->automatic = s;
    s->width = width, s->height = height, s->frameCount = frameCount;
    s->reader = reader, s->pixels = pixels, s->bitmaps = bitmaps, s->masks = masks, s->alphas = alphas;
    s->transparentColour = transparentColour, s->borrowed = borrowed;
    qxSprite **tail = &qxSprites;
    while (*tail) tail = &(*tail)->next;
    *tail = s;
    if (out) *out = s;
    return 0;
}

int qxAddDisplayedSprite(qxBGPic *b, int32_t x, int32_t y, int32_t width, int32_t height, int32_t frame,
                         qxSprite *owner, uint32_t video, void *clip, qxObjectRef id, qxSpriteOnScreen **out)
{
    auto *e = static_cast<qxSpriteOnScreen *>(std::calloc(1, sizeof(qxSpriteOnScreen)));
    if (!e) return ERR_MEM;
    *e = {nullptr, id, x, y, width, height, frame ? frame : 1, owner, video, clip};
    if (!b->sprites) keepBackground(qxCurrentDisplay, b);
    qxSpriteOnScreen **p = &listOf(b);
    while (*p && !(owner && (*p)->video)) p = &(*p)->next;
    e->next = *p;
    *p = e;
    if (out) *out = e;
    return 0;
}

int qxGetSpriteFrame(qxSprite *s, int32_t frame, qxBitMap **bitmap, qxBitMap **mask, qxBitMap **alpha)
{
    if (frame < 0 || frame >= s->frameCount) return ERR_ANIMFRAME;
    for (qxSprite **p = s->borrowed; p && *p; p++) {
        if (frame < (*p)->frameCount) return qxGetSpriteFrame(*p, frame, bitmap, mask, alpha);
        frame -= (*p)->frameCount;
    }
    if (!s->bitmaps || !s->bitmaps[frame]) return ERR_BITMAP;
    *bitmap = s->bitmaps[frame];
    if (mask) *mask = s->masks ? s->masks[frame] : nullptr;
    if (alpha) *alpha = s->alphas ? s->alphas[frame] : nullptr;
    return 0;
}

int32_t qxCountDisplayedSprites(const qxBGPic *b)
{
    int32_t n = 0;
    for (auto *e = b ? static_cast<const qxSpriteOnScreen *>(b->sprites) : nullptr; e; e = e->next) n += !e->video;
    return n;
}

int qxSpriteCoversPoint(qxBGPic *b, int32_t x, int32_t y)
{
    for (const qxSpriteOnScreen *e = b ? listOf(b) : nullptr; e; e = e->next) {
        if (!e->owner || x < e->x || y < e->y || int64_t(x) >= int64_t(e->x) + e->width ||
            int64_t(y) >= int64_t(e->y) + e->height)
            continue;
        qxBitMap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
        if (qxGetSpriteFrame(e->owner, e->frame - 1, &bitmap, &mask, &alpha)) continue;
        const int32_t px = x - e->x, py = y - e->y;
        const qxPlane m = qxPlaneOf(mask), a = qxPlaneOf(alpha);
        if (m.bytes) {
            if (px < m.width && py < m.height && qxMaskBit(m.bytes + int64_t(py) * m.bytesPerRow, px)) return 1;
        } else if (a.bytes) {
            if (px < a.width && py < a.height && a.bytes[int64_t(py) * a.bytesPerRow + px]) return 1;
        } else {
            return 1;
        }
    }
    return 0;
}

void qxFreeDisplaySpriteList(qxBGPic *b)
{
    for (qxSpriteOnScreen *e = listOf(b), *n; e; e = n) {
        n = e->next;
        std::free(e);
    }
    b->sprites = nullptr;
}

void qxClearDisplayedSprites(lua_State *L, qxBGPic *b, int redraw)
{
    for (qxSpriteOnScreen **p = &listOf(b); *p;) {
        qxSpriteOnScreen *e = *p;
        if (e->video) {
            p = &e->next;
            continue;
        }
        *p = e->next;
        if (redraw) redrawRect(L, b, e->x, e->y, e->width, e->height);
        std::free(e);
    }
}

void qxRebuildSpriteMasks(void)
{
    for (qxSprite *s = qxSprites; s; s = s->next) {
        if (!s->pixels) continue;
        bool ok = true;
        for (int32_t i = 0; i < s->frameCount; i++) {
            if (!s->pixels[i] || s->bitmaps[i]) continue;
            qxBitMap *m = nullptr;
            if (qxBitMapFromARGB(s->pixels[i], s->transparentColour, s->width, s->height, s->width, 0, 0, nullptr,
                                 &s->bitmaps[i], s->masks ? &m : nullptr, nullptr)) {
                ok = false;
                continue;
            }
            if (s->masks) s->masks[i] = m;
        }
        if (!ok) continue; // kept for the next display
        for (int32_t i = 0; i < s->frameCount; i++) std::free(s->pixels[i]);
        std::free(s->pixels);
        s->pixels = nullptr;
        if (s->reader) qxCloseAnimReader(s->reader), s->reader = nullptr;
    }
}

void qxLockSprite(qxSprite *s, int delta)
{
    s->locked += delta;
    for (qxSprite **p = s->borrowed; p && *p; p++) (*p)->locked += delta;
}

int qxFreeSpriteRecord(lua_State *L, qxSprite *s)
{
    if (s->locked) return ERR_LOCKEDOBJ;
    // Links borrowing these frames go first.
    if (!s->borrowed)
        for (qxSprite *o = qxSprites; o; o = o->next)
            if (o != s && borrowsFrom(o, s) && o->locked) return ERR_LOCKEDOBJ;
    for (qxSprite **p = &qxSprites; *p; p = &(*p)->next)
        if (*p == s) {
            *p = s->next;
            break;
        }
    qxBGPic *b = nullptr;
    if (qxSpriteOnScreen *e = entryOf(s, &b)) {
        unlinkEntry(e);
        redrawRect(L, b, e->x, e->y, e->width, e->height);
        std::free(e);
        dropBackground(b);
    }
    if (!s->borrowed)
        for (qxSprite *o = qxSprites, *n; o; o = n) {
            n = o->next;
            if (borrowsFrom(o, s)) {
                qxFreeSpriteRecord(L, o);
                n = qxSprites; // the list changed
            }
        }
    freeFrames(s);
    if (s->reader) qxCloseAnimReader(s->reader);
    std::free(s->borrowed);
    if (L) qxFreeRefList(L, &s->data);
    std::free(s);
    return 0;
}

int qxCheckSpriteOutput(void)
{
    qxDisplay *d = qxCurrentDisplay;
    if (!d || !d->bgpic) return ERR_WRONGUSAGE;
    switch (d->targetType) {
    case QX_OUT_BRUSH:
        if (d->doubleBuffer) return ERR_ENDDOUBLEBUFFER;
        if (qxOutputState *s = qxOutputOf(d, 0); s && s->record.selectedType == QX_OUT_ANIM) return ERR_SELECTANIM;
        return ERR_SELECTBRUSH;
    case QX_OUT_ANIM: return ERR_SELECTANIM;
    case QX_OUT_BGPIC: return ERR_SELECTBG;
    case QX_OUT_MASK: return ERR_SELECTMASK;
    case QX_OUT_ALPHA: return ERR_SELECTALPHACHANNEL;
    default: break;
    }
    if (d->layersEnabled || d->bgpic->layers.count) return ERR_LAYERSOFF;
    return 0;
}

int qxShowSprite(lua_State *L, qxSprite *s, qxObjectRef ref, int32_t x, int32_t y, int32_t frame)
{
    qxBGPic *b = currentBGPic();
    if (!b) return ERR_WRONGUSAGE;
    if (frame < 0 || frame > s->frameCount) return ERR_ANIMFRAME;
    x = qxResolvePosX(x, s->width, b->width, 0);
    y = qxResolvePosY(y, s->height, b->height, 0);
    qxSpriteOnScreen *e = nullptr;
    if (qxFindDisplayedSprite(ref, &e, nullptr)) {
        qxDisplay *d = qxCurrentDisplay;
        if (int r = qxAddDisplayedSprite(b, x, y, s->width, s->height, frame, s, 0, d ? d->clipRegion : nullptr, ref,
                                         &e))
            return r;
        redrawRect(L, b, x, y, s->width, s->height);
        return 0;
    }
    const int32_t next = frame ? frame : (e->frame >= s->frameCount ? 1 : e->frame + 1);
    if (next == e->frame && x == e->x && y == e->y) return 0;
    const int32_t ox = e->x, oy = e->y, ow = e->width, oh = e->height;
    e->x = x, e->y = y, e->frame = next, e->width = s->width, e->height = s->height;
    if (qxRectsOverlapWH(ox, oy, ow, oh, x, y, s->width, s->height)) {
        int32_t ux = ox, uy = oy, uw = ow, uh = oh;
        qxUnionRect(&ux, &uy, &uw, &uh, x, y, s->width, s->height);
        redrawRect(L, b, ux, uy, uw, uh);
    } else {
        redrawRect(L, b, ox, oy, ow, oh);
    }
    redrawRect(L, b, x, y, s->width, s->height);
    return 0;
}

void qxDrawSprites(const qxBGPic *b, qxBitMap *dest, int32_t x, int32_t y, int32_t w, int32_t h)
{
    for (auto *e = static_cast<const qxSpriteOnScreen *>(b->sprites); e; e = e->next) {
        if (!e->owner) continue; // videos draw themselves
        int32_t ix = e->x, iy = e->y, iw = e->width, ih = e->height;
        if (!qxIntersectRect(&ix, &iy, &iw, &ih, x, y, w, h)) continue;
        if (!qxIntersectRect(&ix, &iy, &iw, &ih, 0, 0, int32_t(dest->width), int32_t(dest->height))) continue;
        // A sprite stays inside the clip region it was shown under.
        const auto *clip = static_cast<const qxClipRegion *>(e->clip);
        if (clip && !qxIntersectRect(&ix, &iy, &iw, &ih, clip->x, clip->y, clip->width, clip->height)) continue;
        qxBitMap *bm = nullptr, *mask = nullptr, *alpha = nullptr;
        if (qxGetSpriteFrame(e->owner, e->frame - 1, &bm, &mask, &alpha)) continue;
        const int32_t sx = ix - e->x, sy = iy - e->y;
        std::vector<uint8_t> under;
        if (clip && clip->mask) qxClipMaskPass(dest, clip, ix, iy, iw, ih, under, false);
        if (mask) qxBltBitMapMasked(bm, sx, sy, dest, ix, iy, iw, ih, mask);
        else if (alpha) qxBltBitMapThroughAlpha(bm, sx, sy, dest, ix, iy, iw, ih, alpha);
        else qxBltBitMapDirect(bm, sx, sy, dest, ix, iy, iw, ih);
        if (clip && clip->mask) qxClipMaskPass(dest, clip, ix, iy, iw, ih, under, true);
    }
}

} // extern "C"

namespace {

int spriteOverlap(int32_t x, int32_t y, int32_t w, int32_t h)
{
    qxBGPic *b = currentBGPic();
    for (auto *e = b ? listOf(b) : nullptr; e; e = e->next)
        if (qxRectsOverlapWH(x, y, w, h, e->x, e->y, e->width, e->height)) return 1;
    return 0;
}

void freeSpriteList(lua_State *, qxBGPic *b) { qxFreeDisplaySpriteList(b); }

// The display's own view, wrapped below.
int (*gDisplayView)(qxBitMap *target, void *clipRegion, qxSafeBltView *view);

// While sprites are shown, drawing goes into their background (the first
// work bitmap) and the shown picture (the second) is composed again from
// it with the sprites on top: what the script draws stays under them and
// survives their next move.
int spriteView(qxBitMap *target, void *clipRegion, qxSafeBltView *v)
{
    if (!gDisplayView || !gDisplayView(target, clipRegion, v)) return 0;
    qxDisplay *d = qxCurrentDisplay;
    qxBGPic *b = currentBGPic();
    if (!b || !b->sprites || d->layersEnabled || v->outputType != QX_OUT_DISPLAY || !v->work1) return 1;
    qxBitMap *bg = qxLayerBackground(d, b);
    if (!bg || bg == b->bitmap || bg == v->work1) return 1;
    v->work2 = v->work1, v->work1 = bg;
    return 1;
}

void redrawInto(lua_State *L, qxBitMap *into, int32_t x, int32_t y, int32_t w, int32_t h, int withSprites)
{
    qxDisplay *d = qxCurrentDisplay;
    if (!d || !d->bgpic || !into) return;
    if (!qxIntersectRect(&x, &y, &w, &h, 0, 0, int32_t(into->width), int32_t(into->height))) return;
    uint32_t flags = withSprites ? 0u : uint32_t(QX_RD_NOSPRITES);
    // A picture of the BGPic's own size wants it as the script sees it,
    // also on a display that composes at its scaled size.
    if (qxLayerScaling(d) && into->width == uint32_t(d->bgpic->width) && into->height == uint32_t(d->bgpic->height))
        flags |= QX_RD_SCRIPTSIZE;
    Redraw(L, d, d->bgpic, into, x, y, w, h, flags);
}

// GetAttribute of #SPRITE; position, frame and z position come from the
// sprite on screen.
int spriteAttribute(lua_State *L, void *object, int attribute)
{
    const auto *s = static_cast<const qxSprite *>(object);
    qxSpriteOnScreen *e = nullptr;
    int32_t index = 0;
    const int shown = qxFindDisplayedSprite({s->id, s->automatic}, &e, &index);
    double v = 0;
    switch (attribute) {
    case 0: v = s->width; break;
    case 1: v = s->height; break;
    case 5: v = s->transparentColour == 0xFFFFFFFFu ? -1.0 : double(s->transparentColour); break;
    case 11: v = s->frameCount; break;
    case 16:
    case 17: {
        qxBitMap *bm = nullptr, *mask = nullptr, *alpha = nullptr;
        qxGetSpriteFrame(const_cast<qxSprite *>(s), 0, &bm, &mask, &alpha);
        v = attribute == 16 ? mask != nullptr : alpha != nullptr;
        break;
    }
    case 23: v = shown == 0; break;
    case 7:
    case 8:
    case 12:
    case 74:
        if (shown) return -shown;
        v = attribute == 7 ? e->x : attribute == 8 ? e->y : attribute == 12 ? e->frame : index;
        break;
    default: return -ERR_UNKNOWNATTR;
    }
    lua_pushnumber(L, v);
    return 1;
}

int spritePointerImage(lua_State *, qxObjectRef ref, double frame, qxBitMap **bitmap, qxBitMap **mask,
                       qxBitMap **alpha, uint32_t *width, uint32_t *height)
{
    qxSprite *s = nullptr;
    if (int r = qxFindSprite(ref, &s, 0)) return r;
    if (!(frame >= 1 && frame <= s->frameCount)) return ERR_ANIMFRAME;
    if (int r = qxGetSpriteFrame(s, int32_t(frame) - 1, bitmap, mask, alpha)) return r;
    *width = uint32_t(s->width), *height = uint32_t(s->height);
    return 0;
}

} // namespace

extern "C" void qxLinkSprites(void)
{
    qxBitMapDisplay.spriteOverlap = spriteOverlap;
    if (!qxBitMapDisplay.redraw) qxBitMapDisplay.redraw = redrawInto;
    if (qxBitMapDisplay.currentView != spriteView) {
        gDisplayView = qxBitMapDisplay.currentView;
        qxBitMapDisplay.currentView = spriteView;
    }
    qxLayerQueries.freeSpriteList = freeSpriteList;
    qxLayerQueries.countDisplayedSprites = [](const qxBGPic *b) { return int(qxCountDisplayedSprites(b)); };
    qxObjectAttributes[QX_TYPE_SPRITE] = spriteAttribute;
    qxPlaneSources.sprite = spritePointerImage;
}
