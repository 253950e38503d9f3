// Unit tests of the qxasm assembler: encodings, constants, labels, errors and
// the chunk and applet containers. Expected values are taken apart with a
// small reader of their own rather than compared against the encoder.
#include "qxasm.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

uint32_t bits(uint32_t w, int lo, int width) { return (w >> lo) & ((1u << width) - 1); }
uint32_t OP(uint32_t w) { return bits(w, 0, 6); }
uint32_t A(uint32_t w) { return bits(w, 24, 8); }
uint32_t B(uint32_t w) { return bits(w, 15, 9); }
uint32_t C(uint32_t w) { return bits(w, 6, 9); }
uint32_t Bx(uint32_t w) { return bits(w, 6, 18); }
int sBx(uint32_t w) { return int(Bx(w)) - 131071; }
int Joff(uint32_t w) { return int(bits(w, 6, 24)) - 8388607; }
uint32_t Jkind(uint32_t w) { return bits(w, 30, 2); }

std::unique_ptr<qxAsmModule> parse(const std::string& text) { return qxAsmParse(text, "t.qxs"); }

// The error text of a listing that must fail.
std::string errorOf(const std::string& text, int* line = nullptr) {
  try {
    parse(text);
  } catch (const qxAsmError& e) {
    if (line) *line = e.line;
    return e.what();
  }
  return "(no error)";
}

// Minimal chunk reader, enough to walk the records the writer produced.
struct Reader {
  const qxAsmBytes& d;
  size_t pos = 0;
  bool big = false;
  int sizeT = 8;
  uint64_t n(int k) {
    if (pos + size_t(k) > d.size()) throw std::runtime_error("short chunk");
    uint64_t v = 0;
    for (int i = 0; i < k; i++) {
      uint64_t b = d[pos + size_t(i)];
      v |= big ? b << (8 * (k - 1 - i)) : b << (8 * i);
    }
    pos += size_t(k);
    return v;
  }
  int32_t i32() { return int32_t(n(4)); }
  std::optional<std::string> str() {
    uint64_t len = n(sizeT);
    if (len == 0) return std::nullopt;
    std::string s(d.begin() + long(pos), d.begin() + long(pos + len - 1));
    EXPECT_EQ(d[pos + len - 1], 0);
    pos += len;
    return s;
  }
};

struct Proto {
  std::optional<std::string> source;
  int lineDefined, nups, params, vararg, maxStack;
  std::vector<int32_t> lines;
  std::vector<std::string> localNames, upvalNames;
  std::vector<std::pair<int, int>> localRanges;
  std::vector<qxAsmConst> consts;
  std::vector<Proto> nested;
  std::vector<uint32_t> code;
};

Proto readProto(Reader& r) {
  Proto p;
  p.source = r.str();
  p.lineDefined = r.i32();
  p.nups = int(r.n(1));
  p.params = int(r.n(1));
  p.vararg = int(r.n(1));
  p.maxStack = int(r.n(1));
  for (int i = r.i32(); i > 0; i--) p.lines.push_back(r.i32());
  for (int i = r.i32(); i > 0; i--) {
    p.localNames.push_back(r.str().value_or(""));
    int s = r.i32();
    p.localRanges.emplace_back(s, r.i32());
  }
  for (int i = r.i32(); i > 0; i--) p.upvalNames.push_back(r.str().value_or(""));
  for (int i = r.i32(); i > 0; i--) {
    qxAsmConst k;
    k.type = uint8_t(r.n(1));
    if (k.type == 3) {
      uint64_t b = r.n(8);
      std::memcpy(&k.number, &b, 8);
    } else if (k.type == 4) {
      k.text = r.str().value_or("");
    }
    p.consts.push_back(k);
  }
  for (int i = r.i32(); i > 0; i--) p.nested.push_back(readProto(r));
  for (int i = r.i32(); i > 0; i--) p.code.push_back(uint32_t(r.n(4)));
  return p;
}

