// The "bgpic" command library: creating, loading, copying, converting,
// scaling and freeing BGPics.
#include "objects/qx_objectlibs.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/commands/qx_args.h"
#include "core/commands/qx_commands.h"
#include "objects/qx_displaycore.h"
#include "objects/qx_selection.h"
#include "core/files/qx_chunkname.h"
#include "core/files/qx_file.h"
#include "core/vm/lauxlib.h"
#include "display/qx_bitmapscale.h"
#include "display/qx_bitmaptransform.h"
#include "display/qx_display.h"
#include "display/qx_displaycmds.h"
#include "display/qx_positions.h"
#include "objects/qx_bgpicobj.h"
#include "objects/qx_output.h"
#include "objects/qx_brush.h"
#include "objects/qx_gradientopts.h"
#include "objects/qx_objargs.h"
#include "objects/qx_objectuse.h"
#include "objects/qx_picsource.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"
#include "platform/x11/x11_display.h"

namespace {

bool listRegistered;

int freeOld(lua_State *L, const qxObjectRef &ref)
{
    return ref.automatic ? 0 : qxFreeBGPic(L, ref, 0);
}

// Makes a BGPic owning bitmap (freed on failure).
int addBGPic(lua_State *L, qxObjectRef &ref, uint32_t kind, int32_t width, int32_t height, qxBitMap *bitmap,
             const qxFillRecord *fill)
{
    if (int r = freeOld(L, ref)) {
        qxFreeBitMap(bitmap);
        return r;
    }
    if (int r = qxAllocBGPic(&ref, kind, width, height, uint32_t(width), nullptr, bitmap, nullptr, 0xFFFFFFFFu,
                             nullptr, nullptr, fill, nullptr)) {
        qxFreeBitMap(bitmap);
        return r;
    }
    return qxPushNewID(L, ref);
}

int cmdCreateBGPic(lua_State *L)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    qxObjectRef ref = qxNewIDRef(L, 1);
    int64_t width = 0, height = 0;
    qxSizeArg(L, 2, &width);
    qxSizeArg(L, 3, &height);
    const uint32_t colour = uint32_t(qxTruncToInt64(luaL_optnumber(L, 4, 0))) & 0xFFFFFF;
    if (width < 1 || height < 1)
        return ERR_WRONGUSAGE;
    if (width > 0x7FFFFFFF || height > 0x7FFFFFFF || width * height > int64_t(0x7FFFFFFF) / 4)
        return ERR_BITMAP;
    if (int r = freeOld(L, ref))
        return r;
    if (int r = qxCreateBGPicFromBitmap(&ref, int32_t(width), int32_t(height), colour, nullptr))
        return r;
    return qxPushNewID(L, ref);
}

int cmdCreateGradientBGPic(lua_State *L)
{
    qxCheckArgCount(L, 4, 8, 0, 0);
    qxObjectRef ref = qxNewIDRef(L, 1);
    int32_t width = 0, height = 0;
    qxFillRecord fill;
    qxBitMap *bm = nullptr;
    if (int r = qxCreateGradientObject(L, 2, &width, &height, &fill, &bm))
        return r;
    return addBGPic(L, ref, 1, width, height, bm, &fill);
}

int cmdCreateTexturedBGPic(lua_State *L)
{
    qxCheckArgCount(L, 2, 6, 0, 0);
    qxObjectRef ref = qxNewIDRef(L, 1);
    int32_t width = 0, height = 0;
    qxFillRecord fill;
    qxBitMap *bm = nullptr;
    if (int r = qxCreateTexturedObject(L, 2, &width, &height, &fill, &bm)) {
        qxFreeBitMap(fill.textureBitmap);
        return r;
    }
    qxBitMap *texture = fill.textureBitmap;
    const int r = addBGPic(L, ref, 1, width, height, bm, &fill);
    if (r > 1) {
        qxFreeBitMap(texture);
        return r;
    }
    if (qxBGPic *b = qxFindBGPicRecord(ref))
        b->fill.textureBitmap = texture;
    else
        qxFreeBitMap(texture);
    return r;
}

int cmdFreeBGPic(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    return qxFreeBGPic(L, qxGetObjectIDArg(L, 1), 1);
}

int cmdCopyBGPic(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    const qxObjectRef src = qxGetObjectIDArg(L, 1);
    qxObjectRef ref = qxNewIDRef(L, 2);
    qxBGPic *b = nullptr;
    if (int r = qxFindBGPic(L, src, &b, 0))
        return r;
    if (!ref.automatic && !src.automatic && ref.number == src.number)
        return ERR_WRONGUSAGE;
    if (int r = freeOld(L, ref))
        return r;
    if (int r = qxCopyBGPicData(L, b, &ref))
        return r;
    return qxPushNewID(L, ref);
}

