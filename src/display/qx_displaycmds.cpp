// Creating, opening, sizing, scaling and closing displays, and the display
// library's commands that act on them.
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"
#include "core/runtime/qx_lists.h"
#include "core/runtime/qx_startup.h"
#include "core/vm/lauxlib.h"
#include "display/qx_adapter.h"
#include "display/qx_asyncdraw.h"
#include "display/qx_backfill.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapscale.h"
#include "display/qx_display.h"
#include "display/qx_displaycmds.h"
#include "display/qx_framepacing.h"
#include "display/qx_eventqueue.h"
#include "display/qx_menu.h"
#include "display/qx_satellite.h"
#include "display/qx_snapshot.h"
#include "display/qx_startdisplay.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_upcalls.h"
#include "display/qx_reqdispatch.h"
#include "platform/x11/x11_display.h"

namespace {

constexpr int32_t kCenter = -100000, kNative = -110000, kKeep = 100000, kNotGiven = 200000;

struct FlagName {
    const char *name;
    uint32_t flag;
};
const FlagName kFlags[] = {
    {"borderless", QX_DISP_BORDERLESS}, {"sizeable", QX_DISP_SIZEABLE}, {"fixed", QX_DISP_FIXED},
    {"nohide", QX_DISP_NOHIDE}, {"nomodeswitch", QX_DISP_NOMODESWITCH},
    {"smoothscale", QX_DISP_SMOOTHSCALE}, {"active", QX_DISP_ACTIVE},
    {"hidepointer", QX_DISP_HIDEPOINTER}, {"usequartz", QX_DISP_USEQUARTZ},
    {"noclose", QX_DISP_NOCLOSE}, {"keepproportions", QX_DISP_KEEPPROPORTIONS},
    {"fitscale", QX_DISP_FITSCALE}, {"keepscreenon", QX_DISP_KEEPSCREENON},
    {"hidefromtaskbar", QX_DISP_HIDEFROMTASKBAR}, {"hideoptionsmenu", QX_DISP_HIDEOPTIONSMENU},
    {"nohardwarescale", QX_DISP_NOHARDWARESCALE}, {"disableblanker", QX_DISP_DISABLEBLANKER},
    {"rememberposition", QX_DISP_REMEMBERPOSITION}, {"maximized", QX_DISP_MAXIMIZED},
    {"traprmb", QX_DISP_TRAPRMB}, {"noscaleengine", QX_DISP_NOSCALEENGINE},
    {"nativeunits", QX_DISP_NATIVEUNITS}, {"noliveresize", QX_DISP_NOLIVERESIZE},
    {"alwaysontop", QX_DISP_ALWAYSONTOP}, {"singlemenu", QX_DISP_SINGLEMENU},
    {"hidden", QX_DISP_HIDDEN}, {"layers", QX_DISP_LAYERS},
};

struct ModeName {
    const char *name;
    uint32_t mode;
};
const ModeName kModes[] = {{"windowed", 1}, {"fullscreen", 2}, {"ask", 3}, {"moderequester", 4},
                           {"fakefullscreen", 6}, {"fullscreenscale", 7}, {"systemscale", 8}};

void getField(lua_State *L, int t, const char *key)
{
    lua_pushstring(L, key);
    lua_gettable(L, t);
}

int monitorRect(qxDisplay *d, int *x, int *y, int *w, int *h)
{
    return qxGetDisplayGeometry(d, x, y, w, h);
}

// KEEPPOSITION keeps the coordinate the record has; a position not given
// centres. Neither may reach the window as a coordinate.
int32_t keepOrCentre(int32_t v, int32_t old)
{
    return v == kKeep ? old : v == kNotGiven ? kCenter : v;
}

// Regions {type, x, y, width, height} up to the first nil; at most 64.
int readRegions(lua_State *L, int t, const char *key, qxRegion *out, uint32_t *count, bool *given)
{
    getField(L, t, key);
    if (lua_isnil(L, -1)) {
        lua_pop(L, 1);
        return 0;
    }
    if (!lua_istable(L, -1)) {
        lua_pop(L, 1);
        return ERR_WRONGUSAGE;
    }
    int list = lua_gettop(L);
    uint32_t n = 0;
    int r = 0;
    for (int i = 0;; i++) {
        lua_rawgeti(L, list, i);
        if (lua_isnil(L, -1)) {
            lua_pop(L, 1);
            if (i == 0) { // lists written from 1
                lua_rawgeti(L, list, 1);
                bool one = !lua_isnil(L, -1);
                lua_pop(L, 1);
                if (one)
                    continue;
            }
            break;
        }
        if (!lua_istable(L, -1) || n >= QX_MAX_REGIONS) {
            lua_pop(L, 1);
            r = ERR_WRONGUSAGE;
            break;
        }
        int e = lua_gettop(L);
        static const char *const names[5] = {"type", "x", "y", "width", "height"};
        double v[5];
        for (int k = 0; k < 5 && !r; k++) {
            getField(L, e, names[k]);
            if (lua_isnil(L, -1))
                r = ERR_MISSINGPARAMTR;
            else if (!lua_isnumber(L, -1))
                r = ERR_WRONGUSAGE;
            else
                v[k] = lua_tonumber(L, -1);
            lua_pop(L, 1);
        }
        lua_pop(L, 1);
        if (r)
            break;
        if (v[0] != 14 || v[1] < 0 || v[2] < 0 || v[3] < 1 || v[4] < 1 || v[1] > 1e9 ||
            v[2] > 1e9 || v[3] > 1e9 || v[4] > 1e9) {
            r = ERR_WRONGUSAGE;
            break;
        }
        out[n++] = {14, (int32_t)v[1], (int32_t)v[2], (int32_t)v[3], (int32_t)v[4]};
    }
    lua_pop(L, 1);
    if (!r) {
        *count = n;
        *given = true;
    }
    return r;
}

// "N%" of base, a number, or #NATIVE; 0 and below are refused by callers.
int readSize(lua_State *L, int t, const char *key, int base, int native, int *out, bool *found)
{
    getField(L, t, key);
    int r = 0;
    if (lua_isnil(L, -1)) {
        lua_pop(L, 1);
        return 0;
    }
    if (lua_type(L, -1) == LUA_TSTRING) {
        const char *s = lua_tostring(L, -1);
        char *end = nullptr;
        double v = std::strtod(s, &end);
        if (end == s || *end != '%' || end[1] || v <= 0 || v > 100000)
            r = ERR_WRONGUSAGE;
        else
            *out = (int)(base * v / 100);
    } else if (lua_isnumber(L, -1)) {
        double v = lua_tonumber(L, -1);
        *out = v == kNative ? native : (v > 1e7 || v < -1e7 ? 0 : (int)v);
    } else {
        r = ERR_WRONGUSAGE;
    }
    lua_pop(L, 1);
    if (!r)
        *found = true;
    return r;
}

int monitorCount(qxDisplay *d)
{
    x11Monitor *list = qxDispGetMonitors(d);
    int n = 0;
    for (x11Monitor *m = list; m; m = m->next)
        n++;
    x11FreeMonitors(list);
    return n;
}

// The "monitor" tag of OpenDisplay and ChangeDisplayMode: 1-based.
int checkMonitorTag(qxDisplay *d, int mon)
{
    if (mon > 1 && !qxRequireVersion(6, 0))
        return ERR_OLDAPPLET;
    if (mon < 1 || mon > monitorCount(d))
        return ERR_MONITORRANGE;
    return 0;
}

int nativeSize(qxDisplay *d, bool width)
{
    int x, y, w, h;
    if (monitorRect(d, &x, &y, &w, &h))
        return 0;
    return width ? w : h;
}

} // namespace

