// Hybrid tables: integer keys 1..n in the array part, the rest in a chained
// hash part with Brent's variation (a colliding key out of its main position moves).
#include <cmath>
#include <cstring>

#include "core/vm/ldo.h"
#include "core/vm/lgc.h"
#include "core/vm/lstring.h"
#include "core/vm/ltable.h"

static inline Node *gnode(const Table *t, int i) { return &t->node[i]; }

// The largest hash part (log2) that may share the record's block.
#define MAXINLINE 3

// n modulo ((size - 1) | 1) by multiplication: there is one divisor per
// hash size, so its 64-bit reciprocal is fixed in advance (exact for every
// 32-bit n; a divisor of 1 has the reciprocal 0 and gives 0).
struct ModReciprocals {
    uint64_t m[MAXBITS + 1];
    constexpr ModReciprocals() : m() {
        for (int k = 0; k <= MAXBITS; k++) m[k] = UINT64_MAX / (((1u << k) - 1) | 1u) + 1;
    }
};
static constexpr ModReciprocals modrecip;

static Node *hashmod(const Table *t, uint32_t n) {
    uint32_t d = (static_cast<uint32_t>(sizenode(t)) - 1) | 1u;
    uint64_t low = modrecip.m[t->lsizenode] * n;
    auto r = static_cast<uint32_t>((static_cast<unsigned __int128>(low) * d) >> 64);
    return gnode(t, static_cast<int>(r));
}

static Node *hashnum(const Table *t, lua_Number n) {
    lua_Number x = n + 1.0;
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    uint32_t sum = static_cast<uint32_t>(bits) + static_cast<uint32_t>(bits >> 32);
    return hashmod(t, sum);
}

Node *luaH_mainposition(const Table *t, const TValue *key) {
    switch (key->tt) {
    case LUA_TNUMBER: return hashnum(t, nvalue(key));
    case LUA_TSTRING: return gnode(t, static_cast<int>(tsvalue(key)->hash & static_cast<uint32_t>(sizenode(t) - 1)));
    case LUA_TBOOLEAN: return gnode(t, bvalue(key) & (sizenode(t) - 1));
    default: return hashmod(t, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key->value.p)));
    }
}

// Index of an integer key valid for the array part, else -1.
static int arrayindex(const TValue *key) {
    if (ttisnumber(key)) {
        lua_Number n = nvalue(key);
        if (n >= 1 && n <= static_cast<lua_Number>(1 << MAXBITS)) {
            int k = static_cast<int>(n);
            if (static_cast<lua_Number>(k) == n) return k;
        }
    }
    return -1;
}

const TValue *luaH_getnum(Table *t, int key) {
    if (static_cast<unsigned>(key - 1) < static_cast<unsigned>(t->sizearray)) return &t->array[key - 1];
    lua_Number nk = static_cast<lua_Number>(key);
    for (Node *n = hashnum(t, nk); n; n = gnext(n))
        if (ttisnumber(&n->i_key) && nvalue(&n->i_key) == nk) return &n->i_val;
    return &luaO_nilobject;
}

static const TValue *getany(Table *t, const TValue *key) {
    for (Node *n = luaH_mainposition(t, key); n; n = gnext(n))
        if (luaO_rawequalObj(&n->i_key, key)) return &n->i_val;
    return &luaO_nilobject;
}

const TValue *luaH_get(Table *t, const TValue *key) {
    switch (key->tt) {
    case LUA_TNIL: return luaH_getnum(t, 0);
    case LUA_TSTRING: return luaH_getstr(t, tsvalue(key));
    case LUA_TNUMBER: {
        lua_Number n = nvalue(key);
        if (n >= INT32_MIN && n <= INT32_MAX) {
            int k = static_cast<int>(n);
            if (static_cast<lua_Number>(k) == n) return luaH_getnum(t, k);
        }
        return getany(t, key);
    }
    default: return getany(t, key);
    }
}

// Sizes and rehash.

static void setarrayvector(lua_State *L, Table *t, int size) {
    t->array = luaM_reallocvector<TValue>(L, t->array, static_cast<size_t>(t->sizearray), static_cast<size_t>(size));
    for (int i = t->sizearray; i < size; i++) setnilvalue(&t->array[i]);
    t->sizearray = size;
}

static Node *inlinenodes(Table *t) { return reinterpret_cast<Node *>(t + 1); }
static size_t tableblock(int lsizeinline) { return sizeof(Table) + (lsizeinline ? sizeof(Node) << lsizeinline : 0); }

// Whether the node vector must be freed apart from the record.
static bool separatenodes(lua_State *L, Table *t) { return t->node != G(L)->dummynode && t->node != inlinenodes(t); }

