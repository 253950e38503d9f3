// Value operations shared by the interpreter and the interface: conversions,
// comparisons, concatenation and the index and store paths.
#include <cstdio>
#include <cstring>

#include "core/vm/ldo.h"
#include "core/vm/lgc.h"
#include "core/vm/lstring.h"
#include "core/vm/ltable.h"
#include "core/vm/ltm.h"
#include "core/vm/lvm.h"
#include "platform/qx_text.h"

#define MAXTAGLOOP 100

const TValue *luaV_tonumber(const TValue *obj, TValue *n) {
    lua_Number num;
    if (ttisnumber(obj)) return obj;
    if (ttisnil(obj)) {
        setnvalue(n, 0);
        return n;
    }
    if (ttisstring(obj) && std::strlen(svalue(obj)) == tsvalue(obj)->len && luaO_str2d(svalue(obj), &num)) {
        setnvalue(n, num);
        return n;
    }
    return nullptr;
}

int luaV_tostring(lua_State *L, StkId obj) {
    if (ttisstring(obj)) return 1;
    if (ttisnumber(obj)) {
        char s[32];
        luaO_num2str(nvalue(obj), s);
        setsvalue(obj, luaS_new(L, s));
        return 1;
    }
    if (ttisnil(obj)) {
        setsvalue(obj, luaS_newlstr(L, "", 0));
        return 1;
    }
    return 0;
}

// Calls f(p1, p2) and stores its first result at the stack offset res.
static void callTMres_at(lua_State *L, ptrdiff_t res, const TValue *f, const TValue *p1, const TValue *p2) {
    TValue tf = *f, t1 = *p1, t2 = *p2;
    luaD_checkstack(L, 3);
    setobj(L->top, &tf);
    setobj(L->top + 1, &t1);
    setobj(L->top + 2, &t2);
    L->top += 3;
    luaD_call(L, L->top - 3, 1);
    L->top--;
    setobj(restorestack(L, res), L->top);
}

int luaV_callTMres(lua_State *L, TValue *res, const TValue *f, const TValue *p1, const TValue *p2) {
    TValue tf = *f, t1 = *p1, t2 = *p2; // the arguments may sit on the stack that grows
    luaD_checkstack(L, 3);
    setobj(L->top, &tf);
    setobj(L->top + 1, &t1);
    setobj(L->top + 2, &t2);
    L->top += 3;
    luaD_call(L, L->top - 3, 1);
    L->top--;
    *res = *L->top;
    return 1;
}

static void callTM(lua_State *L, const TValue *f, const TValue *p1, const TValue *p2, const TValue *p3) {
    TValue tf = *f, t1 = *p1, t2 = *p2, t3 = *p3;
    luaD_checkstack(L, 4);
    setobj(L->top, &tf);
    setobj(L->top + 1, &t1);
    setobj(L->top + 2, &t2);
    setobj(L->top + 3, &t3);
    L->top += 4;
    luaD_call(L, L->top - 4, 0);
}

// Text for 1159: "%g" for a number, a string in double quotes.
static void raise_uninitialized(lua_State *L, const TValue *key) {
    char buf[128];
    if (ttisnumber(key)) std::snprintf(buf, sizeof buf, "%g", nvalue(key));
    else if (ttisstring(key)) std::snprintf(buf, sizeof buf, "\"%.100s\"", svalue(key));
    else std::snprintf(buf, sizeof buf, "%s", lua_typename(L, ttype(key)));
    luaG_raisetext(L, 1159, buf);
}

void luaV_gettable(lua_State *L, const TValue *t, TValue *key, StkId val, int check) {
    ptrdiff_t valr = savestack(L, val);
    for (int loop = 0; loop < MAXTAGLOOP; loop++) {
        const TValue *tm;
        if (ttistable(t)) {
            Table *h = hvalue(t);
            const TValue *v = ttisstring(key) ? luaH_getstr(h, tsvalue(key)) : luaH_get(h, key);
            if (!ttisnil(v)) {
                setobj(restorestack(L, valr), v);
                return;
            }
            tm = fasttm(L, h->metatable, TM_INDEX);
            if (tm == nullptr) {
                if (check) raise_uninitialized(L, key);
                setnilvalue(restorestack(L, valr));
                return;
            }
        } else {
            tm = luaT_gettmbyobj(L, t, TM_INDEX);
            if (tm == nullptr) luaG_typeerror(L, t, 1132, "{}");
        }
        if (ttisfunction(tm)) {
            callTMres_at(L, valr, tm, t, key);
            return;
        }
        t = tm;
    }
    luaG_raisetext(L, 1134, "#1");
}