extern "C" {

int qxLookupDisplayMode(const char *name, uint32_t *mode)
{
    for (const ModeName &m : kModes)
        if (!strcasecmp(m.name, name)) {
            *mode = m.mode;
            return 0;
        }
    return ERR_WRONGUSAGE;
}

void qxLetterbox(qxDisplay *d, int W, int H, int bw, int bh)
{
    d->marginLeft = d->marginTop = d->marginRight = d->marginBottom = 0;
    // A shaped picture is its window's shape: it fills the window whole.
    const bool shaped = d->bgpic && (d->bgpic->curMask || d->bgpic->curAlpha);
    if (!(d->flags & QX_DISP_KEEPPROPORTIONS) || shaped || bw < 1 || bh < 1) {
        d->scaledWidth = (uint32_t)W;
        d->scaledHeight = (uint32_t)H;
    } else {
        int sh = (int)((double)bh / bw * W);
        if (sh <= H) {
            d->scaledWidth = (uint32_t)W;
            d->scaledHeight = (uint32_t)sh;
            d->marginTop = (H - sh) / 2;
            d->marginBottom = H - sh - d->marginTop;
        } else {
            int sw = (int)((double)bw / bh * H);
            d->scaledWidth = (uint32_t)sw;
            d->scaledHeight = (uint32_t)H;
            d->marginLeft = (W - sw) / 2;
            d->marginRight = W - sw - d->marginLeft;
        }
    }
    d->scaleX = (double)d->scaledWidth / (bw > 0 ? bw : 1);
    d->scaleY = (double)d->scaledHeight / (bh > 0 ? bh : 1);
}

int qxReadDisplayTags(lua_State *L, int t, qxDisplay *d, int create)
{
    int r = 0;
    for (const FlagName &f : kFlags) {
        getField(L, t, f.name);
        if (!lua_isnil(L, -1)) {
            if (lua_toboolean(L, -1) && !(lua_isnumber(L, -1) && lua_tonumber(L, -1) == 0))
                d->flags |= f.flag;
            else
                d->flags &= ~f.flag;
        }
        lua_pop(L, 1);
    }
    bool found = false, dragGiven = false, sizeGiven = false;
    if ((r = readRegions(L, t, "dragregion", d->dragRegionsCopy, &d->dragRegionCount, &dragGiven)))
        return r;
    if ((r = readRegions(L, t, "sizeregion", d->sizeRegionsCopy, &d->sizeRegionCount, &sizeGiven)))
        return r;
    d->dragRegionsGiven |= dragGiven;
    d->sizeRegionsGiven |= sizeGiven;
    int v;
    int found2 = 0;
    if (qxGetFieldInt(L, t, "x", &v, &found2))
        d->x = v;
    if (qxGetFieldInt(L, t, "y", &v, &found2))
        d->y = v;
    int mon = (int)d->monitor + 1, monGiven = 0;
    if (qxGetFieldInt(L, t, "monitor", &mon, &monGiven) && monGiven) {
        // The first monitor is there even before a server is.
        if (mon > 1 && !qxRequireVersion(6, 0))
            return ERR_OLDAPPLET;
        if (mon != 1 && (mon < 1 || mon > monitorCount(d)))
            return ERR_MONITORRANGE;
        d->monitor = (uint32_t)(mon - 1);
    }
    getField(L, t, "title");
    if (!lua_isnil(L, -1) && lua_type(L, -1) != LUA_TSTRING && !lua_isnumber(L, -1)) {
        lua_pop(L, 1);
        return ERR_WRONGUSAGE;
    }
    if (!lua_isnil(L, -1))
        std::snprintf(d->title, sizeof d->title, "%s", lua_tostring(L, -1));
    lua_pop(L, 1);
    getField(L, t, "xserver");
    if (!lua_isnil(L, -1)) {
        if (lua_type(L, -1) != LUA_TSTRING && !lua_isnumber(L, -1)) {
            lua_pop(L, 1);
            return ERR_WRONGUSAGE;
        }
        const char *s = lua_tostring(L, -1);
        if (s[0] && !qxRequireVersion(6, 0)) {
            lua_pop(L, 1);
            return ERR_OLDAPPLET;
        }
        std::snprintf(d->xServer, sizeof d->xServer, "%s", s);
    }
    lua_pop(L, 1);
    getField(L, t, "nocyclermenu");
    if (!lua_isnil(L, -1))
        d->flags2 = lua_toboolean(L, -1) && !(lua_isnumber(L, -1) && lua_tonumber(L, -1) == 0)
                        ? d->flags2 | 1u
                        : d->flags2 & ~1u;
    lua_pop(L, 1);
    // A BGPic the display is to show: size and fill are its own.
    qxObjectRef shown{0, nullptr};
    int given = 0;
    if (qxGetFieldID(L, t, "bgpic", &shown, &given) && given) {
        qxBGPic *b = qxFindBGPicRecord(shown);
        if (!b || b->pendingDeletion) {
            if (shown.automatic)
                return ERR_FINDARRAY;
            qxSetErrorNumber((int)shown.number);
            return ERR_FINDBGPIC;
        }
        qxDisplay *other = qxFindDisplayForBGPic(b);
        if (other && other != qxFindDisplayForBGPic(d->bgpic))
            return ERR_MULTIBGPIC;
        if (b != d->bgpic) {
            d->bgpic = b;
            d->bgpicOwned = 0;
        }
        d->width = b->width;
        d->height = b->height;
        d->fillStyle = b->fill.style ? b->fill.style : 1;
        d->fillColor = b->fill.colour;
    }
    int w = d->width, h = d->height;
    found = false;
    if (given) {
        // "width" and "height" belong to a display without "bgpic".
    } else if ((r = readSize(L, t, "width", w, kNative, &w, &found)))
        return r;
    if (found && w == kNative)
        w = nativeSize(d, true);
    bool foundH = false;
    if (!given && (r = readSize(L, t, "height", h, kNative, &h, &foundH)))
        return r;
    if (foundH && h == kNative)
        h = nativeSize(d, false);
    if ((found && w < 1) || (foundH && h < 1))
        return ERR_WRONGUSAGE;
    d->width = w;
    d->height = h;
    int fill = (int)(d->fillStyle ? d->fillStyle : 1);
    if (qxGetFieldInt(L, t, "fillstyle", &fill, &found2)) {
        if (fill < 0 || fill > 3)
            return ERR_WRONGUSAGE;
        d->fillStyle = fill ? (uint32_t)fill : 1;
    }
    int colour = (int)d->fillColor;
    if (qxGetFieldColor(L, t, "color", &colour, &found2))
        d->fillColor = (uint32_t)colour & 0xFFFFFF;
    int sm;
    if (qxGetFieldInt(L, t, "scalemode", &sm, &found2)) {
        if (sm < 0 || sm > 2)
            return ERR_WRONGUSAGE;
        d->autoScale = sm == 1;
        d->layerScale = sm == 2;
        if (!sm) {
            d->scaledWidth = d->scaledHeight = 0;
            d->marginLeft = d->marginTop = d->marginRight = d->marginBottom = 0;
        }
    }
    int sw = (int)d->scaledWidth, sh = (int)d->scaledHeight;
    bool fw = false, fh = false;
    if ((r = readSize(L, t, "scalewidth", d->width, kNative, &sw, &fw)))
        return r;
    if ((r = readSize(L, t, "scaleheight", d->height, kNative, &sh, &fh)))
        return r;
    if (fw && sw == kNative)
        sw = nativeSize(d, true);
    if (fh && sh == kNative)
        sh = nativeSize(d, false);
    if ((fw && sw < 1) || (fh && sh < 1))
        return ERR_WRONGUSAGE;
    // A scaled size given is the window's: the letterbox is made anew in it.
    if (fw) {
        d->scaledWidth = (uint32_t)sw;
        d->marginLeft = d->marginRight = 0;
    }
    if (fh) {
        d->scaledHeight = (uint32_t)sh;
        d->marginTop = d->marginBottom = 0;
    }
    if (create) {
        int desktop = 0;
        if (qxGetFieldInt(L, t, "desktop", &desktop, &found2))
            d->desktop = desktop != 0;
        getField(L, t, "mode");
        if (!lua_isnil(L, -1)) {
            const char *m = lua_tostring(L, -1);
            r = m ? qxLookupDisplayMode(m, &d->mode) : ERR_WRONGUSAGE;
        }
        lua_pop(L, 1);
        if (r)
            return r;
    }
    qxGetFieldInt(L, t, "orientation", reinterpret_cast<int *>(&d->orientation), &found2);
    getField(L, t, "menu");
    if (!lua_isnil(L, -1)) {
        qxObjectRef ref{0, nullptr};
        if (lua_type(L, -1) == LUA_TLIGHTUSERDATA)
            ref.automatic = lua_touserdata(L, -1);
        else if (lua_isnumber(L, -1))
            ref.number = (uint32_t)(int64_t)lua_tonumber(L, -1);
        else
            r = ERR_WRONGUSAGE;
        qxMenu *m = nullptr;
        if (!r && qxDisplayAdapterActive())
            r = ERR_DISPLAYADAPTERSUPPORT;
        if (!r && !(r = qxFindMenu(ref, &m)))
            d->menu = m;
    }
    lua_pop(L, 1);
    return r;
}

// The default and given regions clipped to the display size.
void qxResetRegions(qxDisplay *d)
{
    auto clip = [&](qxRegion &g) {
        // A display smaller than the default corner region starts it at 0.
        if (g.x < 0)
            g.width += g.x, g.x = 0;
        if (g.y < 0)
            g.height += g.y, g.y = 0;
        if (g.x >= d->width)
            g.x = d->width - 1;
        if (g.y >= d->height)
            g.y = d->height - 1;
        if (g.x + g.width > d->width)
            g.width = d->width - g.x;
        if (g.y + g.height > d->height)
            g.height = d->height - g.y;
        g.width = std::max(g.width, 1);
        g.height = std::max(g.height, 1);
    };
    if (!d->dragRegionsGiven) {
        d->dragRegionCount = 1;
        d->dragRegionsCopy[0] = {14, 0, 0, d->width, 15};
    }
    if (!d->sizeRegionsGiven) {
        d->sizeRegionCount = 1;
        d->sizeRegionsCopy[0] = {14, d->width - 10, d->height - 10, 10, 10};
    }
    double fx = d->autoScale && d->dragRegionsGiven ? d->scaleX : 1.0;
    double fy = d->autoScale && d->dragRegionsGiven ? d->scaleY : 1.0;
    for (uint32_t i = 0; i < d->dragRegionCount; i++) {
        qxRegion g = d->dragRegionsCopy[i];
        g = {14, (int32_t)(g.x * fx), (int32_t)(g.y * fy), (int32_t)(g.width * fx),
             (int32_t)(g.height * fy)};
        clip(g);
        d->dragRegions[i] = g;
    }
    fx = d->autoScale && d->sizeRegionsGiven ? d->scaleX : 1.0;
    fy = d->autoScale && d->sizeRegionsGiven ? d->scaleY : 1.0;
    for (uint32_t i = 0; i < d->sizeRegionCount; i++) {
        qxRegion g = d->sizeRegionsCopy[i];
        g = {14, (int32_t)(g.x * fx), (int32_t)(g.y * fy), (int32_t)(g.width * fx),
             (int32_t)(g.height * fy)};
        clip(g);
        d->sizeRegions[i] = g;
    }
}



// Mode "fullscreenscale": a full-screen display without a mode switch,
// its window the monitor's size; the picture is scaled to it, or with
// "noscaleengine" the display itself takes that size when it opens.
static void fullScreenScale(qxDisplay *d)
{
    int mw = nativeSize(d, true), mh = nativeSize(d, false);
    if (!d->autoScale && !d->layerScale && (d->flags & QX_DISP_NOSCALEENGINE)) {
        d->restoreWidth = (uint32_t)mw;
        d->restoreHeight = (uint32_t)mh;
    } else {
        d->scaledWidth = (uint32_t)mw;
        d->scaledHeight = (uint32_t)mh;
        if (!d->layerScale) {
            d->autoScale = 1;
            d->flags |= QX_DISP_AUTOSCALE;
        }
    }
    d->fullScreen = 1;
    d->flags |= QX_DISP_BORDERLESS | QX_DISP_FIXED;
    d->mode = 1;
}

// The display's own BGPic at its size and fill. Display 1 made from the
// applet's declarations owns BGPic 1, which scripts and the declared
// objects expect to find.
static int makeOwnBGPic(lua_State *L, qxDisplay *d, uint32_t number, int tags, qxBGPic **out)
{
    // A gradient or texture fill is read first: nothing is made on an error.
    qxFillRecord fill{};
    fill.style = d->fillStyle;
    fill.colour = d->fillColor;
    if (fill.style >= QX_FILL_GRADIENT) {
        if (!qxDisplayFill.read || !tags)
            return ERR_WRONGUSAGE;
        if (int r = qxDisplayFill.read(L, tags, &fill))
            return r;
    }
    qxObjectRef ref{0, QX_NEW_AUTOMATIC};
    if (number == 1 && qxGetTag(QX_TAG_STORED)) {
        if (qxBGPic *old = qxFindBGPicRecord({1, nullptr})) {
            if (d->desktop)
                return ERR_DISPLAYDESKTOP;
            if (qxFindDisplayForBGPic(old))
                return ERR_MULTIBGPIC;
            qxFreeBGPicRecord(L, old);
        }
        ref = {1, nullptr};
    }
    if (int r = qxCreateBGPicFromBitmap(&ref, d->width, d->height, d->fillColor, out))
        return r;
    if (fill.style >= QX_FILL_GRADIENT) {
        qxBGPic *b = *out;
        // Drawn again at every size: re-rendered, not pixel-scaled.
        b->fill = fill;
        b->kind = 1;
        // Declared brushes have no pixels yet: start-up tiles them later.
        if (fill.style == QX_FILL_TEXTURE && qxGetTag(QX_TAG_STORED))
            return 0;
        if (int r = qxDisplayFill.fill(L, b->bitmap, &b->fill, d->width, d->height)) {
            qxFreeBGPicRecord(L, b);
            *out = nullptr;
            return r;
        }
    }
    return 0;
}

int qxCreateDisplayRecord(lua_State *L, uint32_t id, int automatic, int tags, qxDisplay **out)
{
    *out = nullptr;
    if (!automatic) {
        qxDisplay *old = nullptr;
        if (!qxFindDisplay({id, nullptr}, &old) && old) {
            if (qxCurrentDisplay == old && old->state == QX_DISPSTATE_CLOSED)
                qxCurrentDisplay = nullptr;
            qxBGPic *b = old->bgpicOwned ? old->bgpic : nullptr;
            qxBitMap *scaled = old->scaledBitMap;
            if (int r = qxFreeDisplay(L, old))
                return r;
            qxFreeBGPicRecord(L, b);
            qxFreeBitMap(scaled);
        }
    }
    qxDisplay *d = qxNewDisplayRecord(id);
    if (!d)
        return ERR_MEM;
    d->x = d->y = kCenter;
    d->width = 640;
    d->height = 480;
    d->fillStyle = 1;
    d->monitorRelativeX = d->monitorRelativeY = 1;
    d->systemScaleFactor = d->scriptScaleFactor = 1.0;
    if (tags) {
        // A tag of the wrong type raises a script error: the tags are read
        // into a copy on the stack so that no record is left behind.
        qxDisplay staged = *d;
        std::free(d);
        d = &staged;
        int r = qxReadDisplayTags(L, tags, d, 1);
        d->x = keepOrCentre(d->x, kCenter);
        d->y = keepOrCentre(d->y, kCenter);
        // Internal tags of start-up: the remembered size (negative: a
        // percentage) and the placement text handed back on close.
        int v = 0, found = 0;
        if (!r && qxGetFieldInt(L, tags, "__restorewidth", &v, &found))
            d->restoreWidth = (uint32_t)(v < 0 ? (int64_t)d->width * -v / 100 : v);
        if (!r && qxGetFieldInt(L, tags, "__restoreheight", &v, &found))
            d->restoreHeight = (uint32_t)(v < 0 ? (int64_t)d->height * -v / 100 : v);
        if (!r && qxGetFieldInt(L, tags, "__backfill", &v, &found) && v) {
            d->backfill = 1;
            d->flags |= QX_DISP_HIDEFROMTASKBAR;
        }
        if (!r && qxGetFieldInt(L, tags, "__resourcemonitor", &v, &found) && v) {
            d->resourceMonitor = 1;
            d->flags |= QX_DISP_HIDEFROMTASKBAR;
        }
        double factor = 1.0;
        if (!r && qxGetFieldNum(L, tags, "scalefactor", &factor, &found)) {
            // NaN fails the first test.
            if (!(factor > 0.0) || factor > 100.0)
                r = ERR_WRONGUSAGE;
            else
                d->scriptScaleFactor = d->systemScaleFactor = factor;
        }
        if (!r)
            r = qxReadBackfillTag(L, tags, d);
        getField(L, tags, "__placement");
        if (!r && lua_type(L, -1) == LUA_TSTRING) {
            size_t n = lua_strlen(L, -1);
            d->placement = static_cast<char *>(std::malloc(n + 1));
            if (!d->placement)
                r = ERR_MEM;
            else
                std::memcpy(d->placement, lua_tostring(L, -1), n + 1);
            d->placementLength = (uint32_t)n;
        }
        lua_pop(L, 1);
        d = r ? nullptr : static_cast<qxDisplay *>(std::malloc(sizeof(qxDisplay)));
        if (!d) {
            std::free(staged.placement);
            std::free(staged.backfillDescription);
            return r ? r : ERR_MEM;
        }
        *d = staged;
    }
    if (d->mode == 8) {
        // The desktop's own scaling on top of the script's factor.
        double desktop = 1.0;
        qxGetScaleFactor(&desktop);
        if (desktop > 0.0)
            d->systemScaleFactor = d->scriptScaleFactor * desktop;
        d->mode = 1;
    }
    if (d->systemScaleFactor != 1.0) {
        d->scaledWidth = (uint32_t)std::max(1.0, d->width * d->systemScaleFactor);
        d->scaledHeight = (uint32_t)std::max(1.0, d->height * d->systemScaleFactor);
        if (!d->autoScale && !d->layerScale)
            d->autoScale = 1;
        d->systemScale = 1;
        qxDisplayScaleSize(d, &d->x, &d->y, nullptr, nullptr);
    }
    if (d->mode == 7)
        fullScreenScale(d);
    if (d->desktop) {
        // The desktop's picture fills the monitor.
        int mw = nativeSize(d, true), mh = nativeSize(d, false);
        if (mw > 0 && mh > 0)
            d->width = mw, d->height = mh;
    }
    if (d->scaledWidth && !d->autoScale && !d->layerScale)
        d->autoScale = 1;
    if (d->autoScale)
        d->flags |= QX_DISP_AUTOSCALE;
    if (d->layerScale)
        d->flags |= QX_DISP_LAYERSCALE;
    if (!d->autoScale && !d->layerScale)
        d->scaledWidth = d->scaledHeight = 0;
    // The first display prepared learns the screen's pixel format before
    // its picture is made in it.
    if (qxScreenPixelFormat < 0 && !qxDisplayAdapterActive())
        x11InitPixelFormat(d);
    qxBGPic *b = d->bgpic;
    if (!b) {
        if (int r = makeOwnBGPic(L, d, automatic ? 0 : id, tags, &b)) {
            std::free(d->placement);
            std::free(d->backfillDescription);
            std::free(d);
            return r;
        }
        d->bgpic = b;
        d->bgpicOwned = 1;
    }
    if (d->autoScale || (d->layerScale && d->scaledWidth && d->scaledHeight)) {
        int W = d->scaledWidth ? (int)d->scaledWidth : d->width;
        int H = d->scaledHeight ? (int)d->scaledHeight : d->height;
        qxLetterbox(d, W, H, d->width, d->height);
        d->width = W;
        d->height = H;
    }
    // The layer scaling engine works on layers.
    if (d->layerScale || (d->flags & QX_DISP_LAYERS))
        d->layersEnabled = 1;
    d->cursorRightMargin = b->width - 1;
    auto freeOwn = [&] {
        if (d->bgpicOwned)
            qxFreeBGPicRecord(L, b);
    };
    if (!qxDisplayAdapterActive())
        if (int r = x11AllocDisplayData(d)) {
            freeOwn();
            std::free(d->placement);
            std::free(d->backfillDescription);
            std::free(d);
            return r;
        }
    d->pendingMutex = qxCreateMutex();
    int r = d->pendingMutex ? 0 : ERR_SEMAPHORE;
    // Declared displays fit their monitors when the first window opens.
    if (!r && !qxGetTag(QX_TAG_STORED))
        r = qxApplyFitScale(d);
    if (r) {
        if (d->pendingMutex)
            qxDeleteMutex(static_cast<qxMutex *>(d->pendingMutex));
        if (!qxDisplayAdapterActive())
            x11FreeDisplayData(d);
        freeOwn();
        std::free(d->placement);
        std::free(d->backfillDescription);
        std::free(d);
        return r;
    }
    if (automatic) {
        d->header.automatic = d;
        d->header.id = 0;
    }
    qxAppendDisplay(d);
    *out = d;
    return 0;
}

}

