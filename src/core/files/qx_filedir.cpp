// Directory handles of the file layer (adapters, chunk names, native
// directories) and examining objects by name.
#include <cstring>
#include <unistd.h>

#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "core/files/qx_fileadapter.h"
#include "platform/qx_memory.h"

namespace {

qxNativeDir *native(qxDirHandle *h) { return static_cast<qxNativeDir *>(h->handle); }

bool isNative(const qxDirHandle *h) { return !h->dirAdapter && !h->fileAdapter && !h->isChunk && h->handle; }

bool copyText(char *out, size_t capacity, const char *text)
{
    size_t n = std::strlen(text);
    if (n >= capacity) return false;
    std::memcpy(out, text, n + 1);
    return true;
}

qxDirHandle *failDir(qxDirHandle *h)
{
    qxFree(h);
    return nullptr;
}

} // namespace

extern "C" {

qxDirHandle *qxOpenDir(const char *name, uint32_t flags, const char *adapterList)
{
    if (!name) return nullptr;
    auto *h = static_cast<qxDirHandle *>(qxAlloc(sizeof(qxDirHandle), 1));
    if (!h) return nullptr;
    if (!copyText(h->name, sizeof h->name, name)) return failDir(h);
    uint32_t lock = (flags & QX_DIR_WRITELOCK) ? 2 : 1;
    bool chunk = qxIsChunkName(name);

    if ((flags & QX_DIR_ADAPTERS) && !chunk) {
        for (qxAdapterNode *node = qxDirAdapters; node; node = node->next) {
            if (!qxfile::adapterUsable(node, adapterList) || !node->funcs->OpenDir) continue;
            if (void *d = node->funcs->OpenDir(name, lock)) {
                h->dirAdapter = node;
                h->handle = d;
                return h;
            }
        }
        for (qxAdapterNode *node = qxFileAdapters; node; node = node->next) {
            if (!qxfile::adapterUsable(node, adapterList) || !node->funcs->Stat) continue;
            qxAdapterFileInfo answer;
            qxInitFileInfo(&answer, 0, 0);
            if (node->funcs->Stat(name, &answer)) {
                qxCopyFileInfo(&answer, &h->examined);
                h->fileAdapter = node;
                h->examined.path = h->name;
                return h;
            }
        }
    }
    if (chunk) {
        if (!qxParseChunkName(name, nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0, &h->block))
            return failDir(h);
        h->isChunk = 1;
        return h;
    }
    if (!qxfile::listAdmits(adapterList, "inbuilt", false)) return failDir(h);
    h->handle = qxNativeOpenDir(name, static_cast<int>(lock));
    return h->handle ? h : failDir(h);
}

void qxCloseDir(qxDirHandle *h)
{
    if (!h) return;
    if (h->dirAdapter) {
        if (h->dirAdapter->funcs->CloseDir) h->dirAdapter->funcs->CloseDir(h->handle);
    } else if (isNative(h)) {
        qxNativeCloseDir(native(h));
    }
    qxFree(h);
}

void *qxDirAdapterOf(qxDirHandle *h) { return h && h->dirAdapter ? h->dirAdapter->plugin : nullptr; }

int qxGetDirName(qxDirHandle *h, char *buffer, size_t capacity)
{
    if (!h || !buffer || capacity == 0) return 0;
    if (isNative(h)) return qxNativeDirName(native(h), buffer, capacity);
    if (!h->isChunk) return copyText(buffer, capacity, h->name) ? 1 : 0;
    char container[QX_CHUNKNAME_MAX];
    char cwd[QX_PATH_MAX];
    // The S form names no container (and its block may be gone by now).
    if (!qxParseChunkName(h->name, nullptr, nullptr, nullptr, 0, container, sizeof container, nullptr, 0, nullptr))
        container[0] = 0;
    if (!getcwd(cwd, sizeof cwd)) return 0;
    const char *base = qxChunkBaseName(container);
    size_t n = std::strlen(cwd);
    bool slash = n > 0 && cwd[n - 1] == '/';
    size_t need = n + (slash ? 0 : 1) + std::strlen(base) + 1;
    if (need > capacity) return 0;
    std::memcpy(buffer, cwd, n);
    if (!slash) buffer[n++] = '/';
    std::memcpy(buffer + n, base, std::strlen(base) + 1);
    return 1;
}

int qxExamineDir(qxDirHandle *h, qxFileInfo *info)
{
    if (!h || !info) return 0;
    std::memset(info, 0, sizeof *info);
    if (h->fileAdapter) {
        *info = h->examined;
        info->path = h->name;
        return 1;
    }
    if (h->dirAdapter) {
        info->isDirectory = 1;
        info->protection = 15;
        info->path = h->name;
        return 1;
    }
    if (h->isChunk) {
        uint32_t size = 0;
        if (h->block)
            info->size = h->block->size > 0 ? static_cast<uint64_t>(h->block->size) : 0;
        else if (qxParseChunkName(h->name, nullptr, &size, nullptr, 0, nullptr, 0, nullptr, 0, nullptr))
            info->size = size;
        info->protection = 15;
        info->path = h->name;
        return 1;
    }
    return qxNativeDirExamine(native(h), info) ? 1 : 0;
}

int qxCheckIsDir(qxDirHandle *h, int *isNativeDir)
{
    if (isNativeDir) *isNativeDir = 0;
    if (h && h->dirAdapter) return 0;
    if (h && isNative(h)) {
        int r = qxNativeIsDir(native(h));
        if (r == 0 && isNativeDir) *isNativeDir = 1;
        return r;
    }
    if (h && h->fileAdapter && h->examined.isDirectory) return 0;
    qxSetErrorString(h ? h->name : "");
    return 1250;
}

int qxRewindDir(qxDirHandle *h)
{
    if (!h) return 1626;
    if (h->dirAdapter) {
        if (!h->dirAdapter->funcs->RewindDir) return 1625;
        return h->dirAdapter->funcs->RewindDir(h->handle) ? 0 : 1626;
    }
    if (isNative(h)) return qxNativeRewindDir(native(h)) ? 0 : 1626;
    return 1626;
}

int qxReadDirEntry(qxDirHandle *h, void *reserved, const char **name, int *isDirectory, qxFileInfo *info)
{
    if (!h) return 0;
    if (h->dirAdapter) {
        const char *entry = nullptr;
        int dir = 0;
        qxAdapterFileInfo answer;
        qxInitFileInfo(&answer, 0, 0);
        if (!h->dirAdapter->funcs->NextDirEntry ||
            !h->dirAdapter->funcs->NextDirEntry(h->handle, &entry, &dir, &answer) || !entry)
            return 0;
        if (info) {
            qxCopyFileInfo(&answer, info);
            info->isDirectory = dir ? 1 : 0;
        }
        // An entry that does not fit is cut rather than overrunning the handle.
        std::strncpy(h->entryName, entry, sizeof h->entryName - 1);
        h->entryName[sizeof h->entryName - 1] = 0;
        if (name) *name = h->entryName;
        if (isDirectory) *isDirectory = dir;
        return 1;
    }
    if (isNative(h)) {
        const char *entry = nullptr;
        int dir = 0;
        if (!qxNativeNextEntry(native(h), reserved, &entry, &dir, info)) return 0;
        if (name) *name = entry;
        if (isDirectory) *isDirectory = dir;
        return 1;
    }
    return 0;
}

int qxIsAbsolutePath(const char *path) { return path && path[0] == '/'; }

int qxExamineObject(const char *name, qxFileInfo *info, int allowAdapters)
{
    if (!name || !info) return 0;
    std::memset(info, 0, sizeof *info);
    if (allowAdapters) {
        for (qxAdapterNode *node = qxFileAdapters; node; node = node->next) {
            if (!qxfile::adapterUsable(node, nullptr) || !node->funcs->Stat) continue;
            qxAdapterFileInfo answer;
            qxInitFileInfo(&answer, 0, 0);
            if (node->funcs->Stat(name, &answer)) {
                qxCopyFileInfo(&answer, info);
                info->comment[80] = 0; // at most 80 characters
                return 1;
            }
        }
    }
    qxDirHandle *h = qxOpenDir(name, QX_DIR_READLOCK, nullptr);
    if (!h) return 0;
    int ok = qxExamineDir(h, info);
    // The path would point into the handle.
    info->path = nullptr;
    qxCloseDir(h);
    return ok;
}

} // extern "C"