Proto readChunk(const qxAsmBytes& d) {
  Reader r{d};
  EXPECT_EQ(std::string(d.begin(), d.begin() + 4), "\x1bQXB");
  r.pos = 4;
  r.big = r.n(1) != 1;
  r.n(1);
  r.sizeT = int(r.n(1));
  r.pos = 13;
  uint64_t tn = r.n(8);
  double t;
  std::memcpy(&t, &tn, 8);
  EXPECT_EQ(int64_t(t), 31415926);
  Proto p = readProto(r);
  EXPECT_EQ(r.pos, d.size());
  return p;
}

qxAsmBytes chunkOf(const std::string& text, qxAsmChunkOptions o = {}) {
  auto m = parse(text);
  return qxAsmWriteChunk(*m->main, o);
}

qxAsmBytes assemble(const std::string& text, std::vector<std::string> switches) {
  qxAsmOptions o;
  for (auto& s : switches) EXPECT_EQ(qxAsmApplyOption(o, s), "") << s;
  return qxAsmAssemble(text, "t.qxs", o);
}

}  // namespace

TEST(QxAsmEncoding, FieldsLandInTheirBitRanges) {
  auto m = parse(
      "MOVE 3 r7\n"
      "LOADK 200 \"x\"\n"
      "LOADNUM 1 511 1\n"
      "GETTABLE 4 5 #2.5\n"
      "SETTABLE 6 \"k\" 9\n"
      "TFORLOOP 2 3\n"
      "SETLIST 1 0x3FFFF\n"
      "RETURN 0 1\n");
  auto& c = m->main->code;
  ASSERT_EQ(c.size(), 8u);
  EXPECT_EQ(OP(c[0]), 0u); EXPECT_EQ(A(c[0]), 3u); EXPECT_EQ(B(c[0]), 7u); EXPECT_EQ(C(c[0]), 0u);
  EXPECT_EQ(OP(c[1]), 1u); EXPECT_EQ(A(c[1]), 200u); EXPECT_EQ(Bx(c[1]), 0u);
  EXPECT_EQ(OP(c[2]), 2u); EXPECT_EQ(B(c[2]), 511u); EXPECT_EQ(C(c[2]), 1u);
  EXPECT_EQ(OP(c[3]), 6u); EXPECT_EQ(B(c[3]), 5u); EXPECT_EQ(C(c[3]), 250u + 1);
  EXPECT_EQ(OP(c[4]), 9u); EXPECT_EQ(A(c[4]), 6u); EXPECT_EQ(B(c[4]), 250u + 2); EXPECT_EQ(C(c[4]), 9u);
  EXPECT_EQ(OP(c[5]), 36u); EXPECT_EQ(A(c[5]), 2u); EXPECT_EQ(C(c[5]), 3u);
  EXPECT_EQ(OP(c[6]), 38u); EXPECT_EQ(Bx(c[6]), 0x3FFFFu); EXPECT_EQ(A(c[6]), 1u);
  // A whole word computed by hand: RETURN A=0 B=1 C=0 -> 34 | 1 << 15.
  EXPECT_EQ(c[7], 34u | (1u << 15));
  EXPECT_EQ(m->main->stackSize(), 201);  // LOADK 200
  EXPECT_EQ(parse("TFORLOOP 2 3\nRETURN 0\n")->main->stackSize(), 11);  // copies into R(2+3+5)
}

TEST(QxAsmEncoding, AllMnemonicsAreKnownInOrder) {
  const char* names[] = {"MOVE", "LOADK", "LOADNUM", "LOADNIL", "GETUPVAL", "GETGLOBAL", "GETTABLE",
                         "SETGLOBAL", "SETUPVAL", "SETTABLE", "NEWTABLE", "ADD", "SUB", "MUL", "DIV",
                         "IDIV", "MOD", "SHL", "SHR", "BOR", "BAND", "BXOR", "POW", "UNM", "NOT",
                         "BNOT", "CONCAT", "JMP", "EQ", "LT", "LE", "TEST", "CALL", "TAILCALL",
                         "RETURN", "FORLOOP", "TFORLOOP", "TFORPREP", "SETLIST", "SETLISTO",
                         "CLOSE", "CLOSURE", "SELF", "CALLSTATUS", "TAILCALLSTATUS"};
  for (int i = 0; i < 45; i++) {
    EXPECT_EQ(qxAsmFindOpcode(names[i]), i);
    EXPECT_EQ(qxAsmFindOpcode(std::string("op_") + names[i]), i);
  }
  EXPECT_EQ(qxAsmFindOpcode("NOPE"), -1);
}

