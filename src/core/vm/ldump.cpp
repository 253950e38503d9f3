// Writing script functions as binary chunks (little-endian, 8-byte sizes).
#include <cstring>
#include <type_traits>

#include "core/vm/lopcodes.h"
#include "core/vm/lundump.h"

namespace {

struct DumpState {
    lua_State *L;
    lua_Chunkwriter writer;
    void *data;
    int status;
};

void dumpblock(DumpState *D, const void *b, size_t size) {
    if (D->status == 0 && size > 0) D->status = D->writer(D->L, b, size, D->data);
}

// Integers are written little-endian whatever the host order.
template <typename T> void dumple(DumpState *D, T x) {
    unsigned char buf[sizeof(T)];
    uint64_t v;
    if constexpr (sizeof(T) == 8 && std::is_floating_point_v<T>) std::memcpy(&v, &x, 8);
    else v = static_cast<uint64_t>(x);
    for (size_t i = 0; i < sizeof(T); i++) buf[i] = static_cast<unsigned char>(v >> (8 * i));
    dumpblock(D, buf, sizeof(T));
}

void dumpbyte(DumpState *D, int b) {
    unsigned char c = static_cast<unsigned char>(b);
    dumpblock(D, &c, 1);
}

void dumpint(DumpState *D, int x) { dumple<uint32_t>(D, static_cast<uint32_t>(x)); }

void dumpstring(DumpState *D, const TString *s) {
    if (s == nullptr) {
        dumple<uint64_t>(D, 0);
        return;
    }
    dumple<uint64_t>(D, s->len + 1);
    dumpblock(D, getstr(s), s->len + 1);
}

void dumpfunction(DumpState *D, const Proto *f, const TString *parent) {
    dumpstring(D, (f->source == parent) ? nullptr : f->source);
    dumpint(D, f->linedefined);
    dumpbyte(D, f->nups);
    dumpbyte(D, f->numparams);
    dumpbyte(D, f->is_vararg);
    dumpbyte(D, f->maxstacksize);
    dumpint(D, f->sizelineinfo);
    for (int i = 0; i < f->sizelineinfo; i++) dumpint(D, f->lineinfo[i]);
    dumpint(D, f->sizelocvars);
    for (int i = 0; i < f->sizelocvars; i++) {
        dumpstring(D, f->locvars[i].varname);
        dumpint(D, f->locvars[i].startpc);
        dumpint(D, f->locvars[i].endpc);
    }
    dumpint(D, f->sizeupvalues);
    for (int i = 0; i < f->sizeupvalues; i++) dumpstring(D, f->upvalues[i]);
    dumpint(D, f->sizek);
    for (int i = 0; i < f->sizek; i++) {
        const TValue *o = &f->k[i];
        dumpbyte(D, ttype(o));
        if (ttisnumber(o)) dumple<double>(D, nvalue(o));
        else if (ttisstring(o)) dumpstring(D, tsvalue(o));
    }
    dumpint(D, f->sizep);
    for (int i = 0; i < f->sizep; i++) dumpfunction(D, f->p[i], f->source);
    dumpint(D, f->sizecode);
    for (int i = 0; i < f->sizecode; i++) dumple<uint32_t>(D, f->code[i]);
}

void dumpheader(DumpState *D) {
    static const unsigned char header[] = {27, 'Q', 'X', 'B', 1, 4, 8, 4, 6, 8, 9, 9, 8};
    dumpblock(D, header, sizeof header);
    dumple<double>(D, TEST_NUMBER);
}

} // namespace

int luaU_dump(lua_State *L, const Proto *f, lua_Chunkwriter w, void *data) {
    DumpState D{L, w, data, 0};
    dumpheader(&D);
    dumpfunction(&D, f, nullptr);
    return D.status;
}
