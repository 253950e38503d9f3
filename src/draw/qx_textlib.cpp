// The "text" command library: the text style, measuring and TextOut.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/commands/qx_commands.h"
#include "core/commands/qx_objreg.h"
#include "core/errors/qx_errors.h"
#include "core/errors/qx_messages.h"
#include "core/files/qx_chunkname.h"
#include "core/files/qx_file.h"
#include "core/vm/lauxlib.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmaptransform.h"
#include "display/qx_display.h"
#include "display/qx_positions.h"
#include "draw/fonts/qx_font.h"
#include "draw/qx_drawlibs.h"
#include "draw/text/qx_text.h"
#include "layers/qx_layer.h"
#include "objects/qx_displayopts.h"
#include "objects/qx_output.h"
#include "objects/qx_selection.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_text.h"


namespace {

// "Opening font %s" with the name as the script gave it: font names are no
// paths, so the file-name shortening of other loading lines would cut
// aliases such as ":::default_sans".
void progressLine(const char *name)
{
    std::string line = qxGetErrorText(QX_MSG_OPENINGFONT);
    if (size_t at = line.find("%s"); at != std::string::npos) line.replace(at, 2, name);
    qxDebugPrintLine(line.c_str(), nullptr, 1);
}

// Name, size and options from narg on, through the font cache.
int openFontArgs(lua_State *L, int narg, qxFontHandle **h)
{
    // A font linked into the applet is opened from there.
    int linked = 0;
    const std::string name = qxGetFileNameArg(L, narg, 1, &linked);
    const int32_t size = luaL_checkint(L, narg + 1);
    int engine = QX_FONTENGINE_NATIVE, cache = 1, usepoints = 0;
    if (lua_istable(L, narg + 2)) {
        qxGetFieldInt(L, narg + 2, "engine", &engine, nullptr);
        qxGetFieldInt(L, narg + 2, "cache", &cache, nullptr);
        qxGetFieldInt(L, narg + 2, "usepoints", &usepoints, nullptr);
    }
    progressLine(linked ? qxChunkBaseName(name.c_str()) : name.c_str());
    int r = qxOpenFontByName(name.c_str(), size, engine, uint32_t(cache), uint32_t(usepoints), linked, h);
    if (r) qxPrintFailed();
    else qxPrintDone();
    return r;
}

int cmdOpenFont(lua_State *L)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    int automatic = 0;
    const uint32_t number = qxGetNewIDArg(L, 1, &automatic);
    qxFontHandle *h = nullptr;
    if (int r = openFontArgs(L, 2, &h)) return r;
    void *id = nullptr;
    if (int r = qxCreateFontObject(L, automatic ? 0 : number, h, &id)) return r;
    if (!automatic) return 0;
    qxPushObjectID(L, qxObjectRef{0, id});
    return 1;
}

int cmdUseFont(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    const qxObjectRef ref = qxGetObjectIDArg(L, 1);
    qxFontHandle *h = nullptr;
    if (int r = qxFindFont(L, ref.number, ref.automatic, &h)) return r;
    qxTextState *s = qxGetTextState();
    s->block.font = h;
    s->block.style = QX_TS_NORMAL;
    return 0;
}

int cmdCloseFont(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    const qxObjectRef ref = qxGetObjectIDArg(L, 1);
    return qxFreeFontObject(L, ref.number, ref.automatic);
}

int cmdSetFont(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    qxFontHandle *h = nullptr;
    if (int r = openFontArgs(L, 1, &h)) return r;
    qxTextState *s = qxGetTextState();
    s->block.font = h;
    s->block.style = QX_TS_NORMAL;
    return 0;
}

int cmdSetFontColor(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxGetTextState()->block.colour = uint32_t(int64_t(luaL_checknumber(L, 1)));
    return 0;
}

int cmdGetFontColor(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    lua_pushnumber(L, qxGetTextState()->block.colour);
    return 1;
}

