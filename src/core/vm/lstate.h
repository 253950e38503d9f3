// Thread state, global state, call frames and the VM's memory accounting.
#pragma once
#include "core/vm/lobject.h"

// Call frame state bits.
#define CI_C 1         // native function
#define CI_HASFRAME 2  // script frame run by an interpreter loop (pc read through pcp)
#define CI_CALLING 4   // the interpreter is calling out of this frame
#define CI_SAVEDPC 8   // savedpc valid
#define CI_YIELD 16

struct CallInfo {
    StkId base;
    StkId top;
    int state;
    const Instruction *savedpc;     // next instruction to run
    const Instruction **pcp;        // the running interpreter's pc
    int tailcalls;
};

#define BASIC_CI_SIZE 8
#define BASIC_STACK_SIZE 45
#define EXTRA_STACK 6
#define LUAI_MAXCALLS 4096
#define LUAI_MAXCCALLS 200
#define LUAI_MAXCSTACK 2048

struct stringtable {
    GCObject **hash;
    uint64_t nuse;
    int size;
    int minsize; // collections shrink it no further
};

struct Mbuffer {
    char *buffer;
    size_t size;
};

// Event numbers of the 23 metamethods.
enum TMS {
    TM_INDEX, TM_NEWINDEX, TM_GC, TM_MODE, TM_EQ, TM_ADD, TM_SUB, TM_MUL, TM_DIV, TM_DIVINT,
    TM_MOD, TM_LSH, TM_RSH, TM_OR, TM_AND, TM_XOR, TM_POW, TM_UNM, TM_NOT, TM_LT, TM_LE,
    TM_CONCAT, TM_CALL, TM_N
};

struct lua_longjmp;

// A block that permanent objects are carved from.
struct PermBlock {
    PermBlock *next;
    size_t size;
};

struct global_State {
    stringtable strt;
    GCObject *rootgc;
    GCObject *rootudata;
    GCObject *tmudata;
    Mbuffer buff;
    size_t GCthreshold;
    size_t nblocks;
    lua_CFunction panic;
    TValue _registry;
    TValue _defaultmeta;
    lua_State *mainthread;
    Node dummynode[1];
    TString *tmname[TM_N];
    // While set, new strings and C functions without upvalues are fixed and
    // carved from permblocks instead of each taking a block of its own.
    lu_byte permanent;
    char *permnext;
    size_t permleft;
    PermBlock *permblocks;
};

struct lua_State : GCObject {
    StkId top;
    StkId base;
    global_State *l_G;
    CallInfo *ci;
    StkId stack_last;
    StkId stack;
    int stacksize;
    CallInfo *end_ci;
    CallInfo *base_ci;
    unsigned short size_ci;
    unsigned short nCcalls;
    lu_byte hookmask;
    lu_byte allowhook;
    lu_byte hookinit;
    int basehookcount;
    int hookcount;
    lua_Hook hook;
    TValue _gt;
    GCObject *openupval;
    GCObject *gclist;
    lua_longjmp *errorJmp;
    ptrdiff_t errfunc;
};

inline global_State *G(lua_State *L) { return L->l_G; }
inline TValue *registry(lua_State *L) { return &L->l_G->_registry; }
inline TValue *gt(lua_State *L) { return &L->_gt; }
inline Table *defaultmeta(lua_State *L) { return hvalue(&L->l_G->_defaultmeta); }

// Accounted sizes of the two state records: the count of bytes in use starts here.
#define STATE_RECORDS_SIZE 512

// Memory. Every VM block comes from the player's allocator.
void *luaM_realloc(lua_State *L, void *block, size_t oldsize, size_t size);
// Room for an object that lives as long as the state, carved from the
// permanent blocks (freed all at once when the state closes).
void *luaM_permanent(lua_State *L, size_t size);
void *luaM_growaux(lua_State *L, void *block, int *size, size_t size_elem, int limit, int errcode);
template <typename T> T *luaM_newvector(lua_State *L, size_t n) {
    if (n > (static_cast<size_t>(-1) / 2) / sizeof(T)) luaM_realloc(L, nullptr, 0, static_cast<size_t>(-1));
    return static_cast<T *>(luaM_realloc(L, nullptr, 0, n * sizeof(T)));
}
template <typename T> void luaM_freearray(lua_State *L, T *b, size_t n) { luaM_realloc(L, b, n * sizeof(T), 0); }
template <typename T> T *luaM_reallocvector(lua_State *L, T *b, size_t oldn, size_t n) {
    if (n > (static_cast<size_t>(-1) / 2) / sizeof(T)) luaM_realloc(L, nullptr, 0, static_cast<size_t>(-1));
    return static_cast<T *>(luaM_realloc(L, b, oldn * sizeof(T), n * sizeof(T)));
}
template <typename T> T *luaM_growvector(lua_State *L, T *v, int nelems, int *size, int limit, int errcode) {
    if (nelems + 1 > *size) v = static_cast<T *>(luaM_growaux(L, v, size, sizeof(T), limit, errcode));
    return v;
}

void luaE_freethread(lua_State *L, lua_State *L1);
void luaE_initstack(lua_State *L1, lua_State *L);
char *luaZ_openspace(lua_State *L, Mbuffer *buff, size_t n);
