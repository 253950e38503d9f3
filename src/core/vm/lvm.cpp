// The bytecode interpreter.
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdint>

#include "core/vm/ldo.h"
#include "core/vm/lfunc.h"
#include "core/vm/lgc.h"
#include "core/vm/lopcodes.h"
#include "core/vm/lstring.h"
#include "core/vm/ltable.h"
#include "core/vm/ltm.h"
#include "core/vm/lvm.h"
#include "core/vm/qx_vmregs.h"

const char *const luaP_opnames[NUM_OPCODES] = {
    "MOVE", "LOADK", "LOADNUM", "LOADNIL", "GETUPVAL", "GETGLOBAL", "GETTABLE", "SETGLOBAL", "SETUPVAL",
    "SETTABLE", "NEWTABLE", "ADD", "SUB", "MUL", "DIV", "IDIV", "MOD", "SHL", "SHR", "BOR", "BAND",
    "BXOR", "POW", "UNM", "NOT", "BNOT", "CONCAT", "JMP", "EQ", "LT", "LE", "TEST", "CALL", "TAILCALL",
    "RETURN", "FORLOOP", "TFORLOOP", "TFORPREP", "SETLIST", "SETLISTO", "CLOSE", "CLOSURE", "SELF",
    "CALLSTATUS", "TAILCALLSTATUS"};

static const Instruction *gosubStack[QX_GOSUB_DEPTH];
int qxVmGosubCount = 0;
int qxVmLineHookStride = 1;
int qxVmPollOnRequest = 0;
int qxVmEveryLine = 0;
lua_CFunction qxVmNextItem = nullptr;

namespace {
// The table every interpreter fetches its next handler from: the handlers
// themselves, or the trace table whose every entry runs the trace step
// first. Other threads switch it to the trace table (qxVmRequestTrace);
// the trace step switches it back.
std::atomic<const void *const *> vmdisp{nullptr};
std::atomic<const void *const *> vmtracetable{nullptr};
} // namespace

void qxVmRequestTrace(void) {
    if (const void *const *t = vmtracetable.load(std::memory_order_acquire)) vmdisp.store(t, std::memory_order_relaxed);
}

[[gnu::cold, gnu::noinline]] static int32_t outofrange() { return INT32_MIN; }

// Truncation toward zero to 32 bits as the x86 conversion does it
// (out-of-range values give the integer indefinite). The range test is a
// branch, which predicts well; the call keeps the compiler from making it a
// select, which would sit on the path from the operand to the division.
static inline int32_t toint32(lua_Number x) {
    int64_t v = luaO_trunc64(x);
    if (v != static_cast<int32_t>(v)) [[unlikely]]
        return outofrange();
    return static_cast<int32_t>(v);
}

// Negative: the 32-bit truncation's bits; otherwise the low 32 bits of the
// 64-bit truncation (0 from 2^63 on, where trunc64 gives INT64_MIN).
static inline uint32_t touint32(lua_Number x) {
    int64_t v = luaO_trunc64(x);
    if (x < 0 && v != static_cast<int32_t>(v)) return 0x80000000u;
    return static_cast<uint32_t>(v);
}

static inline lua_Number arithop(lua_State *L, TMS op, lua_Number b, lua_Number c) {
    switch (op) {
    case TM_ADD: return b + c;
    case TM_SUB: return b - c;
    case TM_MUL: return b * c;
    case TM_DIV:
        if (c == 0.0) luaG_raisecode(L, 1089);
        return b / c;
    case TM_DIVINT: {
        int32_t d = toint32(c);
        if (d == 0) luaG_raisecode(L, 1089);
        // by -1 in 64 bits: the most negative dividend would overflow 32
        if (d == -1) return static_cast<lua_Number>(-static_cast<int64_t>(toint32(b)));
        return static_cast<lua_Number>(toint32(b) / d);
    }
    case TM_MOD: {
        int32_t d = toint32(c);
        if (d == 0) luaG_raisecode(L, 1089);
        if (d == -1) return 0;
        return static_cast<lua_Number>(toint32(b) % d);
    }
    case TM_LSH: return static_cast<lua_Number>(touint32(b) << (toint32(c) & 31));
    case TM_RSH: return static_cast<lua_Number>(touint32(b) >> (toint32(c) & 31));
    case TM_OR: return static_cast<lua_Number>(touint32(b) | touint32(c));
    case TM_AND: return static_cast<lua_Number>(touint32(b) & touint32(c));
    case TM_XOR: return static_cast<lua_Number>(touint32(b) ^ touint32(c));
    case TM_POW: return std::pow(b, c);
    default: return 0;
    }
}

