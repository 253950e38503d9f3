// Layer filters: the reader of a "filters" list, the filter kernels applied
// in priority order, and the filtered picture a rendition keeps.
#include "layers/qx_layerfilters.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/vm/lua.h"
#include "display/qx_bitmapeffects.h"
#include "display/qx_bitmapquantize.h"
#include "display/qx_bitmaptransform.h"
#include "platform/qx_errcodes.h"

namespace {

enum : int { kPixelate = 11, kSwirl = 15, kWaterRipple = 17, kXFlip = 18, kYFlip = 19 };

// Argument kinds in the script's order: i integer, p integer or percentage
// of 255, f float.
struct FilterKind {
    const char *name;
    const char *kinds;
    double defaults[5];
};
const FilterKind kFilters[QX_FILTER_COUNT] = {
    {"blur", "f", {5.0}},
    {"charcoal", "f", {2.0}},
    {"contrast", "ii", {1, 1}},
    {"edge", "f", {5.0}},
    {"emboss", "f", {5.0}},
    {"gamma", "fff", {1.0, 1.0, 1.0}},
    {"grayscale", "", {}},
    {"invert", "", {}},
    {"modulate", "fff", {100, 100, 100}},
    {"monochrome", "i", {1}},
    {"oilpaint", "f", {2.0}},
    {"pixelate", "i", {10}},
    {"sepiatone", "p", {204}},
    {"sharpen", "f", {5.0}},
    {"solarize", "p", {128}},
    {"swirl", "i", {180}},
    {"tint", "ip", {double(0xFFFFFF), 128}},
    {"waterripple", "iiiff", {32, 1, 0, 0.5, 0.5}},
    {"xflip", "", {}},
    {"yflip", "", {}},
    {"quantize", "ii", {256, 1}},
};

void getField(lua_State *L, int t, const char *key)
{
    lua_pushstring(L, key);
    lua_gettable(L, t);
}

bool isGeometric(int i) { return i == kPixelate || i == kSwirl || i == kWaterRipple || i == kXFlip || i == kYFlip; }

int32_t toInt(double v)
{
    if (!(v == v)) return 0;
    return int32_t(std::clamp(std::trunc(v), double(INT32_MIN), double(INT32_MAX)));
}

// A number, or for kind p also "N%" of 255, at the stack top.
bool readArg(lua_State *L, char kind, double *out)
{
    if (lua_type(L, -1) == LUA_TNUMBER) {
        *out = lua_tonumber(L, -1);
        return true;
    }
    if (kind != 'p' || lua_type(L, -1) != LUA_TSTRING) return false;
    const char *s = lua_tostring(L, -1);
    char *end = nullptr;
    const double v = std::strtod(s, &end);
    if (end == s || *end != '%' || end[1] || !(v >= 0 && v <= 100)) return false;
    *out = v * 255.0 / 100.0;
    return true;
}

void fillArgs(qxFilterEntry *e, int id, const double *given, int count)
{
    const FilterKind &k = kFilters[id];
    int ni = 0, nf = 0;
    for (int a = 0; k.kinds[a]; ++a) {
        const double v = a < count ? given[a] : k.defaults[a];
        if (k.kinds[a] == 'f') e->fargs[nf++] = float(v);
        else e->iargs[ni++] = toInt(v);
    }
}

// Reads element n of the list at index list into *block.
int readElement(lua_State *L, int list, int n, qxFilterBlock *block)
{
    const int el = lua_gettop(L);
    if (!lua_istable(L, el)) {
        qxSetErrorString("filters");
        return ERR_TABEXPECTED2;
    }
    getField(L, el, "name");
    if (lua_isnil(L, -1)) {
        qxSetErrorString(std::to_string(n).c_str());
        return ERR_NOFILTERNAME;
    }
    if (lua_type(L, -1) != LUA_TSTRING) {
        qxSetErrorString("name");
        return ERR_STRTABLEARG;
    }
    const char *name = lua_tostring(L, -1);
    const int id = qxFilterIndex(name);
    if (id < 0) {
        qxSetErrorString(name);
        return ERR_UNKNOWNFILTER;
    }
    lua_pop(L, 1);
    qxFilterEntry e = block->filter[id];
    getField(L, el, "disable");
    const bool disable = !lua_isnil(L, -1) && lua_toboolean(L, -1) && !(lua_isnumber(L, -1) && lua_tonumber(L, -1) == 0);
    lua_pop(L, 1);
    if (disable) {
        block->filter[id].enabled = 0;
        return 0;
    }
    e.enabled = 1;
    getField(L, el, "priority");
    e.priority = lua_isnumber(L, -1) ? uint8_t(toInt(lua_tonumber(L, -1))) : 0;
    lua_pop(L, 1);
    double given[5];
    int count = 0;
    getField(L, el, "args");
    if (lua_istable(L, -1)) {
        const int args = lua_gettop(L);
        for (const char *k = kFilters[id].kinds; *k; ++k, ++count) {
            lua_rawgeti(L, args, count);
            if (lua_isnil(L, -1)) {
                lua_pop(L, 1);
                break;
            }
            if (!readArg(L, *k, &given[count])) {
                qxSetErrorString("args");
                return ERR_NUMTABLEARG;
            }
            lua_pop(L, 1);
        }
    } else if (!lua_isnil(L, -1)) {
        qxSetErrorString("args");
        return ERR_TABEXPECTED2;
    }
    (void)list;
    fillArgs(&e, id, given, count);
    block->filter[id] = e;
    return 0;
}

} // namespace

