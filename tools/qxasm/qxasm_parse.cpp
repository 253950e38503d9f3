// Listing parser: one line at a time into the function tree, then label,
// closure and local-variable references are resolved per function.
#include "qxasm.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>

namespace {

struct Token {
  std::string text;  // raw text (quoted strings: decoded contents)
  bool quoted = false;
};

bool isIdentStart(char c) { return std::isalpha((unsigned char)c) || c == '_'; }
bool isIdentChar(char c) { return std::isalnum((unsigned char)c) || c == '_'; }

bool isIdentifier(std::string_view s) {
  if (s.empty() || !isIdentStart(s[0])) return false;
  return std::all_of(s.begin(), s.end(), isIdentChar);
}

std::string lower(std::string_view s) {
  std::string r(s);
  std::transform(r.begin(), r.end(), r.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return r;
}

class Parser {
 public:
  Parser(std::string_view text, std::string_view fileName) : text_(text) {
    module_ = std::make_unique<qxAsmModule>();
    module_->fileName = std::string(fileName);
    module_->main = std::make_unique<qxAsmFunction>();
    module_->main->name = "main";
    size_t slash = module_->fileName.find_last_of('/');
    module_->main->source =
        slash == std::string::npos ? module_->fileName : module_->fileName.substr(slash + 1);
    current_ = module_->main.get();
  }

  std::unique_ptr<qxAsmModule> run() {
    size_t pos = 0;
    while (pos <= text_.size()) {
      size_t end = text_.find('\n', pos);
      if (end == std::string_view::npos) end = text_.size();
      line_++;
      std::string_view ln = text_.substr(pos, end - pos);
      if (!ln.empty() && ln.back() == '\r') ln.remove_suffix(1);
      parseLine(ln);
      pos = end + 1;
    }
    if (current_ != module_->main.get())
      fail("missing .end for function '" + current_->name + "' opened at line " +
               std::to_string(current_->defLine),
           current_->defLine);
    finishFunction(*current_);
    resolveAppletLabels();
    return std::move(module_);
  }

 private:
  [[noreturn]] void fail(const std::string& msg, int line = -1) {
    int l = line < 0 ? line_ : line;
    throw qxAsmError(module_->fileName + ":" + std::to_string(l) + ": " + msg, l);
  }

  // ---- lexing ----

  std::vector<Token> tokenize(std::string_view ln) {
    std::vector<Token> out;
    size_t i = 0;
    while (i < ln.size()) {
      char c = ln[i];
      if (c == ';') break;
      if (std::isspace((unsigned char)c) || c == ',') { i++; continue; }
      Token t;
      if (c == '"') {
        t.quoted = true;
        i++;
        bool closed = false;
        while (i < ln.size()) {
          char d = ln[i++];
          if (d == '"') { closed = true; break; }
          if (d != '\\') { t.text += d; continue; }
          if (i >= ln.size()) break;
          char e = ln[i++];
          switch (e) {
            case 'n': t.text += '\n'; break;
            case 't': t.text += '\t'; break;
            case 'r': t.text += '\r'; break;
            case 'a': t.text += '\a'; break;
            case '\\': t.text += '\\'; break;
            case '"': t.text += '"'; break;
            case '\'': t.text += '\''; break;
            case 'x': {
              int v = 0, n = 0;
              while (n < 2 && i < ln.size() && std::isxdigit((unsigned char)ln[i])) {
                char h = ln[i++];
                v = v * 16 + (std::isdigit((unsigned char)h) ? h - '0' : std::tolower(h) - 'a' + 10);
                n++;
              }
              if (n == 0) fail("bad \\x escape in string");
              t.text += char(v);
              break;
            }
            default:
              if (std::isdigit((unsigned char)e)) {
                int v = e - '0', n = 1;
                while (n < 3 && i < ln.size() && std::isdigit((unsigned char)ln[i])) {
                  v = v * 10 + (ln[i++] - '0');
                  n++;
                }
                if (v > 255) fail("decimal escape above 255 in string");
                t.text += char(v);
              } else {
                fail(std::string("unknown escape \\") + e + " in string");
              }
          }
        }
        if (!closed) fail("unterminated string");
      } else {
        while (i < ln.size() && !std::isspace((unsigned char)ln[i]) && ln[i] != ',' &&
               ln[i] != ';' && ln[i] != '"')
          t.text += ln[i++];
      }
      out.push_back(std::move(t));
    }
    return out;
  }

  // ---- operand helpers ----

  long long parseInteger(const Token& t, long long lo, long long hi, const char* what) {
    if (t.quoted) fail(std::string(what) + " expected, found a string");
    std::string s = t.text;
    const char* p = s.c_str();
    bool neg = false;
    if (*p == '-' || *p == '+') neg = *p++ == '-';
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) { base = 16; p += 2; }
    if (!*p) fail(std::string(what) + " expected, found '" + s + "'");
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(p, &end, base);
    if (*end || errno == ERANGE || v > (1ULL << 62) || std::isspace((unsigned char)*p) || *p == '-')
      fail(std::string(what) + " expected, found '" + s + "'");
    long long r = neg ? -(long long)v : (long long)v;
    if (r < lo || r > hi)
      fail(std::string(what) + " " + s + " out of range (" + std::to_string(lo) + " to " +
           std::to_string(hi) + ")");
    return r;
  }

  double parseNumber(const std::string& s) {
    errno = 0;
    char* end = nullptr;
    double d = std::strtod(s.c_str(), &end);
    if (s.empty() || *end || std::isspace((unsigned char)s[0])) fail("bad number '" + s + "'");
    return d;
  }

  int parseRegister(const Token& t, qxAsmFunction& f) {
    Token u = t;
    if (!u.quoted && u.text.size() > 1 && (u.text[0] == 'r' || u.text[0] == 'R')) u.text.erase(0, 1);
    if (t.quoted || u.text.empty() || !(std::isdigit((unsigned char)u.text[0])))
      fail("register expected, found '" + t.text + "' (write number constants as #N)");
    int r = int(parseInteger(u, 0, 254, "register"));
    touch(f, r);
    return r;
  }

  void touch(qxAsmFunction& f, int reg) { f.highestReg = std::max(f.highestReg, reg); }

  static bool sameConst(const qxAsmConst& a, const qxAsmConst& b) {
    if (a.type != b.type) return false;
    if (a.type == 3) return std::memcmp(&a.number, &b.number, sizeof(double)) == 0;
    if (a.type == 4) return a.text == b.text;
    return a.type == 0;
  }

  int addConst(qxAsmFunction& f, const qxAsmConst& k) {
    for (size_t i = 0; i < f.consts.size(); i++)
      if (sameConst(f.consts[i], k)) return int(i);
    f.consts.push_back(k);
    return int(f.consts.size() - 1);
  }

  // A constant written as a literal: "text", #number, nil. Returns nullopt for other tokens.
  std::optional<qxAsmConst> literal(const Token& t) {
    qxAsmConst k;
    if (t.quoted) { k.type = 4; k.text = t.text; return k; }
    if (lower(t.text) == "nil") { k.type = 0; return k; }
    if (!t.text.empty() && t.text[0] == '#') {
      k.type = 3;
      k.number = parseNumber(t.text.substr(1));
      return k;
    }
    return std::nullopt;
  }

  // Constant index for a K or RK operand; -1 when the token is no constant form.
  int constIndex(const Token& t, qxAsmFunction& f) {
    if (auto k = literal(t)) return addConst(f, *k);
    if (!t.quoted && t.text.size() > 1 && (t.text[0] == 'k' || t.text[0] == 'K') &&
        std::isdigit((unsigned char)t.text[1])) {
      Token u{t.text.substr(1), false};
      return int(parseInteger(u, 0, 0x3FFFF, "constant index"));
    }
    return -1;
  }

  int parseK(const Token& t, qxAsmFunction& f) {
    int k = constIndex(t, f);
    if (k < 0) fail("constant expected (\"text\", #number, nil or kN), found '" + t.text + "'");
    if (k > 0x3FFFF) fail("constant index " + std::to_string(k) + " too large");
    return k;
  }

  int parseRK(const Token& t, qxAsmFunction& f) {
    int k = constIndex(t, f);
    if (k < 0) return parseRegister(t, f);
    if (k + qxAsmRKBase > 511)
      fail("constant index " + std::to_string(k) + " too large for an RK operand (at most " +
           std::to_string(511 - qxAsmRKBase) + "); load it into a register with LOADK");
    return k + qxAsmRKBase;
  }

  // ---- lines ----

  void parseLine(std::string_view ln) {
    std::vector<Token> toks = tokenize(ln);
    size_t i = 0;
    // Leading "name:" labels.
    while (i < toks.size() && !toks[i].quoted && toks[i].text.size() > 1 && toks[i].text.back() == ':') {
      std::string name = toks[i].text.substr(0, toks[i].text.size() - 1);
      if (!isIdentifier(name)) fail("bad label name '" + name + "'");
      if (current_->labels.count(name)) fail("label '" + name + "' defined twice");
      current_->labels[name] = int(current_->code.size());
      i++;
    }
    if (i >= toks.size()) return;
    std::vector<Token> args(toks.begin() + long(i) + 1, toks.end());
    const Token& head = toks[i];
    if (head.quoted) fail("instruction or directive expected, found a string");
    if (head.text[0] == '.')
      directive(lower(head.text), args);
    else
      instruction(head.text, args);
  }

  void argCount(const std::vector<Token>& a, size_t lo, size_t hi, const std::string& what) {
    if (a.size() < lo || a.size() > hi) {
      std::string n = lo == hi ? std::to_string(lo) : std::to_string(lo) + " to " + std::to_string(hi);
      fail(what + " takes " + n + " operand" + (hi == 1 ? "" : "s") + ", found " + std::to_string(a.size()));
    }
  }

  bool atTop() const { return current_ == module_->main.get(); }

  void topOnly(const std::string& d) {
    if (!atTop()) fail(d + " is only allowed outside .function blocks");
  }

  void directive(const std::string& d, const std::vector<Token>& a) {
    qxAsmFunction& f = *current_;
    if (d == ".function") {
      argCount(a, 1, 1, d);
      if (!isIdentifier(a[0].text) || a[0].quoted) fail("bad function name '" + a[0].text + "'");
      for (auto& n : f.nested)
        if (n->name == a[0].text) fail("function '" + a[0].text + "' defined twice in '" + f.name + "'");
      auto fn = std::make_unique<qxAsmFunction>();
      fn->name = a[0].text;
      fn->defLine = line_;
      fn->lineDefined = line_;
      fn->parent = current_;
      current_ = fn.get();
      f.nested.push_back(std::move(fn));
    } else if (d == ".end") {
      argCount(a, 0, 0, d);
      if (atTop()) fail(".end without .function");
      finishFunction(f);
      current_ = f.parent;
    } else if (d == ".params") {
      argCount(a, 1, 1, d);
      f.params = int(parseInteger(a[0], 0, 255, "parameter count"));
    } else if (d == ".vararg") {
      argCount(a, 0, 0, d);
      f.vararg = true;
    } else if (d == ".upvalue") {
      if (a.empty()) fail(".upvalue takes one or more names");
      for (auto& t : a) f.upvalNames.push_back(t.text);
    } else if (d == ".upvalues") {
      argCount(a, 1, 1, d);
      f.upvalCount = int(parseInteger(a[0], 0, 255, "upvalue count"));
    } else if (d == ".local") {
      argCount(a, 3, 3, d);
      f.locals.push_back({a[0].text, a[1].text, a[2].text, 0, 0, line_});
    } else if (d == ".maxstack") {
      argCount(a, 1, 1, d);
      f.maxStack = int(parseInteger(a[0], 0, 255, "stack size"));
    } else if (d == ".source") {
      argCount(a, 1, 1, d);
      if (!a[0].quoted && lower(a[0].text) == "none") {
        f.sourceNone = true;
        f.source.reset();
      } else {
        f.sourceNone = false;
        f.source = a[0].text;
      }
    } else if (d == ".linedefined") {
      argCount(a, 1, 1, d);
      f.lineDefined = int(parseInteger(a[0], INT32_MIN, INT32_MAX, "line"));
    } else if (d == ".line") {
      argCount(a, 1, 1, d);
      if (!a[0].quoted && lower(a[0].text) == "auto")
        explicitLine_.reset();
      else
        explicitLine_ = int(parseInteger(a[0], INT32_MIN, INT32_MAX, "line"));
    } else if (d == ".nolines") {
      argCount(a, 0, 0, d);
      f.noLines = true;
    } else if (d == ".const") {
      if (a.empty()) fail(".const takes one or more constants");
      for (auto& t : a) {
        auto k = literal(t);
        if (!k) fail("constant expected (\"text\", #number or nil), found '" + t.text + "'");
        f.consts.push_back(*k);
      }
    } else if (d == ".rawconst") {
      argCount(a, 1, 1, d);
      qxAsmConst k;
      k.type = uint8_t(parseInteger(a[0], 0, 255, "constant type"));
      f.consts.push_back(k);
    } else if (d == ".word") {
      if (a.empty()) fail(".word takes one or more values");
      for (auto& t : a) emit(f, uint32_t(parseInteger(t, INT32_MIN, UINT32_MAX, "word")));
    } else if (d == ".version") {
      topOnly(d);
      module_->versionGiven = true;
      if (a.size() == 1 && lower(a[0].text) == "none") return;
      argCount(a, 2, 2, d);
      qxAsmSection s;
      s.tag = 10;
      module_->versionMajor = int(parseInteger(a[0], 0, 255, "major version"));
      module_->versionMinor = int(parseInteger(a[1], 0, 255, "minor version"));
      s.payload.push_back(uint8_t(module_->versionMajor));
      s.payload.push_back(uint8_t(module_->versionMinor));
      module_->sections.push_back(std::move(s));
    } else if (d == ".header") {
      topOnly(d);
      argCount(a, 2, 2, d);
      int n = int(parseInteger(a[0], 1, 6, "header string number"));
      if (!a[1].quoted) fail("header text must be a quoted string");
      qxAsmSection s;
      s.tag = uint8_t(n == 6 ? 34 : 10 + n);
      s.payload.assign(a[1].text.begin(), a[1].text.end());
      s.payload.push_back(0);
      module_->sections.push_back(std::move(s));
    } else if (d == ".encoding") {
      topOnly(d);
      argCount(a, 1, 1, d);
      std::string v = lower(a[0].text);
      qxAsmSection s;
      s.tag = 35;
      s.payload.push_back(v == "latin1" ? 0 : v == "utf8" ? 1 : uint8_t(parseInteger(a[0], 0, 255, "encoding")));
      module_->sections.push_back(std::move(s));
    } else if (d == ".label") {
      topOnly(d);
      argCount(a, 2, 2, d);
      if (a[0].text.empty()) fail("empty label name");
      bool first = module_->labels.empty();
      module_->labels.push_back({a[0].text, a[1].text, 0, line_});
      if (first) {
        qxAsmSection s;
        s.tag = 9;
        s.isLabelTable = true;
        module_->sections.push_back(std::move(s));
      }
    } else if (d == ".link" || d == ".linkext" || d == ".linkdrop") {
      topOnly(d);
      argCount(a, d == ".linkdrop" ? 1 : 2, d == ".linkdrop" ? 1 : 3, d);
      if (!a[0].quoted) fail("linked file name must be a quoted string");
      qxAsmSection s;
      s.tag = 26;
      be(s.payload, 1, 4);
      be(s.payload, 0, 4);
      s.payload.insert(s.payload.end(), a[0].text.begin(), a[0].text.end());
      s.payload.push_back(0);
      if (d == ".linkdrop") {
        be(s.payload, 0xFFFFFFFE, 4);
      } else {
        size_t used = 1;
        qxAsmBytes data = source(a, used);
        if (used != a.size()) fail(d + " takes a name and one source");
        if (d == ".link") {
          be(s.payload, data.size(), 4);
          s.payload.insert(s.payload.end(), data.begin(), data.end());
        } else {
          be(s.payload, 0xFFFFFFFF, 4);
          be(s.payload, data.size(), 4);
          s.dataFixups.push_back(s.payload.size());
          be(s.payload, module_->dataArea.size(), 4);
          module_->dataArea.insert(module_->dataArea.end(), data.begin(), data.end());
        }
      }
      module_->sections.push_back(std::move(s));
    } else if (d == ".linemap") {
      topOnly(d);
      argCount(a, 5, 6, d);
      int tag = int(parseInteger(a[0], 0, 255, "line-map tag"));
      if (tag != 8 && tag != 27 && tag != 33) fail(".linemap tag must be 8, 27 or 33");
      if (!a[4].quoted || (a.size() == 6 && !a[5].quoted)) fail(".linemap names must be quoted strings");
      if ((tag == 8) != (a.size() == 5)) fail(tag == 8 ? "tag 8 takes no source path" : "this tag needs a source path");
      qxAsmSection s;
      s.tag = uint8_t(tag);
      be(s.payload, 1, 4);
      for (int i = 1; i <= 3; i++) be(s.payload, uint64_t(parseInteger(a[size_t(i)], 0, UINT32_MAX, "line")), 4);
      for (size_t i = 4; i < a.size(); i++) {
        for (unsigned char c : a[i].text) s.payload.push_back(tag == 33 ? uint8_t(~c) : c);
        s.payload.push_back(tag == 33 ? 0xFF : 0);
      }
      module_->sections.push_back(std::move(s));
    } else if (d == ".constant") {
      topOnly(d);
      argCount(a, 2, 2, d);
      qxAsmSection s;
      s.tag = 31;
      s.payload.insert(s.payload.end(), a[0].text.begin(), a[0].text.end());
      s.payload.push_back(0);
      if (a[1].quoted) {
        s.payload.push_back(1);
        s.payload.insert(s.payload.end(), a[1].text.begin(), a[1].text.end());
        s.payload.push_back(0);
      } else {
        if (a[1].text.empty() || a[1].text[0] != '#') fail(".constant value must be \"text\" or #number");
        double v = parseNumber(a[1].text.substr(1));
        uint64_t bits;
        std::memcpy(&bits, &v, 8);
        s.payload.push_back(0);
        be(s.payload, bits, 8);
      }
      s.payload.push_back(0);  // the empty name ends the block
      module_->sections.push_back(std::move(s));
    } else if (d == ".icon") {
      topOnly(d);
      if (a.size() < 4) fail(".icon takes width, height, flags and a source");
      be(module_->icons, uint64_t(parseInteger(a[0], 1, 65535, "width")), 2);
      be(module_->icons, uint64_t(parseInteger(a[1], 0, 65535, "height")), 2);
      module_->icons.push_back(uint8_t(parseInteger(a[2], 0, 255, "flags")));
      size_t used = 3;
      qxAsmBytes data = source(a, used);
      if (used != a.size()) fail(".icon takes one source");
      be(module_->icons, data.size(), 4);
      module_->icons.insert(module_->icons.end(), data.begin(), data.end());
    } else if (d == ".object") {
      topOnly(d);
      object(a);
    } else if (d == ".section") {
      topOnly(d);
      if (a.empty()) fail(".section takes a tag and payload items");
      qxAsmSection s;
      s.tag = uint8_t(parseInteger(a[0], 0, 255, "section tag"));
      for (size_t i = 1; i < a.size(); i++) sectionItem(s.payload, a[i]);
      module_->sections.push_back(std::move(s));
    } else if (d == ".trailer") {
      topOnly(d);
      for (auto& t : a) sectionItem(module_->trailer, t);
    } else if (d == ".padding") {
      topOnly(d);
      argCount(a, 1, 1, d);
      module_->chunkPadding = size_t(parseInteger(a[0], 0, 1 << 20, "padding"));
    } else {
      fail("unknown directive '" + d + "'");
    }
  }

  static void be(qxAsmBytes& out, uint64_t x, int n) {
    for (int i = n - 1; i >= 0; i--) out.push_back(uint8_t(x >> (8 * i)));
  }

  // Data of a linked file or icon at a[used]: "bytes" or file: "path"
  // (relative to the listing). Advances used.
  qxAsmBytes source(const std::vector<Token>& a, size_t& used) {
    if (used >= a.size()) fail("data source expected (\"bytes\" or file: \"path\")");
    if (a[used].quoted) {
      const std::string& t = a[used++].text;
      return qxAsmBytes(t.begin(), t.end());
    }
    if (lower(a[used].text) != "file:" || used + 1 >= a.size() || !a[used + 1].quoted)
      fail("data source expected (\"bytes\" or file: \"path\"), found '" + a[used].text + "'");
    std::string path = a[used + 1].text;
    used += 2;
    size_t slash = module_->fileName.find_last_of('/');
    if (path.empty() || path[0] != '/')
      path = (slash == std::string::npos ? std::string() : module_->fileName.substr(0, slash + 1)) + path;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) fail("cannot read '" + path + "'");
    qxAsmBytes data;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
    std::fclose(f);
    return data;
  }