int cmdBrushToBGPic(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    const qxObjectRef brushRef = qxGetObjectIDArg(L, 1);
    qxObjectRef ref = qxNewIDRef(L, 2);
    qxBrush *brush = nullptr;
    if (int r = qxFindBrush(L, brushRef, &brush, 0))
        return r;
    if (brush->kind == QX_BRUSH_VECTOR && brush->scaled)
        return ERR_TFVBRUSHBGPIC;
    if (!brush->bitmap)
        return ERR_BITMAP;
    qxBitMap *bm = nullptr, *m = nullptr, *a = nullptr;
    if (int r = qxCopyImageRect(brush->bitmap, brush->mask, brush->alpha, 0, 0, int32_t(brush->width),
                                int32_t(brush->height), 0, 0, 0, 0, &bm, brush->mask ? &m : nullptr,
                                brush->alpha ? &a : nullptr))
        return r;
    if (int r = freeOld(L, ref)) {
        qxFreeImagePlanes(bm, m, a);
        return r;
    }
    qxPicSource *source = brush->kind == QX_BRUSH_VECTOR ? brush->source : nullptr;
    if (int r = qxAllocBGPic(&ref, brush->kind, int32_t(brush->width), int32_t(brush->height), brush->width, source,
                             bm, nullptr, brush->transparentColour, m, a, nullptr, nullptr)) {
        qxFreeImagePlanes(bm, m, a);
        return r;
    }
    if (source)
        qxPicSourceRetain(source);
    return qxPushNewID(L, ref);
}

int cmdBGPicToBrush(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    const qxObjectRef id = qxGetObjectIDArg(L, 1);
    qxObjectRef ref = qxNewIDRef(L, 2);
    qxBGPic *b = nullptr;
    if (int r = qxFindBGPic(L, id, &b, 0))
        return r;
    if (b->kind == 1 && (b->width != b->baseWidth || b->height != b->baseHeight))
        return ERR_TFVBGPICBRUSH;
    if (!b->bitmap)
        return ERR_BITMAP;
    if (!ref.automatic)
        if (int r = qxFreeBrush(L, ref, 0))
            return r;
    qxBitMap *bm = nullptr, *m = nullptr, *a = nullptr;
    if (int r = qxCopyImageRect(b->bitmap, b->mask, b->alpha, 0, 0, b->width, b->height, 0, 0, 0, 0, &bm,
                                b->mask ? &m : nullptr, b->alpha ? &a : nullptr))
        return r;
    const bool vector = b->kind == 1 && b->source;
    qxPicSource *source = vector ? b->source : nullptr;
    if (int r = qxAddBrush(&ref, vector ? QX_BRUSH_VECTOR : QX_BRUSH_PIXELS, uint32_t(b->width), uint32_t(b->height),
                           uint32_t(b->width), 0, source, bm, b->transparentColour, m, a, nullptr, nullptr)) {
        qxFreeImagePlanes(bm, m, a);
        return r;
    }
    if (source)
        qxPicSourceRetain(source);
    return qxPushNewID(L, ref);
}

// A copy of what the display shows, its BGPic with the layers and what was
// drawn over it, for the transition engine. Given next, the BGPic about to
// be shown: a display that does not scale its BGPic shows that one at its
// own size, so the copy is scaled to it.
int copyShown(qxDisplay *d, const qxBGPic *next, qxBitMap **out)
{
    if (!out)
        return 0;
    *out = nullptr;
    const qxBGPic *b = d->bgpic;
    qxBitMap *shown = qxDisplayWorkBitmap(d, 1);
    if (!shown)
        shown = b ? b->curBitmap : nullptr;
    if (!shown)
        return ERR_BITMAP;
    const int32_t w = int32_t(shown->width), h = int32_t(shown->height);
    const bool scales = d->layerScale && d->scaledWidth && d->scaledHeight;
    if (next && !scales && (w != next->width || h != next->height))
        return qxScalePixels(shown, nullptr, nullptr, 0, 0, nullptr, w, h, next->width, next->height,
                             (d->flags & QX_DISP_SMOOTHSCALE) ? 1 : 0, 0, out, nullptr, nullptr);
    return qxCopyImageRect(shown, nullptr, nullptr, 0, 0, w, h, 0, 0, 0, 0, out, nullptr, nullptr);
}

} // namespace

