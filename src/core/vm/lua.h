// Public interface of the script VM: the stack-based functions through which
// command handlers, the start-up code and plug-ins reach the VM.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>

extern "C" {

typedef struct lua_State lua_State;
struct CallInfo;

typedef double lua_Number;

// A command handler returns 0..999 results, -1/-2 for a Gosub to a label,
// or an error code of 1000 and above.
typedef int (*lua_CFunction)(lua_State *L);

// Stream reader for lua_load: returns the next block, none or size 0 ends it.
typedef const char *(*lua_Chunkreader)(lua_State *L, void *data, size_t *size);
// Writer for lua_dump: returns non-zero to stop.
typedef int (*lua_Chunkwriter)(lua_State *L, const void *p, size_t size, void *data);

#define LUA_REGISTRYINDEX (-10000)
#define LUA_GLOBALSINDEX (-10001)
#define lua_upvalueindex(i) (LUA_GLOBALSINDEX - (i))

#define LUA_MULTRET (-1)
#define LUA_MINSTACK 20

#define LUA_TNONE (-1)
#define LUA_TNIL 0
#define LUA_TBOOLEAN 1
#define LUA_TLIGHTUSERDATA 2
#define LUA_TNUMBER 3
#define LUA_TSTRING 4
#define LUA_TTABLE 5
#define LUA_TFUNCTION 6
#define LUA_TUSERDATA 7
#define LUA_TTHREAD 8

// Hook events and masks.
#define LUA_HOOKCALL 0
#define LUA_HOOKRET 1
#define LUA_HOOKLINE 2
#define LUA_HOOKCOUNT 3
#define LUA_HOOKTAILRET 4
#define LUA_MASKCALL (1 << LUA_HOOKCALL)
#define LUA_MASKRET (1 << LUA_HOOKRET)
#define LUA_MASKLINE (1 << LUA_HOOKLINE)
#define LUA_MASKCOUNT (1 << LUA_HOOKCOUNT)

#define LUA_IDSIZE 60

typedef struct lua_Debug {
    int event;
    const char *name;     // (n)
    const char *namewhat; // (n) "global", "local", "field", "method" or ""
    const char *what;     // (S) "Zephyrane", "C", "main", "tail"
    const char *source;   // (S)
    int currentline;      // (l)
    int nups;             // (u)
    int linedefined;      // (S)
    char short_src[LUA_IDSIZE]; // (S)
    int i_ci;             // frame of the function (private)
} lua_Debug;

// A hook stores a non-zero code in *result to stop the script with it.
typedef void (*lua_Hook)(lua_State *L, lua_Debug *ar, int *result, CallInfo *frame);

// State
lua_State *lua_open(void);
void lua_close(lua_State *L);
// lua_close for a process about to exit: finalizers run, the memory goes
// back with the process (sanitized builds free it, for their leak checks).
void lua_closeatexit(lua_State *L);

// Basic stack manipulation
int lua_gettop(lua_State *L);
void lua_settop(lua_State *L, int idx);
void lua_pushvalue(lua_State *L, int idx);
void lua_remove(lua_State *L, int idx);
void lua_insert(lua_State *L, int idx);
void lua_replace(lua_State *L, int idx);
int lua_checkstack(lua_State *L, int sz);

// Access functions
int lua_isnumber(lua_State *L, int idx);
int lua_isstring(lua_State *L, int idx);
int lua_iscfunction(lua_State *L, int idx);
int lua_isuserdata(lua_State *L, int idx);
int lua_type(lua_State *L, int idx);
const char *lua_typename(lua_State *L, int tp);
int lua_equal(lua_State *L, int idx1, int idx2);
int lua_rawequal(lua_State *L, int idx1, int idx2);
int lua_lessthan(lua_State *L, int idx1, int idx2, int collate);
lua_Number lua_tonumber(lua_State *L, int idx);
int lua_toboolean(lua_State *L, int idx);
const char *lua_tostring(lua_State *L, int idx);
size_t lua_strlen(lua_State *L, int idx);
lua_CFunction lua_tocfunction(lua_State *L, int idx);
void *lua_touserdata(lua_State *L, int idx);
const void *lua_topointer(lua_State *L, int idx);

// Push functions
void lua_pushnil(lua_State *L);
void lua_pushnumber(lua_State *L, lua_Number n);
void lua_pushlstring(lua_State *L, const char *s, size_t l);
void lua_pushstring(lua_State *L, const char *s);
void lua_pushcclosure(lua_State *L, lua_CFunction fn, int n);
void lua_pushboolean(lua_State *L, int b);
void lua_pushlightuserdata(lua_State *L, void *p);

// Get functions
void lua_gettable(lua_State *L, int idx);
void lua_rawget(lua_State *L, int idx);
void lua_rawgeti(lua_State *L, int idx, int n);
void lua_newtable(lua_State *L);
void lua_newtablenogc(lua_State *L); // for library openers: no GC step
void lua_newsizedtable(lua_State *L, int narray, int lnhash);
// While on, new strings and C functions without upvalues live as long as
// the state and share large blocks: for the thousands of names and commands
// that libraries register.
void lua_permanentobjects(lua_State *L, int on);
// Room for 2^lsize strings from now on: the string table grows from there
// and shrinks no further.
void lua_reservestrings(lua_State *L, int lsize);
void *lua_newuserdata(lua_State *L, size_t sz);
int lua_getmetatable(lua_State *L, int objindex);
void lua_getfenv(lua_State *L, int idx);

// Set functions
void lua_settable(lua_State *L, int idx);
void lua_rawset(lua_State *L, int idx);
void lua_rawseti(lua_State *L, int idx, int n);
// t[name in lower case, cut at max characters] = the value on top, raw; pops
// the value. For registering names, which are case-insensitive.
void lua_rawsetlower(lua_State *L, int idx, const char *name, size_t max);
int lua_setmetatable(lua_State *L, int objindex);
int lua_setfenv(lua_State *L, int idx);

// Calls, loading and dumping
void lua_call(lua_State *L, int nargs, int nresults);
int lua_pcall(lua_State *L, int nargs, int nresults, int errfunc);
int lua_cpcall(lua_State *L, lua_CFunction func, void *ud);
int lua_load(lua_State *L, lua_Chunkreader reader, void *data, const char *chunkname);
int lua_dump(lua_State *L, int idx, lua_Chunkwriter writer, void *data);

// Garbage collection (sizes in kilobytes)
int lua_getgcthreshold(lua_State *L);
int lua_getgccount(lua_State *L);
void lua_setgcthreshold(lua_State *L, int newthreshold);

// Miscellaneous
int lua_next(lua_State *L, int idx);
void lua_concat(lua_State *L, int n);
int lua_pushupvalues(lua_State *L);
const char *lua_getupvalue(lua_State *L, int funcindex, int n);
const char *lua_setupvalue(lua_State *L, int funcindex, int n);

// Debug interface
int lua_getstack(lua_State *L, int level, lua_Debug *ar);
int lua_getinfo(lua_State *L, const char *what, lua_Debug *ar);
int lua_sethook(lua_State *L, lua_Hook func, int mask, int count);
lua_Hook lua_gethook(lua_State *L);
int lua_gethookmask(lua_State *L);
int lua_gethookcount(lua_State *L);

} // extern "C"