  bool atLeast(int major, int minor) const {
    return module_->versionMajor > major || (module_->versionMajor == major && module_->versionMinor >= minor);
  }

  // A reference into the data area: u32 offset (fixed up) and u32 size.
  void dataRef(qxAsmSection& s, size_t at, const qxAsmBytes& data) {
    if (data.empty()) return;
    s.dataFixups.push_back(at);
    uint32_t rel = uint32_t(module_->dataArea.size());
    for (int i = 0; i < 4; i++) s.payload[at + size_t(i)] = uint8_t(rel >> (8 * (3 - i)));
    for (int i = 0; i < 4; i++) s.payload[at + 4 + size_t(i)] = uint8_t(data.size() >> (8 * (3 - i)));
    module_->dataArea.insert(module_->dataArea.end(), data.begin(), data.end());
  }

  // .object KIND ID [text: "t"] [data: SRC] [a:V] [flags:V] [line:V]
  //         [loader: "l"] [adapter: "a"] payload items...
  void object(const std::vector<Token>& a) {
    if (a.size() < 2) fail(".object takes a kind, an identifier and items");
    if (module_->objectSection < 0) {
      qxAsmSection s;
      s.tag = 2;
      be(s.payload, 0, 4);
      module_->sections.push_back(std::move(s));
      module_->objectSection = int(module_->sections.size() - 1);
    }
    qxAsmSection& s = module_->sections[size_t(module_->objectSection)];
    qxAsmBytes text, data, payload;
    bool haveText = false;
    long long valueA = -1, flags = 0, line = 0;
    std::string loader, adapter;
    std::vector<size_t> payloadFixups;  // positions in payload of textref/dataref pairs
    std::vector<qxAsmBytes> payloadData;
    for (size_t i = 2; i < a.size();) {
      std::string key = a[i].quoted ? "" : lower(a[i].text);
      auto quotedAfter = [&]() -> const std::string& {
        if (i + 1 >= a.size() || !a[i + 1].quoted) fail(key + " takes a quoted string");
        i += 2;
        return a[i - 1].text;
      };
      if (key == "text:") {
        const std::string& t = quotedAfter();
        text.assign(t.begin(), t.end());
        text.push_back(0);
        haveText = true;
      } else if (key == "data:") {
        i++;
        data = source(a, i);
      } else if (key == "loader:") {
        loader = quotedAfter();
      } else if (key == "adapter:") {
        adapter = quotedAfter();
      } else if (key.rfind("a:", 0) == 0) {
        valueA = parseInteger(Token{a[i++].text.substr(2), false}, INT32_MIN, UINT32_MAX, "value");
      } else if (key.rfind("flags:", 0) == 0) {
        flags = parseInteger(Token{a[i++].text.substr(6), false}, 0, UINT32_MAX, "flags");
      } else if (key.rfind("line:", 0) == 0) {
        line = parseInteger(Token{a[i++].text.substr(5), false}, 0, UINT32_MAX, "line");
      } else if (key == "str:") {
        const std::string& t = quotedAfter();
        payload.insert(payload.end(), t.begin(), t.end());
        payload.push_back(0);
      } else if (key == "pstr:") {
        const std::string& t = quotedAfter();
        be(payload, t.size(), 2);
        payload.insert(payload.end(), t.begin(), t.end());
      } else if (key == "textref:" || key == "dataref:") {
        const std::string& t = quotedAfter();
        qxAsmBytes bytes(t.begin(), t.end());
        if (key == "textref:") bytes.push_back(0);
        payloadFixups.push_back(payload.size());
        payloadData.push_back(bytes);
        be(payload, 0, 8);
      } else if (a[i].quoted) {
        fail("payload strings are written str: \"...\" or pstr: \"...\"");
      } else {
        sectionItem(payload, a[i++]);
      }
    }
    qxAsmBytes& out = s.payload;
    out.push_back(uint8_t(parseInteger(a[0], 0, 255, "object kind")));
    be(out, uint64_t(parseInteger(a[1], INT32_MIN, UINT32_MAX, "identifier")), 4);
    size_t textAt = out.size();
    be(out, 0, 8);
    size_t dataAt = out.size();
    be(out, 0, 8);
    be(out, uint64_t(valueA), 4);
    be(out, uint64_t(flags), 4);
    be(out, uint64_t(line), 4);
    if (atLeast(6, 0)) {
      be(out, loader.size(), 2);
      out.insert(out.end(), loader.begin(), loader.end());
      be(out, adapter.size(), 2);
      out.insert(out.end(), adapter.begin(), adapter.end());
    }
    size_t payloadAt = out.size();
    out.insert(out.end(), payload.begin(), payload.end());
    if (haveText) dataRef(s, textAt, text);
    dataRef(s, dataAt, data);
    for (size_t k = 0; k < payloadFixups.size(); k++) dataRef(s, payloadAt + payloadFixups[k], payloadData[k]);
    module_->objectCount++;
    for (int k = 0; k < 4; k++) out[size_t(k)] = uint8_t(module_->objectCount >> (8 * (3 - k)));
  }