TEST(QxAsmJumps, OffsetsCountFromTheNextInstruction) {
  auto m = parse(
      "top:\n"
      "  JMP fwd\n"          // 0 -> 3: offset 2
      "  FORLOOP 0 top\n"    // 1 -> 0: offset -2
      "  GOSUB top\n"        // 2 -> 0: offset -3, kind 2
      "fwd:\n"
      "  TFORPREP 3 fwd\n"   // 3 -> 3: offset -1
      "  JMP @5 1\n"
      "  RETURN 0 1\n");
  auto& c = m->main->code;
  EXPECT_EQ(OP(c[0]), 27u); EXPECT_EQ(Joff(c[0]), 2); EXPECT_EQ(Jkind(c[0]), 0u);
  EXPECT_EQ(OP(c[1]), 35u); EXPECT_EQ(sBx(c[1]), -2); EXPECT_EQ(A(c[1]), 0u);
  EXPECT_EQ(Joff(c[2]), -3); EXPECT_EQ(Jkind(c[2]), 2u);
  EXPECT_TRUE(c[2] & 0x80000000u); EXPECT_FALSE(c[2] & 0x40000000u);
  EXPECT_EQ(OP(c[3]), 37u); EXPECT_EQ(sBx(c[3]), -1); EXPECT_EQ(A(c[3]), 3u);
  EXPECT_EQ(Joff(c[4]), 5); EXPECT_EQ(Jkind(c[4]), 1u);
  EXPECT_EQ(m->main->stackSize(), 5);  // FORLOOP 0 uses R0..R2, TFORPREP 3 uses R3..R4
}

TEST(QxAsmJumps, ExtremeOffsetsSurviveTheBias) {
  auto m = parse("JMP @-8388607\nJMP @8388608\nFORLOOP 0 @-131071\nFORLOOP 0 @131072\nRETURN 0\n");
  auto& c = m->main->code;
  EXPECT_EQ(Joff(c[0]), -8388607);
  EXPECT_EQ(Joff(c[1]), 8388608);
  EXPECT_EQ(sBx(c[2]), -131071);
  EXPECT_EQ(sBx(c[3]), 131072);
  EXPECT_NE(errorOf("JMP @8388609\n").find("out of range"), std::string::npos);
}

TEST(QxAsmConstants, DeduplicatedAndTyped) {
  auto m = parse(
      "LOADK 0 \"a\"\nLOADK 1 #1.5\nLOADK 2 nil\nLOADK 3 \"a\"\nADD 4 #1.5 #-0\nADD 5 #0 k1\n"
      ".const #1.5\nRETURN 0\n");
  auto& k = m->main->consts;
  ASSERT_EQ(k.size(), 6u);
  EXPECT_EQ(k[0].type, 4); EXPECT_EQ(k[0].text, "a");
  EXPECT_EQ(k[1].type, 3); EXPECT_EQ(k[1].number, 1.5);
  EXPECT_EQ(k[2].type, 0);
  EXPECT_TRUE(std::signbit(k[3].number));  // -0 and 0 are different constants
  EXPECT_FALSE(std::signbit(k[4].number));
  EXPECT_EQ(k[5].number, 1.5);             // .const always appends
  auto& c = m->main->code;
  EXPECT_EQ(Bx(c[3]), 0u);
  EXPECT_EQ(B(c[4]), 251u);
  EXPECT_EQ(C(c[4]), 253u);
  EXPECT_EQ(C(c[5]), 251u);
}

