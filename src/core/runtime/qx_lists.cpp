// Bounded strings, paths, callbacks and the release of the runtime lists.
#include "core/runtime/qx_lists.h"

#include <cstring>
#include <ctime>

#include "core/commands/qx_args.h"
#include "core/commands/qx_cmdcall.h"
#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"
#include "core/commands/qx_objreg.h"
#include "core/runtime/qx_startup.h"
#include "core/vm/lauxlib.h"
#include "core/vm/qx_vmregs.h"
#include "platform/qx_memory.h"

namespace {

qxCallbackNode *callbacks;
int64_t startTime;

// Every capability list that received an item, so that shutdown frees it.
constexpr int kMaxPluginLists = 32;
qxPluginListNode **pluginLists[kMaxPluginLists];
int pluginListCount;

bool rememberPluginList(qxPluginListNode **list) {
    for (int i = 0; i < pluginListCount; i++)
        if (pluginLists[i] == list) return true;
    if (pluginListCount == kMaxPluginLists) return false;
    pluginLists[pluginListCount++] = list;
    return true;
}

bool runs(const qxCallbackNode *c, uint32_t kind) { return c->kind == kind && !c->disabled && c->func[kind]; }

// Kind-1 callbacks count or step script lines: while one runs and the line
// hook is on, the interpreter calls the hook at every new line; otherwise
// it polls on request.
void chooseLineRoad() {
    bool everyLine = false;
    for (const qxCallbackNode *c = callbacks; c && !qxLineHookDisabled && !everyLine; c = c->next)
        everyLine = runs(c, 1);
    if (everyLine == (qxVmEveryLine != 0)) return;
    qxVmEveryLine = everyLine ? 1 : 0;
    if (everyLine) qxVmRequestTrace();
}

} // namespace

extern "C" {

// Lists

// Strings and paths

int qxStrCopyN(char *destination, size_t size, const char *source) {
    if (size == 0) return 0;
    size_t len = std::strlen(source);
    size_t n = len < size - 1 ? len : size - 1;
    std::memmove(destination, source, n);
    destination[n] = '\0';
    return n == len;
}

int qxAddPart(char *path, const char *name, size_t size) {
    if (size == 0) return 0;
    size_t len = strnlen(path, size);
    if (len == size) return 0;
    bool slash = len > 0 && path[len - 1] != '/' && path[len - 1] != '\\';
    size_t need = len + (slash ? 1 : 0) + std::strlen(name);
    // A cut path would name another file: refuse instead.
    if (need >= size) return 0;
    if (slash) path[len++] = '/';
    std::memcpy(path + len, name, need - len + 1);
    return 1;
}

const char *qxFilePart(const char *path) {
    const char *part = path;
    for (const char *p = path; *p; p++)
        if (*p == '/' || *p == '\\' || *p == ':') part = p + 1;
    while (*part == '/') part++;
    return part;
}

uint32_t qxMulAdd(uint32_t a, uint32_t b, uint32_t c) { return a * b + c; }

// Plug-in lists and callbacks

int qxAddToPluginList(qxPluginListNode **list, void *item) {
    if (!qxRequireVersion(6, 0)) {
        return ERR_OLDAPPLET;
    }
    if (!rememberPluginList(list)) return ERR_MEM;
    auto *node = static_cast<qxPluginListNode *>(qxAlloc(sizeof(qxPluginListNode), 1));
    if (!node) return ERR_MEM;
    node->item = item;
    while (*list) list = &(*list)->next;
    *list = node;
    return 0;
}

qxCallbackNode *qxAddCallback(uint32_t kind, qxCallbackFunc func, void *userData, uint32_t flags) {
    if (kind >= QX_CALLBACK_KINDS) return nullptr;
    auto *node = static_cast<qxCallbackNode *>(qxAlloc(sizeof(qxCallbackNode), 1));
    if (!node) return nullptr;
    node->kind = kind;
    node->mode = flags;
    node->userData = userData;
    node->func[kind] = func;
    qxCallbackNode **tail = &callbacks;
    while (*tail) tail = &(*tail)->next;
    *tail = node;
    chooseLineRoad();
    return node;
}

void qxSetCallbackDisabled(qxCallbackNode *node, int flag) {
    for (qxCallbackNode *n = callbacks; n; n = n->next)
        if (n == node) n->disabled = flag ? 1 : 0;
    chooseLineRoad();
}

void qxRemoveCallback(qxCallbackNode *node) {
    for (qxCallbackNode **p = &callbacks; *p; p = &(*p)->next) {
        if (*p != node) continue;
        *p = node->next;
        qxFree(node);
        break;
    }
    chooseLineRoad();
}

int qxRunCallbacks(lua_State *L, uint32_t kind, void *handle, uintptr_t value) {
    for (qxCallbackNode *c = callbacks; c; c = c->next) {
        if (!runs(c, kind)) continue;
        void *data = c->userData;
        switch (kind) {
        case 1:
            if (int r = reinterpret_cast<int (*)(lua_State *, void *)>(c->func[1])(L, data)) return r;
            break;
        case 3: reinterpret_cast<void (*)(uintptr_t, void *, uintptr_t)>(c->func[3])(value, data, 0); break;
        case 4: reinterpret_cast<void (*)(void *, int, void *)>(c->func[4])(handle, int(value), data); break;
        default: break;
        }
    }
    return 0;
}

int qxHasCallbacks(uint32_t kind) {
    for (const qxCallbackNode *c = callbacks; c; c = c->next)
        if (runs(c, kind)) return 1;
    return 0;
}

void qxSetLineHookDisabled(int flag) {
    qxLineHookDisabled = flag;
    chooseLineRoad();
}

// Runtime

int qxInitRuntime(void) {
    startTime = static_cast<int64_t>(std::time(nullptr));
    return 0;
}

int64_t qxRuntimeStartTime(void) { return startTime; }

void qxFreeRuntimeLists(lua_State *L) {
    qxFreeCommandRegistries();
    qxFreeErrorMessages();
    qxFreeObjectRegistry();
    while (callbacks) {
        qxCallbackNode *next = callbacks->next;
        qxFree(callbacks);
        callbacks = next;
    }
    chooseLineRoad();
    for (int i = 0; i < pluginListCount; i++) {
        qxPluginListNode **list = pluginLists[i];
        while (*list) {
            qxPluginListNode *next = (*list)->next;
            qxFree(*list);
            *list = next;
        }
    }
    pluginListCount = 0;
    qxFreeErrorState(L);
}

qxStartupInfo *qxGetCommandLineTable(lua_State *L) {
    return static_cast<qxStartupInfo *>(luaL_getregptr(L, "clargs"));
}

qxAppletInfo *qxGetAppletRecord(lua_State *L) {
    if (!L) return qxApplet;
    return static_cast<qxAppletInfo *>(luaL_getregptr(L, "applet"));
}

} // extern "C"
