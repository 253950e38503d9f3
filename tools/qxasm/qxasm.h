// qxasm: assembler for test listings. Turns a readable listing into a binary
// bytecode chunk or an applet file. Written apart from the VM's loader on
// purpose, so that the two cannot share a misreading of the formats.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

using qxAsmBytes = std::vector<uint8_t>;

// ---- instruction encoding -------------------------------------------------

constexpr int qxAsmOpCount = 45;
constexpr int qxAsmRKBase = 250;            // RK(x) >= 250 names constant x - 250
constexpr int qxAsmMaxSBx = 131071;         // sBx = Bx - 131071
constexpr int qxAsmMaxJ = 8388607;          // jump offset = J - 8388607

enum qxAsmOp : int {
  QXOP_MOVE, QXOP_LOADK, QXOP_LOADNUM, QXOP_LOADNIL, QXOP_GETUPVAL, QXOP_GETGLOBAL,
  QXOP_GETTABLE, QXOP_SETGLOBAL, QXOP_SETUPVAL, QXOP_SETTABLE, QXOP_NEWTABLE,
  QXOP_ADD, QXOP_SUB, QXOP_MUL, QXOP_DIV, QXOP_IDIV, QXOP_MOD, QXOP_SHL, QXOP_SHR,
  QXOP_BOR, QXOP_BAND, QXOP_BXOR, QXOP_POW, QXOP_UNM, QXOP_NOT, QXOP_BNOT,
  QXOP_CONCAT, QXOP_JMP, QXOP_EQ, QXOP_LT, QXOP_LE, QXOP_TEST, QXOP_CALL,
  QXOP_TAILCALL, QXOP_RETURN, QXOP_FORLOOP, QXOP_TFORLOOP, QXOP_TFORPREP,
  QXOP_SETLIST, QXOP_SETLISTO, QXOP_CLOSE, QXOP_CLOSURE, QXOP_SELF,
  QXOP_CALLSTATUS, QXOP_TAILCALLSTATUS
};

// Opcode number for a mnemonic (case-insensitive, "OP_" prefix optional), -1 if unknown.
int qxAsmFindOpcode(std::string_view name);
const char* qxAsmOpName(int op);

// Field layout: OP bits 0-5, C 6-14, B 15-23, A 24-31; Bx = bits 6-23;
// J = bits 6-29 with the jump kind in bits 30-31.
uint32_t qxAsmEncodeABC(int op, int a, int b, int c);
uint32_t qxAsmEncodeABx(int op, int a, int bx);
uint32_t qxAsmEncodeAsBx(int op, int a, int sbx);
uint32_t qxAsmEncodeJmp(int offset, int kind);

// ---- listing model ---------------------------------------------------------

struct qxAsmError : std::runtime_error {
  int line;
  qxAsmError(const std::string& message, int lineNo) : std::runtime_error(message), line(lineNo) {}
};

struct qxAsmConst {
  uint8_t type = 0;      // 0 nil, 3 number, 4 string; anything else is written bare (broken chunks)
  double number = 0;
  std::string text;
};

struct qxAsmLocal {
  std::string name;
  std::string startRef, endRef;  // label names or decimal pcs
  int startPc = 0, endPc = 0;
  int line = 0;
};

struct qxAsmFixup {
  enum Kind { Jump, SBx, Proto } kind;
  size_t pc;
  std::string target;            // label (Jump, SBx) or function name (Proto)
  int line;
  int pseudoCount = -1;          // CLOSURE: upvalue operands written inline, -1 none
};

struct qxAsmFunction {
  std::string name;
  int defLine = 0;
  qxAsmFunction* parent = nullptr;
  std::optional<std::string> source;  // unset: the parent's (main: the listing name)
  bool sourceNone = false;            // ".source none": written as length 0
  int lineDefined = 0;
  int params = 0;
  bool vararg = false;
  int upvalCount = -1;                // -1: the number of upvalue names
  std::vector<std::string> upvalNames;
  int maxStack = -1;                  // -1: computed
  int highestReg = -1;
  std::vector<uint32_t> code;
  std::vector<int32_t> lines;
  bool noLines = false;
  std::vector<qxAsmConst> consts;
  std::vector<std::unique_ptr<qxAsmFunction>> nested;
  std::map<std::string, int> labels;
  std::vector<qxAsmFixup> fixups;
  std::vector<qxAsmLocal> locals;

  int upvalueCount() const { return upvalCount >= 0 ? upvalCount : int(upvalNames.size()); }
  int stackSize() const;
};

// One section of an applet's section stream, in listing order.
struct qxAsmSection {
  uint8_t tag = 0;
  qxAsmBytes payload;
  bool isLabelTable = false;  // filled from `labels` when writing
  // Payload positions of u32 offsets into the data area: the writer adds the
  // area's position in the applet to the value stored there.
  std::vector<size_t> dataFixups;
};

struct qxAsmAppletLabel {
  std::string name;
  std::string target;  // code label of the main function or a decimal number
  int value = 0;
  int line = 0;
};

struct qxAsmModule {
  std::string fileName;
  std::unique_ptr<qxAsmFunction> main;
  std::vector<qxAsmSection> sections;
  std::vector<qxAsmAppletLabel> labels;
  bool versionGiven = false;
  size_t chunkPadding = 0;      // zero bytes after the main chunk
  qxAsmBytes trailer;           // after the chunk (packed: after the packed part), e.g. icons
  qxAsmBytes icons;             // icon block entries (.icon), written before the trailer
  qxAsmBytes dataArea;          // inline texts and linked data that sections address
  int objectSection = -1;       // index of the object section (.object), -1 none
  uint32_t objectCount = 0;
  int versionMajor = 8, versionMinor = 0;
};

// Parses and resolves a listing; throws qxAsmError ("name:line: message").
std::unique_ptr<qxAsmModule> qxAsmParse(std::string_view text, std::string_view fileName);

// ---- writers ----------------------------------------------------------------

struct qxAsmChunkOptions {
  bool bigEndian = false;
  int sizeT = 8;                               // width of string lengths: 4 or 8
  std::optional<uint64_t> testNumberBits;      // default: bits of 31415926.535897933
  std::map<size_t, uint8_t> headerBytes;       // header byte overrides (deliberate breakage)
  std::optional<size_t> truncate;              // keep only this many bytes of the chunk
};

enum class qxAsmMode { Chunk, Applet, Packed };

struct qxAsmOptions {
  qxAsmMode mode = qxAsmMode::Applet;
  bool modeGiven = false;
  qxAsmChunkOptions chunk;
  std::optional<std::string> magic;           // applet signature override (4 bytes)
  std::vector<std::pair<size_t, uint8_t>> patches;  // final-file byte patches
  std::optional<long long> truncate;          // final file: keep n bytes (negative: drop -n)
};

// Applies one command-line switch; returns "" or an error text.
std::string qxAsmApplyOption(qxAsmOptions& options, std::string_view arg);
std::string qxAsmOptionHelp();

qxAsmBytes qxAsmWriteChunk(const qxAsmFunction& main, const qxAsmChunkOptions& options);
qxAsmBytes qxAsmWriteApplet(const qxAsmModule& module, const qxAsmBytes& chunk,
                            const qxAsmOptions& options);
// Whole pipeline: listing text to output bytes (chunk or applet); throws qxAsmError.
qxAsmBytes qxAsmAssemble(std::string_view text, std::string_view fileName, const qxAsmOptions& options);
