// Text as layers: text objects shown by a layer (type 8) and TextOut and
// Print blocks that a layer owns (types 9 and 11), with their entries in
// the layer engine's table.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/vm/lua.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmap.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_positions.h"
#include "draw/fonts/qx_font.h"
#include "draw/text/qx_text.h"
#include "layers/qx_layer.h"
#include "objects/qx_displayopts.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

namespace {

// Type 8 shows the object's own planes, released copies included.
int objectImage(lua_State *L, const qxLayer *l, const qxLayerData *, qxBitMap **bitmap, qxBitMap **mask,
                qxBitMap **alpha, int32_t *sx, int32_t *sy)
{
    qxTextObject *o = nullptr;
    if (qxFindTextObject(L, l->layerid.number, l->layerid.automatic, 2 | 4, &o) || !o) return ERR_WRONGUSAGE;
    *bitmap = o->image, *mask = o->mask, *alpha = o->alpha;
    *sx = *sy = 0;
    return 0;
}

void pushObjectKeys(lua_State *L, const qxLayer *l) { qxSetFieldID(L, "id", l->layerid); }

// "id": the layer shows another text object at the same anchor point. The
// fresh rendition carries only the object's size (the planes stay the
// object's); the new source is set together with it, as the engine swaps a
// fresh rendition in whatever follows. A released object the layer showed
// goes with the next sweep of detached objects.
int restyleObject(lua_State *L, const qxLayer *l, int table, qxObjectStyle *, qxLayerData **fresh)
{
    qxObjectRef ref{};
    int found = 0;
    qxGetFieldID(L, table, "id", &ref, &found);
    if (!found) return 0;
    qxTextObject *o = nullptr;
    if (int r = qxFindTextObject(L, ref.number, ref.automatic, 0, &o)) return r;
    const qxObjectRef shown = o->automatic ? qxObjectRef{0, o} : qxObjectRef{o->number, nullptr};
    if (shown.number == l->layerid.number && shown.automatic == l->layerid.automatic) return 0;
    auto *data = static_cast<qxLayerData *>(std::calloc(1, sizeof(qxLayerData)));
    if (!data) return ERR_MEM;
    data->x = l->base->x, data->y = l->base->y;
    data->width = o->width, data->height = o->height;
    const_cast<qxLayer *>(l)->layerid = shown;
    *fresh = data;
    return 0;
}


// A copy of count entries, or null for none; false when out of memory.
bool copyTable(const int32_t *from, int32_t count, int32_t **to)
{
    *to = nullptr;
    if (!from || count <= 0) return true;
    *to = static_cast<int32_t *>(qxAlloc(size_t(count) * sizeof(int32_t), 0));
    if (*to) std::memcpy(*to, from, size_t(count) * sizeof(int32_t));
    return *to != nullptr;
}

void dropPayload(qxTextLayerData *p)
{
    if (!p) return;
    qxReleaseFont(p->request.block.font);
    qxFree(const_cast<char *>(p->request.text));
    qxFree(p->breakCopy);
    qxFree(p->tabPickCopy);
    qxFree(p);
}

// A payload owning its text and its break and tab tables: the request's,
// or those the first rendering (drawn) recorded, so that drawing it again
// at another scale breaks the same lines.
qxTextLayerData *makePayload(const qxTextRequest *rq, int32_t x, int32_t y, const qxTextImage *drawn = nullptr)
{
    auto *p = static_cast<qxTextLayerData *>(qxAlloc(sizeof(qxTextLayerData), 1));
    char *text = p ? qxCopyTextBytes(rq->text, rq->length) : nullptr;
    if (!text) {
        qxFree(p);
        return nullptr;
    }
    p->x = x, p->y = y;
    p->request = *rq;
    p->request.text = text;
    qxRetainFont(rq->block.font);
    const bool givenBreaks = rq->breakCount > 0, givenPicks = rq->tabPickCount > 0;
    const int32_t breakCount = givenBreaks ? rq->breakCount : drawn ? drawn->breakCount : 0;
    const int32_t pickCount = givenPicks ? rq->tabPickCount : drawn ? drawn->tabPickCount : 0;
    if (!copyTable(givenBreaks ? rq->breaks : drawn ? drawn->breaks : nullptr, breakCount, &p->breakCopy) ||
        !copyTable(givenPicks ? rq->tabPicks : drawn ? drawn->tabPicks : nullptr, pickCount, &p->tabPickCopy)) {
        p->breakCopy = p->tabPickCopy = nullptr;
        dropPayload(p);
        return nullptr;
    }
    p->request.breaks = p->breakCopy, p->request.breakCount = p->breakCopy ? breakCount : 0;
    p->request.breaksKept = !givenBreaks && p->request.breakCount > 0;
    p->request.tabPicks = p->tabPickCopy, p->request.tabPickCount = p->tabPickCopy ? pickCount : 0;
    p->request.tabCount = std::clamp(rq->tabCount, 0, 32);
    if (p->request.tabCount) std::memcpy(p->tabs, rq->tabs, sizeof(int32_t) * size_t(p->request.tabCount));
    p->request.tabs = p->tabs;
    p->rightMargin = rq->print ? rq->leftMargin + rq->wrap - 1 : rq->wrap;
    return p;
}

void freePayload(lua_State *, qxLayerData *d)
{
    dropPayload(static_cast<qxTextLayerData *>(d->typedata));
    d->typedata = nullptr;
}

int clonePayload(const qxLayerData *from, qxLayerData *to)
{
    const auto *p = static_cast<const qxTextLayerData *>(from->typedata);
    to->typedata = nullptr;
    if (!p) return 0;
    qxTextLayerData *c = makePayload(&p->request, p->x, p->y);
    if (!c) return ERR_MEM;
    c->rightMargin = p->rightMargin;
    c->originX = p->originX, c->originY = p->originY;
    to->typedata = c;
    return 0;
}

void pushPayloadKeys(lua_State *L, const qxLayer *l)
{
    const auto *p = static_cast<const qxTextLayerData *>(l->base->typedata);
    if (!p) return;
    const qxTextRequest &rq = p->request;
    qxSetFieldUInt(L, "color", rq.block.colour);
    qxSetFieldUInt(L, "fontstyle", rq.block.style);
    qxSetFieldInt(L, "align", rq.align);
    qxSetFieldInt(L, "leftmargin", rq.print ? rq.leftMargin : 0);
    qxSetFieldInt(L, "rightmargin", p->rightMargin);
    qxSetFieldInt(L, "fontsize", rq.block.font ? rq.block.font->size : 8);
    qxSetFieldUInt(L, "encoding", rq.encoding);
    lua_pushstring(L, "text");
    lua_pushlstring(L, rq.text, rq.length);
    lua_settable(L, -3);
    qxSetFieldStr(L, "font", rq.block.font ? rq.block.font->name : "");
}

// The border of a text layer follows the glyphs: their square dilation.
int objectBorder(lua_State *L, const qxLayer *l, const qxLayerData *, int32_t size, qxBitMap **alpha, int32_t *dx,
                 int32_t *dy)
{
    qxTextObject *o = nullptr;
    if (qxFindTextObject(L, l->layerid.number, l->layerid.automatic, 2 | 4, &o) || !o) return ERR_WRONGUSAGE;
    // A scaled or rotated object no longer matches its request.
    if (o->width != o->baseWidth || o->height != o->baseHeight || o->angle != 0.0) return ERR_WRONGUSAGE;
    int32_t w, h;
    if (int r = qxBuildTextEffectMask(L, &o->request, size, alpha, &w, &h)) return r;
    *dx = *dy = 2 * size + 1;
    return 0;
}

int payloadBorder(lua_State *L, const qxLayer *, const qxLayerData *d, int32_t size, qxBitMap **alpha, int32_t *dx,
                  int32_t *dy)
{
    const auto *p = static_cast<const qxTextLayerData *>(d->typedata);
    if (!p) return ERR_WRONGUSAGE;
    int32_t w, h;
    if (int r = qxBuildTextEffectMask(L, &p->request, size, alpha, &w, &h)) return r;
    *dx = *dy = 2 * size + 1;
    return 0;
}

// "font", "fontsize", "fontengine" and "fontcache": what is not given is
// taken from the font the layer shows now. False for a bad value type.
struct FontKeys {
    std::string name;
    int size = 8, engine = QX_FONTENGINE_NATIVE;
    uint32_t cache = 1, usepoints = 0;
    bool given = false;
};

// One key of the table, handed to read when present; false for a value of
// the wrong type (LUA_TNONE: any type).
template <class Read> bool fontKey(lua_State *L, int table, const char *key, int type, bool *given, Read read)
{
    lua_pushstring(L, key);
    lua_gettable(L, table);
    const int kind = lua_type(L, -1);
    const bool ok = kind == LUA_TNIL || type == LUA_TNONE || kind == type;
    if (ok && kind != LUA_TNIL) *given = true, read();
    lua_pop(L, 1);
    return ok;
}

bool readFontKeys(lua_State *L, int table, const qxFontHandle *current, FontKeys *k)
{
    if (const qxFontCacheEntry *e = qxFontCacheEntryOf(current))
        k->engine = e->engine, k->cache = e->cache, k->usepoints = e->usepoints;
    k->name = current ? current->path : "topaz";
    if (current) k->size = current->size;
    bool *g = &k->given;
    return fontKey(L, table, "font", LUA_TSTRING, g, [&] { k->name = lua_tostring(L, -1); }) &&
           fontKey(L, table, "fontsize", LUA_TNUMBER, g, [&] { k->size = int(lua_tonumber(L, -1)); }) &&
           fontKey(L, table, "fontengine", LUA_TNUMBER, g, [&] { k->engine = int(lua_tonumber(L, -1)); }) &&
           fontKey(L, table, "fontcache", LUA_TNONE, g, [&] {
               k->cache = lua_toboolean(L, -1) && !(lua_isnumber(L, -1) && lua_tonumber(L, -1) == 0);
           });
}

// A Print layer's "cursorx", "cursory" and "tabs". The cursor cannot be
// given with a position or an anchor (1055), nor as a position constant
// (1337); an x outside the margins becomes the left margin. Up to 31 tab
// stops (1066 beyond, 1189 for one that is no number), kept ascending.
struct PrintKeys {
    int cursorX, cursorY;
    bool cursorGiven = false, tabsGiven = false;
    int32_t tabs[32] = {};
    int32_t tabCount = 0;
};

int readPrintKeys(lua_State *L, int table, int32_t left, int32_t right, PrintKeys *k)
{
    bool xg = qxGetFieldInt(L, table, "cursorx", &k->cursorX, nullptr);
    bool yg = qxGetFieldInt(L, table, "cursory", &k->cursorY, nullptr);
    k->cursorGiven = xg || yg;
    if (k->cursorGiven) {
        for (const char *key : {"x", "y", "translatex", "translatey", "anchorx", "anchory"}) {
            lua_pushstring(L, key);
            lua_gettable(L, table);
            const bool given = !lua_isnil(L, -1);
            lua_pop(L, 1);
            if (given) return ERR_WRONGUSAGE;
        }
        if ((xg && qxIsPosConstant(k->cursorX, 0)) || (yg && qxIsPosConstant(k->cursorY, 1))) return ERR_NOCOORDCST;
        if (k->cursorX < left || k->cursorX > right) k->cursorX = left;
    }
    lua_pushstring(L, "tabs");
    lua_gettable(L, table);
    const int list = lua_gettop(L);
    int r = 0;
    if (!lua_isnil(L, list)) {
        k->tabsGiven = true;
        if (!lua_istable(L, list)) r = ERR_TABEXPECTED2;
        for (int i = 0; !r; ++i) {
            lua_rawgeti(L, list, i);
            const int kind = lua_type(L, -1);
            if (kind != LUA_TNIL && kind != LUA_TNUMBER) qxSetErrorString("tabs"), r = ERR_NUMTABLEARG;
            else if (kind != LUA_TNIL && k->tabCount == 31) r = ERR_INTERNAL;
            else if (kind != LUA_TNIL) k->tabs[k->tabCount++] = int32_t(lua_tonumber(L, -1));
            lua_pop(L, 1);
            if (kind == LUA_TNIL) break;
        }
        std::sort(k->tabs, k->tabs + k->tabCount);
    }
    lua_pop(L, 1);
    return r;
}

// Lets go of a font the restyle opened unless the fresh payload took it.
struct FontRef {
    qxFontHandle *font = nullptr;
    ~FontRef() { qxReleaseFont(font); }
};

// The keys of a TextOut or Print layer that change its picture. The text
// is laid out again with them; margins move the block as Print would.
int restylePayload(lua_State *L, const qxLayer *l, int table, qxObjectStyle *style, qxLayerData **fresh)
{
    const auto *p = static_cast<const qxTextLayerData *>(l->base->typedata);
    if (!p) return 0;
    qxTextRequest rq = p->request;
    const bool print = l->type == QX_LAYER_PRINT;
    int changed = 0, found = 0, v = 0;
    int colour = int(rq.block.colour);
    if (table < 0) table = lua_gettop(L) + table + 1;
    qxGetFieldColor(L, table, "color", &colour, &changed);
    uint32_t shadow = style->shadow.shadow, border = style->border.border;
    if (qxGetFieldInt(L, table, "fontstyle", &v, &found)) {
        const auto bits = uint32_t(v);
        if (bits & QX_TS_NORMAL) rq.block.style = QX_TS_NORMAL;
        if (const uint32_t add = bits & ~(QX_TS_NORMAL | QX_TS_SHADOW | QX_TS_EDGE))
            rq.block.style = (rq.block.style & ~QX_TS_NORMAL) | add;
        if (bits & QX_TS_SHADOW) shadow = 1;
        if (bits & QX_TS_EDGE) border = 1;
    }
    if (qxGetFieldInt(L, table, "fontstyleclear", &v, &found)) {
        const auto bits = uint32_t(v);
        rq.block.style &= ~(bits & ~(QX_TS_SHADOW | QX_TS_EDGE));
        if (!rq.block.style) rq.block.style = QX_TS_NORMAL;
        if (bits & QX_TS_SHADOW) shadow = 0;
        if (bits & QX_TS_EDGE) border = 0;
    }
    if (qxGetFieldInt(L, table, "encoding", &v, &found)) {
        if (v != 0 && v != 1) return ERR_WRONGUSAGE;
        rq.encoding = uint32_t(v);
    }
    int32_t left = print ? rq.leftMargin : 0, right = p->rightMargin;
    if (qxGetFieldInt(L, table, "rightmargin", &right, &found) && right < 0) return ERR_WRONGUSAGE;
    if (print && qxGetFieldInt(L, table, "leftmargin", &left, &found) && left < 0) return ERR_WRONGUSAGE;
    if (!print) qxGetFieldInt(L, table, "align", &rq.align, &found);
    std::string text(rq.text, rq.length);
    lua_pushstring(L, "text");
    lua_gettable(L, table);
    if (!lua_isnil(L, -1)) {
        const int kind = lua_type(L, -1);
        const char *s = kind == LUA_TSTRING || kind == LUA_TNUMBER ? lua_tostring(L, -1) : nullptr;
        const size_t n = s ? lua_strlen(L, -1) : 0;
        if (!s) {
            lua_pop(L, 1);
            return ERR_WRONGUSAGE;
        }
        text.assign(s, n);
        found = 1;
    }
    lua_pop(L, 1);
    PrintKeys pk{rq.startX + rq.leftMargin, p->y};
    if (print) {
        if (int r = readPrintKeys(L, table, left, right, &pk)) return r;
        if (pk.cursorGiven) rq.startX = pk.cursorX - left;
        if (pk.tabsGiven) rq.tabs = pk.tabs, rq.tabCount = pk.tabCount;
    }
    FontKeys fk;
    if (!readFontKeys(L, table, rq.block.font, &fk)) return ERR_WRONGUSAGE;
    if (!found && !changed && !fk.given && !pk.cursorGiven && !pk.tabsGiven) return 0;
    // Every key was read: a font the keys name is opened now and held by
    // the fresh payload; the old payload lets its own go when it is freed.
    FontRef opened;
    if (fk.given) {
        if (int r = qxOpenLayerFont(fk.name.c_str(), fk.size, fk.engine, fk.cache, fk.usepoints, &opened.font))
            return r;
        rq.block.font = opened.font;
    }
    if (print) {
        if (left > right) return ERR_WRONGUSAGE;
        rq.wrap = right - left + 1;
        rq.leftMargin = left;
    } else {
        rq.wrap = right;
    }
    rq.block.colour = uint32_t(colour);
    if (changed && (uint32_t(colour) >> 24)) style->transparency = uint32_t(colour) >> 24;
    rq.text = text.data(), rq.length = text.size();
    qxStripLayerEffects(&rq);
    // Laid out afresh: the lines and tabs this rendering decides are kept.
    rq.breaks = nullptr, rq.breakCount = 0, rq.breaksKept = 0, rq.tabPicks = nullptr, rq.tabPickCount = 0;
    qxTextImage im;
    if (int r = qxLayoutTextL(L, &rq, &im)) return r;
    qxBitMap *bm = nullptr, *alpha = nullptr;
    int r = qxBitMapFromARGB(im.pixels, 0xFFFFFFFFu, im.width, im.height, im.width, 0, 8, nullptr, &bm, nullptr,
                             &alpha);
    qxTextLayerData *np = r ? nullptr : makePayload(&rq, p->x + (left - (print ? p->request.leftMargin : 0)), pk.cursorY, &im);
    auto *data = np ? static_cast<qxLayerData *>(std::calloc(1, sizeof(qxLayerData))) : nullptr;
    if (!data) {
        dropPayload(np);
        qxFreeImagePlanes(bm, nullptr, alpha);
        qxFreeTextImage(&im);
        return r ? r : ERR_MEM;
    }
    np->rightMargin = right;
    np->originX = im.originX, np->originY = im.originY;
    // The request point stays where the layer has it now.
    const int64_t x = int64_t(l->base->x) - p->originX + (np->x - p->x) + im.originX;
    const int64_t y = int64_t(l->base->y) - p->originY + (np->y - p->y) + im.originY;
    data->x = int32_t(std::clamp<int64_t>(x, INT32_MIN, INT32_MAX));
    data->y = int32_t(std::clamp<int64_t>(y, INT32_MIN, INT32_MAX));
    data->width = im.width, data->height = im.height;
    data->bitmap = bm, data->alpha = alpha;
    data->typedata = np;
    qxFreeTextImage(&im);
    style->shadow.shadow = shadow, style->border.border = border;
    *fresh = data;
    return 0;
}

// 1014 unless the style table has the key.
int needKey(lua_State *L, int table, const char *key)
{
    return qxFieldPresent(L, table, key) ? 0 : ERR_MISSINGPARAMTR;
}

// A layer turned into a text object's layer shows the object "id" names.
int freshObject(lua_State *L, qxLayer *, uint32_t, int table, void **) { return needKey(L, table, "id"); }

// A layer turned into TextOut or Print text starts from the text settings
// current now (Print also from the display's margins and cursor); the
// text itself must be given.
int freshPayload(lua_State *L, qxLayer *layer, uint32_t, int table, void **typedata)
{
    if (int r = needKey(L, table, "text")) return r;
    const qxTextState *s = qxGetTextState();
    qxTextRequest rq{};
    rq.block = s->block;
    rq.encoding = s->encoding;
    rq.align = QX_ALIGN_LEFT;
    rq.tags = 1;
    rq.text = "";
    int32_t x = layer->base->x, y = layer->base->y;
    if (layer->type == QX_LAYER_PRINT) {
        const qxTextCursor *c = qxCurrentTextCursor();
        if (!c) return ERR_MEM;
        rq.print = 1;
        rq.wrap = c->right - c->left + 1;
        rq.startX = c->x - c->left, rq.leftMargin = c->left;
        rq.tabs = c->tabs, rq.tabCount = c->tabCount;
        x = c->left, y = c->y;
    }
    qxTextLayerData *p = makePayload(&rq, x, y);
    if (!p) return ERR_MEM;
    *typedata = p;
    return 0;
}

// Planes transformed by m about the layer's anchor: what a font that
// cannot be scaled, a turn or a mirror leaves to the picture.
int transformPlanes(lua_State *L, const qxLayer *l, qxBitMap *bm, qxBitMap *mask, qxBitMap *alpha, int32_t w,
                    int32_t h, const double m[4], uint32_t smooth, qxBitMap **b, qxBitMap **mo, qxBitMap **a,
                    int32_t *width, int32_t *height)
{
    return qxTransformImage(L, 0, nullptr, bm, mask, alpha, 0, 0, w, h, l->anchorx, l->anchory, m, smooth, b, mo, a,
                            nullptr, nullptr, width, height);
}

// The request laid out again under t: a scalable font renders at the
// transform's scale (its margins, tabs and effect sizes growing alike) and
// only what remains of the matrix (a turn, shear or mirror, or all of it
// for a bitmap font or a general matrix) is applied to the picture.
int renderRequest(lua_State *L, const qxLayer *l, const qxTextRequest &request, const qxTransformOptions *t,
                  qxBitMap **bitmap, qxBitMap **mask, qxBitMap **alpha, int32_t *width, int32_t *height)
{
    double sx = 1.0, sy = 1.0;
    if (t->m12 == 0 && t->m21 == 0) sx = std::fabs(t->m11), sy = std::fabs(t->m22);
    else if (!t->general) sx = std::fabs(t->scale1), sy = std::fabs(t->scale2);
    qxTextRequest rq = request;
    qxFontHandle *font = rq.block.font;
    const bool scaled = font && font->scalable && std::isfinite(sx) && std::isfinite(sy) && sx >= 1e-3 &&
                        sy >= 1e-3 && sx <= 64 && sy <= 64;
    if (!scaled) sx = sy = 1.0;
    int32_t tabs[32];
    if (scaled && (sx != 1.0 || sy != 1.0)) {
        auto grow = [sx](int32_t v) {
            return int32_t(std::clamp<double>(std::rint(v * sx), INT32_MIN, INT32_MAX));
        };
        rq.wrap = grow(rq.wrap), rq.startX = grow(rq.startX), rq.leftMargin = grow(rq.leftMargin);
        rq.tabCount = std::clamp(rq.tabCount, 0, 32);
        for (int32_t i = 0; i < rq.tabCount; i++) tabs[i] = grow(rq.tabs[i]);
        rq.tabs = tabs;
        rq.block.shadowSize = grow(rq.block.shadowSize), rq.block.edgeSize = grow(rq.block.edgeSize);
        qxClampTextStyle(&rq.block);
        qxFontSetScale(font, sx, sy);
    }
    qxTextImage im;
    int r = qxLayoutTextL(L, &rq, &im);
    if (scaled) qxFontSetScale(font, 1.0, 1.0);
    if (r) return r;
    qxBitMap *bm = nullptr, *al = nullptr;
    r = qxBitMapFromARGB(im.pixels, 0xFFFFFFFFu, im.width, im.height, im.width, 0, 8, nullptr, &bm, nullptr, &al);
    const int32_t w = im.width, h = im.height;
    qxFreeTextImage(&im);
    if (r) return r;
    // The matrix left once the font has taken the scale.
    const double m[4] = {t->m11 / sx, t->m12 / sx, t->m21 / sy, t->m22 / sy};
    auto near = [](double v, double to) { return std::fabs(v - to) < 1e-9; };
    if (near(m[0], 1) && near(m[1], 0) && near(m[2], 0) && near(m[3], 1)) {
        *bitmap = bm, *mask = nullptr, *alpha = al, *width = w, *height = h;
        return 0;
    }
    r = transformPlanes(L, l, bm, nullptr, al, w, h, m, t->smooth, bitmap, mask, alpha, width, height);
    qxFreeImagePlanes(bm, nullptr, al);
    return r;
}

// A text object's layer: the object's request drawn again when the object
// shows it as rendered; an object scaled or turned on its own keeps that
// picture, transformed.
int renderObject(lua_State *L, const qxLayer *l, const qxTransformOptions *t, qxBitMap **bitmap, qxBitMap **mask,
                 qxBitMap **alpha, int32_t *width, int32_t *height, int32_t *, int32_t *)
{
    qxTextObject *o = nullptr;
    if (qxFindTextObject(L, l->layerid.number, l->layerid.automatic, 2 | 4, &o) || !o) return ERR_WRONGUSAGE;
    if (o->width == o->baseWidth && o->height == o->baseHeight && o->angle == 0.0)
        return renderRequest(L, l, o->request, t, bitmap, mask, alpha, width, height);
    if (!o->image) return ERR_WRONGUSAGE;
    const double m[4] = {t->m11, t->m12, t->m21, t->m22};
    return transformPlanes(L, l, o->image, o->mask, o->alpha, o->width, o->height, m, t->smooth, bitmap, mask, alpha,
                           width, height);
}

int renderPayload(lua_State *L, const qxLayer *l, const qxTransformOptions *t, qxBitMap **bitmap, qxBitMap **mask,
                  qxBitMap **alpha, int32_t *width, int32_t *height, int32_t *, int32_t *)
{
    const auto *p = static_cast<const qxTextLayerData *>(l->base->typedata);
    if (!p) return ERR_WRONGUSAGE;
    return renderRequest(L, l, p->request, t, bitmap, mask, alpha, width, height);
}

const qxLayerTypeOps kObjectOps = {objectImage, nullptr, nullptr, pushObjectKeys, objectBorder, restyleObject,
                                   renderObject, freshObject, nullptr, nullptr};
const qxLayerTypeOps kPayloadOps = {nullptr, freePayload, clonePayload, pushPayloadKeys, payloadBorder,
                                    restylePayload, renderPayload, freshPayload, nullptr, nullptr};

} // namespace

