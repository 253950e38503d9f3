// Loading binary chunks: header checks, byte order, function records, code check.
#include <cstring>
#include <utility>
#include <vector>

#include "core/vm/ldo.h"
#include "core/vm/lfunc.h"
#include "core/vm/lopcodes.h"
#include "core/vm/lstring.h"
#include "core/vm/lundump.h"

// Nesting of function records deeper than this is refused.
#define MAXNESTING 200

void luaZ_init(ZIO *z, lua_Chunkreader reader, void *data, const char *name) {
    z->reader = reader;
    z->data = data;
    z->name = name;
    z->n = 0;
    z->p = nullptr;
}

namespace {

struct LoadState {
    lua_State *L;
    ZIO *Z;
    Mbuffer *b;
    bool swap;
    int sizet;
    int depth;
};

[[noreturn]] void fail(LoadState *S, int code) { luaG_raisecode(S->L, code); }

void loadblock(LoadState *S, void *out, size_t size) {
    char *dst = static_cast<char *>(out);
    ZIO *z = S->Z;
    while (size > 0) {
        if (z->n == 0) {
            size_t got = 0;
            const char *buf = z->reader(S->L, z->data, &got);
            if (buf == nullptr || got == 0) fail(S, 1198);
            z->p = buf;
            z->n = got;
        }
        size_t m = size < z->n ? size : z->n;
        std::memcpy(dst, z->p, m);
        z->p += m;
        z->n -= m;
        dst += m;
        size -= m;
    }
}

int loadbyte(LoadState *S) {
    unsigned char c;
    loadblock(S, &c, 1);
    return c;
}

void loadswapped(LoadState *S, void *out, size_t size) {
    loadblock(S, out, size);
    if (S->swap) {
        unsigned char *p = static_cast<unsigned char *>(out);
        for (size_t i = 0; i < size / 2; i++) std::swap(p[i], p[size - 1 - i]);
    }
}

int loadint(LoadState *S) {
    int32_t x;
    loadswapped(S, &x, 4);
    return x;
}

int loadcount(LoadState *S) {
    int x = loadint(S);
    if (x < 0) fail(S, 1200);
    return x;
}

uint64_t loadsize(LoadState *S) {
    if (S->sizet == 4) {
        uint32_t x;
        loadswapped(S, &x, 4);
        return x;
    }
    uint64_t x;
    loadswapped(S, &x, 8);
    return x;
}

lua_Number loadnumber(LoadState *S) {
    lua_Number x;
    loadswapped(S, &x, 8);
    return x;
}

// A string: length n (terminator included), n = 0 for none. The bytes are read
// in pieces so that a false length cannot claim more memory than the input has.
TString *loadstring(LoadState *S) {
    uint64_t size = loadsize(S);
    if (size == 0) return nullptr;
    if (size > static_cast<uint64_t>(static_cast<size_t>(-1) / 4)) fail(S, 1198);
    size_t got = 0;
    while (got < size) {
        size_t piece = size - got < 65536 ? static_cast<size_t>(size - got) : 65536;
        char *buf = luaZ_openspace(S->L, S->b, got + piece);
        loadblock(S, buf + got, piece);
        got += piece;
    }
    return luaS_newlstr(S->L, S->b->buffer, got - 1);
}

TString *loadname(LoadState *S) {
    TString *s = loadstring(S);
    return s ? s : luaS_newlstr(S->L, "", 0);
}

// Reads count items with the reader function, growing as they arrive.
template <typename T, typename F> void loadarray(LoadState *S, T *&arr, int &size, int count, F readone) {
    std::vector<T> items;
    items.reserve(count < 1024 ? static_cast<size_t>(count) : 1024);
    for (int i = 0; i < count; i++) items.push_back(readone());
    arr = luaM_newvector<T>(S->L, items.size());
    if (!items.empty()) std::memcpy(static_cast<void *>(arr), items.data(), sizeof(T) * items.size());
    size = count;
}

Proto *loadfunction(LoadState *S, TString *p);

void loadconstants(LoadState *S, Proto *f) {
    int n = loadcount(S);
    std::vector<TValue> items;
    for (int i = 0; i < n; i++) {
        TValue o;
        o.hint = 0;
        int t = loadbyte(S);
        switch (t) {
        case LUA_TNUMBER: setnvalue(&o, loadnumber(S)); break;
        case LUA_TSTRING: setsvalue(&o, loadname(S)); break;
        case LUA_TNIL: setnilvalue(&o); break;
        default: fail(S, 1202);
        }
        items.push_back(o);
    }
    f->k = luaM_newvector<TValue>(S->L, items.size());
    if (!items.empty()) std::memcpy(static_cast<void *>(f->k), items.data(), sizeof(TValue) * items.size());
    f->sizek = n;
}

Proto *loadfunction(LoadState *S, TString *parent) {
    if (++S->depth > MAXNESTING) fail(S, 1203);
    lua_State *L = S->L;
    Proto *f = luaF_newproto(L);
    f->source = loadstring(S);
    if (f->source == nullptr) f->source = parent;
    f->linedefined = loadint(S);
    if (f->linedefined < 0) fail(S, 1200);
    f->nups = static_cast<lu_byte>(loadbyte(S));
    f->numparams = static_cast<lu_byte>(loadbyte(S));
    f->is_vararg = static_cast<lu_byte>(loadbyte(S));
    f->maxstacksize = static_cast<lu_byte>(loadbyte(S));
    loadarray(S, f->lineinfo, f->sizelineinfo, loadcount(S), [&] {
        int line = loadint(S);
        if (line < 0) fail(S, 1200);
        return line;
    });
    loadarray(S, f->locvars, f->sizelocvars, loadcount(S), [&] {
        LocVar v;
        v.varname = loadname(S);
        v.startpc = loadint(S);
        v.endpc = loadint(S);
        return v;
    });
    int nupnames = loadcount(S);
    if (nupnames != 0 && nupnames != f->nups) fail(S, 1201);
    loadarray(S, f->upvalues, f->sizeupvalues, nupnames, [&] { return loadname(S); });
    loadconstants(S, f);
    loadarray(S, f->p, f->sizep, loadcount(S), [&] { return loadfunction(S, f->source); });
    loadarray(S, f->code, f->sizecode, loadcount(S), [&] {
        Instruction i;
        loadswapped(S, &i, 4);
        return i;
    });
    if (!luaG_checkcode(f)) fail(S, 1203);
    S->depth--;
    return f;
}

void loadheader(LoadState *S) {
    static const char signature[4] = {27, 'Q', 'X', 'B'};
    for (char c : signature)
        if (loadbyte(S) != static_cast<unsigned char>(c)) fail(S, 1204);
    S->swap = loadbyte(S) != 1;
    if (loadbyte(S) != 4) fail(S, 1199);
    S->sizet = loadbyte(S);
    if (S->sizet != 4 && S->sizet != 8) fail(S, 1199);
    static const int expected[] = {4, 6, 8, 9, 9, 8};
    for (int e : expected)
        if (loadbyte(S) != e) fail(S, 1199);
    lua_Number x = loadnumber(S);
    if (!(x >= 31415926.0 && x < 31415927.0)) fail(S, 1205);
}

} // namespace

Proto *luaU_undump(lua_State *L, ZIO *Z, Mbuffer *buff) {
    LoadState S{L, Z, buff, false, 8, 0};
    loadheader(&S);
    return loadfunction(&S, nullptr);
}
