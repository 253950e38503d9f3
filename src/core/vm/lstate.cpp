// Creating and closing states; the VM's memory accounting.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/vm/ldo.h"
#include "core/vm/qx_vmregs.h"
#include "core/vm/lfunc.h"
#include "core/vm/lgc.h"
#include "core/vm/lstring.h"
#include "core/vm/ltable.h"
#include "core/vm/ltm.h"
#include "platform/qx_memory.h"

#define MINSIZEARRAY 4

// Small blocks come and go in bulk (the strings of a line loop, records,
// closures; a collection frees hundreds at once), so freed blocks of up to
// 256 bytes wait in per-thread lists, one per size class, for the next
// request of their class instead of going back to malloc. A class keeps at
// least 64 KB and up to half the collection threshold, so that what one
// collection frees serves the allocations up to the next instead of going
// through malloc twice (with a large heap that was most of a closure's
// cost). Class c holds the
// sizes 16c - 7 .. 16c + 8 and its blocks are allocated at 16c + 8 bytes,
// so any block of a class fits any request of it, and malloc, which serves
// 8 bytes less than a multiple of 16 in each chunk, gives the class's
// largest size the same chunk as its smallest. In the GC stress mode
// nothing is kept, so that a block freed too early stays freed for the
// sanitizer.
namespace {

constexpr size_t kSmallLimit = 256;
constexpr size_t kClasses = (kSmallLimit + 7) / 16 + 1;
constexpr size_t kClassBytes = 64 * 1024;         // kept per class at least
constexpr size_t kClassBytesMax = 32 * 1024 * 1024; // and at most

struct FreeBlock {
    FreeBlock *next;
};

struct SmallBlocks {
    FreeBlock *list[kClasses] = {};
    size_t bytes[kClasses] = {};
    // At thread exit; a state closed later (from an exit handler) then
    // finds every list full and frees its blocks directly.
    ~SmallBlocks() {
        for (size_t c = 0; c < kClasses; c++) {
            for (FreeBlock *b = list[c]; b;) {
                FreeBlock *next = b->next;
                qxFree(b);
                b = next;
            }
            list[c] = nullptr;
            bytes[c] = SIZE_MAX;
        }
    }
};

thread_local SmallBlocks smallBlocks;

inline size_t sizeclass(size_t n) { return (n + 7) / 16; }
inline size_t classsize(size_t c) { return 16 * c + 8; }

void *allocblock(size_t size) {
    if (size > kSmallLimit) return qxAlloc(size, 0);
    size_t c = sizeclass(size);
    SmallBlocks &sb = smallBlocks;
    if (FreeBlock *b = sb.list[c]) {
        if (qxAllocFailNow()) return nullptr; // a reused block counts as an allocation too
        sb.list[c] = b->next;
        sb.bytes[c] -= classsize(c);
        return b;
    }
    return qxAlloc(classsize(c), 0);
}

void freeblock(void *block, size_t size, size_t keep) {
    if (size == 0 || size > kSmallLimit || qxVmGcStress) {
        qxFree(block);
        return;
    }
    size_t c = sizeclass(size);
    SmallBlocks &sb = smallBlocks;
    if (sb.bytes[c] >= keep) {
        qxFree(block);
        return;
    }
    FreeBlock *b = static_cast<FreeBlock *>(block);
    b->next = sb.list[c];
    sb.list[c] = b;
    sb.bytes[c] += classsize(c);
}

// How many bytes a size class may keep for the state's next allocations.
inline size_t keptlimit(lua_State *L) {
    if (L == nullptr || G(L) == nullptr) return kClassBytes;
    size_t half = G(L)->GCthreshold / 2;
    return half < kClassBytes ? kClassBytes : half > kClassBytesMax ? kClassBytesMax : half;
}

[[gnu::noinline]] void *reallocblock(lua_State *L, void *block, size_t oldsize, size_t size) {
    if (size == 0) {
        if (block) freeblock(block, oldsize, keptlimit(L));
        block = nullptr;
    } else if (size >= static_cast<size_t>(-1) / 2) {
        luaD_throw(L, 1000);
    } else if (block && oldsize > kSmallLimit && size > kSmallLimit) {
        // A large array grows in place or by remapping where the heap
        // allows, instead of being copied into a fresh block.
        void *nb = qxRealloc(block, size);
        if (nb == nullptr) luaD_throw(L, 1000);
        block = nb;
    } else {
        void *nb = allocblock(size);
        if (nb == nullptr) luaD_throw(L, 1000);
        if (block) {
            std::memcpy(nb, block, oldsize < size ? oldsize : size);
            freeblock(block, oldsize, keptlimit(L));
        }
        block = nb;
    }
    if (L && G(L)) G(L)->nblocks = G(L)->nblocks - oldsize + size;
    return block;
}

} // namespace