extern "C" {

void qxRegisterTextLayerTypes(void)
{
    qxRegisterLayerType(QX_TYPE_TEXTOBJECT, &kObjectOps);
    qxRegisterLayerType(QX_LAYER_TEXTOUT, &kPayloadOps);
    qxRegisterLayerType(QX_LAYER_PRINT, &kPayloadOps);
}

int qxAddTextLayer(lua_State *L, qxTextObject *o, int32_t x, int32_t y, const qxTransformOptions *options,
                   qxObjectStyle *style, qxLayer **out)
{
    auto *data = static_cast<qxLayerData *>(std::calloc(1, sizeof(qxLayerData)));
    if (!data) return ERR_MEM;
    data->x = x, data->y = y, data->width = o->width, data->height = o->height;
    const qxObjectRef ref = o->automatic ? qxObjectRef{0, o} : qxObjectRef{o->number, nullptr};
    return qxAddLayer(L, QX_TYPE_TEXTOBJECT, &ref, x, y, o->width, o->height, options, style, nullptr, nullptr,
                      nullptr, data, style ? style->insertpos : 0, 0, out);
}

void qxStripLayerEffects(qxTextRequest *rq)
{
    rq->block.style &= ~(QX_TS_SHADOW | QX_TS_EDGE);
    if (!rq->block.style) rq->block.style = QX_TS_NORMAL;
    rq->block.colour &= 0xFFFFFF;
}

int qxAddTextImageLayer(lua_State *L, uint32_t type, const qxTextRequest *rq, qxTextImage *im, int32_t x, int32_t y,
                        const qxTransformOptions *options, qxObjectStyle *style, qxLayer **out)
{
    qxObjectStyle local;
    if (!style) {
        qxInitObjectStyle(&local);
        style = &local;
    }
    const qxTextStyle &b = rq->block;
    if (b.style & QX_TS_SHADOW) {
        style->shadow.shadow = 1;
        style->shadow.shadowcolor = b.shadowColour;
        style->shadow.shadowsize = uint32_t(b.shadowSize);
        style->shadow.shadowdir = uint32_t(b.shadowDir >= 0 && b.shadowDir <= 7 ? b.shadowDir : 3);
    }
    if (b.style & QX_TS_EDGE) {
        style->border.border = 1;
        style->border.bordercolor = b.edgeColour;
        style->border.bordersize = uint32_t(b.edgeSize);
    }
    if (b.colour >> 24) style->transparency = b.colour >> 24;
    qxBitMap *bm = nullptr, *alpha = nullptr;
    if (int r = qxBitMapFromARGB(im->pixels, 0xFFFFFFFFu, im->width, im->height, im->width, 0, 8, nullptr, &bm,
                                 nullptr, &alpha))
        return r;
    qxTextRequest drawn = *rq;
    qxStripLayerEffects(&drawn);
    qxTextLayerData *p = makePayload(&drawn, x, y, im);
    auto *data = p ? static_cast<qxLayerData *>(std::calloc(1, sizeof(qxLayerData))) : nullptr;
    if (!data) {
        dropPayload(p);
        qxFreeImagePlanes(bm, nullptr, alpha);
        return ERR_MEM;
    }
    const int32_t left = x + im->originX, top = y + im->originY;
    data->x = left, data->y = top, data->width = im->width, data->height = im->height;
    p->originX = im->originX, p->originY = im->originY;
    data->typedata = p;
    return qxAddLayer(L, type, nullptr, left, top, im->width, im->height, options, style, bm, nullptr, alpha, data,
                      style->insertpos, 0, out);
}

int qxBuildTextEffectMask(lua_State *L, const qxTextRequest *rq, int32_t size, qxBitMap **alpha, int32_t *width,
                          int32_t *height)
{
    *alpha = nullptr;
    size = std::clamp(size, 0, 64);
    qxTextRequest plain = *rq;
    plain.block.style &= ~(QX_TS_SHADOW | QX_TS_EDGE);
    if (!plain.block.style) plain.block.style = QX_TS_NORMAL;
    qxTextImage im;
    if (int r = qxLayoutTextL(L, &plain, &im)) return r;
    const int32_t grow = 2 * size + 1;
    const int64_t w = int64_t(im.width) + 2 * grow, h = int64_t(im.height) + 2 * grow;
    if (w * h > (int64_t(1) << 28)) {
        qxFreeTextImage(&im);
        return ERR_BITMAP;
    }
    qxBitMap *a = qxAllocAlphaBitMap(uint32_t(w), uint32_t(h), 1, nullptr, 0);
    if (!a) {
        qxFreeTextImage(&im);
        return ERR_ALLOCALPHA;
    }
    auto *plane = static_cast<qxBitMapPlane *>(a->data);
    // Separable square dilation: rows, then columns.
    std::vector<uint8_t> rows(size_t(w * h), 0);
    for (int32_t y = 0; y < im.height; ++y)
        for (int32_t x = 0; x < im.width; ++x) {
            const uint8_t v = uint8_t(im.pixels[size_t(y) * size_t(im.width) + size_t(x)] >> 24);
            if (!v) continue;
            uint8_t *row = &rows[size_t(y + grow) * size_t(w)];
            for (int32_t dx = -size; dx <= size; ++dx) {
                uint8_t &c = row[x + grow + dx];
                c = std::max(c, v);
            }
        }
    qxFreeTextImage(&im);
    for (int64_t y = 0; y < h; ++y) {
        uint8_t *dst = plane->pixels + size_t(y) * plane->bytesPerRow;
        for (int64_t dy = -size; dy <= size; ++dy) {
            const int64_t sy = y + dy;
            if (sy < 0 || sy >= h) continue;
            const uint8_t *src = &rows[size_t(sy * w)];
            for (int64_t x = 0; x < w; ++x) dst[x] = std::max(dst[x], src[x]);
        }
    }
    *alpha = a;
    *width = int32_t(w), *height = int32_t(h);
    return 0;
}
}
