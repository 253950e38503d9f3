// The "brush" command library: creating, loading, copying, saving and
// freeing brushes, and the brushes made from shadows, the desktop and
// pixel tables.
#include "objects/qx_objectlibs.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/commands/qx_commands.h"
#include "core/files/qx_chunkname.h"
#include "core/files/qx_file.h"
#include "core/vm/lauxlib.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapeffects.h"
#include "display/qx_bitmapplanes.h"
#include "display/qx_display.h"
#include "display/qx_snapshot.h"
#include "imaging/qx_blit.h"
#include "objects/qx_brush.h"
#include "objects/qx_brushimage.h"
#include "objects/qx_displaycore.h"
#include "objects/qx_output.h"
#include "objects/qx_selection.h"
#include "objects/qx_brushinternal.h"
#include "objects/qx_objargs.h"
#include "objects/qx_picsource.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"
#include "platform/x11/x11_display.h"

namespace {

bool listRegistered;

void registerList()
{
    if (!listRegistered && qxRegisterObjectList(&qxBrushes, QX_TYPE_BRUSH) == 0)
        listRegistered = true;
}

int freeOld(lua_State *L, const qxObjectRef &ref)
{
    if (ref.automatic)
        return 0;
    return qxFreeBrush(L, ref, 0);
}

int cmdCreateBrush(lua_State *L)
{
    qxCheckArgCount(L, 3, 5, 0, 0);
    qxObjectRef ref = qxNewIDRef(L, 1);
    int64_t width = 0, height = 0;
    if (int r = qxSizeArg(L, 2, &width))
        return r;
    if (int r = qxSizeArg(L, 3, &height))
        return r;
    const uint32_t colour = uint32_t(luaL_optnumber(L, 4, 0)) & 0xFFFFFF;
    int mask = 0, alpha = 0, clear = 0, hardware = 0, smooth = 0, haveDisplay = 0;
    qxObjectRef display{0, nullptr};
    if (lua_gettop(L) >= 5 && !lua_isnil(L, 5)) {
        luaL_checktable(L, 5);
        qxFlagField(L, 5, "alphachannel", &alpha);
        qxFlagField(L, 5, "mask", &mask);
        qxFlagField(L, 5, "clear", &clear);
        qxFlagField(L, 5, "hardware", &hardware);
        qxFlagField(L, 5, "smoothscale", &smooth);
        qxGetFieldID(L, 5, "display", &display, &haveDisplay);
    }
    if (width < 1 || height < 1)
        return ERR_BADDIMENSIONS;
    if (mask && alpha)
        return ERR_WRONGUSAGE;
    if (int r = qxCheckBrushSize(width, height))
        return r;
    if (int r = freeOld(L, ref))
        return r;
    if (int r = qxFillBrushPixels(&ref, int32_t(width), int32_t(height), colour, mask, alpha, clear, 0, hardware,
                                  smooth, haveDisplay ? &display : nullptr))
        return r;
    return qxPushNewID(L, ref);
}

struct LoadOptions {
    uint32_t transparent = 0xFFFFFFFFu;
    uint32_t legacyA = 0xFFFFFFFFu;
    int legacyB = 0;
    int loadAlpha = 0, loadTransparency = 0, hardware = 0, smooth = 0, cacheAlpha = 0;
    int globalAlpha = -1;
    int64_t x = 0, y = 0, width = 0, height = 0;
    int32_t scaleWidth = 0, scaleHeight = 0;
    int haveDisplay = 0;
    qxObjectRef display{0, nullptr};
    char loader[256] = "", adapter[256] = "", cache[512] = "", cachedLoad[512] = "";
};

int readLoadOptions(lua_State *L, int t, LoadOptions &o)
{
    int v = 0, found = 0;
    if (qxGetFieldColor(L, t, "transparency", &v, &found))
        o.transparent = uint32_t(v) & 0xFFFFFF;
    qxFlagField(L, t, "loadalpha", &o.loadAlpha);
    qxFlagField(L, t, "loadtransparency", &o.loadTransparency);
    double d = 0;
    if (qxGetFieldNum(L, t, "globalalpha", &d, nullptr))
        o.globalAlpha = std::isnan(d) ? 0 : int(std::fmin(255.0, std::fmax(0.0, d)));
    struct {
        const char *key;
        int64_t *out;
    } ints[] = {{"x", &o.x}, {"y", &o.y}, {"width", &o.width}, {"height", &o.height}};
    for (auto &i : ints)
        if (qxGetFieldNum(L, t, i.key, &d, nullptr))
            *i.out = qxTruncToInt64(d);
    qxFlagField(L, t, "hardware", &o.hardware);
    if (int r = qxScaleField(L, t, "scalewidth", &o.scaleWidth))
        return r;
    if (int r = qxScaleField(L, t, "scaleheight", &o.scaleHeight))
        return r;
    qxFlagField(L, t, "smoothscale", &o.smooth);
    qxGetFieldID(L, t, "display", &o.display, &o.haveDisplay);
    qxGetFieldStr(L, t, "loader", o.loader, sizeof o.loader, nullptr);
    qxGetFieldStr(L, t, "adapter", o.adapter, sizeof o.adapter, nullptr);
    qxGetFieldStr(L, t, "cache", o.cache, sizeof o.cache, nullptr);
    qxGetFieldStr(L, t, "cachedload", o.cachedLoad, sizeof o.cachedLoad, nullptr);
    qxFlagField(L, t, "cachealpha", &o.cacheAlpha);
    if (o.loadAlpha && o.loadTransparency)
        return ERR_WRONGUSAGE;
    if (o.loadTransparency && o.transparent != 0xFFFFFFFFu)
        return ERR_WRONGUSAGE;
    if (o.loadAlpha)
        o.cacheAlpha = 0;
    return 0;
}

// Scales an alpha plane by value / 255, or makes one filled with value.
int applyGlobalAlpha(qxBitMap **alpha, uint32_t width, uint32_t height, int value)
{
    if (*alpha) {
        qxScaleAlpha(*alpha, *alpha, int32_t(height), uint32_t(value));
        return 0;
    }
    *alpha = qxAllocAlphaBitMap(width, height, 1, nullptr, 0);
    qxPlane p = qxPlaneOf(*alpha);
    if (!p.bytes)
        return ERR_ALLOCALPHA;
    std::memset(p.bytes, value, size_t(p.bytesPerRow) * size_t(p.height));
    return 0;
}

int cmdLoadBrush(lua_State *L)
{
    qxCheckArgCount(L, 2, 5, 0, 0);
    const int n = lua_gettop(L);
    qxObjectRef ref = qxNewIDRef(L, 1);
    std::string file = qxGetFileNameArg(L, 2, 0, nullptr);
    LoadOptions o;
    if (n == 5) {
        o.transparent = uint32_t(luaL_checknumber(L, 3)) & 0xFFFFFF;
        if (luaL_checknumber(L, 3) < 0)
            o.transparent = 0xFFFFFFFFu;
        o.legacyA = uint32_t(luaL_checkint(L, 4));
        o.legacyB = luaL_checkint(L, 5);
    } else if (n == 3) {
        if (lua_istable(L, 3)) {
            if (int r = readLoadOptions(L, 3, o))
                return r;
        } else {
            const double c = luaL_checknumber(L, 3);
            o.transparent = c < 0 ? 0xFFFFFFFFu : uint32_t(qxTruncToInt64(c)) & 0xFFFFFF;
        }
    }
    if ((o.loadAlpha || o.globalAlpha >= 0) && o.transparent != 0xFFFFFFFFu)
        return ERR_MASKNALPHA;
    if (int r = freeOld(L, ref))
        return r;
    qxDebugPrintLine("Loading brush %s", file.c_str(), 1);
    const bool deferred = qxGetTag(QX_TAG_STORED) != 0;
    qxPicSource *source = nullptr;
    qxBitMap *alpha = nullptr;
    uint32_t width = 0, height = 0, pitch = 0, hasAlpha = 0, scalable = 0, transparentFound = 0xFFFFFFFFu;
    qxPluginInfo *loader = nullptr;
    auto fail = [&](int code) {
        if (alpha)
            qxFreeAlphaBitMap(alpha);
        if (source)
            qxPicSourceRelease(source);
        qxPrintFailed();
        return code;
    };
    if (deferred && o.cachedLoad[0]) {
        uint32_t flags = 0, extra = 0;
        // The cache hands out a reference on the source and a copy of its alpha channel.
        if (int r = qxFindGfxCacheEntry(o.cachedLoad, o.loadAlpha, &width, &height, &flags, &source, &alpha, &extra))
            return fail(r);
        pitch = extra ? extra : width * 4;
        scalable = flags & 1;
    } else {
        const int alphaMode = o.loadAlpha ? 1 : (deferred && o.cache[0] && o.cacheAlpha) ? 1 : 0;
        if (int r = qxOpenImage(file.c_str(), o.loader[0] ? o.loader : nullptr, o.adapter[0] ? o.adapter : nullptr,
                                nullptr, o.legacyA, o.legacyB, alphaMode, o.loadTransparency, o.scaleWidth,
                                o.scaleHeight, o.smooth, &source, reinterpret_cast<void **>(&alpha), nullptr,
                                &transparentFound, &width, &height, &pitch, &hasAlpha, &scalable, &loader))
            return fail(r);
        if (deferred && o.cache[0]) {
            // The entry takes its own reference and copy of the alpha channel.
            if (int r = qxAddGfxCacheEntry(o.cache, width, height, scalable ? 1 : 0, source, alpha, pitch))
                return fail(r);
            if (o.cacheAlpha && alpha) {
                qxFreeAlphaBitMap(alpha);
                alpha = nullptr;
            }
        }
    }
    const uint32_t rowPixels = pitch / 4;
    uint32_t transparent = scalable ? 0xFFFFFFFFu : o.transparent;
    if (!scalable && transparentFound != 0xFFFFFFFFu && (o.loadTransparency || o.transparent != 0xFFFFFFFFu))
        transparent = transparentFound & 0xFFFFFF; // the file's own pen wins
    if (o.globalAlpha >= 0) {
        if (int r = applyGlobalAlpha(&alpha, width, height, o.globalAlpha))
            return fail(r);
    }
    // The part of the picture: a position equal to the size is outside.
    if (o.x < 0 || o.y < 0)
        return fail(ERR_NEGCOORDS);
    if (o.x >= int64_t(width) || o.y >= int64_t(height))
        return fail(ERR_COORDSRANGE);
    int64_t pw = o.width > 0 ? o.width : width, ph = o.height > 0 ? o.height : height;
    pw = std::min<int64_t>(pw, int64_t(width) - o.x);
    ph = std::min<int64_t>(ph, int64_t(height) - o.y);
    const bool whole = o.x == 0 && o.y == 0 && pw == width && ph == height;
    if (scalable && !whole)
        return fail(ERR_BRUSHTYPE);
    qxBrush *b = nullptr;
    qxBitMap *bm = nullptr, *mask = nullptr;
    qxDisplay *display = nullptr;
    if (!deferred) {
        const uint32_t *pixels = qxPicSourceBitMap(source);
        if (!pixels)
            return fail(ERR_BITMAP);
        const uint32_t *start = pixels + size_t(o.y) * rowPixels + size_t(o.x);
        if (alpha && !whole) {
            qxBitMap *cut = qxCutAlpha(alpha, uint32_t(o.x), uint32_t(o.y), uint32_t(pw), uint32_t(ph));
            if (!cut)
                return fail(ERR_ALLOCALPHA);
            qxFreeAlphaBitMap(alpha);
            alpha = cut;
        }
        if (int r = qxBrushBitMapFromARGB(start, transparent, int32_t(pw), int32_t(ph), int32_t(rowPixels), o.smooth,
                                          alpha, o.hardware, o.haveDisplay ? &o.display : nullptr, &bm, &mask,
                                          &display))
            return fail(r);
        const bool hardware = o.hardware && bm->video;
        if (!scalable || hardware) {
            qxPicSourceRelease(source);
            source = nullptr;
            scalable = 0;
        }
    }
    const uint32_t kind = scalable ? QX_BRUSH_VECTOR : QX_BRUSH_PIXELS;
    if (int r = qxAddBrush(&ref, kind, uint32_t(pw), uint32_t(ph), rowPixels, 0, source, bm, transparent, mask,
                           alpha, o.haveDisplay ? &o.display : nullptr, &b)) {
        qxFreeImagePlanes(bm, mask, nullptr);
        return fail(r);
    }
    b->loader = loader;
    b->smooth = o.smooth != 0;
    b->hardware = o.hardware && bm && bm->video;
    if (b->hardware) {
        b->hardwareFlags = (transparent != 0xFFFFFFFFu ? QX_HWBRUSH_MASK : 0) | (alpha ? QX_HWBRUSH_ALPHA : 0);
        b->display = display;
    }
    b->scaled = kind == QX_BRUSH_VECTOR && (o.scaleWidth || o.scaleHeight);
    if (deferred) {
        b->cropX = uint32_t(o.x), b->cropY = uint32_t(o.y);
        b->cropWidth = uint32_t(pw), b->cropHeight = uint32_t(ph);
        b->hardware = o.hardware; // decided when realised
    }
    qxPrintDone();
    return qxPushNewID(L, ref);
}

int cmdCopyBrush(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    const qxObjectRef src = qxGetObjectIDArg(L, 1);
    qxObjectRef ref = qxNewIDRef(L, 2);
    int hardware = -1, smooth = 0, haveDisplay = 0;
    qxObjectRef display{0, nullptr};
    if (lua_gettop(L) >= 3 && !lua_isnil(L, 3)) {
        luaL_checktable(L, 3);
        int h = 0;
        if (qxFlagField(L, 3, "hardware", &h))
            hardware = h;
        qxFlagField(L, 3, "smoothscale", &smooth);
        qxGetFieldID(L, 3, "display", &display, &haveDisplay);
    }
    if (!ref.automatic && !src.automatic && ref.number == src.number)
        return ERR_WRONGUSAGE;
    qxBrush *b = nullptr;
    if (int r = qxFindBrush(L, src, &b, QX_FIND_HARDWARE))
        return r;
    if (b->hardware && hardware == 0)
        return ERR_WRONGUSAGE;
    if (int r = freeOld(L, ref))
        return r;
    // The old brush may have been the one found: look again.
    if (int r = qxFindBrush(L, src, &b, QX_FIND_HARDWARE))
        return r;
    const bool hw = hardware == 1 || b->hardware;
    if (int r = qxCopyBrush(L, b, &ref, hw, smooth, haveDisplay ? &display : nullptr))
        return r;
    return qxPushNewID(L, ref);
}

int cmdFreeBrush(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    return qxFreeBrush(L, qxGetObjectIDArg(L, 1), 1);
}

int cmdSaveBrush(lua_State *L)
{
    qxCheckArgCount(L, 2, 5, 0, 0);
    const qxObjectRef id = qxGetObjectIDArg(L, 1);
    std::string file = qxGetFileNameArg(L, 2, 0, nullptr);
    const double tc = luaL_optnumber(L, 3, 0);
    const int format = luaL_optint(L, 4, 0);
    qxSaveOptions opts{0, 90, 256, 0};
    if (lua_gettop(L) >= 5) {
        if (lua_istable(L, 5)) {
            qxGetFieldInt(L, 5, "quality", &opts.quality, nullptr);
            qxGetFieldInt(L, 5, "colors", &opts.colors, nullptr);
            qxGetFieldInt(L, 5, "dither", &opts.dither, nullptr);
        } else {
            opts.quality = luaL_checkint(L, 5);
        }
    }
    qxBrush *b = nullptr;
    if (int r = qxFindBrush(L, id, &b, QX_FIND_HARDWARE | QX_FIND_NOVECTOR))
        return r;
    if (!b->bitmap)
        return ERR_BITMAP;
    // Mask and alpha channel go into the alpha byte; without them the
    // pixels are opaque.
    uint32_t *argb = qxBitMapToARGBMasked(b->bitmap, 0, 0, int32_t(b->width), int32_t(b->height), b->mask, b->alpha,
                                          0xFFFFFFFFu, 1, 0);
    if (!argb)
        return ERR_MEM;
    if (!b->mask && !b->alpha)
        for (size_t i = 0, count = size_t(b->width) * b->height; i < count; i++)
            argb[i] |= 0xFF000000u;
    opts.hasAlpha = b->mask || b->alpha;
    const uint32_t transparent = tc < 0 ? 0xFFFFFFFFu : uint32_t(qxTruncToInt64(tc)) & 0xFFFFFF;
    int r = qxSaveImageFormat(format, argb, int(b->width), int(b->height), file.c_str(), transparent, &opts);
    qxFree(argb);
    return r;
}

// CreateBorderBrush and CreateShadowBrush.
int shadowBrush(lua_State *L, bool border)
{
    qxCheckArgCount(L, 3, 5, 0, 0);
    qxObjectRef ref = qxNewIDRef(L, 1);
    const qxObjectRef src = qxGetObjectIDArg(L, 2);
    const uint32_t colour = uint32_t(qxTruncToInt64(luaL_checknumber(L, 3)));
    const double radius = luaL_optnumber(L, 4, 5.0);
    const double sigma = luaL_optnumber(L, 5, radius / 3.0);
    if (!(radius >= 1.0) || !(radius <= 10000.0) || !std::isfinite(sigma))
        return ERR_WRONGUSAGE;
    if (!ref.automatic && !src.automatic && ref.number == src.number)
        return ERR_WRONGUSAGE;
    qxBrush *s = nullptr;
    if (int r = qxFindBrush(L, src, &s, QX_FIND_NOVECTOR))
        return r;
    if (!s->bitmap)
        return ERR_BITMAP;
    const int32_t r = int32_t(radius);
    const int64_t w = int64_t(s->width) + 2 * r, h = int64_t(s->height) + 2 * r;
    if (int e = qxCheckBrushSize(w, h))
        return e;
    qxBitMap *alpha = nullptr;
    if (s->alpha || s->mask || !border) {
        alpha = qxMakeShadowBitmap(s->alpha, s->mask, 0, 0, int32_t(s->width), int32_t(s->height),
                                   255 - (colour >> 24), border, radius >= 4.0, radius, sigma);
        if (!alpha)
            return ERR_ALLOCALPHA;
    }
    qxBitMap *bm = qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr);
    if (!bm || qxFillBitMapColour(bm, colour & 0xFFFFFF)) {
        qxFreeImagePlanes(bm, nullptr, alpha);
        return ERR_BITMAP;
    }
    auto release = [&](int code) {
        qxFreeImagePlanes(bm, nullptr, alpha);
        return code;
    };
    if (int e = freeOld(L, ref))
        return release(e);
    if (int e = qxAddBrush(&ref, QX_BRUSH_PIXELS, uint32_t(w), uint32_t(h), uint32_t(w), 0, nullptr, bm, 0xFFFFFFFFu,
                           nullptr, alpha, nullptr, nullptr))
        return release(e);
    return qxPushNewID(L, ref);
}

