// Binary chunks: the stream reader, the loader and the dumper.
#pragma once
#include "core/vm/lstate.h"

struct ZIO {
    size_t n;          // bytes still unread in the block
    const char *p;     // current position
    lua_Chunkreader reader;
    void *data;
    const char *name;
};

void luaZ_init(ZIO *z, lua_Chunkreader reader, void *data, const char *name);

Proto *luaU_undump(lua_State *L, ZIO *Z, Mbuffer *buff);
int luaU_dump(lua_State *L, const Proto *f, lua_Chunkwriter w, void *data);

// Test number written by the dumper; the loader accepts any value that truncates to 31415926.
#define TEST_NUMBER 31415926.535897933