static bool call_binTM(lua_State *L, const TValue *p1, const TValue *p2, StkId res, TMS event) {
    const TValue *tm = luaT_gettmbyobj(L, p1, event);
    if (tm == nullptr) tm = luaT_gettmbyobj(L, p2, event);
    if (tm == nullptr) return false;
    ptrdiff_t r = savestack(L, res);
    TValue v;
    luaV_callTMres(L, &v, tm, p1, p2);
    setobj(restorestack(L, r), &v);
    return true;
}

static void Arith(lua_State *L, StkId ra, const TValue *rb, const TValue *rc, TMS op) {
    TValue tempb, tempc;
    const TValue *b, *c;
    if ((b = luaV_tonumber(rb, &tempb)) != nullptr && (c = luaV_tonumber(rc, &tempc)) != nullptr) {
        setnvalue(ra, arithop(L, op, nvalue(b), nvalue(c)));
    } else if (!call_binTM(L, rb, rc, ra, op)) {
        luaG_raisecode(L, 1030);
    }
}

// Count and line hooks before the instruction just fetched (pc is past it);
// returns how many instructions may pass before the next call. The line
// hook runs at the first instruction of a function, after a backward jump
// and when the line differs from the previous instruction's; ci->savedpc
// keeps the previous instruction for that comparison while tracked is set.
// After a line hook call the next qxVmLineHookStride - 1 instructions pass
// untraced; the first traced one after them only notes its place, so the
// hook runs again at the next line start.
static int traceexec(lua_State *L, const Instruction *pc, bool tracked) {
    lu_byte mask = L->hookmask;
    int next = 1;
    if (mask & LUA_MASKCOUNT) {
        if (--L->hookcount == 0) {
            L->hookcount = L->basehookcount;
            luaD_callhook(L, LUA_HOOKCOUNT, -1);
        }
    }
    if (mask & LUA_MASKLINE) {
        CallInfo *ci = L->ci; // read after the count hook: it may move the frame array
        Proto *p = ci_proto(ci);
        int npc = static_cast<int>(pc - p->code) - 1;
        if (!L->hookinit) {
            luaG_inithooks(L);
        } else if (npc == 0 ||
                   (tracked && (pc <= ci->savedpc ||
                                luaG_getline(p, npc) != luaG_getline(p, static_cast<int>(ci->savedpc - p->code) - 1)))) {
            luaD_callhook(L, LUA_HOOKLINE, luaG_getline(p, npc));
            if (!(L->hookmask & LUA_MASKCOUNT) && qxVmLineHookStride > 1 && !qxVmEveryLine) next = qxVmLineHookStride;
        }
        L->ci->savedpc = pc;
    }
    return next;
}

static void pushgosub(lua_State *L, const Instruction *ret) {
    if (qxVmGosubCount >= QX_GOSUB_DEPTH) luaG_raisecode(L, 1066);
    gosubStack[qxVmGosubCount++] = ret;
}

// Instruction index of p counted from start, without assuming one array.
static inline int32_t codeindex(const Instruction *p, const Instruction *start) {
    return static_cast<int32_t>((reinterpret_cast<intptr_t>(p) - reinterpret_cast<intptr_t>(start)) /
                                static_cast<intptr_t>(sizeof(Instruction)));
}

static inline bool incode(const Proto *p, const Instruction *pc) {
    return pc >= p->code && pc < p->code + p->sizecode;
}

// A field by name, also through one __index table (the method lookup of
// an object); nil sends the caller to luaV_gettable for the full rules.
static inline const TValue *indexstr(lua_State *L, Table *h, TString *key) {
    const TValue *v = luaH_getstr(h, key);
    Table *mt = h->metatable;
    if (!ttisnil(v) || mt == nullptr || (mt->flags & (1u << TM_INDEX))) return v;
    const TValue *tm = luaH_getstr(mt, G(L)->tmname[TM_INDEX]);
    return ttistable(tm) ? luaH_getstr(hvalue(tm), key) : v;
}