int cmdSetFontStyle(lua_State *L)
{
    qxCheckArgCount(L, 1, 4, 0, 0);
    const int n = lua_gettop(L);
    qxTextStyle &b = qxGetTextState()->block;
    const uint32_t style = uint32_t(luaL_checkint(L, 1));
    if (style & QX_TS_NORMAL) {
        b.style = QX_TS_NORMAL;
        return 0;
    }
    if (style == QX_TS_SHADOW) {
        if (n >= 2) b.shadowColour = uint32_t(int64_t(luaL_checknumber(L, 2)));
        if (n >= 3) b.shadowSize = luaL_checkint(L, 3);
        if (n >= 4) b.shadowDir = luaL_checkint(L, 4);
    } else if (style == QX_TS_EDGE) {
        if (n == 2 || n == 3) b.edgeColour = uint32_t(int64_t(luaL_checknumber(L, 2)));
        if (n == 3) b.edgeSize = luaL_checkint(L, 3);
    } else if (n > 1) {
        return ERR_TOOMANYARGS;
    }
    b.style = (b.style & ~QX_TS_NORMAL) | style;
    if (!b.style) b.style = QX_TS_NORMAL;
    qxClampTextStyle(&b);
    return 0;
}

int cmdGetFontStyle(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    const qxTextStyle &b = qxGetTextState()->block;
    lua_pushnumber(L, b.style);
    if (!(b.style & (QX_TS_SHADOW | QX_TS_EDGE))) return 1;
    lua_newtable(L);
    if (b.style & QX_TS_SHADOW) {
        qxSetFieldUInt(L, "shadowcolor", b.shadowColour);
        qxSetFieldInt(L, "shadowsize", b.shadowSize);
        qxSetFieldInt(L, "shadowdir", b.shadowDir);
    }
    if (b.style & QX_TS_EDGE) {
        qxSetFieldInt(L, "bordersize", b.edgeSize);
        qxSetFieldUInt(L, "bordercolor", b.edgeColour);
    }
    return 2;
}

int cmdSetDefaultEncoding(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    const int e = luaL_checkint(L, 1);
    const int s = lua_gettop(L) >= 2 ? luaL_checkint(L, 2) : int(qxDefaultEncoding);
    if (e < 0 || e > 1 || s < 0 || s > 1) return ERR_WRONGUSAGE;
    qxGetTextState()->encoding = uint32_t(e);
    qxDefaultEncoding = uint32_t(s);
    return 0;
}

int cmdGetDefaultEncoding(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    lua_pushnumber(L, qxGetTextState()->encoding);
    lua_pushnumber(L, qxDefaultEncoding);
    return 2;
}

// The encoding argument at narg (absent: the text state's); 1055 above 1.
int encodingArg(lua_State *L, int narg, uint32_t *out)
{
    *out = qxGetTextState()->encoding;
    if (lua_gettop(L) < narg || lua_isnil(L, narg)) return 0;
    const int e = luaL_checkint(L, narg);
    if (e < 0 || e > 1) return ERR_WRONGUSAGE;
    *out = uint32_t(e);
    return 0;
}

int measure(lua_State *L, qxRunExtent *ext, size_t *length)
{
    const char *text = luaL_checklstring(L, 1, length);
    uint32_t enc;
    if (int r = encodingArg(L, 2, &enc)) return r;
    *ext = qxRunExtent{};
    if (!*length) return 0;
    if (enc == 1) {
        size_t count = 0;
        if (!qxUtf8Scan(text, *length, &count)) return ERR_INVALIDUTF8;
    }
    return qxMeasureRun(&qxGetTextState()->block, text, *length, enc, ext);
}

int cmdTextWidth(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    qxRunExtent e;
    size_t n;
    if (int r = measure(L, &e, &n)) return r;
    lua_pushnumber(L, n ? e.width : 0);
    return 1;
}