void luaV_settable(lua_State *L, const TValue *t, TValue *key, StkId val) {
    for (int loop = 0; loop < MAXTAGLOOP; loop++) {
        const TValue *tm;
        if (ttistable(t)) {
            Table *h = hvalue(t);
            TValue *oldval = const_cast<TValue *>(luaH_get(h, key));
            if (!ttisnil(oldval) || (tm = fasttm(L, h->metatable, TM_NEWINDEX)) == nullptr) {
                if (oldval != &luaO_nilobject) { // the key has its slot already
                    setobj(oldval, val);
                    h->flags = 0;
                    return;
                }
                TValue v = *val;
                setobj(luaH_setnew(L, h, key), &v);
                return;
            }
        } else {
            tm = luaT_gettmbyobj(L, t, TM_NEWINDEX);
            if (tm == nullptr) luaG_typeerror(L, t, 1132, "{}");
        }
        if (ttisfunction(tm)) {
            callTM(L, tm, t, key, val);
            return;
        }
        t = tm;
    }
    luaG_raisetext(L, 1134, "#2");
}

// Comparisons

static bool isnumstr(const TValue *a, const TValue *b) {
    return (ttisnumber(a) && ttisstring(b)) || (ttisstring(a) && ttisnumber(b));
}

[[noreturn]] static void mixederror(lua_State *L, const TValue *a, const TValue *b) {
    luaG_raisecode(L, isnumstr(a, b) ? 1130 : 1030);
}

// A metamethod result counts as true unless it is nil, false or the number 0.
static bool tmtrue(const TValue *o) {
    if (ttisnil(o)) return false;
    if (ttisboolean(o)) return bvalue(o) != 0;
    if (ttisnumber(o)) return nvalue(o) != 0;
    return true;
}

static const TValue *get_compTM(lua_State *L, Table *mt1, Table *mt2, TMS event) {
    const TValue *tm1 = fasttm(L, mt1, event);
    if (tm1 == nullptr) return nullptr;
    if (mt1 == mt2) return tm1;
    const TValue *tm2 = fasttm(L, mt2, event);
    if (tm2 == nullptr) return nullptr;
    return luaO_rawequalObj(tm1, tm2) ? tm1 : nullptr;
}

static Table *metaof(const TValue *o) {
    if (ttistable(o)) return hvalue(o)->metatable;
    if (ttisuserdata(o)) return uvalue(o)->metatable;
    return nullptr;
}

static bool nilequivalent(const TValue *o) {
    return (ttisnumber(o) && nvalue(o) == 0) || (ttisstring(o) && tsvalue(o)->len == 0);
}

int luaV_equalval(lua_State *L, const TValue *t1, const TValue *t2) {
    if (t1->tt != t2->tt) {
        if (ttisnil(t1)) return nilequivalent(t2);
        if (ttisnil(t2)) return nilequivalent(t1);
        mixederror(L, t1, t2);
    }
    switch (t1->tt) {
    case LUA_TNIL: return 1;
    case LUA_TNUMBER: return nvalue(t1) == nvalue(t2);
    case LUA_TBOOLEAN: return bvalue(t1) == bvalue(t2);
    case LUA_TLIGHTUSERDATA: return pvalue(t1) == pvalue(t2);
    case LUA_TTABLE:
    case LUA_TUSERDATA: {
        if (gcvalue(t1) == gcvalue(t2)) return 1;
        const TValue *tm = get_compTM(L, metaof(t1), metaof(t2), TM_EQ);
        if (tm == nullptr) return 0;
        TValue res;
        luaV_callTMres(L, &res, tm, t1, t2);
        return tmtrue(&res);
    }
    default: return gcvalue(t1) == gcvalue(t2);
    }
}

// The text layer's sorting order, case-insensitive, piece by piece between
// zero bytes; without collate the plain byte order.
int luaV_strcmp(const TString *ls, const TString *rs, int collate) {
    const char *l = getstr(ls), *r = getstr(rs);
    size_t ll = ls->len, lr = rs->len;
    if (!collate) {
        int c = std::memcmp(l, r, ll < lr ? ll : lr);
        if (c != 0) return c < 0 ? -1 : 1;
        return ll == lr ? 0 : (ll < lr ? -1 : 1);
    }
    for (;;) {
        int c = qxStrCompare(l, r, 0);
        if (c != 0) return c;
        size_t pl = std::strlen(l), pr = std::strlen(r);
        if (pr == lr) return pl == ll ? 0 : 1;
        if (pl == ll) return -1;
        l += pl + 1;
        ll -= pl + 1;
        r += pr + 1;
        lr -= pr + 1;
    }
}

