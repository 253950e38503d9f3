// Host table, sub-table 1: runtime attributes, errors, time, memory,
// callbacks, registered records, call wrappers, mutexes and text helpers.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "core/commands/qx_cmdcall.h"
#include "core/commands/qx_commands.h"
#include "core/errors/qx_errorreport.h"
#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "core/plugins/qx_hosttable.h"
#include "core/runtime/qx_lists.h"
#include "core/commands/qx_objreg.h"
#include "core/plugins/qx_plugins.h"
#include "core/runtime/qx_startup.h"
#include "core/vm/qx_vmregs.h"
#include "platform/qx_locale.h"
#include "platform/qx_memory.h"
#include "platform/qx_paths.h"
#include "platform/requesters/qx_requesters.h"
#include "platform/x11/x11_display.h"
#include "platform/qx_sync.h"
#include "platform/qx_text.h"
#include "platform/qx_upcalls.h"

extern "C" {
qxCallWrapper *qxCallWrappers;
qxCallWrapper *qxCurrentWrapper;
}

namespace {

int hostAttributes(qxHostTag *tags)
{
    int handled = 0;
    for (; tags && tags->tag; tags++) {
        uint64_t v = tags->value;
        switch (tags->tag) {
        case 25: tags->value = 0; break;
        case 26: case 27: case 28: case 29: case 30: case 37: {
            int index = tags->tag == 37 ? 5 : int(tags->tag - 26);
            if (v && qxApplet) *reinterpret_cast<char **>(v) = qxApplet->header[index];
            break;
        }
        case 31: {
            qxTagItem item[2] = {{QX_TAG_CALLBACKNEST, uintptr_t(v)}, {QX_TAG_END, 0}};
            qxSetTags(item);
            break;
        }
        case 32:
            if (v) *reinterpret_cast<uint32_t *>(v) = uint32_t(qxGtkThreadStarted());
            break;
        case 33: qxSetLineHookDisabled(v ? 1 : 0); break;
        case 35:
            if (v) *reinterpret_cast<uint32_t *>(v) = qxUpcalls.frameRate ? qxUpcalls.frameRate() : 60;
            break;
        case 38: qxVmAbort = int(v); break;
        case 39: break;
        case 40:
            qxResetErrorFunction();
            qxVmAbort = 0;
            break;
        case 43: qxErrorHandlerBlocked = v ? 1 : 0; break;
        case 44:
            if (v) *reinterpret_cast<uint32_t *>(v) = uint32_t(qxRaiseOnError);
            break;
        case 45:
            if (v) *reinterpret_cast<lua_State **>(v) = qxMainState;
            break;
        case 46:
            if (v) qxGetScaleFactor(reinterpret_cast<double *>(v));
            break;
        default: continue;
        }
        handled++;
    }
    return handled;
}

// "dd-Mon-yyyy hh:mm:ss" of the local time; the caller's buffer holds 21 bytes.
void hostDateTimeString(char *buffer)
{
    if (buffer) qxFormatFileDate(uint64_t(time(nullptr)), buffer, 21);
}

void hostDateNow(qxDateRecord *d)
{
    if (!d) return;
    time_t now = time(nullptr);
    struct tm t;
    localtime_r(&now, &t);
    *d = {t.tm_sec, t.tm_min, t.tm_hour, t.tm_mday, t.tm_mon, t.tm_year + 1900};
}

void *hostAlloc(size_t size, uint32_t flags) { return qxAlloc(size, flags & 1); }
void hostFree(void *p) { qxFree(p); }

qxCallbackNode *hostAddCallback(uint32_t kind, qxCallbackFunc f, void *user) { return qxAddCallback(kind, f, user, 0); }

uint32_t hostRegisterType(void *, const char *name, void *head, qxObjectTypeHandler handler)
{
    uint32_t type = 0;
    return qxRegisterObjectType(head, name, handler, &type, 0) == 0 ? type : 0;
}

void hostFreeRefList(lua_State *L, void **record)
{
    if (record) qxFreeRefList(L, reinterpret_cast<qxObjectDataItem **>(&record[3]));
}

// One block: the node, then copies of the three texts.
int hostAddRecord(qxPluginInfo *info, uint32_t type, const char *t1, const char *t2, const char *t3, uint32_t value,
                  uint32_t flags)
{
    if (!info) return 0;
    const char *texts[3] = {t1, t2, t3};
    size_t size = sizeof(qxPluginRecordNode);
    for (const char *t : texts)
        if (t) size += std::strlen(t) + 1;
    auto *node = static_cast<qxPluginRecordNode *>(qxAlloc(size, 1));
    if (!node) return 0;
    char *p = reinterpret_cast<char *>(node + 1);
    for (int i = 0; i < 3; i++) {
        if (!texts[i]) continue;
        size_t n = std::strlen(texts[i]) + 1;
        std::memcpy(p, texts[i], n);
        node->text[i] = p;
        p += n;
    }
    node->type = type;
    node->value = (flags & 1) ? value : 0;
    node->flags = flags;
    qxPluginRecordNode **tail = &info->records;
    while (*tail) tail = &(*tail)->next;
    *tail = node;
    return 1;
}

// Without windows of the player's own: the pending frames of other threads,
// the poll that serves audio and joysticks, then (flag 1) one handled event.
int hostRunEvents(lua_State *L, uint32_t flags)
{
    if (qxQuitting) return 0;
    if ((flags & 2) && qxUpcalls.flushPendingDisplayUpdates)
        if (int r = qxUpcalls.flushPendingDisplayUpdates()) return r;
    if (int r = x11PollNoWindow()) return r;
    if ((flags & 1) && qxUpcalls.waitEventsUntilHandled) return qxUpcalls.waitEventsUntilHandled(L);
    return 0;
}

// ---- Call wrappers ----

qxCallWrapper *hostNewWrapper(void *, void *, qxWrapperCallback callback, qxWrapperErrorCallback onError,
                              void *user)
{
    auto *w = static_cast<qxCallWrapper *>(qxAlloc(sizeof(qxCallWrapper), 1));
    if (!w) return nullptr;
    w->callback = callback;
    w->errorCallback = onError;
    w->userData = user;
    qxCallWrapper **tail = &qxCallWrappers;
    while (*tail) tail = &(*tail)->next;
    *tail = w;
    qxInstallCallWrappers();
    return w;
}

void hostFreeWrapper(qxCallWrapper *w)
{
    if (!w) return;
    while (qxWatchedHandler *h = w->watched) {
        w->watched = h->next;
        qxFree(h);
    }
    for (qxCallWrapper **p = &qxCallWrappers; *p; p = &(*p)->next)
        if (*p == w) {
            *p = w->next;
            break;
        }
    if (qxCurrentWrapper == w) qxCurrentWrapper = nullptr;
    qxFree(w);
}

int hostWatch(qxCallWrapper *w, lua_CFunction handler)
{
    if (!w) return 0;
    qxWatchedHandler **tail = &w->watched;
    for (; *tail; tail = &(*tail)->next)
        if ((*tail)->handler == handler) return 1;
    auto *h = static_cast<qxWatchedHandler *>(qxAlloc(sizeof(qxWatchedHandler), 1));
    if (!h) return 0;
    h->handler = handler;
    *tail = h;
    return 1;
}

void hostSetErrorCallback(qxCallWrapper *w, qxWrapperErrorCallback f)
{
    if (w) w->errorCallback = f;
}
qxWrapperErrorCallback hostGetErrorCallback(qxCallWrapper *w) { return w ? w->errorCallback : nullptr; }
void hostSetWrapperDisabled(qxCallWrapper *w, uint32_t flag)
{
    if (w) w->disabled = flag;
}

int hostPoll(lua_State *L, uint32_t flags, uint32_t *result)
{
    if (result) *result = 0;
    if (qxQuitting) return 0;
    int r = qxUpcalls.pollEvents ? qxUpcalls.pollEvents(L, int(flags)) : 0;
    if (result) *result = uint32_t(r);
    if (r && r != ERR_USERABORT) return r;
    if (r || qxQuitting || !(flags & 16)) return 0;
    return qxUpcalls.waitEventsUntilHandled ? qxUpcalls.waitEventsUntilHandled(L) : 0;
}

int hostWait(lua_State *L, int)
{
    if (qxQuitting) return 0;
    return qxUpcalls.waitEvents ? qxUpcalls.waitEvents(L) : 0;
}

void hostTextVPrintF(const char *format, va_list args)
{
    if (!format) return;
    char buffer[4096];
    std::vsnprintf(buffer, sizeof buffer, format, args);
    qxPrintF("%s", buffer);
}

char *hostConvertText(const char *text, int from, int to) { return qxConvertText(text, from, to); }

int hostAddToCapability(qxPluginInfo *info, uint32_t capability)
{
    qxPluginListNode **list = qxCapabilityList(capability);
    if (!list) return ERR_WRONGUSAGE;
    for (qxPluginListNode *n = *list; n; n = n->next)
        if (n->item == info) return 0;
    return qxAddToPluginList(list, info);
}

void hostRemoveFromCapability(void *item, uint32_t capability)
{
    qxPluginListNode **list = qxCapabilityList(capability);
    if (!list) return;
    for (qxPluginListNode **p = list; *p;) {
        if ((*p)->item == item) {
            qxPluginListNode *gone = *p;
            *p = gone->next;
            qxFree(gone);
        } else {
            p = &(*p)->next;
        }
    }
}

int hostSetUserFlags(qxPluginInfo *info, uint32_t capability, uint32_t value)
{
    if (!info) return 0;
    switch (capability) {
    case QX_CAP_IMAGELOADER: info->imageFlags = value; break;
    case QX_CAP_ANIMLOADER: info->animFlags = value; break;
    case QX_CAP_SOUNDLOADER: info->soundFlags = value; break;
    case QX_CAP_VIDEO: info->videoFlags = value; break;
    case QX_CAP_FILEADAPTER: info->fileAdapterFlags = value; break;
    case QX_CAP_DIRADAPTER: info->dirAdapterFlags = value; break;
    case QX_CAP_NETWORKADAPTER: info->networkFlags = value; break;
    default: return 0;
    }
    qxSyncAdapterNodes(info);
    return 0;
}

int hostReportLine(lua_State *L, qxHostReportLine *out)
{
    if (!out) return 0;
    out->line = uint32_t(qxGetReportLine(L));
    const char *command = qxGetErrorCommandName();
    out->command = command && *command ? command : "----";
    out->file = qxGetReportFile(L);
    return 0;
}

uint32_t hostUtf8Mode(void) { return qxTextModeUtf8 ? 1 : 0; }

int hostCallErrorHandler(lua_State *L, int code)
{
    if (!qxErrorHandlerActive()) return code;
    qxErrorHandlerRunning = 1;
    int r = qxCallErrorHandler(L, code);
    qxErrorHandlerRunning = 0;
    return r;
}

int hostStrCompare(const char *a, const char *b, uint32_t flags) { return qxStrCompare(a, b, !(flags & 1)); }

int hostFindObject(uint32_t type, const qxObjectRef *ref) { return ref && qxFindObjectData(type, *ref) ? 1 : 0; }

// Slots the event and display layers fill when they link answer with their
// failure results until then.
uint32_t noEventCode(void) { return 0; }
int cannotPost(void) { return ERR_PLUGINSUPPORT; }
void ignore(void) {}
int cannotSetAdapter(void) { return ERR_SETADAPTER; }
int noHandler(void) { return -1; }

} // namespace