// Commands.
namespace {

// Window requests that nothing else follows must reach the server now.
void flushWindow(qxDisplay *d)
{
    if (x11Data(d) && x11Data(d)->display)
        XFlush(x11Data(d)->display);
}

int argDisplay(lua_State *L, int n, qxDisplay **out)
{
    return qxFindDisplay(qxGetObjectIDArg(L, n), out);
}

int cmdCreateDisplay(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    int automatic = 0;
    uint32_t id = qxGetNewIDArg(L, 1, &automatic);
    int tags = 0;
    if (lua_gettop(L) >= 2 && !lua_isnil(L, 2)) {
        if (!lua_istable(L, 2))
            return ERR_WRONGUSAGE;
        tags = 2;
    }
    qxDisplay *d = nullptr;
    if (int r = qxCreateDisplayRecord(L, id, automatic, tags, &d))
        return r;
    if (!qxCurrentDisplay)
        qxCurrentDisplay = d;
    if (automatic)
        return qxPushObjectID(L, {0, d});
    return 0;
}

int cmdOpenDisplay(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    qxDisplay *d;
    if (int r = argDisplay(L, 1, &d))
        return r;
    if (d->state != QX_DISPSTATE_CLOSED)
        return ERR_WRONGUSAGE;
    bool noselect = false;
    if (lua_istable(L, 2)) {
        int v = 0, f = 0;
        if (qxGetFieldInt(L, 2, "noselect", &v, &f))
            noselect = v != 0;
        int x = d->x, y = d->y;
        bool gx = qxGetFieldInt(L, 2, "x", &x, &f), gy = qxGetFieldInt(L, 2, "y", &y, &f);
        qxDisplayScaleSize(d, gx ? &x : nullptr, gy ? &y : nullptr, nullptr, nullptr);
        // A kept coordinate is already in window coordinates.
        if (gx && x != kKeep)
            d->x = keepOrCentre(x, d->x), d->monitorRelativeX = 1;
        if (gy && y != kKeep)
            d->y = keepOrCentre(y, d->y), d->monitorRelativeY = 1;
        getField(L, 2, "mode");
        int r = 0;
        if (!lua_isnil(L, -1))
            r = lua_tostring(L, -1) ? qxLookupDisplayMode(lua_tostring(L, -1), &d->mode)
                                    : ERR_WRONGUSAGE;
        lua_pop(L, 1);
        if (r)
            return r;
        int mon = 0;
        if (qxGetFieldInt(L, 2, "monitor", &mon, &f)) {
            if (int r = checkMonitorTag(d, mon))
                return r;
            if ((uint32_t)(mon - 1) != d->monitor) {
                d->monitor = (uint32_t)(mon - 1);
                d->x = d->y = kCenter; // centred on the new monitor
                d->monitorRelativeX = d->monitorRelativeY = 1;
            }
        }
        if (int r = qxReadBackfillTag(L, 2, d))
            return r;
        getField(L, 2, "xserver");
        if (!lua_isnil(L, -1))
            std::snprintf(d->xServer, sizeof d->xServer, "%s",
                          lua_tostring(L, -1) ? lua_tostring(L, -1) : "");
        lua_pop(L, 1);
    } else if (lua_gettop(L) >= 2) {
        noselect = luaL_checknumber(L, 2) != 0;
    }
    if (d->mode == 7 && d->bgpic) {
        fullScreenScale(d);
        if (d->autoScale || d->layerScale) {
            const int W = (int)d->scaledWidth, H = (int)d->scaledHeight;
            qxLetterbox(d, W, H, d->bgpic->width, d->bgpic->height);
            d->width = W;
            d->height = H;
        }
    }
    if (int r = qxOpenDisplayWindow(L, d, 0))
        return r;
    if (!noselect)
        qxCurrentDisplay = d;
    return 0;
}

int cmdCloseDisplay(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxDisplay *d;
    if (int r = argDisplay(L, 1, &d))
        return r;
    if (d->state == QX_DISPSTATE_CLOSED)
        return ERR_WRONGUSAGE;
    if (qxDisplayHasVideos(d))
        return ERR_VIDATTACHED;
    if (d->hardwareDoubleBuffer ||
        (qxCurrentDisplay && (qxCurrentDisplay->doubleBufferState & 2)))
        return ERR_HWDBFREEDISP;
    return qxCloseDisplayWindow(L, d);
}

int cmdFreeDisplay(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxDisplay *d;
    if (int r = argDisplay(L, 1, &d))
        return r;
    if (d == qxCurrentDisplay)
        return ERR_FREEADISPLAY;
    qxBGPic *b = d->bgpicOwned ? d->bgpic : nullptr;
    qxBitMap *scaled = d->scaledBitMap;
    if (int r = qxFreeDisplay(L, d))
        return r;
    qxFreeBGPicRecord(L, b);
    qxFreeBitMap(scaled);
    // A BGPic the script freed while this display showed it goes with it.
    if (qxLayerQueries.flushDeletedObjects)
        qxLayerQueries.flushDeletedObjects(L, 8);
    return 0;
}

int cmdSelectDisplay(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    qxDisplay *d;
    if (int r = argDisplay(L, 1, &d))
        return r;
    const bool noFocus = lua_gettop(L) >= 2 && !lua_isnil(L, 2) && luaL_checknumber(L, 2) != 0;
    qxDisplay *old = qxCurrentDisplay;
    auto kept = [](qxDisplay *x) { return qxKeptDisplayRedirect ? qxKeptDisplayRedirect(x) : nullptr; };
    // Drawing redirected on the display left goes back to its BGPic, unless
    // it double buffers (a selection made meanwhile lasts until EndSelect).
    if (old && old != d && old->targetType != 21 && !old->doubleBuffer && !kept(old) && qxEndDisplayRedirect)
        if (int r = qxEndDisplayRedirect(L, old, 0))
            return r;
    qxCurrentDisplay = d;
    if (old != d) {
        if (d->targetType == 21 && !d->doubleBuffer)
            qxCurrentOutput = d->bgpic;
        else if (qxBGPic *record = kept(d))
            qxCurrentOutput = record;
    }
    if (d->state == QX_DISPSTATE_OPEN && !noFocus)
        qxDispActivate(d, 1);
    return 0;
}

int cmdActivateDisplay(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    qxDisplay *d;
    if (int r = argDisplay(L, 1, &d))
        return r;
    if (d->state == QX_DISPSTATE_CLOSED)
        return ERR_CLOSEDDISPLAY;
    qxDispActivate(d, lua_gettop(L) >= 2 ? lua_toboolean(L, 2) : 0);
    return 0;
}

qxDisplay *current() { return qxCurrentDisplay; }

int cmdShowDisplay(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    qxDisplay *d = current();
    if (!d || d->state != QX_DISPSTATE_MINIMIZED)
        return ERR_WRONGUSAGE;
    qxDispShowHide(d, 0);
    d->state = QX_DISPSTATE_OPEN;
    d->activation = 1;
    // Nothing drawn while hidden reached the window: it shows the whole
    // picture again.
    return qxRefreshWholeDisplay(d, 0);
}

int cmdHideDisplay(lua_State *L)
{
    qxCheckArgCount(L, 0, 1, 0, 0);
    qxDisplay *d = current();
    if (!d || d->state != QX_DISPSTATE_OPEN)
        return ERR_WRONGUSAGE;
    qxDispShowHide(d, 1);
    flushWindow(d);
    d->state = QX_DISPSTATE_MINIMIZED;
    d->activation = 0;
    return 0;
}

int cmdSetTitle(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxDisplay *d = current();
    const char *t = luaL_checkstring(L, 1);
    if (!d)
        return ERR_WRONGUSAGE;
    std::snprintf(d->title, sizeof d->title, "%s", t);
    if (d->state != QX_DISPSTATE_CLOSED) {
        qxDispSetTitle(d);
        flushWindow(d);
    }
    return 0;
}

// A size argument: number, "N%" of base, #NATIVE or #KEEPASPRAT (kept as 100000).
int sizeArg(lua_State *L, int n, int base, int native, int *out)
{
    if (lua_type(L, n) == LUA_TSTRING) {
        const char *s = lua_tostring(L, n);
        char *end = nullptr;
        double v = std::strtod(s, &end);
        if (end == s || *end != '%' || end[1] || v <= 0 || v > 100000)
            return ERR_WRONGUSAGE;
        *out = (int)(base * v / 100);
        return 0;
    }
    double v = luaL_checknumber(L, n);
    *out = v == kNative ? native : (v > 1e7 || v < -1e7) ? 0 : (int)v;
    return 0;
}

int cmdChangeDisplaySize(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    qxDisplay *d = current();
    if (!d || !d->bgpic)
        return ERR_WRONGUSAGE;
    int bw = d->bgpic->width, bh = d->bgpic->height, w, h;
    if (int r = sizeArg(L, 1, bw, nativeSize(d, true), &w))
        return r;
    if (int r = sizeArg(L, 2, bh, nativeSize(d, false), &h))
        return r;
    if (w == kKeep && h == kKeep)
        return ERR_WRONGUSAGE;
    if (w == kKeep)
        w = (int)((double)bw / bh * h);
    else if (h == kKeep)
        h = (int)((double)bh / bw * w);
    if (w < 1 || h < 1)
        return ERR_BADDIMENSIONS;
    int x = kCenter, y = kCenter;
    if (lua_istable(L, 3)) {
        int f = 0, s = 0;
        qxGetFieldInt(L, 3, "x", &x, &f);
        qxGetFieldInt(L, 3, "y", &y, &f);
        if (qxGetFieldInt(L, 3, "smooth", &s, &f))
            d->flags = s ? d->flags | QX_DISP_SMOOTHSCALE : d->flags & ~QX_DISP_SMOOTHSCALE;
        qxDisplayScaleSize(d, &x, &y, nullptr, nullptr);
        if (x == kNotGiven)
            x = kCenter;
        if (y == kNotGiven)
            y = kCenter;
    } else if (lua_gettop(L) >= 3) {
        d->flags = luaL_checknumber(L, 3) != 0 ? d->flags | QX_DISP_SMOOTHSCALE
                                              : d->flags & ~QX_DISP_SMOOTHSCALE;
    }
    if (d->systemScale && (w != bw || h != bh)) {
        // The script's size is the picture's; the window takes it times the
        // system factor.
        const double ww = w * d->systemScaleFactor, wh = h * d->systemScaleFactor;
        if (!qxDisplayAdapterActive() && (ww > 32767 || wh > 32767))
            return qxDisplaySizeRefused((int)ww, (int)wh);
        int r = 0;
        if (d->bgpicOwned)
            r = qxRefillBGPic(d->bgpic, w, h, d->bgpic->fill.colour);
        else if (qxScaleDisplayBGPic)
            r = qxScaleDisplayBGPic(L, d->bgpic, w, h, (d->flags & QX_DISP_SMOOTHSCALE) ? 1 : 0);
        if (r)
            return r;
        w = std::max(1, (int)(w * d->systemScaleFactor));
        h = std::max(1, (int)(h * d->systemScaleFactor));
    }
    int oldX = d->x, oldY = d->y;
    if (int r = qxDisplayRescale(d, w, h, kKeep, kKeep))
        return r;
    d->restorePosition &= ~QX_RESTORE_PLACE;
    // The script's new size: the text cursor starts again at the top left.
    d->cursorX = d->cursorY = d->cursorLeftMargin = 0;
    d->cursorRightMargin = d->bgpic->width - 1;
    d->x = x == kKeep ? oldX : x;
    d->y = y == kKeep ? oldY : y;
    d->monitorRelativeX = x != kKeep;
    d->monitorRelativeY = y != kKeep;
    if (d->state != QX_DISPSTATE_CLOSED) {
        d->monitorRelativeX = d->monitorRelativeX && x != kKeep;
        if (d->x < -1000 || d->y < -1000) {
            // Centring is relative to the monitor.
            d->monitorRelativeX = d->x < -1000;
            d->monitorRelativeY = d->y < -1000;
        } else {
            d->monitorRelativeX = d->monitorRelativeY = 0;
        }
        if (int r = qxPlaceDisplay(d))
            return r;
        qxDispMoveSize(d);
        qxRefreshWholeDisplay(d, 0);
    }
    return 0;
}

int cmdMoveDisplay(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxDisplay *d = current();
    if (!d)
        return ERR_WRONGUSAGE;
    int x = (int)luaL_checknumber(L, 1), y = (int)luaL_checknumber(L, 2);
    // Under system scaling the script's coordinates are scaled like its sizes.
    qxDisplayScaleSize(d, &x, &y, nullptr, nullptr);
    d->x = keepOrCentre(x, d->x);
    d->y = keepOrCentre(y, d->y);
    // The script's own place wins over the one saved on entering full screen.
    d->restorePosition &= ~QX_RESTORE_PLACE;
    d->monitorRelativeX = d->x < -1000;
    d->monitorRelativeY = d->y < -1000;
    if (int r = qxPlaceDisplay(d))
        return r;
    if (d->state != QX_DISPSTATE_CLOSED) {
        qxDispMove(d);
        flushWindow(d);
    }
    return 0;
}

constexpr uint32_t kReopenFlags = QX_DISP_SIZEABLE | QX_DISP_FIXED | QX_DISP_NOHIDE |
                                  QX_DISP_USEQUARTZ | QX_DISP_NOCLOSE | QX_DISP_KEEPPROPORTIONS |
                                  QX_DISP_FITSCALE | QX_DISP_KEEPSCREENON |
                                  QX_DISP_HIDEFROMTASKBAR | QX_DISP_HIDEOPTIONSMENU |
                                  QX_DISP_NOHARDWARESCALE | QX_DISP_MAXIMIZED | QX_DISP_BORDERLESS;

// SetDisplayAttributes' fill: the fill the tags describe, seeded with the
// BGPic's own so that fields not given stay; a change (or a new size)
// refills the BGPic's planes.
int changeFill(lua_State *L, int t, qxDisplay *d, qxDisplay &c, bool resized)
{
    qxBGPic *b = d->bgpic;
    qxFillRecord fill = b->fill;
    fill.style = c.fillStyle ? c.fillStyle : QX_FILL_COLOR;
    fill.colour = c.fillColor & 0xFFFFFF;
    if (fill.style != b->fill.style && fill.style == QX_FILL_GRADIENT)
        fill.gradient = {};
    if (fill.style >= QX_FILL_GRADIENT) {
        if (!qxDisplayFill.read || !qxDisplayFill.fill)
            return ERR_WRONGUSAGE;
        if (int r = qxDisplayFill.read(L, t, &fill))
            return r;
    }
    const bool textureChanged = fill.textureBrush.number != b->fill.textureBrush.number ||
                                fill.textureBrush.automatic != b->fill.textureBrush.automatic;
    const bool changed = fill.style != b->fill.style || fill.colour != b->fill.colour ||
                         std::memcmp(&fill.gradient, &b->fill.gradient, sizeof fill.gradient) != 0 ||
                         textureChanged || fill.textureX != b->fill.textureX || fill.textureY != b->fill.textureY;
    if (!changed && !resized)
        return 0;
    if (fill.style < QX_FILL_GRADIENT) {
        if (int r = qxRefillBGPic(b, c.width, c.height, fill.colour))
            return r;
        qxFreeBitMap(b->fill.textureBitmap);
        b->fill = fill;
        b->fill.textureBitmap = nullptr;
        b->kind = 0;
        return 0;
    }
    // Another brush is copied anew; the old copy goes once the fill worked.
    if (textureChanged)
        fill.textureBitmap = nullptr;
    qxBitMap *bm = qxAllocBitMap((uint32_t)c.width, (uint32_t)c.height, 0, nullptr);
    if (!bm)
        return ERR_BITMAP;
    if (int r = qxDisplayFill.fill(L, bm, &fill, c.width, c.height)) {
        qxFreeBitMap(bm);
        if (fill.textureBitmap != b->fill.textureBitmap)
            qxFreeBitMap(fill.textureBitmap);
        return r;
    }
    qxReplaceBGPicPlanes(b, bm, c.width, c.height);
    if (fill.textureBitmap != b->fill.textureBitmap)
        qxFreeBitMap(b->fill.textureBitmap);
    b->fill = fill;
    // Drawn again at every size: re-rendered, not pixel-scaled.
    b->kind = 1;
    return 0;
}

// The display shown at a new size or scale: its BGPic and layers at the
// new scale (or back at their own size), then the factors and the shape.
int rescaleShown(lua_State *L, qxDisplay *d)
{
    if (qxBitMapDisplay.rescaleLayers)
        if (int r = qxBitMapDisplay.rescaleLayers(L, d))
            return r;
    return qxDisplayScaleAndShape(L, d);
}

int cmdSetDisplayAttributes(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    if (!lua_istable(L, 1))
        return ERR_WRONGUSAGE;
    return qxApplyDisplayAttrs(L, 1, current(), 0);
}

} // namespace

