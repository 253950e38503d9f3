// The plug-in list: scanning the plug-in directories, loading files into
// the list, loading required plug-ins on demand and unloading at exit.
#include <strings.h>

#include <cstring>
#include <string>

#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "core/runtime/qx_startup.h"
#include "core/plugins/qx_hosttable.h"
#include "core/errors/qx_messages.h"
#include "core/runtime/qx_options.h"
#include "core/plugins/qx_plugins.h"
#include "core/applet/qx_preproc.h"
#include "platform/qx_files.h"
#include "platform/qx_hooks.h"
#include "platform/qx_memory.h"
#include "platform/qx_upcalls.h"

extern "C" {
qxPluginNode *qxPluginList;
qxPluginInfo *qxDisplayAdapter;
}

namespace {

bool quiet() { return qxGetTag(QX_TAG_QUIET) != 0; }

bool endsWithQxp(const std::string &name)
{
    return name.size() >= 4 && strcasecmp(name.c_str() + name.size() - 4, ".qxp") == 0;
}

qxPluginNode *findByName(const char *name)
{
    for (qxPluginNode *n = qxPluginList; n; n = n->next)
        if (strcasecmp(n->name, name) == 0) return n;
    return nullptr;
}

qxPluginNode *appendNode(const char *name, const char *path)
{
    auto *node = static_cast<qxPluginNode *>(qxAlloc(sizeof(qxPluginNode), 1));
    if (!node) return nullptr;
    qxStrCopyN(node->name, sizeof node->name, name);
    qxStrCopyN(node->path, sizeof node->path, path);
    qxPluginNode **tail = &qxPluginList;
    while (*tail) tail = &(*tail)->next;
    *tail = node;
    return node;
}

// SKIPPLUGINS: entries of the split list, ".qxp" appended where missing;
// "*" names every file.
bool skipped(const char *skipList, const char *file)
{
    for (const char *e = skipList; e && *e; e += std::strlen(e) + 1) {
        if (std::strcmp(e, "*") == 0) return true;
        std::string entry = e;
        if (!endsWithQxp(entry)) entry += ".qxp";
        if (strcasecmp(entry.c_str(), file) == 0) return true;
    }
    return false;
}

// "(Reason: %s)\n" with the formatted message of code.
void printReason(int code)
{
    if (quiet()) return;
    char message[1024];
    qxFormatErrorCode(code, message, sizeof message);
    std::string text = qxGetErrorText(QX_MSG_REASON);
    size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, message);
    qxPrintF("%s", text.c_str());
}

void loadingLine(const char *path) { qxDebugPrintLine(qxGetErrorText(QX_MSG_LOADINGPLUGIN), path, 1); }

void freeSaverFormats(qxSaverFormat *&list)
{
    if (!list) return;
    for (qxSaverFormat *f = list; f->name; f++) qxFree(f->name);
    qxFree(list);
    list = nullptr;
}

void freeRecords(qxPluginInfo *info)
{
    while (qxPluginRecordNode *r = info->records) {
        info->records = r->next;
        qxFree(r); // one block with its texts
    }
}

bool libraryOnRequest(const qxPluginInfo *info)
{
    return info->extensionFlags[__builtin_ctz(QX_CAP_LIBRARY)] & 2;
}

int displayAdapterActive(void) { return qxDisplayAdapter != nullptr; }

qxPluginListNode *imageLoaders, *animLoaders, *soundLoaders, *videoLoaders, *fileAdapterList, *dirAdapterList,
    *networkAdapters;

} // namespace

std::string qxPluginBaseName(const char *name)
{
    std::string base = name ? name : "";
    if (endsWithQxp(base)) base.resize(base.size() - 4);
    return base;
}

