// The table entry stream and function records of table and function
// files (and of the preferences file).
#pragma once
#include <cstdint>

#include "core/vm/lua.h"

struct qxFileHandle;
struct qxMemCursor;

extern "C" {
// Writes the entry stream of the table at idx, end tag included, to the
// file or the memory cursor; with a counter nothing is written and the
// stream's size is added to it. 0 or an error code.
int qxWriteTableStream(lua_State *L, int idx, qxFileHandle *h, qxMemCursor *cursor, uint64_t *counter);
// Reads one entry stream into a new table (pushed) or, with fillTop, into
// the table on the stack top. 0 or an error code.
int qxReadTableStream(lua_State *L, qxFileHandle *h, qxMemCursor *cursor, int fillTop);
// Writes the function at idx as a record (length and bytecode) or, encoded,
// as 8 hexadecimal digits and Base64 text.
int qxWriteFunctionData(lua_State *L, qxFileHandle *h, int idx, int encoded, int noLineBreak, qxMemCursor *cursor,
                        uint64_t *counter);
// Reads a record (or its encoded form) and pushes the loaded function.
int qxReadFunctionData(lua_State *L, qxFileHandle *h, int encoded, qxMemCursor *cursor);
}