// Whether stores into h's empty slots bypass __newindex, as far as the
// metatable's absence cache knows (the slow path fills the cache).
static inline bool nonewindex(const Table *h) {
    const Table *mt = h->metatable;
    return mt == nullptr || (mt->flags & (1u << TM_NEWINDEX));
}

#define RA(i) (base + GETARG_A(i))
#define RB(i) (base + GETARG_B(i))
#define RKB(i) (GETARG_B(i) < MAXSTACK ? base + GETARG_B(i) : k + (GETARG_B(i) - MAXSTACK))
#define RKC(i) (GETARG_C(i) < MAXSTACK ? base + GETARG_C(i) : k + (GETARG_C(i) - MAXSTACK))
#define KBx(i) (k + GETARG_Bx(i))
// Hooks and the abort flag can only change while the interpreter calls
// out (or when another thread asks for the trace step), so they are looked
// at after each call-out (hooksync) rather than before every instruction:
// the trace step runs before an instruction only while the trace table is
// in place. While hooks are on it stays in place, counting the budget of
// instructions before the next hook call, except in the stretches where
// the line hook waits for a request (qxVmPollOnRequest).
#define hooksync()                                                                  \
    {                                                                               \
        bool on = (L->hookmask & (LUA_MASKLINE | LUA_MASKCOUNT)) != 0;              \
        if (on != hooked) {                                                         \
            hooked = on;                                                            \
            hookbudget = 1;                                                         \
            untraced = false;                                                       \
        }                                                                           \
        if (qxVmAbort || (hooked && !untraced)) vmdisp.store(tracedispatch, std::memory_order_relaxed); \
    }
#define Protect(x) { x; base = L->base; hooksync(); }
#define dojump(pc) ((pc) += 1 + GETARG_J(*(pc)))
// Fetch, then on to the next instruction's handler (or its trace step).
#define vmbreak                                                                    \
    {                                                                              \
        i = *pc++;                                                                 \
        pcmem = pc;                                                                \
        ra = RA(i);                                                                \
        goto *vmdisp.load(std::memory_order_relaxed)[GET_OPCODE(i)];               \
    }

// A GC step inside a frame: registers above a short top stay alive.
static void framegc(lua_State *L) {
    if (G(L)->nblocks < G(L)->GCthreshold) return;
    ptrdiff_t top = savestack(L, L->top);
    if (L->top < L->ci->top) L->top = L->ci->top;
    luaC_collectgarbage(L);
    L->top = restorestack(L, top);
}

#define arith_case(OPC, EV)                                                     \
    L_##OPC: {                                                                  \
        const TValue *rb = RKB(i), *rc = RKC(i);                                \
        if (ttisnumber(rb) && ttisnumber(rc)) {                                 \
            setnvalue(ra, arithop(L, EV, nvalue(rb), nvalue(rc)));             \
        } else                                                                  \
            Protect(Arith(L, ra, rb, rc, EV));                                  \
        vmbreak;                                                                \
    }

