// Stack and frame growth, calls and returns, throws and protected calls, hooks.
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/commands/qx_cmdcall.h"
#include "core/vm/ldo.h"
#include "core/vm/lfunc.h"
#include "core/vm/lgc.h"
#include "core/vm/lstring.h"
#include "core/vm/ltable.h"
#include "core/vm/ltm.h"
#include "core/vm/lundump.h"
#include "core/vm/lvm.h"
#include "core/vm/qx_cmderror.h"
#include "core/vm/qx_vmregs.h"

extern "C" {
int qxVmAbort = 0;
int32_t qxVmLabelOffset = 0;
int32_t qxVmCallPosition = 0;
int qxVmErrorThrown = 0;
int qxVmErrorLine = -1;
int (*qxVmClaimHandler)(lua_State *L, lua_CFunction handler, int *result) = nullptr;
void (*qxVmThrowNotify)(lua_State *L, int code) = nullptr;
}

// Errors

void luaD_throw(lua_State *L, int errcode) {
    qxVmErrorThrown = 1;
    if (L->errorJmp) {
        L->errorJmp->status = errcode;
        if (qxVmThrowNotify) qxVmThrowNotify(L, errcode);
        throw luaD_Throw{L->errorJmp};
    }
    G(L)->panic(L);
    std::exit(1);
}

int luaD_rawrunprotected(lua_State *L, Pfunc f, void *ud) {
    lua_longjmp lj;
    lj.status = 0;
    lj.previous = L->errorJmp;
    L->errorJmp = &lj;
    try {
        f(L, ud);
    } catch (const luaD_Throw &) {
        if (lj.status == 0) lj.status = 1000;
    } catch (const std::bad_alloc &) {
        lj.status = 1000;
    }
    L->errorJmp = lj.previous;
    return lj.status;
}

// Stack

static void correctstack(lua_State *L, TValue *oldstack, TValue *newstack) {
    auto fix = [&](StkId p) { return newstack + (p - oldstack); };
    L->top = fix(L->top);
    for (GCObject *up = L->openupval; up; up = up->next) {
        UpVal *u = static_cast<UpVal *>(up);
        u->v = fix(u->v);
    }
    for (CallInfo *ci = L->base_ci; ci <= L->ci; ci++) {
        ci->top = fix(ci->top);
        ci->base = fix(ci->base);
    }
    L->base = fix(L->base);
}

void luaD_reallocstack(lua_State *L, int newsize) {
    TValue *oldstack = L->stack;
    TValue *newstack = luaM_newvector<TValue>(L, static_cast<size_t>(newsize));
    int keep = L->stacksize < newsize ? L->stacksize : newsize;
    std::memcpy(static_cast<void *>(newstack), oldstack, sizeof(TValue) * static_cast<size_t>(keep));
    for (int i = keep; i < newsize; i++) setnilvalue(&newstack[i]);
    correctstack(L, oldstack, newstack);
    luaM_freearray(L, oldstack, static_cast<size_t>(L->stacksize));
    L->stack = newstack;
    L->stacksize = newsize;
    L->stack_last = newstack + (newsize - EXTRA_STACK);
}

void luaD_reallocCI(lua_State *L, int newsize) {
    CallInfo *oldci = L->base_ci;
    L->base_ci = luaM_reallocvector<CallInfo>(L, L->base_ci, L->size_ci, static_cast<size_t>(newsize));
    L->size_ci = static_cast<unsigned short>(newsize);
    L->ci = L->base_ci + (L->ci - oldci);
    L->end_ci = L->base_ci + L->size_ci;
}

void luaD_growstack(lua_State *L, int n) {
    if (n <= L->stacksize) luaD_reallocstack(L, 2 * L->stacksize);
    else luaD_reallocstack(L, L->stacksize + n + 5);
}

static CallInfo *next_ci(lua_State *L) {
    if (L->ci + 1 == L->end_ci) {
        if (L->size_ci > LUAI_MAXCALLS) luaD_throw(L, 1135);
        luaD_reallocCI(L, 2 * L->size_ci);
        if (L->size_ci > LUAI_MAXCALLS) luaG_raisecode(L, 1135);
    }
    return ++L->ci;
}

// Hooks

void luaD_callhook(lua_State *L, int event, int line) {
    lua_Hook hook = L->hook;
    if (hook == nullptr || !L->allowhook) return;
    ptrdiff_t top = savestack(L, L->top);
    ptrdiff_t ci_top = savestack(L, L->ci->top);
    // lua_getinfo fills the rest on request; the line hook runs often.
    lua_Debug ar;
    ar.event = event;
    ar.name = ar.namewhat = ar.what = ar.source = nullptr;
    ar.currentline = line;
    ar.nups = ar.linedefined = 0;
    ar.short_src[0] = '\0';
    ar.i_ci = static_cast<int>(L->ci - L->base_ci);
    luaD_checkstack(L, LUA_MINSTACK);
    L->ci->top = L->top + LUA_MINSTACK;
    L->allowhook = 0;
    int result = 0;
    hook(L, &ar, &result, L->ci);
    if (qxVmAbort) luaD_throw(L, 1003);
    if (result != 0) luaD_throw(L, result);
    L->allowhook = 1;
    L->ci->top = restorestack(L, ci_top);
    L->top = restorestack(L, top);
}

