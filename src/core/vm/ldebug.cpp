// Debug interface: frames, lines, names, locals, hooks; the code checker; raising errors.
#include <cstdio>
#include <cstring>

#include "core/errors/qx_errors.h"
#include "core/vm/ldo.h"
#include "core/vm/lfunc.h"
#include "core/vm/lopcodes.h"
#include "core/vm/lstring.h"
#include "core/vm/ltable.h"
#include "core/vm/qx_cmderror.h"
#include "core/vm/qx_vmregs.h"

static char lastErrorText[QX_ERRORSTRING_SIZE];

void luaG_seterrortext(const char *text) {
    std::snprintf(lastErrorText, sizeof lastErrorText, "%s", text ? text : "");
    qxSetErrorString(text);
}

const char *luaG_lasterrortext(void) { return lastErrorText; }

int luaG_currentpc(CallInfo *ci) {
    if (!isLua(ci)) return -1;
    const Instruction *pc = (ci->state & CI_HASFRAME) && ci->pcp ? *ci->pcp : ci->savedpc;
    return static_cast<int>(pc - ci_proto(ci)->code) - 1;
}

int luaG_currentline(lua_State *, CallInfo *ci) {
    int pc = luaG_currentpc(ci);
    if (pc < 0 && !isLua(ci)) return -1;
    return luaG_getline(ci_proto(ci), pc);
}

void luaG_inithooks(lua_State *L) {
    for (CallInfo *ci = L->ci; ci != L->base_ci; ci--)
        if ((ci->state & CI_HASFRAME) && ci->pcp) ci->savedpc = *ci->pcp;
    L->hookinit = 1;
}

void luaG_raisecode(lua_State *L, int code) {
    qxVmErrorLine = isLua(L->ci) ? luaG_currentline(L, L->ci) : -1;
    qxRecordErrorFunction(L);
    luaD_throw(L, code);
}

void luaG_raisetext(lua_State *L, int code, const char *text) {
    luaG_seterrortext(text);
    luaG_raisecode(L, code);
}

// Code checker

static bool checkreg(const Proto *pt, int r) { return r >= 0 && r < pt->maxstacksize; }
static bool checkrk(const Proto *pt, int r) { return r < MAXSTACK ? checkreg(pt, r) : r - MAXSTACK < pt->sizek; }
static bool checkjump(const Proto *pt, int dest) { return dest >= 0 && dest < pt->sizecode; }

// Registers A..A+n-1 must exist.
static bool checkspan(const Proto *pt, int a, int n) { return n <= 0 || (a >= 0 && a + n <= pt->maxstacksize); }

