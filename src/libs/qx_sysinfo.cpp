// System library: version, program, command-line, system, language and
// constant information.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/runtime/qx_lists.h"
#include "core/runtime/qx_startup.h"
#include "core/vm/lauxlib.h"
#include "libs/qx_plugincmds.h"
#include "libs/qx_systemlib.h"
#include "platform/qx_locale.h"
#include "platform/qx_memory.h"
#include "platform/qx_paths.h"
#include "platform/qx_text.h"
#include "platform/x11/x11_display.h"

namespace {

void setStr(lua_State *L, const char *key, const char *value) { qxSetFieldStr(L, key, value); }

// A text of the start-up record for the script: converted from UTF-8 in
// ISO-8859-1 mode. False when memory runs out.
bool pushScriptText(lua_State *L, const char *text) {
    if (qxTextModeUtf8 || !text) {
        lua_pushstring(L, text ? text : "");
        return true;
    }
    char *converted = qxUtf8ToLatin1Dup(text);
    if (!converted) return false;
    lua_pushstring(L, converted);
    qxFree(converted);
    return true;
}

} // namespace

int qxCmdGetVersion(lua_State *L) {
    qxCheckArgCount(L, 0, 1, 0, 0);
    lua_newtable(L);
    setStr(L, "application", "ZephyranePlayer");
    setStr(L, "version", "8.0");
    setStr(L, "version_date", "08.02.19");
    setStr(L, "kernel", "8.0");
    setStr(L, "kernel_date", "08.02.19");
    qxSetFieldInt(L, "beta", 0);
    setStr(L, "platform", "Linux");
    qxSetFieldInt(L, "bigendian", 0);
    setStr(L, "cpu", "x64");
    lua_pushliteral(L, "plugins");
    qxPushPluginTable(L);
    lua_settable(L, -3);
    return 1;
}

int qxCmdGetApplicationInfo(lua_State *L) {
    qxCheckArgCount(L, 0, 0, 0, 0);
    static const char *const keys[6] = {"title", "version", "copyright", "author", "description",
                                        "identifier"};
    const qxAppletInfo *applet = qxGetAppletRecord(L);
    lua_newtable(L);
    for (int i = 0; i < 6; i++) {
        char field[257];
        if (applet) std::snprintf(field, sizeof field, "%.256s", applet->header[i]);
        else field[0] = '\0';
        setStr(L, keys[i], field);
    }
    return 1;
}

int qxCmdGetProgramInfo(lua_State *L) {
    qxCheckArgCount(L, 0, 0, 0, 0);
    const qxStartupInfo *s = qxGetCommandLineTable(L);
    const char *program = s ? s->programPath : "";
    const char *applet = s ? s->appletPath : "";
    if (qxLinked) {
        lua_pushnumber(L, 2);
        lua_pushstring(L, applet);
        return 2;
    }
    lua_pushnumber(L, s && s->isApplet ? 1 : 0);
    lua_pushstring(L, program);
    lua_pushstring(L, applet);
    return 3;
}

int qxCmdGetFileArgument(lua_State *L) {
    qxCheckArgCount(L, 0, 0, 0, 0);
    const qxStartupInfo *s = qxGetCommandLineTable(L);
    lua_pushstring(L, s ? s->givenName : "");
    return 1;
}

int qxCmdGetCommandLine(lua_State *L) {
    qxCheckArgCount(L, 0, 0, 0, 0);
    const qxStartupInfo *s = qxGetCommandLineTable(L);
    lua_newtable(L);
    int n = 0;
    for (const qxNameValue *v = s ? s->extraArgs : nullptr; v; v = v->next) {
        lua_newtable(L);
        lua_pushliteral(L, "arg");
        if (!pushScriptText(L, v->name)) return ERR_MEM;
        lua_settable(L, -3);
        lua_pushliteral(L, "param");
        if (!pushScriptText(L, v->value ? v->value : "")) return ERR_MEM;
        lua_settable(L, -3);
        lua_rawseti(L, -2, n++);
    }
    lua_pushnumber(L, n);
    lua_pushnumber(L, 1);
    return 3;
}

int qxCmdGetSystemInfo(lua_State *L) {
    qxCheckArgCount(L, 0, 1, 0, 0);
    static const char *const keys[QX_SPECIAL_LAST] = {
        "windows",        "programfiles",     "appdata",         "commonappdata", "mydocuments",
        "userhome",       "username",         "sdcard",          "externalstorage", "internalstorage",
        "appbundle",      "preferences",      "tempfiles"};
    lua_newtable(L);
    char path[QX_PATH_MAX];
    for (uint32_t id = 1; id <= QX_SPECIAL_LAST; id++)
        if (qxGetSpecialPath(id, path, sizeof path)) setStr(L, keys[id - 1], path);
    return 1;
}

int qxCmdGetMemoryInfo(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    int type = luaL_checkint(L, 1);
    if (type < 0 || type > 1) return ERR_WRONGUSAGE;
    lua_pushnumber(L, x11GetFreeMemory() * 1024.0);
    return 1;
}

int qxCmdGetSystemLanguage(lua_State *L) {
    qxCheckArgCount(L, 0, 0, 0, 0);
    lua_pushnumber(L, qxGetLanguage());
    return 1;
}

int qxCmdGetSystemCountry(lua_State *L) {
    qxCheckArgCount(L, 0, 0, 0, 0);
    lua_pushnumber(L, qxGetLocaleCountry());
    return 1;
}

int qxCmdGetLanguageInfo(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    int number = luaL_checkint(L, 1);
    const char *code = nullptr, *name = nullptr;
    if (number < 0 || !qxGetLanguageCodes(static_cast<uint32_t>(number), &code, &name)) {
        code = "??";
        name = "unknown";
    }
    lua_newtable(L);
    setStr(L, "code", code ? code : "??");
    setStr(L, "name", name ? name : "unknown");
    return 1;
}

int qxCmdGetCountryInfo(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    int number = luaL_checkint(L, 1);
    const char *two = nullptr, *three = nullptr;
    if (number < 0 || !qxGetCountryCodes(static_cast<uint32_t>(number), &two, &three)) {
        two = "??";
        three = "???";
    }
    lua_newtable(L);
    setStr(L, "alpha2", two ? two : "??");
    setStr(L, "alpha3", three ? three : "???");
    return 1;
}

int qxCmdIsUnicode(lua_State *L) {
    qxCheckArgCount(L, 0, 0, 0, 0);
    lua_pushnumber(L, qxTextModeUtf8 ? 1 : 0);
    return 1;
}

int qxCmdGetConstant(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    const char *name = luaL_checkstring(L, 1);
    const char *str = nullptr;
    double num = 0;
    int r = qxParseConstantName(L, name, nullptr, &str, &num);
    if (r) return r;
    if (str) lua_pushstring(L, str);
    else lua_pushnumber(L, num);
    return 1;
}
