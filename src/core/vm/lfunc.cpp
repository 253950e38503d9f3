// Prototypes, closures and upvalues.
#include "core/vm/lfunc.h"
#include "core/vm/lgc.h"

Proto *luaF_newproto(lua_State *L) {
    Proto *f = static_cast<Proto *>(luaM_realloc(L, nullptr, 0, sizeof(Proto)));
    f->k = nullptr;
    f->sizek = 0;
    f->code = nullptr;
    f->sizecode = 0;
    f->p = nullptr;
    f->sizep = 0;
    f->lineinfo = nullptr;
    f->sizelineinfo = 0;
    f->locvars = nullptr;
    f->sizelocvars = 0;
    f->upvalues = nullptr;
    f->sizeupvalues = 0;
    f->source = nullptr;
    f->linedefined = 0;
    f->nups = 0;
    f->numparams = 0;
    f->is_vararg = 0;
    f->maxstacksize = 0;
    f->gclist = nullptr;
    luaC_link(L, f, LUA_TPROTO);
    return f;
}

void luaF_freeproto(lua_State *L, Proto *f) {
    luaM_freearray(L, f->code, static_cast<size_t>(f->sizecode));
    luaM_freearray(L, f->p, static_cast<size_t>(f->sizep));
    luaM_freearray(L, f->k, static_cast<size_t>(f->sizek));
    luaM_freearray(L, f->lineinfo, static_cast<size_t>(f->sizelineinfo));
    luaM_freearray(L, f->locvars, static_cast<size_t>(f->sizelocvars));
    luaM_freearray(L, f->upvalues, static_cast<size_t>(f->sizeupvalues));
    luaM_realloc(L, f, sizeof(Proto), 0);
}

Closure *luaF_newCclosure(lua_State *L, int nelems) {
    // A command registered at start-up has no upvalues and nothing it could
    // change: it stays fixed in the permanent blocks like its name.
    bool perm = nelems == 0 && G(L)->permanent;
    size_t size = sizeCclosure(nelems);
    CClosure *c = static_cast<CClosure *>(perm ? luaM_permanent(L, size) : luaM_realloc(L, nullptr, 0, size));
    c->isC = 1;
    c->nupvalues = static_cast<lu_byte>(nelems);
    c->gclist = nullptr;
    c->f = nullptr;
    for (int i = 0; i < nelems; i++) setnilvalue(&c->upvalue[i]);
    luaC_link(L, c, LUA_TFUNCTION);
    if (perm) c->marked = FIXED_BIT | PERM_BIT;
    return c;
}

Closure *luaF_newLclosure(lua_State *L, int nelems, const TValue *e) {
    LClosure *c = static_cast<LClosure *>(luaM_realloc(L, nullptr, 0, sizeLclosure(nelems)));
    c->isC = 0;
    c->nupvalues = static_cast<lu_byte>(nelems);
    c->gclist = nullptr;
    c->p = nullptr;
    c->g = *e;
    for (int i = 0; i < nelems; i++) c->upvals[i] = nullptr;
    luaC_link(L, c, LUA_TFUNCTION);
    return c;
}

void luaF_freeclosure(lua_State *L, Closure *c) {
    size_t size = c->isC ? sizeCclosure(c->nupvalues) : sizeLclosure(c->nupvalues);
    luaM_realloc(L, c, size, 0);
}

UpVal *luaF_findupval(lua_State *L, StkId level) {
    GCObject **pp = &L->openupval;
    UpVal *p;
    while ((p = static_cast<UpVal *>(*pp)) != nullptr && p->v >= level) {
        if (p->v == level) return p;
        pp = &p->next;
    }
    UpVal *v = static_cast<UpVal *>(luaM_realloc(L, nullptr, 0, sizeof(UpVal)));
    v->tt = LUA_TUPVAL;
    v->marked = 0;
    v->v = level;
    setnilvalue(&v->value);
    v->next = *pp;
    *pp = v;
    return v;
}

void luaF_close(lua_State *L, StkId level) {
    UpVal *p;
    while ((p = static_cast<UpVal *>(L->openupval)) != nullptr && p->v >= level) {
        setobj(&p->value, p->v);
        p->v = &p->value;
        L->openupval = p->next;
        luaC_link(L, p, LUA_TUPVAL);
    }
}

const char *luaF_getlocalname(const Proto *f, int local_number, int pc) {
    for (int i = 0; i < f->sizelocvars && f->locvars[i].startpc <= pc; i++) {
        if (pc < f->locvars[i].endpc) {
            local_number--;
            if (local_number == 0) return getstr(f->locvars[i].varname);
        }
    }
    return nullptr;
}
