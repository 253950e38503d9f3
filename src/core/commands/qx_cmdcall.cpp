// What happens to an error code that a command returns: it is stored, then
// thrown, ignored, or handed to the script's own error handler; and which
// function failed, for the error report.
#include "core/commands/qx_cmdcall.h"

#include <strings.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/commands/qx_commands.h"
#include "core/errors/qx_errorreport.h"
#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "core/runtime/qx_options.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"
#include "core/vm/qx_vmregs.h"

extern "C" {
int qxLastError;
uintptr_t qxRaiseOnError = 1;
uintptr_t qxCallbackNesting;
int qxErrorHandlerRef = -1;
int qxErrorHandlerRunning;
int qxErrorHandlerBlocked;
lua_CFunction qxGetLastErrorCommand;
int qxLineHookDisabled;
}

namespace {

char commandName[QX_CMDNAME_SIZE] = "----";
char errorFile[QX_ERRFILE_SIZE] = "?";

void copyName(char *dst, size_t size, const char *src) {
    std::snprintf(dst, size, "%s", src ? src : "");
}

// The CamelCase name under which a library registered a command.
const char *registeredName(const char *called) {
    for (const qxLibraryEntry *lib = qxLibraryNames; lib; lib = lib->next)
        for (const qxCommandDef *c = lib->commands; c && c->name; c++)
            if (strcasecmp(c->name, called) == 0) return c->name;
    return called;
}

} // namespace

