// Opening and closing virtual files, and the per-kind dispatch of every
// operation: adapter stream, memory file or native file.
#include "core/files/qx_file.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "core/files/qx_fileadapter.h"
#include "platform/qx_memory.h"
#include "platform/qx_text.h"

qxAdapterNode *qxFileAdapters;
qxAdapterNode *qxDirAdapters;

namespace {

constexpr int64_t kGrowStep = 0x10000;
constexpr int64_t kSkipBlock = 4096;

// What a chunk or memory descriptor name holds, for the adapters' tags.
struct Source {
    bool chunk = false;
    bool memory = false;
    uint32_t offset = 0;
    uint32_t size = 0;
    const void *data = nullptr;
    char inner[QX_PATH_MAX] = {};
    char container[QX_PATH_MAX] = {};
};

qxNativeFile *native(qxFileHandle *h) { return static_cast<qxNativeFile *>(h->handle); }

const qxFileAdapterFuncs &funcs(qxFileHandle *h) { return *h->adapter->funcs; }

// Handles opened on a virtual file: its owner keeps the record while one is open.
qxFileHandle *heldHandles;
std::mutex heldLock;

void holdRecord(qxFileHandle *h, qxMemRecord *record)
{
    std::lock_guard<std::mutex> lock(heldLock);
    h->held = record;
    h->nextHeld = heldHandles;
    heldHandles = h;
}

void releaseRecord(qxFileHandle *h)
{
    if (!h->held) return;
    std::lock_guard<std::mutex> lock(heldLock);
    for (qxFileHandle **link = &heldHandles; *link; link = &(*link)->nextHeld)
        if (*link == h) {
            *link = h->nextHeld;
            break;
        }
    h->held = nullptr;
}

void freeOwnedMemory(qxFileHandle *h)
{
    if (h->ownsMemory) qxFree(h->memory);
    h->memory = nullptr;
    h->ownsMemory = 0;
}

qxFileHandle *failOpen(qxFileHandle *h)
{
    releaseRecord(h);
    freeOwnedMemory(h);
    qxFree(h);
    return nullptr;
}

// Valid bytes of a memory file, never more than were allocated.
int64_t memoryEnd(const qxMemRecord *m)
{
    if (!m->data) return 0;
    return std::clamp<int64_t>(m->size, 0, std::max<int64_t>(m->capacity, 0));
}

bool tryAdapters(qxFileHandle *h, const char *name, uint32_t flags, const char *list, const Source &src)
{
    uint32_t mode = (flags & QX_OPEN_WRITE) ? QX_ADAPTER_WRITE
                    : (flags & QX_OPEN_READWRITE) ? QX_ADAPTER_READWRITE
                                                  : QX_ADAPTER_READ;
    char latin1[QX_PATH_MAX];
    const char *plain = src.chunk ? src.inner : name;
    if (flags & QX_OPEN_NOCONVERT) {
        qxUtf8ToLatin1Buf(plain, latin1, sizeof latin1);
        plain = latin1;
    }
    for (qxAdapterNode *node = qxFileAdapters; node; node = node->next) {
        if (!qxfile::adapterUsable(node, list) || !node->funcs->FOpen) continue;
        bool fromMemory = src.chunk || src.memory;
        if (fromMemory && !(node->userFlags & QX_ADAPTER_MEMORYSOURCES)) continue;

        qxFileTag tags[5];
        int n = 0;
        tags[n++] = {QX_FTAG_STREAMFLAGS, reinterpret_cast<uintptr_t>(&h->streamFlags)};
        if (src.data) {
            tags[n++] = {QX_FTAG_MEMORY, reinterpret_cast<uintptr_t>(src.data)};
            tags[n++] = {QX_FTAG_SIZE, src.size};
        } else if (src.chunk) {
            tags[n++] = {QX_FTAG_CONTAINER, reinterpret_cast<uintptr_t>(src.container)};
            tags[n++] = {QX_FTAG_OFFSET, src.offset};
            tags[n++] = {QX_FTAG_SIZE, src.size};
        }
        tags[n] = {QX_FTAG_END, 0};
        h->streamFlags = 0;
        void *opened = node->funcs->FOpen(fromMemory && !src.chunk ? "Unnamed" : plain, mode, tags);
        if (opened) {
            h->adapter = node;
            h->handle = opened;
            freeOwnedMemory(h);
            return true;
        }
    }
    h->streamFlags = 0;
    return false;
}

int64_t memoryRead(qxFileHandle *h, void *buffer, int64_t n)
{
    int64_t avail = memoryEnd(h->memory) - h->position;
    if (n <= 0 || avail <= 0) return 0;
    n = std::min(n, avail);
    std::memcpy(buffer, static_cast<const char *>(h->memory->data) + h->position, static_cast<size_t>(n));
    h->position += n;
    return n;
}

int64_t memoryWrite(qxFileHandle *h, const void *buffer, int64_t n)
{
    qxMemRecord *m = h->memory;
    // Borrowed memory (descriptors) and read-only opens are never written.
    if (n <= 0 || h->ownsMemory || !(h->mode & (QX_OPEN_WRITE | QX_OPEN_READWRITE)) || !m->writable) return 0;
    int64_t need;
    if (__builtin_add_overflow(h->position, n, &need)) return 0;
    if (m->capacity - h->position < n) {
        int64_t capacity = std::max<int64_t>(m->capacity, 0);
        int64_t steps = (need - capacity + kGrowStep - 1) / kGrowStep;
        int64_t grown;
        if (__builtin_mul_overflow(steps, kGrowStep, &grown) || __builtin_add_overflow(capacity, grown, &grown) ||
            static_cast<uint64_t>(grown) > SIZE_MAX)
            return 0;
        void *data = qxAlloc(static_cast<size_t>(grown), 0);
        if (!data) return 0; // the old data stays
        int64_t keep = memoryEnd(m);
        if (keep > 0) std::memcpy(data, m->data, static_cast<size_t>(keep));
        qxFree(m->data);
        m->data = data;
        m->capacity = grown;
    }
    // A block that shrank under the handle leaves a gap: never expose old heap bytes.
    int64_t end = memoryEnd(m);
    if (h->position > end) std::memset(static_cast<char *>(m->data) + end, 0, static_cast<size_t>(h->position - end));
    std::memcpy(static_cast<char *>(m->data) + h->position, buffer, static_cast<size_t>(n));
    h->position = need;
    if (need > m->size) m->size = need;
    return n;
}

int64_t memorySeek(qxFileHandle *h, int64_t offset, int whence)
{
    int64_t previous = h->position;
    int64_t end = memoryEnd(h->memory);
    int64_t from = whence == 1 ? 0 : whence == 2 ? end : h->position;
    int64_t target;
    if (__builtin_add_overflow(from, offset, &target)) return -1;
    // Clamped at both ends: a position before the data would read outside it.
    h->position = std::clamp<int64_t>(target, 0, end);
    return previous;
}

// Seek on an adapter stream that cannot seek, by rewinding and reading.
int64_t emulatedSeek(qxFileHandle *h, int64_t offset, int whence)
{
    const qxFileAdapterFuncs &f = funcs(h);
    if (!(h->mode & QX_OPEN_EMULATESEEK) || whence == 2) return -1;
    int64_t current = f.FSeek(h->handle, 0, 0);
    if (current < 0) return -1;
    int64_t target;
    if (whence == 1)
        target = offset;
    else if (__builtin_add_overflow(current, offset, &target))
        return -1;
    if (target < 0) return -1;
    int64_t at = current;
    if (target < current) {
        if (f.FSeek(h->handle, 0, 1) < 0) return -1;
        at = 0;
    }
    char scratch[kSkipBlock];
    while (at < target) {
        int64_t want = std::min<int64_t>(kSkipBlock, target - at);
        int64_t got = f.FRead(h->handle, scratch, want);
        if (got != want) return -1;
        at += got;
    }
    return current;
}

} // namespace

