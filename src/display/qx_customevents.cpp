// Custom events that plug-ins register by name: codes from 32, handler
// slots that InstallEventHandler fills, and the system slots of the host
// table through which plug-ins register, look up and dispatch them.
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "core/commands/qx_commands.h"
#include "core/plugins/qx_hosttable.h"
#include "core/vm/lauxlib.h"
#include "display/qx_eventqueue.h"
#include "display/qx_events.h"
#include "platform/qx_memory.h"

extern "C" {
qxCustomEvent *qxCustomEvents;
}

namespace {

qxHostFunc savedSlots[4];
const int hostSlots[4] = {14, 36, 46, 48};
bool slotsInstalled;

bool nameTaken(const char *name)
{
    for (const char *n : qxDisplayEventNames)
        if (!strcasecmp(n, name))
            return true;
    for (const char *n : qxObjectEventNames)
        if (!strcasecmp(n, name))
            return true;
    return qxFindCustomEvent(name) != nullptr;
}

uint32_t registerEvent(const char *name, uint32_t kind, const qxCustomEventFuncs *funcs)
{
    if (!name || !*name || kind > 1 || !funcs || nameTaken(name))
        return 0;
    if (kind == 1 ? !funcs->push : !funcs->fields)
        return 0;
    size_t length = std::strlen(name) + 1;
    auto *e = static_cast<qxCustomEvent *>(qxAlloc(sizeof(qxCustomEvent) + length, 1));
    if (!e)
        return 0;
    e->name = reinterpret_cast<char *>(e + 1);
    std::memcpy(e->name, name, length);
    e->kind = kind;
    e->funcs = *funcs;
    e->slot = {QX_NO_REF, QX_NO_REF};
    uint32_t code = QX_FIRST_CUSTOM_EVENT;
    qxCustomEvent **tail = &qxCustomEvents;
    while (*tail) {
        code = (*tail)->code + 1;
        tail = &(*tail)->next;
    }
    e->code = code;
    *tail = e;
    return code;
}

// Slot 14: a kind-0 event whose one function adds fields to the message.
uint32_t hostRegisterSimple(const char *name, void *function)
{
    qxCustomEventFuncs funcs{};
    funcs.fields = reinterpret_cast<qxCustomEventFuncs::Fields>(function);
    return registerEvent(name, 0, &funcs);
}

// Slot 36.
uint32_t hostRegister(const char *name, uint32_t kind, const qxCustomEventFuncs *funcs)
{
    return registerEvent(name, kind, funcs);
}

// Slot 46.
int hostDispatch(lua_State *L, uint32_t code, void *data)
{
    return qxDispatchCustomEvent(L, code, data);
}

// Slot 48: the handler's function reference; tag 1 asks for its userdata.
int hostHandlerOf(const char *name, qxTagItem *tags)
{
    qxCustomEvent *e = name ? qxFindCustomEvent(name) : nullptr;
    if (!e)
        return -1;
    for (qxTagItem *t = tags; t && t->tag != QX_TAG_END; t++)
        if (t->tag == 1 && t->data)
            *reinterpret_cast<uint32_t *>(t->data) = e->slot.userData;
    return (int)e->slot.function;
}

void freeCustomData(uint32_t type, void *payload)
{
    qxCustomEvent *e = qxCustomEventOfCode(type);
    if (!e)
        std::free(payload); // an unregistered code: posted with plain memory
    else if (e->kind == 1 && e->funcs.freeData)
        e->funcs.freeData(payload);
    // kind 0: the plug-in keeps its data
}

} // namespace

extern "C" {

qxCustomEvent *qxFindCustomEvent(const char *name)
{
    for (qxCustomEvent *e = qxCustomEvents; e; e = e->next)
        if (!strcasecmp(e->name, name))
            return e;
    return nullptr;
}

qxCustomEvent *qxCustomEventOfCode(uint32_t code)
{
    for (qxCustomEvent *e = qxCustomEvents; e; e = e->next)
        if (e->code == code)
            return e;
    return nullptr;
}

void qxInstallCustomEventSlots(void)
{
    if (!slotsInstalled) {
        for (int i = 0; i < 4; i++)
            savedSlots[i] = qxHostSystem[hostSlots[i]];
        slotsInstalled = true;
    }
    qxHostSystem[14] = reinterpret_cast<qxHostFunc>(hostRegisterSimple);
    qxHostSystem[36] = reinterpret_cast<qxHostFunc>(hostRegister);
    qxHostSystem[46] = reinterpret_cast<qxHostFunc>(hostDispatch);
    qxHostSystem[48] = reinterpret_cast<qxHostFunc>(hostHandlerOf);
    qxFreeCustomEventData = freeCustomData;
}

void qxFreeCustomEvents(lua_State *L)
{
    while (qxCustomEvent *e = qxCustomEvents) {
        qxCustomEvents = e->next;
        if (L && e->slot.function != QX_NO_REF)
            luaL_unref(L, LUA_REGISTRYINDEX, (int)e->slot.function);
        if (L && e->slot.userData != QX_NO_REF)
            luaL_unref(L, LUA_REGISTRYINDEX, (int)e->slot.userData);
        qxFree(e);
    }
    if (slotsInstalled) {
        for (int i = 0; i < 4; i++)
            qxHostSystem[hostSlots[i]] = savedSlots[i];
        slotsInstalled = false;
    }
    qxFreeCustomEventData = nullptr;
}
}