extern "C" {

// The VM asks before a native handler runs.
static int claimHandler(lua_State *L, lua_CFunction handler, int *result)
{
    for (qxCallWrapper *w = qxCallWrappers; w; w = w->next) {
        if (w->disabled) continue;
        for (qxWatchedHandler *h = w->watched; h; h = h->next) {
            if (h->handler != handler) continue;
            // Cleared again also when the callback throws a script error,
            // so that later errors do not reach this wrapper.
            struct Current {
                qxCallWrapper *previous = qxCurrentWrapper;
                ~Current() { qxCurrentWrapper = previous; }
            } current;
            qxCurrentWrapper = w;
            *result = w->callback ? w->callback(w, L, handler, w->userData, w) : 0;
            return 1;
        }
    }
    return 0;
}

static void throwNotify(lua_State *L, int code)
{
    qxCallWrapper *w = qxCurrentWrapper;
    if (w && w->errorCallback) w->errorCallback(w, L, code, w->userData, w);
}

void qxInstallCallWrappers(void)
{
    qxVmClaimHandler = claimHandler;
    qxVmThrowNotify = throwNotify;
}

void qxFreeCallWrappers(void)
{
    while (qxCallWrappers) hostFreeWrapper(qxCallWrappers);
}
}

#define F(x) reinterpret_cast<qxHostFunc>(x)

