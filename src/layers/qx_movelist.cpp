// Move lists: AddMove records layer and brush operations, DoMove performs
// them in three passes and then redraws each merged rectangle once.
#include "layers/qx_movelist.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/commands/qx_objreg.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "display/qx_asyncdraw.h"
#include "display/qx_display.h"
#include "display/qx_positions.h"
#include "layers/qx_sprite.h"
#include "layers/qx_videolayercmds.h"
#include "objects/qx_anim.h"
#include "objects/qx_brush.h"
#include "objects/qx_displayopts.h"
#include "platform/qx_errcodes.h"

namespace {

// Entry kinds (object type codes).
enum : uint32_t {
    K_BRUSH = 3, K_TEXTOBJECT = 8, K_UNDO = 10, K_LAYER = 22, K_HIDEBRUSH = 23, K_INSERTBRUSH = 24, K_HIDELAYER = 25,
    K_REMOVELAYER = 26, K_NEXTFRAME = 29, K_NEXTFRAME2 = 34,
};
constexpr int32_t kEmpty = 10000;

qxMoveList *gLists;

bool layerKind(uint32_t k) { return k == K_LAYER || k == K_HIDELAYER || k == K_REMOVELAYER || k == K_NEXTFRAME2; }

// Screen rectangles: at the size the display composes b.
bool insideBGPic(const qxBGPic *b, int32_t x, int32_t y, int32_t w, int32_t h)
{
    int32_t bw, bh;
    qxComposedSize(qxCurrentDisplay, b, &bw, &bh);
    return b && qxRectsOverlapWH(x, y, w, h, 0, 0, bw, bh);
}

void storeRect(qxMoveEntry &e, int32_t x, int32_t y, int32_t w, int32_t h)
{
    e.x1 = x, e.y1 = y;
    e.x2 = int32_t(std::min<int64_t>(int64_t(x) + w - 1, INT32_MAX));
    e.y2 = int32_t(std::min<int64_t>(int64_t(y) + h - 1, INT32_MAX));
}

void storeLayerRect(qxMoveEntry &e, const qxBGPic *b, const qxLayer *l)
{
    int32_t x, y, w, h;
    qxLayerScreenRect(l, l->onscreen, &x, &y, &w, &h);
    if (insideBGPic(b, x, y, w, h)) storeRect(e, x, y, w, h);
    e.rectset = 1;
}

// An entry that reaches several layers redraws all of them: the area it
// had before is kept in the one it has now.
void keepArea(qxMoveEntry &e, const qxMoveEntry &before)
{
    if (!before.rectset || before.x1 == kEmpty) return;
    if (e.x1 == kEmpty) e.x1 = before.x1, e.y1 = before.y1, e.x2 = before.x2, e.y2 = before.y2;
    else e.x1 = std::min(e.x1, before.x1), e.y1 = std::min(e.y1, before.y1), e.x2 = std::max(e.x2, before.x2),
         e.y2 = std::max(e.y2, before.y2);
}

// An anim layer shows the entry's frame (0 the next) and moves.
int nextFrame(lua_State *L, qxBGPic *b, qxLayer *l, qxMoveEntry &e)
{
    if (int r = qxLayerSetPosFrame(L, l, 100000, 100000, e.extra, 1)) return r;
    const qxMoveEntry before = e;
    qxMoveListMoveLayer(L, b, l, &e, 0);
    keepArea(e, before);
    return 0;
}

// A text object lies where its own offsets put it from (x, y).
void textObjectPlace(lua_State *L, const qxBGPic *b, qxObjectRef ref, int32_t *x, int32_t *y)
{
    qxBitMap *bm, *m, *a;
    int32_t w = 0, h = 0, ox = 0, oy = 0;
    if (!qxTextObjects.image || qxTextObjects.image(L, ref, &bm, &m, &a, &w, &h, &ox, &oy)) return;
    *x = int32_t(int64_t(qxResolvePosX(*x, w, b->width, 0.0)) + ox);
    *y = int32_t(int64_t(qxResolvePosY(*y, h, b->height, 0.0)) + oy);
}

// A new top layer showing a text object, drawn at once.
int addTextObjectLayer(lua_State *L, const qxBGPic *b, qxObjectRef ref, int32_t x, int32_t y, qxLayer **out)
{
    if (!qxTextObjects.addLayer || !qxTextObjects.image) return ERR_WRONGUSAGE;
    textObjectPlace(L, b, ref, &x, &y);
    if (int r = qxTextObjects.addLayer(L, ref, x, y, out)) return r;
    return *out ? 0 : ERR_LAYERRANGE;
}

// A new top layer for an anim no layer shows: frame 0 means the second
// frame when there is one.
int addAnimLayer(lua_State *L, qxBGPic *b, qxMoveEntry &e)
{
    qxAnim *a = nullptr;
    if (int r = qxFindAnim(L, e.target, &a, QX_FIND_NOCOPY)) return r;
    const int32_t count = int32_t(a->frameCount);
    const int32_t f = e.extra == 0 ? (count > 1 ? 1 : 0) : e.extra == -1 ? count - 1 : e.extra - 1;
    if (f < 0 || f >= count) return ERR_ANIMFRAME;
    const int32_t w = int32_t(a->width), h = int32_t(a->height);
    qxTransformOptions options = qxTransformTemplate;
    qxObjectStyle style = qxStyleTemplate;
    style.insertpos = 0;
    const int32_t x = qxResolvePosX(e.x, w, b->width, options.anchorx), y = qxResolvePosY(e.y, h, b->height, options.anchory);
    if (int r = qxAddImageLayer(L, QX_TYPE_ANIM, e.target, f, 0, x, y, w, h, &options, &style, nullptr, nullptr,
                                nullptr, -1, QX_AL_INTERNAL | QX_AL_SCALED))
        return r;
    storeLayerRect(e, b, b->layers.last);
    return 0;
}

// One pass-1 or pass-3 entry; 0, an error, or -1 when it is left open.
int firstPass(lua_State *L, qxBGPic *b, qxMoveEntry &e)
{
    switch (e.kind) {
    case K_UNDO: {
        int32_t level = std::max(e.extra, 1);
        for (qxLayer *l = b->layers.last; l; l = l->previous) {
            if (l->type != uint32_t(e.x) || l->sourceid.number != e.target.number ||
                l->sourceid.automatic != e.target.automatic || --level)
                continue;
            if (qxIsObjectInAsyncDraw(l)) return ERR_REMADLAYER;
            storeLayerRect(e, b, l);
            return qxRemoveLayerRecord(L, b, l, 1, nullptr);
        }
        e.rectset = 1;
        return 0;
    }
    case K_REMOVELAYER:
    case K_LAYER:
    case K_HIDELAYER: {
        qxLayer *l = qxGetLayerByIndex(b, int32_t(e.target.number));
        if (!l) return ERR_LAYERRANGE;
        if (e.kind == K_REMOVELAYER) {
            if (qxIsObjectInAsyncDraw(l)) return ERR_REMADLAYER;
            storeLayerRect(e, b, l);
            return qxRemoveLayerRecord(L, b, l, 1, nullptr);
        }
        if (e.kind == K_HIDELAYER) {
            storeLayerRect(e, b, l);
            l->hidden = 1;
            return 0;
        }
        qxMoveListMoveLayer(L, b, l, &e, 1);
        return 0;
    }
    case K_INSERTBRUSH: {
        qxLayer *l = nullptr;
        if (int r = qxInsertLayer(L, e.extra, QX_TYPE_BRUSH, e.target, e.x, e.y, 1, 0, &l)) return r;
        storeLayerRect(e, b, l);
        return 0;
    }
    case K_NEXTFRAME2: {
        qxLayer *l = qxGetLayerByIndex(b, int32_t(e.target.number));
        if (!l) return ERR_LAYERRANGE;
        if (l->type != QX_TYPE_ANIM) return ERR_WRONGUSAGE;
        return nextFrame(L, b, l, e);
    }
    default: return -1;
    }
}

} // namespace