// Calls

// Extra arguments of a vararg function go into a table {[0]=..., n=count}.
static void adjust_varargs(lua_State *L, int nfixargs, StkId base) {
    int actual = static_cast<int>(L->top - base);
    if (actual < nfixargs) {
        luaD_checkstack(L, nfixargs - actual);
        for (; actual < nfixargs; ++actual) setnilvalue(L->top++);
    }
    actual -= nfixargs;
    Table *htab = luaH_new(L, actual > 1 ? actual - 1 : 0, 1);
    for (int i = 0; i < actual; i++) setobj(luaH_setnum(L, htab, i), L->top - actual + i);
    TValue *n = luaH_setstr(L, htab, luaS_new(L, "n"));
    setnvalue(n, static_cast<lua_Number>(actual));
    L->top -= actual;
    sethvalue(L->top, htab);
    L->top++;
}

// A value that is not a function is called through its __call metamethod.
static StkId tryfuncTM(lua_State *L, StkId func) {
    const TValue *tm = luaT_gettmbyobj(L, func, TM_CALL);
    if (tm == nullptr || !ttisfunction(tm)) luaG_typeerror(L, func, 1133, "()");
    ptrdiff_t funcr = savestack(L, func);
    TValue f = *tm;
    luaD_checkstack(L, 1);
    func = restorestack(L, funcr);
    for (StkId p = L->top; p > func; p--) setobj(p, p - 1);
    L->top++;
    setobj(func, &f);
    return func;
}

// Pops a native frame without hooks: results at the function slot, nil-filled.
static void popnative(lua_State *L, int wanted, StkId firstResult) {
    StkId res = L->base - 1;
    L->ci--;
    L->base = L->ci->base;
    while (wanted != 0 && firstResult < L->top) {
        setobj(res++, firstResult++);
        wanted--;
    }
    while (wanted-- > 0) setnilvalue(res++);
    L->top = res;
}

int luaD_precall(lua_State *L, StkId func, int nresults, int status) {
    if (!ttisfunction(func)) func = tryfuncTM(L, func);
    ptrdiff_t funcr = savestack(L, func);
    Closure *cl = clvalue(func);
    if (!cl->isC) {
        Proto *p = static_cast<LClosure *>(cl)->p;
        if (p->is_vararg) {
            adjust_varargs(L, p->numparams, func + 1);
        } else if (L->top > func + 1 + p->numparams) {
            L->top = func + 1 + p->numparams; // surplus arguments are dropped
        }
        luaD_checkstack(L, p->maxstacksize);
        CallInfo *ci = next_ci(L);
        L->base = ci->base = restorestack(L, funcr) + 1;
        ci->top = L->base + p->maxstacksize;
        ci->savedpc = p->code;
        ci->pcp = nullptr;
        ci->tailcalls = 0;
        ci->state = CI_SAVEDPC;
        while (L->top < ci->top) setnilvalue(L->top++);
        L->top = ci->top;
        if (L->hookmask & LUA_MASKCALL) {
            ci->savedpc++; // hooks assume pc is already incremented
            luaD_callhook(L, LUA_HOOKCALL, -1);
            L->ci->savedpc--; // the hook may have moved the frame array
        }
        return PCRLUA;
    }
    luaD_checkstack(L, LUA_MINSTACK);
    CallInfo *ci = next_ci(L);
    L->base = ci->base = restorestack(L, funcr) + 1;
    ci->top = L->top + LUA_MINSTACK;
    ci->state = CI_C;
    ci->pcp = nullptr;
    ci->tailcalls = 0;
    if (L->hookmask & LUA_MASKCALL) luaD_callhook(L, LUA_HOOKCALL, -1);
    lua_CFunction handler = static_cast<CClosure *>(cl)->f;
    if (qxCallTraceEnabled()) qxTraceCommandCall(L);
    qxBeginCommand(handler);
    int r;
    if (qxVmClaimHandler == nullptr || !qxVmClaimHandler(L, handler, &r)) r = handler(L);
    if (r >= 0 && r <= 999) {
        if (r > L->top - L->base) luaG_raisecode(L, 1135);
        if (status) { // a status call gets 0 in front of the results
            luaD_checkstack(L, 1);
            for (StkId p = L->top; p > L->top - r; p--) setobj(p, p - 1);
            setnvalue(L->top - r, 0);
            L->top++;
            r++;
        }
        luaD_poscall(L, nresults, L->top - r);
        return PCRDONE;
    }
    if (r == -1 || r == -2) {
        popnative(L, nresults, L->top);
        return r;
    }
    if (status) { // the error code becomes the call's only value
        // The error is handled here: a line recorded for it inside a
        // callback must not be handed to the next failure.
        qxResetErrorFunction();
        luaD_checkstack(L, 1);
        setnvalue(L->top, static_cast<lua_Number>(r));
        L->top++;
        luaD_poscall(L, nresults, L->top - 1);
        return PCRDONE;
    }
    // Raised while the command's frame is current, so that the report and
    // the script's error handler name the command; when the error policy
    // lets the script go on, the command gives no results.
    qxRaiseCommandError(L, r);
    popnative(L, nresults, L->top);
    return PCRDONE;
}