  // Section payload items: u8:V u16:V u32:V i16:V i32:V f64:V hex:AABB "string" (zero-terminated).
  void sectionItem(qxAsmBytes& out, const Token& t) {
    if (t.quoted) {
      out.insert(out.end(), t.text.begin(), t.text.end());
      out.push_back(0);
      return;
    }
    size_t colon = t.text.find(':');
    if (colon == std::string::npos) fail("section item expected (u8:, u16:, u32:, f64:, hex: or a string), found '" + t.text + "'");
    std::string kind = lower(t.text.substr(0, colon));
    Token v{t.text.substr(colon + 1), false};
    auto be = [&](uint64_t x, int n) {
      for (int i = n - 1; i >= 0; i--) out.push_back(uint8_t(x >> (8 * i)));
    };
    if (kind == "u8") be(uint64_t(parseInteger(v, -128, 255, "byte")), 1);
    else if (kind == "u16" || kind == "i16") be(uint64_t(parseInteger(v, -32768, 65535, "u16")), 2);
    else if (kind == "u32" || kind == "i32") be(uint64_t(parseInteger(v, INT32_MIN, UINT32_MAX, "u32")), 4);
    else if (kind == "f64") {
      double d = parseNumber(v.text);
      uint64_t bits;
      std::memcpy(&bits, &d, 8);
      be(bits, 8);
    } else if (kind == "hex") {
      if (v.text.size() % 2) fail("hex item needs an even number of digits");
      for (size_t i = 0; i < v.text.size(); i += 2) {
        Token b{"0x" + v.text.substr(i, 2), false};
        out.push_back(uint8_t(parseInteger(b, 0, 255, "hex byte")));
      }
    } else {
      fail("unknown section item kind '" + kind + "'");
    }
  }

