// Native file handles: ordinary files and data linked into another file
// (plain chunk names), file information and protection bits.
#include "platform/qx_files.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "platform/qx_memory.h"

namespace {

struct ProtMap {
    uint32_t bit;
    mode_t mode;
};
constexpr ProtMap kProtMap[] = {
    {QX_PROT_OWNER_READ, S_IRUSR},  {QX_PROT_OWNER_WRITE, S_IWUSR}, {QX_PROT_OWNER_EXEC, S_IXUSR},
    {QX_PROT_GROUP_READ, S_IRGRP},  {QX_PROT_GROUP_WRITE, S_IWGRP}, {QX_PROT_GROUP_EXEC, S_IXGRP},
    {QX_PROT_OTHER_READ, S_IROTH},  {QX_PROT_OTHER_WRITE, S_IWOTH}, {QX_PROT_OTHER_EXEC, S_IXOTH},
};

// Reads a decimal number; false on no digits or overflow.
bool parseNumber(const char *&p, int64_t *out)
{
    if (*p < '0' || *p > '9') return false;
    int64_t v = 0;
    while (*p >= '0' && *p <= '9') {
        if (__builtin_mul_overflow(v, 10, &v) || __builtin_add_overflow(v, *p - '0', &v)) return false;
        p++;
    }
    *out = v;
    return true;
}

// Plain chunk name ":::chunk<offset>:<size>*<name>?<container>".
bool parsePlainChunk(const char *name, int64_t *offset, int64_t *size, const char **container)
{
    const char *p = name + 8;
    if (!parseNumber(p, offset) || *p++ != ':' || !parseNumber(p, size)) return false;
    const char *q = strchr(p, '?');
    if (*p != '*' || !q) return false;
    *container = q + 1;
    return true;
}

bool setPath(qxNativeFile *h, const char *path)
{
    size_t n = strlen(path);
    if (n >= sizeof h->path) return false;
    memcpy(h->path, path, n + 1);
    return true;
}

qxNativeFile *fail(qxNativeFile *h)
{
    if (h->stream) fclose(h->stream);
    qxFree(h);
    return nullptr;
}

// Before switching between reading and writing stdio needs a positioning call.
void syncDirection(qxNativeFile *h, bool writing)
{
    if (h->stream && h->lastWasWrite != (writing ? 1u : 0u)) fseeko(h->stream, 0, SEEK_CUR);
    h->lastWasWrite = writing ? 1 : 0;
}

qxNativeFile *openLinked(qxNativeFile *h, const char *name, uint32_t flags)
{
    int64_t offset, size;
    const char *container;
    if (!parsePlainChunk(name, &offset, &size, &container) || !setPath(h, name)) return fail(h);
    int64_t end;
    if (__builtin_add_overflow(offset, size, &end)) return fail(h);
    h->linked = 1;
    h->base = offset;
    h->size = size;
    if (!*container) return h;
    char native[QX_PATH_MAX];
    if (!qxNativePath(container, native, sizeof native, !(flags & QX_OPEN_NOCONVERT))) return fail(h);
    // Never truncate the container: writing goes into the data in place.
    h->stream = fopen(native, (flags & (QX_OPEN_WRITE | QX_OPEN_READWRITE)) ? "r+b" : "rb");
    if (!h->stream || fseeko(h->stream, h->base, SEEK_SET) != 0) return fail(h);
    return h;
}

} // namespace

uint32_t qxModeToProtection(mode_t mode)
{
    uint32_t bits = 0;
    for (const ProtMap &m : kProtMap)
        if (mode & m.mode) bits |= m.bit;
    return bits;
}

mode_t qxProtectionToMode(uint32_t bits)
{
    if (bits & QX_PROT_DEFAULT) return 0644;
    mode_t mode = 0;
    for (const ProtMap &m : kProtMap)
        if (bits & m.bit) mode |= m.mode;
    return mode;
}

void qxFillFileInfo(const struct stat *st, qxFileInfo *info)
{
    info->isDirectory = S_ISDIR(st->st_mode) ? 1 : 0;
    info->size = static_cast<uint64_t>(st->st_size);
    info->protection = qxModeToProtection(st->st_mode);
    info->comment[0] = 0;
    info->accessTime = static_cast<uint64_t>(st->st_atime);
    info->modifyTime = static_cast<uint64_t>(st->st_mtime);
    info->changeTime = static_cast<uint64_t>(st->st_ctime);
}

qxNativeFile *qxNativeOpen(const char *name, uint32_t flags)
{
    qxNativeFile *h = static_cast<qxNativeFile *>(qxAlloc(sizeof(qxNativeFile), 1));
    if (!h) return nullptr;
    h->mode = flags;
    if (strncmp(name, ":::chunk", 8) == 0) {
        if (name[8] == 'S') return fail(h); // memory blocks are not native files
        return openLinked(h, name, flags);
    }

    const char *modeText = (flags & QX_OPEN_WRITE) ? "wb" : (flags & QX_OPEN_READWRITE) ? "r+b" : "rb";
    char native[QX_PATH_MAX];
    if (!qxNativePath(name, native, sizeof native, !(flags & QX_OPEN_NOCONVERT))) return fail(h);
    h->stream = fopen(native, modeText);
    if (!h->stream && (flags & QX_OPEN_READWRITE) && !(flags & QX_OPEN_WRITE)) {
        FILE *created = fopen(native, "wb");
        if (created) {
            fclose(created);
            h->stream = fopen(native, "r+b");
        }
    }
    if (!h->stream) return fail(h);
    char resolved[PATH_MAX];
    if (!setPath(h, realpath(native, resolved) ? resolved : native)) return fail(h);

    // Streams that cannot seek keep size 0.
    if (fseeko(h->stream, 0, SEEK_END) == 0) {
        off_t end = ftello(h->stream);
        if (end > 0) h->size = end;
        fseeko(h->stream, 0, SEEK_SET);
    }
    return h;
}