int luaG_checkcode(const Proto *pt) {
    if (pt->maxstacksize > MAXSTACK) return 0;
    if (pt->numparams + (pt->is_vararg ? 1 : 0) > pt->maxstacksize) return 0;
    if (pt->sizelineinfo != pt->sizecode && pt->sizelineinfo != 0) return 0;
    if (pt->sizecode == 0 || GET_OPCODE(pt->code[pt->sizecode - 1]) != OP_RETURN) return 0;
    for (int pc = 0; pc < pt->sizecode; pc++) {
        Instruction i = pt->code[pc];
        int op = GET_OPCODE(i);
        int a = GETARG_A(i), b = GETARG_B(i), c = GETARG_C(i), bx = GETARG_Bx(i);
        bool nextIsJump = pc + 1 < pt->sizecode && GET_OPCODE(pt->code[pc + 1]) == OP_JMP;
        bool ok = true;
        switch (op) {
        case OP_MOVE: ok = checkreg(pt, a) && checkreg(pt, b); break;
        case OP_LOADK: ok = checkreg(pt, a) && bx < pt->sizek; break;
        case OP_LOADNUM: ok = checkreg(pt, a) && (c == 0 || pc + 2 < pt->sizecode); break;
        case OP_LOADNIL: ok = checkreg(pt, a) && (b < a || checkreg(pt, b)); break;
        case OP_GETUPVAL:
        case OP_SETUPVAL: ok = checkreg(pt, a) && b < pt->nups; break;
        case OP_GETGLOBAL:
        case OP_SETGLOBAL: ok = checkreg(pt, a) && bx < pt->sizek && ttisstring(&pt->k[bx]); break;
        case OP_GETTABLE: ok = checkreg(pt, a) && checkreg(pt, b) && checkrk(pt, c); break;
        case OP_SETTABLE: ok = checkreg(pt, a) && checkrk(pt, b) && checkrk(pt, c); break;
        case OP_NEWTABLE: ok = checkreg(pt, a); break;
        case OP_ADD: case OP_SUB: case OP_MUL: case OP_DIV: case OP_IDIV: case OP_MOD:
        case OP_SHL: case OP_SHR: case OP_BOR: case OP_BAND: case OP_BXOR: case OP_POW:
            ok = checkreg(pt, a) && checkrk(pt, b) && checkrk(pt, c);
            break;
        case OP_UNM: case OP_NOT: case OP_BNOT: ok = checkreg(pt, a) && checkreg(pt, b); break;
        case OP_CONCAT: ok = checkreg(pt, a) && b <= c && checkreg(pt, c); break;
        case OP_JMP: ok = checkjump(pt, pc + 1 + GETARG_J(i)); break;
        case OP_EQ: case OP_LT: case OP_LE: ok = checkrk(pt, b) && checkrk(pt, c) && nextIsJump; break;
        case OP_TEST: ok = checkreg(pt, a) && checkreg(pt, b) && nextIsJump; break;
        case OP_CALL: case OP_TAILCALL: case OP_CALLSTATUS: case OP_TAILCALLSTATUS:
            ok = checkreg(pt, a) && (b == 0 || checkspan(pt, a, b)) && (c == 0 || checkspan(pt, a, c - 1));
            break;
        case OP_RETURN: ok = c == 1 || (b == 0 ? a <= pt->maxstacksize : a + b - 1 <= pt->maxstacksize); break;
        case OP_FORLOOP: ok = checkspan(pt, a, 3) && checkjump(pt, pc + 1 + GETARG_sBx(i)); break;
        case OP_TFORLOOP: ok = checkspan(pt, a, c + 6) && nextIsJump; break;
        case OP_TFORPREP: ok = checkspan(pt, a, 2) && checkjump(pt, pc + 1 + GETARG_sBx(i)); break;
        case OP_SETLIST: ok = checkspan(pt, a, (bx & 31) + 2); break;
        case OP_SETLISTO: ok = checkreg(pt, a); break;
        case OP_CLOSE: ok = a <= pt->maxstacksize; break;
        case OP_CLOSURE: {
            ok = checkreg(pt, a) && bx < pt->sizep;
            if (!ok) break;
            int nup = pt->p[bx]->nups;
            if (pc + nup >= pt->sizecode) return 0;
            for (int j = 1; j <= nup; j++) {
                Instruction u = pt->code[pc + j];
                int uop = GET_OPCODE(u);
                if (!checkreg(pt, GETARG_A(u))) return 0; // also safe when run as an instruction
                if (uop == OP_GETUPVAL) { if (GETARG_B(u) >= pt->nups) return 0; }
                else if (uop == OP_MOVE) { if (!checkreg(pt, GETARG_B(u))) return 0; }
                else return 0;
            }
            pc += nup; // skip the pseudo-instructions
            break;
        }
        case OP_SELF: ok = checkspan(pt, a, 2) && checkreg(pt, b) && checkrk(pt, c); break;
        default: break; // opcodes above 44 are ignored when run
        }
        if (!ok) return 0;
    }
    return 1;
}

// Names

