// Chunk and applet writers and the command-line switches that shape them.
#include "qxasm.h"

#include <zlib.h>

#include <cstring>

namespace {

constexpr uint64_t kTestNumberBits = 0x417DF5E7689309B6ULL;  // 31415926.535897933

class ChunkWriter {
 public:
  explicit ChunkWriter(const qxAsmChunkOptions& o) : o_(o) {}

  void raw(uint64_t v, int n) {
    for (int i = 0; i < n; i++) {
      int shift = o_.bigEndian ? 8 * (n - 1 - i) : 8 * i;
      out.push_back(uint8_t(v >> shift));
    }
  }
  void byte(int v) { out.push_back(uint8_t(v)); }
  void i32(int32_t v) { raw(uint32_t(v), 4); }
  void size(uint64_t v) { raw(v, o_.sizeT); }
  void string(const std::string* s) {
    if (!s) { size(0); return; }
    size(s->size() + 1);
    out.insert(out.end(), s->begin(), s->end());
    out.push_back(0);
  }

  void function(const qxAsmFunction& f, const std::string* parentSource) {
    const std::string* src = f.sourceNone ? nullptr : f.source ? &*f.source : parentSource;
    // A nested function that shares its parent's source writes none.
    bool inherit = parentSource && src && *src == *parentSource;
    string(inherit ? nullptr : src);
    i32(f.lineDefined);
    byte(f.upvalueCount());
    byte(f.params);
    byte(f.vararg ? 1 : 0);
    byte(f.stackSize());
    if (f.noLines) {
      i32(0);
    } else {
      i32(int32_t(f.lines.size()));
      for (int32_t l : f.lines) i32(l);
    }
    i32(int32_t(f.locals.size()));
    for (auto& l : f.locals) {
      string(&l.name);
      i32(l.startPc);
      i32(l.endPc);
    }
    i32(int32_t(f.upvalNames.size()));
    for (auto& n : f.upvalNames) string(&n);
    i32(int32_t(f.consts.size()));
    for (auto& k : f.consts) {
      byte(k.type);
      if (k.type == 3) {
        uint64_t bits;
        std::memcpy(&bits, &k.number, 8);
        raw(bits, 8);
      } else if (k.type == 4) {
        string(&k.text);
      }
    }
    i32(int32_t(f.nested.size()));
    for (auto& n : f.nested) function(*n, src);
    i32(int32_t(f.code.size()));
    for (uint32_t w : f.code) raw(w, 4);
  }

  qxAsmBytes out;

 private:
  const qxAsmChunkOptions& o_;
};

void putBE(qxAsmBytes& out, uint64_t v, int n) {
  for (int i = n - 1; i >= 0; i--) out.push_back(uint8_t(v >> (8 * i)));
}

bool parseUnsigned(std::string_view s, unsigned long long& v) {
  if (s.empty()) return false;
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) { base = 16; s.remove_prefix(2); }
  v = 0;
  for (char c : s) {
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : 99;
    if (d >= base) return false;
    v = v * unsigned(base) + unsigned(d);
    if (v > (1ULL << 48)) return false;
  }
  return true;
}

bool parseSigned(std::string_view s, long long& v) {
  bool neg = !s.empty() && s[0] == '-';
  unsigned long long u;
  if (!parseUnsigned(neg ? s.substr(1) : s, u)) return false;
  v = neg ? -(long long)u : (long long)u;
  return true;
}

// Named header breakages: offset and the wrong value written there.
struct Break { const char* name; size_t offset; uint8_t value; };
const Break kBreaks[] = {
  {"signature", 3, 'C'}, {"endian", 4, 2},   {"intsize", 5, 8},  {"sizet", 6, 2},
  {"insnsize", 7, 8},    {"opbits", 8, 7},   {"abits", 9, 9},    {"bbits", 10, 8},
  {"cbits", 11, 10},     {"numsize", 12, 4},
};

}  // namespace

qxAsmBytes qxAsmWriteChunk(const qxAsmFunction& main, const qxAsmChunkOptions& o) {
  ChunkWriter w(o);
  w.out = {27, 'Q', 'X', 'B'};
  w.byte(o.bigEndian ? 0 : 1);
  w.byte(4);
  w.byte(o.sizeT);
  w.byte(4);
  w.byte(6);
  w.byte(8);
  w.byte(9);
  w.byte(9);
  w.byte(8);
  w.raw(o.testNumberBits.value_or(kTestNumberBits), 8);
  w.function(main, nullptr);
  for (auto& [off, val] : o.headerBytes)
    if (off < w.out.size()) w.out[off] = val;
  if (o.truncate && *o.truncate < w.out.size()) w.out.resize(*o.truncate);
  return std::move(w.out);
}