int cmdCreateBorderBrush(lua_State *L)
{
    return shadowBrush(L, true);
}

int cmdCreateShadowBrush(lua_State *L)
{
    return shadowBrush(L, false);
}

int cmdGrabDesktop(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    qxObjectRef ref = qxNewIDRef(L, 1);
    // The desktop is the monitor of the current display.
    qxDisplay *d = qxCurrentDisplay;
    int mx = 0, my = 0, mw = 0, mh = 0;
    if (d)
        if (int r = qxGetDisplayGeometry(d, &mx, &my, &mw, &mh))
            return r;
    const int64_t dw = mw, dh = mh;
    int64_t x = 0, y = 0, w = dw, h = dh;
    if (lua_gettop(L) >= 2 && !lua_isnil(L, 2)) {
        luaL_checktable(L, 2);
        double v = 0;
        if (qxGetFieldNum(L, 2, "x", &v, nullptr))
            x = qxTruncToInt64(v);
        if (qxGetFieldNum(L, 2, "y", &v, nullptr))
            y = qxTruncToInt64(v);
        if (qxGetFieldNum(L, 2, "width", &v, nullptr))
            w = qxTruncToInt64(v);
        if (qxGetFieldNum(L, 2, "height", &v, nullptr))
            h = qxTruncToInt64(v);
    }
    if (x < 0 || y < 0)
        return ERR_WRONGUSAGE;
    w = std::min(w, dw - x);
    h = std::min(h, dh - y);
    if (!d || w < 1 || h < 1)
        return ERR_WRONGUSAGE;
    uint32_t *argb = nullptr;
    if (int r = qxGrabScreenARGB(d, int(mx + x), int(my + y), int(w), int(h), &argb))
        return r;
    qxBitMap *bm = nullptr;
    int r = qxBitMapFromARGB(argb, 0xFFFFFFFFu, int32_t(w), int32_t(h), int32_t(w), 0, 0, nullptr, &bm, nullptr,
                             nullptr);
    std::free(argb);
    if (r)
        return r;
    if ((r = freeOld(L, ref)) || (r = qxBrushFromBitmap(&ref, bm, nullptr, nullptr, uint32_t(w), uint32_t(h),
                                                        0xFFFFFFFFu))) {
        qxFreeBitMap(bm);
        return r;
    }
    return qxPushNewID(L, ref);
}