int cmdTextExtent(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    qxRunExtent e;
    size_t n;
    if (int r = measure(L, &e, &n)) return r;
    lua_newtable(L);
    qxSetFieldInt(L, "minx", n ? e.minX + e.left : 0);
    qxSetFieldInt(L, "maxx", n ? e.maxX + e.right : 0);
    qxSetFieldInt(L, "miny", n ? e.minY + e.top : 0);
    qxSetFieldInt(L, "maxy", n ? e.maxY + e.bottom : 0);
    qxSetFieldInt(L, "width", n ? e.width : 0);
    qxSetFieldInt(L, "height", n ? e.height : 0);
    return 1;
}

int cmdTextHeight(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    const qxFontHandle *f = qxGetCurrentFont();
    lua_pushnumber(L, f ? f->height : 8);
    return 1;
}

int cmdGetKerningPair(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    size_t n1, n2;
    const char *a = luaL_checklstring(L, 1, &n1), *b = luaL_checklstring(L, 2, &n2);
    uint32_t enc;
    if (int r = encodingArg(L, 3, &enc)) return r;
    if (!n1 || !n2) {
        lua_pushnumber(L, 0);
        return 1;
    }
    std::string pair;
    if (enc == 1) {
        // The first character of each string.
        size_t l1 = 1, l2 = 1;
        while (l1 < n1 && (uint8_t(a[l1]) & 0xC0) == 0x80) ++l1;
        while (l2 < n2 && (uint8_t(b[l2]) & 0xC0) == 0x80) ++l2;
        pair.assign(a, l1).append(b, l2);
    } else {
        pair = {a[0], b[0]};
    }
    const qxTextStyle &s = qxGetTextState()->block;
    lua_pushnumber(L, qxFontGetKerning(s.font, pair.data(), pair.size(), s.style, int(enc)));
    return 1;
}

int cmdFreeGlyphCache(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    if (luaL_checkint(L, 1) != 0) {
        const qxObjectRef ref = qxGetObjectIDArg(L, 2);
        qxFontHandle *h = nullptr;
        if (int r = qxFindFont(L, ref.number, ref.automatic, &h)) return r;
        qxFontFreeGlyphCache(h);
        return 0;
    }
    for (const qxFontCacheEntry *e = qxFontCacheFirst(); e; e = e->next) qxFontFreeGlyphCache(e->handle);
    return 0;
}

int cmdAddFontPath(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    const char *path = luaL_checkstring(L, 1);
    int r = qxAddFontPath(path);
    if (r) qxSetErrorString(path);
    return r;
}

// Every face of the font directories, scanned afresh; the database is let go
// again so that later lookups see the directories as they are then.
int cmdGetAvailableFonts(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    qxFreeFontDb();
    qxScanFontDirectories(1);
    lua_newtable(L);
    int index = 0;
    for (const qxFontDbEntry *e = qxFontDbFirst(); e; e = e->next) {
        lua_newtable(L);
        qxSetFieldStr(L, "name", e->name);
        qxSetFieldStr(L, "family", e->family);
        qxSetFieldInt(L, "bitmap", int(e->bitmap));
        qxSetFieldInt(L, "weight", int(e->weight));
        qxSetFieldInt(L, "slant", int(e->slant));
        lua_pushstring(L, "sizes");
        lua_newtable(L);
        for (uint32_t i = 0; i < e->sizeCount; i++) {
            lua_pushnumber(L, e->sizes[i]);
            lua_rawseti(L, -2, int(i));
        }
        lua_settable(L, -3);
        lua_rawseti(L, -2, index++);
    }
    qxFreeFontDb();
    return 1;
}

