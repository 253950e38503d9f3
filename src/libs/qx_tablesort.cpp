// Sort: an in-place quicksort of a list's entries 0 .. n - 1, by the VM's
// less-than or by a script order function. Scans are bounded by the range,
// so an inconsistent order function ends with 1362 instead of reading past
// the list. A list of numbers only is sorted by the same steps on a copy
// of its values, which no script code can observe.
#include <vector>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"
#include "libs/qx_tablecmds.h"

namespace {

// The quicksort on the index range lo .. hi of whatever Ops reaches:
// sortPair(i, j) (puts the two entries in order, true when it swapped),
// parkPivot(from, to), dropPivot(), swap(i, j), and the partition scans
// beforePivot(i) and afterPivot(j), which keep the entry where they stop
// for swapScanned(i, j) or dropScanned(). False when the order contradicts
// itself.
template <typename Ops> bool quicksort(Ops &ops, int lo, int hi) {
    while (lo < hi) {
        // Median of three: the ends and the middle in order.
        ops.sortPair(lo, hi);
        if (hi - lo == 1) return true;
        int mid = lo + (hi - lo) / 2;
        if (!ops.sortPair(lo, mid)) ops.sortPair(mid, hi);
        if (hi - lo == 2) return true;
        // Park the pivot at the second-last place and partition the rest.
        // A consistent order stops each scan at the range's ends at the
        // latest; passing them means the order contradicts itself.
        ops.parkPivot(mid, hi - 1);
        int i = lo, j = hi - 1;
        for (;;) {
            while (ops.beforePivot(++i))
                if (i == hi) return false;
            while (ops.afterPivot(--j))
                if (j == lo) return false;
            if (j < i) {
                ops.dropScanned();
                break;
            }
            ops.swapScanned(i, j);
        }
        ops.dropPivot();
        ops.swap(hi - 1, i);
        // Recurse into the smaller part, loop on the larger one.
        if (i - lo < hi - i) {
            if (!quicksort(ops, lo, i - 1)) return false;
            lo = i + 1;
        } else {
            if (!quicksort(ops, i + 1, hi)) return false;
            hi = i - 1;
        }
    }
    return true;
}

// Entries read and written through the VM; the pivot waits on the stack.
struct TableOps {
    lua_State *L;
    int table;
    int order; // stack index of the order function, 0 without one
    int pivot = 0;

    // The order function's answer on the stack top, popped: a non-zero
    // number (the common case, tested first), true or a non-empty string.
    bool answer() {
        bool r = lua_tonumber(L, -1) != 0;
        if (r && lua_type(L, -1) == LUA_TSTRING) r = lua_strlen(L, -1) != 0;
        if (!r) {
            switch (lua_type(L, -1)) {
            case LUA_TBOOLEAN: r = lua_toboolean(L, -1) != 0; break;
            case LUA_TSTRING: r = lua_strlen(L, -1) != 0; break;
            case LUA_TNUMBER:
            case LUA_TNIL: break;
            default: r = true; break;
            }
        }
        lua_pop(L, 1);
        return r;
    }

    // Whether entry i sorts before the pivot (or, swapped, the pivot before
    // entry i). Where the answer is no the scan stops: the entry is then
    // kept on the stack.
    bool againstPivot(int i, bool swapped) {
        bool r;
        if (!order) {
            lua_rawgeti(L, table, i);
            r = swapped ? lua_lessthan(L, pivot, -1, 1) != 0 : lua_lessthan(L, -1, pivot, 1) != 0;
            if (r) lua_pop(L, 1);
            return r;
        }
        lua_pushvalue(L, order);
        if (swapped) {
            lua_pushvalue(L, pivot);
            lua_rawgeti(L, table, i);
        } else {
            lua_rawgeti(L, table, i);
            lua_pushvalue(L, pivot);
        }
        lua_call(L, 2, 1);
        r = answer();
        if (!r) lua_rawgeti(L, table, i);
        return r;
    }

    // Entries i and j in order: j before i by the order swaps them.
    bool sortPair(int i, int j) {
        lua_rawgeti(L, table, i);
        lua_rawgeti(L, table, j);
        bool r;
        if (!order) {
            r = lua_lessthan(L, -1, -2, 1) != 0;
        } else {
            lua_pushvalue(L, order);
            lua_pushvalue(L, -2);
            lua_pushvalue(L, -4);
            lua_call(L, 2, 1);
            r = answer();
        }
        if (r) {
            lua_rawseti(L, table, i);
            lua_rawseti(L, table, j);
        } else {
            lua_pop(L, 2);
        }
        return r;
    }
    void swap(int i, int j) {
        lua_rawgeti(L, table, i);
        lua_rawgeti(L, table, j);
        lua_rawseti(L, table, i);
        lua_rawseti(L, table, j);
    }
    // Moves the pivot from its place to the parking place and keeps it on the stack.
    void parkPivot(int from, int to) {
        lua_rawgeti(L, table, from);
        lua_pushvalue(L, -1);
        lua_rawgeti(L, table, to);
        lua_rawseti(L, table, from);
        lua_rawseti(L, table, to);
        pivot = lua_gettop(L);
    }
    void dropPivot() { lua_pop(L, 1); }
    bool beforePivot(int i) { return againstPivot(i, false); }
    bool afterPivot(int j) { return againstPivot(j, true); }
    // The scans left entry i below entry j on the stack.
    void swapScanned(int i, int j) {
        lua_rawseti(L, table, i);
        lua_rawseti(L, table, j);
    }
    void dropScanned() { lua_pop(L, 2); }
};

// Numbers compared as the VM compares them, on a copy of the list.
struct NumberOps {
    std::vector<double> &v;
    double pivot = 0;

    bool sortPair(int i, int j) {
        if (!(v[j] < v[i])) return false;
        std::swap(v[i], v[j]);
        return true;
    }
    void swap(int i, int j) { std::swap(v[i], v[j]); }
    void parkPivot(int from, int to) {
        pivot = v[from];
        std::swap(v[from], v[to]);
    }
    void dropPivot() {}
    bool beforePivot(int i) const { return v[i] < pivot; }
    bool afterPivot(int j) const { return pivot < v[j]; }
    void swapScanned(int i, int j) { std::swap(v[i], v[j]); }
    void dropScanned() {}
};

// The entries as numbers when every one is a number.
bool readNumbers(lua_State *L, int t, int n, std::vector<double> &out) {
    out.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) {
        lua_rawgeti(L, t, i);
        bool isNumber = lua_type(L, -1) == LUA_TNUMBER;
        if (isNumber) out.push_back(lua_tonumber(L, -1));
        lua_pop(L, 1);
        if (!isNumber) return false;
    }
    return true;
}

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
    std::vector<double> numbers;
    if (!order && n > 1 && readNumbers(L, 1, n, numbers)) {
        NumberOps ops{numbers};
        if (!quicksort(ops, 0, n - 1)) return ERR_SORTFUNC;
        for (int i = 0; i < n; i++) {
            lua_pushnumber(L, numbers[static_cast<size_t>(i)]);
            lua_rawseti(L, 1, i);
        }
        return 0;
    }
    TableOps ops{L, 1, order};
    return quicksort(ops, 0, n - 1) ? 0 : ERR_SORTFUNC;
}
