// Fuzz target: the draw-tag parser on tables built from the input, without
// a display: keys from the parser's vocabulary with numbers, texts,
// booleans or nested tables as values, and the transform of the result.
#include <cstdint>
#include <cstring>
#include <string>

#include "core/vm/lua.h"
#include "objects/qx_displayopts.h"

namespace {

const char *const kKeys[] = {
    "transform", "scalex", "scaley", "width", "height", "rotate", "smoothscale", "anchorx", "anchory", "hidden",
    "transparency", "tint", "tintcolor", "insertpos", "shadow", "shadowcolor", "shadowdir", "shadowsize",
    "shadowradius", "shadowsigma", "border", "bordercolor", "bordersize", "name", "filters",
};

struct Input {
    const uint8_t *p;
    size_t n;
    uint8_t byte() { return n ? (n--, *p++) : 0; }
    double number()
    {
        double d = 0;
        if (n >= sizeof d) {
            std::memcpy(&d, p, sizeof d);
            p += sizeof d, n -= sizeof d;
        }
        return d;
    }
};

void pushValue(lua_State *L, Input &in, int depth)
{
    switch (in.byte() % 5) {
    case 0: lua_pushnumber(L, in.number()); break;
    case 1: lua_pushnumber(L, double(int8_t(in.byte()))); break;
    case 2: lua_pushstring(L, std::string(in.byte() % 40 * 8, 'x').append(in.byte() & 1 ? "%" : "").c_str()); break;
    case 3: lua_pushboolean(L, in.byte() & 1); break;
    default:
        lua_newtable(L);
        if (depth < 2)
            for (int i = in.byte() % 5; i > 0; --i) {
                pushValue(L, in, depth + 1);
                lua_rawseti(L, -2, 4 - i);
            }
        break;
    }
}

int parse(lua_State *L)
{
    auto *in = static_cast<Input *>(lua_touserdata(L, 1));
    lua_newtable(L);
    for (int i = in->byte() % 12; i > 0; --i) {
        lua_pushstring(L, kKeys[in->byte() % (sizeof kKeys / sizeof *kKeys)]);
        pushValue(L, *in, 0);
        lua_settable(L, -3);
    }
    lua_replace(L, 1);
    qxTransformOptions o;
    qxObjectStyle s;
    const int32_t w = 1 + in->byte(), h = 1 + in->byte();
    if (qxGetTransformOptions(L, 1, w, h, in->byte(), in->byte(), 1, &o, &s, 1 | 2 | (in->byte() & 28)) == 0) {
        const double m[4] = {o.m11, o.m12, o.m21, o.m22};
        int32_t x = 0, y = 0, tw = 0, th = 0;
        qxTransformImage(L, 2, nullptr, nullptr, nullptr, nullptr, 0, 0, w, h, o.anchorx, o.anchory, m, 0, nullptr,
                         nullptr, nullptr, &x, &y, &tw, &th);
        if (tw < 1 || th < 1) __builtin_trap();
    }
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static lua_State *L = lua_open();
    Input in{data, size};
    lua_settop(L, 0);
    lua_pushcfunction(L, parse);
    lua_pushlightuserdata(L, &in);
    lua_pcall(L, 1, 0, 0);
    return 0;
}