int qxNativeClose(qxNativeFile *h)
{
    if (!h) return 0;
    int ok = !h->stream || fclose(h->stream) == 0;
    qxFree(h);
    return ok;
}

int64_t qxNativeSeek(qxNativeFile *h, int64_t offset, int whence)
{
    int64_t previous = h->position;
    int64_t from = whence == 1 ? 0 : whence == 2 ? h->size : h->position;
    int64_t target;
    if (__builtin_add_overflow(h->base, from, &target) || __builtin_add_overflow(target, offset, &target)) return -1;
    if (h->linked || (h->mode & (QX_OPEN_WRITE | QX_OPEN_READWRITE))) {
        if (target > h->base + h->size) target = h->base + h->size;
    }
    // Linked data never reaches before its start.
    if (h->linked && target < h->base) target = h->base;
    if (target < 0) return -1;
    if (h->stream && fseeko(h->stream, target, SEEK_SET) != 0) return -1;
    h->position = target - h->base;
    h->lastWasWrite = 0;
    return previous;
}

size_t qxFileRead(qxNativeFile *h, void *buffer, size_t n)
{
    if (!h->stream) return 0;
    syncDirection(h, false);
    if (h->linked) {
        int64_t avail = h->size - h->position;
        if (avail <= 0) return 0;
        if (static_cast<uint64_t>(avail) < n) n = static_cast<size_t>(avail);
    }
    size_t got = fread(buffer, 1, n, h->stream);
    h->position += static_cast<int64_t>(got);
    return got;
}

int qxNativeGetC(qxNativeFile *h)
{
    if (h->linked && h->position >= h->size) return -1;
    if (!h->stream) {
        h->position++;
        return -1;
    }
    syncDirection(h, false);
    int c = fgetc(h->stream);
    if (c != EOF) h->position++;
    return c;
}

int qxLineAppend(char **buffer, size_t *capacity, size_t used, int byte)
{
    if (used + 1 >= *capacity) {
        size_t grown = *capacity < 64 ? 128 : *capacity * 2;
        if (grown <= used + 1) return 0;
        auto *p = static_cast<char *>(realloc(*buffer, grown));
        if (!p) return 0;
        *buffer = p;
        *capacity = grown;
    }
    (*buffer)[used] = static_cast<char>(byte);
    return 1;
}

int64_t qxNativeReadUntil(qxNativeFile *h, int delimiter, char **buffer, size_t *capacity)
{
    if (!h->stream) return 0;
    syncDirection(h, false);
    if (!h->linked) {
        ssize_t got = getdelim(buffer, capacity, delimiter, h->stream);
        if (got < 0) return ferror(h->stream) ? -1 : 0;
        h->position += got;
        return got;
    }
    // Linked data ends inside its container: never read beyond it.
    size_t n = 0;
    while (h->position < h->size) {
        int c = fgetc(h->stream);
        if (c == EOF) {
            if (ferror(h->stream)) return -1;
            break;
        }
        h->position++;
        if (!qxLineAppend(buffer, capacity, n++, c)) return -1;
        if (c == (delimiter & 0xFF)) break;
    }
    return static_cast<int64_t>(n);
}

size_t qxFileWrite(qxNativeFile *h, const void *buffer, size_t n)
{
    if (!h->stream) return 0;
    syncDirection(h, true);
    if (h->linked) {
        // Linked data is written in place and never beyond its end.
        int64_t avail = h->size - h->position;
        if (avail <= 0) return 0;
        if (static_cast<uint64_t>(avail) < n) n = static_cast<size_t>(avail);
    }
    size_t written = fwrite(buffer, 1, n, h->stream);
    h->position += static_cast<int64_t>(written);
    if (h->position > h->size) h->size = h->position;
    return written;
}

int qxNativePutC(qxNativeFile *h, int byte)
{
    if (!h->stream || (h->linked && h->position >= h->size)) return 0;
    syncDirection(h, true);
    if (fputc(byte & 0xFF, h->stream) == EOF) return 0;
    h->position++;
    if (h->position > h->size) h->size = h->position;
    return 1;
}

int qxNativeFlush(qxNativeFile *h)
{
    return !h->stream || fflush(h->stream) == 0;
}

int qxNativeEOF(qxNativeFile *h) { return h->position >= h->size; }

int64_t qxNativeSize(qxNativeFile *h) { return h->size; }

int qxNativeExamine(qxNativeFile *h, qxFileInfo *info)
{
    memset(info, 0, sizeof *info);
    if (h->stream) {
        struct stat st;
        if (fstat(fileno(h->stream), &st) != 0) return 0;
        qxFillFileInfo(&st, info);
    }
    if (h->linked) info->size = static_cast<uint64_t>(h->size);
    info->path = h->path;
    return 1;
}
