// The stack-based programming interface. Misuse (an index outside the frame,
// a push beyond the frame, too few values, a raw operation on a non-table)
// raises 1135 unless an error is already being thrown.
#include <cstring>

#include "core/vm/ldo.h"
#include "core/vm/lfunc.h"
#include "core/vm/lgc.h"
#include "core/vm/lstring.h"
#include "core/vm/ltable.h"
#include "core/vm/ltm.h"
#include "core/vm/lundump.h"
#include "core/vm/lvm.h"
#include "core/vm/qx_vmregs.h"

static TValue dummyslot; // stands for "no value" and for misused indexes

static void misuse(lua_State *L) {
    if (!qxVmErrorThrown) luaG_raisecode(L, 1135);
}

static void api_incr_top(lua_State *L) {
    if (L->top >= L->ci->top) {
        misuse(L);
        luaD_checkstack(L, 1);
    }
    L->top++;
}

static bool api_checknelems(lua_State *L, int n) {
    if (n < 0 || n > L->top - L->base) {
        misuse(L);
        return false;
    }
    return true;
}

// Address of an index; nullptr for "no value" (above the top but inside the
// frame, or an upvalue beyond the count).
static TValue *index2adr(lua_State *L, int idx) {
    if (idx > 0) {
        TValue *o = L->base + (idx - 1);
        if (o >= L->ci->top) { misuse(L); return nullptr; }
        return o < L->top ? o : nullptr;
    }
    if (idx > LUA_REGISTRYINDEX) {
        if (idx == 0 || -idx > L->top - L->base) { misuse(L); return nullptr; }
        return L->top + idx;
    }
    if (idx == LUA_REGISTRYINDEX) return registry(L);
    if (idx == LUA_GLOBALSINDEX) return gt(L);
    const TValue *fn = L->base - 1;
    if (!iscfunction(fn)) return nullptr;
    CClosure *func = cclvalue(fn);
    int n = LUA_GLOBALSINDEX - idx;
    return n <= func->nupvalues ? &func->upvalue[n - 1] : nullptr;
}

// An address for reading or writing; "no value" reads as nil.
static TValue *checkadr(lua_State *L, int idx) {
    TValue *o = index2adr(L, idx);
    if (o == nullptr) {
        setnilvalue(&dummyslot);
        return &dummyslot;
    }
    return o;
}

static Table *checktable(lua_State *L, int idx) {
    TValue *t = checkadr(L, idx);
    if (!ttistable(t)) {
        misuse(L);
        return nullptr;
    }
    return hvalue(t);
}