extern "C" {
qxHostFunc qxHostSystem[QX_HOST_SYSTEM_SLOTS] = {
    F(hostAttributes), F(qxRegisterErrorMessage), F(qxSetErrorString), F(qxSetErrorNumber), F(qxFormatErrorCode),
    F(qxGetSysTime), F(qxSubTime), F(qxAddTime), F(qxCmpTime), F(qxDelay),
    F(hostDateTimeString), F(hostAlloc), F(hostFree), F(hostAddCallback),
    F(noEventCode), F(cannotPost), F(ignore),
    F(hostRegisterType), F(hostFreeRefList), F(hostAddRecord), F(hostRunEvents),
    F(hostNewWrapper), F(hostFreeWrapper), F(hostWatch), F(hostSetErrorCallback), F(hostGetErrorCallback),
    F(hostSetWrapperDisabled),
    F(cannotPost), F(hostPoll), F(hostWait),
    F(qxCreateMutex), F(qxDeleteMutex), F(qxLockMutex), F(qxUnlockMutex),
    F(qxSetCallbackDisabled), F(qxRemoveCallback),
    F(noEventCode), F(hostTextVPrintF), F(ignore), F(cannotSetAdapter), F(hostDateNow),
    F(hostConvertText), F(hostFree),
    F(hostAddToCapability), F(hostRemoveFromCapability), F(hostSetUserFlags),
    F(cannotPost), F(hostReportLine), F(noHandler), F(hostUtf8Mode), F(hostCallErrorHandler),
    F(hostStrCompare), F(qxRandomBytes), F(qxGetSpecialPath), F(hostFindObject),
};
}