TEST(QxAsmConstants, RKThresholdAndLimits) {
  std::string many;
  for (int i = 0; i < 262; i++) many += "LOADK 0 #" + std::to_string(i) + "\n";
  auto m = parse(many + "ADD 0 #261 r249\nRETURN 0\n");
  EXPECT_EQ(B(m->main->code[262]), 511u);
  EXPECT_EQ(C(m->main->code[262]), 249u);
  int line = 0;
  std::string e = errorOf(many + "ADD 0 0 #262\n", &line);
  EXPECT_EQ(line, 263);
  EXPECT_NE(e.find("t.qxs:263:"), std::string::npos) << e;
  EXPECT_NE(e.find("too large for an RK operand"), std::string::npos) << e;
  // A constant index beyond 250 is still fine for LOADK.
  EXPECT_EQ(Bx(m->main->code[261]), 261u);
}

TEST(QxAsmFunctions, NestedPrototypesAndClosures) {
  auto m = parse(
      ".vararg\n"
      "CLOSURE 3 second r1 u0\n"
      "CLOSURE 4 first\n"
      "RETURN 0\n"
      ".function first\n"
      "  .params 2\n"
      "  RETURN 0\n"
      ".end\n"
      ".function second\n"
      "  .upvalue x y\n"
      "  .source \"other\"\n"
      "  .local i start fin\n"
      "start:\n"
      "  GETUPVAL 0 u1\n"
      "fin:\n"
      "  RETURN 0 2\n"
      ".end\n");
  auto& c = m->main->code;
  ASSERT_EQ(c.size(), 5u);
  EXPECT_EQ(OP(c[0]), 41u); EXPECT_EQ(Bx(c[0]), 1u); EXPECT_EQ(A(c[0]), 3u);
  EXPECT_EQ(OP(c[1]), 0u); EXPECT_EQ(B(c[1]), 1u);      // pseudo MOVE for R1
  EXPECT_EQ(OP(c[2]), 4u); EXPECT_EQ(B(c[2]), 0u);      // pseudo GETUPVAL for U0
  EXPECT_EQ(Bx(c[3]), 0u);
  auto& second = *m->main->nested[1];
  EXPECT_EQ(second.upvalueCount(), 2);
  EXPECT_EQ(second.locals[0].startPc, 0);
  EXPECT_EQ(second.locals[0].endPc, 1);
  EXPECT_EQ(m->main->nested[0]->stackSize(), 2);
  EXPECT_EQ(m->main->stackSize(), 5);

  Proto p = readChunk(qxAsmWriteChunk(*m->main, {}));
  EXPECT_EQ(p.source, "t.qxs");
  EXPECT_EQ(p.vararg, 1);
  ASSERT_EQ(p.nested.size(), 2u);
  EXPECT_FALSE(p.nested[0].source.has_value());  // same source as the parent: length 0
  EXPECT_EQ(p.nested[0].params, 2);
  EXPECT_EQ(p.nested[1].source, "other");
  EXPECT_EQ(p.nested[1].nups, 2);
  EXPECT_EQ(p.nested[1].upvalNames, (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(p.nested[1].localNames, (std::vector<std::string>{"i"}));
  EXPECT_EQ(p.nested[1].lineDefined, 9);
}

TEST(QxAsmFunctions, LineInformation) {
  auto m = parse("LOADNIL 0 0\n.line 40\nLOADNIL 0 1\nLOADNIL 0 2\n.line auto\nRETURN 0\n");
  EXPECT_EQ(m->main->lines, (std::vector<int32_t>{1, 40, 40, 6}));
  Proto p = readChunk(chunkOf(".nolines\nRETURN 0\n"));
  EXPECT_TRUE(p.lines.empty());
  EXPECT_EQ(p.code.size(), 1u);
}

TEST(QxAsmErrors, MessagesNameTheLine) {
  struct Case { std::string text; int line; const char* what; };
  const Case cases[] = {
    {"RETURN 0\nFROB 1 2\n", 2, "unknown instruction 'FROB'"},
    {"JMP nowhere\nRETURN 0\n", 1, "undefined label 'nowhere'"},
    {"x:\nx:\n", 2, "label 'x' defined twice"},
    {"MOVE 0 300\n", 1, "register 300 out of range"},
    {"ADD 0 1\n", 1, "ADD takes 3 operands, found 2"},
    {"LOADK 0 5\n", 1, "constant expected"},
    {"\n.function f\nRETURN 0\n", 2, "missing .end for function 'f'"},
    {".end\n", 1, ".end without .function"},
    {"LOADK 0 \"abc\n", 1, "unterminated string"},
    {".bogus\n", 1, "unknown directive '.bogus'"},
    {"CLOSURE 0 g\nRETURN 0\n", 1, "no function 'g'"},
    {"CLOSURE 0 g r1\nRETURN 0\n.function g\n.upvalue a b\nRETURN 0\n.end\n", 1,
     "gives 1 upvalue sources, the function has 2"},
    {".function g\n.header 1 \"x\"\n.end\n", 2, "only allowed outside .function"},
    {".label foo missing\nRETURN 0\n", 1, "undefined label 'missing'"},
  };
  for (auto& c : cases) {
    int line = 0;
    std::string e = errorOf(c.text, &line);
    EXPECT_NE(e.find(c.what), std::string::npos) << c.text << " -> " << e;
    EXPECT_EQ(line, c.line) << c.text << " -> " << e;
    EXPECT_EQ(e.rfind("t.qxs:" + std::to_string(c.line) + ": ", 0), 0u) << e;
  }
}

TEST(QxAsmChunk, HeaderLittleEndianAndBigEndianTwins) {
  const std::string listing = "LOADK 0 \"hi\"\nLOADK 1 #2\nRETURN 0 2\n";
  qxAsmBytes le = chunkOf(listing);
  const uint8_t head[] = {27, 'Q', 'X', 'B', 1, 4, 8, 4, 6, 8, 9, 9, 8,
                          0xB6, 0x09, 0x93, 0x68, 0xE7, 0xF5, 0x7D, 0x41};
  ASSERT_GE(le.size(), sizeof head);
  EXPECT_EQ(0, std::memcmp(le.data(), head, sizeof head));
  double t;
  std::memcpy(&t, le.data() + 13, 8);
  EXPECT_DOUBLE_EQ(t, 31415926.535897933);

  qxAsmChunkOptions o;
  o.bigEndian = true;
  o.sizeT = 4;
  qxAsmBytes be = chunkOf(listing, o);
  EXPECT_EQ(be[4], 0);
  EXPECT_EQ(be[6], 4);
  EXPECT_EQ(be[13], 0x41);  // the test number's high byte first
  Proto a = readChunk(le), b = readChunk(be);
  EXPECT_EQ(a.code, b.code);
  EXPECT_EQ(a.lines, b.lines);
  EXPECT_EQ(a.source, b.source);
  ASSERT_EQ(b.consts.size(), 2u);
  EXPECT_EQ(b.consts[0].text, "hi");
  EXPECT_EQ(b.consts[1].number, 2.0);
  EXPECT_EQ(le.size() - be.size(), 4u * 2);  // two string lengths of 4 instead of 8 bytes
}

TEST(QxAsmChunk, DeliberateBreakage) {
  const std::string listing = "RETURN 0\n";
  qxAsmBytes good = assemble(listing, {"-c"});
  struct Case { const char* sw; size_t off; uint8_t val; };
  const Case cases[] = {{"--break=signature", 3, 'C'}, {"--break=endian", 4, 2},
                        {"--break=intsize", 5, 8},     {"--break=sizet", 6, 2},
                        {"--break=insnsize", 7, 8},    {"--break=opbits", 8, 7},
                        {"--break=abits", 9, 9},       {"--break=bbits", 10, 8},
                        {"--break=cbits", 11, 10},     {"--break=numsize", 12, 4},
                        {"--chunk-byte=20:0x55", 20, 0x55}};
  for (auto& c : cases) {
    qxAsmBytes bad = assemble(listing, {"-c", c.sw});
    ASSERT_EQ(bad.size(), good.size()) << c.sw;
    for (size_t i = 0; i < good.size(); i++)
      EXPECT_EQ(bad[i], i == c.off ? c.val : good[i]) << c.sw << " byte " << i;
  }
  qxAsmBytes tn = assemble(listing, {"-c", "--test-number=31415926.9"});
  double t;
  std::memcpy(&t, tn.data() + 13, 8);
  EXPECT_EQ(t, 31415926.9);
  tn = assemble(listing, {"-c", "--break=testnumber"});
  std::memcpy(&t, tn.data() + 13, 8);
  EXPECT_EQ(t, 31415927.0);
  EXPECT_EQ(assemble(listing, {"-c", "--truncate=10"}).size(), 10u);
  EXPECT_EQ(assemble(listing, {"-c", "--truncate=-3"}).size(), good.size() - 3);
  // A bad opcode and a jump past the end assemble as written.
  auto m = parse(".word 0x2D\nJMP @100\nRETURN 0\n");
  EXPECT_EQ(m->main->code[0], 45u);
  qxAsmOptions o;
  EXPECT_NE(qxAsmApplyOption(o, "--break=bogus"), "");
  EXPECT_NE(qxAsmApplyOption(o, "--size-t=2"), "");
}

namespace {

// Walks an applet's section stream: tag -> payload, up to and including the chunk.
std::vector<std::pair<int, qxAsmBytes>> sections(const qxAsmBytes& a) {
  std::vector<std::pair<int, qxAsmBytes>> out;
  size_t p = 4;
  auto be = [&](int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; i++) v = v << 8 | a.at(p++);
    return v;
  };
  auto cstr = [&]() {
    size_t s = p;
    while (a.at(p) != 0) p++;
    p++;
    return qxAsmBytes(a.begin() + long(s), a.begin() + long(p));
  };
  while (p < a.size()) {
    int tag = a[p++];
    size_t start = p;
    if (tag == 1) {
      size_t n = size_t(be(4));
      out.emplace_back(tag, qxAsmBytes(a.begin() + long(p), a.begin() + long(p + n)));
      p += n;
      break;
    } else if (tag == 9) {
      for (uint64_t n = be(4); n > 0; n--) { be(4); cstr(); }
    } else if (tag == 10) {
      p += 2;
    } else if ((tag >= 11 && tag <= 15) || tag == 34) {
      cstr();
    } else if (tag == 35) {
      p += 1;
    } else {
      ADD_FAILURE() << "unexpected tag " << tag;
      break;
    }
    out.emplace_back(tag, qxAsmBytes(a.begin() + long(start), a.begin() + long(p)));
  }
  EXPECT_EQ(p, a.size());
  return out;
}

}  // namespace

TEST(QxAsmApplet, SectionsInListingOrder) {
  const std::string listing =
      ".header 1 \"Title\"\n.header 6 \"Six\"\n.encoding latin1\n.label ONX start\n.label two 7\n"
      "start:\nRETURN 0\n";
  qxAsmBytes a = assemble(listing, {"-a"});
  EXPECT_EQ(std::string(a.begin(), a.begin() + 4), std::string("QXA\0", 4));
  auto s = sections(a);
  ASSERT_EQ(s.size(), 6u);
  EXPECT_EQ(s[0].first, 10);
  EXPECT_EQ(s[0].second, (qxAsmBytes{8, 0}));
  EXPECT_EQ(s[1].first, 11);
  EXPECT_EQ(std::string(s[1].second.begin(), s[1].second.end()), std::string("Title\0", 6));
  EXPECT_EQ(s[2].first, 34);
  EXPECT_EQ(s[3].first, 35);
  EXPECT_EQ(s[3].second, qxAsmBytes{0});
  EXPECT_EQ(s[4].first, 9);
  const qxAsmBytes labels = {0, 0, 0, 2, 0, 0, 0, 0, 'O', 'N', 'X', 0, 0, 0, 0, 7, 't', 'w', 'o', 0};
  EXPECT_EQ(s[4].second, labels);
  EXPECT_EQ(s[5].first, 1);
  EXPECT_EQ(s[5].second, assemble(listing, {"-c"}));

  // An explicit version replaces the default one; raw sections go where they are written.
  a = assemble(".section 3 u16:320 u16:200\n.version 7 9\nRETURN 0\n", {"-a"});
  const qxAsmBytes head = {'Q', 'X', 'A', 0, 3, 1, 64, 0, 200, 10, 7, 9, 1};
  EXPECT_EQ(qxAsmBytes(a.begin(), a.begin() + long(head.size())), head);
}

TEST(QxAsmApplet, PackedAppletInflatesToThePlainOne) {
  const std::string listing = ".header 1 \"Packed\"\nLOADK 0 \"payload payload payload\"\nRETURN 0\n";
  qxAsmBytes plain = assemble(listing, {"-a"});
  qxAsmBytes packed = assemble(listing, {"-z"});
  EXPECT_EQ(std::string(packed.begin(), packed.begin() + 4), std::string("QXZ\0", 4));
  uint32_t size = uint32_t(packed[4]) << 24 | uint32_t(packed[5]) << 16 | uint32_t(packed[6]) << 8 | packed[7];
  EXPECT_EQ(size, plain.size());
  qxAsmBytes out(plain.size() + 16);
  uLongf outSize = uLongf(out.size());
  ASSERT_EQ(uncompress(out.data(), &outSize, packed.data() + 8, uLong(packed.size() - 8)), Z_OK);
  out.resize(outSize);
  EXPECT_EQ(out, plain);
}

TEST(QxAsmApplet, MagicPatchAndTruncation) {
  qxAsmBytes a = assemble("RETURN 0\n", {"-a", "--magic=QXB", "--patch=5:0xFF"});
  EXPECT_EQ(std::string(a.begin(), a.begin() + 4), std::string("QXB\0", 4));
  EXPECT_EQ(a[5], 0xFF);
  qxAsmBytes full = assemble("RETURN 0\n", {"-a"});
  qxAsmBytes cut = assemble("RETURN 0\n", {"-a", "--chunk-truncate=12"});
  // The section size follows the shortened chunk, so only the chunk reader sees the cut.
  EXPECT_EQ(cut.size(), 4u + 3 + 1 + 4 + 12);
  EXPECT_EQ(cut[11], 12);
  EXPECT_LT(cut.size(), full.size());
}

TEST(QxAsmApplet, PaddingTrailerAndTypedSectionItems) {
  const std::string listing =
      ".version none\n.section 31 \"pi\" u8:0 f64:3.5 u8:0\n.section 22 i16:-1 u32:0x10203\n"
      ".padding 2\n.trailer u8:0x49 hex:0000 u16:16 u16:16\nRETURN 0\n";
  qxAsmBytes a = assemble(listing, {"-a"});
  const qxAsmBytes head = {'Q', 'X', 'A', 0, 31, 'p', 'i', 0, 0, 0x40, 0x0C, 0, 0, 0, 0, 0, 0, 0,
                           22, 0xFF, 0xFF, 0, 1, 2, 3, 1};
  ASSERT_GT(a.size(), head.size());
  EXPECT_EQ(qxAsmBytes(a.begin(), a.begin() + long(head.size())), head);
  const qxAsmBytes tail = {0, 0, 0x49, 0, 0, 0, 16, 0, 16};
  EXPECT_EQ(qxAsmBytes(a.end() - long(tail.size()), a.end()), tail);
  size_t chunkSize = size_t(a[26]) << 24 | size_t(a[27]) << 16 | size_t(a[28]) << 8 | a[29];
  EXPECT_EQ(a.size(), head.size() + 4 + chunkSize + tail.size());

  // Packed: the trailer stays outside the zlib stream, the padding inside.
  qxAsmBytes z = assemble(listing, {"-z"});
  EXPECT_EQ(qxAsmBytes(z.end() - 7, z.end()), qxAsmBytes(tail.begin() + 2, tail.end()));
  qxAsmBytes plain(a.size() + 16);
  uLongf n = uLongf(plain.size());
  ASSERT_EQ(uncompress(plain.data(), &n, z.data() + 8, uLong(z.size() - 8 - 7)), Z_OK);
  plain.resize(n);
  EXPECT_EQ(plain, qxAsmBytes(a.begin(), a.end() - 7));
  EXPECT_NE(errorOf(".section 3 u16:70000\n").find("out of range"), std::string::npos);
  EXPECT_NE(errorOf(".trailer hex:123\n").find("even number"), std::string::npos);
}

TEST(QxAsmApplet, LinkedFilesLineMapsConstantsIconsAndObjects) {
  const std::string listing =
      ".version 8 0\n.link \"a\" \"xy\"\n.linkext \"b\" \"EXT\"\n.linkdrop \"c\"\n"
      ".linemap 33 1 2 3 \"i\" \"s\"\n.constant K #1\n"
      ".object 4 9 text: \"t\" a:-1 flags:2 line:7 loader: \"L\"\n.icon 16 16 2 \"IC\"\nRETURN 0\n";
  qxAsmBytes a = assemble(listing, {"-a"});
  auto find = [&](const qxAsmBytes& want) -> size_t {
    auto at = std::search(a.begin(), a.end(), want.begin(), want.end());
    return at == a.end() ? std::string::npos : size_t(at - a.begin());
  };
  auto u32at = [&](size_t p) {
    return uint32_t(a[p]) << 24 | uint32_t(a[p + 1]) << 16 | uint32_t(a[p + 2]) << 8 | a[p + 3];
  };
  // Sections in listing order after the version.
  const qxAsmBytes link = {26, 0, 0, 0, 1, 0, 0, 0, 0, 'a', 0, 0, 0, 0, 2, 'x', 'y',
                           26, 0, 0, 0, 1, 0, 0, 0, 0, 'b', 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 3};
  ASSERT_EQ(find(link), 7u);
  // External data: an offset from the applet's start to "EXT".
  size_t off = u32at(7 + link.size());
  EXPECT_EQ(std::string(a.begin() + long(off), a.begin() + long(off) + 3), "EXT");
  const qxAsmBytes rest = {26, 0, 0, 0, 1, 0, 0, 0, 0, 'c', 0, 0xFF, 0xFF, 0xFF, 0xFE,
                           33, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, uint8_t(~'i'), 0xFF, uint8_t(~'s'), 0xFF,
                           31, 'K', 0, 0, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0,
                           2, 0, 0, 0, 1, 4, 0, 0, 0, 9};
  size_t r = find(rest);
  ASSERT_EQ(r, 7u + link.size() + 4);
  // The object record: inline text reference, then value A, flags, line and the lists.
  size_t obj = r + rest.size();
  size_t textOff = u32at(obj);
  EXPECT_EQ(u32at(obj + 4), 2u);  // with its zero byte
  EXPECT_EQ(std::string(a.begin() + long(textOff), a.begin() + long(textOff) + 2), std::string("t\0", 2));
  EXPECT_EQ(qxAsmBytes(a.begin() + long(obj + 8), a.begin() + long(obj + 8 + 25)),
            (qxAsmBytes{0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 2, 0, 0, 0, 7, 0, 1, 'L', 0, 0}));
  EXPECT_EQ(a[obj + 33], 1);  // the main chunk follows
  // The icon block follows the chunk; the data area comes last.
  const qxAsmBytes icons = {0x49, 0, 0, 0, 16, 0, 16, 2, 0, 0, 0, 2, 'I', 'C', 0, 0, 0xFF};
  size_t i = find(icons);
  ASSERT_NE(i, std::string::npos);
  EXPECT_EQ(std::string(a.begin() + long(i + icons.size()), a.end()), std::string("EXTt\0", 5));
  EXPECT_NE(errorOf(".linemap 9 1 2 3 \"i\"\n").find("8, 27 or 33"), std::string::npos);
  EXPECT_NE(errorOf(".object 1 2 \"x\"\n").find("str:"), std::string::npos);
}