extern "C" {

int qxInsertLayer(lua_State *L, int32_t position, uint32_t type, qxObjectRef ref, int32_t x, int32_t y, int noRedraw,
                  int hidden, qxLayer **out)
{
    qxBGPic *b = qxLayerBGPic();
    if (!b) return ERR_NOLAYERS;
    if (position < 0) return ERR_INVINSERT;
    const int32_t count = qxCountLayers(b);
    if (position == 0 || position > count + 1) position = count + 1;
    if (type == QX_LAYER_VIDEO) {
        if (!qxRequireVersion(6, 0)) {
            return ERR_OLDAPPLET;
        }
        qxLayer *l = nullptr;
        if (!qxVideoLayerCalls.insert) return ERR_WRONGUSAGE;
        if (int r = qxVideoLayerCalls.insert(L, ref, x, y, &l)) return r;
        // Made on top; moved to its place, then shown or hidden as asked.
        if (position <= count) qxSetLayerZ(b, l, position);
        l->hidden = hidden ? 1 : 0;
        int32_t lx, ly, lw, lh;
        qxLayerScreenRect(l, l->onscreen, &lx, &ly, &lw, &lh);
        if (!noRedraw) qxRefreshDisplay(L, lx, ly, lw, lh, 0);
        if (out) *out = l;
        return 0;
    }
    if (type == QX_TYPE_TEXTOBJECT) {
        qxLayer *l = nullptr;
        if (int r = addTextObjectLayer(L, b, ref, x, y, &l)) return r;
        // Made on top and drawn; moved to its place, hidden when asked.
        if (position <= count) qxSetLayerZ(b, l, position);
        int32_t lx, ly, lw, lh;
        qxLayerScreenRect(l, l->onscreen, &lx, &ly, &lw, &lh);
        if (hidden) l->hidden = 1;
        if (hidden || (position <= count && !noRedraw)) qxInvalidateRect(L, lx, ly, lw, lh);
        if (out) *out = l;
        return 0;
    }
    if (type != QX_TYPE_BRUSH && type != QX_TYPE_ANIM) return ERR_WRONGUSAGE;
    int32_t w = 0, h = 0;
    if (type == QX_TYPE_BRUSH) {
        qxBrush *brush = nullptr;
        if (int r = qxFindBrush(L, ref, &brush, QX_FIND_NOCOPY)) return r;
        w = int32_t(brush->width), h = int32_t(brush->height);
    } else {
        qxAnim *a = nullptr;
        if (int r = qxFindAnim(L, ref, &a, QX_FIND_NOCOPY)) return r;
        w = int32_t(a->width), h = int32_t(a->height);
    }
    qxTransformOptions options = qxTransformTemplate;
    qxObjectStyle style = qxStyleTemplate;
    style.insertpos = 0;
    x = qxResolvePosX(x, w, b->width, options.anchorx);
    y = qxResolvePosY(y, h, b->height, options.anchory);
    // An anim shows its first frame.
    if (int r = qxAddImageLayer(L, type, ref, 0, 0, x, y, w, h, &options, &style, nullptr, nullptr, nullptr,
                                position, QX_AL_INTERNAL | QX_AL_SCALED | (hidden ? uint32_t(QX_AL_HIDDEN) : 0u)))
        return r;
    qxLayer *l = qxGetLayerByIndex(b, position);
    if (!l) return ERR_LAYERRANGE;
    if (!hidden && !noRedraw) qxDrawLayer(L, l, 0);
    if (out) *out = l;
    return 0;
}

void qxMoveListMoveLayer(lua_State *L, qxBGPic *b, qxLayer *l, qxMoveEntry *e, int useVisibility)
{
    int32_t ox, oy, ow, oh;
    qxLayerScreenRect(l, l->onscreen, &ox, &oy, &ow, &oh);
    const int32_t x = qxResolvePosX(e->x, l->base->width, b->width, l->anchorx);
    const int32_t y = qxResolvePosY(e->y, l->base->height, b->height, l->anchory);
    qxMoveLayer(L, l, nullptr, x, y, 1, 0, nullptr);
    int32_t nx, ny, w, h;
    qxLayerScreenRect(l, l->onscreen, &nx, &ny, &w, &h);
    if (!useVisibility || e->extra == 0) l->hidden = 0;
    else if (e->extra == 1) l->hidden = 1;
    if (!l->hidden && insideBGPic(b, nx, ny, w, h)) {
        e->x1 = std::min(ox, nx), e->y1 = std::min(oy, ny);
        e->x2 = int32_t(std::min<int64_t>(int64_t(std::max(ox, nx)) + w - 1, INT32_MAX));
        e->y2 = int32_t(std::min<int64_t>(int64_t(std::max(oy, ny)) + h - 1, INT32_MAX));
    } else if (insideBGPic(b, ox, oy, ow, oh)) {
        storeRect(*e, ox, oy, w, h);
    }
    e->rectset = 1;
}

int qxFindMoveList(qxObjectRef ref, qxMoveList **out)
{
    for (qxMoveList *m = gLists; m; m = m->next)
        if ((ref.automatic && m->automatic == ref.automatic) || (!ref.automatic && !m->automatic && m->id == ref.number)) {
            *out = m;
            return 0;
        }
    if (ref.automatic) return ERR_FINDARRAY;
    qxSetErrorNumber(int(ref.number));
    return ERR_FINDMOVE;
}

int qxCmdAddMove(lua_State *L)
{
    qxCheckArgCount(L, 3, 6, 0, 0);
    int automatic = 0;
    qxMoveList *m = nullptr;
    uint32_t number = 0;
    if (lua_islightuserdata(L, 1)) {
        if (int r = qxFindMoveList(qxGetObjectIDArg(L, 1), &m)) return r;
    } else {
        number = qxGetNewIDArg(L, 1, &automatic);
    }
    const uint32_t kind = uint32_t(luaL_checkint(L, 2));
    if (!m && (automatic || qxFindMoveList({number, nullptr}, &m))) {
        m = static_cast<qxMoveList *>(std::calloc(1, sizeof(qxMoveList)));
        if (!m) return ERR_MEM;
        m->type = QX_TYPE_MOVELIST;
        m->id = automatic ? 0 : number;
        m->automatic = automatic ? m : nullptr;
        m->next = gLists;
        gLists = m;
    }
    if (m->count >= int32_t(QX_MOVELIST_ENTRIES)) return ERR_INTERNAL;
    auto opt = [&](int arg) { return lua_gettop(L) >= arg && !lua_isnil(L, arg) ? int32_t(luaL_checkint(L, arg)) : 0; };
    qxMoveEntry e{};
    e.kind = kind;
    if (layerKind(kind)) {
        int32_t n = 0;
        if (int r = qxGetLayerArg(L, 3, qxLayerBGPic(), &n)) return r;
        e.target = {uint32_t(n), nullptr};
        e.x = opt(4), e.y = opt(5), e.extra = opt(6);
    } else if (kind == K_UNDO) {
        e.x = int32_t(luaL_checkint(L, 3));
        e.target = lua_gettop(L) >= 4 ? qxGetObjectIDArg(L, 4) : qxObjectRef{0, nullptr};
        e.y = opt(5), e.extra = opt(6);
    } else {
        e.target = qxGetObjectIDArg(L, 3);
        e.x = opt(4), e.y = opt(5);
        if (kind == K_INSERTBRUSH && lua_gettop(L) >= 6) {
            int32_t n = 0;
            if (int r = qxGetLayerArg(L, 6, qxLayerBGPic(), &n)) return r;
            e.extra = n;
        } else {
            e.extra = opt(6);
        }
    }
    e.x1 = kEmpty;
    m->entries[m->count++] = e;
    if (!automatic) return 0;
    qxPushObjectID(L, {0, m->automatic});
    return 1;
}

int qxCmdClearMove(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxMoveList *m = nullptr;
    if (int r = qxFindMoveList(qxGetObjectIDArg(L, 1), &m)) return r;
    qxMoveList **at = &gLists;
    while (*at != m) at = &(*at)->next;
    *at = m->next;
    std::free(m);
    return 0;
}

int qxDoMove(lua_State *L)
{
    qxMoveList *m = nullptr;
    if (int r = qxFindMoveList(qxGetObjectIDArg(L, 1), &m)) return r;
    qxBGPic *b = qxLayerBGPic();
    if (!b) return ERR_NOLAYERS;
    for (int32_t i = 0; i < m->count; ++i) m->entries[i].rectset = 0, m->entries[i].x1 = kEmpty;

    int error = 0;
    std::vector<bool> open(size_t(m->count), false);
    std::vector<bool> shown(size_t(m->count), false);
    for (int32_t i = 0; i < m->count && !error; ++i) {
        const int r = firstPass(L, b, m->entries[i]);
        if (r > 0) error = r;
        open[size_t(i)] = r < 0;
    }
    // Second pass: entries about objects act on every layer showing them.
    for (qxLayer *l = b->layers.first; l && !error; l = l->next)
        for (int32_t i = 0; i < m->count; ++i) {
            qxMoveEntry &e = m->entries[i];
            if (!open[size_t(i)] || l->layerid.number != e.target.number ||
                l->layerid.automatic != e.target.automatic)
                continue;
            if (e.kind == K_NEXTFRAME && l->type == QX_TYPE_ANIM) {
                // Every anim layer showing it; the entry stays open for the next.
                if ((error = nextFrame(L, b, l, e))) break;
                shown[size_t(i)] = true;
                continue;
            }
            // Every layer showing the object: the entry is done after the pass.
            const qxMoveEntry before = e;
            if (e.kind == K_TEXTOBJECT && l->type == QX_TYPE_TEXTOBJECT) {
                // Moved like the object's first display: by its own offsets.
                qxMoveEntry at = e;
                textObjectPlace(L, b, e.target, &at.x, &at.y);
                qxMoveListMoveLayer(L, b, l, &at, 0);
                e.rectset = at.rectset, e.x1 = at.x1, e.y1 = at.y1, e.x2 = at.x2, e.y2 = at.y2;
            } else if (e.kind == K_BRUSH && l->type == QX_TYPE_BRUSH) {
                qxMoveListMoveLayer(L, b, l, &e, 0);
            } else if (e.kind == K_HIDEBRUSH && l->type == QX_TYPE_BRUSH) {
                storeLayerRect(e, b, l);
                l->hidden = 1;
            } else {
                continue;
            }
            keepArea(e, before);
            shown[size_t(i)] = true;
        }
    for (int32_t i = 0; i < m->count; ++i)
        if (shown[size_t(i)]) open[size_t(i)] = false;
    // Third pass: what no layer showed yet comes on top.
    for (int32_t i = 0; i < m->count && !error; ++i) {
        if (!open[size_t(i)]) continue;
        qxMoveEntry &e = m->entries[i];
        if (e.kind == K_NEXTFRAME) {
            if ((error = addAnimLayer(L, b, e))) break;
            continue;
        }
        if (e.kind != K_BRUSH && e.kind != K_TEXTOBJECT) {
            error = ERR_WRONGUSAGE;
            break;
        }
        qxLayer *l = nullptr;
        if ((error = qxInsertLayer(L, 0, e.kind, e.target, e.x, e.y, 1, 0, &l))) break;
        storeLayerRect(e, b, l);
    }
    // Every change made so far shows, also when a pass failed.
    qxRectList list{nullptr, 0, 0};
    for (int32_t i = 0; i < m->count; ++i) {
        const qxMoveEntry &e = m->entries[i];
        if (e.rectset && e.x1 != kEmpty)
            qxRectListAdd(&list, e.x1, e.y1, int32_t(int64_t(e.x2) - e.x1 + 1), int32_t(int64_t(e.y2) - e.y1 + 1), 1);
    }
    qxMergeRectList(&list);
    for (int32_t i = 0; i < list.count; ++i) {
        const qxLayerRect &r = list.entries[i];
        if (r.x1 != QX_RECT_MERGED)
            qxInvalidateRect(L, r.x1, r.y1, int32_t(int64_t(r.x2) - r.x1 + 1), int32_t(int64_t(r.y2) - r.y1 + 1));
    }
    std::free(list.entries);
    return error;
}

void qxFreeMoveLists(void)
{
    while (qxMoveList *m = gLists) {
        gLists = m->next;
        std::free(m);
    }
}

int qxRegisterMoveLists(void) { return qxRegisterObjectList(&gLists, QX_TYPE_MOVELIST); }

} // extern "C"
