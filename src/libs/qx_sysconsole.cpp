// System library: console and debug output, prompts and Assert.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/runtime/qx_options.h"
#include "core/vm/lauxlib.h"
#include "libs/qx_systemlib.h"
#include "platform/qx_memory.h"
#include "platform/qx_text.h"

namespace {

constexpr size_t kPromptMax = 16384;

// Converts one argument to text: through the script's "tostring" when the
// string library provides it, else by type.
void pushText(lua_State *L, int idx) {
    lua_pushliteral(L, "tostring");
    lua_gettable(L, LUA_GLOBALSINDEX);
    if (lua_isfunction(L, -1)) {
        lua_pushvalue(L, idx);
        lua_call(L, 1, 1);
        if (lua_isstring(L, -1) || lua_isnil(L, -1)) return;
        lua_pop(L, 1);
    } else {
        lua_pop(L, 1);
    }
    switch (lua_type(L, idx)) {
    case LUA_TNIL: lua_pushliteral(L, ""); break;
    case LUA_TNUMBER:
    case LUA_TSTRING: lua_pushvalue(L, idx); break;
    case LUA_TBOOLEAN: lua_pushstring(L, lua_toboolean(L, idx) ? "true" : "false"); break;
    default: {
        char text[64];
        std::snprintf(text, sizeof text, "%s: %p", lua_typename(L, lua_type(L, idx)), lua_topointer(L, idx));
        lua_pushstring(L, text);
        break;
    }
    }
}

// Joins the arguments with one space and writes them.
int printArgs(lua_State *L, bool newline) {
    int n = lua_gettop(L);
    luaL_Buffer b;
    lua_checkstack(L, 12);
    luaL_buffinit(L, &b);
    for (int i = 1; i <= n; i++) {
        if (i > 1) luaL_addchar(&b, ' ');
        pushText(L, i);
        luaL_addvalue(&b);
    }
    if (newline) luaL_addchar(&b, '\n');
    luaL_pushresult(&b);
    size_t len = lua_strlen(L, -1);
    qxSysWrite(lua_tostring(L, -1), len, !newline);
    lua_pop(L, 1);
    return 0;
}

int prompt(lua_State *L) {
    size_t len = 0;
    const char *text = luaL_checklstring(L, 1, &len);
    if (len) qxSysWrite(text, len, 1);
    char *line = static_cast<char *>(qxAlloc(kPromptMax + 1, 0));
    if (!line) return ERR_MEM;
    if (!std::fgets(line, static_cast<int>(kPromptMax + 1), stdin)) line[0] = '\0';
    size_t n = std::strlen(line);
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
    if (!qxTextModeUtf8) {
        char *converted = qxUtf8ToLatin1Dup(line);
        qxFree(line);
        if (!converted) return ERR_TEXTCONVERT;
        line = converted;
    }
    lua_pushstring(L, line);
    qxFree(line);
    return 1;
}

} // namespace

int qxSysScriptTruth(lua_State *L, int idx) {
    switch (lua_type(L, idx)) {
    case LUA_TNONE:
    case LUA_TNIL: return 0;
    case LUA_TBOOLEAN: return lua_toboolean(L, idx);
    case LUA_TNUMBER: return lua_tonumber(L, idx) != 0;
    case LUA_TSTRING: return lua_strlen(L, idx) != 0;
    default: return 1;
    }
}

void qxSysWrite(const char *text, size_t length, int flush) {
    // Written as data: script text is never a format. ISO-8859-1 text goes
    // out as UTF-8, as all console output (zero bytes included).
    if (!qxTextModeUtf8) {
        std::string out(length * 2, '\0');
        std::fwrite(out.data(), 1, qxLatin1ToUtf8Length(text, length, out.data()), stdout);
    } else {
        std::fwrite(text, 1, length, stdout);
    }
    if (flush || qxGlobalSettings.forceFlush) std::fflush(stdout);
}

int qxCmdConsolePrint(lua_State *L) {
    qxCheckArgCount(L, 1, -1, 0, 0);
    return printArgs(L, true);
}

int qxCmdConsolePrintNR(lua_State *L) {
    qxCheckArgCount(L, 1, -1, 0, 0);
    return printArgs(L, false);
}

int qxCmdDebugPrint(lua_State *L) {
    if (qxGlobalSettings.noDebug) return 0;
    return printArgs(L, true);
}

int qxCmdDebugPrintNR(lua_State *L) {
    if (qxGlobalSettings.noDebug) return 0;
    return printArgs(L, false);
}

int qxCmdConsolePrompt(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    return prompt(L);
}

int qxCmdDebugPrompt(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    if (qxGlobalSettings.noDebug) {
        lua_pushliteral(L, "");
        return 1;
    }
    return prompt(L);
}

int qxCmdDebugOutput(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxGlobalSettings.debugOutput = qxSysScriptTruth(L, 1) ? 1 : 0;
    return 0;
}

int qxCmdAssert(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    if (qxGlobalSettings.noDebug) return 0;
    if (lua_isnil(L, 1) || (lua_type(L, 1) == LUA_TNUMBER && lua_tonumber(L, 1) == 0))
        return ERR_ASSERTFAILED;
    lua_settop(L, 1);
    return 1;
}
