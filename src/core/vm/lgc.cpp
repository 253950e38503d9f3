// Stop-the-world mark and sweep with weak tables and userdata finalisers.
#include <cstring>

#include "core/vm/ldo.h"
#include "core/vm/lfunc.h"
#include "core/vm/lgc.h"
#include "core/vm/lstring.h"
#include "core/vm/ltable.h"
#include "core/vm/ltm.h"
#include "core/vm/qx_vmregs.h"

extern "C" {
int qxVmGcStress = 0;
}

namespace {

struct GCState {
    GCObject *tmark; // objects marked but not yet traversed
    Table *weak;     // weak tables found in this cycle
    global_State *g;
};

inline bool ismarked(const GCObject *o) { return (o->marked & MARK_BIT) != 0; }

void reallymarkobject(GCState *st, GCObject *o);

inline void markobject(GCState *st, GCObject *o) {
    if (o && !ismarked(o)) reallymarkobject(st, o);
}

inline void markvalue(GCState *st, const TValue *v) {
    if (iscollectable(v)) markobject(st, gcvalue(v));
}

void reallymarkobject(GCState *st, GCObject *o) {
    o->marked |= MARK_BIT;
    switch (o->tt) {
    case LUA_TSTRING: break;
    case LUA_TUSERDATA: markobject(st, static_cast<Udata *>(o)->metatable); break;
    case LUA_TFUNCTION: static_cast<Closure *>(o)->gclist = st->tmark; st->tmark = o; break;
    case LUA_TTABLE: static_cast<Table *>(o)->gclist = st->tmark; st->tmark = o; break;
    case LUA_TTHREAD: reinterpret_cast<lua_State *>(o)->gclist = st->tmark; st->tmark = o; break;
    case LUA_TPROTO: static_cast<Proto *>(o)->gclist = st->tmark; st->tmark = o; break;
    case LUA_TUPVAL: {
        UpVal *uv = static_cast<UpVal *>(o);
        markvalue(st, uv->v);
        break;
    }
    default: break;
    }
}

void traversetable(GCState *st, Table *h) {
    markobject(st, h->metatable);
    bool weakkey = false, weakvalue = false;
    const TValue *mode = fasttm(st->g->mainthread, h->metatable, TM_MODE);
    h->marked &= static_cast<lu_byte>(~(KEYWEAK_BIT | VALUEWEAK_BIT));
    if (mode && ttisstring(mode)) {
        weakkey = std::strchr(svalue(mode), 'k') != nullptr;
        weakvalue = std::strchr(svalue(mode), 'v') != nullptr;
        if (weakkey || weakvalue) {
            if (weakkey) h->marked |= KEYWEAK_BIT;
            if (weakvalue) h->marked |= VALUEWEAK_BIT;
            h->gclist = st->weak;
            st->weak = h;
        }
    }
    if (!weakvalue)
        for (int i = 0; i < h->sizearray; i++) markvalue(st, &h->array[i]);
    for (int i = sizenode(h) - 1; i >= 0; i--) {
        Node *n = &h->node[i];
        if (!ttisnil(&n->i_val)) {
            if (!weakkey) markvalue(st, &n->i_key);
            if (!weakvalue) markvalue(st, &n->i_val);
        }
    }
}

void traverseproto(GCState *st, Proto *f) {
    markobject(st, f->source);
    for (int i = 0; i < f->sizek; i++) markvalue(st, &f->k[i]);
    for (int i = 0; i < f->sizeupvalues; i++) markobject(st, f->upvalues[i]);
    for (int i = 0; i < f->sizep; i++) markobject(st, f->p[i]);
    for (int i = 0; i < f->sizelocvars; i++) markobject(st, f->locvars[i].varname);
}

void traverseclosure(GCState *st, Closure *cl) {
    if (cl->isC) {
        CClosure *c = static_cast<CClosure *>(cl);
        for (int i = 0; i < c->nupvalues; i++) markvalue(st, &c->upvalue[i]);
    } else {
        LClosure *c = static_cast<LClosure *>(cl);
        markobject(st, c->p);
        markvalue(st, &c->g);
        for (int i = 0; i < c->nupvalues; i++) {
            UpVal *u = c->upvals[i];
            if (u == nullptr) continue;
            if (u->v == &u->value) markobject(st, u);
            else markvalue(st, u->v); // open: the value may sit on an unreachable thread's stack
        }
    }
}

void checkstacksizes(lua_State *L, StkId max) {
    int ci_used = static_cast<int>(L->ci - L->base_ci);
    if (4 * ci_used < L->size_ci && 2 * BASIC_CI_SIZE < L->size_ci) luaD_reallocCI(L, L->size_ci / 2);
    int s_used = static_cast<int>(max - L->stack);
    if (4 * s_used < L->stacksize && L->stacksize > 90)
        luaD_reallocstack(L, L->stacksize / 2);
}

void traversestack(GCState *st, lua_State *L1) {
    markvalue(st, gt(L1));
    StkId lim = L1->top;
    for (CallInfo *ci = L1->base_ci; ci <= L1->ci; ci++)
        if (lim < ci->top) lim = ci->top;
    StkId o;
    for (o = L1->stack; o < L1->top; o++) markvalue(st, o);
    for (; o <= lim && o < L1->stack + L1->stacksize; o++) setnilvalue(o);
    checkstacksizes(L1, lim);
}

void propagatemarks(GCState *st) {
    while (st->tmark) {
        GCObject *o = st->tmark;
        switch (o->tt) {
        case LUA_TTABLE: st->tmark = static_cast<Table *>(o)->gclist; traversetable(st, static_cast<Table *>(o)); break;
        case LUA_TFUNCTION: st->tmark = static_cast<Closure *>(o)->gclist; traverseclosure(st, static_cast<Closure *>(o)); break;
        case LUA_TTHREAD: {
            lua_State *L1 = reinterpret_cast<lua_State *>(o);
            st->tmark = L1->gclist;
            traversestack(st, L1);
            break;
        }
        case LUA_TPROTO: st->tmark = static_cast<Proto *>(o)->gclist; traverseproto(st, static_cast<Proto *>(o)); break;
        default: st->tmark = nullptr; break;
        }
    }
}

// Strings and numbers are values, never cleared from weak tables.
bool iscleared(const TValue *o) {
    if (!iscollectable(o)) return false;
    if (ttisstring(o)) {
        gcvalue(o)->marked |= MARK_BIT; // strings are values: keep them
        return false;
    }
    return !ismarked(gcvalue(o));
}

void cleartables(Table *h) {
    for (; h; h = static_cast<Table *>(h->gclist)) {
        if (h->marked & VALUEWEAK_BIT)
            for (int i = 0; i < h->sizearray; i++)
                if (iscleared(&h->array[i])) setnilvalue(&h->array[i]);
        for (int i = sizenode(h) - 1; i >= 0; i--) {
            Node *n = &h->node[i];
            if (!ttisnil(&n->i_val) && (iscleared(&n->i_key) || iscleared(&n->i_val))) setnilvalue(&n->i_val);
        }
    }
}

void freeobj(lua_State *L, GCObject *o) {
    switch (o->tt) {
    case LUA_TPROTO: luaF_freeproto(L, static_cast<Proto *>(o)); break;
    case LUA_TFUNCTION: luaF_freeclosure(L, static_cast<Closure *>(o)); break;
    case LUA_TUPVAL: luaM_realloc(L, o, sizeof(UpVal), 0); break;
    case LUA_TTABLE: luaH_free(L, static_cast<Table *>(o)); break;
    case LUA_TTHREAD: luaE_freethread(L, reinterpret_cast<lua_State *>(o)); break;
    case LUA_TSTRING: luaM_realloc(L, o, sizestring(static_cast<TString *>(o)->len), 0); break;
    case LUA_TUSERDATA: luaM_realloc(L, o, sizeudata(static_cast<Udata *>(o)->len), 0); break;
    default: break;
    }
}

void sweeplist(lua_State *L, GCObject **p) {
    GCObject *curr;
    GCObject *deadthreads = nullptr;
    while ((curr = *p) != nullptr) {
        if (ismarked(curr) || (curr->marked & FIXED_BIT)) {
            curr->marked &= static_cast<lu_byte>(~MARK_BIT);
            p = &curr->next;
        } else {
            *p = curr->next;
            if (curr->tt == LUA_TTHREAD) {
                // freed after the sweep: closing its upvalues links them into this list
                curr->next = deadthreads;
                deadthreads = curr;
            } else {
                freeobj(L, curr);
            }
        }
    }
    while (deadthreads) {
        GCObject *next = deadthreads->next;
        freeobj(L, deadthreads);
        deadthreads = next;
    }
}

void sweepstrings(lua_State *L) {
    stringtable *tb = &G(L)->strt;
    for (int i = 0; i < tb->size; i++) {
        GCObject **p = &tb->hash[i];
        GCObject *curr;
        while ((curr = *p) != nullptr) {
            if (ismarked(curr) || (curr->marked & FIXED_BIT)) {
                curr->marked &= static_cast<lu_byte>(~MARK_BIT);
                p = &curr->next;
            } else {
                *p = curr->next;
                tb->nuse--;
                freeobj(L, curr);
            }
        }
    }
}

void markroot(GCState *st, lua_State *L) {
    global_State *g = st->g;
    markvalue(st, &g->_defaultmeta);
    markvalue(st, registry(L));
    reallymarkobject(st, g->mainthread);
    if (L != g->mainthread) markobject(st, L);
    propagatemarks(st);
}

void callGCTM(lua_State *L) {
    global_State *g = G(L);
    lu_byte oldah = L->allowhook;
    L->allowhook = 0;
    while (g->tmudata) {
        GCObject *o = g->tmudata;
        Udata *udata = static_cast<Udata *>(o);
        g->tmudata = udata->next;
        udata->next = g->rootudata;
        g->rootudata = udata;
        const TValue *tm = fasttm(L, udata->metatable, TM_GC);
        if (tm != nullptr) {
            luaD_checkstack(L, 3);
            setobj(L->top, tm);
            setuvalue(L->top + 1, udata);
            L->top += 2;
            luaD_call(L, L->top - 2, 0);
        }
    }
    L->allowhook = oldah;
}

} // namespace

