// Tagged values and the collectable object records of the VM.
#pragma once
#include <cstddef>
#include <cstdint>
#if defined(__x86_64__)
#include <emmintrin.h>
#endif

#include "core/vm/lua.h"

typedef uint8_t lu_byte;
typedef uint32_t Instruction;

// Internal tags; never visible as script values.
#define LUA_TPROTO 9
#define LUA_TUPVAL 10

struct GCObject;
struct TString;
struct Table;
struct Proto;
struct UpVal;
struct Closure;

union Value {
    GCObject *gc;
    void *p;
    lua_Number n;
    int b;
};

struct TValue {
    uint32_t tt;
    // Padding, except in two places. A name constant of global reads and
    // writes keeps the node index where the name was last found (never
    // trusted unchecked); a table node's key keeps the link to the next node
    // of its chain, so that a node is 32 bytes. Values are copied by setobj,
    // which leaves these bytes alone.
    union {
        uint32_t hint;
        int32_t link;
    };
    Value value;
};
static_assert(sizeof(TValue) == 16, "values are 16 bytes in stacks and tables");

typedef TValue *StkId;

// Common header of every collectable object.
struct GCObject {
    GCObject *next;
    lu_byte tt;
    lu_byte marked;
};

struct TString : GCObject {
    lu_byte reserved;
    uint32_t hash;
    size_t len;
};
inline const char *getstr(const TString *ts) { return reinterpret_cast<const char *>(ts + 1); }
inline char *getstrw(TString *ts) { return reinterpret_cast<char *>(ts + 1); }

struct alignas(16) Udata : GCObject {
    Table *metatable;
    size_t len;
};
inline void *udata_block(Udata *u) { return u + 1; }

struct LocVar {
    TString *varname;
    int startpc; // first point where the variable is active
    int endpc;   // first point where it is dead
};

struct Proto : GCObject {
    TValue *k;
    int sizek;
    Instruction *code;
    int sizecode;
    Proto **p;
    int sizep;
    int *lineinfo;
    int sizelineinfo;
    LocVar *locvars;
    int sizelocvars;
    TString **upvalues;
    int sizeupvalues;
    TString *source;
    int linedefined;
    lu_byte nups;
    lu_byte numparams;
    lu_byte is_vararg;
    lu_byte maxstacksize;
    GCObject *gclist;
};

struct UpVal : GCObject {
    TValue *v;     // stack slot while open, &value once closed
    TValue value;
};

struct Closure : GCObject {
    lu_byte isC;
    lu_byte nupvalues;
    GCObject *gclist;
};

struct CClosure : Closure {
    lua_CFunction f;
    TValue upvalue[1];
};

struct LClosure : Closure {
    Proto *p;
    TValue g; // globals table
    UpVal *upvals[1];
};

inline size_t sizeCclosure(int n) { return sizeof(CClosure) + sizeof(TValue) * (n > 0 ? n - 1 : 0); }
inline size_t sizeLclosure(int n) { return sizeof(LClosure) + sizeof(UpVal *) * (n > 0 ? n - 1 : 0); }

// i_key.link: the next node of the chain as an offset in nodes, 0 at its end.
struct Node {
    TValue i_key;
    TValue i_val;
};
static_assert(sizeof(Node) == 32, "two nodes to a cache line");

inline Node *gnext(Node *n) { return n->i_key.link ? n + n->i_key.link : nullptr; }
inline const Node *gnext(const Node *n) { return n->i_key.link ? n + n->i_key.link : nullptr; }
// Both nodes in the same vector; to null ends the chain.
inline void setgnext(Node *n, const Node *to) { n->i_key.link = to ? static_cast<int32_t>(to - n) : 0; }

struct Table : GCObject {
    lu_byte flags; // bit e set: event e known to have no metamethod
    lu_byte lsizenode;
    // log2 of the nodes allocated in one block with the record (0: none);
    // t->node points at them until the first rehash.
    lu_byte lsizeinline;
    Table *metatable;
    TValue *array;
    Node *node;
    Node *firstfree;
    GCObject *gclist;
    int sizearray;
};

inline int sizenode(const Table *t) { return 1 << t->lsizenode; }