int qxApplyDisplayAttrs(lua_State *L, int t, qxDisplay *d, int keepDeleted)
{
    if (!d || !d->bgpic)
        return ERR_WRONGUSAGE;
    // Tags go into a copy first: an error changes nothing.
    std::unique_ptr<qxDisplay, decltype(&std::free)> owned(static_cast<qxDisplay *>(std::malloc(sizeof(qxDisplay))),
                                                            &std::free);
    qxDisplay *copy = owned.get();
    if (!copy)
        return ERR_MEM;
    std::memcpy(copy, d, sizeof *copy);
    copy->width = d->bgpic->width;
    copy->height = d->bgpic->height;
    const int oldX = d->x, oldY = d->y;
    // A coordinate not given keeps the record's, as KEEPPOSITION does; the
    // sentinel also keeps a kept one out of the system scaling below.
    copy->x = copy->y = kKeep;
    if (int r = qxReadDisplayTags(L, t, copy, 0))
        return r;
    // The script's place, like its sizes, is in system-scaled units.
    qxDisplayScaleSize(copy, &copy->x, &copy->y, nullptr, nullptr);
    // A monitor named without a coordinate centres on it along that axis.
    getField(L, t, "monitor");
    const bool monitorGiven = !lua_isnil(L, -1);
    lua_pop(L, 1);
    if (monitorGiven) {
        if (copy->x == kKeep)
            copy->x = kCenter;
        if (copy->y == kKeep)
            copy->y = kCenter;
    }
    qxDisplay &c = *copy;
    // The window's size; one that no window can take is refused before
    // anything changes.
    const int bgW = c.width, bgH = c.height;
    int winW = d->width, winH = d->height;
    // Under system scaling the window is the picture times the factor.
    if (c.systemScale) {
        c.scaledWidth = (uint32_t)std::clamp(bgW * c.systemScaleFactor, 1.0, 1e6);
        c.scaledHeight = (uint32_t)std::clamp(bgH * c.systemScaleFactor, 1.0, 1e6);
        c.marginLeft = c.marginTop = c.marginRight = c.marginBottom = 0;
    }
    if (c.scaledWidth && !c.autoScale && !c.layerScale)
        c.autoScale = 1;
    if (c.autoScale || (c.layerScale && c.scaledWidth && c.scaledHeight)) {
        if (c.scaledWidth && c.scaledHeight) {
            winW = (int)c.scaledWidth + c.marginLeft + c.marginRight;
            winH = (int)c.scaledHeight + c.marginTop + c.marginBottom;
        }
        qxLetterbox(&c, winW, winH, bgW, bgH);
    } else {
        c.scaledWidth = c.scaledHeight = 0;
        c.marginLeft = c.marginTop = c.marginRight = c.marginBottom = 0;
        c.scaleX = c.scaleY = 1.0;
        winW = bgW;
        winH = bgH;
    }
    if (!qxDisplayAdapterActive() && (winW > 32767 || winH > 32767))
        return qxDisplaySizeRefused(winW, winH);
    // Layer scaling renders the layers at the window's size, so it needs
    // them on; what the display shows now stays below them.
    if (c.layerScale && !d->layersEnabled && qxLayerQueries.enableLayers) {
        if (int r = qxLayerQueries.enableLayers(d))
            return r;
        c.layersEnabled = d->layersEnabled;
    }
    qxBGPic *const oldPic = d->bgpic;
    const bool newPic = c.bgpic != oldPic;
    if (newPic) {
        // Videos, the double buffer, the redirect and the sprites all belong
        // to the old picture and end with it.
        if (qxStopDisplayVideos)
            qxStopDisplayVideos(d);
        if (d == qxCurrentDisplay && d->doubleBuffer && qxEndDisplayDoubleBuffer)
            if (int r = qxEndDisplayDoubleBuffer(L, d))
                return r;
        if (d == qxCurrentDisplay && d->targetType != 21 && !d->doubleBuffer && qxEndDisplayRedirect)
            if (int r = qxEndDisplayRedirect(L, d, 0))
                return r;
        if (oldPic->sprites && qxLayerQueries.freeSpriteList)
            qxLayerQueries.freeSpriteList(L, oldPic);
        c.targetType = d->targetType;
        c.doubleBuffer = d->doubleBuffer;
        c.hardwareDoubleBuffer = d->hardwareDoubleBuffer;
        c.doubleBufferState = d->doubleBufferState;
    }
    const bool resized = c.width != d->bgpic->width || c.height != d->bgpic->height;
    // 200000 (DisplayBGPic without a place) keeps the place too unless the
    // picture's size changes; then the window is centred.
    auto place = [resized](int32_t v, int32_t old) {
        return v == kKeep || (v == kNotGiven && !resized) ? old : v == kNotGiven ? kCenter : v;
    };
    c.x = place(c.x, oldX);
    c.y = place(c.y, oldY);
    const bool moved = c.x != oldX || c.y != oldY;
    auto shaped = [](const qxBGPic *b) { return b->curMask || b->curAlpha; };
    // A shaped window takes another picture's shape with a new window.
    const bool reopen = ((c.flags ^ d->flags) & kReopenFlags) || std::strcmp(c.xServer, d->xServer) ||
                        (newPic && (shaped(oldPic) || shaped(c.bgpic)));
    const bool retitle = std::strcmp(c.title, d->title) != 0;
    // The display's own BGPic, or a script's that has a fill, takes a new
    // fill; a resized own BGPic is filled again at its new size.
    if (!newPic && (d->bgpicOwned || d->bgpic->fill.style != QX_FILL_NONE)) {
        if (int r = changeFill(L, t, d, c, resized && d->bgpicOwned))
            return r;
    }
    // A script's BGPic follows a new size (the display's own was filled
    // anew above).
    if (!newPic && (d->bgpic->width != c.width || d->bgpic->height != c.height) && qxScaleDisplayBGPic) {
        if (int r = qxScaleDisplayBGPic(L, d->bgpic, c.width, c.height, (c.flags & QX_DISP_SMOOTHSCALE) ? 1 : 0))
            return r;
    }
    c.width = d->width;
    c.height = d->height;
    const uint32_t oldFlags = d->flags;
    const uint32_t oldScale[4] = {d->autoScale, d->layerScale, d->scaledWidth, d->scaledHeight};
    std::memcpy(d, copy, sizeof *d);
    if (newPic) {
        // Async draws work on the old picture's layers.
        qxFreeAsyncDrawsOfDisplay(d);
        if (qxCurrentOutput == oldPic)
            qxCurrentOutput = d->bgpic;
        // The old picture stays a BGPic of the script, no longer owned;
        // one the script freed while it was shown goes now.
        if (qxLayerQueries.flushDeletedObjects && !keepDeleted)
            qxLayerQueries.flushDeletedObjects(L, 8);
        d->cursorX = d->cursorY = d->cursorLeftMargin = 0;
        d->cursorRightMargin = d->bgpic->width - 1;
    }
    const bool sizeChanged = winW != d->width || winH != d->height;
    const bool scaleChanged = oldScale[0] != d->autoScale || oldScale[1] != d->layerScale ||
                              oldScale[2] != d->scaledWidth || oldScale[3] != d->scaledHeight;
    d->width = winW;
    d->height = winH;
    if (moved)
        d->monitorRelativeX = d->x < -1000, d->monitorRelativeY = d->y < -1000;
    qxResetRegions(d);
    if (newPic) {
        // The new picture and its layers composed for the display (at its
        // scale when it scales its layers), then its factors and shape, in
        // the order a rescale takes so that the picture is scaled once.
        if (qxBitMapDisplay.showBGPic)
            if (int r = qxBitMapDisplay.showBGPic(L, d))
                return r;
        if (int r = qxDisplayScaleAndShape(L, d))
            return r;
    } else if (sizeChanged || scaleChanged || resized) {
        if (int r = rescaleShown(L, d))
            return r;
    }
    if (sizeChanged) {
        if (qxDisplayVideo.replaceVideos)
            qxDisplayVideo.replaceVideos(d);
        if (d->satellites) {
            int32_t size[2] = {d->width, d->height};
            qxNotifySatellites(d, QX_SATOP_SIZE, size);
        }
    }
    if (d->state == QX_DISPSTATE_CLOSED)
        return qxRefreshWholeDisplay(d, 0);
    if (((oldFlags ^ d->flags) & QX_DISP_BORDERLESS) && !moved) {
        // The client area stays where it was.
        if (d->flags & QX_DISP_BORDERLESS) {
            d->x += d->borderLeft;
            d->y += d->borderTop;
        } else {
            qxDispBorderSizes(d);
            d->x -= d->borderLeft;
            d->y -= d->borderTop;
        }
    }
    // A shaped window takes a new size or scale with a new window too.
    if (reopen || ((sizeChanged || scaleChanged) && shaped(d->bgpic)))
        return qxReopenDisplayWindow(d);
    if (int r = qxPlaceDisplay(d))
        return r;
    // A new picture size centres the window even when its size stays.
    if (sizeChanged)
        qxDispMoveSize(d);
    else if (moved || d->x != oldX || d->y != oldY)
        qxDispMove(d);
    if (retitle) {
        qxDispSetTitle(d);
        if (x11Data(d) && x11Data(d)->display)
            XFlush(x11Data(d)->display);
    }
    // A transition switches without showing: the window keeps the old
    // picture until its frames draw over it.
    if (keepDeleted)
        return 0;
    return qxRefreshWholeDisplay(d, 0);
}

