// Interned strings and full userdata allocation.
#pragma once
#include <cstring>

#include "core/vm/lstate.h"

// The string hash: the length mixed with the characters from the last
// backwards, every one of a short string and a sample of a long one.
inline uint32_t luaS_hashstep(uint32_t h, char c) { return h ^ ((h << 5) + (h >> 2) + static_cast<unsigned char>(c)); }
inline uint32_t luaS_hash(const char *str, size_t l) {
    uint32_t h = static_cast<uint32_t>(l);
    size_t step = (l >> 5) + 1;
    size_t l1 = l;
    if (step == 1) {
        // Every character: four per round spare three loop tests.
        for (; l1 >= 4; l1 -= 4)
            h = luaS_hashstep(luaS_hashstep(luaS_hashstep(luaS_hashstep(h, str[l1 - 1]), str[l1 - 2]), str[l1 - 3]), str[l1 - 4]);
    }
    for (; l1 >= step; l1 -= step) h = luaS_hashstep(h, str[l1 - 1]);
    return h;
}
TString *luaS_newlstr(lua_State *L, const char *str, size_t l);
// Interns str whose hash h is already known.
TString *luaS_newlstrhash(lua_State *L, const char *str, size_t l, uint32_t h);
// Interns name in lower case (ASCII), cut at max characters (at most 255).
TString *luaS_newlower(lua_State *L, const char *name, size_t max);
inline TString *luaS_new(lua_State *L, const char *s) { return luaS_newlstr(L, s, std::strlen(s)); }
void luaS_resize(lua_State *L, int newsize);
void luaS_freeall(lua_State *L);
Udata *luaS_newudata(lua_State *L, size_t s);
inline size_t sizestring(size_t l) { return sizeof(TString) + l + 1; }
inline size_t sizeudata(size_t l) { return sizeof(Udata) + l; }