// Value access.
inline int ttype(const TValue *o) { return static_cast<int>(o->tt); }
inline bool ttisnil(const TValue *o) { return o->tt == LUA_TNIL; }
inline bool ttisnumber(const TValue *o) { return o->tt == LUA_TNUMBER; }
inline bool ttisstring(const TValue *o) { return o->tt == LUA_TSTRING; }
inline bool ttistable(const TValue *o) { return o->tt == LUA_TTABLE; }
inline bool ttisfunction(const TValue *o) { return o->tt == LUA_TFUNCTION; }
inline bool ttisboolean(const TValue *o) { return o->tt == LUA_TBOOLEAN; }
inline bool ttisuserdata(const TValue *o) { return o->tt == LUA_TUSERDATA; }
inline bool ttisthread(const TValue *o) { return o->tt == LUA_TTHREAD; }
inline bool ttislightuserdata(const TValue *o) { return o->tt == LUA_TLIGHTUSERDATA; }
inline bool iscollectable(const TValue *o) { return o->tt >= LUA_TSTRING; }

inline GCObject *gcvalue(const TValue *o) { return o->value.gc; }
inline lua_Number nvalue(const TValue *o) { return o->value.n; }
inline int bvalue(const TValue *o) { return o->value.b; }
inline void *pvalue(const TValue *o) { return o->value.p; }
inline TString *tsvalue(const TValue *o) { return static_cast<TString *>(o->value.gc); }
inline Table *hvalue(const TValue *o) { return static_cast<Table *>(o->value.gc); }
inline Closure *clvalue(const TValue *o) { return static_cast<Closure *>(o->value.gc); }
inline CClosure *cclvalue(const TValue *o) { return static_cast<CClosure *>(o->value.gc); }
inline LClosure *lclvalue(const TValue *o) { return static_cast<LClosure *>(o->value.gc); }
inline Udata *uvalue(const TValue *o) { return static_cast<Udata *>(o->value.gc); }
inline lua_State *thvalue(const TValue *o) { return reinterpret_cast<lua_State *>(o->value.gc); }
inline const char *svalue(const TValue *o) { return getstr(tsvalue(o)); }

inline void setnilvalue(TValue *o) { o->tt = LUA_TNIL; o->value.p = nullptr; }
inline void setnvalue(TValue *o, lua_Number n) { o->tt = LUA_TNUMBER; o->value.n = n; }
inline void setbvalue(TValue *o, int b) { o->tt = LUA_TBOOLEAN; o->value.p = nullptr; o->value.b = b; }
inline void setpvalue(TValue *o, void *p) { o->tt = LUA_TLIGHTUSERDATA; o->value.p = p; }
inline void setgcvalue(TValue *o, GCObject *g, int tt) { o->tt = static_cast<uint32_t>(tt); o->value.gc = g; }
inline void setsvalue(TValue *o, TString *s) { setgcvalue(o, s, LUA_TSTRING); }
inline void sethvalue(TValue *o, Table *t) { setgcvalue(o, t, LUA_TTABLE); }
inline void setclvalue(TValue *o, Closure *c) { setgcvalue(o, c, LUA_TFUNCTION); }
inline void setuvalue(TValue *o, Udata *u) { setgcvalue(o, u, LUA_TUSERDATA); }
// Field by field: a value just written as a tag and a number forwards to
// loads of the same sizes, where a 16-byte copy would wait for both stores.
inline void setobj(TValue *dst, const TValue *src) {
    dst->tt = src->tt;
    dst->value = src->value;
}

inline bool iscfunction(const TValue *o) { return ttisfunction(o) && clvalue(o)->isC; }

// Script truth: nil, false, 0 (either sign) and "" are false.
inline bool l_isfalse(const TValue *o) {
    switch (o->tt) {
    case LUA_TNIL: return true;
    case LUA_TBOOLEAN: return o->value.b == 0;
    case LUA_TNUMBER: return o->value.n == 0;
    case LUA_TSTRING: return tsvalue(o)->len == 0;
    default: return false;
    }
}

// A number cut toward zero to 64 bits; NaN and values out of range give
// INT64_MIN. One conversion serves the array index and the 32-bit integer
// operations, which then only test the result's range.
inline int64_t luaO_trunc64(lua_Number n) {
#if defined(__x86_64__)
    return _mm_cvttsd_si64(_mm_set_sd(n));
#else
    return (n >= -9223372036854775808.0 && n < 9223372036854775808.0) ? static_cast<int64_t>(n) : INT64_MIN;
#endif
}

extern const TValue luaO_nilobject;

int luaO_rawequalObj(const TValue *t1, const TValue *t2);
int luaO_str2d(const char *s, lua_Number *result);
void luaO_num2str(lua_Number n, char buf[32]);
void luaO_chunkid(char *out, const char *source, int bufflen);
int luaO_log2(unsigned int x);