int cmdRGBArrayToBrush(lua_State *L)
{
    qxCheckArgCount(L, 4, 6, 0, 0);
    qxObjectRef ref = qxNewIDRef(L, 1);
    luaL_checktable(L, 2);
    int64_t width = 0, height = 0;
    if (int r = qxSizeArg(L, 3, &width))
        return r;
    if (int r = qxSizeArg(L, 4, &height))
        return r;
    const int flags = luaL_optint(L, 5, -1);
    const bool invert = luaL_optint(L, 6, 0) != 0;
    if (int r = qxCheckBrushSize(width, height))
        return r;
    const bool mask = flags == int(QX_TYPE_MASK), alpha = flags == int(QX_TYPE_ALPHACHANNEL);
    const size_t count = size_t(width) * size_t(height);
    std::vector<uint32_t> pixels;
    try {
        pixels.resize(count);
    } catch (...) {
        return ERR_BITMAP;
    }
    for (size_t i = 0; i < count; i++) {
        lua_rawgeti(L, 2, int(i));
        if (lua_isnil(L, -1)) {
            lua_pop(L, 1);
            return ERR_NOTENOUGHPIXELS;
        }
        uint32_t v = uint32_t(qxTruncToInt64(luaL_checknumber(L, -1)));
        lua_pop(L, 1);
        if (invert)
            v ^= 0xFF000000u;
        pixels[i] = v;
    }
    qxBitMap *bm = nullptr, *m = nullptr, *a = nullptr;
    if (int r = qxBitMapFromARGB(pixels.data(), 0xFFFFFFFFu, int32_t(width), int32_t(height), int32_t(width), 0,
                                 alpha ? 8 : 0, nullptr, &bm, nullptr, alpha ? &a : nullptr))
        return r;
    uint32_t transparent = 0xFFFFFFFFu;
    if (mask) {
        m = qxAllocMaskBitMap(bm, uint32_t(width), uint32_t(height), 1, nullptr, 0);
        qxPlane p = qxPlaneOf(m);
        if (!p.bytes) {
            qxFreeImagePlanes(bm, m, nullptr);
            return ERR_ALLOCMASK;
        }
        for (int64_t y = 0; y < height; y++)
            for (int64_t x = 0; x < width; x++)
                qxSetMaskBit(p.bytes + y * p.bytesPerRow, x, (pixels[size_t(y * width + x)] >> 24) != 0);
        transparent = 0xAFC0DE;
    }
    auto release = [&](int code) {
        qxFreeImagePlanes(bm, m, a);
        return code;
    };
    if (int r = freeOld(L, ref))
        return release(r);
    if (int r = qxAddBrush(&ref, QX_BRUSH_PIXELS, uint32_t(width), uint32_t(height), uint32_t(width), 0, nullptr, bm,
                           transparent, m, a, nullptr, nullptr))
        return release(r);
    return qxPushNewID(L, ref);
}