qxAsmBytes qxAsmWriteApplet(const qxAsmModule& m, const qxAsmBytes& chunk, const qxAsmOptions& o) {
  qxAsmBytes plain = {'Q', 'X', 'A', 0};
  if (!m.versionGiven) {  // made by the current tool unless the listing says otherwise
    plain.push_back(10);
    plain.push_back(8);
    plain.push_back(0);
  }
  std::vector<size_t> fixups;  // positions in plain of data-area offsets
  for (auto& s : m.sections) {
    plain.push_back(s.tag);
    for (size_t at : s.dataFixups) fixups.push_back(plain.size() + at);
    if (s.isLabelTable) {
      putBE(plain, m.labels.size(), 4);
      for (auto& l : m.labels) {
        putBE(plain, uint32_t(l.value), 4);
        plain.insert(plain.end(), l.name.begin(), l.name.end());
        plain.push_back(0);
      }
    } else {
      plain.insert(plain.end(), s.payload.begin(), s.payload.end());
    }
  }
  plain.push_back(1);
  putBE(plain, chunk.size(), 4);
  plain.insert(plain.end(), chunk.begin(), chunk.end());
  plain.insert(plain.end(), m.chunkPadding, 0);
  // Icons and the trailer follow the chunk: in a packed applet after the
  // packed part, so that the player reads them from the packed file.
  qxAsmBytes after;
  if (!m.icons.empty()) {
    after = {0x49, 0, 0};
    after.insert(after.end(), m.icons.begin(), m.icons.end());
    putBE(after, 0, 2);
  }
  after.insert(after.end(), m.trailer.begin(), m.trailer.end());
  if (o.mode != qxAsmMode::Packed) plain.insert(plain.end(), after.begin(), after.end());
  if (!m.dataArea.empty()) {
    // A byte other than 0 and "I" ends the stream before the data.
    plain.push_back(0xFF);
    size_t start = plain.size();
    plain.insert(plain.end(), m.dataArea.begin(), m.dataArea.end());
    for (size_t at : fixups) {
      uint32_t v = 0;
      for (int i = 0; i < 4; i++) v = v << 8 | plain[at + size_t(i)];
      v += uint32_t(start);
      for (int i = 0; i < 4; i++) plain[at + size_t(i)] = uint8_t(v >> (8 * (3 - i)));
    }
  }

  qxAsmBytes out;
  if (o.mode == qxAsmMode::Packed) {
    uLongf packedSize = compressBound(uLong(plain.size()));
    qxAsmBytes packed(packedSize);
    if (compress2(packed.data(), &packedSize, plain.data(), uLong(plain.size()), Z_BEST_COMPRESSION) != Z_OK)
      throw qxAsmError("zlib failed to pack the applet", 0);
    packed.resize(packedSize);
    out = {'Q', 'X', 'Z', 0};
    putBE(out, plain.size(), 4);  // unpacked size; the reader skips these 4 bytes
    out.insert(out.end(), packed.begin(), packed.end());
    out.insert(out.end(), after.begin(), after.end());
  } else {
    out = std::move(plain);
  }
  if (o.magic) {
    for (size_t i = 0; i < 4; i++) out[i] = i < o.magic->size() ? uint8_t((*o.magic)[i]) : 0;
  }
  return out;
}

qxAsmBytes qxAsmAssemble(std::string_view text, std::string_view fileName, const qxAsmOptions& o) {
  auto module = qxAsmParse(text, fileName);
  qxAsmBytes chunk = qxAsmWriteChunk(*module->main, o.chunk);
  qxAsmBytes out = o.mode == qxAsmMode::Chunk ? std::move(chunk) : qxAsmWriteApplet(*module, chunk, o);
  for (auto& [off, val] : o.patches)
    if (off < out.size()) out[off] = val;
  if (o.truncate) {
    long long n = *o.truncate;
    size_t keep = n >= 0 ? size_t(n) : (size_t(-n) > out.size() ? 0 : out.size() - size_t(-n));
    if (keep < out.size()) out.resize(keep);
  }
  return out;
}