  void emit(qxAsmFunction& f, uint32_t word) {
    f.code.push_back(word);
    f.lines.push_back(explicitLine_ ? *explicitLine_ : line_);
  }

  int jumpRef(const Token& t, qxAsmFunction& f, qxAsmFixup::Kind kind) {
    if (t.quoted) fail("jump target expected, found a string");
    if (!t.text.empty() && t.text[0] == '@') {
      Token u{t.text.substr(1), false};
      if (kind == qxAsmFixup::Jump) return int(parseInteger(u, -qxAsmMaxJ, qxAsmMaxJ + 1, "jump offset"));
      return int(parseInteger(u, -qxAsmMaxSBx, qxAsmMaxSBx + 1, "jump offset"));
    }
    if (!isIdentifier(t.text)) fail("jump target expected (label or @offset), found '" + t.text + "'");
    f.fixups.push_back({kind, f.code.size(), t.text, line_});
    return 0;
  }

  void instruction(const std::string& mnemonic, const std::vector<Token>& a) {
    qxAsmFunction& f = *current_;
    std::string m = lower(mnemonic);
    if (m == "gosub") {
      argCount(a, 1, 1, "GOSUB");
      int off = jumpRef(a[0], f, qxAsmFixup::Jump);
      emit(f, qxAsmEncodeJmp(off, 2));
      return;
    }
    int op = qxAsmFindOpcode(mnemonic);
    if (op < 0) fail("unknown instruction '" + mnemonic + "'");
    std::string name = qxAsmOpName(op);
    auto num = [&](const Token& t, int hi, const char* what) { return int(parseInteger(t, 0, hi, what)); };
    switch (op) {
      case QXOP_MOVE: case QXOP_LOADNIL: case QXOP_UNM: case QXOP_NOT: case QXOP_BNOT: {
        argCount(a, 2, 2, name);
        int ra = parseRegister(a[0], f), rb = parseRegister(a[1], f);
        emit(f, qxAsmEncodeABC(op, ra, rb, 0));
        break;
      }
      case QXOP_LOADK: case QXOP_GETGLOBAL: case QXOP_SETGLOBAL: {
        argCount(a, 2, 2, name);
        int ra = parseRegister(a[0], f);
        emit(f, qxAsmEncodeABx(op, ra, parseK(a[1], f)));
        break;
      }
      case QXOP_LOADNUM: {
        argCount(a, 2, 3, name);
        int ra = parseRegister(a[0], f);
        int b = num(a[1], 511, "number");
        int c = a.size() > 2 ? num(a[2], 511, "skip flag") : 0;
        emit(f, qxAsmEncodeABC(op, ra, b, c));
        break;
      }
      case QXOP_GETUPVAL: case QXOP_SETUPVAL: {
        argCount(a, 2, 2, name);
        int ra = parseRegister(a[0], f);
        Token u = a[1];
        if (!u.quoted && u.text.size() > 1 && (u.text[0] == 'u' || u.text[0] == 'U')) u.text.erase(0, 1);
        emit(f, qxAsmEncodeABC(op, ra, num(u, 511, "upvalue index"), 0));
        break;
      }
      case QXOP_GETTABLE: case QXOP_SELF: {
        argCount(a, 3, 3, name);
        int ra = parseRegister(a[0], f), rb = parseRegister(a[1], f);
        int c = parseRK(a[2], f);
        if (op == QXOP_SELF) touch(f, ra + 1);
        emit(f, qxAsmEncodeABC(op, ra, rb, c));
        break;
      }
      case QXOP_SETTABLE:
      case QXOP_ADD: case QXOP_SUB: case QXOP_MUL: case QXOP_DIV: case QXOP_IDIV: case QXOP_MOD:
      case QXOP_SHL: case QXOP_SHR: case QXOP_BOR: case QXOP_BAND: case QXOP_BXOR: case QXOP_POW: {
        argCount(a, 3, 3, name);
        int ra = parseRegister(a[0], f);
        int b = parseRK(a[1], f), c = parseRK(a[2], f);
        emit(f, qxAsmEncodeABC(op, ra, b, c));
        break;
      }
      case QXOP_EQ: case QXOP_LT: case QXOP_LE: {
        argCount(a, 3, 3, name);
        int flag = num(a[0], 255, "expected result (0 or 1)");
        int b = parseRK(a[1], f), c = parseRK(a[2], f);
        emit(f, qxAsmEncodeABC(op, flag, b, c));
        break;
      }
      case QXOP_NEWTABLE: {
        argCount(a, 1, 3, name);
        int ra = parseRegister(a[0], f);
        int b = a.size() > 1 ? num(a[1], 511, "array size code") : 0;
        int c = a.size() > 2 ? num(a[2], 511, "hash size") : 0;
        emit(f, qxAsmEncodeABC(op, ra, b, c));
        break;
      }
      case QXOP_CONCAT: {
        argCount(a, 3, 3, name);
        int ra = parseRegister(a[0], f), rb = parseRegister(a[1], f), rc = parseRegister(a[2], f);
        if (rc < rb) fail("CONCAT needs B <= C");
        emit(f, qxAsmEncodeABC(op, ra, rb, rc));
        break;
      }
      case QXOP_JMP: {
        argCount(a, 1, 2, name);
        int kind = a.size() > 1 ? num(a[1], 3, "jump kind") : 0;
        int off = jumpRef(a[0], f, qxAsmFixup::Jump);
        emit(f, qxAsmEncodeJmp(off, kind));
        break;
      }
      case QXOP_TEST: {
        argCount(a, 3, 3, name);
        int ra = parseRegister(a[0], f), rb = parseRegister(a[1], f);
        emit(f, qxAsmEncodeABC(op, ra, rb, num(a[2], 511, "test flag")));
        break;
      }
      case QXOP_CALL: case QXOP_TAILCALL: case QXOP_CALLSTATUS: case QXOP_TAILCALLSTATUS:
      case QXOP_RETURN: {
        argCount(a, op == QXOP_RETURN ? 1 : 3, 3, name);
        int ra = parseRegister(a[0], f);
        int b = a.size() > 1 ? num(a[1], 511, "B") : (op == QXOP_RETURN ? 1 : 0);
        int c = a.size() > 2 ? num(a[2], 511, "C") : 0;
        if (b > 0) touch(f, ra + b - 1 - (op == QXOP_RETURN ? 1 : 0));
        if (op != QXOP_RETURN && c > 1) touch(f, ra + c - 2);
        emit(f, qxAsmEncodeABC(op, ra, b, c));
        break;
      }
      case QXOP_FORLOOP: case QXOP_TFORPREP: {
        argCount(a, 2, 2, name);
        int ra = parseRegister(a[0], f);
        touch(f, ra + (op == QXOP_FORLOOP ? 2 : 1));
        int off = jumpRef(a[1], f, qxAsmFixup::SBx);
        emit(f, qxAsmEncodeAsBx(op, ra, off));
        break;
      }
      case QXOP_TFORLOOP: {
        argCount(a, 2, 2, name);
        int ra = parseRegister(a[0], f);
        int c = num(a[1], 511, "result count");
        touch(f, ra + c + 5);
        emit(f, qxAsmEncodeABC(op, ra, 0, c));
        break;
      }
      case QXOP_SETLIST: case QXOP_SETLISTO: {
        argCount(a, 2, 2, name);
        int ra = parseRegister(a[0], f);
        int bx = num(a[1], 0x3FFFF, "Bx");
        if (op == QXOP_SETLIST) touch(f, ra + (bx & 31) + 1);
        emit(f, qxAsmEncodeABx(op, ra, bx));
        break;
      }
      case QXOP_CLOSE: {
        argCount(a, 1, 1, name);
        emit(f, qxAsmEncodeABC(op, parseRegister(a[0], f), 0, 0));
        break;
      }
      case QXOP_CLOSURE: {
        if (a.size() < 2) fail("CLOSURE takes a register, a function and optional upvalue sources (rN, uN)");
        int ra = parseRegister(a[0], f);
        int bx = 0;
        size_t at = f.code.size();
        if (!a[1].quoted && !a[1].text.empty() && std::isdigit((unsigned char)a[1].text[0])) {
          bx = num(a[1], 0x3FFFF, "function index");
        } else {
          if (!isIdentifier(a[1].text)) fail("function name expected, found '" + a[1].text + "'");
          f.fixups.push_back({qxAsmFixup::Proto, at, a[1].text, line_, int(a.size()) - 2});
        }
        emit(f, qxAsmEncodeABx(op, ra, bx));
        for (size_t i = 2; i < a.size(); i++) {
          const std::string& s = a[i].text;
          if (a[i].quoted || s.size() < 2 || (std::tolower((unsigned char)s[0]) != 'r' && std::tolower((unsigned char)s[0]) != 'u'))
            fail("upvalue source expected (rN for a register, uN for an upvalue), found '" + s + "'");
          Token v{s.substr(1), false};
          if (std::tolower((unsigned char)s[0]) == 'r') {
            int r = int(parseInteger(v, 0, 254, "register"));
            touch(f, r);
            emit(f, qxAsmEncodeABC(QXOP_MOVE, 0, r, 0));
          } else {
            emit(f, qxAsmEncodeABC(QXOP_GETUPVAL, 0, int(parseInteger(v, 0, 511, "upvalue index")), 0));
          }
        }
        break;
      }
      default:
        fail("unhandled instruction '" + mnemonic + "'");
    }
  }