StkId luaV_execute(lua_State *L) {
    LClosure *cl;
    TValue *k;
    StkId base;
    // pc stays in a register; pcmem, which debug and error code read through
    // ci->pcp, follows it at every fetch (and wherever a handler moves pc
    // before calling out).
    const Instruction *pc;
    const Instruction *pcmem = nullptr;
    // Whether line or count hooks are on; instructions left before the next
    // hook check; whether ci->savedpc holds the previous instruction.
    bool hooked = false;
    int hookbudget = 0;
    bool tracked = true;
    // Whether the line hook's stride runs untraced until a request.
    bool untraced = false;
    const Instruction *startcode = ci_proto(L->ci)->code;
    Instruction i;
    StkId ra;
    // Threaded dispatch: one indirect jump per handler predicts better than
    // a shared switch.
    static const void *const dispatch[64] = {
        &&L_OP_MOVE, &&L_OP_LOADK, &&L_OP_LOADNUM, &&L_OP_LOADNIL, &&L_OP_GETUPVAL, &&L_OP_GETGLOBAL,
        &&L_OP_GETTABLE, &&L_OP_SETGLOBAL, &&L_OP_SETUPVAL, &&L_OP_SETTABLE, &&L_OP_NEWTABLE, &&L_OP_ADD,
        &&L_OP_SUB, &&L_OP_MUL, &&L_OP_DIV, &&L_OP_IDIV, &&L_OP_MOD, &&L_OP_SHL, &&L_OP_SHR, &&L_OP_BOR,
        &&L_OP_BAND, &&L_OP_BXOR, &&L_OP_POW, &&L_OP_UNM, &&L_OP_NOT, &&L_OP_BNOT, &&L_OP_CONCAT, &&L_OP_JMP,
        &&L_OP_EQ, &&L_OP_LT, &&L_OP_LE, &&L_OP_TEST, &&L_OP_CALL, &&L_OP_TAILCALL, &&L_OP_RETURN,
        &&L_OP_FORLOOP, &&L_OP_TFORLOOP, &&L_OP_TFORPREP, &&L_OP_SETLIST, &&L_OP_SETLISTO, &&L_OP_CLOSE,
        &&L_OP_CLOSURE, &&L_OP_SELF, &&L_OP_CALLSTATUS, &&L_OP_TAILCALLSTATUS,
        &&L_IGNORED, &&L_IGNORED, &&L_IGNORED, &&L_IGNORED, &&L_IGNORED, &&L_IGNORED, &&L_IGNORED,
        &&L_IGNORED, &&L_IGNORED, &&L_IGNORED, &&L_IGNORED, &&L_IGNORED, &&L_IGNORED, &&L_IGNORED,
        &&L_IGNORED, &&L_IGNORED, &&L_IGNORED, &&L_IGNORED, &&L_IGNORED};
    static_assert(NUM_OPCODES == 45, "one handler per opcode in the dispatch table");
#define TRACE8 &&L_TRACE, &&L_TRACE, &&L_TRACE, &&L_TRACE, &&L_TRACE, &&L_TRACE, &&L_TRACE, &&L_TRACE
    static const void *const tracedispatch[64] = {TRACE8, TRACE8, TRACE8, TRACE8, TRACE8, TRACE8, TRACE8, TRACE8};
#undef TRACE8
    if (vmtracetable.load(std::memory_order_relaxed) == nullptr) [[unlikely]] {
        const void *const *none = nullptr;
        vmdisp.compare_exchange_strong(none, dispatch);
        vmtracetable.store(tracedispatch, std::memory_order_release);
    }
callentry:
retentry:
    L->ci->state = CI_HASFRAME;
    L->ci->pcp = &pcmem;
    pc = L->ci->savedpc;
    cl = lclvalue(L->base - 1);
    k = cl->p->k;
    base = L->base;
    hooksync();
    for (;;) {
        vmbreak; // every handler ends by fetching and dispatching the next instruction
        {
        L_OP_MOVE: setobj(ra, RB(i)); vmbreak;
        L_OP_LOADK: setobj(ra, KBx(i)); vmbreak;
        L_OP_LOADNUM:
            setnvalue(ra, static_cast<lua_Number>(GETARG_B(i)));
            if (GETARG_C(i)) pc++;
            vmbreak;
        L_OP_LOADNIL: {
            for (StkId rb = RB(i); ra <= rb; ra++) setnilvalue(ra);
            vmbreak;
        }
        L_OP_GETUPVAL: setobj(ra, cl->upvals[GETARG_B(i)]->v); vmbreak;
        L_OP_GETGLOBAL: {
            const TValue *v = luaH_getglobal(hvalue(&cl->g), KBx(i));
            if (v != nullptr) setobj(ra, v);
            else {
                TValue key = *KBx(i);
                Protect(luaV_gettable(L, &cl->g, &key, ra, 0));
            }
            vmbreak;
        }
        L_OP_GETTABLE: {
            StkId rb = RB(i);
            TValue *rc = RKC(i);
            if (ttistable(rb)) {
                Table *h = hvalue(rb);
                const TValue *v = ttisstring(rc) ? indexstr(L, h, tsvalue(rc)) : luaH_arrayslot(h, rc);
                if (v == nullptr) v = luaH_get(h, rc);
                if (!ttisnil(v)) { setobj(ra, v); vmbreak; }
            }
            Protect(luaV_gettable(L, rb, rc, ra, 1));
            vmbreak;
        }
        L_OP_SETGLOBAL: {
            // A global holding a value takes the new one directly (no
            // __newindex applies to it).
            Table *g = hvalue(&cl->g);
            TValue *slot = luaH_getglobal(g, KBx(i));
            if (slot != nullptr) {
                setobj(slot, ra);
                g->flags = 0;
                vmbreak;
            }
            TValue key = *KBx(i);
            Protect(luaV_settable(L, &cl->g, &key, ra));
            vmbreak;
        }
        L_OP_SETUPVAL: setobj(cl->upvals[GETARG_B(i)]->v, ra); vmbreak;
        L_OP_SETTABLE: {
            TValue *rb = RKB(i);
            // A slot in use takes the value directly, and so does an empty
            // array slot while no __newindex watches the table.
            if (ttistable(ra)) {
                Table *h = hvalue(ra);
                TValue *slot;
                bool direct;
                if (ttisstring(rb)) {
                    slot = const_cast<TValue *>(luaH_getstr(h, tsvalue(rb)));
                    direct = !ttisnil(slot) || (slot != &luaO_nilobject && nonewindex(h));
                } else {
                    slot = luaH_arrayslot(h, rb);
                    direct = slot != nullptr && (!ttisnil(slot) || nonewindex(h));
                }
                if (direct) {
                    setobj(slot, RKC(i));
                    h->flags = 0;
                    vmbreak;
                }
            }
            Protect(luaV_settable(L, ra, rb, RKC(i)));
            vmbreak;
        }
        L_OP_NEWTABLE: {
            int b = GETARG_B(i);
            int shift = b >> 3;
            if ((b & 7) != 0 && shift > MAXBITS) luaG_raisecode(L, 1207);
            int64_t asize = static_cast<int64_t>(b & 7) << shift;
            if (asize > (1 << MAXBITS)) luaG_raisecode(L, 1207);
            sethvalue(ra, luaH_new(L, static_cast<int>(asize), GETARG_C(i)));
            Protect(framegc(L));
            vmbreak;
        }
        arith_case(OP_ADD, TM_ADD)
        arith_case(OP_SUB, TM_SUB)
        arith_case(OP_MUL, TM_MUL)
        arith_case(OP_DIV, TM_DIV)
        arith_case(OP_IDIV, TM_DIVINT)
        arith_case(OP_MOD, TM_MOD)
        arith_case(OP_SHL, TM_LSH)
        arith_case(OP_SHR, TM_RSH)
        arith_case(OP_BOR, TM_OR)
        arith_case(OP_BAND, TM_AND)
        arith_case(OP_BXOR, TM_XOR)
        arith_case(OP_POW, TM_POW)
        L_OP_UNM: {
            StkId rb = RB(i);
            TValue temp;
            const TValue *n = luaV_tonumber(rb, &temp);
            if (n != nullptr) {
                setnvalue(ra, -nvalue(n));
            } else {
                bool ok;
                Protect(ok = call_binTM(L, rb, &luaO_nilobject, ra, TM_UNM));
                if (!ok) luaG_raisecode(L, 1030);
            }
            vmbreak;
        }
        L_OP_NOT: setnvalue(ra, l_isfalse(RB(i)) ? 1 : 0); vmbreak;
        L_OP_BNOT: {
            StkId rb = RB(i);
            TValue temp;
            const TValue *n = luaV_tonumber(rb, &temp);
            if (n != nullptr) {
                setnvalue(ra, static_cast<lua_Number>(~touint32(nvalue(n))));
            } else {
                bool ok;
                Protect(ok = call_binTM(L, rb, &luaO_nilobject, ra, TM_NOT));
                if (!ok) luaG_raisecode(L, 1030);
            }
            vmbreak;
        }
        L_OP_CONCAT: {
            int b = GETARG_B(i);
            int c = GETARG_C(i);
            Protect(luaV_concat(L, c - b + 1, c));
            setobj(base + GETARG_A(i), base + b);
            Protect(framegc(L));
            vmbreak;
        }
        L_OP_JMP:
            if (GETARG_JKIND(i) == JMP_GOSUB) pushgosub(L, pc);
            pc += GETARG_J(i);
            vmbreak;
        L_OP_EQ: {
            const TValue *rb = RKB(i), *rc = RKC(i);
            int res;
            if (ttisnumber(rb) && ttisnumber(rc)) res = nvalue(rb) == nvalue(rc);
            else Protect(res = luaV_equalval(L, rb, rc));
            if (res != GETARG_A(i)) pc++;
            else dojump(pc);
            vmbreak;
        }
        L_OP_LT: {
            const TValue *rb = RKB(i), *rc = RKC(i);
            int res;
            if (ttisnumber(rb) && ttisnumber(rc)) res = nvalue(rb) < nvalue(rc);
            else Protect(res = luaV_lessthan(L, rb, rc, 1));
            if (res != GETARG_A(i)) pc++;
            else dojump(pc);
            vmbreak;
        }
        L_OP_LE: {
            const TValue *rb = RKB(i), *rc = RKC(i);
            int res;
            if (ttisnumber(rb) && ttisnumber(rc)) res = nvalue(rb) <= nvalue(rc);
            else Protect(res = luaV_lessequal(L, rb, rc));
            if (res != GETARG_A(i)) pc++;
            else dojump(pc);
            vmbreak;
        }
        L_OP_TEST: {
            StkId rb = RB(i);
            if (static_cast<int>(l_isfalse(rb)) == GETARG_C(i)) {
                pc++;
            } else {
                setobj(ra, rb);
                dojump(pc);
            }
            vmbreak;
        }
        L_OP_CALL:
        L_OP_CALLSTATUS: {
            int b = GETARG_B(i);
            if (b != 0) L->top = ra + b;
            // A fixed-argument script function without a call hook, whose
            // frame fits: entered here, as luaD_precall would (a status call
            // only differs for commands).
            if (!ttisfunction(ra) || clvalue(ra)->isC || (L->hookmask & LUA_MASKCALL)) goto callgeneric;
            Proto *p = static_cast<LClosure *>(clvalue(ra))->p;
            CallInfo *ci = L->ci;
            if (p->is_vararg || ci + 1 == L->end_ci) goto callgeneric;
            StkId nbase = ra + 1;
            StkId top = L->top;
            if (top > nbase + p->numparams) top = nbase + p->numparams; // surplus arguments are dropped
            if (L->stack_last - top <= p->maxstacksize) goto callgeneric;
            ci->savedpc = pc;
            ci->state = CI_SAVEDPC | CI_CALLING;
            L->ci = ++ci;
            L->base = ci->base = nbase;
            StkId ftop = nbase + p->maxstacksize;
            ci->top = ftop;
            ci->savedpc = p->code;
            ci->tailcalls = 0;
            while (top < ftop) setnilvalue(top++);
            L->top = ftop;
            ci->state = CI_HASFRAME;
            ci->pcp = &pcmem;
            pc = p->code;
            cl = lclvalue(ra);
            k = p->k;
            base = nbase;
            vmbreak;
        }
        L_OP_TAILCALL:
        L_OP_TAILCALLSTATUS: {
            int b = GETARG_B(i);
            if (b != 0) L->top = ra + b;
        }
        // Only commands read the call position (a Gosub to a label), and
        // they are all called from here.
        callgeneric: {
            qxVmCallPosition = codeindex(pc, startcode);
            int op = GET_OPCODE(i);
            int nresults = GETARG_C(i) - 1;
            int r = luaD_precall(L, ra, nresults, op == OP_CALLSTATUS || op == OP_TAILCALLSTATUS);
            if (r == PCRLUA) {
                if (op == OP_CALL || op == OP_CALLSTATUS) {
                    (L->ci - 1)->savedpc = pc;
                    (L->ci - 1)->state = CI_SAVEDPC | CI_CALLING;
                } else {
                    // the callee takes over the caller's frame
                    CallInfo *ci = L->ci - 1;
                    if (L->openupval) luaF_close(L, ci->base);
                    StkId func = ci->base - 1;
                    StkId pfunc = L->ci->base - 1;
                    int aux = 0;
                    for (; pfunc + aux < L->top; aux++) setobj(func + aux, pfunc + aux);
                    L->top = func + aux;
                    ci->base = func + 1;
                    ci->top = ci->base + lclvalue(func)->p->maxstacksize;
                    ci->savedpc = L->ci->savedpc;
                    ci->tailcalls++;
                    ci->state = CI_SAVEDPC;
                    L->ci = ci;
                    L->base = ci->base;
                }
                goto callentry;
            }
            base = L->base;
            hooksync();
            if (r == PCRGOSUB1 || r == PCRGOSUB2) {
                pushgosub(L, r == PCRGOSUB1 ? pc : pc - 2);
                const Instruction *target = pc + qxVmLabelOffset;
                if (!incode(cl->p, target)) luaG_raisecode(L, 1203);
                pc = target;
                L->top = L->ci->top;
                vmbreak;
            }
            if (nresults >= 0) L->top = L->ci->top;
            vmbreak;
        }
        L_OP_RETURN: {
            if (GETARG_C(i) == 1) { // Gosub return
                if (qxVmGosubCount <= 0) luaG_raisecode(L, 1040);
                const Instruction *target = gosubStack[--qxVmGosubCount];
                if (!incode(cl->p, target)) luaG_raisecode(L, 1040);
                pc = target;
                vmbreak;
            }
            int b = GETARG_B(i);
            if (b != 0) L->top = ra + b - 1;
            if (L->openupval) luaF_close(L, base);
            CallInfo *ci = L->ci;
            ci->state = CI_SAVEDPC;
            ci->savedpc = pc;
            CallInfo *pci = ci - 1;
            if (!(pci->state & CI_CALLING)) return ra;
            int nresults = GETARG_C(*(pci->savedpc - 1)) - 1;
            if (L->hookmask & LUA_MASKRET) {
                luaD_poscall(L, nresults, ra);
            } else { // luaD_poscall without the return hook
                StkId res = L->base - 1;
                StkId top = L->top;
                L->ci = pci;
                L->base = pci->base;
                int wanted = nresults;
                for (; wanted != 0 && ra < top; wanted--) setobj(res++, ra++);
                for (; wanted > 0; wanted--) setnilvalue(res++);
                L->top = nresults >= 0 ? pci->top : res;
                // back in the caller's frame, as at retentry
                pci->state = CI_HASFRAME;
                pci->pcp = &pcmem;
                pc = pci->savedpc;
                base = pci->base;
                cl = lclvalue(base - 1);
                k = cl->p->k;
                vmbreak;
            }
            if (nresults >= 0) L->top = L->ci->top;
            goto retentry;
        }
        L_OP_FORLOOP: {
            if (!ttisnumber(ra)) luaG_raisecode(L, 1024);
            TValue tl, ts;
            const TValue *plimit = ra + 1, *pstep = ra + 2;
            if (!ttisnumber(plimit) || !ttisnumber(pstep)) {
                plimit = luaV_tonumber(ra + 1, &tl);
                pstep = luaV_tonumber(ra + 2, &ts);
                if (plimit == nullptr || pstep == nullptr) luaG_raisecode(L, 1024);
            }
            lua_Number step = nvalue(pstep);
            lua_Number idx = nvalue(ra) + step;
            lua_Number limit = nvalue(plimit);
            if (step > 0 ? idx <= limit : idx >= limit) {
                pc += GETARG_sBx(i);
                setnvalue(ra, idx);
            }
            vmbreak;
        }
        L_OP_TFORLOOP: {
            int c = GETARG_C(i);
            StkId cb = ra + c + 3;
            setobj(cb, ra);
            setobj(cb + 1, ra + 1);
            setobj(cb + 2, ra + 2);
            L->top = cb + 3;
            Protect(luaD_call(L, cb, c + 1));
            L->top = L->ci->top;
            ra = RA(i);
            cb = ra + c + 3;
            for (int j = 0; j <= c; j++) setobj(ra + 2 + j, cb + j);
            if (ttisnil(ra + 2)) pc++;
            else dojump(pc);
            vmbreak;
        }
        L_OP_TFORPREP:
            if (ttistable(ra)) {
                setobj(ra + 1, ra);
                TValue key;
                setsvalue(&key, luaS_newlstr(L, "next", 4));
                Protect(luaV_gettable(L, &cl->g, &key, RA(i), 0));
                // No library registers "next": without the script's own the
                // loop walks the table with NextItem.
                if (ttisnil(RA(i)) && qxVmNextItem != nullptr) {
                    CClosure *walker = static_cast<CClosure *>(luaF_newCclosure(L, 0));
                    walker->f = qxVmNextItem;
                    setclvalue(RA(i), walker);
                    Protect(framegc(L));
                }
            }
            pc += GETARG_sBx(i);
            vmbreak;
        L_OP_SETLIST:
        L_OP_SETLISTO: {
            int bc = GETARG_Bx(i);
            int n = (GET_OPCODE(i) == OP_SETLIST) ? (bc & 31) + 1 : static_cast<int>(L->top - ra) - 1;
            if (!ttistable(ra)) luaG_raisecode(L, 1203);
            if (GET_OPCODE(i) == OP_SETLISTO) L->top = L->ci->top;
            bc &= ~31;
            Table *h = hvalue(ra);
            for (; n > 0; n--) {
                TValue *val = ra + n;
                setobj(luaH_setnum(L, h, bc + n - 1), val);
            }
            vmbreak;
        }
        L_OP_CLOSE:
            luaF_close(L, ra);
            if (qxVmAbort) return nullptr;
            vmbreak;
        L_OP_CLOSURE: {
            Proto *p = cl->p->p[GETARG_Bx(i)];
            int nup = p->nups;
            LClosure *ncl = static_cast<LClosure *>(luaF_newLclosure(L, nup, &cl->g));
            ncl->p = p;
            for (int j = 0; j < nup; j++, pc++) {
                if (GET_OPCODE(*pc) == OP_GETUPVAL) ncl->upvals[j] = cl->upvals[GETARG_B(*pc)];
                else ncl->upvals[j] = luaF_findupval(L, base + GETARG_B(*pc));
            }
            setclvalue(ra, ncl);
            pcmem = pc;
            Protect(framegc(L));
            vmbreak;
        }
        L_OP_SELF: {
            StkId rb = RB(i);
            TValue *rc = RKC(i);
            if (!ttisstring(rc)) luaG_raisecode(L, 1203);
            setobj(ra + 1, rb);
            if (ttistable(rb)) {
                const TValue *v = indexstr(L, hvalue(rb), tsvalue(rc));
                if (!ttisnil(v)) { setobj(ra, v); vmbreak; }
            }
            Protect(luaV_gettable(L, ra + 1, rc, ra, 0));
            vmbreak;
        }
        L_IGNORED: vmbreak; // opcodes above 44 are ignored
        // The trace step before an instruction: the abort flag, then the
        // hooks. The table goes back to the handlers first, so that a
        // request made from here on is kept.
        L_TRACE:
            // counting down between hook calls, traced all the way
            if (hooked && !untraced && hookbudget > 1 && !qxVmAbort) {
                hookbudget--;
                goto *dispatch[GET_OPCODE(i)];
            }
            vmdisp.store(dispatch, std::memory_order_relaxed);
            if (qxVmAbort) {
                vmdisp.store(tracedispatch, std::memory_order_relaxed); // for the interpreters below this one
                return nullptr;
            }
            if (hooked) {
                if (untraced) { // a request ends the untraced stretch
                    untraced = false;
                    hookbudget = 1;
                }
                if (--hookbudget <= 0) {
                    hookbudget = traceexec(L, pc, tracked);
                    tracked = hookbudget == 1;
                    base = L->base;
                    ra = RA(i);
                }
                untraced = hookbudget > 1 && qxVmPollOnRequest && !(L->hookmask & LUA_MASKCOUNT);
                hooksync();
            }
            goto *dispatch[GET_OPCODE(i)];
        }
    }
}
