// Drives the gradient readers with argument lists and option tables built
// from the input, then draws whatever gradient they accepted into a small
// picture. Nothing may crash or trip a sanitizer.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "../core/errorstate.h"
#include "core/vm/lua.h"
#include "imaging/qx_gradient.h"
#include "objects/qx_gradientopts.h"

namespace {

struct Reader {
    const uint8_t *p;
    size_t n;
    uint8_t byte() { return n ? (n--, *p++) : 0; }
    double number()
    {
        switch (byte() % 6) {
        case 0: return byte() / 255.0;            // a unit value
        case 1: return double(int8_t(byte())) / 64.0; // slightly out of range
        case 2: return double(byte() | byte() << 8 | byte() << 16);
        case 3: {
            double d;
            uint8_t b[8];
            for (uint8_t &x : b)
                x = byte();
            std::memcpy(&d, b, 8); // anything, NaN and infinities too
            return d;
        }
        case 4: return 1e300;
        default: return double(byte() % 5);
        }
    }
};

const char *const kKeys[] = {"centerx",        "centery",         "balance",          "border",
                             "colors",         "gradientstyle",   "gradientstartcolor", "gradientendcolor",
                             "gradientangle",  "gradientcenterx", "gradientcentery",  "gradientbalance",
                             "gradientborder", "gradientcolors"};

void pushValue(lua_State *L, Reader &in, int depth);

void pushList(lua_State *L, Reader &in, int depth)
{
    lua_newtable(L);
    const int count = in.byte() % 140; // past the 64-stop limit
    const int first = in.byte() % 4 == 0 ? 1 : 0;
    for (int i = 0; i < count && in.n; i++) {
        pushValue(L, in, depth + 1);
        lua_rawseti(L, -2, first + i);
    }
}

void pushValue(lua_State *L, Reader &in, int depth)
{
    switch (in.byte() % 8) {
    case 0: lua_pushnil(L); break;
    case 1: lua_pushstring(L, "0.5"); break;
    case 2: lua_pushstring(L, "red"); break;
    case 3:
        if (depth < 2) {
            pushList(L, in, depth);
            break;
        }
        [[fallthrough]];
    default: lua_pushnumber(L, in.number());
    }
}

void pushTable(lua_State *L, Reader &in)
{
    lua_newtable(L);
    const int keys = in.byte() % 10;
    for (int i = 0; i < keys; i++) {
        const char *key = kKeys[in.byte() % (sizeof kKeys / sizeof *kKeys)];
        lua_pushstring(L, key);
        if (std::strstr(key, "colors") && in.byte() % 4)
            pushList(L, in, 0);
        else
            pushValue(L, in, 0);
        lua_settable(L, -3);
    }
}

Reader *input;
qxGradient gradient;
int mode;

int body(lua_State *L)
{
    if (mode == 0) {
        gradient.type = lua_type(L, 1) == LUA_TNUMBER ? int32_t(lua_tonumber(L, 1)) % 6 : 0;
        lua_remove(L, 1);
        if (qxReadGradientTable(L, 1, &gradient))
            return 0;
    } else if (qxReadGradientFields(L, 1, &gradient, mode == 2, 1)) {
        return 0;
    }
    uint32_t pixels[13 * 9];
    qxGradientRender r{pixels, 4, 10, 0, 0, 13, 9, 13, &gradient};
    qxDrawGradient(&r);
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static lua_State *L = lua_open();
    Reader in{data, size};
    input = &in;
    mode = in.byte() % 3;
    gradient = {};
    lua_settop(L, 0);
    lua_pushcfunction(L, body);
    int args = 1;
    if (mode == 0) {
        lua_pushnumber(L, in.byte() % 6); // the type
        args++;
        if (in.byte() % 2) {
            pushValue(L, in, 1); // the angle
            args++;
        }
        if (in.byte() % 4) {
            if (in.byte() % 8)
                pushTable(L, in);
            else
                pushValue(L, in, 1);
            args++;
        }
    } else {
        pushTable(L, in);
    }
    lua_pcall(L, args - 1, 0, 0);
    teststate::resetErrorState();
    return 0;
}
