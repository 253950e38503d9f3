// Script intervals and timeouts on the platform's POSIX timers, and the
// message-port commands, which have no port system to talk to here.
#include <cstring>
#include <initializer_list>

#include "core/commands/qx_args.h"
#include "core/commands/qx_objreg.h"
#include "core/plugins/qx_hosttable.h"
#include "core/runtime/qx_startup.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"
#include "core/vm/lua.h"
#include "display/qx_events.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"
#include "platform/qx_systimers.h"
#include "platform/x11/x11_display.h"

extern "C" {
qxTimer *qxIntervals, *qxTimeouts;
}

namespace {

bool registered;
qxPluginInfo *timerAdapter;
uint32_t timerAdapterFlags;
lua_State *adapterState;

using RegisterTimer = void *(*)(lua_State *L, uint32_t ms, uint32_t oneShot);
using FreeTimer = void (*)(void *handle);

void *adapterRegister(lua_State *L, uint32_t ms, uint32_t oneShot)
{
    auto f = reinterpret_cast<RegisterTimer>(timerAdapter->entry[QX_EP_RegisterTimer]);
    return f ? f(L, ms, oneShot) : nullptr;
}

void adapterFree(void *handle)
{
    auto f = reinterpret_cast<FreeTimer>(timerAdapter->entry[QX_EP_FreeTimer]);
    if (f && handle)
        f(handle);
}

// Starts the timer on the adapter or the platform; 0 or an error code.
int startTimer(lua_State *L, qxTimer *t)
{
    if (timerAdapter) {
        t->adapterTimer = adapterRegister(L, t->period, t->type == QX_TYPE_TIMEOUT);
        return t->adapterTimer ? 0 : ERR_TIMER;
    }
    return qxTimerControl(t->type == QX_TYPE_INTERVAL ? QX_TIMER_NEW_INTERVAL : QX_TIMER_NEW_TIMEOUT,
                          qxObjectRef{t->id, t->automatic}, t->period);
}

qxTimer **listOf(uint32_t type) { return type == QX_TYPE_INTERVAL ? &qxIntervals : &qxTimeouts; }

qxObjectRef refOf(const qxTimer *t) { return qxObjectRef{t->id, t->automatic}; }

qxTimer *findTimer(uint32_t type, qxObjectRef id)
{
    for (qxTimer *t = *listOf(type); t; t = t->next)
        if (t->id == id.number && t->automatic == id.automatic)
            return t;
    return nullptr;
}

void unlinkTimer(qxTimer *timer)
{
    for (qxTimer **p = listOf(timer->type); *p; p = &(*p)->next) {
        if (*p == timer) {
            *p = timer->next;
            return;
        }
    }
}

void releaseRefs(lua_State *L, qxTimer *t)
{
    if (!L)
        return;
    if (t->function != QX_NO_REF)
        luaL_unref(L, LUA_REGISTRYINDEX, (int)t->function);
    if (t->userData != QX_NO_REF)
        luaL_unref(L, LUA_REGISTRYINDEX, (int)t->userData);
}

// Creates, references and starts a timer; *out gets the record.
int addTimer(lua_State *L, uint32_t type, qxObjectRef id, int automatic, uint32_t ms, int fn,
             int userData, qxTimer **out)
{
    if (!registered) {
        qxRegisterObjectList(&qxIntervals, QX_TYPE_INTERVAL);
        qxRegisterObjectList(&qxTimeouts, QX_TYPE_TIMEOUT);
        registered = true;
    }
    auto *t = static_cast<qxTimer *>(qxAlloc(sizeof(qxTimer), 1));
    if (!t)
        return ERR_MEM;
    t->type = type;
    t->id = automatic ? 0 : id.number;
    t->automatic = automatic ? t : nullptr;
    t->period = ms;
    t->function = t->userData = QX_NO_REF;
    if (fn) {
        lua_pushvalue(L, fn);
        t->function = (uint32_t)luaL_ref(L, LUA_REGISTRYINDEX);
    }
    if (userData) {
        lua_pushvalue(L, userData);
        int ref = luaL_ref(L, LUA_REGISTRYINDEX);
        t->userData = ref >= 0 ? (uint32_t)ref : QX_NO_REF;
    }
    qxTimer **tail = listOf(type);
    while (*tail)
        tail = &(*tail)->next;
    *tail = t;
    int r = startTimer(L, t);
    if (r) {
        releaseRefs(L, t);
        unlinkTimer(t);
        qxFree(t);
        return r;
    }
    if (out)
        *out = t;
    return 0;
}

int notFound(uint32_t type, qxObjectRef id)
{
    if (id.automatic)
        return ERR_FINDARRAY;
    qxSetErrorNumber((int)id.number);
    return type == QX_TYPE_INTERVAL ? ERR_FINDINTERVAL : ERR_FINDTIMEOUT;
}

// SetInterval and SetTimeout.
int setTimer(lua_State *L, uint32_t type)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    int automatic = 0;
    uint32_t number = qxGetNewIDArg(L, 1, &automatic);
    if (!lua_isfunction(L, 2)) {
        qxSetErrorNumber(2);
        return ERR_FUNCEXPECTED;
    }
    double ms = luaL_checknumber(L, 3);
    if (!(ms >= 1) || ms > 4294967295.0)
        return ERR_WRONGUSAGE;
    qxObjectRef id{number, nullptr};
    if (!automatic && findTimer(type, id))
        qxClearTimer(L, type, id);
    qxTimer *t = nullptr;
    int r = addTimer(L, type, id, automatic, (uint32_t)ms, 2, lua_gettop(L) >= 4 ? 4 : 0, &t);
    if (r)
        return r;
    if (automatic) {
        qxPushObjectID(L, refOf(t));
        return 1;
    }
    return 0;
}

