// Draw-tag parsing into transform options and object style, the templates
// behind them, and the transform and blend steps that apply them.
#include "objects/qx_displayopts.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/commands/qx_args.h"
#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapscale.h"
#include "display/qx_bitmaptransform.h"
#include "display/qx_display.h"
#include "display/qx_gfxgeom.h"
#include "imaging/qx_transform.h"
#include "objects/qx_picsource.h"
#include "platform/qx_errcodes.h"

namespace {

constexpr uint64_t kMaxPixels = uint64_t(1) << 30;

constexpr qxTransformOptions kTransformStart = {1, 0, 0, 1, 1.0, 1.0, 0, 0, 0, {0, 0, 0, 0}, 0, 0, 0, 0, 0, 0, 0};

qxObjectStyle styleStart()
{
    qxObjectStyle s{};
    s.shadow = {0, 0x80000000u, 4, 3, 5.0, 5.0 / 3.0};
    s.border = {0, 0, 2};
    return s;
}

bool readFlag(lua_State *L, int t, const char *key, uint32_t *out)
{
    int v = 0;
    if (!qxGetFieldInt(L, t, key, &v, nullptr)) return false;
    *out = v != 0;
    return true;
}

// A number or a percentage text of 255, clamped to 0..255.
bool readLevel(lua_State *L, int t, const char *key, uint32_t *out)
{
    double v = 0;
    if (!qxGetFieldNumOrPercent(L, t, key, 255.0, 0, &v, nullptr, nullptr)) return false;
    *out = v != v ? 0 : uint32_t(std::clamp(v, 0.0, 255.0));
    return true;
}

uint32_t colourField(lua_State *L, int t, const char *key, uint32_t current)
{
    int v = int(current);
    qxGetFieldColor(L, t, key, &v, nullptr);
    return uint32_t(v);
}

} // namespace