namespace {

int cmdChangeDisplayMode(lua_State *L)
{
    qxCheckArgCount(L, 1, 4, 0, 0);
    qxDisplay *d = current();
    if (!d)
        return ERR_WRONGUSAGE;
    if (d->state == QX_DISPSTATE_CLOSED)
        return ERR_CLOSEDDISPLAY;
    int mode = 0;
    if (lua_type(L, 1) == LUA_TSTRING) {
        uint32_t m = 0;
        if (int r = qxLookupDisplayMode(lua_tostring(L, 1), &m))
            return r;
        mode = (int)m;
    } else {
        mode = (int)luaL_checknumber(L, 1);
    }
    if (mode != 1 && mode != 2)
        return ERR_WRONGUSAGE;
    if (mode == 1 && !d->fullScreen)
        return 0;
    const int tags = lua_istable(L, lua_gettop(L)) ? lua_gettop(L) : 0;
    int monitor = -1;
    // The backfill is read aside: a refused switch keeps the old one.
    std::unique_ptr<void, decltype(&std::free)> backfill(nullptr, &std::free);
    if (tags > 1) {
        int mon = 0, f = 0;
        if (qxGetFieldInt(L, tags, "monitor", &mon, &f)) {
            if (int r = checkMonitorTag(d, mon))
                return r;
            monitor = mon - 1;
        }
        void *kept = d->backfillDescription;
        d->backfillDescription = nullptr;
        const int r = qxReadBackfillTag(L, tags, d);
        backfill.reset(d->backfillDescription);
        d->backfillDescription = kept;
        if (r)
            return r;
    }
    int w = d->width, h = d->height;
    if (lua_gettop(L) >= 3 && !lua_istable(L, 2)) {
        if (int r = sizeArg(L, 2, d->width, nativeSize(d, true), &w))
            return r;
        if (int r = sizeArg(L, 3, d->height, nativeSize(d, false), &h))
            return r;
    }
    return qxChangeDisplayMode(L, d, mode, w, h, monitor, backfill.release());
}

int cmdGetMonitors(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    x11Monitor *list = qxDispGetMonitors(current());
    if (!list)
        return ERR_MEM;
    lua_newtable(L);
    int i = 0;
    for (x11Monitor *m = list; m; m = m->next, i++) {
        lua_newtable(L);
        qxSetFieldInt(L, "x", (int)m->x);
        qxSetFieldInt(L, "y", (int)m->y);
        qxSetFieldInt(L, "width", (int)m->width);
        qxSetFieldInt(L, "height", (int)m->height);
        lua_rawseti(L, -2, i);
    }
    x11FreeMonitors(list);
    return 1;
}

int cmdGetDisplayModes(lua_State *L)
{
    qxCheckArgCount(L, 0, 1, 0, 0);
    int mon = lua_gettop(L) >= 1 ? (int)luaL_checknumber(L, 1) : 1;
    qxDisplay *d = current();
    if (mon < 1 || mon > monitorCount(d))
        return ERR_MONITORRANGE;
    // The modes of the asked monitor, read through the current display.
    const uint32_t savedMonitor = d ? d->monitor : 0;
    if (d)
        d->monitor = (uint32_t)(mon - 1);
    // The count first: the list is written without a bound.
    int n = std::max(qxDispGetScreenModes(d, nullptr), 0);
    std::vector<x11ScreenMode> modes((size_t)n);
    if (n)
        n = std::clamp(qxDispGetScreenModes(d, modes.data()), 0, n);
    if (d)
        d->monitor = savedMonitor;
    if (n <= 0)
        return ERR_NODISPMODES;
    modes.resize((size_t)n);
    std::sort(modes.begin(), modes.end(), [](const x11ScreenMode &a, const x11ScreenMode &b) {
        return a.width != b.width ? a.width < b.width : a.height < b.height;
    });
    lua_newtable(L);
    for (size_t i = 0; i < modes.size(); i++) {
        lua_newtable(L);
        qxSetFieldInt(L, "width", (int)modes[i].width);
        qxSetFieldInt(L, "height", (int)modes[i].height);
        lua_rawseti(L, -2, (int)i);
    }
    return 1;
}

int cmdScreenStub(lua_State *) { return ERR_UNSUPPORTEDFEAT; }

} // namespace

