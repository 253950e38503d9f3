// Opening one plug-in shared object: InitPlugin with the host table, the
// name and version checks and the entry-point lookup by capability.
#include <dlfcn.h>
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "core/plugins/qx_plugins.h"
#include "platform/qx_memory.h"
#include "platform/qx_paths.h"
#include "platform/qx_text.h"

namespace {

// The symbol names of the entry-point slots, in slot order; null for the
// saver registrations' own words.
const char *const kSlotNames[QX_EP_COUNT] = {
    "InitPlugin", "ClosePlugin",
    "IsImage", "LoadImage", "GetImage", "FreeImage", "TransformImage",
    "OpenAnim", "LoadFrame", "FreeFrame", "GetFrameDelay", "CloseAnim",
    "OpenStream", "CloseStream", "SeekStream", "StreamSamples", "GetFormatName",
    "GetPathExtents", "DrawPath", "TranslatePath", "GetCurrentPoint", "CreateVectorFont", "FreeVectorFont",
    "OpenFont", "CloseFont",
    "OpenVideo", "CloseVideo", "NextPacket", "FreePacket", "DecodeVideoFrame", "DecodeAudioFrame", "SeekVideo",
    "FlushAudio", "FlushVideo", "GetVideoFrames", "GetVideoFormat",
    "GetBaseTable", "GetCommands", "GetConstants", "InitLibrary", "FreeLibrary", "GetLibraryCount",
    "SetCurrentLibrary", "GetHelpStrings", "PushUpvalues",
    "GetScript", "FreeScript",
    "RegisterImageSaver", "SaveImage", nullptr,
    "RegisterAnimSaver", "BeginAnimStream", "WriteAnimFrame", "FinishAnimStream", nullptr,
    "RegisterSampleSaver", "SaveSample", nullptr,
    "RequirePlugin",
    "HandleEvents", "WaitEvents", "ForceEventLoopIteration", "Sleep", "VWait", "DetermineBorderSizes",
    "OpenDisplay", "CloseDisplay", "ChangeBufferSize", "ShowHideDisplay", "SizeMoveDisplay", "SetDisplayTitle",
    "ActivateDisplay", "SetDisplayAttributes", "CreatePointer", "FreePointer", "SetPointer", "ShowHidePointer",
    "MovePointer", "GetMousePos", "GetQualifiers", "BltBitMap", "RectFill", "WritePixel", "Line",
    "GetMonitorInfo", "FreeMonitorInfo", "GrabScreenPixels", "FreeGrabScreenPixels", "AdapterMainLoop",
    "BeginDoubleBuffer", "EndDoubleBuffer", "Flip", "Cls", "AllocVideoBitMap", "FreeVideoBitMap",
    "ReadVideoPixels", "FreeVideoPixels", "DoVideoBitMapMethod", "AllocBitMap", "FreeBitMap", "LockBitMap",
    "UnLockBitMap", "GetBitMapAttr",
    "RegisterTimer", "FreeTimer",
    "SystemRequest", "FileRequest", "PathRequest", "StringRequest", "ListRequest", "FontRequest",
    "ColorRequest", "FreeRequest",
    "FOpen", "FClose", "FRead", "FGetC", "FWrite", "FPutC", "FSeek", "FFlush", "FEof", "FStat", "Stat",
    "OpenDir", "CloseDir", "NextDirEntry", "RewindDir",
    "OpenAudio", "CloseAudio", "AllocAudioChannel", "FreeAudioChannel", "SetChannelAttributes",
    "GetExtensions",
    "OpenConnection", "CloseConnection", "GetConnectionInfo", "ReceiveData", "SendData",
};
static_assert(QX_EP_COUNT == 139, "entry-point slots");

// One capability set: its slots [first, first + count).
struct SlotSet {
    uint32_t capability;
    int first;
    int count;
};

// In the order the sets are processed.
constexpr SlotSet kSets[] = {
    {QX_CAP_EXTENSIONS, QX_EP_GetExtensions, 1},
    {QX_CAP_VECTORGRAPHICS, QX_EP_GetPathExtents, 8},
    {QX_CAP_VIDEO, QX_EP_OpenVideo, 11},
    {QX_CAP_LIBRARY, QX_EP_GetBaseTable, 9},
    {QX_CAP_SCRIPT, QX_EP_GetScript, 2},
    {QX_CAP_IMAGELOADER, QX_EP_IsImage, 5},
    {QX_CAP_ANIMLOADER, QX_EP_OpenAnim, 5},
    {QX_CAP_SOUNDLOADER, QX_EP_OpenStream, 5},
    {QX_CAP_IMAGESAVER, QX_EP_RegisterImageSaver, 3},
    {QX_CAP_ANIMSAVER, QX_EP_RegisterAnimSaver, 5},
    {QX_CAP_SAMPLESAVER, QX_EP_RegisterSampleSaver, 3},
    {QX_CAP_REQUIRE, QX_EP_RequirePlugin, 1},
    {QX_CAP_DISPLAYADAPTER, QX_EP_HandleEvents, 44},
    {QX_CAP_TIMERADAPTER, QX_EP_RegisterTimer, 2},
    {QX_CAP_REQUESTERADAPTER, QX_EP_SystemRequest, 8},
    {QX_CAP_FILEADAPTER, QX_EP_FOpen, 11},
    {QX_CAP_DIRADAPTER, QX_EP_OpenDir, 4},
    {QX_CAP_AUDIOADAPTER, QX_EP_OpenAudio, 5},
    {QX_CAP_NETWORKADAPTER, QX_EP_OpenConnection, 5},
};

int bitNumber(uint32_t bit) { return __builtin_ctz(bit); }

// Whether an optional member is wanted by the set's extension flags; true
// for members that are always required.
bool wanted(int slot, uint32_t ext)
{
    switch (slot) {
    case QX_EP_AdapterMainLoop:
    case QX_EP_RewindDir:
    case QX_EP_GetLibraryCount:
    case QX_EP_SetCurrentLibrary: return ext & 1;
    case QX_EP_GetHelpStrings: return ext & 4;
    case QX_EP_PushUpvalues: return ext & 8;
    default: return true;
    }
}

const char *const kReservedNames[] = {"default", "standard", "inbuilt", "zephyrane", "system", "native"};

// The file's base name without its extension must name the plug-in.
bool nameMatches(const char *path, const char *pluginName)
{
    if (!pluginName) return false;
    std::string base = qxFilePart(path);
    base.resize(base.size() >= 4 ? base.size() - 4 : 0);
    if (!base.empty() && base[0] == '_' && strcasecmp(base.c_str() + 1, pluginName) == 0) return true;
    if (base != pluginName) return false;
    for (const char *r : kReservedNames)
        if (strcasecmp(pluginName, r) == 0) return false;
    return true;
}

// Adapters of the file layer: one block holds the node and its functions.
struct AdapterBlock {
    qxAdapterNode node;
    qxFileAdapterFuncs funcs;
};

template <typename T> void take(T &field, void *entry) { field = reinterpret_cast<T>(entry); }

int addFileAdapters(qxPluginInfo *info)
{
    uint32_t caps = info->capabilities;
    for (uint32_t cap : {QX_CAP_FILEADAPTER, QX_CAP_DIRADAPTER}) {
        if (!(caps & cap)) continue;
        auto *b = static_cast<AdapterBlock *>(qxAlloc(sizeof(AdapterBlock), 1));
        if (!b) return ERR_MEM;
        void **e = info->entry;
        qxFileAdapterFuncs &f = b->funcs;
        if (cap == QX_CAP_FILEADAPTER) {
            take(f.FOpen, e[QX_EP_FOpen]);
            take(f.FClose, e[QX_EP_FClose]);
            take(f.FRead, e[QX_EP_FRead]);
            take(f.FGetC, e[QX_EP_FGetC]);
            take(f.FWrite, e[QX_EP_FWrite]);
            take(f.FPutC, e[QX_EP_FPutC]);
            take(f.FSeek, e[QX_EP_FSeek]);
            take(f.FFlush, e[QX_EP_FFlush]);
            take(f.FEof, e[QX_EP_FEof]);
            take(f.FStat, e[QX_EP_FStat]);
            take(f.Stat, e[QX_EP_Stat]);
        } else {
            take(f.OpenDir, e[QX_EP_OpenDir]);
            take(f.CloseDir, e[QX_EP_CloseDir]);
            take(f.NextDirEntry, e[QX_EP_NextDirEntry]);
            take(f.RewindDir, e[QX_EP_RewindDir]);
        }
        b->node.plugin = info;
        b->node.name = info->name;
        b->node.funcs = &b->funcs;
        b->node.userFlags = cap == QX_CAP_FILEADAPTER ? info->fileAdapterFlags : info->dirAdapterFlags;
        qxAdapterNode **tail = cap == QX_CAP_FILEADAPTER ? &qxFileAdapters : &qxDirAdapters;
        while (*tail) tail = &(*tail)->next;
        *tail = &b->node;
    }
    return 0;
}

void removeFileAdapters(const qxPluginInfo *info)
{
    for (qxAdapterNode **list : {&qxFileAdapters, &qxDirAdapters}) {
        for (qxAdapterNode **p = list; *p;) {
            if ((*p)->plugin == info) {
                qxAdapterNode *gone = *p;
                *p = gone->next;
                qxFree(gone); // the node starts its block
            } else {
                p = &(*p)->next;
            }
        }
    }
}

// Loaders go into the capability lists the loader dispatch walks.
int addLoaders(qxPluginInfo *info)
{
    for (uint32_t cap : {QX_CAP_IMAGELOADER, QX_CAP_ANIMLOADER, QX_CAP_SOUNDLOADER, QX_CAP_VIDEO}) {
        if (!(info->capabilities & cap) || (info->extensionFlags[bitNumber(cap)] & 1)) continue;
        qxPluginListNode **list = qxCapabilityList(cap);
        if (!list) return ERR_WRONGUSAGE;
        if (int e = qxAddToPluginList(list, info)) return e;
    }
    return 0;
}

void removeFromCapabilityLists(const qxPluginInfo *info)
{
    for (uint32_t bit = 1; bit <= QX_CAP_NETWORKADAPTER; bit <<= 1) {
        qxPluginListNode **list = qxCapabilityList(bit);
        if (!list) continue;
        for (qxPluginListNode **p = list; *p;) {
            if ((*p)->item == info) {
                qxPluginListNode *gone = *p;
                *p = gone->next;
                qxFree(gone);
            } else {
                p = &(*p)->next;
            }
        }
    }
}

// Library-list entries whose command table lives in the plug-in's shared
// object go before it is unmapped.
void removeLibraryNames(const qxPluginInfo *info)
{
    Dl_info own;
    if (!info->entry[QX_EP_InitPlugin] || !dladdr(info->entry[QX_EP_InitPlugin], &own)) return;
    for (qxLibraryEntry **p = &qxLibraryNames; *p;) {
        Dl_info where;
        if (dladdr((*p)->commands, &where) && where.dli_fbase == own.dli_fbase) {
            qxLibraryEntry *gone = *p;
            *p = gone->next;
            qxFree(gone);
        } else {
            p = &(*p)->next;
        }
    }
}

void callClose(qxPluginInfo *info)
{
    if (info->abiKind == 2 || !info->entry[QX_EP_ClosePlugin]) return;
    reinterpret_cast<qxClosePluginFunc>(info->entry[QX_EP_ClosePlugin])();
}

// Looks up every symbol of the plug-in's capability sets; 0 or 1521.
int lookUpEntries(void *library, qxPluginInfo *info)
{
    uint32_t caps = info->capabilities;
    for (const SlotSet &set : kSets) {
        if (!(caps & set.capability)) continue;
        uint32_t ext = info->extensionFlags[bitNumber(set.capability)];
        for (int slot = set.first; slot < set.first + set.count; slot++) {
            const char *symbol = kSlotNames[slot];
            if (!symbol || !wanted(slot, ext)) continue;
            void *entry = dlsym(library, symbol);
            if (!entry) {
                qxSetErrorString(symbol);
                return ERR_PLUGINSYMBOL;
            }
            info->entry[slot] = entry;
        }
        if (set.capability == QX_CAP_EXTENSIONS) {
            auto ext = reinterpret_cast<qxGetExtensionsFunc>(info->entry[QX_EP_GetExtensions]);
            for (uint32_t bit = 1; bit; bit <<= 1)
                if ((caps & bit) && bit != QX_CAP_EXTENSIONS && info->abiKind != 2)
                    info->extensionFlags[bitNumber(bit)] = ext(bit, 0);
        }
    }
    return 0;
}

} // namespace

