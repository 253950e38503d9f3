// Small shared facilities of the runtime: bounded string copies, path
// joining and splitting, the plug-in callback and capability lists, and the
// release of the runtime's registries at shutdown.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/vm/lua.h"

// A node of a plug-in capability list.
struct qxPluginListNode {
    qxPluginListNode *next;
    void *item;
};

typedef void (*qxCallbackFunc)(void);

enum : uint32_t { QX_CALLBACK_KINDS = 5 };

// A registered plug-in callback; func[kind] holds its function.
struct qxCallbackNode {
    qxCallbackNode *next;
    uint32_t kind;
    uint32_t mode; // non-zero: called through the plug-in calling stub
    void *userData;
    uint32_t disabled;
    qxCallbackFunc func[QX_CALLBACK_KINDS];
};

extern "C" {


// Copies at most size - 1 bytes and a terminator; 1 when all of source
// fitted, 0 when it was cut (size 0 copies nothing and returns 0).
int qxStrCopyN(char *destination, size_t size, const char *source);
// Joins name to path with "/" unless path is empty or ends in "/" or "\".
// 1 on success; 0 when the result does not fit (path is left unchanged).
int qxAddPart(char *path, const char *name, size_t size);
// The part after the last "/", "\" or ":".
const char *qxFilePart(const char *path);
uint32_t qxMulAdd(uint32_t a, uint32_t b, uint32_t c);

// Appends item to a plug-in capability list: 1566 for applets older than
// 6.0, 1000 when out of memory, else 0.
int qxAddToPluginList(qxPluginListNode **list, void *item);
// Callbacks of kinds 0 to 4 (null for other kinds or no memory).
qxCallbackNode *qxAddCallback(uint32_t kind, qxCallbackFunc func, void *userData, uint32_t flags);
void qxSetCallbackDisabled(qxCallbackNode *node, int flag);
void qxRemoveCallback(qxCallbackNode *node);
// Runs the enabled callbacks of a kind in list order: kind 1 (L, data),
// giving the first non-zero result; kind 3 (value, data, 0), the text-mode
// switch; kind 4 (handle, value, data), a display's drop state.
int qxRunCallbacks(lua_State *L, uint32_t kind, void *handle, uintptr_t value);
// 1 when an enabled callback of the kind is registered.
int qxHasCallbacks(uint32_t kind);
// DisableLineHook and EnableLineHook (and plug-ins through the host).
void qxSetLineHookDisabled(int flag);

// Records the start time of the run.
int qxInitRuntime(void);
// The time qxInitRuntime ran.
int64_t qxRuntimeStartTime(void);
// Frees the attribute chains, the library-name registry, the custom error
// messages, the object-list registry, the callbacks, the plug-in
// capability lists and the queued events.
void qxFreeRuntimeLists(lua_State *L);

// The start-up record ("clargs") and the applet record ("applet") of the
// registry; the applet record of the main state when L is null.
struct qxStartupInfo *qxGetCommandLineTable(lua_State *L);
struct qxAppletInfo *qxGetAppletRecord(lua_State *L);
}
