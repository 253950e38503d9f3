// Auxiliary library of the VM interface: argument checks, registry access,
// references, string buffers, command and constant registration, labels.
#pragma once
#include <cstddef>

#include "core/commands/qx_commands.h"
#include "core/vm/lua.h"

typedef qxCommandDef luaL_reg;

// Bytes collected in a buffer before they go to the stack as one piece.
#define LUAL_BUFFERSIZE 1024

struct luaL_Buffer {
    char *p;   // next free byte of buffer
    int lvl;   // pieces on the stack
    lua_State *L;
    char buffer[LUAL_BUFFERSIZE];
};

extern "C" {

// Argument checks; a failure stores the argument position and raises.
lua_Number luaL_checknumber(lua_State *L, int narg);
lua_Number luaL_optnumber(lua_State *L, int narg, lua_Number def);
int luaL_checkint(lua_State *L, int narg);
int luaL_optint(lua_State *L, int narg, int def);
const char *luaL_checklstring(lua_State *L, int narg, size_t *len);
const char *luaL_optlstring(lua_State *L, int narg, const char *def, size_t *len);
void luaL_checktable(lua_State *L, int narg);
void luaL_checkfunction(lua_State *L, int narg);
void *luaL_checkuserdata(lua_State *L, int narg);
void luaL_checktype(lua_State *L, int narg, int t);
// As the argument checks for a table field already on the stack at idx; a
// failure names the field (1189, 1247).
lua_Number luaL_checkfieldnumber(lua_State *L, int idx, const char *field);
const char *luaL_checkfieldlstring(lua_State *L, int idx, const char *field, size_t *len);
// Truncation of a script number to an int the way the argument readers do it.
int luaL_numbertoint(lua_Number d);

// Metatables.
int luaL_getmetafield(lua_State *L, int obj, const char *event);
int luaL_callmeta(lua_State *L, int obj, const char *event);
int luaL_newmetatable(lua_State *L, const char *tname);
void luaL_getmetatable(lua_State *L, const char *tname);
void *luaL_checkudata(lua_State *L, int ud, const char *tname);

// Registry values by name.
void *luaL_getregptr(lua_State *L, const char *name);
const char *luaL_getregstr(lua_State *L, const char *name);
lua_Number luaL_getregnum(lua_State *L, const char *name);
void luaL_setregptr(lua_State *L, const char *name, void *p);
void luaL_setregstr(lua_State *L, const char *name, const char *s);
void luaL_setregnum(lua_State *L, const char *name, lua_Number n);

// References into the table at t (LUA_REGISTRYINDEX for callbacks). A nil
// value gives LUA_REFNIL and is popped.
#define LUA_NOREF (-2)
#define LUA_REFNIL (-1)
int luaL_ref(lua_State *L, int t);
void luaL_unref(lua_State *L, int t, int ref);
int luaL_getn(lua_State *L, int t);
void luaL_setn(lua_State *L, int t, int n);

// String buffers.
void luaL_buffinit(lua_State *L, luaL_Buffer *B);
char *luaL_prepbuffer(luaL_Buffer *B);
void luaL_addlstring(luaL_Buffer *B, const char *s, size_t l);
void luaL_addstring(luaL_Buffer *B, const char *s);
void luaL_addvalue(luaL_Buffer *B);
void luaL_pushresult(luaL_Buffer *B);

// Commands and constants.
// names: the rows' names prepared when the program is built (qxNamesOf), or null.
int luaL_openlib(lua_State *L, const char *libname, const luaL_reg *l, int nup, const qxNames *names = nullptr);
void luaL_registerconstants(lua_State *L, const qxConstantDef *rows, int user, const qxNames *names = nullptr);
int luaL_findstring(const char *name, const char *const list[]);
int luaL_getconstant(lua_State *L, const char *name, const char **str, lua_Number *num);

// Loads a chunk held whole in memory (lua_load's status).
int luaL_loadbuffer(lua_State *L, const char *data, size_t size, const char *chunkname);

// Labels of Gosub targets.
int luaL_findlabel(lua_State *L, const char *name);
void luaL_setlabel(lua_State *L, const char *name, int pc);

} // extern "C"

#define luaL_addchar(B, c) \
    ((void)((B)->p < ((B)->buffer + LUAL_BUFFERSIZE) || luaL_prepbuffer(B)), (*(B)->p++ = static_cast<char>(c)))
#define luaL_addsize(B, n) ((B)->p += (n))
#define luaL_checkstring(L, n) (luaL_checklstring(L, (n), nullptr))
#define luaL_optstring(L, n, d) (luaL_optlstring(L, (n), (d), nullptr))
