// Test-local writer of binary chunks, independent of the VM's dumper.
#pragma once
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/vm/lopcodes.h"
#include "core/vm/lua.h"

namespace chunktest {

struct Const {
    int type; // 0 nil, 3 number, 4 string
    double n = 0;
    std::string s;
};
inline Const num(double n) { return Const{3, n, {}}; }
inline Const str(std::string s) { return Const{4, 0, std::move(s)}; }
inline Const nil() { return Const{0, 0, {}}; }

// RK operand of constant i.
inline int K(int i) { return MAXSTACK + i; }

struct LocVarSpec {
    std::string name;
    int startpc, endpc;
};

struct Func {
    std::optional<std::string> source = std::string("=test");
    int linedefined = 0;
    int nups = 0, numparams = 0, vararg = 0, maxstack = 10;
    std::vector<int> lines; // empty: one line per instruction, counting from 1
    std::vector<LocVarSpec> locvars;
    std::vector<std::string> upnames;
    std::vector<Const> k;
    std::vector<Func> p;
    std::vector<uint32_t> code;
};

struct Writer {
    bool big = false;
    int sizet = 8;
    double test = 31415926.535897933;
    std::string out;

    void bytes(const void *p, size_t n, bool swapped) {
        const unsigned char *b = static_cast<const unsigned char *>(p);
        if (swapped)
            for (size_t i = n; i > 0; i--) out += static_cast<char>(b[i - 1]);
        else
            out.append(reinterpret_cast<const char *>(b), n);
    }
    void u8(int v) { out += static_cast<char>(v); }
    void i32(int32_t v) { bytes(&v, 4, big); }
    void u32(uint32_t v) { bytes(&v, 4, big); }
    void size(uint64_t v) {
        if (sizet == 4) { uint32_t x = static_cast<uint32_t>(v); bytes(&x, 4, big); }
        else bytes(&v, 8, big);
    }
    void number(double d) { bytes(&d, 8, big); }
    void string(const std::optional<std::string> &s) {
        if (!s) { size(0); return; }
        size(s->size() + 1);
        out += *s;
        out += '\0';
    }
    void header() {
        out += "\x1bQXB";
        u8(big ? 0 : 1);
        u8(4); u8(sizet); u8(4); u8(6); u8(8); u8(9); u8(9); u8(8);
        number(test);
    }
    void function(const Func &f) {
        string(f.source);
        i32(f.linedefined);
        u8(f.nups); u8(f.numparams); u8(f.vararg); u8(f.maxstack);
        std::vector<int> lines = f.lines;
        if (lines.empty())
            for (size_t i = 0; i < f.code.size(); i++) lines.push_back(static_cast<int>(i) + 1);
        i32(static_cast<int32_t>(lines.size()));
        for (int l : lines) i32(l);
        i32(static_cast<int32_t>(f.locvars.size()));
        for (const auto &v : f.locvars) { string(v.name); i32(v.startpc); i32(v.endpc); }
        i32(static_cast<int32_t>(f.upnames.size()));
        for (const auto &u : f.upnames) string(u);
        i32(static_cast<int32_t>(f.k.size()));
        for (const auto &c : f.k) {
            u8(c.type);
            if (c.type == 3) number(c.n);
            else if (c.type == 4) string(c.s);
        }
        i32(static_cast<int32_t>(f.p.size()));
        for (const auto &sub : f.p) {
            Func copy = sub;
            if (copy.source == f.source) copy.source.reset(); // same source as the parent
            function(copy);
        }
        i32(static_cast<int32_t>(f.code.size()));
        for (uint32_t i : f.code) u32(i);
    }
};

inline std::string chunk(const Func &f, bool big = false, int sizet = 8) {
    Writer w;
    w.big = big;
    w.sizet = sizet;
    w.header();
    w.function(f);
    return w.out;
}

// Reader handing out the chunk in pieces of the given size.
struct Source {
    const std::string *data;
    size_t pos = 0;
    size_t piece;
};

inline const char *readPieces(lua_State *, void *ud, size_t *size) {
    Source *s = static_cast<Source *>(ud);
    if (s->pos >= s->data->size()) { *size = 0; return nullptr; }
    size_t n = s->data->size() - s->pos;
    if (n > s->piece) n = s->piece;
    const char *p = s->data->data() + s->pos;
    s->pos += n;
    *size = n;
    return p;
}

inline int load(lua_State *L, const std::string &bytes, size_t piece = 1 << 20) {
    Source src{&bytes, 0, piece};
    return lua_load(L, readPieces, &src, "=test");
}

inline int writeString(lua_State *, const void *p, size_t n, void *ud) {
    static_cast<std::string *>(ud)->append(static_cast<const char *>(p), n);
    return 0;
}

} // namespace chunktest