void luaC_link(lua_State *L, GCObject *o, lu_byte tt) {
    o->next = G(L)->rootgc;
    G(L)->rootgc = o;
    o->marked = 0;
    o->tt = tt;
}

size_t luaC_separateudata(lua_State *L, int all) {
    global_State *g = G(L);
    size_t deadmem = 0;
    GCObject **p = &g->rootudata;
    GCObject *curr;
    GCObject *collected = nullptr;
    GCObject **lastcollected = &collected;
    while ((curr = *p) != nullptr) {
        Udata *u = static_cast<Udata *>(curr);
        if ((!all && ismarked(curr)) || (curr->marked & FINALIZE_BIT) ||
            fasttm(L, u->metatable, TM_GC) == nullptr) {
            p = &curr->next;
        } else {
            // unreachable with a finaliser still to run
            deadmem += sizeudata(u->len) + 32;
            curr->marked |= FINALIZE_BIT;
            *p = curr->next;
            curr->next = nullptr;
            *lastcollected = curr;
            lastcollected = &curr->next;
        }
    }
    *lastcollected = g->tmudata;
    g->tmudata = collected;
    return deadmem;
}

void luaC_callallgcTM(lua_State *L) { callGCTM(L); }

void luaC_collectgarbage(lua_State *L) {
    global_State *g = G(L);
    GCState st{nullptr, nullptr, g};
    markroot(&st, L);
    size_t deadmem = luaC_separateudata(L, 0);
    for (GCObject *o = g->tmudata; o; o = o->next) reallymarkobject(&st, o);
    propagatemarks(&st);
    cleartables(st.weak);
    sweeplist(L, &g->rootgc);
    sweepstrings(L);
    sweeplist(L, &g->rootudata);
    for (GCObject *o = g->tmudata; o; o = o->next) o->marked &= static_cast<lu_byte>(~MARK_BIT);
    g->mainthread->marked &= static_cast<lu_byte>(~MARK_BIT);
    if (g->strt.nuse < static_cast<uint64_t>(g->strt.size / 4) && g->strt.size > g->strt.minsize) luaS_resize(L, g->strt.size / 2);
    if (g->buff.size > 64) {
        size_t newsize = g->buff.size / 2;
        g->buff.buffer = static_cast<char *>(luaM_realloc(L, g->buff.buffer, g->buff.size, newsize));
        g->buff.size = newsize;
    }
    size_t twice = 2 * g->nblocks;
    g->GCthreshold = twice > deadmem && !qxVmGcStress ? twice - deadmem : 0;
    callGCTM(L);
}

void luaC_sweepall(lua_State *L) {
    global_State *g = G(L);
    while (g->rootgc || g->rootudata || g->tmudata) {
        GCObject *lists[3] = {g->rootgc, g->rootudata, g->tmudata};
        g->rootgc = g->rootudata = g->tmudata = nullptr;
        for (GCObject *o : lists) {
            while (o) {
                GCObject *next = o->next;
                if (!(o->marked & PERM_BIT)) freeobj(L, o); // its block goes with the permanent ones
                o = next;
            }
        }
    }
}
