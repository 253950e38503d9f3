// Call machinery, errors, protected execution, hooks and the debug interface.
#pragma once
#include "core/vm/lstate.h"

// A protected call record; throws unwind to the innermost one.
struct lua_longjmp {
    lua_longjmp *previous;
    volatile int status;
};

// What is thrown: the record that catches it.
struct luaD_Throw {
    lua_longjmp *target;
};

typedef void (*Pfunc)(lua_State *L, void *ud);

inline ptrdiff_t savestack(lua_State *L, const TValue *p) { return reinterpret_cast<const char *>(p) - reinterpret_cast<const char *>(L->stack); }
inline TValue *restorestack(lua_State *L, ptrdiff_t n) { return reinterpret_cast<TValue *>(reinterpret_cast<char *>(L->stack) + n); }

[[noreturn]] void luaD_throw(lua_State *L, int errcode);
int luaD_rawrunprotected(lua_State *L, Pfunc f, void *ud);
int luaD_pcall(lua_State *L, Pfunc func, void *u, ptrdiff_t oldtop, ptrdiff_t ef);

// Outcome of luaD_precall. For a native function the frame is already popped
// and its results (nil-filled to nresults) sit at the function slot.
#define PCRLUA -3   // a script frame was entered; the interpreter must run it
#define PCRDONE 0   // a native function ran
#define PCRGOSUB1 -1 // the command asks for a Gosub back to the call
#define PCRGOSUB2 -2 // the command asks for a Gosub back to the instruction before the call

// A command's error code in a plain call has gone through the command-error
// policy before luaD_precall returns (PCRDONE, no results).
int luaD_precall(lua_State *L, StkId func, int nresults, int status);
void luaD_poscall(lua_State *L, int wanted, StkId firstResult);
void luaD_call(lua_State *L, StkId func, int nResults);
void luaD_callhook(lua_State *L, int event, int line);
void luaD_reallocstack(lua_State *L, int newsize);
void luaD_reallocCI(lua_State *L, int newsize);
void luaD_growstack(lua_State *L, int n);
inline void luaD_checkstack(lua_State *L, int n) {
    if (reinterpret_cast<char *>(L->stack_last) - reinterpret_cast<char *>(L->top) <= static_cast<ptrdiff_t>(n * sizeof(TValue)))
        luaD_growstack(L, n);
}
int luaD_protectedparser(lua_State *L, struct ZIO *z);

// Debug interface and error raising.
[[noreturn]] void luaG_raisecode(lua_State *L, int code);
[[noreturn]] void luaG_raisetext(lua_State *L, int code, const char *text);
[[noreturn]] void luaG_typeerror(lua_State *L, const TValue *o, int code, const char *suffix);
int luaG_checkcode(const Proto *pt);
// Source line of instruction pc (-1 without line information).
inline int luaG_getline(const Proto *f, int pc) {
    if (f->lineinfo == nullptr || f->sizelineinfo == 0) return -1;
    if (pc < 0) pc = 0;
    if (pc >= f->sizelineinfo) pc = f->sizelineinfo - 1;
    return f->lineinfo[pc];
}
int luaG_currentline(lua_State *L, CallInfo *ci);
int luaG_currentpc(CallInfo *ci);
void luaG_inithooks(lua_State *L);
// The "%s" of the next message; the VM keeps a copy of the latest one.
void luaG_seterrortext(const char *text);
const char *luaG_lasterrortext(void);

inline Proto *ci_proto(CallInfo *ci) { return lclvalue(ci->base - 1)->p; }
inline bool isLua(CallInfo *ci) { return !(ci->state & CI_C); }