int clearTimer(lua_State *L, uint32_t type)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxObjectRef id = qxGetObjectIDArg(L, 1);
    if (!findTimer(type, id))
        return notFound(type, id);
    return qxClearTimer(L, type, id);
}

} // namespace

extern "C" {

int qxAddInterval(lua_State *L, qxObjectRef id, uint32_t ms, int noReferences)
{
    (void)noReferences;
    return addTimer(L, QX_TYPE_INTERVAL, id, id.number == 0 && !id.automatic, ms, 0, 0, nullptr);
}

int qxClearTimer(lua_State *L, uint32_t type, qxObjectRef id)
{
    qxTimer *t = findTimer(type, id);
    if (!t)
        return notFound(type, id);
    unlinkTimer(t);
    releaseRefs(L, t);
    if (t->adapterTimer) {
        if (timerAdapter)
            adapterFree(t->adapterTimer);
    } else {
        uint32_t kind = type == QX_TYPE_INTERVAL ? QX_SYSTIMER_INTERVAL : QX_SYSTIMER_TIMEOUT;
        qxEventStepForgetTimer(kind, id);
        qxTimerControl(type == QX_TYPE_INTERVAL ? QX_TIMER_DELETE_INTERVAL : QX_TIMER_DELETE_TIMEOUT,
                       id, 0);
    }
    qxFree(t);
    return 0;
}

void qxFreeAllTimers(lua_State *L)
{
    for (uint32_t type : {QX_TYPE_INTERVAL, QX_TYPE_TIMEOUT}) {
        while (qxTimer *t = *listOf(type))
            qxClearTimer(L, type, refOf(t));
    }
}

int qxCmdSetInterval(lua_State *L) { return setTimer(L, QX_TYPE_INTERVAL); }
int qxCmdSetTimeout(lua_State *L) { return setTimer(L, QX_TYPE_TIMEOUT); }
int qxCmdClearInterval(lua_State *L) { return clearTimer(L, QX_TYPE_INTERVAL); }
int qxCmdClearTimeout(lua_State *L) { return clearTimer(L, QX_TYPE_TIMEOUT); }

int qxCmdChangeInterval(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxObjectRef id = qxGetObjectIDArg(L, 1);
    qxTimer *t = findTimer(QX_TYPE_INTERVAL, id);
    if (!t)
        return notFound(QX_TYPE_INTERVAL, id);
    double ms = luaL_checknumber(L, 2);
    if (!(ms >= 1) || ms > 4294967295.0)
        return ERR_WRONGUSAGE;
    // The old period stays when the new one cannot be set.
    if (timerAdapter && t->adapterTimer) {
        void *replacement = adapterRegister(L, (uint32_t)ms, 0);
        if (!replacement)
            return ERR_TIMER;
        adapterFree(t->adapterTimer);
        t->adapterTimer = replacement;
    } else if (int r = qxTimerControl(QX_TIMER_CHANGE_INTERVAL, id, (uint32_t)ms)) {
        return r;
    }
    t->period = (uint32_t)ms;
    return 0;
}

int qxCmdCreatePort(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    size_t length = 0;
    const char *name = luaL_checklstring(L, 1, &length);
    if (length >= 128)
        return ERR_WRONGUSAGE;
    return x11CreateMessagePort(name); // no message ports on this platform
}

int qxCmdSendMessage(lua_State *L)
{
    qxCheckArgCount(L, 2, -1, 0, 0);
    const char *port = luaL_checkstring(L, 1);
    const char *command = luaL_checkstring(L, 2);
    if (!*command || std::strpbrk(command, " \t\n\r"))
        return ERR_WRONGUSAGE;
    // The message would be built here; no port can receive it.
    for (int i = 3; i <= lua_gettop(L); i++)
        luaL_checkstring(L, i);
    return x11SendPortMessage(port);
}
}