extern "C" {

qxDisplayOptsHooks qxDisplayOptsHook = {};
qxTransformOptions qxTransformTemplate = kTransformStart;
qxObjectStyle qxStyleTemplate = styleStart();

void qxInitTransformOptions(qxTransformOptions *o) { *o = qxTransformTemplate; }

void qxInitObjectStyle(qxObjectStyle *s) { *s = qxStyleTemplate; }

void qxResetDrawTagTemplates(void)
{
    qxTransformTemplate = kTransformStart;
    qxStyleTemplate = styleStart();
}

void qxApplyTransformOptions(qxTransformOptions *o, qxObjectStyle *s, uint32_t width, uint32_t height, uint32_t smooth,
                             uint32_t flags)
{
    qxInitTransformOptions(o);
    if (s) qxInitObjectStyle(s);
    o->width = width;
    o->height = height;
    if (!(flags & QX_OPT_ROTATESMOOTH)) o->smooth = smooth;
}

int qxFiltersActive(const qxFilterBlock *f)
{
    for (const qxFilterEntry &e : f->filter)
        if (e.enabled) return 1;
    return 0;
}

int qxMatrixIsIdentity(const qxTransformOptions *o)
{
    return o->m11 == 1.0 && o->m12 == 0.0 && o->m21 == 0.0 && o->m22 == 1.0;
}

int qxGetShadowOptions(lua_State *L, int t, qxShadowFields *s)
{
    t = t < 0 && t > LUA_REGISTRYINDEX ? lua_gettop(L) + t + 1 : t;
    readFlag(L, t, "shadow", &s->shadow);
    if (!s->shadow) return 0;
    s->shadowcolor = colourField(L, t, "shadowcolor", s->shadowcolor);
    int v = 0;
    if (qxGetFieldInt(L, t, "shadowdir", &v, nullptr)) s->shadowdir = uint32_t(v);
    if (qxGetFieldInt(L, t, "shadowsize", &v, nullptr)) {
        if (v < 0) return ERR_WRONGUSAGE;
        s->shadowsize = uint32_t(v);
    }
    double d = 0;
    if (qxGetFieldNum(L, t, "shadowradius", &d, nullptr)) {
        if (!(d >= 1.0)) return ERR_WRONGUSAGE;
        s->shadowradius = d;
    }
    if (qxGetFieldNum(L, t, "shadowsigma", &d, nullptr)) {
        if (!(d > 0.0)) return ERR_WRONGUSAGE;
        s->shadowsigma = d;
    }
    return 0;
}

int qxGetBorderOptions(lua_State *L, int t, int withEdge, qxBorderFields *b)
{
    t = t < 0 && t > LUA_REGISTRYINDEX ? lua_gettop(L) + t + 1 : t;
    readFlag(L, t, "border", &b->border);
    b->bordercolor = colourField(L, t, "bordercolor", b->bordercolor);
    int v = int(b->bordersize);
    bool sized = qxGetFieldInt(L, t, "bordersize", &v, nullptr);
    if (withEdge) {
        b->bordercolor = colourField(L, t, "edgecolor", b->bordercolor);
        sized |= qxGetFieldInt(L, t, "edgesize", &v, nullptr) != 0;
        sized |= qxGetFieldInt(L, t, "outlinethickness", &v, nullptr) != 0;
    }
    if (sized) {
        if (v < 1 && b->border) return ERR_WRONGUSAGE;
        b->bordersize = uint32_t(std::max(v, 0));
    }
    if (b->border && b->bordersize < 1) return ERR_WRONGUSAGE;
    return 0;
}

int qxGetTransformOptions(lua_State *L, int arg, int32_t sw, int32_t sh, int32_t tw, int32_t th,
                          uint32_t defaultSmooth, qxTransformOptions *o, qxObjectStyle *s, uint32_t flags)
{
    if (tw == sw) tw = 0;
    if (th == sh) th = 0;
    if (flags & QX_OPT_RESET) {
        qxApplyTransformOptions(o, s, uint32_t(std::max(tw, 0)), uint32_t(std::max(th, 0)), defaultSmooth,
                                flags & QX_OPT_ROTATESMOOTH);
    }
    const bool present = arg > 0 && lua_gettop(L) >= arg && !lua_isnil(L, arg);
    if (!present || !lua_istable(L, arg)) {
        if (present && (flags & QX_OPT_REQUIRED)) {
            qxSetErrorNumber(arg);
            return ERR_TABEXPECTED;
        }
        if (tw || th) qxSetupTransform(&o->m11, tw, th, sw, sh, o->scalex, o->scaley, o->rotate);
        return 0;
    }
    const int t = arg;
    // 3. An explicit matrix replaces scale, size and rotation.
    if (qxFieldPresent(L, t, "transform")) {
        lua_pushstring(L, "transform");
        lua_gettable(L, t);
        bool table = lua_istable(L, -1);
        lua_pop(L, 1);
        if (!table) {
            qxSetErrorNumber(arg);
            return ERR_TABEXPECTED;
        }
        double m[4];
        qxGetFieldNumChecked(L, t, "transform", m, nullptr);
        if (m[0] == 0.0 || m[3] == 0.0 || !std::isfinite(m[0]) || !std::isfinite(m[1]) || !std::isfinite(m[2]) ||
            !std::isfinite(m[3]))
            return ERR_WRONGUSAGE;
        std::memcpy(o->transform, m, sizeof m);
        o->m11 = m[0], o->m12 = m[1], o->m21 = m[2], o->m22 = m[3];
        o->transformed = 1;
    } else {
        bool given = false;
        double v = 0;
        if (qxGetFieldNum(L, t, "scalex", &v, nullptr)) {
            if (v == 0.0 || !std::isfinite(v)) return ERR_WRONGUSAGE;
            o->scalex = v, given = true;
        }
        if (qxGetFieldNum(L, t, "scaley", &v, nullptr)) {
            if (v == 0.0 || !std::isfinite(v)) return ERR_WRONGUSAGE;
            o->scaley = v, given = true;
        }
        if (!given && !(flags & QX_OPT_NOSIZE)) {
            int w = 0, h = 0;
            if (qxGetFieldInt(L, t, "width", &w, nullptr) && w) o->width = uint32_t(w), given = true;
            if (qxGetFieldInt(L, t, "height", &h, nullptr) && h) o->height = uint32_t(h), given = true;
        }
        if (!(flags & QX_OPT_NOROTATE) && qxGetFieldNum(L, t, "rotate", &v, nullptr)) {
            if (!std::isfinite(v)) return ERR_WRONGUSAGE;
            o->rotate = std::fmod(v, 360.0);
            if ((flags & QX_OPT_ROTATESMOOTH) && o->rotate != 0.0) o->smooth = defaultSmooth;
            given = true;
        }
        if (given)
            qxSetupTransform(&o->m11, int32_t(o->width), int32_t(o->height), sw, sh, o->scalex, o->scaley, o->rotate);
        else
            o->transformed = 0;
    }
    // 5.
    readFlag(L, t, "smoothscale", &o->smooth);
    double a = 0;
    if (qxGetFieldNum(L, t, "anchorx", &a, nullptr)) {
        if (!(a >= 0.0 && a <= 1.0)) return ERR_WRONGUSAGE;
        o->anchorx = a;
    }
    if (qxGetFieldNum(L, t, "anchory", &a, nullptr)) {
        if (!(a >= 0.0 && a <= 1.0)) return ERR_WRONGUSAGE;
        o->anchory = a;
    }
    if (!s) return 0;
    // 6.
    readFlag(L, t, "hidden", &s->hidden);
    readLevel(L, t, "transparency", &s->transparency);
    qxFilterEntry &tint = s->filters.filter[QX_FILTER_TINT];
    uint32_t level = 0;
    if (readLevel(L, t, "tint", &level)) {
        tint.enabled = level != 0;
        tint.iargs[1] = int32_t(level);
    }
    tint.iargs[0] = int32_t(colourField(L, t, "tintcolor", uint32_t(tint.iargs[0])));
    int pos = 0;
    bool insertNeeds = false;
    if (qxGetFieldInt(L, t, "insertpos", &pos, nullptr)) {
        if (pos < 0) return ERR_INVINSERT;
        uint32_t count = qxDisplayOptsHook.currentLayerCount ? qxDisplayOptsHook.currentLayerCount() : 0;
        if (int64_t(pos) > int64_t(count) + 1) pos = int32_t(count + 1);
        s->insertpos = pos;
        insertNeeds = pos != 0 && uint32_t(pos) != count + 1;
    }
    // 7.
    if (int r = qxGetShadowOptions(L, t, &s->shadow)) return r;
    if (int r = qxGetBorderOptions(L, t, 0, &s->border)) return r;
    // 8.
    if (qxFieldPresent(L, t, "filters")) {
        if (!qxDisplayOptsHook.setLayerFilters) return ERR_NOLAYERS;
        if (int r = qxDisplayOptsHook.setLayerFilters(L, t, &s->filters)) return r;
    }
    // 9.
    s->needslayer = insertNeeds || s->hidden || s->transparency || qxFiltersActive(&s->filters) ||
                    s->shadow.shadow || s->border.border;
    // 10.
    if (!(flags & QX_OPT_NONAME) && qxFieldPresent(L, t, "name")) {
        char name[258];
        qxGetFieldStr(L, t, "name", name, sizeof name, nullptr);
        if (std::strlen(name) > 255) return ERR_NAMETOOLONG;
        std::memcpy(s->name, name, std::strlen(name) + 1);
    }
    return 0;
}

int qxCmdSetDrawTagsDefault(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxTransformOptions o = qxTransformTemplate;
    qxObjectStyle s = qxStyleTemplate;
    if (int r = qxGetTransformOptions(L, 1, 0, 0, 0, 0, o.smooth, &o, &s, QX_OPT_REQUIRED | QX_OPT_NOSIZE)) return r;
    s.name[0] = '\0';
    qxTransformTemplate = o;
    qxStyleTemplate = s;
    return 0;
}

void qxTransformedSize(const double m[4], int32_t w, int32_t h, int32_t *ow, int32_t *oh)
{
    auto trunc1 = [](double v) {
        if (!(v >= 1.0)) return int32_t(1);
        return v >= 2147483647.0 ? INT32_MAX : int32_t(v);
    };
    if (m[1] == 0.0 && m[2] == 0.0 && m[0] >= 0.0 && m[3] >= 0.0) {
        if (m[0] == 1.0 && m[3] == 1.0) {
            *ow = w, *oh = h;
            return;
        }
        // A full-screen picture covers a scaled display without a gap.
        const qxDisplay *d = qxCurrentDisplay;
        if (d && d->bgpic && d->scaledWidth && d->scaledHeight && w == d->bgpic->width && h == d->bgpic->height &&
            m[0] == d->scaleX && m[3] == d->scaleY) {
            *ow = int32_t(d->scaledWidth), *oh = int32_t(d->scaledHeight);
            return;
        }
        *ow = trunc1(w * m[0]);
        *oh = trunc1(h * m[3]);
        return;
    }
    qxTransformBox(m, w, h, ow, oh, nullptr, nullptr);
    *ow = std::max(*ow, 1), *oh = std::max(*oh, 1);
}

int qxTransformImage(lua_State *L, uint32_t mode, qxPicSource *source, qxBitMap *bitmap, qxBitMap *mask,
                     qxBitMap *alpha, int32_t x, int32_t y, int32_t w, int32_t h, double ax, double ay,
                     const double m[4], uint32_t smooth, qxBitMap **ob, qxBitMap **om, qxBitMap **oa, int32_t *ox,
                     int32_t *oy, int32_t *ow, int32_t *oh)
{
    if (ob) *ob = nullptr;
    if (om) *om = nullptr;
    if (oa) *oa = nullptr;
    int32_t bx = x, by = y, bw = 1, bh = 1;
    qxComputeTransformBounds(x, y, w, h, m, &bx, &by, &bw, &bh, ax, ay);
    int32_t tw = 1, th = 1;
    qxTransformedSize(m, w, h, &tw, &th);
    if (ox) *ox = bx;
    if (oy) *oy = by;
    if (ow) *ow = tw;
    if (oh) *oh = th;
    if (mode == 2) return 0;
    // Script scales of any size end here rather than in a wrapped size.
    if (uint64_t(tw) * uint64_t(th) > kMaxPixels) return ERR_BITMAP;
    const bool identity = m[0] == 1.0 && m[1] == 0.0 && m[2] == 0.0 && m[3] == 1.0;
    if (mode == 1 && source && !identity) {
        double minX = 0, minY = 0;
        int32_t boxW = 0, boxH = 0;
        qxTransformBox(m, w, h, &boxW, &boxH, &minX, &minY);
        void *outBitmap = nullptr, *outAlpha = nullptr;
        int r = qxPicSourceTransform(L, source, m, -minX, -minY, tw, th, nullptr, nullptr, nullptr, &outBitmap,
                                     &outAlpha, nullptr);
        if (r) return r;
        *ob = static_cast<qxBitMap *>(outBitmap);
        *oa = static_cast<qxBitMap *>(outAlpha);
        return 0;
    }
    if (identity)
        return qxCopyImageRect(bitmap, mask, alpha, 0, 0, w, h, 0, 0, 0, 0, ob, mask ? om : nullptr,
                               alpha ? oa : nullptr);
    if (m[1] == 0.0 && m[2] == 0.0 && m[0] > 0.0 && m[3] > 0.0)
        return qxScalePixels(bitmap, mask, alpha, 0, 0, nullptr, w, h, tw, th, smooth, 0, ob, om, oa);
    int32_t rw = 0, rh = 0;
    int r = qxTransformPixels(bitmap, mask, alpha, 0, 0, w, h, m, smooth, 0, ob, om, oa, &rw, &rh);
    if (!r && ow) *ow = rw, *oh = rh;
    return r;
}

int qxBlendWithOptions(const qxObjectStyle *s, lua_State *L, qxBitMap **bitmap, qxBitMap **alpha, int32_t w,
                       int32_t h)
{
    if (qxFiltersActive(&s->filters)) {
        if (!qxDisplayOptsHook.applyFilters) return ERR_NOLAYERS;
        if (int r = qxDisplayOptsHook.applyFilters(L, &s->filters, bitmap, alpha, w, h)) return r;
    }
    if (!s->transparency) return 0;
    const uint32_t factor = 255 - std::min(s->transparency, 255u);
    if (!*alpha) {
        *alpha = qxAllocAlphaBitMap(uint32_t(w), uint32_t(h), 0, nullptr, 0);
        if (!*alpha) return ERR_ALLOCALPHA;
        qxFillBitMapRect(*alpha, 0, 0, w, h, factor);
        return 0;
    }
    qxScaleAlpha(*alpha, *alpha, h, factor);
    return 0;
}
}
