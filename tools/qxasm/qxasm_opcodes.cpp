// Opcode names and the instruction word layout.
#include "qxasm.h"

#include <algorithm>
#include <cctype>

namespace {

const char* const kOpNames[qxAsmOpCount] = {
  "MOVE", "LOADK", "LOADNUM", "LOADNIL", "GETUPVAL", "GETGLOBAL", "GETTABLE",
  "SETGLOBAL", "SETUPVAL", "SETTABLE", "NEWTABLE", "ADD", "SUB", "MUL", "DIV",
  "IDIV", "MOD", "SHL", "SHR", "BOR", "BAND", "BXOR", "POW", "UNM", "NOT", "BNOT",
  "CONCAT", "JMP", "EQ", "LT", "LE", "TEST", "CALL", "TAILCALL", "RETURN",
  "FORLOOP", "TFORLOOP", "TFORPREP", "SETLIST", "SETLISTO", "CLOSE", "CLOSURE",
  "SELF", "CALLSTATUS", "TAILCALLSTATUS"};

}  // namespace

int qxAsmFindOpcode(std::string_view name) {
  std::string upper(name);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return char(std::toupper(c)); });
  std::string_view n = upper;
  if (n.substr(0, 3) == "OP_") n.remove_prefix(3);
  for (int i = 0; i < qxAsmOpCount; i++)
    if (n == kOpNames[i]) return i;
  return -1;
}

const char* qxAsmOpName(int op) {
  return op >= 0 && op < qxAsmOpCount ? kOpNames[op] : "?";
}

uint32_t qxAsmEncodeABC(int op, int a, int b, int c) {
  return (uint32_t(op) & 0x3F) | ((uint32_t(c) & 0x1FF) << 6) | ((uint32_t(b) & 0x1FF) << 15) |
         ((uint32_t(a) & 0xFF) << 24);
}

uint32_t qxAsmEncodeABx(int op, int a, int bx) {
  return (uint32_t(op) & 0x3F) | ((uint32_t(bx) & 0x3FFFF) << 6) | ((uint32_t(a) & 0xFF) << 24);
}

uint32_t qxAsmEncodeAsBx(int op, int a, int sbx) {
  return qxAsmEncodeABx(op, a, sbx + qxAsmMaxSBx);
}

uint32_t qxAsmEncodeJmp(int offset, int kind) {
  return uint32_t(QXOP_JMP) | ((uint32_t(offset + qxAsmMaxJ) & 0xFFFFFF) << 6) |
         ((uint32_t(kind) & 3) << 30);
}