// Every new object and every freed one of a state comes here: a small
// block taken from or given to its class list stays clear of the general
// path and its register saves.
void *luaM_realloc(lua_State *L, void *block, size_t oldsize, size_t size) {
    if (L != nullptr && G(L) != nullptr) {
        SmallBlocks &sb = smallBlocks;
        if (block == nullptr && size - 1 < kSmallLimit) {
            size_t c = sizeclass(size);
            if (FreeBlock *b = sb.list[c]) {
                if (qxAllocFailNow()) luaD_throw(L, 1000); // a reused block counts as an allocation too
                sb.list[c] = b->next;
                sb.bytes[c] -= classsize(c);
                G(L)->nblocks = G(L)->nblocks - oldsize + size;
                return b;
            }
        } else if (size == 0 && block != nullptr && oldsize - 1 < kSmallLimit && !qxVmGcStress) {
            size_t c = sizeclass(oldsize);
            if (sb.bytes[c] < keptlimit(L)) {
                FreeBlock *b = static_cast<FreeBlock *>(block);
                b->next = sb.list[c];
                sb.list[c] = b;
                sb.bytes[c] += classsize(c);
                G(L)->nblocks -= oldsize;
                return nullptr;
            }
        }
    }
    return reallocblock(L, block, oldsize, size);
}

void *luaM_permanent(lua_State *L, size_t size) {
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
    void *p = g->permnext;
    g->permnext += size;
    g->permleft -= size;
    return p;
}

void *luaM_growaux(lua_State *L, void *block, int *size, size_t size_elem, int limit, int errcode) {
    int newsize;
    if (*size >= limit / 2) {
        if (*size >= limit - MINSIZEARRAY) luaG_raisecode(L, errcode);
        newsize = limit;
    } else {
        newsize = (*size) * 2;
        if (newsize < MINSIZEARRAY) newsize = MINSIZEARRAY;
    }
    void *nb = luaM_realloc(L, block, static_cast<size_t>(*size) * size_elem, static_cast<size_t>(newsize) * size_elem);
    *size = newsize;
    return nb;
}

char *luaZ_openspace(lua_State *L, Mbuffer *buff, size_t n) {
    if (n > buff->size) {
        if (n < 32) n = 32;
        buff->buffer = static_cast<char *>(luaM_realloc(L, buff->buffer, buff->size, n));
        buff->size = n;
    }
    return buff->buffer;
}

void luaE_initstack(lua_State *L1, lua_State *L) {
    L1->stack = luaM_newvector<TValue>(L, BASIC_STACK_SIZE);
    L1->stacksize = BASIC_STACK_SIZE;
    for (int i = 0; i < BASIC_STACK_SIZE; i++) setnilvalue(&L1->stack[i]);
    L1->top = L1->stack;
    L1->stack_last = L1->stack + (L1->stacksize - EXTRA_STACK);
    L1->base_ci = luaM_newvector<CallInfo>(L, BASIC_CI_SIZE);
    std::memset(static_cast<void *>(L1->base_ci), 0, sizeof(CallInfo) * BASIC_CI_SIZE);
    L1->ci = L1->base_ci;
    L1->ci->state = CI_C;
    setnilvalue(L1->top++); // the base frame's function slot
    L1->base = L1->ci->base = L1->top;
    L1->ci->top = L1->top + LUA_MINSTACK;
    L1->size_ci = BASIC_CI_SIZE;
    L1->end_ci = L1->base_ci + L1->size_ci;
}

static void freestack(lua_State *L, lua_State *L1) {
    luaM_freearray(L, L1->base_ci, L1->size_ci);
    luaM_freearray(L, L1->stack, static_cast<size_t>(L1->stacksize));
}