extern "C" {

int qxErrorHandlerActive(void) {
    return qxErrorHandlerRef >= 0 && qxCallbackNesting == 0 && !qxErrorHandlerRunning && qxRaiseOnError &&
           !qxErrorHandlerBlocked;
}

const char *qxGetErrorCommandName(void) { return commandName; }
const char *qxGetErrorFileName(void) { return errorFile; }
int qxGetErrorLine(void) { return qxVmErrorLine; }

void qxSetErrorCommandName(const char *name) { copyName(commandName, sizeof commandName, name); }

void qxResetErrorFunction(void) {
    copyName(commandName, sizeof commandName, "----");
    qxVmErrorLine = -1;
}

void qxRecordErrorFunction(lua_State *L) {
    lua_Debug ar;
    bool haveFile = false, haveName = false;
    copyName(errorFile, sizeof errorFile, "?");
    copyName(commandName, sizeof commandName, "----");
    for (int level = 0; (!haveFile || !haveName) && lua_getstack(L, level, &ar); level++) {
        int frame = ar.i_ci;
        std::memset(static_cast<void *>(&ar), 0, sizeof ar);
        ar.i_ci = frame;
        if (!lua_getinfo(L, "Sn", &ar)) continue;
        const char *src = ar.source ? ar.source : "";
        if (!haveFile && src[0] != '=' && src[0] != '?') {
            copyName(errorFile, sizeof errorFile, src);
            haveFile = true;
        }
        if (haveName) continue;
        const char *what = ar.what ? ar.what : "";
        if (std::strcmp(what, "C") == 0) {
            if (ar.name && *ar.name) {
                copyName(commandName, sizeof commandName, registeredName(ar.name));
                haveName = true;
            }
        } else if (std::strcmp(what, "main") == 0) {
            copyName(commandName, sizeof commandName, "<<unnamed>>");
            haveName = true;
        } else if (std::strcmp(what, "tail") != 0) {
            copyName(commandName, sizeof commandName, ar.name && *ar.name ? ar.name : "anonymous");
            haveName = true;
        }
    }
    // The line of the innermost script frame: level 1 below a failing
    // command, level 0 once the command's frame is gone.
    for (int level = 0; qxVmErrorLine == -1 && level <= 1 && lua_getstack(L, level, &ar); level++)
        if (lua_getinfo(L, "l", &ar)) qxVmErrorLine = ar.currentline;
}

void qxRaiseCommandError(lua_State *L, int code) {
    qxLastError = code;
    if (code == ERR_USERABORT) {
        // End() and quit requests stop the script whatever the error policy.
        qxVmAbort = 1;
        luaG_raisecode(L, code);
    }
    if (qxErrorHandlerActive()) {
        int status = qxCallErrorHandler(L, code);
        if (status == 0) return; // handled: the command gives no results
        code = status;           // the handler's own failure replaces it
        qxLastError = code;
    }
    if (!qxRaiseOnError) {
        if (qxCallbackNesting == 0) qxResetErrorFunction();
        return;
    }
    // Outside callbacks the whole script stops; inside one the error goes
    // to the callback's protected call.
    if (qxCallbackNesting == 0) qxVmAbort = 1;
    luaG_raisecode(L, code);
}

void qxTraceCommandCall(lua_State *L) {
    lua_Debug ar;
    std::memset(static_cast<void *>(&ar), 0, sizeof ar);
    const char *name = nullptr;
    if (lua_getstack(L, 0, &ar) && lua_getinfo(L, "n", &ar)) name = ar.name;
    int n = lua_gettop(L);
    // Names and string arguments are data: they only fill our own formats.
    // qxPrintF converts to the text mode and flushes under FORCEFLUSH.
    if (name) qxPrintF("Now calling %s()", name);
    else if (n == 2 && lua_type(L, 2) == LUA_TSTRING) qxPrintF("Now trying to find metamethod %s()", lua_tostring(L, 2));
    else qxPrintF("%s", "Now calling <unknown>()");
    qxPrintF("%s", " with arguments ");
    for (int i = 1; i <= n; i++) {
        switch (lua_type(L, i)) {
        case LUA_TNIL: qxPrintF("#%d=(NIL) ", i); break;
        case LUA_TNUMBER: qxPrintF("#%d=(NUMBER)%g ", i, lua_tonumber(L, i)); break;
        case LUA_TSTRING: qxPrintF("#%d=(STRING)\"%s\" ", i, lua_tostring(L, i)); break;
        case LUA_TTABLE: qxPrintF("#%d=(TABLE)%p ", i, lua_topointer(L, i)); break;
        case LUA_TFUNCTION: qxPrintF("#%d=(FUNCPTR)%p ", i, lua_topointer(L, i)); break;
        default: qxPrintF("#%d=(INTERNAL)%d ", i, lua_type(L, i)); break;
        }
    }
    qxPrintF("%s", "\n");
}

int qxCallErrorHandler(lua_State *L, int code) {
    qxRecordErrorFunction(L);
    char message[QX_ERRORSTRING_SIZE];
    qxFormatErrorCode(code, message, sizeof message);
    int line = qxGetReportLine(L);
    if (!lua_checkstack(L, 5)) return ERR_STACK;
    lua_rawgeti(L, LUA_REGISTRYINDEX, qxErrorHandlerRef);
    lua_pushnumber(L, code);
    lua_pushstring(L, message);
    lua_pushstring(L, commandName);
    lua_pushnumber(L, line);
    qxResetErrorFunction();
    qxCallbackNesting++;
    qxErrorHandlerRunning = 1;
    int status = lua_pcall(L, 4, 0, 0);
    qxErrorHandlerRunning = 0;
    if (qxCallbackNesting > 0) qxCallbackNesting--;
    return status;
}

int qxCallHookByName(lua_State *L, const char *name, int nresults, int nargs, ...) {
    if (!L || !name) return 0;
    char key[64];
    size_t i = 0;
    for (; name[i] && i < sizeof key - 1; i++) {
        char c = name[i];
        key[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    key[i] = '\0';
    if (nargs < 0) nargs = 0;
    if (!lua_checkstack(L, nargs + 1)) return ERR_STACK;
    lua_pushstring(L, key);
    lua_gettable(L, LUA_GLOBALSINDEX);
    if (!lua_isfunction(L, -1)) {
        lua_pop(L, 1);
        qxSetErrorString(key);
        return ERR_FUNCDECLA;
    }
    va_list ap;
    va_start(ap, nargs);
    for (int a = 0; a < nargs; a++) {
        switch (va_arg(ap, int)) {
        case QX_HOOKARG_INT: lua_pushnumber(L, va_arg(ap, int)); break;
        case QX_HOOKARG_UINT: lua_pushnumber(L, va_arg(ap, unsigned int)); break;
        case QX_HOOKARG_STRING: lua_pushstring(L, va_arg(ap, const char *)); break;
        case QX_HOOKARG_POINTER: lua_pushlightuserdata(L, va_arg(ap, void *)); break;
        case QX_HOOKARG_OBJECTREF: {
            const qxObjectRef *ref = va_arg(ap, const qxObjectRef *);
            if (!ref) lua_pushnil(L);
            else if (ref->automatic) lua_pushlightuserdata(L, ref->automatic);
            else lua_pushnumber(L, ref->number);
            break;
        }
        default: // nil: its value is not used
            (void)va_arg(ap, int);
            lua_pushnil(L);
            break;
        }
    }
    va_end(ap);
    lua_call(L, nargs, nresults);
    return 0;
}

void qxFreeErrorState(lua_State *L) {
    if (L && qxErrorHandlerRef >= 0) luaL_unref(L, LUA_REGISTRYINDEX, qxErrorHandlerRef);
    qxErrorHandlerRef = -1;
    qxErrorHandlerRunning = 0;
    qxErrorHandlerBlocked = 0;
    qxCallbackNesting = 0;
    qxLastError = 0;
    copyName(errorFile, sizeof errorFile, "?");
    qxResetErrorFunction();
}

} // extern "C"