// The instruction before lastpc that last set register reg (following forward jumps).
static int findsetreg(const Proto *p, int lastpc, int reg) {
    int setpc = -1;
    for (int pc = 0; pc < lastpc; pc++) {
        Instruction i = p->code[pc];
        int op = GET_OPCODE(i);
        int a = GETARG_A(i);
        switch (op) {
        case OP_LOADNIL:
            if (a <= reg && reg <= GETARG_B(i)) setpc = pc;
            break;
        case OP_TFORLOOP:
            if (reg >= a + 2) setpc = pc;
            break;
        case OP_CALL: case OP_TAILCALL: case OP_CALLSTATUS: case OP_TAILCALLSTATUS:
            if (reg >= a) setpc = pc;
            break;
        case OP_JMP: {
            int dest = pc + 1 + GETARG_J(i);
            if (pc < dest && dest <= lastpc && GETARG_JKIND(i) != JMP_GOSUB) pc = dest - 1;
            break;
        }
        case OP_CLOSURE:
            if (a == reg) setpc = pc;
            if (GETARG_Bx(i) < p->sizep) pc += p->p[GETARG_Bx(i)]->nups;
            break;
        case OP_SELF:
            if (reg == a || reg == a + 1) setpc = pc;
            break;
        case OP_SETGLOBAL: case OP_SETUPVAL: case OP_SETTABLE: case OP_SETLIST: case OP_SETLISTO:
        case OP_EQ: case OP_LT: case OP_LE: case OP_CLOSE: case OP_FORLOOP: case OP_RETURN:
        case OP_TFORPREP:
            break;
        default:
            if (a == reg && op < NUM_OPCODES) setpc = pc; // ignored opcodes set nothing
            break;
        }
    }
    return setpc;
}

static const char *kname(const Proto *p, int c) {
    if (c >= MAXSTACK && ttisstring(&p->k[c - MAXSTACK])) return svalue(&p->k[c - MAXSTACK]);
    return "?";
}

static const char *getobjname(CallInfo *ci, int stackpos, const char **name, int depth = 0) {
    if (!isLua(ci) || depth > 20) return nullptr;
    const Proto *p = ci_proto(ci);
    int pc = luaG_currentpc(ci);
    if (pc < 0) return nullptr;
    *name = luaF_getlocalname(p, stackpos + 1, pc);
    if (*name) return "local";
    int setpc = findsetreg(p, pc, stackpos);
    if (setpc < 0) return nullptr;
    Instruction i = p->code[setpc];
    switch (GET_OPCODE(i)) {
    case OP_GETGLOBAL:
        *name = svalue(&p->k[GETARG_Bx(i)]);
        return "global";
    case OP_MOVE:
        if (GETARG_B(i) < GETARG_A(i)) return getobjname(ci, GETARG_B(i), name, depth + 1);
        break;
    case OP_GETTABLE:
        *name = kname(p, GETARG_C(i));
        return "field";
    case OP_SELF:
        *name = kname(p, GETARG_C(i));
        return "method";
    default: break;
    }
    return nullptr;
}

static const char *getfuncname(CallInfo *ci, const char **name) {
    if ((isLua(ci) && ci->tailcalls > 0) || !isLua(ci - 1)) return nullptr;
    ci--;
    int pc = luaG_currentpc(ci);
    if (pc < 0) return nullptr;
    Instruction i = ci_proto(ci)->code[pc];
    int op = GET_OPCODE(i);
    if (op == OP_CALL || op == OP_TAILCALL || op == OP_CALLSTATUS || op == OP_TAILCALLSTATUS)
        return getobjname(ci, GETARG_A(i), name);
    return nullptr;
}

// A global whose value is the function, for functions called from native code.
static const char *globalname(lua_State *L, const TValue *f) {
    if (!ttistable(gt(L))) return nullptr;
    Table *g = hvalue(gt(L));
    for (int i = 0; i < sizenode(g); i++) {
        Node *n = &g->node[i];
        if (ttisstring(&n->i_key) && luaO_rawequalObj(&n->i_val, f)) return svalue(&n->i_key);
    }
    return nullptr;
}