extern "C" {
// Apart from the exported name, whose declaration has no size: clang reads
// only a table of known size while compiling.
static constexpr qxCommandDef displayCommandTableRows[] = {
    {"ChangeDisplaySize", cmdChangeDisplaySize},
    {"SetTitle", cmdSetTitle},
    {"MoveDisplay", cmdMoveDisplay},
    {"HideDisplay", cmdHideDisplay},
    {"ShowDisplay", cmdShowDisplay},
    {"SetDisplayAttributes", cmdSetDisplayAttributes},
    {"CreateDisplay", cmdCreateDisplay},
    {"FreeDisplay", cmdFreeDisplay},
    {"OpenDisplay", cmdOpenDisplay},
    {"CloseDisplay", cmdCloseDisplay},
    {"SelectDisplay", cmdSelectDisplay},
    {"ActivateDisplay", cmdActivateDisplay},
    {"ChangeDisplayMode", cmdChangeDisplayMode},
    {"GetDisplayModes", cmdGetDisplayModes},
    {"GetMonitors", cmdGetMonitors},
    {"GetPubScreens", cmdScreenStub},
    {"ShowScreen", cmdScreenStub},
    {"HideScreen", cmdScreenStub},
    {"SetScreenTitle", cmdScreenStub},
    {"GetFrontScreen", cmdScreenStub},
    {"SetSubtitle", cmdScreenStub},
    {nullptr, nullptr},
};

const qxCommandDef *const qxDisplayCommandTable = displayCommandTableRows;
constexpr qxNames qxDisplayCommandNames = qxNamesOf<displayCommandTableRows>;
}
