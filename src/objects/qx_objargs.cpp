#include "objects/qx_objargs.h"

#include <cmath>

#include "core/commands/qx_args.h"
#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmap.h"
#include "objects/qx_picsource.h"
#include "platform/qx_errcodes.h"

extern "C" {

int64_t qxTruncToInt64(double v)
{
    constexpr double limit = 9007199254740992.0; // 2^53
    if (std::isnan(v))
        return 0;
    if (v >= limit)
        return int64_t(limit);
    if (v <= -limit)
        return -int64_t(limit);
    return int64_t(v);
}

int qxSizeArg(lua_State *L, int index, int64_t *out)
{
    *out = qxTruncToInt64(luaL_checknumber(L, index));
    return 0;
}

int qxFlagField(lua_State *L, int t, const char *key, int *out)
{
    if (t < 0)
        t = lua_gettop(L) + t + 1;
    lua_pushstring(L, key);
    lua_gettable(L, t);
    const int type = lua_type(L, -1);
    int present = type != LUA_TNIL;
    if (type == LUA_TBOOLEAN)
        *out = lua_toboolean(L, -1) ? 1 : 0;
    else if (present)
        *out = luaL_checkfieldnumber(L, -1, key) != 0 ? 1 : 0;
    lua_pop(L, 1);
    return present;
}

int qxScaleField(lua_State *L, int t, const char *key, int32_t *out)
{
    int v = 0, found = 0;
    qxGetFieldSize(L, t, key, 1, &v, &found);
    if (!found)
        return 0;
    // Percentages beyond 100000 % or widths beyond what 32-bit pixels can
    // address make no picture.
    if (v < -100000 || v > 0x7FFFFFFF / 4)
        return ERR_BITMAP;
    *out = v;
    return 0;
}

static void countSource(qxPicSource *source, int delta)
{
    if (delta > 0)
        qxPicSourceRetain(source);
    else
        qxPicSourceRelease(source);
}

qxObjectRef qxNewIDRef(lua_State *L, int index)
{
    int automatic = 0;
    const uint32_t number = qxGetNewIDArg(L, index, &automatic);
    return automatic ? qxObjectRef{0, QX_NEW_AUTOMATIC} : qxObjectRef{number, nullptr};
}

int qxPushNewID(lua_State *L, qxObjectRef ref)
{
    if (!ref.automatic)
        return 0;
    lua_pushlightuserdata(L, ref.automatic);
    return 1;
}

void qxLinkPicSourceCounting(void)
{
    qxPicSourceRef = countSource;
}
}