extern "C" {

// Basic stack manipulation

int lua_gettop(lua_State *L) { return static_cast<int>(L->top - L->base); }

void lua_settop(lua_State *L, int idx) {
    if (idx >= 0) {
        if (idx > L->ci->top - L->base) { misuse(L); return; }
        while (L->top < L->base + idx) setnilvalue(L->top++);
        L->top = L->base + idx;
    } else {
        if (-(idx + 1) > L->top - L->base) { misuse(L); return; }
        L->top += idx + 1;
    }
}

void lua_remove(lua_State *L, int idx) {
    StkId p = index2adr(L, idx);
    if (p == nullptr || p < L->base || p >= L->top) { misuse(L); return; }
    while (++p < L->top) setobj(p - 1, p);
    L->top--;
}

void lua_insert(lua_State *L, int idx) {
    StkId p = index2adr(L, idx);
    if (p == nullptr || p < L->base || p >= L->top) { misuse(L); return; }
    for (StkId q = L->top; q > p; q--) setobj(q, q - 1);
    setobj(p, L->top);
}

void lua_replace(lua_State *L, int idx) {
    if (!api_checknelems(L, 1)) return;
    TValue *o = checkadr(L, idx);
    if (idx == LUA_GLOBALSINDEX && !ttistable(L->top - 1)) { misuse(L); return; }
    setobj(o, L->top - 1);
    L->top--;
}

void lua_pushvalue(lua_State *L, int idx) {
    TValue v = *checkadr(L, idx);
    setobj(L->top, &v);
    api_incr_top(L);
}

int lua_checkstack(lua_State *L, int size) {
    if (size < 0 || (L->top - L->base) + size > LUAI_MAXCSTACK) return 0;
    luaD_checkstack(L, size);
    if (L->ci->top < L->top + size) L->ci->top = L->top + size;
    return 1;
}

// Access functions

int lua_type(lua_State *L, int idx) {
    TValue *o = index2adr(L, idx);
    return o == nullptr ? LUA_TNONE : ttype(o);
}

const char *lua_typename(lua_State *, int t) {
    static const char *const names[] = {"nil", "boolean", "userdata", "number", "string", "table",
                                        "function", "userdata", "thread", "proto", "upval"};
    if (t < 0 || t > LUA_TUPVAL) return "no value";
    return names[t];
}

int lua_iscfunction(lua_State *L, int idx) {
    TValue *o = index2adr(L, idx);
    return o != nullptr && iscfunction(o);
}

int lua_isnumber(lua_State *L, int idx) {
    TValue n;
    TValue *o = index2adr(L, idx);
    return o != nullptr && luaV_tonumber(o, &n) != nullptr;
}

int lua_isstring(lua_State *L, int idx) {
    int t = lua_type(L, idx);
    return t == LUA_TSTRING || t == LUA_TNUMBER;
}

int lua_isuserdata(lua_State *L, int idx) {
    TValue *o = index2adr(L, idx);
    return o != nullptr && (ttisuserdata(o) || ttislightuserdata(o));
}

int lua_rawequal(lua_State *L, int index1, int index2) {
    TValue *o1 = index2adr(L, index1);
    TValue *o2 = index2adr(L, index2);
    return o1 && o2 && luaO_rawequalObj(o1, o2);
}

int lua_equal(lua_State *L, int index1, int index2) {
    TValue *o1 = index2adr(L, index1);
    TValue *o2 = index2adr(L, index2);
    if (o1 == nullptr || o2 == nullptr) return 0;
    TValue a = *o1, b = *o2;
    return luaV_equalval(L, &a, &b);
}

int lua_lessthan(lua_State *L, int index1, int index2, int collate) {
    TValue *o1 = index2adr(L, index1);
    TValue *o2 = index2adr(L, index2);
    if (o1 == nullptr || o2 == nullptr) return 0;
    TValue a = *o1, b = *o2;
    return luaV_lessthan(L, &a, &b, collate);
}

lua_Number lua_tonumber(lua_State *L, int idx) {
    TValue n;
    const TValue *o = index2adr(L, idx);
    if (o != nullptr && (o = luaV_tonumber(o, &n)) != nullptr) return nvalue(o);
    return 0;
}

int lua_toboolean(lua_State *L, int idx) {
    const TValue *o = index2adr(L, idx);
    if (o == nullptr || ttisnil(o)) return 0;
    return !(ttisboolean(o) && bvalue(o) == 0);
}

const char *lua_tostring(lua_State *L, int idx) {
    StkId o = index2adr(L, idx);
    if (o == nullptr) return nullptr;
    if (ttisstring(o)) return svalue(o);
    if (!luaV_tostring(L, o)) return nullptr;
    luaC_checkGC(L);
    o = index2adr(L, idx); // the collector may have moved the stack
    return svalue(o);
}

size_t lua_strlen(lua_State *L, int idx) {
    StkId o = index2adr(L, idx);
    if (o == nullptr) return 0;
    if (ttisstring(o)) return tsvalue(o)->len;
    if (!luaV_tostring(L, o)) return 0;
    return tsvalue(o)->len;
}

lua_CFunction lua_tocfunction(lua_State *L, int idx) {
    StkId o = index2adr(L, idx);
    return (o == nullptr || !iscfunction(o)) ? nullptr : cclvalue(o)->f;
}

void *lua_touserdata(lua_State *L, int idx) {
    StkId o = index2adr(L, idx);
    if (o == nullptr) return nullptr;
    if (ttisuserdata(o)) return udata_block(uvalue(o));
    if (ttislightuserdata(o)) return pvalue(o);
    return nullptr;
}

const void *lua_topointer(lua_State *L, int idx) {
    StkId o = index2adr(L, idx);
    if (o == nullptr) return nullptr;
    switch (ttype(o)) {
    case LUA_TTABLE:
    case LUA_TFUNCTION:
    case LUA_TTHREAD: return gcvalue(o);
    case LUA_TUSERDATA:
    case LUA_TLIGHTUSERDATA: return lua_touserdata(L, idx);
    default: return nullptr;
    }
}

// Push functions

void lua_pushnil(lua_State *L) {
    setnilvalue(L->top);
    api_incr_top(L);
}

void lua_pushnumber(lua_State *L, lua_Number n) {
    setnvalue(L->top, n);
    api_incr_top(L);
}

void lua_pushlstring(lua_State *L, const char *s, size_t len) {
    if (s == nullptr) {
        lua_pushnil(L);
        return;
    }
    luaC_checkGC(L);
    setsvalue(L->top, luaS_newlstr(L, s, len));
    api_incr_top(L);
}

void lua_pushstring(lua_State *L, const char *s) {
    lua_pushlstring(L, s, s ? std::strlen(s) : 0);
}

void lua_pushcclosure(lua_State *L, lua_CFunction fn, int n) {
    luaC_checkGC(L);
    if (n > 255 || !api_checknelems(L, n)) { misuse(L); return; }
    CClosure *cl = static_cast<CClosure *>(luaF_newCclosure(L, n));
    cl->f = fn;
    L->top -= n;
    for (int i = 0; i < n; i++) setobj(&cl->upvalue[i], L->top + i);
    setclvalue(L->top, cl);
    api_incr_top(L);
}

void lua_pushboolean(lua_State *L, int b) {
    setbvalue(L->top, b != 0);
    api_incr_top(L);
}

void lua_pushlightuserdata(lua_State *L, void *p) {
    setpvalue(L->top, p);
    api_incr_top(L);
}

// Get functions

void lua_gettable(lua_State *L, int idx) {
    if (!api_checknelems(L, 1)) return;
    TValue t = *checkadr(L, idx);
    luaV_gettable(L, &t, L->top - 1, L->top - 1, 0);
}

void lua_rawget(lua_State *L, int idx) {
    if (!api_checknelems(L, 1)) return;
    Table *h = checktable(L, idx);
    if (h == nullptr) { setnilvalue(L->top - 1); return; }
    setobj(L->top - 1, luaH_get(h, L->top - 1));
}

void lua_rawgeti(lua_State *L, int idx, int n) {
    Table *h = checktable(L, idx);
    if (h == nullptr) setnilvalue(L->top);
    else setobj(L->top, luaH_getnum(h, n));
    api_incr_top(L);
}

void lua_newtablenogc(lua_State *L) {
    sethvalue(L->top, luaH_new(L, 0, 0));
    api_incr_top(L);
}

void lua_newtable(lua_State *L) {
    luaC_checkGC(L);
    lua_newtablenogc(L);
}

void lua_newsizedtable(lua_State *L, int narray, int lnhash) {
    luaC_checkGC(L);
    sethvalue(L->top, luaH_new(L, narray, lnhash));
    api_incr_top(L);
}

void lua_permanentobjects(lua_State *L, int on) { G(L)->permanent = on != 0; }

void lua_reservestrings(lua_State *L, int lsize) {
    if (lsize < 0 || lsize > 30) return;
    if (G(L)->strt.size < (1 << lsize)) luaS_resize(L, 1 << lsize);
    G(L)->strt.minsize = 1 << lsize;
}

void *lua_newuserdata(lua_State *L, size_t size) {
    luaC_checkGC(L);
    Udata *u = luaS_newudata(L, size);
    setuvalue(L->top, u);
    api_incr_top(L);
    return udata_block(u);
}

int lua_getmetatable(lua_State *L, int objindex) {
    const TValue *obj = index2adr(L, objindex);
    Table *mt = nullptr;
    if (obj != nullptr) {
        if (ttistable(obj)) mt = hvalue(obj)->metatable;
        else if (ttisuserdata(obj)) mt = uvalue(obj)->metatable;
    }
    if (mt == nullptr || mt == defaultmeta(L)) return 0;
    sethvalue(L->top, mt);
    api_incr_top(L);
    return 1;
}

void lua_getfenv(lua_State *L, int idx) {
    StkId o = checkadr(L, idx);
    if (ttisfunction(o) && !clvalue(o)->isC) setobj(L->top, &lclvalue(o)->g);
    else setobj(L->top, gt(L));
    api_incr_top(L);
}

// Set functions

void lua_settable(lua_State *L, int idx) {
    if (!api_checknelems(L, 2)) return;
    TValue t = *checkadr(L, idx);
    luaV_settable(L, &t, L->top - 2, L->top - 1);
    L->top -= 2;
}

void lua_rawset(lua_State *L, int idx) {
    if (!api_checknelems(L, 2)) return;
    Table *h = checktable(L, idx);
    if (h != nullptr) {
        TValue v = *(L->top - 1);
        setobj(luaH_set(L, h, L->top - 2), &v);
    }
    L->top -= 2;
}

void lua_rawseti(lua_State *L, int idx, int n) {
    if (!api_checknelems(L, 1)) return;
    Table *h = checktable(L, idx);
    if (h != nullptr) {
        TValue v = *(L->top - 1);
        setobj(luaH_setnum(L, h, n), &v);
    }
    L->top--;
}

// The table that registration sets into: at a stack index below the top
// in every library opener, found without the general index decoding.
static Table *registrationtable(lua_State *L, int idx) {
    if (idx < 0 && idx > LUA_REGISTRYINDEX && -idx <= L->top - L->base && ttistable(L->top + idx))
        return hvalue(L->top + idx);
    return checktable(L, idx);
}

void lua_rawsetlower(lua_State *L, int idx, const char *name, size_t max) {
    if (!api_checknelems(L, 1)) return;
    luaC_checkGC(L);
    Table *h = registrationtable(L, idx);
    if (h != nullptr) {
        // Neither interning nor the insertion collects: the key needs no stack slot.
        TValue v = *(L->top - 1);
        setobj(luaH_setstr(L, h, luaS_newlower(L, name, max)), &v);
    }
    L->top--;
}

int lua_setmetatable(lua_State *L, int objindex) {
    if (!api_checknelems(L, 1)) return 0;
    TValue *obj = checkadr(L, objindex);
    TValue *mt = L->top - 1;
    Table *m;
    if (ttisnil(mt)) m = defaultmeta(L);
    else if (ttistable(mt)) m = hvalue(mt);
    else { misuse(L); L->top--; return 0; }
    int res = 1;
    if (ttistable(obj)) hvalue(obj)->metatable = m;
    else if (ttisuserdata(obj)) uvalue(obj)->metatable = m;
    else res = 0;
    L->top--;
    return res;
}

int lua_setfenv(lua_State *L, int idx) {
    if (!api_checknelems(L, 1)) return 0;
    StkId o = checkadr(L, idx);
    int res = 0;
    if (!ttistable(L->top - 1)) misuse(L);
    else if (ttisfunction(o) && !clvalue(o)->isC) {
        setobj(&lclvalue(o)->g, L->top - 1);
        res = 1;
    }
    L->top--;
    return res;
}

// Calls

static bool checkresults(lua_State *L, StkId func, int nresults) {
    if (nresults > 0 && func + nresults > L->ci->top) {
        misuse(L);
        return false;
    }
    return true;
}

void lua_call(lua_State *L, int nargs, int nresults) {
    if (nargs < 0 || nargs + 1 > L->top - L->base) {
        if (!qxVmErrorThrown) luaG_raisecode(L, 1135);
        return;
    }
    StkId func = L->top - (nargs + 1);
    if (!checkresults(L, func, nresults)) return;
    luaD_call(L, func, nresults);
}

struct CallS {
    StkId func;
    int nresults;
};

static void f_call(lua_State *L, void *ud) {
    CallS *c = static_cast<CallS *>(ud);
    luaD_call(L, c->func, c->nresults);
}

int lua_pcall(lua_State *L, int nargs, int nresults, int errfunc) {
    if (nargs < 0 || nargs + 1 > L->top - L->base) { misuse(L); return 1135; }
    ptrdiff_t func = 0;
    if (errfunc != 0) func = savestack(L, checkadr(L, errfunc));
    CallS c;
    c.func = L->top - (nargs + 1);
    c.nresults = nresults;
    if (!checkresults(L, c.func, nresults)) return 1135;
    return luaD_pcall(L, f_call, &c, savestack(L, c.func), func);
}

struct CCallS {
    lua_CFunction func;
    void *ud;
};

static void f_Ccall(lua_State *L, void *ud) {
    CCallS *c = static_cast<CCallS *>(ud);
    CClosure *cl = static_cast<CClosure *>(luaF_newCclosure(L, 0));
    cl->f = c->func;
    luaD_checkstack(L, 2);
    setclvalue(L->top, cl);
    L->top++;
    setpvalue(L->top, c->ud);
    L->top++;
    luaD_call(L, L->top - 2, 0);
}

int lua_cpcall(lua_State *L, lua_CFunction func, void *ud) {
    CCallS c{func, ud};
    return luaD_pcall(L, f_Ccall, &c, savestack(L, L->top), 0);
}

int lua_load(lua_State *L, lua_Chunkreader reader, void *data, const char *chunkname) {
    if (chunkname == nullptr) chunkname = "?";
    luaC_checkGC(L);
    ZIO z;
    luaZ_init(&z, reader, data, chunkname);
    return luaD_protectedparser(L, &z);
}

int lua_dump(lua_State *L, int idx, lua_Chunkwriter writer, void *data) {
    TValue *o = index2adr(L, idx);
    if (o == nullptr || !ttisfunction(o) || clvalue(o)->isC) return 1324;
    return luaU_dump(L, lclvalue(o)->p, writer, data);
}

// Garbage collection

int lua_getgcthreshold(lua_State *L) { return static_cast<int>(G(L)->GCthreshold / 1024 > INT32_MAX ? INT32_MAX : G(L)->GCthreshold / 1024); }

int lua_getgccount(lua_State *L) { return static_cast<int>(G(L)->nblocks / 1024); }

void lua_setgcthreshold(lua_State *L, int newthreshold) {
    if (newthreshold < 0) G(L)->GCthreshold = static_cast<size_t>(-1);
    else G(L)->GCthreshold = static_cast<size_t>(newthreshold) * 1024;
    luaC_checkGC(L);
}

// Miscellaneous

int lua_next(lua_State *L, int idx) {
    if (!api_checknelems(L, 1)) return 0;
    Table *h = checktable(L, idx);
    if (h == nullptr) return 0;
    if (L->top >= L->ci->top) misuse(L);
    luaD_checkstack(L, 1);
    int more = luaH_next(L, h, L->top - 1);
    if (more) L->top++;
    else L->top--;
    return more;
}

void lua_concat(lua_State *L, int n) {
    if (!api_checknelems(L, n)) return;
    if (n >= 2) {
        luaC_checkGC(L);
        luaV_concat(L, n, static_cast<int>(L->top - L->base) - 1);
        L->top -= (n - 1);
    } else if (n == 0) {
        luaC_checkGC(L);
        setsvalue(L->top, luaS_newlstr(L, "", 0));
        api_incr_top(L);
    }
}

int lua_pushupvalues(lua_State *L) {
    const TValue *fn = L->base - 1;
    if (!iscfunction(fn)) { misuse(L); return 0; }
    CClosure *func = cclvalue(fn);
    int n = func->nupvalues;
    if (L->top + n > L->ci->top) { misuse(L); luaD_checkstack(L, n); }
    for (int i = 0; i < n; i++) {
        setobj(L->top, &func->upvalue[i]);
        L->top++;
    }
    return n;
}

static const char *aux_upvalue(lua_State *L, int funcindex, int n, TValue **val) {
    StkId fi = index2adr(L, funcindex);
    if (fi == nullptr || !ttisfunction(fi)) return nullptr;
    Closure *f = clvalue(fi);
    if (n < 1 || n > f->nupvalues) return nullptr;
    if (f->isC) {
        *val = &static_cast<CClosure *>(f)->upvalue[n - 1];
        return "";
    }
    LClosure *lf = static_cast<LClosure *>(f);
    *val = lf->upvals[n - 1]->v;
    Proto *p = lf->p;
    return n <= p->sizeupvalues ? getstr(p->upvalues[n - 1]) : "";
}

const char *lua_getupvalue(lua_State *L, int funcindex, int n) {
    TValue *val = nullptr;
    const char *name = aux_upvalue(L, funcindex, n, &val);
    if (name) {
        TValue v = *val;
        setobj(L->top, &v);
        api_incr_top(L);
    }
    return name;
}

const char *lua_setupvalue(lua_State *L, int funcindex, int n) {
    if (!api_checknelems(L, 1)) return nullptr;
    TValue *val = nullptr;
    const char *name = aux_upvalue(L, funcindex, n, &val);
    if (name) {
        L->top--;
        setobj(val, L->top);
    }
    return name;
}

} // extern "C"