static void setnodevector(lua_State *L, Table *t, int lsize) {
    if (lsize > MAXBITS) luaG_raisecode(L, 1207);
    if (lsize == 0) {
        t->node = G(L)->dummynode;
        t->lsizenode = 0;
        t->firstfree = t->node; // no free node
        return;
    }
    int size = 1 << lsize;
    // The record's own nodes when they fit and are not the vector being replaced.
    bool reuse = lsize == t->lsizeinline && t->node != inlinenodes(t);
    t->node = reuse ? inlinenodes(t) : luaM_newvector<Node>(L, static_cast<size_t>(size));
    for (int i = 0; i < size; i++) {
        setnilvalue(&t->node[i].i_key);
        setnilvalue(&t->node[i].i_val);
        t->node[i].i_key.link = 0;
    }
    t->lsizenode = static_cast<lu_byte>(lsize);
    t->firstfree = t->node + size; // free nodes are searched downward from here
}

// Slice index of integer key k: ceil(log2(k)).
static int keyslice(int k) { return luaO_log2(static_cast<unsigned>(k - 1)) + 1; }

static int countkey(const TValue *key, int *nums) {
    int k = arrayindex(key);
    if (k > 0) { nums[keyslice(k)]++; return 1; }
    return 0;
}

static TValue *newkey(lua_State *L, Table *t, const TValue *key);

static void rehash(lua_State *L, Table *t, const TValue *extrakey) {
    int nums[MAXBITS + 1] = {};
    int nasize = 0;   // integer keys 1..2^24 in use
    int totaluse = 0;
    // array part, slice by slice
    for (int lg = 0, ttlg = 1, i = 1; lg <= MAXBITS; lg++, ttlg *= 2) {
        int lim = ttlg < t->sizearray ? ttlg : t->sizearray;
        for (; i <= lim; i++)
            if (!ttisnil(&t->array[i - 1])) nums[lg]++;
        nasize += nums[lg];
        if (i > t->sizearray) break;
    }
    totaluse = nasize;
    for (int i = sizenode(t) - 1; i >= 0; i--) {
        Node *n = gnode(t, i);
        if (!ttisnil(&n->i_val)) {
            nasize += countkey(&n->i_key, nums);
            totaluse++;
        }
    }
    if (extrakey) {
        nasize += countkey(extrakey, nums);
        totaluse++;
    }
    // largest n (power of two) with more than n/2 of the keys 1..n in use
    int a = 0, na = 0, newasize = 0;
    for (int i = 0, twotoi = 1; i <= MAXBITS && twotoi / 2 < nasize; i++, twotoi *= 2) {
        if (nums[i] > 0) {
            a += nums[i];
            if (a > twotoi / 2) { newasize = twotoi; na = a; }
        }
    }
    int hashuse = totaluse - na;
    int lsize = luaO_log2(static_cast<unsigned>(hashuse)) + 1;
    // resize
    int oldasize = t->sizearray;
    int oldhsize = t->lsizenode;
    Node *nold = t->node;
    bool oldseparate = separatenodes(L, t);
    bool olddummy = (nold == G(L)->dummynode);
    if (newasize > oldasize) setarrayvector(L, t, newasize);
    setnodevector(L, t, lsize);
    if (newasize < oldasize) {
        t->sizearray = newasize; // entries beyond go to the hash part
        for (int i = newasize; i < oldasize; i++)
            if (!ttisnil(&t->array[i])) setobj(luaH_setnum(L, t, i + 1), &t->array[i]);
        t->array = luaM_reallocvector<TValue>(L, t->array, static_cast<size_t>(oldasize), static_cast<size_t>(newasize));
    }
    if (!olddummy) {
        for (int i = (1 << oldhsize) - 1; i >= 0; i--) {
            Node *old = nold + i;
            if (ttisnil(&old->i_val)) continue;
            // Every key is new to the fresh vectors: no lookup before the insertion.
            TValue *slot = luaH_arrayslot(t, &old->i_key);
            if (slot == nullptr) slot = newkey(L, t, &old->i_key);
            setobj(slot, &old->i_val);
        }
        if (oldseparate) luaM_freearray(L, nold, static_cast<size_t>(1) << oldhsize);
    }
}

static Node *getfreepos(Table *t) {
    while (t->firstfree > t->node) {
        t->firstfree--;
        if (ttisnil(&t->firstfree->i_key)) return t->firstfree;
    }
    return nullptr;
}

// The slot of a new key whose main position mp is known.
static TValue *newkeyat(lua_State *L, Table *t, const TValue *key, Node *mp) {
    if (t->node == G(L)->dummynode) {
        rehash(L, t, key);
        return luaH_set(L, t, key);
    }
    if (!ttisnil(&mp->i_val)) { // main position taken
        Node *n = getfreepos(t);
        if (n == nullptr) {
            rehash(L, t, key);
            return luaH_set(L, t, key);
        }
        Node *othern = luaH_mainposition(t, &mp->i_key);
        if (othern != mp) {
            // the colliding key is out of its main position: move it to the free node
            while (gnext(othern) != mp) othern = gnext(othern);
            setgnext(othern, n);
            *n = *mp;
            setgnext(n, gnext(mp)); // the link is relative to its node
            mp->i_key.link = 0;
            setnilvalue(&mp->i_val);
        } else {
            setgnext(n, gnext(mp));
            setgnext(mp, n);
            mp = n;
        }
    }
    setobj(&mp->i_key, key);
    return &mp->i_val;
}