int cmdIsBrushEmpty(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxBrush *b = nullptr;
    if (int r = qxFindBrush(L, qxGetObjectIDArg(L, 1), &b, QX_FIND_HARDWARE))
        return r;
    bool empty = false;
    if (b->mask || b->alpha) {
        qxPlane p = qxPlaneOf(b->mask ? b->mask : b->alpha);
        empty = true;
        for (int32_t y = 0; empty && y < p.height; y++) {
            const uint8_t *row = p.bytes + size_t(y) * p.bytesPerRow;
            for (int32_t x = 0; x < p.width; x++)
                if (b->mask ? qxMaskBit(row, x) : row[x] != 0) {
                    empty = false;
                    break;
                }
        }
    }
    lua_pushnumber(L, empty ? 1 : 0);
    return 1;
}

constexpr qxCommandDef brushCommands[] = {
    {"CreateBrush", cmdCreateBrush},
    {"LoadBrush", cmdLoadBrush},
    {"CopyBrush", cmdCopyBrush},
    {"FreeBrush", cmdFreeBrush},
    {"SaveBrush", cmdSaveBrush},
    {"CreateBorderBrush", cmdCreateBorderBrush},
    {"CreateShadowBrush", cmdCreateShadowBrush},
    {"GrabDesktop", cmdGrabDesktop},
    {"RGBArrayToBrush", cmdRGBArrayToBrush},
    {"IsBrushEmpty", cmdIsBrushEmpty},
    {"DisplayBrush", qxCmdDisplayBrush},
    {"DisplayBrushPart", qxCmdDisplayBrushPart},
    {"SelectBrush", qxCmdSelectBrush},
    {"SelectMask", qxCmdSelectMask},
    {"SelectAlphaChannel", qxCmdSelectAlphaChannel},
    {"BeginDoubleBuffer", qxCmdBeginDoubleBuffer},
    {"Flip", qxCmdFlip},
    {"EndDoubleBuffer", qxCmdEndDoubleBuffer},
    {nullptr, nullptr},
};

constexpr qxConstantDef brushConstants[] = {
    {"MASKVISIBLE", nullptr, 0},    {"MASKINVISIBLE", nullptr, 1}, {"MASKVANILLACOPY", nullptr, 2},
    {"MASKXOR", nullptr, 3},        {"MASKAND", nullptr, 4},       {"MASKOR", nullptr, 5},
    {"VANILLACOPY", nullptr, -1},   {"SELMODE_NORMAL", nullptr, 0}, {"SELMODE_COMBO", nullptr, 1},
    {"SELMODE_LAYERS", nullptr, 2}, {nullptr, nullptr, 0},
};

} // namespace

extern "C" int qxOpenBrushLib(lua_State *L)
{
    registerList();
    qxLinkPicSourceCounting();
    qxLinkBrushSources();
    // One table for the library: these commands, then the image commands.
    static qxCommandSet all;
    if (all.rows.empty()) {
        qxAddCommands(&all, brushCommands, qxNamesOf<brushCommands>);
        qxAddCommands(&all, qxBrushImageCommands, qxBrushImageCommandNames);
        qxEndCommandSet(&all);
    }
    return qxOpenCommandLibrary(L, "brush", all.rows.data(), brushConstants, &all.names, &qxNamesOf<brushConstants>);
}