extern "C" {

int qxOpenPluginLibrary(const char *path, uint32_t *capabilities, qxPluginHandle **out)
{
    *out = nullptr;
    auto *handle = static_cast<qxPluginHandle *>(qxAlloc(sizeof(qxPluginHandle), 1));
    if (!handle) return ERR_MEM;
    char full[1024];
    if (!qxFullPath(path, full, sizeof full)) qxStrCopyN(full, sizeof full, path);
    std::string native = full;
    if (!qxTextModeUtf8) {
        if (char *converted = qxLatin1ToUtf8Dup(full)) {
            native = converted;
            qxFree(converted);
        }
    }
    void *library = dlopen(native.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!library) {
        const char *why = dlerror();
        qxSetErrorString(why ? why : path);
        qxFree(handle);
        return ERR_DLOPEN;
    }
    auto fail = [&](int code, qxPluginInfo *info, bool close) {
        if (close) callClose(info);
        qxFree(info);
        dlclose(library);
        qxFree(handle);
        return code;
    };
    auto *info = static_cast<qxPluginInfo *>(qxAlloc(sizeof(qxPluginInfo), 1));
    if (!info) return fail(ERR_MEM, nullptr, false);

    info->entry[QX_EP_InitPlugin] = dlsym(library, "InitPlugin");
    info->entry[QX_EP_ClosePlugin] = dlsym(library, "ClosePlugin");
    if (!info->entry[QX_EP_InitPlugin] || !info->entry[QX_EP_ClosePlugin]) {
        qxSetErrorString(qxFilePart(path));
        return fail(ERR_LOADPLUGIN, info, false);
    }
    info->version = QX_PLUGIN_VERSION;
    info->revision = QX_PLUGIN_REVISION;
    auto init = reinterpret_cast<qxInitPluginFunc>(info->entry[QX_EP_InitPlugin]);
    const qxPluginBase *base = qxGetHostTable();
    if (!base) {
        qxSetErrorString(qxFilePart(path));
        return fail(ERR_LOADPLUGIN, info, false);
    }
    int ok = init(info, base, full);
    // A plug-in of a calling convention this platform does not run answers 0.
    if (!ok || info->abiKind == 2) {
        qxSetErrorString(qxFilePart(path));
        return fail(ERR_LOADPLUGIN, info, false);
    }
    if (!nameMatches(path, info->name)) {
        qxSetErrorString(qxFilePart(path));
        return fail(ERR_LOADPLUGIN, info, true);
    }
    if (info->version > QX_PLUGIN_VERSION ||
        (info->version == QX_PLUGIN_VERSION && info->revision > QX_PLUGIN_REVISION)) {
        char text[32];
        std::snprintf(text, sizeof text, "%d.%d", info->version, info->revision);
        qxSetErrorString(text);
        return fail(ERR_NEWQXPLUGIN, info, true);
    }
    if (!(info->capabilities & QX_CAP_KNOWN)) {
        char text[16];
        std::snprintf(text, sizeof text, "%x", info->capabilities);
        qxSetErrorString(text);
        return fail(ERR_PLUGINTYPE, info, true);
    }
    if (int e = lookUpEntries(library, info)) return fail(e, info, true);
    int e = addLoaders(info);
    if (!e) e = addFileAdapters(info);
    if (e) {
        if (e == ERR_PLUGINARCH) qxSetErrorString("Linux");
        removeFromCapabilityLists(info);
        removeFileAdapters(info);
        return fail(e, info, true);
    }
    handle->capabilities = info->capabilities;
    handle->info = info;
    handle->library = library;
    *capabilities = info->capabilities;
    *out = handle;
    return 0;
}

void qxClosePluginLibrary(qxPluginHandle *handle)
{
    if (!handle) return;
    if (qxPluginInfo *info = handle->info) {
        removeFromCapabilityLists(info);
        removeFileAdapters(info);
        removeLibraryNames(info);
        callClose(info);
    }
    if (handle->library) dlclose(handle->library);
    qxFree(handle->info);
    qxFree(handle);
}

// Keeps the file layer's copies of the adapter flags in step.
void qxSyncAdapterNodes(const qxPluginInfo *info)
{
    for (qxAdapterNode *n = qxFileAdapters; n; n = n->next)
        if (n->plugin == info) {
            n->disabled = info->disabled;
            n->userFlags = info->fileAdapterFlags;
        }
    for (qxAdapterNode *n = qxDirAdapters; n; n = n->next)
        if (n->plugin == info) {
            n->disabled = info->disabled;
            n->userFlags = info->dirAdapterFlags;
        }
}
}

static const qxPluginBase *hostTable;

extern "C" void qxSetHostTable(const qxPluginBase *base) { hostTable = base; }

extern "C" const qxPluginBase *qxGetHostTable(void) { return hostTable; }
