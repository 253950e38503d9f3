// System library: errors, End, line hook, waiting, controls, catalogs and
// the commands this platform does not support.
#include <strings.h>

#include <cstring>

#include "core/commands/qx_args.h"
#include "core/commands/qx_cmdcall.h"
#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"
#include "core/runtime/qx_lists.h"
#include "core/runtime/qx_startup.h"
#include "core/vm/lauxlib.h"
#include "core/vm/qx_vmregs.h"
#include "display/qx_bgpic.h"
#include "libs/qx_systemlib.h"
#include "platform/qx_catalog.h"
#include "platform/qx_libimports.h"
#include "platform/qx_process.h"
#include "platform/qx_systimers.h"
#include "platform/requesters/qx_gtk.h"
#include "platform/x11/x11_display.h"

extern "C" {
int qxSingleMusic;
}

namespace {

qxCatalog *openCatalog;

} // namespace

void qxSysFreeCatalog(void) {
    if (openCatalog) qxSysCloseCatalog(openCatalog);
    openCatalog = nullptr;
}

int qxCmdNotSupported(lua_State *) { return ERR_UNSUPPORTEDFEAT; }

int qxCmdError(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxSetErrorString(luaL_checkstring(L, 1));
    return ERR_ERRORCALLED;
}

int qxCmdGetLastError(lua_State *L) {
    qxCheckArgCount(L, 0, 0, 0, 0);
    lua_pushnumber(L, qxLastError);
    return 1;
}

int qxCmdGetErrorName(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    int code = luaL_checkint(L, 1);
    char message[QX_ERRORSTRING_SIZE];
    qxFormatErrorCode(code, message, sizeof message);
    lua_pushstring(L, message);
    return 1;
}

int qxCmdExitOnError(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxSetTag(QX_TAG_RAISEONERROR, qxSysScriptTruth(L, 1) ? 1 : 0);
    return 0;
}

int qxCmdRaiseOnError(lua_State *L) {
    qxCheckArgCount(L, 0, 1, 0, 0);
    if (qxErrorHandlerRef >= 0) luaL_unref(L, LUA_REGISTRYINDEX, qxErrorHandlerRef);
    qxErrorHandlerRef = -1;
    if (lua_isfunction(L, 1)) {
        lua_pushvalue(L, 1);
        qxErrorHandlerRef = luaL_ref(L, LUA_REGISTRYINDEX);
    }
    return 0;
}

int qxCmdEnd(lua_State *L) {
    qxCheckArgCount(L, 0, 1, 0, 0);
    qxExitValue = static_cast<uint32_t>(luaL_optint(L, 1, 0));
    qxVmAbort = 1;
    return ERR_USERABORT;
}

int qxCmdEnableLineHook(lua_State *L) {
    qxCheckArgCount(L, 0, 0, 0, 0);
    qxSetLineHookDisabled(0);
    return 0;
}

int qxCmdDisableLineHook(lua_State *L) {
    qxCheckArgCount(L, 0, 0, 0, 0);
    qxSetLineHookDisabled(1);
    return 0;
}

int qxCmdWait(lua_State *L) {
    qxCheckArgCount(L, 1, 2, 0, 0);
    double duration = luaL_checknumber(L, 1);
    int unit = luaL_optint(L, 2, 2);
    if (!(duration >= 1)) return 0;
    double ms = unit == 2 ? duration * 20 : unit == 0 ? duration * 1000 : duration;
    if (ms > 4294967295.0) ms = 4294967295.0;
    return qxSleepWithEvents(L, static_cast<uint32_t>(ms));
}

int qxCmdBeep(lua_State *L) {
    qxCheckArgCount(L, 0, 1, 0, 0);
    if (!qxRequireVersion(8, 0)) return ERR_OLDAPPLET;
    luaL_optint(L, 1, 0);
    x11Beep(nullptr);
    return 0;
}

int qxCmdOpenURL(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    return x11OpenURL(luaL_checkstring(L, 1));
}

int qxCmdShowNotification(lua_State *L) {
    qxCheckArgCount(L, 2, 3, 0, 0);
    if (!qxRequireVersion(8, 0)) return ERR_OLDAPPLET;
    const char *title = luaL_checkstring(L, 1);
    const char *text = luaL_checkstring(L, 2);
    int kind = 0; // #REQICON_NONE
    int timeout = -1;
    if (!lua_isnoneornil(L, 3)) {
        luaL_checktable(L, 3);
        qxGetFieldInt(L, 3, "icon", &kind, nullptr);
        qxGetFieldInt(L, 3, "timeout", &timeout, nullptr);
        int ignored = 0;
        qxGetFieldInt(L, 3, "nosound", &ignored, nullptr);
        qxGetFieldInt(L, 3, "x", &ignored, nullptr);
        qxGetFieldInt(L, 3, "y", &ignored, nullptr);
    }
    if (timeout == -1) timeout = 2000;
    else if (timeout == -2) timeout = 3500;
    const qxAppletInfo *applet = qxApplet;
    const char *name = applet ? applet->header[0] : "";
    if (!*title) title = name;
    return qxShowNotification(title, text, kind, timeout, name);
}

int qxCmdLegacyControl(lua_State *L) {
    qxCheckArgCount(L, 2, 2, 0, 0);
    const char *name = luaL_checkstring(L, 1);
    int value = luaL_checkint(L, 2);
    if (strcasecmp(name, "linebasedshapes") == 0) qxLineBasedShapes = value;
    else if (strcasecmp(name, "singlemusic") == 0) qxSingleMusic = value;
    else {
        qxSetErrorString(name);
        return ERR_UNKNOWNTAG;
    }
    return 0;
}

int qxCmdCollectGarbage(lua_State *L) {
    qxCheckArgCount(L, 0, 1, 0, 0);
    lua_setgcthreshold(L, luaL_optint(L, 1, 0));
    if (qxLayerQueries.flushDeletedObjects) qxLayerQueries.flushDeletedObjects(L, 31);
    return 0;
}

int qxCmdGCInfo(lua_State *L) {
    qxCheckArgCount(L, 0, 0, 0, 0);
    lua_pushnumber(L, lua_getgccount(L));
    lua_pushnumber(L, lua_getgcthreshold(L));
    return 2;
}

int qxCmdOpenCatalog(lua_State *L) {
    qxCheckArgCount(L, 1, 2, 0, 0);
    const char *name = luaL_checkstring(L, 1);
    int version = luaL_optint(L, 2, 0);
    qxSysFreeCatalog();
    openCatalog = qxSysOpenCatalog(name, version);
    return 0;
}

int qxCmdCloseCatalog(lua_State *L) {
    qxCheckArgCount(L, 0, 0, 0, 0);
    qxSysFreeCatalog();
    return 0;
}

int qxCmdGetCatalogString(lua_State *L) {
    qxCheckArgCount(L, 2, 2, 0, 0);
    int id = luaL_checkint(L, 1);
    const char *def = luaL_checkstring(L, 2);
    const char *text = def;
    if (openCatalog && id >= 0) text = qxGetCatalogString(openCatalog, static_cast<uint32_t>(id), def);
    lua_pushstring(L, text ? text : def);
    return 1;
}