extern "C" {

qxPluginListNode **qxCapabilityList(uint32_t capability)
{
    switch (capability) {
    case QX_CAP_IMAGELOADER: return &imageLoaders;
    case QX_CAP_ANIMLOADER: return &animLoaders;
    case QX_CAP_SOUNDLOADER: return &soundLoaders;
    case QX_CAP_VIDEO: return &videoLoaders;
    case QX_CAP_FILEADAPTER: return &fileAdapterList;
    case QX_CAP_DIRADAPTER: return &dirAdapterList;
    case QX_CAP_NETWORKADAPTER: return &networkAdapters;
    default: return nullptr;
    }
}

int qxLoadPluginFile(const char *path, int force, qxPluginNode **out)
{
    if (out) *out = nullptr;
    const char *name = qxFilePart(path);
    qxPluginNode *node = findByName(name);
    if (node && (node->handle || !force)) {
        if (out) *out = node;
        return ERR_USERABORT;
    }
    loadingLine(path);
    uint32_t caps = 0;
    qxPluginHandle *handle = nullptr;
    int e = qxOpenPluginLibrary(path, &caps, &handle);
    // A listed-only node falls back on its stored path.
    if (e == ERR_DLOPEN && node && std::strcmp(node->path, path) != 0) e = qxOpenPluginLibrary(node->path, &caps, &handle);
    if (e) return e;
    if (!node) {
        node = appendNode(name, path);
        if (!node) {
            qxClosePluginLibrary(handle);
            return ERR_MEM;
        }
    }
    node->capabilities = caps;
    node->handle = handle;
    qxPrintDone();
    if (out) *out = node;
    return 0;
}

int qxScanPluginDir(const char *directory, const char *skipList, int *count)
{
    qxNativeDir *dir = qxNativeOpenDir(directory, 1);
    if (!dir) return 0;
    const char *entry;
    int isDirectory = 0;
    qxFileInfo fi;
    int result = 0;
    while (qxNativeNextEntry(dir, nullptr, &entry, &isDirectory, &fi)) {
        std::string file = entry;
        if (isDirectory || file.size() < 5 || !endsWithQxp(file)) continue;
        if (count) {
            (*count)++;
            continue;
        }
        std::string path = std::string(directory) + "/" + file;
        // "_name.qxp" and skipped files are only listed; others are loaded.
        const char *listedName = file[0] == '_' ? file.c_str() + 1
                                 : skipped(skipList, file.c_str()) ? file.c_str()
                                                                   : nullptr;
        if (listedName) {
            if (!findByName(listedName) && !appendNode(listedName, path.c_str())) {
                result = ERR_MEM;
                break;
            }
        } else if (int e = qxLoadPluginFile(path.c_str(), 0, nullptr)) {
            if (e == ERR_MEM) {
                result = e;
                break;
            }
            if (e != ERR_USERABORT) {
                if (!quiet()) qxPrintFailed();
                printReason(e);
            }
        }
        // The start-up progress shares its steps among the plug-in files.
        if (!qxLinked && qxProgressStepHook(qxProgressStep) == ERR_USERABORT) {
            result = ERR_USERABORT;
            break;
        }
    }
    qxNativeCloseDir(dir);
    return result;
}

int qxScanPluginDirs(const char *programPath, const char *skipList, int *count)
{
    if (qxLinkedPluginDir[0])
        if (int e = qxScanPluginDir(qxLinkedPluginDir, skipList, count)) return e;
    const char *slash = programPath ? std::strrchr(programPath, '/') : nullptr;
    if (!slash) return 0;
    std::string dir(programPath, size_t(slash - programPath));
    if (dir.empty()) dir = "/";
    if (!qxLinked) dir += dir == "/" ? "Plugins" : "/Plugins";
    return qxScanPluginDir(dir.c_str(), skipList, count);
}

int qxCountPluginFiles(qxStartupInfo *startup)
{
    int count = 0;
    qxScanPluginDirs(startup ? startup->programPath : nullptr, qxGlobalSettings.skipList, &count);
    return count;
}

int qxLoadAllPlugins(lua_State *L, qxStartupInfo *startup, qxAppletInfo *)
{
    qxUpcalls.displayAdapterActive = displayAdapterActive;
    if (int e = qxScanPluginDirs(startup ? startup->programPath : nullptr, qxGlobalSettings.skipList, nullptr))
        return e;
    for (qxPluginNode *n = qxPluginList; n; n = n->next)
        if (n->handle)
            if (int e = qxActivatePlugin(L, n)) return e;
    return 0;
}

int qxLoadPlugin(lua_State *L, const char *name, int version, int revision, int constantsOnly, int adaptersOnly,
                 int loadAll, qxRequireTag *tags, uint32_t *flags)
{
    static bool brokeLine;
    if (flags) *flags = 0;
    std::string wanted = qxPluginBaseName(name);

    qxPluginNode *match = nullptr;
    for (qxPluginNode *n = qxPluginList; n && !match; n = n->next) {
        if (!n->handle) {
            size_t len = std::strlen(n->name);
            if (len < 4 || len - 4 != wanted.size() || strncasecmp(n->name, wanted.c_str(), len - 4) != 0) continue;
            if (!brokeLine && !quiet()) qxPrintF("\n");
            brokeLine = true;
            loadingLine(n->path);
            uint32_t caps = 0;
            qxPluginHandle *handle = nullptr;
            int e = qxOpenPluginLibrary(n->path, &caps, &handle);
            if (!e) {
                n->capabilities = caps;
                n->handle = handle;
                e = qxActivatePlugin(L, n);
            }
            if (e) {
                if (!quiet()) qxPrintFailed();
                return e;
            }
            qxPrintDone();
        }
        const char *pluginName = n->handle->info->name;
        if (pluginName && strcasecmp(pluginName, wanted.c_str()) == 0) match = n;
    }
    qxPluginInfo *info = match ? match->handle->info : nullptr;
    if (!info || info->version < version || (info->version == version && info->revision < revision)) {
        std::string text = wanted;
        if (version > 0)
            text += " " + std::to_string(version) + "." + std::to_string(revision);
        else
            text += ".qxp";
        qxSetErrorString(text.c_str());
        return ERR_REQUIREPLUGIN;
    }
    if ((match->capabilities & QX_CAP_LIBRARY) && libraryOnRequest(info)) {
        int e = 0;
        if (loadAll)
            e = qxRegisterPluginLibrary(L, match->handle, 1, !info->libraryInitialised);
        else if (constantsOnly)
            e = qxRegisterPluginLibrary(L, match->handle, 1, 0);
        else if (!info->libraryInitialised)
            e = qxRegisterPluginLibrary(L, match->handle, 0, 1);
        if (e) return e;
    }
    if (!(match->capabilities & QX_CAP_REQUIRE) || constantsOnly || match->required) return 0;
    if (adaptersOnly && !(match->capabilities & (QX_CAP_FILEADAPTER | QX_CAP_DIRADAPTER))) return 0;
    match->required = 1;
    info->required = 1;
    if (info->abiKind == 2) return 0;
    static_assert(sizeof(qxRequireTag) == sizeof(qxPluginRequireTag), "requirement tag layout");
    qxRequireRecord record = {reinterpret_cast<qxPluginRequireTag *>(tags), flags};
    auto require = reinterpret_cast<qxRequirePluginFunc>(info->entry[QX_EP_RequirePlugin]);
    return require(L, version, revision, 0, &record);
}

void qxFreeLibraryPlugins(lua_State *L)
{
    for (qxPluginNode *n = qxPluginList; n; n = n->next) {
        if (!n->handle || !(n->capabilities & QX_CAP_LIBRARY)) continue;
        qxPluginInfo *info = n->handle->info;
        if (!info->libraryInitialised || info->abiKind == 2 || !info->entry[QX_EP_FreeLibrary]) continue;
        reinterpret_cast<qxFreeLibraryFunc>(info->entry[QX_EP_FreeLibrary])(L);
        info->libraryInitialised = 0;
    }
}

void qxUnloadPlugins(void)
{
    while (qxPluginNode *n = qxPluginList) {
        qxPluginList = n->next;
        if (n->handle) {
            qxPluginInfo *info = n->handle->info;
            freeRecords(info);
            freeSaverFormats(info->imageFormats);
            freeSaverFormats(info->animFormats);
            freeSaverFormats(info->sampleFormats);
            qxClosePluginLibrary(n->handle);
        }
        qxFree(n);
    }
    qxDisplayAdapter = nullptr;
    // Wrappers a plug-in did not free itself.
    qxFreeCallWrappers();
}

// ---- The host table's plug-in list ----

qxPluginInfoNode *qxGetPluginList(void)
{
    qxPluginInfoNode *head = nullptr, **tail = &head;
    for (qxPluginNode *n = qxPluginList; n; n = n->next) {
        if (!n->handle) continue;
        auto *node = static_cast<qxPluginInfoNode *>(qxAlloc(sizeof(qxPluginInfoNode), 1));
        if (!node) {
            qxFreePluginList(head);
            return nullptr;
        }
        node->info = n->handle->info;
        *tail = node;
        tail = &node->next;
    }
    return head;
}

void qxFreePluginList(qxPluginInfoNode *list)
{
    while (list) {
        qxPluginInfoNode *next = list->next;
        qxFree(list);
        list = next;
    }
}

void qxSetPluginDisabled(qxPluginInfo *info, uint32_t flag)
{
    if (!info) return;
    info->disabled = flag;
    qxSyncAdapterNodes(info);
}

void qxSetPluginUserValue(qxPluginInfo *info, uintptr_t value)
{
    if (info) info->userValue = value;
}

uintptr_t qxGetPluginUserValue(qxPluginInfo *info) { return info ? info->userValue : 0; }
}
