// The backfill of full-screen displays.
#include "display/qx_backfill.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "core/commands/qx_args.h"
#include "core/commands/qx_cmdcall.h"
#include "core/errors/qx_errors.h"
#include "core/runtime/qx_startup.h"
#include "core/vm/lauxlib.h"
#include "display/qx_bgpic.h"
#include "display/qx_display.h"
#include "display/qx_displaycmds.h"
#include "display/qx_positions.h"
#include "platform/qx_errcodes.h"

namespace {

const char *const kTypes[] = {"color", "gradient", "texture", "picture"};
constexpr int32_t kCenter = -100000;

qxObjectRef refAt(lua_State *L, int i)
{
    if (lua_type(L, i) == LUA_TLIGHTUSERDATA)
        return {0, lua_touserdata(L, i)};
    if (lua_isnumber(L, i))
        return {(uint32_t)(int64_t)lua_tonumber(L, i), nullptr};
    return {0, nullptr};
}

void pushRef(lua_State *L, qxObjectRef r)
{
    if (r.automatic)
        lua_pushlightuserdata(L, r.automatic);
    else
        lua_pushnumber(L, r.number);
}

bool isSet(qxObjectRef r) { return r.automatic || r.number; }

// Calls the script's command name (a global) protected, with the arguments
// push leaves on the stack; *made takes the identifier it returns. 0 or the
// command's code.
template <class Push>
int callCommand(lua_State *L, const char *name, Push push, qxObjectRef *made = nullptr)
{
    const int top = lua_gettop(L);
    if (!lua_checkstack(L, 12))
        return ERR_STACK;
    lua_pushstring(L, name);
    lua_gettable(L, LUA_GLOBALSINDEX);
    if (!lua_isfunction(L, -1)) {
        lua_settop(L, top);
        return ERR_UNIMPLCMD;
    }
    push();
    const int nargs = lua_gettop(L) - top - 1;
    int r = lua_pcall(L, nargs, made ? 1 : 0, 0);
    // Without raising, a failing command only leaves its code behind.
    if (!r && qxLastError)
        r = qxLastError;
    if (!r && made) {
        *made = refAt(L, -1);
        if (!isSet(*made))
            r = ERR_INTERNAL;
    }
    lua_settop(L, top);
    return r;
}

// A colour of the backfill table; -1 (start-up passes it, also as an
// unsigned word, for a colour not given) leaves it unset.
void colourField(lua_State *L, int t, const char *key, int32_t *out)
{
    lua_pushstring(L, key);
    lua_gettable(L, t);
    const bool unset = lua_isnumber(L, -1) &&
                       (lua_tonumber(L, -1) < 0 || lua_tonumber(L, -1) == 4294967295.0);
    lua_pop(L, 1);
    int v = 0, found = 0;
    if (unset)
        *out = -1;
    else if (qxGetFieldColor(L, t, key, &v, &found))
        *out = v & 0xFFFFFF;
}

void setField(lua_State *L, const char *key, double v)
{
    lua_pushstring(L, key);
    lua_pushnumber(L, v);
    lua_settable(L, -3);
}

// The brush of a texture or picture backfill: loaded from the file or
// copied, so that the backfill owns it.
int makeBrush(lua_State *L, const qxBackfill &bf, qxObjectRef *brush)
{
    if (bf.imagePath[0])
        return callCommand(L, "loadbrush", [&] {
            lua_pushnil(L);
            lua_pushstring(L, bf.imagePath);
        }, brush);
    return callCommand(L, "copybrush", [&] {
        lua_pushnumber(L, bf.brushId);
        lua_pushnil(L);
    }, brush);
}

int makeGradient(lua_State *L, const qxBackfill &bf, int w, int h, qxObjectRef *bgpic)
{
    return callCommand(L, "creategradientbgpic", [&] {
        lua_pushnil(L);
        lua_pushnumber(L, 2); // #LINEAR
        lua_pushnumber(L, (uint32_t)bf.startColor & 0xFFFFFF);
        lua_pushnumber(L, (uint32_t)bf.endColor & 0xFFFFFF);
        lua_pushnumber(L, w);
        lua_pushnumber(L, h);
    }, bgpic);
}

int makePlain(lua_State *L, int32_t colour, int w, int h, qxObjectRef *bgpic)
{
    return callCommand(L, "createbgpic", [&] {
        lua_pushnil(L);
        lua_pushnumber(L, w);
        lua_pushnumber(L, h);
        lua_pushnumber(L, colour < 0 ? 0 : (uint32_t)colour & 0xFFFFFF);
    }, bgpic);
}

// The picture: the brush drawn over a gradient or plain BGPic at x, y.
int makePicture(lua_State *L, const qxBackfill &bf, int w, int h, qxObjectRef brush,
                qxObjectRef *bgpic)
{
    if (bf.scale)
        if (int r = callCommand(L, "scalebrush", [&] {
                pushRef(L, brush);
                lua_pushnumber(L, w);
                lua_pushnumber(L, h);
                lua_pushnumber(L, bf.smoothScale ? 1 : 0);
            }))
            return r;
    int r = bf.startColor >= 0 && bf.endColor >= 0 ? makeGradient(L, bf, w, h, bgpic)
                                                   : makePlain(L, bf.startColor, w, h, bgpic);
    if (r)
        return r;
    if ((r = callCommand(L, "selectbgpic", [&] {
             pushRef(L, *bgpic);
             lua_pushnumber(L, 0); // drawn into its pixels, not its layers
         })))
        return r;
    r = callCommand(L, "displaybrush", [&] {
        pushRef(L, brush);
        lua_pushnumber(L, bf.x);
        lua_pushnumber(L, bf.y);
    });
    const int end = callCommand(L, "endselect", [] {});
    return r ? r : end;
}

int makeBGPic(lua_State *L, const qxBackfill &bf, int w, int h, qxObjectRef *bgpic,
              qxObjectRef *brush)
{
    switch (bf.mode) {
    case 1:
        return makePlain(L, bf.startColor, w, h, bgpic);
    case 2:
        return makeGradient(L, bf, w, h, bgpic);
    case 3:
        if (int r = makeBrush(L, bf, brush))
            return r;
        return callCommand(L, "createtexturedbgpic", [&] {
            lua_pushnil(L);
            pushRef(L, *brush);
            lua_pushnumber(L, w);
            lua_pushnumber(L, h);
        }, bgpic);
    default:
        if (int r = makeBrush(L, bf, brush))
            return r;
        return makePicture(L, bf, w, h, *brush, bgpic);
    }
}

void freeObject(lua_State *L, const char *command, qxObjectRef &ref)
{
    if (isSet(ref))
        callCommand(L, command, [&] { pushRef(L, ref); });
    ref = {0, nullptr};
}

} // namespace