std::string qxAsmOptionHelp() {
  return
    "  -c, --chunk             write a bare bytecode chunk\n"
    "  -a, --applet            write a plain applet (\"QXA\"), the default\n"
    "  -z, --packed            write a packed applet (\"QXZ\")\n"
    "  --big-endian            chunk in big-endian byte order (endianness byte 0)\n"
    "  --size-t=4|8            width of string lengths in the chunk\n"
    "  --test-number=X         chunk test number (a double)\n"
    "  --break=FIELD           wrong chunk header byte: signature endian intsize sizet\n"
    "                          insnsize opbits abits bbits cbits numsize testnumber\n"
    "  --chunk-byte=OFF:VAL    set one byte of the chunk\n"
    "  --chunk-truncate=N      keep only N bytes of the chunk (the applet stays consistent)\n"
    "  --magic=TEXT            applet signature (4 bytes, zero-padded)\n"
    "  --patch=OFF:VAL         set one byte of the output file\n"
    "  --truncate=N            keep N bytes of the output file (negative: drop -N)\n";
}

std::string qxAsmApplyOption(qxAsmOptions& o, std::string_view arg) {
  auto value = [&](std::string_view name) -> std::optional<std::string_view> {
    if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=')
      return arg.substr(name.size() + 1);
    return std::nullopt;
  };
  auto pair = [&](std::string_view v, unsigned long long& off, unsigned long long& val) {
    size_t colon = v.find(':');
    return colon != std::string_view::npos && parseUnsigned(v.substr(0, colon), off) &&
           parseUnsigned(v.substr(colon + 1), val) && val <= 255;
  };
  if (arg == "-c" || arg == "--chunk") { o.mode = qxAsmMode::Chunk; o.modeGiven = true; return ""; }
  if (arg == "-a" || arg == "--applet") { o.mode = qxAsmMode::Applet; o.modeGiven = true; return ""; }
  if (arg == "-z" || arg == "--packed") { o.mode = qxAsmMode::Packed; o.modeGiven = true; return ""; }
  if (arg == "--big-endian") { o.chunk.bigEndian = true; return ""; }
  if (auto v = value("--size-t")) {
    if (*v == "4") o.chunk.sizeT = 4;
    else if (*v == "8") o.chunk.sizeT = 8;
    else return "--size-t must be 4 or 8";
    return "";
  }
  if (auto v = value("--test-number")) {
    std::string s(*v);
    char* end = nullptr;
    double d = std::strtod(s.c_str(), &end);
    if (s.empty() || *end) return "bad --test-number value";
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    o.chunk.testNumberBits = bits;
    return "";
  }
  if (auto v = value("--break")) {
    if (*v == "testnumber") {
      double d = 31415927.0;
      uint64_t bits;
      std::memcpy(&bits, &d, 8);
      o.chunk.testNumberBits = bits;
      return "";
    }
    for (auto& b : kBreaks)
      if (*v == b.name) { o.chunk.headerBytes[b.offset] = b.value; return ""; }
    return "unknown --break field '" + std::string(*v) + "'";
  }
  if (auto v = value("--chunk-byte")) {
    unsigned long long off, val;
    if (!pair(*v, off, val)) return "--chunk-byte takes OFFSET:VALUE";
    o.chunk.headerBytes[size_t(off)] = uint8_t(val);
    return "";
  }
  if (auto v = value("--chunk-truncate")) {
    unsigned long long n;
    if (!parseUnsigned(*v, n)) return "bad --chunk-truncate value";
    o.chunk.truncate = size_t(n);
    return "";
  }
  if (auto v = value("--magic")) {
    std::string m;
    for (size_t i = 0; i < v->size(); i++) {  // "\0" and "\xHH" allowed
      if ((*v)[i] == '\\' && i + 1 < v->size() && (*v)[i + 1] == '0') { m += '\0'; i++; }
      else if ((*v)[i] == '\\' && i + 3 < v->size() && (*v)[i + 1] == 'x') {
        unsigned long long b;
        if (!parseUnsigned("0x" + std::string(v->substr(i + 2, 2)), b)) return "bad \\x in --magic";
        m += char(b);
        i += 3;
      } else m += (*v)[i];
    }
    if (m.size() > 4) return "--magic takes at most 4 bytes";
    o.magic = m;
    return "";
  }
  if (auto v = value("--patch")) {
    unsigned long long off, val;
    if (!pair(*v, off, val)) return "--patch takes OFFSET:VALUE";
    o.patches.emplace_back(size_t(off), uint8_t(val));
    return "";
  }
  if (auto v = value("--truncate")) {
    long long n;
    if (!parseSigned(*v, n)) return "bad --truncate value";
    o.truncate = n;
    return "";
  }
  return "unknown option '" + std::string(arg) + "'";
}