// Reads the layout arguments from narg on: an options table, or align,
// wrap width and encoding.
int layoutArgs(lua_State *L, int narg, qxTextRequest *rq)
{
    const qxTextState *s = qxGetTextState();
    rq->block = s->block;
    rq->encoding = s->encoding;
    rq->align = QX_ALIGN_LEFT;
    rq->wrap = 0;
    rq->tags = 1;
    int enc = int(rq->encoding);
    if (lua_istable(L, narg)) {
        qxGetFieldInt(L, narg, "align", &rq->align, nullptr);
        qxGetFieldInt(L, narg, "wordwrap", &rq->wrap, nullptr);
        qxGetFieldInt(L, narg, "encoding", &enc, nullptr);
        int colour = 0, found = 0;
        qxGetFieldColor(L, narg, "color", &colour, &found);
        if (found) rq->block.colour = uint32_t(colour);
    } else {
        const int n = lua_gettop(L);
        if (n >= narg && !lua_isnil(L, narg)) rq->align = luaL_checkint(L, narg);
        if (n >= narg + 1 && !lua_isnil(L, narg + 1)) rq->wrap = luaL_checkint(L, narg + 1);
        if (n >= narg + 2 && !lua_isnil(L, narg + 2)) enc = luaL_checkint(L, narg + 2);
    }
    if (enc < 0 || enc > 1 || rq->wrap < 0) return ERR_WRONGUSAGE;
    rq->encoding = uint32_t(enc);
    return 0;
}

// "wordwraptable": word indices from index 0 up to the first nil.
int breakTable(lua_State *L, int t, std::vector<int32_t> *out)
{
    if (!lua_istable(L, t)) return 0;
    lua_pushstring(L, "wordwraptable");
    lua_gettable(L, t);
    const int table = lua_gettop(L);
    int r = 0;
    if (lua_istable(L, table)) {
        for (int i = 0;; ++i) {
            lua_rawgeti(L, table, i);
            const bool end = lua_isnil(L, -1);
            const int32_t v = end ? 0 : int32_t(lua_tonumber(L, -1));
            lua_pop(L, 1);
            if (end) break;
            if (i >= 32767) {
                r = ERR_INTERNAL;
                break;
            }
            out->push_back(v);
        }
        std::sort(out->begin(), out->end());
    }
    lua_pop(L, 1);
    return r;
}

int cmdTextOut(lua_State *L)
{
    qxCheckArgCount(L, 3, 5, 0, 0);
    const int32_t x = luaL_checkint(L, 1), y = luaL_checkint(L, 2);
    qxTextRequest rq{};
    rq.text = luaL_checklstring(L, 3, &rq.length);
    if (int r = layoutArgs(L, 4, &rq)) return r;
    std::vector<int32_t> breaks;
    if (int r = breakTable(L, 4, &breaks)) return r;
    rq.breaks = breaks.data();
    rq.breakCount = int32_t(breaks.size());
    qxDisplay *d = qxCurrentDisplay;
    const bool layers = qxOutputTakesLayers();
    // The display options: transform, anchor, layer style.
    qxTransformOptions opts;
    qxObjectStyle style;
    qxInitTransformOptions(&opts);
    qxInitObjectStyle(&style);
    const bool withOptions = lua_istable(L, 4);
    // Plain text goes straight onto the output, clipped only by it; with an
    // options table only when it asks for no transform.
    bool straight = !layers;
    if (straight && withOptions) {
        const uint32_t smooth = (rq.block.style & QX_TS_ANTIALIAS) ? 1 : 0;
        if (int r = qxGetTransformOptions(L, 4, 1, 1, 0, 0, smooth, &opts, &style, QX_OPT_RESET)) return r;
        straight = qxMatrixIsIdentity(&opts);
        qxInitTransformOptions(&opts);
        qxInitObjectStyle(&style);
    }
    if (straight)
        if (int r = qxDrawPlainText(L, &rq, x, y); r >= 0) return r;
    qxTextRequest drawn = rq;
    if (layers) qxStripLayerEffects(&drawn);
    qxTextImage im;
    if (int r = qxLayoutTextL(L, &drawn, &im)) return r;
    int r = 0;
    if (withOptions) {
        const uint32_t smooth = (rq.block.style & QX_TS_ANTIALIAS) ? 1 : 0;
        r = qxGetTransformOptions(L, 4, im.width, im.height, 0, 0, smooth, &opts, &style, QX_OPT_RESET);
        if (!layers) qxInitTransformOptions(&opts);
    }
    int32_t areaW = 0, areaH = 0;
    if (d) qxOutputBitmap(d, &areaW, &areaH);
    // Under a clip region position constants place on the region.
    if (d && d->clipRegion) areaW = areaH = 0;
    const int32_t px = qxResolvePosX(x, im.width, areaW, opts.anchorx);
    const int32_t py = qxResolvePosY(y, im.height, areaH, opts.anchory);
    if (!r && layers) r = qxAddTextImageLayer(L, QX_LAYER_TEXTOUT, &rq, &im, px, py, &opts, &style, nullptr);
    else if (!r) r = qxDrawTextImage(L, &im, px, py);
    qxFreeTextImage(&im);
    return r;
}