extern "C" {

qxFileHandle *qxOpen(const char *name, uint32_t flags, const char *adapterList)
{
    if (!name) return nullptr;
    auto *h = static_cast<qxFileHandle *>(qxAlloc(sizeof(qxFileHandle), 1));
    if (!h) return nullptr;
    bool wantsWrite = flags & (QX_OPEN_WRITE | QX_OPEN_READWRITE);

    Source src;
    void *pointer;
    uint32_t size;
    if (qxIsChunkName(name)) {
        qxMemRecord *block = nullptr;
        if (!qxParseChunkName(name, &src.offset, &src.size, src.inner, sizeof src.inner, src.container,
                              sizeof src.container, nullptr, 0, &block))
            return failOpen(h);
        src.chunk = true;
        if (block) {
            if (wantsWrite && !block->writable) return failOpen(h);
            h->memory = block;
            src.data = block->data;
            holdRecord(h, block); // adapters opened on it read its data too
        }
    } else if (qxReadMemoryName(name, &pointer, &size)) {
        if (wantsWrite) return failOpen(h);
        auto *m = static_cast<qxMemRecord *>(qxAlloc(sizeof(qxMemRecord), 1));
        if (!m) return failOpen(h);
        static char unnamed[] = "Unnamed";
        m->data = pointer;
        m->capacity = size;
        m->size = size;
        m->name = unnamed;
        h->memory = m;
        h->ownsMemory = 1;
        src.memory = true;
        src.data = pointer;
        src.size = size;
    }

    h->mode = flags;
    if ((flags & QX_OPEN_ADAPTERS) && tryAdapters(h, name, flags, adapterList, src)) return h;
    if (h->memory) return h;
    if (!qxfile::listAdmits(adapterList, "inbuilt", false)) return failOpen(h);
    h->handle = qxNativeOpen(name, flags);
    if (!h->handle) return failOpen(h);
    return h;
}

int qxClose(qxFileHandle *h)
{
    if (!h) return 0;
    int result;
    if (h->adapter)
        result = funcs(h).FClose ? funcs(h).FClose(h->handle) : 0;
    else if (h->memory) {
        freeOwnedMemory(h);
        result = 1;
    } else
        result = qxNativeClose(native(h));
    releaseRecord(h);
    qxFree(h);
    return result;
}

int qxMemRecordInUse(const qxMemRecord *record)
{
    std::lock_guard<std::mutex> lock(heldLock);
    for (qxFileHandle *h = heldHandles; h; h = h->nextHeld)
        if (h->held == record) return 1;
    return 0;
}

int64_t qxRead(qxFileHandle *h, void *buffer, int64_t n)
{
    if (!h || !buffer || n <= 0) return 0;
    if (h->adapter) {
        int64_t got = funcs(h).FRead(h->handle, buffer, n);
        return got < 0 ? 0 : std::min(got, n);
    }
    if (h->memory) return memoryRead(h, buffer, n);
    return static_cast<int64_t>(qxFileRead(native(h), buffer, static_cast<size_t>(n)));
}

int64_t qxReadUntil(qxFileHandle *h, int delimiter, char **buffer, size_t *capacity)
{
    if (!h || !buffer || !capacity) return -1;
    if (!h->adapter && !h->memory) return qxNativeReadUntil(native(h), delimiter, buffer, capacity);
    size_t n = 0;
    for (int c; (c = qxGetC(h)) >= 0;) {
        if (!qxLineAppend(buffer, capacity, n++, c)) return -1;
        if (c == (delimiter & 0xFF)) break;
    }
    return static_cast<int64_t>(n);
}

int64_t qxWrite(qxFileHandle *h, const void *buffer, int64_t n)
{
    if (!h || !buffer || n <= 0) return 0;
    if (h->adapter) {
        int64_t put = funcs(h).FWrite(h->handle, buffer, n);
        return put < 0 ? 0 : std::min(put, n);
    }
    if (h->memory) return memoryWrite(h, buffer, n);
    return static_cast<int64_t>(qxFileWrite(native(h), buffer, static_cast<size_t>(n)));
}

int qxGetC(qxFileHandle *h)
{
    if (!h) return -1;
    if (h->adapter) {
        int c = funcs(h).FGetC(h->handle);
        return c < 0 ? -1 : (c & 0xFF);
    }
    if (h->memory) {
        unsigned char c;
        return memoryRead(h, &c, 1) == 1 ? c : -1;
    }
    return qxNativeGetC(native(h));
}

int qxPutC(qxFileHandle *h, int byte)
{
    if (!h) return 0;
    if (h->adapter) return funcs(h).FPutC(h->handle, byte & 0xFF) ? 1 : 0;
    if (h->memory) {
        unsigned char c = static_cast<unsigned char>(byte);
        return memoryWrite(h, &c, 1) == 1 ? 1 : 0;
    }
    return qxNativePutC(native(h), byte) ? 1 : 0;
}

int64_t qxSeek(qxFileHandle *h, int64_t offset, int whence)
{
    if (!h || whence < 0 || whence > 2) return -1;
    if (h->adapter) {
        if ((h->streamFlags & QX_STREAM_NOSEEK) && !(whence == 0 && offset == 0)) return emulatedSeek(h, offset, whence);
        return funcs(h).FSeek(h->handle, offset, whence);
    }
    if (h->memory) return memorySeek(h, offset, whence);
    return qxNativeSeek(native(h), offset, whence);
}

int qxEOF(qxFileHandle *h)
{
    if (!h) return 1;
    if (h->adapter) return funcs(h).FEof(h->handle) ? 1 : 0;
    if (h->memory) return h->position >= memoryEnd(h->memory);
    return qxNativeEOF(native(h));
}

int qxFlush(qxFileHandle *h)
{
    if (!h) return 0;
    if (h->adapter) return funcs(h).FFlush(h->handle);
    if (h->memory) return 1;
    return qxNativeFlush(native(h));
}

int64_t qxFileSize(qxFileHandle *h)
{
    if (!h) return 0;
    if (h->adapter) {
        qxFileInfo info;
        return qxExamineFH(h, &info) ? static_cast<int64_t>(std::min<uint64_t>(info.size, INT64_MAX)) : 0;
    }
    if (h->memory) return memoryEnd(h->memory);
    return qxNativeSize(native(h));
}

int qxExamineFH(qxFileHandle *h, qxFileInfo *info)
{
    if (!info) return 0;
    std::memset(info, 0, sizeof *info);
    if (!h) return 0;
    if (h->adapter) {
        qxAdapterFileInfo answer;
        qxInitFileInfo(&answer, 0, 0);
        if (!funcs(h).FStat || !funcs(h).FStat(h->handle, &answer)) return 0;
        qxCopyFileInfo(&answer, info);
        return 1;
    }
    if (h->memory) {
        info->size = static_cast<uint64_t>(memoryEnd(h->memory));
        info->protection = 15;
        return 1;
    }
    return qxNativeExamine(native(h), info) ? 1 : 0;
}

void *qxFileAdapterOf(qxFileHandle *h) { return h && h->adapter ? h->adapter->plugin : nullptr; }

int qxIsStreamHandle(qxFileHandle *h) { return h && (h->streamFlags & QX_STREAM_NOSEEK) ? 1 : 0; }

uint32_t qxGetOpenFlags(qxFileHandle *h) { return h ? h->streamFlags : 0; }

} // extern "C"