void luaD_poscall(lua_State *L, int wanted, StkId firstResult) {
    if (L->hookmask & LUA_MASKRET) {
        ptrdiff_t fr = savestack(L, firstResult);
        luaD_callhook(L, LUA_HOOKRET, -1);
        if (isLua(L->ci)) {
            for (int tc = L->ci->tailcalls; tc > 0; tc--) luaD_callhook(L, LUA_HOOKTAILRET, -1);
        }
        firstResult = restorestack(L, fr);
    }
    StkId res = L->base - 1;
    L->ci--;
    L->base = L->ci->base;
    while (wanted != 0 && firstResult < L->top) {
        setobj(res++, firstResult++);
        wanted--;
    }
    while (wanted-- > 0) setnilvalue(res++);
    L->top = res;
}

void luaD_call(lua_State *L, StkId func, int nResults) {
    if (++L->nCcalls >= LUAI_MAXCCALLS) {
        if (L->nCcalls == LUAI_MAXCCALLS) luaG_raisecode(L, 1135);
        else if (L->nCcalls >= LUAI_MAXCCALLS + 25) luaD_throw(L, 1135);
    }
    ptrdiff_t funcr = savestack(L, func);
    ptrdiff_t oldci = L->ci - L->base_ci;
    if (luaD_precall(L, func, nResults, 0) == PCRLUA) {
        StkId firstResult = luaV_execute(L);
        if (firstResult == nullptr) {
            // aborted: drop every frame the interpreter had entered, no results
            StkId f = restorestack(L, funcr);
            luaF_close(L, f);
            L->ci = L->base_ci + oldci + 1;
            L->base = L->ci->base;
            L->top = L->base;
            popnative(L, nResults, L->top);
        } else {
            luaD_poscall(L, nResults, firstResult);
        }
    }
    L->nCcalls--;
    luaC_checkGC(L);
}

int luaD_pcall(lua_State *L, Pfunc func, void *u, ptrdiff_t old_top, ptrdiff_t ef) {
    unsigned short oldnCcalls = L->nCcalls;
    ptrdiff_t old_ci = L->ci - L->base_ci;
    lu_byte old_allowhooks = L->allowhook;
    ptrdiff_t old_errfunc = L->errfunc;
    int oldgosub = qxVmGosubCount;
    L->errfunc = ef;
    int status = luaD_rawrunprotected(L, func, u);
    if (status != 0) {
        if (qxVmGosubCount > oldgosub) qxVmGosubCount = oldgosub; // drop the failed call's Gosubs
        StkId oldtop = restorestack(L, old_top);
        luaF_close(L, oldtop);
        L->top = oldtop;
        L->nCcalls = oldnCcalls;
        L->ci = L->base_ci + old_ci;
        L->base = L->ci->base;
        L->allowhook = old_allowhooks;
        if (L->size_ci > LUAI_MAXCALLS && (L->ci - L->base_ci) < LUAI_MAXCALLS - 1)
            luaD_reallocCI(L, LUAI_MAXCALLS);
        qxVmErrorThrown = 0;
    }
    L->errfunc = old_errfunc;
    return status;
}

// Loading

struct SParser {
    ZIO *z;
    Mbuffer buff;
};

static void f_parser(lua_State *L, void *ud) {
    SParser *p = static_cast<SParser *>(ud);
    Proto *tf = luaU_undump(L, p->z, &p->buff);
    Closure *cl = luaF_newLclosure(L, tf->nups, gt(L));
    LClosure *lcl = static_cast<LClosure *>(cl);
    lcl->p = tf;
    for (int i = 0; i < tf->nups; i++) {
        UpVal *uv = static_cast<UpVal *>(luaM_realloc(L, nullptr, 0, sizeof(UpVal)));
        setnilvalue(&uv->value);
        uv->v = &uv->value;
        luaC_link(L, uv, LUA_TUPVAL);
        lcl->upvals[i] = uv;
    }
    luaD_checkstack(L, 1);
    setclvalue(L->top, cl);
    L->top++;
}

int luaD_protectedparser(lua_State *L, ZIO *z) {
    SParser p;
    p.z = z;
    p.buff.buffer = nullptr;
    p.buff.size = 0;
    int status = luaD_pcall(L, f_parser, &p, savestack(L, L->top), L->errfunc);
    luaM_freearray(L, p.buff.buffer, p.buff.size);
    return status;
}