namespace {
int renderAtSize(lua_State *L, qxBGPic *b, int32_t width, int32_t height, int smooth, qxBitMap **bm,
                 qxBitMap **mask, qxBitMap **alpha);
}

extern "C" int qxScaleBGPicPlanes(lua_State *L, qxBGPic *b, int32_t width, int32_t height, int smooth)
{
    if (width == b->width && height == b->height)
        return 0;
    if (width < 1 || height < 1)
        return ERR_BADDIMENSIONS;
    if (int64_t(width) * height > int64_t(0x7FFFFFFF) / 4)
        return ERR_BITMAP;
    qxBitMap *bm = nullptr, *m = nullptr, *a = nullptr;
    if (int r = renderAtSize(L, b, width, height, smooth, &bm, &m, &a))
        return r;
    qxFreeBGPicWorkBitmaps(b);
    b->bitmap = b->curBitmap = bm;
    b->mask = b->curMask = m;
    b->alpha = b->curAlpha = a;
    b->width = b->curWidth = width;
    b->height = b->curHeight = height;
    return 0;
}

extern "C" int qxDisplayBGPicCmd(lua_State *L, qxObjectRef id, int x, int y, int forTransition, qxBitMap **outNew,
                                 qxBitMap **outOld)
{
    qxBGPic *b = nullptr;
    if (int r = qxFindBGPic(L, id, &b, 0))
        return r;
    qxDisplay *d = qxCurrentDisplay;
    if (!d)
        return ERR_WRONGUSAGE;
    if (!b->curBitmap)
        return ERR_BITMAP;
    if (forTransition)
        if (int r = copyShown(d, b, outOld))
            return r;
    // Shown again, the BGPic loses what was drawn over it on the display.
    if (d->bgpic == b) {
        qxForgetDisplayWork(d);
        if (qxBitMapDisplay.showBGPic)
            if (int r = qxBitMapDisplay.showBGPic(L, d))
                return r;
    }
    // The display-attribute road of SetDisplayAttributes({bgpic, x, y}).
    const int top = lua_gettop(L);
    lua_newtable(L);
    const int t = lua_gettop(L);
    auto set = [&](const char *key) {
        lua_pushstring(L, key);
        lua_insert(L, -2);
        lua_rawset(L, t);
    };
    if (id.automatic)
        lua_pushlightuserdata(L, id.automatic);
    else
        lua_pushnumber(L, id.number);
    set("bgpic");
    // KEEPPOSITION is left out, so the display keeps its place; 200000
    // centres when the size changes.
    if (x != 100000) {
        lua_pushnumber(L, x);
        set("x");
    }
    if (y != 100000) {
        lua_pushnumber(L, y);
        set("y");
    }
    const int r = qxApplyDisplayAttrs(L, t, d, forTransition);
    lua_settop(L, top);
    if (r) {
        if (outOld) {
            qxFreeBitMap(*outOld);
            *outOld = nullptr;
        }
        return r;
    }
    if (forTransition)
        if (int r = copyShown(d, nullptr, outNew)) {
            if (outOld) {
                qxFreeBitMap(*outOld);
                *outOld = nullptr;
            }
            return r;
        }
    return 0;
}

