// The menu-tree reader on tables built from the input: titles of any type,
// nesting of any depth, options of any type. Error codes only; every item
// built is freed (a leak shows under the sanitizer).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/vm/lauxlib.h"
#include "display/qx_menu.h"

namespace {

struct Reader {
    const uint8_t *p;
    size_t n;
    uint8_t byte() { return n ? (n--, *p++) : 0; }
};

void pushTree(lua_State *L, Reader &r, int depth);

void pushValue(lua_State *L, Reader &r, int depth)
{
    switch (r.byte() % 5) {
    case 0:
        lua_pushnumber(L, (double)(int8_t)r.byte());
        break;
    case 1: {
        char text[6];
        size_t len = r.byte() % sizeof text;
        for (size_t i = 0; i < len; i++)
            text[i] = (char)('a' + r.byte() % 4);
        lua_pushlstring(L, text, len);
        break;
    }
    case 2:
        lua_pushnil(L);
        break;
    default:
        if (depth < 8)
            pushTree(L, r, depth + 1);
        else
            lua_pushnil(L);
    }
}

// A table of entries at 0..n-1, each a table {title, submenu or nil,
// flags=, id=, hotkey=}, or whatever the input picks.
void pushTree(lua_State *L, Reader &r, int depth)
{
    lua_newtable(L);
    int count = r.byte() % 5;
    for (int i = 0; i < count && r.n; i++) {
        lua_newtable(L);
        for (int k = 0; k < 2; k++) {
            pushValue(L, r, depth);
            lua_rawseti(L, -2, k);
        }
        static const char *const keys[] = {"flags", "id", "hotkey"};
        for (const char *key : keys) {
            if (r.byte() & 1) {
                lua_pushstring(L, key);
                pushValue(L, r, 8);
                lua_settable(L, -3);
            }
        }
        lua_rawseti(L, -2, i);
    }
}

struct Run {
    Reader r;
    int code;
};

int readTree(lua_State *L)
{
    auto *run = static_cast<Run *>(lua_touserdata(L, 1));
    pushTree(L, run->r, 0);
    qxMenuItem *items = nullptr;
    run->code = qxReadMenuTree(L, lua_gettop(L), 0, &items);
    if (run->code && items)
        std::abort();
    qxMenuItem *head;
    qxFindMenuItem(items, "ab", &head);
    qxFreeMenuItems(items);
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static lua_State *L = lua_open();
    lua_settop(L, 0);
    Run run{{data, size}, 0};
    lua_cpcall(L, readTree, &run);
    if (run.code < 0)
        std::abort();
    return 0;
}
