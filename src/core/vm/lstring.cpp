// String interning and full userdata allocation.
#include <cstring>

#include "core/vm/ldo.h"
#include "core/vm/lgc.h"
#include "core/vm/lstring.h"

void luaS_resize(lua_State *L, int newsize) {
    stringtable *tb = &G(L)->strt;
    GCObject **newhash = luaM_newvector<GCObject *>(L, static_cast<size_t>(newsize));
    for (int i = 0; i < newsize; i++) newhash[i] = nullptr;
    for (int i = 0; i < tb->size; i++) {
        GCObject *p = tb->hash[i];
        while (p) {
            GCObject *next = p->next;
            uint32_t h = static_cast<TString *>(p)->hash;
            int h1 = static_cast<int>(h & static_cast<uint32_t>(newsize - 1));
            p->next = newhash[h1];
            newhash[h1] = p;
            p = next;
        }
    }
    luaM_freearray(L, tb->hash, static_cast<size_t>(tb->size));
    tb->size = newsize;
    tb->hash = newhash;
}

// A permanent string's room, carved from the current permanent block.
static TString *permstring(lua_State *L, size_t size) {
    constexpr size_t kBlock = 16 * 1024;
    global_State *g = G(L);
    size = (size + 7) & ~static_cast<size_t>(7);
    if (g->permleft < size) {
        size_t n = size + sizeof(PermBlock) > kBlock ? size + sizeof(PermBlock) : kBlock;
        auto *b = static_cast<PermBlock *>(luaM_realloc(L, nullptr, 0, n));
        b->next = g->permblocks;
        b->size = n;
        g->permblocks = b;
        g->permnext = reinterpret_cast<char *>(b + 1);
        g->permleft = n - sizeof(PermBlock);
    }
    auto *ts = reinterpret_cast<TString *>(g->permnext);
    g->permnext += size;
    g->permleft -= size;
    return ts;
}

static TString *newlstr(lua_State *L, const char *str, size_t l, uint32_t h) {
    if (l > static_cast<size_t>(-1) - sizeof(TString) - 16) luaD_throw(L, 1000);
    bool perm = G(L)->permanent;
    TString *ts = perm ? permstring(L, sizestring(l)) : static_cast<TString *>(luaM_realloc(L, nullptr, 0, sizestring(l)));
    ts->next = nullptr;
    ts->tt = LUA_TSTRING;
    ts->marked = perm ? FIXED_BIT | PERM_BIT : 0;
    ts->reserved = 0;
    ts->hash = h;
    ts->len = l;
    std::memcpy(getstrw(ts), str, l);
    getstrw(ts)[l] = '\0';
    stringtable *tb = &G(L)->strt;
    uint32_t b = h & static_cast<uint32_t>(tb->size - 1);
    ts->next = tb->hash[b];
    tb->hash[b] = ts;
    tb->nuse++;
    if (tb->nuse > static_cast<uint64_t>(tb->size) && tb->size <= 0x3FFFFFFE) luaS_resize(L, tb->size * 2);
    return ts;
}

TString *luaS_newlstr(lua_State *L, const char *str, size_t l) {
    uint32_t h = static_cast<uint32_t>(l);
    size_t step = (l >> 5) + 1;
    for (size_t l1 = l; l1 >= step; l1 -= step)
        h = h ^ ((h << 5) + (h >> 2) + static_cast<unsigned char>(str[l1 - 1]));
    stringtable *tb = &G(L)->strt;
    for (GCObject *o = tb->hash[h & static_cast<uint32_t>(tb->size - 1)]; o; o = o->next) {
        TString *ts = static_cast<TString *>(o);
        if (ts->len == l && std::memcmp(str, getstr(ts), l) == 0) return ts;
    }
    return newlstr(L, str, l, h);
}

void luaS_freeall(lua_State *L) {
    stringtable *tb = &G(L)->strt;
    for (int i = 0; i < tb->size; i++) {
        GCObject *p = tb->hash[i];
        while (p) {
            GCObject *next = p->next;
            if (!(p->marked & PERM_BIT)) luaM_realloc(L, p, sizestring(static_cast<TString *>(p)->len), 0);
            p = next;
        }
    }
    global_State *g = G(L);
    while (PermBlock *b = g->permblocks) {
        g->permblocks = b->next;
        luaM_realloc(L, b, b->size, 0);
    }
    g->permleft = 0;
    luaM_freearray(L, tb->hash, static_cast<size_t>(tb->size));
    tb->hash = nullptr;
    tb->size = 0;
    tb->nuse = 0;
}

Udata *luaS_newudata(lua_State *L, size_t s) {
    if (s > static_cast<size_t>(-1) / 2) luaD_throw(L, 1000);
    Udata *u = static_cast<Udata *>(luaM_realloc(L, nullptr, 0, sizeudata(s)));
    u->tt = LUA_TUSERDATA;
    u->marked = 0;
    u->len = s;
    u->metatable = defaultmeta(L);
    u->next = G(L)->rootudata;
    G(L)->rootudata = u;
    return u;
}