namespace {

// New planes of a BGPic at width x height made from its base planes: pixel
// scaling, or re-rendering for a re-renderable BGPic.
int renderAtSize(lua_State *L, qxBGPic *b, int32_t width, int32_t height, int smooth, qxBitMap **bm,
                 qxBitMap **mask, qxBitMap **alpha)
{
    *bm = *mask = *alpha = nullptr;
    if (b->kind == 1 && !b->source && b->fill.style >= QX_FILL_GRADIENT) {
        *bm = qxAllocBitMap(uint32_t(width), uint32_t(height), 0, nullptr);
        if (!*bm)
            return ERR_BITMAP;
        if (int r = qxFillBitMapFromRecord(L, *bm, &b->fill, width, height)) {
            qxFreeBitMap(*bm);
            *bm = nullptr;
            return r;
        }
        return 0;
    }
    if (b->kind == 1 && b->source) {
        const double matrix[4] = {double(width) / b->baseWidth, 0, 0, double(height) / b->baseHeight};
        uint32_t *pixels = nullptr, pitch = 0;
        if (qxPicSourceTransform(L, b->source, matrix, 0, 0, width, height, nullptr, nullptr, &pixels, nullptr,
                                 nullptr, &pitch) == 0 &&
            pixels) {
            // The rendered pixels stay the source's.
            return qxRenderBGPicImage(L, pixels, &b->fill, b->transparentColour, width, height,
                                      pitch ? pitch / 4 : uint32_t(width), bm, mask, alpha);
        }
    }
    return qxScalePixels(b->baseBitmap, b->baseMask, b->baseAlpha, 0, 0, nullptr, b->baseWidth, b->baseHeight, width,
                         height, smooth ? 1 : 0, 0, bm, b->baseMask ? mask : nullptr, b->baseAlpha ? alpha : nullptr);
}

int cmdScaleBGPic(lua_State *L)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    const qxObjectRef id = qxGetObjectIDArg(L, 1);
    qxBGPic *b = nullptr;
    if (int r = qxFindBGPic(L, id, &b, 1))
        return r;
    if (qxFindDisplayForBGPic(b))
        return ERR_SCALEBGPIC;
    if (qxIsCurrentOutputObject(QX_TYPE_BGPIC, id))
        return ERR_MODIFYABGPIC;
    const double w = qxGetNumberOrPercentArg(L, 2, b->width, 1, nullptr);
    const double h = qxGetNumberOrPercentArg(L, 3, b->height, 1, nullptr);
    const int smooth = luaL_optint(L, 4, 0);
    const int64_t wi = qxTruncToInt64(w), hi = qxTruncToInt64(h);
    if (wi > 0x7FFFFFFF || hi > 0x7FFFFFFF || wi < -0x7FFFFFFF || hi < -0x7FFFFFFF)
        return ERR_BITMAP;
    int width = int(wi), height = int(hi);
    if (int r = qxComputeScaledSize(b->width, b->height, &width, &height))
        return r;
    return qxScaleBGPicPlanes(L, b, width, height, smooth);
}

struct LoadOptions {
    uint32_t transparent = 0xFFFFFFFFu;
    int loadAlpha = 0, loadTransparency = 0, smooth = 0;
    int32_t scaleWidth = 0, scaleHeight = 0;
    char loader[257] = "", adapter[257] = "";
    qxFillRecord fill{};
};

// The "gradient" key as start-up declarations give it: a table with the
// gradient's fields without the prefix.
int readGradientTable(lua_State *L, int t, qxGradient *g)
{
    if (t < 0)
        t = lua_gettop(L) + t + 1;
    lua_pushstring(L, "gradient");
    lua_gettable(L, t);
    if (!lua_istable(L, -1)) {
        lua_pop(L, 1);
        return 0;
    }
    const int sub = lua_gettop(L);
    int v = 0;
    if (qxGetFieldInt(L, sub, "style", &v, nullptr))
        g->type = v;
    if (qxGetFieldColor(L, sub, "startcolor", &v, nullptr))
        g->startColour = uint32_t(v) & 0xFFFFFF;
    if (qxGetFieldColor(L, sub, "endcolor", &v, nullptr))
        g->endColour = uint32_t(v) & 0xFFFFFF;
    qxGetFieldInt(L, sub, "angle", &g->angle, nullptr);
    const int r = qxReadGradientOptions(L, sub, g, "centerx", "centery", "balance", "border", "colors", nullptr);
    lua_settop(L, sub - 1);
    return r;
}

} // namespace

extern "C" int qxReadFillFields(lua_State *L, int t, qxFillRecord *fill)
{
    if (fill->style == QX_FILL_GRADIENT) {
        // A gradient already set (a display's fill being changed) keeps the
        // fields the table does not give.
        if (int r = qxReadGradientFields(L, t, &fill->gradient, 0, fill->gradient.type == 0))
            return r;
        if (int r = readGradientTable(L, t, &fill->gradient))
            return r;
    }
    qxGetFieldID(L, t, "texturebrush", &fill->textureBrush, nullptr);
    qxGetFieldInt(L, t, "texturex", &fill->textureX, nullptr);
    qxGetFieldInt(L, t, "texturey", &fill->textureY, nullptr);
    return 0;
}

