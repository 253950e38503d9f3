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

static TString *newlstr(lua_State *L, const char *str, size_t l, uint32_t h) {
    if (l > static_cast<size_t>(-1) - sizeof(TString) - 16) luaD_throw(L, 1000);
    bool perm = G(L)->permanent;
    TString *ts = perm ? static_cast<TString *>(luaM_permanent(L, sizestring(l))) : static_cast<TString *>(luaM_realloc(L, nullptr, 0, sizestring(l)));
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

TString *luaS_newlstrhash(lua_State *L, const char *str, size_t l, uint32_t h) {
    stringtable *tb = &G(L)->strt;
    for (GCObject *o = tb->hash[h & static_cast<uint32_t>(tb->size - 1)]; o; o = o->next) {
        TString *ts = static_cast<TString *>(o);
        if (ts->len == l && std::memcmp(str, getstr(ts), l) == 0) return ts;
    }
    return newlstr(L, str, l, h);
}

TString *luaS_newlstr(lua_State *L, const char *str, size_t l) {
    return luaS_newlstrhash(L, str, l, luaS_hash(str, l));
}

// ASCII capitals of eight characters at once to lower case: a byte below
// 0x80 that is at least 'A' and not above 'Z' gets 0x20 added (no carry
// crosses a byte, since the high bits are cleared first).
static inline uint64_t lower8(uint64_t w) {
    constexpr uint64_t ones = 0x0101010101010101ull, high = 0x8080808080808080ull;
    uint64_t low7 = w & ~high;
    uint64_t atleastA = low7 + ones * (0x80 - 'A');
    uint64_t aboveZ = low7 + ones * (0x80 - 'Z' - 1);
    return w | (((atleastA & ~aboveZ & ~w) & high) >> 2);
}

// Libraries register thousands of names: they are lowered a word at a time
// and hashed with their length known, without a string of their own.
TString *luaS_newlower(lua_State *L, const char *name, size_t max) {
    alignas(8) char buf[256 + 8];
    size_t l = strnlen(name, max < 256 ? max : 255);
    size_t words = (l + 7) / 8;
    if (words) {
        uint64_t w = 0;
        std::memcpy(buf + 8 * (words - 1), &w, 8); // the bytes past l are defined
        std::memcpy(buf, name, l);
    }
    for (size_t i = 0; i < words; i++) {
        uint64_t w;
        std::memcpy(&w, buf + 8 * i, 8);
        w = lower8(w);
        std::memcpy(buf + 8 * i, &w, 8);
    }
    return luaS_newlstrhash(L, buf, l, luaS_hash(buf, l));
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
