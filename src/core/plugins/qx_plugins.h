// Plug-in discovery, loading, activation and unloading.
#pragma once
#include <cstdint>
#include <string>

#include "core/runtime/qx_lists.h"
#include "core/plugins/qx_pluginapi.h"
#include "core/runtime/qx_startup.h"

struct qxRequireTag;

// A node of the plug-in list, in load order.
struct qxPluginNode {
    qxPluginNode *next;
    uint32_t capabilities;
    qxPluginHandle *handle; // null while only listed
    char name[256];         // file name with extension, without a leading "_"
    char path[1024];
    uint32_t required;
};

extern "C" {
extern qxPluginNode *qxPluginList;
// The host table handed to InitPlugin; the top of the program assembles it
// from every layer's sub-tables and installs it before plug-ins load.
void qxSetHostTable(const qxPluginBase *base);
const qxPluginBase *qxGetHostTable(void);

// ---- One shared object ----
int qxOpenPluginLibrary(const char *path, uint32_t *capabilities, qxPluginHandle **handle);
void qxClosePluginLibrary(qxPluginHandle *handle);
// Copies a plug-in's disabled and adapter flags to its file-layer adapters.
void qxSyncAdapterNodes(const qxPluginInfo *info);

// ---- The list ----
int qxExtractLinkedPlugins(const char *programPath, uint32_t offset);
int qxScanPluginDirs(const char *programPath, const char *skipList, int *count);
int qxScanPluginDir(const char *directory, const char *skipList, int *count);
// Number of plug-in files the directory scan would load.
int qxCountPluginFiles(qxStartupInfo *startup);
int qxLoadAllPlugins(lua_State *L, qxStartupInfo *startup, qxAppletInfo *applet);
int qxLoadPluginFile(const char *path, int force, qxPluginNode **node);
int qxActivatePlugin(lua_State *L, qxPluginNode *node);
int qxRegisterPluginLibrary(lua_State *L, qxPluginHandle *handle, int constants, int commands);
int qxRegisterFormatNames(lua_State *L, const char *prefix, qxRegisterSaverFunc reg, qxSaverFormat **list,
                          uint32_t moreBit, uint32_t abiKind);
// FreeLibrary of every initialised library plug-in.
void qxFreeLibraryPlugins(lua_State *L);
void qxUnloadPlugins(void);
// Loads a required plug-in (with its tags) and calls its RequirePlugin;
// flags receives its display wishes. 0 or an error code.
int qxLoadPlugin(lua_State *L, const char *name, int version, int revision, int constantsOnly, int adaptersOnly,
                 int loadAll, qxRequireTag *tags, uint32_t *flags);

// ---- Loader and adapter lists ----
int qxLoaderAllowed(const char *list, const char *name, int pluginMeansAll);
int qxLoaderListAdmits(const char *list, const char *name);
// 1 when a loader plug-in may be asked for a file under the loader list: it
// is enabled, of this platform's calling convention (a kind-2 plug-in is
// never called here), allowed by the list, and named there when it only
// answers by name.
int qxPluginAdmitted(const qxPluginInfo *plugin, const char *list);
void qxSelectAdapters(const char *list, uint32_t capability);
// The selection list of a loader or adapter capability, null for others.
qxPluginListNode **qxCapabilityList(uint32_t capability);
uint32_t qxAdapterCaps(uint32_t mask);

// ---- Plug-in list of the host table ----
qxPluginInfoNode *qxGetPluginList(void);
void qxFreePluginList(qxPluginInfoNode *list);
void qxSetPluginDisabled(qxPluginInfo *info, uint32_t flag);
void qxSetPluginUserValue(qxPluginInfo *info, uintptr_t value);
uintptr_t qxGetPluginUserValue(qxPluginInfo *info);

// The installed display adapter (filled by the display layer), or null.
extern qxPluginInfo *qxDisplayAdapter;
}

// A required plug-in's name as qxLoadPlugin looks it up: without ".qxp".
std::string qxPluginBaseName(const char *name);