namespace {

// System slot 39: the plug-in becomes the timer adapter.
int hostSetTimerAdapter(qxPluginInfo *plugin, uint32_t flags)
{
    if (!qxRequireVersion(6, 0))
        return ERR_OLDAPPLET;
    if (!plugin || !(plugin->capabilities & QX_CAP_TIMERADAPTER))
        return ERR_WRONGUSAGE;
    if (timerAdapter && (timerAdapterFlags & 1))
        return ERR_SETADAPTER;
    timerAdapter = plugin;
    timerAdapterFlags = flags;
    return 0;
}

// System slot 38: an adapter timer fired; unknown handles are ignored.
void hostTimerFired(lua_State *L, void *handle)
{
    if (qxQuitting || !handle || !timerAdapter)
        return;
    for (uint32_t type : {QX_TYPE_INTERVAL, QX_TYPE_TIMEOUT}) {
        for (qxTimer *t = *listOf(type); t; t = t->next) {
            if (t->adapterTimer != handle)
                continue;
            qxDispatchTimerNow(L ? L : adapterState, t);
            return;
        }
    }
}

qxHostFunc savedAdapterSlots[2];
bool adapterSlotsInstalled;

} // namespace

extern "C" {

void qxInstallTimerAdapterSlots(lua_State *L)
{
    adapterState = L;
    if (!adapterSlotsInstalled) {
        savedAdapterSlots[0] = qxHostSystem[38];
        savedAdapterSlots[1] = qxHostSystem[39];
        adapterSlotsInstalled = true;
    }
    qxHostSystem[38] = reinterpret_cast<qxHostFunc>(hostTimerFired);
    qxHostSystem[39] = reinterpret_cast<qxHostFunc>(hostSetTimerAdapter);
}

void qxRemoveTimerAdapter(void)
{
    timerAdapter = nullptr;
    timerAdapterFlags = 0;
    adapterState = nullptr;
    if (adapterSlotsInstalled) {
        qxHostSystem[38] = savedAdapterSlots[0];
        qxHostSystem[39] = savedAdapterSlots[1];
        adapterSlotsInstalled = false;
    }
}
}