void luaG_typeerror(lua_State *L, const TValue *o, int code, const char *suffix) {
    const char *name = nullptr;
    CallInfo *ci = L->ci;
    if (isLua(ci) && o >= ci->base && o < ci->top) getobjname(ci, static_cast<int>(o - ci->base), &name);
    char buf[256];
    std::snprintf(buf, sizeof buf, "%.200s%s", name ? name : "??", suffix);
    luaG_raisetext(L, code, buf);
}

// Interface

static void funcinfo(lua_Debug *ar, const TValue *func) {
    Closure *cl = clvalue(func);
    if (cl->isC) {
        ar->source = "=[C]";
        ar->linedefined = -1;
        ar->what = "C";
    } else {
        Proto *p = static_cast<LClosure *>(cl)->p;
        ar->source = p->source ? getstr(p->source) : "=?";
        ar->linedefined = p->linedefined;
        ar->what = (ar->linedefined == 0) ? "main" : "Zephyrane";
    }
    luaO_chunkid(ar->short_src, ar->source, LUA_IDSIZE);
}

extern "C" int lua_getstack(lua_State *L, int level, lua_Debug *ar) {
    CallInfo *ci;
    for (ci = L->ci; level > 0 && ci > L->base_ci; ci--) {
        level--;
        if (!(ci->state & CI_C)) level -= ci->tailcalls;
    }
    if (level > 0 || ci == L->base_ci) return 0;
    ar->i_ci = level < 0 ? 0 : static_cast<int>(ci - L->base_ci);
    return 1;
}

extern "C" int lua_getinfo(lua_State *L, const char *what, lua_Debug *ar) {
    StkId f = nullptr;
    CallInfo *ci = nullptr;
    TValue func;
    if (*what == '>') {
        if (L->top <= L->base || !ttisfunction(L->top - 1)) {
            qxSetErrorNumber(1);
            luaG_raisecode(L, 1185);
        }
        func = *(L->top - 1);
        f = &func;
        L->top--;
        what++;
    } else if (ar->i_ci != 0) {
        ci = L->base_ci + ar->i_ci;
        func = *(ci->base - 1);
        f = &func;
    }
    int status = 1;
    for (; *what; what++) {
        switch (*what) {
        case 'S':
            if (f == nullptr) {
                ar->source = "=(tail call)";
                ar->linedefined = -1;
                ar->what = "tail";
                luaO_chunkid(ar->short_src, ar->source, LUA_IDSIZE);
            } else {
                funcinfo(ar, f);
            }
            break;
        case 'l': ar->currentline = ci ? luaG_currentline(L, ci) : -1; break;
        case 'u': ar->nups = f ? clvalue(f)->nupvalues : 0; break;
        case 'n':
            ar->namewhat = ci ? getfuncname(ci, &ar->name) : nullptr;
            if (ar->namewhat == nullptr) {
                ar->name = f ? globalname(L, f) : nullptr;
                ar->namewhat = ar->name ? "global" : "";
            }
            break;
        case 'f':
            luaD_checkstack(L, 1);
            if (f) setobj(L->top, f);
            else setnilvalue(L->top);
            L->top++;
            break;
        default: status = 0;
        }
    }
    return status;
}

extern "C" int lua_sethook(lua_State *L, lua_Hook func, int mask, int count) {
    if (func == nullptr || mask == 0) {
        mask = 0;
        func = nullptr;
    }
    L->hook = func;
    L->basehookcount = count;
    L->hookcount = count;
    L->hookmask = static_cast<lu_byte>(mask);
    L->hookinit = 0;
    return 1;
}

extern "C" lua_Hook lua_gethook(lua_State *L) { return L->hook; }
extern "C" int lua_gethookmask(lua_State *L) { return L->hookmask; }
extern "C" int lua_gethookcount(lua_State *L) { return L->basehookcount; }