int cmdCreateTextObject(lua_State *L)
{
    qxCheckArgCount(L, 2, 5, 0, 0);
    int automatic = 0;
    const uint32_t number = qxGetNewIDArg(L, 1, &automatic);
    qxTextRequest rq{};
    rq.text = luaL_checklstring(L, 2, &rq.length);
    if (int r = layoutArgs(L, 3, &rq)) return r;
    qxFreeDetachedTextObjects(L);
    qxTextObject *o = nullptr;
    if (int r = qxCreateTextObject(automatic ? 0 : number, &rq, L, &o)) return r;
    if (!automatic) return 0;
    qxPushObjectID(L, qxObjectRef{0, o});
    return 1;
}

int findArg(lua_State *L, int narg, uint32_t flags, qxTextObject **out)
{
    const qxObjectRef ref = qxGetObjectIDArg(L, narg);
    return qxFindTextObject(L, ref.number, ref.automatic, flags, out);
}

int cmdDisplayTextObject(lua_State *L)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    qxFreeDetachedTextObjects(L);
    qxTextObject *o = nullptr;
    if (int r = findArg(L, 1, 0, &o)) return r;
    qxDisplay *d = qxCurrentDisplay;
    if (qxOutputTakesLayers()) {
        qxTransformOptions opts;
        qxObjectStyle style;
        qxInitTransformOptions(&opts);
        qxInitObjectStyle(&style);
        const uint32_t smooth = (o->request.block.style & QX_TS_ANTIALIAS) ? 1 : 0;
        if (lua_gettop(L) >= 4 && lua_istable(L, 4))
            if (int r = qxGetTransformOptions(L, 4, o->width, o->height, 0, 0, smooth, &opts, &style, QX_OPT_RESET))
                return r;
        int32_t areaW = 0, areaH = 0;
        qxOutputBitmap(d, &areaW, &areaH);
        if (d->clipRegion) areaW = areaH = 0;
        const int32_t x = qxResolvePosX(luaL_checkint(L, 2), o->width, areaW, opts.anchorx) + o->originX;
        const int32_t y = qxResolvePosY(luaL_checkint(L, 3), o->height, areaH, opts.anchory) + o->originY;
        return qxAddTextLayer(L, o, x, y, &opts, &style, nullptr);
    }
    const int32_t x = qxResolvePosX(luaL_checkint(L, 2), o->width, 0, 0.0) + o->originX;
    const int32_t y = qxResolvePosY(luaL_checkint(L, 3), o->height, 0, 0.0) + o->originY;
    if (int e = qxPrepareOutputTarget(L)) return e;
    if (lua_gettop(L) < 4 || !lua_istable(L, 4))
        return qxBlitToOutput(L, o->image, 0, 0, x, y, o->width, o->height, o->width, o->height,
                              o->alpha ? nullptr : o->mask, o->alpha);
    // Filters and transparency go onto a copy; size and angle stay the
    // object's own.
    qxTransformOptions opts;
    qxObjectStyle style;
    qxInitTransformOptions(&opts);
    qxInitObjectStyle(&style);
    const uint32_t smooth = (o->request.block.style & QX_TS_ANTIALIAS) ? 1 : 0;
    if (int r = qxGetTransformOptions(L, 4, o->width, o->height, 0, 0, smooth, &opts, &style, 0)) return r;
    if (!style.transparency && !qxFiltersActive(&style.filters))
        return qxBlitToOutput(L, o->image, 0, 0, x, y, o->width, o->height, o->width, o->height,
                              o->alpha ? nullptr : o->mask, o->alpha);
    qxBitMap *b = nullptr, *m = nullptr, *a = nullptr;
    int r = qxCopyImageRect(o->image, o->mask, o->alpha, 0, 0, o->width, o->height, 0, 0, 0, 0, &b,
                            o->mask ? &m : nullptr, o->alpha ? &a : nullptr);
    if (!r) r = qxBlendWithOptions(&style, L, &b, &a, o->width, o->height);
    if (!r) r = qxBlitToOutput(L, b, 0, 0, x, y, o->width, o->height, o->width, o->height, a ? nullptr : m, a);
    qxFreeBitMap(b);
    qxFreeMaskBitMap(m);
    qxFreeAlphaBitMap(a);
    return r;
}