  // ---- resolution ----

  int labelPc(qxAsmFunction& f, const std::string& ref, int line) {
    if (!ref.empty() && (std::isdigit((unsigned char)ref[0]) || ref[0] == '-'))
      return int(parseInteger(Token{ref, false}, INT32_MIN, INT32_MAX, "pc"));
    auto it = f.labels.find(ref);
    if (it == f.labels.end()) fail("undefined label '" + ref + "' in function '" + f.name + "'", line);
    return it->second;
  }

  void finishFunction(qxAsmFunction& f) {
    for (auto& fx : f.fixups) {
      uint32_t& w = f.code[fx.pc];
      if (fx.kind == qxAsmFixup::Proto) {
        int idx = -1;
        for (size_t i = 0; i < f.nested.size(); i++)
          if (f.nested[i]->name == fx.target) idx = int(i);
        if (idx < 0) fail("no function '" + fx.target + "' inside '" + f.name + "'", fx.line);
        int want = f.nested[size_t(idx)]->upvalueCount();
        if (fx.pseudoCount >= 0 && fx.pseudoCount != want)
          fail("CLOSURE of '" + fx.target + "' gives " + std::to_string(fx.pseudoCount) +
                   " upvalue sources, the function has " + std::to_string(want),
               fx.line);
        w = qxAsmEncodeABx(QXOP_CLOSURE, int(w >> 24), idx);
        continue;
      }
      int target = labelPc(f, fx.target, fx.line);
      int off = target - int(fx.pc + 1);
      if (fx.kind == qxAsmFixup::Jump) {
        if (off < -qxAsmMaxJ || off > qxAsmMaxJ + 1) fail("jump to '" + fx.target + "' out of range", fx.line);
        w = qxAsmEncodeJmp(off, int(w >> 30));
      } else {
        if (off < -qxAsmMaxSBx || off > qxAsmMaxSBx + 1) fail("jump to '" + fx.target + "' out of range", fx.line);
        w = qxAsmEncodeAsBx(int(w & 0x3F), int(w >> 24), off);
      }
    }
    for (auto& l : f.locals) {
      l.startPc = labelPc(f, l.startRef, l.line);
      l.endPc = labelPc(f, l.endRef, l.line);
    }
    if (f.maxStack < 0 && f.stackSize() > 255)
      fail("function '" + f.name + "' needs more than 255 stack slots", f.defLine);
  }

  void resolveAppletLabels() {
    for (auto& l : module_->labels) l.value = labelPc(*module_->main, l.target, l.line);
  }

  std::string_view text_;
  int line_ = 0;
  std::optional<int> explicitLine_;
  std::unique_ptr<qxAsmModule> module_;
  qxAsmFunction* current_ = nullptr;
};

}  // namespace

int qxAsmFunction::stackSize() const {
  if (maxStack >= 0) return maxStack;
  return std::max({highestReg + 1, params + (vararg ? 1 : 0), 2});
}

std::unique_ptr<qxAsmModule> qxAsmParse(std::string_view text, std::string_view fileName) {
  return Parser(text, fileName).run();
}