// The string hash: the length mixed with the characters from the last
// backwards, every one of a short string and a sample of a long one.
// Constant expressions may use it for names known when the program is built.
constexpr uint32_t lua_strhashstep(uint32_t h, char c) {
    return h ^ ((h << 5) + (h >> 2) + static_cast<unsigned char>(c));
}
constexpr uint32_t lua_strhash(const char *s, size_t l) {
    uint32_t h = static_cast<uint32_t>(l);
    size_t step = (l >> 5) + 1;
    size_t l1 = l;
    if (step == 1) {
        // Every character: four per round spare three loop tests.
        for (; l1 >= 4; l1 -= 4)
            h = lua_strhashstep(lua_strhashstep(lua_strhashstep(lua_strhashstep(h, s[l1 - 1]), s[l1 - 2]), s[l1 - 3]), s[l1 - 4]);
    }
    for (; l1 >= step; l1 -= step) h = lua_strhashstep(h, s[l1 - 1]);
    return h;
}

#define lua_pop(L, n) lua_settop(L, -(n)-1)
#define lua_register(L, n, f) (lua_pushstring(L, n), lua_pushcfunction(L, f), lua_settable(L, LUA_GLOBALSINDEX))
#define lua_pushcfunction(L, f) lua_pushcclosure(L, f, 0)
#define lua_isfunction(L, n) (lua_type(L, n) == LUA_TFUNCTION)
#define lua_istable(L, n) (lua_type(L, n) == LUA_TTABLE)
#define lua_islightuserdata(L, n) (lua_type(L, n) == LUA_TLIGHTUSERDATA)
#define lua_isnil(L, n) (lua_type(L, n) == LUA_TNIL)
#define lua_isboolean(L, n) (lua_type(L, n) == LUA_TBOOLEAN)
#define lua_isnone(L, n) (lua_type(L, n) == LUA_TNONE)
#define lua_isnoneornil(L, n) (lua_type(L, n) <= 0)
#define lua_pushliteral(L, s) lua_pushlstring(L, "" s, sizeof(s) - 1)