int cmdCopyTextObject(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxTextObject *src = nullptr;
    if (int r = findArg(L, 1, 0, &src)) return r;
    int automatic = 0;
    const uint32_t number = qxGetNewIDArg(L, 2, &automatic);
    qxTextObject *o = nullptr;
    if (int r = qxCopyTextObject(L, src, automatic ? 0 : number, &o)) return r;
    if (!automatic) return 0;
    qxPushObjectID(L, qxObjectRef{0, o});
    return 1;
}

int cmdFreeTextObject(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxTextObject *o = nullptr;
    // No copy-on-write: an object a layer shows is detached instead.
    if (int r = findArg(L, 1, 1 | 4, &o)) return r;
    return qxFreeTextObject(L, o);
}

int cmdRotateTextObject(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxTextObject *o = nullptr;
    if (int r = findArg(L, 1, 1, &o)) return r;
    const double old = o->angle;
    o->angle = std::fmod(luaL_checknumber(L, 2), 360.0);
    const int r = qxRerenderTextObject(L, o);
    if (r) o->angle = old;
    return r;
}

int cmdScaleTextObject(lua_State *L)
{
    qxCheckArgCount(L, 3, 3, 0, 0);
    qxTextObject *o = nullptr;
    if (int r = findArg(L, 1, 1, &o)) return r;
    int w = int(qxGetNumberOrPercentArg(L, 2, o->baseWidth, 1, nullptr));
    int h = int(qxGetNumberOrPercentArg(L, 3, o->baseHeight, 1, nullptr));
    if (int r = qxComputeScaledSize(o->baseWidth, o->baseHeight, &w, &h)) return r;
    const int32_t oldW = o->targetWidth, oldH = o->targetHeight;
    o->targetWidth = w, o->targetHeight = h;
    const int r = qxRerenderTextObject(L, o);
    if (r) o->targetWidth = oldW, o->targetHeight = oldH;
    return r;
}

// Print's arguments through the script's "tostring", joined by blanks.
int joinArgs(lua_State *L, std::string *out)
{
    const int n = lua_gettop(L);
    for (int i = 1; i <= n; ++i) {
        lua_pushstring(L, "tostring");
        lua_gettable(L, LUA_GLOBALSINDEX);
        lua_pushvalue(L, i);
        lua_call(L, 1, 1);
        const char *t = lua_tostring(L, -1);
        const size_t len = t ? lua_strlen(L, -1) : 0;
        if (i > 1) *out += ' ';
        if (t) out->append(t, len);
        lua_pop(L, 1);
    }
    return 0;
}

int cmdPrint(lua_State *L)
{
    std::string text;
    joinArgs(L, &text);
    return qxPrintText(L, text.data(), text.size(), 1);
}

int cmdNPrint(lua_State *L)
{
    std::string text;
    joinArgs(L, &text);
    text += '\n';
    return qxPrintText(L, text.data(), text.size(), 1);
}