int luaV_lessthan(lua_State *L, const TValue *l, const TValue *r, int collate) {
    if (ttisnil(l) || ttisnil(r)) {
        if (ttisnil(l) && ttisnil(r)) return 0;
        if (ttisnil(l)) {
            if (ttisnumber(r)) return nvalue(r) > 0;
            if (ttisstring(r)) return 0;
        } else {
            if (ttisnumber(l)) return nvalue(l) < 0;
            if (ttisstring(l)) return 0;
        }
        luaG_raisecode(L, 1030);
    }
    if (l->tt != r->tt) mixederror(L, l, r);
    if (ttisnumber(l)) return nvalue(l) < nvalue(r);
    if (ttisstring(l)) return luaV_strcmp(tsvalue(l), tsvalue(r), collate) < 0;
    const TValue *tm = get_compTM(L, metaof(l), metaof(r), TM_LT);
    if (tm == nullptr) luaG_raisecode(L, 1030);
    TValue res;
    luaV_callTMres(L, &res, tm, l, r);
    return tmtrue(&res);
}

int luaV_lessequal(lua_State *L, const TValue *l, const TValue *r) {
    if (ttisnil(l) || ttisnil(r)) {
        if (ttisnil(l) && ttisnil(r)) return 1;
        if (ttisnil(l)) {
            if (ttisnumber(r)) return nvalue(r) >= 0;
            if (ttisstring(r)) return 0;
        } else {
            if (ttisnumber(l)) return nvalue(l) <= 0;
            if (ttisstring(l)) return 0;
        }
        luaG_raisecode(L, 1030);
    }
    if (l->tt != r->tt) mixederror(L, l, r);
    if (ttisnumber(l)) return nvalue(l) <= nvalue(r);
    if (ttisstring(l)) return luaV_strcmp(tsvalue(l), tsvalue(r), 0) <= 0;
    TValue res;
    const TValue *tm = get_compTM(L, metaof(l), metaof(r), TM_LE);
    if (tm != nullptr) {
        luaV_callTMres(L, &res, tm, l, r);
        return tmtrue(&res);
    }
    tm = get_compTM(L, metaof(r), metaof(l), TM_LT);
    if (tm != nullptr) {
        luaV_callTMres(L, &res, tm, r, l);
        return !tmtrue(&res);
    }
    luaG_raisecode(L, 1030);
}

// Concatenation of the values base+last-total+1 .. base+last into the first of them.
static bool convertible(const TValue *o) { return ttisstring(o) || ttisnumber(o) || ttisnil(o); }

void luaV_concat(lua_State *L, int total, int last) {
    if (total < 2) return;
    do {
        StkId top = L->base + last + 1;
        int n = 2;
        if (!convertible(top - 2) || !convertible(top - 1)) {
            const TValue *tm = luaT_gettmbyobj(L, top - 2, TM_CONCAT);
            if (tm == nullptr) tm = luaT_gettmbyobj(L, top - 1, TM_CONCAT);
            if (tm == nullptr) luaG_raisecode(L, 1131);
            callTMres_at(L, savestack(L, top - 2), tm, top - 2, top - 1);
        } else {
            luaV_tostring(L, top - 2);
            luaV_tostring(L, top - 1);
            if (tsvalue(top - 1)->len > 0) {
                size_t tl = tsvalue(top - 1)->len;
                for (n = 1; n < total && convertible(top - n - 1); n++) {
                    luaV_tostring(L, top - n - 1);
                    size_t l = tsvalue(top - n - 1)->len;
                    if (l >= static_cast<size_t>(-1) / 2 - tl) luaG_raisecode(L, 1066);
                    tl += l;
                }
                char *buffer = luaZ_openspace(L, &G(L)->buff, tl);
                tl = 0;
                for (int i = n; i > 0; i--) {
                    size_t l = tsvalue(top - i)->len;
                    std::memcpy(buffer + tl, svalue(top - i), l);
                    tl += l;
                }
                setsvalue(top - n, luaS_newlstr(L, buffer, tl));
            }
        }
        total -= n - 1;
        last -= n - 1;
    } while (total > 1);
}