extern "C" {

int qxFilterIndex(const char *name)
{
    for (int i = 0; i < int(QX_FILTER_COUNT); ++i)
        if (strcasecmp(name, kFilters[i].name) == 0) return i;
    return -1;
}

const char *qxFilterName(int id) { return id >= 0 && id < int(QX_FILTER_COUNT) ? kFilters[id].name : ""; }

int qxFilterArgs(const qxFilterEntry *e, int id, double *out)
{
    int ni = 0, nf = 0, n = 0;
    for (const char *k = kFilters[id].kinds; *k; ++k, ++n) out[n] = *k == 'f' ? double(e->fargs[nf++]) : e->iargs[ni++];
    return n;
}

int qxSetLayerFilters(lua_State *L, int table, qxFilterBlock *block, int *readOut, int *errorOut)
{
    *errorOut = 0;
    if (readOut) *readOut = 0;
    const int top = lua_gettop(L);
    if (table < 0) table = top + table + 1;
    getField(L, table, "filters");
    if (lua_isnil(L, -1)) {
        lua_settop(L, top);
        return 0;
    }
    if (!lua_istable(L, -1)) {
        lua_settop(L, top);
        qxSetErrorString("filters");
        *errorOut = ERR_TABEXPECTED2;
        return 0;
    }
    const int list = lua_gettop(L);
    qxFilterBlock work = *block;
    for (int n = 0;; ++n) {
        lua_rawgeti(L, list, n);
        if (lua_isnil(L, -1)) break;
        if (int r = readElement(L, list, n, &work)) {
            lua_settop(L, top);
            *errorOut = r;
            return 0;
        }
        lua_settop(L, list);
    }
    lua_settop(L, top);
    *block = work;
    if (readOut) *readOut = 1;
    return 1;
}

int qxLayerHasGeometricFilter(const qxLayer *layer) { return qxFiltersGeometric(&layer->filters); }

int qxFiltersGeometric(const qxFilterBlock *block)
{
    for (int i : {int(kPixelate), int(kSwirl), int(kWaterRipple), int(kXFlip), int(kYFlip)})
        if (block->filter[i].enabled) return 1;
    return 0;
}

int qxApplyFilters(const qxFilterBlock *block, qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t w,
                   int32_t h, int geometricOnly)
{
    bool applied[QX_FILTER_COUNT] = {};
    for (int p = 255; p >= 0; --p) {
        for (int i = 0; i < int(QX_FILTER_COUNT); ++i) {
            const qxFilterEntry &e = block->filter[i];
            if (!e.enabled || applied[i] || e.priority < p || (geometricOnly && !isGeometric(i))) continue;
            applied[i] = true;
            const int32_t *n = e.iargs;
            const float *f = e.fargs;
            int r = 0;
            switch (i) {
            case 0: r = qxConvolve('b', bitmap, alpha, w, h, nullptr, f[0], f[0] / 3.0); break;
            case 1: r = qxCharcoalBitmap(bitmap, alpha, w, h, f[0], 1.0); break;
            case 2: r = qxContrastBitmap(bitmap, w, h, n[0], n[1], nullptr); break;
            case 3: r = qxConvolve('g', bitmap, alpha, w, h, nullptr, f[0], 0.0); break;
            case 4: r = qxConvolve('e', bitmap, alpha, w, h, nullptr, f[0], 1.0); break;
            case 5: r = qxGammaBitmap(bitmap, w, h, f[0], f[1], f[2]); break;
            case 6: r = qxGrayBitmap(bitmap, w, h, 0, nullptr); break;
            case 7: r = qxInvertBitmap(bitmap, w, h, nullptr); break;
            // The filter's values are percentages; the kernel takes 1.0 as no change.
            case 8: r = qxModulateBitmap(bitmap, w, h, f[0] / 100.0, f[1] / 100.0, f[2] / 100.0); break;
            case 9: r = qxMonochromeBitmap(bitmap, w, h, n[0]); break;
            case 10: r = qxOilPaintBitmap(bitmap, w, h, f[0]); break;
            case kPixelate: r = qxPixelateBitmap(bitmap, mask, alpha, w, h, n[0]); break;
            case 12: r = qxSepiaBitmap(bitmap, w, h, n[0]); break;
            case 13: r = qxConvolve('s', bitmap, alpha, w, h, nullptr, f[0], 1.0); break;
            case 14: r = qxSolarizeBitmap(bitmap, w, h, n[0]); break;
            case kSwirl: r = qxSwirlBitmap(bitmap, mask, alpha, w, h, n[0]); break;
            case 16: r = qxTintBitmap(bitmap, 0, 0, w, h, uint32_t(n[0]), uint32_t(std::clamp(n[1], 0, 255))); break;
            case kWaterRipple: r = qxWaterRippleBitmap(bitmap, mask, alpha, w, h, n[0], n[1], n[2], f[0], f[1]); break;
            case kXFlip: r = qxFlipBitmap(bitmap, mask, alpha, w, h, 1); break;
            case kYFlip: r = qxFlipBitmap(bitmap, mask, alpha, w, h, 0); break;
            case 20: r = qxQuantizeBitmap(bitmap, w, h, n[0], n[1]); break;
            }
            if (r) return r;
        }
    }
    return 0;
}

void qxFreeXformImage(qxLayerData *d)
{
    qxFreeImagePlanes(d->filtbitmap, d->filtmask, d->filtalpha);
    d->filtbitmap = d->filtmask = d->filtalpha = nullptr;
}

void qxFreeLayerXformImages(qxLayer *l)
{
    qxFreeXformImage(l->base);
    if (l->intermediate != l->base) qxFreeXformImage(l->intermediate);
    if (l->onscreen != l->base && l->onscreen != l->intermediate) qxFreeXformImage(l->onscreen);
}

int qxBuildFilteredImage(qxLayerData *d, qxBitMap *bitmap, qxBitMap *mask, qxBitMap *alpha, int32_t sx, int32_t sy,
                         const qxFilterBlock *block)
{
    if (d->filtbitmap) return 0;
    qxBitMap *fb = nullptr, *fm = nullptr, *fa = nullptr;
    if (int r = qxCopyImageRect(bitmap, mask, alpha, sx, sy, d->dwidth, d->dheight, 0, 0, 0, 0, &fb,
                                mask ? &fm : nullptr, alpha ? &fa : nullptr))
        return r;
    if (int r = qxApplyFilters(block, fb, fm, fa, d->dwidth, d->dheight, 0)) {
        qxFreeImagePlanes(fb, fm, fa);
        return r;
    }
    d->filtbitmap = fb, d->filtmask = fm, d->filtalpha = fa;
    return 0;
}

} // extern "C"
