// Output redirection into brushes, masks, alpha channels, anim frames,
// layers and BGPics, and EndSelect.
#include "objects/qx_selection.h"

#include <initializer_list>

#include "core/commands/qx_args.h"
#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapscale.h"
#include "display/qx_display.h"
#include "display/qx_displaylibs.h"
#include "objects/qx_brush.h"
#include "objects/qx_brushimage.h"
#include "objects/qx_bgpicobj.h"
#include "objects/qx_objectuse.h"
#include "objects/qx_output.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_hooks.h"

namespace {

int noAnim(lua_State *, qxObjectRef ref, uint32_t, int, qxBitMap **, qxBitMap **, qxBitMap **, int32_t *, int32_t *)
{
    if (ref.automatic) return ERR_FINDARRAY;
    qxSetErrorNumber(int(ref.number));
    return ERR_FINDANIM;
}

int noLayer(lua_State *, qxObjectRef, uint32_t, int, qxBitMap **, qxBitMap **, qxBitMap **, int32_t *, int32_t *)
{
    return ERR_LAYERRANGE;
}

bool sameRef(qxObjectRef a, qxObjectRef b) { return a.number == b.number && a.automatic == b.automatic; }

// The selected object's planes for modification.
struct Planes {
    qxBitMap *bitmap = nullptr, *mask = nullptr, *alpha = nullptr;
    int32_t width = 0, height = 0;
    uint32_t hardware = 0;
};

// A BGPic is drawn into through its base planes; EndSelect then rebuilds
// the working and current planes from them.
int findBGPicPlanes(lua_State *L, qxObjectRef ref, Planes *p, qxBGPic **out, uint32_t flags = 0)
{
    qxBGPic *b = nullptr;
    if (int r = qxFindBGPic(L, ref, &b, flags)) return r;
    p->bitmap = b->baseBitmap, p->mask = b->baseMask, p->alpha = b->baseAlpha;
    p->width = b->baseWidth, p->height = b->baseHeight;
    if (out) *out = b;
    return 0;
}

// Drops a base mask or alpha plane and every working or current pointer
// that shared it.
void dropBasePlane(qxBGPic *b, bool alpha)
{
    qxBitMap *old = alpha ? b->baseAlpha : b->baseMask;
    if (!old) return;
    for (qxBitMap **p : {alpha ? &b->alpha : &b->mask, alpha ? &b->curAlpha : &b->curMask})
        if (*p == old) *p = nullptr;
    if (alpha) qxFreeAlphaBitMap(old), b->baseAlpha = nullptr;
    else qxFreeMaskBitMap(old), b->baseMask = nullptr;
}

// Working and current planes made again from the drawn base planes.
int rebuildBGPicPlanes(qxBGPic *b)
{
    const int32_t ww = b->width, wh = b->height, cw = b->curWidth, ch = b->curHeight;
    qxBitMap *planes[2][3] = {};
    const int32_t sizes[2][2] = {{ww, wh}, {cw, ch}};
    for (int k = 0; k < 2; ++k) {
        if (sizes[k][0] == b->baseWidth && sizes[k][1] == b->baseHeight) continue;
        if (k == 1 && cw == ww && ch == wh) continue;
        if (int r = qxScalePixels(b->baseBitmap, b->baseMask, b->baseAlpha, 0, 0, nullptr, b->baseWidth,
                                  b->baseHeight, sizes[k][0], sizes[k][1], 0, 0, &planes[k][0],
                                  b->baseMask ? &planes[k][1] : nullptr, b->baseAlpha ? &planes[k][2] : nullptr)) {
            for (auto &set : planes) qxFreeBitMap(set[0]), qxFreeMaskBitMap(set[1]), qxFreeAlphaBitMap(set[2]);
            return r;
        }
    }
    qxFreeBGPicWorkBitmaps(b);
    if (planes[0][0]) {
        b->bitmap = planes[0][0], b->mask = planes[0][1], b->alpha = planes[0][2];
        b->width = ww, b->height = wh;
    }
    if (planes[1][0]) {
        b->curBitmap = planes[1][0], b->curMask = planes[1][1], b->curAlpha = planes[1][2];
    } else {
        b->curBitmap = b->bitmap, b->curMask = b->mask, b->curAlpha = b->alpha;
    }
    b->curWidth = cw, b->curHeight = ch;
    return 0;
}

} // namespace

