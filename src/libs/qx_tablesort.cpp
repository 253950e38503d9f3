// Sort: an in-place quicksort of a list's entries 0 .. n - 1 through the
// VM, by less-than or by a script order function. Scans are bounded by
// the range, so an inconsistent order function ends with 1362 instead of
// reading past the list.
#include "libs/qx_tablecmds.h"

#include "core/qx_args.h"
#include "core/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"

namespace {

struct Sorter {
    lua_State *L;
    int table;
    int order; // stack index of the order function, 0 without one

    // Whether the value at a sorts before the value at b (stack indices).
    bool less(int a, int b) {
        if (!order) return lua_lessthan(L, a, b, 1) != 0;
        lua_pushvalue(L, order);
        lua_pushvalue(L, a < 0 ? a - 1 : a);
        lua_pushvalue(L, b < 0 ? b - 2 : b);
        lua_call(L, 2, 1);
        bool r;
        switch (lua_type(L, -1)) {
        case LUA_TNUMBER: r = lua_tonumber(L, -1) != 0; break;
        case LUA_TBOOLEAN: r = lua_toboolean(L, -1) != 0; break;
        case LUA_TSTRING: r = lua_strlen(L, -1) != 0; break;
        case LUA_TNIL: r = false; break;
        default: r = true; break;
        }
        lua_pop(L, 1);
        return r;
    }

    // Compares entries i and j of the list.
    bool lessAt(int i, int j) {
        lua_rawgeti(L, table, i);
        lua_rawgeti(L, table, j);
        bool r = less(-2, -1);
        lua_pop(L, 2);
        return r;
    }

    void swap(int i, int j) {
        lua_rawgeti(L, table, i);
        lua_rawgeti(L, table, j);
        lua_rawseti(L, table, i);
        lua_rawseti(L, table, j);
    }

    void sort(int lo, int hi) {
        while (lo < hi) {
            // Median of three: the ends and the middle in order.
            if (lessAt(hi, lo)) swap(lo, hi);
            if (hi - lo == 1) return;
            int mid = lo + (hi - lo) / 2;
            if (lessAt(mid, lo)) swap(mid, lo);
            else if (lessAt(hi, mid)) swap(mid, hi);
            if (hi - lo == 2) return;
            // Park the pivot at the second-last place and partition the rest.
            swap(mid, hi - 1);
            lua_rawgeti(L, table, hi - 1);
            int pivot = lua_gettop(L);
            int i = lo, j = hi - 1;
            for (;;) {
                for (;;) {
                    if (++i > hi) luaG_raisecode(L, ERR_SORTFUNC);
                    lua_rawgeti(L, table, i);
                    bool go = less(-1, pivot);
                    lua_pop(L, 1);
                    if (!go) break;
                }
                for (;;) {
                    if (--j < lo) luaG_raisecode(L, ERR_SORTFUNC);
                    lua_rawgeti(L, table, j);
                    bool go = less(pivot, -1);
                    lua_pop(L, 1);
                    if (!go) break;
                }
                if (j < i) break;
                swap(i, j);
            }
            lua_pop(L, 1);
            swap(hi - 1, i);
            // Recurse into the smaller part, loop on the larger one.
            if (i - lo < hi - i) {
                sort(lo, i - 1);
                lo = i + 1;
            } else {
                sort(i + 1, hi);
                hi = i - 1;
            }
        }
    }
};

} // namespace

int qxCmdSort(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    luaL_checktable(L, 1);
    int order = 0;
    if (lua_gettop(L) >= 2 && !lua_isnil(L, 2)) {
        luaL_checkfunction(L, 2);
        order = 2;
    }
    lua_settop(L, order ? 2 : 1);
    if (!lua_checkstack(L, 40)) return ERR_STACK;
    int n = qxListLength(L, 1, order == 0);
    Sorter s{L, 1, order};
    s.sort(0, n - 1);
    return 0;
}