extern "C" {

int qxReadBackfillTag(lua_State *L, int t, qxDisplay *d)
{
    lua_pushstring(L, "backfill");
    lua_gettable(L, t);
    if (lua_isnil(L, -1)) {
        lua_pop(L, 1);
        return 0;
    }
    if (!lua_istable(L, -1)) {
        lua_pop(L, 1);
        return ERR_WRONGUSAGE;
    }
    const int b = lua_gettop(L);
    qxBackfill bf{};
    bf.startColor = bf.endColor = bf.transColor = -1;
    bf.x = bf.y = kCenter;
    int r = 0, v = 0, found = 0;
    lua_pushstring(L, "type");
    lua_gettable(L, b);
    if (!lua_isnil(L, -1)) {
        const char *name = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : nullptr;
        r = ERR_WRONGUSAGE;
        for (uint32_t i = 0; name && i < 4; i++)
            if (!strcasecmp(name, kTypes[i]))
                bf.mode = i + 1, r = 0;
    }
    lua_pop(L, 1);
    if (!r) {
        // "color" and "startcolor" name the same colour.
        colourField(L, b, "color", &bf.startColor);
        colourField(L, b, "startcolor", &bf.startColor);
        colourField(L, b, "endcolor", &bf.endColor);
        qxGetFieldInt(L, b, "x", &bf.x, &found);
        qxGetFieldInt(L, b, "y", &bf.y, &found);
        qxGetFieldInt(L, b, "brush", &bf.brushId, &found);
        if (qxGetFieldInt(L, b, "scalepicture", &v, &found))
            bf.scale = v != 0;
        if (qxGetFieldInt(L, b, "hidetitlebar", &v, &found))
            bf.hideTitleBar = v != 0;
        if (qxGetFieldInt(L, b, "smoothscale", &v, &found))
            bf.smoothScale = v != 0;
        lua_pushstring(L, "brushfile");
        lua_gettable(L, b);
        if (!lua_isnil(L, -1)) {
            // A cut path would name another file: refuse it instead.
            const char *s = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : nullptr;
            const size_t n = s ? lua_strlen(L, -1) : 0;
            if (!s || n >= sizeof bf.imagePath)
                r = ERR_WRONGUSAGE;
            else
                std::memcpy(bf.imagePath, s, n + 1);
        }
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
    if (r)
        return r;
    auto *kept = static_cast<qxBackfill *>(d->backfillDescription);
    if (!kept && !(kept = static_cast<qxBackfill *>(std::malloc(sizeof *kept))))
        return ERR_MEM;
    *kept = bf;
    d->backfillDescription = kept;
    return 0;
}

int qxMakeBackfill(lua_State *L, qxDisplay *d)
{
    const auto *bf = static_cast<const qxBackfill *>(d->backfillDescription);
    if (!L || !bf || !bf->mode || d->backfill || d->backfillDisplay)
        return 0;
    int mx, my, mw, mh;
    if (int r = qxGetDisplayGeometry(d, &mx, &my, &mw, &mh))
        return r;
    // The X11 desktop puts no title bar over a full-screen window: the
    // backfill covers the whole monitor whatever "hidetitlebar" says.
    const int titleBar = 0;
    qxObjectRef bgpic{0, nullptr}, brush{0, nullptr}, shown{0, nullptr};
    int r = makeBGPic(L, *bf, mw, mh - titleBar, &bgpic, &brush);
    if (!r)
        r = callCommand(L, "createdisplay", [&] {
            lua_pushnil(L);
            lua_newtable(L);
            setField(L, "y", titleBar);
            setField(L, "width", mw);
            setField(L, "height", mh - titleBar);
            setField(L, "borderless", 1);
            setField(L, "fixed", 1);
            setField(L, "hidepointer", 1);
            setField(L, "monitor", d->monitor + 1);
            setField(L, "__backfill", 1);
            lua_pushstring(L, "xserver");
            lua_pushstring(L, d->xServer);
            lua_settable(L, -3);
        }, &shown);
    qxDisplay *back = nullptr;
    if (!r)
        r = qxFindDisplay(shown, &back);
    qxBGPic *picture = r ? nullptr : qxFindBGPicRecord(bgpic);
    if (!r && !picture)
        r = ERR_FINDBGPIC;
    if (!r) {
        // The backfill display shows the backfill BGPic instead of its own.
        qxBGPic *own = back->bgpicOwned ? back->bgpic : nullptr;
        back->bgpic = picture;
        back->bgpicOwned = 0;
        qxFreeBGPicRecord(L, own);
        back->fullScreen = d->fullScreen;
        back->fakeFullScreen = d->fakeFullScreen;
        back->backfillDisplay = d;
        d->backfillDisplay = back;
        d->backfillBGPic = bgpic;
        d->backfillBrush = brush;
        r = qxRealiseDisplay(back, 0);
    } else {
        d->backfillDisplay = back;
        d->backfillBGPic = bgpic;
        d->backfillBrush = brush;
    }
    if (r)
        qxFreeBackfill(L, d);
    return r;
}

void qxFreeBackfill(lua_State *L, qxDisplay *d)
{
    if (!L || d->backfill)
        return;
    qxDisplay *back = d->backfillDisplay;
    d->backfillDisplay = nullptr;
    if (back) {
        back->backfillDisplay = nullptr;
        if (qxCurrentDisplay == back)
            qxCurrentDisplay = d;
        callCommand(L, "freedisplay", [&] {
            pushRef(L, {back->header.automatic ? 0 : back->header.id, back->header.automatic});
        });
    }
    freeObject(L, "freebgpic", d->backfillBGPic);
    freeObject(L, "freebrush", d->backfillBrush);
}
}