extern "C" {

qxSelectionHooks qxSelectionHook = {noAnim, noLayer, nullptr, nullptr, nullptr};

int qxOutputIsBrush(const qxDisplay *d, qxObjectRef ref)
{
    return d && d == qxCurrentDisplay && qxIsCurrentOutputObject(QX_TYPE_BRUSH, ref);
}

int qxIsSelectedObject(uint32_t type, qxObjectRef ref)
{
    if (qxIsCurrentOutputObject(type, ref)) return 1;
    // A selection made while double buffering outlives a switch to another display.
    for (qxDisplay *d = qxDisplays; d; d = static_cast<qxDisplay *>(d->header.next)) {
        const qxOutputState *s = d == qxCurrentDisplay ? nullptr : qxOutputOf(d, 0);
        if (s && (d->targetType == QX_OUT_BRUSH || d->targetType == QX_OUT_MASK || d->targetType == QX_OUT_ALPHA) &&
            s->record.selectedType == type && sameRef(s->record.selectedRef, ref))
            return 1;
    }
    return 0;
}

qxBGPic *qxKeptOutputRecord(qxDisplay *d)
{
    qxOutputState *s = qxOutputOf(d, 0);
    return s && (d->doubleBuffer || s->nested) ? &s->record : nullptr;
}

int qxSelectTarget(lua_State *L, uint32_t type, qxObjectRef ref, uint32_t target, uint32_t frame, uint32_t mode,
                   uint32_t combo)
{
    qxDisplay *d = qxCurrentDisplay;
    if (!d) return ERR_WRONGUSAGE;
    qxOutputState *s = qxOutputOf(d, 0);
    // 1.
    if (s && d->targetType == target && qxCurrentOutput == &s->record && s->record.selectedType == type &&
        sameRef(s->record.selectedRef, ref) && s->record.selectedFrame == frame)
        return 0;
    if (type != QX_OUT_BGPIC && type != QX_OUT_BRUSH && type != QX_OUT_ANIM && type != QX_OUT_LAYER)
        return ERR_WRONGUSAGE;
    // 2.
    if (d->targetType != QX_OUT_DISPLAY && !d->doubleBuffer)
        if (int r = qxDisplayBGPicCore(L, d, 0)) return r;
    // 3.
    Planes p;
    switch (type) {
    case QX_OUT_BRUSH: {
        qxBrush *b = nullptr;
        if (int r = qxFindBrush(L, ref, &b, 8 | 16)) return r;
        if (b->hardware) {
            uint32_t cap = target == QX_OUT_MASK ? 128 : 64;
            if (!qxPlatformHasCap(cap)) return ERR_HWBRUSH;
        }
        p.bitmap = b->bitmap, p.mask = b->mask, p.alpha = b->alpha;
        p.width = int32_t(b->width), p.height = int32_t(b->height);
        p.hardware = p.bitmap && p.bitmap->video ? 1 : 0;
        break;
    }
    case QX_OUT_BGPIC: {
        qxBGPic *b = nullptr;
        if (int r = findBGPicPlanes(L, ref, &p, &b)) return r;
        if (b->kind == 1 && b->source) return ERR_BGPICTYPE; // a vector picture has no pixels to draw into
        if (b == d->bgpic || qxFindDisplayForBGPic(b)) return ERR_SELECTBGPIC2;
        // Whatever is drawn while selected changes it; a transition that
        // composes it reads it again.
        b->changed = 1;
        break;
    }
    case QX_OUT_ANIM:
        // The anim is found first; its frame is checked there.
        if (int r = qxSelectionHook.findAnimFrame(L, ref, frame, 0, &p.bitmap, &p.mask, &p.alpha, &p.width,
                                                  &p.height))
            return r;
        break;
    default:
        if (int r = qxSelectionHook.findLayer(L, ref, frame, 0, &p.bitmap, &p.mask, &p.alpha, &p.width, &p.height))
            return r;
        break;
    }
    // 4.
    s = qxOutputOf(d, 1);
    if (!s) return ERR_MEM;
    // 5. A double buffer steps aside until EndSelect.
    if (d->doubleBuffer) {
        s->nested = 1;
        s->savedRecord = s->record;
        s->savedBitmap = s->bitmap;
        d->doubleBuffer = 0;
    }
    s->record = qxBGPic{};
    s->prepared = 0;
    qxDisplaySuspendPointer(d, 1, p.width);
    s->record.type = QX_TYPE_BGPIC;
    s->record.selectedType = type;
    s->record.selectedRef = ref;
    s->record.selectedFrame = frame;
    s->record.width = p.width, s->record.height = p.height;
    qxCurrentOutput = &s->record;
    d->targetType = target;
    s->hardware = p.hardware;
    // 6.
    qxSelectMode = mode;
    qxSelectCombo = combo;
    s->bitmap = s->mask = s->alpha = nullptr;
    if (target == QX_OUT_MASK) {
        s->mask = p.hardware ? p.bitmap : p.mask;
    } else if (target == QX_OUT_ALPHA) {
        s->alpha = p.hardware ? p.bitmap : p.alpha;
    } else {
        s->bitmap = p.bitmap;
        if (mode == QX_SELMODE_COMBO) s->mask = p.mask, s->alpha = p.alpha;
    }
    return 0;
}

int qxPrepareTargetPlane(uint32_t target, qxBitMap *bitmap, int32_t width, int32_t height, qxBitMap **mask,
                         qxBitMap **alpha)
{
    if (target == QX_OUT_ALPHA) {
        if (!*alpha) {
            qxBitMap *a = qxAllocAlphaBitMap(uint32_t(width), uint32_t(height), 0, nullptr, 0);
            if (!a) return ERR_ALLOCALPHA;
            qxFillBitMapRect(a, 0, 0, width, height, 255);
            *alpha = a;
        }
        qxFreeMaskBitMap(*mask);
        *mask = nullptr;
    } else if (target == QX_OUT_MASK) {
        if (!*mask) {
            qxBitMap *m = qxAllocMaskBitMap(bitmap, uint32_t(width), uint32_t(height), 0, nullptr, 0);
            if (!m) return ERR_ALLOCMASK;
            qxMaskRowOp(m, 0, 0, width, height, 0);
            *mask = m;
        }
        qxFreeAlphaBitMap(*alpha);
        *alpha = nullptr;
    }
    return 0;
}

int qxPrepareOutputTarget(lua_State *L)
{
    qxDisplay *d = qxCurrentDisplay;
    qxOutputState *s = qxOutputOf(d, 0);
    if (!s || qxCurrentOutput != &s->record) return 0;
    // The adapter only learns that a blit goes into the plane: a mask mode
    // other than visible or a set alpha intensity would be lost.
    if (s->hardware && ((d->targetType == QX_OUT_MASK && qxMaskDrawMode != 0) ||
                        (d->targetType == QX_OUT_ALPHA && qxAlphaIntensity != 0xFFFFFFFFu)))
        return ERR_HWBRUSHFUNC;
    if (s->prepared) return 0;
    const qxBGPic &rec = s->record;
    const uint32_t target = d->targetType;
    if (rec.selectedType == QX_OUT_BRUSH) {
        qxBrush *b = nullptr;
        if (int r = qxFindBrush(L, rec.selectedRef, &b, 1 | (s->hardware ? 16 : 0))) return r;
        if (s->hardware && target != QX_OUT_BRUSH) {
            // The adapter keeps a hardware brush's planes: drawing goes to
            // its video bitmap, never to its pixels.
            qxBitMapSyncHardware(b->bitmap);
            if (target == QX_OUT_MASK) s->mask = b->bitmap;
            else s->alpha = b->bitmap;
        } else if (target == QX_OUT_ALPHA || target == QX_OUT_MASK) {
            if (int r = qxPrepareTargetPlane(target, b->bitmap, int32_t(b->width), int32_t(b->height), &b->mask,
                                             &b->alpha))
                return r;
            s->mask = target == QX_OUT_MASK ? b->mask : nullptr;
            s->alpha = target == QX_OUT_ALPHA ? b->alpha : nullptr;
        } else {
            if (s->hardware) qxBitMapSyncHardware(b->bitmap);
            s->bitmap = b->bitmap;
            if (qxSelectMode == QX_SELMODE_COMBO) s->mask = b->mask, s->alpha = b->alpha;
        }
    } else if (rec.selectedType == QX_OUT_ANIM || rec.selectedType == QX_OUT_LAYER) {
        Planes p;
        auto find = rec.selectedType == QX_OUT_ANIM ? qxSelectionHook.findAnimFrame : qxSelectionHook.findLayer;
        if (int r = find(L, rec.selectedRef, rec.selectedFrame, int(target), &p.bitmap, &p.mask, &p.alpha, &p.width,
                         &p.height))
            return r;
        s->bitmap = target == QX_OUT_BRUSH ? p.bitmap : nullptr;
        if (target == QX_OUT_MASK) s->mask = p.mask;
        if (target == QX_OUT_ALPHA) s->alpha = p.alpha;
    } else if (rec.selectedType == QX_OUT_BGPIC) {
        Planes p;
        qxBGPic *b = nullptr;
        if (int r = findBGPicPlanes(L, rec.selectedRef, &p, &b, 1)) return r;
        if (target == QX_OUT_ALPHA || target == QX_OUT_MASK) {
            // The working and current planes may share the one that goes.
            dropBasePlane(b, target == QX_OUT_MASK);
            if (int r = qxPrepareTargetPlane(target, b->baseBitmap, p.width, p.height, &b->baseMask, &b->baseAlpha))
                return r;
            s->mask = b->baseMask, s->alpha = b->baseAlpha;
        } else {
            s->bitmap = b->baseBitmap;
            if (qxSelectMode == QX_SELMODE_COMBO) s->mask = b->baseMask, s->alpha = b->baseAlpha;
        }
    } else {
        return ERR_WRONGUSAGE;
    }
    s->prepared = 1;
    return 0;
}

int qxDisplayBGPicCore(lua_State *L, qxDisplay *d, int keepRects)
{
    if (!d) return 0;
    qxOutputState *s = qxOutputOf(d, 0);
    // 1. Back to the double buffer the selection interrupted.
    if (s && s->nested) {
        s->record = s->savedRecord;
        s->bitmap = s->savedBitmap;
        s->mask = s->alpha = nullptr;
        s->nested = 0;
        d->targetType = QX_OUT_BRUSH;
        d->doubleBuffer = 1;
        qxCurrentOutput = &s->record;
        // The redirect has ended: the cursor is the display's again.
        qxDisplayResetState(d);
        return 0;
    }
    // 2.
    const uint32_t ended = d->targetType;
    if (ended == QX_OUT_BGPIC && qxCurrentOutput) qxCurrentOutput->changed = 1;
    d->targetType = QX_OUT_DISPLAY;
    qxCurrentOutput = d->bgpic;
    int result = 0;
    if (s && (ended == QX_OUT_BRUSH || ended == QX_OUT_MASK || ended == QX_OUT_ALPHA) &&
        s->record.selectedType == QX_OUT_BGPIC && s->record.modified) {
        if (qxBGPic *b = qxFindBGPicRecord(s->record.selectedRef)) {
            result = rebuildBGPicPlanes(b);
            b->changed = 1;
        }
    }
    if (s && s->record.selectedType == QX_OUT_LAYER && qxSelectionHook.layerDrawn)
        qxSelectionHook.layerDrawn(L, s->record.selectedRef);
    if (s) {
        s->bitmap = s->mask = s->alpha = nullptr;
        // 5.
        if (ended == QX_OUT_BGPIC && !keepRects && qxSelectionHook.refreshCollected)
            qxSelectionHook.refreshCollected(L, d);
        s->record = qxBGPic{};
    }
    // 6.
    qxDisplayResetState(d);
    return result;
}

int qxCmdSelectBrush(lua_State *L)
{
    qxCheckArgCount(L, 1, 3, 0, 0);
    qxObjectRef ref = qxGetObjectIDArg(L, 1);
    uint32_t mode = lua_gettop(L) >= 2 ? uint32_t(luaL_checkint(L, 2)) : 0;
    uint32_t combo = lua_gettop(L) >= 3 ? uint32_t(luaL_checkint(L, 3)) : 0;
    return qxSelectTarget(L, QX_OUT_BRUSH, ref, QX_OUT_BRUSH, 0, mode, combo);
}

namespace {

int selectPlane(lua_State *L, uint32_t target)
{
    qxCheckArgCount(L, 1, 3, 0, 0);
    qxObjectRef ref = qxGetObjectIDArg(L, 1);
    uint32_t type = lua_gettop(L) >= 2 ? uint32_t(luaL_checkint(L, 2)) : QX_OUT_BRUSH;
    if (type == QX_OUT_ANIM && lua_gettop(L) < 3) return ERR_MISSINGPARAMTR;
    uint32_t frame = lua_gettop(L) >= 3 ? uint32_t(luaL_checkint(L, 3)) : 0;
    if (type == QX_OUT_BRUSH || type == QX_OUT_BGPIC) frame = 0;
    return qxSelectTarget(L, type, ref, target, frame, 0, 0);
}

} // namespace

int qxCmdSelectMask(lua_State *L) { return selectPlane(L, QX_OUT_MASK); }

int qxCmdSelectAlphaChannel(lua_State *L) { return selectPlane(L, QX_OUT_ALPHA); }

int qxCmdSelectBGPic(lua_State *L)
{
    qxCheckArgCount(L, 1, 3, 0, 0);
    const uint32_t mode = lua_gettop(L) >= 2 ? uint32_t(luaL_checkint(L, 2)) : QX_SELMODE_LAYERS;
    const uint32_t extra = lua_gettop(L) >= 3 ? uint32_t(luaL_checkint(L, 3)) : 0;
    qxDisplay *d = qxCurrentDisplay;
    if (!d) return ERR_WRONGUSAGE;
    if (mode != QX_SELMODE_LAYERS) {
        qxObjectRef ref = lua_isnil(L, 1) && d->bgpic ? qxObjectRef{d->bgpic->id, d->bgpic->automatic}
                                                       : qxGetObjectIDArg(L, 1);
        return qxSelectTarget(L, QX_OUT_BGPIC, ref, QX_OUT_BRUSH, 0, mode, extra);
    }
    // 1.
    qxBGPic *b = d->bgpic;
    if (!lua_isnil(L, 1)) {
        Planes p;
        if (int r = findBGPicPlanes(L, qxGetObjectIDArg(L, 1), &p, &b)) return r;
    }
    // 2. Selecting the BGPic that already takes the output does nothing.
    qxOutputState *s = qxOutputOf(d, 0);
    if (d->targetType == QX_OUT_BGPIC && qxCurrentOutput == b) return 0;
    // 3.
    if (d->targetType != QX_OUT_DISPLAY && !d->doubleBuffer)
        if (int r = qxDisplayBGPicCore(L, d, 0)) return r;
    // 4.
    if (!d->layersEnabled) return ERR_NOLAYERS;
    // 5.
    if (b != d->bgpic && qxFindDisplayForBGPic(b)) return ERR_SELECTBGPIC;
    s = qxOutputOf(d, 1);
    if (!s) return ERR_MEM;
    // 6. What drawing changes is collected until EndSelect shows it.
    if (int r = qxResetDirtyList(s)) return r;
    s->bitmap = s->mask = s->alpha = nullptr;
    s->prepared = 1;
    qxDisplaySuspendPointer(d, 1, b->width);
    qxCurrentOutput = b;
    d->targetType = QX_OUT_BGPIC;
    b->changed = 1;
    return 0;
}

int qxCmdEndSelect(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    qxDisplay *d = qxCurrentDisplay;
    if (!d || d->targetType == QX_OUT_DISPLAY) return ERR_WRONGUSAGE;
    qxOutputState *s = qxOutputOf(d, 0);
    if (d->doubleBuffer && !(s && s->nested)) return ERR_WRONGUSAGE;
    return qxDisplayBGPicCore(L, d, 0);
}
}
