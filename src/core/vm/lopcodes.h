// Instruction layout and opcode numbers.
// OP bits 0-5, C bits 6-14, B bits 15-23, A bits 24-31; Bx bits 6-23;
// the jump uses J bits 6-29 and a 2-bit kind in bits 30-31.
#pragma once
#include "core/vm/lobject.h"

enum OpCode {
    OP_MOVE, OP_LOADK, OP_LOADNUM, OP_LOADNIL, OP_GETUPVAL, OP_GETGLOBAL, OP_GETTABLE,
    OP_SETGLOBAL, OP_SETUPVAL, OP_SETTABLE, OP_NEWTABLE, OP_ADD, OP_SUB, OP_MUL, OP_DIV,
    OP_IDIV, OP_MOD, OP_SHL, OP_SHR, OP_BOR, OP_BAND, OP_BXOR, OP_POW, OP_UNM, OP_NOT,
    OP_BNOT, OP_CONCAT, OP_JMP, OP_EQ, OP_LT, OP_LE, OP_TEST, OP_CALL, OP_TAILCALL,
    OP_RETURN, OP_FORLOOP, OP_TFORLOOP, OP_TFORPREP, OP_SETLIST, OP_SETLISTO, OP_CLOSE,
    OP_CLOSURE, OP_SELF, OP_CALLSTATUS, OP_TAILCALLSTATUS
};
#define NUM_OPCODES 45

#define MAXARG_A 0xFF
#define MAXARG_B 0x1FF
#define MAXARG_C 0x1FF
#define MAXARG_Bx 0x3FFFF
#define MAXARG_sBx 0x1FFFF
#define MAXARG_J 0xFFFFFF
#define OFFSET_J 0x7FFFFF
#define JMP_GOSUB 2 // jump kind that pushes a Gosub return address

// Registers below this index address the stack; RK values from it on, constants.
#define MAXSTACK 250

inline int GET_OPCODE(Instruction i) { return static_cast<int>(i & 0x3F); }
inline int GETARG_A(Instruction i) { return static_cast<int>(i >> 24); }
inline int GETARG_B(Instruction i) { return static_cast<int>((i >> 15) & 0x1FF); }
inline int GETARG_C(Instruction i) { return static_cast<int>((i >> 6) & 0x1FF); }
inline int GETARG_Bx(Instruction i) { return static_cast<int>((i >> 6) & 0x3FFFF); }
inline int GETARG_sBx(Instruction i) { return GETARG_Bx(i) - MAXARG_sBx; }
inline int GETARG_J(Instruction i) { return static_cast<int>((i >> 6) & 0xFFFFFF) - OFFSET_J; }
inline int GETARG_JKIND(Instruction i) { return static_cast<int>(i >> 30); }

inline Instruction CREATE_ABC(int o, int a, int b, int c) {
    return static_cast<Instruction>(o) | (static_cast<Instruction>(c) << 6) |
           (static_cast<Instruction>(b) << 15) | (static_cast<Instruction>(a) << 24);
}
inline Instruction CREATE_ABx(int o, int a, int bx) {
    return static_cast<Instruction>(o) | (static_cast<Instruction>(bx) << 6) | (static_cast<Instruction>(a) << 24);
}
inline Instruction CREATE_AsBx(int o, int a, int sbx) { return CREATE_ABx(o, a, sbx + MAXARG_sBx); }
inline Instruction CREATE_J(int offset, int kind) {
    return static_cast<Instruction>(OP_JMP) | (static_cast<Instruction>(offset + OFFSET_J) << 6) |
           (static_cast<Instruction>(kind) << 30);
}

extern const char *const luaP_opnames[NUM_OPCODES];