int cmdLocate(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    const int32_t x = luaL_checkint(L, 1), y = luaL_checkint(L, 2);
    if (qxIsPosConstant(x, 0) || qxIsPosConstant(y, 1)) return ERR_NOCOORDCST;
    qxTextCursor *c = qxCurrentTextCursor();
    if (!c) return ERR_MEM;
    c->x = x < c->left || x > c->right ? c->left : x;
    c->y = y;
    qxStoreTextCursor(c);
    return 0;
}

int cmdSetMargins(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    int32_t left = luaL_checkint(L, 1), right = luaL_checkint(L, 2);
    if (left >= right) return ERR_WRONGUSAGE;
    qxTextCursor *c = qxCurrentTextCursor();
    if (!c) return ERR_MEM;
    int32_t w = 0, h = 0;
    qxOutputBitmap(qxCurrentDisplay, &w, &h);
    if (w <= 0 && qxCurrentDisplay) w = qxCurrentDisplay->width;
    left = std::max(left, 0);
    if (w > 0) right = std::min(right, w - 1);
    c->left = left, c->right = right;
    c->x = left, c->y = 0;
    qxStoreTextCursor(c);
    return 0;
}

int cmdAddTab(lua_State *L)
{
    qxCheckArgCount(L, 1, -1, 0, 0);
    qxTextCursor *c = qxCurrentTextCursor();
    if (!c) return ERR_MEM;
    for (int i = 1; i <= lua_gettop(L); ++i) {
        const int32_t pos = luaL_checkint(L, i);
        if (c->tabCount >= 32) return ERR_INTERNAL;
        if (pos < 0) return ERR_NEGCOORDS;
        int32_t *at = std::upper_bound(c->tabs, c->tabs + c->tabCount, pos);
        std::move_backward(at, c->tabs + c->tabCount, c->tabs + c->tabCount + 1);
        *at = pos;
        ++c->tabCount;
    }
    return 0;
}

int cmdResetTabs(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    if (qxTextCursor *c = qxCurrentTextCursor()) c->tabCount = 0;
    return 0;
}

constexpr qxCommandDef textCommands[] = {
    {"SetFont", cmdSetFont},
    {"OpenFont", cmdOpenFont},
    {"UseFont", cmdUseFont},
    {"CloseFont", cmdCloseFont},
    {"SetFontColor", cmdSetFontColor},
    {"GetFontColor", cmdGetFontColor},
    {"SetFontStyle", cmdSetFontStyle},
    {"GetFontStyle", cmdGetFontStyle},
    {"SetDefaultEncoding", cmdSetDefaultEncoding},
    {"GetDefaultEncoding", cmdGetDefaultEncoding},
    {"TextWidth", cmdTextWidth},
    {"TextExtent", cmdTextExtent},
    {"TextHeight", cmdTextHeight},
    {"GetKerningPair", cmdGetKerningPair},
    {"FreeGlyphCache", cmdFreeGlyphCache},
    {"TextOut", cmdTextOut},
    {"CreateTextObject", cmdCreateTextObject},
    {"DisplayTextObject", cmdDisplayTextObject},
    {"CopyTextObject", cmdCopyTextObject},
    {"FreeTextObject", cmdFreeTextObject},
    {"RotateTextObject", cmdRotateTextObject},
    {"ScaleTextObject", cmdScaleTextObject},
    {"AddFontPath", cmdAddFontPath},
    {"GetAvailableFonts", cmdGetAvailableFonts},
    {"Print", cmdPrint},
    {"NPrint", cmdNPrint},
    {"Locate", cmdLocate},
    {"SetMargins", cmdSetMargins},
    {"AddTab", cmdAddTab},
    {"ResetTabs", cmdResetTabs},
    {"InKeyStr", qxCmdInKeyStr},
    {nullptr, nullptr},
};