static TValue *newkey(lua_State *L, Table *t, const TValue *key) { return newkeyat(L, t, key, luaH_mainposition(t, key)); }

TValue *luaH_set(lua_State *L, Table *t, const TValue *key) {
    const TValue *p = luaH_get(t, key);
    t->flags = 0;
    if (p != &luaO_nilobject) return const_cast<TValue *>(p);
    return luaH_setnew(L, t, key);
}

TValue *luaH_setnew(lua_State *L, Table *t, const TValue *key) {
    t->flags = 0;
    if (ttisnil(key)) {
        TValue k;
        setnvalue(&k, 0);
        return newkey(L, t, &k);
    }
    if (ttisnumber(key) && std::isnan(nvalue(key))) luaG_raisecode(L, 1208);
    return newkey(L, t, key);
}

TValue *luaH_setnum(lua_State *L, Table *t, int key) {
    const TValue *p = luaH_getnum(t, key);
    if (p != &luaO_nilobject) return const_cast<TValue *>(p);
    TValue k;
    setnvalue(&k, static_cast<lua_Number>(key));
    t->flags = 0;
    return newkey(L, t, &k);
}

TValue *luaH_setstr(lua_State *L, Table *t, TString *key) {
    t->flags = 0;
    // The chain searched starts at the main position a new key takes.
    Node *mp = gnode(t, static_cast<int>(key->hash & static_cast<uint32_t>(sizenode(t) - 1)));
    for (Node *n = mp; n; n = gnext(n))
        if (ttisstring(&n->i_key) && tsvalue(&n->i_key) == key) return &n->i_val;
    TValue k;
    setsvalue(&k, key);
    return newkeyat(L, t, &k, mp);
}

// Traversal position of a key: array index, then sizearray + node index.
static int findindex(lua_State *L, Table *t, StkId key) {
    if (ttisnil(key)) return -1;
    int k = arrayindex(key);
    if (k > 0 && k <= t->sizearray) return k - 1;
    const TValue *v = luaH_get(t, key);
    if (v == &luaO_nilobject) luaG_raisecode(L, 1206);
    const Node *n = reinterpret_cast<const Node *>(reinterpret_cast<const char *>(v) - offsetof(Node, i_val));
    return static_cast<int>(n - t->node) + t->sizearray;
}

int luaH_next(lua_State *L, Table *t, StkId key) {
    int i = findindex(L, t, key);
    for (i++; i < t->sizearray; i++) {
        if (!ttisnil(&t->array[i])) {
            setnvalue(key, static_cast<lua_Number>(i + 1));
            setobj(key + 1, &t->array[i]);
            return 1;
        }
    }
    for (i -= t->sizearray; i < sizenode(t); i++) {
        if (!ttisnil(&t->node[i].i_val)) {
            setobj(key, &t->node[i].i_key);
            setobj(key + 1, &t->node[i].i_val);
            return 1;
        }
    }
    return 0;
}

Table *luaH_new(lua_State *L, int narray, int lnhash) {
    if (narray < 0 || narray > (1 << MAXBITS) || lnhash < 0 || lnhash > MAXBITS) luaG_raisecode(L, 1207);
    // A small hash part asked for at creation (a record built by a
    // constructor) comes in the record's own block: one allocation instead
    // of two, and the nodes next to the header.
    int lsizeinline = lnhash <= MAXINLINE ? lnhash : 0;
    Table *t = static_cast<Table *>(luaM_realloc(L, nullptr, 0, tableblock(lsizeinline)));
    t->flags = 0;
    t->lsizenode = 0;
    t->lsizeinline = static_cast<lu_byte>(lsizeinline);
    t->metatable = ttistable(&G(L)->_defaultmeta) ? defaultmeta(L) : nullptr;
    t->array = nullptr;
    t->sizearray = 0;
    t->node = G(L)->dummynode;
    t->firstfree = t->node;
    t->gclist = nullptr;
    luaC_link(L, t, LUA_TTABLE);
    setarrayvector(L, t, narray);
    setnodevector(L, t, lnhash);
    return t;
}

void luaH_free(lua_State *L, Table *t) {
    if (separatenodes(L, t)) luaM_freearray(L, t->node, static_cast<size_t>(sizenode(t)));
    luaM_freearray(L, t->array, static_cast<size_t>(t->sizearray));
    luaM_realloc(L, t, tableblock(t->lsizeinline), 0);
}