namespace {

int readLoadOptions(lua_State *L, int t, LoadOptions &o)
{
    int v = 0;
    if (qxGetFieldColor(L, t, "transparency", &v, nullptr))
        o.transparent = uint32_t(v) & 0xFFFFFF;
    qxFlagField(L, t, "loadalpha", &o.loadAlpha);
    qxFlagField(L, t, "loadtransparency", &o.loadTransparency);
    int style = 0, haveStyle = 0;
    qxGetFieldInt(L, t, "fillstyle", &style, &haveStyle);
    if (qxGetFieldColor(L, t, "fillcolor", &v, nullptr)) {
        o.fill.colour = uint32_t(v) & 0xFFFFFF;
        if (!haveStyle)
            style = QX_FILL_COLOR;
    }
    if (style < 0 || style > 3)
        return ERR_WRONGUSAGE;
    o.fill.style = uint32_t(style);
    if (int r = qxReadFillFields(L, t, &o.fill))
        return r;
    if (int r = qxScaleField(L, t, "scalewidth", &o.scaleWidth))
        return r;
    if (int r = qxScaleField(L, t, "scaleheight", &o.scaleHeight))
        return r;
    qxFlagField(L, t, "smoothscale", &o.smooth);
    qxGetFieldStr(L, t, "loader", o.loader, sizeof o.loader, nullptr);
    qxGetFieldStr(L, t, "adapter", o.adapter, sizeof o.adapter, nullptr);
    return 0;
}

// The palette argument: colours from index 0 until -1 or 256 entries; an
// end mark always follows, so readers never run past the table.
int readPalette(lua_State *L, int index, uint32_t **out)
{
    luaL_checktable(L, index);
    auto *palette = static_cast<uint32_t *>(std::malloc(257 * sizeof(uint32_t)));
    if (!palette)
        return ERR_MEM;
    int count = 0;
    for (; count < 256; count++) {
        lua_rawgeti(L, index, count);
        if (lua_isnil(L, -1)) {
            lua_pop(L, 1);
            break;
        }
        const uint32_t c = uint32_t(qxTruncToInt64(luaL_checknumber(L, -1)));
        lua_pop(L, 1);
        if (c == 0xFFFFFFFFu)
            break;
        palette[count] = c & 0xFFFFFF;
    }
    for (int i = count; i < 257; i++)
        palette[i] = 0xFFFFFFFFu;
    *out = palette;
    return 0;
}

// #KEEPASPRAT in "scalewidth" or "scaleheight" needs the picture's own size
// first; the other size may be a percentage of it.
int resolveKeepAspect(const char *file, LoadOptions &o)
{
    constexpr int32_t keep = 100000;
    if (o.scaleWidth != keep && o.scaleHeight != keep)
        return 0;
    uint32_t width = 0, height = 0;
    if (int r = qxOpenImage(file, o.loader[0] ? o.loader : nullptr, o.adapter[0] ? o.adapter : nullptr, nullptr,
                            0xFFFFFFFFu, 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr, &width, &height, nullptr,
                            nullptr, nullptr, nullptr))
        return r;
    auto absolute = [](int32_t v, uint32_t natural) {
        return v < 0 ? int(int64_t(natural) * -v / 100) : v == 0 ? int(natural) : int(v);
    };
    int w = o.scaleWidth == keep ? keep : absolute(o.scaleWidth, width);
    int h = o.scaleHeight == keep ? keep : absolute(o.scaleHeight, height);
    if (int r = qxComputeScaledSize(int(width), int(height), &w, &h))
        return r;
    o.scaleWidth = w, o.scaleHeight = h;
    return 0;
}

int cmdLoadBGPic(lua_State *L)
{
    qxCheckArgCount(L, 2, 4, 0, 0);
    const int n = lua_gettop(L);
    qxObjectRef ref = qxNewIDRef(L, 1);
    std::string file = qxGetFileNameArg(L, 2, 0, nullptr);
    LoadOptions o;
    uint32_t *palette = nullptr;
    if (n == 3) {
        if (lua_istable(L, 3)) {
            if (int r = readLoadOptions(L, 3, o))
                return r;
        } else {
            const double c = luaL_checknumber(L, 3);
            o.transparent = c < 0 ? 0xFFFFFFFFu : uint32_t(qxTruncToInt64(c)) & 0xFFFFFF;
        }
    } else if (n == 4) {
        if (int r = readPalette(L, 4, &palette))
            return r;
    }
    auto fail = [&](int code) {
        std::free(palette);
        return code;
    };
    if (o.loadAlpha && o.loadTransparency)
        return fail(ERR_WRONGUSAGE);
    if (o.loadTransparency && o.transparent != 0xFFFFFFFFu)
        return fail(ERR_WRONGUSAGE);
    if (o.loadAlpha && o.transparent != 0xFFFFFFFFu)
        return fail(ERR_MASKNALPHA);
    if (int r = freeOld(L, ref))
        return fail(r);
    if (int r = resolveKeepAspect(file.c_str(), o))
        return fail(r);
    qxDebugPrintLine("Loading BGPic %s", file.c_str(), 1);
    qxPicSource *source = nullptr;
    qxBitMap *alpha = nullptr;
    uint32_t width = 0, height = 0, pitch = 0, hasAlpha = 0, scalable = 0, found = 0xFFFFFFFFu;
    qxPluginInfo *loader = nullptr;
    if (int r = qxOpenImage(file.c_str(), o.loader[0] ? o.loader : nullptr, o.adapter[0] ? o.adapter : nullptr,
                            palette, 0xFFFFFFFFu, 0, o.loadAlpha, o.loadTransparency, o.scaleWidth, o.scaleHeight,
                            o.smooth, &source, reinterpret_cast<void **>(&alpha), nullptr, &found, &width, &height,
                            &pitch, &hasAlpha, &scalable, &loader)) {
        qxPrintFailed();
        return fail(r);
    }
    uint32_t transparent = scalable ? 0xFFFFFFFFu : o.transparent;
    if (!scalable && found != 0xFFFFFFFFu && (o.loadTransparency || o.transparent != 0xFFFFFFFFu))
        transparent = found & 0xFFFFFF;
    const uint32_t rowLength = pitch ? pitch / 4 : width;
    qxBitMap *bm = nullptr, *mask = nullptr;
    const bool deferred = qxGetTag(QX_TAG_STORED) != 0;
    auto failLoad = [&](int code) {
        qxFreeImagePlanes(bm, mask, alpha);
        qxPicSourceRelease(source);
        qxPrintFailed();
        return fail(code);
    };
    if (!deferred) {
        const uint32_t *pixels = qxPicSourceBitMap(source);
        if (!pixels)
            return failLoad(ERR_BITMAP);
        if (int r = qxRenderBGPicImage(L, pixels, &o.fill, transparent, int32_t(width), int32_t(height), rowLength,
                                       &bm, &mask, &alpha)) {
            alpha = nullptr; // freed by the renderer
            return failLoad(r);
        }
        if (!scalable) {
            qxPicSourceRelease(source);
            source = nullptr;
        }
    }
    qxBGPic *b = nullptr;
    if (int r = qxAllocBGPic(&ref, scalable ? 1 : 0, int32_t(width), int32_t(height), rowLength, source, bm,
                             palette, transparent, mask, alpha, &o.fill, &b))
        return failLoad(r);
    b->loader = loader;
    b->deferred = deferred;
    qxPrintDone();
    return qxPushNewID(L, ref);
}

int cmdDisplayBGPic(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    const qxObjectRef id = qxGetObjectIDArg(L, 1);
    int x = 200000, y = 200000; // not given: centred when the size changes
    if (lua_gettop(L) == 2 && lua_istable(L, 2)) {
        qxGetFieldInt(L, 2, "x", &x, nullptr);
        qxGetFieldInt(L, 2, "y", &y, nullptr);
    }
    return qxDisplayBGPicCmd(L, id, x, y, 0, nullptr, nullptr);
}

constexpr qxCommandDef bgpicCommands[] = {
    {"DisplayBGPic", cmdDisplayBGPic},
    {"ScaleBGPic", cmdScaleBGPic},
    {"CreateGradientBGPic", cmdCreateGradientBGPic},
    {"CreateRainbowBGPic", cmdCreateGradientBGPic},
    {"CreateTexturedBGPic", cmdCreateTexturedBGPic},
    {"BrushToBGPic", cmdBrushToBGPic},
    {"BGPicToBrush", cmdBGPicToBrush},
    {"CreateBGPic", cmdCreateBGPic},
    {"FreeBGPic", cmdFreeBGPic},
    {"LoadBGPic", cmdLoadBGPic},
    {"CopyBGPic", cmdCopyBGPic},
    {"DisplayBGPicPart", qxCmdDisplayBGPicPart},
    {"SelectBGPic", qxCmdSelectBGPic},
    {"EndSelect", qxCmdEndSelect},
    {nullptr, nullptr},
};

constexpr qxConstantDef bgpicConstants[] = {
    {nullptr, nullptr, 0},
};

} // namespace

extern "C" int qxOpenBGPicLib(lua_State *L)
{
    if (!listRegistered && qxRegisterObjectList(&qxBGPics, QX_TYPE_BGPIC) == 0)
        listRegistered = true;
    qxLinkPicSourceCounting();
    return qxOpenCommandLibraryOf<bgpicCommands, bgpicConstants>(L, "bgpic");
}