constexpr qxConstantDef textConstants[] = {
    {"NORMAL", nullptr, 1},
    {"BOLD", nullptr, 2},
    {"ITALIC", nullptr, 4},
    {"UNDERLINED", nullptr, 8},
    {"ANTIALIAS", nullptr, 16},
    {"SHADOW", nullptr, 32},
    {"EDGE", nullptr, 64},
    {"SHDWNORTH", nullptr, 0},
    {"SHDWNORTHEAST", nullptr, 1},
    {"SHDWEAST", nullptr, 2},
    {"SHDWSOUTHEAST", nullptr, 3},
    {"SHDWSOUTH", nullptr, 4},
    {"SHDWSOUTHWEST", nullptr, 5},
    {"SHDWWEST", nullptr, 6},
    {"SHDWNORTHWEST", nullptr, 7},
    {"BITMAP_DEFAULT", ":::default_bitmap", 0},
    {"TRUETYPE_DEFAULT", ":::default_truetype", 0},
    {"SANS", ":::default_sans", 0},
    {"SERIF", ":::default_serif", 0},
    {"MONOSPACE", ":::default_mono", 0},
    {"FONTENGINE_NATIVE", nullptr, 0},
    {"FONTENGINE_INBUILT", nullptr, 4},
    {"FONTWEIGHT_THIN", nullptr, 0},
    {"FONTWEIGHT_EXTRALIGHT", nullptr, 40},
    {"FONTWEIGHT_ULTRALIGHT", nullptr, 40},
    {"FONTWEIGHT_LIGHT", nullptr, 50},
    {"FONTWEIGHT_BOOK", nullptr, 75},
    {"FONTWEIGHT_NORMAL", nullptr, 80},
    {"FONTWEIGHT_REGULAR", nullptr, 80},
    {"FONTWEIGHT_MEDIUM", nullptr, 100},
    {"FONTWEIGHT_SEMIBOLD", nullptr, 180},
    {"FONTWEIGHT_DEMIBOLD", nullptr, 180},
    {"FONTWEIGHT_BOLD", nullptr, 200},
    {"FONTWEIGHT_EXTRABOLD", nullptr, 205},
    {"FONTWEIGHT_ULTRABOLD", nullptr, 205},
    {"FONTWEIGHT_HEAVY", nullptr, 210},
    {"FONTWEIGHT_BLACK", nullptr, 210},
    {"FONTWEIGHT_EXTRABLACK", nullptr, 215},
    {"FONTWEIGHT_ULTRABLACK", nullptr, 215},
    {"FONTSLANT_ROMAN", nullptr, 0},
    {"FONTSLANT_ITALIC", nullptr, 100},
    {"FONTSLANT_OBLIQUE", nullptr, 110},
    {"ENCODING_ISO8859_1", nullptr, 0},
    {"ENCODING_RAW", nullptr, 0},
    {"ENCODING_UTF8", nullptr, 1},
    {"ENCODING_AMIGA", nullptr, 2},
    {"ALL", nullptr, 0},
    {"ALPHANUMERICAL", nullptr, 1},
    {"ALPHABETICAL", nullptr, 2},
    {"NUMERICAL", nullptr, 3},
    {"HEXNUMERICAL", nullptr, 4},
    {nullptr, nullptr, 0},
};

} // namespace

namespace {
bool listsRegistered = false;
}

extern "C" int qxOpenTextLib(lua_State *L)
{
    // The default font opens with the declared objects, after the plug-ins.
    qxRegisterTextLayerTypes();
    qxLinkTextBrushSource();
    qxLinkTextAttributes();
    if (!listsRegistered) {
        // Object data, HaveObject and GetObjects reach them through the registry.
        listsRegistered = qxRegisterObjectList(qxTextObjectList(), QX_TYPE_TEXTOBJECT) == 0 &&
                          qxRegisterObjectList(qxFontObjectList(), 43) == 0;
    }
    return qxOpenCommandLibraryOf<textCommands, textConstants>(L, "text");
}

extern "C" void qxTextLibFree(lua_State *L)
{
    qxForgetTextCursors();
    qxFreeAllTextObjects(L);
    qxFreeAllFontObjects(L);
    qxCloseTextState();
    qxClearFontPaths();
}