static void preinit_state(lua_State *L) {
    L->stack = nullptr;
    L->stacksize = 0;
    L->errorJmp = nullptr;
    L->hook = nullptr;
    L->hookmask = 0;
    L->hookinit = 0;
    L->basehookcount = 0;
    L->allowhook = 1;
    L->hookcount = 0;
    L->openupval = nullptr;
    L->size_ci = 0;
    L->nCcalls = 0;
    L->base_ci = L->ci = nullptr;
    L->end_ci = nullptr;
    L->errfunc = 0;
    L->gclist = nullptr;
    setnilvalue(gt(L));
}

static int default_panic(lua_State *) {
    std::fputs("Unprotected error in the script engine.\n", stderr);
    return 0;
}

static void f_luaopen(lua_State *L, void *) {
    global_State *g = static_cast<global_State *>(qxAlloc(sizeof(global_State), 1));
    if (g == nullptr) luaD_throw(L, 1000);
    L->l_G = g;
    g->mainthread = L;
    g->GCthreshold = 0; // no collection during initialisation
    g->nblocks = STATE_RECORDS_SIZE;
    g->panic = default_panic;
    g->strt.hash = nullptr;
    g->strt.size = 0;
    g->strt.nuse = 0;
    g->strt.minsize = 64;
    g->permanent = 0;
    g->permnext = nullptr;
    g->permleft = 0;
    g->permblocks = nullptr;
    setnilvalue(&g->_registry);
    setnilvalue(&g->_defaultmeta);
    setnilvalue(&g->dummynode->i_key);
    setnilvalue(&g->dummynode->i_val);
    g->dummynode->i_key.link = 0;
    luaE_initstack(L, L);
    Table *meta = luaH_new(L, 0, 0);
    sethvalue(&g->_defaultmeta, meta);
    meta->metatable = meta;
    sethvalue(gt(L), luaH_new(L, 0, 4));
    sethvalue(registry(L), luaH_new(L, 4, 4));
    luaS_resize(L, 32);
    luaT_init(L);
    TString *oom = luaS_new(L, "not enough memory");
    oom->reserved = 1;
    oom->marked |= FIXED_BIT;
    g->GCthreshold = qxVmGcStress ? 0 : 4 * g->nblocks;
}

static void close_state(lua_State *L) {
    global_State *g = G(L);
    luaF_close(L, L->stack);
    luaC_sweepall(L);
    if (g->strt.hash) luaS_freeall(L);
    luaM_freearray(L, g->buff.buffer, g->buff.size);
    g->buff.buffer = nullptr;
    if (L->stack) freestack(L, L);
    qxFree(g);
    qxFree(L);
}

extern "C" lua_State *lua_open(void) {
    lua_State *L = static_cast<lua_State *>(qxAlloc(sizeof(lua_State), 1));
    if (L == nullptr) return nullptr;
    L->tt = LUA_TTHREAD;
    L->marked = FIXED_BIT;
    L->next = nullptr;
    preinit_state(L);
    L->l_G = nullptr;
    if (luaD_rawrunprotected(L, f_luaopen, nullptr) != 0) {
        if (L->l_G) close_state(L);
        else qxFree(L);
        return nullptr;
    }
    return L;
}

void luaE_freethread(lua_State *L, lua_State *L1) {
    luaF_close(L1, L1->stack);
    freestack(L, L1);
    luaM_realloc(L, L1, sizeof(lua_State), 0);
}

static void callallgc(lua_State *L, void *) { luaC_callallgcTM(L); }

// Every userdata's __gc, as the state ends.
static lua_State *runallgc(lua_State *L) {
    L = G(L)->mainthread;
    luaF_close(L, L->stack);
    luaC_separateudata(L, 1);
    L->errfunc = 0;
    do {
        L->ci = L->base_ci;
        L->base = L->top = L->ci->base;
        L->nCcalls = 0;
    } while (luaD_rawrunprotected(L, callallgc, nullptr) != 0);
    return L;
}

extern "C" void lua_close(lua_State *L) { close_state(runallgc(L)); }

extern "C" void lua_closeatexit(lua_State *L) {
#ifdef QX_FREE_AT_EXIT
    lua_close(L);
#else
    runallgc(L);
    // Freeing every object and cached block one by one would only delay
    // the exit; the cache's thread-exit cleanup then finds nothing.
    SmallBlocks &sb = smallBlocks;
    for (size_t c = 0; c < kClasses; c++) {
        sb.list[c] = nullptr;
        sb.bytes[c] = SIZE_MAX;
    }
#endif
}
